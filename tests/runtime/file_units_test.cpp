// File units: opening with the library's codes, open and file-state tests,
// closing with deletion, the writable-location probe, message lines and the
// fatal exit of a failed open.
#include "runtime/file_units.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/unit_fixture.h"

namespace qv::runtime {
namespace {

using qvtest::TempDir;
using qvtest::write_file;

const std::vector<std::uint8_t> kSomeBytes = {0, 0, 0, 4, 1, 2, 3, 4, 0, 0, 0, 4};

std::string blank_padded(const std::string& s, std::size_t n = 1024) {
    std::string out = s;
    out.resize(n, ' ');
    return out;
}

std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    return names;
}

TEST(FileUnits, OpenCodesAndClose) {
    TempDir dir;
    const std::string path = write_file(dir, "base.bin", kSomeBytes);
    // A negative unit number opens the unit of its absolute value.
    open_unit(-unit::kBase, blank_padded(path), status_code::kOld, 7);
    EXPECT_FALSE(is_open(-unit::kBase));
    Connection* c = connection(unit::kBase);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->name, path);
    EXPECT_EQ(c->size, kSomeBytes.size());
    EXPECT_FALSE(c->formatted);
    EXPECT_EQ(c->order, ByteOrder::BigEndian);
    EXPECT_EQ(c->file->position(), 0u);
    close_unit(unit::kBase);
    EXPECT_FALSE(is_open(unit::kBase));
    EXPECT_EQ(connection(unit::kBase), nullptr);
    EXPECT_TRUE(std::filesystem::exists(path));
    close_unit(unit::kBase);  // closing a closed unit is harmless

    // Reopening a connected unit replaces the connection, with a warning
    // on unit 51 only when something listens there.
    const std::string other = write_file(dir, "other.bin", kSomeBytes);
    open_unit(unit::kResults, other, status_code::kOld, -1);
    EXPECT_EQ(connection(unit::kResults)->order, ByteOrder::LittleEndian);
    std::vector<std::string> lines;
    open_unit(unit::kResults, path, status_code::kOld);
    connect_text_unit(unit::kMessages, [&](const std::string& l) { lines.push_back(l); });
    open_unit(unit::kResults, other, status_code::kAppend);
    disconnect_text_unit(unit::kMessages);
    EXPECT_EQ(connection(unit::kResults)->file->position(), kSomeBytes.size());
    close_unit(unit::kResults);
    EXPECT_EQ(lines, std::vector<std::string>{" Warning : Opening file " + other +
                                              " with unit#58 still assigned to file " + path});

    // "unknown" creates a missing file; closing with deletion removes it.
    const std::string lock = dir.file("lock");
    open_unit(unit::kLock, lock, status_code::kUnknown);
    EXPECT_TRUE(std::filesystem::is_regular_file(lock));
    close_unit(unit::kLock, true);
    EXPECT_FALSE(is_open(unit::kLock));
    EXPECT_EQ(file_state(lock), 0);
}

TEST(FileUnits, FileState) {
    TempDir dir;
    const std::string path = write_file(dir, "base.bin", kSomeBytes);
    EXPECT_EQ(file_state(dir.file("missing.bin")), 0);
    EXPECT_EQ(file_state(dir.path()), 0);  // a directory is no file
    EXPECT_EQ(file_state(blank_padded(path)), 1);
    open_unit(unit::kBase, path, status_code::kOld);
    EXPECT_EQ(file_state(blank_padded(path)), unit::kBase);
    EXPECT_EQ(file_state(dir.path() + "/./base.bin"), unit::kBase);
    close_unit(unit::kBase);
    EXPECT_EQ(file_state(path), 1);
}

TEST(FileUnits, ProbeLeavesNothingBehind) {
    TempDir dir;
    EXPECT_EQ(probe_writable(blank_padded(dir.file("run.lck"))), 0);
    EXPECT_TRUE(entries(dir).empty());
    // An existing file of the lock name is neither touched nor removed.
    const std::string lock = write_file(dir, "run.lck", kSomeBytes);
    EXPECT_EQ(probe_writable(lock), 0);
    EXPECT_EQ(entries(dir), std::vector<std::string>{"run.lck"});
    EXPECT_EQ(probe_writable(dir.file("missing/run.lck")), 1);
    EXPECT_EQ(entries(dir), std::vector<std::string>{"run.lck"});
    EXPECT_FALSE(is_open(unit::kProbe));
}

// Read-only files. Permission bits do not stop the superuser, so the opens
// run in a child process that becomes an unprivileged user first; whatever
// the child prints comes back through a pipe, one entry per line.
std::vector<std::string> lines_from_child(void (*body)(const std::string& dir)) {
    TempDir dir;
    for (const char* name : {"cycle.bin", "qvin"}) ::chmod(write_file(dir, name, kSomeBytes).c_str(), 0444);
    ::chmod(dir.path().c_str(), 0755);
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed"};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        body(dir.path());
        std::fflush(nullptr);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::vector<std::string> lines;
    FILE* in = ::fdopen(fds[0], "r");
    for (char line[512]; std::fgets(line, sizeof line, in);) lines.emplace_back(line, std::strcspn(line, "\n"));
    std::fclose(in);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return lines;
}

TEST(FileUnits, ReadOnlyFilesOpenWithWarningsOnlyWhenUnit51IsConnected) {
    const auto lines = lines_from_child([](const std::string& dir) {
        const std::string cycle = dir + "/cycle.bin";
        open_unit(unit::kResults, cycle, status_code::kOld);  // nothing listens: no line anywhere
        close_unit(unit::kResults);
        connect_text_unit(unit::kMessages, [](const std::string& l) { std::fprintf(stderr, "%s\n", l.c_str()); });
        open_unit(unit::kResults, cycle, status_code::kOld);
        close_unit(unit::kResults);
        open_unit(-unit::kResults, cycle, status_code::kOld);  // no check
        close_unit(unit::kResults);
        open_unit(unit::kResults, dir + "/qvin", status_code::kOld);
        close_unit(unit::kResults);
        note_base_loader_started();
        open_unit(unit::kBase, blank_padded(cycle), status_code::kOld);
        close_unit(unit::kBase);
    });
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " Warning: File cycle.bin is read-only.",
                         " File qvin is read-only. Please make it writeable.",
                         " Warning:  File cycle.bin is read-only. ",
                     }));
}

TEST(FileUnitsDeathTest, OpeningAMissingOldFileEndsTheProcess) {
    TempDir dir;
    const std::string missing = dir.file("missing.bin");
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            open_unit(unit::kResults, missing, status_code::kOld);
        },
        ::testing::ExitedWithCode(1), " Error!");
}

}  // namespace
}  // namespace qv::runtime
