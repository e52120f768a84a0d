// The plot stand-in: series sharing header data, ranges and ticks, drawing.
#include "host/plot/PlotViews.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

CDblHdr Hdr(const char* descriptor, std::vector<double> values) {
    CDblHdr h(descriptor);
    for (double v : values)
        h.Add(v);
    return h;
}

class PlotTest : public ::testing::Test {
protected:
    PlotTest()
        : x(Hdr("0|xs", {0, 1, 2, 3, 4})),
          y(Hdr("0|Values|Values|Values|Values|MA_NULL", {10, 5, 2.5, 1, 0.5})),
          bottom(KelPlotUI::Bottom, 0, CAxisUI::Linear, 0), left(KelPlotUI::Left, 0, CAxisUI::Linear, 0) {
        bottom.m_strLabel = "Iterations";
        left.m_strLabel = "Value";
        plot.AddAxis(bottom);
        plot.AddAxis(left);
    }
    std::vector<const CDrawOp*> Lines(const CDC& dc, COLORREF c) {
        std::vector<const CDrawOp*> out;
        for (const CDrawOp& op : dc.GetOps())
            if (op.kind == CDrawOp::Line && op.color == c)
                out.push_back(&op);
        return out;
    }
    CDblHdr x, y;
    CAxisUI bottom, left;
    CWPlot plot;
};

TEST_F(PlotTest, ASeriesIsNamedAfterItsYHeaderAndSharesTheData) {
    CDataUI d(x, y, &bottom, &left, KelSymbols::None);
    EXPECT_EQ(d.m_strName, "Values");
    plot.AddDataUI(d, 1);
    CDataUI* kept = plot.GetDataUI("Values");
    ASSERT_NE(kept, nullptr);
    EXPECT_NE(kept, &d);
    y.Add(0.25);
    x.Add(5);
    EXPECT_EQ(kept->GetPointCount(), 6);
    EXPECT_TRUE(kept->ShowsYOf(y));
    EXPECT_EQ(kept->m_XAxis.GetAxisLoc(), KelPlotUI::Bottom);
    EXPECT_EQ(plot.GetDataUI("Other"), nullptr);
}

TEST_F(PlotTest, AddingASeriesOfTheSameNameReplacesIt) {
    CDataUI d(x, y, &bottom, &left, KelSymbols::None);
    plot.AddDataUI(d, 1);
    d.m_Color = RGB(1, 2, 3);
    plot.AddDataUI(d, 1);
    EXPECT_EQ(plot.GetDataCount(), 1);
    EXPECT_EQ(plot.GetDataUI("Values")->m_Color, RGB(1, 2, 3));
}

TEST_F(PlotTest, ResetForgetsEverythingButTheJournal) {
    plot.AddDataUI(CDataUI(x, y, &bottom, &left, KelSymbols::None), 1);
    plot.SetMinMax(0, 1, KelPlotUI::Left, 0);
    plot.SetTitle("T", 0, -32600);
    plot.Reset();
    EXPECT_EQ(plot.GetDataCount(), 0);
    EXPECT_EQ(plot.GetAxisCount(), 0);
    EXPECT_FALSE(plot.IsFixedRange(KelPlotUI::Left));
    EXPECT_TRUE(plot.GetTitle().IsEmpty());
    EXPECT_EQ(plot.GetRangeJournal().size(), 1u);
}

TEST_F(PlotTest, AutomaticRangesFollowTheDataFromTheFirstShownPoint) {
    CDataUI d(x, y, &bottom, &left, KelSymbols::None);
    d.m_nFirstPoint = 2;
    plot.AddDataUI(d, 1);
    plot.AutoScale(0);
    CWPlot::AxisScale h = plot.ComputeScale(KelPlotUI::Bottom);
    EXPECT_EQ(h.lo, 2.0);
    EXPECT_EQ(h.hi, 4.0);
    plot.AutoScale(1);
    CWPlot::AxisScale v = plot.ComputeScale(KelPlotUI::Left, 300);
    EXPECT_LE(v.lo, 0.5);
    EXPECT_GE(v.hi, 2.5);
    EXPECT_GE(v.ticks.size(), 2u);
    EXPECT_EQ(v.ticks.front(), v.lo); // widened to whole steps
}

TEST_F(PlotTest, FixedRangesAreKeptInEitherOrder) {
    plot.SetMinMax(8.0, 3.0, KelPlotUI::Left, 0);
    CWPlot::AxisScale v = plot.ComputeScale(KelPlotUI::Left);
    EXPECT_EQ(v.lo, 3.0);
    EXPECT_EQ(v.hi, 8.0);
    for (double t : v.ticks) {
        EXPECT_GE(t, 3.0);
        EXPECT_LE(t, 8.0);
    }
}

TEST_F(PlotTest, ADegenerateRangeIsOpenedAroundItsValue) {
    plot.SetMinMax(2.0, 2.0, KelPlotUI::Left, 0);
    CWPlot::AxisScale v = plot.ComputeScale(KelPlotUI::Left);
    EXPECT_LT(v.lo, 2.0);
    EXPECT_GT(v.hi, 2.0);
    plot.SetMinMax(0.0, 0.0, KelPlotUI::Bottom, 0);
    CWPlot::AxisScale h = plot.ComputeScale(KelPlotUI::Bottom);
    EXPECT_EQ(h.lo, -1.0);
    EXPECT_EQ(h.hi, 1.0);
}

TEST_F(PlotTest, ALogarithmicAxisTicksDecadesAndIgnoresValuesThatAreNotPositive) {
    CAxisUI logAxis(KelPlotUI::Left, 0, CAxisUI::Log10, 0);
    plot.AddAxis(logAxis);
    CDblHdr ys = Hdr("0|f", {1000, 1, 0.001, 0.0, -5});
    plot.AddDataUI(CDataUI(x, ys, &bottom, &logAxis, KelSymbols::None), 1);
    plot.AutoScale(1);
    CWPlot::AxisScale v = plot.ComputeScale(KelPlotUI::Left);
    EXPECT_TRUE(v.log);
    EXPECT_DOUBLE_EQ(v.lo, 0.001);
    EXPECT_DOUBLE_EQ(v.hi, 1000.0);
    ASSERT_EQ(v.ticks.size(), 7u);
    // A fixed range that is not positive cannot be used on it: the data's range is.
    plot.SetMinMax(0.0, 10.0, KelPlotUI::Left, 0);
    EXPECT_DOUBLE_EQ(plot.ComputeScale(KelPlotUI::Left).lo, 0.001);
}

TEST_F(PlotTest, DrawingKeepsTheSeriesInsideTheDataArea) {
    CDataUI d(x, y, &bottom, &left, KelSymbols::None);
    d.m_Color = RGB(0, 225, 0);
    plot.AddDataUI(d, 1);
    plot.SetMinMax(1.0, 3.0, KelPlotUI::Bottom, 0); // points 0 and 4 lie outside
    plot.SetMinMax(0.0, 6.0, KelPlotUI::Left, 0);   // and so does the value 10
    CDC dc;
    plot.Draw(&dc, CRect(0, 0, 400, 300));
    // The data area is the black-framed rectangle.
    const CDrawOp* frame = nullptr;
    for (const CDrawOp& op : dc.GetOps())
        if (op.kind == CDrawOp::Rectangle)
            frame = &op;
    ASSERT_NE(frame, nullptr);
    const auto lines = Lines(dc, RGB(0, 225, 0));
    ASSERT_FALSE(lines.empty());
    for (const CDrawOp* l : lines)
        for (const CPoint& p : {l->from, l->to}) {
            EXPECT_GE(p.x, frame->rect.left);
            EXPECT_LE(p.x, frame->rect.right);
            EXPECT_GE(p.y, frame->rect.top);
            EXPECT_LE(p.y, frame->rect.bottom);
        }
}

TEST_F(PlotTest, NullValuesBreakTheLine) {
    CDblHdr gappy = Hdr("0|g", {1, 2, -32600.0, 3, 4});
    CDataUI d(x, gappy, &bottom, &left, KelSymbols::None);
    d.m_Color = RGB(200, 0, 0);
    plot.AddDataUI(d, 1);
    plot.AutoScale(1);
    CDC dc;
    plot.Draw(&dc, CRect(0, 0, 400, 300));
    EXPECT_EQ(Lines(dc, RGB(200, 0, 0)).size(), 2u); // 0-1 and 3-4
}

TEST_F(PlotTest, ThePictureHasTitlesLabelsTicksAndALegend) {
    CDataUI d(x, y, &bottom, &left, KelSymbols::None);
    d.m_bLegend = 1;
    plot.AddDataUI(d, 1);
    plot.SetTitle("Title", 0, -32600);
    plot.SetSubTitle("Sub", 0, -32600);
    plot.SetTitleFlag(2);
    plot.AutoScale(1);
    CDC dc;
    plot.Draw(&dc, CRect(0, 0, 640, 400));
    std::vector<std::string> texts;
    int upright = 0;
    for (const CDrawOp& op : dc.GetOps())
        if (op.kind == CDrawOp::Text) {
            texts.push_back(op.text);
            if (op.text == "Value")
                upright = op.fontEscapement;
        }
    auto has = [&](const char* s) { return std::find(texts.begin(), texts.end(), s) != texts.end(); };
    EXPECT_TRUE(has("Title"));
    EXPECT_TRUE(has("Sub"));
    EXPECT_TRUE(has("Iterations"));
    EXPECT_TRUE(has("Value"));
    EXPECT_TRUE(has("Values")); // legend
    EXPECT_TRUE(has("0"));
    EXPECT_TRUE(has("4"));
    EXPECT_EQ(upright, 900); // the vertical axis label runs upward
    // With title flag 1 the subtitle is left out.
    plot.SetTitleFlag(1);
    CDC dc1;
    plot.Draw(&dc1, CRect(0, 0, 640, 400));
    for (const CDrawOp& op : dc1.GetOps())
        EXPECT_NE(op.text, "Sub");
}

TEST(PlotFrameView, AppliesItsSetupWithItselfAndItsPlot) {
    struct Owner {
        CKelPlotDllView* seen = nullptr;
        CWPlot* plot = nullptr;
        void Setup(CKelPlotDllView* v, CWPlot& p) {
            seen = v;
            plot = &p;
            p.SetTitle("Set up", 0, -32600);
        }
    } owner;
    CDocument doc;
    CPlotFrameView view;
    doc.AddView(&view);
    EXPECT_FALSE(view.ProcessSetup());
    view.InstallSetup(new PlotSetup<Owner>(&owner, &Owner::Setup, &doc));
    EXPECT_EQ(view.GetSetup()->GetDocument(), &doc);
    EXPECT_TRUE(view.ProcessSetup());
    EXPECT_EQ(owner.seen, &view);
    EXPECT_EQ(owner.plot, &view.GetPlot());
    EXPECT_EQ(view.GetPlot().GetTitle(), "Set up");
    EXPECT_TRUE(view.IsInvalid());
    EXPECT_EQ(view.GetiDataFrameInterface()->GetFramePlot(), &view.GetPlot());
    EXPECT_TRUE(view.IsKindOf(RUNTIME_CLASS(CKelPlotDllView)));
    // Empty pick hooks are not called.
    view.GetSetup()->OnPointPicked(0, 1);
    view.GetSetup()->OnSeriesPicked(0);
}

TEST(PlotFrameView, PaintsThePlotOverItsClientArea) {
    CPlotFrameView view;
    view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 300, 200), nullptr, 1);
    view.GetPlot().SetPlotBkColor(RGB(250, 250, 250));
    view.UpdateWindow();
    ASSERT_GE(view.GetPaintCount(), 1);
    const CDrawOp& first = view.GetLastPaint().GetOps().front();
    EXPECT_EQ(first.kind, CDrawOp::Fill);
    EXPECT_EQ(first.rect, CRect(0, 0, 300, 200));
    EXPECT_EQ(first.color, RGB(250, 250, 250));
    const std::string svg = view.GetPlotSVG();
    EXPECT_NE(svg.find("width=\"300\" height=\"200\""), std::string::npos);
}

} // namespace
