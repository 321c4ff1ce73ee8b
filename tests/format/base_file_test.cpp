// Loading base files: layout levels, sections, the node-list rebuild, and
// damaged files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

#include "api/naming.h"
#include "model/attributes.h"
#include "model/element_kinds.h"
#include "model/part_queries.h"
#include "model/store.h"
#include "runtime/alloc.h"
#include "runtime/platform.h"
#include "support/analysis_files.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"

namespace {

using qv::model::store;
using qvw::BaseFileSpec;
using qvw::PartSpec;

// Allocations above 1 MiB would end the process: a count the file cannot
// hold must be refused before anything is reserved for it.
class BaseFile : public ::testing::Test {
protected:
    void SetUp() override { qv::runtime::set_allocation_limit_for_testing(1 << 20); }
    void TearDown() override { qv::runtime::set_allocation_limit_for_testing(0); }
    bool load(const BaseFileSpec& desc) {
        return qv::api::load_base_file(qvtest::write_base(dir_, desc));
    }
    bool load_bytes(const qvw::Bytes& bytes) {
        qvw::FileWriter w;
        w.raw(bytes);
        w.save(dir_.file("run.qvres_base"));
        return qv::api::load_base_file(dir_.file("run_base.qvres"));
    }
    qvtest::TempDir dir_;
};

std::array<std::int32_t, 5> units_and_symmetry() {
    const auto& s = store();
    return {s.unit_codes[0], s.unit_codes[1], s.unit_codes[2], s.symmetry[0], s.symmetry[1]};
}

TEST_F(BaseFile, LayoutLevelOneHasDefaultsAndNamesOnly) {
    BaseFileSpec desc = qvtest::small_model();
    desc.header = {1, 1};
    ASSERT_TRUE(load(desc));
    const auto& s = store();
    EXPECT_EQ(units_and_symmetry(), (std::array<std::int32_t, 5>{3, 3, 3, 3, 0}));
    EXPECT_EQ(s.pair_count, 0);
    EXPECT_FALSE(s.numbering.element_numbers.allocated());
    // Without numbering the maps are the identity.
    EXPECT_EQ(qv::model::element_position(2), 2);
    EXPECT_EQ(qv::model::element_position(3), -1);
    EXPECT_EQ(s.material_count, 2);
    EXPECT_EQ(s.material_names(1).trimmed(), "STEEL");
    EXPECT_FALSE(s.material_ids.allocated());
}

TEST_F(BaseFile, VersionFollowsLayoutAndMaterialLevel) {
    BaseFileSpec desc = qvtest::small_model();
    for (const auto& [header, release, version] :
         {std::tuple<std::vector<std::int32_t>, std::int32_t, std::int32_t>{{5, 1}, 0, 140},
          {{4, 4}, 0, 140}, {{4, 2}, 0, 130}, {{2, 1}, 0, 120}, {{1, 1}, 0, 120}, {{6, 1}, 15020, 150}}) {
        desc.header = header;
        desc.release = release;
        ASSERT_TRUE(load(desc));
        EXPECT_EQ(store().file_version, version) << header[0] << "," << header[1];
    }
}

TEST_F(BaseFile, SmallModelFillsTheStore) {
    ASSERT_TRUE(load(qvtest::small_model()));
    const auto& s = store();
    EXPECT_TRUE(s.model_loaded);
    EXPECT_EQ(s.structured_parts, 1);
    EXPECT_EQ(s.unstructured_parts, 1);
    EXPECT_EQ(s.parts(1).elements, 2);  // (3-1)(2-1)(2-1)
    EXPECT_EQ(s.parts(1).nodes, 12);
    EXPECT_EQ(s.part_names(1).trimmed(), "BLOCK");
    EXPECT_EQ(s.parts(2).elements, 2);
    EXPECT_EQ(s.parts(2).nodes, 12);  // rebuilt, not the stored 3
    EXPECT_EQ(s.node_count, 24);
    EXPECT_EQ(s.unit_codes[0], 1);
    EXPECT_EQ(s.symmetry[1], 2);
    EXPECT_EQ(s.kinds.count, 1);
    EXPECT_EQ(qv::model::element_position(20), 2);
    EXPECT_EQ(qv::model::element_position(15), 0);
    EXPECT_EQ(qv::model::node_position(124), 24);
    std::int32_t partner = 0;
    EXPECT_EQ(qv::model::pyramid_tet_partner(20, partner), 1);
    EXPECT_EQ(partner, 10);
    EXPECT_EQ(s.material_ids(2), -1);
    EXPECT_EQ(s.body_names(1).trimmed(), "BODY-A");
    EXPECT_FLOAT_EQ(s.poisson_ratios(1), 0.3f);
}

TEST_F(BaseFile, NodeListIsRebuiltInFirstUseOrder) {
    BaseFileSpec desc;
    desc.parts.push_back(PartSpec::unstructured("P", {1}));
    desc.parts.back().node_ids = {1, 2, 3, 4, 5, 6, 7};
    desc.connectivity = {7, 3, 7, 0, 5, 0, 0, 0};
    desc.coordinates.assign(3 * 7, 0.0f);
    desc.element_types = {1};
    ASSERT_TRUE(load(desc));
    const auto& ids = store().parts(1).node_ids;
    EXPECT_EQ(std::vector<std::int32_t>(ids.begin(), ids.end()), (std::vector<std::int32_t>{7, 3, 5}));
    EXPECT_EQ(store().parts(1).nodes, 3);

    // 35000 elements on one row: the list holds at most the 7 nodes, never
    // room for 8 per element (above the fixture's allocation limit).
    desc.parts.back().element_ids.assign(35000, 1);
    ASSERT_TRUE(load(desc));
    EXPECT_EQ(store().parts(1).nodes, 3);
}

// Layout level 7, or no "<Parts>": no parts, the records after still read.
TEST_F(BaseFile, NoPartsAtLevelSevenOrWithoutTheSection) {
    for (const bool level_seven : {true, false}) {
        BaseFileSpec desc = qvtest::small_model();
        if (level_seven) desc.header = {7, 1};
        desc.parts_section = level_seven;
        ASSERT_TRUE(load(desc));
        std::int32_t n = -1;
        EXPECT_EQ(qv::model::num_structured_parts(n), 1);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(store().parts.size(), 0);
        EXPECT_EQ(units_and_symmetry(), (std::array<std::int32_t, 5>{1, 3, 3, 1, 2}));
        EXPECT_EQ(store().material_count, 2);
    }
}

TEST_F(BaseFile, SectionsMayComeInAnyOrder) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {4, 1, 2, 3};
    desc.order = {qvw::BaseSection::ParallelTaskData, qvw::BaseSection::Materials,
                  qvw::BaseSection::Parts};
    ASSERT_TRUE(load(desc));
    EXPECT_EQ(store().material_count, 2);
    EXPECT_EQ(store().parallel_task_info.size(), 4);
    EXPECT_EQ(store().parallel_task_info(4), 3);
    EXPECT_EQ(store().parts(2).nodes, 12);
}

TEST_F(BaseFile, ALoadReplacesEverythingOfThePreviousModel) {
    BaseFileSpec first = qvtest::small_model();
    first.parallel_section = true;
    first.parallel_info = {1, 2};
    ASSERT_TRUE(load(first));
    store().extraction_mode = 1;
    BaseFileSpec second;
    second.materials_section = false;
    ASSERT_TRUE(load(second));
    EXPECT_EQ(store().extraction_mode, 0);
    EXPECT_EQ(store().material_count, 0);
    EXPECT_FALSE(qv::model::has_parallel_task_info());
    EXPECT_EQ(store().parts.size(), 0);
}

TEST_F(BaseFile, LockFileRefusesTheLoad) {
    const std::string path = qvtest::write_base(dir_, qvtest::small_model());
    qvw::FileWriter().save(dir_.file("run.lock"));
    EXPECT_FALSE(qv::api::load_base_file(path));
    std::remove(dir_.file("run.lock").c_str());
    EXPECT_TRUE(qv::api::load_base_file(path));
    // The reader's own lock is gone again.
    EXPECT_FALSE(qv::platform::is_regular_file(dir_.file("run.lock")));
}

// ---- Damaged base files ------------------------------------------------

TEST_F(BaseFile, TruncatedAnywhereNeverLoadsHalfAModel) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {1, 2, 3};
    const qvw::Bytes whole = qvw::write_base_file(desc).bytes();
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const bool loaded = load_bytes(qvw::Bytes(whole.begin(), whole.begin() + cut));
        if (loaded && store().parts.size() > 0) {
            // Whatever loaded is whole: lists cover the counts they serve.
            EXPECT_GE(store().connectivity.size(), 16) << cut;
            EXPECT_GE(store().coordinates.size(), 72) << cut;
        }
    }
}

TEST_F(BaseFile, InconsistentCountsFailTheLoad) {
    std::vector<std::function<void(BaseFileSpec&)>> damage = {
        [](BaseFileSpec& d) { d.structured_count = 1000000; },     // parts that do not fit in the file
        [](BaseFileSpec& d) { d.connectivity[3] = 25; },            // a node beyond the coordinates held
        [](BaseFileSpec& d) { d.parts[1].element_ids = {1, 3}; },   // a row beyond the connectivity
        [](BaseFileSpec& d) { d.parts[1].stored_elements = 5; },    // more elements than the list holds
        [](BaseFileSpec& d) { d.material_count = 3; },              // more materials than records
        [](BaseFileSpec& d) { d.parts[0].i = d.parts[0].j = 70000; },  // more nodes than can be counted
        [](BaseFileSpec& d) { d.parts[0].k = 0; },
    };
    for (const std::int32_t lie : {0x7fffffff, 0x40000000, 0x20000001}) {
        damage.push_back([lie](BaseFileSpec& d) { d.material_count = lie; });
        damage.push_back([lie](BaseFileSpec& d) { d.unstructured_count = lie; });
    }
    for (std::size_t i = 0; i < damage.size(); ++i) {
        BaseFileSpec desc = qvtest::small_model();
        damage[i](desc);
        EXPECT_FALSE(load(desc)) << i;
        EXPECT_FALSE(store().model_loaded) << i;
    }
    // The header word count (the value of the first record) lies.
    qvw::Bytes bytes = qvw::write_base_file(qvtest::small_model()).bytes();
    bytes[4] = 0x7f;
    EXPECT_FALSE(load_bytes(bytes));
}

TEST_F(BaseFile, CorruptParallelTaskStreamLeavesNoInformation) {
    BaseFileSpec desc = qvtest::small_model();
    desc.parallel_section = true;
    desc.parallel_info = {5, 6, 7};
    qvw::Bytes bytes = qvw::write_base_file(desc).bytes();
    bytes[bytes.size() - 8] ^= 0xff;  // inside the last payload's stream
    ASSERT_TRUE(load_bytes(bytes));
    EXPECT_FALSE(qv::model::has_parallel_task_info());
    EXPECT_EQ(store().material_count, 2);
}

}  // namespace
