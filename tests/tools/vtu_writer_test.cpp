// The appended-data encodings of the VTK writer, the step list and the
// vector triples of the export.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <numeric>

#include "to_vtk/export.h"
#include "to_vtk/vtu_writer.h"

namespace {

using namespace qvvtk;

std::vector<std::uint64_t> words(const std::vector<std::uint8_t>& bytes, std::size_t n) {
    std::vector<std::uint64_t> w(n);
    std::memcpy(w.data(), bytes.data(), n * sizeof(std::uint64_t));
    return w;
}

// The bytes back from the compressed form, checking the header on the way.
std::vector<std::uint8_t> inflate(const std::vector<std::uint8_t>& encoded, std::size_t block) {
    const std::vector<std::uint64_t> head = words(encoded, 3);
    EXPECT_EQ(head[1], block);
    const std::vector<std::uint64_t> sizes = words(encoded, 3 + head[0]);
    std::size_t at = (3 + head[0]) * sizeof(std::uint64_t);
    std::vector<std::uint8_t> out;
    for (std::uint64_t b = 0; b < head[0]; ++b) {
        const std::uint64_t expected = b + 1 == head[0] && head[2] ? head[2] : block;
        std::vector<std::uint8_t> piece(expected + 1);
        uLongf n = piece.size();
        EXPECT_EQ(uncompress(piece.data(), &n, encoded.data() + at, sizes[3 + b]), Z_OK);
        EXPECT_EQ(n, expected) << "block " << b;
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        at += sizes[3 + b];
    }
    EXPECT_EQ(at, encoded.size());
    return out;
}

TEST(Encoding, BlocksInflateToTheBytesWithVtksHeader) {
    Encoding e;
    e.block_size = 1000;
    std::vector<std::uint8_t> bytes(2500);
    std::iota(bytes.begin(), bytes.end(), 0);
    for (const std::size_t size : {std::size_t(0), std::size_t(999), std::size_t(2000), std::size_t(2500)}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        const std::vector<std::uint8_t> encoded = encode(part.data(), size, e);
        // Block count, then the size of a last partial block: 0 when it is full.
        EXPECT_EQ(words(encoded, 1)[0], (size + 999) / 1000);
        EXPECT_EQ(words(encoded, 3)[2], size % 1000);
        EXPECT_EQ(inflate(encoded, 1000), part);
        // Compressed a few blocks at a time or one by one: the same bytes.
        EXPECT_EQ(encode(part.data(), size, e, 3), encoded);
    }
    e.compress = false;
    const std::vector<std::uint8_t> raw = encode(bytes.data(), 10, e);
    EXPECT_EQ(words(raw, 1)[0], 10u);
    EXPECT_EQ(std::vector<std::uint8_t>(raw.begin() + 8, raw.end()),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 10));
}

TEST(Export, StepListsAreSortedAndChecked) {
    EXPECT_EQ(parse_steps("7,0,3-5,4", 12), (std::vector<std::int32_t>{0, 3, 4, 5, 7}));
    for (const char* bad : {"", "1,,2", "5-3", "a", "-1"}) EXPECT_THROW(parse_steps(bad, 12), qvhost::UsageError) << bad;
    for (const char* missing : {"2-12", "12"}) EXPECT_THROW(parse_steps(missing, 12), qvhost::Error) << missing;
}

TEST(Export, GroupsAreTheCataloguesVectorsAndTensorsOfOneKindAndPart) {
    using qvhost::kElementReal;
    using qvhost::kNodeReal;
    // Variable indices as the catalogue numbers them: X-, Y-, Z-VELOCITY 4-6,
    // X-, Y-, Z-FORCE 8-10, X-, Y-, Z-ANG.VEL 12-14, EXT X-, Y-, Z-FORCE
    // 331-333, STRESS X, Y, Z 447, 448, 452, STRESS XX, YY, ZZ, XY, YZ, ZX
    // 67-72, STRAIN XX .. ZX 35-40.
    const std::vector<qvhost::Variable> dir{
        {1, "Z-VELOCITY", 6, kNodeReal},   {1, "X-VELOCITY", 4, kNodeReal},   {1, "Y-VELOCITY", 5, kNodeReal},
        {2, "X-FORCE", 8, kNodeReal},      {1, "Y-FORCE", 9, kNodeReal},      {2, "Z-FORCE", 10, kNodeReal},
        {1, "STRESS_X", 447, kElementReal}, {1, "STRESS_Y", 448, kElementReal}, {1, "STRESS_Z", 452, kElementReal},
        {3, "X-ANG_VEL", 12, kNodeReal},   {3, "Y-ANG_VEL", 13, kNodeReal},   {3, "Z-ANG_VEL", 14, kNodeReal},
        {1, "EXT_Y-FORCE", 332, kNodeReal}, {1, "EXT_X-FORCE", 331, kNodeReal}, {1, "EXT_Z-FORCE", 333, kNodeReal},
        {1, "STRESS_ZX", 72, kElementReal}, {1, "STRESS_XX", 67, kElementReal}, {1, "STRESS_YY", 68, kElementReal},
        {1, "STRESS_ZZ", 69, kElementReal}, {1, "STRESS_XY", 70, kElementReal}, {1, "STRESS_YZ", 71, kElementReal},
        // A strain without its YZ: no tensor.
        {1, "STRAIN_XX", 35, kElementReal}, {1, "STRAIN_YY", 36, kElementReal}, {1, "STRAIN_ZZ", 37, kElementReal},
        {1, "STRAIN_XY", 38, kElementReal}, {1, "STRAIN_ZX", 40, kElementReal}};
    const qvhost::ResultsLibrary library;
    const std::vector<Group> g = component_groups(library, dir);
    // The force's parts differ; element arrays are no point vectors.
    ASSERT_EQ(g.size(), 4u);
    EXPECT_EQ(g[0].name, "VELOCITY");
    EXPECT_EQ(g[0].members, (std::vector<std::size_t>{1, 2, 0}));
    // Named as the directory spells its members: '.' and blanks as '_'.
    EXPECT_EQ(g[1].name, "ANG_VEL");
    EXPECT_EQ(g[1].members, (std::vector<std::size_t>{9, 10, 11}));
    EXPECT_EQ(g[2].name, "EXT_FORCE");
    EXPECT_EQ(g[2].members, (std::vector<std::size_t>{13, 12, 14}));
    // XX, YY, ZZ, XY, YZ, then the file's ZX as VTK's XZ.
    EXPECT_EQ(g[3].name, "STRESS");
    EXPECT_EQ(g[3].members, (std::vector<std::size_t>{16, 17, 18, 19, 20, 15}));
}

}  // namespace
