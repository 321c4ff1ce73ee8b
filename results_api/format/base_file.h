// The base file: the model definition of one analysis, read once, in full,
// into a fresh analysis.
#pragma once

#include "format/record.h"
#include "model/analysis.h"

namespace qv::format {

// Reads the base file open on `r` from its start into `a`, a fresh analysis
// (its unit codes and symmetry words are set anew). Missing sections are
// skipped; a damaged file (one that ends inside a section, or whose counts
// and arrays disagree) makes it return false with r.reason() saying why,
// and the caller discards `a`. `tags_found` says whether any section tag was
// found.
// The arrays are inflated within the limit set on `r` (limit_inflation).
bool read_base_file(RecordReader& r, model::Analysis& a, bool& tags_found);

// The inflated bytes one base file may give when the host sets no limit:
// 64 times the file's size plus 16 MiB. Genuine models deflate their
// coordinates and numbering by far less than 64 to 1; only arrays made to
// inflate (long runs of one value) come near the 1032 to 1 deflate allows.
std::int64_t default_inflation_limit(std::uint64_t file_size);

}  // namespace qv::format
