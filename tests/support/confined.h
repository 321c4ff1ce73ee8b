// Confines the calling thread (on Windows, the process) to the first
// `count` processors it may run on, as a cpuset or a batch system's
// allotment would, for the object's lifetime.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#endif

namespace qvtest {

class ConfinedProcessors {
public:
    explicit ConfinedProcessors(int count) {
#if defined(_WIN32)
        DWORD_PTR system = 0;
        if (!::GetProcessAffinityMask(::GetCurrentProcess(), &before_, &system)) return;
        DWORD_PTR some = 0;
        int taken = 0;
        for (DWORD_PTR bit = 1; bit != 0 && taken < count; bit <<= 1)
            if (before_ & bit) {
                some |= bit;
                ++taken;
            }
        confined_ = taken == count && ::SetProcessAffinityMask(::GetCurrentProcess(), some);
#elif defined(__linux__)
        if (::sched_getaffinity(0, sizeof before_, &before_) != 0) return;
        cpu_set_t some;
        CPU_ZERO(&some);
        int taken = 0;
        for (int c = 0; c < CPU_SETSIZE && taken < count; ++c)
            if (CPU_ISSET(c, &before_)) {
                CPU_SET(c, &some);
                ++taken;
            }
        confined_ = taken == count && ::sched_setaffinity(0, sizeof some, &some) == 0;
#else
        (void)count;
#endif
    }
    ~ConfinedProcessors() {
        if (!confined_) return;
#if defined(_WIN32)
        ::SetProcessAffinityMask(::GetCurrentProcess(), before_);
#elif defined(__linux__)
        ::sched_setaffinity(0, sizeof before_, &before_);
#endif
    }
    ConfinedProcessors(const ConfinedProcessors&) = delete;
    ConfinedProcessors& operator=(const ConfinedProcessors&) = delete;
    // False when nothing could be confined (fewer processors than asked
    // for, or a system without affinities): there is nothing to check then.
    bool confined() const { return confined_; }

private:
#if defined(_WIN32)
    DWORD_PTR before_ = 0;
#elif defined(__linux__)
    cpu_set_t before_;
#endif
    bool confined_ = false;
};

}  // namespace qvtest
