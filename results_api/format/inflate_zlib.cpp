// The zlib inflater: one call of uncompress.
#include <cstring>
#include <limits>

#include <zlib.h>

#include "format/inflate.h"

namespace qv::format {

int inflate_values_zlib(void* dest, std::int64_t count, const std::uint8_t* src,
                        std::int64_t src_len, std::int64_t& words) {
    words = 0;
    if (count < 0 || src_len < 0) return Z_BUF_ERROR;
    const auto capacity = static_cast<std::uint64_t>(count) * 4;
    if (capacity > std::numeric_limits<uLongf>::max() ||
        static_cast<std::uint64_t>(src_len) > std::numeric_limits<uLong>::max())
        return Z_BUF_ERROR;
    auto* out = static_cast<std::uint8_t*>(dest);
    std::uint8_t dummy = 0;
    uLongf produced = static_cast<uLongf>(capacity);
    // With no room at all, uncompress inflates into a byte of its own and
    // fails any stream that needs more.
    const int code = uncompress(capacity ? out : &dummy, &produced, src_len ? src : &dummy,
                                static_cast<uLong>(src_len));
    if (produced > capacity) produced = static_cast<uLongf>(capacity);
    if (capacity > produced) std::memset(out + produced, 0, capacity - produced);
    words = static_cast<std::int64_t>(produced / 4);
    values_to_host_order(dest, count);
    return code;
}

}  // namespace qv::format
