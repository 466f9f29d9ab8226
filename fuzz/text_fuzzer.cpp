// text_fuzzer.cpp - the library's text operations on fuzzed text: the
// user-format conversion and its XML references, ${NAME} expansion (of a
// whole text and of its first characters), flag lists and flag words, report
// letters, the debug settings ERRM_Init reads from KOVA_ERRM_LDBG, message
// formatting (its own fast path against vsnprintf), and direct
// and user messages whose severity, report letters, level variable, channel
// mask and format text come from the input. Each operation is checked
// against a small model of what it must do, written here from the library's
// documentation.
//
// Input: byte 0 chooses the operation, bytes 1 and 2 are its numeric
// parameter, the rest is its text (an embedded zero ends the text).
#include "reports/errm_user.h"
#include "base/errm_env.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "errm.h"
#include "fuzz_common.h"
#include "reports/errm_channels.h"
#include "reports/errm_message.h"
#include "reports/errm_writers.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using errmfuzz::Fail;

namespace {

constexpr int kConvertLimit = 4097;

// ------------------------------------------------------------------ models

struct Reference {
    std::string_view text;
    char character;
};
constexpr std::array<Reference, 5> kReferences = {{
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&#38;", '&'},
    {"&apos;", '\''},
    {"&quot;", '"'},
}};

// The user-format conversion; nullopt when the source is too long.
std::optional<std::string> ModelConvert(std::string_view src) {
    if (src.size() >= static_cast<std::size_t>(kConvertLimit)) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < src.size();) {
        std::string_view rest = src.substr(i);
        if (rest.substr(0, 2) == "\\n") {
            out += "\r\n";
            i += 2;
            continue;
        }
        if (rest.substr(0, 2) == "\\t") {
            out += '\t';
            i += 2;
            continue;
        }
        bool replaced = false;
        for (const Reference &r : kReferences) {
            if (rest.substr(0, r.text.size()) == r.text) {
                out += r.character;
                i += r.text.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += src[i++];
    }
    return out;
}

// ${NAME} expansion: the text produced and whether it all expanded.
std::pair<std::string, bool> ModelExpand(std::string_view src, std::size_t capacity) {
    std::string out;
    auto put = [&](std::string_view s) {
        if (out.size() + s.size() > capacity - 1) return false;
        out += s;
        return true;
    };
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (src[i] != '$') {
            if (!put(src.substr(i, 1))) return {out, false};
            continue;
        }
        if (i + 1 == src.size()) {
            put("$");
            return {out, false};
        }
        if (src[i + 1] != '{') {
            if (!put(src.substr(i, 2))) return {out, false};
            ++i;
            continue;
        }
        std::size_t close = src.find('}', i + 2);
        std::size_t nameLen = (close == std::string_view::npos ? src.size() : close) - (i + 2);
        // A name is cut off at 512 characters; one never closed fails too.
        if (nameLen >= 512 || close == std::string_view::npos) return {out, false};
        std::string name(src.substr(i + 2, nameLen));
        const char *value = std::getenv(name.c_str());
        if (value == nullptr || !put(value)) return {out, false};
        i = close;
    }
    return {out, true};
}

int ModelBoolean(std::string_view word) {
    if (word == "X") return 2;
    for (std::string_view t : {"1", "YES", "TRUE", "T", "VRAI", "V", "Y"})
        if (word == t) return 1;
    return 0;
}

// Flag words: the values of the first six and whether any word was found.
std::pair<std::array<int, 6>, bool> ModelFlags(std::string_view list) {
    std::array<int, 6> values{2, 2, 2, 2, 2, 2};
    int words = 0;
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ':' || list[i] == ','))
            ++i;
        if (i == list.size()) break;
        std::size_t start = i;
        while (i < list.size() && list[i] != ':' && list[i] != ',')
            ++i;
        if (words < 6) {
            std::string word(list.substr(start, i - start));
            for (char &c : word)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            values[static_cast<std::size_t>(words)] = word.size() >= 64 ? 0 : ModelBoolean(word);
        }
        ++words;
    }
    return {values, words > 0};
}

// --------------------------------------------------------------- operations

void Convert(const std::string &text) {
    // Exactly `limit` bytes: a write past them is caught by the sanitizer.
    auto dst = std::make_unique<char[]>(kConvertLimit);
    int n = errm_ConvertUserFormat(text.c_str(), dst.get(), kConvertLimit);
    std::optional<std::string> want = ModelConvert(text);
    if (!want) {
        if (n != -1) Fail("conversion of a long format", n);
        return;
    }
    if (n < 0 || std::string(dst.get(), static_cast<std::size_t>(n)) != *want)
        Fail("converted text", n);
    if (std::strlen(dst.get()) != static_cast<std::size_t>(n)) Fail("converted length", n);
}

void Escape(const std::string &text, unsigned param) {
    int left = static_cast<int>(param % (text.size() + 1));
    int consumed = -1;
    char c = IsXMLEscapeSequence(text.c_str(), left, &consumed);
    if (consumed == 0) {
        if (c != '?') Fail("no reference", c);
        for (const Reference &r : kReferences)
            if (r.text.size() <= static_cast<std::size_t>(left) && text.rfind(r.text, 0) == 0)
                Fail("reference missed", left);
        return;
    }
    if (consumed > left) Fail("consumed beyond the text left", consumed);
    bool matched = false;
    for (const Reference &r : kReferences)
        if (static_cast<int>(r.text.size()) == consumed && text.rfind(r.text, 0) == 0 &&
            r.character == c)
            matched = true;
    if (!matched) Fail("reference", consumed);
}

// Expansion of a text, or of its first characters only: the length-bounded
// form gets exactly those characters, with no terminator after them.
void Expand(const std::string &text, unsigned param) {
    const std::size_t capacity = 1 + (param & 0x7FF);
    const std::size_t cut = param >> 11;
    auto dst = std::make_unique<char[]>(capacity);
    if (cut == 0) {
        int ok = errm_ExpandEnvVars(text.c_str(), dst.get(), capacity);
        auto [want, wantOk] = ModelExpand(text, capacity);
        if (ok != (wantOk ? 1 : 0)) Fail("expansion result", ok);
        if (want != dst.get()) Fail("expanded text", static_cast<long>(want.size()));
    }
    const std::size_t n = text.size() > cut ? text.size() - cut : 0;
    auto src = std::make_unique<char[]>(n + 1);
    std::memcpy(src.get(), text.data(), n);
    // Exactly n bytes: src.get()[n] is beyond what the call may read; make
    // it a character that would change the result if it were read.
    src.get()[n] = 'Z';
    int ok = errm_ExpandEnvVarsN(src.get(), n, dst.get(), capacity);
    auto [want, wantOk] = ModelExpand(std::string_view(text).substr(0, n), capacity);
    if (ok != (wantOk ? 1 : 0)) Fail("bounded expansion result", ok);
    if (want != dst.get()) Fail("bounded expanded text", static_cast<long>(want.size()));
}

void Flags(const std::string &text) {
    int values[6];
    std::string copy = text;
    int found = errm_DecodeFlagList(copy.c_str(), values);
    if (copy != text) Fail("flag list modified", 0);
    auto [want, wantFound] = ModelFlags(text);
    if (found != (wantFound ? 1 : 0)) Fail("flag words found", found);
    for (int i = 0; i < 6; ++i)
        if (values[i] != want[static_cast<std::size_t>(i)]) Fail("flag value", i);
    if (errm_DecodeBoolean(text.c_str()) != ModelBoolean(text)) Fail("flag word", 0);
}

void Letter(unsigned param) {
    static constexpr std::string_view kLetters = "SPTDCRLKF";
    // The lookup compares the low byte only.
    int letter = static_cast<int>(param & 0xFF);
    int id = errm_ReportLetterToId(errm_ReportLetters, static_cast<int>(param));
    std::size_t at = kLetters.find(static_cast<char>(letter));
    if (letter == 0 || at == std::string_view::npos) {
        if (id != ERRM_E_BAD_LETTER) Fail("unknown letter", letter);
    } else {
        static constexpr std::array<int, 9> kIds = {0, 1, 2, 3, 4, 5, 7, 6, 8};
        if (id != kIds[at]) Fail("letter id", letter);
    }
}

std::vector<std::string> Split(const std::string &text, char separator, std::size_t parts) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (out.size() + 1 < parts) {
        std::size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    out.push_back(text.substr(start));
    while (out.size() < parts)
        out.emplace_back();
    return out;
}

// Severity, report letters and level variable from the text, one per line;
// the format is fixed and its one argument given.
void Direct(const std::string &text, unsigned param) {
    std::vector<std::string> p = Split(text, '\n', 3);
    const int level = static_cast<int>(param % 16) - 4;
    static const std::set<unsigned> kCodes = {0, ERRM_E_REPORTS, ERRM_E_PRINTF, ERRM_E_EMPTY,
                                              ERRM_E_DIRECT_SEVERITY};
    unsigned rc = ERRM_DirectProcessError(p[0].c_str(), p[1].c_str(), p[2].c_str(), level,
                                          "direct line %s", "with its argument");
    if (kCodes.count(rc) == 0) Fail("direct result", static_cast<long>(rc));
    if (!p[1].empty()) {
        int r = AddReportDirect(p[1].c_str(), 5, "a line for the report letters\n");
        if (r != 0 && r != 1) Fail("AddReportDirect", r);
    }
}

// A user message whose format is the text with every '%' replaced, so that
// it reads no argument.
void User(const std::string &text, unsigned param) {
    std::string format = text;
    for (char &c : format)
        if (c == '%') c = '#';
    const unsigned mask = param & 0x1FF;
    const void *force = (param & 0x200) != 0 ? &param : nullptr;
    unsigned rc =
        ERRM_DisplayUserMessage(static_cast<int>(param), static_cast<int>(param >> 12), "FUZZ",
                                force, static_cast<int>(mask), "generic", format.c_str());
    // Each channel written adds its own bit once.
    if ((rc & ~mask) != 0) Fail("user message bits", static_cast<long>(rc));
    if (format.size() >= static_cast<std::size_t>(kConvertLimit) && rc != 0)
        Fail("user message with a long format", static_cast<long>(rc));
}

// ------------------------------------------------------- message formats

// errm_FormatLine0 through a variadic call, as the exported functions reach it.
int FormatLine0(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int rc = errm_FormatLine0(format, args);
    va_end(args);
    return rc;
}

// A format made of the text with each '%' and the character after it
// replaced by a conversion, and arguments of the types the conversions take:
// strings in the even argument slots, ints in the odd ones. errm_FormatLine0
// has a fast path of its own for %s %d %i %u %%; its text must be vsnprintf's.
void Format(const std::string &text, unsigned param) {
    static constexpr std::array<const char *, 8> kStrings = {"%s",   "%s",   "%s", "%10s",
                                                             "%-4s", "%.3s", "%%", "%s%%"};
    static constexpr std::array<const char *, 10> kInts = {"%d", "%i",   "%u",  "%d",   "%5d",
                                                           "%x", "%-3i", "%+d", "%05u", "%%"};
    std::string format;
    int slot = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || slot == 8) {
            if (text[i] != '%') format += text[i];
            continue;
        }
        const unsigned pick = i + 1 < text.size() ? static_cast<unsigned char>(text[++i]) : 0;
        const char *conversion =
            slot % 2 == 0 ? kStrings[pick % kStrings.size()] : kInts[pick % kInts.size()];
        format += conversion;
        if (std::strcmp(conversion, "%%") != 0) ++slot;
    }
    // The estimate counts each character once and each '%' 128 times.
    const std::size_t percents =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '%'));
    if (errm_EstimateFormatSize(text.c_str()) != text.size() + 127 * percents)
        Fail("format size estimate", static_cast<long>(percents));

    const std::string longText(param & 0x1FFF, 'x');
    const char *s0 = "", *s1 = "abc";
    const char *s2 = longText.c_str();
    const char *s3 = (param & 0x2000) != 0 ? nullptr : "text";
    static constexpr std::array<int, 8> kValues = {0, -1, 7, INT_MIN, INT_MAX, 123456789, -42, 10};
    const int i0 = kValues[param >> 13 & 7], i1 = kValues[(param >> 10) & 7], i2 = -5, i3 = 9;

    std::vector<char> want(16384);
    const int n =
        std::snprintf(want.data(), want.size(), format.c_str(), s0, i0, s1, i1, s2, i2, s3, i3);
    const int rc = FormatLine0(format.c_str(), s0, i0, s1, i1, s2, i2, s3, i3);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) > ERRM_LINE0_MAX) {
        if (rc != ERRM_E_PRINTF || errm_Lines.sLine0Length != 0) Fail("long line", n);
        return;
    }
    if (rc != 0) Fail("format result", rc);
    if (std::strcmp(errm_Lines.sLine0, want.data()) != 0) Fail("formatted text", n);
    if (errm_Lines.sLine0Length != static_cast<std::size_t>(n)) Fail("formatted length", n);
}

// The run's own library cycle: the trace in the working directory (a link to
// /dev/null), client streams on CHI and REPORT_F.
void StartLibrary() {
    const std::string &dir = errmfuzz::WorkDir();
    setenv("KOVA_ERRM_LDBG", (dir + ";T:X:X:X:X:T").c_str(), 1);
    if (ERRM_Init() != 1) Fail("ERRM_Init", 0);
    // Client streams for CHI and REPORT_F, so that K and F letters and the
    // mask bits 0x40 and 0x100 reach a stream. They stay open for the run and
    // stay registered across the library's cycles, so they are handed in once
    // (each further hand-in would take another file manager entry).
    static std::FILE *chi = std::fopen("/dev/null", "w");
    static std::FILE *reportF = std::fopen("/dev/null", "w");
    static bool handedIn = false;
    if (!handedIn && (chi == nullptr || reportF == nullptr || ERRM_Set_ChiFileHandle(chi) != 0 ||
                      ERRM_Set_ReportF_FD(reportF) != 0))
        Fail("client streams", 0);
    handedIn = true;
}

// KOVA_ERRM_LDBG from the text, read by ERRM_Init: the six debug flags and
// the trace directory against their model. The cycle ends before anything
// could open a trace file in a directory the text names.
void DebugSettings(const std::string &text) {
    const int debugMem = errm_G.FDebugMem;
    const std::string pathBefore = errm_G.DebugPath;
    ERRM_FInit();
    setenv("KOVA_ERRM_LDBG", text.c_str(), 1);
    if (ERRM_Init() != 1) Fail("ERRM_Init with fuzzed debug settings", 0);
    const int got[6] = {errm_G.FConsoleOut, errm_G.FDebug,    errm_G.FDebugL2,
                        errm_G.FDebugDump,  errm_G.FDebugMem, errm_G.FTraceDLL};
    const std::string path = errm_G.DebugPath;
    ERRM_FInit();
    StartLibrary();

    int want[6] = {0, 0, 0, 0, debugMem, 0};
    auto apply = [&](const std::array<int, 6> &values, int count) {
        for (int i = 0; i < count; ++i)
            if (values[static_cast<std::size_t>(i)] != 2)
                want[i] = values[static_cast<std::size_t>(i)];
    };
    std::string wantPath = pathBefore;
    std::string_view v(text);
    if (v.find(';') == std::string_view::npos) {
        auto [values, found] = ModelFlags(v);
        if (found) apply(values, 5);
        want[5] = 0;
    } else {
        v.remove_prefix(v.find_first_not_of(';') == std::string_view::npos
                            ? v.size()
                            : v.find_first_not_of(';'));
        const std::size_t end = v.find(';');
        std::string_view dir = v.substr(0, end);
        std::string_view flags = end == std::string_view::npos ? "" : v.substr(end + 1);
        if (!dir.empty() && dir[0] == '\'')
            dir = dir.size() >= 2 ? dir.substr(1, dir.size() - 2) : std::string_view();
        wantPath = ModelExpand(dir, ERRM_NAME_CAP).first;
        if (flags.empty()) {
            want[4] = 0;
        } else {
            auto [values, found] = ModelFlags(flags);
            if (found) apply(values, 6);
        }
    }
    for (int i = 0; i < 6; ++i)
        if (got[i] != want[i]) Fail("debug flag", i);
    if (path != wantPath) Fail("debug path", static_cast<long>(path.size()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    errmfuzz::SilenceStdout();
    const std::string &dir = errmfuzz::WorkDir();
    for (const char *name : {"run.dbi", "run.dbg", "run.rep", "run.log", "run.tra"})
        errmfuzz::NullFile(name);
    errmfuzz::NullFile("errm_dll_trace_" + std::to_string(getpid()) + ".txt");
    setenv("ORV_VCO", "ixl", 1);
    // Variables the seeds reference: a short value, a long one, a value that
    // holds a reference itself, and trace levels.
    setenv("ERRM_FZ_A", "alpha", 1);
    setenv("ERRM_FZ_LONG", std::string(1500, 'L').c_str(), 1);
    setenv("ERRM_FZ_REF", "${ERRM_FZ_A}", 1);
    setenv("ERRM_FZ_LEVEL", "3", 1);
    setenv("ERRM_FZ_SIGNED", "+7", 1);
    setenv("ERRM_FZ_BAD", "3a", 1);
    ERRM_Set_RootReportFiles((dir + "/run").c_str());
    ERRM_Set_TranScriptFileName((dir + "/run.tra").c_str());
    StartLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned op = data[0];
    const unsigned param = data[1] | static_cast<unsigned>(data[2]) << 8;
    const std::string text(reinterpret_cast<const char *>(data + 3),
                           strnlen(reinterpret_cast<const char *>(data + 3), size - 3));
    switch (op % 10) {
    case 0: Convert(text); break;
    case 1: Escape(text, param); break;
    case 2: Expand(text, param); break;
    case 3: Flags(text); break;
    case 4: Letter(param); break;
    case 5: Direct(text, param); break;
    case 6: User(text, param); break;
    case 7:
        Convert(text);
        Flags(text);
        break;
    case 8: DebugSettings(text); break;
    default: Format(text, param); break;
    }
    return 0;
}
