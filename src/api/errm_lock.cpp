// errm_lock.cpp - the lock of the exported functions and its fork handlers.
//
// A fork by one thread while another is inside the library would leave the
// child a lock that no thread of the child will ever release, and state
// half-way through a call. The handlers below take the lock before the fork
// (so the state is between two calls), release it in the parent, and give
// the child a fresh lock. A fork made from inside a call (a follow-up
// command run by a platform that forks) is left alone: the child goes on
// with that call and releases the lock itself.
#include "api/errm_lock.h"

errm_ApiLockState errm_ApiLockG = {
    PTHREAD_MUTEX_INITIALIZER, // mutex
    pthread_t{},               // owner
};

namespace {

bool forkFromInsideACall() {
    return pthread_equal(errm_ApiLockG.owner.load(std::memory_order_relaxed), pthread_self()) != 0;
}

void beforeFork() {
    if (!forkFromInsideACall()) pthread_mutex_lock(&errm_ApiLockG.mutex);
}

void afterForkParent() {
    if (!forkFromInsideACall()) pthread_mutex_unlock(&errm_ApiLockG.mutex);
}

void afterForkChild() {
    if (forkFromInsideACall()) return;
    // The child's one thread held the lock through the fork; it starts free.
    pthread_mutex_init(&errm_ApiLockG.mutex, nullptr);
    errm_ApiLockG.owner.store(pthread_t{}, std::memory_order_relaxed);
}

// Registered when the library is loaded, before any call can be made.
const int g_forkHandlers = pthread_atfork(beforeFork, afterForkParent, afterForkChild);

} // namespace
