// Queries derived from the constant catalogue rows.
#include "variables/catalogue_queries.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qv::variables {
namespace {

// The real row whose short name is exactly `name`, lowest code first.
const RealRow* real_named(std::string_view name) {
    for (int r = 0; r < kRealRowCount; ++r)
        if (name == kRealRows[r].short_name) return &kRealRows[r];
    return nullptr;
}

bool same_exponents(const RealRow& a, const RealRow& b) {
    return a.length == b.length && a.time == b.time && a.mass == b.mass &&
           a.temperature == b.temperature;
}

// Where the axis letter X of a vector component name stands, npos when the
// name has none: as a word of its own followed by '-', or last after a blank.
std::size_t axis_position(std::string_view name) {
    for (std::size_t p = 0; p < name.size(); ++p) {
        if (name[p] != 'X' || (p > 0 && name[p - 1] != ' ')) continue;
        if (p + 1 < name.size() && name[p + 1] == '-') return p;
        if (p + 1 == name.size() && p > 0) return p;
    }
    return std::string_view::npos;
}

void set_name(Components& c, const std::string& name) {
    const std::size_t n = std::min(name.size(), sizeof c.group_name - 1);
    std::memcpy(c.group_name, name.data(), n);
    c.group_name[n] = '\0';
}

// Fills `c` with the members named by `names` when all exist with the
// exponents of `row` and `row` is one of them.
bool take_members(Components& c, const RealRow& row, const std::string* names, int count) {
    bool found_self = false;
    for (int m = 0; m < count; ++m) {
        const RealRow* r = real_named(names[m]);
        if (!r || !same_exponents(*r, row)) return false;
        c.members[m] = r->code;
        if (r == &row) {
            found_self = true;
            c.component = m;
        }
    }
    c.count = count;
    return found_self;
}

constexpr const char* kTensorGroups[] = {"STRESS", "STRAIN", "STN.RATE"};
constexpr const char* kTensorParts[] = {"XX", "YY", "ZZ", "XY", "YZ", "ZX"};

}  // namespace

bool multi_material(std::int32_t variable) {
    switch (variable) {
    case 54:  // IVR_EPS
    case 81:  // IVR_INT_ENERGY
    case 83:  // IVR_MASS
    case 85:  // IVR_COMPRESSION
    case 86:  // IVR_TEMP
    case 87:  // IVR_ALPHA
    case 88:  // IVR_BURN_FRAC
    case 89:  // IVR_DAMAGE
        return true;
    default:
        return false;
    }
}

Components components_of(std::int32_t real_code) {
    const RealRow* row = real_row(real_code);
    if (!row) return {};
    const std::string_view name = row->short_name;
    Components c;
    for (const char* g : kTensorGroups) {
        const std::string group = g;
        if (name.size() != group.size() + 3 || name.substr(0, group.size() + 1) != group + " ")
            continue;
        std::string names[6];
        for (int m = 0; m < 6; ++m) names[m] = group + " " + kTensorParts[m];
        if (!take_members(c, *row, names, 6)) return {};
        c.group = Group::symmetric_tensor;
        set_name(c, group);
        return c;
    }
    // The name with its axis letter at the X position.
    std::size_t p = axis_position(name);
    if (p == std::string_view::npos) {
        // The Y or Z member: find where X would stand.
        for (const char axis : {'Y', 'Z'}) {
            std::string x(name);
            for (std::size_t q = 0; q < x.size(); ++q) {
                if (x[q] != axis) continue;
                x[q] = 'X';
                const std::size_t at = axis_position(x);
                if (at == q) {
                    p = q;
                    break;
                }
                x[q] = axis;
            }
            if (p != std::string_view::npos) break;
        }
        if (p == std::string_view::npos) return {};
    }
    std::string names[3];
    for (int m = 0; m < 3; ++m) {
        names[m] = std::string(name);
        names[m][p] = "XYZ"[m];
    }
    if (!take_members(c, *row, names, 3)) return {};
    // The group name: without the axis and the '-' after it or the blank
    // before it.
    std::string group(name);
    if (p + 1 < group.size())
        group.erase(p, 2);
    else
        group.erase(p - 1, 2);
    c.group = Group::vector;
    set_name(c, group);
    return c;
}

std::size_t normalised_name(std::string_view name, char* out, std::size_t size) {
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
    while (!name.empty() && blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && blank(name.back())) name.remove_suffix(1);
    std::size_t n = 0;
    for (const char ch : name) {
        if (n + 1 >= size) break;
        char o = ch;
        if (o >= 'a' && o <= 'z') o = static_cast<char>(o - 'a' + 'A');
        if (o == '.' || o == ' ') o = '_';
        out[n++] = o;
    }
    if (size > 0) out[n] = '\0';
    return n;
}

const IntegerRow* integer_row(std::int32_t code) {
    if (code < 1 || code > kIntegerRowCount) return nullptr;
    const IntegerRow& r = kIntegerRows[code - 1];
    return r.code == code ? &r : nullptr;
}

namespace {

// Every catalogue name and identifier of one family, normalised, with its
// code; sorted by name, equal names by code, so that the first match is
// the lowest code. Built once from the constant rows and constant after.
struct NameKey {
    std::string name;
    std::int32_t code;
    bool operator<(const NameKey& o) const { return name != o.name ? name < o.name : code < o.code; }
};

std::vector<NameKey> name_keys(bool real) {
    std::vector<NameKey> keys;
    const int rows = real ? kRealRowCount : kIntegerRowCount;
    keys.reserve(2 * static_cast<std::size_t>(rows));
    char text[128];
    for (int r = 0; r < rows; ++r) {
        const std::int32_t code = real ? kRealRows[r].code : kIntegerRows[r].code;
        for (const char* t : {real ? kRealRows[r].short_name : kIntegerRows[r].short_name,
                              real ? kRealRows[r].identifier : kIntegerRows[r].identifier}) {
            const std::size_t n = normalised_name(t, text, sizeof text);
            if (n > 0) keys.push_back({std::string(text, n), code});
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

const std::vector<NameKey>& names_of(bool real) {
    // Function-local constants: made once, on first use, by whichever thread
    // gets there first (the language makes that safe), and never changed.
    static const std::vector<NameKey> reals = name_keys(true), integers = name_keys(false);
    return real ? reals : integers;
}

}  // namespace

std::int32_t find_variable(bool real, std::string_view name) {
    char wanted[128];
    // A name longer than every catalogue text matches none of them.
    if (name.size() >= sizeof wanted - 1 &&
        normalised_name(name, wanted, sizeof wanted) >= sizeof wanted - 1)
        return 0;
    const std::size_t n = normalised_name(name, wanted, sizeof wanted);
    if (n == 0) return 0;
    const std::vector<NameKey>& keys = names_of(real);
    const NameKey probe{std::string(wanted, n), INT32_MIN};
    const auto at = std::lower_bound(keys.begin(), keys.end(), probe);
    return at != keys.end() && at->name == probe.name ? at->code : 0;
}

}  // namespace qv::variables
