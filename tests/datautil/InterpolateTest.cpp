#include "datautil/Interpolate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

const double Null = -32600.0;

// Exposes the window choice and the step cap.
class ProbeInterpolate : public CVRNiInterpolate {
public:
    ProbeInterpolate(double* x, double* y, int n) : CVRNiInterpolate(x, y, n) {}
    int WindowOf(double x) { return Window(x); }
    int SearchSteps() const { return m_nSearchSteps; }
    int Windows() const { return m_nWindows; }
    int DenominatorRows() const { return m_Denominators.GetRows(); }
};

// Textbook Lagrange cubic through x[s..s+3], y[s..s+3].
double Lagrange(const double* x, const double* y, int s, double t) {
    double sum = 0.0;
    for (int k = 0; k < 4; k++) {
        double w = 1.0;
        for (int m = 0; m < 4; m++)
            if (m != k)
                w *= (t - x[s + m]) / (x[s + k] - x[s + m]);
        sum += w * y[s + k];
    }
    return sum;
}

double LagrangeSlope(const double* x, const double* y, int s, double t) {
    double sum = 0.0;
    for (int k = 0; k < 4; k++) {
        double denom = 1.0;
        for (int m = 0; m < 4; m++)
            if (m != k)
                denom *= x[s + k] - x[s + m];
        double num = 0.0;
        for (int a = 0; a < 4; a++) {
            if (a == k)
                continue;
            double prod = 1.0;
            for (int m = 0; m < 4; m++)
                if (m != k && m != a)
                    prod *= t - x[s + m];
            num += prod;
        }
        sum += num / denom * y[s + k];
    }
    return sum;
}

double Cubic(double t) {
    return 2.0 - 1.5 * t + 0.25 * t * t - 0.125 * t * t * t;
}
double CubicSlope(double t) {
    return -1.5 + 0.5 * t - 0.375 * t * t;
}

struct Table {
    std::vector<double> x, y;
    explicit Table(int n, double (*fn)(double)) {
        for (int i = 0; i < n; i++) {
            x.push_back(static_cast<double>(i));
            y.push_back(fn(static_cast<double>(i)));
        }
    }
};

double Wavy(double t) {
    return std::sin(t) + 0.1 * t * t;
}

} // namespace

TEST(InterpolateSetUp, FourPointsGiveOneWindowAndOneSearchStep) {
    Table tab(4, Wavy);
    ProbeInterpolate ip(tab.x.data(), tab.y.data(), 4);
    ASSERT_TRUE(ip.IsValid());
    EXPECT_EQ(ip.SearchSteps(), 1);
    EXPECT_EQ(ip.Windows(), 1);
    EXPECT_EQ(ip.DenominatorRows(), 1);
    for (double t : {-2.0, 0.0, 0.5, 1.0, 1.7, 2.0, 2.5, 3.0, 5.0})
        EXPECT_EQ(ip.WindowOf(t), 0) << t;
}

TEST(InterpolateSetUp, SearchStepCapGrowsWithLog2OfWindows) {
    for (auto [n, steps] : {std::pair{5, 2}, std::pair{7, 3}, std::pair{12, 4}, std::pair{1030, 11}}) {
        Table tab(n, Wavy);
        ProbeInterpolate ip(tab.x.data(), tab.y.data(), n);
        EXPECT_EQ(ip.SearchSteps(), steps) << n;
    }
}

TEST(InterpolateSetUp, ThreeOrFewerPointsAreNotValid) {
    Table tab(3, Wavy);
    CVRNiInterpolate ip(tab.x.data(), tab.y.data(), 3);
    EXPECT_FALSE(ip.IsValid());
    double t = 1.0;
    EXPECT_EQ(ip.f(t), Null);
    EXPECT_EQ(ip.dfdx(t), Null);
    EXPECT_EQ(ip.GetCount(), 0);
    EXPECT_EQ(ip.MaxX(), Null);
}

TEST(InterpolateSetUp, MaxXIsLastAbscissaOrNullWithoutPoints) {
    Table tab(6, Wavy);
    CVRNiInterpolate ip(tab.x.data(), tab.y.data(), 6);
    EXPECT_EQ(ip.MaxX(), 5.0);
    ip.ReleaseAll();
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.MaxX(), Null);
    double t = 2.0;
    EXPECT_EQ(ip.f(t), Null);
}

TEST(InterpolateEvaluate, ReproducesACubicEverywhereIncludingExtrapolation) {
    Table tab(9, Cubic);
    CVRNiInterpolate ip(tab.x.data(), tab.y.data(), 9);
    for (double t = -3.0; t <= 12.0; t += 0.37) {
        double arg = t;
        EXPECT_NEAR(ip.f(arg), Cubic(t), 1e-9 * (1.0 + std::fabs(Cubic(t)))) << t;
        EXPECT_NEAR(ip.dfdx(arg), CubicSlope(t), 1e-9 * (1.0 + std::fabs(CubicSlope(t)))) << t;
        EXPECT_EQ(arg, t); // taken by reference, left unchanged
    }
}

TEST(InterpolateEvaluate, NodesAreReproducedAndSecondLastIntervalUsesLastWindow) {
    Table tab(10, Wavy);
    ProbeInterpolate ip(tab.x.data(), tab.y.data(), 10);
    // Below x[1] the first window, above x[n-3] the last one.
    EXPECT_EQ(ip.WindowOf(-1.0), 0);
    EXPECT_EQ(ip.WindowOf(0.5), 0);
    EXPECT_EQ(ip.WindowOf(7.5), 6);
    EXPECT_EQ(ip.WindowOf(8.5), 6);
    EXPECT_EQ(ip.WindowOf(20.0), 6);
    for (int i = 0; i < 10; i++) {
        double t = tab.x[i];
        EXPECT_NEAR(ip.f(t), tab.y[i], 1e-12) << i;
    }
}

TEST(InterpolateEvaluate, InteriorWindowFollowsTheCappedBisection) {
    // n = 10: search between nodes 1 and 7, at most 3 halvings.
    Table tab(10, Wavy);
    ProbeInterpolate ip(tab.x.data(), tab.y.data(), 10);
    EXPECT_EQ(ip.WindowOf(4.5), 2);
    EXPECT_EQ(ip.WindowOf(3.5), 1);
    EXPECT_EQ(ip.WindowOf(1.5), 0);
    EXPECT_EQ(ip.WindowOf(6.5), 4);
    for (double t : {1.5, 3.5, 4.5, 6.5}) {
        int s = ip.WindowOf(t);
        double arg = t;
        EXPECT_NEAR(ip.f(arg), Lagrange(tab.x.data(), tab.y.data(), s, t), 1e-12) << t;
        EXPECT_NEAR(ip.dfdx(arg), LagrangeSlope(tab.x.data(), tab.y.data(), s, t), 1e-11) << t;
    }
}

TEST(InterpolateEvaluate, NodeWithinToleranceOfProbedMidpointShiftsTheWindow) {
    Table tab(10, Wavy);
    ProbeInterpolate ip(tab.x.data(), tab.y.data(), 10);
    // The first probe is node 4. Just below it, outside the tolerance, the
    // bisection runs to its cap; inside the tolerance it stops at node 4.
    EXPECT_EQ(ip.WindowOf(4.0 - 1e-6), 1);
    EXPECT_EQ(ip.WindowOf(4.0 - 5e-8), 2);
    EXPECT_EQ(ip.WindowOf(4.0 + 5e-8), 2);
    double t = 4.0 - 5e-8;
    EXPECT_NEAR(ip.f(t), Lagrange(tab.x.data(), tab.y.data(), 2, t), 1e-12);
}

TEST(InterpolateEvaluate, OrdinatesAreReadAtEveryEvaluation) {
    Table tab(6, Wavy);
    CVRNiInterpolate ip(tab.x.data(), tab.y.data(), 6);
    double t = 2.5;
    double before = ip.f(t);
    for (double& v : tab.y)
        v += 10.0;
    EXPECT_NEAR(ip.f(t), before + 10.0, 1e-12);
}

TEST(InterpolateCopy, CopySharesTheCallersArrays) {
    Table tab(8, Wavy);
    CVRNiInterpolate ip(tab.x.data(), tab.y.data(), 8);
    CVRNiInterpolate copy(ip);
    CVRNiInterpolate assigned(tab.x.data(), tab.y.data(), 2);
    assigned = ip;
    double t = 3.3;
    EXPECT_EQ(copy.f(t), ip.f(t));
    tab.y[3] += 1.0;
    EXPECT_EQ(copy.f(t), ip.f(t));
    EXPECT_EQ(assigned.f(t), ip.f(t));
    EXPECT_TRUE(assigned.IsValid());
}

TEST(InterpolateHeaders, HeaderSetUpUsesTheElementCountOfX) {
    CDblHdr hx, hy;
    for (int i = 0; i < 6; i++) {
        hx.Add(i * 0.5);
        hy.Add(Cubic(i * 0.5));
    }
    hy.Add(99.0);
    CVRNiInterpolate ip(hx, hy);
    EXPECT_EQ(ip.GetCount(), 6);
    EXPECT_EQ(ip.MaxX(), 2.5);
    double t = 1.25;
    EXPECT_NEAR(ip.f(t), Cubic(1.25), 1e-12);
}

// ---------------------------------------------------------------- gaps

namespace {

struct GapTable {
    CDblHdr x, y;
    // n pairs; the listed indices get a null abscissa (odd) or ordinate (even).
    GapTable(int n, std::vector<int> nulls) {
        for (int i = 0; i < n; i++) {
            x.Add(static_cast<double>(i));
            y.Add(Wavy(static_cast<double>(i)));
        }
        for (int i : nulls) {
            if (i % 2)
                x[i] = Null;
            else
                y[i] = Null;
        }
    }
};

} // namespace

// Headers of different lengths: only the pairs that both hold make the table, so a
// shorter y is never read past its end (found by fuzzing: the evaluation read the
// ordinates beyond y's last element).
TEST(InterpolateHeaders, ShorterOrdinateHeaderLimitsTheTable) {
    struct Case {
        const char* how; // "ctor": header constructor, "setup": SetUp of a plain
                         // interpolator, "nonnull": SetUp of the gap-skipping one
        int nx, ny;
        int count; // points of the resulting table
        bool valid;
    };
    const Case cases[] = {
        {"ctor", 8, 5, 5, true},    {"ctor", 8, 3, 0, false},    {"ctor", 5, 8, 5, true},
        {"setup", 9, 6, 6, true},   {"setup", 9, 2, 0, false},   {"setup", 6, 6, 6, true},
        {"nonnull", 9, 6, 6, true}, {"nonnull", 9, 4, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " nx=" + std::to_string(c.nx) + " ny=" + std::to_string(c.ny));
        CDblHdr hx, hy;
        for (int i = 0; i < c.nx; i++)
            hx.Add(i * 0.5);
        for (int i = 0; i < c.ny; i++)
            hy.Add(Cubic(i * 0.5));
        const std::string how = c.how;
        CVRNiInterpolate plain(hx, hy);
        GapTable start(6, {});
        CVRNiNonNULLValueInterpolate gaps(start.x, start.y);
        CVRNiInterpolate* ip = &plain;
        if (how == "setup") {
            plain.ReleaseAll();
            plain.SetUp(hx, hy);
        } else if (how == "nonnull") {
            gaps.SetUp(hx, hy);
            ip = &gaps;
        }
        EXPECT_EQ(ip->IsValid(), c.valid);
        EXPECT_EQ(ip->GetCount(), c.count);
        // Beyond the last pair the cubic of the last window extrapolates.
        for (const double at : {0.25, 1.0, 3.75, 10.0}) {
            double t = at;
            if (c.valid) {
                EXPECT_NEAR(ip->f(t), Cubic(at), 1e-9 * (1.0 + std::fabs(Cubic(at))));
                EXPECT_NEAR(ip->dfdx(t), CubicSlope(at), 1e-9 * (1.0 + std::fabs(CubicSlope(at))));
            } else {
                EXPECT_EQ(ip->f(t), Null);
            }
        }
        if (c.valid) {
            EXPECT_EQ(ip->MaxX(), (c.count - 1) * 0.5);
        }
    }
}

TEST(InterpolateNonNull, FourKeptPairsAreNotEnough) {
    GapTable g(10, {0, 2, 3, 5, 6, 9});
    CVRNiNonNULLValueInterpolate ip(g.x, g.y);
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.GetCount(), 0);
    double t = 4.0;
    EXPECT_EQ(ip.f(t), Null);
    EXPECT_EQ(ip.dfdx(t), Null);
    EXPECT_EQ(ip.MaxX(), Null);
}

TEST(InterpolateNonNull, FiveKeptPairsInterpolateOverThoseFive) {
    GapTable g(10, {0, 2, 3, 6, 9}); // keeps 1, 4, 5, 7, 8
    CVRNiNonNULLValueInterpolate ip(g.x, g.y);
    ASSERT_TRUE(ip.IsValid());
    EXPECT_EQ(ip.GetCount(), 5);
    EXPECT_EQ(ip.MaxX(), 8.0);
    const double kx[] = {1, 4, 5, 7, 8};
    const double ky[] = {Wavy(1), Wavy(4), Wavy(5), Wavy(7), Wavy(8)};
    // Five points: below kept x[1] window 0, above kept x[2] window 1.
    double t = 2.0;
    EXPECT_NEAR(ip.f(t), Lagrange(kx, ky, 0, 2.0), 1e-12);
    t = 6.0;
    EXPECT_NEAR(ip.f(t), Lagrange(kx, ky, 1, 6.0), 1e-12);
    EXPECT_NEAR(ip.dfdx(t), LagrangeSlope(kx, ky, 1, 6.0), 1e-11);
}

TEST(InterpolateNonNull, KeepingTooFewAfterAValidTableDropsTheOldTable) {
    GapTable good(8, {});
    CVRNiNonNULLValueInterpolate ip(good.x, good.y);
    ASSERT_TRUE(ip.IsValid());
    GapTable sparse(8, {1, 2, 4, 6}); // keeps 4 pairs
    ip.SetUp(sparse.x, sparse.y);
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.GetCount(), 0);
    double t = 3.5;
    EXPECT_EQ(ip.f(t), Null);
    EXPECT_EQ(ip.dfdx(t), Null);
}

TEST(InterpolateNonNull, RejectedSetUpKeepsThePreviousTable) {
    GapTable good(8, {3});
    CVRNiNonNULLValueInterpolate ip(good.x, good.y);
    ASSERT_TRUE(ip.IsValid());
    double t = 3.5;
    const double before = ip.f(t);

    double three[] = {0.0, 1.0, 2.0};
    ip.SetUp(three, three, 3);
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.f(t), before);

    ip.SetUp(nullptr, three, 8);
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.f(t), before);
    EXPECT_EQ(ip.GetCount(), 7);
}

TEST(InterpolateNonNull, ConstructorsNeedAtLeastFivePairs) {
    GapTable g(4, {});
    CVRNiNonNULLValueInterpolate fromHdr(g.x, g.y);
    EXPECT_FALSE(fromHdr.IsValid());
    EXPECT_EQ(fromHdr.GetCount(), 0);
    CVRNiNonNULLValueInterpolate fromNullY(g.x.GetData(), nullptr, 4);
    EXPECT_FALSE(fromNullY.IsValid());

    // The header form uses the shorter of the two arrays.
    CDblHdr x5, y6;
    for (int i = 0; i < 6; i++) {
        if (i < 5)
            x5.Add(i);
        y6.Add(Wavy(i));
    }
    CVRNiNonNULLValueInterpolate shorter(x5, y6);
    EXPECT_TRUE(shorter.IsValid());
    EXPECT_EQ(shorter.GetCount(), 5);
}

TEST(InterpolateNonNull, HeaderSetUpThroughTheBaseGoesToTheNonNullSetUp) {
    GapTable first(6, {});
    CVRNiNonNULLValueInterpolate ip(first.x, first.y);
    GapTable g(9, {2, 7});
    CVRNiInterpolate& base = ip;
    base.SetUp(g.x, g.y);
    ASSERT_TRUE(ip.IsValid());
    EXPECT_EQ(ip.GetCount(), 7);
    // Kept: 0, 1, 3, 4, 5, 6, 8; the dropped node 2 lies in the first window.
    const double kx[] = {0, 1, 3, 4};
    const double ky[] = {Wavy(0), Wavy(1), Wavy(3), Wavy(4)};
    double t = 2.0;
    EXPECT_NEAR(ip.f(t), Lagrange(kx, ky, 0, 2.0), 1e-12);
}

TEST(InterpolateNonNull, CopyOwnsItsKeptTable) {
    auto* g = new GapTable(9, {4});
    auto* ip = new CVRNiNonNULLValueInterpolate(g->x, g->y);
    double t = 4.0;
    const double expected = ip->f(t);
    CVRNiNonNULLValueInterpolate copy(*ip);
    GapTable other(12, {});
    CVRNiNonNULLValueInterpolate reassigned(other.x, other.y);
    reassigned = *ip;
    delete ip;
    delete g;
    EXPECT_EQ(copy.f(t), expected);
    EXPECT_EQ(reassigned.f(t), expected);
    EXPECT_EQ(reassigned.GetCount(), 8);
    EXPECT_EQ(reassigned.MaxX(), 8.0);
}

TEST(InterpolateSetUp, NullArraysLeaveTheObjectEmpty) {
    Table tab(6, Wavy);
    CVRNiInterpolate ip(tab.x.data(), nullptr, 6);
    EXPECT_FALSE(ip.IsValid());
    EXPECT_EQ(ip.GetCount(), 0);
    ip.SetUp(nullptr, tab.y.data(), 6);
    EXPECT_FALSE(ip.IsValid());
    double t = 1.0;
    EXPECT_EQ(ip.f(t), Null);
}
