// desc_bytes.h - assembles descriptor bytes field by field, straight from
// the file layout, without the descriptor writer: for the hand-assembled
// load test and for entries with fields out of their range.
#ifndef ERRM_DESC_BYTES_H
#define ERRM_DESC_BYTES_H

#include <cstdint>
#include <cstring>
#include <md5.h>
#include <string>
#include <vector>

namespace errmtest {

struct Bytes {
    std::vector<std::uint8_t> b;

    Bytes &u8(unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Bytes &u16(unsigned v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    Bytes &u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes &i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    Bytes &text(const std::string &s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes &append(const Bytes &o) {
        b.insert(b.end(), o.b.begin(), o.b.end());
        return *this;
    }
    std::size_t size() const { return b.size(); }
};

// One entry record; every length is given explicitly so that a test can put
// any value in it. Texts are written as given, whatever their length field.
struct RawEntry {
    std::uint32_t spare = 0;
    std::uint32_t nameLen = 1;
    std::string name = "E";
    std::int32_t number = 0;
    unsigned idLen = 0;
    std::string id;
    unsigned severity = 1;
    unsigned envLen = 0;
    std::string env;
    unsigned formatLen = 0;
    std::string format;
    unsigned secondLen = 0;
    std::string second;
    unsigned spareByte = 0;
    unsigned force = 0;
    unsigned reportCount = 0;
    std::vector<std::uint8_t> reports;
    unsigned seeLen = 0;
    std::string see;
    unsigned dateKind = 0;
    unsigned catLen = 0;
    std::string cat;
    unsigned cmdLen = 0;
    std::string cmd;
    std::int16_t rc = 0;
    bool otherDirNumber = false; // the directory holds dirNumber instead of number
    std::int32_t dirNumber = 0;

    // Sets a text and its length field together.
    static RawEntry Basic(std::int32_t number, const std::string &format) {
        RawEntry e;
        e.number = number;
        e.formatLen = static_cast<unsigned>(format.size());
        e.format = format;
        e.reportCount = 1;
        e.reports = {0};
        return e;
    }

    Bytes bytes() const {
        Bytes o;
        o.u32(spare).u32(nameLen).text(name).i32(number);
        o.u16(idLen).text(id).u8(severity);
        o.u16(envLen).text(env).u16(formatLen).text(format).u16(secondLen).text(second);
        o.u8(spareByte).u8(force).u8(reportCount);
        for (std::uint8_t r : reports)
            o.u8(r);
        o.u16(seeLen).text(see).u8(dateKind).u16(catLen).text(cat).u16(cmdLen).text(cmd);
        o.u16(static_cast<std::uint16_t>(rc));
        return o;
    }
};

// A whole descriptor: header, names, directory, entries; the checksummed
// range is everything after the header.
inline std::vector<std::uint8_t> AssembleDescriptor(const std::string &name,
                                                    const std::string &display,
                                                    const std::vector<RawEntry> &entries,
                                                    std::uint8_t major = 1) {
    Bytes names;
    names.u8(static_cast<unsigned>(name.size())).text(name);
    names.u8(static_cast<unsigned>(display.size())).text(display);
    const std::uint32_t dirOffset = static_cast<std::uint32_t>(56 + names.size());
    std::uint32_t entryOffset = dirOffset + static_cast<std::uint32_t>(12 * entries.size());
    Bytes dir, recs;
    for (const RawEntry &e : entries) {
        Bytes r = e.bytes();
        dir.i32(e.otherDirNumber ? e.dirNumber : e.number)
            .u32(entryOffset + static_cast<std::uint32_t>(recs.size()))
            .u32(0);
        recs.append(r);
    }
    Bytes body;
    body.append(names).append(dir).append(recs);
    std::uint8_t digest[16];
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, body.b.data(), body.b.size());
    MD5Final(digest, &ctx);
    Bytes file;
    file.u32(0x45783417u).u32(static_cast<std::uint32_t>(entries.size()));
    file.u32(static_cast<std::uint32_t>(body.size())).u32(dirOffset).u32(56).u32(0);
    for (std::uint8_t d : digest)
        file.u8(d);
    file.u8(major).u8(0).u8(3).u8(0).text("STAMP-123456");
    file.append(body);
    return file.b;
}

} // namespace errmtest

#endif
