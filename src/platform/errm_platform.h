// errm_platform.h - the small POSIX layer under the library.
//
// Every operating-system call of the library goes through errm_Sys, one
// table of function pointers with a default for each entry, so that tests
// can swap an entry (a failing open, mmap, write or fclose) and restore it. The
// helpers below the table are what the rest of the library uses: reading a
// whole file into memory the library owns, file size by name, deletion,
// exclusive creation, process id, local time, date formatting, the fork
// hook.
//
// A file the library reads is opened only when it is a regular file, and
// never with a call that can block: a FIFO, a device or a directory is
// refused as if it were not there.
#ifndef ERRM_PLATFORM_H
#define ERRM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

// The swappable system calls, in the order of the default table.
struct errm_SysTable {
    int (*open)(const char *path, int flags); // open(2), no mode
    int (*close)(int fd);                     // close(2)
    int (*fstat)(int fd, struct stat *st);    // fstat(2)
    void *(*mmap)(void *addr, std::size_t len, int prot, int flags, int fd, off_t off);
    int (*munmap)(void *addr, std::size_t len);     // munmap(2)
    int (*stat)(const char *path, struct stat *st); // stat(2)
    int (*unlink)(const char *path);                // unlink(2)
    pid_t (*getpid)();                              // getpid(2)
    std::time_t (*time)(std::time_t *t);            // time(2)
    struct tm *(*localtime_r)(const std::time_t *t, struct tm *out);
    std::FILE *(*fopen)(const char *path, const char *mode); // fopen(3)
    int (*fclose)(std::FILE *f);                             // fclose(3)
    int (*system)(const char *command);                      // system(3)
    ssize_t (*read)(int fd, void *buf, std::size_t n);       // read(2)
    int (*create)(const char *path, int flags, mode_t mode); // open(2) with a mode
    std::size_t (*strftime)(char *buf, std::size_t size, const char *format,
                            const struct tm *t); // strftime(3)
    // The report file writer's calls (errm_filewriter.cpp).
    int (*ftruncate)(int fd, off_t length);                   // ftruncate(2)
    ssize_t (*write)(int fd, const void *buf, std::size_t n); // write(2)
    int (*flock)(int fd, int operation);                      // flock(2)
    // Advice on the pages of a descriptor copy (errm_PL_AllocateCopy).
    int (*madvise)(void *addr, std::size_t len, int advice); // madvise(2)
    // The record writer's clock and names (errm_records.cpp).
    int (*clock_gettime)(clockid_t clock, struct timespec *ts); // clock_gettime(2)
    int (*gethostname)(char *name, std::size_t len);            // gethostname(2)
    pid_t (*gettid)();                                          // gettid(2)
};

extern errm_SysTable errm_Sys;              // current entries
extern const errm_SysTable errm_SysDefault; // the real calls

// Restores every entry of errm_Sys to its default.
void errm_SysRestore();

// A file opened for reading and the library's in-memory copy of it.
struct errm_FileCopy {
    int fd;                    // open descriptor, -1 when none
    std::size_t size;          // file size in bytes
    const unsigned char *base; // start of the copy, null when none
};

// Opens an existing regular file for reading, without blocking, and records
// its size. Returns 1 when open (fd and size set), 0 otherwise (also for a
// FIFO, a device or a directory).
int errm_PL_OpenReadOnly(const char *path, errm_FileCopy *file);

// Obtains zeroed, writable memory for a copy of size bytes of a file. The
// copy starts on a page boundary (on a huge-page boundary when it is that
// large), as the file's bytes do in the page cache: the kernel copies a read
// between equally aligned addresses several times faster. Returns the address
// of the first byte, or null (nothing for size 0).
unsigned char *errm_PL_AllocateCopy(std::size_t size);

// Reads exactly n bytes from fd into buf (interrupted and partial reads are
// resumed). 1 when all n bytes were read, 0 on an error or an early end.
int errm_PL_ReadExactly(int fd, unsigned char *buf, std::size_t n);

// Gives back a copy obtained by errm_PL_AllocateCopy (when base is not null)
// and closes the descriptor (when open). Returns 1 when both succeeded. The
// record is reset either way.
int errm_PL_Release(errm_FileCopy *file);

// Size of a regular file in bytes (low 32 bits); 0 when it cannot be opened.
std::uint32_t errm_PL_FileSizeByName(const char *path);

// 1 when the path names a regular file (a FIFO, a device or a directory
// counts as absent).
int errm_PL_FileExists(const char *path);

// Creates a new file readable and writable by its owner only, never through
// an existing name or a symbolic link. 1 when created (and closed).
int errm_PL_CreateExclusive(const char *path);

// Deletes a file; 1 when deleted.
int errm_PL_DeleteFile(const char *path);

int errm_PL_ProcessId();

// Current local time; returns 1 when known.
int errm_PL_LocalTime(struct tm *out);

// The current local time in the 24-character asctime layout followed by a
// line feed ("Thu Jan  8 10:20:30 2007\n") into buf (at least 26 bytes).
// Returns 1 when written.
int errm_PL_AscTime(char *buf, std::size_t size);

// Formats a time with strftime; 0 (buf then empty) when the text does not
// fit the buffer.
std::size_t errm_PL_FormatTime(char *buf, std::size_t size, const char *format, const struct tm *t);

// fopen(3). A read mode opens regular files only and never blocks. An
// append mode ("a", "ab") opens write-only with O_APPEND and O_NONBLOCK, the
// file created readable and writable by all but the umask: a FIFO without a
// reader is refused (ENXIO), and no later write to a FIFO or device waits.
std::FILE *errm_PL_Fopen(const char *path, const char *mode);
int errm_PL_Fclose(std::FILE *f);
int errm_PL_System(const char *command);

// When fd's regular file is the file of standard output (or else standard
// error), makes fd a copy of that descriptor, so that the two write at one
// offset and never over each other. Returns 1 when fd was made a copy.
int errm_PL_JoinStandardStream(int fd);

// write(2) through the table with SIGPIPE held back in the calling thread:
// a pipe whose reader is gone gives -1 with EPIPE, and the process lives on.
// A SIGPIPE pending before the call stays pending.
ssize_t errm_PL_WriteNoSigpipe(int fd, const void *buf, std::size_t n);

// Writes n bytes through the table (with SIGPIPE held back when noSigpipe
// is 1), resuming after a partial write or an interruption. Returns the
// bytes written: n, or fewer when a write failed or wrote nothing.
std::size_t errm_PL_WriteAll(int fd, const void *data, std::size_t n, int noSigpipe);

// Registers a function run in the child after fork(), once per process for
// each function (four at most). Returns 1 when it is registered.
int errm_PL_OnFork(void (*inChild)());

#endif
