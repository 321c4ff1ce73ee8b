// Material queries through the C interface: names into caller text fields,
// Euler identifiers both ways, Poisson ratios, and the per-element material
// fractions of the current cycle.
#include <cstring>

#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
using qvw::BaseFileSpec;
using qvw::PartSpec;

// A thin 1 x 2 x 2 block (4 slots, no elements) ahead of a 3 x 3 x 3 block
// (27 slots, 8 elements); three materials with identifiers 1, -1, 2.
BaseFileSpec euler_model() {
    BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts = {PartSpec::structured("THIN", 1, 2, 2), PartSpec::structured("CUBE", 3, 3, 3)};
    desc.materials = {{"STEEL", 1, "BODY-A", 0.25f},
                      {"AIR", -1, "BODY-B", 0.5f},
                      {"WATER", 2, "BODY-C", 0.125f}};
    return desc;
}

// Slot values q = 1..31 (the 4 + 27 slots of both blocks): material 1
// stores q/64, material 2 stores 1, material 3 stores 0. The cover fraction
// array holds a header pair, then (q mod 4)/4 for `cover_slots` slots.
qvw::CycleFileSpec euler_cycle(int cover_slots = 31) {
    qvw::CycleFileSpec c;
    c.structured_parts = {{1, 2, 2}, {3, 3, 3}};
    Floats m1, cover = {0.875f, 0.875f};
    for (int q = 1; q <= 31; ++q) m1.push_back(float(q) / 64.0f);
    for (int q = 1; q <= cover_slots; ++q) cover.push_back(float(q % 4) / 4.0f);
    c.entries = {qvw::DirectoryEntrySpec::real(-2, 155, 1, cover, "FCOVERV")};
    c.material_fractions = std::vector<Floats>{m1, Floats(31, 1.0f), Floats(31, 0.0f)};
    return c;
}

// Fractions of one material into a buffer of 8 values and a sentinel; an
// empty result when the query failed (and then nothing was written).
Floats fractions_of(std::int32_t material) {
    Floats out(9, -1.0f);
    const bool ok = get_MaterialFractions(&material, out.data());
    EXPECT_EQ(out[8], -1.0f) << "written past the 8 elements";
    out.pop_back();
    if (!ok) {
        EXPECT_EQ(out, Floats(8, -1.0f)) << "written by a failed query";
    }
    return ok ? out : Floats{};
}

using Materials = Session;

TEST_F(Materials, NamesFillExactlyTheCallersField) {
    ASSERT_TRUE(load(euler_model()));
    EXPECT_EQ(count(get_NumMaterials), (Out{true, 3}));
    // The field is the primed string; its terminator and what lies behind
    // it stay as they were.
    for (const std::string primed : {"..........", "...", ""}) {
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        std::memcpy(buffer, primed.c_str(), primed.size() + 1);
        std::int32_t material = 1;
        ASSERT_TRUE(get_MaterialName(&material, buffer)) << primed.size();
        EXPECT_EQ(material, 1);
        EXPECT_EQ(std::string(buffer, primed.size() + 2),
                  std::string("STEEL     ").substr(0, primed.size()) + '\0' + 'Z');
    }
    char body[9] = "........";
    const std::int32_t one = 1;
    ASSERT_TRUE(getEulerMatFracBodyName(&one, body));
    EXPECT_STREQ(body, "BODY-A  ");

    for (std::int32_t m : {0, 4}) {
        char buffer[4] = "abc";
        std::int32_t material = m;
        EXPECT_FALSE(get_MaterialName(&material, buffer)) << m;
        EXPECT_EQ(material, -1);
        EXPECT_FALSE(getEulerMatFracBodyName(&m, buffer)) << m;
        EXPECT_STREQ(buffer, "abc");
    }
}

TEST_F(Materials, IdentifiersBothWays) {
    ASSERT_TRUE(load(euler_model()));
    // Materials 1..3 carry 1, -1, 2: material 2's negative identifier comes
    // back with a failure; 0 and 4 are no material.
    EXPECT_EQ(lookup(getEulerMatFracIDforQVMaterial, 1), (Out{true, 1}));
    EXPECT_EQ(lookup(getEulerMatFracIDforQVMaterial, 2), (Out{false, -1}));
    EXPECT_EQ(lookup(getEulerMatFracIDforQVMaterial, 3), (Out{true, 2}));
    EXPECT_EQ(lookup(getEulerMatFracIDforQVMaterial, 4), (Out{false, -1}));
    EXPECT_EQ(lookup(getEulerMatFracIDforQVMaterial, 0), (Out{false, -1}));
    // Identifier 2 belongs to material 3, -1 to material 2; none carries 5.
    EXPECT_EQ(lookup(getQVMaterialforEulerMatFracID, 2), (Out{true, 3}));
    EXPECT_EQ(lookup(getQVMaterialforEulerMatFracID, -1), (Out{true, 2}));
    EXPECT_EQ(lookup(getQVMaterialforEulerMatFracID, 5), (Out{false, -1}));
}

TEST_F(Materials, PoissonRatiosOnlyFromMaterialLevelFour) {
    BaseFileSpec desc = euler_model();
    ASSERT_TRUE(load(desc));
    const std::int32_t three = 3, four = 4;
    float ratio = -1.0f;
    EXPECT_TRUE(getMaterialPoissonRatio(&three, &ratio));
    EXPECT_EQ(ratio, 0.125f);
    ratio = -1.0f;
    EXPECT_FALSE(getMaterialPoissonRatio(&four, &ratio));

    desc.header = {5, 3};
    ASSERT_TRUE(load(desc));
    for (std::int32_t m = 1; m <= 3; ++m) EXPECT_FALSE(getMaterialPoissonRatio(&m, &ratio)) << m;
    EXPECT_EQ(ratio, -1.0f);
    char body[7] = "......";  // names, identifiers and bodies are still there
    EXPECT_TRUE(getEulerMatFracBodyName(&three, body));
    EXPECT_STREQ(body, "BODY-C");
}

using MaterialFractions = Session;

// The 8 elements of the cube sit in slots (i, j, k) with i, j, k in {2, 3},
// slot number p = 9(i-1) + 3(j-1) + k counted over the cube alone (the thin
// block has I = 1 and is passed over): p = 14, 15, 17, 18, 23, 24, 26, 27.
// Cover c = (p mod 4)/4: 0.5, 0.75, 0.25, 0.5, 0.75, 0, 0.5, 0.75.
TEST_F(MaterialFractions, MaterialScaledByTheUncoveredPartOfEachCycle) {
    ASSERT_TRUE(load(euler_model()));
    EXPECT_EQ(fractions_of(1), Floats{});  // no cycle file open
    ASSERT_TRUE(open_cycle(euler_cycle()));
    // Material 1: (1 - c) x p/64.
    //   14: 0.5 x 14 = 7      15: 0.25 x 15 = 3.75   17: 0.75 x 17 = 12.75
    //   18: 0.5 x 18 = 9      23: 0.25 x 23 = 5.75   24: 1 x 24 = 24
    //   26: 0.5 x 26 = 13     27: 0.25 x 27 = 6.75   (all / 64)
    EXPECT_EQ(fractions_of(1), (Floats{7 / 64.f, 3.75f / 64, 12.75f / 64, 9 / 64.f, 5.75f / 64,
                                       24 / 64.f, 13 / 64.f, 6.75f / 64}));
    // Material 2 stores 1 everywhere: 1 - c.
    EXPECT_EQ(fractions_of(2), (Floats{0.5f, 0.25f, 0.75f, 0.5f, 0.25f, 1.0f, 0.5f, 0.25f}));
    for (std::int32_t m : {0, 4, -1}) EXPECT_EQ(fractions_of(m), Floats{}) << m;

    // A cycle whose directory lists no cover fraction: nothing covers the
    // elements, so material 1 comes back as stored, p/64.
    qvw::CycleFileSpec uncovered = euler_cycle();
    uncovered.entries.clear();
    ASSERT_TRUE(open_cycle(uncovered, "run_0002.qvres"));
    EXPECT_EQ(fractions_of(1), (Floats{14 / 64.f, 15 / 64.f, 17 / 64.f, 18 / 64.f, 23 / 64.f,
                                       24 / 64.f, 26 / 64.f, 27 / 64.f}));
    // No "<MMVars>" at all: every fraction is 0.
    uncovered.material_fractions.reset();
    ASSERT_TRUE(open_cycle(uncovered, "run_0003.qvres"));
    EXPECT_EQ(fractions_of(3), Floats(8, 0.0f));
}

TEST_F(MaterialFractions, CoverArrayMustReachTheLastElement) {
    ASSERT_TRUE(load(euler_model()));
    // The last element slot is p = 27, its cover value number 27 + 2 = 29:
    // 27 slot values are enough, 26 are not.
    ASSERT_TRUE(open_cycle(euler_cycle(27)));
    EXPECT_EQ(fractions_of(1).size(), 8u);
    ASSERT_TRUE(open_cycle(euler_cycle(26), "run_0002.qvres"));
    EXPECT_EQ(fractions_of(1), Floats{});

    // Listed in the directory, but the file has no "<Element>" section.
    qvw::CycleFileSpec cycle = euler_cycle();
    cycle.order = {qvw::CycleSection::Model, qvw::CycleSection::MMVars};
    ASSERT_TRUE(open_cycle(cycle, "run_0003.qvres"));
    EXPECT_EQ(fractions_of(1), Floats{});
}

// A third structured part has no extents, so no element count to size by.
TEST_F(MaterialFractions, NothingForMoreStructuredPartsThanTheBaseFileHas) {
    ASSERT_TRUE(load(euler_model()));
    qvw::CycleFileSpec cycle = euler_cycle();
    cycle.structured_parts.push_back({2, 2, 2});
    ASSERT_TRUE(open_cycle(cycle));
    EXPECT_EQ(fractions_of(1), Floats{});
}

}  // namespace
