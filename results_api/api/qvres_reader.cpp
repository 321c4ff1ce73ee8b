// qvres.h: cycle readers, the result directory and value queries.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "api/qvres_handles.h"
#include "extract/element_values.h"
#include "extract/layout.h"
#include "extract/node_values.h"
#include "format/compressed_array.h"
#include "variables/variable_queries.h"

using qv::api::guarded_status;
using qv::api::integer_request;
using qv::api::report;
using qv::api::report_failure;
using qv::api::succeed;
using qv::format::Failure;
using qv::format::Status;

namespace {

bool known_values(qvres_values v) { return v >= QVRES_DISPLACEMENTS && v <= QVRES_MATERIAL_FRACTIONS; }

const char* file_of(const qvres_reader* r) { return r->cycle.records().file_name().c_str(); }

qv::extract::Query query_of(qvres_values v) {
    using qv::extract::Query;
    switch (v) {
    case QVRES_DISPLACEMENTS: return Query::displacements;
    case QVRES_NODE_INTEGERS:
    case QVRES_NODE_REALS: return Query::node_values;
    case QVRES_ELEMENT_INTEGERS: return Query::element_integers;
    case QVRES_ELEMENT_REALS: return Query::element_reals;
    case QVRES_ELEMENT_INTEGERS_ALL_SLOTS:
    case QVRES_ELEMENT_REALS_ALL_SLOTS: return Query::every_slot;
    case QVRES_SUBLAYER_INTEGERS: return Query::sublayer_integers;
    default: return Query::material_fractions;
    }
}

// The layout of a request, with the checks every layout query makes.
qvres_status layout_for(const qvres_reader* r, const qvres_request* q, qv::extract::Layout& layout,
                        qvres_error* error) {
    if (!r || !q) return report(error, QVRES_E_ARGUMENT, "no reader or no request");
    if (!known_values(q->values))
        return report(error, QVRES_E_ARGUMENT, "no value query %d", static_cast<int>(q->values));
    if (!qv::extract::layout_of(r->view(), query_of(q->values), q->variable, layout))
        return report(error, QVRES_E_DAMAGED, "%s: the cycle's sizes do not fit the base file",
                      file_of(r));
    return QVRES_OK;
}

// The section a request reads.
const char* section_of(qvres_values v) {
    switch (v) {
    case QVRES_DISPLACEMENTS: return "<Displacement>";
    case QVRES_NODE_INTEGERS:
    case QVRES_NODE_REALS: return "<Node>";
    case QVRES_MATERIAL_FRACTIONS: return "<MMVars>";
    default: return "<Element>";
    }
}

// A query that failed: one that returned false without saying why met
// damage.
qvres_status report_query(qvres_error* error, const qvres_reader* r, Failure& f) {
    if (f.ok()) {
        f.status = Status::damaged;
        f.file = r->cycle.records().file_name();
        f.offset = r->cycle.records().failure().offset;
    }
    return report_failure(error, f);
}

// With `runs`, real element values go there instead of into `values`.
template <class T>
qvres_status read_values(qvres_reader* r, const qvres_request* q, T* values, std::int64_t capacity,
                         qvres_error* error, qv::extract::RealRuns* runs = nullptr) {
    if (!r || !q || (!values && capacity != 0 && !runs))
        return report(error, QVRES_E_ARGUMENT, "no reader, request or buffer");
    // A host sizing its buffer from a count of 0 may pass no buffer: the
    // extraction then writes into none, which its capacity of 0 keeps empty.
    T none[1];
    if (!values) values = none;
    if (!known_values(q->values) || integer_request(q->values) != std::is_same_v<T, std::int32_t>)
        return report(error, QVRES_E_ARGUMENT, "request %d does not give %s values",
                      static_cast<int>(q->values), std::is_same_v<T, float> ? "real" : "integer");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Failure failure;
        failure.name(section_of(q->values), "variable", q->variable, "part", q->part);
        const qv::extract::Source src{r->view(), r->cycle,
                                      q->values == QVRES_ELEMENT_INTEGERS_ALL_SLOTS ||
                                              q->values == QVRES_ELEMENT_REALS_ALL_SLOTS
                                          ? 1
                                          : 0,
                                      capacity, &failure};
        bool done = false;
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
                done = runs ? qv::extract::float_node_runs(src, q->variable, q->part, *runs)
                            : qv::extract::float_node_values(src, q->variable, q->part, values);
                break;
            case QVRES_MATERIAL_FRACTIONS:
                done = qv::extract::material_fractions(src, q->part, values);
                break;
            default:
                done = runs ? qv::extract::float_elem_runs(src, q->variable, q->part, *runs)
                            : qv::extract::float_elem_values(src, q->variable, q->part, values);
                break;
            }
        }
        if (done) return succeed(error);
        return report_query(error, r, failure);
    });
}

template <class T>
qvres_status read_header(qvres_reader* r, const qvres_request* q, T* pair, qvres_error* error) {
    if (!r || !q || !pair) return report(error, QVRES_E_ARGUMENT, "no reader, request or pair");
    const qvres_values v = q->values;
    if (!known_values(v) || v == QVRES_DISPLACEMENTS || v == QVRES_MATERIAL_FRACTIONS ||
        integer_request(v) != std::is_same_v<T, std::int32_t>)
        return report(error, QVRES_E_ARGUMENT, "request %d has no %s header pair",
                      static_cast<int>(v), std::is_same_v<T, float> ? "real" : "integer");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Failure failure;
        failure.name(section_of(v), "variable", q->variable, "part", q->part);
        const qv::extract::Source src{r->view(), r->cycle, 0, 2, &failure};
        const bool nodes = v == QVRES_NODE_INTEGERS || v == QVRES_NODE_REALS;
        const bool sublayer = v == QVRES_SUBLAYER_INTEGERS;
        const std::int32_t part = sublayer && q->part == 0 ? -1 : q->part;
        std::uint32_t words[2];
        if (qv::extract::header_pair(src, nodes, std::is_same_v<T, float>, sublayer, q->variable,
                                     part, words)) {
            std::memcpy(pair, words, sizeof words);
            return succeed(error);
        }
        return report_query(error, r, failure);
    });
}

}  // namespace

namespace qv::api {

qvres_status reader_move_to(qvres_reader* r, std::int64_t index, qvres_error* error) {
    const auto& steps = r->owner->analysis.steps;
    if (index < 0 || index >= static_cast<std::int64_t>(steps.size()))
        return report(error, QVRES_E_ARGUMENT, "no cycle %lld of %zu", static_cast<long long>(index),
                      steps.size());
    if (!r->cycle.open(steps[static_cast<std::size_t>(index)].file_name, r->owner->analysis.counts))
        return report_failure(error, r->cycle.failure());
    r->counts = r->owner->analysis.counts;
    if (r->cycle.model().has_sizes) r->counts = r->cycle.model().counts;
    return succeed(error);
}

qvres_status read_real_runs(qvres_reader* r, const qvres_request* q, qv::extract::RealRuns& runs,
                            qvres_error* error) {
    if (q && q->values != QVRES_ELEMENT_REALS && q->values != QVRES_ELEMENT_REALS_ALL_SLOTS &&
        q->values != QVRES_NODE_REALS)
        return report(error, QVRES_E_ARGUMENT, "request %d gives no real node or element values",
                      static_cast<int>(q->values));
    return read_values<float>(r, q, nullptr, std::numeric_limits<std::int64_t>::max(), error, &runs);
}

}  // namespace qv::api

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
        if (const qvres_status st = qv::api::reader_move_to(r.get(), index, error); st != QVRES_OK) return st;
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
    return guarded_status(error, [&] {
        qv::extract::Layout layout;
        if (const qvres_status st = layout_for(r, q, layout, error); st != QVRES_OK) return st;
        // Every value but a material fraction (one per structured element
        // the base file lays out) comes out of one stored array of the cycle
        // file, which cannot inflate to more than deflate's ratio times the
        // file: a larger count is one the read could never fill, refused
        // before a host sizes a buffer from it.
        const std::uint64_t file_bytes = r->cycle.records().size();
        const std::int64_t most = qv::format::max_values_for(file_bytes);
        if (q->values != QVRES_MATERIAL_FRACTIONS && layout.values > most) {
            if (q->values == QVRES_DISPLACEMENTS)
                return report(error, QVRES_E_DAMAGED,
                              "%s: the displacements: %lld values cannot come out of a file of %llu bytes",
                              file_of(r), static_cast<long long>(layout.values),
                              static_cast<unsigned long long>(file_bytes));
            return report(error, QVRES_E_DAMAGED,
                          "%s: variable %d, part %d: %lld values cannot come out of a file of %llu bytes",
                          file_of(r), q->variable, q->part, static_cast<long long>(layout.values),
                          static_cast<unsigned long long>(file_bytes));
        }
        *count = layout.values;
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_header_int32(qvres_reader* r,
                                                             const qvres_request* q,
                                                             int32_t pair[2], qvres_error* error) {
    return read_header(r, q, pair, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_header_float(qvres_reader* r,
                                                             const qvres_request* q, float pair[2],
                                                             qvres_error* error) {
    return read_header(r, q, pair, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout(const qvres_reader* r,
                                                      const qvres_request* q, qvres_layout* out,
                                                      qvres_error* error) {
    if (!out) return report(error, QVRES_E_ARGUMENT, "no layout record");
    return guarded_status(error, [&] {
        qv::extract::Layout l;
        if (const qvres_status st = layout_for(r, q, l, error); st != QVRES_OK) return st;
        *out = qvres_layout{};
        out->values = l.values;
        out->columns = l.columns;
        out->blocks = static_cast<std::int64_t>(l.blocks.size());
        out->unstructured_first = l.unstructured_first;
        out->unstructured = l.unstructured;
        out->unstructured_columns = l.unstructured_columns;
        out->at = l.nodes ? QVRES_AT_NODES : QVRES_AT_ELEMENTS;
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout_block(const qvres_reader* r,
                                                            const qvres_request* q, int64_t block,
                                                            qvres_layout_block* out,
                                                            qvres_error* error) {
    if (!out) return report(error, QVRES_E_ARGUMENT, "no block record");
    return guarded_status(error, [&] {
        qv::extract::Layout l;
        if (const qvres_status st = layout_for(r, q, l, error); st != QVRES_OK) return st;
        if (block < 0 || block >= static_cast<std::int64_t>(l.blocks.size()))
            return report(error, QVRES_E_ARGUMENT, "no layout block %lld of %zu",
                          static_cast<long long>(block), l.blocks.size());
        const qv::extract::LayoutBlock& b = l.blocks[static_cast<std::size_t>(block)];
        *out = qvres_layout_block{};
        out->part = b.part;
        out->elements = b.elements ? 1 : 0;
        out->first = b.first;
        for (int d = 0; d < 3; ++d) {
            out->extent[d] = b.extent[d];
            out->origin[d] = b.origin[d];
        }
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout_column(const qvres_reader* r,
                                                             const qvres_request* q,
                                                             int64_t column, int32_t* material,
                                                             qvres_error* error) {
    if (!material) return report(error, QVRES_E_ARGUMENT, "no material");
    return guarded_status(error, [&] {
        qv::extract::Layout l;
        if (const qvres_status st = layout_for(r, q, l, error); st != QVRES_OK) return st;
        if (column < 0 || column >= l.columns)
            return report(error, QVRES_E_ARGUMENT, "no column %lld of %lld",
                          static_cast<long long>(column), static_cast<long long>(l.columns));
        *material = l.column_materials.empty()
                        ? 0
                        : l.column_materials[static_cast<std::size_t>(column)];
        return succeed(error);
    });
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
        Failure failure;
        failure.name("<JointData>", "joint", joint, "quantity", quantity);
        const qv::extract::Source src{r->view(), r->cycle, 0, 16, &failure};
        if (qv::extract::joint_data(src, joint, quantity, record)) return succeed(error);
        return report_query(error, r, failure);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_rigid_body(qvres_reader* r, int32_t body,
                                                           float record[12], qvres_error* error) {
    if (!r || !record) return report(error, QVRES_E_ARGUMENT, "no reader or no record");
    return guarded_status(error, [&] {
        r->cycle.records().forget_damage();
        Failure failure;
        failure.name("<RigidBodyData>", "rigid body", body);
        const qv::extract::Source src{r->view(), r->cycle, 0, 12, &failure};
        if (qv::extract::rigid_body_data(src, body, record)) return succeed(error);
        return report_query(error, r, failure);
    });
}

}  // extern "C"
