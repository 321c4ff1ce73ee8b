// The seed analysis of the fuzz targets.
#include "seed_model.h"

#include <vector>

namespace qvfuzz {
namespace {

constexpr std::int32_t kSlots = 3 * 2 * 2 + 1 * 2 * 2;  // T
constexpr std::int32_t kUnstructuredNodes = 12;
constexpr std::int32_t kUnstructuredElements = 3;
constexpr std::int32_t kMaterials = 3;

std::vector<float> ramp(std::int32_t n, float first, float step) {
    std::vector<float> v;
    for (std::int32_t i = 0; i < n; ++i) v.push_back(first + step * float(i));
    return v;
}

// Header pair (variable, part), then one value per slot and per unstructured
// node or element.
std::vector<float> real_values(std::int32_t variable, std::int32_t tail,
                               std::int32_t per_slot = 1) {
    std::vector<float> v = {float(variable), 1.0f};
    for (float x : ramp(kSlots * per_slot + tail, 0.5f, 0.25f)) v.push_back(x);
    return v;
}

std::vector<std::int32_t> int_values(std::int32_t variable, std::int32_t tail) {
    std::vector<std::int32_t> v = {variable, 1};
    for (std::int32_t i = 0; i < kSlots + tail; ++i) v.push_back(i % 3);
    return v;
}

}  // namespace

qvw::BaseFileSpec seed_base() {
    qvw::BaseFileSpec desc;
    desc.header = {6, 4};
    desc.release = 15000;
    desc.parts = {
        qvw::PartSpec::structured("CUBE", 3, 2, 2), qvw::PartSpec::structured("PLANE", 1, 2, 2),
        qvw::PartSpec::unstructured("BRICKS", {1, 2}), qvw::PartSpec::unstructured("SKIN", {3})};
    // Two hexahedra sharing a face and a quadrilateral shell on the first.
    desc.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 0, 0, 0, 0};
    desc.coordinates = ramp(3 * (kSlots + kUnstructuredNodes), 0.0f, 1.5f);
    desc.element_types = {1, 1, 2};
    for (std::int32_t n = 1; n <= kSlots + kUnstructuredNodes; ++n)
        desc.node_numbers.push_back(100 + n);
    desc.element_numbers = {10, 20, 30};
    desc.units[0] = 1;
    desc.units[1] = 3;
    desc.units[2] = 2;
    desc.symmetry[0] = 1;
    desc.symmetry[1] = 2;
    desc.pairs = {{10, 20}};
    desc.materials = {
        {"WATER", 1, "POOL", 0.49f}, {"AIR", -1, "", 0.0f}, {"TNT", 2, "CHARGE", 0.3f}};
    desc.parallel_section = true;
    desc.parallel_info = {2, 1, 2, 8, 8};
    return desc;
}

qvw::CycleFileSpec seed_cycle(std::int32_t header_words, std::int32_t chunk_size) {
    qvw::CycleFileSpec c;
    c.header = {1, 1, 1, 1, 0, 1};
    while (static_cast<std::int32_t>(c.header.size()) < header_words) c.header.push_back(1);
    c.chunk_size = chunk_size;
    c.cycle = 120;
    c.time = 2.5f;
    c.structured_parts = {{3, 2, 2}, {1, 2, 2}};
    c.unstructured_parts = 2;
    c.unstructured_nodes = kUnstructuredNodes;
    c.unstructured_elements = kUnstructuredElements;
    c.variable_count = 11;
    c.object_counts[0] = 2 + kUnstructuredElements;
    c.object_counts[1] = kSlots + kUnstructuredNodes;

    using E = qvw::DirectoryEntrySpec;
    c.entries = {
        E::real(2, 4, 1, real_values(4, kUnstructuredNodes), "X-VELOCITY"),
        E::integer(1, 35, 1, int_values(35, kUnstructuredNodes), "TASK NUMBER"),
        E::real(-2, 64, 1, real_values(64, kUnstructuredElements), "PRESSURE"),
        E::real(-2, 86, 1, real_values(86, kUnstructuredElements, kMaterials + 1), "TEMP"),
        E::real(-2, 155, 1, real_values(155, kUnstructuredElements), "COVER FRAC.V"),
        E::integer(-1, 10, 1, int_values(10, kUnstructuredElements), "MATERIAL"),
        E::integer(-1, 12, 1, int_values(12, kUnstructuredElements), "STATUS"),
        E::integer(-1, 26, 1, int_values(26, kUnstructuredElements), "EROSION"),
        E::integer(-1, 30, -1, int_values(30, kUnstructuredElements), "SUBLAYER.A"),
        E::integer(-1, 30, 2, int_values(30, kUnstructuredElements), "SUBLAYER.A"),
        E::real(2, 5, -2, real_values(5, kUnstructuredNodes), "Y-VELOCITY"),
        E::real(3, 7, 1, {}, "NO ARRAY"),
    };

    std::vector<float> displacements = ramp(3 * (kSlots + kUnstructuredNodes), -1.0f, 0.125f);
    displacements[0] = 2.0e11f;  // a node without a displacement
    c.displacements = displacements;
    c.material_fractions = std::vector<std::vector<float>>{ramp(kSlots, 0.0f, 1.0f / 16),
                                                           ramp(kSlots, 1.0f, -1.0f / 16),
                                                           std::vector<float>(kSlots, 0.0f)};
    c.rigid_bodies = qvw::BodyArraysSpec{{1, 5}, ramp(30, 0.0f, 0.5f)};
    c.joints = qvw::BodyArraysSpec{{3}, ramp(39, 1.0f, 0.25f)};
    return c;
}

}  // namespace qvfuzz
