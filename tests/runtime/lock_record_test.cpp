// The reader's lock record and the judgement of locks left behind; links
// that lead out of their directory.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>

#include "runtime/files.h"
#include "runtime/platform.h"
#include "support/lock_records.h"
#include "support/temp_dir.h"

namespace qv::runtime {
namespace {

namespace fs = std::filesystem;
using qvtest::ended_process;
using qvtest::read_text;
using qvtest::write_text;

std::string host() { return qvtest::this_host(); }
std::string record(const std::string& h, long long pid) { return qvtest::lock_record(h, pid); }

// The lock names its maker: the marker line, this host, this process and
// the time. (Exclusive and removed with the object: files_test.)
TEST(LockRecord, NamesItsMakerAndGoesWithIt) {
    qvtest::TempDir dir;
    const std::string path = dir.file("run.lock");
    const long long before = static_cast<long long>(time(nullptr));
    {
        LockFile lock(path);
        ASSERT_TRUE(lock.held());
        const std::string text = read_text(path);
        const std::string head = "results_api reader lock\nhost " + host() + "\nprocess " +
                                 std::to_string(getpid()) + "\ntime ";
        ASSERT_EQ(text.rfind(head, 0), 0u) << text;
        const long long stamp = std::stoll(text.substr(head.size()));
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, static_cast<long long>(time(nullptr)));
        EXPECT_EQ(text.back(), '\n');
        // Held by this very process: never stale.
        EXPECT_FALSE(judge_lock(path).stale);
    }
}

// Only a record of this library, of this host, of a process that no longer
// runs is stale; removal takes only such a lock.
TEST(LockRecord, OnlyOurRecordOfAnEndedProcessIsStale) {
    qvtest::TempDir dir;
    const std::string path = dir.file("run.lock");
    const pid_t gone = ended_process();
    const struct {
        const char* what;
        std::string text;
        bool stale;
    } cases[] = {{"ours, ended", record(host(), gone), true},
                 {"ours, running", record(host(), getppid()), false},
                 {"another host", record(host() + "x", gone), false},
                 {"no marker", "host " + host() + "\nprocess " + std::to_string(gone) + "\n", false},
                 {"marker only", "results_api reader lock\n", false},
                 {"process not a number", record(host(), gone) + "process 12abc\n", true},
                 {"bad process", "results_api reader lock\nhost " + host() + "\nprocess -5\n", false},
                 {"empty", "", false},
                 {"too long", record(host(), gone) + std::string(600, '#'), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_text(path, c.text);
        const LockOrigin o = judge_lock(path);
        EXPECT_EQ(o.stale, c.stale);
        if (c.stale) {
            EXPECT_EQ(o.process, gone);
            EXPECT_EQ(o.host, host());
        }
        EXPECT_EQ(remove_stale_lock(path), c.stale);
        EXPECT_EQ(fs::exists(path), !c.stale);
        fs::remove(path);
    }
    // A link to a stale record is not judged, and neither link nor target
    // goes.
    const std::string target = dir.file("record.txt");
    write_text(target, record(host(), gone));
    fs::create_symlink(target, path);
    EXPECT_FALSE(judge_lock(path).stale);
    EXPECT_FALSE(remove_stale_lock(path));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(fs::exists(target));
}

// Links are judged by where their target's name lies, never by opening it.
TEST(Links, OutOfTheirDirectory) {
    qvtest::TempDir dir, other;
    write_text(dir.file("here.qvres"), "x");
    write_text(other.file("there.qvres"), "x");
    fs::create_directory(dir.file("sub"));
    write_text(dir.file("sub/below.qvres"), "x");
    fs::create_symlink("here.qvres", dir.file("same"));
    fs::create_symlink(dir.file("here.qvres"), dir.file("same_absolute"));
    fs::create_symlink("same", dir.file("chain"));
    fs::create_symlink(other.file("there.qvres"), dir.file("out"));
    fs::create_symlink("sub/below.qvres", dir.file("down"));
    fs::create_symlink("../" + fs::path(other.path()).filename().string() + "/there.qvres",
                       dir.file("up"));
    fs::create_symlink(dir.file("out"), dir.file("via_link"));
    fs::create_symlink("nothing", dir.file("dangling"));
    const struct {
        const char* name;
        bool out;
    } cases[] = {{"here.qvres", false}, {"same", false}, {"same_absolute", false},
                 {"chain", false},      {"out", true},   {"down", true},
                 {"up", true},          {"via_link", true}, {"dangling", true},
                 {"absent", false}};
    for (const auto& c : cases)
        EXPECT_EQ(platform::links_out_of_directory(dir.file(c.name)), c.out) << c.name;
}

}  // namespace
}  // namespace qv::runtime
#endif  // !_WIN32
