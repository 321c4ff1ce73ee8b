// Cycle files: the header words, the "<Model>" section with the result
// directory, and the framing the header selects for each kind of array.
#pragma once

#include <cstdint>

#include "format/compressed_array.h"
#include "model/store.h"
#include "runtime/file_units.h"

namespace qv::format {

// Reads the header (a count N, then N words) from the start of the file.
// Words the file does not have read as 0.
int read_cycle_header(runtime::Connection& c, model::CycleHeader& header);

// Node, element, displacement and material fraction arrays are chunked when
// the header has at least 7 words and word 7 is positive.
Framing bulk_framing(const model::CycleHeader& header);
// Rigid body and joint arrays are chunked when the header has at least 8
// words and word 8 is positive.
Framing body_framing(const model::CycleHeader& header);

// Finds "<Model>" and, when header word 1 is positive, reads the model sizes
// and the result directory into the store. Sets the model-loaded flag when
// the tag is found; false (flag clear) when it is missing or the section is
// damaged.
bool read_model_section(runtime::Connection& c, model::ModelStore& s);

// What registration needs of a cycle file: its cycle number and time, read
// from "<Model>" when header word 1 is 1 (0 and 0 otherwise or when the tag
// is missing). False when the header or those records are damaged.
struct CycleStamp {
    std::int32_t cycle = 0;
    float time = 0.0f;
    bool model_found = false;
};
bool read_cycle_stamp(runtime::Connection& c, CycleStamp& stamp);

}  // namespace qv::format
