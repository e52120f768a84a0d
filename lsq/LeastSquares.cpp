// vrn::LeastSquares: the residual face of the minimizer (see LeastSquares.h).
//
// The fit runs the engine (vrn::Minimize) on the cost with the Gauss-Newton model in the
// Hessian slot. The scaling comes from the Jacobian's column norms: each parameter's
// typical size is c / D_j, D_j the largest norm of column j seen so far (MINPACK's
// practice) and c one common factor fixed at the start, chosen so that no typical size
// exceeds the size of its nonzero start value (the engine compares steps with
// max(|x_j|, typical size)). The engine keeps its typical sizes for a run, so when a D_j
// has grown the run is stopped after that iteration and a new one starts at the same
// point with the new sizes and the trust radius reached so far; the residuals and the
// Jacobian there are kept, so a new run costs no evaluation. The first trust radius is
// ||D x0|| in the scaled units. When the fit stagnates, or xtol alone fires, while some D_j
// is far above its column's current norm, the scales start anew from the current Jacobian
// (and c is lowered where a typical size would exceed its parameter's current size).
//
// The engine regularizes a Hessian whose scaled condition exceeds about 1e8, so on an
// ill-conditioned fit it steps a fraction of the Gauss-Newton step and converges
// linearly. When its accepted step falls short that way, the run ends and the fit tries
// the full Gauss-Newton step (and a second one from where it lands), or, when the engine
// crawls with an exact model but the full step is out of reach, a damped
// (Levenberg-Marquardt) step of a few times the engine's length; a step that lowers the
// cost is kept and the next run starts there.
//
// The stopping tests are SciPy's, checked after every accepted step:
//   ftol  the actual and the predicted relative reductions of the cost are at most ftol
//         (and the actual at most twice the predicted);
//   xtol  ||D dx|| <= xtol ||D x||;
//   gtol  max_j |g_j| / (||J_j|| ||r||) <= gtol (the largest cosine between the
//         residual vector and a column of J; see GradientCosine for a robust loss),
//         checked at the start too.
// A test does not stop the fit while the Gauss-Newton model still promises a decrease the
// verdict would reject, or while its step would still move a parameter by more than 1e-5
// of its value (ill-conditioned fits settle in cost 1e-4 short of the minimum). A fit with
// forward differences whose end point the differences' error may have moved by more than
// 1e-4 goes on from there with central differences. The engine's own tests are set so that they only end a
// run at a point it cannot improve on (an exactly zero gradient, steps below xtol, no lower point). A fit
// that fails is tried again from x0 with other settings (fallbacks).
#include "lsq/LeastSquares.h"

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "face/OptionTable.h"
#include "face/RunCore.h"
#include "face/Verdict.h"
#include "lsq/GaussNewtonModel.h"

namespace vrn {

namespace {

// A new engine run starts when a column norm has grown by more than this factor (a new
// run costs no evaluation, and scales that follow the Jacobian closely pay: on the
// regression set in bench/lsq growth by 1.0001 needs fewer evaluations than by 2 or
// 16, and never restarting the most); at most kMaximumRuns runs.
constexpr double kRescaleGrowth = 1.0001;
constexpr int kMaximumRuns = 1000;
constexpr size_t kStagnationWindow = 10;
constexpr double kStaleScale = 10.0;
constexpr long kMaximumEvaluationLimit = 1000000000L;
// A stopping test does not end the fit while the Gauss-Newton step would still move some
// parameter by more than this fraction of its value, unless the decrease the step promises
// is below kRoundingDecrease times the cost (the rounding of the cost itself).
constexpr double kSettledStep = 1e-5;
constexpr double kRoundingDecrease = 1e-14;
// A fit with forward-difference Jacobians whose end point the differences may have moved
// by more than this (DifferenceBias) goes on from there with central differences. The
// bound is about 40 times the movement seen on the bench's ill-conditioned fits.
constexpr double kDifferenceBias = 1e-4;
// The engine regularizes a Hessian whose scaled condition exceeds about 1e8, so on an
// ill-conditioned fit it steps a fraction of the Gauss-Newton step each time and converges
// linearly (a Bennett-type power: 14% of the remaining distance per step). When an accepted
// step went less than kShortStep of the previous point's Gauss-Newton step, nearly in its
// direction (cosine above kJumpCosine), and the cost fell as the model predicted (within
// kJumpRatio), the run ends and the full Gauss-Newton step from the new point is tried:
// one residual evaluation, kept when the cost falls. After a jump that does not lower the
// cost, none is tried for kJumpPause iterations.
constexpr double kShortStep = 0.5;
constexpr double kJumpCosine = 0.9;
constexpr double kJumpRatio = 0.75;
constexpr int kJumpPause = 5;
// Only a Gauss-Newton step that changes no parameter by more than this fraction of its
// value is tried: far from the minimum the full step can flip a sign (a Gaussian's width)
// or leave the basin.
constexpr double kJumpReach = 0.25;
// When the engine's steps are short while its model is exact (actual and predicted
// decreases within kDampedRatio) but the full Gauss-Newton step is out of reach, a damped
// step of up to jumpFactor times the engine's step is tried instead (Levenberg-Marquardt
// with the damping chosen for that length); jumpFactor starts at kDampedGrowth and doubles
// after each damped step that lowers the cost, up to kDampedMostGrowth.
constexpr double kDampedRatio = 0.1;
constexpr double kDampedGrowth = 4.0;
constexpr double kDampedMostGrowth = 1e6;
// ... and only once the engine has stepped so for kCrawl iterations in a row (a crawl).
constexpr int kCrawl = 3;

// The Wald-Wolfowitz runs test on the signs of the residuals in their given order: z of
// the number of runs against its expectation for independent signs (0 when fewer than
// ten residuals are nonzero, or all have one sign). Strongly negative z: long stretches
// of one sign, the pattern of a model that misses the data's shape.
double RunsTest(const std::vector<double>& r) {
    double positive = 0.0, negative = 0.0, runs = 0.0;
    int last = 0;
    for (double v : r) {
        const int sign = v > 0.0 ? 1 : v < 0.0 ? -1 : 0;
        if (sign == 0)
            continue;
        (sign > 0 ? positive : negative) += 1.0;
        if (sign != last)
            runs += 1.0;
        last = sign;
    }
    const double total = positive + negative;
    if (total < 10.0 || positive == 0.0 || negative == 0.0)
        return 0.0;
    const double expected = 2.0 * positive * negative / total + 1.0;
    const double variance =
        2.0 * positive * negative * (2.0 * positive * negative - total) / (total * total * (total - 1.0));
    return variance > 0.0 ? (runs - expected) / std::sqrt(variance) : 0.0;
}

// The option table's default of a fit option.
double TableDefault(const char* name) {
    return FindOption(name, OptionNaming::Cpp, ProblemKind::LeastSquares)->byDefault;
}

std::string Short(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// The largest cosine between r and a column of J (0 when r is zero); with a robust
// loss, |g_j| / (||sqrt(rho') J_j|| sqrt(2 cost)), which is at most 1 as well.
double GradientCosine(const GaussNewtonModel::Point& p) {
    const double rn = std::sqrt(2.0 * p.cost);
    if (rn == 0.0)
        return 0.0;
    double worst = 0.0;
    for (size_t j = 0; j < p.gradient.size(); j++) {
        if (p.gradientColumnNorms[j] == 0.0)
            continue;
        const double c = std::fabs(p.gradient[j]) / (p.gradientColumnNorms[j] * rn);
        if (c > worst || std::isnan(c))
            worst = c;
    }
    return worst;
}

// A bound on how far the forward differences can have moved the end point, relative to each
// parameter: a difference column of J is off by about sqrt(eps) times the column's norm
// (rounding and truncation, with steps sqrt(eps) |x_j|), and the fit ends where the
// estimated gradient J^T r vanishes, so the end point is off by (J^T J)^-1 dJ^T r. In
// relative units u_j = x_j / |x_j| (J~ = J diag|x|), |du_j| <= sqrt(eps) ||r||
// sum_k |C_jk| ||J~_k|| with C = (J~^T J~)^-1. Infinite when J~ is rank deficient.
double DifferenceBias(const GaussNewtonModel::Point& p, size_t m, size_t n) {
    const std::vector<double>& jw = p.Model();
    const std::vector<double>& rw = p.ModelResiduals();
    std::vector<double> scaled(m * n);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            scaled[i * n + j] = jw[i * n + j] * std::fabs(p.x[j]);
    std::vector<double> norms(n, 0.0);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            norms[j] += scaled[i * n + j] * scaled[i * n + j];
    for (double& v : norms)
        v = std::sqrt(v);
    double rn = 0.0;
    for (size_t i = 0; i < m; i++)
        rn += rw[i] * rw[i];
    rn = std::sqrt(rn);
    std::vector<double> sigma, v;
    SingularValueDecomposition(scaled, m, n, sigma, v);
    const double threshold =
        DBL_EPSILON * static_cast<double>(std::max(m, n)) * (sigma.empty() ? 0.0 : sigma[0]);
    if (sigma.size() < n || !(sigma[n - 1] > threshold) || !(sigma[n - 1] > 0.0))
        return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t j = 0; j < n; j++) {
        double sum = 0.0;
        for (size_t k = 0; k < n; k++) {
            double c = 0.0; // C_jk = sum_l v_jl v_kl / sigma_l^2
            for (size_t l = 0; l < n; l++)
                c += v[j * n + l] * v[k * n + l] / (sigma[l] * sigma[l]);
            sum += std::fabs(c) * norms[k];
        }
        const double bias = std::sqrt(DBL_EPSILON) * rn * sum;
        if (bias > worst || std::isnan(bias))
            worst = bias;
    }
    return worst;
}

// The steps of the Gauss-Newton model at p: -(J~^T J~ + lambda D^2)^-1 J~^T r~ (D the
// column norms of J~ at p), from the singular value decomposition of J~ with unit columns.
struct StepBasis {
    bool usable = false;   // the decomposition exists and is finite
    bool fullRank = false; // lambda = 0 allowed: J~ has numerical rank n
    std::vector<double> sigma, v, coefficients, norms;
};

StepBasis MakeStepBasis(const GaussNewtonModel::Point& p, size_t m, size_t n) {
    StepBasis b;
    for (size_t j = 0; j < n; j++)
        if (!(p.columnNorms[j] > 0.0) || !std::isfinite(p.columnNorms[j]))
            return b;
    std::vector<double> unit(m * n);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            unit[i * n + j] = p.Model()[i * n + j] / p.columnNorms[j];
    SingularValueDecomposition(unit, m, n, b.sigma, b.v);
    if (b.sigma.size() < n || !std::isfinite(b.sigma[0]) || !(b.sigma[0] > 0.0))
        return b;
    b.norms = p.columnNorms;
    b.coefficients.assign(n, 0.0);
    for (size_t k = 0; k < n; k++)
        for (size_t j = 0; j < n; j++)
            b.coefficients[k] += b.v[j * n + k] * (p.gradient[j] / p.columnNorms[j]);
    const double threshold = DBL_EPSILON * static_cast<double>(std::max(m, n)) * b.sigma[0];
    b.usable = true;
    b.fullRank = b.sigma[n - 1] > threshold && b.sigma[n - 1] > 0.0;
    return b;
}

// With J~ = U S V^T D: delta = -D^-1 V (S^2 + lambda)^-1 V^T D^-1 g.
bool ModelStep(const StepBasis& b, double lambda, std::vector<double>& delta) {
    const size_t n = b.norms.size();
    delta.assign(n, 0.0);
    for (size_t k = 0; k < n; k++)
        for (size_t j = 0; j < n; j++)
            delta[j] -= b.v[j * n + k] * (b.coefficients[k] / (b.sigma[k] * b.sigma[k] + lambda));
    for (size_t j = 0; j < n; j++) {
        delta[j] /= b.norms[j];
        if (!std::isfinite(delta[j]))
            return false;
    }
    return true;
}

// The Gauss-Newton step (lambda = 0) at p; false when J~ is numerically rank deficient.
bool GaussNewtonStep(const GaussNewtonModel::Point& p, size_t m, size_t n, std::vector<double>& delta) {
    const StepBasis b = MakeStepBasis(p, m, n);
    return b.usable && b.fullRank && ModelStep(b, 0.0, delta);
}

// The largest |delta_j| / |x_j| (infinite when a parameter at 0 would move).
double Reach(const std::vector<double>& x, const std::vector<double>& delta) {
    double worst = 0.0;
    for (size_t j = 0; j < x.size(); j++) {
        if (delta[j] == 0.0)
            continue;
        const double rel = std::fabs(delta[j]) / std::fabs(x[j]);
        if (rel > worst || std::isnan(rel))
            worst = rel;
    }
    return worst;
}

} // namespace

const char* LeastSquaresStatusName(LeastSquaresStatus status) {
    switch (status) {
    case LeastSquaresStatus::ImproperInput:
        return "improper input";
    case LeastSquaresStatus::EvaluationLimit:
        return "evaluation limit";
    case LeastSquaresStatus::Gradient:
        return "gtol";
    case LeastSquaresStatus::CostChange:
        return "ftol";
    case LeastSquaresStatus::Step:
        return "xtol";
    case LeastSquaresStatus::CostChangeAndStep:
        return "ftol and xtol";
    case LeastSquaresStatus::NoLowerPoint:
        return "no lower point";
    case LeastSquaresStatus::EngineStopped:
        return "engine stopped";
    }
    return "unknown";
}

std::string CheckLeastSquaresOptions(const LeastSquaresOptions& options, size_t n, bool jacobian) {
    const std::optional<OptionRefusal> refusal =
        CheckOptions(options, RunShape{n, jacobian, false, ProblemKind::LeastSquares}, options.naming);
    return refusal ? refusal->text : std::string();
}

namespace {

// One fit from x0 with these options on the started model. userStopped tells whether the
// iteration callback ended it; evaluationsBefore is the count the budget starts from.
LeastSquaresResult Attempt(GaussNewtonModel& model, const std::vector<double>& x0,
                           const LeastSquaresOptions& options, long evaluationsBefore, bool& userStopped) {
    LeastSquaresResult result;
    const size_t n = x0.size();
    const size_t m = model.Residuals();
    userStopped = false;
    const double ftol = std::max(options.ftol.value_or(TableDefault("ftol")), DBL_EPSILON);
    const double xtol = std::max(options.xtol.value_or(TableDefault("xtol")), DBL_EPSILON);
    const double gtol = std::max(options.gtol.value_or(TableDefault("gtol")), DBL_EPSILON);
    const long maxEvaluations =
        evaluationsBefore + options.maximumEvaluations.value_or(100 * (static_cast<long>(n) + 1));
    const int itnlim = options.itnlim.value_or(static_cast<int>(TableDefault("itnlim")));

    // The scaling: D_j from the columns at x0 (1 for a zero column), the common factor c.
    std::vector<double> x = x0;
    const GaussNewtonModel::Point& start = model.WithJacobian(x);
    const double cost0 = start.cost;
    const bool jacobianScaling = options.xScale.empty();
    std::vector<IterationRecord> records;
    std::vector<std::string> logRows;
    std::vector<double> scale(n, 1.0); // D_j
    if (jacobianScaling) {
        for (size_t j = 0; j < n; j++)
            scale[j] = start.columnNorms[j] > 0.0 && std::isfinite(start.columnNorms[j])
                           ? start.columnNorms[j]
                           : 1.0;
    } else {
        for (size_t j = 0; j < n; j++)
            scale[j] = 1.0 / options.xScale[j];
    }
    double common = jacobianScaling ? std::numeric_limits<double>::infinity() : 1.0;
    if (jacobianScaling) {
        for (size_t j = 0; j < n; j++)
            if (x0[j] != 0.0)
                common = std::min(common, std::fabs(x0[j]) * scale[j]);
        if (!std::isfinite(common) || !(common > 0.0)) {
            double largest = 0.0;
            for (double d : scale)
                largest = std::max(largest, d);
            common = largest > 0.0 ? largest : 1.0;
        }
    }

    // The verdict's tolerance (t^2 = sqrt(ftol) by default) and typical cost.
    const double tolerance = options.successTolerance.value_or(std::pow(ftol, 0.25));
    const double typicalCost = cost0 * DBL_EPSILON;
    // A Gauss-Newton model that is positive definite and still promises a decrease the
    // verdict would not accept, or whose step would still move a parameter by more than
    // kSettledStep of its value while the decrease it promises is above the rounding of
    // the cost. On an ill-conditioned problem (a Bennett-type power, a rational 3/3 over
    // two decades) the cost settles to 1e-9 of itself while the parameters are still 1e-4
    // away from the minimum; ftol, xtol and gtol then fire there.
    auto Promising = [&](const GaussNewtonModel::Point& p) {
        const GaussNewtonModelTest t = GaussNewtonTest(p.Model(), m, p.x, p.gradient);
        return t.fullRank && (!GaussNewtonAccepts(t, p.cost, typicalCost, tolerance) ||
                              (t.relativeStep > kSettledStep &&
                               t.decrease > kRoundingDecrease * std::max(p.cost, typicalCost)));
    };

    // The previous accepted point, for the ftol and xtol tests.
    struct Previous {
        std::vector<double> x, jw, gradient;
        double cost = 0.0;
    } prev;
    auto keep = [&prev](const GaussNewtonModel::Point& p) {
        prev.x = p.x;
        prev.jw = p.Model();
        prev.gradient = p.gradient;
        prev.cost = p.cost;
    };
    keep(start);

    LeastSquaresStatus status = LeastSquaresStatus::EvaluationLimit;
    bool testFired = false;
    int iterations = 0;
    std::vector<double> recentCosts;
    int runs = 0;
    // The Gauss-Newton step at the previous accepted point (empty: none), the one at the
    // point a run ended at for a jump, and the iterations without jumps still to go.
    std::vector<double> gaussNewtonPrev, jumpStep, jumpFrom;
    int jumpPause = 0;
    bool dampedJump = false;
    int crawl = 0;
    double jumpFactor = kDampedGrowth;

    if (GradientCosine(start) <= gtol && !Promising(start)) {
        status = LeastSquaresStatus::Gradient;
        testFired = true;
    }

    // The first trust radius: the scaled length of x0 (MINPACK's choice with factor 1),
    // unless x0 is 0; then the method chooses.
    std::optional<double> radius = options.trustRadius;
    if (!radius) {
        double xn = 0.0;
        for (size_t j = 0; j < n; j++)
            xn += (scale[j] * x0[j] / common) * (scale[j] * x0[j] / common);
        if (xn > 0.0 && std::isfinite(xn))
            radius = std::sqrt(xn);
    }
    MinimizeResult run;
    while (!testFired && !userStopped) {
        runs++;
        const std::vector<double> runScale = scale;
        bool rescale = false;
        bool freshScales = false;
        bool jump = false;
        double radiusFactor = 1.0;
        bool budget = false;
        double lastRadius = 0.0;
        MinimizeOptions mo;
        mo.method = options.method;
        mo.itnlim = itnlim - iterations;
        mo.typicalX.resize(n);
        for (size_t j = 0; j < n; j++)
            mo.typicalX[j] = common / runScale[j];
        mo.typicalF = std::max(cost0 * DBL_EPSILON, 1e-300);
        mo.gradientTolerance = DBL_MIN;
        mo.stepTolerance = std::min(xtol, 0.5);
        mo.trustRadius = radius;
        mo.recordIterations = options.recordIterations;
        mo.captureLog = options.captureLog;
        mo.onLogRow = options.onLogRow;
        mo.naming = options.naming;
        mo.onProgress = [&lastRadius](int, const IterationRecord& r) { lastRadius = r.radius; };
        mo.onIteration = [&](int, std::span<const double> xs, double f, std::span<const double> g) {
            iterations++;
            const GaussNewtonModel::Point& p = model.WithJacobian(xs);
            // ftol: actual and predicted reductions against the previous point's model.
            double predicted = 0.0;
            double actualToPredicted = 0.0;
            std::vector<double> dx(n);
            {
                for (size_t j = 0; j < n; j++)
                    dx[j] = p.x[j] - prev.x[j];
                double slope = 0.0;
                for (size_t j = 0; j < n; j++)
                    slope += prev.gradient[j] * dx[j];
                double curvature = 0.0;
                for (size_t i = 0; i < m; i++) {
                    double t = 0.0;
                    for (size_t j = 0; j < n; j++)
                        t += prev.jw[i * n + j] * dx[j];
                    curvature += t * t;
                }
                predicted = -(slope + 0.5 * curvature);
                double stepNorm = 0.0;
                double xNorm = 0.0;
                for (size_t j = 0; j < n; j++) {
                    stepNorm += (runScale[j] * dx[j]) * (runScale[j] * dx[j]);
                    xNorm += (runScale[j] * p.x[j]) * (runScale[j] * p.x[j]);
                }
                const double actual = prev.cost - f;
                actualToPredicted = predicted > 0.0 ? actual / predicted : 0.0;
                const bool ftolHit = prev.cost > 0.0 && std::fabs(actual) <= ftol * prev.cost &&
                                     predicted <= ftol * prev.cost && actual <= 2.0 * predicted;
                const bool xtolHit = std::sqrt(stepNorm) <= xtol * std::sqrt(xNorm);
                // A test that fires while the Gauss-Newton model still promises a decrease
                // the verdict would not accept (a plateau crossed by short steps) does not
                // stop the fit.
                // xtol alone, measured with a D_j more than kStaleScale times its column's
                // norm here, compares steps with a size the parameter no longer has (a
                // linear factor that fell by decades on the first steps): the scales
                // start anew from here and the fit goes on.
                bool staleStep = false;
                if (xtolHit && !ftolHit && jacobianScaling && runs < kMaximumRuns)
                    for (size_t j = 0; j < n; j++)
                        staleStep = staleStep || (p.columnNorms[j] > 0.0 && std::isfinite(p.columnNorms[j]) &&
                                                  scale[j] > kStaleScale * p.columnNorms[j]);
                if (staleStep) {
                    freshScales = true;
                } else if ((ftolHit || xtolHit) && !Promising(p)) {
                    status = ftolHit && xtolHit ? LeastSquaresStatus::CostChangeAndStep
                             : ftolHit          ? LeastSquaresStatus::CostChange
                                                : LeastSquaresStatus::Step;
                    testFired = true;
                }
            }
            if (!testFired && !freshScales && GradientCosine(p) <= gtol && !Promising(p)) {
                status = LeastSquaresStatus::Gradient;
                testFired = true;
            }
            keep(p);
            if (testFired)
                return false;
            if (model.ResidualEvaluations() >= maxEvaluations) {
                budget = true;
                return false;
            }
            if (options.onIteration && !options.onIteration(iterations, xs, f, g)) {
                userStopped = true;
                return false;
            }
            if (jacobianScaling) {
                for (size_t j = 0; j < n; j++)
                    if (p.columnNorms[j] > scale[j] && std::isfinite(p.columnNorms[j])) {
                        scale[j] = p.columnNorms[j];
                        if (scale[j] > kRescaleGrowth * runScale[j] && runs < kMaximumRuns)
                            rescale = true;
                    }
                // Stagnation under stale scales: the cost fell by less than a tenth over
                // the last kStagnationWindow steps while some D_j is more than
                // kStaleScale times its column's norm here. The sizes seen far away
                // then hold those parameters back; the scales start anew from here.
                recentCosts.push_back(p.cost);
                if (recentCosts.size() > kStagnationWindow) {
                    const double before = recentCosts[recentCosts.size() - 1 - kStagnationWindow];
                    bool stale = false;
                    for (size_t j = 0; j < n; j++)
                        stale = stale || scale[j] > kStaleScale * p.columnNorms[j];
                    if (stale && p.cost > 0.9 * before && runs < kMaximumRuns)
                        freshScales = true;
                }
                if (freshScales) {
                    for (size_t j = 0; j < n; j++)
                        if (p.columnNorms[j] > 0.0 && std::isfinite(p.columnNorms[j]))
                            scale[j] = std::min(scale[j], p.columnNorms[j]);
                    // No typical size may exceed its parameter's size here either (the
                    // engine's step test compares steps with max(|x_j|, typical size)); the
                    // trust radius keeps its length in x.
                    double fresh = common;
                    for (size_t j = 0; j < n; j++)
                        if (p.x[j] != 0.0 && std::isfinite(p.x[j]))
                            fresh = std::min(fresh, std::fabs(p.x[j]) * scale[j]);
                    if (fresh > 0.0 && fresh < common) {
                        radiusFactor *= common / fresh;
                        common = fresh;
                    }
                    recentCosts.clear();
                    rescale = true;
                }
            }
            // A short step along the previous Gauss-Newton step: try the full one from here;
            // a crawl with an exact model: try a damped step a few times as long.
            std::vector<double> step;
            const StepBasis basis = MakeStepBasis(p, m, n);
            const bool haveStep = basis.usable && basis.fullRank && ModelStep(basis, 0.0, step);
            if (jumpPause > 0 || !basis.usable || !(std::fabs(actualToPredicted - 1.0) <= kJumpRatio))
                crawl = 0;
            if (jumpPause > 0) {
                jumpPause--;
            } else if (basis.usable && std::fabs(actualToPredicted - 1.0) <= kJumpRatio) {
                double taken = 0.0, wanted = 0.0, along = 0.0;
                for (size_t j = 0; j < n; j++) {
                    const double a = runScale[j] * dx[j];
                    const double b = gaussNewtonPrev.empty() ? 0.0 : runScale[j] * gaussNewtonPrev[j];
                    taken += a * a;
                    wanted += b * b;
                    along += a * b;
                }
                taken = std::sqrt(taken);
                wanted =
                    gaussNewtonPrev.empty() ? std::numeric_limits<double>::infinity() : std::sqrt(wanted);
                const bool crawling = taken > 0.0 && taken < kShortStep * wanted &&
                                      std::fabs(actualToPredicted - 1.0) <= kDampedRatio;
                crawl = crawling ? crawl + 1 : 0;
                auto length = [&](const std::vector<double>& d) {
                    double l = 0.0;
                    for (size_t j = 0; j < n; j++)
                        l += (runScale[j] * d[j]) * (runScale[j] * d[j]);
                    return std::sqrt(l);
                };
                if (haveStep && !gaussNewtonPrev.empty() && Reach(p.x, step) <= kJumpReach &&
                    taken < kShortStep * wanted && along > kJumpCosine * taken * wanted) {
                    jump = true;
                    dampedJump = false;
                    jumpStep = step;
                    jumpFrom = p.x;
                } else if (crawling && crawl >= kCrawl) {
                    // The least damping (bisected on a log scale) whose step is at most
                    // jumpFactor times the engine's and within reach.
                    const double limit = jumpFactor * taken;
                    auto fits = [&](double lambda, std::vector<double>& d) {
                        return ModelStep(basis, lambda, d) && length(d) <= limit &&
                               Reach(p.x, d) <= kJumpReach;
                    };
                    const double top = basis.sigma[0] * basis.sigma[0];
                    double lo = 1e-20 * top, hi = lo;
                    std::vector<double> d;
                    int tries = 0;
                    while (!fits(hi, d) && tries < 60) {
                        lo = hi;
                        hi *= 10.0;
                        tries++;
                    }
                    if (tries < 60 && tries > 0) {
                        for (int k = 0; k < 30; k++) {
                            const double mid = std::sqrt(lo * hi);
                            if (fits(mid, d))
                                hi = mid;
                            else
                                lo = mid;
                        }
                        if (fits(hi, d) && length(d) > 2.0 * taken) {
                            jump = true;
                            dampedJump = true;
                            jumpStep = d;
                            jumpFrom = p.x;
                        }
                    }
                }
            }
            if (haveStep)
                gaussNewtonPrev = std::move(step);
            else
                gaussNewtonPrev.clear();
            return !(rescale || jump);
        };
        const Objective fcost = [&model](std::span<const double> xs) { return model.Cost(xs); };
        const GradientFunction grad = [&model](std::span<const double> xs, std::span<double> g) {
            model.Gradient(xs, g);
        };
        const HessianFunction hess = [&model](std::span<const double> xs, std::span<double> h) {
            model.Hessian(xs, h);
        };
        run = Minimize(fcost, grad, hess, x, mo);
        for (IterationRecord& k : run.iterationRecords) {
            if (records.size() >= kMaxIterationRecords)
                break;
            k.run = runs;
            records.push_back(std::move(k));
        }
        logRows.insert(logRows.end(), run.log.begin(), run.log.end());
        if (run.x.size() == n)
            x = run.x;
        if (run.code == static_cast<int>(Status::OptionCheck)) {
            status = LeastSquaresStatus::ImproperInput;
            break;
        }
        if (testFired || userStopped)
            break;
        // The engine's own step test can end the run at the step after which the scales
        // were to start anew; the new scales go on from there.
        if (run.code == static_cast<int>(Status::AbortedByUser) ||
            (freshScales && run.code == static_cast<int>(Status::StepSizeSmall))) {
            if (budget) {
                status = LeastSquaresStatus::EvaluationLimit;
                break;
            }
            if (jump && x == jumpFrom) {
                // The full Gauss-Newton step from the run's end point x; kept when the
                // cost falls, and the next run starts there with the previous point's
                // model for the ftol and xtol tests being that of x.
                std::vector<double> to(n);
                for (size_t j = 0; j < n; j++)
                    to[j] = x[j] + jumpStep[j];
                const double here = model.Cost(x);
                double there = model.Cost(to);
                // A full step into a narrow curved valley lands a little off its floor; a
                // second Gauss-Newton step from there corrects that (a watchdog step).
                if (!dampedJump && !(there < here) && std::isfinite(there)) {
                    std::vector<double> again;
                    if (GaussNewtonStep(model.WithJacobian(to), m, n, again) &&
                        Reach(to, again) <= kJumpReach) {
                        for (size_t j = 0; j < n; j++) {
                            again[j] += jumpStep[j];
                            again[j] = x[j] + again[j];
                        }
                        const double further = model.Cost(again);
                        if (further < here) {
                            for (size_t j = 0; j < n; j++)
                                jumpStep[j] = again[j] - x[j];
                            to = again;
                            there = further;
                        }
                    }
                }
                if (there < here) {
                    x = to;
                    double length = 0.0;
                    for (size_t j = 0; j < n; j++)
                        length += (scale[j] * jumpStep[j] / common) * (scale[j] * jumpStep[j] / common);
                    length = std::sqrt(length);
                    lastRadius = std::max(lastRadius * radiusFactor, length);
                    radiusFactor = 1.0;
                    gaussNewtonPrev.clear();
                    if (dampedJump)
                        jumpFactor = std::min(2.0 * jumpFactor, kDampedMostGrowth);
                } else {
                    jumpPause = kJumpPause;
                    jumpFactor = kDampedGrowth;
                }
            }
            // The run was ended for the step; the next one goes on from x either way.
            if (jump)
                rescale = true;
            if (rescale) {
                if (lastRadius > 0.0 && std::isfinite(lastRadius))
                    radius = lastRadius * radiusFactor;
                if (iterations >= itnlim)
                    break;
                continue;
            }
            break;
        }
        switch (run.code) {
        case static_cast<int>(Status::GradientSmall):
            status = LeastSquaresStatus::Gradient;
            testFired = true;
            break;
        case static_cast<int>(Status::StepSizeSmall):
            status = LeastSquaresStatus::Step;
            testFired = true;
            break;
        case static_cast<int>(Status::NoLowerPoint):
            status = LeastSquaresStatus::NoLowerPoint;
            break;
        case static_cast<int>(Status::TooManyLargeSteps):
            status = LeastSquaresStatus::EngineStopped;
            break;
        default:
            status = LeastSquaresStatus::EvaluationLimit;
            break;
        }
        break;
    }

    // The end point.
    const GaussNewtonModel::Point& end = model.WithJacobian(x);
    LeastSquaresFit& fit = result.fit;
    result.x = end.x;
    result.f = end.cost;
    result.names = options.names;
    result.method = options.method;
    result.initialF = cost0;
    result.gradient = end.gradient;
    result.gradientNorm = 0.0;
    for (double g : end.gradient)
        if (std::fabs(g) > result.gradientNorm || std::isnan(g))
            result.gradientNorm = std::fabs(g);
    result.typicalX.resize(n);
    for (size_t j = 0; j < n; j++)
        result.typicalX[j] = (jacobianScaling ? common : 1.0) / scale[j];
    result.typicalF = std::max(typicalCost, 1e-300);
    result.iterations = iterations;
    result.runs = runs;
    result.code = run.code;
    result.status = run.status;
    result.iterationRecords = std::move(records);
    result.hessian = std::move(run.hessian);
    result.log = std::move(logRows);
    fit.status = static_cast<int>(status);
    fit.statusName = LeastSquaresStatusName(status);
    fit.residuals = end.r;
    fit.jacobian = end.Model();
    fit.optimality = result.gradientNorm;
    fit.loss = LossName(options.loss.value_or(Loss::Linear));
    fit.lossScale = options.lossScale.value_or(1.0);
    // How accurate the Jacobian's columns are: exact from a callable, else the error of
    // the differences relative to a column's norm.
    const double accuracy =
        !model.Differences() ? 0.0
        : options.differences.value_or(DifferenceScheme::TwoPoint) == DifferenceScheme::ThreePoint
            ? std::cbrt(DBL_EPSILON * DBL_EPSILON)
            : std::sqrt(DBL_EPSILON);
    fit.uncertainty = ComputeUncertainty(end.Model(), m, n, end.cost, options.absoluteSigma, accuracy);
    fit.m = m;

    // The verdict: the spine's, on the Gauss-Newton model of the fit.
    VerdictInput in;
    in.x = &result.x;
    in.f = end.cost;
    in.initialF = cost0;
    in.g = &result.gradient;
    in.typicalX = &result.typicalX;
    in.typicalF = typicalCost;
    in.tolerance = tolerance;
    // A limit that ended the fit is an iteration limit to the verdict.
    in.code = status == LeastSquaresStatus::EvaluationLimit ? static_cast<int>(Status::TooManyIterations)
              : testFired                                   ? static_cast<int>(Status::GradientSmall)
                                                            : run.code;
    in.stoppedByCaller = userStopped;
    in.jacobian = &fit.jacobian;
    in.m = m;
    in.jacobianAccuracy = accuracy;
    const Judgement judgement = JudgeEndPoint(in);
    result.verdict = judgement.verdict;
    result.outcome = judgement.outcome;
    result.success = judgement.outcome == Outcome::Success;

    switch (status) {
    case LeastSquaresStatus::Gradient:
        result.message = "`gtol` termination condition is satisfied.";
        break;
    case LeastSquaresStatus::CostChange:
        result.message = "`ftol` termination condition is satisfied.";
        break;
    case LeastSquaresStatus::Step:
        result.message = "`xtol` termination condition is satisfied.";
        break;
    case LeastSquaresStatus::CostChangeAndStep:
        result.message = "Both `ftol` and `xtol` termination conditions are satisfied.";
        break;
    case LeastSquaresStatus::NoLowerPoint:
        result.message = "No lower point could be found near x: the cost cannot be reduced further.";
        break;
    case LeastSquaresStatus::EngineStopped:
        result.message = "The engine stopped: " + run.message + ".";
        break;
    case LeastSquaresStatus::EvaluationLimit:
        result.message = userStopped            ? "The iteration callback stopped the fit."
                         : iterations >= itnlim ? "The iteration limit is exceeded."
                                                : "The maximum number of function evaluations is exceeded.";
        break;
    case LeastSquaresStatus::ImproperInput:
        result.message = run.message;
        break;
    }

    auto name = [&options](const char* field) {
        return OptionName(field, options.naming, ProblemKind::LeastSquares);
    };
    if (result.verdict.plateau)
        result.warnings.push_back(
            "the model hardly depends on its parameters at the end point: changing any of "
            "them by its own size moves the residuals by less than 1e-6 of their norm, so "
            "the fit is on a plateau (a peak off the data, say); start nearer");
    else
        switch (result.outcome) {
        case Outcome::NotFinite:
            result.warnings.push_back("the cost or its gradient is not finite at the end point");
            break;
        case Outcome::IterationLimit:
            result.warnings.push_back(result.message + " The fit did not converge; raise " +
                                      name(iterations >= itnlim ? "itnlim" : "maximumEvaluations") +
                                      ", or start nearer.");
            break;
        case Outcome::NotUnique:
            if (fit.uncertainty.undetermined.empty())
                result.warnings.push_back(
                    "the Jacobian at the end point is rank deficient: the fit is not unique");
            break;
        case Outcome::NotConverged:
            if (result.verdict.decrease >= 0.1 * end.cost)
                result.warnings.push_back(
                    "the fit stopped far from a minimum: the Gauss-Newton model at the end point would still "
                    "remove " +
                    Short(100.0 * std::min(1.0, result.verdict.decrease / end.cost)) + "% of the cost (" +
                    Short(end.cost) +
                    "), but no step the method tried lowered it; start nearer, or check the model");
            else
                result.warnings.push_back(
                    "the Gauss-Newton model at the end point still promises a decrease of the cost of " +
                    Short(result.verdict.decrease) + " (cost " + Short(end.cost) +
                    "): the run stopped before the minimum; tighten " + name("ftol") + " and " +
                    name("xtol"));
            break;
        case Outcome::Stopped:
            result.warnings.push_back("the iteration callback stopped the fit");
            break;
        default:
            break;
        }
    if (const double z = RunsTest(fit.residuals); z < -4.0 && end.cost > 1e-20 * cost0)
        result.warnings.push_back(
            "the residuals change sign in far fewer runs than chance allows (runs test z = " + Short(z) +
            ", in the order they are given): the model misses a systematic "
            "feature of the data, or the fit ended in a local minimum; look at the "
            "residuals");
    if (!fit.uncertainty.undetermined.empty())
        result.warnings.push_back(UndeterminedWarning(fit.uncertainty, options.names));
    if (fit.uncertainty.computed && fit.uncertainty.dof <= 0)
        result.warnings.push_back("there are no more residuals than parameters (m = " + std::to_string(m) +
                                  ", n = " + std::to_string(n) + "): the covariance is not defined");
    return result;
}

} // namespace

LeastSquaresResult LeastSquares(const ResidualFunction& residual, const JacobianFunction& jacobian,
                                const std::vector<double>& x0, const LeastSquaresOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    LeastSquaresResult result;
    const size_t n = x0.size();
    auto finish = [&]() -> LeastSquaresResult& {
        result.timeSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.settings = FitSettings(options);
        result.derivatives =
            jacobian ? "Jacobian (given), Gauss-Newton model J^T J"
            : options.differences.value_or(DifferenceScheme::TwoPoint) == DifferenceScheme::ThreePoint
                ? "Jacobian by 3-point differences, Gauss-Newton model J^T J"
                : "Jacobian by 2-point differences, Gauss-Newton model J^T J";
        return result;
    };
    auto refuse = [&](const std::string& why, size_t m, long evaluations) -> LeastSquaresResult& {
        result = RefusedResult(why);
        result.x = x0;
        result.method = options.method;
        result.names = options.names;
        result.fit.m = m;
        result.fit.status = static_cast<int>(LeastSquaresStatus::ImproperInput);
        result.fit.statusName = LeastSquaresStatusName(LeastSquaresStatus::ImproperInput);
        result.fit.residualEvaluations = evaluations;
        result.evaluations.f = evaluations;
        return finish();
    };
    std::string why = CheckLeastSquaresOptions(options, n, static_cast<bool>(jacobian));
    for (size_t j = 0; j < n && why.empty(); j++)
        if (!std::isfinite(x0[j]))
            why = "x0 must be finite (x0[" + std::to_string(j) + "] = " + Short(x0[j]) + ")";
    if (!why.empty())
        return refuse(why, 0, 0);

    GaussNewtonModel model(residual, jacobian, n, options.loss.value_or(Loss::Linear),
                           options.lossScale.value_or(1.0),
                           options.differences.value_or(DifferenceScheme::TwoPoint), options.threads);
    why = model.Start(x0);
    const size_t m = model.Residuals();
    if (!why.empty())
        return refuse(why, m, model.ResidualEvaluations());

    // The fit, and when it fails (neither refused nor stopped by the callback) up to two
    // more from x0: with the other method, then with the hook step and typical sizes
    // |x0_j| instead of the Jacobian's scaling (when no x0_j is 0). Paths through a badly
    // scaled region differ much between them. The first successful fit is the result;
    // when none succeeds, the first fit is, with a note of the others.
    auto approach = [](const LeastSquaresOptions& o) {
        return o.xScale.empty()
                   ? std::string(o.method == 3 ? "hook step" : "dogleg")
                   : std::string(o.method == 3 ? "hook step" : "dogleg") + ", typical sizes |x0|";
    };
    bool userStopped = false;
    result = Attempt(model, x0, options, 0, userStopped);
    result.fit.attempts = 1;
    result.fit.approach = approach(options);
    if (options.fallbacks.value_or(true) && !result.success && !userStopped &&
        result.outcome != Outcome::Refused) {
        std::vector<LeastSquaresOptions> others;
        LeastSquaresOptions other = options;
        other.method = options.method == 3 ? 2 : 3;
        others.push_back(other);
        bool zero = false;
        for (double v : x0)
            zero = zero || v == 0.0;
        if (options.xScale.empty() && !zero) {
            LeastSquaresOptions sized = options;
            sized.method = 3;
            sized.xScale.resize(n);
            for (size_t j = 0; j < n; j++)
                sized.xScale[j] = std::fabs(x0[j]);
            others.push_back(sized);
        }
        int attempts = 1;
        int iterations = result.iterations;
        int runs = result.runs;
        std::string tried;
        for (const LeastSquaresOptions& o : others) {
            bool stopped = false;
            LeastSquaresResult again = Attempt(model, x0, o, model.ResidualEvaluations(), stopped);
            attempts++;
            iterations += again.iterations;
            runs += again.runs;
            const std::string what = approach(o);
            tried += (tried.empty() ? "" : " and ") + what;
            if (stopped) {
                result.warnings.push_back("the iteration callback stopped fit " + std::to_string(attempts) +
                                          " (" + what + ")");
                break;
            }
            if (again.success) {
                again.warnings.push_back("found by fit " + std::to_string(attempts) + " (" + what +
                                         "); the first fit from x0 ended: " + result.message);
                again.fit.approach = what;
                result = std::move(again);
                break;
            }
        }
        result.iterations = iterations;
        result.runs = runs;
        result.fit.attempts = attempts;
        if (!result.success && attempts > 1)
            result.warnings.push_back("the fits from x0 with " + tried + " did not succeed either");
    }
    // A successful fit with forward differences on an ill-conditioned problem ends where
    // the estimated gradient vanishes, which the differences' error can put 1e-4 away from
    // the minimum. When DifferenceBias allows that, the fit goes on from its end point with
    // central differences (their error is about 1e-5 of the forward ones'); its result
    // replaces the first when it succeeds.
    if (result.success && model.Differences() &&
        options.differences.value_or(DifferenceScheme::TwoPoint) == DifferenceScheme::TwoPoint &&
        DifferenceBias(model.WithJacobian(result.x), m, n) > kDifferenceBias) {
        model.SetDifferenceScheme(DifferenceScheme::ThreePoint);
        LeastSquaresOptions central = options;
        central.differences = DifferenceScheme::ThreePoint;
        bool stopped = false;
        const std::vector<double> from = result.x;
        LeastSquaresResult again = Attempt(model, from, central, model.ResidualEvaluations(), stopped);
        const int iterations = result.iterations + again.iterations;
        const int runs = result.runs + again.runs;
        again.fit.attempts = result.fit.attempts;
        again.fit.approach = result.fit.approach + ", refined with central differences";
        if (again.success && !stopped) {
            again.warnings.push_back("refined with central differences from the end point of the "
                                     "forward-difference fit (" +
                                     result.message + ")");
            result = std::move(again);
        }
        result.iterations = iterations;
        result.runs = runs;
    }
    result.fit.residualEvaluations = model.ResidualEvaluations();
    result.fit.jacobianEvaluations = model.JacobianEvaluations();
    result.fit.differenceEvaluations = model.DifferenceEvaluations();
    result.evaluations = Evaluations{result.fit.residualEvaluations, result.fit.jacobianEvaluations, 0};
    return finish();
}

std::vector<LeastSquaresResult> LeastSquaresMany(const std::vector<FitItem>& items,
                                                 const LeastSquaresOptions& options,
                                                 const BatchOptions& batch) {
    LeastSquaresOptions each = options;
    each.threads = 1;
    return RunBatch(items.size(), batch, [&](size_t k) {
        return LeastSquares(items[k].residual, items[k].jacobian, items[k].x0, each);
    });
}

std::vector<LeastSquaresResult> LeastSquaresMany(const ResidualFunction& residual,
                                                 const JacobianFunction& jacobian,
                                                 const std::vector<std::vector<double>>& x0s,
                                                 const LeastSquaresOptions& options,
                                                 const BatchOptions& batch) {
    LeastSquaresOptions each = options;
    each.threads = 1;
    return RunBatch(x0s.size(), batch,
                    [&](size_t k) { return LeastSquares(residual, jacobian, x0s[k], each); });
}

} // namespace vrn
