// The model generator of fuzz_model: a run it made without disagreeing on
// purpose must load as it was made (otherwise the fuzzer spends its inputs
// on models the library refuses at the door), and the values it stores are
// the input's bytes.
#include "model_generator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "results_api.h"
#include "support/temp_dir.h"

namespace {

TEST(ModelGenerator, RunsWithoutDisagreementsLoadWithTheirCounts) {
    set_Startup();
    qvtest::TempDir dir;
    std::mt19937 rng(7);
    int checked = 0;
    for (int attempt = 0; attempt < 400 && checked < 25; ++attempt) {
        std::vector<std::uint8_t> input(300);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        const qvfuzz::GeneratedRun run = qvfuzz::generate_run(input.data(), input.size());
        if (run.disagreements != 0) continue;
        ++checked;
        qvw::write_base_file(run.base).save(dir.file("g_run.qvres_base"));
        const std::int32_t model_only = 0;
        ASSERT_TRUE(set_BaseFilename(&model_only, dir.file("g_run_base.qvres").c_str(), dir.path().c_str()))
            << "input " << attempt;
        std::int32_t s = 0, u = 0, e = 0, blocks = 0, parts = 0, elements = 0;
        for (const auto& p : run.base.parts) {
            blocks += p.type == 1.0f;
            parts += p.type == 2.0f;
            if (p.type == 2.0f) elements += static_cast<std::int32_t>(p.element_ids.size());
        }
        // Layout level 7 and a file without "<Parts>" describe no parts.
        if (!run.base.parts_section || run.base.header[0] >= 7) blocks = parts = elements = 0;
        ASSERT_TRUE(get_NumStructuredParts(&s) && get_NumUnstructuredParts(&u) && get_NumUnstructuredElements(&e));
        EXPECT_EQ(s, blocks) << "input " << attempt;
        EXPECT_EQ(u, parts) << "input " << attempt;
        EXPECT_EQ(e, elements) << "input " << attempt;
        resultsCleanUp();
    }
    EXPECT_EQ(checked, 25);
}

TEST(ModelGenerator, ArrayValuesAreTheInputsBytesFromItsEnd) {
    // Zeros but for a marker value in the last four bytes: the values are
    // read from the back, most significant byte last.
    std::vector<std::uint8_t> input(64, 0);
    const float marker = -1.5e-39f;  // a denormal
    std::uint32_t u;
    std::memcpy(&u, &marker, 4);
    for (int b = 0; b < 4; ++b) input[input.size() - 1 - b] = static_cast<std::uint8_t>(u >> (24 - 8 * b));
    qvfuzz::ValueSource values(input.data(), input.size());
    EXPECT_EQ(values.bits(), u);
    EXPECT_EQ(values.bits(), 0u);
    // An empty input stores zeros and decodes to a run all the same.
    qvfuzz::ValueSource none(nullptr, 0);
    EXPECT_EQ(none.bits(), 0u);
    const qvfuzz::GeneratedRun empty = qvfuzz::generate_run(nullptr, 0);
    EXPECT_EQ(empty.cycles.size(), 1u);
}

}  // namespace
