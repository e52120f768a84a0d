// Method 3: locally constrained optimal ("hook") step. For a trust radius Delta it looks
// for mu >= 0 such that the solution s of (H + mu*Dx^2) s = -g has a scaled length
// ||Dx s|| close to Delta, by a safeguarded Newton iteration on mu.
//
// The stored model Hessian (strict upper triangle and the diagonal vector m_UDiag) is
// never modified here; each trial factorization overwrites only the lower triangle.
#include <cmath>

#include "linalg/LinearAlgebra.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

using vrn_engine::ScaledLength;

namespace {

// Guard against a search on mu that never settles (non-finite values): the last step
// computed is kept.
constexpr int kMaxHookPasses = 100;

} // namespace

void CVRNUnconstrainedMinimization::MoreHebden() {
    m_pTrialStep = m_pWrk0;
    m_pWork = m_pWrk2;
    m_nStepResult = 4;
    m_bFirstHook = true;
    m_dNewtonLength = ScaledLength(m_nParameters, m_pScaleX, m_pStep);

    if (m_bFirstIteration) {
        m_bFirstIteration = false;
        m_dMu = 0.0;
    }
    if (!ModelIsFinite() || !std::isfinite(m_dNewtonLength)) {
        NoSatisfactoryPoint();
        return;
    }
    // No radius chosen yet: start from the scaled Cauchy length, capped at MaxStep.
    if (m_dTrustRadius == -1.0) {
        double alpha = 0.0;
        double beta = 0.0;
        CauchyTerms(alpha, beta);
        const double cauchylen = alpha * std::sqrt(alpha) / beta;
        m_dTrustRadius = cauchylen < m_dStepMax ? cauchylen : m_dStepMax;
    }

    double fplussave = 0.0;
    while (m_nStepResult > 1) {
        MoreHebdenStep();
        // A step, mu, phi or radius that is not finite is no satisfactory point: the
        // comparisons of the trust-region update would never end the search.
        if (!HookStepIsFinite()) {
            NoSatisfactoryPoint();
            return;
        }
        m_dPrevRadius = m_dTrustRadius;
        TrustRegionUpdate(m_pX, m_dF, m_pGrad, m_Hessian, m_pTrialStep, m_pWrk3, fplussave, m_pXMin, m_dFPlus,
                          m_pUDiag);
    }
}

void CVRNUnconstrainedMinimization::MoreHebdenStep() {
    const double hi = 1.5;
    const double lo = 0.75;
    const int n = m_nParameters;
    const double* sx = m_pScaleX;
    const double* g = m_pGrad;
    const double* p = m_pStep;
    const double* d = m_pUDiag;
    double* const s = m_pTrialStep;
    double* const w = m_pWork;
    CMatrix& a = m_Hessian;
    const double newtlen = m_dNewtonLength;
    double phiprime = m_dPhiPrime0;

    // The Newton step is close enough to the region: take it.
    if (newtlen <= hi * m_dTrustRadius) {
        m_bNewtonTaken = true;
        for (int i = 0; i < n; ++i)
            s[i] = p[i];
        m_dTrustRadius = m_dTrustRadius < newtlen ? m_dTrustRadius : newtlen;
        m_dMu = 0.0;
        return;
    }
    m_bNewtonTaken = false;

    const double delta = m_dTrustRadius;

    // Carry the previous mu over to the new radius.
    if (m_dMu > 0.0)
        m_dMu = m_dMu - (m_dPhi + m_dPrevRadius) * ((m_dPrevRadius - delta) + m_dPhi) / (delta * phiprime);

    m_dPhi = newtlen - delta;

    // Derivative of phi at mu = 0, once per global step.
    if (m_bFirstHook) {
        for (int i = 0; i < n; ++i)
            w[i] = (sx[i] * sx[i]) * p[i];
        ForwardSolve(a, w, w);
        const double wnorm = CVRNLinearAlgebra::nrm2(n, w, 1);
        m_dPhiPrime0 = -(wnorm * wnorm) / newtlen;
        m_bFirstHook = false;
    }

    phiprime = m_dPhiPrime0;
    double mulow = -m_dPhi / phiprime;
    double gnorm2 = 0.0;
    for (int i = 0; i < n; ++i)
        gnorm2 += (g[i] * g[i]) / (sx[i] * sx[i]);
    double muup = std::sqrt(gnorm2) / delta;

    const double tol = std::sqrt(m_dEpsilon);
    for (int pass = 0; pass < kMaxHookPasses; ++pass) {
        if (m_dMu < mulow || m_dMu > muup) {
            const double geo = std::sqrt(mulow * muup);
            const double floor = 0.001 * muup;
            m_dMu = geo > floor ? geo : floor;
        }

        // H + mu*Dx^2 in the lower triangle, rebuilt from the stored Hessian.
        for (int j = 0; j < n; ++j)
            a[j][j] = d[j] + m_dMu * (sx[j] * sx[j]);
        vrn_engine::MirrorUpperToLower(a, n);
        double added = 0.0;
        CholeskyDecomposition(a, 0.0, tol, &added);

        for (int i = 0; i < n; ++i)
            w[i] = -g[i];
        LLTransposeSolve(a, s, w);

        const double steplen = ScaledLength(n, sx, s);
        m_dPhi = steplen - delta;

        for (int i = 0; i < n; ++i)
            w[i] = (sx[i] * sx[i]) * s[i];
        ForwardSolve(a, w, w);
        const double wnorm = CVRNLinearAlgebra::nrm2(n, w, 1);
        phiprime = -(wnorm * wnorm) / steplen;

        // Done in the window or when the bracket has collapsed; a NaN ends the search
        // as well (mu stays NaN once it is).
        if ((!(steplen < lo * delta) && !(steplen > hi * delta)) || !(muup - mulow > 0.0) ||
            std::isnan(m_dMu))
            break;

        const double cand = m_dMu - m_dPhi / phiprime;
        mulow = mulow > cand ? mulow : cand;
        if (m_dPhi < 0.0)
            muup = muup < m_dMu ? muup : m_dMu;
        m_dMu = m_dMu - (steplen * m_dPhi) / (delta * phiprime);
    }
}

bool CVRNUnconstrainedMinimization::HookStepIsFinite() {
    const int n = m_nParameters;
    if (!std::isfinite(m_dTrustRadius) || !std::isfinite(m_dMu))
        return false;
    // phi is computed only for a hook step, not for the Newton step.
    if (!m_bNewtonTaken && !std::isfinite(m_dPhi))
        return false;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(m_pTrialStep[i]))
            return false;
    return true;
}
