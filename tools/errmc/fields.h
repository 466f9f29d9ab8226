// fields.h - the text of a descriptor's fields as errmc's commands print
// them: digests in hexadecimal, versions, and keywords of coded fields.
#ifndef ERRMC_FIELDS_H
#define ERRMC_FIELDS_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

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

// The keyword of a coded field, "invalid" for a code without one.
template <std::size_t N>
std::string Keyword(const std::array<const char *, N> &names, std::size_t code) {
    if (code < N && names[code][0] != '\0') return names[code];
    return "invalid";
}

} // namespace errmc

#endif
