// What the tools write as hostile input or a hostile neighbour could abuse:
// output files created beside their final name and renamed into place
// (never through a link, never into a file someone else made), text shown
// on a terminal, and text fields of CSV files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "host/console.h"
#include "host/csv_text.h"
#include "host/output_file.h"
#include "support/temp_dir.h"

namespace {

using qvhost::OutputFile;
using qvtest::TempDir;

std::string contents(const std::string& path) {
    std::ifstream in(qvtest::fs_path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const std::string& path, const std::string& text) {
    std::ofstream(qvtest::fs_path(path), std::ios::binary) << text;
}

std::set<std::string> listing(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(qvtest::fs_path(dir.path())))
        names.insert(e.path().filename().string());
    return names;
}

TEST(OutputFile, TheFinalNameIsReplacedWholeAtCommitAndNothingElseIsLeft) {
    TempDir dir;
    const std::string path = dir.file("out.csv");
    qvhost::write_file(path, "a,b\n1,2\n", 8);
    EXPECT_EQ(contents(path), "a,b\n1,2\n");
    {
        // Two writers of one name: each a temporary of its own, a new name in
        // the same directory, not the final name with a fixed suffix anyone
        // could plant beforehand.
        OutputFile a(path), b(path);
        EXPECT_NE(a.temporary(), b.temporary());
        for (const OutputFile* out : {&a, &b}) {
            EXPECT_EQ(std::filesystem::path(out->temporary()).parent_path(), std::filesystem::path(path).parent_path());
            EXPECT_NE(out->temporary(), path + ".part");
            EXPECT_NE(out->temporary(), path);
        }
        std::fputs("a", a.get());
        std::fputs("b", b.get());
        std::fflush(a.get());
        EXPECT_EQ(contents(path), "a,b\n1,2\n");
        a.commit();
        EXPECT_EQ(contents(path), "a");
        b.commit();
    }
    EXPECT_EQ(contents(path), "b");
    EXPECT_EQ(listing(dir), std::set<std::string>{"out.csv"});
}

TEST(OutputFile, AFailureLeavesNoTemporaryAndKeepsTheEarlierFile) {
    TempDir dir;
    const std::string path = dir.file("out.svg");
    put(path, "earlier");
    {
        OutputFile out(path);
        std::fputs("cut", out.get());
        // Dropped without commit, as when a write or the tool fails.
    }
    EXPECT_EQ(contents(path), "earlier");
    EXPECT_EQ(listing(dir), std::set<std::string>{"out.svg"});

    // A directory at the final name: the rename fails, the error names the
    // final name, and the temporary is gone.
    const std::string taken = dir.file("taken");
    std::filesystem::create_directory(qvtest::fs_path(taken));
    OutputFile out(taken);
    std::fputs("data", out.get());
    try {
        out.commit();
        ADD_FAILURE() << "a directory at the final name was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot write " + taken), std::string::npos) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_directory(qvtest::fs_path(taken)));
    EXPECT_EQ(listing(dir), (std::set<std::string>{"out.svg", "taken"}));

    // No directory to create the temporary in: an error naming the file.
    try {
        qvhost::write_file(dir.file("missing/out.csv"), "x", 1);
        ADD_FAILURE() << "wrote into a directory that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing/out.csv"), std::string::npos) << e.what();
    }
}

// "-" is standard output: cli_test.py compares --csv - and --svg - with the files.
#ifndef _WIN32
TEST(OutputFile, NeverWritesThroughALinkPlantedAtAnyName) {
    TempDir dir;
    const std::string victim = dir.file("victim"), other = dir.file("other");
    put(victim, "precious");
    put(other, "also precious");
    const std::string path = dir.file("run_0000.vtu");
    // A link at the final name and one at the name the tools used to write
    // through first.
    ASSERT_TRUE(qvtest::make_symlink(victim, path));
    ASSERT_TRUE(qvtest::make_symlink(other, path + ".part"));
    qvhost::write_file(path, "output", 6);
    EXPECT_EQ(contents(victim), "precious");
    EXPECT_EQ(contents(other), "also precious");
    EXPECT_FALSE(qvtest::is_symlink(path));
    EXPECT_EQ(contents(path), "output");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_TRUE(qvtest::is_symlink(path + ".part"));
    EXPECT_EQ(listing(dir), (std::set<std::string>{"victim", "other", "run_0000.vtu", "run_0000.vtu.part"}));
}

TEST(OutputFile, AFileMadeBeforehandNeverBecomesTheOutput) {
    TempDir dir;
    const std::string path = dir.file("out.csv");
    // Someone else's files at the final name and at the old temporary
    // name, open to all: the output must be a new file of ours.
    put(path, "theirs");
    put(path + ".part", "theirs too");
    ::chmod(path.c_str(), 0666);
    ::chmod((path + ".part").c_str(), 0666);
    struct stat before {}, part {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(::stat((path + ".part").c_str(), &part), 0);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    qvhost::write_file(path, "ours", 4);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_NE(after.st_ino, part.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0644u & ~static_cast<unsigned>(mask));
    EXPECT_EQ(contents(path + ".part"), "theirs too");
    EXPECT_EQ(contents(path), "ours");
}
#endif

TEST(OutputFile, NamesUpToTheLimitAreWrittenWithAShorterTemporary) {
    // The temporary is ".NAME.TAG.tmp", 18 bytes more than NAME with a tag
    // of 12: past 255 NAME is cut to 255 - 18 = 237 bytes.
    const std::string tag = "0123456789ab";
    EXPECT_EQ(qvhost::temporary_name("d/out.csv", tag, 255), "d/.out.csv.0123456789ab.tmp");
    EXPECT_EQ(qvhost::temporary_name(std::string(237, 'n'), tag, 255), "." + std::string(237, 'n') + "." + tag + ".tmp");
    EXPECT_EQ(qvhost::temporary_name("d/" + std::string(250, 'a'), tag, 255),
              "d/." + std::string(237, 'a') + "." + tag + ".tmp");
    // Two-byte characters (U+00E9): byte 237 is the second half of the
    // 119th, so 118 whole ones stay.
    std::string accents;
    for (int i = 0; i < 125; ++i) accents += "\xc3\xa9";
    EXPECT_EQ(qvhost::temporary_name("/x/" + accents, tag, 255), "/x/." + accents.substr(0, 236) + "." + tag + ".tmp");

#ifndef _WIN32  // a whole path there is limited to 260 characters
    TempDir dir;
    for (const std::size_t length : {239u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'a') + ".csv";
        const std::string path = dir.file(name);
        {
            OutputFile a(path), b(path);
            EXPECT_NE(a.temporary(), b.temporary());
            const std::string file = std::filesystem::path(a.temporary()).filename().string();
            EXPECT_LE(file.size(), 255u) << length;
            EXPECT_EQ(file.substr(file.size() - 4), ".tmp");
            EXPECT_EQ(std::filesystem::path(a.temporary()).parent_path(), std::filesystem::path(path).parent_path());
            std::fputs("b", b.get());
            b.commit();
            std::fputs("a", a.get());
            a.commit();
        }
        EXPECT_EQ(contents(path), "a");
        EXPECT_EQ(listing(dir), std::set<std::string>{name});
        std::filesystem::remove(qvtest::fs_path(path));
    }
#endif
}

TEST(OutputFile, ATemporaryIsRecordedForSignalsUntilRenamedOrRemoved) {
    TempDir dir;
    qvhost::TemporaryRegistry& live = qvhost::live_temporaries();
    const std::size_t before = live.size();
    {
        OutputFile kept(dir.file("kept")), dropped(dir.file("dropped"));
        EXPECT_EQ(live.size(), before + 2);
        kept.close();  // closed, not yet renamed: still a temporary
        EXPECT_EQ(live.size(), before + 2);
        kept.publish();
        EXPECT_EQ(live.size(), before + 1);
    }
    EXPECT_EQ(live.size(), before);
    EXPECT_EQ(listing(dir), std::set<std::string>{"kept"});
}

TEST(TemporaryRegistry, UnlinksWhatItHoldsAndNothingElse) {
    TempDir dir;
    const auto registry = std::make_unique<qvhost::TemporaryRegistry>();
    EXPECT_EQ(registry->size(), 0u);
    for (const char* name : {"held", "released", "never"}) put(dir.file(name), name);
    const std::size_t held = registry->add(dir.file("held"));
    const std::size_t released = registry->add(dir.file("released"));
    EXPECT_NE(held, qvhost::TemporaryRegistry::kNone);
    EXPECT_NE(released, held);
    registry->remove(released);
    EXPECT_EQ(registry->size(), 1u);
    registry->unlink_all();
    EXPECT_EQ(listing(dir), (std::set<std::string>{"released", "never"}));

    // Full, or a path longer than a slot: not held, and said so.
    for (std::size_t k = 1; k < qvhost::TemporaryRegistry::kSlots; ++k)
        EXPECT_NE(registry->add(dir.file("n" + std::to_string(k))), qvhost::TemporaryRegistry::kNone);
    EXPECT_EQ(registry->size(), qvhost::TemporaryRegistry::kSlots);
    EXPECT_EQ(registry->add(dir.file("one more")), qvhost::TemporaryRegistry::kNone);
    registry->remove(held);
    EXPECT_EQ(registry->add(std::string(qvhost::TemporaryRegistry::kPathBytes, 'x')), qvhost::TemporaryRegistry::kNone);
    EXPECT_EQ(registry->add(dir.file("fits")), held);
}

TEST(OutputSet, ReplacesTheEarlierFilesOnlyOnceEveryOneIsWritten) {
    TempDir dir;
    const std::string a = dir.file("run_1.vts"), b = dir.file("run.vtm");
    put(a, "old block");
    put(b, "old index");
    {
        qvhost::OutputSet set;
        OutputFile& block = set.add(a);
        std::fputs("new block", block.get());
        block.close();
        OutputFile& index = set.add(b, true);
        std::fputs("new index", index.get());
        // Dropped before the last is complete, as when its write fails.
    }
    EXPECT_EQ(contents(a), "old block");
    EXPECT_EQ(contents(b), "old index");
    EXPECT_EQ(listing(dir), (std::set<std::string>{"run_1.vts", "run.vtm"}));
    {
        qvhost::OutputSet set;
        for (const std::string& path : {a, b}) {
            OutputFile& f = set.add(path);
            std::fputs(("new " + path.substr(path.size() - 3)).c_str(), f.get());
            f.close();
        }
        EXPECT_EQ(contents(a), "old block");
        set.commit();
    }
    EXPECT_EQ(contents(a), "new vts");
    EXPECT_EQ(contents(b), "new vtm");
    EXPECT_EQ(listing(dir), (std::set<std::string>{"run_1.vts", "run.vtm"}));

    // The last rename fails (a directory at its name): a file renamed to a
    // free name is taken back, one that replaced a file cannot be.
    const std::string fresh = dir.file("run_2.vts"), index = dir.file("index.vtm");
    std::filesystem::create_directory(qvtest::fs_path(index));
    qvhost::OutputSet set;
    for (const std::string& path : {a, fresh, index}) {
        OutputFile& f = set.add(path);
        std::fputs("newer", f.get());
        f.close();
    }
    try {
        set.commit();
        ADD_FAILURE() << "a directory at the final name was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot write " + index), std::string::npos) << e.what();
    }
    EXPECT_EQ(contents(a), "newer");
    EXPECT_EQ(listing(dir), (std::set<std::string>{"run_1.vts", "run.vtm", "index.vtm"}));
}

#ifndef _WIN32
// What a child, its outputs protected, ends with after `act` (which
// returns its exit status): the signal that ended it, or 1000 + its status.
template <class Act>
int child_outcome(Act act) {
    const pid_t child = ::fork();
    if (child == 0) {
        int status = 99;
        try {
            status = act();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 1000 + WEXITSTATUS(status);
}

TEST(ProtectOutputs, ASignalRemovesTheTemporariesAndStillEndsTheTool) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        const std::string done = dir.file("done.vtm"), open = dir.file("open.vts"), closed = dir.file("closed.vts");
        put(done, "earlier");
        const int outcome = child_outcome([&] {
            qvhost::protect_outputs();
            OutputFile a(open);
            std::fputs("half", a.get());
            std::fflush(a.get());
            qvhost::OutputSet set;
            OutputFile& b = set.add(closed);
            b.close();
            ::kill(::getpid(), sig);
            return 0;
        });
        EXPECT_EQ(outcome, sig) << strsignal(sig);
        EXPECT_EQ(listing(dir), std::set<std::string>{"done.vtm"}) << strsignal(sig);
        EXPECT_EQ(contents(done), "earlier");
    }
    // A signal the tool was started ignoring (nohup, a background job)
    // stays ignored.
    TempDir dir;
    const int outcome = child_outcome([&] {
        ::signal(SIGINT, SIG_IGN);
        qvhost::protect_outputs();
        OutputFile a(dir.file("out"));
        ::kill(::getpid(), SIGINT);
        a.commit();
        return 7;
    });
    EXPECT_EQ(outcome, 1000 + 7);
    EXPECT_EQ(listing(dir), std::set<std::string>{"out"});
}

// A signal at any moment of a tool's writing, the creation of a temporary
// included, leaves none behind, whichever thread takes it: children whose
// three threads write and rename files without end, each interrupted
// after a different while.
TEST(ProtectOutputs, ASignalAtAnyMomentLeavesNoTemporary) {
    TempDir dir;
    for (int trial = 0; trial < 200; ++trial) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGINT, SIG_DFL);  // a background job starts with it ignored
            qvhost::protect_outputs();
            const auto write = [&](const std::string& path) {
                for (;;) try {
                        OutputFile f(path);
                        std::fputs("x", f.get());
                        f.commit();
                    } catch (...) {
                    }
            };
            std::thread a(write, dir.file("a.csv")), b(write, dir.file("b.csv"));
            write(dir.file("out.csv"));
        }
        ASSERT_GT(child, 0);
        ::usleep(static_cast<useconds_t>(500 + 37 * trial % 1500));
        ::kill(child, SIGINT);
        int status = 0;
        pid_t ended = 0;
        for (int wait = 0; wait < 10000 && ended == 0; ++wait) {
            ended = ::waitpid(child, &status, WNOHANG);
            if (ended == 0) ::usleep(1000);
        }
        if (ended == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "trial " << trial << ": the child outlived SIGINT";
        }
        ASSERT_EQ(ended, child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "trial " << trial;
        for (const std::string& name : listing(dir))
            ASSERT_TRUE(name == "a.csv" || name == "b.csv" || name == "out.csv") << "trial " << trial << ": " << name;
    }
}

TEST(ProtectOutputs, AWritePastTheFileSizeLimitFailsInsteadOfKillingTheTool) {
    TempDir dir;
    const std::string path = dir.file("big.csv");
    put(path, "earlier");
    const int outcome = child_outcome([&] {
        ::signal(SIGXFSZ, SIG_DFL);
        qvhost::protect_outputs();
        const rlimit small{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const std::string bytes(100000, 'x');
        try {
            qvhost::write_file(path, bytes.data(), bytes.size());
        } catch (const std::runtime_error& e) {
            return std::string(e.what()) == "cannot write " + path + ": " + std::strerror(EFBIG) ? 3 : 4;
        }
        return 5;
    });
    EXPECT_EQ(outcome, 1000 + 3);
    EXPECT_EQ(listing(dir), std::set<std::string>{"big.csv"});
    EXPECT_EQ(contents(path), "earlier");
}
#endif

TEST(TerminalText, ControlCharactersAreShownNotSent) {
    // ESC [ 3 1 m, BEL, DEL, CR and a C1 CSI (U+009B) in UTF-8 and raw.
    EXPECT_EQ(qvhost::terminal_text("\x1b[31mRED\x07"), "\\x1b[31mRED\\x07");
    EXPECT_EQ(qvhost::terminal_text("a\x7f" "b\rc"), "a\\x7fb\\x0dc");
    EXPECT_EQ(qvhost::terminal_text("x\xc2\x9b" "2J"), "x\\xc2\\x9b2J");
    EXPECT_EQ(qvhost::terminal_text("x\x9b" "2J"), "x\\x9b2J");
    // Line feeds and tabs in a name would forge report lines and columns;
    // in a line the tool composed they are its layout. Valid UTF-8
    // (U+00E9, U+20AC) passes.
    EXPECT_EQ(qvhost::terminal_text("S\nAB\tC\r"), "S\\x0aAB\\x09C\\x0d");
    EXPECT_EQ(qvhost::terminal_lines("a\tb\x1b\r\n"), "a\tb\\x1b\\x0d\n");
    EXPECT_EQ(qvhost::terminal_text("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
    // A Latin-1 byte outside UTF-8 and a cut sequence are shown as bytes.
    EXPECT_EQ(qvhost::terminal_text("caf\xe9"), "caf\\xe9");
    EXPECT_EQ(qvhost::terminal_text("\xe2\x82"), "\\xe2\\x82");
}

TEST(CsvField, FormulasAreTextAndNumbersStayNumbers) {
    EXPECT_EQ(qvhost::csv_field("=HYPERLINK(\"http://x\",\"y\")"), "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"");
    EXPECT_EQ(qvhost::csv_field("+1"), "'+1");
    EXPECT_EQ(qvhost::csv_field("-2+3"), "'-2+3");
    EXPECT_EQ(qvhost::csv_field("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(qvhost::csv_field("\t=1"), "'\t=1");
    EXPECT_EQ(qvhost::csv_field("\r=1"), "\"'\r=1\"");
    // Names that only hold such characters further in are left alone.
    EXPECT_EQ(qvhost::csv_field("X-VELOCITY"), "X-VELOCITY");
    EXPECT_EQ(qvhost::csv_field("a=b"), "a=b");
    EXPECT_EQ(qvhost::csv_field(""), "");
    EXPECT_EQ(qvhost::csv_field("a,b"), "\"a,b\"");
    // Escape sequences do not reach whoever prints the file.
    EXPECT_EQ(qvhost::csv_field("\x1b[31mRED\x07"), "\\x1b[31mRED\\x07");
    // C1 controls, raw or UTF-8 encoded, and bytes outside UTF-8 too;
    // UTF-8 text passes.
    EXPECT_EQ(qvhost::csv_field("T\x9b" "2J"), "T\\x9b2J");
    EXPECT_EQ(qvhost::csv_field("T\xc2\x9b" "2J"), "T\\xc2\\x9b2J");
    EXPECT_EQ(qvhost::csv_field("caf\xe9"), "caf\\xe9");
    EXPECT_EQ(qvhost::csv_field("caf\xc3\xa9,x"), "\"caf\xc3\xa9,x\"");
}

}  // namespace
