#include "host/variables.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <memory>

#include "host/error.h"

namespace qvhost {

bool is_number(const std::string& s) {
    if (s.empty()) return false;
    std::size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

const Variable* find_variable(const ResultsLibrary& lib, const std::vector<Variable>& dir, const std::string& var,
                              std::int32_t part, Want want) {
    const bool by_index = is_number(var);
    std::int64_t index = 0;
    if (by_index) {
        errno = 0;
        const long long v = std::strtoll(var.c_str(), nullptr, 10);
        if (errno || v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
            throw UsageError("VAR must be a whole number, not '" + var + "'");
        index = v;
    }
    const Variable* best = nullptr;
    auto rank = [&](const Variable& v) {
        if (want == Want::First) return 0;
        int r = v.real() ? 0 : 2;
        if (want == Want::Any && v.element()) r += 4;
        if (std::abs(v.qualifier) != 1) r += 1;  // of any part: part 1 first
        return r;
    };
    for (const Variable& v : dir) {
        if (!v.node() && !v.element()) continue;
        if (want == Want::Node && !v.node()) continue;
        if (want == Want::Element && !v.element()) continue;
        if (part != 0 && std::abs(v.qualifier) != std::abs(part)) continue;
        if (by_index ? v.index != index : !lib.names_entry(var, v)) continue;
        if (!best || rank(v) < rank(*best)) best = &v;
    }
    return best;
}

std::int64_t first_listing(const Analysis& analysis, const std::string& var, std::int32_t part, Want want,
                           bool keep_going, Variable& found) {
    const std::int64_t n = static_cast<std::int64_t>(analysis.steps().size());
    std::unique_ptr<Error> unread;
    for (std::int64_t k = 0; k < n; ++k) {
        try {
            const CycleReader reader(analysis, static_cast<std::int32_t>(k));
            if (const Variable* v = find_variable(analysis.library(), reader.variables(), var, part, want)) {
                found = *v;
                return k;
            }
        } catch (const Error& e) {
            if (!keep_going || !e.unreadable_file()) throw;
            if (!unread) unread = std::make_unique<Error>(e);
        }
    }
    if (unread) throw *unread;
    return -1;
}

std::vector<std::string> gap_warnings(const Analysis& analysis, const std::vector<SeriesGap>& gaps,
                                      const std::string& variable) {
    std::vector<std::string> out;
    std::vector<std::int64_t> absent;
    for (const SeriesGap& g : gaps) {
        if (g.whole_step)
            out.push_back(analysis.describe_step(g.step) + ": " + g.message + ": left out");
        else if (g.status == QVRES_E_NOT_STORED)
            absent.push_back(g.step);
        else
            out.push_back(analysis.describe_step(g.step) + ": " + g.message + ": no value from it");
    }
    if (!variable.empty() && !absent.empty()) {
        // The first few by name, the rest counted.
        constexpr std::size_t kNamed = 4;
        std::string s = variable + " is not stored in " + std::to_string(absent.size()) + " of " +
                        std::to_string(analysis.steps().size()) + " steps: ";
        for (std::size_t k = 0; k < absent.size() && k < kNamed; ++k)
            s += (k ? ", " : "") + analysis.describe_step(absent[k]);
        if (absent.size() > kNamed) s += " and " + std::to_string(absent.size() - kNamed) + " more";
        out.push_back(s);
    }
    return out;
}

}  // namespace qvhost
