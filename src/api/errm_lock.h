// errm_lock.h - the one process-wide lock of the exported functions.
//
// Every exported function holds the lock for its whole call, so calls from
// any number of threads run one at a time; the layers below never include
// this header and assume the lock is held. A variadic function forwards to
// its _variadic twin, which alone takes the lock.
//
// The lock is a plain mutex: uncontended, one atomic exchange to enter and
// one to leave. A process that has never started a second thread skips it:
// the C library says so (__libc_single_threaded), and no thread can start
// during a call, since the library starts none and calls no client code.
// The owner is recorded so that the fork handlers can tell a fork from
// inside a call (the child goes on with that call) from a fork by another
// thread (the child starts with the lock free).
#ifndef ERRM_LOCK_H
#define ERRM_LOCK_H

#include <atomic>
#include <pthread.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define ERRM_ONE_THREAD() (__libc_single_threaded != 0)
#else
#define ERRM_ONE_THREAD() false
#endif

struct errm_ApiLockState {
    pthread_mutex_t mutex;        // held for the whole of every exported call
    std::atomic<pthread_t> owner; // thread inside the library, 0 when none
};

extern errm_ApiLockState errm_ApiLockG;

// Holds the lock from construction to the end of the scope.
class errm_ApiLock {
  public:
    errm_ApiLock() : held_(!ERRM_ONE_THREAD()) {
        if (!held_) return;
        pthread_mutex_lock(&errm_ApiLockG.mutex);
        errm_ApiLockG.owner.store(pthread_self(), std::memory_order_relaxed);
    }
    ~errm_ApiLock() {
        if (!held_) return;
        errm_ApiLockG.owner.store(pthread_t{}, std::memory_order_relaxed);
        pthread_mutex_unlock(&errm_ApiLockG.mutex);
    }
    errm_ApiLock(const errm_ApiLock &) = delete;
    errm_ApiLock &operator=(const errm_ApiLock &) = delete;

  private:
    bool held_; // taken by this call: other threads exist or may have
};

#endif
