// The inflater the build selected, and what both inflaters share.
#include "format/inflate.h"

#include <cstdint>
#include <utility>

namespace qv::format {
int inflate_values(void* dest, std::int64_t count, const std::uint8_t* src, std::int64_t src_len,
                   std::int64_t& words, InflaterCache* cache) {
    if (cache && cache->chosen()) return cache->chosen()(dest, count, src, src_len, words);
#if RESULTS_API_INFLATER_LIBDEFLATE
    return inflate_values_libdeflate(dest, count, src, src_len, words, cache);
#else
    return inflate_values_zlib(dest, count, src, src_len, words);
#endif
}

void values_to_host_order([[maybe_unused]] void* values, [[maybe_unused]] std::int64_t count) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    auto* out = static_cast<std::uint8_t*>(values);
    for (std::int64_t i = 0; i < count; ++i, out += 4) {
        std::swap(out[0], out[3]);
        std::swap(out[1], out[2]);
    }
#endif
}

}  // namespace qv::format
