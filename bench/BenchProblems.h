// Problems and adapters shared by the benchmarks (bench_*.cpp) and the comparison
// program (bench/compare).
//
// The reference problems of problems/ReferenceProblems.h are joined here by two
// scalable ones, the extended Powell singular function and a convex tridiagonal
// quadratic, and by EngineProblem, which hands any of them to the engine, counts the
// evaluations and can stop a run that exceeds a wall-clock budget.
#pragma once

#include <time.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ReferenceProblems.h"

namespace vrn_bench {

// CPU time of the calling thread, in seconds. The benchmarks time with it rather than
// with the wall clock, which counts whatever else the machine is running too.
inline double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Extended Rosenbrock with n variables (n even), started at (-1.2, 1, -1.2, 1, ...).
inline std::unique_ptr<golden::TestProblem> MakeExtendedRosenbrock(int n) {
    auto p = std::make_unique<golden::ExtendedRosenbrock>();
    std::vector<double> x0(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x0[static_cast<size_t>(i)] = i % 2 == 0 ? -1.2 : 1.0;
    p->SetStart(x0);
    return p;
}

// Extended Powell singular function: n/4 independent copies of Powell's singular
// function (n a multiple of 4), started at (3, -1, 0, 1, ...). Minimum 0 at the
// origin, where the Hessian is singular.
class ExtendedPowell : public golden::TestProblem {
public:
    explicit ExtendedPowell(int n) : TestProblem(Start(n)) {}

    double fx(const double* x) const override {
        double f = 0.0;
        for (int k = 0; k + 3 < n; k += 4) {
            const double t1 = x[k] + 10.0 * x[k + 1];
            const double t2 = x[k + 2] - x[k + 3];
            const double t3 = x[k + 1] - 2.0 * x[k + 2];
            const double t4 = x[k] - x[k + 3];
            f = f + (t1 * t1 + 5.0 * t2 * t2 + t3 * t3 * t3 * t3 + 10.0 * t4 * t4 * t4 * t4);
        }
        return f;
    }
    void grad(const double* x, double* g) const override {
        for (int k = 0; k + 3 < n; k += 4) {
            double t1, t2, t3, t4;
            golden::PowellSingular::terms(x + k, t1, t2, t3, t4);
            const double c3 = t3 * t3 * t3;
            const double c4 = t4 * t4 * t4;
            g[k] = 2.0 * t1 + 40.0 * c4;
            g[k + 1] = 20.0 * t1 + 4.0 * c3;
            g[k + 2] = 10.0 * t2 - 8.0 * c3;
            g[k + 3] = -10.0 * t2 - 40.0 * c4;
        }
    }
    void hess(const double* x, double* h) const override {
        for (int k = 0; k + 3 < n; k += 4) {
            double t1, t2, t3, t4;
            golden::PowellSingular::terms(x + k, t1, t2, t3, t4);
            const double s3 = t3 * t3;
            const double s4 = t4 * t4;
            const double rows[4][4] = {{2.0 + 120.0 * s4, 20.0, 0.0, -120.0 * s4},
                                       {20.0, 200.0 + 12.0 * s3, -24.0 * s3, 0.0},
                                       {0.0, -24.0 * s3, 10.0 + 48.0 * s3, -10.0},
                                       {-120.0 * s4, 0.0, -10.0, 10.0 + 120.0 * s4}};
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j)
                    at(h, k + i, k + j) = rows[i][j];
        }
    }

private:
    static std::vector<double> Start(int n) {
        static const double base[4] = {3.0, -1.0, 0.0, 1.0};
        std::vector<double> x0(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            x0[static_cast<size_t>(i)] = base[i % 4];
        return x0;
    }
};

// Convex quadratic f = 1/2 (x - c)' A (x - c) with the tridiagonal A of diagonal
// 4 + i/n (i = 0 .. n-1) and off-diagonals -1: eigenvalues within [2, 7], so the
// problem is well conditioned. Minimum 0 at c = (1, 2, 3, 1, 2, 3, ...); start at 0.
class TridiagonalQuadratic : public golden::TestProblem {
public:
    explicit TridiagonalQuadratic(int n) : TestProblem(std::vector<double>(static_cast<size_t>(n), 0.0)) {}

    double diag(int i) const { return 4.0 + static_cast<double>(i) / static_cast<double>(n); }
    static double centre(int i) { return static_cast<double>(1 + i % 3); }

    double fx(const double* x) const override {
        double f = 0.0;
        double dprev = 0.0;
        for (int i = 0; i < n; ++i) {
            const double d = x[i] - centre(i);
            // Row i of A d, dotted with d, counting each off-diagonal pair once per side.
            f = f + d * (diag(i) * d - 2.0 * dprev);
            dprev = d;
        }
        return 0.5 * f;
    }
    void grad(const double* x, double* g) const override {
        for (int i = 0; i < n; ++i) {
            double v = diag(i) * (x[i] - centre(i));
            if (i > 0)
                v = v - (x[i - 1] - centre(i - 1));
            if (i + 1 < n)
                v = v - (x[i + 1] - centre(i + 1));
            g[i] = v;
        }
    }
    void hess(const double*, double* h) const override {
        for (int i = 0; i < n; ++i) {
            at(h, i, i) = diag(i);
            if (i + 1 < n)
                at(h, i, i + 1) = at(h, i + 1, i) = -1.0;
        }
    }
};

// Hands a test problem to the engine and counts what the engine asks for. The
// Hessian is written straight into the engine's matrix (row-major and contiguous),
// after zeroing it, as the problems expect.
//
// With a budget set, a run that takes longer (CPU time of the calling thread) is asked
// to stop (Abort) at the end of its current iteration; the conjugate-gradient path
// does not look at the request.
class EngineProblem : public CVRNMinimizationMethodBase {
public:
    explicit EngineProblem(golden::TestProblem& problem) : m_Problem(problem) {}

    int NumberOfParameters() override { return m_Problem.n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_Problem.n; ++i)
            x0[i] = m_Problem.x0[static_cast<size_t>(i)];
    }
    double Fx(double* const x) override {
        ++nfev;
        if (m_pEngine && (nfev & 63) == 0 && ThreadSeconds() > m_Deadline) {
            m_pEngine->Abort();
            overBudget = true;
        }
        return m_Problem.fx(x);
    }
    void Gradient(double* const x, double* const g) override {
        ++ngev;
        m_Problem.grad(x, g);
    }
    void Hessian(double* const x, CMatrix& h) override {
        ++nhev;
        const int n = m_Problem.n;
        double* const data = h[0];
        std::memset(data, 0, sizeof(double) * static_cast<size_t>(n) * static_cast<size_t>(n));
        m_Problem.hess(x, data);
    }
    void CommitStep(double*, int) override { ++commits; }

    // Asks the engine to stop once `seconds` of CPU time have passed from now.
    void SetBudget(CVRNUnconstrainedMinimization* engine, double seconds) {
        m_pEngine = engine;
        m_Deadline = ThreadSeconds() + seconds;
    }
    void ResetCounts() { nfev = ngev = nhev = commits = 0; }

    long nfev = 0, ngev = 0, nhev = 0, commits = 0;
    bool overBudget = false;

private:
    golden::TestProblem& m_Problem;
    CVRNUnconstrainedMinimization* m_pEngine = nullptr;
    double m_Deadline = 0.0;
};

} // namespace vrn_bench
