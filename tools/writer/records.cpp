// Framed records and compressed arrays, written into memory.
#include "writer/records.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include <zlib.h>

#include "host/output_file.h"

namespace qvw {
namespace {

std::uint32_t bits_of(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

std::uint32_t bits_of(std::int32_t v) { return static_cast<std::uint32_t>(v); }

void append_be32(Bytes& out, std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u >> 24));
    out.push_back(static_cast<std::uint8_t>(u >> 16));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
}

std::int32_t checked_count(std::size_t n, const char* what) {
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::length_error(std::string(what) + " does not fit a 4-byte length");
    return static_cast<std::int32_t>(n);
}

template <class T>
Bytes pack(const T* values, std::size_t count) {
    Bytes out(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t u = bits_of(values[i]);
        for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<std::uint8_t>(u >> (8 * b));
    }
    return out;
}

thread_local int t_level = Z_DEFAULT_COMPRESSION;

// One deflate stream per thread, reset between arrays: compress() would
// allocate and clear about a quarter of a megabyte of state for every array,
// which dominates writing the many small arrays of a fuzzed model. Reset
// gives the same bytes as a fresh stream.
class Deflater {
public:
    Deflater() {
        if (deflateInit(&z_, level_) != Z_OK) throw std::runtime_error("cannot start zlib compression");
    }
    ~Deflater() { deflateEnd(&z_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    Bytes compress(const Bytes& packed) {
        if (deflateReset(&z_) != Z_OK) throw std::runtime_error("zlib deflateReset failed");
        // Nothing was compressed since the reset, so the new level applies
        // to the whole stream.
        if (t_level != level_) {
            if (deflateParams(&z_, t_level, Z_DEFAULT_STRATEGY) != Z_OK)
                throw std::runtime_error("zlib deflateParams failed");
            level_ = t_level;
        }
        const uLong bound = deflateBound(&z_, static_cast<uLong>(packed.size()));
        if (packed.size() > std::numeric_limits<uInt>::max() || bound > std::numeric_limits<uInt>::max())
            throw std::length_error("array too large to compress");
        Bytes out(bound);
        z_.next_in = const_cast<Bytef*>(packed.data());
        z_.avail_in = static_cast<uInt>(packed.size());
        z_.next_out = out.data();
        z_.avail_out = static_cast<uInt>(out.size());
        const int code = deflate(&z_, Z_FINISH);
        if (code != Z_STREAM_END) throw std::runtime_error("zlib deflate failed: " + std::to_string(code));
        out.resize(z_.total_out);
        return out;
    }

private:
    z_stream z_{};
    int level_ = Z_DEFAULT_COMPRESSION;
};

template <class T>
Bytes compress_packed(const T* values, std::size_t count) {
    thread_local Deflater deflater;
    return deflater.compress(pack(values, count));
}

}  // namespace

void set_deflate_level(int level) {
    if (level != Z_DEFAULT_COMPRESSION && (level < Z_NO_COMPRESSION || level > Z_BEST_COMPRESSION))
        throw std::invalid_argument("deflate level " + std::to_string(level) + " is not zlib's");
    t_level = level;
}

Bytes be32(std::int32_t v) {
    Bytes out;
    append_be32(out, bits_of(v));
    return out;
}

Record& Record::i32(std::int32_t v) {
    append_be32(data_, bits_of(v));
    return *this;
}

Record& Record::f32(float v) {
    append_be32(data_, bits_of(v));
    return *this;
}

Record& Record::text(std::string_view s, std::size_t n) {
    const std::size_t kept = std::min(s.size(), n);
    data_.insert(data_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(kept));
    data_.insert(data_.end(), n - kept, static_cast<std::uint8_t>(' '));
    return *this;
}

Record& Record::bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    if (n) data_.insert(data_.end(), b, b + n);
    return *this;
}

Bytes pack_values(const std::int32_t* values, std::size_t count) { return pack(values, count); }
Bytes pack_values(const float* values, std::size_t count) { return pack(values, count); }

Bytes compress_values(const std::int32_t* values, std::size_t count) {
    return compress_packed(values, count);
}
Bytes compress_values(const float* values, std::size_t count) {
    return compress_packed(values, count);
}

FileWriter& FileWriter::record(const Record& r) {
    const auto length = static_cast<std::uint32_t>(checked_count(r.size(), "record"));
    // No exact reserve here: growing by exactly one record each time would
    // copy the whole file per record; the vector's own growth is geometric.
    append_be32(bytes_, length);
    bytes_.insert(bytes_.end(), r.data().begin(), r.data().end());
    append_be32(bytes_, length);
    return *this;
}

FileWriter& FileWriter::ints(std::initializer_list<std::int32_t> values) {
    Record r;
    for (const std::int32_t v : values) r.i32(v);
    return record(r);
}

FileWriter& FileWriter::ints(const std::vector<std::int32_t>& values) {
    Record r;
    for (const std::int32_t v : values) r.i32(v);
    return record(r);
}

FileWriter& FileWriter::reals(std::initializer_list<float> values) {
    Record r;
    for (const float v : values) r.f32(v);
    return record(r);
}

FileWriter& FileWriter::reals(const std::vector<float>& values) {
    Record r;
    for (const float v : values) r.f32(v);
    return record(r);
}

FileWriter& FileWriter::tag(std::string_view tag) { return record(Record().text(tag, kTagLength)); }

FileWriter& FileWriter::payload(const Bytes& data) { return record(Record().bytes(data)); }

FileWriter& FileWriter::raw(const Bytes& data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

FileWriter& FileWriter::overwrite_i32(std::size_t offset, std::int32_t v) {
    if (offset > bytes_.size() || bytes_.size() - offset < 4)
        throw std::out_of_range("overwrite past the end of the file");
    const Bytes b = be32(v);
    std::memcpy(bytes_.data() + offset, b.data(), 4);
    return *this;
}

template <class T>
FileWriter& FileWriter::chunk(std::int32_t& count, const T* values) {
    if (count == 0) return *this;
    if (count < 0) throw std::invalid_argument("negative chunk count");
    const Bytes stream = compress_packed(values, static_cast<std::size_t>(count));
    ints({count, checked_count(stream.size(), "compressed stream")});
    payload(stream);
    count = 0;
    return *this;
}

FileWriter& FileWriter::write_chunk(std::int32_t& count, const std::int32_t* values) {
    return chunk(count, values);
}

FileWriter& FileWriter::write_chunk(std::int32_t& count, const float* values) {
    return chunk(count, values);
}

FileWriter& FileWriter::single_ints(const std::vector<std::int32_t>& values) {
    std::int32_t count = checked_count(values.size(), "array");
    if (count == 0) {
        // An empty array still has its header and payload records.
        const Bytes stream = compress_values(values.data(), 0);
        ints({0, checked_count(stream.size(), "compressed stream")});
        return payload(stream);
    }
    return chunk(count, values.data());
}

FileWriter& FileWriter::single_reals(const std::vector<float>& values) {
    std::int32_t count = checked_count(values.size(), "array");
    if (count == 0) {
        const Bytes stream = compress_values(values.data(), 0);
        ints({0, checked_count(stream.size(), "compressed stream")});
        return payload(stream);
    }
    return chunk(count, values.data());
}

template <class T>
FileWriter& FileWriter::chunked(const std::vector<T>& values,
                                const std::vector<std::int32_t>& chunk_sizes,
                                std::int64_t total_override) {
    std::size_t used = 0;
    for (const std::int32_t n : chunk_sizes) {
        if (n < 0 || values.size() - used < static_cast<std::size_t>(n))
            throw std::invalid_argument("chunk sizes do not fit the values");
        used += static_cast<std::size_t>(n);
    }
    const std::int32_t total = total_override >= 0
                                   ? checked_count(static_cast<std::size_t>(total_override), "total")
                                   : checked_count(values.size(), "array");
    ints({total});
    std::size_t offset = 0;
    for (const std::int32_t n : chunk_sizes) {
        std::int32_t count = n;
        chunk(count, values.data() + offset);
        offset += static_cast<std::size_t>(n);
    }
    return ints({0, 0});
}

FileWriter& FileWriter::chunked_ints(const std::vector<std::int32_t>& values,
                                     const std::vector<std::int32_t>& chunk_sizes,
                                     std::int64_t total_override) {
    return chunked(values, chunk_sizes, total_override);
}

FileWriter& FileWriter::chunked_reals(const std::vector<float>& values,
                                      const std::vector<std::int32_t>& chunk_sizes,
                                      std::int64_t total_override) {
    return chunked(values, chunk_sizes, total_override);
}

void FileWriter::save(const std::string& path) const {
    qvhost::write_file(path, bytes_.data(), bytes_.size());
}

}  // namespace qvw
