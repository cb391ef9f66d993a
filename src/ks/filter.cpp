#include "ks/filter.h"

#include <cstring>
#include <new>

#include "ks/multiitem.h"
#include "ks/pin.h"
#include "ks/util.h"

namespace {

// Copies at most 259 characters and terminates.
void CopyName(CHAR* pDest, LPCSTR pszSource) {
    std::strncpy(pDest, pszSource, MAX_PATH - 1);
    pDest[MAX_PATH - 1] = '\0';
}

}  // namespace

ULONG BoundedPinCount(ULONG cPins) {
    if (cPins <= CKsFilter::kMaxPinTypes) return cPins;
    DebugTrace(kTraceError, "Filter reports %u pin types; only the first %u are read", static_cast<unsigned>(cPins),
               static_cast<unsigned>(CKsFilter::kMaxPinTypes));
    return CKsFilter::kMaxPinTypes;
}

CKsNode::CKsNode(ULONG nId, const GUID* pguidType, HRESULT* phr) : m_nId(nId), m_guidType(*pguidType) {
    TraceEnter("CKsNode::CKsNode()");
    *phr = S_OK;
    TraceLeave("CKsNode::CKsNode", S_OK);
}

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName)
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_nFilterType(0) {
    TraceEnter("CKsFilter::CKsFilter()");
    InternalInit();
    std::memset(m_szFriendlyName, 0, sizeof(m_szFriendlyName));
    CopyName(m_szFriendlyName, pszFriendlyName != nullptr ? pszFriendlyName : "");

    HRESULT hr = S_OK;
    if (pszName == nullptr) {
        DebugTrace(kTraceError, "pszName cannot be NULL");
        hr = E_INVALIDARG;
    } else {
        CopyName(m_szFilterName, pszName);
    }
    TraceLeave("CKsFilter::CKsFilter", hr);
    *phr = hr;
}

HRESULT CKsFilter::InternalInit() {
    TraceEnter("CKsFilter::InternalInit()");
    std::memset(m_szFilterName, 0, sizeof(m_szFilterName));
    TraceLeave("CKsFilter::InternalInit", S_OK);
    return S_OK;
}

CKsFilter::~CKsFilter() {
    TraceEnter("CKsFilter::~CKsFilter()");
    // This class's own lists: an override in a derived class no longer runs here.
    const HRESULT hr = CKsFilter::DestroyLists();
    SafeCloseHandle(m_handle);
    QUARROW_ASSERT(SUCCEEDED(hr));
    TraceLeave("CKsFilter::~CKsFilter", hr);
}

HRESULT CKsFilter::Instantiate() {
    TraceEnter("CKsFilter::Instantiate()");
    m_handle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    HRESULT hr = S_OK;
    if (!IsValidHandle(m_handle)) {
        DebugTrace(kTraceError, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                   m_szFilterName, static_cast<unsigned>(GetLastError()));
        hr = E_FAIL;
    }
    TraceLeave("CKsFilter::Instantiate", hr);
    return hr;
}

namespace {

KSP_PIN MakePinRequest(ULONG nPinId, const GUID& guidPropertySet, ULONG nProperty) {
    KSP_PIN ksPProp;
    std::memset(&ksPProp, 0, sizeof(ksPProp));
    ksPProp.Property.Set = guidPropertySet;
    ksPProp.Property.Id = nProperty;
    ksPProp.Property.Flags = KSPROPERTY_TYPE_GET;
    ksPProp.PinId = nPinId;
    ksPProp.Reserved = 0;
    return ksPProp;
}

}  // namespace

HRESULT CKsFilter::GetPinPropertySimple(ULONG nPinId, const GUID& guidPropertySet, ULONG nProperty,
                                        PVOID pvValue, ULONG cbValue) {
    TraceEnter("CKsFilter::GetPinPropertySimple()");
    KSP_PIN ksPProp = MakePinRequest(nPinId, guidPropertySet, nProperty);
    ULONG ulReturned = 0;
    const HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPProp, sizeof(ksPProp), pvValue, cbValue,
                                 &ulReturned);
    TraceLeave("CKsFilter::GetPinPropertySimple", hr);
    return hr;
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, const GUID& guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem) {
    TraceEnter("CKsFilter::GetPinPropertyMulti()");
    KSP_PIN ksPProp = MakePinRequest(nPinId, guidPropertySet, nProperty);
    const HRESULT hr = ReadMultipleItem(m_handle, &ksPProp, sizeof(ksPProp), ppKsMultipleItem);
    TraceLeave("CKsFilter::GetPinPropertyMulti", hr);
    return hr;
}

HRESULT CKsFilter::EnumeratePins() {
    TraceEnter("CKsFilter::EnumeratePins()");
    ULONG cPins = 0;
    HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof(cPins));
    if (SUCCEEDED(hr)) {
        cPins = BoundedPinCount(cPins);
        for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
            hr = S_OK;
            CKsPin* pPin = new (std::nothrow) CKsPin(this, nPinId, &hr);
            if (FAILED(hr)) {
                DebugTrace(kTraceError, "Failed to construct pin");
                delete pPin;
            } else if (pPin == nullptr) {
                hr = E_OUTOFMEMORY;
                DebugTrace(kTraceError, "Failed to create pin");
            } else if (m_listPins.AddTail(pPin) == nullptr) {
                DebugTrace(kTraceError, "Failed to add pin to list");
                delete pPin;
            }
        }
    }

    hr = ClassifyPins();

    if (m_listRenderSinkPins.m_lCount == 0 && m_listRenderSourcePins.m_lCount == 0 &&
        m_listCaptureSinkPins.m_lCount == 0 && m_listCaptureSourcePins.m_lCount == 0 &&
        m_listNoCommPins.m_lCount == 0) {
        hr = E_FAIL;
        DebugTrace(kTraceError, "Filter is not viable. It has no pins.");
    }
    TraceLeave("CKsFilter::EnumeratePins", hr);
    return hr;
}

HRESULT CKsFilter::ClassifyPins() {
    TraceEnter("CKsFilter::ClassifyPins()");
    HRESULT hr = S_OK;
    for (TListItem<CKsPin>* pItem = m_listPins.m_pHead; pItem != nullptr; pItem = pItem->pNext) {
        CKsPin* pPin = pItem->pData;
        if (pPin == nullptr) continue;

        KSPIN_COMMUNICATION communication;
        KSPIN_DATAFLOW dataFlow;
        hr = pPin->GetCommunication(&communication);
        if (SUCCEEDED(hr)) hr = pPin->GetDataFlow(&dataFlow);
        if (FAILED(hr)) break;

        // The driver wrote these 32-bit values; any bit pattern may arrive.
        LONG lCommunication;
        LONG lDataFlow;
        static_assert(sizeof(communication) == sizeof(LONG) && sizeof(dataFlow) == sizeof(LONG),
                      "KS enumerations are 32-bit");
        std::memcpy(&lCommunication, &communication, sizeof(LONG));
        std::memcpy(&lDataFlow, &dataFlow, sizeof(LONG));
        const bool bIn = lDataFlow == KSPIN_DATAFLOW_IN;

        TList<CKsPin>* pFirst = nullptr;
        TList<CKsPin>* pSecond = nullptr;
        switch (lCommunication) {
            case KSPIN_COMMUNICATION_NONE:
                pFirst = &m_listNoCommPins;
                break;
            case KSPIN_COMMUNICATION_SINK:
                pFirst = bIn ? &m_listRenderSinkPins : &m_listCaptureSinkPins;
                break;
            case KSPIN_COMMUNICATION_SOURCE:
                pFirst = bIn ? &m_listRenderSourcePins : &m_listCaptureSourcePins;
                break;
            case KSPIN_COMMUNICATION_BOTH:
                pFirst = bIn ? &m_listRenderSinkPins : &m_listCaptureSinkPins;
                pSecond = bIn ? &m_listRenderSourcePins : &m_listCaptureSourcePins;
                break;
            default:
                DebugTrace(kTraceInfo, "Pin communication type not recognized");
                break;
        }
        if (pFirst != nullptr && pFirst->AddTail(pPin) == nullptr) hr = E_OUTOFMEMORY;
        if (pSecond != nullptr && pSecond->AddTail(pPin) == nullptr) hr = E_OUTOFMEMORY;
        if (FAILED(hr)) break;
    }
    TraceLeave("CKsFilter::ClassifyPins", hr);
    return hr;
}

HRESULT CKsFilter::EnumerateNodes() {
    TraceEnter("CKsFilter::EnumerateNodes()");
    while (m_listNodes.m_pHead != nullptr) delete m_listNodes.RemoveHead();

    PKSMULTIPLE_ITEM pKsMultipleItem = nullptr;
    HRESULT hr = GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pKsMultipleItem);
    if (FAILED(hr)) {
        DebugTrace(kTraceTolerated, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
        operator delete(pKsMultipleItem);
        TraceLeave("CKsFilter::EnumerateNodes", hr);
        return hr;
    }
    if (pKsMultipleItem == nullptr) {
        TraceLeave("CKsFilter::EnumerateNodes", S_OK);
        return S_OK;
    }

    // Only the GUIDs the answer really holds are read.
    const ULONG nListed = pKsMultipleItem->Count;
    const ULONG nHeld = MultipleItemCount(pKsMultipleItem, sizeof(GUID));
    if (nHeld < nListed) {
        DebugTrace(kTraceError, "KSPROPERTY_TOPOLOGY_NODES lists %u nodes but holds %u",
                   static_cast<unsigned>(nListed), static_cast<unsigned>(nHeld));
    }
    const BYTE* pGuids = reinterpret_cast<const BYTE*>(pKsMultipleItem + 1);
    for (ULONG i = 0; i < nHeld; ++i) {
        GUID guidType;
        std::memcpy(&guidType, pGuids + i * sizeof(GUID), sizeof(GUID));
        HRESULT hrNode = S_OK;
        CKsNode* pNode = new (std::nothrow) CKsNode(i, &guidType, &hrNode);
        if (pNode == nullptr) continue;
        if (m_listNodes.AddTail(pNode) == nullptr) {
            hr = E_OUTOFMEMORY;
            delete pNode;
        }
    }

    if (static_cast<ULONG>(m_listNodes.m_lCount) < nListed) {
        hr = E_FAIL;
        while (m_listNodes.m_pHead != nullptr) delete m_listNodes.RemoveHead();
    }
    operator delete(pKsMultipleItem);
    TraceLeave("CKsFilter::EnumerateNodes", hr);
    return hr;
}

void CKsFilter::EmptyPinList(TList<CKsPin>& list) {
    while (list.m_pHead != nullptr) list.RemoveHead();
}

HRESULT CKsFilter::DestroyLists() {
    TraceEnter("CKsFilter::DestroyLists()");
    while (m_listNodes.m_pHead != nullptr) delete m_listNodes.RemoveHead();
    while (m_listPins.m_pHead != nullptr) {
        CKsPin* pPin = m_listPins.RemoveHead();
        if (pPin != nullptr) delete pPin;
    }
    EmptyPinList(m_listRenderSinkPins);
    EmptyPinList(m_listCaptureSourcePins);
    EmptyPinList(m_listCaptureSinkPins);
    EmptyPinList(m_listRenderSourcePins);
    EmptyPinList(m_listNoCommPins);
    TraceLeave("CKsFilter::DestroyLists", S_OK);
    return S_OK;
}
