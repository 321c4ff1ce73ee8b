// Node coordinates, displacements and node values in model node order.
//
// Node order: the structured parts in order, each as I x J x K slots with K
// fastest, then the unstructured nodes. A stored node array holds the header
// pair, one value per slot and one per unstructured node (N + 2 values).
//
// Every value query (displacements, integer and real node values) needs an
// open cycle file and a valid model, and checks the array it read against
// the values it must take from it before it writes anything: a stored array
// that is missing, damaged or shorter than N + 2 values (3N for
// displacements) fails the query and leaves the caller's array untouched.
// Nothing is ever read past the array held.
//
// Real node values of structured parts are cell values averaged onto the
// nodes: node (i, j, k) takes the mean of the cells (i+di, j+dj, k+dk),
// di, dj, dk in {0, 1}, whose slots lie in 2..I, 2..J, 2..K, the sum scaled
// to SI units and then divided by the number of cells. Parts without cells
// are handled thus:
// - I extent not 1 but J or K extent 1: no node has a cell; each node takes
//   its own slot's stored value, scaled, instead of a division by zero.
// - I extent 1: each node (1, j, k) takes its own slot's stored value,
//   scaled, at its own position. This writes only the part's own positions.
#include "extract/node_values.h"

#include <algorithm>
#include <cstring>

#include "extract/slots.h"
#include "format/cycle_arrays.h"
#include "model/units.h"
#include "runtime/cpu_clones.h"

namespace qv::extract {
namespace {

// Dimension code of length.
constexpr std::int32_t kLength = 8;

// A stored x displacement above this marks a node without a displacement.
constexpr float kNoDisplacement = 1.01e11f;

// One node row (i, j, 1..K) of a part with cells, from the M cell rows
// around it (M = 1, 2 or 4: the (i, j) cell rows that exist, in the order
// di, then dj; unused rows are null). Row r[x] is slot (ci, cj, x + 1). The
// cells of node x (0-based) are x and x + 1 where they lie in 1..K-1: the
// two end nodes take one cell per row, the others two. The sum is formed
// cell by cell in the order di, dj, dk; the division by n (a power of two)
// is a multiplication by its exact reciprocal, which gives the same value.
// Kept out of line so that the rows keep their no-overlap guarantee: the
// compiler then turns the block loop into vector operations (of AVX2 where
// the processor has it).
template <int M>
QV_CPU_CLONES void average_row(const float* __restrict r0, const float* __restrict r1,
                               const float* __restrict r2, const float* __restrict r3,
                               float* __restrict out, std::int64_t k, float scale) {
    constexpr float ends = 1.0f / M;
    constexpr float inner = 1.0f / (2 * M);
    const auto one = [&](std::int64_t x) {
        float sum = r0[x];
        if constexpr (M > 1) sum += r1[x];
        if constexpr (M > 2) {
            sum += r2[x];
            sum += r3[x];
        }
        return sum;
    };
    const auto two = [&](std::int64_t x) {
        float sum = r0[x];
        sum += r0[x + 1];
        if constexpr (M > 1) {
            sum += r1[x];
            sum += r1[x + 1];
        }
        if constexpr (M > 2) {
            sum += r2[x];
            sum += r2[x + 1];
            sum += r3[x];
            sum += r3[x + 1];
        }
        return sum;
    };
    // The interior run of k takes two cells per row, with no boundary test
    // in the loop; the two ends take one.
    std::int64_t x = 1;
    for (; x + kBlock <= k - 1; x += kBlock)
        for (std::int64_t l = 0; l < kBlock; ++l) out[x + l] = (two(x + l) * scale) * inner;
    for (; x < k - 1; ++x) out[x] = (two(x) * scale) * inner;
    out[0] = (one(1) * scale) * ends;
    out[k - 1] = (one(k - 1) * scale) * ends;
}

// Node values of one part with cells, row by row into `out`. `in` points
// at the part's first slot in the stored array.
template <class Out>
void average_part(const Block& b, const float* in, Out& out, float scale) {
    const float* rows[4];
    for (std::int64_t i = 0; i < b.i; ++i) {
        // Cell layers of node layer i (0-based): i and i + 1 within 1..I-1.
        const std::int64_t ci0 = std::max<std::int64_t>(i, 1), ci1 = std::min(i + 1, b.i - 1);
        for (std::int64_t j = 0; j < b.j; ++j) {
            const std::int64_t cj0 = std::max<std::int64_t>(j, 1), cj1 = std::min(j + 1, b.j - 1);
            int m = 0;
            for (std::int64_t ci = ci0; ci <= ci1; ++ci)
                for (std::int64_t cj = cj0; cj <= cj1; ++cj) rows[m++] = in + (ci * b.j + cj) * b.k;
            float* o = out.row(b.k);
            switch (m) {
            case 1: average_row<1>(rows[0], nullptr, nullptr, nullptr, o, b.k, scale); break;
            case 2: average_row<2>(rows[0], rows[1], nullptr, nullptr, o, b.k, scale); break;
            default: average_row<4>(rows[0], rows[1], rows[2], rows[3], o, b.k, scale); break;
            }
            out.put_row(b.k);
        }
    }
}

// xyz of n nodes from the stored displacements: each value scaled, or all
// three 0 for a node whose x marks it as without a displacement (only x is
// tested; a NaN x is not greater and is scaled). Nodes go by blocks: every
// value of a block is scaled in one vector pass and the rare marked node
// is cleared after it, which gives the same values as a test per node.
QV_CPU_CLONES void scale_displacements(const float* __restrict in, float* __restrict xyz,
                                       std::int64_t n, float scale) {
    std::int64_t node = 0;
    for (; node + kBlock <= n; node += kBlock) {
        const float* block_in = in + 3 * node;
        float* block_out = xyz + 3 * node;
        for (std::int64_t v = 0; v < 3 * kBlock; ++v) block_out[v] = block_in[v] * scale;
        bool marked = false;
        for (std::int64_t l = 0; l < kBlock; ++l) marked |= block_in[3 * l] > kNoDisplacement;
        if (!marked) continue;
        for (std::int64_t l = 0; l < kBlock; ++l)
            if (block_in[3 * l] > kNoDisplacement)
                block_out[3 * l] = block_out[3 * l + 1] = block_out[3 * l + 2] = 0.0f;
    }
    for (; node < n; ++node) {
        const bool none = in[3 * node] > kNoDisplacement;
        for (std::int64_t c = 0; c < 3; ++c)
            xyz[3 * node + c] = none ? 0.0f : in[3 * node + c] * scale;
    }
}

}  // namespace

bool node_coordinates(const model::View& m, float* xyz) {
    const model::Analysis& a = m.analysis;
    if (!m.loaded) return false;
    // Without the extents of every structured part stated, a host cannot
    // know T and has no room for the structured nodes' coordinates.
    if (!model::structured_parts_served(a, m.counts)) return false;
    const std::int64_t n = model::structured_slots(a, m.counts) + std::max(m.counts.node_count, 0);
    const float scale = model::UnitScale(a.unit_codes).factor(kLength);
    // The node count may describe more nodes than the base file's coordinates
    // hold (after a base-file-only load it counts them all again): only the
    // coordinates held are written.
    const std::int64_t held = std::min(n, a.coordinates.size() / 3);
    const float* c = a.coordinates.data();
    for (std::int64_t i = 0; i < 3 * held; ++i) xyz[i] = c[i] * scale;
    return true;
}

bool node_displacements(const Source& src, float* xyz) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    ModelSizes sizes;
    if (!node_sizes(src.model, sizes)) return fail(src, Status::damaged);
    const std::int64_t nodes = sizes.slots + sizes.unstructured;
    if (3 * nodes > src.capacity) return fail(src, Status::capacity);
    runtime::Buffer<float>& d = src.cycle.values;
    if (const format::Status st = format::read_displacements(src.cycle, d); st != format::Status::ok)
        return fail(src, query_status(st));
    if (!d.holds() || d.size() / 3 < nodes) return fail(src, Status::damaged);

    const float scale = model::UnitScale(src.model.analysis.unit_codes).factor(kLength);
    scale_displacements(d.data(), xyz, nodes, scale);
    return true;
}

bool int_node_values(const Source& src, std::int32_t variable, std::int32_t part,
                    std::int32_t* values) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    if (!directory_lists(src.model.cycle, variable, model::kNodeInteger, part, false))
        return fail(src, Status::not_stored);
    ModelSizes sizes;
    if (!node_sizes(src.model, sizes)) return fail(src, Status::damaged);
    // Header pair, every slot and every unstructured node, unchanged.
    const std::int64_t n = sizes.slots + sizes.unstructured;
    if (n > src.capacity) return fail(src, Status::capacity);
    model::Array<std::int32_t> work;
    if (const format::Status st =
            format::read_integer_array(src.cycle, format::kNodeObject, -variable, part, work);
        st != format::Status::ok)
        return fail(src, query_status(st));
    if (!work.allocated() || !holds(work.size(), sizes.slots, 1, sizes.unstructured))
        return fail(src, Status::damaged);
    std::memcpy(values, work.data() + kHeaderPair,
                static_cast<std::size_t>(n) * sizeof(std::int32_t));
    return true;
}

namespace {

template <class Out>
bool float_node_to(const Source& src, std::int32_t variable, std::int32_t part, Out& out) {
    if (!cycle_ready(src)) return fail(src, Status::not_ready);
    if (!directory_lists(src.model.cycle, variable, model::kNodeReal, part, false))
        return fail(src, Status::not_stored);
    ModelSizes sizes;
    if (!node_sizes(src.model, sizes)) return fail(src, Status::damaged);
    if (sizes.slots + sizes.unstructured > src.capacity)
        return fail(src, Status::capacity);

    // Node values are scaled by length, time and mass; temperature is never
    // converted and does not take part in the choice of the code.
    const model::Analysis& a = src.model.analysis;
    const float scale = variable_scale(a, variable, false);

    runtime::Buffer<float>& work = src.cycle.values;
    if (const format::Status st =
            format::read_real_array(src.cycle, format::kNodeObject, -variable, part, work);
        st != format::Status::ok)
        return fail(src, query_status(st));
    if (!work.holds() || !holds(work.size(), sizes.slots, 1, sizes.unstructured))
        return fail(src, Status::damaged);

    const float* in = work.data() + kHeaderPair;
    std::int64_t offset = 0;
    for (std::int32_t p = 1; p <= sizes.parts; ++p) {
        const Block b = block(a, p);
        if (b.has_cells())
            average_part(b, in + offset, out, scale);
        else
            out.copy(in + offset, b.slots(), scale);  // no cells: own values
        offset += b.slots();
    }
    out.copy(in + sizes.slots, sizes.unstructured, scale);
    return true;
}

}  // namespace

bool float_node_values(const Source& src, std::int32_t variable, std::int32_t part, float* values) {
    CopyOut out{values};
    return float_node_to(src, variable, part, out);
}

bool float_node_runs(const Source& src, std::int32_t variable, std::int32_t part, RealRuns& runs) {
    RunsOut out{runs};
    return float_node_to(src, variable, part, out);
}

}  // namespace qv::extract
