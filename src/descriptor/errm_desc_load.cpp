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

errm_SubsystemRow errm_Subsystems[ERRM_SS_ROWS] = {};

namespace {

struct LoaderState {
    int loadedCount; // successful loads, never reset
};

LoaderState g_loader = {};

// Everything a load has obtained; released unless the load commits it.
struct PendingLoad {
    errm_DescriptorFile file{};
    char *name = nullptr;
    char *displayName = nullptr;
    std::uint32_t *counters = nullptr;
    bool committed = false;

    PendingLoad() { file.file = errm_FileCopy{-1, 0, nullptr}; }
    PendingLoad(const PendingLoad &) = delete;
    PendingLoad &operator=(const PendingLoad &) = delete;
    ~PendingLoad() {
        if (committed) return;
        errm_DeAllocate(name, ERRM_TAG_SS_NAME);
        errm_DeAllocate(displayName, ERRM_TAG_SS_DISPLAY);
        errm_DeAllocate(counters, ERRM_TAG_SS_COUNTERS);
        errm_ReleaseDescriptorFile(&file);
    }
};

void clearRow(errm_SubsystemRow &row) {
    row = errm_SubsystemRow{nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, 0, 0,
                            errm_NumberIndex{nullptr, 0, 0, 0, 0}, nullptr};
}

char *ownedText(const unsigned char *bytes, std::size_t n, int tag) {
    char *text = static_cast<char *>(errm_AllocateAndClear(n + 1, tag));
    if (text != nullptr) std::memcpy(text, bytes, n);
    return text;
}

} // namespace

#ifdef ERRM_TESTING
int errm_LoadedCount() {
    return g_loader.loadedCount;
}

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

namespace {
constexpr int kDumpLine = 16; // bytes shown on a line of the dump
} // namespace

int errm_DumpBytes(const char *title, char *out, int cap, const unsigned char *bytes, int count) {
    if (cap <= 0) return 0;
    std::size_t size = static_cast<std::size_t>(cap);
    out[0] = '\0';
    if (count > 256) count = 256;
    if (count < 0) count = 0;
    int rounded = (count + kDumpLine - 1) / kDumpLine * kDumpLine;
    if (rounded > 256) rounded = 256;
    int lines = rounded / kDumpLine;
    char piece[128];
    std::snprintf(piece, sizeof piece, "Dumper(%s): %d values on %3d lines\n", title, rounded,
                  lines);
    if (!errm_StrCat(out, size, piece)) return 0;
    for (int l = 0; l < lines; ++l) {
        std::snprintf(piece, sizeof piece, "%03d : ", l * kDumpLine);
        if (!errm_StrCat(out, size, piece)) return 0;
        for (int i = 0; i < kDumpLine; ++i) {
            std::snprintf(piece, sizeof piece, "%02X ", bytes[l * kDumpLine + i]);
            if (!errm_StrCat(out, size, piece)) return 0;
        }
        for (int i = 0; i < kDumpLine; ++i) {
            unsigned char c = bytes[l * kDumpLine + i];
            piece[0] = (c >= 32 && c <= 122) ? static_cast<char>(c) : '.';
            piece[1] = '\0';
            if (!errm_StrCat(out, size, piece)) return 0;
        }
        std::snprintf(piece, sizeof piece, " - %03d \n", (l + 1) * kDumpLine);
        if (!errm_StrCat(out, size, piece)) return 0;
    }
    errm_ConsolePuts(out);
    return 1;
}

namespace {

// The header as the dump shows it: its first six words in host order, the
// rest as bytes, then whole lines of 16: the bytes after the header come
// from the copy, zeros past the file's end.
void dumpHeader(const errm_DescriptorFile &d) {
    unsigned char shown[64] = {};
    std::memcpy(shown, d.raw, ERRM_DESC_HEADER);
    std::memcpy(shown, d.words, sizeof d.words);
    const std::size_t after = d.file.size >= sizeof shown ? sizeof shown - ERRM_DESC_HEADER
                                                          : d.file.size - ERRM_DESC_HEADER;
    std::memcpy(shown + ERRM_DESC_HEADER, d.file.base + ERRM_DESC_HEADER, after);
    char dump[ERRM_DUMP_CAP];
    if (errm_DumpBytes("SB", dump, sizeof dump, shown, ERRM_DESC_HEADER))
        errm_TraceAdd("%s", dump);
}

} // namespace

// ----------------------------------------------------------------- loading

int errm_DescriptorPath(const char *subsystem, char *path) {
    char ssName[ERRM_DESC_NAME_MAX + 1];
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

namespace {

// Opens the file, reads it whole into its copy with its digest, and checks
// its magic and version; the copy is the load's from then on.
int readDescriptor(PendingLoad &load, unsigned char digest[ERRM_DESC_DIGEST_SIZE]) {
    errm_DescriptorFile &d = load.file;
    int rc = errm_AllocateDescriptorCopy(&d);
    if (rc == 0 && errm_CheckDescriptorMagic(d) != 0) {
        ERRM_REPORT(ERRM_E_MAGIC, static_cast<long long>(d.words[0]));
        rc = ERRM_E_MAGIC;
    }
    if (rc == 0) rc = errm_FillDescriptorCopy(&d, digest);
    if (rc != 0) return rc;
    const unsigned char *v = d.raw + ERRM_DESC_OFF_VERSION;
    int version = 100 * v[0] + 10 * v[1] + v[2];
    if (version < ERRM_DESC_MIN_VERSION)
        ERRM_REPORT(ERRM_E_OLD_VERSION, version, ERRM_DESC_MIN_VERSION);
    if (errm_G.FDebugDump == 1) dumpHeader(d);
    return 0;
}

// Compares the digest computed while reading with the recorded one: each
// differing byte is reported; the load goes on unless verify=strict.
int checkDigest(const errm_DescriptorFile &d, const unsigned char digest[ERRM_DESC_DIGEST_SIZE]) {
    const unsigned char *recorded = d.raw + ERRM_DESC_OFF_DIGEST;
    bool differs = false;
    for (std::size_t i = 0; i < ERRM_DESC_DIGEST_SIZE; ++i) {
        if (digest[i] != recorded[i]) {
            ERRM_REPORT(ERRM_E_MD5, static_cast<int>(i), static_cast<int>(recorded[i]));
            differs = true;
        }
    }
    return differs && errm_Opt.verifyStrict ? ERRM_E_MD5 : 0;
}

// Takes the names, puts the directory in host order and allocates the
// row's arrays: the counters' block also holds the directory's bucket index
// and the bits of the formats already checked, so that a load makes the
// same allocations with them as without, and fails alike.
int takeParts(PendingLoad &load, const errm_DescriptorLayout &at, std::size_t *indexWords) {
    const unsigned char *base = load.file.file.base;
    load.name = ownedText(base + at.nameAt, at.nameLength, ERRM_TAG_SS_NAME);
    if (load.name == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "SS name");
        return ERRM_E_NO_MEMORY;
    }
    load.displayName = ownedText(base + at.displayAt, at.displayLength, ERRM_TAG_SS_DISPLAY);
    if (load.displayName == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "display name");
        return ERRM_E_NO_MEMORY;
    }
    auto *directory = reinterpret_cast<errm_DirRecord *>(
        const_cast<unsigned char *>(base) + at.directoryOffset);
    errm_FileOrderDirectory(directory, at.entryCount);
    std::size_t arrayBytes = (static_cast<std::size_t>(at.entryCount) + 1) * sizeof(std::uint32_t);
    *indexWords = errm_NumberIndexWords(directory, static_cast<int>(at.entryCount));
    std::size_t checkWords = (static_cast<std::size_t>(at.entryCount) + 31) / 32;
    load.counters = static_cast<std::uint32_t *>(errm_AllocateAndClear(
        arrayBytes + (*indexWords + checkWords) * sizeof(std::uint32_t), ERRM_TAG_SS_COUNTERS));
    if (load.counters == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "counter");
        return ERRM_E_NO_MEMORY;
    }
    return 0;
}

// Fills the next row with what the load obtained; returns its index.
int commitRow(PendingLoad &load, const errm_DescriptorLayout &at, std::size_t indexWords) {
    const int index = g_loader.loadedCount;
    const std::uint32_t n = at.entryCount;
    errm_SubsystemRow &row = errm_Subsystems[index];
    row.name = load.name;
    row.displayName = load.displayName;
    row.directory = reinterpret_cast<errm_DirRecord *>(
        const_cast<unsigned char *>(load.file.file.base) + at.directoryOffset);
    row.viewBase = load.file.file.base;
    row.viewSize = load.file.file.size;
    row.counters = load.counters;
    row.loaded = 1;
    row.index = index;
    row.entryCount = static_cast<int>(n);
    row.numbers = errm_BuildNumberIndex(row.directory, row.entryCount, load.counters + n + 1,
                                        indexWords);
    row.formatsChecked = load.counters + n + 1 + indexWords;
    load.committed = true;
    ++g_loader.loadedCount;
    return index;
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
    char path[ERRM_NAME_CAP];
    int rc = errm_DescriptorPath(subsystem, path);
    if (rc != 0) return rc;

    PendingLoad load;
    rc = errm_OpenDescriptorFile(path, &load.file);
    if (rc != 0) {
        ERRM_REPORT(rc, path);
        return rc;
    }
    unsigned char digest[ERRM_DESC_DIGEST_SIZE];
    errm_DescriptorLayout layout{};
    std::size_t indexWords = 0;
    rc = readDescriptor(load, digest);
    if (rc == 0) rc = errm_ValidateDescriptor(load.file, &layout);
    if (rc == 0) rc = checkDigest(load.file, digest);
    if (rc == 0 && g_loader.loadedCount >= ERRM_SS_MAX_LOADS) {
        ERRM_REPORT(ERRM_E_TOO_MANY_SS, g_loader.loadedCount);
        rc = ERRM_E_TOO_MANY_SS;
    }
    if (rc == 0) rc = takeParts(load, layout, &indexWords);
    if (rc != 0) return rc;
    *index = commitRow(load, layout, indexWords);
    errm_ResetEntryCache();
    return 0;
}

// ------------------------------------------------------------------ release

void errm_ReleaseSubsystems() {
    for (errm_SubsystemRow &row : errm_Subsystems) {
        if (row.loaded != 1) continue;
        errm_DeAllocate(row.name, ERRM_TAG_SS_NAME);
        errm_DeAllocate(row.displayName, ERRM_TAG_SS_DISPLAY);
        errm_DeAllocate(row.counters, ERRM_TAG_SS_COUNTERS);
        errm_ReleaseDescriptorCopy(row.viewBase, row.viewSize);
        clearRow(row);
    }
}
