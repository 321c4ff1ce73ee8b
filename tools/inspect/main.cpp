// qvres-inspect: the model, the result directory, the values of one
// variable, the histories of nodes, elements and points and the envelope of
// a variable over the steps, read through the results library's C interface.
#include <algorithm>
#include <functional>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/csv_text.h"
#include "host/output_file.h"
#include "host/results_library.h"
#include "host/variables.h"
#include "inspect/svg_plot.h"

namespace {

using qvhost::Analysis;
using qvhost::CycleReader;
using qvhost::Error;
using qvhost::ResultsLibrary;
using qvhost::Variable;

constexpr const char* kTool = "qvres-inspect";

constexpr const char* kUsage =
    "usage: qvres-inspect [--library PATH] [--clear-stale-lock] COMMAND ...\n"
    "       qvres-inspect --version\n"
    "\n"
    "  summary FILE                      parts, totals, materials, units, element kinds, cycles\n"
    "  nodes FILE [STEP] [--csv OUT]     node coordinates; with STEP also displacements\n"
    "  vars FILE STEP                    the result directory of step STEP, with units\n"
    "  values FILE STEP VAR [--part P] [--element] [--csv OUT]\n"
    "                                    min, max and mean of a variable; every value as CSV\n"
    "  history FILE VAR (--node N | --element E | --at X,Y,Z)... [--part P]\n"
    "          [--keep-going] [--threads T] [--csv OUT] [--svg OUT]\n"
    "                                    values of nodes, elements or points at every step\n"
    "  envelope FILE VAR [--min] [--part P] [--element] [--keep-going] [--threads T]\n"
    "          [--csv OUT]               each node's or element's largest (smallest) value\n"
    "                                    over the steps, and the step it came at\n"
    "\n"
    "FILE is any file of the analysis: a cycle file (RUN_CYCLE.qvres), the base\n"
    "file (RUN.qvres_base or RUN_base.qvres) or the directory of its one base file.\n"
    "Cycle files of the run that cannot be read are named in warnings. STEP counts\n"
    "from 0 in time order. VAR is a variable index or a name: as 'vars' shows it,\n"
    "the catalogue name or the identifier, either case, '.', '_' and blanks alike; P\n"
    "is the part number the array is stored for (default 1); --element picks element\n"
    "arrays where a node array has the same index. Nodes are numbered 1.. in model\n"
    "node order (every structured part's I x J x K nodes, K fastest, then the\n"
    "unstructured nodes); elements 1.. in element order (every structured part's\n"
    "elements, then the unstructured elements). Values are in SI units, named in\n"
    "the output. OUT '-' is standard output (the CSV or SVG alone is written there).\n"
    "history takes any number of --node, --element and --at (a point X,Y,Z in metres,\n"
    "initial configuration: the element holding it, or its nearest node for a node\n"
    "variable), a column and a curve each. history and envelope read each step's\n"
    "array once on T threads (default: one per core) and stop at a cycle file that\n"
    "cannot be read; with --keep-going they warn and leave that step out. VAR is\n"
    "looked up in the first step that stores it; envelope warns about the steps\n"
    "that do not.\n"
    "The library is libqvres.so.2 beside the tool or in the build tree, or the one\n"
    "named by --library or the QVRES_LIBRARY environment variable.\n"
    "--clear-stale-lock removes a reader's lock that a killed reader left on this\n"
    "host (never a solver's lock) and reads the run.\n";

using qvhost::UsageError;

// ---- Arguments ---------------------------------------------------------------

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--part" -> "2" (the last given); flags -> ""
    std::vector<std::pair<std::string, std::string>> given;  // every valued option, in order
    bool has(const std::string& o) const { return options.count(o) != 0; }
    std::string get(const std::string& o) const {
        const auto it = options.find(o);
        return it == options.end() ? std::string() : it->second;
    }
};

// `valued` options take the next argument, `flags` take none. A lone "-" is
// a positional argument (standard output where a file is named).
Args parse(const std::vector<std::string>& argv, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    Args a;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& s = argv[i];
        if (s.size() > 1 && s[0] == '-' && !(std::isdigit(static_cast<unsigned char>(s[1])))) {
            if (valued.count(s)) {
                if (i + 1 >= argv.size()) throw UsageError(s + " needs a value");
                a.options[s] = argv[++i];
                a.given.emplace_back(s, argv[i]);
            } else if (flags.count(s)) {
                a.options[s] = "";
            } else {
                throw UsageError("unknown option " + s);
            }
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

std::int32_t to_int(const std::string& s, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        throw UsageError(what + " must be a whole number, not '" + s + "'");
    return static_cast<std::int32_t>(v);
}

void expect_positional(const Args& a, std::size_t n, const char* form) {
    if (a.positional.size() != n) throw UsageError(std::string("usage: ") + kTool + " " + form);
}

// ---- Output helpers --------------------------------------------------------------

std::string fmt(double v, const char* f = "%.6g") {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// " Pa" for a unit, nothing for none.
std::string with_unit(const std::string& unit) { return unit.empty() ? std::string() : " " + unit; }
// "value (Pa)", or "value" for none.
std::string labelled(const std::string& label, const std::string& unit) {
    return unit.empty() ? label : label + " (" + unit + ")";
}

// Where the person-readable report goes: standard output, unless a CSV or
// SVG file is written there, when the report is left out (nullptr).
std::FILE* report_stream(const Args& a) {
    if (a.get("--csv") == "-" && a.get("--svg") == "-")
        throw UsageError("--csv - and --svg - cannot both write standard output");
    return a.get("--csv") == "-" || a.get("--svg") == "-" ? nullptr : stdout;
}

// fprintf to the report stream, nothing when there is none.
#if defined(__MINGW32__)
// The MinGW runtime's printf, which knows %zu (see cmake/windows.cmake).
__attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void say(std::FILE* report, const char* format, ...) {
    if (!report) return;
    va_list args;
    va_start(args, format);
    qvhost::vprint(report, format, args);
    va_end(args);
}

const char* kind_name(std::int32_t kind) {
    switch (kind) {
    case qvhost::kNodeInt: return "node integer";
    case qvhost::kNodeReal: return "node real";
    case qvhost::kElementInt: return "element integer";
    case qvhost::kElementReal: return "element real";
    default: return "other";
    }
}

std::string describe(const Variable& v) {
    std::ostringstream os;
    os << v.name << " (" << kind_name(v.kind) << ", variable " << v.index << ", part " << v.qualifier << ")";
    return os.str();
}

// Opens the analysis and names, in warnings, the cycle files of the run the
// library could not register.
std::unique_ptr<Analysis> open_analysis(const ResultsLibrary& lib, const std::string& file) {
    auto analysis = std::make_unique<Analysis>(lib, file);
    for (const qvhost::SkippedFile& s : analysis->skipped()) qvhost::report_warning(kTool, "not read: " + s.reason);
    return analysis;
}

// ---- Variables ---------------------------------------------------------------------

using qvhost::find_variable;
using qvhost::is_number;
using qvhost::Want;

const Variable& require_variable(const ResultsLibrary& lib, const std::vector<Variable>& dir, const std::string& var,
                                 std::int32_t part, Want want, const std::string& where) {
    if (const Variable* v = find_variable(lib, dir, var, part, want)) return *v;
    std::string what = is_number(var) ? "variable " + var : "variable '" + var + "'";
    if (want == Want::Element) what = "element " + what;
    if (want == Want::Node) what = "node " + what;
    if (const Variable* other = find_variable(lib, dir, var, 0, want))
        throw Error(what + " is not stored for part " + std::to_string(part) + " in " + where +
                    " (it is for part " + std::to_string(std::abs(other->qualifier)) + ": use --part)");
    throw Error(what + " is not stored in " + where + " (see: " + kTool + " vars FILE STEP)");
}

// Every value of one entry as doubles, in node or element order; for the
// multi-material element variables, the per-material values as well.
struct Column {
    std::vector<double> values;
    std::vector<std::int32_t> materials;
    std::vector<float> material_values;
};

Column read_column(CycleReader& reader, const Variable& v) {
    Column c;
    const std::int32_t part = std::abs(v.qualifier);
    switch (v.kind) {
    case qvhost::kNodeReal:
        for (float x : reader.node_reals(v.index, part)) c.values.push_back(x);
        break;
    case qvhost::kNodeInt:
        for (std::int32_t x : reader.node_ints(v.index, part)) c.values.push_back(x);
        break;
    case qvhost::kElementReal: {
        qvhost::ElementReals r = reader.element_reals(v.index, part);
        for (float x : r.values) c.values.push_back(x);
        c.materials = std::move(r.materials);
        c.material_values = std::move(r.material_values);
        break;
    }
    case qvhost::kElementInt:
        for (std::int32_t x : reader.element_ints(v.index, part)) c.values.push_back(x);
        break;
    default: break;
    }
    return c;
}

// Names of the element kinds of the unstructured elements (the library's
// cells), in the order beam, tetrahedron, hexahedron, pyramid, wedge,
// triangular and quadrilateral shell; then "unknown" for elements of no kind.
std::vector<std::string> element_kinds(const Analysis& analysis) {
    std::set<std::int32_t> present;
    for (const qvres_cell& c : analysis.cells()) present.insert(c.kind);
    const std::pair<std::int32_t, const char*> names[] = {
        {QVRES_CELL_BEAM, "beam"},       {QVRES_CELL_TETRAHEDRON, "tetrahedron"},
        {QVRES_CELL_HEXAHEDRON, "hexahedron"}, {QVRES_CELL_PYRAMID, "pyramid"},
        {QVRES_CELL_WEDGE, "wedge"},     {QVRES_CELL_TRIANGLE, "triangular shell"},
        {QVRES_CELL_QUADRILATERAL, "quadrilateral shell"}};
    std::vector<std::string> out;
    for (const auto& [kind, name] : names)
        if (present.erase(kind)) out.emplace_back(name);
    if (!present.empty()) out.emplace_back("unknown");
    return out;
}

// ---- Commands -------------------------------------------------------------------------

int summary(const ResultsLibrary& lib, const Args& a) {
    expect_positional(a, 1, "summary FILE");
    const auto analysis = open_analysis(lib, a.positional[0]);
    const qvhost::Model& m = analysis->model();
    const std::vector<qvhost::Part> parts = analysis->parts();
    const qvhost::UnitSystem u = analysis->unit_system();
    const std::vector<qvhost::Step>& steps = analysis->steps();

    qvhost::print(stdout, "analysis       %s\n", qvhost::terminal_text(analysis->files().stem).c_str());
    qvhost::print(stdout, "base file      %s (file version %d)\n",
                  qvhost::terminal_text(analysis->files().base_file).c_str(), m.file_version);
    if (u.decimal)
        qvhost::print(stdout, "units          length x %s m, mass x %s kg, time x %s s (unit codes %d, %d, %d)\n",
                              fmt(std::pow(10.0, u.length_exponent), "%g").c_str(),
                              fmt(std::pow(10.0, u.mass_exponent), "%g").c_str(),
                              fmt(std::pow(10.0, u.time_exponent), "%g").c_str(), u.length, u.mass, u.time);
    else
        qvhost::print(stdout, "units          unit codes %d, %d, %d (not a decimal system)\n", u.length, u.mass, u.time);

    qvhost::print(stdout, "\nparts          %zu (%d structured, %d unstructured)\n", parts.size(), m.structured_parts(),
                          m.unstructured_parts);
    qvhost::print(stdout, "  %4s  %-12s  %-15s %9s %9s  %s\n", "part", "kind", "extents", "elements", "nodes", "name");
    for (const qvhost::Part& p : parts) {
        const std::string extents = p.structured ? std::to_string(p.i) + " x " + std::to_string(p.j) + " x " +
                                                       std::to_string(p.k)
                                                 : "-";
        qvhost::print(stdout, "  %4d  %-12s  %-15s %9lld %9lld  %s\n", p.number, p.structured ? "structured" : "unstructured",
                              extents.c_str(), static_cast<long long>(p.elements), static_cast<long long>(p.nodes),
                              qvhost::terminal_text(p.name).c_str());
    }
    qvhost::print(stdout, "totals         %lld nodes (%lld structured, %lld unstructured), %lld elements "
                          "(%lld structured, %lld unstructured)\n",
                          static_cast<long long>(m.nodes()), static_cast<long long>(m.slots),
                          static_cast<long long>(m.unstructured_nodes), static_cast<long long>(m.elements()),
                          static_cast<long long>(m.structured_elements), static_cast<long long>(m.unstructured_elements));

    std::string kinds;
    for (const std::string& k : element_kinds(*analysis)) kinds += (kinds.empty() ? "" : ", ") + k;
    qvhost::print(stdout, "element kinds  %s\n", kinds.empty() ? "none (structured parts only)" : kinds.c_str());

    const std::vector<qvhost::Material>& mats = analysis->materials();
    qvhost::print(stdout, "\nmaterials      %zu\n", mats.size());
    for (const qvhost::Material& mat : mats) {
        qvhost::print(stdout, "  %4d  %-20s ", mat.number, qvhost::terminal_text(mat.name).c_str());
        if (mat.euler_id >= 0)
            qvhost::print(stdout, "Euler id %d%s%s\n", mat.euler_id, mat.body.empty() ? "" : ", body ",
                          qvhost::terminal_text(mat.body).c_str());
        else
            qvhost::print(stdout, "no Euler material fraction\n");
    }

    qvhost::print(stdout, "\ncycles         %zu", steps.size());
    if (!analysis->skipped().empty())
        qvhost::print(stdout, " (%zu cycle file%s not read: see the warnings)", analysis->skipped().size(),
                              analysis->skipped().size() == 1 ? "" : "s");
    qvhost::print(stdout, "\n");
    if (!steps.empty()) qvhost::print(stdout, "  %4s  %9s  %s\n", "step", "cycle", "time (s)");
    for (const qvhost::Step& s : steps) qvhost::print(stdout, "  %4d  %9d  %s\n", s.index, s.cycle, fmt(s.time, "%.6e").c_str());
    return 0;
}

int nodes(const ResultsLibrary& lib, const Args& a) {
    if (a.positional.size() != 1 && a.positional.size() != 2)
        throw UsageError(std::string("usage: ") + kTool + " nodes FILE [STEP] [--csv OUT]");
    std::FILE* report = report_stream(a);
    const bool with_step = a.positional.size() == 2;
    const std::int32_t step = with_step ? to_int(a.positional[1], "STEP") : 0;
    const auto analysis = open_analysis(lib, a.positional[0]);
    const qvhost::Model& m = analysis->model();
    const std::vector<float> xyz = analysis->coordinates();
    std::vector<float> d;
    if (with_step) {
        CycleReader reader(*analysis, step);
        if (!reader.displacements(d)) throw Error(analysis->describe_step(step) + " stores no displacements");
    }
    say(report, "%lld nodes (%lld structured, %lld unstructured)\n", static_cast<long long>(m.nodes()),
                 static_cast<long long>(m.slots), static_cast<long long>(m.unstructured_nodes));
    const std::size_t n = xyz.size() / 3;
    for (int c = 0; c < 3 && n > 0; ++c) {
        float lo = xyz[c], hi = xyz[c];
        for (std::size_t i = 0; i < n; ++i) lo = std::min(lo, xyz[3 * i + c]), hi = std::max(hi, xyz[3 * i + c]);
        say(report, "%c  %s .. %s m\n", "xyz"[c], fmt(lo).c_str(), fmt(hi).c_str());
    }
    if (with_step) {
        double peak = 0.0;
        std::size_t at = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double mag = std::sqrt(double(d[3 * i]) * d[3 * i] + double(d[3 * i + 1]) * d[3 * i + 1] +
                                         double(d[3 * i + 2]) * d[3 * i + 2]);
            if (mag > peak) peak = mag, at = i + 1;
        }
        say(report, "%s: largest displacement %s m", analysis->describe_step(step).c_str(), fmt(peak).c_str());
        if (at > 0) say(report, " at node %zu", at);
        say(report, "\n");
    }
    if (a.has("--csv")) {
        qvhost::OutputFile out(a.get("--csv"), true);
        std::fprintf(out.get(), with_step ? "node,x (m),y (m),z (m),dx (m),dy (m),dz (m)\n" : "node,x (m),y (m),z (m)\n");
        for (std::size_t i = 0; i < n; ++i) {
            std::fprintf(out.get(), "%zu,%.9g,%.9g,%.9g", i + 1, xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
            if (with_step) std::fprintf(out.get(), ",%.9g,%.9g,%.9g", d[3 * i], d[3 * i + 1], d[3 * i + 2]);
            std::fputc('\n', out.get());
        }
        out.commit();
    }
    return 0;
}

int vars(const ResultsLibrary& lib, const Args& a) {
    expect_positional(a, 2, "vars FILE STEP");
    const std::int32_t step = to_int(a.positional[1], "STEP");
    const auto analysis = open_analysis(lib, a.positional[0]);
    const CycleReader reader(*analysis, step);
    const std::vector<Variable>& dir = reader.variables();
    qvhost::print(stdout, "%s: %zu result arrays\n", analysis->describe_step(step).c_str(), dir.size());
    qvhost::print(stdout, "  %-16s %5s %6s  %-24s %s\n", "kind", "part", "index", "name", "unit");
    for (const Variable& v : dir) {
        const std::string unit = unit_of(lib, v);
        qvhost::print(stdout, "  %-16s %5d %6d  %-24s %s\n", kind_name(v.kind), v.qualifier, v.index,
                      qvhost::terminal_text(v.name).c_str(), unit.empty() ? "-" : qvhost::terminal_text(unit).c_str());
    }
    return 0;
}

int values(const ResultsLibrary& lib, const Args& a) {
    expect_positional(a, 3, "values FILE STEP VAR [--part P] [--element] [--csv OUT]");
    std::FILE* report = report_stream(a);
    const std::int32_t step = to_int(a.positional[1], "STEP");
    const std::int32_t part = a.has("--part") ? to_int(a.get("--part"), "--part") : 1;
    const auto analysis = open_analysis(lib, a.positional[0]);
    analysis->require_part(part);
    CycleReader reader(*analysis, step);
    const Variable v = require_variable(lib, reader.variables(), a.positional[2], part,
                                        a.has("--element") ? Want::Element : Want::Any, analysis->describe_step(step));
    const Column c = read_column(reader, v);
    const std::string unit = unit_of(lib, v);

    double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum = 0.0;
    std::size_t n = 0;
    for (double x : c.values)
        if (std::isfinite(x)) {
            lo = std::min(lo, x), hi = std::max(hi, x), sum += x, ++n;
        }
    say(report, "%s, %s\n", qvhost::terminal_text(describe(v)).c_str(), analysis->describe_step(step).c_str());
    say(report, "%-6s %zu %s\n", "count", c.values.size(), v.node() ? "nodes" : "elements");
    if (n > 0) {
        const std::string u = qvhost::terminal_text(with_unit(unit));
        say(report, "%-6s %s%s\n%-6s %s%s\n%-6s %s%s\n", "min",
            fmt(lo, v.integer() ? "%.10g" : "%.6g").c_str(), u.c_str(), "max",
            fmt(hi, v.integer() ? "%.10g" : "%.6g").c_str(), u.c_str(), "mean", fmt(sum / n).c_str(), u.c_str());
    } else {
        say(report, "no finite values\n");
    }

    if (a.has("--csv")) {
        qvhost::OutputFile out(a.get("--csv"), true);
        std::FILE* f = out.get();
        std::fprintf(f, "%s,%s", v.node() ? "node" : "element", labelled("value", unit).c_str());
        for (std::int32_t m : c.materials)
            std::fprintf(f, ",%s", qvhost::csv_field(labelled(analysis->materials()[m - 1].name, unit)).c_str());
        std::fputc('\n', f);
        const std::size_t per = c.materials.size();
        const std::size_t with_materials = per ? c.material_values.size() / per : 0;
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            std::fprintf(f, "%zu,%s", i + 1, fmt(c.values[i], v.integer() ? "%.0f" : "%.9g").c_str());
            for (std::size_t k = 0; k < per; ++k)
                if (i < with_materials)
                    std::fprintf(f, ",%.9g", c.material_values[i * per + k]);
                else
                    std::fputc(',', f);
            std::fputc('\n', f);
        }
        out.commit();
    }
    return 0;
}

// Where each element's own value stands among what the all-slot request of
// `v` writes, as the library lays out step `step`.
std::vector<std::int64_t> element_positions(const Analysis& analysis, std::int64_t step, const Variable& v) {
    const CycleReader reader(analysis, static_cast<std::int32_t>(step));
    const std::int32_t part = std::abs(v.qualifier);
    const qvres_values each = v.integer() ? QVRES_ELEMENT_INTEGERS : QVRES_ELEMENT_REALS;
    const qvres_values every = v.integer() ? QVRES_ELEMENT_INTEGERS_ALL_SLOTS : QVRES_ELEMENT_REALS_ALL_SLOTS;
    return qvhost::element_positions(reader.layout({each, v.index, part}, "element values"),
                                     reader.layout({every, v.index, part}, "slot values"));
}

// --threads as the other tools take it (at most 4096); 0, one per core,
// when not given.
std::int32_t thread_count(const Args& a) {
    return a.has("--threads") ? static_cast<std::int32_t>(qvhost::thread_count(a.get("--threads"))) : 0;
}

// Calls `read` for the steps of `series` in runs (setting its first and
// last), so that a bar shows progress between library calls: about twenty
// runs, each at least a few steps per thread.
void read_in_runs(qvhost::Series& series, std::int64_t steps, const std::function<void()>& read) {
    const std::int64_t run =
        std::max<std::int64_t>({1, 4 * std::max(series.threads, 2), (steps + 19) / 20});
    qvhost::Progress progress("reading steps", static_cast<std::size_t>(steps));
    for (std::int64_t first = 0; first < steps; first += run) {
        progress.update(static_cast<std::size_t>(first));
        series.first = first;
        series.last = std::min(steps, first + run) - 1;
        read();
    }
    progress.update(static_cast<std::size_t>(steps));
}

// Warns about steps whose file could not be read (--keep-going) and, when
// `variable` is given, the steps that do not store it.
void warn_gaps(const Analysis& analysis, const std::vector<qvhost::SeriesGap>& gaps,
               const std::string& variable = {}) {
    for (const std::string& w : qvhost::gap_warnings(analysis, gaps, variable)) qvhost::report_warning(kTool, w);
}

// One column of a history: what it shows and the value index it reads.
struct Position {
    std::string label;  // "element 283", "node 5", "(0.1, 0.2, 0.3)"
    std::int64_t index = 0;
};

// Exactly three finite coordinates: anything after the third is an error.
std::vector<double> parse_point(const std::string& text) {
    const auto wrong = [&] { return UsageError("--at takes a point X,Y,Z in metres, not '" + text + "'"); };
    std::vector<double> xyz;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = text.find(',', at);
        const std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        double v = 0;
        if (!qvhost::finite_number(part, v) || xyz.size() == 3) throw wrong();
        xyz.push_back(v);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    if (xyz.size() != 3) throw wrong();
    return xyz;
}

int history(const ResultsLibrary& lib, const Args& a) {
    expect_positional(a, 2,
                      "history FILE VAR (--node N | --element E | --at X,Y,Z)... [--part P] [--keep-going] "
                      "[--threads T] [--csv OUT] [--svg OUT]");
    std::vector<std::pair<std::string, std::string>> asked;
    for (const auto& g : a.given)
        if (g.first == "--node" || g.first == "--element" || g.first == "--at") asked.push_back(g);
    if (asked.empty()) throw UsageError("history needs one or more of --node N, --element E and --at X,Y,Z");
    if (a.has("--node") && a.has("--element"))
        throw UsageError("history takes nodes or elements, not both: a variable is one or the other");
    std::FILE* report = report_stream(a);
    const std::int32_t threads = thread_count(a);
    std::vector<std::int32_t> numbers;
    std::vector<std::vector<double>> points;
    for (const auto& [option, value] : asked) {
        if (option == "--at")
            points.push_back(parse_point(value));
        else
            numbers.push_back(to_int(value, option));
    }
    const std::int32_t part = a.has("--part") ? to_int(a.get("--part"), "--part") : 1;
    const std::string& var = a.positional[1];
    const auto analysis = open_analysis(lib, a.positional[0]);
    analysis->require_part(part);
    const std::vector<qvhost::Step>& steps = analysis->steps();
    if (steps.empty()) throw Error("the analysis has no steps");
    const qvhost::Model& m = analysis->model();
    const Want want = a.has("--node") ? Want::Node : a.has("--element") ? Want::Element : Want::Any;
    for (const auto& [option, value] : asked) {
        if (option == "--at") continue;
        const bool node = option == "--node";
        const std::int32_t number = to_int(value, option);
        const std::int64_t limit = node ? m.nodes() : m.elements();
        const char* noun = node ? "node" : "element";
        if (number < 1 || number > limit)
            throw Error(std::string(noun) + " " + std::to_string(number) + " does not exist (the model has " +
                        std::to_string(limit) + " " + noun + "s: 1.." + std::to_string(limit) + ")");
    }

    Variable v;
    const std::int64_t listed = qvhost::first_listing(*analysis, var, part, want, a.has("--keep-going"), v);
    if (listed < 0) {
        const char* noun = want == Want::Node ? "node " : want == Want::Element ? "element " : "";
        throw Error(std::string(noun) + "variable " + (is_number(var) ? var : "'" + var + "'") +
                    " is not stored for part " + std::to_string(part) + " in any step (see: " + kTool +
                    " vars FILE STEP)");
    }
    const bool node = v.node();
    const char* noun = node ? "node" : "element";
    // Points: the element holding each, or the nearest node.
    std::vector<qvres_gauge> gauges;
    if (!points.empty()) {
        std::vector<double> xyz;
        for (const auto& p : points) xyz.insert(xyz.end(), p.begin(), p.end());
        gauges = analysis->locate(xyz, node ? QVRES_GAUGE_NODES : QVRES_GAUGE_ELEMENTS);
    }
    std::vector<Position> positions;
    std::size_t point = 0;
    std::vector<std::int64_t> element_at;
    if (!node && !numbers.empty()) element_at = element_positions(*analysis, listed, v);
    for (const auto& [option, value] : asked) {
        Position p;
        if (option == "--at") {
            const std::vector<double>& x = points[point];
            const qvres_gauge& g = gauges[point++];
            p.label = "(" + fmt(x[0]) + ", " + fmt(x[1]) + ", " + fmt(x[2]) + ")";
            p.index = node ? g.node : g.slot;
        } else {
            const std::int64_t number = to_int(value, option);
            p.label = std::string(noun) + " " + std::to_string(number);
            if (!node && number > static_cast<std::int64_t>(element_at.size()))
                throw Error(analysis->describe_step(listed) + ": the layout of " + describe(v) + " holds " +
                                std::to_string(element_at.size()) + " elements, not element " + std::to_string(number),
                            QVRES_E_DAMAGED);
            p.index = node ? number - 1 : element_at[static_cast<std::size_t>(number - 1)];
        }
        positions.push_back(p);
    }

    qvhost::Series series;
    // Elements by their slots: every slot as stored, whatever parts a step
    // gives values for; a multi-material variable gives the element's own.
    series.request.values = node ? (v.integer() ? QVRES_NODE_INTEGERS : QVRES_NODE_REALS)
                                 : (v.integer() ? QVRES_ELEMENT_INTEGERS_ALL_SLOTS : QVRES_ELEMENT_REALS_ALL_SLOTS);
    series.request.variable = v.index;
    series.request.part = std::abs(v.qualifier);
    for (const Position& p : positions) series.positions.push_back(p.index);
    series.threads = threads;
    series.skip_failed_steps = a.has("--keep-going");
    const std::int64_t n = static_cast<std::int64_t>(steps.size());
    const std::size_t columns = positions.size();
    std::vector<double> values;
    std::vector<qvhost::SeriesGap> gaps;
    read_in_runs(series, n, [&] {
        const std::vector<double> part_values = analysis->history(series, gaps);
        values.insert(values.end(), part_values.begin(), part_values.end());
    });
    warn_gaps(*analysis, gaps);
    const std::string title = describe(v), unit = unit_of(lib, v);
    const auto at = [&](std::size_t k, std::size_t c) { return values[k * columns + c]; };
    // Integers in full (ten digits hold any of them), reals as elsewhere.
    const char* shown = v.integer() ? "%.10g" : "%.6g";
    const char* written = v.integer() ? "%.10g" : "%.9g";

    if (columns == 1) {
        say(report, "# %s at %s\n", qvhost::terminal_text(title).c_str(), positions[0].label.c_str());
        say(report, "%4s  %9s  %14s  %s\n", "step", "cycle", "time (s)",
            qvhost::terminal_text(labelled("value", unit)).c_str());
    } else {
        say(report, "# %s\n", qvhost::terminal_text(title).c_str());
        for (std::size_t c = 0; c < columns; ++c)
            say(report, "# column %zu: %s\n", c + 1, positions[c].label.c_str());
        say(report, "%4s  %9s  %14s", "step", "cycle", "time (s)");
        for (std::size_t c = 0; c < columns; ++c) say(report, "  %14s", ("value " + std::to_string(c + 1)).c_str());
        say(report, "%s\n", unit.empty() ? "" : qvhost::terminal_text("  (" + unit + ")").c_str());
    }
    for (std::size_t k = 0; k < steps.size(); ++k) {
        say(report, "%4d  %9d  %14s", steps[k].index, steps[k].cycle, fmt(steps[k].time, "%.6e").c_str());
        for (std::size_t c = 0; c < columns; ++c) {
            const std::string text = std::isnan(at(k, c)) ? "-" : fmt(at(k, c), shown);
            if (columns == 1)
                say(report, "  %s", text.c_str());
            else
                say(report, "  %14s", text.c_str());
        }
        say(report, "\n");
    }

    if (a.has("--csv")) {
        qvhost::OutputFile out(a.get("--csv"), true);
        std::fprintf(out.get(), "step,cycle,time (s)");
        const std::string name = title.substr(0, title.find(" ("));
        for (const Position& p : positions)
            std::fprintf(out.get(), ",%s",
                         qvhost::csv_field(columns == 1 ? labelled("value", unit)
                                                        : labelled(name + " at " + p.label, unit))
                             .c_str());
        std::fputc('\n', out.get());
        for (std::size_t k = 0; k < steps.size(); ++k) {
            std::fprintf(out.get(), "%d,%d,%.9g", steps[k].index, steps[k].cycle, steps[k].time);
            for (std::size_t c = 0; c < columns; ++c)
                std::fprintf(out.get(), ",%s", std::isnan(at(k, c)) ? "" : fmt(at(k, c), written).c_str());
            std::fputc('\n', out.get());
        }
        out.commit();
    }
    if (a.has("--svg")) {
        const std::string name = title.substr(0, title.find(" ("));
        qvinspect::Plot plot;
        plot.title = name + (columns == 1 ? " at " + positions[0].label : "") + " (part " +
                     std::to_string(std::abs(v.qualifier)) + ")";
        plot.x_label = "time (s)";
        plot.y_label = labelled(name, unit);
        for (const qvhost::Step& s : steps) plot.x.push_back(s.time);
        for (std::size_t c = 0; c < columns; ++c) {
            qvinspect::Curve curve{positions[c].label, {}};
            for (std::size_t k = 0; k < steps.size(); ++k) curve.y.push_back(at(k, c));
            plot.curves.push_back(std::move(curve));
        }
        qvhost::OutputFile out(a.get("--svg"), true);
        std::fputs(qvinspect::svg_line_plot(plot).c_str(), out.get());
        out.commit();
    }
    return 0;
}

int envelope(const ResultsLibrary& lib, const Args& a) {
    expect_positional(a, 2,
                      "envelope FILE VAR [--min] [--part P] [--element] [--keep-going] [--threads T] [--csv OUT]");
    std::FILE* report = a.get("--csv") == "-" ? nullptr : stdout;
    const std::int32_t threads = thread_count(a);
    const std::int32_t part = a.has("--part") ? to_int(a.get("--part"), "--part") : 1;
    const bool minimum = a.has("--min");
    const std::string& var = a.positional[1];
    const auto analysis = open_analysis(lib, a.positional[0]);
    analysis->require_part(part);
    const std::vector<qvhost::Step>& steps = analysis->steps();
    if (steps.empty()) throw Error("the analysis has no steps");
    const qvhost::Model& m = analysis->model();
    Variable v;
    const Want want = a.has("--element") ? Want::Element : Want::Any;
    const std::int64_t listed = qvhost::first_listing(*analysis, var, part, want, a.has("--keep-going"), v);
    if (listed < 0)
        throw Error(std::string(want == Want::Element ? "element " : "") + "variable " +
                    (is_number(var) ? var : "'" + var + "'") + " is not stored for part " + std::to_string(part) +
                    " in any step (see: " + kTool + " vars FILE STEP)");
    const bool node = v.node();
    qvhost::Series series;
    series.request.values = node ? (v.integer() ? QVRES_NODE_INTEGERS : QVRES_NODE_REALS)
                                 : (v.integer() ? QVRES_ELEMENT_INTEGERS_ALL_SLOTS : QVRES_ELEMENT_REALS_ALL_SLOTS);
    series.request.variable = v.index;
    series.request.part = std::abs(v.qualifier);
    series.threads = threads;
    series.skip_failed_steps = a.has("--keep-going");
    const std::int64_t n = static_cast<std::int64_t>(steps.size());
    qvhost::Extremes e;
    std::vector<qvhost::SeriesGap> gaps;
    read_in_runs(series, n, [&] {
        qvhost::Extremes next = analysis->envelope(series, minimum ? QVRES_MINIMUM : QVRES_MAXIMUM, gaps);
        if (e.values.empty()) {
            e = std::move(next);
            return;
        }
        if (next.values.size() != e.values.size())
            throw Error(analysis->describe_step(series.first) + ": " + std::to_string(next.values.size()) +
                        " values where earlier steps have " + std::to_string(e.values.size()));
        // Runs come in step order: a later one wins only when further out.
        for (std::size_t i = 0; i < e.values.size(); ++i) {
            const double x = next.values[i], kept = e.values[i];
            if (next.steps[i] >= 0 && (e.steps[i] < 0 || (minimum ? x < kept : x > kept)))
                e.values[i] = x, e.steps[i] = next.steps[i];
        }
    });
    warn_gaps(*analysis, gaps, describe(v));
    // One row per node, or per element (slots that are no element left out).
    std::vector<std::int64_t> rows;
    const std::int64_t count = node ? m.nodes() : m.elements();
    const std::vector<std::int64_t> element_at =
        node ? std::vector<std::int64_t>() : element_positions(*analysis, listed, v);
    for (std::int64_t r = 0; r < count; ++r) {
        if (!node && r >= static_cast<std::int64_t>(element_at.size()))
            throw Error(analysis->describe_step(listed) + ": the layout of " + describe(v) + " holds " +
                            std::to_string(element_at.size()) + " elements where the model has " +
                            std::to_string(count),
                        QVRES_E_DAMAGED);
        const std::int64_t index = node ? r : element_at[static_cast<std::size_t>(r)];
        if (index >= static_cast<std::int64_t>(e.values.size()))
            throw Error(analysis->files().path + ": " + std::to_string(e.values.size()) + " values of " + describe(v) +
                        " where the model has " + std::to_string(count) + " " + (node ? "nodes" : "elements"));
        rows.push_back(index);
    }
    const std::string unit = unit_of(lib, v);
    const char* noun = node ? "node" : "element";
    // Integers in full (ten digits hold any of them), reals as elsewhere.
    const char* number = e.integers ? "%.10g" : "%.6g";
    std::int64_t best = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::size_t i = static_cast<std::size_t>(rows[r]);
        if (e.steps[i] < 0) continue;
        const std::size_t b = best < 0 ? 0 : static_cast<std::size_t>(rows[static_cast<std::size_t>(best)]);
        if (best < 0 || (minimum ? e.values[i] < e.values[b] : e.values[i] > e.values[b]))
            best = static_cast<std::int64_t>(r);
    }
    say(report, "# %s of %s over %zu steps\n", minimum ? "minimum" : "maximum",
        qvhost::terminal_text(describe(v)).c_str(), steps.size());
    say(report, "%-8s %zu %ss\n", "count", rows.size(), noun);
    if (best >= 0) {
        const std::size_t i = static_cast<std::size_t>(rows[static_cast<std::size_t>(best)]);
        say(report, "%-8s %s%s at %s %lld, %s\n", minimum ? "lowest" : "highest", fmt(e.values[i], number).c_str(),
            qvhost::terminal_text(with_unit(unit)).c_str(), noun, static_cast<long long>(best + 1),
            analysis->describe_step(e.steps[i]).c_str());
    } else {
        say(report, "no step gave a value\n");
    }
    if (a.has("--csv")) {
        qvhost::OutputFile out(a.get("--csv"), true);
        std::fprintf(out.get(), "%s,%s,step,cycle,time (s)\n", noun,
                     qvhost::csv_field(labelled(minimum ? "minimum" : "maximum", unit)).c_str());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::size_t i = static_cast<std::size_t>(rows[r]);
            const std::int64_t k = e.steps[i];
            if (k < 0) {
                std::fprintf(out.get(), "%zu,,,,\n", r + 1);
                continue;
            }
            const qvhost::Step& s = steps[static_cast<std::size_t>(k)];
            const char* f = e.integers ? "%.10g" : "%.9g";
            std::fprintf(out.get(), "%zu,%s,%d,%d,%.9g\n", r + 1, fmt(e.values[i], f).c_str(), s.index, s.cycle,
                         s.time);
        }
        out.commit();
    }
    return 0;
}

int run_command(const std::string& library, bool clear_stale_lock, const std::string& command,
                const std::vector<std::string>& rest) {
    Args a;
    if (command == "summary" || command == "vars")
        a = parse(rest, {}, {});
    else if (command == "nodes")
        a = parse(rest, {"--csv"}, {});
    else if (command == "values")
        a = parse(rest, {"--part", "--csv"}, {"--element"});
    else if (command == "history")
        a = parse(rest, {"--part", "--csv", "--svg", "--node", "--element", "--at", "--threads"}, {"--keep-going"});
    else if (command == "envelope")
        a = parse(rest, {"--part", "--csv", "--threads"}, {"--min", "--element", "--keep-going"});
    else
        throw UsageError("unknown command '" + command + "'");
    const ResultsLibrary lib(library, clear_stale_lock);
    if (command == "summary") return summary(lib, a);
    if (command == "vars") return vars(lib, a);
    if (command == "nodes") return nodes(lib, a);
    if (command == "values") return values(lib, a);
    if (command == "envelope") return envelope(lib, a);
    return history(lib, a);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string library;
    for (std::size_t i = 0; i < args.size(); ++i)
        if (args[i] == "--library") {
            if (i + 1 >= args.size()) {
                qvhost::report_error(kTool, "--library needs a value (see qvres-inspect --help)");
                return 2;
            }
            library = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    // Like --library, an option of every command.
    const auto clear = std::find(args.begin(), args.end(), "--clear-stale-lock");
    const bool clear_stale_lock = clear != args.end();
    if (clear_stale_lock) args.erase(clear);
    // --help and --version win wherever they stand, after a command too.
    for (const std::string& s : args) {
        if (s == "--help" || s == "-h") {
            std::fputs(kUsage, stdout);
            return qvhost::flush_stdout(kTool) ? 0 : 1;
        }
        if (s == "--version") {
            std::fputs(qvhost::version_text(kTool, &library).c_str(), stdout);
            return qvhost::flush_stdout(kTool) ? 0 : 1;
        }
    }
    if (args.empty() || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        if (args.empty()) return 2;
        return qvhost::flush_stdout(kTool) ? 0 : 1;
    }
    qvhost::keep_freed_memory();
    qvhost::protect_outputs();
    int status;
    try {
        status = run_command(library, clear_stale_lock, args[0], std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const UsageError& e) {
        qvhost::report_error(kTool, std::string(e.what()) + " (see qvres-inspect --help)");
        return 2;
    } catch (const std::exception& e) {
        qvhost::report_error(kTool, e.what());
        status = 1;
    }
    return qvhost::flush_stdout(kTool) ? status : 1;
}
