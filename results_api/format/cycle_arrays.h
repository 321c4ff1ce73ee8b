// Readers of the arrays stored in the current cycle file (the results unit):
// node and element arrays found through the result directory, displacements,
// material fractions, rigid body and joint data.
//
// Node and element arrays are read on demand. The store's read position
// remembers which directory entry's array the file was left behind (i in
// "<Node>", -i in "<Element>", 0 for none), so that real and layered integer
// arrays asked for in directory order are read in one forward pass; arrays
// between the position and the wanted one are skipped without inflating.
//
// Every reader returns a status. kReadOk means the wanted data were loaded;
// anything else means the destination holds nothing usable:
//   kArrayNotFound  no directory entry matches
//   kNoArrays       the cycle header says the section holds no arrays
//   kSectionMissing the section tag is not in the file
//   kUnitNotOpen    no cycle file is open on the results unit
//   kReadError      the section is damaged (truncated, counts that lie)
//   kInflateError   the records are intact but a zlib stream is corrupt
// After any status but kReadOk the destination is unallocated (for the
// rigid body and joint readers: both arrays are; the material fraction
// reader says below what it leaves), and the read position is 0, so that
// after a damaged section the next query starts again from the section tag.
#pragma once

#include <cstdint>

#include "format/compressed_array.h"
#include "format/record.h"
#include "runtime/alloc.h"

namespace qv::format {

inline constexpr int kArrayNotFound = 3;
inline constexpr int kNoArrays = 4;
inline constexpr int kSectionMissing = 5;
inline constexpr int kUnitNotOpen = 6;

// Object types of the node and element readers.
inline constexpr std::int32_t kNodeObject = 1;
inline constexpr std::int32_t kElementObject = 2;

// Variable code to the variable index a directory entry holds: -c gives c;
// a code of 0 or more is looked up in the family's code list (1-based
// position). Not in the list: index 0 for reals (it matches no entry), the
// code itself for integers.
std::int64_t real_variable_index(std::int32_t code);
std::int64_t integer_variable_index(std::int32_t code);

// Real array of the entry with that variable, |qualifier| == qualifier and
// kind 2 (nodes) or -2 (elements). Keeps the read position.
int read_real_array(std::int32_t object_type, std::int32_t code, std::int32_t qualifier,
                    runtime::Array<float>& dest);

// Integer array of kind 1 or -1, qualifier by absolute value. Always starts
// from the section tag and leaves the read position at 0.
int read_integer_array(std::int32_t object_type, std::int32_t code, std::int32_t qualifier,
                       runtime::Array<std::int32_t>& dest);

// Integer array of kind 1 or -1 whose qualifier equals signed_qualifier,
// sign included. Keeps the read position like the real reader.
int read_layered_integer_array(std::int32_t object_type, std::int32_t code,
                               std::int32_t signed_qualifier, runtime::Array<std::int32_t>& dest);

// Refreshes store().displacements. A cycle without displacements leaves the
// array released, so that a query fails rather than return the values of an
// earlier cycle.
int read_displacements();

// Refreshes the material fraction arrays (one per material, each with one
// value per structured slot) and the cover fraction array (element real
// array of variable index 155, |qualifier| 1), and sets the MMVars loaded
// flag. `status`: 0 "<MMVars>" read, 1 tag missing, 2 damaged. The result
// describes the material arrays: kReadOk, kNoArrays (the header says the
// section holds none) and kSectionMissing leave every material array
// allocated (zero where nothing was stored); kReadError leaves none
// allocated; kInflateError leaves the arrays of corrupt streams
// unallocated. A damaged cover fraction array turns an otherwise good
// result into its error; one that is not in the directory only shows as
// store().cover_fraction being unallocated.
int read_material_fractions(std::int32_t& status);

// Refresh the rigid body (joint) number and data arrays. `status`: 0 the
// section was read (with no arrays when the header says so: kNoArrays, both
// arrays released), 1 the tag is missing or no cycle file is open, 2 the
// section is damaged.
int read_rigid_body_data(std::int32_t& status);
int read_joint_data(std::int32_t& status);

}  // namespace qv::format
