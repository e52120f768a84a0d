#pragma once

// The result of one minimization, the same for every face. The faces read its fields
// (or its JSON, render/ResultJson.h); none of them recomputes what it holds.
//
// Adding a field: here, and in the one serializer (render/ResultJson.cpp), which the
// program's --json, the Python package and the report all read.

#include <string>
#include <utility>
#include <vector>

#include "face/MethodTable.h"
#include "minimize/RunRecord.h"

namespace vrn {

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

// What the verdict found, in one word (the Python package's status follows it).
enum class Outcome {
    Success,        // a minimum within the success tolerance
    NotConverged,   // f would still fall noticeably: a Newton step from the end brings more than allowed
    NotAMinimum,    // the Hessian at the end has a negative eigenvalue (saddle, or no minimum)
    IterationLimit, // the iteration limit ended the run before the end point passed
    NotFinite,      // f or the gradient is not finite at the end point
    CheckFailed,    // a derivative check found a mismatch
    NotUnique,      // a least-squares fit whose Jacobian is rank deficient: the data do not determine x
    Stopped,        // the caller's callback stopped the run
    Refused         // the options or the start point were refused; nothing ran
};
// "success", "not-converged", "not-a-minimum", "iteration-limit", "not-finite",
// "check-failed", "not-unique", "stopped", "refused".
const char* OutcomeName(Outcome outcome);

struct Evaluations {
    long f = 0;        // calls of the objective
    long gradient = 0; // calls of the gradient
    long hessian = 0;  // calls of the Hessian
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

// One accepted step (iteration 0 is the start point of a run), when recordIterations is set.
struct IterationRecord {
    int run = 1; // the tool driver's run (1 for the other drivers)
    int iteration = 0;
    double f = 0.0;
    double gradientNorm = 0.0; // max |g_i|
    double stepLength = 0.0;   // Euclidean length of the step
    double radius = 0.0;       // trust radius (methods 2, 3), lambda (1), line step (4)
    long fEvaluations = 0;     // calls so far (all runs)
    long gradientEvaluations = 0;
    long hessianEvaluations = 0;
    std::vector<double> x;
    std::vector<double> g;
};

// At most this many iteration records are kept: the first and the last ones, and an
// even thinning of those between (MinimizeResult::recordsDropped says how many went).
constexpr size_t kMaxIterationRecords = 2000;

// How the verdict judged the end point.
struct Verdict {
    // "newton-decrease" (the model test below) or "relative-gradient" (the fallback for
    // large n without a Hessian: max_i |g_i| max(|x_i|, typx_i) / max(|f|, typf) <= tol).
    std::string test;
    // Where the Hessian came from: "analytic", "model" (the method's final model:
    // finite differences or secant updates), "differences" (estimated at the end
    // point, see evaluations), or "none".
    std::string hessianSource;
    double tolerance = 0.0;    // t, the success tolerance
    double decrease = 0.0;     // 1/2 g^T H^-1 g at the end point (NaN when not computed)
    double allowed = 0.0;      // t^2 max(min(|f|, |f0 - f|), typf)
    double minCurvature = 0.0; // smallest eigenvalue of D H D, D = diag(H)^-1/2 (NaN when not computed)
    bool positiveDefinite = false;
    // The Hessian was estimated by differences of f that drowned in f's rounding.
    bool curvatureUnresolved = false;
    // The Newton step -H^-1 g from the end point (empty when not computed).
    std::vector<double> newtonStep;
    double engineGradientNorm = 0.0; // max |g_i| of the engine's own gradient at the end point
    Evaluations evaluations;         // calls the verdict made (included in MinimizeResult::evaluations)
    int saddleEscapes = 0;           // restarts along negative curvature away from a saddle point
    // A fit whose model hardly depends on its parameters at the end point: changing any
    // parameter by its own size moves the residuals by less than 1e-6 of their norm (a
    // plateau, such as a peak outside the data). Never a success.
    bool plateau = false;
};

// The parameter uncertainties of a least-squares fit (lsq/Uncertainty.h computes them).
struct Uncertainty {
    bool computed = false;         // false: J not finite, or nothing was fitted
    int dof = 0;                   // degrees of freedom, m - n
    double residualVariance = 0.0; // s^2 (1 with absolute sigma; NaN when dof <= 0)
    bool absoluteSigma = false;
    // Of J with its columns scaled to unit norm: rank, condition and singular values do
    // not depend on the units of the parameters.
    int rank = 0;                   // numerical rank
    double conditionNumber = 0.0;   // s_max / s_min (infinity when rank < n)
    std::vector<double> covariance; // n x n row-major
    std::vector<double> standardErrors;
    std::vector<double> correlation;    // n x n row-major
    std::vector<int> undetermined;      // parameters the data cannot determine
    std::vector<double> singularValues; // largest first
};

// What a least-squares fit adds to its result (vrn::LeastSquares, lsq/LeastSquares.h).
// f is then the cost 1/2 sum rho(r_i^2), gradient J^T rho'(r) r, and evaluations count
// the cost, gradient and Hessian requests the engine made of the fit's model.
struct LeastSquaresFit {
    size_t m = 0; // residuals; 0 when the result is not that of a fit
    // SciPy's least_squares status (-1 refused, 0 evaluation or iteration limit, 1 gtol,
    // 2 ftol, 3 xtol, 4 ftol and xtol) and ours beyond (5 no lower point, 6 the engine
    // stopped otherwise), and its name ("gtol", ...).
    int status = -1;
    std::string statusName;
    std::vector<double> residuals; // r(x), m values (SciPy's fun)
    std::vector<double> jacobian;  // J(x), m x n row-major (SciPy's jac)
    double optimality = 0.0;       // max |gradient_j|
    long residualEvaluations = 0;  // nfev: residual calls outside difference Jacobians
    long jacobianEvaluations = 0;  // njev: Jacobians (callable or differences)
    long differenceEvaluations = 0;
    std::string loss = "linear";
    double lossScale = 1.0;
    // Fits made from x0 (more than one when the first failed and fallbacks ran), and how
    // the successful one ran ("hook step", "dogleg", "hook step, typical sizes |x0|").
    int attempts = 0;
    std::string approach;
    Uncertainty uncertainty;
};

struct MinimizeResult {
    // The point the run ended at and the objective value there (for methods 1 to 3 the
    // candidate a stopping test judged after codes 1, 2 and 5, else the current point).
    std::vector<double> x;
    double f = 0.0;
    // Names of the parameters (from MinimizeOptions::names; may be empty).
    std::vector<std::string> names;
    // Termination code (0 to 7) and the engine's text without the final line feed. Code
    // 6 with a message of its own means the request was refused and nothing ran.
    int code = 6;
    std::string message;
    Status status = Status::OptionCheck; // the code, named
    int method = kDefaultMethod;
    std::string driver = "engine";
    // The verdict and, when it is false (or something else deserves a word), sentences
    // that say what happened and what to try.
    bool success = false;
    Outcome outcome = Outcome::Refused;
    std::vector<std::string> warnings;
    Verdict verdict;
    // The gradient at x and its infinity norm.
    std::vector<double> gradient;
    double gradientNorm = 0.0;
    double initialF = 0.0;    // f at the start point (first run)
    double timeSeconds = 0.0; // wall time of the call
    // What the engine ran with.
    std::vector<double> typicalX;
    double typicalF = 1.0;
    double gradientTolerance = 0.0;
    // Derivatives as the run had them, e.g. "analytic gradient, secant (BFGS) Hessian".
    std::string derivatives;
    DerivativeCheck gradientCheck;
    DerivativeCheck hessianCheck;
    // Calls of f that returned NaN or an infinity.
    long nonFiniteEvaluations = 0;
    // One per accepted step, when MinimizeOptions::recordIterations is set (all runs),
    // at most kMaxIterationRecords of them.
    std::vector<IterationRecord> iterationRecords;
    long recordsDropped = 0;
    // With recordIterations: the model Hessian at the end, row-major n x n (empty when
    // the method keeps none or the run stopped before it built one).
    std::vector<double> hessian;
    // The settings the run used, as (label, value) pairs: only those the method and
    // driver use, each as a number where it has one.
    std::vector<std::pair<std::string, std::string>> settings;
    // Iterations taken (the sum over all runs with the tool driver) and runs made.
    int iterations = 0;
    int runs = 0;
    Evaluations evaluations;
    // The status-log rows, when MinimizeOptions::captureLog is set.
    std::vector<std::string> log;
    // The fit's own part, for results of least-squares fits (fit.m > 0).
    LeastSquaresFit fit;

    bool IsFit() const { return fit.m > 0; }

    // The engine's own claim (code 1 or 2); prefer success.
    bool Converged() const { return code == 1 || code == 2; }
    // A brief report of one screen: method, derivatives, iterations, evaluations,
    // f0 -> f, |g|, time, the verdict and the warnings.
    std::string Summary() const;
    // The summary, the point and gradient, the derivative checks and, when recorded,
    // the per-iteration table.
    std::string FullReport() const;
};

} // namespace vrn
