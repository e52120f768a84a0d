#pragma once

// Strict conversions of command-line values. Every malformed value is a usage error
// that names the option and the offending text.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}
namespace vrn {
struct OptionRow;
}

namespace vrnmath {

// Exit statuses of the commands.
constexpr int kExitSuccess = 0;      // the verdict says success
constexpr int kExitNoSuccess = 1;    // the run ended without a confirmed minimum
constexpr int kExitUsage = 2;        // usage error, refused option, unwritable output, f not finite at x0
constexpr int kExitOutputFailed = 3; // the run finished but --report or --plots could not be written

// Registers one row of the option table on a command: a flag, or an option whose text
// lands in values[row.name] for vrn::SetOptionFromText to convert and check.
void AddTableOption(CLI::App& command, const vrn::OptionRow& row, const std::string& help,
                    std::map<std::string, std::string>& values);

// The end of a command: the outputs that could not be written on stderr ("vrnmath
// <command>: ..."), and the exit code (3 when an output failed, else 0 or 1 by success).
int FinishCommand(const std::vector<std::string>& outputErrors, const char* command, bool success);

// A mistake in the command line; the program prints its text on one line and exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A finite decimal number, the whole text (surrounding blanks allowed).
double ParseNumber(const std::string& text, const std::string& option);
// A whole number in the range of int.
int ParseInteger(const std::string& text, const std::string& option);
// Comma-separated finite numbers: "1,-2.5,3e4".
std::vector<double> ParseNumberList(const std::string& text, const std::string& option);

// A start point given either as plain values ("1,2") or as named values ("x=1,y=2").
struct StartPoint {
    std::vector<std::string> names; // empty for plain values
    std::vector<double> values;
};
StartPoint ParseStartPoint(const std::string& text, const std::string& option);

// Why a file cannot be written, or "" when it looks writable (its folder exists and may
// be written to, and it is no folder itself). Nothing is created.
std::string OutputProblem(const std::string& path);

} // namespace vrnmath
