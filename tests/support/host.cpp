#include "support/host.h"

#include <dlfcn.h>

namespace test {

PluginLibrary::PluginLibrary(const std::string& path) {
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) m_error = dlerror();
}

PluginLibrary::~PluginLibrary() {
    if (m_handle) dlclose(m_handle);
}

HostModuleRecord* PluginLibrary::Record() {
    if (!m_handle) return nullptr;
    using GetModule = HostModuleRecord* (*)();
    auto get = reinterpret_cast<GetModule>(dlsym(m_handle, "winampGetOutModule"));
    if (!get) {
        m_error = "winampGetOutModule is not exported";
        return nullptr;
    }
    return get();
}

HWND FakeMainWindow() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010)); }
HINSTANCE FakeInstance() { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x20020)); }

}  // namespace test
