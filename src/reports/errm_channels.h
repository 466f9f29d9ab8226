// errm_channels.h - the report channel table, report letters and bits, the
// library's report files and the client streams of CHI and REPORT_F.
#ifndef ERRM_CHANNELS_H
#define ERRM_CHANNELS_H

#include <cstdio>

// Channel ids, equal to their row in the table.
enum errm_ChannelId : int {
    ERRM_CH_STDOUT = 0,
    ERRM_CH_PIPE = 1,
    ERRM_CH_TRANSCRIPT = 2,
    ERRM_CH_DBG_I = 3,
    ERRM_CH_DBG_C = 4,
    ERRM_CH_REPORT = 5,
    ERRM_CH_CHI = 6,
    ERRM_CH_LOG = 7,
    ERRM_CH_REPORT_F = 8,
};
inline constexpr int ERRM_CH_COUNT = 9; // rows before the end row
inline constexpr int ERRM_CH_NONE = 17; // report list position without a channel

struct errm_ReportChannel {
    const char *name; // channel name, compared exactly
    int id;           // equal to the row index
    int handle;       // file manager handle, -1 when none
    int mode;         // 'I' library-owned file, 'E' not owned
    int opened;       // 1 while its file or stream is open
    int authorised;   // only 1 lets lines through
};

// The table: nine channels, then the end row named "$".
extern errm_ReportChannel errm_Reports[ERRM_CH_COUNT + 1];

// 1 while a client CHI stream is set.
extern int errm_FChiFileHandle;

// A pair of the report letter table.
struct errm_ReportLetter {
    int letter; // letter in the low byte
    int id;     // channel id
};
inline constexpr int ERRM_LETTERS = 10;
extern const errm_ReportLetter errm_ReportLetters[ERRM_LETTERS];

// The bit of a channel id in a user message mask (1 << id), for ids 0..10.
unsigned errm_ChannelBit(int id);

// The channel id of a letter, or 1010 when the letter is not in the table.
int errm_ReportLetterToId(const errm_ReportLetter *table, int letter);

// 1 when id names a row of the table (0..8).
inline bool errm_IsChannelId(int id) {
    return id >= 0 && id < ERRM_CH_COUNT;
}

// 1 for the library-owned report files (TRANSCRIPT, DBG_I, DBG_C, REPORT, LOG).
inline bool errm_IsReportFile(int id) {
    constexpr unsigned kFiles = 1u << ERRM_CH_TRANSCRIPT | 1u << ERRM_CH_DBG_I |
                                1u << ERRM_CH_DBG_C | 1u << ERRM_CH_REPORT | 1u << ERRM_CH_LOG;
    return static_cast<unsigned>(id) < 32 && (kFiles >> id & 1u) != 0;
}

// Opens the file of a report file channel; 1 opened, 0 failure.
int errm_OpenReportFile(int id);

// The "START report: <date> \n" header of a newly opened report file;
// 1 written (or on standard output), 0 when the file lost it.
int errm_WriteReportHeader(int handle);

// Records a client stream as the CHI or REPORT_F channel and authorises it;
// 0, or 1 when the stream is null or cannot be recorded (reported).
int errm_SetClientStream(int id, const char *fmName, std::FILE *stream);

// Gives back the file manager entry of a client stream channel (the stream
// stays open for its owner); 0, or 1 when the channel holds none (reported).
int errm_ResetClientStream(int id, const char *fmName);

// ERRM_Init's set-up: closes report files still open from an earlier cycle,
// marks every row not open, authorises all but CHI and REPORT_F, and counts
// the rows into NbrOfReports.
void errm_ResetReportChannels();

// ERRM_FInit's step: closes the library-owned files that are open.
void errm_CloseReportFiles();

#endif
