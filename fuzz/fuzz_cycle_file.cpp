// Fuzz target: the input is a cycle file of the seed analysis. The seed base
// file is loaded and the model sized as a host does before it selects a
// cycle; then the input is registered and opened, and every value query runs
// on it in both extraction modes, into arrays sized from the counts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "harness.h"
#include "results_api.h"
#include "seed_model.h"
#include "value_sweep.h"

namespace {

// The seed base file of run "seed" ("seed_run.qvres_base"), named as its
// older form, which has a run prefix: loading it in mode 1 registers the
// input, "seed_run_0001.qvres", when the scan can read it.
const qvw::FileWriter& base_file() {
    static const qvw::FileWriter file = qvw::write_base_file(qvfuzz::seed_base());
    return file;
}

std::uint64_t base_size() { return base_file().bytes().size(); }

const std::string& base_path() {
    static const std::string path = [] {
        base_file().save(qvfuzz::work_dir() + "/seed_run.qvres_base");
        return qvfuzz::work_dir() + "/seed_run_base.qvres";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::init_once();
    const std::string& base = base_path();
    const std::string cycle = qvfuzz::work_dir() + "/seed_run_0001.qvres";
    qvfuzz::write_file(cycle, data, size);
    // Counts in force come from the seed base file and from the input.
    const qvfuzz::Budget budget{base_size() + size};

    // The calling order of a host: the model, its cycles and its sizes first.
    const std::int32_t with_cycles = 1;
    if (!set_BaseFilename(&with_cycles, base.c_str(), qvfuzz::work_dir().c_str()))
        qvfuzz::fail("the seed base file does not load");
    const qvfuzz::ModelSizes sizes = qvfuzz::model_sizes(budget);
    std::int32_t steps = 0;
    get_NumSteps(&steps);

    const bool opened = set_ResultsFilename(cycle.c_str());
    qvfuzz::sweep_values(sizes, budget, opened);
    // Last: the element count query replaces the total the cycle stated.
    qvfuzz::sweep_model(budget);

    // A step past the registered ones fails, and nothing is served after it.
    if (set_newStep(&steps)) qvfuzz::fail("step past the registered cycles opened", steps);
    qvfuzz::sweep_values(sizes, budget, false);

    // Memory running out while the cycle is read: for one input in eight, a
    // limit the input picks (1 byte to 16 KB) refuses the library's larger
    // allocations; every call that needs one must fail and write nothing.
    if (size > 0 && data[size / 2] % 8 == 0) {
        const qvfuzz::Starved starved(std::size_t{data[size - 1]} * 64 + 1);
        qvfuzz::sweep_values(sizes, budget, set_ResultsFilename(cycle.c_str()));
    }
    resultsCleanUp();
    qvfuzz::finish_input();
    return 0;
}
