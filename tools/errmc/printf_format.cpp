// printf_format.cpp - printf format parsing: the conversion table (argument
// type by length modifier), then the scanner.
#include "printf_format.h"

#include <array>
#include <cstdio>

namespace errmc {

namespace {

enum Length { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kBigL, kLengthCount };
constexpr std::array<const char *, kLengthCount> kLengthText{"",  "hh", "h", "l", "ll",
                                                             "j", "z",  "t", "L"};

// Argument type of each conversion family by length modifier; nullptr where
// the modifier does not apply. Integer types are the promoted ones: a %hhd
// argument arrives as an int.
struct Family {
    const char *conversions;
    std::array<const char *, kLengthCount> types;
    bool alternateForm; // '#' is defined
    bool zeroPad;       // '0' is defined
    bool precision;     // a precision is defined
};

constexpr std::array<Family, 6> kFamilies{{
    {"di",
     {"int", "int", "int", "long", "long long", "intmax_t", "ptrdiff_t", "ptrdiff_t", nullptr},
     false,
     true,
     true},
    {"ouxX",
     {"unsigned int", "unsigned int", "unsigned int", "unsigned long", "unsigned long long",
      "uintmax_t", "size_t", "size_t", nullptr},
     true,
     true,
     true},
    {"eEfFgGaA",
     {"double", nullptr, nullptr, "double", nullptr, nullptr, nullptr, nullptr, "long double"},
     true,
     true,
     true},
    {"c",
     {"int", nullptr, nullptr, "wint_t", nullptr, nullptr, nullptr, nullptr, nullptr},
     false,
     false,
     false},
    {"s",
     {"const char *", nullptr, nullptr, "const wchar_t *", nullptr, nullptr, nullptr, nullptr,
      nullptr},
     false,
     false,
     true},
    {"p",
     {"const void *", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
     false,
     false,
     false},
}};
static_assert(kLengthText.size() == kLengthCount);

const Family *FindFamily(char c) {
    if (c == '\0') return nullptr;
    for (const Family &f : kFamilies)
        for (const char *p = f.conversions; *p; ++p)
            if (*p == c) return &f;
    return nullptr;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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

} // namespace

ParsedFormat ParsePrintfFormat(std::string_view f) {
    ParsedFormat result;
    std::size_t i = 0;
    while (i < f.size()) {
        if (f[i] != '%') {
            ++i;
            continue;
        }
        const std::size_t start = i++;
        auto problem = [&](std::string message) {
            result.problems.push_back({start, std::move(message)});
        };
        auto written = [&] { return ShownConversion(f.substr(start, i - start)); };

        bool alternate = false, zero = false, anyFlag = false;
        while (i < f.size() && std::string_view("-+ #0").find(f[i]) != std::string_view::npos) {
            alternate |= f[i] == '#';
            zero |= f[i] == '0';
            anyFlag = true;
            ++i;
        }
        std::vector<FormatArgument> stars;
        bool width = false, precision = false, positional = false;
        if (i < f.size() && f[i] == '*') {
            width = true;
            stars.push_back({"int", "", true});
            ++i;
            if (i < f.size() && IsDigit(f[i])) { // "%*1$d"
                while (i < f.size() && IsDigit(f[i]))
                    ++i;
                positional |= i < f.size() && f[i] == '$';
            }
        } else {
            while (i < f.size() && IsDigit(f[i])) {
                width = true;
                ++i;
            }
        }
        positional |= i < f.size() && f[i] == '$';
        if (positional) {
            ++i;
            problem("positional argument in '" + written() + "' is not supported");
            continue; // the rest of this conversion cannot be told apart from text
        }
        if (i < f.size() && f[i] == '.') {
            precision = true;
            ++i;
            if (i < f.size() && f[i] == '*') {
                stars.push_back({"int", "", true});
                ++i;
            } else {
                while (i < f.size() && IsDigit(f[i]))
                    ++i;
            }
        }
        Length length = kNone;
        if (i < f.size()) {
            switch (f[i]) {
            case 'h': length = (i + 1 < f.size() && f[i + 1] == 'h') ? kHH : kH; break;
            case 'l': length = (i + 1 < f.size() && f[i + 1] == 'l') ? kLL : kL; break;
            case 'j': length = kJ; break;
            case 'z': length = kZ; break;
            case 't': length = kT; break;
            case 'L': length = kBigL; break;
            default: break;
            }
            i += std::string_view(kLengthText[length]).size();
        }
        if (i >= f.size()) {
            problem("the format ends inside the conversion '" + written() + "'");
            break;
        }
        const char c = f[i++];
        if (c == '%') {
            if (anyFlag || width || precision || length != kNone)
                problem("'" + written() + "' must be written '%%'");
            continue;
        }
        if (c == 'n') {
            problem("'" + written() + "' is not allowed: %n writes through a pointer argument");
            continue;
        }
        const Family *family = FindFamily(c);
        if (!family) {
            problem("unknown conversion '" + Shown(c) + "' in '" + written() + "'");
            continue;
        }
        const char *type = family->types[length];
        if (!type) {
            problem("length modifier '" + std::string(kLengthText[length]) +
                    "' does not apply to '%" + Shown(c) + "' in '" + written() + "'");
            continue;
        }
        if (alternate && !family->alternateForm)
            problem("flag '#' is undefined with '%" + Shown(c) + "' in '" + written() + "'");
        if (zero && !family->zeroPad)
            problem("flag '0' is undefined with '%" + Shown(c) + "' in '" + written() + "'");
        if (precision && !family->precision)
            problem("a precision is undefined with '%" + Shown(c) + "' in '" + written() + "'");
        const std::string text(f.substr(start, i - start));
        for (FormatArgument &star : stars) {
            star.conversion = text;
            result.arguments.push_back(star);
        }
        result.arguments.push_back({type, text, false});
    }
    return result;
}

} // namespace errmc
