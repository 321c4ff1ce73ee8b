// libqvres against the 59 exports of results_api.h over the sample analysis
// and the fixture analysis: every answer bit for bit what the exports give
// for the same request, and every count what the exports write; each read
// fits a buffer of exactly its count and is refused one value less.
#include <gtest/gtest.h>

#include <memory>

#include "qvres/qvres_support.h"
#include "results_api.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

using namespace qvtest;

// The two analyses, written once for all tests, each in its own directory.
class Analyses : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        sample_cycle_ = new std::string(qvsample::write_sample_analysis(dir_->file("sample")).cycle_files[0]);
        fixture_cycle_ = new std::string(write_fixture(dir_->file("fixture")).cycle_files[0]);
    }
    static void TearDownTestSuite() {
        delete sample_cycle_;
        delete fixture_cycle_;
        delete dir_;
    }
    static inline TempDir* dir_ = nullptr;
    static inline std::string* sample_cycle_ = nullptr;
    static inline std::string* fixture_cycle_ = nullptr;
};

void expect_bits(const std::vector<std::uint32_t>& got, const std::vector<std::uint32_t>& want,
                 const std::string& what) {
    EXPECT_EQ(got.size(), want.size()) << what << ": the count differs from what the export writes";
    EXPECT_TRUE(got.size() == want.size() &&
                (got.empty() || std::memcmp(got.data(), want.data(), 4 * got.size()) == 0))
        << what << ": the values differ";
}

// What an export writes into an array: it runs twice, over arrays filled
// with two patterns. A value both runs agree on was written; the values
// written end with the last of them, and none before it may be left out.
using ExportCall = std::function<bool(void*)>;
struct Exported {
    bool ok = false;
    std::vector<std::uint32_t> bits, whole;  // written; the whole first array
};
Exported exported(std::size_t bound, const ExportCall& call) {
    std::vector<std::uint32_t> run[2];
    bool ok[2];
    for (int i = 0; i < 2; ++i) {
        std::vector<std::uint32_t> values(bound);
        std::memset(values.data(), i ? 0x5A : 0xA5, 4 * bound);
        ok[i] = call(values.data());
        run[i] = bits_of(values.data(), bound);
    }
    EXPECT_EQ(ok[0], ok[1]);
    std::size_t n = bound;
    while (n > 0 && run[0][n - 1] != run[1][n - 1]) --n;
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(run[0][i], run[1][i]) << "value " << i << " not written";
    return {ok[0], {run[0].begin(), run[0].begin() + std::ptrdiff_t(n)}, run[0]};
}

// The export call that answers a value request (the variable is in/out:
// each call takes a copy).
ExportCall export_of(const qvres_request& q) {
    return [q](void* values) {
        const std::int32_t mode = q.values == QVRES_ELEMENT_INTEGERS_ALL_SLOTS || q.values == QVRES_ELEMENT_REALS_ALL_SLOTS;
        setDataExtractionMode(&mode);
        std::int32_t v = q.variable;
        const std::int32_t p = q.part;
        const auto i = static_cast<std::int32_t*>(values);
        const auto f = static_cast<float*>(values);
        bool ok = false;
        switch (q.values) {
        case QVRES_DISPLACEMENTS: ok = get_NodeDisplacements(f); break;
        case QVRES_NODE_INTEGERS: ok = get_IntNodeValues(&v, &p, i); break;
        case QVRES_NODE_REALS: ok = get_FloatNodeValues(&v, &p, f); break;
        case QVRES_ELEMENT_INTEGERS:
        case QVRES_ELEMENT_INTEGERS_ALL_SLOTS: ok = get_IntElemValues(&v, &p, i); break;
        case QVRES_ELEMENT_REALS:
        case QVRES_ELEMENT_REALS_ALL_SLOTS: ok = get_FloatElemValues(&v, &p, f); break;
        case QVRES_SUBLAYER_INTEGERS: ok = get_LayerIntElemValues(&v, &p, i); break;
        case QVRES_MATERIAL_FRACTIONS: ok = get_MaterialFractions(&p, f); break;
        }
        const std::int32_t zero = 0;
        setDataExtractionMode(&zero);
        return ok;
    };
}

// In the order of model_arrays.
std::vector<ExportCall> model_exports(const qvres_model& m) {
    using I = std::int32_t*;
    std::vector<ExportCall> out = {[](void* v) { return get_NodeCoordinates(static_cast<float*>(v)); },
                                   [](void* v) { return get_UnstructuredElementConnectivity(I(v)); },
                                   [](void* v) { return get_ElementType(I(v)); }};
    for (std::int32_t p = std::int32_t(m.structured_parts) + 1; p <= m.structured_parts + m.unstructured_parts; ++p) {
        out.push_back([p](void* v) { std::int32_t q = p; return get_ElementPartConnectivity(&q, I(v)); });
        out.push_back([p](void* v) { std::int32_t q = p; return get_NodePartConnectivity(&q, I(v)); });
    }
    return out;
}

// In the order of body_arrays.
std::vector<ExportCall> body_exports() {
    std::vector<ExportCall> out;
    for (std::int32_t body : kBodyNumbers) {
        for (std::int32_t quantity = -13; quantity <= 13; ++quantity)
            out.push_back([=](void* v) { return get_JointData(&body, &quantity, static_cast<float*>(v)); });
        out.push_back([=](void* v) { return get_RigidBodyData(&body, static_cast<float*>(v)); });
    }
    return out;
}

// Answered requests: no comparison may pass because both sides failed.
struct Tally {
    int values[QVRES_MATERIAL_FRACTIONS + 1] = {};
    int bodies = 0;
};

// A read into a buffer of exactly its count with a guard region behind it
// succeeds and leaves the guard; into one value less it is QVRES_E_CAPACITY
// and writes nothing.
void expect_capacity(const ArrayQuery& q) {
    constexpr std::size_t kGuard = 64;
    if (q.count == 0) return;  // EmptyAnswers
    std::vector<std::uint32_t> values(std::size_t(q.count) + kGuard, 0xA5A5A5A5u);
    const std::vector<std::uint32_t> before = values;
    qvres_error error{};
    ASSERT_EQ(q.read(values.data(), q.count, &error), QVRES_OK) << q.what << ": " << error.message;
    EXPECT_EQ(std::memcmp(values.data() + q.count, before.data() + q.count, 4 * kGuard), 0)
        << q.what << ": written past the count";
    values = before;
    EXPECT_EQ(q.read(values.data(), q.count - 1, &error), QVRES_E_CAPACITY) << q.what;
    EXPECT_EQ(error.status, QVRES_E_CAPACITY) << q.what;
    EXPECT_EQ(std::memcmp(values.data(), before.data(), 4 * values.size()), 0) << q.what << ": written by a refused read";
}

// A record of fixed size (`whole`) compares every value, written or not:
// both sides fill it with 0xA5 bytes first. The exports write `skip` values
// (the header pair) before those of libqvres.
void compare(const ArrayQuery& mine, const ExportCall& theirs, std::size_t bound, bool stored, int& answered,
             bool whole = false, std::size_t skip = 0) {
    const Exported want = exported(whole ? std::size_t(mine.count) : bound, theirs);
    EXPECT_TRUE(want.ok || !stored) << mine.what << " is stored";
    const Reading got = read(mine);
    ASSERT_EQ(got.status == QVRES_OK, want.ok) << mine.what << ": " << got.message;
    answered += want.ok;
    if (want.ok && !whole) expect_capacity(mine);
    if (!(want.ok || whole)) return;
    const std::vector<std::uint32_t>& all = whole ? want.whole : want.bits;
    ASSERT_GE(all.size(), skip) << mine.what;
    expect_bits(got.bits, {all.begin() + std::ptrdiff_t(skip), all.end()}, mine.what);
}

bool has_header_pair(qvres_values v) { return v != QVRES_DISPLACEMENTS && v != QVRES_MATERIAL_FRACTIONS; }

// The header pair query gives the two words the export writes first, and
// fails where the export fails.
void compare_header(qvres_reader* r, const qvres_request& q, const ExportCall& theirs, std::size_t bound) {
    const Exported want = exported(bound, theirs);
    std::uint32_t pair[2] = {0xA5A5A5A5u, 0xA5A5A5A5u};
    qvres_error error{};
    const qvres_status st = is_integer(q.values)
                                ? qvres_read_header_int32(r, &q, reinterpret_cast<std::int32_t*>(pair), &error)
                                : qvres_read_header_float(r, &q, reinterpret_cast<float*>(pair), &error);
    const std::string what = "header of request " + std::to_string(q.values) + ", variable " +
                             std::to_string(q.variable) + ", part " + std::to_string(q.part);
    ASSERT_EQ(st == QVRES_OK, want.ok) << what << ": " << error.message;
    if (!want.ok) return;
    ASSERT_GE(want.bits.size(), 2u) << what;
    EXPECT_EQ(pair[0], want.bits[0]) << what;
    EXPECT_EQ(pair[1], want.bits[1]) << what;
}

// A text export's field of `width` characters, trailing blanks removed.
std::string field(std::size_t width, const std::function<bool(char*)>& call) {
    std::string text(width, ' ');
    EXPECT_TRUE(call(text.data()));
    return text.erase(text.find_last_not_of(' ') + 1);
}

std::int32_t counted(bool (*query)(int32_t*)) {
    std::int32_t n = -7;
    EXPECT_TRUE(query(&n));
    return n;
}

void compare_model(const qvres_analysis* a, const qvres_model& m, std::size_t bound) {
    std::int32_t w[5];
    EXPECT_TRUE(getUnitSystem(&w[0], &w[1], &w[2]) && getModelSymmetry(&w[3], &w[4]));
    // get_NumNodes counts the unstructured nodes once a cycle is selected.
    EXPECT_EQ((std::vector<std::int64_t>{counted(get_NumStructuredParts), counted(get_NumUnstructuredParts),
                                         counted(get_NumUnstructuredElements), counted(get_NumNodes),
                                         counted(get_NumMaterials), counted(getResultsFileVersion), w[0], w[1],
                                         w[2], w[3], w[4]}),
              (std::vector<std::int64_t>{m.structured_parts, m.unstructured_parts, m.unstructured_elements,
                                         m.unstructured_nodes, m.materials, m.file_version, m.unit_system[0],
                                         m.unit_system[1], m.unit_system[2], m.symmetry[0], m.symmetry[1]}));
    std::vector<std::int32_t> extents[3];
    for (auto& e : extents) e.assign(std::size_t(m.structured_parts), -7);
    EXPECT_TRUE(get_NumStructuredNodes(extents[0].data(), extents[1].data(), extents[2].data()));
    for (std::int32_t p = 1; p <= m.structured_parts + m.unstructured_parts; ++p) {
        qvres_part info{};
        ASSERT_EQ(qvres_get_part(a, p, &info, nullptr), QVRES_OK);
        std::int32_t elements = -7, nodes = -7;
        EXPECT_EQ(field(35, [&](char* t) { return get_PartInfo(&p, &elements, &nodes, t); }), info.name);
        EXPECT_EQ(elements, info.elements) << "part " << p;
        EXPECT_EQ(nodes, info.nodes) << "part " << p;
        for (int d = 0; d < 3 && info.structured; ++d) EXPECT_EQ(extents[d][p - 1], info.extent[d]) << "part " << p;
    }
    const std::vector<ArrayQuery> mine = model_arrays(a);
    const std::vector<ExportCall> theirs = model_exports(m);
    ASSERT_EQ(mine.size(), theirs.size());
    int answered = 0;
    for (std::size_t i = 0; i < mine.size(); ++i) compare(mine[i], theirs[i], bound, true, answered);

    for (std::int32_t k = 1; k <= m.materials; ++k) {
        qvres_material info{};
        ASSERT_EQ(qvres_get_material(a, k, &info, nullptr), QVRES_OK);
        EXPECT_EQ(field(35, [k](char* t) { std::int32_t q = k; return get_MaterialName(&q, t); }), info.name);
        EXPECT_EQ(field(256, [&k](char* t) { return getEulerMatFracBodyName(&k, t); }), info.body_name);
        std::int32_t id = -7;
        float ratio = -7.0f;
        EXPECT_EQ(getEulerMatFracIDforQVMaterial(&k, &id), info.euler_id >= 0) << "material " << k;
        EXPECT_EQ(id, info.euler_id) << "material " << k;
        EXPECT_EQ(getMaterialPoissonRatio(&k, &ratio), info.has_poisson != 0) << "material " << k;
        if (info.has_poisson) expect_bits(bits_of(&info.poisson_ratio, 1), bits_of(&ratio, 1), "Poisson ratio");
    }
}

void compare_directory(const qvres_reader* r) {
    std::int32_t variables = -7, entries = -7;
    ASSERT_TRUE(get_NumVariables(&variables, &entries));
    std::int64_t count = -1;
    ASSERT_EQ(qvres_count_variables(r, &count, nullptr), QVRES_OK);
    ASSERT_EQ(count, entries);
    ASSERT_GT(entries, 0);
    const auto n = std::size_t(entries);
    std::vector<std::int32_t> qualifiers(n), indices(n), kinds(n);
    std::vector<std::string> names(n, std::string(100, ' '));
    std::vector<char*> buffers;
    for (std::string& s : names) buffers.push_back(s.data());
    ASSERT_TRUE(get_VariableInfo(qualifiers.data(), buffers.data(), indices.data(), kinds.data()));
    for (std::size_t e = 0; e < n; ++e) {
        qvres_variable v{};
        ASSERT_EQ(qvres_get_variable(r, std::int64_t(e), &v, nullptr), QVRES_OK);
        EXPECT_EQ(std::vector<std::int32_t>({v.index, v.part, v.kind}),
                  std::vector<std::int32_t>({indices[e], qualifiers[e], kinds[e]})) << "entry " << e;
        EXPECT_EQ(v.name, names[e].erase(names[e].find_last_not_of(' ') + 1)) << "entry " << e;
    }
    qvres_variable none{};
    for (const std::int64_t outside : {std::int64_t{-1}, count, INT64_MAX})
        EXPECT_EQ(qvres_get_variable(r, outside, &none, nullptr), QVRES_E_ARGUMENT) << outside;
}

// The exports load the run named by one of its cycle files with mode 1;
// libqvres opens its directory.
void compare_with_exports(const std::string& cycle_file) {
    const std::string directory = cycle_file.substr(0, cycle_file.rfind('/'));
    ASSERT_TRUE(set_Startup());
    const std::int32_t mode = 1;
    ASSERT_TRUE(set_BaseFilename(&mode, cycle_file.c_str(), directory.c_str()));
    Open open(directory);
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(open.a, &m, nullptr), QVRES_OK);
    ASSERT_GE(m.cycles, 2);
    // More than any export writes for one request.
    const auto bound = std::size_t(3 * m.nodes + m.structured_slots * (m.materials + 1) + m.unstructured_elements + 64);

    EXPECT_EQ(counted(get_NumSteps), m.cycles);
    std::vector<std::int32_t> numbers(std::size_t(m.cycles));
    std::vector<float> times(numbers.size());
    ASSERT_TRUE(get_SetData(numbers.data(), times.data()));
    for (std::int32_t k = 0; k < m.cycles; ++k) {
        qvres_cycle c{};
        ASSERT_EQ(qvres_get_cycle(open.a, k, &c, nullptr), QVRES_OK);
        EXPECT_EQ(c.number, numbers[k]);
        const float time = static_cast<float>(c.time);
        EXPECT_EQ(static_cast<double>(time), c.time);
        expect_bits(bits_of(&time, 1), bits_of(&times[k], 1), "time of cycle " + std::to_string(k));
    }

    Tally tally;
    for (std::int32_t k = 0; k < m.cycles; ++k) {
        SCOPED_TRACE("cycle " + std::to_string(k));
        ASSERT_TRUE(set_newStep(&k));
        if (k == 0) compare_model(open.a, m, bound);
        Reader reader(open.a, k);
        ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
        compare_directory(reader.r);
        for (const Request& q : value_requests(reader.r, m.materials)) {
            const bool paired = has_header_pair(q.q.values);
            compare(value_array(reader.r, q.q), export_of(q.q), bound, q.listed, tally.values[q.q.values], false,
                    paired ? 2 : 0);
            if (paired) compare_header(reader.r, q.q, export_of(q.q), bound);
        }
        const std::vector<ArrayQuery> bodies = body_arrays(reader.r);
        const std::vector<ExportCall> body_calls = body_exports();
        for (std::size_t i = 0; i < bodies.size(); ++i)
            compare(bodies[i], body_calls[i], 0, false, tally.bodies, true);
    }
    for (int v = QVRES_DISPLACEMENTS; v <= QVRES_MATERIAL_FRACTIONS; ++v)
        EXPECT_GT(tally.values[v], 0) << "no request of kind " << v << " was answered";
    EXPECT_GT(tally.bodies, 0);
    resultsCleanUp();
}

TEST_F(Analyses, SampleAnswersAsTheExports) { compare_with_exports(*sample_cycle_); }

TEST_F(Analyses, FixtureAnswersAsTheExports) { compare_with_exports(*fixture_cycle_); }

// Two hexahedra and a material, no structured part: the material's
// fractions are an answer of no values, which a host sizing its buffer from
// the count asks with no buffer. A buffer still needs a capacity.
TEST(EmptyAnswers, TakeNoBuffer) {
    TempDir dir;
    qvw::BaseFileSpec model;
    model.header = {5, 4};
    model.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    model.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12};
    model.element_types = {1, 1};
    model.coordinates.assign(36, 1.0f);
    model.materials = {{"STEEL", -1, "", 0.3f}};
    qvw::write_base_file(model).save(dir.file("u.qvres_base"));
    qvw::CycleFileSpec cycle;
    cycle.unstructured_parts = 1, cycle.unstructured_nodes = 12, cycle.unstructured_elements = 2;
    cycle.entries = {qvw::DirectoryEntrySpec::real(-2, 64, 1, {1.0f, 64.0f, 1.0f, 2.0f}, "PRESSURE")};
    cycle.variable_count = 1;
    qvw::write_cycle_file(cycle).save(dir.file("u_1.qvres"));

    Open open(dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    Reader reader(open.a, 0);
    ASSERT_EQ(reader.status, QVRES_OK) << reader.error.message;
    const qvres_request fractions{QVRES_MATERIAL_FRACTIONS, 0, 1}, pressure{QVRES_ELEMENT_REALS, 64, 1};
    std::int64_t count = -1;
    ASSERT_EQ(qvres_count_values(reader.r, &fractions, &count, nullptr), QVRES_OK);
    EXPECT_EQ(count, 0);
    qvres_error error{};
    EXPECT_EQ(qvres_read_float(reader.r, &fractions, nullptr, 0, &error), QVRES_OK) << error.message;
    EXPECT_EQ(qvres_read_float(reader.r, &pressure, nullptr, 0, nullptr), QVRES_E_CAPACITY);
    EXPECT_EQ(qvres_read_float(reader.r, &pressure, nullptr, 4, nullptr), QVRES_E_ARGUMENT);
    EXPECT_EQ(qvres_get_coordinates(open.a, nullptr, 0, nullptr), QVRES_E_CAPACITY);
}

}  // namespace
