#include "host/data/DataHeaders.h"

#include "host/data/Descriptor.h"

namespace {

// Capacity to reserve before appending to an array of `size` elements.
template <class V> void GrowForOneMore(V& values, int growBy) {
    if (values.size() < values.capacity())
        return;
    const size_t size = values.size();
    size_t step = growBy > 0 ? static_cast<size_t>(growBy) : (size < 16 ? 16 : size);
    values.reserve(size + step);
}

template <class V> void Resize(V& values, int n, int growBy) {
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    if (count > values.capacity() && growBy > 0) {
        // Round the capacity up to whole growth steps beyond the current size.
        size_t cap = values.capacity();
        const size_t step = static_cast<size_t>(growBy);
        cap += ((count - cap) + step - 1) / step * step;
        values.reserve(cap);
    }
    values.resize(count);
}

} // namespace

void CBaseHdr::Init(const char* descriptor) {
    m_Descriptor = descriptor;
    m_Moniker = VRNDescriptorName(descriptor);
    m_Unit = VRNDescriptorUnit(descriptor);
}

// ---------------------------------------------------------------- CDblHdr

CDblHdr::CDblHdr() : m_pValues(std::make_shared<DblArray>()) {}

CDblHdr::CDblHdr(const char* descriptor) : CDblHdr() {
    Init(descriptor);
}

CDblHdr::CDblHdr(const CDblHdr& other)
    : CBaseHdr(other), m_pValues(std::make_shared<DblArray>(*other.m_pValues)), m_nGrowBy(other.m_nGrowBy) {}

CDblHdr& CDblHdr::operator=(const CDblHdr& other) {
    if (m_pValues != other.m_pValues)
        *m_pValues = *other.m_pValues;
    return *this;
}

CDblHdr::~CDblHdr() = default;

void CDblHdr::SetSize(int n, int growBy) {
    m_nGrowBy = growBy;
    Resize(*m_pValues, n, growBy);
}

int CDblHdr::Add(double v) {
    GrowForOneMore(*m_pValues, m_nGrowBy);
    m_pValues->push_back(v);
    return static_cast<int>(m_pValues->size()) - 1;
}

void CDblHdr::Attach(const CDblHdr& other) {
    m_pValues = other.m_pValues;
}

void CDblHdr::Detach() {
    if (m_pValues.use_count() > 1)
        m_pValues = std::make_shared<DblArray>(*m_pValues);
}

// ---------------------------------------------------------------- CIntHdr

CIntHdr::CIntHdr(const char* descriptor) {
    Init(descriptor);
}

CIntHdr& CIntHdr::operator=(const CIntHdr& other) {
    Copy(other);
    return *this;
}

void CIntHdr::Copy(const CIntHdr& other) {
    if (this != &other)
        m_Values = other.m_Values;
}

void CIntHdr::SetSize(int n, int growBy) {
    m_nGrowBy = growBy;
    Resize(m_Values, n, growBy);
}

int CIntHdr::Add(int v) {
    GrowForOneMore(m_Values, m_nGrowBy);
    m_Values.push_back(v);
    return static_cast<int>(m_Values.size()) - 1;
}
