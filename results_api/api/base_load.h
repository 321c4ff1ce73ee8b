// Reading a run's base file under the reader's lock into a fresh analysis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "api/naming.h"
#include "format/failure.h"
#include "model/analysis.h"
#include "runtime/files.h"

namespace qv::api {

enum class LockState { free, locked, stale };

// The reader's lock of a run, held while its base file is read and removed
// when this object goes, on every way out, an exception included.
struct RunLock {
    std::optional<runtime::LockFile> file;
};

// Takes the reader's lock `lock_path`. Where the directory is writable the
// lock is created exclusively, and that create is the check: a lock that a
// solver or another reader made at any moment before makes it fail. Where it
// is not writable, an existing lock file refuses. A refusal is `stale` when
// the lock is one this library made for a process of this machine that no
// longer runs; `why` then says whose it was ("left by process 1234 on host
// H, which no longer runs"). With `clear_stale`, such a lock (and only such
// a one) is removed and the lock taken.
LockState lock_run(const std::string& lock_path, RunLock& lock, bool clear_stale,
                   std::string& why);

// The same judgement for a lock file that is not taken, only honoured: free
// when nothing has that name.
LockState honour_lock(const std::string& lock_path, bool clear_stale, std::string& why);

// Reads the base file of `names` into `a` (the caller holds the lock).
// `max_inflated` bounds the bytes its arrays inflate to together; 0 takes
// the default for the file's size. A failure is unreadable or damaged, and
// its message names the file and what did not fit.
format::Failure load_base(const BaseNames& names, model::Analysis& a, bool& tags_found,
                          std::int64_t max_inflated = 0);

}  // namespace qv::api
