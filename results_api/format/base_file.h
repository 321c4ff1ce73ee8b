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
bool read_base_file(RecordReader& r, model::Analysis& a, bool& tags_found);

}  // namespace qv::format
