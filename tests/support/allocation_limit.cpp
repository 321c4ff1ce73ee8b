// A settable allocation limit for the tests and fuzz targets. It replaces
// the core's definition at link time (both functions live in this one file,
// so the object that a test's setting pulls in also defines the limit).
#include "support/allocation_limit.h"

#include <atomic>

#include "runtime/alloc.h"

namespace qv::runtime {
namespace {
std::atomic<std::size_t> limit{0};
}  // namespace

std::size_t allocation_limit() { return limit.load(std::memory_order_relaxed); }

void set_allocation_limit_for_testing(std::size_t bytes) { limit = bytes; }

}  // namespace qv::runtime
