// The minimizer tool: defaults, restarts, check switches, abort, step mode, interchange trees.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/data/Interchange.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "tool/MinimizerTool.h"
#include "views/StatusView.h"

namespace {

// f = -(x0 + x1): unbounded below, so no run can converge. Each run starts where the
// previous one's last candidate was; every Fx call can run a hook (used to abort).
class UnboundedProblem : public CVRNMinimizationMethodBase {
public:
    int NumberOfParameters() override { return 2; }
    void InitialParameters(double* const x0) override {
        ++runs;
        x0[0] = m_Start[0];
        x0[1] = m_Start[1];
    }
    void SetIterations(int count) override { counts.push_back(count); }
    double Fx(double* const x) override {
        ++nfev;
        if (onFx)
            onFx();
        return -(x[0] + x[1]);
    }
    void Gradient(double* const, double* const g) override {
        g[0] = -1.0;
        g[1] = -1.0;
    }
    void Hessian(double* const, CMatrix& h) override {
        h[0][0] = 0.0;
        h[0][1] = 0.0;
        h[1][0] = 0.0;
        h[1][1] = 0.0;
    }
    void CommitStep(double* x, int) override {
        m_Start[0] = x[0];
        m_Start[1] = x[1];
    }

    std::vector<int> counts; // every SetIterations, the engine's own first one included
    int runs = 0;            // runs started (each asks for the start point once)
    long nfev = 0;
    std::function<void()> onFx;

private:
    double m_Start[2] = {1.0, 2.0};
};

// Records every point handed to CommitStep, and otherwise forwards to a reference problem.
class RecordingProblem : public vrn_problems::CountingProblem {
public:
    explicit RecordingProblem(golden::TestProblem& p) : CountingProblem(p) {}
    void CommitStep(double* x, int n) override {
        commitsSeen.emplace_back(x, x + n);
        CountingProblem::CommitStep(x, n);
    }
    std::vector<std::vector<double>> commitsSeen;
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<std::string> Rows(CVRNStatusView& view) {
    std::vector<std::string> rows;
    for (int i = 0; i < view.GetListCtrl().GetItemCount(); i++)
        rows.emplace_back(static_cast<const char*>(view.GetListCtrl().GetItemText(i, 0)));
    return rows;
}

// Objective calls of one tool Minimize on Rosenbrock (method 3, analytic derivatives).
long ToolEvaluations(bool checkGradient, bool checkHessian, int* runs = nullptr,
                     VRNMinimizerTool* out = nullptr) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    VRNMinimizerTool local;
    VRNMinimizerTool& tool = out ? *out : local;
    tool.SetMinimizationMethodObject(&problem);
    tool.bCheckGradient() = checkGradient ? 1 : 0;
    tool.bCheckHessian() = checkHessian ? 1 : 0;
    tool.Minimize(3);
    if (runs)
        *runs = tool.GetRunCount();
    return problem.nfev;
}

// Objective calls of one engine run from Rosenbrock's start.
long EngineEvaluations(bool checkGradient, bool checkHessian) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(true, true, false);
    e.EnableGradientHessianCheck(checkGradient, checkHessian);
    e.Minimize(&problem, 1.0, 100000, 3);
    return problem.nfev;
}

} // namespace

TEST(MinimizerToolDefaults, FreshToolReportsItsDefaults) {
    VRNMinimizerTool tool;
    EXPECT_EQ(tool.GetbFunctionExpensiveToCalculate().GetValue(), 0);
    EXPECT_EQ(tool.GetbUserDefinedGradient().GetValue(), 1);
    EXPECT_EQ(tool.GetbUserDefinedHessian().GetValue(), 1);
    EXPECT_EQ(tool.bShowDiag().GetValue(), 1);
    EXPECT_EQ(tool.bShowHessian().GetValue(), 1);
    EXPECT_EQ(tool.bCheckGradient().GetValue(), 0);
    EXPECT_EQ(tool.bCheckHessian().GetValue(), 0);
    EXPECT_EQ(tool.GetRunCount(), 0);
}

TEST(MinimizerToolDefaults, SwitchAccessorsAreTheEngineSwitches) {
    VRNMinimizerTool tool;
    tool.bCheckGradient() = 1;
    tool.bCheckHessian() = 1;
    EXPECT_TRUE(tool.GetEngine().GetbCheckGradient());
    EXPECT_TRUE(tool.GetEngine().GetbCheckHessian());
    tool.GetEngine().DisableGradientHessianCheck();
    EXPECT_EQ(tool.bCheckGradient().GetValue(), 0);
    EXPECT_EQ(tool.bCheckHessian().GetValue(), 0);
}

TEST(MinimizerToolRestarts, RosenbrockRestartsOnceAndStopsOnARunWithoutIterations) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&problem);
    tool.Minimize(3);
    EXPECT_EQ(tool.GetRunCount(), 2);
    // The problem is told the count of the last run, which took none.
    EXPECT_EQ(problem.iterations, 0);
    EXPECT_EQ(tool.GetEngine().GetCodeforTerminationCode(), GradientSmall);
}

TEST(MinimizerToolRestarts, CheckGradientRunsInTheFirstRunOnlyAndIsRestored) {
    int runs = 0;
    const long plain = ToolEvaluations(false, false, &runs);
    ASSERT_EQ(runs, 2);
    // One engine run with the check shows what a check costs.
    const long checkCost = EngineEvaluations(true, false) - EngineEvaluations(false, false);
    ASSERT_GT(checkCost, 0);

    VRNMinimizerTool tool;
    const long checked = ToolEvaluations(true, false, &runs, &tool);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(checked - plain, checkCost); // not twice: the second run did not check
    EXPECT_EQ(tool.bCheckGradient().GetValue(), 1);
    EXPECT_EQ(tool.bCheckHessian().GetValue(), 0);
}

TEST(MinimizerToolRestarts, CheckHessianRunsInTheFirstRunOnlyAndIsRestored) {
    int runs = 0;
    const long plain = ToolEvaluations(false, false, &runs);
    const long checkCost = EngineEvaluations(false, true) - EngineEvaluations(false, false);
    VRNMinimizerTool tool;
    const long checked = ToolEvaluations(false, true, &runs, &tool);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(checked - plain, checkCost);
    EXPECT_EQ(tool.bCheckGradient().GetValue(), 0);
    EXPECT_EQ(tool.bCheckHessian().GetValue(), 1);
}

TEST(MinimizerToolRestarts, ProblemThatNeverConvergesMakesExactlyTenRuns) {
    UnboundedProblem problem;
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&problem);
    tool.Minimize(1);
    EXPECT_EQ(tool.GetRunCount(), 10);
    EXPECT_EQ(problem.runs, 10);
    // The engine says 0 once when it first meets the problem; the tool reports each
    // run's count, and every run took iterations.
    ASSERT_EQ(problem.counts.size(), 11u);
    EXPECT_EQ(problem.counts[0], 0);
    for (size_t i = 1; i < problem.counts.size(); i++)
        EXPECT_GT(problem.counts[i], 0);
    EXPECT_NE(tool.GetEngine().GetCodeforTerminationCode(), GradientSmall);
    EXPECT_NE(tool.GetEngine().GetCodeforTerminationCode(), StepSizeSmall);
}

TEST(MinimizerToolRestarts, StartThatAlreadyConvergedMakesOneRunWithoutIterations) {
    golden::Rosenbrock reference;
    reference.SetStart({1.0, 1.0});
    vrn_problems::CountingProblem problem(reference);
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&problem);
    tool.Minimize(3);
    EXPECT_EQ(tool.GetRunCount(), 1);
    EXPECT_EQ(problem.iterations, 0);
}

TEST(MinimizerToolRestarts, AbortDuringARunEndsTheRestarts) {
    UnboundedProblem problem;
    VRNMinimizerTool tool;
    problem.onFx = [&] {
        if (problem.nfev == 3)
            tool.Abort();
    };
    tool.SetMinimizationMethodObject(&problem);
    tool.Minimize(1);
    EXPECT_EQ(tool.GetRunCount(), 1);
    EXPECT_EQ(tool.GetEngine().GetCodeforTerminationCode(), AbortedByUser);
    EXPECT_EQ(problem.runs, 1);
    ASSERT_EQ(problem.counts.size(), 2u);
    EXPECT_GT(problem.counts[1], 0);
}

TEST(MinimizerToolRestarts, EveryRunClearsAndSeparatesTheLog) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNStatusView view;
    view.Print("left over from before");
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&problem);
    tool.InstallTestView(&view);
    tool.Minimize(3);
    const std::vector<std::string> rows = Rows(view);
    ASSERT_FALSE(rows.empty());
    EXPECT_NE(rows.front(), "left over from before");
    int separators = 0;
    for (const std::string& r : rows)
        separators += r == " " ? 1 : 0;
    EXPECT_EQ(separators, tool.GetRunCount());
    EXPECT_EQ(rows.back(), " ");
}

TEST(MinimizerToolRestarts, OptionsAreAppliedAfterDefaultInEveryRun) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    VRNMinimizerTool tool;
    VRNMinimizerOptions options;
    options.gradientTolerance = 1e-3;
    options.typicalX = {2.0, 4.0};
    tool.SetOptions(options);
    tool.SetMinimizationMethodObject(&problem);
    tool.Minimize(3);
    EXPECT_EQ(tool.GetEngine().GetGradientTolerance(), 1e-3);
    // Untouched options keep the defaults.
    EXPECT_EQ(tool.GetEngine().GetStepTolerance(), 1.0583005244258363e-08);
    EXPECT_EQ(tool.GetEngine().GetTypicalX(), (std::vector<double>{2.0, 4.0}));
}

class MinimizerToolStepMode : public ::testing::TestWithParam<std::tuple<const char*, int, bool>> {};

TEST_P(MinimizerToolStepMode, FirstStepAndNextStepReproduceOneEngineRun) {
    const auto [name, method, analytic] = GetParam();

    auto ref1 = golden::MakeTestProblem(name);
    RecordingProblem run(*ref1);
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    engine.SetImplementationOptions(analytic, analytic, false);
    engine.Minimize(&run, 1.0, 100000, method);

    auto ref2 = golden::MakeTestProblem(name);
    RecordingProblem stepped(*ref2);
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&stepped);
    tool.GetbUserDefinedGradient() = analytic ? 1 : 0;
    tool.GetbUserDefinedHessian() = analytic ? 1 : 0;
    tool.FirstStep(method);
    EXPECT_EQ(stepped.iterations, 1);
    int steps = 0;
    while (tool.bNextStep() && steps < 1000) {
        tool.NextStep();
        ++steps;
        EXPECT_EQ(stepped.iterations, tool.GetEngine().GetIterationCount());
    }

    ASSERT_GT(run.commitsSeen.size(), 1u);
    ASSERT_EQ(stepped.commitsSeen.size(), run.commitsSeen.size());
    for (size_t i = 0; i < run.commitsSeen.size(); i++)
        EXPECT_TRUE(SameBits(stepped.commitsSeen[i], run.commitsSeen[i])) << "point " << i;
    CVRNUnconstrainedMinimization& e2 = tool.GetEngine();
    EXPECT_EQ(e2.GetCodeforTerminationCode(), engine.GetCodeforTerminationCode());
    EXPECT_EQ(e2.GetIterationCount(), engine.GetIterationCount());
    const int n = engine.GetNumberOfParameters();
    EXPECT_TRUE(SameBits(std::vector<double>(e2.GetXMin(), e2.GetXMin() + n),
                         std::vector<double>(engine.GetXMin(), engine.GetXMin() + n)));
    EXPECT_EQ(stepped.nfev, run.nfev);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, MinimizerToolStepMode,
    ::testing::Values(std::make_tuple("rosenbrock", 1, true), std::make_tuple("rosenbrock", 2, true),
                      std::make_tuple("rosenbrock", 3, true), std::make_tuple("beale", 1, false),
                      std::make_tuple("wood", 2, false), std::make_tuple("helical", 3, false)));

// ---- Interchange trees ----

namespace {

std::vector<std::string> Keys(CiDataParsInterchange* pars) {
    std::vector<std::string> keys;
    for (int i = 0; i < pars->GetCount(); i++)
        keys.emplace_back(static_cast<const char*>(pars->GetKey(i)));
    return keys;
}

} // namespace

TEST(MinimizerToolInterchange, TreeHasTheEngineNodeAndTheToolParametersInOrder) {
    VRNMinimizerTool tool;
    CiDataInterchange* root = tool.GetInterchange();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), "CVRNBranticUnconstrainedMinimizer");
    ASSERT_EQ(root->GetCount(), 2);

    CiDataInterchange* engineNode = root->GetAt(0)->GetInterchange();
    ASSERT_NE(engineNode, nullptr);
    EXPECT_EQ(engineNode->GetName(), "CVRNUnconstrainedMinimization");
    ASSERT_EQ(engineNode->GetCount(), 1);
    CiDataParsInterchange* enginePars = engineNode->GetAt(0)->GetParsInterchange();
    ASSERT_NE(enginePars, nullptr);
    EXPECT_EQ(enginePars->GetName(), "CVRNUnconstrainedMinimizationParIC");
    EXPECT_EQ(Keys(enginePars),
              (std::vector<std::string>{"m_bGradientFlag", "m_bHessianFlag", "m_bExpensiveFxFlag",
                                        "Check Gradient", "Check Hessian"}));

    CiDataParsInterchange* toolPars = root->GetAt(1)->GetParsInterchange();
    ASSERT_NE(toolPars, nullptr);
    EXPECT_EQ(toolPars->GetName(), "CVRNBranticUnconstrainedMinimizerParIC");
    EXPECT_EQ(Keys(toolPars), (std::vector<std::string>{"fxn Expensive to Calculate", "User Defined Gradient",
                                                        "User Defined Hessian"}));
    EXPECT_EQ(toolPars->GetAt(0), &tool.GetbFunctionExpensiveToCalculate());
    EXPECT_EQ(toolPars->GetAt(1), &tool.GetbUserDefinedGradient());
    EXPECT_EQ(toolPars->GetAt(2), &tool.GetbUserDefinedHessian());
    EXPECT_EQ(enginePars->GetAt(3), &tool.bCheckGradient());
    EXPECT_EQ(enginePars->GetAt(4), &tool.bCheckHessian());
    // The display switches are not part of the interchange.
    EXPECT_EQ(enginePars->Find("Diagnostics"), nullptr);
    EXPECT_EQ(enginePars->Find("Hessian"), nullptr);
    root->Release();
}

TEST(MinimizerToolInterchange, WritingThroughTheTreeChangesTheLiveOptions) {
    VRNMinimizerTool tool;
    CiDataInterchange* root = tool.GetInterchange();
    CiDataParsInterchange* toolPars = root->GetAt(1)->GetParsInterchange();
    CiDataParsInterchange* enginePars = root->GetAt(0)->GetInterchange()->GetAt(0)->GetParsInterchange();

    toolPars->Find("User Defined Gradient")->SetDouble(0.0);
    toolPars->Find("fxn Expensive to Calculate")->SetDouble(1.0);
    enginePars->Find("Check Hessian")->SetDouble(1.0);
    EXPECT_EQ(tool.GetbUserDefinedGradient().GetValue(), 0);
    EXPECT_EQ(tool.GetbFunctionExpensiveToCalculate().GetValue(), 1);
    EXPECT_TRUE(tool.GetEngine().GetbCheckHessian());
    // And the other way round.
    tool.GetbUserDefinedHessian() = 0;
    EXPECT_EQ(toolPars->Find("User Defined Hessian")->GetDouble(), 0.0);
    root->Release();
}

TEST(MinimizerToolInterchange, EngineFlagWrittenThroughItsTreeDrivesTheNextRun) {
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    CiDataInterchange* tree = engine.GetInterchange();
    tree->GetAt(0)->GetParsInterchange()->Find("m_bGradientFlag")->SetDouble(0.0);
    CVRNStatusView view;
    engine.SetStatusView(&view);
    engine.Minimize(&problem, 1.0, 100000, 3);
    bool listed = false;
    for (const std::string& r : Rows(view))
        listed = listed || r == "OPTDRV      Gradient flag = 0";
    EXPECT_TRUE(listed);
    EXPECT_EQ(problem.ngev, 0);
    tree->Release();
}

TEST(MinimizerToolInterchange, TwoCallsGiveIndependentTreesOverTheSameMembers) {
    VRNMinimizerTool tool;
    CiDataInterchange* a = tool.GetInterchange();
    CiDataInterchange* b = tool.GetInterchange();
    ASSERT_NE(a, b);
    EXPECT_NE(a->GetAt(0), b->GetAt(0));
    EXPECT_NE(a->GetAt(1), b->GetAt(1));
    EXPECT_EQ(a->GetAt(1)->GetParsInterchange()->GetAt(1), b->GetAt(1)->GetParsInterchange()->GetAt(1));
    a->Release();
    // The second tree is intact after the first is freed.
    CiDataParsInterchange* pars = b->GetAt(1)->GetParsInterchange();
    ASSERT_EQ(pars->GetCount(), 3);
    pars->GetAt(2)->SetDouble(0.0);
    EXPECT_EQ(tool.GetbUserDefinedHessian().GetValue(), 0);
    b->Release();
}
