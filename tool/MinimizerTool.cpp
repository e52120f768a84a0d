// The minimizer tool: restarts, step mode and the options applied to every run.
#include "tool/MinimizerTool.h"

VRNMinimizerTool::VRNMinimizerTool() {
    m_bExpensive.Init(
        "0|fxn Expensive to Calculate|fxn Expensive to Calculate|fxn Expensive to Calculate|fxn "
        "Expensive to Calculate|MA_NULL");
    m_bUserGradient.Init("0|User Defined Gradient|User Defined Gradient|User Defined Gradient|User Defined "
                         "Gradient|MA_NULL");
    m_bUserHessian.Init(
        "0|User Defined Hessian|User Defined Hessian|User Defined Hessian|User Defined Hessian|MA_NULL");
    m_bExpensive = 0;
    m_bUserGradient = 1;
    m_bUserHessian = 1;
}

VRNMinimizerTool::~VRNMinimizerTool() = default;

void VRNMinimizerTool::InstallTestView(CVRNMessageSink* view) {
    m_pTestView = view;
    m_Minimizer.SetStatusView(view);
}

void VRNMinimizerTool::OnShowDiagnosticChanged(CCompItem* item) {
    (void)item;
    m_Minimizer.OnShowDiagnosticChanged();
}

void VRNMinimizerOptions::ApplyTo(CVRNUnconstrainedMinimization& engine) const {
    const VRNMinimizerOptions& o = *this;
    if (o.gradientTolerance != VRNMinimizerOptions::kUnset)
        engine.SetGradientTolerance(o.gradientTolerance);
    if (o.stepTolerance != VRNMinimizerOptions::kUnset)
        engine.SetStepTolerance(o.stepTolerance);
    if (o.maximumStep != VRNMinimizerOptions::kUnset)
        engine.SetMaximumStep(o.maximumStep);
    if (o.trustRadius != VRNMinimizerOptions::kUnset)
        engine.SetTrustRadius(o.trustRadius);
    if (o.numberOfDigits != VRNMinimizerOptions::kUnsetInt)
        engine.SetNumberOfDigits(o.numberOfDigits);
    if (o.messageBits != VRNMinimizerOptions::kUnsetInt)
        engine.SetMessageBits(o.messageBits);
    if (o.cgTolerance != VRNMinimizerOptions::kUnset)
        engine.SetCGTolerance(o.cgTolerance);
    engine.SetTypicalX(o.typicalX);
}

void VRNMinimizerTool::PrepareEngine() {
    m_Minimizer.Default();
    m_Minimizer.SetImplementationOptions(static_cast<bool>(m_bUserGradient),
                                         static_cast<bool>(m_bUserHessian), static_cast<bool>(m_bExpensive));
    m_Options.ApplyTo(m_Minimizer);
}

void VRNMinimizerTool::Minimize(int method) {
    // One abort request for all the runs: a stale one is cleared here, and one made
    // during any run (or between runs) ends the restarts after that run, also when the
    // run ended on a stopping test of its own before it could honour the request.
    m_Minimizer.m_bAbort = false;
    if (m_pTestView)
        m_pTestView->Clear();
    const bool checkGradient = m_Minimizer.GetbCheckGradient();
    const bool checkHessian = m_Minimizer.GetbCheckHessian();
    m_nRuns = 0;
    int count = 0;
    int code = 0;
    do {
        PrepareEngine();
        m_Minimizer.SetIterationCount(0);
        m_Minimizer.RunMinimize(m_pMinimizationMethod, 1.0, 100000, method);
        m_Minimizer.DisableGradientHessianCheck();
        m_nRuns++;
        count = m_Minimizer.GetIterationCount();
        code = m_Minimizer.GetCodeforTerminationCode();
        m_pMinimizationMethod->SetIterations(count);
        if (m_pTestView)
            m_pTestView->Print("\n");
    } while (count > 0 && m_nRuns < 10 && code != AbortedByUser && !m_Minimizer.bAbortRequested());
    m_Minimizer.EnableGradientHessianCheck(checkGradient, checkHessian);
}

void VRNMinimizerTool::FirstStep(int method) {
    m_Minimizer.m_bAbort = false;
    if (m_pTestView)
        m_pTestView->Clear();
    PrepareEngine();
    m_Minimizer.SetStepCalc();
    m_Minimizer.SetIterationCount(0);
    m_Minimizer.RunFirstStep(m_pMinimizationMethod, 1.0, 100000, method);
    m_Minimizer.SaveStep();
    m_pMinimizationMethod->SetIterations(m_Minimizer.GetIterationCount());
}

void VRNMinimizerTool::NextStep() {
    m_Minimizer.TakeOneStep();
    m_pMinimizationMethod->SetIterations(m_Minimizer.GetIterationCount());
}
