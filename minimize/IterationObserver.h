#pragma once

// What the engine tells the outside world while it runs: a start event, a trial point
// per iteration, accepted steps, and the end of a run. The diagnostic histories, plots
// and grids are one observer; vrn::Minimize is another.

// One event of a run. The pointers refer to the engine's own arrays and are valid for
// the duration of the call only.
struct CVRNIterationEvent {
    int iteration = 0;         // k: 0 at the start point, then the iteration the event belongs to
    int n = 0;                 // number of parameters
    int method = 3;            // 1 line search, 2 double dogleg, 3 hook step, 4 conjugate gradient
    const double* x = nullptr; // the point (start, trial or accepted)
    double f = 0.0;            // objective value at x
    const double* g = nullptr; // gradient at x (null for a trial point whose gradient is not known yet)
    // Euclidean length of the step from the previous point (0 at the start).
    double stepLength = 0.0;
    // Trust radius after the step (methods 2 and 3), the accepted line-search factor
    // lambda (method 1) or the step along the search direction (method 4).
    double radius = 0.0;
    // Calls of the problem's Fx, Gradient and Hessian so far in this run.
    long fEvaluations = 0;
    long gradientEvaluations = 0;
    long hessianEvaluations = 0;
    // Termination code after the stopping test of this iteration (0 while going on).
    int code = 0;
};

class CVRNIterationObserver {
public:
    virtual ~CVRNIterationObserver() = default;

    // The run has evaluated f and the gradient at the start point (iteration 0).
    virtual void OnRunStart(const CVRNIterationEvent& /*event*/) {}
    // A candidate point of the iteration has been evaluated (f known, g not yet).
    virtual void OnTrialPoint(const CVRNIterationEvent& /*event*/) {}
    // The iteration moved to a new point: x, f and g are the point's. The last
    // candidate of a run that a stopping test judged (codes 1, 2, 5) is reported too.
    virtual void OnAcceptedStep(const CVRNIterationEvent& /*event*/) {}
    // The run is over; event.code is its termination code, x/f/g the final point.
    virtual void OnRunEnd(const CVRNIterationEvent& /*event*/) {}
};
