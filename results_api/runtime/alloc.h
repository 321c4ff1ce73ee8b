// Typed allocation: 1-based arrays, blank-initialised texts and one failure
// path for running out of memory.
//
// Counts read from a file are checked against the file before they reach
// allocate(); the failure path is for a machine out of memory, never for a
// damaged file. It never ends the process: a failed allocation writes its
// numbered "memalloc" line and throws OutOfMemory, a std::bad_alloc, the
// same exception the std containers throw. Whatever operation met it fails
// as a whole at the library's boundary and leaves nothing half-built
// behind.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qv::runtime {

// A fixed-length text field, blank-padded, no terminator.
template <std::size_t N>
struct Text {
    char chars[N];
    Text() { std::memset(chars, ' ', N); }
    explicit Text(std::string_view s) : Text() { assign(s); }
    void assign(std::string_view s) {
        std::memset(chars, ' ', N);
        std::memcpy(chars, s.data(), std::min(N, s.size()));
    }
    std::string_view view() const { return std::string_view(chars, N); }
    // The text without its trailing blanks.
    std::string trimmed() const {
        std::size_t n = N;
        while (n > 0 && chars[n - 1] == ' ') --n;
        return std::string(chars, n);
    }
    bool operator==(const Text& o) const { return std::memcmp(chars, o.chars, N) == 0; }
};
using Text35 = Text<35>;
using Text50 = Text<50>;
using Text256 = Text<256>;

// The number each allocation variant prints in its failure line.
template <class T> struct Variant { static constexpr int rank1 = 12, rank2 = 16; };
template <> struct Variant<Text35> { static constexpr int rank1 = 1, rank2 = 1; };
template <> struct Variant<Text50> { static constexpr int rank1 = 2, rank2 = 1; };
template <> struct Variant<Text256> { static constexpr int rank1 = 7, rank2 = 9; };
template <> struct Variant<std::uint8_t> { static constexpr int rank1 = 3, rank2 = 4; };
template <> struct Variant<std::int16_t> { static constexpr int rank1 = 6, rank2 = 10; };
template <> struct Variant<std::int32_t> { static constexpr int rank1 = 8, rank2 = 17; };
template <> struct Variant<float> { static constexpr int rank1 = 18, rank2 = 20; };
template <> struct Variant<double> { static constexpr int rank1 = 21, rank2 = 22; };

// What a failed allocation throws.
struct OutOfMemory : std::bad_alloc {
    const char* what() const noexcept override { return "out of memory"; }
};

// Reports a failed allocation with its numbered line and throws OutOfMemory.
[[noreturn]] void allocation_failed(std::initializer_list<std::int64_t> extents, int variant,
                                    int status);
// Whether n elements of `size` bytes may be reserved (overflow and the
// limit below); allocations that may not fail as if memory ran out.
bool allocation_allowed(std::int64_t n, std::size_t size);
// The most bytes one allocation may take, 0 for no limit, and where the
// "memalloc" line of a failed allocation goes (nullptr: standard error).
// The libraries have no limit and no sink (runtime/alloc_limit.cpp); the
// tests and fuzz targets of the failure path link definitions of their own
// that they can set (tests/support/allocation_limit.cpp), so no setting
// ships.
std::size_t allocation_limit();
using AllocationSink = void (*)(const char* line);
AllocationSink allocation_sink();

// A rank-1 array with 1-based indices. Not allocated until allocate() runs;
// release() empties it and may run any number of times.
template <class T>
class Array {
public:
    bool allocated() const { return allocated_; }
    std::int64_t size() const { return static_cast<std::int64_t>(values_.size()); }
    bool empty() const { return values_.empty(); }
    bool contains(std::int64_t i) const { return i >= 1 && i <= size(); }
    T& operator()(std::int64_t i) { return values_[static_cast<std::size_t>(i - 1)]; }
    const T& operator()(std::int64_t i) const { return values_[static_cast<std::size_t>(i - 1)]; }
    T* data() { return values_.data(); }
    const T* data() const { return values_.data(); }
    T* begin() { return values_.data(); }
    T* end() { return values_.data() + values_.size(); }
    const T* begin() const { return values_.data(); }
    const T* end() const { return values_.data() + values_.size(); }
    // Drops entries beyond n (never grows).
    void shrink_to(std::int64_t n) {
        if (n >= 0 && n < size()) values_.resize(static_cast<std::size_t>(n));
    }

    template <class U> friend bool reserve(Array<U>&, std::int64_t);
    template <class U> friend void grow(Array<U>&, std::int64_t, std::int64_t);
    template <class U> friend void release(Array<U>&);

private:
    std::vector<T> values_;
    bool allocated_ = false;
};

// Gives `a` n fresh elements; false when they cannot be had.
template <class T>
bool reserve(Array<T>& a, std::int64_t n) {
    if (!allocation_allowed(n, sizeof(T))) return false;
    try {
        std::vector<T> fresh(static_cast<std::size_t>(n));
        a.values_.swap(fresh);
    } catch (const std::exception&) {
        return false;
    }
    a.allocated_ = true;
    return true;
}

// Allocates `extent` elements (below 1 gives an empty, allocated array).
// Texts come back blank, records with their defaults, numbers zero.
template <class T>
void allocate(Array<T>& a, std::int64_t extent, int variant = Variant<T>::rank1) {
    const std::int64_t n = extent < 1 ? 0 : extent;
    if (!reserve(a, n)) allocation_failed({n}, variant, 12);
}

// Grows `a` to n elements, keeping its values and zeroing the new ones.
// Its storage grows geometrically but never beyond `most` elements, so a
// run of small growths costs linear time and no more room than `most`.
template <class T>
void grow(Array<T>& a, std::int64_t n, std::int64_t most) {
    if (n <= a.size()) return;
    const std::int64_t room = std::max(n, std::min(most, 2 * a.size()));
    if (!allocation_allowed(room, sizeof(T))) allocation_failed({room}, Variant<T>::rank1, 12);
    try {
        if (static_cast<std::size_t>(room) > a.values_.capacity())
            a.values_.reserve(static_cast<std::size_t>(room));
        a.values_.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        allocation_failed({room}, Variant<T>::rank1, 12);
    }
    a.allocated_ = true;
}

template <class T>
void release(Array<T>& a) {
    std::vector<T>().swap(a.values_);
    a.allocated_ = false;
}

// A rank-2 array, 1-based, first index fastest.
template <class T>
class Array2 {
public:
    bool allocated() const { return flat_.allocated(); }
    std::int64_t extent1() const { return n1_; }
    std::int64_t extent2() const { return n2_; }
    T& operator()(std::int64_t i, std::int64_t j) { return flat_((j - 1) * n1_ + i); }
    const T& operator()(std::int64_t i, std::int64_t j) const { return flat_((j - 1) * n1_ + i); }

    template <class U> friend void allocate(Array2<U>&, std::int64_t, std::int64_t, int);
    template <class U> friend void release(Array2<U>&);

private:
    Array<T> flat_;
    std::int64_t n1_ = 0, n2_ = 0;
};

template <class T>
void allocate(Array2<T>& a, std::int64_t extent1, std::int64_t extent2,
              int variant = Variant<T>::rank2) {
    const std::int64_t n1 = extent1 < 1 ? 0 : extent1;
    const std::int64_t n2 = extent2 < 1 ? 0 : extent2;
    if ((n1 != 0 && n2 > INT64_MAX / n1) || !reserve(a.flat_, n1 * n2))
        allocation_failed({n1, n2}, variant, 12);
    a.n1_ = n1;
    a.n2_ = n2;
}

template <class T>
void release(Array2<T>& a) {
    release(a.flat_);
    a.n1_ = a.n2_ = 0;
}

}  // namespace qv::runtime

namespace qv::runtime {

// A buffer kept across uses, for arrays that are overwritten at once: its
// storage is reused while a use fits in it and replaced by one of the
// needed size when not, and nothing in it is zeroed. size() is what the
// last use asked for; holds() says whether the buffer holds the values of
// a use (clear() ends that and keeps the storage). Fails like the typed
// arrays, its storage then released.
template <class T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>, "a buffer of plain values");

public:
    bool holds() const { return holds_; }
    std::int64_t size() const { return size_; }
    std::int64_t capacity() const { return capacity_; }
    T* data() { return values_.get(); }
    const T* data() const { return values_.get(); }

    // n values (below 1 gives none) for a new use; the old ones are gone.
    void resize(std::int64_t n, int variant = Variant<T>::rank1) {
        const std::int64_t extent = n < 1 ? 0 : n;
        holds_ = false;
        size_ = 0;
        if (extent > capacity_) {
            // The old storage goes first: its values are not kept.
            values_.reset();
            capacity_ = 0;
            replace(extent, 0, variant);
        }
        size_ = extent;
        holds_ = true;
    }
    // Grows to n values keeping the present ones; new storage is sized
    // geometrically but never beyond `most` values.
    void grow(std::int64_t n, std::int64_t most) {
        if (n <= size_) return;
        if (n > capacity_) replace(std::max(n, std::min(most, 2 * capacity_)), size_,
                                   Variant<T>::rank1);
        size_ = n;
        holds_ = true;
    }
    // Drops values beyond n (never grows).
    void shrink_to(std::int64_t n) {
        if (n >= 0 && n < size_) size_ = n;
    }
    void clear() {
        size_ = 0;
        holds_ = false;
    }
    void release() {
        clear();
        values_.reset();
        capacity_ = 0;
    }

private:
    // New storage of `room` values with the first `keep` values copied.
    void replace(std::int64_t room, std::int64_t keep, int variant) {
        if (!allocation_allowed(room, sizeof(T))) {
            release();
            allocation_failed({room}, variant, 12);
        }
        std::unique_ptr<T[]> fresh(new (std::nothrow) T[static_cast<std::size_t>(room)]);
        if (!fresh) {
            release();
            allocation_failed({room}, variant, 12);
        }
        if (keep > 0)
            std::memcpy(fresh.get(), values_.get(), static_cast<std::size_t>(keep) * sizeof(T));
        values_ = std::move(fresh);
        capacity_ = room;
    }

    std::unique_ptr<T[]> values_;
    std::int64_t capacity_ = 0, size_ = 0;
    bool holds_ = false;
};

// A plain byte buffer whose contents start undefined, for payloads that are
// overwritten at once. Fails like the typed arrays.
class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::int64_t n, int variant = Variant<std::uint8_t>::rank1);
    std::uint8_t* data() { return bytes_.get(); }
    std::int64_t size() const { return size_; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::int64_t size_ = 0;
};

}  // namespace qv::runtime
