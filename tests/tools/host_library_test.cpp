// The tools' host layer on the sample analysis: the library loaded at run
// time, read through the typed helpers, compared with what the sample wrote;
// and the failures a host must be told about, each naming its file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

#include "host/analysis_files.h"
#include "host/processors.h"
#include "host/results_library.h"
#include "host/workers.h"
#include "host/xml_text.h"
#include "sample/sample_analysis.h"
#include "support/analysis_files.h"
#include "support/confined.h"
#include "support/temp_dir.h"

namespace {

using qvhost::Analysis;
using qvhost::CycleReader;
using qvhost::ResultsLibrary;
namespace sm = qvsample::model;

constexpr std::int32_t I = 9, J = 4, K = 5;  // a smaller block than the default
constexpr float kMm = 1e-3f;

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const qvhost::Error& e) {
        return e.what();
    }
    return "no error";
}

// One sample for the suite: written once, opened at one of its cycle files.
struct SampleFiles {
    SampleFiles() : sample(write()), analysis(lib, sample.cycle_files[3]) {}
    qvsample::SampleAnalysis write() {
        qvsample::SampleOptions o;
        o.i = I, o.j = J, o.k = K, o.cycles = 10;
        return qvsample::write_sample_analysis(dir.path(), o);
    }
    qvtest::TempDir dir;
    qvsample::SampleAnalysis sample;
    ResultsLibrary lib;
    Analysis analysis;
};

class SampleRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { run_ = std::make_unique<SampleFiles>(); }
    static void TearDownTestSuite() { run_.reset(); }

    // Structured element number (0-based, element order) of cell (i, j, k).
    static std::size_t element(std::int32_t i, std::int32_t j, std::int32_t k) {
        return static_cast<std::size_t>(((i - 2) * (J - 1) + (j - 2)) * (K - 1) + (k - 2));
    }
    static std::size_t node(std::int32_t i, std::int32_t j, std::int32_t k) {
        return static_cast<std::size_t>(((i - 1) * J + (j - 1)) * K + (k - 1));
    }

    static std::unique_ptr<SampleFiles> run_;
    const qvsample::SampleAnalysis* const sample_ = &run_->sample;
    const Analysis* const analysis_ = &run_->analysis;
};
std::unique_ptr<SampleFiles> SampleRun::run_;

// The model, units, steps and directory as the tools print and export them
// are checked through the tools (cli_test.py, vtk_roundtrip_test.py); here
// values against the sample's own formulas. Every step, single form and
// chunked alike, gives the wave the sample wrote.
TEST_F(SampleRun, ElementPressureIsTheWaveInPascal) {
    const std::set<std::int32_t> words(sample_->header_words.begin(), sample_->header_words.end());
    ASSERT_EQ(words, (std::set<std::int32_t>{6, 7, 8}));  // both framings of both kinds of array
    for (std::int32_t s = 0; s < static_cast<std::int32_t>(sample_->cycles.size()); ++s) {
        SCOPED_TRACE("step " + std::to_string(s));
        CycleReader reader(*analysis_, s);
        const qvhost::ElementReals p = reader.element_reals(64, 1);
        ASSERT_EQ(p.values.size(), static_cast<std::size_t>(analysis_->model().elements()));
        EXPECT_TRUE(p.materials.empty());
        for (const auto& [i, j, k] : {std::array<int, 3>{2, 2, 2}, {5, 3, 4}, {I, J, K}}) {
            const double expected = sm::pressure((i - 1.5) * sm::kSpacing, (j - 1.5) * sm::kSpacing,
                                                 (k - 1.5) * sm::kSpacing, sample_->times[s], J, K);
            EXPECT_NEAR(p.values[element(i, j, k)], expected * 1e9, expected * 1e9 * 1e-5);
        }
    }
}

TEST_F(SampleRun, IntegersFractionsDisplacementsAndBodies) {
    const std::int32_t last = static_cast<std::int32_t>(sample_->cycles.size()) - 1;
    CycleReader reader(*analysis_, last);
    const qvhost::Model& m = analysis_->model();
    const std::vector<std::int32_t> mat = reader.element_ints(10, 1);
    ASSERT_EQ(mat.size(), static_cast<std::size_t>(m.elements()));
    EXPECT_EQ(mat[element(2, (J + 1) / 2 + 1, (K + 1) / 2 + 1)], 2);  // in the charge
    EXPECT_EQ(mat[element(I, J, K)], 1);
    EXPECT_EQ(mat.back(), 3);
    EXPECT_EQ(reader.node_ints(35, 1).size(), static_cast<std::size_t>(m.nodes()));

    std::vector<float> water;
    ASSERT_TRUE(reader.material_fractions(1, water));
    ASSERT_EQ(water.size(), static_cast<std::size_t>(m.structured_elements));
    EXPECT_FLOAT_EQ(water[element(I, J, K - 1)], 1.0f);
    EXPECT_FLOAT_EQ(water[element(I, J, K)], 0.8f);  // the top layer is 20 % covered

    std::vector<float> d;
    ASSERT_TRUE(reader.displacements(d));
    ASSERT_EQ(d.size(), 3 * static_cast<std::size_t>(m.nodes()));
    EXPECT_EQ(d[3 * node(2, 2, 2)], 0.0f);  // Euler nodes have none
    EXPECT_GT(d[3 * m.slots], 0.5f * kMm);  // the plate has moved by then

    std::array<float, 12> body{};
    ASSERT_TRUE(reader.rigid_body(1, body));
    EXPECT_NEAR(body[0], std::cos(0.5 * sample_->times[last]), 1e-6);
    std::array<float, 16> joint{};
    ASSERT_TRUE(reader.joint(1, 1, joint));
    EXPECT_NEAR(joint[2], 3.0f * 1e3f, 1.0f);  // kN to N, the load fully applied
}

// Byte offset of the first occurrence of `text` in a file.
std::size_t offset_of(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = bytes.find(text);
    EXPECT_NE(at, std::string::npos) << text << " in " << path;
    return at;
}

class HostErrors : public ::testing::Test {
protected:
    void SetUp() override {
        qvsample::SampleOptions o;
        o.i = 3, o.j = 3, o.k = 3, o.cycles = 4;
        sample_ = qvsample::write_sample_analysis(dir_.path(), o);
    }
    qvtest::TempDir dir_;
    qvsample::SampleAnalysis sample_;
    ResultsLibrary lib_;
};

// Cut before its "<Displacement>" or its "<MMVars>" section, a cycle file
// opens, but neither section is "not stored", nor are the fractions 0: both
// are damaged, with the file's name.
TEST_F(HostErrors, SectionsCutOffAreDamagedAndNamed) {
    const std::string before_fractions = sample_.cycle_files[1], before_displacements = sample_.cycle_files[2];
    for (const auto& [file, tag] : {std::pair{before_fractions, "<MMVars>"}, {before_displacements, "<Displacement>"}})
        ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(offset_of(file, tag) - 10)), 0);
    const Analysis b(lib_, sample_.cycle_files[0]);
    std::vector<float> values;
    const auto expect_damaged = [&](std::int32_t step, const std::string& file, auto read) {
        CycleReader r(b, step);  // the files are in time order
        try {
            read(r);
            ADD_FAILURE() << "read " << file;
        } catch (const qvhost::Error& e) {
            EXPECT_EQ(e.status(), QVRES_E_DAMAGED);
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
        }
        EXPECT_EQ(r.element_reals(64, 1).values.size(), static_cast<std::size_t>(b.model().elements()));
    };
    expect_damaged(1, before_fractions, [&](CycleReader& r) { r.material_fractions(1, values); });
    expect_damaged(2, before_displacements, [&](CycleReader& r) { r.displacements(values); });
    // Steps and parts that do not exist: cli_test.py, word for word.
}

// A cycle stating fewer nodes than the base file: its displacements cannot
// move the model's points (the tools once read past them).
TEST(HostSizes, DisplacementsOfAnotherNodeCountAreDamaged) {
    qvtest::TempDir dir;
    qvw::write_base_file(qvtest::mixed_model()).save(dir.file("m.qvres_base"));
    qvw::CycleFileSpec cycle = qvtest::mixed_cycle(1);
    cycle.unstructured_nodes -= 2;
    cycle.displacements->resize(cycle.displacements->size() - 6);
    qvw::write_cycle_file(cycle).save(dir.file("m_1.qvres"));
    ResultsLibrary lib;
    const Analysis a(lib, dir.file("m_1.qvres"));
    CycleReader r(a, 0);
    std::vector<float> xyz;
    try {
        r.displacements(xyz);
        ADD_FAILURE() << "displacements of " << xyz.size() / 3 << " nodes read";
    } catch (const qvhost::Error& e) {
        EXPECT_EQ(e.status(), QVRES_E_DAMAGED) << e.what();
        EXPECT_NE(std::string(e.what()).find("where the model has 55"), std::string::npos) << e.what();
    }
}

// A sample written again into its directory with fewer cycles is the new
// run alone.
TEST(Sample, WrittenAgainHoldsItsOwnCyclesOnly) {
    qvtest::TempDir dir;
    qvsample::SampleOptions o;
    o.i = 3, o.j = 3, o.k = 3;
    qvsample::write_sample_analysis(dir.path(), o);
    o.cycles = 3;
    qvsample::write_sample_analysis(dir.path(), o);
    ResultsLibrary lib;
    EXPECT_EQ(Analysis(lib, dir.path()).steps().size(), 3u);
}

// The run's names are the library's, whichever file or directory is named;
// only a file other than the base file counts as a named cycle file.
TEST(AnalysisFiles, NamesComeFromTheLibraryAfterTheOpen) {
    qvtest::TempDir dir;
    qvw::write_base_file(qvtest::mixed_model()).save(dir.file("blast_cyc.qvres_base"));
    qvw::write_cycle_file(qvtest::mixed_cycle(1)).save(dir.file("blast_cyc_100.qvres"));
    ResultsLibrary lib;
    const std::string base = dir.file("blast_cyc.qvres_base");
    for (const std::string& given : {dir.file("blast_cyc_100.qvres"), base, dir.path()}) {
        const Analysis a(lib, given);
        const qvhost::AnalysisFiles& f = a.files();
        EXPECT_EQ(f.given, given);
        EXPECT_EQ(f.run, "blast_cyc") << given;
        EXPECT_EQ(f.stem, dir.file("blast_cyc")) << given;
        EXPECT_TRUE(qvhost::same_file(f.base_file, base)) << f.base_file;
        EXPECT_EQ(f.names_cycle_file, given == dir.file("blast_cyc_100.qvres")) << given;
        EXPECT_EQ(f.path, given == dir.path() ? f.base_file : given);
    }
    // A file that does not exist is named as such, before the library is asked.
    try {
        const Analysis a(lib, dir.file("blast_cyc_base.qvres"));
        ADD_FAILURE() << "opened a base file that does not exist";
    } catch (const qvhost::Error& e) {
        EXPECT_EQ(e.status(), QVRES_E_NOT_FOUND);
        EXPECT_NE(std::string(e.what()).find("the file does not exist"), std::string::npos) << e.what();
    }
}

// Names from results files in XML: escaped, in UTF-8 whatever their code page,
// without the control characters XML cannot hold.
TEST(XmlText, NamesBecomeWellFormedUtf8) {
    EXPECT_EQ(qvhost::xml_escape("A&B<C>\"'"), "A&amp;B&lt;C&gt;&quot;&apos;");
    EXPECT_EQ(qvhost::xml_escape("B\xC9TON"), "B\xC3\x89TON");           // Latin-1
    EXPECT_EQ(qvhost::xml_escape("B\xC3\x89TON \xE2\x82\xAC"), "B\xC3\x89TON \xE2\x82\xAC");  // UTF-8 already
    EXPECT_EQ(qvhost::xml_escape("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0?");  // a surrogate is no UTF-8 (0x80: C1)
    EXPECT_EQ(qvhost::xml_escape("\xEF\xBF\xBF"), "\xC3\xAF\xC2\xBF\xC2\xBF");  // nor XML's U+FFFF
    EXPECT_EQ(qvhost::xml_escape(std::string("ST\x01" "EL\0X\tY", 9)), "ST?EL?X\tY");
}

// DEL and the C1 controls (a CSI is U+009B) would reach the terminal of
// whoever shows the file: as raw bytes, taken as Latin-1, and as UTF-8.
TEST(XmlText, DelAndC1ControlsBecomeQuestionMarks) {
    EXPECT_EQ(qvhost::xml_escape("A\x7F" "B"), "A?B");
    EXPECT_EQ(qvhost::xml_escape("A\x9B" "31m"), "A?31m");
    EXPECT_EQ(qvhost::xml_escape("A\x80\x9F"), "A??");
    EXPECT_EQ(qvhost::xml_escape("A\xC2\x9B" "31m"), "A?31m");
    EXPECT_EQ(qvhost::xml_escape("A\xC2\x80\xC2\x9F" "B"), "A??B");
    // Their neighbours stay: U+00A0 raw (Latin-1) and in UTF-8, U+007E.
    EXPECT_EQ(qvhost::xml_escape("\xA0~\xC2\xA0"), "\xC2\xA0~\xC2\xA0");
}

TEST(ResultsLibraryLoad, ReportsALibraryThatIsNotTheRightOne) {
    // The 59-export library loads but is not the one the tools need.
#ifdef _WIN32
    const char* other_name = "results_api.dll";
#else
    const char* other_name = "libresults_api.so.1";
#endif
    const std::string other =
        (std::filesystem::path(ResultsLibrary().location()).parent_path() / other_name).string();
    EXPECT_NE(error_of([&] { ResultsLibrary lib(other); }).find("does not export qvres_"), std::string::npos);
}

// "One per core" in the tools counts the processors the tool may run on.
TEST(UsableProcessors, AToolConfinedToAFewProcessorsCountsThose) {
    int checked = 0;
    for (int count : {1, 2}) {
        qvtest::ConfinedProcessors confined(count);
        if (!confined.confined()) continue;
        EXPECT_EQ(qvhost::usable_processors(), static_cast<unsigned>(count));
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "the thread cannot be confined here";
}

}  // namespace

// What a worker thread throws reaches the caller once every thread is
// joined, instead of ending the process; every share still runs.
TEST(HostWorkers, AThrowOnAnyThreadReachesTheCaller) {
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool on_caller : {false, true}) {
        std::atomic<int> shares{0};
        EXPECT_THROW(qvhost::run_workers(4,
                                         [&] {
                                             ++shares;
                                             const bool mine = std::this_thread::get_id() == caller;
                                             if (mine == on_caller) throw std::runtime_error("share failed");
                                         }),
                     std::runtime_error);
        EXPECT_EQ(shares.load(), 4);
    }
}
