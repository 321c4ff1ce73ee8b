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
    std::vector<DirectoryEntrySpec> entries;
    std::optional<Floats> displacements;
    // Spoils the stream of n of its values from `first` (all when n is 0).
    bool spoil(qvw::Bytes& file, std::size_t first, std::size_t n) const {
        if (displacements) return spoil_stream(file, *displacements, first, n);
        const DirectoryEntrySpec& e = entries.front();
        return e.ints.empty() ? spoil_stream(file, e.reals, first, n) : spoil_stream(file, e.ints, first, n);
    }
};

std::vector<Target> targets() {
    const auto ints = ramp<std::int32_t>(31, 1);  // 2 + 29 nodes, or 2 + 27 slots + 2
    const auto values = ramp<float>(31, 1);
    return {{CycleSection::Node, {DirectoryEntrySpec::integer(1, 30, 1, ints)}, {}},
            {CycleSection::Node, {DirectoryEntrySpec::real(2, 31, 1, values)}, {}},
            {CycleSection::Element, {DirectoryEntrySpec::integer(-1, 40, 1, ints)}, {}},
            {CycleSection::Element, {DirectoryEntrySpec::real(-2, 41, 1, values)}, {}},
            {CycleSection::Displacement, {}, ramp<float>(87, 1)}};  // 3 x 29
}

class DamagedCycle : public ExtractTest {
protected:
    // Every getter, in both modes: true when none answered; `call` checks
    // that none wrote into the caller's array.
    bool nothing_answered() {
        bool none = displacements(29).empty();
        none &= call(int_node_values, 30, 1, 31).empty();
        none &= call(float_node_values, 31, 1, 31).empty();
        for (const std::int32_t mode : {0, 1}) {
            mode_ = mode;
            none &= call(int_elem_values, 40, 1, 31).empty();
            none &= call(float_elem_values, 41, 1, 31).empty();
        }
        mode_ = 0;
        return none && call(layer_int_elem_values, 40, 1, 31).empty();
    }
};

TEST_F(DamagedCycle, SectionCutAtAnyByteOrStreamCorrupt) {
    load(damaged_model());
    for (const bool chunked : {false, true})
        for (const Target& t : targets()) {
            SCOPED_TRACE(testing::Message() << "section " << int(t.section) << ", chunked " << chunked);
            qvw::CycleFileSpec desc = cycle(damaged_model(), t.entries);
            desc.header = {1, 1, 1, 1, 0, 1, chunked, chunked};
            desc.chunk_size = 7;
            desc.displacements = t.displacements;
            desc.order = {CycleSection::Model, t.section};
            qvw::CycleFileLayout layout;
            qvw::Bytes bytes = qvw::write_cycle_file(desc, layout).bytes();
            ASSERT_TRUE(open_bytes(bytes));
            ASSERT_FALSE(nothing_answered());  // intact, its getter answers
            // Cut from just after the section's tag record (4 + 50 + 4 bytes).
            const auto& extent = layout.of(t.section);
            for (std::int64_t cut = extent.begin + 58; cut < extent.end; ++cut) {
                ASSERT_TRUE(open_bytes(qvw::Bytes(bytes.begin(), bytes.begin() + cut)));
                ASSERT_TRUE(nothing_answered()) << "cut at " << cut << " of " << extent.end;
            }
            // The Adler-32 trailer of the whole array, or of its second chunk.
            ASSERT_TRUE(t.spoil(bytes, chunked ? 7 : 0, chunked ? 7 : 0));
            ASSERT_TRUE(open_bytes(bytes));
            EXPECT_TRUE(nothing_answered()) << "corrupt stream";
        }
}

}  // namespace
