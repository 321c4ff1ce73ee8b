// Compressed arrays: 4-byte values stored as zlib streams of their
// little-endian bytes, in the single form (a header record [count, length],
// then the payload record) or the chunked form (a total record, then chunk
// headers [count, length] each followed by its payload, up to a header whose
// count is 0 or less).
#pragma once

#include <cstdint>

#include "format/inflate.h"
#include "format/record.h"
#include "runtime/alloc.h"

namespace qv::format {

enum class Framing { Single, Chunked };


// The most values a zlib stream of `length` bytes can inflate to; counts
// above it cannot be genuine and are refused before anything is allocated.
std::int64_t max_values_for(std::uint64_t length);

// A whole array of either form into `out` (a runtime::Array of std::int32_t
// or float, or a kept runtime::Buffer of float), which holds exactly the
// values read: in the chunked form it grows chunk by chunk (never beyond
// the total record, each chunk bounded by what its payload can hold), never
// sized from the total before any chunk is seen. Integer values a stream
// did not produce are not values: an integer array ends before the first of
// them. Real values a short stream did not produce read as 0. The payloads
// pass through the reader's payload buffer. On any status but ok, `out` is
// left unallocated (a buffer holding nothing, its storage kept);
// corrupt_stream leaves the file after the array, anything else unusable.
template <class Dest>
Status read_array(RecordReader& r, Framing framing, Dest& out);

// Passes over one array without inflating it, through the reader's skip
// buffer.
Status skip_array(RecordReader& r, Framing framing);

}  // namespace qv::format
