// vrn::Minimize: callables wrapped in a problem object and run by the engine or the tool.
#include "tool/Minimize.h"

#include <cfloat>
#include <cmath>
#include <memory>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/MinimizerTool.h"
#include "views/StatusView.h"

namespace vrn {

namespace {

bool IsJudgedCandidate(int code) {
    return code == GradientSmall || code == StepSizeSmall || code == TooManyLargeSteps;
}

std::string WithoutFinalLineFeed(const char* text) {
    std::string s = text ? text : "";
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

MinimizeResult Refused(const std::string& why) {
    MinimizeResult r;
    r.code = OptionCheck;
    r.message = why;
    return r;
}

// The problem object the engine sees. It evaluates the callables, counts the calls,
// hands the status-log rows on as soon as a callback of the engine reaches it, and
// recognises accepted steps:
// - methods 1 to 3: CommitStep marks the candidate of the current iteration; the
//   UpdateViews that follows SaveStep (code still 0, or the tool's SaveStep after a
//   first step that ended on 1, 2 or 5) reports the new point; an UndoStep (code 3)
//   drops it. A candidate that ends a run with code 1, 2 or 5 is not saved by the
//   engine: it is reported when the run is over (FlushCandidate).
// - method 4: CommitStep follows each line minimization and is followed by the
//   gradient at the new point, which completes the report.
class CallableProblem : public CVRNMinimizationMethodBase {
public:
    CallableProblem(const Objective& f, const GradientFunction& g, const HessianFunction& h,
                    const std::vector<double>& x0, const MinimizeOptions& options)
        : m_F(f), m_G(g), m_H(h), m_Options(options), m_n(static_cast<int>(x0.size())), m_Start(x0),
          m_Scratch(x0.size()), m_HessianBuffer(x0.size() * x0.size()) {}

    void Attach(CVRNUnconstrainedMinimization* engine, CVRNStatusView* view) {
        m_pEngine = engine;
        m_pView = view;
    }

    int NumberOfParameters() override {
        PollLog();
        m_bLoading = true;
        return m_n;
    }
    void InitialParameters(double* const x0) override {
        m_bLoading = false;
        for (int i = 0; i < m_n; i++)
            x0[i] = m_Start[static_cast<size_t>(i)];
    }
    void SetIterations(int count) override {
        PollLog();
        // The engine's own call while it loads a problem of a new size comes before
        // anything was computed; only the tool's calls after a run or a step count.
        if (m_bLoading)
            return;
        FlushCandidate();
        if (m_Options.driver == Driver::Tool) {
            m_nTotalIterations += count;
            // The next run starts where this one ended.
            JudgedPoint(m_Start, nullptr);
        }
    }
    double Fx(double* const x) override {
        PollLog();
        ++m_Evaluations.f;
        return m_F(std::span<const double>(x, static_cast<size_t>(m_n)));
    }
    void Gradient(double* const x, double* const g) override {
        PollLog();
        const std::span<double> gs(g, static_cast<size_t>(m_n));
        if (m_G) {
            ++m_Evaluations.gradient;
            m_G(std::span<const double>(x, static_cast<size_t>(m_n)), gs);
        } else {
            for (int i = 0; i < m_n; i++)
                m_Scratch[static_cast<size_t>(i)] = x[i];
            m_Evaluations.f += CentralDifferenceGradient(m_F, m_Scratch, gs);
        }
        if (m_bLinePending) {
            m_bLinePending = false;
            Report(m_nLineIteration, x, m_pEngine->GetFPlus(), g);
        }
    }
    void Hessian(double* const x, CMatrix& h) override {
        PollLog();
        if (!m_H)
            return;
        ++m_Evaluations.hessian;
        for (double& v : m_HessianBuffer)
            v = 0.0;
        m_H(std::span<const double>(x, static_cast<size_t>(m_n)), m_HessianBuffer);
        for (int i = 0; i < m_n; i++)
            for (int j = 0; j < m_n; j++)
                h[i][j] = m_HessianBuffer[static_cast<size_t>(i * m_n + j)];
    }
    void CommitStep(double* x, int n) override {
        (void)x;
        (void)n;
        PollLog();
        if (m_Options.method == 4) {
            m_bLinePending = true;
            m_nLineIteration = m_pEngine->GetIterationCount() + 1;
        } else {
            m_bCandidate = true;
        }
    }
    void UpdateViews() override {
        PollLog();
        if (!m_bCandidate)
            return;
        m_bCandidate = false;
        const int code = m_pEngine->GetCodeforTerminationCode();
        if (code == OptimalSolution || IsJudgedCandidate(code))
            Report(m_pEngine->GetIterationCount(), m_pEngine->GetX(), m_pEngine->GetFx(),
                   m_pEngine->GetGradient());
    }

    // Reports a candidate that ended a run (codes 1, 2, 5) without being saved.
    void FlushCandidate() {
        if (!m_bCandidate)
            return;
        m_bCandidate = false;
        if (IsJudgedCandidate(m_pEngine->GetCodeforTerminationCode()))
            Report(m_pEngine->GetIterationCount(), m_pEngine->GetXMin(), m_pEngine->GetFPlus(),
                   m_pEngine->GetGradMin());
    }

    // Copies the point the last run ended at into x (and its value into *f).
    void JudgedPoint(std::vector<double>& x, double* f) const {
        const int code = m_pEngine->GetCodeforTerminationCode();
        const bool candidate = m_Options.method != 4 && IsJudgedCandidate(code);
        const double* p = candidate ? m_pEngine->GetXMin() : m_pEngine->GetX();
        x.assign(static_cast<size_t>(m_n), 0.0);
        if (p)
            for (int i = 0; i < m_n; i++)
                x[static_cast<size_t>(i)] = p[i];
        if (f) {
            const bool plus = candidate || (m_Options.method == 4 && code == StepSizeSmall);
            *f = plus ? m_pEngine->GetFPlus() : m_pEngine->GetFx();
        }
    }

    // Hands the rows the status view received since the last call on, then clears the
    // view so that a long run does not keep its whole log in the list.
    void PollLog() {
        if (!m_pView)
            return;
        const int rows = m_pView->GetRowCount();
        if (rows == 0)
            return;
        for (int i = 0; i < rows; i++) {
            std::string row = m_pView->GetRowText(i);
            if (m_Options.onLogRow)
                m_Options.onLogRow(row);
            if (m_Options.captureLog)
                m_Log.push_back(std::move(row));
        }
        m_pView->DeleteAllItems();
    }

    const Evaluations& GetEvaluations() const { return m_Evaluations; }
    int GetTotalIterations() const { return m_nTotalIterations; }
    std::vector<std::string>& GetLog() { return m_Log; }

private:
    void Report(int iteration, const double* x, double f, const double* g) {
        PollLog();
        if (!m_Options.onIteration)
            return;
        const bool goOn =
            m_Options.onIteration(iteration, std::span<const double>(x, static_cast<size_t>(m_n)), f,
                                  std::span<const double>(g, static_cast<size_t>(m_n)));
        // Stop through the engine's abort: a run ends after this iteration with code 7.
        // Once a stopping test has ended the session there is nothing left to stop.
        if (!goOn && m_pEngine->GetCodeforTerminationCode() == OptimalSolution)
            m_pEngine->Abort();
    }

    const Objective& m_F;
    const GradientFunction& m_G;
    const HessianFunction& m_H;
    const MinimizeOptions& m_Options;
    const int m_n;
    std::vector<double> m_Start;
    std::vector<double> m_Scratch;
    std::vector<double> m_HessianBuffer;
    CVRNUnconstrainedMinimization* m_pEngine = nullptr;
    CVRNStatusView* m_pView = nullptr;
    Evaluations m_Evaluations;
    std::vector<std::string> m_Log;
    int m_nTotalIterations = 0;
    bool m_bLoading = false;
    bool m_bCandidate = false;
    bool m_bLinePending = false;
    int m_nLineIteration = 0;
};

VRNMinimizerOptions ToolOptions(const MinimizeOptions& o) {
    VRNMinimizerOptions t;
    if (o.gradientTolerance)
        t.gradientTolerance = *o.gradientTolerance;
    if (o.stepTolerance)
        t.stepTolerance = *o.stepTolerance;
    if (o.maximumStep)
        t.maximumStep = *o.maximumStep;
    if (o.trustRadius)
        t.trustRadius = *o.trustRadius;
    if (o.numberOfDigits)
        t.numberOfDigits = *o.numberOfDigits;
    if (o.messageBits)
        t.messageBits = *o.messageBits;
    if (o.cgTolerance)
        t.cgTolerance = *o.cgTolerance;
    t.typicalX = o.typicalX;
    return t;
}

void ApplyEngineOptions(CVRNUnconstrainedMinimization& e, const MinimizeOptions& o) { ToolOptions(o).ApplyTo(e); }

} // namespace

long CentralDifferenceGradient(const Objective& f, std::span<double> x, std::span<double> g) {
    const double root = std::pow(DBL_EPSILON, 1.0 / 3.0);
    long calls = 0;
    for (size_t i = 0; i < x.size(); i++) {
        const double xi = x[i];
        const double ax = std::fabs(xi);
        const double h = root * (ax > 1.0 ? ax : 1.0);
        x[i] = xi + h;
        const double fp = f(x);
        x[i] = xi - h;
        const double fm = f(x);
        x[i] = xi;
        calls += 2;
        g[i] = (fp - fm) / (2.0 * h);
    }
    return calls;
}

MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const HessianFunction& hessian,
                        const std::vector<double>& x0, const MinimizeOptions& options) {
    // Requests the engine would silently reinterpret are refused before anything runs.
    if (!f)
        return Refused("No objective function was given");
    if (x0.empty())
        return Refused("The start point has no parameters");
    if (options.method < 1 || options.method > 4)
        return Refused("The method must be 1, 2, 3 or 4");
    if (options.driver == Driver::Step && options.method == 4)
        return Refused("Step mode takes methods 1 to 3");
    if (!options.typicalX.empty() && options.typicalX.size() != x0.size())
        return Refused("The typical sizes of x must have one entry per parameter");

    auto tool = std::make_unique<VRNMinimizerTool>();
    CVRNUnconstrainedMinimization& engine = tool->GetEngine();
    std::unique_ptr<CVRNStatusView> view;
    if (options.captureLog || options.onLogRow)
        view = std::make_unique<CVRNStatusView>();

    CallableProblem problem(f, gradient, hessian, x0, options);
    problem.Attach(&engine, view.get());
    if (options.onEngine)
        options.onEngine(engine, false);

    const bool hasGradient = static_cast<bool>(gradient);
    const bool hasHessian = static_cast<bool>(hessian);
    MinimizeResult result;

    if (options.driver == Driver::Engine) {
        engine.SetStatusView(view.get());
        engine.Default();
        engine.SetImplementationOptions(hasGradient, hasHessian, options.expensive);
        ApplyEngineOptions(engine, options);
        engine.EnableGradientHessianCheck(options.checkGradient, options.checkHessian);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, options.typicalF, options.itnlim, options.method);
        problem.FlushCandidate();
        result.iterations = engine.GetIterationCount();
        result.runs = 1;
    } else {
        tool->SetMinimizationMethodObject(&problem);
        tool->InstallTestView(view.get());
        tool->GetbUserDefinedGradient() = hasGradient ? 1 : 0;
        tool->GetbUserDefinedHessian() = hasHessian ? 1 : 0;
        tool->GetbFunctionExpensiveToCalculate() = options.expensive ? 1 : 0;
        tool->bCheckGradient() = options.checkGradient ? 1 : 0;
        tool->bCheckHessian() = options.checkHessian ? 1 : 0;
        tool->SetOptions(ToolOptions(options));
        if (options.driver == Driver::Tool) {
            tool->Minimize(options.method);
            result.iterations = problem.GetTotalIterations();
            result.runs = tool->GetRunCount();
        } else {
            tool->FirstStep(options.method);
            while (tool->bNextStep() && engine.GetIterationCount() < options.itnlim)
                tool->NextStep();
            result.iterations = engine.GetIterationCount();
            result.runs = 1;
        }
    }
    problem.PollLog();
    if (options.onEngine)
        options.onEngine(engine, true);

    result.code = engine.GetCodeforTerminationCode();
    result.message = WithoutFinalLineFeed(engine.GetTerminationCode());
    // Step mode has no iteration limit of its own: stopping there is not convergence.
    if (options.driver == Driver::Step && result.code == OptimalSolution &&
        result.iterations >= options.itnlim) {
        result.code = TooManyIterations;
        result.message = "WARNING --- too many iterations";
    }
    problem.JudgedPoint(result.x, &result.f);
    result.evaluations = problem.GetEvaluations();
    result.log = std::move(problem.GetLog());
    return result;
}

MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const std::vector<double>& x0,
                        const MinimizeOptions& options) {
    return Minimize(f, gradient, HessianFunction(), x0, options);
}

MinimizeResult Minimize(const Objective& f, const std::vector<double>& x0, const MinimizeOptions& options) {
    return Minimize(f, GradientFunction(), HessianFunction(), x0, options);
}

} // namespace vrn
