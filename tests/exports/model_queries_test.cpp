// Model queries through the C interface: parts and their lists, counts a
// cycle file states beyond (or short of) the base file, the clean-up, host
// element kinds, numbering maps and model attributes.
#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
using qvw::BaseFileSpec;
using qvw::PartSpec;

// One 3 x 2 x 2 block, then two unstructured parts over 14 nodes:
//   BRICKS: hexahedra 1 and 2 (element 1 lists its nodes backwards),
//   SHELL:  quadrilateral shell 3 on nodes 12, 13, 14, 9.
// Element numbers 10, 20, 30; node numbers 101..114; units (1, 3, 3),
// symmetry (1, 2); two materials; parallel task values 7, 0, 3.
BaseFileSpec two_part_model() {
    BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts = {PartSpec::structured("BLOCK", 3, 2, 2), PartSpec::unstructured("BRICKS", {1, 2}),
                  PartSpec::unstructured("SHELL", {3})};
    desc.connectivity = {4, 3, 2, 1, 8, 7, 6, 5, 5, 6, 7, 8, 9, 10, 11, 12,
                         12, 13, 14, 9, 0, 0, 0, 0};
    desc.coordinates.assign(3 * 14, 0.0f);
    desc.element_types = {1, 1, 2};
    for (std::int32_t n = 101; n <= 114; ++n) desc.node_numbers.push_back(n);
    desc.element_numbers = {10, 20, 30};
    desc.units[0] = 1;
    desc.symmetry[0] = 1;
    desc.symmetry[1] = 2;
    desc.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", -1, "BODY-B", 0.0f}};
    desc.parallel_section = true;
    desc.parallel_info = {7, 0, 3};
    return desc;
}

// A part list copied into a buffer one longer than `expected`; the entry
// behind the list must stay untouched.
Ints part_list(bool (*query)(int32_t*, int32_t*), std::int32_t part, std::size_t expected) {
    Ints ids(expected + 1, -99);
    EXPECT_TRUE(query(&part, ids.data())) << "part " << part;
    EXPECT_EQ(ids.back(), -99) << "written past the list of part " << part;
    ids.pop_back();
    return ids;
}

// A refused part number gets -1 written over it and nothing into the list;
// get_PartInfo writes nothing either.
void expect_part_refused(std::int32_t part, bool has_info = false) {
    for (auto query : {get_ElementPartConnectivity, get_NodePartConnectivity}) {
        std::int32_t p = part;
        Ints ids(4, -99);
        EXPECT_FALSE(query(&p, ids.data())) << "part " << part;
        EXPECT_EQ(p, -1) << "part " << part;
        EXPECT_EQ(ids, Ints(4, -99));
    }
    std::int32_t e = -7, n = -7, p = part;
    char name[4] = "abc";
    EXPECT_EQ(get_PartInfo(&p, &e, &n, name), has_info) << "part " << part;
    if (!has_info) {
        EXPECT_EQ((Ints{e, n, name[0]}), (Ints{-7, -7, 'a'})) << "part " << part;
    }
}

using ModelQueries = Session;

TEST_F(ModelQueries, PartsAnswerFromTheBaseFileRecords) {
    ASSERT_TRUE(load(two_part_model()));
    EXPECT_EQ(count(get_NumNodes), (Out{true, 14}));  // 42 coordinates / 3
    EXPECT_EQ(count(get_NumUnstructuredNodes), (Out{true, 14}));
    EXPECT_EQ(count(get_NumUnstructuredParts), (Out{true, 2}));
    Ints ni(2, -99), nj(2, -99), nk(2, -99);  // one extent each, nothing behind it
    ASSERT_TRUE(get_NumStructuredNodes(ni.data(), nj.data(), nk.data()));
    EXPECT_EQ((Ints{ni[0], nj[0], nk[0], ni[1], nj[1], nk[1]}), (Ints{3, 2, 2, -99, -99, -99}));

    // BLOCK: (3-1)(2-1)(2-1) = 2 elements, 3*2*2 = 12 nodes. BRICKS: nodes
    // 4,3,2,1,8,7,6,5 then 9..12 = 12. SHELL: 12, 13, 14, 9 = 4. Names in a
    // field of 8, the caller's terminator and what lies behind kept.
    const struct {
        std::int32_t part, elements, nodes;
        const char* name;
    } parts[] = {{1, 2, 12, "BLOCK   "}, {2, 2, 12, "BRICKS  "}, {3, 1, 4, "SHELL   "}};
    for (const auto& p : parts) {
        std::int32_t part = p.part, elements = -7, nodes = -7;
        char name[10] = "........";
        name[9] = 'Z';
        EXPECT_TRUE(get_PartInfo(&part, &elements, &nodes, name)) << p.part;
        EXPECT_EQ((Ints{elements, nodes}), (Ints{p.elements, p.nodes})) << p.part;
        EXPECT_EQ(std::string(name, 10), std::string(p.name) + '\0' + 'Z');
    }
    EXPECT_EQ(part_list(get_ElementPartConnectivity, 2, 2), (Ints{1, 2}));
    EXPECT_EQ(part_list(get_ElementPartConnectivity, 3, 1), (Ints{3}));
    // Distinct nodes in first-use order, whatever node list the file stored.
    EXPECT_EQ(part_list(get_NodePartConnectivity, 2, 12),
              (Ints{4, 3, 2, 1, 8, 7, 6, 5, 9, 10, 11, 12}));
    EXPECT_EQ(part_list(get_NodePartConnectivity, 3, 4), (Ints{12, 13, 14, 9}));
    // S + U + 1 = 4 is no part; structured part 1 has no lists.
    for (std::int32_t part : {4, 0, -3}) expect_part_refused(part);
    expect_part_refused(1, true);

    Ints rows(8 * 3 + 1, -99), types(3 + 1, -99);
    ASSERT_TRUE(get_UnstructuredElementConnectivity(rows.data()));
    EXPECT_EQ(Ints(rows.begin(), rows.end() - 1), two_part_model().connectivity);
    EXPECT_EQ(rows.back(), -99);
    ASSERT_TRUE(get_ElementType(types.data()));
    EXPECT_EQ(types, (Ints{1, 1, 2, -99}));
}

TEST_F(ModelQueries, CycleCountsBeyondOrShortOfTheBaseFile) {
    ASSERT_TRUE(load(two_part_model()));
    // The cycle states 2 structured and 3 unstructured parts (the base file
    // has 3 part records) and 9 unstructured elements (it has 3).
    qvw::CycleFileSpec cycle;
    cycle.structured_parts = {{3, 2, 2}, {2, 2, 2}};
    cycle.unstructured_parts = 3;
    cycle.unstructured_nodes = 40;
    cycle.unstructured_elements = 9;
    ASSERT_TRUE(open_cycle(cycle));

    EXPECT_EQ(count(get_NumStructuredParts), (Out{true, 2}));
    EXPECT_EQ(count(get_NumNodes), (Out{true, 40}));
    // Part 2's sizes are those of an unstructured part, not block extents.
    std::int32_t ni[2] = {}, nj[2] = {}, nk[2] = {};
    EXPECT_FALSE(get_NumStructuredNodes(ni, nj, nk));
    // Part 2 is now at or below S; parts 4 and 5 have no record.
    for (std::int32_t part : {4, 5, 6}) expect_part_refused(part);
    expect_part_refused(2, true);
    EXPECT_EQ(part_list(get_ElementPartConnectivity, 3, 1), (Ints{3}));

    // 8 x 9 connectivity entries and 9 type codes are more than held.
    Ints rows(8 * 9, -99), types(9, -99);
    EXPECT_FALSE(get_UnstructuredElementConnectivity(rows.data()));
    EXPECT_FALSE(get_ElementType(types.data()));
    EXPECT_EQ(rows, Ints(8 * 9, -99));
    // Recounted from the part records (2 + 1), which the lists then serve.
    EXPECT_EQ(count(get_NumUnstructuredElements), (Out{true, 3}));
    EXPECT_TRUE(get_UnstructuredElementConnectivity(rows.data()));
    EXPECT_EQ((Ints{rows[23], rows[24]}), (Ints{0, -99}));

    // One structured and one unstructured part: part 3 keeps its record but
    // lies above S + U = 2.
    cycle.structured_parts = {{3, 2, 2}};
    cycle.unstructured_parts = 1;
    ASSERT_TRUE(open_cycle(cycle, "run_0002.qvres"));
    expect_part_refused(3);
    EXPECT_EQ(part_list(get_ElementPartConnectivity, 2, 2), (Ints{1, 2}));
}

TEST_F(ModelQueries, CleanUpKeepsCountsAndReleasesLists) {
    ASSERT_TRUE(load(two_part_model()));
    ASSERT_EQ(count(get_NumMaterials), (Out{true, 2}));
    ASSERT_EQ(count(getParallelTaskInfoSize), (Out{true, 3}));
    ASSERT_TRUE(resultsCleanUp());

    EXPECT_EQ(count(get_NumNodes), (Out{true, 14}));
    EXPECT_EQ(count(get_NumStructuredParts), (Out{true, 1}));
    EXPECT_EQ(count(get_NumMaterials), (Out{true, 0}));
    std::int32_t material = 1;
    char name[4] = "abc";
    EXPECT_FALSE(get_MaterialName(&material, name));
    EXPECT_EQ(material, -1);
    EXPECT_EQ(count(getParallelTaskInfoSize), (Out{true, 0}));
    EXPECT_FALSE(hasParallelTaskInfo());

    Ints rows(24, -99), types(3, -99);
    EXPECT_FALSE(get_UnstructuredElementConnectivity(rows.data()));
    EXPECT_FALSE(get_ElementType(types.data()));
    EXPECT_EQ(rows, Ints(24, -99));
    EXPECT_EQ(lookup(get_ZPElementNumNodes, 10), (Out{false, 0}));

    // Part records and the lookup maps stay until the next load.
    EXPECT_EQ(part_list(get_ElementPartConnectivity, 2, 2), (Ints{1, 2}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 20), (Out{true, 2}));
}

using ElementKinds = Session;

TEST_F(ElementKinds, HexahedraAndQuadrilateralShells) {
    ASSERT_TRUE(load(two_part_model()));
    EXPECT_EQ(count(get_ZPnumElementTypes), (Out{true, 2}));
    // Present kinds numbered in position order: hexahedron (6) -> 1,
    // quadrilateral shell (10) -> 2. Type 0 names the highest absent
    // position, 9.
    EXPECT_EQ(lookup(get_ZPElementType, 1), (Out{true, 6}));
    EXPECT_EQ(lookup(get_ZPElementType, 2), (Out{true, 10}));
    EXPECT_EQ(lookup(get_ZPElementType, 3), (Out{true, 0}));
    EXPECT_EQ(lookup(get_ZPElementType, 0), (Out{true, 9}));

    const std::int32_t shell = 30;
    std::int32_t type = -7, nodes[8] = {};
    ASSERT_TRUE(get_ZPElement(&shell, &type, nodes));
    EXPECT_EQ(type, 2);
    EXPECT_EQ(Ints(nodes, nodes + 8), (Ints{12, 13, 14, 9, 0, 0, 0, 0}));
    EXPECT_EQ(lookup(get_ZPElementNumNodes, 30), (Out{true, 4}));
    EXPECT_EQ(lookup(get_ZPElementNumNodes, 10), (Out{true, 8}));
    // 0 and below, 15 (in range, no element carries it), 31 (above 30).
    for (std::int32_t x : {0, -4, 15, 31}) {
        type = -7;
        EXPECT_FALSE(get_ZPElement(&x, &type, nodes)) << x;
        EXPECT_EQ(type, -7);
        EXPECT_EQ(lookup(get_ZPElementNumNodes, x), (Out{false, 0})) << x;
    }
}

// Solids told apart by their empty connectivity entries, shells by entry 4,
// and elements of no kind; no numbering records (v[1] = 1), so external
// numbers are the rows themselves.
TEST_F(ElementKinds, ShapesFollowTheEmptyEntries) {
    BaseFileSpec desc;
    desc.header = {1, 1};
    desc.parts = {PartSpec::unstructured("MIXED", {1, 2, 3, 4, 5, 6, 7, 8})};
    desc.connectivity = {1, 2, 3, 4, 5, 6, 0, 0,   // 1 wedge
                         1, 2, 3, 4, 0, 0, 0, 0,   // 2 tetrahedron
                         1, 2, 3, 4, 5, 0, 0, 0,   // 3 pyramid
                         1, 2, 0, 0, 0, 0, 0, 0,   // 4 beam
                         1, 2, 3, 0, 0, 0, 0, 0,   // 5 triangular shell
                         1, 2, 3, 4, 5, 6, 7, 0,   // 6 type 1 with 7 entries: no kind
                         1, 2, 3, 4, 5, 6, 7, 8,   // 7 type code 4: no kind
                         1, 2, 3, 4, 5, 6, 7, 8};  // 8 hexahedron
    desc.coordinates.assign(3 * 8, 0.0f);
    desc.element_types = {1, 1, 1, 3, 2, 1, 4, 1};
    ASSERT_TRUE(load(desc));

    // Present: beam 2, tetrahedron 5, hexahedron 6, pyramid 7, wedge 8,
    // triangular shell 9 -> type numbers 1..6.
    EXPECT_EQ(count(get_ZPnumElementTypes), (Out{true, 6}));
    EXPECT_EQ(lookup(get_ZPElementType, 6), (Out{true, 9}));
    const Ints types = {5, 2, 4, 1, 6, 0, 0, 3}, counts = {6, 4, 5, 2, 3, 7, 8, 8};
    for (std::int32_t e = 1; e <= 8; ++e) {
        std::int32_t type = -7, nodes[8] = {};
        ASSERT_TRUE(get_ZPElement(&e, &type, nodes)) << e;
        EXPECT_EQ(type, types[e - 1]) << "element " << e;
        EXPECT_EQ(lookup(get_ZPElementNumNodes, e), (Out{true, counts[e - 1]})) << e;
    }
}

using Numbering = Session;

TEST_F(Numbering, ExternalNumbersMapToPositions) {
    ASSERT_TRUE(load(two_part_model()));
    // Element numbers 10, 20, 30 on rows 1, 2, 3; node numbers 101..114.
    EXPECT_EQ(lookup(getQuorvexElementNumber, 20), (Out{true, 2}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 15), (Out{true, 0}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 31), (Out{false, -1}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 0), (Out{false, -1}));
    EXPECT_EQ(lookup(getQuorvexNodeNumber, 114), (Out{true, 14}));
    EXPECT_EQ(lookup(getQuorvexNodeNumber, 100), (Out{true, 0}));
    EXPECT_EQ(lookup(getQuorvexNodeNumber, 115), (Out{false, -1}));

    // Without numbering records (v[1] = 1) rows and nodes map to themselves.
    BaseFileSpec desc = two_part_model();
    desc.header = {1, 1};
    desc.parts.pop_back();  // all 14 nodes in one part, so the node total is 14
    desc.parts.back().element_ids = {1, 2, 3};
    ASSERT_TRUE(load(desc));
    for (std::int32_t n = 1; n <= 14; ++n)
        EXPECT_EQ(lookup(getQuorvexNodeNumber, n), (Out{true, n}));
    EXPECT_EQ(lookup(getQuorvexNodeNumber, 15), (Out{false, -1}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 3), (Out{true, 3}));
    EXPECT_EQ(lookup(getQuorvexElementNumber, 4), (Out{false, -1}));
}

using Attributes = Session;

TEST_F(Attributes, PyramidTetrahedronPartners) {
    BaseFileSpec desc = two_part_model();
    desc.element_numbers = {10, 11, 12};
    desc.pairs = {{10, 11}};
    ASSERT_TRUE(load(desc));
    EXPECT_EQ(lookup(getPyramidTetPairId, 10), (Out{true, 11}));
    EXPECT_EQ(lookup(getPyramidTetPairId, 11), (Out{true, 10}));
    // Unpaired, above the numbering, 0 and below.
    for (std::int32_t e : {12, 13, 0, -1}) EXPECT_EQ(lookup(getPyramidTetPairId, e), (Out{false, 0}));
    // A pair naming no element: its element has no partner, 0 written.
    desc.pairs = {{10, -1}, {11, 0}};
    ASSERT_TRUE(load(desc));
    EXPECT_EQ(lookup(getPyramidTetPairId, 10), (Out{false, 0}));
    EXPECT_EQ(lookup(getPyramidTetPairId, 11), (Out{false, 0}));
    desc.pairs.clear();
    ASSERT_TRUE(load(desc));
    EXPECT_EQ(lookup(getPyramidTetPairId, 10), (Out{false, 0}));
}

TEST_F(Attributes, StatedOrDefaultUnitsSymmetryVersionSwitchesAndTasks) {
    struct Case {
        Ints header;
        std::int32_t release;
        bool parallel;
        Ints units_symmetry_version;
    };
    // v[1] = 2: no unit or symmetry records, 3/3/3 and 3/0; v[2] = 1 gives
    // release 12000 -> 120. v[1] = 5, v[2] = 4: stated (1, 3, 3) and (1, 2);
    // release 14000 -> 140. v[1] = 6: release record 15020 -> 150.
    for (const Case& c : {Case{{2, 1}, 0, false, {3, 3, 3, 3, 0, 120}},
                          Case{{5, 4}, 0, true, {1, 3, 3, 1, 2, 140}},
                          Case{{6, 4}, 15020, false, {1, 3, 3, 1, 2, 150}}}) {
        BaseFileSpec desc = two_part_model();
        desc.header = c.header;
        desc.release = c.release;
        desc.parallel_section = c.parallel;
        ASSERT_TRUE(load(desc));
        std::int32_t l = -7, m = -7, t = -7, a = -7, b = -7, v1 = -7, v2 = -7;
        EXPECT_TRUE(getUnitSystem(&l, &m, &t));
        EXPECT_TRUE(getModelSymmetry(&a, &b));
        EXPECT_EQ((Ints{l, m, t, a, b, count(getResultsFileVersion).value}),
                  c.units_symmetry_version);
        EXPECT_TRUE(getInputResultSwitches(&v1, &v2));
        EXPECT_EQ((Ints{v1, v2}), c.header);
        // Parallel task values of this load only, none left from the last.
        Ints info(4, -9);
        EXPECT_EQ(hasParallelTaskInfo(), c.parallel);
        EXPECT_EQ(count(getParallelTaskInfoSize), (Out{true, c.parallel ? 3 : 0}));
        EXPECT_TRUE(getParallelTaskInformation(info.data()));
        EXPECT_EQ(info, c.parallel ? (Ints{7, 0, 3, -9}) : Ints(4, -9));
    }
}

}  // namespace

namespace {

// A cycle of two_part_model stating `unstructured_parts` of its two
// unstructured parts and all three of their elements, with a material
// number array for every slot and element.
qvw::CycleFileSpec cycle_of_parts(std::int32_t unstructured_parts) {
    qvw::CycleFileSpec c;
    c.structured_parts = {{3, 2, 2}};
    c.unstructured_parts = unstructured_parts;
    c.unstructured_nodes = 14;
    c.unstructured_elements = 3;
    Ints values = {10, 1};
    for (std::int32_t i = 0; i < 12 + 3; ++i) values.push_back(i);
    c.entries = {qvw::DirectoryEntrySpec::integer(-1, 10, 1, values, "MATERIAL")};
    return c;
}

}  // namespace

using CycleCounts = Session;

// The elements a host sizes for under a cycle's counts are those of the
// parts the cycle numbers (get_NumUnstructuredElements). A cycle naming
// fewer parts but all the elements had the element getters write past them
// until that query replaced the stated total.
TEST_F(CycleCounts, ElementsBeyondThePartsACycleNamesAreNotServed) {
    ASSERT_TRUE(load(two_part_model()));
    for (const std::int32_t parts : {1, 2}) {
        const std::int32_t elements = parts == 1 ? 2 : 3;  // BRICKS, then BRICKS and SHELL
        for (const bool asked : {false, true}) {
            ASSERT_TRUE(open_cycle(cycle_of_parts(parts)));
            if (asked) {
                EXPECT_EQ(count(get_NumUnstructuredElements), (Out{true, elements}));
            }
            // 2 + C + E values, C = 2; one guard value behind.
            Ints values(2 + 2 + std::size_t(elements) + 1, -99);
            std::int32_t variable = 10, part = 1;
            EXPECT_EQ(get_IntElemValues(&variable, &part, values.data()), parts == 2 || asked);
            EXPECT_EQ(values.back(), -99) << parts << " parts";
            Ints rows(8 * std::size_t(elements) + 1, -99);
            EXPECT_EQ(get_UnstructuredElementConnectivity(rows.data()), parts == 2 || asked);
            EXPECT_EQ(rows.back(), -99) << parts << " parts";
        }
    }
}
