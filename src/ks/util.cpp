#include "ks/util.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<int> g_nDebugTraceThreshold{0};

}  // namespace

void SetDebugTraceThreshold(int threshold) {
    g_nDebugTraceThreshold.store(threshold, std::memory_order_relaxed);
}

int GetDebugTraceThreshold() { return g_nDebugTraceThreshold.load(std::memory_order_relaxed); }

void DebugTrace(int level, const char* format, ...) {
    if (level > g_nDebugTraceThreshold.load(std::memory_order_relaxed)) return;
    char text[MAX_PATH];
    va_list args;
    va_start(args, format);
    // vsnprintf cuts a longer text to 259 characters and terminates it.
    const int n = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    OutputDebugStringA(text);
}

uint32_t GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc) {
    QUARROW_ASSERT(pwfxSrc);
    if (pwfxSrc == nullptr) return 0;
    if (pwfxSrc->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
    return static_cast<uint32_t>(sizeof(WAVEFORMATEX)) + pwfxSrc->cbSize;
}
