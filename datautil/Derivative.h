#pragma once

#include "host/matrix/Matrix.h"

// Slope of a data window by a straight-line least-squares fit: PPD fits y
// against x, SemilogSlope y against ln x. One point of the window (index i,
// 0 ... n-1) may get the weight w; any other i means no weighted point. The
// weighted point's ordinate is scaled during the call and put back before the
// call returns. The matrices of the last fit and its intercept are kept.
class CVRNiDerivative {
public:
    CVRNiDerivative();
    CVRNiDerivative(const CVRNiDerivative& other);
    CVRNiDerivative& operator=(const CVRNiDerivative& other);
    ~CVRNiDerivative();

    double PPD(double* x, double* y, int n, int i, double w);
    // Every x must be positive.
    double SemilogSlope(double* x, double* y, int n, int i, double w);

    // Intercept of the last fit.
    double GetIntercept() const { return m_dIntercept; }

private:
    double Fit(double* y, int n, int i, double w);

    CMatrix m_Design;
    CMatrix m_Normal;
    CMatrix m_Rhs;
    CMatrix m_Inverse;
    CMatrix m_Coef;
    double m_dIntercept;
};
