// libqvres when files are not as they should be: truncated and unreadable
// cycle files, arrays a cycle does not store, locks; and which files
// discovery registers, which it skips and why, from every name of a run.
#include <gtest/gtest.h>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "qvres/qvres_support.h"
#include "results_api.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

bool names(const std::string& message, const std::string& path) {
    return message.find(path) != std::string::npos;
}

void touch(const std::string& path) { std::ofstream{path}; }

// The sample analysis in a directory of the test's own.
class Failures : public ::testing::Test {
protected:
    void SetUp() override { sample_ = qvsample::write_sample_analysis(dir_.path()); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    TempDir dir_;
    qvsample::SampleAnalysis sample_;
};

TEST_F(Failures, TruncatedCycleIsDamagedNamingTheFile) {
    Open open(dir_.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
    for (std::int64_t k : {0, 1}) {  // single-form and chunked arrays
        const std::string& path = sample_.cycle_files[std::size_t(k)];
        Readings intact;
        {
            Reader reader(open.a, k);
            ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
            intact = run(cycle_steps(reader.r, m.materials));
        }
        fs::resize_file(path, fs::file_size(path) * 85 / 100);
        Reader reader(open.a, k);
        ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
        const Readings cut = run(cycle_steps(reader.r, m.materials));
        ASSERT_EQ(cut.size(), intact.size());
        // What the cut file still holds reads as before; the rest is damaged.
        int damaged = 0;
        for (std::size_t i = 0; i < cut.size(); ++i) {
            if (intact[i].status != QVRES_OK) continue;
            if (cut[i].status == QVRES_OK) {
                expect_same({cut[i]}, {intact[i]});
                continue;
            }
            ++damaged;
            EXPECT_EQ(cut[i].status, QVRES_E_DAMAGED) << cut[i].what << ": " << cut[i].message;
            EXPECT_TRUE(names(cut[i].message, path)) << cut[i].message;
        }
        EXPECT_GT(damaged, 0) << path;
        // A node array the directory does not list is not stored, whatever
        // the reader met before: asked right after a query that met the cut.
        std::size_t last_damaged = 0;
        for (std::size_t i = 0; i < cut.size(); ++i)
            if (cut[i].status == QVRES_E_DAMAGED) last_damaged = i;
        ASSERT_EQ(cycle_steps(reader.r, m.materials)[last_damaged]().status, QVRES_E_DAMAGED);
        const Reading unlisted = read(value_array(reader.r, {QVRES_NODE_REALS, 999, 1}));
        EXPECT_EQ(unlisted.status, QVRES_E_NOT_STORED) << unlisted.message;
    }
}

TEST_F(Failures, ArrayNotInTheDirectoryIsNotStored) {
    Open open(dir_.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    Reader reader(open.a, 0);
    ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
    // A variable the directory lacks, and a stored one asked of another part.
    for (const qvres_request q : {qvres_request{QVRES_ELEMENT_REALS, 67, 1}, qvres_request{QVRES_NODE_REALS, 4, 2},
                                  qvres_request{QVRES_ELEMENT_REALS_ALL_SLOTS, 67, 1}}) {
        const Reading got = read(value_array(reader.r, q));
        EXPECT_EQ(got.status, QVRES_E_NOT_STORED) << got.what;
        EXPECT_TRUE(names(got.message, sample_.cycle_files[0])) << got.message;
    }
}

// A base file whose connectivity or type list holds fewer elements than its
// parts: the model counts the parts' elements, so the arrays are damaged
// (they were once answered shorter than the count the caller sized for).
TEST_F(Failures, ElementArraysShorterThanThePartsAreDamaged) {
    for (const bool short_types : {false, true}) {
        qvw::BaseFileSpec b;
        b.parts.push_back(qvw::PartSpec::unstructured("SKIN", {1, 2}));
        b.connectivity = {1, 2, 3, 0, 0, 0, 0, 0, 2, 3, 4, 0, 0, 0, 0, 0};
        b.coordinates.assign(12, 0.5f);
        b.element_types = {2, 2};
        // (A connectivity that names rows the parts list cannot load; none can.)
        (short_types ? b.element_types : b.connectivity).resize(short_types ? 1 : 0);
        const std::string path = file(short_types ? "types.qvres_base" : "rows.qvres_base");
        qvw::write_base_file(b).save(path);
        Open open(path);
        ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
        qvres_model m{};
        ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
        ASSERT_EQ(m.unstructured_elements, 2);
        std::vector<std::int32_t> out(16, -5);
        qvres_error error{};
        const qvres_status st = short_types ? qvres_get_element_types(open.a, out.data(), 2, &error)
                                            : qvres_get_connectivity(open.a, out.data(), 16, &error);
        EXPECT_EQ(st, QVRES_E_DAMAGED);
        EXPECT_TRUE(names(error.message, path)) << error.message;
        EXPECT_EQ(out, std::vector<std::int32_t>(16, -5));
    }
}

TEST_F(Failures, CycleThatCannotBeOpenedIsUnreadableAtReaderOpen) {
    Open open(dir_.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    const std::string& path = sample_.cycle_files[3];
#ifdef _WIN32
    // A handle that shares nothing keeps every other opening out.
    const HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    qvres_reader* r = nullptr;
    qvres_error result{};
    const qvres_status status = qvres_reader_open(open.a, 3, &r, &result);
    qvres_reader_close(r);
    ::CloseHandle(held);
    EXPECT_EQ(status, QVRES_E_UNREADABLE) << result.message;
#else
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    // Root opens any file: the reader is opened by a child that runs as
    // uid 65534, and says what it got through a pipe.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        qvres_error e{};
        e.status = static_cast<qvres_status>(-1);
        if (::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)) {
            qvres_reader* r = nullptr;
            qvres_reader_open(open.a, 3, &r, &e);
            qvres_reader_close(r);
        }
        ::_exit(::write(fds[1], &e, sizeof e) == static_cast<ssize_t>(sizeof e) ? 0 : 1);
    }
    ::close(fds[1]);
    qvres_error result{};
    const ssize_t got = ::read(fds[0], &result, sizeof result);
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof result));
    if (result.status == static_cast<qvres_status>(-1)) GTEST_SKIP() << "cannot change to uid 65534";
#endif
    EXPECT_EQ(result.status, QVRES_E_UNREADABLE) << result.message;
    EXPECT_TRUE(names(result.message, path)) << result.message;
}

TEST_F(Failures, DiscoveryListsTheFilesItSkipsWithReasons) {
    // A cycle file cut before its "<Model>" section, a second file of
    // cycle 2's number, cycle 3 under a lock, and (POSIX) a dangling link
    // named like a cycle file.
    const std::string cut = file("sample_run_90001.qvres"), twin = file("sample_run_90002.qvres");
    const std::string dangling = file("sample_run_90003.qvres");
#ifdef _WIN32
    const std::size_t links = 0;
#else
    const std::size_t links = 1;
    fs::create_symlink(file("nowhere"), dangling);
#endif
    fs::copy_file(sample_.cycle_files[1], cut);
    fs::resize_file(cut, 81);
    fs::copy_file(sample_.cycle_files[2], twin);
    touch(file(fs::path(sample_.cycle_files[3]).stem().string() + ".lock"));

    Open open(dir_.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    std::vector<std::int32_t> expected = sample_.cycles;
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(registered_cycles(open.a), expected);

    const auto skipped = skipped_files(open.a);
    ASSERT_EQ(skipped.size(), 3u + links);
    if (links) {
        ASSERT_EQ(skipped.count(dangling), 1u);
        EXPECT_TRUE(names(skipped.at(dangling), "not a file")) << skipped.at(dangling);
    }
    ASSERT_EQ(skipped.count(cut), 1u);
    EXPECT_TRUE(names(skipped.at(cut), cut) && names(skipped.at(cut), "<Model>")) << skipped.at(cut);
    // Of two files of one cycle number the one registered is either.
    const bool twin_skipped = skipped.count(twin) == 1;
    const std::string& dropped = twin_skipped ? twin : sample_.cycle_files[2];
    const std::string& kept = twin_skipped ? sample_.cycle_files[2] : twin;
    ASSERT_EQ(skipped.count(dropped), 1u);
    EXPECT_TRUE(names(skipped.at(dropped), kept)) << skipped.at(dropped);
    ASSERT_EQ(skipped.count(sample_.cycle_files[3]), 1u);
    EXPECT_TRUE(names(skipped.at(sample_.cycle_files[3]), "lock")) << skipped.at(sample_.cycle_files[3]);
}

// Past 256 characters a name cannot be registered: a run deep in a
// directory tree opens with every cycle file listed as skipped for it.
TEST_F(Failures, DiscoveryBeyondTheNameLengthListsEveryCycleFile) {
#ifdef _WIN32
    GTEST_SKIP() << "paths past 260 characters need long path support on Windows";
#endif
    fs::path deep = dir_.path();
    while (deep.string().size() < 300) deep /= std::string(40, 'd');
    fs::create_directories(deep);
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        if (entry.is_regular_file()) fs::copy_file(entry.path(), deep / entry.path().filename());
    Open open(deep.string());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    EXPECT_TRUE(registered_cycles(open.a).empty());
    const auto skipped = skipped_files(open.a);
    EXPECT_EQ(skipped.size(), sample_.cycle_files.size());
    for (const auto& [path, reason] : skipped) EXPECT_TRUE(names(reason, "longer than 256")) << reason;
}

TEST_F(Failures, RegistersTheRunsOwnCycleFilesUnlessThePrefixRuleIsAsked) {
    write_fixture_cycle(file("sample_other_3.qvres"), 90003, 1.0e6f);
    write_fixture_cycle(file("sample_run_v2_1.qvres"), 90001, 2.0e6f);
    {
        Open open(sample_.base_file);
        ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
        EXPECT_EQ(registered_cycles(open.a), sample_.cycles);
        EXPECT_TRUE(skipped_files(open.a).empty());
    }
    // With the prefix rule, what set_BaseFilename registers from the same name.
    const qvres_open_options prefix{1, 0, 0};
    Open open(sample_.cycle_files[0], &prefix);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    const std::vector<std::int32_t> numbers = exports_cycles(sample_.cycle_files[0], dir_.path());
    EXPECT_EQ(registered_cycles(open.a), numbers);
    EXPECT_EQ(numbers.size(), sample_.cycles.size() + 2);
}

TEST_F(Failures, EveryNameOfTheRunOpensTheSameAnalysisUnlessLocked) {
    Open reference(dir_.path());
    ASSERT_EQ(reference.status, QVRES_OK) << reference.error.message;
    const Readings expected = read_model(reference.a);
    const std::string lock = file("sample_run.lock"), older = file("sample_run_base.qvres");
    std::string base = sample_.base_file;
    const auto expect_opens = [&](const std::string& path) {
        touch(lock);
        Open locked(path);
        EXPECT_EQ(locked.status, QVRES_E_LOCKED) << path;
        EXPECT_TRUE(names(locked.error.message, lock)) << locked.error.message;
        const qvres_open_options bad_rule{2, 0, 0};  // a wrong option is said first
        EXPECT_EQ(Open(path, &bad_rule).status, QVRES_E_ARGUMENT) << path;
        fs::remove(lock);
        Open open(path);
        ASSERT_EQ(open.status, QVRES_OK) << path << ": " << open.error.message;
        expect_same(read_model(open.a), expected);
        qvres_names names{};
        ASSERT_EQ(qvres_get_names(open.a, &names, nullptr), QVRES_OK);
        EXPECT_EQ((std::vector<std::string>{names.base_file, names.directory, names.run, names.stem}),
                  (std::vector<std::string>{base, dir_.path(), "sample_run", file("sample_run")}));
    };
    for (const std::string& path : {sample_.base_file, sample_.cycle_files[5], dir_.path()}) expect_opens(path);
    // The older form of the base file's name.
    fs::rename(sample_.base_file, older);
    base = older;
    for (const std::string& path : {older, sample_.cycle_files[5], dir_.path()}) expect_opens(path);
}

}  // namespace
