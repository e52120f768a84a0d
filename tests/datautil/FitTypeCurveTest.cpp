#include "datautil/FitTypeCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Exposes the design matrix and the fit's window function.
class ProbeFit : public CVRNiFitTypeCurve {
public:
    const CMatrix& Design() const { return m_Design; }
    int Window(double tau) { return C(tau); }
    const double* Weights() const { return m_Weight; }
    int Unknowns() const { return m_nUnknowns; }
};

// N nodes evenly spaced in ln x from lo to hi.
void LogNodes(CDblHdr& x, CDblHdr& y, int n, double lo, double hi) {
    x.SetSize(n);
    y.SetSize(n);
    for (int j = 0; j < n; j++) {
        x[j] = lo * std::pow(hi / lo, static_cast<double>(j) / (n - 1));
        y[j] = 0.0;
    }
}

double LagrangeWeight(const CDblHdr& x, int s, int k, double t) {
    double w = 1.0;
    for (int m = 0; m < 4; m++)
        if (m != k)
            w *= (t - x[s + m]) / (x[s + k] - x[s + m]);
    return w;
}

double Lagrange(const CDblHdr& x, const CDblHdr& y, int s, double t) {
    double sum = 0.0;
    for (int k = 0; k < 4; k++)
        sum += LagrangeWeight(x, s, k, t) * y[s + k];
    return sum;
}

// A response that every four-point window reproduces exactly.
double G(double tau) {
    return 1.0 + 0.5 * tau - 0.01 * tau * tau + 0.0001 * tau * tau * tau;
}

struct Scenario {
    CDblHdr x, y, t, p, tc, q;
    double c;

    explicit Scenario(double constant) : c(constant) {
        LogNodes(x, y, 12, 0.1, 100.0);
        const double changes[] = {0.0, 10.0, 30.0, 60.0};
        const double levels[] = {1.0, 2.5, 1.5, 3.0};
        for (int k = 0; k < 4; k++) {
            tc.Add(changes[k]);
            q.Add(levels[k]);
        }
        for (int i = 0; i < 200; i++) {
            const double ti = 0.05 * std::pow(1.04, i);
            t.Add(ti);
            double v = c;
            for (int k = 0; k < 4; k++) {
                const double tau = ti - changes[k];
                if (tau <= 0.0)
                    break;
                const double dq = k == 0 ? levels[0] : levels[k] - levels[k - 1];
                v -= dq * G(tau);
            }
            p.Add(v);
        }
    }
};

} // namespace

TEST(FitTypeCurveFit, RecoversAKnownCurveFromSuperposedData) {
    Scenario sc(7.5);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(sc.x, sc.y);
    ASSERT_TRUE(fit.IsValid());
    CSynPar c0(7.5);
    CDblHdr pBefore(sc.p);
    fit.Fit(sc.t, sc.p, sc.tc, sc.q, c0, 0);
    for (int j = 0; j < 12; j++)
        EXPECT_NEAR(sc.y[j], G(sc.x[j]), 1e-6 * (1.0 + std::fabs(G(sc.x[j])))) << j;
    // The given constant was taken off the caller's observations.
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(sc.p[i], pBefore[i] - 7.5);
    EXPECT_EQ(static_cast<double>(c0), 7.5);
    // The object now evaluates the fitted curve.
    for (double tau : {0.15, 1.0, 3.3, 42.0, 99.0}) {
        double arg = tau;
        EXPECT_NEAR(fit.f(arg), G(tau), 1e-6 * (1.0 + std::fabs(G(tau)))) << tau;
    }
}

TEST(FitTypeCurveFit, FittedConstantIsWrittenBackAndObservationsStay) {
    Scenario sc(-3.25);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(sc.x, sc.y);
    CSynPar c0(100.0);
    CDblHdr pBefore(sc.p);
    fit.Fit(sc.t, sc.p, sc.tc, sc.q, c0, 1);
    EXPECT_NEAR(static_cast<double>(c0), -3.25, 1e-6);
    for (int j = 0; j < 12; j++)
        EXPECT_NEAR(sc.y[j], G(sc.x[j]), 1e-6 * (1.0 + std::fabs(G(sc.x[j])))) << j;
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(sc.p[i], pBefore[i]);
}

TEST(FitTypeCurveDesign, RowsBeforeTheFirstChangeAndAtAChange) {
    CDblHdr x, y;
    LogNodes(x, y, 8, 1.0, 1000.0);
    ProbeFit fit;
    fit.SetTypeCurve(x, y);
    CDblHdr t, p, tc, q;
    for (double v : {-1.0, 5.0, 50.0, 200.0}) {
        t.Add(v);
        p.Add(0.0);
    }
    tc.Add(5.0);
    tc.Add(50.0);
    q.Add(1.0);
    q.Add(4.0);
    CSynPar c0(0.0);
    fit.Fit(t, p, tc, q, c0, 1);
    const CMatrix& a = fit.Design();
    ASSERT_EQ(a.GetRows(), 4);
    ASSERT_EQ(a.GetCols(), 9);
    EXPECT_EQ(fit.Unknowns(), 9);
    // Rows 0 and 1: at or before the first change, only the constant column.
    for (int r = 0; r < 2; r++) {
        for (int j = 0; j < 8; j++)
            EXPECT_EQ(a[r][j], 0.0) << r << " " << j;
        EXPECT_EQ(a[r][8], 1.0);
    }
    // Row 2: the second change is exactly at t, so only the first one counts.
    ProbeFit ref;
    ref.SetTypeCurve(x, y);
    const int s = ref.Window(45.0);
    std::vector<double> expected(8, 0.0);
    for (int m = 0; m < 4; m++)
        expected[s + m] = -ref.Weights()[m];
    for (int j = 0; j < 8; j++)
        EXPECT_EQ(a[2][j], expected[j]) << j;
    // Row 3: both changes, the second with its level step of 3.
    std::vector<double> both(8, 0.0);
    int s0 = ref.Window(195.0);
    for (int m = 0; m < 4; m++)
        both[s0 + m] = both[s0 + m] - 1.0 * ref.Weights()[m];
    int s1 = ref.Window(150.0);
    for (int m = 0; m < 4; m++)
        both[s1 + m] = both[s1 + m] - 3.0 * ref.Weights()[m];
    for (int j = 0; j < 8; j++)
        EXPECT_EQ(a[3][j], both[j]) << j;
}

TEST(FitTypeCurveDesign, SingleUnitChangeGivesNegatedValueWeights) {
    CDblHdr x, y;
    LogNodes(x, y, 10, 0.01, 100.0);
    ProbeFit fit;
    fit.SetTypeCurve(x, y);
    CDblHdr t, p, tc, q;
    for (double v : {0.005, 0.3, 2.0, 77.0, 500.0}) {
        t.Add(v + 1.0);
        p.Add(1.0);
    }
    tc.Add(1.0);
    q.Add(1.0);
    CSynPar c0(0.5);
    fit.Fit(t, p, tc, q, c0, 0);
    const CMatrix& a = fit.Design();
    ASSERT_EQ(a.GetCols(), 10);
    for (int i = 0; i < 5; i++) {
        const double tau = t[i] - 1.0;
        const int s = fit.Window(tau);
        double rowSum = 0.0;
        for (int j = 0; j < 10; j++) {
            const bool inWindow = j >= s && j < s + 4;
            if (!inWindow)
                EXPECT_EQ(a[i][j], 0.0);
            else
                EXPECT_NEAR(a[i][j], -LagrangeWeight(x, s, j - s, tau), 1e-12);
            rowSum += a[i][j];
        }
        EXPECT_NEAR(rowSum, -1.0, 1e-12); // Lagrange weights sum to one
    }
    EXPECT_EQ(p[0], 0.5); // c0 taken off the observations
}

TEST(FitTypeCurveWindow, FitWindowBracketsTauAndClampsAtTheEnds) {
    CDblHdr x, y;
    LogNodes(x, y, 15, 0.1, 1000.0);
    ProbeFit fit;
    fit.SetTypeCurve(x, y);
    EXPECT_EQ(fit.Window(0.01), 0);
    EXPECT_EQ(fit.Window(0.1), 0);
    EXPECT_EQ(fit.Window(x[1] * 0.999), 0);
    EXPECT_EQ(fit.Window(x[11] * 1.001), 11);
    EXPECT_EQ(fit.Window(999.0), 11);
    EXPECT_EQ(fit.Window(1e6), 11);
    for (int j = 1; j < 11; j++) {
        for (double frac : {0.1, 0.5, 0.9}) {
            const double tau = x[j] + frac * (x[j + 1] - x[j]);
            const int s = fit.Window(tau);
            EXPECT_TRUE(s == j - 1 || s == j) << j << " " << frac << " -> " << s;
        }
    }
}

TEST(FitTypeCurveEvaluate, EvaluationUsesTheWindowStartingAtTheLowerNode) {
    CDblHdr x, y;
    LogNodes(x, y, 12, 0.5, 500.0);
    for (int j = 0; j < 12; j++)
        y[j] = std::sin(1.3 * j) + 0.2 * j;
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(x, y);
    for (int j = 0; j < 11; j++) {
        const double tau = x[j] + 0.4 * (x[j + 1] - x[j]);
        const int s = j < 8 ? j : 8;
        double arg = tau;
        EXPECT_NEAR(fit.f(arg), Lagrange(x, y, s, tau), 1e-11) << j;
    }
    // Below the table the first window, beyond it the last.
    double below = 0.1;
    EXPECT_NEAR(fit.f(below), Lagrange(x, y, 0, 0.1), 1e-11);
    double beyond = 900.0;
    EXPECT_NEAR(fit.f(beyond), Lagrange(x, y, 8, 900.0), 1e-9);
}

TEST(FitTypeCurveEvaluate, CurveAtItsLastNodesGivesTheNodeValues) {
    CDblHdr x, y;
    LogNodes(x, y, 9, 1.0, 256.0);
    for (int j = 0; j < 9; j++)
        y[j] = std::cos(0.7 * j) * (j + 1);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(x, y);
    for (int j = 5; j < 9; j++) {
        double arg = x[j];
        EXPECT_NEAR(fit.f(arg), y[j], 1e-12) << j;
    }
    double last = x[8];
    EXPECT_EQ(fit.f(last), y[8]);
    EXPECT_EQ(fit.MaxX(), x[8]);
}

TEST(FitTypeCurveInvalid, TooFewNodesOrNonPositiveStartLeaveEverythingUnchanged) {
    struct Case {
        int n;
        double x0;
    };
    for (Case cs : {Case{3, 1.0}, Case{8, 0.0}, Case{8, -1.0}}) {
        CDblHdr x, y;
        for (int j = 0; j < cs.n; j++) {
            x.Add(j == 0 ? cs.x0 : static_cast<double>(j + 1));
            y.Add(42.0 + j);
        }
        CVRNiFitTypeCurve fit;
        fit.SetTypeCurve(x, y);
        EXPECT_FALSE(fit.IsValid()) << cs.n << " " << cs.x0;
        CDblHdr t, p, tc, q;
        for (int i = 0; i < 5; i++) {
            t.Add(i + 2.0);
            p.Add(10.0 * i);
        }
        tc.Add(1.0);
        q.Add(1.0);
        CSynPar c0(3.0);
        fit.Fit(t, p, tc, q, c0, 0);
        fit.Fit(t, p, tc, q, c0, 1);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(p[i], 10.0 * i);
        for (int j = 0; j < cs.n; j++)
            EXPECT_EQ(y[j], 42.0 + j);
        EXPECT_EQ(static_cast<double>(c0), 3.0);
        double tau = 3.0;
        EXPECT_EQ(fit.f(tau), -32600.0);
    }
}

TEST(FitTypeCurveInvalid, ObservationsShorterThanTheirAbscissaeAreRefused) {
    Scenario sc(1.0);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(sc.x, sc.y);
    sc.p.SetSize(150);
    CSynPar c0(1.0);
    fit.Fit(sc.t, sc.p, sc.tc, sc.q, c0, 0);
    for (int j = 0; j < 12; j++)
        EXPECT_EQ(sc.y[j], 0.0);
    CDblHdr shortQ;
    shortQ.Add(1.0);
    sc.p.SetSize(200);
    fit.Fit(sc.t, sc.p, sc.tc, shortQ, c0, 1);
    for (int j = 0; j < 12; j++)
        EXPECT_EQ(sc.y[j], 0.0);
}
