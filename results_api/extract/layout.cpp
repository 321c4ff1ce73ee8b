// The layout of each value query, from the walk the getters take.
#include "extract/layout.h"

#include "model/material_queries.h"

namespace qv::extract {

bool layout_of(const model::View& m, Query q, std::int32_t variable, Layout& out) {
    const model::Analysis& a = m.analysis;
    out = Layout{};
    ModelSizes sizes;
    const bool nodes = q == Query::displacements || q == Query::node_values;
    if (q == Query::material_fractions) {
        if (!model::structured_parts_served(a, m.counts)) return false;
        sizes.parts = model::usable_structured_parts(a, m.counts);
    } else if (!(nodes ? node_sizes(m, sizes) : element_sizes(m, sizes))) {
        return false;
    }
    out.nodes = nodes;
    out.columns = q == Query::displacements ? 3 : 1;
    if (q == Query::element_reals && multi_material(variable)) {
        for (std::int32_t mat = 1; mat <= a.materials.count; ++mat)
            if (model::euler_id_for_material(a, mat) >= 0) out.column_materials.push_back(mat);
        out.column_materials.push_back(0);
        out.columns = static_cast<std::int64_t>(out.column_materials.size());
    }
    // Every slot for node arrays and all-slot requests; the element walk
    // (with planes for the real and sublayer getters) otherwise.
    const bool all = nodes || q == Query::every_slot;
    const bool planes = q == Query::element_reals || q == Query::sublayer_integers;
    std::int64_t at = 0;
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(a, p);
        LayoutBlock lb;
        lb.part = p;
        lb.first = at;
        const Walk w = all ? Walk::every_slot : walk_of(b, planes);
        if (w == Walk::skipped || b.slots() == 0) continue;
        if (w == Walk::every_slot) {
            lb.extent[0] = b.i, lb.extent[1] = b.j, lb.extent[2] = b.k;
        } else {
            lb.extent[0] = b.i - 1, lb.extent[1] = b.j - 1, lb.extent[2] = b.k - 1;
            lb.origin[0] = lb.origin[1] = lb.origin[2] = 2;
            lb.elements = true;
        }
        at += lb.extent[0] * lb.extent[1] * lb.extent[2] * out.columns;
        out.blocks.push_back(lb);
    }
    out.unstructured_first = at;
    out.unstructured_columns = q == Query::displacements ? 3 : 1;
    if (q != Query::material_fractions) out.unstructured = sizes.unstructured;
    out.values = at + out.unstructured * out.unstructured_columns;
    return true;
}

}  // namespace qv::extract
