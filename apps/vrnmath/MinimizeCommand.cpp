// vrnmath minimize: a built-in problem or a typed formula, minimized through the run core.
// The run function is: parse, options, run, print.
#include "apps/vrnmath/MinimizeCommand.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>

#include <unistd.h>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/Formula.h"
#include "apps/vrnmath/Plots.h"
#include "face/Minimize.h"
#include "face/OptionTable.h"
#include "minimize/RunCost.h"
#include "problems/ReferenceProblems.h"
#include "render/Report.h"
#include "render/ResultJson.h"

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

std::string Point(std::span<const double> x, const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < x.size(); i++) {
        if (i)
            s += ", ";
        if (!names.empty())
            s += names[i] + " = ";
        s += vrn::NumberText(x[i]);
    }
    return names.empty() ? "(" + s + ")" : s;
}

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
std::string ProgressHeader(int run, const vrn::MethodInfo& method, bool tool) {
    char row[200];
    std::snprintf(row, sizeof row, "%-6s  %-23s  %-10s  %-10s  %-10s  %s", "k", "f", "|g|inf", "step",
                  method.radiusLabel, "evaluations f/g/H");
    std::string s = row;
    if (tool)
        s = "run " + std::to_string(run) + ": " + s;
    return s + "\n";
}

// Shows on a terminal that a long iteration is alive: evaluations so far in the
// current iteration, every two seconds, on one line of stderr.
class AliveLine {
public:
    explicit AliveLine(bool on) : m_bOn(on && isatty(fileno(stderr))) { Reset(); }
    // The evaluations the coming iteration is expected to take (0: not known).
    void Expect(double evaluations) { m_dExpected = evaluations; }
    void Reset() {
        if (m_bShown.exchange(false))
            std::fprintf(stderr, "\r%60s\r", "");
        m_nCalls = 0;
        m_Last = std::chrono::steady_clock::now();
    }
    void Count() {
        if (!m_bOn)
            return;
        const double expected = m_dExpected.load();
        const long calls = ++m_nCalls;
        if (calls % 64 != 0)
            return;
        std::lock_guard<std::mutex> lock(m_Lock);
        const auto now = std::chrono::steady_clock::now();
        if (now - m_Last < std::chrono::seconds(2))
            return;
        m_Last = now;
        if (expected > 0)
            std::fprintf(stderr, "\r  ... %ld of about %.0f evaluations of this iteration", calls, expected);
        else
            std::fprintf(stderr, "\r  ... %ld evaluations in this iteration", calls);
        std::fflush(stderr);
        m_bShown = true;
    }

private:
    const bool m_bOn;
    std::atomic<long> m_nCalls{0};
    std::atomic<double> m_dExpected{0.0};
    std::atomic<bool> m_bShown{false};
    std::mutex m_Lock;
    std::chrono::steady_clock::time_point m_Last;
};

} // namespace

CLI::App* AddMinimizeCommand(CLI::App& app, MinimizeArguments& a) {
    CLI::App* cmd = app.add_subcommand(
        "minimize", "Minimize a built-in test problem or a formula and print the progress and the result.");
    cmd->option_defaults()->always_capture_default(false);

    cmd->add_option("--problem", a.problem,
                    "Built-in problem: " + JoinedNames() + ". Default: rosenbrock (when no --f is given).")
        ->type_name("NAME");
    cmd->add_option("--f", a.formula,
                    "Objective as a formula over the variables named in --x0 (muParser syntax, e.g. "
                    "\"100*(y-x^2)^2+(1-x)^2\"); its derivatives are finite differences. Default: none.")
        ->type_name("FORMULA")
        ->each([&a](const std::string&) { a.formulaGiven = true; });
    cmd->add_option("--x0", a.x0,
                    "Start point: values a,b,... for a built-in problem, name=value,... for --f "
                    "(e.g. x=-1.2,y=1). Default: the problem's own start point; required with --f.")
        ->type_name("LIST");
    for (const vrn::OptionRow& s : vrn::OptionTable()) {
        const std::string help = vrn::HelpText(s);
        switch (s.type) {
        case vrn::OptionType::Derivative:
            cmd->add_option(s.cliSwitch, std::string(s.name) == "gradient" ? a.gradient : a.hessian,
                            help + " Values: analytic or fd.")
                ->type_name("KIND");
            break;
        case vrn::OptionType::Driver:
            AddTableOption(*cmd, s, help, a.values);
            cmd->add_flag("--tool", a.tool, "Shorthand for --driver tool. Default: off.");
            cmd->add_flag("--step", a.step,
                          "Shorthand for --driver step; prints each accepted point. Default: off.");
            break;
        default:
            AddTableOption(*cmd, s, help, a.values);
        }
    }
    cmd->add_flag(
        "--json", a.json,
        "Print only the result, as one JSON object (the library's serialization of the result: x, "
        "point, f, success, outcome, status, code, message, warnings, verdict, gradient, evaluations, "
        "checks, settings, ...). Default: off.");
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
    // ---- Parse: everything is checked before anything is evaluated ----
    const bool formula = a.formulaGiven;
    if (a.log && (a.quiet || a.json))
        throw UsageError("--log prints the status log: give it without --quiet and --json");
    if (formula && !a.problem.empty())
        throw UsageError("give either --problem or --f, not both");
    if (formula && a.formula.find_first_not_of(" \t") == std::string::npos)
        throw UsageError("the formula given with --f is empty");
    if (a.tool && a.step)
        throw UsageError("give either --tool or --step, not both");
    if (!a.report.empty())
        if (const std::string why = OutputProblem(a.report); !why.empty())
            throw UsageError("cannot write the report to " + a.report + ": " + why);

    // ---- Options, from the table ----
    vrn::MinimizeOptions options;
    options.naming = vrn::OptionNaming::CommandLine;
    std::map<std::string, std::string> values = a.values;
    if ((a.tool || a.step) && values.count("driver"))
        throw UsageError("give either --driver or --" + std::string(a.tool ? "tool" : "step") + ", not both");
    if (a.tool)
        values["driver"] = "tool";
    if (a.step)
        values["driver"] = "step";
    for (const auto& [name, text] : values)
        if (const auto refusal =
                vrn::SetOptionFromText(options, *vrn::FindOption(name), text, options.naming))
            throw UsageError(refusal->text);
    const vrn::MethodInfo* method = vrn::FindMethod(options.method);

    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    std::vector<double> x0;
    std::string label;
    std::shared_ptr<golden::TestProblem> problem;
    const Derivative gradientKind = ParseDerivative(a.gradient, "--gradient", formula);
    const Derivative hessianKind = ParseDerivative(a.hessian, "--hessian", formula);
    if (formula) {
        if (a.x0.empty())
            throw UsageError("--f needs a start point with named values, e.g. --x0 x=0,y=0");
        const StartPoint start = ParseStartPoint(a.x0, "--x0");
        if (start.names.empty())
            throw UsageError("--f needs named start values, e.g. --x0 x=0,y=0 (got plain values)");
        options.names = start.names;
        x0 = start.values;
        if (options.threads > 1) {
            auto copies = std::make_shared<FormulaCopies>(a.formula, options.names, x0, options.threads);
            f = [copies](std::span<const double> x) { return (*copies)(x); };
        } else {
            auto compiled = std::make_shared<Formula>(a.formula, options.names, x0);
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
        // The problem's Hessian goes along unless the method keeps none or secant updates
        // were asked for (an explicit --hessian analytic then meets the table's refusal).
        const bool secantAsked = values.count("expensive") > 0;
        if (hessianKind == Derivative::Analytic &&
            (!a.hessian.empty() || ((!method || method->usesHessian) && !secantAsked)))
            hessian = [problem](std::span<const double> x, std::span<double> h) {
                problem->hess(x.data(), h.data());
            };
        label = name;
    }
    // --hessian fd asks for a finite-difference Hessian: no secant updates, and a method or
    // switch that keeps no such Hessian refuses it as it refuses a given one.
    if (a.hessian == "fd") {
        if (const auto refusal =
                vrn::CheckOptions(options, {x0.size(), static_cast<bool>(gradient), true}, options.naming);
            refusal && refusal->option == "hessian")
            throw UsageError(refusal->text);
        if (!options.expensive)
            options.expensive = false;
    }
    // The table's check, worded with this program's switches; nothing has run yet.
    if (const auto refusal = vrn::CheckOptions(
            options, {x0.size(), static_cast<bool>(gradient), static_cast<bool>(hessian)}, options.naming))
        throw UsageError(refusal->text);
    method = vrn::FindMethod(options.method);

    // Diagnostic pictures (--plots DIR): attached before the run, written once it is over.
    std::unique_ptr<DiagnosticPlots> plots;
    if (!a.plots.empty()) {
        plots =
            std::make_unique<DiagnosticPlots>(a.plots, label + ", method " + std::to_string(options.method));
        std::string error;
        if (!plots->PrepareDirectory(error))
            throw UsageError(error);
        plots->SetNames(options.names);
        options.onEngine = [&plots](CVRNUnconstrainedMinimization& e, bool finished) {
            plots->OnEngine(e, finished);
        };
    }
    if (!a.report.empty()) {
        options.recordIterations = true;
        options.captureLog = true;
    }

    // ---- Run ----
    AliveLine alive(!a.json);
    // What one iteration costs, for "... of about N": the engine's own estimate.
    CVRNRunSettings cost;
    cost.n = static_cast<long long>(x0.size());
    cost.method = method->hasStepMode && options.driver == vrn::Driver::Step ? 1 : options.method;
    cost.gradient = static_cast<bool>(gradient);
    cost.hessian = static_cast<bool>(hessian);
    cost.expensive = options.expensive.value_or(!gradient && !hessian);
    const CVRNRunCost estimate = VRNEstimateRunCost(cost);
    const double perGradient = gradient || method->usesHessian ? 1.0 : 2.0 * static_cast<double>(x0.size());
    const double firstIteration = static_cast<double>(estimate.FirstIteration().Total()) * perGradient;
    const double laterIteration = static_cast<double>(estimate.firstStep.Total()) * perGradient;
    alive.Expect(firstIteration);
    const vrn::Objective counted = [&f, &alive](std::span<const double> x) {
        alive.Count();
        return f(x);
    };
    if (a.log)
        options.onLogRow = [&out](const std::string& row) { out << row << '\n' << std::flush; };
    const bool table = !a.log && !a.quiet && !a.json && !a.step;
    // Every accepted step starts the count of the alive line again; the table prints it.
    options.onProgress = [&out, method, &a, &alive, table, firstIteration,
                          laterIteration](int run, const vrn::IterationRecord& r) {
        alive.Reset();
        alive.Expect(r.iteration == 0 ? firstIteration : laterIteration);
        if (!table)
            return;
        if (r.iteration == 0)
            out << ProgressHeader(run, *method, a.tool);
        out << ProgressRow(r) << std::flush;
    };
    if (a.step && !a.json)
        options.onIteration = [&out, &options](int k, std::span<const double> x, double fx,
                                               std::span<const double>) {
            out << "Step " << k << ": f = " << vrn::NumberText(fx) << ", x = " << Point(x, options.names)
                << '\n'
                << std::flush;
            return true;
        };
    options.onNote = [](const std::string& note) {
        std::fprintf(stderr, "vrnmath minimize: note: %s\n", note.c_str());
    };

    const vrn::MinimizeResult r = vrn::Minimize(counted, gradient, hessian, x0, options);
    alive.Reset();
    // Everything was checked above, so a refusal can only be the start point's f.
    if (r.status == vrn::Status::OptionCheck)
        throw UsageError(r.message);

    // ---- Print ----
    std::vector<std::string> outputErrors;
    int contourEvaluations = 0;
    if (!a.report.empty()) {
        vrn::ReportOptions ro;
        ro.title = (formula ? "f = " : "") + label + ", method " + std::to_string(options.method);
        ro.names = options.names;
        ro.objective = f;
        vrn::ReportStats stats;
        if (!vrn::WriteReport(r, a.report, ro, &stats))
            outputErrors.push_back("could not write the report to " + a.report + ": " +
                                   (stats.error.empty() ? std::string("the write failed") : stats.error));
        contourEvaluations = stats.contourEvaluations;
    }
    if (plots)
        for (const std::string& path : plots->Failed())
            outputErrors.push_back("could not write " + path);

    if (a.json) {
        std::vector<std::pair<std::string, std::string>> extra;
        extra.emplace_back(formula ? "formula" : "problem", vrn::JsonString(label));
        extra.emplace_back("output_errors", vrn::JsonStrings(outputErrors));
        out << vrn::ToJson(r, vrn::JsonNumbers::Strict, extra) << '\n';
    } else {
        if (!a.quiet)
            out << '\n';
        out << r.Summary();
        if (plots)
            out << plots->Note();
        if (!a.report.empty() && outputErrors.empty())
            out << "Report:       written to " << a.report << " (open it in a web browser"
                << (contourEvaluations > 0 ? "; its contour plot took " + std::to_string(contourEvaluations) +
                                                 " more evaluations of f, not counted above"
                                           : std::string())
                << ")\n";
    }
    out.flush();
    return FinishCommand(outputErrors, "minimize", r.success);
}

} // namespace vrnmath
