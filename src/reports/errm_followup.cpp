// errm_followup.cpp - file concatenation and commands run after a message.
//
// Copied text goes through AddReport like a message line: on the entry's
// channels, uncounted and without a Chi line. A file is copied as it is
// when the copy begins.
#include "reports/errm_followup.h"
#include "base/errm_env.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "reports/errm_fm.h"
#include "reports/errm_message.h"
#include "reports/errm_paths.h"
#include "reports/errm_writers.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// This room's own line size (none of the shared ones): its longest line, a
// command with " failure\n", stays below it.
constexpr std::size_t kCatOutCap = 2693;
constexpr std::size_t kPiece = 1024; // characters of file content per write

struct FollowUpState {
    char sLineCatOut[kCatOutCap];        // line being written
    char catName[ERRM_NAME_CAP];         // name taken from the cat text
    char command[ERRM_NAME_CAP * 2 + 8]; // "<command> > <temporary file>"
    char cmdLine[ERRM_NAME_CAP * 2 + 32];
};

static_assert(sizeof FollowUpState::command + sizeof " failure\n" <= kCatOutCap &&
                  kPiece < kCatOutCap,
              "every line of this room fits its line buffer");

FollowUpState g_follow = {};

// A follow-up's own failure line: on the message's channels like the rest,
// but its standard output copy is a diagnostic (see errm_PrintLimited).
int writeDiagnostic(const char *format, const char *name) {
    errm_Lines.diagnostic = 1;
    int n = std::snprintf(g_follow.sLineCatOut, kCatOutCap, format, name);
    int done = 0;
    if (n < 0 || static_cast<std::size_t>(n) >= kCatOutCap) {
        ERRM_REPORT(ERRM_E_INDEX_SIZE, "sLineCatOut");
    } else {
        AddReport(g_follow.sLineCatOut, nullptr, 0, 0);
        done = 1;
    }
    errm_Lines.diagnostic = 0;
    return done;
}

// Formats a line into sLineCatOut and writes it; 0 when it does not fit.
int writeFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
int writeFormatted(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(g_follow.sLineCatOut, kCatOutCap, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= kCatOutCap) {
        ERRM_REPORT(ERRM_E_INDEX_SIZE, "sLineCatOut");
        return 0;
    }
    AddReport(g_follow.sLineCatOut, nullptr, 0, 0);
    return 1;
}

} // namespace

int errm_CatFile(char *name) {
    if (!errm_FileExists(name)) {
        char expanded[ERRM_NAME_CAP];
        if (!errm_ExpandEnvVars(name, expanded, sizeof expanded)) return 0;
        char found[ERRM_NAME_CAP];
        if (errm_FileExists(expanded)) {
            errm_StrCopy(name, ERRM_NAME_CAP, expanded);
        } else if (errm_FindFileInPath(errm_G.SearchPath, expanded, found)) {
            errm_StrCopy(name, ERRM_NAME_CAP, found);
        } else {
            if (!writeDiagnostic("File \"%s\" not found\n", name)) return 0;
            ERRM_REPORT(ERRM_E_FILE_NOT_FOUND, name);
            return 0;
        }
    }
    if (errm_FileSizeByName(name) == 0) return writeFormatted("file %s empty \n", name);

    errm_TraceAdd("cat_file:%s\n", name);
    int handle = -1;
    if (errm_FM_Open(name, 'r', 0, &handle) != 0) {
        // A handle delivered with the failure (no memory for the name) is
        // given back with its stream.
        if (handle != -1) errm_FM_Close(handle);
        ERRM_REPORT(ERRM_E_OPEN, name);
        return 0;
    }
    int n = std::snprintf(g_follow.sLineCatOut, kCatOutCap, "-- cat %s -- \n", name);
    if (n < 0 || static_cast<std::size_t>(n) >= kCatOutCap) {
        ERRM_REPORT(ERRM_E_INDEX_SIZE, "sLineCatOut");
        errm_FM_Close(handle);
        return 0;
    }
    errm_TraceAdd("NbrCars=%d %s\n", n, g_follow.sLineCatOut);
    AddReport(g_follow.sLineCatOut, nullptr, 0, 0);

    // The copy is of what the file holds now: a file this library is
    // writing (the transcript, the very LOG file of this message) grows
    // while it is copied, and the copy would never end.
    long long left = errm_FM_Size(handle);
    std::size_t at = 0;
    int c = 0;
    while (left > 0 && errm_FM_Getc(handle, &c) == 0) {
        --left;
        g_follow.sLineCatOut[at++] = static_cast<char>(c);
        if (at == kPiece) {
            g_follow.sLineCatOut[at] = '\0';
            AddReport(g_follow.sLineCatOut, nullptr, 0, 0);
            at = 0;
        }
    }
    g_follow.sLineCatOut[at] = '\0';
    if (at > 0) AddReport(g_follow.sLineCatOut, nullptr, 0, 0);

    if (errm_FM_Close(handle) != 0) {
        ERRM_REPORT(ERRM_E_CLOSE, name);
        return 0;
    }
    return writeFormatted("-- EOF -- \n");
}

[[gnu::cold]] void errm_CatMessageFile() {
    const errm_MessageEntry *entry = errm_CurrentEntry();
    // The text starts with "FILE=", which is skipped unread.
    const char *file = std::strlen(entry->cat) >= 5 ? entry->cat + 5 : "";
    bool copied = errm_StrCopy(g_follow.catName, sizeof g_follow.catName, file) == 1;
    if (!copied) g_follow.catName[0] = '\0';
    if (copied && errm_CatFile(g_follow.catName)) return;
    ERRM_REPORT(ERRM_E_CAT, g_follow.catName);
    writeDiagnostic("Error in cat for %s\n", g_follow.catName);
}

[[gnu::cold]] void errm_RunMessageCommand() {
    const errm_MessageEntry *entry = errm_CurrentEntry();
    char tmpName[64];
    errm_TempFileName(tmpName);
    // The text starts with "CMD=", which is skipped unread.
    const char *command = std::strlen(entry->cmd) >= 4 ? entry->cmd + 4 : "";
    std::snprintf(g_follow.command, sizeof g_follow.command, "%s > %s", command, tmpName);
    std::snprintf(g_follow.cmdLine, sizeof g_follow.cmdLine, "-> cmd %s \n", g_follow.command);
    if (errm_G.FDebugL2 == 1) errm_TraceAdd("%s\n", g_follow.cmdLine);
    AddReport(g_follow.cmdLine, nullptr, 0, 0);
    // The output file is created first, exclusively and readable by its owner
    // only, so that the command never writes through a file or a symbolic
    // link planted under that name. A name that is taken is not ours to use
    // or delete: the command is skipped.
    if (!errm_PL_CreateExclusive(tmpName)) {
        writeFormatted("%s failure\n", g_follow.command);
        return;
    }
    if (errm_PL_System(g_follow.command) == -1) {
        writeFormatted("%s failure\n", g_follow.command);
    } else {
        char name[ERRM_NAME_CAP];
        errm_StrCopy(name, sizeof name, tmpName);
        errm_CatFile(name);
    }
    errm_DeleteFile(tmpName);
}
