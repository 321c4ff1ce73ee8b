// Exports of the session: start-up, naming an analysis, selecting cycles,
// the extraction mode and the clean-up.
#include "results_api.h"

#include "api/export_guard.h"
#include "api/session.h"

using qv::api::given;
using qv::api::guarded;

extern "C" {

// The variable catalogue is constant data: there is nothing to build.
RESULTS_API_EXPORT bool RESULTS_API_CALL set_Startup(void) { return true; }

RESULTS_API_EXPORT bool RESULTS_API_CALL set_BaseFilename(const int32_t* mode, const char* path,
                                                          const char* directory) {
    if (!given(mode, path, directory)) return false;
    const int32_t m = *mode;
    return guarded([&] { return qv::api::set_base_filename(m, path, directory); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL set_ResultsFilename(const char* path) {
    if (!path || !*path) return false;
    return guarded([&] { return qv::api::set_results_filename(path); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL set_newStep(const int32_t* step) {
    if (!step) return false;
    const int32_t k = *step;
    return guarded([&] { return qv::api::new_step(k); });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL resultsCleanUp(void) {
    return guarded([] {
        qv::api::clean_up();
        return true;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL setDataExtractionMode(const int32_t* mode) {
    if (!mode) return false;
    qv::api::session().extraction_mode = *mode;
    return true;
}

}  // extern "C"
