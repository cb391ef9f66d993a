// CKsFilter: one KS filter, that is one device interface of a KS driver. It
// keeps the device path and the friendly name, opens the filter, reads pin
// properties for its pins, creates one pin object per pin id and sorts the
// pins by data flow and communication; it can list the topology nodes.
// CKsNode is the plain record of one topology node.
#pragma once

#include <cstdint>

#include "ks/irptgt.h"
#include "ks/tlist.h"
#include "platform/platform.h"

class CKsPin;

// The pin count a driver reported, bounded by CKsFilter::kMaxPinTypes.
ULONG BoundedPinCount(ULONG cPins);

class CKsNode {
public:
    CKsNode(ULONG nId, const GUID* pguidType, HRESULT* phr);

    ULONG m_nId;      // index in the filter's node list property
    GUID m_guidType;  // node type as the filter reports it
};

class CKsFilter : public CKsIrpTarget {
public:
    // Pin ids read at most: a driver that claims more pin types than any
    // device has would otherwise keep the enumeration busy for hours.
    static constexpr ULONG kMaxPinTypes = 256;

    // `pszName` is the device interface path; the object exists even when the
    // result is a failure, and its creator deletes it then.
    CKsFilter(LPCSTR pszName, HRESULT* phr, LPCSTR pszFriendlyName);
    virtual ~CKsFilter();
    CKsFilter(const CKsFilter&) = delete;
    CKsFilter& operator=(const CKsFilter&) = delete;

    virtual HRESULT Instantiate();
    virtual HRESULT EnumerateNodes();
    virtual HRESULT EnumeratePins();
    virtual HRESULT DestroyLists();

    HRESULT GetPinPropertySimple(ULONG nPinId, const GUID& guidPropertySet, ULONG nProperty,
                                 PVOID pvValue, ULONG cbValue);
    // The buffer handed back through `ppKsMultipleItem` is the caller's in
    // every case.
    HRESULT GetPinPropertyMulti(ULONG nPinId, const GUID& guidPropertySet, ULONG nProperty,
                                PKSMULTIPLE_ITEM* ppKsMultipleItem);
    HRESULT ClassifyPins();

    CHAR m_szFriendlyName[MAX_PATH];         // for display
    TList<CKsNode> m_listNodes;              // owns its nodes
    TList<CKsPin> m_listPins;                // owns every pin
    TList<CKsPin> m_listRenderSinkPins;      // data flow in; sink or both
    TList<CKsPin> m_listCaptureSourcePins;   // other data flow; source or both
    TList<CKsPin> m_listCaptureSinkPins;     // other data flow; sink or both
    TList<CKsPin> m_listRenderSourcePins;    // data flow in; source or both
    TList<CKsPin> m_listNoCommPins;          // communication none
    int32_t m_nFilterType;                   // 0 plain, 1 audio render, 2 audio capture
    CHAR m_szFilterName[MAX_PATH];           // device interface path: the device's key

private:
    HRESULT InternalInit();
    // Unlinks every pin of a list that only refers to pins.
    static void EmptyPinList(TList<CKsPin>& list);
};
