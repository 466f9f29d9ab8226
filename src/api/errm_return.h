// errm_return.h - the Return buffers: one per thread, for the text that
// ERRM_Get_ErrorMessage hands back.
//
// errm_G.ReturnBuffer and errm_G.ReturnCapacity are the Return buffer of the
// thread inside the library: a call that keeps or releases texts binds the
// calling thread's buffer there first (errm_ReturnBinding), works on it as
// on one buffer, and the binding stores it back, moved or grown, at the end.
// A thread's text therefore stays where it is while other threads call.
//
// A thread gets its buffer at ERRM_Init (the initialising thread) or at its
// first retrieval in the cycle (any other thread). Buffers are released at
// ERRM_FInit and at the next ERRM_Init, whichever thread calls them, and at
// the exit of their thread. All of it runs under the api lock.
#ifndef ERRM_RETURN_H
#define ERRM_RETURN_H

#include <cstddef>

struct errm_ThreadReturn;

// Binds the calling thread's Return buffer into errm_G for the scope.
class errm_ReturnBinding {
  public:
    errm_ReturnBinding();
    ~errm_ReturnBinding();
    errm_ReturnBinding(const errm_ReturnBinding &) = delete;
    errm_ReturnBinding &operator=(const errm_ReturnBinding &) = delete;

  private:
    errm_ThreadReturn *slot_;
};

// Gives the bound thread a buffer of the initial capacity, when it has none
// and a cycle is open; reports 1068 when the allocation fails. Returns 1
// when errm_G.ReturnBuffer is usable, 0 otherwise.
int errm_EnsureReturnBuffer();

// Releases every thread's buffer (errm_G's included) and closes the cycle.
// Returns 1 when a cycle was open.
int errm_ReleaseReturnBuffers(int tag);

// Opens a cycle: from now on a thread without a buffer gets one.
void errm_OpenReturnCycle();

#endif
