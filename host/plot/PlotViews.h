#pragma once

// Views that show a plot.
//
// CKelPlotDllView owns a CWPlot and draws it over its whole client area.
// CPlotFrameView adds what a host needs to find and set it up: an identifier
// (CUniqueViewID), one installed setup object that it applies on request
// (InstallSetup / ProcessSetup), and its data-frame interface.
//
//     CPlotFrameView view;  view.SetUniqueViewID("Residual");  doc.AddView(&view);
//     view.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 640, 400), nullptr, 1);
//     ... view.InstallSetup(setup); view.ProcessSetup(); ...
//     view.WritePlotSVG("residual.svg");

#include "host/framework/View.h"
#include "host/plot/PlotSetup.h"
#include "host/plot/WPlot.h"
#include "host/viewid/UniqueViewID.h"

#include <memory>

class CKelPlotDllView : public CView {
    DECLARE_DYNCREATE(CKelPlotDllView)
public:
    CKelPlotDllView();
    ~CKelPlotDllView() override;

    CWPlot& GetPlot() { return m_Plot; }
    const CWPlot& GetPlot() const { return m_Plot; }

    // Draws the plot over the client area.
    void OnDraw(CDC* pDC) override;
    // A picture of the plot as large as the client area (640 x 400 when the view
    // has no size), as SVG.
    std::string GetPlotSVG();
    bool WritePlotSVG(const char* path);

protected:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    CRect PictureRect() const;

    CWPlot m_Plot;
};

// What a plot frame offers to the data side: its plot and the view drawing it.
class CiDataFrameInterface {
public:
    virtual ~CiDataFrameInterface() = default;
    virtual CWPlot* GetFramePlot() = 0;
    virtual CKelPlotDllView* GetFramePlotView() = 0;
};

class CPlotFrameView : public CKelPlotDllView, public CUniqueViewID, public CiDataFrameInterface {
    DECLARE_DYNCREATE(CPlotFrameView)
public:
    CPlotFrameView();
    ~CPlotFrameView() override;

    // Takes a reference to the setup (an earlier one is released); null removes it.
    void InstallSetup(CPlotSetup* pSetup);
    CPlotSetup* GetSetup() const { return m_Setup.get(); }
    // Applies the installed setup to this view's plot now and invalidates the
    // view; FALSE when no setup is installed.
    BOOL ProcessSetup();
    int GetProcessCount() const { return m_nProcessCount; }

    CiDataFrameInterface* GetiDataFrameInterface() { return this; }
    CWPlot* GetFramePlot() override { return &GetPlot(); }
    CKelPlotDllView* GetFramePlotView() override { return this; }

private:
    CRefHolder<CPlotSetup> m_Setup;
    int m_nProcessCount = 0;
};
