// Module file names and path helpers.
#include "internal.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct ModuleState {
    std::mutex mutex;
    std::string host_path;  // empty: the real executable
};
ModuleState& State() {
    static ModuleState* state = new ModuleState;
    return *state;
}

std::string RealExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer));
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string HostPath() {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        if (!State().host_path.empty()) return State().host_path;
    }
    return RealExecutablePath();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length of the part of `path` that is never removed: "X:" with its separator,
// or the leading run of separators ("/", "\", "\\" of a UNC name).
size_t RootLength(const char* path, size_t len) {
    if (len >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        return (len > 2 && IsSeparator(path[2])) ? 3 : 2;
    }
    size_t root = 0;
    while (root < len && IsSeparator(path[root])) ++root;
    return root;
}

}  // namespace

namespace sim {

SIM_CONTROL void SetHostExecutablePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().host_path = path;
}

namespace detail {
void ResetModule() { SetHostExecutablePath(std::string()); }
}  // namespace detail

}  // namespace sim

SIM_API DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string path = HostPath();
    if (path.size() < nSize) {
        std::memcpy(lpFilename, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    // Too small: as much as fits, always terminated, and the full buffer size.
    if (nSize > 0) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

SIM_API BOOL PathRemoveFileSpecA(LPSTR pszPath) {
    if (pszPath == nullptr) return FALSE;
    const size_t len = std::strlen(pszPath);
    const size_t root = RootLength(pszPath, len);
    for (size_t i = len; i > root; --i) {
        if (IsSeparator(pszPath[i - 1])) {
            pszPath[i - 1] = '\0';
            return TRUE;
        }
    }
    // The name sits directly after the root (or there is no root at all).
    if (len > root) {
        pszPath[root] = '\0';
        return TRUE;
    }
    return FALSE;
}
