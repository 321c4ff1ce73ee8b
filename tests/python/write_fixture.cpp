// Writes the analysis "mixed_run" into the directory given on the command
// line (emptied first), for the Python tests: what the sample lacks.
//
//   Units mm, kg, ms (codes 1, 3, 2): every real value is scaled on reading.
//   Structured parts: 1 SHEET 1 x 3 x 4 (a plane: slots, no elements),
//     2 BLOCK 3 x 3 x 3 (8 elements), 3 STRIP 2 x 1 x 3 (slots, no elements).
//     T = 12 + 27 + 6 = 45.
//   Unstructured: 4 BRICK one hexahedron, 5 SKIN a quadrilateral and a
//     triangle shell, 6 ROD a beam: U = 12 nodes, E = 4 elements.
//   Materials: AIR (id 1), STEEL (id -1: not reported), FOAM (id 2).
//   Cycle files 1..3 hold cycles 30, 10, 20 (registered in time order);
//   files 2 and 3 are chunked.
//   Directory: X-VELOCITY (node real 4), TASK NUMBER (node integer 35),
//     PRESSURE (element real 64, stored for part 1 and again for part 2),
//     TEMP (element real 86) and EPS (element real 54): multi-material,
//     3 + 1 values per slot; MATERIAL (element integer 10).
// --without-displacements leaves the displacements out of every cycle file;
// --fewer-nodes makes every cycle state two unstructured nodes less than
// the base file, with displacements for that many. --stress-and-erosion
// adds STRESS XX .. ZX (element reals 67 .. 72), EROSION as a node
// integer (26) in every cycle, and EROSION as an element integer (26) in
// cycles 20 and 30: 1 for slots 3k + 1 and for element 2, 2 for element 4.
// Values are distinct per slot, cycle and variable; the tests compare them
// with what the 59 exports return, not with a formula.
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

constexpr std::int32_t kSlots = 45, kNodes = 12, kElements = 4, kMaterials = 3;
constexpr int kFewerNodes = 2;  // displacements of a cycle stating fewer nodes

qvw::BaseFileSpec base_file() {
    qvw::BaseFileSpec model;
    model.header = {6, 4};
    model.parts = {PartSpec::structured("SHEET", 1, 3, 4), PartSpec::structured("BLOCK", 3, 3, 3),
                   PartSpec::structured("STRIP", 2, 1, 3), PartSpec::unstructured("BRICK", {1}),
                   PartSpec::unstructured("SKIN", {2, 3}), PartSpec::unstructured("ROD", {4})};
    model.connectivity = {1, 2, 3, 4, 5, 6, 7, 8,  5, 6, 7, 8, 0, 0, 0, 0,
                          8, 9, 10, 0, 0, 0, 0, 0,  11, 12, 0, 0, 0, 0, 0, 0};
    model.element_types = {1, 2, 2, 3};
    for (std::int32_t n = 0; n < kSlots + kNodes; ++n) {
        model.coordinates.insert(model.coordinates.end(),
                                 {float(n % 5) * 10.0f, float(n % 7) * 5.0f, float(n) * 0.5f});
        model.node_numbers.push_back(1 + n);
    }
    for (std::int32_t e = 1; e <= kElements; ++e) model.element_numbers.push_back(700 + e);
    model.units[0] = 1;
    model.units[1] = 3;
    model.units[2] = 2;
    model.materials = {{"AIR", 1, "VOLUME", 0.1f}, {"STEEL", -1, "", 0.3f}, {"FOAM", 2, "CORE", 0.2f}};
    return model;
}

qvw::CycleFileSpec cycle_file(std::int32_t c, bool chunked, int displacements, bool stress_and_erosion) {
    qvw::CycleFileSpec file;
    file.header = {1, 1, 1, 1, 0, 1, chunked ? 1 : 0, chunked ? 1 : 0};
    file.chunk_size = 7;
    file.cycle = c;
    file.time = 0.01f * float(c);
    file.structured_parts = {{1, 3, 4}, {3, 3, 3}, {2, 1, 3}};
    file.unstructured_parts = 3;
    file.unstructured_nodes = kNodes;
    file.unstructured_elements = kElements;
    file.variable_count = 6;
    const float cf = float(c);

    auto reals = [&](float variable, float per_slot, float per_tail, int values_per_slot) {
        std::vector<float> a = {variable, 1.0f};
        for (std::int32_t s = 0; s < kSlots; ++s)
            for (int m = 0; m < values_per_slot; ++m)
                a.push_back(cf + per_slot * float(s) + 0.125f * float(m + 1) * variable);
        for (std::int32_t u = 0; u < (per_tail > 0 ? kElements : kNodes); ++u)
            a.push_back(-cf - float(per_tail > 0 ? per_tail : 1.0f) * float(u + 1));
        return a;
    };
    std::vector<std::int32_t> task = {c, 35}, material = {c, 10};
    for (std::int32_t s = 0; s < kSlots + kNodes; ++s) task.push_back(100 * c + s);
    for (std::int32_t s = 0; s < kSlots + kElements; ++s) material.push_back(1 + (s + c) % kMaterials);
    file.entries = {
        DirectoryEntrySpec::real(2, 4, 1, reals(4, 0.5f, 0, 1), "X-VELOCITY"),
        DirectoryEntrySpec::integer(1, 35, 1, task, "TASK NUMBER"),
        DirectoryEntrySpec::real(-2, 64, 1, reals(64, 2.0f, 3.0f, 1), "PRESSURE"),
        DirectoryEntrySpec::real(-2, 64, 2, reals(64, 7.0f, 5.0f, 1), "PRESSURE"),
        DirectoryEntrySpec::real(-2, 86, 1, reals(86, 1.5f, 2.0f, kMaterials + 1), "TEMP"),
        DirectoryEntrySpec::real(-2, 54, 1, reals(54, 0.25f, 4.0f, kMaterials + 1), "EPS"),
        DirectoryEntrySpec::integer(-1, 10, 1, material, "MATERIAL"),
    };
    if (stress_and_erosion) {
        static const char* const kStress[] = {"STRESS_XX", "STRESS_YY", "STRESS_ZZ",
                                              "STRESS_XY", "STRESS_YZ", "STRESS_ZX"};
        for (std::int32_t k = 0; k < 6; ++k)
            file.entries.push_back(DirectoryEntrySpec::real(-2, 67 + k, 1, reals(float(67 + k), 0.75f + float(k),
                                                                                 1.0f + float(k), 1), kStress[k]));
        std::vector<std::int32_t> nodes = {c, 26};
        for (std::int32_t s = 0; s < kSlots + kNodes; ++s) nodes.push_back(s % 2 ? 1 : 0);
        file.entries.push_back(DirectoryEntrySpec::integer(1, 26, 1, nodes, "EROSION"));
        if (c != 10) {
            std::vector<std::int32_t> eroded = {c, 26};
            for (std::int32_t s = 0; s < kSlots; ++s) eroded.push_back(s % 3 == 1 ? 1 : 0);
            for (std::int32_t e = 1; e <= kElements; ++e) eroded.push_back(e == 2 ? 1 : e == 4 ? 2 : 0);
            file.entries.push_back(DirectoryEntrySpec::integer(-1, 26, 1, eroded, "EROSION"));
        }
    }
    if (displacements) {
        file.displacements.emplace();
        // With fewer nodes the cycle states two unstructured nodes less.
        const std::int32_t nodes = displacements == kFewerNodes ? kNodes - 2 : kNodes;
        file.unstructured_nodes = nodes;
        for (std::int32_t n = 0; n < kSlots + nodes; ++n)
            file.displacements->insert(file.displacements->end(),
                                       {n % 4 == 0 ? 2.0e11f : cf + float(n), -float(n), 0.5f});
    }
    file.material_fractions.emplace();
    for (std::int32_t m = 0; m < kMaterials; ++m) {
        std::vector<float> f;
        for (std::int32_t s = 0; s < kSlots; ++s) f.push_back(float((s + m + c) % 4) / 4.0f);
        file.material_fractions->push_back(f);
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string option = argc == 3 ? argv[2] : "";
    const int displacements = option == "--without-displacements" ? 0 : option == "--fewer-nodes" ? kFewerNodes : 1;
    const bool stress_and_erosion = option == "--stress-and-erosion";
    if (argc != 2 && (argc != 3 || (displacements == 1 && !stress_and_erosion))) {
        std::cerr << "usage: " << argv[0]
                  << " DIRECTORY [--without-displacements | --fewer-nodes | --stress-and-erosion]\n";
        return 2;
    }
    try {
        const std::string directory = argv[1];
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
        const std::string stem = directory + "/mixed_run";
        qvw::write_base_file(base_file()).save(stem + ".qvres_base");
        const std::int32_t cycles[] = {30, 10, 20};
        for (int f = 1; f <= 3; ++f)
            qvw::write_cycle_file(cycle_file(cycles[f - 1], f >= 2, displacements, stress_and_erosion))
                .save(stem + "_000" + std::to_string(f) + ".qvres");
    } catch (const std::exception& e) {
        std::cerr << "write_fixture: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
