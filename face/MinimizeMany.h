#pragma once

// vrn::MinimizeMany: independent minimizations side by side on a small pool of threads.
//
//     std::vector<std::vector<double>> starts = ...;
//     vrn::BatchOptions batch;
//     batch.threads = 2;
//     auto results = vrn::MinimizeMany(f, starts, {}, batch);
//     // results[i] is what vrn::Minimize(f, starts[i]) gives, bit for bit.
//
// Every minimization runs through the run core with its own engine; engines share no
// state, so a run gives the same result, log and counts whichever thread runs it and
// whatever runs beside it. There is always one result per item, in input order.
//
// A bad item does not cost the others their results: an item that is refused (its
// options, or f not finite at its start), or whose callables throw, gets a result with
// success false, outcome Refused (code 6) and a message that begins with its index
// ("item 17: the objective is not finite at the start point (f = inf)"), while the
// other items finish. With BatchOptions::rethrow an exception is instead rethrown once
// the items already started have finished (no results are returned then).
//
// What runs concurrently and must allow it: the callables (f, gradient, hessian) are
// shared by all runs and called from several threads at once, each call with its own
// x (and g, h) arrays; so are the option callbacks and onItemDone (each call about one
// item). Problem objects are each used by one run only. options.threads is not used:
// the runs are the parallel work.
//
// Shared state outside the engine: the data utilities' normal random numbers
// (CNormalDistribution) draw from one process-wide generator; draw such numbers before
// the batch.

#include <functional>
#include <vector>

#include "face/Minimize.h"

class CVRNMinimizationMethodBase;

namespace vrn {

struct BatchOptions {
    // Threads that run minimizations, the calling thread included: at most
    // MaxEvaluationThreads() (more refuses every item); values below 1 count as 1, and
    // more threads than items run no faster.
    int threads = 1;
    // Rethrow the first exception of an item instead of keeping it as that item's result.
    bool rethrow = false;
    // Called once per finished item (from the thread that ran it), in no fixed order.
    std::function<void(size_t index, const MinimizeResult& result)> onItemDone;
};

// The batch itself: one(i) for i = 0 .. count - 1 on the batch's threads, one result per
// item in order, each item's refusal or exception kept as its result as described above.
// MinimizeMany and vrn::LeastSquaresMany (lsq/LeastSquares.h) run on it; one must allow
// concurrent calls for different items.
std::vector<MinimizeResult> RunBatch(size_t count, const BatchOptions& batch,
                                     const std::function<MinimizeResult(size_t index)>& one);

// One vrn::Minimize(f, gradient, hessian, x0s[i], options) per start point.
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options, const BatchOptions& batch);
// The same with the pool size alone (BatchOptions with threads).
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);

// One run per problem object (borrowed), each from its own InitialParameters, through
// the run core: the results are what vrn::Minimize gives for the same functions.
// analyticGradient / analyticHessian say whether the problems' Gradient / Hessian are
// analytic. A null problem gets a refused result naming its index.
std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options, const BatchOptions& batch);
std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options = {}, int threads = 1);

} // namespace vrn
