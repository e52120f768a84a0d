#pragma once

// A run report: one self-contained HTML page (inline SVG and CSS, no scripts, nothing
// fetched) that shows a minimization after the fact, readable offline and printable.
//
//     vrn::MinimizeOptions options;
//     options.recordIterations = true;   // the pictures are drawn from these records
//     options.captureLog = true;         // for the status-log section
//     vrn::MinimizeResult r = vrn::Minimize(f, grad, {-1.2, 1.0}, options);
//     vrn::WriteReport(r, "run.html");
//
// Sections: summary (method, derivatives, verdict and warnings, f0 -> f, |g|, iterations,
// evaluations, time); convergence of f and max |g_i| over the whole run on log scales;
// step length and trust radius (or line-search factor) per iteration; parameter traces
// (one panel per parameter up to 12, else the ten that moved most); for two parameters
// a contour plot of f around the path when the objective is given; the final model
// Hessian as a heat map with its eigenvalue range; the derivative checks when they ran;
// the settings; the status log (collapsed). Non-finite values never break the page:
// they are left out of the pictures and said so.

#include <string>
#include <vector>

#include "tool/Minimize.h"

namespace vrn {

struct ReportOptions {
    // Shown under the heading, e.g. the problem or the formula.
    std::string title;
    // Names of the parameters; empty (or of the wrong length): x0, x1, ...
    std::vector<std::string> names;
    // The objective, for the contour plot of a two-parameter run (none without it).
    // Its evaluations there are counted apart from the run's.
    Objective objective;
    // Points per side of the contour grid (at least 8).
    int contourPoints = 41;
};

// What making the page took, for the caller to tell its user.
struct ReportStats {
    // Evaluations of ReportOptions::objective for the contour plot (0 without one).
    int contourEvaluations = 0;
    // Size of the page in bytes.
    size_t bytes = 0;
};

// The page as text; stats, when given, receives what making it took.
std::string ReportHtml(const MinimizeResult& result, const ReportOptions& options = {},
                       ReportStats* stats = nullptr);
// Writes the page to path; false when the file cannot be written.
bool WriteReport(const MinimizeResult& result, const std::string& path, const ReportOptions& options = {},
                 ReportStats* stats = nullptr);
// Number of objective evaluations the contour plot of this report takes (0 without one).
// Which cells get the finer grid depends on the values found, so this evaluates the grid
// as the page would: prefer the count in ReportStats, which costs nothing more.
int ReportContourEvaluations(const MinimizeResult& result, const ReportOptions& options = {});

// Eigenvalues of the symmetric n x n matrix a (row-major; only its lower triangle is
// read), ascending, by Householder reduction to tridiagonal form and bisection on Sturm
// counts (about 4/3 n^3 operations). Empty when a is not n x n or holds a non-finite value.
std::vector<double> SymmetricEigenvalues(const std::vector<double>& a, int n);

} // namespace vrn
