// Where the values of each request stand (the layout query), the header
// pair query, and where a damaged value array says it was damaged: through
// the C interface, over an analysis written here whose stored values encode
// their own slot, so that each value read can be traced to the slot it came
// from.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qvres.h"
#include "qvres/qvres_support.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

using qvtest::Open;
using qvtest::TempDir;
using qvtest::Reader;
using Ints = std::vector<std::int32_t>;
using Floats = std::vector<float>;
using Extent = std::array<std::int64_t, 3>;

// A part with cells, a plane (I = 1), a part without cells (J = 1), and a
// part of one cell.
constexpr std::array<Extent, 4> kParts = {{{3, 4, 5}, {1, 3, 2}, {4, 1, 3}, {2, 2, 2}}};
constexpr std::int64_t kSlots = 60 + 6 + 12 + 8;
constexpr std::int64_t kNodes = 10;     // unstructured
constexpr std::int64_t kElements = 3;   // unstructured: two hexahedra, a shell
// Euler ids 1, -1, 2: materials 1 and 3 are reported.
constexpr std::int32_t kEulerIds[] = {1, -1, 2};
constexpr std::int64_t kMaterials = 3;
constexpr std::int32_t kStrain = 54;  // IVR_EPS: multi-material, dimensionless
constexpr std::int32_t kMaterialNumber = 10;
constexpr std::int32_t kLayer = 30;

// The slot position (0-based over all structured slots) of 1-based slot
// (i, j, k) of part p.
std::int64_t slot_of(int p, std::int64_t i, std::int64_t j, std::int64_t k) {
    std::int64_t first = 0;
    for (int q = 0; q < p; ++q) first += kParts[q][0] * kParts[q][1] * kParts[q][2];
    const Extent& e = kParts[std::size_t(p)];
    return first + ((i - 1) * e[1] + (j - 1)) * e[2] + (k - 1);
}

// Stored values that name their slot: slot s holds 1000 + s (integers), the
// unstructured position u after all slots 50000 + u; a multi-material slot
// holds 100 s + m for material m and 100 s + 99 for its own value.
Ints slot_ints(std::int32_t variable, std::int32_t part, std::int64_t tail) {
    Ints v{variable, part};
    for (std::int64_t s = 0; s < kSlots; ++s) v.push_back(std::int32_t(1000 + s));
    for (std::int64_t u = 0; u < tail; ++u) v.push_back(std::int32_t(50000 + u));
    return v;
}
Floats multi_material_reals() {
    Floats v{float(kStrain), 1.0f};
    for (std::int64_t s = 0; s < kSlots; ++s) {
        for (std::int64_t m = 1; m <= kMaterials; ++m) v.push_back(float(100 * s + m));
        v.push_back(float(100 * s + 99));
    }
    for (std::int64_t u = 0; u < kElements; ++u) v.push_back(float(50000 + u));
    return v;
}

qvw::CycleFileSpec layout_cycle() {
    qvw::CycleFileSpec c;
    c.header = {1, 1, 1, 1, 0, 1};  // single-form arrays
    c.cycle = 7;
    c.time = 0.5f;
    for (const Extent& e : kParts)
        c.structured_parts.push_back({std::int32_t(e[0]), std::int32_t(e[1]), std::int32_t(e[2])});
    c.unstructured_parts = 1;
    c.unstructured_nodes = std::int32_t(kNodes);
    c.unstructured_elements = std::int32_t(kElements);
    using qvw::DirectoryEntrySpec;
    c.entries = {
        DirectoryEntrySpec::integer(1, 35, 1, slot_ints(35, 1, kNodes), "TASK NUMBER"),
        DirectoryEntrySpec::integer(-1, kMaterialNumber, 1, slot_ints(kMaterialNumber, 1, kElements), "MATERIAL"),
        DirectoryEntrySpec::real(-2, kStrain, 1, multi_material_reals(), "EFF. PL. STN"),
        DirectoryEntrySpec::integer(-1, kLayer, -2, slot_ints(kLayer, -2, kElements), "LAYER 2"),
    };
    c.variable_count = std::int32_t(c.entries.size());
    c.displacements = Floats(std::size_t(3 * (kSlots + kNodes)), 0.25f);
    c.material_fractions.emplace();
    for (std::int64_t m = 0; m < kMaterials; ++m)
        c.material_fractions->push_back(Floats(std::size_t(kSlots), 0.5f));
    return c;
}

void write_analysis(const TempDir& dir, qvw::CycleFileLayout* layout = nullptr) {
    qvw::BaseFileSpec b;
    b.header = {5, 4};
    const char* names[] = {"BLOCK", "PLANE", "STRIP", "CUBE"};
    for (std::size_t p = 0; p < kParts.size(); ++p)
        b.parts.push_back(qvw::PartSpec::structured(names[p], std::int32_t(kParts[p][0]), std::int32_t(kParts[p][1]),
                                                    std::int32_t(kParts[p][2])));
    b.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2, 3}));
    b.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 1, 2, 1, 2, 3, 4, 0, 0, 0, 0};
    b.element_types = {1, 1, 2};
    b.coordinates.assign(std::size_t(3 * (kSlots + kNodes)), 1.0f);
    for (std::size_t m = 0; m < std::size(kEulerIds); ++m)
        b.materials.push_back({"MAT" + std::to_string(m + 1), kEulerIds[m], "", 0.3f});
    qvw::write_base_file(b).save(dir.file("lay.qvres_base"));
    const qvw::CycleFileSpec c = layout_cycle();
    if (layout)
        qvw::write_cycle_file(c, *layout).save(dir.file("lay_7.qvres"));
    else
        qvw::write_cycle_file(c).save(dir.file("lay_7.qvres"));
}

struct Block {
    std::int32_t part;
    std::int64_t first;
    Extent extent, origin;
    bool elements;
};
struct Expected {
    std::int64_t values, columns;
    std::vector<Block> blocks;
    std::int64_t unstructured_first, unstructured, unstructured_columns;
    std::int32_t at;
};

void expect_layout(qvres_reader* r, const qvres_request& q, const Expected& want) {
    const std::string what = "request " + std::to_string(q.values) + " of variable " + std::to_string(q.variable);
    qvres_layout l{};
    qvres_error error{};
    ASSERT_EQ(qvres_get_layout(r, &q, &l, &error), QVRES_OK) << what << ": " << error.message;
    std::int64_t count = -1;
    ASSERT_EQ(qvres_count_values(r, &q, &count, nullptr), QVRES_OK);
    // values, columns, unstructured_first, unstructured, unstructured_columns, at, count, blocks
    EXPECT_EQ((std::vector<std::int64_t>{l.values, l.columns, l.unstructured_first, l.unstructured,
                                         l.unstructured_columns, l.at, count, l.blocks}),
              (std::vector<std::int64_t>{want.values, want.columns, want.unstructured_first, want.unstructured,
                                         want.unstructured_columns, want.at, want.values,
                                         std::int64_t(want.blocks.size())}))
        << what;
    for (std::size_t b = 0; b < want.blocks.size() && b < std::size_t(l.blocks); ++b) {
        qvres_layout_block g{};
        ASSERT_EQ(qvres_get_layout_block(r, &q, std::int64_t(b), &g, nullptr), QVRES_OK) << what;
        const Block& w = want.blocks[b];
        // part, first, elements, extent, origin
        EXPECT_EQ((std::vector<std::int64_t>{g.part, g.first, g.elements, g.extent[0], g.extent[1], g.extent[2],
                                             g.origin[0], g.origin[1], g.origin[2]}),
                  (std::vector<std::int64_t>{w.part, w.first, w.elements, w.extent[0], w.extent[1], w.extent[2],
                                             w.origin[0], w.origin[1], w.origin[2]}))
            << what << ", block " << b;
    }
    qvres_layout_block none{};
    EXPECT_EQ(qvres_get_layout_block(r, &q, l.blocks, &none, nullptr), QVRES_E_ARGUMENT) << what;
    EXPECT_EQ(qvres_get_layout_block(r, &q, -1, &none, nullptr), QVRES_E_ARGUMENT) << what;
}

// The blocks of every slot of every part (nodes, all-slot requests).
std::vector<Block> every_slot(std::int64_t columns) {
    return {{1, 0, kParts[0], {1, 1, 1}, false},
            {2, 60 * columns, kParts[1], {1, 1, 1}, false},
            {3, 66 * columns, kParts[2], {1, 1, 1}, false},
            {4, 78 * columns, kParts[3], {1, 1, 1}, false}};
}

class Layouts : public ::testing::Test {
protected:
    void SetUp() override {
        write_analysis(dir_);
        open_ = std::make_unique<Open>(dir_.path());
        ASSERT_EQ(open_->status, QVRES_OK) << open_->error.message;
        reader_ = std::make_unique<Reader>(open_->a, 0);
        ASSERT_EQ(reader_->status, QVRES_OK) << reader_->error.message;
    }
    qvres_reader* r() { return reader_->r; }

    TempDir dir_;
    std::unique_ptr<Open> open_;
    std::unique_ptr<Reader> reader_;
};

// Each layout worked out by hand from the extents: part 1 (3, 4, 5) has
// 2 x 3 x 4 = 24 elements from slot (2, 2, 2); the plane (1, 3, 2) has 6
// slots and no element; (4, 1, 3) has no cell and gives element requests
// nothing; (2, 2, 2) has one element at slot (2, 2, 2).
TEST_F(Layouts, EveryRequestAsWorkedOutFromTheExtents) {
    const std::int64_t N = kSlots + kNodes;
    expect_layout(r(), {QVRES_NODE_INTEGERS, 35, 1},
                  {N, 1, every_slot(1), kSlots, kNodes, 1, QVRES_AT_NODES});
    expect_layout(r(), {QVRES_DISPLACEMENTS, 0, 0},
                  {3 * N, 3, every_slot(3), 3 * kSlots, kNodes, 3, QVRES_AT_NODES});
    expect_layout(r(), {QVRES_ELEMENT_INTEGERS, kMaterialNumber, 1},
                  {24 + 1 + kElements, 1,
                   {{1, 0, {2, 3, 4}, {2, 2, 2}, true}, {4, 24, {1, 1, 1}, {2, 2, 2}, true}},
                   25, kElements, 1, QVRES_AT_ELEMENTS});
    expect_layout(r(), {QVRES_SUBLAYER_INTEGERS, kLayer, -2},
                  {24 + 6 + 1 + kElements, 1,
                   {{1, 0, {2, 3, 4}, {2, 2, 2}, true},
                    {2, 24, {1, 3, 2}, {1, 1, 1}, false},
                    {4, 30, {1, 1, 1}, {2, 2, 2}, true}},
                   31, kElements, 1, QVRES_AT_ELEMENTS});
    // Two reported materials and the element's own value per position.
    expect_layout(r(), {QVRES_ELEMENT_REALS, kStrain, 1},
                  {(24 + 6 + 1) * 3 + kElements, 3,
                   {{1, 0, {2, 3, 4}, {2, 2, 2}, true},
                    {2, 72, {1, 3, 2}, {1, 1, 1}, false},
                    {4, 90, {1, 1, 1}, {2, 2, 2}, true}},
                   93, kElements, 1, QVRES_AT_ELEMENTS});
    for (const qvres_values v : {QVRES_ELEMENT_INTEGERS_ALL_SLOTS, QVRES_ELEMENT_REALS_ALL_SLOTS})
        expect_layout(r(), {v, v == QVRES_ELEMENT_REALS_ALL_SLOTS ? kStrain : kMaterialNumber, 1},
                      {kSlots + kElements, 1, every_slot(1), kSlots, kElements, 1, QVRES_AT_ELEMENTS});
    expect_layout(r(), {QVRES_MATERIAL_FRACTIONS, 0, 1},
                  {25, 1, {{1, 0, {2, 3, 4}, {2, 2, 2}, true}, {4, 24, {1, 1, 1}, {2, 2, 2}, true}},
                   25, 0, 1, QVRES_AT_ELEMENTS});
}

// Every value stands where the layout says: the value at block b, position
// (a, bb, c) from its origin, column m, is the stored value of that slot
// and of the material the column names (the reported ones, then 0 for the
// own value); the unstructured values follow at unstructured_first.
template <class T>
void expect_values_where_laid_out(qvres_reader* r, const qvres_request& q,
                                  const std::vector<std::int32_t>& columns = {0}) {
    qvres_layout l{};
    ASSERT_EQ(qvres_get_layout(r, &q, &l, nullptr), QVRES_OK);
    std::vector<T> values(std::size_t(l.values));
    qvres_error error{};
    qvres_status st;
    if constexpr (std::is_same_v<T, float>)
        st = qvres_read_float(r, &q, values.data(), l.values, &error);
    else
        st = qvres_read_int32(r, &q, values.data(), l.values, &error);
    ASSERT_EQ(st, QVRES_OK) << error.message;
    std::vector<std::int32_t> materials(std::size_t(l.columns));
    for (std::int64_t c = 0; c < l.columns; ++c)
        ASSERT_EQ(qvres_get_layout_column(r, &q, c, &materials[std::size_t(c)], nullptr), QVRES_OK);
    EXPECT_EQ(materials, columns);
    std::int32_t none = -7;
    EXPECT_EQ(qvres_get_layout_column(r, &q, l.columns, &none, nullptr), QVRES_E_ARGUMENT);
    for (std::int64_t b = 0; b < l.blocks; ++b) {
        qvres_layout_block lb{};
        ASSERT_EQ(qvres_get_layout_block(r, &q, b, &lb, nullptr), QVRES_OK);
        std::int64_t at = lb.first;
        for (std::int64_t i = 0; i < lb.extent[0]; ++i)
            for (std::int64_t j = 0; j < lb.extent[1]; ++j)
                for (std::int64_t k = 0; k < lb.extent[2]; ++k)
                    for (std::int64_t c = 0; c < l.columns; ++c, ++at) {
                        const std::int64_t s = slot_of(lb.part - 1, lb.origin[0] + i, lb.origin[1] + j,
                                                       lb.origin[2] + k);
                        const std::int32_t m = materials[std::size_t(c)];
                        const double want = std::is_same_v<T, float> ? 100.0 * s + (m == 0 ? 99 : m) : 1000.0 + s;
                        ASSERT_EQ(double(values[std::size_t(at)]), want)
                            << "part " << lb.part << " slot " << s << " column " << c;
                    }
    }
    for (std::int64_t u = 0; u < l.unstructured; ++u)
        EXPECT_EQ(double(values[std::size_t(l.unstructured_first + u)]), 50000.0 + u) << "unstructured " << u;
}

TEST_F(Layouts, ValuesStandWhereTheLayoutSays) {
    expect_values_where_laid_out<std::int32_t>(r(), {QVRES_NODE_INTEGERS, 35, 1});
    expect_values_where_laid_out<std::int32_t>(r(), {QVRES_ELEMENT_INTEGERS, kMaterialNumber, 1});
    expect_values_where_laid_out<std::int32_t>(r(), {QVRES_ELEMENT_INTEGERS_ALL_SLOTS, kMaterialNumber, 1});
    expect_values_where_laid_out<std::int32_t>(r(), {QVRES_SUBLAYER_INTEGERS, kLayer, -2});
    expect_values_where_laid_out<float>(r(), {QVRES_ELEMENT_REALS, kStrain, 1}, {1, 3, 0});
    expect_values_where_laid_out<float>(r(), {QVRES_ELEMENT_REALS_ALL_SLOTS, kStrain, 1});  // own values
}

// The header pair is what the file stores before the values (here the
// variable and the part); no value query writes it (ValuesStandWhereTheLayoutSays).
TEST_F(Layouts, HeaderPairIsAQueryOfItsOwn) {
    const qvres_request node{QVRES_NODE_INTEGERS, 35, 1};
    const struct {
        qvres_request q;
        std::int32_t pair[2];
    } cases[] = {{node, {35, 1}},
                 {{QVRES_SUBLAYER_INTEGERS, kLayer, -2}, {kLayer, -2}},
                 {{QVRES_ELEMENT_INTEGERS_ALL_SLOTS, kMaterialNumber, 1}, {kMaterialNumber, 1}},
                 {{QVRES_ELEMENT_REALS, kStrain, 1}, {kStrain, 1}},
                 {{QVRES_ELEMENT_REALS_ALL_SLOTS, kStrain, 1}, {kStrain, 1}}};
    std::int32_t pair[2] = {-7, -7};
    float real_pair[2] = {-7.0f, -7.0f};
    qvres_error error{};
    for (const auto& c : cases) {
        const bool integer = qvtest::is_integer(c.q.values);
        ASSERT_EQ(integer ? qvres_read_header_int32(r(), &c.q, pair, &error)
                          : qvres_read_header_float(r(), &c.q, real_pair, &error),
                  QVRES_OK)
            << error.message;
        for (int w = 0; w < 2; ++w)
            EXPECT_EQ(integer ? double(pair[w]) : double(real_pair[w]), double(c.pair[w])) << c.q.values;
    }
    // Requests without a pair, of the other type, or of no stored array.
    const qvres_request displacements{QVRES_DISPLACEMENTS, 0, 0}, fractions{QVRES_MATERIAL_FRACTIONS, 0, 1},
        absent{QVRES_NODE_INTEGERS, 36, 1}, strain{QVRES_ELEMENT_REALS, kStrain, 1};
    EXPECT_EQ(qvres_read_header_float(r(), &displacements, real_pair, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_read_header_float(r(), &fractions, real_pair, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_read_header_int32(r(), &strain, pair, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_read_header_float(r(), &node, real_pair, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_read_header_int32(r(), &absent, pair, &error), QVRES_E_NOT_STORED);
    EXPECT_EQ(qvres_read_header_int32(r(), &node, nullptr, nullptr), QVRES_E_ARGUMENT);
}

// ---- Where a damaged value array says it was damaged ----------------------

std::vector<std::uint8_t> load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
std::int64_t length_at(const std::vector<std::uint8_t>& f, std::int64_t at) {
    const std::uint8_t* p = f.data() + at;
    return std::int64_t(std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]);
}

// The offset of the payload record of element array `index` (0-based among
// the arrays of "<Element>"), walking the records from the section's tag:
// each single-form array is a [count, length] record and a payload record.
std::int64_t payload_record(const std::vector<std::uint8_t>& f, std::int64_t section, int index) {
    std::int64_t at = section + length_at(f, section) + 8;  // past the tag record
    for (int a = 0;; ++a) {
        at += length_at(f, at) + 8;  // the [count, length] record
        if (a == index) return at;
        at += length_at(f, at) + 8;
    }
}

TEST(DamagedValues, TheMessageNamesFileSectionArrayAndByteOffset) {
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "file cut inside the payload" : "checksum of the stream spoilt");
        TempDir dir;
        qvw::CycleFileLayout layout;
        write_analysis(dir, &layout);
        const std::string file = dir.file("lay_7.qvres");
        std::vector<std::uint8_t> bytes = load(file);
        // Multi-material strain is the second array of "<Element>".
        const std::int64_t at = payload_record(bytes, layout.of(qvw::CycleSection::Element).begin, 1);
        const std::int64_t length = length_at(bytes, at);
        ASSERT_GT(length, 8);
        if (cut)
            bytes.resize(std::size_t(at + 4 + length / 2));
        else
            bytes[std::size_t(at + 4 + length - 1)] ^= 0x5A;  // the last byte of its Adler-32
        save(file, bytes);

        Open open(dir.path());
        ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
        Reader reader(open.a, 0);
        ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
        const qvres_request strain{QVRES_ELEMENT_REALS, kStrain, 1};
        std::vector<float> values(std::size_t((24 + 6 + 1) * 3 + kElements), -7.0f);
        qvres_error error{};
        EXPECT_EQ(qvres_read_float(reader.r, &strain, values.data(), std::int64_t(values.size()), &error),
                  QVRES_E_DAMAGED);
        const std::string message = error.message;
        EXPECT_NE(message.find("lay_7.qvres"), std::string::npos) << message;
        EXPECT_NE(message.find("<Element>"), std::string::npos) << message;
        EXPECT_NE(message.find("variable 54, part 1"), std::string::npos) << message;
        EXPECT_NE(message.find("at byte " + std::to_string(at)), std::string::npos) << message;
        EXPECT_EQ(values[0], -7.0f) << "a failed read wrote values";
        // The array before it is intact and says nothing of damage.
        const qvres_request material{QVRES_ELEMENT_INTEGERS, kMaterialNumber, 1};
        std::vector<std::int32_t> ints(std::size_t(25 + kElements));
        EXPECT_EQ(qvres_read_int32(reader.r, &material, ints.data(), std::int64_t(ints.size()), &error), QVRES_OK)
            << error.message;
    }
}

}  // namespace
