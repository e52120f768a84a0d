#pragma once

#include "host/data/DataHeaders.h"

// Finds, by bisection, the interval of an ascending array that brackets a
// value. The object attaches to the caller's header and caches its data pointer
// and count; after the caller resizes the header it calls BinarySearchUpdate
// again.
class CVRNiBinarySearch {
public:
    CVRNiBinarySearch();
    explicit CVRNiBinarySearch(CDblHdr& h);
    CVRNiBinarySearch(const CVRNiBinarySearch& other);
    CVRNiBinarySearch& operator=(const CVRNiBinarySearch& other);
    ~CVRNiBinarySearch();

    void BinarySearchUpdate(CDblHdr& h);

    // Index i with p[i] <= x < p[i+1], clamped to 0 ... N-2 (x = p[N-1] gives
    // N-2, x outside the array the first or last interval); -32600 for an
    // empty array.
    int Bracket(double x) const;

private:
    CDblHdr m_Hdr;
    double* m_pData;
    int m_nSize;
};
