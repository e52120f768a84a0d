// Histories of the objective, gradient and parameters, the plot ranges and the colour table.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "views/DiagnosticTestSupport.h"

namespace {

std::vector<double> Values(const CDblHdr& h) {
    std::vector<double> v;
    for (int i = 0; i < h.GetSize(); i++)
        v.push_back(h[i]);
    return v;
}

class DiagnosticHistoryTest : public ::testing::Test {
protected:
    DiagnosticDocument host;
    CVRNUnconstrainedMinimization engine;
};

// ---------------------------------------------------------------- recording

TEST_F(DiagnosticHistoryTest, FiveIterationsLeaveSixEntriesInEveryHistory) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 5);
    ASSERT_EQ(engine.GetIterationCount(), 5);

    EXPECT_EQ(Values(DiagProbe::IterationArray(engine)), (std::vector<double>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 6);
    ASSERT_EQ(DiagProbe::GradientHistory(engine).size(), 2u);
    ASSERT_EQ(DiagProbe::ParameterHistory(engine).size(), 2u);
    for (int i = 0; i < 2; i++) {
        const CDblHdr& g = DiagProbe::GradientHistory(engine)[static_cast<size_t>(i)];
        const CDblHdr& x = DiagProbe::ParameterHistory(engine)[static_cast<size_t>(i)];
        EXPECT_EQ(g.GetSize(), 6);
        EXPECT_EQ(x.GetSize(), 6);
        // The newest entries are the engine's current gradient and point.
        EXPECT_EQ(g[5], engine.GetGradient()[i]);
        EXPECT_EQ(x[5], engine.GetX()[i]);
    }
    // Entry 0 is the starting point, entry k the objective after iteration k.
    EXPECT_EQ(DiagProbe::ErrorHistory(engine)[0], 81.0 + 16.0);
    EXPECT_EQ(DiagProbe::ParameterHistory(engine)[0][0], 3.0);
    EXPECT_EQ(DiagProbe::ErrorHistory(engine)[5], engine.GetFx());
}

TEST_F(DiagnosticHistoryTest, HistoriesAreNamedByComponent) {
    DiagProblem p = Quartic({1.0, 2.0, 3.0, 4.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 1);
    EXPECT_EQ(DiagProbe::GradientHistory(engine)[3].GetMoniker(), "Gradient3");
    EXPECT_EQ(DiagProbe::GradientHistory(engine)[3].GetDescriptor(),
              "0|Gradient3|Gradient3|Gradient3|Gradient3|MA_NULL");
    EXPECT_EQ(DiagProbe::ParameterHistory(engine)[0].GetDescriptor(),
              "0|Param0|Param0|Param0|Param0|MA_NULL");
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetMoniker(), "m_ErrorHistory");
}

TEST_F(DiagnosticHistoryTest, ARunFromIterationZeroStartsTheHistoriesAgain) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 5);
    engine.SetIterationCount(0);
    RunQuartic(engine, p, 2);
    EXPECT_EQ(Values(DiagProbe::IterationArray(engine)), (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 3);
    EXPECT_EQ(DiagProbe::GradientHistory(engine)[1].GetSize(), 3);
}

TEST_F(DiagnosticHistoryTest, ARunContinuingTheCountAppends) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 5);
    RunQuartic(engine, p, 7); // k goes on from 5
    EXPECT_EQ(Values(DiagProbe::IterationArray(engine)), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(DiagProbe::ParameterHistory(engine)[0].GetSize(), 8);
}

TEST_F(DiagnosticHistoryTest, WithoutAllThreePlotsNothingIsRecorded) {
    DiagProblem p = Quartic({3.0, -2.0});
    engine.InstallResidualPlot(&host.doc, "Residual");
    RunQuartic(engine, p, 5);
    EXPECT_EQ(engine.GetIterationCount(), 5);
    EXPECT_FALSE(static_cast<bool>(DiagProbe::ShowDiag(engine)));
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 0);
    EXPECT_TRUE(DiagProbe::GradientHistory(engine).empty());
    // The switch stays off for later runs, also once all plots exist.
    host.InstallPlots(engine);
    RunQuartic(engine, p, 6);
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 0);
}

TEST_F(DiagnosticHistoryTest, AVeryLargeIterationLimitReservesNoHistoryForIt) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallPlots(engine);
    engine.Default();
    engine.SetImplementationOptions(true, true, false);
    engine.Minimize(&p, 1e-30, INT_MAX, 1);
    const int k = engine.GetIterationCount();
    EXPECT_GT(k, 20);
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), k + 1);
    EXPECT_LE(DiagProbe::ErrorHistory(engine).GetDblArray()->capacity(), 10000u + static_cast<size_t>(k));
}

// ---------------------------------------------------------------- initial ranges

TEST_F(DiagnosticHistoryTest, InitialRangesAreTheStartValuesWidenedToZero) {
    DiagProblem p = LinearStart({0.5, 2.0}, {3.0, -1.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 0);
    EXPECT_EQ(DiagProbe::GradMin(engine), -1.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 3.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), 0.0);
    EXPECT_EQ(DiagProbe::ParamMax(engine), 2.0);
}

TEST_F(DiagnosticHistoryTest, PositiveStartGradientsStillGiveARangeFromZero) {
    DiagProblem p = LinearStart({-4.0, -1.0}, {2.0, 5.0});
    host.InstallPlots(engine);
    RunQuartic(engine, p, 0);
    EXPECT_EQ(DiagProbe::GradMin(engine), 0.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 5.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), -4.0);
    EXPECT_EQ(DiagProbe::ParamMax(engine), 0.0);
}

// ---------------------------------------------------------------- window ranges

class PlotRangeTest : public DiagnosticHistoryTest {
protected:
    // Two components with histories of `entries` entries: gradient 0 holds j at entry j,
    // gradient 1 holds j - 100; parameter 0 holds 2j, parameter 1 holds -3j. The current
    // gradient and point are (1000, 1000) and (-1000, -1000).
    void Prepare(int k, int entries) {
        DiagProblem p = Quartic({3.0, -2.0});
        RunQuartic(engine, p, 0); // sizes the arrays for n = 2
        DiagProbe::GradientHistory(engine).assign(2, CDblHdr());
        DiagProbe::ParameterHistory(engine).assign(2, CDblHdr());
        for (int j = 0; j < entries; j++) {
            DiagProbe::GradientHistory(engine)[0].Add(j);
            DiagProbe::GradientHistory(engine)[1].Add(j - 100.0);
            DiagProbe::ParameterHistory(engine)[0].Add(2.0 * j);
            DiagProbe::ParameterHistory(engine)[1].Add(-3.0 * j);
        }
        engine.SetIterationCount(k);
        DiagProbe::Grad(engine)[0] = DiagProbe::Grad(engine)[1] = 1000.0;
        DiagProbe::X(engine)[0] = DiagProbe::X(engine)[1] = -1000.0;
        DiagProbe::GradMin(engine) = DiagProbe::GradMax(engine) = 0.0;
        DiagProbe::ParamMin(engine) = DiagProbe::ParamMax(engine) = 0.0;
    }
};

TEST_F(PlotRangeTest, AtIteration21TheRangesCoverEntries1To20) {
    Prepare(21, 22);
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), 1.0 - 100.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 20.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), -60.0);
    EXPECT_EQ(DiagProbe::ParamMax(engine), 40.0);
}

TEST_F(PlotRangeTest, AtIteration20TheRangesAreStillRunningExtremes) {
    Prepare(20, 21);
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), 0.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 1000.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), -1000.0);
    EXPECT_EQ(DiagProbe::ParamMax(engine), 0.0);
}

TEST_F(PlotRangeTest, WithTrackingOffARangeOnlyWidens) {
    Prepare(30, 31);
    engine.GetbResidualPlotInTrackingMode() = 0;
    DiagProbe::GradMin(engine) = -5.0;
    DiagProbe::GradMax(engine) = 5000.0;
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), -5.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 5000.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), -1000.0);
}

TEST_F(PlotRangeTest, WithoutParametersTheWindowLeavesTheRanges) {
    Prepare(25, 26);
    DiagProbe::GradMin(engine) = -7.0;
    DiagProbe::Parameters(engine) = 0;
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), -7.0);
    DiagProbe::Parameters(engine) = 2;
}

TEST_F(PlotRangeTest, HistoriesStartedLateAreReadOnlyWhereTheyHoldEntries) {
    // At iteration 30 the histories hold only iterations 25 to 30 (6 entries): the
    // window is their entries before the newest.
    Prepare(30, 6);
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), -100.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 4.0);
    EXPECT_EQ(DiagProbe::ParamMin(engine), -12.0);
    EXPECT_EQ(DiagProbe::ParamMax(engine), 8.0);
}

TEST_F(PlotRangeTest, AHistoryOfOneEntryWidensByTheCurrentValues) {
    Prepare(30, 1);
    DiagProbe::SetPlotMinMaxValues(engine);
    EXPECT_EQ(DiagProbe::GradMin(engine), 0.0);
    EXPECT_EQ(DiagProbe::GradMax(engine), 1000.0);
}

// ---------------------------------------------------------------- diagnostics switched on during a run

TEST_F(DiagnosticHistoryTest, DiagnosticsSwitchedOnDuringARunStartTheHistoriesThere) {
    // An earlier run of three parameters leaves histories of another n behind.
    DiagProblem earlier = Quartic({1.0, 2.0, 3.0});
    host.InstallPlots(engine);
    RunQuartic(engine, earlier, 4);
    ASSERT_EQ(DiagProbe::GradientHistory(engine).size(), 3u);

    DiagProblem p = Quartic({3.0, -2.0});
    DiagProbe::ShowDiag(engine) = 0;
    p.onUpdateViews = [&] {
        if (engine.GetIterationCount() == 15)
            DiagProbe::ShowDiag(engine) = 1;
    };
    RunQuartic(engine, p, 30);
    ASSERT_EQ(engine.GetIterationCount(), 30);

    std::vector<double> expected;
    for (int k = 15; k <= 30; k++)
        expected.push_back(k);
    EXPECT_EQ(Values(DiagProbe::IterationArray(engine)), expected);
    EXPECT_EQ(DiagProbe::ErrorHistory(engine).GetSize(), 16);
    ASSERT_EQ(DiagProbe::GradientHistory(engine).size(), 2u);
    ASSERT_EQ(DiagProbe::ParameterHistory(engine).size(), 2u);
    for (const CDblHdr& h : DiagProbe::GradientHistory(engine))
        EXPECT_EQ(h.GetSize(), 16);
    for (const CDblHdr& h : DiagProbe::ParameterHistory(engine))
        EXPECT_EQ(h.GetSize(), 16);

    // The window of iteration 30 is what exists of iterations 10 to 29: entries 0 to 14.
    double gmin = DiagProbe::GradientHistory(engine)[0][0], gmax = gmin;
    for (const CDblHdr& h : DiagProbe::GradientHistory(engine))
        for (int j = 0; j <= 14; j++) {
            gmin = h[j] < gmin ? h[j] : gmin;
            gmax = h[j] > gmax ? h[j] : gmax;
        }
    EXPECT_EQ(DiagProbe::GradMin(engine), gmin);
    EXPECT_EQ(DiagProbe::GradMax(engine), gmax);

    // The gradient plot was set up again for two components.
    CWPlot& plot = host.gradient.GetPlot();
    EXPECT_EQ(plot.GetDataCount(), 2);
    EXPECT_NE(plot.GetDataUI("Gradient1"), nullptr);
    EXPECT_EQ(plot.GetDataUI("Gradient2"), nullptr);
    // Tracking from iteration 20 on shows the 16 entries there are.
    EXPECT_EQ(host.residual.GetPlot().GetFixedMin(KelPlotUI::Bottom), 15.0);
    EXPECT_EQ(host.residual.GetPlot().GetFixedMax(KelPlotUI::Bottom), 30.0);
    EXPECT_EQ(host.residual.GetPlot().GetFixedMin(KelPlotUI::Left), DiagProbe::ErrorHistory(engine)[15]);
    EXPECT_EQ(host.residual.GetPlot().GetFixedMax(KelPlotUI::Left), DiagProbe::ErrorHistory(engine)[0]);
}

// ---------------------------------------------------------------- colours

TEST(DiagnosticColours, TheTableHasTwentySevenFixedEntries) {
    CVRNUnconstrainedMinimization engine;
    const std::vector<unsigned long> expected = {
        RGB(0, 225, 0),   RGB(0, 196, 0),   RGB(0, 128, 0),   RGB(0, 255, 0),   RGB(225, 0, 0),
        RGB(196, 0, 0),   RGB(128, 0, 0),   RGB(255, 0, 0),   RGB(0, 0, 225),   RGB(0, 0, 196),
        RGB(0, 0, 128),   RGB(0, 225, 225), RGB(0, 196, 196), RGB(0, 128, 128), RGB(225, 225, 0),
        RGB(196, 196, 0), RGB(128, 128, 0), RGB(225, 0, 225), RGB(196, 0, 196), RGB(128, 0, 128),
        RGB(0, 225, 128), RGB(0, 128, 128), RGB(225, 128, 0), RGB(128, 225, 0), RGB(225, 0, 128),
        RGB(128, 0, 225), RGB(0, 0, 0)};
    EXPECT_EQ(DiagProbe::Colors(engine), expected);
    EXPECT_EQ(DiagProbe::Colors(engine)[12], 0x00C4C400ul); // (0, 196, 196) stored as 0x00BBGGRR
}

} // namespace
