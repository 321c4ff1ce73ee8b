// What a history or an envelope holds while it runs: beyond the result the
// caller passes in, one inflated array and one stored payload per thread,
// whatever the number of cycles (never a cycle's values copied once more,
// never all cycles), and with "one thread per core" only for the
// processors the caller may run on. Every allocation of the process is
// counted here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "qvres.h"
#include "sample/sample_analysis.h"
#include "support/confined.h"
#include "support/temp_dir.h"

namespace {

std::atomic<std::int64_t> live{0}, peak{0};

// Each block carries its size in front of it.
constexpr std::size_t kHead = 2 * sizeof(std::max_align_t) > 16 ? 2 * sizeof(std::max_align_t) : 16;

void* counted(std::size_t n) {
    auto* block = static_cast<char*>(std::malloc(n + kHead));
    if (!block) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = n;
    const std::int64_t now = live += static_cast<std::int64_t>(n);
    for (std::int64_t p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
    }
    return block + kHead;
}

void uncounted(void* p) {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHead;
    live -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

void* counted_or_throw(std::size_t n) {
    if (void* p = counted(n)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return counted_or_throw(n); }
void* operator new[](std::size_t n) { return counted_or_throw(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }

namespace {

TEST(SeriesMemory, AThreadHoldsOneArrayAndOnePayloadWhateverTheCycles) {
    qvtest::TempDir dir;
    qvsample::SampleOptions o;
    o.i = o.j = o.k = 40;
    o.cycles = 8;
    qvsample::write_sample_analysis(dir.path(), o);
    qvres_analysis* a = nullptr;
    qvres_error error{};
    ASSERT_EQ(qvres_open(dir.path().c_str(), nullptr, &a, &error), QVRES_OK) << error.message;
    qvres_model m{};
    ASSERT_EQ(qvres_get_model(a, &m, &error), QVRES_OK);
    ASSERT_EQ(m.cycles, 8);
    const qvres_request pressure = {QVRES_ELEMENT_REALS, 64, 1}, velocity = {QVRES_NODE_REALS, 4, 1};
    // What one value query holds: a reader with its records, its inflated
    // array and the stored payload (the largest over the cycles), the
    // values going into the caller's array.
    const auto one_read = [&](const qvres_request& q) {
        std::int64_t most = 0;
        for (std::int64_t c = 0; c < m.cycles; ++c) {
            qvres_reader* r = nullptr;
            std::int64_t n = 0;
            EXPECT_EQ(qvres_reader_open(a, c, &r, &error), QVRES_OK);
            EXPECT_EQ(qvres_count_values(r, &q, &n, &error), QVRES_OK);
            qvres_reader_close(r);
            std::vector<float> out(static_cast<std::size_t>(n));
            const std::int64_t before = live.load();
            peak = before;
            EXPECT_EQ(qvres_reader_open(a, c, &r, &error), QVRES_OK);
            EXPECT_EQ(qvres_read_float(r, &q, out.data(), n, &error), QVRES_OK) << error.message;
            qvres_reader_close(r);
            most = std::max(most, peak.load() - before);
        }
        return most;
    };
    for (const qvres_request& q : {pressure, velocity}) {
        // 0: one per core, the caller confined to one processor, so that
        // one thread's buffers are all it may hold.
        for (std::int32_t threads : {1, 2, 0}) {
            SCOPED_TRACE(testing::Message() << "variable " << q.variable << ", " << threads << " threads");
            std::optional<qvtest::ConfinedProcessors> confined;
            if (threads == 0) {
                confined.emplace(1);
                if (!confined->confined()) continue;
            }
            const std::int64_t held = threads == 0 ? 1 : threads;
            const std::int64_t one = one_read(q);
            // Where the library's own allocations are not this program's (a
            // Windows DLL has its own), nothing is seen.
            if (one == 0) GTEST_SKIP() << "the library's allocations are not counted here";
            ASSERT_GT(one, 4 * 40 * 40 * 40) << "an inflated array is counted";
            qvres_series s{};
            s.requests = &q;
            s.request_count = 1;
            s.by = QVRES_BY_VALUE;
            s.last_cycle = m.cycles - 1;
            s.threads = threads;
            std::int64_t n = 0;
            ASSERT_EQ(qvres_count_envelope(a, &s, &n, &error), QVRES_OK) << error.message;
            std::vector<float> values(std::size_t(n), 0.0f);
            std::vector<std::int64_t> cycles(std::size_t(n), 0);
            std::vector<std::int64_t> positions;
            for (std::int64_t p = 0; p < n; p += 7) positions.push_back(p);
            std::vector<float> rows(positions.size() * std::size_t(m.cycles));

            // The envelope of every value, a history of every 7th, their envelope.
            for (int call = 0; call < 3; ++call) {
                const std::int64_t before = live.load();
                peak = before;
                qvres_status st;
                if (call == 0) {
                    st = qvres_read_envelope(a, &s, QVRES_MAXIMUM, values.data(), cycles.data(), n, nullptr, 0,
                                             nullptr, &error);
                } else {
                    qvres_series h = s;
                    h.positions = positions.data();
                    h.position_count = std::int64_t(positions.size());
                    st = call == 1 ? qvres_read_history_float(a, &h, rows.data(), std::int64_t(rows.size()), nullptr,
                                                              0, nullptr, &error)
                                   : qvres_read_envelope(a, &h, QVRES_MINIMUM, values.data(), cycles.data(),
                                                         h.position_count, nullptr, 0, nullptr, &error);
                }
                ASSERT_EQ(st, QVRES_OK) << error.message;
                // Per thread what one read holds, and a little for the thread;
                // named positions are also sorted (4 bytes each), and an
                // envelope picks their values in each thread.
                const auto named = std::int64_t(4 * positions.size());
                EXPECT_LE(peak.load() - before,
                          held * (one + 4096) + (call == 0 ? 0 : named) + (call == 2 ? held * named : 0))
                    << "call " << call;
            }
        }
    }
    qvres_close(a);
}

}  // namespace
