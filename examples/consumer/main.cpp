// Solves a small least-squares line fit with the library's matrix and kernels.
#include "host/matrix/Matrix.h"
#include "linalg/LinearAlgebra.h"

#include <cmath>
#include <cstdio>

int main() {
    // Points on y = 2 + 0.5 x.
    const int n = 5;
    double y[n];
    CMatrix a(n, 2);
    for (int i = 0; i < n; ++i) {
        a[i][0] = 1.0;
        a[i][1] = i;
        y[i] = 2.0 + 0.5 * i;
    }
    CMatrix normal, rhs;
    a.ATA(normal);
    a.ATV(rhs, y, n);
    CMatrix coef = (!normal) * rhs;

    // Residual a*coef - y; the 2 x 1 coefficient matrix is contiguous, so its
    // row-0 pointer is the coefficient vector.
    double residual[n];
    CVRNLinearAlgebra::matvec(a, coef[0], residual, n, 2);
    CVRNLinearAlgebra::daxpy(n, -1.0, y, 1, residual, 1);
    const double rnorm = CVRNLinearAlgebra::nrm2(n, residual, 1);

    std::printf("intercept %.6f slope %.6f residual norm %.3e\n", coef[0][0], coef[1][0], rnorm);
    return (std::fabs(coef[0][0] - 2.0) < 1e-12 && std::fabs(coef[1][0] - 0.5) < 1e-12 && rnorm < 1e-12) ? 0 : 1;
}
