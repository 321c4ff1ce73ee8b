// Base file: header and version, "<Parts>", unit system, symmetry,
// pyramid/tetrahedron pairs, "<Materials>" and "<ParallelTaskData>".
#include "format/base_file.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <zlib.h>

#include "format/compressed_array.h"
#include "format/record.h"
#include "format/tag_search.h"
#include "model/element_kinds.h"

namespace qv::format {
namespace {

using model::ModelStore;
using model::Part;

constexpr std::uint64_t kRecordFraming = 8;

std::int32_t header_word(const ModelStore& s, std::int64_t i) {
    return s.base_header.contains(i) ? s.base_header(i) : 0;
}

// Reads a text record of at least n characters.
bool read_text(runtime::Connection& c, std::size_t n, std::string& text) {
    RecordData data;
    if (read_record(c, data) != kReadOk) return false;
    text = data.text(n);
    return !data.failed();
}

bool read_header(runtime::Connection& c, ModelStore& s) {
    std::int32_t n = 0;
    if (!read_int(c, n) || n < 0) return false;
    RecordData data;
    if (read_record(c, data) != kReadOk || data.size() / 4 < static_cast<std::size_t>(n))
        return false;
    runtime::allocate(s.base_header, n);
    for (std::int32_t& w : s.base_header) w = data.int32();

    const std::int32_t layout = header_word(s, 1), materials = header_word(s, 2);
    std::int32_t release = 0;
    if (layout > 5) {
        if (!read_int(c, release)) return false;
    } else {
        release = layout == 5 || materials > 3 ? 14000 : materials > 1 ? 13000 : 12000;
    }
    s.file_version = release / 100;
    return true;
}

// The part type stored as a real; anything that is not a small whole number
// in range is of no type.
std::int32_t part_type(float t) {
    if (!std::isfinite(t) || t <= -2147483648.0f || t >= 2147483648.0f) return 0;
    return static_cast<std::int32_t>(t);
}

bool read_structured_part(runtime::Connection& c, ModelStore& s, std::int32_t i) {
    std::string name;
    std::int32_t ijk[3], further[3];
    if (!read_text(c, 35, name) || !read_ints(c, ijk, 3) || !read_ints(c, further, 3))
        return false;
    // A block needs at least one node layer in each direction, and its node
    // count must be a count the interface can report. I x J is below 2^62;
    // it is checked before K multiplies it.
    if (ijk[0] < 1 || ijk[1] < 1 || ijk[2] < 1) return false;
    const std::int64_t plane = std::int64_t(ijk[0]) * ijk[1];
    if (plane > std::numeric_limits<std::int32_t>::max()) return false;
    const std::int64_t nodes = plane * ijk[2];
    if (nodes > std::numeric_limits<std::int32_t>::max()) return false;
    s.part_names(i).assign(name);
    s.size_a(i) = ijk[0];
    s.size_b(i) = ijk[1];
    s.size_c(i) = ijk[2];
    s.further_a(i) = further[0];
    s.further_b(i) = further[1];
    s.further_c(i) = further[2];
    Part& p = s.parts(i);
    p.type = model::kStructured;
    p.elements = static_cast<std::int32_t>(std::int64_t(ijk[0] - 1) * (ijk[1] - 1) * (ijk[2] - 1));
    p.nodes = static_cast<std::int32_t>(nodes);
    return true;
}

bool read_unstructured_part(runtime::Connection& c, ModelStore& s, std::int32_t i) {
    Part& p = s.parts(i);
    p.type = model::kUnstructured;
    std::string name;
    std::int32_t em[2];
    if (!read_text(c, 35, name) || !read_ints(c, em, 2) || em[0] < 0 || em[1] < 0) return false;
    s.part_names(i).assign(name);
    s.size_a(i) = em[0];
    s.size_b(i) = em[1];
    p.elements = em[0];
    p.nodes = em[1];
    if (s.unstructured_element_total > std::numeric_limits<std::int32_t>::max() - em[0])
        return false;
    s.unstructured_element_total += em[0];
    // The element list must cover the part's elements; the node list is
    // rebuilt from the connectivity when there is one.
    if (read_array(c, Framing::Single, p.element_ids) != kReadOk ||
        p.element_ids.size() < p.elements)
        return false;
    p.element_ids.shrink_to(p.elements);
    if (read_array(c, Framing::Single, p.node_ids) != kReadOk) return false;
    p.node_ids.shrink_to(p.nodes);
    return true;
}

// Replaces each unstructured part's node list by the distinct nodes its
// elements use, in first-use order. The connectivity has been checked to
// name only nodes held.
bool rebuild_node_lists(ModelStore& s) {
    const std::int64_t rows = s.connectivity.size() / 8;
    // One marker per node, stamped with the part that listed it last.
    runtime::Array<std::int32_t> marker;
    runtime::allocate(marker, s.node_count);
    s.derived_node_total = 0;
    for (std::int64_t i = 1; i <= s.parts.size(); ++i) {
        Part& p = s.parts(i);
        if (p.type != model::kUnstructured) continue;
        for (std::int32_t e : p.element_ids)
            if (e < 1 || e > rows) return false;  // no such row of the connectivity
        // Distinct nodes: no more than the nodes held, however many elements.
        runtime::Array<std::int32_t> list;
        runtime::allocate(list, std::min<std::int64_t>(8 * p.element_ids.size(), s.node_count));
        std::int64_t length = 0;
        for (std::int32_t e : p.element_ids) {
            for (std::int64_t k = 1; k <= 8; ++k) {
                const std::int32_t n = s.connectivity(8 * (e - 1) + k);
                if (n == 0 || marker(n) == static_cast<std::int32_t>(i)) continue;
                marker(n) = static_cast<std::int32_t>(i);
                list(++length) = n;
            }
        }
        list.shrink_to(length);
        p.node_ids = std::move(list);
        p.nodes = static_cast<std::int32_t>(length);
        if (s.derived_node_total > std::numeric_limits<std::int32_t>::max() - p.nodes) return false;
        s.derived_node_total += p.nodes;
    }
    return true;
}

bool read_parts(runtime::Connection& c, ModelStore& s) {
    std::int32_t su[2];
    if (!read_ints(c, su, 2) || su[0] < 0 || su[1] < 0) return false;
    const std::int64_t parts = std::int64_t(su[0]) + su[1];
    // Every part takes at least its type record.
    if (static_cast<std::uint64_t>(parts) > bytes_left(c) / (kRecordFraming + 4)) return false;
    s.structured_parts = su[0];
    s.unstructured_parts = su[1];
    runtime::allocate(s.part_names, parts);
    for (auto* a : {&s.size_a, &s.size_b, &s.size_c, &s.further_a, &s.further_b, &s.further_c})
        runtime::allocate(*a, parts);
    runtime::allocate(s.parts, parts);

    // Every node of a block has its three coordinates in this file: blocks
    // with more nodes than the file could hold coordinates for are not
    // genuine, and would have hosts size their arrays for them.
    std::int64_t block_nodes = 0;
    for (std::int32_t i = 1; i <= parts; ++i) {
        float t = 0.0f;
        if (!read_real(c, t)) return false;
        const std::int32_t type = part_type(t);
        if (type == model::kStructured) {
            if (!read_structured_part(c, s, i)) return false;
            block_nodes += s.parts(i).nodes;
            if (3 * block_nodes > max_values_for(c.size)) return false;
        }
        if (type == model::kUnstructured && !read_unstructured_part(c, s, i)) return false;
    }

    if (read_array(c, Framing::Single, s.connectivity) != kReadOk) return false;
    if (read_array(c, Framing::Single, s.coordinates) != kReadOk) return false;
    s.node_count = static_cast<std::int32_t>(s.coordinates.size() / 3);
    // The connectivity names nodes by their place among the nodes held.
    for (std::int32_t n : s.connectivity)
        if (n < 0 || n > s.node_count) return false;
    if (s.connectivity.size() > 0 && !rebuild_node_lists(s)) return false;
    // Without a connectivity the stored node lists stay, and must hold the
    // nodes their parts state, as the element lists must.
    if (s.connectivity.size() == 0)
        for (const Part& p : s.parts)
            if (p.type == model::kUnstructured && p.node_ids.size() < p.nodes) return false;
    if (read_array(c, Framing::Single, s.element_types) != kReadOk) return false;
    model::build_element_kinds(s);
    if (header_word(s, 1) > 1) {
        if (read_array(c, Framing::Single, s.numbering.node_numbers) != kReadOk ||
            read_array(c, Framing::Single, s.numbering.element_numbers) != kReadOk)
            return false;
    }
    return true;
}

bool read_attributes(runtime::Connection& c, ModelStore& s) {
    const std::int32_t layout = header_word(s, 1);
    s.unit_codes[0] = s.unit_codes[1] = s.unit_codes[2] = 3;
    if (layout > 2 && !(read_int(c, s.unit_codes[0]) && read_int(c, s.unit_codes[1]) &&
                        read_int(c, s.unit_codes[2])))
        return false;
    s.symmetry[0] = 3;
    s.symmetry[1] = 0;
    if (layout > 3 && !(read_int(c, s.symmetry[0]) && read_int(c, s.symmetry[1]))) return false;

    std::int32_t q = 0;
    if (layout > 4) {
        // Each pair is two records of one integer.
        if (!read_int(c, q) || q < 0 ||
            static_cast<std::uint64_t>(q) > bytes_left(c) / (2 * (kRecordFraming + 4)))
            return false;
        runtime::allocate(s.pairs, 2 * std::int64_t(q));
        for (std::int64_t k = 1; k <= 2 * std::int64_t(q); ++k)
            if (!read_int(c, s.pairs(k))) return false;
    }
    s.pair_count = q;

    std::int32_t largest = 0;
    for (std::int32_t n : s.numbering.element_numbers) largest = std::max(largest, n);
    if (largest > 0) {
        std::vector<std::pair<std::int32_t, std::int32_t>> links;
        links.reserve(2 * static_cast<std::size_t>(q));
        for (std::int64_t k = 1; k + 1 <= s.pairs.size(); k += 2) {
            links.emplace_back(s.pairs(k), s.pairs(k + 1));
            links.emplace_back(s.pairs(k + 1), s.pairs(k));
        }
        s.pair_map.build(std::move(links), largest);
    }
    return true;
}

bool read_materials(runtime::Connection& c, ModelStore& s) {
    const std::int32_t level = header_word(s, 2);
    if (level <= 0) return true;
    std::int32_t k = 0;
    // Every material has at least its name record of 30 characters.
    if (!read_int(c, k) || k < 0 || static_cast<std::uint64_t>(k) > bytes_left(c) / (kRecordFraming + 30))
        return false;
    runtime::allocate(s.material_names, k);
    std::string text;
    for (std::int32_t m = 1; m <= k; ++m) {
        if (!read_text(c, 30, text)) return false;
        s.material_names(m).assign(text);
    }
    if (level >= 2) {
        runtime::allocate(s.material_ids, k);
        for (std::int32_t m = 1; m <= k; ++m)
            if (!read_int(c, s.material_ids(m))) return false;
    }
    if (level >= 3) {
        runtime::allocate(s.body_names, k);
        for (std::int32_t m = 1; m <= k; ++m) {
            if (!read_text(c, 256, text)) return false;
            s.body_names(m).assign(text);
        }
    }
    if (level >= 4) {
        runtime::allocate(s.poisson_ratios, k);
        for (std::int32_t m = 1; m <= k; ++m)
            if (!read_real(c, s.poisson_ratios(m))) return false;
    }
    s.material_count = k;
    return true;
}

bool read_parallel_task_data(runtime::Connection& c, ModelStore& s) {
    std::int32_t p = 0, n = 0, length = 0;
    if (!read_int(c, p)) return false;
    if (p <= 0) return true;
    if (!read_int(c, n) || !read_int(c, length) || n < 0 || length < 0) return false;
    if (static_cast<std::uint64_t>(length) + kRecordFraming > bytes_left(c) ||
        n > max_values_for(static_cast<std::uint64_t>(length)))
        return false;
    runtime::ByteBuffer payload(length);
    if (read_record_prefix(c, payload.data(), static_cast<std::size_t>(length)) != kReadOk)
        return false;
    runtime::Array<std::int32_t> values;
    runtime::allocate(values, n);
    std::int64_t words = 0;
    // A stream that cannot be inflated leaves the model without the
    // information rather than with invented values.
    if (inflate_values(values.data(), n, payload.data(), length, words) != Z_OK) return true;
    values.shrink_to(std::min<std::int64_t>(p, n));
    s.parallel_task_info = std::move(values);
    return true;
}

}  // namespace

bool read_base_file(runtime::Connection& c, ModelStore& s) {
    rewind(c);
    if (!read_header(c, s)) return false;

    // A missing "<Parts>" leaves the position where the section would have
    // begun, for the unit system records that follow it.
    const std::uint64_t after_header = c.file->position();
    if (find_tag(c, "<Parts>") == 0) {
        s.model_loaded = true;
        if (header_word(s, 1) < 7 && !read_parts(c, s)) return false;
    } else {
        c.file->seek(after_header);
    }
    model::build_numbering_maps(s);
    if (!read_attributes(c, s)) return false;

    if (find_tag(c, "<Materials>") == 0) {
        s.model_loaded = true;
        if (!read_materials(c, s)) return false;
    }
    if (find_tag(c, "<ParallelTaskData>") == 0) {
        s.model_loaded = true;
        if (!read_parallel_task_data(c, s)) return false;
    }
    return true;
}

}  // namespace qv::format
