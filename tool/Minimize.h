#pragma once

// vrn::Minimize: the minimizer for C++ callers who would rather pass callables than
// derive a problem class.
//
//     auto result = vrn::Minimize(
//         [](std::span<const double> x) { return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0])
//                                                + (1 - x[0]) * (1 - x[0]); },
//         {-1.2, 1.0});
//     if (result.success) use(result.x); else for (auto& w : result.warnings) warn(w);
//     std::puts(result.Summary().c_str());
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

// The engine's termination codes (TerminationCode in minimize/UnconstrainedMinimization.h),
// named. The numbers are the engine's; MinimizeResult::code holds the same value as int.
enum class Status : int {
    OptimalSolution = 0,   // no stopping test fired (iteration limit of a run, or itnlim = 0)
    GradientSmall = 1,     // relative gradient test
    StepSizeSmall = 2,     // relative step test
    NoLowerPoint = 3,      // the last global step failed
    TooManyIterations = 4, // iteration limit (step driver, method 4)
    TooManyLargeSteps = 5, // five maximum-length steps in a row
    OptionCheck = 6,       // options refused, nothing run (see MinimizeResult::message)
    AbortedByUser = 7      // onIteration returned false
};
// "GradientSmall" and so on; "Unknown" for a value outside 0 to 7.
const char* StatusName(Status status);

// The four methods; MinimizeOptions::method takes their numbers (static_cast<int>).
enum class Method : int { LineSearch = 1, Dogleg = 2, Hook = 3, ConjugateGradient = 4 };
// "line search", "double dogleg", "More-Hebden hook step", "Polak-Ribiere conjugate gradient".
const char* MethodName(int method);

// How refusals and warnings name the options: as MinimizeOptions fields or as the
// vrnmath program's switches.
enum class OptionNaming { Cpp, CommandLine };

struct IterationRecord;

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
    // Typical magnitude of the objective value, > 0 (engine driver; the tool and step
    // drivers run the engine with 1.0). The verdict (MinimizeResult::success) uses it too.
    double typicalF = 1.0;
    // Typical size of each parameter, each > 0. Empty means max(|x0_i|, 1) (the engine's
    // own default, |x0_i|, makes the tests of a start point near 0 meaningless). When
    // given it must have one entry per parameter (methods 1-3). With the tool driver the
    // default is taken anew from the start of every run.
    std::vector<double> typicalX;
    // Engine options; unset keeps the engine's default (see CVRNUnconstrainedMinimization).
    // A value outside its range, or an option the method does not use, is refused
    // (code 6, nothing evaluated); the ranges are those of CheckMinimizeOptions.
    std::optional<double> gradientTolerance; // relative gradient test, 0 < v < 1, default eps^(1/3) = 4.82e-6
    std::optional<double>
        stepTolerance; // relative step test, 0 < v < 1, default sqrt(eps) = 1.06e-8 (methods 1-3)
    std::optional<double>
        maximumStep; // maximum scaled step, > 0, default from x0, at least 1000 (methods 1-3)
    std::optional<double>
        trustRadius; // initial trust radius, > 0, default: chosen by the method (methods 2, 3)
    std::optional<int> numberOfDigits; // good digits in f, 1 to 15, default 15 (methods 1-3)
    std::optional<int> messageBits;    // status-log control bits, 0 to 31, default 0 (methods 1-3)
    std::optional<double> cgTolerance; // function tolerance, 0 < v < 1, default 1e-10 (method 4)
    // Keep the Hessian by secant (BFGS) updates instead of evaluating it (methods 1-3).
    bool expensive = false;
    // Compare the analytic gradient / Hessian with finite differences at the start
    // (and report mismatches in the status log). With the tool driver only its first
    // run checks. A check needs the derivative it checks and method 1, 2 or 3 (and no
    // expensive flag for the Hessian); a check that finds a mismatch makes the result
    // unsuccessful (MinimizeResult::gradientCheck / hessianCheck).
    bool checkGradient = false;
    bool checkHessian = false;
    // Keep one IterationRecord per accepted step (and the start point) and the final
    // model Hessian in the result; a run report (vrn::WriteReport) is drawn from them.
    bool recordIterations = false;
    // Threads that evaluate the points of a finite-difference gradient or Hessian (and
    // of the derivative checks) at the same time; 1 (the default) evaluates everything
    // on the calling thread and creates no thread. With more than 1 the callables f
    // and gradient must allow concurrent calls with distinct x (and g) arrays. The
    // result, the log and the counts are those of the one-thread run. (The adapter's
    // own central differences for method 4 stay on the calling thread.)
    int threads = 1;
    // How refusals and warnings name the options (typicalF or --typf).
    OptionNaming naming = OptionNaming::Cpp;
    // Keep the status-log rows in the result.
    bool captureLog = false;
    // Receives the status-log rows while they are produced.
    LogSink onLogRow;
    // Sees every accepted step; may stop the run.
    IterationCallback onIteration;
    // Called with the engine once before the run (finished false) and once after it
    // (finished true), while the engine still exists: a host attaches its diagnostic
    // plots and views here, and reads them before the engine goes away.
    std::function<void(CVRNUnconstrainedMinimization& engine, bool finished)> onEngine;
    // Sees the start point of every run (iteration 0) and every accepted step, with the
    // step length, the radius and the evaluations so far (all runs); run counts from 1.
    std::function<void(int run, const IterationRecord& record)> onProgress;
};

struct Evaluations {
    long f = 0;        // calls of the objective (including those of the adapter's difference gradient)
    long gradient = 0; // calls of the gradient callable
    long hessian = 0;  // calls of the Hessian callable
};

// The outcome of a derivative check, reduced to its worst component.
struct DerivativeCheck {
    bool ran = false;
    bool passed = true;
    // The worst component: the gradient's index (column -1), or the Hessian entry
    // (row, column) with row >= column. -1 when nothing was compared.
    int row = -1;
    int column = -1;
    double analytic = 0.0;
    double estimate = 0.0;      // finite-difference value
    double relativeError = 0.0; // |analytic - estimate| / max(|analytic|, scale)
    double tolerance = 0.0;     // the check's tolerance on relativeError
    // Every compared component (the diagonal and strict lower triangle for the Hessian).
    std::vector<CVRNDerivativeCheckEntry> entries;
};

// One accepted step (iteration 0 is the start point), when recordIterations is set.
struct IterationRecord {
    int iteration = 0;
    double f = 0.0;
    double gradientNorm = 0.0; // max |g_i|
    double stepLength = 0.0;   // Euclidean length of the step
    double radius = 0.0;       // trust radius (methods 2, 3), lambda (1), line step (4)
    long fEvaluations = 0;     // engine calls so far in this run
    long gradientEvaluations = 0;
    long hessianEvaluations = 0;
    std::vector<double> x;
    std::vector<double> g;
};

// The verdict. success is decided after the run from the final gradient g at x, not
// from the code alone:
//   success = every g_i == 0                                (whatever the code), or
//             code is 1 or 2 and  max_i |g_i| * max(|x_i|, typx_i, 1) / max(typf, 1) <= gradtol
// with the typical sizes typx (default max(|x0_i|, 1)), the typical f typf and the
// gradient tolerance gradtol (default eps^(1/3)) of the run. Method 4, which has no
// typical sizes, is judged by max_i |g_i| / max(typf, 1) <= max(gradtol, 10 sqrt(cgtol)):
// its own test (sum g_i^2 < cgtol) looks at the point before its last line minimization. Unlike the engine's
// own test, max(|f|, typf), it does not let a large |f| excuse a large gradient. A failed derivative check,
// or f not finite at x, makes it false. When it is false, warnings say what happened and what to try.
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
    Status status = Status::OptionCheck; // the code, named
    int method = 3;
    // The verdict (above) and, when it is false (or something else deserves a word),
    // sentences that say what happened and what to try.
    bool success = false;
    std::vector<std::string> warnings;
    // The gradient at x (evaluated after the run when the engine had none there: method
    // 4 after its function-change test) and its infinity norm.
    std::vector<double> gradient;
    double gradientNorm = 0.0;
    double initialF = 0.0;    // f at the start point (first run)
    double timeSeconds = 0.0; // wall time of the call
    // What the verdict used.
    std::vector<double> typicalX;
    double typicalF = 1.0;
    double gradientTolerance = 0.0;
    // Derivatives as the run had them, e.g. "analytic gradient, finite-difference Hessian".
    std::string derivatives;
    DerivativeCheck gradientCheck;
    DerivativeCheck hessianCheck;
    // Calls of f that returned NaN or an infinity.
    long nonFiniteEvaluations = 0;
    // One per accepted step, when MinimizeOptions::recordIterations is set (all runs).
    std::vector<IterationRecord> iterationRecords;
    // With recordIterations: the model Hessian at the end, row-major n x n (empty for
    // method 4 and for a run that stopped before it built one).
    std::vector<double> hessian;
    // The settings the run used, as (name, value) text pairs in a fixed order.
    std::vector<std::pair<std::string, std::string>> settings;
    // Iterations taken (the sum over all runs with the tool driver) and runs made.
    int iterations = 0;
    int runs = 0;
    Evaluations evaluations;
    // The status-log rows, when MinimizeOptions::captureLog is set.
    std::vector<std::string> log;

    // The engine's own claim (code 1 or 2); prefer success.
    bool Converged() const { return code == 1 || code == 2; }
    // A brief report of one screen: method, derivatives, iterations, evaluations,
    // f0 -> f, |g|, time, the verdict and the warnings. names, when given, label x.
    std::string Summary(const std::vector<std::string>& names = {}) const;
    // The summary, the point and gradient, the derivative checks and, when recorded,
    // the per-iteration table.
    std::string FullReport(const std::vector<std::string>& names = {}) const;
};

// The first reason to refuse these options for n parameters (with or without a
// gradient / Hessian callable), as one sentence naming the option and its allowed
// range; empty when they are fine. vrn::Minimize refuses with this message (code 6).
std::string CheckMinimizeOptions(const MinimizeOptions& options, size_t n, bool hasGradient, bool hasHessian,
                                 OptionNaming naming = OptionNaming::Cpp);

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
// Before the run f is evaluated at x0 (that value is the engine's first evaluation, not
// an extra one); a value that is not finite refuses the run with code 6 and the message
// "the objective is not finite at the start point (f = nan)".
//
// The callables run on the calling thread, inside the engine's run. An exception they
// throw leaves Minimize (nothing leaks; the run is lost).
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
