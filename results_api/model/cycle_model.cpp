// Lookups in a cycle's result directory.
#include "model/cycle_model.h"

#include <algorithm>

namespace qv::model {
namespace {

using Key = DirectoryLookup::Key;

bool key_less(const Key& a, const Key& b) {
    if (a.variable != b.variable) return a.variable < b.variable;
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.qualifier != b.qualifier) return a.qualifier < b.qualifier;
    return a.entry < b.entry;
}

}  // namespace

void index_directory(CycleModel& c) {
    DirectoryLookup& x = c.lookup;
    x = DirectoryLookup{};
    x.by_abs.reserve(static_cast<std::size_t>(c.directory.size()));
    x.by_sign.reserve(static_cast<std::size_t>(c.directory.size()));
    for (std::int64_t i = 1; i <= c.directory.size(); ++i) {
        const DirectoryEntry& e = c.directory(i);
        const std::int64_t q = e.qualifier;
        x.by_abs.push_back({e.variable, e.kind, q < 0 ? -q : q, i});
        x.by_sign.push_back({e.variable, e.kind, q, i});
    }
    std::sort(x.by_abs.begin(), x.by_abs.end(), key_less);
    std::sort(x.by_sign.begin(), x.by_sign.end(), key_less);
    x.built = true;
}

std::int64_t first_entry(const CycleModel& c, std::int64_t variable, std::int32_t kind,
                         std::int64_t qualifier, bool exact) {
    if (!c.lookup.built) {
        for (std::int64_t i = 1; i <= c.directory.size(); ++i)
            if (entry_matches(c.directory(i), variable, kind, qualifier, exact)) return i;
        return 0;
    }
    const std::vector<Key>& list = exact ? c.lookup.by_sign : c.lookup.by_abs;
    const Key key{variable, kind, qualifier, 0};
    const auto at = std::lower_bound(list.begin(), list.end(), key, key_less);
    if (at == list.end() || at->variable != variable || at->kind != kind ||
        at->qualifier != qualifier)
        return 0;
    return at->entry;
}

}  // namespace qv::model
