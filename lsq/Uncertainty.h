#pragma once

// Parameter uncertainties of a least-squares fit from the Jacobian J (m x n) at the
// solution: the covariance s^2 (J^T J)^-1 with s^2 = 2 cost / (m - n), or (J^T J)^-1
// when the residuals are already divided by absolute standard deviations. J^T J is
// never formed: with D the column norms of J, the singular value decomposition
// J D^-1 = U S V^T (one-sided Jacobi rotations, accurate for columns of very different
// norms) gives (J^T J)^-1 = D^-1 V S^-2 V^T D^-1, and the rank does not depend on the
// units of the parameters. Singular values below eps max(m, n) s_max (or, for a Jacobian
// by differences, below their accuracy times s_max) count as zero; a
// parameter with more than 1% of its direction in their right singular vectors is one
// the data cannot determine: its row and column of the covariance are NaN, and
// undetermined names it. The other entries are those of the pseudo-inverse.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "face/MinimizeResult.h"
#include "linalg/SingularValues.h"

namespace vrn {

// The uncertainties for the Jacobian jac (m x n row-major) and the cost 1/2 sum r_i^2
// (or the robust cost) at the solution.
// accuracy: the relative accuracy of J's columns (0 for an exact Jacobian, about sqrt(eps)
// for forward and eps^(2/3) for central differences); a singular value below it (relative
// to the largest) is noise of the differences and counts as zero too.
Uncertainty ComputeUncertainty(std::span<const double> jac, size_t m, size_t n, double cost,
                               bool absoluteSigma = false, double accuracy = 0.0);

// The sentence that names the undetermined parameters ("b and c"), or empty.
std::string UndeterminedWarning(const Uncertainty& u, const std::vector<std::string>& names);

} // namespace vrn
