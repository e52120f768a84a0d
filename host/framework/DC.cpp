#include "host/framework/DC.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

LOGFONT MakeLogFont(int emHeight, const char* face) {
    LOGFONT lf{};
    lf.lfHeight = -emHeight;
    lf.lfWeight = FW_NORMAL;
    std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", face ? face : "");
    return lf;
}

std::string SvgColor(COLORREF c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

std::string XmlEscape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        switch (ch) {
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
        default:
            // Control characters are not allowed in XML text.
            out += (static_cast<unsigned char>(ch) < 0x20) ? ' ' : ch;
        }
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- GDI objects

CFont::CFont() : m_Log(MakeLogFont(12, "System")) {}

BOOL CFont::CreatePointFont(int nPointSize, const char* lpszFaceName, CDC* /*pDC*/) {
    if (m_bCreated || nPointSize <= 0)
        return FALSE;
    // Tenths of a point to pixels at 96 per inch, rounded.
    const int h = (nPointSize * 96 + 360) / 720;
    m_Log = MakeLogFont(h > 0 ? h : 1, lpszFaceName);
    m_bCreated = true;
    return TRUE;
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lpLogFont) {
    if (m_bCreated || !lpLogFont)
        return FALSE;
    m_Log = *lpLogFont;
    m_Log.lfFaceName[LF_FACESIZE - 1] = '\0';
    if (m_Log.lfHeight == 0)
        m_Log.lfHeight = -12;
    m_bCreated = true;
    return TRUE;
}

int CFont::GetLogFont(LOGFONT* pLogFont) const {
    if (!pLogFont)
        return 0;
    *pLogFont = m_Log;
    return static_cast<int>(sizeof(LOGFONT));
}

int CFont::GetEmHeight() const {
    // A positive height is the cell height, which is 4/3 of the em height.
    const long h = m_Log.lfHeight < 0 ? -m_Log.lfHeight : (m_Log.lfHeight * 3) / 4;
    return h > 0 ? static_cast<int>(h) : 1;
}

int CFont::GetCellHeight() const {
    return GetEmHeight() * 4 / 3;
}
int CFont::GetAscent() const {
    return GetEmHeight();
}
int CFont::GetCharWidth() const {
    return (GetEmHeight() * 6 + 5) / 11;
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
    m_nStyle = nPenStyle;
    m_nWidth = nWidth > 0 ? nWidth : 1;
    m_Color = crColor;
    m_bCreated = true;
    return TRUE;
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
    m_Color = crColor;
    m_bHollow = false;
    m_bCreated = true;
    return TRUE;
}

BOOL CBrush::CreateHollowBrush() {
    m_bHollow = true;
    m_bCreated = true;
    return TRUE;
}

// ---------------------------------------------------------------- CDC state

CDC::CDC() : m_pFont(&m_StockFont), m_pPen(&m_StockPen), m_pBrush(&m_StockBrush) {}

CDC::~CDC() = default;

int CDC::SetMapMode(int nMapMode) {
    const int old = m_nMapMode;
    if (nMapMode == MM_TEXT)
        m_nMapMode = nMapMode;
    return old;
}

CPoint CDC::SetViewportOrg(int x, int y) {
    const CPoint old = m_ViewportOrg;
    m_ViewportOrg = CPoint(x, y);
    return old;
}

CPoint CDC::OffsetViewportOrg(int dx, int dy) {
    const CPoint old = m_ViewportOrg;
    m_ViewportOrg.Offset(dx, dy);
    return old;
}

UINT CDC::SetTextAlign(UINT nFlags) {
    const UINT old = m_nTextAlign;
    m_nTextAlign = nFlags;
    return old;
}

COLORREF CDC::SetTextColor(COLORREF crColor) {
    const COLORREF old = m_TextColor;
    m_TextColor = crColor;
    return old;
}

COLORREF CDC::SetBkColor(COLORREF crColor) {
    const COLORREF old = m_BkColor;
    m_BkColor = crColor;
    return old;
}

int CDC::SetBkMode(int nBkMode) {
    const int old = m_nBkMode;
    if (nBkMode == OPAQUE || nBkMode == TRANSPARENT)
        m_nBkMode = nBkMode;
    return old;
}

CFont* CDC::SelectObject(CFont* pFont) {
    CFont* old = m_pFont;
    m_pFont = pFont ? pFont : &m_StockFont;
    return old;
}

CPen* CDC::SelectObject(CPen* pPen) {
    CPen* old = m_pPen;
    m_pPen = pPen ? pPen : &m_StockPen;
    return old;
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    CBrush* old = m_pBrush;
    m_pBrush = pBrush ? pBrush : &m_StockBrush;
    return old;
}

int CDC::GetDeviceCaps(int nIndex) const {
    return (nIndex == LOGPIXELSX || nIndex == LOGPIXELSY) ? 96 : 0;
}

CSize CDC::GetTextExtent(const char* lpszString, int nCount) const {
    if (!lpszString || nCount < 0)
        nCount = 0;
    return CSize(nCount * m_pFont->GetCharWidth(), m_pFont->GetCellHeight());
}

// ---------------------------------------------------------------- drawing

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr) {
    if (!lpRect)
        return;
    // As on the platform, the fill is done with the background colour.
    SetBkColor(clr);
    CDrawOp op{};
    op.kind = CDrawOp::Fill;
    op.rect = CRect(*lpRect);
    op.viewportOrg = m_ViewportOrg;
    op.color = clr;
    m_Ops.push_back(op);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr) {
    const CRect rc(x, y, x + cx, y + cy);
    FillSolidRect(&rc, clr);
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush) {
    if (!lpRect || !pBrush || pBrush->m_bHollow)
        return;
    CDrawOp op{};
    op.kind = CDrawOp::Fill;
    op.rect = CRect(*lpRect);
    op.viewportOrg = m_ViewportOrg;
    op.color = pBrush->m_Color;
    m_Ops.push_back(op);
}

CRect CDC::TextBox(int x, int y, const char* text, int nCount) const {
    const CSize ext = GetTextExtent(text, nCount);
    int left = x;
    if ((m_nTextAlign & TA_CENTER) == TA_CENTER)
        left = x - ext.cx / 2;
    else if (m_nTextAlign & TA_RIGHT)
        left = x - ext.cx;
    int top = y;
    if ((m_nTextAlign & TA_BASELINE) == TA_BASELINE)
        top = y - m_pFont->GetAscent();
    else if (m_nTextAlign & TA_BOTTOM)
        top = y - ext.cy;
    return CRect(left, top, left + ext.cx, top + ext.cy);
}

BOOL CDC::TextOut(int x, int y, const char* lpszString, int nCount) {
    if (!lpszString || nCount < 0)
        return FALSE;
    const int len = static_cast<int>(std::strlen(lpszString));
    if (nCount > len)
        nCount = len;
    CDrawOp op{};
    op.kind = CDrawOp::Text;
    op.rect = TextBox(x, y, lpszString, nCount);
    op.from = CPoint(x, y);
    op.to = op.from;
    op.viewportOrg = m_ViewportOrg;
    op.color = m_TextColor;
    op.bkColor = m_BkColor;
    op.bkMode = m_nBkMode;
    op.align = m_nTextAlign;
    op.text.assign(lpszString, static_cast<size_t>(nCount));
    op.fontFace = m_pFont->GetFaceName();
    op.fontEmHeight = m_pFont->GetEmHeight();
    op.fontWeight = m_pFont->GetWeight();
    op.fontEscapement = m_pFont->GetEscapement();
    m_Ops.push_back(op);
    return TRUE;
}

int CDC::DrawText(const char* lpszString, LPCRECT lpRect, UINT nFormat) {
    if (!lpszString || !lpRect)
        return 0;
    const CRect rc(*lpRect);
    const int h = m_pFont->GetCellHeight();
    UINT align = TA_TOP;
    int x = static_cast<int>(rc.left);
    if (nFormat & DT_CENTER) {
        align |= TA_CENTER;
        x = static_cast<int>(rc.left + rc.right) / 2;
    } else if (nFormat & DT_RIGHT) {
        align |= TA_RIGHT;
        x = static_cast<int>(rc.right);
    }
    int y = static_cast<int>(rc.top);
    if (nFormat & DT_VCENTER)
        y = static_cast<int>(rc.top + rc.bottom) / 2 - h / 2;
    else if (nFormat & DT_BOTTOM)
        y = static_cast<int>(rc.bottom) - h;
    const UINT oldAlign = SetTextAlign(align);
    TextOut(x, y, lpszString, static_cast<int>(std::strlen(lpszString)));
    SetTextAlign(oldAlign);
    return h;
}

CPoint CDC::MoveTo(int x, int y) {
    const CPoint old = m_CurrentPos;
    m_CurrentPos = CPoint(x, y);
    return old;
}

BOOL CDC::LineTo(int x, int y) {
    if (m_pPen->m_nStyle != PS_NULL) {
        CDrawOp op{};
        op.kind = CDrawOp::Line;
        op.from = m_CurrentPos;
        op.to = CPoint(x, y);
        op.viewportOrg = m_ViewportOrg;
        op.color = m_pPen->m_Color;
        op.penWidth = m_pPen->m_nWidth;
        op.penStyle = m_pPen->m_nStyle;
        m_Ops.push_back(op);
    }
    m_CurrentPos = CPoint(x, y);
    return TRUE;
}

BOOL CDC::Polyline(const POINT* lpPoints, int nCount) {
    if (!lpPoints || nCount < 2)
        return FALSE;
    const CPoint saved = m_CurrentPos;
    MoveTo(static_cast<int>(lpPoints[0].x), static_cast<int>(lpPoints[0].y));
    for (int i = 1; i < nCount; ++i)
        LineTo(static_cast<int>(lpPoints[i].x), static_cast<int>(lpPoints[i].y));
    m_CurrentPos = saved; // Polyline does not move the current position
    return TRUE;
}

BOOL CDC::Rectangle(int x1, int y1, int x2, int y2) {
    CDrawOp op{};
    op.kind = CDrawOp::Rectangle;
    op.rect = CRect(x1, y1, x2, y2);
    op.viewportOrg = m_ViewportOrg;
    op.color = m_pPen->m_Color;
    op.penWidth = m_pPen->m_nStyle == PS_NULL ? 0 : m_pPen->m_nWidth;
    op.penStyle = m_pPen->m_nStyle;
    op.bkColor = m_pBrush->m_Color;
    op.hollow = m_pBrush->m_bHollow;
    m_Ops.push_back(op);
    return TRUE;
}

BOOL CDC::Ellipse(int x1, int y1, int x2, int y2) {
    Rectangle(x1, y1, x2, y2);
    m_Ops.back().kind = CDrawOp::Ellipse;
    return TRUE;
}

int CDC::CountOps(CDrawOp::Kind kind) const {
    return static_cast<int>(
        std::count_if(m_Ops.begin(), m_Ops.end(), [kind](const CDrawOp& op) { return op.kind == kind; }));
}

// ---------------------------------------------------------------- SVG

std::string CDC::GetSVG() const {
    // Device coordinates: logical plus the viewport origin of the operation.
    auto dev = [](const CRect& r, const CPoint& org) {
        CRect d = r;
        d.OffsetRect(static_cast<int>(org.x), static_cast<int>(org.y));
        return d;
    };
    int width = static_cast<int>(m_SvgSize.cx);
    int height = static_cast<int>(m_SvgSize.cy);
    if (width <= 0 || height <= 0) {
        long maxX = 1, maxY = 1;
        for (const CDrawOp& op : m_Ops) {
            CRect r = op.kind == CDrawOp::Line
                          ? CRect(std::min(op.from.x, op.to.x), std::min(op.from.y, op.to.y),
                                  std::max(op.from.x, op.to.x), std::max(op.from.y, op.to.y))
                          : op.rect;
            r = dev(r, op.viewportOrg);
            maxX = std::max(maxX, static_cast<long>(r.right));
            maxY = std::max(maxY, static_cast<long>(r.bottom));
        }
        width = static_cast<int>(maxX);
        height = static_cast<int>(maxY);
    }

    std::ostringstream s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n";
    for (const CDrawOp& op : m_Ops) {
        const long ox = op.viewportOrg.x, oy = op.viewportOrg.y;
        switch (op.kind) {
        case CDrawOp::Fill: {
            const CRect r = dev(op.rect, op.viewportOrg);
            s << "<rect x=\"" << r.left << "\" y=\"" << r.top << "\" width=\"" << r.Width() << "\" height=\""
              << r.Height() << "\" fill=\"" << SvgColor(op.color) << "\"/>\n";
            break;
        }
        case CDrawOp::Rectangle:
        case CDrawOp::Ellipse: {
            const CRect r = dev(op.rect, op.viewportOrg);
            const std::string fill = op.hollow ? "none" : SvgColor(op.bkColor);
            const std::string stroke = op.penWidth > 0 ? SvgColor(op.color) : "none";
            if (op.kind == CDrawOp::Rectangle)
                s << "<rect x=\"" << r.left << "\" y=\"" << r.top << "\" width=\"" << r.Width()
                  << "\" height=\"" << r.Height() << '"';
            else
                s << "<ellipse cx=\"" << (r.left + r.right) / 2.0 << "\" cy=\"" << (r.top + r.bottom) / 2.0
                  << "\" rx=\"" << r.Width() / 2.0 << "\" ry=\"" << r.Height() / 2.0 << '"';
            s << " fill=\"" << fill << "\" stroke=\"" << stroke << "\" stroke-width=\"" << op.penWidth
              << "\"/>\n";
            break;
        }
        case CDrawOp::Line:
            s << "<line x1=\"" << op.from.x + ox << "\" y1=\"" << op.from.y + oy << "\" x2=\"" << op.to.x + ox
              << "\" y2=\"" << op.to.y + oy << "\" stroke=\"" << SvgColor(op.color) << "\" stroke-width=\""
              << op.penWidth << '"';
            if (op.penStyle == PS_DASH)
                s << " stroke-dasharray=\"6,3\"";
            else if (op.penStyle == PS_DOT)
                s << " stroke-dasharray=\"1,2\"";
            s << "/>\n";
            break;
        case CDrawOp::Text: {
            const CRect box = dev(op.rect, op.viewportOrg);
            if (op.bkMode == OPAQUE && op.fontEscapement == 0)
                s << "<rect x=\"" << box.left << "\" y=\"" << box.top << "\" width=\"" << box.Width()
                  << "\" height=\"" << box.Height() << "\" fill=\"" << SvgColor(op.bkColor) << "\"/>\n";
            // Anchored like the recorded alignment, on the baseline of the text's box, so that a
            // proportional font of the viewer still lines up on the reference point; a rotated
            // text turns about its reference point.
            const long baseY = box.top + op.fontEmHeight;
            long anchorX = box.left;
            const char* anchor = "start";
            if ((op.align & TA_CENTER) == TA_CENTER) {
                anchorX = (box.left + box.right) / 2;
                anchor = "middle";
            } else if (op.align & TA_RIGHT) {
                anchorX = box.right;
                anchor = "end";
            }
            s << "<text x=\"" << anchorX << "\" y=\"" << baseY << "\" text-anchor=\"" << anchor
              << "\" font-family=\"" << XmlEscape(op.fontFace) << "\" font-size=\"" << op.fontEmHeight
              << "px\" fill=\"" << SvgColor(op.color) << '"';
            if (op.fontWeight >= FW_BOLD)
                s << " font-weight=\"bold\"";
            if (op.fontEscapement != 0)
                s << " transform=\"rotate(" << -op.fontEscapement / 10.0 << ' ' << op.from.x + ox << ' '
                  << op.from.y + oy << ")\"";
            s << " xml:space=\"preserve\">" << XmlEscape(op.text) << "</text>\n";
            break;
        }
        }
    }
    s << "</svg>\n";
    return s.str();
}

bool CDC::WriteSVG(const char* path) const {
    if (!path)
        return false;
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const std::string svg = GetSVG();
    const bool ok = std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
    return std::fclose(f) == 0 && ok;
}
