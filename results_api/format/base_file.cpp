// Base file: header and version, "<Parts>", unit system, symmetry,
// pyramid/tetrahedron pairs, "<Materials>" and "<ParallelTaskData>".
#include "format/base_file.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <zlib.h>

#include "format/compressed_array.h"
#include "model/element_kinds.h"

namespace qv::format {
namespace {

using model::Analysis;
using model::Part;

constexpr std::uint64_t kRecordFraming = 8;

// A count record whose items each take at least `item_bytes` of what
// follows: a larger count cannot be genuine and is refused before anything
// is sized from it.
bool read_count(RecordReader& r, std::int32_t& n, std::uint64_t item_bytes, const char* what) {
    if (!r.int32(n)) return r.fail(std::string("no ") + what + " record");
    if (n < 0 || (item_bytes > 0 && static_cast<std::uint64_t>(n) > r.bytes_left() / item_bytes))
        return r.fail(std::string(what) + " " + std::to_string(n) + " does not fit in the file");
    return true;
}

template <class T>
bool read_list(RecordReader& r, runtime::Array<T>& out, const std::string& what) {
    const Status st = read_array(r, Framing::Single, out);
    if (st == Status::ok) return true;
    if (r.inflation_refused())
        return r.fail(what + ": the arrays inflate to more than " +
                      std::to_string(r.inflation_limit()) + " bytes, the limit for a base file of " +
                      std::to_string(r.size()) + " bytes");
    return r.fail(what + (st == Status::corrupt_stream ? ": corrupt stream" : ": damaged array"));
}

bool read_header(RecordReader& r, Analysis& a) {
    r.enter("header");
    std::int32_t n = 0;
    if (!read_count(r, n, 4, "header word count")) return false;
    RecordData data;
    if (r.record(data) != Status::ok || data.size() / 4 < static_cast<std::size_t>(n))
        return r.fail("header words shorter than their count");
    runtime::allocate(a.base_header, n);
    for (std::int32_t& w : a.base_header) w = data.int32();

    const std::int32_t layout = a.header_word(1), materials = a.header_word(2);
    std::int32_t release = 0;
    if (layout > 5) {
        if (!r.int32(release)) return r.fail("no release record");
    } else {
        release = layout == 5 || materials > 3 ? 14000 : materials > 1 ? 13000 : 12000;
    }
    a.file_version = release / 100;
    return true;
}

// The part type stored as a real; anything that is not a small whole number
// in range is of no type.
std::int32_t part_type(float t) {
    if (!std::isfinite(t) || t <= -2147483648.0f || t >= 2147483648.0f) return 0;
    return static_cast<std::int32_t>(t);
}

bool read_structured_part(RecordReader& r, Analysis& a, std::int32_t i) {
    std::string name;
    std::int32_t ijk[3], further[3];
    if (!r.text(35, name) || !r.ints(ijk, 3) || !r.ints(further, 3))
        return r.fail("structured part " + std::to_string(i) + ": records missing");
    // A block needs at least one node layer in each direction, and its node
    // count must be a count the interface can report. I x J is below 2^62;
    // it is checked before K multiplies it.
    const std::int64_t plane = std::int64_t(ijk[0]) * ijk[1];
    if (ijk[0] < 1 || ijk[1] < 1 || ijk[2] < 1 || plane > std::numeric_limits<std::int32_t>::max() ||
        plane * ijk[2] > std::numeric_limits<std::int32_t>::max())
        return r.fail("structured part " + std::to_string(i) + ": extents " +
                      std::to_string(ijk[0]) + " x " + std::to_string(ijk[1]) + " x " +
                      std::to_string(ijk[2]) + " out of range");
    a.part_names(i).assign(name);
    a.size_a(i) = ijk[0];
    a.size_b(i) = ijk[1];
    a.size_c(i) = ijk[2];
    a.further_a(i) = further[0];
    a.further_b(i) = further[1];
    a.further_c(i) = further[2];
    Part& p = a.parts(i);
    p.type = model::kStructured;
    p.elements = static_cast<std::int32_t>(std::int64_t(ijk[0] - 1) * (ijk[1] - 1) * (ijk[2] - 1));
    p.nodes = static_cast<std::int32_t>(plane * ijk[2]);
    return true;
}

bool read_unstructured_part(RecordReader& r, Analysis& a, std::int32_t i) {
    const std::string which = "unstructured part " + std::to_string(i);
    Part& p = a.parts(i);
    p.type = model::kUnstructured;
    std::string name;
    std::int32_t em[2];
    if (!r.text(35, name) || !r.ints(em, 2)) return r.fail(which + ": records missing");
    if (em[0] < 0 || em[1] < 0) return r.fail(which + ": negative element or node count");
    a.part_names(i).assign(name);
    a.size_a(i) = em[0];
    a.size_b(i) = em[1];
    p.elements = em[0];
    p.nodes = em[1];
    if (a.counts.unstructured_element_total > std::numeric_limits<std::int32_t>::max() - em[0])
        return r.fail(which + ": element total beyond 2^31");
    a.counts.unstructured_element_total += em[0];
    // The element list must cover the part's elements; the node list is
    // rebuilt from the connectivity when there is one.
    if (!read_list(r, p.element_ids, which + " element list")) return false;
    if (p.element_ids.size() < p.elements)
        return r.fail(which + ": element list shorter than its " + std::to_string(p.elements) +
                      " elements");
    p.element_ids.shrink_to(p.elements);
    if (!read_list(r, p.node_ids, which + " node list")) return false;
    p.node_ids.shrink_to(p.nodes);
    return true;
}

// Replaces each unstructured part's node list by the distinct nodes its
// elements use, in first-use order. The connectivity has been checked to
// name only nodes held.
bool rebuild_node_lists(RecordReader& r, Analysis& a) {
    const std::int64_t rows = a.connectivity.size() / 8;
    const std::int32_t node_count = a.counts.node_count;
    // One marker per node, stamped with the part that listed it last.
    runtime::Array<std::int32_t> marker;
    runtime::allocate(marker, node_count);
    a.derived_node_total = 0;
    for (std::int64_t i = 1; i <= a.parts.size(); ++i) {
        Part& p = a.parts(i);
        if (p.type != model::kUnstructured) continue;
        for (std::int32_t e : p.element_ids)
            if (e < 1 || e > rows)
                return r.fail("unstructured part " + std::to_string(i) + ": element " +
                              std::to_string(e) + " is no row of the connectivity");
        // Distinct nodes: no more than the nodes held, however many elements.
        runtime::Array<std::int32_t> list;
        runtime::allocate(list, std::min<std::int64_t>(8 * p.element_ids.size(), node_count));
        std::int64_t length = 0;
        for (std::int32_t e : p.element_ids) {
            for (std::int64_t k = 1; k <= 8; ++k) {
                const std::int32_t n = a.connectivity(8 * (e - 1) + k);
                if (n == 0 || marker(n) == static_cast<std::int32_t>(i)) continue;
                marker(n) = static_cast<std::int32_t>(i);
                list(++length) = n;
            }
        }
        list.shrink_to(length);
        p.node_ids = std::move(list);
        p.nodes = static_cast<std::int32_t>(length);
        if (a.derived_node_total > std::numeric_limits<std::int32_t>::max() - p.nodes)
            return r.fail("node total beyond 2^31");
        a.derived_node_total += p.nodes;
    }
    return true;
}

bool read_parts(RecordReader& r, Analysis& a) {
    std::int32_t su[2];
    if (!r.ints(su, 2) || su[0] < 0 || su[1] < 0) return r.fail("no valid part count record");
    const std::int64_t parts = std::int64_t(su[0]) + su[1];
    // Every part takes at least its type record.
    if (static_cast<std::uint64_t>(parts) > r.bytes_left() / (kRecordFraming + 4))
        return r.fail(std::to_string(parts) + " parts do not fit in the file");
    a.counts.structured_parts = su[0];
    a.counts.unstructured_parts = su[1];
    runtime::allocate(a.part_names, parts);
    for (auto* v : {&a.size_a, &a.size_b, &a.size_c, &a.further_a, &a.further_b, &a.further_c})
        runtime::allocate(*v, parts);
    runtime::allocate(a.parts, parts);

    // Every node of a block has its three coordinates in this file: blocks
    // with more nodes than the file could hold coordinates for are not
    // genuine, and would have hosts size their arrays for them.
    std::int64_t block_nodes = 0;
    for (std::int32_t i = 1; i <= parts; ++i) {
        float t = 0.0f;
        if (!r.real32(t)) return r.fail("part " + std::to_string(i) + ": no type record");
        const std::int32_t type = part_type(t);
        if (type == model::kStructured) {
            if (!read_structured_part(r, a, i)) return false;
            block_nodes += a.parts(i).nodes;
            if (3 * block_nodes > max_values_for(r.size()))
                return r.fail("structured part " + std::to_string(i) +
                              ": more nodes than the file holds coordinates for");
        }
        if (type == model::kUnstructured && !read_unstructured_part(r, a, i)) return false;
    }

    if (!read_list(r, a.connectivity, "connectivity")) return false;
    if (!read_list(r, a.coordinates, "coordinates")) return false;
    a.counts.node_count = static_cast<std::int32_t>(a.coordinates.size() / 3);
    // The nodes are the structured slots and then the unstructured nodes:
    // hosts lay out T structured nodes from the extents and index the
    // coordinates with them, so every slot needs its coordinates. A base
    // file without any coordinates stores no geometry at all; the exports
    // serve its other queries, libqvres refuses it (qvres_analysis.cpp).
    if (a.counts.node_count > 0 && a.counts.node_count < block_nodes) {
        const std::int64_t unstructured_nodes = std::max<std::int64_t>(
            std::int64_t(a.counts.node_count) - block_nodes, 0);
        return r.fail(std::to_string(a.counts.node_count) + " node coordinates for " +
                      std::to_string(block_nodes) + " structured slots and " +
                      std::to_string(unstructured_nodes) + " unstructured nodes");
    }
    // The connectivity names nodes by their place among the nodes held.
    for (std::int32_t n : a.connectivity)
        if (n < 0 || n > a.counts.node_count)
            return r.fail("connectivity names node " + std::to_string(n) + " of " +
                          std::to_string(a.counts.node_count));
    if (a.connectivity.size() > 0 && !rebuild_node_lists(r, a)) return false;
    // Without a connectivity the stored node lists stay, and must hold the
    // nodes their parts state, as the element lists must.
    // They name nodes by their place too, as the connectivity does, when
    // the file holds coordinates to place them by.
    if (a.connectivity.size() == 0)
        for (std::int64_t i = 1; i <= a.parts.size(); ++i) {
            const Part& p = a.parts(i);
            if (p.type != model::kUnstructured) continue;
            if (p.node_ids.size() < p.nodes) return r.fail("node list shorter than its part's nodes");
            if (a.counts.node_count == 0) continue;
            for (std::int32_t n : p.node_ids)
                if (n < 0 || n > a.counts.node_count)
                    return r.fail("unstructured part " + std::to_string(i) + ": node list names node " +
                                  std::to_string(n) + " of " + std::to_string(a.counts.node_count));
        }
    if (!read_list(r, a.element_types, "element types")) return false;
    model::build_element_kinds(a);
    if (a.header_word(1) > 1) {
        if (!read_list(r, a.numbering.node_numbers, "node numbering") ||
            !read_list(r, a.numbering.element_numbers, "element numbering"))
            return false;
    }
    return true;
}

bool read_attributes(RecordReader& r, Analysis& a) {
    r.enter("unit system");
    const std::int32_t layout = a.header_word(1);
    a.unit_codes[0] = a.unit_codes[1] = a.unit_codes[2] = 3;
    if (layout > 2 && !(r.int32(a.unit_codes[0]) && r.int32(a.unit_codes[1]) &&
                        r.int32(a.unit_codes[2])))
        return r.fail("unit codes missing");
    a.symmetry[0] = 3;
    a.symmetry[1] = 0;
    if (layout > 3 && !(r.int32(a.symmetry[0]) && r.int32(a.symmetry[1])))
        return r.fail("symmetry words missing");

    std::int32_t q = 0;
    if (layout > 4) {
        r.enter("pyramid/tetrahedron pairs");
        // Each pair is two records of one integer.
        if (!read_count(r, q, 2 * (kRecordFraming + 4), "pair count")) return false;
        runtime::allocate(a.pairs, 2 * std::int64_t(q));
        for (std::int64_t k = 1; k <= 2 * std::int64_t(q); ++k)
            if (!r.int32(a.pairs(k))) return r.fail("pair " + std::to_string((k + 1) / 2) + " missing");
    }
    a.pair_count = q;

    std::int32_t largest = 0;
    for (std::int32_t n : a.numbering.element_numbers) largest = std::max(largest, n);
    if (largest > 0) {
        std::vector<std::pair<std::int32_t, std::int32_t>> links;
        links.reserve(2 * static_cast<std::size_t>(q));
        for (std::int64_t k = 1; k + 1 <= a.pairs.size(); k += 2) {
            links.emplace_back(a.pairs(k), a.pairs(k + 1));
            links.emplace_back(a.pairs(k + 1), a.pairs(k));
        }
        a.pair_map.build(std::move(links), largest);
    }
    return true;
}

bool read_materials(RecordReader& r, Analysis& a) {
    const std::int32_t level = a.header_word(2);
    if (level <= 0) return true;
    model::Materials& m = a.materials;
    std::int32_t k = 0;
    // Every material has at least its name record of 30 characters.
    if (!read_count(r, k, kRecordFraming + 30, "material count")) return false;
    runtime::allocate(m.names, k);
    std::string text;
    for (std::int32_t i = 1; i <= k; ++i) {
        if (!r.text(30, text)) return r.fail("material " + std::to_string(i) + ": no name");
        m.names(i).assign(text);
    }
    if (level >= 2) {
        runtime::allocate(m.ids, k);
        for (std::int32_t i = 1; i <= k; ++i)
            if (!r.int32(m.ids(i))) return r.fail("material " + std::to_string(i) + ": no identifier");
    }
    if (level >= 3) {
        runtime::allocate(m.body_names, k);
        for (std::int32_t i = 1; i <= k; ++i) {
            if (!r.text(256, text)) return r.fail("material " + std::to_string(i) + ": no body name");
            m.body_names(i).assign(text);
        }
    }
    if (level >= 4) {
        runtime::allocate(m.poisson_ratios, k);
        for (std::int32_t i = 1; i <= k; ++i)
            if (!r.real32(m.poisson_ratios(i)))
                return r.fail("material " + std::to_string(i) + ": no Poisson ratio");
    }
    m.count = k;
    return true;
}

bool read_parallel_task_data(RecordReader& r, Analysis& a) {
    std::int32_t p = 0, n = 0, length = 0;
    if (!r.int32(p)) return r.fail("no task count record");
    if (p <= 0) return true;
    if (!r.int32(n) || !r.int32(length) || n < 0 || length < 0)
        return r.fail("no valid size records");
    if (static_cast<std::uint64_t>(length) + kRecordFraming > r.bytes_left() ||
        n > max_values_for(static_cast<std::uint64_t>(length)))
        return r.fail(std::to_string(n) + " values in " + std::to_string(length) +
                      " bytes do not fit");
    if (!r.claim_inflation(4 * std::int64_t(n)))
        return r.fail(std::to_string(n) + " values: the arrays inflate to more than " +
                      std::to_string(r.inflation_limit()) + " bytes, the limit for a base file of " +
                      std::to_string(r.size()) + " bytes");
    runtime::ByteBuffer payload(length);
    if (r.prefix(payload.data(), static_cast<std::size_t>(length)) != Status::ok)
        return r.fail("payload record damaged");
    runtime::Array<std::int32_t> values;
    runtime::allocate(values, n);
    std::int64_t words = 0;
    // A stream that cannot be inflated leaves the model without the
    // information rather than with invented values.
    if (inflate_values(values.data(), n, payload.data(), length, words) != Z_OK) return true;
    values.shrink_to(std::min<std::int64_t>(p, n));
    a.parallel_task_info = std::move(values);
    return true;
}

}  // namespace

std::int64_t default_inflation_limit(std::uint64_t file_size) {
    constexpr std::uint64_t kRatio = 64, kFloor = std::uint64_t(16) << 20;
    if (file_size > (std::uint64_t(INT64_MAX) - kFloor) / kRatio) return INT64_MAX;
    return static_cast<std::int64_t>(kRatio * file_size + kFloor);
}

bool read_base_file(RecordReader& r, Analysis& a, bool& tags_found) {
    tags_found = false;
    r.rewind();
    if (!read_header(r, a)) return false;

    // A missing "<Parts>" leaves the position where the section would have
    // begun, for the unit system records that follow it.
    const std::uint64_t after_header = r.position();
    if (r.find_tag("<Parts>") == Status::ok) {
        tags_found = true;
        r.enter("<Parts>");
        if (a.header_word(1) < 7 && !read_parts(r, a)) return false;
    } else {
        r.seek(after_header);
    }
    model::build_numbering_maps(a);
    if (!read_attributes(r, a)) return false;

    if (r.find_tag("<Materials>") == Status::ok) {
        tags_found = true;
        r.enter("<Materials>");
        if (!read_materials(r, a)) return false;
    }
    if (r.find_tag("<ParallelTaskData>") == Status::ok) {
        tags_found = true;
        r.enter("<ParallelTaskData>");
        if (!read_parallel_task_data(r, a)) return false;
    }
    return true;
}

}  // namespace qv::format
