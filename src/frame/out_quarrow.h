// The host's view of the plug-in: the module record returned by the single
// export winampGetOutModule, and the module-level state its entry points share.
//
// The host reads and writes the record in place, so its field order and
// widths are fixed; on the 32-bit product build the layout is asserted below.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

class KSCore;
class PluginSettings;

struct OutModule {
    int version;              // 0x10
    const char* description;  // "Quarrow Output v3.62"
    int id;                   // 0x10000
    HWND hMainWindow;         // filled by the host before Init
    HINSTANCE hDllInstance;   // filled by the host before Init

    void(__cdecl* Configure)(HWND hwndParent);
    void(__cdecl* About)(HWND hwndParent);
    void(__cdecl* Init)();
    void(__cdecl* Quit)();
    // Only the first three arguments are read; the host may pass more.
    int(__cdecl* Open)(int nRate, int nChannels, int nBits);
    void(__cdecl* Close)();
    int(__cdecl* Write)(const char* pBuffer, int cb);
    int(__cdecl* CanWrite)();
    int(__cdecl* IsPlaying)();
    int(__cdecl* Pause)(int bPause);
    void(__cdecl* SetVolume)(int nVolume);
    void(__cdecl* SetPan)(int nPan);
    void(__cdecl* Flush)(int nPosition);
    int(__cdecl* GetOutputTime)();
    int(__cdecl* GetWrittenTime)();
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(OutModule, version) == 0, "host reads version at 0");
static_assert(offsetof(OutModule, description) == 4, "host reads description at 4");
static_assert(offsetof(OutModule, id) == 8, "host reads id at 8");
static_assert(offsetof(OutModule, hMainWindow) == 12, "host writes its main window at 12");
static_assert(offsetof(OutModule, hDllInstance) == 16, "host writes the instance at 16");
static_assert(offsetof(OutModule, Configure) == 20, "entry points start at 20");
static_assert(offsetof(OutModule, GetWrittenTime) == 76, "fifteen entry points");
static_assert(sizeof(OutModule) == 80, "the record is 80 bytes");
#endif

QUARROW_EXPORT OutModule* winampGetOutModule();

// Module-level state, one of each for the loaded library.
extern PluginSettings* g_pSettings;
extern std::atomic<KSCore*> g_pCore;
extern std::atomic<int32_t> g_bSettingsChanged;  // set by the dialog, cleared by open
extern std::atomic<int32_t> g_nHostVolume;       // last volume the host set, 0 to 255
extern std::atomic<int32_t> g_nTimeOffset;       // ms added to the engine's time; set by flush
extern int32_t g_LogVolumeTable[256];

// Stores the host's volume and hands the engine its value: through the
// logarithmic table when logarithmic_volume is on. v must lie in 0 to 255.
void ApplyHostVolume(int32_t v);
