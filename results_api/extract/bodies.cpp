// Joint quantities and rigid body transforms of the current cycle.
//
// Choices where the file format leaves room:
// - Both cycle queries need a selected cycle: the results unit open and the
//   model valid. A failed cycle open leaves the model invalid, and these
//   queries then fail like every other one.
// - A data array shorter than its number array needs (15 values per rigid
//   body, 39 per joint) is a damaged section: the query fails, whichever
//   body or joint was asked for.
// - Duplicate body or joint numbers: the first matching entry is used.
// - A joint quantity beyond the thirteen triples (|q| > 13) is refused
//   before anything is read or written.
#include "extract/element_values.h"
#include "format/cycle_arrays.h"
#include "model/units.h"

namespace qv::extract {
namespace {

using model::Array;

constexpr std::int64_t kRigidBodyValues = 15;
constexpr std::int64_t kJointValues = 39;
constexpr std::int32_t kTriples = 13;
// The quantity that asks for the joint frame itself.
constexpr std::int32_t kFrameQuantity = 11;

// Dimension codes of the unit exponent table.
constexpr std::int32_t kDimensionless = 1;
constexpr std::int32_t kVelocity = 7;
constexpr std::int32_t kLength = 8;
constexpr std::int32_t kForce = 13;
constexpr std::int32_t kMoment = 16;

// Whether a body section reader left usable arrays: arrays read or a header
// saying the section holds none.
bool section_read(format::Status result) {
    return result == format::Status::ok || result == format::Status::no_arrays;
}

// Position (1-based) of the first entry equal to `number`, 0 when none.
std::int64_t first_entry(const Array<std::int32_t>& numbers, std::int32_t number) {
    for (std::int64_t k = 1; k <= numbers.size(); ++k)
        if (numbers(k) == number) return k;
    return 0;
}

// Dimension code of triple a (1..13) of a joint's block.
std::int32_t triple_dimension(std::int32_t a) {
    switch (a) {
    case 1: case 3: case 5: return kForce;
    case 2: case 4: case 6: return kMoment;
    case 7: return kLength;
    case 9: return kVelocity;
    default: return kDimensionless;
    }
}

}  // namespace

bool rigid_body_data(const Source& src, std::int32_t body, float* record12) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    Array<std::int32_t> numbers;
    Array<float> data;
    const format::Status st = format::read_rigid_body_data(src.cycle, numbers, data);
    if (!section_read(st)) return fail(src, query_status(st));
    const std::int64_t bodies = numbers.size();
    if (data.size() < kRigidBodyValues * bodies) return fail(src, Status::damaged);

    const std::int64_t k = first_entry(numbers, body);
    if (k == 0) {
        for (int i = 0; i < 12; ++i) record12[i] = 0.0f;
        record12[0] = record12[4] = record12[8] = 1.0f;
        return true;
    }

    const float scale = model::UnitScale(src.model.analysis.unit_codes).factor(kLength);
    // Block: R column by column (R(r, c) at r + 3c), then p, then c.
    const float* b = data.data() + (k - 1) * kRigidBodyValues;
    const float* rotation = b;
    const float* current = b + 9;
    const float* initial = b + 12;
    const float c0 = scale * initial[0], c1 = scale * initial[1], c2 = scale * initial[2];
    for (int i = 0; i < 9; ++i) record12[i] = rotation[i];
    // t = s.p - R.(s.c): the transform x -> R.x + t takes the initial
    // position of the reference point to its current one.
    for (int r = 0; r < 3; ++r)
        record12[9 + r] =
            scale * current[r] - (rotation[r] * c0 + rotation[r + 3] * c1 + rotation[r + 6] * c2);
    return true;
}

bool joint_data(const Source& src, std::int32_t joint, std::int32_t quantity, float* record16) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    if (quantity > kTriples || quantity < -kTriples) return fail(src, Status::argument);
    Array<std::int32_t> numbers;
    Array<float> data;
    const format::Status st = format::read_joint_data(src.cycle, numbers, data);
    if (!section_read(st)) return fail(src, query_status(st));
    const std::int64_t joints = numbers.size();
    if (data.size() < kJointValues * joints) return fail(src, Status::damaged);

    const std::int64_t j = first_entry(numbers, joint);
    if (j == 0 || quantity == 0) {
        for (int i = 0; i < 16; ++i) record16[i] = 0.0f;
        return true;
    }

    // Block: thirteen triples; triples 11..13 are the frame M column by
    // column (M(r, c) at 30 + r + 3c).
    const float* b = data.data() + (j - 1) * kJointValues;
    const float* m = b + 30;
    if (quantity == kFrameQuantity) {
        // The frame as a 4 x 4 homogeneous matrix, column by column.
        const float frame[16] = {m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f,
                                 m[6], m[7], m[8], 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
        for (int i = 0; i < 16; ++i) record16[i] = frame[i];
        return true;
    }

    const std::int32_t a = quantity < 0 ? -quantity : quantity;
    const float scale =
        model::UnitScale(src.model.analysis.unit_codes).factor(triple_dimension(a));
    const float* t = b + 3 * (a - 1);
    const float v0 = t[0] * scale, v1 = t[1] * scale, v2 = t[2] * scale;
    if (quantity < 0) {
        // The triple in the joint's frame: M.v.
        record16[0] = m[0] * v0 + m[3] * v1 + m[6] * v2;
        record16[1] = m[1] * v0 + m[4] * v1 + m[7] * v2;
        record16[2] = m[2] * v0 + m[5] * v1 + m[8] * v2;
    } else {
        record16[0] = v0;
        record16[1] = v1;
        record16[2] = v2;
    }
    return true;
}

}  // namespace qv::extract
