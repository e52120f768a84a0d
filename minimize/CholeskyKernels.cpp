// Cholesky factorization and triangular solves, plain and vectorized.
//
// The factorization goes through the columns in panels of four. For a panel
// j0 .. j0+3 and a block of rows, the sums over k < j0 of a_ik * a_jk are formed
// for all rows and all four columns at once: a register holds the sums of one row
// for the four columns, and at each k it gets the product of a_ik (the same in all
// lanes) with (a_{j0,k}, .., a_{j0+3,k}), taken from the four panel rows by an
// in-register transpose of 4 x 4 (2 x 2 with SSE2) elements. The remaining terms
// k = j0 .. j-1, inside the panel, are then added one by one in increasing k to the
// same running sums, and the element is finished as in the plain loop. The panel's
// own rows go first, column by column, so that the pivots (and the fall-back that
// reads the column below the diagonal, still untouched) are decided before any row
// below uses them.
#include "minimize/CholeskyKernels.h"

#include <cmath>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) && defined(__GNUC__)
#define VRN_CHOLESKY_X86 1
#include <immintrin.h>
#else
#define VRN_CHOLESKY_X86 0
#endif

namespace vrn::cholesky {
namespace {

constexpr int kPanel = 4;

// a_ij from its running sum s and the finished diagonal element ljj.
inline void Store(double& aij, double s, double ljj) {
    if (ljj == 0.0)
        aij = 0.0;
    else
        aij = (aij - s) / ljj;
    if (std::fabs(aij) >= 1e300)
        aij = 0.0;
}

// Diagonal element of column j from sum = sum_{k<j} a_jk^2; raises the pivot when
// t falls below theta and keeps the largest amount added.
inline void Pivot(double* a, std::ptrdiff_t ld, int n, int j, double sum, double theta, double& added) {
    double* const rj = a + j * ld;
    const double t = rj[j] - sum;
    if (t >= theta) {
        rj[j] = std::sqrt(t);
        return;
    }
    double w = 0.0;
    for (int i = j + 1; i < n; i++) {
        const double v = std::fabs(a[i * ld + j]);
        if (v > w)
            w = v;
    }
    if (w <= theta)
        w = theta;
    rj[j] = std::sqrt(w);
    const double grow = w - t;
    added = added > grow ? added : grow;
}

// Column j after columns 0 .. j-1, one running sum per element.
inline void PlainColumn(double* a, std::ptrdiff_t ld, int n, int j, double theta, double& added) {
    const double* const rj = a + j * ld;
    double sum = 0.0;
    for (int k = 0; k < j; k++)
        sum += rj[k] * rj[k];
    Pivot(a, ld, n, j, sum, theta, added);
    const double ljj = rj[j];
    for (int i = j + 1; i < n; i++) {
        double* const ri = a + i * ld;
        double s = 0.0;
        for (int k = 0; k < j; k++)
            s += ri[k] * rj[k];
        Store(ri[j], s, ljj);
    }
}

// Column by column, four rows summed side by side (no vector registers).
double FactorPortable(double* a, std::ptrdiff_t ld, int n, double theta) {
    double added = 0.0;
    for (int j = 0; j < n; j++) {
        const double* const rj = a + j * ld;
        double sum = 0.0;
        for (int k = 0; k < j; k++)
            sum += rj[k] * rj[k];
        Pivot(a, ld, n, j, sum, theta, added);
        const double ljj = rj[j];
        int i = j + 1;
        for (; i + 3 < n; i += 4) {
            double* const r0 = a + i * ld;
            double* const r1 = r0 + ld;
            double* const r2 = r1 + ld;
            double* const r3 = r2 + ld;
            double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
            for (int k = 0; k < j; k++) {
                const double ljk = rj[k];
                s0 += r0[k] * ljk;
                s1 += r1[k] * ljk;
                s2 += r2[k] * ljk;
                s3 += r3[k] * ljk;
            }
            Store(r0[j], s0, ljj);
            Store(r1[j], s1, ljj);
            Store(r2[j], s2, ljj);
            Store(r3[j], s3, ljj);
        }
        for (; i < n; i++) {
            double* const ri = a + i * ld;
            double s = 0.0;
            for (int k = 0; k < j; k++)
                s += ri[k] * rj[k];
            Store(ri[j], s, ljj);
        }
    }
    return added;
}

// Rows i0 .. i0+rows-1 of the panel j0: s[r][c] holds sum_{k<j0} a_ik a_{j0+c,k};
// adds the panel's own terms and finishes the elements, column by column.
// Column-major over the block, so that the rows' divisions overlap.
inline void FinishRows(double* a, std::ptrdiff_t ld, int i0, int rows, int j0, double (*s)[kPanel]) {
    for (int c = 0; c < kPanel; c++) {
        const int j = j0 + c;
        const double* const rj = a + j * ld;
        const double ljj = rj[j];
        for (int r = 0; r < rows; r++) {
            double* const ri = a + (i0 + r) * ld;
            double t = s[r][c];
            for (int k = j0; k < j; k++)
                t += ri[k] * rj[k];
            Store(ri[j], t, ljj);
        }
    }
}

// The panel scheme above; Ops::Sums<R> forms the sums over k < j0 for R rows.
template <class Ops> double FactorPanels(double* a, std::ptrdiff_t ld, int n, double theta) {
    double added = 0.0;
    double s[Ops::kRows][kPanel];
    int j0 = 0;
    for (; j0 + kPanel <= n; j0 += kPanel) {
        const double* const panel = a + j0 * ld;
        // The panel's own rows: pivots first, then the elements below them inside the panel.
        Ops::template Sums<kPanel>(panel, ld, panel, j0, s);
        for (int c = 0; c < kPanel; c++) {
            const int j = j0 + c;
            const double* const rj = a + j * ld;
            double sum = s[c][c];
            for (int k = j0; k < j; k++)
                sum += rj[k] * rj[k];
            Pivot(a, ld, n, j, sum, theta, added);
            for (int r = c + 1; r < kPanel; r++) {
                double* const ri = a + (j0 + r) * ld;
                double t = s[r][c];
                for (int k = j0; k < j; k++)
                    t += ri[k] * rj[k];
                Store(ri[j], t, rj[j]);
            }
        }
        // The rows below the panel.
        int i = j0 + kPanel;
        for (; i + Ops::kRows <= n; i += Ops::kRows) {
            Ops::template Sums<Ops::kRows>(a + i * ld, ld, panel, j0, s);
            FinishRows(a, ld, i, Ops::kRows, j0, s);
        }
        for (; i < n; i++) {
            Ops::template Sums<1>(a + i * ld, ld, panel, j0, s);
            FinishRows(a, ld, i, 1, j0, s);
        }
    }
    // Fewer than four columns left.
    for (int j = j0; j < n; j++)
        PlainColumn(a, ld, n, j, theta, added);
    return added;
}

void ForwardSolvePortable(const double* l, std::ptrdiff_t ld, int n, double* x, const double* b) {
    if (n <= 0)
        return;
    x[0] = l[0] == 0.0 ? 0.0 : b[0] / l[0];
    for (int i = 1; i < n; i++) {
        const double* const li = l + i * ld;
        double sum = 0.0;
        for (int j = 0; j < i; j++)
            sum += li[j] * x[j];
        x[i] = li[i] == 0.0 ? 0.0 : (b[i] - sum) / li[i];
    }
}

// Rows i0 .. i0+rows-1 of the forward solve, given s[r] = sum_{j<i0} l_ij x_j.
inline void FinishForward(const double* l, std::ptrdiff_t ld, int i0, int rows, double* x, const double* b,
                          const double* s) {
    for (int r = 0; r < rows; r++) {
        const int i = i0 + r;
        const double* const li = l + i * ld;
        double sum = s[r];
        for (int j = i0; j < i; j++)
            sum += li[j] * x[j];
        if (i == 0)
            x[0] = li[0] == 0.0 ? 0.0 : b[0] / li[0];
        else
            x[i] = li[i] == 0.0 ? 0.0 : (b[i] - sum) / li[i];
    }
}

// Forward solve in blocks of Ops::kSolveRows rows: the sums over the finished
// components j < i0 side by side, then the block's own triangle one row at a time.
template <class Ops>
void ForwardSolveBlocks(const double* l, std::ptrdiff_t ld, int n, double* x, const double* b) {
    double s[Ops::kSolveRows];
    int i0 = 0;
    for (; i0 + Ops::kSolveRows <= n; i0 += Ops::kSolveRows) {
        Ops::SolveSums(l + i0 * ld, ld, x, i0, s);
        FinishForward(l, ld, i0, Ops::kSolveRows, x, b, s);
    }
    for (; i0 < n; i0++) {
        const double* const li = l + i0 * ld;
        double sum = 0.0;
        for (int j = 0; j < i0; j++)
            sum += li[j] * x[j];
        FinishForward(l, ld, i0, 1, x, b, &sum);
    }
}

#if VRN_CHOLESKY_X86

// Two doubles per register: a row's four column sums in two registers.
struct Sse2Ops {
    static constexpr int kRows = 4;
    static constexpr int kSolveRows = 4;

    template <int R>
    static void Sums(const double* rows, std::ptrdiff_t ld, const double* panel, int kEnd,
                     double (*s)[kPanel]) {
        const double* const p0 = panel;
        const double* const p1 = p0 + ld;
        const double* const p2 = p1 + ld;
        const double* const p3 = p2 + ld;
        __m128d lo[R], hi[R]; // columns 0, 1 and 2, 3
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
            lo[r] = hi[r] = _mm_setzero_pd();
        int k = 0;
        for (; k + 2 <= kEnd; k += 2) {
            const __m128d v0 = _mm_loadu_pd(p0 + k);
            const __m128d v1 = _mm_loadu_pd(p1 + k);
            const __m128d v2 = _mm_loadu_pd(p2 + k);
            const __m128d v3 = _mm_loadu_pd(p3 + k);
            const __m128d c01a = _mm_unpacklo_pd(v0, v1); // column values at k
            const __m128d c01b = _mm_unpackhi_pd(v0, v1); // and at k+1
            const __m128d c23a = _mm_unpacklo_pd(v2, v3);
            const __m128d c23b = _mm_unpackhi_pd(v2, v3);
#pragma GCC unroll 8
            for (int r = 0; r < R; r++) {
                const __m128d rv = _mm_loadu_pd(rows + r * ld + k);
                const __m128d ra = _mm_unpacklo_pd(rv, rv);
                const __m128d rb = _mm_unpackhi_pd(rv, rv);
                lo[r] = _mm_add_pd(lo[r], _mm_mul_pd(ra, c01a));
                hi[r] = _mm_add_pd(hi[r], _mm_mul_pd(ra, c23a));
                lo[r] = _mm_add_pd(lo[r], _mm_mul_pd(rb, c01b));
                hi[r] = _mm_add_pd(hi[r], _mm_mul_pd(rb, c23b));
            }
        }
        for (; k < kEnd; k++) {
            const __m128d c01 = _mm_set_pd(p1[k], p0[k]);
            const __m128d c23 = _mm_set_pd(p3[k], p2[k]);
#pragma GCC unroll 8
            for (int r = 0; r < R; r++) {
                const __m128d ra = _mm_set1_pd(rows[r * ld + k]);
                lo[r] = _mm_add_pd(lo[r], _mm_mul_pd(ra, c01));
                hi[r] = _mm_add_pd(hi[r], _mm_mul_pd(ra, c23));
            }
        }
#pragma GCC unroll 8
        for (int r = 0; r < R; r++) {
            _mm_storeu_pd(s[r], lo[r]);
            _mm_storeu_pd(s[r] + 2, hi[r]);
        }
    }

    // s[r] = sum_{j<jEnd} l_{r,j} x_j for the four rows starting at rows.
    static void SolveSums(const double* rows, std::ptrdiff_t ld, const double* x, int jEnd, double* s) {
        const double* const q0 = rows;
        const double* const q1 = q0 + ld;
        const double* const q2 = q1 + ld;
        const double* const q3 = q2 + ld;
        __m128d s01 = _mm_setzero_pd(), s23 = _mm_setzero_pd();
        int j = 0;
        for (; j + 2 <= jEnd; j += 2) {
            const __m128d v0 = _mm_loadu_pd(q0 + j);
            const __m128d v1 = _mm_loadu_pd(q1 + j);
            const __m128d v2 = _mm_loadu_pd(q2 + j);
            const __m128d v3 = _mm_loadu_pd(q3 + j);
            const __m128d xv = _mm_loadu_pd(x + j);
            const __m128d xa = _mm_unpacklo_pd(xv, xv);
            const __m128d xb = _mm_unpackhi_pd(xv, xv);
            s01 = _mm_add_pd(s01, _mm_mul_pd(_mm_unpacklo_pd(v0, v1), xa));
            s23 = _mm_add_pd(s23, _mm_mul_pd(_mm_unpacklo_pd(v2, v3), xa));
            s01 = _mm_add_pd(s01, _mm_mul_pd(_mm_unpackhi_pd(v0, v1), xb));
            s23 = _mm_add_pd(s23, _mm_mul_pd(_mm_unpackhi_pd(v2, v3), xb));
        }
        for (; j < jEnd; j++) {
            const __m128d xa = _mm_set1_pd(x[j]);
            s01 = _mm_add_pd(s01, _mm_mul_pd(_mm_set_pd(q1[j], q0[j]), xa));
            s23 = _mm_add_pd(s23, _mm_mul_pd(_mm_set_pd(q3[j], q2[j]), xa));
        }
        _mm_storeu_pd(s, s01);
        _mm_storeu_pd(s + 2, s23);
    }
};

// Four doubles per register: a row's four column sums in one register. Only these
// functions are compiled for AVX (no FMA: products and sums stay separate).
struct AvxOps {
    static constexpr int kRows = 8;
    static constexpr int kSolveRows = 8;

    template <int R>
    __attribute__((target("avx"))) static void Sums(const double* rows, std::ptrdiff_t ld,
                                                    const double* panel, int kEnd, double (*s)[kPanel]) {
        const double* const p0 = panel;
        const double* const p1 = p0 + ld;
        const double* const p2 = p1 + ld;
        const double* const p3 = p2 + ld;
        __m256d acc[R];
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
            acc[r] = _mm256_setzero_pd();
        int k = 0;
        for (; k + 4 <= kEnd; k += 4) {
            const __m256d v0 = _mm256_loadu_pd(p0 + k);
            const __m256d v1 = _mm256_loadu_pd(p1 + k);
            const __m256d v2 = _mm256_loadu_pd(p2 + k);
            const __m256d v3 = _mm256_loadu_pd(p3 + k);
            const __m256d e01 = _mm256_unpacklo_pd(v0, v1); // k, k+2 of rows 0, 1
            const __m256d o01 = _mm256_unpackhi_pd(v0, v1); // k+1, k+3
            const __m256d e23 = _mm256_unpacklo_pd(v2, v3);
            const __m256d o23 = _mm256_unpackhi_pd(v2, v3);
            const __m256d c0 = _mm256_permute2f128_pd(e01, e23, 0x20); // column values at k
            const __m256d c1 = _mm256_permute2f128_pd(o01, o23, 0x20); // k+1
            const __m256d c2 = _mm256_permute2f128_pd(e01, e23, 0x31); // k+2
            const __m256d c3 = _mm256_permute2f128_pd(o01, o23, 0x31); // k+3
#pragma GCC unroll 8
            for (int r = 0; r < R; r++) {
                const double* const q = rows + r * ld + k;
                __m256d t = _mm256_add_pd(acc[r], _mm256_mul_pd(_mm256_broadcast_sd(q), c0));
                t = _mm256_add_pd(t, _mm256_mul_pd(_mm256_broadcast_sd(q + 1), c1));
                t = _mm256_add_pd(t, _mm256_mul_pd(_mm256_broadcast_sd(q + 2), c2));
                acc[r] = _mm256_add_pd(t, _mm256_mul_pd(_mm256_broadcast_sd(q + 3), c3));
            }
        }
        for (; k < kEnd; k++) {
            const __m256d c = _mm256_set_pd(p3[k], p2[k], p1[k], p0[k]);
#pragma GCC unroll 8
            for (int r = 0; r < R; r++)
                acc[r] = _mm256_add_pd(acc[r], _mm256_mul_pd(_mm256_broadcast_sd(rows + r * ld + k), c));
        }
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
            _mm256_storeu_pd(s[r], acc[r]);
    }

    // s[r] = sum_{j<jEnd} l_{r,j} x_j for the eight rows starting at rows.
    __attribute__((target("avx"))) static void SolveSums(const double* rows, std::ptrdiff_t ld,
                                                         const double* x, int jEnd, double* s) {
        __m256d acc[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};
        int j = 0;
        for (; j + 4 <= jEnd; j += 4) {
            __m256d c[2][4];
#pragma GCC unroll 2
            for (int g = 0; g < 2; g++) {
                const double* const q = rows + 4 * g * ld + j;
                const __m256d v0 = _mm256_loadu_pd(q);
                const __m256d v1 = _mm256_loadu_pd(q + ld);
                const __m256d v2 = _mm256_loadu_pd(q + 2 * ld);
                const __m256d v3 = _mm256_loadu_pd(q + 3 * ld);
                const __m256d e01 = _mm256_unpacklo_pd(v0, v1);
                const __m256d o01 = _mm256_unpackhi_pd(v0, v1);
                const __m256d e23 = _mm256_unpacklo_pd(v2, v3);
                const __m256d o23 = _mm256_unpackhi_pd(v2, v3);
                c[g][0] = _mm256_permute2f128_pd(e01, e23, 0x20);
                c[g][1] = _mm256_permute2f128_pd(o01, o23, 0x20);
                c[g][2] = _mm256_permute2f128_pd(e01, e23, 0x31);
                c[g][3] = _mm256_permute2f128_pd(o01, o23, 0x31);
            }
#pragma GCC unroll 4
            for (int q = 0; q < 4; q++) {
                const __m256d xq = _mm256_broadcast_sd(x + j + q);
                acc[0] = _mm256_add_pd(acc[0], _mm256_mul_pd(c[0][q], xq));
                acc[1] = _mm256_add_pd(acc[1], _mm256_mul_pd(c[1][q], xq));
            }
        }
        for (; j < jEnd; j++) {
            const __m256d xq = _mm256_broadcast_sd(x + j);
            const __m256d c0 = _mm256_set_pd(rows[3 * ld + j], rows[2 * ld + j], rows[ld + j], rows[j]);
            const __m256d c1 =
                _mm256_set_pd(rows[7 * ld + j], rows[6 * ld + j], rows[5 * ld + j], rows[4 * ld + j]);
            acc[0] = _mm256_add_pd(acc[0], _mm256_mul_pd(c0, xq));
            acc[1] = _mm256_add_pd(acc[1], _mm256_mul_pd(c1, xq));
        }
        _mm256_storeu_pd(s, acc[0]);
        _mm256_storeu_pd(s + 4, acc[1]);
    }
};

#endif // VRN_CHOLESKY_X86

Isa Detect() {
#if VRN_CHOLESKY_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx"))
        return Isa::Avx;
    return Isa::Sse2;
#else
    return Isa::Portable;
#endif
}

} // namespace

bool Supported(Isa isa) {
    switch (isa) {
    case Isa::Portable:
        return true;
    case Isa::Sse2:
        return VRN_CHOLESKY_X86 != 0;
    case Isa::Avx:
        return Fastest() == Isa::Avx;
    }
    return false;
}

Isa Fastest() {
    static const Isa fastest = Detect();
    return fastest;
}

double Factor(Isa isa, double* a, std::ptrdiff_t ld, int n, double theta) {
    if (n <= 0)
        return 0.0;
#if VRN_CHOLESKY_X86
    if (isa == Isa::Avx && Supported(Isa::Avx))
        return FactorPanels<AvxOps>(a, ld, n, theta);
    if (isa == Isa::Sse2 || isa == Isa::Avx)
        return FactorPanels<Sse2Ops>(a, ld, n, theta);
#else
    (void)isa;
#endif
    return FactorPortable(a, ld, n, theta);
}

void ForwardSolve(Isa isa, const double* l, std::ptrdiff_t ld, int n, double* x, const double* b) {
    if (n <= 0)
        return;
#if VRN_CHOLESKY_X86
    if (isa == Isa::Avx && Supported(Isa::Avx))
        return ForwardSolveBlocks<AvxOps>(l, ld, n, x, b);
    if (isa == Isa::Sse2 || isa == Isa::Avx)
        return ForwardSolveBlocks<Sse2Ops>(l, ld, n, x, b);
#else
    (void)isa;
#endif
    ForwardSolvePortable(l, ld, n, x, b);
}

void BackSolve(const double* l, std::ptrdiff_t ld, int n, double* x, const double* b) {
    if (n <= 0)
        return;
    const int last = n - 1;
    const double* const ll = l + last * ld;
    x[last] = ll[last] == 0.0 ? 0.0 : b[last] / ll[last];
    for (int i = n - 2; i >= 0; i--) {
        double sum = 0.0;
        for (int k = i + 1; k < n; k++)
            sum += l[k * ld + i] * x[k];
        const double lii = l[i * ld + i];
        x[i] = lii == 0.0 ? 0.0 : (b[i] - sum) / lii;
    }
}

} // namespace vrn::cholesky
