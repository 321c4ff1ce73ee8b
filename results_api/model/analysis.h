// The analysis: what one base file gives (parts, geometry, numbering,
// attributes, materials) and the cycles registered for it. Built by a load
// into a fresh object and immutable once installed; queries take it by
// const reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/number_map.h"
#include "runtime/alloc.h"

namespace qv::model {

using runtime::Array;
using runtime::Array2;
using runtime::Text;
using runtime::Text256;
using runtime::Text35;
using runtime::Text50;

inline constexpr int kMaxSteps = 100000;

// Part type codes.
inline constexpr std::int32_t kStructured = 1;
inline constexpr std::int32_t kUnstructured = 2;

// One part record. Type 0 marks a part number the base file gave no record.
struct Part {
    std::int32_t type = 0;
    std::int32_t elements = 0;
    std::int32_t nodes = 0;
    Array<std::int32_t> element_ids;  // unstructured: rows of the connectivity
    Array<std::int32_t> node_ids;     // unstructured: distinct nodes, first-use order
};

// One registered cycle file.
struct StepEntry {
    std::int32_t cycle = 0;
    float time = 0.0f;
    std::string file_name;  // at most 256 characters
};

// The model sizes in force. The base file states them; every cycle whose
// "<Model>" section states sizes replaces them, so they can disagree with
// the lists of the base file, and every query bounds its indices by the
// lists actually held as well.
struct Counts {
    std::int32_t structured_parts = 0;
    std::int32_t unstructured_parts = 0;
    std::int32_t node_count = 0;
    std::int32_t unstructured_element_total = 0;
};

// Host element kinds present in the model: type_number[p] is the host type
// number of kind position p (1..10), 0 when the kind is absent.
struct ElementKinds {
    std::int32_t type_number[11] = {};
    std::int32_t count = 0;
};

// External numbering of nodes and unstructured elements and the maps back.
struct Numbering {
    Array<std::int32_t> node_numbers;     // external number of each node
    Array<std::int32_t> element_numbers;  // external number of each element
    NumberMap node_map;                   // external node number -> node position
    NumberMap element_map;                // external element number -> element row
};

struct Materials {
    std::int32_t count = 0;
    Array<Text35> names;
    Array<std::int32_t> ids;  // Euler material-fraction identifiers
    Array<Text256> body_names;
    Array<float> poisson_ratios;
};

struct Analysis {
    // Base header and version.
    Array<std::int32_t> base_header;
    std::int32_t file_version = 0;
    Counts counts;

    // Parts: names, extents (I, J, K for structured parts; elements and
    // nodes for unstructured ones), the three further values, records.
    Array<Text35> part_names;
    Array<std::int32_t> size_a, size_b, size_c;
    Array<std::int32_t> further_a, further_b, further_c;
    Array<Part> parts;

    // Geometry.
    Array<std::int32_t> connectivity;  // 8 per unstructured element
    Array<float> coordinates;          // x, y, z per node
    std::int32_t derived_node_total = 0;
    Array<std::int32_t> element_types;
    ElementKinds kinds;
    Numbering numbering;

    // Attributes.
    std::int32_t unit_codes[3] = {0, 0, 0};  // length, mass, time
    std::int32_t symmetry[2] = {0, 0};
    std::int32_t pair_count = 0;
    Array<std::int32_t> pairs;  // a1, b1, a2, b2, ...
    NumberMap pair_map;         // element number -> partner
    Array<std::int32_t> parallel_task_info;

    Materials materials;

    // Registered cycle files, in time order.
    std::vector<StepEntry> steps;

    // Word i (1-based) of the base header, 0 when absent.
    std::int32_t header_word(std::int64_t i) const {
        return base_header.contains(i) ? base_header(i) : 0;
    }
};

// Number of structured slots: the sum of I*J*K over the structured parts the
// base file describes, counted in 64 bits.
std::int64_t structured_slots(const Analysis& a, const Counts& c);

// The unstructured elements of all part records of the base file: the most
// get_NumUnstructuredElements can report, and so the most a host has room
// for. A cycle that states more cannot be served.
std::int64_t part_element_total(const Analysis& a);

// The unstructured elements of the part records the counts in force number
// (parts 1 .. S + U): what get_NumUnstructuredElements reports once a cycle
// is selected, so the most a host that asks then has room for. A cycle that
// states fewer parts than the base file but all its elements cannot be
// served.
std::int64_t element_total_in_force(const Analysis& a, const Counts& c);

// Whether every structured part the counts state has its extents in the
// base file. When not, hosts cannot know how many structured nodes and
// elements to size for, and nothing that depends on them is answered.
bool structured_parts_served(const Analysis& a, const Counts& c);

// The number of structured parts that the lists of the base file can serve:
// the smaller of the structured part count and the extents held, stopping
// before the first part the base file describes as unstructured.
std::int32_t usable_structured_parts(const Analysis& a, const Counts& c);

}  // namespace qv::model
