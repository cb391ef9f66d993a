// Kernel objects: the handle table, last-error values, events and waits.
#include "internal.h"

#include <chrono>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sim::detail {
namespace {

struct Kernel {
    std::mutex mutex;
    std::condition_variable cv;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> handles;
    uintptr_t next_handle = 4;
};

// Never destroyed: detached threads may still reach it while the process exits.
Kernel& K() {
    static Kernel* kernel = new Kernel;
    return *kernel;
}

class Event final : public Object {
public:
    Event(bool manual, bool state) : Object(Kind::Event), manual_(manual), state_(state) {}
    bool Waitable() const override { return true; }
    bool Signalled() const override { return state_; }
    void Consume() override {
        if (!manual_) state_ = false;
    }
    void Set(bool state) { state_ = state; }

private:
    const bool manual_;
    bool state_;
};

}  // namespace

std::mutex& KernelMutex() { return K().mutex; }
std::condition_variable& KernelCv() { return K().cv; }

HANDLE InsertHandle(std::shared_ptr<Object> object) {
    Kernel& k = K();
    std::lock_guard<std::mutex> lock(k.mutex);
    const uintptr_t value = k.next_handle;
    k.next_handle += 4;
    k.handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> LookupLocked(HANDLE handle) {
    Kernel& k = K();
    const auto it = k.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == k.handles.end() || !it->second->intact()) return nullptr;
    return it->second;
}

std::shared_ptr<Object> Lookup(HANDLE handle, Kind kind) {
    std::lock_guard<std::mutex> lock(K().mutex);
    std::shared_ptr<Object> object = LookupLocked(handle);
    if (!object || object->kind() != kind) return nullptr;
    return object;
}

bool RemoveHandle(HANDLE handle, Kind kind) {
    std::shared_ptr<Object> released;  // destroyed after the lock is dropped
    std::lock_guard<std::mutex> lock(K().mutex);
    const auto it = K().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == K().handles.end() || it->second->kind() != kind) return false;
    released = std::move(it->second);
    K().handles.erase(it);
    return true;
}

HANDLE EventOf(HANDLE overlapped_event) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped_event) & ~uintptr_t{1});
}

bool IsEventOrNull(HANDLE event) {
    if (event == nullptr) return true;
    std::lock_guard<std::mutex> lock(K().mutex);
    std::shared_ptr<Object> object = LookupLocked(event);
    return object && object->kind() == Kind::Event;
}

void SetEventSignal(HANDLE event, bool state) {
    if (event == nullptr) return;
    std::lock_guard<std::mutex> lock(K().mutex);
    std::shared_ptr<Object> object = LookupLocked(event);
    if (!object || object->kind() != Kind::Event) return;
    static_cast<Event&>(*object).Set(state);
    if (state) K().cv.notify_all();
}

}  // namespace sim::detail

using sim::detail::KernelCv;
using sim::detail::KernelMutex;
using sim::detail::Object;

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

// Sets the signal state of an event handle; FALSE with ERROR_INVALID_HANDLE for
// anything that is not an open event.
BOOL SetEventState(HANDLE hEvent, bool state) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    std::shared_ptr<Object> object = sim::detail::LookupLocked(hEvent);
    if (!object || object->kind() != sim::detail::Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<sim::detail::Event&>(*object).Set(state);
    if (state) KernelCv().notify_all();
    return TRUE;
}

}  // namespace

SIM_API DWORD GetLastError(void) { return t_last_error; }
SIM_API void SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }

SIM_API BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<Object> released;  // destroyed after the lock is dropped
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        auto& handles = sim::detail::K().handles;
        const auto it = handles.find(reinterpret_cast<uintptr_t>(hObject));
        // Registry keys are not kernel handles: only RegCloseKey closes them.
        if (it != handles.end() && it->second->kind() != sim::detail::Kind::RegistryKey) {
            released = std::move(it->second);
            handles.erase(it);
        }
    }
    if (!released) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    released->Closed();
    return TRUE;
}

SIM_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                            LPCSTR) {
    if (sim::detail::ConsumeFault(sim::Fault::CreateEvent)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Named events are not shared between callers: every call makes a new one.
    return sim::detail::InsertHandle(
        std::make_shared<sim::detail::Event>(bManualReset != FALSE, bInitialState != FALSE));
}

SIM_API BOOL SetEvent(HANDLE hEvent) { return SetEventState(hEvent, true); }
SIM_API BOOL ResetEvent(HANDLE hEvent) { return SetEventState(hEvent, false); }

SIM_API DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                     DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const auto start = std::chrono::steady_clock::now();

    std::unique_lock<std::mutex> lock(KernelMutex());
    std::vector<std::shared_ptr<Object>> objects;
    objects.reserve(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        std::shared_ptr<Object> object = sim::detail::LookupLocked(lpHandles[i]);
        if (!object || !object->Waitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Windows refuses the same object twice in a wait-all.
        if (bWaitAll) {
            for (const auto& earlier : objects) {
                if (earlier == object) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
        objects.push_back(std::move(object));
    }

    const auto deadline = start + std::chrono::milliseconds(dwMilliseconds);
    bool timed_out = false;
    for (;;) {
        if (bWaitAll) {
            bool all = true;
            for (const auto& object : objects) all = all && object->Signalled();
            if (all) {
                for (const auto& object : objects) object->Consume();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < nCount; ++i) {
                if (objects[i]->Signalled()) {
                    objects[i]->Consume();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        // A signal that arrives together with the time-out still wins: the
        // states are checked once more before giving up.
        if (timed_out || dwMilliseconds == 0) return WAIT_TIMEOUT;
        if (dwMilliseconds == INFINITE) {
            KernelCv().wait(lock);
        } else {
            timed_out = KernelCv().wait_until(lock, deadline) == std::cv_status::timeout;
        }
    }
}

SIM_API DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (sim::detail::ConsumeFault(sim::Fault::WaitForSingleObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

namespace sim {

SIM_CONTROL size_t OpenHandleCount() {
    std::lock_guard<std::mutex> lock(KernelMutex());
    return detail::K().handles.size();
}

}  // namespace sim
