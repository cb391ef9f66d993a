// PluginSettings: the plug-in's eight user settings and their INI file.
//
// Overview: one object for the life of the loaded plug-in. It loads the
// section "Quarrow" of the INI file named after the host executable when it is
// constructed; the configuration dialog changes the fields and saves them. The
// engine reads the fields whenever it needs a value, never a copy.
//
// Threading: no lock. The dialog writes on the host's window thread while the
// engine reads on the host's threads and its player thread; each integer is
// one aligned 32-bit value read and written whole.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

class PluginSettings {
public:
    static constexpr int kPathSize = MAX_PATH + 1;

    PluginSettings();
    PluginSettings(const PluginSettings&) = delete;
    PluginSettings& operator=(const PluginSettings&) = delete;

    // Reads the eight keys (a missing key keeps the current value), then
    // clamps the buffer sizes and the packet count into their ranges.
    void Load();
    // Writes all eight keys, changed or not.
    void Save();
    // The defaults of every setting; ini_path stays and nothing is read or written.
    void SetDefaults();
    // The text of `key` in the section, the buffer's current text being the
    // default; at most `size` bytes including the NUL.
    void ReadString(const char* key, char* buffer, int size);

    // Full path of the INI file. Empty when the host path gives no usable
    // name: the settings then live in memory only.
    char ini_path[kPathSize];
    // KS device interface path of the chosen output device; empty: no choice.
    char output_device[kPathSize];
    std::atomic<int32_t> volume_enabled;
    std::atomic<int32_t> gapless_enabled;
    std::atomic<int32_t> input_buffer_size;   // bytes, multiple of 1024, >= 4096
    std::atomic<int32_t> output_buffer_size;  // bytes per packet, multiple of 1024, >= 2048
    std::atomic<int32_t> output_buffer_cnt;   // packets, 2 to 8
    std::atomic<int32_t> logging_enabled;
    std::atomic<int32_t> logarithmic_volume;

private:
    void BuildIniPath();
};

static_assert(sizeof(std::atomic<int32_t>) == 4 && alignof(std::atomic<int32_t>) == 4,
              "settings integers are single aligned 32-bit values");
