// Taking the reader's lock of a run: the exclusive create is the check.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>
#include <fstream>

#include "api/base_load.h"
#include "support/lock_records.h"
#include "support/temp_dir.h"

namespace qv::api {
namespace {

namespace fs = std::filesystem;
using qvtest::read_text;

// A lock that is there when the create runs refuses, whatever made it and
// whatever any earlier look found: the file stays as it was. A free name is
// taken with this process's record and given back with the lock.
TEST(RunLock, TheCreateIsTheCheck) {
    qvtest::TempDir dir;
    const std::string path = dir.file("run.lock");
    {
        std::ofstream(path) << "solver";
        RunLock lock;
        std::string why;
        EXPECT_EQ(lock_run(path, lock, true, why), LockState::locked);
        EXPECT_FALSE(lock.file);
        EXPECT_EQ(read_text(path), "solver");
        fs::remove(path);
    }
    {
        RunLock lock;
        std::string why;
        ASSERT_EQ(lock_run(path, lock, false, why), LockState::free);
        ASSERT_TRUE(lock.file && lock.file->held());
        EXPECT_NE(read_text(path).find("\nprocess " + std::to_string(getpid()) + "\n"), std::string::npos);
        // A second reader, in this process or another, is refused meanwhile.
        RunLock second;
        EXPECT_EQ(lock_run(path, second, true, why), LockState::locked);
    }
    EXPECT_FALSE(fs::exists(path));
}

// A stale lock of this library is said as such, and taken over only when
// asked.
TEST(RunLock, StaleLockIsTakenOverOnlyWhenAsked) {
    qvtest::TempDir dir;
    const std::string path = dir.file("run.lock");
    const pid_t child = fork();
    if (child == 0) {
        // A reader killed while it held the lock.
        RunLock lock;
        std::string why;
        lock_run(path, lock, false, why);
        _exit(0);  // no destructor runs
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(fs::exists(path));
    RunLock lock;
    std::string why;
    EXPECT_EQ(lock_run(path, lock, false, why), LockState::stale);
    EXPECT_NE(why.find("left by process " + std::to_string(child) + " on host "), std::string::npos) << why;
    EXPECT_EQ(honour_lock(path, false, why), LockState::stale);
    EXPECT_TRUE(fs::exists(path));
    ASSERT_EQ(lock_run(path, lock, true, why), LockState::free);
    EXPECT_NE(read_text(path).find("\nprocess " + std::to_string(getpid()) + "\n"), std::string::npos);
}

}  // namespace
}  // namespace qv::api
#endif  // !_WIN32
