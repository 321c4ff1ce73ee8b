// Cycle file header, "<Model>" section and the cycle reader.
#include "format/cycle_file.h"

#include <algorithm>

namespace qv::format {
namespace {

// Bytes of one result directory entry: reserved, variable index,
// qualifier, 50-character name, kind.
constexpr std::size_t kDirectoryEntryBytes = 66;

bool read_header(RecordReader& r, model::CycleHeader& header) {
    r.enter("header");
    std::int32_t n = 0;
    if (!r.int32(n) || n < 0) return r.fail("no valid header word count");
    RecordData data;
    if (r.record(data) != Status::ok || data.size() / 4 < static_cast<std::size_t>(n))
        return r.fail("header words shorter than their count " + std::to_string(n));
    runtime::allocate(header.words, n);
    for (std::int32_t& w : header.words) w = data.int32();
    return true;
}

bool read_directory(RecordReader& r, std::int32_t count, model::CycleModel& m) {
    RecordData data;
    if (r.record(data) != Status::ok) return r.fail("no result directory record");
    // A count larger than its record describes entries that are not there.
    if (count < 0 || data.size() / kDirectoryEntryBytes < static_cast<std::size_t>(count))
        return r.fail("result directory of " + std::to_string(count) +
                      " entries longer than its record");
    runtime::allocate(m.directory, count);
    for (model::DirectoryEntry& e : m.directory) {
        data.int32();  // reserved
        e.variable = data.int32();
        e.qualifier = data.int32();
        e.name.assign(data.text(50));
        e.kind = data.int32();
    }
    if (data.failed()) return r.fail("result directory record too short");
    model::index_directory(m);
    return true;
}

// A count the "<Model>" section states: hosts size their arrays from it, so
// it must be one the model already has or one the file could hold values
// for.
bool count_fits(const RecordReader& r, std::int64_t stated, std::int64_t known) {
    return stated >= 0 && stated <= std::max(known, max_values_for(r.size()));
}

bool read_model_sizes(RecordReader& r, const model::Counts& known, model::CycleModel& m) {
    std::int32_t v[3];
    if (!r.int32(m.model_values[0]) || !r.int32(m.model_values[1]) || !r.int32(m.cycle_number) ||
        !r.real32(m.cycle_time) || !r.ints(v, 2))
        return r.fail("model size records missing");
    const std::int32_t structured = v[0], unstructured = v[1];
    // One record of three values follows per structured part.
    if (structured < 0 || !count_fits(r, unstructured, known.unstructured_parts) ||
        static_cast<std::uint64_t>(structured) > r.bytes_left() / 20)
        return r.fail("part counts " + std::to_string(structured) + ", " +
                      std::to_string(unstructured) + " do not fit");
    runtime::allocate(m.structured_part_values, 3, structured);
    for (std::int32_t p = 1; p <= structured; ++p)
        if (!r.ints(&m.structured_part_values(1, p), 3))
            return r.fail("structured part " + std::to_string(p) + ": size record missing");
    if (!r.ints(v, 3)) return r.fail("no node and element counts");
    if (!count_fits(r, v[0], known.node_count) ||
        !count_fits(r, v[1], known.unstructured_element_total))
        return r.fail(std::to_string(v[0]) + " nodes and " + std::to_string(v[1]) +
                      " elements: more than the model has or the file could hold");
    m.counts.structured_parts = structured;
    m.counts.unstructured_parts = unstructured;
    m.counts.node_count = v[0];
    m.counts.unstructured_element_total = v[1];
    m.model_third_value = v[2];
    if (r.skip() != Status::ok) return r.fail("record after the counts missing");
    std::int32_t counts[2];
    if (!r.ints(counts, 2) || !r.ints(m.object_counts, 3)) return r.fail("variable counts missing");
    if (!count_fits(r, counts[0], 0))
        return r.fail("variable count " + std::to_string(counts[0]) + " out of range");
    m.variable_count = counts[0];
    if (!read_directory(r, counts[1], m)) return false;
    m.has_sizes = true;
    return true;
}

}  // namespace

Framing bulk_framing(const model::CycleHeader& h) {
    return h.count() >= 7 && h.word(7) > 0 ? Framing::Chunked : Framing::Single;
}

Framing body_framing(const model::CycleHeader& h) {
    return h.count() >= 8 && h.word(8) > 0 ? Framing::Chunked : Framing::Single;
}

bool CycleReader::open(const std::string& path, const model::Counts& known) {
    RecordReader old = std::move(records_);
    runtime::Buffer<float> kept = std::move(values);
    *this = CycleReader{};
    values = std::move(kept);
    values.clear();
    runtime::InputFile file;
    if (!runtime::open_input(path, file, failure_.detail)) {
        failure_.status = runtime::file_exists(path) ? Status::unreadable : Status::missing;
        return false;
    }
    RecordReader r(std::move(file));
    r.keep_buffers_of(old);
    model::CycleModel m;
    bool read = read_header(r, m.header);
    if (read) {
        r.enter("<Model>");
        read = r.find_tag("<Model>") == Status::ok || r.fail("no \"<Model>\" section");
    }
    if (read && m.header.word(1) > 0) read = read_model_sizes(r, known, m);
    if (!read) {
        failure_ = r.failure();
        failure_.status = Status::damaged;
        return false;
    }
    records_ = std::move(r);
    model_ = std::move(m);
    return true;
}

bool read_cycle_stamp(RecordReader& r, CycleStamp& stamp) {
    model::CycleHeader header;
    if (!read_header(r, header)) return false;
    stamp = CycleStamp{};
    r.enter("<Model>");
    if (r.find_tag("<Model>") != Status::ok) return true;
    stamp.model_found = true;
    if (header.word(1) != 1) return true;
    std::int32_t ignored;
    return (r.int32(ignored) && r.int32(ignored) && r.int32(stamp.cycle) &&
            r.real32(stamp.time)) ||
           r.fail("cycle number and time missing");
}

}  // namespace qv::format
