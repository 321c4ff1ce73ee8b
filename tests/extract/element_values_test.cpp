// Element getters in both extraction modes, the multi-material expansion,
// sublayer values, directory selection and the arrays that must make a
// query fail without touching the caller's array.
#include "extract/element_values.h"

#include "extract/extract_fixture.h"

namespace {

using namespace qvtest;
using qv::extract::float_elem_values;
using qv::extract::int_elem_values;
using qv::extract::layer_int_elem_values;

constexpr std::int32_t kMaterialNumber = 10;  // integer
constexpr std::int32_t kVelocityX = 4;        // real, (1, -1, 0, 0)
constexpr std::int32_t kMass = 83;            // real, multi-material
constexpr std::int32_t kTempGradX = 180;      // real, (-1, 0, 0, 1)

// The concatenation of the given lists.
Ints join(std::initializer_list<Ints> parts) {
    Ints v;
    for (const Ints& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

using ElementValues = ExtractTest;

TEST_F(ElementValues, ModeZeroReturnsElementSlotsModeOneEverySlot) {
    // A 3 x 3 x 3 part (slots 0..26), a 1 x 4 x 5 part (slots 27..46) and two
    // unstructured elements. Stored: header 1, 2; slot p holds 100 + p;
    // then 900, 901.
    Model m;
    m.blocks = {{3, 3, 3}, {1, 4, 5}};
    m.unstructured_elements = 2;
    const Ints all = join({{1, 2}, ramp<std::int32_t>(47, 100), {900, 901}});
    load_and_open(m, {DirectoryEntrySpec::integer(-1, kMaterialNumber, 1, all),
                      DirectoryEntrySpec::real(-2, kVelocityX, 1, as_floats(all))});
    // Element slots (i,j,k >= 2) of the 3 x 3 x 3 part: p = ((i-1) 3 + (j-1)) 3
    // + (k-1): (2,2,2) = 13, (2,2,3) = 14, (2,3,2) = 16, (2,3,3) = 17, then 22,
    // 23, 25, 26. Nothing of the 1 x 4 x 5 part for the integer getter, all
    // its 20 slots, 127..146, for the real one.
    const Ints cube = {113, 114, 116, 117, 122, 123, 125, 126};
    for (const std::int32_t mode : {0, 2}) {  // any mode but 1 acts as 0
        mode_ = mode;
        EXPECT_EQ(call(int_elem_values, kMaterialNumber, 1, 12), join({{1, 2}, cube, {900, 901}}));
        EXPECT_EQ(call(float_elem_values, kVelocityX, 1, 32),
                  as_floats(join({{1, 2}, cube, ramp<std::int32_t>(20, 127), {900, 901}})));
    }
    // Mode 1: header, the 47 slots, then the unstructured elements.
    mode_ = 1;
    EXPECT_EQ(call(int_elem_values, kMaterialNumber, 1, 51), all);
    EXPECT_EQ(call(float_elem_values, kVelocityX, 1, 51), as_floats(all));
}

TEST_F(ElementValues, MultiMaterialVariablesExpandByReportedMaterial) {
    // Materials with Euler ids 1, -1, 2: materials 1 and 3 are reported.
    // Parts 3 x 2 x 2 (slots 0..11, elements in slots 7 and 11) and 1 x 2 x 1
    // (slots 12, 13), one unstructured element. Slot p stores 4 values,
    // 10p + 1 .. 10p + 4 (materials 1..3, own value); then 999.
    Model m;
    m.blocks = {{3, 2, 2}, {1, 2, 1}};
    m.unstructured_elements = 1;
    m.materials = {{"A", 1, "", 0}, {"B", -1, "", 0}, {"C", 2, "", 0}};
    m.units[1] = 2;  // mass code 2: mass exponent 3 x 2 - 9 = -3
    Floats stored = {5, 6};
    for (int p = 0; p < 14; ++p)
        for (int v = 1; v <= 4; ++v) stored.push_back(1000.0f * float(10 * p + v));
    stored.push_back(999000.0f);
    load_and_open(m, {DirectoryEntrySpec::real(-2, kMass, 1, stored)});

    // Each value x 1e-3: material 1, material 3, own value, per element of
    // the first part and per slot of the second.
    expect_near_all(call(float_elem_values, kMass, 1, 15),
                    {5, 6, 71, 73, 74, 111, 113, 114, 121, 123, 124, 131, 133, 134, 999});
    // Mode 1: the header pair as stored, unscaled; one value per slot, the
    // slot's own (10p + 4), then the unstructured element behind all stored
    // slot values.
    mode_ = 1;
    Floats own = {5, 6};
    for (int p = 0; p < 14; ++p) own.push_back(float(10 * p + 4));
    own.push_back(999);
    expect_near_all(call(float_elem_values, kMass, 1, 17), own);

    // An Euler id of 0 is reported: a 2 x 2 x 2 part of one such material
    // gives its element slot 7's two values, stored at 2 + 2 x 7 = 16, 17.
    m = Model{};
    m.blocks = {{2, 2, 2}};
    m.materials = {{"A", 0, "", 0}};
    load_and_open(m, {DirectoryEntrySpec::real(-2, kMass, 1, ramp<float>(18, 0))});
    EXPECT_EQ(call(float_elem_values, kMass, 1, 4), (Floats{0, 1, 16, 17}));
}

TEST_F(ElementValues, RealDimensionCodeKeepsTemperatureOnlyInModeZero) {
    // (-1, 0, 0, 1) has no code: factor 1. Mode 1 drops temperature:
    // (-1, 0, 0, 0) is 1 / length, exponent -(-3) = 3 with length code 1.
    Model m;
    m.blocks = {{2, 2, 2}};
    m.units[0] = 1;
    load_and_open(m, {DirectoryEntrySpec::real(-2, kTempGradX, 1, ramp<float>(10, 1))});
    EXPECT_EQ(call(float_elem_values, kTempGradX, 1, 3), (Floats{1, 2, 10}));  // the cell of slot 7
    // Stored 1..10: the header pair 1, 2 unscaled, the eight slots x 1000.
    mode_ = 1;
    Floats expected = ramp<float>(10, 1);
    for (std::size_t x = 2; x < expected.size(); ++x) expected[x] *= 1000.0f;
    expect_near_all(call(float_elem_values, kTempGradX, 1, 10), expected);
}

TEST_F(ElementValues, QualifiersAndSublayers) {
    // 1 x 3 x 4 (12 slots) and 2 x 3 x 4 (slots 12..35): sublayer values
    // give 12 and 6. Elements of the second part: i = 2, j = 2, 3, k = 2..4,
    // p = 12 + ((2-1) 3 + (j-1)) 4 + (k-1): 29, 30, 31, 33, 34, 35.
    Model m;
    m.blocks = {{1, 3, 4}, {2, 3, 4}};
    const Ints stored = join({{7, 8}, ramp<std::int32_t>(36, 0)});
    load_and_open(m, {DirectoryEntrySpec::integer(-1, 40, -1, stored),
                      DirectoryEntrySpec::real(-2, 41, -1, as_floats(stored))});
    // Sublayer 0 reaches the worker as -1 and finds the entry; 1 does not.
    EXPECT_EQ(call(layer_int_elem_values, 40, -1, 20),
              join({{7, 8}, ramp<std::int32_t>(12, 0), {29, 30, 31, 33, 34, 35}}));
    EXPECT_EQ(call(layer_int_elem_values, 40, 1, 20), Ints{});
    // The element getters match the qualifier by its absolute value.
    EXPECT_EQ(call(int_elem_values, 40, 1, 8), (Ints{7, 8, 29, 30, 31, 33, 34, 35}));
    EXPECT_EQ(call(float_elem_values, 41, 1, 20).at(19), 35.0f);
}

TEST_F(ElementValues, MissingOrShortArraysFailAndWriteNothing) {
    // 3 x 3 x 3 then 2 x 1 x 3 (slots 27..32, no cells), no unstructured
    // elements. Mode 0 and the sublayer getter read up to slot 26 and need
    // 2 + 27 values; mode 1 needs all 2 + 33.
    Model m;
    m.blocks = {{3, 3, 3}, {2, 1, 3}};
    m.materials = {{"A", 1, "", 0}};
    load_and_open(m, {DirectoryEntrySpec::integer(-1, 50, 1, ramp<std::int32_t>(29, 0)),
                      DirectoryEntrySpec::integer(-1, 51, 1, ramp<std::int32_t>(28, 0)),
                      DirectoryEntrySpec::integer(-1, 1, 1, ramp<std::int32_t>(35, 0)),
                      DirectoryEntrySpec::real(-2, 53, 1, ramp<float>(34, 0)),
                      // IVR_MASS, 2 values per slot: 2 + 2 x 27 = 56 needed
                      DirectoryEntrySpec::real(-2, kMass, 1, ramp<float>(55, 0))});
    EXPECT_EQ(call(int_elem_values, 50, 1, 10).size(), 10u);  // exactly enough
    EXPECT_EQ(call(int_elem_values, 51, 1, 10), Ints{});
    EXPECT_EQ(call(float_elem_values, kMass, 1, 18), Floats{});
    EXPECT_EQ(call(int_elem_values, kMaterialNumber, 1, 40), Ints{});  // not stored
    EXPECT_EQ(call(layer_int_elem_values, 51, 1, 40), Ints{});
    EXPECT_EQ(call(layer_int_elem_values, 50, 1, 10).size(), 10u);  // 2 x 1 x 3 adds nothing
    mode_ = 1;
    EXPECT_EQ(call(int_elem_values, kMaterialNumber, 1, 40), Ints{});  // not stored
    EXPECT_EQ(call(float_elem_values, 99, 1, 40), Floats{});
    EXPECT_EQ(call(int_elem_values, 50, 1, 40), Ints{});
    EXPECT_EQ(call(float_elem_values, 53, 1, 40), Floats{});
    EXPECT_EQ(call(int_elem_values, 1, 1, 35).size(), 35u);
    EXPECT_EQ(call(int_elem_values, 0, 1, 40), Ints{});  // index 0 names no variable
}

}  // namespace
