// Checks of analytic gradients and Hessians against finite differences, and the
// text dumps of vectors and matrices.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ReferenceProblems.h"
#include "views/StatusView.h"

namespace {

struct CheckProbeTag {};

// A reference problem with optional deliberate coding errors in its derivatives.
class FaultyProblem : public CVRNMinimizationMethodBase {
public:
    explicit FaultyProblem(std::unique_ptr<golden::TestProblem> p) : m_P(std::move(p)) {}
    int NumberOfParameters() override { return m_P->n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_P->n; ++i)
            x0[i] = m_P->x0[static_cast<size_t>(i)];
    }
    double Fx(double* const x) override { return offset + m_P->fx(x); }
    void Gradient(double* const x, double* const g) override {
        m_P->grad(x, g);
        if (gradIndex >= 0)
            g[gradIndex] += gradError;
    }
    void Hessian(double* const x, CMatrix& h) override {
        ++nhev;
        const int n = m_P->n;
        std::vector<double> flat(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);
        m_P->hess(x, flat.data());
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                h[i][j] = flat[static_cast<size_t>(i * n + j)];
        if (hessRow >= 0)
            h[hessRow][hessCol] += hessError;
    }

    double offset = 0.0;
    int gradIndex = -1;
    double gradError = 0.0;
    int hessRow = -1;
    int hessCol = -1;
    double hessError = 0.0;
    int nhev = 0;

private:
    std::unique_ptr<golden::TestProblem> m_P;
};

} // namespace

template <> struct CVRNEngineProbe<CheckProbeTag> {
    // Prepares the engine as a run does up to the derivative checks: arrays sized,
    // options corrected, noise and tolerance derived, f and the analytic gradient at x.
    static void Prepare(CVRNUnconstrainedMinimization& e, CVRNMinimizationMethodBase* p, bool gradientFlag) {
        e.Default();
        e.SetImplementationOptions(gradientFlag, true, false);
        e.m_pMethod = p;
        e.AllocateTempArrays();
        e.CheckOptions();
        e.m_dNoise = 1e-15;
        e.m_dAnalyticTol = 0.01;
        e.m_dF = p->Fx(e.m_pX);
        p->Gradient(e.m_pX, e.m_pGrad);
    }
    static void CheckGradient(CVRNUnconstrainedMinimization& e) { e.CheckGradient(); }
    static void CheckHessian(CVRNUnconstrainedMinimization& e) { e.CheckHessian(); }
    static void ForwardGradient(CVRNUnconstrainedMinimization& e, std::vector<double>& d) {
        d.assign(static_cast<size_t>(e.m_nParameters), 0.0);
        e.ForwardFiniteDifferenceGradient(e.m_pX, e.m_dF, d.data());
    }
    static double* X(CVRNUnconstrainedMinimization& e) { return e.m_pX; }
    static double* G(CVRNUnconstrainedMinimization& e) { return e.m_pGrad; }
    static int N(CVRNUnconstrainedMinimization& e) { return e.m_nParameters; }
    static void Write(CVRNUnconstrainedMinimization& e, double* v, int n, const std::string& path) {
        e.WriteToFile(v, n, CString(path.c_str()));
    }
    static void Write(CVRNUnconstrainedMinimization& e, CMatrix& m, const std::string& path) {
        e.WriteToFile(m, CString(path.c_str()));
    }
};

using CheckProbe = CVRNEngineProbe<CheckProbeTag>;

namespace {

std::vector<std::string> Rows(CVRNStatusView& view) {
    std::vector<std::string> rows;
    for (int i = 0; i < view.GetRowCount(); ++i)
        rows.emplace_back(view.GetRowText(i));
    return rows;
}

std::string Formatted(int i, double a, double b) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%d  %lf  %lf", i, a, b);
    return buf;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path) {
    std::ifstream in(path);
    return in.good();
}

const char* const kGradientWarning = "There appears to be an error in the coding of the Gradient method.";
const char* const kGradientHeader = "Component   Analytic   Finite Difference";
const char* const kHessianWarning = "There appears to be an error in the coding of the Hessian method.";
const char* const kHessianHeader = "Row   Column   Analytic   Finite Difference";

// ---------------------------------------------------------------- gradient check

TEST(GradientCheck, CorrectGradientsPrintNothing) {
    for (const char* name : {"rosenbrock", "wood", "powell", "beale", "helical", "quadratic"}) {
        FaultyProblem problem(golden::MakeTestProblem(name));
        CVRNUnconstrainedMinimization e;
        CVRNStatusView view;
        e.SetStatusView(&view);
        CheckProbe::Prepare(e, &problem, true);
        CheckProbe::CheckGradient(e);
        EXPECT_TRUE(Rows(view).empty()) << name;
    }
}

TEST(GradientCheck, OneWrongComponentPrintsWarningHeaderAndEveryComponent) {
    FaultyProblem problem(std::make_unique<golden::Wood>());
    problem.gradIndex = 2;
    problem.gradError = 1000.0;
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    CheckProbe::Prepare(e, &problem, true);
    std::vector<double> before(CheckProbe::G(e), CheckProbe::G(e) + 4);
    CheckProbe::CheckGradient(e);

    std::vector<double> d;
    CheckProbe::ForwardGradient(e, d);
    const std::vector<std::string> rows = Rows(view);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], kGradientWarning);
    EXPECT_EQ(rows[1], kGradientHeader);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rows[static_cast<size_t>(2 + i)], Formatted(i, before[i], d[i])) << i;
    // The analytic values stay in use.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(CheckProbe::G(e)[i], before[i]);
}

TEST(GradientCheck, LargeObjectiveValueRelaxesTheTest) {
    // At x0 = (-1, 2, 0.5), s_i = max(|f|, 1)/max(|x_i|, typsiz_i); an error of 5 in
    // g_0 is far outside 0.01*max(|g_0|, s_0) for f = 37.75 but inside it for f ~ 1e6.
    auto make = [](double offset) {
        auto p = std::make_unique<FaultyProblem>(std::make_unique<golden::Quadratic3>());
        p->offset = offset;
        p->gradIndex = 0;
        p->gradError = 5.0;
        return p;
    };
    for (double offset : {0.0, 1e6}) {
        auto problem = make(offset);
        CVRNUnconstrainedMinimization e;
        CVRNStatusView view;
        e.SetStatusView(&view);
        CheckProbe::Prepare(e, problem.get(), true);
        CheckProbe::CheckGradient(e);
        EXPECT_EQ(Rows(view).empty(), offset != 0.0) << offset;
    }
}

TEST(GradientCheck, NaNInTheAnalyticGradientIsReported) {
    FaultyProblem problem(std::make_unique<golden::Rosenbrock>());
    problem.gradIndex = 1;
    problem.gradError = std::numeric_limits<double>::quiet_NaN();
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    CheckProbe::Prepare(e, &problem, true);
    CheckProbe::CheckGradient(e);
    const std::vector<std::string> rows = Rows(view);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], kGradientWarning);
}

TEST(GradientCheck, WithoutStatusViewAMismatchHasNoVisibleEffect) {
    FaultyProblem problem(std::make_unique<golden::Wood>());
    problem.gradIndex = 0;
    problem.gradError = 100.0;
    CVRNUnconstrainedMinimization e;
    CheckProbe::Prepare(e, &problem, true);
    std::vector<double> x(CheckProbe::X(e), CheckProbe::X(e) + 4);
    CheckProbe::CheckGradient(e);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(CheckProbe::X(e)[i], x[i]);
}

// ---------------------------------------------------------------- Hessian check

struct HessianCase {
    bool gradientFlag;
};

class HessianCheck : public ::testing::TestWithParam<HessianCase> {};

TEST_P(HessianCheck, CorrectHessiansPrintNothing) {
    for (const char* name : {"rosenbrock", "wood", "powell", "beale", "quadratic"}) {
        FaultyProblem problem(golden::MakeTestProblem(name));
        CVRNUnconstrainedMinimization e;
        CVRNStatusView view;
        e.SetStatusView(&view);
        CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
        CheckProbe::CheckHessian(e);
        EXPECT_TRUE(Rows(view).empty()) << name;
    }
}

TEST_P(HessianCheck, WrongOffDiagonalElementPrintsTheWarning) {
    FaultyProblem problem(std::make_unique<golden::Wood>());
    problem.hessRow = 3;
    problem.hessCol = 1;
    problem.hessError = 100.0;
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
    // As in a run: the matrix already holds the (faulty) analytic Hessian, so an
    // upper triangle left untouched by the estimate would agree with it.
    problem.Hessian(CheckProbe::X(e), e.GetHessian());
    CheckProbe::CheckHessian(e);
    const std::vector<std::string> rows = Rows(view);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], kHessianWarning);
    EXPECT_EQ(rows[1], kHessianHeader);
}

TEST_P(HessianCheck, WrongDiagonalElementPrintsTheWarning) {
    FaultyProblem problem(std::make_unique<golden::Rosenbrock>());
    problem.hessRow = 1;
    problem.hessCol = 1;
    problem.hessError = 20.0;
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
    CheckProbe::CheckHessian(e);
    const std::vector<std::string> rows = Rows(view);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], kHessianWarning);
}

TEST_P(HessianCheck, UpperTriangleIsNotJudged) {
    // Only the lower triangle and the diagonal of an analytic Hessian are used.
    FaultyProblem problem(std::make_unique<golden::Rosenbrock>());
    problem.hessRow = 0;
    problem.hessCol = 1;
    problem.hessError = 1000.0;
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.SetStatusView(&view);
    CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
    CheckProbe::CheckHessian(e);
    EXPECT_TRUE(Rows(view).empty());
}

TEST_P(HessianCheck, EngineHoldsTheAnalyticHessianAfterwards) {
    for (double error : {0.0, 7.0}) {
        FaultyProblem problem(std::make_unique<golden::PowellSingular>());
        problem.hessRow = 2;
        problem.hessCol = 0;
        problem.hessError = error;
        CVRNUnconstrainedMinimization e;
        CVRNStatusView view;
        e.SetStatusView(&view);
        CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
        CheckProbe::CheckHessian(e);
        EXPECT_EQ(Rows(view).empty(), error == 0.0);
        CMatrix expected(4, 4);
        problem.Hessian(CheckProbe::X(e), expected);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(e.GetHessian()[i][j], expected[i][j]) << i << "," << j;
    }
}

TEST_P(HessianCheck, WithoutStatusViewTheAnalyticHessianIsStillLoaded) {
    FaultyProblem problem(std::make_unique<golden::Wood>());
    problem.hessRow = 1;
    problem.hessCol = 0;
    problem.hessError = 50.0;
    CVRNUnconstrainedMinimization e;
    CheckProbe::Prepare(e, &problem, GetParam().gradientFlag);
    CheckProbe::CheckHessian(e);
    CMatrix expected(4, 4);
    problem.Hessian(CheckProbe::X(e), expected);
    EXPECT_EQ(e.GetHessian()[1][0], expected[1][0]);
    EXPECT_EQ(e.GetHessian()[0][0], expected[0][0]);
}

INSTANTIATE_TEST_SUITE_P(Estimates, HessianCheck, ::testing::Values(HessianCase{true}, HessianCase{false}),
                         [](const ::testing::TestParamInfo<HessianCase>& info) {
                             return info.param.gradientFlag ? std::string("FromGradients")
                                                            : std::string("FromValues");
                         });

// ---------------------------------------------------------------- within a run

// Rows of a method-1 run with analytic derivatives, checks switched as given.
std::vector<std::string> RunRows(FaultyProblem& problem, bool checkGradient, bool checkHessian) {
    CVRNUnconstrainedMinimization e;
    CVRNStatusView view;
    e.Default();
    e.SetImplementationOptions(true, true, false);
    e.EnableGradientHessianCheck(checkGradient, checkHessian);
    e.SetStatusView(&view);
    e.Minimize(&problem, 1.0, 10000, 1);
    return Rows(view);
}

TEST(DerivativeChecksInARun, CorrectDerivativesLeaveTheLogUnchanged) {
    FaultyProblem problem(std::make_unique<golden::Rosenbrock>());
    EXPECT_EQ(RunRows(problem, true, true), RunRows(problem, false, false));
}

TEST(DerivativeChecksInARun, WarningsFollowTheInitialErrorAndTheRunGoesOn) {
    FaultyProblem problem(std::make_unique<golden::Rosenbrock>());
    problem.gradIndex = 0;
    problem.gradError = 50.0;
    problem.hessRow = 1;
    problem.hessCol = 0;
    problem.hessError = 300.0;
    const std::vector<std::string> rows = RunRows(problem, true, true);
    size_t initial = 0;
    while (initial < rows.size() && rows[initial].rfind("Initial Error", 0) != 0)
        ++initial;
    ASSERT_LT(initial + 6, rows.size());
    EXPECT_EQ(rows[initial + 1], kGradientWarning);
    EXPECT_EQ(rows[initial + 2], kGradientHeader);
    EXPECT_EQ(rows[initial + 3].rfind("0  ", 0), 0u);
    EXPECT_EQ(rows[initial + 4].rfind("1  ", 0), 0u);
    EXPECT_EQ(rows[initial + 5], kHessianWarning);
    EXPECT_EQ(rows[initial + 6], kHessianHeader);
    // Each check reports once per run.
    size_t warnings = 0;
    for (const std::string& r : rows)
        warnings += r == kGradientWarning || r == kHessianWarning;
    EXPECT_EQ(warnings, 2u);
}

// ---------------------------------------------------------------- dumps

class WriteToFileTest : public ::testing::Test {
protected:
    std::string Path(const char* name) { return ::testing::TempDir() + "vrn_dump_" + name; }
    CVRNUnconstrainedMinimization e;
};

TEST_F(WriteToFileTest, VectorOneValuePerLine) {
    double v[3] = {1.5, -2.25, 1234.000000000000001};
    const std::string path = Path("vector.txt");
    CheckProbe::Write(e, v, 3, path);
    EXPECT_EQ(ReadFile(path), "   1.500000000000000\n  -2.250000000000000\n1234.000000000000000\n");
    std::remove(path.c_str());
}

TEST_F(WriteToFileTest, MatrixRowsAreCommaSeparatedWithoutTrailingComma) {
    CMatrix m(2, 3);
    m[0][0] = 1.0;
    m[0][1] = -0.5;
    m[0][2] = 3.25;
    m[1][0] = 0.0;
    m[1][1] = 1e-16;
    m[1][2] = -12.125;
    const std::string path = Path("matrix.txt");
    CheckProbe::Write(e, m, path);
    EXPECT_EQ(ReadFile(path), "   1.000000000000000,  -0.500000000000000,   3.250000000000000\n"
                              "   0.000000000000000,   0.000000000000000, -12.125000000000000\n");
    std::remove(path.c_str());
}

TEST_F(WriteToFileTest, ExistingFileIsReplaced) {
    const std::string path = Path("replace.txt");
    {
        std::ofstream out(path);
        out << "old contents that are longer than the new ones\n";
    }
    double v[1] = {2.0};
    CheckProbe::Write(e, v, 1, path);
    EXPECT_EQ(ReadFile(path), "   2.000000000000000\n");
    std::remove(path.c_str());
}

TEST_F(WriteToFileTest, MatrixWithoutColumnsWritesAnEmptyFile) {
    for (int rows : {0, 3}) {
        CMatrix m(rows, 0);
        const std::string path = Path("empty.txt");
        {
            std::ofstream out(path);
            out << "stale\n";
        }
        CheckProbe::Write(e, m, path);
        EXPECT_TRUE(FileExists(path));
        EXPECT_EQ(ReadFile(path), "") << rows;
        std::remove(path.c_str());
    }
}

TEST_F(WriteToFileTest, EmptyVectorWritesAnEmptyFile) {
    const std::string path = Path("emptyvec.txt");
    CheckProbe::Write(e, nullptr, 0, path);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFile(path), "");
    std::remove(path.c_str());
}

TEST_F(WriteToFileTest, UnopenablePathIsSkippedSilently) {
    const std::string path = ::testing::TempDir() + "vrn_no_such_dir/sub/out.txt";
    double v[2] = {1.0, 2.0};
    CheckProbe::Write(e, v, 2, path);
    CMatrix m(2, 2);
    CheckProbe::Write(e, m, path);
    EXPECT_FALSE(FileExists(path));
}

} // namespace
