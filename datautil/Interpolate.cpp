#include "datautil/Interpolate.h"

#include <cmath>
#include <cstring>

// ---------------------------------------------------------------- CVRNiInterpolate

CVRNiInterpolate::CVRNiInterpolate()
    : m_bValid(false), m_pX(nullptr), m_pY(nullptr), m_nPoints(0), m_nSearchSteps(0),
      m_nWindows(0), m_Diff{0.0, 0.0, 0.0, 0.0}, m_Weight{0.0, 0.0, 0.0, 0.0} {}

CVRNiInterpolate::CVRNiInterpolate(double* x, double* y, int n) : CVRNiInterpolate() {
    CVRNiInterpolate::SetUp(x, y, n);
}

namespace {

// The pairs that two headers both hold: a y shorter than x is never read past its end.
int PairCount(const CDblHdr& x, const CDblHdr& y) {
    return x.GetSize() < y.GetSize() ? x.GetSize() : y.GetSize();
}

} // namespace

CVRNiInterpolate::CVRNiInterpolate(CDblHdr& x, CDblHdr& y) : CVRNiInterpolate() {
    CVRNiInterpolate::SetUp(x.GetData(), y.GetData(), PairCount(x, y));
}

CVRNiInterpolate::CVRNiInterpolate(const CVRNiInterpolate& other)
    : m_bValid(other.m_bValid), m_pX(other.m_pX), m_pY(other.m_pY), m_nPoints(other.m_nPoints),
      m_nSearchSteps(other.m_nSearchSteps), m_nWindows(other.m_nWindows),
      m_Denominators(other.m_Denominators) {
    std::memcpy(m_Diff, other.m_Diff, sizeof m_Diff);
    std::memcpy(m_Weight, other.m_Weight, sizeof m_Weight);
}

CVRNiInterpolate& CVRNiInterpolate::operator=(const CVRNiInterpolate& other) {
    if (this != &other) {
        m_bValid = other.m_bValid;
        m_pX = other.m_pX;
        m_pY = other.m_pY;
        m_nPoints = other.m_nPoints;
        m_nSearchSteps = other.m_nSearchSteps;
        m_nWindows = other.m_nWindows;
        std::memcpy(m_Diff, other.m_Diff, sizeof m_Diff);
        std::memcpy(m_Weight, other.m_Weight, sizeof m_Weight);
        m_Denominators = other.m_Denominators;
    }
    return *this;
}

CVRNiInterpolate::~CVRNiInterpolate() = default;

void CVRNiInterpolate::SetUp(double* x, double* y, int n) {
    m_pX = x;
    m_pY = y;
    m_nPoints = n;
    if (n < 4 || x == nullptr || y == nullptr) {
        m_bValid = false;
        ReleaseAll();
        return;
    }
    m_bValid = true;
    m_nWindows = n - 3;
    m_nSearchSteps = static_cast<int>(std::trunc(std::log(static_cast<double>(n - 3)) / std::log(2.0))) + 1;
    UpdateInterpolationMatrix();
}

void CVRNiInterpolate::SetUp(CDblHdr& x, CDblHdr& y) {
    SetUp(x.GetData(), y.GetData(), PairCount(x, y));
}

void CVRNiInterpolate::ReleaseAll() {
    m_pX = nullptr;
    m_pY = nullptr;
    m_nPoints = 0;
    m_nSearchSteps = 0;
    m_nWindows = 0;
    m_Denominators.SetSize(0, 0);
    m_bValid = false;
}

double CVRNiInterpolate::MaxX() const {
    if (m_nPoints < 1 || m_pX == nullptr)
        return NullValue;
    return m_pX[m_nPoints - 1];
}

void CVRNiInterpolate::UpdateInterpolationMatrix() {
    if (m_nPoints < 4)
        return;
    m_Denominators.SetSize(m_nPoints - 3, 4);
    double* pD = m_Denominators[0];
    for (int i = 0; i <= m_nPoints - 4; i++) {
        double a = m_pX[i];
        double b = m_pX[i + 1];
        double c = m_pX[i + 2];
        double d = m_pX[i + 3];
        *pD++ = (a - b) * (a - c) * (a - d);
        *pD++ = (a - b) * (b - c) * (b - d);
        *pD++ = (a - c) * (b - c) * (c - d);
        *pD++ = (a - d) * (b - d) * (c - d);
    }
}

int CVRNiInterpolate::iInx(double& x) {
    const int n = m_nPoints;
    if (x < m_pX[1])
        return 0;
    if (x > m_pX[n - 3])
        return n - 3;
    int lo = 1;
    int hi = n - 3;
    int mid = 0;
    for (int step = 0; step < m_nSearchSteps; step++) {
        mid = (lo + hi) / 2;
        if (mid == lo)
            return lo - 1;
        if (std::fabs(x - m_pX[mid]) < 1e-7)
            return mid - 1;
        if (m_pX[mid] > x)
            hi = mid;
        else
            lo = mid;
    }
    return mid - 1;
}

namespace {

// diff[k] = x - px[k] for the four abscissae of a window.
void WindowDifferences(double x, const double* px, double* diff) {
    diff[0] = x - px[0];
    diff[1] = x - px[1];
    diff[2] = x - px[2];
    diff[3] = x - px[3];
}

} // namespace

int CVRNiInterpolate::Window(double& x) {
    if (m_nPoints < 4)
        return -1;
    const int i = iInx(x);
    if (i < 0)
        return -1; // the search found no window (a derived search may refuse)
    int s = i - 1;
    if (s + 3 >= m_nPoints)
        s = m_nPoints - 4;
    if (s < 0)
        s = 0;
    return s;
}

namespace {

// Lagrange numerators of the value: products of the other three differences, signed.
void ValueNumerators(const double* d, double* w) {
    w[0] = d[1] * d[2] * d[3];
    w[1] = -(d[0] * d[2] * d[3]);
    w[2] = d[0] * d[1] * d[3];
    w[3] = -(d[0] * d[1] * d[2]);
}

// Numerators of the slope: derivatives of those products.
void SlopeNumerators(const double* d, double* w) {
    w[0] = d[2] * d[3] + d[1] * d[3] + d[1] * d[2];
    w[1] = -(d[2] * d[3] + d[0] * d[3] + d[0] * d[2]);
    w[2] = d[1] * d[3] + d[0] * d[3] + d[0] * d[1];
    w[3] = -(d[1] * d[2] + d[0] * d[2] + d[0] * d[1]);
}

} // namespace

double CVRNiInterpolate::Evaluate(double& x, void (*numerators)(const double* d, double* w)) {
    const int s = Window(x);
    if (s < 0)
        return NullValue;
    const double* py = m_pY + s;
    const double* pD = m_Denominators[s];
    WindowDifferences(x, m_pX + s, m_Diff);
    numerators(m_Diff, m_Weight);
    for (int k = 0; k < 4; ++k)
        m_Weight[k] = m_Weight[k] / pD[k];
    return m_Weight[0] * py[0] + m_Weight[1] * py[1] + m_Weight[2] * py[2] + m_Weight[3] * py[3];
}

double CVRNiInterpolate::f(double& x) {
    return Evaluate(x, ValueNumerators);
}

double CVRNiInterpolate::dfdx(double& x) {
    return Evaluate(x, SlopeNumerators);
}

// ---------------------------------------------------------------- CVRNiNonNULLValueInterpolate

CVRNiNonNULLValueInterpolate::CVRNiNonNULLValueInterpolate(CDblHdr& x, CDblHdr& y) {
    const int n = PairCount(x, y);
    if (n > 4)
        CVRNiNonNULLValueInterpolate::SetUp(x.GetData(), y.GetData(), n);
}

CVRNiNonNULLValueInterpolate::CVRNiNonNULLValueInterpolate(double* x, double* y, int n) {
    if (y != nullptr && n > 4)
        CVRNiNonNULLValueInterpolate::SetUp(x, y, n);
}

CVRNiNonNULLValueInterpolate::CVRNiNonNULLValueInterpolate(const CVRNiNonNULLValueInterpolate& other)
    : CVRNiInterpolate(other), m_KeptX(other.m_KeptX), m_KeptY(other.m_KeptY) {
    if (m_pX != nullptr) {
        m_pX = m_KeptX.GetData();
        m_pY = m_KeptY.GetData();
    }
}

CVRNiNonNULLValueInterpolate&
CVRNiNonNULLValueInterpolate::operator=(const CVRNiNonNULLValueInterpolate& other) {
    if (this != &other) {
        CVRNiInterpolate::operator=(other);
        m_KeptX = other.m_KeptX;
        m_KeptY = other.m_KeptY;
        if (m_pX != nullptr) {
            m_pX = m_KeptX.GetData();
            m_pY = m_KeptY.GetData();
        }
    }
    return *this;
}

CVRNiNonNULLValueInterpolate::~CVRNiNonNULLValueInterpolate() = default;

void CVRNiNonNULLValueInterpolate::SetUp(double* x, double* y, int n) {
    m_bValid = false;
    if (x == nullptr || y == nullptr || n < 4)
        return;

    m_KeptX.SetSize(n, -1);
    m_KeptY.SetSize(n, -1);
    m_pX = m_KeptX.GetData();
    m_pY = m_KeptY.GetData();
    m_nPoints = n;

    int k = 0;
    for (int j = 0; j < n; j++) {
        if (x[j] == NullValue || y[j] == NullValue)
            continue;
        m_pX[k] = x[j];
        m_pY[k] = y[j];
        k++;
    }

    if (k > 4)
        CVRNiInterpolate::SetUp(m_pX, m_pY, k);
    else
        // The denominators still belong to the previous table: hold no points
        // so that nothing reads them.
        ReleaseAll();
}
