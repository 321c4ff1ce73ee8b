// The export of an analysis to VTK files, cycle by cycle, several cycles at
// once: each thread opens its own cycle reader on the shared analysis, and
// every file depends on its cycle alone, so the files are the same byte for
// byte whatever the number of threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/results_library.h"
#include "to_vtk/vtu_writer.h"

namespace qvvtk {

struct ExportOptions {
    std::string outdir;          // empty: read every array as the export does, write nothing
    unsigned threads = 0;        // 0: one per core
    Encoding encoding;
    bool keep_going = false;     // pass over cycle files that cannot be read, with a warning
    std::vector<std::int32_t> steps;  // the steps to export, in this order; empty: all
    // Arrays to export, empty for all: names or indices as the result
    // directory gives them, a vector's name (VELOCITY for X-, Y- and
    // Z-VELOCITY), "displacement", "material_fraction" and "part".
    std::vector<std::string> vars;
};

struct ExportReport {
    std::vector<std::string> warnings;  // one per step passed over, in step order
    std::size_t steps = 0;              // steps exported (or read)
    std::size_t points = 0, cells = 0;
    std::vector<std::string> files;     // the .vtu files written, in step order
    std::string collection;             // the .pvd written; empty when reading only
    std::uint64_t bytes = 0;            // bytes written, the collection included
};

// Exports the steps of `analysis` as OUTDIR/RUN_NNNN.vtu (NNNN the step)
// and OUTDIR/RUN.pvd. Throws qvhost::Error for the first step that fails
// (the lowest one that was started), and for a cycle file that cannot be
// read unless `keep_going`. `progress`, when given, is called with the
// number of steps done, from any thread, one call at a time.
ExportReport export_analysis(const qvhost::Analysis& analysis, const ExportOptions& options,
                             const std::function<void(std::size_t)>& progress = {});

// Steps from a list such as "0,3,5-8" (0-based, inclusive ranges), each of
// which must exist among `count`: throws qvhost::UsageError for a list that
// is not of that form, qvhost::Error for a step that does not exist.
std::vector<std::int32_t> parse_steps(const std::string& list, std::size_t count);

// The node-real entries that are the X, Y and Z components of one vector of
// the library's catalogue, all of one part, as one vector named after the
// group (qvhost::group_name_as_shown): the positions of its x, y and z
// entries in the directory.
struct Triple {
    std::string name;
    std::size_t x = 0, y = 0, z = 0;
};
std::vector<Triple> vector_triples(const qvhost::ResultsLibrary& library,
                                   const std::vector<qvhost::Variable>& directory);

}  // namespace qvvtk
