// What the node and element getters share: the checks every value query
// makes before it reads the current cycle, the directory lookup, the model
// sizes in 64 bits, and the walk over the element slots of a structured
// part.
//
// Stored node and element arrays start with the header pair; then one value
// per structured slot (structured parts in order, K fastest, then J, then I;
// an element between node layers i-1..i, j-1..j, k-1..k sits in slot
// (i, j, k)), then the unstructured nodes or elements.
#pragma once

#include <cstdint>

#include "format/cycle_file.h"
#include "model/cycle_model.h"
#include "variables/catalogue_queries.h"

namespace qv::extract {

using model::kHeaderPair;
using format::Failure;
using format::Status;

// What a value query reads: the model as the session sees it, the current
// cycle and the data extraction mode; how many values the caller's buffer
// holds, and where to say why a query failed. The values are the values
// alone: the header pair stored before them is the exports' to add (the
// cycle reader keeps the pair of the array it read last).
//
// A query that fails returns false and, when asked, fills `failure`: its
// status (not_ready, not_stored, damaged, capacity or argument), the file
// and, for damage met in the file, the offset of the record where this
// query first met it. An array or section that was not found counts as
// damaged when the query met damage on the way: it may have been lost with
// it. The caller names the section and the array in `failure` before it
// asks; the query starts with RecordReader::forget_damage, so only its own
// damage counts.
struct Source {
    model::View model;
    format::CycleReader& cycle;
    std::int32_t mode = 0;
    std::int64_t capacity = INT64_MAX;
    Failure* failure = nullptr;
};

// Records why and where the query failed (when asked) and returns false.
bool fail(const Source& src, Status why);
// What a read of the format that did not succeed means to a value query:
// not_stored, not_ready or damaged.
Status query_status(Status st);

// Node layers of one structured part.
struct Block {
    std::int64_t i = 0, j = 0, k = 0;
    std::int64_t slots() const { return i * j * k; }
    // A part with at least two node layers in each direction holds
    // (I-1) x (J-1) x (K-1) elements.
    bool has_cells() const { return i >= 2 && j >= 2 && k >= 2; }
    // A part of one I layer: a plane of J x K slots and no elements.
    bool is_plane() const { return i == 1; }
};

// How an element walk takes a structured part: its element slots (a part
// with cells), with `planes` every slot of a part of one I layer, or
// nothing. The value getters and the layout query both go by this.
enum class Walk { skipped, element_slots, every_slot };
inline Walk walk_of(const Block& b, bool planes) {
    if (planes && b.is_plane()) return Walk::every_slot;
    return b.has_cells() ? Walk::element_slots : Walk::skipped;
}

// The extents of structured part `part` (1 .. usable_structured_parts);
// negative extents count as 0.
Block block(const model::Analysis& a, std::int32_t part);

// What the stored arrays of the current cycle are laid out by.
struct ModelSizes {
    std::int32_t parts = 0;         // structured parts walked
    std::int64_t slots = 0;         // T: slots of those parts
    std::int64_t unstructured = 0;  // unstructured nodes or elements
};

// Whether a value query may read the current cycle: a cycle file is open
// and the model is valid. A failed cycle open closes the file and makes the
// model invalid, so nothing is ever answered from an earlier cycle. Sizes
// of the structured parts come from the base file; a cycle that states more
// structured parts than the base file describes cannot be laid out and
// makes `sizes` fail (false); so does, for elements, one that states more
// unstructured elements than the part records hold.
bool cycle_ready(const Source& src);
bool node_sizes(const model::View& m, ModelSizes& sizes);
bool element_sizes(const model::View& m, ModelSizes& sizes);

// Whether the result directory holds an array of this kind for the variable
// and part: qualifier by absolute value, or sign included when `exact`.
// Variable indices below 1 are never looked up: the array readers would
// translate index 0 to another variable.
bool directory_lists(const model::CycleModel& c, std::int32_t variable, std::int32_t kind,
                     std::int32_t qualifier, bool exact);

// Whether an array of `held` values holds the header pair, `slots` groups of
// `per_slot` values and `tail` values after them; overflow-safe.
bool holds(std::int64_t held, std::int64_t slots, std::int64_t per_slot, std::int64_t tail);

// The slot count up to the end of the last structured part whose slots an
// element walk reads: parts with cells, and with `planes` also parts of one
// I layer. A walk reads nothing of the stored array beyond it except the
// unstructured values behind all T slots.
std::int64_t element_walk_end(const model::Analysis& a, std::int32_t parts, bool planes);

// Calls rows(first, count, length, stride) for every I layer of element
// slots of a part with cells: the `count` runs of `length` slots (i, j,
// 2..K) for j = 2..J, the first at `first` (0-based slot position inside
// the part) and each `stride` slots after the one before; i = 2..I.
template <class Rows>
inline void for_each_element_layer(const Block& b, Rows&& rows) {
    for (std::int64_t i = 1; i < b.i; ++i) rows((i * b.j + 1) * b.k + 1, b.j - 1, b.k - 1, b.k);
}

// The same runs one at a time: row(first, count).
template <class Row>
inline void for_each_element_row(const Block& b, Row&& row) {
    for_each_element_layer(b, [&](std::int64_t first, std::int64_t count, std::int64_t length, std::int64_t stride) {
        for (std::int64_t r = 0; r < count; ++r) row(first + r * stride, length);
    });
}

// Integer element values as the mode-0 and sublayer getters return them:
// the element slots of every part with cells (with
// `planes` also every slot of each part of one I layer), then the U
// unstructured values. `fits` says whether an array of `held` values holds
// all of that; `copy_integer_elements` writes it.
bool integer_elements_fit(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                          std::int64_t held);
void copy_integer_elements(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                           const std::int32_t* work, std::int32_t* values);

// The SI factor of a real variable: with `temperature`, all four exponents
// choose the dimension code; without, temperature is taken as 0.
float variable_scale(const model::Analysis& a, std::int32_t variable, bool temperature);

// The values an element getter writes: the element
// slots of every part with cells (with `planes` also every slot of each
// part of one I layer), `per_slot` values each, then the unstructured values.
std::int64_t element_walk_values(const model::Analysis& a, const ModelSizes& sizes, bool planes,
                                 std::int64_t per_slot);

using variables::multi_material;
// Materials whose values a multi-material getter reports: those with an
// Euler material-fraction identifier of 0 or more.
std::int64_t reported_materials(const model::Analysis& a);

// Values per block of the copy and averaging loops: a fixed count that the
// compiler turns into vector operations without a run-time trip count.
inline constexpr std::int64_t kBlock = 8;

// out[x] = in[x] * scale for n values; in and out do not overlap.
void scale_copy(const float* __restrict in, float* __restrict out, std::int64_t n, float scale);

// The real values of a getter handed on without a copy into the caller's
// array: runs in the order of the values, each with the index of its first
// value among those the getter writes and the factor that makes them SI
// values (value = stored[x] * scale, as the getter computes it). A run
// points into the stored array, where it lasts until the reader reads
// again, or at values the getter worked out (scale 1), which the next run
// replaces.
struct RealRuns {
    virtual ~RealRuns() = default;
    virtual void run(std::int64_t first, const float* stored, std::int64_t n, float scale) = 0;
    // `count` runs of `length` values in a row, the values of run r from
    // stored + r * stride: run(first + r * length, ...) for each, unless
    // taken at once.
    virtual void rows(std::int64_t first, const float* stored, std::int64_t count, std::int64_t length,
                      std::int64_t stride, float scale) {
        for (std::int64_t r = 0; r < count; ++r) run(first + r * length, stored + r * stride, length, scale);
    }
};

// Where a real getter puts its values: copied into the caller's array, or
// handed on as runs. `row(n)` is room for n values the getter works out,
// which `put_row(n)` then gives on.
struct CopyOut {
    float* out;
    void copy(const float* in, std::int64_t n, float scale) {
        scale_copy(in, out, n, scale);
        out += n;
    }
    void one(const float* in, float scale) { *out++ = *in * scale; }
    void rows(const float* in, std::int64_t count, std::int64_t length, std::int64_t stride, float scale) {
        for (std::int64_t r = 0; r < count; ++r) copy(in + r * stride, length, scale);
    }
    float* row(std::int64_t) { return out; }
    void put_row(std::int64_t n) { out += n; }
};
struct RunsOut {
    explicit RunsOut(RealRuns& r) : runs(r) {}
    RealRuns& runs;
    std::int64_t at = 0;
    model::Array<float> scratch;
    void copy(const float* in, std::int64_t n, float scale) {
        runs.run(at, in, n, scale);
        at += n;
    }
    void one(const float* in, float scale) { copy(in, 1, scale); }
    void rows(const float* in, std::int64_t count, std::int64_t length, std::int64_t stride, float scale) {
        runs.rows(at, in, count, length, stride, scale);
        at += count * length;
    }
    // Rows are node rows (K values), allocated once per getter.
    float* row(std::int64_t n);
    void put_row(std::int64_t n) { copy(scratch.data(), n, 1.0f); }
};

}  // namespace qv::extract
