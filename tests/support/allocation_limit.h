// The allocation limit the failure-path tests set: linked instead of the
// libraries' runtime/alloc_limit.cpp, which has none.
#pragma once

#include <cstddef>

namespace qv::runtime {

// Allocations above this many bytes fail from now on; 0 removes the limit.
void set_allocation_limit_for_testing(std::size_t bytes);

}  // namespace qv::runtime
