// vrn::Minimize: callables wrapped in a problem object and run by the engine or the tool.
#include "tool/Minimize.h"
#include "tool/MinimizeSupport.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/MinimizerTool.h"
#include <cstring>
#include <string_view>

namespace vrn {

namespace {

using detail::Refused;
using detail::WithoutFinalLineFeed;

// Shortest text that reads back as the same double.
std::string Num(double v) {
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        char whole[64];
        std::snprintf(whole, sizeof whole, "%.0f", v);
        return whole;
    }
    for (int digits = 1; digits <= 17; digits++) {
        char shorter[64];
        std::snprintf(shorter, sizeof shorter, "%.*g", digits, v);
        if (std::strtod(shorter, nullptr) == v)
            return shorter;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// Four significant digits, for reports.
std::string Short(double v) {
    if (!std::isfinite(v))
        return Num(v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
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

// The name of an option in messages, as a MinimizeOptions field or a vrnmath switch.
std::string Name(const char* field, OptionNaming naming) {
    static const char* const table[][2] = {{"method", "--method"},
                                           {"itnlim", "--itnlim"},
                                           {"typicalF", "--typf"},
                                           {"typicalX", "--typsiz"},
                                           {"gradientTolerance", "--gradtol"},
                                           {"stepTolerance", "--steptol"},
                                           {"maximumStep", "--maxstep"},
                                           {"trustRadius", "--trust-radius"},
                                           {"numberOfDigits", "--ndigit"},
                                           {"messageBits", "--msg"},
                                           {"cgTolerance", "--cgtol"},
                                           {"expensive", "--expensive"},
                                           {"checkGradient", "--check-gradient"},
                                           {"checkHessian", "--check-hessian"},
                                           {"hessian", "--hessian"},
                                           {"threads", "--threads"}};
    for (const auto& row : table)
        if (std::string(row[0]) == field)
            return naming == OptionNaming::CommandLine ? row[1] : row[0];
    return field;
}

// The problem object the engine sees: it evaluates the callables and counts the calls
// they receive. The start point of every run is the point the previous run ended at
// (the tool driver restarts from there).
class CallableProblem : public CVRNMinimizationMethodBase {
public:
    CallableProblem(const Objective& f, const GradientFunction& g, const HessianFunction& h,
                    const std::vector<double>& x0, bool concurrent = false)
        : m_F(f), m_G(g), m_H(h), m_n(static_cast<int>(x0.size())), m_Start(x0), m_Scratch(x0.size()),
          m_HessianBuffer(x0.size() * x0.size()), m_bConcurrent(concurrent) {}

    // The caller vouches for the callables when it asks for more than one thread.
    bool bConcurrentEvaluation() const override { return m_bConcurrent; }

    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; i++)
            x0[i] = m_Start[static_cast<size_t>(i)];
    }
    double Fx(double* const x) override {
        if (m_bStartCached) {
            m_bStartCached = false;
            bool same = true;
            for (int i = 0; i < m_n && same; i++)
                same = x[i] == m_Start[static_cast<size_t>(i)];
            if (same)
                return m_dStartF; // counted when it was evaluated
        }
        m_nF.fetch_add(1, std::memory_order_relaxed);
        const double v = m_F(std::span<const double>(x, static_cast<size_t>(m_n)));
        if (!std::isfinite(v))
            m_nNonFinite.fetch_add(1, std::memory_order_relaxed);
        return v;
    }
    // Evaluates f at the start point before the run; the engine's first call there is
    // answered with this value.
    double EvaluateStart() {
        m_nF.fetch_add(1, std::memory_order_relaxed);
        m_dStartF = m_F(std::span<const double>(m_Start.data(), m_Start.size()));
        m_bStartCached = true;
        return m_dStartF;
    }
    long GetNonFinite() const { return m_nNonFinite.load(); }
    void Gradient(double* const x, double* const g) override {
        const std::span<double> gs(g, static_cast<size_t>(m_n));
        if (m_G) {
            m_nGradient.fetch_add(1, std::memory_order_relaxed);
            m_G(std::span<const double>(x, static_cast<size_t>(m_n)), gs);
        } else {
            // One scratch point: concurrent callers take turns.
            std::lock_guard<std::mutex> lock(m_ScratchLock);
            for (int i = 0; i < m_n; i++)
                m_Scratch[static_cast<size_t>(i)] = x[i];
            m_nF.fetch_add(CentralDifferenceGradient(m_F, m_Scratch, gs), std::memory_order_relaxed);
        }
    }
    void Hessian(double* const x, CMatrix& h) override {
        if (!m_H)
            return;
        m_nHessian.fetch_add(1, std::memory_order_relaxed);
        for (double& v : m_HessianBuffer)
            v = 0.0;
        m_H(std::span<const double>(x, static_cast<size_t>(m_n)), m_HessianBuffer);
        for (int i = 0; i < m_n; i++)
            for (int j = 0; j < m_n; j++)
                h[i][j] = m_HessianBuffer[static_cast<size_t>(i * m_n + j)];
    }

    void RestartFrom(const std::vector<double>& x) {
        if (static_cast<int>(x.size()) == m_n)
            m_Start = x;
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
    std::atomic<long> m_nNonFinite{0};
    // Set before the run and read by the engine's first (single-threaded) call.
    bool m_bStartCached = false;
    double m_dStartF = 0.0;
};

// Central differences with steps that are exact in floating point (h := (x + h) - x),
// so that f symmetric about x gives exactly zero: the verdict's second look at a final
// point whose difference gradient did not pass. Returns the number of calls of f.
long ExactStepCentralGradient(const Objective& f, std::vector<double> x, std::vector<double>& g,
                              long& nonFinite) {
    const double root = std::cbrt(DBL_EPSILON);
    g.assign(x.size(), 0.0);
    for (size_t i = 0; i < x.size(); i++) {
        const double xi = x[i];
        volatile double up = xi + root * std::max(std::fabs(xi), 1.0);
        const double h = up - xi;
        x[i] = xi + h;
        const double fp = f(x);
        x[i] = xi - h;
        const double fm = f(x);
        x[i] = xi;
        if (!std::isfinite(fp))
            ++nonFinite;
        if (!std::isfinite(fm))
            ++nonFinite;
        g[i] = (fp - fm) / (2.0 * h);
    }
    return 2 * static_cast<long>(x.size());
}

std::vector<double> DefaultTypicalX(const std::vector<double>& x) {
    std::vector<double> t(x.size());
    for (size_t i = 0; i < x.size(); i++)
        t[i] = std::max(std::fabs(x[i]), 1.0);
    return t;
}

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

// Follows the runs: reports accepted steps to the caller's callback (stopping the run
// through the engine's abort when it says so), sums the iterations of the tool's runs
// and moves the next run's start point to where the last one ended.
class RunObserver : public CVRNIterationObserver {
public:
    RunObserver(CVRNUnconstrainedMinimization& engine, CallableProblem& problem,
                const MinimizeOptions& options, VRNMinimizerTool* tool)
        : m_Engine(engine), m_Problem(problem), m_Options(options), m_pTool(tool) {}

    void OnRunStart(const CVRNIterationEvent& e) override {
        ++m_nRun;
        if (m_nRun == 1)
            m_dInitialF = e.f;
        Progress(e);
    }

    void OnAcceptedStep(const CVRNIterationEvent& e) override {
        Progress(e);
        if (!m_Options.onIteration)
            return;
        const bool goOn =
            m_Options.onIteration(e.iteration, std::span<const double>(e.x, static_cast<size_t>(e.n)), e.f,
                                  std::span<const double>(e.g, static_cast<size_t>(e.n)));
        // Stop through the engine's abort: a run ends after this iteration with code 7.
        // Once a stopping test has ended the session there is nothing left to stop.
        if (!goOn && m_Engine.GetCodeforTerminationCode() == OptimalSolution)
            m_Engine.Abort();
    }
    void OnRunEnd(const CVRNIterationEvent& e) override {
        m_nTotalIterations += e.iteration;
        const CVRNRunRecord& record = m_Engine.GetRunRecord();
        if (m_nRun <= 1) {
            m_GradientCheck = record.gradientCheck;
            m_HessianCheck = record.hessianCheck;
        }
        m_Problem.RestartFrom(record.x);
        // The tool's next run takes its default typical sizes from its own start.
        if (m_pTool && m_Options.typicalX.empty() && !record.x.empty()) {
            VRNMinimizerOptions next = m_pTool->GetOptions();
            next.typicalX = DefaultTypicalX(record.x);
            m_pTool->SetOptions(next);
        }
    }
    int GetTotalIterations() const { return m_nTotalIterations; }
    double GetInitialF() const { return m_dInitialF; }
    int GetRuns() const { return m_nRun; }
    const CVRNDerivativeCheckRecord& GetGradientCheck() const { return m_GradientCheck; }
    const CVRNDerivativeCheckRecord& GetHessianCheck() const { return m_HessianCheck; }
    std::vector<IterationRecord>& GetRecords() { return m_Records; }

private:
    void Progress(const CVRNIterationEvent& e) {
        if (!m_Options.recordIterations && !m_Options.onProgress)
            return;
        IterationRecord r;
        r.iteration = e.iteration;
        r.f = e.f;
        r.stepLength = e.stepLength;
        r.radius = e.radius;
        const Evaluations& counts = m_Problem.GetEvaluations();
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
            m_Records.push_back(std::move(r));
    }

    CVRNUnconstrainedMinimization& m_Engine;
    CallableProblem& m_Problem;
    const MinimizeOptions& m_Options;
    VRNMinimizerTool* m_pTool;
    int m_nTotalIterations = 0;
    int m_nRun = 0;
    double m_dInitialF = 0.0;
    CVRNDerivativeCheckRecord m_GradientCheck;
    CVRNDerivativeCheckRecord m_HessianCheck;
    std::vector<IterationRecord> m_Records;
};

std::string SettingText(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

template <class T> std::string OrDefault(const std::optional<T>& v, const char* byDefault) {
    if (!v)
        return std::string("default (") + byDefault + ")";
    if constexpr (std::is_same_v<T, int>)
        return std::to_string(*v);
    else
        return SettingText(*v);
}

// The settings a run used, as (name, value) text pairs in a fixed order (run reports).
std::vector<std::pair<std::string, std::string>> Settings(const MinimizeOptions& o, bool gradient,
                                                          bool hessian) {
    static const char* const methods[] = {"", "1, line search", "2, double dogleg",
                                          "3, More-Hebden hook step", "4, Polak-Ribiere conjugate gradient"};
    std::vector<std::pair<std::string, std::string>> s;
    s.emplace_back("Method", o.method >= 1 && o.method <= 4 ? methods[o.method] : std::to_string(o.method));
    s.emplace_back("Driver", o.driver == Driver::Engine ? "engine, one run"
                             : o.driver == Driver::Tool ? "tool, up to 10 runs with restarts"
                                                        : "step mode");
    s.emplace_back("Gradient", gradient        ? "analytic"
                               : o.method == 4 ? "central differences"
                                               : "finite differences");
    s.emplace_back("Hessian", o.method == 4 ? "none (conjugate gradient)"
                              : o.expensive ? "secant (BFGS) updates"
                              : hessian     ? "analytic"
                                            : "finite differences");
    s.emplace_back("Iteration limit", o.driver == Driver::Tool ? "100000 per run" : std::to_string(o.itnlim));
    s.emplace_back("Typical f", o.driver == Driver::Engine ? SettingText(o.typicalF) : "1");
    std::string typsiz;
    for (double t : o.typicalX)
        typsiz += (typsiz.empty() ? "" : ", ") + SettingText(t);
    s.emplace_back("Typical size of x", typsiz.empty() ? "default (max(|x0|, 1))" : typsiz);
    s.emplace_back("Gradient tolerance", OrDefault(o.gradientTolerance, "eps^(1/3)"));
    s.emplace_back("Step tolerance", OrDefault(o.stepTolerance, "sqrt(eps)"));
    s.emplace_back("Maximum step", OrDefault(o.maximumStep, "from x0"));
    s.emplace_back("Trust radius", OrDefault(o.trustRadius, "chosen by the method"));
    s.emplace_back("Good digits in f", OrDefault(o.numberOfDigits, "from eps"));
    s.emplace_back("CG tolerance", OrDefault(o.cgTolerance, "1e-10"));
    s.emplace_back("Message bits", OrDefault(o.messageBits, "0"));
    s.emplace_back("Evaluation threads", std::to_string(o.threads));
    s.emplace_back("Derivative checks", std::string(o.checkGradient ? "gradient" : "") +
                                            (o.checkGradient && o.checkHessian ? ", " : "") +
                                            (o.checkHessian ? "Hessian" : "") +
                                            (!o.checkGradient && !o.checkHessian ? "none" : ""));
    return s;
}

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

using detail::ToolOptions;

void ApplyEngineOptions(CVRNUnconstrainedMinimization& e, const MinimizeOptions& o) {
    ToolOptions(o).ApplyTo(e);
}

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

const char* MethodName(int method) {
    switch (method) {
    case 1:
        return "line search";
    case 2:
        return "double dogleg";
    case 3:
        return "More-Hebden hook step";
    case 4:
        return "Polak-Ribiere conjugate gradient";
    default:
        return "unknown method";
    }
}

std::string CheckMinimizeOptions(const MinimizeOptions& o, size_t n, bool hasGradient, bool hasHessian,
                                 OptionNaming naming) {
    auto name = [naming](const char* field) { return Name(field, naming); };
    auto got = [](double v) { return " (got " + Num(v) + ")"; };
    if (n == 0)
        return "The start point has no parameters";
    if (o.method < 1 || o.method > 4)
        return name("method") + " must be 1, 2, 3 or 4" + got(o.method);
    if (o.driver == Driver::Step && o.method == 4)
        return "Step mode takes methods 1 to 3";
    if (o.itnlim < 0)
        return name("itnlim") + " must be 0 or more" + got(o.itnlim);
    if (o.threads < 1)
        return name("threads") + " must be 1 or more" + got(o.threads);
    if (!(o.typicalF > 0.0) || !std::isfinite(o.typicalF))
        return name("typicalF") + " must be a finite number greater than 0" + got(o.typicalF);
    if (!o.typicalX.empty()) {
        if (o.typicalX.size() != n)
            return "The typical sizes of x must have one entry per parameter";
        for (double t : o.typicalX)
            if (!(t > 0.0) || !std::isfinite(t))
                return name("typicalX") + " must hold finite numbers greater than 0" + got(t);
    }
    auto open01 = [&](const std::optional<double>& v, const char* field) -> std::string {
        if (v && (!(*v > 0.0) || !(*v < 1.0)))
            return name(field) + " must be greater than 0 and less than 1" + got(*v);
        return "";
    };
    auto positive = [&](const std::optional<double>& v, const char* field) -> std::string {
        if (v && (!(*v > 0.0) || !std::isfinite(*v)))
            return name(field) + " must be a finite number greater than 0" + got(*v);
        return "";
    };
    for (const std::string& why :
         {open01(o.gradientTolerance, "gradientTolerance"), open01(o.stepTolerance, "stepTolerance"),
          positive(o.maximumStep, "maximumStep"), positive(o.trustRadius, "trustRadius"),
          open01(o.cgTolerance, "cgTolerance")})
        if (!why.empty())
            return why;
    if (o.numberOfDigits && (*o.numberOfDigits < 1 || *o.numberOfDigits > 15))
        return name("numberOfDigits") + " must be 1 to 15" + got(*o.numberOfDigits);
    if (o.messageBits && (*o.messageBits < 0 || *o.messageBits > 31))
        return name("messageBits") + " must be 0 to 31 (a sum of the bits 1, 2, 4, 8 and 16)" +
               got(*o.messageBits);
    // Options the method does not use.
    const std::string m = std::to_string(o.method);
    if (o.method == 4) {
        const std::pair<bool, const char*> unused[] = {{o.expensive, "expensive"},
                                                       {o.stepTolerance.has_value(), "stepTolerance"},
                                                       {o.maximumStep.has_value(), "maximumStep"},
                                                       {o.trustRadius.has_value(), "trustRadius"},
                                                       {o.numberOfDigits.has_value(), "numberOfDigits"},
                                                       {o.messageBits.has_value(), "messageBits"},
                                                       {!o.typicalX.empty(), "typicalX"}};
        for (const auto& [given, field] : unused)
            if (given)
                return name(field) + " is not used by method 4 (conjugate gradient): methods 1 to 3 only";
    } else {
        if (o.cgTolerance)
            return name("cgTolerance") + " is used by method 4 only (got method " + m + ")";
        if (o.method == 1 && o.trustRadius)
            return name("trustRadius") + " is used by methods 2 and 3 only (method 1 is a line search)";
    }
    if (o.checkGradient && (!hasGradient || o.method == 4))
        return name("checkGradient") + " needs an analytic gradient and method 1, 2 or 3";
    if (o.checkHessian && (!hasHessian || o.method == 4 || o.expensive))
        return name("checkHessian") + " needs an analytic Hessian, method 1, 2 or 3 and no " +
               name("expensive");
    if (o.messageBits && (*o.messageBits / 2) % 2 == 1 && !hasGradient)
        return name("messageBits") + " bit 2 (accept the gradient unchecked) needs an analytic gradient";
    if (o.messageBits && (*o.messageBits / 4) % 2 == 1 && !hasHessian)
        return name("messageBits") + " bit 4 (accept the Hessian unchecked) needs an analytic Hessian";
    return "";
}

namespace {

// The verdict's gradient test alone (see MinimizeResult).
bool GradientPasses(const MinimizeResult& r) {
    if (r.gradient.empty() || !std::isfinite(r.f))
        return false;
    bool zero = true;
    double rg = 0.0;
    for (size_t i = 0; i < r.gradient.size(); i++) {
        const double gi = std::fabs(r.gradient[i]);
        zero = zero && gi == 0.0;
        const double t = i < r.typicalX.size() ? r.typicalX[i] : 1.0;
        // Method 4 has no typical sizes: its gradient is judged unscaled.
        const double xs = r.method == 4 ? 1.0 : std::max({std::fabs(r.x[i]), t, 1.0});
        const double term = gi * xs / std::max(r.typicalF, 1.0);
        if (term > rg || std::isnan(term))
            rg = term;
    }
    return zero || ((r.code == 1 || r.code == 2) && rg <= r.gradientTolerance);
}

// The verdict of MinimizeResult (see there) and the warnings that explain it.
void Judge(MinimizeResult& r, const MinimizeOptions& o, long nonFinite) {
    auto name = [&](const char* field) { return Name(field, o.naming); };
    const double typf = std::max(r.typicalF, 1.0);
    const double tol = r.gradientTolerance;
    const bool finiteF = std::isfinite(r.f);
    bool zero = !r.gradient.empty();
    double rg = 0.0;       // the verdict's scaled gradient
    double rgEngine = 0.0; // the same with max(|f|, typf) below, as the engine has it
    for (size_t i = 0; i < r.gradient.size(); i++) {
        const double gi = std::fabs(r.gradient[i]);
        zero = zero && gi == 0.0;
        const double xi = std::fabs(r.x[i]);
        const double t = i < r.typicalX.size() ? r.typicalX[i] : 1.0;
        const double term = gi * (r.method == 4 ? 1.0 : std::max({xi, t, 1.0})) / typf;
        if (term > rg || std::isnan(term))
            rg = term;
        const double termEngine = gi * std::max(xi, t) / std::max(std::fabs(r.f), r.typicalF);
        if (termEngine > rgEngine || std::isnan(termEngine))
            rgEngine = termEngine;
    }
    const bool small = !r.gradient.empty() && rg <= tol;
    const bool stopped = r.code == 1 || r.code == 2;
    r.success = finiteF && (zero || (stopped && small));

    const std::string where = r.iterations == 0
                                  ? "stopped at the start point"
                                  : "stopped after " + std::to_string(r.iterations) + " iterations";
    const std::string gtext = "|g| = " + Short(r.gradientNorm);
    if (!finiteF) {
        r.warnings.push_back("f is not finite at the end point (f = " + Num(r.f) +
                             "): the run left the region where the objective is defined; start elsewhere");
    } else if (zero && !stopped) {
        r.warnings.push_back("the engine ended with code " + std::to_string(r.code) +
                             ", but the gradient at the end point is exactly zero: it is taken as a minimum");
    } else if (stopped && !small) {
        if (r.gradient.empty()) {
            r.warnings.push_back(where +
                                 " without a gradient at the end point, so the result cannot be confirmed");
        } else if (std::fabs(r.f) > typf && rgEngine <= tol * 1.0000001) {
            r.warnings.push_back(where + ": |f| = " + Short(std::fabs(r.f)) +
                                 " is large compared with the typical f = " + Short(r.typicalF) +
                                 ", so the relative gradient test passed although " + gtext + "; give " +
                                 name("typicalX") + " of the size of x near the minimum, or a tighter " +
                                 name("gradientTolerance") + " (about " + Short(tol * typf / std::fabs(r.f)) +
                                 ")");
        } else if (r.method == 4) {
            r.warnings.push_back(where + ": the conjugate-gradient stopping test passed although " + gtext +
                                 " is above " + Short(tol) + "; give a smaller " + name("cgTolerance"));
        } else if (r.code == 2) {
            r.warnings.push_back(
                where + ": successive steps became tiny while the gradient is not small (" + gtext +
                "); the objective may be undefined or not smooth just beyond this point, or " +
                name("stepTolerance") + " is too large");
        } else {
            r.warnings.push_back(
                where + ": the relative gradient test passed with typical sizes of x below 1 although " +
                gtext + "; give " + name("typicalX") + " of the size of x near the minimum or a tighter " +
                name("gradientTolerance"));
        }
    } else if (!stopped) {
        switch (r.code) {
        case 0:
            r.warnings.push_back("the iteration limit ended the run before a stopping test (" + gtext +
                                 "); raise " + name("itnlim"));
            break;
        case 3:
            r.warnings.push_back(
                "no lower point could be found near the end point (" + gtext + ", f = " + Short(r.f) +
                "): it may be a minimum that the gradient cannot confirm (finite differences too coarse for "
                "an "
                "objective of this scale), or the function is too nonlinear here; give an analytic "
                "gradient, " +
                name("typicalX") + " of the size of x near the minimum, or try another method");
            break;
        case 4:
            r.warnings.push_back("the iteration limit was reached before a stopping test (" + gtext +
                                 "); raise " + name("itnlim") + " or check the scaling");
            break;
        case 5:
            r.warnings.push_back(
                "five maximum-length steps in a row: f may be unbounded below, or the maximum step is "
                "too small for the distance to the minimum; give " +
                name("typicalX") + " of the size of x near the minimum or a larger " + name("maximumStep"));
            break;
        case 7:
            r.warnings.push_back("the run was stopped by the iteration callback");
            break;
        default:
            break;
        }
    }
    if (nonFinite > 0)
        r.warnings.push_back("f was not finite (NaN or infinite) at " + std::to_string(nonFinite) +
                             (nonFinite == 1 ? " trial point" : " trial points") +
                             ": the objective is undefined in part of the space the run explored");
    for (const DerivativeCheck* c : {&r.gradientCheck, &r.hessianCheck}) {
        if (!c->ran || c->passed)
            continue;
        r.success = false;
        const bool isGradient = c == &r.gradientCheck;
        const std::string entry =
            isGradient ? "component " + std::to_string(c->row)
                       : "entry (" + std::to_string(c->row) + ", " + std::to_string(c->column) + ")";
        r.warnings.push_back(std::string("the analytic ") + (isGradient ? "gradient" : "Hessian") +
                             " disagrees with finite differences at the start point: " + entry + " is " +
                             Short(c->analytic) + ", the estimate " + Short(c->estimate) +
                             " (relative error " + Short(c->relativeError) + " > " + Short(c->tolerance) +
                             "); check its code");
    }
}

std::string Derivatives(const MinimizeOptions& o, bool g, bool h) {
    if (o.method == 4)
        return g ? "analytic gradient" : "central-difference gradient";
    std::string s = g ? "analytic gradient" : "finite-difference gradient";
    if (o.expensive)
        s += ", secant (BFGS) Hessian";
    else
        s += h ? ", analytic Hessian" : ", finite-difference Hessian";
    return s;
}

std::string PointText(const std::vector<double>& x, const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < x.size(); i++) {
        if (i)
            s += ", ";
        if (i < names.size())
            s += names[i] + " = ";
        s += Num(x[i]);
    }
    return names.empty() ? "(" + s + ")" : s;
}

} // namespace

std::string MinimizeResult::Summary(const std::vector<std::string>& names) const {
    std::string s;
    auto line = [&s](const char* label, const std::string& text) { s += std::string(label) + text + "\n"; };
    if (code == OptionCheck && iterations == 0 && evaluations.f <= 1 && !message.empty() && x.empty()) {
        line("Refused:      ", message);
        return s;
    }
    line("Method:       ", std::to_string(method) + " " + MethodName(method) + ", " + derivatives);
    line("Termination:  ", message + " (code " + std::to_string(code) + ")");
    line("Iterations:   ", std::to_string(iterations));
    if (runs > 1)
        line("Runs:         ", std::to_string(runs));
    line("Evaluations:  ", "f " + std::to_string(evaluations.f) + ", gradient " +
                               std::to_string(evaluations.gradient) + ", hessian " +
                               std::to_string(evaluations.hessian));
    line("f:            ", Num(initialF) + " -> " + Num(f));
    line("x:            ", PointText(x, names));
    line("|g|inf:       ", gradient.empty() ? std::string("not known") : Short(gradientNorm));
    char t[64];
    std::snprintf(t, sizeof t, "%.3g s", timeSeconds);
    line("Time:         ", t);
    for (const DerivativeCheck* c : {&gradientCheck, &hessianCheck}) {
        if (!c->ran)
            continue;
        s += std::string(c == &gradientCheck ? "Gradient check: " : "Hessian check:  ") +
             (c->passed ? "passed" : "FAILED") + ", worst " +
             (c->column < 0 ? std::to_string(c->row)
                            : std::to_string(c->row) + "," + std::to_string(c->column)) +
             ": analytic " + Short(c->analytic) + ", estimate " + Short(c->estimate) + ", relative error " +
             Short(c->relativeError) + " (tolerance " + Short(c->tolerance) + ")\n";
    }
    line("Success:      ", success ? "yes" : "no");
    for (const std::string& w : warnings)
        line("Warning:      ", w);
    return s;
}

std::string MinimizeResult::FullReport(const std::vector<std::string>& names) const {
    std::string s = Summary(names);
    if (!gradient.empty())
        s += "g:            " + PointText(gradient, {}) + "\n";
    if (!iterationRecords.empty()) {
        s += "\n";
        char row[160];
        std::snprintf(row, sizeof row, "%5s  %-22s  %-10s  %-10s  %-10s  %s\n", "k", "f", "|g|inf", "step",
                      "radius", "f/g/H evaluations");
        s += row;
        for (const IterationRecord& r : iterationRecords) {
            std::snprintf(row, sizeof row, "%5d  %-22.15g  %-10.3e  %-10.3e  %-10.3e  %ld/%ld/%ld\n",
                          r.iteration, r.f, r.gradientNorm, r.stepLength, r.radius, r.fEvaluations,
                          r.gradientEvaluations, r.hessianEvaluations);
            s += row;
        }
    }
    return s;
}

MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const HessianFunction& hessian,
                        const std::vector<double>& x0, const MinimizeOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    // Requests the engine would silently reinterpret are refused before anything runs.
    if (!f)
        return Refused("No objective function was given");
    const bool hasGradient = static_cast<bool>(gradient);
    const bool hasHessian = static_cast<bool>(hessian);
    const std::string refusal =
        CheckMinimizeOptions(options, x0.size(), hasGradient, hasHessian, options.naming);
    if (!refusal.empty())
        return Refused(refusal);

    CallableProblem problem(f, gradient, hessian, x0, options.threads > 1);
    // A start the objective cannot evaluate is refused before the run.
    const double f0 = problem.EvaluateStart();
    if (!std::isfinite(f0)) {
        MinimizeResult r = Refused("the objective is not finite at the start point (f = " + Num(f0) + ")");
        r.evaluations = problem.GetEvaluations();
        r.initialF = f0;
        return r;
    }

    // Our default typical sizes: max(|x0_i|, 1).
    MinimizeOptions run = options;
    if (run.typicalX.empty())
        run.typicalX = DefaultTypicalX(x0);

    auto tool = std::make_unique<VRNMinimizerTool>();
    CVRNUnconstrainedMinimization& engine = tool->GetEngine();
    engine.SetEvaluationThreads(options.threads);
    engine.SetRecordIterations(options.recordIterations);
    RowSink sink(options);
    CVRNMessageSink* log = (options.captureLog || options.onLogRow) ? &sink : nullptr;

    RunObserver observer(engine, problem, options, options.driver == Driver::Tool ? tool.get() : nullptr);
    engine.AddObserver(&observer);
    if (options.onEngine)
        options.onEngine(engine, false);

    MinimizeResult result;

    if (options.driver == Driver::Engine) {
        engine.SetStatusView(log);
        engine.Default();
        engine.SetImplementationOptions(hasGradient, hasHessian, options.expensive);
        ApplyEngineOptions(engine, run);
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
        tool->SetOptions(ToolOptions(run));
        if (options.driver == Driver::Tool) {
            tool->Minimize(options.method);
            result.iterations = observer.GetTotalIterations();
            result.runs = tool->GetRunCount();
        } else {
            tool->FirstStep(options.method);
            while (tool->bNextStep() && engine.GetIterationCount() < options.itnlim)
                tool->NextStep();
            result.iterations = engine.GetIterationCount();
            result.runs = 1;
        }
    }
    if (options.onEngine)
        options.onEngine(engine, true);
    engine.RemoveObserver(&observer);

    const CVRNRunRecord& record = engine.GetRunRecord();
    result.code = engine.GetCodeforTerminationCode();
    result.message = WithoutFinalLineFeed(engine.GetTerminationCode());
    // Step mode has no iteration limit of its own: stopping there is not convergence.
    if (options.driver == Driver::Step && result.code == OptimalSolution &&
        result.iterations >= options.itnlim) {
        result.code = TooManyIterations;
        result.message = "WARNING --- too many iterations";
    }
    result.status = static_cast<Status>(result.code);
    result.method = options.method;
    result.x = record.x;
    result.f = record.f;
    result.gradient = record.g;
    // The end point of a run without a gradient there (method 4 after its function-change
    // test) gets one now, for the verdict.
    if (result.gradient.empty() && !result.x.empty()) {
        result.gradient.assign(result.x.size(), 0.0);
        problem.Gradient(result.x.data(), result.gradient.data()); // central differences without a gradient
    }
    result.gradientNorm = MaxAbs(result.gradient);
    result.initialF = observer.GetRuns() > 0 ? observer.GetInitialF() : f0;
    result.typicalX = run.typicalX;
    if (options.driver == Driver::Tool)
        result.typicalX = DefaultTypicalX(x0);
    if (!options.typicalX.empty())
        result.typicalX = options.typicalX;
    result.typicalF = options.driver == Driver::Engine ? options.typicalF : 1.0;
    result.gradientTolerance =
        options.gradientTolerance ? *options.gradientTolerance : std::cbrt(DBL_EPSILON);
    // Method 4 stops when sum g_i^2 < cgTolerance at the point before its last line
    // minimization: its verdict allows ten times that bound at the end point.
    if (options.method == 4)
        result.gradientTolerance = std::max(
            result.gradientTolerance, 10.0 * std::sqrt(options.cgTolerance ? *options.cgTolerance : 1e-10));
    result.derivatives = Derivatives(options, hasGradient, hasHessian);
    result.gradientCheck =
        Reduce(options.driver == Driver::Tool ? observer.GetGradientCheck() : record.gradientCheck);
    result.hessianCheck =
        Reduce(options.driver == Driver::Tool ? observer.GetHessianCheck() : record.hessianCheck);
    result.evaluations = problem.GetEvaluations();
    result.nonFiniteEvaluations = problem.GetNonFinite();
    // A difference gradient that does not pass gets a second, more accurate look.
    if (!hasGradient && !result.x.empty() && std::isfinite(result.f) && !GradientPasses(result)) {
        MinimizeResult second = result;
        result.evaluations.f +=
            ExactStepCentralGradient(f, result.x, second.gradient, result.nonFiniteEvaluations);
        if (GradientPasses(second) || MaxAbs(second.gradient) < result.gradientNorm) {
            result.gradient = second.gradient;
            result.gradientNorm = MaxAbs(result.gradient);
        }
    }
    result.iterationRecords = std::move(observer.GetRecords());
    if (options.recordIterations) {
        const CMatrix h = engine.GetModelHessian();
        const int n = h.GetRows();
        result.hessian.reserve(static_cast<size_t>(n) * static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++)
                result.hessian.push_back(h[i][j]);
    }
    result.settings = Settings(options, hasGradient, hasHessian);
    result.log = std::move(sink.GetLog());
    Judge(result, options, result.nonFiniteEvaluations);
    result.timeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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
