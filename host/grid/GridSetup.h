#pragma once

// Setup objects for grid views.
//
// A grid view keeps one setup (CKelGridView::InstallSetup) and applies it when
// asked: the setup then receives the view's grid and data source and lists the
// columns. KelGridSetup<T> forwards this to a member function of an owner of
// class T:
//
//     view->InstallSetup(new KelGridSetup<CMyOwner>(&CMyOwner::SetupGrid, this, 1, 0, "Grid", 0));
//
// The setup also says how the grid is headed (heading rows with the column
// labels, side-heading columns with the row numbers) and whether applying it
// keeps the columns the source already has (0: the source starts empty, so a
// setup applied again does not list its columns twice).
//
// Setups are reference counted (CMacroRef): the view holds one reference, and a
// setup nobody took is freed with Release().

#include "host/data/Interchange.h"

class CKelGrid;
class CKelDataSource;

class CKelGridSetup : public CMacroRef {
public:
    CKelGridSetup(int nHeadingRows, int nSideHeadingCols, const char* viewID, int bKeepColumns)
        : m_nHeadingRows(nHeadingRows), m_nSideHeadingCols(nSideHeadingCols), m_strViewID(viewID),
          m_bKeepColumns(bKeepColumns) {}

    // Lists the grid's columns in the data source.
    virtual void Apply(CKelGrid& grid, CKelDataSource* pSource) = 0;

    int GetHeadingRows() const { return m_nHeadingRows; }
    int GetSideHeadingCols() const { return m_nSideHeadingCols; }
    const CString& GetViewID() const { return m_strViewID; }
    int GetKeepColumns() const { return m_bKeepColumns; }

protected:
    ~CKelGridSetup() override = default;

private:
    int m_nHeadingRows;
    int m_nSideHeadingCols;
    CString m_strViewID;
    int m_bKeepColumns;
};

template <class T> class KelGridSetup : public CKelGridSetup {
public:
    using SetupHook = void (T::*)(CKelGrid&, CKelDataSource*);

    KelGridSetup(SetupHook hook, T* pOwner, int nHeadingRows, int nSideHeadingCols, const char* viewID,
                 int bKeepColumns)
        : CKelGridSetup(nHeadingRows, nSideHeadingCols, viewID, bKeepColumns), m_Hook(hook),
          m_pOwner(pOwner) {}

    void Apply(CKelGrid& grid, CKelDataSource* pSource) override {
        if (m_pOwner && m_Hook)
            (m_pOwner->*m_Hook)(grid, pSource);
    }
    T* GetOwner() const { return m_pOwner; }

private:
    SetupHook m_Hook;
    T* m_pOwner;
};
