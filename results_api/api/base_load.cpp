// The reader's lock and the base file.
#include "api/base_load.h"

#include "format/base_file.h"

namespace qv::api {

LockState honour_lock(const std::string& lock_path, bool clear_stale, std::string& why) {
    if (!platform::entry_exists(lock_path)) return LockState::free;
    const runtime::LockOrigin origin = runtime::judge_lock(lock_path);
    if (!origin.stale) return LockState::locked;
    if (clear_stale && runtime::remove_stale_lock(lock_path) && !platform::entry_exists(lock_path))
        return LockState::free;
    why = "left by process " + std::to_string(origin.process) + " on host " + origin.host +
          ", which no longer runs";
    return LockState::stale;
}

LockState lock_run(const std::string& lock_path, RunLock& lock, bool clear_stale,
                   std::string& why) {
    lock.file.reset();
    if (runtime::probe_writable(lock_path) != 0) return honour_lock(lock_path, clear_stale, why);
    lock.file.emplace(lock_path);
    if (lock.file->held()) return LockState::free;
    lock.file.reset();
    const LockState state = honour_lock(lock_path, clear_stale, why);
    if (state != LockState::free) return state;
    // The stale lock is gone (or went meanwhile): the create is tried once more.
    lock.file.emplace(lock_path);
    if (lock.file->held()) return LockState::free;
    lock.file.reset();
    // A create that fails with nothing in its way is no lock: read unlocked,
    // as in a directory that cannot be written.
    return platform::entry_exists(lock_path) ? LockState::locked : LockState::free;
}

format::Failure load_base(const BaseNames& names, model::Analysis& a, bool& tags_found,
                          std::int64_t max_inflated) {
    format::Failure failure;
    runtime::InputFile file;
    if (!runtime::open_input(names.base_file, file, failure.detail)) {
        failure.status = format::Status::unreadable;
        return failure;
    }
    format::RecordReader r(std::move(file));
    r.limit_inflation(max_inflated > 0 ? max_inflated : format::default_inflation_limit(r.size()));
    if (format::read_base_file(r, a, tags_found)) return failure;
    failure = r.failure();
    failure.status = format::Status::damaged;
    return failure;
}

}  // namespace qv::api
