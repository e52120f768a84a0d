// vrn::MinimizeMany: independent minimizations run on a pool of threads, one engine each.
#include "tool/MinimizeMany.h"

#include <cstring>
#include <string>
#include <string_view>

#include "minimize/MessageSink.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"
#include "threads/EvaluationPool.h"
#include "tool/MinimizeSupport.h"
#include "tool/MinimizerTool.h"

namespace vrn {

namespace {

// Runs body(i) for i in [0, count) on threads threads (the caller included).
template <class Body> void RunAll(int count, int threads, Body& body) {
    if (threads > count)
        threads = count;
    if (threads <= 1) {
        for (int i = 0; i < count; i++)
            body(i);
        return;
    }
    CVRNEvaluationPool pool(threads);
    auto run = [&body](int i, int) { body(i); };
    pool.ParallelFor(count, run);
}

// The per-run options: the runs are the parallel work, so each evaluates on its own thread.
MinimizeOptions OneThreadEach(const MinimizeOptions& options) {
    MinimizeOptions o = options;
    o.threads = 1;
    return o;
}

using detail::Refused;
using detail::WithoutFinalLineFeed;

// The status rows of one run, to the caller's sink and kept when asked.
class RunLog : public CVRNMessageSink {
public:
    RunLog(const MinimizeOptions& options, std::vector<std::string>& rows)
        : m_Options(options), m_Rows(rows) {}
    void AddMessage(const char* text) override {
        ForEachStatusRow(text, std::strlen(text), [this](std::string_view piece) {
            std::string row(piece);
            if (m_Options.onLogRow)
                m_Options.onLogRow(row);
            if (m_Options.captureLog)
                m_Rows.push_back(std::move(row));
        });
    }

private:
    const MinimizeOptions& m_Options;
    std::vector<std::string>& m_Rows;
};

// Hands accepted steps to onIteration; a false answer stops the run through the abort.
class StepReporter : public CVRNIterationObserver {
public:
    StepReporter(CVRNUnconstrainedMinimization& engine, const MinimizeOptions& options)
        : m_Engine(engine), m_Options(options) {}
    void OnAcceptedStep(const CVRNIterationEvent& e) override {
        if (!m_Options.onIteration)
            return;
        const std::size_t n = static_cast<std::size_t>(e.n);
        const bool goOn = m_Options.onIteration(e.iteration, std::span<const double>(e.x, n), e.f,
                                                std::span<const double>(e.g, n));
        if (!goOn && m_Engine.GetCodeforTerminationCode() == OptimalSolution)
            m_Engine.Abort();
    }

private:
    CVRNUnconstrainedMinimization& m_Engine;
    const MinimizeOptions& m_Options;
};

void ApplyEngineOptions(CVRNUnconstrainedMinimization& engine, const MinimizeOptions& o) {
    detail::ToolOptions(o).ApplyTo(engine);
}

MinimizeResult RunProblem(CVRNMinimizationMethodBase* problem, bool gradient, bool hessian,
                          const MinimizeOptions& options) {
    if (!problem)
        return Refused("No problem object was given");
    if (options.method < 1 || options.method > 4)
        return Refused("The method must be 1, 2, 3 or 4");
    if (options.driver != Driver::Engine)
        return Refused("Problem objects are run with the engine driver only");

    MinimizeResult result;
    CVRNUnconstrainedMinimization engine;
    RunLog log(options, result.log);
    StepReporter reporter(engine, options);
    engine.AddObserver(&reporter);
    if (options.captureLog || options.onLogRow)
        engine.SetStatusView(&log);
    if (options.onEngine)
        options.onEngine(engine, false);
    engine.Default();
    engine.SetImplementationOptions(gradient, hessian, options.expensive);
    ApplyEngineOptions(engine, options);
    engine.EnableGradientHessianCheck(options.checkGradient, options.checkHessian);
    engine.SetIterationCount(0);
    engine.Minimize(problem, options.typicalF, options.itnlim, options.method);
    if (options.onEngine)
        options.onEngine(engine, true);
    engine.RemoveObserver(&reporter);

    const CVRNRunRecord& record = engine.GetRunRecord();
    result.code = engine.GetCodeforTerminationCode();
    result.message = WithoutFinalLineFeed(engine.GetTerminationCode());
    result.iterations = engine.GetIterationCount();
    result.runs = 1;
    result.x = record.x;
    result.f = record.f;
    result.evaluations.f = record.fEvaluations;
    result.evaluations.gradient = record.gradientEvaluations;
    result.evaluations.hessian = record.hessianEvaluations;
    return result;
}

} // namespace

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    std::vector<MinimizeResult> results(x0s.size());
    const MinimizeOptions each = OneThreadEach(options);
    auto body = [&](int i) {
        const std::size_t k = static_cast<std::size_t>(i);
        results[k] = Minimize(f, gradient, hessian, x0s[k], each);
    };
    RunAll(static_cast<int>(x0s.size()), threads, body);
    return results;
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    return MinimizeMany(f, gradient, HessianFunction(), x0s, options, threads);
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    return MinimizeMany(f, GradientFunction(), HessianFunction(), x0s, options, threads);
}

std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options, int threads) {
    std::vector<MinimizeResult> results(problems.size());
    auto body = [&](int i) {
        const std::size_t k = static_cast<std::size_t>(i);
        results[k] = RunProblem(problems[k], analyticGradient, analyticHessian, options);
    };
    RunAll(static_cast<int>(problems.size()), threads, body);
    return results;
}

} // namespace vrn
