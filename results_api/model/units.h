// Dimension codes and the unit exponent table: the power of ten that turns a
// value of a given physical dimension from the model's units into SI units.
#pragma once

#include <cstdint>

namespace qv::model {

// Code 1..28 of the dimension with these exponents of length, time, mass and
// temperature; 0 when no code has them (code 11 is never produced).
std::int32_t dimension_code(std::int32_t length, std::int32_t time, std::int32_t mass,
                            std::int32_t temperature);

// Fills entries 1..29 of `table` from the length, mass and time unit codes.
// Mass codes above 4 leave the table as it was.
void compute_unit_exponents(std::int32_t length_code, std::int32_t mass_code,
                            std::int32_t time_code, std::int32_t table[30]);

// Table entries of this size or more are markers of units that no power
// of ten converts, not exponents.
inline constexpr std::int32_t kUnitMarker = 100;

// The powers of ten that take the length, mass and time units of a decimal
// unit system (mass code below 4) to metres, kilograms and seconds; false,
// with `powers` untouched, for any other system.
bool decimal_unit_powers(const std::int32_t codes[3], std::int32_t powers[3]);

// 10 raised to an integer power in single precision.
float power_of_ten(std::int32_t exponent);

// The unit exponent table of a unit system (length, mass, time codes).
// A mass code above 4 leaves every entry 0.
struct UnitScale {
    std::int32_t exponents[30] = {};
    explicit UnitScale(const std::int32_t codes[3]) {
        compute_unit_exponents(codes[0], codes[1], codes[2], exponents);
    }
    // The SI factor of dimension code d: 1 for codes outside 1..28 and for
    // marker entries.
    float factor(std::int32_t code) const;
};

}  // namespace qv::model
