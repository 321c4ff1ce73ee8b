// Fuzz target: the input drives the model generator (model_generator.h),
// which writes a base file and one to three cycle files of one run. They
// are read as a host reads them, twice: through the 59 exports (the model
// sweep, then every registered cycle with every value query in both
// extraction modes), and through libqvres (model, parts, arrays,
// materials, cycles, a reader per cycle with every variable, joints and
// rigid bodies). Every count must lie within the files' bytes, failed calls
// must leave caller arrays as they were, error messages must be text, and
// the real node and element values libqvres reads must be, bit for bit,
// what the exports gave for the same cycle.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"
#include "model_generator.h"
#include "qvres.h"
#include "results_api.h"
#include "value_sweep.h"
#include "writer/records.h"

namespace {

constexpr int kMostCycles = 3;

// What each input came to (QVFUZZ_VERBOSE=1), to see what a corpus reaches.
struct Tally {
    std::uint64_t bytes = 0;
    int steps = 0, opened = 0, qvres_cycles = 0, compared = 0;
};
Tally g_tally;
const bool g_verbose = [] {
    const char* v = std::getenv("QVFUZZ_VERBOSE");
    return v && *v == '1';
}();

std::string cycle_path(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "/m_run_%04d.qvres", k + 1);
    return qvfuzz::work_dir() + name;
}

// ---- The exports ----------------------------------------------------------

// The values get_FloatNodeValues or get_FloatElemValues (mode 0) gave for
// one directory entry of one cycle, the whole caller array included.
struct Exported {
    bool ok = false;
    std::vector<float> values;
};
using Key = std::tuple<std::int32_t, std::int32_t, std::int32_t>;  // kind, variable, part
using CycleExports = std::map<Key, Exported>;

bool is_multi_material(std::int32_t v) {
    return v == 54 || v == 81 || v == 83 || v == 85 || (v >= 86 && v <= 89);
}

// The real values of the selected cycle's first dozen real entries.
CycleExports capture(const qvfuzz::ModelSizes& m, const qvfuzz::Budget& budget) {
    CycleExports out;
    std::int32_t variables = 0, entries = 0, nodes = 0;
    if (!get_NumVariables(&variables, &entries) || entries <= 0) return out;
    if (!get_NumNodes(&nodes) || nodes < 0) return out;
    qvfuzz::Buffer<std::int32_t> qualifiers(entries, budget, "entries"), indices(entries, budget, "entries"),
        kinds(entries, budget, "entries");
    if (!qualifiers.usable()) return out;
    std::vector<char*> names(static_cast<std::size_t>(entries), nullptr);
    if (!get_VariableInfo(qualifiers.data(), names.data(), indices.data(), kinds.data())) return out;
    const std::int32_t mode = 0;
    setDataExtractionMode(&mode);
    const qvfuzz::Blocks& b = m.blocks;
    for (std::int32_t i = 0; i < entries && out.size() < 12; ++i) {
        const std::int32_t kind = kinds.data()[i], variable = indices.data()[i], part = qualifiers.data()[i];
        if (kind != 2 && kind != -2) continue;
        const Key key{kind, variable, part};
        if (out.count(key)) continue;
        const std::int64_t count =
            kind == 2 ? 2 + b.slots + nodes
            : is_multi_material(variable)
                ? 2 + (b.cells + b.plane_slots) * (m.reported + 1) + m.elements
                : 2 + b.cells + b.plane_slots + m.elements;
        qvfuzz::Buffer<float> values(count, budget, "export capture");
        if (!values.usable()) continue;
        std::int32_t v = variable;
        Exported e;
        e.ok = kind == 2 ? get_FloatNodeValues(&v, &part, values.data())
                         : get_FloatElemValues(&v, &part, values.data());
        e.values.assign(values.data(), values.data() + values.size());
        out[key] = std::move(e);
    }
    return out;
}

struct ExportRun {
    std::vector<std::int32_t> cycles;  // registered, in time order
    std::vector<CycleExports> values;  // per registered cycle
};

ExportRun through_exports(const qvfuzz::GeneratedRun& run, const qvfuzz::Budget& budget,
                          int written) {
    ExportRun out;
    const std::int32_t with_cycles = 1;
    const std::string named =
        run.name_a_cycle ? cycle_path(0) : qvfuzz::work_dir() + "/m_run_base.qvres";
    set_BaseFilename(&with_cycles, named.c_str(), qvfuzz::work_dir().c_str());
    qvfuzz::sweep_model(budget);
    std::int32_t steps = 0;
    if (get_NumSteps(&steps) && steps > written) qvfuzz::fail("more cycles than files", steps);
    if (steps > 0) {
        std::vector<std::int32_t> cycles(static_cast<std::size_t>(steps) + 1);
        std::vector<float> times(static_cast<std::size_t>(steps) + 1);
        if (get_SetData(cycles.data(), times.data()))
            out.cycles.assign(cycles.begin(), cycles.begin() + steps);
    }
    for (std::int32_t k = 0; k < steps; ++k) {
        std::int32_t step = k;
        // The counts in force are the selected cycle's: loaded through a
        // cycle name, the model had that cycle's counts, and a cycle of
        // fewer structured parts than it may serve blocks that one could
        // not. The host sizes again, as it does after every selection.
        bool opened = set_newStep(&step);
        const qvfuzz::ModelSizes sizes = qvfuzz::model_sizes(budget);
        // The element count query in model_sizes made the part records'
        // total the one in force, which libqvres never does: the values it
        // is compared with are read with the cycle selected afresh.
        if (opened) {
            opened = set_newStep(&step);
            if (!opened) qvfuzz::fail("a cycle that opened does not open again", k);
            out.values.push_back(capture(sizes, budget));
        } else {
            out.values.emplace_back();
        }
        g_tally.steps += 1;
        g_tally.opened += opened;
        qvfuzz::sweep_values(sizes, budget, opened);
    }
    resultsCleanUp();
    return out;
}

// ---- libqvres -------------------------------------------------------------

// An error record primed with text no call writes; after the call its
// message must be NUL-terminated, and on failure non-empty with the status.
struct Error {
    qvres_error e;
    Error() { reset(); }
    qvres_error* get() {
        reset();
        return &e;
    }
    void reset() {
        e.status = static_cast<qvres_status>(-5);
        std::memset(e.message, 'q', sizeof e.message);
    }
    qvres_status check(qvres_status status, const char* what) const {
        if (!std::memchr(e.message, 0, sizeof e.message)) qvfuzz::fail(what, -10);
        if (e.status != status) qvfuzz::fail(what, -11);
        if (status != QVRES_OK && e.message[0] == '\0') qvfuzz::fail(what, -12);
        return status;
    }
};

template <std::size_t N>
void check_text(const char (&text)[N], const char* what) {
    if (!std::memchr(text, 0, N)) qvfuzz::fail(what, -13);
}

// What array_query returns when it does not ask: the array would be larger
// than any the harness allocates.
constexpr auto kNotAsked = static_cast<qvres_status>(-1);

// An array query into a caller array of exactly `count` values, then one
// value short: a failure leaves the array as it was, and the short one must
// fail. `values` receives what the exact call wrote, when it succeeded.
template <class T, class Call>
qvres_status array_query(std::int64_t count, const qvfuzz::Budget& budget, const char* what,
                         bool try_short, Call call, std::vector<T>* values = nullptr) {
    return array_query<T>(count, 1, budget, what, try_short, call, values);
}

// The same for an array of `per_object` values per object (3 per node, or
// one per reported material and one more per slot): the objects are what
// the file's bytes must justify.
template <class T, class Call>
qvres_status array_query(std::int64_t count, std::int64_t per_object, const qvfuzz::Budget& budget,
                         const char* what, bool try_short, Call call, std::vector<T>* values = nullptr) {
    if (count < 0) qvfuzz::fail(what, count);
    qvfuzz::check_count(count / per_object, budget, what);
    qvfuzz::Buffer<T> out(count, budget, what);
    if (!out.usable()) return kNotAsked;
    Error error;
    const qvres_status st = error.check(call(out.data(), count, error.get()), what);
    if (st != QVRES_OK && !out.untouched()) qvfuzz::fail(what, -20);
    if (st == QVRES_OK && values) values->assign(out.data(), out.data() + count);
    if (try_short && count > 0) {
        qvfuzz::Buffer<T> short_out(count - 1, budget, what);
        const qvres_status s = error.check(call(short_out.data(), count - 1, error.get()), what);
        if (s == QVRES_OK) qvfuzz::fail("a buffer one value short was accepted", count);
        if (!short_out.untouched()) qvfuzz::fail(what, -21);
    }
    return st;
}

bool integer_request(qvres_values v) {
    return v == QVRES_NODE_INTEGERS || v == QVRES_ELEMENT_INTEGERS ||
           v == QVRES_ELEMENT_INTEGERS_ALL_SLOTS || v == QVRES_SUBLAYER_INTEGERS;
}

// The layout of a request covers exactly the values it counts: blocks in
// order, inside the structured values, the unstructured ones behind them.
void check_layout(qvres_reader* r, const qvres_request& q, std::int64_t count) {
    qvres_layout l{};
    if (qvres_get_layout(r, &q, &l, nullptr) != QVRES_OK) qvfuzz::fail("no layout for a counted request");
    if (l.values != count || l.columns < 1 || l.unstructured < 0 ||
        l.unstructured_first + l.unstructured * l.unstructured_columns != count)
        qvfuzz::fail("the layout does not add up to the count", count);
    std::int64_t at = 0;
    for (std::int64_t b = 0; b < l.blocks; ++b) {
        qvres_layout_block block{};
        if (qvres_get_layout_block(r, &q, b, &block, nullptr) != QVRES_OK) qvfuzz::fail("a layout block is missing");
        if (block.first != at) qvfuzz::fail("layout blocks leave gaps", b);
        std::int64_t positions = 1;
        for (int d = 0; d < 3; ++d) {
            if (block.extent[d] < 1 || block.origin[d] < 1) qvfuzz::fail("an empty or misplaced layout block", b);
            positions *= block.extent[d];
        }
        at += positions * l.columns;
    }
    if (at != l.unstructured_first) qvfuzz::fail("the layout blocks do not end where the unstructured values begin");
}

// The values of one request, compared with the exports' where both read
// the same cycle.
void request(qvres_reader* r, const qvres_request& q, std::int64_t materials, const qvfuzz::Budget& budget,
             bool try_short, const CycleExports* exports) {
    Error error;
    std::int64_t count = -1;
    const qvres_status counted = error.check(qvres_count_values(r, &q, &count, error.get()), "count values");
    if (counted != QVRES_OK) return;
    check_layout(r, q, count);
    if (integer_request(q.values)) {
        array_query<std::int32_t>(count, budget, "int32 values", try_short,
                                  [&](std::int32_t* v, std::int64_t c, qvres_error* e) {
                                      return qvres_read_int32(r, &q, v, c, e);
                                  });
        return;
    }
    std::int64_t per_object = 1;
    if (q.values == QVRES_DISPLACEMENTS) per_object = 3;
    if (q.values == QVRES_ELEMENT_REALS && is_multi_material(q.variable)) per_object = materials + 1;
    std::vector<float> got;
    const qvres_status st = array_query<float>(
        count, per_object, budget, "float values", try_short,
        [&](float* v, std::int64_t c, qvres_error* e) { return qvres_read_float(r, &q, v, c, e); }, &got);
    if (!exports || (q.values != QVRES_NODE_REALS && q.values != QVRES_ELEMENT_REALS)) return;
    const auto it = exports->find(Key{q.values == QVRES_NODE_REALS ? 2 : -2, q.variable, q.part});
    if (it == exports->end() || st == kNotAsked) return;
    const Exported& x = it->second;
    if (x.ok != (st == QVRES_OK)) qvfuzz::fail("libqvres and the exports disagree on serving values", st);
    if (!x.ok) return;
    // The exports write the header pair first; libqvres the values alone.
    constexpr std::size_t kPair = 2;
    if (count + 2 > static_cast<std::int64_t>(x.values.size()))
        qvfuzz::fail("libqvres gives more values than the exports", count);
    ++g_tally.compared;
    if (!got.empty() && std::memcmp(got.data(), x.values.data() + kPair, 4 * got.size()) != 0)
        qvfuzz::fail("libqvres and the exports read different values", count);
    // The exports wrote no value behind the ones libqvres counts.
    for (std::size_t i = got.size() + kPair; i < x.values.size(); ++i)
        if (x.values[i] != qvfuzz::Buffer<float>::primed(static_cast<std::int64_t>(i)))
            qvfuzz::fail("the exports wrote more values than libqvres counts", static_cast<long long>(i));
}

void read_cycle(const qvres_analysis* a, std::int64_t index, const qvres_model& m,
                const qvfuzz::Budget& budget, const CycleExports* exports) {
    Error error;
    qvres_reader* r = nullptr;
    if (error.check(qvres_reader_open(a, index, &r, error.get()), "reader") != QVRES_OK) return;
    std::int64_t entries = 0;
    error.check(qvres_count_variables(r, &entries, error.get()), "variable count");
    qvfuzz::check_count(entries, budget, "variable count");
    std::vector<qvres_request> requests;
    for (std::int64_t e = 0; e <= entries; ++e) {
        qvres_variable v;
        std::memset(&v, 'q', sizeof v);
        const qvres_status st = error.check(qvres_get_variable(r, e, &v, error.get()), "variable");
        if ((st == QVRES_OK) != (e < entries)) qvfuzz::fail("variable entry", e);
        if (st != QVRES_OK) continue;
        check_text(v.name, "variable name");
        switch (v.kind) {
        case QVRES_NODE_INTEGER: requests.push_back({QVRES_NODE_INTEGERS, v.index, v.part}); break;
        case QVRES_NODE_REAL: requests.push_back({QVRES_NODE_REALS, v.index, v.part}); break;
        case QVRES_ELEMENT_INTEGER:
            requests.push_back({QVRES_ELEMENT_INTEGERS, v.index, v.part});
            requests.push_back({QVRES_ELEMENT_INTEGERS_ALL_SLOTS, v.index, v.part});
            requests.push_back({QVRES_SUBLAYER_INTEGERS, v.index, v.part});
            break;
        case QVRES_ELEMENT_REAL:
            requests.push_back({QVRES_ELEMENT_REALS, v.index, v.part});
            requests.push_back({QVRES_ELEMENT_REALS_ALL_SLOTS, v.index, v.part});
            break;
        default: requests.push_back({QVRES_NODE_REALS, v.index, v.part}); break;
        }
        if (requests.size() < 24) {
            // Room for 4 to 24 characters: a unit text that does not fit
            // is refused and nothing of it written.
            char unit[24];
            std::memset(unit, 'q', sizeof unit);
            std::int32_t exponents[4];
            const std::int64_t room = 4 + (v.index & 0x7fff) % 21;
            const bool ok = error.check(qvres_variable_unit(v.index, unit, room, exponents, error.get()),
                                        "unit") == QVRES_OK;
            if (ok ? !std::memchr(unit, 0, static_cast<std::size_t>(room))
                   : std::count(unit, unit + sizeof unit, 'q') != sizeof unit)
                qvfuzz::fail("unit text not ended within its room, or written when refused", room);
        }
    }
    requests.push_back({QVRES_DISPLACEMENTS, 0, 0});
    requests.push_back({QVRES_ELEMENT_INTEGERS, 26, 1});
    requests.push_back({QVRES_NODE_REALS, 999, 1});
    for (std::int32_t k = 0; k <= static_cast<std::int32_t>(std::min<std::int64_t>(m.materials, 8)) + 1; ++k)
        requests.push_back({QVRES_MATERIAL_FRACTIONS, 0, k});
    for (std::size_t i = 0; i < requests.size(); ++i) request(r, requests[i], m.materials, budget, i < 2, exports);

    // A request of no kind, and a kind read as the other type: refused,
    // nothing written.
    {
        const qvres_request bad{static_cast<qvres_values>(0), 4, 1};
        std::int64_t count = -7;
        if (error.check(qvres_count_values(r, &bad, &count, error.get()), "count of no kind") == QVRES_OK ||
            count != -7)
            qvfuzz::fail("a request of no kind was counted");
        const qvres_request node{QVRES_NODE_INTEGERS, 35, 1};
        qvfuzz::Buffer<float> out(4, budget, "wrong type");
        if (error.check(qvres_read_float(r, &node, out.data(), 4, error.get()), "wrong type") == QVRES_OK ||
            !out.untouched())
            qvfuzz::fail("integer values read as reals");
    }
    // Each joint query walks the section again: a few of each.
    for (std::int32_t joint : {1, 3})
        for (std::int32_t q : {-13, 14}) {
            qvfuzz::Buffer<float> out(16, budget, "joint");
            const qvres_status st = error.check(qvres_read_joint(r, joint, q, out.data(), error.get()), "joint");
            if (st != QVRES_OK && !out.untouched()) qvfuzz::fail("failed joint query wrote");
        }
    for (std::int32_t body : {0, 1, 5}) {
        qvfuzz::Buffer<float> out(12, budget, "rigid body");
        const qvres_status st = error.check(qvres_read_rigid_body(r, body, out.data(), error.get()), "rigid body");
        if (st != QVRES_OK && !out.untouched()) qvfuzz::fail("failed rigid body query wrote");
    }
    qvres_reader_close(r);
}

void through_qvres(const qvfuzz::GeneratedRun& run, const qvfuzz::Budget& budget,
                   const ExportRun& exports) {
    const std::string& dir = qvfuzz::work_dir();
    const std::string path = run.open_kind == 0   ? dir + "/m_run.qvres_base"
                             : run.open_kind == 1 ? cycle_path(0)
                                                  : dir;
    const qvres_open_options options{run.prefix_rule, 0, 0};
    if (qvres_version() != QVRES_VERSION) qvfuzz::fail("library and header versions differ");
    Error error;
    qvres_analysis* a = nullptr;
    if (error.check(qvres_open(path.c_str(), &options, &a, error.get()), "open") != QVRES_OK) {
        qvres_close(a);
        return;
    }
    qvres_model m;
    if (error.check(qvres_get_model(a, &m, error.get()), "model") != QVRES_OK) qvfuzz::fail("no model of an open analysis");
    for (std::int64_t c : {m.structured_parts, m.unstructured_parts, m.structured_slots, m.unstructured_nodes,
                           m.nodes, m.unstructured_elements, m.materials, m.cycles, m.skipped_files})
        qvfuzz::check_count(c, budget, "libqvres model count");
    if (m.cycles + m.skipped_files > kMostCycles) qvfuzz::fail("more cycle files than written", m.cycles);

    const std::int64_t parts = m.structured_parts + m.unstructured_parts;
    for (std::int64_t p = 0; p <= parts + 1; ++p) {
        qvres_part info;
        const qvres_status st = error.check(qvres_get_part(a, p, &info, error.get()), "part");
        // A part record of no type is no part: only those in range may be had.
        if (st == QVRES_OK && (p < 1 || p > parts)) qvfuzz::fail("part out of range", p);
        std::int64_t elements = 0, nodes = 0;
        if (st == QVRES_OK) {
            check_text(info.name, "part name");
            for (std::int64_t c : {info.extent[0], info.extent[1], info.extent[2], info.elements, info.nodes})
                qvfuzz::check_count(c, budget, "libqvres part count");
            if (!info.structured) {
                elements = info.elements;
                nodes = info.nodes;
            }
        }
        array_query<std::int32_t>(elements, budget, "part elements", true,
                                  [&](std::int32_t* v, std::int64_t c, qvres_error* e) {
                                      return qvres_get_part_elements(a, p, v, c, e);
                                  });
        array_query<std::int32_t>(nodes, budget, "part nodes", true,
                                  [&](std::int32_t* v, std::int64_t c, qvres_error* e) {
                                      return qvres_get_part_nodes(a, p, v, c, e);
                                  });
    }
    array_query<float>(3 * m.nodes, budget, "coordinates", true, [&](float* v, std::int64_t c, qvres_error* e) {
        return qvres_get_coordinates(a, v, c, e);
    });
    array_query<std::int32_t>(8 * m.unstructured_elements, budget, "connectivity", true,
                              [&](std::int32_t* v, std::int64_t c, qvres_error* e) {
                                  return qvres_get_connectivity(a, v, c, e);
                              });
    array_query<std::int32_t>(m.unstructured_elements, budget, "element types", true,
                              [&](std::int32_t* v, std::int64_t c, qvres_error* e) {
                                  return qvres_get_element_types(a, v, c, e);
                              });
    for (std::int64_t k = 0; k <= std::min<std::int64_t>(m.materials, 16) + 1; ++k) {
        qvres_material info;
        if (error.check(qvres_get_material(a, k, &info, error.get()), "material") == QVRES_OK) {
            check_text(info.name, "material name");
            check_text(info.body_name, "material body name");
        }
    }
    for (std::int64_t k = 0; k <= m.skipped_files; ++k) {
        qvres_skipped_file f;
        if (error.check(qvres_get_skipped_file(a, k, &f, error.get()), "skipped file") == QVRES_OK) {
            check_text(f.path, "skipped path");
            check_text(f.reason, "skipped reason");
            if (f.reason[0] == '\0') qvfuzz::fail("a file skipped for no reason");
        }
    }
    // The exports' values are compared where both registered the same
    // cycles: the same cycle numbers in the same order, none seen twice.
    std::vector<std::int32_t> numbers;
    for (std::int64_t k = 0; k <= m.cycles; ++k) {
        qvres_cycle c;
        const qvres_status st = error.check(qvres_get_cycle(a, k, &c, error.get()), "cycle");
        if ((st == QVRES_OK) != (k < m.cycles)) qvfuzz::fail("cycle", k);
        if (st == QVRES_OK) numbers.push_back(c.number);
    }
    bool same = numbers == exports.cycles && exports.values.size() == numbers.size();
    for (std::size_t i = 0; same && i < numbers.size(); ++i)
        for (std::size_t j = 0; j < i; ++j) same = same && numbers[i] != numbers[j];
    g_tally.qvres_cycles = static_cast<int>(m.cycles);
    for (std::int64_t k = 0; k < m.cycles; ++k)
        read_cycle(a, k, m, budget, same ? &exports.values[static_cast<std::size_t>(k)] : nullptr);
    qvres_close(a);
}

// How many cycle files the previous input left.
int g_left = 0;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::init_once();
    // Arrays are compressed fast; one input in eight stores them as they
    // are, so that stored blocks are read too.
    qvw::set_deflate_level(size % 8 == 7 ? 0 : 1);
    const qvfuzz::GeneratedRun run = qvfuzz::generate_run(data, size);
    const std::string& dir = qvfuzz::work_dir();

    // The run's files; the counts they may justify come from all of them.
    std::uint64_t bytes = 0;
    const qvw::FileWriter base = qvw::write_base_file(run.base);
    qvfuzz::write_file(dir + "/m_run.qvres_base", base.bytes().data(), base.size());
    bytes += base.size();
    const int written = static_cast<int>(std::min<std::size_t>(run.cycles.size(), kMostCycles));
    for (int k = 0; k < written; ++k) {
        const qvw::FileWriter cycle = qvw::write_cycle_file(run.cycles[static_cast<std::size_t>(k)]);
        qvfuzz::write_file(cycle_path(k), cycle.bytes().data(), cycle.size());
        bytes += cycle.size();
    }
    for (int k = written; k < g_left; ++k) std::remove(cycle_path(k).c_str());
    g_left = written;
    const qvfuzz::Budget budget{bytes};

    g_tally = Tally{};
    g_tally.bytes = bytes;
    const ExportRun exports = through_exports(run, budget, written);
    through_qvres(run, budget, exports);
    qvfuzz::finish_input();
    if (g_verbose)
        std::fprintf(stderr, "fuzz_model: %d files, %llu bytes, %d disagreements; exports: %d of %d cycles "
                             "opened; libqvres: %d cycles, %d arrays compared\n",
                     written + 1, static_cast<unsigned long long>(bytes), run.disagreements, g_tally.opened,
                     g_tally.steps, g_tally.qvres_cycles, g_tally.compared);
    return 0;
}
