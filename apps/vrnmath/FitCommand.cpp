// vrnmath fit: a model formula fitted to CSV data by vrn::LeastSquares.
#include "apps/vrnmath/FitCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <string_view>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/Formula.h"
#include "apps/vrnmath/MinimizeCommand.h"
#include "face/OptionTable.h"
#include "lsq/LeastSquares.h"
#include "render/Report.h"
#include "render/ResultJson.h"

namespace vrnmath {

namespace {

// At most this many data rows (and cells per row): far above any fit the program is for.
constexpr size_t kMaximumRows = 10000000;
constexpr size_t kMaximumParameters = 1000;

std::string Trim(const std::string& s) {
    size_t a = 0;
    size_t b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        a++;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        b--;
    std::string t = s.substr(a, b - a);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        t = t.substr(1, t.size() - 2);
    return t;
}

std::vector<std::string> SplitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            cells.push_back(Trim(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells.push_back(Trim(cell));
    return cells;
}

std::string Short(const std::string& s) {
    return s.size() <= 40 ? s : s.substr(0, 40) + "...";
}

std::string Num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

} // namespace

CsvTable ReadCsv(std::istream& in, const std::string& source, const std::vector<std::string>& wanted) {
    CsvTable t;
    std::string line;
    size_t lineNumber = 0;
    bool header = false;
    std::vector<size_t> index;
    while (std::getline(in, line)) {
        lineNumber++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line = line.substr(3);
        if (Trim(line).empty())
            continue;
        const std::vector<std::string> cells = SplitCells(line);
        if (!header) {
            header = true;
            t.columns = cells;
            for (const std::string& w : wanted) {
                const auto it = std::find(cells.begin(), cells.end(), w);
                if (it == cells.end()) {
                    std::string list;
                    for (const std::string& c : cells)
                        list += (list.empty() ? "" : ", ") + c;
                    throw UsageError(source + ": no column '" + Short(w) +
                                     "' in the header (columns: " + Short(list) + ")");
                }
                index.push_back(static_cast<size_t>(it - cells.begin()));
            }
            continue;
        }
        if (t.rows.size() >= kMaximumRows)
            throw UsageError(source + ": more than " + std::to_string(kMaximumRows) + " data rows");
        std::vector<double> row;
        for (size_t k = 0; k < wanted.size(); k++) {
            if (index[k] >= cells.size())
                throw UsageError(source + " line " + std::to_string(lineNumber) + ": no cell in column '" +
                                 Short(wanted[k]) + "' (the row has " + std::to_string(cells.size()) +
                                 " cells)");
            const std::string& cell = cells[index[k]];
            char* end = nullptr;
            const double v = std::strtod(cell.c_str(), &end);
            if (cell.empty() || end != cell.c_str() + cell.size() || !std::isfinite(v))
                throw UsageError(source + " line " + std::to_string(lineNumber) + ", column '" +
                                 Short(wanted[k]) + "': '" + Short(cell) + "' is not a finite number");
            row.push_back(v);
        }
        t.rows.push_back(std::move(row));
    }
    if (!header)
        throw UsageError(source + ": no header line (the file is empty)");
    return t;
}

std::vector<std::string> FormulaParameters(const std::string& formula, const std::string& x) {
    std::vector<std::string> names;
    const size_t n = formula.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(formula[i]);
        if (std::isdigit(c) ||
            (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(formula[i + 1])))) {
            // A number, with its exponent (1e-3): its letters are not names.
            while (i < n && (std::isdigit(static_cast<unsigned char>(formula[i])) || formula[i] == '.'))
                i++;
            if (i < n && (formula[i] == 'e' || formula[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (formula[j] == '+' || formula[j] == '-'))
                    j++;
                if (j < n && std::isdigit(static_cast<unsigned char>(formula[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(formula[i])))
                        i++;
                }
            }
            continue;
        }
        if (std::isalpha(c) || c == '_') {
            size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(formula[j])) || formula[j] == '_'))
                j++;
            const std::string name = formula.substr(i, j - i);
            size_t k = j;
            while (k < n && std::isspace(static_cast<unsigned char>(formula[k])))
                k++;
            const bool call = k < n && formula[k] == '(';
            if (!call && name != x && name != "_pi" && name != "_e" &&
                std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
            i = j;
            continue;
        }
        i++;
    }
    return names;
}

CLI::App* AddFitCommand(CLI::App& app, FitArguments& a) {
    CLI::App* cmd = app.add_subcommand(
        "fit", "Fit a model formula to the columns of a CSV file (nonlinear least squares).");
    cmd->option_defaults()->always_capture_default(false);
    cmd->add_option("--model", a.model,
                    "The model as a formula in the x column and the parameters, e.g. \"a*exp(-b*t)+c\" "
                    "(muParser syntax).")
        ->required()
        ->type_name("FORMULA");
    cmd->add_option("--data", a.data, "CSV file with a header line naming the columns.")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--x", a.x, "Column of the independent variable (its name in the formula).")
        ->required()
        ->type_name("COLUMN");
    cmd->add_option("--y", a.y, "Column of the measured values.")->required()->type_name("COLUMN");
    cmd->add_option(
           "--sigma", a.sigma,
           "Column of the standard deviations of y; the residuals are divided by them. Default: none.")
        ->type_name("COLUMN");
    cmd->add_option("--p0", a.p0,
                    "Start values as name=value pairs, e.g. a=1,b=0.1,c=0; parameters not given start at 1. "
                    "Default: every parameter found in the formula starts at 1.")
        ->type_name("LIST");
    // The fit's options, from the least-squares section of the option table.
    for (const vrn::OptionRow& s : vrn::OptionTable(vrn::ProblemKind::LeastSquares)) {
        std::string help = vrn::HelpText(s);
        if (std::string_view(s.name) == "absoluteSigma")
            help += " Needs --sigma.";
        if (std::string_view(s.name) == "xScale")
            help += " In the order of the parameters (as they first appear in the model).";
        AddTableOption(*cmd, s, help, a.values);
    }
    cmd->add_flag(
        "--json", a.json,
        "Print only the result, as one JSON object: the library's serialization of the result (x, "
        "point, f = the cost, success, outcome, message, warnings, verdict, settings, and under fit "
        "the residuals, status, counts and uncertainty with covariance, standard_errors and "
        "correlation) with the command's context: model, data, columns, rows, parameters, "
        "output_errors. Default: off.");
    cmd->add_option(
           "--report", a.report,
           "Write a run report to FILE: one self-contained HTML page (summary, the fit's parameters "
           "with standard errors and correlations, the data with the fitted curve, the residuals, "
           "convergence, settings, status log) that opens offline in any web browser. Default: none.")
        ->type_name("FILE");
    return cmd;
}

int RunFit(const FitArguments& a, std::ostream& out) {
    // ---- Check and convert everything before fitting ----
    if (!a.report.empty())
        if (const std::string why = OutputProblem(a.report); !why.empty())
            throw UsageError("cannot write the report to " + a.report + ": " + why);
    vrn::LeastSquaresOptions o;
    o.naming = vrn::OptionNaming::CommandLine;
    for (const auto& [name, text] : a.values)
        if (const auto refusal = vrn::SetOptionFromText(
                o, *vrn::FindOption(name, vrn::OptionNaming::Cpp, vrn::ProblemKind::LeastSquares), text,
                o.naming))
            throw UsageError(refusal->text);
    if (o.absoluteSigma && a.sigma.empty())
        throw UsageError("--absolute-sigma needs --sigma");

    std::vector<std::string> names = FormulaParameters(a.model, a.x);
    std::vector<double> p0(names.size(), 1.0);
    if (!a.p0.empty()) {
        const StartPoint sp = ParseStartPoint(a.p0, "--p0");
        if (sp.names.empty())
            throw UsageError("--p0 takes name=value pairs, e.g. a=1,b=0.1");
        for (size_t k = 0; k < sp.names.size(); k++) {
            const auto it = std::find(names.begin(), names.end(), sp.names[k]);
            if (it == names.end())
                throw UsageError("--p0 names '" + Short(sp.names[k]) +
                                 "', which is not a parameter of the model");
            p0[static_cast<size_t>(it - names.begin())] = sp.values[k];
        }
    }
    if (names.empty())
        throw UsageError("the model '" + Short(a.model) + "' has no parameters to fit (the x column is '" +
                         a.x + "')");
    if (names.size() > kMaximumParameters)
        throw UsageError("the model has more than " + std::to_string(kMaximumParameters) + " parameters");
    o.names = names;
    // The library's check, worded with this program's switches; nothing has run yet.
    if (const std::string refusal = vrn::CheckLeastSquaresOptions(o, names.size()); !refusal.empty())
        throw UsageError(refusal);

    std::ifstream file(a.data, std::ios::binary);
    if (!file)
        throw UsageError("cannot open the data file '" + a.data + "'");
    std::vector<std::string> wanted = {a.x, a.y};
    if (!a.sigma.empty())
        wanted.push_back(a.sigma);
    const CsvTable table = ReadCsv(file, a.data, wanted);
    const size_t m = table.rows.size();
    if (m < names.size())
        throw UsageError(a.data + ": " + std::to_string(m) + " data rows for " +
                         std::to_string(names.size()) +
                         " parameters; a fit needs at least as many rows as parameters");
    std::vector<double> xs(m), ys(m), sigmas, ws(m, 1.0);
    for (size_t i = 0; i < m; i++) {
        xs[i] = table.rows[i][0];
        ys[i] = table.rows[i][1];
        if (!a.sigma.empty()) {
            const double s = table.rows[i][2];
            if (!(s > 0.0))
                throw UsageError(a.data + ": the sigma column '" + a.sigma +
                                 "' must hold numbers above 0 (row " + std::to_string(i + 1) + " has " +
                                 Num(s) + ")");
            sigmas.push_back(s);
            ws[i] = 1.0 / s;
        }
    }

    // The formula over the parameters and then x; one compiled copy per evaluation thread
    // (the difference Jacobian's columns are evaluated at the same time with --threads).
    std::vector<std::string> variables = names;
    variables.push_back(a.x);
    std::vector<double> start = p0;
    start.push_back(xs[0]);
    FormulaCopies model(a.model, variables, start, o.threads);
    const size_t n = names.size();
    const vrn::ResidualFunction residual = [&](std::span<const double> p) {
        std::vector<double> r(m);
        std::vector<double> point(p.begin(), p.end());
        point.push_back(0.0);
        const FormulaCopies::Lease lease = model.Borrow();
        for (size_t i = 0; i < m; i++) {
            point[n] = xs[i];
            r[i] = ((*lease)(point)-ys[i]) * ws[i];
        }
        return r;
    };
    {
        const std::vector<double> r0 = residual(p0);
        for (size_t i = 0; i < m; i++)
            if (!std::isfinite(r0[i]))
                throw UsageError("the model is not finite at the start point for row " +
                                 std::to_string(i + 1) + " (" + a.x + " = " + Num(xs[i]) +
                                 "); give other start values with --p0");
    }
    if (!a.report.empty()) {
        o.recordIterations = true;
        o.captureLog = true;
    }

    // ---- Fit ----
    const vrn::LeastSquaresResult r = vrn::LeastSquares(residual, nullptr, p0, o);
    // Everything was checked above; a refusal left is the library's word on the start.
    if (r.outcome == vrn::Outcome::Refused)
        throw UsageError(r.message);

    // ---- Print ----
    std::vector<std::string> outputErrors;
    if (!a.report.empty()) {
        vrn::ReportOptions ro;
        ro.title = a.y + " = " + a.model + " (" + a.data + ")";
        ro.names = names;
        ro.fit.xLabel = a.x;
        ro.fit.yLabel = a.y;
        ro.fit.x = xs;
        ro.fit.y = ys;
        ro.fit.sigma = sigmas;
        ro.fit.weighted = !a.sigma.empty();
        ro.fit.curve = [&](double xv) {
            std::vector<double> point = r.x;
            point.push_back(xv);
            const FormulaCopies::Lease lease = model.Borrow();
            return (*lease)(point);
        };
        vrn::ReportStats stats;
        if (!vrn::WriteReport(r, a.report, ro, &stats))
            outputErrors.push_back("could not write the report to " + a.report + ": " +
                                   (stats.error.empty() ? std::string("the write failed") : stats.error));
    }

    if (a.json) {
        std::vector<std::pair<std::string, std::string>> extra;
        extra.emplace_back("model", vrn::JsonString(a.model));
        extra.emplace_back("data", vrn::JsonString(a.data));
        extra.emplace_back("columns",
                           "{\"x\":" + vrn::JsonString(a.x) + ",\"y\":" + vrn::JsonString(a.y) +
                               ",\"sigma\":" + (a.sigma.empty() ? "null" : vrn::JsonString(a.sigma)) + "}");
        extra.emplace_back("rows", std::to_string(m));
        extra.emplace_back("parameters", vrn::JsonStrings(names));
        extra.emplace_back("output_errors", vrn::JsonStrings(outputErrors));
        out << vrn::ToJson(r, vrn::JsonNumbers::Strict, extra) << '\n';
    } else {
        out << "Model:        " << a.y << " = " << a.model << "  (" << a.y << " against " << a.x;
        if (!a.sigma.empty())
            out << ", sigma " << a.sigma << (o.absoluteSigma ? " absolute" : " relative");
        out << ")\n";
        out << "Data:         " << a.data << " (" << m << (m == 1 ? " row" : " rows") << ")\n";
        out << r.Summary();
        if (!a.report.empty() && outputErrors.empty())
            out << "Report:       written to " << a.report << " (open it in a web browser)\n";
    }
    out.flush();
    return FinishCommand(outputErrors, "fit", r.success);
}

} // namespace vrnmath
