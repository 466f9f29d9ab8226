// corruption_test.cpp - a sample descriptor with every kind of field,
// damaged at every byte: cut there, the byte set to 0x00, to 0xFF, inverted,
// and each of its eight bits flipped. Every copy is loaded and whatever it
// still offers is looked up, laid out, processed and retrieved. Nothing may
// crash or trip a sanitizer; every refusal must be one of the library's
// documented codes; a refused load keeps no block; each cycle gives back
// every block and file descriptor by the end of ERRM_FInit.
//
// Processing passes no argument, so only messages whose format reads none
// are processed. The sample holds no '%' (0x25) and no 0xDA (which inverts
// to '%'), so zeroing, filling and inverting a byte can never give a format
// a conversion, and the sweep checks that none did. Flipping one bit can
// ('e' is 0x65): such a message is laid out with a fixed text instead, as
// the descriptor fuzzer does, and not processed.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "reports/errm_fm.h"
#include "reports/errm_message.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>

using namespace errmtest;

namespace {

// ------------------------------------------------------------ the sample

// Every field of the entry record in use, several messages, several
// severities, 16 reports, follow-up actions; formats without conversions.
errmdesc::Catalogue SampleCatalogue(std::size_t padding, std::uint32_t reserved) {
    errmdesc::Message full =
        Msg(7, kError, "cannot open the file: error seven",
            {kStdout, kPipe, kTranscript, kDbgI, kDbgC, kReport, kChi, kLog, kReportF, kStdout,
             kPipe, kTranscript, kDbgI, kDbgC, kReport, kLog});
    full.id = "SIM-0007";
    full.env = "ERRM_CORRUPT_ENV";
    full.second = "a second text the library skips" + std::string(padding, '.');
    full.force = 1;
    full.see = "the user guide, chapter 4";
    full.dateKind = 1;
    full.cat = "FILE=${ERRM_CORRUPT_DIR}/cat.txt";
    full.command = "CMD=echo command output";
    full.rc = -2;
    errmdesc::Message empty = Msg(-5, kWarning, "", {});
    errmdesc::Message display =
        Msg(1000000, kDisplay, "display line",
            {kPipe, kTranscript, kDbgI, kDbgC, kReport, kLog, kChi, kReportF});
    display.dateKind = 2;
    display.rc = 32767;
    errmdesc::Message delayed = Msg(42, kErrorDelayed, "delayed error", {kStdout, kLog});
    delayed.see = "see also message 43";
    delayed.dateKind = 3;
    delayed.rc = 1058;
    errmdesc::Message note = Msg(43, kNote, "note with a file", {kReport, kChi});
    note.id = "N43";
    note.cat = "FILE=cat.txt";
    note.rc = 3;
    errmdesc::Message trace = Msg(44, kTrace, "trace line", {kStdout, kDbgC});
    trace.force = 1;
    errmdesc::Catalogue cat =
        Cat("Corrupt", {full, empty, display, delayed, note, trace}, "Corrupted sample");
    cat.reserved = reserved;
    return cat;
}

// The sample's bytes: the first padding and reserved word for which the file
// holds neither '%' nor 0xDA (its digest and offsets change with them).
const std::vector<std::uint8_t> &Sample() {
    static const std::vector<std::uint8_t> bytes = [] {
        for (std::size_t padding = 0; padding < 32; ++padding)
            for (std::uint32_t reserved = 0; reserved < 256; ++reserved) {
                std::vector<std::uint8_t> b = errmdesc::Write(SampleCatalogue(padding, reserved));
                if (std::find(b.begin(), b.end(), 0x25) == b.end() &&
                    std::find(b.begin(), b.end(), 0xDA) == b.end())
                    return b;
            }
        return std::vector<std::uint8_t>{};
    }();
    return bytes;
}

// ----------------------------------------------------------- the variants

struct Variant {
    const char *what;
    bool wholeByte; // zeroed, filled or inverted: can never create a '%'
    std::vector<std::uint8_t> bytes;
};

std::vector<Variant> Variants(std::size_t at) {
    const std::vector<std::uint8_t> &s = Sample();
    std::vector<Variant> v;
    v.push_back({"cut", true, std::vector<std::uint8_t>(s.begin(), s.begin() + at)});
    auto with = [&](const char *what, bool whole, std::uint8_t value) {
        std::vector<std::uint8_t> b = s;
        b[at] = value;
        v.push_back({what, whole, std::move(b)});
    };
    with("0x00", true, 0x00);
    with("0xFF", true, 0xFF);
    with("inverted", true, static_cast<std::uint8_t>(s[at] ^ 0xFF));
    static const char *const kBits[] = {"bit 0", "bit 1", "bit 2", "bit 3",
                                        "bit 4", "bit 5", "bit 6", "bit 7"};
    for (int bit = 0; bit < 8; ++bit)
        with(kBits[bit], false, static_cast<std::uint8_t>(s[at] ^ (1u << bit)));
    return v;
}

// ------------------------------------------------------------ the oracle

const std::set<int> kLoadCodes = {ERRM_E_MAGIC, ERRM_E_READ_MAPPED, ERRM_E_MAP};
const std::set<int> kEntryCodes = {ERRM_E_NOT_FOUND, ERRM_E_BAD_ENTRY_NUMBER, ERRM_E_INTERNAL,
                                   ERRM_E_SEVERITY,  ERRM_E_READ_MAPPED,      ERRM_E_TOO_MANY_ENV};

bool ConversionFree(const char *format) {
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] != '%') return false;
        ++p;
    }
    return true;
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Describes a broken expectation on stderr (the child's stdout goes
// nowhere) and returns false.
bool Broken(std::size_t at, const Variant &v, const char *what, long value) {
    std::fprintf(stderr, "position %zu, %s: %s (%ld)\n", at, v.what, what, value);
    return false;
}

// Looks a message up, lays it out, processes and retrieves it.
bool Serve(std::size_t at, const Variant &v, int index, int number, int *processed) {
    int rc = errm_LookupEntry(static_cast<unsigned>(index), number);
    if (rc != 0) return kEntryCodes.count(rc) != 0 || Broken(at, v, "lookup code", rc);
    errm_MessageEntry *e = errm_CurrentEntry();
    if (e->number != number) return Broken(at, v, "entry number", e->number);
    if (e->severity < 1 || e->severity > 8) return Broken(at, v, "severity", e->severity);
    if (e->reportCount < 0 || e->reportCount > 16) return Broken(at, v, "reports", e->reportCount);
    if (!ConversionFree(e->format)) {
        if (v.wholeByte) return Broken(at, v, "a format gained a conversion", number);
        const char text[] = "fixed text";
        std::memcpy(errm_Lines.sLine0, text, sizeof text);
        errm_Lines.sLine0Length = sizeof text - 1;
        if (errm_BuildDecoratedLine(e, number) < 0) return Broken(at, v, "decorated", number);
        if (errm_BuildChiLine(e, number) != 0) return Broken(at, v, "Chi line", number);
        return true;
    }
    const int want = e->rc;
    int got = ERRM_ProcessError(static_cast<unsigned>(index), number);
    if (got != want) return Broken(at, v, "processing result", got);
    const char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(index), number);
    if ((text == nullptr) != (want >= 1000)) return Broken(at, v, "retrieval", want);
    if (text != nullptr && std::strlen(text) >= ERRM_LINEOUT_CAP)
        return Broken(at, v, "retrieved length", static_cast<long>(std::strlen(text)));
    ++*processed;
    return true;
}

// One Init / load / serve / FInit cycle on one variant.
bool Cycle(const std::string &dir, std::size_t at, const Variant &v) {
    WriteBytes(v.bytes, dir + "/errm_desc_CORRUPT.bin");
    const int fds = OpenDescriptors();
    const int start = errm_AllocationCount();
    if (ERRM_Init() != 1) return Broken(at, v, "ERRM_Init", 0);
    if (errm_OpenDllTrace() != 1) return Broken(at, v, "trace", 0);
    const int beforeLoad = errm_AllocationCount();
    int index = -1;
    int rc = ERRM_ReadErrorDescriptor("corrupt", &index);
    if (rc != 0) {
        if (kLoadCodes.count(rc) == 0) return Broken(at, v, "load code", rc);
        if (errm_AllocationCount() != beforeLoad)
            return Broken(at, v, "blocks kept by a refused load", errm_AllocationCount());
    } else {
        const errm_SubsystemRow &row = errm_Subsystems[index];
        int processed = 0;
        std::vector<int> numbers = {INT_MIN, 0, 8, INT_MAX};
        for (int i = 0; i < row.entryCount; ++i)
            numbers.push_back(row.directory[i].number);
        for (int number : numbers)
            if (!Serve(at, v, index, number, &processed)) return false;
    }
    char stamp[13], version[4];
    rc = ERRM_DisplayInfos("corrupt", stamp, version);
    if (rc != 0 && kLoadCodes.count(rc) == 0) return Broken(at, v, "infos code", rc);
    if (ERRM_FInit() != 1) return Broken(at, v, "ERRM_FInit", 0);
    if (errm_AllocationCount() != start)
        return Broken(at, v, "blocks after ERRM_FInit", errm_AllocationCount() - start);
    if (OpenDescriptors() != fds) return Broken(at, v, "file descriptors", OpenDescriptors() - fds);
    return true;
}

// The sweep over a range of positions: one child per position, which runs
// the twelve variants of that byte (twelve loads, under the limit of 15).
constexpr int kParts = 8;

class CorruptionSweep : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Sample().empty()) << "no sample without '%' and 0xDA";
        WriteFile(dir_.file("cat.txt"), "copied by the follow-up action\n");
        ERRM_Set_Root_ForMemoryDescriptor((dir_.path() + "/").c_str());
        ERRM_Set_RootReportFiles(dir_.file("run").c_str());
        ERRM_Set_TranScriptFileName(dir_.file("run.tra").c_str());
        ERRM_Set_SearchPath("ERRM_CORRUPT_DIR");
    }

    TempDir dir_;
    ScopedEnv platform_{"ORV_VCO", "ixl"};
    ScopedEnv debug_{"KOVA_ERRM_LDBG", dir_.path() + ";0:0:0:1:0:T"};
    ScopedEnv catDir_{"ERRM_CORRUPT_DIR", dir_.path()};
};

// Commands named by a corrupted text are never run.
int NoCommand(const char *) {
    return 0;
}

} // namespace

TEST(CorruptionSample, IsServedExactlyWhenIntact) {
    const std::vector<std::uint8_t> &bytes = Sample();
    ASSERT_FALSE(bytes.empty());
    RecordProperty("sample_bytes", static_cast<int>(bytes.size()));
    Library lib(true);
    WriteBytes(bytes, lib.file("errm_desc_CORRUPT.bin"));
    ScopedEnv catDir("ERRM_CORRUPT_DIR", lib.dir().path());
    WriteFile(lib.file("cat.txt"), "copied\n");
    ERRM_Set_SearchPath("ERRM_CORRUPT_DIR");
    int index = -1;
    StdoutCapture out;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("corrupt", &index), 0);
    errmdesc::Catalogue cat;
    std::string error;
    ASSERT_TRUE(errmdesc::Read(bytes, &cat, nullptr, &error)) << error;
    ASSERT_EQ(errm_Subsystems[index].entryCount, 6);
    for (const errmdesc::Message &m : cat.messages) {
        ASSERT_EQ(errm_LookupEntry(static_cast<unsigned>(index), m.number), 0);
        const errm_MessageEntry *e = errm_CurrentEntry();
        EXPECT_STREQ(e->format, m.format.c_str());
        EXPECT_EQ(e->reportCount, static_cast<int>(m.reports.size()));
        EXPECT_EQ(e->catFlag, m.cat.empty() ? 0 : 1);
        EXPECT_EQ(e->cmdFlag, m.command.empty() ? 0 : 1);
        EXPECT_EQ(ERRM_ProcessError(static_cast<unsigned>(index), m.number), m.rc);
    }
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string text = out.Text();
    // The trace echo shows no internal error: the intact sample is clean.
    EXPECT_EQ(text.find("DLL-E("), std::string::npos) << text;
    EXPECT_NE(text.find("** Error: (Corrupted sample - SIM-0007 - "), std::string::npos);
    const std::string log = AfterHeader(lib.Report(".log"));
    // LOG is listed twice: every line of the message and its actions twice.
    EXPECT_EQ(Count(log, "-- cat " + lib.file("cat.txt") + " -- \n"), 2) << log;
    EXPECT_EQ(Count(log, "copied\n"), 2) << log;
    EXPECT_EQ(Count(log, "command output\n-- EOF -- \n"), 1) << log;
    EXPECT_NE(AfterHeader(lib.Report(".rep")).find("-- cat " + lib.dir().path() + "/cat.txt"),
              std::string::npos);
}

TEST_P(CorruptionSweep, EveryVariantOfEveryByteIsRefusedOrServed) {
    const std::size_t size = Sample().size();
    const std::size_t from = size * static_cast<std::size_t>(GetParam()) / kParts;
    const std::size_t to = size * static_cast<std::size_t>(GetParam() + 1) / kParts;
    const std::string dir = dir_.path();
    int failures = 0;
    for (std::size_t at = from; at < to; ++at) {
        int status = RunInChild([&] {
            // The lines go nowhere; failures are described on stderr.
            if (std::freopen("/dev/null", "w", stdout) == nullptr) return 90;
            errm_Sys.system = NoCommand;
            for (const Variant &v : Variants(at))
                if (!Cycle(dir, at, v)) return 1;
            return 0;
        });
        EXPECT_EQ(status, 0) << "position " << at << (status > 128 ? " crashed" : " failed");
        if (status != 0 && ++failures == 10) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, CorruptionSweep, ::testing::Range(0, kParts));
