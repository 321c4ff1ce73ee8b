// Checks and sizes shared by the node and element getters.
#include "extract/slots.h"

#include <algorithm>
#include <cstdlib>

#include "runtime/file_units.h"

namespace qv::extract {
namespace {

// The structured parts and slots of the current cycle, false when the cycle
// states more structured parts than the base file describes: their slots
// would have no extents to be walked by.
bool structured_sizes(const model::ModelStore& s, ModelSizes& sizes) {
    const std::int32_t parts = model::usable_structured_parts(s);
    if (s.structured_parts > parts) return false;
    sizes.parts = parts;
    sizes.slots = model::structured_slots(s);
    return true;
}

}  // namespace

Block block(const model::ModelStore& s, std::int32_t part) {
    return Block{std::max<std::int32_t>(s.size_a(part), 0),
                 std::max<std::int32_t>(s.size_b(part), 0),
                 std::max<std::int32_t>(s.size_c(part), 0)};
}

bool cycle_ready() {
    return runtime::is_open(runtime::unit::kResults) && model::store().model_loaded;
}

bool node_sizes(ModelSizes& sizes) {
    const model::ModelStore& s = model::store();
    if (!structured_sizes(s, sizes)) return false;
    sizes.unstructured = std::max<std::int32_t>(s.node_count, 0);
    return true;
}

bool element_sizes(ModelSizes& sizes) {
    const model::ModelStore& s = model::store();
    if (!structured_sizes(s, sizes)) return false;
    sizes.unstructured = std::max<std::int32_t>(s.unstructured_element_total, 0);
    // The host sized its arrays from the part records; a cycle stating more
    // elements than they hold would have them overrun.
    return sizes.unstructured <= model::part_element_total(s);
}

bool directory_lists(std::int32_t variable, std::int32_t kind, std::int32_t qualifier, bool exact) {
    if (variable < 1) return false;
    for (const model::DirectoryEntry& e : model::store().directory) {
        if (e.variable != variable || e.kind != kind) continue;
        if (exact ? e.qualifier == qualifier
                  : std::llabs(static_cast<long long>(e.qualifier)) == qualifier)
            return true;
    }
    return false;
}

bool holds(std::int64_t held, std::int64_t slots, std::int64_t per_slot, std::int64_t tail) {
    // held, tail and slots are at most a few times 2^31 each: no overflow
    // before the division.
    const std::int64_t room = held - kHeaderPair - tail;
    if (room < 0 || slots < 0) return false;
    return per_slot <= 0 || slots <= room / per_slot;
}

void scale_copy(const float* __restrict in, float* __restrict out, std::int64_t n, float scale) {
    std::int64_t x = 0;
    for (; x + kBlock <= n; x += kBlock)
        for (std::int64_t l = 0; l < kBlock; ++l) out[x + l] = in[x + l] * scale;
    for (; x < n; ++x) out[x] = in[x] * scale;
}

std::int64_t element_walk_end(const model::ModelStore& s, std::int32_t parts, bool planes) {
    std::int64_t end = 0, offset = 0;
    for (std::int32_t p = 1; p <= parts; ++p) {
        const Block b = block(s, p);
        offset += b.slots();
        if (b.has_cells() || (planes && b.is_plane())) end = offset;
    }
    return end;
}

}  // namespace qv::extract
