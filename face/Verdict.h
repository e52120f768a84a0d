#pragma once

// The success verdict, decided once for every face from the model the run ends with.
//
// At the end point x, with gradient g and Hessian H (analytic, the method's model, or
// estimated there by differences):
//   - H must be positive definite (tested on D H D with D = diag(H)^-1/2, so the
//     scaling of x does not matter): a negative eigenvalue means a saddle point or no
//     minimum;
//   - the decrease a Newton step would still bring, 1/2 g^T H^-1 g, must be at most
//     t^2 max(min(|f|, f0 - f), typf), t the success tolerance and f0 f at the start:
//     small against the size of f, and against what the run has achieved (a constant
//     added to f then excuses nothing).
// Near a minimum this is the relative gradient test made affine-invariant: it does not
// care how x or f are scaled, so a large |f| neither excuses a large gradient nor
// condemns a small one. Without any Hessian (very large n with method 4) the verdict
// falls back to the engine's own relative gradient test against t.
//
// A non-finite f or gradient, a failed derivative check and a run stopped by the
// caller are never a success. The engine's code and message stay as the engine said.

#include <string>
#include <vector>

#include "face/MinimizeOptions.h"
#include "face/MinimizeResult.h"

namespace vrn {

// What the verdict looks at.
struct VerdictInput {
    const std::vector<double>* x = nullptr;
    double f = 0.0;
    double initialF = 0.0; // f at the start of the first run
    const std::vector<double>* g = nullptr;
    // Row-major n x n, or empty when there is none.
    const std::vector<double>* hessian = nullptr;
    std::string hessianSource; // "analytic", "model", "differences" or "none"
    // The differences could not resolve the curvature of f at this scale (the change of
    // f over the step drowned in its rounding): the end point cannot be confirmed.
    bool curvatureUnresolved = false;
    const std::vector<double>* typicalX = nullptr;
    double typicalF = 1.0;
    double tolerance = 0.0;
    int code = 0;
    bool stoppedByCaller = false;
    bool stopMeansConverged = false;
    bool checksPassed = true;
    // A least-squares fit: its Jacobian at x (m x n row-major, reweighted for a robust
    // loss), so that f is the cost, g = J^T r and H the Gauss-Newton model J^T J. The
    // model is then tested through the singular values of J, never by forming J^T J
    // (see GaussNewtonTest), against t^2 max(|f|, typf): at a least-squares minimum the
    // cost left is the misfit of the data, not a constant that could excuse anything.
    const std::vector<double>* jacobian = nullptr;
    size_t m = 0;
    // The relative accuracy of the Jacobian's columns (0 exact, about sqrt(eps) for
    // forward differences): a fit the model does not accept whose scaled J has a singular
    // value below it is not unique (the promised decrease lies along a direction the data
    // do not determine), not a run that stopped short.
    double jacobianAccuracy = 0.0;
};

// The Gauss-Newton model of a fit at x, through the singular value decomposition
// J = U S V^T: the model is positive definite when J has numerical rank n (its
// smallest singular value above eps max(m, n) times its largest); then the decrease
// the Gauss-Newton step would bring is 1/2 g^T (J^T J)^-1 g = 1/2 sum_k (v_k^T g / s_k)^2
// and the step is -sum_k v_k (v_k^T g) / s_k^2.
struct GaussNewtonModelTest {
    bool fullRank = false;
    double decrease = 0.0;         // NaN when not full rank
    std::vector<double> step;      // empty when not full rank
    double relativeStep = 0.0;     // max_j |step_j| / |x_j| (a parameter at 0 counts when the step moves it)
    double conditionInverse = 0.0; // smallest / largest singular value of J with unit columns
};
GaussNewtonModelTest GaussNewtonTest(const std::vector<double>& jacobian, size_t m,
                                     const std::vector<double>& x, const std::vector<double>& g);
// Whether the model accepts x as a least-squares minimum: the decrease is at most
// t^2 |f|, or the step changes no parameter by more than 1e-6 of its value (a fit with
// exact data, where the cost left is rounding and the relative decrease says nothing),
// or the decrease is at most t^2 typf while the step changes no parameter by more than
// 1e-2 of its value. typf (eps times the cost at the start) only excuses a small step:
// from an absurd start (a cost of 1e169) the cost can fall by 39 orders of magnitude
// and still be nowhere near a minimum.
bool GaussNewtonAccepts(const GaussNewtonModelTest& test, double f, double typicalF, double tolerance);

// The verdict's judgement of one end point.
struct Judgement {
    Outcome outcome = Outcome::NotConverged;
    Verdict verdict;
    // For a saddle point: the direction of most negative curvature (in x), when n is
    // small enough to find it; empty otherwise.
    std::vector<double> descentDirection;
};

Judgement JudgeEndPoint(const VerdictInput& in);

// The largest n for which the verdict estimates a missing Hessian by differences at the
// end point: of the gradient when one is given (n gradient calls), of f otherwise
// (about n^2 / 2 calls).
constexpr size_t kVerdictDifferencesWithGradient = 400;
constexpr size_t kVerdictDifferencesWithoutGradient = 100;

// The sentences that explain a result that is not a success (and notes worth a word on
// one that is), in the naming of the face that asked. Every advice names a setting
// whose change leads somewhere, or says that none will help.
std::vector<std::string> Advise(const MinimizeResult& r, const MinimizeOptions& o, bool hasGradient);

} // namespace vrn
