// Naming an analysis: base file and lock files from one path, the run
// prefix, the directory scan with its time sort, and selecting cycles in
// the session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "api/discovery.h"
#include "api/naming.h"
#include "api/session.h"
#include "model/part_queries.h"
#include "runtime/platform.h"
#include "support/analysis_files.h"
#include "support/temp_dir.h"
#include "writer/cycle_file.h"

namespace {

using qv::api::scan_directory;
using qv::api::session;

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

std::vector<std::int32_t> cycles(const std::vector<qv::model::StepEntry>& steps) {
    std::vector<std::int32_t> c;
    for (const auto& e : steps) c.push_back(e.cycle);
    return c;
}

// The cycle numbers of the directory's "runA_cyc_<7 digits>.qvres" files in
// the order the platform lists them.
std::vector<std::int32_t> listed(const qvtest::TempDir& dir) {
    std::vector<std::int32_t> out;
    const auto names = qv::platform::list_directory(dir.path());
    for (const std::string& f : names.value())
        if (f.size() == 22 && f.compare(0, 9, "runA_cyc_") == 0)
            out.push_back(std::stoi(f.substr(9, 7)));
    return out;
}

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

// Time order, equal times in the order the directory lists the files; each
// file whose time is no number keeps its scan position, and the files
// scanned between two of them are sorted among themselves.
TEST(Discovery, CyclesAreSortedByTimeWithTiesInScanOrderAndNaNsSplitTheSort) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const std::vector<float>& times : {std::vector<float>{2, 1, 3, 3, 3, 3}, {5, nan, 4, 3, nan, 2, 1}}) {
        qvtest::TempDir dir;
        for (int c = 1; c <= int(times.size()); ++c)
            write_cycle(dir, "runA_cyc_000000" + std::to_string(c) + ".qvres", c, times[c - 1]);
        std::vector<std::int32_t> expected = listed(dir);
        const auto by_time = [&](int a, int b) { return times[a - 1] < times[b - 1]; };
        auto run = expected.begin();
        for (auto it = run; it != expected.end(); ++it)
            if (std::isnan(times[*it - 1])) {
                std::stable_sort(run, it, by_time);
                run = it + 1;
            }
        std::stable_sort(run, expected.end(), by_time);
        const qv::api::Registration found = scan_directory(dir.path(), qv::api::ScanRules{"runA"});
        EXPECT_TRUE(found.model_found);
        EXPECT_EQ(cycles(found.steps), expected);
        EXPECT_EQ(found.steps[5].file_name, dir.file("runA_cyc_000000" + std::to_string(expected[5]) + ".qvres"));
    }
}

TEST(Discovery, DroppingARepeatedCycleKeepsTheTableSorted) {
    // In scan order: cycle 7 (no time), 2 at 5 s, cycle 7 again, 3 at 1 s.
    // The repeat of 7 split the sort; dropped, 2 and 3 are sorted as one run.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    qv::api::Registration r;
    r.steps = {{7, nan, "a"}, {2, 5.0f, "b"}, {7, nan, "c"}, {3, 1.0f, "d"}};
    qv::api::order_steps(r, true);
    EXPECT_EQ(cycles(r.steps), (std::vector<std::int32_t>{7, 3, 2}));
    ASSERT_EQ(r.skipped.size(), 1u);
    EXPECT_EQ(r.skipped[0].path, "c");
    // Without the repeat dropped, the entries stay as scanned.
    r = {};
    r.steps = {{7, nan, "a"}, {2, 5.0f, "b"}, {7, nan, "c"}, {3, 1.0f, "d"}};
    qv::api::order_steps(r, false);
    EXPECT_EQ(cycles(r.steps), (std::vector<std::int32_t>{7, 2, 7, 3}));
}

TEST(Discovery, OnlyTheRunsUnlockedReadableCycleFilesAreRegistered) {
    qvtest::TempDir dir;
    write_cycle(dir, "runA_cyc_0000001.qvres", 1, 1.0f);
    write_cycle(dir, "runA_cyc_0000002.qvres", 2, 2.0f);
    write_cycle(dir, "runA_cyc_0000003.QVRES", 3, 3.0f);  // extension case differs
    write_cycle(dir, "runB_cyc_0000004.qvres", 4, 4.0f);  // another run
    write_cycle(dir, "runA_cyc_0000005.qvres", 5, 5.0f);  // its solver still writes it
    qvw::FileWriter().save(dir.file("runA_cyc_0000005.lock"));
    write_cycle(dir, "runA_cyc_0000008.qvres", 8, 8.0f);  // a dangling link locks too
    if (!qvtest::make_symlink(dir.file("nowhere"), dir.file("runA_cyc_0000008.lock")))
        std::filesystem::create_directory(dir.file("runA_cyc_0000008.lock"));  // no links here
    write_cycle(dir, "runA_cyc_base.qvres", 9, 9.0f);  // an older-form base file's name
    std::filesystem::create_directory(dir.file("runA_cyc_0000006.qvres"));  // not a file
    qvw::FileWriter().raw({0, 0, 0, 4, 0}).save(dir.file("runA_cyc_0000007.qvres"));  // damaged
    EXPECT_EQ(cycles(scan_directory(dir.path(), qv::api::ScanRules{"runA"}).steps), (std::vector<std::int32_t>{1, 2}));
    EXPECT_TRUE(scan_directory(dir.file("nowhere"), qv::api::ScanRules{"runA"}).steps.empty());

    // An underscore and "base" in the directory's name hide nothing; a file
    // without "<Model>" is registered with cycle 0 and does not count as one
    // with a model.
    const std::string sub = dir.file("plate_base");
    std::filesystem::create_directory(sub);
    qvw::CycleFileSpec no_model;
    no_model.order = {qvw::CycleSection::Node};
    qvw::write_cycle_file(no_model).save(sub + "/runA2.qvres");
    const qv::api::Registration found = scan_directory(sub, qv::api::ScanRules{"runA"});
    EXPECT_EQ(cycles(found.steps), (std::vector<std::int32_t>{0}));
    EXPECT_FALSE(found.model_found);
}

class Naming : public ::testing::Test {
protected:
    void TearDown() override { session() = qv::api::Session{}; }

    // The run "runA_cyc" with its newer-form base file and cycle file 1
    // (cycle 1, time 1).
    void write_run() {
        qvw::write_base_file(qvtest::small_model()).save(dir_.file("runA_cyc.qvres_base"));
        write_cycle(dir_, "runA_cyc_0000001.qvres", 1, 1.0f);
    }
    bool name(std::int32_t mode, const std::string& file) {
        return qv::api::set_base_filename(mode, dir_.file(file), dir_.path());
    }
    static const std::vector<qv::model::StepEntry>& steps() { return session().analysis.steps; }
    qvtest::TempDir dir_;
};

TEST_F(Naming, RegisteredStepsOpenInTimeOrder) {
    // The older-form base file also ends in ".qvres" and carries the prefix.
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("runA_cyc_base.qvres"));
    for (int c = 1; c <= 4; ++c)
        write_cycle(dir_, "runA_cyc_000000" + std::to_string(c) + ".qvres", c, float(5 - c));
    ASSERT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    std::int32_t count = 0;
    ASSERT_EQ(qv::model::num_steps(session().view(), count), 1);
    ASSERT_EQ(count, 4);
    for (std::int32_t k = 0; k < count; ++k) {
        EXPECT_TRUE(qv::api::new_step(k)) << k;
        EXPECT_EQ(session().cycle.model().cycle_number, 4 - k);
    }
    // Past the registered steps: the open fails and the model is invalid.
    EXPECT_FALSE(qv::api::new_step(count));
    EXPECT_FALSE(session().model_loaded);
    EXPECT_FALSE(qv::api::new_step(-1));
}

TEST_F(Naming, ModesDecideWhatTheResultSays) {
    write_run();
    session().extraction_mode = 1;
    EXPECT_TRUE(name(0, "runA_cyc_0000001.qvres"));
    EXPECT_TRUE(steps().empty());
    EXPECT_EQ(session().extraction_mode, 0);  // a load puts the mode back to 0
    EXPECT_FALSE(name(2, "runA_cyc_0000001.qvres"));
    EXPECT_TRUE(session().model_loaded);  // loaded all the same
    EXPECT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    EXPECT_EQ(cycles(steps()), std::vector<std::int32_t>{1});
    // Mode 1 with a directory that does not exist: loaded, no step.
    EXPECT_TRUE(qv::api::set_base_filename(1, dir_.file("runA_cyc_0000001.qvres"),
                                           dir_.file("nowhere")));
    EXPECT_TRUE(steps().empty());
    // A name with a single underscore loads but has no run prefix.
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("solo.qvres_base"));
    write_cycle(dir_, "solo_0000001.qvres", 1, 1.0f);
    EXPECT_FALSE(name(1, "solo_0000001.qvres"));
    EXPECT_TRUE(session().model_loaded);
    EXPECT_TRUE(name(0, "solo_0000001.qvres"));
}

TEST_F(Naming, NodeCountIsAllNodesUntilACycleSaysOtherwise) {
    write_run();
    std::int32_t n = 0;
    ASSERT_TRUE(qv::api::set_base_filename(0, dir_.file("runA_cyc_base.qvres"), dir_.path()));
    ASSERT_EQ(qv::model::num_nodes(session().view(), n), 1);
    EXPECT_EQ(n, 24);  // every coordinate triple
    // Naming a cycle file reads its "<Model>" section (the unstructured
    // nodes) and closes it again.
    ASSERT_TRUE(name(0, "runA_cyc_0000001.qvres"));
    ASSERT_EQ(qv::model::num_nodes(session().view(), n), 1);
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(session().cycle.is_open());
}

TEST_F(Naming, NamingAnotherAnalysisClosesTheOpenCycle) {
    write_run();
    ASSERT_TRUE(name(1, "runA_cyc_0000001.qvres"));
    ASSERT_TRUE(qv::api::new_step(0));
    ASSERT_TRUE(session().cycle.is_open());
    ASSERT_GT(session().cycle.model().header.count(), 0);
    qvw::write_base_file(qvtest::small_model()).save(dir_.file("other.qvres_base"));
    ASSERT_TRUE(qv::api::set_base_filename(0, dir_.file("other_base.qvres"), dir_.path()));
    // Nothing of the first analysis' cycle can be read against the new model.
    EXPECT_FALSE(session().cycle.is_open());
    EXPECT_EQ(session().cycle.model().header.count(), 0);
}

}  // namespace
