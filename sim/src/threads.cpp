// Threads: creation, identity, priority, exit codes, Sleep.
#include "internal.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

using sim::detail::Kind;
using sim::detail::KernelCv;
using sim::detail::KernelMutex;

namespace {

// Ids come from one counter, whether sim started the thread or not.
std::atomic<DWORD> g_next_thread_id{0x100};
thread_local DWORD t_thread_id = 0;

DWORD NewThreadId() { return g_next_thread_id.fetch_add(4, std::memory_order_relaxed); }

class Thread final : public sim::detail::Object {
public:
    explicit Thread(DWORD id) : Object(Kind::Thread), id_(id) {}
    bool Waitable() const override { return true; }
    bool Signalled() const override { return finished_; }

    DWORD id() const { return id_; }
    // The rest is guarded by KernelMutex().
    int priority = THREAD_PRIORITY_NORMAL;
    void Finish(DWORD exit_code) {
        exit_code_ = exit_code;
        finished_ = true;
    }
    DWORD ExitCode() const { return finished_ ? exit_code_ : STILL_ACTIVE; }

private:
    const DWORD id_;
    bool finished_ = false;
    DWORD exit_code_ = 0;
};

bool ValidPriority(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
        case THREAD_PRIORITY_LOWEST:
        case THREAD_PRIORITY_BELOW_NORMAL:
        case THREAD_PRIORITY_NORMAL:
        case THREAD_PRIORITY_ABOVE_NORMAL:
        case THREAD_PRIORITY_HIGHEST:
        case THREAD_PRIORITY_TIME_CRITICAL:
            return true;
        default:
            return false;
    }
}

// The thread object behind `handle` with KernelMutex() held, or nullptr.
Thread* LookupThreadLocked(HANDLE handle) {
    std::shared_ptr<sim::detail::Object> object = sim::detail::LookupLocked(handle);
    if (!object || object->kind() != Kind::Thread) return nullptr;
    // Still owned by the handle table while the lock is held.
    return static_cast<Thread*>(object.get());
}

}  // namespace

SIM_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                            LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    // Suspended creation is not simulated.
    if (lpStartAddress == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (sim::detail::ConsumeFault(sim::Fault::CreateThread)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>(NewThreadId());
    HANDLE handle = sim::detail::InsertHandle(thread);
    try {
        // The thread owns a reference of its own, so closing the handle early
        // leaves it running normally.
        std::thread([thread, lpStartAddress, lpParameter] {
            t_thread_id = thread->id();
            const DWORD exit_code = lpStartAddress(lpParameter);
            std::lock_guard<std::mutex> lock(KernelMutex());
            thread->Finish(exit_code);
            KernelCv().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        sim::detail::RemoveHandle(handle, Kind::Thread);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId) *lpThreadId = thread->id();
    return handle;
}

SIM_API BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    Thread* thread = LookupThreadLocked(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!ValidPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    thread->priority = nPriority;
    return TRUE;
}

SIM_API int GetThreadPriority(HANDLE hThread) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    Thread* thread = LookupThreadLocked(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return thread->priority;
}

SIM_API BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    std::lock_guard<std::mutex> lock(KernelMutex());
    Thread* thread = LookupThreadLocked(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = thread->ExitCode();
    return TRUE;
}

SIM_API DWORD GetCurrentThreadId(void) {
    if (t_thread_id == 0) t_thread_id = NewThreadId();
    return t_thread_id;
}

SIM_API void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
