#pragma once

// The page "vrnmath fit --report FILE" writes: one self-contained HTML file with the
// fitted parameters and their standard errors, the verdict and its warnings, a plot of
// the data with the fitted curve and a plot of the residuals.

#include <functional>
#include <string>
#include <vector>

#include "lsq/LeastSquares.h"

namespace vrnmath {

struct FitReportData {
    std::string model;              // the formula
    std::string xName, yName;       // column names
    std::vector<std::string> names; // parameter names
    std::vector<double> x, y;       // the data
    std::vector<double> weights;    // 1 / sigma (empty: none); residuals are weighted
    // The model at (parameters, x): used to draw the fitted curve between the data.
    std::function<double(double x)> curve;
};

// The page as text.
std::string FitReportHtml(const vrn::LeastSquaresResult& result, const FitReportData& data);

// Writes the page to path; false, with a message in error, when the file cannot be written.
bool WriteFitReport(const vrn::LeastSquaresResult& result, const FitReportData& data, const std::string& path,
                    std::string& error);

} // namespace vrnmath
