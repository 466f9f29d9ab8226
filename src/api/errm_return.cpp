// errm_return.cpp - the Return buffers of the threads: the registry of the
// threads that hold one, binding a thread's buffer into errm_G for a call,
// and their release at the end of a cycle or of their thread.
//
// Sections: the registry; binding; cycles and release.
#include "api/errm_return.h"

#include "api/errm_lock.h"
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"

// One thread's Return buffer. It lives in the thread's own storage; at the
// thread's exit its destructor gives the buffer back.
struct errm_ThreadReturn {
    char *buffer = nullptr;            // the thread's Return buffer, null when none
    std::size_t capacity = 0;          // characters it holds before its terminator
    errm_ThreadReturn *next = nullptr; // registry links, while buffer is set
    errm_ThreadReturn *prev = nullptr;
    bool listed = false;    // in the registry
    bool hadBuffer = false; // ever listed; read and written by its own thread only

    errm_ThreadReturn() = default;
    errm_ThreadReturn(const errm_ThreadReturn &) = delete;
    errm_ThreadReturn &operator=(const errm_ThreadReturn &) = delete;
    ~errm_ThreadReturn();
};

namespace {

struct ReturnState {
    int cycleOpen;             // 1 from a successful ERRM_Init to ERRM_FInit
    errm_ThreadReturn *listed; // threads that hold a buffer
};

ReturnState g_returns = {
    0,       // cycleOpen
    nullptr, // listed
};

thread_local errm_ThreadReturn t_return;

// ------------------------------------------------------------ the registry

void listSlot(errm_ThreadReturn *slot) {
    slot->prev = nullptr;
    slot->next = g_returns.listed;
    if (g_returns.listed != nullptr) g_returns.listed->prev = slot;
    g_returns.listed = slot;
    slot->listed = true;
}

void unlistSlot(errm_ThreadReturn *slot) {
    if (slot->prev != nullptr)
        slot->prev->next = slot->next;
    else
        g_returns.listed = slot->next;
    if (slot->next != nullptr) slot->next->prev = slot->prev;
    slot->next = slot->prev = nullptr;
    slot->listed = false;
}

} // namespace

errm_ThreadReturn::~errm_ThreadReturn() {
    if (!hadBuffer) return; // most threads never retrieve a text
    errm_ApiLock lock;
    if (!listed) return; // released by ERRM_FInit meanwhile
    if (errm_G.ReturnBuffer == buffer) {
        errm_G.ReturnBuffer = nullptr;
        errm_G.ReturnCapacity = 0;
    }
    errm_DeAllocate(buffer, ERRM_TAG_RETURN_RELEASE);
    buffer = nullptr;
    capacity = 0;
    unlistSlot(this);
}

// ---------------------------------------------------------------- binding

errm_ReturnBinding::errm_ReturnBinding() : slot_(&t_return) {
    errm_G.ReturnBuffer = slot_->buffer;
    errm_G.ReturnCapacity = slot_->capacity;
}

errm_ReturnBinding::~errm_ReturnBinding() {
    // errm_G keeps the binding after the call: it names the buffer of the
    // thread that called last.
    slot_->buffer = errm_G.ReturnBuffer;
    slot_->capacity = errm_G.ReturnCapacity;
    if (slot_->buffer != nullptr && !slot_->listed) {
        listSlot(slot_);
        slot_->hadBuffer = true;
    } else if (slot_->buffer == nullptr && slot_->listed)
        unlistSlot(slot_);
}

// ---------------------------------------------------- cycles and release

int errm_EnsureReturnBuffer() {
    if (errm_G.ReturnBuffer != nullptr) return 1;
    if (g_returns.cycleOpen != 1) return 0;
    char *buffer =
        static_cast<char *>(errm_AllocateWOClear(ERRM_RETURN_INITIAL + 1, ERRM_TAG_RETURN));
    if (buffer == nullptr) {
        ERRM_REPORT(ERRM_E_NO_MEMORY, "ReturnBuffer");
        return 0;
    }
    buffer[0] = '\0';
    errm_G.ReturnBuffer = buffer;
    errm_G.ReturnCapacity = ERRM_RETURN_INITIAL;
    return 1;
}

int errm_ReleaseReturnBuffers(int tag) {
    const int wasOpen = g_returns.cycleOpen;
    while (g_returns.listed != nullptr) {
        errm_ThreadReturn *slot = g_returns.listed;
        errm_DeAllocate(slot->buffer, tag);
        slot->buffer = nullptr;
        slot->capacity = 0;
        unlistSlot(slot);
    }
    errm_G.ReturnBuffer = nullptr;
    errm_G.ReturnCapacity = 0;
    g_returns.cycleOpen = 0;
    return wasOpen;
}

void errm_OpenReturnCycle() {
    g_returns.cycleOpen = 1;
}
