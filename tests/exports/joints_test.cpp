// Joint quantities, rigid body transforms and result sets through the C
// interface: unit scaling per triple, the joint frame, unknown numbers,
// sections the header declares empty, and missing or damaged sections.
#include <optional>

#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
using qvw::BodyArraysSpec;
using qvw::CycleFileSpec;

// A model whose unit codes are (length, mass, time).
qvw::BaseFileSpec model_in_units(std::int32_t length, std::int32_t mass, std::int32_t time) {
    qvw::BaseFileSpec model = small_model();
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

// Chunked body arrays (several chunks of 7 values each) when `chunked`.
CycleFileSpec cycle_with(std::optional<BodyArraysSpec> bodies, std::optional<BodyArraysSpec> joints,
                         bool chunked = false) {
    CycleFileSpec c;
    c.header = chunked ? Ints{1, 1, 1, 1, 0, 1, 0, 1} : Ints{1, 1, 1, 1, 0, 1};
    c.rigid_bodies = std::move(bodies);
    c.joints = std::move(joints);
    c.chunk_size = 7;
    return c;
}

// A record of N values primed with -7 and one sentinel behind it, which must
// stay; an empty record when the query failed (and then nothing was written).
template <std::size_t N, class Query>
Floats record(Query query) {
    Floats out(N + 1, -7.0f);
    const bool ok = query(out.data());
    EXPECT_EQ(out[N], -7.0f) << "written past the record";
    out.pop_back();
    if (!ok) {
        EXPECT_EQ(out, Floats(N, -7.0f)) << "written by a failed query";
    }
    return ok ? out : Floats{};
}
Floats rigid_body(std::int32_t body) {
    return record<12>([&](float* r) { return get_RigidBodyData(&body, r); });
}
Floats joint(std::int32_t number, std::int32_t quantity) {
    return record<16>([&](float* r) { return get_JointData(&number, &quantity, r); });
}

// Three written values followed by the thirteen primed ones.
Floats triple(float a, float b, float c) {
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

using RigidBodies = Session;
using Joints = Session;
using ResultSets = Session;

TEST_F(RigidBodies, TranslationTakesTheInitialPointToTheCurrentOne) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));  // SI: length exponent 0
    EXPECT_EQ(rigid_body(3), Floats{});           // no cycle file open
    ASSERT_TRUE(open_cycle(cycle_with(two_bodies(), std::nullopt)));
    // Body 3: t = p - R.c = (1, 2, 3) - (1, 0, 0) = (0, 2, 3).
    EXPECT_EQ(rigid_body(3), (Floats{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 3}));
    // Body 9: R.c = 1 * (0, 1, 0) + 2 * (-1, 0, 0) = (-2, 1, 0), so
    // t = (1 + 2, 2 - 1, 3 - 0) = (3, 1, 3). The transposed R would give
    // R^T.c = (2, -1, 0) and t = (-1, 3, 3).
    EXPECT_EQ(rigid_body(9), (Floats{0, 1, 0, -1, 0, 0, 0, 0, 1, 3, 1, 3}));
    EXPECT_EQ(rigid_body(4), kIdentity);  // a body the section does not hold

    // Length code 1 (exponent -3), chunked arrays: the translation only.
    ASSERT_TRUE(load(model_in_units(1, 3, 3)));
    ASSERT_TRUE(open_cycle(cycle_with(two_bodies(), std::nullopt, true)));
    expect_near_all(rigid_body(3), {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0.002f, 0.003f});
}

TEST_F(Joints, TriplesScaleByTheirDimension) {
    // Units (2, 3, 2): l = -2 (length code 2), m = 3*3 - 9 = 0, t = 3*2 - 9 = -3.
    // Force (1,-2,1): -2 + 6 + 0 = 4; moment (2,-2,1): -4 + 6 = 2;
    // length: -2; velocity (1,-1,0): -2 + 3 = 1; dimensionless: 0.
    ASSERT_TRUE(load(model_in_units(2, 3, 2)));
    ASSERT_TRUE(open_cycle(cycle_with(std::nullopt, two_joints(), true)));
    const struct {
        std::int32_t joint, quantity;
        Floats record;
    } cases[] = {
        {7, 1, triple(1e4f, 2e4f, 3e4f)},     // force x 10^4; positions 3..15 keep -7
        {7, 2, triple(400, 500, 600)},        // moment x 10^2
        {7, 7, triple(0.19f, 0.20f, 0.21f)},  // length x 10^-2
        {7, 8, triple(22, 23, 24)},           // dimensionless
        {7, 9, triple(250, 260, 270)},        // velocity x 10
        {7, 13, triple(37, 38, 39)},          // the data array's last values
        {5, 1, triple(1.01e6f, 1.02e6f, 1.03e6f)},  // joint 5 is the first block
        // q = -1: M.v with v = (1e4, 2e4, 3e4) and M(r, c) = m(1 + r + 3c):
        //   (31 + 68 + 111) e4, (32 + 70 + 114) e4, (33 + 72 + 117) e4.
        {7, -1, triple(2.10e6f, 2.16e6f, 2.22e6f)},
        // q = -11: M applied to its own first column (31, 32, 33), unscaled:
        //   961 + 1088 + 1221, 992 + 1120 + 1254, 1023 + 1152 + 1287.
        {7, -11, triple(3270, 3366, 3462)},
        // q = 11: the frame as a homogeneous 4 x 4 matrix, whatever the units.
        {7, 11, {31, 32, 33, 0, 34, 35, 36, 0, 37, 38, 39, 0, 0, 0, 0, 1}},
        // q = 0, and joints the section does not hold: zeros and true.
        {7, 0, Floats(16, 0.0f)},
        {6, 1, Floats(16, 0.0f)},
        {6, -11, Floats(16, 0.0f)},
        // Triple 14 of joint 7 would lie behind the data array: refused.
        {7, 14, {}},
        {7, -14, {}},
        {7, INT32_MIN, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "joint " << c.joint << ", quantity " << c.quantity);
        expect_near_all(joint(c.joint, c.quantity), c.record);
    }
}

TEST_F(Joints, DuplicateNumbersUseTheFirstEntryAbsentArraysGiveIdentityAndZeros) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    BodyArraysSpec joints = two_joints(), bodies = two_bodies();
    joints.numbers = {7, 7};
    bodies.numbers = {9, 9};
    ASSERT_TRUE(open_cycle(cycle_with(bodies, joints)));
    EXPECT_EQ(joint(7, 1), triple(101, 102, 103));
    EXPECT_EQ(rigid_body(9), (Floats{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 3}));

    // Six header words and word 2 = 0: the arrays are absent whatever the
    // sections hold (here they are written all the same).
    CycleFileSpec c = cycle_with(two_bodies(), two_joints());
    c.header[1] = 0;
    c.body_arrays = qvw::Content::Write;
    ASSERT_TRUE(open_cycle(c, "run_0002.qvres"));
    EXPECT_EQ(rigid_body(3), kIdentity);
    EXPECT_EQ(joint(7, 1), Floats(16, 0.0f));

    // Sections absent from the cycle file: refused.
    ASSERT_TRUE(open_cycle(cycle_with(std::nullopt, std::nullopt), "run_0003.qvres"));
    EXPECT_EQ(rigid_body(3), Floats{});
    EXPECT_EQ(joint(7, 1), Floats{});
}

TEST_F(Joints, DataArraysShortOfTheirNumbersAreRefused) {
    ASSERT_TRUE(load(model_in_units(3, 3, 3)));
    // Data arrays one value short of what their numbers need: 2 bodies but
    // 29 values (30 needed), 2 joints but 77 values (78 needed). Even the
    // first body and joint, whose blocks are whole, are refused.
    BodyArraysSpec bodies = two_bodies(), joints = two_joints();
    bodies.data.pop_back();
    joints.data.pop_back();
    ASSERT_TRUE(open_cycle(cycle_with(bodies, joints)));
    for (std::int32_t n : {3, 9, 4}) EXPECT_EQ(rigid_body(n), Floats{}) << n;
    for (std::int32_t n : {5, 7, 6}) EXPECT_EQ(joint(n, 13), Floats{}) << n;
}

TEST_F(ResultSets, TimesAreScaledToSecondsInTimeOrder) {
    // Time code 2: t = 3*2 - 9 = -3, every stored time x 0.001.
    qvw::write_base_file(model_in_units(3, 3, 2)).save(dir_.file("job_a.qvres_base"));
    const struct {
        const char* name;
        std::int32_t cycle;
        float time;
    } files[] = {{"job_a_0001.qvres", 30, 3.0f}, {"job_a_0002.qvres", 40, 1.0f},
                 {"job_a_0003.qvres", 20, 2.5f}};  // neither name nor cycle order is time order
    for (const auto& f : files) {
        CycleFileSpec c;
        c.cycle = f.cycle;
        c.time = f.time;
        qvw::write_cycle_file(c).save(dir_.file(f.name));
    }
    const std::int32_t mode = 1;
    ASSERT_TRUE(set_BaseFilename(&mode, dir_.file("job_a_0001.qvres").c_str(), dir_.path().c_str()));
    Ints cycles(4, -7);
    Floats times(4, -7.0f);
    ASSERT_TRUE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (Ints{40, 20, 30, -7}));
    expect_near_all(times, {0.001f, 0.0025f, 0.003f, -7.0f});

    // Mode 0 registers nothing: true, nothing written.
    ASSERT_TRUE(load(model_in_units(3, 3, 2)));
    cycles = {-7, -7};
    EXPECT_TRUE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (Ints{-7, -7}));
}

}  // namespace
