// Readers of the arrays stored in an open cycle file: node and element
// arrays found through the result directory, displacements, material
// fractions, rigid body and joint data.
//
// Node and element arrays are read on demand: the first directory entry
// that matches is looked up, and its array reached from the nearest array
// start the reader's index (CycleReader::index) knows; arrays passed on the
// way are skipped without inflating, and their starts remembered. However
// the queries alternate between sections and entries, each array is passed
// over at most once and each section tag searched once per opened file.
// The read position says which entry's array a real or layered integer
// read loaded last.
//
// Every reader returns a status: ok means the wanted data were loaded;
// anything else means the destination holds nothing usable:
//   not_found       no directory entry matches
//   no_arrays       the cycle header says the section holds no arrays
//   section_missing the section tag is not in the file
//   not_open        the cycle file is not open
//   damaged         the section is damaged (truncated, counts that lie), or
//                   the file is cut before the section's tag
//   corrupt_stream  the records are intact but a zlib stream is corrupt
// After any status but ok the destination is unallocated (a kept buffer
// holds nothing; for the rigid body and joint readers: both arrays are; the
// material fraction reader says below what it leaves), and the read
// position is 0. The index keeps only array starts that were passed
// intact: damage is met again by every query that has to pass it.
#pragma once

#include <cstdint>

#include "format/cycle_file.h"
#include "runtime/alloc.h"

namespace qv::format {

// Object types of the node and element readers.
inline constexpr std::int32_t kNodeObject = 1;
inline constexpr std::int32_t kElementObject = 2;

// Real array of the entry with that variable, |qualifier| == qualifier and
// kind 2 (nodes) or -2 (elements). Keeps the read position. The value
// queries read into the cycle reader's kept buffer (CycleReader::values);
// the material fraction reader keeps the cover fraction in an array.
Status read_real_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                     std::int32_t qualifier, runtime::Array<float>& dest);
Status read_real_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                     std::int32_t qualifier, runtime::Buffer<float>& dest);

// Integer array of kind 1 or -1, qualifier by absolute value. Always starts
// from the section tag and leaves the read position at 0.
Status read_integer_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                        std::int32_t qualifier, runtime::Array<std::int32_t>& dest);

// Integer array of kind 1 or -1 whose qualifier equals signed_qualifier,
// sign included. Keeps the read position like the real reader.
Status read_layered_integer_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                                std::int32_t signed_qualifier, runtime::Array<std::int32_t>& dest);

// The displacements of the cycle; a cycle without them leaves `dest`
// released.
Status read_displacements(CycleReader& c, runtime::Buffer<float>& dest);

// Fills c.fractions once per cycle: one array per material (`materials`),
// each with one value per structured slot (`slots`), and the cover fraction
// array (element real array of variable index 155, |qualifier| 1). The
// result describes the material arrays: ok and no_arrays (the header says
// the section holds none) leave every material array allocated (zero where
// nothing was stored); section_missing and damaged leave none allocated;
// corrupt_stream leaves the arrays of corrupt streams unallocated. A
// damaged cover fraction array turns an otherwise good result into its
// error; one that is not in the directory only shows as the cover array
// being unallocated.
Status read_material_fractions(CycleReader& c, std::int64_t slots, std::int64_t materials);

// The rigid body (joint) number and data arrays. ok or no_arrays (both
// arrays released) when the section was read.
Status read_rigid_body_data(CycleReader& c, runtime::Array<std::int32_t>& numbers,
                          runtime::Array<float>& data);
Status read_joint_data(CycleReader& c, runtime::Array<std::int32_t>& numbers,
                     runtime::Array<float>& data);

}  // namespace qv::format
