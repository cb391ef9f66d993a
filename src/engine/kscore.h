// KSCore: the playback engine.
//
// Overview: the host's writes go into an input ring (packed 24-bit samples are
// widened to 32-bit containers on the way); the player thread moves ring bytes
// into fixed-size packets, applying the software volume, and hands each full
// packet to the render pin as an asynchronous stream write. A packet is free
// again when its completion event is signalled.
//
// Threading: the host's threads call Start, End, Pause, Write and the queries;
// the player thread (PlayerThread) is the ring's only consumer. The ring is a
// single-producer, single-consumer queue whose fill count both sides change
// with atomic adds. Writes, queries and volume changes take no lock.
// Lock order: m_csWake, then m_csControl, then the trace log's lock.
//
// Lifetime: constructed at initialise (and by an open after the settings
// changed), torn down at quit. The ring, packets, events, locks and player
// thread live as long as the engine; the device list and the render pin from
// an open to the matching close.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

class PluginSettings;
class CKsEnumFilters;
class CKsAudRenFilter;
class CKsAudPin;
class KSCore;

// The engine the player thread and the status window reach; set by every
// constructor, cleared by the teardown of that engine.
extern std::atomic<KSCore*> g_pActiveCore;

class KSCore {
public:
    static constexpr int kMaxPackets = 8;

    KSCore(HWND hParentWnd, HINSTANCE hInstance, PluginSettings* pSettings);
    ~KSCore();
    KSCore(const KSCore&) = delete;
    KSCore& operator=(const KSCore&) = delete;

    // True when the ring, the packets, every event and the player thread were
    // created; an engine without them must be torn down at once.
    bool Constructed() const;

    // Takes all `cb` bytes into the ring (0) or none of them (1).
    int Write(const char* pBuffer, int32_t cb);
    // Bytes the host may write now, in the host's units; 0 below one packet.
    int CanWrite();
    // 1 when the output is open, the ring is empty and every packet is back.
    int IsPlaying();
    // Milliseconds of audio handed to the device since the track started.
    uint32_t GetTime();
    void SetVolume(int32_t v);
    // Widens packed 24-bit samples to 32-bit containers; returns bytes written.
    static int32_t Pack24(BYTE* pDest, const BYTE* pSource, int32_t cbSource);
    void Wake();

    void ConfigureInputBuffer(int32_t cbSize);
    void ConfigureOutputBuffers(int32_t cbSize);
    void InitPackets(bool bCreateEvents);

    // The host's open: 1000 (the latency in ms) when the output runs, else -1.
    int Start(int32_t nRate, int32_t nChannels, int32_t nBits);
    // The host's close.
    void End();
    void End(int bForce);
    // Returns the pause state before the call.
    int Pause(int bPause);

    // The extensible format offered first for the host's rate, channels and bits.
    static void MakeExtensibleFormat(WAVEFORMATEXTENSIBLE* pDest, int32_t nRate, int32_t nChannels,
                                     int32_t nBits);
    // The plain WAVEFORMATEX offered when the device refuses the extensible one.
    static void MakePlainFormat(WAVEFORMATEXTENSIBLE* pDest, const WAVEFORMATEXTENSIBLE* pSource);

private:
    struct Packet {
        KSSTREAM_HEADER header;  // Data: the packet's slice; DataUsed: bytes filled
        OVERLAPPED overlapped;   // hEvent: the packet's completion event
    };

    friend DWORD WINAPI PlayerThreadProc(LPVOID);
    friend struct KSCoreProbe;  // tests

    int StartInternal(int32_t nRate, int32_t nChannels, int32_t nBits);
    void EndInternal(int bForce);
    int OpenOutput(WAVEFORMATEXTENSIBLE* pFormat);
    void CloseOutput();
    // The device list, enumerated once and then reused until a close releases
    // it; none when it cannot be had (the user is told why).
    CKsEnumFilters* GetDeviceList();
    // The device whose path equals the output_device setting (any letter
    // case), else the first device, else none.
    CKsAudRenFilter* ChooseRenderFilter();
    void ShowError(const char* text);

    void PlayerThread();
    void SleepStep();
    int FillPacket(int iPacket, int32_t cbAvail);
    void SubmitPacket(int iPacket);
    HRESULT WritePacket(Packet* pPacket);
    void CopyWithVolume(BYTE* pDest, const BYTE* pSource, int32_t cb);
    bool AllPacketsFree(DWORD dwTimeout);

    std::atomic<int32_t> m_bPaused;     // pause requested by the host; under m_csControl
    std::atomic<int32_t> m_bPauseAck;   // the player thread's copy of m_bPaused after each pass
    std::atomic<int32_t> m_nMode;       // 0 closed, 1 open, 2 ending (draining)
    BYTE* m_pInput;                     // the ring, m_cbInput bytes
    int32_t m_cbInput;                  // ring size in bytes
    int32_t m_nPackets;                 // packets in use, 2 to 8, fixed for the engine's life
    std::atomic<int32_t> m_bTrackOpen;  // a host track is open
    BYTE* m_pRead;                      // next ring byte the player thread takes; moved by it only
    BYTE* m_pWrite;                     // next ring byte a host write fills; moved by writes only
    std::atomic<int32_t> m_cbFill;      // bytes held in the ring; both sides add atomically
    std::atomic<int32_t> m_nVolume;     // 0 to 255; 255 is unity and disables scaling
    int32_t m_cbPacket;                 // bytes per packet
    HWND m_hStatusWnd;                  // status window or none
    HWND m_hParentWnd;                  // owner of every message box the engine shows
    HINSTANCE m_hInstance;              // instance for dialog resources
    DWORD m_dwThreadId;                 // the player thread's id
    std::atomic<HANDLE> m_hThread;      // the player thread; it sets none as its last act
    HANDLE* m_phEvents;                 // [0] abort event, [1 + i] completion event of packet i
    Packet m_Packets[kMaxPackets];      // only the first m_nPackets are used
    CKsEnumFilters* m_pEnumFilters;     // device list or none; under m_csControl
    CKsAudRenFilter* m_pRenderFilter;   // chosen device, owned by the device list
    CKsAudPin* m_pRenderPin;            // open render pin or none; owned by the engine
    BYTE* m_pPacketData;                // m_nPackets * m_cbPacket bytes
    int32_t m_iFillPacket;              // packet being filled, -1 when none; player thread only
    HANDLE m_hWakeEvent;                // manual reset; the player thread runs while signalled
    std::atomic<int32_t> m_bSleeping;   // the player thread has gone to sleep
    CRITICAL_SECTION m_csWake;          // pairs each wake with the thread's going to sleep; first in order
    CRITICAL_SECTION m_csControl;       // start, end, pause and teardown; re-entrant; after m_csWake
    std::atomic<uint32_t> m_cbPlayed;   // bytes handed to the device since the track started
    PluginSettings* m_pSettings;        // read whenever needed, never copied
    WAVEFORMATEXTENSIBLE m_Format;      // format of the open output; zero before the first open
    std::atomic<int32_t> m_bExitThread; // asks the player thread to end
};
