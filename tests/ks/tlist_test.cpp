// TList: links stay consistent in both directions through every insertion and
// removal, and a failed item allocation changes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "ks/tlist.h"
#include "support/alloc_hook.h"

namespace {

// Walks the list both ways and checks every invariant; returns the objects
// from the head.
std::vector<int*> CheckedContents(const TList<int>& list) {
    std::vector<int*> forward;
    const TListItem<int>* previous = nullptr;
    for (const TListItem<int>* item = list.m_pHead; item != nullptr; item = item->pNext) {
        EXPECT_EQ(item->pPrev, previous);
        forward.push_back(item->pData);
        previous = item;
    }
    EXPECT_EQ(list.m_pTail, previous);
    std::vector<int*> backward;
    for (const TListItem<int>* item = list.m_pTail; item != nullptr; item = item->pPrev) {
        backward.insert(backward.begin(), item->pData);
    }
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(static_cast<size_t>(list.m_lCount), forward.size());
    return forward;
}

void Empty(TList<int>& list) {
    while (list.m_pHead != nullptr) list.RemoveHead();
}

TEST(TListTest, AddingAndRemovingKeepsLinksConsistent) {
    int a = 1, b = 2, c = 3, d = 4;
    TList<int> list;
    EXPECT_TRUE(CheckedContents(list).empty());

    TListItem<int>* ia = list.AddTail(&a);
    ASSERT_NE(ia, nullptr);
    EXPECT_EQ(list.m_pHead, ia);
    EXPECT_EQ(list.m_pTail, ia);
    EXPECT_EQ(ia->pNext, nullptr);
    EXPECT_EQ(ia->pPrev, nullptr);

    TListItem<int>* ib = list.AddTail(&b);
    TListItem<int>* ic = list.AddTail(&c);
    TListItem<int>* id = list.AddTail(&d);
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&a, &b, &c, &d}));

    list.Remove(ib);  // middle
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&a, &c, &d}));
    list.Remove(id);  // tail
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&a, &c}));
    list.Remove(ia);  // head
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&c}));
    list.Remove(ic);  // the only item
    EXPECT_TRUE(CheckedContents(list).empty());
    EXPECT_EQ(list.m_pHead, nullptr);
    EXPECT_EQ(list.m_pTail, nullptr);

    list.AddTail(&a);
    list.AddTail(&b);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&b}));
    EXPECT_EQ(list.RemoveHead(), &b);
    EXPECT_TRUE(CheckedContents(list).empty());
}

TEST(TListTest, FindComparesPointersAndAnswersTheItemNearestTheHead) {
    int a = 7, b = 7, c = 0;
    TList<int> list;
    TListItem<int>* first = list.AddTail(&a);
    list.AddTail(&b);
    TListItem<int>* second = list.AddTail(&a);
    EXPECT_EQ(list.Find(&a), first);
    EXPECT_NE(list.Find(&a), second);
    EXPECT_EQ(list.Find(&c), nullptr);  // equal value, other object
    EXPECT_EQ(TList<int>().Find(&a), nullptr);
    Empty(list);
}

TEST(TListTest, NullObjectsAreListedAndHandedBack) {
    int a = 1;
    TList<int> list;
    ASSERT_NE(list.AddTail(nullptr), nullptr);
    list.AddTail(&a);
    EXPECT_EQ(list.Find(nullptr), list.m_pHead);
    EXPECT_EQ(list.RemoveHead(), nullptr);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(list.m_lCount, 0);
}

TEST(TListTest, FailedItemAllocationLeavesTheListAsItWas) {
    int a = 1, b = 2;
    TList<int> list;
    list.AddTail(&a);
    TListItem<int>* head = list.m_pHead;

    test::FailNothrowAllocationsAfter(0);
    EXPECT_EQ(list.AddTail(&b), nullptr);
    test::DisarmAllocationFailure();

    EXPECT_EQ(list.m_pHead, head);
    EXPECT_EQ(list.m_pTail, head);
    EXPECT_EQ(head->pNext, nullptr);
    EXPECT_EQ(CheckedContents(list), (std::vector<int*>{&a}));
    Empty(list);
}

}  // namespace
