// errm_filewriter.h - the writer under the library's own report files, the
// transcript and the trace: each line appended with one write(2) on an
// O_APPEND descriptor before the call that wrote it returns.
//
// The file manager owns the descriptor, the names and the decision of who
// writes which file; this writer owns the lock, the emptying of a file
// opened with 'w', and the writing of each line.
#ifndef ERRM_FILEWRITER_H
#define ERRM_FILEWRITER_H

#include <cstddef>
#include <sys/types.h>

enum class errm_WriterKind : int {
    none,   // no writer: a read or recorded stream, or a file given up
    file,   // regular file, locked by this process, appended to
    stream, // FIFO, socket or device: written without ever blocking
};

struct errm_FileWriter {
    errm_WriterKind kind; // how lines reach the file
    int fd;               // the descriptor (owned by the file manager's stream)
    unsigned generation;  // fork generation of the process that attached
    int pipe;             // 1: a FIFO or socket (a reader may go away)
    int locked;           // 1: this writer's descriptor holds the file's lock
    int lost;             // 1 once a line could not be written
    dev_t dev;            // the file's device and inode, to tell when two
    ino_t ino;            //   names of this process are one file
};

// Results of errm_FW_Attach.
inline constexpr int ERRM_FW_READY = 1; // the writer is ready
inline constexpr int ERRM_FW_HELD = 0;  // another open file holds the lock
inline constexpr int ERRM_FW_FAILED = -1;

// Takes a descriptor opened for appending. A regular file is locked (never
// waiting) and emptied when truncate is 1; shared is 1 when this process
// already writes the same file through another entry: no lock is taken and
// nothing is emptied.
int errm_FW_Attach(errm_FileWriter *w, int fd, int truncate, int shared);

// 1 when the writer writes the file of device dev, inode ino.
int errm_FW_SameFile(const errm_FileWriter *w, dev_t dev, ino_t ino);

// Takes the lock for a writer attached as shared, once the writer that held
// it has closed. Never waits.
void errm_FW_Relock(errm_FileWriter *w);

// Appends n bytes with one write(2) (more only when the kernel takes part
// of them). 1 written, 0 lost: nothing of the bytes stays in a regular file,
// and the lost flag is set. A later append is tried again.
int errm_FW_Append(errm_FileWriter *w, const char *data, std::size_t n);

// Ends the writer. Returns 1 when every byte handed in reached the file.
int errm_FW_Finish(errm_FileWriter *w);

// 1 when the writer was attached before the last fork() of this process,
// that is by the parent: the child must not write through it.
int errm_FW_Inherited(const errm_FileWriter *w);

// Gives up an inherited writer without touching the file.
void errm_FW_Abandon(errm_FileWriter *w);

// Run in the child after fork(): only counts the fork (async-signal-safe).
void errm_FW_OnFork();

#endif
