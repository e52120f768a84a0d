#include "host/data/Parameters.h"

#include "host/data/Descriptor.h"

#include <climits>
#include <cmath>

void CBasePar::Init(const char* descriptor) {
    m_Descriptor = descriptor;
    m_Name = VRNDescriptorName(descriptor);
}

void CIntPar::SetDouble(double v) {
    if (std::isnan(v))
        m_nValue = 0;
    else if (v >= static_cast<double>(INT_MAX))
        m_nValue = INT_MAX;
    else if (v <= static_cast<double>(INT_MIN))
        m_nValue = INT_MIN;
    else
        m_nValue = static_cast<int>(v);
}
