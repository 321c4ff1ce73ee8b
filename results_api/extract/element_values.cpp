// Element values of the current cycle.
//
// A stored element array holds the header pair, the structured slots and
// then the U unstructured elements. The data extraction mode picks what a
// getter returns: mode 1 every slot (2 + T + U values), any other mode the
// element slots only (mode 0). Mode 0 walks each part with cells row by row
// (slots (i, j, 2..K), i, j >= 2), copying each row as one block; a part of
// one I layer contributes all its J x K slots to the real getter and none to
// the integer getter.
//
// Multi-material real variables (real indices 54, 81, 83, 85, 86, 87, 88,
// 89) carry nMat + 1 values in every slot of every structured part: one per
// material, then the slot's own value. In mode 0 an element slot gives the
// values of the materials whose Euler material-fraction id is 0 or more,
// then its own value; a part of one I layer gives that for every one of its
// slots. The unstructured values follow the T x (nMat + 1) slot values. In
// mode 1 there is no expansion: one value per slot, the slot's own (the
// last of its nMat + 1), then the U unstructured values; T + U values in
// all, as for every other variable.
//
// Every getter, in both modes, needs an open cycle file and a valid model,
// fails when the array cannot be read (not stored, section missing, damaged,
// corrupt stream) and when the stored array is shorter than the last value
// its walk reads; all of that is settled before the first value is written,
// so a failing call leaves the caller's array untouched.
#include "extract/element_values.h"

#include <algorithm>
#include <cstring>

#include "extract/slots.h"
#include "format/cycle_arrays.h"
#include "model/material_queries.h"

namespace qv::extract {
namespace {

// Reads the element integer array into `work`; false unless it was read.
// Indices below 1 name no variable (the reader would translate 0 to index 1).
Status read_integers(const Source& src, std::int32_t variable, std::int32_t part,
                      model::Array<std::int32_t>& work) {
    if (variable < 1) return Status::not_stored;
    const format::Status st =
        format::read_integer_array(src.cycle, format::kElementObject, -variable, part, work);
    return st != format::Status::ok ? query_status(st)
                                  : work.allocated() ? Status::ok : Status::damaged;
}

// Reads the element real array into the cycle reader's kept buffer.
Status read_reals(const Source& src, std::int32_t variable, std::int32_t part,
                   runtime::Buffer<float>& work) {
    if (variable < 1) return Status::not_stored;
    const format::Status st =
        format::read_real_array(src.cycle, format::kElementObject, -variable, part, work);
    return st != format::Status::ok ? query_status(st) : work.holds() ? Status::ok : Status::damaged;
}

// Header pair, then every slot and unstructured element as stored.
bool int_every_slot(const Source& src, std::int32_t variable, std::int32_t part,
                   std::int32_t* values) {
    ModelSizes sizes;
    if (!element_sizes(src.model, sizes)) return fail(src, Status::damaged);
    const std::int64_t n = sizes.slots + sizes.unstructured;
    if (n > src.capacity) return fail(src, Status::capacity);
    model::Array<std::int32_t> work;
    if (const Status o = read_integers(src, variable, part, work); o != Status::ok)
        return fail(src, o);
    if (!holds(work.size(), sizes.slots, 1, sizes.unstructured)) return fail(src, Status::damaged);
    std::memcpy(values, work.data() + kHeaderPair,
                static_cast<std::size_t>(n) * sizeof(std::int32_t));
    return true;
}

bool int_element_slots(const Source& src, std::int32_t variable, std::int32_t part,
                      std::int32_t* values) {
    if (!directory_lists(src.model.cycle, variable, model::kElementInteger, part, false))
        return fail(src, Status::not_stored);
    ModelSizes sizes;
    if (!element_sizes(src.model, sizes)) return fail(src, Status::damaged);
    const model::Analysis& a = src.model.analysis;
    if (element_walk_values(a, sizes, false, 1) > src.capacity)
        return fail(src, Status::capacity);
    model::Array<std::int32_t> work;
    if (const Status o = read_integers(src, variable, part, work); o != Status::ok)
        return fail(src, o);
    if (!integer_elements_fit(a, sizes, false, work.size())) return fail(src, Status::damaged);
    copy_integer_elements(a, sizes, false, work.data(), values);
    return true;
}

// Header pair unscaled, then T + U values scaled; one value per slot.
template <class Out>
bool float_every_slot(const Source& src, std::int32_t variable, std::int32_t part, Out& out) {
    // The code is chosen with the temperature exponent taken as 0.
    const float scale = variable_scale(src.model.analysis, variable, false);
    ModelSizes sizes;
    if (!element_sizes(src.model, sizes)) return fail(src, Status::damaged);
    if (sizes.slots + sizes.unstructured > src.capacity)
        return fail(src, Status::capacity);
    runtime::Buffer<float>& work = src.cycle.values;
    if (const Status o = read_reals(src, variable, part, work); o != Status::ok)
        return fail(src, o);
    // A multi-material variable stores nMat + 1 values per slot: the slot's
    // own value, the last of them, stands for the slot, and the unstructured
    // values follow all of them.
    const std::int64_t per_slot =
        multi_material(variable) ? std::max<std::int32_t>(src.model.analysis.materials.count, 0) + 1
                                 : 1;
    if (!holds(work.size(), sizes.slots, per_slot, sizes.unstructured))
        return fail(src, Status::damaged);
    const float* in = work.data() + kHeaderPair;
    if (per_slot == 1) {
        out.copy(in, sizes.slots + sizes.unstructured, scale);
        return true;
    }
    for (std::int64_t x = 0; x < sizes.slots; ++x) out.one(in + x * per_slot + per_slot - 1, scale);
    out.copy(in + sizes.slots * per_slot, sizes.unstructured, scale);
    return true;
}

// The values of one multi-material slot: the reported materials, then the
// slot's own value (the last of its `per_slot` values).
template <class Out>
inline void expand_slot(const float* slot, const std::int32_t* reported, std::int64_t count,
                        std::int64_t per_slot, float scale, Out& out) {
    for (std::int64_t r = 0; r < count; ++r) out.one(slot + reported[r], scale);
    out.one(slot + per_slot - 1, scale);
}

template <class Out>
bool float_element_slots(const Source& src, std::int32_t variable, std::int32_t part, Out& out) {
    if (!directory_lists(src.model.cycle, variable, model::kElementReal, part, false))
        return fail(src, Status::not_stored);
    // All four exponents choose the code.
    const model::Analysis& a = src.model.analysis;
    const float scale = variable_scale(a, variable, true);
    ModelSizes sizes;
    if (!element_sizes(src.model, sizes)) return fail(src, Status::damaged);
    const bool expanded = multi_material(variable);
    const std::int64_t materials = std::max<std::int32_t>(a.materials.count, 0);
    const std::int64_t per_slot = expanded ? materials + 1 : 1;
    const std::int64_t per_out = expanded ? reported_materials(a) + 1 : 1;
    if (element_walk_values(a, sizes, true, per_out) > src.capacity)
        return fail(src, Status::capacity);
    runtime::Buffer<float>& work = src.cycle.values;
    if (const Status o = read_reals(src, variable, part, work); o != Status::ok)
        return fail(src, o);

    const std::int64_t end =
        sizes.unstructured > 0 ? sizes.slots : element_walk_end(a, sizes.parts, true);
    if (!holds(work.size(), end, per_slot, sizes.unstructured)) return fail(src, Status::damaged);

    // Positions (0-based, within a slot) of the materials that are reported.
    model::Array<std::int32_t> reported;
    std::int64_t reported_count = 0;
    if (expanded) {
        runtime::allocate(reported, materials);
        for (std::int32_t m = 1; m <= materials; ++m)
            if (model::euler_id_for_material(a, m) >= 0) reported(++reported_count) = m - 1;
    }

    const float* in = work.data() + kHeaderPair;
    std::int64_t offset = 0;  // slots of the parts before
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(a, p);
        const std::int64_t first_slot = offset;
        offset += b.slots();
        const Walk w = walk_of(b, true);
        if (w == Walk::skipped) continue;  // nothing of it is read
        const float* part_in = in + first_slot * per_slot;
        if (!expanded) {
            if (w == Walk::every_slot) {
                out.copy(part_in, b.slots(), scale);
            } else {
                for_each_element_layer(b, [&](std::int64_t first, std::int64_t count, std::int64_t length,
                                              std::int64_t stride) {
                    out.rows(part_in + first, count, length, stride, scale);
                });
            }
        } else if (w == Walk::every_slot) {
            for (std::int64_t x = 0; x < b.slots(); ++x)
                expand_slot(part_in + x * per_slot, reported.data(), reported_count, per_slot, scale, out);
        } else {
            for_each_element_row(b, [&](std::int64_t first, std::int64_t n) {
                for (std::int64_t x = first; x < first + n; ++x)
                    expand_slot(part_in + x * per_slot, reported.data(), reported_count, per_slot, scale,
                                out);
            });
        }
    }
    // The array may end before slot T when no unstructured value follows.
    if (sizes.unstructured > 0) out.copy(in + sizes.slots * per_slot, sizes.unstructured, scale);
    return true;
}

}  // namespace

bool int_elem_values(const Source& src, std::int32_t variable, std::int32_t part,
                    std::int32_t* values) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    // Mode 1 does not consult the directory: an array the cycle does not
    // store fails in the read, as mode 0 fails in the lookup.
    return src.mode == 1 ? int_every_slot(src, variable, part, values)
                         : int_element_slots(src, variable, part, values);
}

namespace {

template <class Out>
bool float_elem_to(const Source& src, std::int32_t variable, std::int32_t part, Out& out) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    return src.mode == 1 ? float_every_slot(src, variable, part, out)
                         : float_element_slots(src, variable, part, out);
}

}  // namespace

bool float_elem_values(const Source& src, std::int32_t variable, std::int32_t part, float* values) {
    CopyOut out{values};
    return float_elem_to(src, variable, part, out);
}

bool float_elem_runs(const Source& src, std::int32_t variable, std::int32_t part, RealRuns& runs) {
    RunsOut out{runs};
    return float_elem_to(src, variable, part, out);
}

}  // namespace qv::extract
