// Modules loaded at run time: ksuser.dll, simulated, with its KsCreatePin.
#include <mutex>
#include <string>
#include <vector>

#include "ks_internal.h"

namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct ModuleStore {
    std::mutex mutex;
    std::vector<std::string> loaded;  // names that loaded, since the last reset
    int references = 0;               // ksuser.dll's load count
};
ModuleStore& Modules() {
    static ModuleStore* store = new ModuleStore;
    return *store;
}

// The module handle stands for the module's image; any distinct address will do.
char g_ksuser_image;
HMODULE KsUserHandle() { return reinterpret_cast<HMODULE>(&g_ksuser_image); }

// "ksuser.dll" in any case, with or without a folder or the extension.
bool NamesKsUser(const std::string& name) {
    const size_t slash = name.find_last_of("\\/");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.find('.') == std::string::npos) base += ".dll";
    return sim::detail::EqualsNoCase(base, "ksuser.dll");
}

DWORD WINAPI KsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK, PHANDLE ConnectionHandle) {
    return sim::detail::CreatePinInstance(FilterHandle, Connect, ConnectionHandle);
}

}  // namespace

SIM_API HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    const auto machine = sim::detail::CurrentSnapshot();
    if (lpLibFileName == nullptr || !NamesKsUser(lpLibFileName) || !machine->config.ksuser_present) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(Modules().mutex);
    Modules().loaded.emplace_back(lpLibFileName);
    ++Modules().references;
    return KsUserHandle();
}

SIM_API FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    {
        std::lock_guard<std::mutex> lock(Modules().mutex);
        if (hModule != KsUserHandle() || Modules().references == 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    // Values below 0x10000 are ordinals, which the simulated module has none of.
    const bool by_name = reinterpret_cast<uintptr_t>(lpProcName) >= 0x10000;
    if (!by_name || std::string(lpProcName) != "KsCreatePin" ||
        !sim::detail::CurrentSnapshot()->config.ksuser_exports_create_pin) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // Through void(*)(void), the type any function pointer converts to quietly.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&KsCreatePin));
}

SIM_API BOOL FreeLibrary(HMODULE hLibModule) {
    std::lock_guard<std::mutex> lock(Modules().mutex);
    if (hLibModule != KsUserHandle() || Modules().references == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    --Modules().references;
    return TRUE;
}

namespace sim {

namespace detail {
void ResetModuleRecords() {
    std::lock_guard<std::mutex> lock(Modules().mutex);
    Modules().loaded.clear();
}
}  // namespace detail

SIM_CONTROL std::vector<std::string> LoadedModules() {
    std::lock_guard<std::mutex> lock(Modules().mutex);
    return Modules().loaded;
}

}  // namespace sim
