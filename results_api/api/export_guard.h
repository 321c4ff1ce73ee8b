// What every export shares: no exception ever crosses the C boundary.
#pragma once

#include <utility>

namespace qv::api {

// Runs an export's body; anything thrown inside counts as a failure.
template <class F>
bool guarded(F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return false;
    }
}

}  // namespace qv::api
