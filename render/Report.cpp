// The run report: an HTML page with inline SVG pictures drawn from the run's records.
#include "render/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace vrn {

namespace {

// Okabe-Ito: told apart with every common form of colour blindness.
// Its yellow is left out: too faint for a thin line on white.
const char* const kPalette[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000"};
constexpr int kPaletteSize = 7;
constexpr int kMaxTraces = 10;
constexpr int kAllTracesUpTo = 12;

bool Finite(double v) {
    return std::isfinite(v);
}

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            // Control characters other than tab and line feed are not valid in XML.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                out += ' ';
            else
                out += c;
        }
    }
    return out;
}

std::string Num(double v, int digits = 6) {
    if (std::isnan(v))
        return "NaN";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

// Pixel coordinates with one decimal.
std::string P(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

double Norm(const std::vector<double>& g) {
    double m = 0.0;
    for (double v : g) {
        if (std::isnan(v))
            return NAN;
        m = std::max(m, std::fabs(v));
    }
    return m;
}

std::vector<std::string> Names(const MinimizeResult& r, const ReportOptions& o) {
    size_t n = r.x.size();
    if (n == 0 && !r.iterationRecords.empty())
        n = r.iterationRecords.front().x.size();
    if (o.names.size() == n)
        return o.names;
    std::vector<std::string> names;
    for (size_t i = 0; i < n; i++) {
        std::string name = std::to_string(i);
        name.insert(name.begin(), 'x');
        names.push_back(std::move(name));
    }
    return names;
}

// ---------------------------------------------------------------- charts

struct Series {
    std::string name;
    std::string colour;
    std::vector<double> x, y;
    bool dashed = false;
    // Points drawn hollow (values not drawn where they are: see the chart's note).
    std::vector<bool> hollow;
};

struct Chart {
    std::string title, xLabel, yLabel, note;
    bool logY = false;
    int width = 470, height = 270;
    std::vector<Series> series;
    bool legend = true;
};

struct Axis {
    double lo = 0.0, hi = 1.0;
    bool log = false;
    std::vector<double> ticks;
    double Map(double v, double p0, double p1) const {
        const double t =
            log ? (std::log10(v) - std::log10(lo)) / (std::log10(hi) - std::log10(lo)) : (v - lo) / (hi - lo);
        return p0 + t * (p1 - p0);
    }
};

double NiceStep(double raw) {
    if (!(raw > 0.0) || !Finite(raw))
        return 1.0;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / mag;
    return (norm <= 1.0 ? 1.0 : norm <= 2.0 ? 2.0 : norm <= 5.0 ? 5.0 : 10.0) * mag;
}

// A range with ticks for the values (non-finite ones, and non-positive ones on a log
// axis, ignored); false when no value is left.
bool MakeAxis(const std::vector<const std::vector<double>*>& data, bool log, bool integer, Axis& a) {
    double lo = 0.0, hi = 0.0;
    bool any = false;
    for (const std::vector<double>* d : data)
        for (double v : *d) {
            if (!Finite(v) || std::fabs(v) > 1e300 || (log && !(v > 0.0)))
                continue;
            if (!any)
                lo = hi = v, any = true;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    a.log = log;
    a.ticks.clear();
    if (!any)
        return false;
    if (log) {
        double elo = std::floor(std::log10(lo)), ehi = std::ceil(std::log10(hi));
        if (ehi <= elo)
            ehi = elo + 1;
        a.lo = std::pow(10.0, elo);
        a.hi = std::pow(10.0, ehi);
        const int count = static_cast<int>(ehi - elo) + 1;
        const int stride = count > 7 ? (count + 6) / 7 : 1;
        for (int e = static_cast<int>(elo); e <= static_cast<int>(ehi); e += stride)
            a.ticks.push_back(std::pow(10.0, e));
        return true;
    }
    if (!(hi - lo > 1e-12 * std::max(std::fabs(lo), std::fabs(hi)))) {
        // One value: a range around it (for an iteration axis, the next whole number).
        const double pad = integer ? 1.0 : (lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1);
        if (integer)
            hi = lo + pad;
        else
            lo -= pad, hi += pad;
    }
    double step = NiceStep((hi - lo) / 5.0);
    if (integer && step < 1.0)
        step = 1.0;
    a.lo = std::floor(lo / step) * step;
    a.hi = std::ceil(hi / step) * step;
    for (int i = 0; i <= 50; i++) {
        const double v = a.lo + i * step;
        if (v > a.hi + step * 1e-9)
            break;
        a.ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    }
    return true;
}

std::string TickText(double v, const Axis& a) {
    if (a.log) {
        const double e = std::log10(v);
        if (e >= -2 && e <= 3)
            return Num(v, 6);
        char buf[32];
        std::snprintf(buf, sizeof buf, "1e%d", static_cast<int>(std::lround(e)));
        return buf;
    }
    return Num(v, 4);
}

std::string DrawChart(const Chart& c) {
    const double W = c.width, H = c.height;
    const bool legend = c.legend && c.series.size() > 1;
    const double left = 62, right = W - 12, top = (c.title.empty() ? 12 : 30) + (legend ? 16 : 0),
                 bottom = H - 42;
    std::string s;
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"" + std::to_string(c.width) +
         "\" height=\"" + std::to_string(c.height) + "\" viewBox=\"0 0 " + std::to_string(c.width) + " " +
         std::to_string(c.height) + "\" role=\"img\" aria-label=\"" + Escape(c.title) + "\">\n";
    s += "<rect x=\"0\" y=\"0\" width=\"" + P(W) + "\" height=\"" + P(H) + "\" fill=\"#ffffff\"/>\n";
    if (!c.title.empty())
        s += "<text x=\"" + P(W / 2) + "\" y=\"18\" text-anchor=\"middle\" class=\"ct\">" + Escape(c.title) +
             "</text>\n";

    std::vector<const std::vector<double>*> xs, ys;
    for (const Series& se : c.series)
        xs.push_back(&se.x), ys.push_back(&se.y);
    Axis ax, ay;
    const bool haveX = MakeAxis(xs, false, true, ax);
    const bool haveY = MakeAxis(ys, c.logY, false, ay);
    s += "<rect x=\"" + P(left) + "\" y=\"" + P(top) + "\" width=\"" + P(right - left) + "\" height=\"" +
         P(bottom - top) + "\" fill=\"#fbfbfb\" stroke=\"#444\" stroke-width=\"1\"/>\n";
    if (!haveX || !haveY) {
        s += "<text x=\"" + P((left + right) / 2) + "\" y=\"" + P((top + bottom) / 2) +
             "\" text-anchor=\"middle\" class=\"cn\">" +
             (c.logY ? "no finite positive values to draw on a log scale" : "no finite values to draw") +
             "</text>\n";
        s += "</svg>\n";
        return s;
    }
    // Grid lines and ticks.
    for (double t : ay.ticks) {
        const double y = ay.Map(t, bottom, top);
        s += "<line x1=\"" + P(left) + "\" y1=\"" + P(y) + "\" x2=\"" + P(right) + "\" y2=\"" + P(y) +
             "\" stroke=\"#ddd\" stroke-width=\"1\"/>\n";
        s += "<text x=\"" + P(left - 5) + "\" y=\"" + P(y + 4) + "\" text-anchor=\"end\" class=\"tk\">" +
             Escape(TickText(t, ay)) + "</text>\n";
    }
    const int xStride = ax.ticks.size() > 8 ? static_cast<int>((ax.ticks.size() + 7) / 8) : 1;
    for (size_t i = 0; i < ax.ticks.size(); i += static_cast<size_t>(xStride)) {
        const double x = ax.Map(ax.ticks[i], left, right);
        s += "<line x1=\"" + P(x) + "\" y1=\"" + P(top) + "\" x2=\"" + P(x) + "\" y2=\"" + P(bottom) +
             "\" stroke=\"#eee\" stroke-width=\"1\"/>\n";
        s += "<text x=\"" + P(x) + "\" y=\"" + P(bottom + 14) + "\" text-anchor=\"middle\" class=\"tk\">" +
             Escape(TickText(ax.ticks[i], ax)) + "</text>\n";
    }
    s += "<text x=\"" + P((left + right) / 2) + "\" y=\"" + P(H - 16) +
         "\" text-anchor=\"middle\" class=\"al\">" + Escape(c.xLabel) + "</text>\n";
    s += "<text x=\"14\" y=\"" + P((top + bottom) / 2) +
         "\" text-anchor=\"middle\" class=\"al\" transform=\"rotate(-90 14 " + P((top + bottom) / 2) +
         ")\">" + Escape(c.yLabel) + "</text>\n";

    // Series: a polyline per unbroken run of drawable points, markers when few.
    for (const Series& se : c.series) {
        const size_t count = std::min(se.x.size(), se.y.size());
        size_t drawable = 0;
        auto ok = [&](size_t i) {
            return Finite(se.x[i]) && Finite(se.y[i]) && std::fabs(se.y[i]) <= 1e300 &&
                   (!c.logY || se.y[i] > 0.0);
        };
        for (size_t i = 0; i < count; i++)
            drawable += ok(i) ? 1 : 0;
        std::string pts;
        auto flush = [&]() {
            if (pts.find(' ') != std::string::npos)
                s += "<polyline fill=\"none\" stroke=\"" + se.colour + "\" stroke-width=\"2\"" +
                     (se.dashed ? " stroke-dasharray=\"6 3\"" : "") + " points=\"" + pts + "\"/>\n";
            pts.clear();
        };
        for (size_t i = 0; i < count; i++) {
            if (!ok(i)) {
                flush();
                continue;
            }
            if (!pts.empty())
                pts += ' ';
            pts += P(ax.Map(se.x[i], left, right)) + "," + P(ay.Map(se.y[i], bottom, top));
        }
        flush();
        for (size_t i = 0; i < count; i++) {
            if (!ok(i))
                continue;
            const bool hollow = i < se.hollow.size() && se.hollow[i];
            const bool end = i == 0 || i + 1 == count;
            if (drawable > 40 && !end && !hollow)
                continue;
            s += "<circle cx=\"" + P(ax.Map(se.x[i], left, right)) + "\" cy=\"" +
                 P(ay.Map(se.y[i], bottom, top)) + "\" r=\"" + (drawable == 1 ? "4" : "2.5") + "\" fill=\"" +
                 (hollow ? "#ffffff" : se.colour) + "\" stroke=\"" + se.colour +
                 "\" stroke-width=\"1.5\"/>\n";
        }
    }
    if (legend) {
        double x = left + 8;
        for (const Series& se : c.series) {
            s += "<line x1=\"" + P(x) + "\" y1=\"" + P(top - 9) + "\" x2=\"" + P(x + 18) + "\" y2=\"" +
                 P(top - 9) + "\" stroke=\"" + se.colour + "\" stroke-width=\"2\"" +
                 (se.dashed ? " stroke-dasharray=\"6 3\"" : "") + "/>\n";
            s += "<text x=\"" + P(x + 22) + "\" y=\"" + P(top - 5) + "\" class=\"lg\">" + Escape(se.name) +
                 "</text>\n";
            x += 34 + 7.0 * static_cast<double>(se.name.size());
        }
    }
    if (!c.note.empty())
        s += "<text x=\"" + P(right) + "\" y=\"" + P(H - 3) + "\" text-anchor=\"end\" class=\"cn\">" +
             Escape(c.note) + "</text>\n";
    s += "</svg>\n";
    return s;
}

// ---------------------------------------------------------------- colour scales

std::string Hex(double r, double g, double b) {
    char buf[16];
    auto c = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c(r), c(g), c(b));
    return buf;
}

// Diverging blue - white - red for t in [-1, 1]; grey for a non-finite value.
std::string Diverging(double t) {
    if (!Finite(t))
        return "#9e9e9e";
    t = std::clamp(t, -1.0, 1.0);
    const double lo[3] = {33, 102, 172}, mid[3] = {247, 247, 247}, hi[3] = {178, 24, 43};
    const double* end = t < 0 ? lo : hi;
    const double u = std::fabs(t);
    return Hex(mid[0] + u * (end[0] - mid[0]), mid[1] + u * (end[1] - mid[1]),
               mid[2] + u * (end[2] - mid[2]));
}

// Sequential dark blue - yellow for t in [0, 1] (contour levels).
std::string Sequential(double t) {
    t = std::clamp(t, 0.0, 1.0);
    const double a[3] = {40, 30, 110}, m[3] = {32, 146, 140}, b[3] = {230, 200, 40};
    const double* p = t < 0.5 ? a : m;
    const double* q = t < 0.5 ? m : b;
    const double u = t < 0.5 ? t * 2 : (t - 0.5) * 2;
    return Hex(p[0] + u * (q[0] - p[0]), p[1] + u * (q[1] - p[1]), p[2] + u * (q[2] - p[2]));
}

// ---------------------------------------------------------------- sections

struct Facts {
    size_t n = 0;
    double f0 = NAN, f = NAN, g = NAN;
    bool haveRecords = false;
    bool converged = false;
    std::vector<std::string> warnings;
    bool nonFinite = false;
};

Facts Gather(const MinimizeResult& r) {
    Facts k;
    k.n = r.x.size();
    k.f = r.f;
    k.haveRecords = !r.iterationRecords.empty();
    k.converged = r.Converged();
    if (k.haveRecords) {
        const IterationRecord& first = r.iterationRecords.front();
        k.f0 = first.f;
        if (k.n == 0)
            k.n = first.x.size();
        const IterationRecord& last = r.iterationRecords.back();
        if (!last.g.empty())
            k.g = Norm(last.g);
        for (const IterationRecord& it : r.iterationRecords) {
            if (!Finite(it.f) || !Finite(it.gradientNorm) || !Finite(it.stepLength) || !Finite(it.radius))
                k.nonFinite = true;
            for (double v : it.x)
                k.nonFinite = k.nonFinite || !Finite(v);
        }
    }
    if (!Finite(r.f))
        k.nonFinite = true;
    // The verdict is the result's own: success decided from the final gradient, with the
    // result's warnings saying what happened and what to try.
    k.converged = r.success;
    k.warnings = r.warnings;
    if (!r.success && r.warnings.empty() && !r.message.empty())
        k.warnings.push_back("The run did not succeed: " + r.message + " (code " + std::to_string(r.code) +
                             ").");
    if (k.nonFinite)
        k.warnings.push_back("The run met non-finite values (NaN or infinity); the pictures leave them out.");
    if (!k.haveRecords)
        k.warnings.push_back("No per-iteration records were kept (MinimizeOptions::recordIterations was "
                             "off): the pictures are empty.");
    return k;
}

std::string Row(const std::string& name, const std::string& value) {
    return "<tr><th scope=\"row\">" + Escape(name) + "</th><td>" + value + "</td></tr>\n";
}

std::string Setting(const MinimizeResult& r, const char* name) {
    for (const auto& [k, v] : r.settings)
        if (k == name)
            return v;
    return "";
}

std::string SummarySection(const MinimizeResult& r, const Facts& k, const ReportOptions& o,
                           int contourEvaluations) {
    std::string s = "<section id=\"summary\"><h2>Summary</h2>\n";
    // The verdict card: an SVG so that it prints exactly as shown.
    const std::string verdict = k.converged ? "Success" : "No success";
    const std::string colour = k.converged ? (r.code == 1 ? "#0072B2" : "#009E73") : "#D55E00";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"card\" width=\"470\" height=\"92\" viewBox=\"0 0 "
         "470 92\" role=\"img\" aria-label=\"verdict\">\n";
    s += "<rect x=\"1\" y=\"1\" width=\"468\" height=\"90\" rx=\"8\" fill=\"#ffffff\" stroke=\"" + colour +
         "\" stroke-width=\"2\"/>\n";
    s += "<rect x=\"1\" y=\"1\" width=\"10\" height=\"90\" rx=\"4\" fill=\"" + colour + "\"/>\n";
    s += "<text id=\"verdict\" x=\"24\" y=\"30\" class=\"vd\" fill=\"" + colour + "\">" + verdict +
         "</text>\n";
    s += "<text x=\"24\" y=\"52\" class=\"vt\">f\u2080 = " + Escape(Num(k.f0)) +
         "  \u2192  f = " + Escape(Num(k.f)) + "</text>\n";
    s += "<text x=\"24\" y=\"74\" class=\"vt\">" + std::to_string(r.iterations) +
         " iterations, max |g\u1d62| = " + Escape(Num(k.g, 3)) + ", code " + std::to_string(r.code) +
         "</text>\n";
    s += "</svg>\n";

    s += "<table class=\"kv\">\n";
    s +=
        Row("Method", Escape(Setting(r, "Method").empty() ? std::to_string(r.method) : Setting(r, "Method")));
    if (!Setting(r, "Gradient").empty())
        s += Row("Derivatives",
                 "gradient " + Escape(Setting(r, "Gradient")) + ", Hessian " + Escape(Setting(r, "Hessian")));
    s += Row("Termination", Escape(r.message) + " (code " + std::to_string(r.code) + ")");
    s += Row("f\u2080 \u2192 f", Escape(Num(k.f0, 10)) + " \u2192 " + Escape(Num(k.f, 10)));
    s += Row("max |g\u1d62| at the end", Escape(Num(k.g)));
    s += Row("Iterations",
             std::to_string(r.iterations) + (r.runs > 1 ? " in " + std::to_string(r.runs) + " runs" : ""));
    s += Row("Evaluations",
             "f " + std::to_string(r.evaluations.f) + ", gradient " + std::to_string(r.evaluations.gradient) +
                 ", Hessian " + std::to_string(r.evaluations.hessian) +
                 (contourEvaluations > 0 ? " (the contour plot took " + std::to_string(contourEvaluations) +
                                               " more evaluations of f, not counted here)"
                                         : ""));
    s += Row("Time", Escape(Num(r.timeSeconds, 3)) + " s");
    const std::vector<std::string> names = Names(r, o);
    std::string point;
    for (size_t i = 0; i < r.x.size() && i < 50; i++)
        point += (i ? ", " : "") + Escape(names[i]) + " = " + Escape(Num(r.x[i], 15));
    if (r.x.size() > 50)
        point += ", \u2026 (" + std::to_string(r.x.size()) + " parameters)";
    s += Row("Final point", point.empty() ? "none" : point);
    s += "</table>\n";
    if (!k.warnings.empty()) {
        s += "<ul class=\"warn\">\n";
        for (const std::string& w : k.warnings)
            s += "<li>" + Escape(w) + "</li>\n";
        s += "</ul>\n";
    }
    s += "</section>\n";
    return s;
}

std::string ConvergenceSection(const MinimizeResult& r) {
    std::string s = "<section id=\"convergence\"><h2>Convergence</h2>\n";
    const std::vector<IterationRecord>& it = r.iterationRecords;
    Series f{"f", kPalette[0], {}, {}, false, {}}, g{"max |g\u1d62|", kPalette[1], {}, {}, false, {}};
    double fmin = INFINITY;
    for (const IterationRecord& e : it)
        if (Finite(e.f))
            fmin = std::min(fmin, e.f);
    const bool difference = Finite(fmin) && !(fmin > 0.0);
    double smallest = INFINITY;
    for (const IterationRecord& e : it) {
        const double v = difference ? e.f - fmin : e.f;
        if (Finite(v) && v > 0.0)
            smallest = std::min(smallest, v);
    }
    bool clamped = false;
    for (const IterationRecord& e : it) {
        double v = difference ? e.f - fmin : e.f;
        bool hollow = false;
        if (difference && v == 0.0) {
            // The minimum itself: drawn at the bottom of the scale, hollow.
            v = Finite(smallest) ? smallest / 10.0 : 1.0;
            hollow = clamped = true;
        }
        f.x.push_back(e.iteration);
        f.y.push_back(v);
        f.hollow.push_back(hollow);
        g.x.push_back(e.iteration);
        g.y.push_back(e.gradientNorm);
    }
    Chart cf;
    cf.title = difference ? "f \u2212 min f" : "Objective f";
    cf.xLabel = "iteration";
    cf.yLabel = difference ? "f \u2212 min f (log)" : "f (log)";
    cf.logY = true;
    cf.series.push_back(f);
    if (clamped)
        cf.note = "hollow: the minimum itself (difference 0)";
    Chart cg;
    cg.title = "Largest gradient component";
    cg.xLabel = "iteration";
    cg.yLabel = "max |g\u1d62| (log)";
    cg.logY = true;
    cg.series.push_back(g);
    s += "<div class=\"row\">" + DrawChart(cf) + DrawChart(cg) + "</div>\n";
    s += "<p class=\"cap\">The whole run, from the start point (iteration 0) to the point it ended at." +
         std::string(difference
                         ? " f goes to zero or below, so the distance to the smallest value reached is shown."
                         : "") +
         "</p>\n</section>\n";
    return s;
}

std::string StepSection(const MinimizeResult& r) {
    std::string s = "<section id=\"steps\"><h2>Steps</h2>\n";
    const std::string radiusName = r.method == 1   ? "line-search factor \u03bb"
                                   : r.method == 4 ? "line step"
                                                   : "trust radius";
    Series len{"step length", kPalette[2], {}, {}, false, {}}, rad{radiusName, kPalette[3], {}, {}, true, {}};
    for (const IterationRecord& e : r.iterationRecords) {
        if (e.iteration == 0 && e.stepLength == 0.0)
            continue; // the start point has no step
        len.x.push_back(e.iteration);
        len.y.push_back(e.stepLength);
        rad.x.push_back(e.iteration);
        rad.y.push_back(e.radius);
    }
    Chart c;
    c.title = "Step length and " + radiusName;
    c.xLabel = "iteration";
    c.yLabel = "length (log)";
    c.logY = true;
    c.width = 950;
    c.series = {len, rad};
    s += DrawChart(c);
    s += "</section>\n";
    return s;
}

std::string ParameterSection(const MinimizeResult& r, const ReportOptions& o) {
    const std::vector<IterationRecord>& it = r.iterationRecords;
    const std::vector<std::string> names = Names(r, o);
    const size_t n = it.empty() ? 0 : it.front().x.size();
    std::string s = "<section id=\"parameters\"><h2>Parameters</h2>\n";
    std::vector<size_t> shown(n);
    std::iota(shown.begin(), shown.end(), size_t{0});
    if (n > static_cast<size_t>(kAllTracesUpTo)) {
        std::vector<double> moved(n, 0.0);
        for (size_t i = 0; i < n; i++) {
            double lo = INFINITY, hi = -INFINITY;
            for (const IterationRecord& e : it)
                if (i < e.x.size() && Finite(e.x[i]))
                    lo = std::min(lo, e.x[i]), hi = std::max(hi, e.x[i]);
            moved[i] = hi >= lo ? hi - lo : 0.0;
        }
        std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) { return moved[a] > moved[b]; });
        shown.resize(kMaxTraces);
        s += "<p class=\"cap\">The " + std::to_string(kMaxTraces) + " of " + std::to_string(n) +
             " parameters that moved most (largest range over the run).</p>\n";
    }
    s += "<div class=\"grid\">\n";
    for (size_t k = 0; k < shown.size(); k++) {
        const size_t i = shown[k];
        Series se{
            names.size() > i ? names[i] : std::to_string(i), kPalette[k % kPaletteSize], {}, {}, false, {}};
        for (const IterationRecord& e : it) {
            se.x.push_back(e.iteration);
            se.y.push_back(i < e.x.size() ? e.x[i] : NAN);
        }
        Chart c;
        c.title = se.name;
        c.xLabel = "iteration";
        c.yLabel = se.name;
        c.width = 310;
        c.height = 200;
        c.legend = false;
        c.series.push_back(se);
        s += DrawChart(c);
    }
    s += "</div>\n</section>\n";
    return s;
}

// One grid of objective values around the path of a two-parameter run.
struct Contour {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    int m = 0;
    std::vector<double> v; // m x m, row j (y) major
};

bool ContourBox(const MinimizeResult& r, const ReportOptions& o, Contour& c) {
    if (!o.objective || r.iterationRecords.empty())
        return false;
    double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
    for (const IterationRecord& e : r.iterationRecords) {
        if (e.x.size() != 2 || !Finite(e.x[0]) || !Finite(e.x[1]))
            continue;
        xlo = std::min(xlo, e.x[0]), xhi = std::max(xhi, e.x[0]);
        ylo = std::min(ylo, e.x[1]), yhi = std::max(yhi, e.x[1]);
    }
    if (r.x.size() == 2 && Finite(r.x[0]) && Finite(r.x[1]))
        xlo = std::min(xlo, r.x[0]), xhi = std::max(xhi, r.x[0]), ylo = std::min(ylo, r.x[1]),
        yhi = std::max(yhi, r.x[1]);
    if (!(xlo <= xhi) || !(ylo <= yhi))
        return false;
    const double span = std::max(xhi - xlo, yhi - ylo);
    const double floor =
        std::max({span * 0.25,
                  1e-3 * std::max({std::fabs(xlo), std::fabs(xhi), std::fabs(ylo), std::fabs(yhi)}), 1e-6});
    const double px = std::max((xhi - xlo) * 0.15, floor * 0.5),
                 py = std::max((yhi - ylo) * 0.15, floor * 0.5);
    c.x0 = xlo - px, c.x1 = xhi + px, c.y0 = ylo - py, c.y1 = yhi + py;
    c.m = std::max(8, o.contourPoints);
    return Finite(c.x0) && Finite(c.x1) && Finite(c.y0) && Finite(c.y1);
}

std::string ContourSection(const MinimizeResult& r, const ReportOptions& o, Contour& c) {
    const std::vector<std::string> names = Names(r, o);
    std::vector<double> point(2);
    c.v.assign(static_cast<size_t>(c.m) * static_cast<size_t>(c.m), NAN);
    for (int j = 0; j < c.m; j++)
        for (int i = 0; i < c.m; i++) {
            point[0] = c.x0 + (c.x1 - c.x0) * i / (c.m - 1);
            point[1] = c.y0 + (c.y1 - c.y0) * j / (c.m - 1);
            c.v[static_cast<size_t>(j * c.m + i)] = o.objective(point);
        }
    // Levels at quantiles of the grid values: even spacing in what the eye sees, however
    // steep the valley.
    std::vector<double> sorted;
    for (double v : c.v)
        if (Finite(v))
            sorted.push_back(v);
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> levels;
    const int nLevels = 14;
    if (!sorted.empty())
        for (int l = 1; l <= nLevels; l++) {
            const double q = std::pow(static_cast<double>(l) / (nLevels + 1), 1.6);
            const double v = sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
            if (levels.empty() || v > levels.back())
                levels.push_back(v);
        }

    const double W = 600, H = 480, left = 70, right = W - 110, top = 30, bottom = H - 46;
    auto X = [&](double x) { return left + (x - c.x0) / (c.x1 - c.x0) * (right - left); };
    auto Y = [&](double y) { return bottom - (y - c.y0) / (c.y1 - c.y0) * (bottom - top); };
    std::string s = "<section id=\"contour\"><h2>Path on the contours of f</h2>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"600\" height=\"480\" viewBox=\"0 "
         "0 600 480\" role=\"img\" aria-label=\"contour plot\">\n";
    s += "<rect x=\"0\" y=\"0\" width=\"600\" height=\"480\" fill=\"#ffffff\"/>\n";
    s += "<text x=\"" + P((left + right) / 2) +
         "\" y=\"18\" text-anchor=\"middle\" class=\"ct\">f around the path</text>\n";
    s += "<rect x=\"" + P(left) + "\" y=\"" + P(top) + "\" width=\"" + P(right - left) + "\" height=\"" +
         P(bottom - top) + "\" fill=\"#fbfbfb\" stroke=\"#444\"/>\n";
    // Marching squares, one path per level.
    for (size_t l = 0; l < levels.size(); l++) {
        const double lv = levels[l];
        std::string d;
        for (int j = 0; j + 1 < c.m; j++)
            for (int i = 0; i + 1 < c.m; i++) {
                const double v[4] = {c.v[static_cast<size_t>(j * c.m + i)],
                                     c.v[static_cast<size_t>(j * c.m + i + 1)],
                                     c.v[static_cast<size_t>((j + 1) * c.m + i + 1)],
                                     c.v[static_cast<size_t>((j + 1) * c.m + i)]};
                if (!Finite(v[0]) || !Finite(v[1]) || !Finite(v[2]) || !Finite(v[3]))
                    continue;
                const double cx[4] = {0, 1, 1, 0}, cy[4] = {0, 0, 1, 1};
                double ex[4], ey[4];
                int count = 0;
                for (int e = 0; e < 4; e++) {
                    const int a = e, b = (e + 1) % 4;
                    if ((v[a] < lv) != (v[b] < lv)) {
                        const double t = (lv - v[a]) / (v[b] - v[a]);
                        ex[count] = cx[a] + t * (cx[b] - cx[a]);
                        ey[count] = cy[a] + t * (cy[b] - cy[a]);
                        ++count;
                    }
                }
                const double hx = (c.x1 - c.x0) / (c.m - 1), hy = (c.y1 - c.y0) / (c.m - 1);
                for (int e = 0; e + 1 < count; e += 2) {
                    d += 'M';
                    d += P(X(c.x0 + (i + ex[e]) * hx));
                    d += ' ';
                    d += P(Y(c.y0 + (j + ey[e]) * hy));
                    d += 'L';
                    d += P(X(c.x0 + (i + ex[e + 1]) * hx));
                    d += ' ';
                    d += P(Y(c.y0 + (j + ey[e + 1]) * hy));
                }
            }
        if (!d.empty())
            s += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" +
                 Sequential(static_cast<double>(l) / std::max<size_t>(1, levels.size() - 1)) +
                 "\" stroke-width=\"1.2\"/>\n";
    }
    // The path.
    std::string pts;
    std::vector<std::pair<double, double>> path;
    for (const IterationRecord& e : r.iterationRecords)
        if (e.x.size() == 2 && Finite(e.x[0]) && Finite(e.x[1]))
            path.emplace_back(e.x[0], e.x[1]);
    if (r.x.size() == 2 && Finite(r.x[0]) && Finite(r.x[1]) &&
        (path.empty() || path.back() != std::make_pair(r.x[0], r.x[1])))
        path.emplace_back(r.x[0], r.x[1]);
    for (const auto& [x, y] : path)
        pts += (pts.empty() ? "" : " ") + P(X(x)) + "," + P(Y(y));
    s += "<polyline points=\"" + pts + "\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
    for (size_t i = 0; i < path.size(); i++) {
        const bool first = i == 0, last = i + 1 == path.size();
        s += "<circle cx=\"" + P(X(path[i].first)) + "\" cy=\"" + P(Y(path[i].second)) + "\" r=\"" +
             (first || last ? "5" : "2.5") + "\" fill=\"" +
             (first  ? "#E69F00"
              : last ? "#D55E00"
                     : "#000000") +
             "\" stroke=\"#000000\" stroke-width=\"1\"/>\n";
    }
    // Axes.
    Axis ax, ay;
    std::vector<double> xr{c.x0, c.x1}, yr{c.y0, c.y1};
    MakeAxis({&xr}, false, false, ax);
    MakeAxis({&yr}, false, false, ay);
    for (double t : ax.ticks)
        if (t >= c.x0 && t <= c.x1)
            s += "<text x=\"" + P(X(t)) + "\" y=\"" + P(bottom + 14) +
                 "\" text-anchor=\"middle\" class=\"tk\">" + Escape(Num(t, 4)) + "</text>\n";
    for (double t : ay.ticks)
        if (t >= c.y0 && t <= c.y1)
            s += "<text x=\"" + P(left - 5) + "\" y=\"" + P(Y(t) + 4) +
                 "\" text-anchor=\"end\" class=\"tk\">" + Escape(Num(t, 4)) + "</text>\n";
    s += "<text x=\"" + P((left + right) / 2) + "\" y=\"" + P(H - 14) +
         "\" text-anchor=\"middle\" class=\"al\">" + Escape(names[0]) + "</text>\n";
    s += "<text x=\"16\" y=\"" + P((top + bottom) / 2) +
         "\" text-anchor=\"middle\" class=\"al\" transform=\"rotate(-90 16 " + P((top + bottom) / 2) +
         ")\">" + Escape(names[1]) + "</text>\n";
    // Legend: the levels.
    s += "<text x=\"" + P(right + 12) + "\" y=\"" + P(top + 4) + "\" class=\"lg\">levels of f</text>\n";
    for (size_t l = 0; l < levels.size(); l++) {
        const double y = top + 20 + 14.0 * static_cast<double>(l);
        s += "<line x1=\"" + P(right + 12) + "\" y1=\"" + P(y - 4) + "\" x2=\"" + P(right + 30) + "\" y2=\"" +
             P(y - 4) + "\" stroke=\"" +
             Sequential(static_cast<double>(l) / std::max<size_t>(1, levels.size() - 1)) +
             "\" stroke-width=\"2\"/>\n";
        s += "<text x=\"" + P(right + 34) + "\" y=\"" + P(y) + "\" class=\"tk\">" +
             Escape(Num(levels[l], 3)) + "</text>\n";
    }
    const double ly = top + 34 + 14.0 * static_cast<double>(levels.size());
    s += "<circle cx=\"" + P(right + 18) + "\" cy=\"" + P(ly - 4) +
         "\" r=\"5\" fill=\"#E69F00\" stroke=\"#000\"/><text x=\"" + P(right + 28) + "\" y=\"" + P(ly) +
         "\" class=\"tk\">start</text>\n";
    s += "<circle cx=\"" + P(right + 18) + "\" cy=\"" + P(ly + 12) +
         "\" r=\"5\" fill=\"#D55E00\" stroke=\"#000\"/><text x=\"" + P(right + 28) + "\" y=\"" + P(ly + 16) +
         "\" class=\"tk\">end</text>\n";
    s += "</svg>\n";
    s += "<p class=\"cap\">The contours take " + std::to_string(c.m * c.m) + " evaluations of f on a " +
         std::to_string(c.m) + " \u00d7 " + std::to_string(c.m) +
         " grid, made for this picture only and not counted in the run's evaluations.</p>\n</section>\n";
    return s;
}

std::string HessianSection(const MinimizeResult& r, const ReportOptions& o) {
    std::string s = "<section id=\"hessian\"><h2>Model Hessian at the end</h2>\n";
    const std::vector<std::string> names = Names(r, o);
    const size_t nn = r.hessian.size();
    const int n = static_cast<int>(std::lround(std::sqrt(static_cast<double>(nn))));
    if (nn == 0 || static_cast<size_t>(n) * static_cast<size_t>(n) != nn) {
        s += "<p>" +
             std::string(r.method == 4 ? "The conjugate-gradient method keeps no Hessian."
                                       : "No model Hessian was kept for this run.") +
             "</p>\n</section>\n";
        return s;
    }
    double big = 0.0;
    for (double v : r.hessian)
        if (Finite(v))
            big = std::max(big, std::fabs(v));
    const int cell = n <= 6 ? 64 : n <= 12 ? 40 : n <= 40 ? 14 : std::max(2, 560 / n);
    const bool text = n <= 12;
    const int labelW = n <= 40 ? 90 : 10;
    const int top = n <= 40 ? 70 : 20;
    const int W = labelW + n * cell + 150, H = top + n * cell + 20;
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"" + std::to_string(W) +
         "\" height=\"" + std::to_string(H) + "\" viewBox=\"0 0 " + std::to_string(W) + " " +
         std::to_string(H) + "\" role=\"img\" aria-label=\"Hessian heat map\">\n";
    s += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(W) + "\" height=\"" + std::to_string(H) +
         "\" fill=\"#ffffff\"/>\n";
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            const double v = r.hessian[static_cast<size_t>(i * n + j)];
            const double t = big > 0.0 ? v / big : 0.0;
            const int x = labelW + j * cell, y = top + i * cell;
            s += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                 std::to_string(cell) + "\" height=\"" + std::to_string(cell) + "\" fill=\"" + Diverging(t) +
                 "\" stroke=\"#ffffff\" stroke-width=\"" + (cell > 6 ? "1" : "0") + "\"><title>" +
                 Escape(names[static_cast<size_t>(i)] + ", " + names[static_cast<size_t>(j)] + ": " +
                        Num(v, 10)) +
                 "</title></rect>\n";
            if (text)
                s += "<text x=\"" + std::to_string(x + cell / 2) + "\" y=\"" +
                     std::to_string(y + cell / 2 + 4) + "\" text-anchor=\"middle\" class=\"hv\" fill=\"" +
                     (std::fabs(t) > 0.6 ? "#ffffff" : "#000000") + "\">" + Escape(Num(v, 4)) + "</text>\n";
        }
    if (n <= 40)
        for (int i = 0; i < n; i++) {
            const std::string& name = names[static_cast<size_t>(i)];
            s += "<text x=\"" + std::to_string(labelW - 6) + "\" y=\"" +
                 std::to_string(top + i * cell + cell / 2 + 4) + "\" text-anchor=\"end\" class=\"tk\">" +
                 Escape(name) + "</text>\n";
            const int cx = labelW + i * cell + cell / 2;
            s += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(top - 6) +
                 "\" class=\"tk\" transform=\"rotate(-45 " + std::to_string(cx) + " " +
                 std::to_string(top - 6) + ")\">" + Escape(name) + "</text>\n";
        }
    // Legend: the diverging scale from -max|h| to +max|h|.
    const int lx = labelW + n * cell + 30, lh = std::max(100, std::min(220, n * cell));
    for (int k = 0; k < 20; k++) {
        const double t = 1.0 - 2.0 * (k + 0.5) / 20.0;
        s += "<rect x=\"" + std::to_string(lx) + "\" y=\"" + P(top + lh * k / 20.0) +
             "\" width=\"18\" height=\"" + P(lh / 20.0 + 0.5) + "\" fill=\"" + Diverging(t) + "\"/>\n";
    }
    s += "<rect x=\"" + std::to_string(lx) + "\" y=\"" + std::to_string(top) + "\" width=\"18\" height=\"" +
         std::to_string(lh) + "\" fill=\"none\" stroke=\"#444\"/>\n";
    s += "<text x=\"" + std::to_string(lx + 24) + "\" y=\"" + std::to_string(top + 8) + "\" class=\"tk\">" +
         Escape(Num(big, 4)) + "</text>\n";
    s += "<text x=\"" + std::to_string(lx + 24) + "\" y=\"" + std::to_string(top + lh / 2 + 4) +
         "\" class=\"tk\">0</text>\n";
    s += "<text x=\"" + std::to_string(lx + 24) + "\" y=\"" + std::to_string(top + lh) + "\" class=\"tk\">" +
         Escape(Num(-big, 4)) + "</text>\n";
    s += "</svg>\n";

    const std::vector<double> ev = SymmetricEigenvalues(r.hessian, n);
    if (ev.empty()) {
        s += "<p>Eigenvalues: not computed (the matrix holds a non-finite value).</p>\n";
    } else {
        const double lo = ev.front(), hi = ev.back();
        std::string cond = lo > 0.0 ? Num(hi / lo, 4) : "not positive definite";
        s += "<p>Eigenvalues from " + Escape(Num(lo)) + " to " + Escape(Num(hi)) + "; condition number " +
             Escape(cond) + ".</p>\n";
    }
    s +=
        "<p class=\"cap\">The Hessian of the quadratic model the method used last (rebuilt from the engine's "
        "stored triangle and "
        "diagonal; the diagonal includes any shift that made it positive definite), not its Cholesky factor. "
        "Colours run from "
        "blue (negative) through white to red (positive), scaled to the largest magnitude.</p>\n</section>\n";
    return s;
}

std::string ChecksSection(const MinimizeResult& r, const ReportOptions& o) {
    if (!r.gradientCheck.ran && !r.hessianCheck.ran)
        return "";
    const std::vector<std::string> names = Names(r, o);
    auto name = [&](int i) {
        return i >= 0 && static_cast<size_t>(i) < names.size() ? names[static_cast<size_t>(i)]
                                                               : std::to_string(i);
    };
    std::string s = "<section id=\"checks\"><h2>Derivative checks</h2>\n";
    for (const DerivativeCheck* check : {&r.gradientCheck, &r.hessianCheck}) {
        if (!check->ran)
            continue;
        const bool gradient = check == &r.gradientCheck;
        s += "<h3>" + std::string(gradient ? "Gradient" : "Hessian") + ": " +
             (check->passed ? "passed" : "mismatch") + " (tolerance " + Escape(Num(check->tolerance, 3)) +
             ")</h3>\n";
        s += "<table class=\"data\"><thead><tr><th>Entry</th><th>Analytic</th><th>Finite "
             "differences</th><th>Relative error</th><th></th></tr></thead><tbody>\n";
        for (const CVRNDerivativeCheckEntry& e : check->entries) {
            const std::string entry = e.column < 0 ? name(e.row) : name(e.row) + ", " + name(e.column);
            s += std::string("<tr") + (e.flagged ? " class=\"bad\"" : "") + "><td>" + Escape(entry) +
                 "</td><td>" + Escape(Num(e.analytic, 10)) + "</td><td>" + Escape(Num(e.estimate, 10)) +
                 "</td><td>" + Escape(Num(e.relativeError, 3)) + "</td><td>" + (e.flagged ? "flagged" : "") +
                 "</td></tr>\n";
        }
        s += "</tbody></table>\n";
    }
    s += "</section>\n";
    return s;
}

std::string SettingsSection(const MinimizeResult& r) {
    std::string s = "<section id=\"settings\"><h2>Settings</h2>\n<table class=\"kv\">\n";
    if (r.settings.empty())
        s += Row("Method", std::to_string(r.method));
    for (const auto& [k, v] : r.settings)
        s += Row(k, Escape(v));
    s += "</table>\n</section>\n";
    return s;
}

std::string LogSection(const MinimizeResult& r) {
    std::string s = "<section id=\"log\"><h2>Status log</h2>\n";
    if (r.log.empty()) {
        s += "<p>The status log was not kept (MinimizeOptions::captureLog).</p>\n</section>\n";
        return s;
    }
    s += "<details><summary>" + std::to_string(r.log.size()) + " rows</summary>\n<pre>";
    for (const std::string& row : r.log)
        s += Escape(row) + "\n";
    s += "</pre></details>\n</section>\n";
    return s;
}

const char* const kStyle = R"(
:root { color-scheme: light; }
body { font-family: system-ui, -apple-system, "Segoe UI", "DejaVu Sans", Arial, sans-serif; margin: 0 auto; max-width: 1000px;
       padding: 16px 20px 40px; color: #1a1a1a; background: #ffffff; }
h1 { font-size: 1.6em; margin: 0.2em 0 0; }
.sub { color: #555; margin: 0.2em 0 1em; }
h2 { font-size: 1.2em; border-bottom: 1px solid #ccc; padding-bottom: 3px; margin-top: 1.6em; }
h3 { font-size: 1em; }
section { break-inside: avoid; }
table { border-collapse: collapse; font-size: 0.92em; }
table.kv th { text-align: left; font-weight: 600; padding: 3px 16px 3px 0; vertical-align: top; white-space: nowrap; }
table.kv td { padding: 3px 0; }
table.data th, table.data td { border: 1px solid #ccc; padding: 3px 8px; text-align: right; }
table.data th { background: #f2f2f2; }
tr.bad td { background: #fde6d8; }
ul.warn { background: #fff8e6; border-left: 4px solid #E69F00; padding: 8px 8px 8px 28px; }
.row, .grid { display: flex; flex-wrap: wrap; gap: 10px; }
svg.card { margin: 4px 0 10px; }
svg text { font-family: system-ui, "DejaVu Sans", Arial, sans-serif; }
.ct { font-size: 13px; font-weight: 600; }
.al { font-size: 12px; }
.tk { font-size: 10.5px; fill: #333; }
.lg { font-size: 11px; }
.cn { font-size: 10.5px; fill: #666; font-style: italic; }
.hv { font-size: 10.5px; }
.vd { font-size: 22px; font-weight: 700; }
.vt { font-size: 14px; }
.cap { color: #555; font-size: 0.9em; }
pre { font-size: 0.8em; background: #f7f7f7; padding: 8px; overflow-x: auto; }
details summary { cursor: pointer; }
footer { margin-top: 2em; color: #777; font-size: 0.8em; }
@media print { body { max-width: none; padding: 0; } details { display: block; } h2 { break-after: avoid; } }
)";

} // namespace

std::vector<double> SymmetricEigenvalues(const std::vector<double>& in, int n) {
    if (n <= 0 || in.size() != static_cast<size_t>(n) * static_cast<size_t>(n))
        return {};
    std::vector<double> a(in.size());
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++) {
            const double v = in[static_cast<size_t>(i * n + j)];
            if (!Finite(v))
                return {};
            a[static_cast<size_t>(i * n + j)] = a[static_cast<size_t>(j * n + i)] = v;
        }
    auto A = [&](int i, int j) -> double& { return a[static_cast<size_t>(i * n + j)]; };
    // Cyclic Jacobi: each sweep zeroes every off-diagonal entry once; a bounded number of
    // sweeps (it converges quadratically, a handful is the rule).
    for (int sweep = 0; sweep < 60; sweep++) {
        double off = 0.0, diag = 0.0;
        for (int i = 0; i < n; i++) {
            diag += A(i, i) * A(i, i);
            for (int j = 0; j < i; j++)
                off += A(i, j) * A(i, j);
        }
        if (!(off > 1e-30 * diag) || !Finite(off))
            break;
        for (int p = 0; p < n - 1; p++)
            for (int q = p + 1; q < n; q++) {
                const double apq = A(p, q);
                if (apq == 0.0)
                    continue;
                const double theta = (A(q, q) - A(p, p)) / (2.0 * apq);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < n; k++) {
                    const double akp = A(k, p), akq = A(k, q);
                    A(k, p) = c * akp - s * akq;
                    A(k, q) = s * akp + c * akq;
                }
                for (int k = 0; k < n; k++) {
                    const double apk = A(p, k), aqk = A(q, k);
                    A(p, k) = c * apk - s * aqk;
                    A(q, k) = s * apk + c * aqk;
                }
            }
    }
    std::vector<double> ev(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        ev[static_cast<size_t>(i)] = A(i, i);
    std::sort(ev.begin(), ev.end());
    return ev;
}

int ReportContourEvaluations(const MinimizeResult& result, const ReportOptions& options) {
    Contour c;
    if (Names(result, options).size() != 2 || !ContourBox(result, options, c))
        return 0;
    return c.m * c.m;
}

std::string ReportHtml(const MinimizeResult& r, const ReportOptions& o) {
    const Facts k = Gather(r);
    Contour contour;
    const bool haveContour = Names(r, o).size() == 2 && ContourBox(r, o, contour);
    const int contourEvaluations = haveContour ? contour.m * contour.m : 0;
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    h += "<title>Minimization report" + (o.title.empty() ? std::string() : " \u2014 " + Escape(o.title)) +
         "</title>\n";
    h += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    h += "<header><h1>Minimization report</h1>\n<p class=\"sub\">" +
         Escape(o.title.empty() ? "VRNMathTools minimizer" : o.title) + "</p></header>\n<main>\n";
    h += SummarySection(r, k, o, contourEvaluations);
    h += ConvergenceSection(r);
    h += StepSection(r);
    h += ParameterSection(r, o);
    if (haveContour)
        h += ContourSection(r, o, contour);
    h += HessianSection(r, o);
    h += ChecksSection(r, o);
    h += SettingsSection(r);
    h += LogSection(r);
    h += "</main>\n<footer>Written by VRNMathTools. This page is self-contained: it loads nothing and runs "
         "no scripts.</footer>\n";
    h += "</body>\n</html>\n";
    return h;
}

bool WriteReport(const MinimizeResult& result, const std::string& path, const ReportOptions& options) {
    const std::string html = ReportHtml(result, options);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(html.data(), 1, html.size(), f) == html.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace vrn
