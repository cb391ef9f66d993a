#include "ks/multiitem.h"

#include <cstring>
#include <new>

#include "ks/irptgt.h"
#include "ks/util.h"

HRESULT ReadMultipleItem(HANDLE handle, PVOID pvRequest, ULONG cbRequest,
                         PKSMULTIPLE_ITEM* ppKsMultipleItem) {
    ULONG cbNeeded = 0;
    HRESULT hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, nullptr, 0,
                                         &cbNeeded);
    if (FAILED(hr) || cbNeeded == 0) return hr;
    if (cbNeeded > kMaxMultipleItemSize) {
        DebugTrace(kTraceError, "Property answer of %u bytes is too large", static_cast<unsigned>(cbNeeded));
        return E_FAIL;
    }

    // At least a whole header, and nothing left over from the heap: a driver
    // that writes less than it announced leaves zeros, not stale bytes.
    const ULONG cbBuffer = cbNeeded < sizeof(KSMULTIPLE_ITEM) ? ULONG(sizeof(KSMULTIPLE_ITEM)) : cbNeeded;
    *ppKsMultipleItem = static_cast<PKSMULTIPLE_ITEM>(operator new(cbBuffer, std::nothrow));
    if (*ppKsMultipleItem == nullptr) return E_OUTOFMEMORY;
    std::memset(*ppKsMultipleItem, 0, cbBuffer);

    hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, *ppKsMultipleItem,
                                 cbNeeded, nullptr);
    // The header's Size is the driver's claim; no walk may go past the buffer.
    if ((*ppKsMultipleItem)->Size > cbBuffer) (*ppKsMultipleItem)->Size = cbBuffer;
    return hr;
}

ULONG MultipleItemCount(const KSMULTIPLE_ITEM* pItem, ULONG cbItem) {
    if (pItem->Size < sizeof(KSMULTIPLE_ITEM) || cbItem == 0) return 0;
    const ULONG nHeld = (pItem->Size - ULONG(sizeof(KSMULTIPLE_ITEM))) / cbItem;
    return pItem->Count < nHeld ? pItem->Count : nHeld;
}
