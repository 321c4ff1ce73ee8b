// Models made from fuzzer bytes.
#include "model_generator.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace qvfuzz {

std::uint32_t ValueSource::bits() {
    if (size_ == 0) return 0;
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) {
        u = (u << 8) | data_[size_ - 1 - taken_];
        if (++taken_ == size_) taken_ = 0;  // a division per byte would cost more than the rest
    }
    return u;
}

float ValueSource::f32() {
    const std::uint32_t u = bits();
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

namespace {

// Slots of all blocks together, so that the files stay small and the
// sweeps quick; a block that would pass it is cut along K, then J, then I.
constexpr std::int64_t kSlotLimit = 1200;
constexpr std::int32_t kMaxMaterials = 6;
constexpr std::size_t kMostChunks = 8;

struct Kind {
    std::int32_t type_code;
    std::int32_t nodes;
};
// Beam, tetrahedron, hexahedron, pyramid, wedge, triangular and
// quadrilateral shell: the solver's type code and the nodes each uses.
constexpr Kind kKinds[] = {{3, 2}, {1, 4}, {1, 8}, {1, 5}, {1, 6}, {2, 3}, {2, 4}};

class Generator {
public:
    Generator(const std::uint8_t* data, std::size_t size) : c_(data, size), v_(data, size) {}

    GeneratedRun run() {
        GeneratedRun out;
        base(out.base);
        const std::int32_t cycles = c_.range(1, 3);
        for (std::int32_t k = 0; k < cycles; ++k) out.cycles.push_back(cycle(k, out.cycles));
        out.name_a_cycle = c_.chance(100);
        out.open_kind = c_.range(0, 2);
        out.prefix_rule = c_.range(0, 1);
        out.disagreements = disagreements_;
        return out;
    }

private:
    // A length as the model needs it, or now and then (a disagreement) a
    // fuzzer-chosen amount shorter or longer.
    std::int64_t length(std::int64_t n) {
        if (!c_.chance(10)) return n;
        ++disagreements_;
        const std::int64_t delta = c_.chance(200) ? c_.range(-4, 4) : c_.range(-64, 64) * 7;
        return std::max<std::int64_t>(0, n + delta);
    }
    // A count as the model has it, or now and then one that disagrees.
    std::int32_t count(std::int32_t n) {
        if (!c_.chance(8)) return n;
        ++disagreements_;
        // Not millions: a few kilobytes of file justify them, and the sweeps
        // would spend seconds on each such input.
        return c_.pick<std::int32_t>({0, 1, -1, n + 1, n - 1, n * 2 + 3, n + 4096,
                                      std::numeric_limits<std::int32_t>::max()});
    }
    std::vector<float> reals(std::int64_t n) {
        std::vector<float> out(static_cast<std::size_t>(n));
        for (float& x : out) x = v_.f32();
        return out;
    }
    std::vector<std::int32_t> ints(std::int64_t n) {
        std::vector<std::int32_t> out(static_cast<std::size_t>(n));
        for (std::int32_t& x : out) x = v_.i32();
        return out;
    }
    // A numbering of n objects: none, consecutive from an offset, with a
    // stride, with duplicates, or negative.
    std::vector<std::int32_t> numbering(std::int64_t n) {
        const std::int32_t style = c_.range(0, 5);
        if (style == 0) return {};
        const std::int32_t first = c_.range(0, 250) * 4, stride = c_.range(1, 4);
        std::vector<std::int32_t> out;
        for (std::int64_t i = 0; i < n; ++i) {
            std::int32_t x = first + 1 + stride * static_cast<std::int32_t>(i);
            if (style == 3 && i > 0 && c_.chance(40)) x = out[static_cast<std::size_t>(c_.range(0, 255)) % out.size()];
            if (style == 4) x = -x;
            if (style == 5 && c_.chance(30)) x = c_.i32();
            out.push_back(x);
        }
        const std::int64_t kept = length(n);
        out.resize(static_cast<std::size_t>(kept), first);
        return out;
    }

    void blocks(qvw::BaseFileSpec& b) {
        static const char* const names[] = {"BLOCK", "PLANE", "GRID", "CORE", ""};
        const std::int32_t n = c_.range(0, 5);
        for (std::int32_t p = 0; p < n; ++p) {
            std::int32_t i = c_.chance(64) ? 1 : c_.range(1, 12);
            std::int32_t j = c_.range(1, 12), k = c_.range(1, 12);
            const std::int64_t room = std::max<std::int64_t>(1, kSlotLimit - slots_);
            while (std::int64_t(i) * j * k > room && k > 1) --k;
            while (std::int64_t(i) * j * k > room && j > 1) --j;
            while (std::int64_t(i) * j * k > room && i > 1) --i;
            qvw::PartSpec s = qvw::PartSpec::structured(names[c_.range(0, 4)], i, j, k);
            if (c_.chance(12)) {
                ++disagreements_;
                s.further[c_.range(0, 2)] = c_.i32();
            }
            if (c_.chance(6)) {  // extents the arrays do not cover, or no block can have
                // (kept to thousands of slots: a file of a few kilobytes may
                // justify millions, and each costs the sweeps a value)
                ++disagreements_;
                s.i = c_.pick<std::int32_t>({0, -1, 13, 40, std::numeric_limits<std::int32_t>::max()});
            }
            blocks_.push_back({s.i, s.j, s.k});
            slots_ += std::int64_t(i) * j * k;
            b.parts.push_back(s);
        }
    }

    // The node numbers of one element of `nodes` nodes, now and then one of
    // them no node.
    void element_nodes(std::int32_t nodes, std::int32_t used) {
        for (std::int32_t slot = 0; slot < 8; ++slot) {
            std::int32_t x = 0;
            if (slot < used) {
                x = nodes > 0 ? 1 + c_.range(0, 255) % nodes : 1;
                if (c_.chance(6)) {
                    ++disagreements_;
                    x = c_.pick<std::int32_t>({0, -1, nodes + 1, nodes + 1000,
                                               std::numeric_limits<std::int32_t>::max(),
                                               std::numeric_limits<std::int32_t>::min()});
                }
            }
            connectivity_.push_back(x);
        }
    }

    void unstructured(qvw::BaseFileSpec& b) {
        static const char* const names[] = {"BRICKS", "SKIN", "BEAMS", "MIXED"};
        nodes_ = c_.range(0, 24);
        const std::int32_t parts = c_.range(0, 3);
        unstructured_parts_ = parts;
        for (std::int32_t p = 0; p < parts; ++p) {
            qvw::PartSpec part = qvw::PartSpec::unstructured(names[c_.range(0, 3)], {});
            const std::int32_t n = c_.range(0, 6);
            for (std::int32_t e = 0; e < n; ++e) {
                const std::int32_t which = c_.range(0, 7);
                std::int32_t code, used;
                if (which < 7) {
                    code = kKinds[which].type_code;
                    used = kKinds[which].nodes;
                } else {  // no kind the library knows
                    ++disagreements_;
                    code = c_.pick<std::int32_t>({0, 4, -1, 2, 3, 99});
                    used = c_.range(0, 8);
                }
                types_.push_back(code);
                kinds_.push_back(which);
                element_nodes(nodes_, used);
                part.element_ids.push_back(static_cast<std::int32_t>(types_.size()));
            }
            if (!part.element_ids.empty() && c_.chance(10)) {
                ++disagreements_;
                part.element_ids[static_cast<std::size_t>(c_.range(0, 255)) % part.element_ids.size()] =
                    c_.pick<std::int32_t>({0, -1, static_cast<std::int32_t>(types_.size()) + 1, 1});
            }
            // The nodes the part's elements use, in first-use order.
            if (!c_.chance(20)) {
                for (std::int32_t row : part.element_ids) {
                    if (row < 1 || row > static_cast<std::int32_t>(types_.size())) continue;
                    for (std::int32_t slot = 0; slot < 8; ++slot) {
                        const std::int32_t x = connectivity_[8 * std::size_t(row - 1) + slot];
                        if (x != 0 && std::find(part.node_ids.begin(), part.node_ids.end(), x) ==
                                          part.node_ids.end())
                            part.node_ids.push_back(x);
                    }
                }
            }
            if (c_.chance(8)) {
                ++disagreements_;
                part.stored_nodes = c_.pick<std::int32_t>({0, 1, 100, 1 << 24});
            }
            if (c_.chance(8)) {
                ++disagreements_;
                part.stored_elements = c_.pick<std::int32_t>({0, 1, 100, 1 << 24});
            }
            b.parts.push_back(part);
        }
        elements_ = static_cast<std::int32_t>(types_.size());
        if (c_.chance(10)) {  // a part of no known type: no records
            ++disagreements_;
            qvw::PartSpec odd;
            odd.type = c_.pick<float>({0.0f, 3.0f, -1.0f});
            odd.name = "ODD";
            b.parts.insert(b.parts.begin() + c_.range(0, 255) % (b.parts.size() + 1), odd);
        }
    }

    void materials(qvw::BaseFileSpec& b) {
        static const char* const names[] = {"STEEL", "AIR", "WATER", "TNT", "FOAM", ""};
        static const char* const bodies[] = {"", "FRAME", "POOL", "CHARGE"};
        const std::int32_t n = c_.range(0, kMaxMaterials);
        for (std::int32_t m = 1; m <= n; ++m) {
            qvw::MaterialSpec s;
            s.name = names[c_.range(0, 5)];
            // Own, none, shared with material 1, negative, any small one.
            s.id = c_.pick<std::int32_t>({m, -1, 1, -m, 0, c_.range(0, 20) - 5});
            s.body = bodies[c_.range(0, 3)];
            s.poisson = c_.chance(128) ? 0.3f : v_.f32();
            b.materials.push_back(s);
        }
        materials_ = n;
        b.material_count = count(n);
        if (b.material_count == n) b.material_count = -1;
    }

    void base(qvw::BaseFileSpec& b) {
        const std::int32_t layout = c_.pick<std::int32_t>({6, 5, 6, 4, 3, 2, 1, 7});
        const std::int32_t level = c_.pick<std::int32_t>({4, 4, 3, 2, 1, 0});
        b.header = {layout, level};
        if (c_.chance(10)) b.header.push_back(c_.range(0, 9));
        b.release = c_.pick<std::int32_t>({15000, 14100, 0, -1, 123456});

        blocks(b);
        unstructured(b);
        if (c_.chance(8)) {
            ++disagreements_;
            b.structured_count = c_.range(0, 8);
        }
        if (c_.chance(8)) {
            ++disagreements_;
            b.unstructured_count = c_.range(0, 8);
        }
        b.connectivity = connectivity_;
        b.connectivity.resize(static_cast<std::size_t>(length(8 * std::int64_t(elements_))), 1);
        b.coordinates = reals(length(3 * (slots_ + nodes_)));
        b.element_types = types_;
        b.element_types.resize(static_cast<std::size_t>(length(elements_)), 1);
        b.node_numbers = numbering(slots_ + nodes_);
        b.element_numbers = numbering(elements_);

        for (std::int32_t& u : b.units) u = c_.chance(12) ? c_.i32() : c_.range(0, 5);
        b.symmetry[0] = c_.range(0, 3);
        b.symmetry[1] = c_.chance(12) ? c_.i32() : c_.range(0, 3);
        // Pyramid/tetrahedron pairs by external element number (the row when
        // there is no numbering).
        auto external = [&](std::size_t row) {
            return row < b.element_numbers.size() ? b.element_numbers[row]
                                                  : static_cast<std::int32_t>(row + 1);
        };
        std::vector<std::size_t> pyramids, tetrahedra;
        for (std::size_t e = 0; e < kinds_.size(); ++e) {
            if (kinds_[e] == 3) pyramids.push_back(e);
            if (kinds_[e] == 1) tetrahedra.push_back(e);
        }
        const std::int32_t pairs = c_.range(0, 3);
        for (std::int32_t p = 0; p < pairs; ++p) {
            if (!pyramids.empty() && !tetrahedra.empty() && !c_.chance(30)) {
                b.pairs.push_back({external(pyramids[c_.range(0, 255) % pyramids.size()]),
                                   external(tetrahedra[c_.range(0, 255) % tetrahedra.size()])});
            } else {
                b.pairs.push_back({c_.range(-2, 40), c_.range(-2, 40)});
            }
        }

        materials(b);
        b.materials_section = !c_.chance(8);
        b.parts_section = !c_.chance(6);
        b.parallel_section = c_.chance(100);
        if (b.parallel_section) {
            b.parallel_info = ints(c_.range(0, 16));
            const std::int32_t n = static_cast<std::int32_t>(b.parallel_info.size());
            b.parallel_count = count(n);
            if (b.parallel_count == n) b.parallel_count = -1;
        }
        using S = qvw::BaseSection;
        switch (c_.chance(24) ? c_.range(1, 5) : 0) {
        case 1: b.order = {S::Materials, S::Parts, S::ParallelTaskData}; break;
        case 2: b.order = {S::ParallelTaskData, S::Materials, S::Parts}; break;
        case 3: b.order = {S::Parts, S::ParallelTaskData, S::Materials}; break;
        case 4: b.order = {S::Materials, S::ParallelTaskData}; break;
        case 5: b.order = {S::Parts, S::Materials, S::Parts}; break;
        default: break;
        }
    }

    static bool multi_material(std::int32_t v) {
        switch (v) {
        case 54: case 81: case 83: case 85: case 86: case 87: case 88: case 89: return true;
        default: return false;
        }
    }

    // One directory entry and its array, of the sizes the cycle states.
    qvw::DirectoryEntrySpec entry(std::int64_t slots, std::int64_t nodes, std::int64_t elements) {
        const std::int32_t kind = c_.pick<std::int32_t>({2, -2, 1, -1, -2, 2, -1, 1, -2, 2, 3, 0});
        std::int32_t variable;
        if (c_.chance(16)) {
            variable = c_.chance(128) ? c_.range(0, 255) : c_.i32();
        } else if (kind == 2 || kind == 1) {
            variable = kind == 2 ? c_.pick<std::int32_t>({4, 5, 6, 7, 14, 20}) : c_.pick<std::int32_t>({35, 26, 10});
        } else if (kind == -1) {
            variable = c_.pick<std::int32_t>({10, 12, 26, 30, 30, 35});
        } else {
            variable = c_.pick<std::int32_t>({64, 86, 155, 54, 81, 83, 85, 87, 88, 89, 3, 17});
        }
        const std::int32_t qualifier = c_.pick<std::int32_t>({1, 1, 1, 2, -1, -2, -3, 0, 3, 7});
        static const char* const names[] = {"X-VELOCITY", "PRESSURE", "COVER FRAC.V", "SUBLAYER.A",
                                            "MATERIAL", "STATUS", "TEMP", ""};
        const std::string name = names[c_.range(0, 7)];
        const bool node = kind > 0;
        const std::int64_t per = (kind == -2 && multi_material(variable)) ? materials_ + 1 : 1;
        std::int64_t n = 2 + (node ? slots + nodes : slots * per + elements);
        if (kind != 1 && kind != 2 && kind != -1 && kind != -2) n = 0;
        if (c_.chance(12)) n = 0;  // listed, but no array stored
        n = length(n);
        const bool raw_pair = c_.chance(16);
        if (kind == 1 || kind == -1) {
            std::vector<std::int32_t> values = ints(n);
            if (!raw_pair && n >= 2) {
                values[0] = variable;
                values[1] = qualifier;
            }
            return qvw::DirectoryEntrySpec::integer(kind, variable, qualifier, std::move(values), name);
        }
        std::vector<float> values = reals(n);
        if (!raw_pair && n >= 2) {
            values[0] = float(variable);
            values[1] = float(qualifier);
        }
        return qvw::DirectoryEntrySpec::real(kind, variable, qualifier, std::move(values), name);
    }

    qvw::BodyArraysSpec bodies(std::int32_t per_body) {
        qvw::BodyArraysSpec b;
        const std::int32_t n = c_.range(0, 3);
        for (std::int32_t i = 0; i < n; ++i) b.numbers.push_back(c_.pick<std::int32_t>({1, 5, 3, 4, 2, 0, -1, 6}));
        b.data = reals(length(std::int64_t(per_body) * n));
        return b;
    }

    qvw::CycleFileSpec cycle(std::int32_t index, const std::vector<qvw::CycleFileSpec>& before) {
        qvw::CycleFileSpec c;
        const std::int32_t words = c_.pick<std::int32_t>({6, 7, 8, 6, 7, 8, 5, 9});
        c.header = {1, 1, 1, 1, 0, 1, 1, 1, 0};
        c.header.resize(static_cast<std::size_t>(words));
        for (std::size_t w = 0; w < c.header.size(); ++w)
            if (c_.chance(14)) c.header[w] = c_.pick<std::int32_t>({0, 1, 2, -1});
        c.chunk_size = c_.pick<std::int32_t>({4096, 1, 2, 3, 5, 7, 16, 64, 100, 1000});
        c.cycle = 10 * (index + 1) + c_.range(0, 9);
        if (!before.empty() && c_.chance(10)) c.cycle = before.back().cycle;  // a cycle seen twice
        c.time = c_.chance(20) ? v_.f32() : 0.5f * float(index) + 0.125f * float(c_.range(0, 3));
        if (c_.chance(10)) {
            c.model_values[0] = c_.i32();
            c.model_values[1] = c_.i32();
        }

        // The cycle's model: the base file's, or now and then another.
        c.structured_parts = blocks_;
        std::int64_t slots = slots_;
        if (c_.chance(12)) {
            ++disagreements_;
            if (!c.structured_parts.empty() && c_.chance(128)) {
                c.structured_parts.pop_back();
            } else {
                c.structured_parts.push_back({c_.range(1, 6), c_.range(1, 6), c_.range(1, 6)});
            }
            slots = 0;
            for (const auto& p : c.structured_parts)
                if (p[0] > 0 && p[1] > 0 && p[2] > 0 && p[0] <= 12 && p[1] <= 12 && p[2] <= 12)
                    slots += std::int64_t(p[0]) * p[1] * p[2];
        }
        const std::int32_t parts = std::max<std::int32_t>(0, unstructured_parts_);
        c.unstructured_parts = count(parts);
        c.unstructured_nodes = count(nodes_);
        c.unstructured_elements = count(elements_);
        const std::int64_t nodes = std::clamp<std::int64_t>(c.unstructured_nodes, 0, 64);
        const std::int64_t elements = std::clamp<std::int64_t>(c.unstructured_elements, 0, 64);

        const std::int32_t entries = c_.range(0, 9);
        for (std::int32_t e = 0; e < entries; ++e) c.entries.push_back(entry(slots, nodes, elements));
        c.variable_count = count(entries);
        if (c_.chance(8)) {
            ++disagreements_;
            c.directory_count = c_.pick<std::int32_t>({0, entries + 1, entries - 1, 1 << 20});
        }
        // Wrapped as the solver's 32-bit arithmetic would, whatever was stated.
        c.object_counts[0] = static_cast<std::int32_t>(2u + static_cast<std::uint32_t>(c.unstructured_elements));
        c.object_counts[1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(slots) +
                                                       static_cast<std::uint32_t>(c.unstructured_nodes));

        if (c_.chance(200)) c.displacements = reals(length(3 * (slots + nodes)));
        if (c_.chance(160)) {
            c.material_fractions.emplace();
            const std::int64_t arrays = c_.chance(16) ? c_.range(0, 8) : materials_;
            for (std::int64_t m = 0; m < arrays; ++m) c.material_fractions->push_back(reals(length(slots)));
        }
        if (c_.chance(128)) c.rigid_bodies = bodies(15);
        if (c_.chance(128)) c.joints = bodies(39);

        // Each compressed chunk costs a zlib stream to write: the longest
        // array gets at most kMostChunks chunks (short ones still chain).
        std::size_t longest = 0;
        for (const auto& e : c.entries) longest = std::max({longest, e.ints.size(), e.reals.size()});
        if (c.displacements) longest = std::max(longest, c.displacements->size());
        if (c.material_fractions)
            for (const auto& m : *c.material_fractions) longest = std::max(longest, m.size());
        c.chunk_size = std::max<std::int32_t>(c.chunk_size, static_cast<std::int32_t>(longest / kMostChunks) + 1);

        using S = qvw::CycleSection;
        if (c_.chance(8)) {
            std::rotate(c.order.begin(), c.order.begin() + c_.range(1, 6), c.order.end());
        }
        if (c_.chance(8)) {
            std::swap(c.order[static_cast<std::size_t>(c_.range(0, 6))],
                      c.order[static_cast<std::size_t>(c_.range(0, 6))]);
        }
        if (c_.chance(4)) c.order.erase(c.order.begin() + c_.range(0, 6));
        if (c_.chance(6)) c.order.push_back(c_.pick<S>({S::Node, S::Element, S::Model}));
        if (c_.chance(10)) {
            ++disagreements_;
            qvw::Content* which[] = {&c.model_content, &c.node_arrays, &c.element_arrays,
                                     &c.displacement_array, &c.material_arrays, &c.body_arrays};
            *which[c_.range(0, 5)] = c_.chance(128) ? qvw::Content::Omit : qvw::Content::Write;
        }
        return c;
    }

    ByteCursor c_;
    ValueSource v_;
    std::int32_t disagreements_ = 0;

    std::vector<std::array<std::int32_t, 3>> blocks_;
    std::int64_t slots_ = 0;
    std::int32_t nodes_ = 0;
    std::int32_t elements_ = 0;
    std::int32_t unstructured_parts_ = 0;
    std::int32_t materials_ = 0;
    std::vector<std::int32_t> connectivity_, types_, kinds_;
};

}  // namespace

GeneratedRun generate_run(const std::uint8_t* data, std::size_t size) {
    return Generator(data, size).run();
}

}  // namespace qvfuzz
