#pragma once
// Built-in catalogue of the result variables the solver can store: the integer family
// (identifiers "IVI_...", codes 1..59) and the real family (identifiers "IVR_...", codes 1..658).
// A code means different variables in the two families; the caller always knows which applies.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::variables {

inline constexpr int kIntegerSlots = 59;
inline constexpr int kRealSlots = 658;
inline constexpr std::size_t kTextLength = 256;  // every catalogue text is a blank-padded field

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

// The dictionary built at start-up: per family a header table and a text table indexed by code
// (1-based), every text held as a kTextLength-character blank-padded field.
struct IntegerHeader {
    int32_t code;
    std::string short_name;  // kTextLength characters
    int32_t a1, a2;
};

struct RealHeader {
    int32_t code;
    std::string short_name;  // kTextLength characters
    int32_t a1, a2, length, time, mass, temperature, a7, a8, a9, a10, a11, a12;
};

struct Texts {
    std::string identifier, description;  // kTextLength characters each
};

// Fills every slot that has a row from that row only; slots without a row are left empty.
// Idempotent: a later call finds the same values in place and leaves the tables unchanged,
// so lookups running in other threads are never disturbed.
void build_dictionary();
bool dictionary_built();

// Lookups take the code unchanged. A code outside 1..slots, an empty slot, or any slot before
// build_dictionary gives an empty entry: code 0, all integers 0, and every text (short name,
// identifier, description) kTextLength blanks, as an untouched field is.
const IntegerHeader& integer_header(int32_t code);
const RealHeader& real_header(int32_t code);
const Texts& integer_texts(int32_t code);
const Texts& real_texts(int32_t code);
Exponents real_exponents(int32_t code);  // all 0 for an empty slot

// Code lists searched by the code translation of the result directory: one int32 per slot
// (index 0 = slot 1). The build never fills them, so every entry stays 0 for the whole process.
const int32_t* integer_code_list();  // kIntegerSlots entries
const int32_t* real_code_list();     // kRealSlots entries

}  // namespace qv::variables
