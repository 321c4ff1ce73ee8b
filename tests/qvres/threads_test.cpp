// One analysis shared by four threads, each reading every cycle through
// readers of its own and asking the model meanwhile: each gets, bit for
// bit, what one thread alone gets. scripts/test.sh also runs this under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>

#include "qvres/qvres_support.h"
#include "support/temp_dir.h"

namespace {

using namespace qvtest;

void expect_threads_read_as_one(const std::string& directory) {
    Open open(directory);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
    ASSERT_GE(m.cycles, 2);
    const auto cycles = static_cast<std::size_t>(m.cycles);

    const Readings model = read_model(open.a);
    std::vector<Readings> reference(cycles);
    for (std::size_t k = 0; k < cycles; ++k) {
        Reader reader(open.a, std::int64_t(k));
        ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
        reference[k] = run(cycle_steps(reader.r, m.materials));
    }

    constexpr std::size_t kThreads = 4;
    std::vector<std::vector<Readings>> got(kThreads, std::vector<Readings>(cycles));
    std::vector<Readings> models(kThreads);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            // Each thread starts at another cycle, so that different cycles
            // and the same cycle are read at once.
            for (std::size_t i = 0; i < cycles; ++i) {
                const std::size_t k = (i + t * cycles / kThreads) % cycles;
                Reader reader(open.a, std::int64_t(k));
                if (reader.status == QVRES_OK) got[t][k] = run(cycle_steps(reader.r, m.materials));
                if (i == cycles / 2) models[t] = read_model(open.a);
            }
        });
    for (std::thread& t : threads) t.join();
    for (std::size_t t = 0; t < kThreads; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        expect_same(models[t], model);
        for (std::size_t k = 0; k < cycles; ++k) expect_same(got[t][k], reference[k]);
    }
}

TEST(Threads, FourReadersOfTheSampleAndTheFixtureReadAsOne) {
    TempDir dir;
    qvsample::write_sample_analysis(dir.file("sample"));
    write_fixture(dir.file("fixture"));
    for (const char* analysis : {"sample", "fixture"}) {
        SCOPED_TRACE(analysis);
        expect_threads_read_as_one(dir.file(analysis));
    }
}

}  // namespace
