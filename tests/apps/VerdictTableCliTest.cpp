// The verdict table through the program: the same cases as through vrn::Minimize and
// Python, judged the same way, with the exit status that says it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/apps/ProgramRunner.h"

namespace {

struct Row {
    const char* formula;
    const char* x0;
    std::vector<std::string> extra;
    bool success;
};

TEST(VerdictTableProgram, EachCaseIsJudgedAsThroughTheLibrary) {
    if (!program::Built())
        GTEST_SKIP() << "the vrnmath program is not built";
    const Row rows[] = {
        {"exp(-x)", "x=0", {}, false},
        {"x^2-y^2", "x=0,y=0", {}, false},
        {"x^4-2*x^2+y^2", "x=0,y=1", {}, true},
        {"(x-1e6)^2", "x=0", {}, false},
        {"(x-3)^2+1e6", "x=0", {"--method", "3"}, false},
        {"1e12*((x-1)^2+(y-2)^2)", "x=0,y=0", {}, true},
        {"100*(y-x^2)^2+(1-x)^2", "x=-1.2,y=1", {}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.formula);
        std::vector<std::string> args = {"minimize", "--quiet", "--f", row.formula, "--x0", row.x0};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const program::Run text = program::Start(args);
        EXPECT_EQ(text.status, row.success ? 0 : 1) << text.out << text.err;
        EXPECT_EQ(text.out.rfind(row.success ? "Success:      yes" : "Success:      no", 0), 0u) << text.out;
        if (!row.success) {
            EXPECT_NE(text.out.find("Warning:"), std::string::npos) << text.out;
        }
        args.push_back("--json");
        const program::Run json = program::Start(args);
        const auto j = nlohmann::json::parse(json.out);
        EXPECT_EQ(j["success"].get<bool>(), row.success);
        EXPECT_EQ(j["outcome"].get<std::string>() == "success", row.success);
    }
}

// An unwritable report is refused before anything runs; the write failing after the run
// has its own exit status.
TEST(VerdictTableProgram, OutputPathsAreCheckedBeforeTheRun) {
    if (!program::Built())
        GTEST_SKIP() << "the vrnmath program is not built";
    const std::string dir = ::testing::TempDir();
    const struct {
        std::string path;
        const char* says;
    } cases[] = {{dir, "it is a directory"}, {dir + "no/such/folder/run.html", "does not exist"}};
    for (const auto& c : cases) {
        const program::Run o = program::Start({"minimize", "--problem", "rosenbrock", "--report", c.path});
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
}

TEST(VerdictTableProgram, ThreadCountsAboveTheMaximumAreRefusedAtOnce) {
    if (!program::Built())
        GTEST_SKIP() << "the vrnmath program is not built";
    const program::Run o = program::Start(
        {"minimize", "--problem", "rosenbrock", "--gradient", "fd", "--quiet", "--threads", "100000"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("--threads must be 1 to "), std::string::npos) << o.err;
}

} // namespace
