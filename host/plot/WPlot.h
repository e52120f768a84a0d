#pragma once

// A two-dimensional line plot: axes, data series, titles and value ranges, and
// the drawing of all of it into a device context.
//
// Set-up: Reset, then the titles, AddAxis for each axis and AddDataUI for each
// series; the plot keeps copies. Ranges: SetMinMax fixes the range of one axis,
// AutoScale lets every axis take the range of the data drawn against it (from
// each series' first shown point on). Draw paints the whole plot into a
// rectangle: background, data area, grid lines, series, axes with ticks and tick
// labels, axis labels, titles and a legend.
//
//     CWPlot plot;
//     plot.SetTitle("Residual", 0, -32600);
//     plot.AddAxis(bottom); plot.AddAxis(left);
//     plot.AddDataUI(CDataUI(iterations, values, &bottom, &left, KelSymbols::None), 1);
//     plot.AutoScale(1);
//     CDC dc; plot.Draw(&dc, CRect(0, 0, 640, 400)); dc.WriteSVG("plot.svg");

#include "host/framework/DC.h"
#include "host/plot/PlotTypes.h"

#include <memory>
#include <vector>

class CWPlot {
public:
    // The null value: a point holding it in x or y is not drawn; as a title size it
    // asks for the default size.
    static constexpr double NullValue = kVRNNullValue;

    // One call of SetMinMax or AutoScale, as kept in the range journal.
    struct RangeCall {
        bool automatic;
        KelPlotUI::AxisLoc loc; // NoAxis for AutoScale
        double lo;
        double hi;
    };

    // The range an axis is drawn with, and its tick values.
    struct AxisScale {
        double lo = 0.0;
        double hi = 1.0;
        bool log = false;
        std::vector<double> ticks;
    };

    CWPlot();
    virtual ~CWPlot();
    CWPlot(const CWPlot&) = delete;
    CWPlot& operator=(const CWPlot&) = delete;

    // ---- set-up
    // Removes axes, series and titles and lets every axis take its automatic range
    // again; colours go back to white. The range journal is kept.
    virtual void Reset();
    // Returns TRUE when the identifier differs from the one held before.
    BOOL SetPlotID(CString id);
    const CString& GetPlotID() const { return m_strPlotID; }
    void SetMoniker(CString& moniker) { m_strMoniker = moniker; }
    const CString& GetMoniker() const { return m_strMoniker; }
    // The two title lines. nFont picks the face (0 Arial, 1 Times New Roman,
    // 2 Courier New); dPointSize is the size in points, the null value or any
    // value <= 0 giving the default (12 points for the title, 9 for the subtitle).
    virtual void SetTitle(const CString& text, int nFont, double dPointSize);
    virtual void SetSubTitle(const CString& text, int nFont, double dPointSize);
    const CString& GetTitle() const { return m_Title.text; }
    const CString& GetSubTitle() const { return m_SubTitle.text; }
    // Which title lines are drawn: 0 none, 1 the title, 2 title and subtitle.
    void SetTitleFlag(int flag) { m_nTitleFlag = flag; }
    int GetTitleFlag() const { return m_nTitleFlag; }
    // Keeps a copy of the axis, replacing one at the same location; returns its label.
    virtual CString AddAxis(const CAxisUI& axis);
    // Keeps a copy of the series, replacing one of the same name; returns the name.
    // A series added with bVisible 0 is kept but neither drawn nor used for ranges.
    virtual CString AddDataUI(const CDataUI& data, int bVisible);
    void SetPlotDataBkColor(COLORREF color) { m_DataBkColor = color; }
    COLORREF GetPlotDataBkColor() const { return m_DataBkColor; }
    void SetPlotBkColor(COLORREF color) { m_BkColor = color; }
    // The series of that name, or null.
    CDataUI* GetDataUI(CString name);

    // ---- ranges
    // Fixes the range of the axis at loc to lo ... hi (either order). bNice 1 widens
    // it to whole tick steps when drawn.
    void SetMinMax(double lo, double hi, KelPlotUI::AxisLoc loc, int bNice);
    // Every axis takes the range of its data; bNice 1 widens it to whole tick steps.
    virtual void AutoScale(int bNice);
    bool IsFixedRange(KelPlotUI::AxisLoc loc) const;
    // The range last given by SetMinMax for the axis (meaningful while fixed).
    double GetFixedMin(KelPlotUI::AxisLoc loc) const;
    double GetFixedMax(KelPlotUI::AxisLoc loc) const;
    const std::vector<RangeCall>& GetRangeJournal() const { return m_Journal; }
    void ClearRangeJournal() { m_Journal.clear(); }

    // ---- drawing
    virtual void Draw(CDC* pDC, const CRect& rect);
    // The range and ticks that Draw uses for the axis at loc (with a data area
    // `length` pixels long).
    AxisScale ComputeScale(KelPlotUI::AxisLoc loc, int length = 300) const;

    // ---- inspection
    int GetAxisCount() const { return static_cast<int>(m_Axes.size()); }
    const CAxisUI* GetAxis(KelPlotUI::AxisLoc loc) const;
    int GetDataCount() const { return static_cast<int>(m_Series.size()); }
    CDataUI* GetDataAt(int i);
    bool IsDataVisible(int i) const;

private:
    struct TitleLine {
        CString text;
        int font = 0;
        double points = NullValue;
    };
    struct Range {
        bool fixed = false;
        double lo = 0.0;
        double hi = 1.0;
        bool nice = true;
    };
    struct Series {
        std::unique_ptr<CDataUI> data;
        bool visible = true;
    };

    const Range& RangeAt(KelPlotUI::AxisLoc loc) const;
    Range& RangeAt(KelPlotUI::AxisLoc loc);
    // Smallest and largest drawable value of the series' data against the axis at
    // loc; false when there is none.
    bool DataExtent(KelPlotUI::AxisLoc loc, bool positiveOnly, double& lo, double& hi) const;

    CString m_strPlotID;
    CString m_strMoniker;
    TitleLine m_Title;
    TitleLine m_SubTitle;
    int m_nTitleFlag = 0;
    COLORREF m_BkColor = RGB(255, 255, 255);
    COLORREF m_DataBkColor = RGB(255, 255, 255);
    std::vector<CAxisUI> m_Axes;
    std::vector<Series> m_Series;
    Range m_Ranges[5];
    std::vector<RangeCall> m_Journal;
};
