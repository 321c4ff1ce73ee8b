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

TEST(UnstructuredCells, EntryNNamesPointAfterTheStructuredNodes) {
    Cells c;
    const std::vector<std::int32_t> conn{3, 1, 2, 0, 0, 0, 0, 0,   // triangle shell
                                         2, 4, 0, 0, 0, 0, 0, 0};  // beam
    // The cells as the library's query gives them: a triangle, a beam.
    const std::vector<qvres_cell> kinds{{QVRES_CELL_TRIANGLE, 3, 5}, {QVRES_CELL_BEAM, 2, 3}};
    add_unstructured(c, 50, 4, conn, kinds);
    EXPECT_EQ(c.connectivity, (std::vector<std::int64_t>{52, 50, 51, 51, 53}));
    EXPECT_EQ(c.offsets, (std::vector<std::int64_t>{3, 5}));
    EXPECT_EQ(c.types, (std::vector<std::uint8_t>{5, 3}));

    Cells bad;
    EXPECT_THROW(add_unstructured(bad, 50, 3, conn, kinds), std::runtime_error);
}

TEST(UnstructuredCells, AnElementOfNoKindKeepsItsNonZeroEntries) {
    // No kind: a poly-vertex of the entries that are not 0, wherever they
    // stand, so that cells and element values stay aligned.
    Cells c;
    const std::vector<std::int32_t> conn{0, 3, 0, 1, 0, 0, 0, 0,   // two entries among gaps
                                         0, 0, 0, 0, 0, 0, 0, 0};  // none at all
    add_unstructured(c, 10, 3, conn, {{QVRES_CELL_NONE, 2, 2}, {QVRES_CELL_NONE, 0, 0}});
    EXPECT_EQ(c.connectivity, (std::vector<std::int64_t>{12, 10}));
    EXPECT_EQ(c.offsets, (std::vector<std::int64_t>{2, 2}));
    EXPECT_EQ(c.types, (std::vector<std::uint8_t>{2, 0}));
}

}  // namespace
