// The allocation limit and failure sink of the libraries: none. Kept in a
// file of their own so that the failure-path tests can link their own
// definitions instead.
#include "runtime/alloc.h"

namespace qv::runtime {

std::size_t allocation_limit() { return 0; }

AllocationSink allocation_sink() { return nullptr; }

}  // namespace qv::runtime
