// libqvres (and the exports where they share the step) on hostile runs:
// model counts that do not add up, value counts no cycle file could fill,
// base files that inflate far beyond their size, and cycle files that are
// links out of the run's directory.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "qvres/qvres_support.h"
#include "results_api.h"
#include "support/analysis_files.h"
#include "support/lock_records.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool exports_load(const std::string& path, const std::string& directory, std::int32_t mode = 0) {
    EXPECT_TRUE(set_Startup());
    const bool loaded = set_BaseFilename(&mode, path.c_str(), directory.c_str());
    resultsCleanUp();
    return loaded;
}

// The mixed model (43 structured slots, 12 unstructured nodes) with the
// coordinates of only 8 nodes: neither front end opens it, and libqvres
// says which file, section and counts.
TEST(HostileCounts, ModelWhoseCoordinatesMissSlotsDoesNotOpen) {
    TempDir dir;
    qvw::BaseFileSpec desc = mixed_model();
    desc.coordinates.resize(3 * 8);
    desc.node_numbers.resize(8);
    // The exports take the older form of the name, libqvres the file.
    const std::string path = write_base(dir, desc), base = dir.file("run.qvres_base");
    Open open(base);
    EXPECT_EQ(open.status, QVRES_E_DAMAGED);
    EXPECT_TRUE(has(open.error.message, dir.file("run.qvres_base") + ": <Parts>: 8 node coordinates "
                                                                       "for 43 structured slots"))
        << open.error.message;
    EXPECT_FALSE(exports_load(path, dir.path()));

    // With every node's coordinates it opens, and N = T + U.
    desc = mixed_model();
    write_base(dir, desc);
    Open good(base);
    ASSERT_EQ(good.status, QVRES_OK) << good.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(good.a, &m, nullptr), QVRES_OK);
    EXPECT_EQ(m.structured_slots, 43);
    EXPECT_EQ(m.nodes, 55);
    EXPECT_EQ(m.nodes, m.structured_slots + m.unstructured_nodes);
    EXPECT_TRUE(exports_load(path, dir.path()));

    // Blocks of 1 x 2 x 2 and 3 x 3 x 3 nodes without any coordinates: the
    // exports still load the model (their coordinate query has nothing to
    // give); libqvres cannot lay out its 31 structured nodes.
    qvw::BaseFileSpec bare_desc;
    bare_desc.header = {5, 4};
    bare_desc.parts = {qvw::PartSpec::structured("THIN", 1, 2, 2),
                       qvw::PartSpec::structured("CUBE", 3, 3, 3)};
    write_base(dir, bare_desc);
    Open bare(base);
    EXPECT_EQ(bare.status, QVRES_E_DAMAGED);
    EXPECT_TRUE(has(bare.error.message, base + ": <Parts>: 0 node coordinates for 31 structured slots"))
        << bare.error.message;
    EXPECT_TRUE(exports_load(path, dir.path()));
}

// One block of 100 x 100 x 100 nodes (970,299 elements) whose coordinates
// are all 0, so the base file stays small, and 100 materials with Euler
// ids: a multi-material element request asks for 101 values per element,
// some 98 million, of a cycle file of under 2 KB.
TEST(HostileCounts, ValueCountBeyondTheCycleFileIsRefused) {
    TempDir dir;
    qvw::BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts.push_back(qvw::PartSpec::structured("BLOCK", 100, 100, 100));
    desc.coordinates.assign(3 * 1000000, 0.0f);
    for (int m = 1; m <= 100; ++m) desc.materials.push_back({"M" + std::to_string(m), m, "", 0.0f});
    write_base(dir, desc);
    const std::string base = dir.file("run.qvres_base");
    qvw::CycleFileSpec cycle;
    cycle.cycle = 1;
    cycle.structured_parts = {{100, 100, 100}};
    cycle.entries = {qvw::DirectoryEntrySpec::real(-2, 54, 1, {1.0f, 2.0f, 3.0f}),
                     qvw::DirectoryEntrySpec::real(2, 4, 1, {1.0f, 2.0f})};
    const std::string cycle_path = dir.file("run_1.qvres");
    qvw::write_cycle_file(cycle).save(cycle_path);
    const std::int64_t cycle_bytes = static_cast<std::int64_t>(fs::file_size(cycle_path));
    ASSERT_LT(cycle_bytes, 2048);
    // Deflate inflates at most 1032 to 1: no array of this file holds more
    // values than this.
    const std::int64_t most = (cycle_bytes * 1032 + 1032) / 4;

    Open open(base);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    Reader reader(open.a, 0);
    ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
    const std::int64_t elements = 99 * 99 * 99;
    const struct {
        qvres_request q;
        std::int64_t whole;  // what the model lays out
    } requests[] = {{{QVRES_ELEMENT_REALS, 54, 1}, elements * 101},
                    {{QVRES_ELEMENT_REALS_ALL_SLOTS, 54, 1}, 1000000},
                    {{QVRES_NODE_REALS, 4, 1}, 1000000},
                    {{QVRES_DISPLACEMENTS, 0, 0}, 3 * 1000000}};
    for (const auto& r : requests) {
        SCOPED_TRACE(r.q.values);
        ASSERT_GT(r.whole, most);
        std::int64_t count = -1;
        qvres_error e{};
        EXPECT_EQ(qvres_count_values(reader.r, &r.q, &count, &e), QVRES_E_DAMAGED) << count;
        EXPECT_EQ(count, -1);
        EXPECT_TRUE(has(e.message, cycle_path)) << e.message;
        EXPECT_TRUE(has(e.message, std::to_string(r.whole) + " values")) << e.message;
    }
    // Material fractions come out of the base file's layout, which the open
    // bounded already: one per element.
    const qvres_request fractions{QVRES_MATERIAL_FRACTIONS, 0, 1};
    std::int64_t count = -1;
    EXPECT_EQ(qvres_count_values(reader.r, &fractions, &count, nullptr), QVRES_OK);
    EXPECT_EQ(count, elements);
}

// The small model with 5 million element types of one value: 20 MB from a
// base file of some 25 KB, beyond the default of 64 times the file and 16
// MiB. A host that asks for more room opens it.
TEST(HostileInflation, BaseFileBeyondTheDefaultLimitNeedsTheOption) {
    TempDir dir;
    qvw::BaseFileSpec desc = small_model();
    desc.element_types.assign(5000000, 1);
    const std::string path = write_base(dir, desc), base = dir.file("run.qvres_base");
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(base));
    ASSERT_LT(64 * size + (16 << 20), 20000000);
    Open refused(base);
    EXPECT_EQ(refused.status, QVRES_E_DAMAGED);
    EXPECT_TRUE(has(refused.error.message, dir.file("run.qvres_base") + ": <Parts>: element types"))
        << refused.error.message;
    EXPECT_TRUE(has(refused.error.message, std::to_string(64 * size + (16 << 20)) + " bytes"))
        << refused.error.message;
    EXPECT_FALSE(exports_load(path, dir.path()));

    qvres_open_options more{};
    more.max_inflated_bytes = 32 << 20;
    Open opened(base, &more);
    EXPECT_EQ(opened.status, QVRES_OK) << opened.error.message;
    more.max_inflated_bytes = -1;
    EXPECT_EQ(Open(base, &more).status, QVRES_E_ARGUMENT);
}

#ifndef _WIN32
// A cycle file name that is a link into another run's directory, or to a
// file that is no results file, is skipped without a word of its target; a
// link to a file of the run's own directory is a cycle file like any other.
TEST(HostileLinks, LinksOutOfTheDirectoryAreSkipped) {
    TempDir dir, other;
    const qvsample::SampleAnalysis sample = qvsample::write_sample_analysis(dir.path());
    const qvsample::SampleAnalysis foreign = qvsample::write_sample_analysis(other.path());
    const std::string secret = other.file("secret.txt");
    write_text(secret, std::string(12345, 'x'));
    const std::string into_other = dir.file("sample_run_80001.qvres");
    const std::string to_secret = dir.file("sample_run_80002.qvres");
    const std::string within = dir.file("sample_run_80003.qvres");
    ASSERT_TRUE(make_symlink(foreign.cycle_files[0], into_other));
    ASSERT_TRUE(make_symlink(secret, to_secret));
    // A copy of a cycle under another number, reached through a link in the
    // directory itself.
    qvw::CycleFileSpec copy;
    copy.cycle = 80003;
    copy.time = 1.0e6f;
    copy.header = {1, 0, 0, 0, 0, 0};
    const std::string target = dir.file("kept.data");
    qvw::write_cycle_file(copy).save(target);
    ASSERT_TRUE(make_symlink("kept.data", within));

    Open open(dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
    EXPECT_EQ(m.cycles, static_cast<std::int64_t>(sample.cycles.size()) + 1);
    const auto skipped = skipped_files(open.a);
    ASSERT_EQ(skipped.size(), 2u);
    for (const std::string& link : {into_other, to_secret}) {
        ASSERT_EQ(skipped.count(link), 1u) << link;
        EXPECT_EQ(skipped.at(link), link + ": a link out of the run's directory");
    }
    // The exports register the same cycles.
    EXPECT_EQ(exports_cycles(sample.cycle_files[0], dir.path()), registered_cycles(open.a));
}
#endif  // !_WIN32

// Cycles a series cannot take as the model's: one that states an extra
// unstructured node (its node values stand elsewhere in the model), and
// one cut cleanly between two records, before the "<Element>" section its
// header and directory promise. Each fails a history naming its file, and
// is a gap of a skipping call, never values or "not stored"; what the
// cycle holds whole is still served.
TEST(HostileCycles, SeriesRefuseCyclesOfOtherSizesAndCyclesCutBeforeTheirSections) {
    // X-VELOCITY of node n in cycle c is 10000c + n; PRESSURE of the
    // unstructured element at position 18 + e - 1 (after 8 + 6 + 4 slots)
    // 10000c + 9000 + e.
    const qvres_request nodes = {QVRES_NODE_REALS, 4, 1}, elements = {QVRES_ELEMENT_REALS, 64, 1};
    const std::vector<std::int64_t> node_positions = {0, 44, 54}, element_positions = {18, 20};
    const auto expected = [](bool node, std::int32_t c, std::int64_t p) {
        return node ? 10000.f * float(c) + float(p) : 10000.f * float(c) + 9000.f + float(p - 17);
    };
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut before <Element>" : "one more node");
        TempDir dir;
        write_base(dir, mixed_model());
        for (std::int32_t c = 1; c <= 3; ++c) {
            auto cycle = mixed_cycle(c);
            if (c == 2 && !cut) {
                cycle.unstructured_nodes += 1;
                for (auto& e : cycle.entries)
                    if (e.kind == 2) e.reals.push_back(77777.f);
                    else if (e.kind == 1) e.ints.push_back(77777);
                cycle.displacements->insert(cycle.displacements->end(), {1.f, 2.f, 3.f});
            }
            qvw::write_cycle_file(cycle).save(dir.file("run_" + std::to_string(c) + ".qvres"));
        }
        const std::string second = dir.file("run_2.qvres");
        if (cut) {
            std::ifstream in(second, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const std::size_t tag = bytes.find("<Element>");
            ASSERT_NE(tag, std::string::npos);
            ASSERT_LT(bytes.find("<Node>"), tag);  // the node arrays stay whole
            fs::resize_file(second, tag - 4);  // the tag record's leading length
        }
        Open open(dir.file("run.qvres_base"));
        ASSERT_EQ(open.status, QVRES_OK) << open.error.message;

        for (const bool node : {true, false}) {
            const bool refused = node != cut;
            SCOPED_TRACE(node ? "node history" : "element history");
            const std::vector<std::int64_t>& positions = node ? node_positions : element_positions;
            const std::size_t n = positions.size();
            qvres_series s{};
            s.requests = node ? &nodes : &elements;
            s.request_count = 1;
            s.positions = positions.data();
            s.position_count = static_cast<std::int64_t>(n);
            s.by = QVRES_BY_VALUE;
            s.last_cycle = 2;
            s.threads = 1;
            std::vector<float> v(3 * n, -1.f);
            std::vector<qvres_series_gap> gaps(3);
            std::int64_t gap_count = -1;
            qvres_error error{};
            const qvres_status st =
                qvres_read_history_float(open.a, &s, v.data(), 3 * n, gaps.data(), 3, &gap_count, &error);
            if (!refused) {
                ASSERT_EQ(st, QVRES_OK) << error.message;
                for (std::size_t p = 0; p < n; ++p)
                    for (std::int32_t c = 1; c <= 3; ++c)
                        EXPECT_EQ(v[(c - 1) * n + p], expected(node, c, positions[p]));
                continue;
            }
            EXPECT_EQ(st, QVRES_E_DAMAGED);
            EXPECT_TRUE(has(error.message, second)) << error.message;
            if (!cut) {
                EXPECT_TRUE(has(error.message, "56 node values where the model has 55")) << error.message;
            }
            s.skip_failed_cycles = 1;
            ASSERT_EQ(qvres_read_history_float(open.a, &s, v.data(), 3 * n, gaps.data(), 3, &gap_count, &error),
                      QVRES_OK)
                << error.message;
            ASSERT_EQ(gap_count, 1);
            EXPECT_EQ(gaps[0].cycle, 1);
            EXPECT_EQ(gaps[0].status, QVRES_E_DAMAGED);
            EXPECT_TRUE(has(gaps[0].message, second)) << gaps[0].message;
            for (std::size_t p = 0; p < n; ++p) {
                EXPECT_EQ(v[p], expected(node, 1, positions[p]));
                EXPECT_TRUE(std::isnan(v[n + p]));
                EXPECT_EQ(v[2 * n + p], expected(node, 3, positions[p]));
            }
        }
    }
}

}  // namespace
