// Reading, inflating and skipping compressed arrays.
#include "format/compressed_array.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include <zlib.h>

namespace qv::format {
namespace {

// Deflate cannot expand data by more than 1032 to 1; the allowance covers
// tiny streams.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kSmallStreamAllowance = 1032;

template <class T>
constexpr bool kIntegers = std::is_same_v<T, std::int32_t>;

// What the readers below need of a destination, for the typed arrays and
// for the kept buffers alike.
template <class T>
void start(runtime::Array<T>& out, std::int64_t n) { runtime::allocate(out, n); }
template <class T>
void start(runtime::Buffer<T>& out, std::int64_t n) { out.resize(n); }
template <class T>
void extend(runtime::Array<T>& out, std::int64_t n, std::int64_t most) { runtime::grow(out, n, most); }
template <class T>
void extend(runtime::Buffer<T>& out, std::int64_t n, std::int64_t most) { out.grow(n, most); }
template <class T>
void discard(runtime::Array<T>& out) { runtime::release(out); }
template <class T>
void discard(runtime::Buffer<T>& out) { out.clear(); }

template <class T>
ZlibRoutine routine(Framing f) {
    if (f == Framing::Single) return kIntegers<T> ? ZlibRoutine::SingleInts : ZlibRoutine::SingleReals;
    return kIntegers<T> ? ZlibRoutine::ChunkedInts : ZlibRoutine::ChunkedReals;
}

// A [count, length] header whose payload fits in the file and can hold
// `count` values.
bool header_fits(const RecordReader& r, std::int32_t count, std::int32_t length) {
    if (count < 0 || length < 0) return false;
    const std::uint64_t left = r.bytes_left();
    if (left < 8 || static_cast<std::uint64_t>(length) > left - 8) return false;
    return count <= max_values_for(static_cast<std::uint64_t>(length));
}

// A [count, length] header that does not fit: the damage was met at the
// payload record it announces when that runs past the end of the file, at
// the header record itself when its counts lie.
Status unfit_header(RecordReader& r, std::int32_t length) {
    const std::uint64_t left = r.bytes_left();
    const bool cut = length >= 0 && (left < 8 || static_cast<std::uint64_t>(length) > left - 8);
    r.note_damage_at(cut ? r.position() : r.record_start());
    return Status::damaged;
}

Status read_header(RecordReader& r, std::int32_t& count, std::int32_t& length) {
    RecordData data;
    if (const Status st = r.record(data); st != Status::ok) return damaged_if_end(st);
    count = data.int32();
    length = data.int32();
    return data.failed() ? Status::damaged : Status::ok;
}

// Reads one payload record of `length` bytes and inflates `count` values
// into dest; `words` gets the values the stream produced.
template <class T>
Status read_payload(RecordReader& r, T* dest, std::int32_t count, std::int32_t length,
                  ZlibRoutine which, std::int64_t& words) {
    std::uint8_t* const payload = r.payload_buffer(length);
    if (const Status st = r.prefix(payload, static_cast<std::size_t>(length)); st != Status::ok)
        return damaged_if_end(st);
    const int code = inflate_values(dest, count, payload, length, words, r.inflater());
    if (code != Z_OK) {
        r.note_zlib_error(which, code);
        // An empty array has nothing that could be wrong.
        if (count > 0) {
            r.note_damage_at(r.record_start());
            return Status::corrupt_stream;
        }
    }
    return Status::ok;
}

// The skip buffer is sized for the payload by its growth rule, but the
// payload is passed over by a seek: copying bytes that are thrown away
// would cost as much as reading every skipped array.
Status skip_payload(RecordReader& r, std::int32_t length) {
    if (length < 0 || static_cast<std::uint64_t>(length) + 8 > r.bytes_left())
        return unfit_header(r, length);
    r.skip_buffer(length);
    return damaged_if_end(r.skip());
}

template <class T, template <class> class Dest>
Status read_single(RecordReader& r, Dest<T>& out) {
    std::int32_t count = 0, length = 0;
    if (const Status st = read_header(r, count, length); st != Status::ok) return st;
    if (!header_fits(r, count, length)) return unfit_header(r, length);
    if (!r.claim_inflation(4 * std::int64_t(count))) {
        r.note_damage_at(r.record_start());
        return Status::damaged;
    }
    start(out, count);
    std::int64_t words = 0;
    const Status st = read_payload(r, out.data(), count, length, routine<T>(Framing::Single), words);
    if (st == Status::ok && kIntegers<T>) out.shrink_to(words);
    return st;
}

template <class T, template <class> class Dest>
Status read_chunked(RecordReader& r, Dest<T>& out) {
    std::int32_t total = 0;
    // Every value of the array still has to come from the rest of the file.
    if (!r.int32(total) || total < 0 || total > max_values_for(r.bytes_left()))
        return Status::damaged;
    start(out, 0);
    std::int64_t values = 0, stated = 0;
    bool corrupt = false, short_stream = false;
    for (;;) {
        std::int32_t count = 0, length = 0;
        if (const Status st = read_header(r, count, length); st != Status::ok) return st;
        if (count <= 0) break;
        if (!header_fits(r, count, length) || count > total - stated) return unfit_header(r, length);
        stated += count;
        // After a short integer stream the rest only has to be passed over.
        if (short_stream) {
            if (const Status st = skip_payload(r, length); st != Status::ok) return st;
            continue;
        }
        if (!r.claim_inflation(4 * std::int64_t(count))) return Status::damaged;
        extend(out, values + count, total);
        std::int64_t words = 0;
        const Status st =
            read_payload(r, out.data() + values, count, length, routine<T>(Framing::Chunked), words);
        if (st == Status::corrupt_stream)
            corrupt = true;
        else if (st != Status::ok)
            return st;
        if (kIntegers<T> && words < count) {
            out.shrink_to(values + words);
            short_stream = true;
            continue;
        }
        values += count;
    }
    return corrupt ? Status::corrupt_stream : Status::ok;
}

}  // namespace

std::int64_t max_values_for(std::uint64_t length) {
    if (length > std::numeric_limits<std::uint64_t>::max() / kMaxInflateRatio / 2) return INT32_MAX;
    const std::uint64_t bytes = length * kMaxInflateRatio + kSmallStreamAllowance;
    const std::uint64_t values = bytes / 4;
    return values > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX
                                                          : static_cast<std::int64_t>(values);
}

template <class Dest>
Status read_array(RecordReader& r, Framing framing, Dest& out) {
    discard(out);
    const Status st = framing == Framing::Single ? read_single(r, out) : read_chunked(r, out);
    if (st != Status::ok) discard(out);
    if (st == Status::damaged || st == Status::corrupt_stream) r.note_damage_at(r.record_start());
    return st;
}

namespace {

Status skip_one_array(RecordReader& r, Framing framing) {
    std::int32_t head[2] = {0, 0};
    if (framing == Framing::Single) {
        if (!r.ints(head, 2)) return Status::damaged;
        return skip_payload(r, head[1]);
    }
    if (!r.int32(head[0])) return Status::damaged;
    for (;;) {
        if (!r.ints(head, 2)) return Status::damaged;
        if (head[0] <= 0) return Status::ok;
        if (const Status st = skip_payload(r, head[1]); st != Status::ok) return st;
    }
}

}  // namespace

Status skip_array(RecordReader& r, Framing framing) {
    const Status st = skip_one_array(r, framing);
    if (st != Status::ok) r.note_damage_at(r.record_start());
    return st;
}

template Status read_array(RecordReader&, Framing, runtime::Array<std::int32_t>&);
template Status read_array(RecordReader&, Framing, runtime::Array<float>&);
template Status read_array(RecordReader&, Framing, runtime::Buffer<float>&);

}  // namespace qv::format
