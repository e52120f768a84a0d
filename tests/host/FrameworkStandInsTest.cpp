#include "host/framework/Clipboard.h"
#include "host/framework/DC.h"
#include "host/framework/ListView.h"
#include "host/framework/ScrollView.h"
#include "host/framework/View.h"
#include "host/sparse/SparseMatrix.h"
#include "host/viewid/UniqueViewID.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A plain drawing view: does not suppress the erase.
class CPlainView : public CView {
    DECLARE_DYNCREATE(CPlainView)
public:
    void OnDraw(CDC* pDC) override {
        ++draws;
        pDC->TextOut(1, 2, "x");
    }
    int draws = 0;
};
IMPLEMENT_DYNCREATE(CPlainView, CView)

// A view class without a run-time class of its own.
class CDerivedPlainView : public CPlainView {};

class CTestScrollView : public CScrollView, public CUniqueViewID {
    DECLARE_DYNAMIC(CTestScrollView)
public:
    void OnDraw(CDC* pDC) override { origin = pDC->GetViewportOrg(); }
    CPoint origin;
};
IMPLEMENT_DYNAMIC(CTestScrollView, CScrollView)

// ---------------------------------------------------------------- run-time classes

TEST(FrameworkObject, RunTimeClassChainsAndCreation) {
    CPlainView v;
    EXPECT_TRUE(v.IsKindOf(RUNTIME_CLASS(CPlainView)));
    EXPECT_TRUE(v.IsKindOf(RUNTIME_CLASS(CView)));
    EXPECT_TRUE(v.IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_TRUE(v.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(v.IsKindOf(RUNTIME_CLASS(CScrollView)));
    EXPECT_FALSE(v.IsKindOf(nullptr));
    CDerivedPlainView d;
    EXPECT_EQ(d.GetRuntimeClass(), RUNTIME_CLASS(CPlainView));
    // Classes declared without creation cannot be created by class.
    EXPECT_EQ(RUNTIME_CLASS(CScrollView)->CreateObject(), nullptr);
    CObject* created = RUNTIME_CLASS(CPlainView)->CreateObject();
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->IsKindOf(RUNTIME_CLASS(CPlainView)));
    delete created;
}

// ---------------------------------------------------------------- documents

TEST(FrameworkDocument, ViewsAreListedInOrderAndLeaveWhenDestroyed) {
    CDocument doc;
    CPlainView a, b;
    doc.AddView(&a);
    doc.AddView(&b);
    doc.AddView(&a); // already there
    EXPECT_EQ(doc.GetViewCount(), 2);
    POSITION pos = doc.GetFirstViewPosition();
    EXPECT_EQ(doc.GetNextView(pos), &a);
    EXPECT_EQ(doc.GetNextView(pos), &b);
    EXPECT_EQ(pos, nullptr);
    EXPECT_EQ(a.GetDocument(), &doc);
    {
        CPlainView c;
        doc.AddView(&c);
        EXPECT_EQ(doc.GetViewCount(), 3);
    }
    EXPECT_EQ(doc.GetViewCount(), 2);

    CDocument other;
    other.AddView(&b); // moves
    EXPECT_EQ(doc.GetViewCount(), 1);
    EXPECT_EQ(b.GetDocument(), &other);
    EXPECT_EQ(doc.FindView([&](CView* v) { return v == &b; }), nullptr);
    EXPECT_EQ(other.FindView([&](CView* v) { return v->IsKindOf(RUNTIME_CLASS(CPlainView)); }), &b);
}

TEST(FrameworkDocument, AdoptedViewsAreDeletedAndOthersDetached) {
    CPlainView outlives;
    {
        CDocument doc;
        doc.AddView(&outlives);
        doc.AdoptView(static_cast<CView*>(RUNTIME_CLASS(CPlainView)->CreateObject()));
        EXPECT_EQ(doc.GetViewCount(), 2);
    }
    EXPECT_EQ(outlives.GetDocument(), nullptr);
}

TEST(FrameworkDocument, UpdateAllViewsSkipsTheSenderAndInvalidates) {
    CDocument doc;
    doc.SetTitle("Well 7");
    CPlainView a, b;
    doc.AddView(&a);
    doc.AddView(&b);
    doc.UpdateAllViews(&a);
    EXPECT_FALSE(a.IsInvalid());
    EXPECT_TRUE(b.IsInvalid());
    EXPECT_EQ(doc.GetTitle(), "Well 7");
}

TEST(FrameworkDocument, FindUniqueViewChecksClassAndIdentifier) {
    CDocument doc;
    CPlainView plain;
    CTestScrollView s1, s2;
    s1.SetUniqueViewID("one");
    s2.SetUniqueViewID("two");
    doc.AddView(&plain);
    doc.AddView(&s1);
    doc.AddView(&s2);
    EXPECT_EQ(FindUniqueView<CTestScrollView>(&doc, "two"), &s2);
    EXPECT_EQ(FindUniqueView<CTestScrollView>(&doc, "three"), nullptr);
    EXPECT_EQ(FindUniqueView<CTestScrollView>(&doc, ""), nullptr);
    EXPECT_EQ(FindUniqueView<CTestScrollView>(nullptr, "one"), nullptr);
    EXPECT_FALSE(s1.IsUniqueID(nullptr));
}

// ---------------------------------------------------------------- windows and painting

TEST(FrameworkWindow, InvalidationPaintsOnlyOnUpdate) {
    CPlainView v;
    v.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 50, 40), nullptr, 1);
    v.UpdateWindow();
    EXPECT_EQ(v.draws, 1);
    // The default erase fills the client area with the window colour, before the drawing.
    const std::vector<CDrawOp>& ops = v.GetLastPaint().GetOps();
    ASSERT_EQ(ops.size(), 2U);
    EXPECT_EQ(ops[0].kind, CDrawOp::Fill);
    EXPECT_EQ(ops[0].rect, CRect(0, 0, 50, 40));
    EXPECT_EQ(ops[0].color, GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(ops[1].kind, CDrawOp::Text);

    v.UpdateWindow(); // valid: nothing to paint
    EXPECT_EQ(v.draws, 1);
    v.Invalidate(FALSE);
    v.UpdateWindow();
    EXPECT_EQ(v.draws, 2);
    EXPECT_EQ(v.GetLastPaint().GetOps().size(), 1U); // no erase requested
}

TEST(FrameworkWindow, RedrawWindowFollowsItsFlags) {
    CPlainView v;
    v.SetClientSize(10, 10);
    v.UpdateWindow();
    const int draws = v.draws;
    v.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE);
    EXPECT_EQ(v.draws, draws);
    EXPECT_TRUE(v.IsInvalid());
    EXPECT_FALSE(v.IsErasePending());
    v.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(v.draws, draws + 1);
    EXPECT_FALSE(v.IsInvalid());
    EXPECT_EQ(v.GetLastRedrawFlags(), RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(v.GetRedrawCount(), 2);
    EXPECT_EQ(v.GetDefaultCount(WM_ERASEBKGND), 2); // after the resize and after RDW_ERASE
}

TEST(FrameworkWindow, DeviceContextsAreLentAndGivenBack) {
    CPlainView v;
    CDC* dc = v.GetDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(v.ReleaseDC(dc), 1);
    EXPECT_EQ(v.ReleaseDC(dc), 0);
    v.GetDC(); // not given back: freed with the window
}

// ---------------------------------------------------------------- scroll views

TEST(FrameworkScrollView, PositionStaysWithinTheScrollableRange) {
    CTestScrollView v;
    v.SetClientSize(100, 50);
    v.SetScrollSizes(MM_TEXT, CSize(1000, 200));
    EXPECT_EQ(v.GetPageSize(), CSize(100, 20));
    EXPECT_EQ(v.GetLineSize(), CSize(10, 2));
    v.ScrollToPosition(CPoint(2000, -5));
    EXPECT_EQ(v.GetScrollPosition(), CPoint(900, 0));
    EXPECT_TRUE(v.OnScrollBy(CSize(-50, 30)));
    EXPECT_EQ(v.GetScrollPosition(), CPoint(850, 30));
    EXPECT_TRUE(v.OnScrollBy(CSize(0, 500), FALSE)); // would move, but only asked
    EXPECT_EQ(v.GetScrollPosition(), CPoint(850, 30));
    v.SetClientSize(400, 190); // a larger window leaves less to scroll
    EXPECT_EQ(v.GetScrollPosition(), CPoint(600, 10));
    v.SetScrollSizes(MM_TEXT, CSize(10, 10));
    EXPECT_EQ(v.GetScrollPosition(), CPoint(0, 0));
    EXPECT_EQ(v.GetPageSize(), CSize(1, 1));
    EXPECT_EQ(v.GetLineSize(), CSize(1, 1));
}

TEST(FrameworkScrollView, DrawingHappensInContentCoordinates) {
    CTestScrollView v;
    v.SetClientSize(100, 50);
    v.SetScrollSizes(MM_TEXT, CSize(1000, 1000));
    v.ScrollToPosition(CPoint(300, 70));
    v.UpdateWindow();
    EXPECT_EQ(v.origin, CPoint(-300, -70));
}

// ---------------------------------------------------------------- device context

TEST(FrameworkDC, FontsHaveFixedMetrics) {
    CDC dc;
    CFont arial8, arial10;
    ASSERT_TRUE(arial8.CreatePointFont(80, "Arial"));
    EXPECT_FALSE(arial8.CreatePointFont(90, "Arial")); // created once
    arial10.CreatePointFont(100, "Arial");
    EXPECT_EQ(dc.GetTextExtent("0", 1), CSize(7, 16)); // the stock font
    CFont* stock = dc.SelectObject(&arial8);
    EXPECT_EQ(dc.GetTextExtent("0", 1), CSize(6, 14));
    EXPECT_EQ(dc.GetTextExtent("0123", 4), CSize(24, 14));
    EXPECT_EQ(dc.SelectObject(&arial10), &arial8);
    EXPECT_EQ(dc.GetTextExtent(CString("00")), CSize(14, 17));
    EXPECT_EQ(dc.SelectObject(stock), &arial10);
    EXPECT_EQ(dc.GetCurrentFont(), stock);
}

TEST(FrameworkDC, FillSetsTheBackgroundColourAndSettersReturnThePrevious) {
    CDC dc;
    EXPECT_EQ(dc.SetBkColor(RGB(1, 2, 3)), RGB(255, 255, 255));
    dc.FillSolidRect(0, 0, 5, 5, RGB(255, 255, 0));
    EXPECT_EQ(dc.GetBkColor(), RGB(255, 255, 0));
    EXPECT_EQ(dc.SetTextAlign(TA_RIGHT), TA_LEFT | TA_TOP);
    EXPECT_EQ(dc.SetTextColor(RGB(9, 9, 9)), RGB(0, 0, 0));
    EXPECT_EQ(dc.SetBkMode(TRANSPARENT), OPAQUE);
    dc.TextOut(100, 10, "abc");
    const CDrawOp& t = dc.GetOps().back();
    EXPECT_EQ(t.bkColor, RGB(255, 255, 0));
    EXPECT_EQ(t.bkMode, TRANSPARENT);
    EXPECT_EQ(t.color, RGB(9, 9, 9));
}

TEST(FrameworkDC, TextBoxFollowsTheAlignment) {
    CDC dc;
    CFont f;
    f.CreatePointFont(80, "Arial");
    dc.SelectObject(&f);
    dc.SetTextAlign(TA_RIGHT | TA_TOP);
    dc.TextOut(90, 0, "12");
    EXPECT_EQ(dc.GetOps().back().rect, CRect(78, 0, 90, 14));
    dc.SetTextAlign(TA_CENTER | TA_BOTTOM);
    dc.TextOut(50, 100, "1234");
    EXPECT_EQ(dc.GetOps().back().rect, CRect(38, 86, 62, 100));
    dc.SetTextAlign(TA_LEFT | TA_BASELINE);
    dc.TextOut(5, 50, "1");
    EXPECT_EQ(dc.GetOps().back().rect, CRect(5, 39, 11, 53));
    dc.TextOut(0, 0, "abcdef", 3);
    EXPECT_EQ(dc.GetOps().back().text, "abc");

    const CRect box(0, 0, 100, 40);
    EXPECT_EQ(dc.DrawText("Title", &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 14);
    EXPECT_EQ(dc.GetOps().back().rect, CRect(35, 13, 65, 27));
    EXPECT_EQ(dc.GetTextAlign(), TA_LEFT | TA_BASELINE); // given back
    dc.DrawText("R", &box, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE);
    EXPECT_EQ(dc.GetOps().back().rect, CRect(94, 26, 100, 40));
}

TEST(FrameworkDC, LinesShapesAndPens) {
    CDC dc;
    CPen red(PS_SOLID, 2, RGB(255, 0, 0));
    CPen none(PS_NULL, 1, 0);
    CBrush blue(RGB(0, 0, 255));
    dc.SelectObject(&red);
    dc.MoveTo(1, 1);
    dc.LineTo(10, 1);
    dc.SelectObject(&none);
    dc.LineTo(10, 10); // invisible, but moves on
    dc.SelectObject(&red);
    dc.LineTo(1, 10);
    ASSERT_EQ(dc.CountOps(CDrawOp::Line), 2);
    EXPECT_EQ(dc.GetOps()[1].from, CPoint(10, 10));
    EXPECT_EQ(dc.GetOps()[1].penWidth, 2);
    const POINT pts[] = {{0, 0}, {5, 5}, {10, 0}};
    dc.Polyline(pts, 3);
    EXPECT_EQ(dc.CountOps(CDrawOp::Line), 4);
    dc.SelectObject(&blue);
    dc.Rectangle(0, 0, 4, 4);
    dc.Ellipse(0, 0, 4, 4);
    EXPECT_EQ(dc.GetOps().back().kind, CDrawOp::Ellipse);
    EXPECT_EQ(dc.GetOps().back().bkColor, RGB(0, 0, 255));
    dc.ClearOps();
    EXPECT_TRUE(dc.GetOps().empty());
}

TEST(FrameworkDC, SvgShowsTheRecordingInDeviceCoordinates) {
    CDC dc;
    dc.SetViewportOrg(-10, -20);
    dc.FillSolidRect(10, 20, 30, 40, RGB(0, 128, 255));
    dc.SetBkMode(TRANSPARENT);
    dc.TextOut(15, 25, "a<b & \"c\"");
    const std::string svg = dc.GetSVG();
    EXPECT_NE(svg.find("<rect x=\"0\" y=\"0\" width=\"30\" height=\"40\" fill=\"#0080ff\"/>"),
              std::string::npos);
    EXPECT_NE(svg.find(">a&lt;b &amp; &quot;c&quot;</text>"), std::string::npos);
    // The bounding box: the fill and the 9 characters of 7 pixels from x = 5.
    EXPECT_NE(svg.find("width=\"68\" height=\"40\" viewBox"), std::string::npos);
    // A transparent text has no background box: the only rect is the fill.
    EXPECT_EQ(svg.find("<rect", svg.find("<rect") + 1), std::string::npos);

    dc.SetSVGSize(200, 100);
    const std::string path = ::testing::TempDir() + "framework_dc.svg";
    ASSERT_TRUE(dc.WriteSVG(path.c_str()));
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), dc.GetSVG());
    EXPECT_NE(content.str().find("width=\"200\" height=\"100\""), std::string::npos);
    std::remove(path.c_str());
    EXPECT_FALSE(dc.WriteSVG("/nonexistent-dir/x.svg"));
}

// ---------------------------------------------------------------- list control

TEST(FrameworkListCtrl, RowsStatesAndTheSelectionChain) {
    CListCtrl list;
    EXPECT_EQ(list.InsertItem(-1, "x"), -1);
    EXPECT_EQ(list.InsertItem(5, "b"), 0); // past the end appends
    EXPECT_EQ(list.InsertItem(0, "a"), 0);
    EXPECT_EQ(list.InsertItem(2, "c"), 2);
    EXPECT_EQ(list.GetItemText(1, 0), "b");
    EXPECT_EQ(list.GetItemText(7, 0), "");
    EXPECT_EQ(list.GetFirstSelectedItemPosition(), nullptr);
    list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    POSITION pos = list.GetFirstSelectedItemPosition();
    EXPECT_EQ(list.GetNextSelectedItem(pos), 0);
    EXPECT_EQ(list.GetNextSelectedItem(pos), 2);
    EXPECT_EQ(pos, nullptr);
    list.SetItemState(-1, 0, LVIS_SELECTED);
    EXPECT_EQ(list.GetSelectedCount(), 0U);
    EXPECT_EQ(list.GetItemState(0, LVIS_FOCUSED | LVIS_SELECTED), LVIS_FOCUSED);
    EXPECT_TRUE(list.DeleteItem(1));
    EXPECT_EQ(list.GetItemText(1, 0), "c");
    EXPECT_FALSE(list.EnsureVisible(9, TRUE));
    EXPECT_EQ(list.GetEnsureVisibleCount(), 0);
}

// The selected count follows every call that changes rows or states; it is
// checked against the states row by row after each step.
TEST(FrameworkListCtrl, SelectedCountFollowsEveryChange) {
    enum Op { Insert, Select, Deselect, SetFocusOnly, SelectAllRows, DeselectAllRows, Delete, DeleteAll };
    struct Step {
        Op op;
        int row;
        UINT expected;
    };
    const Step steps[] = {
        {Insert, 0, 0},    {Insert, 1, 0},  {Insert, 2, 0},          {Insert, 3, 0},
        {Select, 1, 1},    {Select, 1, 1},  {Select, 3, 2},          {SetFocusOnly, 0, 2},
        {Select, 7, 2},    {Insert, 0, 2},  {Insert, 99, 2},         {Deselect, 0, 2},
        {Deselect, 2, 1},  {Delete, 4, 0},  {Delete, 4, 0},          {SelectAllRows, 0, 4},
        {Delete, 0, 3},    {Delete, -1, 3}, {DeselectAllRows, 0, 0}, {Select, 2, 1},
        {DeleteAll, 0, 0}, {Insert, 0, 0},  {Select, 0, 1},
    };
    CListCtrl list;
    int step = 0;
    for (const Step& s : steps) {
        switch (s.op) {
        case Insert:
            list.InsertItem(s.row, "row");
            break;
        case Select:
            list.SetItemState(s.row, LVIS_SELECTED, LVIS_SELECTED);
            break;
        case Deselect:
            list.SetItemState(s.row, 0, LVIS_SELECTED);
            break;
        case SetFocusOnly: // a mask without the selected bit leaves it alone
            list.SetItemState(s.row, LVIS_FOCUSED, LVIS_FOCUSED);
            list.SetItemState(s.row, LVIS_SELECTED, LVIS_FOCUSED);
            break;
        case SelectAllRows:
            list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
            break;
        case DeselectAllRows:
            list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            break;
        case Delete:
            list.DeleteItem(s.row);
            break;
        case DeleteAll:
            list.DeleteAllItems();
            break;
        }
        UINT counted = 0;
        for (int i = 0; i < list.GetItemCount(); ++i)
            counted += list.GetItemState(i, LVIS_SELECTED) != 0 ? 1U : 0U;
        EXPECT_EQ(counted, s.expected) << "step " << step;
        EXPECT_EQ(list.GetSelectedCount(), s.expected) << "step " << step;
        ++step;
    }
}

// ---------------------------------------------------------------- clipboard

TEST(FrameworkClipboard, OpensOnceAndOnlyWhenNotHeld) {
    ClipboardStandIn::Reset();
    EXPECT_FALSE(EmptyClipboard());
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_FALSE(OpenClipboard(nullptr));
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_TRUE(CloseClipboard());
    EXPECT_FALSE(CloseClipboard());
    ClipboardStandIn::SetHeldByOtherProgram(true);
    EXPECT_FALSE(OpenClipboard(nullptr));
    ClipboardStandIn::Reset();
    EXPECT_TRUE(OpenClipboard(nullptr));
    CloseClipboard();
    ClipboardStandIn::Reset();
}

// ---------------------------------------------------------------- sparse matrix

TEST(SparseMatrix, DimensionsElementsAndReadCounting) {
    CSparseMatrix m(3, 4);
    EXPECT_EQ(m.GetDim(0), 3);
    EXPECT_EQ(m.GetDim(1), 4);
    EXPECT_EQ(m.GetDim(2), 0);
    m.SetAt(2, 3, 5.0);
    m.SetAt(3, 0, 9.0); // outside: ignored
    EXPECT_EQ(m.GetAt(2, 3), 5.0);
    EXPECT_EQ(m.GetAt(-1, 0), 0.0);
    EXPECT_EQ(m.GetNonZeroCount(), 1U);
    EXPECT_EQ(m.GetAtCallCount(), 2);
    m.SetAt(2, 3, 0.0);
    EXPECT_EQ(m.GetNonZeroCount(), 0U);
    m.SetAt(2, 3, 1.0);
    m.SetSize(3, 2);
    EXPECT_EQ(m.GetNonZeroCount(), 0U);
    m.SetSize(-1, 5);
    EXPECT_EQ(m.GetDim(0), 0);
    m.ResetAtCallCount();
    EXPECT_EQ(m.GetAtCallCount(), 0);
}

} // namespace
