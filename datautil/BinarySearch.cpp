#include "datautil/BinarySearch.h"

CVRNiBinarySearch::CVRNiBinarySearch() : m_pData(nullptr), m_nSize(0) {}

CVRNiBinarySearch::CVRNiBinarySearch(CDblHdr& h) : m_pData(nullptr), m_nSize(0) {
    BinarySearchUpdate(h);
}

// A copy shares the values of its source rather than copying them: header
// assignment would write the source's values into the array this object is
// attached to, which belongs to the caller.
CVRNiBinarySearch::CVRNiBinarySearch(const CVRNiBinarySearch& other)
    : m_pData(other.m_pData), m_nSize(other.m_nSize) {
    m_Hdr.Attach(other.m_Hdr);
}

CVRNiBinarySearch& CVRNiBinarySearch::operator=(const CVRNiBinarySearch& other) {
    if (this != &other) {
        m_Hdr.Attach(other.m_Hdr);
        m_pData = other.m_pData;
        m_nSize = other.m_nSize;
    }
    return *this;
}

CVRNiBinarySearch::~CVRNiBinarySearch() = default;

void CVRNiBinarySearch::BinarySearchUpdate(CDblHdr& h) {
    m_Hdr.Attach(h);
    m_pData = m_Hdr.GetData();
    m_nSize = m_Hdr.GetSize();
}

int CVRNiBinarySearch::Bracket(double x) const {
    const double* p = m_pData;
    const int n = m_nSize;
    if (n == 0)
        return static_cast<int>(kVRNNullValue);
    if (x < p[0])
        return 0;
    if (x > p[n - 1])
        return n - 2;
    int lo = 0;
    int hi = n - 1;
    for (int step = 0; step < 32; step++) {
        int mid = (lo + hi) / 2;
        if (mid == lo)
            return lo;
        if (x < p[mid])
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}
