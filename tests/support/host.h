// A host of our own for tests: loads the plug-in library by path, like a media
// player, and drives it only through the module record its export returns.
#pragma once

#include <sim/win32.h>

#include <string>

namespace test {

// The record as a host lays it out: three fields, two handles the host fills,
// fifteen entry points. The host passes five arguments to open; the plug-in
// reads the first three.
struct HostModuleRecord {
    int version;
    const char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void (*Configure)(HWND);
    void (*About)(HWND);
    void (*Init)();
    void (*Quit)();
    int (*Open)(int rate, int channels, int bits, int bufferMs, int prebufferMs);
    void (*Close)();
    int (*Write)(const char* buffer, int length);
    int (*CanWrite)();
    int (*IsPlaying)();
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int position);
    int (*GetOutputTime)();
    int (*GetWrittenTime)();
};

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
