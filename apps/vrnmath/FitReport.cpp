// The fit report page (see FitReport.h).
#include "apps/vrnmath/FitReport.h"

#include "render/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

namespace vrnmath {

namespace {

std::string Escape(const std::string& s) {
    return vrn::HtmlEscape(s);
}

std::string Fmt(const char* format, double v) {
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// The finite range of values, widened a little (and made non-empty).
void Range(const std::vector<double>& v, double& lo, double& hi) {
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (double a : v)
        if (std::isfinite(a)) {
            lo = std::min(lo, a);
            hi = std::max(hi, a);
        }
    if (!(lo <= hi)) {
        lo = 0.0;
        hi = 1.0;
    }
    if (hi == lo) {
        lo -= 0.5 * (std::fabs(lo) + 1.0);
        hi += 0.5 * (std::fabs(hi) + 1.0);
    }
    const double pad = 0.05 * (hi - lo);
    lo -= pad;
    hi += pad;
}

// One SVG plot: points (circles) and optionally a polyline, with axes and tick labels.
std::string Plot(const std::string& title, const std::string& xLabel, const std::string& yLabel,
                 const std::vector<double>& px, const std::vector<double>& py, const std::vector<double>& lx,
                 const std::vector<double>& ly, bool zeroLine) {
    const double w = 640, h = 360, left = 70, right = 20, top = 30, bottom = 50;
    double x0, x1, y0, y1;
    std::vector<double> xs = px, ys = py;
    xs.insert(xs.end(), lx.begin(), lx.end());
    ys.insert(ys.end(), ly.begin(), ly.end());
    if (zeroLine)
        ys.push_back(0.0);
    Range(xs, x0, x1);
    Range(ys, y0, y1);
    auto sx = [&](double v) { return left + (v - x0) / (x1 - x0) * (w - left - right); };
    auto sy = [&](double v) { return h - bottom - (v - y0) / (y1 - y0) * (h - top - bottom); };
    std::string s =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"360\" viewBox=\"0 0 640 360\">\n";
    s += "<text x=\"320\" y=\"18\" text-anchor=\"middle\" font-size=\"14\">" + Escape(title) + "</text>\n";
    s += "<rect x=\"" + Fmt("%.1f", left) + "\" y=\"" + Fmt("%.1f", top) + "\" width=\"" +
         Fmt("%.1f", w - left - right) + "\" height=\"" + Fmt("%.1f", h - top - bottom) +
         "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (int k = 0; k <= 4; k++) {
        const double xv = x0 + (x1 - x0) * k / 4.0;
        const double yv = y0 + (y1 - y0) * k / 4.0;
        s += "<text x=\"" + Fmt("%.1f", sx(xv)) + "\" y=\"" + Fmt("%.1f", h - bottom + 16) +
             "\" text-anchor=\"middle\" font-size=\"11\">" + Fmt("%.4g", xv) + "</text>\n";
        s += "<text x=\"" + Fmt("%.1f", left - 6) + "\" y=\"" + Fmt("%.1f", sy(yv) + 4) +
             "\" text-anchor=\"end\" font-size=\"11\">" + Fmt("%.4g", yv) + "</text>\n";
    }
    s += "<text x=\"320\" y=\"" + Fmt("%.1f", h - 8) + "\" text-anchor=\"middle\" font-size=\"12\">" +
         Escape(xLabel) + "</text>\n";
    s +=
        "<text x=\"14\" y=\"180\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 14 180)\">" +
        Escape(yLabel) + "</text>\n";
    if (zeroLine && y0 < 0.0 && y1 > 0.0)
        s += "<line x1=\"" + Fmt("%.1f", left) + "\" x2=\"" + Fmt("%.1f", w - right) + "\" y1=\"" +
             Fmt("%.1f", sy(0.0)) + "\" y2=\"" + Fmt("%.1f", sy(0.0)) + "\" stroke=\"#bbb\"/>\n";
    if (!lx.empty()) {
        s += "<polyline fill=\"none\" stroke=\"#c0392b\" stroke-width=\"1.5\" points=\"";
        for (size_t i = 0; i < lx.size(); i++)
            if (std::isfinite(lx[i]) && std::isfinite(ly[i]))
                s += Fmt("%.2f", sx(lx[i])) + "," + Fmt("%.2f", std::clamp(sy(ly[i]), -1e4, 1e4)) + " ";
        s += "\"/>\n";
    }
    for (size_t i = 0; i < px.size(); i++)
        if (std::isfinite(px[i]) && std::isfinite(py[i]))
            s += "<circle cx=\"" + Fmt("%.2f", sx(px[i])) + "\" cy=\"" + Fmt("%.2f", sy(py[i])) +
                 "\" r=\"3\" fill=\"#2c6fbb\"/>\n";
    return s + "</svg>\n";
}

// The name of parameter k (p0, p1, ... when the names are missing).
std::string Label(const FitReportData& d, size_t k) {
    if (k < d.names.size())
        return d.names[k];
    std::string s = "p";
    s += std::to_string(k);
    return s;
}

} // namespace

std::string FitReportHtml(const vrn::LeastSquaresResult& r, const FitReportData& d) {
    const vrn::Uncertainty& u = r.uncertainty;
    std::string s =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>vrnmath fit: " + Escape(d.model) +
        "</title>\n<style>body{font-family:sans-serif;margin:2em;max-width:60em}"
        "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:2px 8px;text-align:right}"
        "th{background:#eee}.warn{color:#a04000}</style></head><body>\n";
    s += "<h1>" + Escape(d.yName) + " = " + Escape(d.model) + "</h1>\n";
    s += "<p>" + std::to_string(d.x.size()) + " rows, x column " + Escape(d.xName) + ". Verdict: <b>" +
         (r.success ? "success" : "no success") + "</b>. " + Escape(r.message) + "</p>\n";
    for (const std::string& w : r.warnings)
        s += "<p class=\"warn\">Warning: " + Escape(w) + "</p>\n";
    s += "<table><tr><th>parameter</th><th>value</th><th>standard error</th><th>relative error</th></tr>\n";
    for (size_t k = 0; k < r.x.size(); k++) {
        const double se = k < u.standardErrors.size() ? u.standardErrors[k] : std::nan("");
        const std::string name = Label(d, k);
        s += "<tr><td>" + Escape(name) + "</td><td>" + Fmt("%.12g", r.x[k]) + "</td><td>" + Fmt("%.4g", se) +
             "</td><td>" + Fmt("%.3g", r.x[k] != 0.0 ? se / std::fabs(r.x[k]) : std::nan("")) +
             "</td></tr>\n";
    }
    s += "</table>\n";
    const double sd = u.computed && u.dof > 0 ? std::sqrt(u.residualVariance) : std::nan("");
    s += "<p>Cost " + Fmt("%.10g", r.cost) + ", residual standard deviation " + Fmt("%.6g", sd) +
         ", degrees of freedom " + std::to_string(u.dof) + "; " + std::to_string(r.residualEvaluations) +
         " residual and " + std::to_string(r.jacobianEvaluations) + " Jacobian evaluations, " +
         std::to_string(r.iterations) + " iterations.</p>\n";
    if (u.computed && !u.correlation.empty()) {
        s += "<h2>Correlation</h2>\n<table><tr><th></th>";
        for (size_t k = 0; k < r.n; k++)
            s += "<th>" + Escape(Label(d, k)) + "</th>";
        s += "</tr>\n";
        for (size_t i = 0; i < r.n; i++) {
            s += "<tr><th>" + Escape(Label(d, i)) + "</th>";
            for (size_t k = 0; k < r.n; k++)
                s += "<td>" + Fmt("%.3f", u.correlation[i * r.n + k]) + "</td>";
            s += "</tr>\n";
        }
        s += "</table>\n";
    }

    // The fitted curve on 400 points between the smallest and the largest x.
    std::vector<double> lx, ly;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : d.x)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (d.curve && lo <= hi) {
        const int points = lo < hi ? 400 : 1;
        for (int k = 0; k < points; k++) {
            const double xv = points == 1 ? lo : lo + (hi - lo) * k / (points - 1);
            lx.push_back(xv);
            ly.push_back(d.curve(xv));
        }
    }
    s += "<h2>Data and fit</h2>\n" +
         Plot(d.yName + " against " + d.xName, d.xName, d.yName, d.x, d.y, lx, ly, false);
    std::vector<double> res(r.residuals.size());
    for (size_t i = 0; i < res.size(); i++)
        res[i] = r.residuals[i];
    const bool weighted = !d.weights.empty();
    s += "<h2>Residuals" + std::string(weighted ? " (divided by sigma)" : "") + "</h2>\n" +
         Plot("fitted - measured", d.xName, weighted ? "(fit - y) / sigma" : "fit - y", d.x, res, {}, {},
              true);
    s += "</body></html>\n";
    return s;
}

bool WriteFitReport(const vrn::LeastSquaresResult& result, const FitReportData& data, const std::string& path,
                    std::string& error) {
    std::ofstream out(path, std::ios::binary);
    if (!out) {
        error = "cannot write the report to '" + path + "'";
        return false;
    }
    out << FitReportHtml(result, data);
    out.close();
    if (!out) {
        error = "writing the report to '" + path + "' failed";
        return false;
    }
    return true;
}

} // namespace vrnmath
