// python.cpp - arguments as Python callers pass them (C type, kind, range),
// Python literals, then the typed module of a catalogue.
#include "python.h"
#include "output.h"

#include "base/errm_conv.h"
#include "input.h"
#include "names.h"

#include <array>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace errmc {

namespace {

struct IntRange {
    std::string_view ctype;
    std::int64_t min;
    std::uint64_t max;
};

template <class T> constexpr IntRange RangeOf(std::string_view ctype) {
    return {ctype, static_cast<std::int64_t>(std::numeric_limits<T>::min()),
            static_cast<std::uint64_t>(std::numeric_limits<T>::max())};
}

// The integer types a format passes, with the range of each.
constexpr std::array kIntRanges{
    RangeOf<int>("int"),
    RangeOf<unsigned>("unsigned int"),
    RangeOf<long>("long"),
    RangeOf<unsigned long>("unsigned long"),
    RangeOf<long long>("long long"),
    RangeOf<unsigned long long>("unsigned long long"),
    RangeOf<std::intmax_t>("intmax_t"),
    RangeOf<std::uintmax_t>("uintmax_t"),
    RangeOf<std::size_t>("size_t"),
    RangeOf<std::ptrdiff_t>("ptrdiff_t"),
};

// The highest code point a %lc prints.
constexpr std::uint64_t kMaxCodePoint = 0x10FFFF;

void SetRange(PythonArg &a, std::int64_t min, std::uint64_t max) {
    a.ranged = true;
    a.min = min;
    a.max = max;
}

// Kind and range of one argument. An integer passed for %hd or %hhu arrives
// promoted, but the conversion shows only the short or char value: the
// range is that of the converted type.
PythonArg Describe(const Parameter &p) {
    PythonArg a{p.ctype, "", false, 0, 0, p.conversion, p.star};
    const errm_Conv c = errm_ConvParse(p.conversion, 0);
    if (p.ctype == "double" || p.ctype == "long double") {
        a.kind = "float";
    } else if (p.ctype == "const char *") {
        a.kind = "str";
    } else if (p.ctype == "const wchar_t *") {
        a.kind = "wstr";
    } else if (p.ctype == "const void *") {
        a.kind = "pointer";
        SetRange(a, 0, std::numeric_limits<std::uintptr_t>::max());
    } else if (p.ctype == "wint_t") {
        a.kind = "wchar";
        SetRange(a, 0, kMaxCodePoint);
    } else if (!p.star && c.conversion == 'c') {
        a.kind = "char";
        SetRange(a, 0, UCHAR_MAX);
    } else {
        a.kind = "int";
        for (const IntRange &r : kIntRanges)
            if (r.ctype == p.ctype) SetRange(a, r.min, r.max);
        const bool isSigned = p.ctype == "int";
        if (!p.star && c.size == errm_ConvSize::H)
            isSigned ? SetRange(a, SHRT_MIN, SHRT_MAX) : SetRange(a, 0, USHRT_MAX);
        if (!p.star && c.size == errm_ConvSize::HH)
            isSigned ? SetRange(a, SCHAR_MIN, SCHAR_MAX) : SetRange(a, 0, UCHAR_MAX);
    }
    return a;
}

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80                ? 1
                    : b >= 0xC2 && b < 0xE0 ? 2
                    : b >= 0xE0 && b < 0xF0 ? 3
                    : b >= 0xF0 && b < 0xF5 ? 4
                                            : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    if (n == 1) return 1;
    const unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
        (b == 0xF4 && b1 >= 0x90))
        return 0; // overlong, surrogate or beyond U+10FFFF
    return n;
}

// A Python str literal of the bytes: UTF-8 as itself, control characters
// escaped, and each byte outside UTF-8 as the surrogate that Python's
// "surrogateescape" decoding gives it, so that encoding the str back the same
// way gives the bytes.
std::string PyQuoted(std::string_view s) {
    std::string out = "\"";
    char buf[16];
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        const std::size_t n = Utf8Length(s, i);
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\udc%02x", b);
            out += buf;
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02x", b);
            out += buf;
        } else {
            out.append(s.substr(i, n));
        }
        i += n == 0 ? 1 : n;
    }
    return out + "\"";
}

std::string PyInt(bool known, std::int64_t value) {
    return known ? std::to_string(value) : "None";
}

std::string PyUInt(bool known, std::uint64_t value) {
    return known ? std::to_string(value) : "None";
}

// The parameter type hint of each kind.
std::string_view Hint(std::string_view kind) {
    if (kind == "float") return "float";
    if (kind == "str") return "str | bytes";
    if (kind == "wstr") return "str";
    if (kind == "char") return "int | str | bytes";
    if (kind == "wchar") return "int | str";
    if (kind == "pointer") return "int | None";
    return "int";
}

constexpr std::array<std::string_view, 35> kPythonKeywords{
    "False", "None",     "True",  "and",    "as",   "assert", "async",  "await",    "break",
    "class", "continue", "def",   "del",    "elif", "else",   "except", "finally",  "for",
    "from",  "global",   "if",    "import", "in",   "is",     "lambda", "nonlocal", "not",
    "or",    "pass",     "raise", "return", "try",  "while",  "with",   "yield"};

// Names the module defines or uses besides the messages'.
constexpr std::array<std::string_view, 12> kModuleNames{
    "annotations", "typing", "errm",  "SUBSYSTEM", "Handle", "load",
    "int",         "str",    "bytes", "float",     "None",   "isinstance"};

} // namespace

std::vector<PythonArg> PythonArgs(std::string_view format, bool *usable) {
    std::vector<PythonArg> out;
    for (const Parameter &p : FormatParameters(format, usable))
        out.push_back(Describe(p));
    return out;
}

nlohmann::ordered_json PythonArgsJson(std::string_view format) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const PythonArg &a : PythonArgs(format)) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        j["ctype"] = a.ctype;
        j["kind"] = a.kind;
        j["min"] = a.ranged ? nlohmann::ordered_json(a.min) : nlohmann::ordered_json(nullptr);
        j["max"] = a.ranged ? nlohmann::ordered_json(a.max) : nlohmann::ordered_json(nullptr);
        j["conversion"] = a.conversion;
        j["star"] = a.star;
        list.push_back(std::move(j));
    }
    return list;
}

PythonModule GeneratePython(const errmdesc::Catalogue &cat, const std::string &sourceName) {
    PythonModule out;
    std::set<std::string> taken(kModuleNames.begin(), kModuleNames.end());
    taken.insert(kPythonKeywords.begin(), kPythonKeywords.end());
    std::vector<std::vector<PythonArg>> args;
    for (const errmdesc::Message &m : cat.messages) {
        const std::string what = "message " + std::to_string(m.number) + " (" + m.name + ")";
        bool usable = true;
        args.push_back(PythonArgs(m.format, &usable));
        if (!usable) out.problems.push_back(what + ": the format is not one errmc check accepts");
        if (!IsCIdentifier(m.name)) {
            out.problems.push_back(what + ": the name is not an identifier");
            continue;
        }
        for (const std::string &n : {m.name, m.name + "_ID", m.name + "_process", m.name + "_text",
                                     "_" + m.name + "_ARGS"})
            if (!taken.insert(n).second)
                out.problems.push_back(what + ": the Python name " + n +
                                       " is a keyword or already taken");
    }
    if (!out.problems.empty()) return out;

    const std::string sub = PyQuoted(cat.subsystem);
    std::ostringstream py;
    py << "# Message numbers and typed message functions of subsystem " << sub << ".\n"
       << "# Generated by errmc from " << PyQuoted(sourceName) << ": do not edit.\n"
       << "\"\"\"Messages of subsystem " << sub.substr(1, sub.size() - 2) << ".\n\n"
       << "load(session) loads the subsystem and returns its Handle. For each message\n"
       << "NAME: NAME is its number, NAME_ID its id (empty when it has none),\n"
       << "NAME_process(handle, ...) processes it and returns its result, and\n"
       << "NAME_text(handle, ...) returns its text (None when there is none). Their\n"
       << "parameters are those the message's format takes: a value of another type\n"
       << "raises TypeError, one outside the range of its C type OverflowError, before\n"
       << "anything is written; a result of 1000 or more raises errm.Error.\n\"\"\"\n"
       << "from __future__ import annotations\n\nimport typing\n\nimport errm\n\n"
       << "SUBSYSTEM: typing.Final = " << sub << "\n\n\n"
       << "class Handle(errm.Subsystem):\n"
       << "    \"\"\"A loaded subsystem " << sub.substr(1, sub.size() - 2)
       << ": only this module's functions take it.\"\"\"\n\n\n"
       << "def load(session: errm.Session) -> Handle:\n"
       << "    \"\"\"Loads the subsystem's descriptor; errm.Error when it cannot.\"\"\"\n"
       << "    return session.load(SUBSYSTEM, Handle)\n";
    for (std::size_t i = 0; i < cat.messages.size(); ++i) {
        const errmdesc::Message &m = cat.messages[i];
        const std::string &n = m.name;
        std::string params, values;
        for (std::size_t k = 0; k < args[i].size(); ++k) {
            const std::string a = "a" + std::to_string(k + 1);
            params += ", " + a + ": " + std::string(Hint(args[i][k].kind));
            values += ", " + a;
        }
        const std::size_t code = m.severity < errmdesc::kSeverityNames.size() ? m.severity : 0;
        py << "\n\n"
           << n << ": typing.Final = " << m.number << '\n'
           << n << "_ID: typing.Final = " << PyQuoted(m.id) << '\n'
           << '_' << n << "_ARGS: typing.Final = errm.Signature(" << m.number << ", " << m.rc
           << ", (";
        for (const PythonArg &a : args[i])
            py << "\n    errm.ArgSpec(" << PyQuoted(a.ctype) << ", " << PyQuoted(a.kind) << ", "
               << PyInt(a.ranged, a.min) << ", " << PyUInt(a.ranged, a.max) << ", "
               << PyQuoted(a.conversion) << ", " << (a.star ? "True" : "False") << "),";
        py << (args[i].empty() ? "" : "\n") << "))\n";
        const std::string doc = std::string(errmdesc::kSeverityNames[code]) + ": " + m.format;
        for (const char *use : {"process", "text"}) {
            const bool text = use[0] == 't';
            py << "\n\ndef " << n << '_' << use << "(handle: Handle" << params << ", /) -> "
               << (text ? "str | None" : "int") << ":\n    \"\"\"" << PyQuoted(doc).substr(1)
               << "\"\"\n    return errm." << use << "_typed(Handle, handle, _" << n << "_ARGS"
               << values << ")\n";
        }
    }
    out.text = py.str();
    return out;
}

int PythonCommand(const std::string &source, const std::string &outFile, Streams io) {
    const std::optional<InputCatalogue> in = ReadAnyCatalogue(source, io);
    if (!in) return kExitFailed;
    const PythonModule m = GeneratePython(
        in->cat, source == "-" ? ShownName(source) : std::filesystem::path(source).filename().string());
    for (const std::string &p : m.problems)
        io.Error(p);
    if (!m.problems.empty()) return kExitFailed;
    return WriteOutput(outFile, m.text, io) ? kExitOk : kExitFailed;
}

} // namespace errmc
