// errm_desc.h - the descriptor store: byte order, the in-memory file reader,
// the subsystem table, and the entry cache that holds decoded messages.
//
// A descriptor is untrusted input: every offset, count and length read from
// it is checked against the file size before it is used.
#ifndef ERRM_DESC_H
#define ERRM_DESC_H

#include "base/errm_state.h"
#include "descriptor/errm_format.h"
#include "platform/errm_platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// ------------------------------------------------------------------ limits

inline constexpr int ERRM_SS_ROWS = 16;           // subsystem table rows
inline constexpr int ERRM_SS_MAX_LOADS = 15;      // loads in a process's life
inline constexpr int ERRM_CACHE_SLOTS = 16;

// ------------------------------------------------------------- byte order
//
// Descriptors are little-endian on every host; values are swapped unless
// ByteOrder says the host is little-endian (so before ERRM_Init has found
// the byte order, every word is swapped). Inline, because decoding one
// message entry reads a dozen fields.

inline std::uint32_t errm_FileOrder32(std::uint32_t value) {
    if (errm_G.ByteOrder == 1) return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

inline std::uint16_t errm_FileOrder16(std::uint16_t value) {
    if (errm_G.ByteOrder == 1) return value;
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

void errm_FileOrderArray32(std::uint32_t *words, std::size_t count);

// Unaligned reads at a position of the selected view, in file order. The
// bytes are assembled in memory order, as the host reads a word, and then
// converted: the same rule as for the header and directory words.
inline void errm_ReadFileU32(const unsigned char *pos, std::uint32_t *result) {
    std::uint32_t v;
    std::memcpy(&v, pos, sizeof v);
    *result = errm_FileOrder32(v);
}

inline void errm_ReadFileU16(const unsigned char *pos, std::uint16_t *result) {
    std::uint16_t v;
    std::memcpy(&v, pos, sizeof v);
    *result = errm_FileOrder16(v);
}

inline void errm_ReadFileU8(const unsigned char *pos, std::uint8_t *result) {
    *result = *pos;
}

// Builds <root>/errm_desc_<NAME upper-cased>.bin for a subsystem name into
// path (ERRM_NAME_CAP bytes). 0, or a reported 1078 (a name of 64 characters
// or more), 1077 (a path too long, reported with the part that fits) or 1071
// (a name holding '/', which names no file of the root).
int errm_DescriptorPath(const char *subsystem, char *path);

// A descriptor is read whole into memory the library owns when it is
// loaded: later reads never touch the file, which may change or vanish.

// 1 when a header's first word, converted to host order (magic), is the
// descriptor magic and its file bytes (header) are 17 34 78 45.
int errm_IsDescriptorMagic(const unsigned char *header, std::uint32_t magic);

// One descriptor file being read: the reader that the loader and the
// information reader pass from step to step.
struct errm_DescriptorFile {
    errm_FileCopy file;                          // descriptor, size, copy (null until made)
    const char *path;                            // the file's path, for reports
    unsigned char raw[ERRM_DESC_HEADER];         // the header as the file holds it
    std::uint32_t words[ERRM_DESC_HEADER_WORDS]; // its first words in host order
};

// Where the parts of a validated descriptor lie in its copy.
struct errm_DescriptorLayout {
    std::size_t nameAt;          // offset of the subsystem name
    std::size_t nameLength;      // its bytes, 1..63
    std::size_t displayAt;       // offset of the display name
    std::size_t displayLength;   // its bytes
    std::size_t directoryOffset; // offset of the first directory record
    std::uint32_t entryCount;    // directory records
};

// Opens an existing regular file read-only, without blocking (a FIFO, a
// device or a directory is refused like a missing file), and reads its
// header: 0, or 1071 (not opened), 1069 (empty, or the header not read) or
// 1075 (shorter than a header), the file then closed. The caller reports the
// code with the path, under its own source name.
int errm_OpenDescriptorFile(const char *path, errm_DescriptorFile *d);
// 0 when the header holds the magic, 1048 otherwise (the caller reports it
// with the magic word, d.words[0]).
int errm_CheckDescriptorMagic(const errm_DescriptorFile &d);
// Memory for the copy of the whole file, its first byte at the file's own
// alignment (a read between equally aligned addresses is the fast one): 0,
// or 1069 reported.
int errm_AllocateDescriptorCopy(errm_DescriptorFile *d);
// Fills the copy: the header bytes already read, then the rest of the file,
// read in one pass that digests the checksummed range as it arrives (when
// the range lies in the file; digest is then its MD5), and closes the file.
// 0, or 1069 reported when the file could not be read whole.
int errm_FillDescriptorCopy(errm_DescriptorFile *d, unsigned char digest[16]);
// Checks every size the header records against the file: the names, the
// checksummed range and the directory lie in it. 0 (layout filled), or 1075
// reported.
int errm_ValidateDescriptor(const errm_DescriptorFile &d, errm_DescriptorLayout *layout);
// Closes the file and gives back its copy, when they are held.
void errm_ReleaseDescriptorFile(errm_DescriptorFile *d);
// Gives back a copy that a row kept.
void errm_ReleaseDescriptorCopy(const unsigned char *base, std::size_t size);

// ------------------------------------------------------- subsystem table

// A directory record, read in place in the file's copy. The copy keeps the
// file's alignment (a read between equally aligned addresses is the fast
// one), so a directory may start at any byte: the record is packed, and the
// compiler reads its fields as unaligned words.
struct __attribute__((packed)) errm_DirRecord {
    std::int32_t number;  // message number
    std::uint32_t offset; // file offset of the entry record
    std::uint32_t spare;  // carried, unused
};
static_assert(sizeof(errm_DirRecord) == ERRM_DESC_DIR_RECORD && alignof(errm_DirRecord) == 1,
              "a directory record is 12 bytes at any address");

// Converts a directory's records to host order in place (nothing on a
// little-endian host).
void errm_FileOrderDirectory(errm_DirRecord *records, std::size_t count);

// An index of a strictly ascending directory, built at load: the numbers
// from the first on fall into buckets of 2^shift consecutive numbers, and
// buckets[b] is the directory position of the first record of bucket b
// (buckets[count] is N). A search then looks at one bucket's records only,
// about two on a catalogue numbered evenly, never more than the whole
// directory on one that is not. Where the numbers are spread evenly, a
// number's position is also guessed from its distance to the first, so that
// its directory record is fetched while the bucket is read.
struct errm_NumberIndex {
    const std::uint32_t *buckets; // count + 1 positions; nullptr: no index
    std::uint32_t count;          // buckets
    int shift;                    // bucket of a number: (number - first) >> shift
    std::int32_t first;           // the directory's first (lowest) number
    std::uint64_t step;           // positions per number, 32.32 fixed point
};

struct errm_SubsystemRow {
    char *name;                    // subsystem name read from the file
    char *displayName;             // display name, "" when none
    errm_DirRecord *directory;     // the directory, in host order, inside the copy
    const unsigned char *viewBase; // start of the file's in-memory copy
    std::size_t viewSize;          // bytes of the copy (the file's size)
    std::uint32_t *counters;       // display counters, N + 1
    int loaded;                    // 1 for a filled row
    int index;                     // the row's own index
    int entryCount;                // N
    errm_NumberIndex numbers;      // bucket index of the directory (after the counters)
    std::uint32_t *formatsChecked; // a bit a record, set once its format was found free
                                   // of %n (after the index, in the same block)
};

extern errm_SubsystemRow errm_Subsystems[ERRM_SS_ROWS];

// Loads the descriptor of a subsystem into a free row of the table and
// stores the row's index: 0, 1 when the trace cannot be opened, or the code
// of the failure (reported). The work of ERRM_ReadErrorDescriptor.
int errm_ReadErrorDescriptor(const char *subsystem, int *index);

#ifdef ERRM_TESTING
// Test build only: loads counted over the process's life (never reset).
int errm_LoadedCount();
// Test build only: sets the count of loads back to 0 so that a fuzzer can
// load one descriptor per run for ever. Call only between ERRM_FInit and the
// next ERRM_Init, when no row is loaded.
void errm_TestResetLoadedCount();
#endif

// ERRM_Init's step: releases rows left loaded by an earlier cycle and marks
// every row unloaded. The loaded count is not changed.
void errm_ClearSubsystemTable();

// ERRM_FInit's step: releases every loaded row.
void errm_ReleaseSubsystems();

// Dumps up to 256 bytes in hexadecimal into out (capacity cap) and prints it.
// 1 when the whole dump fitted.
int errm_DumpBytes(const char *title, char *out, int cap, const unsigned char *bytes, int count);

// ----------------------------------------------------------- entry cache

// One piece of a format cut at its conversions: the literal text's length,
// then the bare conversion character after it ('s', 'd', 'i', 'u', '%'), 0
// after the last literal.
struct errm_FmtPiece {
    std::uint16_t literal; // bytes of literal text
    char conversion;       // the conversion that follows, 0 at the end
};

// The fields a cached message reads on every call come first, in the order
// the message path reads them, so that they share a few cache lines; the
// long texts, read at decoding and for follow-ups only, come last.
struct alignas(64) errm_MessageEntry {
    int number;               // message number of the record
    int severity;             // 1..8
    std::uint16_t idLength;   // 0: no identifier text
    std::int16_t planCount;   // pieces in plan, 0 until first formatted, -1 none
    unsigned formatEstimate;  // size estimate of format, 0 until first needed
    unsigned dateKind;        // 0..3 (others show an empty stamp)
    int owner;                // subsystem index the entry was decoded from
    std::uint16_t prefixLen;  // decoration before the text, 0 until first built
    std::int16_t reportCount; // used positions of reports
    unsigned prefixContext;   // errm_Ctx.generation the prefix was built under
    int prefixNumber;         // message number the prefix was built for
    std::uint8_t reports[ERRM_DESC_REPORTS_MAX]; // channel ids, 17 beyond the count
    std::uint32_t *counter;   // display counter, in the owner row's array
    int seeFlag;              // 1 when the see text is present
    int catFlag;              // 1 when present
    int cmdFlag;              // 1 when present
    std::int16_t rc;          // return code
    int forceDisplay;         // 1: shown even when verbose mode is 0
    errm_FmtPiece plan[16];   // format cut at its conversions, when all are bare
    char prefix[120];         // "** Severity: (label - id) " of an undated line
    char format[ERRM_DESC_FORMAT_MAX + 1]; // printf format, "" when none
    char id[ERRM_DESC_ID_MAX + 1]; // identifier text
    char see[ERRM_DESC_LONG_TEXT_MAX + 1]; // see text, "?" when absent
    char cat[ERRM_DESC_LONG_TEXT_MAX + 1]; // "FILE=name", "?" when absent
    char cmd[ERRM_DESC_LONG_TEXT_MAX + 1]; // "CMD=command", "?" when absent
};

// The subsystem of the last entry load (refreshed by every load).
struct errm_SubsystemContext {
    char name[ERRM_DESC_NAME_MAX + 1]; // subsystem name
    char displayName[256]; // display name of the row
    int hasDisplayName;    // 1 when the display name is non-empty
    int owner;             // subsystem index the context was taken from
    unsigned generation;   // counts the copies from a row
    std::size_t labelLength; // length of the label (display name, else name)
};

extern errm_SubsystemContext errm_Ctx;

void errm_ResetEntryCache();
int errm_FindCachedEntry(int number);
int errm_LoadEntry(int subsystem, int number);
void errm_RegisterCachedEntry(int number);
int errm_FindDirectoryEntry(const errm_DirRecord *directory, int number, int count);
// Positions the bucket index of a directory of count records takes (0: the
// directory gets none: too small, or not ascending at its ends).
std::size_t errm_NumberIndexWords(const errm_DirRecord *directory, int count);
// Fills the bucket index into storage (words from errm_NumberIndexWords);
// buckets is nullptr when there is none or the directory is not strictly
// ascending, and a search then covers the whole directory.
errm_NumberIndex errm_BuildNumberIndex(const errm_DirRecord *directory, int count,
                                       std::uint32_t *storage, std::size_t words);
#ifdef ERRM_TESTING
// Test build only: the position a number would have in a directory of count
// records numbered evenly from the index's first to its last (a guess,
// always below count).
std::uint32_t errm_GuessPosition(const errm_NumberIndex &index, int count, int number);
#endif
// Directory position of a number through the index: the same answer as
// errm_FindDirectoryEntry, -1 when absent.
int errm_FindNumber(const errm_DirRecord *directory, int count, const errm_NumberIndex &index,
                    int number);
int errm_RegisterEnvName(const char *name);
#ifdef ERRM_TESTING
// Test build only: empties the environment name table, which otherwise only
// grows for the life of the process (fuzzers decode many catalogues).
void errm_TestResetEnvNames();
// Test build only: the value recorded for an environment name, null when not
// recorded.
const char *errm_EnvNameValue(const char *name);
#endif

// The current entry (last made current), null before the first lookup.
// Kept by the entry cache alone.
extern errm_MessageEntry *errm_CurrentMessage;
inline errm_MessageEntry *errm_CurrentEntry() {
    return errm_CurrentMessage;
}
#ifdef ERRM_TESTING
// Test build only: the slot that a load fills next.
int errm_CacheNextPosition();
// Test build only: subsystem index of the last successful lookup, -1 at start.
int errm_CurrentSubsystem();
#endif

// Finds or loads (subsystem, number) and makes it current; handles the
// change of subsystem. 0 or the loader's code.
int errm_LookupEntry(unsigned subsystem, int number);


// The label of a subsystem in messages: its display name when present.
const char *errm_SubsystemLabel();
// The same with its length, kept with the context.
std::string_view errm_SubsystemLabelText();

// Takes the context from a loaded subsystem row (no-op when it already is).
void errm_TakeSubsystemContext(int subsystem);
inline void errm_SetSubsystemContext(int subsystem) {
    if (subsystem != errm_Ctx.owner) errm_TakeSubsystemContext(subsystem);
}

// Forgets the current entry and subsystem (a new cycle starts with none).
void errm_ClearCurrentEntry();

#endif
