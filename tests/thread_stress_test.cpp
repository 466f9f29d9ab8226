// thread_stress_test.cpp - the exported functions called from many threads
// at once.
//
// One harness runs a table of call mixes on eight threads and checks that
// every line is present once and intact, that counters and the delayed count
// are exact, and that each retrieved text is that of its own call and stays
// so until its thread's next call. Then: Return buffers of threads that come
// and go, and a fork while another thread is inside a call.
#include "api_support.h"
#include "base/errm_alloc.h"
#include "descriptor/errm_desc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sstream>
#include <thread>
#include <unordered_map>

using namespace errmtest;

namespace {

struct Shared {
    Library lib;
    std::atomic<int> ss{-1};
    std::string prefix[5]; // decoration of messages 1..4 before their text
    std::FILE *chi = nullptr, *reportF = nullptr;
};

// One thread's calls: what they must have left behind, and the current one
// with the text that makes its lines unique.
struct Call {
    Shared &run;
    bool cycles;                                       // may meet the library between cycles
    std::vector<std::string> log, transcript, limited; // lines written
    long delayed = 0, limitedCalls = 0, failures = 0;
    unsigned ss = 0;
    long i = 0;
    std::string p;
    const char *kept = nullptr; // a retrieved text, and what it must read
    std::string keptText;

    Call(Shared &shared, bool cyclesToo) : run(shared), cycles(cyclesToo) {}

    bool Wrote(bool ok, std::vector<std::string> &into, const std::string &line) {
        if (ok) into.push_back(line + p + "\n");
        return ok || cycles;
    }
    bool Process(int n, std::vector<std::string> &into) {
        return Wrote(ERRM_ProcessError(ss, n, p.c_str()) == 0, into, run.prefix[n]);
    }
    bool Get(int n) {
        kept = ERRM_Get_ErrorMessage(ss, n, p.c_str());
        keptText = run.prefix[n] + p + "\n";
        delayed += kept != nullptr && n == 2;
        return kept == nullptr || keptText == kept;
    }
};

// Messages of SIM: 1 on LOG, 2 ERROR_DELAYED on LOG, 3 DISPLAY (never
// limited) and 4 ERROR (limited to 3) on the transcript, 5 only reset.
// clang-format off
enum Op { opProcess, opDelayed, opDisplay, opLimited, opDirect, opUser, opGet, opGetDelayed, opSetting,
          opQuery, opStream, opCount };
const std::array<bool (*)(Call &), opCount> kCalls = {
    [](Call &c) { return c.Process(1, c.log); },
    [](Call &c) { const bool ok = ERRM_ProcessError(c.ss, 2, c.p.c_str()) == 0;
                  c.delayed += ok;
                  return c.Wrote(ok, c.log, c.run.prefix[2]); },
    [](Call &c) { return c.Process(3, c.transcript); },
    [](Call &c) { c.limitedCalls++; return c.Process(4, c.limited); },
    [](Call &c) { return c.Wrote(ERRM_DirectProcessError("TRACE", "L", "ERRM_STRESS_LEVEL", 1,
                                 "x %s", c.p.c_str()) == 0, c.log, "(TRACE-ERRM_STRESS_LEVEL-5) x "); },
    [](Call &c) { return c.Wrote(ERRM_DisplayUserMessage(7, 1, "SIM", nullptr, 0x80, nullptr,
                                 "u %s\n", c.p.c_str()) == 0x80, c.log, "u "); },
    [](Call &c) { return c.Get(1); },
    [](Call &c) { return c.Get(2); },
    [](Call &c) { // settings, set to the values they hold
        const std::string root = c.run.lib.file("run"), tra = root + ".tra";
        const std::string desc = c.run.lib.dir().path() + "/";
        int ok = 1;
        switch (c.i % 8) {
        case 0: ERRM_AddNL(1); break;
        case 1: ERRM_Set_GlobalVerboseMode(1); break;
        case 2: ERRM_Set_GlobalNbrMaxOfMessages(3); break;
        case 3: ERRM_Set_NUSKMode(0); break;
        case 4: ok = ERRM_Set_TranScriptFileName(tra.c_str()); break;
        case 5: ok = ERRM_Set_RootReportFiles(root.c_str()); break;
        case 6: ok = ERRM_Set_Root_ForMemoryDescriptor(desc.c_str()); break;
        default: ok = ERRM_Set_SearchPath("ERRM_STRESS_PATH"); break;
        }
        return ok == 1; },
    [](Call &c) { // queries; counter and channel fail between cycles
        unsigned char v[4] = {};
        char date[12] = {}, stamp[13] = {};
        int index = -1;
        switch (c.i % 6) {
        case 0: return ERRM_GetVersion(v) == 1 && v[2] == 3;
        case 1: return ERRM_GetDate(date) == 1 && std::string(date) == "2007/01/08";
        case 2: return ERRM_DisplayInfos("SIM", stamp, reinterpret_cast<char *>(v)) == 0;
        case 3: return ERRM_ReadErrorDescriptor("NOSUCH", &index) != 0;
        case 4: return ERRM_ResetMessageCounter(c.ss, 5, 0) == 1 || c.cycles;
        default: return (ERRM_Authorize_Printing("LOG", 1) == 1 || c.cycles) &&
                        ERRM_GetNumberOfDelayedErrors() >= unsigned(c.delayed);
        } },
    [](Call &c) { // client streams attached and detached by every thread: results vary
        ERRM_Set_ReportF_FD(c.run.reportF);
        ERRM_Set_ChiFileHandle(c.run.chi);
        ERRM_Reset_ReportF_FD();
        ERRM_Reset_ChiFileHandle();
        return true; },
};

struct Mix {
    const char *name;
    std::array<int, opCount> weight; // how often each call kind is drawn
    bool cycles;                  // thread 0 also ends and restarts the library
};
const Mix kMixes[] = {
    // name         Proc Del Disp Lim Dir User Get GetD Set Query Stream
    {"messages",   {{4, 2, 2, 1, 2, 2, 0, 0, 0, 0, 0}}, false},
    {"retrieval",  {{1, 0, 0, 0, 0, 0, 4, 2, 0, 0, 0}}, false},
    {"everything", {{2, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1}}, false},
    {"settings",   {{1, 0, 0, 0, 0, 0, 1, 0, 3, 3, 2}}, false},
    {"cycles",     {{2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}, true},
};
// clang-format on

constexpr int kThreads = 8;
constexpr int kCycles = 10; // loads in a process's life are limited to 15

// One thread's calls, drawn from the mix by a fixed sequence.
void Worker(const Mix &mix, int t, long calls, Call &c) {
    std::vector<Op> deck;
    for (int op = 0; op < opCount; ++op)
        deck.insert(deck.end(), std::size_t(mix.weight[op]), Op(op));
    unsigned seed = 2654435761u * unsigned(t + 1);
    for (c.i = 0; c.i < calls; ++c.i) {
        if (c.kept != nullptr && c.keptText != c.kept) ++c.failures;
        c.kept = nullptr;
        if (mix.cycles && t == 0 && c.i % (calls / kCycles) == calls / kCycles / 2) {
            int index = -1;
            ERRM_FInit();
            ERRM_Init();
            ERRM_ReadErrorDescriptor("SIM", &index);
            c.run.ss = index;
        }
        seed = seed * 1103515245u + 12345u;
        Op op = deck[(seed >> 8) % deck.size()];
        // Another thread's ERRM_FInit releases texts: only thread 0 keeps any.
        if (mix.cycles && t != 0 && (op == opGet || op == opGetDelayed)) op = opProcess;
        c.p = "t" + std::to_string(t) + " n" + std::to_string(c.i);
        c.ss = unsigned(c.run.ss.load());
        bool ok = kCalls[op](c);
        if (!ok || (c.kept == nullptr && (op == opGet || op == opGetDelayed) && !mix.cycles))
            ++c.failures;
    }
}

// Lines of a report file, its header lines left out, sorted.
std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("START report: ", 0) != 0) lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::uint32_t Counter(int ss, int number) {
    for (const errm_SubsystemRow &row : errm_Subsystems)
        if (row.loaded == 1 && row.index == ss)
            return row.counters[errm_FindDirectoryEntry(row.directory, number, row.entryCount)];
    return ~0u;
}

class Stress : public ::testing::TestWithParam<Mix> {};

TEST_P(Stress, LinesCountersAndTextsStayExact) {
    const Mix &mix = GetParam();
    ScopedEnv level("ERRM_STRESS_LEVEL", "5");
    Shared run;
    run.ss =
        run.lib.Load(Cat("SIM", {Msg(1, kError, "%s", {kLog}), Msg(2, kErrorDelayed, "%s", {kLog}),
                                 Msg(3, kDisplay, "%s", {kTranscript}),
                                 Msg(4, kError, "%s", {kTranscript}), Msg(5, kError, "")}));
    const unsigned ss = unsigned(run.ss.load());
    for (int n = 1; n <= 4; ++n) {
        const char *text = ERRM_Get_ErrorMessage(ss, n, "");
        ASSERT_NE(text, nullptr);
        run.prefix[n] = std::string(text, std::strlen(text) - 1);
    }
    run.chi = std::fopen(run.lib.file("chi.txt").c_str(), "w");
    run.reportF = std::fopen(run.lib.file("reportf.txt").c_str(), "w");
    std::vector<std::string> log = {run.prefix[1] + "opens LOG\n"}, transcript, limited;
    ASSERT_EQ(ERRM_ProcessError(ss, 1, "opens LOG"), 0);
    const unsigned delayedBefore = ERRM_GetNumberOfDelayedErrors();

    const char *env = std::getenv("ERRM_STRESS_CALLS"); // fewer in the sanitizer build
    const long calls = env != nullptr ? std::atol(env) : 100000;
    std::vector<Call> out(kThreads, Call(run, mix.cycles));
    std::vector<std::thread> threads;
    StdoutCapture quiet; // detaching a detached stream is reported there
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(Worker, std::cref(mix), t, calls, std::ref(out[std::size_t(t)]));
    long delayed = 0, limitedCalls = 0;
    for (int t = 0; t < kThreads; ++t) {
        threads[std::size_t(t)].join();
        const Call &c = out[std::size_t(t)];
        EXPECT_EQ(c.failures, 0) << "wrong results or retrieved texts in thread " << t;
        log.insert(log.end(), c.log.begin(), c.log.end());
        transcript.insert(transcript.end(), c.transcript.begin(), c.transcript.end());
        limited.insert(limited.end(), c.limited.begin(), c.limited.end());
        delayed += c.delayed;
        limitedCalls += c.limitedCalls;
    }
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors() - delayedBefore, unsigned(delayed));
    if (!mix.cycles) {
        EXPECT_EQ(Counter(run.ss, 3), transcript.size()) << "DISPLAY counts every line";
        EXPECT_EQ(Counter(run.ss, 4), std::uint32_t(std::min(limitedCalls, 4L))) << "3 and notice";
    }
    ERRM_FInit();
    std::fclose(run.chi);
    std::fclose(run.reportF);
    const std::vector<std::string> gotLog = Lines(run.lib.Report(".log"));
    if (mix.cycles) {
        // Report files are opened anew in each cycle: what is there is intact,
        // comes from a call that succeeded, and is there once.
        std::unordered_map<std::string, int> seen;
        for (const std::string &line : log)
            seen[line] = 0;
        for (const std::string &line : gotLog)
            EXPECT_TRUE(line.find("not present in .bin") != std::string::npos || ++seen[line] == 1)
                << line;
        EXPECT_EQ(seen.size(), log.size()) << "a line that no call wrote";
        return;
    }
    std::sort(log.begin(), log.end());
    EXPECT_TRUE(log == gotLog) << log.size() << " lines expected on LOG, " << gotLog.size();
    std::vector<std::string> gotDisplay;
    long gotLimited = 0, notices = 0;
    for (const std::string &line : Lines(run.lib.Report(".tra"))) {
        const bool isLimited = line.rfind(run.prefix[4], 0) == 0;
        gotLimited += isLimited;
        EXPECT_TRUE(!isLimited || std::count(limited.begin(), limited.end(), line) == 1) << line;
        notices += line.rfind("Note: message (SIM", 0) == 0;
        if (!isLimited && line.rfind("Note: ", 0) != 0) gotDisplay.push_back(line);
    }
    std::sort(transcript.begin(), transcript.end());
    EXPECT_TRUE(transcript == gotDisplay) << transcript.size() << " DISPLAY lines expected";
    EXPECT_EQ(gotLimited, std::min(limitedCalls, 3L));
    EXPECT_EQ(notices, limitedCalls >= 4 ? 1 : 0);
}

void PrintTo(const Mix &mix, std::ostream *os) {
    *os << mix.name;
}
std::string MixName(const ::testing::TestParamInfo<Mix> &mix) {
    return mix.param.name;
}
INSTANTIATE_TEST_SUITE_P(Mixes, Stress, ::testing::ValuesIn(kMixes), MixName);

// ------------------------------------------------ threads that come and go

TEST(ThreadLife, ReturnBuffersAreReleasedAtThreadExitAndAtFInit) {
    Library lib;
    const unsigned ss = unsigned(lib.Load(Cat("SIM", {Msg(1, kError, "%s", {kLog})})));
    const int blocks = errm_AllocationCount();
    auto retrieve = [ss](const std::string &body) {
        const char *text = ERRM_Get_ErrorMessage(ss, 1, body.c_str());
        return text != nullptr && std::string(text).find(body) != std::string::npos;
    };
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> good{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) // 3000 characters make a buffer grow
            threads.emplace_back([&, t] { good += retrieve(std::string(t % 2 ? 3000 : 9, 'a')); });
        for (std::thread &th : threads)
            th.join();
        EXPECT_EQ(good, 4);
        EXPECT_EQ(errm_AllocationCount(), blocks) << "round " << round;
    }
    errm_TestFailAllocation(1); // a thread's first buffer cannot be had: no text
    std::thread([&] { EXPECT_FALSE(retrieve("no buffer")); }).join();
    errm_TestFailAllocation(0);
    EXPECT_EQ(errm_AllocationCount(), blocks);
    // A thread still alive at ERRM_FInit loses its buffer there, not twice.
    std::atomic<int> stage{0};
    std::thread alive([&] {
        EXPECT_TRUE(retrieve("alive"));
        stage = 1;
        while (stage != 2)
            std::this_thread::yield();
        EXPECT_FALSE(retrieve("after")) << "no text outside a cycle";
    });
    while (stage != 1)
        std::this_thread::yield();
    EXPECT_EQ(errm_AllocationCount(), blocks + 1);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), 0);
    stage = 2;
    alive.join();
    EXPECT_EQ(errm_AllocationCount(), 0);
}

// ------------------------------------------------------------------- fork

std::atomic<bool> g_inside{false}, g_forking{false}, g_childDone{false};

TEST(ThreadLife, ForkWhileAnotherThreadIsInsideACallLeavesTheChildUsable) {
    Library lib;
    errmdesc::Message cmd = Msg(2, kError, "runs a command", {kLog});
    cmd.command = "CMD=true";
    const unsigned ss = unsigned(lib.Load(Cat("SIM", {Msg(1, kError, "%s", {kLog}), cmd})));
    SysGuard guard;
    // The worker's command waits inside its call until a fork has begun: this
    // handler runs before the library's, which then waits for the lock.
    pthread_atfork([] { g_forking = true; }, nullptr, nullptr);
    errm_Sys.system = [](const char *) {
        g_inside = true;
        while (!g_forking)
            std::this_thread::yield();
        return 0;
    };
    std::thread worker([ss] { // alive until the child is done: it is no thread of the child
        ERRM_ProcessError(ss, 2);
        while (!g_childDone)
            std::this_thread::yield();
    });
    while (!g_inside)
        std::this_thread::yield();
    const int status = RunInChild([ss] {
        alarm(20); // a deadlock ends the child with SIGALRM
        const char *text = ERRM_Get_ErrorMessage(ss, 1, "child");
        return ERRM_ProcessError(ss, 1, "child") == 0 && text != nullptr ? 0 : 1;
    });
    g_childDone = true;
    worker.join();
    EXPECT_EQ(status, 0);
}

} // namespace
