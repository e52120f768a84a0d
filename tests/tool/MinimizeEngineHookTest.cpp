// vrn::Minimize hands its engine to the host before and after the run.
#include <gtest/gtest.h>

#include <vector>

#include "host/plot/PlotViews.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/Minimize.h"
#include "views/DiagnosticViews.h"

#include <memory>

namespace {

double Rosenbrock(std::span<const double> x) {
    const double t1 = x[1] - x[0] * x[0];
    const double t2 = 1.0 - x[0];
    return 100.0 * t1 * t1 + t2 * t2;
}

TEST(MinimizeEngineHook, IsCalledBeforeAndAfterTheRunWithTheSameEngine) {
    std::vector<std::pair<CVRNUnconstrainedMinimization*, bool>> calls;
    int iterationsSeen = -1;
    vrn::MinimizeOptions options;
    options.onEngine = [&](CVRNUnconstrainedMinimization& e, bool finished) {
        calls.emplace_back(&e, finished);
        if (finished)
            iterationsSeen = e.GetIterationCount();
    };
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, {-1.2, 1.0}, options);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].second);
    EXPECT_TRUE(calls[1].second);
    EXPECT_EQ(calls[0].first, calls[1].first);
    EXPECT_EQ(iterationsSeen, r.iterations);
}

TEST(MinimizeEngineHook, PlotsInstalledThroughItReceiveTheHistories) {
    CDocument doc;
    CPlotFrameView residual, gradient, parameters;
    residual.SetUniqueViewID("R");
    gradient.SetUniqueViewID("G");
    parameters.SetUniqueViewID("P");
    doc.AddView(&residual);
    doc.AddView(&gradient);
    doc.AddView(&parameters);
    std::unique_ptr<CVRNDiagnosticViews> display;
    vrn::MinimizeOptions options;
    options.onEngine = [&](CVRNUnconstrainedMinimization& e, bool finished) {
        if (finished)
            return;
        display = std::make_unique<CVRNDiagnosticViews>(e);
        e.InstallResidualPlot(&doc, "R");
        e.InstallGradientPlot(&doc, "G");
        e.InstallParametersPlot(&doc, "P");
    };
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, {-1.2, 1.0}, options);
    ASSERT_GT(r.iterations, 5);
    // The plots keep the recorded values after the engine is gone.
    const CDataUI* f = residual.GetPlot().GetDataUI("m_ErrorHistory");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetPointCount(), r.iterations + 1);
    EXPECT_EQ(gradient.GetPlot().GetDataCount(), 2);
    EXPECT_EQ(parameters.GetPlot().GetDataUI("Param1")->GetYData()[0], 1.0);
}

} // namespace
