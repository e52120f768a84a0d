// Method 4: nonlinear conjugate gradients with Polak-Ribiere updates. Each iteration
// brackets the minimum along the search direction by golden-ratio expansion with
// parabolic extrapolation and then locates it by Brent's method with derivatives.
//
// Array roles during one ConjugateGradient call:
//   m_Grad  (g)    the gradient at x, then the search direction xi
//   m_Wrk0  (wrk0) the conjugate direction h
//   m_Wrk1  (wrk1) gamma, the negative gradient at the previous point
//   m_XT, m_GT     trial point on the line and the gradient there
//
// Termination codes of this path: 2 when the function-change test fires, 1 when the
// gradient test fires or the search direction vanishes, 3 when a line minimization
// ends at a non-finite value or abscissa (x is then not moved), 4 at the iteration
// limit.

#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

namespace {

// Golden-ratio expansion factor of the bracketing.
constexpr double kGold = 1.618034;
// Largest parabolic extrapolation, in multiples of the current bracket step.
constexpr double kGrowLimit = 100.0;
// Absolute tolerance of the Brent minimization (protects a minimum at t = 0).
constexpr double kBrentZeps = 1.0e-10;
// Iteration limit of the Brent minimization.
constexpr int kBrentIterations = 1000;

} // namespace

void CVRNUnconstrainedMinimization::ConjugateGradient() {
    const int n = m_nParameters;
    double* const x = m_pX;
    double* const xi = m_pGrad;
    double* const h = m_pWrk0;
    double* const gamma = m_pWrk1;
    const double ftol = m_dCGTol;
    const double eps = m_dEpsilon;

    m_nTerminationCode = OptimalSolution;

    m_dF = m_pMethod->Fx(x);
    m_pMethod->Gradient(x, xi);
    m_Record.g.assign(xi, xi + n);
    NotifyRunStart();

    for (int i = 0; i < n; ++i) {
        gamma[i] = -xi[i];
        xi[i] = gamma[i];
        h[i] = gamma[i];
    }

    m_nIterationCount = 0;
    while (m_nIterationCount < m_nIterationLimit) {
        // Honour an abort request between line minimizations, as the other methods do.
        if (m_bAbort.load()) {
            m_nTerminationCode = AbortedByUser;
            return;
        }
        ConjugateGradientStep_LineMinimizae();
        // A vanishing direction (code 1) or a non-finite line result (code 3) ends the
        // run with x where it was.
        if (m_nTerminationCode != OptimalSolution)
            return;

        if (2.0 * std::fabs(m_dFPlus - m_dF) <= ftol * (std::fabs(m_dF) + std::fabs(m_dFPlus) + eps)) {
            m_nStepResult = 1;
            m_nTerminationCode = StepSizeSmall;
            return;
        }

        m_pMethod->CommitStep(x, n);

        m_dF = m_dFPlus;
        m_pMethod->Gradient(x, xi);
        m_Record.g.assign(xi, xi + n);
        NotifyAcceptedStep(x, m_dF, xi);

        double gg = 0.0;
        double dgg = 0.0;
        for (int i = 0; i < n; ++i) {
            gg += gamma[i] * gamma[i];
            dgg += (xi[i] + gamma[i]) * xi[i];
        }

        if (gg < ftol) {
            m_nTerminationCode = GradientSmall;
            return;
        }

        for (int i = 0; i < n; ++i) {
            gamma[i] = -xi[i];
            h[i] = gamma[i] + (dgg / gg) * h[i];
            xi[i] = h[i];
        }

        ++m_nIterationCount;
    }
    m_nTerminationCode = TooManyIterations;
}

void CVRNUnconstrainedMinimization::ConjugateGradientStep_LineMinimizae() {
    const int n = m_nParameters;
    double* const x = m_pX;
    double* const xi = m_pGrad;
    double* const p = m_pStep;

    m_XT.SetSize(n, -1);
    m_GT.SetSize(n, -1);
    m_pXT = m_XT;
    m_pGT = m_GT;

    double s = 0.0;
    for (int i = 0; i < n; ++i)
        s += xi[i] * xi[i];

    // No move is possible along a zero direction (zero gradient at the start), and a
    // NaN direction gives no finite trial step n/sqrt(s).
    if (s == 0.0 || std::isnan(s)) {
        for (int i = 0; i < n; ++i)
            p[i] = 0.0;
        m_dFPlus = m_dF;
        m_nStepResult = 1;
        m_nTerminationCode = s == 0.0 ? GradientSmall : NoLowerPoint;
        return;
    }

    double t1 = 0.0;
    double t2 = static_cast<double>(n) / std::sqrt(s);
    double t3 = 0.0;
    double f1 = 0.0;
    double f2 = 0.0;
    double f3 = 0.0;
    double xmin = 0.0;

    BracketMinimum(t1, t2, t3, f1, f2, f3);
    const double fmin = BrentStep(t1, t2, t3, std::sqrt(m_dEpsilon), xmin, kBrentIterations);

    // Never move x to a non-finite point: the value, the abscissa and every component
    // of the new point must be finite.
    bool finite = std::isfinite(fmin) && std::isfinite(xmin);
    for (int i = 0; finite && i < n; ++i) {
        const double step = xi[i] * xmin;
        finite = std::isfinite(x[i] + step);
    }
    if (!finite) {
        for (int i = 0; i < n; ++i)
            p[i] = 0.0;
        m_dFPlus = m_dF;
        m_nStepResult = 1;
        m_nTerminationCode = NoLowerPoint;
        return;
    }

    m_dFPlus = fmin;
    m_dLastLambda = xmin;
    for (int i = 0; i < n; ++i) {
        xi[i] = xi[i] * xmin;
        x[i] = x[i] + xi[i];
        p[i] = xi[i];
    }
}

double CVRNUnconstrainedMinimization::FOneDimension(double t) {
    const int n = m_nParameters;
    for (int i = 0; i < n; ++i)
        m_pXT[i] = t * m_pGrad[i] + m_pX[i];
    return m_pMethod->Fx(m_pXT);
}

double CVRNUnconstrainedMinimization::DerFOneDimesion(double t) {
    const int n = m_nParameters;
    for (int i = 0; i < n; ++i)
        m_pXT[i] = t * m_pGrad[i] + m_pX[i];
    m_pMethod->Gradient(m_pXT, m_pGT);
    double df = 0.0;
    for (int i = 0; i < n; ++i)
        df += m_pGT[i] * m_pGrad[i];
    return df;
}

void CVRNUnconstrainedMinimization::BracketMinimum(double& t1, double& t2, double& t3, double& f1, double& f2,
                                                   double& f3) {
    f1 = FOneDimension(t1);
    f2 = FOneDimension(t2);
    if (f1 < f2) {
        // Walk downhill from t1 to t2.
        double tmp = t1;
        t1 = t2;
        t2 = tmp;
        tmp = f1;
        f1 = f2;
        f2 = tmp;
    }
    t3 = t2 + kGold * (t2 - t1);
    f3 = FOneDimension(t3);

    while (f3 < f2) {
        // Parabola through the three points; its vertex is the candidate u.
        const double r = (t2 - t1) * (f2 - f3);
        const double q = (t2 - t3) * (f2 - f1);
        const double qr = std::fabs(q - r);
        const double denom = qr > m_dEpsilon ? qr : m_dEpsilon;
        double u = t2 - ((t2 - t3) * q - (t2 - t1) * r) / (2.0 * SIGN(denom, q - r));
        const double ulim = t2 + kGrowLimit * (t3 - t2);
        double fu;

        if ((t2 - u) * (u - t3) > 0.0) {
            // u lies between t2 and t3.
            fu = FOneDimension(u);
            if (fu < f3) {
                t1 = t2;
                t2 = u;
                f1 = f2;
                f2 = fu;
                return;
            } else if (fu > f2) {
                t3 = u;
                f3 = fu;
                return;
            }
            u = t3 + kGold * (t3 - t2);
            fu = FOneDimension(u);
        } else if ((t3 - u) * (u - ulim) > 0.0) {
            // u lies between t3 and the extrapolation limit.
            fu = FOneDimension(u);
            if (fu < f3) {
                t2 = t3;
                t3 = u;
                u = t3 + kGold * (t3 - t2);
                f2 = f3;
                f3 = fu;
                fu = FOneDimension(u);
            }
        } else if ((u - ulim) * (ulim - t3) >= 0.0) {
            // Extrapolation beyond the limit: clip to it.
            u = ulim;
            fu = FOneDimension(u);
        } else {
            u = t3 + kGold * (t3 - t2);
            fu = FOneDimension(u);
        }

        t1 = t2;
        t2 = t3;
        t3 = u;
        f1 = f2;
        f2 = f3;
        f3 = fu;
    }
}

double CVRNUnconstrainedMinimization::BrentStep(double& t1, double& t2, double& t3, double tol, double& xmin,
                                                int itmax) {
    double lo = t1 < t3 ? t1 : t3;
    double hi = t1 > t3 ? t1 : t3;
    double x = t2;
    double w = t2;
    double v = t2;
    double fx = FOneDimension(t2);
    double fw = fx;
    double fv = fx;
    double dx = DerFOneDimesion(t2);
    double dw = dx;
    double dv = dx;
    double e = 0.0;
    double d = 0.0;

    for (int iter = 0; iter < itmax; ++iter) {
        const double xm = (lo + hi) / 2.0;
        const double tol1 = tol * std::fabs(x) + kBrentZeps;
        const double tol2 = 2.0 * tol1;
        if (std::fabs(x - xm) <= tol2 - (hi - lo) / 2.0) {
            xmin = x;
            return fx;
        }

        bool bisect = true;
        if (std::fabs(e) > tol1) {
            // Secant steps from the derivatives at w and at v.
            double d1 = 2.0 * (hi - lo);
            double d2 = d1;
            if (dw != dx)
                d1 = (w - x) * dx / (dx - dw);
            if (dv != dx)
                d2 = (v - x) * dx / (dx - dv);
            const double u1 = x + d1;
            const double u2 = x + d2;
            const bool ok1 = (lo - u1) * (u1 - hi) > 0.0 && dx * d1 <= 0.0;
            const bool ok2 = (lo - u2) * (u2 - hi) > 0.0 && dx * d2 <= 0.0;
            const double olde = e;
            e = d;
            if (ok1 || ok2) {
                if (ok1 && ok2)
                    d = std::fabs(d1) < std::fabs(d2) ? d1 : d2;
                else if (ok1)
                    d = d1;
                else
                    d = d2;
                if (std::fabs(d) <= std::fabs(olde / 2.0)) {
                    bisect = false;
                    const double u = x + d;
                    if (u - lo < tol2 || hi - u < tol2)
                        d = SIGN(tol1, xm - x);
                }
            }
        }
        if (bisect) {
            // Bisect toward the side the derivative points to.
            e = dx >= 0.0 ? lo - x : hi - x;
            d = e / 2.0;
        }

        double u;
        double fu;
        if (std::fabs(d) >= tol1) {
            u = x + d;
            fu = FOneDimension(u);
        } else {
            u = x + SIGN(tol1, d);
            fu = FOneDimension(u);
            if (fu > fx) {
                xmin = x;
                return fx;
            }
        }
        const double du = DerFOneDimesion(u);

        if (fu <= fx) {
            if (u >= x)
                lo = x;
            else
                hi = x;
            v = w;
            fv = fw;
            dv = dw;
            w = x;
            fw = fx;
            dw = dx;
            x = u;
            fx = fu;
            dx = du;
        } else {
            if (u < x)
                lo = u;
            else
                hi = u;
            if (fu <= fw || w == x) {
                v = w;
                fv = fw;
                dv = dw;
                w = u;
                fw = fu;
                dw = du;
            } else if (fu < fv || v == x || v == w) {
                v = u;
                fv = fu;
                dv = du;
            }
        }
    }
    // Out of iterations: report the best point found so far.
    xmin = x;
    return fx;
}

double CVRNUnconstrainedMinimization::SIGN(double a, double b) {
    return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}
