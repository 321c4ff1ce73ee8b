// Record framing, typed reads, tag search and the reasons of rejections.
#include "format/record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qv::format {

std::int32_t decode_int32(const std::uint8_t* p) {
    const std::uint32_t u = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                            (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
    std::int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
}

float decode_real32(const std::uint8_t* p) {
    const std::int32_t bits = decode_int32(p);
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
    const std::int32_t v = decode_int32(bytes_.data() + pos_);
    pos_ += 4;
    return v;
}

float RecordData::real32() {
    if (!take(4)) return 0.0f;
    const float v = decode_real32(bytes_.data() + pos_);
    pos_ += 4;
    return v;
}

std::string RecordData::text(std::size_t n) {
    if (!take(n)) return std::string(n, ' ');
    std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    return s;
}

std::uint64_t RecordReader::position() const {
    return file_.file ? file_.file->position() : 0;
}

std::uint64_t RecordReader::bytes_left() const {
    const std::uint64_t pos = position();
    return !file_.file || pos >= file_.size ? 0 : file_.size - pos;
}

bool RecordReader::seek(std::uint64_t offset) { return file_.file && file_.file->seek(offset); }

// Passes the rest of a damaged file: the next read reports its end, so no
// search can loop on it.
Status RecordReader::give_up() {
    damage_met_ = true;
    note_damage_at(record_start_);
    seek(file_.size);
    return Status::damaged;
}

// Reads the leading length; on success the file is positioned at the data.
Status RecordReader::leading_length(std::int64_t& length) {
    if (!file_.file) return Status::end;
    record_start_ = position();
    const std::uint64_t left = bytes_left();
    if (left == 0) return Status::end;
    ++records_begun_;
    std::uint8_t head[4];
    if (left < 8 || !file_.file->read(head, 4)) return give_up();
    const std::int32_t l = decode_int32(head);
    // A negative length marks a record continued in pieces, which results
    // files never hold; a length beyond the file is a truncated record.
    if (l < 0 || static_cast<std::uint64_t>(l) > left - 8) return give_up();
    length = l;
    return Status::ok;
}

Status RecordReader::trailing_length(std::int64_t length) {
    std::uint8_t tail[4];
    if (!file_.file->read(tail, 4)) return give_up();
    if (decode_int32(tail) == length) return Status::ok;
    damage_met_ = true;
    note_damage_at(record_start_);
    return Status::damaged;
}

Status RecordReader::record(RecordData& out) {
    std::int64_t length = 0;
    if (const Status st = leading_length(length); st != Status::ok) return st;
    out.bytes().resize(static_cast<std::size_t>(length));
    out.start();
    if (!file_.file->read(out.bytes().data(), out.bytes().size())) return give_up();
    return trailing_length(length);
}

Status RecordReader::prefix(void* dst, std::size_t n) {
    std::int64_t length = 0;
    if (const Status st = leading_length(length); st != Status::ok) return st;
    const std::uint64_t data_start = position();
    const bool long_enough = static_cast<std::uint64_t>(length) >= n;
    if (long_enough && !file_.file->read(dst, n)) return give_up();
    // A seek costs the file's read-ahead: none when the data were read whole.
    const std::uint64_t data_end = data_start + static_cast<std::uint64_t>(length);
    if (position() != data_end && !seek(data_end)) return give_up();
    const Status st = trailing_length(length);
    return st == Status::ok && !long_enough ? Status::damaged : st;
}

// The few leading values of a record: only their bytes are read, so a
// damaged file that puts a large record where a count belongs costs nothing.
bool RecordReader::ints(std::int32_t* values, std::size_t n) {
    std::uint8_t bytes[4 * 8];
    if (n > 8 || prefix(bytes, 4 * n) != Status::ok) return false;
    for (std::size_t i = 0; i < n; ++i) values[i] = decode_int32(bytes + 4 * i);
    return true;
}

bool RecordReader::real32(float& value) {
    std::uint8_t bytes[4];
    if (prefix(bytes, 4) != Status::ok) return false;
    value = decode_real32(bytes);
    return true;
}

bool RecordReader::text(std::size_t n, std::string& out) {
    out.assign(n, ' ');
    return prefix(out.data(), n) == Status::ok;
}

Status RecordReader::find_tag(std::string_view tag) {
    char wanted[kTagLength];
    std::memset(wanted, ' ', kTagLength);
    std::memcpy(wanted, tag.data(), std::min(tag.size(), kTagLength));

    int ends = 0;
    damage_met_ = false;
    search_met_damage_ = false;
    for (;;) {
        char field[kTagLength];
        const Status st = prefix(field, kTagLength);
        if (st == Status::end) {
            if (++ends == 1) {
                rewind();
                continue;
            }
            search_met_damage_ = damage_met_;
            return Status::section_missing;
        }
        // Records shorter than a tag, such as a few integers, are passed
        // over; so is a damaged record, after which the file reads as ended.
        if (st != Status::ok) continue;
        if (std::memcmp(field, wanted, kTagLength) == 0) return Status::ok;
    }
}

bool RecordReader::fail(const std::string& what) {
    failure_.status = Status::damaged;
    failure_.file = file_.name;
    failure_.section = section_;
    failure_.names[0] = failure_.names[1] = nullptr;
    failure_.detail = what;
    failure_.offset = static_cast<std::int64_t>(position());
    return false;
}

bool RecordReader::claim_inflation(std::int64_t bytes) {
    if (inflation_limit_ > 0 && (bytes < 0 || bytes > inflation_limit_ - inflated_)) {
        inflation_refused_ = true;
        return false;
    }
    inflated_ += bytes;
    return true;
}

std::uint8_t* RecordReader::skip_buffer(std::int64_t needed) {
    if (needed > skip_capacity_) {
        runtime::release(skip_bytes_);
        skip_capacity_ = 0;
        const float grown = static_cast<float>(needed) * 1.2f;
        std::int64_t capacity = grown >= 9.0e18f ? needed : static_cast<std::int64_t>(grown);
        if (capacity < needed) capacity = needed;
        runtime::allocate(skip_bytes_, capacity);
        skip_capacity_ = capacity;
    }
    return skip_bytes_.data();
}

void RecordReader::note_zlib_error(ZlibRoutine r, int code) {
    char field[8];
    std::snprintf(field, sizeof field, "%4d", code);
    zlib_messages_[static_cast<int>(r)].assign(std::string("Non-zero error code returned") + field);
}

}  // namespace qv::format
