// The VTK export, several cycles at once.
#include "to_vtk/export.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "to_vtk/cells.h"

namespace qvvtk {
namespace {

using qvhost::Analysis;
using qvhost::CycleReader;
using qvhost::Error;
using qvhost::Variable;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Array names: the directory's name, made unique, with the part when it is
// not part 1.
class Names {
public:
    std::string operator()(const std::string& base, std::int32_t qualifier, std::int32_t index) {
        std::string name = base.empty() ? "VAR" + std::to_string(index) : base;
        if (std::abs(qualifier) != 1) name += "_part" + std::to_string(std::abs(qualifier));
        return unique(name);
    }
    std::string unique(const std::string& name) {
        const int n = ++seen_[name];
        return n == 1 ? name : name + "_" + std::to_string(n);
    }

private:
    std::map<std::string, int> seen_;
};

// Which arrays --vars selects: directory entries by index or by a name the
// library resolves (ResultsLibrary::names_entry), vectors and the tools'
// own arrays by their names (qvhost::same_array_name).
class Selection {
public:
    Selection(const qvhost::ResultsLibrary& library, const std::vector<std::string>& vars)
        : library_(library), all_(vars.empty()), tokens_(vars) {}
    bool displacement() const { return special("displacement"); }
    bool fractions() const { return special("material_fraction"); }
    bool part() const { return special("part"); }
    // Whether token `t` names one of the arrays the tool adds.
    static bool names_special(const std::string& t) {
        for (const char* name : {"displacement", "material_fraction", "part"})
            if (qvhost::same_array_name(t, name)) return true;
        return false;
    }

    // The directory entries selected: by name, by index, or as the x, y or
    // z entry of a vector selected by its name. Records the tokens used.
    std::vector<bool> choose(const std::vector<Variable>& dir, const std::vector<Triple>& triples,
                             std::set<std::string>* used = nullptr) const {
        std::vector<bool> chosen(dir.size(), all_);
        if (all_) return chosen;
        for (const std::string& t : tokens_) {
            for (std::size_t i = 0; i < dir.size(); ++i)
                if (t == std::to_string(dir[i].index) || library_.names_entry(t, dir[i])) {
                    chosen[i] = true;
                    if (used) used->insert(t);
                }
            for (const Triple& v : triples)
                if (qvhost::same_array_name(t, v.name)) {
                    chosen[v.x] = chosen[v.y] = chosen[v.z] = true;
                    if (used) used->insert(t);
                }
        }
        return chosen;
    }
    const std::vector<std::string>& tokens() const { return tokens_; }

private:
    bool special(const char* name) const {
        return all_ || std::any_of(tokens_.begin(), tokens_.end(),
                                   [&](const std::string& t) { return qvhost::same_array_name(t, name); });
    }
    const qvhost::ResultsLibrary& library_;
    bool all_;
    std::vector<std::string> tokens_;
};

// What every step shares: the geometry, encoded once, and each cell's part.
struct Shared {
    Geometry geometry;
    DataArray part;
};

Shared build_shared(const Analysis& analysis, const ExportOptions& o, unsigned threads) {
    const qvhost::Model& m = analysis.model();
    const bool write = !o.outdir.empty();
    // The arrays that bear out the model's counts are read before anything
    // is sized from them: the library checks each against the file. Reading
    // only builds no cells and reads no points (as before), so a file of a
    // few kilobytes that claims millions of cells costs nothing; the
    // unstructured cells are still checked.
    const std::vector<float> points = write ? analysis.coordinates() : std::vector<float>();
    const std::vector<std::int32_t> connectivity = analysis.connectivity();
    const std::vector<qvres_cell> types = analysis.cells();
    // A structured part without cells (a plane of I = 1 among them) gives
    // points and no cells, as it has nodes and no elements. Each part's
    // cells are sized from its extents, which the points read bear out: a
    // part has fewer cells than nodes.
    Cells cells;
    std::vector<std::int32_t> cell_part;
    if (write) {
        std::int64_t first = 0;
        const std::vector<qvhost::Part> parts = analysis.parts();
        for (std::int32_t p = 0; p < m.structured_parts(); ++p) {
            const qvhost::Part& x = parts[static_cast<std::size_t>(p)];
            const std::size_t before = cells.types.size();
            add_structured_part(cells, first, static_cast<std::int32_t>(x.i), static_cast<std::int32_t>(x.j),
                                static_cast<std::int32_t>(x.k));
            cell_part.insert(cell_part.end(), cells.types.size() - before, p + 1);
            first += x.nodes;  // the library's count of the part's nodes
        }
    }
    try {
        add_unstructured(cells, m.slots, m.unstructured_nodes, connectivity, types);
    } catch (const std::runtime_error& e) {
        throw Error(analysis.files().path + ": " + e.what(), QVRES_E_DAMAGED);
    }
    Shared s;
    if (!write) {  // reading only: sizes, nothing encoded
        s.geometry.points = static_cast<std::size_t>(m.nodes());
        s.geometry.cells = static_cast<std::size_t>(m.elements());
        return s;
    }
    // Unstructured elements are as many as the types read.
    std::vector<std::int32_t> unstructured_part(types.size(), 0);
    for (std::int32_t p = m.structured_parts() + 1; p <= m.parts(); ++p)
        for (std::int32_t row : analysis.part_elements(p))
            if (row >= 1 && static_cast<std::size_t>(row) <= unstructured_part.size()) unstructured_part[row - 1] = p;
    cell_part.insert(cell_part.end(), unstructured_part.begin(), unstructured_part.end());
    s.geometry = encode_geometry(points, cells.connectivity, cells.offsets, cells.types, o.encoding, threads);
    s.part = DataArray{"part", "Int32", 1, encode(cell_part.data(), cell_part.size() * sizeof(std::int32_t),
                                                  o.encoding, threads)};
    return s;
}

// One step: every selected array read, and the file written unless reading
// only. Returns the file's size.
std::uint64_t export_step(const Analysis& analysis, const std::shared_future<const Shared*>& shared,
                          std::int32_t step, const ExportOptions& o, const Selection& selection,
                          const std::string& path) {
    const bool write = !o.outdir.empty();
    // Every element is one cell.
    const auto n_cells = static_cast<std::size_t>(analysis.model().elements());
    CycleReader reader(analysis, step);
    const std::vector<Variable>& dir = reader.variables();
    const std::vector<Triple> triples = vector_triples(analysis.library(), dir);
    const std::vector<bool> chosen = selection.choose(dir, triples);
    std::vector<int> role(dir.size(), 0);  // 1: a vector's x entry, 2: its y or z entry
    std::vector<const Triple*> vector_at(dir.size(), nullptr);
    for (const Triple& t : triples)
        if (chosen[t.x] && chosen[t.y] && chosen[t.z]) {
            role[t.x] = 1, role[t.y] = role[t.z] = 2;
            vector_at[t.x] = &t;
        }

    Names names;
    std::vector<DataArray> point, cell;
    auto add_ints = [&](std::vector<DataArray>& to, const std::string& name, const std::vector<std::int32_t>& v) {
        if (write) to.push_back(ints(name, v, o.encoding));
    };
    auto add_floats = [&](std::vector<DataArray>& to, const std::string& name, const std::vector<float>& v,
                          int components = 1) {
        if (write) to.push_back(floats(name, v, o.encoding, components));
    };
    if (selection.displacement()) {
        std::vector<float> xyz;
        // A cycle that stores no displacements gets no such array; a damaged
        // one has thrown.
        if (reader.displacements(xyz)) add_floats(point, names.unique("displacement"), xyz, 3);
    }
    for (std::size_t i = 0; i < dir.size(); ++i) {
        if (!chosen[i] || role[i] == 2) continue;
        const Variable& v = dir[i];
        const std::int32_t part = std::abs(v.qualifier);
        if (role[i] == 1) {
            const Triple& t = *vector_at[i];
            const std::vector<float> x = reader.node_reals(dir[t.x].index, part),
                                     y = reader.node_reals(dir[t.y].index, part),
                                     z = reader.node_reals(dir[t.z].index, part);
            std::vector<float> xyz(3 * x.size());
            for (std::size_t k = 0; k < x.size(); ++k) xyz[3 * k] = x[k], xyz[3 * k + 1] = y[k], xyz[3 * k + 2] = z[k];
            add_floats(point, names(t.name, v.qualifier, v.index), xyz, 3);
            continue;
        }
        switch (v.kind) {
        case qvhost::kNodeReal: add_floats(point, names(v.name, v.qualifier, v.index), reader.node_reals(v.index, part)); break;
        case qvhost::kNodeInt:
            add_ints(point, names(v.name, v.qualifier, v.index), reader.node_ints(v.index, part));
            break;
        case qvhost::kElementInt:
            add_ints(cell, names(v.name, v.qualifier, v.index), reader.element_ints(v.index, part));
            break;
        case qvhost::kElementReal: {
            const qvhost::ElementReals r = reader.element_reals(v.index, part);
            const std::string name = names(v.name, v.qualifier, v.index);
            add_floats(cell, name, r.values);
            // The per-material values of the structured elements.
            const std::size_t per = write ? r.materials.size() : 0;
            for (std::size_t k = 0; k < per; ++k) {
                std::vector<float> column(n_cells, kNaN);
                for (std::size_t e = 0; e * per + k < r.material_values.size() && e < n_cells; ++e)
                    column[e] = r.material_values[e * per + k];
                add_floats(cell, names.unique(name + "[" + analysis.materials()[r.materials[k] - 1].name + "]"), column);
            }
            break;
        }
        default: break;
        }
    }
    if (selection.fractions())
        for (const qvhost::Material& mat : analysis.materials()) {
            std::vector<float> fractions;
            if (!reader.material_fractions(mat.number, fractions)) break;
            if (write) fractions.resize(n_cells, kNaN);
            add_floats(cell, names.unique("material_fraction[" + mat.name + "]"), fractions);
        }
    // The rigid body and joint sections are not exported, but a file cut
    // inside them is as damaged as one cut anywhere else: reading the first
    // body and joint reads each section whole.
    std::array<float, 12> body;
    std::array<float, 16> joint;
    reader.rigid_body(1, body);
    reader.joint(1, 1, joint);
    if (!write) return 0;
    const Shared& geometry = *shared.get();  // built by another task, perhaps still
    Piece piece;
    for (const DataArray& a : point) piece.point_data.push_back(&a);
    for (const DataArray& a : cell) piece.cell_data.push_back(&a);
    if (selection.part()) piece.cell_data.push_back(&geometry.part);
    piece.time = analysis.steps()[static_cast<std::size_t>(step)].time;
    piece.cycle = analysis.steps()[static_cast<std::size_t>(step)].cycle;
    try {
        return write_vtu(path, geometry.geometry, piece, o.encoding);
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
}

// Asks the count of every array export_step reads of `step`, reading none:
// the library refuses a count beyond what the cycle file can inflate to, so
// a hostile count fails here, before the geometry or a column is sized from
// the model (count queries inflate nothing).
void check_counts(const Analysis& analysis, std::int32_t step, const Selection& selection) {
    const CycleReader reader(analysis, step);
    const std::vector<Variable>& dir = reader.variables();
    const std::vector<bool> chosen = selection.choose(dir, vector_triples(analysis.library(), dir));
    if (selection.displacement()) reader.count_values({QVRES_DISPLACEMENTS, 0, 0}, "displacements", true);
    for (std::size_t i = 0; i < dir.size(); ++i) {
        if (!chosen[i]) continue;
        const Variable& v = dir[i];
        const std::int32_t part = std::abs(v.qualifier);
        switch (v.kind) {
        case qvhost::kNodeReal: reader.count_values({QVRES_NODE_REALS, v.index, part}, "node values"); break;
        case qvhost::kNodeInt: reader.count_values({QVRES_NODE_INTEGERS, v.index, part}, "node values"); break;
        case qvhost::kElementInt: reader.count_values({QVRES_ELEMENT_INTEGERS, v.index, part}, "element values"); break;
        case qvhost::kElementReal: reader.count_values({QVRES_ELEMENT_REALS, v.index, part}, "element values"); break;
        default: break;
        }
    }
    if (selection.fractions())
        for (const qvhost::Material& mat : analysis.materials())
            if (reader.count_values({QVRES_MATERIAL_FRACTIONS, 0, mat.number}, "material fractions", true) < 0) break;
}

// Every --vars name must name something in one of the exported steps.
void check_selection(const Analysis& analysis, const std::vector<std::int32_t>& steps, const Selection& selection) {
    std::set<std::string> used;
    for (const std::string& t : selection.tokens())
        if (Selection::names_special(t)) used.insert(t);
    for (std::int32_t step : steps) {
        try {
            const CycleReader reader(analysis, step);
            selection.choose(reader.variables(), vector_triples(analysis.library(), reader.variables()), &used);
        } catch (const Error&) {
            // The export reports the file that cannot be read.
        }
    }
    for (const std::string& t : selection.tokens())
        if (!used.count(t))
            throw Error("--vars: " + t + " names no array of the steps exported (see: qvres-inspect vars FILE STEP)",
                        QVRES_E_ARGUMENT);
}

}  // namespace

std::vector<Triple> vector_triples(const qvhost::ResultsLibrary& library, const std::vector<Variable>& dir) {
    std::vector<Triple> out;
    auto find = [&](const Variable& like, std::int32_t index) -> std::size_t {
        for (std::size_t j = 0; j < dir.size(); ++j)
            if (dir[j].kind == like.kind && dir[j].qualifier == like.qualifier && dir[j].index == index) return j;
        return dir.size();
    };
    for (std::size_t i = 0; i < dir.size(); ++i) {
        const Variable& v = dir[i];
        qvres_catalogue_entry e{};
        if (v.kind != qvhost::kNodeReal || !library.catalogue_entry(true, v.index, e) ||
            e.group != QVRES_GROUP_VECTOR || e.component != 0 || e.members != 3 || e.member[0] != v.index)
            continue;
        const std::size_t y = find(v, e.member[1]), z = find(v, e.member[2]);
        if (y < dir.size() && z < dir.size()) out.push_back({qvhost::group_name_as_shown(e), i, y, z});
    }
    return out;
}

std::vector<std::int32_t> parse_steps(const std::string& list, std::size_t count) {
    std::vector<std::int32_t> steps;
    auto number = [&](const std::string& s) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(s.c_str(), &end, 10);
        if (s.empty() || *end || errno || v < 0 || v > std::numeric_limits<std::int32_t>::max())
            throw qvhost::UsageError("--steps takes steps and ranges such as 0,3,5-8, not '" + list + "'");
        if (static_cast<std::size_t>(v) >= count)
            throw Error("step " + s + " does not exist (" +
                            (count == 0 ? std::string("the analysis has no steps")
                                        : "the analysis has " + std::to_string(count) + " steps: 0.." +
                                              std::to_string(count - 1)) +
                            ")",
                        QVRES_E_ARGUMENT);
        return static_cast<std::int32_t>(v);
    };
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        const std::size_t dash = item.find('-', 1);
        const std::int32_t a = number(item.substr(0, dash));
        const std::int32_t b = dash == std::string::npos ? a : number(item.substr(dash + 1));
        if (b < a) throw qvhost::UsageError("--steps: the range " + item + " runs backwards");
        for (std::int32_t s = a; s <= b; ++s) steps.push_back(s);
        start = comma + 1;
    }
    std::sort(steps.begin(), steps.end());
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    return steps;
}

ExportReport export_analysis(const Analysis& analysis, const ExportOptions& o,
                             const std::function<void(std::size_t)>& progress) {
    std::vector<std::int32_t> steps = o.steps;
    if (steps.empty())
        for (const qvhost::Step& s : analysis.steps()) steps.push_back(s.index);
    if (steps.empty()) throw Error("the analysis has no steps to export");
    for (std::int32_t s : steps) analysis.require_step(s);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = o.threads == 0 ? cores : o.threads;

    const Selection selection(analysis.library(), o.vars);
    if (!o.vars.empty()) check_selection(analysis, steps, selection);
    // Every step's counts before anything is built: the geometry is made
    // while the first steps are read, so a step's own read comes too late.
    // A step refused here is passed over (--keep-going) or ends the export.
    std::vector<std::string> refused(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        try {
            check_counts(analysis, steps[i], selection);
        } catch (const Error& e) {
            if (!o.keep_going || !e.unreadable_file()) throw;
            refused[i] = e.what();
        }
    }
    if (!o.outdir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.outdir, ec);
        if (ec) throw Error("cannot create " + o.outdir + ": " + ec.message());
    }
    ExportReport report;
    report.points = static_cast<std::size_t>(analysis.model().nodes());
    report.cells = static_cast<std::size_t>(analysis.model().elements());
    const std::string run = analysis.files().run;
    std::vector<std::string> names(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d", steps[i]);
        names[i] = run + "_" + number + ".vtu";
    }

    // Task 0 builds and encodes the geometry, tasks 1.. export the steps;
    // each worker takes the next task. A step needs the geometry only to
    // write its file, so with several workers the geometry is made while
    // the first steps are read. After a failure that is not passed over, no
    // task is started. Outcomes are reported in task order.
    struct Outcome {
        enum { pending, done, skipped, failed } state = pending;
        std::string message;
        qvres_status status = QVRES_OK;
        std::uint64_t bytes = 0;
    };
    std::vector<Outcome> outcomes(steps.size() + 1);
    Shared shared;
    std::promise<const Shared*> geometry;
    const std::shared_future<const Shared*> geometry_ready = geometry.get_future().share();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex progress_mutex;
    std::size_t finished = 0;
    auto run_task = [&](std::size_t task) {
        if (task == 0) {
            try {
                shared = build_shared(analysis, o, threads);
                geometry.set_value(&shared);
            } catch (...) {
                geometry.set_exception(std::current_exception());
                throw;
            }
            return;
        }
        const std::size_t i = task - 1;
        outcomes[task].bytes = export_step(analysis, geometry_ready, steps[i], o, selection, o.outdir + "/" + names[i]);
    };
    auto work = [&] {
        for (std::size_t task; !stop && (task = next++) <= steps.size();) {
            Outcome& out = outcomes[task];
            const std::string where = task == 0 ? std::string("the model's cells") : analysis.describe_step(steps[task - 1]);
            try {
                if (task > 0 && !refused[task - 1].empty()) {
                    out.state = Outcome::skipped;
                    out.message = refused[task - 1];
                } else {
                    run_task(task);
                    out.state = Outcome::done;
                }
            } catch (const Error& e) {
                out.state = task > 0 && o.keep_going && e.unreadable_file() ? Outcome::skipped : Outcome::failed;
                out.message = e.what();
                out.status = e.status();
            } catch (const std::bad_alloc&) {
                out.state = Outcome::failed;
                out.message = where + ": out of memory";
                out.status = QVRES_E_NO_MEMORY;
            } catch (const std::exception& e) {
                out.state = Outcome::failed;
                out.message = where + ": " + e.what();
            }
            if (out.state == Outcome::failed) stop = true;
            if (task == 0) continue;
            const std::lock_guard<std::mutex> lock(progress_mutex);
            ++finished;
            if (progress) progress(finished);
        }
    };
    {
        std::vector<std::thread> pool;
        const std::size_t workers = std::min<std::size_t>(threads, steps.size() + 1);
        for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
    }
    for (const Outcome& out : outcomes)
        if (out.state == Outcome::failed) throw Error(out.message, out.status);

    std::vector<CollectionEntry> collection;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Outcome& out = outcomes[i + 1];
        if (out.state == Outcome::skipped) report.warnings.push_back(out.message + ": step passed over");
        if (out.state != Outcome::done) continue;
        ++report.steps;
        report.bytes += out.bytes;
        if (o.outdir.empty()) continue;
        report.files.push_back(o.outdir + "/" + names[i]);
        collection.push_back({analysis.steps()[static_cast<std::size_t>(steps[i])].time, names[i]});
    }
    if (o.outdir.empty() || collection.empty()) return report;
    report.collection = o.outdir + "/" + run + ".pvd";
    try {
        write_pvd(report.collection, collection);
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
    std::error_code ec;
    report.bytes += std::filesystem::file_size(report.collection, ec);
    return report;
}

}  // namespace qvvtk
