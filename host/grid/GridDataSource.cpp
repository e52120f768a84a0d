#include "host/grid/GridDataSource.h"

#include <cstdio>
#include <cstring>
#include <string>

CHdrGridDataSrc::CHdrGridDataSrc() = default;
CHdrGridDataSrc::~CHdrGridDataSrc() = default;

int CHdrGridDataSrc::AddCol(CBaseHdr* pHdr, CHdrGridActions* pActions, const char* name) {
    if (!pHdr)
        return -1;
    Column c;
    c.pHdr = pHdr;
    c.pActions = pActions;
    c.label = (name && *name) ? CString(name) : pHdr->GetMoniker();
    if (CDblHdr* d = pHdr->GetDblHdr()) {
        c.shared = std::make_unique<CDblHdr>();
        c.shared->Attach(*d);
    }
    m_Columns.push_back(std::move(c));
    return static_cast<int>(m_Columns.size()) - 1;
}

BOOL CHdrGridDataSrc::Construct() {
    m_nLaidOut = static_cast<int>(m_Columns.size());
    ++m_nConstructCount;
    return TRUE;
}

void CHdrGridDataSrc::ClearColumns() {
    m_Columns.clear();
    m_nLaidOut = 0;
}

int CHdrGridDataSrc::GetColLength(int col) const {
    if (col < 0 || col >= m_nLaidOut)
        return 0;
    const Column& c = m_Columns[static_cast<size_t>(col)];
    return c.shared ? c.shared->GetSize() : c.pHdr->GetSize();
}

int CHdrGridDataSrc::GetNumberRows() const {
    int rows = 0;
    for (int col = 0; col < m_nLaidOut; ++col) {
        const int len = GetColLength(col);
        if (len > rows)
            rows = len;
    }
    return rows;
}

CString CHdrGridDataSrc::GetColLabel(int col) const {
    if (col < 0 || col >= m_nLaidOut)
        return CString();
    return m_Columns[static_cast<size_t>(col)].label;
}

double CHdrGridDataSrc::GetDouble(int row, int col) const {
    if (row < 0 || row >= GetColLength(col))
        return 0.0;
    const Column& c = m_Columns[static_cast<size_t>(col)];
    if (c.shared)
        return (*c.shared)[row];
    if (CIntHdr* ih = c.pHdr->GetIntHdr())
        return static_cast<double>((*ih)[row]);
    return 0.0;
}

CString CHdrGridDataSrc::GetCellText(int row, int col) const {
    if (row < 0 || row >= GetColLength(col))
        return CString();
    const Column& c = m_Columns[static_cast<size_t>(col)];
    char buf[64];
    if (!c.shared && c.pHdr->GetIntHdr())
        std::snprintf(buf, sizeof buf, "%d", (*c.pHdr->GetIntHdr())[row]);
    else
        std::snprintf(buf, sizeof buf, "%.12g", GetDouble(row, col));
    return CString(buf);
}

const CBaseHdr* CHdrGridDataSrc::GetColHeader(int col) const {
    if (col < 0 || col >= static_cast<int>(m_Columns.size()))
        return nullptr;
    return m_Columns[static_cast<size_t>(col)].pHdr;
}

CHdrGridActions* CHdrGridDataSrc::GetColActions(int col) const {
    if (col < 0 || col >= static_cast<int>(m_Columns.size()))
        return nullptr;
    return m_Columns[static_cast<size_t>(col)].pActions;
}

bool CHdrGridDataSrc::ColShows(int col, const CDblHdr& hdr) const {
    if (col < 0 || col >= static_cast<int>(m_Columns.size()))
        return false;
    const Column& c = m_Columns[static_cast<size_t>(col)];
    return c.shared && c.shared->SharesValuesWith(hdr);
}

CString KelPlainLabel(const char* label) {
    std::string out;
    if (!label)
        return CString();
    const char* p = label;
    while (*p) {
        if (*p == '{' && p[1] == '\\') {
            // "{\sub text}" or "{\sup text}": a marker, then the text up to the brace.
            const char* q = p + 2;
            std::string word;
            while (*q && *q != ' ' && *q != '}')
                word += *q++;
            if (*q == ' ')
                ++q;
            out += word == "sup" ? '^' : '_';
            while (*q && *q != '}')
                out += *q++;
            p = *q ? q + 1 : q;
            continue;
        }
        if (*p != '{' && *p != '}')
            out += *p;
        ++p;
    }
    return CString(out);
}
