// Naming an analysis: base file and lock files from one path, the run
// prefix, the directory scan with its time sort, and selecting cycles.
#include <gtest/gtest.h>

#include <filesystem>

#include "api/naming.h"
#include "api/session.h"
#include "model/part_queries.h"
#include "model/store.h"
#include "runtime/file_units.h"
#include "runtime/platform.h"
#include "support/analysis_files.h"
#include "support/temp_dir.h"
#include "writer/cycle_file.h"

namespace {

using qv::model::store;

// A cycle file with its cycle number and time and the small model's sizes.
void write_cycle(const qvtest::TempDir& dir, const std::string& name, std::int32_t cycle,
                 float time) {
    qvw::CycleFileSpec desc;
    desc.header = {1};
    desc.cycle = cycle;
    desc.time = time;
    desc.structured_parts = {{3, 2, 2}};
    desc.unstructured_parts = 1;
    desc.unstructured_nodes = 12;
    desc.unstructured_elements = 2;
    qvw::write_cycle_file(desc).save(dir.file(name));
}

class Naming : public ::testing::Test {
protected:
    void SetUp() override { qv::api::startup(); }
    void TearDown() override { qv::api::clean_up(); }

    // The run "runA_cyc" with its newer-form base file and, with
    // `first_cycle`, its cycle file 1 (cycle 1, time 1).
    void write_run(bool first_cycle = true) {
        qvw::write_base_file(qvtest::small_model()).save(dir_.file("runA_cyc.qvres_base"));
        if (first_cycle) write_cycle(dir_, "runA_cyc_0000001.qvres", 1, 1.0f);
    }
    bool name(std::int32_t mode, const std::string& file) {
        return qv::api::set_base_filename(mode, dir_.file(file), dir_.path());
    }
    std::vector<std::int32_t> cycles() const {
        std::vector<std::int32_t> c;
        for (const auto& e : store().steps) c.push_back(e.cycle);
        return c;
    }
    qvtest::TempDir dir_;
};

TEST(RunNames, PrefixEndsAtTheSecondToLastUnderscore) {
    EXPECT_EQ(qv::api::run_prefix("runA_cyc_0000100"), "runA");
    EXPECT_EQ(qv::api::run_prefix("a_b_c_d"), "a_b");
    EXPECT_FALSE(qv::api::run_prefix("runA_0000100"));
    // The first character is never taken as an underscore.
    EXPECT_EQ(qv::api::run_prefix("_a_b"), std::nullopt);
    EXPECT_EQ(qv::api::run_prefix("__b"), std::nullopt);
    EXPECT_EQ(qv::api::run_prefix(""), std::nullopt);
}

TEST(RunNames, BaseFileCandidatesAndTheReadersLock) {
    qvtest::TempDir dir;
    const std::string cycle = dir.file("runA_cyc_0000100.qvres");
    EXPECT_TRUE(qv::api::base_names(cycle).base_file.empty());
    qvw::FileWriter().save(dir.file("runA_cyc_base.qvres"));
    EXPECT_EQ(qv::api::base_names(cycle).base_file, dir.file("runA_cyc_base.qvres"));
    qvw::FileWriter().save(dir.file("runA_cyc.qvres_base"));
    EXPECT_EQ(qv::api::base_names(cycle).base_file, dir.file("runA_cyc.qvres_base"));
    EXPECT_EQ(qv::api::base_names(cycle).lock_file, dir.file("runA_cyc.lock"));
    EXPECT_FALSE(qv::api::base_names(cycle).names_base_file);
    EXPECT_TRUE(qv::api::base_names(dir.file("runA_cyc_base.qvres")).names_base_file);
}

TEST(RunNames, OverlongPathsAreRefused) {
    EXPECT_TRUE(qv::api::file_name_part(std::string(400, 'a') + "/x_y_z.qvres"));
    EXPECT_FALSE(qv::api::file_name_part(std::string(600, 'a') + "/x_y_z.qvres"));
    EXPECT_FALSE(qv::api::file_name_part("/tmp/" + std::string(64, 'n') + ".qvres"));
    EXPECT_TRUE(qv::api::file_name_part("/tmp/" + std::string(63, 'n') + ".qvres"));
    EXPECT_FALSE(qv::api::file_name_part("/tmp/n." + std::string(31, 'e')));
    EXPECT_FALSE(qv::api::set_base_filename(1, std::string(600, 'a'), "/tmp"));
}

TEST_F(Naming, CyclesAreSortedByTimeWithTiesInScanOrder) {
    write_run(false);
    write_cycle(dir_, "runA_cyc_0000100.qvres", 100, 2.0f);
    write_cycle(dir_, "runA_cyc_0000050.qvres", 50, 1.0f);
    write_cycle(dir_, "runA_cyc_0000150.qvres", 150, 3.0f);
    write_cycle(dir_, "runA_cyc_0000151.qvres", 151, 3.0f);
    write_cycle(dir_, "runA_cyc_0000152.qvres", 152, 3.0f);
    ASSERT_TRUE(name(1, "runA_cyc_0000100.qvres"));
    ASSERT_EQ(store().steps.size(), 5u);
    EXPECT_EQ(store().steps[0].cycle, 50);
    EXPECT_EQ(store().steps[1].cycle, 100);
    // The three of time 3.0 in the order the directory lists them.
    std::vector<std::int32_t> listed;
    const auto listing = qv::platform::list_directory(dir_.path());
    for (const std::string& f : *listing)
        if (f.compare(0, 14, "runA_cyc_00001") == 0 && f.size() == 22 && f[14] == '5')
            listed.push_back(std::stoi(f.substr(9, 7)));
    const std::vector<std::int32_t> order = cycles();
    EXPECT_EQ(std::vector<std::int32_t>(order.begin() + 2, order.end()), listed);
    EXPECT_FLOAT_EQ(store().steps[4].time, 3.0f);
}

TEST_F(Naming, OnlyTheRunsUnlockedCycleFilesAreRegistered) {
    write_run();
    write_cycle(dir_, "runA_cyc_0000002.qvres", 2, 2.0f);
    write_cycle(dir_, "runA_cyc_0000003.QVRES", 3, 3.0f);     // extension case differs
    write_cycle(dir_, "runB_cyc_0000004.qvres", 4, 4.0f);     // another run
    write_cycle(dir_, "runA_cyc_0000005.qvres", 5, 5.0f);     // its solver still writes it
    qvw::FileWriter().save(dir_.file("runA_cyc_0000005.lock"));
    std::filesystem::create_directory(dir_.file("runA_cyc_0000006.qvres"));  // not a file
    qvw::FileWriter().raw({0, 0, 0, 4, 0}).save(dir_.file("runA_cyc_0000007.qvres"));  // damaged
    ASSERT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    EXPECT_EQ(cycles(), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(Naming, OlderFormBaseFileTakesNoStep) {
    // The older-form base file also ends in ".qvres" and carries the prefix.
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("runA_cyc_base.qvres"));
    for (int c = 1; c <= 4; ++c)
        write_cycle(dir_, "runA_cyc_000000" + std::to_string(c) + ".qvres", c, float(c));
    ASSERT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    std::int32_t steps = 0;
    ASSERT_EQ(qv::model::num_steps(steps), 1);
    ASSERT_EQ(steps, 4);
    for (std::int32_t k = 0; k < steps; ++k) {
        EXPECT_TRUE(qv::api::new_step(k)) << k;
        EXPECT_EQ(store().cycle_number, k + 1);
    }
    EXPECT_FALSE(qv::api::new_step(steps));
    EXPECT_FALSE(qv::api::new_step(-1));
}

TEST_F(Naming, UnderscoreBaseInTheDirectoryHidesNoCycle) {
    // Only the file's own name can make it an older-form base file.
    const std::string dir = dir_.file("plate_base");
    std::filesystem::create_directory(dir);
    qvw::write_base_file(qvtest::small_model()).save(dir + "/runA_cyc.qvres_base");
    qvw::write_cycle_file(qvw::CycleFileSpec{}).save(dir + "/runA_cyc_0000001.qvres");
    qvw::write_cycle_file(qvw::CycleFileSpec{}).save(dir + "/runA2.qvres");  // no underscore
    ASSERT_TRUE(qv::api::set_base_filename(1, dir + "/runA_cyc_0000001.qvres", dir));
    EXPECT_EQ(store().steps.size(), 2u);
}

TEST_F(Naming, ModesDecideWhatTheResultSays) {
    write_run();
    EXPECT_TRUE(name(0, "runA_cyc_0000001.qvres"));
    EXPECT_TRUE(store().steps.empty());
    EXPECT_FALSE(name(2, "runA_cyc_0000001.qvres"));
    EXPECT_TRUE(store().model_loaded);  // loaded all the same
    // Mode 1 with a directory that does not exist: loaded, no step.
    EXPECT_TRUE(qv::api::set_base_filename(1, dir_.file("runA_cyc_0000001.qvres"),
                                           dir_.file("nowhere")));
    EXPECT_TRUE(store().steps.empty());
    // A name with a single underscore loads but has no run prefix.
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("solo.qvres_base"));
    write_cycle(dir_, "solo_0000001.qvres", 1, 1.0f);
    EXPECT_FALSE(name(1, "solo_0000001.qvres"));
    EXPECT_TRUE(store().model_loaded);
    EXPECT_TRUE(name(0, "solo_0000001.qvres"));
}

TEST_F(Naming, LockFilesRefuseTheLoad) {
    write_run();
    qvw::FileWriter().save(dir_.file("runA_cyc_0000001.lock"));
    EXPECT_FALSE(name(1, "runA_cyc_0000001.qvres"));
    std::remove(dir_.file("runA_cyc_0000001.lock").c_str());
    qvw::FileWriter().save(dir_.file("runA_cyc.lock"));
    EXPECT_FALSE(name(1, "runA_cyc_0000001.qvres"));
    std::remove(dir_.file("runA_cyc.lock").c_str());
    EXPECT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    EXPECT_FALSE(qv::platform::is_regular_file(dir_.file("runA_cyc.lock")));
}

TEST_F(Naming, NodeCountIsAllNodesUntilACycleSaysOtherwise) {
    write_run();
    std::int32_t n = 0;
    ASSERT_TRUE(qv::api::set_base_filename(0, dir_.file("runA_cyc_base.qvres"), dir_.path()));
    ASSERT_EQ(qv::model::num_nodes(n), 1);
    EXPECT_EQ(n, 24);  // every coordinate triple
    // Naming a cycle file reads its "<Model>" section: the unstructured nodes.
    ASSERT_TRUE(name(0, "runA_cyc_0000001.qvres"));
    ASSERT_EQ(qv::model::num_nodes(n), 1);
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(qv::runtime::is_open(qv::runtime::unit::kResults));
}

TEST_F(Naming, NamingAnotherAnalysisClosesTheOpenCycle) {
    write_run();
    ASSERT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    ASSERT_TRUE(qv::api::new_step(0));
    ASSERT_GT(store().directory.size() + store().cycle_header.count(), 0);
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("other.qvres_base"));
    ASSERT_TRUE(qv::api::set_base_filename(0, dir_.file("other_base.qvres"), dir_.path()));
    // Nothing of the first analysis' cycle can be read against the new model.
    EXPECT_FALSE(qv::runtime::is_open(qv::runtime::unit::kResults));
    EXPECT_EQ(store().cycle_header.count(), 0);
}

}  // namespace
