// Integer element values of one shell sublayer.
//
// Sublayer arrays are element integer arrays told apart by the qualifier of
// their directory entries, which holds the sublayer number and is matched
// sign included (the export turns sublayer 0 into -1). The result ignores
// the data extraction mode: the header pair, all J x K slots of every part
// of one I layer, the element slots of every part with cells, then the U
// unstructured values. Like the other value queries it needs an open cycle
// file and a valid model, and fails, leaving the caller's array untouched,
// when the array cannot be read or is shorter than the last value read.
#include "extract/element_values.h"
#include "extract/slots.h"
#include "format/cycle_arrays.h"

namespace qv::extract {

bool layer_int_elem_values(const Source& src, std::int32_t variable, std::int32_t sublayer,
                          std::int32_t* values) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    if (!directory_lists(src.model.cycle, variable, model::kElementInteger, sublayer, true))
        return fail(src, Status::not_stored);
    ModelSizes sizes;
    if (!element_sizes(src.model, sizes)) return fail(src, Status::damaged);
    const model::Analysis& a = src.model.analysis;
    if (element_walk_values(a, sizes, true, 1) > src.capacity) return fail(src, Status::capacity);
    model::Array<std::int32_t> work;
    const format::Status st = format::read_layered_integer_array(src.cycle, format::kElementObject,
                                                               -variable, sublayer, work);
    if (st != format::Status::ok) return fail(src, query_status(st));
    if (!work.allocated() || !integer_elements_fit(a, sizes, true, work.size()))
        return fail(src, Status::damaged);
    copy_integer_elements(a, sizes, true, work.data(), values);
    return true;
}

}  // namespace qv::extract
