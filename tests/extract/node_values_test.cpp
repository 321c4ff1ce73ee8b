// Node getters: cell averaging, parts without cells, unit conversion,
// displacements, directory selection, and the arrays and cycles that must
// make a query fail without touching the caller's array.
#include "extract/node_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "extract/extract_fixture.h"

namespace {

using namespace qvtest;
using qv::extract::float_node_values;
using qv::extract::int_node_values;

constexpr std::int32_t kVelocityX = 4;    // real, exponents (1, -1, 0, 0)
constexpr std::int32_t kTempGradX = 180;  // real, exponents (-1, 0, 0, 1)
constexpr float kNoCell = -1000.0f;       // slots that carry no cell

using NodeValues = ExtractTest;

TEST_F(NodeValues, CellValuesAreAveragedOntoTheNodes) {
    // Part 1, 2 x 2 x 2: one cell, in its last slot (2,2,2). Part 2, 3 x 3 x 3:
    // cell (ci,cj,ck) holds A(ci) B(cj) C(ck), A = 1, 16; B = 1, 4; C = 1, 2
    // for layers 2, 3, so every cell is a distinct power of two. Then two
    // unstructured nodes. Lengths in mm: every value but the header pair
    // scaled by 1e-3.
    Model m;
    m.blocks = {{2, 2, 2}, {3, 3, 3}};
    m.unstructured_nodes = 2;
    m.units[0] = 1;
    Floats stored = {7.5f, -3.0f};
    stored.insert(stored.end(), 7, kNoCell);
    stored.push_back(6.0f);
    const float A[] = {0, 0, 1, 16}, B[] = {0, 0, 1, 4}, C[] = {0, 0, 1, 2};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 3; ++k)
                stored.push_back(i > 1 && j > 1 && k > 1 ? A[i] * B[j] * C[k] : kNoCell);
    stored.insert(stored.end(), {5.0f, 6.0f});
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, stored)});

    // Header pair as stored; the single cell of part 1 on all 8 nodes. The
    // cell sum of part 2 factors by direction: node layer 1 takes cell layer
    // 2, layer 2 takes layers 2 and 3, layer 3 takes layer 3. Means per
    // direction: a = 1, (1+16)/2 = 8.5, 16; b = 1, 2.5, 4; c = 1, 1.5, 2.
    // So the corner (1,1,1) is 1, the edge (1,1,2) (1 + 2) / 2, the face
    // (1,2,2) (1 + 2 + 4 + 8) / 4 and the centre (1 + 2 + ... + 128) / 8.
    Floats expected = {7.5f, -3.0f};
    expected.insert(expected.end(), 8, 6.0f);
    const float a[] = {0, 1, 8.5f, 16}, b[] = {0, 1, 2.5f, 4}, c[] = {0, 1, 1.5f, 2};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 3; ++k) expected.push_back(a[i] * b[j] * c[k]);
    expected.insert(expected.end(), {5.0f, 6.0f});  // unstructured nodes after the 35 slots
    for (std::size_t x = 2; x < expected.size(); ++x) expected[x] *= 1e-3f;
    expect_near_all(call(float_node_values, kVelocityX, 1, 39), expected);
}

TEST_F(NodeValues, PartsWithoutCellsGiveEachNodeItsOwnSlotValue) {
    // 1 x 3 x 2 (6 slots, I extent 1), 3 x 1 x 4 (12 slots, J extent 1),
    // then a 2 x 2 x 2 part whose one cell is 9: N = 26.
    Model m;
    m.blocks = {{1, 3, 2}, {3, 1, 4}, {2, 2, 2}};
    Floats stored = ramp<float>(20, -1.0f);  // header -1, 0; slots 1..18
    stored.insert(stored.end(), 7, kNoCell);
    stored.push_back(9.0f);
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, stored)});
    Floats expected = ramp<float>(20, -1.0f);
    expected.insert(expected.end(), 8, 9.0f);
    EXPECT_EQ(call(float_node_values, kVelocityX, 1, 28), expected);
}

TEST_F(NodeValues, UnitsScaleCoordinatesAndValuesByTheirDimension) {
    // Length code 1, mass 3, time 3: length exponent -3, time and mass 0.
    // No structured part: N is the three unstructured nodes of the cycle.
    Model m;
    m.unstructured_elements = 1;
    m.unstructured_nodes = 3;
    m.units[0] = 1;
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, {4, 5, 1000, 2000, 3000}),
                      DirectoryEntrySpec::real(2, kTempGradX, 1, {4, 5, 0.5f, 1, 2})});

    Floats xyz(10, kUntouched);
    ASSERT_EQ(qv::extract::node_coordinates(view(), xyz.data()), 1);
    Floats expected = ramp<float>(9, 1.0f);  // stored 1..9
    for (float& x : expected) x *= 1e-3f;
    expected.push_back(kUntouched);
    expect_near_all(xyz, expected);

    // Velocity (1, -1, 0): 1 x (-3) = -3; the header pair unscaled.
    // Temperature is left out of the node code: (-1, 0, 0) is 1 / length,
    // exponent -1 x (-3) = 3.
    expect_near_all(call(float_node_values, kVelocityX, 1, 5), {4, 5, 1, 2, 3});
    expect_near_all(call(float_node_values, kTempGradX, 1, 5), {4, 5, 500, 1000, 2000});
}

TEST_F(NodeValues, DirectorySelectionAndShortArrays) {
    // 2 x 2 x 1 block and one unstructured node: N = 5.
    Model m;
    m.blocks = {{2, 2, 1}};
    m.unstructured_elements = 1;
    m.unstructured_nodes = 1;
    load_and_open(m, {DirectoryEntrySpec::integer(1, 30, -1, ramp<std::int32_t>(7, 10)),
                      DirectoryEntrySpec::integer(1, 31, 1, ramp<std::int32_t>(6, 10)),
                      DirectoryEntrySpec::real(2, 32, 1, ramp<float>(6, 10)),
                      DirectoryEntrySpec::real(2, kVelocityX, 1, ramp<float>(7, 10))});
    // Qualifier -1 is found by part 1; all N + 2 values unchanged.
    EXPECT_EQ(call(int_node_values, 30, 1, 7), ramp<std::int32_t>(7, 10));
    // No entry for part 2; erosion (26) not stored; N + 1 values stored for
    // variables 31 and 32, so one node would have no value.
    EXPECT_EQ(call(int_node_values, 30, 2, 7), Ints{});
    EXPECT_EQ(call(int_node_values, 26, 1, 7), Ints{});
    EXPECT_EQ(call(int_node_values, 31, 1, 7), Ints{});
    EXPECT_EQ(call(float_node_values, 32, 1, 7), Floats{});
    // Also after a query of N + 2 values, whose array the cycle reader kept:
    // the short array is never completed from it.
    EXPECT_EQ(call(float_node_values, kVelocityX, 1, 7).size(), 7u);
    EXPECT_EQ(call(float_node_values, 32, 1, 7), Floats{});
}

TEST_F(NodeValues, LongRowsAndFlatPartsFollowTheCellsAroundEachNode) {
    // A 2 x 2 x 1 part (no cells: K extent 1), then 3 x 3 x 12 and 2 x 2 x 12
    // parts whose rows are long enough for the block loop. A cell slot
    // (i, j, k >= 2) stores 10000 i + 100 j + k; every other slot kNoCell.
    // Millimetres per microsecond: velocities x 1e-3 / 1e-6 = 1000.
    Model m;
    m.blocks = {{2, 2, 1}, {3, 3, 12}, {2, 2, 12}};
    m.units[0] = 1;
    m.units[2] = 1;
    const auto cell = [](int i, int j, int k) { return float(10000 * i + 100 * j + k); };
    Floats stored = {7.0f, 8.0f};
    for (const auto& b : m.blocks)
        for (int i = 1; i <= b[0]; ++i)
            for (int j = 1; j <= b[1]; ++j)
                for (int k = 1; k <= b[2]; ++k) {
                    const bool cells = b[0] >= 2 && b[1] >= 2 && b[2] >= 2;
                    stored.push_back(!cells ? float(-(100 * i + 10 * j + k))
                                     : i > 1 && j > 1 && k > 1 ? cell(i, j, k)
                                                               : kNoCell);
                }
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, stored)});

    // Node (i, j, k) of a part with cells: the mean of the cells (ci, cj, ck),
    // each of ci in {i, i + 1}, cj, ck likewise, that lie in 2..extent. The
    // flat part's nodes keep their own slot values. The header pair unscaled.
    Floats expected = {7.0f, 8.0f};
    std::size_t slot = 2;
    for (const auto& b : m.blocks)
        for (int i = 1; i <= b[0]; ++i)
            for (int j = 1; j <= b[1]; ++j)
                for (int k = 1; k <= b[2]; ++k, ++slot) {
                    if (b[2] < 2) {
                        expected.push_back(stored[slot] * 1000.0f);
                        continue;
                    }
                    double sum = 0;
                    int n = 0;
                    for (int ci = i; ci <= std::min(i + 1, b[0]); ++ci)
                        for (int cj = j; cj <= std::min(j + 1, b[1]); ++cj)
                            for (int ck = k; ck <= std::min(k + 1, b[2]); ++ck)
                                if (ci >= 2 && cj >= 2 && ck >= 2) sum += cell(ci, cj, ck), ++n;
                    expected.push_back(float(sum / n * 1000.0));
                }
    expect_near_all(call(float_node_values, kVelocityX, 1, expected.size()), expected);
}

TEST_F(NodeValues, DisplacementsScaleByLengthAloneAndTheSentinelMeansNone) {
    // Eleven unstructured nodes: a block of eight and three after it.
    // Millimetres and microseconds: lengths x 1e-3, whatever the time unit.
    // Nodes 2 and 9 have x above the sentinel: no displacement. Nodes 6 and
    // 10 have x equal to it, which is not above (y and z are not tested);
    // nodes 5 and 8 have x NaN, which is not above it either.
    Model m;
    m.unstructured_elements = 1;
    m.unstructured_nodes = 11;
    m.units[0] = 1;
    m.units[2] = 1;
    load(m);
    qvw::CycleFileSpec desc = cycle(m, {});
    Floats stored, expected;
    for (int n = 0; n < 11; ++n)
        for (int c = 1; c <= 3; ++c) {
            const bool none = n == 2 || n == 9, equal = n == 6 || n == 10;
            const float v = none && c == 1 ? 2e11f : equal ? (c == 1 ? 1.01e11f : 1e12f) : float(100 * n + c);
            stored.push_back(v);
            expected.push_back(none ? 0.0f : v * 1e-3f);
        }
    for (const std::size_t x : {15, 24}) stored[x] = std::numeric_limits<float>::quiet_NaN();
    desc.displacements = stored;
    open(desc);
    Floats xyz = displacements(11);
    ASSERT_EQ(xyz.size(), 33u);
    for (const std::size_t x : {15, 24}) {
        EXPECT_TRUE(std::isnan(xyz[x])) << x;
        xyz[x] = expected[x] = 0;
    }
    expect_near_all(xyz, expected);

    // The base file holds the eight nodes of the unstructured element, 1..24;
    // only they are written of the eleven the cycle counts.
    Floats coordinates(33, kUntouched), placed(33, kUntouched);
    for (int x = 0; x < 24; ++x) placed[std::size_t(x)] = float(x + 1) * 1e-3f;
    ASSERT_EQ(qv::extract::node_coordinates(view(), coordinates.data()), 1);
    expect_near_all(coordinates, placed);

    // One value short of 3N, and no section at all (after a cycle that had
    // one): both fail and write nothing.
    desc.displacements->pop_back();
    open(desc);
    EXPECT_EQ(displacements(11), Floats{});
    desc.displacements.reset();
    open(desc);
    EXPECT_EQ(displacements(11), Floats{});
}

// The arrays are long enough for both blocks: only the second block's
// missing extents make the queries fail.
TEST_F(NodeValues, NothingIsAnsweredForMoreStructuredPartsThanTheBaseFileHas) {
    Model m;
    m.blocks = {{2, 2, 2}};
    load(m);
    qvw::CycleFileSpec desc =
        cycle(m, {DirectoryEntrySpec::integer(1, 30, 1, ramp<std::int32_t>(18, 0)),
                  DirectoryEntrySpec::real(2, 31, 1, ramp<float>(18, 0))});
    desc.displacements = ramp<float>(48, 0);
    open(desc);
    ASSERT_EQ(displacements(8).size(), 24u);
    ASSERT_EQ(call(int_node_values, 30, 1, 10).size(), 10u);

    desc.structured_parts.push_back({2, 2, 2});
    open(desc);
    EXPECT_EQ(displacements(16), Floats{});
    EXPECT_EQ(call(int_node_values, 30, 1, 18), Ints{});
    EXPECT_EQ(call(float_node_values, 31, 1, 18), Floats{});
    // No extents for T and no unstructured node: a host has no room for
    // the coordinates of the first block.
    const auto coordinates = [&](float* out) { return qv::extract::node_coordinates(view(), out); };
    EXPECT_EQ(values_of<float>(coordinates, 0), Floats{});
}

}  // namespace
