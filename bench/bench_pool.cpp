// Concurrent evaluation and batches of minimizations.
//
// BM_BusyWaitGradient/n/threads: one forward finite-difference gradient (n objective
// calls) of an objective that busy-waits 200 us per call, with the engine's evaluation
// pool of the given size. Wall time: the point of the pool is the time the caller waits.
//
// BM_BatchOfFits/threads: vrn::MinimizeMany over 1000 small fits (an exponential
// y = a exp(b t) fitted by least squares to 12 points, difference gradients, method 3),
// run on the given number of threads.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "tool/MinimizeMany.h"

struct PoolBenchTag {};

template <> struct CVRNEngineProbe<PoolBenchTag> {
    static void ForwardGradient(CVRNUnconstrainedMinimization& e, double* g) {
        e.ForwardFiniteDifferenceGradient(e.m_pX, e.m_dF, g);
    }
};

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Sum of (x_i - i)^2 after 200 us of spinning (on the wall clock, or on the thread's
// CPU clock): an objective that costs time, not memory.
class BusyProblem : public CVRNMinimizationMethodBase {
public:
    BusyProblem(int n, bool cpuClock) : m_n(n), m_bCpuClock(cpuClock) {}
    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; ++i)
            x0[i] = 0.5 * i + 1.0;
    }
    bool bConcurrentEvaluation() const override { return true; }
    double Fx(double* const x) override {
        if (m_bCpuClock) {
            const double until = ThreadCpuSeconds() + 200e-6;
            while (ThreadCpuSeconds() < until) {
            }
        } else {
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        double s = 0.0;
        for (int i = 0; i < m_n; ++i)
            s += (x[i] - i) * (x[i] - i);
        return s;
    }

private:
    int m_n;
    bool m_bCpuClock;
};

void BusyGradient(benchmark::State& state, bool cpuClock) {
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    BusyProblem problem(n, cpuClock);
    CVRNUnconstrainedMinimization engine;
    engine.SetEvaluationThreads(threads);
    engine.Default();
    // Secant updates: the set-up evaluates no difference Hessian.
    engine.SetImplementationOptions(false, false, true);
    engine.FirstStep(&problem, 1.0, 10000, 3);
    std::vector<double> g(static_cast<size_t>(n));
    for (auto _ : state) {
        CVRNEngineProbe<PoolBenchTag>::ForwardGradient(engine, g.data());
        benchmark::DoNotOptimize(g.data());
    }
    state.counters["evaluations/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * n, benchmark::Counter::kIsRate);
}
void BM_BusyWaitGradient(benchmark::State& state) {
    BusyGradient(state, false);
}
void BM_BusyComputeGradient(benchmark::State& state) {
    BusyGradient(state, true);
}
BENCHMARK(BM_BusyWaitGradient)
    ->ArgsProduct({{8, 32}, {1, 2}})
    ->ArgNames({"n", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BusyComputeGradient)
    ->ArgsProduct({{8, 32}, {1, 2}})
    ->ArgNames({"n", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_BatchOfFits(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    std::vector<double> t, y;
    for (int i = 0; i < 12; ++i) {
        t.push_back(0.25 * i);
        y.push_back(2.5 * std::exp(-0.7 * 0.25 * i) + 0.01 * std::sin(3.0 * i));
    }
    const vrn::Objective f = [&t, &y](std::span<const double> p) {
        double s = 0.0;
        for (size_t i = 0; i < t.size(); ++i) {
            const double r = y[i] - p[0] * std::exp(p[1] * t[i]);
            s += r * r;
        }
        return s;
    };
    std::vector<std::vector<double>> x0s;
    for (int k = 0; k < 1000; ++k)
        x0s.push_back({1.0 + 0.002 * k, -0.1 - 0.001 * k});
    long iterations = 0;
    for (auto _ : state) {
        const auto results = vrn::MinimizeMany(f, x0s, {}, threads);
        for (const auto& r : results)
            iterations += r.iterations;
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["fits/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 1000.0, benchmark::Counter::kIsRate);
    state.counters["iterations/fit"] = static_cast<double>(iterations) / (1000.0 * state.iterations());
}
BENCHMARK(BM_BatchOfFits)
    ->Arg(1)
    ->Arg(2)
    ->ArgNames({"threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
