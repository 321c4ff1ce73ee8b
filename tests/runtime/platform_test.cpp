// The platform layer on the system it was built for: names beyond ASCII
// (on Windows in the calling thread's ANSI code page), directory listings,
// 64-bit positions, the processors a thread may use, and on Windows the
// names that are devices.
#include "runtime/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/confined.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#endif

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using qvtest::TempDir;

std::vector<std::string> listed(const std::string& directory) {
    const auto names = list_directory(directory);
    EXPECT_TRUE(names.has_value()) << directory;
    return names.value_or(std::vector<std::string>{});
}

TEST(Platform, NamesBeyondAsciiReachTheirFiles) {
    TempDir dir;
    const std::string name = qvtest::non_ascii_name();
    ASSERT_FALSE(name.empty()) << "the ANSI code page has no letters beyond ASCII";
    const std::string sub = dir.file(name);
    fs::create_directory(qvtest::fs_path(sub));
    EXPECT_TRUE(is_directory(sub));
    EXPECT_TRUE(entry_exists(sub));

    const std::string file = sub + "/" + name + "_0001.qvres";
    {
        ASSERT_TRUE(File::open(file, File::Mode::CreateNew));
        std::ofstream(qvtest::fs_path(file), std::ios::binary) << "abc";
    }
    // The file has the name given, as the system reads it back.
    EXPECT_TRUE(fs::is_regular_file(qvtest::fs_path(file)));
    EXPECT_TRUE(is_regular_file(file));
    EXPECT_TRUE(entry_exists(file));
    EXPECT_FALSE(File::open(file, File::Mode::CreateNew));
    EXPECT_EQ(listed(sub), std::vector<std::string>{name + "_0001.qvres"});

    const PathParts parts = split_path(file);
    EXPECT_EQ(parts.directory, sub + "/");
    EXPECT_EQ(parts.name, name + "_0001");
    EXPECT_EQ(parts.extension, ".qvres");

    const auto read = File::open(file, File::Mode::Read);
    ASSERT_TRUE(read);
    char bytes[3] = {};
    ASSERT_TRUE(read->read(bytes, 3));
    EXPECT_EQ(std::string(bytes, 3), "abc");
    EXPECT_TRUE(read->remove_if_same(file));
}

TEST(Platform, WhatANameIsAndWhatAListingHolds) {
    TempDir dir;
    std::ofstream(dir.file("file")) << "x";
    fs::create_directory(dir.file("sub"));
    std::ofstream(dir.file("sub/run_0003.qvres")) << "x";
    fs::create_directory(dir.file("empty.qvres"));
    EXPECT_TRUE(is_regular_file(dir.file("file")));
    EXPECT_FALSE(is_regular_file(dir.file("sub")));
    EXPECT_FALSE(is_regular_file(dir.file("missing")));
    EXPECT_FALSE(is_regular_file(""));
    EXPECT_TRUE(is_directory(dir.file("sub")));
    EXPECT_FALSE(is_directory(dir.file("file")));
    EXPECT_TRUE(entry_exists(dir.file("sub")));
    EXPECT_TRUE(entry_exists(dir.file("file")));
    EXPECT_FALSE(entry_exists(dir.file("missing")));
    EXPECT_FALSE(entry_exists(dir.file("file/below")));
    // A directory cannot be opened as a file, nor created over.
    EXPECT_FALSE(File::open(dir.file("sub"), File::Mode::Read));
    EXPECT_FALSE(File::open(dir.file("sub"), File::Mode::CreateNew));
    EXPECT_FALSE(File::open(dir.file("missing/file"), File::Mode::CreateNew));
    // Listings hold the files of a directory, not its directories, nor
    // what those hold.
    EXPECT_EQ(listed(dir.path()), std::vector<std::string>{"file"});
    EXPECT_EQ(listed(dir.file("sub") + "/"), std::vector<std::string>{"run_0003.qvres"});
    EXPECT_TRUE(listed(dir.file("empty.qvres")).empty());
    EXPECT_FALSE(list_directory(dir.file("missing")).has_value());
    EXPECT_FALSE(list_directory(dir.file("file")).has_value());

    // A dangling link is an entry but no file; a link to a file leads to it.
    if (qvtest::make_symlink(dir.file("nowhere"), dir.file("dangling"))) {
        EXPECT_TRUE(entry_exists(dir.file("dangling")));
        EXPECT_FALSE(is_regular_file(dir.file("dangling")));
        ASSERT_TRUE(qvtest::make_symlink(dir.file("file"), dir.file("link")));
        EXPECT_TRUE(is_regular_file(dir.file("link")));
        EXPECT_TRUE(File::open(dir.file("link"), File::Mode::Read));
        // Listings keep links to files and dangling links, and leave links
        // to directories out as they do directories.
        std::vector<std::string> expected{"dangling", "file", "link"};
#ifndef _WIN32
        ASSERT_TRUE(qvtest::make_symlink(dir.file("sub"), dir.file("sub_link")));
#endif
        std::vector<std::string> names = listed(dir.path());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected);
    }
}

// Positions beyond 4 GiB, in a sparse file: a position kept in 32 bits
// reads the start of the file instead.
TEST(Platform, PositionsBeyondFourGibibytes) {
    TempDir dir;
    const std::string path = dir.file("large.qvres");
    const std::uint64_t beyond = (std::uint64_t{1} << 32) + 5;
#ifdef _WIN32
    {
        const HANDLE h = ::CreateFileW(qvtest::fs_path(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD returned = 0;
        ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        ::WriteFile(h, "head", 4, &returned, nullptr);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(beyond);
        ASSERT_TRUE(::SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(h, "tail", 4, &returned, nullptr));
        ::CloseHandle(h);
    }
#else
    {
        std::ofstream out(path, std::ios::binary);
        out << "head";
        out.seekp(static_cast<std::streamoff>(beyond));
        out << "tail";
        ASSERT_TRUE(out.good());
    }
#endif
    const auto file = File::open(path, File::Mode::Read);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), beyond + 4);
    char bytes[4] = {};
    ASSERT_TRUE(file->seek(beyond));
    EXPECT_EQ(file->position(), beyond);
    ASSERT_TRUE(file->read(bytes, 4));
    EXPECT_EQ(std::string(bytes, 4), "tail");
    EXPECT_EQ(file->position(), beyond + 4);
    EXPECT_FALSE(file->read(bytes, 1));
    ASSERT_TRUE(file->seek(0));
    ASSERT_TRUE(file->read(bytes, 4));
    EXPECT_EQ(std::string(bytes, 4), "head");
    EXPECT_FALSE(file->seek(std::uint64_t{1} << 63));
}

// Reads of every size at every kind of position give the file's bytes: small
// ones served from the read-ahead, large ones made directly, the small ones
// after a large one (a narrower read-ahead), reads across the end of what
// the read-ahead holds, and reads past the end of the file, which fail.
TEST(Platform, ReadsGiveTheFilesBytesWhateverTheirSizes) {
    TempDir dir;
    const std::string path = dir.file("pattern.qvres");
    std::vector<std::uint8_t> bytes(300000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    const auto file = File::open(path, File::Mode::Read);
    ASSERT_TRUE(file);
    // A fixed walk: record-like small reads between payload-like large ones,
    // and now and then a seek.
    const std::size_t sizes[] = {4, 8, 4, 4, 70000, 4, 16, 4, 40000, 4, 300, 33000, 1, 5000, 12};
    std::vector<std::uint8_t> got(70000);
    std::uint64_t at = 0;
    for (int round = 0; round < 12; ++round) {
        if (round % 4 == 3) {
            at = (at * 13 + 977) % bytes.size();
            ASSERT_TRUE(file->seek(at));
        }
        for (const std::size_t n : sizes) {
            const bool fits = at + n <= bytes.size();
            ASSERT_EQ(file->read(got.data(), n), fits) << "round " << round << " at " << at << " size " << n;
            if (!fits) {
                at = 0;
                ASSERT_TRUE(file->seek(0));
                continue;
            }
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(at)))
                << "round " << round << " at " << at << " size " << n;
            at += n;
            ASSERT_EQ(file->position(), at);
        }
    }
}

// A thread confined to a few processors counts those, not the machine's.
TEST(Platform, UsableProcessorsAreThoseTheThreadMayRunOn) {
    int checked = 0;
    for (int count : {1, 2}) {
        qvtest::ConfinedProcessors confined(count);
        if (!confined.confined()) continue;
        EXPECT_EQ(usable_processors(), static_cast<unsigned>(count));
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "the thread cannot be confined here";
}

#ifndef _WIN32
// A control group's quota, over trees of groups written here: the least
// of the group's and those above it, rounded up, whichever version.
TEST(Platform, ProcessorQuotaIsTheLeastOfTheGroupAndThoseAboveIt) {
    struct Case {
        const char* what;
        const char* membership;
        std::vector<std::pair<const char*, const char*>> files;  // path under the root, text
        unsigned processors;
    };
    const std::vector<Case> cases = {
        {"no group files", "0::/a/b\n", {}, 0},
        {"no quota anywhere", "0::/a/b\n", {{"a/b/cpu.max", "max 100000\n"}, {"a/cpu.max", "max 100000\n"}}, 0},
        {"the group's, rounded up", "0::/a/b\n", {{"a/b/cpu.max", "150000 100000\n"}}, 2},
        {"a parent's, less than the group's", "0::/a/b\n",
         {{"a/b/cpu.max", "800000 100000\n"}, {"a/cpu.max", "250000 100000\n"}}, 3},
        {"the group's, less than the parent's", "0::/a/b\n",
         {{"a/b/cpu.max", "100000 100000\n"}, {"a/cpu.max", "400000 100000\n"}}, 1},
        {"a path not mounted: the root's", "0::/elsewhere/c\n", {{"cpu.max", "400000 100000\n"}}, 4},
        {"less than one processor is one", "0::/\n", {{"cpu.max", "20000 100000\n"}}, 1},
        {"version 1, cpu and cpuacct together", "5:memory:/m\n4:cpu,cpuacct:/x\n0::/\n",
         {{"cpu,cpuacct/x/cpu.cfs_quota_us", "350000\n"}, {"cpu,cpuacct/x/cpu.cfs_period_us", "100000\n"}}, 4},
        {"version 1, cpu alone, no quota (-1)", "2:cpuacct:/\n1:cpu:/\n0::/\n",
         {{"cpu/cpu.cfs_quota_us", "-1\n"}, {"cpu/cpu.cfs_period_us", "100000\n"}}, 0},
        {"only the processor controller's group counts", "4:memory:/x\n1:cpu:/\n",
         {{"cpu,cpuacct/x/cpu.cfs_quota_us", "100000\n"}, {"cpu,cpuacct/x/cpu.cfs_period_us", "100000\n"}}, 0},
        {"a path that climbs is not followed", "0::/b/../a\n",
         {{"a/cpu.max", "100000 100000\n"}, {"b/cpu.max", "max 100000\n"}}, 0},
        {"words that are no numbers", "0::/\n", {{"cpu.max", "1e5 100000\n"}}, 0},
        {"a zero period", "0::/\n", {{"cpu.max", "100000 0\n"}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& [path, text] : c.files) {
            fs::create_directories(fs::path(dir.file(path)).parent_path());
            std::ofstream(dir.file(path)) << text;
        }
        EXPECT_EQ(processor_quota(c.membership, dir.path()), c.processors);
    }
}
#endif

#ifdef _WIN32

// The calling thread's code page, set for the scope of a test.
class ThreadLocale {
public:
    explicit ThreadLocale(LCID locale) : saved_(::GetThreadLocale()) { ::SetThreadLocale(locale); }
    ~ThreadLocale() { ::SetThreadLocale(saved_); }

private:
    LCID saved_;
};

// Paths are read in the calling thread's code page. In the Japanese one,
// "\x95\x5c" is one character (U+8868) whose second byte is a backslash:
// it is no separator.
TEST(PlatformWindows, PathsAreTextInTheThreadsCodePage) {
    TempDir dir;
    const std::string japanese = "\x95\x5c_0001.qvres";
    const fs::path wide_name = L"\u8868_0001.qvres";
    {
        ThreadLocale locale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
        CPINFO cp{};
        ASSERT_TRUE(::GetCPInfo(CP_THREAD_ACP, &cp) && cp.MaxCharSize == 2)
            << "the system has no Japanese code page";
        const std::string path = dir.file(japanese);
        const PathParts parts = split_path(path);
        EXPECT_EQ(parts.directory, dir.path() + "/");
        EXPECT_EQ(parts.name, "\x95\x5c_0001");
        EXPECT_EQ(parts.extension, ".qvres");
        ASSERT_TRUE(File::open(path, File::Mode::CreateNew));
        EXPECT_TRUE(is_regular_file(path));
        EXPECT_EQ(listed(dir.path()), std::vector<std::string>{japanese});
    }
    EXPECT_TRUE(fs::is_regular_file(qvtest::fs_path(dir.path()) / wide_name));
}

// Reserved device names are no files: they are never opened, and nothing
// is created under them.
TEST(PlatformWindows, DeviceNamesAreNoFiles) {
    TempDir dir;
    for (const std::string& device : {std::string("NUL"), std::string("COM1"), dir.file("CON")}) {
        EXPECT_FALSE(is_regular_file(device)) << device;
        EXPECT_FALSE(File::open(device, File::Mode::Read)) << device;
        EXPECT_FALSE(File::open(device, File::Mode::CreateNew)) << device;
    }
    EXPECT_TRUE(listed(dir.path()).empty());
}

// Drive-relative names split after the drive; backslashes are separators.
TEST(PlatformWindows, DrivesAndBackslashesSplit) {
    PathParts parts = split_path("C:run_0001.qvres");
    EXPECT_EQ(parts.directory, "C:");
    EXPECT_EQ(parts.name, "run_0001");
    parts = split_path("C:\\runs\\a.b\\run_0001");
    EXPECT_EQ(parts.directory, "C:\\runs\\a.b\\");
    EXPECT_EQ(parts.name, "run_0001");
    EXPECT_EQ(parts.extension, "");
}

// Bytes that are no text in the code page name nothing.
TEST(PlatformWindows, BytesThatAreNoTextNameNothing) {
    TempDir dir;
    ThreadLocale locale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
    const std::string broken = dir.file("run_0001.qvres\x81");  // a lead byte without its second
    EXPECT_FALSE(File::open(broken, File::Mode::CreateNew));
    EXPECT_FALSE(entry_exists(broken));
    EXPECT_TRUE(listed(dir.path()).empty());
}

#endif  // _WIN32

}  // namespace
}  // namespace qv::platform
