// The diagnostic grid, the Jacobian and Hessian matrix views and their refresh.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "views/DiagnosticTestSupport.h"

namespace {

class DiagnosticGridTest : public ::testing::Test {
protected:
    DiagnosticDocument host;
    CVRNUnconstrainedMinimization engine;

    DiagnosticGridTest() { host.Attach(engine); }

    CHdrGridDataSrc* Columns() { return host.grid.GetDataSource()->GetHdrGridDataSrc(); }
};

TEST_F(DiagnosticGridTest, TheGridShowsFourteenArraysWithTheObjectiveHistoryTwelfth) {
    engine.InstallDiagnosticGrid(&host.doc, "Diagnostics");
    EXPECT_EQ(host.grid.GetApplyCount(), 1);
    EXPECT_EQ(DiagProbe::DiagGrid(engine), &host.grid.GetGrid());
    CHdrGridDataSrc* src = Columns();
    ASSERT_NE(src, nullptr);
    ASSERT_EQ(src->GetNumberCols(), 14);
    const std::vector<std::string> labels = {"x{\\sub 0}",
                                             "x",
                                             "u{\\sub H}",
                                             "typsiz",
                                             "Grad",
                                             "Step",
                                             "Scale{\\sub x}",
                                             "wrk{\\sub 0}",
                                             "wrk{\\sub 1}",
                                             "wrk{\\sub 2}",
                                             "wrk{\\sub 3}",
                                             "m_ErrorHistory",
                                             "Grad{\\sub min}",
                                             "X{\\sub min}"};
    for (int c = 0; c < 14; c++) {
        EXPECT_EQ(src->GetColLabel(c).Str(), labels[static_cast<size_t>(c)]) << c;
        EXPECT_TRUE(src->ColShows(c, *DiagProbe::GridArray(engine, c))) << c;
        EXPECT_EQ(src->GetColActions(c), nullptr);
    }
    EXPECT_TRUE(src->ColShows(11, DiagProbe::ErrorHistory(engine)));
    EXPECT_TRUE(host.grid.GetGrid().IsMenuEnabled());
    EXPECT_TRUE(src->IsConstructed());
}

TEST_F(DiagnosticGridTest, EveryRunSetsTheGridUpAgainWithoutRepeatingColumns) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallAll(engine);
    RunQuartic(engine, p, 3);
    RunQuartic(engine, p, 5);
    EXPECT_EQ(host.grid.GetApplyCount(), 3);
    EXPECT_EQ(Columns()->GetNumberCols(), 14);
}

TEST_F(DiagnosticGridTest, TheCsvHoldsTheCurrentArraysAndTheObjectiveHistory) {
    DiagProblem p = Quartic({3.0, -2.0});
    host.InstallAll(engine);
    RunQuartic(engine, p, 4);
    const std::string csv = host.grid.GetGrid().GetCSV();
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line,
              "x_0,x,u_H,typsiz,Grad,Step,Scale_x,wrk_0,wrk_1,wrk_2,wrk_3,m_ErrorHistory,Grad_min,X_min");
    std::vector<std::string> rows;
    while (std::getline(in, line))
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 5u);            // the objective history: iterations 0 to 4
    EXPECT_EQ(rows[0].substr(0, 2), "3,"); // x0 of the first parameter
    // Only the history is that long: row 2 holds f at iteration 2 and nothing else.
    char f2[64];
    std::snprintf(f2, sizeof f2, "%.12g", DiagProbe::ErrorHistory(engine)[2]);
    EXPECT_EQ(rows[2], std::string(",,,,,,,,,,,") + f2 + ",,");
}

TEST_F(DiagnosticGridTest, InstallingNeedsAnIdentifierADocumentAndSizedArrays) {
    engine.InstallDiagnosticGrid(); // no document
    engine.InstallDiagnosticGrid(&host.doc, "");
    EXPECT_EQ(host.grid.GetApplyCount(), 0);
    DiagProbe::Allocated(engine) = 0;
    engine.InstallDiagnosticGrid(&host.doc, "Diagnostics");
    engine.InstallHessianGrid(&host.doc, "Hessian");
    EXPECT_EQ(host.grid.GetApplyCount(), 0);
    EXPECT_EQ(DiagProbe::HessianView(engine), nullptr);
    DiagProbe::Allocated(engine) = -1;
    engine.InstallDiagnosticGrid(&host.doc, "Hessian"); // a matrix view, not a grid view
    EXPECT_EQ(DiagProbe::DiagGrid(engine), nullptr);
}

TEST(DiagnosticGridSource, ASourceWithoutHeaderColumnsKeepsTheGridButGetsNoColumns) {
    CDocument doc;
    CKelGridView view(std::make_unique<CKelDataSource>());
    view.SetUniqueViewID("Plain");
    doc.AddView(&view);
    CVRNUnconstrainedMinimization engine;
    CVRNDiagnosticViews display(engine);
    engine.InstallDiagnosticGrid(&doc, "Plain");
    EXPECT_EQ(view.GetApplyCount(), 1);
    EXPECT_EQ(DiagProbe::DiagGrid(engine), &view.GetGrid());
    EXPECT_EQ(view.GetGrid().GetNumberCols(), 0);
    EXPECT_FALSE(view.GetGrid().IsMenuEnabled());
}

// ---------------------------------------------------------------- matrix views and refresh

TEST_F(DiagnosticGridTest, BothMatrixViewsShowTheModelHessian) {
    host.InstallAll(engine);
    EXPECT_EQ(host.hessian.GetCMatrix(), &engine.GetHessian());
    EXPECT_EQ(host.jacobian.GetCMatrix(), &engine.GetHessian());
    EXPECT_EQ(DiagProbe::HessianView(engine), &host.hessian);
}

// A conjugate-gradient run sizes no model Hessian: the matrix views stay on the empty
// matrix and paint no cells, and a later run of method 1 lays them out n x n.
TEST_F(DiagnosticGridTest, TheMatrixViewsOfAConjugateGradientRunShowNoCells) {
    DiagProblem p = Quartic({3.0, -2.0, 1.0});
    host.InstallAll(engine);
    engine.Default();
    engine.SetImplementationOptions(true, false, false);
    engine.Minimize(&p, 1e-30, 20, 4);
    EXPECT_EQ(engine.GetHessian().GetRows(), 0);
    EXPECT_EQ(host.hessian.GetCMatrix(), &engine.GetHessian());
    for (CVRNMatrixView* view : {&host.hessian, &host.jacobian}) {
        view->Invalidate(FALSE);
        view->UpdateWindow();
        for (const CDrawOp& op : view->GetLastPaint().GetOps())
            EXPECT_NE(op.kind, CDrawOp::Text);
    }
    EXPECT_EQ(engine.GetModelHessian().GetRows(), 0);

    RunQuartic(engine, p, 3);
    EXPECT_EQ(engine.GetHessian().GetRows(), 3);
    host.hessian.Invalidate(FALSE);
    host.hessian.UpdateWindow();
    int texts = 0;
    for (const CDrawOp& op : host.hessian.GetLastPaint().GetOps())
        texts += op.kind == CDrawOp::Text ? 1 : 0;
    EXPECT_GE(texts, 3); // the diagonal (zeros are not shown)
}

class GridRefreshTest : public DiagnosticGridTest {
protected:
    void SetUp() override {
        host.InstallAll(engine);
        engine.Default();
        engine.SetImplementationOptions(true, true, false);
        engine.FirstStep(&problem, 1e-30, 100, 1);
        ASSERT_EQ(engine.GetIterationCount(), 1);
    }
    DiagProblem problem = Quartic({3.0, -2.0});
};

TEST_F(GridRefreshTest, SavingWithDiagnosticsOffStillRefreshesTheProblemAndTheHessian) {
    DiagProbe::ShowDiag(engine) = 0;
    const int views = problem.updateViews;
    const int grid = host.grid.GetGrid().GetRedrawCount();
    const int hessianRedraws = host.hessian.GetRedrawCount();
    const int hessianPaints = host.hessian.GetPaintCount();
    const int jacobianRedraws = host.jacobian.GetRedrawCount();

    engine.SaveStep();
    EXPECT_EQ(problem.updateViews, views + 1);
    EXPECT_EQ(host.grid.GetGrid().GetRedrawCount(), grid);
    EXPECT_EQ(host.hessian.GetRedrawCount(), hessianRedraws + 1);
    EXPECT_EQ(host.hessian.GetLastRedrawFlags(), RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(host.hessian.GetPaintCount(), hessianPaints + 1);

    engine.UndoStep();
    EXPECT_EQ(problem.updateViews, views + 2);
    EXPECT_EQ(host.grid.GetGrid().GetRedrawCount(), grid);
    EXPECT_EQ(host.hessian.GetRedrawCount(), hessianRedraws + 2);
    EXPECT_EQ(host.jacobian.GetRedrawCount(), jacobianRedraws);
}

TEST_F(GridRefreshTest, WithDiagnosticsOnTheGridRepaintsAndWithoutHessianTheViewDoesNot) {
    DiagProbe::ShowDiag(engine) = 1;
    DiagProbe::ShowHessian(engine) = 0;
    const int grid = host.grid.GetGrid().GetRedrawCount();
    const int gridPaints = host.grid.GetPaintCount();
    const int hessianRedraws = host.hessian.GetRedrawCount();
    engine.SaveStep();
    EXPECT_EQ(host.grid.GetGrid().GetRedrawCount(), grid + 1);
    EXPECT_EQ(host.grid.GetPaintCount(), gridPaints + 1);
    EXPECT_EQ(host.hessian.GetRedrawCount(), hessianRedraws);
}

TEST_F(GridRefreshTest, TheHessianViewPaintsTheModelHessian) {
    engine.SaveStep();
    int numbers = 0;
    for (const CDrawOp& op : host.hessian.GetLastPaint().GetOps())
        if (op.kind == CDrawOp::Text)
            ++numbers;
    EXPECT_GE(numbers, 2); // at least the diagonal of the 2 x 2 matrix
}

} // namespace
