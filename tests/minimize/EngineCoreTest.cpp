// Options, driver, stopping tests, factorization, line search and finite differences.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "support/LambdaProblem.h"
#include "views/StatusView.h"

struct CoreTag {};

template <> struct CVRNEngineProbe<CoreTag> {
    using E = CVRNUnconstrainedMinimization;
    static double& Epsilon(E& e) { return e.m_dEpsilon; }
    static double& GradTol(E& e) { return e.m_dGradTol; }
    static double& StepTol(E& e) { return e.m_dStepTol; }
    static double& CGTol(E& e) { return e.m_dCGTol; }
    static double& StepMax(E& e) { return e.m_dStepMax; }
    static double& Radius(E& e) { return e.m_dTrustRadius; }
    static double& Noise(E& e) { return e.m_dNoise; }
    static int& Digits(E& e) { return e.m_nDigits; }
    static int& Msg(E& e) { return e.m_nMsg; }
    static int& Method(E& e) { return e.m_nMethod; }
    static int& Limit(E& e) { return e.m_nIterationLimit; }
    static double& TypicalF(E& e) { return e.m_dTypicalF; }
    static int& StepResult(E& e) { return e.m_nStepResult; }
    static bool& MaxStepTaken(E& e) { return e.m_bMaxStepTaken; }
    static int GradientFlag(E& e) { return e.m_bGradientFlag; }
    static int HessianFlag(E& e) { return e.m_bHessianFlag; }
    static int ExpensiveFlag(E& e) { return e.m_bExpensiveFxFlag; }
    static double* X(E& e) { return e.m_pX; }
    static double* Grad(E& e) { return e.m_pGrad; }
    static double* Step(E& e) { return e.m_pStep; }
    static double* ScaleX(E& e) { return e.m_pScaleX; }
    static double* TypSiz(E& e) { return e.m_pTypSiz; }
    static double* UDiag(E& e) { return e.m_pUDiag; }
    static CMatrix& Hessian(E& e) { return e.m_Hessian; }
    static double& F(E& e) { return e.m_dF; }
    static void Attach(E& e, CVRNMinimizationMethodBase* p) {
        e.m_pMethod = p;
        e.AllocateTempArrays();
    }
    static void CheckOptions(E& e) { e.CheckOptions(); }
    static void Terminate(E& e, double* xp, double fp, double* gp, double* xprev) {
        e.Terminate(xp, fp, gp, xprev);
    }
    static void SetK(E& e, int k) { e.m_nIterationCount = k; }
    static void Decompose(E& e) { e.DecomposeHessianLLPD(e.m_Hessian, e.m_pUDiag); }
    static void Solve(E& e, double* x, double* b) { e.LLTransposeSolve(e.m_Hessian, x, b); }
    static void LineSearch(E& e) { e.LineSearch(); }
    static void Forward(E& e, double* x, double f, double* g) { e.ForwardFiniteDifferenceGradient(x, f, g); }
    static void Central(E& e, double* x, double* g) { e.CentralFiniteDifferenceGradient(x, e.m_pScaleX, g); }
    static void FDHessian(E& e, double* x, double* g, double* w) {
        e.FiniteDifferenceHessian(x, g, e.m_Hessian, e.m_pScaleX, w);
    }
    static void SecondOrder(E& e, double* x, double f, double* s, double* fn) {
        e.SecondOrderFiniteDifferenceHessian(x, f, e.m_Hessian, e.m_pScaleX, s, fn);
    }
};

namespace {

using Probe = CVRNEngineProbe<CoreTag>;

std::vector<std::string> Rows(CVRNStatusView& view) {
    std::vector<std::string> rows;
    for (int i = 0; i < view.GetListCtrl().GetItemCount(); i++)
        rows.emplace_back(static_cast<const char*>(view.GetListCtrl().GetItemText(i, 0)));
    return rows;
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(EngineOptions, DefaultsAreTheDocumentedValues) {
    CVRNUnconstrainedMinimization e;
    EXPECT_EQ(Probe::CGTol(e), 0.0);
    EXPECT_EQ(Probe::ExpensiveFlag(e), 1);
    EXPECT_EQ(Probe::GradientFlag(e), 0);
    EXPECT_EQ(e.GetCodeforTerminationCode(), OptionCheck);
    EXPECT_STREQ(static_cast<const char*>(e.GetTerminationCode()), "");
    e.Default();
    EXPECT_EQ(Probe::Epsilon(e), 1.12e-16);
    EXPECT_EQ(Probe::GradTol(e), 4.820284528350463e-06);
    EXPECT_EQ(Probe::StepTol(e), 1.0583005244258363e-08);
    EXPECT_EQ(Probe::CGTol(e), 1e-10);
    EXPECT_EQ(Probe::Method(e), 3);
    EXPECT_EQ(Probe::Limit(e), 10000);
    EXPECT_EQ(Probe::Radius(e), -1.0);
    EXPECT_EQ(Probe::TypicalF(e), 1.0);
    EXPECT_EQ(Probe::StepMax(e), 0.0);
    EXPECT_EQ(Probe::Digits(e), -1);
    EXPECT_EQ(Probe::Msg(e), 0);
    EXPECT_EQ(Probe::GradientFlag(e), 1);
    EXPECT_EQ(Probe::HessianFlag(e), 1);
    EXPECT_EQ(Probe::ExpensiveFlag(e), 0);
}

TEST(EngineOptions, CheckOptionsCorrectsScalingStepAndRadius) {
    CVRNUnconstrainedMinimization e;
    e.Default();
    LambdaProblem p({3.0, 4.0}, [](const double*) { return 0.0; });
    Probe::Attach(e, &p);
    Probe::TypSiz(e)[0] = 1.0;
    Probe::TypSiz(e)[1] = 1.0;
    Probe::Radius(e) = 1e9;
    Probe::CheckOptions(e);
    EXPECT_EQ(Probe::StepMax(e), 5000.0);
    EXPECT_EQ(Probe::Digits(e), 15);
    EXPECT_EQ(Probe::Radius(e), 5000.0);

    LambdaProblem q({0.0, 0.5}, [](const double*) { return 0.0; });
    e.Default();
    Probe::Attach(e, &q);
    EXPECT_EQ(Probe::TypSiz(e)[0], 0.0);
    Probe::TypSiz(e)[1] = -2.0;
    Probe::Radius(e) = 0.0;
    Probe::CheckOptions(e);
    EXPECT_EQ(Probe::TypSiz(e)[0], 1.0);
    EXPECT_EQ(Probe::TypSiz(e)[1], 2.0);
    EXPECT_EQ(Probe::ScaleX(e)[0], 1.0);
    EXPECT_EQ(Probe::ScaleX(e)[1], 0.5);
    EXPECT_EQ(Probe::StepMax(e), 1000.0);
    EXPECT_EQ(Probe::Radius(e), -1.0);

    e.Default();
    Probe::Attach(e, &q);
    Probe::StepMax(e) = 3.0;
    Probe::Radius(e) = 5.0;
    Probe::CheckOptions(e);
    EXPECT_EQ(Probe::Radius(e), 3.0);
}

TEST(EngineOptions, FailedCheckStopsLaterCorrectionsButNotTheRun) {
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    e.Default();
    e.SetGradientTolerance(-1.0);
    LambdaProblem p(
        {1.0, 1.0}, [](const double* x) { return x[0] * x[0] + x[1] * x[1]; },
        [](const double* x, double* g) {
            g[0] = 2.0 * x[0];
            g[1] = 2.0 * x[1];
        });
    e.SetImplementationOptions(true, false, false);
    e.Minimize(&p, 1.0, 50, 1);
    const auto rows = Rows(view);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "OPTCHK   Illegal tolerance, gradtl = -1.000000e+00");
    // ndigit stays -1, so the noise is 10 and the run still goes on.
    EXPECT_NE(p.nfev, 0);
    EXPECT_EQ(e.GetNumberOfDigits(), -1);
}

TEST(EngineDriver, IllegalDimensionEvaluatesNothing) {
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    e.Default();
    LambdaProblem p({}, [](const double*) { return NAN; });
    e.Minimize(&p, 1.0, 100, 3);
    EXPECT_EQ(p.nfev + p.ngev + p.nhev, 0);
    EXPECT_EQ(e.GetCodeforTerminationCode(), OptionCheck);
    const auto rows = Rows(view);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], "OPTCHK   Illegal dimension, n = 0");
}

TEST(EngineDriver, IterationLimitIsReportedAsSuch) {
    auto rosen = golden::MakeTestProblem("rosenbrock");
    vrn_problems::CountingProblem p(*rosen);
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    e.Default();
    e.Minimize(&p, 1.0, 0, 1);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
    EXPECT_EQ(e.GetIterationCount(), 0);
    EXPECT_EQ(Rows(view).back(), "WARNING --- too many iterations");

    e.Default();
    e.Minimize(&p, 1.0, 3, 1);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
    EXPECT_EQ(e.GetIterationCount(), 3);
}

TEST(EngineDriver, NonFiniteObjectiveIsNeverConvergence) {
    // NaN everywhere but at the start: forward differences give NaN gradients.
    for (int method = 1; method <= 1; method++) {
        LambdaProblem p({1.0, 1.0}, [](const double* x) {
            if (x[0] == 1.0 && x[1] == 1.0)
                return 2.0;
            return std::numeric_limits<double>::quiet_NaN();
        });
        CVRNUnconstrainedMinimization e;
        e.Default();
        e.SetImplementationOptions(false, false, false);
        e.Minimize(&p, 1.0, 200, method);
        const int code = e.GetCodeforTerminationCode();
        EXPECT_TRUE(code == NoLowerPoint || code == TooManyIterations) << code;
    }
}

TEST(EngineDriver, NaNTrialValuesBacktrackInTheLineSearch) {
    // f is NaN outside the unit disc: the Newton step from the start leaves it.
    LambdaProblem p(
        {0.5, 0.5},
        [](const double* x) {
            const double r = x[0] * x[0] + x[1] * x[1];
            return r > 1.0 ? std::numeric_limits<double>::quiet_NaN() : -std::log(1.0 - r) + x[0];
        },
        nullptr);
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(false, false, false);
    e.Minimize(&p, 1.0, 500, 1);
    const int code = e.GetCodeforTerminationCode();
    EXPECT_NE(code, OptimalSolution);
    EXPECT_TRUE(std::isfinite(e.GetFx()));
}

TEST(EngineDriver, ResultsDoNotDependOnTheStatusView) {
    auto ref = golden::MakeTestProblem("wood");
    vrn_problems::CountingProblem a(*ref), b(*ref);
    CVRNUnconstrainedMinimization ea, eb;
    CVRNStatusView view;
    ea.SetStatusView(&view);
    for (auto* e : {&ea, &eb}) {
        e->Default();
        e->SetImplementationOptions(false, false, false);
    }
    ea.Minimize(&a, 1.0, 10000, 1);
    eb.Minimize(&b, 1.0, 10000, 1);
    EXPECT_GT(Rows(view).size(), 10u);
    EXPECT_EQ(ea.GetCodeforTerminationCode(), eb.GetCodeforTerminationCode());
    EXPECT_EQ(ea.GetIterationCount(), eb.GetIterationCount());
    EXPECT_EQ(a.nfev, b.nfev);
    for (int i = 0; i < 4; i++)
        EXPECT_TRUE(SameBits(ea.GetXMin()[i], eb.GetXMin()[i]));
}

TEST(EngineDriver, StepModeFollowsTheRunAndAbortEndsIt) {
    auto ref = golden::MakeTestProblem("rosenbrock");
    vrn_problems::CountingProblem runp(*ref), stepp(*ref);
    CVRNUnconstrainedMinimization run, step;
    run.Default();
    step.Default();
    run.Minimize(&runp, 1.0, 10000, 1);

    step.FirstStep(&stepp, 1.0, 10000, 1);
    step.SaveStep();
    int steps = 1;
    while (step.bNextStep()) {
        step.TakeOneStep();
        steps++;
    }
    EXPECT_EQ(steps, run.GetIterationCount());
    EXPECT_EQ(step.GetCodeforTerminationCode(), run.GetCodeforTerminationCode());
    for (int i = 0; i < 2; i++)
        EXPECT_TRUE(SameBits(step.GetXMin()[i], run.GetXMin()[i]));

    // An abort between steps ends step mode with code 7; a stopping code stands.
    vrn_problems::CountingProblem p2(*ref);
    step.Default();
    step.FirstStep(&p2, 1.0, 10000, 1);
    step.SaveStep();
    ASSERT_TRUE(step.bNextStep());
    step.Abort();
    EXPECT_FALSE(step.bNextStep());
    EXPECT_EQ(step.GetCodeforTerminationCode(), AbortedByUser);
    EXPECT_STREQ(static_cast<const char*>(step.GetTerminationCode()), "Aborted by User\n");
    step.Abort();
    EXPECT_EQ(step.GetCodeforTerminationCode(), AbortedByUser);
}

TEST(EngineDriver, AbortDuringAnIterationEndsTheRun) {
    CVRNUnconstrainedMinimization e;
    int calls = 0;
    LambdaProblem p({-1.2, 1.0}, [&](const double* x) {
        if (++calls == 40)
            e.Abort();
        const double t1 = x[1] - x[0] * x[0], t2 = 1.0 - x[0];
        return 100.0 * t1 * t1 + t2 * t2;
    });
    e.Default();
    e.SetImplementationOptions(false, false, false);
    e.Abort(); // before the run: cleared at its start
    e.Minimize(&p, 1.0, 10000, 1);
    EXPECT_EQ(e.GetCodeforTerminationCode(), AbortedByUser);
    EXPECT_LT(e.GetIterationCount(), 10);
}

TEST(EngineDriver, ChangingTheDimensionResetsTheIterationCount) {
    CVRNUnconstrainedMinimization e;
    LambdaProblem two(
        {1.0, 2.0}, [](const double* x) { return x[0] * x[0] + x[1] * x[1] + 1.0; },
        [](const double* x, double* g) {
            g[0] = 2.0 * x[0];
            g[1] = 2.0 * x[1];
        });
    e.Default();
    e.SetImplementationOptions(true, false, false);
    e.Minimize(&two, 1.0, 100, 1);
    EXPECT_EQ(two.told, std::vector<int>{0});
    const int k = e.GetIterationCount();
    EXPECT_GT(k, 0);
    two.told.clear();
    e.Minimize(&two, 1.0, 100, 1); // same n: k is kept (and counts on)
    EXPECT_TRUE(two.told.empty());
    EXPECT_GE(e.GetIterationCount(), k);
}

TEST(EngineStoppingTest, RelativeGradientAndStepTests) {
    CVRNUnconstrainedMinimization e;
    e.Default();
    LambdaProblem p({10.0, 0.001}, [](const double*) { return 0.0; });
    Probe::Attach(e, &p);
    Probe::TypSiz(e)[0] = Probe::TypSiz(e)[1] = 1.0;
    Probe::CheckOptions(e);
    double xp[2] = {10.0, 0.001}, gp[2] = {1e-7, 3e-6}, prev[2] = {0.0, 0.0};
    Probe::StepResult(e) = -1;
    Probe::Terminate(e, xp, 0.5, gp, prev);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    gp[1] = 1e-3;
    Probe::Terminate(e, xp, 1e6, gp, prev);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    Probe::Terminate(e, xp, 0.5, gp, prev); // k = 0: nothing else can fire
    EXPECT_EQ(e.GetCodeforTerminationCode(), OptimalSolution);
    Probe::SetK(e, 3);
    Probe::MaxStepTaken(e) = false;
    Probe::Terminate(e, xp, 0.5, gp, xp);
    EXPECT_EQ(e.GetCodeforTerminationCode(), StepSizeSmall);
    // A NaN component never passes the tests.
    gp[0] = NAN;
    Probe::Terminate(e, xp, 0.5, gp, xp);
    EXPECT_EQ(e.GetCodeforTerminationCode(), OptimalSolution);
    // Five consecutive maximum steps; one normal step in between restarts the count.
    gp[0] = 1.0;
    Probe::MaxStepTaken(e) = true;
    for (int i = 0; i < 4; i++) {
        Probe::Terminate(e, xp, 0.5, gp, prev);
        EXPECT_EQ(e.GetCodeforTerminationCode(), OptimalSolution);
    }
    Probe::MaxStepTaken(e) = false;
    Probe::Terminate(e, xp, 0.5, gp, prev);
    Probe::MaxStepTaken(e) = true;
    for (int i = 0; i < 4; i++)
        Probe::Terminate(e, xp, 0.5, gp, prev);
    EXPECT_EQ(e.GetCodeforTerminationCode(), OptimalSolution);
    Probe::Terminate(e, xp, 0.5, gp, prev);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyLargeSteps);
}

TEST(EngineReport, PrintVectorRowsOfFive) {
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    e.Default();
    e.SetImplementationOptions(false, false, false);
    e.SetMessageBits(0);
    LambdaProblem p({1, 2, 3, 4, 5, 6, 7}, [](const double* x) { return x[0] * x[0]; });
    e.Minimize(&p, 1.0, 0, 1);
    const auto rows = Rows(view);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[1], "1 -- 5     1.000000  2.000000  3.000000  4.000000  5.000000  ");
    EXPECT_EQ(rows[2], "6 -- 7     6.000000  7.000000  ");
}

class Factorization : public ::testing::Test {
protected:
    void Load(const std::vector<std::vector<double>>& h, std::vector<double> sx) {
        const int n = static_cast<int>(h.size());
        problem = std::make_unique<LambdaProblem>(std::vector<double>(static_cast<size_t>(n), 1.0),
                                                  [](const double*) { return 0.0; });
        e.Default();
        Probe::Attach(e, problem.get());
        for (int i = 0; i < n; i++) {
            Probe::ScaleX(e)[i] = sx[static_cast<size_t>(i)];
            for (int j = 0; j < n; j++)
                Probe::Hessian(e)[i][j] = h[static_cast<size_t>(i)][static_cast<size_t>(j)];
        }
        Probe::Epsilon(e) = 1.12e-16;
    }
    double LLt(int i, int j) {
        double s = 0.0;
        for (int k = 0; k <= (i < j ? i : j); k++)
            s += Probe::Hessian(e)[i][k] * Probe::Hessian(e)[j][k];
        return s;
    }
    CVRNUnconstrainedMinimization e;
    std::unique_ptr<LambdaProblem> problem;
};

TEST_F(Factorization, PositiveDefiniteIsFactoredUnperturbed) {
    Load({{4, 2, 0}, {2, 5, 1}, {0, 1, 3}}, {1, 1, 1});
    Probe::Decompose(e);
    const double h[3][3] = {{4, 2, 0}, {2, 5, 1}, {0, 1, 3}};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Probe::UDiag(e)[i], h[i][i]);
        for (int j = 0; j < 3; j++)
            EXPECT_NEAR(LLt(i, j), h[i][j], 1e-14);
        for (int j = i + 1; j < 3; j++)
            EXPECT_EQ(Probe::Hessian(e)[i][j], h[i][j]); // upper keeps H
    }
    double x0[3] = {1.0, -2.0, 0.5}, b[3], x[3];
    for (int i = 0; i < 3; i++)
        b[i] = h[i][0] * x0[0] + h[i][1] * x0[1] + h[i][2] * x0[2];
    const double b1 = b[1];
    Probe::Solve(e, x, b);
    EXPECT_EQ(b[1], b1);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(x[i], x0[i], 1e-14);
}

TEST_F(Factorization, ZeroHessianBecomesTheScaling) {
    Load({{0, 0}, {0, 0}}, {2.0, 0.5});
    Probe::Decompose(e);
    EXPECT_EQ(Probe::Hessian(e)[0][0], 2.0);
    EXPECT_EQ(Probe::Hessian(e)[1][1], 0.5);
    EXPECT_EQ(Probe::Hessian(e)[1][0], 0.0);
    EXPECT_EQ(Probe::UDiag(e)[0], 4.0);
    EXPECT_EQ(Probe::UDiag(e)[1], 0.25);
}

TEST_F(Factorization, IndefiniteMatrixIsShiftedToPositiveDefinite) {
    Load({{1, 3}, {3, 1}}, {1, 1});
    Probe::Decompose(e);
    // L L^T = H + mu I with mu > 2 (the smallest eigenvalue is -2).
    const double mu = LLt(0, 0) - 1.0;
    EXPECT_GT(mu, 2.0);
    EXPECT_NEAR(LLt(1, 1) - 1.0, mu, 1e-12);
    EXPECT_NEAR(LLt(1, 0), 3.0, 1e-12);
    EXPECT_NEAR(Probe::UDiag(e)[0], 1.0 + mu, 1e-12);
}

TEST_F(Factorization, OneByOneCases) {
    Load({{9.0}}, {2.0});
    Probe::Decompose(e);
    EXPECT_EQ(Probe::Hessian(e)[0][0], 3.0);
    Load({{-8.0}}, {2.0});
    Probe::Decompose(e);
    const double q = -2.0, tol = std::sqrt(1.12e-16);
    EXPECT_NEAR(Probe::Hessian(e)[0][0] / (2.0 * std::sqrt(-q * tol)), 1.0, 1e-6);
}

TEST(EngineLineSearch, ShortensLongStepsAndFlagsMaximumSteps) {
    CVRNUnconstrainedMinimization e;
    e.Default();
    LambdaProblem p({0.0, 0.0}, [](const double* x) { return -x[0]; });
    Probe::Attach(e, &p);
    Probe::CheckOptions(e);
    Probe::StepMax(e) = 1.0;
    Probe::F(e) = 0.0;
    Probe::Grad(e)[0] = -1.0;
    Probe::Grad(e)[1] = 0.0;
    Probe::Step(e)[0] = 3.0;
    Probe::Step(e)[1] = 0.0;
    Probe::LineSearch(e);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::Step(e)[0], 1.0);
    EXPECT_TRUE(Probe::MaxStepTaken(e));

    Probe::Step(e)[0] = 0.98;
    Probe::LineSearch(e);
    EXPECT_FALSE(Probe::MaxStepTaken(e));
    Probe::Step(e)[0] = 0.995;
    Probe::LineSearch(e);
    EXPECT_TRUE(Probe::MaxStepTaken(e));
}

TEST(EngineLineSearch, QuadraticBacktrackAndFailure) {
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    e.Default();
    // Along p = 1 from 0: f = (t - 0.3)^2 - 0.09, slope -0.6; the full step fails.
    LambdaProblem p({0.0}, [](const double* x) { return (x[0] - 0.3) * (x[0] - 0.3) - 0.09; });
    Probe::Attach(e, &p);
    Probe::CheckOptions(e);
    Probe::F(e) = 0.0;
    Probe::Grad(e)[0] = -0.6;
    Probe::Step(e)[0] = 1.0;
    view.DeleteAllItems(); // drop the size-1 warning of the option check
    Probe::LineSearch(e);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_NEAR(e.GetXMin()[0], 0.3, 1e-15);
    EXPECT_EQ(Rows(view).size(), 2u);

    // Increasing in every direction: lambda shrinks until it is below steptl / r.
    LambdaProblem up({0.0}, [](const double* x) { return x[0] * x[0] + 1.0; });
    Probe::Attach(e, &up);
    Probe::CheckOptions(e);
    Probe::F(e) = 1.0;
    Probe::Grad(e)[0] = -1.0;
    Probe::Step(e)[0] = 1.0;
    Probe::LineSearch(e);
    EXPECT_EQ(Probe::StepResult(e), 1);
}

TEST(EngineFiniteDifferences, StepsBiasAndUntouchedPoint) {
    CVRNUnconstrainedMinimization e;
    e.Default();
    LambdaProblem p(
        {0.0, 0.0}, [](const double* x) { return x[0] * x[0] + x[1] * x[1]; },
        [](const double* x, double* g) {
            g[0] = 2.0 * x[0] + 3.0 * x[1];
            g[1] = 2.0 * x[1];
        });
    Probe::Attach(e, &p);
    Probe::CheckOptions(e);
    Probe::Noise(e) = 1e-15;
    double x[2] = {0.0, 0.0}, g[2];
    Probe::Forward(e, x, 0.0, g);
    EXPECT_EQ(g[0], std::sqrt(1e-15));
    Probe::Central(e, x, g);
    EXPECT_EQ(g[0], 0.0);
    EXPECT_EQ(g[1], 0.0);

    double y[2] = {-5.0, 0.1};
    const double y0 = y[0], y1 = y[1];
    double w[2], gy[2] = {2.0 * y[0] + 3.0 * y[1], 2.0 * y[1]};
    Probe::Forward(e, y, y[0] * y[0] + y[1] * y[1], g);
    Probe::Central(e, y, g);
    Probe::FDHessian(e, y, gy, w);
    EXPECT_TRUE(SameBits(y[0], y0) && SameBits(y[1], y1));
    // Column 0 sees d g1 / d x0 = 0, column 1 sees d g0 / d x1 = 3: the lower triangle averages.
    EXPECT_NEAR(Probe::Hessian(e)[1][0], 1.5, 1e-6);
    EXPECT_NEAR(Probe::Hessian(e)[0][1], 3.0, 1e-6);

    double s[2], fn[2];
    p.nfev = 0;
    Probe::SecondOrder(e, y, y[0] * y[0] + y[1] * y[1], s, fn);
    EXPECT_EQ(p.nfev, 2 * (2 + 3) / 2);
    EXPECT_NEAR(Probe::Hessian(e)[0][0], 2.0, 1e-4);
    EXPECT_NEAR(Probe::Hessian(e)[1][0], 0.0, 1e-4);
    EXPECT_TRUE(SameBits(y[0], y0) && SameBits(y[1], y1));
}

} // namespace

namespace {

TEST(EngineDriver, AbortEndsAConjugateGradientRun) {
    CVRNUnconstrainedMinimization e;
    int calls = 0;
    LambdaProblem p(
        {-1.2, 1.0},
        [&](const double* x) {
            if (++calls == 30)
                e.Abort();
            const double t1 = x[1] - x[0] * x[0], t2 = 1.0 - x[0];
            return 100.0 * t1 * t1 + t2 * t2;
        },
        [](const double* x, double* g) {
            const double t1 = x[1] - x[0] * x[0];
            g[0] = -400.0 * x[0] * t1 - 2.0 * (1.0 - x[0]);
            g[1] = 200.0 * t1;
        });
    e.Default();
    e.Abort(); // a request before the run is cleared at its start
    e.Minimize(&p, 1.0, 10000, 4);
    EXPECT_EQ(e.GetCodeforTerminationCode(), AbortedByUser);
    EXPECT_LT(e.GetIterationCount(), 10);
}

} // namespace
