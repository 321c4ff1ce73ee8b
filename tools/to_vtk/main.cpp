// qvres-to-vtk: every cycle of an analysis as a VTK UnstructuredGrid file,
// and a collection with the cycle times, for ParaView.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/results_library.h"
#include "to_vtk/cells.h"
#include "to_vtk/vtu_writer.h"

namespace {

using qvhost::Error;
using qvhost::ResultsLibrary;
using qvhost::Variable;

constexpr const char* kTool = "qvres-to-vtk";

constexpr const char* kUsage =
    "usage: qvres-to-vtk [--library PATH] FILE OUTDIR\n"
    "       qvres-to-vtk [--library PATH] --read-only FILE\n"
    "Writes every cycle of the analysis that FILE belongs to as OUTDIR/RUN_NNNN.vtu\n"
    "(NNNN the step in time order) and the collection OUTDIR/RUN.pvd with the cycle\n"
    "times in seconds. Points are the model nodes in model node order with their\n"
    "initial coordinates in metres and a 'displacement' vector; cells are the\n"
    "structured elements of every structured part, then the unstructured elements.\n"
    "Node variables become point data, element variables cell data, in SI units.\n"
    "With --read-only every array is read as for the export and nothing is written:\n"
    "a check that the whole analysis can be read, and the time reading takes alone.\n";

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Array names: the directory's name, made unique, with the part when it is
// not part 1.
class Names {
public:
    std::string operator()(const Variable& v) {
        std::string name = v.name.empty() ? "VAR" + std::to_string(v.index) : v.name;
        if (std::abs(v.qualifier) != 1) name += "_part" + std::to_string(std::abs(v.qualifier));
        return unique(name);
    }
    std::string unique(const std::string& name) {
        const int n = ++seen_[name];
        return n == 1 ? name : name + "_" + std::to_string(n);
    }

private:
    std::map<std::string, int> seen_;
};

// Exports every cycle into `outdir`; with an empty `outdir` reads
// everything the export needs and writes nothing.
int run(const std::string& library, const std::string& file, const std::string& outdir) {
    const bool write = !outdir.empty();
    ResultsLibrary lib(library);
    lib.open(file);
    const std::vector<qvhost::Step> steps = lib.steps();
    if (steps.empty()) throw Error("the analysis has no steps to export");

    const qvhost::Model m = lib.model();

    // Geometry: the same for every cycle. A structured part without cells (a
    // plane of I = 1 among them) gives points and no cells, as it has nodes
    // and no elements.
    qvvtk::Grid grid;
    grid.points = lib.coordinates();
    qvvtk::Cells cells;
    std::vector<std::int32_t> cell_part;
    std::int64_t first = 0;
    for (std::int32_t p = 0; p < m.structured_parts(); ++p) {
        const auto [I, J, K] = m.extents[p];
        const std::size_t before = cells.types.size();
        qvvtk::add_structured_part(cells, first, I, J, K);
        cell_part.insert(cell_part.end(), cells.types.size() - before, p + 1);
        first += static_cast<std::int64_t>(I) * J * K;
    }
    try {
        qvvtk::add_unstructured(cells, m.slots, m.unstructured_nodes, lib.connectivity(), lib.element_types());
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
    std::vector<std::int32_t> unstructured_part(static_cast<std::size_t>(m.unstructured_elements), 0);
    for (std::int32_t p = m.structured_parts() + 1; p <= m.structured_parts() + m.unstructured_parts; ++p)
        for (std::int32_t row : lib.part_elements(p))
            if (row >= 1 && static_cast<std::size_t>(row) <= unstructured_part.size()) unstructured_part[row - 1] = p;
    cell_part.insert(cell_part.end(), unstructured_part.begin(), unstructured_part.end());
    grid.connectivity = std::move(cells.connectivity);
    grid.offsets = std::move(cells.offsets);
    grid.types = std::move(cells.types);
    const std::size_t n_points = grid.points.size() / 3, n_cells = grid.types.size();
    const std::vector<qvhost::Material> materials = lib.materials();

    std::error_code ec;
    if (write) std::filesystem::create_directories(outdir, ec);
    if (ec) throw Error("cannot create " + outdir + ": " + ec.message());
    const std::string run_name = std::filesystem::path(lib.files().stem).filename().string();

    std::vector<qvvtk::CollectionEntry> collection;
    bool warned_displacements = false;
    qvhost::Progress progress("exporting steps", steps.size());
    for (const qvhost::Step& step : steps) {
        progress.update(static_cast<std::size_t>(step.index));
        lib.select(step.index);
        grid.point_data.clear();
        grid.cell_data.clear();
        grid.time = step.time;
        grid.cycle = step.cycle;
        Names names;

        grid.point_data.push_back(qvvtk::floats(names.unique("displacement"), {}, 3));

        for (const Variable& v : lib.variables()) {
            const std::int32_t part = std::abs(v.qualifier);
            switch (v.kind) {
            case qvhost::kNodeReal: grid.point_data.push_back(qvvtk::floats(names(v), lib.node_reals(v.index, part))); break;
            case qvhost::kNodeInt: grid.point_data.push_back(qvvtk::ints(names(v), lib.node_ints(v.index, part))); break;
            case qvhost::kElementInt: grid.cell_data.push_back(qvvtk::ints(names(v), lib.element_ints(v.index, part))); break;
            case qvhost::kElementReal: {
                const qvhost::ElementReals r = lib.element_reals(v.index, part);
                const std::string name = names(v);
                grid.cell_data.push_back(qvvtk::floats(name, r.values));
                // The per-material values of the structured elements.
                const std::size_t per = r.materials.size();
                for (std::size_t k = 0; k < per; ++k) {
                    std::vector<float> column(n_cells, kNaN);
                    for (std::size_t e = 0; e * per + k < r.material_values.size() && e < n_cells; ++e)
                        column[e] = r.material_values[e * per + k];
                    grid.cell_data.push_back(
                        qvvtk::floats(names.unique(name + "[" + materials[r.materials[k] - 1].name + "]"), column));
                }
                break;
            }
            default: break;
            }
        }
        for (const qvhost::Material& mat : materials) {
            std::vector<float> fractions;
            if (!lib.material_fractions(mat.number, fractions)) break;
            fractions.resize(n_cells, kNaN);
            grid.cell_data.push_back(qvvtk::floats(names.unique("material_fraction[" + mat.name + "]"), fractions));
        }
        grid.cell_data.push_back(qvvtk::ints(names.unique("part"), cell_part));
        // Displacements last: a cycle may legitimately hold none, but a
        // damaged file has failed on its node or element arrays by now.
        std::vector<float> xyz;
        if (!lib.displacements(xyz)) {
            xyz.assign(3 * n_points, 0.0f);
            if (!warned_displacements) {
                progress.finish();
                std::fprintf(stderr, "%s: %s holds no displacements: written as zero\n", kTool,
                             lib.describe_step(step.index).c_str());
                warned_displacements = true;
            }
        }
        grid.point_data.front() = qvvtk::floats("displacement", xyz, 3);

        char number[16];
        std::snprintf(number, sizeof number, "%04d", step.index);
        const std::string name = run_name + "_" + number + ".vtu";
        try {
            if (write) qvvtk::write_vtu(outdir + "/" + name, grid);
        } catch (const std::runtime_error& e) {
            throw Error(e.what());
        }
        collection.push_back({step.time, name});
    }
    progress.update(steps.size());
    progress.finish();
    if (!write) {
        std::printf("read %zu steps (%zu points, %zu cells): nothing written\n", collection.size(),
                    n_points, n_cells);
        return 0;
    }
    const std::string pvd = outdir + "/" + run_name + ".pvd";
    try {
        qvvtk::write_pvd(pvd, collection);
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
    std::printf("wrote %s and %zu files %s ... %s (%zu points, %zu cells)\n", pvd.c_str(), collection.size(),
                collection.front().file.c_str(), collection.back().file.c_str(), n_points, n_cells);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library;
    bool read_only = false;
    std::vector<std::string> positional;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--read-only") {
            read_only = true;
        } else if (arg == "--library") {
            if (a + 1 >= argc) {
                qvhost::report_error(kTool, "--library needs a value (see qvres-to-vtk --help)");
                return 2;
            }
            library = argv[++a];
        } else if (arg.size() > 1 && arg[0] == '-') {
            qvhost::report_error(kTool, "unknown option " + arg + " (see qvres-to-vtk --help)");
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != (read_only ? 1u : 2u)) {
        qvhost::report_error(kTool, "usage: qvres-to-vtk [--library PATH] [--read-only] FILE [OUTDIR]");
        return 2;
    }
    try {
        return run(library, positional[0], read_only ? std::string() : positional[1]);
    } catch (const std::exception& e) {
        qvhost::report_error(kTool, e.what());
        return 1;
    }
}
