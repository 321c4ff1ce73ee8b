// Results files for tests: bytes written to a private temporary file and
// read the way the library reads results files, through a record reader or
// a cycle reader.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "format/cycle_file.h"
#include "format/record.h"
#include "support/temp_dir.h"
#include "writer/records.h"

namespace qvtest {

// n values first, first + 1, ...
template <class T>
std::vector<T> ramp(std::size_t n, T first) {
    std::vector<T> v(n);
    for (std::size_t x = 0; x < n; ++x) v[x] = first + static_cast<T>(x);
    return v;
}

// The values of an array the library read.
template <class T>
std::vector<T> values(const qv::runtime::Array<T>& a) {
    return std::vector<T>(a.begin(), a.end());
}
template <class T>
std::vector<T> values(const qv::runtime::Buffer<T>& b) {
    if (!b.holds()) return {};
    return std::vector<T>(b.data(), b.data() + b.size());
}

// Spoils the Adler-32 trailer of the zlib stream of `n` values from `first`
// (all when n is 0) where `file` holds it; false when it holds none.
template <class T>
bool spoil_stream(std::vector<std::uint8_t>& file, const std::vector<T>& v, std::size_t first = 0,
                  std::size_t n = 0) {
    const std::vector<std::uint8_t> stream = qvw::compress_values(v.data() + first, n ? n : v.size() - first);
    const auto at = std::search(file.begin(), file.end(), stream.begin(), stream.end());
    if (at == file.end()) return false;
    *(at + static_cast<std::ptrdiff_t>(stream.size()) - 1) ^= 0xFF;
    return true;
}

// Writes `bytes` to `name` in `dir` and returns the path.
std::string write_file(const TempDir& dir, const std::string& name,
                       const std::vector<std::uint8_t>& bytes);

// A file of the given bytes with a record reader open on it; the reader is
// closed and the file removed at destruction.
class RecordFile {
public:
    explicit RecordFile(const std::vector<std::uint8_t>& bytes);
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    qv::format::RecordReader& reader() { return reader_; }
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
    qv::format::RecordReader reader_;
};

// Writes `bytes` as a cycle file in `dir` and opens `cycle` on it; returns
// what CycleReader::open returns.
bool open_cycle(const TempDir& dir, const std::vector<std::uint8_t>& bytes,
                qv::format::CycleReader& cycle);

}  // namespace qvtest
