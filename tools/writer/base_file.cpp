// Writing base files.
#include "writer/base_file.h"

namespace qvw {
namespace {

std::int32_t word(const BaseFileSpec& spec, std::size_t i) {
    return i <= spec.header.size() ? spec.header[i - 1] : 0;
}

void write_parts(FileWriter& w, const BaseFileSpec& spec) {
    w.tag("<Parts>");
    if (word(spec, 1) >= 7) return;
    std::int32_t s = 0, u = 0;
    for (const PartSpec& p : spec.parts) {
        if (p.type == 1.0f) ++s;
        if (p.type == 2.0f) ++u;
    }
    w.ints({spec.structured_count >= 0 ? spec.structured_count : s,
            spec.unstructured_count >= 0 ? spec.unstructured_count : u});
    for (const PartSpec& p : spec.parts) {
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
    w.single_ints(spec.connectivity);
    w.single_reals(spec.coordinates);
    w.single_ints(spec.element_types);
    if (word(spec, 1) > 1) {
        w.single_ints(spec.node_numbers);
        w.single_ints(spec.element_numbers);
    }
}

void write_attributes(FileWriter& w, const BaseFileSpec& spec) {
    const std::int32_t layout = word(spec, 1);
    if (layout > 2)
        for (std::int32_t u : spec.units) w.ints({u});
    if (layout > 3) {
        w.ints({spec.symmetry[0]});
        w.ints({spec.symmetry[1]});
    }
    if (layout > 4) {
        w.ints({static_cast<std::int32_t>(spec.pairs.size())});
        for (const auto& [a, b] : spec.pairs) {
            w.ints({a});
            w.ints({b});
        }
    }
}

void write_materials(FileWriter& w, const BaseFileSpec& spec) {
    w.tag("<Materials>");
    const std::int32_t level = word(spec, 2);
    if (level <= 0) return;
    w.ints({spec.material_count >= 0 ? spec.material_count
                                     : static_cast<std::int32_t>(spec.materials.size())});
    for (const MaterialSpec& m : spec.materials) w.record(Record().text(m.name, 30));
    if (level >= 2)
        for (const MaterialSpec& m : spec.materials) w.ints({m.id});
    if (level >= 3)
        for (const MaterialSpec& m : spec.materials) w.record(Record().text(m.body, 256));
    if (level >= 4)
        for (const MaterialSpec& m : spec.materials) w.reals({m.poisson});
}

void write_parallel_task_data(FileWriter& w, const BaseFileSpec& spec) {
    w.tag("<ParallelTaskData>");
    const auto n = static_cast<std::int32_t>(spec.parallel_info.size());
    w.ints({spec.parallel_count >= 0 ? spec.parallel_count : n});
    if ((spec.parallel_count >= 0 ? spec.parallel_count : n) <= 0) return;
    const Bytes stream = compress_values(spec.parallel_info.data(), spec.parallel_info.size());
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

FileWriter write_base_file(const BaseFileSpec& spec) {
    FileWriter w;
    w.ints({static_cast<std::int32_t>(spec.header.size())});
    w.ints(spec.header);
    if (word(spec, 1) > 5) w.ints({spec.release});
    if (!spec.parts_section) write_attributes(w, spec);
    for (BaseSection section : spec.order) {
        switch (section) {
        case BaseSection::Parts:
            if (spec.parts_section) {
                write_parts(w, spec);
                write_attributes(w, spec);
            }
            break;
        case BaseSection::Materials:
            if (spec.materials_section) write_materials(w, spec);
            break;
        case BaseSection::ParallelTaskData:
            if (spec.parallel_section) write_parallel_task_data(w, spec);
            break;
        }
    }
    return w;
}

}  // namespace qvw
