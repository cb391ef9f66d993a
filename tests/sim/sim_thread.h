// Runs a callable on a thread made by the simulated CreateThread.
#pragma once

#include <sim/win32.h>

#include <functional>

namespace simtest {

inline DWORD WINAPI RunFunction(LPVOID parameter) {
    return (*static_cast<std::function<DWORD()>*>(parameter))();
}

// `body` must outlive the thread: wait on the returned handle before it goes.
inline HANDLE StartThread(std::function<DWORD()>& body, DWORD* id = nullptr) {
    return CreateThread(nullptr, 0, RunFunction, &body, 0, id);
}

// Generous bound for waits that should succeed at once.
constexpr DWORD kLongWaitMs = 20000;

}  // namespace simtest
