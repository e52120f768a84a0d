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
// Sections: summary (method, driver, derivatives, verdict and warnings, f0 -> f, |g|,
// iterations, evaluations, time); convergence of f and max |g_i| over the whole run (log
// f while f stays positive; f - min f after a successful run to a value at or below 0;
// otherwise signed f on a symmetric log scale, flagged "diverging" when f falls without
// bound); step length and trust radius (or line-search factor) per iteration; parameter
// traces (one panel per parameter up to 12, else the ten that moved most); for two
// parameters a contour plot of f around the path when the objective is given, with the
// region where f is not finite shaded; the final model Hessian as a heat map (numbers in
// the cells up to 8 parameters, blocks beyond 40) with its eigenvalues (a spectrum
// beyond 8 parameters); the derivative checks when they ran; the settings (the result's
// pairs as they are); the status log (collapsed). The runs of the tool driver (each
// record of iteration 0 starts one) are drawn apart on one iteration axis, with dashed
// lines where each starts. Non-finite values never break the page: they are left out
// of the pictures and said so. The page stays small whatever the run: long traces are
// thinned to a few points per pixel, the status log keeps its first and last 1000 rows,
// a derivative check its 200 worst entries (at n = 300 the page is about 0.3 MB).
//
// A least-squares fit (vrn::LeastSquares, result.IsFit()) gets a fit section after the
// summary: the parameters with their standard errors and relative errors, the
// correlation matrix, the cost, the residual standard deviation and the verdict; and,
// when the caller gives its data (ReportOptions::fit), a plot of the data (with error
// bars when sigma is given) and the fitted curve sampled finely over the x range, and a
// plot of the residuals against x.
//
//     vrn::ReportOptions ro;
//     ro.fit.x = t; ro.fit.y = p; ro.fit.sigma = s;            // one value per residual
//     ro.fit.curve = [&](double t) { return model(fit.x, t); };
//     vrn::WriteReport(fit, "fit.html", ro);

#include <functional>
#include <string>
#include <vector>

#include "face/Minimize.h"

namespace vrn {

// The data a fit was made to, for the plots of a fit report. The i-th point belongs to
// the i-th residual (result.fit.residuals); x and y of another length than the
// residuals draw no data plot (the residuals are then drawn against their index).
struct FitData {
    std::string xLabel = "x", yLabel = "y";
    std::vector<double> x, y;
    // Standard deviations of y (empty: none), drawn as error bars of +- sigma.
    std::vector<double> sigma;
    // The residuals are divided by sigma (the plot of the residuals says so).
    bool weighted = false;
    // The fitted model as a function of x; sampled at curvePoints points evenly spread
    // over the data's x range (none: no curve). Values far outside the data's range
    // (more than its span beyond it) are left out of the picture, so that a pole of the
    // model does not flatten the data.
    std::function<double(double)> curve;
    int curvePoints = 400; // 2 to 5000 (clamped)
};

struct ReportOptions {
    // Shown under the heading, e.g. the problem or the formula.
    std::string title;
    // Names of the parameters; empty (or of the wrong length): the result's names, else
    // x0, x1, ...
    std::vector<std::string> names;
    // The objective, for the contour plot of a two-parameter run (none without it).
    // Its evaluations there are counted apart from the run's.
    Objective objective;
    // Points per side of the coarse contour grid, 8 to 201 (clamped). The cells along the
    // path and those on the floor of the valleys (below the sixth contour level) get a
    // grid 4 times finer, so that narrow valleys keep their contours whole: Rosenbrock's
    // default run takes about 12,000 evaluations (ReportStats says how many).
    int contourPoints = 41;
    // The data of a least-squares fit (used only when the result is a fit).
    FitData fit;
};

// What making the page took, for the caller to tell its user.
struct ReportStats {
    // Evaluations of ReportOptions::objective for the contour plot (0 without one).
    int contourEvaluations = 0;
    // Size of the page in bytes.
    size_t bytes = 0;
    // Why WriteReport could not write the file (the system's words, e.g. "Is a
    // directory", "Permission denied", "No such file or directory"); empty when it could.
    std::string error;
};

// The page as text; stats, when given, receives what making it took.
std::string ReportHtml(const MinimizeResult& result, const ReportOptions& options = {},
                       ReportStats* stats = nullptr);
// Writes the page to path; false when the file cannot be written (stats->error says why).
bool WriteReport(const MinimizeResult& result, const std::string& path, const ReportOptions& options = {},
                 ReportStats* stats = nullptr);
// Number of objective evaluations the contour plot of this report takes (0 without one).
// Which cells get the finer grid depends on the values found, so this evaluates the grid
// as the page would: prefer the count in ReportStats, which costs nothing more.
int ReportContourEvaluations(const MinimizeResult& result, const ReportOptions& options = {});

// At most this many data points are drawn as markers in the plots of a fit report (a
// larger data set is drawn as every k-th point, and the picture says so).
constexpr size_t kReportFitMarkers = 2000;

// Text made safe for HTML: & < > " and ' written as entities.
std::string HtmlEscape(const std::string& text);

// Eigenvalues of the symmetric n x n matrix a (row-major; only its lower triangle is
// read), ascending, by Householder reduction to tridiagonal form and bisection on Sturm
// counts (about 4/3 n^3 operations). Empty when a is not n x n or holds a non-finite value.
std::vector<double> SymmetricEigenvalues(const std::vector<double>& a, int n);

} // namespace vrn
