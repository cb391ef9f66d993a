// Fault injection and the global reset of the control API.
#include "internal.h"

#include <mutex>

namespace {

constexpr int kFaultCount = 3;

// Per fault: successes left before failing; negative when not armed.
struct FaultState {
    std::mutex mutex;
    int remaining[kFaultCount] = {-1, -1, -1};
};

FaultState& Faults() {
    static FaultState* state = new FaultState;
    return *state;
}

static_assert(static_cast<int>(sim::Fault::WaitForSingleObject) + 1 == kFaultCount,
              "every Fault needs a counter");

int Index(sim::Fault fault) { return static_cast<int>(fault); }

}  // namespace

namespace sim {

namespace detail {

bool ConsumeFault(Fault fault) {
    FaultState& faults = Faults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    int& remaining = faults.remaining[Index(fault)];
    if (remaining < 0) return false;
    if (remaining > 0) {
        --remaining;
        return false;
    }
    return true;
}

void ResetFaults() {
    FaultState& faults = Faults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    for (int& remaining : faults.remaining) remaining = -1;
}

}  // namespace detail

SIM_CONTROL void FailAfter(Fault fault, int successes) {
    FaultState& faults = Faults();
    std::lock_guard<std::mutex> lock(faults.mutex);
    faults.remaining[Index(fault)] = successes < 0 ? 0 : successes;
}

SIM_CONTROL void ClearFaults() { detail::ResetFaults(); }

SIM_CONTROL void Reset() {
    detail::ResetFaults();
    detail::ResetModule();
    detail::ResetDebug();
    detail::ResetUser();
    detail::ResetMachine();
    detail::ResetAssertions();
}

}  // namespace sim
