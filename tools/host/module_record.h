// The output module record as a host lays it out, for our own hosts (tests and
// quarrow-play): three fields, the two handles the host fills, fifteen entry
// points. A host passes five arguments to open; the plug-in reads three.
#pragma once

#include <sim/win32.h>

namespace host {

struct ModuleRecord {
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

}  // namespace host
