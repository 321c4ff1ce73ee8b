// How many threads "one per core" means for the tools: the processors the
// tool may run on (its affinity), not every processor of the machine, so
// that a tool confined to a few of them (a cpuset, a batch system's
// allotment, taskset) does not start a worker, with its buffers, for each
// processor it cannot use.
#pragma once

namespace qvhost {

// The processors the calling thread may run on, at least 1.
unsigned usable_processors();

}  // namespace qvhost
