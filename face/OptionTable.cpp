// The option table and what is derived from it: validation, refusals, help texts and
// the settings of a finished run.
#include "face/OptionTable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "minimize/UnconstrainedMinimization.h"
#include "threads/EvaluationPool.h"

namespace vrn {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
// The engine's own defaults (CVRNUnconstrainedMinimization::Default, machine epsilon 1.12e-16).
const double kEngineEpsilon = 1.12e-16;
const double kDefaultGradTol = std::pow(kEngineEpsilon, 1.0 / 3.0);
const double kDefaultStepTol = std::sqrt(kEngineEpsilon);

OptionValue Num(double v) {
    return OptionValue{true, v, {}};
}
template <class T> OptionValue Opt(const std::optional<T>& v) {
    return v ? Num(static_cast<double>(*v)) : OptionValue{};
}

// Field accessors, one pair per row.
#define VRN_OPTIONAL_FIELD(field, T)                                                                         \
    [](const MinimizeOptions& o) { return Opt(o.field); }, [](MinimizeOptions& o, const OptionValue& v) {    \
        if (v.set)                                                                                           \
            o.field = static_cast<T>(v.number);                                                              \
        else                                                                                                 \
            o.field.reset();                                                                                 \
    }

std::optional<double> UsedGradTol(const CVRNUnconstrainedMinimization& e) {
    return e.GetGradientTolerance();
}
std::optional<double> UsedStepTol(const CVRNUnconstrainedMinimization& e) {
    return e.GetStepTolerance();
}
std::optional<double> UsedMaxStep(const CVRNUnconstrainedMinimization& e) {
    return e.GetMaximumStep();
}
std::optional<double> UsedCGTol(const CVRNUnconstrainedMinimization& e) {
    return e.GetCGTolerance();
}

// Rows that stand alone so that a section can hold a copy (both hold the threads row).
const OptionRow kIterationLimitRow{"itnlim",
                                   "--itnlim",
                                   "maxiter",
                                   "Iteration limit",
                                   OptionType::Integer,
                                   0,
                                   1e9,
                                   true,
                                   true,
                                   10000,
                                   nullptr,
                                   OptionUse::AllMethods,
                                   kEngineDriver | kStepDriver,
                                   "iteration limit (the tool driver gives each of its runs 100000)",
                                   VRN_OPTIONAL_FIELD(itnlim, int),
                                   nullptr};

const OptionRow kTrustRadiusRow{"trustRadius",
                                "--trust-radius",
                                "trust_radius",
                                "Initial trust radius",
                                OptionType::Real,
                                0,
                                kInf,
                                false,
                                false,
                                kNaN,
                                "chosen by the method from the first Cauchy step",
                                OptionUse::TrustRadius,
                                kAllDrivers,
                                "initial trust radius",
                                VRN_OPTIONAL_FIELD(trustRadius, double),
                                nullptr};

const OptionRow kThreadsRow{
    "threads",
    "--threads",
    "threads",
    "Evaluation threads",
    OptionType::Integer,
    1,
    kNaN,
    true,
    true,
    1,
    nullptr,
    OptionUse::AllMethods,
    kAllDrivers,
    "threads that evaluate the points of one finite-difference estimate at the same time (same result as "
    "one)",
    [](const MinimizeOptions& o) { return o.threads != 1 ? Num(o.threads) : OptionValue{}; },
    [](MinimizeOptions& o, const OptionValue& v) { o.threads = v.set ? static_cast<int>(v.number) : 1; },
    nullptr};

const std::array<OptionRow, 19> kOptions{{
    {"method", "--method", "method", "Method", OptionType::Method, 1, 4, true, true, kDefaultMethod, nullptr,
     OptionUse::AllMethods, kAllDrivers,
     "1 line search, 2 double dogleg, 3 More-Hebden hook step, 4 Polak-Ribiere conjugate gradient (also by "
     "name: line-search, dogleg, hook, cg)",
     [](const MinimizeOptions& o) { return Num(o.method); },
     [](MinimizeOptions& o, const OptionValue& v) {
         o.method = v.set ? static_cast<int>(v.number) : kDefaultMethod;
     },
     nullptr},
    {"driver", "--driver", "driver", "Driver", OptionType::Driver, 0, 2, true, true, 0, nullptr,
     OptionUse::AllMethods, kAllDrivers,
     "engine (one run), tool (up to 10 runs, each restarting where the last ended) or step (step mode, one "
     "iteration per call; methods 1 to 3)",
     [](const MinimizeOptions& o) { return Num(static_cast<double>(o.driver)); },
     [](MinimizeOptions& o, const OptionValue& v) {
         o.driver = v.set ? static_cast<Driver>(static_cast<int>(v.number)) : Driver::Engine;
     },
     nullptr},
    {"gradient", "--gradient", "jac", "Gradient", OptionType::Derivative, 0, 0, true, true, kNaN,
     "analytic when one is given, else finite differences", OptionUse::AllMethods, kAllDrivers,
     "the gradient: analytic (given by the caller) or finite differences", nullptr, nullptr, nullptr},
    {"hessian", "--hessian", "hess", "Hessian", OptionType::Derivative, 0, 0, true, true, kNaN,
     "analytic when one is given; else finite differences with a gradient, secant updates without",
     OptionUse::Hessian, kAllDrivers,
     "the Hessian: analytic (given by the caller), finite differences, or secant updates (expensive)",
     nullptr, nullptr, nullptr},
    {"expensive", "--expensive", "secant", "Secant (BFGS) updates", OptionType::Flag, 0, 1, true, true, kNaN,
     "on when neither a gradient nor a Hessian is given", OptionUse::Hessian, kAllDrivers,
     "keep the Hessian by secant (BFGS) updates instead of evaluating it or its finite differences",
     [](const MinimizeOptions& o) { return Opt(o.expensive); },
     [](MinimizeOptions& o, const OptionValue& v) {
         if (v.set)
             o.expensive = v.number != 0.0;
         else
             o.expensive.reset();
     },
     nullptr},
    kIterationLimitRow,
    {"typicalF", "--typf", "typical_f", "Typical f", OptionType::Real, 0, kInf, false, false, 1, nullptr,
     OptionUse::AllMethods, kEngineDriver,
     "typical magnitude of f near the minimum (the tool and step drivers use 1)",
     VRN_OPTIONAL_FIELD(typicalF, double), nullptr},
    {"typicalX", "--typsiz", "typical_x", "Typical sizes of x", OptionType::RealList, 0, kInf, false, false,
     kNaN, "max(|x0_i|, 1)", OptionUse::TypicalSizes, kAllDrivers,
     "typical size of each parameter near the minimum, one per parameter",
     [](const MinimizeOptions& o) {
         return OptionValue{!o.typicalX.empty(), 0.0, o.typicalX};
     },
     [](MinimizeOptions& o, const OptionValue& v) { o.typicalX = v.set ? v.list : std::vector<double>{}; },
     nullptr},
    {"gradientTolerance", "--gradtol", "gtol", "Gradient tolerance", OptionType::Real, 0, 1, false, false,
     kDefaultGradTol, nullptr, OptionUse::TypicalSizes, kAllDrivers,
     "the engine's relative gradient test: it stops when max_i |g_i| max(|x_i|, typsiz_i) / max(|f|, typf) "
     "is "
     "below this",
     VRN_OPTIONAL_FIELD(gradientTolerance, double), &UsedGradTol},
    {"stepTolerance", "--steptol", "xtol", "Step tolerance", OptionType::Real, 0, 1, false, false,
     kDefaultStepTol, nullptr, OptionUse::TypicalSizes, kAllDrivers, "the engine's relative step test",
     VRN_OPTIONAL_FIELD(stepTolerance, double), &UsedStepTol},
    {"maximumStep", "--maxstep", "max_step", "Maximum step", OptionType::Real, 0, kInf, false, false, kNaN,
     "max(1000 ||x0 / typsiz||, 1000)", OptionUse::TypicalSizes, kAllDrivers, "maximum scaled step length",
     VRN_OPTIONAL_FIELD(maximumStep, double), &UsedMaxStep},
    kTrustRadiusRow,
    {"numberOfDigits", "--ndigit", "ndigits", "Good digits in f", OptionType::Integer, 1, 15, true, true, 15,
     nullptr, OptionUse::TypicalSizes, kAllDrivers, "number of good digits in the objective value",
     VRN_OPTIONAL_FIELD(numberOfDigits, int), nullptr},
    {"messageBits", "--msg", "message_bits", "Status-log bits", OptionType::Integer, 0, 31, true, true, 0,
     nullptr, OptionUse::TypicalSizes, kAllDrivers,
     "status-log control bits: 2 accept the gradient unchecked, 4 the Hessian, 8 no settings listing and "
     "stopping messages, 16 an iterate line after every iteration",
     VRN_OPTIONAL_FIELD(messageBits, int), nullptr},
    {"cgTolerance", "--cgtol", "cg_tol", "CG function tolerance", OptionType::Real, 0, 1, false, false, 1e-10,
     nullptr, OptionUse::NoHessian, kAllDrivers, "function tolerance of the conjugate-gradient method",
     VRN_OPTIONAL_FIELD(cgTolerance, double), &UsedCGTol},
    {"successTolerance", "--success-tol", "success_tol", "Success tolerance", OptionType::Real, 0, 1, false,
     false, 10 * kDefaultGradTol, nullptr, OptionUse::AllMethods, kAllDrivers,
     "tolerance t of the success verdict: a Newton step from the end point may still lower f by at most "
     "t^2 max(min(|f|, |f0 - f|), typf), f0 the value at the start (ten times the engine's default gradient "
     "tolerance, so that a run its gradient test stopped near a minimum passes)",
     VRN_OPTIONAL_FIELD(successTolerance, double), nullptr},
    {"checkGradient", "--check-gradient", "check_gradient", "Gradient check", OptionType::Flag, 0, 1, true,
     true, 0, nullptr, OptionUse::Hessian, kAllDrivers,
     "compare the analytic gradient with finite differences at the start (the tool driver: first run only)",
     [](const MinimizeOptions& o) { return o.checkGradient ? Num(1) : OptionValue{}; },
     [](MinimizeOptions& o, const OptionValue& v) { o.checkGradient = v.set && v.number != 0.0; }, nullptr},
    {"checkHessian", "--check-hessian", "check_hessian", "Hessian check", OptionType::Flag, 0, 1, true, true,
     0, nullptr, OptionUse::Hessian, kAllDrivers,
     "compare the analytic Hessian with finite differences at the start (the tool driver: first run only)",
     [](const MinimizeOptions& o) { return o.checkHessian ? Num(1) : OptionValue{}; },
     [](MinimizeOptions& o, const OptionValue& v) { o.checkHessian = v.set && v.number != 0.0; }, nullptr},
    kThreadsRow,
}};

// The rows of a least-squares fit (vrn::LeastSquares); the method row and the success
// tolerance have defaults of their own there.
constexpr int kFitDefaultMethod = 3;
const std::array<OptionRow, 15> kFitOptions{{
    {"method", "--method", "method", "Method", OptionType::Method, 2, 3, true, true, kFitDefaultMethod,
     nullptr, OptionUse::AllMethods, kEngineDriver,
     "3 hook step (a Levenberg-Marquardt step on the Gauss-Newton model) or 2 double dogleg (Powell's dogleg "
     "on it); also by name: hook, dogleg",
     [](const MinimizeOptions& o) { return Num(o.method); },
     [](MinimizeOptions& o, const OptionValue& v) {
         o.method = v.set ? static_cast<int>(v.number) : kFitDefaultMethod;
     },
     nullptr},
    {"differences", "--jac", "jac", "Jacobian", OptionType::Differences, 2, 3, true, true, 2,
     "2-point when no Jacobian is given", OptionUse::AllMethods, kEngineDriver,
     "the Jacobian when none is given: 2-point (forward) or 3-point (central) differences, step h max(|x_j|, "
     "|x0_j|) (|x0_j| = 0 counts as 1), h = sqrt(eps) or eps^(1/3)",
     [](const MinimizeOptions& o) {
         return o.differences ? Num(*o.differences == DifferenceScheme::ThreePoint ? 3 : 2) : OptionValue{};
     },
     [](MinimizeOptions& o, const OptionValue& v) {
         if (v.set)
             o.differences = v.number == 3 ? DifferenceScheme::ThreePoint : DifferenceScheme::TwoPoint;
         else
             o.differences.reset();
     },
     nullptr},
    {"ftol", "--ftol", "ftol", "Cost tolerance (ftol)", OptionType::Real, 0, 1, true, false, 1e-8, nullptr,
     OptionUse::AllMethods, kEngineDriver,
     "stop when the actual and the predicted relative reductions of the cost are at most this (values below "
     "machine epsilon count as it)",
     VRN_OPTIONAL_FIELD(ftol, double), nullptr},
    {"xtol", "--xtol", "xtol", "Step tolerance (xtol)", OptionType::Real, 0, 1, true, false, 1e-8, nullptr,
     OptionUse::AllMethods, kEngineDriver, "stop when the scaled step is at most this times the scaled x",
     VRN_OPTIONAL_FIELD(xtol, double), nullptr},
    {"gtol", "--gtol", "gtol", "Gradient tolerance (gtol)", OptionType::Real, 0, 1, true, false, 1e-8,
     nullptr, OptionUse::AllMethods, kEngineDriver,
     "stop when the largest cosine between the residuals and a column of the Jacobian is at most this",
     VRN_OPTIONAL_FIELD(gtol, double), nullptr},
    {"maximumEvaluations", "--max-nfev", "max_nfev", "Residual evaluation limit", OptionType::Integer, 1, 1e9,
     true, true, kNaN, "100 (n + 1)", OptionUse::AllMethods, kEngineDriver,
     "limit on the residual evaluations outside difference Jacobians of each fit; the fit stops at the end "
     "of the iteration that reaches it",
     VRN_OPTIONAL_FIELD(maximumEvaluations, long), nullptr},
    {"itnlim", "--itnlim", "maxiter", "Iteration limit", OptionType::Integer, 1, 1e9, true, true, 10000,
     nullptr, OptionUse::AllMethods, kEngineDriver,
     "limit on the iterations of all engine runs of a fit together", VRN_OPTIONAL_FIELD(itnlim, int),
     nullptr},
    {"loss", "--loss", "loss", "Loss", OptionType::Loss, 0, 4, true, true, 0, "linear", OptionUse::AllMethods,
     kEngineDriver,
     "the loss: linear, soft_l1, huber, cauchy or arctan (robust losses reweight the residuals)",
     [](const MinimizeOptions& o) { return o.loss ? Num(static_cast<int>(*o.loss)) : OptionValue{}; },
     [](MinimizeOptions& o, const OptionValue& v) {
         if (v.set)
             o.loss = static_cast<Loss>(static_cast<int>(v.number));
         else
             o.loss.reset();
     },
     nullptr},
    {"lossScale", "--f-scale", "f_scale", "Loss scale (f_scale)", OptionType::Real, 0, kInf, false, false, 1,
     nullptr, OptionUse::AllMethods, kEngineDriver, "residuals below this count as inliers of a robust loss",
     VRN_OPTIONAL_FIELD(lossScale, double), nullptr},
    {"xScale", "--x-scale", "x_scale", "Parameter scales (x_scale)", OptionType::RealList, 0, kInf, false,
     false, kNaN, "jac: the inverses of the Jacobian's largest column norms seen so far",
     OptionUse::AllMethods, kEngineDriver, "scale of each parameter, one per parameter",
     [](const MinimizeOptions& o) {
         return OptionValue{!o.xScale.empty(), 0.0, o.xScale};
     },
     [](MinimizeOptions& o, const OptionValue& v) { o.xScale = v.set ? v.list : std::vector<double>{}; },
     nullptr},
    {"trustRadius", "--trust-radius", "trust_radius", "Initial trust radius", OptionType::Real, 0, kInf,
     false, false, kNaN, "the scaled length of x0, ||D x0|| (the method's own choice when x0 is 0)",
     OptionUse::AllMethods, kEngineDriver, "initial trust radius, in the units of the scaled parameters D x",
     VRN_OPTIONAL_FIELD(trustRadius, double), nullptr},
    {"successTolerance", "--success-tol", "success_tol", "Success tolerance", OptionType::Real, 0, 1, false,
     false, kNaN, "ftol^(1/4), 0.01 with the default ftol", OptionUse::AllMethods, kEngineDriver,
     "tolerance t of the success verdict: the Gauss-Newton step from the end point may still lower the cost "
     "by at most t^2 max(cost, eps cost(x0))",
     VRN_OPTIONAL_FIELD(successTolerance, double), nullptr},
    {"fallbacks", "--fallbacks", "fallbacks", "Fallback fits", OptionType::OnOff, 0, 1, true, true, 1,
     nullptr, OptionUse::AllMethods, kEngineDriver,
     "when a fit fails, fit again from x0 with the other method, then with the hook step and typical sizes "
     "|x0|; the first success is the result",
     [](const MinimizeOptions& o) { return Opt(o.fallbacks); },
     [](MinimizeOptions& o, const OptionValue& v) {
         if (v.set)
             o.fallbacks = v.number != 0.0;
         else
             o.fallbacks.reset();
     },
     nullptr},
    {"absoluteSigma", "--absolute-sigma", "absolute_sigma", "Absolute sigma", OptionType::Flag, 0, 1, true,
     true, 0, nullptr, OptionUse::AllMethods, kEngineDriver,
     "the residuals are already divided by absolute standard deviations: the covariance is (J^T J)^-1, not "
     "scaled by the residual variance",
     [](const MinimizeOptions& o) { return o.absoluteSigma ? Num(1) : OptionValue{}; },
     [](MinimizeOptions& o, const OptionValue& v) { o.absoluteSigma = v.set && v.number != 0.0; }, nullptr},
    kThreadsRow,
}};

#undef VRN_OPTIONAL_FIELD

// The upper bound of a row; the thread row's depends on the machine.
double Upper(const OptionRow& s) {
    if (std::string_view(s.name) == "threads")
        return MaxEvaluationThreads();
    return s.upper;
}

std::string Got(const std::string& v) {
    return v.empty() ? "" : " (got " + v + ")";
}

const char* DriverName(Driver d) {
    switch (d) {
    case Driver::Engine:
        return "engine";
    case Driver::Tool:
        return "tool";
    case Driver::Step:
        return "step";
    }
    return "engine";
}

std::string UsersText(OptionUse use) {
    std::string s;
    for (const MethodInfo& m : Methods()) {
        OptionRow probe{};
        probe.use = use;
        if (MethodUses(probe, m))
            s += (s.empty() ? "" : ", ") + std::to_string(m.number);
    }
    return s;
}

OptionRefusal Refuse(const OptionRow* row, OptionNaming naming, std::string constraint, std::string given) {
    OptionRefusal r;
    r.option = row ? row->name : "";
    r.constraint = std::move(constraint);
    r.given = std::move(given);
    r.text = (row ? OptionName(*row, naming) + " " : std::string()) + r.constraint + Got(r.given);
    return r;
}

bool InRange(const OptionRow& s, double v) {
    const double up = Upper(s);
    const bool low = s.lowerIncluded ? v >= s.lower : v > s.lower;
    const bool high = std::isinf(up) ? std::isfinite(v) : (s.upperIncluded ? v <= up : v < up);
    return low && high;
}

} // namespace

std::string NumberText(double v) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    char buf[64];
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

int MaxEvaluationThreads() {
    return VRNMaxEvaluationThreads();
}

std::span<const OptionRow> OptionTable(ProblemKind kind) {
    if (kind == ProblemKind::LeastSquares)
        return kFitOptions;
    return kOptions;
}

std::string OptionName(const OptionRow& row, OptionNaming naming) {
    switch (naming) {
    case OptionNaming::CommandLine:
        return row.cliSwitch;
    case OptionNaming::Python:
        return row.keyword;
    case OptionNaming::Cpp:
        break;
    }
    return row.name;
}

std::string OptionName(std::string_view cppName, OptionNaming naming, ProblemKind kind) {
    const OptionRow* s = FindOption(cppName, OptionNaming::Cpp, kind);
    return s ? OptionName(*s, naming) : std::string(cppName);
}

const OptionRow* FindOption(std::string_view name, OptionNaming naming, ProblemKind kind) {
    for (const OptionRow& s : OptionTable(kind))
        if (OptionName(s, naming) == name)
            return &s;
    return nullptr;
}

bool MethodUses(const OptionRow& row, const MethodInfo& m) {
    switch (row.use) {
    case OptionUse::AllMethods:
        return true;
    case OptionUse::TypicalSizes:
        return m.usesTypicalSizes;
    case OptionUse::TrustRadius:
        return m.usesTrustRadius;
    case OptionUse::Hessian:
        return m.usesHessian;
    case OptionUse::NoHessian:
        return !m.usesHessian;
    }
    return true;
}

bool DriverUses(const OptionRow& row, Driver driver) {
    return (row.drivers & (1u << static_cast<unsigned>(driver))) != 0;
}

std::string DefaultText(const OptionRow& s) {
    if (s.defaultText)
        return s.defaultText;
    switch (s.type) {
    case OptionType::Method:
        return std::to_string(static_cast<int>(s.byDefault)) + " (" +
               MethodName(static_cast<int>(s.byDefault)) + ")";
    case OptionType::Driver:
        return "engine";
    case OptionType::Flag:
    case OptionType::OnOff:
        return s.byDefault != 0.0 ? "on" : "off";
    default:
        return NumberText(s.byDefault);
    }
}

std::string RangeText(const OptionRow& s) {
    const double up = Upper(s);
    if (s.type == OptionType::Integer) {
        if (std::isinf(up))
            return NumberText(s.lower) + " or more";
        return NumberText(s.lower) + " to " + NumberText(up);
    }
    if (s.type == OptionType::Real || s.type == OptionType::RealList) {
        const std::string low =
            std::string(s.lowerIncluded ? "at least " : "greater than ") + NumberText(s.lower);
        if (std::isinf(up))
            return "finite and " + low;
        return low + " and " + (s.upperIncluded ? "at most " : "less than ") + NumberText(up);
    }
    return "";
}

std::optional<OptionRefusal> SetOptionFromText(MinimizeOptions& options, const OptionRow& row,
                                               const std::string& text, OptionNaming naming) {
    auto number = [](std::string_view t, double& v) {
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
            t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
            t.remove_suffix(1);
        if (!t.empty() && t.front() == '+')
            t.remove_prefix(1);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(v);
    };
    const std::string shown = text.size() > 60 ? text.substr(0, 60) + "..." : text;
    OptionValue v;
    v.set = true;
    switch (row.type) {
    case OptionType::Method: {
        const MethodInfo* m = FindMethod(text);
        if (!m) {
            // The methods of the row's range (a fit takes 2 and 3 only), by number and by name.
            std::vector<const MethodInfo*> allowed;
            for (const MethodInfo& method : Methods())
                if (method.number >= row.lower && method.number <= row.upper)
                    allowed.push_back(&method);
            std::string numbers, keys;
            for (size_t i = 0; i < allowed.size(); i++) {
                numbers += (i == 0                    ? ""
                            : i + 1 == allowed.size() ? " or "
                                                      : ", ") +
                           std::to_string(allowed[i]->number);
                keys += (i == 0 ? "'" : ", '") + std::string(allowed[i]->key) + "'";
            }
            return Refuse(&row, naming, "must be " + numbers + " (or " + keys + ")", "'" + shown + "'");
        }
        v.number = m->number;
        break;
    }
    case OptionType::Driver: {
        int d = -1;
        for (int i = 0; i < 3; i++)
            if (text == DriverName(static_cast<Driver>(i)))
                d = i;
        if (d < 0)
            return Refuse(&row, naming, "must be engine, tool or step", "'" + shown + "'");
        v.number = d;
        break;
    }
    case OptionType::Real:
        if (!number(text, v.number))
            return Refuse(&row, naming, "must be a number", "'" + shown + "'");
        break;
    case OptionType::Integer:
        if (!number(text, v.number) || v.number != std::floor(v.number) || std::fabs(v.number) > 2e9)
            return Refuse(&row, naming, "must be a whole number", "'" + shown + "'");
        break;
    case OptionType::Flag:
        v.number = 1;
        break;
    case OptionType::OnOff:
        if (text == "on" || text == "1" || text == "true" || text == "yes")
            v.number = 1;
        else if (text == "off" || text == "0" || text == "false" || text == "no")
            v.number = 0;
        else
            return Refuse(&row, naming, "must be on or off", "'" + shown + "'");
        break;
    case OptionType::Loss: {
        const std::optional<Loss> loss = LossFromName(text);
        if (!loss)
            return Refuse(&row, naming, "must be linear, soft_l1, huber, cauchy or arctan",
                          "'" + shown + "'");
        v.number = static_cast<int>(*loss);
        break;
    }
    case OptionType::Differences:
        if (text != "2-point" && text != "3-point")
            return Refuse(&row, naming, "must be 2-point or 3-point", "'" + shown + "'");
        v.number = text == "3-point" ? 3 : 2;
        break;
    case OptionType::RealList: {
        size_t start = 0;
        while (true) {
            const size_t comma = text.find(',', start);
            double x = 0;
            const std::string piece = text.substr(start, comma == std::string::npos ? comma : comma - start);
            if (!number(piece, x))
                return Refuse(&row, naming, "must be a comma-separated list of numbers", "'" + shown + "'");
            v.list.push_back(x);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        break;
    }
    case OptionType::Derivative:
        return Refuse(&row, naming, "cannot be set as a value", "");
    }
    if (row.put)
        row.put(options, v);
    return std::nullopt;
}

std::optional<OptionRefusal> CheckOptions(const MinimizeOptions& o, const RunShape& shape,
                                          OptionNaming naming) {
    auto name = [naming](const char* field) { return OptionName(field, naming); };
    if (shape.n == 0)
        return Refuse(nullptr, naming, "The start point has no parameters", "");
    const bool fit = shape.kind == ProblemKind::LeastSquares;
    const std::span<const OptionRow> rows = OptionTable(shape.kind);
    const MethodInfo* method = FindMethod(o.method);
    const OptionRow& methodRow = *FindOption("method", OptionNaming::Cpp, shape.kind);
    if (!method || !InRange(methodRow, o.method))
        return Refuse(&methodRow, naming,
                      fit ? std::string("must be 3 (hook) or 2 (dogleg)")
                          : "must be 1, 2, 3 or 4 (or " + MethodKeys() + ")",
                      NumberText(o.method));
    // Options of the other kind of request.
    const std::span<const OptionRow> others =
        OptionTable(fit ? ProblemKind::Minimize : ProblemKind::LeastSquares);
    for (const OptionRow& s : others) {
        if (FindOption(s.name, OptionNaming::Cpp, shape.kind) || !s.get || s.type == OptionType::Driver)
            continue;
        const OptionValue v = s.get(o);
        if (v.set && !(s.type == OptionType::Flag && v.number == 0.0))
            return Refuse(&s, naming,
                          fit ? "is not used by least-squares fits" : "is used by least-squares fits only",
                          "");
    }
    if (fit && o.driver != Driver::Engine)
        return Refuse(FindOption("driver"), naming, "must be engine for a least-squares fit", "");
    if (o.driver == Driver::Step && !method->hasStepMode)
        return Refuse(&methodRow, naming,
                      "must have a step mode for the step driver (methods 1 to 3; the " +
                          std::string(method->title) + " has none)",
                      NumberText(o.method));

    // Every value in its range.
    for (const OptionRow& s : rows) {
        if (!s.get || s.type == OptionType::Method || s.type == OptionType::Driver ||
            s.type == OptionType::Flag)
            continue;
        const OptionValue v = s.get(o);
        if (!v.set)
            continue;
        if (s.type == OptionType::RealList) {
            if (v.list.size() != shape.n)
                return Refuse(&s, naming,
                              "must have one entry per parameter (" + std::to_string(shape.n) + ")",
                              std::to_string(v.list.size()) + " entries");
            for (double x : v.list)
                if (!InRange(s, x))
                    return Refuse(&s, naming, "must hold numbers " + RangeText(s), NumberText(x));
            continue;
        }
        if (!InRange(s, v.number)) {
            std::string rule = "must be " + RangeText(s);
            if (std::string_view(s.name) == "threads")
                rule += " (4 per hardware thread, never more than 256)";
            if (std::string_view(s.name) == "messageBits")
                rule += " (a sum of the bits 1, 2, 4, 8 and 16)";
            return Refuse(&s, naming, rule, NumberText(v.number));
        }
    }

    // Only options the method and the driver use.
    for (const OptionRow& s : rows) {
        bool given = false;
        if (std::string_view(s.name) == "hessian")
            given = shape.hessian;
        else if (s.get) {
            const OptionValue v = s.get(o);
            // A flag set to off asks for nothing a method could fail to use.
            given = v.set && !(s.type == OptionType::Flag && v.number == 0.0);
        }
        if (!given || s.type == OptionType::Method || s.type == OptionType::Driver)
            continue;
        if (!MethodUses(s, *method))
            return Refuse(&s, naming,
                          "is not used by method " + std::to_string(method->number) + " (" + method->title +
                              "): " + (UsersText(s.use).size() == 1 ? "method " : "methods ") +
                              UsersText(s.use) + " only",
                          "");
        if (!DriverUses(s, o.driver))
            return Refuse(&s, naming, std::string("is not used with the ") + DriverName(o.driver) + " driver",
                          "");
    }

    // Combinations.
    const bool secant = o.expensive.value_or(false);
    if (shape.hessian && secant)
        return Refuse(FindOption("hessian"), naming,
                      "is not used with " + name("expensive") + " (the Hessian is kept by secant updates)",
                      "");
    if (o.checkGradient && !shape.gradient)
        return Refuse(FindOption("checkGradient"), naming, "needs an analytic gradient", "");
    if (o.checkHessian && (!shape.hessian || secant))
        return Refuse(FindOption("checkHessian"), naming,
                      "needs an analytic Hessian and no " + name("expensive"), "");
    if (o.messageBits && (*o.messageBits / 2) % 2 == 1 && !shape.gradient)
        return Refuse(FindOption("messageBits"), naming,
                      "bit 2 (accept the gradient unchecked) needs an analytic gradient", "");
    if (o.messageBits && (*o.messageBits / 4) % 2 == 1 && !shape.hessian)
        return Refuse(FindOption("messageBits"), naming,
                      "bit 4 (accept the Hessian unchecked) needs an analytic Hessian", "");
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> UsedSettings(const MinimizeOptions& o,
                                                              const CVRNUnconstrainedMinimization& engine) {
    std::vector<std::pair<std::string, std::string>> out;
    const MethodInfo* method = FindMethod(o.method);
    if (!method)
        return out;
    for (const OptionRow& s : kOptions) {
        if (!MethodUses(s, *method) || !DriverUses(s, o.driver) || !s.get)
            continue;
        const OptionValue v = s.get(o);
        std::string text;
        if (s.type == OptionType::Method)
            text = std::to_string(method->number) + " (" + method->title + ")";
        else if (s.type == OptionType::Driver)
            text = o.driver == Driver::Engine ? "engine, one run"
                   : o.driver == Driver::Tool ? "tool, up to 10 runs with restarts"
                                              : "step mode";
        else if (s.type == OptionType::Flag)
            text = v.set && v.number != 0.0 ? "on" : "off";
        else if (s.type == OptionType::RealList) {
            const std::vector<double>& list = v.set ? v.list : engine.GetTypicalX();
            for (double x : list)
                text += (text.empty() ? "" : ", ") + NumberText(x);
        } else if (s.used) {
            const std::optional<double> u = s.used(engine);
            text = u ? NumberText(*u) : DefaultText(s);
        } else if (v.set) {
            text = NumberText(v.number);
        } else if (!std::isnan(s.byDefault)) {
            text = NumberText(s.byDefault);
        } else {
            text = DefaultText(s);
        }
        if (text.empty())
            continue;
        out.emplace_back(s.label, text);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> FitSettings(const MinimizeOptions& o) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const OptionRow& s : kFitOptions) {
        if (!s.get)
            continue;
        const OptionValue v = s.get(o);
        std::string text;
        if (s.type == OptionType::Method)
            text = std::to_string(o.method) + " (" + MethodName(o.method) + ")";
        else if (s.type == OptionType::Flag || s.type == OptionType::OnOff)
            text = (v.set ? v.number != 0.0 : s.byDefault != 0.0) ? "on" : "off";
        else if (s.type == OptionType::Loss)
            text = v.set ? LossName(static_cast<Loss>(static_cast<int>(v.number))) : "linear";
        else if (s.type == OptionType::Differences)
            text = !v.set ? DefaultText(s) : v.number == 3 ? "3-point" : "2-point";
        else if (s.type == OptionType::RealList) {
            for (double x : v.list)
                text += (text.empty() ? "" : ", ") + NumberText(x);
            if (text.empty())
                text = DefaultText(s);
        } else if (v.set)
            text = NumberText(v.number);
        else
            text = DefaultText(s);
        out.emplace_back(s.label, text);
    }
    return out;
}

std::string HelpText(const OptionRow& s) {
    std::string h = s.description;
    h[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(h[0])));
    const std::string range = RangeText(s);
    if (!range.empty())
        h += "; " + range;
    if (s.use != OptionUse::AllMethods)
        h += (UsersText(s.use).size() == 1 ? "; method " : "; methods ") + UsersText(s.use);
    // A fit has no drivers to choose from: the rows of its section (each section keeps
    // its own copies) say nothing of them.
    const std::less<const OptionRow*> before;
    const bool fitRow =
        !before(&s, kFitOptions.data()) && before(&s, kFitOptions.data() + kFitOptions.size());
    if (s.drivers != kAllDrivers && !fitRow) {
        std::string d;
        for (int i = 0; i < 3; i++)
            if (s.drivers & (1u << i))
                d += (d.empty() ? "" : " and ") + std::string(DriverName(static_cast<Driver>(i)));
        h += "; " + d + " driver" + (d.find(" and ") != std::string::npos ? "s" : "") + " only";
    }
    return h + ". Default: " + DefaultText(s) + ".";
}

} // namespace vrn
