// bench_descriptor.cpp - loading descriptors of 1k to 1M messages against
// the floor of what a load must do, and the cost of a message whose entry
// is not cached against one that is.
//
// Sections: catalogues; loading (one new process per load); the floor;
// lookups; main.
//
// A process may load 15 descriptors in its life, so every measured load runs
// in a new process (this program started again with --errm-load-child): the
// child times ERRM_ReadErrorDescriptor alone and sends the time back through
// a pipe; starting and ending the child are not measured. A new process
// rather than a fork, so that the load maps and zeroes its own pages as in a
// program that has just started, not copy-on-write pages of the benchmark's
// heap; pages, though, that the machine has backed (TouchAndGiveBack).
// Loads and their floor are timed in CPU time of the thread (page faults and
// system calls included), like the other benchmarks, so that the work of
// other processes on a shared machine does not count.
// The four descriptors are also loaded once in the parent for the lookups.
// Descriptor files are written at start-up and are in the page cache.
#include "bench_support.h"

#include "descriptor/errm_desc.h"

#include <benchmark/benchmark.h>
#include <md5.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace errmbench;

// -------------------------------------------------------------- catalogues

namespace {

constexpr const char *kFormat = "cannot open %s (code %d)";
constexpr const char *kPath = "/work/data/input_0042.cfg";
constexpr int kSizes[] = {1000, 10000, 100000, 1000000};

// Message i of a catalogue has number 3 i + 1: numbers are sparse, as in a
// real catalogue, so nothing can index them directly.
int NumberAt(int i) {
    return 3 * i + 1;
}

struct Descriptor {
    std::string subsystem;              // L1000 .. L1000000
    int index = -1;                     // subsystem index in the parent
    std::vector<unsigned char> bytes;   // the file, for the floor
    std::uint32_t checksumStart = 0;    // header words of the file
    std::uint32_t checksumLength = 0;
    std::uint32_t directoryOffset = 0;
    std::uint32_t entryCount = 0;
    std::vector<int> randomOrder;       // every number once, shuffled
    std::vector<int> cycle;             // 32 numbers spread over the catalogue
};

struct Run {
    std::unique_ptr<ScratchDir> dir;
    std::map<int, Descriptor> bySize;
    std::vector<unsigned char> floorCopy; // destination of the floor's directory copy
    std::string self;                     // argv[0]
};
Run g_run;

std::uint32_t HeaderWord(const std::vector<unsigned char> &bytes, int word) {
    std::uint32_t v = 0;
    for (int b = 3; b >= 0; --b)
        v = (v << 8) | bytes[static_cast<std::size_t>(word * 4 + b)];
    return v;
}

void MakeDescriptor(int size) {
    Descriptor d;
    d.subsystem = "L" + std::to_string(size);
    {
        errmdesc::Catalogue cat = Cat(d.subsystem, {});
        cat.messages.reserve(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            cat.messages.push_back(Msg(NumberAt(i), kFormat, {kLog}));
        WriteDescriptor(cat, g_run.dir->path());
    }
    d.bytes = [&] {
        std::string text = ReadWholeFile(g_run.dir->file(errmdesc::FileName(d.subsystem)));
        return std::vector<unsigned char>(text.begin(), text.end());
    }();
    d.entryCount = HeaderWord(d.bytes, 1);
    d.checksumLength = HeaderWord(d.bytes, 2);
    d.directoryOffset = HeaderWord(d.bytes, 3);
    d.checksumStart = HeaderWord(d.bytes, 4);
    if (d.entryCount != static_cast<std::uint32_t>(size)) {
        std::fprintf(stderr, "descriptor %s holds %u entries\n", d.subsystem.c_str(),
                     d.entryCount);
        std::exit(2);
    }
    d.randomOrder.resize(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        d.randomOrder[static_cast<std::size_t>(i)] = NumberAt(i);
    std::mt19937 rng(static_cast<unsigned>(size));
    std::shuffle(d.randomOrder.begin(), d.randomOrder.end(), rng);
    for (int k = 0; k < 32; ++k)
        d.cycle.push_back(NumberAt(static_cast<int>(static_cast<long long>(k) * size / 32)));
    std::fprintf(stderr, "descriptor %s: %zu bytes\n", d.subsystem.c_str(), d.bytes.size());
    g_run.bySize[size] = std::move(d);
}

Descriptor &Of(const benchmark::State &state) {
    return g_run.bySize.at(static_cast<int>(state.range(0)));
}

double Seconds(const timespec &a, const timespec &b) {
    return static_cast<double>(b.tv_sec - a.tv_sec) + 1e-9 * static_cast<double>(b.tv_nsec - a.tv_nsec);
}

// ----------------------------------------- loading (one new process per load)

constexpr const char *kChildSwitch = "--errm-load-child";
constexpr const char *kFreshSwitch = "fresh";

// Gives the child memory that this machine has backed: pages of the size a
// load of the file takes (its copy, the counters and the index) are touched
// and given back, so that the load's own pages come from them. A virtual
// machine that hands free memory back to its host (free page reporting)
// otherwise makes the first touch of every page a fault in the host, which
// cost a 1M load 100 to 250 ms more in some runs and nothing in others; the
// floor, which runs on a buffer touched long before, pays none of it. The
// load still pays for getting and zeroing its pages, as on any machine.
void TouchAndGiveBack(const char *dir, const char *subsystem) {
    struct stat st {};
    std::string path = std::string(dir) + "/" + errmdesc::FileName(subsystem);
    if (stat(path.c_str(), &st) != 0) return;
    std::size_t size = static_cast<std::size_t>(st.st_size);
    size += size / 4 + (std::size_t{4} << 20);
    void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    madvise(block, size, MADV_HUGEPAGE);
    std::memset(block, 1, size);
    munmap(block, size);
}

// The child's side: a new process that starts the library, loads one
// descriptor and writes the CPU time of the load alone on standard output
// (8 bytes; negative when the load failed). With fresh set, the load takes
// whatever memory the machine gives a new process.
int LoadChildMain(const char *dir, const char *subsystem, bool fresh) {
    setenv("ORV_VCO", "ixl", 1);
    unsetenv("KOVA_ERRM_LDBG");
    std::string root = std::string(dir) + "/";
    if (ERRM_Set_Root_ForMemoryDescriptor(root.c_str()) != 1 ||
        ERRM_Set_RootReportFiles((root + "run").c_str()) != 1 || ERRM_Init() != 1)
        return 2;
    if (!fresh) TouchAndGiveBack(dir, subsystem);
    int index = -1;
    timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    int rc = ERRM_ReadErrorDescriptor(subsystem, &index);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    double seconds = rc == 0 ? Seconds(a, b) : -1.0 - rc;
    return write(1, &seconds, sizeof seconds) == sizeof seconds ? 0 : 1;
}

// Runs this program again as a load child; the child's time of the load
// alone, or a negative value when anything failed.
double TimedLoadInChild(const std::string &subsystem, bool fresh) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string dir = g_run.dir->path();
    char *args[] = {g_run.self.data(), const_cast<char *>(kChildSwitch), dir.data(),
                    const_cast<char *>(subsystem.c_str()),
                    const_cast<char *>(fresh ? kFreshSwitch : nullptr), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    double seconds = -1;
    if (rc == 0 && read(fds[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
    close(fds[0]);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return seconds;
}

void TimeLoads(benchmark::State &state, bool fresh) {
    const Descriptor &d = Of(state);
    for (auto _ : state) {
        double seconds = TimedLoadInChild(d.subsystem, fresh);
        if (seconds < 0) {
            state.SkipWithError("the load failed in the child");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * d.entryCount);
}

} // namespace

// A load on memory the machine has backed: what the library's work costs.
static void bench_load(benchmark::State &state) {
    TimeLoads(state, false);
}
BENCHMARK(bench_load)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The same load on whatever memory a new process gets, for comparison.
static void bench_load_fresh_memory(benchmark::State &state) {
    TimeLoads(state, true);
}
BENCHMARK(bench_load_fresh_memory)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// ------------------------------------------------------------------ the floor

// What any load of the file must do: the MD5 of the checksummed bytes and a
// copy of the directory (N records of 12 bytes).
static void bench_load_floor(benchmark::State &state) {
    const Descriptor &d = Of(state);
    std::size_t dirBytes = static_cast<std::size_t>(d.entryCount) * 12;
    g_run.floorCopy.resize(std::max(g_run.floorCopy.size(), dirBytes));
    for (auto _ : state) {
        timespec a, b;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        MD5_CTX md5;
        unsigned char digest[16];
        MD5Init(&md5);
        MD5Update(&md5, d.bytes.data() + d.checksumStart, d.checksumLength);
        MD5Final(digest, &md5);
        std::memcpy(g_run.floorCopy.data(), d.bytes.data() + d.directoryOffset, dirBytes);
        benchmark::DoNotOptimize(digest);
        benchmark::ClobberMemory();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        state.SetIterationTime(Seconds(a, b));
    }
    state.SetItemsProcessed(state.iterations() * d.entryCount);
}
BENCHMARK(bench_load_floor)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// ------------------------------------------------------------------ lookups

// A whole message without output (ERRM_Get_ErrorMessage) whose entry is
// cached: the same message every time.
static void bench_lookup_hit(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    int number = d.cycle[5];
    int code = 0;
    for (auto _ : state) {
        char *text = ERRM_Get_ErrorMessage(ss, number, kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_hit)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// The same with 32 messages spread over the catalogue in turn: every entry
// is decoded again (the cache holds 16), the CPU caches stay warm.
static void bench_lookup_miss(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    int code = 0;
    unsigned i = 0;
    for (auto _ : state) {
        char *text = ERRM_Get_ErrorMessage(ss, d.cycle[i++ % 32], kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_miss)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// Every message of the catalogue once, in random order: each lookup misses
// the entry cache and, on large catalogues, the CPU caches too.
static void bench_lookup_miss_random(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    int code = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        char *text = ERRM_Get_ErrorMessage(ss, d.randomOrder[i], kPath, code++ & 0xFFFF);
        benchmark::DoNotOptimize(text);
        if (++i == d.randomOrder.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_miss_random)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// The lookup alone (errm_LookupEntry): a hit is a scan of 16 keys ...
static void bench_lookup_raw_hit(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    int number = d.cycle[5];
    for (auto _ : state) {
        int rc = errm_LookupEntry(ss, number);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_raw_hit)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// ... a miss a directory search and the decoding of one entry record.
static void bench_lookup_raw_miss(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    unsigned i = 0;
    for (auto _ : state) {
        int rc = errm_LookupEntry(ss, d.cycle[i++ % 32]);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_raw_miss)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

static void bench_lookup_raw_miss_random(benchmark::State &state) {
    const Descriptor &d = Of(state);
    unsigned ss = static_cast<unsigned>(d.index);
    std::size_t i = 0;
    for (auto _ : state) {
        int rc = errm_LookupEntry(ss, d.randomOrder[i]);
        benchmark::DoNotOptimize(rc);
        if (++i == d.randomOrder.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bench_lookup_raw_miss_random)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000);

// -------------------------------------------------------------------- main

int main(int argc, char **argv) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], kChildSwitch) == 0)
        return LoadChildMain(argv[2], argv[3], argc == 5 && std::strcmp(argv[4], kFreshSwitch) == 0);
    g_run.self = argv[0];
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    g_run.dir = std::make_unique<ScratchDir>();
    for (int size : kSizes)
        MakeDescriptor(size);
    NullFile(*g_run.dir, "run.log");
    StartLibrary(g_run.dir->path(), g_run.dir->file("run"));
    for (auto &[size, d] : g_run.bySize) {
        d.index = LoadSubsystem(d.subsystem.c_str());
        const char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(d.index), d.cycle[5],
                                                 kPath, 5);
        if (text == nullptr || std::strstr(text, "cannot open /work/data/") == nullptr) {
            std::fprintf(stderr, "message %d of %s is not what was written\n", d.cycle[5],
                         d.subsystem.c_str());
            return 2;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ERRM_FInit();
    g_run.dir.reset();
    return 0;
}
