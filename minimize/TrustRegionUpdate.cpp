// Trust-region update shared by the double dogleg (method 2) and the More-Hebden
// hook step (method 3): evaluates the trial point x + s, then accepts it, retries with
// a smaller radius, or tries a doubled radius, and sets the radius for the next try.
//
// Return codes in m_nStepResult:
//   4  set by the caller before the first call of a global step
//   3  good point, well predicted by the model: retry with a doubled radius
//      (x+ and f+ are saved in xplussave / fplussave)
//   2  f+ too large: retry with the reduced radius
//   1  no satisfactory point sufficiently distinct from x (x+ is the last trial)
//   0  x+ accepted; the radius is set for the next iteration
#include <cmath>

#include "linalg/LinearAlgebra.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::TrustRegionUpdate(double* const x, double f, double* const g, CMatrix& a,
                                                      double* const s, double* const xplussave,
                                                      double& fplussave, double* const xplus, double& fplus,
                                                      double* const d) {
    const int n = m_nParameters;

    m_bMaxStepTaken = false;
    bool finite = true;
    for (int i = 0; i < n; ++i) {
        xplus[i] = x[i] + s[i];
        if (!std::isfinite(xplus[i]))
            finite = false;
    }
    // A trial point that is not finite is neither evaluated nor handed on.
    if (!finite) {
        m_nStepResult = 1;
        for (int i = 0; i < n; ++i)
            xplus[i] = x[i];
        fplus = f;
        return;
    }
    fplus = m_pMethod->Fx(xplus);
    const double deltaf = fplus - f;
    const double slope = CVRNLinearAlgebra::dot(n, g, 1, s, 1);
    if (m_nStepResult == 4)
        fplussave = 0.0;

    // A value that is not finite (NaN, an infinity) at the trial point counts as too
    // large: it shrinks the region and is never accepted.
    const bool tooLarge = !std::isfinite(fplus) || deltaf > 1e-4 * slope;

    // The doubled radius did not pay off: go back to the point saved before doubling.
    if (m_nStepResult == 3 && (fplus >= fplussave || tooLarge)) {
        m_nStepResult = 0;
        for (int i = 0; i < n; ++i)
            xplus[i] = xplussave[i];
        fplus = fplussave;
        m_dTrustRadius = m_dTrustRadius / 2.0;
        return;
    }

    if (tooLarge) {
        // Relative length of the step, measured against the trial point.
        const double rln = vrn_engine::MaxRelativeLength(n, xplus, m_pScaleX, [s](int i) { return s[i]; });
        if (rln < m_dStepTol) {
            m_nStepResult = 1;
            return;
        }
        m_nStepResult = 2;
        // Minimizer of the quadratic through f, the slope at x and f+.
        const double deltatemp = -slope * m_dTrustRadius / (2.0 * (deltaf - slope));
        if (!std::isfinite(deltatemp) || deltatemp < 0.1 * m_dTrustRadius)
            m_dTrustRadius = 0.1 * m_dTrustRadius;
        else
            m_dTrustRadius = deltatemp;
        return;
    }

    // Sufficient decrease. Curvature of the model along s.
    double q = 0.0;
    if (m_nMethod == 2) {
        // ||L^T s||^2 from the factor in the lower triangle.
        for (int i = 0; i < n; ++i) {
            double t = 0.0;
            for (int j = i; j < n; ++j)
                t += a[j][i] * s[j];
            q += t * t;
        }
    } else {
        // s^T H s from the diagonal vector and the strict upper triangle.
        for (int i = 0; i < n; ++i) {
            double t = 0.0;
            for (int j = i + 1; j < n; ++j)
                t += a[i][j] * s[i] * s[j];
            q += d[i] * (s[i] * s[i]) + 2.0 * t;
        }
    }
    const double deltafpred = slope + q / 2.0;

    if (m_nStepResult != 2 && std::fabs(deltafpred - deltaf) <= 0.1 * std::fabs(deltaf) && !m_bNewtonTaken &&
        m_dTrustRadius <= 0.99 * m_dStepMax) {
        // The model predicted the decrease well: try a doubled radius, keeping this point.
        m_nStepResult = 3;
        for (int i = 0; i < n; ++i)
            xplussave[i] = xplus[i];
        fplussave = fplus;
        const double doubled = 2.0 * m_dTrustRadius;
        m_dTrustRadius = doubled < m_dStepMax ? doubled : m_dStepMax;
        return;
    }

    // Accept x+ and set the radius for the next iteration.
    m_nStepResult = 0;
    if (m_dTrustRadius > 0.99 * m_dStepMax)
        m_bMaxStepTaken = true;
    if (deltaf >= 0.1 * deltafpred) {
        m_dTrustRadius = m_dTrustRadius / 2.0;
    } else if (deltaf <= 0.75 * deltafpred) {
        const double doubled = 2.0 * m_dTrustRadius;
        m_dTrustRadius = doubled < m_dStepMax ? doubled : m_dStepMax;
    }
}
