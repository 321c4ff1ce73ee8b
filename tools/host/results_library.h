// The results library (libqvres) as a host loads it: opened at run time
// through the platform loader (host/shared_library.h), every function found
// by name, and typed helpers around its C interface that size each array
// from the count queries. Failures become qvhost::Error with the library's
// message, which names the file and what was wrong.
//
// Threads: a ResultsLibrary and an opened Analysis are only read after they
// are made, and may be shared; each thread reads cycles through its own
// CycleReader.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/analysis_files.h"
#include "host/error.h"
#include "qvres.h"

namespace qvhost {

// Entry kinds of the result directory.
enum Kind : std::int32_t {
    kNodeInt = QVRES_NODE_INTEGER,
    kNodeReal = QVRES_NODE_REAL,
    kElementInt = QVRES_ELEMENT_INTEGER,
    kElementReal = QVRES_ELEMENT_REAL
};

struct Part {
    std::int32_t number = 0;  // 1..S structured, S+1..S+U unstructured
    bool structured = false;
    std::string name;
    std::int64_t elements = 0;
    std::int64_t nodes = 0;
    std::int64_t i = 0, j = 0, k = 0;  // structured extents (node layers)
};

// Sizes of the model, as the element and node queries count them.
struct Model {
    std::vector<std::array<std::int64_t, 3>> extents;  // I, J, K of each structured part
    std::int32_t unstructured_parts = 0;
    std::int64_t slots = 0;                // T: sum of I*J*K
    std::int64_t structured_elements = 0;  // sum of (I-1)(J-1)(K-1) over parts with I, J, K >= 2
    std::int64_t unstructured_nodes = 0;
    std::int64_t unstructured_elements = 0;  // E
    std::int32_t file_version = 0;
    std::int64_t nodes() const { return slots + unstructured_nodes; }
    std::int64_t elements() const { return structured_elements + unstructured_elements; }
    std::int32_t structured_parts() const { return static_cast<std::int32_t>(extents.size()); }
    std::int32_t parts() const { return structured_parts() + unstructured_parts; }
};

// Where the values of each element sit in what an element query writes, as
// the library's layout query gives it: each structured part that gives
// values in part order, then one value per unstructured element. A run of
// plane slots (I = 1) holds values but no elements. Each structured position
// takes `per_slot` values: 1, or for a multi-material variable one per
// reported material and then its own value.
struct ElementLayout {
    struct Run {
        std::int64_t first = 0;  // position of its first value
        std::int64_t slots = 0;  // elements, or plane slots
        bool elements = false;   // false for the slots of a plane
        std::int32_t part = 0;   // the structured part
        // Slots given along I, J, K (K fastest), and the part's 1-based slot
        // index of the first one along each.
        std::int64_t extent[3] = {0, 0, 0}, origin[3] = {1, 1, 1};
    };
    std::int64_t per_slot = 1;
    std::vector<Run> structured;  // the parts that give values, in part order
    std::int64_t unstructured_first = 0;
    std::int64_t unstructured = 0;
    std::int64_t size = 0;  // every value the query writes
    std::vector<std::int32_t> materials;  // material of each column but the last
};

// One value per element, in element order, from what a query wrote with this
// layout: each structured element's own value (the last of its per_slot
// values), then the unstructured values; plane slots are passed over. The
// other per_slot - 1 values of each structured element are appended to
// `materials` when it is given.
template <class T>
std::vector<T> element_values(const ElementLayout& layout, const std::vector<T>& written,
                              std::vector<T>* materials = nullptr) {
    std::vector<T> out;
    out.reserve(static_cast<std::size_t>(layout.size));
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

// Where each element's own value stands among what an all-slot query writes
// (`slots`), in element order, given the layout of the element query of the
// same variable (`elements`): both layouts are the library's, so that no
// rule of which slots hold elements is restated here. Throws Error when the
// two do not describe the same parts.
std::vector<std::int64_t> element_positions(const ElementLayout& elements, const ElementLayout& slots);

struct Step {
    std::int32_t index = 0;  // 0-based, time order
    std::int32_t cycle = 0;
    double time = 0.0;  // seconds
};

struct Material {
    std::int32_t number = 0;
    std::string name;
    std::int32_t euler_id = -1;  // negative: no material-fraction data
    std::string body;
};

// A cycle file the library found for the run but did not register.
struct SkippedFile {
    std::string path;
    std::string reason;  // names the file and what was wrong
    // Whether the library passed it over as a link out of the run's
    // directory: no file of the run, so nothing of the run goes unread.
    bool link_out() const;
};

// One entry of the result directory of a cycle.
struct Variable {
    std::int32_t qualifier = 0;  // signed part number
    std::string name;            // display name: dots and inner blanks as '_'
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

// Steps of a history or an envelope (a qvres_series of one request): each
// step's array read once, the steps spread over `threads` (0: one per core).
struct Series {
    qvres_request request{};
    // Indices into what the request writes (by value); an envelope may give
    // none: every value.
    std::vector<std::int64_t> positions;
    std::int64_t first = 0, last = 0;  // steps, inclusive
    std::int32_t threads = 0;
    // A step whose file cannot be read is a gap instead of an Error.
    bool skip_failed_steps = false;
};

// A step, or a step's request, that gave a series no value.
struct SeriesGap {
    std::int64_t step = 0;
    bool whole_step = false;  // the file could not be read (else: not stored)
    qvres_status status = QVRES_OK;
    std::string message;  // the library's, naming the file
};

// Per value the extreme over the steps and the step where it first occurred
// (NaN and -1 where no step gave one).
// Per position the value furthest out and the step it came from (-1 and
// NaN where no step gave one). Integer and real values alike are exact.
struct Extremes {
    std::vector<double> values;
    std::vector<std::int64_t> steps;
    bool integers = false;
};

struct UnitSystem {
    std::int32_t length = 0, mass = 0, time = 0;  // unit codes
    // Powers of ten that take length, mass and time to metres, kilograms and
    // seconds; false when the mass code is not a decimal one (4 and above).
    bool decimal = false;
    int length_exponent = 0, mass_exponent = 0, time_exponent = 0;
};


// Where the tools look for the library when none is named (by argument or by
// QVRES_LIBRARY): next to the executable, in the installed library directory
// relative to it, in the build tree's library directory (only for a program
// that lives in the build tree: an installed one never looks there), and
// finally on the loader's search path.
std::vector<std::string> library_candidates();

class ResultsLibrary {
public:
    // Loads the library at `path` (QVRES_LIBRARY when empty, else the first
    // usable candidate) and finds every function the tools use; throws Error
    // when the file is not there or is not the results library.
    // With `clear_stale_locks`, every analysis opened through it clears a
    // reader's lock left by a process of this host that no longer runs
    // (qvres_open_options.clear_stale_lock).
    explicit ResultsLibrary(const std::string& path = {}, bool clear_stale_locks = false);
    ~ResultsLibrary();
    ResultsLibrary(const ResultsLibrary&) = delete;
    ResultsLibrary& operator=(const ResultsLibrary&) = delete;

    const std::string& location() const { return location_; }
    // "1.0.0", from the library itself.
    std::string version() const;
    // The SI unit of real variable `variable` ("Pa", "m/s", ...); empty for
    // a dimensionless variable or one the catalogue does not know.
    std::string unit(std::int32_t variable) const;
    // True for the real element variables that carry one value per material
    // in each structured slot (the catalogue says which).
    bool is_multi_material(std::int32_t variable) const;
    // The catalogue entry of variable `variable` of the real (or integer)
    // family; false when the catalogue has no row for it.
    bool catalogue_entry(bool real, std::int32_t variable, qvres_catalogue_entry& entry) const;
    // The variable index a person's `name` stands for in the real (or
    // integer) family, by the library's rule (qvres_find_variable); -1 when
    // the catalogue knows no such name.
    std::int32_t find_variable(bool real, const std::string& name) const;
    // Whether `name` names directory entry `v`: a name the catalogue knows
    // names the entries of its variable index, any other name only an entry
    // whose display name is exactly `name`.
    bool names_entry(const std::string& name, const Variable& v) const;
    bool clear_stale_locks() const { return clear_stale_locks_; }

    struct Api;
    const Api& api() const { return *api_; }

private:
    void* handle_ = nullptr;
    std::unique_ptr<Api> api_;
    std::string location_;
    bool clear_stale_locks_ = false;
};

// The group name of a catalogue entry ("VELOCITY", "STN.RATE") spelt as
// result directories spell the entry's own name: with the replacements the
// library makes between the entry's catalogue name and its display name.
std::string group_name_as_shown(const qvres_catalogue_entry& entry);

// Whether two names of arrays the tools make (vectors, "displacement",
// "part", ...; not the file's variables, which the library resolves) are
// the same: ASCII letters of either case alike.
bool same_array_name(const std::string& a, const std::string& b);

// The unit of a directory entry: its real variable's, none for integers.
std::string unit_of(const ResultsLibrary& library, const Variable& v);

// Per value of a request, its largest (or smallest) value over the cycles
// and the cycle (the step index) where it first occurred; NaN and -1
// where no cycle gave one.
// An opened analysis: the model and the registered cycles, read once.
class Analysis {
public:
    // Opens the analysis `path` names (a cycle file, a base file or the
    // directory of one base file). Throws Error when the named file does not
    // exist, when the library cannot open the analysis, and when the named
    // cycle file is one the library could not register. The run's names are
    // the library's (qvres_get_names).
    Analysis(const ResultsLibrary& library, const std::string& path);
    ~Analysis();
    Analysis(const Analysis&) = delete;
    Analysis& operator=(const Analysis&) = delete;

    const ResultsLibrary& library() const { return library_; }
    const qvres_analysis* handle() const { return handle_; }
    const AnalysisFiles& files() const { return files_; }

    const Model& model() const { return model_; }
    const std::vector<Step>& steps() const { return steps_; }
    const std::vector<Material>& materials() const { return materials_; }
    // Cycle files found for the run but not registered, with the reasons.
    const std::vector<SkippedFile>& skipped() const { return skipped_; }
    std::vector<Part> parts() const;
    UnitSystem unit_system() const;
    // 8 entries per unstructured element, 0 = empty slot.
    std::vector<std::int32_t> connectivity() const;
    // The solver's type code of each unstructured element.
    std::vector<std::int32_t> element_types() const;
    // The cell of each unstructured element as the library tells it from the
    // type code and the entries: kind, nodes used, VTK cell type.
    std::vector<qvres_cell> cells() const;
    // Rows (1-based) of the unstructured elements of unstructured part `part`.
    std::vector<std::int32_t> part_elements(std::int32_t part) const;
    // Initial x, y, z of every node in metres, model node order.
    std::vector<float> coordinates() const;

    // A history: (last - first + 1) x positions values, step by step, as
    // doubles (integers exactly); NaN where a step gave no value, which
    // `gaps` then lists.
    std::vector<double> history(const Series& series, std::vector<SeriesGap>& gaps) const;
    // The largest (QVRES_MAXIMUM) or smallest value of a real request over
    // the steps, holding one step's values per thread.
    Extremes envelope(const Series& series, std::int32_t extreme, std::vector<SeriesGap>& gaps) const;
    // Where points lie (x, y, z in metres, initial configuration; 3 per
    // point): QVRES_GAUGE_ELEMENTS and/or QVRES_GAUGE_NODES. A point outside
    // every element (when elements are asked for) or not finite is an Error
    // naming it.
    std::vector<qvres_gauge> locate(const std::vector<double>& xyz, std::int32_t find) const;

    // Throws Error unless step `index` exists.
    void require_step(std::int64_t index) const;
    // Throws Error unless part `part` exists.
    void require_part(std::int64_t part) const;
    // "step 3 (cycle 375, t = 3.2e-05 s)", for messages.
    std::string describe_step(std::int64_t index) const;

private:
    const ResultsLibrary& library_;
    qvres_analysis* handle_ = nullptr;
    AnalysisFiles files_;
    qvres_model raw_{};
    Model model_;
    std::vector<Step> steps_;
    std::vector<Material> materials_;
    std::vector<SkippedFile> skipped_;
};

// One cycle of an analysis, opened for reading by one thread.
class CycleReader {
public:
    // Opens step `step`; throws Error (with the library's status) when it does
    // not exist or its file cannot be read.
    CycleReader(const Analysis& analysis, std::int32_t step);
    ~CycleReader();
    CycleReader(const CycleReader&) = delete;
    CycleReader& operator=(const CycleReader&) = delete;

    std::int32_t step() const { return step_; }
    const Analysis& analysis() const { return analysis_; }

    const std::vector<Variable>& variables() const { return variables_; }
    // One value per node, model node order.
    std::vector<float> node_reals(std::int32_t variable, std::int32_t part);
    std::vector<std::int32_t> node_ints(std::int32_t variable, std::int32_t part);
    // One value per element, element order:
    // structured elements of every part, then the unstructured elements;
    // the values of plane slots, which are no elements, are left out.
    ElementReals element_reals(std::int32_t variable, std::int32_t part);
    std::vector<std::int32_t> element_ints(std::int32_t variable, std::int32_t part);
    // x, y, z displacement of every node in metres; false when the cycle
    // stores none. A damaged file throws.
    bool displacements(std::vector<float>& xyz);
    // Fraction of material `material` in each structured element; false when
    // the cycle stores none.
    bool material_fractions(std::int32_t material, std::vector<float>& out);
    // Rotation (column-major) and translation of a rigid body; false when the
    // cycle stores no rigid body data.
    bool rigid_body(std::int32_t body, std::array<float, 12>& out);
    bool joint(std::int32_t joint, std::int32_t quantity, std::array<float, 16>& out);
    // How many values `request` gives, as the library bounds it by the file,
    // without inflating them: what a front end checks before it sizes
    // anything from the model. -1 when `absent_ok` and the cycle does not
    // store it; throws Error when the library refuses the count.
    std::int64_t count_values(const qvres_request& request, const char* what, bool absent_ok = false) const;
    // Where each value of `request` stands (the library's layout query).
    ElementLayout layout(const qvres_request& request, const char* what) const;

private:
    const Analysis& analysis_;
    const ResultsLibrary::Api& api_;
    std::int32_t step_;
    qvres_reader* handle_ = nullptr;
    std::vector<Variable> variables_;

    std::int64_t count(const qvres_request& request, const char* what) const;
    // Reads a request into a vector of its count; false (nothing thrown) when
    // `absent_ok` and the cycle does not store it.
    template <class T>
    bool read(const qvres_request& request, const char* what, std::vector<T>& out, bool absent_ok = false);
    [[noreturn]] void fail(const std::string& what, const qvres_error& error) const;
};

}  // namespace qvhost
