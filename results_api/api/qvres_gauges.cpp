// qvres.h: gauges, points mapped to the solid holding them and to their
// nearest node.
//
// The solids (structured cells, then unstructured solids) are binned once
// per call by their bounding boxes on a uniform grid; a point tests only the
// solids of its bin. Each solid is split into tetrahedra: a hexahedron into
// six around its 0-6 diagonal, so that two neighbouring cells of a
// structured part split their shared face alike and no point falls between
// them. Nothing here is sized from a count the library has not bounded: the
// grid has at most kMostBins bins, and a solid spanning more than
// kMostBinsPerSolid of them (a hostile or stretched one) goes to a list that
// every point tests, so the bins hold at most that many entries per solid.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "api/qvres_handles.h"
#include "model/units.h"

using qv::api::guarded_status;
using qv::api::report;
using qv::api::succeed;

namespace {

constexpr std::int64_t kMostBins = std::int64_t{1} << 22;
constexpr std::int64_t kMostBinsPerSolid = 64;
// A point within this fraction of a tetrahedron (in barycentric terms) of
// its faces counts as inside, and further for the rounding of the stored
// coordinates (floats) relative to the tetrahedron's size: points on shared
// faces find an element. Never beyond kMostSlack.
constexpr double kInside = 1e-7;
constexpr double kMostSlack = 1e-3;

using Vec = std::array<double, 3>;

struct Box {
    Vec lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
           std::numeric_limits<double>::infinity()};
    Vec hi{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
           -std::numeric_limits<double>::infinity()};
    void add(const Vec& p) {
        for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], p[a]), hi[a] = std::max(hi[a], p[a]);
    }
    bool empty() const { return !(lo[0] <= hi[0]); }
};

bool finite(const Vec& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

// A grid over a box of about `wanted` bins, nearly cubic, at most
// kMostBins; along each axis its bins divide the box's extent evenly.
struct Grid {
    Vec lo{0, 0, 0};
    Vec edge{1, 1, 1};
    std::int64_t dims[3] = {1, 1, 1};

    void fit(const Box& box, std::int64_t wanted) {
        if (box.empty()) return;
        wanted = std::clamp<std::int64_t>(wanted, 1, kMostBins / 8);
        lo = box.lo;
        const double ext[3] = {box.hi[0] - box.lo[0], box.hi[1] - box.lo[1], box.hi[2] - box.lo[2]};
        const double longest = std::max({ext[0], ext[1], ext[2]});
        if (!(longest > 0) || !std::isfinite(longest)) return;  // one bin
        double side = longest / std::cbrt(static_cast<double>(wanted));
        // A flat or thin box has few bins across: shrink the side until the
        // count comes near the one wanted.
        for (int round = 0; round < 40; ++round) {
            double n = 1;
            for (int a = 0; a < 3; ++a) n *= std::max(1.0, std::ceil(ext[a] / side));
            if (n * 2 > static_cast<double>(wanted)) break;
            side *= 0.8;
        }
        // Rounding up never takes the count past kMostBins.
        do {
            for (int a = 0; a < 3; ++a) {
                dims[a] = static_cast<std::int64_t>(std::clamp(std::ceil(ext[a] / side), 1.0, 2048.0));
                edge[a] = ext[a] > 0 ? ext[a] / static_cast<double>(dims[a]) : 1.0;
            }
            side *= 1.25;
        } while (bins() > kMostBins);
    }
    std::int64_t bins() const { return dims[0] * dims[1] * dims[2]; }
    // Coordinate x along axis `a` in bins from the grid's low corner.
    double along(int a, double x) const { return (x - lo[a]) / edge[a]; }
    // The bin along axis `a` of coordinate x, clamped into the grid (NaN to 0).
    std::int64_t at(int a, double x) const {
        const double t = along(a, x);
        if (!(t >= 0)) return 0;
        if (t >= static_cast<double>(dims[a])) return dims[a] - 1;
        return static_cast<std::int64_t>(t);
    }
    std::int64_t index(std::int64_t i, std::int64_t j, std::int64_t k) const {
        return (i * dims[1] + j) * dims[2] + k;
    }
};

// Items binned by their boxes: bin b holds items[first[b] .. first[b + 1]),
// in item order; `wide` the items that span too many bins.
struct Bins {
    Grid grid;
    std::vector<std::int64_t> first;
    std::vector<std::uint32_t> items;
    std::vector<std::uint32_t> wide;

    // `box_of(item, box)` gives an item's box, false to leave it out.
    template <class BoxOf>
    void build(std::int64_t count, const Box& whole, std::int64_t wanted, BoxOf box_of) {
        grid.fit(whole, wanted);
        first.assign(static_cast<std::size_t>(grid.bins() + 1), 0);
        // Pass 0 counts, pass 1 fills.
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<std::int64_t> next;
            if (pass == 1) {
                for (std::size_t b = 1; b < first.size(); ++b) first[b] += first[b - 1];
                items.resize(static_cast<std::size_t>(first.back()));
                next.assign(first.begin(), first.end() - 1);
            }
            for (std::int64_t item = 0; item < count; ++item) {
                Box box;
                if (!box_of(item, box)) continue;
                std::int64_t lo[3], hi[3];
                std::int64_t span = 1;
                for (int a = 0; a < 3; ++a) {
                    lo[a] = grid.at(a, box.lo[a]);
                    hi[a] = grid.at(a, box.hi[a]);
                    span *= hi[a] - lo[a] + 1;
                }
                if (span > kMostBinsPerSolid) {
                    if (pass == 1) wide.push_back(static_cast<std::uint32_t>(item));
                    continue;
                }
                for (std::int64_t i = lo[0]; i <= hi[0]; ++i)
                    for (std::int64_t j = lo[1]; j <= hi[1]; ++j)
                        for (std::int64_t k = lo[2]; k <= hi[2]; ++k) {
                            const std::size_t b = static_cast<std::size_t>(grid.index(i, j, k));
                            if (pass == 0)
                                ++first[b + 1];
                            else
                                items[static_cast<std::size_t>(next[b]++)] = static_cast<std::uint32_t>(item);
                        }
            }
        }
    }
};

double det(const Vec& a, const Vec& b, const Vec& c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
           a[2] * (b[0] * c[1] - b[1] * c[0]);
}
Vec minus(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

// Whether tetrahedron (a, b, c, d), of either orientation, holds p. A flat
// one holds nothing.
bool in_tetrahedron(const Vec& p, const Vec& a, const Vec& b, const Vec& c, const Vec& d) {
    const Vec ab = minus(b, a), ac = minus(c, a), ad = minus(d, a), ap = minus(p, a);
    const double v = det(ab, ac, ad);
    if (!(std::fabs(v) > 0) || !std::isfinite(v)) return false;
    const double l1 = det(ap, ac, ad) / v, l2 = det(ab, ap, ad) / v, l3 = det(ab, ac, ap) / v;
    const double l0 = 1.0 - l1 - l2 - l3;
    double most = 0;
    for (const Vec* x : {&a, &b, &c, &d})
        most = std::max({most, std::fabs((*x)[0]), std::fabs((*x)[1]), std::fabs((*x)[2])});
    const double slack =
        std::min(kMostSlack, kInside + 8 * std::numeric_limits<float>::epsilon() * most / std::cbrt(std::fabs(v)));
    return l0 >= -slack && l1 >= -slack && l2 >= -slack && l3 >= -slack;
}

// Tetrahedra of each solid kind, by corner (VTK corner order).
constexpr int kHexTets[6][4] = {{0, 1, 2, 6}, {0, 2, 3, 6}, {0, 3, 7, 6},
                                {0, 7, 4, 6}, {0, 4, 5, 6}, {0, 5, 1, 6}};
constexpr int kWedgeTets[3][4] = {{0, 1, 2, 3}, {1, 2, 3, 4}, {2, 3, 4, 5}};
constexpr int kPyramidTets[2][4] = {{0, 1, 2, 4}, {0, 2, 3, 4}};
constexpr int kTetTets[1][4] = {{0, 1, 2, 3}};

struct StructuredPart {
    std::int32_t part = 0;
    std::int64_t i = 0, j = 0, k = 0;
    std::int64_t first_slot = 0;  // its first slot (and node) in model order
    std::int64_t first_cell = 0;  // its first cell among the solids
    std::int64_t cells() const { return (i - 1) * (j - 1) * (k - 1); }
};

// The model as the gauges see it: node coordinates in metres and the solids.
struct Model {
    // The analysis's node coordinates and the factor to metres, applied as
    // qvres_get_coordinates applies it (no copy: fresh memory is what costs
    // most here).
    const float* xyz = nullptr;
    float to_metres = 1.0f;
    std::int64_t nodes = 0, slots = 0;
    std::vector<StructuredPart> blocks;  // structured parts with cells
    std::int64_t structured_cells = 0;
    std::vector<std::int32_t> connectivity;
    std::vector<qvres_cell> cells;
    std::vector<std::int32_t> unstructured_part;  // by element, 0 none
    std::vector<std::uint32_t> solids;            // unstructured elements that are solids

    std::int64_t solid_count() const { return structured_cells + static_cast<std::int64_t>(solids.size()); }

    Vec node(std::int64_t n) const {
        const float* c = xyz + 3 * n;
        return {c[0] * to_metres, c[1] * to_metres, c[2] * to_metres};
    }

    // The corners of solid `s` (model node indices) and its tetrahedra.
    int corners(std::int64_t s, std::int64_t out[8], const int (**tets)[4], int& tet_count) const {
        if (s < structured_cells) {
            const auto b = std::upper_bound(blocks.begin(), blocks.end(), s,
                                            [](std::int64_t x, const StructuredPart& p) { return x < p.first_cell; }) - 1;
            const std::int64_t local = s - b->first_cell;
            const std::int64_t nk = b->k - 1, nj = b->j - 1;
            const std::int64_t ci = local / (nj * nk), cj = local / nk % nj, ck = local % nk;
            const std::int64_t di = b->j * b->k, dj = b->k;
            const std::int64_t low = b->first_slot + ci * di + cj * dj + ck;
            const std::int64_t offsets[8] = {0, di, di + dj, dj, 1, di + 1, di + dj + 1, dj + 1};
            for (int c = 0; c < 8; ++c) out[c] = low + offsets[c];
            *tets = kHexTets;
            tet_count = 6;
            return 8;
        }
        const std::size_t e = solids[static_cast<std::size_t>(s - structured_cells)];
        const qvres_cell& cell = cells[e];
        switch (cell.kind) {
        case QVRES_CELL_HEXAHEDRON: *tets = kHexTets, tet_count = 6; break;
        case QVRES_CELL_WEDGE: *tets = kWedgeTets, tet_count = 3; break;
        case QVRES_CELL_PYRAMID: *tets = kPyramidTets, tet_count = 2; break;
        default: *tets = kTetTets, tet_count = 1; break;
        }
        for (int c = 0; c < cell.nodes; ++c) out[c] = slots + connectivity[8 * e + static_cast<std::size_t>(c)] - 1;
        return cell.nodes;
    }

    bool box_of(std::int64_t s, Box& box) const {
        std::int64_t n[8];
        const int (*tets)[4] = nullptr;
        int tet_count = 0;
        const int count = corners(s, n, &tets, tet_count);
        for (int c = 0; c < count; ++c) {
            const Vec p = node(n[c]);
            if (!finite(p)) return false;
            box.add(p);
        }
        return true;
    }

    bool holds(std::int64_t s, const Vec& p) const {
        std::int64_t n[8];
        const int (*tets)[4] = nullptr;
        int tet_count = 0;
        const int count = corners(s, n, &tets, tet_count);
        Vec v[8];
        Box box;
        for (int c = 0; c < count; ++c) box.add(v[c] = node(n[c]));
        // A quick refusal, with at least the slack of the tetrahedra.
        for (int a = 0; a < 3; ++a) {
            const double slack = (box.hi[a] - box.lo[a]) * 2 * kMostSlack;
            if (p[a] < box.lo[a] - slack || p[a] > box.hi[a] + slack) return false;
        }
        for (int t = 0; t < tet_count; ++t)
            if (in_tetrahedron(p, v[tets[t][0]], v[tets[t][1]], v[tets[t][2]], v[tets[t][3]])) return true;
        return false;
    }
};

qvres_status load(const qvres_analysis* a, bool elements, Model& m, qvres_error* error) {
    qvres_model info{};
    if (const qvres_status st = qvres_get_model(a, &info, error); st != QVRES_OK) return st;
    m.nodes = info.nodes;
    const qv::model::Analysis& an = a->analysis;
    if (static_cast<std::int64_t>(an.coordinates.size() / 3) < info.nodes)
        return report(error, QVRES_E_DAMAGED, "%s: coordinates for %lld of %lld nodes", a->base_file.c_str(),
                      static_cast<long long>(an.coordinates.size() / 3), static_cast<long long>(info.nodes));
    m.xyz = an.coordinates.data();
    constexpr std::int32_t kLength = 8;  // dimension code of length
    m.to_metres = qv::model::UnitScale(an.unit_codes).factor(kLength);
    for (std::int64_t p = 1; p <= info.structured_parts; ++p) {
        qvres_part part{};
        if (const qvres_status st = qvres_get_part(a, p, &part, error); st != QVRES_OK) return st;
        StructuredPart b;
        b.part = static_cast<std::int32_t>(p);
        b.i = part.extent[0], b.j = part.extent[1], b.k = part.extent[2];
        b.first_slot = m.slots;
        m.slots += b.i * b.j * b.k;
        if (m.slots > info.nodes)
            return report(error, QVRES_E_DAMAGED, "part %lld: its nodes end at %lld of the %lld with coordinates",
                          static_cast<long long>(p), static_cast<long long>(m.slots),
                          static_cast<long long>(info.nodes));
        if (b.i < 2 || b.j < 2 || b.k < 2) continue;
        b.first_cell = m.structured_cells;
        m.structured_cells += b.cells();
        m.blocks.push_back(b);
    }
    if (!elements) return QVRES_OK;
    const std::int64_t e = info.unstructured_elements;
    m.connectivity.resize(static_cast<std::size_t>(8 * e));
    m.cells.resize(static_cast<std::size_t>(e));
    if (const qvres_status st = qvres_get_connectivity(a, m.connectivity.data(), 8 * e, error); st != QVRES_OK)
        return st;
    if (const qvres_status st = qvres_get_cells(a, m.cells.data(), e, error); st != QVRES_OK) return st;
    m.unstructured_part.assign(static_cast<std::size_t>(e), 0);
    for (std::int64_t p = info.structured_parts + 1; p <= info.structured_parts + info.unstructured_parts; ++p) {
        qvres_part part{};
        if (const qvres_status st = qvres_get_part(a, p, &part, error); st != QVRES_OK) return st;
        std::vector<std::int32_t> rows(static_cast<std::size_t>(part.elements));
        if (const qvres_status st = qvres_get_part_elements(a, p, rows.data(), part.elements, error);
            st != QVRES_OK)
            return st;
        for (const std::int32_t row : rows)
            if (row >= 1 && row <= e) m.unstructured_part[static_cast<std::size_t>(row - 1)] = static_cast<std::int32_t>(p);
    }
    const std::int64_t unstructured_nodes = info.nodes - m.slots;
    for (std::int64_t x = 0; x < e; ++x) {
        const qvres_cell& c = m.cells[static_cast<std::size_t>(x)];
        const bool solid = (c.kind == QVRES_CELL_HEXAHEDRON && c.nodes == 8) ||
                           (c.kind == QVRES_CELL_WEDGE && c.nodes == 6) ||
                           (c.kind == QVRES_CELL_PYRAMID && c.nodes == 5) ||
                           (c.kind == QVRES_CELL_TETRAHEDRON && c.nodes == 4);
        if (!solid) continue;
        for (int n = 0; n < c.nodes; ++n) {
            const std::int32_t node = m.connectivity[static_cast<std::size_t>(8 * x + n)];
            if (node < 1 || node > unstructured_nodes)
                return report(error, QVRES_E_DAMAGED, "unstructured element %lld names node %d of %lld",
                              static_cast<long long>(x + 1), node, static_cast<long long>(unstructured_nodes));
        }
        m.solids.push_back(static_cast<std::uint32_t>(x));
    }
    return QVRES_OK;
}

// The lowest solid of `bins` that holds p, or -1.
std::int64_t find_solid(const Model& m, const Bins& bins, const Vec& p) {
    std::int64_t best = -1;
    for (const std::uint32_t s : bins.wide)
        if (m.holds(s, p)) {
            best = s;
            break;
        }
    const Grid& g = bins.grid;
    for (int a = 0; a < 3; ++a) {
        const double t = g.along(a, p[a]);
        // Beyond the grid by more than the slack of a face: no bin holds it
        // (the clamped bin's solids would be tested in vain).
        if (t < -2 * kMostSlack || t > static_cast<double>(g.dims[a]) + 2 * kMostSlack) return best;
    }
    const std::size_t b = static_cast<std::size_t>(g.index(g.at(0, p[0]), g.at(1, p[1]), g.at(2, p[2])));
    for (std::int64_t x = bins.first[b]; x < bins.first[b + 1]; ++x) {
        const std::uint32_t s = bins.items[static_cast<std::size_t>(x)];
        if (best >= 0 && s >= best) break;
        if (m.holds(s, p)) {
            best = s;
            break;
        }
    }
    return best;
}

// The squared distance of a and b, both scaled by `scale`, a power of two
// (see distance_scale).
double distance2(const Vec& a, const Vec& b, double scale) {
    const double x = a[0] * scale - b[0] * scale, y = a[1] * scale - b[1] * scale, z = a[2] * scale - b[2] * scale;
    return x * x + y * y + z * z;
}

// Squares of differences of coordinates beyond about 1e154 are infinite, and
// infinite distances never compare nearer: such a point would find no node.
// Distances are then taken between coordinates scaled by a power of two
// (exactly, so that they order as the true ones do) that brings the largest
// coordinate of the point and the nodes (`reach`) below 2^500; otherwise
// by 1, as they are.
double distance_scale(const Vec& p, double reach) {
    const double most = std::max({std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2]), reach});
    constexpr int kTop = 500;
    if (!(most >= std::ldexp(1.0, kTop))) return 1.0;
    return std::ldexp(1.0, kTop - 1 - std::ilogb(most));
}

// The nearest node to p (lowest index on ties), searching the bins in
// rings of growing size around p's bin until no nearer node can be left.
void nearest_node(const Model& m, const Bins& bins, const Vec& p, double scale, std::int64_t& node, double& d2) {
    node = -1;
    d2 = std::numeric_limits<double>::infinity();
    const auto take = [&](std::uint32_t n) {
        const double d = distance2(m.node(n), p, scale);
        if (d < d2 || (d == d2 && n < node)) d2 = d, node = n;
    };
    for (const std::uint32_t n : bins.wide) take(n);
    const Grid& g = bins.grid;
    const std::int64_t home[3] = {g.at(0, p[0]), g.at(1, p[1]), g.at(2, p[2])};
    const auto visit = [&](std::int64_t i, std::int64_t j, std::int64_t k) {
        const std::size_t b = static_cast<std::size_t>(g.index(i, j, k));
        for (std::int64_t x = bins.first[b]; x < bins.first[b + 1]; ++x) take(bins.items[static_cast<std::size_t>(x)]);
    };
    // The bins within r of home along axis a (`inner`: within r - 1).
    const auto lo = [&](int a, std::int64_t r) { return std::max<std::int64_t>(0, home[a] - r); };
    const auto hi = [&](int a, std::int64_t r) { return std::min<std::int64_t>(g.dims[a] - 1, home[a] + r); };
    const double nearest_edge = std::min({g.edge[0], g.edge[1], g.edge[2]});
    for (std::int64_t r = 0;; ++r) {
        // Ring r, the bins whose largest index difference from home is r,
        // face by face, each bin of the grid once over all rings.
        if (r == 0) {
            visit(home[0], home[1], home[2]);
        } else {
            for (const std::int64_t i : {home[0] - r, home[0] + r}) {
                if (i < 0 || i >= g.dims[0]) continue;
                for (std::int64_t j = lo(1, r); j <= hi(1, r); ++j)
                    for (std::int64_t k = lo(2, r); k <= hi(2, r); ++k) visit(i, j, k);
            }
            for (const std::int64_t j : {home[1] - r, home[1] + r}) {
                if (j < 0 || j >= g.dims[1]) continue;
                for (std::int64_t i = lo(0, r - 1); i <= hi(0, r - 1); ++i)
                    for (std::int64_t k = lo(2, r); k <= hi(2, r); ++k) visit(i, j, k);
            }
            for (const std::int64_t k : {home[2] - r, home[2] + r}) {
                if (k < 0 || k >= g.dims[2]) continue;
                for (std::int64_t i = lo(0, r - 1); i <= hi(0, r - 1); ++i)
                    for (std::int64_t j = lo(1, r - 1); j <= hi(1, r - 1); ++j) visit(i, j, k);
            }
        }
        bool covered = true;
        for (int a = 0; a < 3; ++a) covered = covered && home[a] - r <= 0 && home[a] + r >= g.dims[a] - 1;
        if (covered) break;
        // Every bin of ring r + 1 is at least r bin edges away.
        const double reach = static_cast<double>(r) * nearest_edge * scale;
        if (node >= 0 && reach * reach > d2) break;
    }
}

qvres_status locate(const qvres_analysis* a, const double* points, std::int64_t count, std::int32_t find,
                    qvres_gauge* gauges, std::int64_t* failed_point, qvres_error* error) {
    const bool elements = (find & QVRES_GAUGE_ELEMENTS) != 0, nodes = (find & QVRES_GAUGE_NODES) != 0;
    for (std::int64_t p = 0; p < count; ++p) {
        const Vec x{points[3 * p], points[3 * p + 1], points[3 * p + 2]};
        if (!finite(x)) {
            if (failed_point) *failed_point = p;
            return report(error, QVRES_E_ARGUMENT, "point %lld (%g, %g, %g): a coordinate is not finite",
                          static_cast<long long>(p), x[0], x[1], x[2]);
        }
    }
    Model m;
    if (const qvres_status st = load(a, elements, m, error); st != QVRES_OK) return st;
    if (m.solid_count() >= std::numeric_limits<std::uint32_t>::max() ||
        m.nodes >= std::numeric_limits<std::uint32_t>::max())
        return report(error, QVRES_E_NO_MEMORY, "%lld solids and %lld nodes are beyond what gauges bin",
                      static_cast<long long>(m.solid_count()), static_cast<long long>(m.nodes));
    Bins solid_bins, node_bins;
    double node_reach = 0;  // the largest magnitude of a finite node coordinate
    if (elements) {
        Box whole;
        for (std::int64_t s = 0; s < m.solid_count(); ++s) {
            Box b;
            if (m.box_of(s, b)) whole.add(b.lo), whole.add(b.hi);
        }
        // About eight solids per bin, a solid in one to eight bins: few
        // entries, since fresh memory costs more than testing a candidate.
        // Each solid is binned with the slack it holds points with, so a
        // point just beyond its box, in the next bin, still meets it.
        solid_bins.build(m.solid_count(), whole, m.solid_count() / 8, [&m](std::int64_t s, Box& b) {
            if (!m.box_of(s, b)) return false;
            for (int a = 0; a < 3; ++a) {
                const double slack = (b.hi[a] - b.lo[a]) * 2 * kMostSlack;
                b.lo[a] -= slack, b.hi[a] += slack;
            }
            return true;
        });
    }
    if (nodes) {
        Box whole;
        for (std::int64_t n = 0; n < m.nodes; ++n)
            if (finite(m.node(n))) whole.add(m.node(n));
        if (!whole.empty())
            for (int a = 0; a < 3; ++a) node_reach = std::max({node_reach, std::fabs(whole.lo[a]), std::fabs(whole.hi[a])});
        node_bins.build(m.nodes, whole, m.nodes / 4, [&m](std::int64_t n, Box& b) {
            const Vec x = m.node(n);
            if (!finite(x)) return false;
            b.add(x);
            return true;
        });
    }
    for (std::int64_t p = 0; p < count; ++p) {
        const Vec x{points[3 * p], points[3 * p + 1], points[3 * p + 2]};
        qvres_gauge g{};
        g.element = -1;
        g.slot = -1;
        g.node = -1;
        g.node_distance = std::numeric_limits<double>::quiet_NaN();
        if (elements) {
            const std::int64_t s = find_solid(m, solid_bins, x);
            if (s < 0) {
                if (failed_point) *failed_point = p;
                return report(error, QVRES_E_ARGUMENT, "point %lld (%.9g, %.9g, %.9g) m lies in no element",
                              static_cast<long long>(p), x[0], x[1], x[2]);
            }
            if (s < m.structured_cells) {
                const auto b = std::upper_bound(m.blocks.begin(), m.blocks.end(), s,
                                                [](std::int64_t v, const StructuredPart& q) { return v < q.first_cell; }) - 1;
                const std::int64_t local = s - b->first_cell, nk = b->k - 1, nj = b->j - 1;
                g.part = b->part;
                g.structured = 1;
                g.cell[0] = local / (nj * nk) + 2;
                g.cell[1] = local / nk % nj + 2;
                g.cell[2] = local % nk + 2;
                g.slot = b->first_slot + ((g.cell[0] - 1) * b->j + (g.cell[1] - 1)) * b->k + (g.cell[2] - 1);
            } else {
                const std::uint32_t e = m.solids[static_cast<std::size_t>(s - m.structured_cells)];
                g.part = m.unstructured_part[e];
                g.element = e;
                g.slot = m.slots + e;
            }
        }
        if (nodes) {
            double d2 = 0;
            const double scale = distance_scale(x, node_reach);
            nearest_node(m, node_bins, x, scale, g.node, d2);
            if (g.node >= 0) g.node_distance = std::sqrt(d2) / scale;
        }
        gauges[p] = g;
    }
    return succeed(error);
}

}  // namespace

extern "C" {

QVRES_EXPORT qvres_status QVRES_CALL qvres_locate_points(const qvres_analysis* a, const double* points,
                                                         int64_t point_count, int32_t find,
                                                         qvres_gauge* gauges, int64_t capacity,
                                                         int64_t* failed_point, qvres_error* error) {
    if (failed_point) *failed_point = -1;
    if (!a) return report(error, QVRES_E_ARGUMENT, "no analysis");
    if (point_count < 0 || (!points && point_count != 0))
        return report(error, QVRES_E_ARGUMENT, "no points");
    if (find < 1 || find > (QVRES_GAUGE_ELEMENTS | QVRES_GAUGE_NODES))
        return report(error, QVRES_E_ARGUMENT, "find %d asks for neither elements nor nodes",
                      static_cast<int>(find));
    if (!gauges && capacity != 0) return report(error, QVRES_E_ARGUMENT, "no gauge records");
    if (capacity < point_count)
        return report(error, QVRES_E_CAPACITY, "room for %lld gauges where there are %lld points",
                      static_cast<long long>(capacity), static_cast<long long>(point_count));
    return guarded_status(error, [&] { return locate(a, points, point_count, find, gauges, failed_point, error); });
}

}  // extern "C"
