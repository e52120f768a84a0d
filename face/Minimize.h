#pragma once

// vrn::Minimize: the minimizer for C++ callers who would rather pass callables than
// derive a problem class.
//
//     auto result = vrn::Minimize(
//         [](std::span<const double> x) { return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0])
//                                                + (1 - x[0]) * (1 - x[0]); },
//         {-1.2, 1.0});
//     if (result.success) use(result.x); else for (auto& w : result.warnings) warn(w);
//     std::puts(result.Summary().c_str());
//
// The callables are wrapped in a problem object and handed to the run core
// (face/RunCore.h), which runs the engine, the tool or its step mode, judges the end
// point (face/Verdict.h) and fills the result (face/MinimizeResult.h).

#include <span>
#include <vector>

#include "face/MinimizeOptions.h"
#include "face/MinimizeResult.h"
#include "face/OptionTable.h"
#include "face/RunCore.h"

namespace vrn {

// Minimizes f from x0. gradient and hessian may be empty: the engine then uses finite
// differences (methods 1 to 3; the conjugate-gradient method gets central differences
// of f, step eps^(1/3) * max(|x_i|, 1)).
//
// onIteration is called after each step the engine accepts. With the tool driver the
// iteration numbers start again at 1 in every run.
//
// Before the run f is evaluated at x0 (that value is the engine's first evaluation, not
// an extra one); a value that is not finite refuses the run with code 6 and the message
// "the objective is not finite at the start point (f = nan)". Options that the option
// table refuses give code 6 with its sentence, before anything is evaluated.
//
// The callables run on the calling thread, inside the engine's run (and on the
// evaluation threads with options.threads > 1). An exception they throw leaves
// Minimize (nothing leaks; the run is lost).
MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const HessianFunction& hessian,
                        const std::vector<double>& x0, const MinimizeOptions& options = {});
MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const std::vector<double>& x0,
                        const MinimizeOptions& options = {});
MinimizeResult Minimize(const Objective& f, const std::vector<double>& x0,
                        const MinimizeOptions& options = {});

// The first reason to refuse these options for n parameters (with or without a
// gradient / Hessian callable), as one sentence in the options' naming; empty when they
// are fine. The option table's check (face/OptionTable.h) gives the structured form.
std::string CheckMinimizeOptions(const MinimizeOptions& options, size_t n, bool hasGradient, bool hasHessian);

} // namespace vrn
