// Value queries on an analysis of a million nodes and elements, each next
// to the plain inflate of the payload it has to decompress, by zlib's
// uncompress (counter x_zlib) and by libdeflate with a decompressor kept
// for the whole payload (x_libdeflate), so that the cost of everything
// beyond inflating shows as a ratio. Then the registration of a run's cycle
// files (set_BaseFilename mode 1) at 2,000 and 100,000 files.
//
// The analysis: one block of 101 x 101 x 101 nodes (1,030,301 nodes,
// 1,000,000 elements) and a few hundred unstructured hexahedra; three
// cycles, two in the single form and one chunked. Each cycle stores four
// node real arrays, one node integer array, two element real arrays and the
// displacements.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <zlib.h>
#if RESULTS_API_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "results_api.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

constexpr std::int32_t kExtent = 101;
constexpr std::int32_t kBricks = 400;
constexpr std::int32_t kChunk = 1 << 16;
constexpr int kCycles = 3;

// Node real variables stored, in directory order.
constexpr std::int32_t kNodeVariables[] = {64, 4, 5, 6};

struct Payload {
    std::vector<qvw::Bytes> streams;  // one per chunk (one in the single form)
    std::size_t values = 0;
};

struct Analysis {
    std::string dir;
    std::string first_cycle;
    std::string small_dir, small_cycle;
    std::int64_t slots = 0, nodes = 0, elements = 0;
    // Payloads of cycle 0 (single form): node variable v, element pressure,
    // displacements.
    Payload node[4], element, displacement;
    Payload chunked_node;  // node variable 64 of the chunked cycle
    Payload moving;        // displacements of cycle 1 (those of cycle 0 are all 0)
};

float field(double x, double y, double z, double t) {
    const double r = (x - 0.3 * t) * (x - 0.3 * t) + 0.5 * y * y + 0.25 * z * z;
    return static_cast<float>(1.0e5 * std::exp(-r / 800.0) + 0.01 * z);
}

template <class T>
Payload payload_of(const std::vector<T>& values, bool chunked) {
    Payload p;
    p.values = values.size();
    if (!chunked) {
        p.streams.push_back(qvw::compress_values(values.data(), values.size()));
        return p;
    }
    for (std::size_t done = 0; done < values.size(); done += kChunk) {
        const std::size_t n = std::min<std::size_t>(kChunk, values.size() - done);
        p.streams.push_back(qvw::compress_values(values.data() + done, n));
    }
    return p;
}

qvw::BaseFileSpec base_spec(std::int32_t extent, std::int32_t bricks) {
    qvw::BaseFileSpec desc;
    desc.header = {5, 2};
    desc.units[0] = 1;  // millimetres, so that every real value is scaled
    desc.parts.push_back(qvw::PartSpec::structured("BLOCK", extent, extent, extent));
    std::vector<std::int32_t> rows;
    for (std::int32_t e = 1; e <= bricks; ++e) rows.push_back(e);
    desc.parts.push_back(qvw::PartSpec::unstructured("BRICKS", rows));
    const std::int64_t slots = std::int64_t(extent) * extent * extent;
    const std::int32_t unodes = 4 * (bricks + 1);
    for (std::int32_t e = 0; e < bricks; ++e)
        for (std::int32_t n = 1; n <= 8; ++n) desc.connectivity.push_back(4 * e + n);
    desc.coordinates.resize(3 * (slots + unodes));
    for (std::int64_t n = 0; n < slots + unodes; ++n) {
        desc.coordinates[3 * n] = float(n % extent);
        desc.coordinates[3 * n + 1] = float((n / extent) % extent);
        desc.coordinates[3 * n + 2] = float(n / (std::int64_t(extent) * extent));
    }
    desc.element_types.assign(bricks, 1);
    for (std::int32_t n = 1; n <= unodes; ++n) desc.node_numbers.push_back(n);
    desc.element_numbers = rows;
    desc.materials = {{"STEEL", 1, "", 0.3f}};
    return desc;
}

qvw::CycleFileSpec cycle_spec(std::int32_t extent, std::int32_t bricks, int cycle, bool chunked,
                              Analysis* keep) {
    const std::int64_t slots = std::int64_t(extent) * extent * extent;
    const std::int32_t unodes = 4 * (bricks + 1);
    const std::int64_t nodes = slots + unodes, elements = slots + bricks;
    const double t = cycle;
    qvw::CycleFileSpec desc;
    desc.header = chunked ? std::vector<std::int32_t>{1, 1, 1, 1, 0, 0, 1}
                          : std::vector<std::int32_t>{1, 1, 1, 1, 0, 0};
    desc.chunk_size = kChunk;
    desc.cycle = 1000 * (cycle + 1);
    desc.time = float(t);
    desc.structured_parts = {{extent, extent, extent}};
    desc.unstructured_parts = 1;
    desc.unstructured_nodes = unodes;
    desc.unstructured_elements = bricks;
    for (std::size_t v = 0; v < std::size(kNodeVariables); ++v) {
        std::vector<float> values(nodes + 2);
        values[0] = values[1] = 0.0f;
        for (std::int64_t n = 0; n < nodes; ++n)
            values[n + 2] = field(n % extent, (n / extent) % extent, n / (extent * extent),
                                  t + v);
        if (keep && !chunked && cycle == 0) keep->node[v] = payload_of(values, false);
        if (keep && chunked && v == 0) keep->chunked_node = payload_of(values, true);
        desc.entries.push_back(qvw::DirectoryEntrySpec::real(2, kNodeVariables[v], 1,
                                                             std::move(values)));
    }
    desc.entries.push_back(
        qvw::DirectoryEntrySpec::integer(1, 26, 1, std::vector<std::int32_t>(nodes + 2, 0)));
    for (std::int32_t variable : {64, 82}) {
        std::vector<float> values(elements + 2);
        for (std::int64_t e = 0; e < elements; ++e)
            values[e + 2] = field(e % extent, (e / extent) % extent, e / (extent * extent),
                                  t + variable);
        if (keep && !chunked && cycle == 0 && variable == 64)
            keep->element = payload_of(values, false);
        desc.entries.push_back(qvw::DirectoryEntrySpec::real(-2, variable, 1, std::move(values)));
    }
    std::vector<float> displacement(3 * nodes);
    for (std::int64_t n = 0; n < nodes; ++n) {
        displacement[3 * n] = 0.001f * float(n % 97) * float(cycle);
        displacement[3 * n + 1] = 0.0f;
        displacement[3 * n + 2] = -0.002f * float(cycle);
    }
    if (keep && !chunked)
        (cycle == 0 ? keep->displacement : keep->moving) = payload_of(displacement, false);
    desc.displacements = std::move(displacement);
    return desc;
}

Analysis& analysis() {
    static Analysis a = [] {
        Analysis made;
        // QVRES_BENCH_DIR keeps the analysis there (for timing the tools on
        // it); by default it lives in a temporary directory for this run.
        const char* keep = std::getenv("QVRES_BENCH_DIR");
        char pattern[] = "/tmp/qvres-bench-XXXXXX";
        made.dir = keep ? keep : mkdtemp(pattern);
        std::filesystem::create_directories(made.dir);
        made.small_dir = made.dir + "/small";
        std::filesystem::create_directory(made.small_dir);
        qvw::write_base_file(base_spec(kExtent, kBricks)).save(made.dir + "/big_cyc.qvres_base");
        for (int c = 0; c < kCycles; ++c) {
            const std::string name = made.dir + "/big_cyc_000" + std::to_string(c) + ".qvres";
            qvw::write_cycle_file(cycle_spec(kExtent, kBricks, c, c == 2, &made)).save(name);
            if (c == 0) made.first_cycle = name;
        }
        qvw::write_base_file(base_spec(5, 4)).save(made.small_dir + "/small_cyc.qvres_base");
        made.small_cycle = made.small_dir + "/small_cyc_0000.qvres";
        qvw::write_cycle_file(cycle_spec(5, 4, 0, false, nullptr)).save(made.small_cycle);
        made.slots = std::int64_t(kExtent) * kExtent * kExtent;
        made.nodes = made.slots + 4 * (kBricks + 1);
        made.elements = made.slots + kBricks;
        if (!keep) {
            // Constructed before the handler is registered, so destroyed after it ran.
            static const std::string removed_at_exit = made.dir;
            std::atexit([] {
                std::error_code ec;
                std::filesystem::remove_all(removed_at_exit, ec);
            });
        }
        return made;
    }();
    return a;
}

void open_big(benchmark::State& state, int cycle) {
    Analysis& a = analysis();
    const int32_t mode = 1;
    set_Startup();
    if (!set_BaseFilename(&mode, a.first_cycle.c_str(), a.dir.c_str())) {
        state.SkipWithError("the analysis did not load");
        return;
    }
    const int32_t step = cycle;
    if (!set_newStep(&step)) state.SkipWithError("the cycle did not open");
}

// The ratios are of the thread's CPU time (user and system, page faults
// included), so that other work on the machine does not distort them.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Inflates every stream of a payload into one buffer.
void inflate_payload(const Payload& p, std::vector<std::uint8_t>& out) {
    out.resize(4 * p.values);
    std::size_t at = 0;
    for (const qvw::Bytes& s : p.streams) {
        uLongf n = static_cast<uLongf>(out.size() - at);
        uncompress(out.data() + at, &n, s.data(), static_cast<uLong>(s.size()));
        at += n;
    }
}

#if RESULTS_API_HAVE_LIBDEFLATE
// The same with libdeflate, one decompressor for all streams.
void inflate_payload_libdeflate(const Payload& p, std::vector<std::uint8_t>& out) {
    out.resize(4 * p.values);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::size_t at = 0;
    for (const qvw::Bytes& s : p.streams) {
        std::size_t n = 0;
        if (libdeflate_zlib_decompress(d, s.data(), s.size(), out.data() + at, out.size() - at,
                                       &n) != LIBDEFLATE_SUCCESS)
            std::abort();
        at += n;
    }
    libdeflate_free_decompressor(d);
}
#endif

// CPU seconds to inflate every payload of `payloads` with `inflate`.
template <class Inflate>
double seconds_to_inflate(const std::vector<const Payload*>& payloads, Inflate inflate,
                          std::vector<std::uint8_t>& out) {
    double seconds = 0.0;
    for (const Payload* p : payloads) {
        const double t0 = cpu_seconds();
        inflate(*p, out);
        seconds += cpu_seconds() - t0;
    }
    return seconds;
}

// Runs `query` in the benchmark loop and, between its runs (timing paused),
// inflates `payloads` by zlib and by libdeflate. Reports the best query
// time over the best inflate time as "x_zlib" and "x_libdeflate": both best
// of the same number of runs made under the same load, which a busy machine
// would otherwise mix into one side only.
template <class Query>
void measure(benchmark::State& state, std::vector<const Payload*> payloads, Query query) {
    std::vector<std::uint8_t> out;
    double best_query = 1e30, by_zlib = 1e30, by_libdeflate = 1e30;
    for (auto _ : state) {
        const double t0 = cpu_seconds();
        if (!query()) {
            state.SkipWithError("the query failed");
            break;
        }
        best_query = std::min(best_query, cpu_seconds() - t0);
        state.PauseTiming();
        by_zlib = std::min(by_zlib, seconds_to_inflate(payloads, inflate_payload, out));
#if RESULTS_API_HAVE_LIBDEFLATE
        by_libdeflate =
            std::min(by_libdeflate, seconds_to_inflate(payloads, inflate_payload_libdeflate, out));
#endif
        state.ResumeTiming();
    }
    if (best_query >= 1e30) return;
    state.counters["x_zlib"] = best_query / by_zlib;
#if RESULTS_API_HAVE_LIBDEFLATE
    state.counters["x_libdeflate"] = best_query / by_libdeflate;
#endif
}

void BM_Inflate(benchmark::State& state) {
    Analysis& a = analysis();
    const Payload* p = state.range(0) == 0   ? &a.node[0]
                       : state.range(0) == 1 ? &a.element
                                             : &a.displacement;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        inflate_payload(*p, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(state.range(0) == 0 ? "node real" : state.range(0) == 1 ? "element real"
                                                                           : "displacements");
}
BENCHMARK(BM_Inflate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

#if RESULTS_API_HAVE_LIBDEFLATE
void BM_InflateLibdeflate(benchmark::State& state) {
    Analysis& a = analysis();
    const Payload* p = state.range(0) == 0   ? &a.node[0]
                       : state.range(0) == 1 ? &a.element
                                             : &a.displacement;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        inflate_payload_libdeflate(*p, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(state.range(0) == 0 ? "node real" : state.range(0) == 1 ? "element real"
                                                                           : "displacements");
}
BENCHMARK(BM_InflateLibdeflate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
#endif

// The first node array of the directory: nothing to skip.
void BM_FloatNodeValues(benchmark::State& state) {
    Analysis& a = analysis();
    open_big(state, 0);
    std::vector<float> out(a.nodes + 2);
    measure(state, {&a.node[0]}, [&] {
        int32_t variable = 64;
        const int32_t part = 1;
        return get_FloatNodeValues(&variable, &part, out.data());
    });
}
BENCHMARK(BM_FloatNodeValues)->Unit(benchmark::kMillisecond);

// The last node real array: three arrays in front of it are skipped.
void BM_FloatNodeValuesBehindThree(benchmark::State& state) {
    Analysis& a = analysis();
    open_big(state, 0);
    std::vector<float> out(a.nodes + 2);
    measure(state, {&a.node[3]}, [&] {
        int32_t variable = 6;
        const int32_t part = 1;
        return get_FloatNodeValues(&variable, &part, out.data());
    });
}
BENCHMARK(BM_FloatNodeValuesBehindThree)->Unit(benchmark::kMillisecond);

// The chunked cycle's first node array.
void BM_FloatNodeValuesChunked(benchmark::State& state) {
    Analysis& a = analysis();
    open_big(state, 2);
    std::vector<float> out(a.nodes + 2);
    measure(state, {&a.chunked_node}, [&] {
        int32_t variable = 64;
        const int32_t part = 1;
        return get_FloatNodeValues(&variable, &part, out.data());
    });
}
BENCHMARK(BM_FloatNodeValuesChunked)->Unit(benchmark::kMillisecond);

// All four node real arrays, in directory order (one forward pass) or in
// reverse (every query restarts from the section tag).
void BM_NodeArraysInOrder(benchmark::State& state) {
    Analysis& a = analysis();
    open_big(state, 0);
    const bool reverse = state.range(0) != 0;
    std::vector<float> out(a.nodes + 2);
    measure(state, {&a.node[0], &a.node[1], &a.node[2], &a.node[3]}, [&] {
        for (int k = 0; k < 4; ++k) {
            int32_t variable = kNodeVariables[reverse ? 3 - k : k];
            const int32_t part = 1;
            if (!get_FloatNodeValues(&variable, &part, out.data())) return false;
        }
        return true;
    });
    state.SetLabel(reverse ? "reverse directory order" : "directory order");
}
BENCHMARK(BM_NodeArraysInOrder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FloatElemValues(benchmark::State& state) {
    Analysis& a = analysis();
    open_big(state, 0);
    const int32_t mode = static_cast<int32_t>(state.range(0));
    setDataExtractionMode(&mode);
    std::vector<float> out(a.elements + a.slots + 2);
    measure(state, {&a.element}, [&] {
        int32_t variable = 64;
        const int32_t part = 1;
        return get_FloatElemValues(&variable, &part, out.data());
    });
    state.SetLabel(mode == 1 ? "mode 1: every slot" : "mode 0: element slots");
}
BENCHMARK(BM_FloatElemValues)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Cycle 0, whose displacements are all 0, and cycle 1.
void BM_NodeDisplacements(benchmark::State& state) {
    Analysis& a = analysis();
    const int cycle = static_cast<int>(state.range(0));
    open_big(state, cycle);
    std::vector<float> out(3 * a.nodes);
    measure(state, {cycle == 0 ? &a.displacement : &a.moving},
            [&] { return get_NodeDisplacements(out.data()); });
    state.SetLabel(cycle == 0 ? "cycle 0: all 0" : "cycle 1");
}
BENCHMARK(BM_NodeDisplacements)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Selecting a cycle reads its header and directory only: the same on the
// big analysis as on one of a few hundred nodes.
void BM_NewStep(benchmark::State& state) {
    Analysis& a = analysis();
    const bool big = state.range(0) != 0;
    const int32_t mode = 1;
    set_Startup();
    const std::string& cycle = big ? a.first_cycle : a.small_cycle;
    const std::string& dir = big ? a.dir : a.small_dir;
    if (!set_BaseFilename(&mode, cycle.c_str(), dir.c_str())) {
        state.SkipWithError("the analysis did not load");
        return;
    }
    const int32_t step = 0;
    for (auto _ : state)
        if (!set_newStep(&step)) state.SkipWithError("the cycle did not open");
    state.SetLabel(big ? "1M-node analysis" : "small analysis");
}
BENCHMARK(BM_NewStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A run of `files` tiny cycle files (a header and the "<Model>" section)
// beside a small base file, in a temporary directory, in memory (/dev/shm)
// where there is one: creating and removing 100,000 files on a disk takes
// minutes. The cycle times fall in the order the directory lists the files,
// the order the registration meets them in, so that every file goes before
// all registered so far.
struct RegistrationRun {
    std::string dir, named_cycle;
    std::vector<std::string> files;
};

const RegistrationRun& registration_run(int files) {
    static std::map<int, RegistrationRun> runs;
    auto found = runs.find(files);
    if (found != runs.end()) return found->second;
    RegistrationRun run;
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/qvres-bench-registration-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    run.dir = pattern;
    qvw::write_base_file(base_spec(2, 1)).save(run.dir + "/reg_cyc.qvres_base");
    char name[32];
    for (int f = 0; f < files; ++f) {
        std::snprintf(name, sizeof name, "/reg_cyc_%06d.qvres", f);
        std::FILE* touched = std::fopen((run.dir + name).c_str(), "wb");
        if (!touched) std::abort();
        std::fclose(touched);
    }
    std::vector<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(run.dir))
        if (entry.path().extension() == ".qvres") listed.push_back(entry.path().string());
    qvw::CycleFileSpec desc = cycle_spec(2, 1, 0, false, nullptr);
    desc.header = {1, 0, 0, 0, 0, 0};
    desc.entries.clear();
    desc.displacements.reset();
    desc.order = {qvw::CycleSection::Model};
    for (std::size_t k = 0; k < listed.size(); ++k) {
        desc.cycle = static_cast<std::int32_t>(listed.size() - k);
        desc.time = 1.0e-3f * static_cast<float>(listed.size() - k);
        qvw::write_cycle_file(desc).save(listed[k]);
    }
    run.named_cycle = listed.front();
    run.files = std::move(listed);
    if (runs.empty())
        std::atexit([] {
            for (const auto& entry : runs) {
                for (const std::string& f : entry.second.files) std::remove(f.c_str());
                std::error_code ec;
                std::filesystem::remove_all(entry.second.dir, ec);
            }
        });
    return runs.emplace(files, run).first->second;
}

// The CPU time of set_Startup and a mode-1 set_BaseFilename per cycle file
// ("us_per_file").
void BM_Registration(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const RegistrationRun& run = registration_run(files);
    const int32_t mode = 1;
    double total = 0.0;
    std::int64_t runs = 0;
    for (auto _ : state) {
        const double t0 = cpu_seconds();
        set_Startup();
        const bool loaded = set_BaseFilename(&mode, run.named_cycle.c_str(), run.dir.c_str());
        total += cpu_seconds() - t0;
        ++runs;
        int32_t steps = 0;
        get_NumSteps(&steps);
        resultsCleanUp();
        if (!loaded || steps != files) {
            state.SkipWithError("not every cycle file was registered");
            break;
        }
    }
    if (runs > 0) state.counters["us_per_file"] = 1.0e6 * total / double(runs) / files;
}
BENCHMARK(BM_Registration)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Registration)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
