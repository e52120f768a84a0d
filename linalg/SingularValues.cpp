// Singular values by one-sided Jacobi rotations (see SingularValues.h).
#include "linalg/SingularValues.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numeric>

namespace vrn {

void SingularValueDecomposition(std::span<const double> a, size_t m, size_t n, std::vector<double>& sigma,
                                std::vector<double>& v) {
    // Columns of a, each contiguous.
    std::vector<double> col(m * n);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            col[j * m + i] = a[i * n + j];
    // With more rows than columns, the rotations work on R of a = QR (Householder
    // reflections) instead: the same singular values and right vectors for m n^2 work
    // instead of m n^2 per sweep. Householder QR keeps each column's backward error
    // small against that column's norm, so columns of very different norms stay accurate.
    if (m > n) {
        std::vector<double> r(n * n, 0.0); // columns of R, each contiguous
        for (size_t k = 0; k < n; k++) {
            double* ck = &col[k * m];
            double norm = 0.0;
            for (size_t i = k; i < m; i++)
                norm += ck[i] * ck[i];
            norm = std::sqrt(norm);
            const double alpha = ck[k] >= 0.0 ? -norm : norm;
            // v = x - alpha e1 in place of x; v^T v = 2 norm (norm + |x_k|).
            const double vv = 2.0 * norm * (norm + std::fabs(ck[k]));
            ck[k] -= alpha;
            if (vv > 0.0) {
                for (size_t j = k + 1; j < n; j++) {
                    double* cj = &col[j * m];
                    double d = 0.0;
                    for (size_t i = k; i < m; i++)
                        d += ck[i] * cj[i];
                    const double f = 2.0 * d / vv;
                    for (size_t i = k; i < m; i++)
                        cj[i] -= f * ck[i];
                }
            }
            r[k * n + k] = vv > 0.0 ? alpha : 0.0;
            for (size_t j = k + 1; j < n; j++)
                r[j * n + k] = col[j * m + k];
        }
        col.swap(r);
        m = n;
    }
    std::vector<double> w(n * n, 0.0); // columns of V, each contiguous
    for (size_t j = 0; j < n; j++)
        w[j * n + j] = 1.0;
    auto dot = [m](const double* p, const double* q) {
        double s = 0.0;
        for (size_t i = 0; i < m; i++)
            s += p[i] * q[i];
        return s;
    };
    // Sweeps of rotations that make the columns orthogonal; a bounded number of sweeps
    // (Jacobi converges quadratically, a handful is the rule).
    for (int sweep = 0; sweep < 80; sweep++) {
        bool rotated = false;
        for (size_t p = 0; p + 1 < n; p++) {
            for (size_t q = p + 1; q < n; q++) {
                double* cp = &col[p * m];
                double* cq = &col[q * m];
                const double alpha = dot(cp, cp);
                const double beta = dot(cq, cq);
                const double gamma = dot(cp, cq);
                // NaN compares false: no rotation.
                if (!(std::fabs(gamma) > DBL_EPSILON * std::sqrt(alpha * beta)) || gamma == 0.0)
                    continue;
                rotated = true;
                const double zeta = (beta - alpha) / (2.0 * gamma);
                const double t =
                    (zeta >= 0.0 ? 1.0 : -1.0) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
                const double c = 1.0 / std::sqrt(1.0 + t * t);
                const double s = c * t;
                for (size_t i = 0; i < m; i++) {
                    const double x = cp[i];
                    const double y = cq[i];
                    cp[i] = c * x - s * y;
                    cq[i] = s * x + c * y;
                }
                double* vp = &w[p * n];
                double* vq = &w[q * n];
                for (size_t i = 0; i < n; i++) {
                    const double x = vp[i];
                    const double y = vq[i];
                    vp[i] = c * x - s * y;
                    vq[i] = s * x + c * y;
                }
            }
        }
        if (!rotated)
            break;
    }
    std::vector<double> s(n);
    for (size_t j = 0; j < n; j++)
        s[j] = std::sqrt(dot(&col[j * m], &col[j * m]));
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&s](size_t x, size_t y) { return s[x] > s[y]; });
    sigma.assign(n, 0.0);
    v.assign(n * n, 0.0);
    for (size_t k = 0; k < n; k++) {
        sigma[k] = s[order[k]];
        for (size_t i = 0; i < n; i++)
            v[i * n + k] = w[order[k] * n + i];
    }
}

} // namespace vrn
