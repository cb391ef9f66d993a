// CKsPin: one pin of a KS filter, first as a description read from the pin
// properties and, once instantiated, as an open pin handle to stream through.
// Derived classes prepare the connect block (KSPIN_CONNECT and data format)
// that Instantiate hands to KsCreatePin.
#pragma once

#include <cstdint>

#include "ks/irptgt.h"
#include "platform/platform.h"

class CKsFilter;

// What the pin properties told. Fields that a failed query did not fill stay
// 0 or null.
struct KsPinDescriptor {
    ULONG InterfacesCount;
    const KSPIN_INTERFACE* Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    ULONG DataRangesCount;
    const KSDATARANGE* DataRanges;  // ranges follow each other, each FormatSize bytes long
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    KSPIN_CINSTANCES CInstances;
    KSPIN_CINSTANCES CInstancesGlobal;
};

class CKsPin : public CKsIrpTarget {
public:
    CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
    virtual ~CKsPin();
    CKsPin(const CKsPin&) = delete;
    CKsPin& operator=(const CKsPin&) = delete;

    virtual HRESULT Instantiate(BOOL fLooped);
    virtual HRESULT SetState(KSSTATE ksState);

    // S_OK when every property was read, S_FALSE when some could not be.
    HRESULT Init();
    HRESULT GetDataFlow(KSPIN_DATAFLOW* pDataFlow);
    HRESULT GetCommunication(KSPIN_COMMUNICATION* pCommunication);
    // Hands one stream header to the driver without waiting: S_OK when the
    // write completed or is pending. Completion signals the caller's OVERLAPPED
    // event; header, data and record stay untouched until then.
    HRESULT WriteData(KSSTREAM_HEADER* pKSStreamHeader, OVERLAPPED* pOverlapped);
    // Stops the pin and closes its handle, if it is open.
    void ClosePin();

    PKSPIN_CONNECT m_pksPinCreate;     // connect block + data format; set up by a derived class
    ULONG m_cbPinCreateSize;           // bytes of m_pksPinCreate
    ULONG m_nId;                       // pin id on the filter
    CKsFilter* m_pFilter;              // not owned
    GUID m_guidCategory;               // KSPROPERTY_PIN_CATEGORY
    KsPinDescriptor m_Descriptor;
    PKSMULTIPLE_ITEM m_pksDataRanges;  // owned answers of the three list properties
    PKSMULTIPLE_ITEM m_pksMediums;
    PKSMULTIPLE_ITEM m_pksInterfaces;
    int32_t m_nPinType;                // 0 plain, 1 audio render, 2 audio capture
    KSSTATE m_ksState;                 // the state last set successfully
    BYTE m_szPinName[MAX_PATH];        // raw KSPROPERTY_PIN_NAME (UTF-16 from the driver)
    BOOL m_fLooped;                    // looped-streaming flag of the last Instantiate
    CKsPin* m_pLinkPin;                // optional pin of another filter to connect to; not owned
};

// ksuser.dll and its KsCreatePin, loaded at the first pin creation and kept
// for the life of the process.
class KsUserLibrary {
public:
    // KsCreatePin's Win32 result, or ERROR_FILE_NOT_FOUND when ksuser.dll or
    // its KsCreatePin cannot be had (the next call tries again).
    static DWORD CreatePin(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                           PHANDLE phConnection);
};
