#include "ks/irptgt.h"

#include <cstring>
#include <new>

#include "ks/multiitem.h"
#include "ks/util.h"

CKsIrpTarget::CKsIrpTarget(HANDLE handle) {
    TraceEnter("CKsIrpTarget::CKsIrpTarget()");
    m_handle = handle;
    TraceLeave("CKsIrpTarget::CKsIrpTarget()");
}

HANDLE CKsIrpTarget::GetHandle() {
    TraceEnter("CKsIrpTarget::GetHandle()");
    TraceLeave("CKsIrpTarget::GetHandle()");
    return m_handle;
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
    TraceEnter("CKsIrpTarget::IsValidHandle()");
    const BOOL bValid = (handle != nullptr && handle != INVALID_HANDLE_VALUE) ? 1 : 0;
    TraceLeave("CKsIrpTarget::IsValidHandle()");
    return bValid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
    TraceEnter("CKsIrpTarget::SafeCloseHandle()");
    BOOL bResult = TRUE;
    if (IsValidHandle(handle)) {
        bResult = CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    TraceLeave("CKsIrpTarget::SafeCloseHandle()");
    return bResult;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                                PVOID pvOutBuffer, ULONG cbOutBuffer, ULONG* pulBytesReturned) {
    TraceEnter("CKsIrpTarget::SyncIoctl()");
    if (!IsValidHandle(handle)) {
        DebugTrace(kTraceError, "CKsIrpTarget::SyncIoctl Invalid Handle");
        TraceLeave("CKsIrpTarget::SyncIoctl", E_FAIL);
        return E_FAIL;
    }

    ULONG ulLocalBytes = 0;
    if (pulBytesReturned == nullptr) pulBytesReturned = &ulLocalBytes;

    HANDLE hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (hEvent == nullptr) {
        DebugTrace(kTraceError, "CKsIrpTarget::SyncIoctl CreateEvent failed");
        TraceLeave("CKsIrpTarget::SyncIoctl", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }

    // The low bit keeps the completion away from an I/O completion port that
    // may be bound to the handle.
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(hEvent) | 1);

    HRESULT hr = S_OK;
    const BOOL bResult = DeviceIoControl(handle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer,
                                         cbOutBuffer, reinterpret_cast<DWORD*>(pulBytesReturned),
                                         &overlapped);
    if (!bResult) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_PENDING) {
            const DWORD dwWait = WaitForSingleObject(hEvent, INFINITE);
            QUARROW_ASSERT(WAIT_OBJECT_0 == dwWait);
            if (dwWait != WAIT_OBJECT_0) {
                DebugTrace(kTraceError,
                           "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
                           static_cast<unsigned>(dwWait));
                hr = E_FAIL;
            }
            *pulBytesReturned = 0;
        } else if ((dwError == ERROR_INSUFFICIENT_BUFFER || dwError == ERROR_MORE_DATA) &&
                   ulIoctl == IOCTL_KS_PROPERTY && cbOutBuffer == 0) {
            // A size query: the byte count holds the size the driver needs.
        } else {
            hr = E_FAIL;
            *pulBytesReturned = 0;
        }
    }

    SafeCloseHandle(hEvent);
    TraceLeave("CKsIrpTarget::SyncIoctl", hr);
    return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(const GUID& guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem) {
    TraceEnter("CKsIrpTarget::GetPropertyMulti()");
    KSPROPERTY ksProperty;
    std::memset(&ksProperty, 0, sizeof(ksProperty));
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = KSPROPERTY_TYPE_GET;

    const HRESULT hr = ReadMultipleItem(m_handle, &ksProperty, sizeof(ksProperty), ppKsMultipleItem);
    TraceLeave("CKsIrpTarget::GetPropertyMulti", hr);
    return hr;
}

HRESULT CKsIrpTarget::SetPropertySimple(const GUID& guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue, PVOID pvExtra, ULONG cbExtra) {
    TraceEnter("CKsIrpTarget::SetPropertySimple()");
    const ULONG cbRequest = static_cast<ULONG>(sizeof(KSPROPERTY)) + cbExtra;
    BYTE* pRequest = static_cast<BYTE*>(operator new(cbRequest, std::nothrow));
    if (pRequest == nullptr) {
        TraceLeave("CKsIrpTarget::SetPropertySimple", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    KSPROPERTY ksProperty;
    std::memset(&ksProperty, 0, sizeof(ksProperty));
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = KSPROPERTY_TYPE_SET;
    std::memcpy(pRequest, &ksProperty, sizeof(ksProperty));
    if (pvExtra != nullptr && cbExtra != 0) std::memcpy(pRequest + sizeof(KSPROPERTY), pvExtra, cbExtra);

    // For a KS property the value travels in the output buffer, for a set too.
    const HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, pRequest, cbRequest, pvValue, cbValue,
                                 nullptr);
    operator delete(pRequest);
    TraceLeave("CKsIrpTarget::SetPropertySimple", hr);
    return hr;
}
