// errm_interr.cpp - the internal error catalogue and its reporting on the
// trace file and the console.
//
// Sections: catalogue; reporting.
#include "base/errm_interr.h"
#include "base/errm_console.h"
#include "base/errm_sink.h"
#include "base/errm_limits.h"
#include "base/errm_state.h"

#include <array>
#include <cstdio>

namespace {

struct CatalogueRow {
    int code;           // 1000..1101, then 0 for the end row
    const char *format; // printf format of the report
};

// One row per code 1000..1101 in increasing order, then the end row.
constexpr std::array<CatalogueRow, 103> kCatalogue = {{
    {1000, "?\n"},
    {1001, "Too many env vars =%d @ %s/L=%d\n"},
    {1002, "ENV variable \"%s\" is not set @ F=%s/L=%d\n"},
    {1003, "Get adresses from DLL failure for %d values\n"},
    {1004, "Program arguments invalid\n"},
    {1005, "SHARED LIB attach failure %s\n"},
    {1006, "Invalide attribute value for %s (after error=%d)\n"},
    {1007, "Duplicate error found in %s (after error=%d)\n"},
    {1008, "Var %s not found in config @ F=%s/L=%d\n"},
    {1009, "ADD entry invalid = %s (after err=%d)\n"},
    {1010, "CHAR entry invalid = %s @ F=%s/L=%d\n"},
    {1011, "Choice invalid = %s for %s (after err=%d)\n"},
    {1012, "CMD entry invalid = %s (after err=%d)\n"},
    {1013, "Manual entry invalid = %s (after err=%d)\n"},
    {1014, "Numeric value invalid = %s @ F=%s/L=%d\n"},
    {1015, "PARENT %s not found(after error=%d)\n"},
    {1016, "Non decimal for PARENT %s (after error=%d)\n"},
    {1017, "Non decimal for RC %s (after error=%d)\n"},
    {1018, "report specification invalid = %s (after error=%d)\n"},
    {1019, "START STR entry invalid = %s @ F=%s/L=%d\n"},
    {1020, "TIME entry invalid = %s (after err=%d)\n"},
    {1021, "Verbose entry invalid = %s (after err=%d)\n"},
    {1022, "SHARED LIB detach failure %s\n"},
    {1023, "Code %s invalid (after err=%d)\n"},
    {1024, "Error number %d not found @ F=%s/L=%d\n"},
    {1025, "In descriptor %d invalid @ F=%s/L=%d\n"},
    {1026, "Change ext failure for \"%s\" \n"},
    {1027, "FM error close, F=%s E=%d\n"},
    {1028, "FM error, no entry found F=%s E=%d\n"},
    {1029, "FM error, file not opened FileName=%s E=%d\n"},
    {1030, "FM error open, F=%s E=%d\n"},
    {1031, "FM error read, F=%s E=%d\n"},
    {1032, "FM error write, F=%s E=%d\n"},
    {1033, "FMT not present @ F=%s/L=%d\n"},
    {1034, "Allocation of global ERR descriptor %s\n"},
    {1035, "Invalid allocation for %s (after error=%d)\n"},
    {1036, "%s on attribute (after error=%d)\n"},
    {1037, "GEN FMT not present @ F=%s/L=%d\n"},
    {1038, "Invalid numeric field %s (after error=%d)\n"},
    {1039, "Not all fields presents in ERR descriptor=%s\n"},
    {1040, "Invalid SS name for %s (after error=%d)\n"},
    {1041, "Modify the #define C_MAX_ERROR_ENTRIES = %d\n"},
    {1042, "Write ERR descriptor in memory %s\n"},
    {1043, "GET shared adresses failure %s\n"},
    {1044, "Error section full in .xml file %d @ F=%s/L=%d\n"},
    {1045, "Error too many sections in .xml file %d @ F=%s/L=%d\n"},
    {1046, "Internal error for %s @ F=%s/L=%d\n"},
    {1047, "Too many SS=%d @ F=%s/L=%d\n"},
    {1048, "MAGIC number invalid in SB=%lld @ F=%s/L=%d\n"},
    {1049, "MD5 number invalid in SB=%d = %d @ F=%s/L=%d\n"},
    {1050, "MEMORY file not yet read @ %s/L=%d\n"},
    {1051, "MEMORY file not found in config for %s @ F=%s/L=%d\n"},
    {1052, "Sub system not set @ F=%s/L=%d\n"},
    {1053, "Platform %s invalid @ F=%s/L=%d\n"},
    {1054, "Failure reading descriptor for ss=%s @ F=%s/L=%d\n"},
    {1055, "Severity code %d invalid (after err=%d)\n"},
    {1056, "Severity code=%d invalid @ F=%s/L=%d\n"},
    {1057, "Set file error for %s\n"},
    {1058, "Reports %s @ F=%s/L=%d\n"},
    {1059, "Size too big for %s (after error=%d)\n"},
    {1060, "Size too small for %s (after error=%d)\n"},
    {1061, "SS name invalid = %s (after error=%d)\n"},
    {1062, "SS from arg=\"%s\" and SS from XML=\"%s\" are not identical\n"},
    {1063, "Size var too small for %s (after err=%d)\n"},
    {1064, "Index %d invalid for sub system @ F=%s/L=%d\n"},
    {1065, "cat file error for %s @ F=%s/L=%d\n"},
    {1066, "CLOSE file failure for %s @ F=%s/L=%d\n"},
    {1067, "File %s not found @ F=%s/L=%d\n"},
    {1068, "Memory allocation failure for %s @ F=%s/L=%d\n"},
    {1069, "MAP file failure for %s @ F=%s/L=%d\n"},
    {1070, "ptr %s is NULL @ F=%s/L=%d\n"},
    {1071, "Open file failure for %s @ F=%s/L=%d\n"},
    {1072, "Index above size for %s @ F=%s/L=%d\n"},
    {1073, "printf report too many chars for the space for %s @ F=%s/L=%d\n"},
    {1074, "READ file failure for %s @ F=%s/L=%d\n"},
    {1075, "READ MAPPED file failure for %s @ F=%s/L=%d\n"},
    {1076, "Rename error on file %s @ F=%s/L=%d\n"},
    {1077, "String cat overflow %s @ F=%s/L=%d\n"},
    {1078, "Size error on copy found in %s @ F=%s/L=%d\n"},
    {1079, "WRITE file failure for %s @ F=%s/L=%d\n"},
    {1080, "Probem in XML file : %s (non existant, bad chars?) @ F=%s/L=%d\n"},
    {1081, "Test error with %d and %s @ F=%s/L=%d\n"},
    {1082, "TRACE DLL file name not found in config for %s @ F=%s/L=%d\n\n"},
    {1083, "TRACE file not found in config for %s @ F=%s/L=%d\n"},
    {1084, "VERSION number old: GENV=%d, MINV=%d @ F=%s/L=%d\n"},
    {1085, "VERSION number switch to MINV=%d @ F=%s/L=%d\n"},
    {1086, "XML file not found in config for %s @ F=%s/L=%d\n"},
    {1087, "Nbr fields for %s invalid = %s (after error=%d)\n"},
    {1088, "XML parsing error = %d\n"},
    {1089, "Remove quotes error for %s (after error=%d)\n"},
    {1090, "SAX decoding error %s @ F=%s/L=%d\n"},
    {1091, "SAX decoding fatal error %s @ F=%s/L=%d\n"},
    {1092, "SAX decoding warning %s @ F=%s/L=%d\n"},
    {1093, "Syntax error in XML file=%s\n"},
    {1094, "Update dir error (after error=%d)\n"},
    {1095, "Report %d not opened @ F=%s/L=%d\n"},
    {1096, "The field %s is not present in the XML descriptor\n"},
    {1097, "Syntax error in scenario %s @ F=%s/L=%d\n"},
    {1098, "String %s is not defined (length=0) @ F=%s/L=%d\n"},
    {1099, "String severity %s is invalid (not TRACE or DEBUG) @ F=%s/L=%d\n"},
    {1100, "Warning: %s  @ F=%s/L=%d\n"},
    {1101, "?\n"},
    {0, "$"},
}};

constexpr bool catalogueInOrder() {
    for (int i = 0; i < ERRM_E_LAST - ERRM_E_FIRST + 1; ++i)
        if (kCatalogue[static_cast<std::size_t>(i)].code != ERRM_E_FIRST + i) return false;
    return kCatalogue.back().code == 0;
}
static_assert(catalogueInOrder(), "the catalogue holds 1000..1101 in order, then the end row");

} // namespace

const char *errm_InternalErrorText(int code) {
    if (code < ERRM_E_FIRST || code > ERRM_E_LAST) return nullptr;
    return kCatalogue[static_cast<std::size_t>(code - ERRM_E_FIRST)].format;
}

// --------------------------------------------------------------- reporting

namespace {

// The report text buffer.
char g_reportText[ERRM_REPORT_LINE_CAP];
char g_reportPrefix[32];

// Formats into a fixed buffer; a text too long is cut and still ends with a
// line feed, so the trace keeps one report per line.
void formatBounded(char *buf, std::size_t cap, const char *format, va_list args) {
    int n = std::vsnprintf(buf, cap, format, args);
    if (n < 0) {
        buf[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= cap) {
        buf[cap - 2] = '\n';
        buf[cap - 1] = '\0';
    }
}

} // namespace

namespace {

__attribute__((format(printf, 2, 3))) void sinkPrintf(int handle, const char *format, ...) {
    va_list args;
    va_start(args, format);
    errm_Sink.vprintf(handle, format, args);
    va_end(args);
}

} // namespace

void errm_ReportInternalError(int code, ...) {
    if (errm_G.FTraceDLL == 0) return;
    const char *format = errm_InternalErrorText(code);
    if (format == nullptr) {
        std::snprintf(g_reportText, sizeof g_reportText, "?\n");
    } else {
        va_list args;
        va_start(args, code);
        formatBounded(g_reportText, sizeof g_reportText, format, args);
        va_end(args);
    }
    std::snprintf(g_reportPrefix, sizeof g_reportPrefix,
                  "DLL-E(%3d): ", errm_NextTraceLineNumber());
    // After ERRM_FInit the trace handle is gone: nothing reaches a file.
    // With the trace wanted but not open (handle -1) the prefix goes to
    // standard output, and the console echo below repeats it: the doubled
    // "DLL-E" is what the contract wants.
    if (!errm_G.FTraceClosedByFInit) {
        if (errm_G.TraceFileHandle != -1)
            errm_Sink.puts(errm_G.TraceFileHandle, g_reportPrefix);
        else
            errm_ConsolePuts(g_reportPrefix);
        if (errm_G.TraceFileHandle != -1)
            sinkPrintf(errm_G.TraceFileHandle, "Error DLL: %d %s", code, g_reportText);
    }
    if (errm_G.FConsoleOut == 1) {
        errm_ConsolePuts(g_reportPrefix);
        errm_ConsolePuts(g_reportText);
    }
}
