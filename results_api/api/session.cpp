// The session: start-up and clean-up, and selecting a registered cycle.
#include "api/session.h"

#include "api/naming.h"

#include "format/compressed_array.h"
#include "model/store.h"
#include "runtime/file_units.h"
#include "variables/catalogue.h"

namespace qv::api {

void startup() { variables::build_dictionary(); }

bool new_step(std::int32_t step) {
    if (step < 0 || step >= model::kMaxSteps) return false;
    const auto& steps = model::store().steps;
    // An index past the registered cycles names an empty entry, whose blank
    // name no file has: the open fails as for a missing file, and the model
    // is invalid until a cycle is opened.
    const std::string name =
        static_cast<std::size_t>(step) < steps.size() ? steps[step].file_name : std::string();
    return open_cycle_file(name);
}

void clean_up() {
    for (int u : {runtime::unit::kRegistration, runtime::unit::kResults, runtime::unit::kBase})
        runtime::close_unit(u);
    model::release_for_cleanup(model::store());
    format::release_skip_buffer();
}

}  // namespace qv::api
