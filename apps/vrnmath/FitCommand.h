#pragma once

// The "fit" subcommand of vrnmath: a model formula fitted to the columns of a CSV file
// by vrn::LeastSquares.

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vrnmath {

// The values as typed; RunFit converts and checks them. The fit's options are those of
// the option table's least-squares section (face/OptionTable.h), kept by name.
struct FitArguments {
    std::string model;
    std::string data;
    std::string x, y, sigma;
    std::string p0;
    // Table options by their C++ name: the text given, or "1" for a flag.
    std::map<std::string, std::string> values;
    bool json = false;
    std::string report; // --report FILE: the run report with the fit section (HTML)
};

// A table read from CSV text: the header's column names and the rows of numbers.
struct CsvTable {
    std::vector<std::string> columns;
    std::vector<std::vector<double>> rows;
};
// Reads CSV with a header line (commas; blanks around cells and a UTF-8 byte-order mark
// are ignored; blank lines are skipped). Only the columns named in wanted must hold
// numbers; a missing wanted column, a cell there that is not a finite number, or a row
// with fewer cells throws UsageError naming the file, line and column. source names the
// file in messages.
CsvTable ReadCsv(std::istream& in, const std::string& source, const std::vector<std::string>& wanted);

// The parameter names of a model formula in the order of first appearance: the
// identifiers that are not the variable x, not a function call and not one of
// muParser's constants (_pi, _e).
std::vector<std::string> FormulaParameters(const std::string& formula, const std::string& x);

CLI::App* AddFitCommand(CLI::App& app, FitArguments& args);

// Runs the fit and returns the exit status of the minimize command (MinimizeCommand.h):
// 0 the fit succeeded (the verdict of the result), 1 it did not, 3 it ran but the
// report could not be written. Throws UsageError for a mistake in the arguments or the
// data, an option the library refuses (its sentence, in this program's switches) or a
// report that cannot be written, all before anything is fitted.
int RunFit(const FitArguments& args, std::ostream& out);

} // namespace vrnmath
