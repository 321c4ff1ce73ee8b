// Writing cycle files.
#include "writer/cycle_file.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace qvw {
namespace {

bool wanted(Content c, bool by_header) {
    return c == Content::Write || (c == Content::FromHeader && by_header);
}

bool bulk_chunked(const CycleFileSpec& desc) {
    return desc.header.size() >= 7 && desc.word(7) > 0;
}

bool body_chunked(const CycleFileSpec& desc) {
    return desc.header.size() >= 8 && desc.word(8) > 0;
}

// One array in the single form or in chunks of desc.chunk_size values.
template <class T>
void write_array(FileWriter& w, const std::vector<T>& values, bool chunked,
                 std::int32_t chunk_size) {
    if (!chunked) {
        if constexpr (std::is_same_v<T, float>)
            w.single_reals(values);
        else
            w.single_ints(values);
        return;
    }
    if (chunk_size <= 0) throw std::invalid_argument("chunk size must be positive");
    if (values.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("array does not fit a 4-byte count");
    w.ints({static_cast<std::int32_t>(values.size())});
    for (std::size_t done = 0; done < values.size();) {
        std::int32_t n = static_cast<std::int32_t>(
            std::min<std::size_t>(static_cast<std::size_t>(chunk_size), values.size() - done));
        const T* first = values.data() + done;
        done += static_cast<std::size_t>(n);
        w.write_chunk(n, first);
    }
    w.ints({0, 0});
}

void write_model(FileWriter& w, const CycleFileSpec& desc) {
    w.tag("<Model>");
    if (!wanted(desc.model_content, desc.word(1) > 0)) return;
    w.ints({desc.model_values[0]});
    w.ints({desc.model_values[1]});
    w.ints({desc.cycle});
    w.reals({desc.time});
    w.ints({static_cast<std::int32_t>(desc.structured_parts.size()), desc.unstructured_parts});
    for (const auto& v : desc.structured_parts) w.ints({v[0], v[1], v[2]});
    w.ints({desc.unstructured_nodes, desc.unstructured_elements, desc.third_value});
    w.record(desc.row9);
    w.ints({desc.variable_count, desc.directory_count >= 0
                                     ? desc.directory_count
                                     : static_cast<std::int32_t>(desc.entries.size())});
    w.ints({desc.object_counts[0], desc.object_counts[1], desc.object_counts[2]});
    Record dir;
    for (const DirectoryEntrySpec& e : desc.entries)
        dir.i32(e.reserved).i32(e.variable).i32(e.qualifier).text(e.name, kTagLength).i32(e.kind);
    w.record(dir);
}

// "<Node>" (nodes) or "<Element>": one array per entry of the section's
// kinds, in directory order.
void write_entry_arrays(FileWriter& w, const CycleFileSpec& desc, bool nodes) {
    w.tag(nodes ? "<Node>" : "<Element>");
    const bool by_header = desc.word(nodes ? 3 : 4) > 0;
    if (!wanted(nodes ? desc.node_arrays : desc.element_arrays, by_header)) return;
    const std::int32_t int_kind = nodes ? 1 : -1, real_kind = nodes ? 2 : -2;
    for (const DirectoryEntrySpec& e : desc.entries) {
        if (e.kind == int_kind) write_array(w, e.ints, bulk_chunked(desc), desc.chunk_size);
        if (e.kind == real_kind) write_array(w, e.reals, bulk_chunked(desc), desc.chunk_size);
    }
}

void write_displacements(FileWriter& w, const CycleFileSpec& desc) {
    if (!desc.displacements) return;
    w.tag("<Displacement>");
    const bool by_header = desc.header.size() >= 7 || desc.word(2) > 0;
    if (wanted(desc.displacement_array, by_header))
        write_array(w, *desc.displacements, bulk_chunked(desc), desc.chunk_size);
}

void write_materials(FileWriter& w, const CycleFileSpec& desc) {
    if (!desc.material_fractions) return;
    w.tag("<MMVars>");
    const bool by_header = desc.header.size() >= 7 || desc.word(6) > 0;
    if (!wanted(desc.material_arrays, by_header)) return;
    for (const std::vector<float>& m : *desc.material_fractions)
        write_array(w, m, bulk_chunked(desc), desc.chunk_size);
}

void write_bodies(FileWriter& w, const CycleFileSpec& desc, const char* tag,
                  const BodyArraysSpec& b) {
    w.tag(tag);
    const bool by_header = desc.header.size() >= 8 || desc.word(2) > 0;
    if (!wanted(desc.body_arrays, by_header)) return;
    write_array(w, b.numbers, body_chunked(desc), desc.chunk_size);
    write_array(w, b.data, body_chunked(desc), desc.chunk_size);
}

}  // namespace

DirectoryEntrySpec DirectoryEntrySpec::real(std::int32_t kind, std::int32_t variable,
                                            std::int32_t qualifier, std::vector<float> values,
                                            std::string name) {
    DirectoryEntrySpec e;
    e.kind = kind;
    e.variable = variable;
    e.qualifier = qualifier;
    e.reals = std::move(values);
    e.name = std::move(name);
    return e;
}

DirectoryEntrySpec DirectoryEntrySpec::integer(std::int32_t kind, std::int32_t variable,
                                               std::int32_t qualifier,
                                               std::vector<std::int32_t> values, std::string name) {
    DirectoryEntrySpec e;
    e.kind = kind;
    e.variable = variable;
    e.qualifier = qualifier;
    e.ints = std::move(values);
    e.name = std::move(name);
    return e;
}

FileWriter write_cycle_file(const CycleFileSpec& desc, CycleFileLayout& layout) {
    layout = CycleFileLayout{};
    FileWriter w;
    w.ints({static_cast<std::int32_t>(desc.header.size())});
    w.ints(desc.header);
    for (const CycleSection section : desc.order) {
        const auto begin = static_cast<std::int64_t>(w.size());
        switch (section) {
        case CycleSection::Model: write_model(w, desc); break;
        case CycleSection::Node: write_entry_arrays(w, desc, true); break;
        case CycleSection::Element: write_entry_arrays(w, desc, false); break;
        case CycleSection::Displacement: write_displacements(w, desc); break;
        case CycleSection::MMVars: write_materials(w, desc); break;
        case CycleSection::RigidBodyData:
            if (desc.rigid_bodies) write_bodies(w, desc, "<RigidBodyData>", *desc.rigid_bodies);
            break;
        case CycleSection::JointData:
            if (desc.joints) write_bodies(w, desc, "<JointData>", *desc.joints);
            break;
        }
        if (static_cast<std::int64_t>(w.size()) != begin)
            layout.sections[static_cast<int>(section)] = {begin, static_cast<std::int64_t>(w.size())};
    }
    return w;
}

FileWriter write_cycle_file(const CycleFileSpec& desc) {
    CycleFileLayout layout;
    return write_cycle_file(desc, layout);
}

}  // namespace qvw
