// Engine construction, defaults, option setters, array sizing and option validation.
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

CVRNUnconstrainedMinimization::CVRNUnconstrainedMinimization() {
    m_bShowDiag.Init("0|Diagnostics");
    m_bShowHessian.Init("0|Hessian");
    m_bGradientFlag.Init("0|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|m_bGradientFlag|MA_NULL");
    m_bHessianFlag.Init("0|m_bHessianFlag|m_bHessianFlag|m_bHessianFlag|m_bHessianFlag|MA_NULL");
    m_bExpensiveFxFlag.Init(
        "0|m_bExpensiveFxFlag|m_bExpensiveFxFlag|m_bExpensiveFxFlag|m_bExpensiveFxFlag|MA_NULL");
    m_bCheckGradient.Init("0|Check Gradient");
    m_bCheckHessian.Init("0|Check Hessian");
    m_ErrorHistory.Init("0|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|m_ErrorHistory|MA_NULL");
    m_IterationArray.Init("0|m_IterationArray|m_IterationArray|m_IterationArray|m_IterationArray|MA_NULL");
    m_bTrack.Init("0|Track|Track|Track|Track|MA_NULL");
    m_X0.Init("0|x{\\sub 0}");
    m_X.Init("0|x");
    m_UDiag.Init("0|u{\\sub H}");
    m_TypSiz.Init("0|typsiz");
    m_Grad.Init("0|Grad");
    m_Step.Init("0|Step");
    m_ScaleX.Init("0|Scale{\\sub x}");
    m_Wrk0.Init("0|wrk{\\sub 0}");
    m_Wrk1.Init("0|wrk{\\sub 1}");
    m_Wrk2.Init("0|wrk{\\sub 2}");
    m_Wrk3.Init("0|wrk{\\sub 3}");
    m_XMin.Init("0|X{\\sub min}");
    m_GradMin.Init("0|Grad{\\sub min}");

    m_bShowDiag = 1;
    m_bShowHessian = 1;
    m_bCheckHessian = 0;
    m_bCheckGradient = 0;
    m_bGradientFlag = 0;
    m_bHessianFlag = 0;
    m_bExpensiveFxFlag = 1;
    m_bTrack = 1;

    SetColorArray();
}

CVRNUnconstrainedMinimization::~CVRNUnconstrainedMinimization() {
    SetDiagnosticsDisplay(nullptr);
}

void CVRNUnconstrainedMinimization::Default() {
    m_dEpsilon = 1.12e-16;
    m_nMsg = 0;
    m_dTrustRadius = -1.0;
    m_dTypicalF = 1.0;
    m_dStepMax = 0.0;
    m_dStepTol = std::sqrt(m_dEpsilon);
    m_dGradTol = std::pow(m_dEpsilon, 1.0 / 3.0);
    m_dCGTol = 1e-10;
    m_nDigits = -1;
    m_nMethod = 3;
    m_nIterationLimit = 10000;
    m_bGradientFlag = 1;
    m_bHessianFlag = 1;
    m_bExpensiveFxFlag = 0;
    m_bFirstIteration = true;
}

void CVRNUnconstrainedMinimization::SetImplementationOptions(bool gradient, bool hessian, bool expensive) {
    m_bGradientFlag = gradient ? 1 : 0;
    m_bHessianFlag = hessian ? 1 : 0;
    m_bExpensiveFxFlag = expensive ? 1 : 0;
}

void CVRNUnconstrainedMinimization::Abort() {
    const bool pending = m_bAbort.exchange(true);
    // In step mode nobody runs the loop that would notice the request, so an abort
    // ends the session at once (unless a stopping code already ended it).
    if (m_bStepMode.load() && !pending) {
        int expected = OptimalSolution;
        m_nTerminationCode.compare_exchange_strong(expected, AbortedByUser);
    }
}

bool CVRNUnconstrainedMinimization::bNextStep() const {
    return m_nTerminationCode.load() == OptimalSolution && !m_bAbort.load();
}

void CVRNUnconstrainedMinimization::DisableGradientHessianCheck() {
    m_bCheckGradient = 0;
    m_bCheckHessian = 0;
}

void CVRNUnconstrainedMinimization::EnableGradientHessianCheck(bool gradient, bool hessian) {
    m_bCheckGradient = gradient ? 1 : 0;
    m_bCheckHessian = hessian ? 1 : 0;
}

void CVRNUnconstrainedMinimization::SetSize(int n) {
    if (n < 0)
        n = 0;
    CDblHdr* arrays[] = {&m_X0,   &m_X,    &m_UDiag, &m_TypSiz, &m_Grad, &m_Step,   &m_ScaleX,
                         &m_Wrk0, &m_Wrk1, &m_Wrk2,  &m_Wrk3,   &m_XMin, &m_GradMin};
    for (CDblHdr* a : arrays)
        a->SetSize(n, -1);
}

void CVRNUnconstrainedMinimization::RefreshArrayPointers() {
    m_pX0 = m_X0;
    m_pX = m_X;
    m_pUDiag = m_UDiag;
    m_pTypSiz = m_TypSiz;
    m_pGrad = m_Grad;
    m_pStep = m_Step;
    m_pScaleX = m_ScaleX;
    m_pWrk0 = m_Wrk0;
    m_pWrk1 = m_Wrk1;
    m_pWrk2 = m_Wrk2;
    m_pWrk3 = m_Wrk3;
    m_pXMin = m_XMin;
    m_pGradMin = m_GradMin;
}

void CVRNUnconstrainedMinimization::AllocateTempArrays() {
    const int n = m_pMethod->NumberOfParameters();
    if (n != m_nParameters) {
        m_nIterationCount = 0;
        m_pMethod->SetIterations(0);
    }
    m_nParameters = n;
    if (n != m_nAllocated) {
        m_nAllocated = n;
        SetSize(n);
        // The run record's point and gradient are filled at the end of every run.
        m_Record.x.reserve(static_cast<size_t>(n > 0 ? n : 0));
        m_Record.g.reserve(static_cast<size_t>(n > 0 ? n : 0));
    }
    RefreshArrayPointers();
    const int count = n > 0 ? n : 0;
    m_pMethod->InitialParameters(m_pX0);
    for (int i = 0; i < count; i++)
        m_pX[i] = m_pX0[i];
    for (int i = 0; i < count; i++) {
        m_pTypSiz[i] = std::fabs(m_pX0[i]);
        m_pStep[i] = 0.0;
    }
    // Typical sizes the caller set explicitly replace the start-point magnitudes.
    if (static_cast<int>(m_UserTypSiz.size()) == count)
        for (int i = 0; i < count; i++)
            m_pTypSiz[i] = m_UserTypSiz[i];
    // The conjugate-gradient method keeps no Hessian: its run allocates O(n) memory,
    // and it lets go of a matrix an earlier run of another method left.
    if (m_nMethod != 4)
        SizeModelHessian();
    else if (m_Hessian.GetRows() != 0 || m_Hessian.GetCols() != 0)
        m_Hessian = CMatrix();
    InstallDiagnosticGrid();
}

void CVRNUnconstrainedMinimization::SizeModelHessian() {
    const int count = m_nParameters > 0 ? m_nParameters : 0;
    // Like the arrays, the matrix is sized only when n changes: sizing zero-fills all
    // n*n entries, which for a large n costs more than a short conjugate-gradient run.
    // Every run writes the entries it reads (first Hessian, factorization) before use.
    if (m_Hessian.GetRows() != count || m_Hessian.GetCols() != count)
        m_Hessian.SetSize(count, count);
}

bool CVRNUnconstrainedMinimization::MessagesOn() const {
    return m_pStatusView != nullptr && (m_nMsg / 8) % 2 != 1;
}

void CVRNUnconstrainedMinimization::CheckOptions() {
    m_nTerminationCode = OptionCheck;
    const int n = m_nParameters;

    if (m_nMethod < 1 || m_nMethod > 3)
        m_nMethod = 1;

    if ((m_nMsg / 2) % 2 == 1 && !m_bGradientFlag) {
        if (m_pStatusView)
            m_pStatusView->Print(
                "OPTCHK   User requests that analytic Gradient be accepted as properly coded, "
                "msg = %d but an analytic Gradient is not  supplied m_bGradientFlag = %d.",
                m_nMsg, static_cast<int>(m_bGradientFlag));
        return;
    }
    if ((m_nMsg / 4) % 2 == 1 && !m_bHessianFlag) {
        if (m_pStatusView)
            m_pStatusView->Print(
                "OPTCHK   User requests that analytic Hessian be accepted as properly coded, "
                "msg = %d but an analytic Hessian is not suppliediahflg = %d.",
                m_nMsg, static_cast<int>(m_bHessianFlag));
        return;
    }
    if (n <= 0) {
        if (m_pStatusView)
            m_pStatusView->Print("OPTCHK   Illegal dimension, n = %d", n);
        return;
    }
    if (n == 1 && m_nMsg % 2 == 0) {
        if (m_pStatusView)
            m_pStatusView->Print("OPTCHK   !!!WARNING!!!  This class is inefficient for problems of size 1. "
                                 "OPTCHK You might want to try Fmin instead");
        m_nMsg = -2;
    }
    for (int i = 0; i < n; i++) {
        if (m_pTypSiz[i] == 0.0)
            m_pTypSiz[i] = 1.0;
        if (m_pTypSiz[i] < 0.0)
            m_pTypSiz[i] = -m_pTypSiz[i];
        m_pScaleX[i] = 1.0 / m_pTypSiz[i];
    }
    if (m_dStepMax <= 0.0) {
        double stpsiz = 0.0;
        for (int i = 0; i < n; i++)
            stpsiz += (m_pX[i] * m_pX[i]) * (m_pScaleX[i] * m_pScaleX[i]);
        const double a = 1000.0 * std::sqrt(stpsiz);
        m_dStepMax = a > 1000.0 ? a : 1000.0;
    }
    if (m_dTypicalF == 0.0)
        m_dTypicalF = 1.0;
    if (m_dTypicalF < 0.0)
        m_dTypicalF = -m_dTypicalF;
    if (m_dGradTol < 0.0) {
        if (m_pStatusView)
            m_pStatusView->Print("OPTCHK   Illegal tolerance, gradtl = %le", m_dGradTol);
        return;
    }
    if (m_dCGTol < 0.0) {
        if (m_pStatusView)
            m_pStatusView->Print("OPTCHK   Illegal tolerance, gradtl = %le", m_dCGTol);
        return;
    }
    if (m_nIterationLimit < 0) {
        if (m_pStatusView)
            m_pStatusView->Print("OPTCHK   Illegal iteration limit itnlim = %d", m_nIterationLimit);
        return;
    }
    if (m_nDigits == 0) {
        if (m_pStatusView)
            m_pStatusView->Print("nOPTCHK   Minimization function has no good digits, ndigit = %d",
                                 m_nDigits);
        return;
    }
    if (m_nDigits < 0)
        m_nDigits = static_cast<int>(-std::log(m_dEpsilon) / std::log(10.0));
    if (m_dTrustRadius <= 0.0)
        m_dTrustRadius = -1.0;
    if (m_dTrustRadius > m_dStepMax)
        m_dTrustRadius = m_dStepMax;
}
