// errm_text.cpp - bounded copy and append, path slash, upper-casing.
#include "base/errm_text.h"

#include <cstring>

int errm_StrCopy(char *dst, std::size_t capacity, const char *src) {
    std::size_t n = std::strlen(src);
    if (n >= capacity) return 0;
    std::memcpy(dst, src, n + 1);
    return 1;
}

int errm_StrCat(char *dst, std::size_t capacity, const char *src) {
    std::size_t have = std::strlen(dst);
    std::size_t add = std::strlen(src);
    if (have >= capacity || add >= capacity - have) return 0;
    std::memcpy(dst + have, src, add + 1);
    return 1;
}

void errm_AddSlash(char *path) {
    std::size_t n = std::strlen(path);
    if (n == 0 || path[n - 1] != '/') {
        path[n] = '/';
        path[n + 1] = '\0';
    }
}

void errm_ToUpper(char *text) {
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}
