// Exports of the value queries: node and element values, sublayers, joints,
// rigid bodies and result sets.
#include "results_api.h"

#include "api/export_guard.h"
#include "extract/element_values.h"
#include "extract/node_values.h"
#include "model/joints.h"

using qv::api::guarded;

namespace {

// A value getter on an in/out variable: -1 into it on failure.
template <class T, class Worker>
bool variable_query(int32_t* variable, const int32_t* selector, T* values, Worker worker) {
    if (!variable || !selector) return false;
    const int32_t v = *variable;
    const int32_t s = *selector;
    return guarded([&] {
        const bool ok = worker(v, s, values) > 0;
        if (!ok) *variable = -1;
        return ok;
    });
}

}  // namespace

extern "C" {

// ---- Node values -------------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeCoordinates(float* xyz) {
    return guarded([&] { return qv::extract::node_coordinates(xyz) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeDisplacements(float* xyz) {
    return guarded([&] { return qv::extract::node_displacements(xyz) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_IntNodeValues(int32_t* variable, const int32_t* part,
                                                           int32_t* values) {
    return variable_query(variable, part, values, qv::extract::int_node_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_FloatNodeValues(int32_t* variable,
                                                             const int32_t* part, float* values) {
    return variable_query(variable, part, values, qv::extract::float_node_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeErosion(int32_t* values) {
    return guarded([&] { return qv::extract::int_node_values(26, 1, values) > 0; });
}

// ---- Element values ----------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_IntElemValues(int32_t* variable, const int32_t* part,
                                                           int32_t* values) {
    return variable_query(variable, part, values, qv::extract::int_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_FloatElemValues(int32_t* variable,
                                                             const int32_t* part, float* values) {
    return variable_query(variable, part, values, qv::extract::float_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementErosion(int32_t* values) {
    return guarded([&] { return qv::extract::int_elem_values(26, 1, values) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementMaterial(int32_t* values) {
    return guarded([&] { return qv::extract::int_elem_values(10, 1, values) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementStatus(int32_t* values) {
    return guarded([&] { return qv::extract::int_elem_values(12, 1, values) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_LayerIntElemValues(int32_t* variable,
                                                                const int32_t* sublayer,
                                                                int32_t* values) {
    if (!sublayer) return false;
    // Sublayer 0 selects the array stored with qualifier -1.
    const int32_t layer = *sublayer == 0 ? -1 : *sublayer;
    return variable_query(variable, &layer, values, qv::extract::layer_int_elem_values);
}

// ---- Joints, rigid bodies and result sets -----------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_JointData(const int32_t* joint,
                                                       const int32_t* quantity, float* record) {
    if (!joint || !quantity || !record) return false;
    const int32_t j = *joint;
    const int32_t q = *quantity;
    return guarded([&] { return qv::model::joint_data(j, q, record) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_RigidBodyData(const int32_t* body, float* record) {
    if (!body || !record) return false;
    const int32_t b = *body;
    return guarded([&] { return qv::model::rigid_body_data(b, record) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_SetData(int32_t* cycles, float* times) {
    return guarded([&] {
        const bool ok = qv::model::set_data(cycles, times) > 0;
        if (!ok && cycles) cycles[0] = -1;
        return ok;
    });
}

}  // extern "C"
