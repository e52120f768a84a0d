#pragma once
// Inner loops of the Cholesky factorization and of the triangular solves, on a
// row-major matrix whose row i starts at a + i*ld.
//
// Every element is computed exactly as the plain loops compute it: each inner
// product is a running sum that starts from 0.0 and adds its products in increasing
// index order, each product a separate multiplication. The vector versions only
// work on several independent sums side by side (several rows, or several columns
// of one row), so every instruction set gives the same bits.
#include <cstddef>

namespace vrn::cholesky {

// Portable: plain C++. Sse2: two doubles per register. Avx: four doubles per
// register, compiled for AVX only for these functions and used only when the
// processor reports it.
enum class Isa { Portable, Sse2, Avx };

// Whether this build contains the instruction set and this processor runs it.
bool Supported(Isa isa);
// The widest supported instruction set, found once.
Isa Fastest();

// Factors the lower triangle with diagonal of the n x n matrix in place:
// for each column j, t = a_jj - sum_{k<j} a_jk^2; a_jj = sqrt(t) when t >= theta,
// else sqrt(w) with w = max(max_{i>j} |a_ij|, theta); then for i > j,
// a_ij = (a_ij - sum_{k<j} a_ik a_jk) / a_jj (0 when a_jj is 0, and 0 when its
// magnitude reaches 1e300). Returns the largest w - t of the raised pivots (0 if
// none). The strict upper triangle is neither read nor written.
double Factor(Isa isa, double* a, std::ptrdiff_t ld, int n, double theta);

// x := L^-1 b, x_i = (b_i - sum_{j<i} l_ij x_j) / l_ii (0 when l_ii is 0).
// x and b may be the same array.
void ForwardSolve(Isa isa, const double* l, std::ptrdiff_t ld, int n, double* x, const double* b);

// x := L^-T b, x_i = (b_i - sum_{k>i} l_ki x_k) / l_ii (0 when l_ii is 0), i from
// n-1 down to 0. The sum of x_i starts with the term of x_{i+1}, the last one
// finished, so the components form one chain and there is nothing independent to
// put side by side: one loop serves every instruction set. x and b may be the same
// array.
void BackSolve(const double* l, std::ptrdiff_t ld, int n, double* x, const double* b);

} // namespace vrn::cholesky
