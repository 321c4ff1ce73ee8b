// What the exports do with the caller's pointers and text buffers: a null
// pointer in any argument fails the call and writes nothing, and a text
// field longer than the stored text comes back padded with blanks.
#include <cstring>
#include <functional>

#include "exports/child_process.h"
#include "exports/sample_run.h"
#include "exports/session_fixture.h"

namespace {

using namespace qvtest;
using I = std::int32_t;

// Argument storage for one call: pointer argument i points into slot i of
// an arena primed with one byte value, except argument `null_at`, which is
// null. What the arena holds when the export wrote nothing is kept beside it.
class Args {
public:
    explicit Args(int null_at)
        : null_at_(null_at), arena_(kSlots * kSlot, 0x5A), expected_(arena_) {}

    template <class T>
    T* out(int i) {
        return i == null_at_ ? nullptr : reinterpret_cast<T*>(&arena_[std::size_t(i) * kSlot]);
    }
    template <class T>
    T* in(int i, T value) {
        T* p = out<T>(i);
        if (p) put(p, &value, sizeof value);
        return p;
    }
    char* text(int i, const std::string& s) {
        char* p = out<char>(i);
        if (p) put(p, s.c_str(), s.size() + 1);
        return p;
    }
    // `count` pointers to name buffers of 100 characters, in the last slot.
    char** names(int i, int count) {
        char** p = out<char*>(i);
        for (int n = 0; p && n < count; ++n) {
            char* name =
                reinterpret_cast<char*>(&arena_[(kSlots - 1) * kSlot + 128 * std::size_t(n)]);
            put(name, std::string(100, 'x').c_str(), 101);
            put(&p[n], &name, sizeof name);
        }
        return p;
    }
    bool untouched() const { return arena_ == expected_; }

private:
    static constexpr std::size_t kSlots = 6, kSlot = 4096;
    void put(void* at, const void* from, std::size_t n) {
        std::memcpy(at, from, n);
        std::memcpy(&expected_[std::size_t(static_cast<unsigned char*>(at) - arena_.data())], from,
                    n);
    }
    int null_at_;
    std::vector<unsigned char> arena_, expected_;
};

// An export with `pointers` pointer arguments, called with inputs that make
// it succeed (get_NumElements never does).
struct Export {
    std::string name;
    int pointers;
    std::function<bool(Args&)> call;
};

// Argument i of the call is a.in<T>(i, value), a.out<T>(i) or a.text(i, s).
#define EXPORT(f, pointers, ...)                               \
    {                                                          \
#f, pointers, [=](Args & a) { return f(__VA_ARGS__); } \
    }

std::vector<Export> exports(const std::string& base, const std::string& dir,
                            const std::string& cycle) {
    return {
        EXPORT(set_BaseFilename, 3, a.in<I>(0, 1), a.text(1, base), a.text(2, dir)),
        EXPORT(set_ResultsFilename, 1, a.text(0, cycle)),
        EXPORT(set_newStep, 1, a.in<I>(0, 1)),
        EXPORT(setDataExtractionMode, 1, a.in<I>(0, 1)),
        EXPORT(getResultsFileVersion, 1, a.out<I>(0)),
        EXPORT(getUnitSystem, 3, a.out<I>(0), a.out<I>(1), a.out<I>(2)),
        EXPORT(getModelSymmetry, 2, a.out<I>(0), a.out<I>(1)),
        EXPORT(getInputResultSwitches, 2, a.out<I>(0), a.out<I>(1)),
        EXPORT(getParallelTaskInfoSize, 1, a.out<I>(0)),
        EXPORT(getParallelTaskInformation, 1, a.out<I>(0)),
        EXPORT(getPyramidTetPairId, 2, a.in<I>(0, 10), a.out<I>(1)),
        EXPORT(get_NumNodes, 1, a.out<I>(0)),
        EXPORT(get_NumSteps, 1, a.out<I>(0)),
        EXPORT(get_NumStructuredParts, 1, a.out<I>(0)),
        EXPORT(get_NumUnstructuredParts, 1, a.out<I>(0)),
        EXPORT(get_NumUnstructuredNodes, 1, a.out<I>(0)),
        EXPORT(get_NumUnstructuredElements, 1, a.out<I>(0)),
        EXPORT(get_NumStructuredNodes, 3, a.out<I>(0), a.out<I>(1), a.out<I>(2)),
        EXPORT(get_NumElements, 1, a.out<I>(0)),
        EXPORT(get_PartInfo, 4, a.in<I>(0, 3), a.out<I>(1), a.out<I>(2), a.text(3, "....")),
        EXPORT(get_ElementPartConnectivity, 2, a.in<I>(0, 3), a.out<I>(1)),
        EXPORT(get_NodePartConnectivity, 2, a.in<I>(0, 3), a.out<I>(1)),
        EXPORT(get_UnstructuredElementConnectivity, 1, a.out<I>(0)),
        EXPORT(get_ElementType, 1, a.out<I>(0)),
        EXPORT(get_NodeCoordinates, 1, a.out<float>(0)),
        EXPORT(get_NodeDisplacements, 1, a.out<float>(0)),
        EXPORT(get_IntNodeValues, 3, a.in<I>(0, 26), a.in<I>(1, 1), a.out<I>(2)),
        EXPORT(get_FloatNodeValues, 3, a.in<I>(0, 4), a.in<I>(1, 1), a.out<float>(2)),
        EXPORT(get_NodeErosion, 1, a.out<I>(0)),
        EXPORT(get_IntElemValues, 3, a.in<I>(0, 10), a.in<I>(1, 1), a.out<I>(2)),
        EXPORT(get_FloatElemValues, 3, a.in<I>(0, 67), a.in<I>(1, 1), a.out<float>(2)),
        EXPORT(get_ElementErosion, 1, a.out<I>(0)),
        EXPORT(get_ElementMaterial, 1, a.out<I>(0)),
        EXPORT(get_ElementStatus, 1, a.out<I>(0)),
        EXPORT(get_LayerIntElemValues, 3, a.in<I>(0, 30), a.in<I>(1, 0), a.out<I>(2)),
        EXPORT(get_NumMaterials, 1, a.out<I>(0)),
        EXPORT(get_MaterialName, 2, a.in<I>(0, 1), a.text(1, "....")),
        EXPORT(get_MaterialFractions, 2, a.in<I>(0, 1), a.out<float>(1)),
        EXPORT(getMaterialPoissonRatio, 2, a.in<I>(0, 1), a.out<float>(1)),
        EXPORT(getEulerMatFracBodyName, 2, a.in<I>(0, 1), a.text(1, "....")),
        EXPORT(getEulerMatFracIDforQVMaterial, 2, a.in<I>(0, 1), a.out<I>(1)),
        EXPORT(getQVMaterialforEulerMatFracID, 2, a.in<I>(0, 2), a.out<I>(1)),
        EXPORT(get_ZPnumElementTypes, 1, a.out<I>(0)),
        EXPORT(get_ZPElementType, 2, a.in<I>(0, 1), a.out<I>(1)),
        EXPORT(get_ZPElement, 3, a.in<I>(0, 10), a.out<I>(1), a.out<I>(2)),
        EXPORT(get_ZPElementNumNodes, 2, a.in<I>(0, 10), a.out<I>(1)),
        EXPORT(getQuorvexElementNumber, 2, a.in<I>(0, 20), a.out<I>(1)),
        EXPORT(getQuorvexNodeNumber, 2, a.in<I>(0, 114), a.out<I>(1)),
        EXPORT(get_JointData, 3, a.in<I>(0, 8), a.in<I>(1, 1), a.out<float>(2)),
        EXPORT(get_RigidBodyData, 2, a.in<I>(0, 4), a.out<float>(1)),
        EXPORT(get_SetData, 2, a.out<I>(0), a.out<float>(1)),
        EXPORT(get_NumVariables, 2, a.out<I>(0), a.out<I>(1)),
        EXPORT(get_VariableInfo, 4, a.out<I>(0), a.names(1, 8), a.out<I>(2), a.out<I>(3)),
        EXPORT(get_isResultAvailable, 4, a.in<I>(0, 67), a.in<I>(1, 1), a.in<I>(2, -2),
               a.in<I>(3, 0)),
    };
}

using CallerBuffers = Session;

// Each export after a mode-1 load and a cycle open: with every pointer it
// succeeds; with any one pointer null it fails and writes nothing, neither
// output nor fail marker. The calls run in children, since some exports
// today dereference the null pointer.
TEST_F(CallerBuffers, NullPointerFailsTheCallAndWritesNothing) {
    const std::string base = write_sample_run(dir_);
    std::vector<std::pair<Export, int>> cases;  // the export, its null argument (-1: none)
    for (const Export& e : exports(base, dir_.path(), dir_.file("job_a_0002.qvres")))
        for (int null_at = -1; null_at < e.pointers; ++null_at) cases.emplace_back(e, null_at);
    const auto failures = run_cases(
        long(cases.size()), [] { return true; },
        [&](long i, Findings& f) {
            const auto& [e, null_at] = cases[std::size_t(i - 1)];
            if (!f.expect(load_run(base, dir_.path()) && select_step(0), "no load or cycle"))
                return;
            Args args(null_at);
            const bool ok = e.call(args);
            if (null_at < 0) {
                f.expect(ok == (e.name != "get_NumElements"),
                         ok ? "returned true" : "returned false");
            } else {
                f.expect(!ok, "returned true");
                f.expect(args.untouched(), "wrote into the other arguments");
            }
        });
    for (const auto& [i, what] : failures)
        ADD_FAILURE() << cases[std::size_t(i - 1)].first.name << ", null argument "
                      << cases[std::size_t(i - 1)].second << ": " << what;
}

// A null entry of get_VariableInfo's name array skips that name only.
TEST_F(CallerBuffers, NullNameEntrySkipsThatName) {
    ASSERT_TRUE(load_run(write_sample_run(dir_), dir_.path()));
    ASSERT_TRUE(select_step(0));
    const std::vector<qvw::DirectoryEntrySpec> entries = sample_cycle(1).entries;
    std::vector<std::string> buffers(entries.size(), std::string(100, 'x'));
    std::vector<char*> names;
    for (std::string& b : buffers) names.push_back(b.data());
    names[2] = nullptr;
    Ints qualifiers(entries.size(), -99), variables(entries.size(), -99),
        kinds(entries.size(), -99);
    ASSERT_TRUE(get_VariableInfo(qualifiers.data(), names.data(), variables.data(), kinds.data()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ((Ints{qualifiers[i], variables[i], kinds[i]}),
                  (Ints{entries[i].qualifier, entries[i].variable, entries[i].kind}))
            << i;
        EXPECT_EQ(buffers[i] == std::string(100, 'x'), i == 2) << i;
    }
}

// Text outputs into buffers longer than the stored text: the text, then
// blanks up to the buffer's length; its terminator and a guard behind it
// stay as they were. (The display names of get_VariableInfo: variables_test.)
TEST_F(CallerBuffers, TextLongerThanTheStoredTextIsPaddedWithBlanks) {
    ASSERT_TRUE(load_run(write_sample_run(dir_), dir_.path()));
    ASSERT_TRUE(select_step(0));
    const qvw::BaseFileSpec model = sample_model();
    const auto field = [](std::size_t width) { return std::string(width, 'x') + '\0' + 'G'; };
    const auto padded = [](const std::string& text, std::size_t width) {
        return text + std::string(width - text.size(), ' ') + '\0' + 'G';
    };
    for (I part = 1; part <= 4; ++part) {
        std::string name = field(60);
        I elements = -7, nodes = -7;
        ASSERT_TRUE(get_PartInfo(&part, &elements, &nodes, name.data())) << part;
        EXPECT_EQ(name, padded(model.parts[std::size_t(part - 1)].name, 60)) << part;
    }
    for (I material = 1; material <= 2; ++material) {
        std::string name = field(50), body = field(300);
        I m = material;
        ASSERT_TRUE(get_MaterialName(&m, name.data())) << material;
        ASSERT_TRUE(getEulerMatFracBodyName(&material, body.data())) << material;
        EXPECT_EQ(name, padded(model.materials[std::size_t(material - 1)].name, 50));
        EXPECT_EQ(body, padded(model.materials[std::size_t(material - 1)].body, 300));
    }
}

}  // namespace
