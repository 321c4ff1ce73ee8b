// Name rules: from one path to the base file, the lock files and the run
// prefix.
#include "api/naming.h"

#include <string_view>

#include "runtime/files.h"

namespace qv::api {

std::optional<std::string> file_name_part(const std::string& path) {
    if (path.empty() || path.size() > kMaxPath) return std::nullopt;
    const platform::PathParts parts = platform::split_path(path);
    if (parts.name.size() > kMaxName || parts.extension.size() > kMaxExtension)
        return std::nullopt;
    return parts.name;
}

std::optional<std::string> run_prefix(const std::string& name) {
    // Scanned from the end; position 0 is never examined.
    int found = 0;
    for (std::size_t pos = name.size() - (name.empty() ? 0 : 1); pos >= 1; --pos)
        if (name[pos] == '_' && ++found == 2) return name.substr(0, pos);
    return std::nullopt;
}

BaseNames base_names(const std::string& path) {
    BaseNames names;
    const std::size_t underscore = path.find_last_of('_');
    const std::size_t p = underscore == std::string::npos ? 0 : underscore + 1;  // 1-based
    const std::string stem = p == 0 ? std::string() : path.substr(0, p - 1);
    const std::string newer = stem + ".qvres_base";
    const std::string older = path.substr(0, p) + "base.qvres";
    if (runtime::file_exists(newer))
        names.base_file = newer;
    else if (runtime::file_exists(older))
        names.base_file = older;
    names.lock_file = stem + ".lock";
    names.names_base_file = path.compare(p, 4, "base") == 0;
    return names;
}

std::string run_stem(const std::string& base_file) {
    for (const std::string_view suffix : {std::string_view(".qvres_base"), std::string_view("_base.qvres")})
        if (base_file.size() > suffix.size() &&
            base_file.compare(base_file.size() - suffix.size(), suffix.size(), suffix) == 0)
            return base_file.substr(0, base_file.size() - suffix.size());
    return base_file;
}

bool is_older_base_file(const std::string& file_name) {
    const std::size_t underscore = file_name.find_last_of('_');
    return underscore != std::string::npos && file_name.compare(underscore + 1, 4, "base") == 0;
}

}  // namespace qv::api
