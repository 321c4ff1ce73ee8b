// Writing .vtu and .pvd files.
#include "to_vtk/vtu_writer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <exception>
#include <stdexcept>

#include "host/output_file.h"
#include "host/workers.h"
#include "host/xml_text.h"

namespace qvvtk {
namespace {

bool little_endian() {
    const std::uint16_t probe = 1;
    std::uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

void append_u64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    const std::size_t at = out.size();
    out.resize(at + sizeof v);
    std::memcpy(out.data() + at, &v, sizeof v);
}

// Runs body(i) for i in [0, n) on up to `threads` threads, the caller's
// among them; rethrows the first exception.
template <class F>
void parallel_for(std::size_t n, unsigned threads, F&& body) {
    const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), n);
    if (workers <= 1) {
        for (std::size_t i = 0; i < n; ++i) body(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    auto work = [&] {
        try {
            for (std::size_t i; !failed && (i = next++) < n;) body(i);
        } catch (...) {
            if (!failed.exchange(true)) failure = std::current_exception();
        }
    };
    qvhost::run_workers(workers, work);
    if (failure) std::rethrow_exception(failure);
}

// Compresses blocks [first, last) of `bytes` into `out`, one zlib stream per
// block, with one deflate state for them all.
void deflate_blocks(const std::uint8_t* bytes, std::size_t size, const Encoding& e, std::size_t first,
                    std::size_t last, std::vector<std::vector<std::uint8_t>>& out) {
    z_stream z{};
    if (deflateInit(&z, e.level) != Z_OK) throw std::runtime_error("cannot start zlib compression");
    const std::unique_ptr<z_stream, int (*)(z_stream*)> release(&z, deflateEnd);
    // One output buffer for the run, never zeroed: each block keeps only
    // what deflate wrote, a fraction of its size.
    const std::size_t bound = deflateBound(&z, static_cast<uLong>(std::min(e.block_size, size)));
    const std::unique_ptr<Bytef[]> buffer(new Bytef[bound]);
    for (std::size_t b = first; b < last; ++b) {
        const std::size_t begin = b * e.block_size, n = std::min(e.block_size, size - begin);
        deflateReset(&z);
        z.next_in = const_cast<Bytef*>(bytes + begin);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = buffer.get();
        z.avail_out = static_cast<uInt>(bound);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("zlib compression failed");
        out[b].assign(buffer.get(), buffer.get() + (bound - z.avail_out));
    }
}

template <class T>
DataArray array_of(std::string name, const char* type, const std::vector<T>& values, const Encoding& e,
                   int components = 1, unsigned threads = 1) {
    return {std::move(name), type, components, encode(values.data(), values.size() * sizeof(T), e, threads)};
}

std::string array_tag(const DataArray& a, std::uint64_t offset, const char* indent, bool named = true,
                      const char* extra = "") {
    std::ostringstream os;
    os << indent << "<DataArray type=\"" << a.type << '"';
    if (named) os << " Name=\"" << qvhost::xml_escape(a.name) << '"';
    if (a.components != 1) os << " NumberOfComponents=\"" << a.components << '"';
    os << extra;
    os << " format=\"appended\" offset=\"" << offset << "\"/>\n";
    return os.str();
}

// Writes a file through a new temporary beside it, renamed to `path` once
// complete (host/output_file.h): a write that fails (a full disk, a file
// size limit) leaves no cut file that looks whole and keeps a complete one
// written before, and no link planted in the output directory is written
// through. `write` returns whether every byte went out. With `set`, the
// closed temporary waits for the set's commit.
template <class Write>
void write_whole(const std::string& path, bool text, qvhost::OutputSet* set, Write write) {
    std::unique_ptr<qvhost::OutputFile> own;
    if (!set) own = std::make_unique<qvhost::OutputFile>(path, text);
    qvhost::OutputFile& out = set ? set->add(path, text) : *own;
    if (!write(out.get())) {
        const int error = errno;
        out.discard();
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(error ? error : EIO));
    }
    if (set)
        out.close();
    else
        out.commit();
}

}  // namespace

std::vector<std::uint8_t> encode(const void* data, std::size_t size, const Encoding& e, unsigned threads) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> out;
    if (!e.compress) {
        out.reserve(sizeof(std::uint64_t) + size);
        append_u64(out, size);
        out.insert(out.end(), bytes, bytes + size);
        return out;
    }
    const std::size_t blocks = (size + e.block_size - 1) / e.block_size;
    std::vector<std::vector<std::uint8_t>> compressed(blocks);
    // Runs of blocks, several per thread, so each deflate state serves many.
    const std::size_t per_task = std::max<std::size_t>(1, blocks / (8 * std::max(threads, 1u)));
    const std::size_t tasks = (blocks + per_task - 1) / per_task;
    parallel_for(tasks, threads, [&](std::size_t t) {
        deflate_blocks(bytes, size, e, t * per_task, std::min(blocks, (t + 1) * per_task), compressed);
    });
    std::size_t total = 0;
    for (const auto& b : compressed) total += b.size();
    out.reserve((3 + blocks) * sizeof(std::uint64_t) + total);
    append_u64(out, blocks);
    append_u64(out, e.block_size);
    append_u64(out, size % e.block_size);
    for (const auto& b : compressed) append_u64(out, b.size());
    for (const auto& b : compressed) out.insert(out.end(), b.begin(), b.end());
    return out;
}

DataArray floats(std::string name, const std::vector<float>& values, const Encoding& e, int components,
                 unsigned threads) {
    return array_of(std::move(name), "Float32", values, e, components, threads);
}

DataArray bytes(std::string name, const std::vector<std::uint8_t>& values, const Encoding& e) {
    return array_of(std::move(name), "UInt8", values, e);
}

DataArray doubles(std::string name, const std::vector<double>& values, const Encoding& e) {
    return array_of(std::move(name), "Float64", values, e);
}

DataArray ints(std::string name, const std::vector<std::int32_t>& values, const Encoding& e) {
    return array_of(std::move(name), "Int32", values, e);
}

Geometry encode_geometry(const std::vector<float>& points, const std::vector<std::int64_t>& connectivity,
                         const std::vector<std::int64_t>& offsets, const std::vector<std::uint8_t>& types,
                         const Encoding& e, unsigned threads) {
    Geometry g;
    g.points = points.size() / 3;
    g.cells = types.size();
    g.coordinates = array_of("Points", "Float32", points, e, 3, threads);
    // Point indices and offsets as 32-bit integers where they fit: half the
    // bytes to compress and write.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (static_cast<std::int64_t>(points.size() / 3) <= kMax && (offsets.empty() || offsets.back() <= kMax)) {
        const std::vector<std::int32_t> c(connectivity.begin(), connectivity.end()), o(offsets.begin(), offsets.end());
        g.connectivity = array_of("connectivity", "Int32", c, e, 1, threads);
        g.offsets = array_of("offsets", "Int32", o, e, 1, threads);
    } else {
        g.connectivity = array_of("connectivity", "Int64", connectivity, e, 1, threads);
        g.offsets = array_of("offsets", "Int64", offsets, e, 1, threads);
    }
    g.types = array_of("types", "UInt8", types, e, 1, threads);
    return g;
}

namespace {

// The XML of a grid file and its appended blocks: `grid` the element name
// ("UnstructuredGrid"), `attributes` those of the grid and piece elements,
// `geometry` the tail of the piece (its Points and Cells) as arrays, each
// behind the text in `before` and ahead of the text in `after`.
struct Section {
    const char* before;
    const DataArray* array;
    bool named;
};

std::uint64_t write_grid(const std::string& path, const char* grid, const std::string& grid_attributes,
                         const std::string& piece_attributes, const std::vector<Section>& geometry,
                         const char* geometry_end, const Piece& piece, const Encoding& e, qvhost::OutputSet* set) {
    const double time[1] = {piece.time};
    const std::int32_t cycle[1] = {piece.cycle};
    const DataArray time_array{"TimeValue", "Float64", 1, encode(time, sizeof time, e)};
    const DataArray cycle_array{"CYCLE", "Int32", 1, encode(cycle, sizeof cycle, e)};

    // Appended blocks in file order.
    std::vector<const DataArray*> order{&time_array, &cycle_array};
    order.insert(order.end(), piece.point_data.begin(), piece.point_data.end());
    order.insert(order.end(), piece.cell_data.begin(), piece.cell_data.end());
    for (const Section& s : geometry) order.push_back(s.array);
    std::vector<std::uint64_t> at;
    std::uint64_t offset = 0;
    for (const DataArray* a : order) {
        at.push_back(offset);
        offset += a->encoded.size();
    }
    std::size_t n = 0;
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"" << grid << "\" version=\"1.0\" byte_order=\""
        << (little_endian() ? "LittleEndian" : "BigEndian") << "\" header_type=\"UInt64\""
        << (e.compress ? " compressor=\"vtkZLibDataCompressor\"" : "") << ">\n"
        << "  <" << grid << grid_attributes << ">\n    <FieldData>\n";
    // Tags take their offsets in the order the blocks were laid out.
    auto tag = [&](const DataArray& a, const char* indent, bool named = true, const char* extra = "") {
        xml << array_tag(a, at[n++], indent, named, extra);
    };
    tag(time_array, "      ", true, " NumberOfTuples=\"1\"");
    tag(cycle_array, "      ", true, " NumberOfTuples=\"1\"");
    xml << "    </FieldData>\n"
        << "    <Piece" << piece_attributes << ">\n";
    xml << "      <PointData";
    for (const DataArray* a : piece.point_data)
        if (a->components == 3) {
            xml << " Vectors=\"" << qvhost::xml_escape(a->name) << '"';
            break;
        }
    xml << ">\n";
    for (const DataArray* a : piece.point_data) tag(*a, "        ");
    xml << "      </PointData>\n      <CellData>\n";
    for (const DataArray* a : piece.cell_data) tag(*a, "        ");
    xml << "      </CellData>\n";
    for (const Section& s : geometry) {
        xml << s.before;
        tag(*s.array, "        ", s.named);
    }
    xml << geometry_end << "    </Piece>\n  </" << grid << ">\n"
        << "  <AppendedData encoding=\"raw\">\n   _";
    const std::string head = xml.str();
    const std::string tail = "\n  </AppendedData>\n</VTKFile>\n";

    write_whole(path, false, set, [&](std::FILE* f) {
        bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
        for (const DataArray* a : order)
            ok = ok && std::fwrite(a->encoded.data(), 1, a->encoded.size(), f) == a->encoded.size();
        return ok && std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
    });
    return head.size() + offset + tail.size();
}

}  // namespace

std::uint64_t write_vtu(const std::string& path, const Geometry& g, const Piece& piece, const Encoding& e,
                        qvhost::OutputSet* set) {
    const std::string counts =
        " NumberOfPoints=\"" + std::to_string(g.points) + "\" NumberOfCells=\"" + std::to_string(g.cells) + '"';
    return write_grid(path, "UnstructuredGrid", "", counts,
                      {{"      <Points>\n", &g.coordinates, false},
                       {"      </Points>\n      <Cells>\n", &g.connectivity, true},
                       {"", &g.offsets, true},
                       {"", &g.types, true}},
                      "      </Cells>\n", piece, e, set);
}

std::uint64_t write_vts(const std::string& path, const StructuredGeometry& g, const Piece& piece,
                        const Encoding& e, qvhost::OutputSet* set) {
    std::string extent = "\"0 " + std::to_string(g.dimensions[0] - 1) + " 0 " + std::to_string(g.dimensions[1] - 1) +
                         " 0 " + std::to_string(g.dimensions[2] - 1) + '"';
    return write_grid(path, "StructuredGrid", " WholeExtent=" + extent, " Extent=" + extent,
                      {{"      <Points>\n", &g.coordinates, false}}, "      </Points>\n", piece, e, set);
}

std::uint64_t write_vtm(const std::string& path, const std::vector<BlockEntry>& blocks, qvhost::OutputSet* set) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"vtkMultiBlockDataSet\" version=\"1.0\" byte_order=\""
        << (little_endian() ? "LittleEndian" : "BigEndian") << "\" header_type=\"UInt64\">\n"
        << "  <vtkMultiBlockDataSet>\n";
    for (std::size_t k = 0; k < blocks.size(); ++k)
        out << "    <DataSet index=\"" << k << "\" name=\"" << qvhost::xml_escape(blocks[k].name) << "\" file=\""
            << qvhost::xml_escape(blocks[k].file) << "\"/>\n";
    out << "  </vtkMultiBlockDataSet>\n</VTKFile>\n";
    const std::string text = out.str();
    write_whole(path, true, set,
                [&](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); });
    return text.size();
}

void write_pvd(const std::string& path, const std::vector<CollectionEntry>& entries) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"LittleEndian\">\n  <Collection>\n";
    char time[32];
    for (const CollectionEntry& e : entries) {
        std::snprintf(time, sizeof time, "%.9g", e.time);
        out << "    <DataSet timestep=\"" << time << "\" group=\"\" part=\"0\" file=\"" << qvhost::xml_escape(e.file)
            << "\"/>\n";
    }
    out << "  </Collection>\n</VTKFile>\n";
    const std::string text = out.str();
    write_whole(path, true, nullptr,
                [&](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); });
}

}  // namespace qvvtk
