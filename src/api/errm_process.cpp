// errm_process.cpp - processing a descriptor message: ERRM_ProcessError,
// the dispatcher, PutOnReports, ReturnError, and ERRM_Get_ErrorMessage.
//
// Sections: dispatcher; PutOnReports and ReturnError; ERRM_ProcessError;
// ERRM_Get_ErrorMessage.
#include "api/errm_api.h"
#include "api/errm_lock.h"
#include "api/errm_return.h"
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "reports/errm_channels.h"
#include "reports/errm_followup.h"
#include "reports/errm_message.h"
#include "reports/errm_records.h"
#include "reports/errm_writers.h"

#include <cstdio>
#include <cstring>

// -------------------------------------------------------------- dispatcher

[[gnu::always_inline]] inline int errm_DecorateAndDispatch(int mode, unsigned /*subsystem*/,
                                                           int number) {
    errm_MessageEntry *entry = errm_CurrentEntry();
    // Names and labels are those of the subsystem the entry belongs to.
    errm_SetSubsystemContext(entry->owner);
    const long length = errm_BuildDecoratedLine(entry, number);
    if (length < 0) {
        ERRM_REPORT(ERRM_E_PRINTF, "sLineOut");
        return ERRM_E_PRINTF;
    }
    // Any non-zero NUSK mode builds the Chi line it then uses.
    bool chiWanted = (errm_FChiFileHandle == 1 && errm_IsChiSeverityCode(entry->severity)) ||
                     errm_G.NUSKMode != 0;
    if (chiWanted) {
        int rc = errm_BuildChiLine(entry, number);
        if (rc != 0) return rc;
    }
    if (entry->severity != ERRM_SEV_DEBUG) {
        if (mode == ERRM_MODE_REPORTS) {
            if (!PutOnReports(errm_Lines.decorated, errm_Lines.sLineChi,
                              static_cast<std::size_t>(length))) {
                ERRM_REPORT(ERRM_E_REPORTS, "PutOnReports");
                return ERRM_E_REPORTS;
            }
        } else if (!ReturnError(errm_Lines.decorated, errm_Lines.sLineChi,
                                static_cast<std::size_t>(length))) {
            ERRM_REPORT(ERRM_E_REPORTS, "ReturnError");
            return ERRM_E_REPORTS;
        }
    }
    if (entry->severity == ERRM_SEV_ERROR_DELAYED) ++errm_G.NbrOfDelayedErrors;
    return entry->rc;
}

// ------------------------------------------------ PutOnReports, ReturnError

[[gnu::always_inline]] inline int PutOnReports(const char *line, const char *chiLine,
                                               std::size_t length) {
    if (!AddReport(line, chiLine, 1, 1, length)) return 0;
    const errm_MessageEntry *entry = errm_CurrentEntry();
    if (entry == nullptr) return 1;
    if (entry->catFlag == 1) errm_CatMessageFile();
    if (entry->seeFlag == 1) {
        // The see line reuses the decorated line's buffer.
        std::snprintf(errm_Lines.sLineOut, sizeof errm_Lines.sLineOut, "see %s\n", entry->see);
        AddReport(errm_Lines.sLineOut, nullptr, 0, 0);
    }
    if (entry->cmdFlag == 1) errm_RunMessageCommand();
    return 1;
}

int ReturnError(const char *line, const char *chiLine, std::size_t lineLength) {
    const bool chi = errm_G.NUSKMode != 0;
    const char *text = chi ? chiLine : line;
    const std::size_t length =
        chi || lineLength == ERRM_LENGTH_UNKNOWN ? std::strlen(text) : lineLength;
    if (length > errm_G.ReturnCapacity - 2) {
        std::size_t capacity = (length / 512 + 1) * 512;
        void *grown = errm_ReAllocateWOClear(errm_G.ReturnBuffer, capacity, ERRM_TAG_RETURN_GROW);
        if (grown == nullptr) return 0;
        errm_G.ReturnBuffer = static_cast<char *>(grown);
        errm_G.ReturnCapacity = capacity;
    }
    std::memcpy(errm_G.ReturnBuffer, text, length + 1);
    return 1;
}

// ---------------------------------------------------------- ERRM_ProcessError

namespace {

// The "not present" line goes on the channels of the message processed last,
// and is counted, labelled and piped as that message: the failed lookup may
// have taken the context of another subsystem.
[[gnu::cold]] int notPresent(int number, int code) {
    if (const errm_MessageEntry *last = errm_CurrentEntry()) errm_SetSubsystemContext(last->owner);
    std::snprintf(errm_Lines.sLineOut, sizeof errm_Lines.sLineOut,
                  "ERROR : errm error message number %d not present in .bin, exit anyway.\n",
                  number);
    std::memcpy(errm_Lines.sLineChi, errm_Lines.sLineOut, std::strlen(errm_Lines.sLineOut) + 1);
    if (!PutOnReports(errm_Lines.sLineOut, errm_Lines.sLineChi)) {
        ERRM_REPORT(ERRM_E_REPORTS, "PutOnReports");
        return ERRM_E_REPORTS;
    }
    return code;
}

[[gnu::hot]] int processError(unsigned int subsystem, int number, va_list args) {
    errm_ApiLock lock;
    int rc = errm_LookupEntry(subsystem, number);
    if (rc != 0) {
        if (errm_Rec.on) errm_RecordBeginNotPresent(subsystem, number);
        return notPresent(number, rc);
    }
    errm_MessageEntry *entry = errm_CurrentEntry();
    if (entry->format[0] == '\0') {
        errm_Lines.sLine0[0] = '\0';
        errm_Lines.sLine0Length = 0;
    } else {
        // The estimate depends on the format alone: a cached entry keeps it.
        if (entry->formatEstimate == 0)
            entry->formatEstimate = errm_EstimateFormatSize(entry->format);
        if (entry->formatEstimate > ERRM_LINE0_MAX) {
            ERRM_REPORT(ERRM_E_PRINTF, "sLine0-sfmt");
            return ERRM_E_PRINTF;
        }
        va_list copy;
        va_copy(copy, args);
        rc = errm_FormatEntryLine0(entry, copy);
        va_end(copy);
        if (rc != 0) return rc;
    }
    if (errm_Rec.on) errm_RecordBeginMessage(entry->format, args);
    return errm_DecorateAndDispatch(ERRM_MODE_REPORTS, subsystem, number);
}

} // namespace

extern "C" ERRM_API int ERRM_ProcessError_variadic(unsigned int subsystem, int number,
                                                   va_list args) {
    return processError(subsystem, number, args);
}

extern "C" [[gnu::hot]] ERRM_API int ERRM_ProcessError(unsigned int subsystem, int number, ...) {
    va_list args;
    va_start(args, number);
    int rc = processError(subsystem, number, args);
    va_end(args);
    return rc;
}

// ------------------------------------------------------ ERRM_Get_ErrorMessage

extern "C" ERRM_API char *ERRM_Get_ErrorMessage_variadic(unsigned int subsystem, int number,
                                                         va_list args) {
    errm_ApiLock lock;
    // The calling thread's own buffer; outside an ERRM_Init / ERRM_FInit
    // cycle there is none.
    errm_ReturnBinding bound;
    if (!errm_EnsureReturnBuffer()) return nullptr;
    errm_G.ReturnBuffer[0] = '\0';
    if (errm_LookupEntry(subsystem, number) != 0) return nullptr;
    errm_MessageEntry *entry = errm_CurrentEntry();
    if (entry->format[0] == '\0') {
        errm_Lines.sLine0[0] = '\0';
        errm_Lines.sLine0Length = 0;
    } else {
        // The format's own length, not its estimate as processing uses: the
        // contract of retrieval limits the format so.
        if (std::strlen(entry->format) > ERRM_LINE0_MAX) {
            ERRM_REPORT(ERRM_E_PRINTF, "sLine0-sfmt");
            return nullptr;
        }
        va_list copy;
        va_copy(copy, args);
        int rc = errm_FormatEntryLine0(entry, copy);
        va_end(copy);
        if (rc != 0) return nullptr;
    }
    int rc = errm_DecorateAndDispatch(ERRM_MODE_RETURN, subsystem, number);
    return rc >= 1000 ? nullptr : errm_G.ReturnBuffer;
}

extern "C" ERRM_API char *ERRM_Get_ErrorMessage(unsigned int subsystem, int number, ...) {
    va_list args;
    va_start(args, number);
    char *text = ERRM_Get_ErrorMessage_variadic(subsystem, number, args);
    va_end(args);
    return text;
}
