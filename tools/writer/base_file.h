// Base files written from an in-memory description of a model: every layout
// level, sections in any order, and counts that can be made to lie.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "writer/records.h"

namespace qvw {

struct PartSpec {
    float type = 1.0f;  // 1 structured, 2 unstructured, anything else: no records
    std::string name;
    // Structured: node layers and the three further values.
    std::int32_t i = 2, j = 2, k = 2;
    std::int32_t further[3] = {0, 0, 0};
    // Unstructured: element rows of the connectivity and the stored node
    // list; stored_nodes is the count written (the list's length unless set).
    std::vector<std::int32_t> element_ids;
    std::vector<std::int32_t> node_ids;
    std::int32_t stored_nodes = -1;
    std::int32_t stored_elements = -1;

    static PartSpec structured(std::string name, std::int32_t i, std::int32_t j, std::int32_t k);
    static PartSpec unstructured(std::string name, std::vector<std::int32_t> element_ids);
};

struct MaterialSpec {
    std::string name;
    std::int32_t id = 0;
    std::string body;
    float poisson = 0.0f;
};

enum class BaseSection { Parts, Materials, ParallelTaskData };

struct BaseFileSpec {
    std::vector<std::int32_t> header = {2, 2};  // v[1] layout, v[2] material level
    std::int32_t release = 15000;               // written when v[1] > 5

    bool parts_section = true;
    std::vector<PartSpec> parts;
    std::int32_t structured_count = -1;    // counts written; derived when negative
    std::int32_t unstructured_count = -1;
    std::vector<std::int32_t> connectivity;  // 8 per unstructured element
    std::vector<float> coordinates;          // 3 per node
    std::vector<std::int32_t> element_types;
    std::vector<std::int32_t> node_numbers;
    std::vector<std::int32_t> element_numbers;

    std::int32_t units[3] = {3, 3, 3};       // written when v[1] > 2
    std::int32_t symmetry[2] = {3, 0};       // written when v[1] > 3
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;  // when v[1] > 4

    bool materials_section = true;
    std::vector<MaterialSpec> materials;
    std::int32_t material_count = -1;  // written; materials.size() when negative

    bool parallel_section = false;
    std::vector<std::int32_t> parallel_info;
    std::int32_t parallel_count = -1;  // written; parallel_info.size() when negative

    // Section order in the file. The unit system, symmetry and pair records
    // follow "<Parts>", or the header when there is no "<Parts>".
    std::vector<BaseSection> order = {BaseSection::Parts, BaseSection::Materials,
                                      BaseSection::ParallelTaskData};
};

FileWriter write_base_file(const BaseFileSpec& desc);

}  // namespace qvw
