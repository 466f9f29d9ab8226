// errm_direct.cpp - direct messages: trace and debug lines that no
// descriptor holds, gated by a trace level read from the environment.
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "reports/errm_direct.h"
#include "reports/errm_message.h"
#include "reports/errm_records.h"
#include "reports/errm_writers.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The direct trace line, without and with its line feed.
constexpr std::array<const char *, 2> kDirectLayouts = {"(%s-%s-%d) %s", "(%s-%s-%d) %s\n"};

// A decimal level: not empty, only digits and signs; converted like atoi.
bool decimalLevel(const char *text, int *level) {
    if (text[0] == '\0') return false;
    for (const char *p = text; *p != '\0'; ++p)
        if (!((*p >= '0' && *p <= '9') || *p == '+' || *p == '-')) return false;
    *level = std::atoi(text);
    return true;
}

} // namespace

int errm_DirectTrace(int severity, const char *severityText, const char *levelVar, int level,
                     const char *reports, const char *text) {
    const char *value = levelVar != nullptr ? std::getenv(levelVar) : nullptr;
    int envLevel = 0;
    if (value == nullptr || !decimalLevel(value, &envLevel)) return 0;
    if (envLevel < level) return 0;
    const char *layout = kDirectLayouts[errm_G.FAddNL == 1 ? 1 : 0];
    int n = std::snprintf(errm_Lines.sLine, sizeof errm_Lines.sLine, layout, severityText, levelVar,
                          envLevel, text);
    if (n < 0 || static_cast<std::size_t>(n) > ERRM_LINE0_MAX) {
        errm_Lines.sLine[0] = '\0';
        ERRM_REPORT(ERRM_E_PRINTF, "sLine");
        return ERRM_E_PRINTF;
    }
    if (AddReportDirect(reports, severity, errm_Lines.sLine)) return 0;
    // Named "ReturnError" on purpose: the contract keeps the name that this
    // report has always carried for a direct line, though no text is returned.
    ERRM_REPORT(ERRM_E_REPORTS, "ReturnError");
    return ERRM_E_REPORTS;
}

unsigned errm_DirectProcessError(const char *severity, const char *reports, const char *level_var,
                                 int level, const char *format, va_list args) {
    if (severity == nullptr || severity[0] == '\0') {
        ERRM_REPORT(ERRM_E_EMPTY, "severity");
        return ERRM_E_EMPTY;
    }
    int code = 0;
    if (severity[0] == 'T')
        code = ERRM_SEV_TRACE;
    else if (severity[0] == 'D')
        code = ERRM_SEV_DEBUG;
    else {
        ERRM_REPORT(ERRM_E_DIRECT_SEVERITY, severity);
        return ERRM_E_DIRECT_SEVERITY;
    }
    if (reports == nullptr || reports[0] == '\0') {
        ERRM_REPORT(ERRM_E_EMPTY, reports == nullptr ? " report = NULL" : " no report");
        return ERRM_E_EMPTY;
    }
    if (format == nullptr || format[0] == '\0') {
        ERRM_REPORT(ERRM_E_EMPTY, format == nullptr ? "format=NULL" : " no format");
        return ERRM_E_EMPTY;
    }
    if (errm_EstimateFormatSize(format) > ERRM_LINE0_MAX) {
        ERRM_REPORT(ERRM_E_PRINTF, "sLine0-sfmt");
        return ERRM_E_PRINTF;
    }
    va_list copy;
    va_copy(copy, args);
    int rc = errm_FormatLine0(format, copy);
    va_end(copy);
    if (rc != 0) return static_cast<unsigned>(rc);
    if (code == ERRM_SEV_DEBUG) return 0;
    if (errm_Rec.on) errm_RecordBeginDirect(level_var, format, args);
    return static_cast<unsigned>(
        errm_DirectTrace(code, severity, level_var, level, reports, errm_Lines.sLine0));
}
