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

// The n x n triangle R of a = Q R (Householder reflections; a is m x n row-major, m > n):
// it has a's singular values and right singular vectors, at a cost of 2 m n^2 instead of
// the sweeps of rotations over m rows. R is n x n row-major, zeros below the diagonal.
std::vector<double> Triangle(std::vector<double> a, size_t m, size_t n) {
    for (size_t k = 0; k < n; k++) {
        double norm = 0.0;
        for (size_t i = k; i < m; i++)
            norm += a[i * n + k] * a[i * n + k];
        norm = std::sqrt(norm);
        if (!(norm > 0.0))
            continue;
        // v = a_k + sign(a_kk) ||a_k|| e_k (kept in column k), H = I - 2 v v^T / (v^T v).
        const double alpha = a[k * n + k] >= 0.0 ? -norm : norm;
        a[k * n + k] -= alpha;
        double vv = 0.0;
        for (size_t i = k; i < m; i++)
            vv += a[i * n + k] * a[i * n + k];
        for (size_t j = k + 1; j < n; j++) {
            double dot = 0.0;
            for (size_t i = k; i < m; i++)
                dot += a[i * n + k] * a[i * n + j];
            const double f = 2.0 * dot / vv;
            for (size_t i = k; i < m; i++)
                a[i * n + j] -= f * a[i * n + k];
        }
        a[k * n + k] = alpha;
    }
    std::vector<double> r(n * n, 0.0);
    for (size_t i = 0; i < n; i++)
        for (size_t j = i; j < n; j++)
            r[i * n + j] = a[i * n + j];
    return r;
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
    if (m > n)
        SingularValueDecomposition(Triangle(std::move(scaled), m, n), n, n, sigma, v);
    else
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
    if (m > n)
        SingularValueDecomposition(Triangle(std::move(unit), m, n), n, n, b.sigma, b.v);
    else
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

// What the verdict looks at in the Gauss-Newton model at the end point.
struct ModelTest {
    bool positiveDefinite = false;
    double newtonDecrease = 0.0; // 1/2 g^T (J~^T J~)^-1 g
    double newtonStep = 0.0;     // max_j |delta_j| / |x_j| of the Gauss-Newton step delta
};

ModelTest TestModel(const GaussNewtonModel::Point& p, size_t m, size_t n) {
    ModelTest t;
    std::vector<double> sigma, v;
    SingularValueDecomposition(p.Model(), m, n, sigma, v);
    const double threshold =
        DBL_EPSILON * static_cast<double>(std::max(m, n)) * (sigma.empty() ? 0.0 : sigma[0]);
    t.positiveDefinite = !sigma.empty() && sigma[n - 1] > threshold && sigma[n - 1] > 0.0;
    if (!t.positiveDefinite)
        return t;
    std::vector<double> delta(n, 0.0);
    for (size_t k = 0; k < n; k++) {
        double c = 0.0;
        for (size_t j = 0; j < n; j++)
            c += v[j * n + k] * p.gradient[j];
        const double y = c / sigma[k];
        t.newtonDecrease += 0.5 * y * y;
        for (size_t j = 0; j < n; j++)
            delta[j] -= v[j * n + k] * (c / (sigma[k] * sigma[k]));
    }
    for (size_t j = 0; j < n; j++) {
        // A parameter at exactly 0 counts only when the step moves it.
        const double rel = delta[j] == 0.0 ? 0.0 : std::fabs(delta[j]) / std::fabs(p.x[j]);
        if (rel > t.newtonStep || std::isnan(rel))
            t.newtonStep = rel;
    }
    return t;
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

std::string CheckLeastSquaresOptions(const LeastSquaresOptions& o, size_t n) {
    auto got = [](double v) { return " (got " + Short(v) + ")"; };
    if (n == 0)
        return "x0 must hold at least one parameter";
    if (o.method != 2 && o.method != 3)
        return "method must be 2 (dogleg) or 3 (hook step, Levenberg-Marquardt)" + got(o.method);
    for (auto [v, name] : {std::pair{o.ftol, "ftol"}, std::pair{o.xtol, "xtol"}, std::pair{o.gtol, "gtol"}})
        if (!(v >= 0.0 && v < 1.0))
            return std::string(name) + " must be at least 0 and below 1" + got(v);
    if (!(o.maximumEvaluations >= 0 && o.maximumEvaluations <= kMaximumEvaluationLimit))
        return "maximumEvaluations must be 0 (automatic) to 1e9" +
               got(static_cast<double>(o.maximumEvaluations));
    if (!(o.itnlim >= 1 && o.itnlim <= 10000000))
        return "itnlim must be 1 to 1e7" + got(o.itnlim);
    if (!(o.lossScale > 0.0 && std::isfinite(o.lossScale)))
        return "lossScale must be a finite number above 0" + got(o.lossScale);
    if (!o.xScale.empty()) {
        if (o.xScale.size() != n)
            return "xScale must have one entry per parameter (" + std::to_string(n) + "), got " +
                   std::to_string(o.xScale.size());
        for (double s : o.xScale)
            if (!(s > 0.0 && std::isfinite(s)))
                return "xScale must hold finite numbers above 0" + got(s);
    }
    if (o.trustRadius && !(*o.trustRadius > 0.0 && std::isfinite(*o.trustRadius)))
        return "trustRadius must be a finite number above 0" + got(*o.trustRadius);
    if (!(o.threads >= 1 && o.threads <= 256))
        return "threads must be 1 to 256" + got(o.threads);
    return {};
}

namespace {

// One fit from x0 with these options on the started model. userStopped tells whether the
// iteration callback ended it; evaluationsBefore is the count the budget starts from.
LeastSquaresResult Attempt(GaussNewtonModel& model, const std::vector<double>& x0,
                           const LeastSquaresOptions& options, long evaluationsBefore, bool& userStopped) {
    LeastSquaresResult result;
    const size_t n = x0.size();
    const size_t m = model.Residuals();
    result.n = n;
    result.m = m;
    userStopped = false;
    const double ftol = std::max(options.ftol, DBL_EPSILON);
    const double xtol = std::max(options.xtol, DBL_EPSILON);
    const double gtol = std::max(options.gtol, DBL_EPSILON);
    const long maxEvaluations =
        evaluationsBefore +
        (options.maximumEvaluations > 0 ? options.maximumEvaluations : 100 * (static_cast<long>(n) + 1));

    // The scaling: D_j from the columns at x0 (1 for a zero column), the common factor c.
    std::vector<double> x = x0;
    const GaussNewtonModel::Point& start = model.WithJacobian(x);
    const double cost0 = start.cost;
    const bool jacobianScaling = options.xScale.empty();
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

    // The verdict's look at the Gauss-Newton model: at a minimum it promises no decrease
    // of the cost above tau^2 max(cost, eps cost0) (tau^2 = sqrt(ftol)), or its step
    // moves no parameter by more than 1e-6 of its value.
    const double tau2 = std::sqrt(ftol);
    const double typicalCost = cost0 * DBL_EPSILON;
    auto modelAccepts = [&](const GaussNewtonModel::Point& p, const ModelTest& t) {
        return t.newtonDecrease <= tau2 * std::max(p.cost, typicalCost) || t.newtonStep <= 1e-6;
    };
    // A model that is positive definite and still promises more than that, or whose step
    // would still move a parameter by more than kSettledStep of its value while the
    // decrease it promises is above the rounding of the cost. On an ill-conditioned
    // problem (a Bennett-type power, a rational 3/3 over two decades) the cost settles to
    // 1e-9 of itself while the parameters are still 1e-4 away from the minimum; ftol,
    // xtol and gtol then fire there.
    auto Promising = [&](const GaussNewtonModel::Point& p) {
        const ModelTest t = TestModel(p, m, n);
        return t.positiveDefinite && (!modelAccepts(p, t) ||
                                      (t.newtonStep > kSettledStep &&
                                       t.newtonDecrease > kRoundingDecrease * std::max(p.cost, typicalCost)));
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
        mo.itnlim = options.itnlim - iterations;
        mo.typicalX.resize(n);
        for (size_t j = 0; j < n; j++)
            mo.typicalX[j] = common / runScale[j];
        mo.typicalF = std::max(cost0 * DBL_EPSILON, 1e-300);
        mo.gradientTolerance = DBL_MIN;
        mo.stepTolerance = std::min(xtol, 0.5);
        mo.trustRadius = radius;
        mo.recordIterations = options.recordIterations;
        mo.captureLog = options.captureLog;
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
                if (iterations >= options.itnlim)
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
    result.x = end.x;
    result.cost = end.cost;
    result.residuals = end.r;
    result.jacobian = end.Model();
    result.gradient = end.gradient;
    result.optimality = 0.0;
    for (double g : end.gradient)
        if (std::fabs(g) > result.optimality || std::isnan(g))
            result.optimality = std::fabs(g);
    result.status = status;
    result.iterations = iterations;
    result.runs = runs;
    result.engine = std::move(run);
    result.uncertainty = ComputeUncertainty(end.Model(), m, n, end.cost, options.absoluteSigma);

    // The verdict.
    const ModelTest t = TestModel(end, m, n);
    const bool finite = std::isfinite(end.cost) && std::isfinite(result.optimality);
    const bool converged = testFired || status == LeastSquaresStatus::NoLowerPoint;
    const bool accepted = modelAccepts(end, t);
    result.success = finite && converged && t.positiveDefinite && accepted;

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
        result.message = "The engine stopped: " + result.engine.message + ".";
        break;
    case LeastSquaresStatus::EvaluationLimit:
        result.message = userStopped ? "The iteration callback stopped the fit."
                         : iterations >= options.itnlim
                             ? "The iteration limit is exceeded."
                             : "The maximum number of function evaluations is exceeded.";
        break;
    case LeastSquaresStatus::ImproperInput:
        result.message = result.engine.message;
        break;
    }

    if (!finite)
        result.warnings.push_back("the cost or its gradient is not finite at the end point");
    if (!converged && status != LeastSquaresStatus::ImproperInput)
        result.warnings.push_back(result.message +
                                  " The fit did not converge; raise the limit, or start nearer.");
    if (!result.uncertainty.undetermined.empty())
        result.warnings.push_back(UndeterminedWarning(result.uncertainty, {}));
    else if (converged && finite && !t.positiveDefinite)
        result.warnings.push_back("the Jacobian at the end point is rank deficient: the fit is not unique");
    if (converged && finite && t.positiveDefinite && !accepted)
        result.warnings.push_back(
            "the Gauss-Newton model at the end point still promises a decrease of the cost of " +
            Short(t.newtonDecrease) + " (cost " + Short(end.cost) +
            "): the run stopped before the minimum; tighten ftol/xtol");
    if (result.uncertainty.computed && result.uncertainty.dof <= 0)
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
    result.n = n;
    auto finish = [&]() -> LeastSquaresResult& {
        result.timeSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return result;
    };
    result.message = CheckLeastSquaresOptions(options, n);
    for (size_t j = 0; j < n && result.message.empty(); j++)
        if (!std::isfinite(x0[j]))
            result.message = "x0 must be finite (x0[" + std::to_string(j) + "] = " + Short(x0[j]) + ")";
    if (!result.message.empty()) {
        result.x = x0;
        result.warnings.push_back(result.message);
        return finish();
    }

    GaussNewtonModel model(residual, jacobian, n, options.loss, options.lossScale, options.differences,
                           options.threads);
    result.message = model.Start(x0);
    const size_t m = model.Residuals();
    result.m = m;
    if (!result.message.empty()) {
        result.x = x0;
        result.residualEvaluations = model.ResidualEvaluations();
        result.warnings.push_back(result.message);
        return finish();
    }

    // The fit, and when it fails (neither refused nor stopped by the callback) up to two
    // more from x0: with the other method, then with the hook step and typical sizes
    // |x0_j| instead of the Jacobian's scaling (when no x0_j is 0). Paths through a badly scaled region
    // differ much between them. The first successful fit is the result; when none succeeds, the first fit is,
    // with a note of the others.
    bool userStopped = false;
    result = Attempt(model, x0, options, 0, userStopped);
    if (options.fallbacks && !result.success && !userStopped &&
        result.status != LeastSquaresStatus::ImproperInput) {
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
            const std::string what = o.xScale.empty() ? std::string(o.method == 3 ? "hook step" : "dogleg")
                                                      : std::string("hook step, typical sizes |x0|");
            tried += (tried.empty() ? "" : " and ") + what;
            if (stopped) {
                result.warnings.push_back("the iteration callback stopped fit " + std::to_string(attempts) +
                                          " (" + what + ")");
                break;
            }
            if (again.success) {
                again.warnings.push_back("found by fit " + std::to_string(attempts) + " (" + what +
                                         "); the first fit from x0 ended: " + result.message);
                result = std::move(again);
                break;
            }
        }
        result.iterations = iterations;
        result.runs = runs;
        if (!result.success && attempts > 1)
            result.warnings.push_back("the fits from x0 with " + tried + " did not succeed either");
    }
    // A successful fit with forward differences on an ill-conditioned problem ends where
    // the estimated gradient vanishes, which the differences' error can put 1e-4 away from
    // the minimum. When DifferenceBias allows that, the fit goes on from its end point with
    // central differences (their error is about 1e-5 of the forward ones'); its result
    // replaces the first when it succeeds.
    if (result.success && model.Differences() && options.differences == DifferenceScheme::TwoPoint &&
        DifferenceBias(model.WithJacobian(result.x), m, n) > kDifferenceBias) {
        model.SetDifferenceScheme(DifferenceScheme::ThreePoint);
        LeastSquaresOptions central = options;
        central.differences = DifferenceScheme::ThreePoint;
        bool stopped = false;
        const std::vector<double> from = result.x;
        LeastSquaresResult again = Attempt(model, from, central, model.ResidualEvaluations(), stopped);
        const int iterations = result.iterations + again.iterations;
        const int runs = result.runs + again.runs;
        if (again.success && !stopped) {
            again.warnings.push_back("refined with central differences from the end point of the "
                                     "forward-difference fit (" +
                                     result.message + ")");
            result = std::move(again);
        }
        result.iterations = iterations;
        result.runs = runs;
    }
    result.residualEvaluations = model.ResidualEvaluations();
    result.jacobianEvaluations = model.JacobianEvaluations();
    result.differenceEvaluations = model.DifferenceEvaluations();
    return finish();
}

std::string LeastSquaresResult::Summary(const std::vector<std::string>& names) const {
    std::string s;
    char line[256];
    s += "Status:       " + std::string(LeastSquaresStatusName(status)) + " (" +
         std::to_string(static_cast<int>(status)) + "): " + message + "\n";
    std::snprintf(line, sizeof line, "Cost:         %.10g  (m = %zu residuals, n = %zu parameters)\n", cost,
                  m, n);
    s += line;
    if (uncertainty.computed && uncertainty.dof > 0) {
        std::snprintf(line, sizeof line, "Residual sd:  %.6g  (dof %d)\n",
                      std::sqrt(uncertainty.residualVariance), uncertainty.dof);
        s += line;
    }
    for (size_t j = 0; j < x.size(); j++) {
        const std::string name = j < names.size() ? names[j] : "x[" + std::to_string(j) + "]";
        const double se = j < uncertainty.standardErrors.size() ? uncertainty.standardErrors[j]
                                                                : std::numeric_limits<double>::quiet_NaN();
        std::snprintf(line, sizeof line, "  %-12s %22.15g  +- %.4g\n", name.c_str(), x[j], se);
        s += line;
    }
    std::snprintf(
        line, sizeof line,
        "Evaluations:  residual %ld, Jacobian %ld (+%ld residuals for differences), %d iterations, %d runs\n",
        residualEvaluations, jacobianEvaluations, differenceEvaluations, iterations, runs);
    s += line;
    s += std::string("Success:      ") + (success ? "yes" : "no") + "\n";
    for (const std::string& w : warnings)
        s += "Warning:      " + w + "\n";
    return s;
}

} // namespace vrn
