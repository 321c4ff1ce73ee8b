// The fixture analysis, the requests and the readings of the libqvres tests.
#include "qvres/qvres_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvtest {
namespace {

using qvw::DirectoryEntrySpec;
using Ints = std::vector<std::int32_t>;
using Floats = std::vector<float>;

constexpr std::array<std::array<std::int32_t, 3>, 3> kBlocks = {{{3, 3, 2}, {1, 3, 2}, {2, 2, 3}}};
constexpr std::size_t kSlots = 18 + 6 + 12;
constexpr std::size_t kUnstructuredNodes = 13;
constexpr std::size_t kElements = 4;
constexpr std::int32_t kMultiMaterial[] = {54, 81, 83, 85, 86, 87, 88, 89};
const std::vector<qvw::MaterialSpec> kMaterials = {
    {"STEEL", 1, "FRAME", 0.3f}, {"AIR", -1, "", 0.0f}, {"WATER", 2, "POOL", 0.49f},
    {"FOAM", -3, "PAD", 0.1f}};

// A hash of (seed, position), so that every array differs from the others.
std::uint32_t mix(std::uint32_t seed, std::size_t i) {
    std::uint32_t h = (seed * 2654435761u) ^ (static_cast<std::uint32_t>(i) * 40503u + 0x9e3779b9u);
    h = (h ^ (h >> 15)) * 0x2c1b3c6du;
    h = (h ^ (h >> 12)) * 0x297a2d39u;
    return h ^ (h >> 15);
}
// n values with fractions and both signs, so that scaling and averaging
// show in the low bits; or fractions in [0, 1].
Floats series(std::size_t n, std::uint32_t seed, bool fractions = false) {
    Floats v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = fractions ? float(mix(seed, i) % 1001u) / 1000.0f : float(std::int32_t(mix(seed, i) % 20001u) - 10000) / 64.0f;
    return v;
}
// Arrays as stored: the header pair, then n values.
Floats reals(std::int32_t variable, std::int32_t part, std::size_t n, std::uint32_t seed) {
    Floats v = series(n, seed);
    v.insert(v.begin(), {float(variable), float(part)});
    return v;
}
Ints ints(std::int32_t variable, std::int32_t part, std::size_t n, std::uint32_t seed) {
    Ints v{variable, part};
    for (std::size_t i = 0; i < n; ++i) v.push_back(std::int32_t(mix(seed, i) % 2001u) - 1000);
    return v;
}

qvw::BaseFileSpec fixture_base() {
    qvw::BaseFileSpec b;
    b.header = {5, 4};
    const char* names[] = {"BLOCK", "SHELL", "BAR"};
    for (std::size_t p = 0; p < kBlocks.size(); ++p)
        b.parts.push_back(qvw::PartSpec::structured(names[p], kBlocks[p][0], kBlocks[p][1], kBlocks[p][2]));
    b.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    b.parts.push_back(qvw::PartSpec::unstructured("SKIN", {3, 4}));
    // Two hexahedra sharing a face, a quadrilateral and a triangle.
    b.connectivity = {1, 2, 3, 4, 5, 6, 7, 8,  5, 6, 7, 8, 9, 10, 11, 12,
                      9, 10, 11, 12, 0, 0, 0, 0, 11, 12, 13, 0, 0, 0, 0, 0};
    b.coordinates = series(3 * (kSlots + kUnstructuredNodes), 7);
    b.element_types = {1, 1, 2, 2};
    b.units[0] = 1;  // mm
    b.units[1] = 3;  // kg
    b.units[2] = 2;  // ms
    b.materials = kMaterials;
    return b;
}

// Variant 0 single-form arrays, 1 chunked bulk arrays, 2 chunked bulk and
// body arrays, 3 single form without fractions, joints and rigid bodies.
qvw::CycleFileSpec fixture_cycle(std::int32_t cycle, float time, int variant, std::int32_t seed_cycle = -1) {
    const std::size_t T = kSlots, U = kUnstructuredNodes, E = kElements, M = kMaterials.size();
    qvw::CycleFileSpec c;
    c.header = variant == 1 ? Ints{1, 1, 1, 1, 0, 1, 1}
             : variant == 2 ? Ints{1, 1, 1, 1, 0, 1, 1, 1}
                            : Ints{1, 1, 1, 1, 0, 1};
    c.chunk_size = 7;
    c.cycle = cycle;
    c.time = time;
    c.structured_parts.assign(kBlocks.begin(), kBlocks.end());
    c.unstructured_parts = 2;
    c.unstructured_nodes = std::int32_t(U);
    c.unstructured_elements = std::int32_t(E);
    const std::uint32_t s = static_cast<std::uint32_t>(seed_cycle >= 0 ? seed_cycle : cycle) * 1000u;
    auto& d = c.entries;
    d.push_back(DirectoryEntrySpec::real(2, 4, 1, reals(4, 1, T + U, s + 1), "X-VELOCITY"));
    d.push_back(DirectoryEntrySpec::real(2, 5, 2, reals(5, 2, T + U, s + 2), "Y-VELOCITY"));
    d.push_back(DirectoryEntrySpec::integer(1, 35, 1, ints(35, 1, T + U, s + 3), "TASK NUMBER"));
    d.push_back(DirectoryEntrySpec::real(-2, 64, 1, reals(64, 1, T + E, s + 4), "PRESSURE"));
    for (std::int32_t v : kMultiMaterial)
        d.push_back(DirectoryEntrySpec::real(-2, v, 1, reals(v, 1, T * (M + 1) + E, s + std::uint32_t(v)),
                                             "MATERIAL VAR." + std::to_string(v)));
    Floats cover = series(T + E, s + 5, true);
    cover.insert(cover.begin(), {155.0f, 1.0f});
    d.push_back(DirectoryEntrySpec::real(-2, 155, 1, cover, "COVER FRAC.V"));
    d.push_back(DirectoryEntrySpec::integer(-1, 10, 1, ints(10, 1, T + E, s + 6), "MATERIAL"));
    d.push_back(DirectoryEntrySpec::integer(-1, 12, 1, ints(12, 1, T + E, s + 7), "STATUS"));
    for (std::int32_t layer = -1; layer >= -3; --layer)
        d.push_back(DirectoryEntrySpec::integer(-1, 30, layer, ints(30, layer, T + E, s + 10 - layer),
                                                "LAYER " + std::to_string(-layer)));
    c.variable_count = std::int32_t(d.size());
    c.displacements = series(3 * (T + U), s + 8);
    (*c.displacements)[9] = 2.0e11f;  // node 3 has no displacement
    if (variant == 3) return c;
    c.material_fractions.emplace();
    for (std::uint32_t m = 0; m < M; ++m) c.material_fractions->push_back(series(T, s + 20 + m, true));
    c.joints = qvw::BodyArraysSpec{{2, 5}, series(2 * 39, s + 30)};
    c.rigid_bodies = qvw::BodyArraysSpec{{1, 5}, series(2 * 15, s + 31)};
    return c;
}

Reading reading(std::string what, int status) {
    Reading r;
    r.what = std::move(what);
    r.status = status;
    return r;
}

void add_ints(Reading& r, std::initializer_list<std::int64_t> values) {
    for (std::int64_t v : values) r.bits.insert(r.bits.end(), {std::uint32_t(v), std::uint32_t(std::uint64_t(v) >> 32)});
}

}  // namespace

bool is_integer(qvres_values v) {
    return v == QVRES_NODE_INTEGERS || v == QVRES_ELEMENT_INTEGERS ||
           v == QVRES_ELEMENT_INTEGERS_ALL_SLOTS || v == QVRES_SUBLAYER_INTEGERS;
}

std::vector<std::int32_t> registered_cycles(const qvres_analysis* a) {
    qvres_model m{};
    EXPECT_EQ(qvres_get_model(a, &m, nullptr), QVRES_OK);
    std::vector<std::int32_t> out;
    for (std::int64_t k = 0; k < m.cycles; ++k) {
        qvres_cycle c{};
        EXPECT_EQ(qvres_get_cycle(a, k, &c, nullptr), QVRES_OK);
        out.push_back(c.number);
    }
    return out;
}

std::map<std::string, std::string> skipped_files(const qvres_analysis* a) {
    qvres_model m{};
    EXPECT_EQ(qvres_get_model(a, &m, nullptr), QVRES_OK);
    std::map<std::string, std::string> out;
    for (std::int64_t k = 0; k < m.skipped_files; ++k) {
        qvres_skipped_file f{};
        EXPECT_EQ(qvres_get_skipped_file(a, k, &f, nullptr), QVRES_OK);
        out[f.path] = f.reason;
    }
    return out;
}


FixtureFiles write_fixture(const std::string& directory, const std::string& run) {
    std::filesystem::create_directories(directory);
    FixtureFiles out;
    out.base_file = directory + "/" + run + ".qvres_base";
    qvw::write_base_file(fixture_base()).save(out.base_file);
    const std::int32_t cycles[] = {30, 10, 40, 20};
    for (int f = 0; f < 4; ++f) {
        out.cycle_files.push_back(directory + "/" + run + "_" + std::to_string(f + 1) + ".qvres");
        qvw::write_cycle_file(fixture_cycle(cycles[f], 0.5f * float(cycles[f]), f)).save(out.cycle_files.back());
    }
    return out;
}

void write_fixture_cycle(const std::string& path, std::int32_t cycle, float time) {
    qvw::write_cycle_file(fixture_cycle(cycle, time, 0)).save(path);
}

void write_fixture_cycle(const std::string& path, std::int32_t cycle, float time,
                         std::int32_t seed_cycle, std::int32_t drop_variable) {
    qvw::CycleFileSpec c = fixture_cycle(cycle, time, 0, seed_cycle);
    auto& d = c.entries;
    d.erase(std::remove_if(d.begin(), d.end(), [&](const DirectoryEntrySpec& e) { return e.variable == drop_variable; }),
            d.end());
    c.variable_count = std::int32_t(d.size());
    qvw::write_cycle_file(c).save(path);
}

std::vector<ArrayQuery> model_arrays(const qvres_analysis* a) {
    qvres_model m{};
    EXPECT_EQ(qvres_get_model(a, &m, nullptr), QVRES_OK);
    using I = std::int32_t*;
    std::vector<ArrayQuery> out = {
        {"coordinates", 3 * m.nodes,
         [a](void* v, std::int64_t c, qvres_error* e) { return qvres_get_coordinates(a, static_cast<float*>(v), c, e); }},
        {"connectivity", 8 * m.unstructured_elements,
         [a](void* v, std::int64_t c, qvres_error* e) { return qvres_get_connectivity(a, I(v), c, e); }},
        {"element types", m.unstructured_elements,
         [a](void* v, std::int64_t c, qvres_error* e) { return qvres_get_element_types(a, I(v), c, e); }}};
    for (std::int64_t p = m.structured_parts + 1; p <= m.structured_parts + m.unstructured_parts; ++p) {
        qvres_part info{};
        EXPECT_EQ(qvres_get_part(a, p, &info, nullptr), QVRES_OK);
        out.push_back({"elements of part " + std::to_string(p), info.elements,
                       [a, p](void* v, std::int64_t c, qvres_error* e) { return qvres_get_part_elements(a, p, I(v), c, e); }});
        out.push_back({"nodes of part " + std::to_string(p), info.nodes,
                       [a, p](void* v, std::int64_t c, qvres_error* e) { return qvres_get_part_nodes(a, p, I(v), c, e); }});
    }
    return out;
}

ArrayQuery value_array(qvres_reader* r, const qvres_request& q) {
    ArrayQuery out{"values " + std::to_string(q.values) + ", variable " + std::to_string(q.variable) + ", part " +
                       std::to_string(q.part),
                   -1, {}};
    EXPECT_EQ(qvres_count_values(r, &q, &out.count, nullptr), QVRES_OK) << out.what;
    out.read = [r, q](void* v, std::int64_t c, qvres_error* e) {
        return is_integer(q.values) ? qvres_read_int32(r, &q, static_cast<std::int32_t*>(v), c, e)
                                        : qvres_read_float(r, &q, static_cast<float*>(v), c, e);
    };
    return out;
}

std::vector<Request> value_requests(const qvres_reader* r, std::int64_t materials) {
    std::vector<Request> out;
    const auto add = [&](qvres_values v, std::int32_t variable, std::int32_t part, bool listed) {
        out.push_back({{v, variable, part}, listed});
    };
    std::int64_t entries = 0;
    EXPECT_EQ(qvres_count_variables(r, &entries, nullptr), QVRES_OK);
    for (std::int64_t e = 0; e < entries; ++e) {
        qvres_variable v{};
        EXPECT_EQ(qvres_get_variable(r, e, &v, nullptr), QVRES_OK);
        switch (v.kind) {
        case QVRES_NODE_INTEGER: add(QVRES_NODE_INTEGERS, v.index, v.part, true); break;
        case QVRES_NODE_REAL: add(QVRES_NODE_REALS, v.index, v.part, true); break;
        case QVRES_ELEMENT_INTEGER:
            // Element integers select the part by absolute value, sublayers
            // sign included.
            add(QVRES_ELEMENT_INTEGERS, v.index, std::abs(v.part), true);
            add(QVRES_ELEMENT_INTEGERS_ALL_SLOTS, v.index, std::abs(v.part), true);
            add(QVRES_SUBLAYER_INTEGERS, v.index, v.part, true);
            if (v.part == -1) add(QVRES_SUBLAYER_INTEGERS, v.index, 0, true);
            break;
        case QVRES_ELEMENT_REAL:
            add(QVRES_ELEMENT_REALS, v.index, v.part, true);
            add(QVRES_ELEMENT_REALS_ALL_SLOTS, v.index, v.part, true);
            break;
        default: ADD_FAILURE() << "entry " << e << " of kind " << v.kind;
        }
    }
    add(QVRES_DISPLACEMENTS, 0, 0, false);
    for (std::int32_t m = 1; m <= materials; ++m) add(QVRES_MATERIAL_FRACTIONS, 0, m, false);
    add(QVRES_NODE_INTEGERS, 999, 1, false);
    add(QVRES_ELEMENT_REALS_ALL_SLOTS, 999, 1, false);
    return out;
}

std::vector<ArrayQuery> body_arrays(qvres_reader* r) {
    std::vector<ArrayQuery> out;
    for (std::int32_t body : kBodyNumbers) {
        for (std::int32_t quantity = -13; quantity <= 13; ++quantity)
            out.push_back({"joint " + std::to_string(body) + " quantity " + std::to_string(quantity), 16,
                           [=](void* v, std::int64_t, qvres_error* e) {
                               return qvres_read_joint(r, body, quantity, static_cast<float*>(v), e);
                           }});
        out.push_back({"rigid body " + std::to_string(body), 12, [=](void* v, std::int64_t, qvres_error* e) {
                           return qvres_read_rigid_body(r, body, static_cast<float*>(v), e);
                       }});
    }
    return out;
}

Reading read(const ArrayQuery& q) {
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(q.count, 0));
    std::vector<std::uint32_t> values(n + 1);
    std::memset(values.data(), 0xA5, 4 * values.size());
    qvres_error error{};
    Reading out = reading(q.what, q.read(values.data(), q.count, &error));
    out.bits = bits_of(values.data(), n);
    out.message = error.message;
    return out;
}

std::vector<Step> cycle_steps(qvres_reader* r, std::int64_t materials) {
    std::vector<Step> steps;
    std::int64_t entries = 0;
    EXPECT_EQ(qvres_count_variables(r, &entries, nullptr), QVRES_OK);
    for (std::int64_t e = 0; e < entries; ++e)
        steps.push_back([r, e] {
            qvres_variable v{};
            Reading out = reading("", qvres_get_variable(r, e, &v, nullptr));
            out.what = "entry " + std::to_string(e) + " " + v.name;
            out.bits = {std::uint32_t(v.index), std::uint32_t(v.part), std::uint32_t(v.kind)};
            return out;
        });
    for (const Request& q : value_requests(r, materials))
        steps.push_back([query = value_array(r, q.q)] { return read(query); });
    for (const ArrayQuery& q : body_arrays(r)) steps.push_back([q] { return read(q); });
    return steps;
}

Readings run(const std::vector<Step>& steps) {
    Readings out;
    for (const Step& s : steps) out.push_back(s());
    return out;
}

Readings read_model(const qvres_analysis* a) {
    Readings out;
    qvres_model m{};
    out.push_back(reading("model", qvres_get_model(a, &m, nullptr)));
    add_ints(out.back(), {m.structured_parts, m.unstructured_parts, m.structured_slots, m.unstructured_nodes,
                          m.nodes, m.unstructured_elements, m.materials, m.cycles, m.skipped_files,
                          m.file_version, m.unit_system[0], m.unit_system[1], m.unit_system[2],
                          m.symmetry[0], m.symmetry[1]});
    for (std::int64_t p = 1; p <= m.structured_parts + m.unstructured_parts; ++p) {
        qvres_part info{};
        out.push_back(reading("part " + std::to_string(p), qvres_get_part(a, p, &info, nullptr)));
        out.back().what += std::string(" ") + info.name;
        add_ints(out.back(), {info.structured, info.extent[0], info.extent[1], info.extent[2], info.elements, info.nodes});
    }
    for (const ArrayQuery& q : model_arrays(a)) out.push_back(read(q));
    for (std::int64_t k = 1; k <= m.materials; ++k) {
        qvres_material info{};
        out.push_back(reading("material " + std::to_string(k), qvres_get_material(a, k, &info, nullptr)));
        out.back().what += std::string(" ") + info.name + " / " + info.body_name;
        out.back().bits = {std::uint32_t(info.euler_id), std::uint32_t(info.has_poisson), bits_of(&info.poisson_ratio, 1)[0]};
    }
    for (std::int64_t k = 0; k < m.cycles; ++k) {
        qvres_cycle c{};
        out.push_back(reading("cycle " + std::to_string(k), qvres_get_cycle(a, k, &c, nullptr)));
        out.back().bits = bits_of(&c.time, 2);
        out.back().bits.push_back(std::uint32_t(c.number));
    }
    return out;
}

void expect_same(const Readings& actual, const Readings& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    int shown = 0;
    for (std::size_t i = 0; i < actual.size() && shown < 10; ++i) {
        const Reading& a = actual[i];
        const Reading& e = expected[i];
        const bool same = a.what == e.what && a.status == e.status && a.bits.size() == e.bits.size() &&
                          (a.bits.empty() || std::memcmp(a.bits.data(), e.bits.data(), 4 * a.bits.size()) == 0);
        if (!same) ++shown;
        EXPECT_TRUE(same) << "reading " << i << ": " << a.what << " (status " << a.status
                          << ") differs from " << e.what << " (status " << e.status << ")";
    }
}

}  // namespace qvtest
