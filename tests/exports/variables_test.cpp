// Variable queries of the selected cycle through the C interface: the two
// counts, the directory with its 100-character display names, and the
// availability test with its code translation and part matching; and what
// a cycle file that cannot be opened leaves answerable.
#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
using qvw::CycleFileSpec;
using qvw::DirectoryEntrySpec;

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

// get_NumVariables: both counts, -1 each on failure.
Ints num_variables() {
    std::int32_t count = 9, entries = 9;
    const bool ok = get_NumVariables(&count, &entries);
    EXPECT_EQ(ok, count >= 0);
    return {count, entries};
}

using Variables = Session;

TEST_F(Variables, DirectoryNamesAreRewrittenIntoExactlyOneHundredCharacters) {
    ASSERT_TRUE(load(small_model()));
    ASSERT_TRUE(open_cycle(directory_cycle()));
    EXPECT_EQ(num_variables(), (Ints{42, 6}));

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
    // Blank-padded to 100, no NUL written; all blank stays blank.
    const std::string expected[] = {"EFF_PL_STN", "STRESS_XX", "A__B", "", "_LEAD", kFifty, ""};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(buffers[i], expected[i] + std::string(100 - expected[i].size(), ' ') + 'Z') << i;
    EXPECT_EQ(buffers[6], std::string(101, 'Z'));
}

TEST_F(Variables, AvailabilityMatchesIndexKindAndPart) {
    ASSERT_TRUE(load(small_model()));
    ASSERT_TRUE(open_cycle(directory_cycle()));
    const struct {
        std::int32_t code, part, kind, exact;
        bool found;
    } cases[] = {
        // -c and +c name the same index.
        {54, 2, -2, 0, true}, {-54, 2, -2, 0, true}, {54, 3, -2, 0, false}, {-54, 3, -2, 0, false},
        // Qualifier -3: by absolute value with exact 0, sign included with
        // 1; any other switch never matches.
        {67, 3, -2, 0, true}, {67, 3, -2, 1, false}, {67, -3, -2, 1, true},
        {67, -3, -2, 0, false}, {67, 3, -2, 2, false},
        // Code 0 looks for index 1, not for the entry of index 0.
        {0, 1, 1, 0, true}, {0, 5, 1, 0, false},
        // Kind 2 asked as -2 (or 1) does not match.
        {4, 1, 2, 0, true}, {4, 1, -2, 0, false}, {4, 1, 1, 0, false},
        // Kinds that own no array are still directory entries.
        {9, 1, 7, 1, true}};
    for (const auto& c : cases)
        EXPECT_EQ(available(c.code, c.part, c.kind, c.exact), c.found)
            << c.code << " " << c.part << " " << c.kind << " " << c.exact;
}

TEST_F(Variables, EmptyDirectory) {
    ASSERT_TRUE(load(small_model()));
    CycleFileSpec c;
    c.variable_count = 3;
    ASSERT_TRUE(open_cycle(c));
    EXPECT_EQ(num_variables(), (Ints{3, 0}));
    std::int32_t qualifier = -99, variable = -99, kind = -99;
    std::string buffer(101, 'Z');
    char* name = buffer.data();
    EXPECT_TRUE(get_VariableInfo(&qualifier, &name, &variable, &kind));
    EXPECT_EQ((Ints{qualifier, variable, kind}), (Ints{-99, -99, -99}));
    EXPECT_EQ(buffer, std::string(101, 'Z'));
    EXPECT_FALSE(available(0, 1, 1, 0));
    EXPECT_FALSE(available(-1, 1, 1, 0));
}

// A cycle file that cannot be opened leaves no valid model behind: every
// query of the model and of the cycle fails, writing only its fail marker,
// until a cycle is opened successfully again.
TEST_F(Session, FailedCycleOpenAnswersNothingUntilTheNextCycle) {
    ASSERT_TRUE(load(small_model()));
    CycleFileSpec c = directory_cycle();
    c.structured_parts = {{3, 2, 2}};
    c.unstructured_parts = 1;
    c.unstructured_nodes = 12;
    c.unstructured_elements = 2;
    c.entries.push_back(DirectoryEntrySpec::integer(1, 30, 1, Ints(2 + 24, 5)));
    c.entries.push_back(DirectoryEntrySpec::integer(-1, 31, 1, Ints(2 + 12 + 2, 5)));
    c.displacements = Floats(3 * 24, 1.0f);
    c.rigid_bodies = qvw::BodyArraysSpec{{3}, Floats(15, 1.0f)};
    c.joints = qvw::BodyArraysSpec{{7}, Floats(39, 1.0f)};
    c.material_fractions = std::vector<Floats>(2, Floats(12, 0.5f));
    const std::int32_t one = 1;
    std::int32_t variable = 30, cycles[1] = {7};
    Ints ints(26, -7);
    Floats record(16, -7.0f), xyz(3 * 24, -7.0f);
    const auto answered = [&](bool expected) {
        variable = 30;
        EXPECT_EQ(get_IntNodeValues(&variable, &one, ints.data()), expected);
        EXPECT_EQ(variable, expected ? 30 : -1);
        variable = 31;
        EXPECT_EQ(get_IntElemValues(&variable, &one, ints.data()), expected);
        EXPECT_EQ(get_NodeDisplacements(xyz.data()), expected);
        EXPECT_EQ(get_RigidBodyData(&one, record.data()), expected);
        EXPECT_EQ(get_JointData(&one, &one, record.data()), expected);
        EXPECT_EQ(get_MaterialFractions(&one, record.data()), expected);
        EXPECT_EQ(get_SetData(cycles, record.data()), expected);
        EXPECT_EQ(available(54, 2, -2, 0), expected);
        EXPECT_EQ(count(get_NumNodes), (Out{expected, expected ? 12 : -1}));
        EXPECT_EQ(num_variables(), expected ? (Ints{42, 8}) : (Ints{-1, -1}));
    };
    CycleFileSpec no_model = c;
    no_model.order = {qvw::CycleSection::Node};
    qvw::write_cycle_file(no_model).save(dir_.file("nomodel_0001.qvres"));
    // A file that does not exist, and one without "<Model>".
    for (const std::string& bad : {dir_.file("missing_0001.qvres"), dir_.file("nomodel_0001.qvres")}) {
        ASSERT_TRUE(open_cycle(c));
        answered(true);
        ints.assign(26, -7);
        cycles[0] = 7;
        record.assign(16, -7.0f);
        xyz.assign(3 * 24, -7.0f);
        EXPECT_FALSE(set_ResultsFilename(bad.c_str())) << bad;
        answered(false);
        EXPECT_EQ(ints, Ints(26, -7));
        EXPECT_EQ(record, Floats(16, -7.0f));
        EXPECT_EQ(xyz, Floats(3 * 24, -7.0f));
        EXPECT_EQ(cycles[0], -1);
    }
    // An empty name opens and closes nothing.
    ASSERT_TRUE(open_cycle(c));
    EXPECT_FALSE(set_ResultsFilename(""));
    answered(true);
}

}  // namespace
