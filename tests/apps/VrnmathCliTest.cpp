// Runs the built vrnmath program and checks its output and exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

struct Outcome {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Outcome RunProgram(const std::vector<std::string>& args) {
#ifndef VRNMATH_EXE
    (void)args;
    return {};
#else
    const std::string base = ::testing::TempDir() + "vrnmath_cli_" + std::to_string(getpid());
    std::string cmd = Quoted(VRNMATH_EXE);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += Quoted(a);
    }
    cmd += " >";
    cmd += Quoted(base + ".out");
    cmd += " 2>";
    cmd += Quoted(base + ".err");
    cmd += " </dev/null";
    const int raw = std::system(cmd.c_str());
    Outcome o;
    o.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    o.out = Slurp(base + ".out");
    o.err = Slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return o;
#endif
}

int Lines(const std::string& s) {
    int n = 0;
    for (char c : s)
        n += c == '\n' ? 1 : 0;
    return n;
}

bool Contains(const std::string& s, const std::string& what) {
    return s.find(what) != std::string::npos;
}

class VrnmathProgram : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef VRNMATH_EXE
        GTEST_SKIP() << "the vrnmath program is not built";
#endif
    }

    // A usage error: exit 2, one line on stderr that says what is wrong, nothing on stdout.
    void ExpectUsageError(const std::vector<std::string>& args, const std::string& says) {
        const Outcome o = RunProgram(args);
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_EQ(Lines(o.err), 1) << o.err;
        EXPECT_TRUE(Contains(o.err, says)) << o.err;
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
};

} // namespace

TEST_F(VrnmathProgram, FormulaConvergesToItsMinimum) {
    const Outcome o =
        RunProgram({"minimize", "--f", "(x-3)^2+2*(y+1)^2+(x-3)*(y+1)", "--x0", "x=0,y=0", "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    const nlohmann::json j = nlohmann::json::parse(o.out);
    EXPECT_TRUE(j["code"] == 1 || j["code"] == 2);
    EXPECT_TRUE(j["success"].get<bool>());
    ASSERT_EQ(j["x"].size(), 2u);
    EXPECT_NEAR(j["x"][0].get<double>(), 3.0, 1e-4);
    EXPECT_NEAR(j["x"][1].get<double>(), -1.0, 1e-4);
    EXPECT_LT(j["f"].get<double>(), 1e-7);
    EXPECT_EQ(j["variables"], (nlohmann::json{"x", "y"}));
}

// The quartic term is flat: the engine's relative gradient test passes at the default
// gradient tolerance once 4|y+1|^3 is that small, with |y+1| of about 0.01, where a
// Newton step would still lower f by more than the verdict allows. The run says so and
// names the setting; following the advice gets there.
TEST_F(VrnmathProgram, FlatMinimumAsksForATighterGradientTolerance) {
    const Outcome o = RunProgram({"minimize", "--f", "(x-3)^2+(y+1)^4", "--x0", "x=0,y=0", "--json"});
    ASSERT_EQ(o.status, 1) << o.err;
    const nlohmann::json j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["code"], 1);
    EXPECT_FALSE(j["success"].get<bool>());
    EXPECT_EQ(j["outcome"], "not-converged");
    EXPECT_GT(j["verdict"]["decrease"].get<double>(), j["verdict"]["allowed"].get<double>());
    EXPECT_NEAR(j["x"][1].get<double>(), -1.0, 0.02);
    ASSERT_EQ(j["warnings"].size(), 1u);
    const std::string advice = j["warnings"][0].get<std::string>();
    const std::string lead = "give a smaller --gradtol (about ";
    const size_t at = advice.find(lead);
    ASSERT_NE(at, std::string::npos) << advice;
    const size_t from = at + lead.size();
    const std::string suggested = advice.substr(from, advice.find(')', from) - from);
    const Outcome followed = RunProgram(
        {"minimize", "--f", "(x-3)^2+(y+1)^4", "--x0", "x=0,y=0", "--gradtol", suggested, "--json"});
    EXPECT_EQ(followed.status, 0) << suggested << followed.out;
}

TEST_F(VrnmathProgram, TighterGradientToleranceGetsCloser) {
    const Outcome o =
        RunProgram({"minimize", "--f", "(x-3)^2+(y+1)^4", "--x0", "x=0,y=0", "--gradtol", "1e-12", "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    const nlohmann::json j = nlohmann::json::parse(o.out);
    EXPECT_NEAR(j["x"][0].get<double>(), 3.0, 1e-6);
    EXPECT_NEAR(j["x"][1].get<double>(), -1.0, 1e-3);
}

TEST_F(VrnmathProgram, JsonHoldsTheResultAndNothingElse) {
    const Outcome o =
        RunProgram({"minimize", "--problem", "rosenbrock", "--method", "1", "--itnlim", "10000", "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Lines(o.out), 1);
    const nlohmann::json j = nlohmann::json::parse(o.out);
    for (const char* key : {"x", "f", "success", "outcome", "status", "code", "message", "warnings",
                            "verdict", "iterations", "evaluations", "settings"})
        EXPECT_TRUE(j.contains(key)) << key;
    EXPECT_EQ(j["message"], "WARNING --- probably converged, Gradient small");
    EXPECT_EQ(j["code"], 1);
    EXPECT_EQ(j["status"], "GradientSmall");
    EXPECT_EQ(j["outcome"], "success");
    EXPECT_EQ(j["verdict"]["hessian_source"], "analytic");
    // The reference run of this problem and method; the verdict's evaluations at the end
    // point come on top.
    EXPECT_EQ(j["x"][0].get<double>(), 0.9999999992854575);
    const nlohmann::json& v = j["verdict"]["evaluations"];
    EXPECT_EQ(j["evaluations"]["f"].get<long>() - v["f"].get<long>(), 57);
    EXPECT_EQ(j["evaluations"]["gradient"].get<long>() - v["gradient"].get<long>(), 25);
    EXPECT_EQ(j["evaluations"]["hessian"].get<long>() - v["hessian"].get<long>(), 24);
    EXPECT_EQ(v["hessian"], 1);
}

TEST_F(VrnmathProgram, LogPrintsTheStatusLogThenASummary) {
    const Outcome o =
        RunProgram({"minimize", "--problem", "rosenbrock", "--method", "1", "--itnlim", "10000", "--log"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "\nInitial Error  "));
    EXPECT_TRUE(Contains(o.out, "\nIteration Number :  1\n"));
    EXPECT_TRUE(Contains(o.out, "\nLine Search Lambda="));
    const size_t log = o.out.find("WARNING --- probably converged, Gradient small\n");
    const size_t summary = o.out.find("\nSuccess:      yes");
    ASSERT_NE(log, std::string::npos);
    ASSERT_NE(summary, std::string::npos);
    EXPECT_LT(log, summary);
    EXPECT_TRUE(Contains(o.out, "\nStopped by:   the relative gradient test (code 1: \"WARNING --- probably "
                                "converged, Gradient small\")\n"));
    EXPECT_TRUE(Contains(o.out, "Iterations:   24\n"));
    // The reference run's 57/25/24, and the verdict's analytic Hessian at the end point.
    EXPECT_TRUE(Contains(o.out, "Evaluations:  f 57, gradient 25, hessian 25\n"));
}

TEST_F(VrnmathProgram, QuietLeavesOnlyTheSummary) {
    const Outcome o = RunProgram({"minimize", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(Contains(o.out, "OPTDRV"));
    EXPECT_EQ(o.out.rfind("Success:      yes: ", 0), 0u) << o.out;
    EXPECT_TRUE(Contains(o.out, "\nStopped by:   "));
    EXPECT_EQ(Lines(o.out), 9);
}

TEST_F(VrnmathProgram, DefaultOutputIsAProgressTableThenTheSummary) {
    const Outcome o =
        RunProgram({"minimize", "--problem", "rosenbrock", "--method", "1", "--itnlim", "10000"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(Contains(o.out, "OPTDRV"));
    EXPECT_EQ(o.out.rfind("k       f  ", 0), 0u) << o.out;
    EXPECT_TRUE(Contains(o.out, "lambda"));
    EXPECT_TRUE(Contains(o.out, "\n    24  ")); // one row per iteration, 0 to 24
    EXPECT_FALSE(Contains(o.out, "\n    25  "));
    EXPECT_TRUE(Contains(o.out, "57/25/24\n"));
    EXPECT_TRUE(Contains(o.out, "Iterations:   24\n"));
    EXPECT_TRUE(Contains(o.out, "\nSuccess:      yes: "));
}

TEST_F(VrnmathProgram, ToolRunsHaveOneHeaderLineEach) {
    const Outcome o = RunProgram({"minimize", "--tool"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "run 1: k "));
    EXPECT_TRUE(Contains(o.out, "\nrun 2: k "));
    EXPECT_FALSE(Contains(o.out, "run 3:"));
    EXPECT_FALSE(Contains(o.out, "OPTDRV"));
}

TEST_F(VrnmathProgram, ToolRunsRestartAndSayHowMany) {
    const Outcome o = RunProgram({"minimize", "--tool", "--method", "3", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "Runs:         2\n"));
    // The reference runs' 50/24/22, and the verdict's analytic Hessian at the end point.
    EXPECT_TRUE(Contains(o.out, "Evaluations:  f 50, gradient 24, hessian 23\n"));
}

TEST_F(VrnmathProgram, StepModePrintsEveryAcceptedPoint) {
    const Outcome o = RunProgram({"minimize", "--problem", "beale", "--method", "1", "--step", "--quiet"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "Step 1: f = "));
    EXPECT_TRUE(Contains(o.out, "Step 7: f = 2.756354553102582e-15, x = ("));
    EXPECT_FALSE(Contains(o.out, "Step 8:"));
}

TEST_F(VrnmathProgram, MethodFourOnAFormulaUsesDifferenceGradients) {
    const Outcome o = RunProgram(
        {"minimize", "--f", "100*(y-x^2)^2+(1-x)^2", "--x0", "x=-1.2,y=1", "--method", "4", "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    const nlohmann::json j = nlohmann::json::parse(o.out);
    EXPECT_NEAR(j["x"][0].get<double>(), 1.0, 1e-3);
    EXPECT_NEAR(j["x"][1].get<double>(), 1.0, 1e-3);
    EXPECT_EQ(j["evaluations"]["gradient"], 0);
}

TEST_F(VrnmathProgram, GradientCheckOfCorrectDerivativesPrintsNoWarning) {
    const Outcome o = RunProgram({"minimize", "--problem", "wood", "--check-gradient", "--check-hessian"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(Contains(o.out, "There appears to be an error"));
}

TEST_F(VrnmathProgram, RunThatDoesNotConvergeExitsOne) {
    const Outcome o = RunProgram({"minimize", "--itnlim", "2", "--quiet"});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_TRUE(
        Contains(o.out, "Stopped by:   the iteration limit (code 4: \"WARNING --- too many iterations\")"));
    EXPECT_EQ(o.out.rfind("Success:      no (iteration-limit): ", 0), 0u) << o.out;
    EXPECT_TRUE(Contains(o.out, "raise --itnlim"));
}

TEST_F(VrnmathProgram, HelpDocumentsEveryOptionWithItsDefault) {
    const char* options[] = {"--problem",
                             "--f",
                             "--x0",
                             "--method",
                             "--gradient",
                             "--hessian",
                             "--expensive",
                             "--check-gradient",
                             "--check-hessian",
                             "--itnlim",
                             "--typsiz",
                             "--gradtol",
                             "--steptol",
                             "--maxstep",
                             "--trust-radius",
                             "--ndigit",
                             "--cgtol",
                             "--msg",
                             "--typf",
                             "--tool",
                             "--step",
                             "--json",
                             "--quiet",
                             "--threads",
                             "--log"};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"minimize", "--help"}}) {
        const Outcome o = RunProgram(args);
        ASSERT_EQ(o.status, 0);
        for (const char* opt : options) {
            const size_t at = o.out.find(std::string("  ") + opt + " ");
            ASSERT_NE(at, std::string::npos) << opt;
            const size_t end = o.out.find('\n', at);
            EXPECT_TRUE(Contains(o.out.substr(at, end - at), "Default:")) << opt;
        }
    }
}

TEST_F(VrnmathProgram, MalformedFormulasAreUsageErrors) {
    ExpectUsageError({"minimize", "--f", "(x-3)^2+", "--x0", "x=0"}, "cannot parse formula");
    ExpectUsageError({"minimize", "--f", "sin(x", "--x0", "x=0"}, "cannot parse formula");
    ExpectUsageError({"minimize", "--f", "2x", "--x0", "x=0"}, "cannot parse formula");
    ExpectUsageError({"minimize", "--f", "", "--x0", "x=0"}, "empty");
    ExpectUsageError({"minimize", "--f", "(x-3)^2+(z+1)^4", "--x0", "x=0,y=0"}, "unknown variable 'z'");
}

TEST_F(VrnmathProgram, BadStartPointsAreUsageErrors) {
    ExpectUsageError({"minimize", "--f", "x^2", "--x0", "x=abc"}, "malformed number 'abc'");
    ExpectUsageError({"minimize", "--f", "x^2", "--x0", "x=1,x=2"}, "given twice");
    ExpectUsageError({"minimize", "--f", "x^2", "--x0", "1"}, "named");
    ExpectUsageError({"minimize", "--f", "x^2"}, "--x0");
    ExpectUsageError({"minimize", "--x0", "one,two"}, "malformed number 'one'");
    ExpectUsageError({"minimize", "--x0", "nan,1"}, "malformed number 'nan'");
    ExpectUsageError({"minimize", "--x0", "1,2,3"}, "has 2 parameters");
    ExpectUsageError({"minimize", "--x0", "x=1,y=2"}, "plain values");
}

TEST_F(VrnmathProgram, UnknownOptionsAndValuesAreUsageErrors) {
    ExpectUsageError({"minimize", "--bogus"}, "--bogus");
    ExpectUsageError({"frobnicate"}, "frobnicate");
    ExpectUsageError({}, "subcommand");
    ExpectUsageError({"minimize", "--problem", "nope"}, "unknown problem 'nope'");
    ExpectUsageError({"minimize", "--method", "7"}, "--method");
    ExpectUsageError({"minimize", "--method", "three"}, "--method must be 1, 2, 3 or 4 (or 'line-search'");
    ExpectUsageError({"minimize", "--itnlim", "2.5"}, "--itnlim must be a whole number (got '2.5')");
    ExpectUsageError({"minimize", "--itnlim", "ten"}, "--itnlim must be a whole number (got 'ten')");
    ExpectUsageError({"minimize", "--gradtol", "small"}, "--gradtol must be a number (got 'small')");
    ExpectUsageError({"minimize", "--typsiz", "1"}, "--typsiz");
    ExpectUsageError({"minimize", "--gradient", "exact"}, "unknown value 'exact'");
    ExpectUsageError({"minimize", "--f", "x^2", "--x0", "x=1", "--hessian", "analytic"}, "not available");
    ExpectUsageError({"minimize", "--tool", "--step"}, "either --tool or --step");
    ExpectUsageError({"minimize", "--step", "--method", "4"}, "methods 1 to 3");
    ExpectUsageError({"minimize", "--tool", "--itnlim", "5"}, "--itnlim is not used with the tool driver");
    ExpectUsageError({"minimize", "--tool", "--typf", "2"}, "--typf is not used with the tool driver");
    ExpectUsageError({"minimize", "--step", "--typf", "2"}, "--typf is not used with the step driver");
    ExpectUsageError({"minimize", "--driver", "tool", "--tool"}, "either --driver or --tool");
    ExpectUsageError({"minimize", "--driver", "loop"}, "--driver must be engine, tool or step");
    ExpectUsageError({"minimize", "--expensive", "--hessian", "fd"},
                     "--hessian is not used with --expensive");
    ExpectUsageError({"minimize", "--expensive", "--hessian", "analytic"},
                     "--hessian is not used with --expensive");
    ExpectUsageError({"minimize", "--method", "4", "--hessian", "analytic"},
                     "--hessian is not used by method 4");
    ExpectUsageError({"minimize", "--gradient", "fd", "--check-gradient"}, "--check-gradient");
    ExpectUsageError({"minimize", "--method", "4", "--check-gradient"}, "--check-gradient");
    ExpectUsageError({"minimize", "--expensive", "--check-hessian"}, "--check-hessian");
    ExpectUsageError({"minimize", "--problem", "wood", "--f", "x^2", "--x0", "x=1"},
                     "either --problem or --f");
}

// muParser's '=' stores into a variable; a formula that assigns is refused
// wherever the assignment stands, and so is a list of several expressions.
TEST_F(VrnmathProgram, FormulasThatAssignOrGiveSeveralValuesAreUsageErrors) {
    struct Case {
        const char* formula;
        const char* x0;
        const char* says;
    };
    const Case cases[] = {
        {"x=2", "x=0", "assigns to a variable"},
        {"x=x+1", "x=0", "assigns to a variable"},
        {"(x=2)*0+y^2", "x=0,y=1", "assigns to a variable"},
        {"y>0 ? (x-1)^2 : (x=3)", "x=0,y=1", "assigns to a variable"}, // branch not taken at the start
        {"x^2, y^2", "x=1,y=1", "single expression"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        ExpectUsageError({"minimize", "--f", c.formula, "--x0", c.x0}, c.says);
    }
    // Comparisons stay formulas.
    const Outcome o = RunProgram({"minimize", "--f", "(x-1)^2 + (x==5)", "--x0", "x=0", "--json"});
    EXPECT_EQ(o.status, 0) << o.err;
}

// Messages that echo a formula cut it: one short line however long the input.
TEST_F(VrnmathProgram, LongFormulasAreCutInErrorMessages) {
    std::string sum = "x";
    while (sum.size() < 100000)
        sum += "+x";
    std::string assigning = "x=x";
    while (assigning.size() < 15000)
        assigning += "+1";
    struct Case {
        std::string formula;
        const char* says;
    };
    const Case cases[] = {
        {sum + "+", "cannot parse formula"},
        {sum.substr(0, 15000) + "*(", "cannot parse formula"},
        {assigning, "assigns to a variable"},
        {"x+" + std::string(15000, 'z'), "unknown variable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Outcome o = RunProgram({"minimize", "--f", c.formula, "--x0", "x=0"});
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(Lines(o.err), 1);
        EXPECT_TRUE(Contains(o.err, c.says)) << o.err.substr(0, 300);
        EXPECT_LT(o.err.size(), 600U) << o.err.substr(0, 300);
        EXPECT_TRUE(o.out.empty());
    }
}

// The output without the run time, which differs from run to run, and the thread count,
// which the settings list: the "time_s" member and the "Evaluation threads" setting of
// the JSON, and the summary's "Time:" line.
std::string WithoutRunTime(const std::string& out) {
    std::string kept;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Time:", 0) == 0)
            continue;
        if (line.rfind("{", 0) == 0) {
            nlohmann::json j = nlohmann::json::parse(line);
            j.erase("time_s");
            nlohmann::json settings = nlohmann::json::array();
            for (const auto& s : j["settings"])
                if (s["name"] != "Evaluation threads")
                    settings.push_back(s);
            j["settings"] = settings;
            line = j.dump();
        }
        kept += line + "\n";
    }
    return kept;
}

TEST_F(VrnmathProgram, EvaluationThreadsPrintTheSameResult) {
    const std::vector<std::vector<std::string>> runs = {
        {"minimize", "--f", "(x-3)^2+(y+1)^4+x*y", "--x0", "x=0,y=0", "--json"},
        {"minimize", "--problem", "wood", "--gradient", "fd", "--hessian", "fd", "--json"},
        {"minimize", "--problem", "extrosenbrock", "--gradient", "analytic", "--hessian", "fd", "--method",
         "2"},
    };
    for (const auto& args : runs) {
        const Outcome one = RunProgram(args);
        ASSERT_EQ(one.status, 0) << one.err;
        for (const char* k : {"1", "2", "3"}) {
            std::vector<std::string> threaded = args;
            threaded.push_back("--threads");
            threaded.push_back(k);
            const Outcome many = RunProgram(threaded);
            EXPECT_EQ(many.status, 0) << many.err;
            EXPECT_EQ(WithoutRunTime(many.out), WithoutRunTime(one.out)) << k << " threads";
        }
    }
}

TEST_F(VrnmathProgram, BadThreadCountsAreUsageErrors) {
    ExpectUsageError({"minimize", "--threads", "0"}, "--threads must be 1 to ");
    ExpectUsageError({"minimize", "--threads", "-2"}, "--threads must be 1 to ");
    ExpectUsageError({"minimize", "--threads", "100000"}, "--threads must be 1 to ");
    ExpectUsageError({"minimize", "--threads", "two"}, "--threads");
}

// ---- The reproductions, one table: each ends in success at the true minimum, in
// no success with a warning that names the cause, or in a one-line refusal (exit 2). ----

namespace {

struct Reproduction {
    std::vector<std::string> args; // after "minimize"
    int status;                    // exit status
    double minimum;                // true minimum of f (success cases)
    std::string says;              // warning (no success) or error line (exit 2)
};

const Reproduction kReproductions[] = {
    {{"--problem", "rosenbrock", "--x0", "1e-6,1e-6"}, 0, 0.0, ""},
    {{"--f", "(x-1e6)^2", "--x0", "x=0"},
     1,
     0.0,
     "stopped at the start point: the engine's relative gradient test passed, but a Newton step"},
    {{"--f", "(x-1e6)^2", "--x0", "x=0", "--typsiz", "1e6"}, 0, 0.0, ""},
    // A constant added to f neither excuses a large gradient nor condemns a small one.
    {{"--f", "(x-3)^2+1e6", "--x0", "x=0"}, 0, 1e6, ""},
    {{"--f", "(x-3)^2+1e4", "--x0", "x=0", "--gradtol", "0.5"}, 1, 1e4, "give a smaller --gradtol"},
    {{"--f", "(x-3)^2+1e6", "--x0", "x=0", "--gradtol", "1e-12"}, 0, 1e6, ""},
    {{"--f", "(x-1)^2", "--x0", "x=1e-5"}, 0, 0.0, ""},
    {{"--f", "(x-3)^2+0*sqrt(2-x)", "--x0", "x=0"}, 1, 0.0, "f was not finite (NaN or infinite) at"},
    {{"--f", "1e12*((x-1)^2+(y-2)^2)", "--x0", "x=0,y=0"}, 0, 0.0, ""},
    {{"--problem", "wood", "--method", "4"}, 0, 0.0, ""},
    {{"--problem", "quadratic", "--tool"}, 0, 0.0, ""},
    {{"--problem", "beale", "--step", "--method", "2"}, 0, 0.0, ""},
    // Powell's minimum is singular: the default gradient tolerance stops where a Newton
    // step would still bring more than allowed; the advice names the cure.
    {{"--problem", "powell", "--check-gradient", "--check-hessian"}, 0, 0.0, ""},
    {{"--problem", "powell", "--check-gradient", "--check-hessian", "--gradtol", "1e-8"}, 0, 0.0, ""},
    {{"--f", "log(x)+x^2", "--x0", "x=-1"},
     2,
     0.0,
     "the objective is not finite at the start point (f = nan)"},
    {{"--maxstep", "-1"}, 2, 0.0, "--maxstep must be finite and greater than 0 (got -1)"},
    {{"--trust-radius", "-3"}, 2, 0.0, "--trust-radius must be finite and greater than 0 (got -3)"},
    {{"--ndigit", "40"}, 2, 0.0, "--ndigit must be 1 to 15 (got 40)"},
    {{"--typsiz", "1,-2"}, 2, 0.0, "--typsiz must hold numbers finite and greater than 0 (got -2)"},
    {{"--msg", "99"}, 2, 0.0, "--msg must be 0 to 31"},
    {{"--typf", "0"}, 2, 0.0, "--typf must be finite and greater than 0 (got 0)"},
    {{"--gradtol", "-1"}, 2, 0.0, "--gradtol must be greater than 0 and less than 1"},
    {{"--steptol", "2"}, 2, 0.0, "--steptol must be greater than 0 and less than 1"},
    {{"--method", "4", "--expensive"}, 2, 0.0, "--expensive is not used by method 4"},
    {{"--method", "4", "--hessian", "fd"}, 2, 0.0, "--hessian is not used by method 4"},
    {{"--method", "1", "--trust-radius", "2"},
     2,
     0.0,
     "--trust-radius is not used by method 1 (line search): methods 2, 3 only"},
    {{"--cgtol", "1e-8"}, 2, 0.0, "--cgtol is not used by method 2 (double dogleg): method 4 only"},
    {{"--log", "--quiet"}, 2, 0.0, "--log"},
};

} // namespace

TEST_F(VrnmathProgram, ReproductionsSucceedAtTheMinimumOrSayWhy) {
    for (const Reproduction& c : kReproductions) {
        std::vector<std::string> args = {"minimize"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string label;
        for (const std::string& a : args)
            label += a + " ";
        if (c.status == 2) {
            SCOPED_TRACE(label);
            ExpectUsageError(args, c.says);
            continue;
        }
        args.push_back("--json");
        const Outcome o = RunProgram(args);
        ASSERT_EQ(o.status, c.status) << label << o.out << o.err;
        const nlohmann::json j = nlohmann::json::parse(o.out);
        EXPECT_EQ(j["success"].get<bool>(), c.status == 0) << label;
        for (const char* key :
             {"point", "status", "gradient_norm", "initial_f", "time_s", "warnings", "checks"})
            EXPECT_TRUE(j.contains(key)) << label << key;
        if (c.status == 0) {
            EXPECT_NEAR(j["f"].get<double>(), c.minimum, 1e-6) << label;
        } else {
            bool named = false;
            for (const auto& w : j["warnings"])
                named = named || Contains(w.get<std::string>(), c.says);
            EXPECT_TRUE(named) << label << j["warnings"].dump();
        }
    }
}

// Exit status 2 for a report path that cannot be written, found before anything runs;
// 3 when the run finished but its report could not be written (the result is printed).
TEST_F(VrnmathProgram, UnwritableReportIsAUsageErrorAndAFailedWriteExitsThree) {
    ExpectUsageError({"minimize", "--quiet", "--report", "/nonexistent-folder/run.html"},
                     "cannot write the report to /nonexistent-folder/run.html: its folder");
    ExpectUsageError({"minimize", "--quiet", "--report", ::testing::TempDir()}, "it is a directory");
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full to fail a write";
    const Outcome text = RunProgram({"minimize", "--quiet", "--report", "/dev/full"});
    EXPECT_EQ(text.status, 3) << text.err;
    EXPECT_EQ(text.out.rfind("Success:      yes", 0), 0u) << text.out;
    EXPECT_TRUE(Contains(text.err, "could not write the report to /dev/full")) << text.err;
    const Outcome json = RunProgram({"minimize", "--json", "--report", "/dev/full"});
    EXPECT_EQ(json.status, 3) << json.err;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_TRUE(j["success"].get<bool>());
    ASSERT_EQ(j["output_errors"].size(), 1u);
    EXPECT_TRUE(Contains(j["output_errors"][0].get<std::string>(), "/dev/full"));
}

// Without an analytic Hessian the Hessian is kept by secant updates; --hessian fd asks
// for finite differences instead, and the settings say which ran.
TEST_F(VrnmathProgram, HessianByDifferencesOrSecantUpdates) {
    struct Case {
        std::vector<std::string> args;
        const char* derivatives;
        const char* secant;
    };
    const Case cases[] = {
        {{"--problem", "wood"}, "analytic gradient, analytic Hessian", "off"},
        {{"--problem", "wood", "--expensive"}, "analytic gradient, secant (BFGS) Hessian", "on"},
        {{"--problem", "wood", "--hessian", "fd"}, "analytic gradient, finite-difference Hessian", "off"},
        {{"--problem", "wood", "--gradient", "fd", "--hessian", "fd"},
         "finite-difference gradient, finite-difference Hessian",
         "off"},
        {{"--f", "(x-1)^2+3*(y+2)^2", "--x0", "x=0,y=0"},
         "finite-difference gradient, secant (BFGS) Hessian",
         "on"},
        {{"--f", "(x-1)^2+3*(y+2)^2", "--x0", "x=0,y=0", "--hessian", "fd"},
         "finite-difference gradient, finite-difference Hessian",
         "off"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"minimize", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.derivatives);
        const Outcome o = RunProgram(args);
        ASSERT_EQ(o.status, 0) << o.err << o.out;
        const nlohmann::json j = nlohmann::json::parse(o.out);
        EXPECT_EQ(j["derivatives"], c.derivatives);
        bool listed = false;
        for (const auto& s : j["settings"])
            if (s["name"] == "Secant (BFGS) updates") {
                EXPECT_EQ(s["value"], c.secant);
                listed = true;
            }
        EXPECT_TRUE(listed);
    }
}
