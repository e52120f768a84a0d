// The engine's outward seams: the message sink, the iteration observer and the run
// record, seen from a caller that uses nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "support/LambdaProblem.h"

namespace {

// 1/2 (x - 1)' A (x - 1) with A = [[4,1,0],[1,6,1],[0,1,8]].
const double kA[3][3] = {{4, 1, 0}, {1, 6, 1}, {0, 1, 8}};

LambdaProblem Quadratic3(std::vector<double> x0, double gradientError = 0.0) {
    return LambdaProblem(
        std::move(x0),
        [](const double* x) {
            double f = 0.0;
            for (int i = 0; i < 3; i++)
                for (int j = 0; j < 3; j++)
                    f += 0.5 * (x[i] - 1.0) * kA[i][j] * (x[j] - 1.0);
            return f;
        },
        [gradientError](const double* x, double* g) {
            for (int i = 0; i < 3; i++) {
                g[i] = 0.0;
                for (int j = 0; j < 3; j++)
                    g[i] += kA[i][j] * (x[j] - 1.0);
            }
            g[0] += gradientError;
        },
        [](const double*, CMatrix& h) {
            for (int i = 0; i < 3; i++)
                for (int j = 0; j < 3; j++)
                    h[i][j] = kA[i][j];
        });
}

LambdaProblem Rosenbrock() {
    return LambdaProblem(
        {-1.2, 1.0},
        [](const double* x) {
            const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
            return 100.0 * a * a + b * b;
        },
        [](const double* x, double* g) {
            g[0] = -400.0 * x[0] * (x[1] - x[0] * x[0]) - 2.0 * (1.0 - x[0]);
            g[1] = 200.0 * (x[1] - x[0] * x[0]);
        },
        [](const double* x, CMatrix& h) {
            h[0][0] = 1200.0 * x[0] * x[0] - 400.0 * x[1] + 2.0;
            h[1][0] = h[0][1] = -400.0 * x[0];
            h[1][1] = 200.0;
        });
}

struct Recorder : CVRNIterationObserver {
    std::vector<std::string> kinds;
    std::vector<CVRNIterationEvent> accepted;
    CVRNIterationEvent end;
    void OnRunStart(const CVRNIterationEvent&) override { kinds.push_back("start"); }
    void OnTrialPoint(const CVRNIterationEvent&) override { kinds.push_back("trial"); }
    void OnAcceptedStep(const CVRNIterationEvent& e) override {
        kinds.push_back("step");
        accepted.push_back(e);
    }
    void OnRunEnd(const CVRNIterationEvent& e) override {
        kinds.push_back("end");
        end = e;
    }
};

struct RowSink : CVRNMessageSink {
    std::vector<std::string> rows;
    void AddMessage(const char* text) override {
        ForEachStatusRow(text, std::strlen(text), [this](std::string_view r) { rows.emplace_back(r); });
    }
};

TEST(RunRecord, EveryMethodReportsItsEventsCountsAndFinalPointThroughTheSeams) {
    for (int method = 1; method <= 4; method++) {
        SCOPED_TRACE(method);
        LambdaProblem p = Rosenbrock();
        CVRNUnconstrainedMinimization e;
        Recorder seen;
        e.AddObserver(&seen);
        e.SetRecordIterations(true);
        e.Default();
        e.SetImplementationOptions(true, method != 4, false);
        e.Minimize(&p, 1.0, 10000, method);

        const CVRNRunRecord& r = e.GetRunRecord();
        EXPECT_TRUE(r.code == 1 || r.code == 2) << r.code;
        ASSERT_FALSE(seen.kinds.empty());
        EXPECT_EQ(seen.kinds.front(), "start");
        EXPECT_EQ(seen.kinds.back(), "end");
        // Counts are the calls the problem saw; the record holds start plus one entry per step.
        EXPECT_EQ(r.fEvaluations, p.nfev);
        EXPECT_EQ(r.gradientEvaluations, p.ngev);
        EXPECT_EQ(r.hessianEvaluations, p.nhev);
        EXPECT_EQ(r.iterationRecords.size(), seen.accepted.size() + 1);
        EXPECT_EQ(r.iterationRecords.front().iteration, 0);
        EXPECT_NEAR(r.initialF, 24.2, 1e-12);
        ASSERT_EQ(r.x.size(), 2u);
        EXPECT_NEAR(r.x[0], 1.0, 1e-3);
        EXPECT_NEAR(r.x[1], 1.0, 1e-3);
        EXPECT_EQ(seen.end.code, r.code);
        for (size_t i = 1; i < seen.accepted.size(); i++) {
            EXPECT_GE(seen.accepted[i].fEvaluations, seen.accepted[i - 1].fEvaluations);
            EXPECT_GT(seen.accepted[i].stepLength, 0.0);
        }
        if (method != 4) {
            EXPECT_EQ(r.iterations, static_cast<int>(seen.accepted.size()));
            EXPECT_EQ(r.iterationRecords.back().f, r.f);
            ASSERT_EQ(r.g.size(), 2u);
        }
    }
}

TEST(RunRecord, AHookStepOnAThreeByThreeQuadraticWithAWideRadiusIsTheNewtonStep) {
    LambdaProblem p = Quadratic3({3.0, -2.0, 0.5});
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(true, true, false);
    e.SetTrustRadius(1e6);
    e.Minimize(&p, 1.0, 100, 3);
    const CVRNRunRecord& r = e.GetRunRecord();
    EXPECT_EQ(r.code, GradientSmall);
    EXPECT_EQ(r.iterations, 1);
    for (double xi : r.x)
        EXPECT_NEAR(xi, 1.0, 1e-12);
}

TEST(RunRecord, TheGradientCheckRecordsEveryComponentAndFlagsTheWrongOne) {
    struct Case {
        double error;
        bool passed;
    };
    for (const Case c : {Case{0.0, true}, Case{5.0, false}}) {
        LambdaProblem p = Quadratic3({3.0, -2.0, 0.5}, c.error);
        CVRNUnconstrainedMinimization e;
        e.Default();
        e.SetImplementationOptions(true, true, false);
        e.EnableGradientHessianCheck(true, true);
        e.Minimize(&p, 1.0, 100, 3);
        const CVRNDerivativeCheckRecord& g = e.GetRunRecord().gradientCheck;
        EXPECT_TRUE(g.ran);
        EXPECT_EQ(g.passed, c.passed);
        ASSERT_EQ(g.entries.size(), 3u);
        EXPECT_EQ(g.entries[0].flagged, !c.passed);
        EXPECT_FALSE(g.entries[1].flagged);
        EXPECT_NEAR(g.entries[0].analytic - g.entries[0].estimate, c.error, 1e-4);
        // The Hessian check compares the diagonal and the strict lower triangle.
        EXPECT_EQ(e.GetRunRecord().hessianCheck.entries.size(), 6u);
        EXPECT_TRUE(e.GetRunRecord().hessianCheck.passed);
    }
}

TEST(MessageSink, AnySinkReceivesTheStatusRowsCutAtLineFeeds) {
    struct Case {
        const char* text;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\n", {"one"}},
        {"\n", {" "}},
        {"a\n\nb", {"a", " ", "b"}},
        {"a\n\n", {"a", " "}},
    };
    for (const Case& c : cases) {
        RowSink sink;
        sink.Print("%s", c.text);
        EXPECT_EQ(sink.rows, c.rows) << '"' << c.text << '"';
    }

    LambdaProblem p = Rosenbrock();
    CVRNUnconstrainedMinimization e;
    RowSink sink;
    e.SetStatusView(&sink);
    e.Default();
    e.Minimize(&p, 1.0, 10000, 1);
    ASSERT_GT(sink.rows.size(), 20u);
    EXPECT_EQ(sink.rows.front(), "OPTDRV          Typical x");
    EXPECT_EQ(sink.rows.back(), "WARNING --- probably converged, Gradient small");
}

} // namespace
