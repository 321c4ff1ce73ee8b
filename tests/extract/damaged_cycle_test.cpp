// Damaged cycle files under every value getter: an array section cut at
// any byte, and a corrupt zlib stream, in both framings. Every query must
// fail and leave the caller's array as it was; run under the sanitizers
// this also shows that nothing is read past what the file held.
#include <algorithm>
#include <optional>

#include "extract/element_values.h"
#include "extract/extract_fixture.h"
#include "extract/node_values.h"

namespace {

using namespace qvtest;
using namespace qv::extract;
using qvw::CycleSection;

// 3 x 3 x 3 block, two unstructured elements and two unstructured nodes:
// N = 29 nodes, T = 27 slots.
Model damaged_model() {
    Model m;
    m.blocks = {{3, 3, 3}};
    m.unstructured_elements = 2;
    m.unstructured_nodes = 2;
    return m;
}

// One array per file, alone in its section.
struct Target {
    CycleSection section;
    std::size_t values;
    std::vector<DirectoryEntrySpec> entries;
    std::optional<std::vector<float>> displacements;
    // The zlib stream of n of its values from `first`, as the file holds it.
    qvw::Bytes stream(std::size_t first, std::size_t n) const {
        if (displacements) return qvw::compress_values(displacements->data() + first, n);
        const auto& e = entries.front();
        return e.ints.empty() ? qvw::compress_values(e.reals.data() + first, n)
                              : qvw::compress_values(e.ints.data() + first, n);
    }
};

std::vector<Target> targets() {
    const auto ints = ramp<std::int32_t>(31, 1);  // 2 + 29 nodes, or 2 + 27 slots + 2
    const auto values = ramp<float>(31, 1);
    return {{CycleSection::Node, 31, {DirectoryEntrySpec::integer(1, 30, 1, ints)}, {}},
            {CycleSection::Node, 31, {DirectoryEntrySpec::real(2, 31, 1, values)}, {}},
            {CycleSection::Element, 31, {DirectoryEntrySpec::integer(-1, 40, 1, ints)}, {}},
            {CycleSection::Element, 31, {DirectoryEntrySpec::real(-2, 41, 1, values)}, {}},
            {CycleSection::Displacement, 87, {}, ramp<float>(87, 1)}};  // 3 x 29
}

class DamagedCycle : public ExtractTest {
protected:
    qvw::Bytes file(const Target& t, const std::vector<std::int32_t>& header,
                    qvw::CycleFileLayout& layout) const {
        qvw::CycleFileSpec desc = cycle(damaged_model(), t.entries);
        desc.header = header;
        desc.chunk_size = 7;
        desc.displacements = t.displacements;
        desc.order = {CycleSection::Model, t.section};
        return qvw::write_cycle_file(desc, layout).bytes();
    }

    // Every getter, in both modes: true when none answered and no caller
    // array was written.
    static bool nothing_answered() {
        bool none = true;
        std::vector<float> xyz(3 * 29 + 1, kUntouched);
        none &= node_displacements(xyz.data()) == -1 &&
                std::all_of(xyz.begin(), xyz.end(), [](float v) { return v == kUntouched; });
        none &= fails(call(int_node_values, 30, 1, 32));
        none &= fails(call(float_node_values, 31, 1, 32));
        for (const std::int32_t mode : {0, 1}) {
            qv::model::store().extraction_mode = mode;
            none &= fails(call(int_elem_values, 40, 1, 32));
            none &= fails(call(float_elem_values, 41, 1, 32));
        }
        qv::model::store().extraction_mode = 0;
        none &= fails(call(layer_int_elem_values, 40, 1, 32));
        return none;
    }
};

const std::vector<std::int32_t> kSingle = {1, 1, 1, 1, 0, 1};
const std::vector<std::int32_t> kChunked = {1, 1, 1, 1, 0, 1, 1, 1};

TEST_F(DamagedCycle, ArraySectionCutAtAnyByte) {
    load(damaged_model());
    for (const auto& header : {kSingle, kChunked})
        for (const Target& t : targets()) {
            qvw::CycleFileLayout layout;
            const qvw::Bytes whole = file(t, header, layout);
            const auto& extent = layout.of(t.section);
            ASSERT_TRUE(open_bytes(whole));
            ASSERT_FALSE(nothing_answered());  // intact, its getter answers
            // From just after the section's tag record (4 + 50 + 4 bytes).
            for (std::int64_t cut = extent.begin + 58; cut < extent.end; ++cut) {
                ASSERT_TRUE(open_bytes(qvw::Bytes(whole.begin(), whole.begin() + cut)));
                ASSERT_TRUE(nothing_answered())
                    << "section " << int(t.section) << ", " << header.size() << " words, cut at "
                    << cut << " of " << extent.end;
            }
        }
}

TEST_F(DamagedCycle, CorruptStream) {
    load(damaged_model());
    for (const auto& header : {kSingle, kChunked})
        for (const Target& t : targets()) {
            qvw::CycleFileLayout layout;
            qvw::Bytes bytes = file(t, header, layout);
            // The Adler-32 trailer of the whole array, or of its second chunk.
            const bool chunked = header.size() >= 7;
            const qvw::Bytes stream = chunked ? t.stream(7, 7) : t.stream(0, t.values);
            const auto at = std::search(bytes.begin(), bytes.end(), stream.begin(), stream.end());
            ASSERT_NE(at, bytes.end());
            *(at + static_cast<std::ptrdiff_t>(stream.size()) - 1) ^= 0xFF;
            ASSERT_TRUE(open_bytes(bytes));
            EXPECT_TRUE(nothing_answered()) << int(t.section) << ", " << header.size() << " words";
        }
}

}  // namespace
