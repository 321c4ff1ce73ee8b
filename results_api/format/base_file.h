// The base file: the model definition of one analysis, read once, in full,
// into the model store.
#pragma once

#include "model/store.h"
#include "runtime/file_units.h"

namespace qv::format {

// Reads the base file open on `c` from its start into `s`, whose previous
// model has been reset. Missing sections are skipped; a damaged file (one
// that ends inside a section, or whose counts and arrays disagree) makes it
// return false, and the caller then discards what was read.
bool read_base_file(runtime::Connection& c, model::ModelStore& s);

}  // namespace qv::format
