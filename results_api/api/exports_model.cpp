// Exports of the model queries: attributes, counts and parts, materials,
// host element kinds and numbering.
#include "results_api.h"

#include "api/export_guard.h"
#include "model/attributes.h"
#include "model/element_kinds.h"
#include "model/material_queries.h"
#include "model/part_queries.h"
#include "runtime/text_field.h"

using qv::api::guarded;
using qv::runtime::TextField;

namespace {

// A count query: the count on success, -1 on failure.
template <class Worker>
bool count_query(int32_t* count, Worker worker) {
    if (!count) return false;
    return guarded([&] {
        int32_t value = 0;
        const bool ok = worker(value) > 0;
        *count = ok ? value : -1;
        return ok;
    });
}

// A query on an in/out part or material number: -1 into it on failure.
template <class Worker>
bool marked_query(int32_t* index, Worker worker) {
    if (!index) return false;
    const int32_t copy = *index;
    return guarded([&] {
        const bool ok = worker(copy) > 0;
        if (!ok) *index = -1;
        return ok;
    });
}

// A lookup whose value is valid when 0 or more.
template <class Worker>
bool value_query(const int32_t* in, int32_t* out, Worker worker) {
    if (!in || !out) return false;
    const int32_t copy = *in;
    return guarded([&] {
        *out = worker(copy);
        return *out >= 0;
    });
}

}  // namespace

extern "C" {

// ---- Attributes -----------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL getResultsFileVersion(int32_t* version) {
    if (!version) return false;
    return guarded([&] { return qv::model::file_version(*version) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getUnitSystem(int32_t* length, int32_t* mass,
                                                       int32_t* time) {
    int32_t l, m, t;
    qv::model::unit_system(l, m, t);
    if (length) *length = l;
    if (mass) *mass = m;
    if (time) *time = t;
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getModelSymmetry(int32_t* word1, int32_t* word2) {
    int32_t a, b;
    qv::model::model_symmetry(a, b);
    if (word1) *word1 = a;
    if (word2) *word2 = b;
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getInputResultSwitches(int32_t* layout,
                                                                int32_t* materials) {
    if (!layout || !materials) return false;
    return guarded([&] { return qv::model::input_result_switches(*layout, *materials) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL hasParallelTaskInfo(void) {
    return qv::model::has_parallel_task_info();
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInfoSize(int32_t* count) {
    if (count) *count = qv::model::parallel_task_info_size();
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInformation(int32_t* values) {
    if (values) qv::model::parallel_task_information(values);
    return true;
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getPyramidTetPairId(const int32_t* element,
                                                             int32_t* partner) {
    if (!element || !partner) return false;
    const int32_t e = *element;
    return guarded([&] { return qv::model::pyramid_tet_partner(e, *partner) > 0; });
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
    return count_query(count, qv::model::num_unstructured_elements);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredNodes(int32_t* i_extents,
                                                                int32_t* j_extents,
                                                                int32_t* k_extents) {
    return guarded(
        [&] { return qv::model::structured_extents(i_extents, j_extents, k_extents) > 0; });
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
    if (!part || !elements || !nodes) return false;
    const int32_t p = *part;
    return guarded(
        [&] { return qv::model::part_info(p, *elements, *nodes, TextField::of(name)) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementPartConnectivity(int32_t* part, int32_t* ids) {
    return marked_query(part, [&](int32_t p) { return qv::model::element_part_connectivity(p, ids); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodePartConnectivity(int32_t* part, int32_t* ids) {
    return marked_query(part, [&](int32_t p) { return qv::model::node_part_connectivity(p, ids); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_UnstructuredElementConnectivity(int32_t* nodes) {
    return guarded([&] { return qv::model::unstructured_connectivity(nodes) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementType(int32_t* types) {
    return guarded([&] { return qv::model::element_types(types) > 0; });
}

// ---- Materials --------------------------------------------------------------

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterials(int32_t* count) {
    return count_query(count, qv::model::num_materials);
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialName(int32_t* material, char* name) {
    return marked_query(material, [&](int32_t m) {
        return qv::model::material_name(m, TextField::of(name));
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialFractions(const int32_t* material,
                                                               float* fractions) {
    if (!material) return false;
    const int32_t m = *material;
    return guarded([&] { return qv::model::material_fractions(m, fractions) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getMaterialPoissonRatio(const int32_t* material,
                                                                 float* ratio) {
    if (!material || !ratio) return false;
    const int32_t m = *material;
    return guarded([&] { return qv::model::poisson_ratio(m, *ratio) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL getEulerMatFracBodyName(const int32_t* material,
                                                                 char* name) {
    if (!material) return false;
    const int32_t m = *material;
    return guarded([&] { return qv::model::euler_body_name(m, TextField::of(name)) > 0; });
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
    if (!index || !type) return false;
    const int32_t t = *index;
    return guarded([&] { return qv::model::element_type_position(t, *type) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElement(const int32_t* element, int32_t* type,
                                                       int32_t* nodes) {
    if (!element || !type || !nodes) return false;
    const int32_t x = *element;
    return guarded([&] { return qv::model::zp_element(x, *type, nodes) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElementNumNodes(const int32_t* element,
                                                               int32_t* count) {
    if (!count) return false;
    *count = 0;
    if (!element) return false;
    const int32_t x = *element;
    return guarded([&] { return qv::model::zp_element_num_nodes(x, *count) > 0; });
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
