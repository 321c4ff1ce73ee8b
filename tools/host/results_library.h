// The results library as a host loads it: opened at run time, every function
// found by name, and typed helpers around the C interface that do the
// count-then-allocate-then-fill steps each query needs. Failures become
// qvhost::Error with a sentence for the person at the terminal.
//
// This is the only place that knows how a shared library is loaded: dlopen,
// or LoadLibrary/GetProcAddress on Windows, in results_library.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/analysis_files.h"
#include "host/error.h"

namespace qvhost {

// Entry kinds of the result directory.
enum Kind : std::int32_t { kNodeInt = 1, kNodeReal = 2, kElementInt = -1, kElementReal = -2 };

struct Part {
    std::int32_t number = 0;  // 1..S structured, S+1..S+U unstructured
    bool structured = false;
    std::string name;
    std::int32_t elements = 0;
    std::int32_t nodes = 0;
    std::int32_t i = 0, j = 0, k = 0;  // structured extents (node layers)
};

// Sizes of the model, as the element and node getters count them.
struct Model {
    std::vector<std::array<std::int32_t, 3>> extents;  // I, J, K of each structured part
    std::int32_t unstructured_parts = 0;
    std::int64_t slots = 0;                // T: sum of I*J*K
    std::int64_t structured_elements = 0;  // sum of (I-1)(J-1)(K-1) over parts with I, J, K >= 2
    std::int64_t unstructured_nodes = 0;
    std::int64_t unstructured_elements = 0;  // E
    std::int64_t nodes() const { return slots + unstructured_nodes; }
    std::int64_t elements() const { return structured_elements + unstructured_elements; }
    std::int32_t structured_parts() const { return static_cast<std::int32_t>(extents.size()); }
};

// The element getters whose results the tools read (in extraction mode 0,
// the mode the library starts in and the tools never change).
enum class ElementGetter { Integer, Real };

// Where the values of each element sit in what an element getter writes,
// worked out from the model's counts: the header pair, then each structured
// part in part order, then one value per unstructured element. A part with
// cells gives its elements; for the real getter a plane (I = 1) gives all
// its J x K slots, which hold values but are no elements; any other part
// gives nothing. Each structured element or plane slot takes `per_slot`
// values: 1, or for a multi-material variable one per reported material and
// then its own value.
struct ElementLayout {
    struct Run {
        std::int64_t first = 0;  // position of its first value, header pair included
        std::int64_t slots = 0;  // elements, or plane slots
        bool elements = false;   // false for the slots of a plane
    };
    std::int64_t per_slot = 1;
    std::vector<Run> structured;  // the parts that give values, in part order
    std::int64_t unstructured_first = 0;
    std::int64_t unstructured = 0;
    std::int64_t size = 0;  // every value the getter writes, header pair included
};

ElementLayout element_layout(const Model& model, ElementGetter getter, std::int64_t per_slot);

// One value per element, in element order, from what a getter wrote with
// this layout: each structured element's own value (the last of its
// per_slot values), then the unstructured values; plane slots are passed
// over. The other per_slot - 1 values of each structured element are
// appended to `materials` when it is given.
template <class T>
std::vector<T> element_values(const ElementLayout& layout, const std::vector<T>& written,
                              std::vector<T>* materials = nullptr) {
    std::vector<T> out;
    const std::int64_t per = layout.per_slot;
    for (const ElementLayout::Run& run : layout.structured) {
        if (!run.elements) continue;
        for (std::int64_t e = 0; e < run.slots; ++e) {
            const auto first = written.begin() + run.first + e * per;
            out.push_back(first[per - 1]);
            if (materials) materials->insert(materials->end(), first, first + (per - 1));
        }
    }
    const auto first = written.begin() + layout.unstructured_first;
    out.insert(out.end(), first, first + layout.unstructured);
    return out;
}

struct Step {
    std::int32_t index = 0;  // 0-based, time order
    std::int32_t cycle = 0;
    float time = 0.0f;  // seconds
};

struct Material {
    std::int32_t number = 0;
    std::string name;
    std::int32_t euler_id = -1;  // negative: no material-fraction data
    std::string body;
};

// One entry of the result directory of the selected cycle.
struct Variable {
    std::int32_t qualifier = 0;  // signed part number
    std::string name;            // as the library reports it, trailing blanks cut
    std::int32_t index = 0;      // variable index
    std::int32_t kind = 0;       // Kind
    bool node() const { return kind == kNodeInt || kind == kNodeReal; }
    bool element() const { return kind == kElementInt || kind == kElementReal; }
    bool integer() const { return kind == kNodeInt || kind == kElementInt; }
    bool real() const { return kind == kNodeReal || kind == kElementReal; }
};

// Element real values in element order: one value per element (for the
// multi-material variables the element's own value), and for those
// variables also one value per reported material for every structured
// element (row-major, element by element).
struct ElementReals {
    std::vector<float> values;
    std::vector<std::int32_t> materials;  // reported materials, empty otherwise
    std::vector<float> material_values;   // structured_elements x materials.size()
};

struct UnitSystem {
    std::int32_t length = 0, mass = 0, time = 0;  // unit codes
    // Powers of ten that take length, mass and time to metres, kilograms and
    // seconds; false when the mass code is not a decimal one (4 and above).
    bool decimal = false;
    int length_exponent = 0, mass_exponent = 0, time_exponent = 0;
};

// Names of the element kind positions reported by get_ZPElementType.
const char* element_kind_name(std::int32_t position);

// True for the real element variables that carry one value per material in
// each structured slot.
bool is_multi_material(std::int32_t variable);

// Where the tools look for libresults_api.so.1 (results_api.dll on Windows)
// when no library is named (by argument or by QVRES_LIBRARY): next to the
// executable, in the installed library directory relative to it, in the
// build tree's library directory, and finally on the loader's search path.
std::vector<std::string> library_candidates();

class ResultsLibrary {
public:
    // Loads the library at `path` (the first usable candidate when empty)
    // and finds every function the tools use; throws Error when the file is
    // not there or is not a results library.
    explicit ResultsLibrary(const std::string& path = {});
    ~ResultsLibrary();
    ResultsLibrary(const ResultsLibrary&) = delete;
    ResultsLibrary& operator=(const ResultsLibrary&) = delete;

    const std::string& location() const { return location_; }

    // ---- Session --------------------------------------------------------
    // Checks the files on disk, then names the analysis with mode 1 so that
    // its cycle files are registered. When a base file was named, the first
    // cycle is selected so that the counts are those of a cycle.
    void open(const std::string& file);
    const AnalysisFiles& files() const { return files_; }
    // Selects step `index` (0-based, time order).
    void select(std::int32_t index);
    std::int32_t selected() const { return selected_; }

    // ---- Model ----------------------------------------------------------
    Model model() const;
    std::vector<Part> parts() const;
    std::vector<Material> materials() const;
    UnitSystem unit_system() const;
    std::int32_t file_version() const;
    // Kind position (get_ZPElementType) of each host element type number
    // 1..get_ZPnumElementTypes.
    std::vector<std::int32_t> element_kinds() const;
    // 8 entries per unstructured element, 0 = empty slot.
    std::vector<std::int32_t> connectivity() const;
    std::vector<std::int32_t> element_types() const;
    // Rows (1-based) of the unstructured elements of unstructured part `part`.
    std::vector<std::int32_t> part_elements(std::int32_t part) const;
    // Partner element of a pyramid/tetrahedron pair; 0 when it has none.
    std::int32_t pair_partner(std::int32_t element_number) const;
    // Initial x, y, z of every node in metres, model node order.
    std::vector<float> coordinates() const;
    std::vector<Step> steps() const;

    // ---- Selected cycle -------------------------------------------------
    std::vector<Variable> variables() const;
    // One value per node (the header pair dropped), model node order.
    std::vector<float> node_reals(std::int32_t variable, std::int32_t part) const;
    std::vector<std::int32_t> node_ints(std::int32_t variable, std::int32_t part) const;
    // One value per element (the header pair dropped), element order:
    // structured elements of every part, then the unstructured elements;
    // the values of plane slots, which are no elements, are left out.
    ElementReals element_reals(std::int32_t variable, std::int32_t part) const;
    std::vector<std::int32_t> element_ints(std::int32_t variable, std::int32_t part) const;
    // x, y, z displacement of every node in metres; false when the cycle
    // holds none.
    bool displacements(std::vector<float>& xyz) const;
    // Fraction of material `material` in each structured element; false when
    // the cycle holds none.
    bool material_fractions(std::int32_t material, std::vector<float>& out) const;
    // Rotation (column-major) and translation of a rigid body; false when the
    // cycle holds no rigid body data.
    bool rigid_body(std::int32_t body, std::array<float, 12>& out) const;
    bool joint(std::int32_t joint, std::int32_t quantity, std::array<float, 16>& out) const;

    // "step 3 (cycle 375, t = 3.2e-05 s)", for messages.
    std::string describe_step(std::int32_t index) const;

private:
    struct Api;
    void* handle_ = nullptr;
    std::unique_ptr<Api> api_;
    std::string location_;
    AnalysisFiles files_;
    std::int32_t selected_ = -1;
    bool base_only_counts_ = false;
    mutable std::vector<Material> materials_cache_;
    mutable std::vector<Step> steps_cache_;
    mutable bool steps_cached_ = false;

    std::int32_t count(bool (*query)(std::int32_t*), const char* what) const;
    void require_cycle(const char* what) const;
    std::string read_failure(const std::string& what, std::int32_t variable,
                             std::int32_t part) const;
};

}  // namespace qvhost
