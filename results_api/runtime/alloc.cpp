// The failure path of the typed allocation layer.
#include "runtime/alloc.h"

#include <cstdio>
#include <limits>

namespace qv::runtime {
bool allocation_allowed(std::int64_t n, std::size_t size) {
    if (n < 0) return false;
    const auto count = static_cast<std::uint64_t>(n);
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return false;
    const std::uint64_t bytes = count * size;
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) return false;
    const std::size_t limit = allocation_limit();
    return limit == 0 || bytes <= limit;
}

void allocation_failed(std::initializer_list<std::int64_t> extents, int variant, int status) {
    // The line is formed in a fixed buffer: memory has just run out.
    char line[160];
    int n = 0;
    if (extents.size() == 1) {
        n = std::snprintf(line, sizeof line, " memalloc size %lld",
                          static_cast<long long>(*extents.begin()));
    } else {
        n = std::snprintf(line, sizeof line, " memalloc size (");
        const char* separator = "";
        for (const std::int64_t e : extents) {
            if (n <= 0 || n >= int(sizeof line)) break;
            n += std::snprintf(line + n, sizeof line - n, "%s%lld", separator,
                               static_cast<long long>(e));
            separator = ",";
        }
        if (n > 0 && n < int(sizeof line)) n += std::snprintf(line + n, sizeof line - n, ")");
    }
    if (n > 0 && n < int(sizeof line))
        std::snprintf(line + n, sizeof line - n, " failed from %d with error %d", variant, status);
    if (const AllocationSink sink = allocation_sink()) {
        try {
            sink(line);
        } catch (...) {
        }
    } else {
        std::fprintf(stderr, "%s\n", line);
    }
    throw OutOfMemory();
}

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
