// Checks and sizes shared by the node and element getters.
#include "extract/slots.h"

#include <algorithm>
#include <cstring>

#include "model/material_queries.h"
#include "model/units.h"
#include "variables/catalogue.h"

namespace qv::extract {
namespace {

// The structured parts and slots of the current cycle, false when the cycle
// states more structured parts than the base file describes: their slots
// would have no extents to be walked by.
bool structured_sizes(const model::View& m, ModelSizes& sizes) {
    if (!model::structured_parts_served(m.analysis, m.counts)) return false;
    sizes.parts = model::usable_structured_parts(m.analysis, m.counts);
    sizes.slots = model::structured_slots(m.analysis, m.counts);
    return true;
}

}  // namespace

bool fail(const Source& src, Status why) {
    if (!src.failure) return false;
    const format::RecordReader& r = src.cycle.records();
    if (why == Status::not_stored && r.met_damage()) why = Status::damaged;
    Failure& f = *src.failure;
    f.status = why;
    f.file = r.file_name();
    f.offset = why == Status::damaged ? r.failure().offset : -1;
    return false;
}

Status query_status(Status st) {
    switch (st) {
    case Status::ok: return Status::ok;
    case Status::not_found:
    case Status::no_arrays:
    case Status::section_missing: return Status::not_stored;
    case Status::not_open: return Status::not_ready;
    default: return Status::damaged;
    }
}

std::int64_t element_walk_values(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                                 std::int64_t per_slot) {
    std::int64_t slots = 0;
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(a, p);
        switch (walk_of(b, planes)) {
        case Walk::every_slot: slots += b.slots(); break;
        case Walk::element_slots: slots += (b.i - 1) * (b.j - 1) * (b.k - 1); break;
        case Walk::skipped: break;
        }
    }
    return slots * per_slot + sizes.unstructured;
}

std::int64_t reported_materials(const model::Analysis& a) {
    std::int64_t n = 0;
    for (std::int32_t m = 1; m <= a.materials.count; ++m)
        if (model::euler_id_for_material(a, m) >= 0) ++n;
    return n;
}

Block block(const model::Analysis& a, std::int32_t part) {
    return Block{std::max<std::int32_t>(a.size_a(part), 0),
                 std::max<std::int32_t>(a.size_b(part), 0),
                 std::max<std::int32_t>(a.size_c(part), 0)};
}

bool cycle_ready(const Source& src) { return src.cycle.is_open() && src.model.loaded; }

bool node_sizes(const model::View& m, ModelSizes& sizes) {
    if (!structured_sizes(m, sizes)) return false;
    sizes.unstructured = std::max<std::int32_t>(m.counts.node_count, 0);
    return true;
}

bool element_sizes(const model::View& m, ModelSizes& sizes) {
    if (!structured_sizes(m, sizes)) return false;
    sizes.unstructured = std::max<std::int32_t>(m.counts.unstructured_element_total, 0);
    // The host sized its arrays from the part records the counts in force
    // number; a cycle stating more elements than they hold would have them
    // overrun.
    return sizes.unstructured <= model::element_total_in_force(m.analysis, m.counts);
}

float variable_scale(const model::Analysis& a, std::int32_t variable, bool temperature) {
    const variables::Exponents e = variables::real_exponents(variable);
    const std::int32_t code =
        model::dimension_code(e.length, e.time, e.mass, temperature ? e.temperature : 0);
    return model::UnitScale(a.unit_codes).factor(code);
}

bool directory_lists(const model::CycleModel& c, std::int32_t variable, std::int32_t kind,
                     std::int32_t qualifier, bool exact) {
    if (variable < 1) return false;
    return model::first_entry(c, variable, kind, qualifier, exact) > 0;
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

float* RunsOut::row(std::int64_t n) {
    if (scratch.size() < n) runtime::allocate(scratch, n);
    return scratch.data();
}

std::int64_t element_walk_end(const model::Analysis& a, std::int32_t parts, bool planes) {
    std::int64_t end = 0, offset = 0;
    for (std::int32_t p = 1; p <= parts; ++p) {
        const Block b = block(a, p);
        offset += b.slots();
        if (walk_of(b, planes) != Walk::skipped) end = offset;
    }
    return end;
}

bool integer_elements_fit(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                          std::int64_t held) {
    // The array may end before slot T when no unstructured value follows.
    const std::int64_t end =
        sizes.unstructured > 0 ? sizes.slots : element_walk_end(a, sizes.parts, planes);
    return holds(held, end, 1, sizes.unstructured);
}

void copy_integer_elements(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                           const std::int32_t* work, std::int32_t* values) {
    std::int32_t* out = values;
    const std::int32_t* in = work + kHeaderPair;
    std::int64_t offset = 0;
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(a, p);
        const Walk w = walk_of(b, planes);
        if (w == Walk::every_slot) {
            std::memcpy(out, in + offset, static_cast<std::size_t>(b.slots()) * sizeof(*out));
            out += b.slots();
        } else if (w == Walk::element_slots) {
            for_each_element_row(b, [&](std::int64_t first, std::int64_t n) {
                std::memcpy(out, in + offset + first, static_cast<std::size_t>(n) * sizeof(*out));
                out += n;
            });
        }
        offset += b.slots();
    }
    if (sizes.unstructured > 0)
        std::memcpy(out, in + sizes.slots,
                    static_cast<std::size_t>(sizes.unstructured) * sizeof(std::int32_t));
}

}  // namespace qv::extract
