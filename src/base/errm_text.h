// errm_text.h - bounded text operations shared by the whole library.
//
// Every fixed-capacity text of the library is written through errm_StrCopy
// or errm_StrCat: a text that does not fit is refused, never cut, and the
// refusal (result 0) is visible to the caller.
#ifndef ERRM_TEXT_H
#define ERRM_TEXT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies src with its terminator when strlen(src) < capacity; returns 1.
// Otherwise returns 0 and leaves dst unchanged.
int errm_StrCopy(char *dst, std::size_t capacity, const char *src);

// Appends src when strlen(dst) + strlen(src) < capacity; returns 1.
// Otherwise returns 0 and leaves dst unchanged.
int errm_StrCat(char *dst, std::size_t capacity, const char *src);

// Appends '/' to a directory path unless it already ends with one; an empty
// path becomes "/". The caller's buffer has room for one more character.
void errm_AddSlash(char *path);

// Upper-cases a text in place (ASCII letters).
void errm_ToUpper(char *text);

// "00" to "99", pair i at 2 * i: decimals written two digits per division.
inline constexpr std::array<char, 200> errm_kDigitPairs = [] {
    std::array<char, 200> a{};
    for (std::size_t i = 0; i < 100; ++i) {
        a[2 * i] = static_cast<char>('0' + i / 10);
        a[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return a;
}();
static_assert(errm_kDigitPairs[2 * 42] == '4' && errm_kDigitPairs[2 * 42 + 1] == '2', "pair i is i");

// Copies n bytes between buffers that do not overlap. The pieces of a message
// line are mostly shorter than 32 bytes: those are copied in place with two
// overlapping loads and stores, where a call of memcpy would cost more than
// the copy itself.
[[gnu::always_inline]] inline void errm_CopyBytes(char *to, const char *from, std::size_t n) {
    if (n > 32) {
        std::memcpy(to, from, n);
    } else if (n >= 16) {
        struct alignas(1) Block {
            char b[16];
        } head, tail;
        std::memcpy(&head, from, 16);
        std::memcpy(&tail, from + n - 16, 16);
        std::memcpy(to, &head, 16);
        std::memcpy(to + n - 16, &tail, 16);
    } else if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

#endif
