// The text forms of vrn::MinimizeResult: the one-screen summary and the full report.
#include <cmath>
#include <cstdio>
#include <string>

#include "face/MinimizeResult.h"
#include "face/OptionTable.h"

namespace vrn {

namespace {

std::string Short(double v) {
    if (!std::isfinite(v))
        return NumberText(v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

std::string PointText(const std::vector<double>& x, const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < x.size(); i++) {
        if (i)
            s += ", ";
        if (i < names.size())
            s += names[i] + " = ";
        s += NumberText(x[i]);
    }
    return names.empty() ? "(" + s + ")" : s;
}

const char* StoppingTest(int code) {
    switch (code) {
    case 0:
        return "no stopping test (iteration limit of a run)";
    case 1:
        return "the relative gradient test";
    case 2:
        return "the relative step test";
    case 3:
        return "no lower point found";
    case 4:
        return "the iteration limit";
    case 5:
        return "five maximum-length steps";
    case 7:
        return "the caller";
    default:
        return "the engine";
    }
}

std::string VerdictText(const MinimizeResult& r) {
    const Verdict& v = r.verdict;
    std::string s = r.success ? "yes" : std::string("no (") + OutcomeName(r.outcome) + ")";
    if (r.outcome == Outcome::NotUnique)
        s += ": the Jacobian at the end point is rank deficient: the data do not determine every parameter";
    else if (v.test == "gauss-newton-decrease" && std::isfinite(v.decrease))
        s += ": the Gauss-Newton step would lower the cost by " + Short(v.decrease) +
             (v.decrease <= v.allowed ? " <= " : " > ") + Short(v.allowed) + " allowed";
    else if (v.test == "newton-decrease" && std::isfinite(v.decrease))
        s += ": a Newton step would lower f by " + Short(v.decrease) +
             (v.decrease <= v.allowed ? " <= " : " > ") + Short(v.allowed) + " allowed";
    else if (r.outcome == Outcome::NotFinite)
        s += std::isfinite(r.f) ? ": the gradient cannot be evaluated at the end point"
                                : ": f is not finite at the end point";
    else if (v.curvatureUnresolved)
        s += ": the curvature of f at the end point is below what differences of f can resolve";
    else if (v.test == "newton-decrease" && !v.positiveDefinite && v.hessianSource != "none")
        s += ": the Hessian at the end point is not positive definite";
    else if (v.test == "relative-gradient")
        s += ": judged by the relative gradient (no Hessian at the end point)";
    const long calls = v.evaluations.f + v.evaluations.gradient + v.evaluations.hessian;
    if (!v.hessianSource.empty() && v.hessianSource != "none" && r.outcome != Outcome::NotFinite &&
        !r.IsFit())
        s += " (" + v.hessianSource + " Hessian" +
             (calls > 0 ? ", " + std::to_string(calls) + (calls == 1 ? " evaluation" : " evaluations") +
                              " at the end point"
                        : std::string()) +
             ")";
    return s;
}

} // namespace

std::string MinimizeResult::Summary() const {
    std::string s;
    auto line = [&s](const char* label, const std::string& text) { s += std::string(label) + text + "\n"; };
    if (outcome == Outcome::Refused && iterations == 0 && x.empty()) {
        line("Refused:      ", message);
        return s;
    }
    line("Success:      ", VerdictText(*this));
    line("Method:       ", std::to_string(method) + " " + MethodName(method) + ", " + derivatives);
    if (IsFit()) {
        line("Stopped by:   ",
             fit.statusName + " (status " + std::to_string(fit.status) + ": \"" + message + "\")");
        line("Iterations:   ", std::to_string(iterations) +
                                   (runs > 1 ? ", " + std::to_string(runs) + " engine runs" : "") +
                                   (fit.attempts > 1 ? ", " + std::to_string(fit.attempts) + " fits" : ""));
        line("Evaluations:  ",
             "residual " + std::to_string(fit.residualEvaluations) + ", Jacobian " +
                 std::to_string(fit.jacobianEvaluations) +
                 (fit.differenceEvaluations > 0
                      ? " (+" + std::to_string(fit.differenceEvaluations) + " residual calls for differences)"
                      : std::string()));
        line("Cost:         ", NumberText(initialF) + " -> " + NumberText(f) +
                                   "  (m = " + std::to_string(fit.m) +
                                   " residuals, n = " + std::to_string(x.size()) + " parameters)");
        const Uncertainty& u = fit.uncertainty;
        if (u.computed && u.dof > 0 && !u.absoluteSigma)
            line("Residual sd:  ",
                 Short(std::sqrt(u.residualVariance)) + "  (dof " + std::to_string(u.dof) + ")");
        for (size_t j = 0; j < x.size(); j++) {
            const std::string name = j < names.size() ? names[j] : "x[" + std::to_string(j) + "]";
            const double se = j < u.standardErrors.size() ? u.standardErrors[j] : std::nan("");
            char row[200];
            std::snprintf(row, sizeof row, "  %-12s %22.15g  +- %.4g\n", name.c_str(), x[j], se);
            s += row;
        }
        char t[64];
        std::snprintf(t, sizeof t, "%.3g s", timeSeconds);
        line("Time:         ", t);
        for (const std::string& w : warnings)
            line("Warning:      ", w);
        return s;
    }
    line("Stopped by:   ",
         std::string(StoppingTest(code)) + " (code " + std::to_string(code) + ": \"" + message + "\")");
    line("Iterations:   ", std::to_string(iterations));
    if (runs > 1)
        line("Runs:         ", std::to_string(runs));
    line("Evaluations:  ", "f " + std::to_string(evaluations.f) + ", gradient " +
                               std::to_string(evaluations.gradient) + ", hessian " +
                               std::to_string(evaluations.hessian));
    line("f:            ", NumberText(initialF) + " -> " + NumberText(f));
    line("x:            ", PointText(x, names));
    line("|g|inf:       ", gradient.empty() ? std::string("not known") : Short(gradientNorm));
    char t[64];
    std::snprintf(t, sizeof t, "%.3g s", timeSeconds);
    line("Time:         ", t);
    for (const DerivativeCheck* c : {&gradientCheck, &hessianCheck}) {
        if (!c->ran)
            continue;
        s += std::string(c == &gradientCheck ? "Gradient check: " : "Hessian check:  ") +
             (c->passed ? "passed" : "FAILED") + ", worst " +
             (c->column < 0 ? std::to_string(c->row)
                            : std::to_string(c->row) + "," + std::to_string(c->column)) +
             ": analytic " + Short(c->analytic) + ", estimate " + Short(c->estimate) + ", relative error " +
             Short(c->relativeError) + " (tolerance " + Short(c->tolerance) + ")\n";
    }
    for (const std::string& w : warnings)
        line("Warning:      ", w);
    return s;
}

std::string MinimizeResult::FullReport() const {
    std::string s = Summary();
    if (!gradient.empty())
        s += "g:            " + PointText(gradient, {}) + "\n";
    if (!iterationRecords.empty()) {
        s += "\n";
        char row[200];
        std::snprintf(row, sizeof row, "%3s  %5s  %-22s  %-10s  %-10s  %-10s  %s\n", "run", "k", "f",
                      "|g|inf", "step", "radius", "f/g/H evaluations");
        s += row;
        for (const IterationRecord& r : iterationRecords) {
            std::snprintf(row, sizeof row, "%3d  %5d  %-22.15g  %-10.3e  %-10.3e  %-10.3e  %ld/%ld/%ld\n",
                          r.run, r.iteration, r.f, r.gradientNorm, r.stepLength, r.radius, r.fEvaluations,
                          r.gradientEvaluations, r.hessianEvaluations);
            s += row;
        }
        if (recordsDropped > 0) {
            s += '(';
            s += std::to_string(recordsDropped);
            s += " records between these were dropped to keep the record bounded)\n";
        }
    }
    return s;
}

} // namespace vrn
