// Lookups in the constant variable catalogue.
#include "variables/catalogue.h"

namespace qv::variables {

const RealRow* real_row(int32_t code) {
    // Real rows hold codes 1..610, then 647..658, in order.
    constexpr int32_t kFirstGap = 611, kAfterGap = 647;
    if (code < 1 || code > kRealSlots || (code >= kFirstGap && code < kAfterGap)) return nullptr;
    const int index = code < kFirstGap ? code - 1 : code - 1 - (kAfterGap - kFirstGap);
    return index < kRealRowCount && kRealRows[index].code == code ? &kRealRows[index] : nullptr;
}

Exponents real_exponents(int32_t code) {
    const RealRow* r = real_row(code);
    return r ? Exponents{r->length, r->time, r->mass, r->temperature} : Exponents{0, 0, 0, 0};
}

std::int64_t real_variable_index(std::int32_t code) {
    if (code < 0) return -static_cast<std::int64_t>(code);
    return code == 0 ? 1 : 0;
}

std::int64_t integer_variable_index(std::int32_t code) {
    if (code < 0) return -static_cast<std::int64_t>(code);
    return code == 0 ? 1 : code;
}

}  // namespace qv::variables
