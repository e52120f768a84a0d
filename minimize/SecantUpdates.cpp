// BFGS secant updates of the model Hessian for expensive objectives.
//
// Methods 1 and 2 keep only the Cholesky factor L (lower triangle of the Hessian
// matrix) and update it through a QR update of L^T; method 3 keeps the Hessian itself
// (strict upper triangle plus the diagonal vector) and updates it directly.
//
// A step that fails the curvature test (s^T y below sqrt(eps)*||s||*||y||, any negative
// or non-finite s^T y included), a zero step or a zero gradient change leaves the model
// unchanged.
#include <cmath>

#include "linalg/LinearAlgebra.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::InitializeHessianSecantUpdates(CMatrix& a, double* const sx) {
    const int n = m_nParameters;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            a[i][j] = 0.0;
        a[i][i] = m_nMethod == 3 ? sx[i] * sx[i] : sx[i];
        m_pUDiag[i] = a[i][i];
    }
}

// s = x+ - x and y = g+ - g; sigma = s^T y. False when the step fails the curvature
// test (written so that a NaN s^T y fails it too) or s or y is zero: no update then.
bool CVRNUnconstrainedMinimization::SecantDifferences(double* const x, double* const g, double* const xplus,
                                                      double* const gplus, double* const s, double* const y,
                                                      double& sigma) {
    const int n = m_nParameters;

    for (int i = 0; i < n; ++i) {
        s[i] = xplus[i] - x[i];
        y[i] = gplus[i] - g[i];
    }
    sigma = CVRNLinearAlgebra::dot(n, s, 1, y, 1);
    const double snorm = CVRNLinearAlgebra::nrm2(n, s, 1);
    const double ynorm = CVRNLinearAlgebra::nrm2(n, y, 1);

    if (!(sigma >= std::sqrt(m_dEpsilon) * snorm * ynorm))
        return false;
    if (snorm == 0.0 || ynorm == 0.0)
        return false;
    return true;
}

void CVRNUnconstrainedMinimization::SecantFactored(double* const x, double* const g, CMatrix& a,
                                                   double* const xplus, double* const gplus, bool noupdate,
                                                   double* const s, double* const y, double* const u,
                                                   double* const w) {
    const int n = m_nParameters;

    double sigma = 0.0;
    if (!SecantDifferences(x, g, xplus, gplus, s, y, sigma))
        return;

    MVMultUpperTriangMatrix(a, s, u); // u = L^T s
    double alpha = std::sqrt(sigma / CVRNLinearAlgebra::dot(n, u, 1, u, 1));

    if (m_bFirstIteration || noupdate) {
        // Rescale the start model so that it matches the curvature along s.
        for (int i = 0; i < n; ++i)
            u[i] = alpha * u[i];
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j)
                a[i][j] = alpha * a[i][j];
        alpha = 1.0;
    }

    MVMultLowerTriangMatrix(a, u, w); // w = L L^T s = H s

    // Skip the update when H s already predicts y to within the noise of the gradient.
    const double tau = static_cast<bool>(m_bGradientFlag) ? m_dNoise : std::sqrt(m_dNoise);
    bool skip = true;
    for (int i = 0; i < n; ++i) {
        const double ag = std::fabs(g[i]);
        const double agp = std::fabs(gplus[i]);
        if (!(std::fabs(y[i] - w[i]) < tau * (ag > agp ? ag : agp))) {
            skip = false;
            break;
        }
    }
    if (skip)
        return;

    for (int i = 0; i < n; ++i)
        w[i] = y[i] - alpha * w[i];
    const double scale = alpha / sigma;
    for (int i = 0; i < n; ++i)
        u[i] = scale * u[i];

    // L^T into the upper triangle; the strict lower triangle is cleared for the update.
    for (int j = 0; j < n; ++j) {
        for (int i = j + 1; i < n; ++i) {
            a[j][i] = a[i][j];
            a[i][j] = 0.0;
        }
    }

    QRUpdate(a, u, w);

    // New L back into the lower triangle; the upper triangle keeps a copy of L^T.
    vrn_engine::MirrorUpperToLower(a, n);
}

void CVRNUnconstrainedMinimization::SecantUnfactored(double* const x, double* const g, CMatrix& a,
                                                     double* const d, double* const xplus,
                                                     double* const gplus, bool noupdate, double* const s,
                                                     double* const y, double* const t) {
    const int n = m_nParameters;

    // Rebuild H in the lower triangle from the diagonal vector and the strict upper triangle.
    RebuildHessianFromUpper(a, d);

    double sigma = 0.0;
    if (!SecantDifferences(x, g, xplus, gplus, s, y, sigma))
        return;

    MVMultSymmetricMatrix(a, s, t); // t = H s
    double delta = CVRNLinearAlgebra::dot(n, s, 1, t, 1);

    if (m_bFirstIteration || noupdate) {
        const double gamma = sigma / delta;
        for (int i = 0; i < n; ++i)
            t[i] = gamma * t[i];
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j)
                a[i][j] = gamma * a[i][j];
        delta = gamma * delta;
    }

    bool skip = true;
    const double sqrtnoise = std::sqrt(m_dNoise);
    for (int i = 0; i < n; ++i) {
        const double ag = std::fabs(g[i]);
        const double agp = std::fabs(gplus[i]);
        double tol = m_dNoise * (ag > agp ? ag : agp);
        if (!static_cast<bool>(m_bGradientFlag))
            tol = tol / sqrtnoise;
        if (!(std::fabs(y[i] - t[i]) < tol)) {
            skip = false;
            break;
        }
    }
    if (skip)
        return;

    for (int j = 0; j < n; ++j)
        for (int i = j; i < n; ++i)
            a[i][j] = a[i][j] + y[i] * y[j] / sigma - t[i] * t[j] / delta;
}

// On entry the upper triangle with diagonal of a holds R (the strict lower triangle is
// zero); on return it holds R* with Q R* = R + u v^T for an orthogonal Q. u is
// overwritten. Entries below the diagonal are scratch afterwards.
void CVRNUnconstrainedMinimization::QRUpdate(CMatrix& a, double* const u, double* const v) {
    const int n = m_nParameters;

    int k = 0;
    for (int i = n - 1; i > 0; --i) {
        if (u[i] != 0.0) {
            k = i;
            break;
        }
    }

    // Rotate u into its first component; R becomes upper Hessenberg.
    for (int i = k - 1; i >= 0; --i) {
        if (u[i] == 0.0) {
            QRAuxFxn1(a, i);
            u[i] = u[i + 1];
        } else {
            QRAuxFxn2(a, i, u[i], -u[i + 1]);
            u[i] = std::sqrt(u[i] * u[i] + u[i + 1] * u[i + 1]);
        }
    }

    for (int j = 0; j < n; ++j)
        a[0][j] = a[0][j] + u[0] * v[j];

    // Back to upper triangular form.
    for (int i = 0; i < k; ++i) {
        if (a[i][i] == 0.0)
            QRAuxFxn1(a, i);
        else
            QRAuxFxn2(a, i, a[i][i], -a[i + 1][i]);
    }
}

// Exchanges rows i and i+1 in columns i .. n-1.
void CVRNUnconstrainedMinimization::QRAuxFxn1(CMatrix& a, int i) {
    const int n = m_nParameters;
    for (int j = i; j < n; ++j) {
        const double t = a[i][j];
        a[i][j] = a[i + 1][j];
        a[i + 1][j] = t;
    }
}

// Premultiplies rows i and i+1, columns i .. n-1, by the rotation with
// cs = alpha/sqrt(alpha^2+beta^2), sn = beta/sqrt(alpha^2+beta^2).
void CVRNUnconstrainedMinimization::QRAuxFxn2(CMatrix& a, int i, double alpha, double beta) {
    const int n = m_nParameters;
    const double den = std::sqrt(alpha * alpha + beta * beta);
    const double cs = alpha / den;
    const double sn = beta / den;
    for (int j = i; j < n; ++j) {
        const double yv = a[i][j];
        const double zv = a[i + 1][j];
        a[i][j] = cs * yv - sn * zv;
        a[i + 1][j] = sn * yv + cs * zv;
    }
}
