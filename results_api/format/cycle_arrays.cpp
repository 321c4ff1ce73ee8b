// Reading the arrays of the current cycle file.
//
// Choices where the file format leaves room:
// - Every node and element reader releases its destination first, so a
//   failed read never leaves the previous query's values behind.
// - A stored material fraction array longer than the number of structured
//   slots is cut to that number; a shorter one leaves the remaining slots 0.
// - A cycle file without "<MMVars>" gets zero-filled material arrays
//   (status 1), so that the fractions read as 0 rather than fail.
// - A cycle file without "<Displacement>" (or whose header says it holds no
//   array), and a call with no cycle file open, leave the displacement array
//   released, so that the query fails rather than return old values; the
//   rigid body and joint readers do the same with their arrays.
// - A corrupt zlib stream leaves its destination unallocated; the values it
//   did not produce are never handed out.
// - The material arrays are sized from the store (structured slots of the
//   base file, material count); an allocation those sizes cannot justify
//   (more values together than the cycle file could hold, more than the
//   allocation layer allows) is refused as damage instead of reaching the
//   fatal allocation exit.
#include "format/cycle_arrays.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "format/cycle_file.h"
#include "format/tag_search.h"
#include "model/store.h"
#include "variables/catalogue.h"

namespace qv::format {
namespace {

using model::DirectoryEntry;
using model::ModelStore;
using runtime::Array;
using runtime::Connection;


// Out values of the material, rigid body and joint readers.
constexpr std::int32_t kStatusRead = 0;
constexpr std::int32_t kStatusMissing = 1;
constexpr std::int32_t kStatusDamaged = 2;

Connection* results_unit() { return runtime::connection(runtime::unit::kResults); }

// What a directory walk looks for.
struct Wanted {
    std::int64_t variable = 0;
    std::int32_t qualifier = 0;
    bool exact_qualifier = false;  // sign included (layered integer arrays)
    std::int32_t kind = 0;
};

bool matches(const DirectoryEntry& e, const Wanted& w) {
    return model::entry_matches(e, w.variable, w.kind, w.qualifier, w.exact_qualifier);
}

// Whether an entry of this kind owns an array in the node (element) section.
bool owns_array(std::int32_t kind, bool nodes) {
    return nodes ? (kind == model::kNodeInteger || kind == model::kNodeReal)
                 : (kind == model::kElementInteger || kind == model::kElementReal);
}

const char* section_tag(bool nodes) { return nodes ? "<Node>" : "<Element>"; }

// Whether the header lets the section hold arrays: word 3 for nodes, 4 for
// elements.
bool section_holds_arrays(const ModelStore& s, bool nodes) {
    return s.cycle_header.word(nodes ? 3 : 4) > 0;
}

// One array into `dest`, which ends unallocated on any error. Sized from the
// stored count (single form) or total (chunked form); with `fit_to_values`
// a chunked array keeps only the values its chunks held.
template <class T>
int load_array(Connection& c, Framing framing, Array<T>& dest, bool fit_to_values) {
    if (framing == Framing::Single || fit_to_values) return read_array(c, framing, dest);
    runtime::release(dest);
    std::int32_t total = 0;
    if (const int st = read_chunked_total(c, total); st != kReadOk) return st;
    runtime::allocate(dest, total);
    std::int64_t values = 0;
    const int st = read_chunks(c, dest.data(), total, values);
    if (st != kReadOk) runtime::release(dest);
    return st;
}

// Walks the directory from entry `after` + 1, the file standing after the
// array of entry `after` (after the tag when 0). Skips the arrays of entries
// that are not wanted and loads the first wanted one; `entry` receives its
// number.
template <class T>
int walk_and_load(Connection& c, const ModelStore& s, bool nodes, std::int64_t after,
                  const Wanted& w, Array<T>& dest, bool fit_to_values, std::int64_t& entry) {
    if (!section_holds_arrays(s, nodes)) return kNoArrays;
    const Framing framing = bulk_framing(s.cycle_header);
    const std::int64_t count = s.directory.size();
    for (std::int64_t i = after + 1; i <= count; ++i) {
        const DirectoryEntry& e = s.directory(i);
        if (matches(e, w)) {
            entry = i;
            return load_array(c, framing, dest, fit_to_values);
        }
        if (owns_array(e.kind, nodes) && skip_array(c, framing) != kReadOk) return kReadError;
    }
    return kArrayNotFound;
}

// The walk of the real and layered integer readers: it continues from the
// read position when the wanted array lies ahead of it, and otherwise
// starts from the section tag.
template <class T>
int positioned_read(std::int32_t object_type, const Wanted& w, Array<T>& dest, bool fit_to_values) {
    runtime::release(dest);
    ModelStore& s = model::store();
    std::int64_t position = s.read_position;
    // Until an array is loaded the file position is not worth remembering.
    s.read_position = 0;
    Connection* c = results_unit();
    if (!c) return kUnitNotOpen;
    if (object_type != kNodeObject && object_type != kElementObject) return kArrayNotFound;
    const bool nodes = object_type == kNodeObject;

    // A position in the other section is of no use.
    if (nodes ? position <= 0 : position > 0) position = 0;
    const std::int64_t count = s.directory.size();
    std::int64_t after = std::llabs(static_cast<long long>(position));
    if (after > count) after = 0;
    // The wanted array behind the position: start again from the tag.
    for (std::int64_t i = 1; i <= after; ++i)
        if (matches(s.directory(i), w)) {
            after = 0;
            break;
        }
    if (after == 0 && find_tag(*c, section_tag(nodes)) != 0) return kSectionMissing;

    std::int64_t entry = 0;
    const int st = walk_and_load(*c, s, nodes, after, w, dest, fit_to_values, entry);
    if (st != kReadOk) return st;
    // Behind the last entry nothing is left to continue with.
    if (entry < count) s.read_position = static_cast<std::int32_t>(nodes ? entry : -entry);
    return kReadOk;
}

std::int64_t position_in_list(const std::int32_t* list, int slots, std::int32_t code) {
    for (int i = 0; i < slots; ++i)
        if (list[i] == code) return i + 1;
    return 0;
}

int read_body_section(const char* tag, Array<std::int32_t>& numbers, Array<float>& data,
                      std::int32_t& status) {
    ModelStore& s = model::store();
    runtime::release(numbers);
    runtime::release(data);
    status = kStatusMissing;
    s.read_position = 0;
    Connection* c = results_unit();
    if (!c) return kUnitNotOpen;
    if (find_tag(*c, tag) != 0) return kSectionMissing;
    status = kStatusRead;
    // Below 8 header words, word 2 says whether the arrays are there.
    if (s.cycle_header.count() < 8 && s.cycle_header.word(2) <= 0) return kNoArrays;
    const Framing framing = body_framing(s.cycle_header);
    int st = load_array(*c, framing, numbers, false);
    if (st == kReadOk) st = load_array(*c, framing, data, false);
    if (st != kReadOk) {
        runtime::release(numbers);
        runtime::release(data);
        status = kStatusDamaged;
    }
    return st;
}

}  // namespace

std::int64_t real_variable_index(std::int32_t code) {
    if (code < 0) return -static_cast<std::int64_t>(code);
    return position_in_list(variables::real_code_list(), variables::kRealSlots, code);
}

std::int64_t integer_variable_index(std::int32_t code) {
    if (code < 0) return -static_cast<std::int64_t>(code);
    const std::int64_t i =
        position_in_list(variables::integer_code_list(), variables::kIntegerSlots, code);
    return i != 0 ? i : code;
}

int read_real_array(std::int32_t object_type, std::int32_t code, std::int32_t qualifier,
                    Array<float>& dest) {
    Wanted w;
    w.variable = real_variable_index(code);
    w.qualifier = qualifier;
    w.kind = object_type == kNodeObject ? model::kNodeReal : model::kElementReal;
    return positioned_read(object_type, w, dest, true);
}

int read_layered_integer_array(std::int32_t object_type, std::int32_t code,
                               std::int32_t signed_qualifier, Array<std::int32_t>& dest) {
    Wanted w;
    w.variable = integer_variable_index(code);
    w.qualifier = signed_qualifier;
    w.exact_qualifier = true;
    w.kind = object_type == kNodeObject ? model::kNodeInteger : model::kElementInteger;
    return positioned_read(object_type, w, dest, false);
}

int read_integer_array(std::int32_t object_type, std::int32_t code, std::int32_t qualifier,
                       Array<std::int32_t>& dest) {
    runtime::release(dest);
    ModelStore& s = model::store();
    s.read_position = 0;
    Connection* c = results_unit();
    if (!c) return kUnitNotOpen;
    if (object_type != kNodeObject && object_type != kElementObject) return kArrayNotFound;
    const bool nodes = object_type == kNodeObject;
    Wanted w;
    w.variable = integer_variable_index(code);
    w.qualifier = qualifier;
    w.kind = nodes ? model::kNodeInteger : model::kElementInteger;
    if (find_tag(*c, section_tag(nodes)) != 0) return kSectionMissing;
    std::int64_t entry = 0;
    return walk_and_load(*c, s, nodes, 0, w, dest, false, entry);
}

int read_displacements() {
    ModelStore& s = model::store();
    runtime::release(s.displacements);
    s.read_position = 0;
    Connection* c = results_unit();
    if (!c) return kUnitNotOpen;
    if (find_tag(*c, "<Displacement>") != 0) return kSectionMissing;
    // From 7 header words on, word 2 is not consulted.
    if (s.cycle_header.count() < 7 && s.cycle_header.word(2) <= 0) return kNoArrays;
    return load_array(*c, bulk_framing(s.cycle_header), s.displacements, false);
}

int read_material_fractions(std::int32_t& status) {
    ModelStore& s = model::store();
    s.material_fractions.clear();
    runtime::release(s.cover_fraction);
    status = kStatusMissing;
    s.read_position = 0;
    Connection* c = results_unit();
    if (!c) return kUnitNotOpen;

    const std::int64_t slots = model::structured_slots(s);
    const std::int64_t materials = std::max<std::int32_t>(s.material_count, 0);
    // Every material gets an array of all slots: each one an allocation the
    // allocation layer allows, and together no more values than the cycle
    // file could hold. Refused here, before the first array is allocated.
    if (!runtime::allocation_allowed(slots, sizeof(float)) ||
        (materials > 0 && slots > max_values_for(c->size) / materials)) {
        status = kStatusDamaged;
        s.mmvars_loaded = true;
        return kReadError;
    }
    s.material_fractions.resize(static_cast<std::size_t>(materials));

    int result = kReadOk;
    if (find_tag(*c, "<MMVars>") != 0) {
        result = kSectionMissing;
        for (Array<float>& a : s.material_fractions) runtime::allocate(a, slots);
    } else {
        status = kStatusRead;
        const bool stored = !(s.cycle_header.count() < 7 && s.cycle_header.word(6) <= 0);
        if (!stored) result = kNoArrays;
        const Framing framing = bulk_framing(s.cycle_header);
        for (Array<float>& a : s.material_fractions) {
            runtime::allocate(a, slots);
            if (!stored) continue;
            Array<float> stored_values;
            const int st = read_array(*c, framing, stored_values);
            if (st == kInflateError) {
                // The next material's array still follows intact records.
                runtime::release(a);
                result = kInflateError;
                status = kStatusDamaged;
                continue;
            }
            if (st != kReadOk) {
                // The rest of the section cannot be found any more.
                for (Array<float>& m : s.material_fractions) runtime::release(m);
                result = kReadError;
                status = kStatusDamaged;
                break;
            }
            const std::int64_t kept = std::min(slots, stored_values.size());
            if (kept > 0)
                std::memcpy(a.data(), stored_values.data(),
                            static_cast<std::size_t>(kept) * sizeof(float));
        }
    }

    s.read_position = 0;
    const int cover =
        read_real_array(kElementObject, -model::kCoverFractionVariable, 1, s.cover_fraction);
    if ((cover == kReadError || cover == kInflateError) &&
        (result == kReadOk || result == kNoArrays || result == kSectionMissing))
        result = cover;
    s.mmvars_loaded = true;
    return result;
}

int read_rigid_body_data(std::int32_t& status) {
    ModelStore& s = model::store();
    return read_body_section("<RigidBodyData>", s.rigid_body_numbers, s.rigid_body_data, status);
}

int read_joint_data(std::int32_t& status) {
    ModelStore& s = model::store();
    return read_body_section("<JointData>", s.joint_numbers, s.joint_data, status);
}

}  // namespace qv::format
