// CKsIrpTarget: the base of every KS object that owns a kernel handle (filters
// and pins). It keeps the handle, closes it safely and offers the one
// synchronous path to the driver: SyncIoctl on a handle opened for overlapped
// I/O, with the property helpers on top. Stream writes do not come through
// here; the pin issues them itself so they can stay pending.
#pragma once

#include "platform/platform.h"

class CKsIrpTarget {
public:
    explicit CKsIrpTarget(HANDLE handle);

    HANDLE GetHandle();

    // 1 unless the handle is null or INVALID_HANDLE_VALUE.
    static BOOL IsValidHandle(HANDLE handle);
    // Closes a valid handle and leaves INVALID_HANDLE_VALUE in the variable;
    // TRUE when there was nothing to close, else CloseHandle's result.
    static BOOL SafeCloseHandle(HANDLE& handle);
    // Sends one device I/O control request and waits for it. A property size
    // query (IOCTL_KS_PROPERTY with no output) succeeds with the size the
    // driver needs in *pdwBytesReturned.
    static HRESULT SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                             PVOID pvOutBuffer, ULONG cbOutBuffer, ULONG* pulBytesReturned);

    // Reads a variable-size property into a buffer it allocates; the buffer
    // handed back through `ppKsMultipleItem` is the caller's in every case.
    HRESULT GetPropertyMulti(const GUID& guidPropertySet, ULONG nProperty,
                             PKSMULTIPLE_ITEM* ppKsMultipleItem);
    // Writes a property value, with optional extra request data behind the
    // KSPROPERTY.
    HRESULT SetPropertySimple(const GUID& guidPropertySet, ULONG nProperty, PVOID pvValue,
                              ULONG cbValue, PVOID pvExtra = nullptr, ULONG cbExtra = 0);

    HANDLE m_handle;
};
