#include "ks/pin.h"

#include <atomic>
#include <cstring>
#include <new>

#include "ks/filter.h"
#include "ks/multiitem.h"
#include "ks/util.h"

namespace {

typedef DWORD(WINAPI* KsCreatePinFunction)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// Process-wide; the module is never unloaded.
std::atomic<HMODULE> g_hKsUser{nullptr};
std::atomic<KsCreatePinFunction> g_pfnKsCreatePin{nullptr};

}  // namespace

DWORD KsUserLibrary::CreatePin(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                               PHANDLE phConnection) {
    KsCreatePinFunction pfn = g_pfnKsCreatePin.load();
    if (pfn == nullptr) {
        HMODULE hModule = g_hKsUser.load();
        if (hModule == nullptr) {
            hModule = LoadLibraryA("ksuser.dll");
            if (hModule == nullptr) return ERROR_FILE_NOT_FOUND;
            g_hKsUser.store(hModule);
        }
        // Through the generic function pointer type, which converts to any other.
        const FARPROC pProc = GetProcAddress(hModule, "KsCreatePin");
        if (pProc == nullptr) return ERROR_FILE_NOT_FOUND;
        pfn = reinterpret_cast<KsCreatePinFunction>(reinterpret_cast<void (*)(void)>(pProc));
        g_pfnKsCreatePin.store(pfn);
    }
    return pfn(hFilter, pConnect, dwDesiredAccess, phConnection);
}

CKsPin::CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE),
      m_pksPinCreate(nullptr),
      m_cbPinCreateSize(0),
      m_nId(nId),
      m_pFilter(pFilter),
      m_guidCategory(GUID{}),
      m_nPinType(0),
      m_ksState(KSSTATE_STOP),
      m_fLooped(FALSE),
      m_pLinkPin(nullptr) {
    TraceEnter("CKsPin::CKsPin()");
    std::memset(&m_Descriptor, 0, sizeof(m_Descriptor));
    m_pksDataRanges = nullptr;
    m_pksMediums = nullptr;
    m_pksInterfaces = nullptr;
    std::memset(m_szPinName, 0, sizeof(m_szPinName));

    const HRESULT hr = Init();
    TraceLeave("CKsPin::CKsPin", hr);
    *phr = hr;
}

HRESULT CKsPin::Init() {
    TraceEnter("CKsPin::Init()");
    bool bComplete = true;
    const int nPinId = static_cast<int>(m_nId);

    // A property that cannot be read leaves its field empty; the next follows.
    auto ReadSimple = [&](ULONG nProperty, PVOID pvValue, ULONG cbValue, const char* pszFailure) {
        if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, nProperty, pvValue, cbValue))) {
            DebugTrace(kTracePinProperty, pszFailure, nPinId);
            bComplete = false;
        }
    };
    // A list answer; true when it was read and a buffer came back.
    auto ReadMulti = [&](ULONG nProperty, PKSMULTIPLE_ITEM* ppItem, const char* pszFailure) {
        if (FAILED(m_pFilter->GetPinPropertyMulti(m_nId, KSPROPSETID_Pin, nProperty, ppItem))) {
            DebugTrace(kTracePinProperty, pszFailure, nPinId);
            bComplete = false;
            return false;
        }
        return *ppItem != nullptr;
    };
    // Interfaces and mediums are fixed-size items: the counts kept are those
    // the answers really hold.
    auto HeldCount = [&](const KSMULTIPLE_ITEM* pItem, const char* pszProperty) {
        const ULONG nHeld = MultipleItemCount(pItem, sizeof(KSIDENTIFIER));
        if (nHeld < pItem->Count) {
            DebugTrace(kTraceError, "%s on PinID: %d lists %u items but holds %u", pszProperty, nPinId,
                       static_cast<unsigned>(pItem->Count), static_cast<unsigned>(nHeld));
        }
        return nHeld;
    };

    ReadSimple(KSPROPERTY_PIN_COMMUNICATION, &m_Descriptor.Communication, sizeof(ULONG),
               "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d");
    if (ReadMulti(KSPROPERTY_PIN_INTERFACES, &m_pksInterfaces,
                  "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d")) {
        m_Descriptor.InterfacesCount = HeldCount(m_pksInterfaces, "KSPROPERTY_PIN_INTERFACES");
        m_Descriptor.Interfaces = reinterpret_cast<const KSPIN_INTERFACE*>(m_pksInterfaces + 1);
    }
    if (ReadMulti(KSPROPERTY_PIN_MEDIUMS, &m_pksMediums,
                  "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d")) {
        m_Descriptor.MediumsCount = HeldCount(m_pksMediums, "KSPROPERTY_PIN_MEDIUMS");
        m_Descriptor.Mediums = reinterpret_cast<const KSPIN_MEDIUM*>(m_pksMediums + 1);
    }
    // Data ranges vary in size; their walk checks every range against the
    // end of the answer.
    if (ReadMulti(KSPROPERTY_PIN_DATARANGES, &m_pksDataRanges,
                  "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d")) {
        m_Descriptor.DataRangesCount = m_pksDataRanges->Count;
        m_Descriptor.DataRanges = reinterpret_cast<const KSDATARANGE*>(m_pksDataRanges + 1);
    }
    ReadSimple(KSPROPERTY_PIN_DATAFLOW, &m_Descriptor.DataFlow, sizeof(ULONG),
               "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d");
    ReadSimple(KSPROPERTY_PIN_CINSTANCES, &m_Descriptor.CInstances, sizeof(KSPIN_CINSTANCES),
               "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d");
    ReadSimple(KSPROPERTY_PIN_GLOBALCINSTANCES, &m_Descriptor.CInstancesGlobal, sizeof(KSPIN_CINSTANCES),
               "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d");
    ReadSimple(KSPROPERTY_PIN_CATEGORY, &m_guidCategory, sizeof(GUID),
               "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d");
    // 259 bytes: the last byte of the name always stays a terminator.
    ReadSimple(KSPROPERTY_PIN_NAME, m_szPinName, sizeof(m_szPinName) - 1,
               "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d");

    const HRESULT hr = bComplete ? S_OK : S_FALSE;
    TraceLeave("CKsPin::Init", hr);
    return hr;
}

HRESULT CKsPin::GetDataFlow(KSPIN_DATAFLOW* pDataFlow) {
    TraceEnter("CKsPin::GetDataFlow()");
    QUARROW_ASSERT(NULL != pDataFlow);
    if (pDataFlow != nullptr) *pDataFlow = m_Descriptor.DataFlow;
    TraceLeave("CKsPin::GetDataFlow", S_OK);
    return S_OK;
}

HRESULT CKsPin::GetCommunication(KSPIN_COMMUNICATION* pCommunication) {
    TraceEnter("CKsPin::GetCommunication()");
    QUARROW_ASSERT(NULL != pCommunication);
    if (pCommunication != nullptr) *pCommunication = m_Descriptor.Communication;
    TraceLeave("CKsPin::GetCommunication", S_OK);
    return S_OK;
}

HRESULT CKsPin::Instantiate(BOOL fLooped) {
    TraceEnter("CKsPin::Instantiate()");
    if (m_pksPinCreate == nullptr) return S_OK;

    if (m_pLinkPin != nullptr) {
        QUARROW_ASSERT(KSPIN_COMMUNICATION_SINK == m_pLinkPin->m_Descriptor.Communication ||
                       KSPIN_COMMUNICATION_BOTH == m_pLinkPin->m_Descriptor.Communication);
        m_pksPinCreate->PinToHandle = m_pLinkPin->m_handle;
    }
    m_fLooped = fLooped;
    m_pksPinCreate->Interface.Id = fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;

    const DWORD dwResult = KsUserLibrary::CreatePin(m_pFilter->m_handle, m_pksPinCreate,
                                                    GENERIC_READ | GENERIC_WRITE, &m_handle);
    HRESULT hr = S_OK;
    if (dwResult != 0) {
        // A Win32 code becomes its HRESULT; a negative value already is one.
        hr = static_cast<LONG>(dwResult) < 0
                 ? static_cast<HRESULT>(dwResult)
                 : static_cast<HRESULT>(0x80070000u | (dwResult & 0xFFFFu));
        DebugTrace(kTraceError, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
    }
    TraceLeave("CKsPin::Instantiate", hr);
    return hr;
}

HRESULT CKsPin::SetState(KSSTATE ksState) {
    TraceEnter("CKsPin::SetState()");
    const HRESULT hr =
        SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &ksState, sizeof(ksState));
    if (SUCCEEDED(hr)) {
        m_ksState = ksState;
    } else {
        DebugTrace(kTraceError, "Failed to Set Pin State");
    }
    TraceLeave("CKsPin::SetState", hr);
    return hr;
}

HRESULT CKsPin::WriteData(KSSTREAM_HEADER* pKSStreamHeader, OVERLAPPED* pOverlapped) {
    TraceEnter("CKsPin::WriteData()");
    DWORD dwReturned = 0;
    HRESULT hr = S_OK;
    if (!DeviceIoControl(m_handle, IOCTL_KS_WRITE_STREAM, nullptr, 0, pKSStreamHeader, pKSStreamHeader->Size,
                         &dwReturned, pOverlapped)) {
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_IO_PENDING) {
            DebugTrace(kTraceError, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x",
                       static_cast<unsigned>(dwError));
            hr = E_FAIL;
        }
    }
    TraceLeave("CKsPin::WriteData", hr);
    return hr;
}

void CKsPin::ClosePin() {
    TraceEnter("CKsPin::ClosePin()");
    if (IsValidHandle(m_handle)) {
        SetState(KSSTATE_STOP);
        SafeCloseHandle(m_handle);
    }
    TraceLeave("CKsPin::ClosePin()");
}

CKsPin::~CKsPin() {
    TraceEnter("CKsPin::~CKsPin()");
    ClosePin();
    operator delete(m_pksPinCreate);
    operator delete(m_pksDataRanges);
    operator delete(m_pksInterfaces);
    operator delete(m_pksMediums);
    TraceLeave("CKsPin::~CKsPin()");
}
