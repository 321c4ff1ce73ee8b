// A host session through the C interface only: analyses written by the
// fixture writer into a private directory, loaded with set_BaseFilename and
// opened with set_ResultsFilename. Every test starts from set_Startup and
// ends with resultsCleanUp, so no test sees the files of another.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "results_api.h"
#include "support/analysis_files.h"
#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvtest {

using Ints = std::vector<std::int32_t>;
using Floats = std::vector<float>;

class Session : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(set_Startup()); }
    void TearDown() override { resultsCleanUp(); }

    // Loads `desc` as the base file of run "run" (mode 0: no cycle scan).
    bool load(const qvw::BaseFileSpec& desc) {
        const std::int32_t mode = 0;
        const std::string path = write_base(dir_, desc);
        return set_BaseFilename(&mode, path.c_str(), dir_.path().c_str());
    }

    // Writes `desc` as cycle file `name` of the run and opens it as the
    // current cycle.
    bool open_cycle(const qvw::CycleFileSpec& desc, const std::string& name = "run_0001.qvres") {
        const std::string path = dir_.file(name);
        // Windows replaces no file that is still open: a failed open closes
        // the session's current cycle file before it is written again.
        const std::string none = dir_.file("no_such_cycle.qvres");
        set_ResultsFilename(none.c_str());
        qvw::write_cycle_file(desc).save(path);
        return set_ResultsFilename(path.c_str());
    }

    TempDir dir_;
};

// What a lookup export (one input, one output) returned and wrote.
struct Out {
    bool ok;
    std::int32_t value;
    bool operator==(const Out& o) const { return ok == o.ok && value == o.value; }
};
inline std::ostream& operator<<(std::ostream& os, const Out& o) {
    return os << (o.ok ? "true, " : "false, ") << o.value;
}
// The output starts at -7, so that an untouched output shows.
inline Out lookup(bool (*query)(const int32_t*, int32_t*), std::int32_t in) {
    std::int32_t value = -7;
    const bool ok = query(&in, &value);
    return {ok, value};
}
// A count query: the same for an output-only export.
inline Out count(bool (*query)(int32_t*)) {
    std::int32_t value = -7;
    const bool ok = query(&value);
    return {ok, value};
}

}  // namespace qvtest
