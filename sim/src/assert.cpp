// The C runtime's assertion report: printed, recorded, then the process ends
// unless a test answered Ignore.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "machine_state.h"

namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct AssertionState {
    std::mutex mutex;
    std::vector<sim::AssertionRecord> records;
    sim::AssertionAnswer answer = sim::AssertionAnswer::Abort;
};
AssertionState& State() {
    static AssertionState* state = new AssertionState;
    return *state;
}

}  // namespace

SIM_API void _assert(const char* _Message, const char* _File, unsigned _Line) {
    const char* expression = _Message != nullptr ? _Message : "";
    const char* file = _File != nullptr ? _File : "";
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", expression, file, _Line);
    std::fflush(stderr);
    sim::AssertionAnswer answer;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().records.push_back({expression, file, _Line});
        answer = State().answer;
    }
    if (answer == sim::AssertionAnswer::Abort) std::abort();
}

namespace sim {

SIM_CONTROL void SetAssertionAnswer(AssertionAnswer answer) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().answer = answer;
}

SIM_CONTROL std::vector<AssertionRecord> Assertions() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().records;
}

namespace detail {
void ResetAssertions() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().records.clear();
    State().answer = AssertionAnswer::Abort;
}
}  // namespace detail

}  // namespace sim
