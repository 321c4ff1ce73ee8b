// What the benchmarks of the million-node sample share: where the sample
// lives, its options, and the best time of each named run for the ratios
// printed after the runs.
#pragma once

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "sample/sample_analysis.h"

namespace qvbench {

// QVRES_BENCH_DIR, kept; or a new directory under /tmp, removed at the end.
class BenchDir {
public:
    explicit BenchDir(const std::string& stem) {
        if (const char* d = std::getenv("QVRES_BENCH_DIR"); d && *d) {
            path_ = d;
            return;
        }
        std::string name = "/tmp/" + stem + "-XXXXXX";
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a directory under /tmp");
        path_ = name;
        remove_ = true;
    }
    ~BenchDir() {
        std::error_code ec;
        if (remove_) std::filesystem::remove_all(path_, ec);
    }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool remove_ = false;
};

// The million-node sample (qvres-sample --extents 100 100 100: 1,000,081
// nodes, 970,334 elements), with QVRES_BENCH_CYCLES cycles (default
// `cycles`), written into `dir` unless it is there already.
inline void million_node_sample(const std::string& dir, int cycles) {
    qvsample::SampleOptions o;
    o.i = o.j = o.k = 100;
    o.cycles = cycles;
    if (const char* c = std::getenv("QVRES_BENCH_CYCLES"); c && *c) o.cycles = std::atoi(c);
    if (!std::filesystem::exists(dir + "/sample_run.qvres_base")) qvsample::write_sample_analysis(dir, o);
}

// The best wall time of each named run, over every iteration and
// repetition.
class BestTimes {
public:
    // Times `run` once per iteration; a run that returns false fails the
    // benchmark.
    template <class F>
    void time(benchmark::State& state, const std::string& name, F run) {
        double& fastest = best_[name];
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            if constexpr (std::is_same_v<decltype(run()), bool>) {
                if (!run()) {
                    state.SkipWithError("a call failed");
                    break;
                }
            } else {
                run();
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            state.SetIterationTime(seconds);
            if (fastest == 0.0 || seconds < fastest) fastest = seconds;
        }
    }
    bool has(const std::string& name) const { return best_.count(name) && best_.at(name) > 0.0; }
    double at(const std::string& name) const { return best_.at(name); }
    const std::map<std::string, double>& all() const { return best_; }

private:
    std::map<std::string, double> best_;
};

}  // namespace qvbench
