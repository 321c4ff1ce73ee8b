#include "host/workers.h"

#include <exception>
#include <thread>
#include <vector>

namespace qvhost {

void run_workers(std::size_t threads, const std::function<void()>& work) {
    std::vector<std::thread> pool;
    // Joined however the caller's share ends: a vector destroyed holding
    // a joinable thread ends the process.
    struct Join {
        std::vector<std::thread>& pool;
        ~Join() {
            for (std::thread& t : pool) t.join();
        }
    } join{pool};
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::exception&) {
            break;  // no more threads to be had: those started do the rest
        }
    }
    work();
}

}  // namespace qvhost
