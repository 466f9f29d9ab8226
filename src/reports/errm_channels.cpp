// errm_channels.cpp - the report channel table and its operations: report
// letters, opening report files, client streams, set-up and shutdown.
//
// Sections: tables; lookups; report files; client streams; set-up and shutdown.
#include "reports/errm_channels.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "base/errm_trace.h"
#include "reports/errm_fm.h"

#include <array>
#include <cstdio>

// ------------------------------------------------------------------ tables

errm_ReportChannel errm_Reports[ERRM_CH_COUNT + 1] = {
    {"STDOUT", 0, -1, 'E', 0, 0}, {"PIPE", 1, -1, 'I', 0, 0},  {"TRANSCRIPT", 2, -1, 'I', 0, 0},
    {"DBG_I", 3, -1, 'I', 0, 0},  {"DBG_C", 4, -1, 'I', 0, 0}, {"REPORT", 5, -1, 'I', 0, 0},
    {"CHI", 6, -1, 'E', 0, 0},    {"LOG", 7, -1, 'I', 0, 0},   {"REPORT_F", 8, -1, 'E', 0, 0},
    {"$", 0, -1, ' ', 0, 0},
};

int errm_FChiFileHandle = 0;

const errm_ReportLetter errm_ReportLetters[ERRM_LETTERS] = {
    {'S', 0}, {'P', 1}, {'T', 2}, {'D', 3}, {'C', 4},
    {'R', 5}, {'L', 7}, {'K', 6}, {'F', 8}, {'$', 9},
};

namespace {

constexpr std::array<unsigned, 11> kChannelBits = {0x1,  0x2,  0x4,   0x8,   0x10, 0x20,
                                                   0x40, 0x80, 0x100, 0x200, 0x400};
static_assert(kChannelBits[ERRM_CH_REPORT_F] == 0x100, "bit i is 1 << i");

struct ChannelState {
    char reportFileName[ERRM_NAME_CAP]; // last report file name built
};

ChannelState g_channels = {};

} // namespace

// ------------------------------------------------------------------ lookups

unsigned errm_ChannelBit(int id) {
    return id >= 0 && id < static_cast<int>(kChannelBits.size())
               ? kChannelBits[static_cast<std::size_t>(id)]
               : 0;
}

int errm_ReportLetterToId(const errm_ReportLetter *table, int letter) {
    for (int i = 0; i < 257; ++i) {
        int l = table[i].letter & 0xFF;
        if (l == '$') break;
        if (l == (letter & 0xFF)) return table[i].id;
    }
    return ERRM_E_BAD_LETTER;
}

// ------------------------------------------------------------- report files

[[gnu::cold]] int errm_OpenReportFile(int id) {
    char *name = g_channels.reportFileName;
    if (id == ERRM_CH_TRANSCRIPT) {
        if (!errm_StrCopy(name, ERRM_NAME_CAP, errm_G.TranScriptFileName)) return 0;
    } else {
        const char *ext = nullptr;
        switch (id) {
        case ERRM_CH_DBG_I: ext = ".dbi"; break;
        case ERRM_CH_DBG_C: ext = ".dbg"; break;
        case ERRM_CH_REPORT: ext = ".rep"; break;
        case ERRM_CH_LOG: ext = ".log"; break;
        default: return 0;
        }
        if (!errm_StrCopy(name, ERRM_NAME_CAP, errm_G.RootReportFiles)) return 0;
        if (!errm_StrCat(name, ERRM_NAME_CAP, ext)) return 0;
    }
    int handle = -1;
    if (errm_FM_Open(name, 'w', 0, &handle) != 0) {
        // Without memory for its name the file manager still delivers the
        // handle, stream open: give it back.
        if (handle != -1) errm_FM_Close(handle);
        ERRM_REPORT(ERRM_E_OPEN, name);
        return 0;
    }
    errm_Reports[id].handle = handle;
    errm_Reports[id].opened = 1;
    errm_Reports[id].authorised = 1;
    return 1;
}

[[gnu::cold]] int errm_WriteReportHeader(int handle) {
    char date[33];
    errm_GetDateTime(date, sizeof date);
    // One line, one write: a reader of the file never sees half a header.
    char line[64];
    std::snprintf(line, sizeof line, "START report: %s\n", date);
    int rc = errm_FM_Puts(handle, line);
    return handle == -1 || rc == 0 ? 1 : 0;
}

// ----------------------------------------------------------- client streams

int errm_SetClientStream(int id, const char *fmName, std::FILE *stream) {
    if (stream == nullptr) return 1;
    int handle = -1;
    if (errm_FM_RecordHandle(fmName, stream, &handle) != 0) {
        // A recorded entry whose name copy failed is given back at once.
        if (handle != -1) errm_FM_FreeHandle(fmName, handle);
        ERRM_REPORT(ERRM_E_OPEN, g_channels.reportFileName);
        return 1;
    }
    errm_Reports[id].handle = handle;
    errm_Reports[id].opened = 1;
    errm_Reports[id].authorised = 1;
    return 0;
}

int errm_ResetClientStream(int id, const char *fmName) {
    errm_ReportChannel &row = errm_Reports[id];
    if (row.handle == -1 || !errm_FM_InUse(row.handle) ||
        errm_FM_FreeHandle(fmName, row.handle) != 1) {
        ERRM_REPORT(ERRM_E_OPEN, g_channels.reportFileName);
        return 1;
    }
    row.handle = -1;
    row.opened = 0;
    row.authorised = 0;
    return 0;
}

// ----------------------------------------------------- set-up and shutdown

void errm_ResetReportChannels() {
    // Files left open by an earlier cycle are closed first, so that the next
    // line does not open the same file a second time.
    errm_CloseReportFiles();
    // Client streams stay registered (handles and FChiFileHandle are kept):
    // a client resets its stream before closing it, in any cycle.
    errm_G.NbrOfReports = 0;
    // The rows before the end row "$".
    for (int i = 0; i < ERRM_CH_COUNT; ++i) {
        errm_ReportChannel &row = errm_Reports[i];
        row.opened = 0;
        row.authorised = (row.id == ERRM_CH_CHI || row.id == ERRM_CH_REPORT_F) ? 0 : 1;
        ++errm_G.NbrOfReports;
    }
}

void errm_CloseReportFiles() {
    for (int i = 0; i < errm_G.NbrOfReports && i < ERRM_CH_COUNT; ++i) {
        errm_ReportChannel &row = errm_Reports[i];
        if (row.opened != 1 || row.mode != 'I') continue;
        if (row.handle != -1) {
            if (errm_FM_Close(row.handle) != 0) {
                char text[16];
                std::snprintf(text, sizeof text, "REP=%3d", i);
                ERRM_REPORT(ERRM_E_CLOSE, text);
            }
            // The file manager may give this handle to another file.
            row.handle = -1;
        }
        row.opened = 0;
    }
}
