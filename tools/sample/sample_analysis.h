// A small but complete analysis, written as a solver run would leave it:
// an Euler block in which a charge sends out a pressure wave, and beside it
// a structure of every unstructured element kind, a rigid body and a joint.
//
// The model is in millimetres, kilograms and milliseconds (length code 1,
// mass code 3, time code 2): lengths and times are 1e-3 of their SI values,
// pressures (GPa) 1e9, densities (kg/mm^3) 1e9 and velocities (mm/ms) 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvsample {

struct SampleOptions {
    // Node layers of the Euler block (I along x, J along y, K along z).
    std::int32_t i = 21, j = 7, k = 6;
    // Saved cycles (at least 2).
    std::int32_t cycles = 12;
    // Run name: the base file is RUN.qvres_base, the cycle files
    // RUN_CYCLE.qvres with the cycle number unpadded.
    std::string run = "sample_run";
};

struct SampleAnalysis {
    std::string directory;
    std::string base_file;
    // In time order, with their cycle numbers and times (ms).
    std::vector<std::string> cycle_files;
    std::vector<std::int32_t> cycles;
    std::vector<float> times;
    // Header word count of each cycle file: 6 single form, 7 chunked bulk
    // arrays, 8 chunked bulk and body arrays.
    std::vector<std::int32_t> header_words;
};

// Writes the analysis into `directory` (created when missing) and returns
// what it wrote. Throws std::runtime_error when a file cannot be written.
SampleAnalysis write_sample_analysis(const std::string& directory,
                                     const SampleOptions& options = {});

// The model and its fields, in model units, for anyone who wants to compare
// what the library returns with what was written.
namespace model {

inline constexpr std::int32_t kUnitCodes[3] = {1, 3, 2};  // length, mass, time
inline constexpr float kSpacing = 5.0f;                   // block cell size, mm
inline constexpr std::int32_t kMaterials = 3;             // WATER, TNT, STEEL
inline constexpr std::int32_t kUnstructuredParts = 7;

// Result directory of every cycle: variable indices and kinds, in order.
struct Entry {
    std::int32_t variable;
    std::int32_t kind;
    const char* name;
};
inline constexpr Entry kDirectory[] = {
    {4, 2, "X-VELOCITY"}, {5, 2, "Y-VELOCITY"}, {6, 2, "Z-VELOCITY"},
    {64, -2, "PRESSURE"}, {82, -2, "DENSITY"},  {10, -1, "MATERIAL"},
    {35, 1, "TASK NUMBER"}, {86, -2, "TEMP"},   {12, -1, "STATUS"},
    {26, -1, "EROSION"},  {155, -2, "COVER FRAC.V"},
};

// Pressure (GPa) at a point (mm) at time t (ms) for a block of extents i, j, k.
double pressure(double x, double y, double z, double t, std::int32_t j, std::int32_t k);

}  // namespace model

}  // namespace qvsample
