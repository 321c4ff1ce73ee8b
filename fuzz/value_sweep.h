// The value queries a host makes once a cycle is selected, shared by the
// targets that open cycle files: every getter in both extraction modes, into
// caller arrays sized from the model's counts as the interface states them.
#pragma once

#include <cstdint>

#include "harness.h"

namespace qvfuzz {

// What a host knows before it selects a cycle.
struct ModelSizes {
    Blocks blocks;
    std::int64_t elements = 0;  // E
    std::int64_t materials = 0;
    std::int64_t reported = 0;  // materials with an identifier of 0 or more
};
ModelSizes model_sizes(const Budget& budget);

// Every value query on the selected cycle (`opened`: whether selecting it
// succeeded; nothing may be served otherwise). Aborts on a broken promise.
void sweep_values(const ModelSizes& m, const Budget& budget, bool opened);

}  // namespace qvfuzz
