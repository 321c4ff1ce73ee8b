// Reading a run's base file under the reader's lock into a fresh analysis.
#pragma once

#include <string>

#include "api/naming.h"
#include "model/analysis.h"

namespace qv::api {

enum class BaseLoad { ok, unreadable, damaged };

// Creates the reader's lock (when the directory is writable), reads the base
// file of `names` into `a` and removes the lock again on every way out, an
// exception included. `why` names the file and what did not fit.
BaseLoad load_base(const BaseNames& names, model::Analysis& a, bool& tags_found, std::string& why);

}  // namespace qv::api
