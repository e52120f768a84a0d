#pragma once

class CMatrix;

// The problem a host hands to the minimizer. The host derives from this class and
// supplies the number of parameters, a starting point and the objective value; the
// gradient and the Hessian are optional (the engine's flags say whether to call them).
// The engine never creates, copies or deletes a problem object.
class CVRNMinimizationMethodBase {
public:
    CVRNMinimizationMethodBase() = default;
    CVRNMinimizationMethodBase(const CVRNMinimizationMethodBase&) {}
    CVRNMinimizationMethodBase& operator=(const CVRNMinimizationMethodBase&) { return *this; }
    virtual ~CVRNMinimizationMethodBase() = default;

    // Bit set of what the problem implements; not read by the engine.
    virtual int ImplementedMethods() { return 9; }
    // n, read at the start of every run and of every first step.
    virtual int NumberOfParameters() = 0;
    // Fills x0[0 .. n-1] with the starting point.
    virtual void InitialParameters(double* const x0) = 0;
    // Told the iteration count (0 when n changed; by the tool after each run and step).
    virtual void SetIterations(int count) { (void)count; }
    // Objective value at x[0 .. n-1].
    virtual double Fx(double* const x) = 0;
    // Analytic gradient; called only when the engine's gradient flag is set (and by
    // the conjugate-gradient method).
    virtual void Gradient(double* const x, double* const g) {
        (void)x;
        (void)g;
    }
    // Analytic Hessian into the n x n matrix h; only the lower triangle and the
    // diagonal are read afterwards.
    virtual void Hessian(double* const x, CMatrix& h) {
        (void)x;
        (void)h;
    }
    // True when Fx (and Gradient) may be called from several threads at the same
    // time, each call with its own x array (and g array). The engine then evaluates
    // the points of its finite-difference estimates concurrently, when it was given
    // more than one evaluation thread (CVRNUnconstrainedMinimization::
    // SetEvaluationThreads). The default says no: such a problem is only ever called
    // from one thread at a time.
    virtual bool bConcurrentEvaluation() const { return false; }
    // The engine's current point or arrays changed.
    virtual void UpdateViews() {}
    // The engine is about to evaluate, or has accepted, x; the problem may move x in place.
    virtual void CommitStep(double* x, int n) {
        (void)x;
        (void)n;
    }
};
