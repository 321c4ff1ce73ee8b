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
    Array<Text50> a;
    allocate(a, 2);
    release(a);
    release(a);
    EXPECT_FALSE(a.allocated());
    EXPECT_EQ(a.size(), 0);
}

TEST(Allocate, TextsBlankNumbersZeroIndicesOneBased) {
    Array<Text35> names;
    allocate(names, 4);
    ASSERT_EQ(names.size(), 4);
    for (const Text35& t : names) EXPECT_TRUE(blank(t.chars, 35));
    Array2<Text50> table;
    allocate(table, 2, 3);
    for (std::int64_t j = 1; j <= 3; ++j)
        for (std::int64_t i = 1; i <= 2; ++i) EXPECT_TRUE(blank(table(i, j).chars, 50));

    Array<std::int32_t> ints;
    allocate(ints, 100);
    for (const std::int32_t v : ints) EXPECT_EQ(v, 0);
    ints(3) = 7;  // one-based
    EXPECT_EQ(ints.data()[2], 7);
}

// Each failure writes its numbered line (to unit 38 when connected, else
// stderr), then " Error!" on stdout, which the child sends to stderr.
TEST(AllocateDeathTest, FailureLineThenTheFatalExit) {
    const struct {
        void (*body)();
        const char* output;
    } cases[] = {
        {[] { set_allocation_limit_for_testing(1000); Array2<Text50> a; allocate(a, 10, 20); },
         " memalloc size \\(10,20\\) failed from 1 with error [0-9]+\n Error!"},
        {[] {
             connect_text_unit(unit::kAllocMessages,
                               [](const std::string& l) { std::fprintf(stderr, "38:%s\n", l.c_str()); });
             set_allocation_limit_for_testing(1000);
             Array<std::int32_t> a;
             allocate(a, 1000);
         },
         "38: memalloc size 1000 failed from 8 with error [0-9]+\n Error!"},
        {[] { Array2<std::int32_t> a; allocate(a, INT64_C(1) << 40, INT64_C(1) << 40); },
         " memalloc size \\(1099511627776,1099511627776\\) failed from 17 with error [0-9]+\n Error!"},
        {[] { set_allocation_limit_for_testing(100); ByteBuffer b(101); },
         " memalloc size 101 failed from 3 with error [0-9]+\n Error!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EXIT(
            {
                ::dup2(2, 1);
                c.body();
            },
            ::testing::ExitedWithCode(1), c.output);
    }
}

}  // namespace
}  // namespace qv::runtime
