// Per-element material fractions of the current cycle.
//
// The fraction of material m in a structured element is (1 - c) x f, where
// f is the element's value in m's material fraction array and c its value
// in the Euler cover fraction array (element real array of variable index
// 155, qualifier 1), both read once per opened cycle file.
//
// Where the file format leaves room:
// - A cycle whose result directory lists no cover fraction array has nothing
//   covering its Euler elements: c is taken as 0 and the query returns f. A
//   cover array that the directory lists but that could not be read (damaged
//   section, corrupt stream, no element arrays stored) fails the query, and
//   so does one that is too short for the slots walked: no value is invented
//   for an element the file does not describe.
// - A cycle without "<MMVars>" holds no material anywhere: every fraction
//   is 0, computed without an array of zeros (which would cost memory the
//   file cannot justify). One whose header says the section holds no arrays
//   gives 0 too. A material array that could not be read (corrupt stream,
//   damaged section) fails the query.
// - Slots are counted only over the structured parts with I extent 2 or
//   more; parts below that are passed over without counting their slots.
//   The material arrays hold one value per slot of every structured part, so
//   this count never runs past them; it is checked all the same.
// - Everything is checked before the first value is written: a failing
//   query leaves the caller's array untouched.
#include <algorithm>

#include "extract/element_values.h"
#include "format/cycle_arrays.h"

namespace qv::extract {
namespace {

using model::Analysis;
using model::Array;

bool directory_lists_cover(const model::CycleModel& c) {
    for (const model::DirectoryEntry& e : c.directory)
        if (model::entry_matches(e, model::kCoverFractionVariable, model::kElementReal, 1, false))
            return true;
    return false;
}

std::int64_t extent(const Array<std::int32_t>& sizes, std::int32_t part) {
    return std::max<std::int32_t>(sizes(part), 0);
}

}  // namespace

std::int64_t material_fraction_count(const model::View& m) {
    if (!model::structured_parts_served(m.analysis, m.counts)) return -1;
    const std::int32_t parts = model::usable_structured_parts(m.analysis, m.counts);
    std::int64_t values = 0;
    for (std::int32_t part = 1; part <= parts; ++part) {
        const Block b = block(m.analysis, part);
        if (b.has_cells()) values += (b.i - 1) * (b.j - 1) * (b.k - 1);
    }
    return values;
}

namespace {

// The slot position of the last element slot the walk reads (0 when it reads
// none) and the number of values it writes.
struct WalkExtent {
    std::int64_t last_slot = 0;
    std::int64_t values = 0;
};

WalkExtent walk_extent(const Analysis& a, std::int32_t parts) {
    WalkExtent w;
    std::int64_t p = 0;
    for (std::int32_t part = 1; part <= parts; ++part) {
        const std::int64_t i = extent(a.size_a, part);
        const std::int64_t j = extent(a.size_b, part);
        const std::int64_t k = extent(a.size_c, part);
        if (i < 2) continue;
        p += i * j * k;
        // Slot (I, J, K) closes the part and is an element slot when J and K
        // are 2 or more.
        if (j >= 2 && k >= 2) {
            w.last_slot = p;
            w.values += (i - 1) * (j - 1) * (k - 1);
        }
    }
    return w;
}

}  // namespace

bool material_fractions(const Source& src, std::int32_t material, float* fractions) {
    const model::View& m = src.model;
    const Analysis& a = m.analysis;
    if (!src.cycle.is_open() || !m.loaded) return fail(src, Status::not_ready);
    if (material < 1 || material > a.materials.count) return fail(src, Status::argument);
    // A cycle stating more structured parts than the base file has extents
    // for leaves hosts without a count of the elements to size for.
    if (!model::structured_parts_served(a, m.counts)) return fail(src, Status::damaged);
    const std::int32_t parts = model::usable_structured_parts(a, m.counts);
    const WalkExtent w = walk_extent(a, parts);
    if (w.values > src.capacity) return fail(src, Status::capacity);

    format::MaterialFractions& mf = src.cycle.fractions;
    if (!mf.loaded)
        format::read_material_fractions(src.cycle, model::structured_slots(a, m.counts),
                                        std::max<std::int32_t>(a.materials.count, 0));
    // Without "<MMVars>" no material is anywhere: every fraction is 0,
    // without an array of zeros being made for it.
    const bool absent = mf.status == format::Status::section_missing;
    const Array<float>* f = nullptr;
    if (!absent) {
        if (static_cast<std::size_t>(material) > mf.materials.size() ||
            !mf.materials[static_cast<std::size_t>(material) - 1].allocated())
            return fail(src, Status::damaged);
        f = &mf.materials[static_cast<std::size_t>(material) - 1];
        if (f->size() < w.last_slot) return fail(src, Status::damaged);
    }
    const bool covered = directory_lists_cover(m.cycle);
    const Array<float>& cover = mf.cover;
    if (covered && !cover.allocated()) return fail(src, Status::damaged);
    if (covered && cover.size() < w.last_slot + model::kHeaderPair)
        return fail(src, Status::damaged);

    std::int64_t p = 0;
    std::int64_t out = 0;
    for (std::int32_t part = 1; part <= parts; ++part) {
        const std::int64_t ni = extent(a.size_a, part);
        const std::int64_t nj = extent(a.size_b, part);
        const std::int64_t nk = extent(a.size_c, part);
        if (ni < 2) continue;
        for (std::int64_t i = 1; i <= ni; ++i)
            for (std::int64_t j = 1; j <= nj; ++j)
                for (std::int64_t k = 1; k <= nk; ++k) {
                    ++p;
                    if (i < 2 || j < 2 || k < 2) continue;
                    const float c = covered ? cover(p + model::kHeaderPair) : 0.0f;
                    fractions[out++] = (1.0f - c) * (f ? (*f)(p) : 0.0f);
                }
    }
    return true;
}

}  // namespace qv::extract
