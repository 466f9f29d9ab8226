// errm_platform.cpp - the POSIX calls of the library and the table that
// lets tests replace them.
//
// Sections: default entries; the table; whole files; small helpers.
#include "platform/errm_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// open(2) is variadic; the table holds a fixed two-argument form.
int sysOpen(const char *path, int flags) {
    return ::open(path, flags);
}
pid_t sysGetpid() {
    return ::getpid();
}
std::time_t sysTime(std::time_t *t) {
    return std::time(t);
}
// Opens a regular file for reading without blocking: a FIFO without a
// writer, a device or a directory would block or mislead a plain open. The
// type is checked on the open descriptor, so a name swapped between a test
// and the open cannot slip through. -1 (errno set) when refused.
int openRegularForReading(const char *path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

// Opens for appending, never blocking (see errm_PL_Fopen). -1 when refused.
int openForAppending(const char *path) {
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
}

// A stream on fd (null when fd is not open, fd closed when it fails).
std::FILE *streamOn(int fd, const char *mode) {
    if (fd < 0) return nullptr;
    std::FILE *stream = ::fdopen(fd, mode);
    if (stream == nullptr) ::close(fd);
    return stream;
}

// A read mode opens regular files only (see openRegularForReading); an
// append mode never blocks (see openForAppending).
std::FILE *sysFopen(const char *path, const char *mode) {
    if (mode[0] == 'a') return streamOn(openForAppending(path), mode);
    if (mode[0] != 'r') return std::fopen(path, mode);
    // O_NONBLOCK has no effect on a regular file; the stream reads as usual.
    return streamOn(openRegularForReading(path), mode);
}
int sysFclose(std::FILE *f) {
    return std::fclose(f);
}
int sysSystem(const char *command) {
    return std::system(command);
}
int sysCreate(const char *path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
std::size_t sysStrftime(char *buf, std::size_t size, const char *format, const struct tm *t) {
    return std::strftime(buf, size, format, t);
}

} // namespace

const errm_SysTable errm_SysDefault = {
    sysOpen,       // open
    ::close,       // close
    ::fstat,       // fstat
    ::mmap,        // mmap
    ::munmap,      // munmap
    ::stat,        // stat
    ::unlink,      // unlink
    sysGetpid,     // getpid
    sysTime,       // time
    ::localtime_r, // localtime_r
    sysFopen,      // fopen
    sysFclose,     // fclose
    sysSystem,     // system
    ::read,        // read
    sysCreate,     // create
    sysStrftime,   // strftime
    ::ftruncate,   // ftruncate
    ::write,       // write
    ::flock,       // flock
    ::madvise,     // madvise
    ::clock_gettime, // clock_gettime
    ::gethostname,   // gethostname
    ::gettid,        // gettid
};

errm_SysTable errm_Sys = errm_SysDefault;

void errm_SysRestore() {
    errm_Sys = errm_SysDefault;
}

// ------------------------------------------------------------- whole files

int errm_PL_OpenReadOnly(const char *path, errm_FileCopy *file) {
    file->fd = -1;
    file->size = 0;
    file->base = nullptr;
    // The type is looked at before anything is opened, so that no device is
    // ever opened; the open itself cannot block, and the open descriptor is
    // checked again.
    struct stat st;
    if (errm_Sys.stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    int fd = errm_Sys.open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return 0;
    if (errm_Sys.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        errm_Sys.close(fd);
        return 0;
    }
    file->fd = fd;
    file->size = static_cast<std::size_t>(st.st_size);
    return 1;
}

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t pageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// The length of the block that holds a copy of size bytes: whole huge pages
// for a copy of at least one, so that its last piece can be one as well.
std::size_t copyLength(std::size_t size) {
    std::size_t unit = size >= kHugePage ? kHugePage : pageSize();
    return size > SIZE_MAX - unit ? 0 : (size + unit - 1) / unit * unit;
}

} // namespace

unsigned char *errm_PL_AllocateCopy(std::size_t size) {
    std::size_t length = size == 0 ? 0 : copyLength(size);
    if (length == 0) return nullptr;
    // Anonymous pages: their own mapping, given back whole at release, and
    // zeroed pages that cost nothing until the copy fills them. A large copy
    // asks for one huge page more, to start on a huge-page boundary within
    // it; the slack before and after is given back at once.
    std::size_t slack = length >= kHugePage ? kHugePage : 0;
    if (length > SIZE_MAX - slack) return nullptr;
    void *raw = errm_Sys.mmap(nullptr, length + slack, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto *first = static_cast<unsigned char *>(raw);
    unsigned char *block = first;
    if (slack != 0) {
        auto at = reinterpret_cast<std::uintptr_t>(first);
        block = first + ((kHugePage - (at & (kHugePage - 1))) & (kHugePage - 1));
        if (block != first) errm_Sys.munmap(first, static_cast<std::size_t>(block - first));
        std::size_t after = slack - static_cast<std::size_t>(block - first);
        if (after != 0) errm_Sys.munmap(block + length, after);
        // Hint, the copy works without it: backed by huge pages where the
        // system has them.
        errm_Sys.madvise(block, length, MADV_HUGEPAGE);
    }
#ifdef MADV_POPULATE_WRITE
    // Every page present in one call rather than one fault per page while
    // the file is read.
    errm_Sys.madvise(block, length, MADV_POPULATE_WRITE);
#endif
    return block;
}

int errm_PL_ReadExactly(int fd, unsigned char *buf, std::size_t n) {
    while (n > 0) {
        ssize_t got = errm_Sys.read(fd, buf, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return 0;
        buf += got;
        n -= static_cast<std::size_t>(got);
    }
    return 1;
}

int errm_PL_Release(errm_FileCopy *file) {
    int ok = 1;
    if (file->base != nullptr) {
        void *block = const_cast<unsigned char *>(file->base);
        if (errm_Sys.munmap(block, copyLength(file->size)) != 0) ok = 0;
    }
    if (file->fd >= 0 && errm_Sys.close(file->fd) != 0) ok = 0;
    file->fd = -1;
    file->size = 0;
    file->base = nullptr;
    return ok;
}

// ------------------------------------------------------------ small helpers

std::uint32_t errm_PL_FileSizeByName(const char *path) {
    errm_FileCopy file;
    if (!errm_PL_OpenReadOnly(path, &file)) return 0;
    std::uint32_t size = static_cast<std::uint32_t>(file.size);
    errm_PL_Release(&file);
    return size;
}

int errm_PL_FileExists(const char *path) {
    struct stat st;
    return errm_Sys.stat(path, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

int errm_PL_CreateExclusive(const char *path) {
    int fd = errm_Sys.create(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             S_IRUSR | S_IWUSR);
    if (fd < 0) return 0;
    errm_Sys.close(fd);
    return 1;
}

int errm_PL_DeleteFile(const char *path) {
    return errm_Sys.unlink(path) == 0 ? 1 : 0;
}

int errm_PL_ProcessId() {
    return static_cast<int>(errm_Sys.getpid());
}

int errm_PL_LocalTime(struct tm *out) {
    std::time_t now = errm_Sys.time(nullptr);
    if (errm_Sys.localtime_r(&now, out) == nullptr) {
        std::memset(out, 0, sizeof *out);
        out->tm_mday = 1;
        return 0;
    }
    return 1;
}

int errm_PL_AscTime(char *buf, std::size_t size) {
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm t;
    errm_PL_LocalTime(&t);
    // The asctime layout, written here so that an out-of-range field can
    // never overflow the caller's buffer.
    int n = std::snprintf(buf, size, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                          kDays[static_cast<unsigned>(t.tm_wday) % 7],
                          kMonths[static_cast<unsigned>(t.tm_mon) % 12], t.tm_mday, t.tm_hour,
                          t.tm_min, t.tm_sec, 1900 + t.tm_year);
    return n > 0 && static_cast<std::size_t>(n) < size ? 1 : 0;
}

std::size_t errm_PL_FormatTime(char *buf, std::size_t size, const char *format,
                               const struct tm *t) {
    if (size == 0) return 0;
    // The content of buf is unspecified when the text does not fit.
    std::size_t n = errm_Sys.strftime(buf, size, format, t);
    if (n == 0 || n >= size) {
        buf[0] = '\0';
        return 0;
    }
    return n;
}

std::FILE *errm_PL_Fopen(const char *path, const char *mode) {
    return errm_Sys.fopen(path, mode);
}

int errm_PL_Fclose(std::FILE *f) {
    return errm_Sys.fclose(f);
}

int errm_PL_System(const char *command) {
    return errm_Sys.system(command);
}

int errm_PL_JoinStandardStream(int fd) {
    struct stat mine, other;
    if (errm_Sys.fstat(fd, &mine) != 0 || !S_ISREG(mine.st_mode)) return 0;
    for (int standard = 1; standard <= 2; ++standard) {
        if (errm_Sys.fstat(standard, &other) != 0 || other.st_dev != mine.st_dev ||
            other.st_ino != mine.st_ino)
            continue;
        return ::dup3(standard, fd, O_CLOEXEC) == fd ? 1 : 0;
    }
    return 0;
}

[[gnu::cold]] ssize_t errm_PL_WriteNoSigpipe(int fd, const void *buf, std::size_t n) {
    sigset_t pipeOnly, old, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    sigemptyset(&pending);
    ::sigpending(&pending);
    const bool waiting = sigismember(&pending, SIGPIPE) == 1;
    ssize_t done = errm_Sys.write(fd, buf, n);
    const int error = errno;
    // The SIGPIPE this write raised is taken off this thread before the old
    // mask comes back; one pending before the call is left alone.
    if (done < 0 && error == EPIPE && !waiting) {
        const struct timespec none = {0, 0};
        while (::sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return done;
}

int errm_PL_OnFork(void (*inChild)()) {
    // The functions registered so far, each one once.
    static void (*registered[4])() = {};
    for (auto *&slot : registered) {
        if (slot == inChild) return 1;
        if (slot != nullptr) continue;
        if (::pthread_atfork(nullptr, nullptr, inChild) != 0) return 0;
        slot = inChild;
        return 1;
    }
    return 0;
}

[[gnu::hot]] std::size_t errm_PL_WriteAll(int fd, const void *data, std::size_t n, int noSigpipe) {
    const char *at = static_cast<const char *>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t k = noSigpipe == 1 ? errm_PL_WriteNoSigpipe(fd, at + done, n - done)
                                         : errm_Sys.write(fd, at + done, n - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        done += static_cast<std::size_t>(k);
    }
    return done;
}
