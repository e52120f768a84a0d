#pragma once

// The run core: the one place where a face's request becomes an engine run. It
// validates the options with the option table, evaluates f at the start point, sets
// up the engine (or the tool for the tool and step drivers), its status-log sink and
// its observer, runs the driver, judges the end point (face/Verdict.h) and fills the
// result. vrn::Minimize, vrn::MinimizeMany, the vrnmath program and the Python
// package all run through it.

#include "face/MinimizeOptions.h"
#include "face/MinimizeResult.h"

class CVRNMinimizationMethodBase;

namespace vrn {

// Runs problem (borrowed) from its InitialParameters. gradient / hessian: whether the
// problem's Gradient / Hessian are analytic. Without an analytic gradient the methods
// with a model Hessian use the engine's finite differences; the conjugate-gradient
// method gets central differences of f, step eps^(1/3) max(|x_i|, 1).
//
// The counts in the result are calls of the problem's Fx, Gradient and Hessian,
// including those the verdict makes at the end point (result.verdict.evaluations).
// The problem's functions run on the calling thread (and, with options.threads > 1
// and bConcurrentEvaluation, on the evaluation threads). An exception they throw
// leaves RunMinimization (nothing leaks; the run is lost).
MinimizeResult RunMinimization(CVRNMinimizationMethodBase& problem, bool gradient, bool hessian,
                               const MinimizeOptions& options);

// A request refused before anything ran: code 6, outcome Refused, the reason as
// message and warning.
MinimizeResult RefusedResult(const std::string& why);

// The central-difference gradient used for the conjugate-gradient method when no
// gradient is given: g_i = (f(x + h_i e_i) - f(x - h_i e_i)) / (2 h_i),
// h_i = eps^(1/3) * max(|x_i|, 1). x is used as scratch and restored. Returns the
// number of objective calls (2n).
long CentralDifferenceGradient(const Objective& f, std::span<double> x, std::span<double> g);

} // namespace vrn
