// Files the library touches: the reader's lock (exclusive, never through a
// link, removed only while it is still the file created), the writable
// probe, and results files opened for reading.
#include "runtime/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qv::runtime {
namespace {

namespace fs = std::filesystem;
using qvtest::TempDir;

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LockFile, ExclusiveAndRemovesOnlyItsOwnFile) {
    TempDir dir;
    const std::string lock = dir.file("run.lock");
    {
        LockFile first(lock);
        ASSERT_TRUE(first.held());
        EXPECT_TRUE(fs::is_regular_file(lock));
        LockFile second(lock);
        EXPECT_FALSE(second.held());
    }
    EXPECT_TRUE(entries(dir).empty());

    // A file that replaced the lock while it was held is not the lock.
    {
        LockFile held(lock);
        ASSERT_TRUE(held.held());
        fs::remove(lock);
        write_text(lock, "someone else's");
    }
    EXPECT_EQ(read_text(lock), "someone else's");
    // Nor is a file that was there first.
    {
        LockFile late(lock);
        EXPECT_FALSE(late.held());
    }
    EXPECT_EQ(read_text(lock), "someone else's");
}

TEST(LockFile, NeverGoesThroughALink) {
    TempDir dir;
    const std::string lock = dir.file("run.lock");
    // A dangling link: creating through it would make its target.
    fs::create_symlink(dir.file("target"), lock);
    {
        LockFile l(lock);
        EXPECT_FALSE(l.held());
    }
    EXPECT_FALSE(fs::exists(dir.file("target")));
    EXPECT_TRUE(fs::is_symlink(lock));
    // A link to a file: neither opened nor removed.
    write_text(dir.file("target"), "kept");
    {
        LockFile l(lock);
        EXPECT_FALSE(l.held());
    }
    EXPECT_EQ(read_text(lock), "kept");

    // A held lock moved away and replaced by a link to it: the link is not
    // the lock, and removal does not follow it.
    fs::remove(lock);
    {
        LockFile held(lock);
        ASSERT_TRUE(held.held());
        fs::rename(lock, dir.file("moved"));
        fs::create_symlink(dir.file("moved"), lock);
    }
    EXPECT_TRUE(fs::is_symlink(lock));
    EXPECT_TRUE(fs::is_regular_file(dir.file("moved")));
}

TEST(ProbeWritable, LeavesNothingBehindAndTouchesNothingItFinds) {
    TempDir dir;
    EXPECT_EQ(probe_writable(dir.file("run.lock") + "   "), 0);
    EXPECT_TRUE(entries(dir).empty());

    // The lock itself and taken probe names (a file, a dangling link) stay
    // as they were; the probe uses the next free name.
    write_text(dir.file("run.lock"), "lock");
    write_text(dir.file("run.lock_$QVTEST0.SYS"), "zero");
    fs::create_symlink(dir.file("nowhere"), dir.file("run.lock_$QVTEST1.SYS"));
    const std::vector<std::string> before = entries(dir);
    EXPECT_EQ(probe_writable(dir.file("run.lock")), 0);
    EXPECT_EQ(entries(dir), before);
    EXPECT_EQ(read_text(dir.file("run.lock_$QVTEST0.SYS")), "zero");

    // Every probe name taken, or no such directory: not writable.
    for (int n = 2; n <= 99; ++n)
        write_text(dir.file("run.lock_$QVTEST" + std::to_string(n) + ".SYS"), "");
    EXPECT_EQ(probe_writable(dir.file("run.lock")), 1);
    EXPECT_EQ(probe_writable(dir.file("missing/run.lock")), 1);
}

TEST(OpenInput, NamesTrimmedSizesAndWhyAFileIsRefused) {
    TempDir dir;
    const std::string path = dir.file("cycle.qvres");
    write_text(path, "0123456789");
    InputFile in;
    std::string why;
    ASSERT_TRUE(open_input(path + "  ", in, why));
    EXPECT_EQ(in.name, path);
    EXPECT_EQ(in.size, 10u);
    EXPECT_TRUE(file_exists(path + " "));

    // A missing file and a directory are no results file.
    for (const std::string& name : {dir.file("missing.qvres"), dir.path()}) {
        EXPECT_FALSE(file_exists(name));
        EXPECT_FALSE(open_input(name, in, why));
        EXPECT_FALSE(in.is_open());
        EXPECT_EQ(why, name + ": no such file");
    }
}

// Permission bits do not stop the superuser, so the refusals run in a child
// that becomes an unprivileged user first.
TEST(FilesDeathTest, UnreadableFileAndUnwritableDirectoryAreRefused) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string unreadable = dir.file("cycle.qvres");
    write_text(unreadable, "0123");
    ::chmod(unreadable.c_str(), 0);
    fs::create_directory(dir.file("ro"));
    ::chmod(dir.file("ro").c_str(), 0555);
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::exit(3);
            InputFile in;
            std::string why;
            const bool opened = open_input(unreadable, in, why);
            std::fprintf(stderr, "%s\n", why.c_str());
            const int probe = probe_writable(dir.file("ro/run.lock"));
            std::exit(!opened && file_exists(unreadable) && probe == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cycle.qvres: cannot be opened for reading");
}

}  // namespace
}  // namespace qv::runtime
