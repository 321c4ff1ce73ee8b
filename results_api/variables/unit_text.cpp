// Unit texts from dimension exponents.
#include "variables/unit_text.h"

namespace qv::variables {
namespace {

struct Named {
    Exponents e;  // length, time, mass, temperature
    const char* text;
};

constexpr Named kNamed[] = {
    {{1, 0, 0, 0}, "m"},        {{0, 1, 0, 0}, "s"},          {{0, 0, 1, 0}, "kg"},
    {{0, 0, 0, 1}, "K"},        {{2, 0, 0, 0}, "m^2"},        {{3, 0, 0, 0}, "m^3"},
    {{1, -1, 0, 0}, "m/s"},     {{1, -2, 0, 0}, "m/s^2"},     {{0, -1, 0, 0}, "1/s"},
    {{-3, 0, 1, 0}, "kg/m^3"},  {{-1, -2, 1, 0}, "Pa"},       {{1, -2, 1, 0}, "N"},
    {{2, -2, 1, 0}, "J"},       {{2, -3, 1, 0}, "W"},         {{2, -2, 0, 0}, "J/kg"},
    {{2, -2, 0, -1}, "J/(kg K)"}, {{1, -1, 1, 0}, "N s"},     {{0, -2, 1, 0}, "N/m"},
    {{1, -3, 1, -1}, "W/(m K)"}, {{-1, -2, 1, -1}, "Pa/K"},   {{-1, 0, 0, 1}, "K/m"},
    {{0, 0, -1, 0}, "1/kg"},    {{-1, 0, 0, 0}, "1/m"},
};

void append_power(std::string& out, const char* unit, int power) {
    if (power == 0) return;
    if (!out.empty()) out += ' ';
    out += unit;
    if (power != 1) out += "^" + std::to_string(power);
}

}  // namespace

std::string si_unit_text(const Exponents& e) {
    for (const Named& n : kNamed)
        if (n.e.length == e.length && n.e.time == e.time && n.e.mass == e.mass &&
            n.e.temperature == e.temperature)
            return n.text;
    std::string out;
    append_power(out, "kg", e.mass);
    append_power(out, "m", e.length);
    append_power(out, "s", e.time);
    append_power(out, "K", e.temperature);
    return out;
}

}  // namespace qv::variables
