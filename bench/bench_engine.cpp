// Benchmarks of the minimization engine.
//
//   BM_DecomposeSolve/n/kind   DecomposeHessianLLPD + LLTransposeSolve on a dense n x n
//                              matrix (kind 0 positive definite, 1 indefinite: the
//                              perturbed path that factors twice); restoring the matrix
//                              before each factorization (an n*n copy) is included.
//   BM_FactorSolveBefore/n     the Cholesky worker and LLTransposeSolve as they were before
//   BM_FactorSolve/n           the panel kernels (a copy of the old loops is kept below),
//   BM_FactorSolveOpenBLAS/n   and LAPACK dpotrf + dpotrs from OpenBLAS on one thread, on
//                              the same positive-definite n x n matrix, restored by an n*n
//                              copy before each factorization. Counter GFlops = n^3/3
//                              per factorization over the CPU time. OpenBLAS reassociates
//                              and fuses: it is a speed yardstick only.
//   BM_RosenbrockSolve/method  one whole solve of Rosenbrock's function from (-1.2, 1).
//   BM_PerIteration/m/s/n      time per iteration on extended Rosenbrock, analytic
//                              gradient, with the analytic Hessian (s = 0) or secant
//                              updates (s = 1); method 4 uses the gradient only.
//   BM_Overhead/m/view/n       time per iteration with a trivially cheap objective
//                              (extended Rosenbrock, analytic derivatives), without and
//                              with a status view attached.
//   BM_GslBfgs2/n              the same for GSL's vector_bfgs2, in the same run.
//
// Read the CPU column: CPU time of the benchmark thread, on which other load on the
// machine weighs little. The solve benchmarks reuse one engine, as a host that solves
// repeatedly does (same n: the arrays are kept). Counters: it = engine iterations per
// solve, us_per_it = CPU time per iteration, eng_us_per_it = the same less the
// objective evaluations (their count times their cost, measured separately at the
// start point), f_per_it and g_per_it = evaluations per iteration.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bench/BenchProblems.h"
#include "minimize/UnconstrainedMinimization.h"
#include "views/StatusView.h"
#ifdef VRN_HAVE_GSL
#include "bench/GslMinimizer.h"
#endif

#ifdef VRN_HAVE_OPENBLAS
extern "C" {
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uploLen);
void dpotrs_(const char* uplo, const int* n, const int* nrhs, const double* a, const int* lda, double* b,
             const int* ldb, int* info, std::size_t uploLen);
void openblas_set_num_threads(int threads);
}
#endif

struct BenchEngineTag {};

template <> struct CVRNEngineProbe<BenchEngineTag> {
    using E = CVRNUnconstrainedMinimization;
    // Sizes the arrays for the problem and derives the scaling from its start point.
    static void Prepare(E& e, CVRNMinimizationMethodBase* problem) {
        e.m_pMethod = problem;
        e.AllocateTempArrays();
        e.CheckOptions();
    }
    static CMatrix& Hessian(E& e) { return e.m_Hessian; }
    static void Decompose(E& e) { e.DecomposeHessianLLPD(e.m_Hessian, e.m_pUDiag); }
    static void Solve(E& e, double* x, double* b) { e.LLTransposeSolve(e.m_Hessian, x, b); }
    static void SetOrder(E& e, int n) { e.m_nParameters = n; }
    static void Cholesky(E& e, CMatrix& a, double dmax, double tol, double* added) {
        e.CholeskyDecomposition(a, dmax, tol, added);
    }
    static void Solve(E& e, CMatrix& l, double* x, double* b) { e.LLTransposeSolve(l, x, b); }
};

namespace {

using Probe = CVRNEngineProbe<BenchEngineTag>;
using vrn_bench::ThreadSeconds;

// Cost of one call of each evaluation, measured at the start point.
struct EvalCost {
    double f = 0.0, g = 0.0, h = 0.0;
};

// Average cost of call(), from batches that double until one takes 20 ms, so that
// reading the clock weighs nothing.
template <class Call> double PerCall(Call call) {
    for (long batch = 16;; batch *= 2) {
        const double t0 = ThreadSeconds();
        for (long i = 0; i < batch; ++i)
            call();
        const double t = ThreadSeconds() - t0;
        if (t >= 0.02)
            return t / static_cast<double>(batch);
    }
}

EvalCost MeasureEngineEvalCost(golden::TestProblem& p, bool hessian) {
    vrn_bench::EngineProblem adapter(p);
    std::vector<double> x = p.x0, g(x.size());
    CMatrix h(p.n, p.n);
    EvalCost c;
    c.f = PerCall([&] { benchmark::DoNotOptimize(adapter.Fx(x.data())); });
    c.g = PerCall([&] {
        adapter.Gradient(x.data(), g.data());
        benchmark::ClobberMemory();
    });
    if (hessian)
        c.h = PerCall([&] {
            adapter.Hessian(x.data(), h);
            benchmark::ClobberMemory();
        });
    return c;
}

void SetIterationCounters(benchmark::State& state, double seconds, long iterations, double evalSeconds) {
    const double it = iterations > 0 ? static_cast<double>(iterations) : 1.0;
    state.counters["it"] = static_cast<double>(iterations) / static_cast<double>(state.iterations());
    state.counters["us_per_it"] = 1e6 * seconds / it;
    state.counters["eng_us_per_it"] = 1e6 * (seconds - evalSeconds) / it;
}

// ---------------------------------------------------------------- factorization

void BM_DecomposeSolve(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const bool indefinite = state.range(1) != 0;
    // Problem with x0 = 1: unit scaling.
    golden::ExtendedRosenbrock shape;
    shape.SetStart(std::vector<double>(static_cast<size_t>(n), 1.0));
    vrn_bench::EngineProblem problem(shape);
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    Probe::Prepare(engine, &problem);

    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CMatrix m(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            m[i][j] = m[j][i] = u(rng);
    for (int i = 0; i < n; ++i)
        m[i][i] = indefinite ? 0.5 * u(rng) : static_cast<double>(n);
    std::vector<double> b(static_cast<size_t>(n)), x(static_cast<size_t>(n));
    for (auto& v : b)
        v = u(rng);

    CMatrix& a = Probe::Hessian(engine);
    const size_t bytes = sizeof(double) * static_cast<size_t>(n) * static_cast<size_t>(n);
    for (auto _ : state) {
        std::memcpy(a[0], m[0], bytes);
        Probe::Decompose(engine);
        Probe::Solve(engine, x.data(), b.data());
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_DecomposeSolve)->ArgsProduct({{10, 100, 400}, {0, 1}})->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- Cholesky kernel

// The worker and the solves as they were before the panel kernels: column by
// column, four rows summed side by side in scalar registers.
namespace before {

void Cholesky(CMatrix& a, int n, double dmax, double tol, double* const added) {
    *added = 0.0;
    const double root = std::sqrt(dmax * tol);
    const double theta = root * root;
    for (int j = 0; j < n; j++) {
        double sum = 0.0;
        for (int k = 0; k < j; k++)
            sum += a[j][k] * a[j][k];
        const double t = a[j][j] - sum;
        if (t >= theta) {
            a[j][j] = std::sqrt(t);
        } else {
            double w = 0.0;
            for (int i = j + 1; i < n; i++) {
                const double v = std::fabs(a[i][j]);
                if (v > w)
                    w = v;
            }
            if (w <= theta)
                w = theta;
            a[j][j] = std::sqrt(w);
            const double grow = w - t;
            *added = *added > grow ? *added : grow;
        }
        const double* const lj = a[j];
        const double ljj = a[j][j];
        auto store = [ljj](double& aij, double s) {
            if (ljj == 0.0)
                aij = 0.0;
            else
                aij = (aij - s) / ljj;
            if (std::fabs(aij) >= 1e300)
                aij = 0.0;
        };
        int i = j + 1;
        for (; i + 3 < n; i += 4) {
            const double* const r0 = a[i];
            const double* const r1 = a[i + 1];
            const double* const r2 = a[i + 2];
            const double* const r3 = a[i + 3];
            double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
            for (int k = 0; k < j; k++) {
                const double ljk = lj[k];
                s0 += r0[k] * ljk;
                s1 += r1[k] * ljk;
                s2 += r2[k] * ljk;
                s3 += r3[k] * ljk;
            }
            store(a[i][j], s0);
            store(a[i + 1][j], s1);
            store(a[i + 2][j], s2);
            store(a[i + 3][j], s3);
        }
        for (; i < n; i++) {
            const double* const ri = a[i];
            double s = 0.0;
            for (int k = 0; k < j; k++)
                s += ri[k] * lj[k];
            store(a[i][j], s);
        }
    }
}

void LLTransposeSolve(CMatrix& l, int n, double* const x, double* const b) {
    x[0] = l[0][0] == 0.0 ? 0.0 : b[0] / l[0][0];
    for (int i = 1; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j < i; j++)
            sum += l[i][j] * x[j];
        x[i] = l[i][i] == 0.0 ? 0.0 : (b[i] - sum) / l[i][i];
    }
    const int last = n - 1;
    x[last] = l[last][last] == 0.0 ? 0.0 : x[last] / l[last][last];
    for (int i = n - 2; i >= 0; i--) {
        double sum = 0.0;
        for (int k = i + 1; k < n; k++)
            sum += l[k][i] * x[k];
        x[i] = l[i][i] == 0.0 ? 0.0 : (x[i] - sum) / l[i][i];
    }
}

} // namespace before

enum class FactorImpl { Before, After, OpenBlas };

void FactorSolve(benchmark::State& state, FactorImpl impl) {
    const int n = static_cast<int>(state.range(0));
#ifdef VRN_HAVE_OPENBLAS
    openblas_set_num_threads(1);
#else
    if (impl == FactorImpl::OpenBlas) {
        state.SkipWithError(
            "OpenBLAS was not found when the benchmarks were built (scripts/deps.sh installs it)");
        for (auto _ : state) {
        }
        return;
    }
#endif
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CMatrix m(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            m[i][j] = m[j][i] = u(rng);
    for (int i = 0; i < n; ++i)
        m[i][i] = static_cast<double>(n);
    std::vector<double> b(static_cast<size_t>(n)), x(static_cast<size_t>(n));
    for (auto& v : b)
        v = u(rng);

    CVRNUnconstrainedMinimization engine;
    Probe::SetOrder(engine, n);
    const double tol = std::sqrt(1.12e-16);
    const double dmax = static_cast<double>(n);
    CMatrix a(n, n);
    const size_t bytes = sizeof(double) * static_cast<size_t>(n) * static_cast<size_t>(n);
    double added = 0.0;
    for (auto _ : state) {
        std::memcpy(a[0], m[0], bytes);
        switch (impl) {
        case FactorImpl::Before:
            before::Cholesky(a, n, dmax, tol, &added);
            before::LLTransposeSolve(a, n, x.data(), b.data());
            break;
        case FactorImpl::After:
            Probe::Cholesky(engine, a, dmax, tol, &added);
            Probe::Solve(engine, a, x.data(), b.data());
            break;
        case FactorImpl::OpenBlas: {
#ifdef VRN_HAVE_OPENBLAS
            int info = 0;
            const int one = 1;
            dpotrf_("L", &n, a[0], &n, &info, 1);
            std::memcpy(x.data(), b.data(), sizeof(double) * b.size());
            dpotrs_("L", &n, &one, a[0], &n, x.data(), &n, &info, 1);
#endif
            break;
        }
        }
        benchmark::DoNotOptimize(x.data());
        benchmark::DoNotOptimize(added);
    }
    const double nd = static_cast<double>(n);
    state.counters["GFlops"] =
        benchmark::Counter(nd * nd * nd / 3.0 * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FactorSolveBefore(benchmark::State& state) {
    FactorSolve(state, FactorImpl::Before);
}
void BM_FactorSolve(benchmark::State& state) {
    FactorSolve(state, FactorImpl::After);
}
void BM_FactorSolveOpenBLAS(benchmark::State& state) {
    FactorSolve(state, FactorImpl::OpenBlas);
}
BENCHMARK(BM_FactorSolveBefore)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FactorSolve)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FactorSolveOpenBLAS)->Arg(100)->Arg(400)->Arg(1000)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- whole solve

void BM_RosenbrockSolve(benchmark::State& state) {
    const int method = static_cast<int>(state.range(0));
    golden::Rosenbrock rosenbrock;
    vrn_bench::EngineProblem problem(rosenbrock);
    CVRNUnconstrainedMinimization engine;
    long iterations = 0;
    for (auto _ : state) {
        engine.Default();
        engine.SetImplementationOptions(true, method != 4, false);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, 1.0, 10000, method);
        iterations += engine.GetIterationCount();
    }
    state.counters["it"] = static_cast<double>(iterations) / static_cast<double>(state.iterations());
    state.counters["nfev"] = static_cast<double>(problem.nfev) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RosenbrockSolve)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- per iteration

// Runs at most `itnlim` iterations of `method` on extended Rosenbrock of size n per
// benchmark iteration and reports the time per engine iteration.
void RunEngine(benchmark::State& state, int method, bool secant, int n, bool withView, int itnlim) {
    auto shape = vrn_bench::MakeExtendedRosenbrock(n);
    const bool hessian = method != 4 && !secant;
    const EvalCost cost = MeasureEngineEvalCost(*shape, hessian);
    CVRNStatusView view;
    vrn_bench::EngineProblem problem(*shape);
    CVRNUnconstrainedMinimization engine;
    if (withView)
        engine.SetStatusView(&view);
    long iterations = 0;
    const double t0 = ThreadSeconds();
    for (auto _ : state) {
        engine.Default();
        engine.SetImplementationOptions(true, hessian, secant);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, 1.0, itnlim, method);
        iterations += engine.GetIterationCount();
        // The log rows are released with the view's other work.
        if (withView)
            view.DeleteAllItems();
    }
    const double seconds = ThreadSeconds() - t0;
    const double evalSeconds = static_cast<double>(problem.nfev) * cost.f +
                               static_cast<double>(problem.ngev) * cost.g +
                               static_cast<double>(problem.nhev) * cost.h;
    SetIterationCounters(state, seconds, iterations, evalSeconds);
    // Evaluations per iteration: the conjugate-gradient line searches vary in length.
    const double it = iterations > 0 ? static_cast<double>(iterations) : 1.0;
    state.counters["f_per_it"] = static_cast<double>(problem.nfev) / it;
    state.counters["g_per_it"] = static_cast<double>(problem.ngev) / it;
}

void BM_PerIteration(benchmark::State& state) {
    RunEngine(state, static_cast<int>(state.range(0)), state.range(1) != 0, static_cast<int>(state.range(2)),
              false, 20);
}
BENCHMARK(BM_PerIteration)
    ->ArgsProduct({{1, 2, 3}, {0, 1}, {10, 100, 400}})
    ->Args({4, 0, 10})
    ->Args({4, 0, 100})
    ->Args({4, 0, 1000})
    ->Unit(benchmark::kMillisecond);

void BM_Overhead(benchmark::State& state) {
    RunEngine(state, static_cast<int>(state.range(0)), false, static_cast<int>(state.range(2)),
              state.range(1) != 0, 20);
}
BENCHMARK(BM_Overhead)->ArgsProduct({{1, 2, 3, 4}, {0, 1}, {10, 100, 400}})->Unit(benchmark::kMillisecond);

#ifdef VRN_HAVE_GSL
void BM_GslBfgs2(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto shape = vrn_bench::MakeExtendedRosenbrock(n);
    std::vector<double> x = shape->x0, g(x.size());
    const double tf = PerCall([&] { benchmark::DoNotOptimize(shape->fx(x.data())); });
    const double tg = PerCall([&] {
        shape->grad(x.data(), g.data());
        benchmark::ClobberMemory();
    });
    vrn_bench::QuietGslErrors();
    double evalSeconds = 0.0;
    long iterations = 0, nfev = 0, ngev = 0;
    const double t0 = ThreadSeconds();
    for (auto _ : state) {
        const vrn_bench::GslOutcome r = vrn_bench::RunGsl(gsl_multimin_fdfminimizer_vector_bfgs2, *shape);
        evalSeconds += static_cast<double>(r.nfev) * tf + static_cast<double>(r.ngev) * tg;
        iterations += r.iterations;
        nfev += r.nfev;
        ngev += r.ngev;
    }
    SetIterationCounters(state, ThreadSeconds() - t0, iterations, evalSeconds);
    const double it = iterations > 0 ? static_cast<double>(iterations) : 1.0;
    state.counters["f_per_it"] = static_cast<double>(nfev) / it;
    state.counters["g_per_it"] = static_cast<double>(ngev) / it;
}
BENCHMARK(BM_GslBfgs2)->Arg(10)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);
#endif

} // namespace
