#include "support/record_fixture.h"

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

RecordFile::RecordFile(const std::vector<std::uint8_t>& bytes)
    : path_(write_file(dir_, "results.bin", bytes)) {
    qv::runtime::InputFile file;
    std::string why;
    if (!qv::runtime::open_input(path_, file, why)) throw std::runtime_error(why);
    reader_ = qv::format::RecordReader(std::move(file));
}

bool open_cycle(const TempDir& dir, const std::vector<std::uint8_t>& bytes,
                qv::format::CycleReader& cycle) {
    return cycle.open(write_file(dir, "run_0000001.qvres", bytes));
}

}  // namespace qvtest
