// Reading KSMULTIPLE_ITEM answers, which come from drivers and are untrusted:
// the helpers below never let a walk leave the buffer the answer was read into.
#pragma once

#include "platform/platform.h"

// The largest list answer read. Real answers take a few kilobytes; a driver
// that announces more is not believed (E_FAIL), rather than zero-filling
// gigabytes for it.
constexpr ULONG kMaxMultipleItemSize = 1u << 20;

// Fetches a variable-size property answer: a size query, then the read into a
// buffer of at least a KSMULTIPLE_ITEM header, zero-filled first, whose header
// Size is then bounded by the buffer. The buffer is the caller's in every case.
HRESULT ReadMultipleItem(HANDLE handle, PVOID pvRequest, ULONG cbRequest,
                         PKSMULTIPLE_ITEM* ppKsMultipleItem);

// One past the last byte of the answer that may be read.
inline const BYTE* MultipleItemEnd(const KSMULTIPLE_ITEM* pItem) {
    return reinterpret_cast<const BYTE*>(pItem) + pItem->Size;
}

// The number of fixed-size items that both the header's Count claims and its
// Size holds.
ULONG MultipleItemCount(const KSMULTIPLE_ITEM* pItem, ULONG cbItem);
