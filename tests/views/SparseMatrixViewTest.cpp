#include "views/SparseMatrixView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int CountKind(const CDC& dc, CDrawOp::Kind kind) {
    return dc.CountOps(kind);
}

class SparseMatrixViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        doc.AddView(&view);
        view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 400, 300), nullptr, 1);
        view.OnInitialUpdate();
    }
    void Paint() {
        view.Invalidate(FALSE);
        view.UpdateWindow();
    }

    CDocument doc;
    CVRNSparseMatrixView view;
};

TEST_F(SparseMatrixViewTest, BeforeAMatrixIsSetOnlyTheBackgroundIsPainted) {
    EXPECT_FALSE(view.HasSparseMatrix());
    view.UpdateWindow();
    EXPECT_EQ(view.GetLastPaint().GetOps().size(), 1U);
    EXPECT_EQ(CountKind(view.GetLastPaint(), CDrawOp::Fill), 1);
}

TEST_F(SparseMatrixViewTest, ALargeMatrixIsReadOnlyAtTheVisibleCells) {
    CSparseMatrix m(1000, 1000);
    for (int i = 0; i < 1000; ++i)
        m.SetAt(i, i, 2.0);
    m.SetAt(0, 3, -1.5);
    view.SetSparseMatrix(m);
    EXPECT_EQ(view.GetTotalSize(), CSize(1000 * 90, 1000 * 14));
    EXPECT_EQ(m.GetAtCallCount(), 0);

    view.UpdateWindow();
    // columns 0 .. 400/90+2-1 = 5, rows 0 .. 300/14+2-1 = 22
    EXPECT_EQ(m.GetAtCallCount(), 6 * 23);
    // Zero cells show nothing: the visible diagonal and the one other element.
    EXPECT_EQ(CountKind(view.GetLastPaint(), CDrawOp::Text), 6 + 1);

    m.ResetAtCallCount();
    view.ScrollToPosition(CPoint(45000, 7000));
    view.UpdateWindow();
    // columns 500 .. 505, rows 500 .. 522
    EXPECT_EQ(m.GetAtCallCount(), 6 * 23);
    EXPECT_EQ(CountKind(view.GetLastPaint(), CDrawOp::Text), 6);

    m.ResetAtCallCount();
    view.SendMessage(WM_KEYDOWN, 'Z');
    view.UpdateWindow();
    EXPECT_EQ(m.GetAtCallCount(), 6 * 23);
    EXPECT_EQ(CountKind(view.GetLastPaint(), CDrawOp::Text), 6 * 23);
}

TEST_F(SparseMatrixViewTest, ColourMapReadsEachVisibleCellOnce) {
    CSparseMatrix m(1000, 1000);
    m.SetAt(0, 0, 1.0);
    m.SetAt(0, 1, -1.0);
    view.SetSparseMatrix(m);
    view.SendMessage(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(view.GetCellSize(), CSize(6, 6));
    view.UpdateWindow();
    // columns 0 .. 400/6+2-1 = 67, rows 0 .. 300/6+2-1 = 51
    EXPECT_EQ(m.GetAtCallCount(), 68 * 52);
    const std::vector<CDrawOp>& ops = view.GetLastPaint().GetOps();
    ASSERT_EQ(ops.size(), 1U + 68U * 52U);
    EXPECT_EQ(ops[1].color, RGB(0, 225, 0));
    EXPECT_EQ(ops[2].color, RGB(225, 0, 0));
    EXPECT_EQ(ops[3].color, RGB(255, 255, 255));
}

TEST_F(SparseMatrixViewTest, DenseMatricesAreIgnored) {
    CSparseMatrix s(3, 3);
    s.SetAt(1, 1, 4.0);
    view.SetSparseMatrix(s);
    CMatrix dense(7, 7);
    view.SetCMatrix(dense);
    EXPECT_EQ(view.GetCMatrix(), nullptr);
    EXPECT_EQ(view.GetLaidOutRows(), 3);
    EXPECT_EQ(&view.GetSparseMatrix(), &s);
    view.UpdateWindow();
    ASSERT_EQ(CountKind(view.GetLastPaint(), CDrawOp::Text), 1);
    EXPECT_EQ(view.GetLastPaint().GetOps().back().text, "       4.00000");
}

TEST_F(SparseMatrixViewTest, AMatrixSetBeforeTheInitialUpdateCanBeScrolledWhole) {
    CDocument d;
    CVRNSparseMatrixView v;
    d.AddView(&v);
    v.Create(nullptr, nullptr, 0, CRect(0, 0, 200, 200), nullptr, 2);
    CSparseMatrix m(500, 40);
    v.SetSparseMatrix(m);
    v.OnInitialUpdate();
    EXPECT_EQ(v.GetTotalSize(), CSize(40 * 90, 500 * 14));
    EXPECT_EQ(v.GetScrollPosition(), CPoint(0, 0));
}

TEST_F(SparseMatrixViewTest, ReportsTheDenseViewsRunTimeClass) {
    EXPECT_TRUE(view.IsKindOf(RUNTIME_CLASS(CVRNMatrixView)));
    EXPECT_STREQ(view.GetRuntimeClass()->m_lpszClassName, "CVRNMatrixView");
}

TEST_F(SparseMatrixViewTest, DimensionChangesAreLaidOutOnTheNextPaint) {
    CSparseMatrix m(2, 2);
    view.SetSparseMatrix(m);
    m.SetSize(10, 20);
    m.SetAt(9, 19, 3.0);
    view.UpdateWindow();
    EXPECT_EQ(view.GetLaidOutRows(), 10);
    EXPECT_EQ(view.GetLaidOutCols(), 20);
    EXPECT_EQ(view.GetTotalSize(), CSize(20 * 90, 10 * 14));
}

} // namespace
