// Histories and envelopes over cycles, against the one-cycle value queries:
// every value bit for bit, whatever the thread count; gaps for cycles that
// do not store a variable, and for damaged or missing cycle files when
// asked to skip them; capacity errors that write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "qvres/qvres_support.h"
#include "support/temp_dir.h"

namespace {

using namespace qvtest;

// The fixture's four cycles (10, 20, 30, 40 in time order) and three more:
// cycle 50 with cycle 10's values (ties with the first cycle), cycle 60
// without the pressure (real element variable 64) and cycle 70 without the
// element integers of variable 12.
struct SeriesFixture {
    TempDir dir;
    std::vector<std::string> files;  // by registered cycle index
    SeriesFixture() {
        const FixtureFiles f = write_fixture(dir.path());
        // write_fixture writes cycles 30, 10, 40, 20 in that file order.
        files = {f.cycle_files[1], f.cycle_files[3], f.cycle_files[0], f.cycle_files[2]};
        const std::int32_t extra[][3] = {{50, 10, 0}, {60, 60, 64}, {70, 70, 12}};
        for (int e = 0; e < 3; ++e) {
            files.push_back(dir.file("fix_run_" + std::to_string(5 + e) + ".qvres"));
            write_fixture_cycle(files.back(), extra[e][0], 0.5f * float(extra[e][0]), extra[e][1],
                                extra[e][2]);
        }
    }
};
constexpr std::int64_t kCycles = 7;

bool integer_request(const qvres_request& q) { return is_integer(q.values); }

// One cycle's answer to a request through the one-cycle queries.
struct CycleValues {
    qvres_status status = QVRES_OK;
    std::vector<std::uint32_t> bits;
};
CycleValues read_cycle(const qvres_analysis* a, std::int64_t cycle, const qvres_request& q) {
    Reader reader(a, cycle);
    if (reader.status != QVRES_OK) return {reader.status, {}};
    const Reading r = read(value_array(reader.r, q));
    return {qvres_status(r.status), r.bits};
}

std::uint32_t nan_bits() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::uint32_t b;
    std::memcpy(&b, &nan, 4);
    return b;
}

qvres_series series_of(const std::vector<qvres_request>& requests, const std::vector<std::int64_t>& positions,
                       std::int32_t threads, std::int64_t first = 0, std::int64_t last = kCycles - 1) {
    qvres_series s{};
    s.requests = requests.data();
    s.request_count = static_cast<std::int64_t>(requests.size());
    s.positions = positions.empty() ? nullptr : positions.data();
    s.position_count = static_cast<std::int64_t>(positions.size());
    s.by = QVRES_BY_VALUE;
    s.first_cycle = first;
    s.last_cycle = last;
    s.threads = threads;
    return s;
}

qvres_series by_position(qvres_series s, std::int32_t column) {
    s.by = QVRES_BY_POSITION;
    s.column = column;
    return s;
}

struct History {
    qvres_status status = QVRES_OK;
    std::string message;
    std::vector<std::uint32_t> bits;
    std::vector<qvres_series_gap> gaps;
};
History history(const qvres_analysis* a, const qvres_series& s) {
    History h;
    qvres_error error{};
    std::int64_t count = -1;
    EXPECT_EQ(qvres_count_history(a, &s, &count, &error), QVRES_OK) << error.message;
    h.bits.assign(static_cast<std::size_t>(count), 0xA5A5A5A5u);
    h.gaps.resize(static_cast<std::size_t>((s.last_cycle - s.first_cycle + 1) * s.request_count));
    std::int64_t gaps = -1;
    h.status = integer_request(s.requests[0])
                   ? qvres_read_history_int32(a, &s, reinterpret_cast<std::int32_t*>(h.bits.data()), count,
                                              h.gaps.data(), std::int64_t(h.gaps.size()), &gaps, &error)
                   : qvres_read_history_float(a, &s, reinterpret_cast<float*>(h.bits.data()), count,
                                              h.gaps.data(), std::int64_t(h.gaps.size()), &gaps, &error);
    h.message = error.message;
    if (h.status == QVRES_OK) h.gaps.resize(static_cast<std::size_t>(gaps));
    return h;
}

// What the history must hold, from the one-cycle reads: values picked at
// the positions, no value and a gap where the cycle does not store it.
History expected_history(const qvres_analysis* a, const std::vector<qvres_request>& requests,
                         const std::vector<std::int64_t>& positions, std::int64_t first, std::int64_t last,
                         const std::vector<std::int64_t>& missing = {}) {
    History h;
    for (std::int64_t c = first; c <= last; ++c) {
        const bool gone = std::find(missing.begin(), missing.end(), c) != missing.end();
        if (gone) h.gaps.push_back({c, -1, QVRES_OK, {}});
        for (std::size_t r = 0; r < requests.size(); ++r) {
            const std::uint32_t none = integer_request(requests[r]) ? 0x80000000u : nan_bits();
            const CycleValues v = gone ? CycleValues{QVRES_E_NOT_FOUND, {}} : read_cycle(a, c, requests[r]);
            if (v.status == QVRES_E_NOT_STORED) h.gaps.push_back({c, std::int64_t(r), QVRES_E_NOT_STORED, {}});
            else if (!gone && v.status != QVRES_OK) h.status = v.status;
            for (std::int64_t p : positions)
                h.bits.push_back(v.status == QVRES_OK ? v.bits.at(static_cast<std::size_t>(p)) : none);
        }
    }
    return h;
}

void expect_same_history(const History& got, const History& want) {
    ASSERT_EQ(got.status, want.status) << got.message;
    if (want.status != QVRES_OK) return;
    EXPECT_EQ(got.bits, want.bits);
    ASSERT_EQ(got.gaps.size(), want.gaps.size());
    for (std::size_t g = 0; g < want.gaps.size(); ++g) {
        EXPECT_EQ(got.gaps[g].cycle, want.gaps[g].cycle) << g;
        EXPECT_EQ(got.gaps[g].request, want.gaps[g].request) << g;
        if (want.gaps[g].status != QVRES_OK) {
            EXPECT_EQ(got.gaps[g].status, want.gaps[g].status) << g;
        }
        EXPECT_NE(std::string(got.gaps[g].message).find("fix_run_"), std::string::npos) << got.gaps[g].message;
    }
}

std::int64_t count_of(const qvres_analysis* a, const qvres_request& q) {
    Reader reader(a, 0);
    std::int64_t n = 0;
    EXPECT_EQ(qvres_count_values(reader.r, &q, &n, nullptr), QVRES_OK);
    return n;
}

TEST(History, EveryValueOfEveryRequestMatchesTheOneCycleReadsInOneTwoAndThreeThreads) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    std::vector<Request> requests;
    {
        Reader reader(open.a, 0);
        requests = value_requests(reader.r, 4);
    }
    for (const Request& rq : requests) {
        const std::vector<qvres_request> q = {rq.q};
        const std::int64_t n = count_of(open.a, rq.q);
        if (n == 0) continue;
        std::vector<std::int64_t> every(static_cast<std::size_t>(n));
        for (std::int64_t p = 0; p < n; ++p) every[static_cast<std::size_t>(p)] = p;
        SCOPED_TRACE("request " + std::to_string(rq.q.values) + " variable " + std::to_string(rq.q.variable) +
                     " part " + std::to_string(rq.q.part));
        const History want = expected_history(open.a, q, every, 0, kCycles - 1);
        for (std::int32_t threads : {1, 2, 3}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            expect_same_history(history(open.a, series_of(q, every, threads)), want);
        }
    }
}

TEST(History, SeveralRequestsAndScatteredPositionsOverAPartOfTheCycles) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    // Pressure, a multi-material variable, node velocities, displacements.
    const std::vector<qvres_request> reals = {{QVRES_ELEMENT_REALS, 64, 1},
                                              {QVRES_ELEMENT_REALS, 54, 1},
                                              {QVRES_NODE_REALS, 4, 1},
                                              {QVRES_DISPLACEMENTS, 0, 0}};
    // Positions out of order and repeated; 39 is the last multi-material
    // value (an unstructured element), 15 the last pressure value.
    const std::vector<std::int64_t> positions = {15, 0, 7, 12, 7, 3};
    for (std::int32_t threads : {1, 3})
        expect_same_history(history(open.a, series_of(reals, positions, threads, 2, 6)),
                            expected_history(open.a, reals, positions, 2, 6));
    const std::vector<qvres_request> multi = {{QVRES_ELEMENT_REALS, 54, 1}};
    expect_same_history(history(open.a, series_of(multi, {39, 36, 35, 0}, 2, 1, 1)),
                        expected_history(open.a, multi, {39, 36, 35, 0}, 1, 1));
    // Element integers, one cycle of which (70) does not store variable 12.
    const std::vector<qvres_request> ints = {{QVRES_ELEMENT_INTEGERS, 12, 1}, {QVRES_ELEMENT_INTEGERS, 10, 1}};
    const History h = history(open.a, series_of(ints, {0, 9}, 2));
    expect_same_history(h, expected_history(open.a, ints, {0, 9}, 0, kCycles - 1));
    ASSERT_EQ(h.gaps.size(), 1u);
    EXPECT_EQ(h.gaps[0].cycle, 6);
    EXPECT_EQ(h.gaps[0].status, QVRES_E_NOT_STORED);
    EXPECT_NE(std::string(h.gaps[0].message).find(fx.files[6]), std::string::npos) << h.gaps[0].message;
    EXPECT_EQ(h.bits[6 * 4 + 0], 0x80000000u);  // QVRES_NO_INTEGER, not 0
}

TEST(History, PositionsByLayoutPickTheMaterialColumnOrTheSlotsOwnValue) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    // The fixture's element positions: 4 elements of the 3x3x2 part, the 6
    // slots of the 1x3x2 part, 2 elements of the 2x2x3 part, then 4
    // unstructured elements. Materials 1 and 3 have Euler ids >= 0, so a
    // multi-material position holds (material 1, material 3, own value);
    // an unstructured element holds its own value alone, from value 36 on.
    const std::vector<qvres_request> multi = {{QVRES_ELEMENT_REALS, 83, 1}};
    const std::vector<std::int64_t> positions = {0, 5, 11, 12, 15};
    struct Case {
        std::int32_t column;
        std::vector<std::int64_t> values;
    };
    for (const Case& k : {Case{3, {1, 16, 34, 36, 39}}, Case{0, {2, 17, 35, 36, 39}}, Case{1, {0, 15, 33, 36, 39}}}) {
        SCOPED_TRACE("column " + std::to_string(k.column));
        expect_same_history(history(open.a, by_position(series_of(multi, positions, 2), k.column)),
                            expected_history(open.a, multi, k.values, 0, kCycles - 1));
    }
    // Displacements: 49 nodes (36 slots, 13 unstructured), component 2.
    const std::vector<qvres_request> moves = {{QVRES_DISPLACEMENTS, 0, 0}};
    const std::vector<std::int64_t> nodes = {0, 36, 48}, past = {49};
    expect_same_history(history(open.a, by_position(series_of(moves, nodes, 3), 2)),
                        expected_history(open.a, moves, {2, 110, 146}, 0, kCycles - 1));

    // Material 2 is not reported, a one-column variable has no material,
    // and no node 49 exists: errors, the last naming the file.
    qvres_error error{};
    std::vector<float> out(64);
    const std::vector<qvres_request> pressure = {{QVRES_ELEMENT_REALS, 64, 1}};
    for (const qvres_series& s : {by_position(series_of(multi, positions, 1), 2),
                                  by_position(series_of(pressure, positions, 1), 1),
                                  by_position(series_of(moves, past, 1, 0, 0), 0)})
        EXPECT_EQ(qvres_read_history_float(open.a, &s, out.data(), 64, nullptr, 0, nullptr, &error), QVRES_E_ARGUMENT);
    EXPECT_NE(std::string(error.message).find("fix_run_2.qvres"), std::string::npos) << error.message;
}

// The envelope from the one-cycle reads: the first of the largest
// (smallest) values, NaN and -1 where no cycle gave one.
void expect_envelope(const qvres_analysis* a, const qvres_request& q, std::vector<std::int64_t> positions,
                     std::int32_t extreme, const std::vector<std::int64_t>& missing = {},
                     bool* tied = nullptr, std::int64_t cycle_count = kCycles) {
    const std::vector<qvres_request> requests = {q};
    std::vector<std::uint32_t> want_bits;
    std::vector<std::int64_t> want_cycles;
    std::vector<CycleValues> cycles;
    for (std::int64_t c = 0; c < cycle_count; ++c)
        cycles.push_back(std::find(missing.begin(), missing.end(), c) != missing.end()
                             ? CycleValues{QVRES_E_DAMAGED, {}}
                             : read_cycle(a, c, q));
    const bool every = positions.empty();
    if (every)
        for (std::int64_t p = 0; p < count_of(a, q); ++p) positions.push_back(p);
    bool ties = false;
    const bool integers = integer_request(q);
    for (std::int64_t p : positions) {
        double best = 0;  // integers and reals are both exact as doubles
        std::int64_t at = -1;
        for (std::int64_t c = 0; c < cycle_count; ++c) {
            if (cycles[std::size_t(c)].status != QVRES_OK) continue;
            const std::uint32_t bits = cycles[std::size_t(c)].bits.at(std::size_t(p));
            std::int32_t i;
            float f;
            std::memcpy(&i, &bits, 4);
            std::memcpy(&f, &bits, 4);
            if (integers ? i == QVRES_NO_INTEGER : std::isnan(f)) continue;
            const double v = integers ? double(i) : double(f);
            if (at >= 0 && v == best) ties = true;
            if (at < 0 || (extreme == QVRES_MAXIMUM ? v > best : v < best)) best = v, at = c;
        }
        want_bits.push_back(at < 0 ? (integers ? std::uint32_t(QVRES_NO_INTEGER) : nan_bits())
                                   : cycles[std::size_t(at)].bits[std::size_t(p)]);
        want_cycles.push_back(at);
    }
    for (std::int32_t threads : {1, 2, 3}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const std::vector<std::int64_t> asked = every ? std::vector<std::int64_t>{} : positions;
        qvres_series s = series_of(requests, asked, threads, 0, cycle_count - 1);
        s.skip_failed_cycles = missing.empty() ? 0 : 1;
        qvres_error error{};
        std::int64_t n = -1;
        ASSERT_EQ(qvres_count_envelope(a, &s, &n, &error), QVRES_OK) << error.message;
        ASSERT_EQ(n, std::int64_t(positions.size()));
        std::vector<std::uint32_t> bits(std::size_t(n), 0);
        std::vector<std::int64_t> at(std::size_t(n), 99);
        std::vector<qvres_series_gap> gaps(static_cast<std::size_t>(cycle_count));
        std::int64_t gap_count = -1;
        const qvres_status st =
            integers ? qvres_read_envelope_int32(a, &s, extreme, reinterpret_cast<std::int32_t*>(bits.data()),
                                                 at.data(), n, gaps.data(), cycle_count, &gap_count, &error)
                     : qvres_read_envelope(a, &s, extreme, reinterpret_cast<float*>(bits.data()), at.data(), n,
                                           gaps.data(), cycle_count, &gap_count, &error);
        ASSERT_EQ(st, QVRES_OK) << error.message;
        EXPECT_EQ(bits, want_bits);
        EXPECT_EQ(at, want_cycles);
        std::int64_t want_gaps = 0;
        for (const CycleValues& c : cycles) want_gaps += c.status != QVRES_OK;
        EXPECT_EQ(gap_count, want_gaps);
    }
    if (tied) *tied = ties;
}

TEST(Envelope, MaximaAndMinimaWithTheirFirstCycleMatchTheOneCycleReads) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    for (std::int32_t extreme : {QVRES_MAXIMUM, QVRES_MINIMUM}) {
        SCOPED_TRACE(extreme == QVRES_MAXIMUM ? "maximum" : "minimum");
        // Some value of cycle 10 stays the extreme until cycle 50 repeats
        // it: the tie goes to cycle 10.
        bool tied = false;
        expect_envelope(open.a, {QVRES_ELEMENT_REALS, 54, 1}, {}, extreme, {}, &tied);
        EXPECT_TRUE(tied);
        expect_envelope(open.a, {QVRES_NODE_REALS, 5, 2}, {48, 0, 17, 0}, extreme);
        // Every node: averaged rows of the structured parts, then the rest.
        expect_envelope(open.a, {QVRES_NODE_REALS, 5, 2}, {}, extreme);
        // Cycle 60 does not store the pressure: passed over, and a gap.
        expect_envelope(open.a, {QVRES_ELEMENT_REALS, 64, 1}, {}, extreme);
    }
    // Integers: cycle 50 repeats cycle 10 (ties), cycle 70 does not store
    // variable 12 (a gap); the node integers of every cycle.
    for (std::int32_t extreme : {QVRES_MAXIMUM, QVRES_MINIMUM}) {
        bool tied = false;
        expect_envelope(open.a, {QVRES_ELEMENT_INTEGERS, 12, 1}, {}, extreme, {}, &tied);
        EXPECT_TRUE(tied);
        expect_envelope(open.a, {QVRES_NODE_INTEGERS, 35, 1}, {3, 0, 30}, extreme);
    }
    // Each envelope query takes its own kind of request.
    const std::vector<qvres_request> ints = {{QVRES_ELEMENT_INTEGERS, 12, 1}}, reals = {{QVRES_ELEMENT_REALS, 64, 1}};
    std::vector<float> f(64);
    std::vector<std::int32_t> i(64);
    std::vector<std::int64_t> c(64);
    const std::vector<std::int64_t> first = {0};  // outlives the series that points at it
    qvres_series s = series_of(ints, first, 1);
    EXPECT_EQ(qvres_read_envelope(open.a, &s, QVRES_MAXIMUM, f.data(), c.data(), 64, nullptr, 0, nullptr, nullptr),
              QVRES_E_ARGUMENT);
    s = series_of(reals, first, 1);
    EXPECT_EQ(qvres_read_envelope_int32(open.a, &s, QVRES_MAXIMUM, i.data(), c.data(), 64, nullptr, 0, nullptr,
                                        nullptr),
              QVRES_E_ARGUMENT);
}

// A model whose envelopes span many positions per stripe, over more
// cycles than threads: with two threads or more the workers keep two
// envelopes side by side in the caller's arrays and combine them at the
// end, and the pressure ahead of the wave ties from cycle to cycle.
TEST(Envelope, OfEveryValueOfALargerModelMatchesTheOneCycleReads) {
    TempDir dir;
    qvsample::SampleOptions o;
    o.i = 24;
    o.j = 18;
    o.k = 12;
    o.cycles = 16;
    qvsample::write_sample_analysis(dir.path(), o);
    Open open(dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    for (std::int32_t extreme : {QVRES_MAXIMUM, QVRES_MINIMUM}) {
        SCOPED_TRACE(extreme == QVRES_MAXIMUM ? "maximum" : "minimum");
        bool tied = false;
        expect_envelope(open.a, {QVRES_ELEMENT_REALS, 64, 1}, {}, extreme, {}, &tied, o.cycles);
        EXPECT_TRUE(tied);
        expect_envelope(open.a, {QVRES_NODE_REALS, 4, 1}, {}, extreme, {}, nullptr, o.cycles);
    }
}

TEST(Series, DamagedAndMissingCycleFilesFailTheCallOrAreSkippedAndListed) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    // After the open: cycle 2's file cut short (by sixteenths, until the
    // array read below meets the cut while the file still opens), cycle 4's
    // removed.
    const std::vector<qvres_request> q = {{QVRES_ELEMENT_REALS, 54, 1}};
    const auto size = std::filesystem::file_size(fx.files[2]);
    for (int k = 15; k > 0 && read_cycle(open.a, 2, q[0]).status == QVRES_OK; --k)
        std::filesystem::resize_file(fx.files[2], size * k / 16);
    ASSERT_EQ(read_cycle(open.a, 2, q[0]).status, QVRES_E_DAMAGED);
    ASSERT_EQ(read_cycle(open.a, 2, {QVRES_ELEMENT_REALS, 83, 1}).status, QVRES_E_DAMAGED);
    std::filesystem::remove(fx.files[4]);
    const std::vector<std::int64_t> positions = {0, 20, 39};
    for (std::int32_t threads : {1, 2, 3}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        qvres_series s = series_of(q, positions, threads);
        History h = history(open.a, s);
        EXPECT_EQ(h.status, QVRES_E_DAMAGED);
        EXPECT_NE(h.message.find("fix_run_1.qvres"), std::string::npos) << h.message;
        // From cycle 3 on, the first failure is the missing file.
        s.first_cycle = 3;
        h = history(open.a, s);
        EXPECT_EQ(h.status, QVRES_E_NOT_FOUND);
        EXPECT_NE(h.message.find("fix_run_5.qvres"), std::string::npos) << h.message;

        s.first_cycle = 0;
        s.skip_failed_cycles = 1;
        h = history(open.a, s);
        expect_same_history(h, expected_history(open.a, q, positions, 0, kCycles - 1, {2, 4}));
        ASSERT_EQ(h.gaps.size(), 2u);
        EXPECT_EQ(h.gaps[0].status, QVRES_E_DAMAGED);
        EXPECT_NE(std::string(h.gaps[0].message).find("fix_run_1.qvres"), std::string::npos) << h.gaps[0].message;
        EXPECT_EQ(h.gaps[1].status, QVRES_E_NOT_FOUND);
        EXPECT_NE(std::string(h.gaps[1].message).find("fix_run_5.qvres"), std::string::npos) << h.gaps[1].message;
    }
    for (std::int32_t extreme : {QVRES_MAXIMUM, QVRES_MINIMUM})
        expect_envelope(open.a, {QVRES_ELEMENT_REALS, 83, 1}, {}, extreme, {2, 4});
}

TEST(Series, BuffersTooSmallAndBadArgumentsWriteNothing) {
    SeriesFixture fx;
    Open open(fx.dir.path());
    ASSERT_EQ(open.status, QVRES_OK) << open.error.message;
    const std::vector<qvres_request> q = {{QVRES_ELEMENT_REALS, 64, 1}, {QVRES_NODE_REALS, 4, 1}};
    const std::vector<std::int64_t> positions = {3, 1};
    qvres_series s = series_of(q, positions, 2, 1, 5);
    std::int64_t n = -1;
    ASSERT_EQ(qvres_count_history(open.a, &s, &n, nullptr), QVRES_OK);
    EXPECT_EQ(n, 5 * 2 * 2);
    std::vector<std::uint32_t> out(32, 0xA5A5A5A5u);
    std::vector<qvres_series_gap> gaps(16);
    for (auto& g : gaps) g.cycle = 77;
    const auto untouched = [&] {
        EXPECT_EQ(out, std::vector<std::uint32_t>(32, 0xA5A5A5A5u));
        for (const auto& g : gaps) EXPECT_EQ(g.cycle, 77);
    };
    float* values = reinterpret_cast<float*>(out.data());
    qvres_error error{};
    EXPECT_EQ(qvres_read_history_float(open.a, &s, values, n - 1, gaps.data(), 16, nullptr, &error),
              QVRES_E_CAPACITY);
    // Room for fewer gaps than cycles x requests.
    EXPECT_EQ(qvres_read_history_float(open.a, &s, values, n, gaps.data(), 9, nullptr, &error), QVRES_E_CAPACITY);
    // Integer buffers for real requests, cycles outside the analysis,
    // a negative position, no positions.
    EXPECT_EQ(qvres_read_history_int32(open.a, &s, reinterpret_cast<std::int32_t*>(out.data()), n, nullptr, 0,
                                       nullptr, &error),
              QVRES_E_ARGUMENT);
    qvres_series bad = s;
    bad.last_cycle = kCycles;
    EXPECT_EQ(qvres_read_history_float(open.a, &bad, values, 32, nullptr, 0, nullptr, &error), QVRES_E_ARGUMENT);
    const std::vector<std::int64_t> negative = {1, -1};
    bad = series_of(q, negative, 1);
    EXPECT_EQ(qvres_read_history_float(open.a, &bad, values, 32, nullptr, 0, nullptr, &error), QVRES_E_ARGUMENT);
    bad = series_of(q, {}, 1);
    EXPECT_EQ(qvres_count_history(open.a, &bad, &n, &error), QVRES_E_ARGUMENT);
    untouched();

    const std::vector<qvres_request> one = {{QVRES_ELEMENT_REALS, 64, 1}};
    s = series_of(one, {}, 2);
    ASSERT_EQ(qvres_count_envelope(open.a, &s, &n, nullptr), QVRES_OK);
    EXPECT_EQ(n, 16);
    std::vector<std::int64_t> at(32, 77);
    EXPECT_EQ(qvres_read_envelope(open.a, &s, QVRES_MAXIMUM, values, at.data(), n - 1, nullptr, 0, nullptr, &error),
              QVRES_E_CAPACITY);
    EXPECT_EQ(qvres_read_envelope(open.a, &s, QVRES_MAXIMUM, values, at.data(), n, gaps.data(), 6, nullptr, &error),
              QVRES_E_CAPACITY);
    EXPECT_EQ(qvres_read_envelope(open.a, &s, 3, values, at.data(), n, nullptr, 0, nullptr, &error),
              QVRES_E_ARGUMENT);
    s = series_of(q, {}, 2);  // two requests
    EXPECT_EQ(qvres_read_envelope(open.a, &s, QVRES_MAXIMUM, values, at.data(), 32, nullptr, 0, nullptr, &error),
              QVRES_E_ARGUMENT);
    untouched();
    EXPECT_EQ(at, std::vector<std::int64_t>(32, 77));
}

}  // namespace
