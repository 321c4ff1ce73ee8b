// File units: opening with the library's codes, open and file-state tests,
// closing with deletion, the writable-location probe, message lines and the
// fatal exit of a failed open.
#include "runtime/file_units.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(FileUnits, OpenAndClose) {
    TempDir dir;
    const std::string path = write_file(dir, "base.bin", kSomeBytes);
    EXPECT_FALSE(is_open(unit::kBase));
    open_unit(unit::kBase, blank_padded(path), status_code::kOld);
    ASSERT_TRUE(is_open(unit::kBase));
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
}

TEST(FileUnits, OpenCodes) {
    TempDir dir;
    const std::string path = write_file(dir, "cycle.bin", kSomeBytes);

    // A negative unit number opens the unit of its absolute value.
    open_unit(-unit::kResults, path, status_code::kOld, 7);
    ASSERT_TRUE(is_open(unit::kResults));
    EXPECT_FALSE(is_open(-unit::kResults));
    EXPECT_EQ(connection(unit::kResults)->order, ByteOrder::BigEndian);
    EXPECT_FALSE(connection(unit::kResults)->formatted);
    close_unit(unit::kResults);

    open_unit(unit::kResults, path, status_code::kOld, -1);
    EXPECT_EQ(connection(unit::kResults)->order, ByteOrder::LittleEndian);
    close_unit(unit::kResults);

    open_unit(unit::kResults, path, status_code::kAppend);
    EXPECT_EQ(connection(unit::kResults)->file->position(), kSomeBytes.size());
    close_unit(unit::kResults);

    // "unknown" creates a missing file.
    const std::string lock = dir.file("lock");
    open_unit(unit::kLock, lock, status_code::kUnknown);
    EXPECT_TRUE(is_open(unit::kLock));
    EXPECT_TRUE(std::filesystem::is_regular_file(lock));
    close_unit(unit::kLock);
}

TEST(FileUnits, FileState) {
    TempDir dir;
    const std::string path = write_file(dir, "base.bin", kSomeBytes);
    EXPECT_EQ(file_state(dir.file("missing.bin")), 0);
    EXPECT_EQ(file_state(dir.path()), 0);  // a directory is no file
    EXPECT_EQ(file_state(path), 1);
    EXPECT_EQ(file_state(blank_padded(path)), 1);

    open_unit(unit::kBase, path, status_code::kOld);
    EXPECT_EQ(file_state(path), unit::kBase);
    EXPECT_EQ(file_state(blank_padded(path)), unit::kBase);
    EXPECT_EQ(file_state(dir.path() + "/./base.bin"), unit::kBase);
    close_unit(unit::kBase);
    EXPECT_EQ(file_state(path), 1);
}

TEST(FileUnits, CloseWithDeletionRemovesTheFile) {
    TempDir dir;
    const std::string path = write_file(dir, "scratch.bin", kSomeBytes);
    open_unit(unit::kLock, path, status_code::kUnknown);
    close_unit(unit::kLock, true);
    EXPECT_FALSE(is_open(unit::kLock));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(file_state(path), 0);
}

TEST(FileUnits, ProbeCreatesNothingItLeavesBehind) {
    TempDir dir;
    EXPECT_EQ(probe_writable(blank_padded(dir.file("run.lck"))), 0);
    EXPECT_TRUE(entries(dir).empty());
    EXPECT_FALSE(is_open(unit::kProbe));

    // An existing file of the lock name is neither touched nor removed.
    const std::string lock = write_file(dir, "run.lck", kSomeBytes);
    EXPECT_EQ(probe_writable(lock), 0);
    EXPECT_EQ(entries(dir), std::vector<std::string>{"run.lck"});
}

TEST(FileUnits, ProbeOfAMissingDirectoryAnswersOne) {
    TempDir dir;
    EXPECT_EQ(probe_writable(dir.file("missing/run.lck")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    EXPECT_FALSE(is_open(unit::kProbe));
}

TEST(FileUnits, ReopeningAConnectedUnitWarnsOnUnit51WhenConnected) {
    TempDir dir;
    const std::string first = write_file(dir, "a.bin", kSomeBytes);
    const std::string second = write_file(dir, "b.bin", kSomeBytes);
    std::vector<std::string> lines;
    open_unit(unit::kResults, first, status_code::kOld);
    open_unit(unit::kResults, second, status_code::kOld);  // nothing listens yet

    connect_text_unit(unit::kMessages, [&](const std::string& l) { lines.push_back(l); });
    open_unit(unit::kResults, first, status_code::kOld);
    disconnect_text_unit(unit::kMessages);
    close_unit(unit::kResults);

    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " Warning : Opening file " + first + " with unit#58 still assigned to file " +
                            second);
}

// Read-only files. Permission bits do not stop the superuser, so the opens
// run in a child process that becomes an unprivileged user first; the lines
// written to unit 51 come back through a pipe, one per line.
std::vector<std::string> lines_from_child(void (*body)(const std::string& dir)) {
    TempDir dir;
    write_file(dir, "cycle.bin", kSomeBytes);
    write_file(dir, "qvin", kSomeBytes);
    ::chmod(dir.file("cycle.bin").c_str(), 0444);
    ::chmod(dir.file("qvin").c_str(), 0444);
    ::chmod(dir.path().c_str(), 0755);
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed"};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        connect_text_unit(unit::kMessages, [fd = fds[1]](const std::string& l) {
            const std::string out = l + "\n";
            if (::write(fd, out.data(), out.size()) < 0) ::_exit(4);
        });
        body(dir.path());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(FileUnits, ReadOnlyFilesOpenWithWarningsOnlyWhenUnit51IsConnected) {
    const auto lines = lines_from_child([](const std::string& dir) {
        const std::string cycle = dir + "/cycle.bin";
        disconnect_text_unit(unit::kMessages);
        open_unit(unit::kResults, cycle, status_code::kOld);
        if (!is_open(unit::kResults)) ::_exit(5);
        close_unit(unit::kResults);
    });
    EXPECT_TRUE(lines.empty());

    const auto connected = lines_from_child([](const std::string& dir) {
        const std::string cycle = dir + "/cycle.bin";
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
    EXPECT_EQ(connected, (std::vector<std::string>{
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
