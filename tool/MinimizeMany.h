#pragma once

// vrn::MinimizeMany: independent minimizations side by side on a small pool of threads.
//
//     std::vector<std::vector<double>> starts = ...;
//     auto results = vrn::MinimizeMany(f, starts, {}, 2);   // two threads
//     // results[i] is what vrn::Minimize(f, starts[i]) gives, bit for bit.
//
// Every minimization has its own engine (and its own tool with Driver::Tool or Step);
// engines share no state, so a run gives the same result, log and counts whichever
// thread runs it and whatever runs beside it. The results come back in input order.
//
// Threads: threads is the number of threads that run minimizations, the calling
// thread included (1, the default, runs them one after the other on the calling
// thread; values below 1 count as 1). options.threads is not used here: the runs are
// the parallel work, each evaluates its points on its own thread.
//
// What runs concurrently and must allow it: the callables (f, gradient, hessian) are
// shared by all runs and called from several threads at once, each call with its own
// x (and g, h) arrays; so are the option callbacks onIteration, onLogRow and onEngine,
// each call about one run. Problem objects are each used by one run only, so they need
// not be thread-safe among themselves, unless they share state of their own.
//
// Shared state outside the engine: the data utilities' normal random numbers
// (CNormalDistribution) draw from one process-wide generator, which constructing an
// object reseeds; objectives that draw from it concurrently still work (the
// generator is atomic) but see an interleaved sequence, so their results depend on
// the timing and are not those of serial runs. Draw such numbers before the batch.
//
// An exception thrown in a run stops the start of further runs; the runs already
// started finish, and MinimizeMany rethrows the first exception (no result is
// returned).

#include <vector>

#include "tool/Minimize.h"

class CVRNMinimizationMethodBase;

namespace vrn {

// One vrn::Minimize(f, gradient, hessian, x0s[i], options) per start point; gradient
// and hessian may be empty as there.
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const HessianFunction& hessian,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const GradientFunction& gradient,
                                         const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);
std::vector<MinimizeResult> MinimizeMany(const Objective& f, const std::vector<std::vector<double>>& x0s,
                                         const MinimizeOptions& options = {}, int threads = 1);

// One engine run per problem object (borrowed, not null), as CVRNUnconstrainedMinimization::
// Minimize(problem, options.typicalF, options.itnlim, options.method) after Default(),
// SetImplementationOptions(analyticGradient, analyticHessian, options.expensive), the
// engine options and checks of options. Each problem starts from its own
// InitialParameters. Only Driver::Engine applies (any other driver gives every run code
// 6 with a message, and nothing is evaluated). The results hold the engine's run record:
// evaluations are the engine's counts of its calls of Fx, Gradient and Hessian;
// onIteration, onLogRow, captureLog and onEngine work as in vrn::Minimize.
std::vector<MinimizeResult> MinimizeMany(const std::vector<CVRNMinimizationMethodBase*>& problems,
                                         bool analyticGradient, bool analyticHessian,
                                         const MinimizeOptions& options = {}, int threads = 1);

} // namespace vrn
