// What the handles of qvres.h hold, and the error reporting its functions
// share.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "api/discovery.h"
#include "extract/element_values.h"
#include "extract/slots.h"
#include "format/cycle_file.h"
#include "model/analysis.h"
#include "qvres.h"

// An opened analysis: immutable after qvres_open, shared by any number of
// threads.
struct qvres_analysis {
    qv::model::Analysis analysis;
    std::vector<qv::api::Skipped> skipped;
    std::string base_file;
};

// One open cycle file of an analysis, used by one thread at a time.
struct qvres_reader {
    const qvres_analysis* owner = nullptr;
    qv::format::CycleReader cycle;
    // The sizes in force for this cycle: its own when its "<Model>" section
    // states them, else the base file's.
    qv::model::Counts counts;

    qv::model::View view() const { return {owner->analysis, counts, cycle.model(), true}; }
};

namespace qv::api {

// Fills `error` (when given) and returns `status`. The message is formed in
// the caller's buffer: nothing is allocated, so it also reports running out
// of memory.
qvres_status report(qvres_error* error, qvres_status status, const char* format, ...)
#if defined(__MINGW32__)
    // The C runtime's printf lacks %zu; mingw's own, which the C++ library
    // selects, has it.
    __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
// The status of qvres.h a failure of the core maps to.
inline qvres_status status_of(const format::Failure& f) {
    switch (f.status) {
    case format::Status::ok: return QVRES_OK;
    case format::Status::missing: return QVRES_E_NOT_FOUND;
    case format::Status::unreadable: return QVRES_E_UNREADABLE;
    case format::Status::not_stored: return QVRES_E_NOT_STORED;
    case format::Status::capacity: return QVRES_E_CAPACITY;
    case format::Status::argument: return QVRES_E_ARGUMENT;
    default: return QVRES_E_DAMAGED;
    }
}

// Reports a failure of the core with the message that says where it was
// met (building it may run out of memory: call it inside guarded_status).
inline qvres_status report_failure(qvres_error* error, const format::Failure& f) {
    return report(error, status_of(f), "%s", f.message().c_str());
}

// Whether a request gives integers (int32) rather than reals (float).
inline bool integer_request(qvres_values v) {
    return v == QVRES_NODE_INTEGERS || v == QVRES_ELEMENT_INTEGERS ||
           v == QVRES_ELEMENT_INTEGERS_ALL_SLOTS || v == QVRES_SUBLAYER_INTEGERS;
}

inline qvres_status succeed(qvres_error* error) {
    if (error) {
        error->status = QVRES_OK;
        error->message[0] = '\0';
    }
    return QVRES_OK;
}

// Runs a function's body: anything thrown becomes a status.
template <class F>
qvres_status guarded_status(qvres_error* error, F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return report(error, QVRES_E_NO_MEMORY, "out of memory");
    } catch (...) {
        return report(error, QVRES_E_NO_MEMORY, "unexpected failure");
    }
}

// Copies a text without its trailing blanks into a NUL-terminated field.
void copy_text(std::string_view text, char* out, std::size_t size);

// Opens cycle `index` of the reader's analysis in the reader, which keeps
// its buffers: what a series worker does from cycle to cycle. A reader
// whose open fails holds no cycle until one opens.
qvres_status reader_move_to(qvres_reader* r, std::int64_t index, qvres_error* error);

// qvres_read_float of a node or element real request (every slot or not)
// with the values handed to `runs` instead of copied into a buffer: the same
// checks, statuses and messages.
qvres_status read_real_runs(qvres_reader* r, const qvres_request* q, qv::extract::RealRuns& runs,
                            qvres_error* error);

}  // namespace qv::api
