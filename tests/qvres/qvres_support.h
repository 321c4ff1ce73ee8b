// What the libqvres tests share: the fixture analysis the fixture writer
// builds, the queries an analysis and each cycle answer, and those answers
// recorded as bit patterns, so that two readings are compared with memcmp.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "qvres.h"
#include "results_api.h"
#include "sample/sample_analysis.h"

namespace qvtest {

// The fixture run, in mm, kg and ms: structured parts 3x3x2, 1x3x2 (I = 1)
// and 2x2x3, unstructured hexahedra and shells, materials whose Euler ids
// are 1, -1, 2, -3. Every cycle stores node values (two parts), the eight
// multi-material real variables, the cover fraction (element real 155, part
// 1), element integers and sublayer integers (qualifiers -1, -2, -3). Four
// cycle files named out of time order; the last has no material fractions,
// joints or rigid bodies, the others joints 2, 5 and rigid bodies 1, 5.
struct FixtureFiles {
    std::string base_file;
    std::vector<std::string> cycle_files;
};
FixtureFiles write_fixture(const std::string& directory, const std::string& run = "fix_run");
// One more fixture cycle file, of this cycle number and time.
void write_fixture_cycle(const std::string& path, std::int32_t cycle, float time);
// One with the values of cycle `seed_cycle` and without the arrays of
// variable `drop_variable` (0: none dropped).
void write_fixture_cycle(const std::string& path, std::int32_t cycle, float time,
                         std::int32_t seed_cycle, std::int32_t drop_variable);

// Joint and rigid body numbers asked of every cycle: stored ones and others.
inline constexpr std::int32_t kBodyNumbers[] = {1, 5, 7};

template <class T>
std::vector<std::uint32_t> bits_of(const T* values, std::size_t n) {
    std::vector<std::uint32_t> out(n);
    if (n) std::memcpy(out.data(), values, 4 * n);
    return out;
}

bool is_integer(qvres_values v);

// The registered cycles' numbers; the skipped files' paths and reasons.
std::vector<std::int32_t> registered_cycles(const qvres_analysis* a);
std::map<std::string, std::string> skipped_files(const qvres_analysis* a);
// The cycle numbers the exports register on a mode-1 load of `named`
// (inline: only the targets that link the exports use it).
inline std::vector<std::int32_t> exports_cycles(const std::string& named, const std::string& directory) {
    EXPECT_TRUE(set_Startup());
    const std::int32_t mode = 1;
    std::int32_t steps = -1;
    std::vector<std::int32_t> numbers;
    if (set_BaseFilename(&mode, named.c_str(), directory.c_str()) && get_NumSteps(&steps) && steps >= 0) {
        numbers.assign(std::size_t(steps) + 1, -7);
        std::vector<float> times(numbers.size());
        EXPECT_TRUE(get_SetData(numbers.data(), times.data()));
        EXPECT_EQ(numbers.back(), -7) << "written past the steps";
        numbers.pop_back();
    }
    resultsCleanUp();
    return numbers;
}

// An array query of libqvres: what it asks, how many 4-byte values it
// writes, and the call.
struct ArrayQuery {
    std::string what;
    std::int64_t count = -1;
    std::function<qvres_status(void* values, std::int64_t capacity, qvres_error* error)> read;
};
// Coordinates, connectivity, element types, then the elements and nodes of
// every unstructured part.
std::vector<ArrayQuery> model_arrays(const qvres_analysis* a);
// A value request, its count from qvres_count_values.
ArrayQuery value_array(qvres_reader* r, const qvres_request& q);
// Every joint quantity -13..13 (16 values) and rigid body (12) of
// kBodyNumbers.
std::vector<ArrayQuery> body_arrays(qvres_reader* r);

// A value request and whether the directory lists what it asks for (so it
// must be answered).
struct Request {
    qvres_request q;
    bool listed;
};
// Per directory entry: node values of its part; element values in both
// modes; sublayer values of its qualifier (and of 0 for -1). Then the
// displacements, the fractions of every material and two arrays that no
// cycle stores.
std::vector<Request> value_requests(const qvres_reader* r, std::int64_t materials);

// One answer: what was asked, the status and what was written, bit for bit.
struct Reading {
    std::string what;
    int status = -1;
    std::vector<std::uint32_t> bits;
    std::string message;  // not compared
};
using Readings = std::vector<Reading>;
// The query into a buffer of exactly its count, filled with 0xA5 bytes.
Reading read(const ArrayQuery& q);

// One query each: the directory entries, value requests and body arrays.
using Step = std::function<Reading()>;
std::vector<Step> cycle_steps(qvres_reader* r, std::int64_t materials);
Readings run(const std::vector<Step>& steps);
// The model, parts, materials, model arrays and cycles.
Readings read_model(const qvres_analysis* a);
// Same questions, same statuses, same bits (memcmp).
void expect_same(const Readings& actual, const Readings& expected);

// An analysis, and a reader of cycle `index`, closed at the end of the scope.
struct Open {
    explicit Open(const std::string& path, const qvres_open_options* options = nullptr)
        : status(qvres_open(path.c_str(), options, &a, &error)) {}
    ~Open() { qvres_close(a); }
    Open(const Open&) = delete;
    Open& operator=(const Open&) = delete;
    qvres_analysis* a = nullptr;
    qvres_error error{};
    qvres_status status;
};
struct Reader {
    Reader(const qvres_analysis* a, std::int64_t index) : status(qvres_reader_open(a, index, &r, &error)) {}
    ~Reader() { qvres_reader_close(r); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    qvres_reader* r = nullptr;
    qvres_error error{};
    qvres_status status;
};

}  // namespace qvtest
