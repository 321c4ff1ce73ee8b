// The failure path of the typed allocation layer.
#include "runtime/alloc.h"

#include <limits>

#include "runtime/file_units.h"

namespace qv::runtime {
namespace {
std::size_t allocation_limit = 0;
}

bool allocation_allowed(std::int64_t n, std::size_t size) {
    if (n < 0) return false;
    const auto count = static_cast<std::uint64_t>(n);
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return false;
    const std::uint64_t bytes = count * size;
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) return false;
    return allocation_limit == 0 || bytes <= allocation_limit;
}

void set_allocation_limit_for_testing(std::size_t bytes) { allocation_limit = bytes; }

void allocation_failed(const std::vector<std::int64_t>& extents, int variant, int status) {
    std::string line = "memalloc size ";
    if (extents.size() == 1) {
        line += std::to_string(extents[0]);
    } else {
        line += "(";
        for (std::size_t i = 0; i < extents.size(); ++i)
            line += (i ? "," : "") + std::to_string(extents[i]);
        line += ")";
    }
    line += " failed from " + std::to_string(variant) + " with error " + std::to_string(status);
    write_line(unit::kAllocMessages, line);
    fatal_error("Memory allocation error in MEMALLOC");
}

}  // namespace qv::runtime

namespace qv::runtime {

ByteBuffer::ByteBuffer(std::int64_t n, int variant) {
    const std::int64_t extent = n < 1 ? 0 : n;
    if (!allocation_allowed(extent, 1)) allocation_failed({extent}, variant, 12);
    if (extent > 0) {
        bytes_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(extent)]);
        if (!bytes_) allocation_failed({extent}, variant, 12);
    }
    size_ = extent;
}

}  // namespace qv::runtime
