// The cost of a run before it starts, counted the way the engine's driver and its
// finite-difference, check and conjugate-gradient routines evaluate and allocate.
#include "minimize/RunCost.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "minimize/RunRecord.h"

namespace {

constexpr double kDouble = static_cast<double>(sizeof(double));
// Working arrays of every run: x0, x, udiag, typsiz, g, step, sx, wrk0 to wrk3, x+, g+.
constexpr int kWorkingArrays = 13;

// Objective calls of the second-order difference Hessian: n neighbours and the
// n(n + 1)/2 points of the lower triangle.
long long SecondOrderHessianPoints(long long n) {
    return n + n * (n + 1) / 2;
}

// Adds the evaluations of one model Hessian of methods 1 to 3 (none with secant
// updates) to c.
void AddModelHessian(CVRNEvaluationCount& c, const CVRNRunSettings& s) {
    if (s.expensive)
        return;
    if (s.hessian)
        c.hessian += 1;
    else if (s.gradient)
        c.gradient += s.n;
    else
        c.objective += SecondOrderHessianPoints(s.n);
}

// Adds the evaluations of one gradient of methods 1 to 3 (forward differences
// without an analytic gradient).
void AddGradient(CVRNEvaluationCount& c, const CVRNRunSettings& s) {
    if (s.gradient)
        c.gradient += 1;
    else
        c.objective += s.n;
}

std::string Figure(double v) {
    char text[64];
    if (v >= 1e9)
        std::snprintf(text, sizeof(text), "%.3g billion", v / 1e9);
    else if (v >= 1e6)
        std::snprintf(text, sizeof(text), "%.3g million", v / 1e6);
    else
        std::snprintf(text, sizeof(text), "%.0f", v);
    return text;
}

std::string Bytes(double b) {
    char text[64];
    if (b >= 1024.0 * 1024.0 * 1024.0)
        std::snprintf(text, sizeof(text), "%.1f GiB", b / (1024.0 * 1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof(text), "%.1f MiB", b / (1024.0 * 1024.0));
    return text;
}

} // namespace

CVRNRunCost VRNEstimateRunCost(const CVRNRunSettings& settings) {
    CVRNRunCost cost;
    CVRNRunSettings s = settings;
    if (s.n < 1 || s.n > INT_MAX)
        return cost;
    if (s.method < 1 || s.method > 4)
        s.method = 1;
    if (s.threads < 1)
        s.threads = 1;
    cost.valid = true;
    const double n = static_cast<double>(s.n);
    // x0 .. g+, and the run record's point and gradient.
    double bytes = (kWorkingArrays + 2) * n * kDouble;

    if (s.method == 4) {
        // x and g at the start; then the line: three bracketing points, the value and
        // slope at the middle one, and the gradient at the new point.
        cost.setUp.objective = 1;
        cost.setUp.gradient = 1;
        cost.firstStep.objective = 4;
        cost.firstStep.gradient = 2;
        // Trial point and gradient on the line.
        bytes += 2.0 * n * kDouble;
        cost.bytes = bytes;
        cost.bytesPerIteration = s.recordIterations ? 2.0 * n * kDouble + sizeof(CVRNIterationRecord) : 0.0;
        return cost;
    }

    cost.modelHessian = true;
    const bool checkGradient = s.gradient && s.checkGradient;
    const bool checkHessian = s.hessian && !s.expensive && s.checkHessian;

    cost.setUp.objective = 1;
    AddGradient(cost.setUp, s);
    if (checkGradient)
        cost.setUp.objective += s.n;
    AddModelHessian(cost.setUp, s);
    if (checkHessian) {
        // The check evaluates the analytic Hessian once more after its estimate.
        cost.setUp.hessian += 1;
        if (s.gradient)
            cost.setUp.gradient += s.n;
        else
            cost.setUp.objective += SecondOrderHessianPoints(s.n);
    }

    // One trial point, the value at the accepted point, its gradient and Hessian.
    cost.firstStep.objective = 2;
    AddGradient(cost.firstStep, s);
    AddModelHessian(cost.firstStep, s);

    bytes += n * n * kDouble;
    // Evaluation threads share the points of the difference estimates: a copy of x per
    // thread and the function values of one gradient estimate (2n, for central
    // differences). The difference Hessians use the model Hessian as their buffer.
    const bool differences = !s.gradient || (!s.hessian && !s.expensive) || checkGradient || checkHessian;
    if (s.threads > 1 && s.n > 1 && differences)
        bytes += (static_cast<double>(s.threads) + 2.0) * n * kDouble;
    double transient = 0.0;
    if (checkGradient) {
        bytes += n * sizeof(CVRNDerivativeCheckEntry);
        transient = n * kDouble; // the difference estimate
    }
    if (checkHessian) {
        bytes += n * (n + 1.0) / 2.0 * sizeof(CVRNDerivativeCheckEntry);
        transient = n * n * kDouble; // the copy of the difference estimate
    }
    cost.bytes = bytes + transient;
    cost.bytesPerIteration = s.recordIterations ? 2.0 * n * kDouble + sizeof(CVRNIterationRecord) : 0.0;
    return cost;
}

CVRNRunCost VRNEstimateRunCost(long long n, int method, bool gradient, bool hessian, bool expensive) {
    CVRNRunSettings s;
    s.n = n;
    s.method = method;
    s.gradient = gradient;
    s.hessian = hessian;
    s.expensive = expensive;
    return VRNEstimateRunCost(s);
}

CVRNRunCostJudgement VRNJudgeRunCost(const CVRNRunCost& cost, double availableBytes, double share,
                                     long long evaluationLimit) {
    CVRNRunCostJudgement j;
    if (!cost.valid) {
        j.verdict = VRNRunCostVerdict::Refuse;
        j.message = "the number of parameters is not one the engine can run (1 to 2147483647)";
        return j;
    }
    // NaN compares false everywhere: the memory is then not judged, the share is 0.5.
    if (!(share >= 0.0))
        share = kVRNMemoryWarningShare;
    if (share > 1.0)
        share = 1.0;
    const bool memoryKnown = availableBytes > 0.0;
    if (memoryKnown && cost.bytes > availableBytes) {
        j.verdict = VRNRunCostVerdict::Refuse;
        j.message = "the run needs " + Bytes(cost.bytes) + " of memory and only " + Bytes(availableBytes) +
                    " is available" +
                    (cost.modelHessian ? " (the n x n model Hessian; method 4 keeps none)" : "");
        return j;
    }
    const long long evaluations = cost.FirstIteration().Total();
    if (evaluationLimit >= 0 && evaluations > evaluationLimit) {
        j.verdict = VRNRunCostVerdict::Warn;
        j.message =
            "the first iteration costs at least " + Figure(static_cast<double>(evaluations)) + " evaluations";
    }
    if (memoryKnown && cost.bytes > share * availableBytes) {
        j.verdict = VRNRunCostVerdict::Warn;
        j.message += std::string(j.message.empty() ? "the run needs " : "; the run needs ") +
                     Bytes(cost.bytes) + " of the " + Bytes(availableBytes) + " of memory available";
    }
    return j;
}
