#pragma once

// The "minimize" subcommand of vrnmath.

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace vrnmath {

// The values as typed; RunMinimize converts and checks them.
struct MinimizeArguments {
    std::string problem;
    std::string formula;
    bool formulaGiven = false; // --f appeared (its text may still be empty)
    std::string x0;
    std::string method = "3";
    std::string gradient; // empty: analytic for a built-in problem, fd for a formula
    std::string hessian;  // likewise
    bool expensive = false;
    bool checkGradient = false;
    bool checkHessian = false;
    std::string itnlim;
    std::string typsiz;
    std::string gradtol, steptol, maxstep, trustRadius, ndigit, cgtol, msg, typf;
    bool tool = false;
    bool step = false;
    bool json = false;
    bool quiet = false;
    bool log = false;    // --log: the engine's status log instead of the progress table
    std::string plots;   // --plots DIR: write the diagnostic pictures there
    std::string report;  // --report FILE: write the run report (HTML) there
    std::string threads; // --threads K: evaluation threads (empty: 1)
};

// Registers the subcommand and its options on app; the values land in args.
CLI::App* AddMinimizeCommand(CLI::App& app, MinimizeArguments& args);

// Runs the minimization. Returns the exit status: 0 when the result is a success (the
// verdict of vrn::MinimizeResult: a stopping test and a small final gradient), 1
// otherwise. Throws UsageError for a mistake in the arguments (before anything is
// evaluated) and for a start point where the objective is not finite.
int RunMinimize(const MinimizeArguments& args, std::ostream& out);

} // namespace vrnmath
