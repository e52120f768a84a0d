// The run core: one engine set-up, one sink and observer wiring, one verdict.
#include "face/RunCore.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include <unistd.h>

#include "face/OptionTable.h"
#include "face/Verdict.h"
#include "host/matrix/Matrix.h"
#include "minimize/MessageSink.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/RunCost.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/MinimizerTool.h"

namespace vrn {

namespace {

std::string WithoutFinalLineFeed(const char* text) {
    std::string s = text ? text : "";
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

double MaxAbs(const std::vector<double>& v) {
    double m = 0.0;
    for (double a : v) {
        a = std::fabs(a);
        if (a > m || std::isnan(a))
            m = a;
    }
    return m;
}

std::vector<double> DefaultTypicalX(const std::vector<double>& x) {
    std::vector<double> t(x.size());
    for (size_t i = 0; i < x.size(); i++)
        t[i] = std::max(std::fabs(x[i]), 1.0);
    return t;
}

double TableDefault(const char* name) {
    return FindOption(name)->byDefault;
}

// The problem as every run sees it: it counts the calls (and the values that are not
// finite), answers the engine's first evaluation with the value the run core already
// has, supplies central differences where the conjugate-gradient method needs a
// gradient the caller did not give, and starts the next run where the run core says.
class FaceProblem : public CVRNMinimizationMethodBase {
public:
    FaceProblem(CVRNMinimizationMethodBase& inner, bool gradient, bool concurrent)
        : m_Inner(inner), m_bGradient(gradient), m_bConcurrent(concurrent) {}

    bool bConcurrentEvaluation() const override { return m_bConcurrent && m_Inner.bConcurrentEvaluation(); }
    int ImplementedMethods() override { return m_Inner.ImplementedMethods(); }
    int NumberOfParameters() override { return m_Inner.NumberOfParameters(); }
    void SetIterations(int count) override { m_Inner.SetIterations(count); }
    void UpdateViews() override { m_Inner.UpdateViews(); }
    void CommitStep(double* x, int n) override { m_Inner.CommitStep(x, n); }
    void InitialParameters(double* const x0) override {
        if (m_Start.empty()) {
            m_Inner.InitialParameters(x0);
            return;
        }
        std::copy(m_Start.begin(), m_Start.end(), x0);
    }

    // The start point: the problem's own, or where the run core restarts.
    std::vector<double> StartPoint() {
        std::vector<double> x(static_cast<size_t>(std::max(0, NumberOfParameters())));
        InitialParameters(x.data());
        return x;
    }
    void StartFrom(const std::vector<double>& x) { m_Start = x; }

    double Fx(double* const x) override {
        if (m_bStartCached) {
            m_bStartCached = false;
            if (std::equal(m_CachedX.begin(), m_CachedX.end(), x))
                return m_dCachedF; // counted when it was evaluated
        }
        return Evaluate(x);
    }
    // f at x, counted; the engine's next first call at the same x is answered with it.
    double EvaluateAndKeep(std::vector<double>& x) {
        m_CachedX = x;
        m_dCachedF = Evaluate(x.data());
        m_bStartCached = true;
        return m_dCachedF;
    }
    double Evaluate(double* const x) {
        m_nF.fetch_add(1, std::memory_order_relaxed);
        const double v = m_Inner.Fx(x);
        if (!std::isfinite(v))
            m_nNonFinite.fetch_add(1, std::memory_order_relaxed);
        return v;
    }
    void Gradient(double* const x, double* const g) override {
        if (m_bGradient) {
            m_nGradient.fetch_add(1, std::memory_order_relaxed);
            m_Inner.Gradient(x, g);
            return;
        }
        // Central differences of f; one scratch point, so concurrent callers take turns.
        std::lock_guard<std::mutex> lock(m_ScratchLock);
        const size_t n = static_cast<size_t>(NumberOfParameters());
        m_Scratch.assign(x, x + n);
        Objective f = [this](std::span<const double> p) { return Evaluate(const_cast<double*>(p.data())); };
        CentralDifferenceGradient(f, m_Scratch, std::span<double>(g, n));
    }
    void Hessian(double* const x, CMatrix& h) override {
        m_nHessian.fetch_add(1, std::memory_order_relaxed);
        m_Inner.Hessian(x, h);
    }

    Evaluations Counts() const { return {m_nF.load(), m_nGradient.load(), m_nHessian.load()}; }
    long NonFinite() const { return m_nNonFinite.load(); }

private:
    CVRNMinimizationMethodBase& m_Inner;
    const bool m_bGradient;
    const bool m_bConcurrent;
    std::vector<double> m_Start;
    std::vector<double> m_Scratch;
    std::mutex m_ScratchLock;
    std::atomic<long> m_nF{0}, m_nGradient{0}, m_nHessian{0}, m_nNonFinite{0};
    bool m_bStartCached = false;
    std::vector<double> m_CachedX;
    double m_dCachedF = 0.0;
};

// Hands the engine's status rows to the caller's sink and keeps them when asked.
class RowSink : public CVRNMessageSink {
public:
    explicit RowSink(const MinimizeOptions& options) : m_Options(options) {}
    void AddMessage(const char* text) override {
        ForEachStatusRow(text, std::strlen(text), [this](std::string_view piece) {
            std::string row(piece);
            if (m_Options.onLogRow)
                m_Options.onLogRow(row);
            if (m_Options.captureLog)
                m_Log.push_back(std::move(row));
        });
    }
    std::vector<std::string>& GetLog() { return m_Log; }

private:
    const MinimizeOptions& m_Options;
    std::vector<std::string> m_Log;
};

// Keeps a bounded number of iteration records: the first ones, the last ones and an
// even thinning of those between.
class RecordKeeper {
public:
    explicit RecordKeeper(size_t n) {
        // At most about 256 MB of points and gradients, and never fewer than 16 records.
        const size_t perRecord = 16 * std::max<size_t>(n, 1) + 128;
        m_nCap = std::max<size_t>(16, std::min(kMaxIterationRecords, (size_t(256) << 20) / perRecord));
        m_nEdge = m_nCap / 4;
    }
    void Add(IterationRecord&& r) {
        ++m_nSeen;
        if (m_Head.size() < m_nEdge) {
            m_Head.push_back(std::move(r));
            return;
        }
        m_Tail.push_back(std::move(r));
        if (m_Tail.size() <= m_nEdge)
            return;
        // The oldest of the tail moves to the thinned middle.
        IterationRecord oldest = std::move(m_Tail.front());
        m_Tail.erase(m_Tail.begin());
        if (m_nMiddleSeen++ % m_nStride == 0)
            m_Middle.push_back(std::move(oldest));
        if (m_Middle.size() > m_nCap - 2 * m_nEdge) {
            std::vector<IterationRecord> half;
            for (size_t i = 0; i < m_Middle.size(); i += 2)
                half.push_back(std::move(m_Middle[i]));
            m_Middle = std::move(half);
            m_nStride *= 2;
        }
    }
    std::vector<IterationRecord> Take(long& dropped) {
        std::vector<IterationRecord> all = std::move(m_Head);
        for (auto* part : {&m_Middle, &m_Tail})
            for (IterationRecord& r : *part)
                all.push_back(std::move(r));
        dropped = static_cast<long>(m_nSeen - all.size());
        return all;
    }

private:
    size_t m_nCap = 0, m_nEdge = 0, m_nSeen = 0, m_nMiddleSeen = 0, m_nStride = 1;
    std::vector<IterationRecord> m_Head, m_Middle, m_Tail;
};

// Follows the runs: reports accepted steps to the caller's callback (stopping the run
// through the engine's abort when it says so), records them, sums the iterations of
// the tool's runs and moves the next run's start point to where the last one ended.
class RunObserver : public CVRNIterationObserver {
public:
    RunObserver(CVRNUnconstrainedMinimization& engine, FaceProblem& problem, const MinimizeOptions& options,
                VRNMinimizerTool* tool, size_t n)
        : m_Engine(engine), m_Problem(problem), m_Options(options), m_pTool(tool), m_Records(n) {}

    void OnRunStart(const CVRNIterationEvent& e) override {
        ++m_nRun;
        m_nLastAccepted = 0;
        if (m_nRun == 1)
            m_dInitialF = e.f;
        Progress(e);
    }
    void OnAcceptedStep(const CVRNIterationEvent& e) override {
        m_nLastAccepted = e.iteration;
        Progress(e);
        if (!m_Options.onIteration)
            return;
        const bool goOn =
            m_Options.onIteration(e.iteration, std::span<const double>(e.x, static_cast<size_t>(e.n)), e.f,
                                  std::span<const double>(e.g, static_cast<size_t>(e.n)));
        // Stop through the engine's abort: a run ends after this iteration with code 7.
        // Once a stopping test has ended the session there is nothing left to stop.
        if (!goOn && m_Engine.GetCodeforTerminationCode() == OptimalSolution) {
            m_bStopped = true;
            m_Engine.Abort();
        }
    }
    void OnRunEnd(const CVRNIterationEvent& e) override {
        m_nTotalIterations += e.iteration;
        const CVRNRunRecord& record = m_Engine.GetRunRecord();
        if (m_nRun <= 1) {
            m_GradientCheck = record.gradientCheck;
            m_HessianCheck = record.hessianCheck;
        }
        if (!record.x.empty())
            m_Problem.StartFrom(record.x);
        // The last model Hessian any run built (a tool's last run may stop before it builds one).
        if (m_Options.recordIterations) {
            const CMatrix h = m_Engine.GetModelHessian();
            if (h.GetRows() > 0)
                m_LastHessian = h;
        }
        // The tool's next run takes its default typical sizes from its own start.
        if (m_pTool && m_Options.typicalX.empty() && !record.x.empty()) {
            VRNMinimizerOptions next = m_pTool->GetOptions();
            next.typicalX = DefaultTypicalX(record.x);
            m_pTool->SetOptions(next);
        }
    }
    void SetRunOffset(int runs, int iterations) {
        m_nRun = runs;
        m_nTotalIterations = iterations;
    }
    int GetTotalIterations() const { return m_nTotalIterations; }
    // The number of the last accepted step of the current run.
    int LastAccepted() const { return m_nLastAccepted; }
    double GetInitialF() const { return m_dInitialF; }
    int GetRuns() const { return m_nRun; }
    bool Stopped() const { return m_bStopped; }
    const CVRNDerivativeCheckRecord& GetGradientCheck() const { return m_GradientCheck; }
    const CVRNDerivativeCheckRecord& GetHessianCheck() const { return m_HessianCheck; }
    std::vector<IterationRecord> TakeRecords(long& dropped) { return m_Records.Take(dropped); }
    const CMatrix& LastHessian() const { return m_LastHessian; }

private:
    void Progress(const CVRNIterationEvent& e) {
        if (!m_Options.recordIterations && !m_Options.onProgress)
            return;
        IterationRecord r;
        r.run = m_nRun;
        r.iteration = e.iteration;
        r.f = e.f;
        r.stepLength = e.stepLength;
        r.radius = e.radius;
        const Evaluations counts = m_Problem.Counts();
        r.fEvaluations = counts.f;
        r.gradientEvaluations = counts.gradient;
        r.hessianEvaluations = counts.hessian;
        r.x.assign(e.x, e.x + e.n);
        if (e.g)
            r.g.assign(e.g, e.g + e.n);
        r.gradientNorm = MaxAbs(r.g);
        if (m_Options.onProgress)
            m_Options.onProgress(m_nRun, r);
        if (m_Options.recordIterations)
            m_Records.Add(std::move(r));
    }

    CVRNUnconstrainedMinimization& m_Engine;
    FaceProblem& m_Problem;
    const MinimizeOptions& m_Options;
    VRNMinimizerTool* m_pTool;
    RecordKeeper m_Records;
    int m_nTotalIterations = 0;
    int m_nLastAccepted = 0;
    int m_nRun = 0;
    bool m_bStopped = false;
    double m_dInitialF = 0.0;
    CVRNDerivativeCheckRecord m_GradientCheck;
    CVRNDerivativeCheckRecord m_HessianCheck;
    CMatrix m_LastHessian;
};

DerivativeCheck Reduce(const CVRNDerivativeCheckRecord& c) {
    DerivativeCheck d;
    d.ran = c.ran;
    d.passed = c.passed;
    d.tolerance = c.tolerance;
    d.entries = c.entries;
    double worst = -1.0;
    for (const CVRNDerivativeCheckEntry& e : c.entries) {
        // Flagged entries first, then the largest relative error.
        const double key = e.relativeError + (e.flagged ? 1e300 : 0.0);
        if (key > worst || std::isnan(e.relativeError)) {
            worst = key;
            d.row = e.row;
            d.column = e.column;
            d.analytic = e.analytic;
            d.estimate = e.estimate;
            d.relativeError = e.relativeError;
            if (std::isnan(e.relativeError))
                break;
        }
    }
    return d;
}

// The engine options of the request that are set, in the tool's form (applied after
// the engine's Default on every run).
VRNMinimizerOptions ToolOptions(const MinimizeOptions& o, const std::vector<double>& typicalX) {
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
    t.typicalX = typicalX;
    return t;
}

std::string Derivatives(const MethodInfo& m, bool g, bool h, bool secant) {
    if (!m.usesHessian)
        return g ? "analytic gradient" : "central-difference gradient";
    std::string s = g ? "analytic gradient" : "finite-difference gradient";
    if (secant)
        s += ", secant (BFGS) Hessian";
    else
        s += h ? ", analytic Hessian" : ", finite-difference Hessian";
    return s;
}

const char* DriverText(Driver d) {
    return d == Driver::Tool ? "tool" : d == Driver::Step ? "step" : "engine";
}

double PhysicalMemory() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    return static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
#else
    return 8.0 * (1ull << 30);
#endif
}

// Estimates the Hessian at x by differences: of the gradient when one is given (n
// gradient calls, the average of H and its transpose), of f otherwise (second
// differences, about n^2 / 2 + 2n calls).
std::vector<double> DifferenceHessian(FaceProblem& p, std::vector<double> x, double f, bool gradient,
                                      const std::vector<double>& typicalX, bool& unresolved) {
    unresolved = false;
    const size_t n = x.size();
    std::vector<double> h(n * n, 0.0);
    auto step = [&](size_t i, double power) {
        const double t = i < typicalX.size() ? typicalX[i] : 1.0;
        const double xi = x[i];
        volatile double up = xi + std::pow(DBL_EPSILON, power) * std::max(std::fabs(xi), t);
        return up - xi; // exactly representable
    };
    if (gradient) {
        std::vector<double> g0(n), g1(n);
        p.Gradient(x.data(), g0.data());
        for (size_t j = 0; j < n; j++) {
            const double hj = step(j, 0.5), xj = x[j];
            x[j] = xj + hj;
            p.Gradient(x.data(), g1.data());
            x[j] = xj;
            for (size_t i = 0; i < n; i++)
                h[i * n + j] = (g1[i] - g0[i]) / hj;
        }
        for (size_t i = 0; i < n; i++)
            for (size_t j = 0; j < i; j++)
                h[i * n + j] = h[j * n + i] = 0.5 * (h[i * n + j] + h[j * n + i]);
        return h;
    }
    std::vector<double> steps(n), fi(n);
    for (size_t i = 0; i < n; i++) {
        // A second difference within a few hundred roundings of f says nothing: the step
        // grows (up to 8^5 times) until the change of f stands out of its rounding.
        const double xi = x[i];
        bool resolved = false;
        double change = 0.0;
        steps[i] = step(i, 0.25);
        for (int grow = 0; grow < 6 && !resolved; grow++, steps[i] *= 8.0) {
            x[i] = xi + steps[i];
            fi[i] = p.Evaluate(x.data());
            x[i] = xi - steps[i];
            const double fm = p.Evaluate(x.data());
            x[i] = xi;
            change = (fi[i] - f) + (fm - f);
            resolved =
                std::fabs(change) > 256.0 * DBL_EPSILON * (std::fabs(f) + std::fabs(fi[i]) + std::fabs(fm));
            if (resolved)
                break;
        }
        if (!resolved)
            unresolved = true;
        h[i * n + i] = change / (steps[i] * steps[i]);
    }
    for (size_t i = 0; i < n; i++)
        for (size_t j = 0; j < i; j++) {
            const double xi = x[i], xj = x[j];
            x[i] = xi + steps[i];
            x[j] = xj + steps[j];
            const double fij = p.Evaluate(x.data());
            x[i] = xi;
            x[j] = xj;
            h[i * n + j] = h[j * n + i] = ((fij - fi[i]) - (fi[j] - f)) / (steps[i] * steps[j]);
        }
    return h;
}

// Central differences with steps that are exact in floating point, for a second look
// at a difference gradient that the verdict did not accept.
std::vector<double> CentralGradient(FaceProblem& p, std::vector<double> x) {
    const double root = std::cbrt(DBL_EPSILON);
    std::vector<double> g(x.size());
    for (size_t i = 0; i < x.size(); i++) {
        const double xi = x[i];
        volatile double up = xi + root * std::max(std::fabs(xi), 1.0);
        const double h = up - xi;
        x[i] = xi + h;
        const double fp = p.Evaluate(x.data());
        x[i] = xi - h;
        const double fm = p.Evaluate(x.data());
        x[i] = xi;
        g[i] = (fp - fm) / (2.0 * h);
    }
    return g;
}

// A square matrix as row-major values (empty for an empty matrix).
std::vector<double> RowMajor(const CMatrix& m) {
    const int rows = m.GetRows();
    std::vector<double> v;
    v.reserve(static_cast<size_t>(rows) * static_cast<size_t>(rows));
    for (int i = 0; i < rows; i++)
        for (int j = 0; j < rows; j++)
            v.push_back(m[i][j]);
    return v;
}

Evaluations Minus(const Evaluations& a, const Evaluations& b) {
    return {a.f - b.f, a.gradient - b.gradient, a.hessian - b.hessian};
}

} // namespace

MinimizeResult RefusedResult(const std::string& why) {
    MinimizeResult r;
    r.code = OptionCheck;
    r.status = Status::OptionCheck;
    r.outcome = Outcome::Refused;
    r.message = why;
    r.warnings.push_back(why);
    return r;
}

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

const char* StatusName(Status status) {
    switch (status) {
    case Status::OptimalSolution:
        return "OptimalSolution";
    case Status::GradientSmall:
        return "GradientSmall";
    case Status::StepSizeSmall:
        return "StepSizeSmall";
    case Status::NoLowerPoint:
        return "NoLowerPoint";
    case Status::TooManyIterations:
        return "TooManyIterations";
    case Status::TooManyLargeSteps:
        return "TooManyLargeSteps";
    case Status::OptionCheck:
        return "OptionCheck";
    case Status::AbortedByUser:
        return "AbortedByUser";
    }
    return "Unknown";
}

MinimizeResult RunMinimization(CVRNMinimizationMethodBase& problem, bool hasGradient, bool hasHessian,
                               const MinimizeOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const int nRaw = problem.NumberOfParameters();
    const size_t n = nRaw > 0 ? static_cast<size_t>(nRaw) : 0;
    if (const auto refusal = CheckOptions(options, {n, hasGradient, hasHessian}, options.naming))
        return RefusedResult(refusal->text);
    const MethodInfo& method = *FindMethod(options.method);
    const bool secant = method.usesHessian && options.expensive.value_or(!hasGradient && !hasHessian);
    // What the run will cost, said before it starts; refused when it cannot fit.
    CVRNRunSettings settings;
    settings.n = static_cast<long long>(n);
    settings.method = options.driver == Driver::Step ? 1 : options.method;
    settings.gradient = hasGradient;
    settings.hessian = hasHessian;
    settings.expensive = secant;
    settings.checkGradient = options.checkGradient;
    settings.checkHessian = options.checkHessian;
    settings.threads = options.threads;
    const CVRNRunCost cost = VRNEstimateRunCost(settings);
    const CVRNEvaluationCount first = cost.FirstIteration();
    // Without an analytic gradient the conjugate-gradient method's gradients are 2n calls of f.
    double firstCalls = static_cast<double>(first.Total());
    if (!method.usesHessian && !hasGradient)
        firstCalls += static_cast<double>(first.gradient) * (2.0 * static_cast<double>(n) - 1.0);
    const double memory = PhysicalMemory();
    const std::string instead =
        std::string(hasGradient ? "" : "an analytic gradient, ") +
        (secant || !method.usesHessian
             ? ""
             : "secant updates (" + OptionName("expensive", options.naming) + "), ") +
        (method.usesHessian ? "or the conjugate-gradient method (" + OptionName("method", options.naming) +
                                  " 4), which keeps no n x n matrix"
                            : "or fewer parameters");
    if (cost.valid && cost.bytes > 0.8 * memory)
        return RefusedResult("the run needs about " + NumberText(std::round(cost.bytes / 1e9)) +
                             " GB (n = " + std::to_string(n) + "), more than this machine's " +
                             NumberText(std::round(memory / 1e9)) + " GB: use " + instead);
    std::vector<std::string> notes;
    if (cost.valid && (firstCalls > 1e6 || cost.bytes > 0.25 * memory)) {
        const std::string note = "the first iteration will take about " + NumberText(std::round(firstCalls)) +
                                 " evaluations and the run about " +
                                 NumberText(std::round(cost.bytes / 1e6)) + " MB (n = " + std::to_string(n) +
                                 "); faster: " + instead;
        notes.push_back(note);
        if (options.onNote)
            options.onNote(note);
    }

    FaceProblem face(problem, hasGradient, options.threads > 1);
    std::vector<double> x0 = face.StartPoint();
    const double f0 = face.EvaluateAndKeep(x0);
    if (!std::isfinite(f0)) {
        MinimizeResult r =
            RefusedResult("the objective is not finite at the start point (f = " + NumberText(f0) + ")");
        r.evaluations = face.Counts();
        r.nonFiniteEvaluations = face.NonFinite();
        r.initialF = f0;
        return r;
    }

    MinimizeResult result;

    const std::vector<double> typicalX = options.typicalX.empty() ? DefaultTypicalX(x0) : options.typicalX;
    const double typicalF =
        options.driver == Driver::Engine ? options.typicalF.value_or(TableDefault("typicalF")) : 1.0;
    const int itnlim = options.itnlim.value_or(static_cast<int>(TableDefault("itnlim")));
    const double tolerance = options.successTolerance.value_or(TableDefault("successTolerance"));

    auto tool = std::make_unique<VRNMinimizerTool>();
    CVRNUnconstrainedMinimization& engine = tool->GetEngine();
    engine.SetEvaluationThreads(options.threads);
    RowSink sink(options);
    CVRNMessageSink* log = (options.captureLog || options.onLogRow) ? &sink : nullptr;
    RunObserver observer(engine, face, options, options.driver == Driver::Tool ? tool.get() : nullptr, n);
    engine.AddObserver(&observer);
    if (options.onEngine)
        options.onEngine(engine, false);

    if (options.driver != Driver::Engine) {
        tool->SetMinimizationMethodObject(&face);
        tool->InstallTestView(log);
        tool->GetbUserDefinedGradient() = hasGradient ? 1 : 0;
        tool->GetbUserDefinedHessian() = hasHessian ? 1 : 0;
        tool->GetbFunctionExpensiveToCalculate() = secant ? 1 : 0;
        tool->bCheckGradient() = options.checkGradient ? 1 : 0;
        tool->bCheckHessian() = options.checkHessian ? 1 : 0;
    }

    // One pass of the driver from the problem's current start point.
    auto runDriver = [&]() {
        if (options.driver == Driver::Engine) {
            engine.SetStatusView(log);
            engine.Default();
            engine.SetImplementationOptions(hasGradient, hasHessian, secant);
            ToolOptions(options, typicalX).ApplyTo(engine);
            engine.EnableGradientHessianCheck(options.checkGradient && result.runs == 0,
                                              options.checkHessian && result.runs == 0);
            engine.SetIterationCount(0);
            engine.Minimize(&face, typicalF, itnlim, options.method);
            // The conjugate-gradient method counts a line minimization after its own
            // bookkeeping, so the one its gradient test stops on is accepted (and shown)
            // but not counted: the result counts it, as the progress rows do.
            result.iterations += std::max(engine.GetIterationCount(), observer.LastAccepted());
            result.runs += 1;
        } else if (options.driver == Driver::Tool) {
            tool->SetOptions(ToolOptions(options, typicalX));
            tool->Minimize(options.method);
            result.iterations = observer.GetTotalIterations();
            result.runs = tool->GetRunCount();
        } else {
            tool->SetOptions(ToolOptions(options, typicalX));
            tool->FirstStep(options.method);
            while (tool->bNextStep() && engine.GetIterationCount() < itnlim)
                tool->NextStep();
            result.iterations = engine.GetIterationCount();
            result.runs = 1;
        }
    };

    Judgement judgement;
    std::vector<double> h;
    for (int pass = 0;; pass++) {
        runDriver();
        const CVRNRunRecord& record = engine.GetRunRecord();
        result.code = engine.GetCodeforTerminationCode();
        result.message = WithoutFinalLineFeed(engine.GetTerminationCode());
        // Step mode has no iteration limit of its own: stopping there is not convergence.
        if (options.driver == Driver::Step && result.code == OptimalSolution && result.iterations >= itnlim) {
            result.code = TooManyIterations;
            result.message = "WARNING --- too many iterations";
        }
        result.x = record.x;
        result.f = record.f;
        result.gradient = record.g;
        if (result.x.empty())
            break;
        const Evaluations before = face.Counts();
        // The end point of a run without a gradient there (method 4 after its
        // function-change test) gets one now.
        if (result.gradient.size() != n) {
            result.gradient.assign(n, 0.0);
            face.Gradient(result.x.data(), result.gradient.data());
        }
        // The verdict's Hessian: analytic, the method's own model, or differences.
        h.clear();
        bool unresolved = false;
        std::string source = "none";
        const bool finiteEnd = std::isfinite(result.f);
        if (finiteEnd && hasHessian) {
            CMatrix m(static_cast<int>(n), static_cast<int>(n));
            face.Hessian(result.x.data(), m);
            // Only the lower triangle is the problem's.
            for (int i = 0; i < m.GetRows(); i++)
                for (int j = 0; j < i; j++)
                    m[j][i] = m[i][j];
            h = RowMajor(m);
            source = "analytic";
        } else if (finiteEnd && method.usesHessian && !secant && result.iterations > 0) {
            h = RowMajor(engine.GetModelHessian());
            source = h.size() == n * n ? "model" : "none";
        }
        if (finiteEnd && source == "none" &&
            n <= (hasGradient ? kVerdictDifferencesWithGradient : kVerdictDifferencesWithoutGradient)) {
            h = DifferenceHessian(face, result.x, result.f, hasGradient, typicalX, unresolved);
            source = "differences";
        }
        if (finiteEnd && source == "none" && secant && result.iterations > 0) {
            h = RowMajor(engine.GetModelHessian());
            source = h.size() == n * n ? "model" : "none";
        }
        VerdictInput in;
        in.x = &result.x;
        in.f = result.f;
        in.initialF = observer.GetRuns() > 0 ? observer.GetInitialF() : f0;
        in.g = &result.gradient;
        in.hessian = &h;
        in.hessianSource = source;
        in.curvatureUnresolved = unresolved;
        in.typicalX = &typicalX;
        in.typicalF = typicalF;
        in.tolerance = tolerance;
        in.code = result.code;
        in.stoppedByCaller = observer.Stopped() || result.code == AbortedByUser;
        in.stopMeansConverged = options.stopMeansConverged;
        const CVRNDerivativeCheckRecord& gc =
            options.driver == Driver::Tool || pass > 0 ? observer.GetGradientCheck() : record.gradientCheck;
        const CVRNDerivativeCheckRecord& hc =
            options.driver == Driver::Tool || pass > 0 ? observer.GetHessianCheck() : record.hessianCheck;
        result.gradientCheck = Reduce(gc);
        result.hessianCheck = Reduce(hc);
        in.checksPassed = result.gradientCheck.passed && result.hessianCheck.passed;
        const std::vector<double> engineGradient = result.gradient;
        // A difference gradient is judged by central differences at the end point: the
        // engine's forward differences cannot see a gradient below f's rounding over
        // their short step.
        std::vector<double> central;
        if (!hasGradient && std::isfinite(result.f)) {
            central = CentralGradient(face, result.x);
            result.gradient = central;
            in.g = &result.gradient;
        }
        const double engineGradientNorm = MaxAbs(engineGradient);
        judgement = JudgeEndPoint(in);
        judgement.verdict.engineGradientNorm = engineGradientNorm;
        judgement.verdict.evaluations = Minus(face.Counts(), before);
        const int escapes = pass;
        judgement.verdict.saddleEscapes = escapes;
        // A saddle point where the engine stopped: go on downhill along the direction of
        // negative curvature, a few times at most.
        if (judgement.outcome != Outcome::NotAMinimum || judgement.descentDirection.empty() ||
            options.driver != Driver::Engine || pass >= 3 || result.code == AbortedByUser)
            break;
        std::vector<double> d = judgement.descentDirection;
        double longest = 0.0;
        for (size_t i = 0; i < n; i++)
            longest = std::max(longest, std::fabs(d[i]) / typicalX[i]);
        if (!(longest > 0.0) || !std::isfinite(longest))
            break;
        std::vector<double> next;
        std::vector<double> trial(n);
        for (int k = 0; k < 40 && next.empty(); k++) {
            const double t = std::ldexp(1.0, -k) / longest;
            for (double sign : {1.0, -1.0}) {
                for (size_t i = 0; i < n; i++)
                    trial[i] = result.x[i] + sign * t * d[i];
                if (face.Evaluate(trial.data()) < result.f) {
                    next = trial;
                    break;
                }
            }
        }
        if (next.empty())
            break;
        face.StartFrom(next);
    }

    if (options.onEngine)
        options.onEngine(engine, true);
    engine.RemoveObserver(&observer);

    result.status = static_cast<Status>(result.code);
    result.method = options.method;
    result.driver = DriverText(options.driver);
    result.names = options.names;
    result.outcome = judgement.outcome;
    result.success = judgement.outcome == Outcome::Success;
    result.verdict = judgement.verdict;
    if (result.x.empty()) {
        result.outcome = Outcome::NotFinite;
        result.success = false;
    }
    result.gradientNorm = MaxAbs(result.gradient);
    result.initialF = observer.GetRuns() > 0 ? observer.GetInitialF() : f0;
    result.typicalX = typicalX;
    result.typicalF = typicalF;
    result.gradientTolerance = engine.GetGradientTolerance();
    result.derivatives = Derivatives(method, hasGradient, hasHessian, secant);
    result.evaluations = face.Counts();
    result.nonFiniteEvaluations = face.NonFinite();
    result.iterationRecords = observer.TakeRecords(result.recordsDropped);
    if (options.recordIterations)
        result.hessian = RowMajor(observer.LastHessian());
    result.settings = UsedSettings(options, engine);
    // Secant updates unset means on without an analytic Hessian: list what ran.
    for (auto& [label, value] : result.settings)
        if (label == FindOption("expensive")->label)
            value = secant ? "on" : "off";
    result.log = std::move(sink.GetLog());
    result.warnings = notes;
    for (std::string& w : Advise(result, options, hasGradient))
        result.warnings.push_back(std::move(w));
    result.timeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

} // namespace vrn
