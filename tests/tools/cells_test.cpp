// Model elements as VTK cells: corner order of structured cells and the
// kinds and node numbers of unstructured elements.
#include <gtest/gtest.h>

#include "to_vtk/cells.h"

namespace {

using namespace qvvtk;

TEST(StructuredCells, CornersOfEachCellInVtkOrderWithKFastest) {
    Cells c;
    add_structured_part(c, 100, 3, 2, 2);  // nodes 100..111, cells (2,2,2), (3,2,2)
    ASSERT_EQ(c.types, (std::vector<std::uint8_t>{kHexahedron, kHexahedron}));
    ASSERT_EQ(c.offsets, (std::vector<std::int64_t>{8, 16}));
    // Point of node (i, j, k): 100 + ((i-1)*2 + (j-1))*2 + (k-1). The bottom
    // face (k-1 layer) counter-clockwise in i, j, then the top face.
    const std::vector<std::int64_t> first{100, 104, 106, 102, 101, 105, 107, 103};
    EXPECT_EQ(std::vector<std::int64_t>(c.connectivity.begin(), c.connectivity.begin() + 8), first);
    EXPECT_EQ(c.connectivity[8], 104);  // the next cell starts one i layer on

    Cells flat;
    add_structured_part(flat, 0, 4, 1, 3);  // no cell between node layers that do not exist
    EXPECT_TRUE(flat.types.empty());
}

TEST(UnstructuredCells, KindFollowsTypeCodeAndEmptyEntries) {
    const std::int32_t hex[8] = {1, 2, 3, 4, 5, 6, 7, 8}, tet[8] = {1, 2, 3, 4},
                       pyr[8] = {1, 2, 3, 4, 5}, wedge[8] = {1, 2, 3, 4, 5, 6},
                       seven[8] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(unstructured_kind(1, hex).type, kHexahedron);
    EXPECT_EQ(unstructured_kind(1, tet).type, kTetra);
    EXPECT_EQ(unstructured_kind(1, pyr).type, kPyramid);
    EXPECT_EQ(unstructured_kind(1, wedge).type, kWedge);
    EXPECT_EQ(unstructured_kind(2, tet).type, kQuad);
    EXPECT_EQ(unstructured_kind(2, std::array<std::int32_t, 8>{4, 5, 6}.data()).type, kTriangle);
    EXPECT_EQ(unstructured_kind(3, hex).type, kLine);
    EXPECT_EQ(unstructured_kind(3, hex).nodes, 2);
    // No kind: the nodes are kept as a poly-vertex, one cell all the same.
    EXPECT_EQ(unstructured_kind(1, seven).type, kPolyVertex);
    EXPECT_EQ(unstructured_kind(1, seven).nodes, 7);
    EXPECT_EQ(unstructured_kind(7, tet).nodes, 4);
}

TEST(UnstructuredCells, EntryNNamesPointAfterTheStructuredNodes) {
    Cells c;
    const std::vector<std::int32_t> conn{3, 1, 2, 0, 0, 0, 0, 0,   // triangle shell
                                         2, 4, 0, 0, 0, 0, 0, 0};  // beam
    add_unstructured(c, 50, 4, conn, {2, 3});
    EXPECT_EQ(c.connectivity, (std::vector<std::int64_t>{52, 50, 51, 51, 53}));
    EXPECT_EQ(c.offsets, (std::vector<std::int64_t>{3, 5}));
    EXPECT_EQ(c.types, (std::vector<std::uint8_t>{kTriangle, kLine}));

    Cells bad;
    EXPECT_THROW(add_unstructured(bad, 50, 3, conn, {2, 3}), std::runtime_error);
}

}  // namespace
