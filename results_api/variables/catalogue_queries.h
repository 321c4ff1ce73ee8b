// What the catalogue says about a variable beyond its row: whether it is a
// multi-material variable, the vector or tensor it is a component of, and
// the lookup of a variable by any of its names. All of it is derived from
// the constant rows on demand: nothing is built or kept at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "variables/catalogue.h"

namespace qv::variables {

// Real element variables that carry one value per material and the slot's
// own value in every structured slot.
bool multi_material(std::int32_t variable);

enum class Group { none = 0, vector = 1, symmetric_tensor = 2 };

// The component group of a catalogue row.
//  - Vectors: three real rows whose names differ only in an axis letter X,
//    Y, Z standing as a word of its own before a '-' ("X-VELOCITY",
//    "EXT X-FORCE") or at the end after a blank ("DIRN X"), with equal
//    exponents; the name without the axis is the group name ("VELOCITY",
//    "EXT FORCE", "DIRN"). A name that is the axis alone has no group.
//  - Symmetric tensors: the real rows "STRESS", "STRAIN" and "STN.RATE"
//    followed by XX, YY, ZZ, XY, YZ, ZX, components 0..5 in that order
//    (VTK's XX, YY, ZZ, XY, YZ, XZ: the stored ZX is the XZ component).
// Where a name occurs twice the member is the row of the lower index; a row
// that is not the member its name finds belongs to no group.
struct Components {
    Group group = Group::none;
    std::int32_t component = 0;      // 0..2 or 0..5
    std::int32_t count = 0;          // 3 or 6 members, 0 for none
    std::int32_t members[6] = {};    // variable indices in component order
    char group_name[16] = {};        // NUL-terminated
};
Components components_of(std::int32_t real_code);

// A catalogue name as the lookup compares it: blanks, tabs, CR and LF at
// either end dropped, ASCII letters upper case, and '.', '_' and blanks all
// '_'. Returns the length written (at most `size` - 1, NUL-terminated); a
// longer name is cut, which no catalogue name is.
std::size_t normalised_name(std::string_view name, char* out, std::size_t size);

// The variable index of the row whose short name or identifier normalises
// to the same text as `name` (the display name does too: it only turns dots
// and inner blanks into '_'); the lowest index where several do; 0 when
// none does.
std::int32_t find_variable(bool real, std::string_view name);

// The row of an integer code, nullptr outside 1..kIntegerSlots.
const IntegerRow* integer_row(std::int32_t code);

}  // namespace qv::variables
