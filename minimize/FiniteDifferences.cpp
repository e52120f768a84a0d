// Finite-difference estimates of the gradient and the Hessian.
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

namespace {

// Step for parameter i: kappa times its magnitude, at least its typical size 1/sx.
inline double StepSize(double kappa, double xi, double sxi) {
    const double absx = std::fabs(xi);
    const double typ = 1.0 / sxi;
    return kappa * (absx > typ ? absx : typ);
}

}  // namespace

void CVRNUnconstrainedMinimization::ForwardFiniteDifferenceGradient(double* const x, double fx, double* const g) {
    const int n = m_nParameters;
    const double* const sx = m_pScaleX;
    const double kappa = std::sqrt(m_dNoise);
    for (int i = 0; i < n; i++) {
        const double h = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = x[i] + h;
        const double f1 = m_pMethod->Fx(x);
        x[i] = saved;
        g[i] = (f1 - fx) / h;
    }
}

void CVRNUnconstrainedMinimization::CentralFiniteDifferenceGradient(double* const x, double* const sx,
                                                                    double* const g) {
    const int n = m_nParameters;
    const double kappa = std::pow(m_dNoise, 1.0 / 3.0);
    for (int i = 0; i < n; i++) {
        const double h = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = saved + h;
        const double f1 = m_pMethod->Fx(x);
        x[i] = saved - h;
        const double f2 = m_pMethod->Fx(x);
        g[i] = (f1 - f2) / (2.0 * h);
        x[i] = saved;
    }
}

void CVRNUnconstrainedMinimization::FiniteDifferenceHessian(double* const x, double* const g, CMatrix& a,
                                                            double* const sx, double* const work) {
    const int n = m_nParameters;
    const double kappa = std::sqrt(m_dNoise);
    for (int i = 0; i < n; i++) {
        const double h = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = x[i] + h;
        m_pMethod->Gradient(x, work);
        x[i] = saved;
        for (int j = 0; j < n; j++) a[j][i] = (work[j] - g[j]) / h;
    }
    // The lower triangle gets the symmetric estimate; the upper keeps the one-sided one.
    for (int i = 0; i < n - 1; i++)
        for (int j = i + 1; j < n; j++) a[j][i] = (a[j][i] + a[i][j]) / 2.0;
}

void CVRNUnconstrainedMinimization::SecondOrderFiniteDifferenceHessian(double* const x, double fx, CMatrix& a,
                                                                       double* const sx, double* const step,
                                                                       double* const fnbr) {
    const int n = m_nParameters;
    const double kappa = std::pow(m_dNoise, 1.0 / 3.0);
    for (int i = 0; i < n; i++) {
        step[i] = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = x[i] + step[i];
        fnbr[i] = m_pMethod->Fx(x);
        x[i] = saved;
    }
    for (int i = 0; i < n; i++) {
        const double savedi = x[i];
        x[i] = savedi + 2.0 * step[i];
        double fhat = m_pMethod->Fx(x);
        a[i][i] = ((fx - fnbr[i]) + (fhat - fnbr[i])) / (step[i] * step[i]);
        if (i < n - 1) {
            x[i] = savedi + step[i];
            for (int j = i + 1; j < n; j++) {
                const double savedj = x[j];
                x[j] = x[j] + step[j];
                fhat = m_pMethod->Fx(x);
                a[j][i] = ((fx - fnbr[i]) + (fhat - fnbr[j])) / (step[i] * step[j]);
                x[j] = savedj;
            }
        }
        x[i] = savedi;
    }
}
