// errm_alloc.h - tracked heap allocation.
//
// All heap memory of the library passes through these four operations, each
// given a reference tag that names the calling place. They keep the count of
// blocks obtained and not yet released, and never report anything: a null
// result is the caller's to report (internal error 1068).
#ifndef ERRM_ALLOC_H
#define ERRM_ALLOC_H

#include <cstddef>

void *errm_AllocateAndClear(std::size_t size, int tag);
void *errm_AllocateWOClear(std::size_t size, int tag);
// On failure returns null and the old block stays valid and counted.
void *errm_ReAllocateWOClear(void *block, std::size_t size, int tag);
void errm_DeAllocate(void *block, int tag);

// Blocks obtained and not yet released.
int errm_AllocationCount();

#ifdef ERRM_TESTING
// Test build only: makes the n-th allocation or reallocation from now fail
// (n >= 1); 0 switches the injection off. Returns the number of allocations
// attempted since the last call.
long errm_TestFailAllocation(long n);
// The reference tag of the allocation that the switch made fail since the
// last errm_TestFailAllocation, 0 when none failed yet.
int errm_TestFailedTag();
#endif

#endif
