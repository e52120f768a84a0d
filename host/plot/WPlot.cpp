#include "host/plot/WPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kTickLength = 5;
constexpr double kLargest = 1e300; // data beyond this magnitude is not drawn

bool Drawable(double v, bool log) {
    if (!std::isfinite(v) || v == CWPlot::NullValue || std::fabs(v) > kLargest)
        return false;
    return !log || v > 0.0;
}

const char* FaceName(int font) {
    switch (font) {
    case 1:
        return "Times New Roman";
    case 2:
        return "Courier New";
    default:
        return "Arial";
    }
}

void MakeFont(CFont& f, double points, int weight, int escapement, int face = 0) {
    LOGFONT lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(points * 96.0 / 72.0));
    lf.lfWeight = weight;
    lf.lfEscapement = escapement;
    lf.lfOrientation = escapement;
    std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", FaceName(face));
    f.CreateFontIndirect(&lf);
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw) {
    if (!(raw > 0.0) || !std::isfinite(raw))
        return 1.0;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / mag;
    double m = 10.0;
    if (norm <= 1.0)
        m = 1.0;
    else if (norm <= 2.0)
        m = 2.0;
    else if (norm <= 5.0)
        m = 5.0;
    return m * mag;
}

std::string FormatTick(double v, double step, bool log) {
    char buf[64];
    if (v == 0.0)
        return "0";
    const double a = std::fabs(v);
    if (log) {
        const double e = std::log10(a);
        const double re = std::round(e);
        if (std::fabs(e - re) < 1e-9) {
            if (re >= -3 && re <= 4)
                std::snprintf(buf, sizeof buf, "%g", v);
            else
                std::snprintf(buf, sizeof buf, "1e%d", static_cast<int>(re));
            return buf;
        }
        std::snprintf(buf, sizeof buf, "%.3g", v);
        return buf;
    }
    if (a >= 1e6 || a < 1e-4 || step < 1e-5) {
        int digits = static_cast<int>(std::ceil(std::log10(a / step))) + 1;
        digits = std::clamp(digits, 1, 15);
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        return buf;
    }
    int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    decimals = std::clamp(decimals, 0, 10);
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// Liang-Barsky clipping of the segment (x0,y0)-(x1,y1) to the box; false when
// nothing of it lies inside.
bool ClipSegment(double& x0, double& y0, double& x1, double& y1, double left, double top, double right,
                 double bottom) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1)
                return false;
            if (t > t0)
                t0 = t;
        } else {
            if (t < t0)
                return false;
            if (t < t1)
                t1 = t;
        }
    }
    const double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy;
    const double nx1 = x0 + t1 * dx, ny1 = y0 + t1 * dy;
    x0 = nx0;
    y0 = ny0;
    x1 = nx1;
    y1 = ny1;
    return true;
}

int Px(double v) {
    return static_cast<int>(std::lround(v));
}

bool IsDark(COLORREF c) {
    return GetRValue(c) + GetGValue(c) + GetBValue(c) < 384;
}

} // namespace

CWPlot::CWPlot() = default;
CWPlot::~CWPlot() = default;

// ---------------------------------------------------------------- set-up

void CWPlot::Reset() {
    m_strPlotID.Empty();
    m_strMoniker.Empty();
    m_Title = TitleLine();
    m_SubTitle = TitleLine();
    m_nTitleFlag = 0;
    m_BkColor = RGB(255, 255, 255);
    m_DataBkColor = RGB(255, 255, 255);
    m_Axes.clear();
    m_Series.clear();
    for (Range& r : m_Ranges)
        r = Range();
}

BOOL CWPlot::SetPlotID(CString id) {
    const BOOL changed = id != m_strPlotID;
    m_strPlotID = id;
    return changed;
}

void CWPlot::SetTitle(const CString& text, int nFont, double dPointSize) {
    m_Title.text = text;
    m_Title.font = nFont;
    m_Title.points = dPointSize;
}

void CWPlot::SetSubTitle(const CString& text, int nFont, double dPointSize) {
    m_SubTitle.text = text;
    m_SubTitle.font = nFont;
    m_SubTitle.points = dPointSize;
}

CString CWPlot::AddAxis(const CAxisUI& axis) {
    for (CAxisUI& a : m_Axes)
        if (a.GetAxisLoc() == axis.GetAxisLoc()) {
            a = axis;
            return axis.m_strLabel;
        }
    m_Axes.push_back(axis);
    return axis.m_strLabel;
}

CString CWPlot::AddDataUI(const CDataUI& data, int bVisible) {
    for (Series& s : m_Series)
        if (s.data->m_strName == data.m_strName) {
            *s.data = data;
            s.visible = bVisible != 0;
            return data.m_strName;
        }
    Series s;
    s.data = std::make_unique<CDataUI>(data);
    s.visible = bVisible != 0;
    m_Series.push_back(std::move(s));
    return data.m_strName;
}

CDataUI* CWPlot::GetDataUI(CString name) {
    for (Series& s : m_Series)
        if (s.data->m_strName == name)
            return s.data.get();
    return nullptr;
}

CDataUI* CWPlot::GetDataAt(int i) {
    if (i < 0 || i >= GetDataCount())
        return nullptr;
    return m_Series[static_cast<size_t>(i)].data.get();
}

bool CWPlot::IsDataVisible(int i) const {
    return i >= 0 && i < GetDataCount() && m_Series[static_cast<size_t>(i)].visible;
}

const CAxisUI* CWPlot::GetAxis(KelPlotUI::AxisLoc loc) const {
    for (const CAxisUI& a : m_Axes)
        if (a.GetAxisLoc() == loc)
            return &a;
    return nullptr;
}

// ---------------------------------------------------------------- ranges

const CWPlot::Range& CWPlot::RangeAt(KelPlotUI::AxisLoc loc) const {
    const int i = static_cast<int>(loc);
    return m_Ranges[i >= 0 && i < 5 ? i : 0];
}

CWPlot::Range& CWPlot::RangeAt(KelPlotUI::AxisLoc loc) {
    const int i = static_cast<int>(loc);
    return m_Ranges[i >= 0 && i < 5 ? i : 0];
}

void CWPlot::SetMinMax(double lo, double hi, KelPlotUI::AxisLoc loc, int bNice) {
    m_Journal.push_back(RangeCall{false, loc, lo, hi});
    Range& r = RangeAt(loc);
    r.fixed = true;
    r.lo = lo;
    r.hi = hi;
    r.nice = bNice != 0;
}

void CWPlot::AutoScale(int bNice) {
    m_Journal.push_back(RangeCall{true, KelPlotUI::NoAxis, 0.0, 0.0});
    for (Range& r : m_Ranges) {
        r.fixed = false;
        r.nice = bNice != 0;
    }
}

bool CWPlot::IsFixedRange(KelPlotUI::AxisLoc loc) const {
    return RangeAt(loc).fixed;
}
double CWPlot::GetFixedMin(KelPlotUI::AxisLoc loc) const {
    return RangeAt(loc).lo;
}
double CWPlot::GetFixedMax(KelPlotUI::AxisLoc loc) const {
    return RangeAt(loc).hi;
}

namespace {

KelPlotUI::AxisLoc XLoc(const CDataUI& d) {
    const KelPlotUI::AxisLoc l = d.m_XAxis.GetAxisLoc();
    return l == KelPlotUI::NoAxis ? KelPlotUI::Bottom : l;
}

KelPlotUI::AxisLoc YLoc(const CDataUI& d) {
    const KelPlotUI::AxisLoc l = d.m_YAxis.GetAxisLoc();
    return l == KelPlotUI::NoAxis ? KelPlotUI::Left : l;
}

} // namespace

bool CWPlot::DataExtent(KelPlotUI::AxisLoc loc, bool positiveOnly, double& lo, double& hi) const {
    bool any = false;
    for (const Series& s : m_Series) {
        if (!s.visible)
            continue;
        const CDataUI& d = *s.data;
        const bool useX = XLoc(d) == loc;
        const bool useY = YLoc(d) == loc;
        if (!useX && !useY)
            continue;
        const int count = d.GetPointCount();
        const CDblHdr& xs = d.GetXData();
        const CDblHdr& ys = d.GetYData();
        for (int i = d.m_nFirstPoint > 0 ? d.m_nFirstPoint : 0; i < count; ++i) {
            // A point counts only when it can be drawn at all.
            if (!Drawable(xs[i], false) || !Drawable(ys[i], false))
                continue;
            const double v = useX ? xs[i] : ys[i];
            if (positiveOnly && !(v > 0.0))
                continue;
            if (!any) {
                lo = hi = v;
                any = true;
            } else {
                if (v < lo)
                    lo = v;
                if (v > hi)
                    hi = v;
            }
        }
    }
    return any;
}

CWPlot::AxisScale CWPlot::ComputeScale(KelPlotUI::AxisLoc loc, int length) const {
    AxisScale sc;
    const CAxisUI* axis = GetAxis(loc);
    sc.log = axis && axis->m_Type == CAxisUI::Log10;
    const bool integer = axis && axis->m_Type == CAxisUI::Integer;
    const Range& r = RangeAt(loc);

    double lo = 0.0, hi = 1.0;
    bool have = false;
    bool nice = r.nice;
    if (r.fixed) {
        lo = r.lo < r.hi ? r.lo : r.hi;
        hi = r.lo < r.hi ? r.hi : r.lo;
        have = Drawable(lo, sc.log) && Drawable(hi, sc.log);
    }
    if (!have) {
        // No usable fixed range (none, or not positive on a logarithmic axis): the data's.
        have = DataExtent(loc, sc.log, lo, hi);
        if (r.fixed)
            nice = true;
    }
    if (!have) {
        lo = sc.log ? 0.1 : 0.0;
        hi = sc.log ? 10.0 : 1.0;
    }
    const double mag = std::fabs(lo) > std::fabs(hi) ? std::fabs(lo) : std::fabs(hi);
    if (!(hi - lo > mag * 1e-12)) {
        // One value (or nearly so): open the range around it.
        if (sc.log) {
            lo = lo / 2.0;
            hi = hi * 2.0;
        } else if (mag == 0.0) {
            lo = -1.0;
            hi = 1.0;
        } else {
            lo -= mag * 0.1;
            hi += mag * 0.1;
        }
    }

    if (sc.log) {
        double elo = std::floor(std::log10(lo));
        double ehi = std::ceil(std::log10(hi));
        if (nice) {
            lo = std::pow(10.0, elo);
            hi = std::pow(10.0, ehi);
        }
        const double llo = std::log10(lo) - 1e-9, lhi = std::log10(hi) + 1e-9;
        const int first = static_cast<int>(std::ceil(llo));
        const int last = static_cast<int>(std::floor(lhi));
        const int count = last - first + 1;
        const int stride = count > 8 ? (count + 7) / 8 : 1;
        for (int e = first; e <= last; e += stride)
            sc.ticks.push_back(std::pow(10.0, e));
        if (sc.ticks.size() < 2) {
            sc.ticks.clear();
            for (int e = static_cast<int>(elo); e <= static_cast<int>(ehi); ++e)
                for (double m : {1.0, 2.0, 5.0}) {
                    const double v = m * std::pow(10.0, e);
                    if (v >= lo * (1 - 1e-9) && v <= hi * (1 + 1e-9))
                        sc.ticks.push_back(v);
                }
        }
        if (sc.ticks.size() < 2)
            sc.ticks = {lo, hi};
        sc.lo = lo;
        sc.hi = hi;
        return sc;
    }

    int target = length / 45;
    target = std::clamp(target, 2, 8);
    double step = NiceStep((hi - lo) / target);
    if (integer && step < 1.0)
        step = 1.0;
    if (nice) {
        lo = std::floor(lo / step) * step;
        hi = std::ceil(hi / step) * step;
    }
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double i = first; i <= last && sc.ticks.size() < 50; i += 1.0) {
        double v = i * step;
        if (std::fabs(v) < step * 1e-9)
            v = 0.0;
        sc.ticks.push_back(v);
    }
    sc.lo = lo;
    sc.hi = hi;
    return sc;
}

// ---------------------------------------------------------------- drawing

namespace {

struct PixelScale {
    CWPlot::AxisScale s;
    double p0 = 0.0; // pixel of s.lo
    double p1 = 1.0; // pixel of s.hi
    double Map(double v) const {
        const double t = s.log ? (std::log10(v) - std::log10(s.lo)) / (std::log10(s.hi) - std::log10(s.lo))
                               : (v - s.lo) / (s.hi - s.lo);
        return p0 + t * (p1 - p0);
    }
};

double TickStep(const CWPlot::AxisScale& s) {
    return s.ticks.size() >= 2 ? std::fabs(s.ticks[1] - s.ticks[0]) : std::fabs(s.hi - s.lo);
}

} // namespace

void CWPlot::Draw(CDC* pDC, const CRect& rect) {
    if (!pDC || rect.IsRectEmpty())
        return;
    using namespace KelPlotUI;

    CFont tickFont, labelFont, labelFontUp, legendFont, titleFont, subTitleFont;
    MakeFont(tickFont, 8.0, FW_NORMAL, 0);
    MakeFont(labelFont, 9.0, FW_BOLD, 0);
    MakeFont(labelFontUp, 9.0, FW_BOLD, 900);
    MakeFont(legendFont, 8.0, FW_NORMAL, 0);
    MakeFont(titleFont, m_Title.points > 0 ? m_Title.points : 12.0, FW_BOLD, 0, m_Title.font);
    MakeFont(subTitleFont, m_SubTitle.points > 0 ? m_SubTitle.points : 9.0, FW_NORMAL, 0, m_SubTitle.font);

    CFont* oldFont = pDC->SelectObject(&tickFont);
    const UINT oldAlign = pDC->GetTextAlign();
    const int oldBkMode = pDC->SetBkMode(TRANSPARENT);
    const COLORREF oldText = pDC->SetTextColor(RGB(0, 0, 0));

    pDC->FillSolidRect(&rect, m_BkColor);

    // ---- titles
    const int cx = static_cast<int>(rect.left + rect.right) / 2;
    int top = static_cast<int>(rect.top) + 8;
    pDC->SetTextAlign(TA_CENTER | TA_TOP);
    if (m_nTitleFlag >= 1 && !m_Title.text.IsEmpty()) {
        pDC->SelectObject(&titleFont);
        pDC->TextOut(cx, top, m_Title.text);
        top += titleFont.GetCellHeight() + 2;
    }
    if (m_nTitleFlag >= 2 && !m_SubTitle.text.IsEmpty()) {
        pDC->SelectObject(&subTitleFont);
        pDC->TextOut(cx, top, m_SubTitle.text);
        top += subTitleFont.GetCellHeight() + 2;
    }
    top += 8;

    const CAxisUI* axisAt[5] = {nullptr, GetAxis(Bottom), GetAxis(Top), GetAxis(Left), GetAxis(Right)};
    const int tickH = tickFont.GetCellHeight();
    const int labelH = labelFont.GetCellHeight();
    auto horizontalBand = [&](const CAxisUI* a) {
        if (!a)
            return 0;
        return a->m_nOffset + kTickLength + 3 + tickH + (a->m_strLabel.IsEmpty() ? 0 : 4 + labelH);
    };
    int bottom = static_cast<int>(rect.bottom) - 10 - horizontalBand(axisAt[Bottom]);
    top += horizontalBand(axisAt[Top]);
    if (!axisAt[Top] && m_nTitleFlag == 0)
        top += 4;

    // ---- vertical scales (they decide the widths of the side bands)
    PixelScale scales[5];
    bool used[5] = {false, false, false, false, false};
    used[Bottom] = used[Left] = true;
    for (const Series& s : m_Series) {
        used[XLoc(*s.data)] = true;
        used[YLoc(*s.data)] = true;
    }
    for (int l = 1; l < 5; ++l)
        if (axisAt[l])
            used[l] = true;
    const int height = bottom - top;
    auto verticalBand = [&](int l) {
        const CAxisUI* a = axisAt[l];
        if (!a)
            return 0;
        pDC->SelectObject(&tickFont);
        int widest = 0;
        const double step = TickStep(scales[l].s);
        for (double v : scales[l].s.ticks) {
            const CSize ext = pDC->GetTextExtent(CString(FormatTick(v, step, scales[l].s.log)));
            widest = std::max(widest, static_cast<int>(ext.cx));
        }
        return a->m_nOffset + kTickLength + 4 + widest + (a->m_strLabel.IsEmpty() ? 0 : 6 + labelH);
    };
    for (int l : {static_cast<int>(Left), static_cast<int>(Right)})
        if (used[l])
            scales[l].s = ComputeScale(static_cast<AxisLoc>(l), height > 0 ? height : 1);

    // ---- legend
    std::vector<const CDataUI*> legend;
    for (const Series& s : m_Series)
        if (s.visible && s.data->m_bLegend)
            legend.push_back(s.data.get());
    int legendWidth = 0;
    if (!legend.empty()) {
        pDC->SelectObject(&legendFont);
        for (const CDataUI* d : legend)
            legendWidth = std::max(legendWidth, static_cast<int>(pDC->GetTextExtent(d->m_strLegend).cx));
        legendWidth += 12 + 24 + 6;
    }

    const int left = static_cast<int>(rect.left) + 10 + verticalBand(Left);
    const int right = static_cast<int>(rect.right) - 16 - verticalBand(Right) - legendWidth;
    const int width = right - left;
    if (width < 20 || height < 20) {
        pDC->SelectObject(oldFont);
        pDC->SetTextAlign(oldAlign);
        pDC->SetBkMode(oldBkMode);
        pDC->SetTextColor(oldText);
        return;
    }
    for (int l : {static_cast<int>(Bottom), static_cast<int>(Top)})
        if (used[l])
            scales[l].s = ComputeScale(static_cast<AxisLoc>(l), width);
    for (int l = 1; l < 5; ++l) {
        const bool horizontal = l == Bottom || l == Top;
        scales[l].p0 = horizontal ? left : bottom;
        scales[l].p1 = horizontal ? right : top;
    }

    // ---- data area and grid lines
    const CRect area(left, top, right, bottom);
    pDC->FillSolidRect(&area, m_DataBkColor);
    CPen gridPen(PS_DOT, 1, IsDark(m_DataBkColor) ? RGB(96, 96, 96) : RGB(200, 200, 200));
    CPen* oldPen = pDC->SelectObject(&gridPen);
    for (int l = 1; l < 5; ++l) {
        const CAxisUI* a = axisAt[l];
        if (!a || !a->m_bGridLines)
            continue;
        const bool horizontal = l == Bottom || l == Top;
        for (double v : scales[l].s.ticks) {
            const int p = Px(scales[l].Map(v));
            if (horizontal) {
                if (p <= left || p >= right)
                    continue;
                pDC->MoveTo(p, top);
                pDC->LineTo(p, bottom);
            } else {
                if (p <= top || p >= bottom)
                    continue;
                pDC->MoveTo(left, p);
                pDC->LineTo(right, p);
            }
        }
    }

    // ---- series
    for (const Series& s : m_Series) {
        if (!s.visible)
            continue;
        const CDataUI& d = *s.data;
        const PixelScale& xs = scales[XLoc(d)];
        const PixelScale& ys = scales[YLoc(d)];
        CPen pen(PS_SOLID, d.m_nLineWidth > 0 ? d.m_nLineWidth : 1, d.m_Color);
        pDC->SelectObject(&pen);
        const int count = d.GetPointCount();
        const CDblHdr& xv = d.GetXData();
        const CDblHdr& yv = d.GetYData();
        bool havePrev = false;
        double px = 0.0, py = 0.0;
        bool penAt = false;
        int lastX = 0, lastY = 0;
        for (int i = d.m_nFirstPoint > 0 ? d.m_nFirstPoint : 0; i < count; ++i) {
            if (!Drawable(xv[i], xs.s.log) || !Drawable(yv[i], ys.s.log)) {
                havePrev = false;
                continue;
            }
            const double qx = xs.Map(xv[i]);
            const double qy = ys.Map(yv[i]);
            const bool startedLine = havePrev;
            if (d.m_Symbol != KelSymbols::None && qx >= left && qx <= right && qy >= top && qy <= bottom) {
                const int sx = Px(qx), sy = Px(qy);
                CBrush hollow;
                hollow.CreateHollowBrush();
                CBrush* oldBrush = pDC->SelectObject(&hollow);
                if (d.m_Symbol == KelSymbols::Circle)
                    pDC->Ellipse(sx - 3, sy - 3, sx + 4, sy + 4);
                else if (d.m_Symbol == KelSymbols::Square)
                    pDC->Rectangle(sx - 3, sy - 3, sx + 4, sy + 4);
                else {
                    pDC->MoveTo(sx - 3, sy - 3);
                    pDC->LineTo(sx + 4, sy + 4);
                    pDC->MoveTo(sx - 3, sy + 3);
                    pDC->LineTo(sx + 4, sy - 4);
                    penAt = false;
                }
                pDC->SelectObject(oldBrush);
            }
            if (havePrev) {
                double x0 = px, y0 = py, x1 = qx, y1 = qy;
                if (ClipSegment(x0, y0, x1, y1, left, top, right, bottom)) {
                    const int a0 = Px(x0), b0 = Px(y0), a1 = Px(x1), b1 = Px(y1);
                    if (!penAt || a0 != lastX || b0 != lastY)
                        pDC->MoveTo(a0, b0);
                    if (a1 != a0 || b1 != b0 || !penAt || a0 != lastX || b0 != lastY) {
                        pDC->LineTo(a1, b1);
                        penAt = true;
                        lastX = a1;
                        lastY = b1;
                    }
                } else {
                    penAt = false;
                }
            }
            px = qx;
            py = qy;
            havePrev = true;
            // A point without a drawable neighbour has no line to show it: it gets a dot.
            const bool nextDrawable =
                i + 1 < count && Drawable(xv[i + 1], xs.s.log) && Drawable(yv[i + 1], ys.s.log);
            if (!startedLine && !nextDrawable && d.m_Symbol == KelSymbols::None && qx >= left &&
                qx <= right && qy >= top && qy <= bottom) {
                CBrush fill(d.m_Color);
                CBrush* oldBrush = pDC->SelectObject(&fill);
                pDC->Ellipse(Px(qx) - 4, Px(qy) - 4, Px(qx) + 5, Px(qy) + 5);
                pDC->SelectObject(oldBrush);
                penAt = false;
            }
        }
    }

    // ---- frame, axes, ticks and labels
    CPen framePen(PS_SOLID, 1, RGB(0, 0, 0));
    pDC->SelectObject(&framePen);
    CBrush hollow;
    hollow.CreateHollowBrush();
    CBrush* oldBrush = pDC->SelectObject(&hollow);
    pDC->Rectangle(left, top, right + 1, bottom + 1);
    pDC->SelectObject(oldBrush);
    pDC->SetTextColor(RGB(0, 0, 0));
    for (int l = 1; l < 5; ++l) {
        const CAxisUI* a = axisAt[l];
        if (!a)
            continue;
        const PixelScale& sc = scales[l];
        const double step = TickStep(sc.s);
        const int off = a->m_nOffset;
        const int dir = a->m_nTickStyle == 1 ? -1 : 1; // outward or inward
        pDC->SelectObject(&tickFont);
        int band = 0;
        if (l == Bottom || l == Top) {
            const int y = l == Bottom ? bottom + off : top - off;
            const int sgn = l == Bottom ? 1 : -1;
            if (off > 0) {
                pDC->MoveTo(left, y);
                pDC->LineTo(right, y);
            }
            pDC->SetTextAlign(TA_CENTER | (l == Bottom ? TA_TOP : TA_BOTTOM));
            for (double v : sc.s.ticks) {
                const int p = Px(sc.Map(v));
                if (p < left - 1 || p > right + 1)
                    continue;
                pDC->MoveTo(p, y);
                pDC->LineTo(p, y + sgn * dir * kTickLength);
                pDC->TextOut(p, y + sgn * (kTickLength + 3), CString(FormatTick(v, step, sc.s.log)));
            }
            band = kTickLength + 3 + tickH + 4;
            if (!a->m_strLabel.IsEmpty()) {
                pDC->SelectObject(&labelFont);
                pDC->TextOut((left + right) / 2, y + sgn * band, a->m_strLabel);
            }
        } else {
            const int x = l == Left ? left - off : right + off;
            const int sgn = l == Left ? -1 : 1;
            if (off > 0) {
                pDC->MoveTo(x, top);
                pDC->LineTo(x, bottom);
            }
            pDC->SetTextAlign((l == Left ? TA_RIGHT : TA_LEFT) | TA_TOP);
            int widest = 0;
            for (double v : sc.s.ticks) {
                const int p = Px(sc.Map(v));
                if (p < top - 1 || p > bottom + 1)
                    continue;
                const CString text(FormatTick(v, step, sc.s.log));
                widest = std::max(widest, static_cast<int>(pDC->GetTextExtent(text).cx));
                pDC->MoveTo(x, p);
                pDC->LineTo(x + sgn * dir * kTickLength, p);
                pDC->TextOut(x + sgn * (kTickLength + 3), p - tickH / 2, text);
            }
            if (!a->m_strLabel.IsEmpty()) {
                // Written upward, centred on the data area, outside the tick labels.
                pDC->SelectObject(&labelFontUp);
                pDC->SetTextAlign(TA_CENTER | (l == Left ? TA_TOP : TA_BOTTOM));
                const int lx = x + sgn * (kTickLength + 4 + widest + 6 + labelH);
                pDC->TextOut(lx, (top + bottom) / 2, a->m_strLabel);
            }
        }
    }

    // ---- legend
    if (!legend.empty()) {
        pDC->SelectObject(&legendFont);
        pDC->SetTextAlign(TA_LEFT | TA_TOP);
        const int lx = right + verticalBand(Right) + 12;
        const int rowH = legendFont.GetCellHeight() + 3;
        int y = top;
        for (size_t i = 0; i < legend.size(); ++i) {
            if (y + rowH > bottom && i + 1 < legend.size()) {
                pDC->TextOut(lx, y, "...");
                break;
            }
            CPen pen(PS_SOLID, legend[i]->m_nLineWidth > 0 ? legend[i]->m_nLineWidth : 1, legend[i]->m_Color);
            pDC->SelectObject(&pen);
            const int my = y + rowH / 2;
            pDC->MoveTo(lx, my);
            pDC->LineTo(lx + 20, my);
            pDC->SelectObject(&framePen);
            pDC->TextOut(lx + 24, y, legend[i]->m_strLegend);
            y += rowH;
        }
    }

    pDC->SelectObject(oldPen);
    pDC->SelectObject(oldFont);
    pDC->SetTextAlign(oldAlign);
    pDC->SetBkMode(oldBkMode);
    pDC->SetTextColor(oldText);
}
