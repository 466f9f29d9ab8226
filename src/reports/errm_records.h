// errm_records.h - JSON records: one line of JSON for every message, user
// message, direct message, repetition notice and "not present" line that
// the library writes on at least one channel, in the file that json= of
// ERRM_OPTIONS names.
//
// The writers call in three steps while the API lock is held: a Begin call
// when a message is about to be written (it takes the message's arguments),
// errm_RecordChannel for each channel that received it, and
// errm_RecordEmit once the channels are done, which writes the record. Every
// hook is guarded by `if (errm_Rec.on)`: with records off the message path
// pays one test of that flag and nothing else.
#ifndef ERRM_RECORDS_H
#define ERRM_RECORDS_H

#include <cstdarg>
#include <cstddef>

// The longest record line, its line feed included.
inline constexpr std::size_t ERRM_RECORD_MAX = 65536;

// The part of the record state that the hooks test; the rest is private to
// errm_records.cpp.
struct errm_RecordSwitch {
    int on; // 1 while records are written (json= given, file usable)
};
extern errm_RecordSwitch errm_Rec;

// ERRM_Init's step: turns records on when errm_Opt says so (the file is
// opened at the first record) and closes a file left open.
void errm_RecordsStart();

// ERRM_FInit's step: closes the record file and turns records off.
void errm_RecordsStop();

// A descriptor message of the current entry is about to be written: its
// format and arguments (read from a copy of args).
void errm_RecordBeginMessage(const char *format, va_list args);

// The "not present" line for (subsystem, number) is about to be written.
void errm_RecordBeginNotPresent(unsigned subsystem, int number);

// A direct message is about to be written; its formatted text is in sLine0.
void errm_RecordBeginDirect(const char *levelVar, const char *format, va_list args);

// The repetition notice text replaced the line on STDOUT or the transcript.
void errm_RecordNotice(const char *notice);

// Channel id received the pending message: written is the write's result
// (0 = done) and counted the repetition gate's answer, for the channels
// that have one (STDOUT and the transcript).
void errm_RecordChannel(int id, int written, int counted);

// Writes the record(s) of the pending message: one for the channels that
// got its line, one for those that got the repetition notice instead.
void errm_RecordEmit();

// A user message: written on the channels of the bits of mask (bit i =
// channel i), line is its text.
void errm_RecordUser(int number, int severity, const char *subsystem, const char *format,
                     const char *line, unsigned mask, va_list args);

#endif
