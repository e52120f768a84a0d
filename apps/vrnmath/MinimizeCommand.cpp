// vrnmath minimize: a built-in problem or a typed formula, minimized through vrn::Minimize.
#include "apps/vrnmath/MinimizeCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/Formula.h"
#include "apps/vrnmath/Plots.h"
#include "problems/ReferenceProblems.h"
#include "tool/Minimize.h"
#include "tool/Report.h"

namespace vrnmath {

namespace {

// The built-in problems this program offers (all of golden::MakeTestProblem but the
// empty one, which exists to test the illegal-dimension path).
const std::vector<std::string>& ProblemNames() {
    static const std::vector<std::string> names = {"rosenbrock", "extrosenbrock", "powell",    "wood",
                                                   "beale",      "helical",       "quadratic", "onedim"};
    return names;
}

std::string JoinedNames() {
    std::string s;
    for (const std::string& n : ProblemNames())
        s += (s.empty() ? "" : ", ") + n;
    return s;
}

// Shortest text that reads back as the same double.
std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string Point(std::span<const double> x, const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < x.size(); i++) {
        if (i)
            s += ", ";
        if (!names.empty())
            s += names[i] + " = ";
        s += Number(x[i]);
    }
    return names.empty() ? "(" + s + ")" : s;
}

// A formula for concurrent evaluation: one compiled copy per thread, lent out for
// each evaluation (a compiled formula keeps its variables in itself).
class FormulaCopies {
public:
    FormulaCopies(const std::string& expression, const std::vector<std::string>& names,
                  const std::vector<double>& start, int copies) {
        for (int i = 0; i < copies; i++) {
            m_All.push_back(std::make_unique<Formula>(expression, names, start));
            m_Free.push_back(m_All.back().get());
        }
    }
    double operator()(std::span<const double> x) {
        Formula* copy = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            copy = m_Free.back();
            m_Free.pop_back();
        }
        struct Return {
            FormulaCopies& set;
            Formula* copy;
            ~Return() {
                std::lock_guard<std::mutex> lock(set.m_Lock);
                set.m_Free.push_back(copy);
            }
        } giveBack{*this, copy};
        return (*copy)(x);
    }

private:
    std::mutex m_Lock;
    std::vector<std::unique_ptr<Formula>> m_All;
    std::vector<Formula*> m_Free;
};

enum class Derivative { Analytic, Differences };

Derivative ParseDerivative(const std::string& text, const std::string& option, bool formula) {
    if (text.empty())
        return formula ? Derivative::Differences : Derivative::Analytic;
    if (text == "fd")
        return Derivative::Differences;
    if (text == "analytic") {
        if (formula)
            throw UsageError(option +
                             " analytic is not available for a formula (its derivatives are finite "
                             "differences); leave " +
                             option + " out or use fd");
        return Derivative::Analytic;
    }
    throw UsageError("unknown value '" + text + "' for " + option + ": use analytic or fd");
}

// One line of the progress table.
std::string ProgressRow(const vrn::IterationRecord& r) {
    char row[200];
    std::snprintf(row, sizeof row, "%6d  %-23.16g  %-10.3e  %-10.3e  %-10.3e  %ld/%ld/%ld\n", r.iteration,
                  r.f, r.gradientNorm, r.stepLength, r.radius, r.fEvaluations, r.gradientEvaluations,
                  r.hessianEvaluations);
    return row;
}

// The header line of a run's table.
std::string ProgressHeader(int run, int method, bool tool) {
    const char* radius = method == 1 ? "lambda" : (method == 4 ? "line t" : "radius");
    char row[200];
    std::snprintf(row, sizeof row, "%-6s  %-23s  %-10s  %-10s  %-10s  %s", "k", "f", "|g|inf", "step", radius,
                  "evaluations f/g/H");
    std::string s = row;
    if (tool)
        s = "run " + std::to_string(run) + ": " + s;
    return s + "\n";
}

nlohmann::ordered_json CheckJson(const vrn::DerivativeCheck& c) {
    nlohmann::ordered_json j;
    j["passed"] = c.passed;
    j["row"] = c.row;
    if (c.column >= 0)
        j["column"] = c.column;
    j["analytic"] = c.analytic;
    j["estimate"] = c.estimate;
    j["relative_error"] = c.relativeError;
    j["tolerance"] = c.tolerance;
    return j;
}

} // namespace

CLI::App* AddMinimizeCommand(CLI::App& app, MinimizeArguments& a) {
    CLI::App* cmd = app.add_subcommand(
        "minimize", "Minimize a built-in test problem or a formula and print the status log and the result.");
    cmd->option_defaults()->always_capture_default(false);

    cmd->add_option("--problem", a.problem,
                    "Built-in problem: " + JoinedNames() + ". Default: rosenbrock (when no --f is given).")
        ->type_name("NAME");
    cmd->add_option(
           "--f", a.formula,
           "Objective as a formula (muParser syntax, e.g. \"100*(y-x^2)^2+(1-x)^2\") over the variables "
           "named in --x0; its derivatives are finite differences. Default: none.")
        ->type_name("FORMULA")
        ->each([&a](const std::string&) { a.formulaGiven = true; });
    cmd->add_option("--x0", a.x0,
                    "Start point: values a,b,... for a built-in problem, name=value,... for --f "
                    "(e.g. x=-1.2,y=1). Default: the problem's own start point; required with --f.")
        ->type_name("LIST");
    cmd->add_option("--method", a.method,
                    "1 line search, 2 double dogleg, 3 More-Hebden hook step, 4 Polak-Ribiere conjugate "
                    "gradient. Default: 3.")
        ->type_name("N");
    cmd->add_option("--gradient", a.gradient,
                    "analytic or fd (finite differences; central differences for method 4). "
                    "Default: analytic for a built-in problem, fd for --f.")
        ->type_name("KIND");
    cmd->add_option(
           "--hessian", a.hessian,
           "analytic or fd (finite differences). Default: analytic for a built-in problem, fd for --f.")
        ->type_name("KIND");
    cmd->add_flag("--expensive", a.expensive,
                  "The objective is expensive: keep the Hessian by secant (BFGS) updates. Default: off.");
    cmd->add_flag(
        "--check-gradient", a.checkGradient,
        "Compare the analytic gradient with finite differences at the start (methods 1 to 3; with --tool "
        "in the first run only). Default: off.");
    cmd->add_flag(
        "--check-hessian", a.checkHessian,
        "Compare the analytic Hessian with finite differences at the start (methods 1 to 3, not with "
        "--expensive; with --tool in the first run only). Default: off.");
    cmd->add_option("--itnlim", a.itnlim,
                    "Iteration limit (not with --tool, whose runs have 100000 each). Default: 10000.")
        ->type_name("N");
    cmd->add_option("--typsiz", a.typsiz,
                    "Typical size of each parameter, a,b,... (one per parameter, each > 0). "
                    "Default: max(|x0|, 1).")
        ->type_name("LIST");
    cmd->add_option("--gradtol", a.gradtol,
                    "Relative gradient tolerance, 0 < X < 1; also the tolerance of the success verdict. "
                    "Default: 4.820284528350463e-06.")
        ->type_name("X");
    cmd->add_option("--steptol", a.steptol,
                    "Relative step tolerance, 0 < X < 1 (methods 1 to 3). Default: 1.0583005244258363e-08.")
        ->type_name("X");
    cmd->add_option(
           "--maxstep", a.maxstep,
           "Maximum scaled step length, > 0 (methods 1 to 3). Default: max(1000*||x0/typsiz||, 1000).")
        ->type_name("X");
    cmd->add_option(
           "--trust-radius", a.trustRadius,
           "Initial trust radius of methods 2 and 3, > 0. Default: chosen by the method from the first "
           "Cauchy step.")
        ->type_name("X");
    cmd->add_option(
           "--ndigit", a.ndigit,
           "Number of good digits in the objective value, 1 to 15 (methods 1 to 3). Default: 15 (from "
           "the machine epsilon).")
        ->type_name("N");
    cmd->add_option(
           "--cgtol", a.cgtol,
           "Function tolerance of the conjugate-gradient method (method 4), 0 < X < 1. Default: 1e-10.")
        ->type_name("X");
    cmd->add_option(
           "--msg", a.msg,
           "Status-log control bits: 8 no settings listing and stopping messages, 16 an iterate line "
           "after every iteration (with --log); 0 to 31, methods 1 to 3. Default: 0.")
        ->type_name("N");
    cmd->add_option(
           "--typf", a.typf,
           "Typical magnitude of the objective value near the minimum, > 0 (not with --tool or --step, "
           "which use 1). Default: 1.")
        ->type_name("X");
    cmd->add_option("--threads", a.threads,
                    "Threads that evaluate the points of finite-difference gradients and Hessians at the "
                    "same time; the result is the same as with one. Default: 1.")
        ->type_name("K");
    cmd->add_flag("--tool", a.tool,
                  "Run through the minimizer tool: up to 10 runs, each restarting where the last ended. "
                  "Default: off (one run).");
    cmd->add_flag("--step", a.step,
                  "Run in step mode (methods 1 to 3) and print each accepted point. Default: off.");
    cmd->add_flag("--json", a.json,
                  "Print only the result, as one JSON object (x, point, f, success, status, code, message, "
                  "warnings, gradient_norm, initial_f, iterations, runs, evaluations, time_s, checks). "
                  "Default: off.");
    cmd->add_flag("--quiet", a.quiet, "Print the summary only (no progress table or log). Default: off.");
    cmd->add_flag(
        "--log", a.log,
        "Print the engine's status log (settings, iteration rows, stopping messages) instead of the "
        "progress table. Default: off.");
    cmd->add_option("--plots", a.plots,
                    "Write the diagnostic pictures of the run into DIR (created if needed): residual.svg, "
                    "gradient.svg, parameters.svg, hessian.svg, hessian-map.svg and grid.csv. Default: none.")
        ->type_name("DIR");
    cmd->add_option("--report", a.report,
                    "Write a run report to FILE: one self-contained HTML page (summary, convergence, steps, "
                    "parameter traces, contour plot for two parameters, model Hessian, derivative checks, "
                    "settings, status log) that opens offline in any web browser. Default: none.")
        ->type_name("FILE");
    return cmd;
}

int RunMinimize(const MinimizeArguments& a, std::ostream& out) {
    // ---- Check and convert everything before evaluating anything ----
    const bool formula = a.formulaGiven;
    if (a.log && (a.quiet || a.json))
        throw UsageError("--log prints the status log: give it without --quiet and --json");
    if (formula && !a.problem.empty())
        throw UsageError("give either --problem or --f, not both");
    if (formula && a.formula.find_first_not_of(" \t") == std::string::npos)
        throw UsageError("the formula given with --f is empty");
    if (a.tool && a.step)
        throw UsageError("give either --tool or --step, not both");

    vrn::MinimizeOptions options;
    options.method = ParseInteger(a.method, "--method");
    if (options.method < 1 || options.method > 4)
        throw UsageError("--method must be 1, 2, 3 or 4");
    if (a.step && options.method == 4)
        throw UsageError("--step takes methods 1 to 3 (the conjugate-gradient method has no step mode)");
    options.driver = a.tool ? vrn::Driver::Tool : (a.step ? vrn::Driver::Step : vrn::Driver::Engine);
    if (!a.itnlim.empty()) {
        if (a.tool)
            throw UsageError("--itnlim does not apply with --tool (each of its runs has 100000)");
        options.itnlim = ParseInteger(a.itnlim, "--itnlim");
        if (options.itnlim < 0)
            throw UsageError("--itnlim must be 0 or more");
    }
    if (!a.typf.empty()) {
        if (a.tool || a.step)
            throw UsageError("--typf does not apply with --tool or --step (they use 1)");
        options.typicalF = ParseNumber(a.typf, "--typf");
    }
    if (!a.gradtol.empty())
        options.gradientTolerance = ParseNumber(a.gradtol, "--gradtol");
    if (!a.steptol.empty())
        options.stepTolerance = ParseNumber(a.steptol, "--steptol");
    if (!a.maxstep.empty())
        options.maximumStep = ParseNumber(a.maxstep, "--maxstep");
    if (!a.trustRadius.empty())
        options.trustRadius = ParseNumber(a.trustRadius, "--trust-radius");
    if (!a.ndigit.empty())
        options.numberOfDigits = ParseInteger(a.ndigit, "--ndigit");
    if (!a.cgtol.empty())
        options.cgTolerance = ParseNumber(a.cgtol, "--cgtol");
    if (!a.msg.empty())
        options.messageBits = ParseInteger(a.msg, "--msg");
    if (!a.threads.empty()) {
        options.threads = ParseInteger(a.threads, "--threads");
        if (options.threads < 1)
            throw UsageError("--threads must be 1 or more");
    }
    options.expensive = a.expensive;
    options.checkGradient = a.checkGradient;
    options.checkHessian = a.checkHessian;
    options.naming = vrn::OptionNaming::CommandLine;
    const Derivative gradientKind = ParseDerivative(a.gradient, "--gradient", formula);
    const Derivative hessianKind = ParseDerivative(a.hessian, "--hessian", formula);
    if (options.method == 4 && !a.hessian.empty())
        throw UsageError("--hessian is not used by method 4 (conjugate gradient): methods 1 to 3 only");
    // A check that would not happen is refused rather than silently skipped.
    if (a.checkGradient && (gradientKind != Derivative::Analytic || options.method == 4))
        throw UsageError("--check-gradient needs an analytic gradient and method 1, 2 or 3");
    if (a.checkHessian && (hessianKind != Derivative::Analytic || options.method == 4 || a.expensive))
        throw UsageError("--check-hessian needs an analytic Hessian, method 1, 2 or 3 and no --expensive");

    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    std::vector<double> x0;
    std::vector<std::string> names;
    std::string label;
    std::shared_ptr<golden::TestProblem> problem;

    if (formula) {
        if (a.x0.empty())
            throw UsageError("--f needs a start point with named values, e.g. --x0 x=0,y=0");
        const StartPoint start = ParseStartPoint(a.x0, "--x0");
        if (start.names.empty())
            throw UsageError("--f needs named start values, e.g. --x0 x=0,y=0 (got plain values)");
        names = start.names;
        x0 = start.values;
        if (options.threads > 1) {
            auto copies = std::make_shared<FormulaCopies>(a.formula, names, x0, options.threads);
            f = [copies](std::span<const double> x) { return (*copies)(x); };
        } else {
            auto compiled = std::make_shared<Formula>(a.formula, names, x0);
            f = [compiled](std::span<const double> x) { return (*compiled)(x); };
        }
        label = a.formula;
    } else {
        const std::string name = a.problem.empty() ? "rosenbrock" : a.problem;
        bool known = false;
        for (const std::string& n : ProblemNames())
            known = known || n == name;
        if (!known)
            throw UsageError("unknown problem '" + name + "': use one of " + JoinedNames());
        problem = golden::MakeTestProblem(name);
        x0 = problem->x0;
        if (!a.x0.empty()) {
            const StartPoint start = ParseStartPoint(a.x0, "--x0");
            if (!start.names.empty())
                throw UsageError(
                    "--x0 takes plain values a,b,... for a built-in problem (names are for --f)");
            if (start.values.size() != x0.size())
                throw UsageError("--x0 has " + std::to_string(start.values.size()) + " values but " + name +
                                 " has " + std::to_string(x0.size()) + " parameters");
            x0 = start.values;
        }
        f = [problem](std::span<const double> x) { return problem->fx(x.data()); };
        if (gradientKind == Derivative::Analytic)
            gradient = [problem](std::span<const double> x, std::span<double> g) {
                problem->grad(x.data(), g.data());
            };
        if (hessianKind == Derivative::Analytic)
            hessian = [problem](std::span<const double> x, std::span<double> h) {
                problem->hess(x.data(), h.data());
            };
        label = name;
    }
    if (!a.typsiz.empty()) {
        options.typicalX = ParseNumberList(a.typsiz, "--typsiz");
        if (options.typicalX.size() != x0.size())
            throw UsageError("--typsiz has " + std::to_string(options.typicalX.size()) +
                             " values but there are " + std::to_string(x0.size()) + " parameters");
    }

    // Every numeric option in its range, and only options the method uses.
    const std::string refusal =
        vrn::CheckMinimizeOptions(options, x0.size(), static_cast<bool>(gradient), static_cast<bool>(hessian),
                                  vrn::OptionNaming::CommandLine);
    if (!refusal.empty())
        throw UsageError(refusal);

    // ---- Run ----
    if (a.log)
        options.onLogRow = [&out](const std::string& row) { out << row << '\n'; };
    else if (!a.quiet && !a.json && !a.step)
        options.onProgress = [&out, &options, &a](int run, const vrn::IterationRecord& r) {
            if (r.iteration == 0)
                out << ProgressHeader(run, options.method, a.tool);
            out << ProgressRow(r);
        };
    if (a.step && !a.json)
        options.onIteration = [&out, &names](int k, std::span<const double> x, double fx,
                                             std::span<const double>) {
            out << "Step " << k << ": f = " << Number(fx) << ", x = " << Point(x, names) << '\n';
            return true;
        };

    // Diagnostic pictures (--plots DIR): attached before the run, written once it is over.
    std::unique_ptr<DiagnosticPlots> plots;
    if (!a.plots.empty()) {
        plots =
            std::make_unique<DiagnosticPlots>(a.plots, label + ", method " + std::to_string(options.method));
        std::string error;
        if (!plots->PrepareDirectory(error))
            throw UsageError(error);
        plots->SetNames(names);
        options.onEngine = [&plots](CVRNUnconstrainedMinimization& e, bool finished) {
            plots->OnEngine(e, finished);
        };
    }

    if (!a.report.empty()) {
        options.recordIterations = true;
        options.captureLog = true;
    }

    const vrn::MinimizeResult r = vrn::Minimize(f, gradient, hessian, x0, options);
    // Everything was checked above, so a refusal can only be the start point's f.
    if (r.status == vrn::Status::OptionCheck)
        throw UsageError(r.message);

    // The report (--report FILE), drawn from the run's records.
    bool reportFailed = false;
    int contourEvaluations = 0;
    if (!a.report.empty()) {
        vrn::ReportOptions ro;
        ro.title = (formula ? "f = " : "") + label + ", method " + std::to_string(options.method);
        ro.names = names;
        ro.objective = f;
        contourEvaluations = vrn::ReportContourEvaluations(r, ro);
        reportFailed = !vrn::WriteReport(r, a.report, ro);
    }

    if (a.json) {
        nlohmann::ordered_json j;
        j["x"] = r.x;
        if (!names.empty())
            j["variables"] = names;
        nlohmann::ordered_json point = nlohmann::ordered_json::object();
        for (size_t i = 0; i < r.x.size(); i++)
            point[names.empty() ? "x" + std::to_string(i) : names[i]] = r.x[i];
        j["point"] = point;
        j["f"] = r.f;
        j["success"] = r.success;
        j["status"] = vrn::StatusName(r.status);
        j["code"] = r.code;
        j["message"] = r.message;
        j["warnings"] = r.warnings;
        j["gradient"] = r.gradient;
        j["gradient_norm"] = r.gradientNorm;
        j["initial_f"] = r.initialF;
        j["iterations"] = r.iterations;
        j["runs"] = r.runs;
        j[formula ? "formula" : "problem"] = label;
        j["method"] = options.method;
        j["evaluations"] = {
            {"f", r.evaluations.f}, {"gradient", r.evaluations.gradient}, {"hessian", r.evaluations.hessian}};
        j["time_s"] = r.timeSeconds;
        nlohmann::ordered_json checks = nlohmann::ordered_json::object();
        if (r.gradientCheck.ran)
            checks["gradient"] = CheckJson(r.gradientCheck);
        if (r.hessianCheck.ran)
            checks["hessian"] = CheckJson(r.hessianCheck);
        j["checks"] = checks;
        out << j.dump() << '\n';
    } else {
        if (!a.quiet)
            out << '\n';
        out << r.Summary(names);
        if (plots)
            out << plots->Note();
        if (!a.report.empty()) {
            if (reportFailed)
                out << "Report:       could not write " << a.report << '\n';
            else
                out << "Report:       written to " << a.report << " (open it in a web browser"
                    << (contourEvaluations > 0
                            ? "; its contour plot took " + std::to_string(contourEvaluations) +
                                  " more evaluations of f, not counted above"
                            : std::string())
                    << ")\n";
        }
    }
    if (plots && !plots->Failed().empty())
        return 1;
    if (reportFailed)
        return 1;
    return r.success ? 0 : 1;
}

} // namespace vrnmath
