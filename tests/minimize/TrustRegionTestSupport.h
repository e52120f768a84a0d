// Shared pieces of the trust-region and secant-update tests: a problem given by a
// function, and white-box access to the engine.
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"

namespace h4test {

// A problem given by a function of x; used where a test needs a particular F.
class FunctionProblem : public CVRNMinimizationMethodBase {
public:
    FunctionProblem(std::vector<double> x0, std::function<double(const double*)> f)
        : m_X0(std::move(x0)), m_F(std::move(f)) {}
    int NumberOfParameters() override { return static_cast<int>(m_X0.size()); }
    void InitialParameters(double* const x0) override {
        for (size_t i = 0; i < m_X0.size(); ++i)
            x0[i] = m_X0[i];
    }
    double Fx(double* const x) override {
        ++nfev;
        return m_F(x);
    }
    int nfev = 0;

private:
    std::vector<double> m_X0;
    std::function<double(const double*)> m_F;
};

struct Tag {};

} // namespace h4test

template <> struct CVRNEngineProbe<h4test::Tag> {
    using E = CVRNUnconstrainedMinimization;

    // Engine with defaults, arrays sized to the problem, sx = 1, f = F(x0).
    static void Attach(E& e, CVRNMinimizationMethodBase* problem, int method) {
        e.Default();
        e.m_pMethod = problem;
        e.AllocateTempArrays();
        e.m_nMethod = method;
        for (int i = 0; i < e.m_nParameters; ++i)
            e.m_pScaleX[i] = 1.0;
        e.m_dStepMax = 1000.0;
        e.m_dNoise = 1e-15;
        e.m_bFirstIteration = false;
        e.m_dF = problem->Fx(e.m_pX);
    }

    static int N(E& e) { return e.m_nParameters; }
    static double* X(E& e) { return e.m_pX; }
    static double* Grad(E& e) { return e.m_pGrad; }
    static double* Step(E& e) { return e.m_pStep; }
    static double* ScaleX(E& e) { return e.m_pScaleX; }
    static double* XPlus(E& e) { return e.m_pXMin; }
    static double* UDiag(E& e) { return e.m_pUDiag; }
    static double* Wrk(E& e, int k) {
        double* w[4] = {e.m_pWrk0, e.m_pWrk1, e.m_pWrk2, e.m_pWrk3};
        return w[k];
    }
    static double* TrialStep(E& e) { return e.m_pTrialStep; }
    static double* CauchyStep(E& e) { return e.m_pCauchyStep; }
    static double* Work(E& e) { return e.m_pWork; }
    static CMatrix& Hessian(E& e) { return e.m_Hessian; }
    static double& F(E& e) { return e.m_dF; }
    static double& FPlus(E& e) { return e.m_dFPlus; }
    static double& Radius(E& e) { return e.m_dTrustRadius; }
    static double& StepMax(E& e) { return e.m_dStepMax; }
    static double& StepTol(E& e) { return e.m_dStepTol; }
    static double& Noise(E& e) { return e.m_dNoise; }
    static double& Mu(E& e) { return e.m_dMu; }
    static double& Phi(E& e) { return e.m_dPhi; }
    static double& PhiPrime0(E& e) { return e.m_dPhiPrime0; }
    static double& NewtonLength(E& e) { return e.m_dNewtonLength; }
    static double& CauchyLength(E& e) { return e.m_dCauchyLength; }
    static bool& FirstIteration(E& e) { return e.m_bFirstIteration; }
    static bool& FirstDogleg(E& e) { return e.m_bFirstDogleg; }
    static bool& FirstHook(E& e) { return e.m_bFirstHook; }
    static bool& NewtonTaken(E& e) { return e.m_bNewtonTaken; }
    static bool& MaxStepTaken(E& e) { return e.m_bMaxStepTaken; }
    static int& StepResult(E& e) { return e.m_nStepResult; }
    static int& Method(E& e) { return e.m_nMethod; }
    static void SetGradientFlag(E& e, bool v) { e.m_bGradientFlag = v ? 1 : 0; }

    // Factor the model Hessian held in the lower triangle, as the driver does.
    static void Decompose(E& e) { e.DecomposeHessianLLPD(e.m_Hessian, e.m_pUDiag); }
    // Newton step p from L L^T p = -g.
    static void NewtonStep(E& e) {
        for (int i = 0; i < e.m_nParameters; ++i)
            e.m_pWrk1[i] = -e.m_pGrad[i];
        e.LLTransposeSolve(e.m_Hessian, e.m_pStep, e.m_pWrk1);
    }
    // Uses the trust-region arrays as the calling methods do.
    static void UseTrialArrays(E& e) {
        e.m_pTrialStep = e.m_pWrk0;
        e.m_pCauchyStep = e.m_pWrk1;
        e.m_pWork = e.m_pWrk2;
    }

    static void TrustRegionUpdate(E& e, double* s, double& fplussave) {
        e.TrustRegionUpdate(e.m_pX, e.m_dF, e.m_pGrad, e.m_Hessian, s, e.m_pWrk3, fplussave, e.m_pXMin,
                            e.m_dFPlus, e.m_pUDiag);
    }
    static void DoubleDogleg(E& e) { e.DoubleDogleg(); }
    static void DoubleDoglegStep(E& e, double& eta) { e.DoubleDoglegStep(eta); }
    static void MoreHebden(E& e) { e.MoreHebden(); }
    static void MoreHebdenStep(E& e) { e.MoreHebdenStep(); }
    static void CauchyTerms(E& e, double& alpha, double& beta) { e.CauchyTerms(alpha, beta); }

    static void InitializeSecant(E& e) { e.InitializeHessianSecantUpdates(e.m_Hessian, e.m_pScaleX); }
    static void SecantFactored(E& e, double* x, double* g, double* xp, double* gp, bool noupdate) {
        e.SecantFactored(x, g, e.m_Hessian, xp, gp, noupdate, e.m_pWrk0, e.m_pWrk1, e.m_pWrk2, e.m_pWrk3);
    }
    static void SecantUnfactored(E& e, double* x, double* g, double* xp, double* gp, bool noupdate) {
        e.SecantUnfactored(x, g, e.m_Hessian, e.m_pUDiag, xp, gp, noupdate, e.m_pWrk1, e.m_pWrk2, e.m_pWrk3);
    }
    static void QRUpdate(E& e, double* u, double* v) { e.QRUpdate(e.m_Hessian, u, v); }
    static void QRAuxFxn1(E& e, int i) { e.QRAuxFxn1(e.m_Hessian, i); }
    static void QRAuxFxn2(E& e, int i, double a, double b) { e.QRAuxFxn2(e.m_Hessian, i, a, b); }
};

namespace h4test {

using Probe = CVRNEngineProbe<Tag>;

// ||Dx v||.
inline double ScaledNorm(int n, const double* sx, const double* v) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += (sx[i] * sx[i]) * (v[i] * v[i]);
    return std::sqrt(sum);
}

// Loads a symmetric matrix (given row-major, n*n) into the lower triangle.
inline void LoadLower(CMatrix& a, int n, const std::vector<double>& h) {
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            a[i][j] = (j <= i) ? h[static_cast<size_t>(i * n + j)] : 0.0;
}

inline std::vector<double> Snapshot(CMatrix& a, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            v.push_back(a[i][j]);
    return v;
}

} // namespace h4test
