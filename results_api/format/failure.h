// The one failure type of the readers and the value queries: a status and,
// when it is not ok, where it happened (the file, the section, the array
// and the byte offset). Filling it costs nothing on the way that succeeds:
// the texts are copied and the message is built only when something failed.
#pragma once

#include <cstdint>
#include <string>

namespace qv::format {

enum class Status {
    ok,               // the wanted data were read
    end,              // no record left
    damaged,          // a record or section does not fit (truncated, counts that lie)
    corrupt_stream,   // the records are intact but a zlib stream is not
    not_found,        // no result directory entry matches
    no_arrays,        // the cycle header says the section holds no arrays
    section_missing,  // the section tag is not in the file
    not_open,         // no cycle file is open
    missing,          // the file is not there
    unreadable,       // the file is there but cannot be opened
    not_ready,        // no cycle open, or the model is not valid
    not_stored,       // the cycle does not store the array (or the variable is unknown)
    capacity,         // the caller's buffer is smaller than the values to write
    argument,         // no such material, joint quantity, ...
};

// A failed record read inside a structure that needed the record.
inline Status damaged_if_end(Status r) { return r == Status::end ? Status::damaged : r; }

struct Failure {
    Status status = Status::ok;
    // Where. The file and the words of `detail` are set only on failure; the
    // section and the names of the array (up to two numbers, such as
    // variable 64, part 1) are literals a caller may set before it asks.
    std::string file;
    const char* section = nullptr;
    const char* names[2] = {nullptr, nullptr};
    std::int32_t numbers[2] = {0, 0};
    // The offset of the record where damage was met; -1 when none.
    std::int64_t offset = -1;
    // What did not fit, in words, for failures no status describes alone.
    std::string detail;

    bool ok() const { return status == Status::ok; }
    // Names the array the question is about.
    void name(const char* section_tag, const char* first, std::int32_t a,
              const char* second = nullptr, std::int32_t b = 0) {
        section = section_tag;
        names[0] = first;
        numbers[0] = a;
        names[1] = second;
        numbers[1] = b;
    }
    // "<file>: <section>: <detail> (at byte N)" when there is a detail,
    // otherwise "<file>: <section>, <name> <number>, ...: <cause>".
    std::string message() const;
};

}  // namespace qv::format
