// A settable allocation limit and failure sink for the tests and fuzz
// targets. They replace the core's definitions at link time (all of them
// live in this one file, so the object that a test's setting pulls in also
// defines what the core asks).
#include "support/allocation_limit.h"

#include <atomic>

#include "runtime/alloc.h"

namespace qv::runtime {
namespace {
std::atomic<std::size_t> limit{0};
std::atomic<AllocationSink> sink{nullptr};
}  // namespace

std::size_t allocation_limit() { return limit.load(std::memory_order_relaxed); }

void set_allocation_limit_for_testing(std::size_t bytes) { limit = bytes; }

AllocationSink allocation_sink() { return sink.load(); }

void set_allocation_sink(AllocationSink s) { sink = s; }

}  // namespace qv::runtime
