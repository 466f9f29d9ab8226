// descriptor_fuzzer.cpp - a descriptor file from fuzzed bytes, taken through
// the whole library: load, decode every directory entry, build each
// message's decorated and Chi lines, process and retrieve the messages whose
// format needs no argument, read the header with ERRM_DisplayInfos, shut
// down. Every result must be one the library documents, and every block the
// library took must be back when ERRM_FInit returns.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "fuzz_common.h"
#include "reports/errm_message.h"

#include <climits>
#include <cstring>
#include <set>

using errmfuzz::Fail;

namespace {

// Codes a load may return for a malformed file.
const std::set<int> kLoadCodes = {ERRM_E_MAGIC, ERRM_E_READ_MAPPED, ERRM_E_MAP};

// Codes a lookup may return for a malformed entry.
const std::set<int> kEntryCodes = {ERRM_E_NOT_FOUND, ERRM_E_BAD_ENTRY_NUMBER, ERRM_E_INTERNAL,
                                   ERRM_E_SEVERITY,  ERRM_E_READ_MAPPED,      ERRM_E_TOO_MANY_ENV};

// Codes processing may return besides the entry's own return code.
const std::set<int> kProcessCodes = {ERRM_E_REPORTS, ERRM_E_PRINTF};

// True when a format reads no argument: every '%' is half of a "%%". Only
// such formats are processed, since the fuzzer has no arguments to give.
bool ConversionFree(const char *format) {
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] != '%') return false;
        ++p;
    }
    return true;
}

void SetLine0(const char *text) {
    std::size_t n = std::strlen(text);
    std::memcpy(errm_Lines.sLine0, text, n + 1);
    errm_Lines.sLine0Length = n;
}

void ExerciseEntry(int index, int number) {
    int rc = errm_LookupEntry(static_cast<unsigned>(index), number);
    if (rc != 0) {
        if (kEntryCodes.count(rc) == 0) Fail("lookup code", rc);
        return;
    }
    errm_MessageEntry *entry = errm_CurrentEntry();
    if (entry == nullptr || entry->number != number) Fail("entry number", number);
    if (entry->severity < 1 || entry->severity > 8) Fail("severity", entry->severity);
    if (entry->reportCount < 0 || entry->reportCount > 16) Fail("report count", entry->reportCount);

    // The layouts are built from a fixed text: a fuzzed format never meets
    // a client argument.
    SetLine0("fixed text of the fuzzer");
    const long decorated = errm_BuildDecoratedLine(entry, number);
    if (decorated < 0) Fail("decorated line", number);
    if (std::strlen(errm_Lines.decorated) != static_cast<std::size_t>(decorated))
        Fail("decorated line length", number);
    if (errm_BuildChiLine(entry, number) != 0) Fail("Chi line", number);
    if (std::strlen(errm_Lines.sLineChi) >= ERRM_LINECHI_CAP) Fail("sLineChi length", number);

    if (ConversionFree(entry->format)) {
        const int expected = entry->rc;
        int p = ERRM_ProcessError(static_cast<unsigned>(index), number);
        if (p != expected && kProcessCodes.count(p) == 0) Fail("process result", p);
        char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(index), number);
        if (text != nullptr && std::strlen(text) >= ERRM_LINEOUT_CAP) Fail("retrieved", number);
    }
    if (ERRM_ResetMessageCounter(static_cast<unsigned>(index), number, 0) != 1)
        Fail("reset counter", number);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    errmfuzz::SilenceStdout();
    const std::string &dir = errmfuzz::WorkDir();
    errmfuzz::GuardPlatform();
    for (const char *name : {"run.dbi", "run.dbg", "run.rep", "run.log", "run.tra"})
        errmfuzz::NullFile(name);
    errmfuzz::NullFile("errm_dll_trace_" + std::to_string(getpid()) + ".txt");
    const char cat[] = "a line copied by a follow-up action\n";
    errmfuzz::WriteWorkFile("cat.txt", cat, sizeof cat - 1);
    setenv("ORV_VCO", "ixl", 1);
    // Trace on, echoed on the (silenced) console, header dump on: every
    // internal error report is formatted with its arguments.
    setenv("KOVA_ERRM_LDBG", (dir + ";T:0:0:1:0:T").c_str(), 1);
    setenv("ERRM_FUZZ_SPATH", dir.c_str(), 1);
    ERRM_Set_SearchPath("ERRM_FUZZ_SPATH");
    ERRM_Set_Root_ForMemoryDescriptor((dir + "/").c_str());
    ERRM_Set_RootReportFiles((dir + "/run").c_str());
    ERRM_Set_TranScriptFileName((dir + "/run.tra").c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    errmfuzz::WriteWorkFile("errm_desc_FUZZ.bin", data, size);
    const int start = errm_AllocationCount();
    if (ERRM_Init() != 1) Fail("ERRM_Init", 0);
    // The load opens the trace first; opened here, its file name block is
    // counted before the load.
    if (errm_OpenDllTrace() != 1) Fail("trace", 0);
    const int beforeLoad = errm_AllocationCount();
    int index = -1;
    int rc = ERRM_ReadErrorDescriptor("fuzz", &index);
    if (rc != 0) {
        if (kLoadCodes.count(rc) == 0) Fail("load code", rc);
        // A refused file keeps nothing.
        if (errm_AllocationCount() != beforeLoad) Fail("blocks after a refused load", rc);
    } else {
        const errm_SubsystemRow &row = errm_Subsystems[index];
        if (row.loaded != 1 || row.entryCount < 0) Fail("row", row.entryCount);
        for (int i = 0; i < row.entryCount; ++i)
            ExerciseEntry(index, row.directory[i].number);
        // Numbers the directory probably lacks, and each end of the range.
        for (int number : {INT_MIN, -1, 0, 1, INT_MAX})
            ExerciseEntry(index, number);
    }
    char stamp[13], version[4];
    rc = ERRM_DisplayInfos("fuzz", stamp, version);
    if (rc != 0 && kLoadCodes.count(rc) == 0) Fail("infos code", rc);
    if (rc == 0 && std::strlen(stamp) > 12) Fail("stamp length", 0);
    if (ERRM_FInit() != 1) Fail("ERRM_FInit", 0);
    // Each input starts as a fresh process would: no load counted, no
    // environment name recorded.
    errm_TestResetLoadedCount();
    errm_TestResetEnvNames();
    if (errm_AllocationCount() != start) Fail("blocks after ERRM_FInit", errm_AllocationCount());
    return 0;
}
