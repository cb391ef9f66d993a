// Control API of the simulated platform, for tests, benchmarks and our own
// hosts only: the plug-in never includes this. It sets up the machine and
// reads back what the plug-in did to it.
#pragma once

#include <sim/win32.h>

#include <string>
#include <vector>

#define SIM_CONTROL __attribute__((visibility("default")))

namespace sim {

// GetModuleFileNameA(NULL) answers this path (any text, Windows-style or not)
// instead of the real executable's; an empty text restores the real one.
SIM_CONTROL void SetHostExecutablePath(const std::string& path);

// Every OutputDebugStringA text, in order.
SIM_CONTROL std::vector<std::string> DebugOutput();
SIM_CONTROL void ClearDebugOutput();

// Every MessageBoxA call, in order; each answers with the scripted value
// (IDOK unless set).
struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};
SIM_CONTROL std::vector<MessageBoxRecord> MessageBoxes();
SIM_CONTROL void ClearMessageBoxes();
SIM_CONTROL void SetMessageBoxAnswer(int answer);

// Fault injection: the named call succeeds `successes` more times, then fails
// every time (with ERROR_NOT_ENOUGH_MEMORY) until ClearFaults.
enum class Fault {
    CreateEvent,
    CreateThread,
    WaitForSingleObject,  // fails with WAIT_FAILED and ERROR_INVALID_HANDLE
};
SIM_CONTROL void FailAfter(Fault fault, int successes);
SIM_CONTROL void ClearFaults();

// Kernel objects currently reachable through a handle (events, threads, ...).
SIM_CONTROL size_t OpenHandleCount();

// Restores the defaults above (host path, captures, answers, faults).
SIM_CONTROL void Reset();

}  // namespace sim
