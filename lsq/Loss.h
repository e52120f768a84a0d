#pragma once

// Robust losses for least squares, as SciPy's least_squares defines them. With
// z = (r / C)^2 (C the loss scale) the cost of a residual is 1/2 C^2 rho(z):
//   linear   rho(z) = z
//   soft_l1  rho(z) = 2 (sqrt(1 + z) - 1)
//   huber    rho(z) = z for z <= 1, 2 sqrt(z) - 1 above
//   cauchy   rho(z) = ln(1 + z)
//   arctan   rho(z) = arctan(z)
// The Gauss-Newton model reweights each residual and its row of the Jacobian
// (iteratively reweighted least squares): with w = rho'(z) + 2 rho''(z) z, raised to
// DBL_EPSILON when smaller, row i of J is multiplied by sqrt(w) and r_i replaced by
// rho'(z) r_i / sqrt(w). Then J~^T r~ is the exact gradient of the cost and J~^T J~
// its Gauss-Newton Hessian.

#include <optional>
#include <span>
#include <string>

#include "face/MinimizeOptions.h"

namespace vrn {

// rho(z), rho'(z), rho''(z) at z >= 0.
struct LossValues {
    double rho = 0.0;
    double d1 = 1.0;
    double d2 = 0.0;
};
LossValues EvaluateLoss(Loss loss, double z);

// The cost 1/2 C^2 sum rho((r_i / C)^2), summed in index order (C = scale).
double LossCost(Loss loss, double scale, std::span<const double> r);

// The reweighting of one residual for the Gauss-Newton model: the factor for its row
// of J (sqrt(w)) and the reweighted residual. Linear: (1, r).
struct LossWeight {
    double rowFactor = 1.0;
    double residual = 0.0;
};
LossWeight ReweightResidual(Loss loss, double scale, double r);

} // namespace vrn
