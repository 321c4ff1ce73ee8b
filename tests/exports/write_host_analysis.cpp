// Writes the two analyses that host_e2e.c reads, one per directory given on
// the command line (each directory is emptied first):
//
//   write_host_analysis <directory of "plate_run"> <directory of "tank_test">
//
// Every stored value follows a formula of the node or element and the cycle
// number c; host_e2e.c checks the library's answers against the same
// formulas, which are the contract between the two programs.
//
// Both analyses are laid out alike: structured parts 1..S first, then the
// unstructured parts; T slots, U unstructured nodes, N = T + U nodes.
//   "plate_run", units (1, 3, 3): lengths in mm, mass and time in SI.
//     1 BLOCK structured 3 x 3 x 2, 2 BAR structured 2 x 2 x 3, 3 BRICKS
//     hexahedra 1, 2, 4 SKIN shells 3 (quadrilateral), 4 (triangle):
//     T = 30, U = 14. Cycle files 1..4: c = 300, 100, 400, 200. Rigid body
//     4 and joint 8 in every cycle.
//   "tank_test", SI units (no unit records).
//     1 CUBE structured 2 x 2 x 2, 2 TET one tetrahedron: T = 8, U = 4.
//     Cycle files 1, 2: c = 5, 2. No rigid body or joint sections.
// Even-numbered cycle files are chunked. Every cycle: time c / 100 s,
// variable count 12 and the directory
//   node integer 26 "EROSION":      pair (c, 26); node n: c + n
//   element real 67 "STRESS XX":    pair (c, 67); element slot (i,j,k) of
//      part P: c + 100P + 10i + j + 0.5k; other slots -1e6; unstructured
//      element e (1-based): c + 0.25e
//   node real 4 "X-VELOCITY":       pair (c, 0.5); cell slot (i,j,k) of
//      part P: c + 1000P + 100i + 10j + k; other slots -1e6; unstructured
//      node u (0-based): c + 0.5u
//   element integer 10 "MATERIAL":  pair (c, 10); every slot (i,j,k) of
//      part P: 10000c + 1000P + 100i + 10j + k; unstructured element e:
//      10000c + 9000 + e
// Coordinates of node n (0-based, model node order): (n, 2n, 3n).
// Displacement of node n: (c + n, -n, 0.5n), node 5 without one (x = 2e11).
// Rigid body 4: R a quarter turn about z, p = (c, 2, 3), initial (1, 0, 0).
// Joint 8: force triple (c, 2, 3), frame M a quarter turn about z, all
// other triples 0.
#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

using qvw::DirectoryEntrySpec;
using qvw::PartSpec;

struct Analysis {
    std::vector<std::array<std::int32_t, 3>> blocks;  // I, J, K of parts 1..S
    std::vector<std::vector<std::int32_t>> unstructured_parts;  // element rows of each
    std::vector<std::int32_t> connectivity;  // 8 per unstructured element
    std::vector<std::int32_t> element_types;
    std::int32_t unstructured_nodes;
    std::vector<std::int32_t> header;  // of the base file; > 2 states units (1, 3, 3)
    std::vector<std::int32_t> cycles;  // of files 1, 2, ...
    bool bodies;
};

const Analysis kPlate = {{{3, 3, 2}, {2, 2, 3}},
                         {{1, 2}, {3, 4}},
                         {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12,
                          9, 10, 11, 12, 0, 0, 0, 0, 13, 14, 9, 0, 0, 0, 0, 0},
                         {1, 1, 2, 2},
                         14,
                         {5, 4},
                         {300, 100, 400, 200},
                         true};
const Analysis kTank = {{{2, 2, 2}}, {{1}}, {1, 2, 3, 4, 0, 0, 0, 0}, {1}, 4, {2, 1}, {5, 2}, false};

qvw::BaseFileSpec base_file(const Analysis& a) {
    qvw::BaseFileSpec model;
    model.header = a.header;
    std::int32_t slots = 0;
    for (const auto& b : a.blocks) {
        model.parts.push_back(PartSpec::structured("BLOCK", b[0], b[1], b[2]));
        slots += b[0] * b[1] * b[2];
    }
    for (const auto& elements : a.unstructured_parts)
        model.parts.push_back(PartSpec::unstructured("ELEMENTS", elements));
    model.connectivity = a.connectivity;
    model.element_types = a.element_types;
    for (std::int32_t n = 0; n < slots + a.unstructured_nodes; ++n) {
        for (int axis = 1; axis <= 3; ++axis) model.coordinates.push_back(float(axis * n));
        model.node_numbers.push_back(1001 + n);
    }
    for (std::size_t e = 1; e <= a.element_types.size(); ++e)
        model.element_numbers.push_back(std::int32_t(10 * e));
    model.units[0] = 1;  // mass and time in SI
    model.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", 2, "BODY-B", 0.0f}};
    return model;
}

qvw::CycleFileSpec cycle_file(const Analysis& a, std::int32_t c, bool chunked) {
    qvw::CycleFileSpec file;
    file.header = {1, 1, 1, 1, 0, 1, chunked ? 1 : 0, chunked ? 1 : 0};
    file.chunk_size = 5;
    file.cycle = c;
    file.time = float(c) / 100.0f;
    file.structured_parts = a.blocks;
    file.unstructured_parts = std::int32_t(a.unstructured_parts.size());
    file.unstructured_nodes = a.unstructured_nodes;
    file.unstructured_elements = std::int32_t(a.element_types.size());
    file.variable_count = 12;
    const float cf = float(c);
    const float poison = -1.0e6f;

    // Slots in model node order (K fastest), then the unstructured values.
    std::vector<std::int32_t> node_ints = {c, 26}, element_ints = {c, 10};
    std::vector<float> node_reals = {cf, 0.5f}, element_reals = {cf, 67.0f};
    for (std::int32_t p = 1; p <= std::int32_t(a.blocks.size()); ++p)
        for (std::int32_t i = 1; i <= a.blocks[p - 1][0]; ++i)
            for (std::int32_t j = 1; j <= a.blocks[p - 1][1]; ++j)
                for (std::int32_t k = 1; k <= a.blocks[p - 1][2]; ++k) {
                    const bool cell = i >= 2 && j >= 2 && k >= 2;
                    node_reals.push_back(cell ? cf + float(1000 * p + 100 * i + 10 * j + k) : poison);
                    element_ints.push_back(10000 * c + 1000 * p + 100 * i + 10 * j + k);
                    element_reals.push_back(cell ? cf + float(100 * p + 10 * i + j) + 0.5f * float(k)
                                                 : poison);
                }
    for (std::int32_t u = 0; u < a.unstructured_nodes; ++u) node_reals.push_back(cf + 0.5f * float(u));
    for (std::int32_t e = 1; e <= file.unstructured_elements; ++e) {
        element_ints.push_back(10000 * c + 9000 + e);
        element_reals.push_back(cf + 0.25f * float(e));
    }
    const std::int32_t nodes = std::int32_t(node_reals.size()) - 2;
    file.displacements.emplace();
    for (std::int32_t n = 0; n < nodes; ++n) {
        node_ints.push_back(c + n);
        file.displacements->insert(file.displacements->end(),
                                   {n == 5 ? 2.0e11f : cf + float(n), -float(n), 0.5f * float(n)});
    }
    file.entries = {DirectoryEntrySpec::integer(1, 26, 1, node_ints, "EROSION"),
                    DirectoryEntrySpec::real(-2, 67, 1, element_reals, "STRESS XX"),
                    DirectoryEntrySpec::real(2, 4, 1, node_reals, "X-VELOCITY"),
                    DirectoryEntrySpec::integer(-1, 10, 1, element_ints, "MATERIAL")};
    if (!a.bodies) return file;

    const std::vector<float> quarter_turn = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    file.rigid_bodies = qvw::BodyArraysSpec{{4}, quarter_turn};
    file.rigid_bodies->data.insert(file.rigid_bodies->data.end(), {cf, 2.0f, 3.0f, 1.0f, 0.0f, 0.0f});
    file.joints = qvw::BodyArraysSpec{{8}, {cf, 2.0f, 3.0f}};
    file.joints->data.resize(30, 0.0f);
    file.joints->data.insert(file.joints->data.end(), quarter_turn.begin(), quarter_turn.end());
    return file;
}

void write_run(const Analysis& a, const char* directory, const std::string& run) {
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    const std::string stem = std::string(directory) + "/" + run;
    qvw::write_base_file(base_file(a)).save(stem + ".qvres_base");
    for (std::size_t f = 1; f <= a.cycles.size(); ++f)
        qvw::write_cycle_file(cycle_file(a, a.cycles[f - 1], f % 2 == 0))
            .save(stem + "_000" + std::to_string(f) + ".qvres");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " <plate_run directory> <tank_test directory>\n";
        return 2;
    }
    try {
        write_run(kPlate, argv[1], "plate_run");
        write_run(kTank, argv[2], "tank_test");
    } catch (const std::exception& e) {
        std::cerr << "write_host_analysis: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
