// Reading base files: layout levels, sections, the node-list rebuild, and
// damaged files.
#include "format/base_file.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/element_kinds.h"
#include "model/part_queries.h"
#include "runtime/alloc.h"
#include "support/allocation_limit.h"
#include "support/analysis_files.h"
#include "support/record_fixture.h"
#include "writer/base_file.h"

namespace qv::format {
namespace {

using qvw::BaseFileSpec;
using qvw::PartSpec;

// Allocations above 1 MiB would end the process: a count the file cannot
// hold must be refused before anything is reserved for it.
class BaseFile : public ::testing::Test {
protected:
    void SetUp() override { runtime::set_allocation_limit_for_testing(1 << 20); }
    void TearDown() override { runtime::set_allocation_limit_for_testing(0); }
    bool load(const BaseFileSpec& desc) { return load_bytes(qvw::write_base_file(desc).bytes()); }
    // Reads the bytes into a fresh analysis, keeping the reason and the path.
    bool load_bytes(const qvw::Bytes& bytes) {
        qvtest::RecordFile f(bytes);
        a_ = model::Analysis{};
        const bool read = read_base_file(f.reader(), a_, tags_found_);
        reason_ = f.reader().reason();
        path_ = f.path();
        return read;
    }
    // Whether the reason names the file and the section it was read in.
    bool reason_names(const std::string& section) const {
        return reason_.rfind(path_ + ": " + section + ": ", 0) == 0;
    }
    model::View view() const { return {a_, a_.counts, cycle_, true}; }
    std::array<std::int32_t, 5> units_and_symmetry() const {
        return {a_.unit_codes[0], a_.unit_codes[1], a_.unit_codes[2], a_.symmetry[0], a_.symmetry[1]};
    }

    model::Analysis a_;
    model::CycleModel cycle_;
    bool tags_found_ = false;
    std::string reason_, path_;
};

TEST_F(BaseFile, LayoutLevelOneHasDefaultsAndNamesOnly) {
    BaseFileSpec desc = qvtest::small_model();
    desc.header = {1, 1};
    ASSERT_TRUE(load(desc)) << reason_;
    EXPECT_EQ(units_and_symmetry(), (std::array<std::int32_t, 5>{3, 3, 3, 3, 0}));
    EXPECT_EQ(a_.pair_count, 0);
    EXPECT_FALSE(a_.numbering.element_numbers.allocated());
    // Without numbering the maps are the identity.
    EXPECT_EQ(model::element_position(a_, 2), 2);
    EXPECT_EQ(model::element_position(a_, 3), -1);
    EXPECT_EQ(a_.materials.count, 2);
    EXPECT_EQ(a_.materials.names(1).trimmed(), "STEEL");
    EXPECT_FALSE(a_.materials.ids.allocated());
}

TEST_F(BaseFile, VersionFollowsLayoutAndMaterialLevel) {
    BaseFileSpec desc = qvtest::small_model();
    for (const auto& [header, release, version] :
         {std::tuple<std::vector<std::int32_t>, std::int32_t, std::int32_t>{{5, 1}, 0, 140},
          {{4, 4}, 0, 140}, {{4, 2}, 0, 130}, {{2, 1}, 0, 120}, {{1, 1}, 0, 120}, {{6, 1}, 15020, 150}}) {
        desc.header = header;
        desc.release = release;
        ASSERT_TRUE(load(desc)) << reason_;
        EXPECT_EQ(a_.file_version, version) << header[0] << "," << header[1];
    }
}

TEST_F(BaseFile, NodeListIsRebuiltInFirstUseOrder) {
    BaseFileSpec desc;
    desc.parts.push_back(PartSpec::unstructured("P", {1}));
    desc.parts.back().node_ids = {1, 2, 3, 4, 5, 6, 7};
    desc.connectivity = {7, 3, 7, 0, 5, 0, 0, 0};
    desc.coordinates.assign(3 * 7, 0.0f);
    desc.element_types = {1};
    ASSERT_TRUE(load(desc)) << reason_;
    const auto& ids = a_.parts(1).node_ids;
    EXPECT_EQ(std::vector<std::int32_t>(ids.begin(), ids.end()), (std::vector<std::int32_t>{7, 3, 5}));
    EXPECT_EQ(a_.parts(1).nodes, 3);

    // 35000 elements on one row: the list holds at most the 7 nodes, never
    // room for 8 per element (above the fixture's allocation limit).
    desc.parts.back().element_ids.assign(35000, 1);
    ASSERT_TRUE(load(desc)) << reason_;
    EXPECT_EQ(a_.parts(1).nodes, 3);
}

// Layout level 7, or no "<Parts>": no parts, the records after still read.
// Without any section tag the file reads, but says it found none.
TEST_F(BaseFile, NoPartsAtLevelSevenOrWithoutTheSection) {
    for (const bool level_seven : {true, false}) {
        BaseFileSpec desc = qvtest::small_model();
        if (level_seven) desc.header = {7, 1};
        desc.parts_section = level_seven;
        ASSERT_TRUE(load(desc)) << reason_;
        EXPECT_TRUE(tags_found_);
        std::int32_t n = -1;
        EXPECT_EQ(model::num_structured_parts(view(), n), 1);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(a_.parts.size(), 0);
        EXPECT_EQ(units_and_symmetry(), (std::array<std::int32_t, 5>{1, 3, 3, 1, 2}));
        EXPECT_EQ(a_.materials.count, 2);
    }
    BaseFileSpec bare = qvtest::small_model();
    bare.parts_section = bare.materials_section = false;
    ASSERT_TRUE(load(bare)) << reason_;
    EXPECT_FALSE(tags_found_);
    EXPECT_EQ(a_.unit_codes[0], 1);
}

TEST_F(BaseFile, SectionsMayComeInAnyOrder) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {4, 1, 2, 3};
    desc.order = {qvw::BaseSection::ParallelTaskData, qvw::BaseSection::Materials,
                  qvw::BaseSection::Parts};
    ASSERT_TRUE(load(desc)) << reason_;
    EXPECT_EQ(a_.materials.count, 2);
    EXPECT_EQ(a_.parallel_task_info.size(), 4);
    EXPECT_EQ(a_.parallel_task_info(4), 3);
    EXPECT_EQ(a_.parts(2).nodes, 12);
}

// ---- Damaged base files ------------------------------------------------

TEST_F(BaseFile, TruncatedAnywhereNeverLoadsHalfAModel) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {1, 2, 3};
    const qvw::Bytes whole = qvw::write_base_file(desc).bytes();
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const bool loaded = load_bytes(qvw::Bytes(whole.begin(), whole.begin() + cut));
        if (loaded && a_.parts.size() > 0) {
            // Whatever loaded is whole: lists cover the counts they serve.
            EXPECT_GE(a_.connectivity.size(), 16) << cut;
            EXPECT_GE(a_.coordinates.size(), 72) << cut;
        }
        if (!loaded) {
            EXPECT_EQ(reason_.rfind(path_ + ": ", 0), 0u) << cut << ": " << reason_;
        }
    }
}

TEST_F(BaseFile, InconsistentCountsFailTheLoad) {
    const std::string parts = "<Parts>", materials = "<Materials>";
    std::vector<std::pair<std::string, std::function<void(BaseFileSpec&)>>> damage = {
        {parts, [](BaseFileSpec& d) { d.structured_count = 1000000; }},     // parts that do not fit in the file
        {parts, [](BaseFileSpec& d) { d.connectivity[3] = 25; }},            // a node beyond the coordinates held
        {parts, [](BaseFileSpec& d) { d.parts[1].element_ids = {1, 3}; }},   // a row beyond the connectivity
        {parts, [](BaseFileSpec& d) { d.parts[1].stored_elements = 5; }},    // more elements than the list holds
        {materials, [](BaseFileSpec& d) { d.material_count = 3; }},          // more materials than records
        {parts, [](BaseFileSpec& d) { d.parts[0].i = d.parts[0].j = 70000; }},  // more nodes than can be counted
        {parts, [](BaseFileSpec& d) { d.parts[0].k = 0; }},
    };
    for (const std::int32_t lie : {0x7fffffff, 0x40000000, 0x20000001}) {
        damage.push_back({materials, [lie](BaseFileSpec& d) { d.material_count = lie; }});
        damage.push_back({parts, [lie](BaseFileSpec& d) { d.unstructured_count = lie; }});
    }
    for (std::size_t i = 0; i < damage.size(); ++i) {
        BaseFileSpec desc = qvtest::small_model();
        damage[i].second(desc);
        EXPECT_FALSE(load(desc)) << i;
        EXPECT_TRUE(reason_names(damage[i].first)) << i << ": " << reason_;
    }
    // The header word count (the value of the first record) lies.
    qvw::Bytes bytes = qvw::write_base_file(qvtest::small_model()).bytes();
    bytes[4] = 0x7f;
    EXPECT_FALSE(load_bytes(bytes));
    EXPECT_TRUE(reason_names("header")) << reason_;
}

TEST_F(BaseFile, CorruptParallelTaskStreamLeavesNoInformation) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {5, 6, 7};
    qvw::Bytes bytes = qvw::write_base_file(desc).bytes();
    bytes[bytes.size() - 8] ^= 0xff;  // inside the last payload's stream
    ASSERT_TRUE(load_bytes(bytes)) << reason_;
    EXPECT_FALSE(a_.parallel_task_info.allocated());
    EXPECT_EQ(a_.materials.count, 2);
}

}  // namespace
}  // namespace qv::format
