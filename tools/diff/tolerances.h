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

// Names as the tools compare them: upper case, trailing blanks dropped,
// blanks and dots as '_'.
std::string normalised(std::string name);

// Tolerances by name. A compared array is looked up by the names it goes
// by, most particular first (TEMP[WATER], TEMP, 86); the first one that has
// a tolerance gives it, else the default does.
class Tolerances {
public:
    Tolerance defaults;

    // Sets (or replaces) the tolerance of `name`.
    void set(const std::string& name, const Tolerance& t);

    // Reads a tolerance file: one line per name, "NAME REL ABS" or "NAME
    // ignore", fields separated by blanks or commas, '#' starting a comment.
    // Lines already set are kept: what the command line sets wins. Throws
    // std::runtime_error naming the file and line for a line that is not one
    // of these, and when the file cannot be read.
    void read_file(const std::string& path);

    // The tolerance for an array known by `names`; `matched` receives the
    // name that gave it (empty for the default).
    Tolerance lookup(const std::vector<std::string>& names, std::string* matched = nullptr) const;

    // Every name with a tolerance of its own.
    std::vector<std::string> names() const;

private:
    std::map<std::string, Tolerance> by_name_;
    std::map<std::string, bool> from_command_line_;
    void put(const std::string& name, const Tolerance& t, bool command_line);
};

// "REL,ABS" of --tol NAME=REL,ABS, or one tolerance value; throws
// std::invalid_argument saying what is wrong.
Tolerance parse_tolerance(const std::string& rel, const std::string& abs);
double parse_tolerance_value(const std::string& text, const char* what);

}  // namespace qvdiff
