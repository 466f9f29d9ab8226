// errm_state.cpp - the library state record and its trace line counter, and
// the platform table.
//
// Sections: state record; platform table.
#include "base/errm_state.h"
#include "base/errm_console.h"
#include "base/errm_text.h"
#include "errm.h"

#include <array>
#include <climits>
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
    0,       // FDebugPathFailed
    nullptr, // ReturnBuffer
    0,       // ReturnCapacity
    {},      // PlatformName
};

int errm_NextTraceLineNumber() {
    errm_G.TraceLineNumber = errm_G.TraceLineNumber == INT_MAX ? 0 : errm_G.TraceLineNumber + 1;
    return errm_G.TraceLineNumber;
}

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
        errm_ConsolePuts("Error ORV_VCO not set\n");
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
        errm_ConsolePuts("Error ORV_VCO not set\n");
        errm_StrCopy(errm_G.PlatformName, sizeof errm_G.PlatformName, "ORV_VCO");
        return 0;
    }
    const PlatformRow *row = findPlatform(code);
    if (row == nullptr || row->valid != 1) return 0;
    std::snprintf(errm_G.PlatformName, sizeof errm_G.PlatformName, "%.*s",
                  static_cast<int>(row->family.size()), row->family.data());
    return 1;
}
