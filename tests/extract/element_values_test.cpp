// Element getters in both extraction modes, the multi-material expansion,
// sublayer values, directory selection and the arrays that must make a
// query fail without touching the caller's array.
#include "extract/element_values.h"

#include <algorithm>

#include "extract/extract_fixture.h"

namespace {

using namespace qvtest;
using qv::extract::float_elem_values;
using qv::extract::int_elem_values;
using qv::extract::layer_int_elem_values;
using qv::model::store;

constexpr std::int32_t kMaterialNumber = 10;  // integer
constexpr std::int32_t kVelocityX = 4;        // real, (1, -1, 0, 0)
constexpr std::int32_t kMass = 83;            // real, multi-material
constexpr std::int32_t kTempGradX = 180;      // real, (-1, 0, 0, 1)

template <class T>
std::vector<T> join(const std::vector<T>& a, const std::vector<T>& b) {
    std::vector<T> v(a.size() + b.size());
    std::copy(a.begin(), a.end(), v.begin());
    std::copy(b.begin(), b.end(), v.begin() + static_cast<std::ptrdiff_t>(a.size()));
    return v;
}

class ElementValues : public ExtractTest {
protected:
    // A 3 x 3 x 3 part (slots 0..26), a 1 x 4 x 5 part (slots 27..46) and two
    // unstructured elements. Stored: header 1, 2; slot p holds 100 + p;
    // then 900, 901.
    void two_parts() {
        Model m;
        m.blocks = {{3, 3, 3}, {1, 4, 5}};
        m.unstructured_elements = 2;
        const auto ints = join(join({1, 2}, ramp<std::int32_t>(47, 100)), {900, 901});
        const std::vector<float> reals(ints.begin(), ints.end());
        load_and_open(m, {DirectoryEntrySpec::integer(-1, kMaterialNumber, 1, ints),
                          DirectoryEntrySpec::real(-2, kVelocityX, 1, reals)});
    }
};

// Element slots (i,j,k >= 2) of the 3 x 3 x 3 part: p = ((i-1) 3 + (j-1)) 3 + (k-1),
// (2,2,2) = 13, (2,2,3) = 14, (2,3,2) = 16, (2,3,3) = 17, then 22, 23, 25, 26.
const std::vector<std::int32_t> kCube = {113, 114, 116, 117, 122, 123, 125, 126};

TEST_F(ElementValues, ModeZeroReturnsElementSlotsModeOneEverySlot) {
    two_parts();
    for (const std::int32_t mode : {0, 2}) {  // any mode but 1 acts as 0
        store().extraction_mode = mode;
        // Integer: nothing for the 1 x 4 x 5 part.
        const auto i = call(int_elem_values, kMaterialNumber, 1, 2 + 8 + 2 + 1);
        EXPECT_EQ(i.status, 1);
        EXPECT_EQ(i.out, then_untouched(join(join({1, 2}, kCube), {900, 901})));
        // Real: all 20 slots of the 1 x 4 x 5 part, 127..146.
        const auto r = call(float_elem_values, kVelocityX, 1, 2 + 8 + 20 + 2 + 1);
        EXPECT_EQ(r.status, 1);
        const auto expected =
            join(join(join({1, 2}, kCube), ramp<std::int32_t>(20, 127)), {900, 901});
        EXPECT_EQ(r.out, then_untouched(std::vector<float>(expected.begin(), expected.end())));
    }
    // Mode 1: header, the 47 slots, then the unstructured elements.
    store().extraction_mode = 1;
    const auto all = join(join({1, 2}, ramp<std::int32_t>(47, 100)), {900, 901});
    const auto i = call(int_elem_values, kMaterialNumber, 1, 51 + 1);
    EXPECT_EQ(i.status, 1);
    EXPECT_EQ(i.out, then_untouched(all));
    const auto r = call(float_elem_values, kVelocityX, 1, 51 + 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, then_untouched(std::vector<float>(all.begin(), all.end())));

    // A base file load puts the mode back to 0.
    load(Model{});
    EXPECT_EQ(store().extraction_mode, 0);
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
    std::vector<float> stored = {5, 6};
    for (int p = 0; p < 14; ++p)
        for (int v = 1; v <= 4; ++v) stored.push_back(1000.0f * float(10 * p + v));
    stored.push_back(999000.0f);
    load_and_open(m, {DirectoryEntrySpec::real(-2, kMass, 1, stored)});

    // Each value x 1e-3: material 1, material 3, own value, per element of
    // the first part and per slot of the second.
    const auto c = call(float_elem_values, kMass, 1, 2 + 2 * 3 + 2 * 3 + 1 + 1);
    ASSERT_EQ(c.status, 1);
    const std::vector<float> expected = {5,   6,   71,  73,  74,  111, 113, 114,
                                         121, 123, 124, 131, 133, 134, 999};
    for (std::size_t x = 0; x < expected.size(); ++x) EXPECT_FLOAT_EQ(c.out[x], expected[x]) << x;
    EXPECT_EQ(c.out[15], kUntouched);

    // Mode 1: one value per slot, no expansion: stored values 3..17 scaled.
    store().extraction_mode = 1;
    const auto all = call(float_elem_values, kMass, 1, 2 + 14 + 1 + 1);
    ASSERT_EQ(all.status, 1);
    EXPECT_FLOAT_EQ(all.out[2], 1.0f);   // slot 0, material 1
    EXPECT_FLOAT_EQ(all.out[6], 11.0f);  // slot 1, material 1
    EXPECT_FLOAT_EQ(all.out[16], 33.0f);
    EXPECT_EQ(all.out[17], kUntouched);

    // An Euler id of 0 is reported: a 2 x 2 x 2 part of one such material
    // gives its element slot 7's two values, stored at 2 + 2 x 7 = 16, 17.
    m = Model{};
    m.blocks = {{2, 2, 2}};
    m.materials = {{"A", 0, "", 0}};
    load_and_open(m, {DirectoryEntrySpec::real(-2, kMass, 1, ramp<float>(18, 0))});
    EXPECT_EQ(call(float_elem_values, kMass, 1, 5).out, then_untouched(reals({0, 1, 16, 17})));
}

TEST_F(ElementValues, RealDimensionCodeKeepsTemperatureOnlyInModeZero) {
    // (-1, 0, 0, 1) has no code: factor 1. Mode 1 drops temperature:
    // (-1, 0, 0, 0) is 1 / length, exponent -(-3) = 3 with length code 1.
    Model m;
    m.blocks = {{2, 2, 2}};
    m.units[0] = 1;
    load_and_open(m, {DirectoryEntrySpec::real(-2, kTempGradX, 1, ramp<float>(10, 1))});
    auto c = call(float_elem_values, kTempGradX, 1, 4);
    ASSERT_EQ(c.status, 1);
    EXPECT_EQ(c.out, then_untouched(reals({1, 2, 10})));  // the cell of slot 7
    store().extraction_mode = 1;
    c = call(float_elem_values, kTempGradX, 1, 11);
    ASSERT_EQ(c.status, 1);
    EXPECT_FLOAT_EQ(c.out[2], 3000.0f);
    EXPECT_FLOAT_EQ(c.out[9], 10000.0f);
}

TEST_F(ElementValues, QualifiersAndSublayers) {
    // 1 x 3 x 4 (12 slots) and 2 x 3 x 4 (slots 12..35): sublayer values
    // give 12 and 6. Elements of the second part: i = 2, j = 2, 3, k = 2..4,
    // p = 12 + ((2-1) 3 + (j-1)) 4 + (k-1): 29, 30, 31, 33, 34, 35.
    Model m;
    m.blocks = {{1, 3, 4}, {2, 3, 4}};
    const auto stored = join({7, 8}, ramp<std::int32_t>(36, 0));
    load_and_open(m,
                  {DirectoryEntrySpec::integer(-1, 40, -1, stored),
                   DirectoryEntrySpec::real(-2, 41, -1, join(reals({7, 8}), ramp<float>(36, 0)))});
    const auto layered = join(join({7, 8}, ramp<std::int32_t>(12, 0)), {29, 30, 31, 33, 34, 35});
    // Sublayer 0 reaches the worker as -1 and finds the entry; 1 does not.
    auto c = call(layer_int_elem_values, 40, -1, 20 + 1);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.out, then_untouched(layered));
    c = call(layer_int_elem_values, 40, 1, 21);
    EXPECT_EQ(c.status, -1);
    EXPECT_EQ(c.out, std::vector<std::int32_t>(21, kUntouched));
    // The element getters match the qualifier by its absolute value.
    c = call(int_elem_values, 40, 1, 9);
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.out, then_untouched(std::vector<std::int32_t>{7, 8, 29, 30, 31, 33, 34, 35}));
    const auto r = call(float_elem_values, 41, 1, 21);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out[19], 35.0f);
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
    EXPECT_EQ(call(int_elem_values, 50, 1, 10).status, 1);  // exactly enough
    EXPECT_TRUE(fails(call(int_elem_values, 51, 1, 10)));
    EXPECT_TRUE(fails(call(float_elem_values, kMass, 1, 20)));
    EXPECT_TRUE(fails(call(int_elem_values, kMaterialNumber, 1, 40)));  // not stored
    EXPECT_TRUE(fails(call(layer_int_elem_values, 51, 1, 40)));
    EXPECT_EQ(call(layer_int_elem_values, 50, 1, 40).status, 1);  // 2 x 1 x 3 adds nothing
    store().extraction_mode = 1;
    EXPECT_TRUE(fails(call(int_elem_values, kMaterialNumber, 1, 40)));  // not stored
    EXPECT_TRUE(fails(call(float_elem_values, 99, 1, 40)));
    EXPECT_TRUE(fails(call(int_elem_values, 50, 1, 40)));
    EXPECT_TRUE(fails(call(float_elem_values, 53, 1, 40)));
    EXPECT_EQ(call(int_elem_values, 1, 1, 40).status, 1);
    EXPECT_TRUE(fails(call(int_elem_values, 0, 1, 40)));  // index 0 names no variable

    // After a failed cycle open nothing is answered, in either mode.
    EXPECT_FALSE(qv::api::open_cycle_file(dir_.file("missing.qvres")));
    EXPECT_TRUE(fails(call(int_elem_values, 1, 1, 40)));
    store().extraction_mode = 0;
    EXPECT_TRUE(fails(call(int_elem_values, 50, 1, 40)));
    EXPECT_TRUE(fails(call(layer_int_elem_values, 50, 1, 40)));
}

}  // namespace
