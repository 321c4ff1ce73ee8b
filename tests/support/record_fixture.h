// Results files for tests: bytes written to a private temporary file and
// read the way the library reads results files, through a record reader or
// a cycle reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/cycle_file.h"
#include "format/record.h"
#include "support/temp_dir.h"

namespace qvtest {

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
