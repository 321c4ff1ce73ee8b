// An analysis whose directory and run are named with characters beyond
// ASCII, passed as hosts pass paths (UTF-8 on POSIX systems, the ANSI code
// page on Windows), through both C interfaces: the model loads, the cycle
// files are found by listing the directory, and the run's lock is seen.
#include <filesystem>
#include <fstream>

#include "exports/session_fixture.h"
#include "qvres.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

class NonAsciiPaths : public Session {
protected:
    void SetUp() override {
        Session::SetUp();
        const std::string name = non_ascii_name();
        ASSERT_FALSE(name.empty()) << "the ANSI code page has no letters beyond ASCII";
        directory_ = dir_.file(name);
        fs::create_directory(fs_path(directory_));
        stem_ = directory_ + "/" + name + "_run";
        // Written under plain names and renamed with the system's own
        // conversion, so that the names on disk do not depend on how the
        // C runtime converts.
        save(qvw::write_base_file(small_model()), stem_ + ".qvres_base");
        for (std::int32_t c = 1; c <= 2; ++c) {
            qvw::CycleFileSpec cycle;
            cycle.cycle = 10 * c;
            cycle.time = static_cast<float>(c);
            save(qvw::write_cycle_file(cycle), stem_ + "_000" + std::to_string(c) + ".qvres");
        }
    }

    void save(const qvw::FileWriter& file, const std::string& path) {
        const std::string plain = dir_.file("plain.tmp");
        file.save(plain);
        fs::rename(fs_path(plain), fs_path(path));
    }

    std::string directory_, stem_;
};

TEST_F(NonAsciiPaths, BothInterfacesOpenTheRunAndSeeItsLock) {
    const std::int32_t mode = 1;
    const std::string cycle = stem_ + "_0001.qvres";
    ASSERT_TRUE(set_BaseFilename(&mode, cycle.c_str(), directory_.c_str()));
    EXPECT_EQ(count(get_NumMaterials), (Out{true, 2}));
    Ints cycles(3, -7);
    Floats times(3, -7.0f);
    ASSERT_TRUE(get_SetData(cycles.data(), times.data()));
    EXPECT_EQ(cycles, (Ints{10, 20, -7}));
    for (std::int32_t k = 0; k < 2; ++k) EXPECT_TRUE(set_newStep(&k)) << k;
    ASSERT_TRUE(set_ResultsFilename((stem_ + "_0002.qvres").c_str()));
    EXPECT_TRUE(resultsCleanUp());

    qvres_analysis* analysis = nullptr;
    qvres_error error{};
    ASSERT_EQ(qvres_open(directory_.c_str(), nullptr, &analysis, &error), QVRES_OK) << error.message;
    qvres_model model{};
    qvres_cycle second{};
    EXPECT_EQ(qvres_get_model(analysis, &model, &error), QVRES_OK) << error.message;
    EXPECT_EQ(model.cycles, 2);
    EXPECT_EQ(model.skipped_files, 0);
    EXPECT_EQ(qvres_get_cycle(analysis, 1, &second, &error), QVRES_OK) << error.message;
    EXPECT_EQ(second.number, 20);
    qvres_reader* reader = nullptr;
    EXPECT_EQ(qvres_reader_open(analysis, 1, &reader, &error), QVRES_OK) << error.message;
    qvres_reader_close(reader);
    qvres_close(analysis);

    // A lock named beside the run, found by its name in the same code page:
    // the error names it as it was given.
    std::ofstream(fs_path(stem_ + ".lock")) << "";
    EXPECT_FALSE(set_BaseFilename(&mode, cycle.c_str(), directory_.c_str()));
    analysis = nullptr;
    EXPECT_EQ(qvres_open(cycle.c_str(), nullptr, &analysis, &error), QVRES_E_LOCKED);
    EXPECT_EQ(analysis, nullptr);
    EXPECT_NE(std::string(error.message).find(stem_ + ".lock"), std::string::npos) << error.message;
}

}  // namespace
