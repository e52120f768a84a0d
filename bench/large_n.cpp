// large_n: one run of method 4 (Polak-Ribiere conjugate gradient, analytic gradient)
// on a large problem, in a process of its own, so that the peak resident memory
// (ru_maxrss) is that of this run. Run by bench/large_n.sh beside SciPy's CG and
// L-BFGS-B on the same problems (bench/python/large_n.py).
//
//   large_n PROBLEM N [ITERATION_LIMIT]
//   PROBLEM: separable | tridiagonal | rosenbrock
//
// Prints one line: problem,n,solver,iterations,f evaluations,g evaluations,wall
// seconds,peak resident KiB,final f,the engine's estimate of its bytes.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "minimize/MinimizationMethodBase.h"
#include "minimize/RunCost.h"
#include "minimize/UnconstrainedMinimization.h"

namespace {

enum class Kind { Separable, Tridiagonal, Rosenbrock };

// f and its gradient, O(n) each and allocation-free.
class LargeProblem : public CVRNMinimizationMethodBase {
public:
    LargeProblem(Kind kind, int n) : m_Kind(kind), m_n(n) {}
    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; ++i)
            x0[i] = m_Kind == Kind::Rosenbrock ? (i % 2 == 0 ? -1.2 : 1.0) : 0.0;
    }
    double Fx(double* const x) override {
        double f = 0.0;
        switch (m_Kind) {
        case Kind::Separable:
            // sum c_i (x_i - 1)^2, c_i from 1 to 10.
            for (int i = 0; i < m_n; ++i) {
                const double d = x[i] - 1.0;
                f += Weight(i) * d * d;
            }
            break;
        case Kind::Tridiagonal:
            // 1/2 x^T A x - sum x_i, A = tridiag(-1, 4, -1).
            for (int i = 0; i < m_n; ++i) {
                f += 2.0 * x[i] * x[i] - x[i];
                if (i + 1 < m_n)
                    f -= x[i] * x[i + 1];
            }
            break;
        case Kind::Rosenbrock:
            for (int i = 0; i + 1 < m_n; i += 2) {
                const double t = x[i + 1] - x[i] * x[i];
                const double u = 1.0 - x[i];
                f += 100.0 * t * t + u * u;
            }
            break;
        }
        return f;
    }
    void Gradient(double* const x, double* const g) override {
        switch (m_Kind) {
        case Kind::Separable:
            for (int i = 0; i < m_n; ++i)
                g[i] = 2.0 * Weight(i) * (x[i] - 1.0);
            break;
        case Kind::Tridiagonal:
            for (int i = 0; i < m_n; ++i) {
                double v = 4.0 * x[i] - 1.0;
                if (i > 0)
                    v -= x[i - 1];
                if (i + 1 < m_n)
                    v -= x[i + 1];
                g[i] = v;
            }
            break;
        case Kind::Rosenbrock:
            for (int i = 0; i + 1 < m_n; i += 2) {
                const double t = x[i + 1] - x[i] * x[i];
                g[i] = -400.0 * x[i] * t - 2.0 * (1.0 - x[i]);
                g[i + 1] = 200.0 * t;
            }
            if (m_n % 2 == 1)
                g[m_n - 1] = 0.0;
            break;
        }
    }

private:
    double Weight(int i) const { return 1.0 + 9.0 * static_cast<double>(i) / (m_n > 1 ? m_n - 1 : 1); }
    Kind m_Kind;
    int m_n;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: large_n separable|tridiagonal|rosenbrock N [ITERATION_LIMIT]\n");
        return 2;
    }
    const std::string name = argv[1];
    Kind kind;
    if (name == "separable")
        kind = Kind::Separable;
    else if (name == "tridiagonal")
        kind = Kind::Tridiagonal;
    else if (name == "rosenbrock")
        kind = Kind::Rosenbrock;
    else {
        std::fprintf(stderr, "large_n: unknown problem %s\n", argv[1]);
        return 2;
    }
    const long n = std::strtol(argv[2], nullptr, 10);
    const long limit = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 10000;
    if (n < 2 || n > 100000000 || limit < 1 || limit > 1000000) {
        std::fprintf(stderr, "large_n: N in [2, 1e8] and ITERATION_LIMIT in [1, 1e6]\n");
        return 2;
    }

    LargeProblem problem(kind, static_cast<int>(n));
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    engine.SetImplementationOptions(true, false, false);
    const auto start = std::chrono::steady_clock::now();
    engine.Minimize(&problem, 1.0, static_cast<int>(limit), 4);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const CVRNRunRecord& r = engine.GetRunRecord();
    const double estimate = VRNEstimateRunCost(n, 4, true, false, false).bytes;
    std::printf("%s,%ld,vrn method 4,%d,%ld,%ld,%.3f,%ld,%.6e,%.0f,%d\n", name.c_str(), n, r.iterations,
                r.fEvaluations, r.gradientEvaluations, seconds, usage.ru_maxrss, r.f, estimate, r.code);
    return 0;
}
