#include "datautil/IndirectSort.h"

#include <algorithm>
#include <cmath>

CDblHdrIndirectSort::CDblHdrIndirectSort() : m_nCount(0), m_pOrder(nullptr) {}

CDblHdrIndirectSort::CDblHdrIndirectSort(CDblHdr& a) : m_nCount(0), m_pOrder(nullptr) {
    Sort(a);
}

CDblHdrIndirectSort::~CDblHdrIndirectSort() = default;

int CDblHdrIndirectSort::Compare(const double* key, int ia, int ib) {
    const double a = key[ia];
    const double b = key[ib];
    const bool aNaN = std::isnan(a);
    const bool bNaN = std::isnan(b);
    if (aNaN || bNaN)
        return aNaN == bNaN ? 0 : (aNaN ? 1 : -1);
    if (b > a)
        return -1;
    if (b < a)
        return 1;
    return 0;
}

void CDblHdrIndirectSort::SortIndecies(CDblHdr& a) {
    // The count and the order change under the lock, so that another thread
    // permuting through this object sees them consistent.
    Lock();
    m_nCount = a.GetSize();
    if (m_nCount == 0) {
        Unlock();
        return;
    }
    const double* key = a.GetData();
    m_Order.SetSize(m_nCount, -1);
    m_pOrder = m_Order.GetData();
    for (int i = 0; i < m_nCount; i++)
        m_pOrder[i] = i;
    std::sort(m_pOrder, m_pOrder + m_nCount, [key](int ia, int ib) { return Compare(key, ia, ib) < 0; });
    Unlock();
}

void CDblHdrIndirectSort::Sort(CDblHdr& a) {
    SortIndecies(a);
    ApplySortTo(a);
}

namespace {

// Reorders the first count entries of a by order: forward puts old[order[i]] at i,
// backward puts old[i] back at order[i]. Nothing happens for an empty order or an
// array shorter than it.
template <class THdr> void Permute(THdr& a, const int* order, int count, bool backward) {
    if (count == 0 || a.GetSize() < count)
        return;
    THdr old;
    old = a;
    if (backward) {
        for (int i = 0; i < count; i++)
            a[order[i]] = old[i];
    } else {
        for (int i = 0; i < count; i++)
            a[i] = old[order[i]];
    }
}

} // namespace

template <class THdr> void CDblHdrIndirectSort::Apply(THdr& a) {
    Lock();
    Permute(a, m_pOrder, m_nCount, false);
    Unlock();
}

template <class THdr> void CDblHdrIndirectSort::Undo(THdr& a) {
    Lock();
    Permute(a, m_pOrder, m_nCount, true);
    Unlock();
}

void CDblHdrIndirectSort::ApplySortTo(CDblHdr& a) {
    Apply(a);
}

void CDblHdrIndirectSort::ApplySortTo(CIntHdr& a) {
    Apply(a);
}

void CDblHdrIndirectSort::UndoSortOf(CDblHdr& a) {
    Undo(a);
}

void CDblHdrIndirectSort::UndoSortOf(CIntHdr& a) {
    Undo(a);
}

void CDblHdrIndirectSort::GetOrder(CIntHdr& out) {
    out.Copy(m_Order);
}

int& CDblHdrIndirectSort::operator[](int i) {
    return m_Order[i];
}
