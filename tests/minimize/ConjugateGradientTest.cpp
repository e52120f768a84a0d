// Method 4: conjugate gradients with bracketing and Brent line minimization.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "problems/ReferenceProblems.h"
#include "support/LambdaProblem.h"
#include "views/StatusView.h"

namespace {

struct CgProbeTag {};

double SumOfSquares(const double* x, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i)
        s += x[i] * x[i];
    return s;
}

// Sum of squares of the start's dimension, with its exact gradient 2x.
LambdaProblem SumOfSquaresProblem(std::vector<double> start) {
    const int n = static_cast<int>(start.size());
    return LambdaProblem(
        std::move(start), [n](const double* x) { return SumOfSquares(x, n); },
        [n](const double* x, double* g) {
            for (int i = 0; i < n; ++i)
                g[i] = 2.0 * x[i];
        });
}

} // namespace

template <> struct CVRNEngineProbe<CgProbeTag> {
    // Binds the problem, sizes the arrays and loads the start point, as a run does.
    static void Attach(CVRNUnconstrainedMinimization& e, CVRNMinimizationMethodBase* p) {
        e.m_pMethod = p;
        e.AllocateTempArrays();
    }
    static void Run(CVRNUnconstrainedMinimization& e) { e.ConjugateGradient(); }
    static void LineMin(CVRNUnconstrainedMinimization& e) { e.ConjugateGradientStep_LineMinimizae(); }
    static void Bracket(CVRNUnconstrainedMinimization& e, double& t1, double& t2, double& t3, double& f1,
                        double& f2, double& f3) {
        e.BracketMinimum(t1, t2, t3, f1, f2, f3);
    }
    static double Brent(CVRNUnconstrainedMinimization& e, double& t1, double& t2, double& t3, double tol,
                        double& xmin, int itmax) {
        return e.BrentStep(t1, t2, t3, tol, xmin, itmax);
    }
    static double Sign(CVRNUnconstrainedMinimization& e, double a, double b) { return e.SIGN(a, b); }
    static double* X(CVRNUnconstrainedMinimization& e) { return e.m_pX; }
    static double* Xi(CVRNUnconstrainedMinimization& e) { return e.m_pGrad; }
    static double* P(CVRNUnconstrainedMinimization& e) { return e.m_pStep; }
    static double F(CVRNUnconstrainedMinimization& e) { return e.m_dF; }
    static void SetF(CVRNUnconstrainedMinimization& e, double f) { e.m_dF = f; }
    static double FPlus(CVRNUnconstrainedMinimization& e) { return e.m_dFPlus; }
    static int Code(CVRNUnconstrainedMinimization& e) { return e.m_nTerminationCode; }
    static void SetCode(CVRNUnconstrainedMinimization& e, int c) { e.m_nTerminationCode = c; }
    static int StepResult(CVRNUnconstrainedMinimization& e) { return e.m_nStepResult; }
    static void SetIterationLimit(CVRNUnconstrainedMinimization& e, int k) { e.m_nIterationLimit = k; }
    static int LineArraySize(CVRNUnconstrainedMinimization& e) { return e.m_XT.GetSize(); }
    static void SizeLineArrays(CVRNUnconstrainedMinimization& e) {
        e.m_XT.SetSize(e.m_nParameters, -1);
        e.m_GT.SetSize(e.m_nParameters, -1);
        e.m_pXT = e.m_XT;
        e.m_pGT = e.m_GT;
    }
};

using Probe = CVRNEngineProbe<CgProbeTag>;

namespace {

// ---------------------------------------------------------------- SIGN

TEST(ConjugateGradientSign, ZeroCountsAsPositiveWhateverItsSign) {
    CVRNUnconstrainedMinimization e;
    EXPECT_EQ(Probe::Sign(e, 3.0, 0.0), 3.0);
    EXPECT_EQ(Probe::Sign(e, 3.0, -0.0), 3.0);
    EXPECT_EQ(Probe::Sign(e, -3.0, 0.0), 3.0);
    EXPECT_EQ(Probe::Sign(e, -3.0, -0.0), 3.0);
}

TEST(ConjugateGradientSign, TinyValuesKeepTheirSign) {
    CVRNUnconstrainedMinimization e;
    EXPECT_EQ(Probe::Sign(e, 3.0, -1e-300), -3.0);
    EXPECT_EQ(Probe::Sign(e, -3.0, 2.0), 3.0);
    const double denormal = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(Probe::Sign(e, -3.0, denormal), 3.0);
    EXPECT_EQ(Probe::Sign(e, 3.0, -denormal), -3.0);
    EXPECT_EQ(Probe::Sign(e, 1e-300, -5.0), -1e-300);
}

// ---------------------------------------------------------------- bracketing

// F(t) = (t - 5)^2 as the line function: one parameter at 0, direction +1.
class BracketTest : public ::testing::Test {
protected:
    BracketTest()
        : problem(
              {0.0}, [](const double* x) { return (x[0] - 5.0) * (x[0] - 5.0); },
              [](const double* x, double* g) { g[0] = 2.0 * (x[0] - 5.0); }) {
        Probe::Attach(e, &problem);
        Probe::SizeLineArrays(e);
        Probe::Xi(e)[0] = 1.0;
    }
    static double F(double t) { return (t - 5.0) * (t - 5.0); }
    CVRNUnconstrainedMinimization e;
    LambdaProblem problem;
};

TEST_F(BracketTest, ParabolicStepFindsTheVertexAndTheBracketHoldsIt) {
    double t1 = 0.0, t2 = 1.0, t3 = 0.0, f1 = 0.0, f2 = 0.0, f3 = 0.0;
    Probe::Bracket(e, t1, t2, t3, f1, f2, f3);
    EXPECT_LT(t1, t2);
    EXPECT_LT(t2, t3);
    EXPECT_LE(t1, 5.0);
    EXPECT_GE(t3, 5.0);
    EXPECT_LT(f2, f1);
    EXPECT_LT(f2, f3);
    // The values belong to the abscissae.
    EXPECT_EQ(f1, F(t1));
    EXPECT_EQ(f2, F(t2));
    EXPECT_EQ(f3, F(t3));
    // Golden step to 2.618034, parabola to the vertex, one golden step past it.
    EXPECT_DOUBLE_EQ(t1, 2.618034);
    EXPECT_NEAR(t2, 5.0, 1e-12);
    EXPECT_EQ(problem.nfev, 5);
    EXPECT_EQ(problem.ngev, 0);
}

TEST_F(BracketTest, UphillStartIsTurnedAroundAndBracketsInReverseOrder) {
    double t1 = 6.0, t2 = 7.0, t3 = 0.0, f1 = 0.0, f2 = 0.0, f3 = 0.0;
    Probe::Bracket(e, t1, t2, t3, f1, f2, f3);
    EXPECT_GT(t1, t2);
    EXPECT_GT(t2, t3);
    EXPECT_GE(t1, 5.0);
    EXPECT_LE(t3, 5.0);
    EXPECT_LT(f2, f1);
    EXPECT_LT(f2, f3);
}

TEST_F(BracketTest, FarStartExpandsUntilTheValueRisesAgain) {
    double t1 = -1000.0, t2 = -999.0, t3 = 0.0, f1 = 0.0, f2 = 0.0, f3 = 0.0;
    Probe::Bracket(e, t1, t2, t3, f1, f2, f3);
    const double lo = t1 < t3 ? t1 : t3;
    const double hi = t1 > t3 ? t1 : t3;
    EXPECT_LE(lo, 5.0);
    EXPECT_GE(hi, 5.0);
    EXPECT_LE(f2, f1);
    EXPECT_LE(f2, f3);
}

// ---------------------------------------------------------------- Brent

TEST_F(BracketTest, BrentLocatesTheMinimumInsideTheBracket) {
    double t1 = 0.0, t2 = 1.0, t3 = 0.0, f1 = 0.0, f2 = 0.0, f3 = 0.0;
    Probe::Bracket(e, t1, t2, t3, f1, f2, f3);
    double xmin = 0.0;
    const double fmin = Probe::Brent(e, t1, t2, t3, std::sqrt(1.12e-16), xmin, 1000);
    EXPECT_NEAR(xmin, 5.0, 1e-7);
    EXPECT_EQ(fmin, F(xmin));
}

TEST_F(BracketTest, BrentOutOfIterationsReturnsItsBestPoint) {
    // No iteration at all: the best point is the middle abscissa.
    double t1 = 0.0, t2 = 1.0, t3 = 20.0;
    double xmin = -7.0;
    double fmin = Probe::Brent(e, t1, t2, t3, 1e-8, xmin, 0);
    EXPECT_EQ(xmin, 1.0);
    EXPECT_EQ(fmin, 16.0);

    // One iteration from a wide bracket cannot converge; the result is a point it
    // evaluated, with its value, never 0 at the caller's abscissa.
    t1 = 0.0;
    t2 = 1.0;
    t3 = 20.0;
    xmin = 0.0;
    fmin = Probe::Brent(e, t1, t2, t3, 1e-8, xmin, 1);
    EXPECT_NE(xmin, 0.0);
    EXPECT_EQ(fmin, F(xmin));
    EXPECT_LE(fmin, 16.0);
}

// ---------------------------------------------------------------- line minimization

TEST(ConjugateGradientLine, FirstLineMinimizationOfSumOfSquaresReachesTheOrigin) {
    LambdaProblem problem = SumOfSquaresProblem({1.0, 2.0});
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::SetCode(e, OptimalSolution);
    Probe::SetF(e, 5.0);
    Probe::Xi(e)[0] = -2.0;
    Probe::Xi(e)[1] = -4.0;
    Probe::LineMin(e);

    EXPECT_EQ(Probe::LineArraySize(e), 2);
    const double* x = Probe::X(e);
    const double* p = Probe::P(e);
    const double* xi = Probe::Xi(e);
    // Brent tolerance sqrt(eps) relative to xmin ~ 0.5, along a direction of length ~4.5.
    EXPECT_NEAR(x[0], 0.0, 1e-7);
    EXPECT_NEAR(x[1], 0.0, 1e-7);
    // xi became the step, xmin * (-2, -4), with xmin close to 0.5.
    EXPECT_NEAR(xi[0] / -2.0, 0.5, 1e-7);
    EXPECT_EQ(xi[0] / -2.0, xi[1] / -4.0);
    // p holds the step actually taken.
    EXPECT_EQ(p[0], xi[0]);
    EXPECT_EQ(p[1], xi[1]);
    EXPECT_EQ(x[0], 1.0 + p[0]);
    EXPECT_EQ(x[1], 2.0 + p[1]);
    EXPECT_NEAR(Probe::FPlus(e), 0.0, 1e-13);
    EXPECT_EQ(Probe::FPlus(e), SumOfSquares(x, 2));
    EXPECT_EQ(Probe::Code(e), OptimalSolution);
}

TEST(ConjugateGradientLine, LineArraysFollowTheProblemSize) {
    auto quad = [](int n) {
        return LambdaProblem(
            std::vector<double>(static_cast<size_t>(n), 1.0),
            [n](const double* x) { return SumOfSquares(x, n); },
            [n](const double* x, double* g) {
                for (int i = 0; i < n; ++i)
                    g[i] = 2.0 * x[i];
            });
    };
    CVRNUnconstrainedMinimization e;
    e.Default();
    LambdaProblem p5 = quad(5);
    Probe::Attach(e, &p5);
    Probe::Run(e);
    EXPECT_EQ(Probe::LineArraySize(e), 5);
    LambdaProblem p2 = quad(2);
    Probe::Attach(e, &p2);
    Probe::Run(e);
    EXPECT_EQ(Probe::LineArraySize(e), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_NEAR(Probe::X(e)[i], 0.0, 1e-7);
}

// ---------------------------------------------------------------- the method

TEST(ConjugateGradientRun, IterationLimitZeroEvaluatesTheStartAndStopsWithCodeFour) {
    LambdaProblem problem = SumOfSquaresProblem({1.0, 2.0});
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::SetIterationLimit(e, 0);
    Probe::Run(e);
    EXPECT_EQ(problem.nfev, 1);
    EXPECT_EQ(problem.ngev, 1);
    EXPECT_EQ(problem.ncommit, 0);
    EXPECT_EQ(Probe::X(e)[0], 1.0);
    EXPECT_EQ(Probe::X(e)[1], 2.0);
    EXPECT_EQ(Probe::F(e), 5.0);
    EXPECT_EQ(e.GetIterationCount(), 0);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
    EXPECT_STREQ(e.GetTerminationCode(), "WARNING --- too many iterations\n");
}

TEST(ConjugateGradientRun, ReachingTheIterationLimitSetsCodeFour) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::SetIterationLimit(e, 2);
    Probe::Run(e);
    EXPECT_EQ(e.GetIterationCount(), 2);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
}

TEST(ConjugateGradientRun, FunctionChangeTestSetsCodeTwo) {
    // Constant offset: near the minimum the relative change of f falls below ftol
    // while the gradient is still well above sqrt(ftol).
    LambdaProblem problem(
        {1.0, 2.0}, [](const double* x) { return 1.0 + x[0] * x[0] + 3.0 * x[1] * x[1]; },
        [](const double* x, double* g) {
            g[0] = 2.0 * x[0];
            g[1] = 6.0 * x[1];
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), StepSizeSmall);
    EXPECT_EQ(Probe::StepResult(e), 1);
    EXPECT_NEAR(Probe::X(e)[0], 0.0, 1e-7);
    EXPECT_NEAR(Probe::X(e)[1], 0.0, 1e-7);
    EXPECT_STREQ(e.GetTerminationCode(), "WARNING --- probably converged, step size small\n");
}

TEST(ConjugateGradientRun, GradientTestSetsCodeOne) {
    // Without the offset the values fall toward 0, so the relative change test keeps
    // failing and the gradient test ends the run.
    LambdaProblem problem = SumOfSquaresProblem({1.0, 2.0});
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    EXPECT_NEAR(Probe::X(e)[0], 0.0, 1e-7);
    EXPECT_NEAR(Probe::X(e)[1], 0.0, 1e-7);
}

TEST(ConjugateGradientRun, PreviousCodeDoesNotSurviveANewRun) {
    LambdaProblem problem(
        {1.0, 2.0}, [](const double* x) { return 1.0 + x[0] * x[0] + 3.0 * x[1] * x[1]; },
        [](const double* x, double* g) {
            g[0] = 2.0 * x[0];
            g[1] = 6.0 * x[1];
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::SetIterationLimit(e, 0);
    Probe::Run(e);
    ASSERT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
    Probe::Attach(e, &problem);
    Probe::SetIterationLimit(e, 100);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), StepSizeSmall);
}

TEST(ConjugateGradientRun, ZeroGradientAtTheStartMakesNoMove) {
    LambdaProblem problem = SumOfSquaresProblem({0.0, 0.0});
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    EXPECT_EQ(problem.nfev, 1);
    EXPECT_EQ(problem.ngev, 1);
    EXPECT_EQ(Probe::X(e)[0], 0.0);
    EXPECT_EQ(Probe::X(e)[1], 0.0);
    EXPECT_EQ(Probe::P(e)[0], 0.0);
    EXPECT_EQ(Probe::P(e)[1], 0.0);
    EXPECT_EQ(Probe::FPlus(e), 0.0);
    EXPECT_EQ(e.GetIterationCount(), 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(std::isnan(Probe::X(e)[i]));
}

TEST(ConjugateGradientRun, GradientVanishingAfterAStepEndsWithCodeOne) {
    // A linear-then-flat valley: the exact minimum is reached by one line
    // minimization and the gradient there is exactly zero.
    LambdaProblem problem(
        {3.0}, [](const double* x) { return x[0] > 0.0 ? x[0] * x[0] : 0.0; },
        [](const double* x, double* g) { g[0] = x[0] > 0.0 ? 2.0 * x[0] : 0.0; });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    EXPECT_EQ(e.GetIterationCount(), 1);
    EXPECT_TRUE(std::isfinite(Probe::X(e)[0]));
    EXPECT_LE(Probe::X(e)[0], 1e-6);
}

TEST(ConjugateGradientRun, NaNValuesAlongTheLineLeaveXInPlace) {
    // Finite only at the start point; the gradient points along the line.
    LambdaProblem problem(
        {0.0, 0.0},
        [](const double* x) {
            return x[0] == 0.0 && x[1] == 0.0 ? 9.0 : std::numeric_limits<double>::quiet_NaN();
        },
        [](const double*, double* g) {
            g[0] = -6.0;
            g[1] = 2.0;
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), NoLowerPoint);
    EXPECT_EQ(Probe::X(e)[0], 0.0);
    EXPECT_EQ(Probe::X(e)[1], 0.0);
    EXPECT_EQ(Probe::F(e), 9.0);
    EXPECT_EQ(Probe::P(e)[0], 0.0);
    EXPECT_EQ(Probe::P(e)[1], 0.0);
    EXPECT_EQ(problem.ncommit, 0);
    EXPECT_EQ(e.GetIterationCount(), 0);
    EXPECT_STREQ(e.GetTerminationCode(), "WARNING --- cannot find lower point\n");
}

TEST(ConjugateGradientRun, InfiniteValuesAlongTheLineLeaveXInPlace) {
    LambdaProblem problem(
        {1.0}, [](const double* x) { return x[0] == 1.0 ? 1.0 : -std::numeric_limits<double>::infinity(); },
        [](const double*, double* g) { g[0] = 1.0; });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), NoLowerPoint);
    EXPECT_EQ(Probe::X(e)[0], 1.0);
    EXPECT_EQ(Probe::F(e), 1.0);
}

TEST(ConjugateGradientRun, NaNGradientAtTheStartStopsWithoutEvaluatingTheLine) {
    LambdaProblem problem(
        {1.0, 2.0}, [](const double* x) { return SumOfSquares(x, 2); },
        [](const double*, double* g) {
            g[0] = std::numeric_limits<double>::quiet_NaN();
            g[1] = 1.0;
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), NoLowerPoint);
    EXPECT_EQ(problem.nfev, 1);
    EXPECT_EQ(problem.ngev, 1);
    EXPECT_EQ(Probe::X(e)[0], 1.0);
    EXPECT_EQ(Probe::X(e)[1], 2.0);
}

TEST(ConjugateGradientRun, InfiniteGradientComponentDoesNotMoveXToNaN) {
    LambdaProblem problem(
        {1.0, 2.0}, [](const double* x) { return SumOfSquares(x, 2); },
        [](const double*, double* g) {
            g[0] = std::numeric_limits<double>::infinity();
            g[1] = 1.0;
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), NoLowerPoint);
    EXPECT_EQ(Probe::X(e)[0], 1.0);
    EXPECT_EQ(Probe::X(e)[1], 2.0);
}

TEST(ConjugateGradientRun, NaNGradientAfterAStepEndsWithCodeThreeWithinFewEvaluations) {
    // The gradient turns NaN once x leaves the start point.
    LambdaProblem problem(
        {1.0, 2.0}, [](const double* x) { return SumOfSquares(x, 2) + 1.0; },
        [](const double* x, double* g) {
            const bool start = x[0] == 1.0 && x[1] == 2.0;
            g[0] = start ? 2.0 : std::numeric_limits<double>::quiet_NaN();
            g[1] = start ? 4.0 : std::numeric_limits<double>::quiet_NaN();
        });
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), NoLowerPoint);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(std::isfinite(Probe::X(e)[i]));
    EXPECT_LT(problem.nfev + problem.ngev, 100);
}

TEST(ConjugateGradientRun, QuadraticInThreeDimensionsConvergesInAFewLineMinimizations) {
    golden::Quadratic3 reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNUnconstrainedMinimization e;
    e.Default();
    Probe::Attach(e, &problem);
    Probe::Run(e);
    EXPECT_EQ(e.GetCodeforTerminationCode(), GradientSmall);
    EXPECT_EQ(e.GetIterationCount(), 3);
    EXPECT_NEAR(Probe::X(e)[0], 1.0, 1e-9);
    EXPECT_NEAR(Probe::X(e)[1], -2.0, 1e-9);
    EXPECT_NEAR(Probe::X(e)[2], 3.0, 1e-9);
    // One commit per accepted line minimization; the fourth one is followed by the
    // gradient test, which fires on the gradient at the end of the third.
    EXPECT_EQ(problem.commits, 4);
    EXPECT_EQ(problem.nhev, 0);
}

} // namespace

// ---------------------------------------------------------------- through the public Minimize

namespace {

struct KnownMinimum {
    const char* problem;
    double xstar; // every component of the minimizer
    double xtol;  // how close the default function tolerance 1e-10 gets
    double ftol;
};

class MethodFour : public ::testing::TestWithParam<KnownMinimum> {};

TEST_P(MethodFour, ReachesTheKnownMinimumAndSaysWhatStoppedIt) {
    auto reference = golden::MakeTestProblem(GetParam().problem);
    vrn_problems::CountingProblem problem(*reference);
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.Default();
    e.SetImplementationOptions(true, false, false);
    e.SetStatusView(&view);
    e.Minimize(&problem, 1.0, 10000, 4);

    const int n = e.GetNumberOfParameters();
    ASSERT_EQ(n, reference->n);
    const int code = e.GetCodeforTerminationCode();
    EXPECT_TRUE(code == GradientSmall || code == StepSizeSmall) << code;
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(e.GetX()[i], GetParam().xstar, GetParam().xtol) << i;
    EXPECT_LE(e.GetFx(), GetParam().ftol);
    EXPECT_EQ(problem.nhev, 0);
    EXPECT_LT(e.GetIterationCount(), 10000);

    // The only output of this path is the termination text, and it names the code.
    ASSERT_EQ(view.GetRowCount(), 1);
    std::string text = e.GetTerminationCode().Str();
    ASSERT_FALSE(text.empty());
    text.pop_back(); // the line feed ends the row
    EXPECT_EQ(std::string(view.GetRowText(0)), text);
}

TEST(MethodFourRun, IterationLimitIsReportedAsSuch) {
    auto reference = golden::MakeTestProblem("rosenbrock");
    vrn_problems::CountingProblem problem(*reference);
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.Default();
    e.SetImplementationOptions(true, false, false);
    e.SetStatusView(&view);
    e.Minimize(&problem, 1.0, 3, 4);
    EXPECT_EQ(e.GetCodeforTerminationCode(), TooManyIterations);
    EXPECT_EQ(e.GetIterationCount(), 3);
    EXPECT_EQ(problem.commits, 3);
    ASSERT_EQ(view.GetRowCount(), 1);
    EXPECT_STREQ(view.GetRowText(0), "WARNING --- too many iterations");
}

INSTANTIATE_TEST_SUITE_P(AnalyticGradients, MethodFour,
                         ::testing::Values(KnownMinimum{"rosenbrock", 1.0, 1e-6, 1e-15},
                                           KnownMinimum{"extrosenbrock", 1.0, 1e-6, 1e-15},
                                           KnownMinimum{"powell", 0.0, 1e-2, 1e-9},
                                           KnownMinimum{"wood", 1.0, 1e-4, 1e-9}),
                         [](const ::testing::TestParamInfo<KnownMinimum>& info) {
                             return std::string(info.param.problem);
                         });

} // namespace
