// infos_test.cpp - ERRM_DisplayInfos: the version bytes and stamp read from
// a descriptor's header without loading it, the name and path limits, the
// refusals, and that every path out releases the file and its view.
#include "api_support.h"
#include "base/errm_alloc.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <sys/mman.h>

using namespace errmtest;

namespace {

// Output buffers filled with a marker, to see what the call wrote.
struct Out {
    char stamp[20];
    char version[8];
    Out() {
        std::memset(stamp, 'Z', sizeof stamp);
        std::memset(version, 'Y', sizeof version);
    }
    bool Untouched() const {
        for (char c : stamp)
            if (c != 'Z') return false;
        for (char c : version)
            if (c != 'Y') return false;
        return true;
    }
    int Call(const char *subsystem) { return ERRM_DisplayInfos(subsystem, stamp, version); }
};

errmdesc::Catalogue Stamped(const std::string &name, std::array<std::uint8_t, 4> version,
                            const std::string &stamp) {
    errmdesc::Catalogue cat = Cat(name, {Msg(1, kError, "one")});
    cat.version = version;
    cat.stamp = stamp;
    return cat;
}

std::vector<std::uint8_t> Bytes(const errmdesc::Catalogue &cat) {
    return errmdesc::Write(cat);
}

struct TracedLibrary {
    Library lib{true};
    TracedLibrary() { errm_OpenDllTrace(); }
};

ssize_t FailingRead(int, void *, std::size_t) {
    errno = EIO;
    return -1;
}

int FailingFstat(int, struct stat *) {
    return -1;
}

} // namespace

TEST(Infos, LowerCaseNameFindsTheUpperCaseFile) {
    Library lib;
    const std::string path =
        WriteDescriptor(Stamped("Sim", {2, 7, 9, 200}, "ABCDEFGHIJKL"), lib.dir().path());
    ASSERT_EQ(std::filesystem::path(path).filename(), "errm_desc_SIM.bin");
    ASSERT_LT(std::filesystem::file_size(path), 188u) << "a small descriptor is enough";
    for (const char *name : {"sim", "SIM", "sIm"}) {
        Out out;
        EXPECT_EQ(out.Call(name), 0) << name;
        EXPECT_STREQ(out.stamp, "ABCDEFGHIJKL");
        EXPECT_EQ(std::string(out.version, 4), std::string("\x02\x07\x09\xC8", 4));
        EXPECT_EQ(out.version[4], 'Y') << "four bytes, not terminated";
    }
}

TEST(Infos, StampEndsAfterTwelveBytesWhateverTheHeaderHolds) {
    Library lib;
    // Stamp and version are copied as stored, not converted to host order.
    std::vector<std::uint8_t> bytes = Bytes(Stamped("RAW", {1, 2, 3, 4}, "ABCDEFGHIJKL"));
    const char stamp[12] = {'A', 'B', 0, 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'};
    std::memcpy(bytes.data() + 44, stamp, 12);
    WriteBytes(bytes, lib.file("errm_desc_RAW.bin"));
    Out out;
    ASSERT_EQ(out.Call("raw"), 0);
    EXPECT_EQ(std::memcmp(out.stamp, stamp, 12), 0);
    EXPECT_EQ(out.stamp[12], '\0');
    EXPECT_EQ(out.stamp[13], 'Z');
    EXPECT_STREQ(out.stamp, "AB");
    EXPECT_EQ(std::string(out.version, 4), std::string("\x01\x02\x03\x04", 4));

    WriteDescriptor(Stamped("SHORT", {1, 0, 3, 0}, "X"), lib.dir().path());
    Out padded;
    ASSERT_EQ(padded.Call("short"), 0);
    EXPECT_STREQ(padded.stamp, "X");
    EXPECT_EQ(padded.stamp[13], 'Z');
}

TEST(Infos, WrongMagicGives1048AndLeavesTheBuffersAlone) {
    TracedLibrary traced;
    std::vector<std::uint8_t> bytes = Bytes(Stamped("BAD", {1, 0, 3, 0}, "ABCDEFGHIJKL"));
    const std::uint8_t wrong[4] = {0x78, 0x56, 0x34, 0x12};
    std::memcpy(bytes.data(), wrong, 4);
    WriteBytes(bytes, traced.lib.file("errm_desc_BAD.bin"));
    // The right number in the other byte order is wrong too.
    const std::uint8_t swapped[4] = {0x45, 0x78, 0x34, 0x17};
    std::memcpy(bytes.data(), swapped, 4);
    WriteBytes(bytes, traced.lib.file("errm_desc_SWAPPED.bin"));

    StdoutCapture capture;
    Out out;
    EXPECT_EQ(out.Call("bad"), 1048);
    EXPECT_EQ(out.Call("swapped"), 1048);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(Masked(capture.Text()),
              ErrLine(1, "MAGIC number invalid in SB=" + std::to_string(0x12345678) + kCore) +
                  ErrLine(2, "MAGIC number invalid in SB=" + std::to_string(0x17347845) + kCore));
}

TEST(Infos, NameOf63CharactersIsAcceptedAnd64Refused) {
    TracedLibrary traced;
    const std::string name63(63, 'n');
    WriteDescriptor(Stamped(name63, {1, 0, 3, 0}, "LONGNAME"), traced.lib.dir().path());
    StdoutCapture capture;
    Out ok;
    EXPECT_EQ(ok.Call(name63.c_str()), 0);
    EXPECT_STREQ(ok.stamp, "LONGNAME");
    Out refused;
    EXPECT_EQ(refused.Call((name63 + "n").c_str()), 1078);
    EXPECT_TRUE(refused.Untouched());
    EXPECT_EQ(Masked(capture.Text()), ErrLine(1, "Size error on copy found in SS" + kDescriptor));
}

TEST(Infos, MissingFileGives1071) {
    TracedLibrary traced;
    std::filesystem::create_directories(traced.lib.file("errm_desc_DIR.bin"));
    StdoutCapture capture;
    Out out;
    EXPECT_EQ(out.Call("nope"), 1071);
    EXPECT_EQ(out.Call("dir"), 1071) << "a directory is no descriptor";
    EXPECT_TRUE(out.Untouched());
    const std::string root = traced.lib.dir().path() + "/";
    EXPECT_EQ(Masked(capture.Text()),
              ErrLine(1, "Open file failure for " + root + "errm_desc_NOPE.bin" + kCore) +
                  ErrLine(2, "Open file failure for " + root + "errm_desc_DIR.bin" + kCore));
}

TEST(Infos, OnlyTheFiftySixByteHeaderIsNeeded) {
    TracedLibrary traced;
    const std::vector<std::uint8_t> full = Bytes(Stamped("CUT", {3, 1, 4, 1}, "HEADERONLY!!"));
    const std::string path = traced.lib.file("errm_desc_CUT.bin");
    StdoutCapture capture;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{55}}) {
        WriteBytes(std::vector<std::uint8_t>(full.begin(), full.begin() + size), path);
        Out out;
        EXPECT_EQ(out.Call("cut"), size == 0 ? 1069 : 1075) << size;
        EXPECT_TRUE(out.Untouched()) << size;
    }
    WriteBytes(std::vector<std::uint8_t>(full.begin(), full.begin() + 56), path);
    Out out;
    EXPECT_EQ(out.Call("cut"), 0);
    EXPECT_STREQ(out.stamp, "HEADERONLY!!");
    EXPECT_EQ(std::string(out.version, 4), std::string("\x03\x01\x04\x01", 4));
    EXPECT_EQ(Masked(capture.Text()),
              ErrLine(1, "MAP file failure for " + path + kCore) +
                  ErrLine(2, "READ MAPPED file failure for " + path + kCore) +
                  ErrLine(3, "READ MAPPED file failure for " + path + kCore));
}

TEST(Infos, PathOf1023CharactersFitsAnd1024Overflows) {
    TracedLibrary traced;
    // root + "/" + "errm_desc_X.bin": a root of 1007 characters makes 1023.
    std::string root = traced.lib.dir().path() + "/";
    root += std::string(1007 - root.size(), 'r');
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(root.c_str()), 1);
    StdoutCapture capture;
    Out out;
    EXPECT_EQ(out.Call("x"), 1071) << "the name fits; the file is missing";
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor((root + "r").c_str()), 1);
    EXPECT_EQ(out.Call("x"), 1077);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(Masked(capture.Text()),
              ErrLine(1, "Open file failure for " + root + "/errm_desc_X.bin" + kCore) +
                  ErrLine(2, "String cat overflow " + root + "r/errm_desc_X" + kDescriptor));
}

TEST(Infos, RootWithoutSlashGetsOneAndStaysAsSet) {
    Library lib;
    WriteDescriptor(Stamped("SIM", {1, 0, 3, 0}, "ROOT"), lib.dir().path());
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(lib.dir().path().c_str()), 1);
    Out out;
    EXPECT_EQ(out.Call("sim"), 0);
    EXPECT_STREQ(out.stamp, "ROOT");
    EXPECT_EQ(errm_G.RootForMemoryDescriptor, lib.dir().path());
}

TEST(Infos, NullArgumentsAreRefused) {
    TracedLibrary traced;
    WriteDescriptor(Stamped("SIM", {1, 0, 3, 0}, "S"), traced.lib.dir().path());
    char stamp[13];
    char version[4];
    StdoutCapture capture;
    EXPECT_EQ(ERRM_DisplayInfos(nullptr, stamp, version), 1070);
    EXPECT_EQ(ERRM_DisplayInfos("sim", nullptr, version), 1070);
    EXPECT_EQ(ERRM_DisplayInfos("sim", stamp, nullptr), 1070);
    EXPECT_EQ(Masked(capture.Text()), ErrLine(1, "ptr subsystem is NULL" + kCore) +
                                          ErrLine(2, "ptr stamp is NULL" + kCore) +
                                          ErrLine(3, "ptr version is NULL" + kCore));
}

TEST(Infos, EveryPathOutReleasesTheFileAndItsView) {
    SysGuard guard;
    Library lib;
    const std::string good = WriteDescriptor(Stamped("GOOD", {1, 0, 3, 0}, "G"), lib.dir().path());
    std::vector<std::uint8_t> bytes = Bytes(Stamped("BAD", {1, 0, 3, 0}, "B"));
    bytes[0] ^= 0xFF;
    const std::string bad = WriteBytes(bytes, lib.file("errm_desc_BAD.bin"));
    const std::string shortFile = WriteBytes({1, 2, 3}, lib.file("errm_desc_SHORT.bin"));
    const int fds = OpenFdCount();
    const int blocks = errm_AllocationCount();

    struct Case {
        const char *name;
        const std::string &path;
        int result;
    } cases[] = {{"good", good, 0}, {"bad", bad, 1048}, {"short", shortFile, 1075}};
    for (const Case &c : cases) {
        Out out;
        EXPECT_EQ(out.Call(c.name), c.result) << c.name;
        EXPECT_EQ(OpenFdCount(), fds) << c.name;
        EXPECT_EQ(FdsOpenOn(c.path), 0) << c.name;
        EXPECT_EQ(MappingsOf(c.path), 0) << c.name;
    }
    // Opened but its size unknown, then opened but its header unreadable.
    errm_Sys.fstat = FailingFstat;
    Out unsized;
    EXPECT_EQ(unsized.Call("good"), 1071);
    EXPECT_TRUE(unsized.Untouched());
    EXPECT_EQ(OpenFdCount(), fds);
    errm_SysRestore();
    errm_Sys.read = FailingRead;
    Out out;
    EXPECT_EQ(out.Call("good"), 1069);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(FdsOpenOn(good), 0);
    EXPECT_EQ(errm_AllocationCount(), blocks);
}

TEST(Infos, ReadFailureIsReportedAsMapFailure) {
    SysGuard guard;
    TracedLibrary traced;
    const std::string path =
        WriteDescriptor(Stamped("SIM", {1, 0, 3, 0}, "S"), traced.lib.dir().path());
    errm_Sys.read = FailingRead;
    StdoutCapture capture;
    Out out;
    EXPECT_EQ(out.Call("sim"), 1069);
    EXPECT_EQ(Masked(capture.Text()), ErrLine(1, "MAP file failure for " + path + kCore));
}

TEST(Infos, LibraryStateIsLeftAsItWas) {
    Library lib;
    const std::string path = WriteDescriptor(
        Cat("SIM", {Msg(1, kError, "one %d"), Msg(2, kWarning, "two %s")}), lib.dir().path());
    WriteDescriptor(Stamped("OTHER", {1, 0, 3, 0}, "O"), lib.dir().path());
    int ss = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &ss), 0);
    StdoutCapture capture;
    ASSERT_EQ(ERRM_ProcessError(ss, 1, 1), 0);
    const int blocks = errm_AllocationCount();
    const int loads = errm_LoadedCount();
    const int next = errm_CacheNextPosition();
    const int fds = OpenFdCount();

    Out sim, other, missing;
    EXPECT_EQ(sim.Call("sim"), 0);
    EXPECT_EQ(other.Call("other"), 0);
    EXPECT_EQ(missing.Call("missing"), 1071);
    EXPECT_EQ(errm_AllocationCount(), blocks);
    EXPECT_EQ(errm_LoadedCount(), loads);
    EXPECT_EQ(errm_CacheNextPosition(), next);
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(FdsOpenOn(path), 0) << "the loaded descriptor is a copy";
    EXPECT_EQ(MappingsOf(path), 0);

    // A cached message and one decoded from the loaded view afterwards.
    EXPECT_EQ(ERRM_ProcessError(ss, 1, 2), 0);
    EXPECT_EQ(ERRM_ProcessError(ss, 2, "b"), 0);
    EXPECT_EQ(capture.Text(), "** Error: (SIM - 1) one 1\n** Error: (SIM - 1) one 2\n"
                              "** Warning: (SIM - 2) two b\n");
}
