// Audio filters: KS filters whose pins are audio pins. The render filter adds
// the one operation the engine needs from a device: find a render pin that
// takes a wave format, create it and hand it over.
#pragma once

#include "ks/filter.h"
#include "platform/platform.h"

class CKsAudPin;

class CKsAudFilter : public CKsFilter {
public:
    CKsAudFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName);
    // Every usable pin becomes a CKsAudRenPin, a CKsAudCapPin or a CKsAudPin.
    HRESULT EnumeratePins() override;
};

class CKsAudRenFilter : public CKsAudFilter {
public:
    CKsAudRenFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName);

    // The first render sink pin that supports the format, or null.
    CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx);
    // A created pin with the format set, taken out of this filter's lists and
    // now owned by the caller; null when no render sink pin takes the format.
    CKsAudPin* CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped);

    const char* m_pszFailReason;  // why the last CreateRenderPin failed; "" at its start
};

class CKsAudCapFilter : public CKsAudFilter {
public:
    CKsAudCapFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName);
};
