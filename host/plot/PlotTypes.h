#pragma once

// Descriptions that a caller hands to a plot (CWPlot): axes and data series.
//
// A plot keeps its own copies of the descriptions it is given. A series refers
// to its x and y data by sharing the value store of the caller's double headers
// (CDblHdr::Attach): values appended to the caller's arrays appear in the plot
// at the next drawing, and the values stay readable by the plot even when the
// caller's header goes away first.

#include "host/data/DataHeaders.h"
#include "host/framework/String.h"
#include "host/framework/WinTypes.h"

namespace KelPlotUI {
// Where an axis sits around the data area. Series name the axes they are drawn
// against by location.
enum AxisLoc { NoAxis = 0, Bottom = 1, Top = 2, Left = 3, Right = 4 };
} // namespace KelPlotUI

namespace KelSymbols {
// Marker drawn at every point of a series; None draws the connecting line only.
enum Symbol { None = 0, Circle = 1, Square = 2, Cross = 3 };
} // namespace KelSymbols

// The location part of an axis: what a series refers to.
class CAxisLocUI {
public:
    explicit CAxisLocUI(KelPlotUI::AxisLoc loc = KelPlotUI::NoAxis) : m_Loc(loc) {}
    virtual ~CAxisLocUI() = default;
    CAxisLocUI(const CAxisLocUI&) = default;
    CAxisLocUI& operator=(const CAxisLocUI&) = default;

    KelPlotUI::AxisLoc GetAxisLoc() const { return m_Loc; }
    void SetAxisLoc(KelPlotUI::AxisLoc loc) { m_Loc = loc; }
    bool IsHorizontal() const { return m_Loc == KelPlotUI::Bottom || m_Loc == KelPlotUI::Top; }

protected:
    KelPlotUI::AxisLoc m_Loc;
};

// An axis: location, scale type, labels and grid-line flag.
class CAxisUI : public CAxisLocUI {
public:
    // Scale of the axis: linear, linear with whole-number ticks, or logarithmic
    // (base 10; values that are not positive cannot be shown on it).
    enum AxisType { Linear = 0, Integer = 1, Log10 = 2 };

    // nOffset: distance in pixels between the data area and the axis line;
    // nTickStyle: 0 ticks outward, 1 ticks inward.
    CAxisUI(KelPlotUI::AxisLoc loc, int nOffset, AxisType type, int nTickStyle)
        : CAxisLocUI(loc), m_Type(type), m_nOffset(nOffset), m_nTickStyle(nTickStyle) {}

    AxisType m_Type;
    int m_nOffset;
    int m_nTickStyle;
    CString m_strLabel;      // text written along the axis
    CString m_strShortLabel; // text a table or legend uses for the axis
    int m_bGridLines = 0;    // draw grid lines across the data area at the ticks
};

// A data series: x and y values, the axes they are drawn against, presentation.
class CDataUI {
public:
    // A series of the two headers' values, named after the y header.
    CDataUI(CDblHdr& x, CDblHdr& y, CAxisLocUI* pXAxis, CAxisLocUI* pYAxis, KelSymbols::Symbol symbol);
    // A copy shares the data of the original (it does not copy the values).
    CDataUI(const CDataUI& other);
    CDataUI& operator=(const CDataUI& other);
    virtual ~CDataUI() = default;

    // Points the series at a header's values (shared, see above); null empties it.
    void SetXData(CDblHdr* pHdr);
    void SetYData(CDblHdr* pHdr);
    const CDblHdr& GetXData() const { return m_XData; }
    const CDblHdr& GetYData() const { return m_YData; }
    // True when the series shows the values of this header.
    bool ShowsXOf(const CDblHdr& hdr) const { return m_XData.SharesValuesWith(hdr); }
    bool ShowsYOf(const CDblHdr& hdr) const { return m_YData.SharesValuesWith(hdr); }
    // Points that can be drawn: the shorter of the two arrays.
    int GetPointCount() const;

    CString m_strName;   // key by which the plot finds the series
    CString m_strLegend; // text shown in the legend
    COLORREF m_Color = RGB(0, 0, 160);
    int m_nLineWidth = 1;  // pen width of the connecting line, in pixels
    int m_bLegend = 0;     // list the series in the legend beside the data area
    int m_nFirstPoint = 0; // points before this index are not drawn nor used for ranges
    CAxisLocUI m_XAxis;
    CAxisLocUI m_YAxis;
    KelSymbols::Symbol m_Symbol;

private:
    CDblHdr m_XData;
    CDblHdr m_YData;
};
