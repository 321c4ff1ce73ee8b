// qvres-diff: compares two analyses, model and cycles, within tolerances,
// for regression suites. Exit status 0 when everything agrees, 1 when
// anything differs, 2 when a file cannot be read or the command is wrong.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "diff/compare.h"
#include "host/console.h"
#include "host/csv_text.h"
#include "host/output_file.h"
#include "host/results_library.h"

namespace {

using qvdiff::ArrayResult;
using qvhost::Analysis;
using qvhost::Error;

constexpr const char* kTool = "qvres-diff";

constexpr const char* kUsage =
    "usage: qvres-diff [OPTIONS] A B\n"
    "       qvres-diff --version\n"
    "Compares two analyses: the models (parts, extents, connectivity, materials,\n"
    "coordinates within tolerance), then cycle by cycle every array both store:\n"
    "displacements, node and element variables (multi-material ones also per\n"
    "material, as NAME[MATERIAL]) and material fractions. A and B are each a cycle\n"
    "file, a base file or the directory of one base file. Values are in SI units.\n"
    "\n"
    "Two values a and b agree when they are equal, both NaN, or\n"
    "    |a - b| <= atol + rtol * max(|a|, |b|)\n"
    "NaN against a number, or an infinity against anything but itself, is a\n"
    "difference; integer arrays must be equal unless a tolerance is set for them\n"
    "by name. Exit status: 0 when every value agrees and both analyses have the\n"
    "same model, cycles and arrays; 1 when not; 2 when a file cannot be read\n"
    "(damaged, missing, locked) or the command is wrong.\n"
    "\n"
    "  --rtol R             default relative tolerance (default 1e-6)\n"
    "  --atol A             default absolute tolerance (default 0)\n"
    "  --tol NAME=R,A       the tolerances of one array (repeatable)\n"
    "  --ignore NAME[,...]  arrays not compared (repeatable)\n"
    "  --tolerances FILE    one line per array: NAME REL ABS, or NAME ignore; '#'\n"
    "                       starts a comment; --tol and --ignore win over it\n"
    "  --match time|cycle   pair cycles by time (default) or by cycle number\n"
    "  --time-rtol R        times agree within R relative (default 1e-6)\n"
    "  --csv OUT            one row per array and cycle pair; OUT '-' is standard\n"
    "                       output, which then carries the CSV alone\n"
    "  --threads N          compare N cycle pairs at once (default: one per core)\n"
    "  --clear-stale-lock   remove a reader's lock that a killed reader left on this\n"
    "                       host (never a solver's lock) and read the run\n"
    "  --library PATH       the results library (default: libqvres.so.2 beside the tool,\n"
    "                       in the build tree, or named by QVRES_LIBRARY)\n"
    "\n"
    "NAME is a variable's name (as 'qvres-inspect vars' shows it, its catalogue name\n"
    "or identifier; either case, '.', '_' and blanks alike) or its index (NAME\n"
    "also covers its material columns), NAME[MATERIAL] for one material's column,\n"
    "NAME_partN for an array stored for part N > 1, DISPLACEMENT, COORDINATES,\n"
    "MATERIAL_FRACTION or MATERIAL_FRACTION[MATERIAL].\n";

using qvhost::UsageError;

struct Command {
    std::string library, a, b, csv, tolerance_file;
    qvdiff::Tolerances tolerances;
    qvdiff::Match match = qvdiff::Match::Time;
    double time_rtol = 1e-6;
    unsigned threads = 0;
    bool clear_stale_lock = false;
};

double number(const std::string& text, const char* what) {
    try {
        return qvdiff::parse_tolerance_value(text, what);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
}

Command parse(int argc, char** argv) {
    Command c;
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, qvdiff::Tolerance>> named;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto value = [&]() -> std::string {
            if (a + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++a];
        };
        if (arg == "--library") {
            c.library = value();
        } else if (arg == "--clear-stale-lock") {
            c.clear_stale_lock = true;
        } else if (arg == "--rtol") {
            c.tolerances.defaults.rtol = number(value(), "--rtol");
        } else if (arg == "--atol") {
            c.tolerances.defaults.atol = number(value(), "--atol");
        } else if (arg == "--time-rtol") {
            c.time_rtol = number(value(), "--time-rtol");
        } else if (arg == "--tol") {
            const std::string v = value();
            const std::size_t eq = v.rfind('='), comma = v.rfind(',');
            if (eq == std::string::npos || eq == 0 || comma == std::string::npos || comma < eq)
                throw UsageError("--tol takes NAME=REL,ABS, not '" + v + "'");
            try {
                named.emplace_back(v.substr(0, eq),
                                   qvdiff::parse_tolerance(v.substr(eq + 1, comma - eq - 1), v.substr(comma + 1)));
            } catch (const std::invalid_argument& e) {
                throw UsageError("--tol " + v + ": " + e.what());
            }
        } else if (arg == "--ignore") {
            const std::string v = value();
            std::size_t start = 0;
            bool any = false;
            while (start <= v.size()) {
                const std::size_t comma = std::min(v.find(',', start), v.size());
                if (comma > start) {
                    qvdiff::Tolerance t;
                    t.ignore = true;
                    named.emplace_back(v.substr(start, comma - start), t);
                    any = true;
                }
                start = comma + 1;
            }
            if (!any) throw UsageError("--ignore takes names");
        } else if (arg == "--tolerances") {
            c.tolerance_file = value();
        } else if (arg == "--match") {
            const std::string v = value();
            if (v == "time")
                c.match = qvdiff::Match::Time;
            else if (v == "cycle")
                c.match = qvdiff::Match::Cycle;
            else
                throw UsageError("--match takes time or cycle, not '" + v + "'");
        } else if (arg == "--csv") {
            c.csv = value();
        } else if (arg == "--threads") {
            c.threads = qvhost::thread_count(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) throw UsageError("usage: qvres-diff [OPTIONS] A B");
    c.a = positional[0], c.b = positional[1];
    for (const auto& [name, t] : named) c.tolerances.set(name, t);
    return c;
}

std::string fmt(double v, const char* f = "%.6g") {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

std::string with_unit(double v, const std::string& unit, const char* format = "%.6g") {
    return fmt(v, format) + (unit.empty() ? std::string() : " " + unit);
}

// A value of an array as the summary shows it (`shown`) or the CSV file
// writes it: integers in full (ten digits hold any of them, and any
// difference of two), reals as elsewhere.
const char* value_format(const ArrayResult& r, bool shown) {
    return r.integers ? "%.10g" : shown ? "%.6g" : "%.9g";
}

std::string plural(std::int64_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// "step 5 (cycle 719, t = 5.1e-05 s)" when A and B agree on it, else both.
std::string describe_pair(const Analysis& a, const Analysis& b, const qvdiff::CyclePair& p) {
    if (p.b < 0) return "A " + a.describe_step(p.a);
    if (p.a < 0) return "B " + b.describe_step(p.b);
    const std::string da = a.describe_step(p.a), db = b.describe_step(p.b);
    return da == db ? da : "A " + da + " / B " + db;
}

// What one compared array says, for the summary; empty when nothing to say.
std::string array_line(const ArrayResult& r) {
    switch (r.status) {
    case ArrayResult::Status::OnlyA: return r.name + ": only in A";
    case ArrayResult::Status::OnlyB: return r.name + ": only in B";
    case ArrayResult::Status::Ignored: return "";
    case ArrayResult::Status::Compared: break;
    }
    if (r.beyond == 0) return "";
    const char* noun = r.on == qvdiff::Place::Node ? "node values" : r.on == qvdiff::Place::Element ? "element values" : "values";
    std::string s = r.name + ": " + std::to_string(r.beyond) + " of " + std::to_string(r.compared) + " " + noun +
                    " beyond tolerance; largest difference ";
    if (!std::isinf(r.largest))
        s += with_unit(r.largest, r.unit, value_format(r, true));
    else
        s += std::isnan(r.a) != std::isnan(r.b) ? "NaN against a number" : "an infinity against another value";
    const char* value = value_format(r, false);
    s += " at " + r.place.text() + " (A " + fmt(r.a, value) + ", B " + fmt(r.b, value) + ")";
    return s;
}

// ---- CSV ------------------------------------------------------------------------

class CsvFile {
public:
    explicit CsvFile(const std::string& path) : out_(path, true), f_(out_.get()) {
        std::fputs("step_a,cycle_a,time_a (s),step_b,cycle_b,time_b (s),array,unit,status,compared,differing,beyond,"
                   "largest difference,location,number,part,i,j,k,component,value_a,value_b,rtol,atol,note\n",
                   f_);
    }
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    void row(const Analysis& a, const Analysis& b, const qvdiff::CyclePair* p, const ArrayResult* r,
             const std::string& status, const std::string& note = {}) {
        std::string line;
        const auto step = [&](const Analysis& x, std::int32_t s) {
            if (!p || s < 0) return std::string(",,,");
            const qvhost::Step& st = x.steps()[static_cast<std::size_t>(s)];
            return std::to_string(st.index) + "," + std::to_string(st.cycle) + "," + fmt(st.time, "%.9g") + ",";
        };
        line += step(a, p ? p->a : -1) + step(b, p ? p->b : -1);
        if (r) {
            line += qvhost::csv_field(r->name) + "," + qvhost::csv_field(r->unit) + "," + status + ",";
            const bool compared = r->status == ArrayResult::Status::Compared;
            if (compared) {
                line += std::to_string(r->compared) + "," + std::to_string(r->differing) + "," +
                        std::to_string(r->beyond) + "," + fmt(r->largest, value_format(*r, false)) + ",";
            } else {
                line += ",,,,";
            }
            line += std::string(r->on == qvdiff::Place::Node ? "node" : r->on == qvdiff::Place::Element ? "element" : "") + ",";
            const qvdiff::Place& at = r->place;
            if (compared && at.kind != qvdiff::Place::None) {
                line += std::to_string(at.number) + "," + (at.part > 0 ? std::to_string(at.part) : "") + ",";
                for (std::int64_t x : {at.i, at.j, at.k}) line += (x > 0 ? std::to_string(x) : "") + ",";
                line += (at.component >= 0 ? std::string(1, "xyz"[at.component]) : "") + ",";
                line += fmt(r->a, value_format(*r, false)) + "," + fmt(r->b, value_format(*r, false)) + ",";
            } else {
                line += ",,,,,,,,";
            }
            line += r->status == ArrayResult::Status::Ignored ? std::string(",,")
                                                               : fmt(r->tolerance.rtol, "%.9g") + "," +
                                                                     fmt(r->tolerance.atol, "%.9g") + ",";
        } else {
            line += ",," + status + std::string(16, ',');  // to the note, the last of the header's 25 columns
        }
        line += qvhost::csv_field(note) + "\n";
        std::fputs(line.c_str(), f_);
    }

    // Standard output is checked once, when the tool ends.
    void close() { out_.commit(); }

private:
    qvhost::OutputFile out_;
    std::FILE* f_;
};

std::string status_text(const ArrayResult& r) {
    switch (r.status) {
    case ArrayResult::Status::OnlyA: return "only_a";
    case ArrayResult::Status::OnlyB: return "only_b";
    case ArrayResult::Status::Ignored: return "ignored";
    case ArrayResult::Status::Compared: break;
    }
    return r.beyond > 0 ? "beyond" : r.differing > 0 ? "within" : "equal";
}

// ---- The comparison ---------------------------------------------------------------

// Opens an analysis; a cycle file of the run that could not be registered
// is an error: a comparison that passed it over would miss a damaged file.
std::unique_ptr<Analysis> open_analysis(const qvhost::ResultsLibrary& lib, const std::string& path, const char* which) {
    auto analysis = std::make_unique<Analysis>(lib, path);
    std::int64_t unread = 0;
    for (const qvhost::SkippedFile& s : analysis->skipped()) {
        qvhost::report_warning(kTool, std::string(which) + ": not read: " + s.reason);
        unread += s.link_out() ? 0 : 1;
    }
    if (unread > 0)
        throw Error(std::string(which) + ": " + plural(unread, "cycle file") +
                        " of " + analysis->files().stem + " could not be read (see the warnings)",
                    QVRES_E_DAMAGED);
    return analysis;
}

int run(Command& c) {
    if (!c.tolerance_file.empty()) {
        try {
            c.tolerances.read_file(c.tolerance_file);
        } catch (const std::runtime_error& e) {
            throw UsageError(e.what());
        }
    }
    const qvhost::ResultsLibrary lib(c.library, c.clear_stale_lock);
    c.tolerances.resolve([&lib](bool real, const std::string& name) { return lib.find_variable(real, name); });
    const auto a = open_analysis(lib, c.a, "A");
    const auto b = open_analysis(lib, c.b, "B");
    std::FILE* out = c.csv == "-" ? nullptr : stdout;  // the summary, unless the CSV takes standard output
    // A line without its line end: any control character in it came from a
    // name or a path.
    auto say = [&](const std::string& line) {
        if (out) std::fprintf(out, "%s\n", qvhost::terminal_text(line).c_str());
    };
    std::set<std::string> used;  // tolerance names that gave a tolerance
    const auto note_use = [&](const ArrayResult& r) {
        if (!r.tolerance_name.empty()) used.insert(r.tolerance_name);
    };

    say("A       " + a->files().given + " (" + plural(static_cast<std::int64_t>(a->steps().size()), "cycle") + ")");
    say("B       " + b->files().given + " (" + plural(static_cast<std::int64_t>(b->steps().size()), "cycle") + ")");

    const qvdiff::ModelResult model = qvdiff::compare_models(*a, *b, c.tolerances);
    note_use(model.coordinates);
    const qvhost::Model& m = a->model();
    if (model.same()) {
        say("model   same: " + plural(m.parts(), "part") + ", " + plural(m.nodes(), "node") + ", " +
            plural(m.elements(), "element") + "; coordinates " +
            (model.coordinates.status == ArrayResult::Status::Ignored ? std::string("not compared")
             : model.coordinates.differing == 0 ? std::string("equal")
                                                : "within tolerance (largest difference " +
                                                      with_unit(model.coordinates.largest, "m") + ")"));
    } else {
        say("model   differs:");
        for (const std::string& d : model.differences) say("  " + d);
        if (!model.coordinates.within())
            say("  coordinates: " + std::to_string(model.coordinates.beyond) + " of " +
                std::to_string(model.coordinates.compared) + " beyond tolerance; largest difference " +
                with_unit(model.coordinates.largest, "m") + " at " + model.coordinates.place.text() + " (A " +
                fmt(model.coordinates.a, "%.9g") + ", B " + fmt(model.coordinates.b, "%.9g") + ")");
    }

    std::unique_ptr<CsvFile> csv;
    if (!c.csv.empty()) {
        csv = std::make_unique<CsvFile>(c.csv);
        for (const std::string& d : model.differences) csv->row(*a, *b, nullptr, nullptr, "differs", d);
        if (model.coordinates.status != ArrayResult::Status::Ignored || !model.comparable)
            csv->row(*a, *b, nullptr, &model.coordinates, status_text(model.coordinates));
    }

    bool differs = !model.same();
    std::int64_t alone_a = 0, alone_b = 0, pairs_beyond = 0, arrays_beyond = 0, arrays = 0, values = 0;
    if (!model.comparable) {
        say("cycles  not compared: the models differ in their parts or sizes");
    } else {
        const std::vector<qvdiff::CyclePair> pairs =
            qvdiff::match_cycles(a->steps(), b->steps(), c.match, c.time_rtol);
        std::int64_t matched = 0;
        for (const qvdiff::CyclePair& p : pairs) {
            matched += p.a >= 0 && p.b >= 0;
            alone_a += p.b < 0;
            alone_b += p.a < 0;
        }
        qvhost::Progress progress("comparing cycles", static_cast<std::size_t>(matched));
        const std::vector<qvdiff::PairResult> results = qvdiff::compare_cycles(
            *a, *b, pairs, c.tolerances, c.threads, [&](std::size_t done) { progress.update(done); });
        progress.finish();
        say("cycles  " + std::to_string(matched) + " matched by " + (c.match == qvdiff::Match::Time ? "time" : "cycle number") +
            ", " + std::to_string(alone_a) + " only in A, " + std::to_string(alone_b) + " only in B");
        for (const qvdiff::PairResult& r : results) {
            const std::string where = describe_pair(*a, *b, r.pair);
            if (r.pair.a < 0 || r.pair.b < 0) {
                say("  " + where + ": only in " + (r.pair.a < 0 ? "B" : "A"));
                if (csv) csv->row(*a, *b, &r.pair, nullptr, r.pair.a < 0 ? "only_b" : "only_a");
                continue;
            }
            bool header = false, beyond = false;
            for (const ArrayResult& x : r.arrays) {
                note_use(x);
                if (csv) csv->row(*a, *b, &r.pair, &x, status_text(x));
                if (x.status == ArrayResult::Status::Compared) ++arrays, values += x.compared;
                const std::string line = array_line(x);
                if (line.empty()) continue;
                beyond = true;
                ++arrays_beyond;
                if (!header) say("  " + where + ":"), header = true;
                say("    " + line);
            }
            pairs_beyond += beyond;
        }
        differs = differs || alone_a > 0 || alone_b > 0 || pairs_beyond > 0;
    }
    if (csv) csv->close();

    // One warning, whatever the number of names: a tolerance file of
    // millions of unknown names must not print millions of lines.
    std::vector<std::string> unused;
    for (const std::string& name : c.tolerances.names())
        if (!used.count(name)) unused.push_back(name);
    if (!unused.empty()) {
        constexpr std::size_t kNamed = 5;
        std::string names;
        for (std::size_t i = 0; i < unused.size() && i < kNamed; ++i) names += (i ? ", " : "") + unused[i];
        if (unused.size() > kNamed) names += " ... and " + std::to_string(unused.size() - kNamed) + " more";
        qvhost::report_warning(kTool, std::string(unused.size() == 1 ? "the tolerance of " : "the tolerances of ") +
                                          names + (unused.size() == 1 ? " applies" : " apply") +
                                          " to no array compared");
    }

    if (!differs) {
        say("result  same within tolerance: " + plural(arrays, "array") + " in " +
            plural(static_cast<std::int64_t>(a->steps().size()), "cycle") + ", " + plural(values, "value") +
            " compared");
        return 0;
    }
    std::string why;
    const auto add = [&](const std::string& s) { why += (why.empty() ? "" : ", ") + s; };
    if (!model.same()) add("the models differ");
    if (arrays_beyond > 0) add(plural(arrays_beyond, "array") + " in " + plural(pairs_beyond, "cycle") +
                                 (arrays_beyond == 1 ? " differs" : " differ"));
    if (alone_a > 0) add(plural(alone_a, "cycle") + " only in A");
    if (alone_b > 0) add(plural(alone_b, "cycle") + " only in B");
    say("result  different: " + why);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    return qvhost::tool_main(argc, argv, kTool, kUsage, 2, [&](const std::string&) {
        Command c = parse(argc, argv);
        return run(c);
    });
}
