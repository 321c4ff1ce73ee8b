// Writing .vtu and .pvd files.
#include "to_vtk/vtu_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/xml_text.h"

namespace qvvtk {
namespace {

bool little_endian() {
    const std::uint16_t probe = 1;
    std::uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

template <class T>
std::vector<std::uint8_t> le_bytes(const T* values, std::size_t count) {
    std::vector<std::uint8_t> out(count * sizeof(T));
    if (count == 0) return out;
    std::memcpy(out.data(), values, out.size());
    if (!little_endian())
        for (std::size_t i = 0; i < count; ++i)
            for (std::size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b)
                std::swap(out[i * sizeof(T) + a], out[i * sizeof(T) + b]);
    return out;
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

}  // namespace


DataArray floats(std::string name, const std::vector<float>& values, int components) {
    return {std::move(name), "Float32", components, le_bytes(values.data(), values.size())};
}

DataArray ints(std::string name, const std::vector<std::int32_t>& values) {
    return {std::move(name), "Int32", 1, le_bytes(values.data(), values.size())};
}

void write_vtu(const std::string& path, const Grid& g) {
    const double time[1] = {g.time};
    const std::int32_t cycle[1] = {g.cycle};
    const DataArray time_array{"TimeValue", "Float64", 1, le_bytes(time, 1)};
    const DataArray cycle_array{"CYCLE", "Int32", 1, le_bytes(cycle, 1)};
    const DataArray points{"Points", "Float32", 3, le_bytes(g.points.data(), g.points.size())};
    const DataArray connectivity{"connectivity", "Int64", 1, le_bytes(g.connectivity.data(), g.connectivity.size())};
    const DataArray offsets{"offsets", "Int64", 1, le_bytes(g.offsets.data(), g.offsets.size())};
    const DataArray types{"types", "UInt8", 1, g.types};

    // Appended blocks in file order; each is its byte count (UInt64) and bytes.
    std::vector<const DataArray*> order{&time_array, &cycle_array};
    for (const DataArray& a : g.point_data) order.push_back(&a);
    for (const DataArray& a : g.cell_data) order.push_back(&a);
    order.insert(order.end(), {&points, &connectivity, &offsets, &types});
    std::vector<std::uint64_t> at;
    std::uint64_t offset = 0;
    for (const DataArray* a : order) {
        at.push_back(offset);
        offset += sizeof(std::uint64_t) + a->bytes.size();
    }
    std::size_t n = 0;
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\""
        << (little_endian() ? "LittleEndian" : "BigEndian") << "\" header_type=\"UInt64\">\n"
        << "  <UnstructuredGrid>\n    <FieldData>\n";
    // Tags take their offsets in the order the blocks were laid out.
    auto tag = [&](const DataArray& a, const char* indent, bool named = true, const char* extra = "") {
        xml << array_tag(a, at[n++], indent, named, extra);
    };
    tag(time_array, "      ", true, " NumberOfTuples=\"1\"");
    tag(cycle_array, "      ", true, " NumberOfTuples=\"1\"");
    xml << "    </FieldData>\n"
        << "    <Piece NumberOfPoints=\"" << g.points.size() / 3 << "\" NumberOfCells=\"" << g.types.size() << "\">\n";
    xml << "      <PointData";
    for (const DataArray& a : g.point_data)
        if (a.components == 3) {
            xml << " Vectors=\"" << qvhost::xml_escape(a.name) << '"';
            break;
        }
    xml << ">\n";
    for (const DataArray& a : g.point_data) tag(a, "        ");
    xml << "      </PointData>\n      <CellData>\n";
    for (const DataArray& a : g.cell_data) tag(a, "        ");
    xml << "      </CellData>\n      <Points>\n";
    tag(points, "        ", false);
    xml << "      </Points>\n      <Cells>\n";
    tag(connectivity, "        ");
    tag(offsets, "        ");
    tag(types, "        ");
    xml << "      </Cells>\n    </Piece>\n  </UnstructuredGrid>\n"
        << "  <AppendedData encoding=\"raw\">\n   _";

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    const std::string head = xml.str();
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    for (const DataArray* a : order) {
        const std::uint64_t size[1] = {a->bytes.size()};
        const std::vector<std::uint8_t> header = le_bytes(size, 1);
        out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        out.write(reinterpret_cast<const char*>(a->bytes.data()), static_cast<std::streamsize>(a->bytes.size()));
    }
    out << "\n  </AppendedData>\n</VTKFile>\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

void write_pvd(const std::string& path, const std::vector<CollectionEntry>& entries) {
    std::ofstream out(path, std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    out << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"LittleEndian\">\n  <Collection>\n";
    char time[32];
    for (const CollectionEntry& e : entries) {
        std::snprintf(time, sizeof time, "%.9g", e.time);
        out << "    <DataSet timestep=\"" << time << "\" group=\"\" part=\"0\" file=\"" << qvhost::xml_escape(e.file)
            << "\"/>\n";
    }
    out << "  </Collection>\n</VTKFile>\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace qvvtk
