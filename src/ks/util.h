// Shared helpers of the KS layer: the debugger trace with its entry and exit
// convention, the wave-format size helper and GUID comparison.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Trace levels of the KS layer.
enum : int {
    kTraceError = 1,
    kTracePinProperty = 3,   // a single pin property that could not be read
    kTraceTolerated = 4,     // tolerated failures while enumerating
    kTraceInfo = 5,
    kTraceEnterLeave = 6,
};

// Sends the printf-style text to the debugger output when `level` does not
// exceed the process-wide threshold (0 at start, so nothing is sent). The text
// is cut to 259 characters.
void DebugTrace(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void SetDebugTraceThreshold(int threshold);
int GetDebugTraceThreshold();

// The entry and exit lines of every KS method, all at level 6. Entry names
// carry "()"; the HRESULT form of the exit drops them.
inline void TraceEnter(const char* name) { DebugTrace(kTraceEnterLeave, "%s Enter", name); }
inline void TraceLeave(const char* name) { DebugTrace(kTraceEnterLeave, "%s Leave", name); }
inline void TraceLeave(const char* name, HRESULT hr) {
    DebugTrace(kTraceEnterLeave, "%s Leave, returning %#08x", name, static_cast<unsigned>(hr));
}

// Byte size of a wave format: 18 for WAVE_FORMAT_PCM, else 18 + cbSize.
uint32_t GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc);

inline bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
           a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
           a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}
inline bool IsNullGuid(const GUID& g) { return SameGuid(g, GUID{}); }
