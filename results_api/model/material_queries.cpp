// Material queries answered from the model store.
#include "model/material_queries.h"

#include "model/store.h"

namespace qv::model {
namespace {

bool known(const ModelStore& s, std::int32_t m) { return m >= 1 && m <= s.material_count; }

}  // namespace

int num_materials(std::int32_t& count) {
    const ModelStore& s = store();
    count = s.model_loaded ? s.material_count : 0;
    return s.model_loaded ? 1 : -1;
}

int material_name(std::int32_t material, const runtime::TextField& name) {
    const ModelStore& s = store();
    if (!s.model_loaded || !known(s, material) || !s.material_names.contains(material)) return -1;
    name.write(s.material_names(material).view());
    return 1;
}

std::int32_t euler_id_for_material(std::int32_t material) {
    const ModelStore& s = store();
    if (!known(s, material) || !s.material_ids.contains(material)) return -1;
    return s.material_ids(material);
}

std::int32_t material_for_euler_id(std::int32_t id) {
    const ModelStore& s = store();
    if (s.material_count < 1) return -1;
    for (std::int32_t m = 1; m <= s.material_count && s.material_ids.contains(m); ++m)
        if (s.material_ids(m) == id) return m;
    return -1;
}

int euler_body_name(std::int32_t material, const runtime::TextField& name) {
    const ModelStore& s = store();
    if (!s.model_loaded || !known(s, material) || !s.body_names.contains(material)) return -1;
    name.write(s.body_names(material).view());
    return 1;
}

int poisson_ratio(std::int32_t material, float& ratio) {
    const ModelStore& s = store();
    const std::int32_t level = s.base_header.contains(2) ? s.base_header(2) : 0;
    if (!s.model_loaded || !known(s, material) || level < 4 ||
        !s.poisson_ratios.contains(material))
        return -1;
    ratio = s.poisson_ratios(material);
    return 1;
}

}  // namespace qv::model
