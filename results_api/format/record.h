// Records: a big-endian length, the data part, the length again. The record
// reader is the one way the loaders read a results file: every read consumes
// exactly one record and never reads past it or past the end of the file,
// and every rejection of a damaged file leaves a reason that names the file,
// the section and what did not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/inflate.h"
#include "format/failure.h"
#include "runtime/alloc.h"
#include "runtime/files.h"

namespace qv::format {

// 4-byte big-endian conversions.
std::int32_t decode_int32(const std::uint8_t* p);
float decode_real32(const std::uint8_t* p);

// The data part of one record with typed reads. A read that finds too few
// bytes left fails and sets failed(); later reads fail too.
class RecordData {
public:
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    void start() { pos_ = 0; failed_ = false; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }
    bool failed() const { return failed_; }

    std::int32_t int32();
    float real32();
    std::string text(std::size_t n);

private:
    bool take(std::size_t n);
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

inline constexpr std::size_t kTagLength = 50;

// Routines that keep the message of the last zlib error they met.
enum class ZlibRoutine { SingleInts, SingleReals, ChunkedInts, ChunkedReals, Count };

class RecordReader {
public:
    RecordReader() = default;
    explicit RecordReader(runtime::InputFile file) : file_(std::move(file)) {}

    bool is_open() const { return file_.is_open(); }
    // Closes the file and releases the skip and payload buffers.
    void close() {
        file_.close();
        runtime::release(skip_bytes_);
        skip_capacity_ = 0;
        payload_.release();
        inflater_.reset();
    }
    const std::string& file_name() const { return file_.name; }
    std::uint64_t size() const { return file_.size; }
    std::uint64_t position() const;
    // Bytes between the position and the end of the file.
    std::uint64_t bytes_left() const;
    bool seek(std::uint64_t offset);
    void rewind() { seek(0); }

    // The next whole record.
    Status record(RecordData& out);
    // The first n bytes of the next record into dst, passing over the rest.
    // A record shorter than n bytes is consumed and reported as damaged.
    Status prefix(void* dst, std::size_t n);
    Status skip() { return prefix(nullptr, 0); }
    // One record's leading values; false when it is missing, damaged or too
    // short (at most 8 integers).
    bool ints(std::int32_t* values, std::size_t n);
    bool int32(std::int32_t& value) { return ints(&value, 1); }
    bool real32(float& value);
    // A record of at least n characters; its first n.
    bool text(std::size_t n, std::string& out);

    // Searches forward for the tag record of a section, rewinding once at
    // the end of the file; ok with the file just after the tag record,
    // section_missing when the tag is not found.
    Status find_tag(std::string_view tag);
    // Records begun (read, passed over or found damaged) since the file was
    // opened: the work the readers did.
    std::uint64_t records_begun() const { return records_begun_; }
    // What the current question met: the offset of the first record (its
    // leading length) that was cut, framed wrongly, held counts that do not
    // fit, or a zlib stream that failed (offset -1 when none), and, after
    // fail(), why the file was rejected.
    const Failure& failure() const { return failure_; }
    // Whether a record ran past the end of the file or could not be read.
    bool met_damage() const { return damage_met_; }
    // Starts a new question: damage met before no longer counts.
    void forget_damage() {
        damage_met_ = false;
        failure_ = Failure{};
    }
    void note_damage_at(std::uint64_t offset) {
        if (failure_.offset >= 0) return;
        failure_.status = Status::damaged;
        failure_.offset = static_cast<std::int64_t>(offset);
    }
    // Where the last record read began.
    std::uint64_t record_start() const { return record_start_; }
    // Whether the last find_tag passed over a damaged record (a record cut
    // by the end of the file, or with a bad trailing length): a tag not
    // found may have been lost with it.
    bool search_met_damage() const { return search_met_damage_; }

    // The section being read, for the failures below.
    void enter(const char* section) { section_ = section; }
    // Records why the file was rejected (the file, the section, `what` and
    // the position) and returns false.
    bool fail(const std::string& what);
    // "<file>: <section>: <what> (at byte N)".
    std::string reason() const { return failure_.message(); }

    // The buffer of skipped payloads, which grows by 1.2 and is kept while
    // the reader lives (the payloads themselves are passed over by a seek).
    std::uint8_t* skip_buffer(std::int64_t bytes);
    std::int64_t skip_buffer_capacity() const { return skip_capacity_; }
    // Payloads that are inflated are read into this buffer, kept while the
    // reader lives and replaced only by a larger one: its contents last
    // until the next payload is read.
    std::uint8_t* payload_buffer(std::int64_t bytes) {
        payload_.resize(bytes);
        return payload_.data();
    }
    // What the inflater keeps between the payloads of this file.
    InflaterCache* inflater() { return &inflater_; }
    // Takes over the payload buffer and the inflater of `old` (a reader of
    // another file), so that reading file after file allocates nothing new.
    void keep_buffers_of(RecordReader& old) {
        payload_ = std::move(old.payload_);
        inflater_ = std::move(old.inflater_);
    }

    // The most bytes the arrays read through this reader may inflate to,
    // together (0: no bound but the one deflate itself sets per stream).
    // Every array claims its bytes before anything is allocated for it.
    void limit_inflation(std::int64_t bytes) {
        inflation_limit_ = bytes;
        inflated_ = 0;
        inflation_refused_ = false;
    }
    // Claims `bytes` more; false, remembered by inflation_refused(), when
    // they would pass the limit.
    bool claim_inflation(std::int64_t bytes);
    bool inflation_refused() const { return inflation_refused_; }
    std::int64_t inflation_limit() const { return inflation_limit_; }
    std::int64_t inflated() const { return inflated_; }

    // "Non-zero error code returned" and the code, blank-padded to 50
    // characters; blank until the routine meets an error.
    const runtime::Text50& zlib_message(ZlibRoutine r) const {
        return zlib_messages_[static_cast<int>(r)];
    }
    void note_zlib_error(ZlibRoutine r, int code);

private:
    Status leading_length(std::int64_t& length);
    Status trailing_length(std::int64_t length);
    Status give_up();

    runtime::InputFile file_;
    std::uint64_t records_begun_ = 0;
    bool damage_met_ = false;  // set by give_up and a bad trailing length
    Failure failure_;
    std::uint64_t record_start_ = 0;
    bool search_met_damage_ = false;
    const char* section_ = "";
    runtime::Array<std::uint8_t> skip_bytes_;
    std::int64_t skip_capacity_ = 0;
    runtime::Buffer<std::uint8_t> payload_;
    InflaterCache inflater_;
    std::int64_t inflation_limit_ = 0;
    std::int64_t inflated_ = 0;
    bool inflation_refused_ = false;
    runtime::Text50 zlib_messages_[static_cast<int>(ZlibRoutine::Count)];
};

}  // namespace qv::format
