// qvres.h: cycle readers, the result directory and value queries.
#include <algorithm>
#include <cstring>

#include "api/qvres_handles.h"
#include "extract/element_values.h"
#include "extract/node_values.h"
#include "format/compressed_array.h"
#include "variables/variable_queries.h"

using qv::api::guarded_status;
using qv::api::report;
using qv::api::succeed;
using qv::extract::Outcome;

namespace {

bool integer_values(qvres_values v) {
    return v == QVRES_NODE_INTEGERS || v == QVRES_ELEMENT_INTEGERS ||
           v == QVRES_ELEMENT_INTEGERS_ALL_SLOTS || v == QVRES_SUBLAYER_INTEGERS;
}

bool known_values(qvres_values v) { return v >= QVRES_DISPLACEMENTS && v <= QVRES_MATERIAL_FRACTIONS; }

const char* file_of(const qvres_reader* r) { return r->cycle.records().file_name().c_str(); }

// How many values a request writes, from the model alone; -1 when the model
// cannot be laid out for this cycle.
std::int64_t value_count(const qvres_reader* r, const qvres_request& q) {
    using namespace qv::extract;
    const qv::model::View m = r->view();
    ModelSizes sizes;
    switch (q.values) {
    case QVRES_DISPLACEMENTS:
        return node_sizes(m, sizes) ? 3 * (sizes.slots + sizes.unstructured) : -1;
    case QVRES_NODE_INTEGERS:
    case QVRES_NODE_REALS:
        return node_sizes(m, sizes) ? kHeaderPair + sizes.slots + sizes.unstructured : -1;
    case QVRES_ELEMENT_INTEGERS_ALL_SLOTS:
    case QVRES_ELEMENT_REALS_ALL_SLOTS:
        return element_sizes(m, sizes) ? kHeaderPair + sizes.slots + sizes.unstructured : -1;
    case QVRES_ELEMENT_INTEGERS:
        return element_sizes(m, sizes) ? element_walk_values(m.analysis, sizes, false, 1) : -1;
    case QVRES_SUBLAYER_INTEGERS:
        return element_sizes(m, sizes) ? element_walk_values(m.analysis, sizes, true, 1) : -1;
    case QVRES_ELEMENT_REALS: {
        if (!element_sizes(m, sizes)) return -1;
        const std::int64_t per = multi_material(q.variable) ? reported_materials(m.analysis) + 1 : 1;
        return element_walk_values(m.analysis, sizes, true, per);
    }
    case QVRES_MATERIAL_FRACTIONS:
        return material_fraction_count(m);
    }
    return -1;
}

// An array or section not found in a file that was cut short or damaged
// may have been lost with the rest of the file: the file is damaged, not
// the array unstored. Only damage met by this query counts (each query
// starts with forget_damage): an array the directory does not list is not
// stored whatever an earlier query met.
Outcome found_in(const qvres_reader* r, Outcome o) {
    return o == Outcome::not_stored && r->cycle.records().met_damage() ? Outcome::damaged : o;
}

qvres_status status_of(Outcome o) {
    switch (o) {
    case Outcome::ok: return QVRES_OK;
    case Outcome::not_stored: return QVRES_E_NOT_STORED;
    case Outcome::capacity: return QVRES_E_CAPACITY;
    case Outcome::argument: return QVRES_E_ARGUMENT;
    default: return QVRES_E_DAMAGED;
    }
}

const char* what_of(Outcome o) {
    switch (o) {
    case Outcome::not_stored: return "not stored in this cycle";
    case Outcome::capacity: return "the buffer is too small";
    case Outcome::argument: return "no such material or quantity";
    default: return "damaged or truncated, or shorter than the model needs";
    }
}

template <class T>
qvres_status read_values(qvres_reader* r, const qvres_request* q, T* values, std::int64_t capacity,
                         qvres_error* error) {
    if (!r || !q || (!values && capacity != 0))
        return report(error, QVRES_E_ARGUMENT, "no reader, request or buffer");
    // A host sizing its buffer from a count of 0 may pass no buffer: the
    // extraction then writes into none, which its capacity of 0 keeps empty.
    T none[1];
    if (!values) values = none;
    if (!known_values(q->values) || integer_values(q->values) != std::is_same_v<T, std::int32_t>)
        return report(error, QVRES_E_ARGUMENT, "request %d does not give %s values",
                      static_cast<int>(q->values), std::is_same_v<T, float> ? "real" : "integer");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Outcome outcome = Outcome::ok;
        const qv::extract::Source src{r->view(), r->cycle,
                                      q->values == QVRES_ELEMENT_INTEGERS_ALL_SLOTS ||
                                              q->values == QVRES_ELEMENT_REALS_ALL_SLOTS
                                          ? 1
                                          : 0,
                                      capacity, &outcome};
        int done = -1;
        if constexpr (std::is_same_v<T, std::int32_t>) {
            switch (q->values) {
            case QVRES_NODE_INTEGERS:
                done = qv::extract::int_node_values(src, q->variable, q->part, values);
                break;
            case QVRES_SUBLAYER_INTEGERS:
                done = qv::extract::layer_int_elem_values(src, q->variable,
                                                          q->part == 0 ? -1 : q->part, values);
                break;
            default:
                done = qv::extract::int_elem_values(src, q->variable, q->part, values);
                break;
            }
        } else {
            switch (q->values) {
            case QVRES_DISPLACEMENTS: done = qv::extract::node_displacements(src, values); break;
            case QVRES_NODE_REALS:
                done = qv::extract::float_node_values(src, q->variable, q->part, values);
                break;
            case QVRES_MATERIAL_FRACTIONS:
                done = qv::extract::material_fractions(src, q->part, values);
                break;
            default:
                done = qv::extract::float_elem_values(src, q->variable, q->part, values);
                break;
            }
        }
        if (done > 0) return succeed(error);
        if (outcome == Outcome::ok) outcome = Outcome::damaged;
        outcome = found_in(r, outcome);
        return report(error, status_of(outcome), "%s: variable %d, part %d: %s", file_of(r),
                      q->variable, q->part, what_of(outcome));
    });
}

}  // namespace

extern "C" {

QVRES_EXPORT qvres_status QVRES_CALL qvres_reader_open(const qvres_analysis* a, int64_t index,
                                                       qvres_reader** reader, qvres_error* error) {
    if (!a || !reader) return report(error, QVRES_E_ARGUMENT, "no analysis or no handle");
    *reader = nullptr;
    const auto& steps = a->analysis.steps;
    if (index < 0 || index >= static_cast<std::int64_t>(steps.size()))
        return report(error, QVRES_E_ARGUMENT, "no cycle %lld of %zu", static_cast<long long>(index),
                      steps.size());
    return guarded_status(error, [&] {
        auto r = std::make_unique<qvres_reader>();
        r->owner = a;
        if (!r->cycle.open(steps[static_cast<std::size_t>(index)].file_name, a->analysis.counts)) {
            using Failure = qv::format::CycleReader::Failure;
            const Failure f = r->cycle.failure();
            return report(error,
                          f == Failure::missing      ? QVRES_E_NOT_FOUND
                          : f == Failure::unreadable ? QVRES_E_UNREADABLE
                                                     : QVRES_E_DAMAGED,
                          "%s", r->cycle.reason().c_str());
        }
        r->counts = a->analysis.counts;
        if (r->cycle.model().has_sizes) r->counts = r->cycle.model().counts;
        *reader = r.release();
        return succeed(error);
    });
}

QVRES_EXPORT void QVRES_CALL qvres_reader_close(qvres_reader* reader) { delete reader; }

QVRES_EXPORT qvres_status QVRES_CALL qvres_count_variables(const qvres_reader* r, int64_t* count,
                                                           qvres_error* error) {
    if (!r || !count) return report(error, QVRES_E_ARGUMENT, "no reader or no count");
    *count = r->cycle.model().directory.size();
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_variable(const qvres_reader* r, int64_t entry,
                                                        qvres_variable* v, qvres_error* error) {
    if (!r || !v) return report(error, QVRES_E_ARGUMENT, "no reader or no record");
    const auto& directory = r->cycle.model().directory;
    if (entry < 0 || entry >= directory.size())  // so that entry + 1 cannot overflow
        return report(error, QVRES_E_ARGUMENT, "%s: no result directory entry %lld", file_of(r),
                      static_cast<long long>(entry));
    const qv::model::DirectoryEntry& e = directory(entry + 1);
    *v = qvres_variable{};
    v->index = e.variable;
    v->part = e.qualifier;
    v->kind = e.kind;
    char name[100];
    qv::variables::display_name(e.name.chars, name);
    // Blanks at the end became '_' only where text follows: trailing ones
    // stay blanks and are dropped here.
    qv::api::copy_text(std::string_view(name, sizeof name), v->name, sizeof v->name);
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_count_values(const qvres_reader* r,
                                                        const qvres_request* q, int64_t* count,
                                                        qvres_error* error) {
    if (!r || !q || !count) return report(error, QVRES_E_ARGUMENT, "no reader, request or count");
    if (!known_values(q->values))
        return report(error, QVRES_E_ARGUMENT, "no value query %d", static_cast<int>(q->values));
    const std::int64_t n = value_count(r, *q);
    if (n < 0)
        return report(error, QVRES_E_DAMAGED, "%s: the cycle's sizes do not fit the base file",
                      file_of(r));
    // Every value but a material fraction (one per structured element the
    // base file lays out) comes out of one stored array of the cycle file,
    // which cannot inflate to more than deflate's ratio times the file: a
    // larger count is one the read could never fill, refused before a host
    // sizes a buffer from it.
    const std::uint64_t file_bytes = r->cycle.records().size();
    const std::int64_t most = qv::format::max_values_for(file_bytes) + qv::model::kHeaderPair;
    if (q->values != QVRES_MATERIAL_FRACTIONS && n > most) {
        if (q->values == QVRES_DISPLACEMENTS)
            return report(error, QVRES_E_DAMAGED,
                          "%s: the displacements: %lld values cannot come out of a file of %llu bytes",
                          file_of(r), static_cast<long long>(n),
                          static_cast<unsigned long long>(file_bytes));
        return report(error, QVRES_E_DAMAGED,
                      "%s: variable %d, part %d: %lld values cannot come out of a file of %llu bytes",
                      file_of(r), q->variable, q->part, static_cast<long long>(n),
                      static_cast<unsigned long long>(file_bytes));
    }
    *count = n;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_int32(qvres_reader* r, const qvres_request* q,
                                                      int32_t* values, int64_t capacity,
                                                      qvres_error* error) {
    return read_values(r, q, values, capacity, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_float(qvres_reader* r, const qvres_request* q,
                                                      float* values, int64_t capacity,
                                                      qvres_error* error) {
    return read_values(r, q, values, capacity, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_joint(qvres_reader* r, int32_t joint,
                                                      int32_t quantity, float record[16],
                                                      qvres_error* error) {
    if (!r || !record) return report(error, QVRES_E_ARGUMENT, "no reader or no record");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Outcome outcome = Outcome::ok;
        const qv::extract::Source src{r->view(), r->cycle, 0, 16, &outcome};
        if (qv::extract::joint_data(src, joint, quantity, record) > 0) return succeed(error);
        outcome = found_in(r, outcome);
        return report(error, status_of(outcome), "%s: joint %d, quantity %d: %s", file_of(r), joint,
                      quantity, what_of(outcome));
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_rigid_body(qvres_reader* r, int32_t body,
                                                           float record[12], qvres_error* error) {
    if (!r || !record) return report(error, QVRES_E_ARGUMENT, "no reader or no record");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Outcome outcome = Outcome::ok;
        const qv::extract::Source src{r->view(), r->cycle, 0, 12, &outcome};
        if (qv::extract::rigid_body_data(src, body, record) > 0) return succeed(error);
        outcome = found_in(r, outcome);
        return report(error, status_of(outcome), "%s: rigid body %d: %s", file_of(r), body,
                      what_of(outcome));
    });
}

}  // extern "C"
