// Analyses on disk for tests.
#include "support/analysis_files.h"

namespace qvtest {

qvw::BaseFileSpec small_model() {
    qvw::BaseFileSpec spec;
    spec.header = {5, 4};
    spec.parts.push_back(qvw::PartSpec::structured("BLOCK", 3, 2, 2));
    spec.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    spec.parts.back().node_ids = {1, 2, 3};  // stale: rebuilt from the connectivity
    // Twelve unstructured nodes behind the block's twelve.
    spec.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int n = 0; n < 24; ++n) {
        spec.coordinates.push_back(float(n));
        spec.coordinates.push_back(float(2 * n));
        spec.coordinates.push_back(float(3 * n));
    }
    spec.element_types = {1, 1};
    for (int n = 1; n <= 24; ++n) spec.node_numbers.push_back(100 + n);
    spec.element_numbers = {10, 20};
    spec.units[0] = 1;
    spec.units[1] = 3;
    spec.units[2] = 3;
    spec.symmetry[0] = 1;
    spec.symmetry[1] = 2;
    spec.pairs = {{10, 20}};
    spec.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", -1, "BODY-B", 0.0f}};
    return spec;
}

std::string write_base(const TempDir& dir, const qvw::BaseFileSpec& spec, const std::string& run) {
    qvw::write_base_file(spec).save(dir.file(run + ".qvres_base"));
    return dir.file(run + "_base.qvres");
}

}  // namespace qvtest
