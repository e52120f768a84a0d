// The Newton-type driver: run and step modes, one iteration, accepting and undoing steps.
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

namespace {

// 10^e by repeated squaring; a negative exponent inverts the result.
double IntegerPowerOfTen(int e) {
    const bool negative = e < 0;
    unsigned int m = negative ? 0u - static_cast<unsigned int>(e) : static_cast<unsigned int>(e);
    double result = 1.0;
    double base = 10.0;
    while (m != 0) {
        if (m & 1u)
            result *= base;
        m >>= 1;
        if (m != 0)
            base *= base;
    }
    return negative ? 1.0 / result : result;
}

} // namespace

void CVRNUnconstrainedMinimization::SaveAsNeg(double* dst, double* src) {
    for (int i = 0; i < m_nParameters; i++)
        dst[i] = -src[i];
}

void CVRNUnconstrainedMinimization::Minimize(CVRNMinimizationMethodBase* problem, double typicalF, int itnlim,
                                             int method) {
    // A request left from before this run is stale. One made from here on, also while
    // the run is being set up (InitialParameters, another thread), ends the run.
    m_bAbort = false;
    RunMinimize(problem, typicalF, itnlim, method);
}

void CVRNUnconstrainedMinimization::RunMinimize(CVRNMinimizationMethodBase* problem, double typicalF,
                                                int itnlim, int method) {
    m_bStepMode = false;
    BeginRecord(problem);
    // The method decides whether the arrays include the n x n model Hessian.
    m_nMethod = method;
    AllocateTempArrays();
    m_nIterationLimit = itnlim;
    m_dTypicalF = typicalF;
    if (!DiagnosticPlotsInstalled())
        m_bShowDiag = 0;

    if (method == 4) {
        if (m_nParameters > 0) {
            ConjugateGradient();
        } else {
            // Nothing to minimize: refused like the other methods refuse it.
            m_nTerminationCode = OptionCheck;
            if (m_pStatusView)
                m_pStatusView->Print("OPTCHK   Illegal dimension, n = %d", m_nParameters);
        }
    } else {
        Minimize();
        // A run that stops at the iteration limit has not converged: say so instead of
        // leaving the code of the last stopping test (0, "Optimal Solution").
        if (m_nTerminationCode.load() == OptimalSolution && m_nIterationCount >= m_nIterationLimit &&
            !m_bAbort.load())
            m_nTerminationCode = TooManyIterations;
    }
    if (m_pStatusView)
        m_pStatusView->Print("%s", static_cast<const char*>(GetTerminationCode()));
    FinishRecord(true);
    DeAllocateTempsArrays();
    m_pMethod = nullptr;
}

void CVRNUnconstrainedMinimization::FirstStep(CVRNMinimizationMethodBase* problem, double typicalF,
                                              int itnlim, int method) {
    m_bAbort = false; // only a request older than this session is cleared
    RunFirstStep(problem, typicalF, itnlim, method);
}

void CVRNUnconstrainedMinimization::RunFirstStep(CVRNMinimizationMethodBase* problem, double typicalF,
                                                 int itnlim, int method) {
    m_bStepMode = true;
    BeginRecord(problem);
    m_nMethod = method;
    AllocateTempArrays();
    m_dTypicalF = typicalF;
    m_nIterationLimit = 1;
    m_bInFirstStep = true;
    Minimize();
    m_bInFirstStep = false;
    m_nIterationLimit = itnlim;
    FinishRecord(m_nTerminationCode.load() != OptimalSolution);
}

void CVRNUnconstrainedMinimization::Minimize() {
    const int n = m_nParameters;
    m_dMuSave = 0.0;
    m_dPrevRadiusSave = 0.0;
    m_dPhiSave = 0.0;
    m_dPhiPrime0Save = 0.0;
    m_dTrustRadiusSave = 0.0;
    m_nStepResult = -1;

    CheckOptions();
    // Without parameters there is nothing to evaluate: the option check has reported
    // the illegal dimension and the run ends with its code.
    if (n <= 0)
        return;
    // Every method of this driver keeps a model Hessian (step mode runs method 4 as
    // method 1, and CheckOptions has just said so).
    SizeModelHessian();

    const double tenPower = IntegerPowerOfTen(-m_nDigits);
    m_dNoise = tenPower > m_dEpsilon ? tenPower : m_dEpsilon;
    const double rootNoise = std::sqrt(m_dNoise);
    m_dAnalyticTol = rootNoise < 0.01 ? 0.01 : rootNoise;

    if (MessagesOn()) {
        m_pStatusView->Print("OPTDRV          Typical x");
        PrintVector(m_pTypSiz, n);
        m_pStatusView->Print("OPTDRV      Scaling vector for x");
        PrintVector(m_pScaleX, n);
        m_pStatusView->Print("OPTDRV      Typical f = %lf", m_dTypicalF);
        m_pStatusView->Print("OPTDRV      Number of good digits in Error = %d", m_nDigits);
        m_pStatusView->Print("OPTDRV      Gradient flag = %d", m_bGradientFlag ? 1 : 0);
        m_pStatusView->Print("OPTDRV      Hessian flag  = %d", m_bHessianFlag ? 1 : 0);
        m_pStatusView->Print("OPTDRV      Expensive function calculation flag = %d",
                             m_bExpensiveFxFlag ? 1 : 0);
        m_pStatusView->Print("OPTDRV      Method to use = %d", m_nMethod);
        m_pStatusView->Print("OPTDRV      Iteration limit = %d", m_nIterationLimit);
        m_pStatusView->Print("OPTDRV      Machine epsilon = %le", m_dEpsilon);
        m_pStatusView->Print("OPTDRV      Maximum step size = %lf", m_dStepMax);
        m_pStatusView->Print("OPTDRV      Step tolerance = %lf", m_dStepTol);
        m_pStatusView->Print("OPTDRV      Gradient tolerance = %le", m_dGradTol);
        m_pStatusView->Print("OPTDRV      Trust region radius = %lf", m_dTrustRadius);
        m_pStatusView->Print("OPTDRV      Relative noise in Error = %lf", m_dNoise);
        m_pStatusView->Print("OPTDRV      Analytical fd tolerance = %lf", m_dAnalyticTol);
    }

    m_dF = m_pMethod->Fx(m_pX);
    if (m_pStatusView)
        m_pStatusView->Print("Initial Error  %15lf\n", m_dF);

    if (!m_bGradientFlag) {
        ForwardFiniteDifferenceGradient(m_pX, m_dF, m_pGrad);
    } else {
        m_pMethod->Gradient(m_pX, m_pGrad);
        if (m_bCheckGradient)
            CheckGradient();
    }

    Terminate(m_pX, m_dF, m_pGrad, m_pWrk1);
    NotifyRunStart();
    if (m_nTerminationCode.load() != OptimalSolution) {
        UndoStep();
        return;
    }

    if (m_bExpensiveFxFlag) {
        InitializeHessianSecantUpdates(m_Hessian, m_pScaleX);
    } else if (!m_bHessianFlag) {
        if (m_bGradientFlag)
            FiniteDifferenceHessian(m_pX, m_pGrad, m_Hessian, m_pScaleX, m_pWrk1);
        else
            SecondOrderFiniteDifferenceHessian(m_pX, m_dF, m_Hessian, m_pScaleX, m_pWrk1, m_pWrk2);
    } else {
        m_pMethod->Hessian(m_pX, m_Hessian);
        if (m_bCheckHessian)
            CheckHessian();
    }
    m_HessianStorage = m_bExpensiveFxFlag && m_nMethod != 3 ? HessianStorage::Factor : HessianStorage::Lower;

    if (MessagesOn())
        result(m_pX, m_dF, m_pGrad, m_Hessian, m_pStep, 0);
    if (m_bShowDiag)
        InitilizeDiagnosticArrays();

    while (m_nTerminationCode.load() == OptimalSolution && m_nIterationCount < m_nIterationLimit) {
        if (m_bAbort.load()) {
            m_nTerminationCode = AbortedByUser;
            break;
        }
        TakeOneStep();
        m_bFirstIteration = false;
        if (m_bShowDiag)
            SetDiagnosticArrays();
    }

    if (MessagesOn())
        result(m_pXMin, m_dFPlus, m_pGradMin, m_Hessian, m_pStep, 0);
}

void CVRNUnconstrainedMinimization::TakeOneStep() {
    const int n = m_nParameters;
    m_nIterationCount++;
    if (m_pStatusView)
        m_pStatusView->Print("Iteration Number :  %d\n", m_nIterationCount);

    const bool expensive = static_cast<bool>(m_bExpensiveFxFlag);
    const bool analyticGradient = static_cast<bool>(m_bGradientFlag);

    // With secant updates, methods 1 and 2 keep the factor itself up to date.
    if (!(expensive && m_nMethod != 3))
        DecomposeHessianLLPD(m_Hessian, m_pUDiag);

    SaveAsNeg(m_pWrk1, m_pGrad);
    LLTransposeSolve(m_Hessian, m_pStep, m_pWrk1);

    if (!analyticGradient && m_nMethod != 1) {
        m_dTrustRadiusSave = m_dTrustRadius;
        if (m_nMethod != 2) {
            m_dMuSave = m_dMu;
            m_dPrevRadiusSave = m_dPrevRadius;
            m_dPhiSave = m_dPhi;
            m_dPhiPrime0Save = m_dPhiPrime0;
        }
    }

    if (m_nMethod == 1)
        LineSearch();
    else if (m_nMethod == 2)
        DoubleDogleg();
    else
        MoreHebden();

    // A failed step with a forward-difference gradient may be due to its truncation
    // error: switch to central differences for good and retry the global step.
    if (m_nStepResult == 1 && !analyticGradient) {
        m_bCentralDifferences = 1;
        if (m_pStatusView)
            m_pStatusView->Print("OPTDRV      Shift from forward to central differences in iteration %d",
                                 m_nIterationCount);
        CentralFiniteDifferenceGradient(m_pX, m_pScaleX, m_pGrad);
        if (m_nMethod == 1) {
            SaveAsNeg(m_pWrk1, m_pGrad);
            LLTransposeSolve(m_Hessian, m_pStep, m_pWrk1);
            LineSearch();
        } else if (m_nMethod == 2) {
            m_dTrustRadius = m_dTrustRadiusSave;
            SaveAsNeg(m_pWrk1, m_pGrad);
            LLTransposeSolve(m_Hessian, m_pStep, m_pWrk1);
            DoubleDogleg();
        } else {
            m_dMu = m_dMuSave;
            m_dPrevRadius = m_dPrevRadiusSave;
            m_dPhi = m_dPhiSave;
            m_dPhiPrime0 = m_dPhiPrime0Save;
            // The lower triangle holds a Cholesky factor by now; factor the model
            // Hessian kept in the upper triangle and the diagonal vector instead.
            RebuildHessianFromUpper(m_Hessian, m_pUDiag);
            DecomposeHessianLLPD(m_Hessian, m_pUDiag);
            SaveAsNeg(m_pWrk1, m_pGrad);
            LLTransposeSolve(m_Hessian, m_pStep, m_pWrk1);
            MoreHebden();
        }
    }

    for (int i = 0; i < n; i++)
        m_pStep[i] = m_pXMin[i] - m_pX[i];
    m_pMethod->CommitStep(m_pXMin, n);
    for (int i = 0; i < n; i++)
        m_pStep[i] = m_pXMin[i] - m_pX[i];

    m_dFPlus = m_pMethod->Fx(m_pXMin);
    // A candidate whose value is not finite is never accepted (CommitStep may have moved
    // it, or the objective is not a function of x alone): the step counts as failed.
    if (m_nStepResult == 0 && !std::isfinite(m_dFPlus))
        m_nStepResult = 1;
    NotifyTrialPoint();

    if (analyticGradient)
        m_pMethod->Gradient(m_pXMin, m_pGradMin);
    else if (m_bCentralDifferences)
        CentralFiniteDifferenceGradient(m_pXMin, m_pScaleX, m_pGradMin);
    else
        ForwardFiniteDifferenceGradient(m_pXMin, m_dFPlus, m_pGradMin);

    Terminate(m_pXMin, m_dFPlus, m_pGradMin, m_pX);

    if (m_nTerminationCode.load() == OptimalSolution) {
        if (expensive) {
            // Secant updates keep the Hessian whenever the objective is expensive.
            if (m_nMethod == 3)
                SecantUnfactored(m_pX, m_pGrad, m_Hessian, m_pUDiag, m_pXMin, m_pGradMin, m_bNoUpdate,
                                 m_pWrk1, m_pWrk2, m_pWrk3);
            else
                SecantFactored(m_pX, m_pGrad, m_Hessian, m_pXMin, m_pGradMin, m_bNoUpdate, m_pWrk0, m_pWrk1,
                               m_pWrk2, m_pWrk3);
        } else if (m_bHessianFlag) {
            m_pMethod->Hessian(m_pXMin, m_Hessian);
        } else if (analyticGradient) {
            FiniteDifferenceHessian(m_pXMin, m_pGradMin, m_Hessian, m_pScaleX, m_pWrk1);
        } else {
            SecondOrderFiniteDifferenceHessian(m_pXMin, m_dFPlus, m_Hessian, m_pScaleX, m_pWrk1, m_pWrk2);
        }
        m_HessianStorage = expensive && m_nMethod != 3 ? HessianStorage::Factor : HessianStorage::Lower;
        if (m_pStatusView && (m_nMsg / 16) % 2 == 1)
            result(m_pXMin, m_dFPlus, m_pGradMin, m_Hessian, m_pStep, 0);
        SaveStep();
        NotifyAcceptedStep(m_pX, m_dF, m_pGrad);
    } else if (m_nTerminationCode.load() != NoLowerPoint) {
        // The candidate that a stopping test judged (codes 1, 2, 5) is where the run ends.
        NotifyAcceptedStep(m_pXMin, m_dFPlus, m_pGradMin);
    }
    if (m_nTerminationCode.load() == NoLowerPoint)
        UndoStep();

    // An abort requested during this iteration ends the run or the step session here.
    if (m_bAbort.load()) {
        int expected = OptimalSolution;
        m_nTerminationCode.compare_exchange_strong(expected, AbortedByUser);
    }
    // Step mode: the record follows every step the host asks for.
    if (m_bStepMode.load() && !m_bInFirstStep)
        FinishRecord(m_nTerminationCode.load() != OptimalSolution);
}

void CVRNUnconstrainedMinimization::SaveStep() {
    const int n = m_nParameters;
    m_dF = m_dFPlus;
    for (int i = 0; i < n; i++)
        m_pX[i] = m_pXMin[i];
    for (int i = 0; i < n; i++)
        m_pGrad[i] = m_pGradMin[i];
    UpdateDiagGrid();
}

void CVRNUnconstrainedMinimization::UndoStep() {
    const int n = m_nParameters;
    m_dFPlus = m_dF;
    for (int i = 0; i < n; i++)
        m_pXMin[i] = m_pX[i];
    for (int i = 0; i < n; i++)
        m_pGradMin[i] = m_pGrad[i];
    UpdateDiagGrid();
}

bool CVRNUnconstrainedMinimization::ModelIsFinite() {
    const int n = m_nParameters;
    for (int i = 0; i < n; i++)
        if (!std::isfinite(m_pGrad[i]) || !std::isfinite(m_pStep[i]))
            return false;
    // The factor L is in the lower triangle. Unless the factored secant update of
    // methods 1 and 2 keeps it, this iteration factored the Hessian kept in the strict
    // upper triangle and the diagonal vector, which the trust-region update reads too.
    // (A Hessian that is not finite factors to zero pivots and a zero Newton step.)
    const bool factored = !(m_bExpensiveFxFlag && m_nMethod != 3);
    CMatrix& a = m_Hessian;
    for (int i = 0; i < n; i++) {
        for (int j = 0; j <= i; j++)
            if (!std::isfinite(a[i][j]))
                return false;
        if (!factored)
            continue;
        if (!std::isfinite(m_pUDiag[i]))
            return false;
        for (int j = i + 1; j < n; j++)
            if (!std::isfinite(a[i][j]))
                return false;
    }
    return true;
}

void CVRNUnconstrainedMinimization::NoSatisfactoryPoint() {
    const int n = m_nParameters;
    m_nStepResult = 1;
    m_bMaxStepTaken = false;
    for (int i = 0; i < n; i++)
        m_pXMin[i] = m_pX[i];
    m_dFPlus = m_dF;
}
