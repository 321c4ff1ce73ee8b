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
#include "runtime/alloc.h"

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

// A text field of `width` characters (blank-primed, NUL-terminated) with a
// guard byte behind the terminator.
struct TextBuffer {
    explicit TextBuffer(std::size_t width) : chars(width + 2, ' '), width(width) {
        chars[width] = '\0';
        chars[width + 1] = '#';
    }
    char* data() { return chars.data(); }
    void check() const {
        if (chars[width] != '\0' || chars[width + 1] != '#') fail("text field overrun");
    }
    std::vector<char> chars;
    std::size_t width;
};

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
        std::fprintf(stderr, "results_api fuzz finding: allocation refused:%s\n", line);
        std::abort();
    });
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

Blocks structured_blocks(const Budget& budget) {
    Blocks b;
    std::int32_t s = -1;
    if (!get_NumStructuredParts(&s)) return b;
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
    }
    return b;
}

void sweep_model(const Budget& budget) {
    std::int32_t a = 0, b = 0, c = 0;
    getResultsFileVersion(&a);
    getUnitSystem(&a, &b, &c);
    getModelSymmetry(&a, &b);
    getInputResultSwitches(&a, &b);
    hasParallelTaskInfo();
    std::int32_t tasks = 0;
    getParallelTaskInfoSize(&tasks);
    {
        Buffer<std::int32_t> info(tasks, budget, "parallel task information size");
        if (info.usable()) getParallelTaskInformation(info.data());
    }

    std::int32_t s = 0, u = 0, e = 0, nodes = 0, steps = 0;
    const bool loaded = get_NumStructuredParts(&s);
    get_NumUnstructuredParts(&u);
    get_NumUnstructuredElements(&e);
    get_NumNodes(&nodes);
    get_NumSteps(&steps);
    if (!loaded) {
        // No model: every count fails with -1 and nothing below may succeed.
        if (s != -1 || u != -1 || e != -1 || nodes != -1) fail("count without a model");
        s = u = e = nodes = 0;
    }
    const Blocks blocks = structured_blocks(budget);

    {
        Buffer<std::int32_t> cycles(std::max(steps, 0) + 1, budget, "step count");
        Buffer<float> times(std::max(steps, 0) + 1, budget, "step count");
        if (cycles.usable()) get_SetData(cycles.data(), times.data());
    }

    // Parts: name, counts, and the two lists sized from those counts. A part
    // whose counts cannot be had gets arrays of none.
    for (std::int32_t p : around({s, std::int64_t(s) + u})) {
        std::int32_t elements = 0, part_nodes = 0;
        TextBuffer name(35);
        const bool info = get_PartInfo(&p, &elements, &part_nodes, name.data());
        name.check();
        if (info && (elements < 0 || part_nodes < 0)) fail("negative part count", p);
        Buffer<std::int32_t> ids(info ? elements : 0, budget, "part element count");
        std::int32_t q = p;
        if (ids.usable() && !get_ElementPartConnectivity(&q, ids.data()) && !ids.untouched())
            fail("failed element list query wrote", p);
        Buffer<std::int32_t> node_ids(info ? part_nodes : 0, budget, "part node count");
        q = p;
        if (node_ids.usable() && !get_NodePartConnectivity(&q, node_ids.data()) &&
            !node_ids.untouched())
            fail("failed node list query wrote", p);
    }
    {
        Buffer<std::int32_t> rows(8 * std::int64_t(e), budget, "unstructured element count");
        if (rows.usable()) get_UnstructuredElementConnectivity(rows.data());
        Buffer<std::int32_t> types(e, budget, "unstructured element count");
        if (types.usable()) get_ElementType(types.data());
    }
    {
        // 3 N values, N = T + get_NumNodes; T is 0 when the extents are not known.
        Buffer<float> xyz(3 * (blocks.slots + nodes), budget, "node count");
        if (xyz.usable()) get_NodeCoordinates(xyz.data());
    }

    // Materials.
    std::int32_t materials = 0;
    if (get_NumMaterials(&materials) && materials < 0) fail("negative material count");
    std::vector<std::int32_t> ids = {-1, 0, 1};
    for (std::int32_t m : around({materials})) {
        TextBuffer name(35), body(256);
        std::int32_t q = m;
        get_MaterialName(&q, name.data());
        name.check();
        getEulerMatFracBodyName(&m, body.data());
        body.check();
        float ratio = 0.0f;
        getMaterialPoissonRatio(&m, &ratio);
        std::int32_t id = 0;
        getEulerMatFracIDforQVMaterial(&m, &id);
        ids.push_back(id);
    }
    for (std::int32_t id : ids) {
        std::int32_t m = 0;
        getQVMaterialforEulerMatFracID(&id, &m);
    }

    // Element kinds, elements by external number and the numbering maps.
    std::int32_t kinds = 0;
    get_ZPnumElementTypes(&kinds);
    for (std::int32_t t = -1; t <= 11; ++t) {
        std::int32_t position = 0;
        get_ZPElementType(&t, &position);
    }
    for (std::int32_t x : around({e, nodes, blocks.slots + nodes})) {
        std::int32_t type = 0, row[9], count = 0, number = 0, partner = 0;
        row[8] = 12345;
        get_ZPElement(&x, &type, row);
        if (row[8] != 12345) fail("element query wrote past 8 entries", x);
        get_ZPElementNumNodes(&x, &count);
        if (count < 0 || count > 8) fail("element node count out of range", count);
        getQuorvexElementNumber(&x, &number);
        getQuorvexNodeNumber(&x, &number);
        getPyramidTetPairId(&x, &partner);
    }
}

}  // namespace qvfuzz
