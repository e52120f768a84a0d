#pragma once

#include "host/framework/String.h"

#include <concepts>
#include <memory>
#include <vector>

class CDblHdr;
class CIntHdr;

// The null value: marks a missing double in the host's arrays. Interpolators return
// it when they cannot interpolate, searches of an empty array return it, and plots
// use it for "no value". Comparisons with it are exact.
inline constexpr double kVRNNullValue = -32600.0;

// Value arrays behind the headers.
using DblArray = std::vector<double>;
using IntArray = std::vector<int>;

// A named data array (header). The descriptor gives the header its name
// (GetMoniker) and, in the long form, its unit type (see Descriptor.h).
class CBaseHdr {
public:
    CBaseHdr() = default;
    CBaseHdr(const CBaseHdr&) = default;
    CBaseHdr& operator=(const CBaseHdr&) = default;
    virtual ~CBaseHdr() = default;

    virtual void Init(const char* descriptor);
    const CString& GetDescriptor() const { return m_Descriptor; }
    virtual CString GetMoniker() const { return m_Moniker; }

    virtual void SetUnitType(const char* unit) { m_Unit = unit; }
    virtual CString GetAtomString() const { return m_Unit; }

    // n elements (negative counts as 0); later growth by growBy elements at a
    // time, growBy <= 0 meaning the default (geometric) growth.
    virtual void SetSize(int n, int growBy = -1) = 0;
    virtual int GetSize() const = 0;

    // The header as a double header and its value array; null when it is not one.
    virtual CDblHdr* GetDblHdr() { return nullptr; }
    virtual const CDblHdr* GetDblHdr() const { return nullptr; }
    virtual DblArray* GetDblArray() { return nullptr; }
    // The header as an int header; null when it is not one.
    virtual CIntHdr* GetIntHdr() { return nullptr; }

protected:
    CString m_Descriptor;
    CString m_Moniker;
    CString m_Unit;
};

// An array of doubles with a descriptor.
//
// The values live in a shared store. Normally each header has its own; after
// a.Attach(b) both headers use b's store, so a change of values or size made
// through either is seen by both, and the store lives as long as any header
// that uses it (an attached header never dangles when the other one is resized
// or destroyed). Detach() gives a header a private copy again.
//
// Copy construction makes an independent copy (descriptor, unit and values);
// assignment copies the values only, into the store this header uses.
class CDblHdr : public CBaseHdr {
public:
    CDblHdr();
    explicit CDblHdr(const char* descriptor);
    CDblHdr(const CDblHdr& other);
    CDblHdr& operator=(const CDblHdr& other);
    ~CDblHdr() override;

    void SetSize(int n, int growBy = -1) override;
    int GetSize() const override { return static_cast<int>(m_pValues->size()); }

    // Pointer to the contiguous values; valid until the next change of size.
    operator double*() { return m_pValues->data(); }
    operator const double*() const { return m_pValues->data(); }
    double* GetData() { return m_pValues->data(); }
    const double* GetData() const { return m_pValues->data(); }

    // Element i (no range check).
    template <std::integral I> double& operator[](I i) { return (*m_pValues)[static_cast<size_t>(i)]; }
    template <std::integral I> const double& operator[](I i) const {
        return (*m_pValues)[static_cast<size_t>(i)];
    }

    // Appends v; returns its index.
    int Add(double v);
    // Empties the array (the store is kept, so attached headers see it empty too).
    void RemoveAll() { m_pValues->clear(); }

    // This header uses other's values without copying them.
    void Attach(const CDblHdr& other);
    // Gives this header a private copy of its current values.
    void Detach();
    // True when both headers use the same value store.
    bool SharesValuesWith(const CDblHdr& other) const { return m_pValues == other.m_pValues; }

    CDblHdr* GetDblHdr() override { return this; }
    const CDblHdr* GetDblHdr() const override { return this; }
    DblArray* GetDblArray() override { return m_pValues.get(); }

private:
    std::shared_ptr<DblArray> m_pValues;
    int m_nGrowBy = -1;
};

// An array of ints with a descriptor. Copies are independent; assignment and
// Copy() copy the values only.
class CIntHdr : public CBaseHdr {
public:
    CIntHdr() = default;
    explicit CIntHdr(const char* descriptor);
    CIntHdr(const CIntHdr& other) = default;
    CIntHdr& operator=(const CIntHdr& other);
    ~CIntHdr() override = default;

    void Copy(const CIntHdr& other);

    void SetSize(int n, int growBy = -1) override;
    int GetSize() const override { return static_cast<int>(m_Values.size()); }

    operator int*() { return m_Values.data(); }
    operator const int*() const { return m_Values.data(); }
    int* GetData() { return m_Values.data(); }
    const int* GetData() const { return m_Values.data(); }

    template <std::integral I> int& operator[](I i) { return m_Values[static_cast<size_t>(i)]; }
    template <std::integral I> const int& operator[](I i) const { return m_Values[static_cast<size_t>(i)]; }

    int Add(int v);
    void RemoveAll() { m_Values.clear(); }

    CIntHdr* GetIntHdr() override { return this; }

private:
    IntArray m_Values;
    int m_nGrowBy = -1;
};
