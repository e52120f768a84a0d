#pragma once

// A view showing a grid (CKelGrid) with its data source.
//
// The view owns its grid and its data source (a CHdrGridDataSrc unless another
// source is given). A host finds it by identifier (CUniqueViewID) and sets it up
// through its identity interface: InstallSetup hands over a setup object,
// ApplySetup applies it (the setup lists the columns), GetSetup returns it.
//
//     CKelGridView view;  view.SetUniqueViewID("Diagnostics");  doc.AddView(&view);
//     view.InstallSetup(setup);  view.ApplySetup();
//     view.GetGrid().WriteCSV("grid.csv");

#include "host/framework/View.h"
#include "host/grid/GridDataSource.h"
#include "host/grid/GridSetup.h"
#include "host/grid/KelGrid.h"
#include "host/viewid/UniqueViewID.h"

#include <memory>

// How a host drives the setup of a view it found by identifier.
class CiKelViewIdentity {
public:
    virtual ~CiKelViewIdentity() = default;
    // Applies the installed setup now; FALSE when there is none.
    virtual BOOL ApplySetup() = 0;
    // The installed setup, or null.
    virtual CMacroRef* GetSetup() = 0;
};

class CKelGridView : public CView, public CUniqueViewID, public CiKelViewIdentity {
    DECLARE_DYNCREATE(CKelGridView)
public:
    CKelGridView();
    // A view whose grid shows the given source instead of a header-column source.
    explicit CKelGridView(std::unique_ptr<CKelDataSource> pSource);
    ~CKelGridView() override;

    CKelGrid& GetGrid() { return m_Grid; }
    CKelDataSource* GetDataSource() { return m_pSource.get(); }

    // Takes a reference to the setup (an earlier one is released).
    void InstallSetup(CKelGridSetup* pSetup);
    BOOL ApplySetup() override;
    CMacroRef* GetSetup() override { return m_Setup.get(); }
    int GetApplyCount() const { return m_nApplyCount; }

    void OnDraw(CDC* pDC) override;

private:
    CKelGrid m_Grid;
    std::unique_ptr<CKelDataSource> m_pSource;
    CRefHolder<CKelGridSetup> m_Setup;
    int m_nApplyCount = 0;
};
