// The sample and the fixture analysis open at once, shared by four threads:
// each thread reads every cycle of both through readers of its own, one
// query of the one analysis, then one of the other, and asks both models
// meanwhile. Each gets, bit for bit, what one thread gets of each analysis
// open alone; closing one leaves the other whole. scripts/test.sh also runs
// this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>

#include "qvres/qvres_support.h"
#include "support/temp_dir.h"

namespace {

using namespace qvtest;

// Per analysis: the model's readings, then each cycle's ("reader k" first).
using Cycles = std::vector<Readings>;

Cycles read_all(const qvres_analysis* a) {
    Cycles out = {read_model(a)};
    qvres_model m{};
    EXPECT_EQ(qvres_get_model(a, &m, nullptr), QVRES_OK);
    for (std::int64_t k = 0; k < m.cycles; ++k) {
        Reader reader(a, k);
        out.push_back({{"reader " + std::to_string(k), reader.status, {}, {}}});
        if (reader.r)
            for (Reading& x : run(cycle_steps(reader.r, m.materials))) out.back().push_back(std::move(x));
    }
    return out;
}

Cycles read_alone(const std::string& directory) {
    Open open(directory);
    EXPECT_EQ(open.status, QVRES_OK) << open.error.message;
    return read_all(open.a);
}

TEST(Threads, FourThreadsOverTwoOpenAnalysesReadWhatOneThreadReadsOfEachAlone) {
    TempDir dir;
    qvsample::write_sample_analysis(dir.file("sample"));
    write_fixture(dir.file("fixture"));
    const std::string dirs[2] = {dir.file("sample"), dir.file("fixture")};
    const Cycles alone[2] = {read_alone(dirs[0]), read_alone(dirs[1])};
    ASSERT_GE(alone[0].size(), 3u);
    ASSERT_GE(alone[1].size(), 3u);

    auto first = std::make_unique<Open>(dirs[0]);
    Open second(dirs[1]);
    const qvres_analysis* both[2] = {first->a, second.a};
    qvres_model m[2];
    for (int i = 0; i < 2; ++i) ASSERT_EQ(qvres_get_model(both[i], &m[i], nullptr), QVRES_OK);
    const auto cycles = std::size_t(std::max(m[0].cycles, m[1].cycles));

    constexpr std::size_t kThreads = 4;
    std::vector<std::array<Cycles, 2>> got(kThreads);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2; ++i) got[t][i].resize(alone[i].size());
            // Each thread starts at another cycle, so that different cycles
            // and the same cycle are read at once.
            for (std::size_t n = 0; n < cycles; ++n) {
                const std::size_t k = (n + t * cycles / kThreads) % cycles;
                std::unique_ptr<Reader> readers[2];
                std::vector<Step> steps[2];
                for (int i = 0; i < 2; ++i) {
                    if (k >= std::size_t(m[i].cycles)) continue;
                    readers[i] = std::make_unique<Reader>(both[i], std::int64_t(k));
                    got[t][i][1 + k].push_back({"reader " + std::to_string(k), readers[i]->status, {}, {}});
                    if (readers[i]->r) steps[i] = cycle_steps(readers[i]->r, m[i].materials);
                }
                for (std::size_t s = 0; s < std::max(steps[0].size(), steps[1].size()); ++s)
                    for (int i = 0; i < 2; ++i)
                        if (s < steps[i].size()) got[t][i][1 + k].push_back(steps[i][s]());
                if (n == cycles / 2)
                    for (int i = 0; i < 2; ++i) got[t][i][0] = read_model(both[i]);
            }
        });
    for (std::thread& t : threads) t.join();
    for (std::size_t t = 0; t < kThreads; ++t)
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE("thread " + std::to_string(t) + ", " + dirs[i]);
            for (std::size_t k = 0; k < alone[i].size(); ++k) expect_same(got[t][i][k], alone[i][k]);
        }

    first.reset();
    const Cycles kept = read_all(second.a);
    ASSERT_EQ(kept.size(), alone[1].size());
    for (std::size_t k = 0; k < kept.size(); ++k) expect_same(kept[k], alone[1][k]);
}

}  // namespace
