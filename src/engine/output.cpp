// Opening, pausing and ending the output, and the formats offered to the device.
#include <cstring>

#include <new>

#include "engine/kscore.h"
#include "frame/settings.h"
#include "frame/tracelog.h"
#include "ks/audfilter.h"
#include "ks/audpin.h"
#include "ks/enum.h"

namespace {

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

// Device paths compare without regard to ASCII letter case.
bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a;
        char cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
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
    pDest->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
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
    GetDeviceList();
    m_pRenderFilter = ChooseRenderFilter();
    if (m_pRenderFilter == nullptr) {
        ShowError("Could not find suitable output filter");
        return 0;
    }
    TraceLog::Write(1,
                    "OpenOutput - Current Settings:\nChosen Filter:       %s\nInput Buffer Size:   %d\n"
                    "Output Buffer Size   %d\nOutput Buffer Count: %d\n\n",
                    m_pRenderFilter->m_szFriendlyName, static_cast<int>(m_pSettings->input_buffer_size),
                    static_cast<int>(m_pSettings->output_buffer_size),
                    static_cast<int>(m_pSettings->output_buffer_cnt));
    // Creating the render pin and streaming to it arrive with the player
    // thread's device path; until then no output opens.
    return 0;
}

CKsEnumFilters* KSCore::GetDeviceList() {
    if (m_pEnumFilters != nullptr) return m_pEnumFilters;

    HRESULT hr = S_OK;
    m_pEnumFilters = new (std::nothrow) CKsEnumFilters(&hr);
    if (m_pEnumFilters == nullptr) {
        ShowError("Failed to allocate CKsEnumFilters");
        return nullptr;
    }
    if (FAILED(hr)) {
        ShowError("Failed to create CKsEnumFilters");
        return nullptr;
    }

    const GUID aguidCategories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    hr = m_pEnumFilters->EnumFilters(1, aguidCategories, 2, TRUE, FALSE, TRUE);
    if (FAILED(hr)) {
        // The object stays, with whatever it found, and is reused as it is.
        ShowError("CKsEnumFilters::EnumFilters failed");
        return nullptr;
    }
    return m_pEnumFilters;
}

CKsAudRenFilter* KSCore::ChooseRenderFilter() {
    if (m_pEnumFilters == nullptr) return nullptr;
    const TList<CKsFilter>& list = m_pEnumFilters->m_listEnumeratedFilters;
    for (TListItem<CKsFilter>* pItem = list.m_pHead; pItem != nullptr && pItem->pData != nullptr;
         pItem = pItem->pNext) {
        if (EqualsIgnoringAsciiCase(pItem->pData->m_szFilterName, m_pSettings->output_device)) {
            return static_cast<CKsAudRenFilter*>(pItem->pData);
        }
    }
    if (list.m_pHead == nullptr) return nullptr;
    return static_cast<CKsAudRenFilter*>(list.m_pHead->pData);
}

HRESULT KSCore::WritePacket(Packet* pPacket) {
    (void)pPacket;
    // Without the KS device layer no render pin exists to take the packet.
    return E_FAIL;
}

void KSCore::CloseOutput() {
    if (m_pRenderPin != nullptr) {
        m_pRenderPin->ClosePin();
        delete m_pRenderPin;
        m_pRenderPin = nullptr;
    }
    if (m_pEnumFilters != nullptr) {
        delete m_pEnumFilters;
        m_pEnumFilters = nullptr;
    }
    m_pRenderFilter = nullptr;
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
