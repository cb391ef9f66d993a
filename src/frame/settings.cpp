#include "frame/settings.h"

#include <cstdio>
#include <cstring>

namespace {

const char kSection[] = "Quarrow";
const char kIniSuffix[] = ".ini";

void WriteInt(const char* key, int32_t value, const char* path) {
    char text[16];
    snprintf(text, sizeof(text), "%d", static_cast<int>(value));
    WritePrivateProfileStringA(kSection, key, text, path);
}

int32_t ReadInt(const char* key, int32_t current, const char* path) {
    return static_cast<int32_t>(GetPrivateProfileIntA(kSection, key, current, path));
}

// max(value / 1024, minimum) * 1024, the division truncating towards zero.
int32_t ClampKiB(int32_t value, int32_t minimumKiB) {
    int32_t kib = value / 1024;
    if (kib < minimumKiB) kib = minimumKiB;
    return kib * 1024;
}

}  // namespace

PluginSettings::PluginSettings() {
    BuildIniPath();
    SetDefaults();
    Load();
}

// The host's path with everything from its first '.' replaced by ".ini". A path
// without a dot gets ".ini" appended, so the executable itself is never the
// INI file; a path cut short by the buffer, or one that leaves no room for the
// suffix, is not used at all.
void PluginSettings::BuildIniPath() {
    const DWORD cch = GetModuleFileNameA(nullptr, ini_path, sizeof(ini_path));
    if (cch == 0 || cch >= sizeof(ini_path)) {
        ini_path[0] = '\0';
        return;
    }
    char* dot = strchr(ini_path, '.');
    char* suffixAt = dot ? dot : ini_path + cch;
    if (static_cast<size_t>(suffixAt - ini_path) + sizeof(kIniSuffix) > sizeof(ini_path)) {
        ini_path[0] = '\0';
        return;
    }
    memcpy(suffixAt, kIniSuffix, sizeof(kIniSuffix));
}

void PluginSettings::SetDefaults() {
    output_device[0] = '\0';
    volume_enabled = 0;
    gapless_enabled = 0;
    input_buffer_size = 65536;
    output_buffer_size = 8192;
    output_buffer_cnt = 8;
    logging_enabled = 0;
    logarithmic_volume = 1;
}

void PluginSettings::Load() {
    if (ini_path[0] == '\0') return;
    ReadString("output_device", output_device, sizeof(output_device));
    volume_enabled = ReadInt("volume_enabled", volume_enabled, ini_path);
    gapless_enabled = ReadInt("gapless_enabled", gapless_enabled, ini_path);
    input_buffer_size = ReadInt("input_buffer_size", input_buffer_size, ini_path);
    output_buffer_size = ReadInt("output_buffer_size", output_buffer_size, ini_path);
    output_buffer_cnt = ReadInt("output_buffer_cnt", output_buffer_cnt, ini_path);
    logging_enabled = ReadInt("logging_enabled", logging_enabled, ini_path);
    logarithmic_volume = ReadInt("logarithmic_volume", logarithmic_volume, ini_path);

    input_buffer_size = ClampKiB(input_buffer_size, 4);
    output_buffer_size = ClampKiB(output_buffer_size, 2);
    if (output_buffer_cnt > 8) output_buffer_cnt = 8;
    if (output_buffer_cnt < 2) output_buffer_cnt = 2;
}

void PluginSettings::Save() {
    if (ini_path[0] == '\0') return;
    WritePrivateProfileStringA(kSection, "output_device", output_device, ini_path);
    WriteInt("volume_enabled", volume_enabled, ini_path);
    WriteInt("gapless_enabled", gapless_enabled, ini_path);
    WriteInt("input_buffer_size", input_buffer_size, ini_path);
    WriteInt("output_buffer_size", output_buffer_size, ini_path);
    WriteInt("output_buffer_cnt", output_buffer_cnt, ini_path);
    WriteInt("logging_enabled", logging_enabled, ini_path);
    WriteInt("logarithmic_volume", logarithmic_volume, ini_path);
}

void PluginSettings::ReadString(const char* key, char* buffer, int size) {
    if (ini_path[0] == '\0' || size <= 0) return;
    // The current text is the default; the profile call must not read it from
    // the buffer it is writing.
    char current[kPathSize];
    snprintf(current, sizeof(current), "%s", buffer);
    GetPrivateProfileStringA(kSection, key, current, buffer, static_cast<DWORD>(size), ini_path);
}
