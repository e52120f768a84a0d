#pragma once

// What a run of the engine will cost before it starts: the evaluations of its set-up
// and first iteration and the memory the engine allocates for it. A pure function of
// the run's settings, so that a face can warn (or refuse) before it hands a large
// problem to CVRNUnconstrainedMinimization::Minimize.
//
// The counts are calls of the problem object's Fx, Gradient and Hessian as the
// engine makes them (the counts of its run record). Method 4 calls the problem's
// Gradient whatever the gradient flag says: a problem without an analytic gradient
// answers those calls with its own difference scheme, whose objective calls come on
// top of these.

#include <string>

struct CVRNRunSettings {
    long long n = 0;
    // 1 line search, 2 double dogleg, 3 More-Hebden, 4 conjugate gradient; the engine
    // runs any other value as method 1, and step mode (FirstStep) runs 4 as 1 too: pass
    // 1 for a step session.
    int method = 3;
    bool gradient = false;  // analytic gradient
    bool hessian = false;   // analytic Hessian
    bool expensive = false; // secant (BFGS) updates instead of a Hessian per iteration
    bool checkGradient = false;
    bool checkHessian = false;
    // Evaluation threads; more than 1 only counts for a problem that allows concurrent
    // evaluation (its per-thread copies of x).
    int threads = 1;
    // The engine keeps one record (x and g) per accepted step (SetRecordIterations).
    bool recordIterations = false;
};

struct CVRNEvaluationCount {
    long long objective = 0;
    long long gradient = 0;
    long long hessian = 0;
    long long Total() const { return objective + gradient + hessian; }
};

struct CVRNRunCost {
    // False when the engine would refuse the run (n < 1) or n exceeds the engine's
    // int count of parameters; every other field is then zero.
    bool valid = false;
    // The methods 1 to 3 keep an n x n model Hessian; method 4 keeps none.
    bool modelHessian = false;
    // Before the first step: the value and gradient at x0, the derivative checks asked
    // for and the first model Hessian.
    CVRNEvaluationCount setUp;
    // The first iteration with the fewest trial points its step search can take: one
    // for methods 1 to 3, four points and one slope on the line for method 4, then the
    // value, gradient and (methods 1 to 3) Hessian at the new point. Every later
    // iteration costs the same; a search that needs more points adds one objective
    // call each (method 4: one objective or one objective and one gradient call), and
    // a switch to central differences adds 2n objective calls per gradient.
    CVRNEvaluationCount firstStep;
    // Peak bytes the engine allocates for the run: working arrays, model Hessian,
    // evaluation buffers, derivative-check records. Thread stacks and the problem's
    // own memory are not included.
    double bytes = 0.0;
    // Bytes added per accepted iteration (recorded iterations); the diagnostic
    // histories of a run with a display grow by about 16 n bytes per iteration more.
    double bytesPerIteration = 0.0;

    CVRNEvaluationCount FirstIteration() const {
        CVRNEvaluationCount c;
        c.objective = setUp.objective + firstStep.objective;
        c.gradient = setUp.gradient + firstStep.gradient;
        c.hessian = setUp.hessian + firstStep.hessian;
        return c;
    }
};

CVRNRunCost VRNEstimateRunCost(const CVRNRunSettings& settings);
CVRNRunCost VRNEstimateRunCost(long long n, int method, bool gradient, bool hessian, bool expensive);

// What a face does with an estimate.
enum class VRNRunCostVerdict {
    Fine,
    Warn,  // the first iteration costs more than the evaluation limit, or the run needs more
           // than the share of the available memory
    Refuse // the run needs more memory than is available, or the settings are invalid
};

struct CVRNRunCostJudgement {
    VRNRunCostVerdict verdict = VRNRunCostVerdict::Fine;
    // Empty for Fine; otherwise one sentence with the figures, for a warning or an error.
    std::string message;
};

// availableBytes <= 0 or NaN: the memory is not judged. share is the part of the
// available memory a run may take without a warning (clamped to [0, 1]).
inline constexpr long long kVRNEvaluationWarningLimit = 1000000;
inline constexpr double kVRNMemoryWarningShare = 0.5;
CVRNRunCostJudgement VRNJudgeRunCost(const CVRNRunCost& cost, double availableBytes,
                                     double share = kVRNMemoryWarningShare,
                                     long long evaluationLimit = kVRNEvaluationWarningLimit);
