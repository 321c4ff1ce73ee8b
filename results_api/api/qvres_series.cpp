// qvres.h: histories and envelopes over a range of cycles.
//
// Each cycle is read by one worker through a reader of its own, which goes
// from cycle to cycle keeping its buffers: every wanted array once, from
// which the positions are picked (a history row) or merged (an envelope),
// straight from the inflated array for real node and element values and
// through the worker's buffer for the others. Workers take cycles from a
// shared counter; a history row belongs to one cycle and an envelope's
// merge keeps the larger value and, on ties, the earlier cycle, so the
// order in which cycles finish changes nothing. A worker holds one cycle's
// values at a time.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "api/qvres_handles.h"
#include "api/series_merge.h"
#include "runtime/platform.h"

using qv::api::guarded_status;
using qv::api::first_span;
using qv::api::integer_request;
using qv::api::merge_span;
using qv::api::report;
using qv::api::succeed;

namespace {

std::int64_t cycles_of(const qvres_series& s) { return s.last_cycle - s.first_cycle + 1; }

// The checks every series call makes; `integers` says which value type the
// call reads (-1: either, for the count query).
qvres_status check_series(const qvres_analysis* a, const qvres_series* s, int integers,
                          bool envelope, qvres_error* error) {
    if (!a || !s) return report(error, QVRES_E_ARGUMENT, "no analysis or no series");
    if (!s->requests || s->request_count < 1 || (envelope && s->request_count != 1))
        return report(error, QVRES_E_ARGUMENT, "%s",
                      envelope ? "an envelope takes exactly one request"
                               : "no requests in the series");
    if (s->position_count < 0 || (!s->positions && s->position_count != 0) ||
        (!envelope && s->position_count == 0))
        return report(error, QVRES_E_ARGUMENT, "no positions in the series");
    if (s->by != QVRES_BY_VALUE && s->by != QVRES_BY_POSITION)
        return report(error, QVRES_E_ARGUMENT, "positions by %d: neither by value nor by position",
                      static_cast<int>(s->by));
    for (std::int64_t p = 0; p < s->position_count; ++p)
        if (s->positions[p] < 0)
            return report(error, QVRES_E_ARGUMENT, "position %lld is negative",
                          static_cast<long long>(p));
    const std::int64_t registered = static_cast<std::int64_t>(a->analysis.steps.size());
    if (s->first_cycle < 0 || s->last_cycle < s->first_cycle || s->last_cycle >= registered)
        return report(error, QVRES_E_ARGUMENT, "cycles %lld .. %lld: the analysis has cycles 0 .. %lld",
                      static_cast<long long>(s->first_cycle), static_cast<long long>(s->last_cycle),
                      static_cast<long long>(registered - 1));
    if (s->threads < 0) return report(error, QVRES_E_ARGUMENT, "a negative thread count");
    const bool first_integer = integer_request(s->requests[0].values);
    for (std::int64_t r = 0; r < s->request_count; ++r) {
        const qvres_values v = s->requests[r].values;
        if (v < QVRES_DISPLACEMENTS || v > QVRES_MATERIAL_FRACTIONS)
            return report(error, QVRES_E_ARGUMENT, "request %lld: no value query %d",
                          static_cast<long long>(r), static_cast<int>(v));
        if (integer_request(v) != first_integer || (integers >= 0 && integer_request(v) != (integers == 1)))
            return report(error, QVRES_E_ARGUMENT, "request %lld does not give %s values",
                          static_cast<long long>(r),
                          (integers >= 0 ? integers == 1 : first_integer) ? "integer" : "real");
    }
    return QVRES_OK;
}

// Positions times requests times cycles, or -1 when that overflows.
std::int64_t history_count(const qvres_series& s) {
    const std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    const std::int64_t rows = cycles_of(s);
    if (s.request_count > limit / rows) return -1;
    const std::int64_t per = rows * s.request_count;
    if (s.position_count != 0 && per > limit / s.position_count) return -1;
    return per * s.position_count;
}

// The most gaps a call can list, or -1 when that overflows.
std::int64_t most_gaps(const qvres_series& s) {
    const std::int64_t rows = cycles_of(s);
    if (s.request_count > std::numeric_limits<std::int64_t>::max() / rows) return -1;
    return rows * s.request_count;
}

struct Gap {
    std::int64_t cycle;
    std::int64_t request;
    qvres_status status;
    std::string message;
};

// What the workers of one call share.
struct Run {
    Run(const qvres_analysis* a, const qvres_series* s)
        : analysis(a), series(s), skip(s->skip_failed_cycles != 0) {}
    const qvres_analysis* analysis;
    const qvres_series* series;
    bool skip;
    std::atomic<std::int64_t> next{0};
    std::mutex lock;  // guards everything below
    std::vector<Gap> gaps;
    // The earliest cycle that failed the call, with its status and message.
    std::int64_t failed_cycle = std::numeric_limits<std::int64_t>::max();
    qvres_status failed_status = QVRES_OK;
    // Held without allocating: a worker records its failure from a handler
    // of running out of memory, where nothing may throw.
    char failed_message[sizeof(qvres_error{}.message)] = {};

    std::int64_t cycles() const { return cycles_of(*series); }

    // Records a failure of cycle `c`; the earliest one is reported.
    void fail(std::int64_t c, qvres_status st, const char* message) {
        std::lock_guard<std::mutex> hold(lock);
        if (c < failed_cycle) {
            failed_cycle = c;
            failed_status = st;
            std::snprintf(failed_message, sizeof failed_message, "%s", message);
        }
    }
    void gap(std::int64_t c, std::int64_t r, qvres_status st, const char* message) {
        std::lock_guard<std::mutex> hold(lock);
        gaps.push_back({c, r, st, message});
    }
    // The next cycle (0-based in the range) to read, or -1 when none is
    // left or an earlier one already failed the call.
    std::int64_t take() {
        const std::int64_t c = next.fetch_add(1);
        if (c >= cycles()) return -1;
        std::lock_guard<std::mutex> hold(lock);
        return c < failed_cycle ? c : -1;
    }
};

// The model's node count (N = T + U).
std::int64_t nodes_of(const qvres_analysis* a) {
    return static_cast<std::int64_t>(a->analysis.coordinates.size() / 3);
}

// A failure a skipping call turns into a gap; any other (memory, argument)
// always fails the call.
bool skippable(qvres_status st) {
    return st == QVRES_E_DAMAGED || st == QVRES_E_NOT_FOUND || st == QVRES_E_UNREADABLE;
}

struct ReaderHandle {
    qvres_reader* r = nullptr;
    ~ReaderHandle() { qvres_reader_close(r); }
};

// The value index that position `p` of a series stands for in a cycle's
// layout; -1 when the layout has no such position or column.
struct PositionMap {
    bool by_position = false;
    std::int64_t structured_positions = 0;
    std::int64_t columns = 1, column = 0;
    std::int64_t unstructured_first = 0, unstructured = 0, unstructured_columns = 1,
                 unstructured_column = 0;
    std::int64_t values = 0;

    std::int64_t operator()(std::int64_t p) const {
        if (!by_position) return p < values ? p : -1;
        if (p < structured_positions) return p * columns + column;
        p -= structured_positions;
        if (p >= unstructured) return -1;
        return unstructured_first + p * unstructured_columns + unstructured_column;
    }
};

// Builds the position map of request `q` in the reader's cycle; a status
// and message when the column asked for is not one of the request's.
qvres_status map_positions(qvres_reader* r, const qvres_request& q, const qvres_series& s,
                           std::int64_t count, PositionMap& map, qvres_error* error) {
    map = PositionMap{};
    map.values = count;
    if (s.by != QVRES_BY_POSITION) return QVRES_OK;
    map.by_position = true;
    qvres_layout layout;
    if (const qvres_status st = qvres_get_layout(r, &q, &layout, error); st != QVRES_OK) return st;
    map.columns = layout.columns;
    map.structured_positions = layout.columns > 0 ? layout.unstructured_first / layout.columns : 0;
    map.unstructured_first = layout.unstructured_first;
    map.unstructured = layout.unstructured;
    map.unstructured_columns = layout.unstructured_columns;
    if (q.values == QVRES_DISPLACEMENTS) {
        if (s.column < 0 || s.column > 2)
            return report(error, QVRES_E_ARGUMENT, "displacements have no component %d",
                          static_cast<int>(s.column));
        map.column = map.unstructured_column = s.column;
        return QVRES_OK;
    }
    if (layout.columns == 1) {
        if (s.column != 0)
            return report(error, QVRES_E_ARGUMENT,
                          "variable %d gives one value per position, not material %d's",
                          q.variable, static_cast<int>(s.column));
        return QVRES_OK;
    }
    // A multi-material request: the column of the material asked for; the
    // slot's own value (material 0) is the last column.
    for (std::int64_t c = 0; c < layout.columns; ++c) {
        std::int32_t material = -1;
        if (const qvres_status st = qvres_get_layout_column(r, &q, c, &material, error); st != QVRES_OK)
            return st;
        if (material == s.column) {
            map.column = c;
            return QVRES_OK;
        }
    }
    return report(error, QVRES_E_ARGUMENT, "variable %d reports no value of material %d",
                  q.variable, static_cast<int>(s.column));
}

template <class T>
qvres_status read_request(qvres_reader* r, const qvres_request& q, std::vector<T>& buffer,
                          std::int64_t& count, qvres_error* error) {
    if (const qvres_status st = qvres_count_values(r, &q, &count, error); st != QVRES_OK) return st;
    // The count is bounded by the file (qvres_count_values refuses more
    // than the file could inflate to) before anything is sized from it.
    if (static_cast<std::uint64_t>(count) > buffer.size()) buffer.resize(static_cast<std::size_t>(count));
    if constexpr (std::is_same_v<T, float>)
        return qvres_read_float(r, &q, buffer.data(), count, error);
    else
        return qvres_read_int32(r, &q, buffer.data(), count, error);
}

template <class T>
constexpr T no_value() {
    if constexpr (std::is_same_v<T, float>)
        return std::numeric_limits<float>::quiet_NaN();
    else
        return QVRES_NO_INTEGER;
}

// What a sink taking runs keeps from run to run of one request of one cycle.
struct RunState {
    // Named positions: their order and the map of this request.
    std::shared_ptr<const std::vector<std::uint32_t>> order;
    PositionMap map;
    std::size_t next = 0;
    // An envelope of named positions: their values, merged at the end.
    std::vector<float> picked;
    // The stripe an envelope's runs are merging: held from run to run
    // until they pass beyond it (released when the call's state ends).
    std::unique_lock<std::mutex> held;
    std::int64_t held_at = -1, held_end = 0;
    void* held_values = nullptr;  // the stripe's kept values
    void* held_cycles = nullptr;  // and offsets
    int how = 0;
    int worker = 0;  // the number of the worker reading the cycle
};

// What is done with one request's values of one cycle.
template <class T>
struct Sink {
    virtual ~Sink() = default;
    // The cycle's values of request `r`, the position map checked to hold
    // every position.
    virtual void put(std::int64_t c, std::int64_t r, const T* values, const PositionMap& map) = 0;
    // Request `r` of cycle `c` gave no value (r = -1: none of them).
    virtual void none(std::int64_t c, std::int64_t r) = 0;
    // Position count when the series names none (an envelope of every value).
    std::int64_t every = -1;

    // Real node and element values may instead come straight from the
    // stored array, run by run in value order (see qv::extract::RealRuns),
    // when the sink takes them: `begin` before the first run of request `r`
    // of cycle `c`, `run` for each, and `end` after the last, with the state
    // the call keeps between them.
    virtual bool takes_runs() const { return false; }
    virtual void begin(std::int64_t, std::int64_t, const PositionMap&, RunState&) {}
    virtual void run(std::int64_t, std::int64_t, RunState&, std::int64_t, const float*, std::int64_t, float) {}
    // Runs in a row (see RealRuns::rows).
    virtual void rows(std::int64_t c, std::int64_t r, RunState& st, std::int64_t first, const float* stored,
                      std::int64_t count, std::int64_t length, std::int64_t stride, float scale) {
        for (std::int64_t k = 0; k < count; ++k) run(c, r, st, first + k * length, stored + k * stride, length, scale);
    }
    virtual void end(std::int64_t, std::int64_t, RunState&) {}
    // The number of workers the call runs, before any starts.
    virtual void workers(std::int64_t) {}
    // A worker starts taking cycles, and has no cycle left to take (also
    // when the call fails): what is still to do may be shared out there.
    virtual void start_reading() {}
    virtual void stop_reading() {}
};

// The positions of a series sorted by the value they take (4 bytes each,
// less than their row of a result), worked out once per position map and
// shared by the workers: what a sink of named positions needs to take runs.
class PositionOrder {
public:
    static bool fits(const qvres_series& s) {
        return s.positions && s.position_count <= std::numeric_limits<std::uint32_t>::max();
    }
    void prepare(const qvres_series& s, const PositionMap& map, RunState& st) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!order_ || !same(map, map_)) {
            auto fresh = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(s.position_count));
            for (std::size_t p = 0; p < fresh->size(); ++p) (*fresh)[p] = static_cast<std::uint32_t>(p);
            std::sort(fresh->begin(), fresh->end(), [&](std::uint32_t x, std::uint32_t y) {
                return map(s.positions[x]) < map(s.positions[y]);
            });
            order_ = std::move(fresh);
            map_ = map;
        }
        st.order = order_;
        st.map = map;
        st.next = 0;
    }
    // Calls f(position, value index) for the positions whose values lie in
    // the run [first, first + n): runs come in value order and cover every
    // value, so they are the next in order below its end.
    template <class F>
    static void in_run(const qvres_series& s, RunState& st, std::int64_t first, std::int64_t n, F f) {
        const std::vector<std::uint32_t>& o = *st.order;
        for (; st.next < o.size(); ++st.next) {
            const std::int64_t at = st.map(s.positions[o[st.next]]);
            if (at >= first + n) break;
            f(o[st.next], at);
        }
    }

private:
    static bool same(const PositionMap& x, const PositionMap& y) {
        return x.by_position == y.by_position && x.structured_positions == y.structured_positions &&
               x.columns == y.columns && x.column == y.column && x.unstructured_first == y.unstructured_first &&
               x.unstructured == y.unstructured && x.unstructured_columns == y.unstructured_columns &&
               x.unstructured_column == y.unstructured_column && x.values == y.values;
    }
    std::mutex lock_;
    std::shared_ptr<const std::vector<std::uint32_t>> order_;
    PositionMap map_;
};

// Hands the runs of one request of one cycle to a sink.
template <class T>
struct RunsToSink final : qv::extract::RealRuns {
    Sink<T>& sink;
    std::int64_t c, r;
    RunState state;
    RunsToSink(Sink<T>& s, std::int64_t cycle, std::int64_t request) : sink(s), c(cycle), r(request) {}
    void run(std::int64_t first, const float* stored, std::int64_t n, float scale) override {
        sink.run(c, r, state, first, stored, n, scale);
    }
    void rows(std::int64_t first, const float* stored, std::int64_t count, std::int64_t length, std::int64_t stride,
              float scale) override {
        sink.rows(c, r, state, first, stored, count, length, stride, scale);
    }
};

// Requests whose values a sink can take as runs.
bool gives_runs(const qvres_request& q) {
    return q.values == QVRES_ELEMENT_REALS || q.values == QVRES_ELEMENT_REALS_ALL_SLOTS ||
           q.values == QVRES_NODE_REALS;
}

// Reads cycle `c` (0-based in the range) with every request into `sink`.
template <class T>
void read_cycle(Run& run, std::int64_t c, ReaderHandle& reader, std::vector<T>& buffer, Sink<T>& sink,
                int worker) {
    const qvres_series& s = *run.series;
    qvres_error error{};
    const auto cycle_failed = [&](qvres_status st) {
        if (run.skip && skippable(st)) {
            sink.none(c, -1);
            run.gap(s.first_cycle + c, -1, st, error.message);
        } else {
            run.fail(c, st, error.message);
        }
    };
    // The worker's reader goes from cycle to cycle with its buffers.
    qvres_status st = reader.r ? qv::api::reader_move_to(reader.r, s.first_cycle + c, &error)
                               : qvres_reader_open(run.analysis, s.first_cycle + c, &reader.r, &error);
    if (st != QVRES_OK) return cycle_failed(st);
    // A cycle that fails half-way is a gap as a whole: a skipping call
    // empties the rows its first requests filled.
    for (std::int64_t r = 0; r < s.request_count; ++r) {
        const qvres_request& q = s.requests[r];
        // Straight from the stored array where the sink can take that: the
        // positions are checked against the count before anything is read.
        bool runs = false;
        if constexpr (std::is_same_v<T, float>) runs = sink.takes_runs() && gives_runs(q);
        std::int64_t count = 0;
        st = runs ? qvres_count_values(reader.r, &q, &count, &error) : read_request(reader.r, q, buffer, count, &error);
        if (st == QVRES_E_NOT_STORED) {
            run.gap(s.first_cycle + c, r, st, error.message);
            sink.none(c, r);
            continue;
        }
        if (st != QVRES_OK) return cycle_failed(st);
        // Positions are places in the base file's layout. A cycle that
        // states other sizes places its node values elsewhere: under the
        // same positions it would give other nodes' values.
        if (const std::int64_t per = q.values == QVRES_DISPLACEMENTS ? 3
                                     : q.values == QVRES_NODE_REALS || q.values == QVRES_NODE_INTEGERS ? 1
                                                                                                       : 0;
            per && count != per * nodes_of(run.analysis)) {
            report(&error, QVRES_E_DAMAGED, "%s: the cycle holds %lld node values where the model has %lld",
                   reader.r->cycle.records().file_name().c_str(), static_cast<long long>(count / per),
                   static_cast<long long>(nodes_of(run.analysis)));
            return cycle_failed(QVRES_E_DAMAGED);
        }
        PositionMap map;
        st = map_positions(reader.r, q, s, count, map, &error);
        if (st == QVRES_OK) {
            const std::int64_t n = s.positions ? s.position_count : sink.every;
            if (!s.positions && count != n) {
                st = report(&error, QVRES_E_DAMAGED,
                            "%s: variable %d, part %d: %lld values where the envelope has %lld",
                            reader.r->cycle.records().file_name().c_str(), q.variable, q.part,
                            static_cast<long long>(count), static_cast<long long>(n));
            }
            for (std::int64_t p = 0; st == QVRES_OK && s.positions && p < n; ++p) {
                if (map(s.positions[p]) < 0 || map(s.positions[p]) >= count)
                    st = report(&error, QVRES_E_ARGUMENT,
                                "%s: variable %d, part %d: no position %lld among the cycle's %lld values",
                                reader.r->cycle.records().file_name().c_str(), q.variable, q.part,
                                static_cast<long long>(s.positions[p]),
                                static_cast<long long>(count));
            }
        }
        if (st == QVRES_E_ARGUMENT) return run.fail(c, st, error.message);
        if (st != QVRES_OK) return cycle_failed(st);
        if (!runs) {
            sink.put(c, r, buffer.data(), map);
            continue;
        }
        if constexpr (std::is_same_v<T, float>) {
            // The getter settles every check before its first run: a failure
            // here has given the sink nothing.
            RunsToSink<T> to(sink, c, r);
            to.state.worker = worker;
            sink.begin(c, r, map, to.state);
            st = qv::api::read_real_runs(reader.r, &q, to, &error);
            if (st == QVRES_E_NOT_STORED) {
                run.gap(s.first_cycle + c, r, st, error.message);
                sink.none(c, r);
                continue;
            }
            if (st != QVRES_OK) return cycle_failed(st);
            sink.end(c, r, to.state);
        }
    }
}

constexpr std::int64_t kMostThreads = 256;

// Reads every cycle of the range in `threads` workers (the calling thread
// is one of them, worker 0).
template <class T>
void run_workers(Run& run, std::int32_t threads, Sink<T>& sink) {
    const auto work = [&run, &sink](int worker) {
        try {
            struct Reading {
                Sink<T>& sink;
                explicit Reading(Sink<T>& s) : sink(s) { sink.start_reading(); }
                ~Reading() { sink.stop_reading(); }
            } reading(sink);
            ReaderHandle reader;
            std::vector<T> buffer;
            for (std::int64_t c; (c = run.take()) >= 0;) read_cycle(run, c, reader, buffer, sink, worker);
        } catch (const std::bad_alloc&) {
            run.fail(-1, QVRES_E_NO_MEMORY, "out of memory");
        } catch (...) {
            run.fail(-1, QVRES_E_NO_MEMORY, "unexpected failure");
        }
    };
    std::int64_t n = threads > 0 ? threads : static_cast<std::int64_t>(qv::platform::usable_processors());
    // A thread per cycle at most, and a bound a caller's large count cannot
    // pass: thousands of threads would cost the host more than they read.
    n = std::clamp<std::int64_t>(n, 1, std::min<std::int64_t>(run.cycles(), kMostThreads));
    sink.workers(n);
    std::vector<std::thread> helpers;
    for (std::int64_t t = 1; t < n; ++t) {
        try {
            helpers.emplace_back(work, static_cast<int>(t));
        } catch (...) {
            break;  // fewer threads: the others take more cycles
        }
    }
    work(0);
    for (std::thread& h : helpers) h.join();
}

// The outcome of a run: the earliest failure, or the gaps written.
qvres_status finish(Run& run, qvres_series_gap* gaps, std::int64_t* gap_count, qvres_error* error) {
    if (run.failed_status != QVRES_OK)
        return report(error, run.failed_status, "%s", run.failed_message);
    std::sort(run.gaps.begin(), run.gaps.end(), [](const Gap& x, const Gap& y) {
        return x.cycle != y.cycle ? x.cycle < y.cycle : x.request < y.request;
    });
    if (gaps) {
        for (std::size_t g = 0; g < run.gaps.size(); ++g) {
            gaps[g] = qvres_series_gap{};
            gaps[g].cycle = run.gaps[g].cycle;
            gaps[g].request = run.gaps[g].request;
            gaps[g].status = run.gaps[g].status;
            std::snprintf(gaps[g].message, sizeof gaps[g].message, "%s", run.gaps[g].message.c_str());
        }
    }
    if (gap_count) *gap_count = static_cast<std::int64_t>(run.gaps.size());
    return succeed(error);
}

qvres_status check_gaps(const qvres_series& s, qvres_series_gap* gaps, std::int64_t gap_capacity,
                        qvres_error* error) {
    if (!gaps && gap_capacity != 0) return report(error, QVRES_E_ARGUMENT, "no gap records");
    const std::int64_t most = most_gaps(s);
    if (gaps && (most < 0 || gap_capacity < most))
        return report(error, QVRES_E_CAPACITY, "room for %lld gaps where there may be %lld",
                      static_cast<long long>(gap_capacity), static_cast<long long>(most));
    return QVRES_OK;
}

template <class T>
struct HistorySink final : Sink<T> {
    const qvres_series& s;
    T* values;
    HistorySink(const qvres_series& series, T* out) : s(series), values(out) {}
    T* row(std::int64_t c, std::int64_t r) const {
        return values + (c * s.request_count + r) * s.position_count;
    }
    void put(std::int64_t c, std::int64_t r, const T* in, const PositionMap& map) override {
        T* out = row(c, r);
        for (std::int64_t p = 0; p < s.position_count; ++p) out[p] = in[map(s.positions[p])];
    }
    void none(std::int64_t c, std::int64_t r) override {
        if (r >= 0)
            std::fill_n(row(c, r), s.position_count, no_value<T>());
        else
            std::fill_n(row(c, 0), s.request_count * s.position_count, no_value<T>());
    }

    // From runs: the positions in value order.
    PositionOrder order;
    bool takes_runs() const override { return std::is_same_v<T, float> && PositionOrder::fits(s); }
    void begin(std::int64_t, std::int64_t, const PositionMap& map, RunState& st) override {
        order.prepare(s, map, st);
    }
    void run(std::int64_t c, std::int64_t r, RunState& st, std::int64_t first, const float* stored, std::int64_t n,
             float scale) override {
        if constexpr (std::is_same_v<T, float>) {
            T* out = row(c, r);
            PositionOrder::in_run(s, st, first, n,
                                  [&](std::size_t k, std::int64_t at) { out[k] = stored[at - first] * scale; });
        }
    }
};

template <class T>
qvres_status read_history(const qvres_analysis* a, const qvres_series* s, T* values,
                          std::int64_t capacity, qvres_series_gap* gaps, std::int64_t gap_capacity,
                          std::int64_t* gap_count, qvres_error* error) {
    if (const qvres_status st = check_series(a, s, std::is_same_v<T, std::int32_t> ? 1 : 0, false, error);
        st != QVRES_OK)
        return st;
    if (!values && capacity != 0) return report(error, QVRES_E_ARGUMENT, "no buffer");
    const std::int64_t count = history_count(*s);
    if (count < 0 || capacity < count)
        return report(error, QVRES_E_CAPACITY, "room for %lld values where the history has %lld",
                      static_cast<long long>(capacity), static_cast<long long>(count));
    if (const qvres_status st = check_gaps(*s, gaps, gap_capacity, error); st != QVRES_OK) return st;
    return guarded_status(error, [&] {
        Run run(a, s);
        HistorySink<T> sink(*s, values);
        run_workers<T>(run, s->threads, sink);
        return finish(run, gaps, gap_count, error);
    });
}

// Takes `m` for `hold`. A stripe's lock is held for the few microseconds
// of a merge, by a worker running on another core: waiting a little before
// sleeping spares both the sleep and the holder's wake-up call on release,
// which cost more than the merge of a stripe.
void lock_stripe(std::unique_lock<std::mutex>& hold, std::mutex& m) {
    hold = std::unique_lock<std::mutex>(m, std::try_to_lock);
    for (int spin = 0; spin < 4096 && !hold.owns_lock(); ++spin) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
        hold.try_lock();
    }
    if (!hold.owns_lock()) hold.lock();
}

// The envelope's positions are merged in stripes, each under its own
// lock, so that workers merging different cycles at once work on
// different stripes. A stripe no cycle has merged yet takes the first
// cycle's values as they come; one no cycle ever merged is filled with no
// value when the call ends. Each stripe keeps its positions' cycles as
// offsets of type C (see series_merge.h) in the top of its own stretch of
// the caller's cycles, and widens them once every cycle of the range has
// merged it or given nothing (those that are still narrow when the
// workers are done, at the end).
//
// With two workers or more, an envelope of every real value is kept twice
// while the cycles are merged, on two sides: the even workers merge into
// the caller's values and the offsets at the top of each stripe's stretch
// of cycles (side 0), the odd ones into the bytes of that stretch the
// offsets leave free, the values in its first four bytes per position and
// their offsets after them (side 1). A core then seldom writes a line
// another core has just written: on hosts whose cores share no cache,
// moving such lines from core to core cost as much as the merge itself.
// Once no cycle is left to merge a stripe, side 1's half is combined into
// side 0's, as if one worker had merged every cycle, and then widened.
template <class T, class C>
struct EnvelopeSink final : Sink<T> {
    static constexpr std::int64_t kStripes = 64;
    // Cycle c starts its merge at stripe c * kStride: consecutive cycles,
    // which workers merge at the same time, start half the stripes apart
    // and walk the same way, so they seldom wait for each other's stripe.
    static constexpr std::int64_t kStride = kStripes / 2 + 1;
    const qvres_series& s;
    bool maximum;
    T* values;
    std::int64_t* cycles;
    int sides = 1;
    // Stripe `at` of side `side` is locks[at + side * kStripes].
    std::unique_ptr<std::mutex[]> locks{new std::mutex[2 * kStripes]};
    // Under a stripe's lock: the latest cycle its side has merged (-1 for
    // none, indexed as the locks); under side 0's, whether it is widened.
    std::vector<std::int64_t> latest = std::vector<std::int64_t>(2 * kStripes, -1);
    std::vector<char> widened = std::vector<char>(kStripes, 0);
    // How many cycles merged each stripe, on either side.
    std::unique_ptr<std::atomic<std::int64_t>[]> merged{new std::atomic<std::int64_t>[kStripes]};
    // Cycles that gave nothing (gaps).
    std::atomic<std::int64_t> absent{0};
    // Stripes no cycle is left to merge, whose cycles any worker out of
    // cycles widens (one bit each), and the workers still reading.
    std::atomic<std::uint64_t> ready{0};
    std::atomic<int> reading{0};
    EnvelopeSink(const qvres_series& series, bool max, T* v, std::int64_t* c)
        : s(series), maximum(max), values(v), cycles(c) {
        for (std::int64_t at = 0; at < kStripes; ++at) merged[static_cast<std::size_t>(at)].store(0);
    }
    // Two sides where there are two workers to merge and room for the
    // second side: four-byte values and two-byte offsets, from runs.
    void workers(std::int64_t n) override {
        if (std::is_same_v<T, float> && sizeof(C) == 2 && !s.positions && n >= 2) sides = 2;
    }

    std::int64_t positions() const { return s.positions ? s.position_count : this->every; }
    std::int64_t stripe_size() const { return std::max<std::int64_t>(1, (positions() + kStripes - 1) / kStripes); }
    std::int64_t stripe_begin(std::int64_t at) const { return std::min(positions(), at * stripe_size()); }
    std::int64_t stripe_end(std::int64_t at) const { return std::min(positions(), (at + 1) * stripe_size()); }
    // kept(at)[p]: the offset position p of stripe `at` keeps.
    C* kept(std::int64_t at) const { return qv::api::kept_cycles<C>(cycles, stripe_begin(at), stripe_end(at)); }
    // The values and offsets side 1 keeps for positions p of stripe `at`:
    // [p] of these, in the first six bytes per position of its stretch.
    T* side_values(std::int64_t at) const {
        const std::int64_t b = stripe_begin(at);
        return reinterpret_cast<T*>(cycles + b) - b;
    }
    C* side_kept(std::int64_t at) const {
        const std::int64_t b = stripe_begin(at), n = stripe_end(at) - b;
        return reinterpret_cast<C*>(reinterpret_cast<unsigned char*>(cycles + b) + sizeof(T) * n) - b;
    }

    // How cycle `cycle` merges into stripe `at` of side `side`, its lock held.
    enum class How { first, in_order, any_order };
    How enter(std::int64_t at, std::int64_t cycle, int side = 0) {
        std::int64_t& last = latest[static_cast<std::size_t>(at + side * kStripes)];
        const How how = last < 0 ? How::first : cycle >= last ? How::in_order : How::any_order;
        last = std::max(last, cycle);
        return how;
    }
    // A cycle is done with stripe `at`, its lock held: the stripe is ready
    // to be widened when no cycle is left to merge it.
    void leave(std::int64_t at) {
        const auto k = static_cast<std::size_t>(at);
        if (merged[k].fetch_add(1) + 1 + absent.load() == cycles_of(s)) {
            ready.fetch_or(std::uint64_t{1} << at);
            wake(false);
        }
    }
    // Combines side 1's half of stripe `at` into side 0's; no cycle is
    // left to merge the stripe, and side 0's lock is held.
    void combine(std::int64_t at) {
        const auto k = static_cast<std::size_t>(at);
        std::int64_t& other = latest[k + kStripes];
        if (sides < 2 || other < 0) return;
        const std::int64_t b = stripe_begin(at), n = stripe_end(at) - b;
        if (latest[k] < 0) {
            // Side 0 has nothing: side 1's half as it stands. The offsets
            // move up into bytes side 1 never used.
            std::memcpy(values + b, side_values(at) + b, sizeof(T) * static_cast<std::size_t>(n));
            std::memcpy(kept(at) + b, side_kept(at) + b, sizeof(C) * static_cast<std::size_t>(n));
        } else if constexpr (std::is_same_v<T, float>) {
            qv::api::combine_kept<C>(maximum, values, kept(at), side_values(at), side_kept(at), b, b + n);
        }
        latest[k] = std::max(latest[k], other);
        other = -1;
    }
    void widen(std::int64_t at) {
        const auto k = static_cast<std::size_t>(at);
        if (widened[k]) return;
        combine(at);
        if (latest[k] < 0) return;
        qv::api::widen_cycles<C>(cycles, stripe_begin(at), stripe_end(at), s.first_cycle);
        widened[k] = 1;
    }
    // Widens one ready stripe; false when none is.
    bool widen_ready() {
        for (std::uint64_t r = ready.load(); r;) {
            const std::uint64_t bit = r & (~r + 1);
            if (!ready.compare_exchange_weak(r, r & ~bit)) continue;
            const auto at = static_cast<std::int64_t>(__builtin_ctzll(bit));
            std::unique_lock<std::mutex> hold;
            lock_stripe(hold, locks[static_cast<std::size_t>(at)]);
            widen(at);
            return true;
        }
        return false;
    }
    // A worker out of cycles widens ready stripes until no worker is left
    // reading (the last cycles' workers make stripes ready as they go),
    // sleeping while there is none; what is left is widened at the end.
    std::mutex idle_lock;
    std::condition_variable idle;
    int idle_workers = 0;  // under idle_lock
    void wake(bool all) {
        {
            std::lock_guard<std::mutex> hold(idle_lock);
            if (idle_workers == 0) return;
        }
        all ? idle.notify_all() : idle.notify_one();
    }
    void start_reading() override { reading.fetch_add(1); }
    void stop_reading() override {
        reading.fetch_sub(1);
        wake(true);
        std::unique_lock<std::mutex> hold(idle_lock);
        ++idle_workers;
        for (;;) {
            hold.unlock();
            while (widen_ready()) {
            }
            hold.lock();
            if (ready.load() != 0) continue;
            if (reading.load() == 0) break;
            idle.wait(hold);
        }
        --idle_workers;
    }
    template <class Get>
    void merge(How how, std::int64_t begin, std::int64_t end, C* at_cycles, C cycle, Get get) {
        if (how == How::first) return first_span(values, at_cycles, begin, end, cycle, get);
        if (maximum)
            how == How::in_order ? merge_span<true, true>(values, at_cycles, begin, end, cycle, get)
                                 : merge_span<true, false>(values, at_cycles, begin, end, cycle, get);
        else
            how == How::in_order ? merge_span<false, true>(values, at_cycles, begin, end, cycle, get)
                                 : merge_span<false, false>(values, at_cycles, begin, end, cycle, get);
    }
    // Merges stripe `at` of cycle c (0-based in the range), value get(p) of
    // position p, its lock held.
    template <class Get>
    void merge_held(std::int64_t at, std::int64_t c, Get get) {
        merge(enter(at, s.first_cycle + c), stripe_begin(at), stripe_end(at), kept(at), static_cast<C>(c), get);
        leave(at);
    }
    // Merges every stripe of cycle c. A stripe another worker holds is
    // passed over and come back to: no worker waits while another, perhaps
    // not running (a busy host), holds a lock. Only a pass that finds every
    // stripe left busy waits.
    template <class Get>
    void merge_cycle(std::int64_t c, Get get) {
        std::uint64_t left = ~std::uint64_t{0};
        static_assert(kStripes == 64, "one bit per stripe");
        while (left) {
            bool any = false;
            for (std::int64_t k = 0; k < kStripes; ++k) {
                const std::int64_t at = (k + c * kStride) % kStripes;
                const std::uint64_t bit = std::uint64_t{1} << at;
                if (!(left & bit)) continue;
                std::unique_lock<std::mutex> hold(locks[static_cast<std::size_t>(at)], std::try_to_lock);
                if (!hold.owns_lock()) continue;
                merge_held(at, c, get);
                left &= ~bit;
                any = true;
            }
            if (!any && left) {
                // Every stripe left is busy: wait for the first of them.
                const auto at = static_cast<std::int64_t>(__builtin_ctzll(left));
                std::unique_lock<std::mutex> hold;
                lock_stripe(hold, locks[static_cast<std::size_t>(at)]);
                merge_held(at, c, get);
                left &= ~(std::uint64_t{1} << at);
            }
        }
    }
    void put(std::int64_t c, std::int64_t, const T* in, const PositionMap& map) override {
        if (s.positions)
            merge_cycle(c, [&](std::int64_t p) { return in[map(s.positions[p])]; });
        else
            merge_cycle(c, [&](std::int64_t p) { return in[p]; });
    }
    void none(std::int64_t, std::int64_t) override { absent.fetch_add(1); }

    // From runs. An envelope of every value merges each run as it stands
    // in the stored array. Runs come in value order and are short (a row of
    // cells), so a stripe's lock is taken once for all the runs in it; a
    // worker that reaches a stripe another holds waits for it, which for
    // two workers walking the same way is a short wait. An envelope of
    // named positions picks their values from the runs and merges them when
    // the cycle's runs are done.
    PositionOrder order;
    bool takes_runs() const override {
        return std::is_same_v<T, float> && (!s.positions || PositionOrder::fits(s));
    }
    void begin(std::int64_t, std::int64_t, const PositionMap& map, RunState& st) override {
        if (!s.positions) return;
        order.prepare(s, map, st);
        st.picked.resize(static_cast<std::size_t>(s.position_count));
    }
    void end(std::int64_t c, std::int64_t, RunState& st) override {
        if (s.positions) merge_cycle(c, [&](std::int64_t p) { return T(st.picked[static_cast<std::size_t>(p)]); });
        if (st.held.owns_lock()) {
            leave(st.held_at);
            st.held.unlock();
        }
    }
    void run(std::int64_t c, std::int64_t, RunState& st, std::int64_t first,
             const float* stored, std::int64_t n, float scale) override {
        if (s.positions) {
            PositionOrder::in_run(s, st, first, n,
                                  [&](std::size_t k, std::int64_t at) { st.picked[k] = stored[at - first] * scale; });
            return;
        }
        if constexpr (std::is_same_v<T, float>) {
            const float* const at_p = stored - first;  // at_p[p]: position p
            for (std::int64_t begin = first; begin < first + n;) {
                if (begin >= st.held_end) hold(c, st, begin);
                const std::int64_t end = std::min(first + n, st.held_end);
                qv::api::merge_scaled(maximum, arrival(st), static_cast<float*>(st.held_values),
                                      static_cast<C*>(st.held_cycles), at_p, scale, begin, end, static_cast<C>(c));
                begin = end;
            }
        }
    }
    // An envelope of every value merges the rows that lie whole in the
    // stripe held at once, and a row that crosses into the next stripe as
    // a run.
    void rows(std::int64_t c, std::int64_t r, RunState& st, std::int64_t first, const float* stored,
              std::int64_t count, std::int64_t length, std::int64_t stride, float scale) override {
        if (s.positions || length <= 0) return Sink<T>::rows(c, r, st, first, stored, count, length, stride, scale);
        if constexpr (std::is_same_v<T, float>) {
            for (std::int64_t k = 0; k < count;) {
                const std::int64_t begin = first + k * length;
                if (begin >= st.held_end) hold(c, st, begin);
                const std::int64_t whole = std::min(count - k, (st.held_end - begin) / length);
                if (whole == 0) {
                    run(c, r, st, begin, stored + k * stride, length, scale);
                    ++k;
                    continue;
                }
                qv::api::merge_scaled_rows(maximum, arrival(st), static_cast<float*>(st.held_values),
                                           static_cast<C*>(st.held_cycles), stored + k * stride, stride, length,
                                           whole, scale, begin, static_cast<C>(c));
                k += whole;
            }
        }
    }
    // Runs come in value order: the stripe of position `begin` is the one
    // held or a later one. Takes it (on the worker's side) in place of the
    // one held.
    void hold(std::int64_t c, RunState& st, std::int64_t begin) {
        const std::int64_t at = begin / stripe_size();
        if (st.held.owns_lock()) {
            leave(st.held_at);
            st.held.unlock();
        }
        const int side = st.worker % sides;
        lock_stripe(st.held, locks[static_cast<std::size_t>(at + side * kStripes)]);
        st.held_at = at;
        st.held_end = stripe_end(at);
        st.held_values = side == 0 ? values : side_values(at);
        st.held_cycles = side == 0 ? kept(at) : side_kept(at);
        // Every run of this cycle in the stripe merges the same way.
        st.how = static_cast<int>(enter(at, s.first_cycle + c, side));
    }
    static qv::api::Arrival arrival(const RunState& st) {
        const How how = static_cast<How>(st.how);
        return how == How::first      ? qv::api::Arrival::first
               : how == How::in_order ? qv::api::Arrival::in_order
                                      : qv::api::Arrival::any_order;
    }

    // Stripes no cycle merged hold no value; the cycles of the others are
    // widened if they are not yet.
    void finish() {
        for (std::int64_t at = 0; at < kStripes; ++at) {
            widen(at);
            if (latest[static_cast<std::size_t>(at)] >= 0) continue;
            std::fill(values + stripe_begin(at), values + stripe_end(at), no_value<T>());
            std::fill(cycles + stripe_begin(at), cycles + stripe_end(at), std::int64_t{-1});
        }
    }
};

// The positions of an envelope without positions: the value count of the
// first cycle of the range that gives one (with skipping, cycles that fail
// are passed over).
qvres_status envelope_positions(const qvres_analysis* a, const qvres_series& s, std::int64_t& count,
                                qvres_error* error) {
    if (s.positions) {
        count = s.position_count;
        return QVRES_OK;
    }
    qvres_status st = QVRES_OK;
    for (std::int64_t c = s.first_cycle; c <= s.last_cycle; ++c) {
        ReaderHandle reader;
        st = qvres_reader_open(a, c, &reader.r, error);
        if (st == QVRES_OK) st = qvres_count_values(reader.r, &s.requests[0], &count, error);
        if (st == QVRES_OK) return QVRES_OK;
        if (!s.skip_failed_cycles || !skippable(st)) return st;
    }
    return st;
}

template <class T>
qvres_status read_envelope(const qvres_analysis* a, const qvres_series* s, std::int32_t extreme, T* values,
                           std::int64_t* cycles, std::int64_t capacity, qvres_series_gap* gaps,
                           std::int64_t gap_capacity, std::int64_t* gap_count, qvres_error* error) {
    if (const qvres_status st = check_series(a, s, std::is_same_v<T, std::int32_t> ? 1 : 0, true, error);
        st != QVRES_OK)
        return st;
    if (extreme != QVRES_MAXIMUM && extreme != QVRES_MINIMUM)
        return report(error, QVRES_E_ARGUMENT, "extreme %d is neither maximum nor minimum",
                      static_cast<int>(extreme));
    if ((!values || !cycles) && capacity != 0)
        return report(error, QVRES_E_ARGUMENT, "no values or no cycles");
    return guarded_status(error, [&] {
        std::int64_t n = 0;
        if (const qvres_status st = envelope_positions(a, *s, n, error); st != QVRES_OK) return st;
        if (capacity < n)
            return report(error, QVRES_E_CAPACITY, "room for %lld values where the envelope has %lld",
                          static_cast<long long>(capacity), static_cast<long long>(n));
        if (const qvres_status st = check_gaps(*s, gaps, gap_capacity, error); st != QVRES_OK)
            return st;
        Run run(a, s);
        const auto merge = [&](auto&& sink) {
            sink.every = n;
            run_workers<T>(run, s->threads, sink);
            sink.finish();
            return finish(run, gaps, gap_count, error);
        };
        // The narrowest offsets that tell the range's cycles and no value apart.
        if (cycles_of(*s) < std::numeric_limits<std::uint16_t>::max())
            return merge(EnvelopeSink<T, std::uint16_t>(*s, extreme == QVRES_MAXIMUM, values, cycles));
        if (cycles_of(*s) < std::numeric_limits<std::uint32_t>::max())
            return merge(EnvelopeSink<T, std::uint32_t>(*s, extreme == QVRES_MAXIMUM, values, cycles));
        return report(error, QVRES_E_ARGUMENT, "an envelope of more than 4294967294 cycles");
    });
}

}  // namespace

extern "C" {

QVRES_EXPORT qvres_status QVRES_CALL qvres_count_history(const qvres_analysis* a,
                                                         const qvres_series* s, int64_t* count,
                                                         qvres_error* error) {
    if (!count) return report(error, QVRES_E_ARGUMENT, "no count");
    if (const qvres_status st = check_series(a, s, -1, false, error); st != QVRES_OK) return st;
    const std::int64_t n = history_count(*s);
    if (n < 0) return report(error, QVRES_E_ARGUMENT, "the history has more values than a count holds");
    *count = n;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_history_float(
    const qvres_analysis* a, const qvres_series* s, float* values, int64_t capacity,
    qvres_series_gap* gaps, int64_t gap_capacity, int64_t* gap_count, qvres_error* error) {
    return read_history(a, s, values, capacity, gaps, gap_capacity, gap_count, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_history_int32(
    const qvres_analysis* a, const qvres_series* s, int32_t* values, int64_t capacity,
    qvres_series_gap* gaps, int64_t gap_capacity, int64_t* gap_count, qvres_error* error) {
    return read_history(a, s, values, capacity, gaps, gap_capacity, gap_count, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_count_envelope(const qvres_analysis* a,
                                                          const qvres_series* s, int64_t* count,
                                                          qvres_error* error) {
    if (!count) return report(error, QVRES_E_ARGUMENT, "no count");
    if (const qvres_status st = check_series(a, s, -1, true, error); st != QVRES_OK) return st;
    return guarded_status(error, [&] {
        std::int64_t n = 0;
        if (const qvres_status st = envelope_positions(a, *s, n, error); st != QVRES_OK) return st;
        *count = n;
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_envelope(
    const qvres_analysis* a, const qvres_series* s, int32_t extreme, float* values,
    int64_t* cycles, int64_t capacity, qvres_series_gap* gaps, int64_t gap_capacity,
    int64_t* gap_count, qvres_error* error) {
    return read_envelope(a, s, extreme, values, cycles, capacity, gaps, gap_capacity, gap_count, error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_read_envelope_int32(
    const qvres_analysis* a, const qvres_series* s, int32_t extreme, int32_t* values,
    int64_t* cycles, int64_t capacity, qvres_series_gap* gaps, int64_t gap_capacity,
    int64_t* gap_count, qvres_error* error) {
    return read_envelope(a, s, extreme, values, cycles, capacity, gaps, gap_capacity, gap_count, error);
}

}  // extern "C"
