// vrnmath fit: a model formula fitted to CSV data by vrn::LeastSquares.
#include "apps/vrnmath/FitCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/FitReport.h"
#include "apps/vrnmath/Formula.h"
#include "lsq/LeastSquares.h"

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

nlohmann::ordered_json Number(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
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
    cmd->add_flag("--absolute-sigma", a.absoluteSigma,
                  "The sigma column holds absolute standard deviations: the covariance is not scaled by the "
                  "residual variance.");
    cmd->add_option("--p0", a.p0,
                    "Start values as name=value pairs, e.g. a=1,b=0.1,c=0; parameters not given start at 1. "
                    "Default: every parameter found in the formula starts at 1.")
        ->type_name("LIST");
    cmd->add_option("--method", a.method, "hook (Levenberg-Marquardt) or dogleg. Default: hook.")
        ->type_name("NAME");
    cmd->add_option("--loss", a.loss, "linear, soft_l1, huber, cauchy or arctan. Default: linear.")
        ->type_name("NAME");
    cmd->add_option("--f-scale", a.fScale, "Scale of the robust loss, > 0. Default: 1.")->type_name("X");
    cmd->add_option("--ftol", a.ftol, "Relative cost-reduction tolerance, 0 to < 1. Default: 1e-8.")
        ->type_name("X");
    cmd->add_option("--xtol", a.xtol, "Relative step tolerance, 0 to < 1. Default: 1e-8.")->type_name("X");
    cmd->add_option("--gtol", a.gtol, "Gradient (cosine) tolerance, 0 to < 1. Default: 1e-8.")
        ->type_name("X");
    cmd->add_option("--max-nfev", a.maxNfev,
                    "Residual evaluations allowed for each fit (a failed fit is tried again from the start "
                    "with the other method, then with typical sizes |p0|). Default: 100 (n + 1).")
        ->type_name("N");
    cmd->add_option("--jac", a.jac, "Difference Jacobian: 2-point or 3-point. Default: 2-point.")
        ->type_name("KIND");
    cmd->add_flag("--json", a.json,
                  "Print only the result as one JSON object (parameters with standard errors, covariance, "
                  "correlation, cost, residual_sd, dof, status, message, success, warnings, evaluations).");
    cmd->add_option("--report", a.report,
                    "Write one self-contained HTML page to FILE: the parameters with standard errors, the "
                    "verdict, the correlations, the data with the fitted curve and the residuals.")
        ->type_name("FILE");
    return cmd;
}

int RunFit(const FitArguments& a, std::ostream& out) {
    // ---- Check and convert everything before fitting ----
    vrn::LeastSquaresOptions o;
    if (a.method == "hook" || a.method == "lm" || a.method == "3")
        o.method = static_cast<int>(vrn::Method::Hook);
    else if (a.method == "dogleg" || a.method == "2")
        o.method = static_cast<int>(vrn::Method::Dogleg);
    else
        throw UsageError("--method must be hook or dogleg, got '" + Short(a.method) + "'");
    const auto loss = vrn::LossFromName(a.loss);
    if (!loss)
        throw UsageError("--loss must be linear, soft_l1, huber, cauchy or arctan, got '" + Short(a.loss) +
                         "'");
    o.loss = *loss;
    if (!a.fScale.empty())
        o.lossScale = ParseNumber(a.fScale, "--f-scale");
    if (!a.ftol.empty())
        o.ftol = ParseNumber(a.ftol, "--ftol");
    if (!a.xtol.empty())
        o.xtol = ParseNumber(a.xtol, "--xtol");
    if (!a.gtol.empty())
        o.gtol = ParseNumber(a.gtol, "--gtol");
    if (!a.maxNfev.empty()) {
        const int v = ParseInteger(a.maxNfev, "--max-nfev");
        if (v < 1)
            throw UsageError("--max-nfev must be 1 or more, got " + std::to_string(v));
        o.maximumEvaluations = v;
    }
    if (a.jac == "3-point")
        o.differences = vrn::DifferenceScheme::ThreePoint;
    else if (a.jac != "2-point")
        throw UsageError("--jac must be 2-point or 3-point, got '" + Short(a.jac) + "'");
    o.absoluteSigma = a.absoluteSigma;
    if (a.absoluteSigma && a.sigma.empty())
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
    const std::string message = vrn::CheckLeastSquaresOptions(o, names.size());
    if (!message.empty())
        throw UsageError(message);

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
    std::vector<double> xs(m), ys(m), ws(m, 1.0);
    for (size_t i = 0; i < m; i++) {
        xs[i] = table.rows[i][0];
        ys[i] = table.rows[i][1];
        if (!a.sigma.empty()) {
            const double s = table.rows[i][2];
            if (!(s > 0.0))
                throw UsageError(a.data + ": the sigma column '" + a.sigma +
                                 "' must hold numbers above 0 (row " + std::to_string(i + 1) + " has " +
                                 Num(s) + ")");
            ws[i] = 1.0 / s;
        }
    }

    // The formula over the parameters and then x.
    std::vector<std::string> variables = names;
    variables.push_back(a.x);
    std::vector<double> start = p0;
    start.push_back(xs[0]);
    Formula model(a.model, variables, start);
    const size_t n = names.size();
    std::vector<double> point(n + 1);
    const vrn::ResidualFunction residual = [&](std::span<const double> p) {
        std::vector<double> r(m);
        for (size_t j = 0; j < n; j++)
            point[j] = p[j];
        for (size_t i = 0; i < m; i++) {
            point[n] = xs[i];
            r[i] = (model(point) - ys[i]) * ws[i];
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

    const vrn::LeastSquaresResult r = vrn::LeastSquares(residual, nullptr, p0, o);
    const vrn::Uncertainty& u = r.uncertainty;
    std::vector<std::string> warnings = r.warnings;
    const std::string undetermined = vrn::UndeterminedWarning(u, names);
    for (std::string& w : warnings)
        if (w.rfind("the data cannot determine", 0) == 0)
            w = undetermined;
    const double sd = u.computed && u.dof > 0 ? std::sqrt(u.residualVariance) : std::nan("");
    std::string reportError;
    if (!a.report.empty()) {
        FitReportData data;
        data.model = a.model;
        data.xName = a.x;
        data.yName = a.y;
        data.names = names;
        data.x = xs;
        data.y = ys;
        if (!a.sigma.empty())
            data.weights = ws;
        data.curve = [&](double xv) {
            for (size_t j = 0; j < n; j++)
                point[j] = r.x[j];
            point[n] = xv;
            return model(point);
        };
        vrn::LeastSquaresResult shown = r;
        shown.warnings = warnings;
        WriteFitReport(shown, data, a.report, reportError);
    }

    if (a.json) {
        nlohmann::ordered_json j;
        j["model"] = a.model;
        j["x"] = a.x;
        j["y"] = a.y;
        if (!a.sigma.empty())
            j["sigma"] = a.sigma;
        j["rows"] = m;
        nlohmann::ordered_json params = nlohmann::ordered_json::object();
        for (size_t k = 0; k < n; k++)
            params[names[k]] = {
                {"value", Number(r.x[k])},
                {"stderr", Number(k < u.standardErrors.size() ? u.standardErrors[k] : std::nan(""))}};
        j["parameters"] = params;
        auto matrix = [n](const std::vector<double>& v) {
            nlohmann::ordered_json rows = nlohmann::ordered_json::array();
            for (size_t i = 0; i < n; i++) {
                nlohmann::ordered_json row = nlohmann::ordered_json::array();
                for (size_t k = 0; k < n; k++)
                    row.push_back(Number(v.size() == n * n ? v[i * n + k] : std::nan("")));
                rows.push_back(row);
            }
            return rows;
        };
        j["covariance"] = matrix(u.covariance);
        j["correlation"] = matrix(u.correlation);
        j["cost"] = Number(r.cost);
        j["residual_sd"] = Number(sd);
        j["dof"] = u.dof;
        j["success"] = r.success;
        j["status"] = static_cast<int>(r.status);
        j["message"] = r.message;
        j["warnings"] = warnings;
        j["undetermined"] = nlohmann::ordered_json::array();
        for (int k : u.undetermined)
            j["undetermined"].push_back(names[static_cast<size_t>(k)]);
        j["iterations"] = r.iterations;
        j["evaluations"] = {{"residual", r.residualEvaluations},
                            {"jacobian", r.jacobianEvaluations},
                            {"difference_residuals", r.differenceEvaluations}};
        j["time_s"] = r.timeSeconds;
        if (!reportError.empty())
            j["report_error"] = reportError;
        out << j.dump(2) << '\n';
        return r.success && reportError.empty() ? 0 : 1;
    }

    char line[512];
    out << "Model:        " << a.model << "   (" << a.y << " against " << a.x << ", " << m << " rows";
    if (!a.sigma.empty())
        out << ", sigma " << a.sigma << (a.absoluteSigma ? " absolute" : " relative");
    out << ")\n";
    std::snprintf(line, sizeof line, "%-14s %22s  %12s  %10s\n", "Parameter", "value", "std error",
                  "rel. error");
    out << line;
    for (size_t k = 0; k < n; k++) {
        const double se = k < u.standardErrors.size() ? u.standardErrors[k] : std::nan("");
        const double rel = r.x[k] != 0.0 ? se / std::fabs(r.x[k]) : std::nan("");
        std::snprintf(line, sizeof line, "%-14s %22.12g  %12.4g  %10.3g\n", names[k].c_str(), r.x[k], se,
                      rel);
        out << line;
    }
    std::snprintf(line, sizeof line, "Cost:         %.10g   residual sd %.6g   dof %d\n", r.cost, sd, u.dof);
    out << line;
    out << "Termination:  " << r.message << " (status " << static_cast<int>(r.status) << ")\n";
    std::snprintf(
        line, sizeof line,
        "Evaluations:  residual %ld, Jacobian %ld (+%ld residuals for differences), %d iterations\n",
        r.residualEvaluations, r.jacobianEvaluations, r.differenceEvaluations, r.iterations);
    out << line;
    out << "Success:      " << (r.success ? "yes" : "no") << '\n';
    for (const std::string& w : warnings)
        out << "Warning:      " << w << '\n';
    if (!a.report.empty())
        out << (reportError.empty() ? "Report:       " + a.report : "Report:       " + reportError) << '\n';
    return r.success && reportError.empty() ? 0 : 1;
}

} // namespace vrnmath
