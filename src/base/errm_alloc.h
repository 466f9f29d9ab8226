// errm_alloc.h - tracked heap allocation.
//
// All heap memory of the library passes through these four operations, each
// given a reference tag that names the calling place. They keep the count of
// blocks obtained and not yet released, and never report anything: a null
// result is the caller's to report (internal error 1068).
#ifndef ERRM_ALLOC_H
#define ERRM_ALLOC_H

#include <cstddef>

// The reference tags of the library's allocations, one for each place that
// obtains or releases a block (the allocation test and the debug lines show
// them).
enum errm_AllocTag : int {
    ERRM_TAG_FM_NAME = 110000,        // a file manager entry's name copy, plus the entry's
                                      // handle (110000..110015)
    ERRM_TAG_PATH = 110872,           // a search-path directory
    ERRM_TAG_PATH_RELEASE = 110964,   // a search-path directory given back
    ERRM_TAG_RETURN = 120521,         // a thread's Return buffer, at init or first retrieval
    ERRM_TAG_RETURN_GROW = 120522,    // the Return buffer grown for a long text
    ERRM_TAG_SS_NAME = 120590,        // a loaded subsystem's name
    ERRM_TAG_SS_DISPLAY = 120591,     // its display name
    ERRM_TAG_SS_COUNTERS = 120593,    // its display counters, number index and checked formats
    ERRM_TAG_RETURN_RELEASE = 124358, // Return buffers given back by ERRM_FInit or a thread's exit
};

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
