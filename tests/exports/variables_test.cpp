// Variable queries of the selected cycle through the C interface: the two
// counts, the directory with its 100-character display names, and the
// availability test with its code translation and part matching.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exports/session_fixture.h"

namespace {

using qvw::CycleFileSpec;
using qvw::DirectoryEntrySpec;
using Ints = std::vector<std::int32_t>;

const std::string kFifty = "ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ";

// Entries (variable, qualifier, name, kind):
//   1: 54,  2, "EFF.PL.STN",  -2     4: 4,  1, "",         2
//   2: 67, -3, "STRESS XX",   -2     5: 0,  5, " LEAD",    1
//   3: 1,   1, "A  B",         1     6: 9,  1, 50 letters, 7 (owns no array)
CycleFileSpec directory_cycle() {
    CycleFileSpec c;
    c.variable_count = 42;
    c.entries = {DirectoryEntrySpec::real(-2, 54, 2, {0, 0, 1}, "EFF.PL.STN"),
                 DirectoryEntrySpec::real(-2, 67, -3, {0, 0, 1}, "STRESS XX"),
                 DirectoryEntrySpec::integer(1, 1, 1, {0, 0, 1}, "A  B"),
                 DirectoryEntrySpec::real(2, 4, 1, {0, 0, 1}, ""),
                 DirectoryEntrySpec::integer(1, 0, 5, {0, 0, 1}, " LEAD"),
                 DirectoryEntrySpec::integer(7, 9, 1, {}, kFifty)};
    return c;
}

bool available(std::int32_t code, std::int32_t part, std::int32_t kind, std::int32_t exact) {
    return get_isResultAvailable(&code, &part, &kind, &exact);
}

// `text` blank-padded to 100 characters.
std::string padded(const std::string& text) { return text + std::string(100 - text.size(), ' '); }

using Variables = qvtest::Session;

// A failed cycle open leaves no valid model, whatever ran before.
void invalidate_model(const qvtest::TempDir& dir) {
    EXPECT_FALSE(set_ResultsFilename(dir.file("missing_0001.qvres").c_str()));
}

TEST_F(Variables, CountsAreThoseOfTheSelectedCycle) {
    ASSERT_TRUE(load(qvtest::small_model()));
    ASSERT_TRUE(open_cycle(directory_cycle()));
    std::int32_t count = 9, entries = 9;
    ASSERT_TRUE(get_NumVariables(&count, &entries));
    EXPECT_EQ((Ints{count, entries}), (Ints{42, 6}));

    invalidate_model(dir_);
    count = entries = 9;
    EXPECT_FALSE(get_NumVariables(&count, &entries));
    EXPECT_EQ((Ints{count, entries}), (Ints{-1, -1}));
}

TEST_F(Variables, DirectoryNamesAreRewrittenIntoExactlyOneHundredCharacters) {
    ASSERT_TRUE(load(qvtest::small_model()));
    ASSERT_TRUE(open_cycle(directory_cycle()));

    // One more element than entries in each array, to show nothing is
    // written behind them; every name buffer one character longer than 100.
    Ints qualifiers(7, -99), variables(7, -99), kinds(7, -99);
    std::vector<std::string> buffers(7, std::string(101, 'Z'));
    std::vector<char*> names;
    for (std::string& b : buffers) names.push_back(b.data());
    ASSERT_TRUE(get_VariableInfo(qualifiers.data(), names.data(), variables.data(), kinds.data()));

    EXPECT_EQ(qualifiers, (Ints{2, -3, 1, 1, 5, 1, -99}));
    EXPECT_EQ(variables, (Ints{54, 67, 1, 4, 0, 9, -99}));
    EXPECT_EQ(kinds, (Ints{-2, -2, 1, 2, 1, 7, -99}));
    const std::vector<std::string> expected = {
        padded("EFF_PL_STN"), padded("STRESS_XX"), padded("A__B"),
        padded(""),  // all blank stays blank
        padded("_LEAD"), padded(kFifty)};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(buffers[i].substr(0, 100), expected[i]) << "entry " << i + 1;
        EXPECT_EQ(buffers[i][100], 'Z') << "entry " << i + 1;  // no NUL written
    }
    EXPECT_EQ(buffers[6], std::string(101, 'Z'));
}

TEST_F(Variables, AvailabilityMatchesIndexKindAndPart) {
    ASSERT_TRUE(load(qvtest::small_model()));
    ASSERT_TRUE(open_cycle(directory_cycle()));

    // -c and +c name the same index.
    EXPECT_TRUE(available(54, 2, -2, 0));
    EXPECT_TRUE(available(-54, 2, -2, 0));
    EXPECT_FALSE(available(54, 3, -2, 0));
    EXPECT_FALSE(available(-54, 3, -2, 0));
    // Qualifier -3: by absolute value with exact 0, sign included with 1.
    EXPECT_TRUE(available(67, 3, -2, 0));
    EXPECT_FALSE(available(67, 3, -2, 1));
    EXPECT_TRUE(available(67, -3, -2, 1));
    EXPECT_FALSE(available(67, -3, -2, 0));
    EXPECT_FALSE(available(67, 3, -2, 2));  // any other switch never matches
    // Code 0 looks for index 1, not for the entry of index 0.
    EXPECT_TRUE(available(0, 1, 1, 0));
    EXPECT_FALSE(available(0, 5, 1, 0));
    // Kind 2 asked as -2 (or 1) does not match.
    EXPECT_TRUE(available(4, 1, 2, 0));
    EXPECT_FALSE(available(4, 1, -2, 0));
    EXPECT_FALSE(available(4, 1, 1, 0));
    // Kinds that own no array are still directory entries.
    EXPECT_TRUE(available(9, 1, 7, 1));
}

TEST_F(Variables, EmptyDirectoryAndNoModel) {
    std::int32_t qualifier = -99, variable = -99, kind = -99;
    std::string buffer(101, 'Z');
    char* name = buffer.data();
    // No model: false, nothing written.
    invalidate_model(dir_);
    EXPECT_FALSE(available(54, 2, -2, 0));
    EXPECT_FALSE(get_VariableInfo(&qualifier, &name, &variable, &kind));
    EXPECT_EQ((Ints{qualifier, variable, kind}), (Ints{-99, -99, -99}));

    ASSERT_TRUE(load(qvtest::small_model()));
    CycleFileSpec c;
    c.variable_count = 3;
    ASSERT_TRUE(open_cycle(c));
    std::int32_t count = 9, entries = 9;
    ASSERT_TRUE(get_NumVariables(&count, &entries));
    EXPECT_EQ((Ints{count, entries}), (Ints{3, 0}));

    EXPECT_TRUE(get_VariableInfo(&qualifier, &name, &variable, &kind));
    EXPECT_EQ((Ints{qualifier, variable, kind}), (Ints{-99, -99, -99}));
    EXPECT_EQ(buffer, std::string(101, 'Z'));
    EXPECT_FALSE(available(0, 1, 1, 0));
    EXPECT_FALSE(available(-1, 1, 1, 0));
}

}  // namespace
