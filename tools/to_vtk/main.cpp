// qvres-to-vtk: every cycle of an analysis as VTK files (a multiblock file
// of a structured grid per structured part and an unstructured grid per
// unstructured part, or one unstructured grid), and a collection with the
// cycle times, for ParaView.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/results_library.h"
#include "to_vtk/export.h"

namespace {

using qvhost::Error;

constexpr const char* kTool = "qvres-to-vtk";

constexpr const char* kUsage =
    "usage: qvres-to-vtk [OPTIONS] FILE OUTDIR\n"
    "       qvres-to-vtk [OPTIONS] --read-only FILE\n"
    "       qvres-to-vtk --version\n"
    "Writes every cycle of the analysis that FILE belongs to as OUTDIR/RUN_NNNN.vtm\n"
    "(NNNN the step in time order), a multiblock file with a block per part named\n"
    "after it: OUTDIR/RUN_NNNN_P.vts, a structured grid of I x J x K points, for\n"
    "structured part P, and OUTDIR/RUN_NNNN_P.vtu for the elements of unstructured\n"
    "part P (P = 0: elements of no part); and the collection OUTDIR/RUN.pvd with the\n"
    "cycle times in seconds. Points carry their initial coordinates in metres and a\n"
    "'displacement' vector (when the cycle stores displacements). Node variables\n"
    "become point data (X-, Y- and Z- variables of one name as one vector:\n"
    "VELOCITY; STRESS XX .. ZX as one 6-component tensor: STRESS, in the order XX,\n"
    "YY, ZZ, XY, YZ, XZ), element variables cell data, in SI units. Elements the\n"
    "element variable EROSION marks as eroded (not 0) are hidden (vtkGhostType).\n"
    "FILE is a cycle file, a base file or the directory of one base file.\n"
    "\n"
    "  --threads N      export N cycles at once (default: one per core)\n"
    "  --no-compress    raw appended data (default: zlib-compressed blocks)\n"
    "  --steps LIST     only these steps, e.g. 0,3,5-8\n"
    "  --vars LIST      only these arrays: variable names (any spelling of the\n"
    "                   catalogue: as 'qvres-inspect vars' shows them, either case,\n"
    "                   '.', '_' and blanks alike) or indices, vector names\n"
    "                   (VELOCITY) or tensor names (STRESS), displacement,\n"
    "                   material_fraction, part; comma-separated\n"
    "  --single-vtu     one OUTDIR/RUN_NNNN.vtu per cycle holding every part (cells:\n"
    "                   the structured elements as hexahedra, then the unstructured\n"
    "                   elements; cell data 'part' says whose)\n"
    "  --show-eroded    draw eroded elements: no vtkGhostType from EROSION\n"
    "  --envelope VAR   instead of the cycles, the peak map of node or element\n"
    "                   variable VAR over every cycle: OUTDIR/RUN_envelope.vtm (or\n"
    "                   .vtu) with the point or cell arrays VAR_max, the largest\n"
    "                   value, and VAR_max_time, the time (s) it was first reached;\n"
    "                   VAR is looked up in the first cycle that stores it, and a\n"
    "                   warning names the cycles that do not\n"
    "  --min            with --envelope: the smallest value (VAR_min, VAR_min_time)\n"
    "  --keep-going     pass over a cycle file that cannot be read, with a warning\n"
    "                   (with --envelope too)\n"
    "                   (default: stop with an error naming the file)\n"
    "  --read-only      read every array as the export does and write nothing: a\n"
    "                   check that the whole analysis can be read; exits non-zero\n"
    "                   when any cycle file could not be read\n"
    "  --clear-stale-lock  remove a reader's lock that a killed reader left on this\n"
    "                   host (never a solver's lock) and read the run\n"
    "  --library PATH   the results library (default: libqvres.so.2 beside the tool,\n"
    "                   in the build tree, or named by QVRES_LIBRARY)\n";

using qvhost::UsageError;

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) out.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

struct Command {
    std::string library, file, steps, envelope;
    bool minimum = false;
    bool read_only = false;
    bool clear_stale_lock = false;
    qvvtk::ExportOptions options;
};

Command parse(int argc, char** argv) {
    Command c;
    std::vector<std::string> positional;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto value = [&]() -> std::string {
            if (a + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++a];
        };
        if (arg == "--read-only") {
            c.read_only = true;
        } else if (arg == "--clear-stale-lock") {
            c.clear_stale_lock = true;
        } else if (arg == "--keep-going") {
            c.options.keep_going = true;
        } else if (arg == "--envelope") {
            c.envelope = value();
        } else if (arg == "--min") {
            c.minimum = true;
        } else if (arg == "--single-vtu") {
            c.options.single_vtu = true;
        } else if (arg == "--show-eroded") {
            c.options.show_eroded = true;
        } else if (arg == "--no-compress") {
            c.options.encoding.compress = false;
        } else if (arg == "--library") {
            c.library = value();
        } else if (arg == "--threads") {
            c.options.threads = qvhost::thread_count(value());
        } else if (arg == "--steps") {
            c.steps = value();
        } else if (arg == "--vars") {
            c.options.vars = split(value());
            if (c.options.vars.empty()) throw UsageError("--vars takes names or indices");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != (c.read_only ? 1u : 2u))
        throw UsageError("usage: qvres-to-vtk [OPTIONS] FILE OUTDIR, or qvres-to-vtk [OPTIONS] --read-only FILE");
    c.file = positional[0];
    if (!c.read_only) c.options.outdir = positional[1];
    if (c.minimum && c.envelope.empty()) throw UsageError("--min goes with --envelope VAR");
    if (!c.envelope.empty() && (c.read_only || !c.steps.empty() || !c.options.vars.empty()))
        throw UsageError("--envelope takes every cycle and writes its own arrays: no --read-only, --steps or --vars");
    return c;
}

int run(Command& c) {
    const qvhost::ResultsLibrary lib(c.library, c.clear_stale_lock);
    const qvhost::Analysis analysis(lib, c.file);
    for (const qvhost::SkippedFile& s : analysis.skipped()) qvhost::report_warning(kTool, "not read: " + s.reason);
    if (!c.envelope.empty()) {
        const qvvtk::ExportReport report = qvvtk::export_envelope(analysis, c.options, c.envelope, c.minimum);
        for (const std::string& w : report.warnings) qvhost::report_warning(kTool, w);
        qvhost::print(stdout, "wrote %s (%zu cycles, %zu points, %zu cells, %.1f MB)\n",
                      qvhost::terminal_text(report.files.front()).c_str(), report.steps, report.points, report.cells,
                      static_cast<double>(report.bytes) / 1e6);
        return 0;
    }
    if (!c.steps.empty()) c.options.steps = qvvtk::parse_steps(c.steps, analysis.steps().size());

    const std::size_t total = c.options.steps.empty() ? analysis.steps().size() : c.options.steps.size();
    qvhost::Progress progress(c.read_only ? "reading steps" : "exporting steps", total);
    const qvvtk::ExportReport report =
        qvvtk::export_analysis(analysis, c.options, [&](std::size_t done) { progress.update(done); });
    progress.finish();
    for (const std::string& w : report.warnings) qvhost::report_warning(kTool, w);

    if (c.read_only) {
        qvhost::print(stdout, "read %zu steps (%zu points, %zu cells): nothing written\n", report.steps, report.points,
                              report.cells);
        // Links out of the run's directory are no files of the run.
        const std::size_t unread =
            report.warnings.size() + static_cast<std::size_t>(std::count_if(
                                         analysis.skipped().begin(), analysis.skipped().end(),
                                         [](const qvhost::SkippedFile& s) { return !s.link_out(); }));
        if (unread > 0) {
            qvhost::report_error(kTool, std::to_string(unread) + " cycle file" + (unread == 1 ? "" : "s") +
                                            " could not be read (see the warnings)");
            return 1;
        }
        return 0;
    }
    if (report.files.empty()) throw Error("no step could be exported (see the warnings)");
    qvhost::print(stdout, "wrote %s and %zu files %s ... %s (%zu points, %zu cells, %.1f MB)\n",
                  qvhost::terminal_text(report.collection).c_str(), report.files.size(),
                  qvhost::terminal_text(qvhost::file_name_of(report.files.front())).c_str(),
                  qvhost::terminal_text(qvhost::file_name_of(report.files.back())).c_str(),
                  report.points, report.cells, static_cast<double>(report.bytes) / 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return qvhost::tool_main(argc, argv, kTool, kUsage, 1, [&](const std::string&) {
        Command c = parse(argc, argv);
        return run(c);
    });
}
