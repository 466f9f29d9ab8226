// fields.h - the text of a descriptor's fields as every errmc command shows
// them: digests in hexadecimal, versions, and the keywords of coded fields
// (severity, channel, date kind) both ways, with one spelling for a code that
// has no keyword.
#ifndef ERRMC_FIELDS_H
#define ERRMC_FIELDS_H

#include "errm_descwriter.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace errmc {

// The 16 digest bytes as 32 lower-case hexadecimal digits.
inline std::string Hex(const std::array<std::uint8_t, 16> &bytes) {
    std::string out;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

// "major.minor.patch" of a descriptor's four version bytes.
inline std::string Version(const std::array<std::uint8_t, 4> &v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
}

// Whether version `a` is lower than `b` (major, minor, patch; the fourth
// byte is not part of the version).
inline bool VersionLower(const std::array<std::uint8_t, 4> &a,
                         const std::array<std::uint8_t, 4> &b) {
    return std::array{a[0], a[1], a[2]} < std::array{b[0], b[1], b[2]};
}

// Whether `code` has a keyword in `names`.
template <std::size_t N>
bool HasKeyword(const std::array<const char *, N> &names, std::size_t code) {
    return code < N && names[code][0] != '\0';
}

// The keyword of a coded field; "invalid (CODE)" for a code without one
// (a descriptor may hold any byte).
template <std::size_t N>
std::string Keyword(const std::array<const char *, N> &names, std::size_t code) {
    if (HasKeyword(names, code)) return names[code];
    return "invalid (" + std::to_string(code) + ")";
}

// "KEYWORD (CODE)", or "invalid (CODE)".
template <std::size_t N>
std::string KeywordAndCode(const std::array<const char *, N> &names, std::size_t code) {
    return HasKeyword(names, code) ? Keyword(names, code) + " (" + std::to_string(code) + ")"
                                   : Keyword(names, code);
}

// The code of a keyword, looked up from index `first`; -1 when none has it.
template <std::size_t N>
int CodeOf(const std::array<const char *, N> &names, std::string_view word,
           std::size_t first = 0) {
    for (std::size_t i = first; i < N; ++i)
        if (word == names[i]) return static_cast<int>(i);
    return -1;
}

} // namespace errmc

#endif
