// Least-squares fits: the time of one fit as m grows (analytic Jacobian), the share the
// fit's own work takes beside the user's residuals, the difference Jacobian on the
// evaluation threads, and batches of fits.
//
//     build/bench/bench_lsq --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "lsq/LeastSquares.h"

namespace {

// y = a exp(-b t) + c sin(d t) + e on m points with a fixed pseudo-random noise.
struct Data {
    std::vector<double> t, y;
};

Data MakeData(size_t m, double shift = 0.0) {
    Data d;
    for (size_t i = 0; i < m; i++) {
        const double t = 10.0 * static_cast<double>(i) / static_cast<double>(m);
        const double noise = 0.01 * std::sin(12.9898 * static_cast<double>(i) + 78.233);
        d.t.push_back(t);
        d.y.push_back((3.0 + shift) * std::exp(-0.7 * t) + 0.5 * std::sin(1.3 * t) + 0.2 + noise);
    }
    return d;
}

// The time the residuals and the Jacobian take, so that the fit's own share can be shown.
struct Timed {
    double seconds = 0.0;
};

vrn::ResidualFunction Residual(const Data& d, Timed* timed = nullptr) {
    return [&d, timed](std::span<const double> p) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<double> r(d.t.size());
        for (size_t i = 0; i < r.size(); i++)
            r[i] = p[0] * std::exp(-p[1] * d.t[i]) + p[2] * std::sin(p[3] * d.t[i]) + p[4] - d.y[i];
        if (timed)
            timed->seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return r;
    };
}

vrn::JacobianFunction Jacobian(const Data& d, Timed* timed = nullptr) {
    return [&d, timed](std::span<const double> p, std::span<double> jac) {
        const auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < d.t.size(); i++) {
            const double t = d.t[i], e = std::exp(-p[1] * t);
            jac[i * 5 + 0] = e;
            jac[i * 5 + 1] = -p[0] * t * e;
            jac[i * 5 + 2] = std::sin(p[3] * t);
            jac[i * 5 + 3] = p[2] * t * std::cos(p[3] * t);
            jac[i * 5 + 4] = 1.0;
        }
        if (timed)
            timed->seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
}

const std::vector<double> kStart = {1.0, 0.5, 1.0, 1.2, 0.0};

// One fit with the analytic Jacobian; "callables" is the share of the time spent in the
// residual and Jacobian callables (the rest is the fit's own work: J^T J, the step, the
// SVD of the verdict and the covariance).
void BM_Fit(benchmark::State& state) {
    const Data d = MakeData(static_cast<size_t>(state.range(0)));
    Timed timed;
    long nfev = 0;
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = vrn::LeastSquares(Residual(d, &timed), Jacobian(d, &timed), kStart);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!r.success)
            state.SkipWithError("the fit failed");
        nfev = r.fit.residualEvaluations;
    }
    state.counters["nfev"] = static_cast<double>(nfev);
    state.counters["callables"] = total > 0.0 ? timed.seconds / total : 0.0;
}
BENCHMARK(BM_Fit)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same fit with a difference Jacobian on 1 and 2 evaluation threads (same result).
void BM_FitDifferences(benchmark::State& state) {
    const Data d = MakeData(20000);
    vrn::LeastSquaresOptions o;
    o.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto r = vrn::LeastSquares(Residual(d), nullptr, kStart, o);
        if (!r.success)
            state.SkipWithError("the fit failed");
    }
}
BENCHMARK(BM_FitDifferences)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// 200 fits of different data sets in one batch, on 1 and 2 threads.
void BM_LeastSquaresMany(benchmark::State& state) {
    std::vector<Data> data;
    for (int k = 0; k < 200; k++)
        data.push_back(MakeData(500, 0.01 * k));
    std::vector<vrn::FitItem> items;
    for (const Data& d : data)
        items.push_back({Residual(d), Jacobian(d), kStart});
    vrn::BatchOptions batch;
    batch.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto results = vrn::LeastSquaresMany(items, vrn::LeastSquaresOptions{}, batch);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["fits/s"] =
        benchmark::Counter(200.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LeastSquaresMany)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
