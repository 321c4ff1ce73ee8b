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
#include <cstring>

#include "extract/element_values.h"
#include "extract/slots.h"
#include "format/cycle_arrays.h"
#include "model/store.h"

namespace qv::extract {

int layer_int_elem_values(std::int32_t variable, std::int32_t sublayer, std::int32_t* values) {
    if (!cycle_ready() || !values) return -1;
    if (!directory_lists(variable, model::kElementInteger, sublayer, true)) return -1;
    ModelSizes sizes;
    if (!element_sizes(sizes)) return -1;
    model::Array<std::int32_t> work;
    if (format::read_layered_integer_array(format::kElementObject, -variable, sublayer, work) !=
            format::kReadOk ||
        !work.allocated())
        return -1;
    const model::ModelStore& s = model::store();
    const std::int64_t end =
        sizes.unstructured > 0 ? sizes.slots : element_walk_end(s, sizes.parts, true);
    if (!holds(work.size(), end, 1, sizes.unstructured)) return -1;

    values[0] = work(1);
    values[1] = work(2);
    const std::int32_t* in = work.data() + kHeaderPair;
    std::int32_t* out = values + kHeaderPair;
    std::int64_t offset = 0;
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(s, p);
        if (b.is_plane()) {
            std::memcpy(out, in + offset, static_cast<std::size_t>(b.slots()) * sizeof(*out));
            out += b.slots();
        } else if (b.has_cells()) {
            for_each_element_row(b, [&](std::int64_t first, std::int64_t n) {
                std::memcpy(out, in + offset + first, static_cast<std::size_t>(n) * sizeof(*out));
                out += n;
            });
        }
        offset += b.slots();
    }
    // The array may end before slot T when no unstructured value follows.
    if (sizes.unstructured > 0)
        std::memcpy(out, in + sizes.slots,
                    static_cast<std::size_t>(sizes.unstructured) * sizeof(std::int32_t));
    return 1;
}

}  // namespace qv::extract
