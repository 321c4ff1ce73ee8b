// What the fuzz targets share: a private directory for the files they write,
// the set-up of the library under test, caller buffers sized from the count
// queries, and the sweep of model queries a host makes after a load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvfuzz {

// Allocations of the library above this many bytes take the allocation
// failure path, whose line the harness reports as a finding before it
// aborts: nothing a damaged file holds may push the library that far. (The
// library itself would only fail the call, which a fuzzer cannot see.)
inline constexpr std::size_t kAllocationLimit = std::size_t(64) << 20;

// Once per process: the allocation limit and the sink that turns a refused
// allocation into a finding.
void init_once();

// A private directory, created on first use and removed at exit.
const std::string& work_dir();
// Writes `size` bytes to `path`, replacing any file.
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

// Reports a broken promise of the library and aborts.
[[noreturn]] void fail(const char* what, long long value = 0);

// What the counts of a load are checked against: with `justify`, a count
// whose caller array would exceed what `bytes` of input could describe
// (every value of an array comes from a zlib stream, at most 1032 bytes out
// per byte in) is a finding. Without it, as for the node count a cycle file
// states (a cycle may store no node array at all), such arrays are skipped.
struct Budget {
    std::size_t bytes = 0;
    bool justify = true;
    // Larger arrays are not allocated (the harness fills and checks each).
    std::int64_t max_values = std::int64_t(1) << 24;
    std::int64_t justified_values() const { return 1032 * std::int64_t(bytes) + 65536; }
};

// A caller array of exactly `count` values, allocated on its own so that the
// address sanitizer sees the first value written past it. Counts beyond what
// the harness allocates are refused (usable() false): when the budget could
// not justify them the harness fails.
template <class T>
class Buffer {
public:
    Buffer(std::int64_t count, const Budget& budget, const char* what) {
        if (count < 0) fail(what, count);
        if (count > budget.max_values) {
            if (budget.justify && count > budget.justified_values()) fail(what, count);
            return;
        }
        count_ = count;
        values_.reset(new T[static_cast<std::size_t>(count)]);
        fill();
    }
    bool usable() const { return values_ != nullptr; }
    T* data() { return values_.get(); }
    std::int64_t size() const { return count_; }
    // A pattern no query writes by chance, so that untouched() can tell
    // whether a failing query left the array as it was.
    void fill() {
        for (std::int64_t i = 0; i < count_; ++i) values_[i] = pattern(i);
    }
    bool untouched() const {
        for (std::int64_t i = 0; i < count_; ++i)
            if (!(values_[i] == pattern(i))) return false;
        return true;
    }

private:
    static T pattern(std::int64_t i) { return static_cast<T>(-7777 - (i & 63)); }
    std::unique_ptr<T[]> values_;
    std::int64_t count_ = 0;
};

// Indices around a count: below, at and past both ends.
std::vector<std::int32_t> around(std::initializer_list<std::int64_t> counts);

// Sizes of the structured parts as get_NumStructuredNodes gives them.
struct Blocks {
    bool known = false;
    std::int64_t parts = 0;
    std::int64_t slots = 0;        // T: I*J*K summed
    std::int64_t cells = 0;        // (I-1)(J-1)(K-1) over parts with cells
    std::int64_t plane_slots = 0;  // J*K over parts with I = 1
};
Blocks structured_blocks(const Budget& budget);

// Every model query on what the last load left: attributes, counts, parts,
// connectivity, element kinds, numbering lookups and materials, with output
// arrays sized from the count queries. Aborts on a broken promise.
void sweep_model(const Budget& budget);

}  // namespace qvfuzz
