// Opening, pausing and ending the output, and the formats offered to the device.
#include <cstring>

#include "engine/kscore.h"
#include "frame/settings.h"
#include "frame/tracelog.h"

namespace {

// KSDATAFORMAT_SUBTYPE_PCM: {00000001-0000-0010-8000-00AA00389B71}.
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

DWORD ChannelMask(int32_t nChannels) {
    switch (nChannels) {
    case 0: return 0;
    case 1: return SPEAKER_FRONT_CENTER;
    case 2: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    case 3: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER;
    case 4: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 5:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_BACK_LEFT |
               SPEAKER_BACK_RIGHT;
    default:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_LOW_FREQUENCY |
               SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    }
}

}  // namespace

void KSCore::MakeExtensibleFormat(WAVEFORMATEXTENSIBLE* pDest, int32_t nRate, int32_t nChannels,
                                  int32_t nBits) {
    memset(pDest, 0, sizeof(*pDest));
    WAVEFORMATEX& format = pDest->Format;
    format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.nChannels = static_cast<WORD>(nChannels);
    format.nSamplesPerSec = static_cast<DWORD>(nRate);
    format.wBitsPerSample = static_cast<WORD>((nBits + 7) & ~7);
    format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample * nChannels / 8);
    format.nAvgBytesPerSec = static_cast<DWORD>(format.nBlockAlign) * format.nSamplesPerSec;
    format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    pDest->Samples.wValidBitsPerSample = static_cast<WORD>(nBits);
    pDest->dwChannelMask = ChannelMask(nChannels);
    pDest->SubFormat = kSubtypePcm;
}

void KSCore::MakePlainFormat(WAVEFORMATEXTENSIBLE* pDest, const WAVEFORMATEXTENSIBLE* pSource) {
    *pDest = *pSource;
    WAVEFORMATEX& format = pDest->Format;
    if (pSource->Samples.wValidBitsPerSample == 24) {
        format.wBitsPerSample = 24;
        format.nBlockAlign = format.nChannels == 2 ? 6 : 3;
        format.nAvgBytesPerSec = static_cast<DWORD>(format.nBlockAlign) * format.nSamplesPerSec;
    } else if (pSource->Samples.wValidBitsPerSample == 32) {
        format.wBitsPerSample = 32;
        format.nBlockAlign = static_cast<WORD>(4 * format.nChannels);
        format.nAvgBytesPerSec = static_cast<DWORD>(format.nBlockAlign) * format.nSamplesPerSec;
    }
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.cbSize = 0;
    pDest->Samples.wValidBitsPerSample = 0;
    pDest->dwChannelMask = 0;
    memset(&pDest->SubFormat, 0, sizeof(pDest->SubFormat));
}

void KSCore::ShowError(const char* text) { MessageBoxA(m_hParentWnd, text, "Error!", MB_OK); }

int KSCore::Start(int32_t nRate, int32_t nChannels, int32_t nBits) {
    EnterCriticalSection(&m_csControl);
    const int result = StartInternal(nRate, nChannels, nBits);
    LeaveCriticalSection(&m_csControl);
    return result;
}

int KSCore::StartInternal(int32_t nRate, int32_t nChannels, int32_t nBits) {
    WAVEFORMATEXTENSIBLE format;
    MakeExtensibleFormat(&format, nRate, nChannels, nBits);
    if (nBits == 20) {
        ShowError("20 bit audio is not currently supported");
        return -1;
    }
    if (nBits == 24) {
        if (nChannels != 1 && nChannels != 2) {
            ShowError("Only 1 or 2 channels is supported for 24 bit playback.");
            return -1;
        }
        format.Format.wBitsPerSample = 32;
        format.Format.nBlockAlign = static_cast<WORD>(4 * nChannels);
        format.Format.nAvgBytesPerSec = static_cast<DWORD>(format.Format.nBlockAlign) * format.Format.nSamplesPerSec;
    }

    if (m_nMode == 1) {
        if (!m_bPaused && m_pSettings->gapless_enabled) {
            WAVEFORMATEXTENSIBLE plain;
            MakePlainFormat(&plain, &format);
            if (memcmp(&format, &m_Format, sizeof(format)) == 0 ||
                memcmp(&plain, &m_Format, sizeof(plain)) == 0) {
                // Same format: the running pin carries the new track without a gap.
                m_bTrackOpen = 1;
                m_cbPlayed = 0;
                return 1000;
            }
        }
        TraceLog::Write(1, "StartInternal - Forcing End");
        End(1);
    }

    if (!OpenOutput(&format)) return -1;
    m_cbPlayed = 0;
    m_bTrackOpen = 1;
    return 1000;
}

int KSCore::OpenOutput(WAVEFORMATEXTENSIBLE* pFormat) {
    (void)pFormat;
    if (m_pSettings->input_buffer_size != m_cbInput) ConfigureInputBuffer(m_pSettings->input_buffer_size);
    if (m_pSettings->output_buffer_size != m_cbPacket) {
        ConfigureOutputBuffers(m_pSettings->output_buffer_size);
        InitPackets(false);
    }
    // Without the KS device layer there is no device list to choose from.
    ShowError("Could not find suitable output filter");
    return 0;
}

HRESULT KSCore::WritePacket(Packet* pPacket) {
    (void)pPacket;
    // Without the KS device layer no render pin exists to take the packet.
    return E_FAIL;
}

void KSCore::CloseOutput() {
    m_nMode = 0;
    TraceLog::Write(1, "Output Closed");
}

void KSCore::End() {
    TraceLog::Write(1, "End()");
    m_bTrackOpen = 0;
    End(0);
}

void KSCore::End(int bForce) {
    EnterCriticalSection(&m_csControl);
    TraceLog::Write(1, "End(force=%d)", bForce);
    EndInternal(bForce);
    LeaveCriticalSection(&m_csControl);
}

void KSCore::EndInternal(int bForce) {
    TraceLog::Write(1, "EndInternal() - mode=%d force=%d", static_cast<int>(m_nMode), bForce);
    if (m_nMode != 1) return;
    // Gapless: the output plays on into the next track, or the player thread
    // ends it when the ring runs dry.
    if (m_pSettings->gapless_enabled && !bForce) return;
    const bool bPaused = m_bPaused != 0;
    if (bPaused) {
        m_pRead = m_pInput;
        m_pWrite = m_pInput;
        m_cbFill = 0;
    }
    m_nMode = 2;
    while (m_cbFill != 0) Sleep(10);
    if (!bPaused) AllPacketsFree(INFINITE);
    AllPacketsFree(INFINITE);
    CloseOutput();
}

int KSCore::Pause(int bPause) {
    EnterCriticalSection(&m_csControl);
    const int bWasPaused = m_bPaused;
    (void)bPause;
    // Pausing needs an open render pin, which only the KS device layer makes.
    LeaveCriticalSection(&m_csControl);
    return bWasPaused;
}
