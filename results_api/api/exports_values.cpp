// Exports of the value queries: node and element values, sublayers,
// material fractions, joints, rigid bodies and result sets.
#include "results_api.h"

#include <cstring>

#include "api/export_guard.h"
#include "api/session.h"
#include "extract/element_values.h"
#include "extract/node_values.h"
#include "model/attributes.h"

using qv::api::given;
using qv::api::guarded;
using qv::api::session;
using qv::extract::Source;

namespace {

// The exports return a node or element array as stored: the header pair
// the array starts with, then the values the core gives.
template <class T, class Worker>
bool with_header_pair(Worker worker, int32_t variable, int32_t selector, T* values) {
    qv::api::Session& s = session();
    if (!worker(s.source(), variable, selector, values + qv::model::kHeaderPair)) return false;
    std::memcpy(values, s.cycle.header_pair, sizeof s.cycle.header_pair);
    return true;
}

// A value getter on an in/out variable: -1 into it on failure.
template <class T, class Worker>
bool variable_query(int32_t* variable, const int32_t* selector, T* values, Worker worker) {
    if (!given(variable, selector, values)) return false;
    const int32_t v = *variable;
    const int32_t s = *selector;
    return guarded([&] {
        const bool ok = with_header_pair(worker, v, s, values);
        if (!ok) *variable = -1;
        return ok;
    });
}

// A getter of one fixed integer variable, part 1.
template <class Worker>
bool fixed_query(int32_t* values, int32_t variable, Worker worker) {
    if (!values) return false;
    return guarded([&] { return with_header_pair(worker, variable, 1, values); });
}

}  // namespace

extern "C" {

// ---- Node values -------------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeCoordinates(float* xyz) {
    if (!xyz) return false;
    return guarded([&] { return qv::extract::node_coordinates(session().view(), xyz); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeDisplacements(float* xyz) {
    if (!xyz) return false;
    return guarded([&] { return qv::extract::node_displacements(session().source(), xyz); });
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
    return fixed_query(values, 26, qv::extract::int_node_values);
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
    return fixed_query(values, 26, qv::extract::int_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementMaterial(int32_t* values) {
    return fixed_query(values, 10, qv::extract::int_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementStatus(int32_t* values) {
    return fixed_query(values, 12, qv::extract::int_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_LayerIntElemValues(int32_t* variable,
                                                                const int32_t* sublayer,
                                                                int32_t* values) {
    if (!sublayer) return false;
    // Sublayer 0 selects the array stored with qualifier -1.
    const int32_t layer = *sublayer == 0 ? -1 : *sublayer;
    return variable_query(variable, &layer, values, qv::extract::layer_int_elem_values);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialFractions(const int32_t* material,
                                                               float* fractions) {
    if (!given(material, fractions)) return false;
    const int32_t m = *material;
    return guarded(
        [&] { return qv::extract::material_fractions(session().source(), m, fractions); });
}

// ---- Joints, rigid bodies and result sets -----------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_JointData(const int32_t* joint,
                                                       const int32_t* quantity, float* record) {
    if (!given(joint, quantity, record)) return false;
    const int32_t j = *joint;
    const int32_t q = *quantity;
    return guarded([&] { return qv::extract::joint_data(session().source(), j, q, record); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_RigidBodyData(const int32_t* body, float* record) {
    if (!given(body, record)) return false;
    const int32_t b = *body;
    return guarded([&] { return qv::extract::rigid_body_data(session().source(), b, record); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_SetData(int32_t* cycles, float* times) {
    if (!given(cycles, times)) return false;
    return guarded([&] {
        const bool ok = qv::model::set_data(session().view(), cycles, times) > 0;
        if (!ok) cycles[0] = -1;
        return ok;
    });
}

}  // extern "C"
