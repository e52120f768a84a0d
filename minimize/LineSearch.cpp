// Method 1: backtracking line search along the Newton step.
#include <cmath>

#include "linalg/LinearAlgebra.h"
#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::LineSearch() {
    const int n = m_nParameters;
    double* const x = m_pX;
    double* const p = m_pStep;
    double* const sx = m_pScaleX;
    double* const xplus = m_pXMin;
    const double f = m_dF;

    m_bMaxStepTaken = false;
    m_nStepResult = 2;

    // Nothing to search along when the gradient, the step or its length is not finite.
    if (!ModelIsFinite()) {
        NoSatisfactoryPoint();
        return;
    }
    double sln = vrn_engine::ScaledLength(n, sx, p);
    if (!std::isfinite(sln)) {
        NoSatisfactoryPoint();
        return;
    }
    if (sln > m_dStepMax) {
        MultilplyByScaler(m_dStepMax / sln, p, p);
        sln = m_dStepMax;
    }

    const double slp = CVRNLinearAlgebra::dot(n, m_pGrad, 1, p, 1);

    const double rln = vrn_engine::MaxRelativeLength(n, x, sx, [p](int i) { return p[i]; });
    const double rmnlmb = m_dStepTol / rln;

    double lambda = 1.0;
    double plmbda = 0.0;
    double pfpls = 0.0;
    while (m_nStepResult == 2) {
        bool finite = true;
        for (int i = 0; i < n; i++) {
            xplus[i] = x[i] + lambda * p[i];
            if (!std::isfinite(xplus[i]))
                finite = false;
        }
        if (!finite) {
            NoSatisfactoryPoint();
            break;
        }
        m_dFPlus = m_pMethod->Fx(xplus);
        const double fplus = m_dFPlus;
        if (m_pStatusView)
            m_pStatusView->Print("Line Search Lambda=%15le fc=%15le fo=%15le\n", lambda, fplus, fplus - f);

        // A value that is not finite (NaN, either infinity) is too large: backtrack.
        if (std::isfinite(fplus) && fplus <= f + 1e-4 * lambda * slp) {
            m_nStepResult = 0;
            m_dLastLambda = lambda;
            if (lambda == 1.0 && sln > 0.99 * m_dStepMax)
                m_bMaxStepTaken = true;
            UpdateDiagGrid();
            break;
        }
        if (!(lambda >= rmnlmb)) {
            m_nStepResult = 1;
            break;
        }

        double tlmbda;
        if (lambda == 1.0) {
            // First backtrack: minimizer of the quadratic through f, slope and f+.
            tlmbda = -slp / (2.0 * (fplus - f - slp));
        } else {
            // Later backtracks: minimizer of the cubic through the last two trials.
            const double t1 = fplus - f - lambda * slp;
            const double t2 = pfpls - f - plmbda * slp;
            const double t3 = 1.0 / (lambda - plmbda);
            const double a = t3 * (t1 / (lambda * lambda) - t2 / (plmbda * plmbda));
            const double b = t3 * (t2 * lambda / (plmbda * plmbda) - t1 * plmbda / (lambda * lambda));
            const double disc = b * b - 3.0 * a * slp;
            if (disc <= b * b)
                tlmbda = (-b - CVRNLinearAlgebra::sign(1.0, a) * std::sqrt(disc)) / (3.0 * a);
            else
                tlmbda = (-b + CVRNLinearAlgebra::sign(1.0, a) * std::sqrt(disc)) / (3.0 * a);
            if (tlmbda > 0.5 * lambda)
                tlmbda = 0.5 * lambda;
        }
        plmbda = lambda;
        pfpls = fplus;
        // A non-finite trial factor (a NaN or infinite value at the trial point) backtracks
        // by the smallest admissible factor instead of propagating.
        if (!std::isfinite(tlmbda) || tlmbda < lambda / 10.0)
            lambda = 0.1 * lambda;
        else
            lambda = tlmbda;
    }
}
