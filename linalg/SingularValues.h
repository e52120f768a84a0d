#pragma once

// The singular value decomposition of a small dense matrix by one-sided Jacobi
// rotations: accurate for columns of very different norms (a badly scaled Jacobian),
// which forming A^T A would not be. With more rows than columns it first reduces A to
// R of A = QR by Householder reflections. The sweeps are bounded, so NaN entries end
// it too.

#include <cstddef>
#include <span>
#include <vector>

namespace vrn {

// The singular values of a (m x n row-major, largest first) and the right singular
// vectors as the columns of v (n x n row-major, same order).
void SingularValueDecomposition(std::span<const double> a, size_t m, size_t n, std::vector<double>& sigma,
                                std::vector<double>& v);

} // namespace vrn
