// Message boxes: recorded, and answered with a scripted value.
#include "internal.h"

#include <mutex>

namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct UserState {
    std::mutex mutex;
    std::vector<sim::MessageBoxRecord> boxes;
    int answer = IDOK;
};
UserState& State() {
    static UserState* state = new UserState;
    return *state;
}

}  // namespace

SIM_API int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    std::lock_guard<std::mutex> lock(State().mutex);
    // A NULL caption shows as "Error" on Windows.
    State().boxes.push_back(
        {hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType});
    return State().answer;
}

namespace sim {

SIM_CONTROL std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().boxes;
}

SIM_CONTROL void ClearMessageBoxes() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().boxes.clear();
}

SIM_CONTROL void SetMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().answer = answer;
}

namespace detail {
void ResetUser() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().boxes.clear();
    State().answer = IDOK;
}
}  // namespace detail

}  // namespace sim
