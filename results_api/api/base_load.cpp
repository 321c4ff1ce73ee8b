// The base file under the reader's lock.
#include "api/base_load.h"

#include <optional>

#include "format/base_file.h"
#include "runtime/files.h"

namespace qv::api {

BaseLoad load_base(const BaseNames& names, model::Analysis& a, bool& tags_found, std::string& why) {
    std::optional<runtime::LockFile> lock;
    if (runtime::probe_writable(names.lock_file) == 0) lock.emplace(names.lock_file);
    runtime::InputFile file;
    if (!runtime::open_input(names.base_file, file, why)) return BaseLoad::unreadable;
    format::RecordReader r(std::move(file));
    if (format::read_base_file(r, a, tags_found)) return BaseLoad::ok;
    why = r.reason();
    return BaseLoad::damaged;
}

}  // namespace qv::api
