#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"
#include "host/framework/String.h"
#include "host/matrix/Matrix.h"
#include "minimize/CountingProblem.h"
#include "minimize/DiagnosticsDisplay.h"
#include "minimize/IterationObserver.h"
#include "minimize/MessageSink.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/RunRecord.h"
#include "threads/EvaluationPool.h"

class CiDataInterchange;
// The host document whose views show the diagnostics; the engine only passes the
// pointer on to its diagnostics display.
class CDocument;

template <class Tag> struct CVRNEngineProbe;

// Result of the last stopping test of the engine.
enum TerminationCode : int {
    OptimalSolution = 0,
    GradientSmall = 1,
    StepSizeSmall = 2,
    NoLowerPoint = 3,
    TooManyIterations = 4,
    TooManyLargeSteps = 5,
    OptionCheck = 6,
    AbortedByUser = 7
};

// Unconstrained minimizer of a problem derived from CVRNMinimizationMethodBase.
//
// Methods: 1 line search, 2 double dogleg, 3 More-Hebden hook step (default),
// 4 Polak-Ribiere conjugate gradient. Missing derivatives are replaced by finite
// differences; with the expensive flag the Hessian is kept by BFGS secant updates.
//
// Model Hessian storage (m_Hessian): before factorization its lower triangle holds
// the symmetric Hessian; afterwards the lower triangle holds the Cholesky factor L,
// the strict upper triangle the off-diagonal Hessian and m_UDiag the (perturbed)
// diagonal.
//
// Threads: a run takes place on the caller's thread. Abort() may be called from any
// thread while a run or a step is in progress. With SetEvaluationThreads(k), k > 1,
// and a problem whose bConcurrentEvaluation() says yes, the points of a
// finite-difference gradient or Hessian (and of the derivative checks) are evaluated
// on up to k threads at once, each on its own copy of x; the results, the status log and
// the evaluation counts are those of the one-thread run, bit for bit. Engines share
// no state: separate engines may run on separate threads at the same time.
class CVRNUnconstrainedMinimization {
public:
    CVRNUnconstrainedMinimization();
    ~CVRNUnconstrainedMinimization();
    CVRNUnconstrainedMinimization(const CVRNUnconstrainedMinimization&) = delete;
    CVRNUnconstrainedMinimization& operator=(const CVRNUnconstrainedMinimization&) = delete;

    // ---- Options and state ----
    void Default();
    void SetImplementationOptions(bool gradient, bool hessian, bool expensive);
    int GetIterationCount() const { return m_nIterationCount; }
    void SetIterationCount(int k) { m_nIterationCount = k; }
    double GetFx() const { return m_dF; }
    // The working matrix of the model Hessian: n x n for methods 1 to 3, sized when a
    // run of one of them starts; a conjugate-gradient run (method 4) never sizes it and
    // empties it (0 x 0) when an earlier run left one.
    CMatrix& GetHessian() { return m_Hessian; }
    // The model Hessian as a full symmetric n x n copy, whatever form the working
    // matrix is in (lower triangle before factorization; factor, strict upper triangle
    // and diagonal vector after it; the factor alone for secant updates of methods 1
    // and 2, where the model is L L^T). Empty (0 x 0) when the last run built none
    // (method 4, or a run that stopped before its first Hessian). Leaves the engine
    // as it is.
    CMatrix GetModelHessian() const;
    TerminationCode GetCodeforTerminationCode() const {
        return static_cast<TerminationCode>(m_nTerminationCode.load());
    }
    CString& GetTerminationCode();
    void SetStepCalc() { m_bStepCalc = true; }
    void Abort();
    // An abort was requested since the last run or step session began (also when the
    // run then ended on a stopping test of its own before it could honour it).
    bool bAbortRequested() const { return m_bAbort.load(); }
    bool bNextStep() const;
    CIntPar& GetbResidualPlotInTrackingMode() { return m_bTrack; }
    void DisableGradientHessianCheck();
    void EnableGradientHessianCheck(bool gradient, bool hessian);
    bool GetbCheckGradient() const { return static_cast<bool>(m_bCheckGradient); }
    bool GetbCheckHessian() const { return static_cast<bool>(m_bCheckHessian); }
    void AllocateTempArrays();
    void DeAllocateTempsArrays() {}
    CiDataInterchange* GetInterchange();

    // Where messages go (the status view, or any other sink); null (the default) means
    // no output at all.
    void SetStatusView(CVRNMessageSink* view) { m_pStatusView = view; }
    CVRNMessageSink* GetStatusView() const { return m_pStatusView; }

    // Observers of the iterations (borrowed; added once, called in the order added).
    void AddObserver(CVRNIterationObserver* observer);
    void RemoveObserver(CVRNIterationObserver* observer);
    // The display of the diagnostic histories, plots and grids (borrowed; null: none).
    // It is also told the iteration events.
    void SetDiagnosticsDisplay(CVRNDiagnosticsDisplay* display);
    CVRNDiagnosticsDisplay* GetDiagnosticsDisplay() const { return m_pDiagnostics; }

    // What the last run gave: code, point, counts, derivative checks and, when
    // SetRecordIterations(true) was called, one record per accepted step. Filled at the
    // end of Minimize, FirstStep and every step of step mode.
    const CVRNRunRecord& GetRunRecord() const { return m_Record; }
    void SetRecordIterations(bool on) { m_bRecordIterations = on; }
    bool GetRecordIterations() const { return m_bRecordIterations; }

    // Numeric options. Default() overwrites all of them, so set them after Default().
    // Gradient tolerance gradtl (default eps^(1/3) = 4.82e-6): the relative gradient test.
    void SetGradientTolerance(double v) { m_dGradTol = v; }
    double GetGradientTolerance() const { return m_dGradTol; }
    // Step tolerance steptl (default sqrt(eps) = 1.06e-8): the relative step test.
    void SetStepTolerance(double v) { m_dStepTol = v; }
    double GetStepTolerance() const { return m_dStepTol; }
    // Maximum scaled step stepmx (default 0: computed from the start point, at least 1000).
    void SetMaximumStep(double v) { m_dStepMax = v; }
    double GetMaximumStep() const { return m_dStepMax; }
    // Initial trust radius (default -1: the scaled Cauchy step length is used).
    void SetTrustRadius(double v) { m_dTrustRadius = v; }
    double GetTrustRadius() const { return m_dTrustRadius; }
    // Good digits in the objective value (default -1: derived from the machine epsilon).
    void SetNumberOfDigits(int v) { m_nDigits = v; }
    int GetNumberOfDigits() const { return m_nDigits; }
    // Message control bits (default 0): 8 no listing/stopping messages, 16 iterate line
    // after every iteration, 2/4 accept the analytic gradient/Hessian unchecked.
    void SetMessageBits(int v) { m_nMsg = v; }
    int GetMessageBits() const { return m_nMsg; }
    // Function tolerance of the conjugate-gradient method (default 1e-10).
    void SetCGTolerance(double v) { m_dCGTol = v; }
    double GetCGTolerance() const { return m_dCGTol; }
    // Typical sizes of x. Every run resets them to |x0| unless set here: the values
    // given are applied after the start point is loaded (an empty vector clears them).
    void SetTypicalX(const std::vector<double>& typsiz) { m_UserTypSiz = typsiz; }
    const std::vector<double>& GetTypicalX() const { return m_UserTypSiz; }
    int GetMethod() const { return m_nMethod; }
    int GetIterationLimit() const { return m_nIterationLimit; }
    int GetNumberOfParameters() const { return m_nParameters; }
    // Current point, candidate point and gradients (n values each).
    const double* GetX() const { return m_pX; }
    const double* GetXMin() const { return m_pXMin; }
    const double* GetGradient() const { return m_pGrad; }
    const double* GetGradMin() const { return m_pGradMin; }
    double GetFPlus() const { return m_dFPlus; }
    int GetStepResult() const { return m_nStepResult; }

    // Threads that evaluate the points of a finite-difference estimate (default 1: all
    // on the caller's thread, and no thread is ever created). With k > 1 a pool is
    // made when a run first needs it, and only for a problem that allows concurrent
    // evaluation (CVRNMinimizationMethodBase::bConcurrentEvaluation); the caller's
    // thread takes part. The pool has no more threads than an estimate of the run has
    // points (n for a forward-difference gradient or a Hessian from gradients, 2n when
    // the gradient is estimated, since it may turn to central differences, n + n(n+1)/2
    // for a Hessian from function values), and fewer when the system cannot start
    // them. Values below 1 count as 1, values above VRNMaxEvaluationThreads() as that
    // maximum. Not to be called while a run or a step is in progress.
    void SetEvaluationThreads(int k);
    int GetEvaluationThreads() const { return m_nEvaluationThreads; }

    // ---- Running ----
    void Minimize(CVRNMinimizationMethodBase* problem, double typicalF, int itnlim, int method);
    void FirstStep(CVRNMinimizationMethodBase* problem, double typicalF, int itnlim, int method);
    void TakeOneStep();
    void SaveStep();
    void UndoStep();

    // ---- Diagnostics display ----
    // The installs below remember the document and identifier and hand the work to the
    // diagnostics display (SetDiagnosticsDisplay); without one they only remember.
    void OnShowDiagnosticChanged();
    // Plots of the objective, gradient and parameter histories, in the plot frame
    // views of the document with these identifiers. All three must be installed for
    // the public Minimize to record diagnostics.
    void InstallResidualPlot(CDocument* doc, const char* id);
    void InstallGradientPlot(CDocument* doc, const char* id);
    void InstallParametersPlot(CDocument* doc, const char* id);
    void InstallResidualPlot();
    void InstallGradientPlot();
    void InstallParametersPlot();
    // The working arrays as columns of a grid view, and the model Hessian in matrix
    // views (both matrix views show the same matrix; only the Hessian view is repainted).
    void InstallDiagnosticGrid(CDocument* doc, const char* id);
    void InstallJacobianGrid(CDocument* doc, const char* id);
    void InstallHessianGrid(CDocument* doc, const char* id);
    void InstallDiagnosticGrid();
    void InstallJacobianGrid();
    void InstallHessianGrid();

    // What a diagnostics display reads: the histories, the plot ranges and colour
    // table, the document and identifiers, and the switches.
    CDblHdr& GetErrorHistory() { return m_ErrorHistory; }
    CDblHdr& GetIterationArray() { return m_IterationArray; }
    std::vector<CDblHdr>& GetGradientHistory() { return m_GradientHistory; }
    std::vector<CDblHdr>& GetParameterHistory() { return m_ParameterHistory; }
    void GetGradientPlotRange(double& lo, double& hi) const {
        lo = m_dGradPlotMin;
        hi = m_dGradPlotMax;
    }
    void GetParametersPlotRange(double& lo, double& hi) const {
        lo = m_dParamPlotMin;
        hi = m_dParamPlotMax;
    }
    const std::vector<unsigned long>& GetColors() const { return m_Colors; }
    CDocument* GetDocument() const { return m_pDocument; }
    const CString& GetDisplayID(CVRNDiagnosticsDisplay::Target which) const;
    bool bShowDiagnostics() const { return static_cast<bool>(m_bShowDiag); }
    bool bShowHessian() const { return static_cast<bool>(m_bShowHessian); }
    bool bTracking() const { return static_cast<bool>(m_bTrack); }
    bool bArraysAllocated() const { return m_nAllocated != 0; }
    // The fourteen columns of the diagnostic grid, in their order: x0, x, udiag, typsiz,
    // g, step, sx, wrk0 to wrk3, the objective history, g+ and x+.
    static constexpr int kDiagnosticColumns = 14;
    void GetDiagnosticColumns(CBaseHdr* columns[kDiagnosticColumns]);

private:
    // White-box access for unit tests: each test defines its own specialization.
    template <class Tag> friend struct CVRNEngineProbe;
    friend class VRNMinimizerTool;

    // Driver and options
    // The public Minimize and FirstStep without clearing an earlier abort request (the
    // tool clears it once for all its runs).
    void RunMinimize(CVRNMinimizationMethodBase* problem, double typicalF, int itnlim, int method);
    void RunFirstStep(CVRNMinimizationMethodBase* problem, double typicalF, int itnlim, int method);
    void Minimize();
    void CheckOptions();
    void SaveAsNeg(double* dst, double* src);
    void SetSize(int n);
    // Sizes the model Hessian to n x n unless it has that size already (methods 1 to 3).
    void SizeModelHessian();
    void RefreshArrayPointers();
    bool MessagesOn() const;

    // Stopping tests and report
    void Terminate(double* const xplus, double fplus, double* const gplus, double* const xprev);
    void result(double* const x, double f, double* const g, CMatrix& a, double* const p, int full);
    void PrintVector(double* v, int count);
    void MultilplyByScaler(double s, double* const in, double* const out);

    // Factorization and solves
    void DecomposeHessianLLPD(CMatrix& a, double* const d);
    void CholeskyDecomposition(CMatrix& a, double dmax, double tol, double* const added);
    void ForwardSolve(CMatrix& l, double* const x, double* const b);
    void BackSolve(CMatrix& l, double* const x, double* const b);
    void LLTransposeSolve(CMatrix& l, double* const x, double* const b);
    void MVMultLowerTriangMatrix(CMatrix& l, double* const x, double* const y);
    void MVMultUpperTriangMatrix(CMatrix& l, double* const x, double* const y);
    void MVMultSymmetricMatrix(CMatrix& a, double* const x, double* const y);
    // Rebuilds the model Hessian in the lower triangle from the strict upper triangle
    // and the diagonal vector d.
    void RebuildHessianFromUpper(CMatrix& a, double* const d);

    // Global strategies
    void LineSearch();
    void DoubleDogleg();
    // False when the step or an intermediate of the curve is not finite.
    bool DoubleDoglegStep(double& eta);
    void MoreHebden();
    void MoreHebdenStep();
    // The hook step, mu, phi and the radius are finite.
    bool HookStepIsFinite();
    void TrustRegionUpdate(double* const x, double f, double* const g, CMatrix& a, double* const s,
                           double* const xplussave, double& fplussave, double* const xplus, double& fplus,
                           double* const d);
    // Scaled Cauchy length alpha*sqrt(alpha)/beta shared by methods 2 and 3.
    void CauchyTerms(double& alpha, double& beta);
    // Gradient, Newton step and the model Hessian the global step reads are finite.
    bool ModelIsFinite();
    // Ends the global step without a satisfactory point: x+ := x, f+ := f, result 1.
    void NoSatisfactoryPoint();

    // Secant updates
    void InitializeHessianSecantUpdates(CMatrix& a, double* const sx);
    bool SecantDifferences(double* const x, double* const g, double* const xplus, double* const gplus,
                           double* const s, double* const y, double& sigma);
    void SecantFactored(double* const x, double* const g, CMatrix& a, double* const xplus,
                        double* const gplus, bool noupdate, double* const s, double* const y, double* const u,
                        double* const w);
    void SecantUnfactored(double* const x, double* const g, CMatrix& a, double* const d, double* const xplus,
                          double* const gplus, bool noupdate, double* const s, double* const y,
                          double* const t);
    void QRUpdate(CMatrix& a, double* const u, double* const v);
    void QRAuxFxn1(CMatrix& a, int i);
    void QRAuxFxn2(CMatrix& a, int i, double alpha, double beta);

    // Finite differences
    void ForwardFiniteDifferenceGradient(double* const x, double fx, double* const g);
    void CentralFiniteDifferenceGradient(double* const x, double* const sx, double* const g);
    void FiniteDifferenceHessian(double* const x, double* const g, CMatrix& a, double* const sx,
                                 double* const work);
    void SecondOrderFiniteDifferenceHessian(double* const x, double fx, CMatrix& a, double* const sx,
                                            double* const step, double* const fnbr);

    // The pool for a concurrent evaluation of tasks points, or null when the points are
    // to be evaluated one after the other on this thread. Makes the pool and sizes the
    // per-thread copies of x and the buffer of function values (at least values, and
    // at least 2n, doubles) when they are missing or too small. The difference
    // Hessians use the model Hessian itself as their buffer: no n x n array here.
    CVRNEvaluationPool* ConcurrentEvaluation(int tasks, std::size_t values);
    // Copies x into every thread's copy of x; the copy of thread t.
    void LoadPointCopies(const double* x);
    double* PointCopy(int thread) {
        return m_EvalPoints.data() + static_cast<std::size_t>(thread) * m_nParameters;
    }

    // Derivative checks
    void CheckGradient();
    void CheckHessian();
    void WriteToFile(double* const v, int n, CString path);
    void WriteToFile(CMatrix& m, CString path);

    // Conjugate gradient
    void ConjugateGradient();
    void ConjugateGradientStep_LineMinimizae();
    void BracketMinimum(double& t1, double& t2, double& t3, double& f1, double& f2, double& f3);
    double FOneDimension(double t);
    double DerFOneDimesion(double t);
    double BrentStep(double& t1, double& t2, double& t3, double tol, double& xmin, int itmax);
    double SIGN(double a, double b);

    // Diagnostics (histories, plots, grids); hooks called by the driver.
    void InitilizeDiagnosticArrays();
    void SetDiagnosticArrays();
    void SetPlotMinMaxValues();
    // Widens the gradient and parameter plot ranges to include g and x.
    void WidenPlotRanges(double g, double x);
    double GetMaxInArray(int first, int last, double* values);
    double GetMinInArray(int first, int last, double* values);
    void SetColorArray();
    void UpdateDiagGrid();
    bool DiagnosticPlotsInstalled() const;
    void UpdateResidualPlot();
    void UpdateGradientPlot();
    void UpdateParametersPlot();

    // Events and the run record.
    CVRNIterationEvent MakeEvent(const double* x, double f, const double* g) const;
    void NotifyRunStart();
    void NotifyTrialPoint();
    void NotifyAcceptedStep(const double* x, double f, const double* g);
    // Fills the run record from the engine's state; tells the observers the run ended
    // when notify is set.
    void FinishRecord(bool notify);
    void BeginRecord(CVRNMinimizationMethodBase* problem);

    // ---- Counts, flags and links ----
    int m_nParameters = 0;
    int m_nAllocated = -1;
    int m_nIterationCount = 0;
    bool m_bStepCalc = true;
    std::atomic<bool> m_bAbort{false};
    // True from FirstStep until the next public Minimize: an abort then ends step mode.
    std::atomic<bool> m_bStepMode{false};
    CVRNMinimizationMethodBase* m_pMethod = nullptr;
    CVRNMessageSink* m_pStatusView = nullptr;
    // Every run evaluates the problem through this counter.
    CVRNCountingProblem m_Counter;
    std::vector<CVRNIterationObserver*> m_Observers;
    CVRNDiagnosticsDisplay* m_pDiagnostics = nullptr;
    CVRNRunRecord m_Record;
    bool m_bRecordIterations = false;
    // What m_Hessian holds at the moment (for GetModelHessian).
    enum class HessianStorage { None, Lower, Split, Factor };
    HessianStorage m_HessianStorage = HessianStorage::None;
    // Line-search factor (method 1) or line step (method 4) of the last accepted step.
    double m_dLastLambda = 0.0;
    // True while FirstStep runs its set-up and first iteration.
    bool m_bInFirstStep = false;
    std::atomic<int> m_nTerminationCode{OptionCheck};
    CString m_TerminationText;
    bool m_bFirstIteration = true;
    int m_bCentralDifferences = 0;
    int m_nStepResult = 0;
    bool m_bMaxStepTaken = false;
    int m_nMaxStepCount = 0;
    bool m_bNoUpdate = false;

    // ---- Options ----
    double m_dEpsilon = 1.12e-16;
    int m_nMsg = 0;
    double m_dTrustRadius = -1.0;
    double m_dTypicalF = 1.0;
    double m_dStepMax = 0.0;
    double m_dStepTol = 1.0583005244258363e-08;
    double m_dGradTol = 4.820284528350463e-06;
    double m_dCGTol = 0.0;
    int m_nDigits = -1;
    int m_nMethod = 3;
    int m_nIterationLimit = 10000;
    CIntPar m_bGradientFlag;
    CIntPar m_bHessianFlag;
    CIntPar m_bExpensiveFxFlag;
    std::vector<double> m_UserTypSiz;

    // ---- Derived values ----
    double m_dNoise = 0.0;
    double m_dAnalyticTol = 0.0;

    // ---- Iteration values ----
    double m_dF = 0.0;
    double m_dFPlus = kVRNNullValue;
    double m_dTrustRadiusSave = 0.0;
    double m_dMu = 0.0;
    double m_dPrevRadius = 0.0;
    double m_dPhi = 0.0;
    double m_dPhiPrime0 = 0.0;
    double m_dMuSave = 0.0;
    double m_dPrevRadiusSave = 0.0;
    double m_dPhiSave = 0.0;
    double m_dPhiPrime0Save = 0.0;

    // Double dogleg and More-Hebden state
    double m_dNewtonLength = 0.0;
    bool m_bNewtonTaken = false;
    bool m_bFirstDogleg = true;
    double m_dCauchyLength = 0.0;
    double m_dDoglegEta = 0.0;
    double* m_pCauchyStep = nullptr;
    double* m_pWork = nullptr;
    double* m_pTrialStep = nullptr;
    bool m_bFirstHook = true;

    // ---- Working arrays ----
    CDblHdr m_X0, m_X, m_UDiag, m_TypSiz, m_Grad, m_Step, m_ScaleX;
    CDblHdr m_Wrk0, m_Wrk1, m_Wrk2, m_Wrk3, m_XMin, m_GradMin;
    double* m_pX0 = nullptr;
    double* m_pX = nullptr;
    double* m_pUDiag = nullptr;
    double* m_pTypSiz = nullptr;
    double* m_pGrad = nullptr;
    double* m_pStep = nullptr;
    double* m_pScaleX = nullptr;
    double* m_pWrk0 = nullptr;
    double* m_pWrk1 = nullptr;
    double* m_pWrk2 = nullptr;
    double* m_pWrk3 = nullptr;
    double* m_pXMin = nullptr;
    double* m_pGradMin = nullptr;
    CMatrix m_Hessian;

    // Conjugate-gradient line arrays: trial point and gradient there.
    CDblHdr m_XT, m_GT;
    double* m_pXT = nullptr;
    double* m_pGT = nullptr;

    // ---- Check and display switches ----
    CIntPar m_bShowDiag;
    CIntPar m_bShowHessian;
    CIntPar m_bCheckHessian;
    CIntPar m_bCheckGradient;

    // ---- Diagnostics: histories, plot ranges, colours, display links ----
    CDblHdr m_ErrorHistory;
    CDblHdr m_IterationArray;
    std::vector<CDblHdr> m_GradientHistory;
    std::vector<CDblHdr> m_ParameterHistory;
    CIntPar m_bTrack;
    double m_dGradPlotMin = 0.0;
    double m_dGradPlotMax = 0.0;
    double m_dParamPlotMin = 0.0;
    double m_dParamPlotMax = 0.0;
    std::vector<unsigned long> m_Colors;
    CDocument* m_pDocument = nullptr;
    CString m_ResidualPlotID;
    CString m_GradientPlotID;
    CString m_ParametersPlotID;
    CString m_DiagGridID;
    CString m_JacobianGridID;
    CString m_HessianGridID;

    // ---- Concurrent evaluation ----
    int m_nEvaluationThreads = 1;
    std::unique_ptr<CVRNEvaluationPool> m_pPool;
    // The thread count m_pPool was made for (it may hold fewer threads).
    int m_nPoolRequest = 0;
    // One copy of x per thread of the pool; function values of the points of one
    // gradient estimate, combined after all of them are evaluated. They only grow.
    std::vector<double> m_EvalPoints;
    std::vector<double> m_EvalValues;
};
