// Small tools for the simulated KS driver tests: property requests as the
// caller sees their outcome, connect blocks, and stream packets with their
// own OVERLAPPED and event.
#pragma once

#include <gtest/gtest.h>
#include <sim/machine.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim_thread.h"

namespace simtest {

// What one DeviceIoControl property request gave back.
struct Reply {
    BOOL ok = FALSE;
    DWORD error = 0;     // GetLastError() when !ok
    DWORD returned = 0;  // *lpBytesReturned
    std::vector<uint8_t> bytes;  // the output buffer after the call
};

inline KSP_PIN PinRequest(const GUID& set, ULONG id, ULONG pin_id, ULONG flags = KSPROPERTY_TYPE_GET) {
    KSP_PIN request;
    std::memset(&request, 0, sizeof(request));
    request.Property.Set = set;
    request.Property.Id = id;
    request.Property.Flags = flags;
    request.PinId = pin_id;
    return request;
}

// A request without an OVERLAPPED, with `out_size` bytes of output (0xCD
// filled, so untouched bytes show).
inline Reply Ask(HANDLE handle, const void* in, DWORD in_size, DWORD out_size) {
    Reply reply;
    reply.bytes.assign(out_size, 0xCD);
    reply.returned = 0xDEAD;
    SetLastError(0xDEADBEEF);
    reply.ok = DeviceIoControl(handle, IOCTL_KS_PROPERTY, const_cast<void*>(in), in_size,
                               out_size ? reply.bytes.data() : nullptr, out_size, &reply.returned, nullptr);
    reply.error = reply.ok ? 0 : GetLastError();
    return reply;
}

inline Reply AskPin(HANDLE filter, const GUID& set, ULONG id, ULONG pin_id, DWORD out_size) {
    const KSP_PIN request = PinRequest(set, id, pin_id);
    return Ask(filter, &request, sizeof(request), out_size);
}

inline Reply AskFilter(HANDLE filter, const GUID& set, ULONG id, DWORD out_size) {
    const KSP_PIN request = PinRequest(set, id, 0);
    return Ask(filter, &request.Property, sizeof(KSPROPERTY), out_size);
}

// The answer's size (from a size query), then the answer itself.
inline std::vector<uint8_t> Value(HANDLE filter, const GUID& set, ULONG id, ULONG pin_id) {
    const Reply size = AskPin(filter, set, id, pin_id, 0);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, size.error);
    const Reply value = AskPin(filter, set, id, pin_id, size.returned);
    EXPECT_TRUE(value.ok) << value.error;
    EXPECT_EQ(size.returned, value.returned);
    return value.bytes;
}

template <class T>
T As(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    T value;
    EXPECT_LE(offset + sizeof(T), bytes.size());
    if (offset + sizeof(T) > bytes.size()) return T{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// KSPIN_CONNECT with its data format directly behind it, as KsCreatePin reads it.
struct alignas(8) ConnectBlock {
    KSPIN_CONNECT connect;
    KSDATAFORMAT format;
    WAVEFORMATEXTENSIBLE wave;
};
static_assert(offsetof(ConnectBlock, format) == sizeof(KSPIN_CONNECT), "format follows the connect structure");

// A consistent connect block for pin `pin_id`: plain PCM, or WAVEFORMATEXTENSIBLE
// with `valid_bits` (the container's when 0) when `extensible`.
inline ConnectBlock Connect(ULONG pin_id, WORD channels, WORD bits, DWORD rate, bool extensible = false,
                            WORD valid_bits = 0) {
    ConnectBlock block;
    std::memset(&block, 0, sizeof(block));
    block.connect.Interface.Set = KSINTERFACESETID_Standard;
    block.connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    block.connect.Medium.Set = KSMEDIUMSETID_Standard;
    block.connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    block.connect.PinId = pin_id;
    block.connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    block.connect.Priority.PrioritySubClass = 1;
    block.format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    block.format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    block.format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    block.wave.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    block.wave.Format.nChannels = channels;
    block.wave.Format.nSamplesPerSec = rate;
    block.wave.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    block.wave.Format.nAvgBytesPerSec = rate * (channels * bits / 8);
    block.wave.Format.wBitsPerSample = bits;
    if (extensible) {
        block.wave.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        block.wave.Samples.wValidBitsPerSample = valid_bits ? valid_bits : bits;
        block.wave.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        block.wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
        block.format.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE);
    } else {
        block.format.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
    }
    return block;
}

typedef DWORD(WINAPI* KsCreatePinFunction)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// KsCreatePin as the plug-in finds it, through ksuser.dll (loaded into
// *module, which the caller frees).
inline KsCreatePinFunction FindKsCreatePin(HMODULE* module) {
    *module = LoadLibraryA("ksuser.dll");
    EXPECT_NE(nullptr, *module);
    if (*module == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(*module, "KsCreatePin");
    EXPECT_NE(nullptr, proc);
    return reinterpret_cast<KsCreatePinFunction>(reinterpret_cast<void (*)(void)>(proc));
}

// A packet of stream data with its own header, OVERLAPPED and manual-reset
// event; the event handle in the OVERLAPPED carries the low bit, as the
// plug-in sets it.
class Packet {
public:
    explicit Packet(std::vector<uint8_t> data) : data_(std::move(data)) {
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::memset(&header_, 0, sizeof(header_));
        header_.Size = sizeof(KSSTREAM_HEADER);
        header_.Data = data_.empty() ? nullptr : data_.data();
        header_.FrameExtent = static_cast<ULONG>(data_.size());
        header_.DataUsed = static_cast<ULONG>(data_.size());
        std::memset(&overlapped_, 0, sizeof(overlapped_));
        overlapped_.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event_) | 1);
    }
    ~Packet() { CloseHandle(event_); }
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;

    // Writes the packet; true when it went pending as it should.
    bool Write(HANDLE pin) {
        SetLastError(0xDEADBEEF);
        const BOOL ok = DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &header_, header_.Size,
                                        &returned_, &overlapped_);
        error_ = ok ? 0 : GetLastError();
        return !ok && error_ == ERROR_IO_PENDING;
    }
    bool Done(DWORD timeout_ms = 0) const { return WaitForSingleObject(event_, timeout_ms) == WAIT_OBJECT_0; }
    bool WaitDone() const { return Done(kLongWaitMs); }

    const std::vector<uint8_t>& data() const { return data_; }
    KSSTREAM_HEADER& header() { return header_; }
    OVERLAPPED& overlapped() { return overlapped_; }
    DWORD error() const { return error_; }

private:
    std::vector<uint8_t> data_;
    HANDLE event_;
    KSSTREAM_HEADER header_;
    OVERLAPPED overlapped_;
    DWORD returned_ = 0;
    DWORD error_ = 0;
};

// `size` bytes counting up from `first`, so order and gaps show.
inline std::vector<uint8_t> Bytes(size_t size, uint8_t first) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i * 7);
    return bytes;
}

constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

}  // namespace simtest
