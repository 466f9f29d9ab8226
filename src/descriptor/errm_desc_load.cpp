// errm_desc_load.cpp - loading and verifying a descriptor into the
// subsystem table, the header dump, and releasing the rows.
//
// Sections: table; header dump; loading; release.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_options.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"

#include <cstdio>
#include <cstring>

// Allocation tags of the row's blocks.
namespace {
constexpr int kTagName = 120590;
constexpr int kTagDisplay = 120591;
constexpr int kTagCounters = 120593;
constexpr int kTagFlags = 120594;
} // namespace

errm_SubsystemRow errm_Subsystems[ERRM_SS_ROWS] = {};

namespace {

struct LoaderState {
    int loadedCount;                        // successful loads, never reset
    unsigned char header[ERRM_DESC_HEADER]; // header of the last file read
    char path[ERRM_NAME_CAP];               // path of the last file
    char dump[2689];                        // header dump text
};

LoaderState g_loader = {};

// Everything a load has obtained; released unless the load commits it.
struct PendingLoad {
    int fd = -1;
    const unsigned char *base = nullptr;
    std::size_t size = 0;
    char *name = nullptr;
    char *displayName = nullptr;
    std::uint32_t *counters = nullptr;
    std::uint32_t *flags = nullptr;
    bool committed = false;

    PendingLoad() = default;
    PendingLoad(const PendingLoad &) = delete;
    PendingLoad &operator=(const PendingLoad &) = delete;
    ~PendingLoad() {
        if (committed) return;
        errm_DeAllocate(name, kTagName);
        errm_DeAllocate(displayName, kTagDisplay);
        errm_DeAllocate(counters, kTagCounters);
        errm_DeAllocate(flags, kTagFlags);
        errm_UnmapBinaryMemoryFile(base, size);
        errm_CloseBinaryMemoryFile(fd);
    }
};

void clearRow(errm_SubsystemRow &row) {
    row = errm_SubsystemRow{nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0, -1, 0, 0,
                            errm_NumberIndex{nullptr, 0, 0, 0, 0}, nullptr};
}

char *ownedText(const unsigned char *bytes, std::size_t n, int tag) {
    char *text = static_cast<char *>(errm_AllocateAndClear(n + 1, tag));
    if (text != nullptr) std::memcpy(text, bytes, n);
    return text;
}

} // namespace

int errm_LoadedCount() {
    return g_loader.loadedCount;
}

#ifdef ERRM_TESTING
void errm_TestResetLoadedCount() {
    g_loader.loadedCount = 0;
}
#endif

void errm_ClearSubsystemTable() {
    // Rows of a cycle that did not end with ERRM_FInit are released first.
    errm_ReleaseSubsystems();
    for (errm_SubsystemRow &row : errm_Subsystems)
        clearRow(row);
}

// -------------------------------------------------------------- header dump

int errm_DumpBytes(const char *title, char *out, int cap, const unsigned char *bytes, int count) {
    if (cap <= 0) return 0;
    std::size_t size = static_cast<std::size_t>(cap);
    out[0] = '\0';
    if (count > 256) count = 256;
    if (count < 0) count = 0;
    int rounded = (count + 15) / 16 * 16;
    if (rounded > 256) rounded = 256;
    int lines = rounded / 16;
    char piece[128];
    std::snprintf(piece, sizeof piece, "Dumper(%s): %d values on %3d lines\n", title, rounded,
                  lines);
    if (!errm_StrCat(out, size, piece)) return 0;
    for (int l = 0; l < lines; ++l) {
        std::snprintf(piece, sizeof piece, "%03d : ", l * 16);
        if (!errm_StrCat(out, size, piece)) return 0;
        for (int i = 0; i < 16; ++i) {
            std::snprintf(piece, sizeof piece, "%02X ", bytes[l * 16 + i]);
            if (!errm_StrCat(out, size, piece)) return 0;
        }
        for (int i = 0; i < 16; ++i) {
            unsigned char c = bytes[l * 16 + i];
            piece[0] = (c >= 32 && c <= 122) ? static_cast<char>(c) : '.';
            piece[1] = '\0';
            if (!errm_StrCat(out, size, piece)) return 0;
        }
        std::snprintf(piece, sizeof piece, " - %03d \n", (l + 1) * 16);
        if (!errm_StrCat(out, size, piece)) return 0;
    }
    errm_ConsolePuts(out);
    return 1;
}

// ----------------------------------------------------------------- loading

int errm_DescriptorPath(const char *subsystem, char *path) {
    char ssName[64];
    if (!errm_StrCopy(ssName, sizeof ssName, subsystem)) {
        ERRM_REPORT(ERRM_E_COPY_SIZE, "SS");
        return ERRM_E_COPY_SIZE;
    }
    errm_ToUpper(ssName);
    const char *root = errm_G.RootForMemoryDescriptor;
    std::size_t rootLen = std::strlen(root);
    path[0] = '\0';
    // Each piece is appended whole or not at all, so that a path that does not
    // fit is reported with what it holds so far (at least the root).
    bool ok = errm_StrCopy(path, ERRM_NAME_CAP, root) == 1;
    if (ok && (rootLen == 0 || root[rootLen - 1] != '/'))
        ok = errm_StrCat(path, ERRM_NAME_CAP, "/");
    ok = ok && errm_StrCat(path, ERRM_NAME_CAP, "errm_desc") &&
         errm_StrCat(path, ERRM_NAME_CAP, "_") && errm_StrCat(path, ERRM_NAME_CAP, ssName) &&
         errm_StrCat(path, ERRM_NAME_CAP, ".bin");
    if (!ok) {
        ERRM_REPORT(ERRM_E_CAT_OVERFLOW, path);
        return ERRM_E_CAT_OVERFLOW;
    }
    // A descriptor is always a file directly in the root: a name that would
    // lead elsewhere names no descriptor.
    if (std::strchr(ssName, '/') != nullptr) {
        ERRM_REPORT(ERRM_E_OPEN, path);
        return ERRM_E_OPEN;
    }
    return 0;
}

int errm_IsDescriptorMagic(const unsigned char *header, std::uint32_t magic) {
    // The word converted to host order, and the bytes as the file stores them:
    // a file written wholly in the other byte order has the right word on a
    // host that swaps, and is refused by its bytes.
    static constexpr unsigned char kFileBytes[4] = {0x17, 0x34, 0x78, 0x45};
    return magic == ERRM_DESC_MAGIC && std::memcmp(header, kFileBytes, 4) == 0 ? 1 : 0;
}

namespace {

// Reports a region outside the file.
int outsideFile(const char *path) {
    ERRM_REPORT(ERRM_E_READ_MAPPED, path);
    return ERRM_E_READ_MAPPED;
}

// True when [offset, offset + length) lies inside a file of size bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

} // namespace

int errm_ReadErrorDescriptor(const char *subsystem, int *index) {
    if (!errm_OpenDllTrace()) return 1;
    if (subsystem == nullptr || index == nullptr) {
        ERRM_REPORT(ERRM_E_NULL, subsystem == nullptr ? "subsystem" : "index");
        return ERRM_E_NULL;
    }
    // The root setting itself takes the slash, when it has room for it.
    char *root = errm_G.RootForMemoryDescriptor;
    std::size_t rootLen = std::strlen(root);
    if ((rootLen == 0 || root[rootLen - 1] != '/') && rootLen < ERRM_NAME_CAP - 1)
        errm_AddSlash(root);
    char *path = g_loader.path;
    int rc = errm_DescriptorPath(subsystem, path);
    if (rc != 0) return rc;

    PendingLoad load;
    if (!OpenBinaryMemoryFileName(path, &load.fd)) {
        ERRM_REPORT(ERRM_E_OPEN, path);
        return ERRM_E_OPEN;
    }
    const std::size_t size = errm_MappedFileSize();
    // An empty file cannot be held in memory (nor mapped); a file shorter than
    // the header is malformed.
    if (size == 0) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    if (size < ERRM_DESC_HEADER) return outsideFile(path);

    // Header: the first six words in host order, the rest as bytes. It is
    // read first: the directory's offset places the copy in memory.
    unsigned char raw[ERRM_DESC_HEADER];
    const bool headerRead = errm_ReadDescriptorHeader(raw) == 1;
    unsigned char *header = g_loader.header;
    std::memcpy(header, raw, ERRM_DESC_HEADER);
    std::uint32_t words[6];
    std::memcpy(words, header, sizeof words);
    errm_FileOrderArray32(words, 6);
    std::memcpy(header, words, sizeof words);
    const std::uint32_t magic = words[0], entryCount = words[1], checksumLength = words[2],
                        directoryOffset = words[3], checksumStart = words[4];

    unsigned char *base = headerRead ? MapBinaryMemoryFile() : nullptr;
    if (base == nullptr) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    load.base = base;
    load.size = size;
    if (!errm_IsDescriptorMagic(raw, magic)) {
        ERRM_REPORT(ERRM_E_MAGIC, static_cast<long long>(magic));
        return ERRM_E_MAGIC;
    }
    unsigned char digest[16];
    const bool read =
        errm_FillBinaryMemoryFile(base, raw, {checksumStart, checksumLength}, digest) == 1;
    // The file is not needed any more, whatever happens to it from now on.
    errm_CloseBinaryMemoryFile(load.fd);
    load.fd = -1;
    if (!read) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    int version = 100 * header[40] + 10 * header[41] + header[42];
    if (version < ERRM_DESC_MIN_VERSION)
        ERRM_REPORT(ERRM_E_OLD_VERSION, version, ERRM_DESC_MIN_VERSION);

    if (errm_G.FDebugDump == 1) {
        // The dump shows whole lines of 16: the bytes after the header come
        // from the file itself, zeros past its end.
        unsigned char shown[64] = {};
        std::memcpy(shown, header, ERRM_DESC_HEADER);
        errm_MemFileRead(shown + ERRM_DESC_HEADER, ERRM_DESC_HEADER,
                         size >= 64 ? 8 : size - ERRM_DESC_HEADER);
        if (errm_DumpBytes("SB", g_loader.dump, sizeof g_loader.dump, shown, ERRM_DESC_HEADER))
            errm_TraceAdd("%s", g_loader.dump);
    }

    // Names: a length byte and the bytes of the name, then of the display name.
    if (!inside(ERRM_DESC_HEADER, 1, size)) return outsideFile(path);
    std::size_t nameLen = base[ERRM_DESC_HEADER];
    if (nameLen > 63 || !inside(ERRM_DESC_HEADER + 1, nameLen + 1, size)) return outsideFile(path);
    std::size_t displayAt = ERRM_DESC_HEADER + 1 + nameLen;
    std::size_t displayLen = base[displayAt];
    if (!inside(displayAt + 1, displayLen, size)) return outsideFile(path);
    load.name = ownedText(base + ERRM_DESC_HEADER + 1, nameLen, kTagName);
    if (load.name == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "SS name");
        return ERRM_E_NO_MEMORY;
    }
    load.displayName = ownedText(base + displayAt + 1, displayLen, kTagDisplay);
    if (load.displayName == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "display name");
        return ERRM_E_NO_MEMORY;
    }

    // Digest (computed while the file was read): a mismatch is reported byte
    // by byte; the load goes on, unless verify=strict refuses it.
    if (!inside(checksumStart, checksumLength, size)) return outsideFile(path);
    bool digestDiffers = false;
    for (int i = 0; i < 16; ++i) {
        if (digest[i] != header[24 + i]) {
            ERRM_REPORT(ERRM_E_MD5, i, static_cast<int>(header[24 + i]));
            digestDiffers = true;
        }
    }
    if (digestDiffers && errm_Opt.verifyStrict) return ERRM_E_MD5;

    // Directory: N records of three words, read in place and converted to
    // host order there.
    if (!inside(directoryOffset, static_cast<std::uint64_t>(entryCount) * 12, size))
        return outsideFile(path);
    errm_DirRecord *directory = reinterpret_cast<errm_DirRecord *>(base + directoryOffset);
    errm_FileOrderDirectory(directory, entryCount);

    if (g_loader.loadedCount >= ERRM_SS_MAX_LOADS) {
        ERRM_REPORT(ERRM_E_TOO_MANY_SS, g_loader.loadedCount);
        return ERRM_E_TOO_MANY_SS;
    }
    // The counters' allocation also holds the directory's bucket index and
    // the bits of the formats already checked after them: a load makes the
    // same allocations as without them, and fails alike.
    std::size_t arrayBytes = (static_cast<std::size_t>(entryCount) + 1) * sizeof(std::uint32_t);
    std::size_t indexWords = errm_NumberIndexWords(directory, static_cast<int>(entryCount));
    std::size_t checkWords = (static_cast<std::size_t>(entryCount) + 31) / 32;
    load.counters = static_cast<std::uint32_t *>(errm_AllocateAndClear(
        arrayBytes + (indexWords + checkWords) * sizeof(std::uint32_t), kTagCounters));
    if (load.counters == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "counter");
        return ERRM_E_NO_MEMORY;
    }
    load.flags = static_cast<std::uint32_t *>(errm_AllocateAndClear(arrayBytes, kTagFlags));
    if (load.flags == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "flags");
        return ERRM_E_NO_MEMORY;
    }

    int at = g_loader.loadedCount;
    errm_SubsystemRow &row = errm_Subsystems[at];
    row.name = load.name;
    row.displayName = load.displayName;
    row.directory = directory;
    row.viewBase = base;
    row.viewSize = size;
    row.counters = load.counters;
    row.flags = load.flags;
    row.loaded = 1;
    row.fd = -1;
    row.index = at;
    row.entryCount = static_cast<int>(entryCount);
    row.numbers = errm_BuildNumberIndex(directory, row.entryCount, load.counters + entryCount + 1,
                                        indexWords);
    row.formatsChecked = load.counters + entryCount + 1 + indexWords;
    load.committed = true;
    *index = at;
    ++g_loader.loadedCount;
    errm_ResetEntryCache();
    return 0;
}

// ------------------------------------------------------------------ release

void errm_ReleaseSubsystems() {
    for (errm_SubsystemRow &row : errm_Subsystems) {
        if (row.loaded != 1) continue;
        errm_DeAllocate(row.name, kTagName);
        errm_DeAllocate(row.displayName, kTagDisplay);
        errm_DeAllocate(row.counters, kTagCounters);
        errm_DeAllocate(row.flags, kTagFlags);
        errm_UnmapBinaryMemoryFile(row.viewBase, row.viewSize);
        errm_CloseBinaryMemoryFile(row.fd);
        clearRow(row);
    }
    errm_MemFileSetBase(nullptr, 0);
}
