// Test access to KSCore's members: puts an engine into the states the tests
// need without a device, and reads back what it holds.
#pragma once

#include <cstring>
#include <vector>

#include "engine/kscore.h"

struct KSCoreProbe {
    // Mode 1 with `format`, as an open leaves it, but with every packet still
    // owned by "the device": the player thread takes nothing from the ring.
    static void OpenWithoutDevice(KSCore& core, const WAVEFORMATEXTENSIBLE& format) {
        EnterCriticalSection(&core.m_csControl);
        core.m_Format = format;
        core.m_bPaused = 0;
        core.m_nMode = 1;
        LeaveCriticalSection(&core.m_csControl);
    }
    // Back to mode 0 with an empty ring, so the teardown has nothing to drain.
    static void CloseWithoutDevice(KSCore& core) {
        EnterCriticalSection(&core.m_csControl);
        core.m_nMode = 0;
        core.m_pRead = core.m_pInput;
        core.m_pWrite = core.m_pInput;
        core.m_cbFill = 0;
        LeaveCriticalSection(&core.m_csControl);
    }
    static void SetMode(KSCore& core, int32_t mode) { core.m_nMode = mode; }
    static CKsEnumFilters* GetDeviceList(KSCore& core) { return core.GetDeviceList(); }
    static CKsEnumFilters* DeviceList(const KSCore& core) { return core.m_pEnumFilters; }
    static CKsAudRenFilter* ChooseRenderFilter(KSCore& core) { return core.ChooseRenderFilter(); }
    // Frees every packet, as an open does.
    static void FreeAllPackets(KSCore& core) {
        for (int i = 0; i < core.m_nPackets; ++i) SetEvent(core.m_phEvents[1 + i]);
    }
    // An empty ring whose positions stand at `offset`, as earlier tracks leave it.
    static void MoveEmptyRing(KSCore& core, int32_t offset) {
        core.m_pRead = core.m_pInput + offset;
        core.m_pWrite = core.m_pInput + offset;
        core.m_cbFill = 0;
    }
    // The ring as if `cb` more bytes had been written.
    static void Preload(KSCore& core, int32_t cb) {
        core.m_pWrite = core.m_pInput + (core.m_pWrite - core.m_pInput + cb) % core.m_cbInput;
        core.m_cbFill += cb;
    }
    static std::vector<BYTE> Ring(const KSCore& core, int32_t offset, int32_t cb) {
        return std::vector<BYTE>(core.m_pInput + offset, core.m_pInput + offset + cb);
    }
    static std::vector<BYTE> PacketBytes(const KSCore& core, int i) {
        const BYTE* data = static_cast<const BYTE*>(core.m_Packets[i].header.Data);
        return std::vector<BYTE>(data, data + core.m_Packets[i].header.DataUsed);
    }
    static const KSSTREAM_HEADER& Header(const KSCore& core, int i) { return core.m_Packets[i].header; }
    static const OVERLAPPED& Overlapped(const KSCore& core, int i) { return core.m_Packets[i].overlapped; }
    static HANDLE Event(const KSCore& core, int i) { return core.m_phEvents[i]; }
    static HANDLE WakeEvent(const KSCore& core) { return core.m_hWakeEvent; }
    static HANDLE Thread(const KSCore& core) { return core.m_hThread; }
    static int32_t ReadOffset(const KSCore& core) { return static_cast<int32_t>(core.m_pRead - core.m_pInput); }
    static int32_t WriteOffset(const KSCore& core) { return static_cast<int32_t>(core.m_pWrite - core.m_pInput); }
    static int32_t Fill(const KSCore& core) { return core.m_cbFill; }
    static int32_t RingSize(const KSCore& core) { return core.m_cbInput; }
    static int32_t PacketSize(const KSCore& core) { return core.m_cbPacket; }
    static int32_t Packets(const KSCore& core) { return core.m_nPackets; }
    static int32_t Volume(const KSCore& core) { return core.m_nVolume; }
    static int32_t Mode(const KSCore& core) { return core.m_nMode; }
    static int32_t Sleeping(const KSCore& core) { return core.m_bSleeping; }
    static int32_t FillPacketIndex(const KSCore& core) { return core.m_iFillPacket; }
    static void SetPlayed(KSCore& core, uint32_t cb) { core.m_cbPlayed = cb; }
    static void SetFormat(KSCore& core, const WAVEFORMATEXTENSIBLE& format) { core.m_Format = format; }
};

// A 16-bit or 24-bit stereo format as an open would leave it.
inline WAVEFORMATEXTENSIBLE TestFormat(int rate, int channels, int bits) {
    WAVEFORMATEXTENSIBLE format;
    KSCore::MakeExtensibleFormat(&format, rate, channels, bits);
    if (bits == 24) {
        format.Format.wBitsPerSample = 32;
        format.Format.nBlockAlign = static_cast<WORD>(4 * channels);
        format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * static_cast<DWORD>(rate);
    }
    return format;
}
