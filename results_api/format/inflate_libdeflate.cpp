// The libdeflate inflater.
//
// A stream libdeflate inflates whole (its checksum matching, any bytes after
// it ignored) is, but for the difference below, one uncompress inflates to
// the same bytes: Z_OK, and the values it did not produce are 0.
//
// Every other outcome is decided by zlib. libdeflate reports a damaged
// stream, one that needs more room than the destination, and one that ends
// early all alike, and cannot say where it stopped, while uncompress tells
// them apart by the state it stopped in: a truncated stream is Z_DATA_ERROR
// unless its values filled the destination exactly (then Z_BUF_ERROR); a
// stream that would inflate to more is Z_BUF_ERROR, unless the code right
// after the last value that fits is invalid (Z_DATA_ERROR); with count 0 any
// stream of more than one byte is Z_DATA_ERROR. So a stream libdeflate
// refuses is inflated again by uncompress, which gives today's code and
// today's values. Damaged streams are rare; the ones that matter for speed
// take the first path only.
//
// One difference remains (see inflate.h): libdeflate also reads a few
// codes and code-length runs zlib refuses, and a stream using them with a
// matching checksum inflates here where zlib fails it with Z_DATA_ERROR.
// Telling them apart would mean decoding the stream a second time.
#include <cstring>
#include <limits>

#include <libdeflate.h>
#include <zlib.h>

#include "format/inflate.h"

namespace qv::format {

namespace {

void free_decompressor(void* d) {
    libdeflate_free_decompressor(static_cast<libdeflate_decompressor*>(d));
}

}  // namespace

int inflate_values_libdeflate(void* dest, std::int64_t count, const std::uint8_t* src,
                              std::int64_t src_len, std::int64_t& words) {
    return inflate_values_libdeflate(dest, count, src, src_len, words, nullptr);
}

int inflate_values_libdeflate(void* dest, std::int64_t count, const std::uint8_t* src,
                              std::int64_t src_len, std::int64_t& words, InflaterCache* cache) {
    words = 0;
    if (count < 0 || src_len < 0 ||
        static_cast<std::uint64_t>(count) > std::numeric_limits<std::size_t>::max() / 4 ||
        static_cast<std::uint64_t>(src_len) > std::numeric_limits<std::size_t>::max())
        return inflate_values_zlib(dest, count, src, src_len, words);
    const std::size_t capacity = static_cast<std::size_t>(count) * 4;
    auto* out = static_cast<std::uint8_t*>(dest);
    // The decompressor keeps no state from one stream to the next: one kept
    // by the reader is as good as a fresh one.
    libdeflate_decompressor* d =
        cache ? static_cast<libdeflate_decompressor*>(cache->handle()) : nullptr;
    if (!d) {
        d = libdeflate_alloc_decompressor();
        if (!d) {
            if (capacity) std::memset(out, 0, capacity);
            return Z_MEM_ERROR;
        }
        if (cache) cache->keep(d, free_decompressor);
    }
    std::uint8_t dummy[1] = {0};
    std::size_t used = 0, produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        d, src_len ? src : dummy, static_cast<std::size_t>(src_len), capacity ? out : dummy,
        capacity, &used, &produced);
    if (!cache) libdeflate_free_decompressor(d);
    if (result != LIBDEFLATE_SUCCESS || produced > capacity)
        return inflate_values_zlib(dest, count, src, src_len, words);
    if (capacity > produced) std::memset(out + produced, 0, capacity - produced);
    words = static_cast<std::int64_t>(produced / 4);
    values_to_host_order(dest, count);
    return Z_OK;
}

}  // namespace qv::format
