// Reads of a platform file through its read-ahead, the same on every
// platform: only read_at differs.
#include "runtime/platform.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qv::platform {
namespace {

// Large enough to hold the records a tag search passes over in one block,
// small enough that a read-ahead nobody uses costs little.
constexpr std::size_t kAheadBytes = std::size_t(32) << 10;
// The first read-ahead after a large read made straight into its
// destination, or after a seek past a large payload: what follows a payload
// is mostly the few framing bytes before the next one (a chunk chain, or
// arrays passed over), and a whole block would be read and copied for them,
// most of it the next payload, which is then read straight or passed over.
constexpr std::size_t kNarrowAheadBytes = 256;

}  // namespace

bool File::fill_ahead(std::uint64_t offset) {
    if (!ahead_) {
        ahead_.reset(new (std::nothrow) std::uint8_t[kAheadBytes]);
        if (!ahead_) return false;
    }
    ahead_start_ = offset;
    ahead_length_ = read_at(offset, ahead_.get(), narrow_ahead_ ? kNarrowAheadBytes : kAheadBytes);
    narrow_ahead_ = false;
    return true;
}

bool File::read(void* dst, std::size_t n) {
    auto* out = static_cast<std::uint8_t*>(dst);
    while (n > 0) {
        // What the read-ahead already holds at the position.
        if (position_ >= ahead_start_ && position_ < ahead_start_ + ahead_length_) {
            const std::size_t at = static_cast<std::size_t>(position_ - ahead_start_);
            const std::size_t take = std::min(n, ahead_length_ - at);
            std::memcpy(out, ahead_.get() + at, take);
            out += take;
            n -= take;
            position_ += take;
            continue;
        }
        // A large rest goes straight into the destination.
        if (n >= (narrow_ahead_ ? kNarrowAheadBytes : kAheadBytes) || !fill_ahead(position_)) {
            const std::size_t got = read_at(position_, out, n);
            position_ += got;
            narrow_ahead_ = n >= kAheadBytes;
            return got == n;
        }
        if (ahead_length_ == 0) return false;  // the end of the file
    }
    return true;
}

bool File::seek(std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    if (offset >= position_ && offset - position_ >= kAheadBytes) narrow_ahead_ = true;
    position_ = offset;
    return true;
}

}  // namespace qv::platform
