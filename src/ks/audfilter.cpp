#include "ks/audfilter.h"

#include <cstring>
#include <new>

#include "ks/audpin.h"
#include "ks/util.h"

CKsAudFilter::CKsAudFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName)
    : CKsFilter(pszName, phr, pszFriendlyName) {
    TraceEnter("CKsAudFilter::CKsAudFilter()");
    TraceLeave("CKsAudFilter::CKsAudFilter", *phr);
}

HRESULT CKsAudFilter::EnumeratePins() {
    TraceEnter("CKsAudFilter::EnumeratePins()");
    ULONG cPins = 0;
    bool bOutOfMemory = false;
    if (FAILED(GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof(cPins)))) {
        DebugTrace(kTraceError, "Failed to retrieve count of pins in audio filter");
        cPins = 0;
    }
    cPins = BoundedPinCount(cPins);

    for (ULONG nPinId = 0; nPinId < cPins && !bOutOfMemory; ++nPinId) {
        LONG lCommunication = 0;
        if (FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, &lCommunication,
                                        sizeof(lCommunication)))) {
            DebugTrace(kTraceError, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
            continue;
        }
        if (lCommunication != KSPIN_COMMUNICATION_SINK && lCommunication != KSPIN_COMMUNICATION_SOURCE &&
            lCommunication != KSPIN_COMMUNICATION_BOTH) {
            DebugTrace(kTraceError, "Pin communication value doesn't make sense");
            continue;
        }
        LONG lDataFlow = 0;
        if (FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, &lDataFlow,
                                        sizeof(lDataFlow)))) {
            DebugTrace(kTraceError, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
            continue;
        }

        HRESULT hr = S_OK;
        CKsAudPin* pPin;
        if (lCommunication == KSPIN_COMMUNICATION_SINK && lDataFlow == KSPIN_DATAFLOW_IN) {
            pPin = new (std::nothrow) CKsAudRenPin(this, nPinId, &hr);
        } else if (lCommunication == KSPIN_COMMUNICATION_SINK && lDataFlow == KSPIN_DATAFLOW_OUT) {
            pPin = new (std::nothrow) CKsAudCapPin(this, nPinId, &hr);
        } else {
            pPin = new (std::nothrow) CKsAudPin(this, nPinId, &hr);
        }
        if (pPin == nullptr) {
            DebugTrace(kTraceError, "Failed to create audio pin");
            bOutOfMemory = true;
        } else if (FAILED(hr)) {
            delete pPin;
        } else if (m_listPins.AddTail(pPin) == nullptr) {
            delete pPin;
            DebugTrace(kTraceError, "Unable to allocate list entry to save pin in");
            bOutOfMemory = true;
        }
    }

    if (bOutOfMemory) {
        DebugTrace(kTraceError, "Ran out of memory enumerating pins - deleting all pins");
        while (m_listPins.m_pHead != nullptr) delete m_listPins.RemoveHead();
        TraceLeave("CKsAudFilter::EnumeratePins", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }

    ClassifyPins();

    HRESULT hr = S_OK;
    if (m_listRenderSinkPins.m_lCount == 0 && m_listRenderSourcePins.m_lCount == 0 &&
        m_listCaptureSinkPins.m_lCount == 0 && m_listCaptureSourcePins.m_lCount == 0) {
        DebugTrace(kTraceError, "No valid pins found on the filter");
        hr = E_FAIL;
    }
    TraceLeave("CKsAudFilter::EnumeratePins", hr);
    return hr;
}

CKsAudRenFilter::CKsAudRenFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName)
    : CKsAudFilter(pszName, phr, pszFriendlyName), m_pszFailReason("") {
    TraceEnter("CKsAudRenFilter::CKsAudRenFilter()");
    m_nFilterType = 1;
    TraceLeave("CKsAudRenFilter::CKsAudRenFilter", *phr);
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx) {
    TraceEnter("CKsAudRenFilter::FindViablePin()");
    QUARROW_ASSERT(pwfx);
    CKsAudPin* pFound = nullptr;
    if (pwfx != nullptr) {
        for (TListItem<CKsPin>* pItem = m_listRenderSinkPins.m_pHead; pItem != nullptr; pItem = pItem->pNext) {
            CKsAudPin* pPin = static_cast<CKsAudPin*>(pItem->pData);
            if (pPin != nullptr && pPin->IsFormatSupported(pwfx)) {
                pFound = pPin;
                break;
            }
        }
    }
    TraceLeave("CKsAudRenFilter::FindViablePin()");
    return pFound;
}

CKsAudPin* CKsAudRenFilter::CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped) {
    TraceEnter("CKsAudRenFilter::CreateRenderPin()");
    m_pszFailReason = "";
    HRESULT hr = S_OK;
    CKsAudPin* pPin = FindViablePin(pwfx);
    bool bCreated = false;

    if (pPin == nullptr) {
        m_pszFailReason = "Could not find a Render pin that supports the given wave format";
        hr = E_FAIL;
    } else {
        hr = pPin->SetFormat(pwfx);
        if (FAILED(hr)) {
            m_pszFailReason = "Failed to set Render Pin format - the pin lied about its supported formats";
        } else {
            hr = pPin->Instantiate(fLooped);
            if (SUCCEEDED(hr)) {
                DebugTrace(kTraceInfo, "Successfully instantiated Render Pin.  Handle = 0x%08x",
                           static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pPin->GetHandle())));
                bCreated = true;
            } else {
                m_pszFailReason = "Failed to instantiate Render Pin";
            }
        }
    }

    // Fallback: every render sink pin from the head, whatever its ranges say.
    if (!bCreated) {
        pPin = nullptr;
        for (TListItem<CKsPin>* pItem = m_listRenderSinkPins.m_pHead; pItem != nullptr; pItem = pItem->pNext) {
            CKsAudPin* pCandidate = static_cast<CKsAudPin*>(pItem->pData);
            if (pCandidate == nullptr) continue;
            hr = pCandidate->SetFormat(pwfx);
            if (SUCCEEDED(hr)) hr = pCandidate->Instantiate(fLooped);
            if (SUCCEEDED(hr)) {
                pPin = pCandidate;
                break;
            }
        }
    }

    // Hand-over: the caller owns the pin from now on.
    if (pPin != nullptr) {
        TListItem<CKsPin>* listPosPinNode = m_listPins.Find(pPin);
        QUARROW_ASSERT(listPosPinNode);
        if (listPosPinNode != nullptr) m_listPins.Remove(listPosPinNode);
        listPosPinNode = m_listRenderSinkPins.Find(pPin);
        QUARROW_ASSERT(listPosPinNode);
        if (listPosPinNode != nullptr) m_listRenderSinkPins.Remove(listPosPinNode);
    }
    TraceLeave("CKsAudRenFilter::CreateRenderPin", hr);
    return pPin;
}

CKsAudCapFilter::CKsAudCapFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName)
    : CKsAudFilter(pszName, phr, pszFriendlyName) {
    TraceEnter("CKsAudCapFilter::CKsAudCapFilter()");
    m_nFilterType = 2;
    TraceLeave("CKsAudCapFilter::CKsAudCapFilter", *phr);
}
