#pragma once

// Data sources of the grid control: where a grid's columns, labels and cell
// texts come from.
//
// CKelDataSource is the general interface. CHdrGridDataSrc shows data headers
// as columns: AddCol appends a column for a header (under the header's name or
// a name of its own), Construct lays the added columns out; only laid-out
// columns are shown. A column of a double header shares the header's value
// store, so the grid always shows the current values (and stays readable if
// the header goes away first).

#include "host/data/DataHeaders.h"
#include "host/framework/String.h"
#include "host/framework/WinTypes.h"

#include <memory>
#include <vector>

class CHdrGridDataSrc;

// Per-column actions (editing, menus) of a header column; the grid keeps the
// pointer and does not own it.
class CHdrGridActions {
public:
    virtual ~CHdrGridActions() = default;
};

class CKelDataSource {
public:
    virtual ~CKelDataSource() = default;

    // The header-column form of this source, or null.
    virtual CHdrGridDataSrc* GetHdrGridDataSrc() { return nullptr; }

    virtual int GetNumberCols() const { return 0; }
    virtual int GetNumberRows() const { return 0; }
    // Label with its mark-up ("x{\sub 0}").
    virtual CString GetColLabel(int col) const {
        (void)col;
        return CString();
    }
    // Cell text; empty beyond the end of a column.
    virtual CString GetCellText(int row, int col) const {
        (void)row;
        (void)col;
        return CString();
    }
    // Forgets all columns.
    virtual void ClearColumns() {}
};

class CHdrGridDataSrc : public CKelDataSource {
public:
    CHdrGridDataSrc();
    ~CHdrGridDataSrc() override;

    CHdrGridDataSrc* GetHdrGridDataSrc() override { return this; }

    // Appends a column showing the header under `name`, or under the header's own
    // name when name is null or empty. Returns the column's index, -1 for a null header.
    int AddCol(CBaseHdr* pHdr, CHdrGridActions* pActions, const char* name);
    // Lays out every column added so far.
    BOOL Construct();
    bool IsConstructed() const { return m_nLaidOut == static_cast<int>(m_Columns.size()); }
    // Columns added, laid out or not.
    int GetAddedCols() const { return static_cast<int>(m_Columns.size()); }
    int GetConstructCount() const { return m_nConstructCount; }

    int GetNumberCols() const override { return m_nLaidOut; }
    int GetNumberRows() const override;
    CString GetColLabel(int col) const override;
    CString GetCellText(int row, int col) const override;
    void ClearColumns() override;

    // The header a column shows (its store is shared for double headers), or null.
    const CBaseHdr* GetColHeader(int col) const;
    CHdrGridActions* GetColActions(int col) const;
    // True when column col shows the values of this double header.
    bool ColShows(int col, const CDblHdr& hdr) const;
    // Number of values in the column.
    int GetColLength(int col) const;
    double GetDouble(int row, int col) const;

private:
    struct Column {
        CBaseHdr* pHdr = nullptr;        // as given
        std::unique_ptr<CDblHdr> shared; // shares the values of a double header, else null
        CHdrGridActions* pActions = nullptr;
        CString label;
    };

    std::vector<Column> m_Columns;
    int m_nLaidOut = 0;
    int m_nConstructCount = 0;
};

// The label without mark-up: "x{\sub 0}" becomes "x_0", "a{\sup 2}" becomes "a^2".
CString KelPlainLabel(const char* label);
