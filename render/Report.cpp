// The run report: an HTML page with inline SVG pictures drawn from the run's records.
#include "render/Report.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace vrn {

std::string HtmlEscape(const std::string& s) {
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
    return HtmlEscape(s);
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

// At most about 8 characters, for a number inside a heat-map cell: 4 significant digits,
// or 3 with a short exponent ("5.92e291", "-1.2e-05" as "-1.2e-5").
std::string Compact(double v) {
    std::string s = Num(v, 4);
    if (s.size() <= 8)
        return s;
    s = Num(v, 3);
    const size_t e = s.find('e');
    if (e == std::string::npos)
        return s;
    std::string mantissa = s.substr(0, e), exponent = s.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-'))
        exponent.erase(0, 1);
    while (exponent.size() > 1 && exponent[0] == '0')
        exponent.erase(0, 1);
    return mantissa + "e" + (negative ? "-" : "") + exponent;
}

// s cut after about bytes bytes (never inside a UTF-8 sequence), with an ellipsis.
constexpr size_t kTitleBytes = 240;
std::string Cut(const std::string& s, size_t bytes) {
    if (s.size() <= bytes)
        return s;
    size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return s.substr(0, cut) + "\u2026";
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

// "1 row", "2 rows".
std::string Plural(long count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::vector<std::string> Names(const MinimizeResult& r, const ReportOptions& o) {
    size_t n = r.x.size();
    if (n == 0 && !r.iterationRecords.empty())
        n = r.iterationRecords.front().x.size();
    if (o.names.size() == n)
        return o.names;
    if (r.names.size() == n)
        return r.names;
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
    Series(std::string name_, std::string colour_, std::vector<double> x_ = {}, std::vector<double> y_ = {},
           bool dashed_ = false, std::vector<bool> hollow_ = {}, std::vector<bool> breakBefore_ = {})
        : name(std::move(name_)), colour(std::move(colour_)), x(std::move(x_)), y(std::move(y_)),
          dashed(dashed_), hollow(std::move(hollow_)), breakBefore(std::move(breakBefore_)) {}
    std::string name;
    std::string colour;
    std::vector<double> x, y;
    bool dashed = false;
    // Points drawn hollow (values not drawn where they are: see the chart's note).
    std::vector<bool> hollow;
    // Points not joined to the one before (the first point of a run of the tool driver).
    std::vector<bool> breakBefore;
    // false: points only (every drawable point gets a marker; the caller keeps them few).
    bool line = true;
    // false: no markers (a curve sampled finely).
    bool markers = true;
    // Half-lengths of vertical error bars, one per point (empty: none).
    std::vector<double> errors;
};

struct Chart {
    std::string title, xLabel, yLabel, note;
    bool logY = false;
    // Signed values on a symmetric log scale: linear near 0, logarithmic in both directions.
    bool symlogY = false;
    // Vertical marks across the plot (x, label): where each run of the tool driver starts.
    std::vector<std::pair<double, std::string>> marks;
    // A warning drawn inside the plot at the last point of the first series, in red.
    std::string flag;
    int width = 470, height = 270;
    std::vector<Series> series;
    bool legend = true;
    // The x axis counts iterations (whole-number ticks); false for data.
    bool integerX = true;
};

struct Axis {
    double lo = 0.0, hi = 1.0;
    bool log = false;
    // Symmetric log: sign(v) log10(1 + |v| / linear), linear about 0 within +-linear.
    bool symlog = false;
    double linear = 1.0;
    std::vector<double> ticks;
    double Symlog(double v) const { return (v < 0 ? -1.0 : 1.0) * std::log10(1.0 + std::fabs(v) / linear); }
    double Map(double v, double p0, double p1) const {
        const double t = log      ? (std::log10(v) - std::log10(lo)) / (std::log10(hi) - std::log10(lo))
                         : symlog ? (Symlog(v) - Symlog(lo)) / (Symlog(hi) - Symlog(lo))
                                  : (v - lo) / (hi - lo);
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

// A symmetric-log range for signed values: decades on both sides of a linear band
// around 0, at most 12 decades below the largest magnitude.
bool MakeSymlogAxis(const std::vector<const std::vector<double>*>& data, Axis& a) {
    double lo = INFINITY, hi = -INFINITY, big = 0.0, small = INFINITY;
    for (const std::vector<double>* d : data)
        for (double v : *d) {
            if (!Finite(v) || std::fabs(v) > 1e300)
                continue;
            lo = std::min(lo, v), hi = std::max(hi, v);
            big = std::max(big, std::fabs(v));
            if (v != 0.0)
                small = std::min(small, std::fabs(v));
        }
    a.symlog = true;
    a.log = false;
    a.ticks.clear();
    if (!(lo <= hi))
        return false;
    if (big == 0.0)
        big = small = 1.0;
    const double top = std::ceil(std::log10(big));
    const double bottom = std::max(std::floor(std::log10(small)), top - 12.0);
    a.linear = std::pow(10.0, bottom);
    auto outward = [&](double v, bool up) {
        if (std::fabs(v) < a.linear)
            return v < 0 || (v == 0 && !up) ? (up ? 0.0 : -a.linear) : (up ? a.linear : 0.0);
        const double e = std::log10(std::fabs(v));
        const double away = std::pow(10.0, std::ceil(e - 1e-12)),
                     toward = std::pow(10.0, std::floor(e + 1e-12));
        return v > 0 ? (up ? away : toward) : (up ? -toward : -away);
    };
    a.lo = outward(lo, false);
    a.hi = outward(hi, true);
    if (!(a.hi > a.lo))
        a.hi = a.lo + a.linear;
    // Ticks at 0 and at every k-th power of ten on each side (at most about 8 in all).
    const int decades = static_cast<int>(top - bottom) + 1;
    const int sides = (a.lo < 0 ? 1 : 0) + (a.hi > 0 ? 1 : 0);
    const int stride = std::max(1, decades * std::max(1, sides) / 8 + 1);
    if (a.lo <= 0 && a.hi >= 0)
        a.ticks.push_back(0.0);
    const bool zero = !a.ticks.empty();
    for (int e = static_cast<int>(top); e >= static_cast<int>(bottom) + (zero ? 1 : 0); e -= stride) {
        const double t = std::pow(10.0, e);
        if (t <= a.hi * (1 + 1e-12))
            a.ticks.push_back(t);
        if (-t >= a.lo * (1 + 1e-12))
            a.ticks.push_back(-t);
    }
    return true;
}

std::string TickText(double v, const Axis& a) {
    if (a.symlog && v != 0.0) {
        const double e = std::log10(std::fabs(v));
        if (e >= -2 && e <= 3)
            return (v < 0 ? "\u2212" : "") + Num(std::fabs(v), 6);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s1e%d", v < 0 ? "\u2212" : "", static_cast<int>(std::lround(e)));
        return buf;
    }
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

// Keeps at most four points per pixel column (the first, lowest, highest and last), so
// that a chart of many thousands of iterations stays small and looks the same.
std::vector<std::pair<double, double>> Thin(const std::vector<std::pair<double, double>>& pts) {
    if (pts.size() <= 1500)
        return pts;
    std::vector<std::pair<double, double>> out;
    size_t i = 0;
    while (i < pts.size()) {
        const double column = std::floor(pts[i].first);
        size_t j = i, lo = i, hi = i;
        while (j < pts.size() && std::floor(pts[j].first) == column) {
            if (pts[j].second < pts[lo].second)
                lo = j;
            if (pts[j].second > pts[hi].second)
                hi = j;
            ++j;
        }
        std::vector<size_t> keep{i, lo, hi, j - 1};
        std::sort(keep.begin(), keep.end());
        keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
        for (size_t k : keep)
            out.push_back(pts[k]);
        i = j;
    }
    return out;
}

std::string DrawChart(const Chart& c) {
    const double W = c.width, H = c.height;
    const bool legend = c.legend && c.series.size() > 1;
    const double left = 62, right = W - 12,
                 top = (c.title.empty() ? 12 : 30) + (legend ? 16 : 0) + (c.flag.empty() ? 0 : 16),
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
    // The ends of the error bars belong in the y range too.
    std::vector<std::vector<double>> barEnds;
    barEnds.reserve(c.series.size());
    for (const Series& se : c.series) {
        xs.push_back(&se.x), ys.push_back(&se.y);
        if (se.errors.empty())
            continue;
        std::vector<double> ends;
        for (size_t i = 0; i < se.y.size() && i < se.errors.size(); i++)
            if (Finite(se.errors[i]))
                ends.push_back(se.y[i] - se.errors[i]), ends.push_back(se.y[i] + se.errors[i]);
        barEnds.push_back(std::move(ends));
        ys.push_back(&barEnds.back());
    }
    Axis ax, ay;
    const bool haveX = MakeAxis(xs, false, c.integerX, ax);
    const bool haveY = c.symlogY ? MakeSymlogAxis(ys, ay) : MakeAxis(ys, c.logY, false, ay);
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
             "\" stroke=\"" + (ay.symlog && t == 0.0 ? "#999" : "#ddd") + "\" stroke-width=\"1\"/>\n";
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
    // Run boundaries: a dashed line and the run's number (labels that would collide are
    // left out; the lines stay).
    double lastLabel = -1e9;
    for (const auto& [mx, label] : c.marks) {
        if (!Finite(mx) || mx < ax.lo || mx > ax.hi)
            continue;
        const double x = ax.Map(mx, left, right);
        s += "<line x1=\"" + P(x) + "\" y1=\"" + P(top) + "\" x2=\"" + P(x) + "\" y2=\"" + P(bottom) +
             "\" stroke=\"#555\" stroke-width=\"1\" stroke-dasharray=\"3 3\" class=\"runmark\"/>\n";
        if (x - lastLabel > 40) {
            s += "<text x=\"" + P(x + 3) + "\" y=\"" + P(top + 11) + "\" class=\"rm\">" + Escape(label) +
                 "</text>\n";
            lastLabel = x;
        }
    }

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
        std::vector<std::pair<double, double>> pts;
        auto flush = [&]() {
            if (pts.size() >= 2) {
                std::string text;
                for (const auto& [px, py] : Thin(pts)) {
                    if (!text.empty())
                        text += ' ';
                    text += P(px);
                    text += ',';
                    text += P(py);
                }
                s += "<polyline fill=\"none\" stroke=\"" + se.colour + "\" stroke-width=\"2\"" +
                     (se.dashed ? " stroke-dasharray=\"6 3\"" : "") + " points=\"" + text + "\"/>\n";
            }
            pts.clear();
        };
        for (size_t i = 0; i < count && se.line; i++) {
            if (!ok(i) || (i < se.breakBefore.size() && se.breakBefore[i]))
                flush();
            if (ok(i))
                pts.emplace_back(ax.Map(se.x[i], left, right), ay.Map(se.y[i], bottom, top));
        }
        flush();
        for (size_t i = 0; i < count && i < se.errors.size(); i++) {
            if (!ok(i) || !Finite(se.errors[i]) || se.errors[i] <= 0.0)
                continue;
            const double px = ax.Map(se.x[i], left, right);
            const double lo = std::clamp(ay.Map(se.y[i] - se.errors[i], bottom, top), top, bottom);
            const double hi = std::clamp(ay.Map(se.y[i] + se.errors[i], bottom, top), top, bottom);
            s += "<path class=\"errbar\" d=\"M" + P(px) + " " + P(lo) + "V" + P(hi) + "M" + P(px - 3) + " " +
                 P(lo) + "h6M" + P(px - 3) + " " + P(hi) + "h6\" stroke=\"" + se.colour +
                 "\" stroke-width=\"1\" fill=\"none\"/>\n";
        }
        for (size_t i = 0; i < count && se.markers; i++) {
            if (!ok(i))
                continue;
            const bool hollow = i < se.hollow.size() && se.hollow[i];
            const bool end = i == 0 || i + 1 == count || (i < se.breakBefore.size() && se.breakBefore[i]) ||
                             (i + 1 < se.breakBefore.size() && se.breakBefore[i + 1]);
            if (se.line && drawable > 40 && !end && !hollow)
                continue;
            s += "<circle cx=\"" + P(ax.Map(se.x[i], left, right)) + "\" cy=\"" +
                 P(ay.Map(se.y[i], bottom, top)) + "\" r=\"" + (drawable == 1 ? "4" : "2.5") + "\" fill=\"" +
                 (hollow ? "#ffffff" : se.colour) + "\" stroke=\"" + se.colour +
                 "\" stroke-width=\"1.5\"/>\n";
        }
    }
    if (!c.flag.empty() && !c.series.empty()) {
        // At the last drawable point of the first series: a red downward triangle and the words.
        const Series& se = c.series.front();
        for (size_t i = std::min(se.x.size(), se.y.size()); i-- > 0;) {
            if (!Finite(se.x[i]) || !Finite(se.y[i]) || (c.logY && !(se.y[i] > 0.0)))
                continue;
            const double px = ax.Map(se.x[i], left, right), py = ay.Map(se.y[i], bottom, top);
            s += "<polygon points=\"" + P(px - 7) + "," + P(py - 14) + " " + P(px + 7) + "," + P(py - 14) +
                 " " + P(px) + "," + P(py - 3) + "\" fill=\"#C00000\" class=\"flag\"/>\n";
            // The words above the plot, where they cover no line.
            s += "<text x=\"" + P(right) + "\" y=\"" + P(top - 5) +
                 "\" text-anchor=\"end\" class=\"fl\">\u25bc " + Escape(c.flag) + "</text>\n";
            break;
        }
    }
    if (legend) {
        double x = left + 8;
        for (const Series& se : c.series) {
            if (se.line)
                s += "<line x1=\"" + P(x) + "\" y1=\"" + P(top - 9) + "\" x2=\"" + P(x + 18) + "\" y2=\"" +
                     P(top - 9) + "\" stroke=\"" + se.colour + "\" stroke-width=\"2\"" +
                     (se.dashed ? " stroke-dasharray=\"6 3\"" : "") + "/>\n";
            else // points only: a marker
                s += "<circle class=\"lgm\" cx=\"" + P(x + 9) + "\" cy=\"" + P(top - 9) +
                     "\" r=\"2.5\" fill=\"" + se.colour + "\"/>\n";
            s += "<text x=\"" + P(x + 22) + "\" y=\"" + P(top - 5) + "\" class=\"lg\">" + Escape(se.name) +
                 "</text>\n";
            x += 34 + 7.0 * static_cast<double>(se.name.size());
        }
    }
    // A log scale cannot show 0 or a negative value: say so rather than let the line end.
    std::string note = c.note;
    if (c.logY && note.empty()) {
        bool left = false;
        for (const Series& se : c.series)
            for (double v : se.y)
                left = left || (Finite(v) && !(v > 0.0));
        if (left)
            note = "values \u2264 0 are not drawn on this log scale";
    }
    if (!note.empty())
        s += "<text x=\"" + P(right) + "\" y=\"" + P(H - 3) + "\" text-anchor=\"end\" class=\"cn\">" +
             Escape(note) + "</text>\n";
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
    if (r.IsFit() && !k.haveRecords)
        k.f0 = r.initialF;
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

// The records split into the runs of the driver: a run starts at iteration 0 (or where
// the iteration number falls, should its start record be missing). The abscissa counts
// the iterations of all runs, so that run k + 1 starts where run k ended.
struct RunSplit {
    std::vector<size_t> starts;    // index of each run's first record
    std::vector<double> at;        // abscissa of each record
    std::vector<bool> breakBefore; // true at the first record of runs 2, 3, ...
    std::vector<std::pair<double, std::string>> marks;
};

RunSplit SplitRuns(const std::vector<IterationRecord>& it) {
    RunSplit r;
    double offset = 0.0;
    int previous = 0;
    for (size_t i = 0; i < it.size(); i++) {
        const int k = it[i].iteration;
        const bool start = i == 0 || k == 0 || k < previous;
        if (start && i > 0)
            offset += previous;
        if (start)
            r.starts.push_back(i);
        r.at.push_back(offset + k);
        r.breakBefore.push_back(start && i > 0);
        if (start && i > 0)
            r.marks.emplace_back(offset + k, "run " + std::to_string(r.starts.size()));
        previous = k;
    }
    return r;
}

// How the driver ran, for the header: "step mode", "tool driver, 2 runs" and so on.
std::string DriverText(const MinimizeResult& r) {
    if (r.IsFit())
        return "least squares, " + Plural(r.runs, "engine run") +
               (r.fit.attempts > 1 ? ", " + Plural(r.fit.attempts, "fit") : "");
    std::string driver = Setting(r, "Driver");
    if (driver.rfind("step", 0) == 0)
        return "step mode";
    if (driver.rfind("tool", 0) == 0 || r.runs > 1)
        return "tool driver, " + Plural(r.runs, "run");
    if (driver.rfind("engine", 0) == 0)
        return "engine, one run";
    return driver;
}

// f falls without bound: the run failed, ended at its lowest value, below zero, and either
// the engine saw five maximum-length steps in a row or f fell by more than a million times
// its scale.
bool Diverging(const MinimizeResult& r) {
    if (r.success || r.iterationRecords.empty())
        return false;
    double lowest = INFINITY, last = NAN, first = NAN;
    for (const IterationRecord& e : r.iterationRecords)
        if (Finite(e.f)) {
            lowest = std::min(lowest, e.f);
            last = e.f;
            if (std::isnan(first))
                first = e.f;
        }
    if (!Finite(last) || last > lowest || !(last < first) || !(last < 0.0))
        return false;
    return r.code == static_cast<int>(Status::TooManyLargeSteps) ||
           first - last > 1e6 * std::max(1.0, std::fabs(first));
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
    const std::string f = r.IsFit() ? "cost" : "f";
    s += "<text x=\"24\" y=\"52\" class=\"vt\">" + f + "\u2080 = " + Escape(Num(k.f0)) + "  \u2192  " + f +
         " = " + Escape(Num(k.f)) + "</text>\n";
    s += "<text x=\"24\" y=\"74\" class=\"vt\">" + Plural(r.iterations, "iteration") +
         ", max |g\u1d62| = " + Escape(Num(k.g, 3)) +
         (r.IsFit() ? ", status " + std::to_string(r.fit.status) + " (" + Escape(r.fit.statusName) + ")"
                    : ", code " + std::to_string(r.code)) +
         "</text>\n";
    s += "</svg>\n";

    s += "<table class=\"kv\">\n";
    s += Row("Method", std::to_string(r.method) + ", " + Escape(MethodName(r.method)));
    const std::string driver = DriverText(r);
    if (!driver.empty())
        s += Row("Driver", Escape(driver));
    if (!r.derivatives.empty())
        s += Row("Derivatives", Escape(r.derivatives));
    if (r.IsFit())
        s += Row("Termination", Escape(r.message) + " (" + Escape(r.fit.statusName) + ", status " +
                                    std::to_string(r.fit.status) + "; engine code " + std::to_string(r.code) +
                                    ")");
    else
        s += Row("Termination", Escape(r.message) + " (code " + std::to_string(r.code) + ")");
    // How the end point was judged, as the result says it.
    const Verdict& v = r.verdict;
    if (v.test == "newton-decrease" && std::isfinite(v.decrease))
        s += Row("Verdict", "a Newton step would lower f by " + Escape(Num(v.decrease, 4)) +
                                (v.decrease <= v.allowed ? " &le; " : " &gt; ") + Escape(Num(v.allowed, 4)) +
                                " allowed; " + Escape(v.hessianSource) + " Hessian, " +
                                (v.positiveDefinite ? "positive definite" : "not positive definite"));
    else if (v.test == "gauss-newton-decrease" && std::isfinite(v.decrease))
        s += Row("Verdict", "the Gauss-Newton step would lower the cost by " + Escape(Num(v.decrease, 4)) +
                                (v.decrease <= v.allowed ? " &le; " : " &gt; ") + Escape(Num(v.allowed, 4)) +
                                " allowed (see the fit section)");
    else if (!v.test.empty())
        s += Row("Verdict", Escape(std::string(OutcomeName(r.outcome)) + " (" + v.test + ", " +
                                   v.hessianSource + " Hessian)"));
    s += Row(f + "\u2080 \u2192 " + f, Escape(Num(k.f0, 10)) + " \u2192 " + Escape(Num(k.f, 10)));
    s += Row("max |g\u1d62| at the end", Escape(Num(k.g)));
    s += Row("Iterations", std::to_string(r.iterations) + (r.runs > 1 ? " in " + Plural(r.runs, "run") : ""));
    if (r.IsFit())
        s += Row("Evaluations", "residual " + std::to_string(r.fit.residualEvaluations) + ", Jacobian " +
                                    std::to_string(r.fit.jacobianEvaluations));
    else
        s += Row("Evaluations", "f " + std::to_string(r.evaluations.f) + ", gradient " +
                                    std::to_string(r.evaluations.gradient) + ", Hessian " +
                                    std::to_string(r.evaluations.hessian) +
                                    (contourEvaluations > 0
                                         ? " (the contour plot took " + std::to_string(contourEvaluations) +
                                               " more evaluations of f, not counted here)"
                                         : ""));
    s += Row("Time", Escape(Num(r.timeSeconds, 3)) + " s");
    const std::vector<std::string> names = Names(r, o);
    std::string point;
    for (size_t i = 0; i < r.x.size() && i < 50; i++)
        point += (i ? ", " : "") + Escape(names[i]) + " = " + Escape(Num(r.x[i], 15));
    if (r.x.size() > 50)
        point += ", \u2026 (" + Plural(static_cast<long>(r.x.size()), "parameter") + ")";
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
    const RunSplit runs = SplitRuns(it);
    Series f{"f", kPalette[0], {}, {}, false, {}, runs.breakBefore},
        g{"max |g\u1d62|", kPalette[1], {}, {}, false, {}, runs.breakBefore};
    double fmin = INFINITY;
    for (const IterationRecord& e : it)
        if (Finite(e.f))
            fmin = std::min(fmin, e.f);
    // Three pictures of f: log f while f stays positive; after a successful run that went to
    // zero or below, the distance to the lowest value; otherwise f itself, signed, on a
    // symmetric log scale, so that a fall without bound is seen as one.
    const bool positive = !Finite(fmin) || fmin > 0.0;
    const bool difference = !positive && r.success;
    const bool signedScale = !positive && !difference;
    const bool diverging = Diverging(r);
    double smallest = INFINITY;
    for (const IterationRecord& e : it) {
        const double v = difference ? e.f - fmin : e.f;
        if (Finite(v) && v > 0.0)
            smallest = std::min(smallest, v);
    }
    bool clamped = false;
    for (size_t i = 0; i < it.size(); i++) {
        const IterationRecord& e = it[i];
        double v = difference ? e.f - fmin : e.f;
        bool hollow = false;
        if (difference && v == 0.0) {
            // The minimum itself: drawn at the bottom of the scale, hollow.
            v = Finite(smallest) ? smallest / 10.0 : 1.0;
            hollow = clamped = true;
        }
        f.x.push_back(runs.at[i]);
        f.y.push_back(v);
        f.hollow.push_back(hollow);
        g.x.push_back(runs.at[i]);
        g.y.push_back(e.gradientNorm);
    }
    const std::string xLabel = runs.starts.size() > 1 ? "iteration (all runs)" : "iteration";
    Chart cf;
    cf.title = difference ? "f \u2212 min f" : signedScale ? "Objective f (signed)" : "Objective f";
    if (r.IsFit() && !difference && !signedScale)
        cf.title = "Cost \u00bd \u03a3 \u03c1(r\u1d62\u00b2)";
    cf.xLabel = xLabel;
    cf.yLabel = difference ? "f \u2212 min f (log)" : signedScale ? "f (symmetric log)" : "f (log)";
    cf.logY = !signedScale;
    cf.symlogY = signedScale;
    cf.marks = runs.marks;
    cf.series.push_back(f);
    if (diverging)
        cf.flag = "diverging: f falls without bound";
    if (clamped)
        cf.note = "hollow: the minimum itself (difference 0)";
    Chart cg;
    cg.title = "Largest gradient component";
    cg.xLabel = xLabel;
    cg.yLabel = "max |g\u1d62| (log)";
    cg.logY = true;
    cg.marks = runs.marks;
    cg.series.push_back(g);
    s += "<div class=\"row\">" + DrawChart(cf) + DrawChart(cg) + "</div>\n";
    std::string cap = "The whole run, from the start point (iteration 0) to the point it ended at.";
    if (runs.starts.size() > 1 && r.IsFit())
        cap += " The fit made " + Plural(static_cast<long>(runs.starts.size()), "engine run") +
               " (a new one starts where the last ended when the parameter scales grow" +
               (r.fit.attempts > 1 ? ", and each fallback fit starts again from x0" : "") +
               "); dashed lines mark where each starts.";
    else if (runs.starts.size() > 1)
        cap += " The tool driver made " + Plural(static_cast<long>(runs.starts.size()), "run") +
               ", each restarting where the last ended; dashed lines mark where each run starts, and the "
               "runs are drawn apart.";
    if (difference)
        cap += " f goes to zero or below, so the distance to the smallest value reached is shown.";
    if (signedScale)
        cap += " f goes below zero, so f itself is shown on a symmetric log scale (linear near 0, "
               "logarithmic on both sides).";
    if (diverging)
        cap += " f kept falling to the end of the run (" + Num(it.front().f) + " \u2192 " + Num(fmin) +
               "): the objective looks unbounded below, and this is not convergence.";
    s += "<p class=\"cap" + std::string(diverging ? " alarm" : "") + "\">" + Escape(cap) +
         "</p>\n</section>\n";
    return s;
}

std::string StepSection(const MinimizeResult& r) {
    std::string s = "<section id=\"steps\"><h2>Steps</h2>\n";
    const MethodInfo* method = FindMethod(r.method);
    const std::string radiusName = method ? method->radiusTitle : "radius";
    const RunSplit runs = SplitRuns(r.iterationRecords);
    Series len{"step length", kPalette[2], {}, {}, false, {}, {}},
        rad{radiusName, kPalette[3], {}, {}, true, {}, {}};
    bool newRun = false;
    for (size_t i = 0; i < r.iterationRecords.size(); i++) {
        const IterationRecord& e = r.iterationRecords[i];
        if (i < runs.breakBefore.size() && runs.breakBefore[i])
            newRun = true;
        if (e.iteration == 0 && e.stepLength == 0.0)
            continue; // the start point of a run has no step
        len.x.push_back(runs.at[i]);
        len.y.push_back(e.stepLength);
        rad.x.push_back(runs.at[i]);
        rad.y.push_back(e.radius);
        len.breakBefore.push_back(newRun);
        rad.breakBefore.push_back(newRun);
        newRun = false;
    }
    Chart c;
    c.title = "Step length and " + radiusName;
    c.xLabel = runs.starts.size() > 1 ? "iteration (all runs)" : "iteration";
    c.yLabel = "length (log)";
    c.logY = true;
    c.width = 950;
    c.marks = runs.marks;
    c.series = {len, rad};
    s += DrawChart(c);
    s += "</section>\n";
    return s;
}

std::string ParameterSection(const MinimizeResult& r, const ReportOptions& o) {
    const std::vector<IterationRecord>& it = r.iterationRecords;
    const std::vector<std::string> names = Names(r, o);
    const size_t n = it.empty() ? 0 : it.front().x.size();
    const RunSplit runs = SplitRuns(it);
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
        Series se{names.size() > i ? names[i] : std::to_string(i),
                  kPalette[k % kPaletteSize],
                  {},
                  {},
                  false,
                  {},
                  runs.breakBefore};
        for (size_t j = 0; j < it.size(); j++) {
            se.x.push_back(runs.at[j]);
            se.y.push_back(i < it[j].x.size() ? it[j].x[i] : NAN);
        }
        Chart c;
        c.title = se.name;
        c.xLabel = runs.starts.size() > 1 ? "iteration (all runs)" : "iteration";
        c.yLabel = se.name;
        c.width = 310;
        c.height = 200;
        c.legend = false;
        c.marks = runs.marks;
        c.series.push_back(se);
        s += DrawChart(c);
    }
    s += "</div>\n</section>\n";
    return s;
}

// ---------------------------------------------------------------- fit

// The parameter table shows at most kFitRowsShown parameters, the correlation matrix
// every entry up to kCorrelationUpTo parameters (beyond: the most correlated pairs).
constexpr size_t kFitRowsShown = 200;
constexpr size_t kCorrelationUpTo = 20;
constexpr size_t kCorrelatedPairsShown = 20;

// The indices of the data points drawn as markers: all of them up to kReportFitMarkers,
// else every k-th.
std::vector<size_t> MarkerIndices(size_t count, size_t& stride) {
    stride = count > kReportFitMarkers ? (count + kReportFitMarkers - 1) / kReportFitMarkers : 1;
    std::vector<size_t> shown;
    for (size_t i = 0; i < count; i += stride)
        shown.push_back(i);
    return shown;
}

std::string DataPlot(const FitData& d, std::string& caption) {
    const size_t m = std::min(d.x.size(), d.y.size());
    size_t stride = 1;
    const std::vector<size_t> shown = MarkerIndices(m, stride);
    const bool bars = d.sigma.size() == m;
    Series data{"data", kPalette[0], {}, {}, false, {}, {}};
    data.line = false;
    double lo = INFINITY, hi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
    for (size_t i = 0; i < m; i++) {
        if (Finite(d.x[i]))
            lo = std::min(lo, d.x[i]), hi = std::max(hi, d.x[i]);
        if (Finite(d.y[i]))
            ylo = std::min(ylo, d.y[i]), yhi = std::max(yhi, d.y[i]);
    }
    for (size_t i : shown) {
        data.x.push_back(d.x[i]);
        data.y.push_back(d.y[i]);
        if (bars)
            data.errors.push_back(d.sigma[i]);
    }
    Chart c;
    c.title = "Data and fit";
    c.xLabel = d.xLabel;
    c.yLabel = d.yLabel;
    c.width = 950;
    c.height = 360;
    c.integerX = false;
    // The curve on evenly spread points over the x range; values more than the data's
    // span beyond it are left out (the polyline breaks there).
    bool clipped = false;
    if (d.curve && lo <= hi) {
        Series curve{"fit", kPalette[1], {}, {}, false, {}, {}};
        curve.markers = false;
        const int points = lo < hi ? std::clamp(d.curvePoints, 2, 5000) : 1;
        const double span = Finite(yhi - ylo) && yhi > ylo ? yhi - ylo : std::max(1.0, std::fabs(yhi));
        for (int k = 0; k < points; k++) {
            const double xv = points == 1 ? lo : lo + (hi - lo) * k / (points - 1);
            double yv = d.curve(xv);
            if (Finite(yv) && (yv < ylo - span || yv > yhi + span))
                yv = NAN, clipped = true;
            curve.x.push_back(xv);
            curve.y.push_back(yv);
        }
        c.series.push_back(curve);
    }
    const size_t curvePoints = c.series.empty() ? 0 : c.series.back().x.size();
    c.series.push_back(data); // drawn last: the points lie on the curve
    caption = Plural(static_cast<long>(m), "data point");
    if (stride > 1)
        caption += " (every " + std::to_string(stride) + "th drawn)";
    if (bars)
        caption += " with error bars of \u00b1 \u03c3";
    if (d.curve)
        caption +=
            "; the fitted curve at " + std::to_string(curvePoints) + " points over the x range of the data";
    if (clipped)
        caption += " (where it leaves the data's range by more than its span, it is not drawn)";
    return DrawChart(c);
}

std::string ResidualPlot(const MinimizeResult& r, const FitData& d, std::string& caption) {
    const std::vector<double>& res = r.fit.residuals;
    const bool againstX = d.x.size() == res.size();
    size_t stride = 1;
    const std::vector<size_t> shown = MarkerIndices(res.size(), stride);
    Series points{"residuals", kPalette[0], {}, {}, false, {}, {}};
    points.line = false;
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < res.size(); i++) {
        const double xv = againstX ? d.x[i] : static_cast<double>(i);
        if (Finite(xv))
            lo = std::min(lo, xv), hi = std::max(hi, xv);
    }
    for (size_t i : shown) {
        points.x.push_back(againstX ? d.x[i] : static_cast<double>(i));
        points.y.push_back(res[i]);
    }
    Chart c;
    c.title = "Residuals";
    c.xLabel = againstX ? d.xLabel : "residual index";
    c.yLabel = d.weighted ? "(model \u2212 " + d.yLabel + ") / \u03c3" : "model \u2212 " + d.yLabel;
    if (!againstX && !d.weighted)
        c.yLabel = "residual";
    c.width = 950;
    c.height = 260;
    c.integerX = !againstX;
    c.legend = false;
    c.series.push_back(points);
    if (lo <= hi) {
        Series zero{"0", "#777777", {lo, hi}, {0.0, 0.0}, true, {}, {}};
        zero.markers = false;
        c.series.push_back(zero);
    }
    caption = Plural(static_cast<long>(res.size()), "residual") +
              (againstX ? " against " + d.xLabel : std::string(" by index")) +
              (stride > 1 ? " (every " + std::to_string(stride) + "th drawn)" : "") +
              (d.weighted ? ", each divided by its \u03c3" : "") + "; the dashed line is 0.";
    return DrawChart(c);
}

std::string FitSection(const MinimizeResult& r, const ReportOptions& o) {
    const LeastSquaresFit& fit = r.fit;
    const Uncertainty& u = fit.uncertainty;
    const std::vector<std::string> names = Names(r, o);
    const size_t n = r.x.size();
    std::string s = "<section id=\"fit\"><h2>Fit</h2>\n<table class=\"kv\">\n";
    const Verdict& v = r.verdict;
    std::string verdict = r.success ? "success" : std::string("no success (") + OutcomeName(r.outcome) + ")";
    if (v.test == "gauss-newton-decrease" && std::isfinite(v.decrease))
        verdict += ": the Gauss-Newton step would lower the cost by " + Num(v.decrease, 4) +
                   (v.decrease <= v.allowed ? " \u2264 " : " > ") + Num(v.allowed, 4) + " allowed";
    else if (r.outcome == Outcome::NotUnique)
        verdict += ": the Jacobian at the end point is rank deficient";
    s += Row("Verdict", Escape(verdict));
    s += Row("Stopped by",
             Escape(fit.statusName + " (status " + std::to_string(fit.status) + "): " + r.message));
    s += Row("Cost", Escape(Num(r.initialF, 10) + " \u2192 " + Num(r.f, 10)));
    if (u.computed && u.dof > 0 && !u.absoluteSigma)
        s += Row("Residual sd", Escape(Num(std::sqrt(u.residualVariance), 6)));
    s += Row("Degrees of freedom", std::to_string(u.dof) + " (" +
                                       Plural(static_cast<long>(fit.m), "residual") + ", " +
                                       Plural(static_cast<long>(n), "parameter") + ")");
    s += Row("Loss", Escape(fit.loss + (fit.loss == "linear" ? "" : ", scale " + Num(fit.lossScale))));
    s += Row("Covariance", u.absoluteSigma ? "(J\u1d40J)\u207b\u00b9 (absolute sigma)"
                                           : "s\u00b2 (J\u1d40J)\u207b\u00b9, s\u00b2 the residual variance");
    s += Row("Evaluations",
             "residual " + std::to_string(fit.residualEvaluations) + ", Jacobian " +
                 std::to_string(fit.jacobianEvaluations) +
                 (fit.differenceEvaluations > 0
                      ? " (+" + std::to_string(fit.differenceEvaluations) + " residual calls for differences)"
                      : ""));
    s += "</table>\n";

    // The parameters.
    s +=
        "<table class=\"data\" id=\"fit-parameters\"><thead><tr><th>Parameter</th><th>Value</th><th>Standard "
        "error</th><th>Relative error</th></tr></thead><tbody>\n";
    for (size_t j = 0; j < n && j < kFitRowsShown; j++) {
        const double se = j < u.standardErrors.size() ? u.standardErrors[j] : NAN;
        const double rel = r.x[j] != 0.0 ? se / std::fabs(r.x[j]) : NAN;
        const bool undetermined = std::find(u.undetermined.begin(), u.undetermined.end(),
                                            static_cast<int>(j)) != u.undetermined.end();
        s += std::string("<tr") + (undetermined ? " class=\"bad\"" : "") + "><td>" + Escape(names[j]) +
             "</td><td>" + Escape(Num(r.x[j], 12)) + "</td><td>" + Escape(Num(se, 4)) + "</td><td>" +
             (Finite(rel) ? Escape(Num(100.0 * rel, 3)) + " %" : Escape(Num(rel))) + "</td></tr>\n";
    }
    s += "</tbody></table>\n";
    if (n > kFitRowsShown)
        s += "<p class=\"cap\">The first " + std::to_string(kFitRowsShown) + " of " +
             Plural(static_cast<long>(n), "parameter") + ".</p>\n";
    if (!u.undetermined.empty())
        s += "<p class=\"cap alarm\">Highlighted: parameters the data cannot determine (their uncertainties "
             "are not defined).</p>\n";

    // The correlations.
    if (u.computed && u.correlation.size() == n * n && n > 1) {
        s += "<h3>Correlation</h3>\n";
        if (n <= kCorrelationUpTo) {
            s += "<table class=\"data\" id=\"fit-correlation\"><thead><tr><th></th>";
            for (size_t k = 0; k < n; k++)
                s += "<th>" + Escape(names[k]) + "</th>";
            s += "</tr></thead><tbody>\n";
            for (size_t i = 0; i < n; i++) {
                s += "<tr><th>" + Escape(names[i]) + "</th>";
                for (size_t k = 0; k < n; k++) {
                    const double c = u.correlation[i * n + k];
                    s += "<td style=\"background:" + Diverging(c) + "\">" + Escape(Num(c, 3)) + "</td>";
                }
                s += "</tr>\n";
            }
            s += "</tbody></table>\n";
        } else {
            std::vector<std::pair<size_t, size_t>> pairs;
            for (size_t i = 0; i < n; i++)
                for (size_t k = 0; k < i; k++)
                    pairs.emplace_back(i, k);
            auto size = [&](const std::pair<size_t, size_t>& p) {
                const double c = u.correlation[p.first * n + p.second];
                return Finite(c) ? std::fabs(c) : 2.0;
            };
            const size_t keep = std::min(pairs.size(), kCorrelatedPairsShown);
            std::partial_sort(pairs.begin(), pairs.begin() + static_cast<long>(keep), pairs.end(),
                              [&](const auto& a, const auto& b) { return size(a) > size(b); });
            s += "<p class=\"cap\">The " + std::to_string(keep) + " most correlated of " +
                 Plural(static_cast<long>(pairs.size()), "pair") + ".</p>\n";
            s += "<table class=\"data\" id=\"fit-correlation\"><thead><tr><th>Parameters</th><th>Correlation"
                 "</th></tr></thead><tbody>\n";
            for (size_t q = 0; q < keep; q++) {
                const double c = u.correlation[pairs[q].first * n + pairs[q].second];
                s += "<tr><td>" + Escape(names[pairs[q].first] + ", " + names[pairs[q].second]) +
                     "</td><td style=\"background:" + Diverging(c) + "\">" + Escape(Num(c, 3)) +
                     "</td></tr>\n";
            }
            s += "</tbody></table>\n";
        }
    }

    // The pictures.
    const FitData& d = o.fit;
    const bool haveData = !d.x.empty() && d.x.size() == fit.residuals.size() && d.y.size() == d.x.size();
    std::string caption;
    if (haveData) {
        s += "<div id=\"fit-data\">" + DataPlot(d, caption) + "</div>\n";
        s += "<p class=\"cap\">" + Escape(caption) + ".</p>\n";
    }
    if (!fit.residuals.empty()) {
        s += "<div id=\"fit-residuals\">" + ResidualPlot(r, d, caption) + "</div>\n";
        s += "<p class=\"cap\">" + Escape(caption) + "</p>\n";
    }
    s += "</section>\n";
    return s;
}

// The grid of objective values around the path of a two-parameter run: a coarse m x m
// grid over the box, and in the cells the path passes through and those on the floor of
// a valley (each with its neighbours) a grid kRefine times finer, so that the lowest
// contours of a narrow valley stay whole lines instead of breaking into islands.
constexpr int kRefine = 4;
constexpr int kMaxContourPoints = 201;

struct Contour {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    int m = 0;                  // coarse points per side
    int fine = 0;               // fine points per side: kRefine (m - 1) + 1
    std::vector<bool> refined;  // (m - 1)^2 coarse cells, row (y) major
    std::vector<bool> needed;   // fine^2 lattice points evaluated
    std::vector<double> v;      // fine^2 values (NaN where not evaluated)
    std::vector<double> levels; // contour levels, ascending
    bool anyNonFinite = false;
    int evaluations = 0;
    double X(int i) const { return x0 + (x1 - x0) * i / (fine - 1); }
    double Y(int j) const { return y0 + (y1 - y0) * j / (fine - 1); }
    size_t At(int i, int j) const {
        return static_cast<size_t>(j) * static_cast<size_t>(fine) + static_cast<size_t>(i);
    }
};

std::vector<std::pair<double, double>> ContourPath(const MinimizeResult& r) {
    std::vector<std::pair<double, double>> path;
    for (const IterationRecord& e : r.iterationRecords)
        if (e.x.size() == 2 && Finite(e.x[0]) && Finite(e.x[1]))
            path.emplace_back(e.x[0], e.x[1]);
    if (r.x.size() == 2 && Finite(r.x[0]) && Finite(r.x[1]) &&
        (path.empty() || path.back() != std::make_pair(r.x[0], r.x[1])))
        path.emplace_back(r.x[0], r.x[1]);
    return path;
}

bool ContourBox(const MinimizeResult& r, const ReportOptions& o, Contour& c) {
    if (!o.objective || r.iterationRecords.empty())
        return false;
    const std::vector<std::pair<double, double>> path = ContourPath(r);
    double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
    for (const auto& [x, y] : path)
        xlo = std::min(xlo, x), xhi = std::max(xhi, x), ylo = std::min(ylo, y), yhi = std::max(yhi, y);
    if (!(xlo <= xhi) || !(ylo <= yhi))
        return false;
    const double span = std::max(xhi - xlo, yhi - ylo);
    const double floor =
        std::max({span * 0.25,
                  1e-3 * std::max({std::fabs(xlo), std::fabs(xhi), std::fabs(ylo), std::fabs(yhi)}), 1e-6});
    const double px = std::max((xhi - xlo) * 0.15, floor * 0.5),
                 py = std::max((yhi - ylo) * 0.15, floor * 0.5);
    c.x0 = xlo - px, c.x1 = xhi + px, c.y0 = ylo - py, c.y1 = yhi + py;
    if (!(Finite(c.x0) && Finite(c.x1) && Finite(c.y0) && Finite(c.y1) && c.x1 > c.x0 && c.y1 > c.y0))
        return false;
    c.m = std::clamp(o.contourPoints, 8, kMaxContourPoints);
    c.fine = kRefine * (c.m - 1) + 1;
    const int cells = c.m - 1;
    c.refined.assign(static_cast<size_t>(cells) * static_cast<size_t>(cells), false);
    // The cells the path passes through: each segment sampled at a quarter cell.
    auto cellOf = [&](double x, double y, int& i, int& j) {
        i = std::clamp(static_cast<int>((x - c.x0) / (c.x1 - c.x0) * cells), 0, cells - 1);
        j = std::clamp(static_cast<int>((y - c.y0) / (c.y1 - c.y0) * cells), 0, cells - 1);
    };
    std::vector<bool> touched(c.refined.size(), false);
    for (size_t k = 0; k < path.size(); k++) {
        const auto& p = path[k];
        const auto& q = k + 1 < path.size() ? path[k + 1] : path[k];
        const double di = std::fabs(q.first - p.first) / (c.x1 - c.x0) * cells,
                     dj = std::fabs(q.second - p.second) / (c.y1 - c.y0) * cells;
        const int samples = static_cast<int>(std::min(4.0 * (di + dj) + 1.0, 4.0 * 2 * cells + 1.0));
        for (int t = 0; t <= samples; t++) {
            const double u = static_cast<double>(t) / samples;
            int i = 0, j = 0;
            cellOf(p.first + u * (q.first - p.first), p.second + u * (q.second - p.second), i, j);
            touched[static_cast<size_t>(j * cells + i)] = true;
        }
    }
    for (int j = 0; j < cells; j++)
        for (int i = 0; i < cells; i++)
            if (touched[static_cast<size_t>(j * cells + i)])
                for (int dj = -1; dj <= 1; dj++)
                    for (int di = -1; di <= 1; di++)
                        if (i + di >= 0 && i + di < cells && j + dj >= 0 && j + dj < cells)
                            c.refined[static_cast<size_t>((j + dj) * cells + i + di)] = true;
    return true;
}

// Evaluates the grid: the coarse points first, the contour levels at quantiles of their
// values, then the fine points of the refined cells: those along the path and those
// whose corners reach below the fourth level (the floor of narrow valleys), each with
// its neighbours.
void EvaluateContour(const Objective& objective, Contour& c) {
    const int cells = c.m - 1;
    c.needed.assign(static_cast<size_t>(c.fine) * static_cast<size_t>(c.fine), false);
    c.v.assign(c.needed.size(), NAN);
    c.evaluations = 0;
    c.anyNonFinite = false;
    std::vector<double> point(2);
    auto evaluate = [&](int i, int j) {
        if (c.needed[c.At(i, j)])
            return;
        c.needed[c.At(i, j)] = true;
        point[0] = c.X(i);
        point[1] = c.Y(j);
        const double v = objective(point);
        c.v[c.At(i, j)] = v;
        c.anyNonFinite = c.anyNonFinite || !Finite(v);
        ++c.evaluations;
    };
    for (int j = 0; j < c.m; j++)
        for (int i = 0; i < c.m; i++)
            evaluate(i * kRefine, j * kRefine);
    // Levels at quantiles of the coarse values: even spacing in what the eye sees, however
    // steep the valley.
    std::vector<double> sorted;
    for (int j = 0; j < c.m; j++)
        for (int i = 0; i < c.m; i++) {
            const double v = c.v[c.At(i * kRefine, j * kRefine)];
            if (Finite(v))
                sorted.push_back(v);
        }
    std::sort(sorted.begin(), sorted.end());
    c.levels.clear();
    const int nLevels = 14;
    if (!sorted.empty())
        for (int l = 1; l <= nLevels; l++) {
            const double q = std::pow(static_cast<double>(l) / (nLevels + 1), 1.6);
            const double v = sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
            if (c.levels.empty() || v > c.levels.back())
                c.levels.push_back(v);
        }
    if (c.levels.size() >= 6) {
        const double low = c.levels[5];
        std::vector<bool> valley(c.refined.size(), false);
        for (int j = 0; j < cells; j++)
            for (int i = 0; i < cells; i++) {
                const double v[4] = {c.v[c.At(i * kRefine, j * kRefine)],
                                     c.v[c.At((i + 1) * kRefine, j * kRefine)],
                                     c.v[c.At(i * kRefine, (j + 1) * kRefine)],
                                     c.v[c.At((i + 1) * kRefine, (j + 1) * kRefine)]};
                valley[static_cast<size_t>(j * cells + i)] =
                    v[0] < low || v[1] < low || v[2] < low || v[3] < low;
            }
        for (int j = 0; j < cells; j++)
            for (int i = 0; i < cells; i++)
                if (valley[static_cast<size_t>(j * cells + i)])
                    for (int dj = -1; dj <= 1; dj++)
                        for (int di = -1; di <= 1; di++)
                            if (i + di >= 0 && i + di < cells && j + dj >= 0 && j + dj < cells)
                                c.refined[static_cast<size_t>((j + dj) * cells + i + di)] = true;
    }
    for (int j = 0; j < cells; j++)
        for (int i = 0; i < cells; i++)
            if (c.refined[static_cast<size_t>(j * cells + i)])
                for (int b = 0; b <= kRefine; b++)
                    for (int a = 0; a <= kRefine; a++)
                        evaluate(i * kRefine + a, j * kRefine + b);
    // The fine points not evaluated take the bilinear interpolation of their coarse
    // cell's corners. Every cell is then drawn on the fine lattice, and a contour that
    // leaves a refined cell meets its continuation on the shared edge, whose values both
    // cells share.
    for (int j = 0; j < cells; j++)
        for (int i = 0; i < cells; i++) {
            if (c.refined[static_cast<size_t>(j * cells + i)])
                continue;
            const double v00 = c.v[c.At(i * kRefine, j * kRefine)],
                         v10 = c.v[c.At((i + 1) * kRefine, j * kRefine)],
                         v01 = c.v[c.At(i * kRefine, (j + 1) * kRefine)],
                         v11 = c.v[c.At((i + 1) * kRefine, (j + 1) * kRefine)];
            for (int b = 0; b <= kRefine; b++)
                for (int a = 0; a <= kRefine; a++) {
                    const size_t at = c.At(i * kRefine + a, j * kRefine + b);
                    if (c.needed[at])
                        continue;
                    const double u = static_cast<double>(a) / kRefine, w = static_cast<double>(b) / kRefine;
                    c.v[at] = (1 - u) * (1 - w) * v00 + u * (1 - w) * v10 + (1 - u) * w * v01 + u * w * v11;
                }
        }
}

std::string ContourSection(const MinimizeResult& r, const ReportOptions& o, const Contour& c) {
    const std::vector<std::string> names = Names(r, o);
    const std::vector<double>& levels = c.levels;
    const bool anyNonFinite = c.anyNonFinite;
    const double W = 600, H = 480, left = 70, right = W - 130, top = 30, bottom = H - 46;
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
    // Where f is not finite: grey, one rectangle per row of neighbouring fine squares
    // that have a non-finite corner.
    auto finiteSquare = [&](int i, int j) {
        return Finite(c.v[c.At(i, j)]) && Finite(c.v[c.At(i + 1, j)]) && Finite(c.v[c.At(i + 1, j + 1)]) &&
               Finite(c.v[c.At(i, j + 1)]);
    };
    if (anyNonFinite) {
        std::string d;
        for (int j = 0; j + 1 < c.fine; j++)
            for (int i = 0; i + 1 < c.fine; i++) {
                if (finiteSquare(i, j))
                    continue;
                int k = i;
                while (k + 2 < c.fine && !finiteSquare(k + 1, j))
                    ++k;
                const double xa = X(c.X(i)), xb = X(c.X(k + 1)), ya = Y(c.Y(j + 1)), yb = Y(c.Y(j));
                d += "M" + P(xa) + " " + P(ya) + "H" + P(xb) + "V" + P(yb) + "H" + P(xa) + "Z";
                i = k;
            }
        s += "<path d=\"" + d +
             "\" fill=\"#9e9e9e\" fill-opacity=\"0.6\" stroke=\"none\" class=\"nonfinite\"/>\n";
    }
    // Marching squares, one path per level.
    for (size_t l = 0; l < levels.size(); l++) {
        const double lv = levels[l];
        std::string d;
        for (int j = 0; j + 1 < c.fine; j++)
            for (int i = 0; i + 1 < c.fine; i++) {
                const int k = 1;
                const double v[4] = {c.v[c.At(i, j)], c.v[c.At(i + k, j)], c.v[c.At(i + k, j + k)],
                                     c.v[c.At(i, j + k)]};
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
                for (int e = 0; e + 1 < count; e += 2) {
                    d += 'M';
                    d += P(X(c.X(i) + ex[e] * (c.X(i + k) - c.X(i))));
                    d += ' ';
                    d += P(Y(c.Y(j) + ey[e] * (c.Y(j + k) - c.Y(j))));
                    d += 'L';
                    d += P(X(c.X(i) + ex[e + 1] * (c.X(i + k) - c.X(i))));
                    d += ' ';
                    d += P(Y(c.Y(j) + ey[e + 1] * (c.Y(j + k) - c.Y(j))));
                }
            }
        if (!d.empty())
            s += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" +
                 Sequential(static_cast<double>(l) / std::max<size_t>(1, levels.size() - 1)) +
                 "\" stroke-width=\"1.2\" stroke-linecap=\"round\"/>\n";
    }
    // The path; each run of the tool driver starts where the last ended, so it is one line.
    const std::vector<std::pair<double, double>> path = ContourPath(r);
    std::string pts;
    for (const auto& [x, y] : path)
        pts += (pts.empty() ? "" : " ") + P(X(x)) + "," + P(Y(y));
    s += "<polyline points=\"" + pts + "\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
    // Start: a circle; end: a square (told apart by shape as well as colour).
    auto startMarker = [&](double x, double y) {
        return "<circle cx=\"" + P(x) + "\" cy=\"" + P(y) +
               "\" r=\"6\" fill=\"#56B4E9\" stroke=\"#000000\" stroke-width=\"1.2\" class=\"start\"/>\n";
    };
    auto endMarker = [&](double x, double y) {
        return "<rect x=\"" + P(x - 6) + "\" y=\"" + P(y - 6) +
               "\" width=\"12\" height=\"12\" fill=\"#D55E00\" stroke=\"#000000\" stroke-width=\"1.2\" "
               "class=\"end\"/>\n";
    };
    for (size_t i = 1; i + 1 < path.size(); i++)
        s += "<circle cx=\"" + P(X(path[i].first)) + "\" cy=\"" + P(Y(path[i].second)) +
             "\" r=\"2.2\" fill=\"#000000\"/>\n";
    if (!path.empty()) {
        if (path.size() > 1)
            s += endMarker(X(path.back().first), Y(path.back().second));
        s += startMarker(X(path.front().first), Y(path.front().second));
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
    // Legend: the levels, the markers and the region where f is not finite.
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
    double ly = top + 34 + 14.0 * static_cast<double>(levels.size());
    s += startMarker(right + 21, ly - 4) + "<text x=\"" + P(right + 34) + "\" y=\"" + P(ly) +
         "\" class=\"tk\">start</text>\n";
    ly += 18;
    s += endMarker(right + 21, ly - 4) + "<text x=\"" + P(right + 34) + "\" y=\"" + P(ly) +
         "\" class=\"tk\">end</text>\n";
    if (anyNonFinite) {
        ly += 18;
        s += "<rect x=\"" + P(right + 13) + "\" y=\"" + P(ly - 10) +
             "\" width=\"16\" height=\"12\" fill=\"#9e9e9e\" fill-opacity=\"0.6\" stroke=\"#666\"/><text "
             "x=\"" +
             P(right + 34) + "\" y=\"" + P(ly) + "\" class=\"tk\">f not finite</text>\n";
    }
    s += "</svg>\n";
    s += "<p class=\"cap\">The contours take " + std::to_string(c.evaluations) + " evaluations of f: a " +
         std::to_string(c.m) + " \u00d7 " + std::to_string(c.m) + " grid, " + std::to_string(kRefine) +
         " times finer in the cells along the path and the valley floor, made for this picture only and not "
         "counted in the run's "
         "evaluations." +
         (anyNonFinite ? " Grey: f is NaN or infinite there." : "") + "</p>\n</section>\n";
    return s;
}

// Parameters up to which the heat map shows every entry (beyond: the largest entry of
// each block), up to which cells carry their numbers, and up to which the eigenvalues are
// computed (Householder reduction: about 4/3 n^3 operations).
constexpr int kFullMapUpTo = 40;
constexpr int kNumbersUpTo = 8;
constexpr int kEigenvaluesUpTo = 1000;

std::string HessianSection(const MinimizeResult& r, const ReportOptions& o) {
    std::string s = "<section id=\"hessian\"><h2>Model Hessian at the end</h2>\n";
    const std::vector<std::string> names = Names(r, o);
    const size_t nn = r.hessian.size();
    const int n = static_cast<int>(std::lround(std::sqrt(static_cast<double>(nn))));
    if (nn == 0 || static_cast<size_t>(n) * static_cast<size_t>(n) != nn) {
        s += "<p>" +
             std::string(FindMethod(r.method) && !FindMethod(r.method)->usesHessian
                             ? "The conjugate-gradient method keeps no Hessian."
                         : r.runs > 1 ? "No model Hessian was kept from the last run of the tool driver."
                                      : "No model Hessian was kept for this run.") +
             "</p>\n</section>\n";
        return s;
    }
    auto H = [&](int i, int j) {
        return r.hessian[static_cast<size_t>(i) * static_cast<size_t>(n) + static_cast<size_t>(j)];
    };
    auto name = [&](int i) {
        return static_cast<size_t>(i) < names.size() ? names[static_cast<size_t>(i)] : std::to_string(i);
    };
    double big = 0.0;
    bool anyNonFinite = false;
    for (double v : r.hessian) {
        if (Finite(v))
            big = std::max(big, std::fabs(v));
        else
            anyNonFinite = true;
    }
    // Beyond kFullMapUpTo parameters, blocks of b x b entries drawn as one cell with the
    // entry of largest magnitude (non-finite when any is).
    const int b = n <= kFullMapUpTo ? 1 : (n + kFullMapUpTo - 1) / kFullMapUpTo;
    const int nb = (n + b - 1) / b;
    auto blockName = [&](int k) {
        const int first = k * b, last = std::min(n, first + b) - 1;
        return b == 1 ? name(first) : name(first) + "\u2013" + name(last);
    };
    auto blockValue = [&](int bi, int bj) {
        double best = 0.0;
        for (int i = bi * b; i < std::min(n, (bi + 1) * b); i++)
            for (int j = bj * b; j < std::min(n, (bj + 1) * b); j++) {
                const double v = H(i, j);
                if (!Finite(v))
                    return v;
                if (std::fabs(v) > std::fabs(best))
                    best = v;
            }
        return best;
    };
    const bool text = n <= kNumbersUpTo;
    const int cell = n <= 4 ? 64 : text ? 52 : std::max(12, std::min(36, 520 / nb));
    // Labels: horizontal; where they do not fit, every k-th one.
    size_t longest = 1;
    for (int k = 0; k < nb; k++)
        longest = std::max(longest, blockName(k).size());
    const double labelWidth = 6.2 * static_cast<double>(std::min<size_t>(longest, 24)) + 8;
    const int columnStride = std::max(1, static_cast<int>(std::ceil(labelWidth / cell)));
    const int rowStride = std::max(1, static_cast<int>(std::ceil(13.0 / cell)));
    const int labelW = static_cast<int>(labelWidth) + 8;
    const int top = 30;
    const int W = labelW + nb * cell + 170, Hgt = top + nb * cell + 24;
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"" + std::to_string(W) +
         "\" height=\"" + std::to_string(Hgt) + "\" viewBox=\"0 0 " + std::to_string(W) + " " +
         std::to_string(Hgt) + "\" role=\"img\" aria-label=\"Hessian heat map\">\n";
    s += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(W) + "\" height=\"" + std::to_string(Hgt) +
         "\" fill=\"#ffffff\"/>\n";
    auto cut = [](const std::string& t) { return t.size() > 24 ? t.substr(0, 23) + "\u2026" : t; };
    for (int i = 0; i < nb; i++)
        for (int j = 0; j < nb; j++) {
            const double v = b == 1 ? H(i, j) : blockValue(i, j);
            const double t = big > 0.0 ? v / big : (Finite(v) ? 0.0 : v);
            const int x = labelW + j * cell, y = top + i * cell;
            s += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                 std::to_string(cell) + "\" height=\"" + std::to_string(cell) + "\" fill=\"" + Diverging(t) +
                 "\" stroke=\"#ffffff\" stroke-width=\"1\"><title>" +
                 Escape(blockName(i) + ", " + blockName(j) + (b == 1 ? ": " : ": largest magnitude ") +
                        Num(v, 10)) +
                 "</title></rect>\n";
            if (text)
                s += "<text x=\"" + std::to_string(x + cell / 2) + "\" y=\"" +
                     std::to_string(y + cell / 2 + 4) + "\" text-anchor=\"middle\" class=\"hv\" fill=\"" +
                     (std::fabs(t) > 0.6 ? "#ffffff" : "#000000") + "\">" + Escape(Compact(v)) + "</text>\n";
        }
    for (int i = 0; i < nb; i += rowStride)
        s += "<text x=\"" + std::to_string(labelW - 6) + "\" y=\"" +
             std::to_string(top + i * cell + cell / 2 + 4) + "\" text-anchor=\"end\" class=\"tk\">" +
             Escape(cut(blockName(i))) + "</text>\n";
    for (int j = 0; j < nb; j += columnStride)
        s += "<text x=\"" + std::to_string(labelW + j * cell + cell / 2) + "\" y=\"" +
             std::to_string(top - 8) + "\" text-anchor=\"" + (columnStride == 1 ? "middle" : "start") +
             "\" class=\"tk\">" + Escape(cut(blockName(j))) + "</text>\n";
    // Legend: the diverging scale from -max|h| to +max|h|, and the grey of a non-finite entry.
    const int lx = labelW + nb * cell + 30, lh = std::max(100, std::min(220, nb * cell));
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
    if (anyNonFinite)
        s += "<rect x=\"" + std::to_string(lx) + "\" y=\"" + std::to_string(top + lh + 12) +
             "\" width=\"18\" height=\"14\" fill=\"" + Diverging(NAN) + "\" stroke=\"#444\"/><text x=\"" +
             std::to_string(lx + 24) + "\" y=\"" + std::to_string(top + lh + 23) +
             "\" class=\"tk\">not finite</text>\n";
    s += "</svg>\n";
    if (b > 1)
        s += "<p class=\"cap\">" + std::to_string(n) + " parameters: each cell stands for a block of " +
             std::to_string(b) + " \u00d7 " + std::to_string(b) +
             " entries and shows the one of largest magnitude (hover over a cell for its value).</p>\n";
    else if (!text)
        s += "<p class=\"cap\">Hover over a cell for its value.</p>\n";

    const std::vector<double> ev =
        n <= kEigenvaluesUpTo ? SymmetricEigenvalues(r.hessian, n) : std::vector<double>();
    if (n > kEigenvaluesUpTo) {
        s += "<p>Eigenvalues: not computed for more than " + std::to_string(kEigenvaluesUpTo) +
             " parameters.</p>\n";
    } else if (ev.empty()) {
        s += "<p>Eigenvalues: not computed (the matrix holds a non-finite value).</p>\n";
    } else {
        const double lo = ev.front(), hi = ev.back();
        std::string cond = lo > 0.0 ? Num(hi / lo, 4) : "not positive definite";
        s += "<p>Eigenvalues from " + Escape(Num(lo)) + " to " + Escape(Num(hi)) + "; condition number " +
             Escape(cond) + ".</p>\n";
        if (n > kNumbersUpTo) {
            Series se{"eigenvalue", kPalette[0], {}, {}, false, {}, {}};
            for (int i = 0; i < n; i++) {
                se.x.push_back(i + 1);
                se.y.push_back(ev[static_cast<size_t>(i)]);
            }
            Chart c;
            c.title = "Eigenvalue spectrum";
            c.xLabel = "eigenvalue number (ascending)";
            c.yLabel = lo > 0.0 ? "eigenvalue (log)" : "eigenvalue (symmetric log)";
            c.logY = lo > 0.0;
            c.symlogY = !(lo > 0.0);
            c.legend = false;
            c.width = 600;
            c.series.push_back(se);
            s += "<div id=\"spectrum\">" + DrawChart(c) + "</div>\n";
        }
    }
    s +=
        "<p class=\"cap\">The Hessian of the quadratic model the method used last (rebuilt from the engine's "
        "stored triangle and diagonal; the diagonal includes any shift that made it positive definite), not "
        "its "
        "Cholesky factor. Colours run from blue (negative) through white to red (positive), scaled to the "
        "largest magnitude.</p>\n</section>\n";
    return s;
}

// The status log shows at most its first and last kLogRowsKept rows, each cut after
// kLogRowBytes bytes; a derivative check at most kCheckRowsShown entries.
constexpr size_t kLogRowsKept = 1000;
constexpr size_t kLogRowBytes = 400;
constexpr size_t kCheckRowsShown = 200;

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
        // Beyond kCheckRowsShown entries: the flagged ones first, then those of largest
        // relative error, shown in their own order.
        std::vector<size_t> shown(check->entries.size());
        std::iota(shown.begin(), shown.end(), size_t{0});
        if (shown.size() > kCheckRowsShown) {
            auto key = [&](size_t i) {
                const CVRNDerivativeCheckEntry& e = check->entries[i];
                return (e.flagged ? 1e300 : 0.0) + (std::isnan(e.relativeError) ? 1e299 : e.relativeError);
            };
            std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) { return key(a) > key(b); });
            shown.resize(kCheckRowsShown);
            std::sort(shown.begin(), shown.end());
            s += "<p class=\"cap\">" + std::to_string(kCheckRowsShown) + " of " +
                 std::to_string(check->entries.size()) +
                 " entries: the flagged ones and those of largest relative error.</p>\n";
        }
        for (size_t i : shown) {
            const CVRNDerivativeCheckEntry& e = check->entries[i];
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
        s += Row("Method", std::to_string(r.method) + ", " + Escape(MethodName(r.method)));
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
    s += "<details><summary>" + Plural(static_cast<long>(r.log.size()), "row") + "</summary>\n<pre>";
    // A long log keeps its first and last rows; a long row is cut.
    const size_t n = r.log.size();
    for (size_t i = 0; i < n; i++) {
        if (n > 2 * kLogRowsKept && i == kLogRowsKept) {
            s += "\u2026 " + Plural(static_cast<long>(n - 2 * kLogRowsKept), "row") + " left out \u2026\n";
            i = n - kLogRowsKept;
        }
        const std::string& row = r.log[i];
        s += Escape(row.size() > kLogRowBytes ? row.substr(0, kLogRowBytes) + "\u2026" : row) + "\n";
    }
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
.long { overflow-wrap: anywhere; font-size: 0.85em; }
.cap.alarm { color: #a00000; font-weight: 600; }
.rm { font-size: 10px; fill: #444; }
.fl { font-size: 11.5px; font-weight: 700; fill: #C00000; }
pre { font-size: 0.8em; background: #f7f7f7; padding: 8px; overflow-x: auto; }
details summary { cursor: pointer; }
footer { margin-top: 2em; color: #777; font-size: 0.8em; }
@media print { body { max-width: none; padding: 0; } details { display: block; } h2 { break-after: avoid; } }
)";

} // namespace

std::vector<double> SymmetricEigenvalues(const std::vector<double>& in, int n) {
    if (n <= 0 || in.size() != static_cast<size_t>(n) * static_cast<size_t>(n))
        return {};
    const size_t N = static_cast<size_t>(n);
    // Scaled to largest magnitude 1, so that no square below overflows or underflows.
    double scale = 0.0;
    for (size_t i = 0; i < N; i++)
        for (size_t j = 0; j <= i; j++) {
            const double v = in[i * N + j];
            if (!Finite(v))
                return {};
            scale = std::max(scale, std::fabs(v));
        }
    if (scale == 0.0)
        return std::vector<double>(N, 0.0);
    std::vector<double> a(in.size());
    for (size_t i = 0; i < N; i++)
        for (size_t j = 0; j <= i; j++)
            a[i * N + j] = a[j * N + i] = in[i * N + j] / scale;
    auto A = [&](size_t i, size_t j) -> double& { return a[i * N + j]; };

    // Householder reduction to a tridiagonal matrix with the same eigenvalues: step k
    // reflects column k below the subdiagonal to zero, B <- H B H on the trailing block,
    // as B - v w' - w v' with p = B v, w = 2 (p - (v'p) v), |v| = 1.
    std::vector<double> d(N), e(N, 0.0), v(N), p(N);
    for (size_t k = 0; k + 2 < N; k++) {
        double norm = 0.0;
        for (size_t i = k + 1; i < N; i++)
            norm = std::hypot(norm, A(i, k));
        if (norm == 0.0)
            continue;
        const double alpha = A(k + 1, k) > 0 ? -norm : norm;
        double vv = 0.0;
        for (size_t i = k + 1; i < N; i++) {
            v[i] = A(i, k) - (i == k + 1 ? alpha : 0.0);
            vv += v[i] * v[i];
        }
        const double vn = std::sqrt(vv);
        if (!(vn > 0.0))
            continue;
        for (size_t i = k + 1; i < N; i++)
            v[i] /= vn;
        double vp = 0.0;
        for (size_t i = k + 1; i < N; i++) {
            double sum = 0.0;
            for (size_t j = k + 1; j < N; j++)
                sum += A(i, j) * v[j];
            p[i] = sum;
            vp += v[i] * sum;
        }
        for (size_t i = k + 1; i < N; i++)
            p[i] = 2.0 * (p[i] - vp * v[i]);
        for (size_t i = k + 1; i < N; i++)
            for (size_t j = k + 1; j < N; j++)
                A(i, j) -= v[i] * p[j] + p[i] * v[j];
        A(k + 1, k) = A(k, k + 1) = alpha;
        for (size_t i = k + 2; i < N; i++)
            A(i, k) = A(k, i) = 0.0;
    }
    for (size_t i = 0; i < N; i++) {
        d[i] = A(i, i);
        if (i + 1 < N)
            e[i] = A(i + 1, i);
    }
    // Eigenvalues of the tridiagonal matrix by bisection on Sturm counts: the number of
    // negative pivots of T - x I is the number of eigenvalues below x.
    auto below = [&](double x) {
        size_t count = 0;
        double q = 1.0;
        for (size_t i = 0; i < N; i++) {
            q = d[i] - x - (i > 0 ? e[i - 1] * e[i - 1] / q : 0.0);
            if (q == 0.0)
                q = -1e-300;
            if (q < 0.0)
                ++count;
        }
        return count;
    };
    double lo = INFINITY, hi = -INFINITY; // Gershgorin bounds
    for (size_t i = 0; i < N; i++) {
        const double r = (i > 0 ? std::fabs(e[i - 1]) : 0.0) + (i + 1 < N ? std::fabs(e[i]) : 0.0);
        lo = std::min(lo, d[i] - r);
        hi = std::max(hi, d[i] + r);
    }
    lo -= 1e-12, hi += 1e-12;
    std::vector<double> ev(N);
    for (size_t k = 0; k < N; k++) {
        double l = k > 0 ? std::max(lo, ev[k - 1] - 1e-12) : lo, h = hi;
        // At most 200 halvings: an interval of width 4 reaches 1e-16 in about 60.
        for (int it = 0;
             it < 200 && h - l > 2.0 * DBL_EPSILON * std::max(std::fabs(l), std::fabs(h)) + 1e-300; it++) {
            const double mid = 0.5 * (l + h);
            if (below(mid) > k)
                h = mid;
            else
                l = mid;
        }
        ev[k] = 0.5 * (l + h);
    }
    for (double& x : ev)
        x *= scale;
    std::sort(ev.begin(), ev.end());
    return ev;
}

int ReportContourEvaluations(const MinimizeResult& result, const ReportOptions& options) {
    Contour c;
    if (Names(result, options).size() != 2 || !ContourBox(result, options, c))
        return 0;
    EvaluateContour(options.objective, c);
    return c.evaluations;
}

std::string ReportHtml(const MinimizeResult& r, const ReportOptions& o, ReportStats* stats) {
    const Facts k = Gather(r);
    Contour contour;
    const bool haveContour = Names(r, o).size() == 2 && ContourBox(r, o, contour);
    if (haveContour)
        EvaluateContour(o.objective, contour);
    const int contourEvaluations = haveContour ? contour.evaluations : 0;
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    // A long title (a formula of many variables) is cut in the header; the whole of it
    // stays one click away.
    const std::string title = o.title.empty() ? "VRNMathTools minimizer" : o.title;
    const std::string heading = r.IsFit() ? "Fit report" : "Minimization report";
    const std::string shortTitle = Cut(title, kTitleBytes);
    h += "<title>" + heading + (o.title.empty() ? std::string() : " \u2014 " + Escape(Cut(title, 80))) +
         "</title>\n";
    h += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    h += "<header><h1>" + heading + "</h1>\n<p class=\"sub\">" + Escape(shortTitle) + "</p>\n";
    if (shortTitle != title)
        h += "<details class=\"sub\"><summary>the whole title (" + std::to_string(title.size()) +
             " characters)</summary><p class=\"long\">" + Escape(title) + "</p></details>\n";
    h += "<p class=\"sub\" id=\"how\">Method " + std::to_string(r.method) + ", " +
         Escape(MethodName(r.method)) +
         (DriverText(r).empty() ? std::string() : " \u00b7 " + Escape(DriverText(r))) +
         (r.derivatives.empty() ? std::string() : " \u00b7 " + Escape(r.derivatives)) +
         "</p></header>\n<main>\n";
    h += SummarySection(r, k, o, contourEvaluations);
    if (r.IsFit())
        h += FitSection(r, o);
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
    if (stats) {
        stats->contourEvaluations = contourEvaluations;
        stats->bytes = h.size();
    }
    return h;
}

bool WriteReport(const MinimizeResult& result, const std::string& path, const ReportOptions& options,
                 ReportStats* stats) {
    const std::string html = ReportHtml(result, options, stats);
    auto fail = [&](int error) {
        if (stats)
            stats->error = std::strerror(error != 0 ? error : EIO);
        return false;
    };
    if (stats)
        stats->error.clear();
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return fail(errno);
    errno = 0;
    const bool written = std::fwrite(html.data(), 1, html.size(), f) == html.size();
    int error = errno;
    if (std::fclose(f) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (!written || error != 0)
        return fail(error);
    return true;
}

} // namespace vrn
