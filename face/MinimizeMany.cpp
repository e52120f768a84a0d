// vrn::MinimizeMany: independent minimizations run on a pool of threads, one engine each.
#include "face/MinimizeMany.h"

#include <algorithm>
#include <string>

#include "face/RunCore.h"
#include "minimize/MinimizationMethodBase.h"
#include "threads/EvaluationPool.h"

namespace vrn {

namespace {

MinimizeResult ItemRefused(size_t index, const std::string& why) {
    return RefusedResult("item " + std::to_string(index) + ": " + why);
}

// The per-run options: the runs are the parallel work, so each evaluates on its own thread.
MinimizeOptions OneThreadEach(const MinimizeOptions& options) {
    MinimizeOptions o = options;
    o.threads = 1;
    return o;
}

} // namespace

std::vector<MinimizeResult> RunBatch(size_t count, const BatchOptions& batch,
                                     const std::function<MinimizeResult(size_t index)>& one) {
    std::vector<MinimizeResult> results(count);
    const int most = MaxEvaluationThreads();
    if (batch.threads > most) {
        const std::string why = "the batch's threads must be 1 to " + std::to_string(most) +
                                " (4 per hardware thread, never more than 256) (got " +
                                std::to_string(batch.threads) + ")";
        for (MinimizeResult& r : results)
            r = RefusedResult(why);
        return results;
    }
    auto body = [&](int i, int) {
        const size_t k = static_cast<size_t>(i);
        try {
            results[k] = one(k);
            if (results[k].outcome == Outcome::Refused)
                results[k] = ItemRefused(k, results[k].message);
        } catch (const std::exception& e) {
            if (batch.rethrow)
                throw;
            results[k] = ItemRefused(k, std::string("the objective raised an exception: ") + e.what());
        } catch (...) {
            if (batch.rethrow)
                throw;
            results[k] = ItemRefused(k, "the objective raised an exception");
        }
        if (batch.onItemDone)
            batch.onItemDone(k, results[k]);
    };
    const int threads =
        std::min<int>(std::max(batch.threads, 1), static_cast<int>(std::max<size_t>(count, 1)));
    if (threads <= 1) {
        for (size_t i = 0; i < count; i++)
            body(static_cast<int>(i), 0);
    } else {
        CVRNEvaluationPool pool(threads);
        pool.ParallelFor(static_cast<int>(count), body);
    }
    return results;
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, const BatchOptions& batch) {
    const MinimizeOptions each = OneThreadEach(options);
    return RunBatch(x0s.size(), batch,
                    [&](size_t k) { return Minimize(f, gradient, hessian, x0s[k], each); });
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    BatchOptions batch;
    batch.threads = threads;
    return MinimizeMany(f, gradient, hessian, x0s, options, batch);
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    return MinimizeMany(f, gradient, HessianFunction(), x0s, options, threads);
}

std::vector<MinimizeResult> MinimizeMany(const Objective& f, const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, int threads) {
    return MinimizeMany(f, GradientFunction(), HessianFunction(), x0s, options, threads);
}

std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options, const BatchOptions& batch) {
    const MinimizeOptions each = OneThreadEach(options);
    return RunBatch(problems.size(), batch, [&](size_t k) {
        if (!problems[k])
            return RefusedResult("no problem object was given");
        return RunMinimization(*problems[k], analyticGradient, analyticHessian, each);
    });
}

std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options, int threads) {
    BatchOptions batch;
    batch.threads = threads;
    return MinimizeMany(problems, analyticGradient, analyticHessian, options, batch);
}

} // namespace vrn
