// errm_writers.cpp - AddReport, AddReportDirect and the pipe lines.
//
// The writers add nothing to a line: each channel receives exactly the text
// handed in. Report files are opened on first use and get their header.
// A channel that fails (its file cannot be opened, a line cannot be
// written) fails the call, but never silences the channels after it.
#include "reports/errm_writers.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "reports/errm_message.h"
#include "reports/errm_records.h"

#include <cstdio>

[[gnu::cold]] int errm_PrintTclLines(int number, int severity, const char *subsystem, const char *line,
                       const char *generic) {
    errm_StdoutPrintf("TCL ERR= %d \n", number);
    errm_StdoutPrintf("TCL ERR= %d \n", severity);
    errm_StdoutPrintf("TCL SS = %s \n", subsystem);
    errm_StdoutPrintf("TCL MSG= %s \n", line);
    errm_StdoutPrintf("TCL GEN= %s \n", generic);
    return 1;
}

namespace {

// A write on a file or a client stream that did not complete. Standard
// output (handle -1) keeps its own rule: its failures are not counted.
bool lostOnFile(int handle, int rc) {
    return handle != -1 && rc != 0;
}

} // namespace

namespace {

// A line on a channel other than a plain report file: standard output and
// the transcript through the repetition gate, the pipe lines, the Chi
// stream. Returns the write's result (-1: nothing written), sets *counted,
// and sets *failed when a file or stream lost the line.
[[gnu::noinline]] int writeOnOther(const errm_MessageEntry *entry, int id, const char *line,
                                   const char *chiLine, int useChi, int *counted, int *failed) {
    const errm_ReportChannel &ch = errm_Reports[id];
    int written = -1;
    switch (id) {
    case ERRM_CH_STDOUT: {
        const char *text = (useChi == 1 && errm_G.NUSKMode != 0) ? chiLine : line;
        written = errm_PrintLimited(text != nullptr ? text : line, -1, counted);
        break;
    }
    case ERRM_CH_PIPE:
        errm_PrintTclLines(entry->number, entry->severity, errm_Ctx.name, line, "");
        break;
    case ERRM_CH_TRANSCRIPT:
        errm_TraceAdd("C_REPORT_TRANSCRIPT\n");
        written = errm_PrintLimited(line, ch.handle, counted);
        if (lostOnFile(ch.handle, written)) *failed = 1;
        break;
    case ERRM_CH_CHI:
        if (chiLine != nullptr && errm_FChiFileHandle == 1 && errm_IsChiSeverity() &&
            lostOnFile(ch.handle, written = errm_FM_Puts(ch.handle, chiLine)))
            *failed = 1;
        break;
    default: // REPORT_F, a client stream
        written = errm_FM_Puts(ch.handle, line);
        if (lostOnFile(ch.handle, written)) *failed = 1;
        break;
    }
    return written;
}

// The report files written as they are: DBG_I, DBG_C, REPORT and LOG.
constexpr unsigned kPlainFiles =
    1u << ERRM_CH_DBG_I | 1u << ERRM_CH_DBG_C | 1u << ERRM_CH_REPORT | 1u << ERRM_CH_LOG;

// The usual message: every channel of its list a report file that is open
// (or not authorised). Each authorised one then takes the line with one
// append, and nothing else of the channel walk applies: no file to open, no
// repetition gate, no display counter (files never count). Returns the walk's
// result, or -1 with nothing written when a channel is of another kind or
// still to be opened.
[[gnu::always_inline]] inline int putOnOpenFiles(const errm_MessageEntry *entry, const char *line,
                                                 std::size_t length, int count) {
    for (int i = 0; i < count; ++i) {
        const int id = entry->reports[i];
        if (!errm_IsChannelId(id)) continue;
        if ((kPlainFiles >> id & 1u) == 0) return -1;
        const errm_ReportChannel &ch = errm_Reports[id];
        if (ch.authorised == 1 && ch.opened == 0) return -1;
    }
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const int id = entry->reports[i];
        if (!errm_IsChannelId(id)) continue;
        const errm_ReportChannel &ch = errm_Reports[id];
        if (ch.authorised != 1) continue;
        if (lostOnFile(ch.handle, errm_FM_PutLine(ch.handle, line, length))) failed = 1;
    }
    return failed ? 0 : 1;
}

// The channel walk for every other message.
[[gnu::noinline]] int addReportEach(errm_MessageEntry *entry, const char *line,
                                    const char *chiLine, int useChi, int fUpdate,
                                    std::size_t length, int count) {
    const bool records = errm_Rec.on != 0;
    int countedMark = 0;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const int id = entry->reports[i];
        // Ids outside the table (ERRM_CH_NONE among them) name no channel.
        if (!errm_IsChannelId(id)) continue;
        errm_ReportChannel &ch = errm_Reports[id];
        if (errm_IsReportFile(id) && ch.authorised == 1 && ch.opened == 0) [[unlikely]] {
            if (!errm_OpenReportFile(id)) {
                failed = 1;
                continue;
            }
            if (!errm_WriteReportHeader(ch.handle)) failed = 1;
        }
        if (ch.authorised != 1) continue;
        int counted = 0;
        int written;
        if ((kPlainFiles >> id & 1u) != 0) [[likely]] {
            written = length != ERRM_LENGTH_UNKNOWN ? errm_FM_PutLine(ch.handle, line, length)
                                                    : errm_FM_Puts(ch.handle, line);
            if (lostOnFile(ch.handle, written)) failed = 1;
        } else {
            written = writeOnOther(entry, id, line, chiLine, useChi, &counted, &failed);
        }
        if (written == 0 && counted == 1) countedMark = 1;
        if (records) [[unlikely]] errm_RecordChannel(id, written, counted);
    }
    if (records && fUpdate == 1) errm_RecordEmit();
    // The counter follows the lines that were shown, failed channels or not.
    if (fUpdate == 1) {
        // Written only when it moves: a message on files alone leaves the
        // counter's cache line alone.
        if (countedMark != 0) *entry->counter += 1;
        return failed ? 0 : 1;
    }
    errm_TraceAdd("FUpdate=errm_false\n");
    return failed ? 0 : 1;
}

} // namespace

[[gnu::hot]] int AddReport(const char *line, const char *chiLine, int useChi, int fUpdate,
                           std::size_t length) {
    errm_MessageEntry *entry = errm_CurrentEntry();
    if (entry == nullptr) return 1; // no message processed yet: no channels
    const int count = entry->reportCount < static_cast<int>(ERRM_DESC_REPORTS_MAX)
                          ? entry->reportCount
                          : static_cast<int>(ERRM_DESC_REPORTS_MAX);
    // With records on, or for a line of unknown length (a "see" line, a
    // follow-up's lines), the walk does it all.
    if (fUpdate == 1 && errm_Rec.on == 0 && length != ERRM_LENGTH_UNKNOWN) {
        const int rc = putOnOpenFiles(entry, line, length, count);
        if (rc >= 0) return rc;
    }
    return addReportEach(entry, line, chiLine, useChi, fUpdate, length, count);
}

int AddReportDirect(const char *letters, int severity, const char *line) {
    if (letters[0] == '\0') {
        ERRM_REPORT(ERRM_E_REPORTS, "AddReportDirect");
        return 1;
    }
    int failures = 0;
    for (const char *p = letters; *p != '\0'; ++p) {
        if (*p == 'X') continue;
        int id = errm_ReportLetterToId(errm_ReportLetters, static_cast<unsigned char>(*p));
        if (!errm_IsChannelId(id)) {
            ERRM_REPORT(ERRM_E_REPORTS, "AddReportDirect");
            ++failures;
            continue;
        }
        errm_ReportChannel &ch = errm_Reports[id];
        if (errm_IsReportFile(id) && ch.authorised == 1 && ch.opened == 0) {
            if (!errm_OpenReportFile(id)) {
                char text[32];
                std::snprintf(text, sizeof text, "opening report : %d", id);
                ERRM_REPORT(ERRM_E_OPEN, text);
                ++failures;
            }
            // Deliberate: after a failed open the handle is -1, so the START
            // header and the line below go to standard output, as the
            // contract of direct lines wants.
            if (!errm_WriteReportHeader(ch.handle)) ++failures;
        }
        if (ch.authorised != 1) continue;
        int rc = 0;
        switch (id) {
        case ERRM_CH_PIPE: errm_PrintTclLines(-1, severity, "DIRECT", line, ""); break;
        case ERRM_CH_TRANSCRIPT:
            errm_TraceAdd("C_REPORT_TRANSCRIPT\n");
            rc = errm_FM_Puts(ch.handle, line);
            break;
        case ERRM_CH_CHI:
            // A direct message writes its own line on a client CHI stream.
            if (errm_FChiFileHandle == 1) rc = errm_FM_Puts(ch.handle, line);
            break;
        default: rc = errm_FM_Puts(ch.handle, line); break;
        }
        if (lostOnFile(ch.handle, rc)) ++failures;
        if (errm_Rec.on && (id != ERRM_CH_CHI || errm_FChiFileHandle == 1))
            errm_RecordChannel(id, rc, 1);
    }
    if (errm_Rec.on) errm_RecordEmit();
    return failures > 0 ? 0 : 1;
}
