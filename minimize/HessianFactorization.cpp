// Perturbed Cholesky factorization of the model Hessian, triangular solves and the
// matrix-vector products on triangular and symmetric storage.
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::DecomposeHessianLLPD(CMatrix& a, double* const d) {
    const int n = m_nParameters;
    if (n <= 0) return;
    const double* const sx = m_pScaleX;
    const double tol = std::sqrt(m_dEpsilon);

    // Work in scaled units, Dx^-1 H Dx^-1.
    for (int j = 0; j < n; j++)
        for (int i = j; i < n; i++) a[i][j] = a[i][j] / (sx[i] * sx[j]);

    double dmax = a[0][0];
    double dmin = a[0][0];
    for (int i = 1; i < n; i++) {
        if (a[i][i] < dmin) dmin = a[i][i];
        if (a[i][i] > dmax) dmax = a[i][i];
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
                    if (v > omax) omax = v;
                }
            mu = omax != 0.0 ? omax * (1.0 + tol) : 1.0;
        }
        for (int i = 0; i < n; i++) a[i][i] = a[i][i] + mu;
        dmax = dmax + mu;
    }

    // Keep the Hessian's diagonal in d and its off-diagonal part in the upper triangle.
    for (int j = 0; j < n; j++) {
        d[j] = a[j][j];
        for (int i = j + 1; i < n; i++) a[j][i] = a[i][j];
    }

    double added = 0.0;
    CholeskyDecomposition(a, dmax, tol, &added);

    if (added > 0.0) {
        // The factorization had to raise a pivot: restore the matrix, shift its diagonal
        // by an amount bounded through the Gershgorin discs and factor again.
        for (int j = 0; j < n; j++) {
            a[j][j] = d[j];
            for (int i = j + 1; i < n; i++) a[i][j] = a[j][i];
        }
        double emin = 0.0;
        double emax = a[0][0];
        for (int i = 0; i < n; i++) {
            double offrow = 0.0;
            for (int j = 0; j < i; j++) offrow += std::fabs(a[i][j]);
            for (int k = i + 1; k < n; k++) offrow += std::fabs(a[k][i]);
            const double lower = a[i][i] - offrow;
            const double upper = a[i][i] + offrow;
            if (lower < emin) emin = lower;
            if (upper > emax) emax = upper;
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
        for (int i = j; i < n; i++) a[i][j] = sx[i] * a[i][j];
        for (int i = 0; i < j; i++) a[i][j] = sx[i] * sx[j] * a[i][j];
        d[j] = sx[j] * sx[j] * d[j];
    }
}

void CVRNUnconstrainedMinimization::CholeskyDecomposition(CMatrix& a, double dmax, double tol,
                                                          double* const added) {
    const int n = m_nParameters;
    *added = 0.0;
    const double root = std::sqrt(dmax * tol);
    const double theta = root * root;

    for (int j = 0; j < n; j++) {
        double sum = 0.0;
        for (int k = 0; k < j; k++) sum += a[j][k] * a[j][k];
        const double t = a[j][j] - sum;
        if (t >= theta) {
            a[j][j] = std::sqrt(t);
        } else {
            double w = 0.0;
            for (int i = j + 1; i < n; i++) {
                const double v = std::fabs(a[i][j]);
                if (v > w) w = v;
            }
            if (w <= theta) w = theta;
            a[j][j] = std::sqrt(w);
            const double grow = w - t;
            *added = *added > grow ? *added : grow;
        }
        // Column j below the diagonal. Each a[i][j] needs its own running sum over
        // k = 0 .. j-1; four rows are summed side by side so that the four chains of
        // additions overlap instead of waiting for one another. Every sum still starts
        // from 0.0 and adds its terms in increasing k, so the results do not change.
        const double* const lj = a[j];
        const double ljj = a[j][j];
        auto store = [ljj](double& aij, double s) {
            if (ljj == 0.0)
                aij = 0.0;
            else
                aij = (aij - s) / ljj;
            if (std::fabs(aij) >= 1e300) aij = 0.0;
        };
        int i = j + 1;
        for (; i + 3 < n; i += 4) {
            const double* const r0 = a[i];
            const double* const r1 = a[i + 1];
            const double* const r2 = a[i + 2];
            const double* const r3 = a[i + 3];
            double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
            for (int k = 0; k < j; k++) {
                const double ljk = lj[k];
                s0 += r0[k] * ljk;
                s1 += r1[k] * ljk;
                s2 += r2[k] * ljk;
                s3 += r3[k] * ljk;
            }
            store(a[i][j], s0);
            store(a[i + 1][j], s1);
            store(a[i + 2][j], s2);
            store(a[i + 3][j], s3);
        }
        for (; i < n; i++) {
            const double* const ri = a[i];
            double s = 0.0;
            for (int k = 0; k < j; k++) s += ri[k] * lj[k];
            store(a[i][j], s);
        }
    }
}

void CVRNUnconstrainedMinimization::ForwardSolve(CMatrix& l, double* const x, double* const b) {
    const int n = m_nParameters;
    if (n <= 0) return;
    x[0] = l[0][0] == 0.0 ? 0.0 : b[0] / l[0][0];
    for (int i = 1; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j < i; j++) sum += l[i][j] * x[j];
        x[i] = l[i][i] == 0.0 ? 0.0 : (b[i] - sum) / l[i][i];
    }
}

void CVRNUnconstrainedMinimization::BackSolve(CMatrix& l, double* const x, double* const b) {
    const int n = m_nParameters;
    if (n <= 0) return;
    const int last = n - 1;
    x[last] = l[last][last] == 0.0 ? 0.0 : b[last] / l[last][last];
    for (int i = n - 2; i >= 0; i--) {
        double sum = 0.0;
        for (int k = i + 1; k < n; k++) sum += l[k][i] * x[k];
        x[i] = l[i][i] == 0.0 ? 0.0 : (b[i] - sum) / l[i][i];
    }
}

void CVRNUnconstrainedMinimization::LLTransposeSolve(CMatrix& l, double* const x, double* const b) {
    ForwardSolve(l, x, b);
    BackSolve(l, x, x);
}

void CVRNUnconstrainedMinimization::MVMultLowerTriangMatrix(CMatrix& l, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j <= i; j++) sum += l[i][j] * x[j];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::MVMultUpperTriangMatrix(CMatrix& l, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = i; j < n; j++) sum += l[j][i] * x[j];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::MVMultSymmetricMatrix(CMatrix& a, double* const x, double* const y) {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j <= i; j++) sum += a[i][j] * x[j];
        for (int k = i + 1; k < n; k++) sum += a[k][i] * x[k];
        y[i] = sum;
    }
}

void CVRNUnconstrainedMinimization::RebuildHessianFromUpper(CMatrix& a, double* const d) {
    const int n = m_nParameters;
    for (int j = 0; j < n; j++) {
        a[j][j] = d[j];
        for (int i = j + 1; i < n; i++) a[i][j] = a[j][i];
    }
}
