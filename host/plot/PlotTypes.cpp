#include "host/plot/PlotTypes.h"

CDataUI::CDataUI(CDblHdr& x, CDblHdr& y, CAxisLocUI* pXAxis, CAxisLocUI* pYAxis, KelSymbols::Symbol symbol)
    : m_strName(y.GetMoniker()), m_strLegend(y.GetMoniker()), m_XAxis(pXAxis ? *pXAxis : CAxisLocUI()),
      m_YAxis(pYAxis ? *pYAxis : CAxisLocUI()), m_Symbol(symbol) {
    SetXData(&x);
    SetYData(&y);
}

CDataUI::CDataUI(const CDataUI& other)
    : m_strName(other.m_strName), m_strLegend(other.m_strLegend), m_Color(other.m_Color),
      m_nLineWidth(other.m_nLineWidth), m_bLegend(other.m_bLegend), m_nFirstPoint(other.m_nFirstPoint),
      m_XAxis(other.m_XAxis), m_YAxis(other.m_YAxis), m_Symbol(other.m_Symbol) {
    m_XData.Attach(other.m_XData);
    m_YData.Attach(other.m_YData);
}

CDataUI& CDataUI::operator=(const CDataUI& other) {
    if (this == &other)
        return *this;
    m_strName = other.m_strName;
    m_strLegend = other.m_strLegend;
    m_Color = other.m_Color;
    m_nLineWidth = other.m_nLineWidth;
    m_bLegend = other.m_bLegend;
    m_nFirstPoint = other.m_nFirstPoint;
    m_XAxis = other.m_XAxis;
    m_YAxis = other.m_YAxis;
    m_Symbol = other.m_Symbol;
    m_XData.Attach(other.m_XData);
    m_YData.Attach(other.m_YData);
    return *this;
}

void CDataUI::SetXData(CDblHdr* pHdr) {
    if (pHdr)
        m_XData.Attach(*pHdr);
    else
        m_XData.Attach(CDblHdr());
}

void CDataUI::SetYData(CDblHdr* pHdr) {
    if (pHdr)
        m_YData.Attach(*pHdr);
    else
        m_YData.Attach(CDblHdr());
}

int CDataUI::GetPointCount() const {
    const int nx = m_XData.GetSize();
    const int ny = m_YData.GetSize();
    return nx < ny ? nx : ny;
}
