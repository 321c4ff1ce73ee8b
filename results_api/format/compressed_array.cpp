// Reading, inflating and skipping compressed arrays.
#include "format/compressed_array.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#include <zlib.h>

#include "format/record.h"

namespace qv::format {
namespace {

// Deflate cannot expand data by more than 1032 to 1; the allowance covers
// tiny streams.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kSmallStreamAllowance = 1032;

runtime::Text50 messages[static_cast<int>(ZlibRoutine::Count)];

struct SkipBuffer {
    runtime::Array<std::uint8_t> bytes;
    std::int64_t capacity = 0;
};
SkipBuffer skip_buffer;

template <class T>
ZlibRoutine single_routine() {
    return std::is_same_v<T, float> ? ZlibRoutine::SingleReals : ZlibRoutine::SingleInts;
}
template <class T>
ZlibRoutine chunked_routine() {
    return std::is_same_v<T, float> ? ZlibRoutine::ChunkedReals : ZlibRoutine::ChunkedInts;
}

void note_zlib_error(ZlibRoutine routine, int code) {
    char field[8];
    std::snprintf(field, sizeof field, "%4d", code);
    messages[static_cast<int>(routine)].assign(std::string("Non-zero error code returned") + field);
}

bool header_fits(const runtime::Connection& c, std::int32_t count, std::int32_t length) {
    if (count < 0 || length < 0) return false;
    const std::uint64_t left = bytes_left(c);
    if (left < 8 || static_cast<std::uint64_t>(length) > left - 8) return false;
    return count <= max_values_for(static_cast<std::uint64_t>(length));
}

// Reads one payload record of `length` bytes and inflates `count` values.
template <class T>
int read_payload(runtime::Connection& c, T* dest, std::int32_t count, std::int32_t length,
                 ZlibRoutine routine) {
    runtime::ByteBuffer payload(length);
    if (const int st = read_record_prefix(c, payload.data(), static_cast<std::size_t>(length));
        st != kReadOk)
        return st == kReadEnd ? kReadError : st;
    std::int64_t words = 0;
    const int code = inflate_values(dest, count, payload.data(), length, words);
    if (code != Z_OK) {
        note_zlib_error(routine, code);
        // An empty array has nothing that could be wrong.
        if (count > 0) return kInflateError;
    }
    return kReadOk;
}

bool grow_skip_buffer(std::int64_t needed) {
    if (needed <= skip_buffer.capacity) return true;
    if (skip_buffer.capacity > 0) release(skip_buffer.bytes);
    const float grown = static_cast<float>(needed) * 1.2f;
    std::int64_t capacity = grown >= 9.0e18f ? needed : static_cast<std::int64_t>(grown);
    if (capacity < needed) capacity = needed;
    skip_buffer.capacity = capacity;
    runtime::allocate(skip_buffer.bytes, capacity);
    return true;
}

int skip_payload(runtime::Connection& c, std::int32_t length) {
    if (length < 0 || static_cast<std::uint64_t>(length) + 8 > bytes_left(c)) return kReadError;
    grow_skip_buffer(length);
    const int st = read_record_prefix(c, skip_buffer.bytes.data(), static_cast<std::size_t>(length));
    return st == kReadEnd ? kReadError : st;
}

}  // namespace

const runtime::Text50& zlib_message(ZlibRoutine routine) {
    return messages[static_cast<int>(routine)];
}

std::int64_t max_values_for(std::uint64_t length) {
    if (length > std::numeric_limits<std::uint64_t>::max() / kMaxInflateRatio / 2) return INT32_MAX;
    const std::uint64_t bytes = length * kMaxInflateRatio + kSmallStreamAllowance;
    const std::uint64_t values = bytes / 4;
    return values > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX
                                                          : static_cast<std::int64_t>(values);
}

int read_single_header(runtime::Connection& c, SingleHeader& h) {
    std::int32_t v[2] = {0, 0};
    RecordData data;
    if (const int st = read_record(c, data); st != kReadOk) return st == kReadEnd ? kReadError : st;
    v[0] = data.int32();
    v[1] = data.int32();
    if (data.failed() || !header_fits(c, v[0], v[1])) return kReadError;
    h.count = v[0];
    h.length = v[1];
    return kReadOk;
}

template <class T>
int read_single_payload(runtime::Connection& c, T* dest, const SingleHeader& h) {
    return read_payload(c, dest, h.count, h.length, single_routine<T>());
}

int read_chunked_total(runtime::Connection& c, std::int32_t& total) {
    std::int32_t v = 0;
    if (!read_int(c, v)) return kReadError;
    // Every value of the array still has to come from the rest of the file.
    if (v < 0 || v > max_values_for(bytes_left(c))) return kReadError;
    total = v;
    return kReadOk;
}

template <class T>
int read_chunks(runtime::Connection& c, T* dest, std::int64_t capacity, std::int64_t& values_read) {
    values_read = 0;
    bool inflate_failed = false;
    for (;;) {
        std::int32_t head[2] = {0, 0};
        RecordData data;
        if (const int st = read_record(c, data); st != kReadOk)
            return st == kReadEnd ? kReadError : st;
        head[0] = data.int32();
        head[1] = data.int32();
        if (data.failed()) return kReadError;
        if (head[0] <= 0) break;
        if (!header_fits(c, head[0], head[1]) || head[0] > capacity - values_read)
            return kReadError;
        const int st = read_payload(c, dest + values_read, head[0], head[1], chunked_routine<T>());
        if (st == kInflateError)
            inflate_failed = true;
        else if (st != kReadOk)
            return st;
        values_read += head[0];
    }
    return inflate_failed ? kInflateError : kReadOk;
}

template <class T>
int read_array(runtime::Connection& c, Framing framing, runtime::Array<T>& out) {
    runtime::release(out);
    int st;
    if (framing == Framing::Single) {
        SingleHeader h;
        if ((st = read_single_header(c, h)) != kReadOk) return st;
        runtime::allocate(out, h.count);
        st = read_single_payload(c, out.data(), h);
    } else {
        std::int32_t total = 0;
        if ((st = read_chunked_total(c, total)) != kReadOk) return st;
        runtime::allocate(out, total);
        std::int64_t values = 0;
        st = read_chunks(c, out.data(), total, values);
        out.shrink_to(values);
    }
    if (st != kReadOk) runtime::release(out);
    return st;
}

int skip_array(runtime::Connection& c, Framing framing) {
    std::int32_t head[2] = {0, 0};
    if (framing == Framing::Single) {
        if (!read_ints(c, head, 2)) return kReadError;
        return skip_payload(c, head[1]);
    }
    if (!read_int(c, head[0])) return kReadError;
    for (;;) {
        if (!read_ints(c, head, 2)) return kReadError;
        if (head[0] <= 0) return kReadOk;
        if (const int st = skip_payload(c, head[1]); st != kReadOk) return st;
    }
}

std::int64_t skip_buffer_capacity() { return skip_buffer.capacity; }

void release_skip_buffer() {
    runtime::release(skip_buffer.bytes);
    skip_buffer.capacity = 0;
}

template int read_single_payload(runtime::Connection&, std::int32_t*, const SingleHeader&);
template int read_single_payload(runtime::Connection&, float*, const SingleHeader&);
template int read_chunks(runtime::Connection&, std::int32_t*, std::int64_t, std::int64_t&);
template int read_chunks(runtime::Connection&, float*, std::int64_t, std::int64_t&);
template int read_array(runtime::Connection&, Framing, runtime::Array<std::int32_t>&);
template int read_array(runtime::Connection&, Framing, runtime::Array<float>&);

}  // namespace qv::format
