// The success verdict and the advice that goes with it.
#include "face/Verdict.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "face/OptionTable.h"
#include "linalg/SingularValues.h"

namespace vrn {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
// Eigenvalues and the descent direction of a saddle are worked out up to this n.
constexpr size_t kEigenLimit = 100;

// Cyclic Jacobi rotations on a symmetric matrix a (n x n, row-major, destroyed): the
// eigenvalues come back in values, the eigenvectors in the columns of vectors. The
// sweeps are bounded, so a NaN entry ends the loop too.
void Jacobi(std::vector<double>& a, size_t n, std::vector<double>& values, std::vector<double>& vectors) {
    vectors.assign(n * n, 0.0);
    for (size_t i = 0; i < n; i++)
        vectors[i * n + i] = 1.0;
    for (int sweep = 0; sweep < 60; sweep++) {
        double off = 0.0;
        for (size_t i = 0; i < n; i++)
            for (size_t j = i + 1; j < n; j++)
                off += a[i * n + j] * a[i * n + j];
        if (!(off > 1e-300))
            break;
        for (size_t p = 0; p < n; p++)
            for (size_t q = p + 1; q < n; q++) {
                const double apq = a[p * n + q];
                if (apq == 0.0)
                    continue;
                const double theta = (a[q * n + q] - a[p * n + p]) / (2.0 * apq);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (size_t k = 0; k < n; k++) {
                    const double akp = a[k * n + p], akq = a[k * n + q];
                    a[k * n + p] = c * akp - s * akq;
                    a[k * n + q] = s * akp + c * akq;
                }
                for (size_t k = 0; k < n; k++) {
                    const double apk = a[p * n + k], aqk = a[q * n + k];
                    a[p * n + k] = c * apk - s * aqk;
                    a[q * n + k] = s * apk + c * aqk;
                }
                for (size_t k = 0; k < n; k++) {
                    const double vkp = vectors[k * n + p], vkq = vectors[k * n + q];
                    vectors[k * n + p] = c * vkp - s * vkq;
                    vectors[k * n + q] = s * vkp + c * vkq;
                }
            }
    }
    values.resize(n);
    for (size_t i = 0; i < n; i++)
        values[i] = a[i * n + i];
}

// Cholesky factor of the symmetric a (row-major, lower triangle used) in place; false
// when a pivot is not positive (or not a number).
bool Cholesky(std::vector<double>& a, size_t n) {
    for (size_t j = 0; j < n; j++) {
        double d = a[j * n + j];
        for (size_t k = 0; k < j; k++)
            d -= a[j * n + k] * a[j * n + k];
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        d = std::sqrt(d);
        a[j * n + j] = d;
        for (size_t i = j + 1; i < n; i++) {
            double v = a[i * n + j];
            for (size_t k = 0; k < j; k++)
                v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / d;
        }
    }
    return true;
}

std::string Short(double v) {
    if (!std::isfinite(v))
        return NumberText(v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

bool AllFinite(const std::vector<double>& v) {
    for (double a : v)
        if (!std::isfinite(a))
            return false;
    return true;
}

// The engine's relative gradient measure at the end point.
double RelativeGradient(const MinimizeResult& r) {
    double m = 0.0;
    for (size_t i = 0; i < r.gradient.size() && i < r.x.size(); i++) {
        const double t = i < r.typicalX.size() ? r.typicalX[i] : 1.0;
        const double v =
            std::fabs(r.gradient[i]) * std::max(std::fabs(r.x[i]), t) / std::max(std::fabs(r.f), r.typicalF);
        if (v > m || std::isnan(v))
            m = v;
    }
    return m;
}

// The Newton step from the end point in units of the typical sizes (0 without one).
double LongestStep(const MinimizeResult& r) {
    double m = 0.0;
    for (size_t i = 0; i < r.verdict.newtonStep.size() && i < r.x.size(); i++) {
        const double t = i < r.typicalX.size() ? r.typicalX[i] : 1.0;
        m = std::max(m, std::fabs(r.verdict.newtonStep[i]) / std::max(std::fabs(r.x[i]), t));
    }
    return m;
}

} // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success:
        return "success";
    case Outcome::NotConverged:
        return "not-converged";
    case Outcome::NotAMinimum:
        return "not-a-minimum";
    case Outcome::IterationLimit:
        return "iteration-limit";
    case Outcome::NotFinite:
        return "not-finite";
    case Outcome::CheckFailed:
        return "check-failed";
    case Outcome::NotUnique:
        return "not-unique";
    case Outcome::Stopped:
        return "stopped";
    case Outcome::Refused:
        return "refused";
    }
    return "refused";
}

GaussNewtonModelTest GaussNewtonTest(const std::vector<double>& jacobian, size_t m,
                                     const std::vector<double>& x, const std::vector<double>& g) {
    GaussNewtonModelTest t;
    const size_t n = x.size();
    t.decrease = kNaN;
    if (n == 0 || g.size() != n || jacobian.size() != m * n)
        return t;
    // The columns scaled to unit norm (J D^-1), so that the test does not depend on the
    // units of the parameters: 1/2 g^T (J^T J)^-1 g = 1/2 (D^-1 g)^T (Js^T Js)^-1 (D^-1 g).
    std::vector<double> d(n, 0.0);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            d[j] += jacobian[i * n + j] * jacobian[i * n + j];
    for (size_t j = 0; j < n; j++) {
        d[j] = std::sqrt(d[j]);
        if (!(d[j] > 0.0) || !std::isfinite(d[j]))
            return t; // a parameter the residuals do not depend on, or no finite column
    }
    std::vector<double> scaled(m * n);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            scaled[i * n + j] = jacobian[i * n + j] / d[j];
    std::vector<double> sigma, v;
    SingularValueDecomposition(scaled, m, n, sigma, v);
    const double threshold = DBL_EPSILON * static_cast<double>(std::max(m, n)) * sigma[0];
    t.fullRank = sigma[n - 1] > threshold && sigma[n - 1] > 0.0;
    t.conditionInverse = sigma[0] > 0.0 ? sigma[n - 1] / sigma[0] : 0.0;
    if (!t.fullRank)
        return t;
    t.decrease = 0.0;
    t.step.assign(n, 0.0);
    for (size_t k = 0; k < n; k++) {
        double c = 0.0;
        for (size_t j = 0; j < n; j++)
            c += v[j * n + k] * (g[j] / d[j]);
        const double y = c / sigma[k];
        t.decrease += 0.5 * y * y;
        for (size_t j = 0; j < n; j++)
            t.step[j] -= v[j * n + k] * (c / (sigma[k] * sigma[k]));
    }
    for (size_t j = 0; j < n; j++)
        t.step[j] /= d[j];
    for (size_t j = 0; j < n; j++) {
        const double rel = t.step[j] == 0.0 ? 0.0 : std::fabs(t.step[j]) / std::fabs(x[j]);
        if (rel > t.relativeStep || std::isnan(rel))
            t.relativeStep = rel;
    }
    return t;
}

bool GaussNewtonAccepts(const GaussNewtonModelTest& test, double f, double typicalF, double tolerance) {
    const double t2 = tolerance * tolerance;
    return test.fullRank && (test.decrease <= t2 * std::fabs(f) || test.relativeStep <= 1e-6 ||
                             (test.decrease <= t2 * typicalF && test.relativeStep <= 1e-2));
}

Judgement JudgeEndPoint(const VerdictInput& in) {
    Judgement j;
    Verdict& v = j.verdict;
    const std::vector<double>& x = *in.x;
    const std::vector<double>& g = *in.g;
    const size_t n = x.size();
    v.tolerance = in.tolerance;
    const double achieved = std::isfinite(in.initialF) ? std::fabs(in.initialF - in.f) : std::fabs(in.f);
    v.allowed = in.tolerance * in.tolerance * std::max(std::min(std::fabs(in.f), achieved), in.typicalF);
    v.decrease = kNaN;
    v.minCurvature = kNaN;
    v.hessianSource = in.hessianSource;
    const bool haveH = in.hessian && in.hessian->size() == n * n && n > 0;
    v.test = haveH ? "newton-decrease" : "relative-gradient";

    auto decide = [&](bool passes) {
        if (passes)
            j.outcome = Outcome::Success;
        else
            j.outcome = (in.code == 0 || in.code == 4) ? Outcome::IterationLimit : Outcome::NotConverged;
    };

    if (!std::isfinite(in.f) || g.size() != n || !AllFinite(g)) {
        j.outcome = Outcome::NotFinite;
        return j;
    }
    if (!in.checksPassed) {
        j.outcome = Outcome::CheckFailed;
        return j;
    }
    if (in.stoppedByCaller && !in.stopMeansConverged) {
        j.outcome = Outcome::Stopped;
        return j;
    }

    if (in.jacobian) {
        // A least-squares fit: the Gauss-Newton model from the Jacobian.
        const GaussNewtonModelTest t = GaussNewtonTest(*in.jacobian, in.m, x, g);
        v.test = "gauss-newton-decrease";
        v.hessianSource = "gauss-newton";
        v.allowed = in.tolerance * in.tolerance * std::max(std::fabs(in.f), in.typicalF);
        v.positiveDefinite = t.fullRank;
        if (!AllFinite(*in.jacobian)) {
            j.outcome = Outcome::NotFinite;
            return j;
        }
        // A plateau: no parameter, changed by its own size, moves the residuals by 1e-6 of
        // their norm. The model then says nothing about where the minimum is (a peak that
        // lies off the data), however small the decrease it promises.
        double reach = 0.0;
        for (size_t k = 0; k < n; k++) {
            double column = 0.0;
            for (size_t i = 0; i < in.m; i++)
                column += (*in.jacobian)[i * n + k] * (*in.jacobian)[i * n + k];
            reach = std::max(reach, std::sqrt(column) * std::fabs(x[k]));
        }
        v.plateau = reach < 1e-6 * std::sqrt(2.0 * std::fabs(in.f));
        if (v.plateau) {
            decide(false);
            return j;
        }
        if (!t.fullRank) {
            j.outcome = Outcome::NotUnique;
            return j;
        }
        v.decrease = t.decrease;
        v.newtonStep = t.step;
        decide(GaussNewtonAccepts(t, in.f, in.typicalF, in.tolerance) && in.code != 0 && in.code != 4);
        if (j.outcome == Outcome::NotConverged && !(t.conditionInverse > in.jacobianAccuracy))
            j.outcome = Outcome::NotUnique;
        return j;
    }

    if (!haveH) {
        // Without a Hessian: the engine's relative gradient test against the tolerance.
        double m = 0.0;
        for (size_t i = 0; i < n; i++) {
            const double t = in.typicalX && i < in.typicalX->size() ? (*in.typicalX)[i] : 1.0;
            const double term =
                std::fabs(g[i]) * std::max(std::fabs(x[i]), t) / std::max(std::fabs(in.f), in.typicalF);
            if (term > m || std::isnan(term))
                m = term;
        }
        decide(m <= in.tolerance);
        return j;
    }

    v.curvatureUnresolved = in.curvatureUnresolved;
    if (in.curvatureUnresolved) {
        j.outcome = (in.code == 0 || in.code == 4) ? Outcome::IterationLimit : Outcome::NotConverged;
        return j;
    }
    const std::vector<double>& h = *in.hessian;
    if (!AllFinite(h)) {
        j.outcome = Outcome::NotFinite;
        return j;
    }
    // The scaled problem: parameters whose row and gradient are exactly zero take no part
    // (f does not depend on them); a diagonal that is not positive means negative or no
    // curvature along a parameter.
    std::vector<size_t> keep;
    bool negativeDiagonal = false;
    for (size_t i = 0; i < n; i++) {
        const double d = h[i * n + i];
        if (d > 0.0) {
            keep.push_back(i);
            continue;
        }
        bool zeroRow = g[i] == 0.0;
        for (size_t k = 0; k < n && zeroRow; k++)
            zeroRow = h[i * n + k] == 0.0;
        if (!zeroRow)
            negativeDiagonal = true;
    }
    const size_t m = keep.size();
    std::vector<double> scale(n, 0.0);
    for (size_t i : keep)
        scale[i] = 1.0 / std::sqrt(h[i * n + i]);
    // For the definiteness test and eigen-analysis every parameter takes part: the
    // ones without positive curvature keep their unscaled row.
    auto scaled = [&](size_t i, size_t k) {
        const double si = scale[i] > 0 ? scale[i] : 1.0, sk = scale[k] > 0 ? scale[k] : 1.0;
        return si * h[i * n + k] * sk;
    };
    if (n <= kEigenLimit) {
        std::vector<double> a(n * n), values, vectors;
        for (size_t i = 0; i < n; i++)
            for (size_t k = 0; k < n; k++)
                a[i * n + k] = 0.5 * (scaled(i, k) + scaled(k, i));
        Jacobi(a, n, values, vectors);
        size_t lowest = 0;
        for (size_t i = 1; i < n; i++)
            if (values[i] < values[lowest])
                lowest = i;
        v.minCurvature = values[lowest];
        if (values[lowest] < 0.0) {
            j.descentDirection.resize(n);
            for (size_t i = 0; i < n; i++)
                j.descentDirection[i] = vectors[i * n + lowest] * (scale[i] > 0 ? scale[i] : 1.0);
        }
    }
    // Positive definite within the accuracy of the model: an analytic Hessian is taken
    // as it is, a difference or secant model may be off by a little in each direction.
    const double slack = in.hessianSource == "analytic" ? 1e-9 : 1e-5;
    std::vector<double> s(m * m);
    for (size_t a = 0; a < m; a++)
        for (size_t b = 0; b < m; b++)
            s[a * m + b] =
                0.5 * (scaled(keep[a], keep[b]) + scaled(keep[b], keep[a])) + (a == b ? slack : 0.0);
    const bool factored = Cholesky(s, m);
    const bool negative = !std::isnan(v.minCurvature) && v.minCurvature < -slack;
    v.positiveDefinite = factored && !negativeDiagonal && !negative;
    if (!v.positiveDefinite) {
        // Negative curvature where the gradient is still large is a run that stopped short,
        // not a saddle: the relative gradient says which.
        double relative = 0.0;
        for (size_t i = 0; i < n; i++) {
            const double t = in.typicalX && i < in.typicalX->size() ? (*in.typicalX)[i] : 1.0;
            const double term =
                std::fabs(g[i]) * std::max(std::fabs(x[i]), t) / std::max(std::fabs(in.f), in.typicalF);
            if (term > relative || std::isnan(term))
                relative = term;
        }
        if (!(relative <= in.tolerance)) {
            j.outcome = (in.code == 0 || in.code == 4) ? Outcome::IterationLimit : Outcome::NotConverged;
            j.descentDirection.clear();
            return j;
        }
        j.outcome = Outcome::NotAMinimum;
        if (v.minCurvature >= 0.0 || std::isnan(v.minCurvature))
            j.descentDirection.clear();
        return j;
    }
    j.descentDirection.clear();
    // 1/2 |L^-1 D g|^2.
    std::vector<double> y(m);
    double sum = 0.0;
    for (size_t a = 0; a < m; a++) {
        double t = scale[keep[a]] * g[keep[a]];
        for (size_t b = 0; b < a; b++)
            t -= s[a * m + b] * y[b];
        y[a] = t / s[a * m + a];
        sum += y[a] * y[a];
    }
    v.decrease = 0.5 * sum;
    // The step itself: L^T z = y, s = -D z.
    std::vector<double> z(m);
    for (size_t a = m; a-- > 0;) {
        double t = y[a];
        for (size_t b = a + 1; b < m; b++)
            t -= s[b * m + a] * z[b];
        z[a] = t / s[a * m + a];
    }
    v.newtonStep.assign(n, 0.0);
    for (size_t a = 0; a < m; a++)
        v.newtonStep[keep[a]] = -scale[keep[a]] * z[a];
    decide(v.decrease <= v.allowed);
    return j;
}

std::vector<std::string> Advise(const MinimizeResult& r, const MinimizeOptions& o, bool hasGradient) {
    std::vector<std::string> w;
    auto name = [&o](const char* field) { return OptionName(field, o.naming); };
    const MethodInfo* method = FindMethod(r.method);
    const bool typicalSizes = method && method->usesTypicalSizes;
    const Verdict& v = r.verdict;
    const std::string where = r.iterations == 0 ? "stopped at the start point"
                                                : "stopped after " + std::to_string(r.iterations) +
                                                      (r.iterations == 1 ? " iteration" : " iterations");
    const std::string falls = "a Newton step from the end point would still lower f by " + Short(v.decrease) +
                              ", more than the " + Short(v.allowed) +
                              " the success tolerance allows (f = " + Short(r.f) + ", " + Short(r.initialF) +
                              " at the start)";
    // f that fell by orders of magnitude below where it started has no minimum in sight,
    // whatever the test at the end point says.
    const bool diverging = std::isfinite(r.f) && std::isfinite(r.initialF) &&
                           r.f < r.initialF - 1e6 * std::max(1.0, std::fabs(r.initialF));
    if (diverging && r.outcome != Outcome::Success) {
        w.push_back(
            "f fell from " + Short(r.initialF) + " to " + Short(r.f) +
            ": it falls without bound in the direction the run took and has no minimum there; no setting "
            "will help: check the objective, or start elsewhere");
    } else
        switch (r.outcome) {
        case Outcome::Success:
        case Outcome::Refused:
            break;
        case Outcome::NotFinite:
            if (std::isfinite(r.f))
                w.push_back(where + " at the edge of the region where f is defined: f = " + Short(r.f) +
                            " there, but not on both sides of it, so its gradient cannot be evaluated; the "
                            "minimum may "
                            "lie outside that region (no setting will help: keep x where f is defined)");
            else
                w.push_back("f is not finite at the end point (f = " + NumberText(r.f) +
                            "): the run left the region where the objective is defined; start elsewhere");
            break;
        case Outcome::CheckFailed:
            break; // the check's own sentence follows
        case Outcome::Stopped:
            w.push_back("the run was stopped by the iteration callback");
            break;
        case Outcome::NotUnique:
            break; // the fit names the parameters the data do not determine
        case Outcome::NotAMinimum:
            if (r.code == 5) {
                w.push_back(
                    "f falls without bound (f = " + Short(r.f) +
                    " after five maximum-length steps in a row): it "
                    "has no minimum in the direction the run took; no setting will help: start elsewhere, or "
                    "check the objective");
                break;
            }
            w.push_back(where +
                        " at a point that is not a minimum: the Hessian there has a negative eigenvalue" +
                        (std::isnan(v.minCurvature) ? std::string()
                                                    : " (scaled curvature " + Short(v.minCurvature) + ")") +
                        ", so it is a saddle point or f has no minimum nearby; no setting will help: start "
                        "elsewhere");
            break;
        case Outcome::IterationLimit:
            if (DriverUses(*FindOption("itnlim"), o.driver))
                w.push_back("the iteration limit ended the run before a minimum was confirmed (" + falls +
                            "); raise " + name("itnlim"));
            else
                w.push_back(
                    "the tool's runs ended on their iteration limit before a minimum was confirmed (" +
                    falls + "); run with the engine driver and a larger " + OptionName("itnlim", o.naming));
            break;
        case Outcome::NotConverged: {
            const double ratio = v.allowed > 0 && v.decrease > 0 ? std::sqrt(v.allowed / v.decrease) : 0.0;
            if (!v.curvatureUnresolved && v.test == "newton-decrease" && !std::isfinite(v.decrease)) {
                const double relative = RelativeGradient(r);
                w.push_back(where +
                            ": f still curves down there (the Hessian is not positive definite) and the "
                            "relative gradient " +
                            Short(relative) +
                            " is above the success tolerance: the run "
                            "stopped short; give a smaller " +
                            (typicalSizes ? name("gradientTolerance") + " (about " +
                                                Short(std::min(relative, v.tolerance) * 0.01) + ")"
                                          : name("cgTolerance")));
            } else if (v.curvatureUnresolved) {
                w.push_back(where +
                            ": the curvature of f at the end point is too small for differences to see "
                            "beside the rounding of |f| = " +
                            Short(std::fabs(r.f)) + ", so no minimum can be confirmed" +
                            (typicalSizes ? "; give " + name("typicalX") +
                                                " of the size of x near the minimum (it also "
                                                "sets the steps of the differences)"
                                          : std::string("; give an analytic gradient")));
            } else if (v.test == "relative-gradient") {
                w.push_back(where + ": the relative gradient " + Short(RelativeGradient(r)) +
                            " is above the success "
                            "tolerance " +
                            Short(v.tolerance) +
                            " (there are too many parameters to estimate a "
                            "Hessian at the end); give a smaller " +
                            name(typicalSizes ? "gradientTolerance" : "cgTolerance"));
            } else if (r.code == 1 && typicalSizes && !hasGradient && v.engineGradientNorm == 0.0) {
                // f = 0 (or a change of f of 0) makes the ratio 0 or infinite: the digits are
                // clamped to what an int holds, and NaN counts as none.
                const double ratio =
                    std::log10(std::fabs(r.f) / std::max(std::fabs(r.initialF - r.f), 1e-300));
                const double digits = std::isnan(ratio) ? 0.0 : std::clamp(ratio, -400.0, 400.0);
                // Two digits fewer than f's changes seem to need: the differences' step grows by
                // ten for each, so the change of f over it stands well clear of the rounding.
                const int now = o.numberOfDigits.value_or(15);
                int ndigit = std::min(15, 13 - static_cast<int>(std::ceil(digits)));
                if (ndigit >= now)
                    ndigit = now - 2;
                ndigit = std::max(1, ndigit);
                w.push_back(where +
                            ": the engine's finite-difference gradient is exactly zero at the end point (the "
                            "change of f over its step is below the rounding of |f| = " +
                            Short(std::fabs(r.f)) + "), but " + falls + "; give " + name("numberOfDigits") +
                            " " + std::to_string(ndigit) +
                            " (the digits of f that change near the minimum), or an analytic gradient");
            } else if (r.code == 1 && typicalSizes && LongestStep(r) > 10.0) {
                std::string sizes;
                for (size_t i = 0; i < v.newtonStep.size(); i++)
                    sizes += (i ? "," : "") + Short(std::max(std::fabs(v.newtonStep[i]),
                                                             i < r.typicalX.size() ? r.typicalX[i] : 1.0));
                w.push_back(where + ": the engine's relative gradient test passed, but " + falls +
                            "; the minimum looks " + "far away compared with the typical sizes of x: give " +
                            name("typicalX") +
                            " of the size of "
                            "the distance still to go (about " +
                            sizes + ")");
            } else if (r.code == 1 && typicalSizes) {
                const double suggest = RelativeGradient(r) * ratio * 0.1;
                w.push_back(where + ": the engine's relative gradient test passed, but " + falls +
                            "; give a smaller " + name("gradientTolerance") + " (about " + Short(suggest) +
                            ")");
            } else if (!typicalSizes && (r.code == 1 || r.code == 2)) {
                const double cg = o.cgTolerance.value_or(1e-10);
                w.push_back(where + ": the conjugate-gradient stopping test passed, but " + falls +
                            "; give a smaller " + name("cgTolerance") + " (about " +
                            Short(cg * ratio * ratio * 0.01) + ")");
            } else if (r.code == 2) {
                w.push_back(
                    where + ": successive steps became tiny, but " + falls +
                    (r.nonFiniteEvaluations > 0
                         ? "; f is not defined just beyond this point: keep x where f is defined"
                         : "; give a smaller " + name("stepTolerance") + ", or check that f is smooth here"));
            } else if (r.code == 3) {
                std::string advice;
                if (!hasGradient)
                    advice = "give an analytic gradient (the finite differences may be too coarse here)";
                else
                    advice = "no setting will make the engine go further; f may be too noisy or not smooth "
                             "here (" +
                             name("successTolerance") + " " +
                             Short(v.tolerance / std::max(ratio, 1e-300) * 1.01) +
                             " would accept this point)";
                w.push_back(where + ": no lower point could be found near the end point, but " + falls +
                            "; " + advice);
            } else if (r.code == 5) {
                w.push_back("five maximum-length steps in a row: f may have no minimum in this direction" +
                            std::string(typicalSizes
                                            ? ", or the maximum step is too small for the distance to the "
                                              "minimum: give a larger " +
                                                  name("maximumStep")
                                            : ""));
            } else {
                w.push_back(where + ": " + falls);
            }
            break;
        }
        }
    if (v.saddleEscapes > 0)
        w.push_back(
            "the run stopped at a saddle point " +
            (v.saddleEscapes == 1 ? std::string("once") : std::to_string(v.saddleEscapes) + " times") +
            " and went on along the direction of negative curvature");
    if (r.nonFiniteEvaluations > 0)
        w.push_back("f was not finite (NaN or infinite) at " + std::to_string(r.nonFiniteEvaluations) +
                    (r.nonFiniteEvaluations == 1 ? " trial point" : " trial points") +
                    ": the objective is undefined in part of the space the run explored");
    for (const DerivativeCheck* c : {&r.gradientCheck, &r.hessianCheck}) {
        if (!c->ran || c->passed)
            continue;
        const bool isGradient = c == &r.gradientCheck;
        const std::string entry =
            isGradient ? "component " + std::to_string(c->row)
                       : "entry (" + std::to_string(c->row) + ", " + std::to_string(c->column) + ")";
        w.push_back(std::string("the analytic ") + (isGradient ? "gradient" : "Hessian") +
                    " disagrees with finite differences at the start point: " + entry + " is " +
                    Short(c->analytic) + ", the estimate " + Short(c->estimate) + " (relative error " +
                    Short(c->relativeError) + " > " + Short(c->tolerance) + "); check its code");
    }
    return w;
}

} // namespace vrn
