#pragma once

// vrn::Minimize: the minimizer for C++ callers who would rather pass callables than
// derive a problem class.
//
//     auto result = vrn::Minimize(
//         [](std::span<const double> x) { return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0])
//                                                + (1 - x[0]) * (1 - x[0]); },
//         {-1.2, 1.0});
//     if (result.Converged()) use(result.x);
//
// It is a thin adapter: the callables are wrapped in a CVRNMinimizationMethodBase and
// handed to the engine CVRNUnconstrainedMinimization (one run), to VRNMinimizerTool
// (runs with restarts) or to the tool's step mode. The engine does all the work; the
// adapter counts evaluations, forwards the status log and reports accepted steps.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "minimize/RunRecord.h"

class CVRNUnconstrainedMinimization;

namespace vrn {

// One accepted step as the engine records it: iteration, f, max |g_i|, step length,
// radius (trust radius for methods 2 and 3, line-search factor for method 1, line step
// for method 4), evaluation counts so far, x and g.
using IterationRecord = CVRNIterationRecord;
// The engine's comparison of analytic derivatives with finite differences.
using DerivativeCheck = CVRNDerivativeCheckRecord;

// Objective value at x (x.size() == n).
using Objective = std::function<double(std::span<const double> x)>;
// Fills g[0 .. n-1] with the gradient at x.
using GradientFunction = std::function<void(std::span<const double> x, std::span<double> g)>;
// Fills the n x n Hessian at x, row-major (h[i * n + j]); h is zeroed before every
// call, and only the lower triangle with the diagonal is used.
using HessianFunction = std::function<void(std::span<const double> x, std::span<double> h)>;
// Called after each accepted step with the iteration number, the new point, its
// objective value and the gradient there. Returning false stops the run at the end
// of the current iteration (the result then says code 7, "Aborted by User").
using IterationCallback =
    std::function<bool(int iteration, std::span<const double> x, double f, std::span<const double> g)>;
// Receives the status-log rows while they are produced.
using LogSink = std::function<void(const std::string& row)>;

// How the engine is run.
enum class Driver {
    Engine, // one run of the engine with the iteration limit of the options
    Tool,   // VRNMinimizerTool::Minimize: up to 10 runs, each restarting where the last ended
    Step    // the tool's step mode: FirstStep, then NextStep while the engine wants more
};

struct MinimizeOptions {
    // 1 line search, 2 double dogleg, 3 More-Hebden hook step, 4 Polak-Ribiere
    // conjugate gradient. Step mode takes methods 1 to 3.
    int method = 3;
    Driver driver = Driver::Engine;
    // Iteration limit of the engine run, and the number of iterations after which the
    // step driver stops asking for more (step mode always takes its first iteration).
    // The tool driver limits each of its runs to 100000 iterations instead.
    int itnlim = 10000;
    // Typical magnitude of the objective value (engine driver; the tool uses 1.0).
    double typicalF = 1.0;
    // Typical size of each parameter; empty means |x0| (zeros become 1). When given it
    // must have one entry per parameter.
    std::vector<double> typicalX;
    // Engine options; unset keeps the engine's default (see CVRNUnconstrainedMinimization):
    std::optional<double> gradientTolerance; // relative gradient test, default eps^(1/3) = 4.82e-6
    std::optional<double> stepTolerance;     // relative step test, default sqrt(eps) = 1.06e-8
    std::optional<double> maximumStep;       // maximum scaled step, default from x0 (at least 1000)
    std::optional<double> trustRadius;       // initial trust radius, default: chosen by the method
    std::optional<int> numberOfDigits;       // good digits in f, default from the machine epsilon (15)
    std::optional<int> messageBits;          // status-log control bits, default 0
    std::optional<double> cgTolerance;       // conjugate-gradient function tolerance, default 1e-10
    // Keep the Hessian by secant (BFGS) updates instead of evaluating it.
    bool expensive = false;
    // Compare the analytic gradient / Hessian with finite differences at the start
    // (and report mismatches in the status log). With the tool driver only its first
    // run checks.
    bool checkGradient = false;
    bool checkHessian = false;
    // Threads that evaluate the points of a finite-difference gradient or Hessian (and
    // of the derivative checks) at the same time; 1 (the default) evaluates everything
    // on the calling thread and creates no thread. With more than 1 the callables f
    // and gradient must allow concurrent calls with distinct x (and g) arrays. The
    // result, the log and the counts are those of the one-thread run. (The adapter's
    // own central differences for method 4 stay on the calling thread.)
    int threads = 1;
    // Keep the status-log rows in the result.
    bool captureLog = false;
    // Keep one record per accepted step (the start point first) and the final model
    // Hessian in the result (MinimizeResult::iterationRecords, ::hessian); a run report
    // (vrn::WriteReport) is drawn from them.
    bool recordIterations = false;
    // Receives the status-log rows while they are produced.
    LogSink onLogRow;
    // Sees every accepted step; may stop the run.
    IterationCallback onIteration;
    // Called with the engine once before the run (finished false) and once after it
    // (finished true), while the engine still exists: a host attaches its diagnostic
    // plots and views here, and reads them before the engine goes away.
    std::function<void(CVRNUnconstrainedMinimization& engine, bool finished)> onEngine;
};

struct Evaluations {
    long f = 0;        // calls of the objective (including those of the adapter's difference gradient)
    long gradient = 0; // calls of the gradient callable
    long hessian = 0;  // calls of the Hessian callable
};

struct MinimizeResult {
    // The point the run ended at and the objective value there. For methods 1 to 3 a
    // run that ends with code 1, 2 or 5 stops at the candidate point its stopping test
    // judged (the engine's x+ and f+, GetXMin/GetFPlus); every other run at the engine's
    // current point x and f (GetX/GetFx). Method 4 ends at x, whose value is f+ after
    // code 2 (its last line minimization moves x without updating f).
    std::vector<double> x;
    double f = 0.0;
    // Termination code (0 to 7, see TerminationCode) and its text without the final
    // line feed. Code 6 with its own message means the options were refused and
    // nothing was evaluated.
    int code = 6;
    std::string message;
    // Iterations taken (the sum over all runs with the tool driver) and runs made.
    int iterations = 0;
    int runs = 0;
    Evaluations evaluations;
    // The status-log rows, when MinimizeOptions::captureLog is set.
    std::vector<std::string> log;
    // The method the run used (1 to 4).
    int method = 3;
    // With MinimizeOptions::recordIterations: the start point (iteration 0) and every
    // accepted step (with the tool driver the runs one after the other, iterations
    // counted on), and the model Hessian at the end, row-major n x n (empty for
    // method 4 and for a run that stopped before it built one).
    std::vector<IterationRecord> iterationRecords;
    std::vector<double> hessian;
    // The derivative checks of the (first) run, when they were asked for.
    DerivativeCheck gradientCheck;
    DerivativeCheck hessianCheck;
    // Wall-clock time of the run in seconds.
    double timeSeconds = 0.0;
    // The settings the run used, as (name, value) text pairs in a fixed order.
    std::vector<std::pair<std::string, std::string>> settings;

    bool Converged() const { return code == 1 || code == 2; }
};

// Minimizes f from x0. gradient and hessian may be empty: the engine then uses finite
// differences (methods 1 to 3). Method 4 always needs a gradient; without one the
// adapter supplies central differences of f with step eps^(1/3) * max(|x_i|, 1),
// eps = DBL_EPSILON.
//
// onIteration is called after each step the engine accepts (methods 1 to 3: once per
// iteration that does not fail, including the last one whose candidate the stopping
// test accepted, whose return value is then ignored; method 4: after each line
// minimization that is followed by a new gradient, which is all but the last of a run
// that ends on its function-change test). With the tool driver the iteration numbers
// start again at 1 in every run.
//
// The callables run inside the engine's run: on the calling thread, and with
// options.threads > 1 also on the threads of the engine's evaluation pool. An
// exception they throw leaves Minimize (nothing leaks; the run is lost).
MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const HessianFunction& hessian,
                        const std::vector<double>& x0, const MinimizeOptions& options = {});
MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const std::vector<double>& x0,
                        const MinimizeOptions& options = {});
MinimizeResult Minimize(const Objective& f, const std::vector<double>& x0,
                        const MinimizeOptions& options = {});

// The central-difference gradient the adapter uses for method 4 when no gradient is
// given: g_i = (f(x + h_i e_i) - f(x - h_i e_i)) / (2 h_i), h_i = eps^(1/3) * max(|x_i|, 1).
// x is used as scratch and restored. Returns the number of objective calls (2n).
long CentralDifferenceGradient(const Objective& f, std::span<double> x, std::span<double> g);

} // namespace vrn
