// Fuzz target: the input is a base file. It is loaded as a host names it,
// then every model query runs on whatever the load left, before and after
// the clean-up.
#include <cstddef>
#include <cstdint>
#include <string>

#include "harness.h"
#include "results_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::init_once();
    const std::string& dir = qvfuzz::work_dir();
    qvfuzz::write_file(dir + "/run.qvres_base", data, size);
    // The older-form name resolves to the newer-form file just written.
    const std::int32_t model_only = 0;
    const std::string path = dir + "/run_base.qvres";
    const bool loaded = set_BaseFilename(&model_only, path.c_str(), dir.c_str());
    std::int32_t parts = 0;
    if (!loaded && get_NumStructuredParts(&parts)) qvfuzz::fail("failed load left a model");

    const qvfuzz::Budget budget{size};
    qvfuzz::sweep_model(budget);
    resultsCleanUp();
    qvfuzz::sweep_model(budget);
    qvfuzz::finish_input();
    return 0;
}
