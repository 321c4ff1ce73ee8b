// The sample analysis: model, fields and the files of every cycle.
#include "sample/sample_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvsample {
namespace {

using Vec3 = std::array<double, 3>;
using model::kSpacing;

// Field constants, model units.
constexpr double kAmbient = 1.0e-4;       // GPa (100 kPa)
constexpr double kPeak = 0.25;            // GPa
constexpr double kWaveSpeed = 1500.0;     // mm/ms
constexpr double kPulseWidth = 15.0;      // mm
constexpr double kDecayRadius = 10.0;     // mm
constexpr double kChargeRadius = 8.0;     // mm
constexpr double kWaterDensity = 1.0e-6;  // kg/mm^3
constexpr double kSteelDensity = 7.85e-6;
constexpr double kBulkModulus = 2.2;      // GPa
constexpr float kNoDisplacement = 2.0e11f;

Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double smoothstep(double s) {
    s = std::clamp(s, 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

// The unstructured part of the model: nodes numbered 1.. in the order they
// are added, elements of 8 connectivity entries.
struct Mesh {
    struct Part {
        std::string name;
        std::vector<std::int32_t> rows;  // 1-based element rows
    };
    std::vector<Vec3> nodes;
    std::vector<std::array<std::int32_t, 8>> elements;
    std::vector<std::int32_t> types;  // 1 solid, 2 shell, 3 beam
    std::vector<std::int32_t> part_of;
    std::vector<Part> parts;

    std::int32_t node(double x, double y, double z) {
        nodes.push_back({x, y, z});
        return static_cast<std::int32_t>(nodes.size());
    }
    const Vec3& at(std::int32_t n) const { return nodes[static_cast<std::size_t>(n - 1)]; }
    void begin_part(std::string name) { parts.push_back({std::move(name), {}}); }
    std::int32_t add(std::int32_t type, std::initializer_list<std::int32_t> entries) {
        std::array<std::int32_t, 8> e{};
        std::copy(entries.begin(), entries.end(), e.begin());
        elements.push_back(e);
        types.push_back(type);
        part_of.push_back(static_cast<std::int32_t>(parts.size()));
        const auto row = static_cast<std::int32_t>(elements.size());
        parts.back().rows.push_back(row);
        return row;
    }
    // Solids in the orientation post-processors expect: the base of a
    // tetrahedron or pyramid faces its apex, a wedge's first triangle faces
    // away from its second.
    std::int32_t tet(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        if (dot(cross(at(b) - at(a), at(c) - at(a)), at(d) - at(a)) < 0) std::swap(b, c);
        return add(1, {a, b, c, d});
    }
    std::int32_t pyramid(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                         std::int32_t apex) {
        if (dot(cross(at(c) - at(a), at(d) - at(b)), at(apex) - at(a)) < 0) std::swap(b, d);
        return add(1, {a, b, c, d, apex});
    }
    std::int32_t wedge(std::array<std::int32_t, 6> n) {
        if (dot(cross(at(n[1]) - at(n[0]), at(n[2]) - at(n[0])), at(n[3]) - at(n[0])) > 0) {
            std::swap(n[1], n[2]);
            std::swap(n[4], n[5]);
        }
        return add(1, {n[0], n[1], n[2], n[3], n[4], n[5]});
    }
};

struct Model {
    std::int32_t I, J, K;
    std::int64_t slots;
    double lx, ly, lz;
    Mesh mesh;
    std::int32_t pyramid_row = 0, pair_tet_row = 0;
    std::int32_t tet_part = 0;  // index into mesh.parts of the eroding tetrahedra

    std::int64_t slot(std::int32_t i, std::int32_t j, std::int32_t k) const {
        return (static_cast<std::int64_t>(i - 1) * J + (j - 1)) * K + (k - 1);
    }
    Vec3 grid(std::int32_t i, std::int32_t j, std::int32_t k) const {
        return {(i - 1) * double(kSpacing), (j - 1) * double(kSpacing), (k - 1) * double(kSpacing)};
    }
    // Centre of the cell whose highest corner is node (i, j, k).
    Vec3 cell_centre(std::int32_t i, std::int32_t j, std::int32_t k) const {
        return {(i - 1.5) * kSpacing, (j - 1.5) * kSpacing, (k - 1.5) * kSpacing};
    }
    Vec3 charge() const { return {0.0, ly / 2, lz / 2}; }
    Vec3 centroid(std::size_t e) const {
        Vec3 c{0, 0, 0};
        int n = 0;
        for (std::int32_t v : mesh.elements[e])
            if (v != 0) {
                for (int d = 0; d < 3; ++d) c[d] += mesh.at(v)[d];
                ++n;
            }
        for (double& x : c) x /= n;
        return c;
    }
};

double wave(const Vec3& p, const Vec3& charge, double t) {
    const double r = std::sqrt(dot(p - charge, p - charge));
    const double s = (r - kWaveSpeed * t) / kPulseWidth;
    return kAmbient + kPeak * kDecayRadius / (kDecayRadius + r) * std::exp(-s * s);
}

double tnt_fraction(const Model& m, const Vec3& centre) {
    const double r = std::sqrt(dot(centre - m.charge(), centre - m.charge()));
    return std::clamp((kChargeRadius - r) / kSpacing + 0.5, 0.0, 1.0);
}

Model build_model(const SampleOptions& o) {
    if (o.i < 2 || o.j < 2 || o.k < 2) throw std::invalid_argument("the block needs at least 2 node layers each way");
    Model m{o.i, o.j, o.k, std::int64_t(o.i) * o.j * o.k, (o.i - 1) * double(kSpacing),
            (o.j - 1) * double(kSpacing), (o.k - 1) * double(kSpacing), {}};
    Mesh& g = m.mesh;
    const double x0 = m.lx + 10.0;

    g.begin_part("PLATE");  // 2 x 3 x 2 hexahedra, 4 mm thick
    {
        const int nx = 2, ny = 3, nz = 2;
        std::vector<std::int32_t> id;
        for (int a = 0; a <= nx; ++a)
            for (int b = 0; b <= ny; ++b)
                for (int c = 0; c <= nz; ++c)
                    id.push_back(g.node(x0 + 2.0 * a, m.ly * b / ny, m.lz * c / nz));
        auto n = [&](int a, int b, int c) { return id[(a * (ny + 1) + b) * (nz + 1) + c]; };
        for (int a = 0; a < nx; ++a)
            for (int b = 0; b < ny; ++b)
                for (int c = 0; c < nz; ++c)
                    g.add(1, {n(a, b, c), n(a + 1, b, c), n(a + 1, b + 1, c), n(a, b + 1, c),
                              n(a, b, c + 1), n(a + 1, b, c + 1), n(a + 1, b + 1, c + 1),
                              n(a, b + 1, c + 1)});
    }
    g.begin_part("RIB");  // a box of two wedges behind the plate
    {
        std::int32_t p[8];
        for (int c = 0; c < 2; ++c) {
            p[4 * c + 0] = g.node(x0 + 4, m.ly / 2 - 2, 6.0 * c);
            p[4 * c + 1] = g.node(x0 + 14, m.ly / 2 - 2, 6.0 * c);
            p[4 * c + 2] = g.node(x0 + 14, m.ly / 2 + 2, 6.0 * c);
            p[4 * c + 3] = g.node(x0 + 4, m.ly / 2 + 2, 6.0 * c);
        }
        g.wedge({p[0], p[1], p[2], p[4], p[5], p[6]});
        g.wedge({p[0], p[2], p[3], p[4], p[6], p[7]});
    }
    g.begin_part("TET_BLOCK");  // a cube of five tetrahedra
    m.tet_part = static_cast<std::int32_t>(g.parts.size()) - 1;
    {
        std::int32_t p[8];
        const double x = x0 + 20;
        for (int c = 0; c < 2; ++c) {
            p[4 * c + 0] = g.node(x, 0, 10.0 * c);
            p[4 * c + 1] = g.node(x + 10, 0, 10.0 * c);
            p[4 * c + 2] = g.node(x + 10, 10, 10.0 * c);
            p[4 * c + 3] = g.node(x, 10, 10.0 * c);
        }
        g.tet(p[0], p[1], p[3], p[4]);
        g.tet(p[1], p[2], p[3], p[6]);
        g.tet(p[1], p[4], p[5], p[6]);
        g.tet(p[3], p[4], p[6], p[7]);
        g.tet(p[1], p[3], p[4], p[6]);
    }
    g.begin_part("PYRAMID_PAIR");  // a pyramid and the tetrahedron on one of its faces
    {
        const double x = x0 + 35;
        const std::int32_t a = g.node(x, 0, 0), b = g.node(x + 10, 0, 0), c = g.node(x + 10, 10, 0),
                           d = g.node(x, 10, 0), apex = g.node(x + 5, 5, 8),
                           tip = g.node(x + 17, 5, 3);
        m.pyramid_row = g.pyramid(a, b, c, d, apex);
        m.pair_tet_row = g.tet(b, c, apex, tip);
    }
    const double zs = m.lz + 5.0;
    g.begin_part("SKIN_QUAD");  // 3 x 2 quadrilateral shells above the block
    {
        const int nx = 3, ny = 2;
        std::vector<std::int32_t> id;
        for (int a = 0; a <= nx; ++a)
            for (int b = 0; b <= ny; ++b) id.push_back(g.node(m.lx * a / nx, m.ly * b / ny, zs));
        auto n = [&](int a, int b) { return id[a * (ny + 1) + b]; };
        for (int a = 0; a < nx; ++a)
            for (int b = 0; b < ny; ++b) g.add(2, {n(a, b), n(a + 1, b), n(a + 1, b + 1), n(a, b + 1)});
    }
    g.begin_part("SKIN_TRI");  // 4 triangular shells beside them
    {
        std::int32_t n[2][3];
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 3; ++b) n[a][b] = g.node(m.lx + 5.0 * a, m.ly * b / 2, zs);
        for (int b = 0; b < 2; ++b) {
            g.add(2, {n[0][b], n[1][b], n[1][b + 1]});
            g.add(2, {n[0][b], n[1][b + 1], n[0][b + 1]});
        }
    }
    g.begin_part("STIFFENERS");  // 4 beams along y on top of the plate
    {
        std::int32_t prev = g.node(x0 + 2, 0, m.lz + 8);
        for (int b = 1; b <= 4; ++b) {
            const std::int32_t next = g.node(x0 + 2, m.ly * b / 4, m.lz + 8);
            g.add(3, {prev, next});
            prev = next;
        }
    }
    return m;
}

// External numbers: structured nodes 1..T, unstructured nodes from 100001,
// unstructured elements from 5001.
constexpr std::int32_t kFirstNodeNumber = 100001;
constexpr std::int32_t kFirstElementNumber = 5001;

qvw::BaseFileSpec base_description(const Model& m) {
    qvw::BaseFileSpec desc;
    desc.header = {6, 4};
    desc.release = 15000;
    desc.parts.push_back(qvw::PartSpec::structured("EULER_BLOCK", m.I, m.J, m.K));
    for (const Mesh::Part& p : m.mesh.parts) desc.parts.push_back(qvw::PartSpec::unstructured(p.name, p.rows));
    for (const auto& e : m.mesh.elements) desc.connectivity.insert(desc.connectivity.end(), e.begin(), e.end());
    desc.coordinates.reserve(3 * (m.slots + m.mesh.nodes.size()));
    for (std::int32_t i = 1; i <= m.I; ++i)
        for (std::int32_t j = 1; j <= m.J; ++j)
            for (std::int32_t k = 1; k <= m.K; ++k)
                for (double c : m.grid(i, j, k)) desc.coordinates.push_back(static_cast<float>(c));
    for (const Vec3& p : m.mesh.nodes)
        for (double c : p) desc.coordinates.push_back(static_cast<float>(c));
    desc.element_types = m.mesh.types;
    for (std::int64_t n = 1; n <= m.slots; ++n) desc.node_numbers.push_back(static_cast<std::int32_t>(n));
    for (std::size_t n = 0; n < m.mesh.nodes.size(); ++n)
        desc.node_numbers.push_back(kFirstNodeNumber + static_cast<std::int32_t>(n));
    for (std::size_t e = 0; e < m.mesh.elements.size(); ++e)
        desc.element_numbers.push_back(kFirstElementNumber + static_cast<std::int32_t>(e));
    desc.units[0] = model::kUnitCodes[0];
    desc.units[1] = model::kUnitCodes[1];
    desc.units[2] = model::kUnitCodes[2];
    desc.symmetry[0] = 3;
    desc.symmetry[1] = 0;
    desc.pairs = {{kFirstElementNumber + m.pyramid_row - 1, kFirstElementNumber + m.pair_tet_row - 1}};
    desc.materials = {{"WATER", 1, "POOL", 0.49f}, {"TNT", 2, "CHARGE", 0.30f}, {"STEEL", -1, "", 0.29f}};
    desc.parallel_section = true;
    desc.parallel_info = {2, 1, 2, static_cast<std::int32_t>(m.slots / 2),
                          static_cast<std::int32_t>(m.slots - m.slots / 2)};
    return desc;
}

// Everything stored for one cycle at time t (ms).
qvw::CycleFileSpec cycle_description(const Model& m, std::int32_t step, std::int32_t steps,
                              std::int32_t cycle, double t) {
    const Mesh& g = m.mesh;
    const std::size_t T = static_cast<std::size_t>(m.slots);
    const std::size_t un = g.nodes.size(), ue = g.elements.size();
    const double t_end = std::max(1e-9, static_cast<double>(steps - 1));
    const double progress = step / t_end;  // 0 .. 1 over the run

    qvw::CycleFileSpec desc;
    // Half the cycles in the single form, the rest chunked: bulk arrays only
    // (7 header words) or bulk and body arrays (8).
    if (step % 2 == 0)
        desc.header = {1, 1, 1, 1, 0, 1};
    else if (step % 4 == 1)
        desc.header = {1, 1, 1, 1, 0, 1, 1};
    else
        desc.header = {1, 1, 1, 1, 0, 1, 1, 1};
    desc.chunk_size = static_cast<std::int32_t>(std::clamp<std::size_t>((T + un) / 4, 64, 1 << 16));

    desc.cycle = cycle;
    desc.time = static_cast<float>(t);
    desc.structured_parts = {{m.I, m.J, m.K}};
    desc.unstructured_parts = static_cast<std::int32_t>(g.parts.size());
    desc.unstructured_nodes = static_cast<std::int32_t>(un);
    desc.unstructured_elements = static_cast<std::int32_t>(ue);
    desc.variable_count = static_cast<std::int32_t>(std::size(model::kDirectory));
    desc.object_counts[0] = static_cast<std::int32_t>((m.I - 1) * (m.J - 1) * (m.K - 1) + ue);
    desc.object_counts[1] = static_cast<std::int32_t>(T + un);

    // Cell fields, one per slot; slots with i, j or k = 1 carry no cell.
    const Vec3 charge = m.charge();
    std::vector<float> vel[3], pres(T, 0.0f), dens(T, 0.0f), cover(T, 0.0f), temp_own(T, 0.0f);
    std::vector<float> frac[model::kMaterials];
    for (auto& v : vel) v.assign(T, 0.0f);
    for (auto& f : frac) f.assign(T, 0.0f);
    std::vector<float> temp_mat[model::kMaterials];
    for (auto& v : temp_mat) v.assign(T, 0.0f);
    std::vector<std::int32_t> matno(T, 0), status(T, 0), task(T, 0);
    for (std::int32_t i = 1; i <= m.I; ++i)
        for (std::int32_t j = 1; j <= m.J; ++j)
            for (std::int32_t k = 1; k <= m.K; ++k) {
                const std::size_t s = static_cast<std::size_t>(m.slot(i, j, k));
                task[s] = i <= (m.I + 1) / 2 ? 1 : 2;
                if (i < 2 || j < 2 || k < 2) continue;
                const Vec3 c = m.cell_centre(i, j, k);
                const double p = wave(c, charge, t);
                const Vec3 d = c - charge;
                const double r = std::max(1e-6, std::sqrt(dot(d, d)));
                const double u = (p - kAmbient) / (kWaterDensity * kWaveSpeed);
                for (int a = 0; a < 3; ++a) vel[a][s] = static_cast<float>(u * d[a] / r);
                pres[s] = static_cast<float>(p);
                dens[s] = static_cast<float>(kWaterDensity * (1.0 + (p - kAmbient) / kBulkModulus));
                const double tnt = tnt_fraction(m, c);
                frac[0][s] = static_cast<float>(1.0 - tnt);
                frac[1][s] = static_cast<float>(tnt);
                cover[s] = k == m.K ? 0.2f : 0.0f;
                const double t_water = 293.0 + 30.0 * (p - kAmbient) / kPeak;
                const double t_tnt = 293.0 + 2700.0 * smoothstep(progress * 4.0);
                temp_mat[0][s] = static_cast<float>(t_water);
                temp_mat[1][s] = tnt > 0 ? static_cast<float>(t_tnt) : 0.0f;
                temp_own[s] = static_cast<float>((1.0 - tnt) * t_water + tnt * t_tnt);
                matno[s] = tnt > 0.5 ? 2 : 1;
                status[s] = 1;
            }

    // The structure: moved by the wave once it arrives, the tetrahedra
    // eroding late in the run.
    const double arrival = (m.lx + 10.0) / kWaveSpeed;
    const double push = smoothstep((t - arrival) / (0.2 * arrival));
    std::vector<float> node_vel[3], disp;
    for (auto& v : node_vel) v.assign(un, 0.0f);
    disp.reserve(3 * (T + un));
    for (std::size_t s = 0; s < T; ++s) disp.insert(disp.end(), {kNoDisplacement, 0.0f, 0.0f});
    for (std::size_t n = 0; n < un; ++n) {
        const Vec3& p = g.nodes[n];
        const double bow = 1.0 - 0.3 * std::pow((p[1] - m.ly / 2) / std::max(1.0, m.ly), 2.0);
        disp.push_back(static_cast<float>(0.8 * push * bow));
        disp.push_back(0.0f);
        disp.push_back(static_cast<float>(0.05 * push * p[2] / std::max(1.0, m.lz)));
        node_vel[0][n] = static_cast<float>(40.0 * bow * (push > 0 && push < 1 ? 1.0 : 0.0));
    }
    std::vector<float> e_pres(ue), e_dens(ue, static_cast<float>(kSteelDensity)), e_temp(ue);
    std::vector<std::int32_t> e_matno(ue, 3), e_status(ue, 1), e_erosion(ue, 0);
    for (std::size_t e = 0; e < ue; ++e) {
        const double p = wave(m.centroid(e), charge, t);
        e_pres[e] = static_cast<float>(p);
        e_temp[e] = static_cast<float>(293.0 + 5.0 * (p - kAmbient) / kPeak);
        if (g.part_of[e] - 1 == m.tet_part && progress > 0.75) {
            e_erosion[e] = 1;
            e_status[e] = 0;
        }
    }

    // Arrays: the header pair (variable index, part), then the slots, then
    // the unstructured nodes or elements.
    auto real_array = [](std::int32_t v, const std::vector<float>& slots, const std::vector<float>& rest) {
        std::vector<float> a{float(v), 1.0f};
        a.insert(a.end(), slots.begin(), slots.end());
        a.insert(a.end(), rest.begin(), rest.end());
        return a;
    };
    auto int_array = [](std::int32_t v, const std::vector<std::int32_t>& slots,
                        const std::vector<std::int32_t>& rest) {
        std::vector<std::int32_t> a{v, 1};
        a.insert(a.end(), slots.begin(), slots.end());
        a.insert(a.end(), rest.begin(), rest.end());
        return a;
    };
    // Multi-material temperature: a value per material, then the cell's own,
    // in every slot.
    std::vector<float> temp{86.0f, 1.0f};
    temp.reserve(2 + T * (model::kMaterials + 1) + ue);
    for (std::size_t s = 0; s < T; ++s) {
        for (int mat = 0; mat < model::kMaterials; ++mat) temp.push_back(temp_mat[mat][s]);
        temp.push_back(temp_own[s]);
    }
    temp.insert(temp.end(), e_temp.begin(), e_temp.end());

    using qvw::DirectoryEntrySpec;
    for (const model::Entry& e : model::kDirectory) {
        DirectoryEntrySpec d;
        switch (e.variable) {
        case 4: d = DirectoryEntrySpec::real(2, 4, 1, real_array(4, vel[0], node_vel[0])); break;
        case 5: d = DirectoryEntrySpec::real(2, 5, 1, real_array(5, vel[1], node_vel[1])); break;
        case 6: d = DirectoryEntrySpec::real(2, 6, 1, real_array(6, vel[2], node_vel[2])); break;
        case 64: d = DirectoryEntrySpec::real(-2, 64, 1, real_array(64, pres, e_pres)); break;
        case 82: d = DirectoryEntrySpec::real(-2, 82, 1, real_array(82, dens, e_dens)); break;
        case 86: d = DirectoryEntrySpec::real(-2, 86, 1, temp); break;
        case 155:
            d = DirectoryEntrySpec::real(-2, 155, 1, real_array(155, cover, std::vector<float>(ue, 0.0f)));
            break;
        case 10: d = DirectoryEntrySpec::integer(-1, 10, 1, int_array(10, matno, e_matno)); break;
        case 12: d = DirectoryEntrySpec::integer(-1, 12, 1, int_array(12, status, e_status)); break;
        case 26:
            d = DirectoryEntrySpec::integer(-1, 26, 1, int_array(26, std::vector<std::int32_t>(T, 0), e_erosion));
            break;
        case 35:
            d = DirectoryEntrySpec::integer(1, 35, 1, int_array(35, task, std::vector<std::int32_t>(un, 2)));
            break;
        default: throw std::logic_error("no values for a directory entry");
        }
        d.name = e.name;
        desc.entries.push_back(std::move(d));
    }
    desc.displacements = std::move(disp);
    desc.material_fractions = std::vector<std::vector<float>>{frac[0], frac[1], frac[2]};

    // Rigid body 1 turns about z and moves along x; joint 1 carries loads
    // that grow with the run, in a frame turned 90 degrees about z.
    const double angle = 0.5 * t, ca = std::cos(angle), sa = std::sin(angle);
    const Vec3 c0{m.lx + 70.0, m.ly / 2, m.lz / 2};
    qvw::BodyArraysSpec bodies;
    bodies.numbers = {1};
    bodies.data = {float(ca), float(sa), 0.0f, float(-sa), float(ca), 0.0f, 0.0f, 0.0f, 1.0f,
                   float(c0[0] + 30.0 * t), float(c0[1]), float(c0[2]),
                   float(c0[0]), float(c0[1]), float(c0[2])};
    desc.rigid_bodies = bodies;
    qvw::BodyArraysSpec joints;
    joints.numbers = {1};
    for (int a = 1; a <= 10; ++a)
        for (int d = 0; d < 3; ++d) joints.data.push_back(static_cast<float>(push * a * (d + 1)));
    for (float v : {0.0f, 1.0f, 0.0f, -1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f}) joints.data.push_back(v);
    desc.joints = joints;
    return desc;
}

// Removes the cycle files (RUN_<digits>.qvres) and the older-form base file
// of `run` that an earlier sample left in `directory`: a sample of fewer
// cycles would otherwise share the run with them.
void remove_earlier_run(const std::string& directory, const std::string& run) {
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        const std::string prefix = run + "_", suffix = ".qvres";
        const bool cycle_file =
            name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                        name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                        [](char c) { return c >= '0' && c <= '9'; });
        if (cycle_file || name == run + "_base.qvres") std::filesystem::remove(entry.path());
    }
}

}  // namespace

namespace model {

double pressure(double x, double y, double z, double t, std::int32_t j, std::int32_t k) {
    const Vec3 charge{0.0, (j - 1) * double(kSpacing) / 2, (k - 1) * double(kSpacing) / 2};
    return wave({x, y, z}, charge, t);
}

}  // namespace model

SampleAnalysis write_sample_analysis(const std::string& directory, const SampleOptions& options) {
    if (options.cycles < 2) throw std::invalid_argument("a sample needs at least 2 cycles");
    std::filesystem::create_directories(directory);
    remove_earlier_run(directory, options.run);
    const Model m = build_model(options);

    SampleAnalysis out;
    out.directory = directory;
    out.base_file = directory + "/" + options.run + ".qvres_base";
    qvw::write_base_file(base_description(m)).save(out.base_file);

    // The run lasts until the wave has crossed the block's diagonal once; the
    // time step grows a little over the run, as a solver's would.
    const double diagonal = std::sqrt(m.lx * m.lx + m.ly * m.ly / 4 + m.lz * m.lz / 4);
    const double t_end = 1.2 * (diagonal + 10.0) / kWaveSpeed;
    const std::int32_t n = options.cycles;
    for (std::int32_t s = 0; s < n; ++s) {
        const double w = static_cast<double>(s) / (n - 1);
        const double t = t_end * w * (0.9 + 0.1 * w);
        const auto cycle = static_cast<std::int32_t>(std::lround(125.0 * s * (1.0 + 0.03 * s)));
        const std::string file = directory + "/" + options.run + "_" + std::to_string(cycle) + ".qvres";
        const qvw::CycleFileSpec desc = cycle_description(m, s, n, cycle, t);
        qvw::write_cycle_file(desc).save(file);
        out.cycle_files.push_back(file);
        out.cycles.push_back(cycle);
        out.times.push_back(desc.time);
        out.header_words.push_back(static_cast<std::int32_t>(desc.header.size()));
    }
    return out;
}

}  // namespace qvsample
