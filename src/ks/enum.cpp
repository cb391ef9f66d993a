#include "ks/enum.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "frame/tracelog.h"
#include "ks/audfilter.h"
#include "ks/util.h"

namespace {

// The detail record's fixed part as 32-bit Windows counts it (a DWORD and one
// character), and room for a device path of up to 520 characters.
constexpr DWORD kDetailFixedSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(CHAR);
constexpr DWORD kDetailBufferSize = 525;
static_assert(kDetailFixedSize == 5, "SP_DEVICE_INTERFACE_DETAIL_DATA_A fixed part");

// A "FriendlyName" value larger than this is not read at all: the device is
// listed without a name.
constexpr DWORD kMaxFriendlyNameValue = 1u << 16;

// Reads the device's "FriendlyName" into `pszName` (MAX_PATH bytes). The
// value may be of any type and length and need not be terminated: the name
// kept is its text up to the first NUL, at most 259 characters, terminated.
// A device without a readable value keeps the empty name.
void ReadFriendlyName(HDEVINFO hDevInfo, SP_DEVICE_INTERFACE_DATA* pInterfaceData, CHAR* pszName) {
    std::memset(pszName, 0, MAX_PATH);
    HKEY hKey = SetupDiOpenDeviceInterfaceRegKey(hDevInfo, pInterfaceData, 0, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (hKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return;

    DWORD dwType = 0;
    DWORD cbData = MAX_PATH;
    LONG lResult = RegQueryValueExA(hKey, "FriendlyName", nullptr, &dwType, reinterpret_cast<LPBYTE>(pszName),
                                    &cbData);
    if (lResult == ERROR_MORE_DATA) {
        // Longer than the buffer: on this error the buffer's contents are
        // undefined, so the whole value is read and its start kept.
        std::memset(pszName, 0, MAX_PATH);
        BYTE* pValue = cbData > MAX_PATH && cbData <= kMaxFriendlyNameValue
                           ? static_cast<BYTE*>(operator new(cbData, std::nothrow))
                           : nullptr;
        DWORD cbValue = cbData;
        if (pValue != nullptr &&
            RegQueryValueExA(hKey, "FriendlyName", nullptr, &dwType, pValue, &cbValue) == ERROR_SUCCESS) {
            std::memcpy(pszName, pValue, cbValue < MAX_PATH - 1 ? cbValue : MAX_PATH - 1);
        }
        operator delete(pValue);
    } else if (lResult != ERROR_SUCCESS) {
        std::memset(pszName, 0, MAX_PATH);
    }
    pszName[MAX_PATH - 1] = '\0';
    RegCloseKey(hKey);
}

CKsFilter* NewFilter(int32_t nFilterType, LPCSTR pszPath, HRESULT* phr, LPCSTR pszName) {
    switch (nFilterType) {
        case 1:
            return new (std::nothrow) CKsAudRenFilter(pszPath, phr, pszName);
        case 2:
            return new (std::nothrow) CKsAudCapFilter(pszPath, phr, pszName);
        default:
            return new (std::nothrow) CKsFilter(pszPath, phr, pszName);
    }
}

}  // namespace

CKsEnumFilters::CKsEnumFilters(HRESULT* phr) {
    TraceEnter("CKsEnumFilters::CKsEnumFilters()");
    *phr = S_OK;
    TraceLeave("CKsEnumFilters::CKsEnumFilters", S_OK);
}

CKsEnumFilters::~CKsEnumFilters() {
    TraceEnter("CKsEnumFilters::~CKsEnumFilters()");
    const HRESULT hr = CKsEnumFilters::DestroyLists();
    QUARROW_ASSERT(SUCCEEDED(hr));
    TraceLeave("CKsEnumFilters::~CKsEnumFilters", hr);
}

HRESULT CKsEnumFilters::DestroyLists() {
    TraceEnter("CKsEnumFilters::DestroyLists()");
    while (m_listEnumeratedFilters.m_pHead != nullptr) {
        CKsFilter* pFilter = m_listEnumeratedFilters.RemoveHead();
        if (pFilter != nullptr) delete pFilter;
    }
    TraceLeave("CKsEnumFilters::DestroyLists", S_OK);
    return S_OK;
}

HRESULT CKsEnumFilters::EnumFilters(int32_t nFilterType, const GUID* aguidCategories, ULONG cguidCategories,
                                    BOOL fEnumPins, BOOL fEnumNodes, BOOL fInstantiate) {
    TraceEnter("CKsEnumFilters::EnumFilters()");
    CHAR szFriendlyName[MAX_PATH];
    std::memset(szFriendlyName, 0, sizeof(szFriendlyName));

    HRESULT hr = DestroyLists();
    HDEVINFO hDevInfo = nullptr;

    if (aguidCategories != nullptr && cguidCategories != 0 && !IsNullGuid(aguidCategories[0])) {
        hDevInfo = SetupDiGetClassDevsA(&aguidCategories[0], nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (!CKsIrpTarget::IsValidHandle(hDevInfo)) {
            hr = E_FAIL;
            DebugTrace(kTraceTolerated, "No devices found");
        } else {
            for (DWORD dwMemberIndex = 0;; ++dwMemberIndex) {
                SP_DEVICE_INTERFACE_DATA interfaceData;
                SP_DEVICE_INTERFACE_DATA aliasData;
                SP_DEVINFO_DATA devInfoData;
                interfaceData.cbSize = sizeof(interfaceData);
                interfaceData.Reserved = 0;
                aliasData.cbSize = sizeof(aliasData);
                aliasData.Reserved = 0;
                devInfoData.cbSize = sizeof(devInfoData);
                devInfoData.Reserved = 0;
                if (!SetupDiEnumDeviceInterfaces(hDevInfo, nullptr, &aguidCategories[0], dwMemberIndex,
                                                 &interfaceData)) {
                    break;
                }

                // Zeroed, so a path the call did not terminate still is.
                PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(
                    operator new(kDetailBufferSize + 1, std::nothrow));
                if (pDetail == nullptr) {
                    hr = E_OUTOFMEMORY;
                    DebugTrace(kTraceTolerated, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
                    break;
                }
                std::memset(pDetail, 0, kDetailBufferSize + 1);
                pDetail->cbSize = kDetailFixedSize;
                if (!SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, pDetail, kDetailBufferSize, nullptr,
                                                      &devInfoData)) {
                    operator delete(pDetail);
                    continue;
                }

                ReadFriendlyName(hDevInfo, &interfaceData, szFriendlyName);

                bool bAliasesEnabled = true;
                for (ULONG i = 1; i < cguidCategories && bAliasesEnabled; ++i) {
                    if (!SetupDiGetDeviceInterfaceAlias(hDevInfo, &interfaceData, &aguidCategories[i], &aliasData)) {
                        DebugTrace(kTraceInfo, "Failed to get requested DeviceInterfaceAlias");
                        bAliasesEnabled = false;
                    } else if (aliasData.Flags == 0 || (aliasData.Flags & SPINT_REMOVED) != 0) {
                        DebugTrace(kTraceInfo, "DeviceInterfaceAlias disabled.");
                        bAliasesEnabled = false;
                    }
                }
                if (!bAliasesEnabled) {
                    operator delete(pDetail);
                    continue;
                }

                HRESULT hrFilter = S_OK;
                CKsFilter* pFilter = NewFilter(nFilterType, pDetail->DevicePath, &hrFilter, szFriendlyName);
                if (pFilter == nullptr) hrFilter = E_OUTOFMEMORY;

                if (SUCCEEDED(hrFilter) && (fInstantiate || fEnumNodes || fEnumPins)) {
                    hrFilter = pFilter->Instantiate();
                    if (fEnumNodes && SUCCEEDED(hrFilter)) hrFilter = pFilter->EnumerateNodes();
                    if (fEnumPins && SUCCEEDED(hrFilter)) hrFilter = pFilter->EnumeratePins();
                }
                if (SUCCEEDED(hrFilter)) {
                    if (m_listEnumeratedFilters.AddTail(pFilter) == nullptr) hrFilter = E_OUTOFMEMORY;
                    TraceLog::Write(1, "Enumerated Filter:\n  Friendly Name:\n  %s\n  Filter Type = %d\n\n",
                                    szFriendlyName, nFilterType);
                }
                if (FAILED(hrFilter)) {
                    delete pFilter;
                    DebugTrace(kTraceError, "Failed to create filter for %s", pDetail->DevicePath);
                }
                operator delete(pDetail);
            }
        }
    }

    if (CKsIrpTarget::IsValidHandle(hDevInfo)) SetupDiDestroyDeviceInfoList(hDevInfo);
    if (SUCCEEDED(hr) && m_listEnumeratedFilters.m_lCount == 0) hr = E_FAIL;
    TraceLeave("CKsEnumFilters::EnumFilters", hr);
    return hr;
}
