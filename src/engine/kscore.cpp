// KSCore construction and teardown, the input ring and the host's queries.
#include "engine/kscore.h"

#include <cstring>
#include <new>

#include "frame/settings.h"
#include "frame/tracelog.h"
#include "ks/enum.h"

std::atomic<KSCore*> g_pActiveCore{nullptr};

DWORD WINAPI PlayerThreadProc(LPVOID);

KSCore::KSCore(HWND hParentWnd, HINSTANCE hInstance, PluginSettings* pSettings)
    : m_bPaused(0),
      m_bPauseAck(0),
      m_nMode(0),
      m_pInput(nullptr),
      m_cbInput(0),
      m_nPackets(0),
      m_bTrackOpen(0),
      m_pRead(nullptr),
      m_pWrite(nullptr),
      m_cbFill(0),
      m_nVolume(255),
      m_cbPacket(0),
      m_hStatusWnd(nullptr),
      m_hParentWnd(hParentWnd),
      m_hInstance(hInstance),
      m_dwThreadId(0),
      m_hThread(nullptr),
      m_phEvents(nullptr),
      m_Packets(),
      m_pEnumFilters(nullptr),
      m_pRenderFilter(nullptr),
      m_pRenderPin(nullptr),
      m_pPacketData(nullptr),
      m_iFillPacket(-1),
      m_hWakeEvent(nullptr),
      m_bSleeping(0),
      m_csWake(),
      m_csControl(),
      m_cbPlayed(0),
      m_pSettings(pSettings),
      m_Format(),
      m_bExitThread(0) {
    g_pActiveCore = this;

    m_nPackets = m_pSettings->output_buffer_cnt;
    if (m_nPackets < 2) m_nPackets = 2;
    if (m_nPackets > kMaxPackets) m_nPackets = kMaxPackets;
    m_phEvents = new (std::nothrow) HANDLE[m_nPackets + 1]();

    ConfigureInputBuffer(m_pSettings->input_buffer_size);
    ConfigureOutputBuffers(m_pSettings->output_buffer_size);
    InitPackets(true);

    m_iFillPacket = -1;
    if (m_phEvents) m_phEvents[0] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hWakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_bExitThread = 0;
    m_nMode = 0;

    InitializeCriticalSection(&m_csWake);
    InitializeCriticalSection(&m_csControl);

    TraceLog::SetEnabled(m_pSettings->logging_enabled ? 1 : 0);

    // Enumerated now, so the configuration dialog's device list can be built
    // right after construction.
    GetDeviceList();

    // The thread's loop relies on every event existing: it starts only when
    // the rest of the engine did.
    bool bReady = m_pInput && m_pPacketData && m_phEvents && m_hWakeEvent;
    for (int i = 0; bReady && i <= m_nPackets; ++i) bReady = m_phEvents[i] != nullptr;
    if (bReady) {
        DWORD dwThreadId = 0;
        HANDLE hThread = CreateThread(nullptr, 0, PlayerThreadProc, nullptr, 0, &dwThreadId);
        if (hThread) {
            m_dwThreadId = dwThreadId;
            m_hThread = hThread;
            SetThreadPriority(hThread, THREAD_PRIORITY_TIME_CRITICAL);
        }
    }

    TraceLog::Write(1, "Constructed KSCore (Input Size:%d) (Output Size %d) (Output Cnt %d)",
                    static_cast<int>(m_pSettings->input_buffer_size),
                    static_cast<int>(m_pSettings->output_buffer_size),
                    static_cast<int>(m_pSettings->output_buffer_cnt));
}

bool KSCore::Constructed() const { return m_hThread.load() != nullptr; }

KSCore::~KSCore() {
    EnterCriticalSection(&m_csControl);
    TraceLog::Write(1, "End(force=%d)", 1);
    EndInternal(1);
    LeaveCriticalSection(&m_csControl);

    // The status window arrives with the diagnostics; nothing can have opened one yet.

    TraceLog::Write(1, "Attempting to close player thread");
    // The thread clears m_hThread as its last act; keep the handle to close it.
    HANDLE hThread = m_hThread.load();
    m_bExitThread = 1;
    if (m_phEvents && m_phEvents[0]) SetEvent(m_phEvents[0]);
    Wake();
    while (m_hThread.load() != nullptr) Sleep(10);
    // After clearing m_hThread the thread still returns through this module's
    // code; wait until it has left, so the library can be unloaded after quit.
    if (hThread) WaitForSingleObject(hThread, INFINITE);
    TraceLog::Write(1, "Player thread has closed");

    DeleteCriticalSection(&m_csControl);
    DeleteCriticalSection(&m_csWake);

    if (m_phEvents) {
        for (int i = 0; i <= m_nPackets; ++i) {
            if (m_phEvents[i]) CloseHandle(m_phEvents[i]);
        }
    }
    if (m_hWakeEvent) CloseHandle(m_hWakeEvent);
    if (hThread) CloseHandle(hThread);

    // Still here when no output was open at the final end.
    delete m_pEnumFilters;
    m_pEnumFilters = nullptr;

    delete[] m_pPacketData;
    delete[] m_pInput;
    delete[] m_phEvents;

    KSCore* self = this;
    g_pActiveCore.compare_exchange_strong(self, nullptr);
    TraceLog::Write(1, "Destructed KSCore");
}

void KSCore::ConfigureInputBuffer(int32_t cbSize) {
    delete[] m_pInput;
    m_pInput = cbSize > 0 ? new (std::nothrow) BYTE[cbSize] : nullptr;
    m_cbInput = m_pInput ? cbSize : 0;
    m_pRead = m_pInput;
    m_pWrite = m_pInput;
    m_cbFill = 0;
    TraceLog::Write(1, "input buffer configured to %d bytes", static_cast<int>(cbSize));
}

void KSCore::ConfigureOutputBuffers(int32_t cbSize) {
    delete[] m_pPacketData;
    const int64_t cbTotal = static_cast<int64_t>(m_nPackets) * cbSize;
    m_pPacketData = (cbSize > 0 && cbTotal <= INT32_MAX)
                        ? new (std::nothrow) BYTE[static_cast<size_t>(cbTotal)]
                        : nullptr;
    m_cbPacket = m_pPacketData ? cbSize : 0;
    TraceLog::Write(1, "output buffer configured to %d bytes per packet", static_cast<int>(cbSize));
}

void KSCore::InitPackets(bool bCreateEvents) {
    for (int i = 0; i < m_nPackets; ++i) {
        if (bCreateEvents && m_phEvents) {
            m_phEvents[1 + i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
        Packet& packet = m_Packets[i];
        memset(&packet, 0, sizeof(packet));
        packet.header.Size = sizeof(KSSTREAM_HEADER);
        packet.header.PresentationTime.Numerator = 1;
        packet.header.PresentationTime.Denominator = 1;
        packet.header.Data = m_pPacketData ? m_pPacketData + static_cast<size_t>(i) * m_cbPacket : nullptr;
        packet.header.FrameExtent = 0;
        packet.header.DataUsed = 0;
        packet.overlapped.hEvent = m_phEvents ? m_phEvents[1 + i] : nullptr;
    }
}

int KSCore::Write(const char* pBuffer, int32_t cb) {
    if (m_nMode != 1) return 1;
    // Nothing to store; a negative count or a missing buffer is a caller's
    // fault that must not touch the ring.
    if (cb <= 0 || !pBuffer) return 0;

    const BYTE* pSource = reinterpret_cast<const BYTE*>(pBuffer);
    const int32_t cbFree = m_cbInput - m_cbFill;
    const int32_t cbTail = static_cast<int32_t>(m_pInput + m_cbInput - m_pWrite);

    if (m_Format.Samples.wValidBitsPerSample == 24) {
        // Each packed 3-byte sample becomes a 4-byte container in the ring; a
        // trailing partial sample is dropped.
        const int32_t cbNeed = (cb / 3) * 4;
        if (cbFree < cbNeed) return 1;
        const int32_t cbFirst = cbNeed < cbTail ? cbNeed : cbTail;
        const int32_t cbSecond = cbNeed - cbFirst;
        if (cbFirst / 4 != 0) {
            Pack24(m_pWrite, pSource, (cbFirst / 4) * 3);
            m_pWrite += cbFirst;
            pSource += (cbFirst / 4) * 3;
        }
        if (cbSecond / 4 != 0) {
            m_pWrite = m_pInput;
            Pack24(m_pWrite, pSource, (cbSecond / 4) * 3);
            m_pWrite += cbSecond;
        }
        m_cbFill += cbNeed;
    } else {
        if (cbFree < cb) return 1;
        const int32_t cbFirst = cb < cbTail ? cb : cbTail;
        const int32_t cbSecond = cb - cbFirst;
        memcpy(m_pWrite, pSource, static_cast<size_t>(cbFirst));
        m_pWrite += cbFirst;
        if (cbSecond != 0) {
            m_pWrite = m_pInput;
            memcpy(m_pWrite, pSource + cbFirst, static_cast<size_t>(cbSecond));
            m_pWrite += cbSecond;
        }
        m_cbFill += cb;
    }
    Wake();
    return 0;
}

int32_t KSCore::Pack24(BYTE* pDest, const BYTE* pSource, int32_t cbSource) {
    if (cbSource <= 0) return 0;
    const int32_t nWords = (cbSource - 1) / 3 + 1;
    for (int32_t k = 0; k < nWords; ++k) {
        pDest[4 * k + 0] = 0;
        pDest[4 * k + 1] = pSource[3 * k + 0];
        pDest[4 * k + 2] = pSource[3 * k + 1];
        pDest[4 * k + 3] = pSource[3 * k + 2];
    }
    return nWords * 4;
}

int KSCore::CanWrite() {
    if (m_nMode != 1) return 0;
    const int32_t cbFree = m_cbInput - m_cbFill;
    if (m_Format.Samples.wValidBitsPerSample == 24) {
        const int32_t cbThreshold = (m_cbPacket / 3) * 4;
        return cbFree < cbThreshold ? 0 : (cbFree / 4) * 3;
    }
    return cbFree < m_cbPacket ? 0 : cbFree;
}

bool KSCore::AllPacketsFree(DWORD dwTimeout) {
    return WaitForMultipleObjects(static_cast<DWORD>(m_nPackets), m_phEvents + 1, TRUE, dwTimeout) ==
           WAIT_OBJECT_0;
}

int KSCore::IsPlaying() {
    if (m_nMode != 1 || m_cbFill != 0) return 0;
    return AllPacketsFree(0) ? 1 : 0;
}

uint32_t KSCore::GetTime() {
    const uint32_t cb = m_cbPlayed;
    const uint32_t cbPerSec = m_Format.Format.nAvgBytesPerSec;
    if (cbPerSec == 0) return 0;
    // The part below one second is computed in 64 bits: at high byte rates the
    // remainder times 1000 does not fit in 32.
    const uint32_t msPart = static_cast<uint32_t>(static_cast<uint64_t>(cb % cbPerSec) * 1000u / cbPerSec);
    return (cb / cbPerSec) * 1000u + msPart;
}

void KSCore::SetVolume(int32_t v) {
    if (v < 0) return;
    m_nVolume = v > 255 ? 255 : v;
}

void KSCore::Wake() {
    EnterCriticalSection(&m_csWake);
    SetEvent(m_hWakeEvent);
    LeaveCriticalSection(&m_csWake);
}
