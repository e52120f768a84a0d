// Perturbed Cholesky factorization of the model Hessian, triangular solves and the
// matrix-vector products on triangular and symmetric storage.
#include <cmath>

#include "minimize/CholeskyKernels.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::DecomposeHessianLLPD(CMatrix& a, double* const d) {
    const int n = m_nParameters;
    if (n <= 0)
        return;
    const double* const sx = m_pScaleX;
    const double tol = std::sqrt(m_dEpsilon);

    // Work in scaled units, Dx^-1 H Dx^-1.
    for (int j = 0; j < n; j++)
        for (int i = j; i < n; i++)
            a[i][j] = a[i][j] / (sx[i] * sx[j]);

    double dmax = a[0][0];
    double dmin = a[0][0];
    for (int i = 1; i < n; i++) {
        if (a[i][i] < dmin)
            dmin = a[i][i];
        if (a[i][i] > dmax)
            dmax = a[i][i];
    }
    const double pmax = dmax > 0.0 ? dmax : 0.0;

    // Not safely positive definite on the diagonal: shift the whole diagonal first.
    if (dmin <= pmax * tol) {
        double mu = tol * (pmax - dmin) - dmin;
        if (mu == 0.0) {
            double omax = 0.0;
            for (int i = 1; i < n; i++)
                for (int j = 0; j < i; j++) {
                    const double v = std::fabs(a[i][j]);
                    if (v > omax)
                        omax = v;
                }
            mu = omax != 0.0 ? omax * (1.0 + tol) : 1.0;
        }
        for (int i = 0; i < n; i++)
            a[i][i] = a[i][i] + mu;
        dmax = dmax + mu;
    }

    // Keep the Hessian's diagonal in d and its off-diagonal part in the upper triangle.
    for (int j = 0; j < n; j++) {
        d[j] = a[j][j];
        for (int i = j + 1; i < n; i++)
            a[j][i] = a[i][j];
    }

    double added = 0.0;
    CholeskyDecomposition(a, dmax, tol, &added);

    if (added > 0.0) {
        // The factorization had to raise a pivot: restore the matrix, shift its diagonal
        // by an amount bounded through the Gershgorin discs and factor again.
        RebuildHessianFromUpper(a, d);
        double emin = 0.0;
        double emax = a[0][0];
        for (int i = 0; i < n; i++) {
            double offrow = 0.0;
            for (int j = 0; j < i; j++)
                offrow += std::fabs(a[i][j]);
            for (int k = i + 1; k < n; k++)
                offrow += std::fabs(a[k][i]);
            const double lower = a[i][i] - offrow;
            const double upper = a[i][i] + offrow;
            if (lower < emin)
                emin = lower;
            if (upper > emax)
                emax = upper;
        }
        const double sdd = tol * (emax - emin) - emin;
        const double mu = sdd < added ? sdd : added;
        for (int i = 0; i < n; i++) {
            a[i][i] = a[i][i] + mu;
            d[i] = a[i][i];
        }
        CholeskyDecomposition(a, 0.0, tol, &added);
    }

    // Back to the units of x: L := Dx L, upper triangle and d to Hessian units.
    for (int j = 0; j < n; j++) {
        for (int i = j; i < n; i++)
            a[i][j] = sx[i] * a[i][j];
        for (int i = 0; i < j; i++)
            a[i][j] = sx[i] * sx[j] * a[i][j];
        d[j] = sx[j] * sx[j] * d[j];
    }
    m_HessianStorage = HessianStorage::Split;
}

void CVRNUnconstrainedMinimization::CholeskyDecomposition(CMatrix& a, double dmax, double tol,
                                                          double* const added) {
    const int n = m_nParameters;
    const double root = std::sqrt(dmax * tol);
    const double theta = root * root;
    *added = n > 0 ? vrn::cholesky::Factor(vrn::cholesky::Fastest(), a[0], a.GetCols(), n, theta) : 0.0;
}

void CVRNUnconstrainedMinimization::ForwardSolve(CMatrix& l, double* const x, double* const b) {
    const int n = m_nParameters;
    if (n <= 0)
        return;
    vrn::cholesky::ForwardSolve(vrn::cholesky::Fastest(), l[0], l.GetCols(), n, x, b);
}

void CVRNUnconstrainedMinimization::BackSolve(CMatrix& l, double* const x, double* const b) {
    const int n = m_nParameters;
    if (n <= 0)
        return;
    vrn::cholesky::BackSolve(l[0], l.GetCols(), n, x, b);
}

void CVRNUnconstrainedMinimization::LLTransposeSolve(CMatrix& l, double* const x, double* const b) {
    ForwardSolve(l, x, b);
    BackSolve(l, x, x);
}

void CVRNUnconstrainedMinimization::MVMultLowerTriangMatrix(CMatrix& l, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j <= i; j++)
            sum += l[i][j] * x[j];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::MVMultUpperTriangMatrix(CMatrix& l, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = i; j < n; j++)
            sum += l[j][i] * x[j];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::MVMultSymmetricMatrix(CMatrix& a, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j <= i; j++)
            sum += a[i][j] * x[j];
        for (int k = i + 1; k < n; k++)
            sum += a[k][i] * x[k];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::RebuildHessianFromUpper(CMatrix& a, double* const d) {
    const int n = m_nParameters;
    for (int j = 0; j < n; j++)
        a[j][j] = d[j];
    vrn_engine::MirrorUpperToLower(a, n);
}

CMatrix CVRNUnconstrainedMinimization::GetModelHessian() const {
    const int n = m_nParameters;
    if (n <= 0 || m_HessianStorage == HessianStorage::None || m_Hessian.GetRows() < n ||
        m_Hessian.GetCols() < n)
        return CMatrix();
    CMatrix h(n, n);
    const CMatrix& a = m_Hessian;
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++) {
            double v = 0.0;
            switch (m_HessianStorage) {
            case HessianStorage::Lower:
                v = a[i][j];
                break;
            case HessianStorage::Split:
                v = i == j ? (m_pUDiag ? m_pUDiag[i] : a[i][i]) : a[j][i];
                break;
            case HessianStorage::Factor:
                for (int k = 0; k <= j; k++)
                    v += a[i][k] * a[j][k];
                break;
            case HessianStorage::None:
                break;
            }
            h[i][j] = v;
            h[j][i] = v;
        }
    return h;
}
