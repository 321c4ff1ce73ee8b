// Invariants of the constant variable catalogue: rows against the published identifier lists and
// dimension runs, and the lookups by code.
#include "variables/catalogue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>

namespace qv::variables {
namespace {

// FNV-1a (64 bits) over each row's identifier followed by '\n', rows in code order. Computed once
// from the identifier lists published with the results format (integer codes 1-59; real codes
// 1-610 and 647-658, codes 207-226 blank), not from the rows under test. A hash cannot say which
// identifier is wrong: on a mismatch, compare the rows with the lists.
constexpr std::uint64_t kIntegerIdentifierHash = 0x3b4954217c7befa6ull;
constexpr std::uint64_t kRealIdentifierHash = 0x34546a799b09cfd0ull;
constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ull;

std::uint64_t fnv1a(std::uint64_t h, const std::string& s) {
    for (const unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

// Published dimension exponents (length, time, mass, temperature) of the real codes, grouped by
// exponents; every other slot, empty ones included, has 0s.
const struct {
    std::array<int, 4> e;
    const char* codes;
} kExponentRuns[] = {
    {{1, 0, 0, 0}, "1-3 24-26 56 118-119 144 285 292-294 305 394-397 471 535-546"},
    {{1, -1, 0, 0}, "4-7 90-91 179 259-260 295-297 323-325 418-420 610 653-655"},
    {{2, -2, 1, 0}, "8-10 15-17 121-125 149-151 289-291 650-652"},
    {{0, 0, 1, 0}, "11 83 177 304 330 348 592-593"},
    {{0, -1, 0, 0}, "12-14 28-33 55 101-109 163 242-246 298-300 326-328 656-658"},
    {{3, -2, 1, 0}, "18-23 247-249"},
    {{3, 0, 0, 0}, "27 238-239 373"},
    {{0, 0, -1, 0}, "50-52"},
    {{2, 0, 0, 0}, "57"},
    {{-1, -2, 1, 0}, "64-80 110-112 157 164-174 184 227-231 240 256 388-389 392 421-431 447-452 466-470 591 609"},
    {{2, -2, 0, 0}, "81 93 158 183 257-258 384-385 393 398-399 608"},
    {{-3, 0, 1, 0}, "82 145 185 255 387"},
    {{0, 0, 0, 1}, "86 301-302"},
    {{-2, -2, 0, 0}, "95-100"},
    {{1, -2, 1, 0}, "115-117 120 147-148 286-288 311-322 331-345 374-383 647-649"},
    {{0, 1, 0, 0}, "175 346 472-534 586 589"},
    {{-1, 0, 0, 1}, "180-182"},
    {{1, -2, 0, 0}, "443-445"},
};

std::string str(const RealRow& r) {
    std::ostringstream s;
    s << r.code << '|' << r.short_name << '|' << r.a1 << ',' << r.a2 << ';' << r.length << ',' << r.time << ','
      << r.mass << ',' << r.temperature << ';' << r.a7 << ',' << r.a8 << ',' << r.a9 << ',' << r.a10 << ','
      << r.a11 << ',' << r.a12 << '|' << r.identifier << '|' << r.description;
    return s.str();
}

TEST(VariableCatalogue, RowsFollowPublishedListsAndLookupsFindThem) {
    ASSERT_EQ(kIntegerRowCount, 59);
    ASSERT_EQ(kRealRowCount, 622);

    std::uint64_t hash = kFnvOffset;
    int a1_count[4] = {};
    for (int i = 0; i < kIntegerRowCount; ++i) {
        const IntegerRow& r = kIntegerRows[i];
        EXPECT_EQ(r.code, i + 1);
        hash = fnv1a(hash, r.identifier + std::string("\n"));
        ASSERT_TRUE(r.a1 >= 1 && r.a1 <= 3) << r.code;
        ++a1_count[r.a1];
        const bool a2_three = r.code == 10 || r.code == 12 || r.code == 18 || r.code == 19 || r.code == 26;
        EXPECT_EQ(r.a2, a2_three ? 3 : 0) << r.code;
    }
    EXPECT_EQ(hash, kIntegerIdentifierHash);
    EXPECT_EQ(a1_count[1], 40);
    EXPECT_EQ(a1_count[2], 10);
    EXPECT_EQ(a1_count[3], 9);

    hash = kFnvOffset;
    int previous = 0;
    for (int i = 0; i < kRealRowCount; ++i) {
        const RealRow& r = kRealRows[i];
        EXPECT_GT(r.code, previous);
        EXPECT_LE(r.code, kRealSlots);
        EXPECT_FALSE(r.code >= 611 && r.code <= 646) << r.code;
        previous = r.code;
        hash = fnv1a(hash, r.identifier + std::string("\n"));
        EXPECT_TRUE(r.a1 >= 0 && r.a1 <= 3 && r.a2 >= 0 && r.a2 <= 1 && r.a7 >= 0 && r.a7 <= 2 &&
                    r.a8 >= 0 && r.a8 <= 2 && r.a9 >= 0 && r.a9 <= 1 && r.a10 >= 0 && r.a10 <= 1 &&
                    r.a11 == 0 && (r.a12 == 0 || r.a12 == 1 || r.a12 == 3))
            << str(r);
    }
    EXPECT_EQ(hash, kRealIdentifierHash);

    for (int c = 207; c <= 226; ++c) {
        const RealRow& r = kRealRows[c - 1];
        EXPECT_EQ(r.short_name, "N.VAR." + std::to_string(c - 206));
        EXPECT_STREQ(r.identifier, "");
        EXPECT_STREQ(r.description, "Not Used");
    }

    // Every real row is found by its code, and only codes with a row find one.
    for (int i = 0; i < kRealRowCount; ++i) EXPECT_EQ(real_row(kRealRows[i].code), &kRealRows[i]);
    for (int32_t c : {-1, 0, 611, 646, kRealSlots + 1}) EXPECT_EQ(real_row(c), nullptr) << c;

    // Dimension exponents of every real code, slots without a row included.
    std::array<std::array<int, 4>, kRealSlots + 2> expected{};
    for (const auto& run : kExponentRuns) {
        std::istringstream in(run.codes);
        for (std::string item; in >> item;) {
            int first = 0, last = 0;
            if (std::sscanf(item.c_str(), "%d-%d", &first, &last) == 1) last = first;
            for (int c = first; c <= last; ++c) expected[static_cast<std::size_t>(c)] = run.e;
        }
    }
    for (int32_t c = 0; c <= kRealSlots + 1; ++c) {
        const Exponents e = real_exponents(c);
        EXPECT_EQ((std::array<int, 4>{e.length, e.time, e.mass, e.temperature}),
                  expected[static_cast<std::size_t>(c)])
            << "real code " << c;
    }

    // The code lists of the result directory translation hold no codes: -c gives c, 0 gives the
    // first entry, any other code is not found.
    EXPECT_EQ(real_variable_index(-83), 83);
    EXPECT_EQ(integer_variable_index(-10), 10);
    EXPECT_EQ(real_variable_index(0), 1);
    EXPECT_EQ(integer_variable_index(0), 1);
    EXPECT_EQ(real_variable_index(83), 0);
    EXPECT_EQ(integer_variable_index(10), 10);
}

}  // namespace
}  // namespace qv::variables
