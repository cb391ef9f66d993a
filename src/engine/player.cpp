// The player thread: moves ring bytes into packets with the software volume
// and hands full packets to the render pin.
#include <cstring>

#include "engine/kscore.h"
#include "frame/settings.h"
#include "frame/tracelog.h"

DWORD WINAPI PlayerThreadProc(LPVOID) {
    KSCore* pCore = g_pActiveCore;
    pCore->PlayerThread();
    return 0;
}

void KSCore::PlayerThread() {
    for (;;) {
        WaitForSingleObject(m_hWakeEvent, INFINITE);
        m_bSleeping = 0;

        // The abort event comes first, so it wins over any free packet; among
        // free packets the lowest-numbered is taken.
        const DWORD dwWait =
            WaitForMultipleObjects(static_cast<DWORD>(m_nPackets + 1), m_phEvents, FALSE, INFINITE);
        if (dwWait == WAIT_OBJECT_0) {
            ResetEvent(m_phEvents[0]);
        } else if (m_iFillPacket == -1 && dwWait > WAIT_OBJECT_0 &&
                   dwWait <= WAIT_OBJECT_0 + static_cast<DWORD>(m_nPackets)) {
            m_iFillPacket = static_cast<int32_t>(dwWait - WAIT_OBJECT_0 - 1);
            m_Packets[m_iFillPacket].header.DataUsed = 0;
        }

        const int32_t cbAvail = m_cbFill;
        if (cbAvail == 0 || m_iFillPacket == -1 || m_bPaused) {
            SleepStep();
        } else {
            const int bFull = FillPacket(m_iFillPacket, cbAvail);
            // While an end drains the ring every fill goes to the device at once.
            if (bFull || m_nMode == 2) SubmitPacket(m_iFillPacket);
        }

        m_bPauseAck = m_bPaused.load();
        if (m_bExitThread) break;
    }
    TraceLog::Write(1, "Player Thread - closing");
    // The teardown polls for this; the engine may be gone right after it.
    m_hThread = nullptr;
}

void KSCore::SleepStep() {
    EnterCriticalSection(&m_csWake);
    // Test again under the wake lock: a write that landed since the test in
    // the loop has already signalled the wake event, and resetting it now
    // would leave its data in the ring with the thread asleep.
    if (m_cbFill == 0 || m_iFillPacket == -1 || m_bPaused) {
        ResetEvent(m_hWakeEvent);
        m_bSleeping = 1;
        if (m_nMode != 2 && !m_bTrackOpen && m_pSettings->gapless_enabled) {
            TraceLog::Write(1, "Gapless mode buffer underrun - Player Thread is stopping KS player");
            EnterCriticalSection(&m_csControl);
            TraceLog::Write(1, "End(force=%d)", 1);
            EndInternal(1);
            LeaveCriticalSection(&m_csControl);
        }
    }
    LeaveCriticalSection(&m_csWake);
}

int KSCore::FillPacket(int iPacket, int32_t cbAvail) {
    Packet& packet = m_Packets[iPacket];
    const int32_t cbRoom = m_cbPacket - static_cast<int32_t>(packet.header.DataUsed);
    const int32_t cb = cbAvail < cbRoom ? cbAvail : cbRoom;
    BYTE* pDest = static_cast<BYTE*>(packet.header.Data) + packet.header.DataUsed;

    const int32_t cbTail = static_cast<int32_t>(m_pInput + m_cbInput - m_pRead);
    const int32_t cbFirst = cb < cbTail ? cb : cbTail;
    const int32_t cbSecond = cb - cbFirst;
    if (cbFirst != 0) {
        CopyWithVolume(pDest, m_pRead, cbFirst);
        m_pRead += cbFirst;
        pDest += cbFirst;
    }
    if (cbSecond != 0) {
        m_pRead = m_pInput;
        CopyWithVolume(pDest, m_pRead, cbSecond);
        m_pRead += cbSecond;
    }
    packet.header.DataUsed += static_cast<ULONG>(cb);
    m_cbFill -= cb;
    return static_cast<int32_t>(packet.header.DataUsed) == m_cbPacket ? 1 : 0;
}

void KSCore::SubmitPacket(int iPacket) {
    Packet& packet = m_Packets[iPacket];
    packet.header.FrameExtent = packet.header.DataUsed;
    m_cbPlayed += packet.header.DataUsed;
    // The system signals the event again when the device is done with the
    // packet; header and OVERLAPPED must stay untouched until then.
    ResetEvent(m_phEvents[1 + iPacket]);
    if (FAILED(WritePacket(&packet))) {
        TraceLog::Write(1, "KS Packet write failed (buffer %d)", iPacket);
        // No completion will come for a write that never started: the packet
        // is free again, or every wait for all packets would block for ever.
        SetEvent(m_phEvents[1 + iPacket]);
    }
    m_iFillPacket = -1;
}

void KSCore::CopyWithVolume(BYTE* pDest, const BYTE* pSource, int32_t cb) {
    const int32_t v = m_nVolume;
    if (v == 255 || !m_pSettings->volume_enabled) {
        memcpy(pDest, pSource, static_cast<size_t>(cb));
        return;
    }
    // Scaling multiplies by v/256 with arithmetic shifts; samples may sit at
    // any byte offset, so they are loaded and stored through memcpy.
    switch (m_Format.Format.wBitsPerSample) {
    case 8:
        for (int32_t i = 0; i < cb; ++i) {
            pDest[i] = static_cast<BYTE>(128 + (((static_cast<int32_t>(pSource[i]) - 128) * v) >> 8));
        }
        break;
    case 16:
        for (int32_t i = 0; i + 2 <= cb; i += 2) {
            int16_t sample;
            memcpy(&sample, pSource + i, sizeof(sample));
            const int16_t scaled = static_cast<int16_t>((static_cast<int32_t>(sample) * v) >> 8);
            memcpy(pDest + i, &scaled, sizeof(scaled));
        }
        break;
    case 32:
        for (int32_t i = 0; i + 4 <= cb; i += 4) {
            int32_t sample;
            memcpy(&sample, pSource + i, sizeof(sample));
            // Shift first so the product stays within 32 bits.
            const int32_t scaled = (sample >> 8) * v;
            memcpy(pDest + i, &scaled, sizeof(scaled));
        }
        break;
    default:
        // Packed 24-bit samples of the plain format are not scaled.
        memcpy(pDest, pSource, static_cast<size_t>(cb));
        break;
    }
}
