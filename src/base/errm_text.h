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

// The first and the last sizeof(Block) bytes of n (sizeof(Block) <= n <=
// 2 * sizeof(Block)) copied as two blocks, which overlap when n is smaller
// than two.
template <typename Block>
[[gnu::always_inline]] inline void errm_CopyEnds(char *to, const char *from, std::size_t n) {
    Block head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

// Copies n bytes between buffers that do not overlap. The pieces of a message
// line are mostly shorter than 32 bytes: those are copied in place with two
// overlapping loads and stores, where a call of memcpy would cost more than
// the copy itself.
[[gnu::always_inline]] inline void errm_CopyBytes(char *to, const char *from, std::size_t n) {
    struct Block16 {
        char b[16];
    };
    if (n > 32) {
        std::memcpy(to, from, n);
    } else if (n >= 16) {
        errm_CopyEnds<Block16>(to, from, n);
    } else if (n >= 8) {
        errm_CopyEnds<std::uint64_t>(to, from, n);
    } else if (n >= 4) {
        errm_CopyEnds<std::uint32_t>(to, from, n);
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

#endif
