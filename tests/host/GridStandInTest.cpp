// The grid stand-in: header columns, layout, renderings, setups and redraws.
#include "host/grid/GridView.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

CDblHdr Hdr(const char* descriptor, std::initializer_list<double> values) {
    CDblHdr h(descriptor);
    for (double v : values)
        h.Add(v);
    return h;
}

TEST(HdrGridDataSrc, ColumnsAreShownOnceLaidOut) {
    CDblHdr a = Hdr("0|x{\\sub 0}", {1, 2});
    CHdrGridDataSrc src;
    EXPECT_EQ(src.AddCol(&a, nullptr, nullptr), 0);
    EXPECT_EQ(src.AddCol(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(src.GetNumberCols(), 0);
    src.Construct();
    EXPECT_EQ(src.GetNumberCols(), 1);
    EXPECT_EQ(src.GetColLabel(0), "x{\\sub 0}");
    EXPECT_EQ(src.GetHdrGridDataSrc(), &src);
}

TEST(HdrGridDataSrc, CellsShowTheHeadersCurrentValues) {
    CDblHdr a = Hdr("0|a", {1.5, 2});
    CIntHdr n("0|n");
    n.Add(7);
    CHdrGridDataSrc src;
    src.AddCol(&a, nullptr, "Own name");
    src.AddCol(&n, nullptr, nullptr);
    src.Construct();
    EXPECT_EQ(src.GetColLabel(0), "Own name");
    EXPECT_EQ(src.GetColLabel(1), "n");
    a.Add(0.1);
    EXPECT_EQ(src.GetNumberRows(), 3);
    EXPECT_EQ(src.GetCellText(2, 0), "0.1");
    EXPECT_EQ(src.GetCellText(0, 1), "7");
    EXPECT_EQ(src.GetCellText(1, 1), ""); // beyond the end of the column
    a[0] = -4;
    EXPECT_EQ(src.GetCellText(0, 0), "-4");
}

TEST(HdrGridDataSrc, AColumnOutlivesItsHeader) {
    CHdrGridDataSrc src;
    {
        CDblHdr a = Hdr("0|a", {3, 4});
        src.AddCol(&a, nullptr, nullptr);
        src.Construct();
    }
    EXPECT_EQ(src.GetCellText(1, 0), "4");
}

TEST(KelPlainLabel, MarkUpBecomesPlainText) {
    EXPECT_EQ(KelPlainLabel("x{\\sub 0}"), "x_0");
    EXPECT_EQ(KelPlainLabel("Grad{\\sub min}"), "Grad_min");
    EXPECT_EQ(KelPlainLabel("a{\\sup 2}"), "a^2");
    EXPECT_EQ(KelPlainLabel("typsiz"), "typsiz");
    EXPECT_EQ(KelPlainLabel(nullptr), "");
}

TEST(KelGrid, RendersItsColumnsAsCsvAndText) {
    CDblHdr a = Hdr("0|x{\\sub 0}", {1, 2, 3});
    CDblHdr b = Hdr("0|b", {0.5});
    CHdrGridDataSrc src;
    src.AddCol(&a, nullptr, nullptr);
    src.AddCol(&b, nullptr, "with, comma");
    src.Construct();
    CKelGrid grid;
    grid.SetDataSource(&src);
    EXPECT_EQ(grid.GetCSV(), "x_0,\"with, comma\"\n1,0.5\n2,\n3,\n");
    grid.SetHeadings(1, 1);
    EXPECT_EQ(grid.GetCSV(), "#,x_0,\"with, comma\"\n0,1,0.5\n1,2,\n2,3,\n");
    grid.SetHeadings(0, 0);
    EXPECT_EQ(grid.GetText(), "1  0.5\n2\n3\n");
}

TEST(KelGridView, ApplyingASetupStartsTheColumnsAfresh) {
    struct Owner {
        CDblHdr a = Hdr("0|a", {1});
        int calls = 0;
        void Setup(CKelGrid& grid, CKelDataSource* source) {
            ++calls;
            source->GetHdrGridDataSrc()->AddCol(&a, nullptr, nullptr);
            source->GetHdrGridDataSrc()->Construct();
            grid.EnableMenu(1);
        }
    } owner;
    CKelGridView view;
    EXPECT_FALSE(view.ApplySetup());
    view.InstallSetup(new KelGridSetup<Owner>(&Owner::Setup, &owner, 1, 0, "Grid", 0));
    EXPECT_TRUE(view.ApplySetup());
    EXPECT_TRUE(view.ApplySetup());
    EXPECT_EQ(owner.calls, 2);
    EXPECT_EQ(view.GetGrid().GetNumberCols(), 1);
    EXPECT_TRUE(view.GetGrid().IsMenuEnabled());
    EXPECT_NE(view.GetSetup(), nullptr);
    // A setup that keeps the columns adds to them.
    view.InstallSetup(new KelGridSetup<Owner>(&Owner::Setup, &owner, 1, 0, "Grid", 1));
    view.ApplySetup();
    EXPECT_EQ(view.GetGrid().GetNumberCols(), 2);
}

TEST(KelGridView, RedrawAllRepaintsTheViewAtOnce) {
    CDblHdr a = Hdr("0|a", {1, 2});
    CKelGridView view;
    view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 300, 200), nullptr, 1);
    view.GetDataSource()->GetHdrGridDataSrc()->AddCol(&a, nullptr, nullptr);
    view.GetDataSource()->GetHdrGridDataSrc()->Construct();
    const int paints = view.GetPaintCount();
    EXPECT_EQ(view.GetGrid().RedrawAll(), 0);
    EXPECT_EQ(view.GetPaintCount(), paints + 1);
    EXPECT_EQ(view.GetGrid().GetRedrawCount(), 1);
    bool sawValue = false;
    for (const CDrawOp& op : view.GetLastPaint().GetOps())
        if (op.kind == CDrawOp::Text && op.text == "2")
            sawValue = true;
    EXPECT_TRUE(sawValue);
}

TEST(KelGridView, OnlyTheRowsInTheWindowAreDrawn) {
    CDblHdr a("0|a");
    for (int i = 0; i < 1000; i++)
        a.Add(i);
    CKelGridView view;
    view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 300, 100), nullptr, 1);
    view.GetDataSource()->GetHdrGridDataSrc()->AddCol(&a, nullptr, nullptr);
    view.GetDataSource()->GetHdrGridDataSrc()->Construct();
    view.GetGrid().RedrawAll();
    EXPECT_LT(view.GetLastPaint().CountOps(CDrawOp::Text), 10);
}

} // namespace
