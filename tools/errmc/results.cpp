// results.cpp - the table of the library's result codes: each code's name
// (the constant of errm.h, spelt once through the macro), cause and remedy;
// the text comes from the library's own catalogue. Then lookup and printing.
#include "results.h"

#include "base/errm_interr.h"
#include "base/errm_interr_texts.h"
#include "version.h"
#include "json_text.h"
#include <errm.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace errmc {

namespace {

#define ERRMC_RESULT(constant, returnedBy, cause, remedy)                                          \
    ResultInfo {                                                                                   \
        constant, #constant, returnedBy, cause, remedy                                             \
    }

constexpr std::array kResults = {
    ERRMC_RESULT(ERRM_OK, "Every function that returns a result code",
                 "The call succeeded. ERRM_ProcessError returns the message's own return code "
                 "(its rc, 0 when the catalogue gives none) instead.",
                 "Nothing to do."),
    ERRMC_RESULT(ERRM_TRACE_UNAVAILABLE, "ERRM_ReadErrorDescriptor",
                 "The trace is wanted (KOVA_ERRM_LDBG names a folder and sets TraceDLL) but its "
                 "file could not be written: the folder does not exist or cannot be written, or "
                 "its name leaves no room for the file name (1082). Nothing is loaded. "
                 "(ERRM_Init, the setters and the stream functions return 1 for success "
                 "instead: this meaning is ERRM_ReadErrorDescriptor's.)",
                 "Create the trace folder or make it writable, or leave the folder out of "
                 "KOVA_ERRM_LDBG; call ERRM_Init again after changing it."),
    ERRMC_RESULT(ERRM_ERR_TOO_MANY_ENV,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)",
                 "The messages of the loaded descriptors name more distinct environment "
                 "variables (env key) than the library records.",
                 "Share environment variable names between messages; errmc check warns about it."),
    ERRMC_RESULT(ERRM_ERR_BAD_LETTER,
                 "ERRM_DirectProcessError",
                 "ERRM_DirectProcessError got a report letter that names no channel.",
                 "Use the letters S P T D C R L K F, or X for none."),
    ERRMC_RESULT(ERRM_ERR_NOT_FOUND,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead); ERRM_ResetMessageCounter reports it and returns 0",
                 "The message number is not in the subsystem's descriptor; the line \"ERROR : "
                 "errm error message number ... not present\" is printed instead.",
                 "Check the number against the catalogue (use the constants of its errmc header) "
                 "and that the descriptor was rebuilt after the catalogue changed."),
    ERRMC_RESULT(ERRM_ERR_BAD_ENTRY_NUMBER,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)",
                 "A message record of the descriptor holds another number than its directory "
                 "entry: the file is damaged or was not written by errmc.",
                 "Rebuild the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_FM_CLOSE,
                 "None: it is only reported on the trace; ERRM_FInit goes on closing the other files", "Closing a report or trace file failed.",
                 "Check the disk (full, removed, network file system)."),
    ERRMC_RESULT(ERRM_ERR_FM_FULL,
                 "None: it is only reported on the trace; the call that wanted the file returns 1058 (a report file) or goes on without it (a copied file)", "The library already holds 16 files open.",
                 "Fewer report files at once: silence channels you do not need."),
    ERRMC_RESULT(ERRM_ERR_FM_NOT_OPEN,
                 "None: it is only reported on the trace; the call that wrote returns 1058",
                 "A write or close went to a file that is not open; most often a call out of "
                 "order: the file's name was set after ERRM_Init, which opens the files.",
                 "Set the file's name (ERRM_Set_TranScriptFileName, ERRM_Set_RootReportFiles) "
                 "before ERRM_Init, or silence the channel."),
    ERRMC_RESULT(ERRM_ERR_FM_OPEN,
                 "None: it is only reported on the trace; the call that wanted the file returns 1058 (a report file) or goes on without it (a copied file)",
                 "A report file could not be opened: most often the transcript, whose name was "
                 "never set (the line reads \"FM error open, F= E=1030\"), or a folder that does "
                 "not exist or cannot be written.",
                 "Name the file (ERRM_Set_TranScriptFileName, ERRM_Set_RootReportFiles), create "
                 "its folder, or leave the channel out of the message's reports."),
    ERRMC_RESULT(ERRM_ERR_FM_READ,
                 "None: it is only reported on the trace while the message itself is processed", "Reading a file to copy onto the reports failed.",
                 "Check the file named by the message's cat_file."),
    ERRMC_RESULT(ERRM_ERR_FM_WRITE,
                 "None: it is only reported on the trace; the call that wrote returns 1058", "Writing on a report file or stream failed.",
                 "Check the disk, and that a stream handed in is still open."),
    ERRMC_RESULT(ERRM_ERR_INTERNAL,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)", "A field of a message record is malformed.",
                 "Rebuild the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_TOO_MANY_SS,
                 "ERRM_ReadErrorDescriptor",
                 "ERRM_ReadErrorDescriptor was called more than 15 times in the process.",
                 "Load each subsystem once and keep its handle."),
    ERRMC_RESULT(ERRM_ERR_MAGIC,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos",
                 "Most often a call out of order: the descriptor was loaded before ERRM_Init, "
                 "which sets the byte order the header is read in, so that a good descriptor's "
                 "magic number reads wrong. Otherwise the file does not start with the "
                 "descriptor magic number, or is too short for its header: not a descriptor, or "
                 "damaged.",
                 "Call ERRM_Init before ERRM_ReadErrorDescriptor. When errmc info FILE shows a "
                 "wrong magic, rebuild the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_MD5,
                 "None: it is only reported on the trace (one line per differing byte) while ERRM_ReadErrorDescriptor loads the descriptor all the same", "The descriptor's digest does not match its content.",
                 "The file was changed after errmc wrote it: rebuild it."),
    ERRMC_RESULT(ERRM_ERR_NOT_LOADED,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)",
                 "Most often a call out of order: the message was processed before its "
                 "subsystem was loaded or after ERRM_FInit released it. Otherwise the index "
                 "names no loaded descriptor because its load failed.",
                 "Load the subsystem after ERRM_Init and check the result of the load."),
    ERRMC_RESULT(ERRM_ERR_PLATFORM,
                 "None: ERRM_Init reports it and returns 0 (ERRM_Init returns 1 when it succeeds)", "ERRM_Init found ORV_VCO missing or not a platform code.",
                 "Set ORV_VCO, e.g. ORV_VCO=ixl on Linux x86-64."),
    ERRMC_RESULT(ERRM_ERR_SEVERITY,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)", "A message record holds a severity outside 1..8.",
                 "Rebuild the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_REPORTS,
                 "ERRM_ProcessError, ERRM_DirectProcessError",
                 "Writing the line on one of the message's channels failed, most often because "
                 "a report file cannot be opened (see 1030 on standard output).",
                 "Name the report files before ERRM_Init, or take the channel out of the "
                 "message's reports."),
    ERRMC_RESULT(ERRM_ERR_SIZE_SMALL,
                 "None: ERRM_DisplayUserMessage reports it and returns 0 (no channel written)", "A user message's format is longer than 1023 bytes.",
                 "Shorten the format."),
    ERRMC_RESULT(ERRM_ERR_BAD_INDEX,
                 "ERRM_ProcessError (ERRM_Get_ErrorMessage returns NULL instead)", "The subsystem index is outside 0..15.",
                 "Pass the handle or index that the load gave."),
    ERRMC_RESULT(ERRM_ERR_CAT,
                 "None: it is only reported on the trace while the message itself is processed", "Copying a message's cat_file onto the reports failed.",
                 "Check that the file is readable."),
    ERRMC_RESULT(ERRM_ERR_CLOSE,
                 "None: it is only reported on the trace", "Closing a copied file or a command's output file failed.",
                 "Check the disk."),
    ERRMC_RESULT(ERRM_ERR_FILE_NOT_FOUND,
                 "None: it is only reported on the trace while the message itself is processed",
                 "A message's cat_file is in none of the search path's folders.",
                 "Set the search path variable (ERRM_Set_SearchPath) to the folders that hold "
                 "it."),
    ERRMC_RESULT(ERRM_ERR_NO_MEMORY,
                 "ERRM_ReadErrorDescriptor; ERRM_Get_ErrorMessage returns NULL", "An allocation failed.",
                 "Free memory, or load fewer "
                 "descriptors."),
    ERRMC_RESULT(ERRM_ERR_MAP,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos", "The descriptor file could not be read into memory (empty or unreadable).",
                 "Rebuild it with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_NULL,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos", "A pointer argument was null.", "Pass a valid pointer."),
    ERRMC_RESULT(ERRM_ERR_OPEN,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos; for a report or trace file, only reported on the trace",
                 "The descriptor errm_desc_<SUBSYSTEM>.bin is not in the descriptor folder: "
                 "wrong folder, or the file was not built. A call out of order gives it too: "
                 "the folder set with ERRM_Set_Root_ForMemoryDescriptor after the load.",
                 "Set the folder with ERRM_Set_Root_ForMemoryDescriptor (ending with '/') "
                 "before loading, and build the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_INDEX_SIZE,
                 "None: it is only reported on the trace while the message itself is processed", "A line to copy onto the reports is too long.",
                 "Shorten the lines of the copied file or command output."),
    ERRMC_RESULT(ERRM_ERR_PRINTF,
                 "ERRM_ProcessError, ERRM_DirectProcessError; ERRM_Get_ErrorMessage returns NULL and ERRM_DisplayUserMessage 0",
                 "The formatted message is longer than its buffer (6144 characters).",
                 "Pass shorter arguments or use a precision such as %.200s."),
    ERRMC_RESULT(ERRM_ERR_READ_MAPPED,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos, ERRM_ProcessError",
                 "A region the descriptor names lies outside the file: damaged or cut.",
                 "Rebuild the descriptor with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_CAT_OVERFLOW,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos",
                 "The descriptor's path (folder and file name) is longer than 1023 bytes.",
                 "Use a shorter descriptor folder."),
    ERRMC_RESULT(ERRM_ERR_COPY_SIZE,
                 "ERRM_ReadErrorDescriptor, ERRM_DisplayInfos", "The subsystem name is too long.",
                 "Use the subsystem name of the catalogue (at most 63 characters)."),
    ERRMC_RESULT(ERRM_ERR_TRACE_NAME,
                 "None: it is reported on standard output with ConsoleOut, and ERRM_ReadErrorDescriptor returns 1",
                 "The trace folder of KOVA_ERRM_LDBG leaves no room for the trace file name.",
                 "Use a shorter trace folder."),
    ERRMC_RESULT(ERRM_ERR_OLD_VERSION,
                 "None: it is only reported on the trace while ERRM_ReadErrorDescriptor loads the descriptor all the same", "The descriptor's version is below 1.0.0.",
                 "Rebuild it with errmc compile."),
    ERRMC_RESULT(ERRM_ERR_NOT_OPENED,
                 "None: ERRM_DisplayUserMessage reports it and leaves the channel out of its result", "A user message went to a channel whose file is not open.",
                 "Name the report files before ERRM_Init, or leave the channel's bit out."),
    ERRMC_RESULT(ERRM_ERR_EMPTY,
                 "ERRM_DirectProcessError", "The direct message's severity, reports or format is empty.",
                 "Pass non-empty texts."),
    ERRMC_RESULT(ERRM_ERR_DIRECT_SEVERITY,
                 "ERRM_DirectProcessError",
                 "The direct message's severity does not start with T (TRACE) or D (DEBUG).",
                 "Pass \"TRACE\" or \"DEBUG\"."),
};

#undef ERRMC_RESULT

// 0 and 1, then the library's codes.
constexpr bool InOrderAndInRange() {
    for (std::size_t i = 0; i < kResults.size(); ++i) {
        const bool inRange = i < 2 ? kResults[i].code == static_cast<int>(i)
                                   : kResults[i].code >= ERRM_E_FIRST && kResults[i].code <= ERRM_E_LAST;
        if (!inRange) return false;
        if (i > 0 && kResults[i - 1].code >= kResults[i].code) return false;
    }
    return true;
}
static_assert(InOrderAndInRange(), "one entry per code, in increasing order");

// The public constants and the library's internal codes are one set.
static_assert(
    ERRM_ERR_TOO_MANY_ENV == ERRM_E_TOO_MANY_ENV && ERRM_ERR_BAD_LETTER == ERRM_E_BAD_LETTER &&
        ERRM_ERR_NOT_FOUND == ERRM_E_NOT_FOUND &&
        ERRM_ERR_BAD_ENTRY_NUMBER == ERRM_E_BAD_ENTRY_NUMBER &&
        ERRM_ERR_FM_CLOSE == ERRM_E_FM_CLOSE && ERRM_ERR_FM_FULL == ERRM_E_FM_FULL &&
        ERRM_ERR_FM_NOT_OPEN == ERRM_E_FM_NOT_OPEN && ERRM_ERR_FM_OPEN == ERRM_E_FM_OPEN &&
        ERRM_ERR_FM_READ == ERRM_E_FM_READ && ERRM_ERR_FM_WRITE == ERRM_E_FM_WRITE &&
        ERRM_ERR_INTERNAL == ERRM_E_INTERNAL && ERRM_ERR_TOO_MANY_SS == ERRM_E_TOO_MANY_SS &&
        ERRM_ERR_MAGIC == ERRM_E_MAGIC && ERRM_ERR_MD5 == ERRM_E_MD5 &&
        ERRM_ERR_NOT_LOADED == ERRM_E_NOT_LOADED && ERRM_ERR_PLATFORM == ERRM_E_PLATFORM &&
        ERRM_ERR_SEVERITY == ERRM_E_SEVERITY && ERRM_ERR_REPORTS == ERRM_E_REPORTS &&
        ERRM_ERR_SIZE_SMALL == ERRM_E_SIZE_SMALL && ERRM_ERR_BAD_INDEX == ERRM_E_BAD_INDEX &&
        ERRM_ERR_CAT == ERRM_E_CAT && ERRM_ERR_CLOSE == ERRM_E_CLOSE &&
        ERRM_ERR_FILE_NOT_FOUND == ERRM_E_FILE_NOT_FOUND &&
        ERRM_ERR_NO_MEMORY == ERRM_E_NO_MEMORY && ERRM_ERR_MAP == ERRM_E_MAP &&
        ERRM_ERR_NULL == ERRM_E_NULL && ERRM_ERR_OPEN == ERRM_E_OPEN &&
        ERRM_ERR_INDEX_SIZE == ERRM_E_INDEX_SIZE && ERRM_ERR_PRINTF == ERRM_E_PRINTF &&
        ERRM_ERR_READ_MAPPED == ERRM_E_READ_MAPPED &&
        ERRM_ERR_CAT_OVERFLOW == ERRM_E_CAT_OVERFLOW && ERRM_ERR_COPY_SIZE == ERRM_E_COPY_SIZE &&
        ERRM_ERR_TRACE_NAME == ERRM_E_TRACE_NAME && ERRM_ERR_OLD_VERSION == ERRM_E_OLD_VERSION &&
        ERRM_ERR_NOT_OPENED == ERRM_E_NOT_OPENED && ERRM_ERR_EMPTY == ERRM_E_EMPTY &&
        ERRM_ERR_DIRECT_SEVERITY == ERRM_E_DIRECT_SEVERITY && ERRM_OK == 0 &&
        ERRM_TRACE_UNAVAILABLE == 1 && kResults.size() == 39,
    "errm.h's result constants are the library's codes, each explained once");

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

const ResultInfo *FindResult(std::string_view codeOrName) {
    const std::string key = Upper(codeOrName);
    for (const ResultInfo &r : kResults) {
        const std::string_view name = r.name;
        const std::string_view bare = name.substr(name.find('_', sizeof "ERRM" - 1) + 1);
        if (key == std::to_string(r.code) || key == name ||
            (name.rfind("ERRM_ERR_", 0) == 0 ? key == name.substr(sizeof "ERRM_ERR_" - 1)
                                             : key == name.substr(sizeof "ERRM_" - 1)) ||
            key == bare)
            return &r;
    }
    return nullptr;
}

std::string ResultText(int code) {
    std::string out;
    if (code >= ERRM_E_FIRST && code <= ERRM_E_LAST)
        out = errm_kInternalErrors[static_cast<std::size_t>(code - ERRM_E_FIRST)].format;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

namespace {

// The text line of a code, or what stands for it when the library writes none.
std::string TextOrNone(int code) {
    const std::string text = ResultText(code);
    return text.empty() ? std::string("(none: the library writes no line for it)") : text;
}

} // namespace

void PrintResult(std::ostream &out, const ResultInfo &r) {
    out << r.code << ' ' << r.name << '\n'
        << "  text:        " << TextOrNone(r.code) << '\n'
        << "  returned by: " << r.returnedBy << '\n'
        << "  cause:       " << r.cause << '\n'
        << "  remedy:      " << r.remedy << '\n';
}

void PrintResultsPage(std::ostream &out) {
    out << "# Result codes\n\n"
        << "<!-- Generated by `errmc explain --all` (" << Writer()
        << ") from the library's error catalogue: do not edit. -->\n\n"
        << "Besides a message's own return code, the exported functions return these codes, "
           "defined in `errm.h`. `errmc explain CODE` prints one entry. The text is the line "
           "the library writes on its trace (and, with ConsoleOut, on standard output) when it "
           "reports the code; `%s` and `%d` stand for the failing name or value, `F=`/`L=` for "
           "the place in the library. \"Returned by\" names the functions that return the "
           "code; some codes are only reported, and the call returns another result. The "
           "cause names first a call out of order when that is the usual one.\n";
    for (const ResultInfo &r : kResults) {
        const std::string text = ResultText(r.code);
        out << "\n## " << r.code << " `" << r.name << "`\n\n"
            << "Text: " << (text.empty() ? TextOrNone(r.code) : "`" + text + "`") << "\n\n"
            << "Returned by: " << r.returnedBy << "\n\n"
            << "Cause: " << r.cause << "\n\n"
            << "Remedy: " << r.remedy << '\n';
    }
}

int ExplainCommand(const std::string &code, bool all, Streams io) {
    if (all) {
        PrintResultsPage(io.out);
        return 0;
    }
    const ResultInfo *r = FindResult(code);
    if (!r) {
        io.Error("'" + code + "' is not a result code of the library (the codes are listed by "
                 "errmc explain --all)");
        return kExitFailed;
    }
    PrintResult(io.out, *r);
    return 0;
}

namespace {

Json ResultJson(const ResultInfo &r) {
    Json j = Json::object();
    j["code"] = r.code;
    j["name"] = r.name;
    j["text"] = ResultText(r.code);
    j["cause"] = r.cause;
    j["remedy"] = r.remedy;
    return j;
}

} // namespace

int ExplainJsonCommand(const std::string &code, bool all, Streams io) {
    if (all) {
        Json list = Json::array();
        for (const ResultInfo &r : kResults)
            list.push_back(ResultJson(r));
        Json doc = Json::object();
        doc["results"] = list;
        io.out << JsonText(doc);
        return 0;
    }
    const ResultInfo *r = FindResult(code);
    if (!r) return ExplainCommand(code, false, io);
    io.out << JsonText(ResultJson(*r));
    return 0;
}

} // namespace errmc
