// What the tools share about finding a variable over the steps of an
// analysis and telling what a series of them left out: the rule by which a
// name or an index on the command line picks a directory entry, the step
// that first lists it, and the warnings for the steps a history or an
// envelope got no value from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/results_library.h"

namespace qvhost {

// Which entries a name may pick: any (ranked as find_variable says), node
// or element entries only, or the first of any kind in directory order
// (qvres-to-vtk --envelope, which has no option to choose).
enum class Want { Any, Node, Element, First };

// Whether `s` is a whole number as a variable index is given ("-" allowed).
bool is_number(const std::string& s);

// The directory entry VAR names for `part` (any part when `part` is 0);
// nullptr when there is none. A number is an index (UsageError beyond
// 32 bits), anything else a name
// matched by the library's rule (ResultsLibrary::names_entry). Among
// several, node entries come before element entries unless elements are
// asked for, real entries before integer entries, (of any part) part 1
// before the others, then directory order; with Want::First directory
// order alone.
const Variable* find_variable(const ResultsLibrary& lib, const std::vector<Variable>& dir, const std::string& var,
                              std::int32_t part, Want want);

// The entry VAR names (as find_variable) in the first step whose directory
// lists it, put in `found`; the step, or -1 when no step lists it. A step
// whose file cannot be read throws, or with `keep_going` is passed over;
// when no step lists it and some could not be read, the first of those
// failures is thrown: the variable may be in them.
std::int64_t first_listing(const Analysis& analysis, const std::string& var, std::int32_t part, Want want,
                           bool keep_going, Variable& found);

// The warnings for what a series got no value from: one per step whose file
// could not be read ("STEP: MESSAGE: left out"), and, when `variable` is
// not empty, one naming the steps that do not store it.
std::vector<std::string> gap_warnings(const Analysis& analysis, const std::vector<SeriesGap>& gaps,
                                      const std::string& variable);

}  // namespace qvhost
