#include "host/grid/KelGrid.h"

#include "host/framework/Wnd.h"
#include "host/grid/GridDataSource.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace

int CUGCtrl::EnableMenu(int enable) {
    const int old = m_bMenu ? 1 : 0;
    m_bMenu = enable != 0;
    return old;
}

int CUGCtrl::RedrawAll() {
    ++m_nRedrawCount;
    if (m_pWnd) {
        m_pWnd->Invalidate(TRUE);
        m_pWnd->UpdateWindow();
    }
    return 0;
}

void CUGCtrl::SetHeadings(int nHeadingRows, int nSideHeadingCols) {
    m_nHeadingRows = nHeadingRows > 0 ? 1 : 0;
    m_nSideCols = nSideHeadingCols > 0 ? 1 : 0;
}

int CUGCtrl::GetNumberCols() const {
    return m_pSource ? m_pSource->GetNumberCols() : 0;
}
int CUGCtrl::GetNumberRows() const {
    return m_pSource ? m_pSource->GetNumberRows() : 0;
}

std::string CUGCtrl::GetCSV() const {
    std::string out;
    const int cols = GetNumberCols();
    const int rows = GetNumberRows();
    if (m_nHeadingRows > 0) {
        if (m_nSideCols > 0)
            out += "#";
        for (int c = 0; c < cols; ++c) {
            if (c > 0 || m_nSideCols > 0)
                out += ',';
            out += CsvField(KelPlainLabel(m_pSource->GetColLabel(c)).Str());
        }
        out += '\n';
    }
    for (int r = 0; r < rows; ++r) {
        if (m_nSideCols > 0)
            out += std::to_string(r);
        for (int c = 0; c < cols; ++c) {
            if (c > 0 || m_nSideCols > 0)
                out += ',';
            out += CsvField(m_pSource->GetCellText(r, c).Str());
        }
        out += '\n';
    }
    return out;
}

bool CUGCtrl::WriteCSV(const char* path) const {
    if (!path)
        return false;
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const std::string csv = GetCSV();
    const bool ok = std::fwrite(csv.data(), 1, csv.size(), f) == csv.size();
    return std::fclose(f) == 0 && ok;
}

std::string CUGCtrl::GetText() const {
    const int cols = GetNumberCols();
    const int rows = GetNumberRows();
    // Cells of the table, headings included, then padded to the widest of each column.
    std::vector<std::vector<std::string>> table;
    if (m_nHeadingRows > 0) {
        std::vector<std::string> row;
        if (m_nSideCols > 0)
            row.emplace_back("#");
        for (int c = 0; c < cols; ++c)
            row.push_back(KelPlainLabel(m_pSource->GetColLabel(c)).Str());
        table.push_back(row);
    }
    for (int r = 0; r < rows; ++r) {
        std::vector<std::string> row;
        if (m_nSideCols > 0)
            row.push_back(std::to_string(r));
        for (int c = 0; c < cols; ++c)
            row.push_back(m_pSource->GetCellText(r, c).Str());
        table.push_back(row);
    }
    std::vector<size_t> width;
    for (const auto& row : table)
        for (size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c)
                width.push_back(0);
            width[c] = std::max(width[c], row[c].size());
        }
    std::string out;
    for (const auto& row : table) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += "  ";
            line += std::string(width[c] - row[c].size(), ' ') + row[c];
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + '\n';
    }
    return out;
}

CSize CUGCtrl::Draw(CDC* pDC, int maxHeight) const {
    if (!pDC)
        return CSize();
    CFont font;
    font.CreatePointFont(80, "Arial");
    CFont bold;
    LOGFONT lf{};
    font.GetLogFont(&lf);
    lf.lfWeight = FW_BOLD;
    bold.CreateFontIndirect(&lf);
    CFont* oldFont = pDC->SelectObject(&font);
    const int cols = GetNumberCols();
    int rows = GetNumberRows();
    const int rowH = font.GetCellHeight() + 4;
    const int colW = font.GetCharWidth() * 16;
    const int sideW = m_nSideCols > 0 ? font.GetCharWidth() * 6 : 0;
    const int headH = m_nHeadingRows > 0 ? rowH : 0;
    // Rows below the visible height are not drawn.
    const int fit = maxHeight > headH ? (maxHeight - headH + rowH - 1) / rowH : 0;
    if (rows > fit)
        rows = fit;
    const int totalW = sideW + cols * colW;
    const int totalH = headH + rows * rowH;
    const UINT oldAlign = pDC->SetTextAlign(TA_RIGHT | TA_TOP);
    const int oldMode = pDC->SetBkMode(TRANSPARENT);
    pDC->FillSolidRect(0, 0, totalW, totalH, RGB(255, 255, 255));
    if (headH > 0) {
        pDC->FillSolidRect(0, 0, totalW, headH, GetSysColor(COLOR_BTNFACE));
        pDC->SelectObject(&bold);
        for (int c = 0; c < cols; ++c)
            pDC->TextOut(sideW + (c + 1) * colW - 4, 2, KelPlainLabel(m_pSource->GetColLabel(c)));
        pDC->SelectObject(&font);
    }
    if (sideW > 0)
        pDC->FillSolidRect(0, headH, sideW, rows * rowH, GetSysColor(COLOR_BTNFACE));
    for (int r = 0; r < rows; ++r) {
        const int y = headH + r * rowH + 2;
        if (sideW > 0)
            pDC->TextOut(sideW - 4, y, CString(std::to_string(r)));
        for (int c = 0; c < cols; ++c)
            pDC->TextOut(sideW + (c + 1) * colW - 4, y, m_pSource->GetCellText(r, c));
    }
    CPen line(PS_SOLID, 1, RGB(192, 192, 192));
    CPen* oldPen = pDC->SelectObject(&line);
    for (int c = 0; c <= cols; ++c) {
        pDC->MoveTo(sideW + c * colW, 0);
        pDC->LineTo(sideW + c * colW, totalH);
    }
    for (int r = 0; r <= rows; ++r) {
        pDC->MoveTo(0, headH + r * rowH);
        pDC->LineTo(totalW, headH + r * rowH);
    }
    pDC->SelectObject(oldPen);
    pDC->SetBkMode(oldMode);
    pDC->SetTextAlign(oldAlign);
    pDC->SelectObject(oldFont);
    return CSize(totalW, totalH);
}
