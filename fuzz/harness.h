// What the fuzz targets share: a private directory for the files they write,
// the set-up of the library under test, caller buffers sized from the count
// queries, and the sweep of model queries a host makes after a load.
#pragma once

#include <algorithm>
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

// Memory running out: while one lives, the library's allocations above
// `bytes` are refused (not findings) and the calls that need them must fail
// cleanly.
class Starved {
public:
    explicit Starved(std::size_t bytes);
    ~Starved();
    Starved(const Starved&) = delete;
    Starved& operator=(const Starved&) = delete;
};

// The end of an input: drops whatever model the exports hold (a load that
// fails drops it whole; the clean-up keeps counts and coordinates) and the
// caller arrays kept for reuse, so that every execution frees what it
// allocates and libFuzzer's leak check does not run the input again.
void finish_input();

// A private directory, created on first use and removed at exit.
const std::string& work_dir();
// Writes `size` bytes to `path`, replacing any file.
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

// Reports a broken promise of the library and aborts.
[[noreturn]] void fail(const char* what, long long value = 0);

// The promise every count is held to: a successful call reports no count
// larger than the library's own bound for the input's bytes (every value a
// file describes comes from a zlib stream, which gives at most 1032 bytes
// out per byte in), with no allowance below which counts are free.
struct Budget {
    std::uint64_t bytes = 0;
    std::int64_t values() const;
    // The largest caller array the harness allocates: what a host sizes from
    // counts within the budget (eight node numbers per element). Larger
    // arrays are products of counts (materials times slots) no file of this
    // size can fill; their queries are skipped.
    std::int64_t cap() const { return 8 * values() + 16; }
};

// A count reported by a successful call: negative or beyond the budget is a
// finding.
void check_count(std::int64_t count, const Budget& budget, const char* what);

// Scalar and text outputs of one call: primed with values no call gives,
// then, when the call failed, each must be as primed or hold the value the
// interface documents for a failure (-1 into counts and in/out arguments, 0
// into some others).
class Outputs {
public:
    static constexpr std::int32_t kPrimed = -987654321;
    std::int32_t* i32(std::int32_t value = kPrimed);
    float* f32();
    char* text(std::size_t width);
    // A failed call may have written `allowed` into the int32 outputs named
    // in `which` (bit n for the n-th int32 output; all by default).
    void check(bool ok, const char* what, std::int32_t allowed = kPrimed,
               unsigned which = ~0u);
    void check_any_negative(bool ok, const char* what);

private:
    struct Int {
        std::int32_t value, primed;
    };
    std::vector<std::unique_ptr<Int>> ints_;
    std::vector<std::unique_ptr<float>> floats_;
    std::vector<std::vector<char>> texts_;
};

// A caller array of exactly `count` values, allocated on its own so that the
// address sanitizer sees the first value written past it. Arrays beyond the
// budget's cap are not allocated (usable() false). Arrays are kept for
// reuse by the next one of the same size: a sweep asks for the same few
// sizes hundreds of times.
template <class T>
class Buffer {
public:
    Buffer(std::int64_t count, const Budget& budget, const char* what) {
        if (count < 0) fail(what, count);
        if (count > budget.cap()) return;
        count_ = count;
        values_ = take(count);
        fill();
    }
    ~Buffer() { give(std::move(values_), count_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    static void release_kept() { kept().clear(); }

    bool usable() const { return values_ != nullptr; }
    T* data() { return values_.get(); }
    std::int64_t size() const { return count_; }
    // A pattern no query writes by chance, so that untouched() can tell
    // whether a failing query left the array as it was.
    void fill() {
        const T* p = pattern(count_);
        std::copy(p, p + count_, values_.get());
    }
    bool untouched() const {
        return std::equal(values_.get(), values_.get() + count_, pattern(count_));
    }
    static T primed(std::int64_t i) { return static_cast<T>(-7777 - (i & 63)); }

private:
    struct Kept {
        std::int64_t count;
        std::unique_ptr<T[]> values;
    };
    static constexpr std::size_t kKept = 8;
    static constexpr std::int64_t kLargestKept = std::int64_t(1) << 20;
    static std::vector<Kept>& kept() {
        static std::vector<Kept> arrays;
        return arrays;
    }
    static std::unique_ptr<T[]> take(std::int64_t count) {
        auto& k = kept();
        for (auto it = k.begin(); it != k.end(); ++it)
            if (it->count == count) {
                std::unique_ptr<T[]> values = std::move(it->values);
                k.erase(it);
                return values;
            }
        return std::unique_ptr<T[]>(new T[static_cast<std::size_t>(count)]);
    }
    static void give(std::unique_ptr<T[]> values, std::int64_t count) {
        if (!values || count > kLargestKept) return;
        auto& k = kept();
        if (k.size() == kKept) k.erase(k.begin());
        k.push_back(Kept{count, std::move(values)});
    }
    // One shared run of the pattern, grown to the largest array asked for.
    static const T* pattern(std::int64_t count) {
        static std::vector<T> run;
        for (std::int64_t i = static_cast<std::int64_t>(run.size()); i < count; ++i)
            run.push_back(primed(i));
        return run.data();
    }
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
