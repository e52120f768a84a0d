#pragma once

// Device context, fonts, pens and brushes of the framework stand-in.
//
// CDC records what is drawn instead of rasterising it: every fill, line,
// rectangle, ellipse and text becomes one CDrawOp with its coordinates (in
// logical units, together with the viewport origin in force), colours, and, for
// text, the alignment, font and background mode. Tests inspect GetOps(); a
// picture of the recording is available as SVG (GetSVG, WriteSVG).
//
// Behaviour kept from the platform because callers depend on it:
// - FillSolidRect sets the background colour to the fill colour (callers that
//   draw text afterwards set it back themselves).
// - Text is drawn with the background colour behind it when the background
//   mode is OPAQUE (the default) and without when it is TRANSPARENT.
// - SetTextAlign, SetTextColor, SetBkColor, SetBkMode and SelectObject return
//   the previous setting.
// - Only MM_TEXT is supported: one logical unit is one pixel, y grows downward;
//   the viewport origin is added to logical coordinates to give device
//   coordinates (scroll views set it to minus the scroll position).
//
// Fonts have fixed metrics at 96 pixels per inch: a font of P points is
// h = round(P * 96 / 72) pixels high (the em height, lfHeight = -h), its text
// cells are h * 4 / 3 pixels high (integer division: ascent h, descent h / 3)
// and every character is (h * 6 + 5) / 11 pixels wide. CreatePointFont(80,
// "Arial") thus measures "0" as 6 x 14 pixels. The default font of a new
// context is "System" with h = 12.

#include "host/framework/String.h"
#include "host/framework/WinTypes.h"

#include <string>
#include <vector>

class CDC;
class CWnd;

constexpr int LF_FACESIZE = 32;

// DrawText formats (single line only).
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_SINGLELINE = 0x0020;

struct LOGFONT {
    LONG lfHeight; // negative: em height in pixels; positive: cell height in pixels
    LONG lfWidth;
    LONG lfEscapement; // tenths of a degree, counter-clockwise
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    char lfFaceName[LF_FACESIZE];
};

class CGdiObject {
public:
    virtual ~CGdiObject() = default;
    bool IsCreated() const { return m_bCreated; }

protected:
    bool m_bCreated = false;
};

class CFont : public CGdiObject {
public:
    CFont();
    // nPointSize in tenths of a point; the device context is not needed for the
    // fixed metrics and may be null.
    BOOL CreatePointFont(int nPointSize, const char* lpszFaceName, CDC* pDC = nullptr);
    BOOL CreateFontIndirect(const LOGFONT* lpLogFont);
    int GetLogFont(LOGFONT* pLogFont) const;

    // Fixed metrics (see the header comment).
    int GetEmHeight() const;
    int GetCellHeight() const;
    int GetAscent() const;
    int GetCharWidth() const;
    const char* GetFaceName() const { return m_Log.lfFaceName; }
    int GetWeight() const { return static_cast<int>(m_Log.lfWeight); }
    int GetEscapement() const { return static_cast<int>(m_Log.lfEscapement); }

private:
    LOGFONT m_Log;
};

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int nPenStyle, int nWidth, COLORREF crColor) { CreatePen(nPenStyle, nWidth, crColor); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
    int m_nStyle = PS_SOLID;
    int m_nWidth = 1;
    COLORREF m_Color = RGB(0, 0, 0);
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF crColor) { CreateSolidBrush(crColor); }
    BOOL CreateSolidBrush(COLORREF crColor);
    // A hollow brush: shapes are drawn outlined only.
    BOOL CreateHollowBrush();
    COLORREF m_Color = RGB(255, 255, 255);
    bool m_bHollow = false;
};

// One recorded drawing operation.
struct CDrawOp {
    enum Kind { Fill, Text, Line, Rectangle, Ellipse };
    Kind kind;
    CRect rect;      // Fill, Rectangle, Ellipse: the shape; Text: the text's cell box (logical)
    CPoint from, to; // Line: the end points; Text: `from` is the reference point given
    CPoint viewportOrg;
    COLORREF color = 0;   // Fill: fill colour; Text: text colour; Line, Rectangle, Ellipse: pen colour
    COLORREF bkColor = 0; // Text: background colour; Rectangle, Ellipse: brush colour
    int bkMode = OPAQUE;  // Text only
    bool hollow = false;  // Rectangle, Ellipse: no fill
    int penWidth = 1;
    int penStyle = PS_SOLID;
    UINT align = 0; // Text: TA_* flags
    std::string text;
    std::string fontFace;
    int fontEmHeight = 0;
    int fontWeight = FW_NORMAL;
    int fontEscapement = 0;
};

class CDC {
public:
    CDC();
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // ---- state
    int SetMapMode(int nMapMode); // only MM_TEXT; returns the previous mode
    int GetMapMode() const { return m_nMapMode; }
    CPoint SetViewportOrg(int x, int y);
    CPoint SetViewportOrg(POINT p) { return SetViewportOrg(static_cast<int>(p.x), static_cast<int>(p.y)); }
    CPoint GetViewportOrg() const { return m_ViewportOrg; }
    CPoint OffsetViewportOrg(int dx, int dy);

    UINT SetTextAlign(UINT nFlags);
    UINT GetTextAlign() const { return m_nTextAlign; }
    COLORREF SetTextColor(COLORREF crColor);
    COLORREF GetTextColor() const { return m_TextColor; }
    COLORREF SetBkColor(COLORREF crColor);
    COLORREF GetBkColor() const { return m_BkColor; }
    int SetBkMode(int nBkMode);
    int GetBkMode() const { return m_nBkMode; }

    // Selecting a font, pen or brush returns the one selected before (null
    // selects the context's stock object back).
    CFont* SelectObject(CFont* pFont);
    CPen* SelectObject(CPen* pPen);
    CBrush* SelectObject(CBrush* pBrush);
    CFont* GetCurrentFont() const { return m_pFont; }

    int GetDeviceCaps(int nIndex) const; // LOGPIXELSX/Y: 96

    // ---- measuring
    CSize GetTextExtent(const char* lpszString, int nCount) const;
    CSize GetTextExtent(const CString& str) const { return GetTextExtent(str, str.GetLength()); }

    // ---- drawing
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
    void FillRect(LPCRECT lpRect, CBrush* pBrush);
    BOOL TextOut(int x, int y, const char* lpszString, int nCount);
    BOOL TextOut(int x, int y, const CString& str) { return TextOut(x, y, str, str.GetLength()); }
    // One line of text placed in the rectangle by the DT_* format (recorded as a
    // text with the matching alignment); returns the text height.
    int DrawText(const char* lpszString, LPCRECT lpRect, UINT nFormat);
    CPoint MoveTo(int x, int y);
    BOOL LineTo(int x, int y);
    BOOL Polyline(const POINT* lpPoints, int nCount);
    BOOL Rectangle(int x1, int y1, int x2, int y2); // current pen outline, current brush fill
    BOOL Ellipse(int x1, int y1, int x2, int y2);

    // ---- the recording
    const std::vector<CDrawOp>& GetOps() const { return m_Ops; }
    int CountOps(CDrawOp::Kind kind) const;
    // Forgets the recorded operations; the drawing state stays.
    void ClearOps() { m_Ops.clear(); }

    // Size of the picture that GetSVG writes; (0, 0), the default, means the
    // bounding box of the recorded operations in device coordinates.
    void SetSVGSize(int cx, int cy) { m_SvgSize = CSize(cx, cy); }
    std::string GetSVG() const;
    bool WriteSVG(const char* path) const;

private:
    CRect TextBox(int x, int y, const char* text, int nCount) const;

    int m_nMapMode = MM_TEXT;
    CPoint m_ViewportOrg;
    UINT m_nTextAlign = TA_LEFT | TA_TOP;
    COLORREF m_TextColor = RGB(0, 0, 0);
    COLORREF m_BkColor = RGB(255, 255, 255);
    int m_nBkMode = OPAQUE;
    CFont m_StockFont;
    CPen m_StockPen;
    CBrush m_StockBrush;
    CFont* m_pFont;
    CPen* m_pPen;
    CBrush* m_pBrush;
    CPoint m_CurrentPos;
    CSize m_SvgSize;
    std::vector<CDrawOp> m_Ops;
};

// A device context for a window's client area, released on destruction.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd) : m_pWnd(pWnd) {}
    CWnd* GetWindow() const { return m_pWnd; }

private:
    CWnd* m_pWnd;
};
