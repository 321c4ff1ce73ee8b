// The model store: the one process-wide record of the open analysis, what
// the base file and the current cycle file hold, the result step table and
// the session values.
//
// Counts that describe a list are reset together with the list. Counts that
// a cycle file may overwrite (part counts, node count, element total) can
// disagree with the lists of the base file, so every query bounds its
// indices by the lists actually held as well.
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
    std::int32_t reserved = 0;
    Array<std::int32_t> element_ids;  // unstructured: rows of the connectivity
    Array<std::int32_t> node_ids;     // unstructured: distinct nodes, first-use order
};

// One registered cycle file.
struct StepEntry {
    std::int32_t cycle = 0;
    std::int32_t reserved = 0;
    float time = 0.0f;
    std::string file_name;  // at most 256 characters
};

// One entry of a cycle's result directory.
struct DirectoryEntry {
    std::int32_t variable = 0;
    std::int32_t qualifier = 0;
    Text50 name;
    std::int32_t kind = 0;
};

// Entry kinds of the result directory.
inline constexpr std::int32_t kNodeInteger = 1;
inline constexpr std::int32_t kNodeReal = 2;
inline constexpr std::int32_t kElementInteger = -1;
inline constexpr std::int32_t kElementReal = -2;

// Whether an entry holds the array of `variable` and `kind` for `qualifier`:
// the entry's qualifier compared by absolute value, or sign included when
// `exact`.
inline bool entry_matches(const DirectoryEntry& e, std::int64_t variable, std::int32_t kind,
                          std::int64_t qualifier, bool exact) {
    if (e.variable != variable || e.kind != kind) return false;
    const std::int64_t q = e.qualifier;
    return exact ? q == qualifier : (q < 0 ? -q : q) == qualifier;
}

// The two values ahead of the slot values of every stored node or element
// array, passed through unchanged.
inline constexpr std::int64_t kHeaderPair = 2;

// Variable index of the Euler cover fraction: the element real array (part
// 1) that the material fraction query combines with the material arrays.
inline constexpr std::int32_t kCoverFractionVariable = 155;

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

// The header words of the current cycle file; absent words read as 0.
struct CycleHeader {
    Array<std::int32_t> words;
    std::int32_t count() const { return static_cast<std::int32_t>(words.size()); }
    std::int32_t word(std::int32_t i) const { return words.contains(i) ? words(i) : 0; }
};

struct ModelStore {
    // Session values.
    bool model_loaded = false;
    std::int32_t extraction_mode = 0;
    bool mmvars_loaded = false;
    Text<200> message;  // last failed tag search
    std::vector<StepEntry> steps;

    // Base header and version.
    Array<std::int32_t> base_header;
    std::int32_t file_version = 0;

    // Parts. The two counts are overwritten by every cycle "<Model>" section.
    std::int32_t structured_parts = 0;
    std::int32_t unstructured_parts = 0;
    Array<Text35> part_names;
    Array<std::int32_t> size_a, size_b, size_c;
    Array<std::int32_t> further_a, further_b, further_c;
    Array<Part> parts;
    std::int32_t unstructured_element_total = 0;

    // Geometry.
    Array<std::int32_t> connectivity;  // 8 per unstructured element
    Array<float> coordinates;          // x, y, z per node
    std::int32_t node_count = 0;
    std::int32_t derived_node_total = 0;
    Array<std::int32_t> element_types;
    ElementKinds kinds;
    Numbering numbering;

    // Attributes.
    std::int32_t unit_codes[3] = {0, 0, 0};  // length, mass, time
    std::int32_t symmetry[2] = {0, 0};
    std::int32_t pair_count = 0;
    Array<std::int32_t> pairs;     // a1, b1, a2, b2, ...
    NumberMap pair_map;            // element number -> partner
    Array<std::int32_t> parallel_task_info;

    // Materials.
    std::int32_t material_count = 0;
    Array<Text35> material_names;
    Array<std::int32_t> material_ids;
    Array<Text256> body_names;
    Array<float> poisson_ratios;

    // The current cycle file.
    CycleHeader cycle_header;
    std::int32_t model_values[2] = {0, 0};
    std::int32_t cycle_number = 0;
    float cycle_time = 0.0f;
    Array2<std::int32_t> structured_part_values;  // 3 per structured part
    std::int32_t model_third_value = 0;
    std::int32_t object_counts[3] = {0, 0, 0};
    std::int32_t variable_count = 0;
    Array<DirectoryEntry> directory;
    std::int32_t read_position = 0;

    // Arrays of the current cycle, refreshed by the queries that need them.
    Array<float> displacements;
    std::vector<Array<float>> material_fractions;  // one per material
    Array<float> cover_fraction;                   // element array of variable 155
    Array<std::int32_t> rigid_body_numbers;
    Array<float> rigid_body_data;
    Array<std::int32_t> joint_numbers;
    Array<float> joint_data;

    // Unit exponent table, entries 1..29.
    std::int32_t unit_exponents[30] = {};
};

// The store of this process.
ModelStore& store();

// Releases what the clean-up releases (materials, parallel task information,
// connectivity, element types, numberings) and resets the counts of those
// lists. Part records, coordinates, counts and the step table stay.
void release_for_cleanup(ModelStore& s);

// Replaces everything a base file provides by the state before any load,
// except the unit codes and symmetry words, which the load sets anew.
void reset_base_model(ModelStore& s);

// Releases the header and result directory of the current cycle file and
// the cycle arrays read from it.
void release_cycle(ModelStore& s);

// Number of structured slots: the sum of I*J*K over the structured parts the
// base file describes, counted in 64 bits.
std::int64_t structured_slots(const ModelStore& s);

// The unstructured elements of all part records of the base file: the most
// get_NumUnstructuredElements can report, and so the most a host has room
// for. A cycle that states more cannot be served.
std::int64_t part_element_total(const ModelStore& s);

// Whether every structured part the current counts state has its extents
// in the base file. When not, hosts cannot know how many structured nodes
// and elements to size for, and nothing that depends on them is answered.
bool structured_parts_served(const ModelStore& s);

// The number of structured parts that the lists of the base file can serve:
// the smaller of the structured part count and the extents held, stopping
// before the first part the base file describes as unstructured.
std::int32_t usable_structured_parts(const ModelStore& s);

}  // namespace qv::model
