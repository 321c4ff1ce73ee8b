// Analyses on disk for tests.
#include "support/analysis_files.h"

namespace qvtest {

qvw::BaseFileSpec small_model() {
    qvw::BaseFileSpec desc;
    desc.header = {5, 4};
    desc.parts.push_back(qvw::PartSpec::structured("BLOCK", 3, 2, 2));
    desc.parts.push_back(qvw::PartSpec::unstructured("BRICKS", {1, 2}));
    desc.parts.back().node_ids = {1, 2, 3};  // stale: rebuilt from the connectivity
    // Twelve unstructured nodes behind the block's twelve.
    desc.connectivity = {1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int n = 0; n < 24; ++n) {
        desc.coordinates.push_back(float(n));
        desc.coordinates.push_back(float(2 * n));
        desc.coordinates.push_back(float(3 * n));
    }
    desc.element_types = {1, 1};
    for (int n = 1; n <= 24; ++n) desc.node_numbers.push_back(100 + n);
    desc.element_numbers = {10, 20};
    desc.units[0] = 1;
    desc.units[1] = 3;
    desc.units[2] = 3;
    desc.symmetry[0] = 1;
    desc.symmetry[1] = 2;
    desc.pairs = {{10, 20}};
    desc.materials = {{"STEEL", 1, "BODY-A", 0.3f}, {"AIR", -1, "BODY-B", 0.0f}};
    return desc;
}

std::string write_base(const TempDir& dir, const qvw::BaseFileSpec& desc, const std::string& run) {
    qvw::write_base_file(desc).save(dir.file(run + ".qvres_base"));
    return dir.file(run + "_base.qvres");
}

}  // namespace qvtest
