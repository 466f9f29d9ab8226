// errm_env.cpp - environment reference expansion, flag-list decoding, the
// flag dump and byte-order detection.
#include "base/errm_env.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

int errm_ExpandEnvVars(const char *src, char *dst, std::size_t capacity) {
    return errm_ExpandEnvVarsN(src, std::strlen(src), dst, capacity);
}

int errm_ExpandEnvVarsN(const char *src, std::size_t srcLen, char *dst, std::size_t capacity) {
    if (capacity == 0) return 0;
    enum class State { Plain, Dollar, Name } state = State::Plain;
    std::size_t out = 0;
    char name[512];
    std::size_t nameLen = 0;
    // Appends n characters when they fit with the terminator.
    auto put = [&](const char *text, std::size_t n) {
        if (n > capacity - 1 - out) return false;
        std::memcpy(dst + out, text, n);
        out += n;
        return true;
    };
    auto fail = [&]() {
        dst[out] = '\0';
        return 0;
    };
    for (std::size_t i = 0;; ++i) {
        char c = i < srcLen ? src[i] : '\0';
        switch (state) {
        case State::Plain:
            if (c == '\0') {
                dst[out] = '\0';
                return 1;
            }
            if (c == '$')
                state = State::Dollar;
            else if (!put(&c, 1))
                return fail();
            break;
        case State::Dollar:
            if (c == '{') {
                state = State::Name;
                nameLen = 0;
            } else if (c == '\0') {
                put("$", 1);
                return fail();
            } else {
                char pair[2] = {'$', c};
                if (!put(pair, 2)) return fail();
                state = State::Plain;
            }
            break;
        case State::Name:
            if (c == '\0') return fail();
            if (c == '}') {
                name[nameLen] = '\0';
                const char *value = std::getenv(name);
                if (value == nullptr) {
                    errm_ConsolePrintf("ERROR: \"%s\" not found in env\n", name);
                    return fail();
                }
                if (!put(value, std::strlen(value))) return fail();
                state = State::Plain;
            } else {
                if (nameLen + 1 >= sizeof name) return fail();
                name[nameLen++] = c;
            }
            break;
        }
    }
}

int errm_DecodeBoolean(const char *word) {
    static constexpr std::array<std::string_view, 7> kTrue = {"1",    "YES", "TRUE", "T",
                                                              "VRAI", "V",   "Y"};
    std::string_view w(word);
    if (w == "X") return 2;
    for (std::string_view t : kTrue)
        if (w == t) return 1;
    return 0;
}

int errm_DecodeFlagList(const char *list, int values[6]) {
    for (int i = 0; i < 6; ++i)
        values[i] = 2;
    int words = 0;
    const char *p = list;
    while (*p != '\0') {
        while (*p == ':' || *p == ',')
            ++p;
        if (*p == '\0') break;
        const char *start = p;
        while (*p != '\0' && *p != ':' && *p != ',')
            ++p;
        if (words < 6) {
            char word[64];
            std::size_t n = static_cast<std::size_t>(p - start);
            // A word too long for the buffer is no known word: it decodes to 0.
            if (n >= sizeof word) {
                values[words] = 0;
            } else {
                std::memcpy(word, start, n);
                word[n] = '\0';
                errm_ToUpper(word);
                values[words] = errm_DecodeBoolean(word);
            }
        }
        ++words;
    }
    return words > 0 ? 1 : 0;
}

void errm_DumpFlags() {
    errm_ConsolePrintf("FConsoleOut=%d\n", errm_G.FConsoleOut);
    errm_ConsolePrintf("FDebug     =%d\n", errm_G.FDebug);
    errm_ConsolePrintf("FDebugL2   =%d\n", errm_G.FDebugL2);
    errm_ConsolePrintf("FDebugDump =%d\n", errm_G.FDebugDump);
    errm_ConsolePrintf("FDebugMem  =%d\n", errm_G.FDebugMem);
    errm_ConsolePrintf("FTraceDLL  =%d\n", errm_G.FTraceDLL);
}

int errm_DetectByteOrder() {
    const std::uint32_t probe = 0x01234567u;
    unsigned char b[4];
    std::memcpy(b, &probe, sizeof b);
    int order = -1;
    if (b[0] == 0x67 && b[1] == 0x45 && b[2] == 0x23 && b[3] == 0x01)
        order = 1;
    else if (b[0] == 0x01 && b[1] == 0x23 && b[2] == 0x45 && b[3] == 0x67)
        order = 2;
    errm_G.ByteOrder = order;
    return order;
}

void errm_StripQuotes(const char **text, std::size_t *len) {
    if (*len == 0) return;
    ++*text;
    *len = *len >= 2 ? *len - 2 : 0;
}
