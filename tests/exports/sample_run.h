// A run on disk that gives every getter something to read: two structured
// parts (one with I = 1), two unstructured parts, two materials, and cycle
// files holding node and element arrays, a layer array, a multi-material
// variable, displacements, material fractions, a rigid body and a joint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results_api.h"
#include "support/analysis_files.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvtest {

// 1 BLOCK 3 x 3 x 2 and 2 THIN 1 x 2 x 2 (T = 22 slots), 3 BRICKS two
// hexahedra and 4 SHELL one quadrilateral shell over 14 nodes (E = 3).
inline constexpr std::int32_t kSampleSlots = 22, kSampleNodes = 14, kSampleElements = 3;

inline qvw::BaseFileSpec sample_model() {
    qvw::BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts = {
        qvw::PartSpec::structured("BLOCK", 3, 3, 2), qvw::PartSpec::structured("THIN", 1, 2, 2),
        qvw::PartSpec::unstructured("BRICKS", {1, 2}), qvw::PartSpec::unstructured("SHELL", {3})};
    desc.connectivity = {4, 3,  2,  1,  8,  7,  6,  5, 5, 6, 7, 8,
                         9, 10, 11, 12, 12, 13, 14, 9, 0, 0, 0, 0};
    for (std::int32_t n = 0; n < kSampleSlots + kSampleNodes; ++n) {
        desc.coordinates.insert(desc.coordinates.end(), {float(n), float(2 * n), float(3 * n)});
        desc.node_numbers.push_back(101 + n);
    }
    desc.element_types = {1, 1, 2};
    desc.element_numbers = {10, 20, 30};
    desc.units[0] = 1;  // lengths in millimetres
    desc.symmetry[0] = 1;
    desc.symmetry[1] = 2;
    desc.pairs = {{10, 20}};
    desc.materials = {{"STEEL", 1, "BODY-A", 0.25f}, {"AIR", 2, "BODY-B", 0.125f}};
    desc.parallel_section = true;
    desc.parallel_info = {7, 0, 3};
    return desc;
}

// Cycle file number f (1-based): cycle 10f at f/100 s, chunked when f is
// even. Every stored value differs from file to file.
inline qvw::CycleFileSpec sample_cycle(std::int32_t f) {
    using qvw::DirectoryEntrySpec;
    qvw::CycleFileSpec c;
    const std::int32_t chunked = f % 2 == 0 ? 1 : 0;
    c.header = {1, 1, 1, 1, 0, 1, chunked, chunked};
    c.chunk_size = 16;
    c.cycle = 10 * f;
    c.time = float(f) / 100.0f;
    c.structured_parts = {{3, 3, 2}, {1, 2, 2}};
    c.unstructured_parts = 2;
    c.unstructured_nodes = kSampleNodes;
    c.unstructured_elements = kSampleElements;
    c.variable_count = 12;
    const auto ints = [&](std::int32_t variable, std::int32_t count) {
        std::vector<std::int32_t> v = {c.cycle, variable};
        for (std::int32_t n = 0; n < count; ++n) v.push_back(1000 * f + 10 * variable + n);
        return v;
    };
    const auto reals = [&](std::int32_t variable, std::int32_t count) {
        std::vector<float> v = {float(c.cycle), float(variable)};
        for (std::int32_t n = 0; n < count; ++n) v.push_back(float(f) + 0.5f * float(n));
        return v;
    };
    const std::int32_t nodes = kSampleSlots + kSampleNodes,
                       elements = kSampleSlots + kSampleElements;
    c.entries = {DirectoryEntrySpec::integer(1, 26, 1, ints(26, nodes), "EROSION"),
                 DirectoryEntrySpec::real(2, 4, 1, reals(4, nodes), "X-VELOCITY"),
                 DirectoryEntrySpec::integer(-1, 10, 1, ints(10, elements), "MATERIAL"),
                 DirectoryEntrySpec::integer(-1, 12, 1, ints(12, elements), "STATUS"),
                 DirectoryEntrySpec::integer(-1, 26, 1, ints(26, elements), "ELEM EROSION"),
                 DirectoryEntrySpec::integer(-1, 30, -1, ints(30, elements), "LAYER.STATE"),
                 DirectoryEntrySpec::real(-2, 67, 1, reals(67, elements), "STRESS XX"),
                 // Multi-material: materials + 1 values in every slot.
                 DirectoryEntrySpec::real(-2, 54, 1, reals(54, 3 * kSampleSlots + kSampleElements),
                                          "EFF.PL.STN")};
    c.displacements = reals(0, 3 * nodes);
    c.displacements->erase(c.displacements->begin(), c.displacements->begin() + 2);
    c.material_fractions =
        std::vector<std::vector<float>>{std::vector<float>(kSampleSlots, 0.25f * float(f)),
                                        std::vector<float>(kSampleSlots, 0.125f)};
    c.rigid_bodies =
        qvw::BodyArraysSpec{{4}, {0, 1, 0, -1, 0, 0, 0, 0, 1, float(f), 2, 3, 1, 0, 0}};
    c.joints = qvw::BodyArraysSpec{{8}, {}};
    for (std::int32_t n = 0; n < 39; ++n) c.joints->data.push_back(float(f) + float(n));
    return c;
}

// Writes run `run` with `cycles` cycle files into `dir` and returns the path
// a host names for a mode-1 load: the older-form base file name.
inline std::string write_sample_run(const TempDir& dir, const std::string& run = "job_a",
                                    std::int32_t cycles = 3) {
    for (std::int32_t f = 1; f <= cycles; ++f)
        qvw::write_cycle_file(sample_cycle(f))
            .save(dir.file(run + "_000" + std::to_string(f) + ".qvres"));
    return write_base(dir, sample_model(), run);
}

// Mode-1 load of the run whose base path `path` is, in directory `dir`.
inline bool load_run(const std::string& path, const std::string& dir) {
    const std::int32_t mode = 1;
    return set_BaseFilename(&mode, path.c_str(), dir.c_str());
}

inline bool select_step(std::int32_t step) { return set_newStep(&step); }

}  // namespace qvtest
