// errm_fm.cpp - the file manager table and its operations.
//
// Sections: table and initialisation; failure lines; open, record, free,
// close; reading; writing; the base's sink; finalisation.
#include "reports/errm_fm.h"
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_sink.h"
#include "platform/errm_platform.h"

#include <array>
#include <cstdarg>
#include <cstring>

namespace {

struct FmEntry {
    int used;          // 1 while the entry holds a stream
    int handle;        // own index while in use, -1 when free
    std::FILE *stream; // the open stream, null when free
    int flushAlways;   // flush after every successful write
    int recorded;      // 1: stream opened by somebody else
    char *name;        // heap copy of the name, null when free
    int tag;           // allocation tag 110000 + index, -1 when free
};

struct FmState {
    std::array<FmEntry, ERRM_FM_ENTRIES> entries; // the table
    int initialised;                              // table filled
    int traceSwitch;                              // internal debug switch
    int traceFM;                                  // FM trace lines on, copied at init
};

FmState g_fm = {};

void fmInit() {
    g_fm.traceFM = g_fm.traceSwitch;
    for (FmEntry &e : g_fm.entries)
        e = FmEntry{0, -1, nullptr, 0, 0, nullptr, -1};
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
    e.handle = index;
    *handle = index;
    e.recorded = recorded;
    int tag = ERRM_FM_TAG_BASE + index;
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
    std::FILE *stream = errm_PL_Fopen(name, stdioMode);
    if (stream == nullptr) {
        fmError(-1, name, ERRM_E_FM_OPEN);
        return ERRM_E_FM_OPEN;
    }
    int rc = fillEntry(index, name, stream, 0, handle);
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
    if (key == 'f') entry(handle).flushAlways = value;
    return 0;
}

int errm_FM_Close(int handle) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (errm_PL_Fclose(e.stream) != 0) {
        fmError(handle, "?", ERRM_E_FM_CLOSE);
        return ERRM_E_FM_CLOSE;
    }
    e.used = 0;
    e.stream = nullptr;
    if (e.name == nullptr) return 0;
    if (g_fm.traceFM == 1)
        errm_ConsolePrintf("<FM> CLOSE H=%d, name=%s, Tag=%d\n", handle, e.name, e.tag);
    errm_DeAllocate(e.name, e.tag);
    e.handle = -1;
    e.tag = -1;
    e.name = nullptr;
    e.recorded = 0;
    e.flushAlways = 0;
    return 0;
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
    if (std::fputs(text, e.stream) == EOF) {
        fmError(handle, "?", ERRM_E_FM_WRITE);
        return ERRM_E_FM_WRITE;
    }
    return afterWrite(e);
}

int errm_FM_VPrintf(int handle, const char *format, va_list args) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    int n = std::vfprintf(e.stream, format, args);
    if (n < 0) {
        fmError(handle, "?", ERRM_E_FM_WRITE);
        return ERRM_E_FM_WRITE;
    }
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
    if (std::fputc(c, e.stream) == EOF) {
        fmError(handle, "?", ERRM_E_FM_WRITE);
        return ERRM_E_FM_WRITE;
    }
    return afterWrite(e);
}

int errm_FM_Write(int handle, const void *buffer, std::size_t count) {
    int rc = checkOpen(handle);
    if (rc != 0) return rc;
    FmEntry &e = entry(handle);
    if (std::fwrite(buffer, 1, count, e.stream) != count) {
        fmError(handle, "?", ERRM_E_FM_WRITE);
        return ERRM_E_FM_WRITE;
    }
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
