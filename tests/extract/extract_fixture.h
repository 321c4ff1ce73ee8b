// Analyses for the value getters: a base file of structured blocks and an
// optional unstructured part, written by the fixture writer and read into an
// Analysis, and a cycle file of the same sizes with the wanted directory
// entries, opened in a CycleReader. The getters see them as a session does:
// the base file's counts, replaced by those of a cycle that states sizes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/node_values.h"
#include "extract/slots.h"
#include "format/base_file.h"
#include "format/cycle_file.h"
#include "model/analysis.h"
#include "support/record_fixture.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvtest {

using qvw::DirectoryEntrySpec;
using Ints = std::vector<std::int32_t>;
using Floats = std::vector<float>;

struct Model {
    std::vector<std::array<std::int32_t, 3>> blocks;  // I, J, K of each structured part
    std::int32_t unstructured_elements = 0;           // one unstructured part when > 0
    std::int32_t unstructured_nodes = 0;              // as the cycle states them
    std::vector<qvw::MaterialSpec> materials;
    std::int32_t units[3] = {3, 3, 3};  // length, mass, time: SI, every factor 1
};

// Caller arrays start filled with this canary: what a getter did not write
// keeps it, so one canary beyond the values a call may write shows a write
// past them.
inline constexpr std::int32_t kUntouched = -777;

// A value getter on an array of `values` values and one canary behind them:
// the values when the getter succeeded, the canary checked; an empty result
// when it failed, and then nothing of the array may have been written.
template <class T, class Getter>
std::vector<T> values_of(Getter getter, std::size_t values) {
    std::vector<T> out(values + 1, static_cast<T>(kUntouched));
    const bool ok = getter(out.data());
    EXPECT_EQ(out.back(), static_cast<T>(kUntouched)) << "written past the values";
    out.pop_back();
    if (!ok) {
        EXPECT_EQ(out, std::vector<T>(values, static_cast<T>(kUntouched)))
            << "written by a failed call";
        return {};
    }
    return out;
}

class ExtractTest : public ::testing::Test {
protected:
    void load(const Model& m) {
        qvw::BaseFileSpec desc;
        desc.header = {5, 4};
        std::int32_t nodes = 0;
        for (const auto& b : m.blocks) {
            desc.parts.push_back(qvw::PartSpec::structured("BLOCK", b[0], b[1], b[2]));
            nodes += b[0] * b[1] * b[2];
        }
        if (m.unstructured_elements > 0) {
            // Every element on the same eight nodes behind the blocks' nodes.
            desc.parts.push_back(qvw::PartSpec::unstructured(
                "BRICKS", ramp<std::int32_t>(std::size_t(m.unstructured_elements), 1)));
            for (std::int32_t e = 0; e < m.unstructured_elements; ++e)
                for (std::int32_t c = 1; c <= 8; ++c) desc.connectivity.push_back(nodes + c);
            nodes += 8;
        }
        desc.coordinates = ramp<float>(3 * std::size_t(nodes), 1.0f);
        desc.materials = m.materials;
        for (int u = 0; u < 3; ++u) desc.units[u] = m.units[u];
        const std::string path = dir_.file("run.qvres_base");
        qvw::write_base_file(desc).save(path);

        // A fresh model, no cycle, extraction mode 0: what a base file load
        // leaves in a session.
        analysis_ = qv::model::Analysis{};
        cycle_ = qv::format::CycleReader{};
        loaded_ = false;
        mode_ = 0;
        qv::runtime::InputFile file;
        std::string why;
        ASSERT_TRUE(qv::runtime::open_input(path, file, why)) << why;
        qv::format::RecordReader r(std::move(file));
        bool tags_found = false;
        ASSERT_TRUE(qv::format::read_base_file(r, analysis_, tags_found)) << r.reason();
        counts_ = analysis_.counts;
    }

    qvw::CycleFileSpec cycle(const Model& m, std::vector<DirectoryEntrySpec> entries) const {
        qvw::CycleFileSpec desc;
        desc.structured_parts = m.blocks;
        desc.unstructured_parts = m.unstructured_elements > 0 ? 1 : 0;
        desc.unstructured_nodes = m.unstructured_nodes;
        desc.unstructured_elements = m.unstructured_elements;
        desc.entries = std::move(entries);
        return desc;
    }

    // Opens the bytes as the current cycle, in a fresh reader; a failed open
    // leaves the model invalid, as it does in a session.
    bool open_bytes(const qvw::Bytes& bytes) {
        const std::string path = dir_.file("run_0001.qvres");
        // The earlier cycle's file is closed first: Windows replaces no
        // file that is still open.
        cycle_ = qv::format::CycleReader{};
        qvw::FileWriter w;
        w.raw(bytes).save(path);
        loaded_ = cycle_.open(path);
        if (loaded_ && cycle_.model().has_sizes) counts_ = cycle_.model().counts;
        return loaded_;
    }
    void open(const qvw::CycleFileSpec& desc) {
        ASSERT_TRUE(open_bytes(qvw::write_cycle_file(desc).bytes()));
    }
    // Base file and cycle file of one model.
    void load_and_open(const Model& m, std::vector<DirectoryEntrySpec> entries) {
        load(m);
        open(cycle(m, std::move(entries)));
    }

    qv::model::View view() const { return {analysis_, counts_, cycle_.model(), loaded_}; }
    qv::extract::Source source() { return {view(), cycle_, mode_}; }

    // A (variable, part) getter into an array of `values` values, as
    // values_of gives them: the header pair the cycle reader kept of the
    // array it read, then the values the getter wrote behind it (as the
    // exports return them).
    template <class T>
    std::vector<T> call(bool (*getter)(const qv::extract::Source&, std::int32_t, std::int32_t, T*),
                        std::int32_t variable, std::int32_t part, std::size_t values) {
        return values_of<T>(
            [&](T* out) {
                if (!getter(source(), variable, part, out + qv::model::kHeaderPair)) return false;
                std::memcpy(out, cycle_.header_pair, sizeof cycle_.header_pair);
                return true;
            },
            values);
    }

    // node_displacements of `nodes` nodes, as `call` gives values.
    Floats displacements(std::size_t nodes) {
        return values_of<float>(
            [&](float* out) { return qv::extract::node_displacements(source(), out); }, 3 * nodes);
    }

    TempDir dir_;
    qv::model::Analysis analysis_;
    qv::model::Counts counts_;
    qv::format::CycleReader cycle_;
    bool loaded_ = false;
    std::int32_t mode_ = 0;  // data extraction mode
};

// The values of `ints` as floats.
inline Floats as_floats(const Ints& ints) { return Floats(ints.begin(), ints.end()); }

inline void expect_near_all(const Floats& actual, const Floats& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t x = 0; x < actual.size(); ++x) EXPECT_FLOAT_EQ(actual[x], expected[x]) << x;
}

}  // namespace qvtest
