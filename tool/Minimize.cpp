// vrn::Minimize: callables wrapped in a problem object and run by the engine or the tool.
#include "tool/Minimize.h"

#include <atomic>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/MinimizerTool.h"
#include <cstring>
#include <string_view>
#include <type_traits>

namespace vrn {

namespace {

std::string WithoutFinalLineFeed(const char* text) {
    std::string s = text ? text : "";
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

MinimizeResult Refused(const std::string& why) {
    MinimizeResult r;
    r.code = OptionCheck;
    r.message = why;
    return r;
}

// The problem object the engine sees: it evaluates the callables and counts the calls
// they receive. The start point of every run is the point the previous run ended at
// (the tool driver restarts from there).
class CallableProblem : public CVRNMinimizationMethodBase {
public:
    CallableProblem(const Objective& f, const GradientFunction& g, const HessianFunction& h,
                    const std::vector<double>& x0, bool concurrent)
        : m_F(f), m_G(g), m_H(h), m_n(static_cast<int>(x0.size())), m_Start(x0), m_Scratch(x0.size()),
          m_HessianBuffer(x0.size() * x0.size()), m_bConcurrent(concurrent) {}

    // The caller vouches for the callables when it asks for more than one thread.
    bool bConcurrentEvaluation() const override { return m_bConcurrent; }

    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; i++) x0[i] = m_Start[static_cast<size_t>(i)];
    }
    double Fx(double* const x) override {
        m_nF.fetch_add(1, std::memory_order_relaxed);
        return m_F(std::span<const double>(x, static_cast<size_t>(m_n)));
    }
    void Gradient(double* const x, double* const g) override {
        const std::span<double> gs(g, static_cast<size_t>(m_n));
        if (m_G) {
            m_nGradient.fetch_add(1, std::memory_order_relaxed);
            m_G(std::span<const double>(x, static_cast<size_t>(m_n)), gs);
        } else {
            // One scratch point: concurrent callers take turns.
            std::lock_guard<std::mutex> lock(m_ScratchLock);
            for (int i = 0; i < m_n; i++) m_Scratch[static_cast<size_t>(i)] = x[i];
            m_nF.fetch_add(CentralDifferenceGradient(m_F, m_Scratch, gs), std::memory_order_relaxed);
        }
    }
    void Hessian(double* const x, CMatrix& h) override {
        if (!m_H) return;
        m_nHessian.fetch_add(1, std::memory_order_relaxed);
        for (double& v : m_HessianBuffer) v = 0.0;
        m_H(std::span<const double>(x, static_cast<size_t>(m_n)), m_HessianBuffer);
        for (int i = 0; i < m_n; i++)
            for (int j = 0; j < m_n; j++) h[i][j] = m_HessianBuffer[static_cast<size_t>(i * m_n + j)];
    }

    void RestartFrom(const std::vector<double>& x) {
        if (static_cast<int>(x.size()) == m_n) m_Start = x;
    }
    Evaluations GetEvaluations() const {
        Evaluations e;
        e.f = m_nF.load();
        e.gradient = m_nGradient.load();
        e.hessian = m_nHessian.load();
        return e;
    }

private:
    const Objective& m_F;
    const GradientFunction& m_G;
    const HessianFunction& m_H;
    const int m_n;
    std::vector<double> m_Start;
    std::vector<double> m_Scratch;
    std::vector<double> m_HessianBuffer;
    const bool m_bConcurrent;
    std::mutex m_ScratchLock;
    // Counted from several threads when the engine evaluates concurrently.
    std::atomic<long> m_nF{0};
    std::atomic<long> m_nGradient{0};
    std::atomic<long> m_nHessian{0};
};

// Hands the engine's status rows to the caller's sink and keeps them when asked.
class RowSink : public CVRNMessageSink {
public:
    explicit RowSink(const MinimizeOptions& options) : m_Options(options) {}
    void AddMessage(const char* text) override {
        ForEachStatusRow(text, std::strlen(text), [this](std::string_view piece) {
            std::string row(piece);
            if (m_Options.onLogRow) m_Options.onLogRow(row);
            if (m_Options.captureLog) m_Log.push_back(std::move(row));
        });
    }
    std::vector<std::string>& GetLog() { return m_Log; }

private:
    const MinimizeOptions& m_Options;
    std::vector<std::string> m_Log;
};

// Follows the runs: reports accepted steps to the caller's callback (stopping the run
// through the engine's abort when it says so), sums the iterations of the tool's runs
// and moves the next run's start point to where the last one ended.
class RunObserver : public CVRNIterationObserver {
public:
    RunObserver(CVRNUnconstrainedMinimization& engine, CallableProblem& problem, const MinimizeOptions& options)
        : m_Engine(engine), m_Problem(problem), m_Options(options) {}

    void OnAcceptedStep(const CVRNIterationEvent& e) override {
        if (!m_Options.onIteration) return;
        const bool goOn = m_Options.onIteration(e.iteration, std::span<const double>(e.x, static_cast<size_t>(e.n)),
                                                e.f, std::span<const double>(e.g, static_cast<size_t>(e.n)));
        // Stop through the engine's abort: a run ends after this iteration with code 7.
        // Once a stopping test has ended the session there is nothing left to stop.
        if (!goOn && m_Engine.GetCodeforTerminationCode() == OptimalSolution) m_Engine.Abort();
    }
    void OnRunEnd(const CVRNIterationEvent& e) override {
        const CVRNRunRecord& record = m_Engine.GetRunRecord();
        // The tool's runs one after the other: later runs start where the last ended,
        // so their start records are left out and their iterations counted on.
        for (const CVRNIterationRecord& r : record.iterationRecords) {
            if (m_nRuns > 0 && r.iteration == 0) continue;
            m_Records.push_back(r);
            m_Records.back().iteration += m_nTotalIterations;
        }
        if (record.gradientCheck.ran && !m_GradientCheck.ran) m_GradientCheck = record.gradientCheck;
        if (record.hessianCheck.ran && !m_HessianCheck.ran) m_HessianCheck = record.hessianCheck;
        ++m_nRuns;
        m_nTotalIterations += e.iteration;
        m_Problem.RestartFrom(record.x);
    }
    int GetTotalIterations() const { return m_nTotalIterations; }
    std::vector<CVRNIterationRecord>& GetRecords() { return m_Records; }
    const CVRNDerivativeCheckRecord& GetGradientCheck() const { return m_GradientCheck; }
    const CVRNDerivativeCheckRecord& GetHessianCheck() const { return m_HessianCheck; }

private:
    CVRNUnconstrainedMinimization& m_Engine;
    CallableProblem& m_Problem;
    const MinimizeOptions& m_Options;
    int m_nTotalIterations = 0;
    int m_nRuns = 0;
    std::vector<CVRNIterationRecord> m_Records;
    CVRNDerivativeCheckRecord m_GradientCheck;
    CVRNDerivativeCheckRecord m_HessianCheck;
};

std::string Text(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

template <class T>
std::string OrDefault(const std::optional<T>& v, const char* byDefault) {
    if (!v) return std::string("default (") + byDefault + ")";
    if constexpr (std::is_same_v<T, int>)
        return std::to_string(*v);
    else
        return Text(*v);
}

std::vector<std::pair<std::string, std::string>> Settings(const MinimizeOptions& o, bool gradient, bool hessian) {
    static const char* const methods[] = {"", "1, line search", "2, double dogleg", "3, More-Hebden hook step",
                                          "4, Polak-Ribiere conjugate gradient"};
    std::vector<std::pair<std::string, std::string>> s;
    s.emplace_back("Method", o.method >= 1 && o.method <= 4 ? methods[o.method] : std::to_string(o.method));
    s.emplace_back("Driver", o.driver == Driver::Engine ? "engine, one run"
                             : o.driver == Driver::Tool ? "tool, up to 10 runs with restarts"
                                                        : "step mode");
    s.emplace_back("Gradient", gradient ? "analytic"
                               : o.method == 4 ? "central differences"
                                               : "finite differences");
    s.emplace_back("Hessian", o.method == 4 ? "none (conjugate gradient)"
                              : o.expensive ? "secant (BFGS) updates"
                              : hessian     ? "analytic"
                                            : "finite differences");
    s.emplace_back("Iteration limit", o.driver == Driver::Tool ? "100000 per run" : std::to_string(o.itnlim));
    s.emplace_back("Typical f", o.driver == Driver::Engine ? Text(o.typicalF) : "1");
    std::string typsiz;
    for (double t : o.typicalX) typsiz += (typsiz.empty() ? "" : ", ") + Text(t);
    s.emplace_back("Typical size of x", typsiz.empty() ? "default (|x0|, zeros as 1)" : typsiz);
    s.emplace_back("Gradient tolerance", OrDefault(o.gradientTolerance, "eps^(1/3)"));
    s.emplace_back("Step tolerance", OrDefault(o.stepTolerance, "sqrt(eps)"));
    s.emplace_back("Maximum step", OrDefault(o.maximumStep, "from x0"));
    s.emplace_back("Trust radius", OrDefault(o.trustRadius, "chosen by the method"));
    s.emplace_back("Good digits in f", OrDefault(o.numberOfDigits, "from eps"));
    s.emplace_back("CG tolerance", OrDefault(o.cgTolerance, "1e-10"));
    s.emplace_back("Message bits", OrDefault(o.messageBits, "0"));
    s.emplace_back("Derivative checks", std::string(o.checkGradient ? "gradient" : "") +
                                            (o.checkGradient && o.checkHessian ? ", " : "") +
                                            (o.checkHessian ? "Hessian" : "") +
                                            (!o.checkGradient && !o.checkHessian ? "none" : ""));
    return s;
}

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
    if (options.threads < 1)
        return Refused("The number of threads must be 1 or more");

    auto tool = std::make_unique<VRNMinimizerTool>();
    CVRNUnconstrainedMinimization& engine = tool->GetEngine();
    RowSink sink(options);
    CVRNMessageSink* log = (options.captureLog || options.onLogRow) ? &sink : nullptr;

    CallableProblem problem(f, gradient, hessian, x0, options.threads > 1);
    engine.SetEvaluationThreads(options.threads);
    RunObserver observer(engine, problem, options);
    engine.AddObserver(&observer);
    engine.SetRecordIterations(options.recordIterations);
    if (options.onEngine) options.onEngine(engine, false);
    const auto started = std::chrono::steady_clock::now();

    const bool hasGradient = static_cast<bool>(gradient);
    const bool hasHessian = static_cast<bool>(hessian);
    MinimizeResult result;

    if (options.driver == Driver::Engine) {
        engine.SetStatusView(log);
        engine.Default();
        engine.SetImplementationOptions(hasGradient, hasHessian, options.expensive);
        ApplyEngineOptions(engine, options);
        engine.EnableGradientHessianCheck(options.checkGradient, options.checkHessian);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, options.typicalF, options.itnlim, options.method);
        result.iterations = engine.GetIterationCount();
        result.runs = 1;
    } else {
        tool->SetMinimizationMethodObject(&problem);
        tool->InstallTestView(log);
        tool->GetbUserDefinedGradient() = hasGradient ? 1 : 0;
        tool->GetbUserDefinedHessian() = hasHessian ? 1 : 0;
        tool->GetbFunctionExpensiveToCalculate() = options.expensive ? 1 : 0;
        tool->bCheckGradient() = options.checkGradient ? 1 : 0;
        tool->bCheckHessian() = options.checkHessian ? 1 : 0;
        tool->SetOptions(ToolOptions(options));
        if (options.driver == Driver::Tool) {
            tool->Minimize(options.method);
            result.iterations = observer.GetTotalIterations();
            result.runs = tool->GetRunCount();
        } else {
            tool->FirstStep(options.method);
            while (tool->bNextStep() && engine.GetIterationCount() < options.itnlim) tool->NextStep();
            result.iterations = engine.GetIterationCount();
            result.runs = 1;
        }
    }
    result.timeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (options.onEngine) options.onEngine(engine, true);
    engine.RemoveObserver(&observer);

    const CVRNRunRecord& record = engine.GetRunRecord();
    result.code = engine.GetCodeforTerminationCode();
    result.message = WithoutFinalLineFeed(engine.GetTerminationCode());
    // Step mode has no iteration limit of its own: stopping there is not convergence.
    if (options.driver == Driver::Step && result.code == OptimalSolution && result.iterations >= options.itnlim) {
        result.code = TooManyIterations;
        result.message = "WARNING --- too many iterations";
    }
    result.x = record.x;
    result.f = record.f;
    result.evaluations = problem.GetEvaluations();
    result.log = std::move(sink.GetLog());
    result.method = options.method;
    result.settings = Settings(options, hasGradient, hasHessian);
    if (options.driver == Driver::Tool) {
        result.gradientCheck = observer.GetGradientCheck();
        result.hessianCheck = observer.GetHessianCheck();
    } else {
        result.gradientCheck = record.gradientCheck;
        result.hessianCheck = record.hessianCheck;
    }
    if (options.recordIterations) {
        if (options.driver == Driver::Tool)
            result.iterationRecords = std::move(observer.GetRecords());
        else
            result.iterationRecords = record.iterationRecords;
        const CMatrix h = engine.GetModelHessian();
        const int n = h.GetRows();
        result.hessian.reserve(static_cast<size_t>(n) * static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++) result.hessian.push_back(h[i][j]);
    }
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
