// Histories and peak maps of the million-node sample (qvres-sample
// --extents 100 100 100: 970,334 elements) against the floor: the pressure
// of every cycle read once by one thread through qvres_read_float. The
// history of 1, 100 and 10,000 elements and the peak map (the maximum of
// every element and its cycle) each on 1 and 2 threads, and the floor
// itself on 2 threads; after the runs the best time of each over the best
// floor time is printed.
//
// Run by hand: build/bench/series. QVRES_BENCH_DIR names a directory for
// the sample (default: a new one under /tmp, removed at the end);
// QVRES_BENCH_CYCLES its cycles (default 12).
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "qvres.h"

namespace {

const qvres_request kPressure = {QVRES_ELEMENT_REALS, 64, 1};

struct Setup {
    qvbench::BenchDir dir{"qvres-series-bench"};
    qvres_analysis* analysis = nullptr;
    std::int64_t cycles = 0;
    std::int64_t values = 0;  // pressure values per cycle
    qvbench::BestTimes best;

    Setup() {
        qvbench::million_node_sample(dir.path(), 12);
        qvres_error error{};
        if (qvres_open(dir.path().c_str(), nullptr, &analysis, &error) != QVRES_OK)
            throw std::runtime_error(error.message);
        qvres_model m{};
        qvres_get_model(analysis, &m, &error);
        cycles = m.cycles;
        qvres_reader* r = nullptr;
        if (qvres_reader_open(analysis, 0, &r, &error) != QVRES_OK ||
            qvres_count_values(r, &kPressure, &values, &error) != QVRES_OK) {
            qvres_reader_close(r);
            throw std::runtime_error(error.message);
        }
        qvres_reader_close(r);
    }
    ~Setup() { qvres_close(analysis); }
};

std::unique_ptr<Setup> the_setup;
Setup& setup() { return *the_setup; }

template <class F>
void timed(benchmark::State& state, const std::string& name, F run) {
    setup().best.time(state, name, run);
    state.counters["cycles"] = static_cast<double>(setup().cycles);
}

// Every cycle's pressure read once, one thread, one buffer.
void BM_Floor(benchmark::State& state) {
    const Setup& s = setup();
    std::vector<float> values(static_cast<std::size_t>(s.values));
    timed(state, "floor", [&] {
        for (std::int64_t c = 0; c < s.cycles; ++c) {
            qvres_reader* r = nullptr;
            qvres_error error{};
            const bool ok = qvres_reader_open(s.analysis, c, &r, &error) == QVRES_OK &&
                            qvres_read_float(r, &kPressure, values.data(), s.values, &error) == QVRES_OK;
            qvres_reader_close(r);
            if (!ok) return false;
            benchmark::DoNotOptimize(values.data());
        }
        return true;
    });
}

// The floor spread over two threads, each with its own buffer, taking
// cycles in turn: what the host's second core gives to work that only
// inflates. The two-thread figures are read against it; a host that keeps
// the second core busy raises it, and them.
void BM_FloorTwoThreads(benchmark::State& state) {
    const Setup& s = setup();
    std::vector<float> values[2] = {std::vector<float>(static_cast<std::size_t>(s.values)),
                                    std::vector<float>(static_cast<std::size_t>(s.values))};
    timed(state, "floor/2", [&] {
        std::atomic<std::int64_t> next{0};
        std::atomic<bool> ok{true};
        const auto work = [&](std::vector<float>& out) {
            for (std::int64_t c; (c = next.fetch_add(1)) < s.cycles;) {
                qvres_reader* r = nullptr;
                qvres_error error{};
                if (qvres_reader_open(s.analysis, c, &r, &error) != QVRES_OK ||
                    qvres_read_float(r, &kPressure, out.data(), s.values, &error) != QVRES_OK)
                    ok = false;
                qvres_reader_close(r);
                benchmark::DoNotOptimize(out.data());
            }
        };
        std::thread helper(work, std::ref(values[1]));
        work(values[0]);
        helper.join();
        return ok.load();
    });
}

qvres_series series_of(const Setup& s, const std::vector<std::int64_t>& positions, std::int32_t threads) {
    qvres_series q{};
    q.requests = &kPressure;
    q.request_count = 1;
    q.positions = positions.empty() ? nullptr : positions.data();
    q.position_count = static_cast<std::int64_t>(positions.size());
    q.by = QVRES_BY_VALUE;
    q.first_cycle = 0;
    q.last_cycle = s.cycles - 1;
    q.threads = threads;
    return q;
}

// The pressure history of n elements spread over the model.
void BM_History(benchmark::State& state) {
    const Setup& s = setup();
    const std::int64_t n = state.range(0);
    const auto threads = static_cast<std::int32_t>(state.range(1));
    std::vector<std::int64_t> positions(static_cast<std::size_t>(n));
    for (std::int64_t p = 0; p < n; ++p) positions[static_cast<std::size_t>(p)] = p * (s.values / n);
    const qvres_series q = series_of(s, positions, threads);
    std::vector<float> values(static_cast<std::size_t>(n * s.cycles));
    timed(state, "history " + std::to_string(n) + "/" + std::to_string(threads), [&] {
        qvres_error error{};
        return qvres_read_history_float(s.analysis, &q, values.data(), n * s.cycles, nullptr, 0, nullptr,
                                        &error) == QVRES_OK;
    });
}

// The peak pressure of every element and its cycle.
void BM_PeakMap(benchmark::State& state) {
    const Setup& s = setup();
    const auto threads = static_cast<std::int32_t>(state.range(0));
    const qvres_series q = series_of(s, {}, threads);
    std::vector<float> values(static_cast<std::size_t>(s.values));
    std::vector<std::int64_t> cycles(static_cast<std::size_t>(s.values));
    timed(state, "peak map/" + std::to_string(threads), [&] {
        qvres_error error{};
        return qvres_read_envelope(s.analysis, &q, QVRES_MAXIMUM, values.data(), cycles.data(), s.values,
                                   nullptr, 0, nullptr, &error) == QVRES_OK;
    });
}

BENCHMARK(BM_Floor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_FloorTwoThreads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_History)
    ->ArgNames({"elements", "threads"})
    ->ArgsProduct({{1, 100, 10000}, {1, 2}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_PeakMap)->ArgName("threads")->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        the_setup = std::make_unique<Setup>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "series: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const qvbench::BestTimes& r = setup().best;
    if (r.has("floor")) {
        const double floor = r.at("floor");
        std::printf("floor (%lld cycles, %lld values each, one thread): %.3f s\n",
                    static_cast<long long>(setup().cycles), static_cast<long long>(setup().values), floor);
        for (const auto& [name, seconds] : r.all())
            if (name != "floor") std::printf("%-20s %.3f s  %.3fx the floor\n", name.c_str(), seconds, seconds / floor);
    }
    the_setup.reset();
    return 0;
}
