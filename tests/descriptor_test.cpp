// descriptor_test.cpp - loading and verifying descriptors: what the writer
// produces is read back exactly, hand-assembled bytes load too, and every
// malformed or truncated file is refused with its code without leaking.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "desc_bytes.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/mman.h>

using namespace errmtest;

namespace {

errmdesc::Catalogue FullCatalogue() {
    errmdesc::Message a = Msg(37, kError, "cannot open %s (code %d)", {kStdout, kLog});
    a.id = "SIM-0037";
    a.env = "SIM_TRACE";
    a.second = "comment text";
    a.force = 1;
    a.see = "User guide, section 4";
    a.dateKind = 2;
    a.cat = "FILE=notes.txt";
    a.command = "CMD=uname -a";
    a.rc = -2;
    errmdesc::Message b = Msg(-5, kWarning, "");
    b.reports = {};
    errmdesc::Message c = Msg(1000000, kDisplay, "%d%%",
                              {kPipe, kChi, kReportF, kDbgI, kDbgC, kReport, kTranscript, kLog});
    c.rc = 32767;
    return Cat("Sim", {a, b, c}, "Simulator");
}

int Load(const char *name) {
    int index = -1;
    int rc = ERRM_ReadErrorDescriptor(name, &index);
    return rc == 0 ? index : -rc;
}

} // namespace

TEST(DescriptorLoad, WriterOutputIsReadBackExactly) {
    Library lib;
    ASSERT_TRUE(lib.initialised());
    const int before = errm_AllocationCount();
    int index = lib.Load(FullCatalogue());
    ASSERT_EQ(index, 0);
    EXPECT_EQ(errm_AllocationCount(), before + 3);

    const errm_SubsystemRow &row = errm_Subsystems[0];
    EXPECT_EQ(row.loaded, 1);
    EXPECT_STREQ(row.name, "Sim");
    EXPECT_STREQ(row.displayName, "Simulator");
    ASSERT_EQ(row.entryCount, 3);
    EXPECT_EQ(row.directory[0].number, -5);
    EXPECT_EQ(row.directory[1].number, 37);
    EXPECT_EQ(row.directory[2].number, 1000000);

    ASSERT_EQ(errm_LookupEntry(0, 37), 0);
    const errm_MessageEntry *e = errm_CurrentEntry();
    EXPECT_EQ(e->number, 37);
    EXPECT_EQ(e->idLength, 8);
    EXPECT_STREQ(e->id, "SIM-0037");
    EXPECT_EQ(e->severity, kError);
    EXPECT_STREQ(e->format, "cannot open %s (code %d)");
    EXPECT_EQ(e->forceDisplay, 1);
    ASSERT_EQ(e->reportCount, 2);
    EXPECT_EQ(e->reports[0], kStdout);
    EXPECT_EQ(e->reports[1], kLog);
    EXPECT_EQ(e->reports[2], 17);
    EXPECT_EQ(e->seeFlag, 1);
    EXPECT_STREQ(e->see, "User guide, section 4");
    EXPECT_EQ(e->dateKind, 2u);
    EXPECT_EQ(e->catFlag, 1);
    EXPECT_STREQ(e->cat, "FILE=notes.txt");
    EXPECT_EQ(e->cmdFlag, 1);
    EXPECT_STREQ(e->cmd, "CMD=uname -a");
    EXPECT_EQ(e->rc, -2);
    EXPECT_EQ(e->owner, 0);

    ASSERT_EQ(errm_LookupEntry(0, -5), 0);
    e = errm_CurrentEntry();
    EXPECT_EQ(e->idLength, 0);
    EXPECT_STREQ(e->format, "");
    EXPECT_EQ(e->reportCount, 0);
    EXPECT_EQ(e->seeFlag, 0);
    EXPECT_STREQ(e->see, "?");
    EXPECT_EQ(e->catFlag, 0);
    EXPECT_STREQ(e->cat, "?");
    EXPECT_EQ(e->cmdFlag, 0);
    EXPECT_STREQ(e->cmd, "?");
    EXPECT_EQ(e->forceDisplay, 0);

    ASSERT_EQ(errm_LookupEntry(0, 1000000), 0);
    e = errm_CurrentEntry();
    EXPECT_EQ(e->severity, kDisplay);
    EXPECT_EQ(e->reportCount, 8);
    EXPECT_EQ(e->rc, 32767);
    EXPECT_EQ(errm_LookupEntry(0, 36), ERRM_E_NOT_FOUND);
}

TEST(DescriptorLoad, HandAssembledBytesLoad) {
    Library lib;
    RawEntry e = RawEntry::Basic(7, "seven %d");
    e.idLen = 3;
    e.id = "ID7";
    e.severity = kNote;
    e.seeLen = 2;
    e.see = "ab";
    e.rc = 12;
    RawEntry f = RawEntry::Basic(9, "nine");
    WriteBytes(AssembleDescriptor("HAND", "", {e, f}), lib.file("errm_desc_HAND.bin"));
    int index = Load("hand");
    ASSERT_EQ(index, 0);
    EXPECT_STREQ(errm_Subsystems[0].name, "HAND");
    EXPECT_STREQ(errm_Subsystems[0].displayName, "");
    ASSERT_EQ(errm_LookupEntry(0, 7), 0);
    const errm_MessageEntry *m = errm_CurrentEntry();
    EXPECT_STREQ(m->id, "ID7");
    EXPECT_EQ(m->severity, kNote);
    EXPECT_STREQ(m->format, "seven %d");
    EXPECT_STREQ(m->see, "ab");
    EXPECT_EQ(m->rc, 12);
    ASSERT_EQ(errm_LookupEntry(0, 9), 0);
    EXPECT_STREQ(errm_CurrentEntry()->format, "nine");

    // The writer and the assembler agree on the bytes of the same catalogue.
    errmdesc::Message w7 = Msg(7, kNote, "seven %d");
    w7.name = "E";
    w7.id = "ID7";
    w7.see = "ab";
    w7.rc = 12;
    errmdesc::Message w9 = Msg(9, kError, "nine");
    w9.name = "E";
    errmdesc::Catalogue c = Cat("HAND", {w7, w9});
    c.stamp = "STAMP-123456";
    EXPECT_EQ(errmdesc::Write(c), AssembleDescriptor("HAND", "", {e, f}));
}

TEST(DescriptorLoad, MagicMustBeInFileOrder) {
    Library lib(true);
    std::vector<std::uint8_t> bytes = AssembleDescriptor("MAG", "", {RawEntry::Basic(1, "x")});
    ASSERT_EQ(bytes[0], 0x17);
    ASSERT_EQ(bytes[3], 0x45);
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
    WriteBytes(bytes, lib.file("errm_desc_MAG.bin"));
    StdoutCapture out;
    EXPECT_EQ(Load("mag"), -ERRM_E_MAGIC);
    EXPECT_NE(out.Text().find("MAGIC number invalid in SB=" + std::to_string(0x17347845u) + " @"),
              std::string::npos);
    EXPECT_EQ(errm_Subsystems[0].loaded, 0);
}

TEST(DescriptorLoad, LoadBeforeInitFailsOnMagic) {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    WriteBytes(AssembleDescriptor("EARLY", "", {RawEntry::Basic(1, "x")}),
               dir.file("errm_desc_EARLY.bin"));
    ERRM_Set_Root_ForMemoryDescriptor(dir.path().c_str());
    // The byte order is not known before ERRM_Init: every word is swapped.
    EXPECT_EQ(Load("early"), -ERRM_E_MAGIC);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(Load("early"), 0);
}

TEST(DescriptorLoad, OldVersionAndDigestMismatchAreReportedButLoad) {
    Library lib(true);
    WriteBytes(AssembleDescriptor("OLD", "", {RawEntry::Basic(1, "x")}, 0),
               lib.file("errm_desc_OLD.bin"));
    {
        StdoutCapture out;
        EXPECT_EQ(Load("old"), 0);
        EXPECT_NE(out.Text().find("VERSION number old: GENV=3, MINV=100 @ F=src/descriptor/L="),
                  std::string::npos);
    }
    std::vector<std::uint8_t> bytes = AssembleDescriptor("MD", "", {RawEntry::Basic(1, "x")});
    bytes[24] ^= 0xFF;
    bytes[30] ^= 0x01;
    bytes[39] ^= 0x80;
    const unsigned b0 = bytes[24], b6 = bytes[30], b15 = bytes[39];
    WriteBytes(bytes, lib.file("errm_desc_MD.bin"));
    StdoutCapture out;
    EXPECT_EQ(Load("md"), 1);
    std::string text = out.Text();
    EXPECT_EQ(Count(text, "MD5 number invalid"), 3);
    EXPECT_NE(text.find("MD5 number invalid in SB=0 = " + std::to_string(b0) + " @"),
              std::string::npos);
    EXPECT_NE(text.find("MD5 number invalid in SB=6 = " + std::to_string(b6) + " @"),
              std::string::npos);
    EXPECT_NE(text.find("MD5 number invalid in SB=15 = " + std::to_string(b15) + " @"),
              std::string::npos);
}

// verify=strict refuses a descriptor whose digest differs from its bytes;
// without it the same file loads. An intact file loads either way.
TEST(DescriptorLoad, StrictVerificationRefusesADigestMismatch) {
    struct Case {
        const char *options;
        bool damaged;
        int result; // index, or minus the code
        int md5Lines;
    };
    const Case cases[] = {
        {nullptr, false, 0, 0},         {nullptr, true, 0, 1},
        {"verify=strict", false, 0, 0}, {"verify=strict", true, -ERRM_E_MD5, 1},
        {"verify=default", true, 0, 1}, {"diagnostics=off,verify=strict", true, -ERRM_E_MD5, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.options ? c.options : "(none)") + (c.damaged ? " damaged" : ""));
        ScopedEnv options("ERRM_OPTIONS", c.options ? std::optional<std::string>(c.options)
                                                    : std::nullopt);
        ASSERT_EQ(RunInChild([&] {
                      Library lib(true);
                      std::vector<std::uint8_t> bytes =
                          AssembleDescriptor("SV", "", {RawEntry::Basic(1, "x")});
                      if (c.damaged) bytes[31] ^= 0x10;
                      WriteBytes(bytes, lib.file("errm_desc_SV.bin"));
                      int result = Load("sv");
                      std::string trace = ReadFile(lib.file(
                          "errm_dll_trace_" + std::to_string(getpid()) + ".txt"));
                      if (result != c.result) return 1;
                      if (Count(trace, "MD5 number invalid in SB=7") != c.md5Lines) return 2;
                      if ((errm_Subsystems[0].loaded == 1) != (result == 0)) return 3;
                      return 0;
                  }),
                  0);
    }
}

TEST(DescriptorLoad, VersionOneZeroZeroLoadsSilently) {
    Library lib(true);
    errmdesc::Catalogue c = Cat("V100", {Msg(1, kError, "x")});
    c.version = {1, 0, 0, 0};
    WriteDescriptor(c, lib.dir().path());
    StdoutCapture out;
    EXPECT_EQ(Load("v100"), 0);
    EXPECT_EQ(out.Text().find("DLL-E"), std::string::npos);
}

TEST(DescriptorLoad, SubsystemNameLengthAndCase) {
    Library lib;
    std::string name63(63, 'a'), name64(64, 'a');
    WriteDescriptor(Cat(std::string(63, 'A'), {Msg(1, kError, "x")}), lib.dir().path());
    EXPECT_EQ(Load(name63.c_str()), 0);
    EXPECT_EQ(Load(name64.c_str()), -ERRM_E_COPY_SIZE);

    // abc and ABC open the same file; the row keeps the name stored in it.
    WriteDescriptor(Cat("aBc", {Msg(1, kError, "x")}), lib.dir().path());
    EXPECT_EQ(Load("abc"), 1);
    EXPECT_EQ(Load("ABC"), 2);
    EXPECT_STREQ(errm_Subsystems[1].name, "aBc");
    EXPECT_STREQ(errm_Subsystems[2].name, "aBc");
}

TEST(DescriptorLoad, NullArgumentsAreRefused) {
    Library lib;
    int index = -1;
    EXPECT_EQ(ERRM_ReadErrorDescriptor(nullptr, &index), ERRM_E_NULL);
    EXPECT_EQ(ERRM_ReadErrorDescriptor("X", nullptr), ERRM_E_NULL);
    EXPECT_EQ(index, -1);
}

TEST(DescriptorLoad, RootGetsItsSlashAndLongRootsFail) {
    Library lib;
    WriteDescriptor(Cat("ABC", {Msg(1, kError, "x")}), lib.dir().path());
    ERRM_Set_Root_ForMemoryDescriptor(lib.dir().path().c_str());
    EXPECT_EQ(Load("abc"), 0);
    EXPECT_EQ(std::string(errm_G.RootForMemoryDescriptor), lib.dir().path() + "/");

    std::string root(1023, 'r');
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(root.c_str()), 1);
    EXPECT_EQ(Load("abc"), -ERRM_E_CAT_OVERFLOW);
    EXPECT_EQ(std::string(errm_G.RootForMemoryDescriptor), root);
}

TEST(DescriptorLoad, MissingFileAndFifteenLoadLimit) {
    Library lib;
    WriteDescriptor(Cat("ONE", {Msg(1, kError, "x")}), lib.dir().path());
    EXPECT_EQ(Load("missing"), -ERRM_E_OPEN);
    for (int i = 0; i < 15; ++i)
        ASSERT_EQ(Load("one"), i);
    const int before = errm_AllocationCount();
    EXPECT_EQ(Load("one"), -ERRM_E_TOO_MANY_SS);
    EXPECT_EQ(Load("missing"), -ERRM_E_OPEN);
    EXPECT_EQ(errm_AllocationCount(), before);
    EXPECT_EQ(errm_LoadedCount(), 15);
}

TEST(DescriptorLoad, IndexesContinueAcrossCyclesAndFailuresTakeNone) {
    Library lib;
    WriteDescriptor(Cat("ONE", {Msg(1, kError, "x")}), lib.dir().path());
    WriteBytes({0x00, 0x01}, lib.file("errm_desc_BAD.bin"));
    EXPECT_EQ(Load("bad"), -ERRM_E_READ_MAPPED);
    EXPECT_EQ(Load("one"), 0);
    EXPECT_EQ(Load("one"), 1);
    EXPECT_EQ(Load("one"), 2);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_Subsystems[0].loaded, 0);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(Load("one"), 3);
}

TEST(DescriptorLoad, SecondInitWithoutFInitReleasesTheCycle) {
    Library lib;
    const int start = errm_AllocationCount();
    lib.Load(Cat("ONE", {Msg(1, kError, "x", {kLog})}));
    ASSERT_EQ(ERRM_ProcessError(0, 1), 0);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(errm_AllocationCount(), start);
    EXPECT_EQ(errm_Subsystems[0].loaded, 0);
    EXPECT_EQ(Load("one"), 1);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), start - 1); // the Return buffer too
}

TEST(DescriptorLoad, HeaderDumpWhenAsked) {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv dbg("KOVA_ERRM_LDBG", "NO_DIR_FLAGS:X:X:T");
    ERRM_Set_Root_ForMemoryDescriptor(dir.path().c_str());
    std::vector<std::uint8_t> bytes = AssembleDescriptor("DUMP", "", {RawEntry::Basic(1, "x")});
    WriteBytes(bytes, dir.file("errm_desc_DUMP.bin"));
    StdoutCapture out;
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(Load("dump"), 0);
    std::string text = out.Text();
    std::size_t at = text.find("Dumper(SB): 64 values on   4 lines\n");
    ASSERT_NE(at, std::string::npos) << text;
    std::string first = text.substr(text.find('\n', at) + 1);
    first = first.substr(0, first.find('\n') + 1);
    EXPECT_EQ(
        first, "000 : 17 34 78 45 01 00 00 00 " +
                   [&] {
                       char buf[64];
                       std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X ", bytes[8], bytes[9],
                                     bytes[10], bytes[11]);
                       return std::string(buf);
                   }() +
                   "3E 00 00 00 " +
                   [&] {
                       std::string chars;
                       for (int i = 0; i < 16; ++i)
                           chars += bytes[i] >= 32 && bytes[i] <= 122 ? char(bytes[i]) : '.';
                       return chars;
                   }() +
                   " - 016 \n");
    EXPECT_NE(text.find("\n048 : "), std::string::npos);
    EXPECT_NE(text.find(" - 064 \n"), std::string::npos);
}

// ------------------------------------------------------------ malformed files

TEST(DescriptorBounds, RegionsOutsideTheFileAreRefused) {
    Library lib(true);
    const std::vector<std::uint8_t> good =
        AssembleDescriptor("BND", "Disp", {RawEntry::Basic(1, "x"), RawEntry::Basic(2, "y")});
    auto put32 = [](std::vector<std::uint8_t> b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    struct Case {
        const char *what;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"entry count beyond the file", put32(good, 4, 1000)},
        {"huge entry count", put32(good, 4, 0xFFFFFFFFu)},
        {"directory offset beyond the file",
         put32(good, 12, static_cast<std::uint32_t>(good.size()))},
        {"checksum range beyond the file", put32(good, 8, static_cast<std::uint32_t>(good.size()))},
        {"checksum start beyond the file", put32(good, 16, 0xFFFFFFF0u)},
        {"name longer than 63",
         [&] {
             auto b = good;
             b[56] = 64;
             return b;
         }()},
        {"display name beyond the file",
         [&] {
             auto b = good;
             b[60] = 255;
             b.resize(200);
             return b;
         }()},
    };
    // The first load opens the trace file, whose name the file manager keeps.
    EXPECT_EQ(Load("missing"), -ERRM_E_OPEN);
    const int start = errm_AllocationCount();
    for (const Case &c : cases) {
        WriteBytes(c.bytes, lib.file("errm_desc_BND.bin"));
        StdoutCapture out;
        EXPECT_EQ(Load("bnd"), -ERRM_E_READ_MAPPED) << c.what;
        EXPECT_NE(out.Text().find("READ MAPPED file failure for "), std::string::npos) << c.what;
        EXPECT_EQ(errm_AllocationCount(), start) << c.what;
    }
    EXPECT_EQ(errm_LoadedCount(), 0);
}

namespace {

// Sweeps a descriptor through every truncation length, in a child process
// per length: the load either fails with a documented code and leaks
// nothing, or it succeeds and every message is decoded or refused.
void SweepTruncations(const std::vector<std::uint8_t> &bytes, const std::vector<int> &numbers,
                      int *loadedCount) {
    Library lib;
    const std::set<int> loadCodes = {ERRM_E_READ_MAPPED, ERRM_E_MAGIC, ERRM_E_MAP};
    const std::set<int> entryCodes = {ERRM_E_READ_MAPPED, ERRM_E_INTERNAL, ERRM_E_BAD_ENTRY_NUMBER,
                                      ERRM_E_SEVERITY, ERRM_E_NOT_FOUND};
    *loadedCount = 0;
    for (std::size_t len = 0; len <= bytes.size(); ++len) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(len));
        WriteBytes(cut, lib.file("errm_desc_CUT.bin"));
        int status = RunInChild([&] {
            const int start = errm_AllocationCount();
            int index = -1;
            int rc = ERRM_ReadErrorDescriptor("cut", &index);
            if (rc != 0) return loadCodes.count(rc) && errm_AllocationCount() == start ? 10 : 1;
            for (int n : numbers) {
                int r = errm_LookupEntry(static_cast<unsigned>(index), n);
                if (r != 0 && !entryCodes.count(r)) return 2;
                if (r == 0 && errm_CurrentEntry()->number != n) return 3;
            }
            return 0;
        });
        EXPECT_TRUE(status == 0 || status == 10) << "length " << len << " status " << status;
        if (status == 0) ++*loadedCount;
    }
}

} // namespace

TEST(DescriptorBounds, EveryTruncationIsRefusedOrServedSafely) {
    errmdesc::Catalogue full = FullCatalogue();
    std::vector<int> numbers;
    for (const errmdesc::Message &m : full.messages)
        numbers.push_back(m.number);
    std::vector<std::uint8_t> bytes = errmdesc::Write(full);

    // Our writer's checksum covers the whole file: only the whole file loads.
    int loaded = 0;
    SweepTruncations(bytes, numbers, &loaded);
    EXPECT_EQ(loaded, 1);

    // A writer whose checksum covers only the names and the directory lets
    // truncated entry records load: their decoding must stay inside the file.
    std::uint32_t dirOffset = bytes[12] | bytes[13] << 8 | bytes[14] << 16 | bytes[15] << 24;
    std::uint32_t covered = dirOffset + 12 * static_cast<std::uint32_t>(numbers.size()) - 56;
    for (int i = 0; i < 4; ++i)
        bytes[8 + i] = static_cast<std::uint8_t>(covered >> (8 * i));
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, bytes.data() + 56, covered);
    MD5Final(bytes.data() + 24, &ctx);
    SweepTruncations(bytes, numbers, &loaded);
    EXPECT_EQ(loaded, static_cast<int>(bytes.size() - (56 + covered)) + 1);
}

// ------------------------------------------------ where the copy is placed

namespace {

// Anonymous bytes mapped and given back, counted through the platform table.
std::int64_t g_mappedBytes = 0;

void *CountingMap(void *addr, std::size_t len, int prot, int flags, int fd, off_t off) {
    void *at = errm_SysDefault.mmap(addr, len, prot, flags, fd, off);
    if (at != MAP_FAILED && (flags & MAP_ANONYMOUS) != 0)
        g_mappedBytes += static_cast<std::int64_t>(len);
    return at;
}

int CountingUnmap(void *addr, std::size_t len) {
    g_mappedBytes -= static_cast<std::int64_t>(len);
    return errm_SysDefault.munmap(addr, len);
}

} // namespace

// The copy keeps the file's own alignment, so the directory may start at any
// byte: names of 1 to 4 characters put it at each remainder modulo 4, in a
// small descriptor and in one over a huge page. Every message must be found
// with its own text, and release must give back every byte mapped for it.
TEST(DescriptorCopy, DirectoryAtAnyByteAndEveryMappedByteGivenBack) {
    for (int messages : {5, 40000}) {
        for (const char *name : {"A", "AB", "ABC", "ABCD"}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(messages));
            g_mappedBytes = 0;
            errm_Sys.mmap = CountingMap;
            errm_Sys.munmap = CountingUnmap;
            {
                Library lib;
                ASSERT_TRUE(lib.initialised());
                std::vector<errmdesc::Message> list;
                for (int i = 0; i < messages; ++i)
                    list.push_back(Msg(3 * i - 7, kError, "m" + std::to_string(i)));
                int index = lib.Load(Cat(name, list));
                ASSERT_GE(index, 0);
                const errm_SubsystemRow &row = errm_Subsystems[index];
                EXPECT_EQ(row.viewSize > (2u << 20), messages > 5);
                for (int i = 0; i < messages; i += messages / 5) {
                    ASSERT_EQ(errm_LookupEntry(static_cast<unsigned>(index), 3 * i - 7), 0);
                    EXPECT_EQ(std::string(errm_CurrentEntry()->format), "m" + std::to_string(i));
                }
                EXPECT_EQ(errm_LookupEntry(static_cast<unsigned>(index), -6), ERRM_E_NOT_FOUND);
                EXPECT_EQ(ERRM_FInit(), 1);
            }
            errm_SysRestore();
            EXPECT_EQ(g_mappedBytes, 0);
        }
    }
}
