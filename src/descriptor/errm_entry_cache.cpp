// errm_entry_cache.cpp - the 16-slot round-robin cache of decoded entries
// and the lookup that finds or decodes a message and makes it current.
//
// Sections: cache state; cache operations; lookup.
#include "descriptor/errm_decode.h"
#include "descriptor/errm_desc.h"

#include <array>
#include <utility>

// ------------------------------------------------------------- cache state

namespace {

struct CacheKey {
    int number; // message number, -1 when free
    int slot;   // equal to the key's position, -1 when free
};

// The fields every lookup reads come first, the entries last.
struct EntryCache {
    int next;             // position the next load fills
    int current;          // slot of the current entry, -1 before the first
    int currentSubsystem; // subsystem of the last successful lookup
    std::array<CacheKey, ERRM_CACHE_SLOTS> keys;
    std::array<errm_MessageEntry *, ERRM_CACHE_SLOTS> slots; // slot -> entry
    // Decoding goes into the spare entry, which is swapped into its slot only
    // when the whole record decoded: a failed load never leaves a cached
    // message half overwritten.
    errm_MessageEntry *spare; // next decode target
    std::array<errm_MessageEntry, ERRM_CACHE_SLOTS + 1> storage;
};

EntryCache g_cache;

// Makes slot the current one (-1: none).
void setCurrent(int slot) {
    g_cache.current = slot;
    errm_CurrentMessage = slot < 0 ? nullptr : g_cache.slots[static_cast<std::size_t>(slot)];
}

struct CacheInit {
    CacheInit() {
        for (int i = 0; i < ERRM_CACHE_SLOTS; ++i)
            g_cache.slots[i] = &g_cache.storage[i];
        g_cache.spare = &g_cache.storage[ERRM_CACHE_SLOTS];
        for (CacheKey &k : g_cache.keys)
            k = {-1, -1};
        g_cache.next = 0;
        setCurrent(-1);
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
    setCurrent(g_cache.next);
    g_cache.next = g_cache.next == ERRM_CACHE_SLOTS - 1 ? 0 : g_cache.next + 1;
}

errm_MessageEntry *errm_CurrentMessage = nullptr;

#ifdef ERRM_TESTING
int errm_CacheNextPosition() {
    return g_cache.next;
}

int errm_CurrentSubsystem() {
    return g_cache.currentSubsystem;
}
#endif

void errm_ClearCurrentEntry() {
    errm_ResetEntryCache();
    errm_Ctx.owner = -1;
    setCurrent(-1);
    g_cache.currentSubsystem = -1;
}

// ------------------------------------------------------------------ lookup

[[gnu::cold, gnu::noinline]] int errm_LoadEntry(int subsystem, int number) {
    int rc = errm_DecodeEntry(subsystem, number, *g_cache.spare);
    if (rc != 0) return rc;
    std::swap(g_cache.slots[static_cast<std::size_t>(g_cache.next)], g_cache.spare);
    return 0;
}

[[gnu::hot]] int errm_LookupEntry(unsigned subsystem, int number) {
    int index = static_cast<int>(subsystem);
    // The message of the last call again: its key is the current slot's.
    if (index == g_cache.currentSubsystem && g_cache.current >= 0) {
        const CacheKey &k = g_cache.keys[static_cast<std::size_t>(g_cache.current)];
        if (k.number == number && k.slot != -1) return 0;
    }
    if (index != g_cache.currentSubsystem) errm_ResetEntryCache();
    int slot = errm_FindCachedEntry(number);
    if (slot >= 0) {
        setCurrent(slot);
    } else {
        int rc = errm_LoadEntry(index, number);
        if (rc != 0) return rc;
        errm_RegisterCachedEntry(number);
    }
    g_cache.currentSubsystem = index;
    return 0;
}

