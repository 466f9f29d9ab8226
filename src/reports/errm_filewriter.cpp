// errm_filewriter.cpp - the crash-safe writer of the library's own files.
//
// Sections: fork generation; attaching; appending; ending.
//
// How a line reaches the file. The descriptor is opened with O_APPEND (and
// O_NONBLOCK, see below). Each line the file manager hands in is one
// write(2), made before the call that wrote the line returns; the kernel
// puts it at the file's end as it is at that moment. Nothing is buffered in
// the process and nothing is written ahead of the text: the file's size is
// its text at every moment, so `tail -f`, a log collector
// that reads past its last offset, `less +F` and a copy made while the run
// goes on all see whole lines only, as soon as they are written.
//
// What is on disk after the process dies at any instruction. A write(2)
// that has returned has handed its bytes to the kernel; they are the file's
// whatever happens to the process afterwards (abort, SIGSEGV, SIGTERM,
// SIGKILL, _exit). At every instruction the file is:
//   every line of every append that returned, in order, then
//   at most the first part of one line, when death came inside the one
//   write(2) that was writing it (a regular file takes a write whole in
//   practice; a partial write happens at a full disk or a size limit, and is
//   then cut back below).
// No blank and no NUL byte follows the text. A power loss is
// another matter: nothing is synced.
//
// What a dying process may still do. Nothing: no signal handler is
// installed, no exit hook runs, the default actions stand. No work is
// needed, since nothing of the text is held in the process. The one hook is
// in the child after fork (one increment of a counter, async-signal-safe).
//
// Files changed from outside. O_APPEND puts each line at the end the file
// has when it is written: after a truncation (`: > run.log`, logrotate's
// copytruncate) the next line starts the file again, with no hole of NULs;
// a file renamed away keeps receiving lines through the open descriptor.
//
// Write failures. A write that fails (no space, quota, EFBIG beyond a size
// limit with SIGXFSZ ignored, EIO, a full pipe) loses that line: the part a
// short write put in a regular file is cut off again, so that the file never
// holds a partial line. The next append is tried as usual, so lines are
// written again as soon as the file takes them.
//
// FIFOs and devices never block. The file manager opens every file for
// writing with O_NONBLOCK: a FIFO without a reader cannot be opened, and a
// FIFO whose reader stops reading loses the lines it has no room for. A
// reader that goes away gives EPIPE, never SIGPIPE (the write holds the
// signal back).
#include "reports/errm_filewriter.h"
#include "platform/errm_platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

// Forks seen by this process; a writer attached under an older count was
// attached by the parent.
volatile unsigned g_forkGeneration = 0;

// Cuts off the part of a line that a short write left at the file's end.
// With O_APPEND the line started done bytes before the current end, as long
// as nobody else wrote meanwhile (the lock makes this process the only
// writer of the file).
[[gnu::cold]] void cutPartialLine(const errm_FileWriter *w, std::size_t done) {
    struct stat st;
    if (errm_Sys.fstat(w->fd, &st) != 0 || st.st_size < static_cast<off_t>(done)) return;
    errm_Sys.ftruncate(w->fd, st.st_size - static_cast<off_t>(done));
}

} // namespace

// ---------------------------------------------------------------- attaching

int errm_FW_Attach(errm_FileWriter *w, int fd, int truncate, int shared) {
    *w = errm_FileWriter{errm_WriterKind::none, fd, g_forkGeneration, 0, 0, 0, 0, 0};
    struct stat st;
    if (errm_Sys.fstat(fd, &st) != 0) return ERRM_FW_FAILED;
    w->dev = st.st_dev;
    w->ino = st.st_ino;
    if (!S_ISREG(st.st_mode)) {
        w->kind = errm_WriterKind::stream;
        w->pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ? 1 : 0;
        return ERRM_FW_READY;
    }
    if (shared == 0) {
        // One owner per file. A file system without locks lets every opener in.
        if (errm_Sys.flock(fd, LOCK_EX | LOCK_NB) == 0)
            w->locked = 1;
        else if (errno == EWOULDBLOCK)
            return ERRM_FW_HELD;
        if (truncate == 1 && errm_Sys.ftruncate(fd, 0) != 0) return ERRM_FW_FAILED;
    }
    w->kind = errm_WriterKind::file;
    return ERRM_FW_READY;
}

int errm_FW_SameFile(const errm_FileWriter *w, dev_t dev, ino_t ino) {
    return w->kind != errm_WriterKind::none && w->dev == dev && w->ino == ino ? 1 : 0;
}

void errm_FW_Relock(errm_FileWriter *w) {
    if (w->kind == errm_WriterKind::file && w->locked == 0 &&
        errm_Sys.flock(w->fd, LOCK_EX | LOCK_NB) == 0)
        w->locked = 1;
}

// ---------------------------------------------------------------- appending

namespace {

// The rest of an append whose first write(2) did not take the whole line
// (first: its result): resumed after a short write or EINTR; a line still
// not whole is cut off a regular file again.
[[gnu::cold]] int appendRest(errm_FileWriter *w, const char *data, std::size_t n, ssize_t first) {
    std::size_t done = first > 0 ? static_cast<std::size_t>(first) : 0;
    if (first > 0 || (first < 0 && errno == EINTR))
        done += errm_PL_WriteAll(w->fd, data + done, n - done, w->pipe);
    if (done == n) return 1;
    if (done > 0 && w->kind == errm_WriterKind::file) cutPartialLine(w, done);
    w->lost = 1;
    return 0;
}

} // namespace

[[gnu::hot]] int errm_FW_Append(errm_FileWriter *w, const char *data, std::size_t n) {
    if (w->kind == errm_WriterKind::none) {
        w->lost = 1;
        return 0;
    }
    if (n == 0) return 1;
    // A file or a device takes the whole line with one write(2); a pipe's
    // writes hold SIGPIPE back.
    const ssize_t first = w->pipe == 1 ? errm_PL_WriteNoSigpipe(w->fd, data, n)
                                       : errm_Sys.write(w->fd, data, n);
    if (first == static_cast<ssize_t>(n)) [[likely]]
        return 1;
    return appendRest(w, data, n, first);
}

// ------------------------------------------------------------------- ending

int errm_FW_Finish(errm_FileWriter *w) {
    int complete = w->lost == 0 ? 1 : 0;
    w->kind = errm_WriterKind::none;
    return complete;
}

int errm_FW_Inherited(const errm_FileWriter *w) {
    return w->kind != errm_WriterKind::none && w->generation != g_forkGeneration ? 1 : 0;
}

void errm_FW_Abandon(errm_FileWriter *w) {
    w->kind = errm_WriterKind::none;
}

void errm_FW_OnFork() {
    g_forkGeneration = g_forkGeneration + 1;
}
