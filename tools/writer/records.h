// The producing side of the results format, first layer: framed records
// (big-endian length, data, length) and compressed arrays in the single and
// chunked forms. Files are built in memory and saved in one piece, so that
// tests can tamper with the bytes before anything is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qvw {

using Bytes = std::vector<std::uint8_t>;

// Length of a tag field: the tag text blank-padded to this many characters.
inline constexpr std::size_t kTagLength = 50;

// The 4 bytes of v, most significant first.
Bytes be32(std::int32_t v);

// The data part of one record. Numbers are stored big-endian, texts and
// byte payloads as they are.
class Record {
public:
    Record& i32(std::int32_t v);
    Record& f32(float v);
    // s cut or blank-padded to n characters.
    Record& text(std::string_view s, std::size_t n);
    Record& bytes(const void* p, std::size_t n);
    Record& bytes(const Bytes& b) { return bytes(b.data(), b.size()); }

    const Bytes& data() const { return data_; }
    std::size_t size() const { return data_.size(); }

private:
    Bytes data_;
};

// Values packed as the compressed arrays store them: 4 bytes per value,
// least significant byte first, whatever the host's byte order.
Bytes pack_values(const std::int32_t* values, std::size_t count);
Bytes pack_values(const float* values, std::size_t count);

// The deflate level (zlib's 0 to 9, or -1 for its default) of the arrays this
// thread compresses from now on. The default suits files kept as fixtures;
// a fuzz harness writing thousands of runs a second uses a fast level.
void set_deflate_level(int level);

// The zlib stream of the packed values, compressed at the thread's level into
// an output bound of trunc(1.2 x 4 x count) + 12 bytes. Throws when zlib
// refuses.
Bytes compress_values(const std::int32_t* values, std::size_t count);
Bytes compress_values(const float* values, std::size_t count);

// A sequence of records held in memory.
class FileWriter {
public:
    FileWriter& record(const Record& r);
    // One record of int32 values, or of reals.
    FileWriter& ints(std::initializer_list<std::int32_t> values);
    FileWriter& ints(const std::vector<std::int32_t>& values);
    FileWriter& reals(std::initializer_list<float> values);
    FileWriter& reals(const std::vector<float>& values);
    // One record holding the tag blank-padded to kTagLength characters.
    FileWriter& tag(std::string_view tag);
    // One record of raw bytes, such as a compressed payload.
    FileWriter& payload(const Bytes& data);
    // Bytes appended without framing.
    FileWriter& raw(const Bytes& data);
    // Overwrites the 4 bytes at `offset` with v, big-endian.
    FileWriter& overwrite_i32(std::size_t offset, std::int32_t v);

    // Single form: header record [count, compressed length], payload record.
    FileWriter& single_ints(const std::vector<std::int32_t>& values);
    FileWriter& single_reals(const std::vector<float>& values);

    // Chunked form: the total record, one chunk per entry of `chunk_sizes`
    // (header record and payload record; entries of 0 write nothing), then
    // the terminating header [0, 0]. The total record holds values.size()
    // unless `total_override` is 0 or more. The sizes must not add up to
    // more than values.size().
    FileWriter& chunked_ints(const std::vector<std::int32_t>& values,
                             const std::vector<std::int32_t>& chunk_sizes,
                             std::int64_t total_override = -1);
    FileWriter& chunked_reals(const std::vector<float>& values,
                              const std::vector<std::int32_t>& chunk_sizes,
                              std::int64_t total_override = -1);

    // One chunk of the first `count` values: header record and payload
    // record, then count is set to 0. A count of 0 writes nothing.
    FileWriter& write_chunk(std::int32_t& count, const std::int32_t* values);
    FileWriter& write_chunk(std::int32_t& count, const float* values);

    Bytes& bytes() { return bytes_; }
    const Bytes& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    // Writes the bytes to `path`, replacing any file or link there (never
    // writing through one: host/output_file.h); throws on failure.
    void save(const std::string& path) const;

private:
    template <class T>
    FileWriter& chunked(const std::vector<T>& values, const std::vector<std::int32_t>& chunk_sizes,
                        std::int64_t total_override);
    template <class T>
    FileWriter& chunk(std::int32_t& count, const T* values);

    Bytes bytes_;
};

}  // namespace qvw
