// entry_cache_test.cpp - message lookup: directory search, the round-robin
// entry cache, entry decoding and its refusals, the environment name table.
#include "base/errm_interr.h"
#include "desc_bytes.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_message.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

using namespace errmtest;

namespace {

std::vector<errmdesc::Message> Numbered(int from, int count, std::uint8_t severity = kError) {
    std::vector<errmdesc::Message> out;
    for (int i = 0; i < count; ++i)
        out.push_back(Msg(from + i, severity, "m" + std::to_string(from + i)));
    return out;
}

// Loads a hand-assembled descriptor holding one entry; returns its index.
int LoadRaw(Library &lib, const RawEntry &e, const std::string &name = "RAW") {
    WriteBytes(AssembleDescriptor(name, "", {e}), lib.file("errm_desc_" + name + ".bin"));
    int index = -1;
    return ERRM_ReadErrorDescriptor(name.c_str(), &index) == 0 ? index : -1;
}

} // namespace

TEST(DirectorySearch, FindsEveryRecordAndNothingElse) {
    std::vector<errm_DirRecord> dir;
    for (int n : {-100, -3, 0, 1, 7, 8, 1000, 2147483647})
        dir.push_back({n, 0, 0});
    const int count = static_cast<int>(dir.size());
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(errm_FindDirectoryEntry(dir.data(), dir[i].number, count), i);
    for (int n : {-2147483647 - 1, -101, -4, 2, 9, 999, 2147483646})
        EXPECT_EQ(errm_FindDirectoryEntry(dir.data(), n, count), -1) << n;
    EXPECT_EQ(errm_FindDirectoryEntry(dir.data(), 0, 0), -1);
    EXPECT_EQ(errm_FindDirectoryEntry(nullptr, 0, -1), -1);
    EXPECT_EQ(errm_FindDirectoryEntry(dir.data(), -100, 1), 0);
}

// The bucket index answers as the plain search does, for every number held
// and each one beside it, on directories numbered evenly, in clusters, over
// the whole int range, and on ones it must refuse (not strictly ascending).
TEST(DirectorySearch, BucketIndexAnswersAsTheBinarySearch) {
    struct Case {
        const char *what;
        std::vector<int> numbers;
        bool indexed; // whether an index is expected to be built
        bool exact;   // whether every position is guessed right
    };
    std::vector<int> even, clusters, wide, dup, unsorted;
    for (int i = 0; i < 300; ++i) even.push_back(1 + 3 * i);
    for (int i = 0; i < 100; ++i) clusters.insert(clusters.end(), {i, 50000 + i, 9000000 + 7 * i});
    std::sort(clusters.begin(), clusters.end());
    for (long long i = 0; i < 40; ++i) wide.push_back(static_cast<int>(INT_MIN + i * 107374182));
    wide.back() = 2147483647;
    dup = even;
    dup[150] = dup[149];
    unsorted = even;
    std::swap(unsorted[10], unsorted[11]);
    const Case cases[] = {{"even", even, true, true},         {"clusters", clusters, true, false},
                          {"whole int range", wide, true, false}, {"duplicate", dup, false, false},
                          {"unsorted", unsorted, false, false},   {"small", {1, 2, 5}, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<errm_DirRecord> dir;
        for (int n : c.numbers) dir.push_back({n, 0, 0});
        const int count = static_cast<int>(dir.size());
        std::vector<std::uint32_t> storage(errm_NumberIndexWords(dir.data(), count) + 1, 0xABABABABu);
        const errm_NumberIndex index =
            errm_BuildNumberIndex(dir.data(), count, storage.data(), storage.size() - 1);
        EXPECT_EQ(index.buckets != nullptr, c.indexed);
        EXPECT_EQ(storage.back(), 0xABABABABu) << "written beyond its words";
        if (index.buckets != nullptr) {
            EXPECT_LE(index.count, static_cast<std::uint32_t>(count));
        }
        // The guess only picks a record to fetch early: always one of the
        // directory's, the right one where the numbers are spread evenly.
        for (int n : {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX})
            EXPECT_LT(errm_GuessPosition(index, count, n), static_cast<std::uint32_t>(count)) << n;
        for (int i = 0; i < count; ++i) {
            std::uint32_t guess = errm_GuessPosition(index, count, c.numbers[i]);
            EXPECT_LT(guess, static_cast<std::uint32_t>(count));
            if (c.exact) {
                EXPECT_EQ(guess, static_cast<std::uint32_t>(i));
            }
        }
        for (int n : c.numbers)
            for (long long m : {static_cast<long long>(n) - 1, static_cast<long long>(n),
                                static_cast<long long>(n) + 1}) {
                if (m < INT_MIN || m > INT_MAX) continue;
                int k = static_cast<int>(m);
                ASSERT_EQ(errm_FindNumber(dir.data(), count, index, k),
                          errm_FindDirectoryEntry(dir.data(), k, count))
                    << k;
            }
    }
}

TEST(EntryCache, HitsDecodeNothingAndMissesFillRoundRobin) {
    Library lib;
    int ss = lib.Load(Cat("RR", Numbered(1, 17)));
    ASSERT_EQ(ss, 0);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_EQ(errm_CacheNextPosition(), 1);
    const errm_MessageEntry *first = errm_CurrentEntry();
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_EQ(errm_CacheNextPosition(), 1) << "a hit decodes nothing";
    EXPECT_EQ(errm_CurrentEntry(), first);

    for (int n = 2; n <= 16; ++n)
        ASSERT_EQ(errm_LookupEntry(0, n), 0);
    EXPECT_EQ(errm_CacheNextPosition(), 0);
    EXPECT_EQ(errm_FindCachedEntry(1), 0);
    // The seventeenth replaces the first, which is decoded again next time,
    // into the slot of position 1.
    ASSERT_EQ(errm_LookupEntry(0, 17), 0);
    EXPECT_EQ(errm_FindCachedEntry(1), -1);
    EXPECT_EQ(errm_FindCachedEntry(17), 0);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_EQ(errm_FindCachedEntry(1), 1);
    EXPECT_EQ(errm_FindCachedEntry(2), -1);
    EXPECT_STREQ(errm_CurrentEntry()->format, "m1");
}

TEST(EntryCache, ChangingSubsystemEmptiesTheCache) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", Numbered(1, 3))), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", Numbered(1, 3))), 1);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_EQ(errm_CurrentEntry()->owner, 0);
    ASSERT_EQ(errm_LookupEntry(1, 1), 0);
    EXPECT_EQ(errm_CurrentEntry()->owner, 1);
    EXPECT_EQ(errm_CacheNextPosition(), 1) << "the switch emptied the cache";
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_EQ(errm_CurrentEntry()->owner, 0);
    EXPECT_EQ(errm_CurrentSubsystem(), 0);
    // A load empties it too.
    ASSERT_EQ(lib.Load(Cat("CCC", Numbered(1, 1))), 2);
    EXPECT_EQ(errm_FindCachedEntry(1), -1);
}

TEST(EntryCache, SubsystemIndexesOutOfRange) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", Numbered(1, 1))), 0);
    EXPECT_EQ(errm_LookupEntry(15, 1), ERRM_E_NOT_LOADED);
    EXPECT_EQ(errm_LookupEntry(1, 1), ERRM_E_NOT_LOADED);
    EXPECT_EQ(errm_LookupEntry(16, 1), ERRM_E_BAD_INDEX);
    EXPECT_EQ(errm_LookupEntry(static_cast<unsigned>(-1), 1), ERRM_E_BAD_INDEX);
    EXPECT_EQ(errm_LookupEntry(0, 2), ERRM_E_NOT_FOUND);
    EXPECT_EQ(errm_CurrentSubsystem(), -1) << "failed lookups change nothing";
}

TEST(EntryCache, EmptyDirectoryFindsNothing) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("EMPTY", {})), 0);
    EXPECT_EQ(errm_LookupEntry(0, 0), ERRM_E_NOT_FOUND);
}

TEST(EntryCache, DisplayNameFollowsTheSubsystem) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", Numbered(1, 1), "Alpha")), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", Numbered(1, 1))), 1);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_STREQ(errm_SubsystemLabel(), "Alpha");
    ASSERT_EQ(errm_LookupEntry(1, 1), 0);
    EXPECT_STREQ(errm_SubsystemLabel(), "BBB");
}

TEST(EntryCache, FailedLoadLeavesCachedEntriesIntact) {
    Library lib;
    RawEntry good = RawEntry::Basic(1, "good");
    RawEntry bad = RawEntry::Basic(2, "bad");
    bad.severity = 9;
    WriteBytes(AssembleDescriptor("MIX", "", {good, bad}), lib.file("errm_desc_MIX.bin"));
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("mix", &index), 0);
    // Message 1 sits at position 0; the failing load of message 2 targets
    // position 1 and must leave every cached entry as it was.
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    const errm_MessageEntry *cached = errm_CurrentEntry();
    EXPECT_EQ(errm_LookupEntry(0, 2), ERRM_E_SEVERITY);
    EXPECT_EQ(errm_CurrentEntry(), cached) << "the current entry stays";
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_STREQ(errm_CurrentEntry()->format, "good");
    EXPECT_EQ(errm_CacheNextPosition(), 1);
}

TEST(EntryDecoding, FieldsOutOfTheirRangeRejectTheEntry) {
    struct Case {
        const char *what;
        void (*mutate)(RawEntry &);
        int code;
    } cases[] = {
        {"entry name length 0",
         [](RawEntry &e) {
             e.nameLen = 0;
             e.name = "";
         },
         ERRM_E_INTERNAL},
        {"entry name length 1024",
         [](RawEntry &e) {
             e.nameLen = 1024;
             e.name = std::string(1024, 'n');
         },
         ERRM_E_INTERNAL},
        {"record number differs",
         [](RawEntry &e) {
             e.otherDirNumber = true;
             e.dirNumber = 1;
             e.number = 5;
         },
         ERRM_E_BAD_ENTRY_NUMBER},
        {"identifier of 1024",
         [](RawEntry &e) {
             e.idLen = 1024;
             e.id = std::string(1024, 'i');
         },
         ERRM_E_INTERNAL},
        {"severity 0", [](RawEntry &e) { e.severity = 0; }, ERRM_E_SEVERITY},
        {"severity 9", [](RawEntry &e) { e.severity = 9; }, ERRM_E_SEVERITY},
        {"environment name of 129",
         [](RawEntry &e) {
             e.envLen = 129;
             e.env = std::string(129, 'E');
         },
         ERRM_E_INTERNAL},
        {"format of 4096",
         [](RawEntry &e) {
             e.formatLen = 4096;
             e.format = std::string(4096, 'f');
         },
         ERRM_E_INTERNAL},
        {"second text of 4096",
         [](RawEntry &e) {
             e.secondLen = 4096;
             e.second = std::string(4096, 's');
         },
         ERRM_E_INTERNAL},
        {"17 reports",
         [](RawEntry &e) {
             e.reportCount = 17;
             e.reports.assign(17, 0);
         },
         ERRM_E_INTERNAL},
        {"see of length 1",
         [](RawEntry &e) {
             e.seeLen = 1;
             e.see = "s";
         },
         ERRM_E_INTERNAL},
        {"see of 1024",
         [](RawEntry &e) {
             e.seeLen = 1024;
             e.see = std::string(1024, 's');
         },
         ERRM_E_INTERNAL},
        {"cat of length 1",
         [](RawEntry &e) {
             e.catLen = 1;
             e.cat = "c";
         },
         ERRM_E_INTERNAL},
        {"command of 1024",
         [](RawEntry &e) {
             e.cmdLen = 1024;
             e.cmd = std::string(1024, 'c');
         },
         ERRM_E_INTERNAL},
        {"format with %n",
         [](RawEntry &e) {
             e.format = "x%n";
             e.formatLen = 3;
         },
         ERRM_E_INTERNAL},
        {"format with %hhn",
         [](RawEntry &e) {
             e.format = "%hhn";
             e.formatLen = 4;
         },
         ERRM_E_INTERNAL},
        {"format with %1$n",
         [](RawEntry &e) {
             e.format = "%d%1$n";
             e.formatLen = 6;
         },
         ERRM_E_INTERNAL},
        {"format with %-08.3ln",
         [](RawEntry &e) {
             e.format = "%-08.3ln";
             e.formatLen = 8;
         },
         ERRM_E_INTERNAL},
    };
    for (const Case &c : cases) {
        int status = RunInChild([&] {
            Library lib;
            RawEntry e = RawEntry::Basic(1, "text");
            c.mutate(e);
            int index = LoadRaw(lib, e);
            if (index < 0) return 100;
            return errm_LookupEntry(static_cast<unsigned>(index), 1) == c.code ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << c.what;
    }
}

TEST(EntryDecoding, FieldsAtTheEdgesOfTheirRangeAreAccepted) {
    Library lib;
    RawEntry e = RawEntry::Basic(1, std::string(4095, 'f'));
    e.nameLen = 1023;
    e.name = std::string(1023, 'n');
    e.idLen = 1023;
    e.id = std::string(1023, 'i');
    e.envLen = 128;
    e.env = std::string(128, 'E');
    e.secondLen = 4095;
    e.second = std::string(4095, 's');
    e.reportCount = 16;
    e.reports.assign(16, 7);
    e.seeLen = 2;
    e.see = "ab";
    e.catLen = 1023;
    e.cat = "FILE=" + std::string(1018, 'c');
    e.cmdLen = 1023;
    e.cmd = "CMD=" + std::string(1019, 'x');
    e.force = 2;
    e.dateKind = 200;
    int index = LoadRaw(lib, e);
    ASSERT_EQ(index, 0);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    const errm_MessageEntry *m = errm_CurrentEntry();
    EXPECT_EQ(std::strlen(m->format), 4095u);
    EXPECT_EQ(m->idLength, 1023);
    EXPECT_EQ(m->reportCount, 16);
    EXPECT_EQ(m->reports[15], 7);
    EXPECT_STREQ(m->see, "ab");
    EXPECT_EQ(std::strlen(m->cat), 1023u);
    EXPECT_EQ(std::strlen(m->cmd), 1023u);
    EXPECT_EQ(m->forceDisplay, 0) << "only the byte 1 sets the flag";
    EXPECT_EQ(m->dateKind, 200u);
    // A doubled percent before an n is text, not a conversion.
    RawEntry p = RawEntry::Basic(2, "100%%n");
    ASSERT_EQ(LoadRaw(lib, p, "PCT"), 1);
    EXPECT_EQ(errm_LookupEntry(1, 2), 0);
}

// The widest decoration (a display name of 255, an identifier of 1023, a
// date) goes before the text, and the line feed after it.
TEST(EntryDecoding, TheWidestDecorationGoesBeforeTheText) {
    Library lib;
    RawEntry e = RawEntry::Basic(1, "text");
    e.idLen = 1023;
    e.id = std::string(1023, 'i');
    e.dateKind = 7; // dated, with the empty stamp
    const std::string display(255, 'D');
    WriteBytes(AssembleDescriptor("WIDE", display, {e}), lib.file("errm_desc_WIDE.bin"));
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("WIDE", &index), 0);
    ASSERT_EQ(errm_LookupEntry(static_cast<unsigned>(index), 1), 0);
    errm_MessageEntry *m = errm_CurrentEntry();
    std::memcpy(errm_Lines.sLine0, "text", 5);
    errm_Lines.sLine0Length = 4;
    errm_SetSubsystemContext(m->owner);
    const long n = errm_BuildDecoratedLine(m, 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(errm_Lines.decorated),
              "** Error: (" + display + " - " + e.id + " - ) text\n");
    EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(errm_Lines.decorated));
    EXPECT_EQ(std::string(errm_Lines.sLine0, errm_Lines.sLine0Length), "text");
}

// A format is parsed for %n at its record's first decoding only: every later
// decoding (the cache holds 16 entries, so 40 messages in turn are decoded
// each time) must still refuse each %n format and accept every other one.
TEST(EntryDecoding, CountingFormatsStayRefusedAtEveryDecoding) {
    Library lib;
    std::vector<RawEntry> entries;
    for (int n = 1; n <= 40; ++n)
        entries.push_back(RawEntry::Basic(n, n % 3 == 0 ? "x%n" : n % 3 == 1 ? "%d" : "100%%n"));
    WriteBytes(AssembleDescriptor("CNT", "", entries), lib.file("errm_desc_CNT.bin"));
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("cnt", &index), 0);
    for (int pass = 0; pass < 3; ++pass)
        for (int n = 1; n <= 40; ++n)
            ASSERT_EQ(errm_LookupEntry(static_cast<unsigned>(index), n),
                      n % 3 == 0 ? ERRM_E_INTERNAL : 0)
                << "pass " << pass << ", message " << n;
}

TEST(EnvironmentNames, RecordedOnceWithTheirValue) {
    Library lib;
    ScopedEnv a("ERRM_T_SHORT", "value");
    ScopedEnv b("ERRM_T_LONG", std::string(1024, 'v'));
    ScopedEnv c("ERRM_T_1023", std::string(1023, 'w'));
    std::vector<RawEntry> entries;
    int n = 1;
    for (const char *name : {"ERRM_T_SHORT", "ERRM_T_LONG", "ERRM_T_1023", "ERRM_T_UNSET"}) {
        RawEntry e = RawEntry::Basic(n++, "x");
        e.env = name;
        e.envLen = static_cast<unsigned>(e.env.size());
        entries.push_back(e);
    }
    WriteBytes(AssembleDescriptor("ENV", "", entries), lib.file("errm_desc_ENV.bin"));
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("env", &index), 0);
    for (int m = 1; m <= 4; ++m)
        ASSERT_EQ(errm_LookupEntry(0, m), 0);
    EXPECT_STREQ(errm_EnvNameValue("ERRM_T_SHORT"), "value");
    EXPECT_STREQ(errm_EnvNameValue("ERRM_T_LONG"), "?");
    EXPECT_EQ(std::string(errm_EnvNameValue("ERRM_T_1023")), std::string(1023, 'w'));
    EXPECT_STREQ(errm_EnvNameValue("ERRM_T_UNSET"), "");
    EXPECT_EQ(errm_EnvNameValue("ERRM_T_OTHER"), nullptr);
}

TEST(EnvironmentNames, TheThirtyThirdNameFailsTheEntry) {
    Library lib(true);
    std::vector<RawEntry> entries;
    for (int i = 1; i <= 33; ++i) {
        RawEntry e = RawEntry::Basic(i, "x");
        e.env = "ERRM_VAR_" + std::to_string(i);
        e.envLen = static_cast<unsigned>(e.env.size());
        entries.push_back(e);
    }
    WriteBytes(AssembleDescriptor("MANY", "", entries), lib.file("errm_desc_MANY.bin"));
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("many", &index), 0);
    for (int i = 1; i <= 32; ++i)
        ASSERT_EQ(errm_LookupEntry(0, i), 0) << i;
    StdoutCapture out;
    EXPECT_EQ(errm_LookupEntry(0, 33), ERRM_E_TOO_MANY_ENV);
    EXPECT_NE(out.Text().find("Too many env vars =32 @ src/descriptor/L="), std::string::npos);
    // A name already recorded costs no new row.
    EXPECT_EQ(errm_RegisterEnvName("ERRM_VAR_1"), 1);
}
