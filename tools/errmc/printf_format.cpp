// printf_format.cpp - printf format checking over the library's conversion
// parser: the conversion table (argument type by length modifier), the
// spellings outside C with their standard form, then the checker.
#include "printf_format.h"

#include "base/errm_conv.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace errmc {

namespace {

// Length modifiers of standard C, as the table below indexes them.
enum Length { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kBigL, kLengthCount };
constexpr std::array<const char *, kLengthCount> kLengthText{"",  "hh", "h", "l", "ll",
                                                             "j", "z",  "t", "L"};

// Argument type of each conversion family by length modifier; nullptr where
// the modifier does not apply. Integer types are the promoted ones: a %hhd
// argument arrives as an int.
struct Family {
    const char *conversions;
    std::array<const char *, kLengthCount> types;
    bool alternateForm; // '#' is defined (with o x X, not u)
    bool zeroPad;       // '0' is defined
    bool precision;     // a precision is defined
    bool grouping;      // '\'' is defined for part of the family (d i u f F g G)
    bool signedValue;   // ' ' and '+' have an effect
    std::size_t least;  // characters the conversion prints at least, width and precision aside
};

constexpr std::array<Family, 6> kFamilies{{
    {"di",
     {"int", "int", "int", "long", "long long", "intmax_t", "ptrdiff_t", "ptrdiff_t", nullptr},
     false,
     true,
     true,
     true,
     true,
     1},
    {"ouxX",
     {"unsigned int", "unsigned int", "unsigned int", "unsigned long", "unsigned long long",
      "uintmax_t", "size_t", "size_t", nullptr},
     true,
     true,
     true,
     true,
     false,
     1},
    {"eEfFgGaA",
     {"double", nullptr, nullptr, "double", nullptr, nullptr, nullptr, nullptr, "long double"},
     true,
     true,
     true,
     true,
     true,
     1},
    {"c",
     {"int", nullptr, nullptr, "wint_t", nullptr, nullptr, nullptr, nullptr, nullptr},
     false,
     false,
     false,
     false,
     false,
     1},
    {"s",
     {"const char *", nullptr, nullptr, "const wchar_t *", nullptr, nullptr, nullptr, nullptr,
      nullptr},
     false,
     false,
     true,
     false,
     false,
     0},
    {"p",
     {"const void *", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
     false,
     false,
     false,
     false,
     false,
     3},
}};
static_assert(kLengthText.size() == kLengthCount);

const Family *FindFamily(char c) {
    if (c == '\0') return nullptr;
    for (const Family &f : kFamilies)
        for (const char *p = f.conversions; *p; ++p)
            if (*p == c) return &f;
    return nullptr;
}

// The table's index of a standard length modifier; kLengthCount for the
// others, which StandardSpelling handles first.
Length LengthOf(errm_ConvSize size) {
    switch (size) {
    case errm_ConvSize::None: return kNone;
    case errm_ConvSize::HH: return kHH;
    case errm_ConvSize::H: return kH;
    case errm_ConvSize::L: return kL;
    case errm_ConvSize::LL: return kLL;
    case errm_ConvSize::J: return kJ;
    case errm_ConvSize::Z: return kZ;
    case errm_ConvSize::T: return kT;
    case errm_ConvSize::BigL: return kBigL;
    default: return kLengthCount;
    }
}

bool IsIntegerConversion(char c) {
    return std::string_view("diouxX").find(c) != std::string_view::npos;
}

// A character as it reads in a message: printable as itself, else escaped.
std::string Shown(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string(1, c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", u);
    return buf;
}

std::string ShownConversion(std::string_view text) {
    std::string out;
    for (char c : text)
        out += Shown(c);
    return out;
}

// `text` with its first `from` replaced by `to`.
std::string Replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string out(text);
    const std::size_t at = out.find(from);
    if (at != std::string::npos) out.replace(at, from.size(), to);
    return out;
}

// For a spelling that the C library reads but C does not define, the
// problem naming the standard spelling; empty for a standard conversion.
std::string StandardSpelling(const errm_Conv &c, std::string_view text) {
    const std::string w = "'" + ShownConversion(text) + "'";
    const char conv = c.conversion;
    if (c.flags & ERRM_CONV_I18N) {
        if (c.width.from == errm_ConvFrom::Digits && (c.width.value == 64 || c.width.value == 32) &&
            IsIntegerConversion(conv)) {
            const bool wide = c.width.value == 64;
            const std::string fix = Replaced(text, wide ? "I64" : "I32", wide ? "ll" : "");
            return w + " is a Windows spelling (printf here reads a width of " +
                   std::to_string(c.width.value) + "): use '" + fix + "'" +
                   (wide ? std::string(" or PRI") + conv + "64 of <inttypes.h>" : "");
        }
        return "flag 'I' in " + w +
               " (the locale's digits) is not supported: drop it, and write '%z" + Shown(conv) +
               "' for a size_t";
    }
    switch (c.size) {
    case errm_ConvSize::BigZ:
        return w + " is an old spelling: use '" + Replaced(text, "Z", "z") + "'";
    case errm_ConvSize::Q:
        return w + " is an old spelling: use '" + Replaced(text, "q", "ll") + "'";
    case errm_ConvSize::BigL:
        if (IsIntegerConversion(conv))
            return w + " is not C ('L' is for long double): use '" + Replaced(text, "L", "ll") +
                   "'";
        break;
    case errm_ConvSize::W:
    case errm_ConvSize::WF:
        return w + " needs a C library newer than this one: use PRI" + Shown(conv) +
               (c.size == errm_ConvSize::WF ? "FAST" : "") + std::to_string(c.bits) +
               " of <inttypes.h>";
    default: break;
    }
    if ((conv == 'C' || conv == 'S') && c.size == errm_ConvSize::None)
        return w + " is not C: use '" +
               Replaced(text, std::string(1, conv), conv == 'C' ? "lc" : "ls") + "'";
    return {};
}

// A space flag followed by text reads like a percent sign in a sentence:
// "93% of", "(% used)", "100% sure".
bool LooksLikeText(const errm_Conv &c, const Family *family, std::string_view rest) {
    if (!(c.flags & ERRM_CONV_SPACE)) return false;
    const bool letterAfter =
        !rest.empty() && ((rest[0] >= 'a' && rest[0] <= 'z') || (rest[0] >= 'A' && rest[0] <= 'Z'));
    return letterAfter || family == nullptr || !family->signedValue;
}

// One argument of a positioned format: its type and the conversion that
// reads it first.
struct Positioned {
    FormatArgument argument;
    std::size_t offset;
};

} // namespace

ParsedFormat ParsePrintfFormat(std::string_view f) {
    ParsedFormat result;
    std::map<unsigned, Positioned> positioned;
    std::size_t firstPlain = std::string_view::npos, firstPositioned = std::string_view::npos;
    // Characters the text has whatever the arguments: the literal text plus
    // each conversion's least output.
    std::size_t shortest = f.size();

    errm_ConvEach(f, [&](std::size_t start, const errm_Conv &c) {
        const std::string_view text = f.substr(start, c.length);
        const std::string written = ShownConversion(text);
        const std::string hint =
            (c.flags & ERRM_CONV_SPACE) ? "; write '%%' for a percent sign" : "";
        auto problem = [&](std::string message) {
            result.problems.push_back({start, std::move(message) + hint});
        };
        shortest -= c.length;
        if (c.conversion == '\0') {
            problem("the format ends inside the conversion '" + written + "'" +
                    (c.length == 1 ? "; write '%%' for a percent sign" : ""));
            return false;
        }
        if (c.overflow) problem("a number in '" + written + "' is above INT_MAX: printf fails");
        if (c.conversion == '%') {
            ++shortest;
            if (!errm_ConvIsBare(c)) problem("'" + written + "' must be written '%%'");
            return true;
        }
        if (c.conversion == 'n') {
            problem("'" + written + "' is not allowed: %n writes through a pointer argument");
            return true;
        }
        if (std::string fix = StandardSpelling(c, text); !fix.empty()) {
            problem(std::move(fix));
            return true;
        }
        const Family *family = FindFamily(c.conversion);
        const char *type = nullptr;
        if (c.conversion == 'm') {
            if (c.size != errm_ConvSize::None) {
                problem("a length modifier does not apply to '%m' in '" + written + "'");
                return true;
            }
            result.readsErrno = true;
        } else if (!family) {
            problem("unknown conversion '" + Shown(c.conversion) + "' in '" + written + "'");
            return true;
        } else {
            const Length length = LengthOf(c.size);
            type = length < kLengthCount ? family->types[length] : nullptr;
            if (!type) {
                problem("length modifier '" +
                        std::string(length < kLengthCount ? kLengthText[length] : "?") +
                        "' does not apply to '%" + Shown(c.conversion) + "' in '" + written + "'");
                return true;
            }
        }
        const std::string on = " with '%" + Shown(c.conversion) + "' in '" + written + "'";
        const bool numeric = family && family->zeroPad;
        if ((c.flags & ERRM_CONV_HASH) && !(family && family->alternateForm && c.conversion != 'u'))
            problem("flag '#' is undefined" + on);
        if ((c.flags & ERRM_CONV_ZERO) && !numeric) problem("flag '0' is undefined" + on);
        if (c.precision.from != errm_ConvFrom::None && family && !family->precision)
            problem("a precision is undefined" + on);
        if ((c.flags & ERRM_CONV_QUOTE) &&
            !(family && family->grouping &&
              std::string_view("oxXeEaA").find(c.conversion) == std::string_view::npos))
            problem("flag ''' is undefined" + on);
        if (LooksLikeText(c, family, f.substr(start + c.length)))
            result.warnings.push_back(
                {start, "'" + written +
                            "' is a conversion that takes an argument; write '%%' "
                            "for a percent sign"});
        else if ((c.flags & (ERRM_CONV_SPACE | ERRM_CONV_PLUS)) && !(family && family->signedValue))
            result.warnings.push_back({start, std::string("flag '") +
                                                  ((c.flags & ERRM_CONV_PLUS) ? '+' : ' ') +
                                                  "' has no effect" + on});

        // The arguments: a '*' width, a '*' precision, then the value.
        const std::string conversion(text);
        auto take = [&](unsigned position, const char *ctype, bool star) {
            if (position == 0) {
                firstPlain = std::min(firstPlain, start);
                result.arguments.push_back({ctype, conversion, star});
                return;
            }
            firstPositioned = std::min(firstPositioned, start);
            const auto [it, added] =
                positioned.emplace(position, Positioned{{ctype, conversion, star}, start});
            if (!added && it->second.argument.ctype != ctype)
                problem("argument " + std::to_string(position) + " is read as '" + ctype +
                        "' here and as '" + it->second.argument.ctype + "' by '" +
                        ShownConversion(it->second.argument.conversion) + "'");
        };
        for (const errm_ConvField *field : {&c.width, &c.precision}) {
            if (field->from == errm_ConvFrom::Star) take(0, "int", true);
            if (field->from == errm_ConvFrom::StarAt) take(field->value, "int", true);
        }
        if (type)
            take(c.position, type, false);
        else if (c.position != 0)
            firstPositioned = std::min(firstPositioned, start);

        // The least this conversion prints.
        std::size_t least = family ? family->least : 0;
        if (c.precision.from == errm_ConvFrom::Digits && IsIntegerConversion(c.conversion))
            least = c.precision.value;
        if (family && family->signedValue && (c.flags & (ERRM_CONV_SPACE | ERRM_CONV_PLUS)))
            ++least;
        if (c.width.from == errm_ConvFrom::Digits)
            least = std::max<std::size_t>(least, c.width.value);
        shortest += least;
        return true;
    });

    if (!positioned.empty() || firstPositioned != std::string_view::npos) {
        if (firstPlain != std::string_view::npos) {
            result.problems.push_back(
                {std::max(firstPlain, firstPositioned),
                 "positioned and unpositioned arguments in one format: position every "
                 "argument ('%1$d', '%*2$d') or none"});
        } else {
            result.arguments.clear();
            unsigned expected = 1;
            for (const auto &[position, p] : positioned) {
                if (position != expected) {
                    result.problems.push_back(
                        {p.offset, "argument " + std::to_string(expected) +
                                       " is never read: positions must run from 1 without a gap"});
                    break;
                }
                result.arguments.push_back(p.argument);
                ++expected;
            }
        }
    }

    const unsigned estimate = errm_ConvEstimate(f);
    if (estimate > ERRM_LINE0_MAX)
        result.problems.push_back(
            {0, "too many conversions for the library's line: it estimates this format at " +
                    std::to_string(estimate) + " characters (each '%' counts " +
                    std::to_string(ERRM_CONV_PERCENT_WEIGHT) + "), over its " +
                    std::to_string(ERRM_LINE0_MAX) + ", and refuses it at every call (1073)"});
    else if (shortest > ERRM_LINE0_MAX)
        result.problems.push_back({0, "the text is at least " + std::to_string(shortest) +
                                          " characters long, over the library's line of " +
                                          std::to_string(ERRM_LINE0_MAX) +
                                          ": every call fails (1073)"});
    return result;
}

} // namespace errmc
