// Whole-model attributes, answered from the model store.
#include "model/attributes.h"

#include <algorithm>

#include "model/store.h"

namespace qv::model {

int file_version(std::int32_t& version) {
    const ModelStore& s = store();
    version = s.model_loaded ? s.file_version : 0;
    return s.model_loaded ? 1 : -1;
}

void unit_system(std::int32_t& length, std::int32_t& mass, std::int32_t& time) {
    const ModelStore& s = store();
    length = s.unit_codes[0];
    mass = s.unit_codes[1];
    time = s.unit_codes[2];
}

void model_symmetry(std::int32_t& word1, std::int32_t& word2) {
    word1 = store().symmetry[0];
    word2 = store().symmetry[1];
}

int input_result_switches(std::int32_t& layout, std::int32_t& materials) {
    const ModelStore& s = store();
    layout = materials = 0;
    if (!s.model_loaded) return -1;
    if (s.base_header.contains(1)) layout = s.base_header(1);
    if (s.base_header.contains(2)) materials = s.base_header(2);
    return 1;
}

bool has_parallel_task_info() { return store().parallel_task_info.size() > 0; }

std::int32_t parallel_task_info_size() {
    return static_cast<std::int32_t>(store().parallel_task_info.size());
}

void parallel_task_information(std::int32_t* values) {
    const auto& info = store().parallel_task_info;
    std::copy(info.begin(), info.end(), values);
}

int pyramid_tet_partner(std::int32_t element, std::int32_t& partner) {
    const ModelStore& s = store();
    if (s.model_loaded && s.pair_count > 0 && element >= 1 && element <= s.pair_map.size()) {
        partner = s.pair_map.find(element);
        return partner > 0 ? 1 : -1;
    }
    partner = 0;
    return -1;
}

}  // namespace qv::model
