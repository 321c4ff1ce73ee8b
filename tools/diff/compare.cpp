// The comparison of two analyses, model and cycles.
#include "diff/compare.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <tuple>
#include <type_traits>

#include "host/processors.h"
#include "host/workers.h"

namespace qvdiff {
namespace {

using qvhost::Analysis;
using qvhost::CycleReader;
using qvhost::Error;
using qvhost::Variable;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What a run of value comparisons found. The place reported is the largest
// difference beyond tolerance, or the largest one when all are within it.
struct Tally {
    std::int64_t compared = 0, differing = 0, beyond = 0;
    double largest = -1.0, largest_beyond = -1.0;
    std::int64_t at = -1, at_beyond = -1;
    double a = 0.0, b = 0.0, a_beyond = 0.0, b_beyond = 0.0;
};

// Compares n values, a[i * sa] with b[i * sb], position i counting from
// `first`. Equal values, the common case, cost one comparison each.
template <class T>
void tally(Tally& t, const T* a, std::size_t sa, const T* b, std::size_t sb, std::size_t n, const Tolerance& tol,
           std::int64_t first = 0) {
    t.compared += static_cast<std::int64_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const T x = a[i * sa], y = b[i * sb];
        if (x == y) continue;
        const double dx = static_cast<double>(x), dy = static_cast<double>(y);
        double d;
        if constexpr (std::is_floating_point_v<T>) {
            if (std::isnan(dx) && std::isnan(dy)) continue;
            d = std::isnan(dx) || std::isnan(dy) ? kInfinity : std::fabs(dx - dy);
            if (std::isnan(d)) d = kInfinity;
        } else {
            d = std::fabs(dx - dy);
        }
        ++t.differing;
        const std::int64_t at = first + static_cast<std::int64_t>(i);
        if (d > t.largest) t.largest = d, t.at = at, t.a = dx, t.b = dy;
        if (!agree(dx, dy, tol)) {
            ++t.beyond;
            if (d > t.largest_beyond) t.largest_beyond = d, t.at_beyond = at, t.a_beyond = dx, t.b_beyond = dy;
        }
    }
}

// Arrays of different lengths: the common part compared, every value past
// it beyond tolerance.
template <class T>
Tally tally_arrays(const std::vector<T>& a, const std::vector<T>& b, const Tolerance& tol) {
    Tally t;
    const std::size_t n = std::min(a.size(), b.size());
    tally(t, a.data(), 1, b.data(), 1, n, tol);
    const std::size_t extra = std::max(a.size(), b.size()) - n;
    if (extra > 0) {
        t.compared += static_cast<std::int64_t>(extra);
        t.differing += static_cast<std::int64_t>(extra);
        t.beyond += static_cast<std::int64_t>(extra);
        if (t.largest_beyond < kInfinity) {
            t.largest = t.largest_beyond = kInfinity;
            t.at = t.at_beyond = static_cast<std::int64_t>(n);
            t.a = t.a_beyond = a.size() > n ? static_cast<double>(a[n]) : std::nan("");
            t.b = t.b_beyond = b.size() > n ? static_cast<double>(b[n]) : std::nan("");
        }
    }
    return t;
}

// An array result for `names` (the first one is the name shown).
// `real`: 1 or 0 when they are the names of a real or integer variable.
ArrayResult array(const Tolerances& tolerances, const std::vector<std::string>& names, std::string unit,
                  Place::Kind on = Place::None, int real = -1) {
    ArrayResult r;
    r.name = names.front();
    r.on = on;
    r.unit = std::move(unit);
    r.integers = real == 0;
    r.tolerance = tolerances.lookup(names, &r.tolerance_name, real);
    if (r.tolerance.ignore) r.status = ArrayResult::Status::Ignored;
    return r;
}

ArrayResult alone(const Tolerances& tolerances, const std::vector<std::string>& names, std::string unit,
                  bool in_a, Place::Kind on = Place::None, int real = -1) {
    ArrayResult r = array(tolerances, names, std::move(unit), on, real);
    if (r.status != ArrayResult::Status::Ignored)
        r.status = in_a ? ArrayResult::Status::OnlyA : ArrayResult::Status::OnlyB;
    return r;
}

// Fills the counts and the place of `r` from `t`; `place` maps a position
// to where it is.
template <class PlaceOf>
void finish(ArrayResult& r, const Tally& t, PlaceOf place) {
    r.compared = t.compared, r.differing = t.differing, r.beyond = t.beyond;
    const bool beyond = t.at_beyond >= 0;
    const std::int64_t at = beyond ? t.at_beyond : t.at;
    if (at < 0) return;
    r.largest = beyond ? t.largest_beyond : t.largest;
    r.a = beyond ? t.a_beyond : t.a;
    r.b = beyond ? t.b_beyond : t.b;
    r.place = place(at);
}

std::string part_suffix(const Variable& v) {
    return std::abs(v.qualifier) == 1 ? std::string() : "_part" + std::to_string(std::abs(v.qualifier));
}

std::string base_name(const Variable& v) { return v.name.empty() ? "VAR" + std::to_string(v.index) : v.name; }

// The names a directory entry goes by, most particular first.
std::vector<std::string> names_of(const Variable& v, const std::string& column = {}) {
    const std::string shown = base_name(v) + part_suffix(v), base = base_name(v);
    if (column.empty()) return {shown, base, std::to_string(v.index)};
    return {shown + "[" + column + "]", base + "[" + column + "]", shown, base, std::to_string(v.index)};
}

// The directory entries of a cycle as (kind, qualifier, index), the k-th of
// each key in directory order.
using Key = std::tuple<std::int32_t, std::int32_t, std::int32_t, int>;
std::vector<Key> keys_of(const std::vector<Variable>& dir) {
    std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, int> seen;
    std::vector<Key> keys;
    for (const Variable& v : dir) {
        const int n = seen[{v.kind, v.qualifier, v.index}]++;
        keys.emplace_back(v.kind, v.qualifier, v.index, n);
    }
    return keys;
}

int find_material(const Analysis& analysis, const std::string& name) {
    for (const qvhost::Material& m : analysis.materials())
        if (m.name == name) return m.number;
    return 0;
}

class PairComparison {
public:
    PairComparison(const Analysis& a, const Analysis& b, const Tolerances& tolerances, const Numbering& numbering,
                   const CyclePair& pair)
        : a_(a), b_(b), tol_(tolerances), num_(numbering), ra_(a, pair.a), rb_(b, pair.b) {}

    std::vector<ArrayResult> run() {
        displacements();
        entries();
        fractions();
        // Rigid bodies and joints are not compared, but a file cut inside
        // their sections is as damaged as one cut anywhere else: reading the
        // first body and joint reads each section whole.
        std::array<float, 12> body;
        std::array<float, 16> joint;
        for (CycleReader* r : {&ra_, &rb_}) {
            r->rigid_body(1, body);
            r->joint(1, 1, joint);
        }
        return std::move(out_);
    }

private:
    const Analysis& a_;
    const Analysis& b_;
    const Tolerances& tol_;
    const Numbering& num_;
    CycleReader ra_, rb_;
    std::vector<ArrayResult> out_;

    Place node(std::int64_t i) const { return num_.node(i); }
    static Place::Kind on(const Variable& v) { return v.node() ? Place::Node : Place::Element; }
    static int family(const Variable& v) { return v.real() ? 1 : 0; }
    Place element(std::int64_t i) const { return num_.element(i); }

    void displacements() {
        std::vector<float> da, db;
        const bool in_a = ra_.displacements(da), in_b = rb_.displacements(db);
        const std::vector<std::string> names = {"DISPLACEMENT"};
        if (!in_a && !in_b) return;
        if (in_a != in_b) return out_.push_back(alone(tol_, names, "m", in_a, Place::Node));
        ArrayResult r = array(tol_, names, "m", Place::Node);
        if (r.status == ArrayResult::Status::Compared)
            finish(r, tally_arrays(da, db, r.tolerance), [&](std::int64_t at) {
                Place p = node(at / 3);
                p.component = static_cast<int>(at % 3);
                return p;
            });
        out_.push_back(std::move(r));
    }

    void entries() {
        const std::vector<Variable>& da = ra_.variables();
        const std::vector<Variable>& db = rb_.variables();
        const std::vector<Key> ka = keys_of(da), kb = keys_of(db);
        std::map<Key, std::size_t> in_b;
        for (std::size_t i = 0; i < kb.size(); ++i) in_b[kb[i]] = i;
        std::vector<bool> matched(db.size(), false);
        for (std::size_t i = 0; i < da.size(); ++i) {
            const Variable& v = da[i];
            if (!v.node() && !v.element()) continue;
            const auto it = in_b.find(ka[i]);
            if (it == in_b.end()) {
                out_.push_back(alone(tol_, names_of(v), qvhost::unit_of(a_.library(), v), true, on(v), family(v)));
                continue;
            }
            matched[it->second] = true;
            entry(v);
        }
        for (std::size_t i = 0; i < db.size(); ++i)
            if (!matched[i] && (db[i].node() || db[i].element()))
                out_.push_back(
                    alone(tol_, names_of(db[i]), qvhost::unit_of(b_.library(), db[i]), false, on(db[i]), family(db[i])));
    }

    void entry(const Variable& v) {
        const std::int32_t part = std::abs(v.qualifier);
        ArrayResult r = array(tol_, names_of(v), qvhost::unit_of(a_.library(), v), on(v), family(v));
        if (r.status == ArrayResult::Status::Ignored && v.kind != qvhost::kElementReal)
            return out_.push_back(std::move(r));
        if (r.tolerance_name.empty() && (v.kind == qvhost::kNodeInt || v.kind == qvhost::kElementInt))
            r.tolerance = Tolerance{0.0, 0.0, false};
        const auto at_node = [&](std::int64_t at) { return node(at); };
        const auto at_element = [&](std::int64_t at) { return element(at); };
        switch (v.kind) {
        case qvhost::kNodeReal:
            finish(r, tally_arrays(ra_.node_reals(v.index, part), rb_.node_reals(v.index, part), r.tolerance), at_node);
            break;
        case qvhost::kNodeInt:
            finish(r, tally_arrays(ra_.node_ints(v.index, part), rb_.node_ints(v.index, part), r.tolerance), at_node);
            break;
        case qvhost::kElementInt:
            finish(r, tally_arrays(ra_.element_ints(v.index, part), rb_.element_ints(v.index, part), r.tolerance),
                   at_element);
            break;
        case qvhost::kElementReal: return element_reals(v, std::move(r));
        default: break;
        }
        out_.push_back(std::move(r));
    }

    // An element real variable: each element's own value, and for the
    // multi-material ones each reported material's column, matched by the
    // material's name.
    void element_reals(const Variable& v, ArrayResult own) {
        const std::int32_t part = std::abs(v.qualifier);
        const bool skip_own = own.status == ArrayResult::Status::Ignored;
        // An ignored variable may still have material columns that are not.
        if (skip_own) {
            bool any = false;
            if (a_.library().is_multi_material(v.index))
                for (const qvhost::Material& m : a_.materials())
                    if (m.euler_id >= 0 && !tol_.lookup(names_of(v, m.name), nullptr, family(v)).ignore) any = true;
            if (!any) return out_.push_back(std::move(own));
        }
        const qvhost::ElementReals ea = ra_.element_reals(v.index, part), eb = rb_.element_reals(v.index, part);
        const auto at_element = [&](std::int64_t at) { return element(at); };
        if (!skip_own) finish(own, tally_arrays(ea.values, eb.values, own.tolerance), at_element);
        out_.push_back(std::move(own));
        const std::size_t pa = ea.materials.size(), pb = eb.materials.size();
        std::vector<bool> matched(pb, false);
        for (std::size_t ca = 0; ca < pa; ++ca) {
            const std::string& name = a_.materials()[static_cast<std::size_t>(ea.materials[ca] - 1)].name;
            const std::vector<std::string> names = names_of(v, name);
            std::size_t cb = pb;
            for (std::size_t k = 0; k < pb; ++k)
                if (b_.materials()[static_cast<std::size_t>(eb.materials[k] - 1)].name == name) cb = k;
            if (cb == pb) {
                out_.push_back(alone(tol_, names, qvhost::unit_of(a_.library(), v), true, Place::Element, family(v)));
                continue;
            }
            matched[cb] = true;
            ArrayResult r = array(tol_, names, qvhost::unit_of(a_.library(), v), Place::Element, family(v));
            if (r.status == ArrayResult::Status::Compared) {
                const std::size_t na = ea.material_values.size() / pa, nb = eb.material_values.size() / pb;
                Tally t;
                tally(t, ea.material_values.data() + ca, pa, eb.material_values.data() + cb, pb, std::min(na, nb),
                      r.tolerance);
                finish(r, t, at_element);
            }
            out_.push_back(std::move(r));
        }
        for (std::size_t k = 0; k < pb; ++k)
            if (!matched[k])
                out_.push_back(alone(tol_, names_of(v, b_.materials()[static_cast<std::size_t>(eb.materials[k] - 1)].name),
                                     qvhost::unit_of(b_.library(), v), false, Place::Element, family(v)));
    }

    // The volume fraction of each material both analyses have.
    void fractions() {
        for (const qvhost::Material& m : a_.materials()) {
            const std::vector<std::string> names = {"MATERIAL_FRACTION[" + m.name + "]", "MATERIAL_FRACTION"};
            const int in_b = find_material(b_, m.name);
            std::vector<float> fa, fb;
            const bool has_a = ra_.material_fractions(m.number, fa);
            const bool has_b = in_b > 0 && rb_.material_fractions(in_b, fb);
            if (!has_a && !has_b) continue;
            if (has_a != has_b) {
                out_.push_back(alone(tol_, names, "", has_a, Place::Element));
                continue;
            }
            ArrayResult r = array(tol_, names, "", Place::Element);
            if (r.status == ArrayResult::Status::Compared)
                finish(r, tally_arrays(fa, fb, r.tolerance), [&](std::int64_t at) { return element(at); });
            out_.push_back(std::move(r));
        }
    }
};

}  // namespace

// ---- Numbering ------------------------------------------------------------------

Numbering::Numbering(const Analysis& analysis) {
    const qvhost::Model& m = analysis.model();
    for (const qvhost::Part& p : analysis.parts()) part_names_.push_back(p.name);
    structured_elements_ = m.structured_elements;
    unstructured_part_.assign(static_cast<std::size_t>(std::max<std::int64_t>(m.unstructured_elements, 0)), 0);
    for (std::int32_t p = m.structured_parts() + 1; p <= m.parts(); ++p)
        for (std::int32_t row : analysis.part_elements(p))
            if (row >= 1 && static_cast<std::size_t>(row) <= unstructured_part_.size()) unstructured_part_[row - 1] = p;
    if (analysis.steps().empty()) return;
    const auto blocks_of = [](const qvhost::ElementLayout& l) {
        std::vector<Block> out;
        for (const qvhost::ElementLayout::Run& r : l.structured) {
            Block b;
            b.first = r.first, b.part = r.part;
            for (int d = 0; d < 3; ++d) b.extent[d] = r.extent[d], b.origin[d] = r.origin[d];
            out.push_back(b);
        }
        return out;
    };
    try {
        const qvhost::CycleReader first(analysis, 0);
        nodes_ = blocks_of(first.layout(qvres_request{QVRES_NODE_INTEGERS, 0, 0}, "node layout"));
        elements_ = blocks_of(first.layout(qvres_request{QVRES_ELEMENT_INTEGERS, 0, 0}, "element layout"));
    } catch (const Error&) {
        // Places are then told by number alone; the comparison itself
        // reports a cycle that cannot be read.
        nodes_.clear(), elements_.clear();
    }
}

std::string Numbering::part_name(std::int32_t part) const {
    return part >= 1 && static_cast<std::size_t>(part) <= part_names_.size() ? part_names_[static_cast<std::size_t>(part - 1)]
                                                                                : std::string();
}

bool Numbering::locate(const std::vector<Block>& blocks, std::int64_t index, Place& p) {
    for (const Block& b : blocks) {
        const std::int64_t s = index - b.first, ek = b.extent[2], ej = b.extent[1];
        if (s < 0 || s >= b.extent[0] * ej * ek) continue;
        p.part = b.part;
        p.k = s % ek + b.origin[2], p.j = s / ek % ej + b.origin[1], p.i = s / (ej * ek) + b.origin[0];
        return true;
    }
    return false;
}

Place Numbering::node(std::int64_t index) const {
    Place p;
    p.kind = Place::Node;
    p.number = index + 1;
    if (locate(nodes_, index, p)) p.part_name = part_name(p.part);
    return p;
}

Place Numbering::element(std::int64_t index) const {
    Place p;
    p.kind = Place::Element;
    p.number = index + 1;
    if (index < 0) return p;
    if (index >= structured_elements_) {
        const std::int64_t u = index - structured_elements_;
        if (u < static_cast<std::int64_t>(unstructured_part_.size()) && unstructured_part_[u] > 0) {
            p.part = unstructured_part_[u];
            p.part_name = part_name(p.part);
        }
        return p;
    }
    if (locate(elements_, index, p)) p.part_name = part_name(p.part);
    return p;
}

std::string Place::text() const {
    std::string s;
    switch (kind) {
    case None: return "";
    case Node: s = "node "; break;
    case Element: s = "element "; break;
    case Value: s = "value "; break;
    }
    s += std::to_string(number);
    if (part > 0) {
        s += " (part " + std::to_string(part) + (part_name.empty() ? "" : " " + part_name);
        if (i > 0)
            s += std::string(kind == Element ? ", cell " : ", ") + std::to_string(i) + "," + std::to_string(j) + "," +
                 std::to_string(k);
        s += ")";
    }
    if (component >= 0) s += std::string(" ") + "xyz"[component];
    return s;
}

// ---- Cycles -----------------------------------------------------------------------

std::vector<CyclePair> match_cycles(const std::vector<qvhost::Step>& a, const std::vector<qvhost::Step>& b,
                                    Match match, double time_rtol) {
    std::vector<CyclePair> pairs;
    if (match == Match::Time) {
        // A NaN time matches a NaN time, an infinity the same infinity, a
        // finite time one within the tolerance.
        const auto same = [&](double x, double y) {
            if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
            if (std::isinf(x) || std::isinf(y)) return x == y;
            return x == y || std::fabs(x - y) <= time_rtol * std::max(std::fabs(x), std::fabs(y));
        };
        // Both in step order: where they do not match, a NaN time, which
        // has no place among the others, stands alone first; otherwise the
        // earlier time does.
        const auto a_first = [](double x, double y) { return std::isnan(x) || (!std::isnan(y) && x < y); };
        std::size_t i = 0, j = 0;
        while (i < a.size() || j < b.size()) {
            const bool both = i < a.size() && j < b.size();
            if (both && same(a[i].time, b[j].time))
                pairs.push_back({a[i++].index, b[j++].index});
            else if (j == b.size() || (both && a_first(a[i].time, b[j].time)))
                pairs.push_back({a[i++].index, -1});
            else
                pairs.push_back({-1, b[j++].index});
        }
        return pairs;
    }
    std::map<std::int32_t, std::int32_t> by_cycle;
    for (const qvhost::Step& s : b) by_cycle[s.cycle] = s.index;
    std::vector<bool> used(b.size(), false);
    for (const qvhost::Step& s : a) {
        const auto it = by_cycle.find(s.cycle);
        if (it == by_cycle.end()) {
            pairs.push_back({s.index, -1});
        } else {
            pairs.push_back({s.index, it->second});
            used[static_cast<std::size_t>(it->second)] = true;
        }
    }
    for (const qvhost::Step& s : b)
        if (!used[static_cast<std::size_t>(s.index)]) pairs.push_back({-1, s.index});
    // In time order: of A's cycle where there is one, else of B's.
    const auto time = [&](const CyclePair& p) {
        return p.a >= 0 ? a[static_cast<std::size_t>(p.a)].time : b[static_cast<std::size_t>(p.b)].time;
    };
    // NaN times after all others (in the order they came), so that the
    // order is one a sort can keep.
    std::stable_sort(pairs.begin(), pairs.end(), [&](const CyclePair& x, const CyclePair& y) {
        const double tx = time(x), ty = time(y);
        return std::isnan(tx) || std::isnan(ty) ? !std::isnan(tx) && std::isnan(ty) : tx < ty;
    });
    return pairs;
}

std::vector<PairResult> compare_cycles(const Analysis& a, const Analysis& b, const std::vector<CyclePair>& pairs,
                                       const Tolerances& tolerances, unsigned threads,
                                       const std::function<void(std::size_t)>& progress) {
    const Numbering numbering(a);
    std::vector<PairResult> results(pairs.size());
    struct Failure {
        bool failed = false;
        std::string message;
        qvres_status status = QVRES_OK;
    };
    std::vector<Failure> failures(pairs.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex progress_mutex;
    std::size_t finished = 0;
    auto work = [&] {
        for (std::size_t task; !stop && (task = next++) < pairs.size();) {
            const CyclePair& p = pairs[task];
            results[task].pair = p;
            try {
                if (p.a >= 0 && p.b >= 0)
                    results[task].arrays = PairComparison(a, b, tolerances, numbering, p).run();
            } catch (const Error& e) {
                failures[task] = {true, e.what(), e.status()};
            } catch (const std::bad_alloc&) {
                failures[task] = {true, a.describe_step(p.a) + ": out of memory", QVRES_E_NO_MEMORY};
            } catch (const std::exception& e) {
                failures[task] = {true, a.describe_step(p.a) + ": " + e.what(), QVRES_OK};
            }
            if (failures[task].failed) stop = true;
            if (p.a < 0 || p.b < 0 || !progress) continue;
            const std::lock_guard<std::mutex> lock(progress_mutex);
            progress(++finished);
        }
    };
    const std::size_t workers = std::min<std::size_t>(threads == 0 ? qvhost::usable_processors() : threads,
                                                      std::max<std::size_t>(pairs.size(), 1));
    qvhost::run_workers(workers, work);
    for (const Failure& f : failures)
        if (f.failed) throw Error(f.message, f.status);
    return results;
}

// ---- Models -----------------------------------------------------------------------

ModelResult compare_models(const Analysis& a, const Analysis& b, const Tolerances& tolerances) {
    ModelResult r;
    const qvhost::Model& ma = a.model();
    const qvhost::Model& mb = b.model();
    const auto differ = [&](const std::string& what, bool comparable) {
        r.differences.push_back(what);
        if (!comparable) r.comparable = false;
    };
    const auto both = [](auto x, auto y) { return "A " + std::to_string(x) + ", B " + std::to_string(y); };
    if (ma.structured_parts() != mb.structured_parts())
        differ("structured parts: " + both(ma.structured_parts(), mb.structured_parts()), false);
    if (ma.unstructured_parts != mb.unstructured_parts)
        differ("unstructured parts: " + both(ma.unstructured_parts, mb.unstructured_parts), false);
    if (ma.unstructured_nodes != mb.unstructured_nodes)
        differ("unstructured nodes: " + both(ma.unstructured_nodes, mb.unstructured_nodes), false);
    if (ma.unstructured_elements != mb.unstructured_elements)
        differ("unstructured elements: " + both(ma.unstructured_elements, mb.unstructured_elements), false);

    const std::vector<qvhost::Part> pa = a.parts(), pb = b.parts();
    const auto extents = [](const qvhost::Part& p) {
        return std::to_string(p.i) + " x " + std::to_string(p.j) + " x " + std::to_string(p.k);
    };
    for (std::size_t p = 0; p < std::min(pa.size(), pb.size()); ++p) {
        const qvhost::Part &x = pa[p], &y = pb[p];
        const std::string which = "part " + std::to_string(x.number) + " (" + x.name + "): ";
        if (x.structured != y.structured) {
            differ(which + "A " + (x.structured ? "structured" : "unstructured") + ", B " +
                       (y.structured ? "structured" : "unstructured"),
                   false);
        } else if (x.structured && (x.i != y.i || x.j != y.j || x.k != y.k)) {
            differ(which + "A " + extents(x) + " nodes, B " + extents(y), false);
        } else if (!x.structured && (x.elements != y.elements || x.nodes != y.nodes)) {
            differ(which + "A " + std::to_string(x.elements) + " elements and " + std::to_string(x.nodes) +
                       " nodes, B " + std::to_string(y.elements) + " and " + std::to_string(y.nodes),
                   false);
        } else if (!x.structured && a.part_elements(x.number) != b.part_elements(y.number)) {
            differ(which + "its elements are other rows of the connectivity", true);
        }
    }

    if (r.comparable) {
        const std::vector<std::int32_t> ca = a.connectivity(), cb = b.connectivity();
        const std::vector<std::int32_t> ta = a.element_types(), tb = b.element_types();
        std::int64_t differing = 0, first = -1;
        for (std::size_t e = 0; e < ta.size() && e < tb.size(); ++e)
            if (ta[e] != tb[e] || !std::equal(ca.begin() + 8 * e, ca.begin() + 8 * e + 8, cb.begin() + 8 * e)) {
                if (differing++ == 0) first = static_cast<std::int64_t>(e);
            }
        if (differing > 0) {
            const Numbering numbering(a);
            differ("connectivity: " + std::to_string(differing) + " of " + std::to_string(ta.size()) +
                       " unstructured elements differ in nodes or type, the first " +
                       numbering.element(ma.structured_elements + first).text(),
                   true);
        }
    }

    const auto material_list = [](const Analysis& x) {
        std::string s;
        for (const qvhost::Material& m : x.materials())
            s += (s.empty() ? "" : ", ") + m.name + (m.euler_id >= 0 ? " (Euler)" : "");
        return s.empty() ? std::string("none") : s;
    };
    if (material_list(a) != material_list(b)) differ("materials: A " + material_list(a) + "; B " + material_list(b), true);

    r.coordinates = array(tolerances, {"COORDINATES"}, "m", Place::Node);
    if (ma.nodes() == mb.nodes() && r.coordinates.status == ArrayResult::Status::Compared) {
        const Numbering numbering(a);
        finish(r.coordinates, tally_arrays(a.coordinates(), b.coordinates(), r.coordinates.tolerance),
               [&](std::int64_t at) {
                   Place p = numbering.node(at / 3);
                   p.component = static_cast<int>(at % 3);
                   return p;
               });
    }
    if (!r.comparable && r.coordinates.status == ArrayResult::Status::Compared && ma.nodes() != mb.nodes())
        r.coordinates.status = ArrayResult::Status::Ignored;
    return r;
}

}  // namespace qvdiff
