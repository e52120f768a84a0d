// vrnmath fit: runs the built program on CSV files and checks the fit, its JSON and the
// one-line refusals of bad data (exit 2).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/apps/ProgramRunner.h"

namespace {

using Outcome = program::Run;

Outcome Fit(std::vector<std::string> args) {
    args.insert(args.begin(), "fit");
    return program::Start(args);
}

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name + "_" + std::to_string(getpid()) + ".csv";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// y = 5 exp(-0.7 t) + 1.5, exact, with a sigma column.
std::string DecayCsv() {
    std::string s = "t, p ,s\n";
    for (int i = 0; i < 30; i++) {
        const double t = 0.25 * i;
        char row[128];
        std::snprintf(row, sizeof row, "%.17g,%.17g,0.1\n", t,
                      5.0 * std::exp(-0.7 * t) + 1.5 + 0.01 * std::sin(13.0 * t));
        s += row;
    }
    return s;
}

TEST(FitCommand, FitsAndPrintsParametersWithErrors) {
    const std::string csv = WriteFile("decay", DecayCsv());
    const Outcome o =
        Fit({"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--p0", "a=1,b=0.1,c=0"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("Success:      yes"), std::string::npos);
    EXPECT_NE(o.out.find("residual sd"), std::string::npos);
    EXPECT_NE(o.out.find("std error"), std::string::npos);
    EXPECT_TRUE(o.err.empty());
}

TEST(FitCommand, JsonHasParametersCovarianceAndVerdict) {
    const std::string csv = WriteFile("decay_json", DecayCsv());
    const Outcome rel = Fit({"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--sigma",
                             "s", "--p0", "a=4,b=1", "--json"});
    ASSERT_EQ(rel.status, 0) << rel.out << rel.err;
    const auto j = nlohmann::json::parse(rel.out);
    EXPECT_NEAR(j["parameters"]["a"]["value"].get<double>(), 5.0, 0.05);
    EXPECT_NEAR(j["parameters"]["b"]["value"].get<double>(), 0.7, 0.01);
    EXPECT_NEAR(j["parameters"]["c"]["value"].get<double>(), 1.5, 0.02);
    EXPECT_TRUE(j["success"].get<bool>());
    EXPECT_EQ(j["dof"].get<int>(), 27);
    EXPECT_EQ(j["rows"].get<int>(), 30);
    const double se = j["parameters"]["b"]["stderr"].get<double>();
    EXPECT_NEAR(se * se, j["covariance"][1][1].get<double>(), 1e-12);
    EXPECT_DOUBLE_EQ(j["correlation"][0][0].get<double>(), 1.0);
    // Absolute sigma: the covariance is not scaled by s^2 = residual_sd^2.
    const Outcome abs = Fit({"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--sigma",
                             "s", "--absolute-sigma", "--p0", "a=4,b=1", "--json"});
    ASSERT_EQ(abs.status, 0) << abs.err;
    const auto k = nlohmann::json::parse(abs.out);
    const double s2 = std::pow(j["residual_sd"].get<double>(), 2);
    EXPECT_NEAR(k["covariance"][1][1].get<double>() * s2, j["covariance"][1][1].get<double>(),
                1e-6 * j["covariance"][1][1].get<double>());
}

TEST(FitCommand, UnidentifiableParametersAreNamed) {
    const std::string csv = WriteFile("product", "x,y\n1,2.1\n2,3.9\n3,6.2\n4,8.1\n5,9.8\n");
    const Outcome o = Fit({"--model", "a*b*x+c", "--data", csv, "--x", "x", "--y", "y", "--json"});
    const auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["undetermined"], nlohmann::json({"a", "b"}));
    EXPECT_TRUE(j["parameters"]["a"]["stderr"].is_null());
    EXPECT_EQ(o.status, 1);
}

struct BadCase {
    const char* name;
    std::string csv;
    std::vector<std::string> extra;
    const char* phrase;
};

TEST(FitCommand, BadDataGivesOneLineAndExitTwo) {
    const std::vector<BadCase> cases = {
        {"missing", "t,q\n1,2\n2,3\n3,4\n4,5\n", {}, "no column 'p'"},
        {"nonnumeric", "t,p\n1,2\n2,abc\n3,4\n4,5\n", {}, "line 3, column 'p': 'abc' is not a finite number"},
        {"short", "t,p\n1,2\n2\n3,4\n4,5\n", {}, "line 3: no cell in column 'p'"},
        {"few", "t,p\n1,2\n2,3\n", {}, "2 data rows for 3 parameters"},
        {"empty", "", {}, "no header line"},
        {"sigma", "t,p,s\n1,2,1\n2,3,0\n3,4,1\n4,5,1\n", {"--sigma", "s"}, "must hold numbers above 0"},
        {"p0", "t,p\n1,2\n2,3\n3,4\n4,5\n", {"--p0", "z=1"}, "'z', which is not a parameter"},
        {"method", "t,p\n1,2\n2,3\n3,4\n4,5\n", {"--method", "trf"}, "--method must be hook or dogleg"},
        {"loss", "t,p\n1,2\n2,3\n3,4\n4,5\n", {"--loss", "l1"}, "--loss must be"},
        {"ftol", "t,p\n1,2\n2,3\n3,4\n4,5\n", {"--ftol", "2"}, "ftol must be"},
        {"start", "t,p\n1,2\n2,3\n3,4\n4,5\n", {"--p0", "b=-1000"}, "not finite at the start point"},
    };
    for (const BadCase& c : cases) {
        const std::string csv = WriteFile(std::string("bad_") + c.name, c.csv);
        std::vector<std::string> args = {"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome o = Fit(args);
        EXPECT_EQ(o.status, 2) << c.name << ": " << o.out << o.err;
        EXPECT_NE(o.err.find(c.phrase), std::string::npos) << c.name << ": " << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << c.name << ": " << o.err;
        EXPECT_EQ(o.err.rfind("vrnmath fit: ", 0), 0u) << o.err;
    }
    const Outcome missing = Fit({"--model", "a*t", "--data", "/nonexistent/x.csv", "--x", "t", "--y", "p"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST(FitCommand, ParametersAreFoundInTheFormula) {
    // Exponents of numbers, function names and constants are not parameters; k0 and k_1 are.
    const std::string csv = WriteFile("names", "x,y\n1,1\n2,1.5\n3,1.8\n4,2.1\n5,2.2\n6,2.4\n");
    const Outcome o =
        Fit({"--model", "k0*log(x + 1e-3) + k_1*_pi*1E+0", "--data", csv, "--x", "x", "--y", "y", "--json"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const auto j = nlohmann::json::parse(o.out);
    ASSERT_EQ(j["parameters"].size(), 2u) << o.out;
    EXPECT_TRUE(j["parameters"].contains("k0"));
    EXPECT_TRUE(j["parameters"].contains("k_1"));
}

} // namespace

namespace {

TEST(FitCommand, ReportHasTheTableAndBothPlots) {
    const std::string csv = WriteFile("decay_report", DecayCsv());
    const std::string page = ::testing::TempDir() + "fit_report_" + std::to_string(getpid()) + ".html";
    const Outcome o = Fit({"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--p0",
                           "a=4,b=1", "--report", page});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const std::string html = program::Slurp(page);
    std::remove(page.c_str());
    size_t svgs = 0;
    for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1))
        svgs++;
    EXPECT_EQ(svgs, 2u);
    EXPECT_NE(html.find("<h2>Data and fit</h2>"), std::string::npos);
    EXPECT_NE(html.find("<h2>Residuals</h2>"), std::string::npos);
    EXPECT_NE(html.find("<td>b</td>"), std::string::npos);
    EXPECT_NE(html.find("<polyline"), std::string::npos);
    EXPECT_NE(o.out.find("Report:       " + page), std::string::npos);
    // An unwritable report is named, and the run is not a success.
    const Outcome bad = Fit({"--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--p0",
                             "a=4,b=1", "--report", "/nonexistent-dir/r.html"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("cannot write the report"), std::string::npos) << bad.out;
}

} // namespace
