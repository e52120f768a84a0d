#pragma once

// What a caller needs after a run, filled by the engine itself.

#include <vector>

// One component of a derivative check: the problem's analytic value beside the
// finite-difference estimate. For a Hessian check row and column name the entry
// (row >= column); for a gradient check column is -1.
struct CVRNDerivativeCheckEntry {
    int row = 0;
    int column = -1;
    double analytic = 0.0;
    double estimate = 0.0;
    // |analytic - estimate| / max(|analytic|, scale), the measure the check compares
    // with its tolerance.
    double relativeError = 0.0;
    bool flagged = false;
};

struct CVRNDerivativeCheckRecord {
    bool ran = false;
    bool passed = true; // no component flagged
    double tolerance = 0.0;
    std::vector<CVRNDerivativeCheckEntry> entries;
};

// One accepted step (kept only when the engine is asked to record iterations).
struct CVRNIterationRecord {
    int iteration = 0;
    double f = 0.0;
    double gradientNorm = 0.0; // max |g_i|
    double stepLength = 0.0;
    double radius = 0.0;
    long fEvaluations = 0;
    long gradientEvaluations = 0;
    long hessianEvaluations = 0;
    std::vector<double> x;
    std::vector<double> g;
};

struct CVRNRunRecord {
    int code = 6; // termination code (0 to 7)
    int method = 3;
    int iterations = 0;
    int n = 0;
    // The final point: for methods 1 to 3 the candidate x+ that a stopping test judged
    // (codes 1, 2 and 5), otherwise x; for method 4 x (its value f+ after code 2).
    std::vector<double> x;
    double f = 0.0;
    // The gradient at x; empty when the run ended at a point whose gradient was never
    // evaluated (method 4 after its function-change test, or no start point).
    std::vector<double> g;
    double initialF = 0.0;
    bool started = false; // f was evaluated at the start point
    long fEvaluations = 0;
    long gradientEvaluations = 0;
    long hessianEvaluations = 0;
    CVRNDerivativeCheckRecord gradientCheck;
    CVRNDerivativeCheckRecord hessianCheck;
    // The start point (iteration 0) and every accepted step, when recording is on.
    std::vector<CVRNIterationRecord> iterationRecords;
};
