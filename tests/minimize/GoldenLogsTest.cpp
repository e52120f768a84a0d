// Reproduces the reference status logs and final points row for row and bit for bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "tool/MinimizerTool.h"
#include "views/StatusView.h"

namespace {

struct Scenario {
    const char* name;
    const char* problem;
    enum Mode { Engine, Tool, Step } mode;
    int method;
    bool gradient, hessian, expensive;
};

struct Expected {
    int code = -1, k = -1;
    long nfev = -1, ngev = -1, nhev = -1;
    int runs = -1;
    std::string f;
    std::vector<std::string> x;
};

std::vector<std::string> ReadRows(const std::string& path) {
    std::vector<std::string> rows;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        rows.push_back(line);
    return rows;
}

Expected ReadExpected(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    Expected e;
    if (j.is_discarded())
        return e;
    e.code = j.value("code", -1);
    e.k = j.value("k", -1);
    e.nfev = j.value("nfev", -1L);
    e.ngev = j.value("ngev", -1L);
    e.nhev = j.value("nhev", -1L);
    e.runs = j.value("runs", -1);
    e.f = j.value("f", std::string());
    if (j.contains("x") && j["x"].is_array())
        for (const auto& v : j["x"])
            e.x.push_back(v.get<std::string>());
    return e;
}

// Equal to the last bit (NaN equals NaN).
::testing::AssertionResult SameBits(double actual, const std::string& expected) {
    const double want = std::strtod(expected.c_str(), nullptr);
    if (std::memcmp(&actual, &want, sizeof(double)) == 0)
        return ::testing::AssertionSuccess();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", actual);
    return ::testing::AssertionFailure() << "got " << buf << ", want " << expected;
}

std::vector<std::string> Rows(CVRNStatusView& view) {
    std::vector<std::string> rows;
    CListCtrl& list = view.GetListCtrl();
    for (int i = 0; i < list.GetItemCount(); i++)
        rows.emplace_back(static_cast<const char*>(list.GetItemText(i, 0)));
    return rows;
}

// The reference problem evaluated through a lock, offered for concurrent evaluation:
// the engine's pool then evaluates the difference points on several threads (one at a
// time inside the problem, which keeps its counters plain).
class LockedCountingProblem : public vrn_problems::CountingProblem {
public:
    using vrn_problems::CountingProblem::CountingProblem;
    bool bConcurrentEvaluation() const override { return true; }
    double Fx(double* const x) override {
        std::lock_guard<std::mutex> lock(m_Lock);
        return vrn_problems::CountingProblem::Fx(x);
    }
    void Gradient(double* const x, double* const g) override {
        std::lock_guard<std::mutex> lock(m_Lock);
        vrn_problems::CountingProblem::Gradient(x, g);
    }

private:
    std::mutex m_Lock;
};

// Runs the scenario with the given number of evaluation threads and compares the log,
// the counts and the final point with the reference.
void ReproduceScenario(const Scenario& sc, int threads) {
    const std::string base = std::string(VRN_TEST_DATA) + "/" + sc.name;
    const std::vector<std::string> wantRows = ReadRows(base + ".rows");
    const Expected want = ReadExpected(base + ".json");
    ASSERT_FALSE(wantRows.empty());
    ASSERT_TRUE(want.code >= 0 && want.k >= 0 && want.nfev >= 0 && want.runs >= 1 && !want.f.empty() &&
                !want.x.empty());

    auto reference = golden::MakeTestProblem(sc.problem);
    ASSERT_TRUE(reference);
    LockedCountingProblem problem(*reference);
    CVRNStatusView view;

    std::vector<double> x;
    double f = 0.0;
    int code = -1, k = -1, runs = 0;
    CVRNRunRecord record;
    auto collect = [&](CVRNUnconstrainedMinimization& e, int method) {
        record = e.GetRunRecord();
        const int n = e.GetNumberOfParameters();
        const double* px = method == 4 ? e.GetX() : e.GetXMin();
        x.assign(px, px + n);
        f = method == 4 ? (e.GetCodeforTerminationCode() == StepSizeSmall ? e.GetFPlus() : e.GetFx())
                        : e.GetFPlus();
        code = e.GetCodeforTerminationCode();
        k = e.GetIterationCount();
    };

    if (sc.mode == Scenario::Engine) {
        CVRNUnconstrainedMinimization e;
        e.SetEvaluationThreads(threads);
        e.Default();
        e.SetImplementationOptions(sc.gradient, sc.hessian, sc.expensive);
        e.SetStatusView(&view);
        e.Minimize(&problem, 1.0, 10000, sc.method);
        collect(e, sc.method);
        runs = 1;
    } else {
        VRNMinimizerTool tool;
        tool.GetEngine().SetEvaluationThreads(threads);
        tool.SetMinimizationMethodObject(&problem);
        tool.InstallTestView(&view);
        tool.GetbFunctionExpensiveToCalculate() = sc.expensive ? 1 : 0;
        tool.GetbUserDefinedGradient() = sc.gradient ? 1 : 0;
        tool.GetbUserDefinedHessian() = sc.hessian ? 1 : 0;
        if (sc.mode == Scenario::Tool) {
            tool.Minimize(sc.method);
            runs = tool.GetRunCount();
        } else {
            tool.FirstStep(sc.method);
            while (tool.bNextStep())
                tool.NextStep();
            runs = 1;
        }
        collect(tool.GetEngine(), sc.method);
    }

    const std::vector<std::string> rows = Rows(view);
    const size_t common = rows.size() < wantRows.size() ? rows.size() : wantRows.size();
    for (size_t i = 0; i < common; i++)
        ASSERT_EQ(rows[i], wantRows[i]) << "first difference at row " << i;
    EXPECT_EQ(rows.size(), wantRows.size());

    EXPECT_EQ(code, want.code);
    EXPECT_EQ(k, want.k);
    EXPECT_EQ(problem.nfev, want.nfev);
    EXPECT_EQ(problem.ngev, want.ngev);
    EXPECT_EQ(problem.nhev, want.nhev);
    EXPECT_EQ(runs, want.runs);
    EXPECT_TRUE(SameBits(f, want.f)) << "f";
    ASSERT_EQ(x.size(), want.x.size());
    for (size_t i = 0; i < x.size(); i++)
        EXPECT_TRUE(SameBits(x[i], want.x[i])) << "x[" << i << "]";

    // The engine's own run record says the same (the tool's record is of its last run).
    EXPECT_EQ(record.code, want.code);
    EXPECT_TRUE(SameBits(record.f, want.f)) << "record f";
    ASSERT_EQ(record.x.size(), want.x.size());
    for (size_t i = 0; i < x.size(); i++)
        EXPECT_TRUE(SameBits(record.x[i], want.x[i])) << "record x[" << i << "]";
    if (sc.mode != Scenario::Tool) {
        EXPECT_EQ(record.iterations, want.k);
        EXPECT_EQ(record.fEvaluations, want.nfev);
        EXPECT_EQ(record.gradientEvaluations, want.ngev);
        EXPECT_EQ(record.hessianEvaluations, want.nhev);
    }
}

class GoldenLogs : public ::testing::TestWithParam<Scenario> {};

TEST_P(GoldenLogs, ReproducesRowsAndFinalPoint) {
    ReproduceScenario(GetParam(), 1);
}

// The evaluation pool changes nothing: same rows, counts and bits.
TEST_P(GoldenLogs, ReproducesRowsAndFinalPointWithTwoEvaluationThreads) {
    ReproduceScenario(GetParam(), 2);
}
TEST_P(GoldenLogs, ReproducesRowsAndFinalPointWithThreeEvaluationThreads) {
    ReproduceScenario(GetParam(), 3);
}

const Scenario kScenarios[] = {
    {"rosenbrock-m1-analytic", "rosenbrock", Scenario::Engine, 1, true, true, false},
    {"helical-m1-fd", "helical", Scenario::Engine, 1, false, false, false},
    {"wood-m2-fd", "wood", Scenario::Engine, 2, false, false, false},
    {"beale-m3-analytic", "beale", Scenario::Engine, 3, true, true, false},
    {"rosenbrock-m3-secant", "rosenbrock", Scenario::Engine, 3, true, false, true},
    {"powell-m2-secant", "powell", Scenario::Engine, 2, true, false, true},
    {"beale-m1-secant-fd", "beale", Scenario::Engine, 1, false, false, true},
    {"quadratic-m4", "quadratic", Scenario::Engine, 4, true, false, false},
    {"onedim-m3", "onedim", Scenario::Engine, 3, true, true, false},
    {"rosenbrock-m3-tool-restart", "rosenbrock", Scenario::Tool, 3, true, true, false},
    {"beale-m1-step", "beale", Scenario::Step, 1, true, true, false},
};

INSTANTIATE_TEST_SUITE_P(Reference, GoldenLogs, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
