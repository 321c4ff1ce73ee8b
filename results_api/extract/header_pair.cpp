// The header pair of a stored node or element array.
#include <cstring>

#include "extract/element_values.h"
#include "format/cycle_arrays.h"

namespace qv::extract {

bool header_pair(const Source& src, bool nodes, bool real, bool sublayer, std::int32_t variable,
                std::int32_t part, std::uint32_t pair[2]) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    const std::int32_t kind = nodes ? (real ? model::kNodeReal : model::kNodeInteger)
                                    : (real ? model::kElementReal : model::kElementInteger);
    if (!directory_lists(src.model.cycle, variable, kind, part, sublayer))
        return fail(src, Status::not_stored);
    const std::int32_t object = nodes ? format::kNodeObject : format::kElementObject;
    format::Status st = format::Status::ok;
    if (real) {
        runtime::Buffer<float>& work = src.cycle.values;
        st = format::read_real_array(src.cycle, object, -variable, part, work);
        if (st != format::Status::ok) return fail(src, query_status(st));
        if (!work.holds() || work.size() < kHeaderPair) return fail(src, Status::damaged);
        std::memcpy(pair, work.data(), sizeof(std::uint32_t) * kHeaderPair);
        return true;
    }
    model::Array<std::int32_t> work;
    st = sublayer ? format::read_layered_integer_array(src.cycle, object, -variable, part, work)
                  : format::read_integer_array(src.cycle, object, -variable, part, work);
    if (st != format::Status::ok) return fail(src, query_status(st));
    if (!work.allocated() || work.size() < kHeaderPair) return fail(src, Status::damaged);
    std::memcpy(pair, work.data(), sizeof(std::uint32_t) * kHeaderPair);
    return true;
}

}  // namespace qv::extract
