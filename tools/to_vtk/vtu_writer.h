// VTK XML files for ParaView: an UnstructuredGrid (.vtu) with every array in
// one appended block, raw encoding, 64-bit block headers, little-endian;
// and the collection (.pvd) that lists the files of a time series.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvvtk {

// One data array: its VTK type name, components per tuple and the values as
// little-endian bytes.
struct DataArray {
    std::string name;
    std::string type;  // "Float32", "Float64", "Int32", "Int64", "UInt8"
    int components = 1;
    std::vector<std::uint8_t> bytes;
};

DataArray floats(std::string name, const std::vector<float>& values, int components = 1);
DataArray ints(std::string name, const std::vector<std::int32_t>& values);

struct Grid {
    std::vector<float> points;               // x, y, z per point
    std::vector<std::int64_t> connectivity;  // point indices of every cell in turn
    std::vector<std::int64_t> offsets;       // end of each cell in connectivity
    std::vector<std::uint8_t> types;         // VTK cell type of each cell
    std::vector<DataArray> point_data;
    std::vector<DataArray> cell_data;
    double time = 0.0;  // written as the TimeValue field
    std::int32_t cycle = 0;
};

// Throws std::runtime_error when the file cannot be written.
void write_vtu(const std::string& path, const Grid& grid);

struct CollectionEntry {
    double time;
    std::string file;  // relative to the collection
};
void write_pvd(const std::string& path, const std::vector<CollectionEntry>& entries);


}  // namespace qvvtk
