#include "ks/audpin.h"

#include <cstring>
#include <new>

#include "ks/filter.h"
#include "ks/multiitem.h"
#include "ks/util.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(PinCreateSize(sizeof(WAVEFORMATEX)) == 146, "connect block for a plain format");
static_assert(PinCreateSize(sizeof(WAVEFORMATEXTENSIBLE)) == 168, "connect block for an extensible format");
#endif

namespace {

// WAVEFORMATEX-derived sub-formats share bytes 2 to 15 with
// KSDATAFORMAT_SUBTYPE_WAVEFORMATEX: 0000xxxx-0000-0010-8000-00AA00389B71.
bool IsWaveFormatExDerived(const GUID& guid) {
    return std::memcmp(reinterpret_cast<const BYTE*>(&guid) + 2,
                       reinterpret_cast<const BYTE*>(&KSDATAFORMAT_SUBTYPE_WAVEFORMATEX) + 2, sizeof(GUID) - 2) == 0;
}

// The sub-format GUID of a wave format tag.
GUID SubFormatOfTag(WORD wFormatTag) {
    GUID guid = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    guid.Data1 = wFormatTag;
    return guid;
}

BYTE* WaveFormatPlace(PKSPIN_CONNECT pBlock) {
    return reinterpret_cast<BYTE*>(pBlock) + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);
}

}  // namespace

CKsAudPin::CKsAudPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsPin(pFilter, nId, phr), m_pksDataFormatWfx(nullptr) {
    TraceEnter("CKsAudPin::CKsAudPin()");
    HRESULT hr = *phr;
    if (SUCCEEDED(hr)) {
        m_cbPinCreateSize = PinCreateSize(sizeof(WAVEFORMATEX));
        m_pksPinCreate = static_cast<PKSPIN_CONNECT>(operator new(m_cbPinCreateSize, std::nothrow));
        if (m_pksPinCreate == nullptr) {
            DebugTrace(kTraceError, "Failed to allocate m_pksPinCreate");
            hr = E_OUTOFMEMORY;
        } else {
            std::memset(m_pksPinCreate, 0, m_cbPinCreateSize);
            m_pksPinCreate->Interface.Set = KSINTERFACESETID_Standard;
            m_pksPinCreate->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
            m_pksPinCreate->Interface.Flags = 0;
            m_pksPinCreate->Medium.Set = KSMEDIUMSETID_Standard;
            m_pksPinCreate->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
            m_pksPinCreate->Medium.Flags = 0;
            m_pksPinCreate->PinId = nId;
            m_pksPinCreate->PinToHandle = nullptr;
            m_pksPinCreate->Priority.PriorityClass = KSPRIORITY_NORMAL;
            m_pksPinCreate->Priority.PrioritySubClass = 1;

            m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(m_pksPinCreate + 1);
            KSDATAFORMAT& format = m_pksDataFormatWfx->DataFormat;
            format.FormatSize = static_cast<ULONG>(sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX));
            format.Flags = 0;
            format.Reserved = 0;
            format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
            format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
            format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;

            hr = Init();
        }
    }
    TraceLeave("CKsAudPin::CKsAudPin", hr);
    *phr = hr;
}

CKsAudPin::~CKsAudPin() {
    TraceEnter("CKsAudPin::~CKsAudPin()");
    while (m_listAudioRanges.m_pHead != nullptr) delete m_listAudioRanges.RemoveHead();
    TraceLeave("CKsAudPin::~CKsAudPin()");
}

HRESULT CKsAudPin::Init() {
    TraceEnter("CKsAudPin::Init()");
    const int nPinId = static_cast<int>(m_nId);

    bool bStandardInterface = false;
    for (ULONG i = 0; i < m_Descriptor.InterfacesCount && !bStandardInterface; ++i) {
        const KSPIN_INTERFACE& item = m_Descriptor.Interfaces[i];
        bStandardInterface = SameGuid(item.Set, KSINTERFACESETID_Standard) &&
                             item.Id == KSINTERFACE_STANDARD_STREAMING;
    }
    if (!bStandardInterface) {
        DebugTrace(kTraceError, "No standard streaming interfaces on the pin");
        TraceLeave("CKsAudPin::Init", E_FAIL);
        return E_FAIL;
    }

    bool bStandardMedium = false;
    for (ULONG i = 0; i < m_Descriptor.MediumsCount && !bStandardMedium; ++i) {
        const KSPIN_MEDIUM& item = m_Descriptor.Mediums[i];
        bStandardMedium = SameGuid(item.Set, KSMEDIUMSETID_Standard) && item.Id == KSMEDIUM_TYPE_ANYINSTANCE;
    }
    if (!bStandardMedium) {
        DebugTrace(kTraceError, "No standard streaming mediums on the pin");
        TraceLeave("CKsAudPin::Init", E_FAIL);
        return E_FAIL;
    }

    // The ranges come from the driver: each must hold a whole KSDATARANGE and
    // lie inside the answer, or the walk stops there. Ranges may sit at any
    // byte offset, so each is copied out before it is read.
    HRESULT hr = S_OK;
    bool bViable = false;
    const BYTE* pRange = reinterpret_cast<const BYTE*>(m_Descriptor.DataRanges);
    const BYTE* pEnd = m_pksDataRanges != nullptr ? MultipleItemEnd(m_pksDataRanges) : pRange;
    for (ULONG i = 0; i < m_Descriptor.DataRangesCount; ++i) {
        const size_t cbLeft = pEnd > pRange ? static_cast<size_t>(pEnd - pRange) : 0;
        if (cbLeft < sizeof(KSDATARANGE)) {
            DebugTrace(kTraceError, "Data ranges on PinID: %d end after %u of %u ranges", nPinId,
                       static_cast<unsigned>(i), static_cast<unsigned>(m_Descriptor.DataRangesCount));
            break;
        }
        KSDATARANGE range;
        std::memcpy(&range, pRange, sizeof(range));
        if (range.FormatSize < sizeof(KSDATARANGE) || range.FormatSize > cbLeft) {
            DebugTrace(kTraceError, "Data range %u on PinID: %d has FormatSize %u with %u bytes left; ranges from here are ignored",
                       static_cast<unsigned>(i), nPinId, static_cast<unsigned>(range.FormatSize),
                       static_cast<unsigned>(cbLeft));
            break;
        }

        if (!bViable) bViable = IsWaveFormatExDerived(range.SubFormat) || IsNullGuid(range.SubFormat);
        if (bViable && SameGuid(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
            PKSDATARANGE_AUDIO pCopy = new (std::nothrow) KSDATARANGE_AUDIO;
            if (pCopy == nullptr) {
                DebugTrace(kTraceError, "Unable to allocate memory to save datarange in");
                hr = E_OUTOFMEMORY;
            } else {
                // A range shorter than KSDATARANGE_AUDIO keeps zeros in the
                // fields it lacks, so it accepts no format.
                std::memset(pCopy, 0, sizeof(*pCopy));
                const size_t cbCopy = range.FormatSize < sizeof(KSDATARANGE_AUDIO) ? range.FormatSize
                                                                                    : sizeof(KSDATARANGE_AUDIO);
                std::memcpy(pCopy, pRange, cbCopy);
                if (cbCopy < sizeof(KSDATARANGE_AUDIO)) {
                    DebugTrace(kTraceTolerated, "Audio data range %u on PinID: %d is %u bytes; its missing fields are zero",
                               static_cast<unsigned>(i), nPinId, static_cast<unsigned>(cbCopy));
                }
                if (m_listAudioRanges.AddTail(pCopy) == nullptr) {
                    delete pCopy;
                    DebugTrace(kTraceError, "Unable to allocate list entry to save datarange in");
                    hr = E_OUTOFMEMORY;
                }
            }
        }
        pRange += range.FormatSize;
    }

    if (!bViable) {
        DebugTrace(kTraceError, "No audio dataranges on the pin");
        hr = E_FAIL;
    }
    TraceLeave("CKsAudPin::Init", hr);
    return hr;
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx) {
    TraceEnter("CKsAudPin::IsFormatSupported()");
    const GUID guidSubFormat = pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE
                                   ? reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx)->SubFormat
                                   : SubFormatOfTag(pwfx->wFormatTag);
    const ULONG nChannels = pwfx->nChannels;
    const ULONG nBits = pwfx->wBitsPerSample;
    const ULONG nRate = pwfx->nSamplesPerSec;

    BOOL bSupported = FALSE;
    for (TListItem<KSDATARANGE_AUDIO>* pItem = m_listAudioRanges.m_pHead; pItem != nullptr && !bSupported;
         pItem = pItem->pNext) {
        const KSDATARANGE_AUDIO* pRange = pItem->pData;
        if (pRange == nullptr) continue;
        const KSDATARANGE& range = pRange->DataRange;
        bSupported = (IsNullGuid(range.MajorFormat) || SameGuid(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) &&
                     (IsNullGuid(range.SubFormat) || SameGuid(range.SubFormat, guidSubFormat)) &&
                     (IsNullGuid(range.Specifier) || SameGuid(range.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) &&
                     pRange->MaximumChannels >= nChannels && pRange->MinimumBitsPerSample <= nBits &&
                     nBits <= pRange->MaximumBitsPerSample && pRange->MinimumSampleFrequency <= nRate &&
                     nRate <= pRange->MaximumSampleFrequency;
    }
    TraceLeave("CKsAudPin::IsFormatSupported()");
    return bSupported;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
    TraceEnter("CKsAudPin::SetFormat()");
    if (pwfx == nullptr || m_pksDataFormatWfx == nullptr) {
        DebugTrace(kTraceError, "pwfx or m_pksDataFormatWfx are NULL");
        TraceLeave("CKsAudPin::SetFormat", E_FAIL);
        return E_FAIL;
    }

    const ULONG cbFormat = GetWaveFormatSize(pwfx);
    const ULONG cbNeeded = PinCreateSize(cbFormat);
    if (m_cbPinCreateSize != cbNeeded) {
        PKSPIN_CONNECT pNew = static_cast<PKSPIN_CONNECT>(operator new(cbNeeded, std::nothrow));
        if (pNew == nullptr) {
            DebugTrace(kTraceError, "Unable to allocate KSPIN_CONNECT structure");
            TraceLeave("CKsAudPin::SetFormat", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        std::memcpy(pNew, m_pksPinCreate, cbNeeded < m_cbPinCreateSize ? cbNeeded : m_cbPinCreateSize);
        operator delete(m_pksPinCreate);
        m_pksPinCreate = pNew;
        m_cbPinCreateSize = cbNeeded;
        m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(m_pksPinCreate + 1);
        m_pksDataFormatWfx->DataFormat.FormatSize = static_cast<ULONG>(sizeof(KSDATAFORMAT)) + cbFormat;
    }

    std::memcpy(WaveFormatPlace(m_pksPinCreate), pwfx, cbFormat);
    m_pksDataFormatWfx->DataFormat.SampleSize =
        static_cast<ULONG>((static_cast<ULONG>(pwfx->nChannels) * pwfx->wBitsPerSample / 8) & 0xFFFFu);
    TraceLeave("CKsAudPin::SetFormat", S_OK);
    return S_OK;
}

CKsAudRenPin::CKsAudRenPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr) : CKsAudPin(pFilter, nId, phr) {
    TraceEnter("CKsAudRenPin::CKsAudRenPin()");
    m_nPinType = 1;
    TraceLeave("CKsAudRenPin::CKsAudRenPin", *phr);
}

CKsAudRenPin::~CKsAudRenPin() {
    TraceEnter("CKsAudRenPin::~CKsAudRenPin()");
    TraceLeave("CKsAudRenPin::~CKsAudRenPin()");
}

CKsAudCapPin::CKsAudCapPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr) : CKsAudPin(pFilter, nId, phr) {
    TraceEnter("CKsAudCapPin::CKsAudCapPin()");
    m_nPinType = 2;
    TraceLeave("CKsAudCapPin::CKsAudCapPin", *phr);
}

CKsAudCapPin::~CKsAudCapPin() {
    TraceEnter("CKsAudCapPin::~CKsAudCapPin()");
    TraceLeave("CKsAudCapPin::~CKsAudCapPin()");
}
