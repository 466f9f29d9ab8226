// errm_alloc.cpp - tracked allocation, and in the test build the switch
// that makes a chosen allocation fail.
#include "base/errm_alloc.h"

#include <cstdlib>
#include <cstring>

namespace {

struct AllocState {
    int count; // blocks obtained and not yet released
#ifdef ERRM_TESTING
    long attempts; // allocations attempted since errm_TestFailAllocation
    long failAt;   // attempt number that fails, 0 = none
    int failedTag; // tag of the attempt that failed, 0 = none yet
#endif
};

AllocState g_alloc = {};

// True when the test switch says this attempt must fail.
bool injectedFailure([[maybe_unused]] int tag) {
#ifdef ERRM_TESTING
    ++g_alloc.attempts;
    if (g_alloc.failAt == 0 || g_alloc.attempts != g_alloc.failAt) return false;
    g_alloc.failedTag = tag;
    return true;
#else
    return false;
#endif
}

} // namespace

void *errm_AllocateAndClear(std::size_t size, int tag) {
    if (injectedFailure(tag)) return nullptr;
    void *block = std::calloc(1, size == 0 ? 1 : size);
    if (block != nullptr) ++g_alloc.count;
    return block;
}

void *errm_AllocateWOClear(std::size_t size, int tag) {
    if (injectedFailure(tag)) return nullptr;
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) ++g_alloc.count;
    return block;
}

void *errm_ReAllocateWOClear(void *block, std::size_t size, int tag) {
    if (injectedFailure(tag)) return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

void errm_DeAllocate(void *block, int /*tag*/) {
    if (block == nullptr) return;
    std::free(block);
    --g_alloc.count;
}

int errm_AllocationCount() {
    return g_alloc.count;
}

#ifdef ERRM_TESTING
long errm_TestFailAllocation(long n) {
    long attempts = g_alloc.attempts;
    g_alloc.attempts = 0;
    g_alloc.failAt = n;
    g_alloc.failedTag = 0;
    return attempts;
}

int errm_TestFailedTag() {
    return g_alloc.failedTag;
}
#endif
