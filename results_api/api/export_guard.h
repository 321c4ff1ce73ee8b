// What every export shares: no exception ever crosses the C boundary, and a
// null pointer argument makes an export fail without writing anything.
#pragma once

#include <utility>

namespace qv::api {

// Runs an export's body; anything thrown inside (running out of memory
// included) counts as a failure.
template <class F>
bool guarded(F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return false;
    }
}

// Whether every pointer argument was given.
template <class... P>
bool given(const P*... p) {
    return (... && (p != nullptr));
}

}  // namespace qv::api
