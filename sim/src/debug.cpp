// Debugger output, captured for tests.
#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct DebugState {
    std::mutex mutex;
    std::vector<std::string> output;
};
DebugState& State() {
    static DebugState* state = new DebugState;
    return *state;
}

}  // namespace

SIM_API void OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    std::lock_guard<std::mutex> lock(State().mutex);
    State().output.emplace_back(lpOutputString);
    // Handy when following a failing test: SIM_DEBUG_STDERR=1 echoes the text.
    if (std::getenv("SIM_DEBUG_STDERR") != nullptr) std::fputs(lpOutputString, stderr);
}

namespace sim {

SIM_CONTROL std::vector<std::string> DebugOutput() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().output;
}

SIM_CONTROL void ClearDebugOutput() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().output.clear();
}

namespace detail {
void ResetDebug() { ClearDebugOutput(); }
}  // namespace detail

}  // namespace sim
