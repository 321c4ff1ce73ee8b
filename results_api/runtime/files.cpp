// Results files for reading, the lock file and the writable probe.
#include "runtime/files.h"

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
    file_ = platform::File::open(path, platform::File::Mode::CreateNew);
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
