// Cycle file header and "<Model>" section.
#include "format/cycle_file.h"

#include "format/record.h"
#include "format/tag_search.h"

namespace qv::format {
namespace {

// Bytes of one result directory entry: reserved, variable index,
// qualifier, 50-character name, kind.
constexpr std::size_t kDirectoryEntryBytes = 66;

bool read_directory(runtime::Connection& c, std::int32_t count, model::ModelStore& s) {
    RecordData data;
    if (read_record(c, data) != kReadOk) return false;
    // A count larger than its record describes entries that are not there.
    if (count < 0 || data.size() / kDirectoryEntryBytes < static_cast<std::size_t>(count))
        return false;
    runtime::allocate(s.directory, count);
    for (model::DirectoryEntry& e : s.directory) {
        data.int32();  // reserved
        e.variable = data.int32();
        e.qualifier = data.int32();
        e.name.assign(data.text(50));
        e.kind = data.int32();
    }
    return !data.failed();
}

bool read_model_sizes(runtime::Connection& c, model::ModelStore& s) {
    std::int32_t v[3];
    if (!read_int(c, s.model_values[0]) || !read_int(c, s.model_values[1]) ||
        !read_int(c, s.cycle_number) || !read_real(c, s.cycle_time) || !read_ints(c, v, 2))
        return false;
    const std::int32_t structured = v[0], unstructured = v[1];
    // One record of three values follows per structured part.
    if (structured < 0 || unstructured < 0 ||
        static_cast<std::uint64_t>(structured) > bytes_left(c) / 20)
        return false;
    runtime::allocate(s.structured_part_values, 3, structured);
    for (std::int32_t p = 1; p <= structured; ++p)
        if (!read_ints(c, &s.structured_part_values(1, p), 3)) return false;
    if (!read_ints(c, v, 3) || v[0] < 0 || v[1] < 0) return false;
    s.structured_parts = structured;
    s.unstructured_parts = unstructured;
    s.node_count = v[0];
    s.unstructured_element_total = v[1];
    s.model_third_value = v[2];
    if (skip_record(c) != kReadOk) return false;  // passed over unread
    std::int32_t counts[2];
    if (!read_ints(c, counts, 2) || !read_ints(c, s.object_counts, 3)) return false;
    s.variable_count = counts[0];
    return read_directory(c, counts[1], s);
}

}  // namespace

int read_cycle_header(runtime::Connection& c, model::CycleHeader& header) {
    runtime::release(header.words);
    std::int32_t n = 0;
    if (!read_int(c, n) || n < 0) return kReadError;
    RecordData data;
    if (read_record(c, data) != kReadOk || data.size() / 4 < static_cast<std::size_t>(n))
        return kReadError;
    runtime::allocate(header.words, n);
    for (std::int32_t& w : header.words) w = data.int32();
    return kReadOk;
}

Framing bulk_framing(const model::CycleHeader& h) {
    return h.count() >= 7 && h.word(7) > 0 ? Framing::Chunked : Framing::Single;
}

Framing body_framing(const model::CycleHeader& h) {
    return h.count() >= 8 && h.word(8) > 0 ? Framing::Chunked : Framing::Single;
}

bool read_model_section(runtime::Connection& c, model::ModelStore& s) {
    s.read_position = 0;
    if (find_tag(c, "<Model>") != 0) return false;
    s.model_loaded = true;
    if (s.cycle_header.word(1) <= 0) return true;
    if (read_model_sizes(c, s)) return true;
    // A damaged section leaves no half-read directory behind.
    runtime::release(s.directory);
    s.variable_count = 0;
    s.model_loaded = false;
    return false;
}

bool read_cycle_stamp(runtime::Connection& c, CycleStamp& stamp) {
    model::CycleHeader header;
    if (read_cycle_header(c, header) != kReadOk) return false;
    stamp = CycleStamp{};
    if (find_tag(c, "<Model>") != 0) return true;
    stamp.model_found = true;
    if (header.word(1) != 1) return true;
    std::int32_t ignored;
    return read_int(c, ignored) && read_int(c, ignored) && read_int(c, stamp.cycle) &&
           read_real(c, stamp.time);
}

}  // namespace qv::format
