#pragma once

// The "fit" subcommand of vrnmath: a model formula fitted to the columns of a CSV file
// by vrn::LeastSquares.

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vrnmath {

// The values as typed; RunFit converts and checks them.
struct FitArguments {
    std::string model;
    std::string data;
    std::string x, y, sigma;
    std::string p0;
    std::string method = "hook";
    std::string loss = "linear";
    std::string fScale, ftol, xtol, gtol, maxNfev;
    std::string jac = "2-point";
    bool absoluteSigma = false;
    bool json = false;
    std::string report; // --report FILE: the HTML page with the data-and-fit and residual plots
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

// Runs the fit. Returns 0 when the fit succeeded (the verdict of
// vrn::LeastSquaresResult), 1 otherwise. Throws UsageError for a mistake in the
// arguments or the data (before anything is fitted).
int RunFit(const FitArguments& args, std::ostream& out);

} // namespace vrnmath
