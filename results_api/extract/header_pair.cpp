// The header pair of a stored node or element array.
#include <cstring>

#include "extract/element_values.h"
#include "format/cycle_arrays.h"

namespace qv::extract {

int header_pair(const Source& src, bool nodes, bool real, bool sublayer, std::int32_t variable,
                std::int32_t part, std::uint32_t pair[2]) {
    if (!cycle_ready(src)) return fail(src, Outcome::not_ready);
    const std::int32_t kind = nodes ? (real ? model::kNodeReal : model::kNodeInteger)
                                    : (real ? model::kElementReal : model::kElementInteger);
    if (!directory_lists(src.model.cycle, variable, kind, part, sublayer))
        return fail(src, Outcome::not_stored);
    const std::int32_t object = nodes ? format::kNodeObject : format::kElementObject;
    format::Read st = format::Read::ok;
    if (real) {
        runtime::Buffer<float>& work = src.cycle.values;
        st = format::read_real_array(src.cycle, object, -variable, part, work);
        if (st != format::Read::ok) return fail(src, outcome_of(st));
        if (!work.holds() || work.size() < kHeaderPair) return fail(src, Outcome::damaged);
        std::memcpy(pair, work.data(), sizeof(std::uint32_t) * kHeaderPair);
        return 1;
    }
    model::Array<std::int32_t> work;
    st = sublayer ? format::read_layered_integer_array(src.cycle, object, -variable, part, work)
                  : format::read_integer_array(src.cycle, object, -variable, part, work);
    if (st != format::Read::ok) return fail(src, outcome_of(st));
    if (!work.allocated() || work.size() < kHeaderPair) return fail(src, Outcome::damaged);
    std::memcpy(pair, work.data(), sizeof(std::uint32_t) * kHeaderPair);
    return 1;
}

}  // namespace qv::extract
