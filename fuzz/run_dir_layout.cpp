// Decoding a fuzz input into a run directory, and building it on disk.
// POSIX only: modes, links and lstat.
#include "run_dir_layout.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "seed_model.h"

namespace qvfuzz::run_dir {
namespace {

// The input, byte by byte; 0 once it is used up.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t u16() {
        const std::uint8_t high = u8();
        return static_cast<std::uint16_t>(high << 8 | u8());
    }
    bool done() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A cycle file's name is stem_NNNN; the run prefix ends at the stem's last
// underscore. "run" has none: its files have no run prefix.
const char* const kStems[] = {"run_cyc", "job_a_cyc", "run.v2_c", "run"};

float cycle_time(std::uint8_t t) {
    if (t < 0xF0) return float(t) * 0.5f;
    if (t < 0xF8) return std::numeric_limits<float>::quiet_NaN();
    if (t == 0xF8) return std::numeric_limits<float>::infinity();
    if (t == 0xF9) return -std::numeric_limits<float>::infinity();
    return -float(t - 0xF9);
}

// The seed files, written once per process (per cycle number and time).
const std::vector<std::uint8_t>& base_bytes() {
    static const std::vector<std::uint8_t> bytes =
        qvw::write_base_file(qvfuzz::seed_base()).bytes();
    return bytes;
}

const std::vector<std::uint8_t>& cycle_bytes(std::uint8_t cycle, std::uint8_t time) {
    static std::map<std::pair<std::uint8_t, std::uint8_t>, std::vector<std::uint8_t>> cache;
    auto& bytes = cache[{cycle, time}];
    if (bytes.empty()) {
        qvw::CycleFileSpec c = qvfuzz::seed_cycle(6);
        c.cycle = cycle;
        c.time = cycle_time(time);
        bytes = qvw::write_cycle_file(c).bytes();
    }
    return bytes;
}

std::string digits(std::uint8_t p) {
    std::string d = std::to_string(p);
    return std::string(4 - d.size(), '0') + d;
}

// stem_ followed by digits up to `length` characters (at least one digit).
std::string padded_cycle_name(const std::string& stem, std::size_t length) {
    std::string name = stem + "_";
    do name += char('0' + name.size() % 10);
    while (name.size() < length);
    return name;
}

std::string decode_name(Reader& in, const std::string& stem, const Places& places) {
    const std::uint8_t n = in.u8(), p = in.u8();
    const bool variant = n & 0x10;
    const std::string nnnn = digits(p);
    const int offset = (p & 7) - 4;
    switch (n & 15) {
    case kNewerBase: return stem + ".qvres_base";
    case kOlderBase: return stem + "_base.qvres";
    case kOtherRun: return "other_" + nnnn + ".qvres";
    case kWrongCase: return stem + "_" + nnnn + ".QVRES";
    case kPrefixLookAlike: return stem + "x_" + nnnn + ".qvres";
    case kUnderscores:
        return variant ? stem + "__" + nnnn + ".qvres" : stem + "_" + nnnn + "_" + nnnn + ".qvres";
    case kLeadingUnderscore:
        return variant ? "_" + nnnn + ".qvres" : "_" + stem + "_" + nnnn + ".qvres";
    case kLongName: return padded_cycle_name(stem, std::size_t(63 + offset)) + ".qvres";
    case kLongExtension:
        return stem + "_" + nnnn + "." + std::string(std::size_t(30 + offset), 'q');
    case kLongPath: {
        // run directory + '/' + name = 256 + offset characters.
        const std::size_t full = std::size_t(256 + offset), used = places.run.size() + 1 + 6;
        return padded_cycle_name(stem, full > used ? full - used : 1) + ".qvres";
    }
    case kByteName: {
        std::string name;
        for (int i = 0, length = p % 40 + 1; i < length; ++i) {
            const char c = char(in.u8());
            name += c == '/' || c == '\0' ? '_' : c;
        }
        if (name == "." || name == "..") name = "x";
        return variant ? name + ".qvres" : name;
    }
    case kNonDigitTail: return stem + "_" + nnnn + "x.qvres";
    case kTrailingBlank: return stem + "_" + nnnn + ".qvres ";
    default: return stem + "_" + nnnn + ".qvres";  // kCycleName
    }
}

std::string lock_of(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".lock";
}

std::vector<std::uint8_t> file_content(Reader& in, std::uint8_t kind) {
    const unsigned content = (kind >> 2) & 7;
    if (content == kEmpty) return {};
    if (content == kRaw) {
        std::vector<std::uint8_t> bytes(in.u8());
        for (std::uint8_t& b : bytes) b = in.u8();
        return bytes;
    }
    std::vector<std::uint8_t> bytes;
    const bool damaged = content == kTruncated || content == kDamaged;
    if (content == kBase || (damaged && (kind & kFromBase))) {
        bytes = base_bytes();
    } else {
        const std::uint8_t cycle = in.u8();
        bytes = cycle_bytes(cycle, in.u8());
    }
    if (content == kTruncated) {
        bytes.resize(in.u16() % bytes.size());
    } else if (content == kDamaged) {
        const std::size_t at = in.u16() % bytes.size();
        const std::uint8_t x = in.u8();
        bytes[at] ^= x ? x : 0xFF;
    }
    return bytes;
}

Entry decode_entry(Reader& in, const std::string& stem, const Places& places,
                   const std::vector<Entry>& earlier, bool& caller_lock) {
    const std::uint8_t kind = in.u8();
    Entry e;
    e.name = decode_name(in, stem, places);
    caller_lock = false;
    switch (kind & 3) {
    case kLock:
        e.name = lock_of(e.name);
        caller_lock = kind & kCallerLock;
        switch ((kind >> 2) & 7) {
        case kLockDirectory: e.type = Entry::Type::Directory; break;
        case kLockDangling: e.target = places.run + "/nothing"; break;
        case kLockToOutsideFile: e.target = places.outside + "/target.qvres"; break;
        case kLockToOutsideDirectory: e.target = places.outside + "/dir"; break;
        default: break;  // a regular, empty file
        }
        if (!e.target.empty()) e.type = Entry::Type::Link;
        break;
    case kSpecial:
        if (!(kind & kLinkBit)) {
            e.type = Entry::Type::Directory;
            break;
        }
        e.type = Entry::Type::Link;
        switch ((kind >> 3) & 3) {
        case kToOutsideFile: e.target = places.outside + "/target.qvres"; break;
        case kToOutsideDirectory: e.target = places.outside + "/dir"; break;
        case kToPreviousEntry:
            if (!earlier.empty()) {
                e.target = earlier.back().name;  // relative: beside the link
                break;
            }
            [[fallthrough]];
        default: e.target = places.run + "/nothing"; break;
        }
        break;
    default:
        e.bytes = file_content(in, kind);
        e.unreadable = kind & kUnreadable;
        break;
    }
    return e;
}

// `base` + "/." repeated (and one more '/' for an odd remainder) + `tail`,
// `length` characters in all when `base` + `tail` is not longer.
std::string padded(const std::string& base, const std::string& tail, std::size_t length) {
    std::string s = base;
    while (s.size() + tail.size() + 2 <= length) s += "/.";
    if (s.size() + tail.size() < length) s += '/';
    return s + tail;
}

}  // namespace

Layout decode(const std::uint8_t* data, std::size_t size, const Places& places) {
    Reader in(data, size);
    const std::uint8_t h0 = in.u8(), h1 = in.u8(), h2 = in.u8(), h3 = in.u8(), h4 = in.u8();
    const std::string stem = kStems[h0 >> 6];
    const int offset = ((h2 >> 1) & 7) - 4;

    Layout out;
    std::vector<bool> caller_locks;
    while (!in.done() && out.entries.size() < kMaxEntries) {
        bool caller_lock = false;
        out.entries.push_back(decode_entry(in, stem, places, out.entries, caller_lock));
        caller_locks.push_back(caller_lock);
    }

    // The host's file: an entry other than the locks named after it.
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < out.entries.size(); ++i)
        if (!caller_locks[i]) named.push_back(i);
    const std::string host =
        named.empty() ? stem + "_0001.qvres" : out.entries[named[h1 % named.size()]].name;
    for (std::size_t i = 0; i < out.entries.size(); ++i)
        if (caller_locks[i]) out.entries[i].name = lock_of(host);

    const int modes[] = {0, 1, 1, h2 & 0x80 ? -1 : 2};
    out.mode = modes[h0 & 3];
    switch ((h0 >> 2) & 3) {
    case 0: out.directory = places.run; break;
    case 1: out.directory = places.run + "/"; break;
    case 2:
        out.directory = padded(places.run, "", std::size_t((h2 & 1 ? 511 : 261) + offset));
        break;
    default: {
        const std::string others[] = {places.outside, places.run + "/missing", places.outside + "/",
                                      places.run + "/.."};
        out.directory = others[(h2 >> 4) & 3];
    }
    }
    switch ((h0 >> 4) & 3) {
    case 1: out.path = padded(places.run, "/" + host, std::size_t(511 + offset)); break;
    case 2: out.path = out.directory + "/" + host; break;
    default: out.path = places.run + "/" + host; break;
    }
    for (const std::uint8_t v : {h3, h4}) {
        switch (v & 7) {
        case 4: out.results_files.push_back(places.run + "/missing.qvres"); break;
        case 5: out.results_files.push_back(places.run); break;
        case 6: out.results_files.push_back(places.outside + "/target.qvres"); break;
        case 7: break;
        default:
            out.results_files.push_back(
                places.run + "/" +
                (out.entries.empty() ? host : out.entries[(v >> 3) % out.entries.size()].name));
        }
    }
    return out;
}

namespace {

bool write_all(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += std::size_t(n);
    }
    ::close(fd);
    return done == bytes.size();
}

}  // namespace

bool build(const Layout& layout, const Places& places) {
    std::error_code ec;
    std::filesystem::remove_all(places.run, ec);
    if (::mkdir(places.run.c_str(), 0777) != 0 || ::chmod(places.run.c_str(), 0777) != 0)
        return false;
    std::set<std::string> taken;
    for (const Entry& e : layout.entries) {
        if (e.name.empty() || e.name.size() > 255 || !taken.insert(e.name).second) continue;
        const std::string path = places.run + "/" + e.name;
        switch (e.type) {
        case Entry::Type::File:
            if (write_all(path, e.bytes)) ::chmod(path.c_str(), e.unreadable ? 0 : 0644);
            break;
        case Entry::Type::Directory:
            if (::mkdir(path.c_str(), 0755) == 0) ::chmod(path.c_str(), 0755);
            break;
        case Entry::Type::Link: (void)::symlink(e.target.c_str(), path.c_str()); break;
        }
    }
    return true;
}

bool make_outside(const Places& places) {
    const std::string dir = places.outside + "/dir", file = places.outside + "/target.qvres";
    return ::mkdir(places.outside.c_str(), 0777) == 0 &&
           ::chmod(places.outside.c_str(), 0777) == 0 && ::mkdir(dir.c_str(), 0777) == 0 &&
           ::chmod(dir.c_str(), 0777) == 0 &&
           write_all(file, cycle_bytes(7, 8)) && ::chmod(file.c_str(), 0666) == 0;
}

std::vector<EntryState> list_states(const std::string& directory) {
    std::vector<EntryState> out;
    DIR* d = ::opendir(directory.c_str());
    if (!d) return out;
    while (const struct ::dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct ::stat st {};
        EntryState s;
        s.name = name;
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            s.type = st.st_mode;  // type and permission bits
            s.size = st.st_size;
            s.mtime_ns = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        }
        out.push_back(s);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(),
              [](const EntryState& a, const EntryState& b) { return a.name < b.name; });
    return out;
}

}  // namespace qvfuzz::run_dir
