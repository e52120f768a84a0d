// Trust-region update (accept, reduce, double, fall back), the double dogleg curve and
// the More-Hebden hook step.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/minimize/TrustRegionTestSupport.h"

using h4test::Probe;
using h4test::ScaledNorm;
using h4test::Snapshot;

namespace {

using Engine = CVRNUnconstrainedMinimization;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

double SumSquares(const double* x) {
    return x[0] * x[0] + x[1] * x[1];
}

// ---------------------------------------------------------------------------------
// TrustRegionUpdate on F = x0^2 + x1^2 at x = (1, 1), f = 2, g = (2, 2).
class TrustRegionUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Make([](const double* x) { return SumSquares(x); }, 3);
    }

    void Make(std::function<double(const double*)> f, int method) {
        problem = std::make_unique<h4test::FunctionProblem>(std::vector<double>{1.0, 1.0}, std::move(f));
        Probe::Attach(e, problem.get(), method);
        Probe::F(e) = 2.0;
        Probe::Grad(e)[0] = 2.0;
        Probe::Grad(e)[1] = 2.0;
        // Model Hessian 2I as the factorization stores it: diagonal vector, upper triangle.
        CMatrix& a = Probe::Hessian(e);
        Probe::UDiag(e)[0] = 2.0;
        Probe::UDiag(e)[1] = 2.0;
        a[0][1] = 0.0;
        a[0][0] = std::sqrt(2.0);
        a[1][1] = std::sqrt(2.0);
        a[1][0] = 0.0;
        Probe::Radius(e) = 8.0;
        Probe::StepMax(e) = 1000.0;
        Probe::NewtonTaken(e) = false;
    }

    void Update(double s0, double s1) {
        s[0] = s0;
        s[1] = s1;
        Probe::TrustRegionUpdate(e, s, fplussave);
    }

    Engine e;
    std::unique_ptr<h4test::FunctionProblem> problem;
    double s[2] = {0.0, 0.0};
    double fplussave = 123.0;
};

TEST_F(TrustRegionUpdateTest, FallsBackToSavedPointWhenDoubledRadiusFails) {
    Probe::StepResult(e) = 3;
    Probe::Wrk(e, 3)[0] = 0.5;
    Probe::Wrk(e, 3)[1] = 0.5;
    fplussave = 0.5;
    Update(-2.0, -2.0); // lands on (-1, -1), F = 2 >= 0.5
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::XPlus(e)[0], 0.5);
    EXPECT_EQ(Probe::XPlus(e)[1], 0.5);
    EXPECT_EQ(Probe::FPlus(e), 0.5);
    EXPECT_EQ(Probe::Radius(e), 4.0);
}

TEST_F(TrustRegionUpdateTest, TooLargeWithTinyInterpolantCutsToTenthOfRadius) {
    Probe::StepResult(e) = 4;
    Update(-20.0, -20.0); // f+ = 722, slope -80: interpolated radius 0.05*Delta
    EXPECT_EQ(Probe::StepResult(e), 2);
    EXPECT_EQ(Probe::Radius(e), 0.1 * 8.0);
    EXPECT_EQ(fplussave, 0.0); // cleared on the first call of a global step
    EXPECT_FALSE(Probe::MaxStepTaken(e));
}

TEST_F(TrustRegionUpdateTest, TooLargeUsesQuadraticInterpolant) {
    Probe::StepResult(e) = 4;
    Update(-2.5, -2.5); // f+ = 4.5, delta f = 2.5, slope = -10
    EXPECT_EQ(Probe::StepResult(e), 2);
    const double expect = -(-10.0) * 8.0 / (2.0 * (2.5 - (-10.0)));
    EXPECT_EQ(Probe::Radius(e), expect);
    EXPECT_DOUBLE_EQ(Probe::Radius(e), 0.4 * 8.0);
}

TEST_F(TrustRegionUpdateTest, TooLargeButRelativelyTinyStepFails) {
    Probe::StepResult(e) = 4;
    Update(1e-10, 1e-10); // uphill, relative length 1e-10 < steptl
    EXPECT_EQ(Probe::StepResult(e), 1);
    EXPECT_EQ(Probe::Radius(e), 8.0);
    EXPECT_EQ(Probe::XPlus(e)[0], 1.0 + 1e-10);
}

TEST_F(TrustRegionUpdateTest, NonFiniteValueShrinksRegionAndIsNeverAccepted) {
    Make([](const double*) { return kNaN; }, 3);
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 2);
    EXPECT_EQ(Probe::Radius(e), 0.1 * 8.0);

    Make([](const double*) { return std::numeric_limits<double>::infinity(); }, 2);
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 2);
    EXPECT_EQ(Probe::Radius(e), 0.1 * 8.0);
}

TEST_F(TrustRegionUpdateTest, NonFiniteValueAfterDoublingFallsBack) {
    Make([](const double*) { return kNaN; }, 3);
    Probe::StepResult(e) = 3;
    Probe::Wrk(e, 3)[0] = 0.5;
    Probe::Wrk(e, 3)[1] = 0.25;
    fplussave = 0.3125;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::XPlus(e)[1], 0.25);
    EXPECT_EQ(Probe::FPlus(e), 0.3125);
    EXPECT_EQ(Probe::Radius(e), 4.0);
}

TEST_F(TrustRegionUpdateTest, WellPredictedStepDoublesRadiusAndSavesPoint) {
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5); // model 2I is exact: delta f = predicted = -1.5
    EXPECT_EQ(Probe::StepResult(e), 3);
    EXPECT_EQ(Probe::Radius(e), 16.0);
    EXPECT_EQ(Probe::Wrk(e, 3)[0], 0.5);
    EXPECT_EQ(fplussave, 0.5);
}

TEST_F(TrustRegionUpdateTest, NoDoublingAfterReductionOrForNewtonStep) {
    Probe::StepResult(e) = 2;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::Radius(e), 16.0); // accepted with very good agreement

    Probe::StepResult(e) = 4;
    Probe::Radius(e) = 8.0;
    Probe::NewtonTaken(e) = true;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 0);
}

TEST_F(TrustRegionUpdateTest, DoublingIsCappedAtMaxStep) {
    Probe::StepResult(e) = 4;
    Probe::StepMax(e) = 10.0;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 3);
    EXPECT_EQ(Probe::Radius(e), 10.0);
}

TEST_F(TrustRegionUpdateTest, ModeratelyPredictedStepKeepsRadius) {
    // Model with curvature -2 per unit: predicted -2.5 against the actual -1.5, which
    // lies between 0.75 and 0.1 of the prediction.
    Probe::UDiag(e)[0] = -2.0;
    Probe::UDiag(e)[1] = -2.0;
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::Radius(e), 8.0);
    EXPECT_FALSE(Probe::MaxStepTaken(e));
}

TEST_F(TrustRegionUpdateTest, PoorlyPredictedStepHalvesRadius) {
    // Model curvature -72 per unit: predicted -20 against the actual -1.5.
    Probe::UDiag(e)[0] = -72.0;
    Probe::UDiag(e)[1] = -72.0;
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::Radius(e), 4.0);
}

TEST_F(TrustRegionUpdateTest, FactorCurvatureForMethodTwo) {
    Make([](const double* x) { return SumSquares(x); }, 2);
    // Method 2 reads ||L^T s||^2; a diagonal vector that disagrees must not matter.
    Probe::UDiag(e)[0] = 40.0;
    Probe::UDiag(e)[1] = 40.0;
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5);
    EXPECT_EQ(Probe::StepResult(e), 3);
}

TEST_F(TrustRegionUpdateTest, MaxStepFlagOnlyOnAcceptanceNearMaxStep) {
    Probe::StepMax(e) = 8.0;
    Probe::StepResult(e) = 4;
    Update(-0.5, -0.5); // well predicted, but the radius is at MaxStep: accept
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_TRUE(Probe::MaxStepTaken(e));

    Probe::Radius(e) = 8.0;
    Probe::StepResult(e) = 4;
    Update(-20.0, -20.0);
    EXPECT_EQ(Probe::StepResult(e), 2);
    EXPECT_FALSE(Probe::MaxStepTaken(e));
}

// ---------------------------------------------------------------------------------
// Double dogleg on F = 0.5 x^T A x, A = [[4,1],[1,2]], at x = (1, 2).
class DoglegTest : public ::testing::Test {
protected:
    void Make(double sx0, double sx1) {
        problem =
            std::make_unique<h4test::FunctionProblem>(std::vector<double>{1.0, 2.0}, [](const double* x) {
                return 0.5 * (4.0 * x[0] * x[0] + 2.0 * x[0] * x[1] + 2.0 * x[1] * x[1]);
            });
        Probe::Attach(e, problem.get(), 2);
        Probe::ScaleX(e)[0] = sx0;
        Probe::ScaleX(e)[1] = sx1;
        CMatrix& a = Probe::Hessian(e);
        a[0][0] = 2.0;
        a[1][0] = 0.5;
        a[1][1] = std::sqrt(1.75);
        a[0][1] = 1.0;
        Probe::Grad(e)[0] = 6.0;
        Probe::Grad(e)[1] = 5.0;
        Probe::Step(e)[0] = -1.0;
        Probe::Step(e)[1] = -2.0;
        Probe::UseTrialArrays(e);
        Probe::FirstDogleg(e) = true;
        Probe::NewtonLength(e) = ScaledNorm(2, Probe::ScaleX(e), Probe::Step(e));
    }

    // Builds the curve (with a radius too small for any Newton point) and returns eta.
    double BuildCurve() {
        double eta = 0.0;
        Probe::Radius(e) = 1e-3;
        Probe::DoubleDoglegStep(e, eta);
        return eta;
    }

    Engine e;
    std::unique_ptr<h4test::FunctionProblem> problem;
};

TEST_F(DoglegTest, NewtonStepFitsAndRadiusShrinksToIt) {
    Make(2.0, 0.5);
    double eta = 0.0;
    Probe::Radius(e) = 100.0;
    Probe::DoubleDoglegStep(e, eta);
    EXPECT_TRUE(Probe::NewtonTaken(e));
    EXPECT_EQ(Probe::TrialStep(e)[0], -1.0);
    EXPECT_EQ(Probe::TrialStep(e)[1], -2.0);
    EXPECT_EQ(Probe::Radius(e), Probe::NewtonLength(e));
    EXPECT_TRUE(Probe::FirstDogleg(e)); // no curve needed
}

TEST_F(DoglegTest, UnsetRadiusStartsAtCauchyLength) {
    Make(2.0, 0.5);
    double eta = 0.0;
    Probe::Radius(e) = -1.0;
    Probe::DoubleDoglegStep(e, eta);
    EXPECT_FALSE(Probe::NewtonTaken(e));
    double alpha = 0.0, beta = 0.0;
    Probe::CauchyTerms(e, alpha, beta);
    EXPECT_EQ(Probe::CauchyLength(e), alpha * std::sqrt(alpha) / beta);
    EXPECT_EQ(Probe::Radius(e), Probe::CauchyLength(e));
    // The step is then the Cauchy step itself.
    EXPECT_NEAR(ScaledNorm(2, Probe::ScaleX(e), Probe::TrialStep(e)), Probe::Radius(e), 1e-14);

    Make(2.0, 0.5);
    Probe::StepMax(e) = 0.01;
    Probe::Radius(e) = -1.0;
    Probe::DoubleDoglegStep(e, eta);
    EXPECT_EQ(Probe::Radius(e), 0.01);
}

TEST_F(DoglegTest, CauchyTermsMatchScaledNorms) {
    Make(2.0, 0.5);
    double alpha = 0.0, beta = 0.0;
    Probe::CauchyTerms(e, alpha, beta);
    // alpha = ||Dx^-1 g||^2, beta = ||L^T Dx^-2 g||^2 = (Dx^-2 g)^T A (Dx^-2 g).
    const double v0 = 6.0 / 4.0, v1 = 5.0 / 0.25;
    EXPECT_DOUBLE_EQ(alpha, 36.0 / 4.0 + 25.0 / 0.25);
    EXPECT_NEAR(beta, 4.0 * v0 * v0 + 2.0 * v0 * v1 + 2.0 * v1 * v1, 1e-10);
}

TEST_F(DoglegTest, SteepestDescentStepInsideCauchyLength) {
    Make(2.0, 0.5);
    double eta = BuildCurve();
    const double lc = Probe::CauchyLength(e);
    Probe::Radius(e) = 0.5 * lc;
    Probe::DoubleDoglegStep(e, eta);
    const double* s = Probe::TrialStep(e);
    EXPECT_NEAR(ScaledNorm(2, Probe::ScaleX(e), s), 0.5 * lc, 1e-13);
    // Direction -Dx^-2 g.
    const double d0 = -6.0 / 4.0, d1 = -5.0 / 0.25;
    EXPECT_NEAR(s[0] * d1 - s[1] * d0, 0.0, 1e-12);
    EXPECT_GT(s[0] / d0, 0.0);
}

TEST_F(DoglegTest, DoglegSegmentStepHasLengthRadius) {
    Make(2.0, 0.5);
    const double eta = BuildCurve();
    const double lc = Probe::CauchyLength(e);
    const double ln = Probe::NewtonLength(e);
    ASSERT_GT(eta, 0.2);
    ASSERT_LE(eta, 1.0);
    ASSERT_LT(lc, eta * ln);
    double etaInOut = eta;
    Probe::Radius(e) = 0.5 * (lc + eta * ln);
    Probe::DoubleDoglegStep(e, etaInOut);
    EXPECT_EQ(etaInOut, eta); // the curve is not rebuilt
    const double* sx = Probe::ScaleX(e);
    const double* s = Probe::TrialStep(e);
    EXPECT_NEAR(ScaledNorm(2, sx, s), Probe::Radius(e), 1e-12);
    // Dx s = sigma + lambda*v with 0 < lambda < 1: between the Cauchy and eta-Newton points.
    const double* sigma = Probe::CauchyStep(e);
    const double* v = Probe::Work(e);
    const double l0 = (sx[0] * s[0] - sigma[0]) / v[0];
    const double l1 = (sx[1] * s[1] - sigma[1]) / v[1];
    EXPECT_NEAR(l0, l1, 1e-12);
    EXPECT_GT(l0, 0.0);
    EXPECT_LT(l0, 1.0);
}

TEST_F(DoglegTest, PartialNewtonStepBeyondEtaPoint) {
    Make(2.0, 0.5);
    const double eta = BuildCurve();
    double etaInOut = eta;
    const double ln = Probe::NewtonLength(e);
    Probe::Radius(e) = 0.5 * (eta * ln + ln);
    Probe::DoubleDoglegStep(e, etaInOut);
    EXPECT_FALSE(Probe::NewtonTaken(e));
    const double r = Probe::Radius(e) / ln;
    EXPECT_EQ(Probe::TrialStep(e)[0], r * -1.0);
    EXPECT_EQ(Probe::TrialStep(e)[1], r * -2.0);
}

TEST_F(DoglegTest, IdentityModelMakesCauchyPointTheNewtonPoint) {
    problem = std::make_unique<h4test::FunctionProblem>(std::vector<double>{3.0, -4.0},
                                                        [](const double* x) { return 0.5 * SumSquares(x); });
    Probe::Attach(e, problem.get(), 2);
    CMatrix& a = Probe::Hessian(e);
    a[0][0] = 1.0;
    a[1][0] = 0.0;
    a[1][1] = 1.0;
    Probe::Grad(e)[0] = 3.0;
    Probe::Grad(e)[1] = -4.0;
    Probe::Step(e)[0] = -3.0;
    Probe::Step(e)[1] = 4.0;
    Probe::UseTrialArrays(e);
    Probe::FirstDogleg(e) = true;
    Probe::NewtonLength(e) = 5.0;
    double eta = 0.0;
    Probe::Radius(e) = 1.0;
    Probe::DoubleDoglegStep(e, eta);
    EXPECT_DOUBLE_EQ(eta, 1.0);
    EXPECT_DOUBLE_EQ(Probe::CauchyLength(e), 5.0);
    EXPECT_DOUBLE_EQ(Probe::CauchyStep(e)[0], -3.0);
    EXPECT_DOUBLE_EQ(Probe::CauchyStep(e)[1], 4.0);
}

// A run of doubled radii on an exact quadratic model that ends on a cliff returns to
// the last point saved before the doubling.
TEST(DoglegGlobalStep, DoublingThenFallBackToSavedPoint) {
    Engine e;
    std::vector<double> seen;
    h4test::FunctionProblem problem({4.0, 0.0}, [&seen](const double* x) {
        seen.push_back(x[0]);
        return 0.5 * (x[0] * x[0] + x[1] * x[1]) + (x[0] < 2.5 ? 50.0 : 0.0);
    });
    Probe::Attach(e, &problem, 2);
    seen.clear();
    CMatrix& a = Probe::Hessian(e);
    a[0][0] = 1.0;
    a[1][0] = 0.0;
    a[1][1] = 1.0;
    Probe::Grad(e)[0] = 4.0;
    Probe::Grad(e)[1] = 0.0;
    Probe::Step(e)[0] = -4.0;
    Probe::Step(e)[1] = 0.0;
    Probe::Radius(e) = 0.5;
    Probe::DoubleDogleg(e);
    // Radii 0.5 and 1 are predicted exactly and doubled; radius 2 hits the cliff.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], 3.5);
    EXPECT_EQ(seen[1], 3.0);
    EXPECT_EQ(seen[2], 2.0);
    EXPECT_EQ(Probe::StepResult(e), 0);
    EXPECT_EQ(Probe::XPlus(e)[0], 3.0);
    EXPECT_EQ(Probe::FPlus(e), 4.5);
    EXPECT_EQ(Probe::Radius(e), 1.0);
    EXPECT_FALSE(Probe::MaxStepTaken(e));
}

// ---------------------------------------------------------------------------------
// More-Hebden step on F = 0.5 x^T H x - b^T x, n = 3, with the driver's factorization.
class HookTest : public ::testing::Test {
protected:
    void Make(double radius) {
        problem = std::make_unique<h4test::FunctionProblem>(
            std::vector<double>{2.0, -1.0, 3.0}, [](const double* x) {
                const double h[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, -0.2}, {0.5, -0.2, 2.0}};
                double f = 0.0;
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j)
                        f += 0.5 * x[i] * h[i][j] * x[j];
                return f - x[0];
            });
        Probe::Attach(e, problem.get(), 3);
        Probe::ScaleX(e)[0] = 1.0;
        Probe::ScaleX(e)[1] = 0.5;
        Probe::ScaleX(e)[2] = 2.0;
        const double h[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, -0.2}, {0.5, -0.2, 2.0}};
        CMatrix& a = Probe::Hessian(e);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                a[i][j] = j <= i ? h[i][j] : 0.0;
        const double* x = Probe::X(e);
        for (int i = 0; i < 3; ++i) {
            double gi = i == 0 ? -1.0 : 0.0;
            for (int j = 0; j < 3; ++j)
                gi += h[i][j] * x[j];
            Probe::Grad(e)[i] = gi;
        }
        Probe::Decompose(e);
        Probe::NewtonStep(e);
        Probe::UseTrialArrays(e);
        Probe::FirstHook(e) = true;
        Probe::Mu(e) = 0.0;
        Probe::NewtonLength(e) = ScaledNorm(3, Probe::ScaleX(e), Probe::Step(e));
        Probe::Radius(e) = radius;
    }

    Engine e;
    std::unique_ptr<h4test::FunctionProblem> problem;
};

TEST_F(HookTest, NewtonStepTakenWithinOneAndAHalfRadii) {
    Make(1.0);
    const double ln = Probe::NewtonLength(e);
    Probe::Radius(e) = ln / 1.4;
    const double before = Probe::Radius(e);
    Probe::Mu(e) = 3.0;
    Probe::MoreHebdenStep(e);
    EXPECT_TRUE(Probe::NewtonTaken(e));
    EXPECT_EQ(Probe::Radius(e), before);
    EXPECT_EQ(Probe::Mu(e), 0.0);
    EXPECT_EQ(Probe::TrialStep(e)[2], Probe::Step(e)[2]);

    Probe::Radius(e) = 2.0 * ln;
    Probe::MoreHebdenStep(e);
    EXPECT_EQ(Probe::Radius(e), ln);
}

TEST_F(HookTest, HookStepLandsInWindowAndLeavesStoredHessianAlone) {
    Make(1.0);
    const double delta = 0.2 * Probe::NewtonLength(e);
    Probe::Radius(e) = delta;
    CMatrix& a = Probe::Hessian(e);
    const std::vector<double> before = Snapshot(a, 3);
    const std::vector<double> d(Probe::UDiag(e), Probe::UDiag(e) + 3);

    Probe::MoreHebdenStep(e);
    EXPECT_FALSE(Probe::NewtonTaken(e));
    EXPECT_FALSE(Probe::FirstHook(e));
    EXPECT_GT(Probe::Mu(e), 0.0);
    const double* s = Probe::TrialStep(e);
    const double* sx = Probe::ScaleX(e);
    const double len = ScaledNorm(3, sx, s);
    EXPECT_GE(len, 0.75 * delta);
    EXPECT_LE(len, 1.5 * delta);
    EXPECT_EQ(Probe::Phi(e), len - delta);
    EXPECT_EQ(Probe::Radius(e), delta);

    // Strict upper triangle and the diagonal vector are untouched, bit for bit.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(Probe::UDiag(e)[i]),
                  std::bit_cast<std::uint64_t>(d[static_cast<size_t>(i)]));
        for (int j = i + 1; j < 3; ++j)
            EXPECT_EQ(std::bit_cast<std::uint64_t>(a[i][j]),
                      std::bit_cast<std::uint64_t>(before[static_cast<size_t>(i * 3 + j)]));
    }
    // s solves (H + mu Dx^2) s = -g, H rebuilt from the stored parts.
    const double mu = Probe::Mu(e);
    for (int i = 0; i < 3; ++i) {
        double r = Probe::Grad(e)[i];
        for (int j = 0; j < 3; ++j) {
            const double hij =
                i == j ? d[static_cast<size_t>(i)] + mu * sx[i] * sx[i] : (i < j ? a[i][j] : a[j][i]);
            r += hij * s[j];
        }
        EXPECT_NEAR(r, 0.0, 1e-10);
    }

    // Any number of further radii leaves the stored Hessian as it was.
    for (double f : {0.1, 0.05, 0.3}) {
        Probe::Radius(e) = f * Probe::NewtonLength(e);
        Probe::MoreHebdenStep(e);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            EXPECT_EQ(a[i][j], before[static_cast<size_t>(i * 3 + j)]);
}

TEST(HookOneVariable, FirstMuIsGeometricMeanOfBracket) {
    Engine e;
    h4test::FunctionProblem problem({0.0}, [](const double* x) { return 0.5 * x[0] * x[0] - 4.0 * x[0]; });
    Probe::Attach(e, &problem, 3);
    CMatrix& a = Probe::Hessian(e);
    a[0][0] = 1.0;
    Probe::Grad(e)[0] = -4.0;
    Probe::Decompose(e);
    Probe::NewtonStep(e);
    Probe::UseTrialArrays(e);
    Probe::FirstHook(e) = true;
    Probe::Mu(e) = 0.0;
    Probe::NewtonLength(e) = 4.0;
    Probe::Radius(e) = 1.0;
    Probe::MoreHebdenStep(e);
    // phi'(0) = -4, mulow = 3/4, muup = 4: the first mu sqrt(3) already gives a step of
    // length 4/(1 + sqrt 3) inside the window.
    EXPECT_EQ(Probe::PhiPrime0(e), -4.0);
    EXPECT_EQ(Probe::Mu(e), std::sqrt(0.75 * 4.0));
    EXPECT_NEAR(Probe::TrialStep(e)[0], 4.0 / (1.0 + std::sqrt(3.0)), 1e-14);
}

TEST(HookGuard, NonFiniteGradientEndsAfterBoundedPasses) {
    Engine e;
    h4test::FunctionProblem problem({0.0, 0.0}, [](const double* x) { return SumSquares(x); });
    Probe::Attach(e, &problem, 3);
    CMatrix& a = Probe::Hessian(e);
    a[0][0] = 2.0;
    a[1][0] = 0.0;
    a[1][1] = 2.0;
    Probe::Decompose(e);
    Probe::Grad(e)[0] = kNaN;
    Probe::Grad(e)[1] = 1.0;
    Probe::Step(e)[0] = 5.0;
    Probe::Step(e)[1] = 5.0;
    Probe::UseTrialArrays(e);
    Probe::FirstHook(e) = true;
    Probe::NewtonLength(e) = ScaledNorm(2, Probe::ScaleX(e), Probe::Step(e));
    Probe::Radius(e) = 1.0;
    Probe::MoreHebdenStep(e); // returns: the search on mu is capped
    EXPECT_FALSE(Probe::NewtonTaken(e));
}

TEST(HookGlobalStep, UnsetRadiusInFirstIterationStartsAtCauchyLength) {
    Engine e;
    std::vector<double> first;
    h4test::FunctionProblem problem({3.0, -1.0}, [&first](const double* x) {
        if (first.empty())
            first.assign(x, x + 2);
        const double t1 = x[1] - x[0] * x[0];
        const double t2 = 1.0 - x[0];
        return 100.0 * t1 * t1 + t2 * t2;
    });
    Probe::Attach(e, &problem, 3);
    first.clear();
    // Rosenbrock at (3, -1): g and H analytic.
    const double x0 = 3.0, x1 = -1.0;
    Probe::Grad(e)[0] = -400.0 * x0 * (x1 - x0 * x0) - 2.0 * (1.0 - x0);
    Probe::Grad(e)[1] = 200.0 * (x1 - x0 * x0);
    CMatrix& a = Probe::Hessian(e);
    a[0][0] = 1200.0 * x0 * x0 - 400.0 * x1 + 2.0;
    a[1][0] = -400.0 * x0;
    a[1][1] = 200.0;
    Probe::Decompose(e);
    Probe::NewtonStep(e);
    Probe::FirstIteration(e) = true;
    Probe::Radius(e) = -1.0;
    Probe::Mu(e) = 7.0;
    double alpha = 0.0, beta = 0.0;
    Probe::CauchyTerms(e, alpha, beta);
    const double lc = alpha * std::sqrt(alpha) / beta;
    ASSERT_LT(1.5 * lc, ScaledNorm(2, Probe::ScaleX(e), Probe::Step(e)));

    Probe::MoreHebden(e);
    EXPECT_FALSE(Probe::FirstIteration(e));
    ASSERT_EQ(first.size(), 2u);
    double s[2] = {first[0] - 3.0, first[1] + 1.0};
    const double len = ScaledNorm(2, Probe::ScaleX(e), s);
    EXPECT_GE(len, 0.75 * lc);
    EXPECT_LE(len, 1.5 * lc);
    EXPECT_LE(Probe::StepResult(e), 1);
}

} // namespace
