// Records: a length, the data part, the length again. Every read consumes
// exactly one record and never reads past it or past the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/file_units.h"

namespace qv::format {

// Status of a record read.
inline constexpr int kReadOk = 0;
inline constexpr int kReadEnd = -1;   // no record left
inline constexpr int kReadError = 1;  // a damaged or too short record

// The data part of one record with typed reads that convert from the file's
// byte order. A read that finds too few bytes left fails and sets failed().
class RecordData {
public:
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    void start(runtime::ByteOrder order) { order_ = order; pos_ = 0; failed_ = false; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    bool failed() const { return failed_; }

    std::int32_t int32();
    float real32();
    std::string text(std::size_t n);

private:
    bool take(std::size_t n);
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    runtime::ByteOrder order_ = runtime::ByteOrder::BigEndian;
};

// 4-byte conversions from the byte order of a connection.
std::int32_t decode_int32(const std::uint8_t* p, runtime::ByteOrder order);
float decode_real32(const std::uint8_t* p, runtime::ByteOrder order);

// Reads the next whole record.
int read_record(runtime::Connection& c, RecordData& out);
// Reads the first n bytes of the next record into dst and passes over the
// rest. A record shorter than n bytes is consumed and reported as an error.
int read_record_prefix(runtime::Connection& c, void* dst, std::size_t n);
// Passes over the next record.
int skip_record(runtime::Connection& c);
// Length of the next record without consuming it; kReadEnd or kReadError
// when there is none that fits in the file.
int peek_record_length(runtime::Connection& c, std::int64_t& length);
void rewind(runtime::Connection& c);
// Bytes between the position and the end of the file.
std::uint64_t bytes_left(const runtime::Connection& c);

// Reads one record and its first items; false when it is missing, damaged
// or too short for the items. Convenience for the many one-record reads of
// the loaders, for at most kMaxLeadingValues integers.
inline constexpr std::size_t kMaxLeadingValues = 8;
bool read_ints(runtime::Connection& c, std::int32_t* values, std::size_t n);
bool read_int(runtime::Connection& c, std::int32_t& value);
bool read_real(runtime::Connection& c, float& value);

}  // namespace qv::format
