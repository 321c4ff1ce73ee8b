// The VTK export of the million-node sample (qvres-sample --extents 100 100
// 100: 1,000,081 points, 970,334 cells, 12 cycles), as qvres-to-vtk runs it:
// with one thread and with one per core, compressed and raw. Each iteration
// writes every file into a fresh directory; the time is the export's wall
// time alone. Counters: output_MB, the bytes written. After the runs the
// speed-up of all threads over one and the compressed size over the raw
// size are printed.
//
// Run by hand: build/bench/vtk_export. QVRES_BENCH_DIR names a directory for
// the sample and the output (default: a new one under /tmp, removed at the
// end); it needs about 2.5 GB for the raw output. QVRES_BENCH_CYCLES: the
// sample's cycles (default 12).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "bench_support.h"
#include "host/console.h"
#include "host/results_library.h"
#include "to_vtk/export.h"

namespace {

namespace fs = std::filesystem;

struct Setup {
    qvbench::BenchDir dir{"qvres-vtk-bench"};
    std::unique_ptr<qvhost::ResultsLibrary> library;
    std::unique_ptr<qvhost::Analysis> analysis;

    Setup() {
        const std::string sample = dir.path() + "/sample";
        qvbench::million_node_sample(sample, 12);
        library = std::make_unique<qvhost::ResultsLibrary>();
        analysis = std::make_unique<qvhost::Analysis>(*library, sample);
    }
    ~Setup() { analysis.reset(); }
};

// Made by main before the runs and released after them.
std::unique_ptr<Setup> the_setup;
Setup& setup() { return *the_setup; }

// Best wall time and output size of each configuration, for the summary.
struct Result {
    double seconds = 0.0;
    double bytes = 0.0;
};
std::map<std::pair<unsigned, bool>, Result>& results() {
    static std::map<std::pair<unsigned, bool>, Result> r;
    return r;
}

unsigned all_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

void BM_Export(benchmark::State& state) {
    const unsigned threads = state.range(0) == 0 ? all_threads() : static_cast<unsigned>(state.range(0));
    const bool compress = state.range(1) != 0;
    Setup& s = setup();
    qvvtk::ExportOptions o;
    o.outdir = s.dir.path() + "/vtk";
    o.threads = threads;
    o.encoding.compress = compress;
    Result& best = results()[{threads, compress}];
    for (auto _ : state) {
        std::error_code ec;
        fs::remove_all(o.outdir, ec);
        const auto start = std::chrono::steady_clock::now();
        const qvvtk::ExportReport report = qvvtk::export_analysis(*s.analysis, o);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (best.seconds == 0.0 || seconds < best.seconds) best.seconds = seconds;
        best.bytes = static_cast<double>(report.bytes);
    }
    std::error_code ec;
    fs::remove_all(o.outdir, ec);
    state.counters["threads"] = threads;
    state.counters["output_MB"] = best.bytes / 1e6;
}

// Arguments: threads (0: one per core), compressed.
BENCHMARK(BM_Export)
    ->ArgNames({"threads", "compressed"})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({0, 0})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qvhost::keep_freed_memory();  // as the tool does
    try {
        the_setup = std::make_unique<Setup>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vtk_export: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto& r = results();
    const unsigned n = all_threads();
    for (const bool compress : {true, false}) {
        const auto one = r.find({1u, compress}), all = r.find({n, compress});
        if (one != r.end() && all != r.end() && all->second.seconds > 0.0)
            std::printf("%s: %u threads %.2fx as fast as 1 (%.2f s, %.2f s)\n", compress ? "compressed" : "raw", n,
                        one->second.seconds / all->second.seconds, one->second.seconds, all->second.seconds);
    }
    const auto packed = r.find({n, true}), raw = r.find({n, false});
    if (packed != r.end() && raw != r.end() && raw->second.bytes > 0.0)
        std::printf("compressed output %.1f MB = %.3f of the raw %.1f MB\n", packed->second.bytes / 1e6,
                    packed->second.bytes / raw->second.bytes, raw->second.bytes / 1e6);
    the_setup.reset();
    return 0;
}
