// errm_records.cpp - the JSON record writer.
//
// Sections: tables; the state record; clock, names and the file's path;
// arguments typed by their format; the JSON line; the file; the hooks.
//
// Each record is built whole in a fixed buffer of the state record and
// written with one write(2) on a descriptor opened with O_APPEND, so that a
// reader (or another process appending to the same file) sees whole lines
// only. What is on disk if the process dies at any instruction: every record
// whose write(2) returned; only a death inside that one write can leave the
// last line short (a reader drops a last line without line feed). No signal
// handler writes records. Nothing is allocated on the message path.
#include "reports/errm_records.h"
#include "base/errm_interr.h"
#include "base/errm_options.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "reports/errm_channels.h"
#include "reports/errm_message.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>

errm_RecordSwitch errm_Rec = {0};

namespace {

// ------------------------------------------------------------------- tables

// OpenTelemetry's severity numbers, indexed by severity code (0: unknown).
constexpr std::array<int, 9> kSeverityNumbers = {0, 17, 17, 13, 21, 1, 5, 9, 9};
static_assert(kSeverityNumbers[ERRM_SEV_ERROR] == 17 && kSeverityNumbers[ERRM_SEV_FATAL] == 21 &&
                  kSeverityNumbers[ERRM_SEV_TRACE] == 1 && kSeverityNumbers[ERRM_SEV_DEBUG] == 5 &&
                  kSeverityNumbers[ERRM_SEV_DISPLAY] == 9,
              "indexed by severity code");

int severityNumber(int code) {
    return code >= 1 && code <= 8 ? kSeverityNumbers[static_cast<std::size_t>(code)] : 0;
}

enum class Kind : unsigned char { none, message, notice, user, direct, notPresent };
constexpr std::array<std::string_view, 6> kKindNames = {"",     "message", "notice",
                                                        "user", "direct",  "notice"};

// The text of the "not present" line without its severity word.
constexpr const char *kNotPresentFormat =
    "errm error message number %d not present in .bin, exit anyway.";

constexpr std::size_t kMaxArgs = 128;      // arguments recorded per message
constexpr std::size_t kArgTextMax = 65536; // bytes read from one string argument
constexpr std::size_t kCountSlots = 8192;  // distinct ids counted per cycle
constexpr std::size_t kPathCap = 4096;     // expanded record file name
constexpr std::size_t kHostCap = 256;      // host name
constexpr std::size_t kRunCap = 512;       // run identifier

// Where each part of a line may end at the latest: what follows it always
// fits, so that a cut string still leaves a whole object.
constexpr std::size_t kHeadEnd = ERRM_RECORD_MAX - 4096; // fixed fields
constexpr std::size_t kTextEnd = ERRM_RECORD_MAX - 1024; // text
constexpr std::size_t kTemplateEnd = ERRM_RECORD_MAX - 256;
constexpr std::size_t kArgsEnd = ERRM_RECORD_MAX - 40; // room for ],"truncated":true}\n

enum class ArgType : unsigned char {
    sInt,     // signed integer of the conversion's size
    uInt,     // unsigned integer of the conversion's size
    real,     // double
    longReal, // long double
    text,     // const char *
    wideText, // const wchar_t *
    character,
    wideCharacter,
    pointer,
};

struct Arg {
    ArgType type;
    errm_ConvSize size; // length modifier (integers)
    unsigned bits;      // N of wN / wfN
    int precisionArg;   // strings: argument holding the precision, -1 none
    int precision;      // strings: precision written in digits, -1 none
    union {
        long long i;
        unsigned long long u;
        double d;
        long double ld;
        const char *s;
        const wchar_t *ws;
        const void *p;
    };
};

// The fields of the last record from "kind" to "severity_number", as
// written, with what they were made of: the next record of the same message
// copies them instead of escaping and formatting them again.
struct FieldsCache {
    std::size_t len;          // bytes of text, 0 when empty
    Kind kind;                // what the text was made of ...
    int number;               //
    int severityNumber;       //
    const char *severity;     // a keyword of the severity table
    std::size_t subsystemLen; // lengths of the three texts in keys
    std::size_t displayLen;   //
    std::size_t idLen;        //
    char keys[3 * 1024 + 24]; // subsystem, display and id, one after another
    std::uint64_t countKey;   // countKey() of kind, subsystem and id
    char text[2048];          // the fields, escaped
};

struct CountSlot {
    std::uint64_t key;   // hash of kind, subsystem and id; 0 = free
    std::uint32_t count; // records of that key so far in this cycle
};

// --------------------------------------------------------- the state record

struct RecordState {
    int fd;                   // the record file, -1 while not open
    pid_t pid;                // process the file and run belong to; 0 none yet, -1 a new fork child
    unsigned forks;           // forks this process has seen as a child (fork handler)
    int forkHandler;          // 1 once the fork handler is registered
    char path[kPathCap];      // the expanded name of the file
    char host[kHostCap];      // host name, read once per process
    char run[kRunCap];        // the process's own run identifier: host-pid-start time
    char fixed[8192];         // "host".."run" fields as a record writes them, built once a cycle
    std::size_t fixedLen;     // bytes of fixed, 0 until built
    std::int64_t stampSecond; // second the cached stamp holds, -1 none
    char stamp[24];           // "YYYY-MM-DDTHH:MM:SS" of stampSecond
    Kind pending;             // the message being written, none between messages
    const char *format;       // its template
    const char *levelVar;     // direct: the trace level variable
    unsigned subsystem;       // not present: the subsystem asked for
    int number;               // not present: the number asked for
    unsigned lineMask;        // channels that got the line (bit = channel id)
    unsigned noticeMask;      // channels that got the repetition notice instead
    const char *notice;       // the notice text, null when none
    std::size_t argCount;     // arguments held in args
    int argsCut;              // 1: more arguments than kMaxArgs, or unreadable
    Arg args[kMaxArgs];       // the pending message's arguments, in order
    std::size_t countUsed;    // used slots of counts
    CountSlot counts[kCountSlots]; // occurrences per id
    char userFormat[2 * 4097];     // a user format after its conversions
    char wide[8192];               // a wide string argument in UTF-8
    char line[ERRM_RECORD_MAX];    // the line being built
    FieldsCache fields;            // the fields of the last record
};

RecordState g_rec = {-1, 0, 0, 0, {},      {}, {}, {}, 0, -1, {}, Kind::none, nullptr, nullptr,
                     0,  0, 0, 0, nullptr, 0,  0,  {}, 0, {}, {}, {},         {},      {}};

// The calling thread's kernel id, asked once per thread and again after a
// fork (the child's thread has an id of its own).
struct ThreadId {
    unsigned forks = ~0u; // g_rec.forks when tid was read
    char text[24];        // the id in decimal
    std::size_t length;   // bytes of text
};
thread_local ThreadId t_thread;

// In the child after fork: the next record takes the child's pid, names and
// file. Only a counter changes here (a fork handler may do little).
void inForkChild() {
    ++g_rec.forks;
    g_rec.pid = -1;
}

// ----------------------------------------------- clock, names and the path


// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(std::int64_t z, int *y, unsigned *m, unsigned *d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

void twoDigits(char *at, unsigned v) {
    at[0] = static_cast<char>('0' + v / 10 % 10);
    at[1] = static_cast<char>('0' + v % 10);
}

// "YYYY-MM-DDTHH:MM:SS" (19 characters) of a second since the epoch.
void civilStamp(std::int64_t second, char *out) {
    std::int64_t days = second / 86400, rest = second % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y;
    unsigned m, d;
    civilFromDays(days, &y, &m, &d);
    const unsigned year = static_cast<unsigned>(y < 0 ? 0 : y > 9999 ? 9999 : y);
    twoDigits(out, year / 100);
    twoDigits(out + 2, year % 100);
    out[4] = '-';
    twoDigits(out + 5, m);
    out[7] = '-';
    twoDigits(out + 8, d);
    out[10] = 'T';
    twoDigits(out + 11, static_cast<unsigned>(rest / 3600));
    out[13] = ':';
    twoDigits(out + 14, static_cast<unsigned>(rest / 60 % 60));
    out[16] = ':';
    twoDigits(out + 17, static_cast<unsigned>(rest % 60));
    out[19] = '\0';
}

// The current time as RFC 3339, UTC, microseconds (27 characters and NUL).
void timeStamp(char *out) {
    struct timespec ts = {0, 0};
    errm_Sys.clock_gettime(CLOCK_REALTIME, &ts);
    const std::int64_t second = ts.tv_sec;
    if (second != g_rec.stampSecond) {
        civilStamp(second, g_rec.stamp);
        g_rec.stampSecond = second;
    }
    std::memcpy(out, g_rec.stamp, 19);
    out[19] = '.';
    unsigned micro = static_cast<unsigned>(ts.tv_nsec / 1000) % 1000000;
    for (int i = 24; i >= 20; i -= 2) {
        std::memcpy(out + i, &errm_kDigitPairs[2 * (micro % 100)], 2);
        micro /= 100;
    }
    out[26] = 'Z';
    out[27] = '\0';
}

// Appends text to a fixed buffer; refuses (returns false) what does not fit.
bool append(char *buf, std::size_t cap, std::size_t *len, std::string_view text) {
    if (text.size() >= cap - *len) return false;
    std::memcpy(buf + *len, text.data(), text.size());
    *len += text.size();
    buf[*len] = '\0';
    return true;
}

// A magnitude in decimal, written backwards to end; returns where it starts.
char *digitsBefore(char *end, unsigned long long v) {
    while (v >= 100) {
        const std::size_t pair = 2 * static_cast<std::size_t>(v % 100);
        v /= 100;
        *--end = errm_kDigitPairs[pair + 1];
        *--end = errm_kDigitPairs[pair];
    }
    if (v >= 10) {
        *--end = errm_kDigitPairs[2 * v + 1];
        *--end = errm_kDigitPairs[2 * v];
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

std::string_view decimal(long long v, char (&buf)[24]) {
    // The magnitude in unsigned arithmetic, so that LLONG_MIN has one too.
    const unsigned long long m =
        v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char *start = digitsBefore(buf + sizeof buf, m);
    if (v < 0) *--start = '-';
    return {start, static_cast<std::size_t>(buf + sizeof buf - start)};
}

// The calling thread's kernel id in decimal.
std::string_view threadId() {
    if (t_thread.forks != g_rec.forks) {
        t_thread.forks = g_rec.forks;
        char buf[24];
        const std::string_view text = decimal(errm_Sys.gettid(), buf);
        std::memcpy(t_thread.text, text.data(), text.size());
        t_thread.length = text.size();
    }
    return {t_thread.text, t_thread.length};
}

// The file name: %p, %r and %h expanded when the pattern holds a '%';
// otherwise, in a parallel launch, the rank before the extension. 1 when it
// fits.
int expandPath(const char *pattern, char *out, std::size_t cap) {
    std::size_t len = 0;
    out[0] = '\0';
    char number[24];
    char rank[24];
    const std::string_view pid = decimal(g_rec.pid, number);
    const bool ranked = errm_RankText(rank, sizeof rank) == 1;
    if (std::strchr(pattern, '%') == nullptr) {
        if (!ranked) return append(out, cap, &len, pattern) ? 1 : 0;
        // <root>.<rank>.<ext>, the extension being the last component's
        // text from its last '.' (a leading dot starts no extension).
        const char *base = std::strrchr(pattern, '/');
        base = base != nullptr ? base + 1 : pattern;
        const char *dot = std::strrchr(base, '.');
        if (dot == nullptr || dot == base) dot = base + std::strlen(base);
        return append(out, cap, &len, std::string_view(pattern, dot - pattern)) &&
                       append(out, cap, &len, ".") && append(out, cap, &len, rank) &&
                       append(out, cap, &len, dot)
                   ? 1
                   : 0;
    }
    for (const char *p = pattern; *p != '\0'; ++p) {
        std::string_view piece(p, 1);
        if (*p == '%') {
            switch (p[1]) {
            case 'p': piece = pid; break;
            case 'r': piece = ranked ? std::string_view(rank) : pid; break;
            case 'h': piece = g_rec.host; break;
            case '%': piece = "%"; break;
            default: break;
            }
            if (piece.data() != p) ++p;
        }
        if (!append(out, cap, &len, piece)) return 0;
    }
    return 1;
}

// The process's names, once per process (again in a child after fork).
void startProcess(pid_t pid) {
    g_rec.pid = pid;
    g_rec.fixedLen = 0;
    if (errm_Sys.gethostname(g_rec.host, sizeof g_rec.host) != 0) std::memcpy(g_rec.host, "?", 2);
    g_rec.host[sizeof g_rec.host - 1] = '\0';
    std::memset(g_rec.counts, 0, sizeof g_rec.counts);
    g_rec.countUsed = 0;
    std::size_t len = 0;
    g_rec.run[0] = '\0';
    // host-pid-start time (of the first record), e.g. node7-4242-20261207T210304Z.
    struct timespec ts = {0, 0};
    errm_Sys.clock_gettime(CLOCK_REALTIME, &ts);
    char stamp[24];
    civilStamp(ts.tv_sec, stamp);
    char compact[20];
    std::size_t c = 0;
    for (const char *s = stamp; *s != '\0'; ++s)
        if (*s != '-' && *s != ':') compact[c++] = *s;
    compact[c++] = 'Z';
    compact[c] = '\0';
    char number[24];
    append(g_rec.run, sizeof g_rec.run, &len, g_rec.host);
    append(g_rec.run, sizeof g_rec.run, &len, "-");
    append(g_rec.run, sizeof g_rec.run, &len, decimal(pid, number));
    append(g_rec.run, sizeof g_rec.run, &len, "-");
    append(g_rec.run, sizeof g_rec.run, &len, compact);
}

void closeFile() {
    if (g_rec.fd >= 0) errm_Sys.close(g_rec.fd);
    g_rec.fd = -1;
}

// The file is open for the current process: 1, or 0 (records are then
// turned off, told once).
int ensureFile() {
    if (g_rec.pid <= 0) {
        const pid_t pid = errm_Sys.getpid();
        // A child after fork: its own names and counts; its own file when
        // the name holds the pid, else the inherited descriptor appends.
        const bool inherited = g_rec.pid < 0;
        startProcess(pid);
        char path[kPathCap];
        if (inherited && g_rec.fd >= 0 &&
            (!expandPath(errm_Opt.jsonPath, path, sizeof path) ||
             std::strcmp(path, g_rec.path) != 0))
            closeFile();
    }
    if (g_rec.fd >= 0) return 1;
    int fd = -1;
    if (expandPath(errm_Opt.jsonPath, g_rec.path, sizeof g_rec.path))
        fd =
            errm_Sys.create(g_rec.path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        errm_Rec.on = 0;
        ERRM_REPORT(ERRM_E_OPEN, g_rec.path[0] != '\0' ? g_rec.path : errm_Opt.jsonPath);
        return 0;
    }
    g_rec.fd = fd;
    return 1;
}

// Writes the whole line: resumes after a partial write or an interruption.
void writeLine(const char *data, std::size_t n) {
    errm_PL_WriteAll(g_rec.fd, data, n, 0);
}

// The key records of (kind, subsystem, id) are counted under.
std::uint64_t countKey(Kind kind, std::string_view subsystem, std::string_view id) {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](std::string_view s) {
        for (unsigned char c : s)
            h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0xFFu) * 1099511628211ull;
    };
    mix(kKindNames[static_cast<std::size_t>(kind)]);
    mix(subsystem);
    mix(id);
    return h == 0 ? 1 : h;
}

// The occurrence number of a record of key h: 1, 2, ...; 0 once the table
// of distinct ids is full.
std::uint32_t nextCount(std::uint64_t h) {
    for (std::size_t i = h % kCountSlots;; i = (i + 1) % kCountSlots) {
        CountSlot &slot = g_rec.counts[i];
        if (slot.key == h) return ++slot.count;
        if (slot.key != 0) continue;
        if (g_rec.countUsed >= kCountSlots - kCountSlots / 8) return 0;
        ++g_rec.countUsed;
        slot.key = h;
        return slot.count = 1;
    }
}

// -------------------------------------------- arguments typed by the format

// The argument a conversion character reads, false when it reads none.
bool argOf(const errm_Conv &c, Arg *a) {
    a->size = c.size;
    a->bits = c.bits;
    a->precisionArg = -1;
    a->precision = -1;
    const bool wide = c.size == errm_ConvSize::L;
    switch (c.conversion) {
    case 'd':
    case 'i': a->type = ArgType::sInt; return true;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
    case 'b':
    case 'B': a->type = ArgType::uInt; return true;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        a->type = c.size == errm_ConvSize::BigL || c.size == errm_ConvSize::Q ||
                          c.size == errm_ConvSize::LL
                      ? ArgType::longReal
                      : ArgType::real;
        return true;
    case 'c': a->type = wide ? ArgType::wideCharacter : ArgType::character; return true;
    case 'C': a->type = ArgType::wideCharacter; return true;
    case 's': a->type = wide ? ArgType::wideText : ArgType::text; break;
    case 'S': a->type = ArgType::wideText; break;
    case 'p':
    case 'n': a->type = ArgType::pointer; return true;
    default: return false; // %%, %m, an unknown character: no argument
    }
    if (c.precision.from == errm_ConvFrom::Digits)
        a->precision = static_cast<int>(c.precision.value);
    return true;
}

Arg intArg() {
    Arg a{};
    a.type = ArgType::sInt;
    a.size = errm_ConvSize::None;
    a.precisionArg = -1;
    a.precision = -1;
    return a;
}

// Places an argument's type at position at (0-based); false beyond the table.
bool place(std::size_t at, const Arg &a, std::size_t *count, std::array<bool, kMaxArgs> *placed) {
    if (at >= kMaxArgs) {
        g_rec.argsCut = 1;
        return false;
    }
    g_rec.args[at] = a;
    if (at + 1 > *count) *count = at + 1;
    (*placed)[at] = true;
    return true;
}

long long readSigned(const Arg &a, va_list &ap) {
    switch (a.size) {
    case errm_ConvSize::HH: return static_cast<signed char>(va_arg(ap, int));
    case errm_ConvSize::H: return static_cast<short>(va_arg(ap, int));
    case errm_ConvSize::L: return va_arg(ap, long);
    case errm_ConvSize::LL:
    case errm_ConvSize::Q:
    case errm_ConvSize::BigL: return va_arg(ap, long long);
    case errm_ConvSize::J: return va_arg(ap, intmax_t);
    case errm_ConvSize::Z:
    case errm_ConvSize::BigZ: return va_arg(ap, ssize_t);
    case errm_ConvSize::T: return va_arg(ap, ptrdiff_t);
    case errm_ConvSize::W:
    case errm_ConvSize::WF:
        if (a.bits == 64) return va_arg(ap, std::int64_t);
        if (a.bits == 8) return static_cast<std::int8_t>(va_arg(ap, int));
        if (a.bits == 16) return static_cast<std::int16_t>(va_arg(ap, int));
        return va_arg(ap, int);
    default: return va_arg(ap, int);
    }
}

unsigned long long readUnsigned(const Arg &a, va_list &ap) {
    switch (a.size) {
    case errm_ConvSize::HH: return static_cast<unsigned char>(va_arg(ap, unsigned));
    case errm_ConvSize::H: return static_cast<unsigned short>(va_arg(ap, unsigned));
    case errm_ConvSize::L: return va_arg(ap, unsigned long);
    case errm_ConvSize::LL:
    case errm_ConvSize::Q:
    case errm_ConvSize::BigL: return va_arg(ap, unsigned long long);
    case errm_ConvSize::J: return va_arg(ap, uintmax_t);
    case errm_ConvSize::Z:
    case errm_ConvSize::BigZ: return va_arg(ap, std::size_t);
    case errm_ConvSize::T: return static_cast<unsigned long long>(va_arg(ap, ptrdiff_t));
    case errm_ConvSize::W:
    case errm_ConvSize::WF:
        if (a.bits == 64) return va_arg(ap, std::uint64_t);
        if (a.bits == 8) return static_cast<std::uint8_t>(va_arg(ap, unsigned));
        if (a.bits == 16) return static_cast<std::uint16_t>(va_arg(ap, unsigned));
        return va_arg(ap, unsigned);
    default: return va_arg(ap, unsigned);
    }
}

// Reads the arguments of format from a copy of args into g_rec.args, typed
// by the conversions as the C library reads them: in order, or by their
// "%n$" positions when the first conversion has one. A star width or
// precision is an int argument of its own.
// The common case without the parser: every conversion a bare %s, %d, %i,
// %u or %% (read alike by the parser, see errm_layout.cpp). False, with
// nothing read, for any other format.
bool captureBare(const char *format, va_list args) {
    std::size_t count = 0;
    for (const char *p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p + 2, '%')) {
        ArgType type;
        switch (p[1]) {
        case '%': continue;
        case 's': type = ArgType::text; break;
        case 'd':
        case 'i': type = ArgType::sInt; break;
        case 'u': type = ArgType::uInt; break;
        default: return false;
        }
        if (count == kMaxArgs) return false;
        Arg &a = g_rec.args[count++];
        a = intArg();
        a.type = type;
    }
    va_list ap;
    va_copy(ap, args);
    for (std::size_t i = 0; i < count; ++i) {
        Arg &a = g_rec.args[i];
        switch (a.type) {
        case ArgType::text: a.s = va_arg(ap, const char *); break;
        case ArgType::uInt: a.u = va_arg(ap, unsigned); break;
        default: a.i = va_arg(ap, int); break;
        }
    }
    va_end(ap);
    g_rec.argCount = count;
    return true;
}

void captureArgs(const char *format, va_list args) {
    g_rec.argCount = 0;
    g_rec.argsCut = 0;
    if (format == nullptr || format[0] == '\0') return;
    if (captureBare(format, args)) return;
    std::size_t count = 0;
    int mode = 0; // 0 undecided, 1 in order, 2 by position
    std::array<bool, kMaxArgs> placed{};
    errm_ConvEach(format, [&](std::size_t, const errm_Conv &c) {
        if (c.conversion == '%' && c.length == 2) return true;
        Arg a;
        const bool reads = argOf(c, &a);
        if (mode == 0) mode = c.position != 0 ? 2 : 1;
        if (mode == 1) {
            if (c.width.from == errm_ConvFrom::Star && !place(count, intArg(), &count, &placed))
                return false;
            if (c.precision.from == errm_ConvFrom::Star) {
                a.precisionArg = static_cast<int>(count);
                if (!place(count, intArg(), &count, &placed)) return false;
            }
            return !reads || place(count, a, &count, &placed);
        }
        // By position: every argument's type comes from its number.
        if (c.width.from == errm_ConvFrom::StarAt &&
            !place(c.width.value - 1, intArg(), &count, &placed))
            return false;
        if (c.precision.from == errm_ConvFrom::StarAt) {
            a.precisionArg = static_cast<int>(c.precision.value) - 1;
            if (!place(c.precision.value - 1, intArg(), &count, &placed)) return false;
        }
        if (!reads) return true;
        if (c.position == 0) {
            g_rec.argsCut = 1; // mixed numbering: the C library's behaviour is undefined
            return false;
        }
        return place(c.position - 1, a, &count, &placed);
    });
    // By position, only the arguments before the first number that no
    // conversion uses can be read: its type is unknown.
    for (std::size_t i = 0; i < count; ++i)
        if (!placed[i]) {
            count = i;
            g_rec.argsCut = 1;
        }
    va_list ap;
    va_copy(ap, args);
    for (std::size_t i = 0; i < count; ++i) {
        Arg &a = g_rec.args[i];
        switch (a.type) {
        case ArgType::sInt: a.i = readSigned(a, ap); break;
        case ArgType::uInt: a.u = readUnsigned(a, ap); break;
        case ArgType::real: a.d = va_arg(ap, double); break;
        case ArgType::longReal: a.ld = va_arg(ap, long double); break;
        case ArgType::text: a.s = va_arg(ap, const char *); break;
        case ArgType::wideText: a.ws = va_arg(ap, const wchar_t *); break;
        case ArgType::character: a.i = static_cast<unsigned char>(va_arg(ap, int)); break;
        case ArgType::wideCharacter: a.i = static_cast<long long>(va_arg(ap, wint_t)); break;
        case ArgType::pointer: a.p = va_arg(ap, const void *); break;
        }
        g_rec.argCount = i + 1;
    }
    va_end(ap);
}

// ---------------------------------------------------------------- the line

// A line being built in g_rec.line. The fixed pieces always go in (the ends
// below leave room for them); strings are cut at a character boundary at
// their end, numbers refused whole.
struct Line {
    std::size_t len = 0;
    bool cut = false; // a string was cut or an argument left out

    // A fixed piece: always fits, by the budget of the ends.
    void put(std::string_view s) {
        if (len + s.size() > ERRM_RECORD_MAX) return;
        std::memcpy(g_rec.line + len, s.data(), s.size());
        len += s.size();
    }
    // A literal: its length is known, the copy inlined.
    template <std::size_t N> void lit(const char (&s)[N]) {
        if (len + (N - 1) > ERRM_RECORD_MAX) return;
        std::memcpy(g_rec.line + len, s, N - 1);
        len += N - 1;
    }
    // A piece that may not pass end: refused whole.
    bool fits(std::string_view s, std::size_t end) {
        if (len + s.size() > end) {
            cut = true;
            return false;
        }
        put(s);
        return true;
    }
};

constexpr char kHex[] = "0123456789abcdef";

// The bytes a JSON string holds as they are: printable ASCII but '"' and '\\'.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x80; ++c)
        t[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return t;
}();

// The end of the run of plain bytes that starts at i: sixteen bytes at a
// time (SSE2) or eight (any other machine) while a whole block is plain,
// then byte by byte.
std::size_t plainRun(const unsigned char *s, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
    // The stop bytes of the sixteen at b, one bit each. As signed bytes,
    // those at or above 0x80 are below 0x20 too.
    auto stops = [](const unsigned char *b) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
        const __m128i stop = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
        return static_cast<unsigned>(_mm_movemask_epi8(stop));
    };
    for (; n - i >= 16; i += 16)
        if (const unsigned mask = stops(s + i); mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
    // The last block, read again from the end: its bytes before i are plain.
    if (i < n && n >= 16) {
        const unsigned mask = stops(s + n - 16);
        return mask == 0 ? n : n - 16 + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    // Some byte of x is zero (exact as to whether one is, whatever the others).
    auto anyZero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
    while (n - i >= 8) {
        std::uint64_t w;
        std::memcpy(&w, s + i, 8);
        // A byte at or above 0x80, below 0x20, a '"' or a '\\' ends the run.
        const std::uint64_t stop = (w & kHigh) | ((w - kOnes * 0x20) & ~w & kHigh) |
                                   anyZero(w ^ (kOnes * '"')) | anyZero(w ^ (kOnes * '\\'));
        if (stop != 0) break;
        i += 8;
    }
    while (i < n && kPlain[s[i]])
        ++i;
    return i;
}

// Length of the well-formed UTF-8 sequence at s (n bytes left), 0 when the
// byte at s starts none.
std::size_t sequenceLength(const unsigned char *s, std::size_t n) {
    const unsigned char b = s[0];
    auto cont = [&](std::size_t i, unsigned lo, unsigned hi) {
        return i < n && s[i] >= lo && s[i] <= hi;
    };
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return cont(1, 0x80, 0xBF) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const unsigned lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const unsigned lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// Appends text as a JSON string: quotes, escapes for '"', '\' and control
// characters, U+FFFD for each byte that starts no well-formed UTF-8
// sequence. The content stops at a character boundary before end (the
// closing quote is the last byte before end).
void putString(Line &out, const char *text, std::size_t n, std::size_t end) {
    out.put("\"");
    const std::size_t stop = end > out.len + 1 ? end - 1 : out.len;
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    std::size_t i = 0;
    while (i < n) {
        // A run of characters written as they are.
        const std::size_t j = plainRun(s, i, n);
        if (j > i) {
            const std::size_t room = stop - out.len;
            if (j - i > room) {
                out.put(std::string_view(text + i, room));
                out.cut = true;
                break;
            }
            out.put(std::string_view(text + i, j - i));
            i = j;
            continue;
        }
        char esc[8];
        std::string_view unit;
        const unsigned char b = s[i];
        std::size_t step = 1;
        if (b == '"' || b == '\\') {
            esc[0] = '\\';
            esc[1] = static_cast<char>(b);
            unit = {esc, 2};
        } else if (b < 0x20) {
            const char *named = b == '\n'   ? "\\n"
                                : b == '\r' ? "\\r"
                                : b == '\t' ? "\\t"
                                : b == '\b' ? "\\b"
                                : b == '\f' ? "\\f"
                                            : nullptr;
            if (named != nullptr) {
                unit = named;
            } else {
                std::memcpy(esc, "\\u00", 4);
                esc[4] = kHex[b >> 4];
                esc[5] = kHex[b & 15];
                unit = {esc, 6};
            }
        } else if ((step = sequenceLength(s + i, n - i)) != 0) {
            unit = {text + i, step};
        } else {
            step = 1;
            unit = "\xEF\xBF\xBD";
        }
        if (!out.fits(unit, stop)) break;
        i += step;
    }
    out.put("\"");
}

void putString(Line &out, std::string_view s, std::size_t end) {
    putString(out, s.data(), s.size(), end);
}

// A code point as UTF-8 (U+FFFD when it is none); returns the length.
std::size_t encodeUtf8(std::uint32_t cp, char *out) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// A wide string as %ls prints it: whole characters, at most precision bytes
// of them (precision < 0: all), in UTF-8.
void putWide(Line &out, const wchar_t *ws, long precision, std::size_t end) {
    std::size_t n = 0;
    const std::size_t cap =
        precision >= 0 && static_cast<std::size_t>(precision) < sizeof g_rec.wide
            ? static_cast<std::size_t>(precision)
            : sizeof g_rec.wide;
    for (std::size_t i = 0; ws[i] != 0; ++i) {
        char utf8[4];
        const std::size_t k = encodeUtf8(static_cast<std::uint32_t>(ws[i]), utf8);
        if (n + k > cap) {
            if (cap == sizeof g_rec.wide) out.cut = true;
            break;
        }
        std::memcpy(g_rec.wide + n, utf8, k);
        n += k;
    }
    putString(out, g_rec.wide, n, end);
}

// A floating value: a JSON number, or a string when it is not finite (or,
// for a long double, beyond a double's range).
template <class T> bool putReal(Line &out, T v, std::size_t end) {
    if (std::isnan(v)) return out.fits(std::signbit(v) ? "\"-nan\"" : "\"nan\"", end);
    if (std::isinf(v)) return out.fits(std::signbit(v) ? "\"-inf\"" : "\"inf\"", end);
    char buf[80];
    const auto r = std::to_chars(buf + 1, buf + sizeof buf - 1, v);
    std::string_view text(buf + 1, static_cast<std::size_t>(r.ptr - buf - 1));
    if (std::fabs(static_cast<long double>(v)) > static_cast<long double>(DBL_MAX)) {
        buf[0] = '"';
        *r.ptr = '"';
        text = std::string_view(buf, text.size() + 2);
    }
    return out.fits(text, end);
}

std::string_view unsignedText(unsigned long long v, char (&buf)[24]) {
    const char *start = digitsBefore(buf + sizeof buf, v);
    return {start, static_cast<std::size_t>(buf + sizeof buf - start)};
}

// The precision a string argument is printed with; -1 for none.
long precisionOf(const Arg &a) {
    if (a.precisionArg >= 0 && static_cast<std::size_t>(a.precisionArg) < g_rec.argCount) {
        const long long p = g_rec.args[a.precisionArg].i;
        return p < 0 ? -1 : p > LONG_MAX ? LONG_MAX : static_cast<long>(p);
    }
    return a.precision;
}

// Appends one argument; false when a number did not fit (strings are cut).
bool putArg(Line &out, const Arg &a, std::size_t end) {
    char buf[24];
    switch (a.type) {
    case ArgType::sInt: return out.fits(decimal(a.i, buf), end);
    case ArgType::uInt: return out.fits(unsignedText(a.u, buf), end);
    case ArgType::real: return putReal(out, a.d, end);
    case ArgType::longReal: return putReal(out, a.ld, end);
    case ArgType::text: {
        if (a.s == nullptr) return out.fits("null", end);
        const long precision = precisionOf(a);
        const std::size_t max = precision >= 0 && static_cast<std::size_t>(precision) < kArgTextMax
                                    ? static_cast<std::size_t>(precision)
                                    : kArgTextMax;
        putString(out, a.s, strnlen(a.s, max), end);
        return true;
    }
    case ArgType::wideText:
        if (a.ws == nullptr) return out.fits("null", end);
        putWide(out, a.ws, precisionOf(a), end);
        return true;
    case ArgType::character: {
        const char c = static_cast<char>(a.i);
        putString(out, &c, 1, end);
        return true;
    }
    case ArgType::wideCharacter: {
        char utf8[4];
        putString(out, utf8, encodeUtf8(static_cast<std::uint32_t>(a.i), utf8), end);
        return true;
    }
    case ArgType::pointer: {
        char hex[2 + 2 * sizeof(void *) + 2];
        std::size_t n = sizeof hex;
        hex[--n] = '"';
        auto v = reinterpret_cast<std::uintptr_t>(a.p);
        do {
            hex[--n] = kHex[v & 15];
            v >>= 4;
        } while (v != 0);
        hex[--n] = 'x';
        hex[--n] = '0';
        hex[--n] = '"';
        return out.fits(std::string_view(hex + n, sizeof hex - n), end);
    }
    }
    return false;
}

// The fields that stay for the process and the cycle, escaped once into
// g_rec.fixed; out is the record's line, left empty (a cut stays told).
void keepFixedFields(Line &out) {
    char buf[24];
    const errm_ProcessRank &rank = errm_Rank();
    out.lit("\"host\":");
    putString(out, g_rec.host, kHeadEnd);
    out.lit(",\"pid\":");
    out.put(decimal(g_rec.pid, buf));
    out.lit(",\"rank\":");
    out.put(rank.known ? decimal(rank.rank, buf) : "null");
    out.lit(",\"size\":");
    out.put(rank.known ? decimal(rank.size, buf) : "null");
    out.lit(",\"run\":");
    putString(out, errm_Opt.run[0] != '\0' ? errm_Opt.run : g_rec.run, kHeadEnd);
    g_rec.fixedLen = out.len; // at most 4,700 bytes: 255 and 511 characters escaped
    std::memcpy(g_rec.fixed, g_rec.line, g_rec.fixedLen);
    out.len = 0;
}

// The "args" array of the pending arguments: each one whole or not at all,
// and none after the first that does not fit.
void putArgs(Line &out) {
    out.lit(",\"args\":[");
    for (std::size_t i = 0; i < g_rec.argCount; ++i) {
        const std::size_t before = out.len;
        if (i > 0 && !out.fits(",", kArgsEnd)) break;
        if (!putArg(out, g_rec.args[i], kArgsEnd)) {
            out.len = before; // no partial value, no dangling comma
            break;
        }
    }
    if (g_rec.argsCut) out.cut = true;
    out.lit("]");
}

// What one record says beyond the process's own fields.
struct Fields {
    Kind kind;
    std::string_view subsystem;
    std::string_view display;
    int number;
    std::string_view id; // empty: <subsystem>-<number>
    std::string_view severity;
    int severityNumber;
    std::string_view text;
    std::string_view format;
    unsigned channels; // bit i = channel i
};

// The text without the line feed that ends a line.
std::string_view withoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The cache holds the fields of f (its subsystem, display and id cut as
// the record cuts them).
bool sameFields(const FieldsCache &c, const Fields &f, std::string_view subsystem,
                std::string_view display, std::string_view id) {
    return c.len != 0 && c.kind == f.kind && c.number == f.number &&
           c.severityNumber == f.severityNumber && c.severity == f.severity.data() &&
           c.subsystemLen == subsystem.size() && c.displayLen == display.size() &&
           c.idLen == id.size() && std::memcmp(c.keys, subsystem.data(), subsystem.size()) == 0 &&
           std::memcmp(c.keys + subsystem.size(), display.data(), display.size()) == 0 &&
           std::memcmp(c.keys + subsystem.size() + display.size(), id.data(), id.size()) == 0;
}

void keepFields(FieldsCache *c, const Fields &f, std::string_view subsystem,
                std::string_view display, std::string_view id, std::uint64_t key,
                std::string_view text) {
    c->len = 0;
    if (text.size() > sizeof c->text ||
        subsystem.size() + display.size() + id.size() > sizeof c->keys)
        return;
    c->kind = f.kind;
    c->number = f.number;
    c->severityNumber = f.severityNumber;
    c->severity = f.severity.data();
    c->subsystemLen = subsystem.size();
    c->displayLen = display.size();
    c->idLen = id.size();
    std::memcpy(c->keys, subsystem.data(), subsystem.size());
    std::memcpy(c->keys + subsystem.size(), display.data(), display.size());
    std::memcpy(c->keys + subsystem.size() + display.size(), id.data(), id.size());
    c->countKey = key;
    std::memcpy(c->text, text.data(), text.size());
    c->len = text.size();
}

// Writes the fields from "kind" to "severity_number" and keeps them for the
// next record of the same message.
void putHeadFields(Line &out, const Fields &f, std::string_view subsystem,
                   std::string_view display, std::string_view id, std::uint64_t key) {
    FieldsCache &cache = g_rec.fields;
    char buf[24];
    const std::size_t start = out.len;
    const bool cutBefore = out.cut;
    out.cut = false;
    out.lit(",\"kind\":\"");
    out.put(kKindNames[static_cast<std::size_t>(f.kind)]);
    out.lit("\",\"subsystem\":");
    putString(out, subsystem, kHeadEnd);
    out.lit(",\"display\":");
    putString(out, display, kHeadEnd);
    out.lit(",\"number\":");
    out.put(decimal(f.number, buf));
    out.lit(",\"id\":");
    putString(out, id, kHeadEnd);
    out.lit(",\"severity\":\"");
    out.put(f.severity); // a keyword of the severity table: nothing to escape
    out.lit("\",\"severity_number\":");
    out.put(decimal(f.severityNumber, buf));
    if (out.cut)
        cache.len = 0;
    else
        keepFields(&cache, f, subsystem, display, id, key,
                   std::string_view(g_rec.line + start, out.len - start));
    out.cut = out.cut || cutBefore;
}

// Builds the record of f and the pending arguments and writes it.
void writeRecord(const Fields &f) {
    if (!ensureFile()) return;
    char buf[24];
    char stamp[28];
    timeStamp(stamp);
    // A caller's subsystem name is kept to 1 KiB: the fixed fields stay far
    // below their end.
    const std::string_view subsystem = f.subsystem.substr(0, 1024);
    const std::string_view display = f.display.substr(0, 1024);
    char idBuf[1024 + 24];
    std::string_view id = f.id;
    if (id.empty()) {
        // <SUBSYSTEM>-<number>
        std::size_t len = 0;
        append(idBuf, sizeof idBuf, &len, subsystem);
        append(idBuf, sizeof idBuf, &len, "-");
        append(idBuf, sizeof idBuf, &len, decimal(f.number, buf));
        id = std::string_view(idBuf, len);
    }
    FieldsCache &cache = g_rec.fields;
    const bool same = sameFields(cache, f, subsystem, display, id);
    const std::uint64_t key = same ? cache.countKey : countKey(f.kind, subsystem, id);
    const std::uint32_t count = nextCount(key);

    Line out;
    if (g_rec.fixedLen == 0) keepFixedFields(out);
    out.lit("{\"time\":\"");
    out.put(std::string_view(stamp, 27));
    out.lit("\",");
    out.put(std::string_view(g_rec.fixed, g_rec.fixedLen));
    out.lit(",\"thread\":");
    out.put(threadId());
    // The cached fields stand for the built ones only where nothing of them
    // would have been cut.
    if (same && out.len + cache.len < kHeadEnd) {
        out.put(std::string_view(cache.text, cache.len));
    } else {
        putHeadFields(out, f, subsystem, display, id, key);
    }
    out.lit(",\"count\":");
    out.put(decimal(count, buf));
    out.lit(",\"channels\":[");
    bool first = true;
    // The set bits, lowest first.
    for (unsigned m = f.channels & ((1u << ERRM_CH_COUNT) - 1); m != 0; m &= m - 1) {
        const int i = __builtin_ctz(m);
        if (!first) out.lit(",");
        first = false;
        out.lit("\"");
        out.put(errm_Reports[i].name); // channel names are plain ASCII
        out.lit("\"");
    }
    out.lit("],\"text\":");
    putString(out, withoutLineEnd(f.text), kTextEnd);
    out.lit(",\"template\":");
    putString(out, f.format, kTemplateEnd);
    putArgs(out);
    if (out.cut) out.lit(",\"truncated\":true");
    out.lit("}\n");
    writeLine(g_rec.line, out.len);
}

// The fields of the current entry's message (kind message or notice).
Fields entryFields(Kind kind, const errm_MessageEntry *entry) {
    Fields f{};
    f.kind = kind;
    f.subsystem = errm_Ctx.name;
    f.display = errm_SubsystemLabelText();
    f.number = entry->number;
    if (entry->idLength != 0)
        f.id = std::string_view(entry->id, strnlen(entry->id, sizeof entry->id));
    f.severity = errm_SeverityKeyword(entry->severity);
    f.severityNumber = severityNumber(entry->severity);
    return f;
}

void recordLine(Kind kind, const errm_MessageEntry *entry) {
    Fields f{};
    char text[160];
    char id[1024 + 8];
    if (kind == Kind::message) {
        if (entry == nullptr) return;
        f = entryFields(Kind::message, entry);
        f.text = std::string_view(errm_Lines.sLine0, errm_Lines.sLine0Length);
    } else if (kind == Kind::direct) {
        f.kind = Kind::direct;
        f.subsystem = f.display = "DIRECT";
        f.number = -1;
        std::size_t len = 0;
        id[0] = '\0';
        append(id, sizeof id, &len, "DIRECT-");
        append(id, sizeof id, &len, std::string_view(g_rec.levelVar).substr(0, 1024));
        f.id = std::string_view(id, len);
        f.severity = errm_SeverityKeyword(ERRM_SEV_TRACE);
        f.severityNumber = severityNumber(ERRM_SEV_TRACE);
        f.text = std::string_view(errm_Lines.sLine0, errm_Lines.sLine0Length);
    } else if (kind == Kind::notPresent) {
        const unsigned s = g_rec.subsystem;
        const errm_SubsystemRow *row = s < static_cast<unsigned>(ERRM_SS_ROWS) &&
                                               errm_Subsystems[s].loaded == 1 &&
                                               errm_Subsystems[s].name != nullptr
                                           ? &errm_Subsystems[s]
                                           : nullptr;
        f.kind = Kind::notPresent;
        f.subsystem = row != nullptr ? row->name : "?";
        f.display = row != nullptr && row->displayName != nullptr && row->displayName[0] != '\0'
                        ? row->displayName
                        : f.subsystem;
        f.number = g_rec.number;
        f.severity = errm_SeverityKeyword(ERRM_SEV_ERROR);
        f.severityNumber = severityNumber(ERRM_SEV_ERROR);
        const int n = std::snprintf(text, sizeof text, kNotPresentFormat, g_rec.number);
        f.text = std::string_view(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    } else {
        return;
    }
    f.format = g_rec.format != nullptr ? g_rec.format : "";
    f.channels = g_rec.lineMask;
    writeRecord(f);
}

// The notice speaks of the current entry: its label, its number or id, and
// the limit.
void recordNotice(const errm_MessageEntry *entry) {
    Fields f = entryFields(Kind::notice, entry);
    f.severity = errm_SeverityKeyword(ERRM_SEV_NOTE);
    f.severityNumber = severityNumber(ERRM_SEV_NOTE);
    f.text = g_rec.notice;
    f.format = entry->idLength == 0 ? ERRM_NOTICE_FORMAT_NUMBER : ERRM_NOTICE_FORMAT_ID;
    f.channels = g_rec.noticeMask;
    Arg label = intArg(), which = intArg(), max = intArg();
    label.type = ArgType::text;
    label.s = errm_SubsystemLabel();
    if (entry->idLength == 0) {
        which.i = entry->number;
    } else {
        which.type = ArgType::text;
        which.s = entry->id;
    }
    max.i = errm_G.GlobalNbrMaxOfMessages;
    g_rec.args[0] = label;
    g_rec.args[1] = which;
    g_rec.args[2] = max;
    g_rec.argCount = 3;
    g_rec.argsCut = 0;
    writeRecord(f);
}

} // namespace

// ---------------------------------------------------------------- the hooks

void errm_RecordsStart() {
    closeFile();
    if (errm_Opt.json && !g_rec.forkHandler) g_rec.forkHandler = errm_PL_OnFork(inForkChild);
    g_rec.path[0] = '\0';
    g_rec.pending = Kind::none;
    g_rec.fixedLen = 0; // run= may differ in this cycle
    g_rec.fields.len = 0;
    errm_Rec.on = errm_Opt.json;
    // Occurrences are counted per cycle, as the display counters are.
    if (errm_Rec.on) {
        std::memset(g_rec.counts, 0, sizeof g_rec.counts);
        g_rec.countUsed = 0;
    }
}

void errm_RecordsStop() {
    closeFile();
    g_rec.pending = Kind::none;
    errm_Rec.on = 0;
}

namespace {

void beginPending(Kind kind, const char *format) {
    g_rec.pending = kind;
    g_rec.format = format;
    g_rec.lineMask = g_rec.noticeMask = 0;
    g_rec.notice = nullptr;
}

} // namespace

[[gnu::cold]] void errm_RecordBeginMessage(const char *format, va_list args) {
    beginPending(Kind::message, format);
    captureArgs(format, args);
}

void errm_RecordBeginNotPresent(unsigned subsystem, int number) {
    beginPending(Kind::notPresent, kNotPresentFormat);
    g_rec.subsystem = subsystem;
    g_rec.number = number;
    g_rec.args[0] = intArg();
    g_rec.args[0].i = number;
    g_rec.argCount = 1;
    g_rec.argsCut = 0;
}

void errm_RecordBeginDirect(const char *levelVar, const char *format, va_list args) {
    beginPending(Kind::direct, format);
    g_rec.levelVar = levelVar != nullptr ? levelVar : "";
    captureArgs(format, args);
}

void errm_RecordNotice(const char *notice) {
    if (g_rec.pending != Kind::none) g_rec.notice = notice;
}

[[gnu::cold]] void errm_RecordChannel(int id, int written, int counted) {
    if (g_rec.pending == Kind::none || !errm_IsChannelId(id)) return;
    const unsigned bit = 1u << id;
    // The pipe lines always go out; the other channels when written, and
    // STDOUT and the transcript when the gate let the line through.
    const bool gated = id == ERRM_CH_STDOUT || id == ERRM_CH_TRANSCRIPT;
    if (id != ERRM_CH_PIPE && (written != 0 || (gated && counted != 1))) return;
    if (gated && g_rec.notice != nullptr)
        g_rec.noticeMask |= bit;
    else
        g_rec.lineMask |= bit;
}

[[gnu::cold]] void errm_RecordEmit() {
    const Kind kind = g_rec.pending;
    g_rec.pending = Kind::none;
    const errm_MessageEntry *entry = errm_CurrentEntry();
    if (g_rec.lineMask != 0) recordLine(kind, entry);
    if (g_rec.noticeMask != 0 && g_rec.notice != nullptr && entry != nullptr) recordNotice(entry);
}

void errm_RecordUser(int number, int severity, const char *subsystem, const char *format,
                     const char *line, unsigned mask, va_list args) {
    // printf read the format after its \n, \t and reference conversions:
    // the arguments are typed by that text.
    const char *parsed = format;
    if (format != nullptr &&
        (std::strchr(format, '\\') != nullptr || std::strchr(format, '&') != nullptr)) {
        static constexpr std::array<std::pair<std::string_view, char>, 5> kRefs = {
            {{"&lt;", '<'}, {"&gt;", '>'}, {"&#38;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}}};
        std::size_t o = 0;
        for (const char *p = format; *p != '\0' && o + 2 < sizeof g_rec.userFormat;) {
            std::size_t skip = 1;
            char c = *p;
            if (p[0] == '\\' && (p[1] == 'n' || p[1] == 't')) {
                if (p[1] == 'n') g_rec.userFormat[o++] = '\r';
                c = p[1] == 'n' ? '\n' : '\t';
                skip = 2;
            } else if (c == '&') {
                for (const auto &[ref, ch] : kRefs)
                    if (std::strncmp(p, ref.data(), ref.size()) == 0) {
                        c = ch;
                        skip = ref.size();
                        break;
                    }
            }
            g_rec.userFormat[o++] = c;
            p += skip;
        }
        g_rec.userFormat[o] = '\0';
        parsed = g_rec.userFormat;
    }
    beginPending(Kind::user, format);
    captureArgs(parsed, args);
    g_rec.pending = Kind::none;
    Fields f{};
    f.kind = Kind::user;
    f.subsystem = f.display = subsystem != nullptr ? subsystem : "";
    f.number = number;
    f.severity = errm_SeverityKeyword(severity);
    f.severityNumber = severityNumber(severity);
    f.text = line != nullptr ? line : "";
    f.format = format != nullptr ? format : "";
    f.channels = mask & ((1u << ERRM_CH_COUNT) - 1);
    writeRecord(f);
}
