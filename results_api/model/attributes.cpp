// Whole-model attributes and the list of result sets.
#include "model/attributes.h"

#include "model/units.h"

namespace qv::model {

int file_version(const View& m, std::int32_t& version) {
    version = m.loaded ? m.analysis.file_version : 0;
    return m.loaded ? 1 : -1;
}

int input_result_switches(const View& m, std::int32_t& layout, std::int32_t& materials) {
    layout = materials = 0;
    if (!m.loaded) return -1;
    layout = m.analysis.header_word(1);
    materials = m.analysis.header_word(2);
    return 1;
}

int pyramid_tet_partner(const View& m, std::int32_t element, std::int32_t& partner) {
    const Analysis& a = m.analysis;
    if (m.loaded && a.pair_count > 0 && element >= 1 && element <= a.pair_map.size()) {
        // A pair may name no element (0 or a negative number): no partner.
        const std::int32_t found = a.pair_map.find(element);
        if (found > 0) {
            partner = found;
            return 1;
        }
    }
    partner = 0;
    return -1;
}

int set_data(const View& m, std::int32_t* cycles, float* times) {
    if (!m.loaded) return -1;
    constexpr std::int32_t kTime = 23;  // dimension code of time
    const float scale = UnitScale(m.analysis.unit_codes).factor(kTime);
    const auto& steps = m.analysis.steps;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        cycles[k] = steps[k].cycle;
        times[k] = steps[k].time * scale;
    }
    return 1;
}

}  // namespace qv::model
