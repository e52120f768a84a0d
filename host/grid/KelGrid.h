#pragma once

// The grid control: shows the columns of a data source (CKelDataSource) as a
// table of texts, with one heading row of column labels.
//
// There is no screen here: the grid renders itself as plain text (GetText), as
// comma-separated values (GetCSV, WriteCSV) or into a device context (Draw),
// always with the data source's current values. RedrawAll asks the window that
// shows the grid (if one is attached) to repaint at once.

#include "host/framework/DC.h"
#include "host/framework/String.h"

#include <string>

class CKelDataSource;
class CWnd;

class CUGCtrl {
public:
    CUGCtrl() = default;
    virtual ~CUGCtrl() = default;
    CUGCtrl(const CUGCtrl&) = delete;
    CUGCtrl& operator=(const CUGCtrl&) = delete;

    // The grid's own pop-up menu; returns the former setting.
    int EnableMenu(int enable);
    bool IsMenuEnabled() const { return m_bMenu; }

    // Repaints the grid with the current values; returns 0.
    virtual int RedrawAll();
    int GetRedrawCount() const { return m_nRedrawCount; }

    // The source of the columns (not owned) and the window showing the grid.
    void SetDataSource(CKelDataSource* pSource) { m_pSource = pSource; }
    CKelDataSource* GetDataSource() const { return m_pSource; }
    void AttachWindow(CWnd* pWnd) { m_pWnd = pWnd; }

    // Heading rows (0 or 1: the column labels) and side-heading columns (0 or 1:
    // the row numbers) of the renderings.
    void SetHeadings(int nHeadingRows, int nSideHeadingCols);
    int GetHeadingRows() const { return m_nHeadingRows; }
    int GetSideHeadingCols() const { return m_nSideCols; }

    int GetNumberCols() const;
    int GetNumberRows() const;

    // Renderings of the whole grid. Labels lose their mark-up ("x{\sub 0}" is
    // written "x_0"); cells beyond the end of a column are empty.
    std::string GetText() const;
    std::string GetCSV() const;
    bool WriteCSV(const char* path) const;
    // Draws the grid at the top-left corner of the context, the rows that begin
    // within maxHeight pixels of the top; returns the size drawn.
    CSize Draw(CDC* pDC, int maxHeight = 1 << 30) const;

private:
    CKelDataSource* m_pSource = nullptr;
    CWnd* m_pWnd = nullptr;
    bool m_bMenu = false;
    int m_nRedrawCount = 0;
    int m_nHeadingRows = 1;
    int m_nSideCols = 0;
};

class CKelGrid : public CUGCtrl {
public:
    CKelGrid() = default;
    ~CKelGrid() override = default;
};
