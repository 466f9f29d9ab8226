// errm_filewriter.cpp - the crash-safe writer of the library's own files.
//
// Sections: constants and fork generation; reserve and window; appending;
// ending.
//
// How a line reaches the disk. The file is mapped shared, read-write, in
// windows of 16 MiB. Ahead of the text the file holds a reserve: blanks
// ending in one line feed. A line is a memcpy over the reserve, so the
// common case makes no system call. When a line does not fit, the reserve
// grows by a chunk (64 KiB, doubling up to 4 MiB): one pwritev(2) writes the
// new blanks and line feed after the text (turning the old final line feed
// into a blank in the same call), then posix_fallocate(3) makes sure the
// blocks are the file system's, so that a full disk is an error here, never
// a SIGBUS on a later store; one madvise then faults the new pages in
// writable, instead of a page fault every few dozen lines. At close, and at
// normal exit, the file is trimmed to its text.
//
// What is on disk after the process dies at any instruction. The pages of
// a shared mapping belong to the kernel's page cache: every byte stored
// before the death is in the file, whatever kills the process (abort,
// SIGSEGV, SIGTERM, SIGKILL, _exit). At every instruction the file is:
//   the text of every completed append, then
//   at most one partly copied line (death inside a memcpy), then
//   blanks, then at most one line feed (none if death came inside the
//   pwritev that grows the reserve, or when the text fills the file).
// Growing writes the blanks before the file size covers them, and never
// extends the file with zeros, so no NUL byte is ever in the file. A killed
// process thus leaves plain text whose last lines are the last lines
// written, followed by one line of blanks. A power loss is another matter:
// nothing is synced.
//
// What a dying process may still do. Nothing of ours runs on a signal: no
// handler is installed, the default actions stand, and no work is needed,
// since the kernel owns the written pages. The only hooks are normal exit
// (atexit: ftruncate, munmap - no lock, no allocation) and the child after
// fork (one increment of a counter, async-signal-safe).
//
// When a file cannot be mapped (a pipe, a device, a file system refusing
// shared mappings), each append is one write(2) or pwrite(2), unbuffered.
#include "reports/errm_filewriter.h"
#include "platform/errm_platform.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace {

constexpr off_t kWindow = off_t{16} << 20;     // bytes mapped at once
constexpr off_t kFirstChunk = off_t{64} << 10; // first reservation
constexpr off_t kMaxChunk = off_t{4} << 20;    // reservations stop doubling here
constexpr std::size_t kBlankRun = 4096;        // blanks per iovec entry
constexpr int kIovMax = 256;                   // iovec entries per pwritev
static_assert(kWindow % kMaxChunk == 0, "chunks tile the window");
static_assert(kIovMax <= IOV_MAX, "pwritev accepts the vector");

constexpr std::array<char, kBlankRun> kBlanks = [] {
    std::array<char, kBlankRun> a{};
    for (char &c : a)
        c = ' ';
    return a;
}();

// Forks seen by this process; a writer attached under an older count was
// attached by the parent.
volatile unsigned g_forkGeneration = 0;

// ------------------------------------------------------- reserve and window

// Writes blanks over [from, end), the last byte a line feed, at those
// offsets. Returns 1 when every byte was written.
int writeBlanks(int fd, off_t from, off_t end) {
    static const char kLineFeed = '\n';
    while (from < end) {
        std::array<struct iovec, kIovMax> iov;
        int count = 0;
        off_t pos = from;
        while (pos < end && count < kIovMax) {
            off_t left = end - pos;
            if (left == 1) {
                iov[static_cast<std::size_t>(count++)] = {const_cast<char *>(&kLineFeed), 1};
                ++pos;
                break;
            }
            // Leave the final byte to the line feed.
            std::size_t n = static_cast<std::size_t>(left - 1) < kBlankRun
                                ? static_cast<std::size_t>(left - 1)
                                : kBlankRun;
            iov[static_cast<std::size_t>(count++)] = {const_cast<char *>(kBlanks.data()), n};
            pos += static_cast<off_t>(n);
        }
        ssize_t done = errm_Sys.pwritev(fd, iov.data(), count, from);
        if (done <= 0) return 0;
        from += done; // a short write goes on from where it stopped
    }
    return 1;
}

// Faults in, writable, the pages of [from, to) that the window holds: one
// call instead of a page fault every few dozen lines. Advice only: a kernel
// without it leaves the faults to the copies.
void populate(errm_FileWriter *w, off_t from, off_t to) {
#ifdef MADV_POPULATE_WRITE
    if (w->window == nullptr) return;
    off_t end = w->windowStart + kWindow;
    from = from < w->windowStart ? w->windowStart : from - from % 4096;
    to = to > end ? end : to;
    if (from < to)
        errm_Sys.madvise(w->window + (from - w->windowStart), static_cast<std::size_t>(to - from),
                         MADV_POPULATE_WRITE);
#else
    (void)w;
    (void)from;
    (void)to;
#endif
}

// Puts back the file as it was before a failed reservation: the old size,
// and the old final line feed when it was the reserve's.
void undoReserve(errm_FileWriter *w) {
    errm_Sys.ftruncate(w->fd, w->reserved);
    if (w->length < w->reserved) errm_Sys.pwrite(w->fd, "\n", 1, w->reserved - 1);
}

// Grows the reserve until the file holds at least need bytes.
int reserve(errm_FileWriter *w, off_t need) {
    off_t end = w->reserved;
    while (end < need) {
        end += w->chunk;
        if (w->chunk < kMaxChunk) w->chunk *= 2;
    }
    // The old final line feed, when still part of the reserve, becomes a
    // blank in the same write that extends the file.
    off_t from = w->length < w->reserved ? w->reserved - 1 : w->reserved;
    if (!writeBlanks(w->fd, from, end)) {
        undoReserve(w);
        return 0;
    }
    int rc = errm_Sys.posix_fallocate(w->fd, w->reserved, end - w->reserved);
    // A file system that cannot preallocate has allocated by the write.
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL && rc != ENOSYS && rc != ENODEV) {
        undoReserve(w);
        return 0;
    }
    populate(w, w->reserved, end);
    w->reserved = end;
    return 1;
}

void unmapWindow(errm_FileWriter *w) {
    if (w->window != nullptr) errm_Sys.munmapShared(w->window, static_cast<std::size_t>(kWindow));
    w->window = nullptr;
}

// Maps the window that holds offset pos; 1 when mapped.
int mapWindow(errm_FileWriter *w, off_t pos) {
    if (w->window != nullptr && pos >= w->windowStart && pos < w->windowStart + kWindow) return 1;
    unmapWindow(w);
    off_t start = pos - pos % kWindow;
    void *view = errm_Sys.mmapShared(nullptr, static_cast<std::size_t>(kWindow),
                                     PROT_READ | PROT_WRITE, MAP_SHARED, w->fd, start);
    if (view == MAP_FAILED) return 0;
    w->window = static_cast<char *>(view);
    w->windowStart = start;
    populate(w, pos, w->reserved);
    return 1;
}

// From mapped to direct: the file is cut to its text, the mapping dropped.
void toDirect(errm_FileWriter *w) {
    unmapWindow(w);
    if (errm_Sys.ftruncate(w->fd, w->length) == 0) w->reserved = w->length;
    w->kind = errm_WriterKind::direct;
}

// One write per call; a regular file is written at the text's end.
int appendUnbuffered(errm_FileWriter *w, const char *data, std::size_t n) {
    while (n > 0) {
        ssize_t done = w->kind == errm_WriterKind::stream
                           ? errm_Sys.write(w->fd, data, n)
                           : errm_Sys.pwrite(w->fd, data, n, w->length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            w->lost = 1;
            return 0;
        }
        data += done;
        n -= static_cast<std::size_t>(done);
        if (w->kind == errm_WriterKind::direct) w->length += done;
    }
    return 1;
}

} // namespace

// ---------------------------------------------------------------- attaching

int errm_FW_Attach(errm_FileWriter *w, int fd, int truncate) {
    *w = errm_FileWriter{errm_WriterKind::none, fd, g_forkGeneration, nullptr, 0, 0, 0,
                         kFirstChunk,           0};
    struct stat st;
    if (errm_Sys.fstat(fd, &st) != 0) return ERRM_FW_FAILED;
    if (!S_ISREG(st.st_mode)) {
        w->kind = errm_WriterKind::stream;
        return ERRM_FW_READY;
    }
    // One owner per file. A file system without locks lets every opener in.
    if (errm_Sys.flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return ERRM_FW_HELD;
    // Writes go at explicit offsets: an append-mode descriptor would move them.
    int flags = errm_Sys.fcntl(fd, F_GETFL, 0);
    if (flags < 0 || errm_Sys.fcntl(fd, F_SETFL, flags & ~O_APPEND) != 0) return ERRM_FW_FAILED;
    if (truncate == 1) {
        if (errm_Sys.ftruncate(fd, 0) != 0) return ERRM_FW_FAILED;
        st.st_size = 0;
    }
    w->length = st.st_size;
    w->reserved = st.st_size;
    w->kind = errm_WriterKind::mapped;
    return ERRM_FW_READY;
}

// ---------------------------------------------------------------- appending

int errm_FW_Append(errm_FileWriter *w, const char *data, std::size_t n) {
    // The common case: the line fits in the reserve and in the window.
    if (w->kind == errm_WriterKind::mapped && w->window != nullptr) {
        const off_t end = w->length + static_cast<off_t>(n);
        if (end <= w->reserved && w->length >= w->windowStart && end <= w->windowStart + kWindow) {
            std::memcpy(w->window + (w->length - w->windowStart), data, n);
            w->length = end;
            return 1;
        }
    }
    if (w->kind == errm_WriterKind::none) {
        w->lost = 1;
        return 0;
    }
    if (w->kind != errm_WriterKind::mapped) return appendUnbuffered(w, data, n);
    off_t need = w->length + static_cast<off_t>(n);
    if (need > w->reserved && !reserve(w, need)) {
        w->lost = 1;
        return 0;
    }
    while (n > 0) {
        if (!mapWindow(w, w->length)) {
            // The file system refuses the mapping: go on unbuffered.
            toDirect(w);
            return appendUnbuffered(w, data, n);
        }
        off_t room = w->windowStart + kWindow - w->length;
        std::size_t k = static_cast<off_t>(n) < room ? n : static_cast<std::size_t>(room);
        std::memcpy(w->window + (w->length - w->windowStart), data, k);
        w->length += static_cast<off_t>(k);
        data += k;
        n -= k;
    }
    return 1;
}

void errm_FW_Direct(errm_FileWriter *w) {
    if (w->kind == errm_WriterKind::mapped) toDirect(w);
}

// ------------------------------------------------------------------- ending

int errm_FW_Finish(errm_FileWriter *w) {
    int complete = w->lost == 0 ? 1 : 0;
    if (w->kind == errm_WriterKind::mapped) {
        unmapWindow(w);
        if (errm_Sys.ftruncate(w->fd, w->length) != 0) complete = 0;
    }
    w->kind = errm_WriterKind::none;
    return complete;
}

void errm_FW_AtExit(errm_FileWriter *w) {
    if (w->kind == errm_WriterKind::mapped && !errm_FW_Inherited(w)) toDirect(w);
}

int errm_FW_Inherited(const errm_FileWriter *w) {
    return w->kind != errm_WriterKind::none && w->generation != g_forkGeneration ? 1 : 0;
}

void errm_FW_Abandon(errm_FileWriter *w) {
    unmapWindow(w);
    w->kind = errm_WriterKind::none;
}

void errm_FW_OnFork() {
    g_forkGeneration = g_forkGeneration + 1;
}
