// records.cpp - the JSON scanner of one record line, RFC 3339 times, and the
// block reader of record files.
//
// The scanner accepts exactly the JSON grammar (RFC 8259) over valid UTF-8,
// in one pass without building a document: a summary of a large run reads
// gigabytes of records, and a document per line would cost several times
// the scan.
#include "records.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace errm_report {

namespace {

// ------------------------------------------------------------ the scanner

constexpr int kMaxDepth = 64; // nesting allowed inside a record

struct Scanner {
    const char *p;
    const char *end;

    void Ws() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    bool Eat(char c) {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Hex4(Scanner &s, std::uint32_t &v) {
    if (s.end - s.p < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) {
        const int d = HexDigit(*s.p++);
        if (d < 0) return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

void PutUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence of two to four bytes at p, 0 when none.
std::size_t Utf8Sequence(const char *p, const char *end) {
    const auto at = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(p[i]); };
    const unsigned char lead = at(0);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) lo = 0xA0; // no overlong form
        if (lead == 0xED) hi = 0x9F; // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) lo = 0x90; // no overlong form
        if (lead == 0xF4) hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (end - p < static_cast<std::ptrdiff_t>(n)) return 0;
    if (at(1) < lo || at(1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((at(static_cast<std::ptrdiff_t>(k)) & 0xC0) != 0x80) return 0;
    return n;
}

// Bytes a string holds as they are: printable ASCII except '"' and '\\'.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x80; ++c)
        t[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return t;
}();

// A string after its opening quote. Without escapes the result is a view of
// the line; with them it is decoded into scratch (when given) and viewed
// there. With no scratch the string is only checked.
bool String(Scanner &s, std::string_view *out, std::string *scratch) {
    const char *start = s.p;
    const bool decode = scratch != nullptr && out != nullptr;
    bool decoding = false;
    for (;;) {
        // The common run: plain ASCII, appended as one piece when decoding.
        const char *run = s.p;
        while (s.p < s.end && kPlain[static_cast<unsigned char>(*s.p)])
            ++s.p;
        if (decoding) scratch->append(run, static_cast<std::size_t>(s.p - run));
        if (s.p >= s.end) return false;
        const unsigned char c = static_cast<unsigned char>(*s.p);
        if (c == '"') {
            if (out != nullptr)
                *out = decoding ? std::string_view(*scratch)
                                : std::string_view(start, static_cast<std::size_t>(s.p - start));
            ++s.p;
            return true;
        }
        if (c < 0x20) return false;
        if (c >= 0x80) {
            const std::size_t n = Utf8Sequence(s.p, s.end);
            if (n == 0) return false;
            if (decoding) scratch->append(s.p, n);
            s.p += n;
            continue;
        }
        // An escape.
        if (decode && !decoding) {
            scratch->assign(start, static_cast<std::size_t>(s.p - start));
            decoding = true;
        }
        ++s.p;
        if (s.p >= s.end) return false;
        const char e = *s.p++;
        char plain = 0;
        switch (e) {
        case '"': plain = '"'; break;
        case '\\': plain = '\\'; break;
        case '/': plain = '/'; break;
        case 'b': plain = '\b'; break;
        case 'f': plain = '\f'; break;
        case 'n': plain = '\n'; break;
        case 'r': plain = '\r'; break;
        case 't': plain = '\t'; break;
        case 'u': {
            std::uint32_t cp;
            if (!Hex4(s, cp)) return false;
            if (cp >= 0xDC00 && cp <= 0xDFFF) return false; // a lone low surrogate
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                std::uint32_t low;
                if (!s.Eat('\\') || !s.Eat('u') || !Hex4(s, low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            if (decoding) PutUtf8(*scratch, cp);
            continue;
        }
        default: return false;
        }
        if (decoding) *scratch += plain;
    }
}

// A number; *integer receives its value when it is an integer that fits.
bool Number(Scanner &s, std::optional<std::int64_t> *integer) {
    const char *start = s.p;
    bool whole = true;
    s.Eat('-');
    if (s.p >= s.end) return false;
    if (*s.p == '0') {
        ++s.p;
    } else if (*s.p >= '1' && *s.p <= '9') {
        while (s.p < s.end && *s.p >= '0' && *s.p <= '9')
            ++s.p;
    } else {
        return false;
    }
    if (s.Eat('.')) {
        whole = false;
        const char *digits = s.p;
        while (s.p < s.end && *s.p >= '0' && *s.p <= '9')
            ++s.p;
        if (s.p == digits) return false;
    }
    if (s.p < s.end && (*s.p == 'e' || *s.p == 'E')) {
        whole = false;
        ++s.p;
        if (!s.Eat('+')) s.Eat('-');
        const char *digits = s.p;
        while (s.p < s.end && *s.p >= '0' && *s.p <= '9')
            ++s.p;
        if (s.p == digits) return false;
    }
    if (integer != nullptr) {
        std::int64_t v = 0;
        if (whole && std::from_chars(start, s.p, v).ec == std::errc())
            *integer = v;
        else
            integer->reset();
    }
    return true;
}

bool Word(Scanner &s, std::string_view word) {
    if (static_cast<std::size_t>(s.end - s.p) < word.size() ||
        std::memcmp(s.p, word.data(), word.size()) != 0)
        return false;
    s.p += word.size();
    return true;
}

bool Value(Scanner &s, int depth);

bool Members(Scanner &s, int depth) { // after '{'
    s.Ws();
    if (s.Eat('}')) return true;
    for (;;) {
        if (!s.Eat('"') || !String(s, nullptr, nullptr)) return false;
        s.Ws();
        if (!s.Eat(':') || !Value(s, depth)) return false;
        s.Ws();
        if (s.Eat('}')) return true;
        if (!s.Eat(',')) return false;
        s.Ws();
    }
}

bool Elements(Scanner &s, int depth) { // after '['
    s.Ws();
    if (s.Eat(']')) return true;
    for (;;) {
        if (!Value(s, depth)) return false;
        s.Ws();
        if (s.Eat(']')) return true;
        if (!s.Eat(',')) return false;
    }
}

// Any value, checked and skipped (leading white space allowed).
bool Value(Scanner &s, int depth) {
    s.Ws();
    if (s.p >= s.end) return false;
    switch (*s.p) {
    case '"': ++s.p; return String(s, nullptr, nullptr);
    case '{': ++s.p; return depth < kMaxDepth && Members(s, depth + 1);
    case '[': ++s.p; return depth < kMaxDepth && Elements(s, depth + 1);
    case 't': return Word(s, "true");
    case 'f': return Word(s, "false");
    case 'n': return Word(s, "null");
    default: return Number(s, nullptr);
    }
}

// The fields the reports read.
enum class Key {
    Other,
    Time,
    Host,
    Pid,
    Rank,
    Size,
    Run,
    Kind,
    Subsystem,
    Display,
    Number,
    Id,
    Severity,
    SeverityNumber,
    Text
};

// The key of a field name: by length first, so that most names are told
// apart by one comparison.
Key KeyOf(std::string_view name) {
    switch (name.size()) {
    case 2: return name == "id" ? Key::Id : Key::Other;
    case 3: return name == "pid" ? Key::Pid : name == "run" ? Key::Run : Key::Other;
    case 4:
        return name == "time"   ? Key::Time
               : name == "text" ? Key::Text
               : name == "rank" ? Key::Rank
               : name == "size" ? Key::Size
               : name == "kind" ? Key::Kind
               : name == "host" ? Key::Host
                                : Key::Other;
    case 6: return name == "number" ? Key::Number : Key::Other;
    case 7: return name == "display" ? Key::Display : Key::Other;
    case 8: return name == "severity" ? Key::Severity : Key::Other;
    case 9: return name == "subsystem" ? Key::Subsystem : Key::Other;
    case 15: return name == "severity_number" ? Key::SeverityNumber : Key::Other;
    default: return Key::Other;
    }
}

// The text field a key fills, and its scratch slot.
std::optional<Field> TextField(Key key) {
    switch (key) {
    case Key::Time: return Field::Time;
    case Key::Host: return Field::Host;
    case Key::Run: return Field::Run;
    case Key::Kind: return Field::Kind;
    case Key::Subsystem: return Field::Subsystem;
    case Key::Display: return Field::Display;
    case Key::Id: return Field::Id;
    case Key::Severity: return Field::Severity;
    case Key::Text: return Field::Text;
    default: return std::nullopt;
    }
}

std::string_view *TextSlot(Record &r, Field f) {
    switch (f) {
    case Field::Time: return &r.time;
    case Field::Host: return &r.host;
    case Field::Run: return &r.run;
    case Field::Kind: return &r.kind;
    case Field::Subsystem: return &r.subsystem;
    case Field::Display: return &r.display;
    case Field::Id: return &r.id;
    case Field::Severity: return &r.severity;
    default: return &r.text;
    }
}

// ---------------------------------------------------------------- times

bool Digits(std::string_view t, std::size_t at, std::size_t n, int &v) {
    if (at + n > t.size()) return false;
    v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

// ---------------------------------------------------------------- stats

std::string Plural(std::uint64_t n, std::string_view word) {
    return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

} // namespace

std::optional<std::int64_t> ParseTime(std::string_view t) {
    int y, mo, d, h, mi, s;
    if (!Digits(t, 0, 4, y) || t.size() < 20 || t[4] != '-' || !Digits(t, 5, 2, mo) ||
        t[7] != '-' || !Digits(t, 8, 2, d) || (t[10] != 'T' && t[10] != 't' && t[10] != ' ') ||
        !Digits(t, 11, 2, h) || t[13] != ':' || !Digits(t, 14, 2, mi) || t[16] != ':' ||
        !Digits(t, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    std::size_t i = 19;
    std::int64_t us = 0;
    if (t[i] == '.') {
        std::size_t digits = 0;
        for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits)
            if (digits < 6) us = us * 10 + (t[i] - '0');
        if (digits == 0) return std::nullopt;
        for (; digits < 6; ++digits)
            us *= 10;
    }
    std::int64_t offset = 0; // seconds east of UTC
    if (i < t.size() && (t[i] == 'Z' || t[i] == 'z')) {
        ++i;
    } else if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        int oh, om;
        if (!Digits(t, i + 1, 2, oh) || i + 3 >= t.size() || t[i + 3] != ':' ||
            !Digits(t, i + 4, 2, om))
            return std::nullopt;
        offset = (oh * 3600 + om * 60) * (t[i] == '-' ? -1 : 1);
        i += 6;
    } else {
        return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;
    const std::int64_t secs = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset;
    return secs * 1000000 + us;
}

std::string FormatTime(std::int64_t us) {
    std::int64_t secs = us / 1000000, frac = us % 1000000;
    if (frac < 0) {
        frac += 1000000;
        --secs;
    }
    std::int64_t days = secs / 86400, rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (the inverse of DaysFromCivil).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char buf[160]; // room for any int64 in every field
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(rem / 3600), static_cast<long long>(rem / 60 % 60),
                  static_cast<long long>(rem % 60), static_cast<long long>(frac));
    return buf;
}

int SeverityNumberOf(std::string_view keyword) {
    constexpr std::pair<std::string_view, int> kNumbers[] = {
        {"TRACE", 1},    {"DEBUG", 5},  {"NOTE", 9},           {"DISPLAY", 9},
        {"WARNING", 13}, {"ERROR", 17}, {"ERROR_DELAYED", 17}, {"FATAL", 21},
    };
    for (const auto &[name, number] : kNumbers)
        if (name == keyword) return number;
    return 0;
}

bool RecordParser::Parse(std::string_view line, Record &r) {
    r = Record{};
    Scanner s{line.data(), line.data() + line.size()};
    bool haveTime = false, haveId = false, haveSeverity = false, haveSeverityNumber = false;
    s.Ws();
    if (!s.Eat('{')) return false;
    s.Ws();
    if (!s.Eat('}')) {
        for (;;) {
            std::string_view name;
            if (!s.Eat('"') || !String(s, &name, &key_)) return false;
            s.Ws();
            if (!s.Eat(':')) return false;
            s.Ws();
            const Key key = KeyOf(name);
            if (s.p >= s.end) return false;
            // A name given twice counts with its last value, as JSON parsers
            // read it; a value of another type leaves the field unset.
            const std::optional<Field> field = TextField(key);
            const bool numeric = key == Key::Pid || key == Key::Rank || key == Key::Size ||
                                 key == Key::Number || key == Key::SeverityNumber;
            if (field && *s.p == '"') {
                ++s.p;
                std::string &scratch = scratch_[static_cast<std::size_t>(*field)];
                if (!String(s, TextSlot(r, *field), &scratch)) return false;
                if (key == Key::Time) haveTime = true;
                if (key == Key::Id) haveId = true;
                if (key == Key::Severity) haveSeverity = true;
            } else if (numeric && (*s.p == '-' || (*s.p >= '0' && *s.p <= '9'))) {
                std::optional<std::int64_t> v;
                if (!Number(s, &v)) return false;
                if (key == Key::Pid) r.pid = v.value_or(0);
                if (key == Key::Rank) r.rank = v;
                if (key == Key::Size) r.size = v;
                if (key == Key::Number) r.number = v;
                if (key == Key::SeverityNumber) {
                    haveSeverityNumber = v && *v >= 0 && *v <= 24;
                    r.severityNumber = haveSeverityNumber ? static_cast<int>(*v) : 0;
                }
            } else {
                if (!Value(s, 0)) return false;
                if (field) *TextSlot(r, *field) = {};
                if (key == Key::Time) haveTime = false;
                if (key == Key::Id) haveId = false;
                if (key == Key::Severity) haveSeverity = false;
                if (key == Key::Pid) r.pid = 0;
                if (key == Key::Rank) r.rank.reset();
                if (key == Key::Size) r.size.reset();
                if (key == Key::Number) r.number.reset();
                if (key == Key::SeverityNumber) haveSeverityNumber = false;
            }
            s.Ws();
            if (s.Eat('}')) break;
            if (!s.Eat(',')) return false;
            s.Ws();
        }
    }
    s.Ws();
    if (s.p != s.end || !haveTime || !haveId || !haveSeverity) return false;
    const std::optional<std::int64_t> us = ParseTime(r.time);
    if (!us) return false;
    r.timeUs = *us;
    if (!haveSeverityNumber) r.severityNumber = SeverityNumberOf(r.severity);
    if (r.kind.empty()) r.kind = "message";
    return true;
}

// ---------------------------------------------------------------- reader

RecordReader::RecordReader(std::string path, std::size_t block) : buf_(block) {
    stats_.path = std::move(path);
    fd_ = ::open(stats_.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        stats_.readable = false;
        stats_.error = std::strerror(errno);
    }
}

RecordReader::~RecordReader() {
    if (fd_ >= 0) ::close(fd_);
}

// Moves the unread bytes to the front and reads more behind them; false at
// the end of the file or on a read error.
bool RecordReader::Fill() {
    if (eof_ || fd_ < 0) return false;
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2); // a line longer than the block
    for (;;) {
        const ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            stats_.readable = false;
            stats_.error = std::strerror(errno);
        }
        eof_ = true;
        return false;
    }
}

bool RecordReader::Next(Record &out) {
    std::size_t scanned = begin_; // no line feed before this
    for (;;) {
        const void *nl = std::memchr(buf_.data() + scanned, '\n', end_ - scanned);
        if (nl == nullptr) {
            scanned = end_ - begin_; // offset from the front once Fill moves the bytes
            if (!Fill()) {
                if (end_ > begin_) stats_.cut = true;
                begin_ = end_;
                return false;
            }
            continue;
        }
        const char *start = buf_.data() + begin_;
        const char *stop = static_cast<const char *>(nl);
        begin_ = static_cast<std::size_t>(stop - buf_.data()) + 1;
        scanned = begin_;
        ++line_;
        if (parser_.Parse(std::string_view(start, static_cast<std::size_t>(stop - start)), out)) {
            ++stats_.records;
            return true;
        }
        if (stats_.invalid++ == 0) stats_.firstInvalidLine = line_;
    }
}

bool ReportStats(const std::vector<FileStats> &stats) {
    bool clean = true;
    for (const FileStats &f : stats) {
        if (!f.readable) {
            std::cerr << "errm-report: " << f.path << ": " << f.error << "\n";
            clean = false;
        }
        if (f.invalid > 0) {
            std::cerr << "errm-report: " << f.path << ": " << Plural(f.invalid, "line")
                      << " not a record, ignored (first: line " << f.firstInvalidLine << ")\n";
            clean = false;
        }
    }
    std::uint64_t cut = 0;
    std::string cutFiles;
    for (const FileStats &f : stats) {
        if (!f.cut) continue;
        if (cut++ < 3) cutFiles += (cutFiles.empty() ? "" : ", ") + f.path;
    }
    if (cut > 0)
        std::cerr << "errm-report: note: " << Plural(cut, "file") << " (" << cutFiles
                  << (cut > 3 ? ", ..." : "") << (cut == 1 ? ") ends" : ") end")
                  << " with a line without line feed, left by a process that died "
                     "while writing it; ignored\n";
    return clean;
}

} // namespace errm_report
