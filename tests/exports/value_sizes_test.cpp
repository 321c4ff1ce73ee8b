// The array sizes the header states for every value getter, on the mixed
// model (planes, a part with cells, a part with neither, multi-material
// variables with an unreported material, unstructured elements): each
// buffer is sized exactly by the header's formula from the count queries,
// with a guard region behind it. The call must succeed, leave the guard as
// it was and write the stored last value into the buffer's last position,
// so a formula that is too small and one that is too large both fail.
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

#include "exports/session_fixture.h"

namespace {

using namespace qvtest;

// What the header's size formulas are made of, from the count queries.
struct Counts {
    std::int64_t T = 0;  // slots
    std::int64_t C = 0;  // structured elements
    std::int64_t P = 0;  // plane slots
    std::int64_t E = 0;  // unstructured elements
    std::int64_t N = 0;  // nodes: T + get_NumNodes
    std::int64_t R = 0;  // reported materials
};

Counts count_queries() {
    Counts c;
    std::int32_t parts = 0, elements = 0, nodes = 0, materials = 0;
    EXPECT_TRUE(get_NumStructuredParts(&parts));
    Ints ni(parts), nj(parts), nk(parts);
    EXPECT_TRUE(get_NumStructuredNodes(ni.data(), nj.data(), nk.data()));
    for (std::int32_t p = 0; p < parts; ++p) {
        const std::int64_t i = ni[p], j = nj[p], k = nk[p];
        c.T += i * j * k;
        if (i >= 2 && j >= 2 && k >= 2) c.C += (i - 1) * (j - 1) * (k - 1);
        if (i == 1) c.P += j * k;
    }
    EXPECT_TRUE(get_NumUnstructuredElements(&elements));
    EXPECT_TRUE(get_NumNodes(&nodes));
    EXPECT_TRUE(get_NumMaterials(&materials));
    for (std::int32_t m = 1; m <= materials; ++m) {
        std::int32_t id = -1;
        c.R += getEulerMatFracIDforQVMaterial(&m, &id) ? 1 : 0;
    }
    c.E = elements;
    c.N = c.T + nodes;
    return c;
}

// Calls `getter` on a buffer of exactly `size` values followed by a guard
// region, all primed with a sentinel; checks the result, the guard and the
// last value.
template <class T>
void expect_exact(const std::string& what, std::int64_t size, T last,
                  const std::function<bool(T*)>& getter) {
    SCOPED_TRACE(what + ", " + std::to_string(size) + " values");
    constexpr std::size_t kGuard = 64;
    const T sentinel = static_cast<T>(-123456789);
    ASSERT_GT(size, 0);
    std::vector<T> buffer(static_cast<std::size_t>(size) + kGuard, sentinel);
    ASSERT_TRUE(getter(buffer.data()));
    EXPECT_EQ(buffer[static_cast<std::size_t>(size) - 1], last) << "the last value";
    EXPECT_EQ(std::count(buffer.begin() + size, buffer.end(), sentinel), static_cast<long>(kGuard))
        << "written past the stated size";
}
const auto expect_ints = expect_exact<std::int32_t>;
const auto expect_reals = expect_exact<float>;

class ValueSizes : public Session {
protected:
    void SetUp() override {
        Session::SetUp();
        ASSERT_TRUE(load(model_));
    }

    // The stored array of an entry of the cycle.
    const qvw::DirectoryEntrySpec& stored(std::int32_t kind, std::int32_t variable) const {
        for (const auto& e : cycle_.entries)
            if (e.kind == kind && e.variable == variable) return e;
        throw std::logic_error("no such entry");
    }

    qvw::BaseFileSpec model_ = mixed_model();
    qvw::CycleFileSpec cycle_ = mixed_cycle(3);
};

TEST_F(ValueSizes, ElementGettersInBothModes) {
    ASSERT_TRUE(open_cycle(cycle_));
    const Counts c = count_queries();
    // Every term of the formulas counts, and a multi-material variable
    // reports some materials but not all.
    std::int32_t materials = 0;
    ASSERT_TRUE(get_NumMaterials(&materials));
    ASSERT_TRUE(c.C > 0 && c.P > 0 && c.E > 0 && c.T > c.C + c.P);
    ASSERT_TRUE(c.R > 0 && c.R < materials);

    const std::int32_t one = 1, sublayer = 0;
    for (const std::int32_t mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        ASSERT_TRUE(setDataExtractionMode(&mode));
        const std::int64_t every_slot = 2 + c.T + c.E;
        const std::int64_t integers = mode == 1 ? every_slot : 2 + c.C + c.E;

        // Every stored element array ends with the unstructured elements.
        expect_ints("get_IntElemValues", integers, stored(-1, 10).ints.back(), [&](std::int32_t* out) {
            std::int32_t variable = 10;
            return get_IntElemValues(&variable, &one, out);
        });
        expect_ints("get_ElementMaterial", integers, stored(-1, 10).ints.back(), get_ElementMaterial);
        expect_ints("get_ElementStatus", integers, stored(-1, 12).ints.back(), get_ElementStatus);
        expect_ints("get_ElementErosion", integers, stored(-1, 26).ints.back(), get_ElementErosion);

        // The sublayer getter keeps the plane slots whatever the mode.
        expect_ints("get_LayerIntElemValues", 2 + c.C + c.P + c.E, stored(-1, 40).ints.back(),
                    [&](std::int32_t* out) {
                        std::int32_t variable = 40;
                        return get_LayerIntElemValues(&variable, &sublayer, out);
                    });

        for (const std::int32_t v : {64, 54, 81, 83, 85, 86, 87, 88, 89}) {
            const bool multi = v != 64;
            const Floats& values = stored(-2, v).reals;
            const std::int64_t size =
                mode == 1 ? every_slot : 2 + (multi ? c.R + 1 : 1) * (c.C + c.P) + c.E;
            Floats got;
            expect_reals("get_FloatElemValues " + std::to_string(v), size, values.back(),
                         [&](float* out) {
                             std::int32_t variable = v;
                             const bool ok = get_FloatElemValues(&variable, &one, out);
                             got.assign(out, out + size);
                             return ok;
                         });
            // In mode 1 a multi-material slot gives its own value, the last
            // of its materials + 1 stored values.
            if (mode == 1 && multi) {
                for (std::int64_t x = 0; x < c.T; ++x)
                    ASSERT_EQ(got[2 + x], values[2 + (x + 1) * (materials + 1) - 1]) << "slot " << x;
            }
        }
    }
}

TEST_F(ValueSizes, NodeGettersAndMaterialFractions) {
    // Before a cycle is selected get_NumNodes counts every node itself.
    std::int32_t all = 0;
    ASSERT_TRUE(get_NumNodes(&all));
    expect_reals("get_NodeCoordinates, no cycle", 3 * std::int64_t(all), model_.coordinates.back(),
                 get_NodeCoordinates);

    ASSERT_TRUE(open_cycle(cycle_));
    const Counts c = count_queries();
    const std::int32_t one = 1;
    for (const std::int32_t mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        ASSERT_TRUE(setDataExtractionMode(&mode));
        expect_reals("get_NodeCoordinates", 3 * c.N, model_.coordinates.back(), get_NodeCoordinates);
        expect_reals("get_NodeDisplacements", 3 * c.N, cycle_.displacements->back(),
                     get_NodeDisplacements);
        expect_ints("get_IntNodeValues", c.N + 2, stored(1, 26).ints.back(), [&](std::int32_t* out) {
            std::int32_t variable = 26;
            return get_IntNodeValues(&variable, &one, out);
        });
        expect_ints("get_NodeErosion", c.N + 2, stored(1, 26).ints.back(), get_NodeErosion);
        expect_reals("get_FloatNodeValues", c.N + 2, stored(2, 4).reals.back(), [&](float* out) {
            std::int32_t variable = 4;
            return get_FloatNodeValues(&variable, &one, out);
        });
        for (std::int32_t m = 1; m <= 3; ++m)
            expect_reals("get_MaterialFractions " + std::to_string(m), c.C,
                         cycle_.material_fractions->at(static_cast<std::size_t>(m) - 1).back(),
                         [&](float* out) { return get_MaterialFractions(&m, out); });
    }
}

}  // namespace
