// Maps from external numbers back to positions.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "model/number_map.h"

namespace {

using qv::model::NumberMap;

TEST(NumberMap, SparseNumbersFindTheirPositions) {
    NumberMap map;
    // Positions 1..5 carry 10, 20, 10, -3, 40; size 30 leaves 40 and -3
    // unmapped, and the later position of 10 wins.
    const std::int32_t numbers[] = {10, 20, 10, -3, 40};
    map.build(numbers, 5, 30);
    EXPECT_EQ(map.size(), 30);
    EXPECT_EQ(map.find(20), 2);
    EXPECT_EQ(map.find(10), 3);
    EXPECT_EQ(map.find(15), 0);  // in range, carried by no position
    EXPECT_EQ(map.find(40), 0);
    EXPECT_EQ(map.find(0), 0);

    // Pairs in the order stated: (10, 11) then (10, 12) -> 10 maps to 12.
    map.build(std::vector<std::pair<std::int32_t, std::int32_t>>{{10, 11}, {11, 10}, {10, 12}},
              12);
    EXPECT_EQ(map.find(10), 12);
    EXPECT_EQ(map.find(11), 10);
    EXPECT_EQ(map.find(12), 0);
}

TEST(NumberMap, IdentityUntilRebuiltOrCleared) {
    NumberMap map;
    map.build_identity(4);
    EXPECT_EQ(map.size(), 4);
    EXPECT_EQ(map.find(4), 4);
    EXPECT_EQ(map.find(5), 0);
    EXPECT_EQ(map.find(0), 0);

    const std::int32_t numbers[] = {3};
    map.build(numbers, 1, 3);
    EXPECT_EQ(map.find(1), 0);  // no longer the identity
    EXPECT_EQ(map.find(3), 1);

    map.clear();
    EXPECT_EQ(map.size(), 0);
    EXPECT_EQ(map.find(3), 0);
}

}  // namespace
