// compare: our minimizer against GSL's multimin, side by side, on the same problems
// and start points, in one process.
//
// For every problem and solver it records whether the run converged (final f within
// 1e-8, absolute or relative, of the known minimum), the final f, iterations, the
// function, gradient and Hessian evaluations and the median time of repeated solves
// (CPU time of the solving thread, so that other load on the machine counts little). It prints one Markdown
// table with a row per pair and a summary table with a row per solver: problems solved, total evaluations
// over the problems every solver solved, and the geometric mean of the time ratio against GSL vector_bfgs2
// over the problems both solved.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchProblems.h"
#include "bench/GslMinimizer.h"
#include "minimize/UnconstrainedMinimization.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ProblemSpec {
    std::string name;
    int n;
    std::function<std::unique_ptr<golden::TestProblem>()> make;
    double fmin; // known minimum value
};

struct SolverSpec {
    std::string name;
    bool gsl;
    int method; // engine method, 1 to 4
    bool gradient, hessian, expensive;
    const gsl_multimin_fdfminimizer_type* type; // GSL minimizer
    double lineTolerance;
};

struct Outcome {
    bool converged = false;
    double f = 0.0;
    long iterations = 0, nfev = 0, ngev = 0, nhev = 0;
    double seconds = 0.0; // median time of one solve
    int solves = 0;
    std::string code; // termination code or GSL status
};

std::vector<ProblemSpec> Problems() {
    using golden::TestProblem;
    std::vector<ProblemSpec> list;
    auto builtin = [&](const char* name) {
        const int n = golden::MakeTestProblem(name)->n;
        list.push_back({name, n, [name] { return golden::MakeTestProblem(name); }, 0.0});
    };
    builtin("rosenbrock");
    builtin("powell");
    builtin("wood");
    builtin("beale");
    builtin("helical");
    builtin("quadratic");
    list.push_back({"onedim", 1, [] { return golden::MakeTestProblem("onedim"); }, 1.0});
    // The built-in extended Rosenbrock is the n = 10 case below.
    for (int n : {10, 100, 400})
        list.push_back({"ext-rosenbrock", n, [n] { return vrn_bench::MakeExtendedRosenbrock(n); }, 0.0});
    // Extended Powell needs n to be a multiple of 4: 12 stands in for 10.
    for (int n : {12, 100, 400})
        list.push_back(
            {"ext-powell", n, [n] { return std::make_unique<vrn_bench::ExtendedPowell>(n); }, 0.0});
    list.push_back({"tridiag-quadratic", 1000,
                    [] { return std::make_unique<vrn_bench::TridiagonalQuadratic>(1000); }, 0.0});
    return list;
}

std::vector<SolverSpec> Solvers() {
    std::vector<SolverSpec> list;
    const char* names[] = {"", "m1 line search", "m2 dogleg", "m3 hook"};
    for (int m = 1; m <= 3; ++m) {
        list.push_back({std::string(names[m]) + " (g, H)", false, m, true, true, false, nullptr, 0.0});
        list.push_back({std::string(names[m]) + " (g, BFGS)", false, m, true, false, true, nullptr, 0.0});
        list.push_back({std::string(names[m]) + " (fd g, BFGS)", false, m, false, false, true, nullptr, 0.0});
    }
    list.push_back({"m4 CG Polak-Ribiere (g)", false, 4, true, false, false, nullptr, 0.0});
    list.push_back(
        {"GSL vector_bfgs2", true, 0, true, false, false, gsl_multimin_fdfminimizer_vector_bfgs2, 0.1});
    list.push_back(
        {"GSL conjugate_pr", true, 0, true, false, false, gsl_multimin_fdfminimizer_conjugate_pr, 1e-4});
    return list;
}

const char* CodeName(int code) {
    static const char* names[] = {
        "0 optimal",   "1 gradient small", "2 step small", "3 no lower point", "4 too many iterations",
        "5 max steps", "6 option check",   "7 aborted"};
    return code >= 0 && code <= 7 ? names[code] : "?";
}

bool Converged(double f, double fmin) {
    if (!std::isfinite(f))
        return false;
    const double err = std::fabs(f - fmin);
    return err <= 1e-8 || err <= 1e-8 * std::fabs(fmin);
}

// One solve; the time covers the engine run (or GSL's allocation, run and release)
// and the objective evaluations in it.
Outcome SolveOnce(const SolverSpec& s, const ProblemSpec& p, double budget, double& seconds) {
    auto problem = p.make();
    Outcome out;
    if (s.gsl) {
        vrn_bench::GslSettings settings;
        settings.lineTolerance = s.lineTolerance;
        const double t0 = vrn_bench::ThreadSeconds();
        const vrn_bench::GslOutcome r = vrn_bench::RunGsl(s.type, *problem, settings);
        seconds = vrn_bench::ThreadSeconds() - t0;
        out.f = r.f;
        out.iterations = r.iterations;
        out.nfev = r.nfev;
        out.ngev = r.ngev;
        out.code = r.status == GSL_SUCCESS    ? "gradient test"
                   : r.status == GSL_CONTINUE ? "iteration cap"
                                              : gsl_strerror(r.status);
    } else {
        vrn_bench::EngineProblem adapter(*problem);
        CVRNUnconstrainedMinimization engine;
        engine.Default();
        engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
        adapter.SetBudget(&engine, budget);
        const double t0 = vrn_bench::ThreadSeconds();
        engine.Minimize(&adapter, 1.0, 10000, s.method);
        seconds = vrn_bench::ThreadSeconds() - t0;
        const double* x = s.method == 4 ? engine.GetX() : engine.GetXMin();
        out.f = problem->fx(x);
        out.iterations = engine.GetIterationCount();
        out.nfev = adapter.nfev;
        out.ngev = adapter.ngev;
        out.nhev = adapter.nhev;
        out.code = adapter.overBudget ? "over time budget" : CodeName(engine.GetCodeforTerminationCode());
    }
    out.converged = Converged(out.f, p.fmin);
    return out;
}

// Repeats the solve until about `target` seconds are spent (at most 15 solves, at
// least one) and keeps the median time; the counts come from the first solve (the
// runs are deterministic).
Outcome Solve(const SolverSpec& s, const ProblemSpec& p, double budget, double target) {
    std::vector<double> times;
    double seconds = 0.0;
    Outcome out = SolveOnce(s, p, budget, seconds);
    times.push_back(seconds);
    double spent = seconds;
    while (spent < target && times.size() < 15) {
        SolveOnce(s, p, budget, seconds);
        times.push_back(seconds);
        spent += seconds;
    }
    std::sort(times.begin(), times.end());
    const size_t m = times.size();
    out.seconds = m % 2 == 1 ? times[m / 2] : 0.5 * (times[m / 2 - 1] + times[m / 2]);
    out.solves = static_cast<int>(m);
    return out;
}

std::string Time(double s) {
    char buf[32];
    if (s < 1e-3)
        std::snprintf(buf, sizeof buf, "%.1f µs", s * 1e6);
    else if (s < 1.0)
        std::snprintf(buf, sizeof buf, "%.2f ms", s * 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

std::string Count(long v) {
    return v == 0 ? "0" : std::to_string(v);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Runs our minimizer and GSL's multimin side by side and prints Markdown tables."};
    std::vector<std::string> onlyProblems, onlySolvers;
    double budget = 60.0;
    double target = 0.3;
    app.add_option("--problem", onlyProblems, "run only problems whose name contains this text (repeatable)");
    app.add_option("--solver", onlySolvers, "run only solvers whose name contains this text (repeatable)");
    app.add_option("--budget", budget, "CPU seconds after which an engine run is stopped (default 60)");
    app.add_option("--repeat-time", target,
                   "seconds of repeated solves per pair for the median (default 0.3)");
    CLI11_PARSE(app, argc, argv);

    vrn_bench::QuietGslErrors();
    auto selected = [](const std::string& name, const std::vector<std::string>& filters) {
        if (filters.empty())
            return true;
        for (const auto& f : filters)
            if (name.find(f) != std::string::npos)
                return true;
        return false;
    };

    std::vector<ProblemSpec> problems;
    for (auto& p : Problems())
        if (selected(p.name + " " + std::to_string(p.n), onlyProblems))
            problems.push_back(p);
    std::vector<SolverSpec> solvers;
    for (auto& s : Solvers())
        if (selected(s.name, onlySolvers))
            solvers.push_back(s);

    const auto start = Clock::now();
    // results[problem][solver]
    std::vector<std::vector<Outcome>> results(problems.size(), std::vector<Outcome>(solvers.size()));
    std::printf("| Problem | n | Solver | Converged | Final f | Iterations | f evals | g evals | H evals | "
                "Time per solve | Stop |\n");
    std::printf("|---|---:|---|:---:|---:|---:|---:|---:|---:|---:|---|\n");
    for (size_t i = 0; i < problems.size(); ++i) {
        for (size_t j = 0; j < solvers.size(); ++j) {
            const Outcome o = Solve(solvers[j], problems[i], budget, target);
            results[i][j] = o;
            std::printf("| %s | %d | %s | %s | %.6g | %ld | %s | %s | %s | %s | %s |\n",
                        problems[i].name.c_str(), problems[i].n, solvers[j].name.c_str(),
                        o.converged ? "yes" : "**no**", o.f, o.iterations, Count(o.nfev).c_str(),
                        Count(o.ngev).c_str(), Count(o.nhev).c_str(), Time(o.seconds).c_str(),
                        o.code.c_str());
            std::fflush(stdout);
        }
    }

    // Problems every solver solved: the common ground for evaluation totals.
    std::vector<size_t> common;
    for (size_t i = 0; i < problems.size(); ++i) {
        bool all = true;
        for (size_t j = 0; j < solvers.size(); ++j)
            all = all && results[i][j].converged;
        if (all)
            common.push_back(i);
    }
    size_t reference = solvers.size();
    for (size_t j = 0; j < solvers.size(); ++j)
        if (solvers[j].name == "GSL vector_bfgs2")
            reference = j;

    std::printf("\nSummary per solver. Evaluations are totals over the %zu problems every solver solved",
                common.size());
    if (!common.empty()) {
        std::printf(" (");
        for (size_t k = 0; k < common.size(); ++k)
            std::printf("%s%s %d", k ? ", " : "", problems[common[k]].name.c_str(), problems[common[k]].n);
        std::printf(")");
    }
    std::printf("; the time ratio is the geometric mean, over the problems both solved, of this solver's "
                "median time divided by GSL vector_bfgs2's (below 1: faster).\n\n");
    std::printf(
        "| Solver | Problems solved | f evals | g evals | H evals | Time ratio vs GSL vector_bfgs2 |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    for (size_t j = 0; j < solvers.size(); ++j) {
        int solved = 0;
        for (size_t i = 0; i < problems.size(); ++i)
            solved += results[i][j].converged ? 1 : 0;
        long nf = 0, ng = 0, nh = 0;
        for (size_t i : common) {
            nf += results[i][j].nfev;
            ng += results[i][j].ngev;
            nh += results[i][j].nhev;
        }
        std::string ratio = "n/a";
        if (reference < solvers.size()) {
            double logsum = 0.0;
            int count = 0;
            for (size_t i = 0; i < problems.size(); ++i) {
                const Outcome& a = results[i][j];
                const Outcome& b = results[i][reference];
                if (a.converged && b.converged && a.seconds > 0.0 && b.seconds > 0.0) {
                    logsum += std::log(a.seconds / b.seconds);
                    ++count;
                }
            }
            if (count > 0) {
                char buf[48];
                std::snprintf(buf, sizeof buf, "%.2f (%d problems)", std::exp(logsum / count), count);
                ratio = buf;
            }
        }
        std::printf("| %s | %d of %zu | %ld | %ld | %ld | %s |\n", solvers[j].name.c_str(), solved,
                    problems.size(), nf, ng, nh, ratio.c_str());
    }
    std::printf("\nTotal running time %.1f s.\n",
                std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}
