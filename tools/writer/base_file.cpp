// Writing base files.
#include "writer/base_file.h"

namespace qvw {
namespace {

std::int32_t word(const BaseFileSpec& desc, std::size_t i) {
    return i <= desc.header.size() ? desc.header[i - 1] : 0;
}

void write_parts(FileWriter& w, const BaseFileSpec& desc) {
    w.tag("<Parts>");
    if (word(desc, 1) >= 7) return;
    std::int32_t s = 0, u = 0;
    for (const PartSpec& p : desc.parts) {
        if (p.type == 1.0f) ++s;
        if (p.type == 2.0f) ++u;
    }
    w.ints({desc.structured_count >= 0 ? desc.structured_count : s,
            desc.unstructured_count >= 0 ? desc.unstructured_count : u});
    for (const PartSpec& p : desc.parts) {
        w.reals({p.type});
        if (p.type == 1.0f) {
            w.record(Record().text(p.name, 35));
            w.ints({p.i, p.j, p.k});
            w.ints({p.further[0], p.further[1], p.further[2]});
        } else if (p.type == 2.0f) {
            w.record(Record().text(p.name, 35));
            const auto elements = static_cast<std::int32_t>(p.element_ids.size());
            const auto nodes = static_cast<std::int32_t>(p.node_ids.size());
            w.ints({p.stored_elements >= 0 ? p.stored_elements : elements,
                    p.stored_nodes >= 0 ? p.stored_nodes : nodes});
            w.single_ints(p.element_ids);
            w.single_ints(p.node_ids);
        }
    }
    w.single_ints(desc.connectivity);
    w.single_reals(desc.coordinates);
    w.single_ints(desc.element_types);
    if (word(desc, 1) > 1) {
        w.single_ints(desc.node_numbers);
        w.single_ints(desc.element_numbers);
    }
}

void write_attributes(FileWriter& w, const BaseFileSpec& desc) {
    const std::int32_t layout = word(desc, 1);
    if (layout > 2)
        for (std::int32_t u : desc.units) w.ints({u});
    if (layout > 3) {
        w.ints({desc.symmetry[0]});
        w.ints({desc.symmetry[1]});
    }
    if (layout > 4) {
        w.ints({static_cast<std::int32_t>(desc.pairs.size())});
        for (const auto& [a, b] : desc.pairs) {
            w.ints({a});
            w.ints({b});
        }
    }
}

void write_materials(FileWriter& w, const BaseFileSpec& desc) {
    w.tag("<Materials>");
    const std::int32_t level = word(desc, 2);
    if (level <= 0) return;
    w.ints({desc.material_count >= 0 ? desc.material_count
                                     : static_cast<std::int32_t>(desc.materials.size())});
    for (const MaterialSpec& m : desc.materials) w.record(Record().text(m.name, 30));
    if (level >= 2)
        for (const MaterialSpec& m : desc.materials) w.ints({m.id});
    if (level >= 3)
        for (const MaterialSpec& m : desc.materials) w.record(Record().text(m.body, 256));
    if (level >= 4)
        for (const MaterialSpec& m : desc.materials) w.reals({m.poisson});
}

void write_parallel_task_data(FileWriter& w, const BaseFileSpec& desc) {
    w.tag("<ParallelTaskData>");
    const auto n = static_cast<std::int32_t>(desc.parallel_info.size());
    w.ints({desc.parallel_count >= 0 ? desc.parallel_count : n});
    if ((desc.parallel_count >= 0 ? desc.parallel_count : n) <= 0) return;
    const Bytes stream = compress_values(desc.parallel_info.data(), desc.parallel_info.size());
    w.ints({n});
    w.ints({static_cast<std::int32_t>(stream.size())});
    w.payload(stream);
}

}  // namespace

PartSpec PartSpec::structured(std::string name, std::int32_t i, std::int32_t j, std::int32_t k) {
    PartSpec p;
    p.type = 1.0f;
    p.name = std::move(name);
    p.i = i;
    p.j = j;
    p.k = k;
    return p;
}

PartSpec PartSpec::unstructured(std::string name, std::vector<std::int32_t> element_ids) {
    PartSpec p;
    p.type = 2.0f;
    p.name = std::move(name);
    p.element_ids = std::move(element_ids);
    return p;
}

FileWriter write_base_file(const BaseFileSpec& desc) {
    FileWriter w;
    w.ints({static_cast<std::int32_t>(desc.header.size())});
    w.ints(desc.header);
    if (word(desc, 1) > 5) w.ints({desc.release});
    if (!desc.parts_section) write_attributes(w, desc);
    for (BaseSection section : desc.order) {
        switch (section) {
        case BaseSection::Parts:
            if (desc.parts_section) {
                write_parts(w, desc);
                write_attributes(w, desc);
            }
            break;
        case BaseSection::Materials:
            if (desc.materials_section) write_materials(w, desc);
            break;
        case BaseSection::ParallelTaskData:
            if (desc.parallel_section) write_parallel_task_data(w, desc);
            break;
        }
    }
    return w;
}

}  // namespace qvw
