// errm_entry.cpp - message lookup: directory search, entry decoding, the
// 16-slot round-robin entry cache and the environment name table.
//
// Sections: cache state; cache operations; directory search; environment
// names; entry decoding; lookup.
#include "base/errm_conv.h"
#include "base/errm_interr.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

errm_SubsystemContext errm_Ctx = {{}, {}, 0, -1, 0, 0};

// ------------------------------------------------------------- cache state

namespace {

struct CacheKey {
    int number; // message number, -1 when free
    int slot;   // equal to the key's position, -1 when free
};

struct EntryCache {
    // Decoding goes into the spare entry, which is swapped into its slot only
    // when the whole record decoded: a failed load never leaves a cached
    // message half overwritten.
    std::array<errm_MessageEntry, ERRM_CACHE_SLOTS + 1> storage;
    std::array<errm_MessageEntry *, ERRM_CACHE_SLOTS> slots; // slot -> entry
    errm_MessageEntry *spare;                                // next decode target
    std::array<CacheKey, ERRM_CACHE_SLOTS> keys;
    int next;             // position the next load fills
    int current;          // slot of the current entry, -1 before the first
    int currentSubsystem; // subsystem of the last successful lookup
};

EntryCache g_cache;

struct CacheInit {
    CacheInit() {
        for (int i = 0; i < ERRM_CACHE_SLOTS; ++i)
            g_cache.slots[i] = &g_cache.storage[i];
        g_cache.spare = &g_cache.storage[ERRM_CACHE_SLOTS];
        for (CacheKey &k : g_cache.keys)
            k = {-1, -1};
        g_cache.next = 0;
        g_cache.current = -1;
        g_cache.currentSubsystem = -1;
    }
};
const CacheInit g_cacheInit;

} // namespace

// -------------------------------------------------------- cache operations

void errm_ResetEntryCache() {
    for (CacheKey &k : g_cache.keys)
        k = {-1, -1};
    g_cache.next = 0;
}

int errm_FindCachedEntry(int number) {
    // The number first: it rarely matches, so most keys cost one test.
    for (const CacheKey &k : g_cache.keys)
        if (k.number == number && k.slot != -1) return k.slot;
    return -1;
}

void errm_RegisterCachedEntry(int number) {
    g_cache.keys[static_cast<std::size_t>(g_cache.next)] = {number, g_cache.next};
    g_cache.current = g_cache.next;
    g_cache.next = g_cache.next == ERRM_CACHE_SLOTS - 1 ? 0 : g_cache.next + 1;
}

errm_MessageEntry *errm_CurrentEntry() {
    return g_cache.current < 0 ? nullptr : g_cache.slots[static_cast<std::size_t>(g_cache.current)];
}

errm_MessageEntry *errm_CachedEntry(int slot) {
    return g_cache.slots[static_cast<std::size_t>(slot) % ERRM_CACHE_SLOTS];
}

int errm_CacheNextPosition() {
    return g_cache.next;
}

void errm_ClearCurrentEntry() {
    errm_ResetEntryCache();
    errm_Ctx.owner = -1;
    g_cache.current = -1;
    g_cache.currentSubsystem = -1;
}

int errm_CurrentSubsystem() {
    return g_cache.currentSubsystem;
}

// -------------------------------------------------------- directory search

int errm_FindDirectoryEntry(const errm_DirRecord *directory, int number, int count) {
    if (count < 1) return -1;
    int low = 1, high = count;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        int found = directory[middle - 1].number;
        if (found == number) return middle - 1;
        if (found > number)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return -1;
}

namespace {

// Below this many records a binary search of the directory is as quick.
constexpr int kIndexMinRecords = 16;

// The smallest shift that makes at most `buckets` buckets of the numbers
// first..last.
int bucketShift(std::int32_t first, std::int32_t last, std::uint64_t buckets) {
    std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(last) - first);
    int shift = 0;
    while ((range >> shift) + 1 > buckets)
        ++shift;
    return shift;
}

} // namespace

std::size_t errm_NumberIndexWords(const errm_DirRecord *directory, int count) {
    if (count < kIndexMinRecords) return 0;
    std::int32_t first = directory[0].number, last = directory[count - 1].number;
    if (last <= first) return 0;
    // About two records a bucket: an index of half a word per message.
    int shift = bucketShift(first, last, static_cast<std::uint64_t>(count) / 2);
    std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(last) - first);
    return static_cast<std::size_t>((range >> shift) + 2);
}

errm_NumberIndex errm_BuildNumberIndex(const errm_DirRecord *directory, int count,
                                       std::uint32_t *storage, std::size_t words) {
    errm_NumberIndex none{nullptr, 0, 0, 0, 0};
    if (storage == nullptr || words < 2 || count < 1) return none;
    std::int32_t first = directory[0].number;
    std::uint32_t buckets = static_cast<std::uint32_t>(words - 1);
    int shift = bucketShift(first, directory[count - 1].number, buckets);
    // count <= range + 1 on a strictly ascending directory: step <= 2^32,
    // and a distance below 2^32 times it fits 64 bits.
    std::uint64_t range = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(directory[count - 1].number) - first);
    std::uint64_t step = (static_cast<std::uint64_t>(count) << 32) / (range + 1);
    std::uint32_t b = 0;
    for (int i = 0; i < count; ++i) {
        std::int32_t n = directory[i].number;
        if (i > 0 && n <= directory[i - 1].number) return none;
        std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::int64_t>(n) - first) >> shift;
        if (key >= buckets) return none;
        while (b <= key)
            storage[b++] = static_cast<std::uint32_t>(i);
    }
    while (b <= buckets)
        storage[b++] = static_cast<std::uint32_t>(count);
    return errm_NumberIndex{storage, buckets, shift, first, step};
}

namespace {

// The guess for a number at distance (below 2^32) from the first, count > 0.
inline std::uint32_t guessAt(const errm_NumberIndex &index, std::uint32_t count,
                             std::uint64_t distance) {
    std::uint32_t guess = static_cast<std::uint32_t>((distance * index.step) >> 32);
    return guess < count ? guess : count - 1;
}

} // namespace

std::uint32_t errm_GuessPosition(const errm_NumberIndex &index, int count, int number) {
    if (count < 1 || number <= index.first) return 0;
    return guessAt(index, static_cast<std::uint32_t>(count),
                   static_cast<std::uint64_t>(static_cast<std::int64_t>(number) - index.first));
}

int errm_FindNumber(const errm_DirRecord *directory, int count, const errm_NumberIndex &index,
                    int number) {
    if (index.buckets == nullptr) return errm_FindDirectoryEntry(directory, number, count);
    if (number < index.first) return -1;
    std::uint64_t distance =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(number) - index.first);
    std::uint64_t key = distance >> index.shift;
    if (key >= index.count) return -1;
    // The record at the guessed position is asked for before the bucket is
    // read: on a large catalogue both are cache misses, and they overlap.
    __builtin_prefetch(&directory[guessAt(index, static_cast<std::uint32_t>(count), distance)]);
    int low = static_cast<int>(index.buckets[key]);
    int found = errm_FindDirectoryEntry(directory + low, number,
                                        static_cast<int>(index.buckets[key + 1]) - low);
    return found < 0 ? -1 : low + found;
}

// ------------------------------------------------------- environment names

namespace {

struct EnvName {
    int inUse;        // 1 for a used row
    int length;       // name length
    char name[129];   // variable name
    char value[1024]; // its value when first seen
};

struct EnvTable {
    std::array<EnvName, 32> rows;
    int count; // used rows, never reset
};

EnvTable g_env = {};

} // namespace

int errm_RegisterEnvName(const char *name) {
    for (int i = 0; i < g_env.count; ++i)
        if (std::strcmp(g_env.rows[static_cast<std::size_t>(i)].name, name) == 0) return 1;
    if (g_env.count >= 32) {
        errm_ReportInternalError(ERRM_E_TOO_MANY_ENV, g_env.count, ERRM_SRC_PATH, __LINE__);
        return 0;
    }
    EnvName &row = g_env.rows[static_cast<std::size_t>(g_env.count)];
    row.inUse = 1;
    row.length = static_cast<int>(std::strlen(name));
    errm_StrCopy(row.name, sizeof row.name, name);
    row.value[0] = '\0';
    if (const char *value = std::getenv(name)) {
        if (!errm_StrCopy(row.value, sizeof row.value, value))
            errm_StrCopy(row.value, sizeof row.value, "?");
    }
    ++g_env.count;
    return 1;
}

#ifdef ERRM_TESTING
void errm_TestResetEnvNames() {
    g_env = {};
}
#endif

const char *errm_EnvNameValue(const char *name) {
    for (int i = 0; i < g_env.count; ++i)
        if (std::strcmp(g_env.rows[static_cast<std::size_t>(i)].name, name) == 0)
            return g_env.rows[static_cast<std::size_t>(i)].value;
    return nullptr;
}

// ----------------------------------------------------------- entry decoding

namespace {

// A read cursor over one entry record, bounded by the end of the view.
struct Cursor {
    const unsigned char *pos;
    const unsigned char *end;

    bool has(std::size_t n) const { return static_cast<std::size_t>(end - pos) >= n; }
    bool u8(std::uint8_t *v) {
        if (!has(1)) return false;
        errm_ReadFileU8(pos, v);
        pos += 1;
        return true;
    }
    bool u16(std::uint16_t *v) {
        if (!has(2)) return false;
        errm_ReadFileU16(pos, v);
        pos += 2;
        return true;
    }
    bool u32(std::uint32_t *v) {
        if (!has(4)) return false;
        errm_ReadFileU32(pos, v);
        pos += 4;
        return true;
    }
    // Copies n bytes and a terminator into dst (capacity > n is the caller's).
    bool text(char *dst, std::size_t n) {
        if (!has(n)) return false;
        std::memcpy(dst, pos, n);
        dst[n] = '\0';
        pos += n;
        return true;
    }
    bool skip(std::size_t n) {
        if (!has(n)) return false;
        pos += n;
        return true;
    }
};

int badField(const char *what) {
    ERRM_REPORT(ERRM_E_INTERNAL, what);
    return ERRM_E_INTERNAL;
}

int outsideFile(const char *name) {
    ERRM_REPORT(ERRM_E_READ_MAPPED, name);
    return ERRM_E_READ_MAPPED;
}

// Reads an optional text whose length must be 0 or lo..1023.
enum class TextResult { Ok, Bad, Outside };
// Inlined: called three times a decoding, where the call would cost more
// than the usual empty text.
[[gnu::always_inline]] inline TextResult optionalText(Cursor &c, int lo, char *dst, int *flag) {
    std::uint16_t len;
    if (!c.u16(&len)) return TextResult::Outside;
    if (len == 0) {
        *flag = 0;
        std::memcpy(dst, "?", 2);
        return TextResult::Ok;
    }
    if (len < lo || len > 1023) return TextResult::Bad;
    if (!c.text(dst, len)) return TextResult::Outside;
    *flag = 1;
    return TextResult::Ok;
}

} // namespace

int errm_LoadEntry(int subsystem, int number) {
    if (static_cast<unsigned>(subsystem) > 15) {
        ERRM_REPORT(ERRM_E_BAD_INDEX, subsystem);
        return ERRM_E_BAD_INDEX;
    }
    const errm_SubsystemRow &row = errm_Subsystems[subsystem];
    if (row.loaded != 1) {
        ERRM_REPORT0(ERRM_E_NOT_LOADED);
        return ERRM_E_NOT_LOADED;
    }
    // The context follows the subsystem of the last load.
    errm_SetSubsystemContext(subsystem);

    int dirIndex = errm_FindNumber(row.directory, row.entryCount, row.numbers, number);
    if (dirIndex < 0) {
        ERRM_REPORT(ERRM_E_NOT_FOUND, number);
        return ERRM_E_NOT_FOUND;
    }
    // On a large catalogue the counter, the flags and the record's lines are
    // each a cache miss of their own: asked for together, they overlap
    // instead of following one another through the decoding. The counter and
    // the flags are written back when the message is done with.
    __builtin_prefetch(&row.counters[dirIndex], 1);
    __builtin_prefetch(&row.flags[dirIndex], 1);
    const std::size_t offset = row.directory[dirIndex].offset;
    if (offset > row.viewSize) return outsideFile(row.name);
    Cursor c{row.viewBase + offset, row.viewBase + row.viewSize};
    if (c.has(65)) __builtin_prefetch(c.pos + 64);
    errm_MessageEntry &e = *g_cache.spare;

    std::uint32_t spare, nameLen;
    if (!c.u32(&spare) || !c.u32(&nameLen)) return outsideFile(row.name);
    if (nameLen == 0 || nameLen >= 1024) return badField("size desc=0");
    if (!c.skip(nameLen)) return outsideFile(row.name);
    e.dirIndex = dirIndex;

    std::uint32_t recNumber;
    if (!c.u32(&recNumber)) return outsideFile(row.name);
    e.number = static_cast<std::int32_t>(recNumber);
    if (e.number != number) {
        ERRM_REPORT(ERRM_E_BAD_ENTRY_NUMBER, e.number);
        return ERRM_E_BAD_ENTRY_NUMBER;
    }

    std::uint16_t len;
    if (!c.u16(&len)) return outsideFile(row.name);
    if (len >= 1024) return badField("size report code insufficient");
    if (!c.text(e.id, len)) return outsideFile(row.name);
    e.idLength = len;

    std::uint8_t severity;
    if (!c.u8(&severity)) return outsideFile(row.name);
    if (severity < 1 || severity > 8) {
        ERRM_REPORT(ERRM_E_SEVERITY, static_cast<int>(severity));
        return ERRM_E_SEVERITY;
    }
    e.severity = severity;

    if (!c.u16(&len)) return outsideFile(row.name);
    if (len > 128) return badField("env name length");
    if (len > 0) {
        char envName[129];
        if (!c.text(envName, len)) return outsideFile(row.name);
        if (!errm_RegisterEnvName(envName)) return ERRM_E_TOO_MANY_ENV;
    }

    if (!c.u16(&len)) return outsideFile(row.name);
    if (len >= 4096) return badField("format length");
    if (!c.text(e.format, len)) return outsideFile(row.name);
    e.formatEstimate = 0; // estimated when the entry is first formatted
    e.prefixLen = 0;      // built when the entry is first decorated
    // A catalogue must never make the library write through an argument.
    // The copy does not change after load, so a format is parsed for %n at
    // its record's first decoding only.
    std::uint32_t &checked = row.formatsChecked[static_cast<unsigned>(dirIndex) / 32];
    const std::uint32_t bit = std::uint32_t{1} << (static_cast<unsigned>(dirIndex) % 32);
    if ((checked & bit) == 0) {
        if (errm_ConvHoldsCount(e.format)) return badField("format %n");
        checked |= bit;
    }

    if (!c.u16(&len)) return outsideFile(row.name);
    if (len >= 4096) return badField("second text length");
    if (!c.skip(len)) return outsideFile(row.name);

    std::uint8_t spareByte, force, count;
    if (!c.u8(&spareByte) || !c.u8(&force)) return outsideFile(row.name);
    e.forceDisplay = force == 1 ? 1 : 0;
    e.counter = row.counters[dirIndex];
    e.flags = row.flags[dirIndex];

    if (!c.u8(&count)) return outsideFile(row.name);
    if (count > 16) return badField("report count");
    e.reportCount = count;
    std::memset(e.reports, 17, sizeof e.reports);
    if (!c.has(count)) return outsideFile(row.name);
    std::memcpy(e.reports, c.pos, count);
    c.pos += count;

    TextResult r = optionalText(c, 2, e.see, &e.seeFlag);
    if (r == TextResult::Bad) return badField("see length");
    if (r == TextResult::Outside) return outsideFile(row.name);

    std::uint8_t dateKind;
    if (!c.u8(&dateKind)) return outsideFile(row.name);
    e.dateKind = dateKind;

    r = optionalText(c, 2, e.cat, &e.catFlag);
    if (r == TextResult::Bad) return badField("cat length");
    if (r == TextResult::Outside) return outsideFile(row.name);
    r = optionalText(c, 2, e.cmd, &e.cmdFlag);
    if (r == TextResult::Bad) return badField("command length");
    if (r == TextResult::Outside) return outsideFile(row.name);

    std::uint16_t rc;
    if (!c.u16(&rc)) return outsideFile(row.name);
    e.rc = static_cast<std::int16_t>(rc);
    e.owner = subsystem;

    std::swap(g_cache.slots[static_cast<std::size_t>(g_cache.next)], g_cache.spare);
    return 0;
}

// ------------------------------------------------------------------ lookup

int errm_LookupEntry(unsigned subsystem, int number) {
    int index = static_cast<int>(subsystem);
    if (index != g_cache.currentSubsystem) errm_ResetEntryCache();
    int slot = errm_FindCachedEntry(number);
    if (slot >= 0) {
        g_cache.current = slot;
    } else {
        int rc = errm_LoadEntry(index, number);
        if (rc != 0) return rc;
        errm_RegisterCachedEntry(number);
    }
    g_cache.currentSubsystem = index;
    return 0;
}

void errm_SetSubsystemContext(int subsystem) {
    if (subsystem == errm_Ctx.owner || subsystem < 0 || subsystem >= ERRM_SS_ROWS) return;
    const errm_SubsystemRow &row = errm_Subsystems[subsystem];
    if (row.loaded != 1) return;
    errm_StrCopy(errm_Ctx.name, sizeof errm_Ctx.name, row.name);
    errm_StrCopy(errm_Ctx.displayName, sizeof errm_Ctx.displayName, row.displayName);
    errm_Ctx.hasDisplayName = row.displayName[0] != '\0' ? 1 : 0;
    errm_Ctx.owner = subsystem;
    ++errm_Ctx.generation;
    errm_Ctx.labelLength = std::strlen(errm_SubsystemLabel());
}

const char *errm_SubsystemLabel() {
    return errm_Ctx.hasDisplayName ? errm_Ctx.displayName : errm_Ctx.name;
}

std::string_view errm_SubsystemLabelText() {
    return {errm_SubsystemLabel(), errm_Ctx.labelLength};
}

void errm_StoreEntryCounter(const errm_MessageEntry *entry) {
    // Only the owner's arrays: another subsystem's may be smaller.
    int owner = entry->owner;
    if (owner < 0 || owner >= ERRM_SS_ROWS) return;
    errm_SubsystemRow &row = errm_Subsystems[owner];
    if (row.loaded != 1 || entry->dirIndex < 0 || entry->dirIndex >= row.entryCount) return;
    row.counters[entry->dirIndex] = entry->counter;
    row.flags[entry->dirIndex] = entry->flags;
}
