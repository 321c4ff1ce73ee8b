// Analyses on disk for tests: base files (and, where a test wants them,
// cycle files) written by the fixture writer into a private directory.
#pragma once

#include <string>

#include "support/temp_dir.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvtest {

// A small model: one structured block of 3 x 2 x 2 nodes and one
// unstructured part of two hexahedra sharing a face, with numbering,
// unit system, symmetry, one pyramid/tetrahedron pair and two materials.
qvw::BaseFileSpec small_model();

// A model in which every kind of structured part lays its element values
// out differently, with multi-material values and unstructured elements:
//   part 1 PLANE   structured 1 x 3 x 2  (6 slots; I = 1, a plane)
//   part 2 CUBE    structured 3 x 3 x 3  (27 slots, 8 elements)
//   part 3 SLAB    structured 2 x 1 x 3  (6 slots, no cells)
//   part 4 SHEET   structured 1 x 2 x 2  (4 slots, a plane)
//   part 5 BRICKS  two hexahedra, part 6 SKIN one quadrilateral shell
// so T = 43 slots, 8 structured elements, 10 plane slots, 3 unstructured
// elements and 12 unstructured nodes. Materials WATER (Euler id 1), STEEL
// (-1: not reported) and AIR (0). SI units, so every value reads back as
// written. Node n (0-based, model node order) lies at (n, 2n, 3n).
qvw::BaseFileSpec mixed_model();

// Cycle c of the mixed model (time c / 1000 s). Its directory and values,
// with s the 0-based slot inside structured part P and e the 1-based
// unstructured element:
//   element real 64 PRESSURE, element integers 10 MATERIAL, 12 STATUS and
//   26 EROSION (qualifier 1), and element integer 40 SUBLAYER stored for
//   sublayer -1: slot 10000c + 1000P + s, element 10000c + 9000 + e;
//   element reals 54, 81, 83, 85, 86 TEMP, 87, 88, 89 (multi-material): in
//   each slot material m gives 10000c + 1000P + s + m / 4 and the slot's
//   own value 10000c + 1000P + s; element 10000c + 9000 + e;
//   node real 4 X-VELOCITY and node integer 26 EROSION: node n (0-based)
//   10000c + n; displacements of node n (c, n, -n); material m's fraction
//   m / 4 in every slot.
qvw::CycleFileSpec mixed_cycle(std::int32_t c);

// Writes `desc` as the newer-form base file of run `run` ("<run>.qvres_base")
// in `dir` and returns the path a host would name for it: the older-form
// base file name "<run>_base.qvres", which the loader resolves to the newer
// form first.
std::string write_base(const TempDir& dir, const qvw::BaseFileSpec& desc,
                       const std::string& run = "run");

}  // namespace qvtest
