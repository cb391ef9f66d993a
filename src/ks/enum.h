// CKsEnumFilters: finds the KS filters of the machine through SetupAPI and
// keeps one open filter object per usable device, in SetupAPI order. The
// devices are those with an interface in the first category that also have
// an enabled alias in every other category.
#pragma once

#include <cstdint>

#include "ks/filter.h"
#include "ks/tlist.h"
#include "platform/platform.h"

class CKsEnumFilters {
public:
    explicit CKsEnumFilters(HRESULT* phr);
    virtual ~CKsEnumFilters();
    CKsEnumFilters(const CKsEnumFilters&) = delete;
    CKsEnumFilters& operator=(const CKsEnumFilters&) = delete;

    virtual HRESULT DestroyLists();

    // Filter type: 1 CKsAudRenFilter, 2 CKsAudCapFilter, anything else
    // CKsFilter. S_OK when at least one filter was listed.
    HRESULT EnumFilters(int32_t nFilterType, const GUID* aguidCategories, ULONG cguidCategories,
                        BOOL fEnumPins, BOOL fEnumNodes, BOOL fInstantiate);

    TList<CKsFilter> m_listEnumeratedFilters;  // owned
};
