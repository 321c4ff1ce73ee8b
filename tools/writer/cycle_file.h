// Cycle files written from an in-memory description: the header words, the
// "<Model>" section with its result directory, and the array sections in any
// order, in the framing the header words select. Counts can be made to lie
// and sections can be forced in or out of a file whatever its header says.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "writer/records.h"

namespace qvw {

// One result directory entry and the values of its array: `ints` for kinds
// 1 and -1, `reals` for kinds 2 and -2; other kinds own no array.
struct DirectoryEntrySpec {
    std::int32_t variable = 0;
    std::int32_t qualifier = 1;
    std::string name;
    std::int32_t kind = 2;
    std::vector<std::int32_t> ints;
    std::vector<float> reals;
    std::int32_t reserved = 0;

    static DirectoryEntrySpec real(std::int32_t kind, std::int32_t variable, std::int32_t qualifier,
                                   std::vector<float> values, std::string name = "");
    static DirectoryEntrySpec integer(std::int32_t kind, std::int32_t variable,
                                      std::int32_t qualifier, std::vector<std::int32_t> values,
                                      std::string name = "");
};

// A number array and a data array (rigid bodies, joints).
struct BodyArraysSpec {
    std::vector<std::int32_t> numbers;
    std::vector<float> data;
};

enum class CycleSection { Model, Node, Element, Displacement, MMVars, RigidBodyData, JointData };

// Whether a section's content is written: as the header words say, or
// forced either way.
enum class Content { FromHeader, Write, Omit };

struct CycleFileSpec {
    // h1 model sizes, h2 displacements / bodies, h3 node arrays, h4 element
    // arrays, h5 unused, h6 material fractions, h7 chunked bulk arrays, h8
    // chunked body arrays. Any number of words.
    std::vector<std::int32_t> header = {1, 1, 1, 1, 0, 1};

    // "<Model>" content (written when h1 > 0).
    std::int32_t model_values[2] = {0, 0};
    std::int32_t cycle = 0;
    float time = 0.0f;
    std::vector<std::array<std::int32_t, 3>> structured_parts;  // one record each
    std::int32_t unstructured_parts = 0;
    std::int32_t unstructured_nodes = 0;
    std::int32_t unstructured_elements = 0;
    std::int32_t third_value = 0;
    Record row9 = Record().i32(0);  // passed over by readers
    std::int32_t variable_count = 0;
    std::int32_t directory_count = -1;  // D written; entries.size() when negative
    std::int32_t object_counts[3] = {0, 0, 0};
    std::vector<DirectoryEntrySpec> entries;

    // Sections that exist only when given.
    std::optional<std::vector<float>> displacements;
    std::optional<std::vector<std::vector<float>>> material_fractions;  // one per material
    std::optional<BodyArraysSpec> rigid_bodies;
    std::optional<BodyArraysSpec> joints;

    // Values per chunk in the chunked form (the last chunk takes the rest).
    std::int32_t chunk_size = 4096;

    // Sections in file order; a section not listed is not written.
    std::vector<CycleSection> order = {CycleSection::Model,        CycleSection::Node,
                                       CycleSection::Element,      CycleSection::Displacement,
                                       CycleSection::MMVars,       CycleSection::RigidBodyData,
                                       CycleSection::JointData};

    // Content overrides, per section (the tag is written either way).
    Content model_content = Content::FromHeader;
    Content node_arrays = Content::FromHeader;
    Content element_arrays = Content::FromHeader;
    Content displacement_array = Content::FromHeader;
    Content material_arrays = Content::FromHeader;
    Content body_arrays = Content::FromHeader;  // rigid bodies and joints

    std::int32_t word(std::size_t i) const {
        return i >= 1 && i <= header.size() ? header[i - 1] : 0;
    }
};

// Where each section was written: byte offsets of its tag record and of the
// end of its last record. Sections not written keep -1.
struct CycleFileLayout {
    struct Extent {
        std::int64_t begin = -1;
        std::int64_t end = -1;
    };
    Extent sections[7];
    const Extent& of(CycleSection s) const { return sections[static_cast<int>(s)]; }
};

FileWriter write_cycle_file(const CycleFileSpec& desc);
FileWriter write_cycle_file(const CycleFileSpec& desc, CycleFileLayout& layout);

}  // namespace qvw
