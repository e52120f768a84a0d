// Method 2: double dogleg. The step for a trust radius lies on the curve from x to the
// scaled Cauchy point, on to the shortened Newton point eta*p, and then to the Newton
// point p. The curve is built once per global step and reused for every radius tried.
#include <cmath>

#include "linalg/LinearAlgebra.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

using vrn_engine::ScaledLength;

// alpha = sum g_i^2/sx_i^2 and beta = ||L^T Dx^-2 g||^2, from the gradient and the
// Cholesky factor in the lower triangle of the Hessian matrix. The scaled Cauchy step
// length is alpha*sqrt(alpha)/beta.
void CVRNUnconstrainedMinimization::CauchyTerms(double& alpha, double& beta) {
    const int n = m_nParameters;
    const double* g = m_pGrad;
    const double* sx = m_pScaleX;
    CMatrix& l = m_Hessian;

    alpha = 0.0;
    for (int i = 0; i < n; ++i)
        alpha += (g[i] * g[i]) / (sx[i] * sx[i]);

    beta = 0.0;
    for (int i = 0; i < n; ++i) {
        double t = 0.0;
        for (int j = i; j < n; ++j)
            t += l[j][i] * g[j] / (sx[j] * sx[j]);
        beta += t * t;
    }
}

void CVRNUnconstrainedMinimization::DoubleDogleg() {
    m_pTrialStep = m_pWrk0;
    m_pCauchyStep = m_pWrk1;
    m_pWork = m_pWrk2;
    m_bFirstDogleg = true;
    m_nStepResult = 4;

    m_dNewtonLength = ScaledLength(m_nParameters, m_pScaleX, m_pStep);
    if (!ModelIsFinite() || !std::isfinite(m_dNewtonLength)) {
        NoSatisfactoryPoint();
        return;
    }

    double eta = 0.0;
    double fplussave = 0.0;
    while (m_nStepResult > 1) {
        // A step (or radius) that is not finite is no step: never a zero step taken
        // as progress, never a trial point that is not finite.
        if (!DoubleDoglegStep(eta)) {
            NoSatisfactoryPoint();
            return;
        }
        // Method 2 does not read the diagonal argument; the Cauchy vector fills the slot.
        TrustRegionUpdate(m_pX, m_dF, m_pGrad, m_Hessian, m_pTrialStep, m_pWrk3, fplussave, m_pXMin, m_dFPlus,
                          m_pCauchyStep);
    }
}

bool CVRNUnconstrainedMinimization::DoubleDoglegStep(double& eta) {
    const int n = m_nParameters;
    const double* sx = m_pScaleX;
    const double* p = m_pStep;
    double* const s = m_pTrialStep;
    double* const sigma = m_pCauchyStep;
    double* const v = m_pWork;
    const double newtlen = m_dNewtonLength;

    // The Newton step fits in the region: take it and shrink the region to it.
    if (m_dTrustRadius >= newtlen) {
        m_bNewtonTaken = true;
        for (int i = 0; i < n; ++i)
            s[i] = p[i];
        m_dTrustRadius = newtlen;
        return true;
    }
    m_bNewtonTaken = false;

    if (m_bFirstDogleg) {
        m_bFirstDogleg = false;
        double alpha = 0.0;
        double beta = 0.0;
        CauchyTerms(alpha, beta);
        // Cauchy step in scaled coordinates and its length.
        for (int i = 0; i < n; ++i)
            sigma[i] = -(alpha / beta) * m_pGrad[i] / sx[i];
        m_dCauchyLength = alpha * std::sqrt(alpha) / beta;
        const double gtp = CVRNLinearAlgebra::dot(n, m_pGrad, 1, m_pStep, 1);
        eta = 0.2 + 0.8 * (alpha * alpha) / (-beta * gtp);
        m_dDoglegEta = eta;
        // On a badly scaled objective beta or the lengths overflow; the curve is then
        // not usable (its Cauchy length 0 would give a zero step).
        if (!std::isfinite(beta) || !std::isfinite(m_dCauchyLength) || !std::isfinite(eta))
            return false;
        for (int i = 0; i < n; ++i)
            v[i] = eta * sx[i] * p[i] - sigma[i];
        // No radius chosen yet: start from the Cauchy length.
        if (m_dTrustRadius == -1.0)
            m_dTrustRadius = m_dCauchyLength < m_dStepMax ? m_dCauchyLength : m_dStepMax;
    }

    const double delta = m_dTrustRadius;
    const double cauchylen = m_dCauchyLength;
    if (eta * newtlen <= delta) {
        // Partial Newton step of scaled length delta.
        for (int i = 0; i < n; ++i)
            s[i] = (delta / newtlen) * p[i];
    } else if (delta <= cauchylen) {
        // Steepest-descent step of scaled length delta.
        for (int i = 0; i < n; ++i)
            s[i] = (delta / cauchylen) * sigma[i] / sx[i];
    } else {
        // Point of scaled length delta on the segment from the Cauchy point to eta*Dx*p.
        const double d1 = CVRNLinearAlgebra::dot(n, v, 1, sigma, 1);
        const double d2 = CVRNLinearAlgebra::dot(n, v, 1, v, 1);
        const double lambda = (-d1 + std::sqrt(d1 * d1 - d2 * (cauchylen * cauchylen - delta * delta))) / d2;
        if (!std::isfinite(lambda))
            return false;
        for (int i = 0; i < n; ++i)
            s[i] = (sigma[i] + lambda * v[i]) / sx[i];
    }
    if (!std::isfinite(m_dTrustRadius))
        return false;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(s[i]))
            return false;
    return true;
}
