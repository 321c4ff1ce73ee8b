// Gauges: points mapped to the element holding them and to their nearest
// node. The expected elements come from how the test built the geometry
// (points at known cell centres, on known faces, outside), the expected
// nodes from a search over every node.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "qvres/qvres_support.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"

namespace {

using namespace qvtest;
using P = std::array<double, 3>;

// Node layers of part 1 along I, J, K in mm (uneven), and the shear and
// offset that make its cells slanted parallelepipeds.
const std::vector<double> kX = {0, 10, 25, 45}, kY = {0, 5, 20}, kZ = {0, 7, 8, 30};
P part1(double x, double y, double z) { return {x + 0.4 * y - 0.2 * z, y + 0.1 * z, z - 0.3 * x}; }
// Part 3, one 2x2x2 cell, at 100..110 mm; part 2, a plane of I = 1 across
// part 1 (it has no cells and holds no point).
constexpr double kCube = 100;

// The unstructured nodes (mm) and elements: a tetrahedron, a wedge, a
// pyramid, a hexahedron overlapping part 1's first cell, a quadrilateral
// shell, a flat hexahedron and an inverted tetrahedron.
const std::vector<P> kFree = {
    {200, 0, 0},  {210, 0, 0},  {200, 10, 0}, {200, 0, 10},               // 1-4 tet
    {300, 0, 0},  {310, 0, 0},  {300, 10, 0}, {300, 0, 10}, {310, 0, 10}, {300, 10, 10},  // 5-10 wedge
    {400, 0, 0},  {410, 0, 0},  {410, 10, 0}, {400, 10, 0}, {405, 5, 10},  // 11-15 pyramid
    {500, 0, 0},  {510, 0, 0},  {510, 10, 0}, {500, 10, 0},               // 16-19 flat hex
    {600, 0, 0},  {610, 0, 0},  {600, 10, 0}, {600, 0, 10},               // 20-23 inverted tet
};
const std::vector<std::int32_t> kConnectivity = {
    1, 2, 3, 4, 0, 0, 0, 0,          // element 0: tetrahedron
    5, 6, 7, 8, 9, 10, 0, 0,         // 1: wedge
    11, 12, 13, 14, 15, 0, 0, 0,     // 2: pyramid
    0, 0, 0, 0, 0, 0, 0, 0,          // 3: hexahedron over part 1's first cell, filled below
    16, 17, 18, 19, 0, 0, 0, 0,      // 4: quadrilateral shell
    16, 17, 18, 19, 16, 17, 18, 19,  // 5: flat hexahedron
    20, 22, 21, 23, 0, 0, 0, 0,      // 6: inverted tetrahedron
};

struct GaugeModel {
    TempDir dir;
    std::string base;
    std::int64_t slots = 0;
    std::vector<std::int64_t> first_slot;  // by part 1..3
    std::vector<std::array<std::int64_t, 3>> extents = {{4, 3, 4}, {1, 3, 2}, {2, 2, 2}};

    // nan_node: a node of part 1 whose coordinates are NaN (its cells hold
    // no point); far_node: an unstructured node moved 1e30 mm away.
    explicit GaugeModel(bool nan_node = false, bool far_node = false) {
        qvw::BaseFileSpec b;
        b.header = {5, 4};
        b.units[0] = 1;  // mm
        const char* names[] = {"BLOCK", "PLANE", "CUBE"};
        for (std::size_t p = 0; p < extents.size(); ++p) {
            first_slot.push_back(slots);
            slots += extents[p][0] * extents[p][1] * extents[p][2];
            b.parts.push_back(qvw::PartSpec::structured(names[p], std::int32_t(extents[p][0]),
                                                        std::int32_t(extents[p][1]), std::int32_t(extents[p][2])));
        }
        const auto put = [&b](const P& p) {
            for (double c : p) b.coordinates.push_back(float(c));
        };
        for (double x : kX)
            for (double y : kY)
                for (double z : kZ) put(part1(x, y, z));
        for (double y : {0.0, 10.0, 20.0})
            for (double z : {0.0, 30.0}) put({20, y, z});
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                for (int k = 0; k < 2; ++k) put({kCube + 10 * i, 10.0 * j, 10.0 * k});
        if (nan_node) b.coordinates[3 * 21] = std::numeric_limits<float>::quiet_NaN();  // node (1,2,1)
        std::vector<P> free = kFree;
        // Element 3 copies the corners of part 1's first cell (VTK order).
        const int corner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
        std::vector<std::int32_t> conn = kConnectivity;
        for (int c = 0; c < 8; ++c) {
            free.push_back(part1(kX[corner[c][0]], kY[corner[c][1]], kZ[corner[c][2]]));
            conn[24 + c] = std::int32_t(free.size());
        }
        if (far_node) free[1][0] = 1e30;
        for (const P& p : free) put(p);
        b.connectivity = conn;
        b.element_types = {1, 1, 1, 1, 2, 1, 1};
        b.parts.push_back(qvw::PartSpec::unstructured("SOLIDS", {1, 2, 3, 4, 6, 7}));
        b.parts.push_back(qvw::PartSpec::unstructured("SKIN", {5}));
        b.materials = {{"STEEL", 1, "FRAME", 0.3f}};
        base = dir.file("gauge.qvres_base");
        qvw::write_base_file(b).save(base);
    }
    // The all-slot index of part 1's cell between node layers a..a+1,
    // b..b+1, c..c+1 (0-based).
    std::int64_t slot1(std::int64_t a, std::int64_t b, std::int64_t c) const {
        const auto& e = extents[0];
        return ((a + 1) * e[1] + (b + 1)) * e[2] + (c + 1);
    }
};

std::vector<double> metres(const std::vector<P>& mm) {
    std::vector<double> out;
    for (const P& p : mm)
        for (double c : p) out.push_back(c * 1e-3);
    return out;
}

struct Located {
    qvres_status status;
    std::vector<qvres_gauge> gauges;
    std::int64_t failed = -2;
    qvres_error error{};
};
Located locate(const qvres_analysis* a, const std::vector<P>& mm, std::int32_t find) {
    Located out;
    const std::vector<double> xyz = metres(mm);
    out.gauges.assign(mm.size(), qvres_gauge{});
    out.status = qvres_locate_points(a, xyz.data(), std::int64_t(mm.size()), find, out.gauges.data(),
                                     std::int64_t(out.gauges.size()), &out.failed, &out.error);
    return out;
}

P mid(double a0, double a1, double b0, double b1, double c0, double c1) {
    return part1((a0 + a1) / 2, (b0 + b1) / 2, (c0 + c1) / 2);
}

TEST(Gauges, PointsAtCellCentresAndOnFacesFindTheStructuredCellsTheyWereBuiltIn) {
    GaugeModel model;
    Open open(model.base);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    std::vector<P> points;
    std::vector<std::array<std::int64_t, 3>> cells;
    for (std::size_t a = 0; a + 1 < kX.size(); ++a)
        for (std::size_t b = 0; b + 1 < kY.size(); ++b)
            for (std::size_t c = 0; c + 1 < kZ.size(); ++c) {
                points.push_back(mid(kX[a], kX[a + 1], kY[b], kY[b + 1], kZ[c], kZ[c + 1]));
                cells.push_back({std::int64_t(a), std::int64_t(b), std::int64_t(c)});
            }
    // On the face between two cells: the one of the lower slot. On an
    // outer face, a corner and an edge: the cell there.
    points.insert(points.end(), {part1(kX[2], (kY[0] + kY[1]) / 2, (kZ[1] + kZ[2]) / 2),
                                 part1((kX[0] + kX[1]) / 2, kY[1], (kZ[2] + kZ[3]) / 2),
                                 part1((kX[2] + kX[3]) / 2, (kY[1] + kY[2]) / 2, kZ[2]),
                                 part1(kX[3], kY[2], kZ[3]), part1(kX[0], kY[0], (kZ[0] + kZ[1]) / 2)});
    cells.insert(cells.end(), {{1, 0, 1}, {0, 0, 2}, {2, 1, 1}, {2, 1, 2}, {0, 0, 0}});
    const Located got = locate(open.a, points, QVRES_GAUGE_ELEMENTS);
    ASSERT_EQ(got.status, QVRES_OK) << got.error.message;
    EXPECT_EQ(got.failed, -1);
    for (std::size_t p = 0; p < points.size(); ++p) {
        const qvres_gauge& g = got.gauges[p];
        // part, structured, cell, element, slot, node (not asked for)
        EXPECT_EQ((std::vector<std::int64_t>{g.part, g.structured, g.cell[0], g.cell[1], g.cell[2], g.element, g.slot,
                                             g.node}),
                  (std::vector<std::int64_t>{1, 1, cells[p][0] + 2, cells[p][1] + 2, cells[p][2] + 2, -1,
                                             model.slot1(cells[p][0], cells[p][1], cells[p][2]), -1}))
            << "point " << p;
    }
    // Part 3's one cell: slots after parts 1 and 2.
    const Located cube = locate(open.a, {{kCube + 5, 5, 5}, {kCube + 10, 10, 10}}, QVRES_GAUGE_ELEMENTS);
    ASSERT_EQ(cube.status, QVRES_OK) << cube.error.message;
    for (const qvres_gauge& g : cube.gauges) {
        EXPECT_EQ(g.part, 3);
        EXPECT_EQ(g.cell[0], 2);
        EXPECT_EQ(g.slot, model.first_slot[2] + (1 * 2 + 1) * 2 + 1);
    }
}

TEST(Gauges, UnstructuredSolidsOfEveryKindHoldTheirPointsAndOnlyThose) {
    GaugeModel model;
    Open open(model.base);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    // Centroids (inside), then per element a point inside its box but
    // beyond a slanted face.
    const std::vector<P> inside = {{202.5, 2.5, 2.5}, {303, 3, 5}, {405, 5, 3}, {602.5, 2.5, 2.5}};
    const std::int64_t elements[] = {0, 1, 2, 6};
    const Located got = locate(open.a, inside, QVRES_GAUGE_ELEMENTS);
    ASSERT_EQ(got.status, QVRES_OK) << got.error.message;
    for (std::size_t p = 0; p < inside.size(); ++p) {
        const qvres_gauge& g = got.gauges[p];
        EXPECT_EQ((std::vector<std::int64_t>{g.part, g.structured, g.element, g.slot}),
                  (std::vector<std::int64_t>{4, 0, elements[p], model.slots + elements[p]}))
            << p;
    }
    const std::vector<P> outside = {{207, 7, 7}, {308, 8, 5}, {401, 1, 9}, {607, 7, 7}};
    for (std::size_t p = 0; p < outside.size(); ++p) {
        const Located miss = locate(open.a, {{kCube + 5, 5, 5}, outside[p]}, QVRES_GAUGE_ELEMENTS);
        EXPECT_EQ(miss.status, QVRES_E_ARGUMENT) << p;
        EXPECT_EQ(miss.failed, 1) << p;
        EXPECT_NE(std::string(miss.error.message).find("point 1 ("), std::string::npos) << miss.error.message;
    }
    // The shell and the flat hexahedron hold nothing, not even points in
    // their plane; the hexahedron over part 1's first cell loses to it.
    for (const P& p : {P{505, 5, 0}, P{501, 1, 0}}) {
        const Located flat = locate(open.a, {p}, QVRES_GAUGE_ELEMENTS);
        EXPECT_EQ(flat.status, QVRES_E_ARGUMENT);
        EXPECT_EQ(flat.failed, 0);
    }
    const Located first = locate(open.a, {mid(kX[0], kX[1], kY[0], kY[1], kZ[0], kZ[1])}, QVRES_GAUGE_ELEMENTS);
    ASSERT_EQ(first.status, QVRES_OK);
    EXPECT_EQ(first.gauges[0].part, 1);
    EXPECT_EQ(first.gauges[0].slot, model.slot1(0, 0, 0));
}

TEST(Gauges, NearestNodesAreThoseOfASearchOverEveryNode) {
    GaugeModel model;
    Open open(model.base);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
    std::vector<float> xyz(std::size_t(3 * m.nodes));
    ASSERT_EQ(qvres_get_coordinates(open.a, xyz.data(), 3 * m.nodes, nullptr), QVRES_OK);
    // Points across the model and far beyond it, and exactly at nodes.
    std::vector<P> points;
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    };
    for (int p = 0; p < 300; ++p) points.push_back({-100 + 800 * next(), -50 + 100 * next(), -50 + 100 * next()});
    points.push_back({1e9, -1e9, 3e8});
    points.push_back({-7e5, 0, 0});
    for (std::int64_t n : {std::int64_t(0), std::int64_t(17), m.nodes - 1})
        points.push_back({double(xyz[3 * n]) * 1e3, double(xyz[3 * n + 1]) * 1e3, double(xyz[3 * n + 2]) * 1e3});
    const Located got = locate(open.a, points, QVRES_GAUGE_NODES);
    ASSERT_EQ(got.status, QVRES_OK) << got.error.message;
    const std::vector<double> at = metres(points);
    for (std::size_t p = 0; p < points.size(); ++p) {
        std::int64_t best = -1;
        double d2 = std::numeric_limits<double>::infinity();
        for (std::int64_t n = 0; n < m.nodes; ++n) {
            double d = 0;
            for (int a = 0; a < 3; ++a) d += (at[3 * p + a] - xyz[3 * n + a]) * (at[3 * p + a] - xyz[3 * n + a]);
            if (d < d2) d2 = d, best = n;
        }
        EXPECT_EQ(got.gauges[p].node, best) << "point " << p;
        EXPECT_DOUBLE_EQ(got.gauges[p].node_distance, std::sqrt(d2)) << "point " << p;
        EXPECT_EQ(got.gauges[p].slot, -1);  // elements not asked for: no failure outside
    }
    // Points so far out that a squared difference of doubles is infinite:
    // still a nearest node, as a search in long double (whose range holds
    // those squares) finds it.
    const std::vector<P> far = {{1e203, 0, 0}, {-1e160, 3e3, 0}, {0, 0, -1.7e308}};
    const Located out = locate(open.a, far, QVRES_GAUGE_NODES);
    ASSERT_EQ(out.status, QVRES_OK) << out.error.message;
    const std::vector<double> far_at = metres(far);
    for (std::size_t p = 0; p < far.size(); ++p) {
        std::int64_t best = -1;
        long double d2 = std::numeric_limits<long double>::infinity();
        for (std::int64_t n = 0; n < m.nodes; ++n) {
            long double d = 0;
            for (int a = 0; a < 3; ++a) {
                const long double x = static_cast<long double>(far_at[3 * p + a]) - xyz[3 * n + a];
                d += x * x;
            }
            if (d < d2) d2 = d, best = n;
        }
        EXPECT_EQ(out.gauges[p].node, best) << "far point " << p;
        EXPECT_NEAR(out.gauges[p].node_distance / static_cast<double>(std::sqrt(d2)), 1.0, 1e-12) << "far point " << p;
    }
}

TEST(Gauges, ManyCellsAreBinnedAndFoundAsTheirCentresSay) {
    // A 41 x 31 x 21 grid of uneven layers: enough cells that the bins
    // matter, points at random cell centres.
    TempDir dir;
    const std::int32_t I = 41, J = 31, K = 21;
    std::vector<double> layers[3];
    for (int a = 0; a < 3; ++a) {
        double at = 0;
        for (int n = 0; n < (a == 0 ? I : a == 1 ? J : K); ++n) layers[a].push_back(at), at += 1 + (n * 7 + a) % 5;
    }
    qvw::BaseFileSpec b;
    b.header = {5, 4};
    b.parts.push_back(qvw::PartSpec::structured("GRID", I, J, K));
    for (double x : layers[0])
        for (double y : layers[1])
            for (double z : layers[2])
                for (double c : {x + 0.25 * z, y, z}) b.coordinates.push_back(float(c));
    b.materials = {{"AIR", -1, "", 0.0f}};
    qvw::write_base_file(b).save(dir.file("grid.qvres_base"));
    Open open(dir.file("grid.qvres_base"));
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    std::vector<double> xyz;
    std::vector<std::int64_t> want;
    std::uint32_t state = 99;
    for (int p = 0; p < 2000; ++p) {
        std::int64_t c[3];
        for (int a = 0; a < 3; ++a) {
            state = state * 1664525u + 1013904223u;
            c[a] = std::int64_t(state >> 8) % std::int64_t(layers[a].size() - 1);
        }
        const double x = (layers[0][c[0]] + layers[0][c[0] + 1]) / 2, y = (layers[1][c[1]] + layers[1][c[1] + 1]) / 2,
                     z = (layers[2][c[2]] + layers[2][c[2] + 1]) / 2;
        xyz.insert(xyz.end(), {x + 0.25 * z, y, z});
        want.push_back(((c[0] + 1) * J + (c[1] + 1)) * K + (c[2] + 1));
    }
    std::vector<qvres_gauge> g(want.size());
    qvres_error error{};
    ASSERT_EQ(qvres_locate_points(open.a, xyz.data(), std::int64_t(want.size()), QVRES_GAUGE_ELEMENTS, g.data(),
                                  std::int64_t(g.size()), nullptr, &error),
              QVRES_OK)
        << error.message;
    for (std::size_t p = 0; p < want.size(); ++p) ASSERT_EQ(g[p].slot, want[p]) << "point " << p;
}

TEST(Gauges, HostileCoordinatesAndArgumentsFailCleanly) {
    {
        // A NaN node: the cells around it hold nothing, the others still do;
        // a node 1e30 away: its tetrahedron reaches past every other solid
        // (it holds y + z < 10 mm beyond x = 200 mm), which keep their points.
        GaugeModel model(true, true);
        Open open(model.base);
        ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
        const Located got = locate(open.a, {mid(kX[2], kX[3], kY[1], kY[2], kZ[2], kZ[3]), {302, 6, 6}},
                                   QVRES_GAUGE_ELEMENTS | QVRES_GAUGE_NODES);
        ASSERT_EQ(got.status, QVRES_OK) << got.error.message;
        EXPECT_EQ(got.gauges[0].slot, model.slot1(2, 1, 2));
        EXPECT_EQ(got.gauges[1].element, 1);
        EXPECT_GE(got.gauges[0].node, 0);
        // Node (1, 2, 1) of part 1 is NaN: the cells around it hold nothing.
        const Located lost = locate(open.a, {mid(kX[0], kX[1], kY[1], kY[2], kZ[0], kZ[1])}, QVRES_GAUGE_ELEMENTS);
        EXPECT_EQ(lost.status, QVRES_E_ARGUMENT);
    }
    GaugeModel model;
    Open open(model.base);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const P& bad : {P{nan, 0, 0}, P{0, inf, 0}, P{0, 0, -inf}}) {
        for (std::int32_t find : {QVRES_GAUGE_NODES, QVRES_GAUGE_ELEMENTS}) {
            const Located got = locate(open.a, {{kCube + 5, 5, 5}, {kCube + 5, 5, 5}, bad}, find);
            EXPECT_EQ(got.status, QVRES_E_ARGUMENT);
            EXPECT_EQ(got.failed, 2);
            EXPECT_NE(std::string(got.error.message).find("point 2 "), std::string::npos) << got.error.message;
        }
    }
    // Too few records, no records, no points, nothing asked for.
    const double one[3] = {0.105, 0.005, 0.005};
    qvres_gauge g[2];
    g[0].part = 77;
    std::int64_t failed = 5;
    EXPECT_EQ(qvres_locate_points(open.a, one, 1, QVRES_GAUGE_NODES, g, 0, &failed, nullptr), QVRES_E_CAPACITY);
    EXPECT_EQ(g[0].part, 77);
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(qvres_locate_points(open.a, one, 1, QVRES_GAUGE_NODES, nullptr, 1, nullptr, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_locate_points(open.a, nullptr, 1, QVRES_GAUGE_NODES, g, 2, nullptr, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_locate_points(open.a, one, -1, QVRES_GAUGE_NODES, g, 2, nullptr, nullptr), QVRES_E_ARGUMENT);
    for (std::int32_t find : {0, 4, -1})
        EXPECT_EQ(qvres_locate_points(open.a, one, 1, find, g, 2, nullptr, nullptr), QVRES_E_ARGUMENT) << find;
    EXPECT_EQ(qvres_locate_points(open.a, nullptr, 0, QVRES_GAUGE_ELEMENTS, nullptr, 0, nullptr, nullptr), QVRES_OK);
    EXPECT_EQ(qvres_locate_points(nullptr, one, 1, QVRES_GAUGE_NODES, g, 2, nullptr, nullptr), QVRES_E_ARGUMENT);
}

}  // namespace
