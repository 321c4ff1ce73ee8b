// The variable catalogue, unit powers and the cells of unstructured
// elements, through the C interface.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "qvres.h"
#include "qvres/qvres_support.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"

namespace {

using qvtest::Open;
using qvtest::TempDir;

qvres_catalogue_entry entry_of(std::int32_t real, std::int32_t variable) {
    qvres_catalogue_entry e{};
    qvres_error error{};
    EXPECT_EQ(qvres_get_catalogue_variable(real, variable, &e, &error), QVRES_OK) << error.message;
    return e;
}

struct Group {
    std::vector<std::int32_t> members;  // component order
    std::string name;
};

void expect_group(std::int32_t kind, const Group& g) {
    for (std::size_t c = 0; c < g.members.size(); ++c) {
        const qvres_catalogue_entry e = entry_of(1, g.members[c]);
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.group, kind);
        EXPECT_EQ(e.component, std::int32_t(c));
        EXPECT_EQ(std::string(e.group_name), g.name);
        ASSERT_EQ(e.members, std::int32_t(g.members.size()));
        EXPECT_EQ(std::vector<std::int32_t>(e.member, e.member + e.members), g.members);
    }
}

TEST(Catalogue, VectorTriplesOfTheCatalogue) {
    expect_group(QVRES_GROUP_VECTOR, {{4, 5, 6}, "VELOCITY"});        // X-VELOCITY ...
    expect_group(QVRES_GROUP_VECTOR, {{8, 9, 10}, "FORCE"});
    expect_group(QVRES_GROUP_VECTOR, {{12, 13, 14}, "ANG.VEL"});
    expect_group(QVRES_GROUP_VECTOR, {{58, 59, 60}, "DIRN"});         // DIRN X ...
    expect_group(QVRES_GROUP_VECTOR, {{331, 332, 333}, "EXT FORCE"}); // EXT X-FORCE ...
    expect_group(QVRES_GROUP_VECTOR, {{24, 25, 26}, "INITIAL"});      // INITIAL X ...
    // Not components: a scalar, a gradient whose axis is inside a word,
    // and position X alone (no name left for the group).
    for (const std::int32_t v : {64, 95, 1}) EXPECT_EQ(entry_of(1, v).group, QVRES_GROUP_NONE) << v;
}

TEST(Catalogue, SymmetricTensorsInVtkComponentOrder) {
    // Stored XX, YY, ZZ, XY, YZ, ZX; VTK's XX, YY, ZZ, XY, YZ, XZ: the stored
    // ZX is component 5.
    expect_group(QVRES_GROUP_SYMMETRIC_TENSOR, {{67, 68, 69, 70, 71, 72}, "STRESS"});
    expect_group(QVRES_GROUP_SYMMETRIC_TENSOR, {{35, 36, 37, 38, 39, 40}, "STRAIN"});
    expect_group(QVRES_GROUP_SYMMETRIC_TENSOR, {{28, 29, 30, 31, 32, 33}, "STN.RATE"});
    EXPECT_STREQ(entry_of(1, 72).name, "STRESS ZX");
    // A second "STRESS XY" (449) is not the member its name finds.
    EXPECT_EQ(entry_of(1, 449).group, QVRES_GROUP_NONE);
}

TEST(Catalogue, EntriesCarryNamesUnitsAndTheEightMultiMaterialVariables) {
    const qvres_catalogue_entry stress = entry_of(1, 67);
    EXPECT_STREQ(stress.name, "STRESS XX");
    EXPECT_STREQ(stress.display_name, "STRESS_XX");
    EXPECT_STREQ(stress.identifier, "IVR_TXX");
    EXPECT_STREQ(stress.unit, "Pa");
    EXPECT_EQ(std::vector<std::int32_t>(stress.exponents, stress.exponents + 4),
              (std::vector<std::int32_t>{-1, -2, 1, 0}));
    EXPECT_STREQ(entry_of(1, 28).display_name, "STN_RATE_XX");
    EXPECT_STREQ(entry_of(1, 4).identifier, "IVR_UX");
    EXPECT_STREQ(entry_of(1, 4).description, "Velocity X");
    EXPECT_STREQ(entry_of(0, 10).identifier, "IVI_MATNO");
    EXPECT_STREQ(entry_of(0, 10).unit, "");
    EXPECT_EQ(entry_of(1, 1).real, 1);

    // Walked by entry: indices rise, each entry is the one of its index, and
    // the multi-material ones are exactly the eight.
    std::set<std::int32_t> multi;
    for (const std::int32_t real : {0, 1}) {
        std::int64_t count = -1;
        ASSERT_EQ(qvres_count_catalogue(real, &count, nullptr), QVRES_OK);
        EXPECT_EQ(count, real ? 622 : 59);
        std::int32_t last = 0;
        for (std::int64_t k = 0; k < count; ++k) {
            qvres_catalogue_entry e{};
            ASSERT_EQ(qvres_get_catalogue_entry(real, k, &e, nullptr), QVRES_OK);
            EXPECT_GT(e.variable, last);
            last = e.variable;
            EXPECT_STREQ(entry_of(real, e.variable).identifier, e.identifier);
            if (e.multi_material) multi.insert(real ? e.variable : -e.variable);
        }
        qvres_catalogue_entry none{};
        EXPECT_EQ(qvres_get_catalogue_entry(real, count, &none, nullptr), QVRES_E_ARGUMENT);
    }
    EXPECT_EQ(multi, (std::set<std::int32_t>{54, 81, 83, 85, 86, 87, 88, 89}));
    qvres_catalogue_entry none{};
    EXPECT_EQ(qvres_get_catalogue_variable(1, 620, &none, nullptr), QVRES_E_NOT_FOUND);  // no row
    EXPECT_EQ(qvres_get_catalogue_variable(2, 4, &none, nullptr), QVRES_E_ARGUMENT);
}

TEST(Catalogue, NamesFoundByAnySpellingOfOneRule) {
    const auto found = [](std::int32_t real, const char* name) {
        qvres_catalogue_entry e{};
        qvres_error error{};
        const qvres_status st = qvres_find_variable(real, name, &e, &error);
        return st == QVRES_OK ? e.variable : -int(st);
    };
    const auto all = [&](std::int32_t real, std::initializer_list<const char*> names, int want) {
        for (const char* n : names) EXPECT_EQ(found(real, n), want) << n;
    };
    // Name, display name or identifier, in any case, '.' and '_' for blanks, trimmed.
    all(1, {"STN.RATE XX", "STN_RATE_XX", "stn rate xx", "Stn.Rate_xx"}, 28);
    all(1, {"IVR_UX", "ivr.ux", "\t x-velocity \r\n"}, 4);
    all(0, {"material", "IVI_MATNO"}, 10);
    all(1, {"STRESS XY"}, 70);  // the lower of two
    // An integer variable, one letter more, '-' is not a blank, nothing.
    all(1, {"MATERIAL", "X-VELOCITYY", "X VELOCITY", "", " \t ", std::string(300, 'X').c_str()}, -QVRES_E_NOT_FOUND);
    qvres_catalogue_entry e{};
    EXPECT_EQ(qvres_find_variable(1, nullptr, &e, nullptr), QVRES_E_ARGUMENT);
}

// ---- Cells and names --------------------------------------------------------

struct Element {
    std::int32_t type;
    std::vector<std::int32_t> nodes;  // 8 entries
    qvres_cell want;
};

// Known unit systems: micrometre, millimetre, centimetre and metre lengths;
// milligram .. kilogram masses and microsecond .. second times step by 10^3.
TEST(Units, PowersOfTenOfTheDecimalSystemsOnly) {
    struct Case {
        std::int32_t codes[3];
        std::int32_t powers[3];
    };
    const Case cases[] = {
        {{3, 3, 3}, {0, 0, 0}},     // m, kg, s
        {{1, 3, 2}, {-3, 0, -3}},   // mm, kg, ms
        {{-2, 2, 1}, {-6, -3, -6}}, // um, g, us
        {{2, 1, 3}, {-2, -6, 0}},   // cm, mg, s
    };
    for (const Case& c : cases) {
        std::int32_t powers[3] = {99, 99, 99};
        ASSERT_EQ(qvres_unit_powers(c.codes, powers, nullptr), QVRES_OK) << c.codes[0];
        EXPECT_EQ(std::vector<std::int32_t>(powers, powers + 3),
                  std::vector<std::int32_t>(c.powers, c.powers + 3))
            << c.codes[0] << " " << c.codes[1] << " " << c.codes[2];
    }
    const std::int32_t imperial[3] = {3, 4, 3};
    std::int32_t powers[3] = {7, 7, 7};
    qvres_error e{};
    EXPECT_EQ(qvres_unit_powers(imperial, powers, &e), QVRES_E_ARGUMENT);
    EXPECT_EQ(powers[0], 7);
    EXPECT_NE(std::string(e.message).find("no decimal system"), std::string::npos);
}

TEST(Cells, KindNodesAndVtkTypeOfHandBuiltElements) {
    const std::vector<Element> elements = {
        {1, {1, 2, 3, 4, 5, 6, 7, 8}, {QVRES_CELL_HEXAHEDRON, 8, 12}},
        {1, {1, 2, 3, 4, 0, 0, 0, 0}, {QVRES_CELL_TETRAHEDRON, 4, 10}},
        {1, {1, 2, 3, 4, 5, 0, 0, 0}, {QVRES_CELL_PYRAMID, 5, 14}},
        {1, {1, 2, 3, 4, 5, 6, 0, 0}, {QVRES_CELL_WEDGE, 6, 13}},
        // Entry 8 decides a hexahedron even after an empty entry.
        {1, {1, 2, 3, 4, 0, 6, 7, 8}, {QVRES_CELL_HEXAHEDRON, 8, 12}},
        // Seven corners are no solid: its 7 nodes as a poly-vertex.
        {1, {1, 2, 3, 4, 5, 6, 7, 0}, {QVRES_CELL_NONE, 7, 2}},
        {2, {1, 2, 3, 4, 0, 0, 0, 0}, {QVRES_CELL_QUADRILATERAL, 4, 9}},
        {2, {1, 2, 3, 0, 0, 0, 0, 0}, {QVRES_CELL_TRIANGLE, 3, 5}},
        {3, {1, 2, 0, 0, 0, 0, 0, 0}, {QVRES_CELL_BEAM, 2, 3}},
        {7, {0, 2, 0, 4, 0, 0, 0, 0}, {QVRES_CELL_NONE, 2, 2}},  // unknown type
        {5, {0, 0, 0, 0, 0, 0, 0, 0}, {QVRES_CELL_NONE, 0, 0}},  // no node at all
    };
    TempDir dir;
    qvw::BaseFileSpec b;
    b.header = {5, 4};
    std::vector<std::int32_t> rows;
    for (std::size_t e = 0; e < elements.size(); ++e) {
        rows.push_back(std::int32_t(e + 1));
        b.connectivity.insert(b.connectivity.end(), elements[e].nodes.begin(), elements[e].nodes.end());
        b.element_types.push_back(elements[e].type);
    }
    b.parts.push_back(qvw::PartSpec::unstructured("MIXED", rows));
    b.coordinates.assign(3 * 8, 1.0f);
    qvw::write_base_file(b).save(dir.file("cells.qvres_base"));
    Open open(dir.file("cells.qvres_base"));
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;

    std::vector<qvres_cell> cells(elements.size() + 1, qvres_cell{-1, -1, -1});
    qvres_error error{};
    ASSERT_EQ(qvres_get_cells(open.a, cells.data(), std::int64_t(elements.size()), &error), QVRES_OK)
        << error.message;
    for (std::size_t e = 0; e < elements.size(); ++e) {
        EXPECT_EQ(cells[e].kind, elements[e].want.kind) << "element " << e + 1;
        EXPECT_EQ(cells[e].nodes, elements[e].want.nodes) << "element " << e + 1;
        EXPECT_EQ(cells[e].vtk_type, elements[e].want.vtk_type) << "element " << e + 1;
    }
    EXPECT_EQ(cells.back().kind, -1) << "written past the elements";
    EXPECT_EQ(qvres_get_cells(open.a, cells.data(), std::int64_t(elements.size()) - 1, nullptr), QVRES_E_CAPACITY);
}

}  // namespace
