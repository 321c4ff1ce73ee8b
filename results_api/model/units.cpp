// Dimension codes and the unit exponent table.
#include "model/units.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>


namespace qv::model {
namespace {

struct Dimension {
    std::int32_t length, time, mass, temperature;
};

// Exponents of dimension codes 1..28; code 11 has no row of its own.
constexpr Dimension kDimensions[29] = {
    {0, 0, 0, 0},      // 0: unused
    {0, 0, 0, 0},      // 1 dimensionless
    {-3, 0, 1, 0},     // 2 density
    {-1, -2, 1, 0},    // 3 stress, pressure
    {2, -2, 0, 0},     // 4 specific energy
    {2, -2, 0, -1},    // 5 specific heat
    {-1, -2, 1, 99},   // 6 stress dimension, temperature exponent 99
    {1, -1, 0, 0},     // 7 velocity
    {1, 0, 0, 0},      // 8 length
    {0, 0, 0, 1},      // 9 temperature
    {3, 0, 0, 0},      // 10 volume
    {2, -2, 1, 0},     // 11 never produced; its table entry uses energy
    {1, -1, 1, 0},     // 12 momentum
    {1, -2, 1, 0},     // 13 force
    {0, -1, 0, 0},     // 14 rate
    {0, 0, 1, 0},      // 15 mass
    {2, -2, 1, 0},     // 16 energy, moment
    {0, -2, 1, 0},     // 17 force per length
    {-1, -4, 2, 0},    // 18
    {-1, 1, 0, 0},     // 19 time per length
    {-1, 0, 0, 0},     // 20 1 / length
    {2, 0, 1, 0},      // 21 mass x area
    {1, -3, 1, -1},    // 22 thermal conductivity
    {0, 1, 0, 0},      // 23 time
    {1, 2, -1, 0},     // 24 1 / stress
    {1, -2, 0, 0},     // 25 acceleration
    {4, 0, 0, 0},      // 26 length^4
    {2, 0, 0, 0},      // 27 area
    {-1, -2, 1, -1},   // 28 stress per temperature
};

std::int32_t length_exponent(std::int32_t length_code) {
    switch (length_code) {
    case -2: return -6;
    case 1: return -3;
    case 3: return 0;
    default: return -2;
    }
}

}  // namespace

std::int32_t dimension_code(std::int32_t length, std::int32_t time, std::int32_t mass,
                            std::int32_t temperature) {
    for (std::int32_t code = 1; code <= 28; ++code) {
        if (code == 11) continue;
        const Dimension& d = kDimensions[code];
        if (d.length == length && d.time == time && d.mass == mass &&
            d.temperature == temperature)
            return code;
    }
    return 0;
}

void compute_unit_exponents(std::int32_t length_code, std::int32_t mass_code,
                            std::int32_t time_code, std::int32_t table[30]) {
    // The codes come from the base file and may be anything: the exponents
    // are formed in 64 bits and saturated, so that a damaged code gives a
    // marker-sized entry instead of an overflow.
    const auto entry = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    const std::int64_t t = 3 * std::int64_t(time_code) - 9;
    if (mass_code < 4) {
        const std::int64_t l = length_exponent(length_code);
        const std::int64_t m = 3 * std::int64_t(mass_code) - 9;
        for (std::int32_t code = 1; code <= 28; ++code) {
            const Dimension& d = kDimensions[code];
            table[code] = entry(d.length * l + d.time * t + d.mass * m);
        }
        table[29] = entry(l);
        return;
    }
    if (mass_code > 4) return;

    // Mass code 4: fixed offsets around the time exponent.
    const std::int64_t b = length_code == 4 ? 100 : length_code == 5 ? 200 : 0;
    const std::int64_t a = t < 0 ? -t : t;
    auto s = [t](std::int64_t x) { return t >= 0 ? x : -x; };
    auto s_prime = [t](std::int64_t x) { return t <= 0 ? x : -x; };
    for (std::int32_t code : {3, 6, 8, 10, 11, 16, 17, 18, 20, 25, 26, 27, 28, 29})
        table[code] = entry(b);
    table[1] = table[9] = 0;
    table[2] = table[15] = table[21] = entry(s(b + 2 * a));
    table[4] = table[5] = entry(s_prime(b + 2 * a));
    table[7] = entry(s_prime(a + b));
    table[19] = entry(s(a + b));
    table[22] = entry(s(a + 100));
    table[12] = table[23] = entry(t);
    table[14] = entry(-t);
    table[13] = 100;
    table[24] = entry(-b);
}

bool decimal_unit_powers(const std::int32_t codes[3], std::int32_t powers[3]) {
    if (codes[1] >= 4) return false;
    std::int32_t table[30] = {};
    compute_unit_exponents(codes[0], codes[1], codes[2], table);
    // Dimension codes 8, 15 and 23: length, mass and time alone.
    powers[0] = table[8];
    powers[1] = table[15];
    powers[2] = table[23];
    return true;
}

float power_of_ten(std::int32_t exponent) {
    // Binary powering in single precision, the reciprocal for negative powers.
    float result = 1.0f;
    float base = 10.0f;
    std::int64_t n = exponent < 0 ? -std::int64_t(exponent) : exponent;
    while (n > 0) {
        if (n & 1) result *= base;
        base *= base;
        n >>= 1;
    }
    return exponent < 0 ? 1.0f / result : result;
}

float UnitScale::factor(std::int32_t code) const {
    if (code < 1 || code > 28) return 1.0f;
    const std::int32_t e = exponents[code];
    // Entries of 100 and more (mass code 4) mark units that no power of ten
    // converts; their values pass unconverted rather than overflow.
    if (e >= kUnitMarker || e <= -kUnitMarker) return 1.0f;
    return power_of_ten(e);
}

}  // namespace qv::model
