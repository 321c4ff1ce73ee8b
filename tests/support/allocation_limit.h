// The allocation limit and failure sink the failure-path tests set: linked
// instead of the libraries' runtime/alloc_limit.cpp, which has neither.
#pragma once

#include <cstddef>

#include "runtime/alloc.h"

namespace qv::runtime {

// Allocations above this many bytes fail from now on; 0 removes the limit.
void set_allocation_limit_for_testing(std::size_t bytes);

// Where the "memalloc" line of a failed allocation goes from now on (the
// fuzz targets stop the run there, since no input may drive the library
// that far); nullptr restores standard error.
void set_allocation_sink(AllocationSink sink);

}  // namespace qv::runtime
