#pragma once

// What a caller can ask of one minimization. Every option that has a range, a default
// or a method that uses it is a row of the option table (face/OptionTable.h); the
// table validates them, words refusals for each face and lists them in help texts.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "face/MethodTable.h"

class CVRNUnconstrainedMinimization;

namespace vrn {

struct IterationRecord;

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

// How refusals and warnings name the options: as MinimizeOptions fields, as the
// vrnmath program's switches or as the Python package's keywords.
enum class OptionNaming { Cpp, CommandLine, Python };

// Robust losses of a least-squares fit, as SciPy's least_squares defines them (see
// lsq/Loss.h).
enum class Loss { Linear, SoftL1, Huber, Cauchy, Arctan };
// "linear", "soft_l1", "huber", "cauchy", "arctan".
const char* LossName(Loss loss);
// The loss named so, or nothing.
std::optional<Loss> LossFromName(const std::string& name);

// How a fit estimates the Jacobian when no Jacobian callable is given. The step of
// parameter j is h max(|x_j|, s_j) with s_j = |x0_j| (1 when x0_j is 0), made exact in
// floating point ((x + h) - x).
enum class DifferenceScheme {
    TwoPoint,  // forward differences, h = sqrt(eps)
    ThreePoint // central differences, h = eps^(1/3)
};

struct MinimizeOptions {
    // The engine's method number (see face/MethodTable.h). Step mode takes methods
    // with a step mode (1 to 3).
    int method = kDefaultMethod;
    Driver driver = Driver::Engine;
    // Unset options take the option table's default; a value outside its range, or an
    // option the method or driver does not use, is refused (code 6, nothing evaluated).
    // The ranges, defaults and users of each are listed by the table (vrnmath --help
    // prints them).
    std::optional<int> itnlim;      // iteration limit (engine and step drivers)
    std::optional<double> typicalF; // typical magnitude of f near the minimum (engine driver)
    std::vector<double> typicalX;   // typical size of each x_i; empty: max(|x0_i|, 1)
    std::optional<double> gradientTolerance;
    std::optional<double> stepTolerance;
    std::optional<double> maximumStep;
    std::optional<double> trustRadius;
    std::optional<int> numberOfDigits;
    std::optional<int> messageBits;
    std::optional<double> cgTolerance;
    // The tolerance of the success verdict (see face/Verdict.h).
    std::optional<double> successTolerance;
    // Keep the Hessian by secant (BFGS) updates instead of evaluating it. Unset: secant
    // updates when neither a gradient nor a Hessian is given (differences of differences
    // cost n^2 / 2 evaluations of f each), else the analytic or difference Hessian
    // (chosen by measurement: see docs/performance.md, "Choosing the defaults").
    std::optional<bool> expensive;
    // Compare the analytic gradient / Hessian with finite differences at the start; a
    // check that finds a mismatch makes the result unsuccessful.
    bool checkGradient = false;
    bool checkHessian = false;
    // Threads that evaluate the points of one finite-difference estimate at the same
    // time (at most MaxEvaluationThreads()); the callables must then allow concurrent
    // calls. The result, the log and the counts are those of one thread.
    int threads = 1;

    // --- Least-squares fits only (vrn::LeastSquares, lsq/LeastSquares.h); a
    // minimization refuses them. Unset: the option table's default. ---
    // SciPy's tolerances: ftol on the relative reduction of the cost, xtol on the scaled
    // step against the scaled x, gtol on the largest cosine between r and a column of J.
    std::optional<double> ftol;
    std::optional<double> xtol;
    std::optional<double> gtol;
    // Limit on the residual evaluations outside difference Jacobians (SciPy's max_nfev).
    std::optional<long> maximumEvaluations;
    std::optional<Loss> loss;
    std::optional<double> lossScale; // f_scale: residuals below it count as inliers
    std::optional<DifferenceScheme> differences;
    // Scale of each parameter (x_scale); empty: from the Jacobian's column norms.
    std::vector<double> xScale;
    // When a fit fails, fit again from x0 with other settings (see lsq/LeastSquares.h).
    std::optional<bool> fallbacks;
    // The residuals are already divided by absolute standard deviations (curve_fit's
    // absolute_sigma): the covariance is (J^T J)^-1.
    bool absoluteSigma = false;

    // --- What the faces do with the run (not engine options) ---
    // Keep one IterationRecord per accepted step (at most kMaxIterationRecords, see
    // MinimizeResult::iterationRecords) and the final model Hessian in the result.
    bool recordIterations = false;
    // How refusals and warnings name the options.
    OptionNaming naming = OptionNaming::Cpp;
    // Names of the parameters, for the summary, the JSON and the report (optional).
    std::vector<std::string> names;
    // Keep the status-log rows in the result.
    bool captureLog = false;
    // Receives the status-log rows while they are produced.
    LogSink onLogRow;
    // Sees every accepted step; may stop the run.
    IterationCallback onIteration;
    // When onIteration stops the run, the verdict judges the end point as a converged
    // run instead of calling it stopped by the user (faces with stopping tests of their
    // own, such as least squares).
    bool stopMeansConverged = false;
    // Called with the engine once before the run (finished false) and once after it
    // (finished true), while the engine still exists: a host attaches its diagnostic
    // plots and views here, and reads them before the engine goes away.
    std::function<void(CVRNUnconstrainedMinimization& engine, bool finished)> onEngine;
    // Sees the start point of every run (iteration 0) and every accepted step, with the
    // step length, the radius and the evaluations so far (all runs); run counts from 1.
    std::function<void(int run, const IterationRecord& record)> onProgress;
    // Receives notes the run core has before the work starts (a first iteration that
    // will take very many evaluations, say). Unset: they go to the result's warnings only.
    std::function<void(const std::string& note)> onNote;
};

} // namespace vrn
