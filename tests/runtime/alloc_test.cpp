// Typed allocation: empty extents, initial values, growth, repeated release
// and the failure path (the numbered line to the sink, then OutOfMemory).
#include "runtime/alloc.h"
#include "support/allocation_limit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::runtime {
namespace {

bool blank(const char* chars, std::size_t n) { return std::string(chars, n) == std::string(n, ' '); }

TEST(Allocate, ExtentBelowOneGivesAnEmptyArrayAndReleaseTwiceIsHarmless) {
    for (const std::int64_t extent : {0, -5}) {
        Array<std::int32_t> a;
        allocate(a, extent);
        EXPECT_TRUE(a.allocated());
        EXPECT_EQ(a.size(), 0);
        EXPECT_FALSE(a.contains(1));
        Array2<float> b;
        allocate(b, 3, extent);
        EXPECT_TRUE(b.allocated());
        EXPECT_EQ(b.extent1(), 3);
        EXPECT_EQ(b.extent2(), 0);
        release(b);
        release(b);
        EXPECT_FALSE(b.allocated());
    }
}

TEST(Allocate, TextsBlankNumbersZeroIndicesOneBased) {
    Array2<Text50> table;
    allocate(table, 2, 3);
    for (std::int64_t j = 1; j <= 3; ++j)
        for (std::int64_t i = 1; i <= 2; ++i) EXPECT_TRUE(blank(table(i, j).chars, 50));

    Array<std::int32_t> ints;
    allocate(ints, 100);
    for (const std::int32_t v : ints) EXPECT_EQ(v, 0);
    ints(3) = 7;  // one-based
    EXPECT_EQ(ints.data()[2], 7);

    // Growth keeps the values and zeroes the new ones; it never shrinks.
    grow(ints, 150, 1000);
    ASSERT_EQ(ints.size(), 150);
    EXPECT_EQ(ints(3), 7);
    EXPECT_EQ(ints(150), 0);
    grow(ints, 10, 1000);
    EXPECT_EQ(ints.size(), 150);
}

// The failure path: each failure hands its numbered line to the sink and
// throws OutOfMemory; the process goes on.
class AllocationFailure : public ::testing::Test {
protected:
    void TearDown() override {
        set_allocation_sink(nullptr);
        set_allocation_limit_for_testing(0);
    }
    static inline std::vector<std::string> lines;
    // Runs `body`, which must throw OutOfMemory (as std::bad_alloc), and
    // returns the one line the sink received.
    template <class Body>
    static std::string failure_line(Body body) {
        lines.clear();
        set_allocation_sink([](const char* line) { lines.push_back(line); });
        try {
            body();
            ADD_FAILURE() << "no exception";
        } catch (const std::bad_alloc& e) {
            EXPECT_NE(dynamic_cast<const OutOfMemory*>(&e), nullptr);
        }
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? std::string() : lines.front();
    }
};

TEST_F(AllocationFailure, AKeptBufferReusesItsStorageAndFailsEmpty) {
    Buffer<float> b;
    b.resize(100);
    const float* storage = b.data();
    for (std::int64_t i = 0; i < 100; ++i) b.data()[i] = float(i);
    // Smaller uses and a growth within the storage keep it and the values.
    b.resize(10);
    b.grow(80, 1000);
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.size(), 80);
    EXPECT_EQ(b.data()[9], 9.0f);
    // A growth beyond it moves the values kept, not the rest.
    b.shrink_to(50);
    b.grow(150, 1000);
    EXPECT_EQ(b.capacity(), 200);
    EXPECT_EQ(b.data()[49], 49.0f);
    b.clear();
    EXPECT_FALSE(b.holds());
    EXPECT_EQ(b.capacity(), 200);

    set_allocation_limit_for_testing(1000);
    EXPECT_EQ(failure_line([&] { b.resize(251); }), " memalloc size 251 failed from 18 with error 12");
    EXPECT_FALSE(b.holds());
    EXPECT_EQ(b.capacity(), 0);
    b.resize(250);
    EXPECT_TRUE(b.holds());
    EXPECT_EQ(failure_line([&] { b.grow(300, 400); }), " memalloc size 400 failed from 18 with error 12");
    EXPECT_EQ(b.size(), 0);
    set_allocation_limit_for_testing(0);
}

TEST_F(AllocationFailure, NumberedLineToTheSinkThenOutOfMemoryAndTheProcessGoesOn) {
    set_allocation_limit_for_testing(1000);
    EXPECT_EQ(failure_line([] { Array2<Text50> a; allocate(a, 10, 20); }),
              " memalloc size (10,20) failed from 1 with error 12");
    EXPECT_EQ(failure_line([] { Array<std::int32_t> a; allocate(a, 1000); }),
              " memalloc size 1000 failed from 8 with error 12");
    EXPECT_EQ(failure_line([] { Array<float> a; grow(a, 251, 251); }),
              " memalloc size 251 failed from 18 with error 12");
    EXPECT_EQ(failure_line([] { ByteBuffer b(1001); }),
              " memalloc size 1001 failed from 3 with error 12");
    // Just within the limit: no line.
    Array<std::int32_t> fits;
    allocate(fits, 250);
    EXPECT_EQ(fits.size(), 250);

    set_allocation_limit_for_testing(0);
    // Extents whose product overflows fail without a limit.
    EXPECT_EQ(failure_line([] {
                  Array2<std::int32_t> a;
                  allocate(a, INT64_C(1) << 40, INT64_C(1) << 40);
              }),
              " memalloc size (1099511627776,1099511627776) failed from 17 with error 12");

    // A sink that throws changes nothing; nullptr restores standard error.
    set_allocation_limit_for_testing(100);
    set_allocation_sink([](const char*) { throw std::runtime_error("sink"); });
    EXPECT_THROW(ByteBuffer(101), OutOfMemory);

    set_allocation_sink(nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(ByteBuffer(101), OutOfMemory);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              " memalloc size 101 failed from 3 with error 12\n");
}

}  // namespace
}  // namespace qv::runtime
