// errm_fm.cpp - the file manager table and its operations.
//
// Sections: table and initialisation; failure lines; files written through
// the crash-safe writer; open, record, free, close; reading; writing; the
// base's sink; finalisation.
//
// Files opened for writing ('w', 'a') are written by errm_filewriter, one
// write(2) per line: their stdio stream only owns the descriptor and is
// never written through. Files opened for reading and streams recorded from
// a client are plain stdio.
//
// Who writes which file. A regular file has one owner among live processes
// (an flock held by the writer); another process writes its own file beside
// it, named with its process id, and says so once. A process that is one
// rank of a parallel launch writes the file named with its rank from the
// first line, without a note. A file this process already writes through
// another entry (two channels given one name) is the same file: written
// through both entries, in call order. A child after fork() never writes
// its parent's files.
#include "reports/errm_fm.h"
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_limits.h"
#include "base/errm_options.h"
#include "base/errm_sink.h"
#include "base/errm_text.h"
#include "platform/errm_platform.h"
#include "reports/errm_filewriter.h"

#include <array>
#include <cstdarg>
#include <cstring>
#include <sys/stat.h>

namespace {

static_assert(ERRM_TAG_FM_NAME + ERRM_FM_ENTRIES <= ERRM_TAG_PATH,
              "one tag per entry, none shared");

// The buffer errm_FM_VPrintf formats a written file's text in.
constexpr std::size_t kPrintfCap = 8192;
static_assert(ERRM_REPORT_LINE_CAP + 64 <= kPrintfCap, "a trace line and its prefix fit");

struct FmEntry {
    int used;               // 1 while the entry holds a stream
    int handle;             // own index while in use, -1 when free
    std::FILE *stream;      // the open stream, null when free
    int flushAlways;        // flush after every successful write (recorded streams)
    int recorded;           // 1: stream opened by somebody else
    char *name;             // heap copy of the name, null when free
    int tag;                // ERRM_TAG_FM_NAME + index, -1 when free
    int told;               // 1 once its write-failure line was printed
    int writing;            // 1: opened for writing, written through the writer
    int gone;               // 1: released by a failed close, failure already told
    errm_FileWriter writer; // the writer of a file opened for writing
};

struct FmState {
    int initialised;                              // table filled
    int traceSwitch;                              // internal debug switch
    int traceFM;                                  // FM trace lines on, copied at init
    std::array<FmEntry, ERRM_FM_ENTRIES> entries; // the table
};

FmState g_fm = {};

void fmInit() {
    g_fm.traceFM = g_fm.traceSwitch;
    for (FmEntry &e : g_fm.entries)
        e = FmEntry{0, -1, nullptr, 0, 0, nullptr, -1, 0, 0, 0, {}};
    g_fm.initialised = 1;
}

int fmFindFreeEntry() {
    if (!g_fm.initialised) fmInit();
    for (int i = 0; i < ERRM_FM_ENTRIES; ++i)
        if (g_fm.entries[static_cast<std::size_t>(i)].used == 0) return i;
    return -1;
}

// Handles compare as unsigned: -1 is never an entry here.
bool outOfRange(int handle) {
    return static_cast<unsigned>(handle) >= ERRM_FM_ENTRIES;
}

FmEntry &entry(int handle) {
    return g_fm.entries[static_cast<std::size_t>(handle)];
}

// Prints the failure line of a code, naming the file: the caller's name for
// handle -1, else the name stored in the entry.
void fmError(int handle, const char *name, int code) {
    const char *format = errm_InternalErrorText(code);
    if (format == nullptr) {
        errm_ConsolePuts("pfmt=null\n");
        return;
    }
    const char *shown = name;
    if (handle != -1 && !outOfRange(handle) && entry(handle).name != nullptr)
        shown = entry(handle).name;
    if (shown == nullptr) shown = "?";
    errm_ConsolePrintf(format, shown, code);
}

// Checks a handle for an operation on an open entry: 0 when usable.
int checkOpen(int handle) {
    if (outOfRange(handle)) return -1;
    if (!g_fm.initialised || entry(handle).used == 0) {
        // The owner of a stream whose close failed may still write to it
        // (the trace reports its own failed close): the 1027 line told it.
        if (!g_fm.initialised || entry(handle).gone == 0)
            fmError(-1, "not opened", ERRM_E_FM_NOT_OPEN);
        return ERRM_E_FM_NOT_OPEN;
    }
    return 0;
}

// Fills a taken entry; the name copy may fail (1068) with the entry in use.
int fillEntry(int index, const char *name, std::FILE *stream, int recorded, int *handle) {
    FmEntry &e = entry(index);
    e.stream = stream;
    e.used = 1;
    e.gone = 0;
    e.handle = index;
    *handle = index;
    e.recorded = recorded;
    int tag = ERRM_TAG_FM_NAME + index;
    std::size_t n = std::strlen(name);
    char *copy = static_cast<char *>(errm_AllocateWOClear(n + 2, tag));
    if (copy == nullptr) return ERRM_E_NO_MEMORY;
    std::memcpy(copy, name, n + 1);
    e.name = copy;
    e.tag = tag;
    return 0;
}

int afterWrite(FmEntry &e) {
    if (e.flushAlways == 1) std::fflush(e.stream);
    return 0;
}

// A failed write prints its line once per file; the result tells each time.
[[gnu::cold]] int writeFailed(int handle) {
    FmEntry &e = entry(handle);
    if (e.told == 0) fmError(handle, "?", ERRM_E_FM_WRITE);
    e.told = 1;
    return ERRM_E_FM_WRITE;
}

// ------------------------------------------- files written through the writer

bool isWriter(const FmEntry &e) {
    return e.writing == 1;
}

// A name with a tag before its extension: run1.log and "4711" give
// run1.4711.log; a name without extension gets .4711 appended.
int taggedName(const char *name, const char *tag, char *out, std::size_t cap) {
    const char *slash = std::strrchr(name, '/');
    const char *base = slash != nullptr ? slash + 1 : name;
    const char *dot = std::strrchr(base, '.');
    std::size_t stem = dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
    int n = std::snprintf(out, cap, "%.*s.%s%s", static_cast<int>(stem), name, tag,
                          dot != nullptr ? dot : "");
    return n > 0 && static_cast<std::size_t>(n) < cap ? 1 : 0;
}

// The name of this process's own file beside a file held by another.
int ownName(const char *name, char *out, std::size_t cap) {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%d", errm_PL_ProcessId());
    return taggedName(name, pid, out, cap);
}

// The file of this rank of a parallel launch: run1.log gives run1.03.log
// for rank 3 of 8..100. A name that is a FIFO or a device keeps its name.
// 0 when the process is no rank (or the name would not fit).
int rankName(const char *name, char *out, std::size_t cap) {
    char rank[24];
    if (!errm_RankText(rank, sizeof rank)) return 0;
    struct stat st;
    if (errm_Sys.stat(name, &st) == 0 && !S_ISREG(st.st_mode)) return 0;
    return taggedName(name, rank, out, cap);
}

// 1 when an entry of this process (not one inherited from a parent) writes
// the file open on fd.
int writtenHere(int fd) {
    struct stat st;
    if (errm_Sys.fstat(fd, &st) != 0) return 0;
    for (const FmEntry &e : g_fm.entries)
        if (e.used == 1 && e.writing == 1 && !errm_FW_Inherited(&e.writer) &&
            errm_FW_SameFile(&e.writer, st.st_dev, st.st_ino))
            return 1;
    return 0;
}

// Opens a file for writing with its writer attached. A file held by another
// live process gives way to this process's own file, said once on standard
// output. Returns the stream or null (the 1030 line is the caller's).
std::FILE *openWriter(const char *name, int truncate, int binary, errm_FileWriter *w, char *opened,
                      std::size_t cap, int mustOwn) {
    if (!errm_PL_OnFork(errm_FW_OnFork)) return nullptr;
    char ranked[ERRM_NAME_CAP];
    if (!mustOwn && rankName(name, ranked, sizeof ranked)) name = ranked;
    // Nothing is emptied before the lock is held.
    std::FILE *stream = errm_PL_Fopen(name, binary == 1 ? "ab" : "a");
    if (stream == nullptr) return nullptr;
    // A file that is standard output's (or standard error's) is written
    // through that descriptor, at its offset: the two never write over each
    // other, and it is neither locked nor emptied.
    const int shared = errm_PL_JoinStandardStream(fileno(stream)) || writtenHere(fileno(stream));
    int rc = errm_FW_Attach(w, fileno(stream), truncate, shared);
    if (rc == ERRM_FW_READY && errm_StrCopy(opened, cap, name)) return stream;
    errm_PL_Fclose(stream);
    char own[ERRM_NAME_CAP];
    if (rc != ERRM_FW_HELD || mustOwn || !ownName(name, own, sizeof own)) return nullptr;
    stream = openWriter(own, 1, binary, w, opened, cap, 1);
    if (stream != nullptr)
        errm_ConsolePrintf("FM note, F=%s is held by another process; this process writes %s\n",
                           name, own);
    return stream;
}

// A writer inherited across fork() is the parent's: the child gives it up
// and goes on in a file of its own, so that the two never write over each
// other and the parent's file keeps one copy of each line.
[[gnu::cold]] void adoptInChild(int handle) {
    FmEntry &e = entry(handle);
    errm_FW_Abandon(&e.writer);
    errm_PL_Fclose(e.stream); // the child's copy: nothing buffered in it
    e.stream = nullptr;
    e.writer.lost = 1;
    if (e.name == nullptr) return;
    char own[ERRM_NAME_CAP], opened[ERRM_NAME_CAP];
    if (!ownName(e.name, own, sizeof own)) return;
    std::FILE *stream = openWriter(own, 1, 0, &e.writer, opened, sizeof opened, 1);
    if (stream == nullptr) return;
    errm_ConsolePrintf("FM note, F=%s belongs to the parent process; this process writes %s\n",
                       e.name, opened);
    std::size_t n = std::strlen(opened);
    char *copy = static_cast<char *>(errm_AllocateWOClear(n + 2, e.tag));
    if (copy != nullptr) {
        std::memcpy(copy, opened, n + 1);
        errm_DeAllocate(e.name, e.tag);
        e.name = copy;
    }
    e.stream = stream;
}

// Appends through the writer of an entry; 0 or the write failure.
[[gnu::always_inline]] inline int writerAppend(int handle, const char *data, std::size_t n) {
    FmEntry &e = entry(handle);
    if (errm_FW_Inherited(&e.writer)) adoptInChild(handle);
    if (!errm_FW_Append(&e.writer, data, n)) return writeFailed(handle);
    return 0;
}

} // namespace

void errm_FM_SetTraceSwitch(int on) {
    g_fm.traceSwitch = on;
}

// --------------------------------------------------- open, record, free, close

int errm_FM_Open(const char *name, char mode, int binary, int *handle) {
    const char *stdioMode = nullptr;
    switch (mode) {
    case 'r': stdioMode = binary == 1 ? "rb" : "r"; break;
    case 'w': stdioMode = binary == 1 ? "wb" : "w"; break;
    case 'a': stdioMode = binary == 1 ? "ab" : "a"; break;
    default:
        // No entry is taken for a mode the file manager does not know.
        fmError(-1, name, ERRM_E_FM_OPEN);
        return ERRM_E_FM_OPEN;
    }
    int index = fmFindFreeEntry();
    if (index < 0) {
        fmError(-1, name, ERRM_E_FM_FULL);
        return ERRM_E_FM_FULL;
    }
    errm_FileWriter writer{};
    char opened[ERRM_NAME_CAP];
    const char *shown = name;
    std::FILE *stream = nullptr;
    if (mode == 'r') {
        stream = errm_PL_Fopen(name, stdioMode);
    } else {
        stream = openWriter(name, mode == 'w' ? 1 : 0, binary, &writer, opened, sizeof opened, 0);
        shown = opened;
    }
    if (stream == nullptr) {
        fmError(-1, name, ERRM_E_FM_OPEN);
        return ERRM_E_FM_OPEN;
    }
    entry(index).writer = writer;
    entry(index).told = 0;
    entry(index).writing = mode == 'r' ? 0 : 1;
    int rc = fillEntry(index, shown, stream, 0, handle);
    if (rc != 0) return rc;
    if (g_fm.traceFM == 1) {
        const FmEntry &e = entry(index);
        errm_ConsolePrintf("<FM> Open H=%d, p=%p name=%s, Tag=%d\n", index,
                           static_cast<const void *>(e.name), e.name, e.tag);
    }
    return 0;
}

int errm_FM_RecordHandle(const char *name, std::FILE *stream, int *handle) {
    int index = fmFindFreeEntry();
    if (index < 0) {
        fmError(-1, name, ERRM_E_FM_FULL);
        return ERRM_E_FM_FULL;
    }
    entry(index).writer = errm_FileWriter{};
    entry(index).told = 0;
    entry(index).writing = 0;
    int rc = fillEntry(index, name, stream, 1, handle);
    if (rc != 0) return rc;
    if (g_fm.traceFM == 1) {
        const FmEntry &e = entry(index);
        errm_ConsolePrintf("<FM> Recordhandle handle=%d p=%p, FN=%s TAG=%d\n", index,
                           static_cast<const void *>(e.name), name, e.tag);
    }
    return 0;
}

int errm_FM_FreeHandle(const char * /*name*/, int handle) {
    if (outOfRange(handle)) return 0;
    if (!g_fm.initialised) fmInit();
    FmEntry &e = entry(handle);
    e.used = 0;
    e.handle = -1;
    e.stream = nullptr;
    if (g_fm.traceFM == 1)
        errm_ConsolePrintf("<FM> free HANDLE H=%d, p=%s, Tag=%d\n", handle,
                           e.name != nullptr ? e.name : "(null)", e.tag);
    errm_DeAllocate(e.name, e.tag);
    e.name = nullptr;
    e.recorded = 0;
    return 1;
}

int errm_FM_SetInfo(int handle, char key, int value) {
    if (outOfRange(handle)) return -1;
    if (!g_fm.initialised || entry(handle).used == 0) {
        fmError(-1, "<FM>: no info", ERRM_E_FM_NOT_OPEN);
        return ERRM_E_FM_NOT_OPEN;
    }
    // A written file holds every line at once anyway: the flag matters to
    // recorded streams.
    if (key == 'f') entry(handle).flushAlways = value;
    return 0;
}

int errm_FM_Close(int handle) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    // A file whose text could not all be written is told as a failed close.
    // The entry is released either way: the stream is gone after fclose,
    // whatever it returns.
    int complete = 1;
    const errm_FileWriter closing = e.writer;
    const bool own = e.writing == 1 && !errm_FW_Inherited(&e.writer);
    if (!own)
        errm_FW_Abandon(&e.writer);
    else
        complete = errm_FW_Finish(&e.writer);
    e.writing = 0;
    if (e.stream != nullptr && errm_PL_Fclose(e.stream) != 0) complete = 0;
    e.writer = errm_FileWriter{};
    // The lock went with the descriptor: another entry of this process that
    // writes the same file takes it over.
    if (own && closing.locked == 1)
        for (FmEntry &other : g_fm.entries)
            if (other.used == 1 && other.writing == 1 && !errm_FW_Inherited(&other.writer) &&
                errm_FW_SameFile(&other.writer, closing.dev, closing.ino)) {
                errm_FW_Relock(&other.writer);
                break;
            }
    if (!complete) {
        fmError(handle, "?", ERRM_E_FM_CLOSE);
        rc = ERRM_E_FM_CLOSE;
        e.gone = 1;
    }
    e.used = 0;
    e.stream = nullptr;
    if (e.name == nullptr) return rc;
    if (g_fm.traceFM == 1)
        errm_ConsolePrintf("<FM> CLOSE H=%d, name=%s, Tag=%d\n", handle, e.name, e.tag);
    errm_DeAllocate(e.name, e.tag);
    e.handle = -1;
    e.tag = -1;
    e.name = nullptr;
    e.recorded = 0;
    e.flushAlways = 0;
    return rc;
}

// ------------------------------------------------------------------ reading

int errm_FM_Read(int handle, void *buffer, std::size_t count, std::size_t *read) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    *read = std::fread(buffer, 1, count, e.stream);
    if (std::ferror(e.stream)) {
        fmError(handle, "?", ERRM_E_FM_READ);
        return ERRM_E_FM_READ;
    }
    return 0;
}

int errm_FM_Gets(int handle, char *buffer, int size) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    return std::fgets(buffer, size, entry(handle).stream) != nullptr ? 0 : 1;
}

int errm_FM_Getc(int handle, int *c) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    *c = std::fgetc(entry(handle).stream);
    return *c == EOF ? 1 : 0;
}

int errm_FM_Eof(int handle, int *eof) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    *eof = std::feof(entry(handle).stream);
    return 0;
}

long long errm_FM_Size(int handle) {
    if (outOfRange(handle) || !g_fm.initialised || entry(handle).used == 0) return 0;
    struct stat st;
    std::FILE *stream = entry(handle).stream;
    if (stream == nullptr || errm_Sys.fstat(fileno(stream), &st) != 0) return 0;
    return static_cast<long long>(st.st_size);
}

// ------------------------------------------------------------------ writing

int errm_FM_Puts(int handle, const char *text) {
    if (handle == -1) {
        if (std::fputs(text, stdout) == EOF) {
            std::fflush(stdout);
            fmError(-1, "?", ERRM_E_FM_WRITE);
            return ERRM_E_FM_WRITE;
        }
        std::fflush(stdout);
        return 0;
    }
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (isWriter(e)) return writerAppend(handle, text, std::strlen(text));
    if (std::fputs(text, e.stream) == EOF) return writeFailed(handle);
    return afterWrite(e);
}

[[gnu::hot]] int errm_FM_PutLine(int handle, const char *text, std::size_t n) {
    // Standard output and streams recorded from a client keep the stdio path.
    if (outOfRange(handle) || !g_fm.initialised || !isWriter(entry(handle)) ||
        entry(handle).used == 0)
        return errm_FM_Puts(handle, text);
    return writerAppend(handle, text, n);
}

int errm_FM_VPrintf(int handle, const char *format, va_list args) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (isWriter(e)) {
        // Formatted on the stack. The formatted writes are the base's trace
        // and internal error lines: a line of ERRM_REPORT_LINE_CAP and a
        // prefix of 64 at most, so the cut below is never reached.
        char text[kPrintfCap];
        int n = std::vsnprintf(text, sizeof text, format, args);
        if (n < 0) return writeFailed(handle);
        std::size_t len = static_cast<std::size_t>(n);
        if (len >= sizeof text) len = sizeof text - 1;
        return writerAppend(handle, text, len);
    }
    int n = std::vfprintf(e.stream, format, args);
    if (n < 0) return writeFailed(handle);
    return afterWrite(e);
}

int errm_FM_Printf(int handle, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int rc = errm_FM_VPrintf(handle, format, args);
    va_end(args);
    return rc;
}

int errm_FM_Putc(int handle, int c) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (isWriter(e)) {
        char byte = static_cast<char>(c);
        return writerAppend(handle, &byte, 1);
    }
    if (std::fputc(c, e.stream) == EOF) return writeFailed(handle);
    return afterWrite(e);
}

int errm_FM_Write(int handle, const void *buffer, std::size_t count) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (isWriter(e)) return writerAppend(handle, static_cast<const char *>(buffer), count);
    if (std::fwrite(buffer, 1, count, e.stream) != count) return writeFailed(handle);
    return afterWrite(e);
}

// ---------------------------------------------------------- the base's sink

// The base writes its trace file through these.
extern const errm_FileSink errm_Sink = {
    errm_FM_Open, errm_FM_SetInfo, errm_FM_Puts, errm_FM_VPrintf, errm_FM_Close,
};

// ------------------------------------------------------------- finalisation

void errm_FM_Finalize() {
    if (!g_fm.initialised) return;
    for (int i = 0; i < ERRM_FM_ENTRIES; ++i) {
        FmEntry &e = entry(i);
        if (e.name == nullptr || e.recorded != 1) continue;
        if (g_fm.traceFM == 1) errm_ConsolePrintf("<FM>: finalize i=%d tag=%d\n", i, e.tag);
        errm_DeAllocate(e.name, e.tag);
        e.name = nullptr;
    }
}

// ------------------------------------------------------------ introspection

int errm_FM_InUse(int handle) {
    return !outOfRange(handle) && g_fm.initialised && entry(handle).used == 1 ? 1 : 0;
}

int errm_FM_Tag(int handle) {
    return !outOfRange(handle) && g_fm.initialised ? entry(handle).tag : -1;
}

const char *errm_FM_Name(int handle) {
    return !outOfRange(handle) && g_fm.initialised ? entry(handle).name : nullptr;
}

std::FILE *errm_FM_Stream(int handle) {
    return !outOfRange(handle) && g_fm.initialised ? entry(handle).stream : nullptr;
}
