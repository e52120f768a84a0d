// vrnmath minimize --plots DIR: the six diagnostic files and the closing note.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Has(const std::string& s, const std::string& what) {
    return s.find(what) != std::string::npos;
}

class VrnmathPlots : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef VRNMATH_EXE
        GTEST_SKIP() << "the vrnmath program is not built";
#endif
        dir = fs::path(::testing::TempDir()) / ("vrnmath_plots_" + std::to_string(getpid()));
        fs::remove_all(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
    }

    Result Program(const std::string& args) {
        Result r;
#ifdef VRNMATH_EXE
        const std::string out = dir.string() + ".out", err = dir.string() + ".err";
        const std::string cmd =
            std::string("'") + VRNMATH_EXE + "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int raw = std::system(cmd.c_str());
        r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
        r.out = Read(out);
        r.err = Read(err);
        fs::remove(out);
        fs::remove(err);
#else
        (void)args;
#endif
        return r;
    }

    fs::path dir;
};

// The reference run (method 3, iteration limit 10000) and its pictures.
TEST_F(VrnmathPlots, RosenbrockWritesTheSixFilesAndSaysHowToViewThem) {
    const Result r = Program("minimize --problem rosenbrock --method 3 --itnlim 10000 --quiet --plots '" +
                             dir.string() + "/'");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"residual.svg", "gradient.svg", "parameters.svg", "hessian.svg", "hessian-map.svg", "grid.csv"}) {
        EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
        EXPECT_TRUE(Has(r.out, name)) << r.out;
    }
    EXPECT_TRUE(Has(r.out, "web browser")) << r.out;
    EXPECT_TRUE(Has(r.out, "rsvg-convert")) << r.out;

    const std::string residual = Read(dir / "residual.svg");
    EXPECT_EQ(residual.rfind("<?xml", 0), 0u);
    EXPECT_TRUE(Has(residual, ">Residual<"));
    EXPECT_TRUE(Has(residual, ">rosenbrock, method 3<"));
    EXPECT_TRUE(Has(residual, ">Iterations<"));
    EXPECT_TRUE(Has(residual, ">Residual Error<"));
    EXPECT_TRUE(Has(residual, "<line"));
    const std::string gradient = Read(dir / "gradient.svg");
    EXPECT_TRUE(Has(gradient, ">Gradient0<"));
    EXPECT_TRUE(Has(gradient, ">Gradient1<"));
    EXPECT_TRUE(Has(gradient, "stroke=\"#00e100\"")); // colour 0 of the series table
    EXPECT_TRUE(Has(Read(dir / "parameters.svg"), ">Param1<"));
    // The Hessian: numbers on a yellow diagonal, and the colour map's green and red squares.
    const std::string hessian = Read(dir / "hessian.svg");
    EXPECT_TRUE(Has(hessian, "#ffff00"));
    EXPECT_TRUE(Has(hessian, "<text"));
    const std::string map = Read(dir / "hessian-map.svg");
    EXPECT_TRUE(Has(map, "width=\"6\" height=\"6\" fill=\"#00e100\""));
    // Both Hessian pictures say what they show; the numbers are the Hessian, not its factor.
    EXPECT_TRUE(Has(map, ">Model Hessian at the end of the run (2 x 2)<"));
    EXPECT_TRUE(Has(map, ">negative<"));
    EXPECT_TRUE(Has(hessian, "not its Cholesky factor"));
    EXPECT_FALSE(Has(hessian, "28.3196")); // sqrt(802), the factor's first entry
    EXPECT_TRUE(Has(hessian, "-399.99"));

    std::istringstream grid(Read(dir / "grid.csv"));
    std::string line;
    std::getline(grid, line);
    EXPECT_EQ(line,
              "x_0,x,u_H,typsiz,Grad,Step,Scale_x,wrk_0,wrk_1,wrk_2,wrk_3,m_ErrorHistory,Grad_min,X_min");
    std::getline(grid, line);
    EXPECT_EQ(line.substr(0, 5), "-1.2,");
    int rows = 1;
    while (std::getline(grid, line))
        ++rows;
    EXPECT_GT(rows, 10); // one row per recorded iteration
}

TEST_F(VrnmathPlots, APathThatIsAFileIsAUsageError) {
    std::ofstream(dir.string()) << "x";
    const Result r = Program("minimize --problem rosenbrock --quiet --plots '" + dir.string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "not a directory")) << r.err;
    EXPECT_TRUE(r.out.empty());
    fs::remove(dir);
}

// The written residual plot covers the whole run up to the value the run ended with.
TEST_F(VrnmathPlots, ResidualPictureShowsTheWholeRunAndTheFinalValue) {
    const Result r = Program("minimize --problem rosenbrock --method 3 --itnlim 10000 --quiet --plots '" +
                             dir.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string residual = Read(dir / "residual.svg");
    // f0 = 24.2 and f = 1.3e-26 both fit: the axis runs from 1e-26 up to 100.
    EXPECT_TRUE(Has(residual, ">1e-26<")) << residual;
    EXPECT_TRUE(Has(residual, ">100<")) << residual;
    EXPECT_TRUE(Has(residual, ">0<")); // iteration 0 is on the axis
}

// One line per row: {arguments, file expected, file not expected, text in the output}.
struct PlotCase {
    const char* args;
    const char* written;
    const char* notWritten;
    const char* says;
};

class VrnmathPlotCases : public VrnmathPlots, public ::testing::WithParamInterface<PlotCase> {};

TEST_P(VrnmathPlotCases, WritesWhatItCanFillAndNamesTheRest) {
    const PlotCase& c = GetParam();
    const Result r = Program(std::string("minimize --quiet ") + c.args + " --plots '" + dir.string() + "'");
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.out << r.err;
    if (*c.written) {
        EXPECT_TRUE(fs::is_regular_file(dir / c.written)) << r.out;
    }
    if (*c.notWritten) {
        EXPECT_FALSE(fs::exists(dir / c.notWritten)) << r.out;
    }
    EXPECT_TRUE(Has(r.out, c.says)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, VrnmathPlotCases,
    ::testing::Values(PlotCase{"--problem rosenbrock --method 4", "grid.csv", "residual.svg",
                               "not written, nothing to show: residual.svg gradient.svg parameters.svg "
                               "hessian.svg hessian-map.svg"},
                      PlotCase{"--problem rosenbrock --method 4", "grid.csv", "hessian.svg", "--report FILE"},
                      PlotCase{"--problem quadratic", "residual.svg", "", "written to"},
                      PlotCase{"--problem rosenbrock --step", "residual.svg", "", "written to"}));

// Legends carry the variable names of a formula.
TEST_F(VrnmathPlots, FormulaNamesTheSeries) {
    const Result r =
        Program("minimize --quiet --f \"(a-1)^2+3*(b+2)^2\" --x0 a=0,b=0 --plots '" + dir.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string parameters = Read(dir / "parameters.svg");
    EXPECT_TRUE(Has(parameters, ">a<")) << parameters;
    EXPECT_TRUE(Has(parameters, ">b<"));
    EXPECT_FALSE(Has(parameters, ">Param0<"));
    EXPECT_TRUE(Has(Read(dir / "gradient.svg"), ">df/db<"));
}

// A single recorded point is drawn as a dot, not left invisible.
TEST_F(VrnmathPlots, StepModeFinalPointIsADot) {
    const Result r = Program("minimize --problem rosenbrock --step --quiet --plots '" + dir.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(Read(dir / "residual.svg"), "<ellipse"));
}

} // namespace
