// Material queries answered from the analysis.
#include "model/material_queries.h"

namespace qv::model {
namespace {

bool known(const Materials& m, std::int32_t material) {
    return material >= 1 && material <= m.count;
}

}  // namespace

int num_materials(const View& m, std::int32_t& count) {
    count = m.loaded ? m.analysis.materials.count : 0;
    return m.loaded ? 1 : -1;
}

int material_name(const View& m, std::int32_t material, const runtime::TextField& name) {
    const Materials& mat = m.analysis.materials;
    if (!m.loaded || !known(mat, material) || !mat.names.contains(material)) return -1;
    name.write(mat.names(material).view());
    return 1;
}

std::int32_t euler_id_for_material(const Analysis& a, std::int32_t material) {
    const Materials& mat = a.materials;
    if (!known(mat, material) || !mat.ids.contains(material)) return -1;
    return mat.ids(material);
}

std::int32_t material_for_euler_id(const Analysis& a, std::int32_t id) {
    const Materials& mat = a.materials;
    for (std::int32_t m = 1; m <= mat.count && mat.ids.contains(m); ++m)
        if (mat.ids(m) == id) return m;
    return -1;
}

int euler_body_name(const View& m, std::int32_t material, const runtime::TextField& name) {
    const Materials& mat = m.analysis.materials;
    if (!m.loaded || !known(mat, material) || !mat.body_names.contains(material)) return -1;
    name.write(mat.body_names(material).view());
    return 1;
}

int poisson_ratio(const View& m, std::int32_t material, float& ratio) {
    const Materials& mat = m.analysis.materials;
    if (!m.loaded || !known(mat, material) || m.analysis.header_word(2) < 4 ||
        !mat.poisson_ratios.contains(material))
        return -1;
    ratio = mat.poisson_ratios(material);
    return 1;
}

}  // namespace qv::model
