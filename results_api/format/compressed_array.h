// Compressed arrays: 4-byte values stored as zlib streams of their
// little-endian bytes, in the single form (a header record [count, length],
// then the payload record) or the chunked form (a total record, then chunk
// headers [count, length] each followed by its payload, up to a header whose
// count is 0 or less).
#pragma once

#include <cstdint>

#include "format/inflate.h"
#include "runtime/alloc.h"
#include "runtime/file_units.h"

namespace qv::format {

enum class Framing { Single, Chunked };

// Read status besides those of the record layer: the records were intact but
// a zlib stream was not. The file is positioned after the array's payload.
inline constexpr int kInflateError = 2;

// Routines that keep a message of the last zlib error they met.
enum class ZlibRoutine { SingleInts, SingleReals, ChunkedInts, ChunkedReals, Count };
// "Non-zero error code returned" and the code in a 4-character field,
// blank-padded to 50 characters; blank until the routine meets an error.
const runtime::Text50& zlib_message(ZlibRoutine routine);

// The most values a zlib stream of `length` bytes can inflate to; counts
// above it cannot be genuine and are refused before anything is allocated.
std::int64_t max_values_for(std::uint64_t length);

// Single form, in two steps so that the caller can size its destination:
// the header record, checked against the bytes left in the file, ...
struct SingleHeader {
    std::int32_t count = 0;
    std::int32_t length = 0;
};
int read_single_header(runtime::Connection& c, SingleHeader& h);
// ... then the payload, inflated into dest (room for h.count values).
template <class T>
int read_single_payload(runtime::Connection& c, T* dest, const SingleHeader& h);

// Chunked form: the total record, checked against the bytes left, ...
int read_chunked_total(runtime::Connection& c, std::int32_t& total);
// ... then chunks into dest (room for `capacity` values) up to the
// terminating header. Chunks that add up to more than `capacity` values are
// refused. `values_read` is the sum of the chunk counts.
template <class T>
int read_chunks(runtime::Connection& c, T* dest, std::int64_t capacity, std::int64_t& values_read);

// A whole array of either form into `out`, allocated to the values read.
// On any error `out` is left unallocated.
template <class T>
int read_array(runtime::Connection& c, Framing framing, runtime::Array<T>& out);

// Passes over one array without inflating it, through the skip buffer.
int skip_array(runtime::Connection& c, Framing framing);

// The skip buffer: it grows to 1.2 times the largest payload skipped so far
// and is reused until released (by each base-file load and the clean-up).
std::int64_t skip_buffer_capacity();
void release_skip_buffer();

}  // namespace qv::format
