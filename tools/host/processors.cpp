#include "host/processors.h"

#include <algorithm>
#include <thread>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>

#include <cerrno>
#endif

namespace qvhost {

unsigned usable_processors() {
#if defined(_WIN32)
    // The mask is of one processor group: a process with threads in
    // several groups gets none (0) and counts every processor instead.
    DWORD_PTR process = 0, system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (DWORD_PTR m = process; m != 0; m &= m - 1) ++count;
        return count;
    }
#elif defined(__linux__)
    // A machine with more processors than a set holds refuses the set
    // (EINVAL): ask again with a larger one.
    for (int room = 1024; room <= (1 << 16); room *= 2) {
        cpu_set_t* set = CPU_ALLOC(room);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(room);
        const bool known = ::sched_getaffinity(0, size, set) == 0;
        const int count = known ? CPU_COUNT_S(size, set) : 0;
        const int why = errno;
        CPU_FREE(set);
        if (known) return count > 0 ? static_cast<unsigned>(count) : 1u;
        if (why != EINVAL) break;
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace qvhost
