// source.cpp - the catalogue source reader: value helpers, the top-level
// keys, the [[message]] keys, then the entry points and the default stamp.
#include "source.h"

#include "fields.h"
#include "names.h"
#include "printf_format.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

namespace errmc {

namespace {

using errmdesc::Catalogue;
using errmdesc::Message;

Position At(const toml::source_region &r) {
    return {r.begin.line, r.begin.column};
}
Position At(const toml::node &n) {
    return At(n.source());
}

std::string Quote(std::string_view s) {
    return "'" + std::string(s) + "'";
}

template <std::size_t N>
std::string OneOf(const std::array<const char *, N> &names, std::size_t first = 0) {
    std::string out;
    for (std::size_t i = first; i < N; ++i)
        out += (out.empty() ? "" : " ") + std::string(names[i]);
    return out;
}

// The suggestion for a misspelt keyword among `names`.
template <std::size_t N>
std::string Suggest(std::string_view word, const std::array<const char *, N> &names,
                    std::size_t first = 0) {
    return DidYouMean(word, std::vector<std::string_view>(names.begin() + first, names.end()));
}

std::size_t Codepoints(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// Byte index of the 1-based codepoint column `column` in `line`.
std::size_t ByteOfColumn(std::string_view line, std::uint32_t column) {
    std::size_t b = 0;
    for (std::uint32_t c = 1; c < column && b < line.size(); ++c) {
        ++b;
        while (b < line.size() && (static_cast<unsigned char>(line[b]) & 0xC0) == 0x80)
            ++b;
    }
    return b;
}

class SourceParser {
  public:
    SourceParser(std::string_view text, Diagnostics &diags) : d_(diags) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            lines_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }

    void Parse(const toml::table &root, Source &out);

  private:
    using MessageField = void (SourceParser::*)(const toml::node &, Message &);
    struct FieldRule {
        std::string_view key;
        MessageField read;
        bool required;
    };
    static const std::array<FieldRule, 15> kMessageFields;

    // Value helpers: each reports a wrong type at the value and returns null.
    const std::string *String(const toml::node &v, std::string_view key);
    std::optional<std::int64_t> Integer(const toml::node &v, std::string_view key);
    // A length check; `what` names the field in the message.
    bool MaxBytes(const toml::node &v, std::string_view what, std::size_t size, std::size_t max);
    // Where byte `offset` of string value `v` (holding `content`) stands in
    // the source: exact when the string is written on one line without
    // escapes, else the value's own position.
    Position InString(const toml::node &v, const std::string &content, std::size_t offset) const;

    void Subsystem(const toml::node &v, Catalogue &cat);
    void DisplayName(const toml::node &v, Catalogue &cat);
    void Version(const toml::node &v, Catalogue &cat);
    void Stamp(const toml::node &v, Catalogue &cat);
    void Messages(const toml::node &v, Catalogue &cat);
    void ReadMessage(const toml::table &t, Catalogue &cat);

    void Number(const toml::node &v, Message &m);
    void Name(const toml::node &v, Message &m);
    void Severity(const toml::node &v, Message &m);
    void Format(const toml::node &v, Message &m);
    void Id(const toml::node &v, Message &m);
    void Reports(const toml::node &v, Message &m);
    void ForceDisplay(const toml::node &v, Message &m);
    void Date(const toml::node &v, Message &m);
    void Env(const toml::node &v, Message &m);
    void See(const toml::node &v, Message &m);
    void CatFile(const toml::node &v, Message &m);
    void Command(const toml::node &v, Message &m);
    void Rc(const toml::node &v, Message &m);
    void Comment(const toml::node &v, Message &m);

    Diagnostics &d_;
    std::vector<std::string_view> lines_;               // the source text, by line
    std::map<std::int32_t, std::uint32_t> numberLines_; // message number -> line of first use
    std::map<std::string, std::uint32_t> nameLines_;    // message name -> line of first use
    std::map<std::string, std::uint32_t> idLines_;      // public id -> line of first use
    std::set<std::string> envNames_;                    // distinct environment names
    NameRegistry names_;
};

// The library records at most this many distinct environment names in a
// process, and refuses to decode a message that names one more.
constexpr std::size_t kLibraryEnvNames = 32;

const std::array<SourceParser::FieldRule, 15> SourceParser::kMessageFields{{
    {"number", &SourceParser::Number, true},
    {"name", &SourceParser::Name, true},
    {"severity", &SourceParser::Severity, true},
    {"format", &SourceParser::Format, false},
    {"id", &SourceParser::Id, false},
    {"reports", &SourceParser::Reports, false},
    {"force_display", &SourceParser::ForceDisplay, false},
    {"date", &SourceParser::Date, false},
    {"env", &SourceParser::Env, false},
    {"see", &SourceParser::See, false},
    {"cat_file", &SourceParser::CatFile, false},
    {"command", &SourceParser::Command, false},
    {"rc", &SourceParser::Rc, false},
    {"comment", &SourceParser::Comment, false},
    {"", nullptr, false}, // end
}};

// ------------------------------------------------------------ value helpers

const std::string *SourceParser::String(const toml::node &v, std::string_view key) {
    if (const auto *s = v.as_string()) {
        // The library reads every text as a C string: a NUL would end it there.
        if (s->get().find('\0') == std::string::npos) return &s->get();
        d_.Error(At(v), std::string(key) + " must not contain a NUL character");
        return nullptr;
    }
    d_.Error(At(v), Quote(key) + " must be a string");
    return nullptr;
}

std::optional<std::int64_t> SourceParser::Integer(const toml::node &v, std::string_view key) {
    if (const auto *i = v.as_integer()) return i->get();
    d_.Error(At(v), Quote(key) + " must be an integer");
    return std::nullopt;
}

bool SourceParser::MaxBytes(const toml::node &v, std::string_view what, std::size_t size,
                            std::size_t max) {
    if (size <= max) return true;
    d_.Error(At(v), std::string(what) + " must be at most " + std::to_string(max) +
                        " bytes long (it is " + std::to_string(size) + ")");
    return false;
}

Position SourceParser::InString(const toml::node &v, const std::string &content,
                                std::size_t offset) const {
    const Position at = At(v);
    const toml::source_region &r = v.source();
    if (r.begin.line != r.end.line || r.begin.line == 0 || r.begin.line > lines_.size()) return at;
    const std::string_view line = lines_[r.begin.line - 1];
    const std::size_t quote = ByteOfColumn(line, r.begin.column);
    if (quote >= line.size() || (line[quote] != '\'' && line[quote] != '"')) return at;
    if (line[quote] == '"' && content.find('\\') != std::string::npos) return at;
    const std::size_t close = quote + 1 + content.size();
    if (close >= line.size() || line.substr(quote + 1, content.size()) != content ||
        line[close] != line[quote])
        return at;
    return {at.line,
            at.column + 1 + static_cast<std::uint32_t>(Codepoints(content.substr(0, offset)))};
}

// ------------------------------------------------------------ top-level keys

void SourceParser::Subsystem(const toml::node &v, Catalogue &cat) {
    const std::string *s = String(v, "subsystem");
    if (!s) return;
    if (s->empty() || s->size() > errmdesc::kMaxSubsystem) {
        d_.Error(At(v),
                 "subsystem must be 1..63 bytes long (it is " + std::to_string(s->size()) + ")");
        return;
    }
    // The name is part of the descriptor's file name.
    for (char c : *s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) {
            d_.Error(At(v), "subsystem must not contain '/', '\\' or control characters (it "
                            "names the descriptor file)");
            return;
        }
    }
    cat.subsystem = *s;
}

void SourceParser::DisplayName(const toml::node &v, Catalogue &cat) {
    const std::string *s = String(v, "display_name");
    if (s && MaxBytes(v, "display_name", s->size(), errmdesc::kMaxDisplayName))
        cat.displayName = *s;
}

void SourceParser::Version(const toml::node &v, Catalogue &cat) {
    const std::string *s = String(v, "version");
    if (!s) return;
    const std::string &t = *s;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (t.size() != 5 || !digit(t[0]) || t[1] != '.' || !digit(t[2]) || t[3] != '.' ||
        !digit(t[4])) {
        d_.Error(At(v), "version must be three digits \"major.minor.patch\" such as \"1.0.3\"");
        return;
    }
    cat.version = {static_cast<std::uint8_t>(t[0] - '0'), static_cast<std::uint8_t>(t[2] - '0'),
                   static_cast<std::uint8_t>(t[4] - '0'), 0};
}

void SourceParser::Stamp(const toml::node &v, Catalogue &cat) {
    const std::string *s = String(v, "stamp");
    if (!s || !MaxBytes(v, "stamp", s->size(), errmdesc::kStampSize)) return;
    cat.stamp = *s;
}

void SourceParser::Messages(const toml::node &v, Catalogue &cat) {
    const toml::array *a = v.as_array();
    if (!a) {
        d_.Error(At(v), "'message' must be an array of tables ([[message]])");
        return;
    }
    for (const toml::node &e : *a) {
        if (const toml::table *t = e.as_table())
            ReadMessage(*t, cat);
        else
            d_.Error(At(e), "each message must be a table");
    }
}

void SourceParser::Parse(const toml::table &root, Source &out) {
    bool haveSubsystem = false;
    for (auto &&[key, value] : root) {
        const std::string_view k = key.str();
        if (k == "subsystem") {
            haveSubsystem = true;
            Subsystem(value, out.cat);
        } else if (k == "display_name") {
            DisplayName(value, out.cat);
        } else if (k == "version") {
            Version(value, out.cat);
        } else if (k == "stamp") {
            out.stampGiven = true;
            Stamp(value, out.cat);
        } else if (k == "message") {
            Messages(value, out.cat);
        } else {
            d_.Error(At(key.source()), "unknown key " + Quote(k) +
                                           DidYouMean(k, {"subsystem", "display_name", "version",
                                                          "stamp", "message"}));
        }
    }
    if (!haveSubsystem) d_.Error({1, 1}, "missing required key 'subsystem'");
}

// ------------------------------------------------------------- message keys

void SourceParser::ReadMessage(const toml::table &t, Catalogue &cat) {
    Message m;
    std::array<bool, kMessageFields.size()> seen{};
    for (auto &&[key, value] : t) {
        const std::string_view k = key.str();
        std::size_t i = 0;
        while (kMessageFields[i].read && kMessageFields[i].key != k)
            ++i;
        if (!kMessageFields[i].read) {
            std::vector<std::string_view> keys;
            for (std::size_t j = 0; kMessageFields[j].read; ++j)
                keys.push_back(kMessageFields[j].key);
            d_.Error(At(key.source()),
                     "unknown key " + Quote(k) + " in message" + DidYouMean(k, keys));
            continue;
        }
        seen[i] = true;
        (this->*kMessageFields[i].read)(value, m);
    }
    for (std::size_t i = 0; kMessageFields[i].read; ++i)
        if (kMessageFields[i].required && !seen[i])
            d_.Error(At(t), "message is missing required key " + Quote(kMessageFields[i].key));
    cat.messages.push_back(std::move(m));
}

void SourceParser::Number(const toml::node &v, Message &m) {
    const std::optional<std::int64_t> n = Integer(v, "number");
    if (!n) return;
    if (*n < std::numeric_limits<std::int32_t>::min() ||
        *n > std::numeric_limits<std::int32_t>::max()) {
        d_.Error(At(v), "number " + std::to_string(*n) + " is outside the 32-bit signed range");
        return;
    }
    m.number = static_cast<std::int32_t>(*n);
    const auto [it, added] = numberLines_.emplace(m.number, At(v).line);
    if (!added)
        d_.Error(At(v), "message number " + std::to_string(m.number) + " is already used at line " +
                            std::to_string(it->second));
}

void SourceParser::Name(const toml::node &v, Message &m) {
    const std::string *s = String(v, "name");
    if (!s) return;
    if (!IsCIdentifier(*s)) {
        d_.Error(At(v), "name " + Quote(*s) +
                            " is not a C identifier (letters, digits and '_', not starting "
                            "with a digit)");
        return;
    }
    if (!MaxBytes(v, "name", s->size(), errmdesc::kMaxEntryName)) return;
    if (const std::optional<NameClash> clash = names_.Conflict(*s)) {
        d_.Error(At(v), clash->with.empty() ? clash->message
                                            : clash->message + " (line " +
                                                  std::to_string(nameLines_[clash->with]) + ")");
        return;
    }
    names_.Add(*s);
    nameLines_.emplace(*s, At(v).line);
    m.name = *s;
}

void SourceParser::Severity(const toml::node &v, Message &m) {
    const std::string *s = String(v, "severity");
    if (!s) return;
    const int code = CodeOf(errmdesc::kSeverityNames, *s, 1);
    if (code < 0) {
        d_.Error(At(v), "unknown severity " + Quote(*s) + " (expected one of " +
                            OneOf(errmdesc::kSeverityNames, 1) + ")" +
                            Suggest(*s, errmdesc::kSeverityNames, 1));
        return;
    }
    m.severity = static_cast<std::uint8_t>(code);
}

void SourceParser::Format(const toml::node &v, Message &m) {
    const std::string *s = String(v, "format");
    if (!s || !MaxBytes(v, "format", s->size(), errmdesc::kMaxFormat)) return;
    const ParsedFormat parsed = ParsePrintfFormat(*s);
    for (const FormatProblem &p : parsed.problems)
        d_.Error(InString(v, *s, p.offset),
                 "format: " + p.message + " (byte " + std::to_string(p.offset) + ")");
    for (const FormatProblem &p : parsed.warnings)
        d_.Warning(InString(v, *s, p.offset),
                   "format: " + p.message + " (byte " + std::to_string(p.offset) + ")");
    m.format = *s;
}

void SourceParser::Id(const toml::node &v, Message &m) {
    const std::string *s = String(v, "id");
    if (!s || !MaxBytes(v, "id", s->size(), errmdesc::kMaxId)) return;
    m.id = *s;
    // Two messages under one public id: allowed, but readers of the reports
    // cannot tell them apart.
    const auto [it, added] = idLines_.emplace(*s, At(v).line);
    if (!added && !s->empty())
        d_.Warning(At(v), "id " + Quote(*s) + " is already the id of the message at line " +
                              std::to_string(it->second));
}

void SourceParser::Reports(const toml::node &v, Message &m) {
    const toml::array *a = v.as_array();
    if (!a) {
        d_.Error(At(v), "'reports' must be an array of channel names");
        return;
    }
    if (a->size() > errmdesc::kMaxReports) {
        d_.Error(At(v), "reports lists " + std::to_string(a->size()) + " channels (at most 16)");
        return;
    }
    for (const toml::node &e : *a) {
        const std::string *s = e.as_string() ? &e.as_string()->get() : nullptr;
        if (!s) {
            d_.Error(At(e), "each report channel must be a string");
            continue;
        }
        const int id = CodeOf(errmdesc::kChannelNames, *s);
        if (id < 0)
            d_.Error(At(e), "unknown report channel " + Quote(*s) + " (expected one of " +
                                OneOf(errmdesc::kChannelNames) + ")" +
                                Suggest(*s, errmdesc::kChannelNames));
        else
            m.reports.push_back(static_cast<std::uint8_t>(id));
    }
}

void SourceParser::ForceDisplay(const toml::node &v, Message &m) {
    if (const auto *b = v.as_boolean())
        m.force = b->get() ? 1 : 0;
    else
        d_.Error(At(v), "'force_display' must be true or false");
}

void SourceParser::Date(const toml::node &v, Message &m) {
    const std::string *s = String(v, "date");
    if (!s) return;
    const int kind = CodeOf(errmdesc::kDateKindNames, *s);
    if (kind < 0) {
        d_.Error(At(v), "unknown date kind " + Quote(*s) + " (expected one of " +
                            OneOf(errmdesc::kDateKindNames) + ")" +
                            Suggest(*s, errmdesc::kDateKindNames));
        return;
    }
    m.dateKind = static_cast<std::uint8_t>(kind);
}

void SourceParser::Env(const toml::node &v, Message &m) {
    const std::string *s = String(v, "env");
    if (s && MaxBytes(v, "env", s->size(), errmdesc::kMaxEnv)) m.env = *s;
    if (!m.env.empty() && envNames_.insert(m.env).second &&
        envNames_.size() == kLibraryEnvNames + 1)
        d_.Warning(At(v), "more than " + std::to_string(kLibraryEnvNames) +
                              " distinct environment names: the library records at most " +
                              std::to_string(kLibraryEnvNames) +
                              " in a process and refuses a message that names another "
                              "(internal error 1001)");
}

void SourceParser::See(const toml::node &v, Message &m) {
    const std::string *s = String(v, "see");
    if (!s) return;
    if (s->size() == 1 || s->size() > errmdesc::kMaxLongText) {
        d_.Error(At(v), "see must be empty or 2..1023 bytes long (it is " +
                            std::to_string(s->size()) + ")");
        return;
    }
    m.see = *s;
}

void SourceParser::CatFile(const toml::node &v, Message &m) {
    const std::string *s = String(v, "cat_file");
    if (!s) return;
    const std::string prefix = errmdesc::kCatPrefix;
    if (s->empty()) {
        d_.Error(At(v), "cat_file must name a file");
        return;
    }
    if (!MaxBytes(v, "cat_file", s->size(), errmdesc::kMaxLongText - prefix.size())) return;
    m.cat = prefix + *s;
}

void SourceParser::Command(const toml::node &v, Message &m) {
    const std::string *s = String(v, "command");
    if (!s) return;
    const std::string prefix = errmdesc::kCommandPrefix;
    if (s->empty()) {
        d_.Error(At(v), "command must not be empty");
        return;
    }
    if (!MaxBytes(v, "command", s->size(), errmdesc::kMaxLongText - prefix.size())) return;
    m.command = prefix + *s;
}

void SourceParser::Rc(const toml::node &v, Message &m) {
    const std::optional<std::int64_t> n = Integer(v, "rc");
    if (!n) return;
    if (*n < std::numeric_limits<std::int16_t>::min() ||
        *n > std::numeric_limits<std::int16_t>::max()) {
        d_.Error(At(v), "rc " + std::to_string(*n) + " is outside the 16-bit signed range");
        return;
    }
    m.rc = static_cast<std::int16_t>(*n);
}

void SourceParser::Comment(const toml::node &v, Message &m) {
    const std::string *s = String(v, "comment");
    if (s && MaxBytes(v, "comment", s->size(), errmdesc::kMaxSecond)) m.second = *s;
}

// ------------------------------------------------------------ the pre-scan

// Finds, before the TOML parser runs, arrays and inline tables nested deeper
// than kMaxNesting and keys of more than kMaxKeyParts parts (the parser
// recurses on both and would exhaust the stack), and more than kMaxTables
// tables (each costs memory, and its errors more). It skips comments and the
// four kinds of strings; every '.' between two '=', ',' or brackets counts
// as a key separator (a catalogue has no floating value to confuse it).
// Reports the first excess at its place and returns false.
bool PreScan(std::string_view t, Diagnostics &d) {
    std::uint32_t line = 1;
    std::size_t lineStart = 0;
    unsigned depth = 0, dots = 0, tables = 0;
    auto place = [&](std::size_t i) {
        return Position{
            line, static_cast<std::uint32_t>(Codepoints(t.substr(lineStart, i - lineStart))) + 1};
    };
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        switch (c) {
        case '\n':
            ++line;
            lineStart = i + 1;
            dots = 0;
            break;
        case '#': i = std::min(t.find('\n', i), t.size()) - 1; break;
        case '"':
        case '\'': {
            const bool basic = c == '"';
            const std::string_view triple = basic ? "\"\"\"" : "'''";
            std::size_t j = i + 1;
            if (t.substr(i, 3) == triple) {
                // To the closing triple and up to two more quotes of its kind.
                for (j = i + 3; j < t.size(); ++j) {
                    if (basic && t[j] == '\\') {
                        if (j + 1 < t.size() && t[j + 1] == '\n') {
                            ++line;
                            lineStart = j + 2;
                        }
                        ++j;
                    } else if (t.substr(j, 3) == triple) {
                        j += 3;
                        for (int extra = 0; extra < 2 && j < t.size() && t[j] == c; ++extra)
                            ++j;
                        break;
                    } else if (t[j] == '\n') {
                        ++line;
                        lineStart = j + 1;
                    }
                }
                i = j - 1;
            } else {
                // To the closing quote, or to the line end that leaves it open.
                while (j < t.size() && t[j] != c && t[j] != '\n')
                    j += basic && t[j] == '\\' && j + 1 < t.size() && t[j + 1] != '\n' ? 2 : 1;
                i = j < t.size() && t[j] == c ? j : j - 1;
            }
            break;
        }
        case '[':
        case '{':
            dots = 0;
            tables += c == '{' || (i > 0 && t[i - 1] == '[');
            if (tables > kMaxTables) {
                d.Error(place(i), "more than " + std::to_string(kMaxTables) +
                                      " tables or messages (errmc's limit)");
                return false;
            }
            if (++depth > kMaxNesting) {
                d.Error(place(i), "arrays and inline tables are nested more than " +
                                      std::to_string(kMaxNesting) + " deep (errmc's limit)");
                return false;
            }
            break;
        case ']':
        case '}':
            depth -= depth > 0;
            dots = 0;
            break;
        case '=':
        case ',': dots = 0; break;
        case '.':
            if (++dots >= kMaxKeyParts) {
                d.Error(place(i), "a dotted key of more than " + std::to_string(kMaxKeyParts) +
                                      " parts (errmc's limit)");
                return false;
            }
            break;
        default: break;
        }
    }
    return true;
}

} // namespace

// ------------------------------------------------------------- entry points

std::optional<Source> ParseSource(std::string_view text, const std::string &path,
                                  Diagnostics &diags) {
    if (!PreScan(text, diags)) return std::nullopt;
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error &e) {
        diags.Error(At(e.source()), std::string(e.description()));
        return std::nullopt;
    }
    Source out;
    const std::size_t before = diags.ErrorCount();
    SourceParser(text, diags).Parse(root, out);
    if (diags.ErrorCount() != before) return std::nullopt;
    return out;
}

std::optional<Source> ParseSourceInput(std::string_view text, const std::string &name,
                                       Diagnostics &diags) {
    if (text.size() > kMaxSourceBytes) {
        diags.Error({}, "the source is larger than errmc's limit of " +
                            std::to_string(kMaxSourceBytes) + " bytes");
        return std::nullopt;
    }
    return ParseSource(text, name, diags);
}

std::optional<std::string> DefaultStamp(const char *sourceDateEpoch, std::time_t now,
                                        std::string *error) {
    std::time_t when = now;
    if (sourceDateEpoch) {
        // A plain decimal count of seconds, as reproducible builds define it.
        const std::string text = sourceDateEpoch;
        bool digits = !text.empty() && text.size() <= 18;
        for (char c : text)
            digits = digits && c >= '0' && c <= '9';
        if (!digits) {
            *error = "SOURCE_DATE_EPOCH \"" + text + "\" is not a count of seconds";
            return std::nullopt;
        }
        when = static_cast<std::time_t>(std::stoll(text));
    }
    std::tm tm{};
    if (!gmtime_r(&when, &tm) || tm.tm_year + 1900 > 9999) {
        *error = "the time " + std::to_string(static_cast<long long>(when)) +
                 " does not give a four-digit year";
        return std::nullopt;
    }
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M", &tm);
    return std::string(buf);
}

} // namespace errmc
