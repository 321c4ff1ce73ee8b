// Start-up build of the variable dictionary from the constant rows, and its lookups.
#include "variables/catalogue.h"

#include <array>
#include <atomic>
#include <mutex>

namespace qv::variables {
namespace {

std::string blank_field() { return std::string(kTextLength, ' '); }

// Copies a text into a blank-padded field of kTextLength characters (cut at kTextLength).
std::string padded(const char* text) {
    std::string field(text);
    field.resize(kTextLength, ' ');
    return field;
}

struct Dictionary {
    // Index 0 stands for every code without a slot and is never written: it is the empty entry.
    std::array<IntegerHeader, kIntegerSlots + 1> integer_headers;
    std::array<Texts, kIntegerSlots + 1> integer_texts;
    std::array<RealHeader, kRealSlots + 1> real_headers;
    std::array<Texts, kRealSlots + 1> real_texts;
    std::array<int32_t, kIntegerSlots> integer_codes{};
    std::array<int32_t, kRealSlots> real_codes{};
    std::mutex build_mutex;
    std::atomic<bool> built{false};

    Dictionary() {
        for (auto& h : integer_headers) h = IntegerHeader{0, blank_field(), 0, 0};
        for (auto& h : real_headers) h = RealHeader{0, blank_field(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        for (auto& t : integer_texts) t = Texts{blank_field(), blank_field()};
        for (auto& t : real_texts) t = Texts{blank_field(), blank_field()};
    }
};

// Constructed on first use, so lookups are safe from any static initialiser.
Dictionary& dictionary() {
    static Dictionary d;
    return d;
}

template <int Slots>
int slot_of(int32_t code) {
    return code >= 1 && code <= Slots ? code : 0;
}

}  // namespace

void build_dictionary() {
    Dictionary& d = dictionary();
    std::lock_guard<std::mutex> lock(d.build_mutex);
    if (d.built.load()) return;  // the tables already hold exactly what a rebuild would write

    for (int i = 0; i < kIntegerRowCount; ++i) {
        const IntegerRow& r = kIntegerRows[i];
        const int slot = slot_of<kIntegerSlots>(r.code);
        if (slot == 0) continue;
        d.integer_headers[slot] = IntegerHeader{r.code, padded(r.short_name), r.a1, r.a2};
        d.integer_texts[slot] = Texts{padded(r.identifier), padded(r.description)};
    }
    for (int i = 0; i < kRealRowCount; ++i) {
        const RealRow& r = kRealRows[i];
        const int slot = slot_of<kRealSlots>(r.code);
        if (slot == 0) continue;
        d.real_headers[slot] = RealHeader{r.code, padded(r.short_name), r.a1, r.a2, r.length,
                                          r.time, r.mass, r.temperature, r.a7, r.a8, r.a9,
                                          r.a10, r.a11, r.a12};
        d.real_texts[slot] = Texts{padded(r.identifier), padded(r.description)};
    }
    d.built.store(true);
}

bool dictionary_built() { return dictionary().built.load(); }

const IntegerHeader& integer_header(int32_t code) {
    return dictionary().integer_headers[slot_of<kIntegerSlots>(code)];
}

const RealHeader& real_header(int32_t code) {
    return dictionary().real_headers[slot_of<kRealSlots>(code)];
}

const Texts& integer_texts(int32_t code) {
    return dictionary().integer_texts[slot_of<kIntegerSlots>(code)];
}

const Texts& real_texts(int32_t code) {
    return dictionary().real_texts[slot_of<kRealSlots>(code)];
}

Exponents real_exponents(int32_t code) {
    const RealHeader& h = real_header(code);
    return Exponents{h.length, h.time, h.mass, h.temperature};
}

const int32_t* integer_code_list() { return dictionary().integer_codes.data(); }

const int32_t* real_code_list() { return dictionary().real_codes.data(); }

}  // namespace qv::variables
