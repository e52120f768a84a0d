#pragma once

// vrn::LeastSquares: nonlinear least squares through the minimizer.
//
//     // y = a exp(-b t) fitted to (t_i, y_i)
//     auto fit = vrn::LeastSquares(
//         [&](std::span<const double> p) {
//             std::vector<double> r(t.size());
//             for (size_t i = 0; i < t.size(); i++) r[i] = p[0] * std::exp(-p[1] * t[i]) - y[i];
//             return r;
//         },
//         {}, {1.0, 0.1});
//     if (fit.success) use(fit.x, fit.standardErrors);
//
// The objective handed to the engine is the cost F(x) = 1/2 sum_i rho(r_i(x)^2) (rho the
// loss, the identity by default). Its gradient is J^T r and its Hessian slot receives the
// Gauss-Newton model J^T J, so that the engine's hook step (method 3) is a
// Levenberg-Marquardt step and its double dogleg (method 2) a dogleg step on the
// Gauss-Newton model. The parameters are scaled by the Jacobian's column norms, the
// largest seen so far; the run stops on SciPy's ftol / xtol / gtol tests. At the end
// the covariance of the parameters is computed from the Jacobian (see Uncertainty.h).

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lsq/Loss.h"
#include "lsq/Uncertainty.h"
#include "tool/Minimize.h"

namespace vrn {

// The residuals r(x) (m values; m must be the same at every call).
using ResidualFunction = std::function<std::vector<double>(std::span<const double> x)>;
// Fills jac (m x n, row-major: jac[i * n + j] = d r_i / d x_j) at x; jac is zeroed
// before every call.
using JacobianFunction = std::function<void(std::span<const double> x, std::span<double> jac)>;

// How the Jacobian is estimated when no Jacobian callable is given. The step of
// parameter j is h max(|x_j|, s_j) with s_j = |x0_j| (1 when x0_j is 0), made exact in
// floating point ((x + h) - x).
enum class DifferenceScheme {
    TwoPoint,  // forward differences, h = sqrt(eps)
    ThreePoint // central differences, h = eps^(1/3)
};

// Why a least-squares run ended; the numbers are SciPy's least_squares status values
// where one exists.
enum class LeastSquaresStatus : int {
    ImproperInput = -1,  // options or start point refused, nothing run
    EvaluationLimit = 0, // maximumEvaluations or the iteration limit reached
    Gradient = 1,        // gtol: the largest cosine between r and a column of J is small
    CostChange = 2,      // ftol: relative reduction of the cost (actual and predicted) small
    Step = 3,            // xtol: the scaled step is small against the scaled x
    CostChangeAndStep = 4,
    NoLowerPoint = 5, // the engine found no lower point near x (rounding level reached)
    EngineStopped = 6 // the engine ended by itself otherwise (large steps, ...)
};
// "gtol", "ftol", ... as words for reports; "unknown" outside the range.
const char* LeastSquaresStatusName(LeastSquaresStatus status);

struct LeastSquaresOptions {
    // 3: the hook step (Levenberg-Marquardt), 2: the double dogleg (Powell's dogleg on
    // the Gauss-Newton model). Other methods are refused.
    int method = 3;
    // SciPy's tolerances (see LeastSquares.cpp), each >= 0 and < 1; values below
    // DBL_EPSILON are raised to it.
    double ftol = 1e-8;
    double xtol = 1e-8;
    double gtol = 1e-8;
    // Limit on the residual evaluations that are not part of a difference Jacobian
    // (0: 100 (n + 1)), at most 10^9. The run stops at the end of the iteration that
    // reaches it.
    long maximumEvaluations = 0;
    // Limit on the iterations of all engine runs together, 1 to 10^7.
    int itnlim = 10000;
    Loss loss = Loss::Linear;
    double lossScale = 1.0; // f_scale: residuals below it count as inliers; > 0
    DifferenceScheme differences = DifferenceScheme::TwoPoint;
    // Scale of each parameter (SciPy's x_scale): empty means from the Jacobian, the
    // inverse of its largest column norm seen so far; otherwise n values > 0.
    std::vector<double> xScale;
    // Initial trust radius in scaled units (> 0); default: chosen by the method.
    std::optional<double> trustRadius;
    // Threads that evaluate the columns of a difference Jacobian at the same time; the
    // residual callable must then allow concurrent calls. The result is that of one
    // thread, bit for bit.
    int threads = 1;
    // When the fit fails (and was neither refused nor stopped by onIteration), fit again
    // from x0 with the other method, then with the hook step and typical sizes |x0_j|
    // (when no x0_j is 0);
    // the first success is the result. Each fit has its own maximumEvaluations.
    bool fallbacks = true;
    // The residuals are already divided by absolute standard deviations: the covariance
    // is (J^T J)^-1, not scaled by the residual variance (curve_fit's absolute_sigma).
    bool absoluteSigma = false;
    // Keep the iteration records and the final model Hessian (of the last engine run)
    // and the status-log rows in engine.
    bool recordIterations = false;
    bool captureLog = false;
    // After each accepted step: the iteration (counted over the engine runs of one fit;
    // a fallback fit counts anew), x, the cost and the gradient J^T r. Returning false stops the fit (status
    // EvaluationLimit, success false).
    IterationCallback onIteration;
    OptionNaming naming = OptionNaming::Cpp;
};

struct LeastSquaresResult {
    std::vector<double> x;
    double cost = 0.0;              // 1/2 sum rho(r_i^2) at x
    std::vector<double> residuals;  // r(x), m values (SciPy's fun)
    std::vector<double> jacobian;   // J(x), m x n row-major (SciPy's jac)
    std::vector<double> gradient;   // J^T rho'(r) r (SciPy's grad)
    double optimality = 0.0;        // max |gradient_j|
    size_t m = 0;                   // residuals
    size_t n = 0;                   // parameters
    long residualEvaluations = 0;   // nfev: calls of the residual outside difference Jacobians
    long jacobianEvaluations = 0;   // njev: Jacobians evaluated (callable or differences)
    long differenceEvaluations = 0; // residual calls made for difference Jacobians
    int iterations = 0;             // accepted steps over all engine runs (and fits)
    int runs = 0;                   // engine runs (a new one when the scaling grows)
    LeastSquaresStatus status = LeastSquaresStatus::ImproperInput;
    std::string message;
    // The verdict: a stopping test ended the fit, the cost is finite and the
    // Gauss-Newton model at x sees no decrease worth a step (see Judge in
    // LeastSquares.cpp). Warnings say what went wrong or deserves a look (unidentifiable
    // parameters among them).
    bool success = false;
    std::vector<std::string> warnings;
    double timeSeconds = 0.0;
    // The parameter uncertainties at x.
    Uncertainty uncertainty;
    // The last engine run as vrn::Minimize returned it (its code, iteration records, log).
    MinimizeResult engine;

    // A short report: status, cost, parameters with standard errors, counts, warnings.
    std::string Summary(const std::vector<std::string>& names = {}) const;
};

// The first reason to refuse these options for n parameters, as one sentence; empty
// when they are fine.
std::string CheckLeastSquaresOptions(const LeastSquaresOptions& options, size_t n);

// Fits x so that the residuals become small in the least-squares sense. jacobian may
// be empty: the Jacobian is then estimated by differences of the residuals. A residual
// vector that is empty, of a changing length, or not finite at x0 refuses the run
// (status ImproperInput). Exceptions thrown by the callables leave LeastSquares.
LeastSquaresResult LeastSquares(const ResidualFunction& residual, const JacobianFunction& jacobian,
                                const std::vector<double>& x0, const LeastSquaresOptions& options = {});

} // namespace vrn
