// Shared set-up and the model query sweep of the fuzz targets.
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <process.h>
#endif

#include "results_api.h"
#include "format/compressed_array.h"
#include "runtime/alloc.h"
#include "support/allocation_limit.h"

namespace qvfuzz {
namespace {

std::string& dir_storage() {
    static std::string dir;
    return dir;
}

void remove_work_dir() {
    std::error_code ec;
    if (!dir_storage().empty()) std::filesystem::remove_all(dir_storage(), ec);
}

// Refusals are findings except inside a Starved scope.
bool starving = false;

std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void init_once() {
    static bool done = false;
    if (done) return;
    done = true;
    set_Startup();
    qv::runtime::set_allocation_limit_for_testing(kAllocationLimit);
    qv::runtime::set_allocation_sink([](const char* line) {
        if (starving) return;
        std::fprintf(stderr, "results_api fuzz finding: allocation refused:%s\n", line);
        std::abort();
    });
}

void finish_input() {
    // An empty base file of a run of its own, in a directory of its own.
    static const std::string empty_dir = [] {
        const std::string d = work_dir() + "/empty-run";
        std::filesystem::create_directory(d);
        write_file(d + "/e.qvres_base", nullptr, 0);
        return d;
    }();
    const std::int32_t model_only = 0;
    const std::string path = empty_dir + "/e_base.qvres";
    if (set_BaseFilename(&model_only, path.c_str(), empty_dir.c_str()))
        fail("an empty base file loaded");
    Buffer<std::int32_t>::release_kept();
    Buffer<float>::release_kept();
}

Starved::Starved(std::size_t bytes) {
    starving = true;
    // A limit of 0 would mean none.
    qv::runtime::set_allocation_limit_for_testing(std::max<std::size_t>(bytes, 1));
}

Starved::~Starved() {
    qv::runtime::set_allocation_limit_for_testing(kAllocationLimit);
    starving = false;
}

const std::string& work_dir() {
    std::string& dir = dir_storage();
    if (dir.empty()) {
#ifdef _WIN32
        // No mkdtemp: a name from the process id, created exclusively.
        std::error_code ec;
        const auto base = std::filesystem::temp_directory_path(ec) /
                          ("results_api-fuzz-" + std::to_string(::_getpid()));
        if (ec || !std::filesystem::create_directory(base, ec)) {
            std::fprintf(stderr, "cannot create %s\n", base.string().c_str());
            std::abort();
        }
        dir = base.string();
#else
        // TMPDIR may name a memory file system: each input is written to a
        // file, and on a disk rewriting one file many times a second waits
        // for the disk.
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/results_api-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        dir = pattern;
#endif
        std::atexit(remove_work_dir);
    }
    return dir;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

void fail(const char* what, long long value) {
    std::fprintf(stderr, "results_api fuzz finding: %s (%lld)\n", what, value);
    std::abort();
}

std::vector<std::int32_t> around(std::initializer_list<std::int64_t> counts) {
    std::vector<std::int32_t> out = {std::numeric_limits<std::int32_t>::min(), -1, 0, 1, 2,
                                     std::numeric_limits<std::int32_t>::max()};
    for (std::int64_t c : counts)
        for (std::int64_t d = -1; d <= 1; ++d) out.push_back(clamp32(c + d));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::int64_t Budget::values() const { return qv::format::max_values_for(bytes); }

void check_count(std::int64_t count, const Budget& budget, const char* what) {
    if (count < 0 || count > budget.values()) fail(what, count);
}

std::int32_t* Outputs::i32(std::int32_t value) {
    ints_.push_back(std::make_unique<Int>(Int{value, value}));
    return &ints_.back()->value;
}

float* Outputs::f32() {
    floats_.push_back(std::make_unique<float>(-9.87654e-21f));
    return floats_.back().get();
}

char* Outputs::text(std::size_t width) {
    // Blank-primed to the field width, NUL-terminated, a guard byte behind.
    std::vector<char> chars(width + 2, 'q');
    chars[width] = '\0';
    chars[width + 1] = '#';
    texts_.push_back(std::move(chars));
    return texts_.back().data();
}

void Outputs::check(bool ok, const char* what, std::int32_t allowed, unsigned which) {
    for (const auto& t : texts_) {
        const std::size_t width = t.size() - 2;
        if (t[width] != '\0' || t[width + 1] != '#') fail(what, -1);
        if (!ok && std::any_of(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(width),
                               [](char c) { return c != 'q'; }))
            fail(what, -2);
    }
    if (ok) return;
    for (std::size_t n = 0; n < ints_.size(); ++n) {
        const Int& v = *ints_[n];
        const bool may = n < 32 && ((which >> n) & 1u) && v.value == allowed;
        if (v.value != v.primed && !may) fail(what, v.value);
    }
    for (const auto& f : floats_)
        if (*f != -9.87654e-21f) fail(what, -3);
}

void Outputs::check_any_negative(bool ok, const char* what) {
    if (!ok)
        for (const auto& v : ints_)
            if (v->value != v->primed && v->value >= 0) fail(what, v->value);
    check(true, what);
}

Blocks structured_blocks(const Budget& budget) {
    Blocks b;
    std::int32_t s = -1;
    if (!get_NumStructuredParts(&s)) return b;
    check_count(s, budget, "structured part count");
    Buffer<std::int32_t> ni(s, budget, "structured part count"),
        nj(s, budget, "structured part count"), nk(s, budget, "structured part count");
    if (!ni.usable()) return b;
    if (!get_NumStructuredNodes(ni.data(), nj.data(), nk.data())) {
        if (!ni.untouched() || !nj.untouched() || !nk.untouched())
            fail("failed extent query wrote extents");
        return b;
    }
    b.known = true;
    b.parts = s;
    for (std::int64_t p = 0; p < s; ++p) {
        const std::int64_t i = ni.data()[p], j = nj.data()[p], k = nk.data()[p];
        // A part the base file gave no record has extents 0.
        if (i < 0 || j < 0 || k < 0) fail("negative structured extent", std::min({i, j, k}));
        b.slots += i * j * k;
        if (i >= 2 && j >= 2 && k >= 2) b.cells += (i - 1) * (j - 1) * (k - 1);
        if (i == 1) b.plane_slots += j * k;
        check_count(b.slots, budget, "structured slots");
    }
    return b;
}

namespace {

// An array getter: it must not write past `out`, and when it fails it must
// leave `out` as it was, but for a documented -1 in its first value.
template <class T>
bool array_call(Buffer<T>& out, const char* what, bool ok, bool first_may_be_minus_one = false) {
    if (ok || out.untouched()) return ok;
    if (first_may_be_minus_one && out.size() > 0 && out.data()[0] == T(-1)) {
        out.data()[0] = Buffer<T>::primed(0);
        if (out.untouched()) return ok;
    }
    fail(what, out.size());
}

// A model count getter: -1 when it fails, within the budget when it succeeds.
std::int32_t count_call(bool (*getter)(std::int32_t*), const Budget& budget, const char* what,
                        bool& ok) {
    Outputs o;
    std::int32_t* count = o.i32();
    ok = getter(count);
    o.check(ok, what, -1);
    if (ok) check_count(*count, budget, what);
    return ok ? *count : 0;
}

}  // namespace

void sweep_model(const Budget& budget) {
    {
        Outputs o;
        std::int32_t* version = o.i32();
        o.check(getResultsFileVersion(version), "file version", 0);
    }
    {
        Outputs o;
        std::int32_t *a = o.i32(), *b = o.i32(), *c = o.i32();
        o.check(getUnitSystem(a, b, c), "unit system");
    }
    {
        Outputs o;
        std::int32_t *a = o.i32(), *b = o.i32();
        o.check(getModelSymmetry(a, b), "symmetry");
    }
    {
        Outputs o;
        std::int32_t *a = o.i32(), *b = o.i32();
        o.check(getInputResultSwitches(a, b), "input result switches", 0);
    }
    hasParallelTaskInfo();
    {
        Outputs o;
        std::int32_t* tasks = o.i32();
        const bool ok = getParallelTaskInfoSize(tasks);
        o.check(ok, "parallel task information size");
        if (ok) {
            check_count(*tasks, budget, "parallel task information size");
            Buffer<std::int32_t> info(*tasks, budget, "parallel task information size");
            if (info.usable())
                array_call(info, "parallel task information",
                           getParallelTaskInformation(info.data()));
        }
    }

    bool loaded = false, ok = false;
    const std::int32_t s = count_call(get_NumStructuredParts, budget, "structured parts", loaded);
    const std::int32_t u = count_call(get_NumUnstructuredParts, budget, "unstructured parts", ok);
    if (ok != loaded) fail("part counts disagree on the model");
    const std::int32_t e = count_call(get_NumUnstructuredElements, budget, "elements", ok);
    const std::int32_t nodes = count_call(get_NumNodes, budget, "nodes", ok);
    count_call(get_NumUnstructuredNodes, budget, "unstructured nodes", ok);
    const std::int32_t steps = count_call(get_NumSteps, budget, "steps", ok);
    if (!loaded && (s || u || e || nodes)) fail("count without a model");
    {
        Outputs o;
        std::int32_t* all = o.i32();
        o.check(get_NumElements(all), "element total", -1);
    }
    const Blocks blocks = structured_blocks(budget);

    {
        Buffer<std::int32_t> cycles(std::int64_t(steps) + 1, budget, "step count");
        Buffer<float> times(std::int64_t(steps) + 1, budget, "step count");
        if (cycles.usable()) {
            const bool set = get_SetData(cycles.data(), times.data());
            array_call(cycles, "set data cycles", set, true);
            array_call(times, "set data times", set);
        }
    }

    // Parts: name, counts, and the two lists sized from those counts. A part
    // whose counts cannot be had gets arrays of none.
    for (std::int32_t p : around({s, std::int64_t(s) + u})) {
        Outputs o;
        std::int32_t *elements = o.i32(), *part_nodes = o.i32();
        char* name = o.text(35);
        const bool info = get_PartInfo(&p, elements, part_nodes, name);
        o.check(info, "part information");
        if (info) {
            check_count(*elements, budget, "part element count");
            check_count(*part_nodes, budget, "part node count");
        }
        Buffer<std::int32_t> ids(info ? *elements : 0, budget, "part element count");
        std::int32_t q = p;
        if (ids.usable()) {
            const bool listed = get_ElementPartConnectivity(&q, ids.data());
            array_call(ids, "part element list", listed);
            if (!listed && q != p && q != -1) fail("part element list: part argument", q);
        }
        Buffer<std::int32_t> node_ids(info ? *part_nodes : 0, budget, "part node count");
        q = p;
        if (node_ids.usable()) {
            const bool listed = get_NodePartConnectivity(&q, node_ids.data());
            array_call(node_ids, "part node list", listed);
            if (!listed && q != p && q != -1) fail("part node list: part argument", q);
        }
    }
    {
        Buffer<std::int32_t> rows(8 * std::int64_t(e), budget, "unstructured element count");
        if (rows.usable())
            array_call(rows, "connectivity", get_UnstructuredElementConnectivity(rows.data()));
        Buffer<std::int32_t> types(e, budget, "unstructured element count");
        if (types.usable()) array_call(types, "element types", get_ElementType(types.data()));
    }
    {
        // 3 N values, N = T + get_NumNodes; T is 0 when the extents are not known.
        Buffer<float> xyz(3 * (blocks.slots + nodes), budget, "node count");
        if (xyz.usable()) array_call(xyz, "coordinates", get_NodeCoordinates(xyz.data()));
    }

    // Materials.
    const std::int32_t materials = count_call(get_NumMaterials, budget, "materials", ok);
    std::vector<std::int32_t> ids = {-1, 0, 1};
    for (std::int32_t m : around({materials})) {
        {
            Outputs o;
            std::int32_t* q = o.i32(m);
            char* name = o.text(35);
            o.check(get_MaterialName(q, name), "material name", -1);
        }
        {
            Outputs o;
            char* body = o.text(256);
            o.check(getEulerMatFracBodyName(&m, body), "material body name");
        }
        {
            Outputs o;
            float* ratio = o.f32();
            o.check(getMaterialPoissonRatio(&m, ratio), "Poisson ratio");
        }
        {
            Outputs o;
            std::int32_t* id = o.i32();
            o.check_any_negative(getEulerMatFracIDforQVMaterial(&m, id), "material identifier");
            if (*id != Outputs::kPrimed) ids.push_back(*id);
        }
    }
    for (std::int32_t id : ids) {
        Outputs o;
        std::int32_t* m = o.i32();
        o.check(getQVMaterialforEulerMatFracID(&id, m), "material of identifier", -1);
    }

    // Element kinds, elements by external number and the numbering maps.
    {
        Outputs o;
        std::int32_t* kinds = o.i32();
        o.check(get_ZPnumElementTypes(kinds), "element kind count", -1);
    }
    for (std::int32_t t = -1; t <= 11; ++t) {
        Outputs o;
        std::int32_t* position = o.i32();
        o.check(get_ZPElementType(&t, position), "element kind position", 0);
    }
    for (std::int32_t x : around({e, nodes, blocks.slots + nodes})) {
        {
            Outputs o;
            std::int32_t* type = o.i32();
            Buffer<std::int32_t> row(8, budget, "element row");
            const bool found = get_ZPElement(&x, type, row.data());
            o.check(found, "element by number");
            array_call(row, "element row", found);
        }
        {
            Outputs o;
            std::int32_t* count = o.i32();
            const bool found = get_ZPElementNumNodes(&x, count);
            o.check(found, "element node count", 0);
            if (found && (*count < 0 || *count > 8)) fail("element node count out of range", *count);
        }
        for (auto* lookup : {getQuorvexElementNumber, getQuorvexNodeNumber}) {
            Outputs o;
            std::int32_t* number = o.i32();
            o.check(lookup(&x, number), "numbering lookup", -1);
        }
        {
            Outputs o;
            std::int32_t* partner = o.i32();
            o.check(getPyramidTetPairId(&x, partner), "pair partner", 0);
        }
    }
}

}  // namespace qvfuzz
