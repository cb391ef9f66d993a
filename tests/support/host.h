// A host of our own for tests: loads the plug-in library by path, like a media
// player, and drives it only through the module record its export returns.
#pragma once

#include <sim/win32.h>

#include <string>

#include "host/module_record.h"

namespace test {

using HostModuleRecord = host::ModuleRecord;

class PluginLibrary {
public:
    // Loads the library at `path` (the built plug-in by default).
    explicit PluginLibrary(const std::string& path = QUARROW_PLUGIN_PATH);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The record the export returns, or null when the library or the export
    // is missing (see Error()).
    HostModuleRecord* Record();
    const std::string& Error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

// Stand-ins for the handles a real host fills in.
HWND FakeMainWindow();
HINSTANCE FakeInstance();

}  // namespace test
