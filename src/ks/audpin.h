// Audio pins: KS pins that know which wave formats they accept. Construction
// checks for standard streaming and keeps copies of the pin's audio data
// ranges; IsFormatSupported tests a wave format against them and SetFormat
// writes one into the connect block that Instantiate hands to KsCreatePin.
#pragma once

#include "ks/pin.h"
#include "ks/tlist.h"
#include "platform/platform.h"

class CKsAudPin : public CKsPin {
public:
    CKsAudPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudPin() override;

    HRESULT Init();
    // TRUE when one kept range accepts the format (a WAVEFORMATEX, or a
    // WAVEFORMATEXTENSIBLE when its tag says so).
    BOOL IsFormatSupported(const WAVEFORMATEX* pwfx);
    // Writes the format behind the KSDATAFORMAT of the connect block, growing
    // or shrinking the block to fit it.
    HRESULT SetFormat(const WAVEFORMATEX* pwfx);

    TList<KSDATARANGE_AUDIO> m_listAudioRanges;    // owned full-size copies, in the pin's order
    PKSDATAFORMAT_WAVEFORMATEX m_pksDataFormatWfx;  // inside m_pksPinCreate, behind the KSPIN_CONNECT
};

class CKsAudRenPin : public CKsAudPin {
public:
    CKsAudRenPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
public:
    CKsAudCapPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsAudCapPin() override;
};

// Bytes of the connect block for a wave format of `cbFormat` bytes: the
// KSPIN_CONNECT, the KSDATAFORMAT and the format (128 + n on 32-bit Windows).
constexpr ULONG PinCreateSize(ULONG cbFormat) {
    return static_cast<ULONG>(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT)) + cbFormat;
}
