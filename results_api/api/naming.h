// Names derived from the one path a host gives: the base file, the lock
// files, the run prefix; and the limits on the lengths of those names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv::api {

// Longest path the library accepts, and the longest name and extension of
// its last component.
inline constexpr std::size_t kMaxPath = 511;
inline constexpr std::size_t kMaxName = 63;
inline constexpr std::size_t kMaxExtension = 31;
// Longest directory the scan accepts, and longest registered file name.
inline constexpr std::size_t kMaxScanDirectory = 261;
inline constexpr std::size_t kMaxStepFileName = 256;

// The name of the last component of a path, without its extension; nothing
// when the path or its parts are longer than the limits above.
std::optional<std::string> file_name_part(const std::string& path);

// The run prefix: the name up to its second-to-last underscore (the first
// character is never taken as one); nothing with fewer than two.
std::optional<std::string> run_prefix(const std::string& name);

// The base file that belongs to `path`: stem + ".qvres_base", else
// stem + "_base.qvres", the stem ending before the path's last underscore.
struct BaseNames {
    std::string base_file;  // empty when neither exists
    std::string lock_file;  // the reader's lock: stem + ".lock"
    bool names_base_file = false;  // `path` itself names an older-form base file
};
BaseNames base_names(const std::string& path);

// The run's stem of a base file path: the path without ".qvres_base" or
// "_base.qvres"; the path itself when it has neither.
std::string run_stem(const std::string& base_file);

// An older-form base file also ends in ".qvres": its file name has "base"
// right after its last underscore. Only the file name counts, so that an
// underscore in the directory cannot hide a run's cycle files.
bool is_older_base_file(const std::string& file_name);

}  // namespace qv::api
