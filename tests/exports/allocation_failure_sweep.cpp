// Every allocation of a mode-1 load, a cycle selection and each value getter
// made to fail in turn. This executable replaces the global allocation
// functions with counting ones that forward to malloc and free; the library
// allocates through them too, since the C++ runtime is shared. Once armed,
// allocation number k fails (std::bad_alloc, or null from the nothrow forms).
//
// For each operation and each k from 1 to the number of allocations it
// makes, the operation runs on a freshly set-up session with allocation k
// failing. The call must fail or give exactly the values of a run without
// failure; no lock or probe file may remain; a failed load leaves no model;
// and the same call without failure then gives the right values. The sweep
// runs in forked children: a child that dies is reported with the k that
// ended it, and a new child goes on from k + 1.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>

#include "exports/child_process.h"
#include "exports/sample_run.h"
#include "exports/session_fixture.h"

namespace {

bool armed = false;
long allocations = 0;  // counted while armed
long fail_at = 0;      // the allocation that fails; 0 for none

void* allocate(std::size_t n, std::size_t alignment = 0) noexcept {
    if (armed && ++allocations == fail_at) return nullptr;
    if (n == 0) n = 1;
    if (alignment <= alignof(std::max_align_t)) return std::malloc(n);
    void* p = nullptr;
    return ::posix_memalign(&p, alignment, n) == 0 ? p : nullptr;
}
void* allocate_or_throw(std::size_t n, std::size_t alignment = 0) {
    if (void* p = allocate(n, alignment)) return p;
    throw std::bad_alloc();
}

// What every operator delete below does. Not inlined: g++ -Os would inline
// the free() into callers and take it for a mismatch with operator new.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }

}  // namespace

void* operator new(std::size_t n) { return allocate_or_throw(n); }
void* operator new[](std::size_t n) { return allocate_or_throw(n); }
void* operator new(std::size_t n, std::align_val_t a) {
    return allocate_or_throw(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return allocate_or_throw(n, std::size_t(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, std::size_t(a));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }

namespace {

using namespace qvtest;
using I = std::int32_t;

// Appends the raw bytes of values to a text, which then compares whole.
template <class T>
void put(std::string& s, const T* values, std::size_t count) {
    s.append(reinterpret_cast<const char*>(values), count * sizeof(T));
}
template <class T>
void put(std::string& s, T value) {
    put(s, &value, 1);
}

// What a model query answers after a load (or a cycle selection).
std::string model_answers() {
    std::string s;
    Ints counts(7, -7), ints(512, -7);
    Floats reals(512, -7.0f);
    put(s, get_NumNodes(&counts[0]) && get_NumSteps(&counts[1]) &&
               get_NumStructuredParts(&counts[2]) && get_NumUnstructuredParts(&counts[3]) &&
               get_NumUnstructuredElements(&counts[4]) && get_NumMaterials(&counts[5]) &&
               getResultsFileVersion(&counts[6]));
    put(s, counts.data(), counts.size());
    put(s, get_SetData(ints.data(), reals.data()) &&
               get_NumStructuredNodes(&ints[8], &ints[16], &ints[24]) &&
               get_UnstructuredElementConnectivity(&ints[32]) && get_ElementType(&ints[64]) &&
               getParallelTaskInformation(&ints[72]) && get_NodeCoordinates(&reals[8]));
    for (I part = 1; part <= 4; ++part) {
        char name[41] = "........................................";
        put(s, get_PartInfo(&part, &ints[80 + 2 * part], &ints[81 + 2 * part], name));
        s += name;
    }
    for (I material = 1; material <= 2; ++material) {
        char name[41] = "........................................";
        put(s, get_MaterialName(&material, name));
        s += name;
    }
    put(s, get_NumVariables(&ints[100], &ints[101]));
    put(s, ints.data(), ints.size());
    put(s, reals.data(), reals.size());
    return s;
}

// One operation: `setup` prepares the session without failure, `call` is
// the operation the sweep makes fail, `answers` reads back what it gave.
struct Operation {
    std::string name;
    std::function<bool()> setup, call;
    std::function<std::string()> answers;
    bool loads = false;
};

// A value getter into a primed buffer, after a load and selecting the
// chunked cycle in extraction mode `mode`.
template <class T>
Operation getter(std::string name, I mode, std::function<bool(T*)> get, const std::string& base,
                 const std::string& dir) {
    auto buffer = std::make_shared<std::vector<T>>(1024);
    return {name,
            [=] { return load_run(base, dir) && select_step(1) && setDataExtractionMode(&mode); },
            [=] {
                std::fill(buffer->begin(), buffer->end(), T(-7));
                return get(buffer->data());
            },
            [=] {
                return std::string(reinterpret_cast<const char*>(buffer->data()),
                                   buffer->size() * sizeof(T));
            }};
}

// A session without a model: after loading a base file that is damaged.
bool no_model(const std::string& dir) {
    const std::string damaged = dir + "/bad_x_base.qvres";
    const I mode = 0;
    I nodes = 0;
    return !set_BaseFilename(&mode, damaged.c_str(), dir.c_str()) && !get_NumNodes(&nodes);
}

std::vector<Operation> operations(const std::string& base, const std::string& dir) {
    std::vector<Operation> ops = {
        {"Load", [=] { return no_model(dir); }, [=] { return load_run(base, dir); }, model_answers,
         true},
        {"SelectCycle", [=] { return load_run(base, dir); }, [] { return select_step(1); },
         [] {
             Floats values(256, -7.0f);
             I variable = 67, part = 1;
             std::string s = model_answers();
             put(s, get_FloatElemValues(&variable, &part, values.data()));
             put(s, values.data(), values.size());
             return s;
         }},
    };
    const auto ints = [&](std::string name, I mode, std::function<bool(I*)> get) {
        ops.push_back(getter<I>(name, mode, get, base, dir));
    };
    const auto reals = [&](std::string name, I mode, std::function<bool(float*)> get) {
        ops.push_back(getter<float>(name, mode, get, base, dir));
    };
    // A getter with an in/out variable (or other first input) and a second
    // input; one with a single input.
    const auto with = [](I variable, I second, auto get) {
        return [=](auto* values) {
            I v = variable;
            return get(&v, &second, values) && v == variable;
        };
    };
    const auto given = [](I input, auto get) { return [=](float* v) { return get(&input, v); }; };
    reals("NodeCoordinates", 0, get_NodeCoordinates);
    reals("NodeDisplacements", 0, get_NodeDisplacements);
    ints("IntNodeValues", 0, with(26, 1, get_IntNodeValues));
    reals("FloatNodeValues", 0, with(4, 1, get_FloatNodeValues));
    for (I mode : {0, 1}) {
        ints("IntElemValuesMode" + std::to_string(mode), mode, with(10, 1, get_IntElemValues));
        reals("FloatElemValuesMode" + std::to_string(mode), mode, with(54, 1, get_FloatElemValues));
    }
    ints("LayerIntElemValues", 0, with(30, 0, get_LayerIntElemValues));
    reals("MaterialFractions", 0, given(1, get_MaterialFractions));
    reals("JointData", 0, with(8, -1, get_JointData));
    reals("RigidBodyData", 0, given(4, get_RigidBodyData));
    // Qualifiers, variables and kinds side by side; the names behind them.
    ints("VariableInfo", 0, [](I* v) {
        char* names[8];
        for (int n = 0; n < 8; ++n) names[n] = reinterpret_cast<char*>(v + 64 + 32 * n);
        return get_VariableInfo(v, names, v + 16, v + 32);
    });
    return ops;
}

// Lock and probe files left in `dir`; removed, so that the next case does
// not find the run locked.
std::string leftovers(const std::string& dir) {
    std::string found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".lock" || name.find("_$QVTEST") != std::string::npos) {
            found += " " + name;
            std::filesystem::remove_all(entry.path());
        }
    }
    return found;
}

class AllocationFailure : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { ASSERT_TRUE(set_Startup()); }
    TempDir dir_;
};

TEST_P(AllocationFailure, FailsOnlyTheCallThatMeetsIt) {
    const std::string base = write_sample_run(dir_);
    qvw::FileWriter damaged = qvw::write_base_file(sample_model());
    damaged.bytes().resize(damaged.bytes().size() / 2);
    damaged.save(dir_.file("bad_x.qvres_base"));
    Operation op;
    for (const Operation& o : operations(base, dir_.path()))
        if (o.name == GetParam()) op = o;
    ASSERT_FALSE(op.name.empty());

    // A run without failure: the number of allocations and the answers.
    // As before every case, the operation has run once before.
    const auto warm_up = [&] {
        leftovers(dir_.path());  // from a child that died
        return op.setup() && op.call();
    };
    const ChildResult probe = in_child([&](const Pipe& pipe) {
        if (!warm_up() || !op.setup()) return false;
        armed = true;
        const bool ok = op.call();
        armed = false;
        pipe.send(std::to_string(allocations) + "\n" + op.answers());
        return ok && leftovers(dir_.path()).empty();
    });
    ASSERT_TRUE(probe.passed) << "no run without failure: " << probe.what();
    const long count = std::stol(probe.text);
    const std::string reference = probe.text.substr(probe.text.find('\n') + 1);
    RecordProperty("allocations", std::to_string(count));

    const auto failures = run_cases(count, warm_up, [&](long k, Findings& f) {
        if (!f.expect(op.setup(), "the set-up failed")) return;
        allocations = 0;
        fail_at = k;
        armed = true;
        const bool ok = op.call();
        armed = false;
        if (ok) f.expect(op.answers() == reference, "returned true with other values");
        I nodes = 0;
        if (!ok && op.loads)
            f.expect(!get_NumNodes(&nodes) && nodes == -1, "a model after the failed load");
        const std::string left = leftovers(dir_.path());
        f.expect(left.empty(), "left" + left);
        f.expect(op.call() && op.answers() == reference,
                 "the next call failed or gave other values");
    });
    if (!failures.empty()) {
        std::map<std::string, long> kinds;
        for (const auto& [k, what] : failures) ++kinds[what];
        std::ostringstream summary;
        summary << failures.size() << " of " << count << " allocation points failed:";
        for (const auto& kind : kinds) {
            const std::string& what = kind.first;
            summary << "\n  " << kind.second << " x " << what << " (first at k = "
                    << std::find_if(failures.begin(), failures.end(),
                                    [&](const auto& f) { return f.second == what; })
                           ->first
                    << ")";
        }
        ADD_FAILURE() << summary.str();
    }
}

INSTANTIATE_TEST_SUITE_P(Sweep, AllocationFailure, ::testing::ValuesIn([] {
                             std::vector<std::string> names;
                             for (const Operation& o : operations("", "")) names.push_back(o.name);
                             return names;
                         }()),
                         [](const auto& info) { return info.param; });

}  // namespace
