// The small analysis the fuzz targets start from, written with the fixture
// writer: a 3 x 2 x 2 block with cells, a 1 x 2 x 2 plane, two hexahedra and
// a shell, three materials (one not reported), numbering, a pyramid/
// tetrahedron pair and parallel task information; and its cycle files, which
// store every kind of array: node and element values, a multi-material
// variable, the cover fraction, sublayers, displacements, material fractions,
// rigid bodies and joints.
#pragma once

#include <cstdint>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvfuzz {

qvw::BaseFileSpec seed_base();

// A cycle of the seed model with `header_words` header words: 6 stores every
// array in the single form, 7 the bulk arrays in chunks of `chunk_size`
// values, 8 the rigid body and joint arrays in chunks too.
qvw::CycleFileSpec seed_cycle(std::int32_t header_words, std::int32_t chunk_size = 4096);

}  // namespace qvfuzz
