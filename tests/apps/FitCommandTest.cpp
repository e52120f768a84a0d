// vrnmath fit: runs the built program on CSV files and checks the fit's summary, its JSON
// (the library's serialization with the command's context), its report and the one-line
// refusals of bad data and options (exit 2).
#include <gtest/gtest.h>

#include "tests/support/TextChecks.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "face/OptionTable.h"
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

using vrntest::Count;
using vrntest::Has;

// y = 5 exp(-0.7 t) + 1.5 with a small wiggle, and a sigma column.
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

const std::vector<std::string> kDecay = {"--model", "a*exp(-b*t)+c", "--x", "t", "--y", "p"};

std::vector<std::string> DecayArgs(const std::string& csv, std::vector<std::string> more) {
    std::vector<std::string> args = kDecay;
    args.insert(args.end(), {"--data", csv});
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(FitCommand, PrintsTheModelTheDataAndTheResultsSummary) {
    const std::string csv = WriteFile("decay", DecayCsv());
    const Outcome o = Fit(DecayArgs(csv, {"--p0", "a=1,b=0.1,c=0"}));
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    for (const std::string& line :
         {std::string("Model:        p = a*exp(-b*t)+c"), "Data:         " + csv + " (30 rows)",
          std::string("Success:      yes"), std::string("Stopped by:   "), std::string("Residual sd:  "),
          std::string("(dof 27)"), std::string("  a "), std::string("  b "), std::string("  c "),
          std::string(" +- ")})
        EXPECT_TRUE(Has(o.out, line)) << line << "\n" << o.out;
    EXPECT_TRUE(o.err.empty()) << o.err;
}

TEST(FitCommand, JsonIsTheResultsSerializationWithTheCommandsContext) {
    const std::string csv = WriteFile("decay_json", DecayCsv());
    const Outcome rel = Fit(DecayArgs(csv, {"--sigma", "s", "--p0", "a=4,b=1", "--json"}));
    ASSERT_EQ(rel.status, 0) << rel.out << rel.err;
    const auto j = nlohmann::json::parse(rel.out);
    for (const char* key :
         {"x", "variables", "point", "f", "success", "outcome", "message", "warnings", "verdict", "settings",
          "fit", "model", "data", "columns", "rows", "parameters", "output_errors"})
        EXPECT_TRUE(j.contains(key)) << key;
    for (const char* key : {"m", "status", "status_name", "cost", "residuals", "jacobian",
                            "residual_evaluations", "uncertainty"})
        EXPECT_TRUE(j["fit"].contains(key)) << "fit." << key;
    EXPECT_EQ(j["model"], "a*exp(-b*t)+c");
    EXPECT_EQ(j["data"], csv);
    EXPECT_EQ(j["columns"], nlohmann::json({{"x", "t"}, {"y", "p"}, {"sigma", "s"}}));
    EXPECT_EQ(j["rows"], 30);
    EXPECT_EQ(j["parameters"], nlohmann::json({"a", "b", "c"}));
    EXPECT_EQ(j["variables"], j["parameters"]);
    EXPECT_EQ(j["output_errors"], nlohmann::json::array());
    EXPECT_NEAR(j["point"]["a"].get<double>(), 5.0, 0.05);
    EXPECT_NEAR(j["point"]["b"].get<double>(), 0.7, 0.01);
    EXPECT_NEAR(j["point"]["c"].get<double>(), 1.5, 0.02);
    EXPECT_TRUE(j["success"].get<bool>());
    EXPECT_EQ(j["outcome"], "success");
    EXPECT_DOUBLE_EQ(j["f"].get<double>(), j["fit"]["cost"].get<double>());
    EXPECT_EQ(j["fit"]["m"], 30);
    EXPECT_EQ(j["fit"]["residuals"].size(), 30u);
    const auto& u = j["fit"]["uncertainty"];
    EXPECT_EQ(u["dof"], 27);
    const double se = u["standard_errors"][1].get<double>();
    EXPECT_NEAR(se * se, u["covariance"][4].get<double>(), 1e-12); // entry (1, 1) of 3 x 3
    EXPECT_DOUBLE_EQ(u["correlation"][0].get<double>(), 1.0);

    // Absolute sigma: the covariance is not scaled by the residual variance s^2.
    const Outcome abs =
        Fit(DecayArgs(csv, {"--sigma", "s", "--absolute-sigma", "--p0", "a=4,b=1", "--json"}));
    ASSERT_EQ(abs.status, 0) << abs.err;
    const auto k = nlohmann::json::parse(abs.out);
    EXPECT_TRUE(k["fit"]["uncertainty"]["absolute_sigma"].get<bool>());
    const double s2 = u["residual_variance"].get<double>();
    const double relative = u["covariance"][4].get<double>();
    EXPECT_NEAR(k["fit"]["uncertainty"]["covariance"][4].get<double>() * s2, relative, 1e-6 * relative);
    // No sigma: the column is null.
    const Outcome plain = Fit(DecayArgs(csv, {"--p0", "a=4,b=1", "--json"}));
    EXPECT_TRUE(nlohmann::json::parse(plain.out)["columns"]["sigma"].is_null()) << plain.out;
}

TEST(FitCommand, OptionsGoThroughTheTableIntoTheResult) {
    const std::string csv = WriteFile("decay_options", DecayCsv());
    // Each switch lands in the result's settings (the table's label and the value).
    struct Case {
        std::vector<std::string> args;
        const char* label;
        const char* value;
    };
    const std::vector<Case> cases = {
        {{"--method", "dogleg"}, "Method", "2"},
        {{"--loss", "soft_l1", "--f-scale", "0.5"}, "Loss", "soft_l1"},
        {{"--jac", "3-point"}, "Jacobian", "3-point"},
        {{"--ftol", "1e-10"}, "Cost tolerance (ftol)", "1e-10"},
        {{"--fallbacks", "off"}, "Fallback fits", "off"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> more = c.args;
        more.insert(more.end(), {"--p0", "a=4,b=1", "--json"});
        const Outcome o = Fit(DecayArgs(csv, more));
        ASSERT_LE(o.status, 1) << c.args[0] << ": " << o.err;
        const auto j = nlohmann::json::parse(o.out);
        bool found = false;
        for (const auto& s : j["settings"])
            if (s["name"] == c.label) {
                found = true;
                EXPECT_TRUE(Has(s["value"].get<std::string>(), c.value)) << c.args[0] << ": " << s;
            }
        EXPECT_TRUE(found) << c.args[0] << ": no setting " << c.label << " in " << j["settings"];
    }
}

TEST(FitCommand, ThreadsGiveTheSameFit) {
    const std::string csv = WriteFile("decay_threads", DecayCsv());
    const Outcome one = Fit(DecayArgs(csv, {"--p0", "a=4,b=1", "--json"}));
    const Outcome four = Fit(DecayArgs(csv, {"--p0", "a=4,b=1", "--json", "--threads", "4"}));
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(four.status, 0) << four.err;
    const auto a = nlohmann::json::parse(one.out), b = nlohmann::json::parse(four.out);
    EXPECT_EQ(a["x"], b["x"]);
    EXPECT_EQ(a["fit"]["residual_evaluations"], b["fit"]["residual_evaluations"]);
}

TEST(FitCommand, UnidentifiableParametersAreNamed) {
    const std::string csv = WriteFile("product", "x,y\n1,2.1\n2,3.9\n3,6.2\n4,8.1\n5,9.8\n");
    const Outcome o = Fit({"--model", "a*b*x+c", "--data", csv, "--x", "x", "--y", "y", "--json"});
    EXPECT_EQ(o.status, 1) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["outcome"], "not-unique");
    EXPECT_EQ(j["fit"]["uncertainty"]["undetermined"], nlohmann::json({0, 1}));
    EXPECT_TRUE(j["fit"]["uncertainty"]["standard_errors"][0].is_null());
    bool named = false;
    for (const auto& w : j["warnings"])
        named = named || (Has(w.get<std::string>(), "a") && Has(w.get<std::string>(), "b"));
    EXPECT_TRUE(named) << j["warnings"];
}

struct BadCase {
    const char* name;
    std::string csv;
    std::vector<std::string> extra;
    const char* line; // the message, or the part of it the case is about
};

TEST(FitCommand, BadDataOrOptionsGiveOneLineAndExitTwo) {
    const std::string good = "t,p\n1,2\n2,3\n3,4\n4,5\n";
    const std::vector<BadCase> cases = {
        // The data.
        {"missing", "t,q\n1,2\n2,3\n3,4\n4,5\n", {}, "no column 'p'"},
        {"nonnumeric", "t,p\n1,2\n2,abc\n3,4\n4,5\n", {}, "line 3, column 'p': 'abc' is not a finite number"},
        {"infinite", "t,p\n1,2\n2,inf\n3,4\n4,5\n", {}, "line 3, column 'p': 'inf' is not a finite number"},
        {"short", "t,p\n1,2\n2\n3,4\n4,5\n", {}, "line 3: no cell in column 'p'"},
        {"few", "t,p\n1,2\n2,3\n", {}, "2 data rows for 3 parameters"},
        {"empty", "", {}, "no header line"},
        {"sigma", "t,p,s\n1,2,1\n2,3,0\n3,4,1\n4,5,1\n", {"--sigma", "s"}, "must hold numbers above 0"},
        {"p0", good, {"--p0", "z=1"}, "'z', which is not a parameter"},
        {"start", good, {"--p0", "b=-1000"}, "not finite at the start point"},
        // The options: the library's sentences, in the program's switches.
        {"ftol", good, {"--ftol", "2"}, "--ftol must be at least 0 and less than 1 (got 2)"},
        {"method", good, {"--method", "1"}, "--method must be 3 (hook) or 2 (dogleg) (got 1)"},
        {"method name",
         good,
         {"--method", "trf"},
         "--method must be 2 or 3 (or 'dogleg', 'hook') (got 'trf')"},
        {"loss",
         good,
         {"--loss", "l1"},
         "--loss must be linear, soft_l1, huber, cauchy or arctan (got 'l1')"},
        {"jac", good, {"--jac", "5-point"}, "--jac must be 2-point or 3-point (got '5-point')"},
        {"fallbacks", good, {"--fallbacks", "maybe"}, "--fallbacks must be on or off (got 'maybe')"},
        {"max-nfev", good, {"--max-nfev", "0"}, "--max-nfev must be"},
        {"f-scale", good, {"--f-scale", "-1"}, "--f-scale must be"},
        {"x-scale", good, {"--x-scale", "1,2"}, "--x-scale"},
        {"absolute sigma", good, {"--absolute-sigma"}, "--absolute-sigma needs --sigma"},
        {"report", good, {"--report", "/nonexistent-dir/r.html"}, "cannot write the report to"},
    };
    for (const BadCase& c : cases) {
        const std::string csv = WriteFile(std::string("bad_") + c.name, c.csv);
        std::vector<std::string> args = DecayArgs(csv, c.extra);
        const Outcome o = Fit(args);
        EXPECT_EQ(o.status, 2) << c.name << ": " << o.out << o.err;
        EXPECT_TRUE(Has(o.err, c.line)) << c.name << ": " << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << c.name << ": " << o.err;
        EXPECT_EQ(o.err.rfind("vrnmath fit: ", 0), 0u) << c.name << ": " << o.err;
        EXPECT_TRUE(o.out.empty()) << c.name << ": " << o.out;
    }
    const Outcome missing = Fit({"--model", "a*t", "--data", "/nonexistent/x.csv", "--x", "t", "--y", "p"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(Has(missing.err, "cannot open")) << missing.err;
}

TEST(FitCommand, HelpListsTheLeastSquaresSectionOfTheTable) {
    const Outcome o = Fit({"--help"});
    ASSERT_EQ(o.status, 0) << o.err;
    // CLI11 wraps nothing: each switch's help is on its line, from the table.
    for (const vrn::OptionRow& row : vrn::OptionTable(vrn::ProblemKind::LeastSquares)) {
        EXPECT_TRUE(Has(o.out, std::string("  ") + row.cliSwitch + " ")) << row.cliSwitch;
        EXPECT_TRUE(Has(o.out, vrn::HelpText(row))) << row.cliSwitch;
    }
    // A fit has no drivers to choose from; its rows do not speak of them.
    EXPECT_FALSE(Has(o.out, "driver only"));
    EXPECT_FALSE(Has(o.out, "drivers only"));
}

TEST(FitCommand, ParametersAreFoundInTheFormula) {
    // Exponents of numbers, function names and constants are not parameters; k0 and k_1 are.
    const std::string csv = WriteFile("names", "x,y\n1,1\n2,1.5\n3,1.8\n4,2.1\n5,2.2\n6,2.4\n");
    const Outcome o =
        Fit({"--model", "k0*log(x + 1e-3) + k_1*_pi*1E+0", "--data", csv, "--x", "x", "--y", "y", "--json"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(nlohmann::json::parse(o.out)["parameters"], nlohmann::json({"k0", "k_1"})) << o.out;
}

TEST(FitCommand, ReportHasTheParameterTableAndBothPlots) {
    const std::string csv = WriteFile("decay_report", DecayCsv());
    const std::string page = ::testing::TempDir() + "fit_report_" + std::to_string(getpid()) + ".html";
    struct Case {
        bool sigma;
        size_t errorBars;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 30}}) {
        std::vector<std::string> more = {"--p0", "a=4,b=1", "--report", page};
        if (c.sigma)
            more.insert(more.end(), {"--sigma", "s"});
        const Outcome o = Fit(DecayArgs(csv, more));
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_TRUE(Has(o.out, "Report:       written to " + page)) << o.out;
        const std::string html = program::Slurp(page);
        std::remove(page.c_str());
        EXPECT_TRUE(Has(html, "<h1>Fit report</h1>"));
        EXPECT_TRUE(Has(html, "p = a*exp(-b*t)+c"));
        EXPECT_TRUE(Has(html, "id=\"fit-parameters\""));
        EXPECT_TRUE(Has(html, "Standard error"));
        EXPECT_TRUE(Has(html, "<td>b</td>"));
        EXPECT_TRUE(Has(html, "id=\"fit-correlation\""));
        EXPECT_TRUE(Has(html, "Residual sd"));
        EXPECT_TRUE(Has(html, "id=\"fit-data\""));
        EXPECT_TRUE(Has(html, "id=\"fit-residuals\""));
        EXPECT_TRUE(Has(html, "aria-label=\"Data and fit\""));
        EXPECT_TRUE(Has(html, "aria-label=\"Residuals\""));
        EXPECT_EQ(Count(html, "class=\"errbar\""), c.errorBars);
        EXPECT_EQ(Has(html, "/ \u03c3"), c.sigma);
    }
}

TEST(FitCommand, AReportThatFailsToBeWrittenAfterTheFitExitsThree) {
    // /dev/full passes the check before the fit (it exists and may be written) and then
    // refuses the bytes.
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/full here";
    const std::string csv = WriteFile("decay_full", DecayCsv());
    const Outcome text = Fit(DecayArgs(csv, {"--p0", "a=4,b=1", "--report", "/dev/full"}));
    EXPECT_EQ(text.status, 3) << text.out << text.err;
    EXPECT_TRUE(Has(text.out, "Success:      yes")) << text.out;
    EXPECT_FALSE(Has(text.out, "Report:")) << text.out;
    EXPECT_EQ(text.err, "vrnmath fit: could not write the report to /dev/full: No space left on device\n");
    const Outcome json = Fit(DecayArgs(csv, {"--p0", "a=4,b=1", "--report", "/dev/full", "--json"}));
    EXPECT_EQ(json.status, 3);
    EXPECT_EQ(nlohmann::json::parse(json.out)["output_errors"],
              nlohmann::json({"could not write the report to /dev/full: No space left on device"}));
}

} // namespace
