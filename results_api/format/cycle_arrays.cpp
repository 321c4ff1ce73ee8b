// Reading the arrays of an open cycle file.
//
// Choices where the file format leaves room:
// - Every node and element reader releases its destination first, so a
//   failed read never leaves the previous query's values behind.
// - A stored material fraction array longer than the number of structured
//   slots is cut to that number; a shorter one leaves the remaining slots 0.
// - A cycle file without "<MMVars>" gets no material arrays: nothing is
//   allocated that the file does not justify (the fraction query reads the
//   absence as 0). One whose header says the section holds no arrays has
//   zero-filled ones.
// - A cycle file without "<Displacement>" (or whose header says it holds no
//   array) leaves the displacement array released, so that the query fails
//   rather than return old values; the rigid body and joint readers do the
//   same with their arrays.
// - A corrupt zlib stream leaves its destination unallocated; the values it
//   did not produce are never handed out.
// - The material arrays are sized from the analysis (structured slots,
//   material count); an allocation those sizes cannot justify (more values
//   together than the cycle file could hold, more than the allocation layer
//   allows) is refused as damage.
#include "format/cycle_arrays.h"

#include <algorithm>
#include <cstring>

#include "variables/catalogue.h"

namespace qv::format {
namespace {

using model::DirectoryEntry;
using runtime::Array;
using runtime::Buffer;

template <class T>
void forget(Array<T>& dest) { runtime::release(dest); }
template <class T>
void forget(Buffer<T>& dest) { dest.clear(); }

// What a directory walk looks for.
struct Wanted {
    std::int64_t variable = 0;
    std::int32_t qualifier = 0;
    bool exact_qualifier = false;  // sign included (layered integer arrays)
    std::int32_t kind = 0;
};

// Whether an entry of this kind owns an array in the node (element) section.
bool owns_array(std::int32_t kind, bool nodes) {
    return nodes ? (kind == model::kNodeInteger || kind == model::kNodeReal)
                 : (kind == model::kElementInteger || kind == model::kElementReal);
}

const char* section_tag(bool nodes) { return nodes ? "<Node>" : "<Element>"; }

// Finds a section's tag. A tag not found where the search passed over a
// damaged record (a truncated file) may have been lost with it: that is a
// damaged file, not a section the cycle does not store. Each tag is
// searched once per opened file; later queries go straight to it.
Status find_section(CycleReader& c, std::string_view tag) {
    RecordReader& r = c.records();
    for (const SectionIndex::Tag& t : c.index.tags)
        if (t.name == tag) {
            if (t.found == Status::ok) r.seek(t.after);
            return t.found;
        }
    SectionIndex::Tag t;
    t.name = std::string(tag);
    if (r.find_tag(tag) == Status::ok) {
        t.after = r.position();
    } else {
        t.found = r.search_met_damage() ? Status::damaged : Status::section_missing;
    }
    c.index.tags.push_back(t);
    return t.found;
}

// Whether the header lets the section hold arrays: word 3 for nodes, 4 for
// elements.
bool section_holds_arrays(const model::CycleHeader& h, bool nodes) {
    return h.word(nodes ? 3 : 4) > 0;
}

// Loads the array of directory entry `entry` of the section (count + 1:
// passes every array and answers not_found). The walk starts at the last
// array start the index knows before the entry and records every start it
// passes, so that no array is passed over twice.
template <class Dest>
Status load_entry(CycleReader& c, bool nodes, std::int64_t entry, Dest& dest) {
    const model::CycleModel& m = c.model();
    if (const Status st = find_section(c, section_tag(nodes)); st != Status::ok) {
        // A section the header and the directory say holds arrays is gone
        // with the file's end: a file cut between two records.
        if (st == Status::section_missing && section_holds_arrays(m.header, nodes))
            for (std::int64_t e = 1; e <= m.directory.size(); ++e)
                if (owns_array(m.directory(e).kind, nodes)) {
                    c.records().note_damage_at(c.records().size());
                    return Status::damaged;
                }
        return st;
    }
    if (!section_holds_arrays(m.header, nodes)) return Status::no_arrays;
    RecordReader& r = c.records();
    std::vector<std::uint64_t>& walked = c.index.walked[nodes ? 0 : 1];
    if (walked.empty()) walked.push_back(r.position());
    const Framing framing = bulk_framing(m.header);
    const std::int64_t count = m.directory.size();
    std::int64_t passed = std::min<std::int64_t>(entry - 1, static_cast<std::int64_t>(walked.size()) - 1);
    if (!r.seek(walked[static_cast<std::size_t>(passed)])) return Status::damaged;
    for (; passed < entry - 1; ++passed) {
        if (owns_array(m.directory(passed + 1).kind, nodes) && skip_array(r, framing) != Status::ok)
            return Status::damaged;
        walked.push_back(r.position());
    }
    if (entry > count) return Status::not_found;
    const Status st = read_array(r, framing, dest);
    if (st == Status::ok && dest.size() >= model::kHeaderPair)
        std::memcpy(c.header_pair, dest.data(), sizeof c.header_pair);
    // A corrupt stream leaves the file after its array too.
    if ((st == Status::ok || st == Status::corrupt_stream) && walked.size() == static_cast<std::size_t>(entry))
        walked.push_back(r.position());
    return st;
}

// Loads the first entry that matches `w`; `entry` receives its number.
template <class Dest>
Status walk_and_load(CycleReader& c, bool nodes, const Wanted& w, Dest& dest, std::int64_t& entry) {
    const std::int64_t first =
        model::first_entry(c.model(), w.variable, w.kind, w.qualifier, w.exact_qualifier);
    entry = first;
    // An entry of no match still costs the walk to the section's end once:
    // damage on the way makes the array's absence damage.
    return load_entry(c, nodes, first > 0 ? first : c.model().directory.size() + 1, dest);
}

// The walk of the real and layered integer readers. The read position says
// which entry's array was loaded last; the file itself is positioned from
// the index.
template <class Dest>
Status positioned_read(CycleReader& c, std::int32_t object_type, const Wanted& w, Dest& dest) {
    forget(dest);
    c.read_position = 0;
    if (!c.is_open()) return Status::not_open;
    if (object_type != kNodeObject && object_type != kElementObject) return Status::not_found;
    const bool nodes = object_type == kNodeObject;
    std::int64_t entry = 0;
    const Status st = walk_and_load(c, nodes, w, dest, entry);
    if (st != Status::ok) return st;
    // Behind the last entry nothing is left to continue with.
    if (entry < c.model().directory.size()) c.read_position = nodes ? entry : -entry;
    return Status::ok;
}

// What every section reader does first: forget the read position (the file
// is about to move), and find the section's tag record.
Status enter_section(CycleReader& c, const char* tag) {
    c.read_position = 0;
    if (!c.is_open()) return Status::not_open;
    return find_section(c, tag);
}

Status read_body_section(CycleReader& c, const char* tag, Array<std::int32_t>& numbers,
                       Array<float>& data) {
    runtime::release(numbers);
    runtime::release(data);
    if (const Status st = enter_section(c, tag); st != Status::ok) return st;
    RecordReader& r = c.records();
    const model::CycleHeader& h = c.model().header;
    // Below 8 header words, word 2 says whether the arrays are there.
    if (h.count() < 8 && h.word(2) <= 0) return Status::no_arrays;
    const Framing framing = body_framing(h);
    Status st = read_array(r, framing, numbers);
    if (st == Status::ok) st = read_array(r, framing, data);
    if (st != Status::ok) {
        runtime::release(numbers);
        runtime::release(data);
    }
    return st;
}

bool is_error(Status st) { return st == Status::damaged || st == Status::corrupt_stream; }

template <class Dest>
Status read_reals(CycleReader& c, std::int32_t object_type, std::int32_t code,
                std::int32_t qualifier, Dest& dest) {
    Wanted w;
    w.variable = variables::real_variable_index(code);
    w.qualifier = qualifier;
    w.kind = object_type == kNodeObject ? model::kNodeReal : model::kElementReal;
    return positioned_read(c, object_type, w, dest);
}

template <class Dest>
Status displacements(CycleReader& c, Dest& dest) {
    forget(dest);
    if (const Status st = enter_section(c, "<Displacement>"); st != Status::ok) return st;
    const model::CycleHeader& h = c.model().header;
    // From 7 header words on, word 2 is not consulted.
    if (h.count() < 7 && h.word(2) <= 0) return Status::no_arrays;
    return read_array(c.records(), bulk_framing(h), dest);
}

}  // namespace

Status read_real_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                     std::int32_t qualifier, Array<float>& dest) {
    return read_reals(c, object_type, code, qualifier, dest);
}

Status read_real_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                     std::int32_t qualifier, Buffer<float>& dest) {
    return read_reals(c, object_type, code, qualifier, dest);
}

Status read_layered_integer_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                                std::int32_t signed_qualifier, Array<std::int32_t>& dest) {
    Wanted w;
    w.variable = variables::integer_variable_index(code);
    w.qualifier = signed_qualifier;
    w.exact_qualifier = true;
    w.kind = object_type == kNodeObject ? model::kNodeInteger : model::kElementInteger;
    return positioned_read(c, object_type, w, dest);
}

Status read_integer_array(CycleReader& c, std::int32_t object_type, std::int32_t code,
                        std::int32_t qualifier, Array<std::int32_t>& dest) {
    runtime::release(dest);
    if (object_type != kNodeObject && object_type != kElementObject) {
        c.read_position = 0;
        return c.is_open() ? Status::not_found : Status::not_open;
    }
    const bool nodes = object_type == kNodeObject;
    Wanted w;
    w.variable = variables::integer_variable_index(code);
    w.qualifier = qualifier;
    w.kind = nodes ? model::kNodeInteger : model::kElementInteger;
    c.read_position = 0;
    if (!c.is_open()) return Status::not_open;
    std::int64_t entry = 0;
    return walk_and_load(c, nodes, w, dest, entry);
}

Status read_displacements(CycleReader& c, Buffer<float>& dest) { return displacements(c, dest); }

Status read_material_fractions(CycleReader& c, std::int64_t slots, std::int64_t materials) {
    MaterialFractions& f = c.fractions;
    f = MaterialFractions{};
    c.read_position = 0;
    if (!c.is_open()) return Status::not_open;
    RecordReader& r = c.records();
    Status result = Status::ok;
    if (const Status st = find_section(c, "<MMVars>"); st != Status::ok) {
        result = st;
    } else if (!runtime::allocation_allowed(slots, sizeof(float)) ||
               (materials > 0 && slots > max_values_for(r.size()) / materials)) {
        // Every material gets an array of all slots: each one an allocation
        // the allocation layer allows, and together no more values than the
        // cycle file could hold. Refused before the first array is allocated.
        result = Status::damaged;
    } else {
        f.materials.resize(static_cast<std::size_t>(materials));
        const model::CycleHeader& h = c.model().header;
        const bool stored = !(h.count() < 7 && h.word(6) <= 0);
        if (!stored) result = Status::no_arrays;
        const Framing framing = bulk_framing(h);
        for (Array<float>& a : f.materials) {
            runtime::allocate(a, slots);
            if (!stored) continue;
            Array<float> stored_values;
            const Status st = read_array(r, framing, stored_values);
            if (st == Status::corrupt_stream) {
                // The next material's array still follows intact records.
                runtime::release(a);
                result = Status::corrupt_stream;
                continue;
            }
            if (st != Status::ok) {
                // The rest of the section cannot be found any more.
                for (Array<float>& m : f.materials) runtime::release(m);
                result = Status::damaged;
                break;
            }
            const std::int64_t kept = std::min(slots, stored_values.size());
            if (kept > 0)
                std::memcpy(a.data(), stored_values.data(),
                            static_cast<std::size_t>(kept) * sizeof(float));
        }
    }

    c.read_position = 0;
    const Status cover =
        read_real_array(c, kElementObject, -model::kCoverFractionVariable, 1, f.cover);
    if (is_error(cover) && !is_error(result)) result = cover;
    f.loaded = true;
    f.status = result;
    return result;
}

Status read_rigid_body_data(CycleReader& c, Array<std::int32_t>& numbers, Array<float>& data) {
    return read_body_section(c, "<RigidBodyData>", numbers, data);
}

Status read_joint_data(CycleReader& c, Array<std::int32_t>& numbers, Array<float>& data) {
    return read_body_section(c, "<JointData>", numbers, data);
}

}  // namespace qv::format
