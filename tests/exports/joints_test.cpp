// Joint quantities, rigid body transforms and result sets through the C
// interface: unit scaling per triple, the joint frame, unknown numbers,
// sections the header declares empty, and missing or damaged sections.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exports/session_fixture.h"

namespace {

using qvw::BaseFileSpec;
using qvw::BodyArraysSpec;
using qvw::CycleFileSpec;
using qvw::CycleSection;
using Floats = std::vector<float>;

// A model whose unit codes are (length, mass, time).
BaseFileSpec model_in_units(std::int32_t length, std::int32_t mass, std::int32_t time) {
    BaseFileSpec model = qvtest::small_model();
    model.units[0] = length;
    model.units[1] = mass;
    model.units[2] = time;
    return model;
}

// Body 3: R = identity, p = (1, 2, 3), c = (1, 0, 0).
// Body 9: R = a quarter turn about z, stored column by column: columns
// (0, 1, 0), (-1, 0, 0), (0, 0, 1); p = (1, 2, 3), c = (1, 2, 0).
BodyArraysSpec two_bodies() {
    return {{3, 9},
            {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 2, 3, 1, 0, 0,
             0, 1, 0, -1, 0, 0, 0, 0, 1, 1, 2, 3, 1, 2, 0}};
}

// Joint 5 stores 100 + p at block position p (1..39), joint 7 stores p.
// So triple a of joint 7 is (3a-2, 3a-1, 3a) and its frame M holds
// m1..m9 = 31..39, column by column.
BodyArraysSpec two_joints() {
    BodyArraysSpec j{{5, 7}, {}};
    for (int p = 1; p <= 39; ++p) j.data.push_back(100.0f + float(p));
    for (int p = 1; p <= 39; ++p) j.data.push_back(float(p));
    return j;
}

CycleFileSpec cycle_with(std::optional<BodyArraysSpec> bodies, std::optional<BodyArraysSpec> joints,
                         std::vector<std::int32_t> header = {1, 1, 1, 1, 0, 1}) {
    CycleFileSpec c;
    c.header = std::move(header);
    c.rigid_bodies = std::move(bodies);
    c.joints = std::move(joints);
    c.chunk_size = 7;  // several chunks per array when the header asks for chunks
    return c;
}

struct Record {
    bool ok;
    Floats values;
};

// The 12-value record of a body, primed with -7 and one sentinel behind.
Record rigid_body(std::int32_t body) {
    Floats out(13, -7.0f);
    const bool ok = get_RigidBodyData(&body, out.data());
    EXPECT_EQ(out[12], -7.0f) << "written past the record";
    out.pop_back();
    return {ok, out};
}

// The 16-value record of a joint quantity, primed with -7 and one sentinel.
Record joint(std::int32_t number, std::int32_t quantity) {
    Floats out(17, -7.0f);
    const bool ok = get_JointData(&number, &quantity, out.data());
    EXPECT_EQ(out[16], -7.0f) << "written past the record";
    out.pop_back();
    return {ok, out};
}

// Three written values followed by the thirteen primed ones.
Floats triple_then_untouched(float a, float b, float c) {
    Floats v(16, -7.0f);
    v[0] = a;
    v[1] = b;
    v[2] = c;
    return v;
}

void expect_near_all(const Floats& actual, const Floats& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_FLOAT_EQ(actual[i], expected[i]) << "position " << i;
}

const Floats kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
const Floats kUntouched12(12, -7.0f);
const Floats kUntouched16(16, -7.0f);

using RigidBodies = qvtest::Session;
using Joints = qvtest::Session;
using ResultSets = qvtest::Session;

TEST_F(RigidBodies, TranslationTakesTheInitialPointToTheCurrentOne) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));  // SI: length exponent 0
    ASSERT_TRUE(open_cycle(cycle_with(two_bodies(), std::nullopt)));
    // Body 3: t = p - R.c = (1, 2, 3) - (1, 0, 0) = (0, 2, 3).
    EXPECT_EQ(rigid_body(3).values, (Floats{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 3}));
    // Body 9: R.c = 1 * (0, 1, 0) + 2 * (-1, 0, 0) = (-2, 1, 0), so
    // t = (1 + 2, 2 - 1, 3 - 0) = (3, 1, 3). The transposed R would give
    // R^T.c = (2, -1, 0) and t = (-1, 3, 3).
    EXPECT_EQ(rigid_body(9).values, (Floats{0, 1, 0, -1, 0, 0, 0, 0, 1, 3, 1, 3}));
    // A body the section does not hold: identity and true.
    const Record unknown = rigid_body(4);
    EXPECT_TRUE(unknown.ok);
    EXPECT_EQ(unknown.values, kIdentity);
}

TEST_F(RigidBodies, MillimetresScaleTheTranslationOnly) {
    ASSERT_TRUE(load(model_in_units(1, 3, 3)));  // length code 1: exponent -3
    ASSERT_TRUE(open_cycle(cycle_with(two_bodies(), std::nullopt, {1, 1, 1, 1, 0, 1, 0, 1})));
    // Chunked body arrays. Body 3: t = 0.001 * (1, 2, 3) - 0.001 * (1, 0, 0).
    const Record r = rigid_body(3);
    ASSERT_TRUE(r.ok);
    expect_near_all(r.values, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0.002f, 0.003f});
}

TEST_F(Joints, TriplesScaleByTheirDimension) {
    // Units (2, 3, 2): l = -2 (length code 2), m = 3*3 - 9 = 0, t = 3*2 - 9 = -3.
    // Force (1,-2,1): -2 + 6 + 0 = 4; moment (2,-2,1): -4 + 6 = 2;
    // length: -2; velocity (1,-1,0): -2 + 3 = 1; dimensionless: 0.
    ASSERT_TRUE(load(model_in_units(2, 3, 2)));
    ASSERT_TRUE(open_cycle(cycle_with(std::nullopt, two_joints(), {1, 1, 1, 1, 0, 1, 0, 1})));

    // q = 1, force triple (1, 2, 3) x 10^4; positions 3..15 keep -7.
    EXPECT_EQ(joint(7, 1).values, triple_then_untouched(1e4f, 2e4f, 3e4f));
    EXPECT_EQ(joint(7, 2).values, triple_then_untouched(400, 500, 600));  // moment x 10^2
    expect_near_all(joint(7, 7).values, triple_then_untouched(0.19f, 0.20f, 0.21f));  // x 10^-2
    EXPECT_EQ(joint(7, 8).values, triple_then_untouched(22, 23, 24));   // dimensionless
    EXPECT_EQ(joint(7, 9).values, triple_then_untouched(250, 260, 270));  // velocity x 10
    // q = 13, the last triple of the last joint: the data array's last values.
    EXPECT_EQ(joint(7, 13).values, triple_then_untouched(37, 38, 39));
    // Joint 5 is the first block: triple 1 = (101, 102, 103) x 10^4.
    EXPECT_EQ(joint(5, 1).values, triple_then_untouched(1.01e6f, 1.02e6f, 1.03e6f));

    // q = -1: M.v with v = (1e4, 2e4, 3e4) and M(r, c) = m(1 + r + 3c):
    //   31*1e4 + 34*2e4 + 37*3e4 = (31 + 68 + 111) e4 = 2.10e6
    //   32*1e4 + 35*2e4 + 38*3e4 = (32 + 70 + 114) e4 = 2.16e6
    //   33*1e4 + 36*2e4 + 39*3e4 = (33 + 72 + 117) e4 = 2.22e6
    EXPECT_EQ(joint(7, -1).values, triple_then_untouched(2.10e6f, 2.16e6f, 2.22e6f));
    // q = -11: M applied to its own first column (31, 32, 33), unscaled:
    //   31*31 + 34*32 + 37*33 = 961 + 1088 + 1221 = 3270
    //   32*31 + 35*32 + 38*33 = 992 + 1120 + 1254 = 3366
    //   33*31 + 36*32 + 39*33 = 1023 + 1152 + 1287 = 3462
    EXPECT_EQ(joint(7, -11).values, triple_then_untouched(3270, 3366, 3462));
    // q = 11: the frame as a homogeneous 4 x 4 matrix, whatever the units.
    EXPECT_EQ(joint(7, 11).values,
              (Floats{31, 32, 33, 0, 34, 35, 36, 0, 37, 38, 39, 0, 0, 0, 0, 1}));
}

TEST_F(Joints, QuantityZeroAndUnknownJointsGiveZerosQuantitiesBeyondThirteenAreRefused) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    ASSERT_TRUE(open_cycle(cycle_with(std::nullopt, two_joints())));
    for (const auto& [number, quantity] : {std::pair{7, 0}, std::pair{6, 1}, std::pair{6, -11}}) {
        const Record r = joint(number, quantity);
        EXPECT_TRUE(r.ok) << number << " " << quantity;
        EXPECT_EQ(r.values, Floats(16, 0.0f)) << number << " " << quantity;
    }
    // Triple 14 of joint 7 would lie behind the data array.
    for (std::int32_t q : {14, -14, 1000, INT32_MIN}) {
        const Record r = joint(7, q);
        EXPECT_FALSE(r.ok) << q;
        EXPECT_EQ(r.values, kUntouched16) << q;
    }
}

TEST_F(Joints, DuplicateNumbersUseTheFirstEntry) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    BodyArraysSpec joints = two_joints();
    joints.numbers = {7, 7};
    BodyArraysSpec bodies = two_bodies();
    bodies.numbers = {9, 9};
    ASSERT_TRUE(open_cycle(cycle_with(bodies, joints)));
    EXPECT_EQ(joint(7, 1).values, triple_then_untouched(101, 102, 103));
    // The first body is the identity one: t = (0, 2, 3).
    EXPECT_EQ(rigid_body(9).values, (Floats{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 3}));
}

TEST_F(Joints, HeaderSayingTheArraysAreAbsentGivesIdentityAndZeros) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    // Six header words and word 2 = 0: the arrays are absent whatever the
    // sections hold (here they are written all the same).
    CycleFileSpec c = cycle_with(two_bodies(), two_joints(), {1, 0, 1, 1, 0, 1});
    c.body_arrays = qvw::Content::Write;
    ASSERT_TRUE(open_cycle(c));
    EXPECT_EQ(rigid_body(3).values, kIdentity);
    EXPECT_TRUE(rigid_body(3).ok);
    const Record r = joint(7, 1);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.values, Floats(16, 0.0f));
}

TEST_F(Joints, NoSelectedCycleOrMissingSectionsFailAndWriteNothing) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    // Loaded, but no cycle file open.
    EXPECT_FALSE(rigid_body(3).ok);
    EXPECT_FALSE(joint(7, 1).ok);

    // Sections absent from the cycle file.
    ASSERT_TRUE(open_cycle(cycle_with(std::nullopt, std::nullopt)));
    EXPECT_EQ(rigid_body(3).values, kUntouched12);
    EXPECT_FALSE(rigid_body(3).ok);
    EXPECT_EQ(joint(7, 1).values, kUntouched16);
    EXPECT_FALSE(joint(7, 1).ok);

    // A failed cycle open leaves the model invalid.
    ASSERT_TRUE(open_cycle(cycle_with(two_bodies(), two_joints())));
    EXPECT_FALSE(set_ResultsFilename(dir_.file("missing_0001.qvres").c_str()));
    EXPECT_FALSE(rigid_body(3).ok);
    EXPECT_FALSE(joint(7, 1).ok);
}

TEST_F(Joints, DamagedSectionsFailWithoutReadingPastTheirArrays) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));

    // Data arrays one value short of what their numbers need: 2 bodies but
    // 29 values (30 needed), 2 joints but 77 values (78 needed). Even the
    // first body and joint, whose blocks are whole, are refused.
    BodyArraysSpec bodies = two_bodies();
    bodies.data.pop_back();
    BodyArraysSpec joints = two_joints();
    joints.data.pop_back();
    ASSERT_TRUE(open_cycle(cycle_with(bodies, joints)));
    for (std::int32_t body : {3, 9, 4}) {
        const Record r = rigid_body(body);
        EXPECT_FALSE(r.ok) << body;
        EXPECT_EQ(r.values, kUntouched12) << body;
    }
    for (std::int32_t number : {5, 7, 6}) {
        const Record r = joint(number, 13);
        EXPECT_FALSE(r.ok) << number;
        EXPECT_EQ(r.values, kUntouched16) << number;
    }

    // Files cut short inside the data array of each section.
    for (CycleSection section : {CycleSection::RigidBodyData, CycleSection::JointData}) {
        CycleFileSpec c = cycle_with(two_bodies(), two_joints());
        c.order = {CycleSection::Model, section};
        qvw::CycleFileLayout layout;
        qvw::FileWriter w = qvw::write_cycle_file(c, layout);
        w.bytes().resize(static_cast<std::size_t>(layout.of(section).end - 6));
        const std::string path = dir_.file("cut_0001.qvres");
        w.save(path);
        ASSERT_TRUE(set_ResultsFilename(path.c_str()));
        EXPECT_FALSE(rigid_body(3).ok);
        EXPECT_FALSE(joint(7, 1).ok);
        EXPECT_EQ(rigid_body(3).values, kUntouched12);
        EXPECT_EQ(joint(7, 1).values, kUntouched16);
    }
}

TEST_F(ResultSets, TimesAreScaledToSecondsInTimeOrder) {
    // Time code 2: t = 3*2 - 9 = -3, every stored time x 0.001.
    qvw::write_base_file(model_in_units(3, 3, 2)).save(dir_.file("job_a.qvres_base"));
    const struct {
        const char* name;
        std::int32_t cycle;
        float time;
    } files[] = {{"job_a_0001.qvres", 30, 3.0f}, {"job_a_0002.qvres", 10, 1.0f},
                 {"job_a_0003.qvres", 20, 2.5f}};
    for (const auto& f : files) {
        CycleFileSpec c;
        c.cycle = f.cycle;
        c.time = f.time;
        qvw::write_cycle_file(c).save(dir_.file(f.name));
    }
    const std::int32_t mode = 1;
    ASSERT_TRUE(set_BaseFilename(&mode, dir_.file("job_a_0001.qvres").c_str(), dir_.path().c_str()));
    ASSERT_EQ(qvtest::count(get_NumSteps), (qvtest::Out{true, 3}));

    std::vector<std::int32_t> cycles(4, -7);
    Floats times(4, -7.0f);
    ASSERT_TRUE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (std::vector<std::int32_t>{10, 20, 30, -7}));
    expect_near_all(times, {0.001f, 0.0025f, 0.003f, -7.0f});
}

TEST_F(ResultSets, NoRegisteredStepsWritesNothingNoModelFails) {
    // A failed cycle open leaves no valid model, whatever ran before.
    EXPECT_FALSE(set_ResultsFilename(dir_.file("missing_0001.qvres").c_str()));
    std::vector<std::int32_t> cycles(2, -7);
    Floats times(2, -7.0f);
    EXPECT_FALSE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (std::vector<std::int32_t>{-1, -7}));
    EXPECT_EQ(times, Floats(2, -7.0f));

    ASSERT_TRUE(load(model_in_units(3, 3, 2)));  // mode 0: nothing registered
    cycles = {-7, -7};
    EXPECT_TRUE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (std::vector<std::int32_t>{-7, -7}));
    EXPECT_EQ(times, Floats(2, -7.0f));
}

}  // namespace
