// Analyses on disk for tests.
#include "support/analysis_files.h"

namespace qvtest {

qvw::BaseFileSpec small_model() {
    qvw::BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts.push_back(qvw::PartSpec::structured("BLOCK", 3, 2, 2));
    desc.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    desc.parts.back().node_ids = {1, 2, 3};  // stale: rebuilt from the connectivity
    // Twelve unstructured nodes behind the block's twelve.
    desc.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int n = 0; n < 24; ++n) {
        desc.coordinates.push_back(float(n));
        desc.coordinates.push_back(float(2 * n));
        desc.coordinates.push_back(float(3 * n));
    }
    desc.element_types = {1, 1};
    for (int n = 1; n <= 24; ++n) desc.node_numbers.push_back(100 + n);
    desc.element_numbers = {10, 20};
    desc.units[0] = 1;
    desc.units[1] = 3;
    desc.units[2] = 3;
    desc.symmetry[0] = 1;
    desc.symmetry[1] = 2;
    desc.pairs = {{10, 20}};
    desc.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", -1, "BODY-B", 0.0f}};
    return desc;
}

namespace {

constexpr std::int32_t kMixedExtents[4][3] = {{1, 3, 2}, {3, 3, 3}, {2, 1, 3}, {1, 2, 2}};
constexpr std::int32_t kMixedSlots = 43, kMixedUnstructuredNodes = 12, kMixedElements = 3;
constexpr std::int32_t kMixedMaterials = 3;

}  // namespace

qvw::BaseFileSpec mixed_model() {
    qvw::BaseFileSpec desc;
    desc.header = {5, 4};
    const char* names[] = {"PLANE", "CUBE", "SLAB", "SHEET"};
    for (int p = 0; p < 4; ++p)
        desc.parts.push_back(qvw::PartSpec::structured(names[p], kMixedExtents[p][0],
                                                       kMixedExtents[p][1], kMixedExtents[p][2]));
    desc.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    desc.parts.push_back(qvw::PartSpec::unstructured("SKIN", {3}));
    desc.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12,
                         9, 10, 11, 12, 0, 0, 0, 0};
    desc.element_types = {1, 1, 2};
    for (int n = 0; n < kMixedSlots + kMixedUnstructuredNodes; ++n) {
        desc.coordinates.insert(desc.coordinates.end(), {float(n), float(2 * n), float(3 * n)});
        desc.node_numbers.push_back(100 + n);
    }
    desc.element_numbers = {10, 20, 30};
    desc.materials = {{"WATER", 1, "BODY-W", 0.5f}, {"STEEL", -1, "", 0.3f}, {"AIR", 0, "BODY-A", 0.0f}};
    return desc;
}

qvw::CycleFileSpec mixed_cycle(std::int32_t c) {
    using qvw::DirectoryEntrySpec;
    qvw::CycleFileSpec cycle;
    cycle.cycle = c;
    cycle.time = float(c) / 1000.0f;
    for (const auto& e : kMixedExtents) cycle.structured_parts.push_back({e[0], e[1], e[2]});
    cycle.unstructured_parts = 2;
    cycle.unstructured_nodes = kMixedUnstructuredNodes;
    cycle.unstructured_elements = kMixedElements;

    // Element arrays: the header pair (c, variable), `per_slot` values for
    // every slot, then the unstructured elements.
    const auto elements = [&](std::int32_t variable, int per_slot) {
        std::vector<float> v = {float(c), float(variable)};
        for (int p = 0; p < 4; ++p) {
            const std::int32_t* e = kMixedExtents[p];
            for (int s = 0; s < e[0] * e[1] * e[2]; ++s) {
                const float own = float(10000 * c + 1000 * (p + 1) + s);
                for (int m = 1; m < per_slot; ++m) v.push_back(own + float(m) / 4.0f);
                v.push_back(own);
            }
        }
        for (int e = 1; e <= kMixedElements; ++e) v.push_back(float(10000 * c + 9000 + e));
        return v;
    };
    const auto integers = [](const std::vector<float>& v) {
        return std::vector<std::int32_t>(v.begin(), v.end());
    };
    std::vector<float> nodes = {float(c), 4.0f};
    for (int n = 0; n < kMixedSlots + kMixedUnstructuredNodes; ++n) nodes.push_back(float(10000 * c + n));

    cycle.entries = {
        DirectoryEntrySpec::real(-2, 64, 1, elements(64, 1), "PRESSURE"),
        DirectoryEntrySpec::integer(-1, 10, 1, integers(elements(10, 1)), "MATERIAL"),
        DirectoryEntrySpec::integer(-1, 12, 1, integers(elements(12, 1)), "STATUS"),
        DirectoryEntrySpec::integer(-1, 26, 1, integers(elements(26, 1)), "EROSION"),
        DirectoryEntrySpec::integer(-1, 40, -1, integers(elements(40, 1)), "SUBLAYER"),
        DirectoryEntrySpec::real(2, 4, 1, nodes, "X-VELOCITY"),
        DirectoryEntrySpec::integer(1, 26, 1, integers(nodes), "EROSION"),
    };
    for (std::int32_t v : {54, 81, 83, 85, 86, 87, 88, 89})
        cycle.entries.push_back(DirectoryEntrySpec::real(-2, v, 1, elements(v, kMixedMaterials + 1),
                                                         v == 86 ? "TEMP" : ""));
    cycle.variable_count = static_cast<std::int32_t>(cycle.entries.size());

    cycle.displacements.emplace();
    for (int n = 0; n < kMixedSlots + kMixedUnstructuredNodes; ++n)
        cycle.displacements->insert(cycle.displacements->end(), {float(c), float(n), float(-n)});
    cycle.material_fractions.emplace();
    for (int m = 1; m <= kMixedMaterials; ++m)
        cycle.material_fractions->push_back(std::vector<float>(kMixedSlots, float(m) / 4.0f));
    return cycle;
}

std::string write_base(const TempDir& dir, const qvw::BaseFileSpec& desc, const std::string& run) {
    qvw::write_base_file(desc).save(dir.file(run + ".qvres_base"));
    return dir.file(run + "_base.qvres");
}

}  // namespace qvtest
