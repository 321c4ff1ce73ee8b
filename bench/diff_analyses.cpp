// qvres-diff of two copies of the million-node sample (qvres-sample
// --extents 100 100 100: 1,000,081 nodes, 970,334 elements), against
// reading every array of both once as 'qvres-to-vtk --read-only' does, with
// one thread per core. The comparison reads both analyses whole, so reading
// them is the floor; after the runs the best comparison time over the sum of
// the best read times is printed.
//
// Run by hand: build/bench/diff_analyses. QVRES_BENCH_DIR names a directory
// for the two copies (default: a new one under /tmp, removed at the end);
// QVRES_BENCH_CYCLES the cycles of the sample (default 6).
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "bench_support.h"
#include "diff/compare.h"
#include "host/console.h"
#include "host/results_library.h"
#include "to_vtk/export.h"

namespace {

namespace fs = std::filesystem;

struct Setup {
    qvbench::BenchDir dir{"qvres-diff-bench"};
    std::unique_ptr<qvhost::ResultsLibrary> library;
    std::unique_ptr<qvhost::Analysis> a, b;
    qvbench::BestTimes best;

    Setup() {
        const std::string first = dir.path() + "/a", second = dir.path() + "/b";
        qvbench::million_node_sample(first, 6);
        if (!fs::exists(second + "/sample_run.qvres_base"))
            fs::copy(first, second, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        library = std::make_unique<qvhost::ResultsLibrary>();
        a = std::make_unique<qvhost::Analysis>(*library, first);
        b = std::make_unique<qvhost::Analysis>(*library, second);
    }
    ~Setup() { a.reset(), b.reset(); }
};

std::unique_ptr<Setup> the_setup;
Setup& setup() { return *the_setup; }

template <class F>
void timed(benchmark::State& state, const std::string& name, F run) {
    setup().best.time(state, name, run);
    state.counters["cycles"] = static_cast<double>(setup().a->steps().size());
}

// Every array of one analysis read once, as 'qvres-to-vtk --read-only'.
void BM_ReadOnly(benchmark::State& state) {
    const qvhost::Analysis& analysis = state.range(0) == 0 ? *setup().a : *setup().b;
    timed(state, state.range(0) == 0 ? "read A" : "read B", [&] {
        const qvvtk::ExportReport r = qvvtk::export_analysis(analysis, qvvtk::ExportOptions{});
        benchmark::DoNotOptimize(r.steps);
    });
}

// The comparison as 'qvres-diff A B' runs it.
void BM_Diff(benchmark::State& state) {
    const Setup& s = setup();
    const qvdiff::Tolerances tolerances;
    timed(state, "diff", [&] {
        const qvdiff::ModelResult model = qvdiff::compare_models(*s.a, *s.b, tolerances);
        const auto pairs = qvdiff::match_cycles(s.a->steps(), s.b->steps(), qvdiff::Match::Time, 1e-6);
        const auto results = qvdiff::compare_cycles(*s.a, *s.b, pairs, tolerances, 0);
        if (!model.same() || results.size() != s.a->steps().size()) state.SkipWithError("the copies differ");
        benchmark::DoNotOptimize(results.data());
    });
}

BENCHMARK(BM_ReadOnly)->ArgName("analysis")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_Diff)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qvhost::keep_freed_memory();  // as the tools do
    try {
        the_setup = std::make_unique<Setup>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "diff_analyses: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const qvbench::BestTimes& r = setup().best;
    if (r.has("read A") && r.has("read B") && r.has("diff")) {
        const double read = r.at("read A") + r.at("read B");
        std::printf("%u threads: diff %.2f s, reading both %.2f s (%.2f + %.2f): %.2fx\n",
                    std::max(1u, std::thread::hardware_concurrency()), r.at("diff"), read, r.at("read A"),
                    r.at("read B"), r.at("diff") / read);
    }
    the_setup.reset();
    return 0;
}
