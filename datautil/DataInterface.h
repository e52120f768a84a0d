#pragma once

#include "host/data/DataHeaders.h"
#include "host/data/Interchange.h"

// Base for host objects that expose their data as an interchange tree. A
// derived class supplies its prototype and its current interchange; this base
// attaches the current one to another interchange, or to the current
// interchange of another such object.
//
// The reference taken on an interchange for the duration of a call is given
// back at its end, and the node is deleted if that was the last reference: a
// derived class keeps a reference of its own on the interchange it returns.
class CVRNiDataInterface {
public:
    CVRNiDataInterface() = default;
    CVRNiDataInterface(const CVRNiDataInterface&) = default;
    CVRNiDataInterface& operator=(const CVRNiDataInterface&) = default;
    virtual ~CVRNiDataInterface();

    // The prototype interchange when bPrototype is true, the current one when
    // it is false; null when there is none.
    virtual CiDataInterchange* GetDataInterchange(bool bPrototype) = 0;
    virtual CiDataInterchange* GetPrototypeInterchange();
    // Attaches the current interchange to src; with src null its references
    // are reset instead. Does nothing without a current interchange.
    virtual void SetInterchange(CiDataInterchange* src);
    // SetInterchange with the current interchange of other (null for none).
    virtual void Attach(CVRNiDataInterface* other);
};

// Copies a double array found under a path of an interchange into a header.
class CVRNiUpdateImportedHdr {
public:
    CVRNiUpdateImportedHdr() = default;
    CVRNiUpdateImportedHdr(const CVRNiUpdateImportedHdr&) = default;
    CVRNiUpdateImportedHdr& operator=(const CVRNiUpdateImportedHdr&) = default;
    ~CVRNiUpdateImportedHdr() = default;

    // h takes the values and the unit of the first header of the headers node
    // at path, and maxSize rises to h's element count if that is larger. When
    // ic is null, or the path names no headers node, or that node's first
    // header is not a double header, h and maxSize are left unchanged.
    void UpdateHdr(CDblHdr& h, CiDataInterchange* ic, const char* path, int& maxSize);
};
