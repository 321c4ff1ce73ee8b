// Models made from fuzzer bytes: a base file and one to three cycle files of
// one run, written with the fixture writer. The front of the input decides
// the shape (blocks, element kinds, materials, numberings, directory
// entries, framing, counts that disagree); the values stored in the arrays
// are the input's own bytes read from its back, four to a value, so that
// array contents get every bit pattern (NaN, infinities, denormals, material
// numbers and statuses out of range). Every byte string decodes to a model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace qvfuzz {

// Decisions taken from the front of the input, one byte at a time; past
// the end every decision takes its default (the first choice, or 0).
class ByteCursor {
public:
    ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A value in lo..hi (at most 256 of them), from one byte.
    std::int32_t range(std::int32_t lo, std::int32_t hi) {
        return lo + static_cast<std::int32_t>(byte() % static_cast<unsigned>(hi - lo + 1));
    }
    // True with probability n/256 (false past the end).
    bool chance(unsigned n) { return byte() < n; }
    std::int32_t i32() {
        std::uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u = (u << 8) | byte();
        return static_cast<std::int32_t>(u);
    }
    template <class T>
    T pick(std::initializer_list<T> choices) {
        return choices.begin()[byte() % choices.size()];
    }
    std::size_t position() const { return pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Array values: four input bytes each, taken backwards from the end of the
// input and starting over at the end when they run out; zeros for an empty
// input.
class ValueSource {
public:
    ValueSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t bits();
    std::int32_t i32() { return static_cast<std::int32_t>(bits()); }
    float f32();

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t taken_ = 0;
};

struct GeneratedRun {
    qvw::BaseFileSpec base;
    std::vector<qvw::CycleFileSpec> cycles;  // 1..3
    bool name_a_cycle = false;     // the host names a cycle file, else the base file
    std::int32_t open_kind = 0;    // libqvres opens 0 the base file, 1 a cycle, 2 the directory
    std::int32_t prefix_rule = 1;  // libqvres' rule for finding cycle files
    // How many counts, lengths and headers were made to disagree on purpose.
    std::int32_t disagreements = 0;
};

GeneratedRun generate_run(const std::uint8_t* data, std::size_t size);

}  // namespace qvfuzz
