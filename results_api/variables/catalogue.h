#pragma once
// Built-in catalogue of the result variables the solver can store: the integer family
// (identifiers "IVI_...", codes 1..59) and the real family (identifiers "IVR_...", codes 1..658).
// A code means different variables in the two families; the caller always knows which applies.
// The catalogue is constant data: nothing is built at run time.

#include <cstddef>
#include <cstdint>

namespace qv::variables {

inline constexpr int kIntegerSlots = 59;
inline constexpr int kRealSlots = 658;

struct IntegerRow {
    int32_t code;
    const char* short_name;
    int32_t a1, a2;
    const char* identifier;
    const char* description;
};

struct RealRow {
    int32_t code;
    const char* short_name;
    int32_t a1, a2;
    int32_t length, time, mass, temperature;  // powers of the physical dimension
    int32_t a7, a8, a9, a10, a11, a12;
    const char* identifier;
    const char* description;
};

struct Exponents {
    int32_t length, time, mass, temperature;
};

// The constant rows, in code order (59 integer rows; 622 real rows: codes 1..610 and 647..658).
// Real slots 611..646 have no row.
extern const IntegerRow kIntegerRows[];
extern const int kIntegerRowCount;
extern const RealRow kRealRows[];
extern const int kRealRowCount;

// The row of a real code, nullptr for a code outside 1..slots or an empty slot.
const RealRow* real_row(int32_t code);
// The exponents of a real variable; all 0 for a code without a row.
Exponents real_exponents(int32_t code);

// Translation of a variable code to the variable index a result directory entry holds: -c
// gives c; a code of 0 or more is looked up in the family's code list, which holds no codes
// (every entry 0), so that code 0 gives index 1 (the first entry holding 0) and any other
// code is not found: index 0 for reals (it matches no entry), the code itself for integers.
std::int64_t real_variable_index(std::int32_t code);
std::int64_t integer_variable_index(std::int32_t code);

}  // namespace qv::variables
