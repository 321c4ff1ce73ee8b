// Node getters: cell averaging, parts without cells, unit conversion,
// displacements, directory selection, and the arrays and cycles that must
// make a query fail without touching the caller's array.
#include "extract/node_values.h"

#include <cmath>
#include <limits>

#include "extract/extract_fixture.h"

namespace {

using namespace qvtest;
using qv::extract::float_node_values;
using qv::extract::int_node_values;
using qv::extract::node_displacements;

constexpr std::int32_t kVelocityX = 4;    // real, exponents (1, -1, 0, 0)
constexpr std::int32_t kTempGradX = 180;  // real, exponents (-1, 0, 0, 1)
constexpr float kNoCell = -1000.0f;       // slots that carry no cell

using NodeValues = ExtractTest;

TEST_F(NodeValues, CellValuesAreAveragedOntoTheNodes) {
    // Part 1, 2 x 2 x 2: one cell, in its last slot (2,2,2). Part 2, 3 x 3 x 3:
    // cell (ci,cj,ck) holds A(ci) B(cj) C(ck), A = 1, 16; B = 1, 4; C = 1, 2
    // for layers 2, 3, so every cell is a distinct power of two. Then two
    // unstructured nodes.
    Model m;
    m.blocks = {{2, 2, 2}, {3, 3, 3}};
    m.unstructured_nodes = 2;
    std::vector<float> stored = {7.5f, -3.0f, kNoCell, kNoCell, kNoCell, kNoCell,
                                 kNoCell, kNoCell, kNoCell, 6.0f};
    const float A[] = {0, 0, 1, 16}, B[] = {0, 0, 1, 4}, C[] = {0, 0, 1, 2};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 3; ++k)
                stored.push_back(i > 1 && j > 1 && k > 1 ? A[i] * B[j] * C[k] : kNoCell);
    stored.push_back(5.0f);
    stored.push_back(6.0f);
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, stored)});

    const auto c = call(float_node_values, kVelocityX, 1, 2 + 8 + 27 + 2 + 1);
    ASSERT_EQ(c.status, 1);
    EXPECT_EQ(c.out[0], 7.5f);  // header pair as stored
    EXPECT_EQ(c.out[1], -3.0f);
    for (int n = 2; n < 10; ++n) EXPECT_EQ(c.out[n], 6.0f);  // the single cell on all 8 nodes
    // The cell sum factors by direction: node layer 1 takes cell layer 2,
    // layer 2 takes layers 2 and 3, layer 3 takes layer 3. Means per
    // direction: a = 1, (1+16)/2 = 8.5, 16; b = 1, 2.5, 4; c = 1, 1.5, 2.
    const float a[] = {0, 1, 8.5f, 16}, b[] = {0, 1, 2.5f, 4}, cm[] = {0, 1, 1.5f, 2};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 3; ++k)
                EXPECT_EQ(c.out[10 + ((i - 1) * 3 + (j - 1)) * 3 + (k - 1)], a[i] * b[j] * cm[k])
                    << i << j << k;
    EXPECT_EQ(c.out[10 + 13], 31.875f);  // centre: (1+2+...+128) / 8 = 255 / 8
    EXPECT_EQ(c.out[10 + 0], 1.0f);      // corner (1,1,1): cell (2,2,2) alone
    EXPECT_EQ(c.out[10 + 1], 1.5f);      // edge (1,1,2): (1 + 2) / 2
    EXPECT_EQ(c.out[10 + 4], 3.75f);     // face (1,2,2): (1 + 2 + 4 + 8) / 4
    EXPECT_EQ(c.out[37], 5.0f);          // unstructured nodes after the 35 slots
    EXPECT_EQ(c.out[38], 6.0f);
    EXPECT_EQ(c.out[39], kUntouched);
}

TEST_F(NodeValues, PartsWithoutCellsGiveEachNodeItsOwnSlotValue) {
    // 1 x 3 x 2 (6 slots, I extent 1), 3 x 1 x 4 (12 slots, J extent 1),
    // then a 2 x 2 x 2 part whose one cell is 9: N = 26.
    Model m;
    m.blocks = {{1, 3, 2}, {3, 1, 4}, {2, 2, 2}};
    std::vector<float> stored = ramp<float>(20, -1.0f);  // header -1, 0; slots 1..18
    for (int p = 0; p < 7; ++p) stored.push_back(kNoCell);
    stored.push_back(9.0f);
    load_and_open(m, {DirectoryEntrySpec::real(2, kVelocityX, 1, stored)});

    std::vector<float> expected = ramp<float>(20, -1.0f);
    expected.insert(expected.end(), 8, 9.0f);
    const auto c = call(float_node_values, kVelocityX, 1, 28 + 1);
    ASSERT_EQ(c.status, 1);
    EXPECT_EQ(c.out, then_untouched(expected));
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

    std::vector<float> xyz(10, kUntouched);
    ASSERT_EQ(qv::extract::node_coordinates(xyz.data()), 1);
    for (int x = 0; x < 9; ++x) EXPECT_FLOAT_EQ(xyz[x], (x + 1) * 1e-3f);  // stored 1..9
    EXPECT_EQ(xyz[9], kUntouched);

    // Velocity (1, -1, 0): 1 x (-3) = -3.
    auto c = call(float_node_values, kVelocityX, 1, 6);
    ASSERT_EQ(c.status, 1);
    EXPECT_EQ(c.out[0], 4.0f);  // header pair unscaled
    EXPECT_EQ(c.out[1], 5.0f);
    EXPECT_FLOAT_EQ(c.out[2], 1.0f);
    EXPECT_FLOAT_EQ(c.out[3], 2.0f);
    EXPECT_FLOAT_EQ(c.out[4], 3.0f);
    EXPECT_EQ(c.out[5], kUntouched);
    // Temperature is left out of the node code: (-1, 0, 0) is 1 / length,
    // exponent -1 x (-3) = 3.
    c = call(float_node_values, kTempGradX, 1, 5);
    ASSERT_EQ(c.status, 1);
    EXPECT_FLOAT_EQ(c.out[2], 500.0f);
    EXPECT_FLOAT_EQ(c.out[4], 2000.0f);
}

TEST_F(NodeValues, DisplacementSentinelAndCyclesWithoutDisplacements) {
    // 2 x 1 x 1 block and two unstructured nodes: N = 4. Length code 1.
    Model m;
    m.blocks = {{2, 1, 1}};
    m.unstructured_elements = 1;
    m.unstructured_nodes = 2;
    m.units[0] = 1;
    load(m);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    qvw::CycleFileSpec desc = cycle(m, {});
    desc.displacements = reals({1000, 2000, 3000,        // scaled by 1e-3
                                2e11f, 5, 6,             // above the sentinel: no displacement
                                nan, 1000, 2000,         // NaN is not above it
                                1.01e11f, 1000, 1000});  // equal is not above it
    open(desc);
    std::vector<float> xyz(13, kUntouched);
    ASSERT_EQ(node_displacements(xyz.data()), 1);
    EXPECT_FLOAT_EQ(xyz[0], 1.0f);
    EXPECT_FLOAT_EQ(xyz[2], 3.0f);
    EXPECT_EQ(std::vector<float>(xyz.begin() + 3, xyz.begin() + 6), reals({0, 0, 0}));
    EXPECT_TRUE(std::isnan(xyz[6]));
    EXPECT_FLOAT_EQ(xyz[7], 1.0f);
    EXPECT_FLOAT_EQ(xyz[9], 1.01e8f);
    EXPECT_EQ(xyz[12], kUntouched);

    // One value short of 3N, and no section at all (after a cycle that had
    // one): both fail and write nothing.
    desc.displacements->pop_back();
    for (int no_section = 0; no_section < 2; ++no_section) {
        if (no_section) desc.displacements.reset();
        open(desc);
        std::vector<float> out(13, kUntouched);
        EXPECT_EQ(node_displacements(out.data()), -1);
        EXPECT_EQ(out, std::vector<float>(13, kUntouched));
    }
}

TEST_F(NodeValues, DirectorySelectionAndShortArrays) {
    // 2 x 2 x 1 block and one unstructured node: N = 5.
    Model m;
    m.blocks = {{2, 2, 1}};
    m.unstructured_elements = 1;
    m.unstructured_nodes = 1;
    load_and_open(m, {DirectoryEntrySpec::integer(1, 30, -1, ramp<std::int32_t>(7, 10)),
                      DirectoryEntrySpec::integer(1, 31, 1, ramp<std::int32_t>(6, 10)),
                      DirectoryEntrySpec::real(2, 32, 1, ramp<float>(6, 10))});

    // Qualifier -1 is found by part 1; all N + 2 values unchanged.
    auto c = call(int_node_values, 30, 1, 8);
    ASSERT_EQ(c.status, 1);
    EXPECT_EQ(c.out, then_untouched(ramp<std::int32_t>(7, 10)));

    // No entry for part 2; erosion (26) not stored; N + 1 values stored for
    // variable 31, so one node would have no value.
    const std::pair<std::int32_t, std::int32_t> cases[] = {{30, 2}, {26, 1}, {31, 1}};
    for (const auto& [variable, part] : cases) {
        c = call(int_node_values, variable, part, 8);
        EXPECT_EQ(c.status, -1) << variable << " " << part;
        EXPECT_EQ(c.out, std::vector<std::int32_t>(8, kUntouched)) << variable << " " << part;
    }
    const auto r = call(float_node_values, 32, 1, 8);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, std::vector<float>(8, kUntouched));
}

TEST_F(NodeValues, NothingIsAnsweredWithoutAValidCycle) {
    Model m;
    m.blocks = {{2, 2, 2}};
    load(m);
    qvw::CycleFileSpec desc =
        cycle(m, {DirectoryEntrySpec::integer(1, 30, 1, ramp<std::int32_t>(10, 0)),
                  DirectoryEntrySpec::real(2, 31, 1, ramp<float>(10, 0))});
    desc.displacements = ramp<float>(24, 0);
    open(desc);
    std::vector<float> xyz(24);
    ASSERT_EQ(node_displacements(xyz.data()), 1);
    ASSERT_EQ(call(int_node_values, 30, 1, 10).status, 1);

    // A cycle that states more structured parts than the base file has.
    qvw::CycleFileSpec more = desc;
    more.structured_parts.push_back({2, 2, 2});
    open(more);
    EXPECT_EQ(node_displacements(xyz.data()), -1);
    EXPECT_EQ(call(int_node_values, 30, 1, 10).status, -1);
    EXPECT_EQ(call(float_node_values, 31, 1, 10).status, -1);

    // A failed cycle open: the earlier cycle answers nothing.
    open(desc);
    EXPECT_FALSE(qv::api::open_cycle_file(dir_.file("missing.qvres")));
    EXPECT_EQ(node_displacements(xyz.data()), -1);
    EXPECT_EQ(call(int_node_values, 30, 1, 10).status, -1);
    EXPECT_EQ(call(float_node_values, 31, 1, 10).status, -1);
}

}  // namespace
