// bench_process.cpp - the cost of processing one message, side by side with
// what the same durable line costs without the library.
//
// Sections: the message and its peers; the byte check; ERRM_ProcessError
// (cached, with JSON records, not cached, repetition limit); ERRM_Get_ErrorMessage and
// ERRM_DisplayUserMessage; several threads at once; main.
//
// A line the library writes to a file is in the kernel's hands when the call
// returns (one write(2)). The peers are measured in the mode that gives the
// same promise: the floor builds the bytes by hand and makes one write(2);
// stdio puts the line and flushes; spdlog's basic_logger_st flushes on every
// level; glog runs with FLAGS_logbuflevel = -1 (no buffered level) and no
// prefix. Every file is a real file of a scratch directory. The byte check at
// start-up proves that they all write the same lines.
#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace errmbench;

// ------------------------------------------------- the message and its peers

namespace {

constexpr const char *kFormat = "cannot open %s (code %d)";
constexpr const char *kUserFormat = "user note on %s (code %d)\n";
constexpr const char *kPath = "/work/data/input_0042.cfg";
constexpr int kNumber = 37;         // cached message, LOG
constexpr int kStdoutNumber = 40;   // STDOUT, printed every time (no limit)
constexpr int kSilencedNumber = 41; // STDOUT, silenced by the limit
constexpr int kReportNumber = 50;   // REPORT, opens the .rep file
constexpr int kCycleFirst = 100;    // 32 messages on LOG cycled so none stays cached
constexpr int kCycleCount = 32;

errmdesc::Catalogue SimCatalogue() {
    std::vector<errmdesc::Message> messages;
    messages.push_back(Msg(kNumber, kFormat, {kLog}));
    messages.push_back(Msg(kStdoutNumber, kFormat, {kStdout}));
    messages.push_back(Msg(kSilencedNumber, kFormat, {kStdout}));
    messages.push_back(Msg(kReportNumber, kFormat, {kReport}));
    for (int i = 0; i < kCycleCount; ++i)
        messages.push_back(Msg(kCycleFirst + i, kFormat, {kLog}));
    return Cat("SIM", std::move(messages));
}

// The hand-written path: format the text, format the decoration around it,
// put the line.
struct Naive {
    char text[6145];
    char line[8192];
};
Naive g_naive;

__attribute__((format(printf, 1, 0))) void NaiveFormat(const char *format, va_list args) {
    std::vsnprintf(g_naive.text, sizeof g_naive.text, format, args);
    std::snprintf(g_naive.line, sizeof g_naive.line, "** %s: (%s - %d) %s\n", "Error", "SIM",
                  kNumber, g_naive.text);
}

// The line put and flushed: one write(2) per line, as the library makes.
__attribute__((format(printf, 2, 3))) void NaiveWrite(std::FILE *f, const char *format, ...) {
    va_list args;
    va_start(args, format);
    NaiveFormat(format, args);
    va_end(args);
    std::fputs(g_naive.line, f);
    std::fflush(f);
}

// The floor: the same bytes built by hand (the literal pieces, one integer
// conversion) and handed to the kernel with one write(2). No writer that
// keeps a line through a crash of the process can do less.
void FloorWrite(int fd, const char *path, int code) {
    static constexpr char kHead[] = "** Error: (SIM - 37) cannot open ";
    static constexpr char kCode[] = " (code ";
    char buf[512];
    char *p = buf;
    std::memcpy(p, kHead, sizeof kHead - 1);
    p += sizeof kHead - 1;
    std::size_t n = std::strlen(path);
    std::memcpy(p, path, n);
    p += n;
    std::memcpy(p, kCode, sizeof kCode - 1);
    p += sizeof kCode - 1;
    char digits[12];
    int k = 0;
    unsigned v = static_cast<unsigned>(code);
    do {
        digits[k++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (k > 0)
        *p++ = digits[--k];
    *p++ = ')';
    *p++ = '\n';
    ssize_t done = ::write(fd, buf, static_cast<std::size_t>(p - buf));
    benchmark::DoNotOptimize(done);
}
static_assert(kNumber == 37, "the floor's literal pieces name message 37");

__attribute__((format(printf, 1, 2))) const char *NaiveGet(const char *format, ...) {
    va_list args;
    va_start(args, format);
    NaiveFormat(format, args);
    va_end(args);
    return g_naive.line;
}

__attribute__((format(printf, 2, 3))) void NaiveUser(std::FILE *f, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_naive.text, sizeof g_naive.text, format, args);
    va_end(args);
    std::fputs(g_naive.text, f);
    std::fflush(f);
}

// glog, without its prefix: the line is the streamed text.
void GlogWrite(const char *path, int code) {
    LOG(INFO) << "** Error: (SIM - 37) cannot open " << path << " (code " << code << ")";
}

// Sends glog's INFO lines to a file of dir, flushed at every line; other
// levels write no file. Returns the file's name once a line is written.
void GlogTo(const std::string &dir) {
    static bool started = false;
    if (!started) {
        FLAGS_logtostderr = false;
        FLAGS_log_prefix = false;
        FLAGS_logbuflevel = -1;
        FLAGS_stderrthreshold = google::GLOG_FATAL;
        google::InitGoogleLogging("bench_process");
        started = true;
    }
    google::SetLogDestination(google::GLOG_INFO, (dir + "/glog.").c_str());
    for (auto level : {google::GLOG_WARNING, google::GLOG_ERROR, google::GLOG_FATAL})
        google::SetLogDestination(level, "");
}

std::string GlogFile(const std::string &dir) {
    for (const auto &f : std::filesystem::directory_iterator(dir))
        if (f.path().filename().string().rfind("glog.", 0) == 0) return f.path().string();
    return "";
}

// spdlog, given the decoration in its format string (the least work for it).
void SpdlogWrite(spdlog::logger &log, const char *path, int code) {
    log.info("** Error: (SIM - 37) cannot open {} (code {})", path, code);
}

// spdlog, formatting the decoration's fields as the hand-written path does.
void SpdlogWriteFields(spdlog::logger &log, const char *path, int code) {
    log.info("** {}: ({} - {}) cannot open {} (code {})", "Error", "SIM", kNumber, path, code);
}

// State of the benchmark run.
struct Run {
    std::unique_ptr<ScratchDir> dir;
    int ss = -1;                            // subsystem index of SIM
    std::FILE *naiveFile;                   // naive.log, flushed at every line
    std::FILE *naiveUserFile;               // naive.rep, flushed at every line
    int floorFd = -1;                       // floor.log
    std::shared_ptr<spdlog::logger> spdlog; // flushed at every level
};
Run g_run;

// ----------------------------------------------------------- the byte check

std::string AfterHeader(const std::string &text) {
    std::size_t eol = text.find('\n');
    if (text.rfind("START report: ", 0) != 0 || eol == std::string::npos) return "<no header>";
    return text.substr(eol + 1);
}

// Writes the same lines through the library, the hand-written path, the
// floor, spdlog and glog into real files and compares them (glog's file
// after its own header). Exits on any difference.
void CheckSameBytes() {
    ScratchDir dir;
    WriteDescriptor(SimCatalogue(), dir.path());
    StartLibrary(dir.path(), dir.file("run"));
    int ss = LoadSubsystem("SIM");
    std::FILE *naive = std::fopen(dir.file("naive.log").c_str(), "w");
    int floor =
        ::open(dir.file("floor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    GlogTo(dir.path());
    auto log = spdlog::basic_logger_st("check", dir.file("spdlog.log"), true);
    auto logFields = spdlog::basic_logger_st("check-fields", dir.file("spdlog-fields.log"), true);
    log->set_pattern("%v");
    logFields->set_pattern("%v");
    std::string got;
    for (int code = 0; code < 300; code += 7) {
        ERRM_ProcessError(static_cast<unsigned>(ss), kNumber, kPath, code);
        NaiveWrite(naive, kFormat, kPath, code);
        FloorWrite(floor, kPath, code);
        SpdlogWrite(*log, kPath, code);
        SpdlogWriteFields(*logFields, kPath, code);
        GlogWrite(kPath, code);
        const char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(ss), kNumber, kPath, code);
        got += text != nullptr ? text : "<null>";
    }
    std::fclose(naive);
    ::close(floor);
    const std::string glog = ReadWholeFile(GlogFile(dir.path()));
    log->flush();
    logFields->flush();
    spdlog::drop("check");
    spdlog::drop("check-fields");
    ERRM_FInit();
    std::string library = AfterHeader(ReadWholeFile(dir.file("run.log")));
    std::string expected = ReadWholeFile(dir.file("naive.log"));
    bool same = library == expected && got == expected &&
                ReadWholeFile(dir.file("floor.log")) == expected &&
                ReadWholeFile(dir.file("spdlog.log")) == expected &&
                ReadWholeFile(dir.file("spdlog-fields.log")) == expected &&
                glog.size() > expected.size() &&
                glog.compare(glog.size() - expected.size(), expected.size(), expected) == 0;
    if (!same || expected.empty()) {
        std::fprintf(stderr, "byte check failed: the library, the hand-written path, the floor, "
                             "spdlog and glog do not write the same lines\n");
        std::exit(1);
    }
    std::fprintf(stderr,
                 "byte check: %zu bytes identical across the library, the hand-written "
                 "path, the floor, spdlog and glog\n",
                 expected.size());
}

void SetUpRun() {
    g_run.dir = std::make_unique<ScratchDir>();
    const ScratchDir &dir = *g_run.dir;
    WriteDescriptor(SimCatalogue(), dir.path());
    unsetenv("ERRM_OPTIONS"); // no records: the records benchmark has its own process
    StartLibrary(dir.path(), dir.file("run"));
    g_run.ss = LoadSubsystem("SIM");
    // REPORT is opened by a processed message; user messages need it open.
    ERRM_ProcessError(static_cast<unsigned>(g_run.ss), kReportNumber, kPath, 0);
    g_run.naiveFile = std::fopen(dir.file("naive.log").c_str(), "w");
    g_run.naiveUserFile = std::fopen(dir.file("naive.rep").c_str(), "w");
    g_run.floorFd =
        ::open(dir.file("floor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    g_run.spdlog = spdlog::basic_logger_st("bench", dir.file("spdlog.log"), true);
    g_run.spdlog->set_pattern("%v");
    g_run.spdlog->flush_on(spdlog::level::trace);
    GlogTo(dir.path());
    if (g_run.naiveFile == nullptr || g_run.naiveUserFile == nullptr || g_run.floorFd < 0) {
        std::perror("opening the peer files");
        std::exit(2);
    }
}

void TearDownRun() {
    ERRM_FInit();
    std::fclose(g_run.naiveFile);
    std::fclose(g_run.naiveUserFile);
    ::close(g_run.floorFd);
    g_run.spdlog.reset();
    spdlog::drop_all();
    g_run.dir.reset();
}

unsigned Ss() {
    return static_cast<unsigned>(g_run.ss);
}

} // namespace

// Before each repetition, every file the run has written goes to the disk
// and leaves the page cache (the pages mapped by the library's current window
// stay). Otherwise the gigabytes a run writes pile up in memory and each
// repetition writes into pages new to the system: in this virtual machine
// those cost the writer up to 3x a line's CPU time, and every file-writing
// benchmark, the floor included, was that much slower from the second round
// of repetitions on. With the pages given back, the next round reuses them.
static void SettleFiles(const benchmark::State &) {
    std::fflush(nullptr);
    ::sync();
    std::error_code ec;
    for (const auto &file : std::filesystem::directory_iterator(g_run.dir->path(), ec)) {
        int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// -------------------------------------------------------- ERRM_ProcessError

// The cached message on LOG.
static void bench_process(benchmark::State &state) {
    int code = 0;
    for (auto _ : state) {
        int rc = ERRM_ProcessError(Ss(), kNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process)->Setup(SettleFiles);

// The same message with JSON records on. Records are chosen when a cycle
// starts, and a process may load descriptors only 15 times, so the message
// runs in a child process started for each repetition: it begins a cycle
// with json= in ERRM_OPTIONS (its record file and report files in the
// scratch directory), processes the batch the parent asks for, and answers
// with the CPU time its thread took, which is the benchmark's manual time.
namespace {

constexpr long kRecordsBatch = 200000;

struct RecordsChild {
    pid_t pid = -1;   // the child, -1 when none
    int request = -1; // parent -> child: messages to process
    int answer = -1;  // child -> parent: seconds of thread CPU time
} g_child;

double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

[[noreturn]] void RecordsChildMain(int request, int answer) {
    const ScratchDir &dir = *g_run.dir;
    ERRM_FInit();
    setenv("ERRM_OPTIONS", ("json=" + dir.file("records.json") + ",run=bench").c_str(), 1);
    StartLibrary(dir.path(), dir.file("records-run"));
    const unsigned ss = static_cast<unsigned>(LoadSubsystem("SIM"));
    int code = 0;
    for (long n; read(request, &n, sizeof n) == static_cast<ssize_t>(sizeof n);) {
        const double start = ThreadSeconds();
        for (long i = 0; i < n; ++i)
            benchmark::DoNotOptimize(ERRM_ProcessError(ss, kNumber, kPath, code++ & 0xFFFF));
        const double seconds = ThreadSeconds() - start;
        if (write(answer, &seconds, sizeof seconds) != static_cast<ssize_t>(sizeof seconds)) break;
    }
    ERRM_FInit();
    _exit(0);
}

// Asks the child for n messages; their CPU time in seconds.
double RecordsBatch(long n) {
    double seconds = 0;
    if (write(g_child.request, &n, sizeof n) != static_cast<ssize_t>(sizeof n) ||
        read(g_child.answer, &seconds, sizeof seconds) != static_cast<ssize_t>(sizeof seconds)) {
        std::fprintf(stderr, "the records child did not answer\n");
        std::exit(2);
    }
    return seconds;
}

} // namespace

static void RecordsOn(const benchmark::State &state) {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        RecordsChildMain(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    g_child = {pid, down[1], up[0]};
    RecordsBatch(1000); // the record file opened, the entry cached
    SettleFiles(state);
}

static void RecordsOff(const benchmark::State &) {
    close(g_child.request);
    close(g_child.answer);
    waitpid(g_child.pid, nullptr, 0);
    g_child = {};
}

static void bench_process_records(benchmark::State &state) {
    for (auto _ : state)
        state.SetIterationTime(RecordsBatch(kRecordsBatch) / kRecordsBatch);
    state.SetItemsProcessed(state.iterations());
}
// One iteration stands for one message: its time is the batch's per message.
BENCHMARK(bench_process_records)
    ->Setup(RecordsOn)
    ->Teardown(RecordsOff)
    ->UseManualTime()
    ->Iterations(1);

// stdio: vsnprintf, snprintf of the decoration, fputs, fflush.
static void bench_process_fflush(benchmark::State &state) {
    int code = 0;
    for (auto _ : state)
        NaiveWrite(g_run.naiveFile, kFormat, kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_fflush)->Setup(SettleFiles);

// The floor: the bytes by hand, one write(2).
static void bench_process_floor(benchmark::State &state) {
    int code = 0;
    for (auto _ : state)
        FloorWrite(g_run.floorFd, kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_floor)->Setup(SettleFiles);

// The library and the floor side by side: batches of the two alternate,
// each timed with the thread's CPU clock, so that both see the same phases
// of the machine (on a virtual machine the cost of one write(2) moves by
// more than the library's whole work from one second to the next). The
// benchmark's throughput is the library's; the counter "vs_floor" is
// the library's time over the floor's, summed over the whole repetition.
static void bench_process_paired(benchmark::State &state) {
    constexpr int kBatch = 500;
    double library = 0, floor = 0;
    int code = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        for (int i = 0; i < kBatch; ++i)
            benchmark::DoNotOptimize(ERRM_ProcessError(Ss(), kNumber, kPath, code++ & 0xFFFF));
        const double t1 = ThreadSeconds();
        for (int i = 0; i < kBatch; ++i)
            FloorWrite(g_run.floorFd, kPath, code++ & 0xFFFF);
        const double t2 = ThreadSeconds();
        library += t1 - t0;
        floor += t2 - t1;
        state.SetIterationTime(t1 - t0);
    }
    state.counters["vs_floor"] = floor > 0 ? library / floor : 0;
    state.SetItemsProcessed(state.iterations() * kBatch);
}
// An iteration is a batch of each side; its time is the library's batch.
BENCHMARK(bench_process_paired)->Setup(SettleFiles)->UseManualTime();

// glog, FLAGS_logbuflevel = -1, no prefix.
static void bench_process_glog(benchmark::State &state) {
    int code = 0;
    for (auto _ : state)
        GlogWrite(kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_glog)->Setup(SettleFiles);

// spdlog::basic_logger_st, pattern "%v", decoration in the format, flushed
// on every level.
static void bench_process_spdlog(benchmark::State &state) {
    spdlog::logger &log = *g_run.spdlog;
    int code = 0;
    for (auto _ : state)
        SpdlogWrite(log, kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_spdlog)->Setup(SettleFiles);

// spdlog formatting the decoration's fields too.
static void bench_process_spdlog_fields(benchmark::State &state) {
    spdlog::logger &log = *g_run.spdlog;
    int code = 0;
    for (auto _ : state)
        SpdlogWriteFields(log, kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_spdlog_fields)->Setup(SettleFiles);

// 32 messages of one subsystem in turn: the 16-slot cache never holds the
// next one, so every call decodes its entry.
static void bench_process_uncached(benchmark::State &state) {
    int code = 0;
    unsigned i = 0;
    for (auto _ : state) {
        int number = kCycleFirst + static_cast<int>(i++ % kCycleCount);
        int rc = ERRM_ProcessError(Ss(), number, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_uncached)->Setup(SettleFiles);

// A STDOUT message printed every time (no repetition limit); standard output
// goes to /dev/null and is flushed after every line, as the library does.
static void bench_process_stdout_printed(benchmark::State &state) {
    StdoutToNull quiet;
    ERRM_Set_GlobalNbrMaxOfMessages(0);
    int code = 0;
    for (auto _ : state) {
        int rc = ERRM_ProcessError(Ss(), kStdoutNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(rc);
    }
    ERRM_Set_GlobalNbrMaxOfMessages(3);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_stdout_printed)->Setup(SettleFiles);

// The same message once the repetition limit (3) has printed its notice.
static void bench_process_stdout_silenced(benchmark::State &state) {
    StdoutToNull quiet;
    ERRM_Set_GlobalNbrMaxOfMessages(3);
    for (int k = 0; k < 4; ++k)
        ERRM_ProcessError(Ss(), kSilencedNumber, kPath, k);
    int code = 0;
    for (auto _ : state) {
        int rc = ERRM_ProcessError(Ss(), kSilencedNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_stdout_silenced)->Setup(SettleFiles);

// ---------------------------- ERRM_Get_ErrorMessage, ERRM_DisplayUserMessage

static void bench_get_message(benchmark::State &state) {
    int code = 0;
    for (auto _ : state) {
        char *text = ERRM_Get_ErrorMessage(Ss(), kNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_get_message)->Setup(SettleFiles);

// The hand-written text: vsnprintf and the decoration's snprintf.
static void bench_get_message_naive(benchmark::State &state) {
    int code = 0;
    for (auto _ : state) {
        const char *text = NaiveGet(kFormat, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_get_message_naive)->Setup(SettleFiles);

// A user message on REPORT (mask 0x20), opened by a processed message.
static void bench_user_message(benchmark::State &state) {
    int code = 0;
    for (auto _ : state) {
        unsigned written = ERRM_DisplayUserMessage(7, 1, "SIM", nullptr, 0x20, nullptr, kUserFormat,
                                                   kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(written);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_user_message)->Setup(SettleFiles);

// The hand-written user line: vsnprintf, fputs, fflush.
static void bench_user_message_naive(benchmark::State &state) {
    int code = 0;
    for (auto _ : state)
        NaiveUser(g_run.naiveUserFile, kUserFormat, kPath, code++ & 0xFFFF);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_user_message_naive)->Setup(SettleFiles);

// ------------------------------------------------ several threads at once

// The cached message from 1, 2 and 4 threads together: every call takes the
// library's lock, so the figure is the throughput of all threads (items per
// second of wall-clock time), not of one.
static void bench_process_threads(benchmark::State &state) {
    int code = static_cast<int>(state.thread_index()) << 12;
    for (auto _ : state) {
        int rc = ERRM_ProcessError(Ss(), kNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_process_threads)
    ->Setup(SettleFiles)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime();

// Retrieved texts from 1, 2 and 4 threads, each into its own Return buffer.
static void bench_get_message_threads(benchmark::State &state) {
    int code = static_cast<int>(state.thread_index()) << 12;
    for (auto _ : state) {
        char *text = ERRM_Get_ErrorMessage(Ss(), kNumber, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_get_message_threads)
    ->Setup(SettleFiles)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime();

// -------------------------------------------------------------------- main

namespace {

// "--fixed_run=N" as first argument: N cached messages, then N retrieved
// texts, and nothing measured by the benchmark library. Under
// valgrind --tool=callgrind the instructions of one call are then the same
// on every run, however busy the machine (docs/performance-log.md).
// "--fixed_run_threaded=N" starts and ends one thread first: the calls then
// take the lock, as in any process that has had a second thread.
// "--fixed_run_floor=N" writes N floor lines instead, and
// "--fixed_run_records=N" N cached messages with JSON records on, so that
// the library's instructions and system calls per line compare with the
// floor's, and a record's with a message's.
enum class FixedMode { library, threaded, floor, records };

long FixedRunCalls(int argc, char **argv, FixedMode *mode) {
    static constexpr struct {
        const char *flag;
        FixedMode mode;
    } kFlags[] = {{"--fixed_run=", FixedMode::library},
                  {"--fixed_run_threaded=", FixedMode::threaded},
                  {"--fixed_run_floor=", FixedMode::floor},
                  {"--fixed_run_records=", FixedMode::records}};
    for (const auto &f : kFlags) {
        *mode = f.mode;
        if (argc >= 2 && std::strncmp(argv[1], f.flag, std::strlen(f.flag)) == 0)
            return std::atol(argv[1] + std::strlen(f.flag));
    }
    return 0;
}

int FixedRun(long calls, FixedMode mode) {
    if (mode == FixedMode::threaded) std::thread([] {}).join();
    SetUpRun();
    if (mode == FixedMode::floor) {
        for (long i = 0; i < calls; ++i)
            FloorWrite(g_run.floorFd, kPath, static_cast<int>(i & 0xFFFF));
    } else if (mode == FixedMode::records) {
        // The cycle begun again with records on, as the records child does.
        ERRM_FInit();
        setenv("ERRM_OPTIONS", ("json=" + g_run.dir->file("records.json") + ",run=bench").c_str(),
               1);
        StartLibrary(g_run.dir->path(), g_run.dir->file("records-run"));
        const unsigned ss = static_cast<unsigned>(LoadSubsystem("SIM"));
        for (long i = 0; i < calls; ++i)
            ERRM_ProcessError(ss, kNumber, kPath, static_cast<int>(i & 0xFFFF));
    } else {
        for (long i = 0; i < calls; ++i)
            ERRM_ProcessError(Ss(), kNumber, kPath, static_cast<int>(i & 0xFFFF));
        for (long i = 0; i < calls; ++i)
            ERRM_Get_ErrorMessage(Ss(), kNumber, kPath, static_cast<int>(i & 0xFFFF));
    }
    TearDownRun();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    FixedMode mode = FixedMode::library;
    if (long calls = FixedRunCalls(argc, argv, &mode); calls > 0) return FixedRun(calls, mode);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CheckSameBytes();
    SetUpRun();
    // A user message on an unopened REPORT would not count as written.
    if (ERRM_DisplayUserMessage(7, 1, "SIM", nullptr, 0x20, nullptr, kUserFormat, kPath, 0) !=
        0x20) {
        std::fprintf(stderr, "the user message was not written on REPORT\n");
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TearDownRun();
    return 0;
}
