// errm_conv.h - the printf conversion grammar as the C library reads it:
// "%[pos$][flags][width|*|*m$][.prec|.*|.*m$][length]conv". One parser, used
// by the %n guard when an entry is decoded, by the format size estimate, by
// the formatting fast path (its five bare conversions are checked against it
// at compile time) and by errmc's format checker, so that the four never
// disagree about where a conversion ends or what it is.
//
// Sections: the line limit; the parsed conversion; the parser; walks over a
// whole format.
#ifndef ERRM_CONV_H
#define ERRM_CONV_H

#include <array>
#include <climits>
#include <cstddef>
#include <string_view>

// Characters of the caller-formatted text sLine0, the terminator aside. A
// message whose format estimate or formatted text exceeds it is refused
// with 1073.
inline constexpr std::size_t ERRM_LINE0_MAX = 6144;

// What each '%' of a format counts in the size estimate; every other
// character counts 1.
inline constexpr unsigned ERRM_CONV_PERCENT_WEIGHT = 128;

// ------------------------------------------------------- the parsed conversion

// Length modifiers. The C library also reads q (= ll), Z (= z), L with the
// integer conversions (= ll), and, from its 2.37 release, wN and wfN.
enum class errm_ConvSize : unsigned char { None, HH, H, L, LL, BigL, Q, J, Z, BigZ, T, W, WF };

// Where a width or a precision comes from.
enum class errm_ConvFrom : unsigned char {
    None,   // not written
    Digits, // written in digits (".": precision 0): value
    Star,   // '*': the next argument
    StarAt, // '*m$': argument number value
};

struct errm_ConvField {
    errm_ConvFrom from = errm_ConvFrom::None; // where the number comes from
    unsigned value = 0;                       // the digits, or the argument number of '*m$'
};

// Flag bits.
inline constexpr unsigned ERRM_CONV_MINUS = 1u;  // '-'
inline constexpr unsigned ERRM_CONV_PLUS = 2u;   // '+'
inline constexpr unsigned ERRM_CONV_SPACE = 4u;  // ' '
inline constexpr unsigned ERRM_CONV_HASH = 8u;   // '#'
inline constexpr unsigned ERRM_CONV_ZERO = 16u;  // '0'
inline constexpr unsigned ERRM_CONV_QUOTE = 32u; // '\'' (thousands grouping)
inline constexpr unsigned ERRM_CONV_I18N = 64u;  // 'I' (the locale's digits)

struct errm_Conv {
    std::size_t length = 0;                   // characters from the '%' through the conversion
    unsigned position = 0;                    // n of "%n$"; 0 when not positioned
    unsigned flags = 0;                       // ERRM_CONV_* bits
    errm_ConvField width;                     // field width
    errm_ConvField precision;                 // precision
    errm_ConvSize size = errm_ConvSize::None; // length modifier
    unsigned bits = 0;                        // N of wN and wfN
    char conversion = '\0';                   // the conversion character; '\0' when the format ends
    bool overflow = false;                    // a number above INT_MAX: printf fails on it
};

// ----------------------------------------------------------------- the parser

namespace errm_conv_detail {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the digits at f[i], moving i past them; a value above INT_MAX
// saturates at INT_MAX + 1 and sets overflow, as the C library refuses it.
constexpr unsigned readNumber(std::string_view f, std::size_t &i, bool &overflow) {
    unsigned long long v = 0;
    for (; i < f.size() && isDigit(f[i]); ++i) {
        v = v * 10 + static_cast<unsigned>(f[i] - '0');
        if (v > static_cast<unsigned long long>(INT_MAX)) {
            overflow = true;
            v = static_cast<unsigned long long>(INT_MAX) + 1;
        }
    }
    return static_cast<unsigned>(v);
}

// A '*' width or precision at f[i]: '*m$' names argument m (m > 0); any
// other '*' takes the next argument and leaves digits after it unread.
constexpr errm_ConvField readStar(std::string_view f, std::size_t &i, bool &overflow) {
    std::size_t j = ++i;
    bool over = false;
    const unsigned m = readNumber(f, j, over);
    if (j > i && m != 0 && j < f.size() && f[j] == '$') {
        overflow |= over;
        i = j + 1;
        return {errm_ConvFrom::StarAt, m};
    }
    return {errm_ConvFrom::Star, 0};
}

// The characters that can follow a '%' other than as its conversion
// character: a position or width digit, a flag, '*', '.', a length modifier.
inline constexpr std::array<bool, 256> kStartsMore = [] {
    std::array<bool, 256> t{};
    for (char c : std::string_view("0123456789-+ #'I*.hlLqjzZtw"))
        t[static_cast<unsigned char>(c)] = true;
    return t;
}();

constexpr bool startsMore(char c) {
    return kStartsMore[static_cast<unsigned char>(c)];
}

// The conversion at f[at] when something follows its '%' before the
// conversion character (or the format ends there).
constexpr errm_Conv parseLong(std::string_view f, std::size_t at) {
    errm_Conv c{};
    std::size_t i = at + 1;
    // "%n$": n digits, not 0, then '$'.
    {
        std::size_t j = i;
        bool over = false;
        const unsigned n = readNumber(f, j, over);
        if (j > i && n != 0 && j < f.size() && f[j] == '$') {
            c.position = n;
            c.overflow |= over;
            i = j + 1;
        }
    }
    for (; i < f.size(); ++i) {
        unsigned bit = 0;
        switch (f[i]) {
        case '-': bit = ERRM_CONV_MINUS; break;
        case '+': bit = ERRM_CONV_PLUS; break;
        case ' ': bit = ERRM_CONV_SPACE; break;
        case '#': bit = ERRM_CONV_HASH; break;
        case '0': bit = ERRM_CONV_ZERO; break;
        case '\'': bit = ERRM_CONV_QUOTE; break;
        case 'I': bit = ERRM_CONV_I18N; break;
        default: break;
        }
        if (bit == 0) break;
        c.flags |= bit;
    }
    if (i < f.size() && f[i] == '*') {
        c.width = readStar(f, i, c.overflow);
    } else if (i < f.size() && isDigit(f[i])) {
        c.width = {errm_ConvFrom::Digits, readNumber(f, i, c.overflow)};
    }
    if (i < f.size() && f[i] == '.') {
        ++i;
        if (i < f.size() && f[i] == '*')
            c.precision = readStar(f, i, c.overflow);
        else
            c.precision = {errm_ConvFrom::Digits, readNumber(f, i, c.overflow)};
    }
    if (i < f.size()) {
        const bool twice = i + 1 < f.size() && f[i + 1] == f[i];
        switch (f[i]) {
        case 'h': c.size = twice ? errm_ConvSize::HH : errm_ConvSize::H; break;
        case 'l': c.size = twice ? errm_ConvSize::LL : errm_ConvSize::L; break;
        case 'L': c.size = errm_ConvSize::BigL; break;
        case 'q': c.size = errm_ConvSize::Q; break;
        case 'j': c.size = errm_ConvSize::J; break;
        case 'z': c.size = errm_ConvSize::Z; break;
        case 'Z': c.size = errm_ConvSize::BigZ; break;
        case 't': c.size = errm_ConvSize::T; break;
        case 'w': {
            // wN or wfN; a 'w' without digits is a conversion character.
            std::size_t j = i + 1;
            const bool fast = j < f.size() && f[j] == 'f';
            if (fast) ++j;
            if (j < f.size() && isDigit(f[j])) {
                c.size = fast ? errm_ConvSize::WF : errm_ConvSize::W;
                c.bits = readNumber(f, j, c.overflow);
                i = j;
            }
            break;
        }
        default: break;
        }
        if (c.size == errm_ConvSize::HH || c.size == errm_ConvSize::LL)
            i += 2;
        else if (c.size != errm_ConvSize::None && c.size != errm_ConvSize::W &&
                 c.size != errm_ConvSize::WF)
            ++i;
    }
    if (i < f.size()) {
        c.conversion = f[i];
        ++i;
    }
    c.length = i - at;
    return c;
}

} // namespace errm_conv_detail

// Parses the conversion whose '%' is f[at], in the order the C library reads
// it: position, flags, width, precision, length modifier, conversion
// character. Whatever follows, the conversion ends with the character after
// its length modifier; an unknown character there is a conversion the C
// library prints as written.
constexpr errm_Conv errm_ConvParse(std::string_view f, std::size_t at) {
    // Most conversions are '%' and their conversion character alone.
    if (at + 1 < f.size() && !errm_conv_detail::startsMore(f[at + 1])) {
        errm_Conv c{};
        c.length = 2;
        c.conversion = f[at + 1];
        return c;
    }
    return errm_conv_detail::parseLong(f, at);
}

// True for a conversion written as '%' and its conversion character alone:
// no position, flag, width, precision or length modifier.
constexpr bool errm_ConvIsBare(const errm_Conv &c) {
    return c.length == 2 && c.conversion != '\0';
}

// ------------------------------------------------------ walks over a format

// Calls visit(offset, conversion) for each conversion of f, in order, and
// stops early when visit returns false.
template <class Visit> constexpr void errm_ConvEach(std::string_view f, Visit visit) {
    for (std::size_t at = f.find('%'); at != std::string_view::npos;) {
        const errm_Conv c = errm_ConvParse(f, at);
        if (!visit(at, c)) return;
        at = f.find('%', at + c.length);
    }
}

// The size estimate: the format's characters, each '%' counting
// ERRM_CONV_PERCENT_WEIGHT ("%%" counts twice that).
constexpr unsigned errm_ConvEstimate(std::string_view f) {
    unsigned size = static_cast<unsigned>(f.size());
    errm_ConvEach(f, [&size](std::size_t, const errm_Conv &c) {
        size += (ERRM_CONV_PERCENT_WEIGHT - 1) * (c.conversion == '%' ? 2 : 1);
        return true;
    });
    return size;
}

// True when the format holds a %n conversion in any spelling: it would
// write through the caller's argument.
constexpr bool errm_ConvHoldsCount(std::string_view f) {
    bool found = false;
    errm_ConvEach(f, [&found](std::size_t, const errm_Conv &c) {
        found = c.conversion == 'n';
        return !found;
    });
    return found;
}

#endif
