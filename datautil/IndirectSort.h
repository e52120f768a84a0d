#pragma once

#include "host/data/DataHeaders.h"
#include "host/framework/CriticalSection.h"

// Sorts a double array indirectly: computes and keeps the permutation that
// orders it ascending, and applies that permutation to the array itself or to
// companion arrays of doubles or ints, or undoes it. The object is a lock and
// holds it while it sorts or permutes.
//
// Keys are ordered by value with every NaN after every number (NaNs compare
// equal among themselves); equal keys keep no defined relative order. The key
// array travels with the comparison, so sorts by different objects may run on
// different threads at the same time.
class CDblHdrIndirectSort : public CCriticalSection {
public:
    CDblHdrIndirectSort();
    explicit CDblHdrIndirectSort(CDblHdr& a);
    ~CDblHdrIndirectSort() override;

    CDblHdrIndirectSort(const CDblHdrIndirectSort&) = delete;
    CDblHdrIndirectSort& operator=(const CDblHdrIndirectSort&) = delete;

    // Computes the permutation for a; a itself is not changed. An empty a
    // leaves the previous permutation in place but sets the count to 0, so
    // that later permutations change nothing.
    void SortIndecies(CDblHdr& a);
    // Sorts a ascending in place.
    void Sort(CDblHdr& a);

    // a[i] := old a[order[i]] for i below the sorted count. An array shorter
    // than the sorted count is left unchanged.
    void ApplySortTo(CDblHdr& a);
    void ApplySortTo(CIntHdr& a);
    // a[order[i]] := old a[i]: the inverse permutation; same length rule.
    void UndoSortOf(CDblHdr& a);
    void UndoSortOf(CIntHdr& a);

    void GetOrder(CIntHdr& out);
    int GetCount() const { return m_nCount; }
    // order[i]: the position before sorting of the element that comes i-th.
    int& operator[](int i);

private:
    // -1, 0 or 1 as key[ia] sorts before, with or after key[ib].
    static int Compare(const double* key, int ia, int ib);
    template <class THdr> void Apply(THdr& a);
    template <class THdr> void Undo(THdr& a);

    int m_nCount;
    CIntHdr m_Order;
    int* m_pOrder;
};
