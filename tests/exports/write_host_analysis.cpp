// Writes the two analyses that host_e2e.c reads, one per directory given on
// the command line (each directory is emptied first):
//
//   write_host_analysis <directory of "plate_run"> <directory of "tank_test">
//
// Every stored value follows a formula of the node or element and the cycle
// number c; host_e2e.c checks the library's answers against the same
// formulas, which are the contract between the two programs.
//
// "plate_run", units (1, 3, 3): lengths in mm, mass and time in SI.
//   Parts: 1 BLOCK structured 3 x 3 x 2, 2 BAR structured 2 x 2 x 3,
//          3 BRICKS hexahedra 1, 2, 4 SKIN shells 3 (quadrilateral), 4
//          (triangle). T = 18 + 12 = 30 slots, 14 unstructured nodes,
//          N = 44 nodes; node numbers 1001..1044, element numbers 10..40.
//   Coordinates of node n (0-based, model node order): (n, 2n, 3n).
//   Cycles (file number: cycle c, time c / 100): 1: 300, 2: 100, 3: 400,
//   4: 200; files 1 and 3 in the single form, 2 and 4 chunked.
//   Directory, in this order (variable count 12):
//     node integer 26 "EROSION":      pair (c, 26); node n: c + n
//     element real 67 "STRESS XX":    pair (c, 67); element slot (i,j,k) of
//        part P: c + 100P + 10i + j + 0.5k; other slots -1e6; unstructured
//        element e (1-based): c + 0.25e
//     node real 4 "X-VELOCITY":       pair (c, 0.5); cell slot (i,j,k) of
//        part P: c + 1000P + 100i + 10j + k; other slots -1e6; unstructured
//        node u (0-based): c + 0.5u
//     element integer 10 "MATERIAL":  pair (c, 10); every slot (i,j,k) of
//        part P: 10000c + 1000P + 100i + 10j + k; unstructured element e:
//        10000c + 9000 + e
//   Displacement of node n: (c + n, -n, 0.5n), node 5 without one (x = 2e11).
//   Rigid body 4: R a quarter turn about z, p = (c, 2, 3), initial (1, 0, 0).
//   Joint 8: force triple (c, 2, 3), frame M a quarter turn about z, all
//   other triples 0.
//
// "tank_test", SI units (no unit records).
//   Parts: 1 CUBE structured 2 x 2 x 2, 2 TET one tetrahedron (nodes 1..4).
//   12 nodes; one material. Cycles: file 1: c = 5, time 0.5; file 2: c = 2,
//   time 0.25, both single form. Directory: node integer 28 "GLOBAL_INDEX":
//   pair (c, 28); node n: 2n + c. No rigid body or joint sections.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

using qvw::BaseFileSpec;
using qvw::CycleFileSpec;
using qvw::DirectoryEntrySpec;
using qvw::PartSpec;

struct Block {
    std::int32_t part, i, j, k;
};
const Block kPlateBlocks[] = {{1, 3, 3, 2}, {2, 2, 2, 3}};
constexpr std::int32_t kPlateSlots = 30;
constexpr std::int32_t kPlateUnstructuredNodes = 14;
constexpr std::int32_t kPlateNodes = kPlateSlots + kPlateUnstructuredNodes;
constexpr std::int32_t kPlateElements = 4;
constexpr float kPoison = -1.0e6f;

// Calls f(part, i, j, k) for every slot in model node order (K fastest).
template <class F>
void each_slot(F f) {
    for (const Block& b : kPlateBlocks)
        for (std::int32_t i = 1; i <= b.i; ++i)
            for (std::int32_t j = 1; j <= b.j; ++j)
                for (std::int32_t k = 1; k <= b.k; ++k) f(b.part, i, j, k);
}

BaseFileSpec plate_model() {
    BaseFileSpec model;
    model.header = {5, 4};
    model.parts = {PartSpec::structured("BLOCK", 3, 3, 2), PartSpec::structured("BAR", 2, 2, 3),
                  PartSpec::unstructured("BRICKS", {1, 2}), PartSpec::unstructured("SKIN", {3, 4})};
    model.connectivity = {1, 2,  3,  4,  5, 6, 7, 8,  5,  6,  7,  8, 9, 10, 11, 12,
                         9, 10, 11, 12, 0, 0, 0, 0,  13, 14, 9,  0, 0, 0,  0,  0};
    model.element_types = {1, 1, 2, 2};
    for (std::int32_t n = 0; n < kPlateNodes; ++n) {
        model.coordinates.push_back(float(n));
        model.coordinates.push_back(float(2 * n));
        model.coordinates.push_back(float(3 * n));
        model.node_numbers.push_back(1001 + n);
    }
    model.element_numbers = {10, 20, 30, 40};
    model.units[0] = 1;
    model.units[1] = 3;
    model.units[2] = 3;
    model.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", 2, "BODY-B", 0.0f}};
    return model;
}

CycleFileSpec plate_cycle(std::int32_t c, bool chunked) {
    CycleFileSpec file;
    file.header = chunked ? std::vector<std::int32_t>{1, 1, 1, 1, 0, 1, 1, 1}
                          : std::vector<std::int32_t>{1, 1, 1, 1, 0, 1};
    file.chunk_size = 5;
    file.cycle = c;
    file.time = float(c) / 100.0f;
    file.structured_parts = {{3, 3, 2}, {2, 2, 3}};
    file.unstructured_parts = 2;
    file.unstructured_nodes = kPlateUnstructuredNodes;
    file.unstructured_elements = kPlateElements;
    file.variable_count = 12;
    const float cf = float(c);

    std::vector<std::int32_t> node_ints = {c, 26};
    for (std::int32_t n = 0; n < kPlateNodes; ++n) node_ints.push_back(c + n);

    std::vector<float> node_reals = {cf, 0.5f};
    each_slot([&](std::int32_t p, std::int32_t i, std::int32_t j, std::int32_t k) {
        const bool cell = i >= 2 && j >= 2 && k >= 2;
        node_reals.push_back(cell ? cf + float(1000 * p + 100 * i + 10 * j + k) : kPoison);
    });
    for (std::int32_t u = 0; u < kPlateUnstructuredNodes; ++u) node_reals.push_back(cf + 0.5f * float(u));

    std::vector<std::int32_t> element_ints = {c, 10};
    std::vector<float> element_reals = {cf, 67.0f};
    each_slot([&](std::int32_t p, std::int32_t i, std::int32_t j, std::int32_t k) {
        element_ints.push_back(10000 * c + 1000 * p + 100 * i + 10 * j + k);
        const bool element = i >= 2 && j >= 2 && k >= 2;
        element_reals.push_back(element ? cf + float(100 * p + 10 * i + j) + 0.5f * float(k)
                                        : kPoison);
    });
    for (std::int32_t e = 1; e <= kPlateElements; ++e) {
        element_ints.push_back(10000 * c + 9000 + e);
        element_reals.push_back(cf + 0.25f * float(e));
    }

    file.entries = {DirectoryEntrySpec::integer(1, 26, 1, node_ints, "EROSION"),
                    DirectoryEntrySpec::real(-2, 67, 1, element_reals, "STRESS XX"),
                    DirectoryEntrySpec::real(2, 4, 1, node_reals, "X-VELOCITY"),
                    DirectoryEntrySpec::integer(-1, 10, 1, element_ints, "MATERIAL")};

    std::vector<float> displacements;
    for (std::int32_t n = 0; n < kPlateNodes; ++n) {
        displacements.push_back(n == 5 ? 2.0e11f : cf + float(n));
        displacements.push_back(-float(n));
        displacements.push_back(0.5f * float(n));
    }
    file.displacements = displacements;

    const std::vector<float> quarter_turn = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    qvw::BodyArraysSpec body{{4}, quarter_turn};
    for (float v : {cf, 2.0f, 3.0f, 1.0f, 0.0f, 0.0f}) body.data.push_back(v);
    file.rigid_bodies = body;

    qvw::BodyArraysSpec joint{{8}, {cf, 2.0f, 3.0f}};
    joint.data.resize(30, 0.0f);
    joint.data.insert(joint.data.end(), quarter_turn.begin(), quarter_turn.end());
    file.joints = joint;
    return file;
}

BaseFileSpec tank_model() {
    BaseFileSpec model;
    model.header = {2, 1};
    model.parts = {PartSpec::structured("CUBE", 2, 2, 2), PartSpec::unstructured("TET", {1})};
    model.connectivity = {1, 2, 3, 4, 0, 0, 0, 0};
    model.element_types = {1};
    for (std::int32_t n = 0; n < 12; ++n) {
        for (int axis = 0; axis < 3; ++axis) model.coordinates.push_back(float(n + axis));
        model.node_numbers.push_back(n + 1);
    }
    model.element_numbers = {7};
    model.materials = {{"WATER", 0, "", 0.0f}};
    return model;
}

CycleFileSpec tank_cycle(std::int32_t c, float time) {
    CycleFileSpec file;
    file.cycle = c;
    file.time = time;
    file.structured_parts = {{2, 2, 2}};
    file.unstructured_parts = 1;
    file.unstructured_nodes = 4;
    file.unstructured_elements = 1;
    file.variable_count = 1;
    std::vector<std::int32_t> values = {c, 28};
    for (std::int32_t n = 0; n < 12; ++n) values.push_back(2 * n + c);
    file.entries = {DirectoryEntrySpec::integer(1, 28, 1, values, "GLOBAL_INDEX")};
    return file;
}

std::string fresh_directory(const char* path) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return std::string(path) + "/";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " <plate_run directory> <tank_test directory>\n";
        return 2;
    }
    try {
        const std::string plate = fresh_directory(argv[1]);
        qvw::write_base_file(plate_model()).save(plate + "plate_run.qvres_base");
        const struct {
            const char* name;
            std::int32_t cycle;
            bool chunked;
        } cycles[] = {{"plate_run_0001.qvres", 300, false},
                      {"plate_run_0002.qvres", 100, true},
                      {"plate_run_0003.qvres", 400, false},
                      {"plate_run_0004.qvres", 200, true}};
        for (const auto& f : cycles)
            qvw::write_cycle_file(plate_cycle(f.cycle, f.chunked)).save(plate + f.name);

        const std::string tank = fresh_directory(argv[2]);
        qvw::write_base_file(tank_model()).save(tank + "tank_test.qvres_base");
        qvw::write_cycle_file(tank_cycle(5, 0.5f)).save(tank + "tank_test_0001.qvres");
        qvw::write_cycle_file(tank_cycle(2, 0.25f)).save(tank + "tank_test_0002.qvres");
    } catch (const std::exception& e) {
        std::cerr << "write_host_analysis: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
