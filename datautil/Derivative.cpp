#include "datautil/Derivative.h"

#include <cmath>

CVRNiDerivative::CVRNiDerivative() : m_dIntercept(0.0) {}

CVRNiDerivative::CVRNiDerivative(const CVRNiDerivative& other) = default;

CVRNiDerivative& CVRNiDerivative::operator=(const CVRNiDerivative& other) = default;

CVRNiDerivative::~CVRNiDerivative() = default;

namespace {

// Straight-line design matrix: row j is (abscissa(x[j]), 1).
template <class Abscissa> void FillDesign(CMatrix& design, const double* x, int n, Abscissa abscissa) {
    design.SetSize(n, 2);
    if (n > 0) {
        double* pA = design[0];
        for (int j = 0; j < n; j++) {
            *pA++ = abscissa(x[j]);
            *pA++ = 1.0;
        }
    }
}

} // namespace

double CVRNiDerivative::PPD(double* x, double* y, int n, int i, double w) {
    FillDesign(m_Design, x, n, [](double v) { return v; });
    return Fit(y, n, i, w);
}

double CVRNiDerivative::SemilogSlope(double* x, double* y, int n, int i, double w) {
    FillDesign(m_Design, x, n, [](double v) { return std::log(v); });
    return Fit(y, n, i, w);
}

// Solves the normal equations of the design matrix already in m_Design.
double CVRNiDerivative::Fit(double* y, int n, int i, double w) {
    if (i >= 0 && i < n) {
        double* row = m_Design[i];
        row[0] *= w;
        row[1] *= w;
        const double saved = y[i];
        y[i] *= w;
        m_Design.ATV(m_Rhs, y, n);
        y[i] = saved;
    } else {
        m_Design.ATV(m_Rhs, y, n);
    }
    m_Design.ATA(m_Normal);
    m_Inverse = !m_Normal;
    m_Coef = m_Inverse * m_Rhs;
    if (m_Coef.GetRows() < 2) {
        // Only a negative point count gets here (no right-hand side): no fit.
        m_dIntercept = std::nan("");
        return std::nan("");
    }
    m_dIntercept = m_Coef[1][0];
    return m_Coef[0][0];
}
