// Joint quantities, rigid body transforms and result sets.
#include "model/joints.h"

#include "model/store.h"
#include "model/units.h"

namespace qv::model {

// Joint and rigid body data come from the cycle-file readers, which arrive
// with the cycle-file format.
int joint_data(std::int32_t, std::int32_t, float*) { return -1; }
int rigid_body_data(std::int32_t, float*) { return -1; }

int set_data(std::int32_t* cycles, float* times) {
    ModelStore& s = store();
    if (!s.model_loaded) return -1;
    refresh_unit_exponents();
    const float scale = si_factor(23);
    for (std::size_t k = 0; k < s.steps.size(); ++k) {
        cycles[k] = s.steps[k].cycle;
        times[k] = s.steps[k].time * scale;
    }
    return 1;
}

}  // namespace qv::model
