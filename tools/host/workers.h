// Starting a pool of worker threads for the tools.
#pragma once

#include <cstddef>
#include <functional>

namespace qvhost {

// Runs `work` on up to `threads` threads, the calling thread among them,
// and returns when every one has returned. A thread the system will not
// start (a limit on the processes or threads of a user, no memory for a
// stack) is done without: the threads started and the caller share its
// part, so a run in which none starts still completes on the caller. `work`
// takes its tasks from a shared queue and should not throw; if it throws on
// the caller, the others are waited for and the exception passed on.
void run_workers(std::size_t threads, const std::function<void()>& work);

}  // namespace qvhost
