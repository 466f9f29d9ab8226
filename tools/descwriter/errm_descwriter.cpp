// errm_descwriter.cpp - encodes, checks and decodes binary error descriptors.
//
// Sections: little-endian byte writer; Write / WriteFile / FileName; Validate;
// the bounds-checked reader and Read / ReadFile.
#include "errm_descwriter.h"

#include <md5.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numeric>
#include <string_view>

namespace errmdesc {

namespace {

// Header field offsets (descriptor/errm_format.h).
constexpr std::size_t kOffMagic = ERRM_DESC_OFF_MAGIC;
constexpr std::size_t kOffCount = ERRM_DESC_OFF_COUNT;
constexpr std::size_t kOffSumLength = ERRM_DESC_OFF_SUM_LENGTH;
constexpr std::size_t kOffDirectory = ERRM_DESC_OFF_DIRECTORY;
constexpr std::size_t kOffSumStart = ERRM_DESC_OFF_SUM_START;
constexpr std::size_t kOffReserved = ERRM_DESC_OFF_RESERVED;
constexpr std::size_t kOffDigest = ERRM_DESC_OFF_DIGEST;
constexpr std::size_t kOffVersion = ERRM_DESC_OFF_VERSION;
constexpr std::size_t kOffStamp = ERRM_DESC_OFF_STAMP;

// ------------------------------------------------------------- byte writer

class ByteWriter {
  public:
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            U8(static_cast<std::uint8_t>(v >> shift));
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Bytes(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
    void PatchU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t Size() const { return out_.size(); }
    std::vector<std::uint8_t> &Buffer() { return out_; }

  private:
    std::vector<std::uint8_t> out_;
};

// A text with a length field of `max` at most: the length written and the
// bytes that follow it always agree.
std::string_view Fit(const std::string &text, std::size_t max) {
    return std::string_view(text).substr(0, std::min(text.size(), max));
}

void TextU8(ByteWriter &w, const std::string &text) {
    std::string_view t = Fit(text, 0xFF);
    w.U8(static_cast<std::uint8_t>(t.size()));
    w.Bytes(t);
}

void TextU16(ByteWriter &w, const std::string &text) {
    std::string_view t = Fit(text, 0xFFFF);
    w.U16(static_cast<std::uint16_t>(t.size()));
    w.Bytes(t);
}

void WriteEntry(ByteWriter &w, const Message &m) {
    w.U32(m.spareWord);
    std::string_view name = Fit(m.name, std::numeric_limits<std::uint32_t>::max());
    w.U32(static_cast<std::uint32_t>(name.size()));
    w.Bytes(name);
    w.I32(m.number);
    TextU16(w, m.id);
    w.U8(m.severity);
    TextU16(w, m.env);
    TextU16(w, m.format);
    TextU16(w, m.second);
    w.U8(m.spareByte);
    w.U8(m.force);
    std::size_t k = std::min<std::size_t>(m.reports.size(), 0xFF);
    w.U8(static_cast<std::uint8_t>(k));
    for (std::size_t i = 0; i < k; ++i)
        w.U8(m.reports[i]);
    TextU16(w, m.see);
    w.U8(m.dateKind);
    TextU16(w, m.cat);
    TextU16(w, m.command);
    w.I16(m.rc);
}

// Message positions in directory order: ascending number, ties in input order.
std::vector<std::size_t> DirectoryOrder(const std::vector<Message> &messages) {
    std::vector<std::size_t> order(messages.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return messages[a].number < messages[b].number;
    });
    return order;
}

std::string Upper(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace

std::array<std::uint8_t, 16> Digest(const std::uint8_t *data, std::size_t size) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (size > 0) MD5Update(&ctx, data, size);
    std::array<std::uint8_t, 16> digest{};
    MD5Final(digest.data(), &ctx);
    return digest;
}

// ------------------------------------------------------------------ writer

std::vector<std::uint8_t> Write(const Catalogue &cat) {
    ByteWriter w;
    w.U32(kMagic);
    w.U32(static_cast<std::uint32_t>(cat.messages.size()));
    w.U32(0); // checksum length, patched below
    w.U32(0); // directory offset, patched below
    w.U32(static_cast<std::uint32_t>(kHeaderSize));
    w.U32(cat.reserved);
    for (std::size_t i = 0; i < 16; ++i)
        w.U8(0); // digest, patched below
    for (std::uint8_t b : cat.version)
        w.U8(b);
    std::string stamp(Fit(cat.stamp, kStampSize));
    stamp.resize(kStampSize, '\0');
    w.Bytes(stamp);

    TextU8(w, cat.subsystem);
    TextU8(w, cat.displayName);

    const std::size_t directory = w.Size();
    w.PatchU32(kOffDirectory, static_cast<std::uint32_t>(directory));
    const std::vector<std::size_t> order = DirectoryOrder(cat.messages);
    for (std::size_t pos : order) {
        w.I32(cat.messages[pos].number);
        w.U32(0); // entry offset, patched when the entry is written
        w.U32(cat.messages[pos].dirSpare);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        w.PatchU32(directory + i * kDirectoryRecordSize + 4, static_cast<std::uint32_t>(w.Size()));
        WriteEntry(w, cat.messages[order[i]]);
    }

    std::vector<std::uint8_t> &out = w.Buffer();
    const std::size_t summed = out.size() - kHeaderSize;
    w.PatchU32(kOffSumLength, static_cast<std::uint32_t>(summed));
    const std::array<std::uint8_t, 16> digest = Digest(out.data() + kHeaderSize, summed);
    std::copy(digest.begin(), digest.end(), out.begin() + kOffDigest);
    return std::move(out);
}

std::string FileName(const std::string &subsystem) {
    return "errm_desc_" + Upper(subsystem) + ".bin";
}

std::string WriteFile(const Catalogue &cat, const std::string &dir, std::string *error) {
    const std::vector<std::uint8_t> bytes = Write(cat);
    std::string path = dir.empty() ? FileName(cat.subsystem) : dir + "/" + FileName(cat.subsystem);
    // Written beside the target and renamed over it, so that a reader never
    // maps a half-written descriptor; the process id keeps parallel writers of
    // the same descriptor apart.
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    auto fail = [&](const char *what) {
        if (error) *error = std::string(what) + " " + temp + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return std::string();
    };
    std::FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f) return fail("cannot create");
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int saved = errno;
    if (std::fclose(f) != 0 || !written) {
        if (!written) errno = saved;
        return fail("cannot write");
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename");
    return path;
}

// -------------------------------------------------------------- validation

namespace {

std::string Label(const Message &m) {
    return "message " + std::to_string(m.number);
}

void CheckLongText(std::vector<std::string> &problems, const Message &m, const char *what,
                   const std::string &text, const char *prefix) {
    if (text.empty()) return;
    if (text.size() < kMinLongText || text.size() > kMaxLongText)
        problems.push_back(Label(m) + ": " + what + " text of " + std::to_string(text.size()) +
                           " bytes (must be empty or 2..1023 bytes)");
    if (prefix && text.compare(0, std::strlen(prefix), prefix) != 0)
        problems.push_back(Label(m) + ": " + what + " text does not start with \"" + prefix + "\"");
}

void CheckMessage(std::vector<std::string> &problems, const Message &m) {
    const std::string label = Label(m);
    if (m.name.empty() || m.name.size() > kMaxEntryName)
        problems.push_back(label + ": entry name of " + std::to_string(m.name.size()) +
                           " bytes (must be 1..1023)");
    if (m.id.size() > kMaxId)
        problems.push_back(label + ": identifier of " + std::to_string(m.id.size()) +
                           " bytes (at most 1023)");
    if (m.severity < 1 || m.severity > kMaxSeverity)
        problems.push_back(label + ": severity code " + std::to_string(m.severity) +
                           " (must be 1..8)");
    if (m.env.size() > kMaxEnv)
        problems.push_back(label + ": environment name of " + std::to_string(m.env.size()) +
                           " bytes (at most 128)");
    if (m.format.size() > kMaxFormat)
        problems.push_back(label + ": format of " + std::to_string(m.format.size()) +
                           " bytes (at most 4095)");
    if (m.second.size() > kMaxSecond)
        problems.push_back(label + ": second text of " + std::to_string(m.second.size()) +
                           " bytes (at most 4095)");
    if (m.reports.size() > kMaxReports)
        problems.push_back(label + ": " + std::to_string(m.reports.size()) +
                           " report channels (at most 16)");
    for (std::uint8_t id : m.reports)
        if (id >= kChannelNames.size())
            problems.push_back(label + ": report channel id " + std::to_string(id) +
                               " (must be 0..8)");
    CheckLongText(problems, m, "see", m.see, nullptr);
    if (m.dateKind > kMaxDateKind)
        problems.push_back(label + ": date-stamp kind " + std::to_string(m.dateKind) +
                           " (must be 0..3)");
    CheckLongText(problems, m, "cat", m.cat, kCatPrefix);
    CheckLongText(problems, m, "command", m.command, kCommandPrefix);
}

} // namespace

std::vector<std::string> Validate(const Catalogue &cat) {
    std::vector<std::string> problems;
    if (cat.subsystem.empty() || cat.subsystem.size() > kMaxSubsystem)
        problems.push_back("subsystem name of " + std::to_string(cat.subsystem.size()) +
                           " bytes (must be 1..63)");
    if (cat.displayName.size() > kMaxDisplayName)
        problems.push_back("display name of " + std::to_string(cat.displayName.size()) +
                           " bytes (at most 255)");
    static constexpr const char *kVersionParts[] = {"major", "minor", "patch"};
    for (std::size_t i = 0; i < 3; ++i)
        if (cat.version[i] > kMaxVersionDigit)
            problems.push_back(std::string("version ") + kVersionParts[i] + " " +
                               std::to_string(cat.version[i]) + " (must be a digit 0..9)");
    if (cat.stamp.size() > kStampSize)
        problems.push_back("stamp of " + std::to_string(cat.stamp.size()) + " bytes (at most 12)");

    for (const Message &m : cat.messages)
        CheckMessage(problems, m);

    const std::vector<std::size_t> order = DirectoryOrder(cat.messages);
    for (std::size_t i = 1; i < order.size(); ++i)
        if (cat.messages[order[i]].number == cat.messages[order[i - 1]].number)
            problems.push_back("message number " + std::to_string(cat.messages[order[i]].number) +
                               " appears more than once");

    // Every offset is a u32: the encoded descriptor must stay below 4 GiB.
    std::uint64_t size = kHeaderSize + 2 + cat.subsystem.size() + cat.displayName.size() +
                         std::uint64_t{kDirectoryRecordSize} * cat.messages.size();
    for (const Message &m : cat.messages)
        size += 4 + 4 + m.name.size() + 4 + 2 + m.id.size() + 1 + 2 + m.env.size() + 2 +
                m.format.size() + 2 + m.second.size() + 3 + m.reports.size() + 2 + m.see.size() +
                1 + 2 + m.cat.size() + 2 + m.command.size() + 2;
    if (size > std::numeric_limits<std::uint32_t>::max())
        problems.push_back("the descriptor would be " + std::to_string(size) +
                           " bytes (offsets are 32-bit)");
    return problems;
}

// ------------------------------------------------------------------ reader

namespace {

// Reads little-endian fields at a running position, never past the end of
// the buffer. The first failure sticks and names the field that did not fit.
class Cursor {
  public:
    Cursor(const std::uint8_t *data, std::size_t size, std::size_t pos)
        : data_(data), size_(size), pos_(pos) {}

    bool Ok() const { return error_.empty(); }
    const std::string &Error() const { return error_; }
    std::size_t Pos() const { return pos_; }
    void Fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
    }

    std::uint8_t U8(const char *what) { return static_cast<std::uint8_t>(Le(1, what)); }
    std::uint16_t U16(const char *what) { return static_cast<std::uint16_t>(Le(2, what)); }
    std::uint32_t U32(const char *what) { return static_cast<std::uint32_t>(Le(4, what)); }
    std::int16_t I16(const char *what) { return static_cast<std::int16_t>(U16(what)); }
    std::int32_t I32(const char *what) { return static_cast<std::int32_t>(U32(what)); }

    std::string Text(std::size_t length, const char *what) {
        if (!Fits(length, what)) return {};
        std::string text(reinterpret_cast<const char *>(data_ + pos_), length);
        pos_ += length;
        return text;
    }

  private:
    bool Fits(std::size_t length, const char *what) {
        if (!Ok()) return false;
        if (pos_ > size_ || length > size_ - pos_) {
            Fail(std::string(what) + " at offset " + std::to_string(pos_) + " (" +
                 std::to_string(length) + " bytes) runs past the end of the file (" +
                 std::to_string(size_) + " bytes)");
            return false;
        }
        return true;
    }
    std::uint64_t Le(std::size_t width, const char *what) {
        if (!Fits(width, what)) return 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v |= std::uint64_t{data_[pos_ + i]} << (8 * i);
        pos_ += width;
        return v;
    }

    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_;
    std::string error_;
};

// A length field checked against its bounds: 0 (when allowed) or min..max.
bool LengthOk(Cursor &c, std::size_t length, bool zeroOk, std::size_t min, std::size_t max,
              const std::string &what) {
    if ((length == 0 && zeroOk) || (length >= min && length <= max)) return true;
    c.Fail(what + " length " + std::to_string(length) + " out of bounds (" +
           (zeroOk ? "0 or " : "") + std::to_string(min) + ".." + std::to_string(max) + ")");
    return false;
}

// Decodes the entry record at `offset` for directory record `number`.
bool ReadEntry(const std::uint8_t *data, std::size_t size, std::uint32_t offset,
               std::int32_t number, Message *m, std::string *why) {
    Cursor c(data, size, offset);
    const std::string label = "entry of message " + std::to_string(number);
    auto text16 = [&](std::string &dest, bool zeroOk, std::size_t min, std::size_t max,
                      const char *what) {
        const std::uint16_t length = c.U16(what);
        if (c.Ok() && LengthOk(c, length, zeroOk, min, max, label + ": " + what))
            dest = c.Text(length, what);
    };

    m->spareWord = c.U32("entry spare word");
    const std::uint32_t nameLength = c.U32("entry-name length");
    if (c.Ok() && LengthOk(c, nameLength, false, 1, kMaxEntryName, label + ": entry-name"))
        m->name = c.Text(nameLength, "entry name");
    m->number = c.I32("entry message number");
    if (c.Ok() && m->number != number)
        c.Fail(label + ": the record holds message number " + std::to_string(m->number));
    text16(m->id, true, 1, kMaxId, "identifier");
    m->severity = c.U8("severity code");
    text16(m->env, true, 1, kMaxEnv, "environment name");
    text16(m->format, true, 1, kMaxFormat, "format");
    text16(m->second, true, 1, kMaxSecond, "second text");
    m->spareByte = c.U8("entry spare byte");
    m->force = c.U8("force-display flag");
    const std::uint8_t k = c.U8("report count");
    if (c.Ok() && LengthOk(c, k, true, 1, kMaxReports, label + ": report list")) {
        const std::string ids = c.Text(k, "report list");
        m->reports.assign(ids.begin(), ids.end());
    }
    text16(m->see, true, kMinLongText, kMaxLongText, "see text");
    m->dateKind = c.U8("date-stamp kind");
    text16(m->cat, true, kMinLongText, kMaxLongText, "cat text");
    text16(m->command, true, kMinLongText, kMaxLongText, "command text");
    m->rc = c.I16("return code");
    if (!c.Ok()) *why = c.Error();
    return c.Ok();
}

bool Decode(const std::uint8_t *data, std::size_t size, Catalogue *cat, ReadInfo *info,
            std::string *why) {
    info->fileSize = size;
    if (size < kHeaderSize) {
        *why = "file of " + std::to_string(size) + " bytes is shorter than the 56-byte header";
        return false;
    }
    Cursor h(data, size, 0);
    info->magic = h.U32("magic");
    info->entryCount = h.U32("entry count");
    info->checksumLength = h.U32("checksum length");
    info->directoryOffset = h.U32("directory offset");
    info->checksumStart = h.U32("checksum start");
    cat->reserved = h.U32("reserved word");
    std::copy(data + kOffDigest, data + kOffDigest + ERRM_DESC_DIGEST_SIZE, info->digest.begin());
    std::copy(data + kOffVersion, data + kOffVersion + ERRM_DESC_VERSION_SIZE,
              cat->version.begin());
    info->rawStamp.assign(reinterpret_cast<const char *>(data + kOffStamp), kStampSize);
    cat->stamp = info->rawStamp.substr(0, info->rawStamp.find('\0'));
    static_assert(kOffMagic == 0 && kOffCount == 4 && kOffSumLength == 8 && kOffDirectory == 12 &&
                  kOffSumStart == 16 && kOffReserved == 20);

    if (info->magic != kMagic) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", info->magic);
        *why = std::string("bad magic ") + hex + " (expected 0x45783417)";
        return false;
    }

    // The checksummed range: an empty range is legal wherever it starts.
    const std::uint64_t sumEnd = std::uint64_t{info->checksumStart} + info->checksumLength;
    if (info->checksumLength > 0 && sumEnd > size) {
        *why = "checksummed range " + std::to_string(info->checksumStart) + "+" +
               std::to_string(info->checksumLength) + " runs past the end of the file (" +
               std::to_string(size) + " bytes)";
        return false;
    }
    const std::array<std::uint8_t, 16> digest =
        info->checksumLength > 0 ? Digest(data + info->checksumStart, info->checksumLength)
                                 : Digest(nullptr, 0);
    info->digestMatches = digest == info->digest;

    Cursor names(data, size, kHeaderSize);
    const std::uint8_t n = names.U8("subsystem-name length");
    if (names.Ok() && n > kMaxSubsystem)
        names.Fail("subsystem-name length " + std::to_string(n) + " out of bounds (0..63)");
    cat->subsystem = names.Text(n, "subsystem name");
    const std::uint8_t m = names.U8("display-name length");
    cat->displayName = names.Text(m, "display name");
    if (!names.Ok()) {
        *why = names.Error();
        return false;
    }

    const std::uint64_t dirEnd = std::uint64_t{info->directoryOffset} +
                                 std::uint64_t{kDirectoryRecordSize} * info->entryCount;
    if (dirEnd > size) {
        *why = "directory of " + std::to_string(info->entryCount) + " records at offset " +
               std::to_string(info->directoryOffset) + " runs past the end of the file (" +
               std::to_string(size) + " bytes)";
        return false;
    }
    cat->messages.clear();
    // The count is only a hint until the entries decode: a damaged header of
    // a large file must not reserve memory for millions of messages.
    cat->messages.reserve(std::min<std::size_t>(info->entryCount, 4096));
    info->entryOffsets.clear();
    Cursor dir(data, size, info->directoryOffset);
    for (std::uint32_t i = 0; i < info->entryCount; ++i) {
        const std::int32_t number = dir.I32("directory number");
        const std::uint32_t offset = dir.U32("directory entry offset");
        const std::uint32_t spare = dir.U32("directory spare word");
        if (i > 0 && number <= cat->messages.back().number) {
            *why = "directory record " + std::to_string(i) + " (message " + std::to_string(number) +
                   ") does not follow message " + std::to_string(cat->messages.back().number) +
                   " in ascending order";
            return false;
        }
        Message msg;
        if (!ReadEntry(data, size, offset, number, &msg, why)) return false;
        msg.dirSpare = spare;
        cat->messages.push_back(std::move(msg));
        info->entryOffsets.push_back(offset);
    }
    return true;
}

} // namespace

bool Read(const std::uint8_t *data, std::size_t size, Catalogue *cat, ReadInfo *info,
          std::string *error) {
    Catalogue localCat;
    ReadInfo localInfo;
    std::string why;
    if (!data) size = 0;
    const bool ok = Decode(data, size, cat ? cat : &localCat, info ? info : &localInfo, &why);
    if (!ok && error) *error = why;
    return ok;
}

bool Read(const std::vector<std::uint8_t> &bytes, Catalogue *cat, ReadInfo *info,
          std::string *error) {
    return Read(bytes.data(), bytes.size(), cat, info, error);
}

bool ReadFile(const std::string &path, Catalogue *cat, ReadInfo *info, std::string *error) {
    // A FIFO or a device would block the read or never end: only regular
    // files are descriptors.
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
        if (error) *error = path + " is not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    return Read(bytes, cat, info, error);
}

} // namespace errmdesc
