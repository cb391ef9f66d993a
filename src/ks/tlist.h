// TList: the KS layer's doubly linked list of object pointers.
//
// The list never owns the objects it points to: each owner empties its lists
// itself and decides, list by list, whether the objects are deleted or only
// unlinked. Each insertion allocates one item record; an item pointer doubles
// as a position (AddTail and Find return one, Remove takes one). Not safe for
// concurrent use.
#pragma once

#include <cstdint>
#include <new>

#include "platform/platform.h"

template <class T>
struct TListItem {
    TListItem* pNext;  // towards the tail; null on the last item
    TListItem* pPrev;  // towards the head; null on the first item
    T* pData;          // the listed object, not owned; may be null
};

template <class T>
class TList {
public:
    TList() : m_pHead(nullptr), m_pTail(nullptr), m_lCount(0) {}

    // The list must have been emptied by its owner.
    ~TList() {
        QUARROW_ASSERT(NULL == m_pHead);
        QUARROW_ASSERT(NULL == m_pTail);
        QUARROW_ASSERT(0 == m_lCount);
    }

    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;

    // The new item, or null (and the list unchanged) when no item record can
    // be allocated.
    TListItem<T>* AddTail(T* pData) {
        TListItem<T>* pItem = new (std::nothrow) TListItem<T>;
        if (pItem == nullptr) return nullptr;
        pItem->pNext = nullptr;
        pItem->pData = pData;
        pItem->pPrev = m_pTail;
        if (m_pTail != nullptr) {
            m_pTail->pNext = pItem;
        } else {
            m_pHead = pItem;
        }
        m_pTail = pItem;
        ++m_lCount;
        return pItem;
    }

    // The first object, its item freed. Callers check m_lCount first; on an
    // empty list this answers null and changes nothing.
    T* RemoveHead() {
        TListItem<T>* pItem = m_pHead;
        if (pItem == nullptr) return nullptr;
        T* pData = pItem->pData;
        m_pHead = pItem->pNext;
        if (m_pHead != nullptr) {
            m_pHead->pPrev = nullptr;
        } else {
            m_pTail = nullptr;
        }
        delete pItem;
        --m_lCount;
        QUARROW_ASSERT(m_lCount >= 0);
        return pData;
    }

    // Unlinks and frees an item of this list; the object is untouched.
    void Remove(TListItem<T>* pOldItem) {
        if (pOldItem == m_pHead) {
            m_pHead = pOldItem->pNext;
        } else {
            QUARROW_ASSERT(pOldItem->pPrev);
            pOldItem->pPrev->pNext = pOldItem->pNext;
        }
        if (pOldItem == m_pTail) {
            m_pTail = pOldItem->pPrev;
        } else {
            QUARROW_ASSERT(pOldItem->pNext);
            pOldItem->pNext->pPrev = pOldItem->pPrev;
        }
        delete pOldItem;
        --m_lCount;
        QUARROW_ASSERT(m_lCount >= 0);
    }

    // The first item from the head whose object is `pData`, or null.
    TListItem<T>* Find(const T* pData) const {
        for (TListItem<T>* pItem = m_pHead; pItem != nullptr; pItem = pItem->pNext) {
            if (pItem->pData == pData) return pItem;
        }
        return nullptr;
    }

    // Read directly by the owners to walk the list and to count it.
    TListItem<T>* m_pHead;
    TListItem<T>* m_pTail;
    int32_t m_lCount;
};
