// errm_state.cpp - the library state record, the platform table, the
// exported settings, version and date.
//
// Sections: state record; platform table; exported setters and getters.
#include "err_mgt/errm_state.h"
#include "err_mgt/errm_text.h"
#include "errm.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

errm_LibraryState errm_G = {
    0,       // FConsoleOut
    0,       // FDebug
    0,       // FDebugL2
    0,       // FDebugDump
    0,       // FDebugMem
    0,       // FTraceDLL
    1,       // FAddNL
    1,       // GlobalVerboseMode
    3,       // GlobalNbrMaxOfMessages
    0,       // NUSKMode
    0,       // NbrOfDelayedErrors
    {},      // TranScriptFileName
    {},      // RootReportFiles
    {},      // RootForMemoryDescriptor
    {},      // SearchPath
    {},      // DebugPath
    -1,      // ByteOrder
    0,       // NbrOfReports
    -1,      // TraceFileHandle
    0,       // FTraceOpened
    0,       // TraceLineNumber
    0,       // FTraceClosedByFInit
    0,       // FTraceReopen
    nullptr, // ReturnBuffer
    0,       // ReturnCapacity
    {},      // PlatformName
};

// ------------------------------------------------------------ platform table

namespace {

struct PlatformRow {
    std::string_view code;   // value of ORV_VCO
    std::string_view family; // "NIX" or "WIN"
    int wordSize;            // 0 ends the table
    int valid;               // 1: ERRM_Init accepts the platform
};

constexpr std::array<PlatformRow, 11> kPlatforms = {{
    {"ixl", "NIX", 32, 1},
    {"aol", "NIX", 64, 1},
    {"iil", "NIX", 64, 1},
    {"hpu", "NIX", 32, 1},
    {"hpw", "NIX", 64, 1},
    {"ss5", "NIX", 32, 1},
    {"ssw", "NIX", 64, 1},
    {"ix5", "NIX", 32, 1},
    {"so5", "NIX", 64, 1},
    {"ixn", "WIN", 32, 1},
    {"???", "?", 0, 0},
}};
static_assert(kPlatforms.back().wordSize == 0, "the platform table ends with a zero word size");

const PlatformRow *findPlatform(const char *code) {
    for (const PlatformRow &row : kPlatforms) {
        if (row.wordSize == 0) break;
        if (row.code == code) return &row;
    }
    return nullptr;
}

} // namespace

int errm_GetPlatformFamily() {
    const char *code = std::getenv("ORV_VCO");
    if (code == nullptr) {
        std::fputs("Error ORV_VCO not set\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    const PlatformRow *row = findPlatform(code);
    if (row == nullptr) return -1;
    if (row->family == "NIX") return 1;
    if (row->family == "WIN") return 2;
    return -1;
}

int errm_CheckPlatform() {
    errm_StrCopy(errm_G.PlatformName, sizeof errm_G.PlatformName, "??");
    const char *code = std::getenv("ORV_VCO");
    if (code == nullptr) {
        std::fputs("Error ORV_VCO not set\n", stdout);
        std::fflush(stdout);
        errm_StrCopy(errm_G.PlatformName, sizeof errm_G.PlatformName, "ORV_VCO");
        return 0;
    }
    const PlatformRow *row = findPlatform(code);
    if (row == nullptr || row->valid != 1) return 0;
    std::snprintf(errm_G.PlatformName, sizeof errm_G.PlatformName, "%.*s",
                  static_cast<int>(row->family.size()), row->family.data());
    return 1;
}

// ------------------------------------------------------ exported settings

extern "C" {

ERRM_API void ERRM_AddNL(int flag) {
    errm_G.FAddNL = flag;
}

ERRM_API void ERRM_Set_GlobalVerboseMode(int mode) {
    errm_G.GlobalVerboseMode = mode;
}

ERRM_API void ERRM_Set_GlobalNbrMaxOfMessages(int max) {
    errm_G.GlobalNbrMaxOfMessages = max;
}

ERRM_API void ERRM_Set_NUSKMode(int mode) {
    errm_G.NUSKMode = mode;
}

ERRM_API unsigned int ERRM_GetNumberOfDelayedErrors(void) {
    return errm_G.NbrOfDelayedErrors;
}

ERRM_API int ERRM_GetVersion(unsigned char version[4]) {
    if (version == nullptr) return 0;
    version[0] = 1;
    version[1] = 0;
    version[2] = 3;
    version[3] = 0;
    return 1;
}

ERRM_API int ERRM_GetDate(char *date) {
    if (date == nullptr) return 0;
    errm_StrCopy(date, 12, "2007/01/08");
    return 1;
}

ERRM_API int ERRM_Set_TranScriptFileName(const char *name) {
    if (name == nullptr || name[0] == '\0') return 0;
    return errm_StrCopy(errm_G.TranScriptFileName, sizeof errm_G.TranScriptFileName, name);
}

ERRM_API int ERRM_Set_SearchPath(const char *env_var_name) {
    if (env_var_name == nullptr) return 0;
    return errm_StrCopy(errm_G.SearchPath, sizeof errm_G.SearchPath, env_var_name);
}

} // extern "C"

namespace {

// A null or empty root selects the platform family's default.
int setRoot(char *field, const char *root) {
    if (root != nullptr && root[0] != '\0') return errm_StrCopy(field, ERRM_NAME_CAP, root);
    switch (errm_GetPlatformFamily()) {
    case 1: return errm_StrCopy(field, ERRM_NAME_CAP, "./");
    case 2: return errm_StrCopy(field, ERRM_NAME_CAP, ".\\");
    default: return 0;
    }
}

} // namespace

extern "C" {

ERRM_API int ERRM_Set_RootReportFiles(const char *root) {
    return setRoot(errm_G.RootReportFiles, root);
}

ERRM_API int ERRM_Set_Root_ForMemoryDescriptor(const char *dir) {
    return setRoot(errm_G.RootForMemoryDescriptor, dir);
}

} // extern "C"
