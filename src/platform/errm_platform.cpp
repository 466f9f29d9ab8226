// errm_platform.cpp - the POSIX calls of the library and the table that
// lets tests replace them.
//
// Sections: default entries; the table; mapping helpers; small helpers.
#include "platform/errm_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
std::FILE *sysFopen(const char *path, const char *mode) {
    return std::fopen(path, mode);
}
int sysFclose(std::FILE *f) {
    return std::fclose(f);
}
int sysSystem(const char *command) {
    return std::system(command);
}
int sysFcntl(int fd, int command, int arg) {
    return ::fcntl(fd, command, arg);
}

} // namespace

const errm_SysTable errm_SysDefault = {
    sysOpen,           // open
    ::close,           // close
    ::fstat,           // fstat
    ::mmap,            // mmap
    ::munmap,          // munmap
    ::stat,            // stat
    ::unlink,          // unlink
    sysGetpid,         // getpid
    sysTime,           // time
    ::localtime_r,     // localtime_r
    sysFopen,          // fopen
    sysFclose,         // fclose
    sysSystem,         // system
    ::ftruncate,       // ftruncate
    ::pwrite,          // pwrite
    ::pwritev,         // pwritev
    ::write,           // write
    ::posix_fallocate, // posix_fallocate
    ::flock,           // flock
    sysFcntl,          // fcntl
    ::mmap,            // mmapShared
    ::munmap,          // munmapShared
    ::madvise,         // madvise
};

errm_SysTable errm_Sys = errm_SysDefault;

void errm_SysRestore() {
    errm_Sys = errm_SysDefault;
}

// ------------------------------------------------------------------ mapping

int errm_PL_OpenReadOnly(const char *path, errm_MappedFile *file) {
    file->fd = -1;
    file->size = 0;
    file->base = nullptr;
    int fd = errm_Sys.open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    if (errm_Sys.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        errm_Sys.close(fd);
        return 0;
    }
    file->fd = fd;
    file->size = static_cast<std::size_t>(st.st_size);
    return 1;
}

const unsigned char *errm_PL_Map(errm_MappedFile *file) {
    if (file->fd < 0 || file->size == 0) return nullptr;
    void *view = errm_Sys.mmap(nullptr, file->size, PROT_READ, MAP_PRIVATE, file->fd, 0);
    if (view == MAP_FAILED) return nullptr;
    file->base = static_cast<const unsigned char *>(view);
    return file->base;
}

int errm_PL_Release(errm_MappedFile *file) {
    int ok = 1;
    if (file->base != nullptr &&
        errm_Sys.munmap(const_cast<unsigned char *>(file->base), file->size) != 0)
        ok = 0;
    if (file->fd >= 0 && errm_Sys.close(file->fd) != 0) ok = 0;
    file->fd = -1;
    file->size = 0;
    file->base = nullptr;
    return ok;
}

// ------------------------------------------------------------ small helpers

std::uint32_t errm_PL_FileSizeByName(const char *path) {
    errm_MappedFile file;
    if (!errm_PL_OpenReadOnly(path, &file)) return 0;
    std::uint32_t size = static_cast<std::uint32_t>(file.size);
    errm_PL_Release(&file);
    return size;
}

int errm_PL_FileExists(const char *path) {
    struct stat st;
    return errm_Sys.stat(path, &st) == 0 ? 1 : 0;
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

std::FILE *errm_PL_Fopen(const char *path, const char *mode) {
    return errm_Sys.fopen(path, mode);
}

int errm_PL_Fclose(std::FILE *f) {
    return errm_Sys.fclose(f);
}

int errm_PL_System(const char *command) {
    return errm_Sys.system(command);
}

int errm_PL_OnExitAndFork(void (*atExit)(), void (*inChild)()) {
    static int registered = 0;
    if (registered) return 1;
    if (std::atexit(atExit) != 0) return 0;
    if (::pthread_atfork(nullptr, nullptr, inChild) != 0) return 0;
    registered = 1;
    return 1;
}
