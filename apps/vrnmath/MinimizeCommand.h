#pragma once

// The "minimize" subcommand of vrnmath.

#include <iosfwd>
#include <map>
#include <string>

#include "apps/vrnmath/Arguments.h"

namespace CLI {
class App;
}

namespace vrnmath {

// The values as typed; RunMinimize converts and checks them. The minimizer's options
// are those of the option table (face/OptionTable.h), kept by name.
struct MinimizeArguments {
    std::string problem;
    std::string formula;
    bool formulaGiven = false; // --f appeared (its text may still be empty)
    std::string x0;
    std::string gradient; // empty: analytic for a built-in problem, fd for a formula
    std::string hessian;  // likewise
    // Table options by their C++ name: the text given, or "1" for a flag.
    std::map<std::string, std::string> values;
    bool tool = false; // --tool: shorthand for --driver tool
    bool step = false; // --step: shorthand for --driver step
    bool json = false;
    bool quiet = false;
    bool log = false;   // --log: the engine's status log instead of the progress table
    std::string plots;  // --plots DIR: write the diagnostic pictures there
    std::string report; // --report FILE: write the run report (HTML) there
};

// Registers the subcommand and its options on app; the values land in args.
CLI::App* AddMinimizeCommand(CLI::App& app, MinimizeArguments& args);

// Runs the minimization and returns the exit status (above). Throws UsageError for a
// mistake in the arguments or an output that cannot be written (before anything is
// evaluated) and for a start point where the objective is not finite.
int RunMinimize(const MinimizeArguments& args, std::ostream& out);

} // namespace vrnmath
