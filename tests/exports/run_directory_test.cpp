// A hostile run directory: results files that exist but cannot be opened,
// and lock paths that are links or directories. A call that meets one fails
// (or the scan passes the file over); the process lives, nothing is created
// outside the run, and the next call with good files works. Calls that may
// end the process today run in forked children.
#include <grp.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "exports/child_process.h"
#include "exports/sample_run.h"
#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;
using I = std::int32_t;

const char kCannot[] = "cannot make a file unreadable here";

// Makes `paths` unreadable for the rest of this process: as root, the
// process goes on as an unprivileged user, for whom mode 000 counts.
bool lose_read_access(std::initializer_list<std::string> paths) {
    for (const std::string& p : paths)
        if (::chmod(p.c_str(), 0) != 0) return false;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        return false;
    for (const std::string& p : paths)
        if (::access(p.c_str(), R_OK) == 0) return false;
    return true;
}

// Cycle numbers of the registered cycles, in time order.
Ints registered_cycles() {
    I steps = -1;
    if (!get_NumSteps(&steps) || steps < 0) return {-1};
    Ints cycles(std::size_t(steps) + 1, -7);
    Floats times(cycles.size(), -7.0f);
    if (!get_SetData(cycles.data(), times.data())) return {-2};
    cycles.pop_back();
    return cycles;
}

// The cycle number the open cycle stores in the header pair of its arrays.
I open_cycle_number() {
    I variable = 26, part = 1, values[64] = {};
    return get_IntNodeValues(&variable, &part, values) ? values[0] : -1;
}

// Each entry of a directory: what kind it is and, for a link, its target.
std::map<std::string, std::string> listing(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::directory_iterator(dir)) {
        const fs::file_status s = e.symlink_status();
        entries[e.path().filename().string()] =
            fs::is_symlink(s)     ? "link to " + fs::read_symlink(e.path()).string()
            : fs::is_directory(s) ? "directory"
                                  : "file of " + std::to_string(fs::file_size(e.path())) + " bytes";
    }
    return entries;
}

// Removes what was not in `dir` when `before` was taken.
void restore(const std::string& dir, const std::map<std::string, std::string>& before) {
    for (const auto& [name, kind] : listing(dir))
        if (!before.count(name)) fs::remove_all(dir + "/" + name);
}

class RunDirectory : public Session {
protected:
    void SetUp() override {
        Session::SetUp();
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0777), 0);  // open to the unprivileged user
        base_ = write_sample_run(dir_);
    }
    std::string cycle(int f) const { return dir_.file("job_a_000" + std::to_string(f) + ".qvres"); }
    bool load() const { return load_run(base_, dir_.path()); }

    // Runs `body` in a child and expects it to pass; skips the test when the
    // child could not make a file unreadable.
    void expect_in_child(const std::function<void(Findings&)>& body) {
        const ChildResult r = in_child([&](const Pipe& pipe) {
            Findings f;
            body(f);
            return f.report(pipe);
        });
        for (const auto& e : fs::directory_iterator(dir_.path()))  // readable again
            if (e.is_regular_file())
                fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write |
                                              fs::perms::group_read | fs::perms::others_read);
        if (r.text == kCannot) GTEST_SKIP() << kCannot;
        EXPECT_TRUE(r.passed) << r.what();
    }

    std::string base_;
};

using UnopenableFiles = RunDirectory;

TEST_F(UnopenableFiles, ScanPassesOverAnUnreadableCycleFile) {
    expect_in_child([&](Findings& f) {
        if (!f.expect(lose_read_access({cycle(2)}), kCannot)) return;
        f.expect(load(), "the load failed");
        f.expect(registered_cycles() == Ints{10, 30}, "cycle 20 registered or others missing");
        f.expect(select_step(1) && open_cycle_number() == 30, "no second step");
    });
}

TEST_F(UnopenableFiles, UnreadableBaseFileFailsTheLoadOnly) {
    const std::string other = write_sample_run(dir_, "ok_b", 2);
    expect_in_child([&](Findings& f) {
        if (!f.expect(lose_read_access({dir_.file("job_a.qvres_base")}), kCannot)) return;
        f.expect(load_run(other, dir_.path()), "the good load failed");
        f.expect(!load(), "loaded an unreadable base file");
        I nodes = 0;
        f.expect(!get_NumNodes(&nodes) && nodes == -1, "a model after the failed load");
        f.expect(load_run(other, dir_.path()) && registered_cycles() == Ints{10, 20},
                 "the next good load failed");
    });
}

TEST_F(UnopenableFiles, OpeningAnUnreadableCycleFailsThatCallOnly) {
    // set_ResultsFilename on a file that cannot be opened.
    expect_in_child([&](Findings& f) {
        f.expect(load(), "the load failed");
        if (!f.expect(lose_read_access({cycle(3)}), kCannot)) return;
        f.expect(!set_ResultsFilename(cycle(3).c_str()), "opened an unreadable file");
        f.expect(set_ResultsFilename(cycle(1).c_str()) && open_cycle_number() == 10,
                 "the next good cycle failed");
    });
    // set_newStep on a registered cycle that became unreadable.
    expect_in_child([&](Findings& f) {
        f.expect(load() && registered_cycles() == Ints{10, 20, 30}, "the load failed");
        if (!f.expect(lose_read_access({cycle(2)}), kCannot)) return;
        f.expect(!select_step(1), "opened an unreadable step");
        f.expect(select_step(2) && open_cycle_number() == 30, "the next good step failed");
    });
}

using LockPaths = RunDirectory;

// Each lock path of a load (the run's stem.lock and the named file's own
// name.lock) made a symbolic link: to nothing in the run, into a directory
// that does not exist, to a file that does not exist yet in another
// directory, and to one that exists there. The run counts as locked, and
// nothing is created, removed or written anywhere.
TEST_F(LockPaths, LinksRefuseTheLoadAndCreateNothing) {
    TempDir other;
    const std::string existing = other.file("existing");
    std::ofstream(existing) << "kept";
    const auto run = listing(dir_.path()), outside = listing(other.path());
    for (const std::string& lock : {dir_.file("job_a.lock"), dir_.file("job_a_base.lock")}) {
        for (const std::string& target :
             {dir_.file("nowhere"), dir_.file("no/such/dir"), other.file("later"), existing}) {
            fs::create_symlink(target, lock);
            const auto linked = listing(dir_.path());
            const ChildResult r = in_child([&](const Pipe& pipe) {
                Findings f;
                f.expect(!load(), "loaded");
                return f.report(pipe);
            });
            EXPECT_TRUE(r.passed) << lock << " -> " << target << ": " << r.what();
            EXPECT_EQ(listing(dir_.path()), linked) << lock << " -> " << target;
            EXPECT_EQ(listing(other.path()), outside) << lock << " -> " << target;
            restore(dir_.path(), run);
            restore(other.path(), outside);
        }
    }
    std::ifstream in(existing);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");
}

// A cycle's lock, a directory or a link to nothing, keeps that cycle out of
// the scan; the link's target is not created.
TEST_F(LockPaths, GoodLoadLeavesNoLockAndALockedCycleIsNotScanned) {
    const auto before = listing(dir_.path());
    ASSERT_TRUE(load());
    EXPECT_EQ(registered_cycles(), (Ints{10, 20, 30}));
    EXPECT_EQ(listing(dir_.path()), before);

    fs::create_directory(dir_.file("job_a_0002.lock"));
    fs::create_symlink(dir_.file("nowhere"), dir_.file("job_a_0003.lock"));
    ASSERT_TRUE(load());
    EXPECT_EQ(registered_cycles(), (Ints{10}));
    EXPECT_FALSE(fs::exists(dir_.file("nowhere")));
}

}  // namespace
