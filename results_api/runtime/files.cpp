// Results files for reading, the lock file and the writable probe.
#include "runtime/files.h"

#include <optional>

namespace qv::runtime {

std::string trim_name(const std::string& name) {
    const std::size_t end = name.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}

bool file_exists(const std::string& name) { return platform::is_regular_file(trim_name(name)); }

bool open_input(const std::string& raw_name, InputFile& out, std::string& why) {
    out = InputFile{};
    out.name = trim_name(raw_name);
    if (!platform::is_regular_file(out.name)) {
        why = out.name + ": no such file";
        return false;
    }
    out.file = platform::File::open(out.name, platform::File::Mode::Read);
    if (!out.file) {
        why = out.name + ": cannot be opened for reading";
        return false;
    }
    out.size = out.file->size();
    return true;
}

LockFile::LockFile(const std::string& path) : path_(path) {
    // The record is made before the file: nothing that can throw runs
    // between creating the lock and owning it.
    const std::string record = std::string(kLockMarker) + "\nhost " + platform::host_name() +
                               "\nprocess " + std::to_string(platform::process_id()) + "\ntime " +
                               std::to_string(platform::seconds_now()) + "\n";
    file_ = platform::File::open(path, platform::File::Mode::CreateNew);
    // A record that cannot be written leaves a lock no one can judge stale,
    // which is what every lock of other origin is.
    if (file_) file_->write(record.data(), record.size());
}

namespace {

// Longest record judged: anything longer is not one of ours.
constexpr std::size_t kMaxLockRecord = 512;

// The value of the line "key value" of a record, or nothing.
std::optional<std::string> record_line(const std::string& record, const std::string& key) {
    std::size_t at = 0;
    while (at < record.size()) {
        const std::size_t end = record.find('\n', at);
        const std::string line = record.substr(at, end == std::string::npos ? end : end - at);
        if (line.size() > key.size() && line.compare(0, key.size() + 1, key + " ") == 0)
            return line.substr(key.size() + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return std::nullopt;
}

// Judges the lock open as `file`.
LockOrigin judge_open_lock(platform::File& file) {
    LockOrigin origin;
    const std::uint64_t size = file.size();
    if (size == 0 || size > kMaxLockRecord) return origin;
    std::string record(static_cast<std::size_t>(size), '\0');
    if (!file.read(record.data(), record.size())) return origin;
    const std::string marker = std::string(kLockMarker) + "\n";
    if (record.compare(0, marker.size(), marker) != 0) return origin;
    const auto host = record_line(record, "host");
    const auto process = record_line(record, "process");
    if (!host || !process || host->empty() || process->empty() || process->size() > 18 ||
        process->find_first_not_of("0123456789") != std::string::npos)
        return origin;
    origin.host = *host;
    origin.process = std::stoll(*process);
    const std::string here = platform::host_name();
    // Our own process still runs whatever the system says of it.
    origin.stale = !here.empty() && *host == here && origin.process != platform::process_id() &&
                   !platform::process_may_run(origin.process);
    return origin;
}

}  // namespace

LockOrigin judge_lock(const std::string& path) {
    const auto file = platform::File::open(path, platform::File::Mode::ReadEntry);
    return file ? judge_open_lock(*file) : LockOrigin{};
}

bool remove_stale_lock(const std::string& path) {
    // The file judged is the file removed: if the name was given to another
    // file meanwhile, that one stays.
    const auto file = platform::File::open(path, platform::File::Mode::ReadEntry);
    return file && judge_open_lock(*file).stale && file->remove_if_same(path);
}

LockFile::~LockFile() {
    if (file_) file_->remove_if_same(path_);
}

int probe_writable(const std::string& raw_path) {
    const std::string path = trim_name(raw_path);
    std::string candidate;
    bool free_name = false;
    for (int counter = 0; counter <= 99 && !free_name; ++counter) {
        candidate = path + "_$QVTEST" + std::to_string(counter) + ".SYS";
        free_name = !platform::entry_exists(candidate);
    }
    if (!free_name) return 1;
    // Created exclusively, so a file that appeared meanwhile is never
    // mistaken for ours and deleted.
    const auto file = platform::File::open(candidate, platform::File::Mode::CreateNew);
    if (!file) return 1;
    file->remove_if_same(candidate);
    return 0;
}

}  // namespace qv::runtime
