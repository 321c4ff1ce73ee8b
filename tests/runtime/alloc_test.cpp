// Typed allocation: empty extents, initial values, repeated release and the
// failure path (numbered line on unit 38, then the fatal exit).
#include "runtime/alloc.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>

#include "runtime/file_units.h"

namespace qv::runtime {
namespace {

bool all_blank(const char* chars, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (chars[i] != ' ') return false;
    return true;
}

TEST(Allocate, ExtentBelowOneGivesAnEmptyAllocatedArray) {
    for (const std::int64_t extent : {0, -5}) {
        Array<std::int32_t> a;
        EXPECT_FALSE(a.allocated());
        allocate(a, extent);
        EXPECT_TRUE(a.allocated());
        EXPECT_EQ(a.size(), 0);
        EXPECT_FALSE(a.contains(1));
        release(a);
        EXPECT_FALSE(a.allocated());

        Array2<float> b;
        allocate(b, 3, extent);
        EXPECT_TRUE(b.allocated());
        EXPECT_EQ(b.extent1(), 3);
        EXPECT_EQ(b.extent2(), 0);
        release(b);
        EXPECT_FALSE(b.allocated());
    }
}

TEST(Allocate, TextsComeBackBlankAndNumbersZero) {
    Array<Text35> names;
    allocate(names, 4);
    ASSERT_EQ(names.size(), 4);
    for (const Text35& t : names) EXPECT_TRUE(all_blank(t.chars, 35));

    Array2<Text50> table;
    allocate(table, 2, 3);
    for (std::int64_t j = 1; j <= 3; ++j)
        for (std::int64_t i = 1; i <= 2; ++i) EXPECT_TRUE(all_blank(table(i, j).chars, 50));

    Array<std::int32_t> ints;
    allocate(ints, 100);
    for (const std::int32_t v : ints) EXPECT_EQ(v, 0);
}

TEST(Allocate, OneBasedIndicesFirstIndexFastest) {
    Array2<std::int32_t> a;
    allocate(a, 2, 3);
    a(2, 1) = 21;
    a(1, 2) = 12;
    EXPECT_EQ(a(2, 1), 21);
    EXPECT_EQ(a(1, 2), 12);

    Array<std::int32_t> b;
    allocate(b, 3);
    b(3) = 7;
    EXPECT_EQ(b.data()[2], 7);
}

TEST(Release, TwiceLeavesTheHandleEmpty) {
    Array<Text50> a;
    allocate(a, 2);
    release(a);
    release(a);
    EXPECT_FALSE(a.allocated());
    EXPECT_EQ(a.size(), 0);

    Array2<double> never;
    release(never);
    EXPECT_FALSE(never.allocated());
}

class AllocateDeathTest : public ::testing::Test {
protected:
    void TearDown() override { set_allocation_limit_for_testing(0); }
};

TEST_F(AllocateDeathTest, FailingRankTwoAllocationReportsBothExtents) {
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            set_allocation_limit_for_testing(1000);
            Array2<Text50> a;
            allocate(a, 10, 20);
        },
        ::testing::ExitedWithCode(1),
        " memalloc size \\(10,20\\) failed from 1 with error [0-9]+\n Error!");
}

TEST_F(AllocateDeathTest, FailingRankOneAllocationGoesToAConnectedUnit38) {
    EXPECT_EXIT(
        {
            connect_text_unit(unit::kAllocMessages,
                              [](const std::string& l) { std::fprintf(stderr, "38:%s\n", l.c_str()); });
            ::dup2(2, 1);
            set_allocation_limit_for_testing(1000);
            Array<std::int32_t> a;
            allocate(a, 1000);
        },
        ::testing::ExitedWithCode(1),
        "38: memalloc size 1000 failed from 8 with error [0-9]+\n Error!");
}

TEST_F(AllocateDeathTest, ExtentsWhoseProductOverflowsFailCleanly) {
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            Array2<std::int32_t> a;
            allocate(a, INT64_C(1) << 40, INT64_C(1) << 40);
        },
        ::testing::ExitedWithCode(1),
        " memalloc size \\(1099511627776,1099511627776\\) failed from 17 with error [0-9]+\n Error!");
}

TEST_F(AllocateDeathTest, OversizedByteBufferFails) {
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            set_allocation_limit_for_testing(100);
            ByteBuffer b(101);
        },
        ::testing::ExitedWithCode(1), " memalloc size 101 failed from 3 with error [0-9]+\n Error!");
}

}  // namespace
}  // namespace qv::runtime
