// Inflating the zlib stream of a compressed array into 4-byte values.
//
// Two inflaters give the same results, but for the one kind of stream
// below: zlib's uncompress, and libdeflate, which inflates the same streams
// faster. The build picks one for the
// library (CMake option RESULTS_API_INFLATER); both answer with zlib's codes
// and the outcomes uncompress gives:
//   Z_OK          the stream ended (bytes after its checksum are ignored);
//                 values it did not produce are 0;
//   Z_BUF_ERROR   the destination filled up before the stream ended, or the
//                 arguments are out of range;
//   Z_DATA_ERROR  a damaged or truncated stream, a bad checksum, a preset
//                 dictionary; with no room for values (count 0), also any
//                 stream that would inflate to more than one byte;
//   Z_MEM_ERROR   the inflater's own memory could not be had.
// Values written before an error are unspecified: callers never hand out
// the values of a stream that failed.
//
// The inflaters differ on one kind of stream: one whose checksum matches
// but whose codes break a rule zlib enforces and libdeflate does not: the
// reserved length codes 286 and 287 or distance codes 30 and 31, or a block
// header whose code lengths zlib refuses (a run of code lengths reaching
// past the last code, among others). zlib fails it with Z_DATA_ERROR;
// libdeflate inflates it (Z_OK) to the values the checksum vouches for. No
// deflate writer emits such a stream, but a damaged bit can turn a good one
// into it (length code 285 into 287, a longer final run of code lengths).
#pragma once

#include <cstdint>
#include <utility>

namespace qv::format {

// An inflater, as below.
using Inflater = int (*)(void* dest, std::int64_t count, const std::uint8_t* src,
                         std::int64_t src_len, std::int64_t& words);

// What the inflater keeps from one stream to the next of one reader
// (libdeflate's decompressor, made on first use, so that a query does not
// allocate and clear one per array). Used by one thread at a time.
class InflaterCache {
public:
    InflaterCache() = default;
    ~InflaterCache() { reset(); }
    InflaterCache(InflaterCache&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)),
          release_(std::exchange(other.release_, nullptr)),
          chosen_(other.chosen_) {}
    InflaterCache& operator=(InflaterCache&& other) noexcept {
        std::swap(handle_, other.handle_);
        std::swap(release_, other.release_);
        std::swap(chosen_, other.chosen_);
        return *this;
    }
    InflaterCache(const InflaterCache&) = delete;
    InflaterCache& operator=(const InflaterCache&) = delete;

    void* handle() const { return handle_; }
    void keep(void* handle, void (*release)(void*)) {
        reset();
        handle_ = handle;
        release_ = release;
    }
    void reset() {
        if (handle_) release_(handle_);
        handle_ = nullptr;
    }
    // The inflater this reader's streams go through instead of the build's
    // choice (the differential fuzz target runs both); nullptr restores it.
    void choose(Inflater inflater) { chosen_ = inflater; }
    Inflater chosen() const { return chosen_; }

private:
    void* handle_ = nullptr;
    void (*release_)(void*) = nullptr;
    Inflater chosen_ = nullptr;
};

// Inflates `src` into `count` 4-byte values of host byte order. Values the
// stream did not produce are 0. `words` receives the number of whole values
// produced. Returns zlib's code. Uses the inflater `cache` chose, else the
// one the build selected with what `cache` kept from earlier streams (none:
// nothing is kept).
int inflate_values(void* dest, std::int64_t count, const std::uint8_t* src, std::int64_t src_len,
                   std::int64_t& words, InflaterCache* cache = nullptr);

// The two inflaters behind inflate_values. The libdeflate one exists where
// the build found libdeflate (RESULTS_API_HAVE_LIBDEFLATE).
int inflate_values_zlib(void* dest, std::int64_t count, const std::uint8_t* src,
                        std::int64_t src_len, std::int64_t& words);
int inflate_values_libdeflate(void* dest, std::int64_t count, const std::uint8_t* src,
                              std::int64_t src_len, std::int64_t& words);
int inflate_values_libdeflate(void* dest, std::int64_t count, const std::uint8_t* src,
                              std::int64_t src_len, std::int64_t& words, InflaterCache* cache);

// Puts `count` values of little-endian bytes into host byte order.
void values_to_host_order(void* values, std::int64_t count);

}  // namespace qv::format
