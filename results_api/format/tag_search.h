// Finding a section by its tag record: a record whose first 50 characters
// hold the tag, blank-padded.
#pragma once

#include <string>

#include "runtime/file_units.h"

namespace qv::format {

inline constexpr std::size_t kTagLength = 50;

// Searches forward from the current position, rewinding once at the end of
// the file. Returns 0 with the file positioned just after the tag record, or
// 1 after recording "Could not find search string (<tag>) in results file"
// in the store's message text.
int find_tag(runtime::Connection& c, const std::string& tag);

}  // namespace qv::format
