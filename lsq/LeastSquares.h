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
//     if (fit.success) use(fit.x, fit.fit.uncertainty.standardErrors);
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

#include "face/Minimize.h"
#include "face/MinimizeMany.h"
#include "lsq/Loss.h"
#include "lsq/Uncertainty.h"

namespace vrn {

// The residuals r(x) (m values; m must be the same at every call).
using ResidualFunction = std::function<std::vector<double>(std::span<const double> x)>;
// Fills jac (m x n, row-major: jac[i * n + j] = d r_i / d x_j) at x; jac is zeroed
// before every call.
using JacobianFunction = std::function<void(std::span<const double> x, std::span<double> jac)>;

// Why a least-squares run ended (LeastSquaresFit::status); the numbers are SciPy's
// least_squares status values where one exists.
enum class LeastSquaresStatus : int {
    ImproperInput = -1,  // options or start point refused, nothing run
    EvaluationLimit = 0, // the residual evaluation limit or the iteration limit reached
    Gradient = 1,        // gtol: the largest cosine between r and a column of J is small
    CostChange = 2,      // ftol: relative reduction of the cost (actual and predicted) small
    Step = 3,            // xtol: the scaled step is small against the scaled x
    CostChangeAndStep = 4,
    NoLowerPoint = 5, // the engine found no lower point near x (rounding level reached)
    EngineStopped = 6 // the engine ended by itself otherwise (large steps, ...)
};
// "gtol", "ftol", ... as words for reports; "unknown" outside the range.
const char* LeastSquaresStatusName(LeastSquaresStatus status);

// The options of a fit: the least-squares section of the option table
// (face/OptionTable.h; OptionTable(ProblemKind::LeastSquares) lists it with ranges and
// defaults) on the one options struct. The method is 3, the hook step
// (Levenberg-Marquardt), unless set to 2, the double dogleg. Options of a minimization
// that a fit does not use (typicalX, gradientTolerance, ...) are refused.
//
// onIteration sees each accepted step: the iteration (counted over the engine runs of
// one fit; a fallback fit counts anew), x, the cost and the gradient J^T r; returning
// false stops the fit (outcome Stopped). recordIterations keeps the iteration records
// of all engine runs, captureLog their status-log rows.
struct LeastSquaresOptions : MinimizeOptions {
    LeastSquaresOptions() { method = 3; }
};

// The result of a fit is the one result of the spine (face/MinimizeResult.h): x, f (the
// cost 1/2 sum rho(r_i^2)), gradient (J^T rho'(r) r), success, outcome, the verdict and
// warnings, and in fit the residuals, the Jacobian, SciPy's status, the counts and the
// parameter uncertainties. evaluations.f counts the residual evaluations outside
// difference Jacobians, evaluations.gradient the Jacobians.
using LeastSquaresResult = MinimizeResult;

// The first reason to refuse these options for n parameters, as one sentence in the
// options' naming; empty when they are fine.
std::string CheckLeastSquaresOptions(const LeastSquaresOptions& options, size_t n, bool jacobian = false);

// Fits x so that the residuals become small in the least-squares sense. jacobian may
// be empty: the Jacobian is then estimated by differences of the residuals. A residual
// vector that is empty, of a changing length, or not finite at x0 refuses the run
// (outcome Refused, fit.status ImproperInput). Exceptions thrown by the callables leave
// LeastSquares.
LeastSquaresResult LeastSquares(const ResidualFunction& residual, const JacobianFunction& jacobian,
                                const std::vector<double>& x0, const LeastSquaresOptions& options = {});

// Batches of fits, side by side on BatchOptions::threads threads (face/MinimizeMany.h):
// one result per item, in order, each what vrn::LeastSquares gives for it alone, bit
// for bit; an item that is refused or whose callables throw gets a refused result whose
// message begins with its index ("item 17: ..."), unless BatchOptions::rethrow.
// options.threads is not used (the fits are the parallel work); the callables are
// called from several threads at once.
struct FitItem {
    ResidualFunction residual;
    JacobianFunction jacobian; // may be empty: differences
    std::vector<double> x0;
};
std::vector<LeastSquaresResult> LeastSquaresMany(const std::vector<FitItem>& items,
                                                 const LeastSquaresOptions& options,
                                                 const BatchOptions& batch);
// The same residuals from several start points.
std::vector<LeastSquaresResult> LeastSquaresMany(const ResidualFunction& residual,
                                                 const JacobianFunction& jacobian,
                                                 const std::vector<std::vector<double>>& x0s,
                                                 const LeastSquaresOptions& options,
                                                 const BatchOptions& batch);

} // namespace vrn
