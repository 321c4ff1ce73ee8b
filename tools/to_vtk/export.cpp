// The VTK export, several cycles at once.
#include "to_vtk/export.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "host/output_file.h"
#include "host/processors.h"
#include "host/variables.h"
#include "host/workers.h"
#include "to_vtk/cells.h"

namespace qvvtk {
namespace {

using qvhost::Analysis;
using qvhost::CycleReader;
using qvhost::Error;
using qvhost::Variable;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// VTK's mark of a cell not drawn (vtkDataSetAttributes::HIDDENCELL, the
// bit 32 of vtkGhostType since VTK 7: 2 marks a high-connectivity cell),
// and the catalogue's name of the element variable that marks eroded
// elements (not 0 once eroded).
constexpr std::uint8_t kHiddenCell = 32;
constexpr const char* kErosion = "EROSION";

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

    // The directory entries selected: by name, by index, or as a member of
    // a vector or tensor selected by its name. Records the tokens used.
    std::vector<bool> choose(const std::vector<Variable>& dir, const std::vector<Group>& groups,
                             std::set<std::string>* used = nullptr) const {
        std::vector<bool> chosen(dir.size(), all_);
        if (all_) return chosen;
        for (const std::string& t : tokens_) {
            for (std::size_t i = 0; i < dir.size(); ++i)
                if (t == std::to_string(dir[i].index) || library_.names_entry(t, dir[i])) {
                    chosen[i] = true;
                    if (used) used->insert(t);
                }
            for (const Group& g : groups)
                if (qvhost::same_array_name(t, g.name)) {
                    for (std::size_t m : g.members) chosen[m] = true;
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

// A block of the export: a structured part, or the unstructured elements of
// one part (part 0: of none). Node and cell arrays over the whole model are
// cut to a block by gather().
struct Block {
    std::string name;
    std::string file_suffix;  // "_P.vts" or "_P.vtu"
    bool structured = false;
    // Structured: I, J, K, and the model positions of its first node and
    // first element; `elements` when every extent is 2 or more. VTK orders
    // the points I fastest, the file K fastest: gather() transposes.
    std::int64_t extent[3] = {0, 0, 0};
    std::int64_t first_node = 0, first_cell = 0;
    bool elements = false;
    // Unstructured: the model nodes of its points (ascending) and the model
    // cell position of each of its cells.
    std::vector<std::int64_t> nodes, cells;
    StructuredGeometry structured_geometry;
    Geometry geometry;
    DataArray part;    // the part number of each cell
    DataArray hidden;  // a structured part without elements: VTK's cells, all hidden
};

// The values of `b` out of `values`, `c` per position, over every model
// node (`points`) or cell. Throws when they are too few.
template <class T>
void gather(const Block& b, bool points, const std::vector<T>& values, std::size_t c, std::vector<T>& out) {
    auto too_few = [&] {
        throw Error("the model's arrays hold " + std::to_string(values.size() / std::max<std::size_t>(c, 1)) +
                        " values, too few for block " + b.name,
                    QVRES_E_DAMAGED);
    };
    if (b.structured) {
        const std::int64_t d = points ? 0 : 1;
        const std::int64_t I = b.extent[0] - d, J = b.extent[1] - d, K = b.extent[2] - d;
        const std::int64_t first = points ? b.first_node : b.first_cell;
        if (static_cast<std::uint64_t>(first + I * J * K) * c > values.size()) too_few();
        out.resize(static_cast<std::size_t>(I * J * K) * c);
        // Each J layer is an I x K matrix to transpose: in tiles, so that
        // both sides stay in the cache.
        constexpr std::int64_t kTile = 16;
        const T* from = values.data() + static_cast<std::size_t>(first) * c;
        const auto stride = static_cast<std::size_t>(J * K) * c;  // from one i to the next in the file
        for (std::int64_t j = 0; j < J; ++j)
            for (std::int64_t i0 = 0; i0 < I; i0 += kTile) {
                const std::int64_t i1 = std::min(I, i0 + kTile);
                for (std::int64_t k0 = 0; k0 < K; k0 += kTile)
                    for (std::int64_t k = k0, k1 = std::min(K, k0 + kTile); k < k1; ++k) {
                        const T* v = from + static_cast<std::size_t>((i0 * J + j) * K + k) * c;
                        T* to = out.data() + static_cast<std::size_t>(i0 + I * (j + J * k)) * c;
                        if (c == 1) {
                            for (std::int64_t i = i0; i < i1; ++i, v += stride) *to++ = *v;
                        } else {
                            // A loop, not std::copy: a call of memmove per value costs more.
                            for (std::int64_t i = i0; i < i1; ++i, v += stride)
                                for (std::size_t q = 0; q < c; ++q) *to++ = v[q];
                        }
                    }
            }
        return;
    }
    const std::vector<std::int64_t>& at = points ? b.nodes : b.cells;
    if (!at.empty() && static_cast<std::uint64_t>(at.back() + 1) * c > values.size()) too_few();
    out.resize(at.size() * c);
    for (std::size_t n = 0; n < at.size(); ++n)
        for (std::size_t q = 0; q < c; ++q) out[n * c + q] = values[static_cast<std::size_t>(at[n]) * c + q];
}

template <class T>
std::vector<T> gather(const Block& b, bool points, const std::vector<T>& values, std::size_t c) {
    std::vector<T> out;
    gather(b, points, values, c, out);
    return out;
}

// A block name from a part name; "part N" for none.
std::string block_name(const std::string& name, std::int32_t part) {
    return name.find_first_not_of(' ') == std::string::npos ? "part " + std::to_string(part) : name;
}

// What every step shares: the geometry, encoded once, and each cell's part:
// as one grid (--single-vtu) or as blocks.
struct Shared {
    Geometry geometry;
    DataArray part;
    std::vector<Block> blocks;
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
    const std::vector<qvhost::Part> parts = write ? analysis.parts() : std::vector<qvhost::Part>();
    // A structured part without cells (a plane of I = 1 among them) gives
    // points and no cells, as it has nodes and no elements. Each part's
    // cells are sized from its extents, which the points read bear out: a
    // part has fewer cells than nodes.
    Cells cells;
    std::vector<std::int32_t> cell_part;
    if (write && o.single_vtu) {
        std::int64_t first = 0;
        for (std::int32_t p = 0; p < m.structured_parts(); ++p) {
            const qvhost::Part& x = parts[static_cast<std::size_t>(p)];
            const std::size_t before = cells.types.size();
            add_structured_part(cells, first, static_cast<std::int32_t>(x.i), static_cast<std::int32_t>(x.j),
                                static_cast<std::int32_t>(x.k));
            cell_part.insert(cell_part.end(), cells.types.size() - before, p + 1);
            first += x.nodes;  // the library's count of the part's nodes
        }
    }
    const std::size_t structured_cells = cells.types.size();
    try {
        add_unstructured(cells, m.slots, m.unstructured_nodes, connectivity, types);
    } catch (const std::runtime_error& e) {
        throw Error(analysis.files().path + ": " + e.what(), QVRES_E_DAMAGED);
    }
    Shared s;
    if (!write) return s;  // reading only: nothing encoded
    // Unstructured elements are as many as the types read.
    std::vector<std::int32_t> unstructured_part(types.size(), 0);
    for (std::int32_t p = m.structured_parts() + 1; p <= m.parts(); ++p)
        for (std::int32_t row : analysis.part_elements(p))
            if (row >= 1 && static_cast<std::size_t>(row) <= unstructured_part.size()) unstructured_part[row - 1] = p;
    if (o.single_vtu) {
        cell_part.insert(cell_part.end(), unstructured_part.begin(), unstructured_part.end());
        s.geometry = encode_geometry(points, cells.connectivity, cells.offsets, cells.types, o.encoding, threads);
        s.part = DataArray{"part", "Int32", 1, encode(cell_part.data(), cell_part.size() * sizeof(std::int32_t),
                                                      o.encoding, threads)};
        return s;
    }

    auto numbered = [&](std::int32_t p, std::size_t n) {
        const std::vector<std::int32_t> v(n, p);
        return ints("part", v, o.encoding);
    };
    std::int64_t first_node = 0, first_cell = 0;
    for (std::int32_t p = 0; p < m.structured_parts(); ++p) {
        const qvhost::Part& x = parts[static_cast<std::size_t>(p)];
        Block b;
        b.name = block_name(x.name, p + 1);
        b.file_suffix = "_" + std::to_string(p + 1) + ".vts";
        b.structured = true;
        b.extent[0] = std::max<std::int64_t>(x.i, 1), b.extent[1] = std::max<std::int64_t>(x.j, 1);
        b.extent[2] = std::max<std::int64_t>(x.k, 1);
        b.first_node = first_node, b.first_cell = first_cell;
        b.elements = b.extent[0] >= 2 && b.extent[1] >= 2 && b.extent[2] >= 2;
        const std::int64_t n = b.elements ? (b.extent[0] - 1) * (b.extent[1] - 1) * (b.extent[2] - 1) : 0;
        std::copy(b.extent, b.extent + 3, b.structured_geometry.dimensions);
        b.structured_geometry.coordinates = floats("Points", gather(b, true, points, 3), o.encoding, 3, threads);
        if (b.elements) {
            b.part = numbered(p + 1, static_cast<std::size_t>(n));
        } else {
            std::size_t vtk_cells = 1;  // VTK's cells of a grid of these dimensions
            for (std::int64_t d : b.extent) vtk_cells *= static_cast<std::size_t>(d > 1 ? d - 1 : 1);
            b.hidden = bytes("vtkGhostType", std::vector<std::uint8_t>(vtk_cells, kHiddenCell), o.encoding);
        }
        first_node += x.nodes;  // the library's count of the part's nodes
        first_cell += n;
        s.blocks.push_back(std::move(b));
    }
    // The unstructured parts, then the elements of none.
    std::vector<std::int32_t> numbers;
    for (std::int32_t p = m.structured_parts() + 1; p <= m.parts(); ++p) numbers.push_back(p);
    if (std::find(unstructured_part.begin(), unstructured_part.end(), 0) != unstructured_part.end()) numbers.push_back(0);
    for (std::int32_t p : numbers) {
        Block b;
        b.name = p == 0 ? "elements of no part" : block_name(parts[static_cast<std::size_t>(p - 1)].name, p);
        b.file_suffix = "_" + std::to_string(p) + ".vtu";
        std::vector<std::int64_t> used, offsets;
        std::vector<std::uint8_t> kinds;
        for (std::size_t e = 0; e < unstructured_part.size(); ++e) {
            if (unstructured_part[e] != p) continue;
            const std::size_t c = structured_cells + e;
            const auto begin = cells.connectivity.begin() + (c == 0 ? 0 : cells.offsets[c - 1]);
            used.insert(used.end(), begin, cells.connectivity.begin() + cells.offsets[c]);
            offsets.push_back(static_cast<std::int64_t>(used.size()));
            kinds.push_back(cells.types[c]);
            b.cells.push_back(first_cell + static_cast<std::int64_t>(e));
        }
        b.nodes = used;
        std::sort(b.nodes.begin(), b.nodes.end());
        b.nodes.erase(std::unique(b.nodes.begin(), b.nodes.end()), b.nodes.end());
        for (std::int64_t& n : used) n = std::lower_bound(b.nodes.begin(), b.nodes.end(), n) - b.nodes.begin();
        b.geometry = encode_geometry(gather(b, true, points, 3), used, offsets, kinds, o.encoding, threads);
        b.part = numbered(p, b.cells.size());
        s.blocks.push_back(std::move(b));
    }
    return s;
}

// One array of a step over every model node or cell, as read.
struct Column {
    std::string name;
    bool points = false;
    int components = 1;
    std::vector<float> reals;
    std::vector<std::int32_t> ints;
    std::vector<std::uint8_t> bytes;  // vtkGhostType
    std::size_t entry = SIZE_MAX;     // the directory entry it holds alone
    std::vector<double> doubles;
};

// Buffers reused for the arrays of a step, cut to a block: a new one per
// array would cost a fresh allocation, its zeroing and its page faults.
struct Scratch {
    std::vector<float> reals;
    std::vector<std::int32_t> ints;
    std::vector<std::uint8_t> bytes;
};

// Column `c` of block `b` (the whole model without one), encoded; the
// ghost array only when it hides a cell of the block (else nothing).
std::optional<DataArray> encoded(const Column& c, const Block* b, const Encoding& e, Scratch& scratch) {
    const auto n = static_cast<std::size_t>(c.components);
    if (!c.bytes.empty()) {
        if (b) gather(*b, c.points, c.bytes, n, scratch.bytes);
        const std::vector<std::uint8_t>& mine = b ? scratch.bytes : c.bytes;
        if (std::find(mine.begin(), mine.end(), kHiddenCell) == mine.end()) return std::nullopt;
        return bytes(c.name, mine, e);
    }
    if (!c.ints.empty()) {
        if (b) gather(*b, c.points, c.ints, n, scratch.ints);
        return ints(c.name, b ? scratch.ints : c.ints, e);
    }
    if (!c.doubles.empty()) return doubles(c.name, b ? gather(*b, c.points, c.doubles, n) : c.doubles, e);
    if (b) gather(*b, c.points, c.reals, n, scratch.reals);
    return floats(c.name, b ? scratch.reals : c.reals, e, c.components);
}

// The files of one step (or of an envelope): each column (an array over
// every model node or cell) is cut to every block and encoded as it comes,
// then let go; finish() writes PATH.vtu, or a block file per block and
// PATH.vtm naming them. The block files and the .vtm replace those of an
// earlier export together, once all are written: a failure leaves the
// earlier set as it was (a .vtm never names a file that is gone), and no
// partial new set is left looking whole.
class StepWriter {
public:
    StepWriter(const std::shared_future<const Shared*>& shared, const ExportOptions& o) : shared_(shared), o_(o) {}

    void add(const Column& c) {
        start();
        for (std::size_t k = 0; k < arrays_.size(); ++k) {
            const Block* b = o_.single_vtu ? nullptr : &blocks_->blocks[k];
            if (b && !c.points && b->structured && !b->elements) continue;  // no elements: no cell values
            std::optional<DataArray> a = encoded(c, b, o_.encoding, scratch_);
            if (!a) continue;
            if (!c.bytes.empty()) {
                ghost_[k].push_back(std::move(*a));
                continue;
            }
            arrays_[k].push_back(std::move(*a));
            at_points_[k].push_back(c.points);
        }
    }

    std::uint64_t finish(bool with_part, double time, std::int32_t cycle, const std::string& path) {
        start();
        auto piece_of = [&](std::size_t k, const DataArray* part, const DataArray* hidden) {
            Piece piece;
            for (std::size_t n = 0; n < arrays_[k].size(); ++n)
                (at_points_[k][n] ? piece.point_data : piece.cell_data).push_back(&arrays_[k][n]);
            if (part && with_part) piece.cell_data.push_back(part);
            if (hidden) piece.cell_data.push_back(hidden);
            piece.time = time;
            piece.cycle = cycle;
            return piece;
        };
        try {
            if (o_.single_vtu) {
                const Shared& geometry = *shared_.get();  // built by another task, perhaps still
                return write_vtu(path + ".vtu", geometry.geometry,
                                 piece_of(0, &geometry.part, ghost_[0].empty() ? nullptr : &ghost_[0][0]), o_.encoding);
            }
            std::uint64_t total = 0;
            std::vector<BlockEntry> entries;
            const std::string stem = qvhost::file_name_of(path);
            qvhost::OutputSet set;
            for (std::size_t k = 0; k < arrays_.size(); ++k) {
                const Block& b = blocks_->blocks[k];
                const bool cells = !b.structured || b.elements;
                const DataArray* hidden = !cells ? &b.hidden : ghost_[k].empty() ? nullptr : &ghost_[k][0];
                const Piece piece = piece_of(k, cells ? &b.part : nullptr, hidden);
                const std::string file = path + b.file_suffix;
                total += b.structured ? write_vts(file, b.structured_geometry, piece, o_.encoding, &set)
                                      : write_vtu(file, b.geometry, piece, o_.encoding, &set);
                entries.push_back({b.name, stem + b.file_suffix});
            }
            total += write_vtm(path + ".vtm", entries, &set);
            set.commit();  // the blocks first, the .vtm that names them last
            return total;
        } catch (...) {
            try {
                throw;
            } catch (const std::runtime_error& e) {
                if (dynamic_cast<const Error*>(&e)) throw;
                throw Error(e.what());
            }
        }
    }

private:
    // The blocks, once the first array needs them.
    void start() {
        if (!arrays_.empty()) return;
        std::size_t n = 1;
        if (!o_.single_vtu) {
            blocks_ = shared_.get();  // built by another task, perhaps still
            n = blocks_->blocks.size();
        }
        arrays_.resize(n), ghost_.resize(n), at_points_.resize(n);
    }

    const std::shared_future<const Shared*>& shared_;
    const ExportOptions& o_;
    const Shared* blocks_ = nullptr;
    std::vector<std::vector<DataArray>> arrays_, ghost_;
    std::vector<std::vector<bool>> at_points_;
    Scratch scratch_;
};

// One step: every selected array read, and the file (or the block files
// and their .vtm) written unless reading only. Returns the bytes written.
std::uint64_t export_step(const Analysis& analysis, const std::shared_future<const Shared*>& shared,
                          std::int32_t step, const ExportOptions& o, const Selection& selection,
                          const std::string& path) {
    const bool write = !o.outdir.empty();
    // Every element is one cell.
    const auto n_cells = static_cast<std::size_t>(analysis.model().elements());
    CycleReader reader(analysis, step);
    const std::vector<Variable>& dir = reader.variables();
    const std::vector<Group> groups = component_groups(analysis.library(), dir);
    const std::vector<bool> chosen = selection.choose(dir, groups);
    std::vector<int> role(dir.size(), 0);  // 1: a group's first member, 2: another member
    std::vector<const Group*> group_at(dir.size(), nullptr);
    for (const Group& g : groups)
        if (std::all_of(g.members.begin(), g.members.end(), [&](std::size_t m) { return chosen[m]; })) {
            for (std::size_t m : g.members) role[m] = 2;
            role[g.members[0]] = 1;
            group_at[g.members[0]] = &g;
        }

    const std::int32_t erosion = o.show_eroded ? -1 : analysis.library().find_variable(false, kErosion);
    std::vector<std::uint8_t> hidden;  // from EROSION, when read
    auto note_erosion = [&](const std::vector<std::int32_t>& state) {
        hidden.resize(n_cells, 0);
        for (std::size_t e = 0; e < state.size() && e < n_cells; ++e)
            if (state[e] != 0) hidden[e] = kHiddenCell;
    };
    std::vector<bool> erosion_seen(dir.size(), false);
    // Each array is encoded once the next one is asked for (its Column is
    // filled after add() returns), and let go: a step holds one raw array.
    Names names;
    StepWriter writer(shared, o);
    Column pending;
    bool has_pending = false;
    auto flush = [&] {
        if (!has_pending) return;
        if (pending.entry != SIZE_MAX && dir[pending.entry].index == erosion) {
            note_erosion(pending.ints);
            erosion_seen[pending.entry] = true;
        }
        if (write) writer.add(pending);
        pending = Column();
        has_pending = false;
    };
    auto add = [&](bool points, const std::string& name, int components = 1) -> Column& {
        flush();
        pending = Column{name, points, components, {}, {}, {}, SIZE_MAX, {}};
        has_pending = true;
        return pending;
    };
    if (selection.displacement()) {
        std::vector<float> xyz;
        // A cycle that stores no displacements gets no such array; a damaged
        // one has thrown.
        if (reader.displacements(xyz)) add(true, names.unique("displacement"), 3).reals = std::move(xyz);
    }
    for (std::size_t i = 0; i < dir.size(); ++i) {
        if (!chosen[i] || role[i] == 2) continue;
        const Variable& v = dir[i];
        const std::int32_t part = std::abs(v.qualifier);
        if (role[i] == 1) {
            // Components interleaved; an element group takes each element's own value.
            const Group& g = *group_at[i];
            const std::size_t c = g.members.size();
            std::vector<std::vector<float>> parts;
            for (std::size_t m : g.members)
                parts.push_back(v.node() ? reader.node_reals(dir[m].index, part)
                                         : reader.element_reals(dir[m].index, part).values);
            std::vector<float> joined(c * parts[0].size());
            for (std::size_t k = 0; k < parts[0].size(); ++k)
                for (std::size_t q = 0; q < c; ++q) joined[c * k + q] = k < parts[q].size() ? parts[q][k] : kNaN;
            add(v.node(), names(g.name, v.qualifier, v.index), static_cast<int>(c)).reals = std::move(joined);
            continue;
        }
        switch (v.kind) {
        case qvhost::kNodeReal: add(true, names(v.name, v.qualifier, v.index)).reals = reader.node_reals(v.index, part); break;
        case qvhost::kNodeInt: add(true, names(v.name, v.qualifier, v.index)).ints = reader.node_ints(v.index, part); break;
        case qvhost::kElementInt: {
            Column& c = add(false, names(v.name, v.qualifier, v.index));
            c.ints = reader.element_ints(v.index, part);
            c.entry = i;
            break;
        }
        case qvhost::kElementReal: {
            qvhost::ElementReals r = reader.element_reals(v.index, part);
            const std::string name = names(v.name, v.qualifier, v.index);
            add(false, name).reals = std::move(r.values);
            // The per-material values of the structured elements.
            const std::size_t per = write ? r.materials.size() : 0;
            for (std::size_t k = 0; k < per; ++k) {
                std::vector<float> column(n_cells, kNaN);
                for (std::size_t e = 0; e * per + k < r.material_values.size() && e < n_cells; ++e)
                    column[e] = r.material_values[e * per + k];
                add(false, names.unique(name + "[" + analysis.materials()[r.materials[k] - 1].name + "]")).reals =
                    std::move(column);
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
            add(false, names.unique("material_fraction[" + mat.name + "]")).reals = std::move(fractions);
        }
    // Eroded elements hidden: the element variable EROSION not 0 (read
    // here only when not exported).
    flush();
    if (!o.show_eroded) {
        for (std::size_t i = 0; i < dir.size(); ++i)
            if (dir[i].kind == qvhost::kElementInt && dir[i].index == erosion && !erosion_seen[i])
                note_erosion(reader.element_ints(dir[i].index, std::abs(dir[i].qualifier)));
        if (std::find(hidden.begin(), hidden.end(), kHiddenCell) != hidden.end())
            add(false, "vtkGhostType").bytes = std::move(hidden);
        flush();
    }
    // The rigid body and joint sections are not exported, but a file cut
    // inside them is as damaged as one cut anywhere else: reading the first
    // body and joint reads each section whole.
    std::array<float, 12> body;
    std::array<float, 16> joint;
    reader.rigid_body(1, body);
    reader.joint(1, 1, joint);
    if (!write) return 0;
    const qvhost::Step& at = analysis.steps()[static_cast<std::size_t>(step)];
    return writer.finish(selection.part(), at.time, at.cycle, path);
}

// Asks the count of every array export_step reads of `step`, reading none:
// the library refuses a count beyond what the cycle file can inflate to, so
// a hostile count fails here, before the geometry or a column is sized from
// the model (count queries inflate nothing).
void check_counts(const Analysis& analysis, std::int32_t step, const Selection& selection, bool show_eroded) {
    const CycleReader reader(analysis, step);
    const std::vector<Variable>& dir = reader.variables();
    const std::vector<bool> chosen = selection.choose(dir, component_groups(analysis.library(), dir));
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
    if (!show_eroded) {
        const std::int32_t erosion = analysis.library().find_variable(false, kErosion);
        for (const Variable& v : dir)
            if (v.kind == qvhost::kElementInt && v.index == erosion)
                reader.count_values({QVRES_ELEMENT_INTEGERS, v.index, std::abs(v.qualifier)}, "element values");
    }
}

// Every --vars name must name something in one of the exported steps.
void check_selection(const Analysis& analysis, const std::vector<std::int32_t>& steps, const Selection& selection) {
    std::set<std::string> used;
    for (const std::string& t : selection.tokens())
        if (Selection::names_special(t)) used.insert(t);
    for (std::int32_t step : steps) {
        try {
            const CycleReader reader(analysis, step);
            selection.choose(reader.variables(), component_groups(analysis.library(), reader.variables()), &used);
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

std::vector<Group> component_groups(const qvhost::ResultsLibrary& library, const std::vector<Variable>& dir) {
    std::vector<Group> out;
    auto find = [&](const Variable& like, std::int32_t index) -> std::size_t {
        for (std::size_t j = 0; j < dir.size(); ++j)
            if (dir[j].kind == like.kind && dir[j].qualifier == like.qualifier && dir[j].index == index) return j;
        return dir.size();
    };
    for (std::size_t i = 0; i < dir.size(); ++i) {
        const Variable& v = dir[i];
        qvres_catalogue_entry e{};
        if (!v.real() || !library.catalogue_entry(true, v.index, e) || e.component != 0 || e.member[0] != v.index)
            continue;
        const bool vector = e.group == QVRES_GROUP_VECTOR && e.members == 3 && v.kind == qvhost::kNodeReal;
        const bool tensor = e.group == QVRES_GROUP_SYMMETRIC_TENSOR && e.members == 6;
        if (!vector && !tensor) continue;
        Group g{qvhost::group_name_as_shown(e), {i}};
        for (std::int32_t m = 1; m < e.members; ++m) g.members.push_back(find(v, e.member[m]));
        if (std::all_of(g.members.begin(), g.members.end(), [&](std::size_t k) { return k < dir.size(); }))
            out.push_back(std::move(g));
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

ExportReport export_envelope(const Analysis& analysis, const ExportOptions& o, const std::string& variable,
                             bool minimum) {
    if (analysis.steps().empty()) throw Error("the analysis has no steps");
    // VAR in the first step that lists it (the first entry of that name or
    // index, of any kind and part), steps that cannot be read passed over
    // with --keep-going.
    Variable found;
    const std::int64_t listed =
        qvhost::first_listing(analysis, variable, 0, qvhost::Want::First, o.keep_going, found);
    if (listed < 0)
        throw Error("--envelope: " + variable +
                        " names no node or element variable of any step (see: qvres-inspect vars FILE STEP)",
                    QVRES_E_ARGUMENT);
    const Variable* const v = &found;
    const CycleReader reader(analysis, static_cast<std::int32_t>(listed));
    const qvres_values kind = v->node() ? (v->integer() ? QVRES_NODE_INTEGERS : QVRES_NODE_REALS)
                                        : (v->integer() ? QVRES_ELEMENT_INTEGERS : QVRES_ELEMENT_REALS);
    const qvres_request request{kind, v->index, std::abs(v->qualifier)};
    const unsigned threads = o.threads == 0 ? qvhost::usable_processors() : o.threads;
    qvhost::Series series;
    series.request = request;
    series.last = static_cast<std::int64_t>(analysis.steps().size()) - 1;
    series.threads = static_cast<std::int32_t>(std::min(threads, 256u));
    series.skip_failed_steps = o.keep_going;
    std::vector<qvhost::SeriesGap> gaps;
    qvhost::Extremes envelope = analysis.envelope(series, minimum ? QVRES_MINIMUM : QVRES_MAXIMUM, gaps);
    // One value per node, or per element: each element's own value.
    std::vector<double> values = std::move(envelope.values);
    std::vector<std::int64_t> at = std::move(envelope.steps);
    const qvhost::Model& m = analysis.model();
    if (v->element()) {
        const qvhost::ElementLayout layout = reader.layout(request, "element values");
        if (static_cast<std::int64_t>(values.size()) != layout.size)
            throw Error(analysis.files().path + ": the envelope of " + v->name + " holds " + std::to_string(values.size()) +
                            " values where the model lays out " + std::to_string(layout.size),
                        QVRES_E_DAMAGED);
        values = qvhost::element_values(layout, values);
        at = qvhost::element_values(layout, at);
    }
    const auto expected = static_cast<std::size_t>(v->node() ? m.nodes() : m.elements());
    if (values.size() != expected)
        throw Error(analysis.files().path + ": the envelope of " + v->name + " holds " + std::to_string(values.size()) +
                        " values where the model has " + std::to_string(expected),
                    QVRES_E_DAMAGED);
    std::vector<double> times(at.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < at.size(); ++k)
        if (at[k] >= 0 && static_cast<std::size_t>(at[k]) < analysis.steps().size())
            times[k] = analysis.steps()[static_cast<std::size_t>(at[k])].time;

    const std::string shown = (v->name.empty() ? "VAR" + std::to_string(v->index) : v->name) +
                              (std::abs(v->qualifier) != 1 ? "_part" + std::to_string(std::abs(v->qualifier)) : "");
    const std::string name = shown + (minimum ? "_min" : "_max");
    std::vector<Column> columns(2);
    columns[0].name = name, columns[0].points = v->node();
    // Integers stay integers; where no cycle gave one, QVRES_NO_INTEGER
    // (the time array says so with NaN).
    for (const double x : values)
        if (envelope.integers)
            columns[0].ints.push_back(x == x ? static_cast<std::int32_t>(x) : QVRES_NO_INTEGER);
        else
            columns[0].reals.push_back(static_cast<float>(x));
    columns[1].name = name + "_time", columns[1].points = v->node(), columns[1].doubles = std::move(times);
    std::error_code ec;
    std::filesystem::create_directories(o.outdir, ec);
    if (ec) throw Error("cannot create " + o.outdir + ": " + ec.message());
    Shared shared = build_shared(analysis, o, threads);
    std::promise<const Shared*> ready;
    ready.set_value(&shared);
    const qvhost::Step& last = analysis.steps().back();
    const std::string path = o.outdir + "/" + analysis.files().run + "_envelope";
    ExportReport report;
    report.warnings = qvhost::gap_warnings(analysis, gaps, shown);
    report.steps = analysis.steps().size();
    report.points = static_cast<std::size_t>(m.nodes());
    report.cells = static_cast<std::size_t>(m.elements());
    const std::shared_future<const Shared*> geometry = ready.get_future().share();
    StepWriter writer(geometry, o);
    for (const Column& c : columns) writer.add(c);
    report.bytes = writer.finish(true, last.time, last.cycle, path);
    report.files.push_back(path + (o.single_vtu ? ".vtu" : ".vtm"));
    return report;
}

ExportReport export_analysis(const Analysis& analysis, const ExportOptions& o,
                             const std::function<void(std::size_t)>& progress) {
    std::vector<std::int32_t> steps = o.steps;
    if (steps.empty())
        for (const qvhost::Step& s : analysis.steps()) steps.push_back(s.index);
    if (steps.empty()) throw Error("the analysis has no steps to export");
    for (std::int32_t s : steps) analysis.require_step(s);
    const unsigned threads = o.threads == 0 ? qvhost::usable_processors() : o.threads;

    const Selection selection(analysis.library(), o.vars);
    if (!o.vars.empty()) check_selection(analysis, steps, selection);
    // Every step's counts before anything is built: the geometry is made
    // while the first steps are read, so a step's own read comes too late.
    // A step refused here is passed over (--keep-going) or ends the export.
    std::vector<std::string> refused(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        try {
            check_counts(analysis, steps[i], selection, o.show_eroded);
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
        names[i] = run + "_" + number;
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
    qvhost::run_workers(std::min<std::size_t>(threads, steps.size() + 1), work);
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
        const std::string file = names[i] + (o.single_vtu ? ".vtu" : ".vtm");
        report.files.push_back(o.outdir + "/" + file);
        collection.push_back({analysis.steps()[static_cast<std::size_t>(steps[i])].time, file});
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
