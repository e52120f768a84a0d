// Benchmarks of the minimization engine.
//
//   BM_DecomposeSolve/n/kind   DecomposeHessianLLPD + LLTransposeSolve on a dense n x n
//                              matrix (kind 0 positive definite, 1 indefinite: the
//                              perturbed path that factors twice); restoring the matrix
//                              before each factorization (an n*n copy) is included.
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

struct BenchEngineTag {};

template <>
struct CVRNEngineProbe<BenchEngineTag> {
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
template <class Call>
double PerCall(Call call) {
    for (long batch = 16;; batch *= 2) {
        const double t0 = ThreadSeconds();
        for (long i = 0; i < batch; ++i) call();
        const double t = ThreadSeconds() - t0;
        if (t >= 0.02) return t / static_cast<double>(batch);
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
        for (int j = 0; j <= i; ++j) m[i][j] = m[j][i] = u(rng);
    for (int i = 0; i < n; ++i) m[i][i] = indefinite ? 0.5 * u(rng) : static_cast<double>(n);
    std::vector<double> b(static_cast<size_t>(n)), x(static_cast<size_t>(n));
    for (auto& v : b) v = u(rng);

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
    if (withView) engine.SetStatusView(&view);
    long iterations = 0;
    const double t0 = ThreadSeconds();
    for (auto _ : state) {
        engine.Default();
        engine.SetImplementationOptions(true, hessian, secant);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, 1.0, itnlim, method);
        iterations += engine.GetIterationCount();
        // The log rows are released with the view's other work.
        if (withView) view.DeleteAllItems();
    }
    const double seconds = ThreadSeconds() - t0;
    const double evalSeconds = static_cast<double>(problem.nfev) * cost.f +
                               static_cast<double>(problem.ngev) * cost.g + static_cast<double>(problem.nhev) * cost.h;
    SetIterationCounters(state, seconds, iterations, evalSeconds);
    // Evaluations per iteration: the conjugate-gradient line searches vary in length.
    const double it = iterations > 0 ? static_cast<double>(iterations) : 1.0;
    state.counters["f_per_it"] = static_cast<double>(problem.nfev) / it;
    state.counters["g_per_it"] = static_cast<double>(problem.ngev) / it;
}

void BM_PerIteration(benchmark::State& state) {
    RunEngine(state, static_cast<int>(state.range(0)), state.range(1) != 0, static_cast<int>(state.range(2)), false,
              20);
}
BENCHMARK(BM_PerIteration)
    ->ArgsProduct({{1, 2, 3}, {0, 1}, {10, 100, 400}})
    ->Args({4, 0, 10})
    ->Args({4, 0, 100})
    ->Args({4, 0, 1000})
    ->Unit(benchmark::kMillisecond);

void BM_Overhead(benchmark::State& state) {
    RunEngine(state, static_cast<int>(state.range(0)), false, static_cast<int>(state.range(2)), state.range(1) != 0,
              20);
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

}  // namespace
