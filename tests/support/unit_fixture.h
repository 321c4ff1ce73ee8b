// Results files for tests: bytes written to a private temporary file and
// opened on a unit the way the library opens results files (status "old",
// unformatted, big-endian).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/file_units.h"
#include "support/temp_dir.h"

namespace qvtest {

// Writes `bytes` to `name` in `dir` and returns the path.
std::string write_file(const TempDir& dir, const std::string& name,
                       const std::vector<std::uint8_t>& bytes);

// A file on a unit for the duration of a test; the unit is closed and the
// file removed at destruction.
class UnitFile {
public:
    explicit UnitFile(const std::vector<std::uint8_t>& bytes,
                      int unit = qv::runtime::unit::kResults);
    ~UnitFile();
    UnitFile(const UnitFile&) = delete;
    UnitFile& operator=(const UnitFile&) = delete;

    qv::runtime::Connection& connection();
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    int unit_;
    std::string path_;
};

}  // namespace qvtest
