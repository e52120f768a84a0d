// Vector kernels against the plain loop that computes the same thing.
// The "per_elem" counter is time per element (shown in seconds with an SI
// prefix: "1.2n" is 1.2 ns per element).
#include "linalg/LinearAlgebra.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<double> Data(int n, double scale) {
    std::vector<double> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = scale * (1.0 + (i % 17) * 0.125);
    return v;
}

void PerElement(benchmark::State& state) {
    state.counters["per_elem"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_dot(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0), y = Data(n, 0.5);
    for (auto _ : state) {
        double r = CVRNLinearAlgebra::dot(n, x.data(), 1, y.data(), 1);
        benchmark::DoNotOptimize(r);
    }
    PerElement(state);
}

void BM_dot_plain(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0), y = Data(n, 0.5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(x.data());
        double r = 0.0;
        for (int i = 0; i < n; ++i)
            r += x[static_cast<size_t>(i)] * y[static_cast<size_t>(i)];
        benchmark::DoNotOptimize(r);
    }
    PerElement(state);
}

void BM_daxpy(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0), y = Data(n, 0.5);
    for (auto _ : state) {
        CVRNLinearAlgebra::daxpy(n, 1e-9, x.data(), 1, y.data(), 1);
        benchmark::ClobberMemory();
    }
    PerElement(state);
}

void BM_daxpy_plain(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0), y = Data(n, 0.5);
    const double a = 1e-9;
    for (auto _ : state) {
        benchmark::DoNotOptimize(x.data());
        for (int i = 0; i < n; ++i)
            y[static_cast<size_t>(i)] = a * x[static_cast<size_t>(i)] + y[static_cast<size_t>(i)];
        benchmark::ClobberMemory();
    }
    PerElement(state);
}

void BM_nrm2(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0);
    for (auto _ : state) {
        double r = CVRNLinearAlgebra::nrm2(n, x.data(), 1);
        benchmark::DoNotOptimize(r);
    }
    PerElement(state);
}

// Unscaled square root of the sum of squares: no protection against overflow.
void BM_nrm2_plain(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto x = Data(n, 1.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(x.data());
        double s = 0.0;
        for (int i = 0; i < n; ++i)
            s += x[static_cast<size_t>(i)] * x[static_cast<size_t>(i)];
        double r = std::sqrt(s);
        benchmark::DoNotOptimize(r);
    }
    PerElement(state);
}

} // namespace

BENCHMARK(BM_dot)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_dot_plain)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_daxpy)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_daxpy_plain)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_nrm2)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_nrm2_plain)->Arg(10)->Arg(1000)->Arg(100000);
