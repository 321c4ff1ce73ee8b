// The allocation limit of the libraries: none. Kept in a file of its own so
// that the failure-path tests can link their own definition instead.
#include "runtime/alloc.h"

namespace qv::runtime {

std::size_t allocation_limit() { return 0; }

}  // namespace qv::runtime
