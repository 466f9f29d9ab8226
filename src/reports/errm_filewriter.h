// errm_filewriter.h - the writer under the library's own report files, the
// transcript and the trace: lines appended into a shared mapping of the
// file, so that a line survives the death of the process once written.
//
// The file manager owns the descriptor and the lock decision; this writer
// owns the mapping, the reserve ahead of the text and the trim at the end.
#ifndef ERRM_FILEWRITER_H
#define ERRM_FILEWRITER_H

#include <cstddef>
#include <sys/types.h>

enum class errm_WriterKind : int {
    none,   // no writer: a read or recorded stream, or a file given up
    mapped, // appended into a shared mapping, reserve kept ahead
    direct, // regular file, one pwrite(2) per call (flush-always files)
    stream, // pipe, device, socket: one write(2) per call
};

struct errm_FileWriter {
    errm_WriterKind kind; // how lines reach the file
    int fd;               // the descriptor (owned by the file manager's stream)
    unsigned generation;  // fork generation of the process that attached
    char *window;         // mapped window, null when none
    off_t windowStart;    // file offset of the window
    off_t length;         // bytes of text written
    off_t reserved;       // file size: text plus the reserve after it
    off_t chunk;          // size of the next reservation
    int lost;             // 1 once a write could not be completed
};

// Results of errm_FW_Attach.
inline constexpr int ERRM_FW_READY = 1; // the writer is ready
inline constexpr int ERRM_FW_HELD = 0;  // another open file holds the lock
inline constexpr int ERRM_FW_FAILED = -1;

// Takes an open read-write descriptor: locks a regular file (never
// waiting), empties it when truncate is 1, and chooses the kind.
int errm_FW_Attach(errm_FileWriter *w, int fd, int truncate);

// Appends n bytes; 1 written, 0 lost (the writer's lost flag is then set).
int errm_FW_Append(errm_FileWriter *w, const char *data, std::size_t n);

// Switches a mapped writer to one system call per write: the file holds
// exactly its text from then on, at every moment.
void errm_FW_Direct(errm_FileWriter *w);

// Ends the writer: trims the file to its text and drops the mapping.
// Returns 1 when every byte handed in reached the file and the trim worked.
int errm_FW_Finish(errm_FileWriter *w);

// Normal process exit: trims a mapped file and goes on in direct mode, so
// that a line written later (by another exit handler) still lands.
void errm_FW_AtExit(errm_FileWriter *w);

// 1 when the writer was attached before the last fork() of this process,
// that is by the parent: the child must not write through it.
int errm_FW_Inherited(const errm_FileWriter *w);

// Drops an inherited writer's mapping without touching the file.
void errm_FW_Abandon(errm_FileWriter *w);

// Run in the child after fork(): only counts the fork (async-signal-safe).
void errm_FW_OnFork();

#endif
