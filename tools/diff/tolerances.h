// How closely two values must agree: a default relative and absolute
// tolerance, and per-name ones (or "ignore") from the command line and a
// tolerance file.
//
// Two values a and b agree when they are equal (infinities of one sign
// included), when both are NaN, or when
//     |a - b| <= atol + rtol * max(|a|, |b|),
// so the rule is the same whichever analysis is named first. NaN against a
// number, and infinity against anything else, never agree. Integer arrays
// (numbers, flags, material indices) are compared exactly unless a tolerance
// is set for them by name: a relative default would let numbers above
// 1 / rtol differ by one.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qvdiff {

struct Tolerance {
    double rtol = 1e-6;
    double atol = 0.0;
    bool ignore = false;
};

inline bool agree(double a, double b, const Tolerance& t) {
    if (a == b) return true;
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    // Unequal, so at most one of them is this infinity: with rtol > 0 the
    // rule below would read inf <= inf.
    if (std::isinf(a) || std::isinf(b)) return false;
    return std::fabs(a - b) <= t.atol + t.rtol * std::max(std::fabs(a), std::fabs(b));
}

// The variable index a name stands for in the real (true) or integer
// family, -1 for none: the library's rule (qvhost::ResultsLibrary::find_variable).
using VariableFinder = std::function<std::int32_t(bool real, const std::string& name)>;

// Tolerances by name. A compared array is looked up by the names it goes
// by, most particular first (TEMP[WATER], TEMP, 86); the first one that has
// a tolerance gives it, else the default does. A name stands for a variable
// as the library resolves it (any spelling of the catalogue: "pressure",
// "IVR_PRES"), with "_partN" and "[MATERIAL]" after it kept as written;
// the tool's own arrays (DISPLACEMENT, COORDINATES, MATERIAL_FRACTION) in
// either case; any other name exactly.
class Tolerances {
public:
    Tolerance defaults;

    // Sets (or replaces) the tolerance of `name`.
    void set(const std::string& name, const Tolerance& t);

    // Resolves every name set so far, and every name looked up, through
    // `find`; until it is called names are compared as written.
    void resolve(VariableFinder find);

    // Reads a tolerance file: one line per name, "NAME REL ABS" or "NAME
    // ignore", fields separated by blanks or commas, '#' starting a comment.
    // Lines already set are kept: what the command line sets wins. Throws
    // std::runtime_error naming the file and line for a line that is not one
    // of these, and when the file cannot be read.
    void read_file(const std::string& path);

    // The tolerance for an array known by `names`, the names of a variable
    // of the real (`real` 1) or integer (0) family, or of none (-1);
    // `matched` receives the name that gave it as it was set (empty for the
    // default).
    Tolerance lookup(const std::vector<std::string>& names, std::string* matched = nullptr, int real = -1) const;

    // Every name with a tolerance of its own, as set.
    std::vector<std::string> names() const;

private:
    struct Named {
        std::string name;
        Tolerance tolerance;
        bool command_line = false;
    };
    std::vector<Named> given_;  // in the order set
    VariableFinder find_;
    struct Entry {
        Tolerance tolerance;
        bool command_line = false;
        std::string shown;  // the name as set
    };
    std::map<std::string, Entry> by_key_;
    void put(const std::string& name, const Tolerance& t, bool command_line);
    void index(const Named& n);
    // The keys `name` goes by: of the variable it names in family `real`
    // (1, 0), in both families (-1 and a variable name), or as written.
    std::vector<std::string> keys(const std::string& name, int real) const;
};

// "REL,ABS" of --tol NAME=REL,ABS, or one tolerance value; throws
// std::invalid_argument saying what is wrong.
Tolerance parse_tolerance(const std::string& rel, const std::string& abs);
double parse_tolerance_value(const std::string& text, const char* what);

}  // namespace qvdiff
