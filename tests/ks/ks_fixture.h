// Shared fixture of the KS layer tests: a fresh simulated machine per test,
// the debugger trace captured, and small builders for devices and formats.
#pragma once

#include <gtest/gtest.h>
#include <sim/machine.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ks/util.h"
#include "support/alloc_hook.h"

namespace kstest {

class KsTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        test::DisarmAllocationFailure();
        SetDebugTraceThreshold(0);
    }
    void TearDown() override {
        test::DisarmAllocationFailure();
        SetDebugTraceThreshold(0);
        sim::Reset();
    }

    // Everything traced from now on, at every level.
    static void TraceEverything() {
        sim::ClearDebugOutput();
        SetDebugTraceThreshold(6);
    }
    static std::vector<std::string> Trace() { return sim::DebugOutput(); }
    static bool Traced(const std::string& line) {
        const std::vector<std::string> lines = sim::DebugOutput();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    static bool TracedContaining(const std::string& part) {
        for (const std::string& line : sim::DebugOutput()) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }

    static void UseDevices(std::vector<sim::Device> devices) {
        sim::Machine machine;
        machine.devices = std::move(devices);
        sim::SetMachine(machine);
    }
};

inline const char* kPathA = "\\\\?\\sim#render#a#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
inline const char* kPathB = "\\\\?\\sim#render#b#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
inline const char* kPathC = "\\\\?\\sim#render#c#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";

inline sim::Pin RenderPin() { return sim::Pin{}; }

inline sim::Pin PinWith(KSPIN_COMMUNICATION communication, KSPIN_DATAFLOW dataflow) {
    sim::Pin pin;
    pin.communication = communication;
    pin.dataflow = dataflow;
    return pin;
}

inline sim::DataRange Range(ULONG channels, ULONG min_bits, ULONG max_bits, ULONG min_rate, ULONG max_rate) {
    sim::DataRange range;
    range.max_channels = channels;
    range.min_bits = min_bits;
    range.max_bits = max_bits;
    range.min_rate = min_rate;
    range.max_rate = max_rate;
    return range;
}

// A device at `path` with exactly these pins.
inline sim::Device DeviceWithPins(const char* path, std::vector<sim::Pin> pins) {
    sim::Device device = sim::RenderDevice(path, "Device");
    device.pins = std::move(pins);
    return device;
}

inline WAVEFORMATEX PlainFormat(WORD channels, WORD bits, DWORD rate, WORD tag = WAVE_FORMAT_PCM) {
    WAVEFORMATEX format{};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

inline WAVEFORMATEXTENSIBLE ExtensibleFormat(WORD channels, WORD bits, DWORD rate,
                                             const GUID& sub = KSDATAFORMAT_SUBTYPE_PCM) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format = PlainFormat(channels, bits, rate, WAVE_FORMAT_EXTENSIBLE);
    format.Format.cbSize = 22;
    format.Samples.wValidBitsPerSample = bits;
    format.dwChannelMask = channels == 2 ? (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT) : SPEAKER_FRONT_CENTER;
    format.SubFormat = sub;
    return format;
}

}  // namespace kstest
