// Cycle files: the header words, the "<Model>" section with the result
// directory, the framing the header selects for each kind of array, and the
// cycle reader that holds one open cycle file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/compressed_array.h"
#include "format/record.h"
#include "model/cycle_model.h"

namespace qv::format {

// Node, element, displacement and material fraction arrays are chunked when
// the header has at least 7 words and word 7 is positive.
Framing bulk_framing(const model::CycleHeader& header);
// Rigid body and joint arrays are chunked when the header has at least 8
// words and word 8 is positive.
Framing body_framing(const model::CycleHeader& header);

// The material fraction arrays of a cycle, read once per opened cycle file
// by the first query that needs them.
struct MaterialFractions {
    bool loaded = false;
    Status status = Status::ok;  // what reading them gave
    std::vector<runtime::Array<float>> materials;  // one per material
    runtime::Array<float> cover;                   // element array of variable 155
};

// What the readers of one open cycle file learnt of where things lie, so
// that no query repeats another's search: the sections found (or not) by
// their tags, and for the node and element sections the start of each
// array the directory walks passed. Every array is passed over at most once
// per opened file, however the queries alternate.
struct SectionIndex {
    struct Tag {
        std::string name;
        Status found = Status::ok;     // what the search gave
        std::uint64_t after = 0;  // the offset after the tag record when found
    };
    std::vector<Tag> tags;
    // walked[s][k]: the offset with the arrays of directory entries 1..k of
    // section s (0 nodes, 1 elements) passed; walked[s][0] after the tag.
    std::vector<std::uint64_t> walked[2];
};

// One open cycle file: its header and "<Model>" section, read when it is
// opened, the position of the directory walk, the skip buffer and the
// arrays read once per cycle. The "<Model>" section stays readable after
// the file is closed.
class CycleReader {
public:
    // Opens `path` and reads its header and "<Model>" section. False, with
    // failure() saying why (missing, unreadable or damaged) and the reader
    // empty and closed, when the file is missing, cannot be opened, or has
    // no readable "<Model>" section.
    // `known` are the counts of the model the cycle belongs to: a cycle may
    // restate them without storing a single array, but larger counts must
    // be ones this file could hold values for. A reader opened again keeps
    // its buffers (not what they held) for the new file.
    bool open(const std::string& path, const model::Counts& known = {});
    bool is_open() const { return records_.is_open(); }
    // Closes the file and releases the kept buffers; the "<Model>" section
    // read stays.
    void close() {
        records_.close();
        values.release();
    }

    const model::CycleModel& model() const { return model_; }
    RecordReader& records() { return records_; }
    const RecordReader& records() const { return records_; }
    // Why the last open failed.
    const Failure& failure() const { return failure_; }
    std::string reason() const { return failure_.message(); }

    // Which directory entry's array the file was left behind: i in
    // "<Node>", -i in "<Element>", 0 for none.
    std::int64_t read_position = 0;
    // The header pair (the first two 4-byte words) of the node or element
    // array read last, as stored.
    std::uint32_t header_pair[2] = {0, 0};
    SectionIndex index;
    MaterialFractions fractions;
    // The stored array a value query converts, read into storage kept from
    // query to query: repeated queries allocate and zero nothing. What it
    // holds lasts until the next read into it.
    runtime::Buffer<float> values;

private:
    RecordReader records_;
    model::CycleModel model_;
    Failure failure_;
};

// What registration needs of a cycle file: its cycle number and time, read
// from "<Model>" when header word 1 is 1 (0 and 0 otherwise or when the tag
// is missing). False when the header or those records are damaged.
struct CycleStamp {
    std::int32_t cycle = 0;
    float time = 0.0f;
    bool model_found = false;
};
bool read_cycle_stamp(RecordReader& r, CycleStamp& stamp);

}  // namespace qv::format
