// The type-curve object evaluates and fits only with a window search built for
// the table it reads. The inherited SetUp can replace that table behind
// SetTypeCurve's back; whatever the order of the calls, evaluation stays
// inside the table and a table without its logarithmic index gives the null
// value, and a fit leaves every array alone.
#include "datautil/FitTypeCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kNull = -32600.0;

// Every four-point window reproduces a cubic exactly.
double G(double x) {
    return 1.0 + 0.5 * x - 0.01 * x * x + 0.0001 * x * x * x;
}
double dG(double x) {
    return 0.5 - 0.02 * x + 0.0003 * x * x;
}

// n nodes evenly spaced in ln x from 0.1 to 100, ordinates G.
struct Curve {
    CDblHdr x, y;
    explicit Curve(int n) {
        for (int j = 0; j < n; j++) {
            const double xj = 0.1 * std::pow(1000.0, static_cast<double>(j) / (n - 1));
            x.Add(xj);
            y.Add(G(xj));
        }
    }
};

// Plain tables of exactly n values, so that a read past the end leaves the
// allocation.
struct Table {
    std::vector<double> x, y;
    explicit Table(int n) : x(static_cast<size_t>(n)), y(static_cast<size_t>(n)) {
        for (int j = 0; j < n; j++) {
            x[j] = 1.0 + 2.0 * j;
            y[j] = G(x[j]);
        }
    }
};

enum Step { TypeCurve12, TypeCurve6, Table5, Table3, SameAsTypeCurve12 };

struct Objects {
    Curve c12{12}, c6{6};
    Table t5{5}, t3{3};

    void Apply(CVRNiFitTypeCurve& fit, Step s) {
        switch (s) {
        case TypeCurve12:
            fit.SetTypeCurve(c12.x, c12.y);
            break;
        case TypeCurve6:
            fit.SetTypeCurve(c6.x, c6.y);
            break;
        case Table5:
            fit.SetUp(t5.x.data(), t5.y.data(), 5);
            break;
        case Table3:
            fit.SetUp(t3.x.data(), t3.y.data(), 3);
            break;
        case SameAsTypeCurve12:
            fit.SetUp(c12.x.GetData(), c12.y.GetData(), 12);
            break;
        }
    }
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    bool evaluates; // false: f and dfdx give the null value
};

const Case kCases[] = {
    {"fresh object, bare SetUp", {Table5}, false},
    {"type curve, then a shorter table", {TypeCurve12, Table5}, false},
    {"type curve, then too few points", {TypeCurve12, Table3}, false},
    {"type curve, then a longer table", {TypeCurve6, SameAsTypeCurve12}, false},
    {"bare SetUp, then a type curve", {Table5, TypeCurve12}, true},
    {"shorter table, then a new type curve", {TypeCurve12, Table5, TypeCurve6}, true},
    {"type curve set up again by SetUp", {TypeCurve12, SameAsTypeCurve12}, true},
    {"type curve only", {TypeCurve12}, true},
};

TEST(FitTypeCurveSetUpOrder, EvaluationReadsOnlyTheTableItsIndexWasBuiltFor) {
    for (const Case& c : kCases) {
        Objects o;
        CVRNiFitTypeCurve fit;
        for (Step s : c.steps)
            o.Apply(fit, s);
        for (double at : {0.05, 0.3, 1.0, 4.0, 7.7, 42.0, 100.0, 250.0}) {
            double x = at;
            const double v = fit.f(x);
            const double d = fit.dfdx(x);
            if (c.evaluates) {
                EXPECT_NEAR(v, G(at), 1e-9 * (1.0 + std::fabs(G(at)))) << c.name << " at " << at;
                EXPECT_NEAR(d, dG(at), 1e-8 * (1.0 + std::fabs(dG(at)))) << c.name << " at " << at;
            } else {
                EXPECT_EQ(v, kNull) << c.name << " at " << at;
                EXPECT_EQ(d, kNull) << c.name << " at " << at;
            }
        }
    }
}

TEST(FitTypeCurveSetUpOrder, FitAfterAnotherTableWasSetUpChangesNothing) {
    struct FitCase {
        const char* name;
        std::vector<Step> steps;
    };
    const FitCase cases[] = {
        {"fresh object, bare SetUp", {Table5}},
        {"type curve, then a shorter table", {TypeCurve12, Table5}},
        {"type curve, then a longer table", {TypeCurve6, SameAsTypeCurve12}},
    };
    for (const FitCase& c : cases) {
        for (int bFitConstant : {0, 1}) {
            Objects o;
            const Objects before;
            CVRNiFitTypeCurve fit;
            for (Step s : c.steps)
                o.Apply(fit, s);
            CDblHdr t, p, tc, q;
            for (int i = 0; i < 30; i++) {
                t.Add(0.5 + i);
                p.Add(-0.25 * i);
            }
            tc.Add(0.0);
            q.Add(1.0);
            CSynPar c0(2.0);
            fit.Fit(t, p, tc, q, c0, bFitConstant);
            const std::string what =
                std::string(c.name) + (bFitConstant ? ", fitted constant" : ", given constant");
            EXPECT_EQ(o.t5.y, before.t5.y) << what;
            for (int j = 0; j < 12; j++)
                EXPECT_EQ(o.c12.y[j], before.c12.y[j]) << what << " node " << j;
            for (int j = 0; j < 6; j++)
                EXPECT_EQ(o.c6.y[j], before.c6.y[j]) << what << " node " << j;
            for (int i = 0; i < 30; i++)
                EXPECT_EQ(p[i], -0.25 * i) << what;
            EXPECT_EQ(static_cast<double>(c0), 2.0) << what;
        }
    }
}

} // namespace
