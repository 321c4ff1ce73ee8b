// Exports of the model queries: attributes, counts and parts, materials,
// host element kinds and numbering.
#include "results_api.h"

#include <algorithm>

#include "api/export_guard.h"
#include "api/session.h"
#include "model/attributes.h"
#include "model/element_kinds.h"
#include "model/material_queries.h"
#include "model/part_queries.h"
#include "runtime/text_field.h"

using qv::api::given;
using qv::api::guarded;
using qv::api::session;
using qv::model::View;
using qv::runtime::TextField;

namespace {

const qv::model::Analysis& analysis() { return session().analysis; }

// A count query: the count on success, -1 on failure.
template <class Worker>
bool count_query(int32_t* count, Worker worker) {
    if (!count) return false;
    return guarded([&] {
        int32_t value = 0;
        const bool ok = worker(session().view(), value) > 0;
        *count = ok ? value : -1;
        return ok;
    });
}

// A query on an in/out part or material number: -1 into it on failure.
template <class Worker>
bool marked_query(int32_t* index, Worker worker) {
    const int32_t copy = *index;
    return guarded([&] {
        const bool ok = worker(session().view(), copy) > 0;
        if (!ok) *index = -1;
        return ok;
    });
}

// A lookup whose value is valid when 0 or more.
template <class Worker>
bool value_query(const int32_t* in, int32_t* out, Worker worker) {
    if (!given(in, out)) return false;
    const int32_t copy = *in;
    return guarded([&] {
        *out = worker(analysis(), copy);
        return *out >= 0;
    });
}

}  // namespace

extern "C" {

// ---- Attributes -----------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL getResultsFileVersion(int32_t* version) {
    if (!version) return false;
    return guarded([&] { return qv::model::file_version(session().view(), *version) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getUnitSystem(int32_t* length, int32_t* mass,
                                                       int32_t* time) {
    if (!given(length, mass, time)) return false;
    const qv::model::Analysis& a = analysis();
    *length = a.unit_codes[0];
    *mass = a.unit_codes[1];
    *time = a.unit_codes[2];
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getModelSymmetry(int32_t* word1, int32_t* word2) {
    if (!given(word1, word2)) return false;
    *word1 = analysis().symmetry[0];
    *word2 = analysis().symmetry[1];
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getInputResultSwitches(int32_t* layout,
                                                                int32_t* materials) {
    if (!given(layout, materials)) return false;
    return guarded([&] {
        return qv::model::input_result_switches(session().view(), *layout, *materials) > 0;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL hasParallelTaskInfo(void) {
    return analysis().parallel_task_info.size() > 0;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInfoSize(int32_t* count) {
    if (!count) return false;
    *count = static_cast<int32_t>(analysis().parallel_task_info.size());
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInformation(int32_t* values) {
    if (!values) return false;
    const auto& info = analysis().parallel_task_info;
    std::copy(info.begin(), info.end(), values);
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getPyramidTetPairId(const int32_t* element,
                                                             int32_t* partner) {
    if (!given(element, partner)) return false;
    const int32_t e = *element;
    return guarded(
        [&] { return qv::model::pyramid_tet_partner(session().view(), e, *partner) > 0; });
}

// ---- Counts and parts -------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumNodes(int32_t* count) {
    return count_query(count, qv::model::num_nodes);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumSteps(int32_t* count) {
    return count_query(count, qv::model::num_steps);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredParts(int32_t* count) {
    return count_query(count, qv::model::num_structured_parts);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredParts(int32_t* count) {
    return count_query(count, qv::model::num_unstructured_parts);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredNodes(int32_t* count) {
    return count_query(count, qv::model::num_nodes);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredElements(int32_t* count) {
    // The total recomputed from the part records becomes the one in force,
    // replacing what a cycle file stated.
    return count_query(count, [](const View& m, int32_t& value) {
        const int status = qv::model::num_unstructured_elements(m, value);
        if (status > 0) session().counts.unstructured_element_total = value;
        return status;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredNodes(int32_t* i_extents,
                                                                int32_t* j_extents,
                                                                int32_t* k_extents) {
    if (!given(i_extents, j_extents, k_extents)) return false;
    return guarded([&] {
        return qv::model::structured_extents(session().view(), i_extents, j_extents, k_extents) > 0;
    });
}

// Not provided; one function under two names.
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredElements(void) { return false; }
#if defined(_WIN32)
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterialInElement(void) { return false; }
#else
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterialInElement(void)
    __attribute__((alias("get_NumStructuredElements")));
#endif

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumElements(int32_t* count) {
    if (count) *count = -1;
    return false;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_PartInfo(const int32_t* part, int32_t* elements,
                                                      int32_t* nodes, char* name) {
    if (!given(part, elements, nodes, name)) return false;
    const int32_t p = *part;
    return guarded([&] {
        return qv::model::part_info(session().view(), p, *elements, *nodes, TextField::of(name)) > 0;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementPartConnectivity(int32_t* part, int32_t* ids) {
    if (!given(part, ids)) return false;
    return marked_query(part, [&](const View& m, int32_t p) {
        return qv::model::element_part_connectivity(m, p, ids);
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodePartConnectivity(int32_t* part, int32_t* ids) {
    if (!given(part, ids)) return false;
    return marked_query(part, [&](const View& m, int32_t p) {
        return qv::model::node_part_connectivity(m, p, ids);
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_UnstructuredElementConnectivity(int32_t* nodes) {
    if (!nodes) return false;
    return guarded([&] { return qv::model::unstructured_connectivity(session().view(), nodes) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementType(int32_t* types) {
    if (!types) return false;
    return guarded([&] { return qv::model::element_types(session().view(), types) > 0; });
}

// ---- Materials --------------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterials(int32_t* count) {
    return count_query(count, qv::model::num_materials);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialName(int32_t* material, char* name) {
    if (!given(material, name)) return false;
    return marked_query(material, [&](const View& m, int32_t k) {
        return qv::model::material_name(m, k, TextField::of(name));
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getMaterialPoissonRatio(const int32_t* material,
                                                                 float* ratio) {
    if (!given(material, ratio)) return false;
    const int32_t m = *material;
    return guarded([&] { return qv::model::poisson_ratio(session().view(), m, *ratio) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getEulerMatFracBodyName(const int32_t* material,
                                                                 char* name) {
    if (!given(material, name)) return false;
    const int32_t m = *material;
    return guarded([&] {
        return qv::model::euler_body_name(session().view(), m, TextField::of(name)) > 0;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getEulerMatFracIDforQVMaterial(const int32_t* material,
                                                                        int32_t* id) {
    return value_query(material, id, qv::model::euler_id_for_material);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getQVMaterialforEulerMatFracID(const int32_t* id,
                                                                        int32_t* material) {
    return value_query(id, material, qv::model::material_for_euler_id);
}

// ---- Host element kinds and numbering ---------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPnumElementTypes(int32_t* count) {
    return count_query(count, qv::model::num_element_types);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElementType(const int32_t* index, int32_t* type) {
    if (!given(index, type)) return false;
    const int32_t t = *index;
    return guarded(
        [&] { return qv::model::element_type_position(session().view(), t, *type) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElement(const int32_t* element, int32_t* type,
                                                       int32_t* nodes) {
    if (!given(element, type, nodes)) return false;
    const int32_t x = *element;
    return guarded([&] { return qv::model::zp_element(session().view(), x, *type, nodes) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElementNumNodes(const int32_t* element,
                                                               int32_t* count) {
    if (!given(element, count)) return false;
    const int32_t x = *element;
    *count = 0;
    return guarded(
        [&] { return qv::model::zp_element_num_nodes(session().view(), x, *count) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getQuorvexElementNumber(const int32_t* index,
                                                                 int32_t* number) {
    return value_query(index, number, qv::model::element_position);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getQuorvexNodeNumber(const int32_t* index,
                                                              int32_t* number) {
    return value_query(index, number, qv::model::node_position);
}

}  // extern "C"
