// errm_paths.cpp - file existence, size, deletion, temporary names and the
// search path's directory list.
#include "reports/errm_paths.h"
#include "base/errm_alloc.h"
#include "base/errm_env.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "platform/errm_platform.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr std::size_t kPathBytes = 1026;
constexpr std::size_t kMaxListChars = 4096;

struct SearchPathState {
    std::array<char *, ERRM_MAX_PATHS> dirs; // directories, each ending in '/'
    int count;                               // V_MAX_PATH
    int built;                               // list built in this cycle
};

SearchPathState g_paths = {};

} // namespace

int errm_FileExists(const char *name) {
    return errm_PL_FileExists(name);
}

std::uint32_t errm_FileSizeByName(const char *name) {
    return errm_PL_FileSizeByName(name);
}

int errm_DeleteFile(const char *name) {
    errm_PL_DeleteFile(name);
    errm_ConsolePrintf("%s deleted\n", name);
    return 1;
}

void errm_TempFileName(char *dst) {
    struct tm now;
    errm_PL_LocalTime(&now);
    std::snprintf(dst, 64, "tmp_%.2d_%.2d_%.2d_%d.tmp", now.tm_hour, now.tm_min, now.tm_sec,
                  errm_PL_ProcessId());
}

int errm_GetListOfPaths(const char *variable) {
    for (char *&d : g_paths.dirs)
        d = nullptr;
    const char *value = std::getenv(variable);
    if (value == nullptr) {
        errm_ConsolePrintf("SPATH not set, %s is nul\n", variable);
        return 0;
    }
    if (value[0] == '\0') return 0;
    int stored = 0;
    std::size_t chars = 0;
    const char *p = value;
    for (;;) {
        const char *colon = std::strchr(p, ':');
        std::size_t n = colon != nullptr ? static_cast<std::size_t>(colon - p) : std::strlen(p);
        // An element that cannot take its slash within 1024 bytes is dropped
        // rather than cut.
        if (n + 2 <= ERRM_NAME_CAP) {
            char element[ERRM_NAME_CAP];
            std::memcpy(element, p, n);
            element[n] = '\0';
            errm_AddSlash(element);
            if (stored < ERRM_MAX_PATHS) {
                char *dir = static_cast<char *>(errm_AllocateWOClear(kPathBytes, ERRM_TAG_PATH));
                if (dir == nullptr) return 0;
                g_paths.dirs[static_cast<std::size_t>(stored)] = dir;
                // On failure the block stays in the list, which releases it.
                if (!errm_ExpandEnvVars(element, dir, ERRM_NAME_CAP)) return 0;
                errm_ConsolePrintf("path=%s\n", dir);
                ++stored;
            }
        }
        if (colon == nullptr) return stored;
        chars += n;
        if (chars >= kMaxListChars) return 0;
        p = colon + 1;
        if (*p == '\0') return 0;
    }
}

int errm_FindFileInPath(const char *variable, const char *file, char *dst) {
    // The two diagnostic lines keep the names they have always printed.
    errm_ConsolePrintf("errm_FM_FindFileInPath, V_MAX_PATH=%d\n", g_paths.count);
    if (!g_paths.built) {
        g_paths.built = 1;
        errm_ConsolePrintf("errm_FM_GetListOfPaths for %s\n", variable);
        int n = errm_GetListOfPaths(variable);
        // The directories stored before a failure are kept for release only.
        g_paths.count = n;
        if (n == 0) {
            for (char *d : g_paths.dirs)
                if (d != nullptr) errm_DeAllocate(d, ERRM_TAG_PATH_RELEASE);
            for (char *&d : g_paths.dirs)
                d = nullptr;
        }
    }
    if (g_paths.count == 0) return 0;
    for (int i = 0; i < g_paths.count; ++i) {
        const char *dir = g_paths.dirs[static_cast<std::size_t>(i)];
        if (dir == nullptr) continue;
        if (!errm_StrCopy(dst, ERRM_NAME_CAP, dir)) return 0;
        // A directory and name that do not fit together are not tested.
        if (!errm_StrCat(dst, ERRM_NAME_CAP, file)) continue;
        if (errm_FileExists(dst)) return 1;
    }
    return 0;
}

void errm_FreeListOfPaths() {
    for (char *&d : g_paths.dirs) {
        if (d != nullptr) errm_DeAllocate(d, ERRM_TAG_PATH_RELEASE);
        d = nullptr;
    }
}

void errm_ForgetListOfPaths() {
    errm_FreeListOfPaths();
    g_paths.count = 0;
    g_paths.built = 0;
}

int errm_SearchPathCount() {
    return g_paths.count;
}

const char *errm_SearchPathDir(int i) {
    return i >= 0 && i < ERRM_MAX_PATHS ? g_paths.dirs[static_cast<std::size_t>(i)] : nullptr;
}
