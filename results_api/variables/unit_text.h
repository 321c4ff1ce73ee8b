// The SI unit of a physical dimension, as text: a named unit where one fits
// ("Pa", "m/s", "kg/m^3", "J", "N", ...), else the product of base units
// with their powers ("m^-2 s^-2"); "" for a dimensionless quantity.
#pragma once

#include <string>

#include "variables/catalogue.h"

namespace qv::variables {

std::string si_unit_text(const Exponents& e);

}  // namespace qv::variables
