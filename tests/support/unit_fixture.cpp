#include "support/unit_fixture.h"

#include <fstream>
#include <stdexcept>

namespace qvtest {

std::string write_file(const TempDir& dir, const std::string& name,
                       const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

UnitFile::UnitFile(const std::vector<std::uint8_t>& bytes, int unit)
    : unit_(unit), path_(write_file(dir_, "results.bin", bytes)) {
    qv::runtime::open_unit(unit_, path_, qv::runtime::status_code::kOld);
}

UnitFile::~UnitFile() { qv::runtime::close_unit(unit_); }

qv::runtime::Connection& UnitFile::connection() {
    qv::runtime::Connection* c = qv::runtime::connection(unit_);
    if (!c) throw std::logic_error("unit is not connected");
    return *c;
}

}  // namespace qvtest
