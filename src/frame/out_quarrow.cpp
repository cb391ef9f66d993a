// The module record and its entry points: a thin layer over the engine.
#include "frame/out_quarrow.h"

#include <cstdio>
#include <new>

#include "engine/kscore.h"
#include "frame/settings.h"
#include "frame/tracelog.h"

PluginSettings* g_pSettings = nullptr;
std::atomic<KSCore*> g_pCore{nullptr};
std::atomic<int32_t> g_bSettingsChanged{0};
std::atomic<int32_t> g_nHostVolume{255};
std::atomic<int32_t> g_nTimeOffset{0};
int32_t g_LogVolumeTable[256];

namespace {

const char kAboutText[] =
    "Quarrow Plugin v3.62 (x86)\n"
    "Copyright (c) 2026 the Quarrow developers\n"
    "\n"
    "Contains portions of code designed\n"
    "and written by the Quarrow developers\n"
    "\n"
    "Compiled on " __DATE__ "\n";

// The square of i/255, scaled back to 0..255 and truncated.
void BuildLogVolumeTable() {
    for (int32_t i = 0; i < 256; ++i) g_LogVolumeTable[i] = i * i / 255;
}

// A new engine, or none when it could not get its ring, packets, events or
// thread: the entry points then answer as a closed output does.
KSCore* CreateEngine(const OutModule& module) {
    KSCore* pCore = new (std::nothrow) KSCore(module.hMainWindow, module.hDllInstance, g_pSettings);
    if (pCore && !pCore->Constructed()) {
        delete pCore;
        pCore = nullptr;
    }
    if (!pCore) TraceLog::Write(1, "Failed to construct KSCore");
    return pCore;
}

void __cdecl Configure(HWND) {}

void __cdecl About(HWND hwndParent) { MessageBoxA(hwndParent, kAboutText, "About", MB_OK); }

void __cdecl Init() {
    if (g_pSettings) return;  // already initialised
    g_pSettings = new (std::nothrow) PluginSettings;
    TraceLog::Open();
    TraceLog::SetEnabled(g_pSettings && g_pSettings->logging_enabled ? 1 : 0);
    TraceLog::Write(1, "Quarrow Plugin v3.62 (x86) Diagnostic log\n");
    BuildLogVolumeTable();
    // Without settings there can be no engine: every entry answers as closed.
    if (g_pSettings) g_pCore = CreateEngine(*winampGetOutModule());
}

void __cdecl Quit() {
    if (KSCore* pCore = g_pCore.exchange(nullptr)) delete pCore;
    delete g_pSettings;
    g_pSettings = nullptr;
    TraceLog::Close();
}

int __cdecl Open(int nRate, int nChannels, int nBits) {
    g_nTimeOffset = 0;
    if (g_bSettingsChanged && g_pSettings) {
        if (KSCore* pOld = g_pCore.exchange(nullptr)) delete pOld;
        g_pCore = CreateEngine(*winampGetOutModule());
        if (g_pCore) ApplyHostVolume(g_nHostVolume);
        g_bSettingsChanged = 0;
    }
    KSCore* pCore = g_pCore;
    return pCore ? pCore->Start(nRate, nChannels, nBits) : -1;
}

void __cdecl Close() {
    if (KSCore* pCore = g_pCore) pCore->End();
}

int __cdecl Write(const char* pBuffer, int cb) {
    KSCore* pCore = g_pCore;
    return pCore ? pCore->Write(pBuffer, cb) : 1;
}

int __cdecl CanWrite() {
    KSCore* pCore = g_pCore;
    return pCore ? pCore->CanWrite() : 0;
}

int __cdecl IsPlaying() {
    KSCore* pCore = g_pCore;
    return pCore ? pCore->IsPlaying() : 0;
}

int __cdecl Pause(int bPause) {
    KSCore* pCore = g_pCore;
    return pCore ? pCore->Pause(bPause) : 0;
}

void __cdecl SetVolume(int nVolume) {
    if (nVolume < 0 || nVolume > 255) return;
    ApplyHostVolume(nVolume);
}

void __cdecl SetPan(int) {}

uint32_t EngineTime() {
    KSCore* pCore = g_pCore;
    return pCore ? pCore->GetTime() : 0;
}

// Output time is the engine's time plus the offset, in 32-bit wrapping arithmetic.
void __cdecl Flush(int nPosition) {
    g_nTimeOffset = static_cast<int32_t>(static_cast<uint32_t>(nPosition) - EngineTime());
}

int __cdecl GetOutputTime() {
    return static_cast<int32_t>(EngineTime() + static_cast<uint32_t>(g_nTimeOffset.load()));
}

OutModule g_Module = {
    0x10,
    "Quarrow Output v3.62",
    0x10000,
    nullptr,
    nullptr,
    Configure,
    About,
    Init,
    Quit,
    Open,
    Close,
    Write,
    CanWrite,
    IsPlaying,
    Pause,
    SetVolume,
    SetPan,
    Flush,
    GetOutputTime,
    GetOutputTime,
};

}  // namespace

void ApplyHostVolume(int32_t v) {
    g_nHostVolume = v;
    KSCore* pCore = g_pCore;
    if (!pCore) return;
    const bool bLogarithmic = g_pSettings && g_pSettings->logarithmic_volume;
    pCore->SetVolume(bLogarithmic ? g_LogVolumeTable[v] : v);
}

OutModule* winampGetOutModule() { return &g_Module; }
