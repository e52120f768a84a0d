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
// ||D x0|| in the scaled units. When the fit stagnates while some D_j is far above its
// column's current norm, the scales start anew from the current Jacobian.
//
// The stopping tests are SciPy's, checked after every accepted step:
//   ftol  the actual and the predicted relative reductions of the cost are at most ftol
//         (and the actual at most twice the predicted);
//   xtol  ||D dx|| <= xtol ||D x||;
//   gtol  max_j |g_j| / (||J_j|| ||r||) <= gtol (the largest cosine between the
//         residual vector and a column of J; see GradientCosine for a robust loss),
//         checked at the start too.
// A test does not stop the fit while the Gauss-Newton model still promises a decrease the
// verdict would reject. The engine's own tests are set so that they only end a run at a
// point it cannot improve on (an exactly zero gradient, steps below xtol, no lower
// point). A fit that fails is tried again from x0 with other settings (fallbacks).
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
    // verdict would not accept.
    auto Promising = [&](const GaussNewtonModel::Point& p) {
        const GaussNewtonModelTest t = GaussNewtonTest(p.Model(), m, p.x, p.gradient);
        return t.fullRank && !GaussNewtonAccepts(t, p.cost, typicalCost, tolerance);
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

    if (GradientCosine(start) <= gtol) {
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
            {
                std::vector<double> dx(n);
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
                const bool ftolHit = prev.cost > 0.0 && std::fabs(actual) <= ftol * prev.cost &&
                                     predicted <= ftol * prev.cost && actual <= 2.0 * predicted;
                const bool xtolHit = std::sqrt(stepNorm) <= xtol * std::sqrt(xNorm);
                // A test that fires while the Gauss-Newton model still promises a decrease
                // the verdict would not accept (a plateau crossed by short steps) does not
                // stop the fit.
                if ((ftolHit || xtolHit) && !Promising(p)) {
                    status = ftolHit && xtolHit ? LeastSquaresStatus::CostChangeAndStep
                             : ftolHit          ? LeastSquaresStatus::CostChange
                                                : LeastSquaresStatus::Step;
                    testFired = true;
                }
            }
            if (!testFired && GradientCosine(p) <= gtol && !Promising(p)) {
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
                    if (stale && p.cost > 0.9 * before && runs < kMaximumRuns) {
                        for (size_t j = 0; j < n; j++)
                            if (p.columnNorms[j] > 0.0 && std::isfinite(p.columnNorms[j]))
                                scale[j] = std::min(scale[j], p.columnNorms[j]);
                        recentCosts.clear();
                        rescale = true;
                    }
                }
            }
            return !rescale;
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
        if (run.code == static_cast<int>(Status::AbortedByUser)) {
            if (budget) {
                status = LeastSquaresStatus::EvaluationLimit;
                break;
            }
            if (rescale) {
                if (lastRadius > 0.0 && std::isfinite(lastRadius))
                    radius = lastRadius;
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
    fit.uncertainty = ComputeUncertainty(end.Model(), m, n, end.cost, options.absoluteSigma);
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
        result.warnings.push_back(
            "the Gauss-Newton model at the end point still promises a decrease of the cost "
            "of " +
            Short(result.verdict.decrease) + " (cost " + Short(end.cost) +
            "): the run stopped before the minimum; tighten " + name("ftol") + " and " + name("xtol"));
        break;
    case Outcome::Stopped:
        result.warnings.push_back("the iteration callback stopped the fit");
        break;
    default:
        break;
    }
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
