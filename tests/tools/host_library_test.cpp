// The tools' host layer on the sample analysis: the library loaded at run
// time, read through the typed helpers, compared with what the sample wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include "host/results_library.h"
#include "sample/sample_analysis.h"
#include "support/temp_dir.h"

namespace {

using qvhost::ResultsLibrary;
namespace sm = qvsample::model;

constexpr std::int32_t I = 9, J = 4, K = 5;  // a smaller block than the default
constexpr float kMm = 1e-3f;

class SampleRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qvtest::TempDir;
        qvsample::SampleOptions o;
        o.i = I, o.j = J, o.k = K, o.cycles = 10;
        sample_ = new qvsample::SampleAnalysis(qvsample::write_sample_analysis(dir_->path(), o));
    }
    static void TearDownTestSuite() {
        delete sample_;
        delete dir_;
    }
    void SetUp() override { lib_.open(sample_->cycle_files[3]); }

    // Structured element number (0-based, element order) of cell (i, j, k).
    static std::size_t element(std::int32_t i, std::int32_t j, std::int32_t k) {
        return static_cast<std::size_t>(((i - 2) * (J - 1) + (j - 2)) * (K - 1) + (k - 2));
    }
    static std::size_t node(std::int32_t i, std::int32_t j, std::int32_t k) {
        return static_cast<std::size_t>(((i - 1) * J + (j - 1)) * K + (k - 1));
    }

    static qvtest::TempDir* dir_;
    static qvsample::SampleAnalysis* sample_;
    ResultsLibrary lib_;
};
qvtest::TempDir* SampleRun::dir_ = nullptr;
qvsample::SampleAnalysis* SampleRun::sample_ = nullptr;

TEST_F(SampleRun, ModelHasEveryPartKindAndMaterial) {
    const qvhost::Model m = lib_.model();
    EXPECT_EQ(m.structured_parts(), 1);
    EXPECT_EQ(m.unstructured_parts, sm::kUnstructuredParts);
    EXPECT_EQ(m.slots, I * J * K);
    EXPECT_EQ(m.structured_elements, (I - 1) * (J - 1) * (K - 1));
    const std::vector<qvhost::Part> parts = lib_.parts();
    ASSERT_EQ(parts.size(), 8u);
    EXPECT_EQ(parts[0].name, "EULER_BLOCK");
    EXPECT_EQ(parts[4].name, "PYRAMID_PAIR");
    std::int64_t elements = 0;
    for (const auto& p : parts) elements += p.structured ? 0 : p.elements;
    EXPECT_EQ(elements, m.unstructured_elements);

    std::set<std::int32_t> kinds;
    for (std::int32_t k : lib_.element_kinds()) kinds.insert(k);
    EXPECT_EQ(kinds, (std::set<std::int32_t>{2, 5, 6, 7, 8, 9, 10}));

    // The pyramid and its tetrahedron are a pair, by external element number.
    const std::vector<std::int32_t> pair = lib_.part_elements(5);
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(lib_.pair_partner(5000 + pair[0]), 5000 + pair[1]);
    EXPECT_EQ(lib_.pair_partner(5000 + pair[1]), 5000 + pair[0]);

    const std::vector<qvhost::Material> mats = lib_.materials();
    ASSERT_EQ(mats.size(), 3u);
    EXPECT_EQ(mats[1].name, "TNT");
    EXPECT_EQ(mats[1].euler_id, 2);
    EXPECT_LT(mats[2].euler_id, 0);
    EXPECT_EQ(lib_.file_version(), 150);
}

TEST_F(SampleRun, UnitsConvertLengthsAndTimesToSi) {
    const qvhost::UnitSystem u = lib_.unit_system();
    EXPECT_EQ(u.length, sm::kUnitCodes[0]);
    EXPECT_EQ(u.time, sm::kUnitCodes[2]);
    EXPECT_TRUE(u.decimal);
    EXPECT_EQ(u.length_exponent, -3);
    EXPECT_EQ(u.mass_exponent, 0);
    EXPECT_EQ(u.time_exponent, -3);

    const std::vector<float> xyz = lib_.coordinates();
    ASSERT_EQ(xyz.size(), 3 * static_cast<std::size_t>(lib_.model().nodes()));
    const std::size_t corner = node(I, 2, K);
    EXPECT_FLOAT_EQ(xyz[3 * corner], (I - 1) * sm::kSpacing * kMm);
    EXPECT_FLOAT_EQ(xyz[3 * corner + 1], sm::kSpacing * kMm);
    EXPECT_FLOAT_EQ(xyz[3 * corner + 2], (K - 1) * sm::kSpacing * kMm);
    // The first plate node follows the block's nodes, 10 mm beyond it.
    EXPECT_FLOAT_EQ(xyz[3 * I * J * K], ((I - 1) * sm::kSpacing + 10.0f) * kMm);
}

TEST_F(SampleRun, StepsAreInTimeOrderWhateverTheFileNamesSay) {
    const std::vector<qvhost::Step> steps = lib_.steps();
    ASSERT_EQ(steps.size(), sample_->cycles.size());
    for (std::size_t k = 0; k < steps.size(); ++k) {
        EXPECT_EQ(steps[k].cycle, sample_->cycles[k]);
        EXPECT_NEAR(steps[k].time, sample_->times[k] * kMm, 1e-12);
    }
    // The sample is worth testing with: name order differs from time order,
    // and both framings of the bulk and body arrays occur.
    std::vector<std::string> by_name = sample_->cycle_files;
    std::sort(by_name.begin(), by_name.end());
    EXPECT_NE(by_name, sample_->cycle_files);
    const std::set<std::int32_t> words(sample_->header_words.begin(), sample_->header_words.end());
    EXPECT_EQ(words, (std::set<std::int32_t>{6, 7, 8}));
    EXPECT_EQ(std::count(sample_->header_words.begin(), sample_->header_words.end(), 6),
              static_cast<long>(sample_->header_words.size() / 2));
}

TEST_F(SampleRun, DirectoryListsWhatTheSampleStored) {
    lib_.select(2);
    const std::vector<qvhost::Variable> dir = lib_.variables();
    ASSERT_EQ(dir.size(), std::size(sm::kDirectory));
    for (std::size_t i = 0; i < dir.size(); ++i) {
        EXPECT_EQ(dir[i].index, sm::kDirectory[i].variable);
        EXPECT_EQ(dir[i].kind, sm::kDirectory[i].kind);
        EXPECT_EQ(dir[i].qualifier, 1);
    }
    EXPECT_EQ(dir[6].name, "TASK_NUMBER");  // blanks and dots come back as '_'
    EXPECT_EQ(dir[10].name, "COVER_FRAC_V");
}

// Every step, single form and chunked alike, gives the wave the sample wrote.
TEST_F(SampleRun, ElementPressureIsTheWaveInPascal) {
    for (std::int32_t s = 0; s < static_cast<std::int32_t>(sample_->cycles.size()); ++s) {
        SCOPED_TRACE("step " + std::to_string(s));
        lib_.select(s);
        const qvhost::ElementReals p = lib_.element_reals(64, 1);
        ASSERT_EQ(p.values.size(), static_cast<std::size_t>(lib_.model().elements()));
        EXPECT_TRUE(p.materials.empty());
        for (const auto& [i, j, k] : {std::array<int, 3>{2, 2, 2}, {5, 3, 4}, {I, J, K}}) {
            const double expected = sm::pressure((i - 1.5) * sm::kSpacing, (j - 1.5) * sm::kSpacing,
                                                 (k - 1.5) * sm::kSpacing, sample_->times[s], J, K);
            EXPECT_NEAR(p.values[element(i, j, k)], expected * 1e9, expected * 1e9 * 1e-5);
        }
    }
}

TEST_F(SampleRun, NodeValuesAverageTheCellsAroundEachNode) {
    lib_.select(4);
    const std::vector<float> u = lib_.node_reals(4, 1);
    const qvhost::ElementReals p = lib_.element_reals(64, 1);
    ASSERT_EQ(u.size(), static_cast<std::size_t>(lib_.model().nodes()));
    // The node velocity is stored per cell as a function of the cell's
    // pressure; an interior node takes the mean of eight cells, a corner one.
    auto cell_u = [&](int i, int j, int k) {
        const double c[3] = {(i - 1.5) * sm::kSpacing, (j - 1.5) * sm::kSpacing - (J - 1) * sm::kSpacing / 2,
                             (k - 1.5) * sm::kSpacing - (K - 1) * sm::kSpacing / 2};
        const double r = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
        return (p.values[element(i, j, k)] * 1e-9 - 1e-4) / (1e-6 * 1500.0) * c[0] / r;
    };
    EXPECT_NEAR(u[node(1, 1, 1)], cell_u(2, 2, 2), 1e-3 + 1e-4 * std::fabs(cell_u(2, 2, 2)));
    double sum = 0;
    for (int di : {0, 1})
        for (int dj : {0, 1})
            for (int dk : {0, 1}) sum += cell_u(3 + di, 2 + dj, 2 + dk);
    EXPECT_NEAR(u[node(3, 2, 2)], sum / 8, 1e-3 + 1e-4 * std::fabs(sum / 8));
}

TEST_F(SampleRun, MultiMaterialTemperatureReportsEulerMaterialsOnly) {
    lib_.select(1);
    const qvhost::ElementReals t = lib_.element_reals(86, 1);
    ASSERT_EQ(t.materials, (std::vector<std::int32_t>{1, 2}));  // STEEL has no Euler id
    const qvhost::Model m = lib_.model();
    ASSERT_EQ(t.values.size(), static_cast<std::size_t>(m.elements()));
    ASSERT_EQ(t.material_values.size(), 2 * static_cast<std::size_t>(m.structured_elements));
    // A cell far from the charge is water only: its own value is the water's.
    const std::size_t far = element(I, J, K);
    EXPECT_FLOAT_EQ(t.values[far], t.material_values[2 * far]);
    EXPECT_FLOAT_EQ(t.material_values[2 * far + 1], 0.0f);
    // The unstructured elements follow with one value each, near 293 K.
    EXPECT_NEAR(t.values.back(), 293.0f, 10.0f);
}

TEST_F(SampleRun, IntegersFractionsAndDisplacements) {
    const std::int32_t last = static_cast<std::int32_t>(sample_->cycles.size()) - 1;
    lib_.select(last);
    const qvhost::Model m = lib_.model();
    const std::vector<std::int32_t> mat = lib_.element_ints(10, 1);
    ASSERT_EQ(mat.size(), static_cast<std::size_t>(m.elements()));
    EXPECT_EQ(mat[element(2, (J + 1) / 2 + 1, (K + 1) / 2 + 1)], 2);  // in the charge
    EXPECT_EQ(mat[element(I, J, K)], 1);
    EXPECT_EQ(mat.back(), 3);
    EXPECT_EQ(lib_.node_ints(35, 1).size(), static_cast<std::size_t>(m.nodes()));

    std::vector<float> water;
    ASSERT_TRUE(lib_.material_fractions(1, water));
    ASSERT_EQ(water.size(), static_cast<std::size_t>(m.structured_elements));
    EXPECT_FLOAT_EQ(water[element(I, J, K - 1)], 1.0f);
    EXPECT_FLOAT_EQ(water[element(I, J, K)], 0.8f);  // the top layer is 20 % covered

    std::vector<float> d;
    ASSERT_TRUE(lib_.displacements(d));
    ASSERT_EQ(d.size(), 3 * static_cast<std::size_t>(m.nodes()));
    EXPECT_EQ(d[3 * node(2, 2, 2)], 0.0f);  // Euler nodes have none
    EXPECT_GT(d[3 * m.slots], 0.5f * kMm);  // the plate has moved by then

    std::array<float, 12> body{};
    ASSERT_TRUE(lib_.rigid_body(1, body));
    EXPECT_NEAR(body[0], std::cos(0.5 * sample_->times[last]), 1e-6);
    std::array<float, 16> joint{};
    ASSERT_TRUE(lib_.joint(1, 1, joint));
    EXPECT_NEAR(joint[2], 3.0f * 1e3f, 1.0f);  // kN to N, the load fully applied
}

class HostErrors : public ::testing::Test {
protected:
    void SetUp() override {
        qvsample::SampleOptions o;
        o.i = 3, o.j = 3, o.k = 3, o.cycles = 4;
        sample_ = qvsample::write_sample_analysis(dir_.path(), o);
    }
    std::string open_error(const std::string& file) {
        try {
            lib_.open(file);
        } catch (const qvhost::Error& e) {
            return e.what();
        }
        return "opened";
    }
    qvtest::TempDir dir_;
    qvsample::SampleAnalysis sample_;
    ResultsLibrary lib_;
};

TEST_F(HostErrors, EveryFormOfTheNameOpensTheSameRun) {
    const std::string run = dir_.path() + "/sample_run";
    for (const std::string& name : {sample_.cycle_files[2], run + ".qvres_base", run + "_base.qvres", dir_.path()}) {
        SCOPED_TRACE(name);
        lib_.open(name);
        EXPECT_EQ(lib_.steps().size(), 4u);
        EXPECT_EQ(lib_.model().unstructured_nodes, 81);  // however the counts were loaded
        EXPECT_EQ(lib_.coordinates().size(), 3u * (27 + 81));
    }
}

TEST_F(HostErrors, SayWhatIsWrong) {
    EXPECT_NE(open_error(dir_.path() + "/sample_run_77.qvres").find("the file does not exist"), std::string::npos);

    // A cycle file cut inside its model section cannot be opened, by name or
    // as a step; the others still can.
    ASSERT_EQ(::truncate(sample_.cycle_files[1].c_str(), 60), 0);
    EXPECT_NE(open_error(sample_.cycle_files[1]).find("damaged or truncated"), std::string::npos);
    lib_.open(sample_.cycle_files[0]);
    int failed = 0;
    for (std::int32_t s = 0; s < 4; ++s) try {
            lib_.select(s);
        } catch (const qvhost::Error& e) {
            ++failed;
            EXPECT_NE(std::string(e.what()).find("cannot be read: its cycle file is damaged or truncated"),
                      std::string::npos);
        }
    EXPECT_EQ(failed, 1);
    try {
        lib_.select(9);
    } catch (const qvhost::Error& e) {
        EXPECT_STREQ(e.what(), "step 9 does not exist (the analysis has 4 steps: 0..3)");
    }

    std::ofstream(dir_.path() + "/sample_run.lock") << "";
    EXPECT_NE(open_error(sample_.cycle_files[0]).find("is locked (" + dir_.path() + "/sample_run.lock exists)"),
              std::string::npos);
    std::filesystem::remove(dir_.path() + "/sample_run.lock");

    std::filesystem::remove(sample_.base_file);
    EXPECT_NE(open_error(sample_.cycle_files[0]).find("no base file"), std::string::npos);
}

TEST(ResultsLibraryLoad, ReportsALibraryThatIsNotThere) {
    try {
        ResultsLibrary lib("/nonexistent/libresults_api.so.1");
        FAIL() << "loaded";
    } catch (const qvhost::Error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot load the results library /nonexistent"), std::string::npos);
    }
}

}  // namespace
