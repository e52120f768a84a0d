// Finite-difference estimates of the gradient and the Hessian.
//
// With an evaluation pool (SetEvaluationThreads and a problem that allows concurrent
// evaluation) every estimate first evaluates all of its points, each thread on its own
// copy of x, into a buffer, and then combines the values in the same order and with
// the same operations as the one-thread loops: the results are the same bits.
#include <climits>
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

namespace {

// Step for parameter i: kappa times its magnitude, at least its typical size 1/sx.
inline double StepSize(double kappa, double xi, double sxi) {
    const double absx = std::fabs(xi);
    const double typ = 1.0 / sxi;
    return kappa * (absx > typ ? absx : typ);
}

// Points of the second-order Hessian after the n neighbours x + h_i e_i: column by
// column, first the diagonal point x + 2 h_i e_i, then x + h_i e_i + h_j e_j for j > i.
// Turns the position k among them (0-based) into (i, j), j == i for the diagonal.
inline void SecondOrderPoint(int n, int k, int& i, int& j) {
    i = 0;
    while (i < n - 1 && k >= n - i) {
        k -= n - i;
        ++i;
    }
    j = i + k;
}

} // namespace

void CVRNUnconstrainedMinimization::SetEvaluationThreads(int k) {
    const int most = VRNMaxEvaluationThreads();
    if (k < 1)
        k = 1;
    if (k > most)
        k = most;
    if (k == m_nEvaluationThreads)
        return;
    m_nEvaluationThreads = k;
    // A pool of the new size is made when a run first needs one.
    m_pPool.reset();
    m_nPoolRequest = 0;
}

CVRNEvaluationPool* CVRNUnconstrainedMinimization::ConcurrentEvaluation(int tasks, std::size_t values) {
    if (m_nEvaluationThreads < 2 || tasks < 2 || m_nParameters < 1 || !m_pMethod ||
        !m_pMethod->bConcurrentEvaluation())
        return nullptr;
    // One thread per point at most, planned for the largest estimate of the run so that
    // the pool is made once, while the start point is evaluated: a difference gradient
    // may switch to central differences (2n points) in any iteration, and without
    // analytic derivatives every Hessian comes from n + n(n+1)/2 function values.
    const long long params = m_nParameters;
    long long planned = tasks;
    if (!m_bGradientFlag && planned < 2 * params)
        planned = 2 * params;
    if (!m_bGradientFlag && !m_bHessianFlag && !m_bExpensiveFxFlag &&
        planned < params + params * (params + 1) / 2)
        planned = params + params * (params + 1) / 2;
    const int wanted = planned < m_nEvaluationThreads ? static_cast<int>(planned) : m_nEvaluationThreads;
    // The pool only grows, and is made again only for a larger request than the last
    // one: a pool that got fewer threads than asked for is kept as it is.
    if (!m_pPool || wanted > m_nPoolRequest) {
        m_pPool.reset();
        m_pPool = std::make_unique<CVRNEvaluationPool>(wanted);
        m_nPoolRequest = wanted;
    }
    if (m_pPool->GetThreadCount() < 2)
        return nullptr;
    const std::size_t n = static_cast<std::size_t>(m_nParameters);
    const std::size_t points = n * static_cast<std::size_t>(m_pPool->GetThreadCount());
    if (m_EvalPoints.size() < points)
        m_EvalPoints.resize(points);
    // At least 2n values, so that the switch to central differences during a run
    // finds its buffer ready.
    if (values < 2 * n)
        values = 2 * n;
    if (m_EvalValues.size() < values)
        m_EvalValues.resize(values);
    return m_pPool.get();
}

void CVRNUnconstrainedMinimization::LoadPointCopies(const double* x) {
    const int n = m_nParameters;
    const int threads = m_pPool->GetThreadCount();
    for (int t = 0; t < threads; t++) {
        double* const copy = PointCopy(t);
        for (int i = 0; i < n; i++)
            copy[i] = x[i];
    }
}

void CVRNUnconstrainedMinimization::ForwardFiniteDifferenceGradient(double* const x, double fx,
                                                                    double* const g) {
    const int n = m_nParameters;
    const double* const sx = m_pScaleX;
    const double kappa = std::sqrt(m_dNoise);
    if (CVRNEvaluationPool* pool = ConcurrentEvaluation(n, static_cast<std::size_t>(n))) {
        LoadPointCopies(x);
        double* const values = m_EvalValues.data();
        auto evaluate = [&](int i, int thread) {
            double* const xt = PointCopy(thread);
            const double h = StepSize(kappa, x[i], sx[i]);
            xt[i] = x[i] + h;
            values[i] = m_pMethod->Fx(xt);
            xt[i] = x[i];
        };
        pool->ParallelFor(n, evaluate);
        for (int i = 0; i < n; i++) {
            const double h = StepSize(kappa, x[i], sx[i]);
            g[i] = (values[i] - fx) / h;
        }
        return;
    }
    for (int i = 0; i < n; i++) {
        const double h = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = x[i] + h;
        const double f1 = m_pMethod->Fx(x);
        x[i] = saved;
        g[i] = (f1 - fx) / h;
    }
}

void CVRNUnconstrainedMinimization::CentralFiniteDifferenceGradient(double* const x, double* const sx,
                                                                    double* const g) {
    const int n = m_nParameters;
    const double kappa = std::pow(m_dNoise, 1.0 / 3.0);
    if (CVRNEvaluationPool* pool = ConcurrentEvaluation(2 * n, 2 * static_cast<std::size_t>(n))) {
        LoadPointCopies(x);
        double* const values = m_EvalValues.data();
        // Point 2i is x + h_i e_i, point 2i + 1 is x - h_i e_i.
        auto evaluate = [&](int k, int thread) {
            double* const xt = PointCopy(thread);
            const int i = k / 2;
            const double h = StepSize(kappa, x[i], sx[i]);
            xt[i] = (k % 2 == 0) ? x[i] + h : x[i] - h;
            values[k] = m_pMethod->Fx(xt);
            xt[i] = x[i];
        };
        pool->ParallelFor(2 * n, evaluate);
        for (int i = 0; i < n; i++) {
            const double h = StepSize(kappa, x[i], sx[i]);
            g[i] = (values[2 * i] - values[2 * i + 1]) / (2.0 * h);
        }
        return;
    }
    for (int i = 0; i < n; i++) {
        const double h = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = saved + h;
        const double f1 = m_pMethod->Fx(x);
        x[i] = saved - h;
        const double f2 = m_pMethod->Fx(x);
        g[i] = (f1 - f2) / (2.0 * h);
        x[i] = saved;
    }
}

void CVRNUnconstrainedMinimization::FiniteDifferenceHessian(double* const x, double* const g, CMatrix& a,
                                                            double* const sx, double* const work) {
    const int n = m_nParameters;
    const double kappa = std::sqrt(m_dNoise);
    if (CVRNEvaluationPool* pool = ConcurrentEvaluation(n, 0)) {
        LoadPointCopies(x);
        // Row i of a receives the gradient at x + h_i e_i: the matrix itself is the
        // buffer, so that the threads need no second n x n array.
        auto evaluate = [&](int i, int thread) {
            double* const xt = PointCopy(thread);
            const double h = StepSize(kappa, x[i], sx[i]);
            xt[i] = x[i] + h;
            m_pMethod->Gradient(xt, a[i]);
            xt[i] = x[i];
        };
        pool->ParallelFor(n, evaluate);
        // The scratch array ends as in the one-thread loop: the last column's gradient.
        for (int j = 0; j < n; j++)
            work[j] = a[n - 1][j];
        // Column i of the one-sided estimate is (g(x + h_i e_i) - g) / h_i: transpose
        // the gradients into place, pair by pair, with the one-thread loop's operations.
        for (int i = 0; i < n; i++) {
            const double hi = StepSize(kappa, x[i], sx[i]);
            a[i][i] = (a[i][i] - g[i]) / hi;
            for (int j = i + 1; j < n; j++) {
                const double hj = StepSize(kappa, x[j], sx[j]);
                const double gij = a[i][j]; // component j of the gradient at x + h_i e_i
                const double gji = a[j][i]; // component i of the gradient at x + h_j e_j
                a[j][i] = (gij - g[j]) / hi;
                a[i][j] = (gji - g[i]) / hj;
            }
        }
    } else {
        for (int i = 0; i < n; i++) {
            const double h = StepSize(kappa, x[i], sx[i]);
            const double saved = x[i];
            x[i] = x[i] + h;
            m_pMethod->Gradient(x, work);
            x[i] = saved;
            for (int j = 0; j < n; j++)
                a[j][i] = (work[j] - g[j]) / h;
        }
    }
    // The lower triangle gets the symmetric estimate; the upper keeps the one-sided one.
    for (int i = 0; i < n - 1; i++)
        for (int j = i + 1; j < n; j++)
            a[j][i] = (a[j][i] + a[i][j]) / 2.0;
}

void CVRNUnconstrainedMinimization::SecondOrderFiniteDifferenceHessian(double* const x, double fx, CMatrix& a,
                                                                       double* const sx, double* const step,
                                                                       double* const fnbr) {
    const int n = m_nParameters;
    const double kappa = std::pow(m_dNoise, 1.0 / 3.0);
    // n neighbours and n(n + 1)/2 points of the columns. A count beyond int (n above
    // 65,534) is evaluated on this thread.
    const long long points = n > 0 ? n + static_cast<long long>(n) * (n + 1) / 2 : 0;
    const int tasks = points <= INT_MAX ? static_cast<int>(points) : 0;
    if (CVRNEvaluationPool* pool = ConcurrentEvaluation(tasks, 0)) {
        for (int i = 0; i < n; i++)
            step[i] = StepSize(kappa, x[i], sx[i]);
        LoadPointCopies(x);
        // The neighbour values go to fnbr and the value at the point of (i, j), j >= i,
        // to a[j][i], which the combination below then overwrites: no buffer of
        // n(n + 1)/2 values besides the matrix.
        auto evaluate = [&](int k, int thread) {
            double* const xt = PointCopy(thread);
            if (k < n) {
                xt[k] = x[k] + step[k];
                fnbr[k] = m_pMethod->Fx(xt);
                xt[k] = x[k];
                return;
            }
            int i = 0, j = 0;
            SecondOrderPoint(n, k - n, i, j);
            if (j == i) {
                xt[i] = x[i] + 2.0 * step[i];
            } else {
                xt[i] = x[i] + step[i];
                xt[j] = x[j] + step[j];
            }
            a[j][i] = m_pMethod->Fx(xt);
            xt[i] = x[i];
            xt[j] = x[j];
        };
        pool->ParallelFor(tasks, evaluate);
        for (int i = 0; i < n; i++) {
            a[i][i] = ((fx - fnbr[i]) + (a[i][i] - fnbr[i])) / (step[i] * step[i]);
            for (int j = i + 1; j < n; j++)
                a[j][i] = ((fx - fnbr[i]) + (a[j][i] - fnbr[j])) / (step[i] * step[j]);
        }
        return;
    }
    for (int i = 0; i < n; i++) {
        step[i] = StepSize(kappa, x[i], sx[i]);
        const double saved = x[i];
        x[i] = x[i] + step[i];
        fnbr[i] = m_pMethod->Fx(x);
        x[i] = saved;
    }
    for (int i = 0; i < n; i++) {
        const double savedi = x[i];
        x[i] = savedi + 2.0 * step[i];
        double fhat = m_pMethod->Fx(x);
        a[i][i] = ((fx - fnbr[i]) + (fhat - fnbr[i])) / (step[i] * step[i]);
        if (i < n - 1) {
            x[i] = savedi + step[i];
            for (int j = i + 1; j < n; j++) {
                const double savedj = x[j];
                x[j] = x[j] + step[j];
                fhat = m_pMethod->Fx(x);
                a[j][i] = ((fx - fnbr[i]) + (fhat - fnbr[j])) / (step[i] * step[j]);
                x[j] = savedj;
            }
        }
        x[i] = savedi;
    }
}
