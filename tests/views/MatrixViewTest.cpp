#include "views/MatrixView.h"

#include "host/framework/Menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const COLORREF kWindow = RGB(255, 255, 255);

std::vector<CDrawOp> OpsOf(const CDC& dc, CDrawOp::Kind kind) {
    std::vector<CDrawOp> out;
    for (const CDrawOp& op : dc.GetOps())
        if (op.kind == kind)
            out.push_back(op);
    return out;
}

std::vector<std::string> Texts(const CDC& dc) {
    std::vector<std::string> out;
    for (const CDrawOp& op : OpsOf(dc, CDrawOp::Text))
        out.push_back(op.text);
    return out;
}

// Background fills: window-coloured fills as large as the client area.
int BackgroundFills(CWnd& wnd) {
    CRect client;
    wnd.GetClientRect(&client);
    int n = 0;
    for (const CDrawOp& op : OpsOf(wnd.GetLastPaint(), CDrawOp::Fill))
        if (op.color == kWindow && op.rect.Width() == client.Width() && op.rect.Height() == client.Height())
            ++n;
    return n;
}

class MatrixViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        doc.AddView(&view);
        ASSERT_TRUE(view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 400, 300), nullptr, 1));
        view.OnInitialUpdate();
    }
    void Paint() {
        view.Invalidate(FALSE);
        view.UpdateWindow();
    }
    void Key(UINT ch) { view.SendMessage(WM_KEYDOWN, ch, MAKELPARAM(1, 0)); }
    CDC& Last() { return view.GetLastPaint(); }

    static CMatrix Identity(int n) {
        CMatrix m(n, n);
        for (int i = 0; i < n; ++i)
            m[i][i] = 1.0;
        return m;
    }

    CDocument doc;
    CVRNMatrixView view;
};

// ---------------------------------------------------------------- layout

TEST_F(MatrixViewTest, CellSizeComesFromTheMeasuredZeroOfAnEightPointArial) {
    // The number font measures "0" as 6 x 14 pixels; a number cell is 15 of them wide.
    EXPECT_EQ(view.GetCharSize(), CSize(6, 14));
    EXPECT_EQ(view.GetTextCellSize(), CSize(90, 14));
    ASSERT_NE(view.GetNumberFont(), nullptr);
    EXPECT_STREQ(view.GetNumberFont()->GetFaceName(), "Arial");
    // Without a matrix the view keeps small default scroll sizes.
    EXPECT_EQ(view.GetTotalSize(), CSize(10, 10));
}

TEST_F(MatrixViewTest, SettingAMatrixLaysOutTheScrollArea) {
    CMatrix m(30, 12);
    view.SetCMatrix(m);
    EXPECT_EQ(view.GetCMatrix(), &m);
    EXPECT_EQ(view.GetLaidOutRows(), 30);
    EXPECT_EQ(view.GetLaidOutCols(), 12);
    EXPECT_EQ(view.GetTotalSize(), CSize(12 * 90, 30 * 14));
    EXPECT_EQ(view.GetPageSize(), CSize(900, 280));
    EXPECT_EQ(view.GetLineSize(), CSize(90, 14));
}

TEST_F(MatrixViewTest, AMatrixSetBeforeTheInitialUpdateIsLaidOutWithTheMeasuredCells) {
    CDocument d;
    CVRNMatrixView v;
    d.AddView(&v);
    v.Create(nullptr, nullptr, 0, CRect(0, 0, 200, 200), nullptr, 2);
    CMatrix m = Identity(4);
    v.SetCMatrix(m);
    v.UpdateWindow(); // no cell size yet: background only
    EXPECT_EQ(OpsOf(v.GetLastPaint(), CDrawOp::Text).size(), 0U);
    v.OnInitialUpdate();
    EXPECT_EQ(v.GetTotalSize(), CSize(4 * 90, 4 * 14));
    v.Invalidate();
    v.UpdateWindow();
    EXPECT_EQ(OpsOf(v.GetLastPaint(), CDrawOp::Text).size(), 4U);
}

// ---------------------------------------------------------------- number mode

TEST_F(MatrixViewTest, IdentityShowsThreeYellowDiagonalCellsAndNoZeros) {
    CMatrix m = Identity(3);
    view.SetCMatrix(m);
    view.UpdateWindow();
    EXPECT_EQ(BackgroundFills(view), 1);
    std::vector<CDrawOp> yellow;
    for (const CDrawOp& op : OpsOf(Last(), CDrawOp::Fill))
        if (op.color == RGB(255, 255, 0))
            yellow.push_back(op);
    ASSERT_EQ(yellow.size(), 3U);
    const std::vector<CDrawOp> texts = OpsOf(Last(), CDrawOp::Text);
    ASSERT_EQ(texts.size(), 3U);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(yellow[i].rect, CRect(i * 90, i * 14, (i + 1) * 90, (i + 1) * 14));
        EXPECT_EQ(texts[i].text, "       1.00000");
        EXPECT_EQ(texts[i].from, CPoint((i + 1) * 90, i * 14));
        EXPECT_EQ(texts[i].align & TA_RIGHT, TA_RIGHT);
        EXPECT_EQ(texts[i].bkColor, RGB(255, 255, 0));
        EXPECT_EQ(texts[i].fontFace, "Arial");
    }
    // Alignment and background colour are given back.
    EXPECT_EQ(Last().GetTextAlign(), TA_LEFT | TA_TOP);
    EXPECT_EQ(Last().GetBkColor(), kWindow);
}

TEST_F(MatrixViewTest, KeyZTogglesTheZeros) {
    CMatrix m = Identity(3);
    view.SetCMatrix(m);
    view.UpdateWindow();
    Key(0x5A);
    EXPECT_TRUE(view.IsShowingZeros());
    EXPECT_TRUE(view.IsInvalid());
    view.UpdateWindow();
    std::vector<std::string> texts = Texts(Last());
    EXPECT_EQ(texts.size(), 9U);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "0"), 6);
    Key(0x7A);
    view.UpdateWindow();
    EXPECT_EQ(Texts(Last()).size(), 3U);
    // The zeros shown before are painted over.
    EXPECT_EQ(BackgroundFills(view), 1);
    EXPECT_EQ(view.GetDefaultCount(WM_KEYDOWN), 2);
}

TEST_F(MatrixViewTest, LargeAndSmallValuesUseTheExponentFormat) {
    CMatrix m(2, 4);
    const double values[] = {1e9, 0.001, 0.01, 1e8, -1e9, -0.001, -0.01, 123.456};
    for (int k = 0; k < 8; ++k)
        m[k / 4][k % 4] = values[k];
    view.SetCMatrix(m);
    view.UpdateWindow();
    EXPECT_EQ(Texts(Last()), (std::vector<std::string>{
                                 "1.00000000e+09", "1.00000000e-03", "       0.01000", "100000000.00000",
                                 "-1.00000000e+09", "-1.00000000e-03", "      -0.01000", "     123.45600"}));
}

TEST_F(MatrixViewTest, ValuesAreReadAgainAtEveryPaintAndNewDimensionsAreLaidOut) {
    CMatrix m = Identity(2);
    view.SetCMatrix(m);
    view.UpdateWindow();
    m[0][1] = 2.5;
    Paint();
    EXPECT_EQ(Texts(Last()),
              (std::vector<std::string>{"       1.00000", "       2.50000", "       1.00000"}));

    m.SetSize(4, 5);
    m[3][4] = 7.0;
    Paint();
    EXPECT_EQ(view.GetLaidOutRows(), 4);
    EXPECT_EQ(view.GetLaidOutCols(), 5);
    EXPECT_EQ(view.GetTotalSize(), CSize(5 * 90, 4 * 14));
    EXPECT_EQ(Texts(Last()), (std::vector<std::string>{"       7.00000"}));
    // The former cells are painted over by the next paint.
    EXPECT_TRUE(view.IsInvalid());
    view.UpdateWindow();
    EXPECT_EQ(BackgroundFills(view), 1);
}

// ---------------------------------------------------------------- colour map

TEST_F(MatrixViewTest, EnterShowsSignColouredSquaresAndBack) {
    CMatrix m(1, 3);
    m[0][0] = 2;
    m[0][1] = -3;
    m[0][2] = 0;
    view.SetCMatrix(m);
    Key(VK_RETURN);
    EXPECT_TRUE(view.IsColorMap());
    EXPECT_EQ(view.GetCellSize(), CSize(6, 6));
    EXPECT_EQ(view.GetTotalSize(), CSize(18, 6));
    view.UpdateWindow();
    std::vector<CDrawOp> fills = OpsOf(Last(), CDrawOp::Fill);
    ASSERT_EQ(fills.size(), 4U); // background, then the three squares
    EXPECT_EQ(fills[1].rect, CRect(0, 0, 6, 6));
    EXPECT_EQ(fills[1].color, RGB(0, 225, 0));
    EXPECT_EQ(fills[2].rect, CRect(6, 0, 12, 6));
    EXPECT_EQ(fills[2].color, RGB(225, 0, 0));
    EXPECT_EQ(fills[3].rect, CRect(12, 0, 18, 6));
    EXPECT_EQ(fills[3].color, kWindow);
    EXPECT_TRUE(Texts(Last()).empty());

    Key(VK_RETURN);
    EXPECT_FALSE(view.IsColorMap());
    EXPECT_EQ(view.GetCellSize(), CSize(90, 14));
    EXPECT_EQ(view.GetTotalSize(), CSize(270, 14));
    view.UpdateWindow();
    EXPECT_EQ(Texts(Last()), (std::vector<std::string>{"       2.00000", "      -3.00000"}));
}

TEST_F(MatrixViewTest, ColourMapOfASixBySixMatrix) {
    CMatrix m(6, 6);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            m[i][j] = (i == j) ? 0.0 : (i < j ? 1.0 : -1.0);
    view.SetCMatrix(m);
    Key(VK_RETURN);
    view.UpdateWindow();
    std::vector<CDrawOp> fills = OpsOf(Last(), CDrawOp::Fill);
    ASSERT_EQ(fills.size(), 37U);
    for (int k = 1; k < 37; ++k) {
        const int i = (k - 1) / 6, j = (k - 1) % 6;
        EXPECT_EQ(fills[k].rect, CRect(j * 6, i * 6, j * 6 + 6, i * 6 + 6));
        const COLORREF expected = i == j ? kWindow : (i < j ? RGB(0, 225, 0) : RGB(225, 0, 0));
        EXPECT_EQ(fills[k].color, expected);
    }
}

// ---------------------------------------------------------------- visible range

TEST_F(MatrixViewTest, OnlyTheVisibleCellsWithTwoCellsOfMarginAreDrawn) {
    CMatrix m(100, 100);
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j)
            m[i][j] = 1.0 + i + j;
    view.SetCMatrix(m);
    view.SetClientSize(300, 100);
    view.UpdateWindow();
    // columns 0 .. 300/90+2-1, rows 0 .. 100/14+2-1
    EXPECT_EQ(Texts(Last()).size(), 5U * 9U);

    view.ScrollToPosition(CPoint(900, 140));
    view.UpdateWindow();
    const std::vector<CDrawOp> texts = OpsOf(Last(), CDrawOp::Text);
    ASSERT_EQ(texts.size(), 5U * 9U); // columns 10 .. 14, rows 10 .. 18
    EXPECT_EQ(texts.front().from, CPoint(11 * 90, 10 * 14));
    EXPECT_EQ(texts.back().from, CPoint(15 * 90, 18 * 14));
    EXPECT_EQ(texts.front().viewportOrg, CPoint(-900, -140));
}

TEST_F(MatrixViewTest, TheRangeEndsAtTheLastColumnAndRow) {
    CMatrix m(100, 100);
    for (int i = 0; i < 100; ++i)
        for (int j = 0; j < 100; ++j)
            m[i][j] = 1.0;
    view.SetCMatrix(m);
    view.SetClientSize(300, 100);
    view.ScrollToPosition(CPoint(1000000, 1000000));
    EXPECT_EQ(view.GetScrollPosition(), CPoint(9000 - 300, 1400 - 100));
    view.UpdateWindow();
    const std::vector<CDrawOp> texts = OpsOf(Last(), CDrawOp::Text);
    // first column 8700/90 = 96, first row 1300/14 = 92; both ranges clamped at 100
    ASSERT_EQ(texts.size(), 4U * 8U);
    for (const CDrawOp& op : texts) {
        EXPECT_LE(op.from.x, 100 * 90);
        EXPECT_LT(op.from.y, 100 * 14);
    }
}

// ---------------------------------------------------------------- background

TEST_F(MatrixViewTest, BackgroundIsFilledOnlyAfterScrollResizeActivationOrModeChange) {
    CMatrix m(50, 50);
    m[0][0] = 1.0;
    view.SetCMatrix(m);
    view.UpdateWindow();
    EXPECT_EQ(BackgroundFills(view), 1);

    Paint();
    EXPECT_EQ(BackgroundFills(view), 0);
    view.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(BackgroundFills(view), 0); // the window's own erase is suppressed
    EXPECT_EQ(view.GetDefaultCount(WM_ERASEBKGND), 0);

    view.ScrollToPosition(CPoint(90, 28));
    view.UpdateWindow();
    ASSERT_EQ(BackgroundFills(view), 1);
    // Filled where the window now shows the content.
    EXPECT_EQ(OpsOf(Last(), CDrawOp::Fill)[0].rect, CRect(90, 28, 490, 328));
    EXPECT_EQ(view.GetLastScrollPos(), CPoint(90, 28));

    view.SetClientSize(350, 250);
    view.UpdateWindow();
    EXPECT_EQ(BackgroundFills(view), 1);

    view.OnActivateView(FALSE, nullptr, &view);
    Paint();
    EXPECT_EQ(BackgroundFills(view), 0);
    view.OnActivateView(TRUE, &view, nullptr);
    Paint();
    EXPECT_EQ(BackgroundFills(view), 1);

    view.SetClientSize(0, 0); // minimised: nothing to fill again
    EXPECT_FALSE(view.IsRedrawAllPending());
}

TEST_F(MatrixViewTest, WithoutAMatrixOrWithNoRowsOnlyTheBackgroundIsPainted) {
    view.UpdateWindow();
    EXPECT_EQ(Last().GetOps().size(), 1U);
    EXPECT_EQ(BackgroundFills(view), 1);
    CMatrix empty;
    view.SetCMatrix(empty);
    Paint();
    EXPECT_TRUE(Texts(Last()).empty());
    EXPECT_EQ(OpsOf(Last(), CDrawOp::Fill).size(), 0U);
}

// ---------------------------------------------------------------- class, identity, picture

TEST_F(MatrixViewTest, CreatedByRunTimeClassAndFoundByIdentifier) {
    const CRuntimeClass* rc = RUNTIME_CLASS(CVRNMatrixView);
    EXPECT_STREQ(rc->m_lpszClassName, "CVRNMatrixView");
    EXPECT_EQ(rc->m_pBaseClass, RUNTIME_CLASS(CScrollView));
    CObject* obj = rc->CreateObject();
    ASSERT_NE(obj, nullptr);
    EXPECT_TRUE(obj->IsKindOf(RUNTIME_CLASS(CView)));
    auto* other = static_cast<CVRNMatrixView*>(obj);
    EXPECT_EQ(other->GetUniqueViewID(), ""); // the view sets no identifier itself
    other->SetUniqueViewID("Hessian");
    doc.AdoptView(other);
    EXPECT_EQ(FindUniqueView<CVRNMatrixView>(&doc, "Hessian"), other);
    EXPECT_EQ(FindUniqueView<CVRNMatrixView>(&doc, "Jacobian"), nullptr);
}

TEST_F(MatrixViewTest, APaintCanBeSavedAsAPicture) {
    CMatrix m = Identity(2);
    m[0][1] = -0.5;
    view.SetCMatrix(m);
    view.UpdateWindow();
    const std::string svg = Last().GetSVG();
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("width=\"400\" height=\"300\""), std::string::npos);
    EXPECT_NE(svg.find("fill=\"#ffff00\""), std::string::npos);
    EXPECT_NE(svg.find("text-anchor=\"end\""), std::string::npos);
    EXPECT_NE(svg.find(">      -0.50000</text>"), std::string::npos);
}

} // namespace
