// VTK XML files for ParaView: an UnstructuredGrid (.vtu) or a StructuredGrid
// (.vts) with every array in one appended block, 64-bit block headers, in
// the machine's byte order (declared in the file), either raw or
// zlib-compressed in VTK's block form (vtkZLibDataCompressor); the
// multiblock file (.vtm) that names the files of one cycle's blocks; and
// the collection (.pvd) that lists the files of a time series.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvhost {
class OutputSet;
}

namespace qvvtk {

struct Encoding {
    bool compress = true;
    int level = 1;                         // zlib level: fast, and still well under half the raw size
    std::size_t block_size = std::size_t(1) << 18;  // uncompressed bytes per compressed block
};

// Bytes as they stand in the appended block. Raw: the byte count (UInt64)
// and the bytes. Compressed: the block count, the block size, the size of a
// last partial block (0 when the last block is full) and each block's
// compressed size (all UInt64), then the blocks, each a zlib stream; blocks
// are compressed `threads` at a time. The result depends on the bytes and
// the encoding only.
std::vector<std::uint8_t> encode(const void* bytes, std::size_t size, const Encoding& encoding,
                                 unsigned threads = 1);

// One data array: its VTK type name, components per tuple and its encoded
// bytes.
struct DataArray {
    std::string name;
    std::string type;  // "Float32", "Float64", "Int32", "Int64", "UInt8"
    int components = 1;
    std::vector<std::uint8_t> encoded;
};

DataArray floats(std::string name, const std::vector<float>& values, const Encoding& encoding, int components = 1,
                 unsigned threads = 1);
DataArray ints(std::string name, const std::vector<std::int32_t>& values, const Encoding& encoding);
DataArray bytes(std::string name, const std::vector<std::uint8_t>& values, const Encoding& encoding);
DataArray doubles(std::string name, const std::vector<double>& values, const Encoding& encoding);

// What every file of an export shares: the points and cells, encoded once.
struct Geometry {
    std::size_t points = 0, cells = 0;
    DataArray coordinates;   // x, y, z per point (Float32)
    DataArray connectivity;  // point indices of every cell in turn (Int32 where they fit, else Int64)
    DataArray offsets;       // end of each cell in connectivity (as connectivity)
    DataArray types;         // VTK cell type of each cell (UInt8)
};

Geometry encode_geometry(const std::vector<float>& points, const std::vector<std::int64_t>& connectivity,
                         const std::vector<std::int64_t>& offsets, const std::vector<std::uint8_t>& types,
                         const Encoding& encoding, unsigned threads);

// The points of a structured grid of I x J x K points, I fastest, encoded
// once; its cells are implicit.
struct StructuredGeometry {
    std::int64_t dimensions[3] = {0, 0, 0};
    DataArray coordinates;  // x, y, z per point (Float32)
};

// One file's data: arrays by reference, so that shared ones are not copied.
struct Piece {
    std::vector<const DataArray*> point_data;  // the first 3-component array is the Vectors attribute
    std::vector<const DataArray*> cell_data;
    double time = 0.0;  // written as the TimeValue field
    std::int32_t cycle = 0;
};

// Writes the file; returns its size in bytes. Throws std::runtime_error
// naming the file when it cannot be written. With `set`, the file is
// written to a temporary of the set and left for its commit (every write_
// function takes one).
std::uint64_t write_vtu(const std::string& path, const Geometry& geometry, const Piece& piece,
                        const Encoding& encoding, qvhost::OutputSet* set = nullptr);

std::uint64_t write_vts(const std::string& path, const StructuredGeometry& geometry, const Piece& piece,
                        const Encoding& encoding, qvhost::OutputSet* set = nullptr);

// A multiblock file: one block per entry, named, each a file relative to
// the multiblock file. Returns its size in bytes.
struct BlockEntry {
    std::string name;
    std::string file;
};
std::uint64_t write_vtm(const std::string& path, const std::vector<BlockEntry>& blocks,
                        qvhost::OutputSet* set = nullptr);

struct CollectionEntry {
    double time;
    std::string file;  // relative to the collection
};
void write_pvd(const std::string& path, const std::vector<CollectionEntry>& entries);

}  // namespace qvvtk
