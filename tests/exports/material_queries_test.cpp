// Material queries through the C interface: names into caller text fields,
// Euler identifiers both ways, Poisson ratios, and the per-element material
// fractions of the current cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exports/session_fixture.h"

namespace {

using qvtest::lookup;
using qvtest::Out;
using qvw::BaseFileSpec;
using qvw::PartSpec;
using Floats = std::vector<float>;

// A thin 1 x 2 x 2 block (4 slots, no elements) ahead of a 3 x 3 x 3 block
// (27 slots, 8 elements); three materials with identifiers 1, -1, 2.
BaseFileSpec euler_model() {
    BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts.push_back(PartSpec::structured("THIN", 1, 2, 2));
    desc.parts.push_back(PartSpec::structured("CUBE", 3, 3, 3));
    desc.materials = {{"STEEL", 1, "BODY-A", 0.25f},
                      {"AIR", -1, "BODY-B", 0.5f},
                      {"WATER", 2, "BODY-C", 0.125f}};
    return desc;
}

// Slot values q = 1..31 (the 4 + 27 slots of both blocks).
constexpr int kSlots = 31;

// Material 1 stores q/64, material 2 stores 1, material 3 stores 0.
std::vector<Floats> stored_fractions() {
    Floats m1, m2(kSlots, 1.0f), m3(kSlots, 0.0f);
    for (int q = 1; q <= kSlots; ++q) m1.push_back(float(q) / 64.0f);
    return {m1, m2, m3};
}

// The cover fraction array: a header pair (0.875, 0.875), then (q mod 4)/4
// for slot q, given for `slots` slots.
qvw::DirectoryEntrySpec cover(int slots = kSlots) {
    Floats v = {0.875f, 0.875f};
    for (int q = 1; q <= slots; ++q) v.push_back(float(q % 4) / 4.0f);
    return qvw::DirectoryEntrySpec::real(-2, 155, 1, v, "FCOVERV");
}

qvw::CycleFileSpec euler_cycle() {
    qvw::CycleFileSpec c;
    c.structured_parts = {{1, 2, 2}, {3, 3, 3}};
    c.entries = {cover()};
    c.material_fractions = stored_fractions();
    return c;
}

// Fractions of one material into a buffer of 8 values and a sentinel.
struct Fractions {
    bool ok;
    Floats values;
};
Fractions fractions_of(std::int32_t material) {
    Floats out(9, -1.0f);
    const bool ok = get_MaterialFractions(&material, out.data());
    EXPECT_EQ(out[8], -1.0f) << "written past the 8 elements";
    out.pop_back();
    return {ok, out};
}

using Materials = qvtest::Session;

TEST_F(Materials, NamesFillExactlyTheCallersField) {
    ASSERT_TRUE(load(euler_model()));
    EXPECT_EQ(qvtest::count(get_NumMaterials), (Out{true, 3}));

    struct Case {
        const char* primed;
        const char* expected;  // the field after the call
    };
    for (const Case& c : {Case{"..........", "STEEL     "}, Case{"...", "STE"}, Case{"", ""}}) {
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        const std::size_t n = std::strlen(c.primed);
        std::memcpy(buffer, c.primed, n + 1);
        std::int32_t material = 1;
        ASSERT_TRUE(get_MaterialName(&material, buffer)) << n;
        EXPECT_EQ(material, 1);
        EXPECT_EQ(std::string(buffer, n), c.expected);
        EXPECT_EQ(buffer[n], '\0') << n;  // the caller's terminator stays
        EXPECT_EQ(buffer[n + 1], 'Z') << n;
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
        EXPECT_STREQ(buffer, "abc");
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
    EXPECT_EQ(ratio, -1.0f);

    desc.header = {5, 3};
    ASSERT_TRUE(load(desc));
    for (std::int32_t m = 1; m <= 3; ++m) {
        EXPECT_FALSE(getMaterialPoissonRatio(&m, &ratio)) << m;
        EXPECT_EQ(ratio, -1.0f);
    }
    char body[7] = "......";  // names, identifiers and bodies are still there
    EXPECT_TRUE(getEulerMatFracBodyName(&three, body));
    EXPECT_STREQ(body, "BODY-C");
}

using MaterialFractions = qvtest::Session;

// The 8 elements of the cube sit in slots (i, j, k) with i, j, k in {2, 3},
// slot number p = 9(i-1) + 3(j-1) + k counted over the cube alone (the thin
// block has I = 1 and is passed over): p = 14, 15, 17, 18, 23, 24, 26, 27.
// Cover c = (p mod 4)/4: 0.5, 0.75, 0.25, 0.5, 0.75, 0, 0.5, 0.75.

TEST_F(MaterialFractions, MaterialScaledByTheUncoveredPart) {
    ASSERT_TRUE(load(euler_model()));
    ASSERT_TRUE(open_cycle(euler_cycle()));
    // Material 1: (1 - c) x p/64.
    //   14: 0.5 x 14 = 7      15: 0.25 x 15 = 3.75   17: 0.75 x 17 = 12.75
    //   18: 0.5 x 18 = 9      23: 0.25 x 23 = 5.75   24: 1 x 24 = 24
    //   26: 0.5 x 26 = 13     27: 0.25 x 27 = 6.75   (all / 64)
    const Fractions m1 = fractions_of(1);
    ASSERT_TRUE(m1.ok);
    EXPECT_EQ(m1.values, (Floats{7 / 64.f, 3.75f / 64, 12.75f / 64, 9 / 64.f, 5.75f / 64,
                                 24 / 64.f, 13 / 64.f, 6.75f / 64}));
    // Material 2 stores 1 everywhere: 1 - c.
    const Fractions m2 = fractions_of(2);
    ASSERT_TRUE(m2.ok);
    EXPECT_EQ(m2.values, (Floats{0.5f, 0.25f, 0.75f, 0.5f, 0.25f, 1.0f, 0.5f, 0.25f}));
}

TEST_F(MaterialFractions, EachOpenedCycleIsReadAfresh) {
    ASSERT_TRUE(load(euler_model()));
    ASSERT_TRUE(open_cycle(euler_cycle()));
    ASSERT_TRUE(fractions_of(1).ok);

    // A cycle whose directory lists no cover fraction: nothing covers the
    // elements, so material 1 comes back as stored, p/64.
    qvw::CycleFileSpec uncovered = euler_cycle();
    uncovered.entries.clear();
    ASSERT_TRUE(open_cycle(uncovered, "run_0002.qvres"));
    const Fractions m1 = fractions_of(1);
    ASSERT_TRUE(m1.ok);
    EXPECT_EQ(m1.values, (Floats{14 / 64.f, 15 / 64.f, 17 / 64.f, 18 / 64.f, 23 / 64.f,
                                 24 / 64.f, 26 / 64.f, 27 / 64.f}));

    // No "<MMVars>" at all: every fraction is 0.
    qvw::CycleFileSpec none = uncovered;
    none.material_fractions.reset();
    ASSERT_TRUE(open_cycle(none, "run_0003.qvres"));
    const Fractions m3 = fractions_of(3);
    ASSERT_TRUE(m3.ok);
    EXPECT_EQ(m3.values, Floats(8, 0.0f));
}

TEST_F(MaterialFractions, CoverArrayMustReachTheLastElement) {
    ASSERT_TRUE(load(euler_model()));
    // The last element slot is p = 27, its cover value number 27 + 2 = 29:
    // 27 slot values are enough, 26 are not.
    qvw::CycleFileSpec cycle = euler_cycle();
    cycle.entries = {cover(27)};
    ASSERT_TRUE(open_cycle(cycle));
    EXPECT_TRUE(fractions_of(1).ok);

    cycle.entries = {cover(26)};
    ASSERT_TRUE(open_cycle(cycle, "run_0002.qvres"));
    const Fractions short_cover = fractions_of(1);
    EXPECT_FALSE(short_cover.ok);
    EXPECT_EQ(short_cover.values, Floats(8, -1.0f));

    // Listed in the directory, but the file has no "<Element>" section.
    cycle = euler_cycle();
    cycle.order = {qvw::CycleSection::Model, qvw::CycleSection::MMVars};
    ASSERT_TRUE(open_cycle(cycle, "run_0003.qvres"));
    EXPECT_FALSE(fractions_of(1).ok);
}

TEST_F(MaterialFractions, RefusedWithoutCycleOrMaterial) {
    ASSERT_TRUE(load(euler_model()));
    EXPECT_FALSE(fractions_of(1).ok);  // no cycle file open

    ASSERT_TRUE(open_cycle(euler_cycle()));
    for (std::int32_t m : {0, 4, -1}) {
        const Fractions f = fractions_of(m);
        EXPECT_FALSE(f.ok) << m;
        EXPECT_EQ(f.values, Floats(8, -1.0f));
    }

    // A cycle file that cannot be opened leaves the model invalid.
    const char* missing = "/nonexistent/run_0009.qvres";
    EXPECT_FALSE(set_ResultsFilename(missing));
    EXPECT_FALSE(fractions_of(1).ok);
}

}  // namespace
