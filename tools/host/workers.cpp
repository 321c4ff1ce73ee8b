#include "host/workers.h"

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qvhost {

void run_workers(std::size_t threads, const std::function<void()>& work) {
    // What a thread's share throws is passed to the caller once every
    // thread is joined: thrown out of a thread, it would end the process.
    std::mutex lock;
    std::exception_ptr failed;  // the first thrown, under lock
    const auto share = [&]() noexcept {
        try {
            work();
        } catch (...) {
            const std::lock_guard<std::mutex> hold(lock);
            if (!failed) failed = std::current_exception();
        }
    };
    {
        std::vector<std::thread> pool;
        // Joined however the caller's share ends: a vector destroyed
        // holding a joinable thread ends the process.
        struct Join {
            std::vector<std::thread>& pool;
            ~Join() {
                for (std::thread& t : pool) t.join();
            }
        } join{pool};
        for (std::size_t t = 1; t < threads; ++t) {
            try {
                pool.emplace_back(share);
            } catch (const std::exception&) {
                break;  // no more threads to be had: those started do the rest
            }
        }
        share();
    }
    if (failed) std::rethrow_exception(failed);
}

}  // namespace qvhost
