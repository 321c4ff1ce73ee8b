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
    // One .vtu per step holding every part (the layout before blocks): for
    // hosts that read one grid per cycle.
    bool single_vtu = false;
    // Draw eroded elements: no vtkGhostType from the element variable EROSION.
    bool show_eroded = false;
};

struct ExportReport {
    std::vector<std::string> warnings;  // one per step passed over, in step order
    std::size_t steps = 0;              // steps exported (or read)
    std::size_t points = 0, cells = 0;
    std::vector<std::string> files;     // each step's .vtm (or .vtu), in step order
    std::string collection;             // the .pvd written; empty when reading only
    std::uint64_t bytes = 0;            // bytes written, the collection included
};

// Exports the steps of `analysis` as OUTDIR/RUN_NNNN.vtm (NNNN the step)
// naming a block per part, OUTDIR/RUN_NNNN_P.vts for structured part P and
// OUTDIR/RUN_NNNN_P.vtu for the elements of unstructured part P (P = 0:
// the elements of no part, when there are any), or with `single_vtu` as
// OUTDIR/RUN_NNNN.vtu; and OUTDIR/RUN.pvd. Throws qvhost::Error for the first step that fails
// (the lowest one that was started), and for a cycle file that cannot be
// read unless `keep_going`. `progress`, when given, is called with the
// number of steps done, from any thread, one call at a time.
ExportReport export_analysis(const qvhost::Analysis& analysis, const ExportOptions& options,
                             const std::function<void(std::size_t)>& progress = {});

// The envelope of the node or element variable `variable` (a name
// the library resolves, or an index, looked up as qvres-inspect envelope
// does: in the first step that lists it) over every cycle, as
// OUTDIR/RUN_envelope.vtm and its blocks (OUTDIR/RUN_envelope.vtu with
// `single_vtu`): point or cell arrays NAME_max (NAME_min with `minimum`),
// the extreme in SI units, and NAME_max_time, the time in seconds of the
// first cycle that reached it (NaN where no cycle gave a value; an integer
// variable then holds QVRES_NO_INTEGER). One call of the library reads
// each cycle once; with `keep_going` a cycle file that cannot be read is
// passed over. The report's warnings name those and the steps that do not
// store the variable.
ExportReport export_envelope(const qvhost::Analysis& analysis, const ExportOptions& options,
                             const std::string& variable, bool minimum);

// Steps from a list such as "0,3,5-8" (0-based, inclusive ranges), each of
// which must exist among `count`: throws qvhost::UsageError for a list that
// is not of that form, qvhost::Error for a step that does not exist.
std::vector<std::int32_t> parse_steps(const std::string& list, std::size_t count);

// The entries that front ends give as one array: the X, Y and Z
// components of a node-real vector of the library's catalogue and the six
// of a real symmetric tensor (XX, YY, ZZ, XY, YZ, XZ: VTK's order), all of
// one kind and part, named after the group (qvhost::group_name_as_shown):
// the positions of its members in the directory, in component order.
struct Group {
    std::string name;
    std::vector<std::size_t> members;
};
std::vector<Group> component_groups(const qvhost::ResultsLibrary& library,
                                    const std::vector<qvhost::Variable>& directory);

}  // namespace qvvtk
