// The comparison of two analyses: their models, then cycle by cycle every
// array both store, several cycle pairs at once. Each worker thread opens
// its own cycle reader on each analysis; the results are kept in pair order
// whatever the thread timing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diff/tolerances.h"
#include "host/results_library.h"

namespace qvdiff {

// Where a value sits, in the numbering the tools show: node or element
// number (1-based, model order), and for a structured part its part and
// I, J, K (node layers; a cell by its highest corner).
struct Place {
    enum Kind { None, Node, Element, Value } kind = None;  // Value: a position only
    std::int64_t number = 0;  // 1-based
    std::int32_t part = 0;    // 0 when not known
    std::string part_name;
    std::int64_t i = 0, j = 0, k = 0;  // 0 unless structured
    int component = -1;                // 0, 1, 2: x, y, z of a vector
    std::string text() const;          // "element 6 (part 2 CUBE, cell 3,2,3)"
};

// The node and element numbering of a model: where each node and element
// sits, as the library lays out the node values and element integers of
// the analysis's first cycle (no I, J, K without a readable cycle).
class Numbering {
public:
    explicit Numbering(const qvhost::Analysis& analysis);
    Place node(std::int64_t index) const;     // 0-based model node order
    Place element(std::int64_t index) const;  // 0-based element order

private:
    struct Block {
        std::int64_t first = 0;  // position of its first node or element
        std::int64_t extent[3] = {0, 0, 0}, origin[3] = {1, 1, 1};
        std::int32_t part = 0;
    };
    std::string part_name(std::int32_t part) const;
    static bool locate(const std::vector<Block>& blocks, std::int64_t index, Place& p);
    std::vector<Block> nodes_, elements_;
    std::int64_t structured_elements_ = 0;
    std::vector<std::int32_t> unstructured_part_;  // part of each unstructured element, 0 none
    std::vector<std::string> part_names_;          // by part number - 1
};

// One compared array (or one column of one) in one cycle pair, or in the model.
struct ArrayResult {
    enum class Status { Compared, Ignored, OnlyA, OnlyB } status = Status::Compared;
    std::string name;  // PRESSURE, TEMP[WATER], X-VELOCITY_part2, DISPLACEMENT, COORDINATES
    std::string unit;
    bool integers = false;         // values of an integer variable: whole numbers, shown in full
    Place::Kind on = Place::None;  // node or element values; None for others
    Tolerance tolerance;
    std::string tolerance_name;  // the name that gave the tolerance; empty: the default
    std::int64_t compared = 0;   // values compared
    std::int64_t differing = 0;  // values not equal (NaN at the same place counts as equal)
    std::int64_t beyond = 0;     // values beyond tolerance
    double largest = 0.0;        // largest |a - b| (infinite for NaN against a number)
    double a = 0.0, b = 0.0;     // the values there
    Place place;                 // where; kind None when no value differs
    bool within() const { return status != Status::Compared || beyond == 0; }
};

struct ModelResult {
    std::vector<std::string> differences;  // one sentence each
    bool comparable = true;                // same parts and sizes: cycles can be compared
    ArrayResult coordinates;               // compared when the node counts agree
    bool same() const { return differences.empty() && coordinates.within(); }
};

// A cycle of A matched with one of B, or a cycle of one of them alone.
struct CyclePair {
    std::int32_t a = -1, b = -1;  // steps; -1 when the other analysis has none to match
};

enum class Match { Time, Cycle };

// Pairs the cycles of A and B: by time (equal within `time_rtol` relative to
// the larger) or by cycle number; in time order, cycles of one analysis
// alone among them.
std::vector<CyclePair> match_cycles(const std::vector<qvhost::Step>& a, const std::vector<qvhost::Step>& b,
                                    Match match, double time_rtol);

ModelResult compare_models(const qvhost::Analysis& a, const qvhost::Analysis& b, const Tolerances& tolerances);

struct PairResult {
    CyclePair pair;
    std::vector<ArrayResult> arrays;  // in A's directory order, then B's arrays alone
};

// Compares every pair (cycles of one analysis alone get no arrays) with
// `threads` workers (0: one per core). Throws qvhost::Error for the first
// pair, in pair order, that could not be read. `progress` is called with the
// number of pairs of two cycles compared so far, one call at a time.
std::vector<PairResult> compare_cycles(const qvhost::Analysis& a, const qvhost::Analysis& b,
                                       const std::vector<CyclePair>& pairs, const Tolerances& tolerances,
                                       unsigned threads, const std::function<void(std::size_t)>& progress = {});

}  // namespace qvdiff
