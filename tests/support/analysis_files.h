// Analyses on disk for tests: base files (and, where a test wants them,
// cycle files) written by the fixture writer into a private directory.
#pragma once

#include <string>

#include "support/temp_dir.h"
#include "writer/base_file.h"

namespace qvtest {

// A small model: one structured block of 3 x 2 x 2 nodes and one
// unstructured part of two hexahedra sharing a face, with numbering,
// unit system, symmetry, one pyramid/tetrahedron pair and two materials.
qvw::BaseFileSpec small_model();

// Writes `desc` as the newer-form base file of run `run` ("<run>.qvres_base")
// in `dir` and returns the path a host would name for it: the older-form
// base file name "<run>_base.qvres", which the loader resolves to the newer
// form first.
std::string write_base(const TempDir& dir, const qvw::BaseFileSpec& desc,
                       const std::string& run = "run");

}  // namespace qvtest
