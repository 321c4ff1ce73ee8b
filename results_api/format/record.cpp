// Record framing and typed reads.
#include "format/record.h"

#include <cstring>

namespace qv::format {
namespace {

bool big_endian_order(runtime::ByteOrder order) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return order != runtime::ByteOrder::LittleEndian;
#else
    return order == runtime::ByteOrder::BigEndian;
#endif
}

bool supported(const runtime::Connection& c) {
    using runtime::ByteOrder;
    return c.file && !c.formatted && !c.direct &&
           (c.order == ByteOrder::BigEndian || c.order == ByteOrder::LittleEndian ||
            c.order == ByteOrder::Native);
}

// Passes the rest of a damaged file: the next read reports its end, so no
// search can loop on it.
int give_up(runtime::Connection& c) {
    c.file->seek(c.size);
    return kReadError;
}

// Reads the leading length; on success the file is positioned at the data.
int read_leading_length(runtime::Connection& c, std::int64_t& length) {
    // A connection the record layer cannot read holds no records for it.
    if (!supported(c)) return kReadEnd;
    const std::uint64_t left = bytes_left(c);
    if (left == 0) return kReadEnd;
    std::uint8_t head[4];
    if (left < 8 || !c.file->read(head, 4)) return give_up(c);
    const std::int32_t l = decode_int32(head, c.order);
    // A negative length marks a record continued in pieces, which results
    // files never hold; a length beyond the file is a truncated record.
    if (l < 0 || static_cast<std::uint64_t>(l) > left - 8) return give_up(c);
    length = l;
    return kReadOk;
}

int read_trailing_length(runtime::Connection& c, std::int64_t length) {
    std::uint8_t tail[4];
    if (!c.file->read(tail, 4)) return give_up(c);
    return decode_int32(tail, c.order) == length ? kReadOk : kReadError;
}

}  // namespace

std::int32_t decode_int32(const std::uint8_t* p, runtime::ByteOrder order) {
    std::uint32_t u;
    if (big_endian_order(order)) {
        u = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
            (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
    } else {
        u = (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) |
            (std::uint32_t(p[1]) << 8) | std::uint32_t(p[0]);
    }
    std::int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
}

float decode_real32(const std::uint8_t* p, runtime::ByteOrder order) {
    const std::int32_t bits = decode_int32(p, order);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

bool RecordData::take(std::size_t n) {
    if (failed_ || remaining() < n) {
        failed_ = true;
        return false;
    }
    return true;
}

std::int32_t RecordData::int32() {
    if (!take(4)) return 0;
    const std::int32_t v = decode_int32(bytes_.data() + pos_, order_);
    pos_ += 4;
    return v;
}

float RecordData::real32() {
    if (!take(4)) return 0.0f;
    const float v = decode_real32(bytes_.data() + pos_, order_);
    pos_ += 4;
    return v;
}

std::string RecordData::text(std::size_t n) {
    if (!take(n)) return std::string(n, ' ');
    std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    return s;
}

int read_record(runtime::Connection& c, RecordData& out) {
    std::int64_t length = 0;
    if (const int st = read_leading_length(c, length); st != kReadOk) return st;
    out.bytes().resize(static_cast<std::size_t>(length));
    out.start(c.order);
    if (!c.file->read(out.bytes().data(), out.bytes().size())) return give_up(c);
    return read_trailing_length(c, length);
}

int read_record_prefix(runtime::Connection& c, void* dst, std::size_t n) {
    std::int64_t length = 0;
    if (const int st = read_leading_length(c, length); st != kReadOk) return st;
    const std::uint64_t data_start = c.file->position();
    const bool long_enough = static_cast<std::uint64_t>(length) >= n;
    if (long_enough && !c.file->read(dst, n)) return give_up(c);
    if (!c.file->seek(data_start + static_cast<std::uint64_t>(length))) return give_up(c);
    const int st = read_trailing_length(c, length);
    return st == kReadOk && !long_enough ? kReadError : st;
}

int skip_record(runtime::Connection& c) { return read_record_prefix(c, nullptr, 0); }

int peek_record_length(runtime::Connection& c, std::int64_t& length) {
    const std::uint64_t start = c.file ? c.file->position() : 0;
    const int st = read_leading_length(c, length);
    if (st == kReadOk) c.file->seek(start);
    return st;
}

void rewind(runtime::Connection& c) {
    if (c.file) c.file->seek(0);
}

std::uint64_t bytes_left(const runtime::Connection& c) {
    if (!c.file) return 0;
    const std::uint64_t pos = c.file->position();
    return pos >= c.size ? 0 : c.size - pos;
}

// The few leading values of a record: only their bytes are read, so a
// damaged file that puts a large record where a count belongs costs nothing.
bool read_ints(runtime::Connection& c, std::int32_t* values, std::size_t n) {
    std::uint8_t bytes[4 * kMaxLeadingValues];
    if (n > kMaxLeadingValues || read_record_prefix(c, bytes, 4 * n) != kReadOk) return false;
    for (std::size_t i = 0; i < n; ++i) values[i] = decode_int32(bytes + 4 * i, c.order);
    return true;
}

bool read_int(runtime::Connection& c, std::int32_t& value) { return read_ints(c, &value, 1); }

bool read_real(runtime::Connection& c, float& value) {
    std::uint8_t bytes[4];
    if (read_record_prefix(c, bytes, 4) != kReadOk) return false;
    value = decode_real32(bytes, c.order);
    return true;
}

}  // namespace qv::format
