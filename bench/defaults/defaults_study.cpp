// defaults_study: runs every problem of the classic set (problems/ClassicProblems.h), its
// scalable problems at n = 30 and 50 and the fits (problems/FitProblems.h) through vrn::Minimize with each
// configuration of method and derivatives, and writes one CSV row per run. bench/defaults/summarize.py turns
// the rows (and those of scipy_baseline.py) into the tables of docs/performance.md.
//
//     defaults_study [--itnlim N] [--budget SECONDS] [--only NAME[,NAME...]]
//                    [--fits-only | --classic-only | --scaled-only]
//     defaults_study --polish      prints each problem's minimum found by Newton's method
//
// A run counts as solved when its final f is within a relative 1e-6 (absolute 1e-10 near
// 0) of the problem's known minimum (Problem::IsSolved), whatever the library's verdict.
// The library's verdict (MinimizeResult::success) is written beside it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "problems/ClassicProblems.h"
#include "problems/FitProblems.h"
#include "tool/Minimize.h"

namespace {

struct Config {
    const char* name;
    int method;
    bool gradient;  // analytic gradient given
    bool hessian;   // analytic Hessian given
    bool expensive; // secant updates
};

// Analytic gradient: methods 1-3 with the analytic Hessian, a difference Hessian of the
// gradient, or secant updates; method 4. Nothing given: difference Hessian of f or secant
// updates with a difference gradient; method 4 with central differences.
const Config kConfigs[] = {
    {"m1 g H", 1, true, true, false},      {"m1 g fdH", 1, true, false, false},
    {"m1 g secant", 1, true, false, true}, {"m2 g H", 2, true, true, false},
    {"m2 g fdH", 2, true, false, false},   {"m2 g secant", 2, true, false, true},
    {"m3 g H", 3, true, true, false},      {"m3 g fdH", 3, true, false, false},
    {"m3 g secant", 3, true, false, true}, {"m4 g", 4, true, false, false},
    {"m1 f fdH", 1, false, false, false},  {"m1 f secant", 1, false, false, true},
    {"m2 f fdH", 2, false, false, false},  {"m2 f secant", 2, false, false, true},
    {"m3 f fdH", 3, false, false, false},  {"m3 f secant", 3, false, false, true},
    {"m4 f", 4, false, false, false},
};

std::vector<std::unique_ptr<classic::Problem>> Problems(bool classicSet, bool fitSet, bool scaledSet) {
    std::vector<std::unique_ptr<classic::Problem>> all;
    if (classicSet)
        for (auto& p : classic::AllProblems())
            all.push_back(std::move(p));
    if (scaledSet)
        for (int size : {30, 50})
            for (auto& p : classic::ScaledProblems(size))
                all.push_back(std::move(p));
    if (fitSet)
        for (auto& p : fits::AllFits())
            all.push_back(std::move(p));
    return all;
}

bool Selected(const std::string& only, const std::string& name) {
    if (only.empty())
        return true;
    size_t start = 0;
    while (start <= only.size()) {
        size_t end = only.find(',', start);
        if (end == std::string::npos)
            end = only.size();
        if (only.compare(start, end - start, name) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

vrn::MinimizeResult Run(const classic::Problem& p, const Config& c, int itnlim, double budget,
                        bool& timedOut) {
    const size_t n = static_cast<size_t>(p.n);
    vrn::Objective f = [&p](std::span<const double> x) { return p.fx(x.data()); };
    vrn::GradientFunction g;
    vrn::HessianFunction h;
    if (c.gradient)
        g = [&p](std::span<const double> x, std::span<double> out) { p.grad(x.data(), out.data()); };
    if (c.hessian)
        h = [&p](std::span<const double> x, std::span<double> out) { p.hess(x.data(), out.data()); };
    vrn::MinimizeOptions options;
    options.method = c.method;
    options.expensive = c.expensive;
    options.itnlim = itnlim;
    auto start = std::chrono::steady_clock::now();
    timedOut = false;
    options.onIteration = [&](int, std::span<const double>, double, std::span<const double>) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        timedOut = elapsed > budget;
        return !timedOut;
    };
    (void)n;
    return vrn::Minimize(f, g, h, p.x0, options);
}

int Polish(const std::string& only) {
    for (auto& p : Problems(true, true, true)) {
        if (!Selected(only, p->name))
            continue;
        // The best end point of the Newton-type runs, then Newton's method from there.
        std::vector<double> best = p->x0;
        double fbest = p->fx(best.data());
        for (int method = 1; method <= 3; ++method) {
            vrn::MinimizeOptions options;
            options.method = method;
            options.itnlim = 100000;
            options.gradientTolerance = 1e-12;
            auto r = vrn::Minimize(
                [&](std::span<const double> x) { return p->fx(x.data()); },
                [&](std::span<const double> x, std::span<double> g) { p->grad(x.data(), g.data()); },
                [&](std::span<const double> x, std::span<double> h) { p->hess(x.data(), h.data()); }, p->x0,
                options);
            if (r.f < fbest) {
                fbest = r.f;
                best = r.x;
            }
        }
        auto x = fits::NewtonMinimize(*p, best);
        std::vector<double> g(x.size());
        p->grad(x.data(), g.data());
        double gmax = 0.0;
        for (double v : g)
            gmax = std::max(gmax, std::fabs(v));
        std::printf("%-28s n=%2d f=%.17g (listed %.6g) |g|=%.2e x=", p->name.c_str(), p->n, p->fx(x.data()),
                    p->fstar, gmax);
        for (double v : x)
            std::printf(" %.10g", v);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int itnlim = 50000;
    double budget = 120.0;
    std::string only;
    bool classicSet = true, fitSet = true, scaledSet = true, polish = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--itnlim" && i + 1 < argc)
            itnlim = std::atoi(argv[++i]);
        else if (a == "--budget" && i + 1 < argc)
            budget = std::atof(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--fits-only")
            classicSet = scaledSet = false;
        else if (a == "--classic-only")
            fitSet = scaledSet = false;
        else if (a == "--scaled-only")
            classicSet = fitSet = false;
        else if (a == "--polish")
            polish = true;
        else {
            std::fprintf(stderr,
                         "usage: %s [--itnlim N] [--budget S] [--only names] "
                         "[--fits-only|--classic-only|--scaled-only] "
                         "[--polish]\n",
                         argv[0]);
            return 2;
        }
    }
    if (itnlim < 1 || itnlim > 10000000 || !(budget > 0.0)) {
        std::fprintf(stderr, "--itnlim must be 1 to 10000000 and --budget positive\n");
        return 2;
    }
    if (polish)
        return Polish(only);
    std::printf("solver,problem,n,method,gradient,hessian,solved,reached,f,fstar,code,success,iterations,"
                "nfev,ngev,nhev,seconds,timeout\n");
    for (auto& p : Problems(classicSet, fitSet, scaledSet)) {
        if (!Selected(only, p->name))
            continue;
        for (const Config& c : kConfigs) {
            bool timedOut = false;
            auto r = Run(*p, c, itnlim, budget, timedOut);
            int reached = p->ReachedMinimum(r.f);
            const char* hessian = c.hessian       ? "analytic"
                                  : c.expensive   ? "secant"
                                  : c.method == 4 ? "none"
                                                  : "difference";
            std::printf("%s,%s,%d,%d,%s,%s,%d,%d,%.17g,%.17g,%d,%d,%d,%ld,%ld,%ld,%.6f,%d\n", c.name,
                        p->name.c_str(), p->n, c.method, c.gradient ? "analytic" : "difference", hessian,
                        reached >= 0 ? 1 : 0, reached, r.f, p->fstar, r.code, r.success ? 1 : 0, r.iterations,
                        r.evaluations.f, r.evaluations.gradient, r.evaluations.hessian, r.timeSeconds,
                        timedOut ? 1 : 0);
            std::fflush(stdout);
        }
    }
    return 0;
}
