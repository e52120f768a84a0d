#pragma once

#include "host/data/Parameters.h"
#include "minimize/UnconstrainedMinimization.h"

class CiDataInterchange;
class CCompItem;

// Numeric engine options a host may want to set for every run of the tool. Unset
// fields (NaN, or the sentinel values below) leave the engine's defaults alone.
struct VRNMinimizerOptions {
    double gradientTolerance = kUnset; // relative gradient test
    double stepTolerance = kUnset;     // relative step test
    double maximumStep = kUnset;       // maximum scaled step length
    double trustRadius = kUnset;       // initial trust radius
    int numberOfDigits = kUnsetInt;    // good digits in the objective value
    int messageBits = kUnsetInt;       // message control bits
    double cgTolerance = kUnset;       // conjugate-gradient function tolerance
    std::vector<double> typicalX;      // typical sizes of x (empty: |x0|)

    // Sets the fields that are set on the engine (after its Default()).
    void ApplyTo(CVRNUnconstrainedMinimization& engine) const;

    static constexpr double kUnset = -1.0e300;
    static constexpr int kUnsetInt = -2147483647;
};

// Front end of the minimizer: owns one engine, holds the user's implementation choices
// as named parameters and runs the engine up to ten times in a row (each run starting
// from the point the problem's InitialParameters returns), or step by step.
class VRNMinimizerTool {
public:
    VRNMinimizerTool();
    virtual ~VRNMinimizerTool();
    VRNMinimizerTool(const VRNMinimizerTool&) = delete;
    VRNMinimizerTool& operator=(const VRNMinimizerTool&) = delete;

    void SetMinimizationMethodObject(CVRNMinimizationMethodBase* problem) { m_pMinimizationMethod = problem; }
    void InstallTestView(CVRNMessageSink* view);

    CIntPar& GetbFunctionExpensiveToCalculate() { return m_bExpensive; }
    CIntPar& GetbUserDefinedGradient() { return m_bUserGradient; }
    CIntPar& GetbUserDefinedHessian() { return m_bUserHessian; }
    CIntPar& bShowDiag() { return m_Minimizer.m_bShowDiag; }
    CIntPar& bShowHessian() { return m_Minimizer.m_bShowHessian; }
    CIntPar& bCheckGradient() { return m_Minimizer.m_bCheckGradient; }
    CIntPar& bCheckHessian() { return m_Minimizer.m_bCheckHessian; }
    void OnShowDiagnosticChanged(CCompItem* item);

    // Runs to the end, restarting while a run takes iterations (at most 10 runs) and
    // no abort was requested during it.
    void Minimize(int method);
    void FirstStep(int method);
    void NextStep();
    bool bNextStep() const { return m_Minimizer.bNextStep(); }
    void Abort() { m_Minimizer.Abort(); }
    CiDataInterchange* GetInterchange();

    // Options applied after the engine's Default() on every run and first step.
    void SetOptions(const VRNMinimizerOptions& options) { m_Options = options; }
    const VRNMinimizerOptions& GetOptions() const { return m_Options; }
    // Runs made by the last Minimize.
    int GetRunCount() const { return m_nRuns; }
    CVRNUnconstrainedMinimization& GetEngine() { return m_Minimizer; }

private:
    void PrepareEngine();

    CVRNMinimizationMethodBase* m_pMinimizationMethod = nullptr;
    CVRNUnconstrainedMinimization m_Minimizer;
    CVRNMessageSink* m_pTestView = nullptr;
    CIntPar m_bExpensive;
    CIntPar m_bUserGradient;
    CIntPar m_bUserHessian;
    VRNMinimizerOptions m_Options;
    int m_nRuns = 0;
};
