// The value query sweep shared by the cycle-reading fuzz targets.
#include "value_sweep.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "results_api.h"

namespace qvfuzz {
namespace {

// Sizes of the value arrays of one cycle.
struct ValueSizes {
    std::int64_t node = 0;            // N + 2
    std::int64_t every_slot = 0;      // mode 1: 2 + T + E
    std::int64_t int_elements = 0;    // mode 0
    std::int64_t real_elements = 0;   // mode 0, planes included
    std::int64_t multi_material = 0;  // mode 0, reported materials per slot
    std::int64_t layers = 0;
};

bool is_multi_material(std::int32_t v) {
    switch (v) {
        case 54:
        case 81:
        case 83:
        case 85:
        case 86:
        case 87:
        case 88:
        case 89: return true;
        default: return false;
    }
}

// A value query into a fresh array of `count` values: it must not write
// past the array, and a query that fails must leave it as it was.
template <class T, class Query>
bool value_query(std::int64_t count, const Budget& budget, bool opened, const char* what,
                 Query query) {
    Buffer<T> out(count, budget, what);
    if (!out.usable()) return false;
    const bool ok = query(out.data());
    if (!ok && !out.untouched())
        qvfuzz::fail((std::string("failed query wrote: ") + what).c_str(), count);
    if (ok && !opened) qvfuzz::fail("value from a cycle that did not open", count);
    return ok;
}

// A getter of one stored array, selected by variable and part (or
// sublayer): its in/out variable argument is kept on success, kept or -1 on
// failure.
template <class T>
using StoredArrayGetter = bool (*)(std::int32_t*, const std::int32_t*, T*);

template <class T>
void stored_array(StoredArrayGetter<T> getter, std::int64_t count, std::int32_t variable,
                  std::int32_t part, const Budget& budget, bool opened) {
    value_query<T>(count, budget, opened, "stored array", [&](T* out) {
        std::int32_t v = variable;
        const bool ok = getter(&v, &part, out);
        if (v != variable && (ok || v != -1)) qvfuzz::fail("variable argument changed", v);
        return ok;
    });
}

}  // namespace

ModelSizes model_sizes(const Budget& budget) {
    ModelSizes m;
    m.blocks = qvfuzz::structured_blocks(budget);
    std::int32_t e = 0, k = 0;
    if (get_NumUnstructuredElements(&e)) check_count(e, budget, "elements");
    if (get_NumMaterials(&k)) check_count(k, budget, "materials");
    m.elements = std::max(e, 0);
    m.materials = std::max(k, 0);
    for (std::int32_t x = 1; x <= k; ++x) {
        std::int32_t id = 0;
        if (getEulerMatFracIDforQVMaterial(&x, &id)) ++m.reported;
    }
    return m;
}

void sweep_values(const ModelSizes& m, const Budget& budget, bool opened) {
    std::int32_t nodes = 0;
    if (get_NumNodes(&nodes)) check_count(nodes, budget, "nodes");
    if (nodes < 0) nodes = 0;
    const qvfuzz::Blocks& b = m.blocks;
    const std::int64_t n = b.slots + nodes;
    ValueSizes z;
    z.node = n + 2;
    z.every_slot = 2 + b.slots + m.elements;
    z.int_elements = 2 + b.cells + m.elements;
    z.real_elements = 2 + b.cells + b.plane_slots + m.elements;
    z.multi_material = 2 + (b.cells + b.plane_slots) * (m.reported + 1) + m.elements;
    z.layers = 2 + b.cells + b.plane_slots + m.elements;

    std::int32_t entries = 0;
    {
        Outputs o;
        std::int32_t *variables = o.i32(), *listed = o.i32();
        const bool counted = get_NumVariables(variables, listed);
        if (counted != opened) qvfuzz::fail("variable count", opened);
        o.check(counted, "variable count", -1);
        if (counted) {
            check_count(*variables, budget, "variable count");
            check_count(*listed, budget, "directory entries");
            entries = *listed;
        }
    }
    Buffer<std::int32_t> qualifiers(entries, budget, "directory entries"),
        indices(entries, budget, "directory entries"), kinds(entries, budget, "directory entries");
    // Names of exactly 100 characters, primed, a guard byte behind each.
    std::vector<std::vector<char>> names(static_cast<std::size_t>(entries),
                                         std::vector<char>(101, 'q'));
    std::vector<char*> name_ptrs;
    for (auto& name : names) name_ptrs.push_back(name.data());
    struct Wanted {
        std::int32_t variable, part;
    };
    std::vector<Wanted> wanted = {{1, 1}, {0, 1}, {-4, 1}, {26, 1}, {155, 1}};
    const bool described =
        get_VariableInfo(qualifiers.data(), name_ptrs.data(), indices.data(), kinds.data());
    for (const auto& name : names)
        if (name[100] != 'q' || (!described && std::count(name.begin(), name.end(), 'q') != 101))
            qvfuzz::fail("variable names written past 100 characters or on failure");
    if (!described && (!qualifiers.untouched() || !indices.untouched() || !kinds.untouched()))
        qvfuzz::fail("failed variable description wrote");
    if (described) {
        for (std::int32_t i = 0; i < entries; ++i) {
            const std::int32_t q = qualifiers.data()[i];
            wanted.push_back({indices.data()[i], q});
            // A negative code -c asks for index c.
            const std::int32_t index = indices.data()[i];
            std::int32_t code = index == INT32_MIN ? index : -index, kind = kinds.data()[i],
                         exact = i % 2;
            get_isResultAvailable(&code, &q, &kind, &exact);
        }
    }
    // Node and sublayer getters read the same whatever the extraction mode;
    // the element getters are swept in both. Then, backwards, the getters
    // that continue from where the last one stopped, so that they also start
    // again from the section tag.
    for (std::int32_t mode : {0, 1}) {
        setDataExtractionMode(&mode);
        const std::int64_t ints = mode == 1 ? z.every_slot : z.int_elements;
        for (const Wanted& w : wanted) {
            const std::int32_t part = w.part < 0 && w.part != INT32_MIN ? -w.part : w.part;
            const std::int64_t reals = mode == 1                       ? z.every_slot
                                       : is_multi_material(w.variable) ? z.multi_material
                                                                       : z.real_elements;
            if (mode == 0) {
                stored_array(get_IntNodeValues, z.node, w.variable, part, budget, opened);
                stored_array(get_FloatNodeValues, z.node, w.variable, part, budget, opened);
                stored_array(get_LayerIntElemValues, z.layers, w.variable, w.part, budget, opened);
            }
            stored_array(get_IntElemValues, ints, w.variable, part, budget, opened);
            stored_array(get_FloatElemValues, reals, w.variable, part, budget, opened);
        }
        value_query<std::int32_t>(ints, budget, opened, "element erosion", get_ElementErosion);
        value_query<std::int32_t>(ints, budget, opened, "element material", get_ElementMaterial);
        value_query<std::int32_t>(ints, budget, opened, "element status", get_ElementStatus);
    }
    std::int32_t mode = 0;
    setDataExtractionMode(&mode);
    for (auto w = wanted.rbegin(); w != wanted.rend(); ++w) {
        const std::int32_t part = w->part < 0 && w->part != INT32_MIN ? -w->part : w->part;
        stored_array(get_FloatNodeValues, z.node, w->variable, part, budget, opened);
        stored_array(get_FloatElemValues,
                     is_multi_material(w->variable) ? z.multi_material : z.real_elements,
                     w->variable, part, budget, opened);
        stored_array(get_LayerIntElemValues, z.layers, w->variable, w->part, budget, opened);
    }
    value_query<std::int32_t>(z.node, budget, opened, "node erosion", get_NodeErosion);

    value_query<float>(3 * n, budget, opened, "displacements", get_NodeDisplacements);
    for (std::int32_t k : qvfuzz::around({m.materials})) {
        value_query<float>(b.cells, budget, opened, "material fractions",
                           [&](float* out) { return get_MaterialFractions(&k, out); });
    }
    for (std::int32_t body : {-1, 0, 1, 5, 6}) {
        value_query<float>(12, budget, opened, "rigid body",
                           [&](float* out) { return get_RigidBodyData(&body, out); });
    }
    // Every quantity of a joint the seed stores, the kinds of answer of the
    // others.
    for (std::int32_t joint : {0, 3, 4})
        for (std::int32_t q : {-14, -13, -11, -1, 0, 1, 9, 11, 13, 14})
            if (joint == 3 || q == 0 || q == 11 || q == -14)
                value_query<float>(16, budget, opened, "joint",
                                   [&](float* out) { return get_JointData(&joint, &q, out); });
}

}  // namespace qvfuzz
