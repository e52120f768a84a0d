// The residual, gradient and parameters plots: set-up, tracking window, automatic
// ranges, series and colours, and the pictures they draw.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "views/DiagnosticTestSupport.h"

namespace {

using RangeCall = CWPlot::RangeCall;

class DiagnosticPlotsTest : public ::testing::Test {
protected:
    DiagnosticDocument host;
    CVRNUnconstrainedMinimization engine;

    DiagnosticPlotsTest() { host.Attach(engine); }

    // The range calls of a plot made by the updates after iterations 1, 2, ...: an
    // automatic range is one call, a window two. Returns them per iteration.
    static std::vector<std::vector<RangeCall>> PerIteration(const CWPlot& plot, size_t skip) {
        std::vector<std::vector<RangeCall>> out;
        const std::vector<RangeCall>& j = plot.GetRangeJournal();
        for (size_t i = skip; i < j.size();) {
            if (j[i].automatic) {
                out.push_back({j[i]});
                i += 1;
            } else {
                out.push_back({j[i], j[i + 1]});
                i += 2;
            }
        }
        return out;
    }
};

// ---------------------------------------------------------------- tracking window

TEST_F(DiagnosticPlotsTest, AtIteration25TheResidualPlotShowsIterations5To25) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 25);
    ASSERT_EQ(engine.GetIterationCount(), 25);
    const CDblHdr& f = DiagProbe::ErrorHistory(engine);

    const CWPlot& residual = host.residual.GetPlot();
    ASSERT_TRUE(residual.IsFixedRange(KelPlotUI::Bottom));
    EXPECT_EQ(residual.GetFixedMin(KelPlotUI::Bottom), 5.0);
    EXPECT_EQ(residual.GetFixedMax(KelPlotUI::Bottom), 25.0);
    ASSERT_TRUE(residual.IsFixedRange(KelPlotUI::Left));
    EXPECT_EQ(residual.GetFixedMin(KelPlotUI::Left), f[25]);
    EXPECT_EQ(residual.GetFixedMax(KelPlotUI::Left), f[5]);
    EXPECT_LT(f[25], f[5]);
    CDataUI* series = host.residual.GetPlot().GetDataUI("m_ErrorHistory");
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(series->m_nFirstPoint, 5);

    for (CPlotFrameView* view : {&host.gradient, &host.parameters}) {
        const CWPlot& plot = view->GetPlot();
        EXPECT_EQ(plot.GetFixedMin(KelPlotUI::Bottom), 5.0);
        EXPECT_EQ(plot.GetFixedMax(KelPlotUI::Bottom), 25.0);
        EXPECT_EQ(view->GetPlot().GetDataAt(1)->m_nFirstPoint, 5);
    }
    EXPECT_EQ(host.gradient.GetPlot().GetFixedMin(KelPlotUI::Left), DiagProbe::GradMin(engine));
    EXPECT_EQ(host.gradient.GetPlot().GetFixedMax(KelPlotUI::Left), DiagProbe::GradMax(engine));
    EXPECT_EQ(host.parameters.GetPlot().GetFixedMin(KelPlotUI::Left), DiagProbe::ParamMin(engine));
    EXPECT_EQ(host.parameters.GetPlot().GetFixedMax(KelPlotUI::Left), DiagProbe::ParamMax(engine));
}

TEST_F(DiagnosticPlotsTest, ThePlotsSwitchToTheWindowAtIteration20) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    // The residual plot's own set-up (automatic) comes before the run.
    host.residual.GetPlot().ClearRangeJournal();
    RunQuartic(engine, p, 22);
    ASSERT_EQ(engine.GetIterationCount(), 22);

    const auto residual = PerIteration(host.residual.GetPlot(), 0);
    ASSERT_EQ(residual.size(), 22u);
    for (int k = 1; k <= 19; k++)
        EXPECT_TRUE(residual[static_cast<size_t>(k - 1)][0].automatic) << k;
    const auto& at20 = residual[19];
    ASSERT_EQ(at20.size(), 2u);
    EXPECT_EQ(at20[0].loc, KelPlotUI::Bottom);
    EXPECT_EQ(at20[0].lo, 0.0);
    EXPECT_EQ(at20[0].hi, 20.0);
    EXPECT_EQ(at20[1].loc, KelPlotUI::Left);
    EXPECT_EQ(at20[1].lo, DiagProbe::ErrorHistory(engine)[20]);
    EXPECT_EQ(at20[1].hi, DiagProbe::ErrorHistory(engine)[0]);

    // The gradient plot: its set-up at the start of the run, then one update per iteration.
    const auto gradient = PerIteration(host.gradient.GetPlot(), 1);
    ASSERT_EQ(gradient.size(), 22u);
    EXPECT_TRUE(gradient[18][0].automatic);
    ASSERT_EQ(gradient[19].size(), 2u);
    EXPECT_EQ(gradient[19][0].lo, 0.0);
    EXPECT_EQ(gradient[19][0].hi, 20.0);
    EXPECT_FALSE(gradient[21][1].automatic);
    EXPECT_EQ(gradient[21][1].lo, DiagProbe::GradMin(engine));
    EXPECT_EQ(gradient[21][1].hi, DiagProbe::GradMax(engine));
}

TEST_F(DiagnosticPlotsTest, WithTrackingOffEveryUpdateUsesTheAutomaticRange) {
    DiagProblem p = Quartic({3.0, -2.0});
    engine.GetbResidualPlotInTrackingMode() = 0;
    host.InstallPlots(engine);
    RunQuartic(engine, p, 25);
    ASSERT_EQ(engine.GetIterationCount(), 25);
    for (CPlotFrameView* view : {&host.residual, &host.gradient, &host.parameters}) {
        const CWPlot& plot = view->GetPlot();
        ASSERT_FALSE(plot.GetRangeJournal().empty());
        for (const RangeCall& c : plot.GetRangeJournal())
            EXPECT_TRUE(c.automatic);
        EXPECT_FALSE(plot.IsFixedRange(KelPlotUI::Bottom));
        EXPECT_FALSE(plot.IsFixedRange(KelPlotUI::Left));
        EXPECT_EQ(view->GetPlot().GetDataAt(0)->m_nFirstPoint, 0);
    }
    EXPECT_EQ(host.residual.GetPlot().GetRangeJournal().size(), 26u);
}

TEST_F(DiagnosticPlotsTest, APlotSetUpAtALateCountWithoutHistoriesReadsNothing) {
    engine.SetIterationCount(25);
    host.InstallPlots(engine);
    const CWPlot& residual = host.residual.GetPlot();
    ASSERT_EQ(residual.GetRangeJournal().size(), 1u);
    EXPECT_TRUE(residual.GetRangeJournal()[0].automatic);
}

// ---------------------------------------------------------------- set-up

TEST_F(DiagnosticPlotsTest, TheResidualPlotIsSetUpWhenInstalled) {
    engine.InstallResidualPlot(&host.doc, "Residual");
    EXPECT_EQ(host.residual.GetProcessCount(), 1);
    EXPECT_EQ(DiagProbe::ResidualView(engine), &host.residual);
    const CWPlot& plot = host.residual.GetPlot();
    EXPECT_EQ(plot.GetPlotID(), "Residual");
    EXPECT_EQ(plot.GetMoniker(), "Residual");
    EXPECT_EQ(plot.GetTitle(), "Residual");
    EXPECT_EQ(plot.GetSubTitle(), "Quartic test");
    EXPECT_EQ(plot.GetTitleFlag(), 2);
    const CAxisUI* bottom = plot.GetAxis(KelPlotUI::Bottom);
    const CAxisUI* left = plot.GetAxis(KelPlotUI::Left);
    ASSERT_NE(bottom, nullptr);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(bottom->m_strLabel, "Iterations");
    EXPECT_EQ(bottom->m_Type, CAxisUI::Linear);
    EXPECT_EQ(bottom->m_bGridLines, 1);
    EXPECT_EQ(left->m_strLabel, "Residual Error");
    EXPECT_EQ(left->m_Type, CAxisUI::Log10);
    EXPECT_EQ(left->m_bGridLines, 1);
    ASSERT_EQ(plot.GetDataCount(), 1);
    CDataUI* series = host.residual.GetPlot().GetDataUI("m_ErrorHistory");
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(series->m_nLineWidth, 3);
    EXPECT_TRUE(series->ShowsXOf(DiagProbe::IterationArray(engine)));
    EXPECT_TRUE(series->ShowsYOf(DiagProbe::ErrorHistory(engine)));
    // The component plots have no histories yet: they are reset and left empty.
    engine.InstallGradientPlot(&host.doc, "Gradient");
    EXPECT_EQ(DiagProbe::GradientView(engine), &host.gradient);
    EXPECT_EQ(host.gradient.GetPlot().GetDataCount(), 0);
    EXPECT_EQ(host.gradient.GetPlot().GetAxisCount(), 0);
}

TEST_F(DiagnosticPlotsTest, ComponentPlotsHoldOneSeriesPerComponentInTheTableColours) {
    DiagProblem p = Quartic({1.0, 2.0, 3.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 2);
    const std::vector<unsigned long>& colours = DiagProbe::Colors(engine);
    for (int i = 0; i < 3; i++) {
        CDataUI* g = host.gradient.GetPlot().GetDataUI(CString("Gradient") + CString(std::to_string(i)));
        CDataUI* x = host.parameters.GetPlot().GetDataUI(CString("Param") + CString(std::to_string(i)));
        ASSERT_NE(g, nullptr);
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(g->m_Color, colours[static_cast<size_t>(i)]);
        EXPECT_EQ(x->m_Color, colours[static_cast<size_t>(i)]);
        EXPECT_TRUE(g->ShowsYOf(DiagProbe::GradientHistory(engine)[static_cast<size_t>(i)]));
        EXPECT_TRUE(x->ShowsYOf(DiagProbe::ParameterHistory(engine)[static_cast<size_t>(i)]));
        EXPECT_TRUE(g->ShowsXOf(DiagProbe::IterationArray(engine)));
        EXPECT_EQ(g->m_bLegend, 1);
    }
    EXPECT_EQ(host.gradient.GetPlot().GetDataCount(), 3);
    EXPECT_EQ(host.gradient.GetPlot().GetPlotDataBkColor(), RGB(0, 0, 0));
    EXPECT_EQ(host.gradient.GetPlot().GetAxis(KelPlotUI::Left)->m_strLabel, "Gradient");
    EXPECT_EQ(host.parameters.GetPlot().GetAxis(KelPlotUI::Left)->m_strLabel, "Parameters");
    EXPECT_EQ(host.parameters.GetPlot().GetAxis(KelPlotUI::Bottom)->m_bGridLines, 0);
    EXPECT_EQ(host.parameters.GetPlot().GetTitle(), "Parameters");
}

TEST_F(DiagnosticPlotsTest, SeriesColoursRepeatAfterTwentySeven) {
    std::vector<double> x0;
    for (int i = 0; i < 29; i++)
        x0.push_back(1.0 + i);
    DiagProblem p = Quartic(x0);
    host.InstallPlots(engine);
    RunQuartic(engine, p, 1);
    CWPlot& plot = host.gradient.GetPlot();
    ASSERT_EQ(plot.GetDataCount(), 29);
    EXPECT_EQ(plot.GetDataUI("Gradient26")->m_Color, RGB(0, 0, 0));
    EXPECT_EQ(plot.GetDataUI("Gradient27")->m_Color, plot.GetDataUI("Gradient0")->m_Color);
    EXPECT_EQ(plot.GetDataUI("Gradient28")->m_Color, plot.GetDataUI("Gradient1")->m_Color);
    EXPECT_EQ(plot.GetDataUI("Gradient12")->m_Color, RGB(0, 196, 196));
}

TEST_F(DiagnosticPlotsTest, InstallingNeedsAnIterationLimitADocumentAndAMatchingView) {
    engine.InstallResidualPlot(); // no document yet
    EXPECT_EQ(host.residual.GetProcessCount(), 0);

    DiagProbe::Limit(engine) = 0;
    engine.InstallResidualPlot(&host.doc, "Residual");
    EXPECT_EQ(host.residual.GetProcessCount(), 0);
    EXPECT_EQ(DiagProbe::ResidualView(engine), nullptr);

    DiagProbe::Limit(engine) = 10000;
    engine.InstallResidualPlot(&host.doc, "NoSuchView");
    engine.InstallResidualPlot(&host.doc, "Hessian"); // not a plot view
    EXPECT_EQ(DiagProbe::ResidualView(engine), nullptr);
    EXPECT_EQ(host.residual.GetSetup(), nullptr);
}

TEST_F(DiagnosticPlotsTest, AHostInstallingOnlyTheResidualPlotGetsNoDiagnostics) {
    DiagProblem p = Quartic({3.0, -2.0});
    engine.InstallResidualPlot(&host.doc, "Residual");
    engine.InstallGradientPlot(&host.doc, "Gradient");
    engine.InstallParametersPlot(&host.doc, "Misspelt");
    RunQuartic(engine, p, 5);
    EXPECT_FALSE(static_cast<bool>(DiagProbe::ShowDiag(engine)));
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 0);
    EXPECT_EQ(host.gradient.GetPlot().GetDataCount(), 0);
    EXPECT_EQ(host.residual.GetPlot().GetRangeJournal().size(), 1u); // its set-up only
}

TEST_F(DiagnosticPlotsTest, UpdatesInvalidateThePlotViews) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    const int before = host.residual.GetInvalidateCount();
    RunQuartic(engine, p, 4);
    EXPECT_GE(host.residual.GetInvalidateCount(), before + 4);
    EXPECT_TRUE(host.gradient.IsErasePending());
}

TEST_F(DiagnosticPlotsTest, PlotsStayDrawableAfterTheEngineIsGone) {
    DiagProblem p = Quartic({3.0, -2.0});
    {
        auto owned = std::make_unique<CVRNUnconstrainedMinimization>();
        host.InstallPlots(*owned);
        RunQuartic(*owned, p, 6);
    }
    CDC dc;
    host.gradient.GetPlot().Draw(&dc, CRect(0, 0, 640, 400));
    EXPECT_GT(dc.CountOps(CDrawOp::Line), 10);
    EXPECT_EQ(host.gradient.GetPlot().GetDataAt(0)->GetPointCount(), 7);
}

// ---------------------------------------------------------------- pictures

TEST_F(DiagnosticPlotsTest, ThePicturesHaveTitlesAxisLabelsTicksAndColouredSeries) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 8);

    auto texts = [](const CDC& dc) {
        std::vector<std::string> out;
        for (const CDrawOp& op : dc.GetOps())
            if (op.kind == CDrawOp::Text)
                out.push_back(op.text);
        return out;
    };
    auto has = [](const std::vector<std::string>& v, const std::string& s) {
        for (const std::string& t : v)
            if (t == s)
                return true;
        return false;
    };
    auto linesIn = [](const CDC& dc, COLORREF c) {
        int n = 0;
        for (const CDrawOp& op : dc.GetOps())
            if (op.kind == CDrawOp::Line && op.color == c)
                ++n;
        return n;
    };

    CDC residual;
    host.residual.GetPlot().Draw(&residual, CRect(0, 0, 640, 400));
    const auto rt = texts(residual);
    EXPECT_TRUE(has(rt, "Residual"));
    EXPECT_TRUE(has(rt, "Quartic test"));
    EXPECT_TRUE(has(rt, "Iterations"));
    EXPECT_TRUE(has(rt, "Residual Error"));
    EXPECT_TRUE(has(rt, "0"));
    EXPECT_TRUE(has(rt, "8"));
    EXPECT_GE(linesIn(residual, RGB(0, 0, 160)), 8);

    CDC gradient;
    host.gradient.GetPlot().Draw(&gradient, CRect(0, 0, 640, 400));
    const auto gt = texts(gradient);
    EXPECT_TRUE(has(gt, "Gradient"));
    EXPECT_TRUE(has(gt, "Gradient0"));
    EXPECT_TRUE(has(gt, "Gradient1"));
    EXPECT_GE(linesIn(gradient, DiagProbe::Colors(engine)[0]), 8);
    EXPECT_GE(linesIn(gradient, DiagProbe::Colors(engine)[1]), 8);
    const std::string svg = host.gradient.GetPlotSVG();
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("Gradient1"), std::string::npos);
}

} // namespace
