// sys_guard.h - the guard of the swappable system call table, shared by the
// test harnesses (frame_support.h, api_support.h), so that a suite may
// include both.
#ifndef ERRM_SYS_GUARD_H
#define ERRM_SYS_GUARD_H

#include "platform/errm_platform.h"

namespace errmtest {

// Restores every entry of the platform table when it goes out of scope.
class SysGuard {
  public:
    SysGuard() = default;
    ~SysGuard() { errm_SysRestore(); }
    SysGuard(const SysGuard &) = delete;
    SysGuard &operator=(const SysGuard &) = delete;
};

} // namespace errmtest

#endif
