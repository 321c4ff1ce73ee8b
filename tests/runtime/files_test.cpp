// Files the library touches: the reader's lock (exclusive, never through a
// link, removed only while it is still the file created), the writable
// probe, and results files opened for reading.
#include "runtime/files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/lock_records.h"
#include "support/temp_dir.h"

namespace qv::runtime {
namespace {

namespace fs = std::filesystem;
using qvtest::TempDir;

using qvtest::read_text;
using qvtest::write_text;

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

    // A file that took the name while the lock was held is not the lock,
    // and the lock moved away is not removed by its old name.
    {
        LockFile held(lock);
        ASSERT_TRUE(held.held());
        fs::rename(lock, dir.file("moved"));
        write_text(lock, "someone else's");
    }
    EXPECT_EQ(read_text(lock), "someone else's");
    EXPECT_TRUE(fs::is_regular_file(dir.file("moved")));
#ifndef _WIN32
    // Likewise after the lock was deleted. (On Windows the name of a
    // deleted file that is still open can stay taken until it is closed.)
    fs::remove(lock);
    {
        LockFile held(lock);
        ASSERT_TRUE(held.held());
        fs::remove(lock);
        write_text(lock, "someone else's");
    }
    EXPECT_EQ(read_text(lock), "someone else's");
#endif
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
    if (!qvtest::make_symlink(dir.file("target"), lock))
        GTEST_SKIP() << "symbolic links cannot be made here (wine, or Windows without the right)";
    {
        LockFile l(lock);
        EXPECT_FALSE(l.held());
    }
    EXPECT_FALSE(fs::exists(dir.file("target")));
    EXPECT_TRUE(qvtest::is_symlink(lock));
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
        ASSERT_TRUE(qvtest::make_symlink(dir.file("moved"), lock));
    }
    EXPECT_TRUE(qvtest::is_symlink(lock));
    EXPECT_TRUE(fs::is_regular_file(dir.file("moved")));
}

TEST(ProbeWritable, LeavesNothingBehindAndTouchesNothingItFinds) {
    TempDir dir;
    EXPECT_EQ(probe_writable(dir.file("run.lock") + "   "), 0);
    EXPECT_TRUE(entries(dir).empty());

    // The lock itself and taken probe names (a file, a directory, a
    // dangling link where links can be made) stay as they were; the probe
    // uses the next free name.
    write_text(dir.file("run.lock"), "lock");
    write_text(dir.file("run.lock_$QVTEST0.SYS"), "zero");
    fs::create_directory(dir.file("run.lock_$QVTEST1.SYS"));
    if (!qvtest::make_symlink(dir.file("nowhere"), dir.file("run.lock_$QVTEST2.SYS")))
        fs::create_directory(dir.file("run.lock_$QVTEST2.SYS"));
    const std::vector<std::string> before = entries(dir);
    EXPECT_EQ(probe_writable(dir.file("run.lock")), 0);
    EXPECT_EQ(entries(dir), before);
    EXPECT_EQ(read_text(dir.file("run.lock_$QVTEST0.SYS")), "zero");

    // Every probe name taken, or no such directory: not writable.
    for (int n = 3; n <= 99; ++n)
        write_text(dir.file("run.lock_$QVTEST" + std::to_string(n) + ".SYS"), "");
    EXPECT_EQ(probe_writable(dir.file("run.lock")), 1);
    EXPECT_EQ(probe_writable(dir.file("missing/run.lock")), 1);
}

// A file its writer is still appending to can be read, and the writer may
// go on appending, rename it or delete it meanwhile (on Windows only when
// the reader shares the file for writing and deletion).
TEST(OpenInput, NamesTrimmedSizesRefusalsAndTheWriterKeepsItsFile) {
    TempDir dir;
    const std::string path = dir.file("cycle.qvres");
    write_text(path, "0123456789");
    InputFile in;
    std::string why;
    // A missing file and a directory are no results file.
    for (const std::string& name : {dir.file("missing.qvres"), dir.path()}) {
        EXPECT_FALSE(file_exists(name));
        EXPECT_FALSE(open_input(name, in, why));
        EXPECT_FALSE(in.is_open());
        EXPECT_EQ(why, name + ": no such file");
    }
    ASSERT_TRUE(open_input(path + "  ", in, why));
    EXPECT_EQ(in.name, path);
    EXPECT_EQ(in.size, 10u);
    EXPECT_TRUE(file_exists(path + " "));
    {
        std::ofstream more(path, std::ios::binary | std::ios::app);
        more << "abcdef";
        more.close();
        EXPECT_TRUE(more.good());
    }
    EXPECT_EQ(in.file->size(), 16u);
    std::error_code ec;
    fs::rename(path, dir.file("renamed.qvres"), ec);
    EXPECT_FALSE(ec) << ec.message();
    fs::remove(dir.file("renamed.qvres"), ec);
    EXPECT_FALSE(ec) << ec.message();
    char bytes[4] = {};
    ASSERT_TRUE(in.file->seek(12));
    ASSERT_TRUE(in.file->read(bytes, 4));
    EXPECT_EQ(std::string(bytes, 4), "cdef");
}

#ifdef _WIN32
// A file another program holds without sharing it for reading is there but
// cannot be opened; once it is let go, it can.
TEST(OpenInput, AFileHeldWithoutSharingIsRefusedUntilReleased) {
    TempDir dir;
    const std::string path = dir.file("cycle.qvres");
    write_text(path, "0123");
    const HANDLE held = ::CreateFileW(qvtest::fs_path(path).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    InputFile in;
    std::string why;
    EXPECT_TRUE(file_exists(path));
    EXPECT_FALSE(open_input(path, in, why));
    EXPECT_EQ(why, path + ": cannot be opened for reading");
    ::CloseHandle(held);
    EXPECT_TRUE(open_input(path, in, why));
    EXPECT_EQ(in.size, 4u);
}
#else
// Permission bits do not stop the superuser, so the refusals run in a child
// that becomes an unprivileged user first. (POSIX only: permission bits,
// setuid and fork; the Windows counterpart is the test above.)
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
#endif

}  // namespace
}  // namespace qv::runtime
