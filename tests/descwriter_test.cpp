// descwriter_test.cpp - the descriptor writer and reader: round trips of every
// field, the written layout, Validate's rejections, and Read against
// truncated, corrupted and differently laid-out descriptors.
#include "errm_descwriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>

namespace {

using errmdesc::Catalogue;
using errmdesc::Message;
using errmdesc::ReadInfo;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t GetU32(const Bytes &b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

void PutU32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutU16(Bytes &b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Recomputes the header digest after a test has patched the bytes, so that
// only the patched field differs from a well-formed file.
void Reseal(Bytes &b) {
    const auto d = errmdesc::Digest(b.data() + GetU32(b, 16), GetU32(b, 8));
    std::copy(d.begin(), d.end(), b.begin() + 24);
}

void ExpectSameMessage(const Message &a, const Message &b) {
    SCOPED_TRACE("message " + std::to_string(a.number));
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.spareWord, b.spareWord);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.severity, b.severity);
    EXPECT_EQ(a.env, b.env);
    EXPECT_EQ(a.format, b.format);
    EXPECT_EQ(a.second, b.second);
    EXPECT_EQ(a.spareByte, b.spareByte);
    EXPECT_EQ(a.force, b.force);
    EXPECT_EQ(a.reports, b.reports);
    EXPECT_EQ(a.see, b.see);
    EXPECT_EQ(a.dateKind, b.dateKind);
    EXPECT_EQ(a.cat, b.cat);
    EXPECT_EQ(a.command, b.command);
    EXPECT_EQ(a.rc, b.rc);
    EXPECT_EQ(a.dirSpare, b.dirSpare);
}

Message Simple(std::int32_t number, std::string name) {
    Message m;
    m.number = number;
    m.name = std::move(name);
    m.severity = 1;
    m.format = "text of " + m.name;
    return m;
}

// Every field set, most of them at a bound.
Catalogue FullCatalogue() {
    Catalogue c;
    c.subsystem = std::string(63, 'S');
    c.displayName = std::string(255, 'd');
    c.version = {9, 8, 7, 0xEE};
    c.stamp = "rel-2026-12x"; // exactly 12 bytes: no terminator in the file
    c.reserved = 0xA1B2C3D4u;

    Message big;
    big.number = std::numeric_limits<std::int32_t>::max();
    big.spareWord = 0xDEADBEEFu;
    big.name = std::string(1023, 'N');
    big.id = std::string(1023, 'I');
    big.severity = 8;
    big.env = std::string(128, 'E');
    big.format = std::string(4095, 'F');
    big.second = std::string(4095, 'C');
    big.spareByte = 0x5A;
    big.force = 1;
    big.reports = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 6};
    big.see = "S" + std::string(1022, 's');
    big.dateKind = 3;
    big.cat = "FILE=" + std::string(1018, 'f');
    big.command = "CMD=" + std::string(1019, 'c');
    big.rc = std::numeric_limits<std::int16_t>::max();
    big.dirSpare = 0x01020304u;

    Message small;
    small.number = std::numeric_limits<std::int32_t>::min();
    small.name = "X";
    small.id = "I";
    small.severity = 1;
    small.env = "E";
    small.format = "%s";
    small.second = "c";
    small.reports = {7};
    small.see = "ab";
    small.dateKind = 0;
    small.cat = "FILE=";
    small.command = "CMD=";
    small.rc = std::numeric_limits<std::int16_t>::min();

    Message none; // every optional field absent
    none.number = 0;
    none.name = "NONE";
    none.severity = 5;
    none.dateKind = 2;
    none.rc = -1;

    c.messages = {big, small, none};
    return c;
}

Catalogue ThreeMessages() {
    Catalogue c;
    c.subsystem = "sim";
    c.displayName = "Simulator";
    c.stamp = "202612011200";
    c.messages = {Simple(37, "OPEN_FAILED"), Simple(-5, "NEGATIVE"), Simple(2, "TWO")};
    c.messages[0].see = "see the guide";
    c.messages[0].cat = "FILE=notes.txt";
    c.messages[0].command = "CMD=uname -a";
    c.messages[0].reports = {0, 7};
    c.messages[1].second = "a comment nobody reads";
    return c;
}

// ------------------------------------------------------------- round trips

TEST(descwriter_roundtrip, EveryFieldAtItsBounds) {
    const Catalogue in = FullCatalogue();
    ASSERT_TRUE(errmdesc::Validate(in).empty());
    const Bytes bytes = errmdesc::Write(in);

    Catalogue out;
    ReadInfo info;
    std::string error;
    ASSERT_TRUE(errmdesc::Read(bytes, &out, &info, &error)) << error;
    EXPECT_TRUE(info.digestMatches);
    EXPECT_EQ(out.subsystem, in.subsystem);
    EXPECT_EQ(out.displayName, in.displayName);
    EXPECT_EQ(out.version, in.version);
    EXPECT_EQ(out.stamp, in.stamp);
    EXPECT_EQ(info.rawStamp, in.stamp);
    EXPECT_EQ(out.reserved, in.reserved);
    ASSERT_EQ(out.messages.size(), 3u);
    // Directory order: INT32_MIN, 0, INT32_MAX.
    ExpectSameMessage(out.messages[0], in.messages[1]);
    ExpectSameMessage(out.messages[1], in.messages[2]);
    ExpectSameMessage(out.messages[2], in.messages[0]);
    EXPECT_TRUE(errmdesc::Validate(out).empty());
}

TEST(descwriter_roundtrip, ShortStampIsZeroPaddedAndReadBackWithoutPadding) {
    Catalogue in = ThreeMessages();
    in.stamp = "v1";
    const Bytes bytes = errmdesc::Write(in);
    EXPECT_EQ(std::string(bytes.begin() + 44, bytes.begin() + 56),
              std::string("v1\0\0\0\0\0\0\0\0\0\0", 12));
    Catalogue out;
    ReadInfo info;
    ASSERT_TRUE(errmdesc::Read(bytes, &out, &info, nullptr));
    EXPECT_EQ(out.stamp, "v1");
    EXPECT_EQ(info.rawStamp.size(), 12u);
}

TEST(descwriter_roundtrip, EmptyCatalogueHasAnEmptyDirectory) {
    Catalogue in;
    in.subsystem = "E";
    const Bytes bytes = errmdesc::Write(in);
    EXPECT_EQ(bytes.size(), 56u + 2u + 1u);
    Catalogue out;
    ReadInfo info;
    std::string error;
    ASSERT_TRUE(errmdesc::Read(bytes, &out, &info, &error)) << error;
    EXPECT_EQ(info.entryCount, 0u);
    EXPECT_EQ(info.directoryOffset, bytes.size());
    EXPECT_TRUE(out.messages.empty());
    EXPECT_TRUE(info.digestMatches);
}

TEST(descwriter_roundtrip, SameCatalogueGivesSameBytes) {
    EXPECT_EQ(errmdesc::Write(FullCatalogue()), errmdesc::Write(FullCatalogue()));
}

TEST(descwriter_roundtrip, TooLongTextsAreCutToTheirLengthField) {
    Catalogue in = ThreeMessages();
    in.displayName = std::string(300, 'x');
    in.stamp = "0123456789abcdef";
    Catalogue out;
    std::string error;
    ASSERT_TRUE(errmdesc::Read(errmdesc::Write(in), &out, nullptr, &error)) << error;
    EXPECT_EQ(out.displayName, std::string(255, 'x'));
    EXPECT_EQ(out.stamp, "0123456789ab");
    EXPECT_EQ(out.messages.size(), 3u);
}

// ------------------------------------------------------------------ layout

TEST(descwriter_layout, HeaderNamesDirectoryThenEntries) {
    const Catalogue in = ThreeMessages();
    const Bytes b = errmdesc::Write(in);
    EXPECT_EQ((Bytes{b.begin(), b.begin() + 4}), (Bytes{0x17, 0x34, 0x78, 0x45}));
    EXPECT_EQ(GetU32(b, 4), 3u);
    EXPECT_EQ(GetU32(b, 16), 56u);
    EXPECT_EQ(GetU32(b, 8), b.size() - 56);
    EXPECT_EQ((Bytes{b.begin() + 40, b.begin() + 44}), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(b[56], 3);
    EXPECT_EQ(std::string(b.begin() + 57, b.begin() + 60), "sim");
    EXPECT_EQ(b[60], 9);
    const std::uint32_t dir = GetU32(b, 12);
    EXPECT_EQ(dir, 61u + 9u);
    // Directory numbers ascending as signed values; entries follow it in order.
    std::uint32_t expectOffset = dir + 3 * 12;
    const std::int32_t numbers[] = {-5, 2, 37};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(static_cast<std::int32_t>(GetU32(b, dir + 12 * i)), numbers[i]);
        EXPECT_EQ(GetU32(b, dir + 12 * i + 4), expectOffset);
        // the entry's own number at record offset 8 + L
        const std::uint32_t l = GetU32(b, expectOffset + 4);
        EXPECT_EQ(static_cast<std::int32_t>(GetU32(b, expectOffset + 8 + l)), numbers[i]);
        if (i < 2) expectOffset = GetU32(b, dir + 12 * (i + 1) + 4);
    }
}

TEST(descwriter_layout, DigestIsTheMd5OfOffset56ToTheEnd) {
    // RFC 1321 test vectors first, so that the digest itself is known good.
    const std::string abc = "abc";
    const auto d = errmdesc::Digest(reinterpret_cast<const std::uint8_t *>(abc.data()), 3);
    const std::array<std::uint8_t, 16> expect = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                                 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(d, expect);
    const std::array<std::uint8_t, 16> empty = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                                0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(errmdesc::Digest(nullptr, 0), empty);

    const Bytes b = errmdesc::Write(ThreeMessages());
    const auto whole = errmdesc::Digest(b.data() + 56, b.size() - 56);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), b.begin() + 24));
}

TEST(descwriter_layout, EntryFieldsInOrderLittleEndian) {
    Catalogue c;
    c.subsystem = "A";
    Message m;
    m.number = 0x01020304;
    m.spareWord = 0x11223344;
    m.name = "N";
    m.id = "ID";
    m.severity = 3;
    m.env = "V";
    m.format = "f";
    m.second = "s";
    m.spareByte = 9;
    m.force = 1;
    m.reports = {5, 6};
    m.see = "ss";
    m.dateKind = 2;
    m.cat = "FILE=x";
    m.command = "CMD=y";
    m.rc = -2;
    c.messages = {m};
    const Bytes b = errmdesc::Write(c);
    const std::size_t e = GetU32(b, GetU32(b, 12) + 4);
    const Bytes expect = {0x44, 0x33, 0x22, 0x11, 1, 0,   0,   0,   'N', 4,   3,    2,   1,   2,
                          0,    'I',  'D',  3,    1, 0,   'V', 1,   0,   'f', 1,    0,   's', 9,
                          1,    2,    5,    6,    2, 0,   's', 's', 2,   6,   0,    'F', 'I', 'L',
                          'E',  '=',  'x',  5,    0, 'C', 'M', 'D', '=', 'y', 0xFE, 0xFF};
    ASSERT_EQ(b.size(), e + expect.size());
    EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(e), b.end()), expect);
}

TEST(descwriter_layout, DuplicateNumbersKeepTheirInputOrder) {
    Catalogue c = ThreeMessages();
    c.messages.push_back(Simple(2, "SECOND_TWO"));
    const Bytes b = errmdesc::Write(c);
    const std::uint32_t dir = GetU32(b, 12);
    // -5, 2 (TWO), 2 (SECOND_TWO), 37
    const std::uint32_t first = GetU32(b, dir + 12 + 4);
    const std::uint32_t second = GetU32(b, dir + 24 + 4);
    EXPECT_EQ(std::string(b.begin() + first + 8, b.begin() + first + 11), "TWO");
    EXPECT_EQ(std::string(b.begin() + second + 8, b.begin() + second + 18), "SECOND_TWO");
    // Such a directory is not strictly ascending, so Read refuses it.
    std::string error;
    EXPECT_FALSE(errmdesc::Read(b, nullptr, nullptr, &error));
    EXPECT_NE(error.find("ascending"), std::string::npos) << error;
}

// --------------------------------------------------------------- Validate

TEST(descwriter_validate, BoundaryValuesAreAccepted) {
    EXPECT_TRUE(errmdesc::Validate(FullCatalogue()).empty());
    EXPECT_TRUE(errmdesc::Validate(ThreeMessages()).empty());
    Catalogue c;
    c.subsystem = "X";
    EXPECT_TRUE(errmdesc::Validate(c).empty());
}

struct Rejection {
    const char *what;
    std::function<void(Catalogue &)> spoil;
    const char *expect; // a piece of the problem text
};

TEST(descwriter_validate, EachBoundIsEnforced) {
    const std::vector<Rejection> cases = {
        {"empty subsystem", [](Catalogue &c) { c.subsystem.clear(); }, "subsystem name of 0"},
        {"64-byte subsystem", [](Catalogue &c) { c.subsystem = std::string(64, 'x'); },
         "subsystem name of 64"},
        {"256-byte display name", [](Catalogue &c) { c.displayName = std::string(256, 'x'); },
         "display name of 256"},
        {"major 10", [](Catalogue &c) { c.version[0] = 10; }, "version major 10"},
        {"minor 10", [](Catalogue &c) { c.version[1] = 10; }, "version minor 10"},
        {"patch 10", [](Catalogue &c) { c.version[2] = 10; }, "version patch 10"},
        {"13-byte stamp", [](Catalogue &c) { c.stamp = std::string(13, '1'); }, "stamp of 13"},
        {"empty entry name", [](Catalogue &c) { c.messages[0].name.clear(); }, "entry name of 0"},
        {"1024-byte entry name", [](Catalogue &c) { c.messages[0].name = std::string(1024, 'n'); },
         "entry name of 1024"},
        {"1024-byte id", [](Catalogue &c) { c.messages[0].id = std::string(1024, 'i'); },
         "identifier of 1024"},
        {"severity 0", [](Catalogue &c) { c.messages[0].severity = 0; }, "severity code 0"},
        {"severity 9", [](Catalogue &c) { c.messages[0].severity = 9; }, "severity code 9"},
        {"129-byte env", [](Catalogue &c) { c.messages[0].env = std::string(129, 'e'); },
         "environment name of 129"},
        {"4096-byte format", [](Catalogue &c) { c.messages[0].format = std::string(4096, 'f'); },
         "format of 4096"},
        {"4096-byte second text",
         [](Catalogue &c) { c.messages[0].second = std::string(4096, 'c'); },
         "second text of 4096"},
        {"17 reports", [](Catalogue &c) { c.messages[0].reports.assign(17, 0); },
         "17 report channels"},
        {"channel 9",
         [](Catalogue &c) {
             c.messages[0].reports = {0, 9};
         },
         "report channel id 9"},
        {"1-byte see", [](Catalogue &c) { c.messages[0].see = "s"; }, "see text of 1"},
        {"1024-byte see", [](Catalogue &c) { c.messages[0].see = std::string(1024, 's'); },
         "see text of 1024"},
        {"date kind 4", [](Catalogue &c) { c.messages[0].dateKind = 4; }, "date-stamp kind 4"},
        {"1024-byte cat",
         [](Catalogue &c) { c.messages[0].cat = "FILE=" + std::string(1019, 'f'); },
         "cat text of 1024"},
        {"cat without FILE=", [](Catalogue &c) { c.messages[0].cat = "notes.txt"; },
         "cat text does not start with \"FILE=\""},
        {"1024-byte command",
         [](Catalogue &c) { c.messages[0].command = "CMD=" + std::string(1020, 'c'); },
         "command text of 1024"},
        {"command without CMD=", [](Catalogue &c) { c.messages[0].command = "ls"; },
         "command text does not start with \"CMD=\""},
        {"duplicate number", [](Catalogue &c) { c.messages[2].number = c.messages[1].number; },
         "message number -5 appears more than once"},
    };
    for (const Rejection &r : cases) {
        SCOPED_TRACE(r.what);
        Catalogue c = ThreeMessages();
        r.spoil(c);
        const std::vector<std::string> problems = errmdesc::Validate(c);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(r.expect), std::string::npos) << problems[0];
    }
}

TEST(descwriter_validate, ReportsEveryProblemAtOnce) {
    Catalogue c = ThreeMessages();
    c.subsystem.clear();
    c.messages[0].severity = 0;
    c.messages[1].dateKind = 7;
    c.messages[2].see = "x";
    EXPECT_EQ(errmdesc::Validate(c).size(), 4u);
}

// ------------------------------------------------------------- Read: limits

TEST(descwriter_read_rejects, EveryTruncation) {
    const Bytes whole = errmdesc::Write(ThreeMessages());
    ASSERT_TRUE(errmdesc::Read(whole, nullptr, nullptr, nullptr));
    // Twice: as written, and with an empty checksummed range so that the
    // truncation is found by the field reads rather than the range check.
    Bytes unsummed = whole;
    PutU32(unsummed, 8, 0);
    for (const Bytes *source : std::array<const Bytes *, 2>{&whole, &unsummed}) {
        for (std::size_t len = 0; len < source->size(); ++len) {
            SCOPED_TRACE("length " + std::to_string(len));
            const Bytes cut(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(len));
            std::string error;
            Catalogue out;
            EXPECT_FALSE(errmdesc::Read(cut, &out, nullptr, &error));
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_TRUE(errmdesc::Read(unsummed, nullptr, nullptr, nullptr));
}

// Byte offsets inside the entry of the single message of OneMessage().
struct OneLayout {
    Bytes bytes;
    std::size_t dir = 0;   // directory offset
    std::size_t entry = 0; // entry record offset
};

OneLayout OneMessage() {
    Catalogue c;
    c.subsystem = "A";
    Message m = Simple(10, "N"); // name length 1, format "text of N" (9 bytes)
    c.messages = {m};
    OneLayout l;
    l.bytes = errmdesc::Write(c);
    l.dir = GetU32(l.bytes, 12);
    l.entry = GetU32(l.bytes, l.dir + 4);
    return l;
}

TEST(descwriter_read_rejects, CorruptedFields) {
    // Entry record offsets of OneMessage(): 0 spare, 4 L, 8 name, 9 number,
    // 13 id length, 15 severity, 16 env length, 18 format length, 20 format,
    // 29 second length, 31 spare, 32 force, 33 report count, 34 see length,
    // 36 date kind, 37 cat length, 39 command length, 41 rc.
    struct Patch {
        const char *what;
        std::function<void(OneLayout &)> spoil;
        const char *expect;
    };
    const std::vector<Patch> cases = {
        {"magic reversed", [](OneLayout &l) { PutU32(l.bytes, 0, 0x17347845u); },
         "bad magic 0x17347845"},
        {"subsystem length 64", [](OneLayout &l) { l.bytes[56] = 64; }, "subsystem-name length 64"},
        {"subsystem name past the end",
         [](OneLayout &l) {
             PutU32(l.bytes, 8, 0);
             l.bytes.resize(57);
         },
         "subsystem name at offset 57 (1 bytes) runs past the end"},
        {"directory past the end", [](OneLayout &l) { PutU32(l.bytes, 12, 1u << 30); },
         "directory of 1 records"},
        {"entry count overflows offsets", [](OneLayout &l) { PutU32(l.bytes, 4, 0xFFFFFFFFu); },
         "directory of 4294967295"},
        {"entry offset past the end", [](OneLayout &l) { PutU32(l.bytes, l.dir + 4, 0xFFFFFFF0u); },
         "past the end"},
        {"directory number differs from entry", [](OneLayout &l) { PutU32(l.bytes, l.dir, 11); },
         "holds message number 10"},
        {"entry-name length 0", [](OneLayout &l) { PutU32(l.bytes, l.entry + 4, 0); },
         "entry-name length 0"},
        {"entry-name length 1024", [](OneLayout &l) { PutU32(l.bytes, l.entry + 4, 1024); },
         "entry-name length 1024"},
        {"id length 1024", [](OneLayout &l) { PutU16(l.bytes, l.entry + 13, 1024); },
         "identifier length 1024"},
        {"env length 129", [](OneLayout &l) { PutU16(l.bytes, l.entry + 16, 129); },
         "environment name length 129"},
        {"format length 4096", [](OneLayout &l) { PutU16(l.bytes, l.entry + 18, 4096); },
         "format length 4096"},
        {"second length 4096", [](OneLayout &l) { PutU16(l.bytes, l.entry + 29, 4096); },
         "second text length 4096"},
        {"report count 17", [](OneLayout &l) { l.bytes[l.entry + 33] = 17; },
         "report list length 17"},
        {"see length 1", [](OneLayout &l) { PutU16(l.bytes, l.entry + 34, 1); },
         "see text length 1"},
        {"cat length 1024", [](OneLayout &l) { PutU16(l.bytes, l.entry + 37, 1024); },
         "cat text length 1024"},
        {"command length 1", [](OneLayout &l) { PutU16(l.bytes, l.entry + 39, 1); },
         "command text length 1"},
        {"checksum range past the end",
         [](OneLayout &l) { PutU32(l.bytes, 8, static_cast<std::uint32_t>(l.bytes.size())); },
         "checksummed range"},
    };
    for (const Patch &p : cases) {
        SCOPED_TRACE(p.what);
        OneLayout l = OneMessage();
        p.spoil(l);
        std::string error;
        EXPECT_FALSE(errmdesc::Read(l.bytes, nullptr, nullptr, &error));
        EXPECT_NE(error.find(p.expect), std::string::npos) << error;
    }
}

TEST(descwriter_read_rejects, UnsortedDirectory) {
    Bytes b = errmdesc::Write(ThreeMessages());
    const std::uint32_t dir = GetU32(b, 12);
    // Swap the first two 12-byte records: 2 then -5.
    std::swap_ranges(b.begin() + dir, b.begin() + dir + 12, b.begin() + dir + 12);
    std::string error;
    EXPECT_FALSE(errmdesc::Read(b, nullptr, nullptr, &error));
    EXPECT_NE(error.find("does not follow message 2"), std::string::npos) << error;
}

TEST(descwriter_read, OutOfRangeValuesAreDecodedForValidateToReport) {
    OneLayout l = OneMessage();
    l.bytes[l.entry + 15] = 9; // severity
    l.bytes[l.entry + 36] = 4; // date kind
    l.bytes[40] = 12;          // version major
    Reseal(l.bytes);
    Catalogue out;
    ReadInfo info;
    std::string error;
    ASSERT_TRUE(errmdesc::Read(l.bytes, &out, &info, &error)) << error;
    EXPECT_TRUE(info.digestMatches);
    EXPECT_EQ(out.messages[0].severity, 9);
    EXPECT_EQ(out.messages[0].dateKind, 4);
    EXPECT_EQ(errmdesc::Validate(out).size(), 3u);
}

TEST(descwriter_read, DigestMismatchIsReportedNotRejected) {
    OneLayout l = OneMessage();
    ReadInfo info;
    ASSERT_TRUE(errmdesc::Read(l.bytes, nullptr, &info, nullptr));
    EXPECT_TRUE(info.digestMatches);
    l.bytes[l.entry + 20] ^= 0x20; // one letter of the format text
    Catalogue out;
    ASSERT_TRUE(errmdesc::Read(l.bytes, &out, &info, nullptr));
    EXPECT_FALSE(info.digestMatches);
    EXPECT_EQ(out.messages[0].format, "Text of N");
    l.bytes[24] ^= 1; // and a flipped digest byte does not make it match
    ASSERT_TRUE(errmdesc::Read(l.bytes, nullptr, &info, nullptr));
    EXPECT_FALSE(info.digestMatches);
}

TEST(descwriter_read, EveryFlippedByteIsRejectedOrCaughtByTheDigest) {
    const Bytes whole = errmdesc::Write(ThreeMessages());
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            Bytes b = whole;
            b[at] ^= mask;
            ReadInfo info;
            Catalogue out;
            const bool ok = errmdesc::Read(b, &out, &info, nullptr);
            // Bytes 0..55 other than the digest are outside the range; the
            // stamp, version and reserved word are carried without checks.
            if (ok && (at >= 56 || (at >= 24 && at < 40))) {
                EXPECT_FALSE(info.digestMatches) << "byte " << at;
            }
        }
    }
}

TEST(descwriter_read, RandomDamageIsRejectedOrDecodedStably) {
    // Several bytes overwritten at once, lengths and offsets included. What
    // Read accepts must survive Write and Read again unchanged.
    const Bytes whole = errmdesc::Write(FullCatalogue());
    std::mt19937 random(20261201);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes b = whole;
        const int hits = 1 + static_cast<int>(random() % 4);
        for (int h = 0; h < hits; ++h)
            b[random() % b.size()] = static_cast<std::uint8_t>(random());
        if (round % 3 == 0) b.resize(random() % b.size());
        Catalogue first;
        if (!errmdesc::Read(b, &first, nullptr, nullptr)) continue;
        ++accepted;
        Catalogue second;
        std::string error;
        ASSERT_TRUE(errmdesc::Read(errmdesc::Write(first), &second, nullptr, &error)) << error;
        ASSERT_EQ(first.messages.size(), second.messages.size());
        for (std::size_t i = 0; i < first.messages.size(); ++i)
            ExpectSameMessage(first.messages[i], second.messages[i]);
    }
    EXPECT_GT(accepted, 0); // some damage falls on texts and is decoded
}

TEST(descwriter_read, InfoIsFilledAsFarAsDecodingGot) {
    OneLayout l = OneMessage();
    PutU16(l.bytes, l.entry + 34, 1); // see length 1: malformed entry
    ReadInfo info;
    EXPECT_FALSE(errmdesc::Read(l.bytes, nullptr, &info, nullptr));
    EXPECT_EQ(info.magic, errmdesc::kMagic);
    EXPECT_EQ(info.entryCount, 1u);
    EXPECT_EQ(info.directoryOffset, l.dir);
    EXPECT_EQ(info.fileSize, l.bytes.size());
}

// ------------------------------------------- Read: other writers' layouts

// Assembles a descriptor by hand, entries first and the directory last, with
// gaps, and a checksum over the directory only.
struct Builder {
    Bytes b;
    std::size_t U8(std::uint8_t v) {
        b.push_back(v);
        return b.size() - 1;
    }
    std::size_t U16(std::uint16_t v) {
        const std::size_t at = U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
        return at;
    }
    std::size_t U32(std::uint32_t v) {
        const std::size_t at = U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
        return at;
    }
    void Text(const std::string &t) { b.insert(b.end(), t.begin(), t.end()); }
    void T16(const std::string &t) {
        U16(static_cast<std::uint16_t>(t.size()));
        Text(t);
    }
    std::size_t Entry(std::int32_t number, const std::string &name, const std::string &format) {
        const std::size_t at = U32(0);
        U32(static_cast<std::uint32_t>(name.size()));
        Text(name);
        U32(static_cast<std::uint32_t>(number));
        T16("");
        U8(3);
        T16("");
        T16(format);
        T16("");
        U8(0);
        U8(0);
        U8(1);
        U8(5);
        T16("");
        U8(1);
        T16("");
        T16("CMD=true");
        U16(7);
        return at;
    }
};

Bytes ForeignLayout(std::uint32_t sumStart, std::uint32_t sumLength, bool sumDirectory) {
    Builder w;
    w.b.resize(56, 0);
    w.U8(2);
    w.Text("FX");
    w.U8(0);
    w.Text("gap");
    const std::size_t e1 = w.Entry(100, "HUNDRED", "at %d");
    w.Text("more padding");
    const std::size_t e0 = w.Entry(-1, "MINUS", "");
    const std::size_t dir = w.b.size();
    w.U32(static_cast<std::uint32_t>(-1));
    w.U32(static_cast<std::uint32_t>(e0));
    w.U32(0);
    w.U32(100);
    w.U32(static_cast<std::uint32_t>(e1));
    w.U32(77);
    w.Text("tail");
    PutU32(w.b, 0, errmdesc::kMagic);
    PutU32(w.b, 4, 2);
    PutU32(w.b, 12, static_cast<std::uint32_t>(dir));
    if (sumDirectory) {
        sumStart = static_cast<std::uint32_t>(dir);
        sumLength = 24;
    }
    PutU32(w.b, 8, sumLength);
    PutU32(w.b, 16, sumStart);
    w.b[40] = 1;
    w.b[41] = 2;
    w.b[42] = 3;
    std::copy_n("STAMPSTAMP12", 12, w.b.begin() + 44);
    Reseal(w.b);
    return w.b;
}

TEST(descwriter_read, ReadsOtherLayoutsWhateverTheChecksumCovers) {
    struct Range {
        const char *what;
        std::uint32_t start, length;
        bool directory;
    };
    for (const Range &r :
         {Range{"directory only", 0, 0, true}, Range{"empty range", 9999, 0, false},
          Range{"whole file", 0, 0, false}, Range{"version to names", 40, 20, false}}) {
        SCOPED_TRACE(r.what);
        Bytes b = ForeignLayout(r.start, r.length, r.directory);
        if (std::string(r.what) == "whole file") {
            PutU32(b, 16, 0);
            PutU32(b, 8, static_cast<std::uint32_t>(b.size()));
            Reseal(b); // the digest is part of its own range: cannot match
        }
        Catalogue out;
        ReadInfo info;
        std::string error;
        ASSERT_TRUE(errmdesc::Read(b, &out, &info, &error)) << error;
        EXPECT_EQ(info.digestMatches, std::string(r.what) != "whole file");
        EXPECT_EQ(out.subsystem, "FX");
        EXPECT_EQ(out.displayName, "");
        EXPECT_EQ(out.stamp, "STAMPSTAMP12");
        EXPECT_EQ(out.version, (std::array<std::uint8_t, 4>{1, 2, 3, 0}));
        ASSERT_EQ(out.messages.size(), 2u);
        EXPECT_EQ(out.messages[0].number, -1);
        EXPECT_EQ(out.messages[0].name, "MINUS");
        EXPECT_EQ(out.messages[0].format, "");
        EXPECT_EQ(out.messages[1].number, 100);
        EXPECT_EQ(out.messages[1].name, "HUNDRED");
        EXPECT_EQ(out.messages[1].format, "at %d");
        EXPECT_EQ(out.messages[1].dirSpare, 77u);
        EXPECT_EQ(out.messages[1].reports, (std::vector<std::uint8_t>{5}));
        EXPECT_EQ(out.messages[1].command, "CMD=true");
        EXPECT_EQ(out.messages[1].rc, 7);
        EXPECT_TRUE(errmdesc::Validate(out).empty());
        EXPECT_GT(info.entryOffsets[1], 56u);
        EXPECT_LT(info.entryOffsets[1], info.entryOffsets[0]);
    }
}

// ------------------------------------------------------------------- files

std::filesystem::path TempDir(const char *name) {
    const char *root = std::getenv("ERRM_TEST_TMP");
    std::filesystem::path base = root ? root : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(base);
    std::string pattern = (base / (std::string(name) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

TEST(descwriter_files, FileNameUpperCasesTheSubsystem) {
    EXPECT_EQ(errmdesc::FileName("abc"), "errm_desc_ABC.bin");
    EXPECT_EQ(errmdesc::FileName("Sim-2x_y"), "errm_desc_SIM-2X_Y.bin");
    EXPECT_EQ(errmdesc::FileName("\xE9t\xE9"), "errm_desc_\xE9T\xE9.bin");
}

TEST(descwriter_files, WriteFileThenReadFile) {
    const std::filesystem::path dir = TempDir("descwriter");
    ASSERT_FALSE(dir.empty());
    std::string error;
    const std::string path = errmdesc::WriteFile(ThreeMessages(), dir.string(), &error);
    ASSERT_EQ(path, (dir / "errm_desc_SIM.bin").string()) << error;
    // Nothing but the descriptor is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    Catalogue out;
    ASSERT_TRUE(errmdesc::ReadFile(path, &out, nullptr, &error)) << error;
    EXPECT_EQ(out.messages.size(), 3u);
    std::ifstream in(path, std::ios::binary);
    const Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(onDisk, errmdesc::Write(ThreeMessages()));
    std::filesystem::remove_all(dir);
}

TEST(descwriter_files, FailuresAreReported) {
    std::string error;
    EXPECT_EQ(errmdesc::WriteFile(ThreeMessages(), "/nonexistent/dir", &error), "");
    EXPECT_NE(error.find("/nonexistent/dir/errm_desc_SIM.bin"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(errmdesc::ReadFile("/nonexistent/errm_desc_X.bin", nullptr, nullptr, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

} // namespace
