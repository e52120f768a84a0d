// Throughput of the data utilities: interpolation evaluations for growing
// tables, one type-curve fit, and the indirect sort against std::sort.

#include "datautil/FitTypeCurve.h"
#include "datautil/IndirectSort.h"
#include "datautil/Interpolate.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Evaluation points spread over the whole table in random order, so that the
// interval search does not profit from repeated queries.
std::vector<double> Queries(double lo, double hi, int count) {
    std::mt19937 gen(4711);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> q(static_cast<size_t>(count));
    for (double& v : q)
        v = u(gen);
    return q;
}

// One interpolation per iteration on the table y = sin(x), x = 0, 0.1, ..., of
// state.range(0) points; eval is the evaluation timed. With sorted set the queries
// come in ascending order.
template <class Eval> void RunInterpolate(benchmark::State& state, bool sorted, Eval eval) {
    const int n = static_cast<int>(state.range(0));
    std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        x[i] = i * 0.1;
        y[i] = std::sin(x[i]);
    }
    CVRNiInterpolate ip(x.data(), y.data(), n);
    std::vector<double> q = Queries(0.0, x[n - 1], 4096);
    if (sorted)
        std::sort(q.begin(), q.end());
    size_t k = 0;
    for (auto _ : state) {
        double t = q[k];
        benchmark::DoNotOptimize(eval(ip, t));
        k = (k + 1) & 4095;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_InterpolateValue(benchmark::State& state) {
    RunInterpolate(state, false, [](CVRNiInterpolate& ip, double& t) { return ip.f(t); });
}
BENCHMARK(BM_InterpolateValue)->Arg(10)->Arg(1000)->Arg(100000);

void BM_InterpolateSlope(benchmark::State& state) {
    RunInterpolate(state, false, [](CVRNiInterpolate& ip, double& t) { return ip.dfdx(t); });
}
BENCHMARK(BM_InterpolateSlope)->Arg(10)->Arg(1000)->Arg(100000);

// The same evaluations in ascending order of x: the table stays in cache, so
// the time shows the cost of the interval search itself.
void BM_InterpolateSweep(benchmark::State& state) {
    RunInterpolate(state, true, [](CVRNiInterpolate& ip, double& t) { return ip.f(t); });
}
BENCHMARK(BM_InterpolateSweep)->Arg(10)->Arg(1000)->Arg(100000);

// M = 200 observations, K = 10 input changes, N = 30 type-curve nodes.
void BM_FitTypeCurve(benchmark::State& state) {
    const int nodes = 30, changes = 10, obs = 200;
    CDblHdr x, y, t, p, tc, q;
    x.SetSize(nodes);
    y.SetSize(nodes);
    for (int j = 0; j < nodes; j++)
        x[j] = 0.01 * std::pow(1e5, static_cast<double>(j) / (nodes - 1));
    for (int k = 0; k < changes; k++) {
        tc.Add(k * 25.0);
        q.Add(1.0 + 0.5 * (k % 3));
    }
    auto g = [](double tau) { return std::log(1.0 + tau); };
    std::vector<double> observed;
    for (int i = 0; i < obs; i++) {
        const double ti = 0.02 * std::pow(1.05, i);
        t.Add(ti);
        double v = 0.0;
        for (int k = 0; k < changes; k++) {
            const double tau = ti - tc[k];
            if (tau <= 0.0)
                break;
            v -= (k == 0 ? q[0] : q[k] - q[k - 1]) * g(tau);
        }
        observed.push_back(v);
    }
    p.SetSize(obs);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(x, y);
    CSynPar c0(0.0);
    for (auto _ : state) {
        for (int i = 0; i < obs; i++)
            p[i] = observed[i];
        fit.Fit(t, p, tc, q, c0, 1);
        benchmark::DoNotOptimize(y[0]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FitTypeCurve)->Unit(benchmark::kMicrosecond);

std::vector<double> SortKeys() {
    std::mt19937_64 gen(20240601);
    std::uniform_real_distribution<double> u(-1e6, 1e6);
    std::vector<double> v(1000000);
    for (double& d : v)
        d = u(gen);
    return v;
}

// Indirect sort (permutation, then applied to the array) of 10^6 values.
void BM_IndirectSort(benchmark::State& state) {
    const std::vector<double> keys = SortKeys();
    CDblHdr a;
    a.SetSize(static_cast<int>(keys.size()));
    CDblHdrIndirectSort sorter;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(keys.begin(), keys.end(), a.GetData());
        state.ResumeTiming();
        sorter.Sort(a);
        benchmark::DoNotOptimize(a.GetData());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(keys.size()));
}
BENCHMARK(BM_IndirectSort)->Unit(benchmark::kMillisecond);

// std::sort of the same values.
void BM_StdSort(benchmark::State& state) {
    const std::vector<double> keys = SortKeys();
    std::vector<double> a(keys.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(keys.begin(), keys.end(), a.begin());
        state.ResumeTiming();
        std::sort(a.begin(), a.end());
        benchmark::DoNotOptimize(a.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(keys.size()));
}
BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond);

// Both sorts of the same values, timed in the same iteration; the counter
// "ratio" is indirect time over std::sort time.
void BM_IndirectOverStdSort(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const std::vector<double> keys = SortKeys();
    CDblHdr a;
    a.SetSize(static_cast<int>(keys.size()));
    std::vector<double> b(keys.size());
    CDblHdrIndirectSort sorter;
    double indirect = 0.0, plain = 0.0;
    for (auto _ : state) {
        std::copy(keys.begin(), keys.end(), a.GetData());
        std::copy(keys.begin(), keys.end(), b.begin());
        auto t0 = Clock::now();
        sorter.Sort(a);
        auto t1 = Clock::now();
        std::sort(b.begin(), b.end());
        auto t2 = Clock::now();
        indirect += std::chrono::duration<double>(t1 - t0).count();
        plain += std::chrono::duration<double>(t2 - t1).count();
        benchmark::DoNotOptimize(a.GetData());
        benchmark::DoNotOptimize(b.data());
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["indirect_ms"] = indirect / runs * 1e3;
    state.counters["std_sort_ms"] = plain / runs * 1e3;
    state.counters["ratio"] = plain > 0.0 ? indirect / plain : 0.0;
}
BENCHMARK(BM_IndirectOverStdSort)->Unit(benchmark::kMillisecond);

} // namespace
