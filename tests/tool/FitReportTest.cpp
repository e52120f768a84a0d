// The fit section of the run report: what ReportHtml shows of a least-squares fit and of
// the data the caller gives (ReportOptions::fit).
#include <gtest/gtest.h>

#include "tests/support/TextChecks.h"

#include <cmath>
#include <string>
#include <vector>

#include "face/Minimize.h"
#include "lsq/LeastSquares.h"
#include "render/Report.h"

namespace {

using vrntest::Count;
using vrntest::Has;

// The part of the page inside <div id="...">, up to its end.
std::string Block(const std::string& page, const std::string& id) {
    const size_t at = page.find("<div id=\"" + id + "\">");
    if (at == std::string::npos)
        return "";
    return page.substr(at, page.find("</div>", at) - at);
}

// y = a exp(-b t) + c on m points with a wiggle, fitted with or without sigma.
struct Decay {
    std::vector<double> t, y, sigma;
    vrn::MinimizeResult fit;
};

Decay FitDecay(size_t m, bool withSigma) {
    Decay d;
    for (size_t i = 0; i < m; i++) {
        const double t = 7.0 * static_cast<double>(i) / static_cast<double>(m - 1);
        d.t.push_back(t);
        d.y.push_back(5.0 * std::exp(-0.7 * t) + 1.5 + 0.02 * std::sin(13.0 * t));
        d.sigma.push_back(withSigma ? 0.05 + 0.01 * t : 1.0);
    }
    vrn::LeastSquaresOptions o;
    o.names = {"a", "b", "c"};
    o.recordIterations = true;
    d.fit = vrn::LeastSquares(
        [&d](std::span<const double> p) {
            std::vector<double> r(d.t.size());
            for (size_t i = 0; i < r.size(); i++)
                r[i] = (p[0] * std::exp(-p[1] * d.t[i]) + p[2] - d.y[i]) / d.sigma[i];
            return r;
        },
        nullptr, {4.0, 1.0, 1.0}, o);
    if (!withSigma)
        d.sigma.clear();
    return d;
}

vrn::ReportOptions WithData(const Decay& d) {
    vrn::ReportOptions ro;
    ro.title = "decay";
    ro.fit.xLabel = std::string("t"); // (assigning the literal trips g++ 12's -Wrestrict)
    ro.fit.yLabel = std::string("p");
    ro.fit.x = d.t;
    ro.fit.y = d.y;
    ro.fit.sigma = d.sigma;
    ro.fit.weighted = !d.sigma.empty();
    const std::vector<double> p = d.fit.x;
    ro.fit.curve = [p](double t) { return p[0] * std::exp(-p[1] * t) + p[2]; };
    return ro;
}

TEST(FitReport, ShowsTheParametersTheCorrelationsAndBothPlots) {
    struct Case {
        bool sigma;
        const char* residualLabel;
    };
    for (const Case& c : {Case{false, "model \u2212 p"}, Case{true, "(model \u2212 p) / \u03c3"}}) {
        const Decay d = FitDecay(40, c.sigma);
        ASSERT_TRUE(d.fit.success) << d.fit.Summary();
        const std::string page = vrn::ReportHtml(d.fit, WithData(d));
        EXPECT_TRUE(Has(page, "<h1>Fit report</h1>"));
        // The fit section follows the summary.
        ASSERT_TRUE(Has(page, "<section id=\"fit\">"));
        EXPECT_LT(page.find("id=\"summary\""), page.find("id=\"fit\""));
        for (const char* name : {"<td>a</td>", "<td>b</td>", "<td>c</td>"})
            EXPECT_TRUE(Has(page, name)) << name;
        EXPECT_TRUE(Has(page, "id=\"fit-parameters\""));
        EXPECT_TRUE(Has(page, "Standard error"));
        EXPECT_TRUE(Has(page, "id=\"fit-correlation\""));
        EXPECT_TRUE(Has(page, "Residual sd"));
        EXPECT_TRUE(Has(page, "the Gauss-Newton step would lower the cost by"));

        const std::string data = Block(page, "fit-data");
        ASSERT_FALSE(data.empty());
        EXPECT_TRUE(Has(data, "aria-label=\"Data and fit\""));
        EXPECT_EQ(Count(data, "<circle cx"), 40u); // every data point
        EXPECT_EQ(Count(data, "class=\"errbar\""), c.sigma ? 40u : 0u);
        EXPECT_EQ(Count(data, "<polyline"), 1u); // the curve, unbroken
        EXPECT_TRUE(Has(page, "the fitted curve at 400 points"));

        const std::string residuals = Block(page, "fit-residuals");
        ASSERT_FALSE(residuals.empty());
        EXPECT_TRUE(Has(residuals, "aria-label=\"Residuals\""));
        EXPECT_EQ(Count(residuals, "<circle cx"), 40u);
        EXPECT_TRUE(Has(residuals, c.residualLabel)) << c.residualLabel;
        EXPECT_TRUE(Has(residuals, ">t</text>")); // against x
    }
}

TEST(FitReport, WithoutDataTheResidualsAreDrawnByIndex) {
    const Decay d = FitDecay(25, false);
    const std::string page = vrn::ReportHtml(d.fit);
    EXPECT_TRUE(Has(page, "<section id=\"fit\">"));
    EXPECT_TRUE(Block(page, "fit-data").empty());
    const std::string residuals = Block(page, "fit-residuals");
    EXPECT_TRUE(Has(residuals, "residual index"));
    EXPECT_EQ(Count(residuals, "<circle cx"), 25u);
    // Data of another length than the residuals draw no data plot either.
    vrn::ReportOptions ro = WithData(d);
    ro.fit.x.pop_back();
    ro.fit.y.pop_back();
    EXPECT_TRUE(Block(vrn::ReportHtml(d.fit, ro), "fit-data").empty());
}

TEST(FitReport, ManyPointsDrawABoundedNumberOfMarkers) {
    const Decay d = FitDecay(9001, true);
    const std::string page = vrn::ReportHtml(d.fit, WithData(d));
    for (const char* id : {"fit-data", "fit-residuals"}) {
        const size_t markers = Count(Block(page, id), "<circle cx");
        EXPECT_LE(markers, vrn::kReportFitMarkers) << id;
        EXPECT_GE(markers, vrn::kReportFitMarkers / 2) << id;
    }
    EXPECT_TRUE(Has(page, "(every 5th drawn)"));
    EXPECT_LT(page.size(), 2000000u);
}

TEST(FitReport, ACurveThatLeavesTheDataFarBehindIsCutNotScaled) {
    const Decay d = FitDecay(30, false);
    vrn::ReportOptions ro = WithData(d);
    // A pole at t = 3.5 and NaN beyond 6: the picture keeps the data's scale.
    ro.fit.curve = [](double t) { return t > 6.0 ? std::nan("") : 1.0 / (t - 3.5); };
    const std::string page = vrn::ReportHtml(d.fit, ro);
    EXPECT_TRUE(Has(page, "it is not drawn"));
    const std::string data = Block(page, "fit-data");
    EXPECT_GE(Count(data, "<polyline"), 2u); // broken at the pole
    EXPECT_FALSE(Has(data, "1e+")) << "a tick at the pole's scale";
}

TEST(FitReport, AMinimizationHasNoFitSection) {
    vrn::MinimizeOptions o;
    o.recordIterations = true;
    const vrn::MinimizeResult r = vrn::Minimize(
        [](std::span<const double> x) { return (x[0] - 1) * (x[0] - 1) + 2 * x[1] * x[1]; }, {1.0, 1.0}, o);
    const std::string page = vrn::ReportHtml(r);
    EXPECT_TRUE(Has(page, "<h1>Minimization report</h1>"));
    EXPECT_FALSE(Has(page, "id=\"fit\""));
}

} // namespace
