// The one status of every reader in this folder.
#pragma once

namespace qv::format {

enum class Read {
    ok,               // the wanted data were read
    end,              // no record left
    damaged,          // a record or section does not fit (truncated, counts that lie)
    corrupt_stream,   // the records are intact but a zlib stream is not
    not_found,        // no result directory entry matches
    no_arrays,        // the cycle header says the section holds no arrays
    section_missing,  // the section tag is not in the file
    not_open,         // no cycle file is open
};

// A failed record read inside a structure that needed the record.
inline Read damaged_if_end(Read r) { return r == Read::end ? Read::damaged : r; }

}  // namespace qv::format
