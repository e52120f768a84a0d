#pragma once

// Setup objects for plot views.
//
// A plot frame view keeps one setup (CPlotFrameView::InstallSetup) and applies it
// when asked (ProcessSetup): the setup then receives the view and its plot and
// fills the plot in. PlotSetup<T> forwards this to a member function of an owner
// object of class T, so that a class can describe its plots in its own members:
//
//     view->InstallSetup(new PlotSetup<CMyOwner>(this, &CMyOwner::SetupPlot, pDoc));
//     view->ProcessSetup();   // calls this->SetupPlot(view, plot)
//
// Two further hooks, for a picked point (series, point) and a picked series,
// are called when the view reports such a pick; empty hooks are not called.
//
// Setups are reference counted (CMacroRef): the view holds one reference, and a
// setup nobody took is freed with Release().

#include "host/data/Interchange.h"

class CDocument;
class CKelPlotDllView;
class CWPlot;

class CPlotSetup : public CMacroRef {
public:
    // The document the plot belongs to; nOptions is kept for the view (0: none).
    CPlotSetup(CDocument* pDoc, int nOptions) : m_pDocument(pDoc), m_nOptions(nOptions) {}

    CDocument* GetDocument() const { return m_pDocument; }
    int GetOptions() const { return m_nOptions; }

    // Fills the view's plot in.
    virtual void Apply(CKelPlotDllView* pView, CWPlot& plot) = 0;
    // A point of a series, or a series, was picked in the view.
    virtual void OnPointPicked(int nSeries, int nPoint) {
        (void)nSeries;
        (void)nPoint;
    }
    virtual void OnSeriesPicked(int nSeries) { (void)nSeries; }

protected:
    ~CPlotSetup() override = default;

private:
    CDocument* m_pDocument;
    int m_nOptions;
};

template <class T> class PlotSetup : public CPlotSetup {
public:
    using SetupHook = void (T::*)(CKelPlotDllView*, CWPlot&);
    using PointHook = void (T::*)(int, int);
    using SeriesHook = void (T::*)(int);

    PlotSetup(T* pOwner, SetupHook setup, CDocument* pDoc, PointHook point = nullptr,
              SeriesHook series = nullptr)
        : CPlotSetup(pDoc, 0), m_pOwner(pOwner), m_Setup(setup), m_Point(point), m_Series(series) {}

    void Apply(CKelPlotDllView* pView, CWPlot& plot) override {
        if (m_pOwner && m_Setup)
            (m_pOwner->*m_Setup)(pView, plot);
    }
    void OnPointPicked(int nSeries, int nPoint) override {
        if (m_pOwner && m_Point)
            (m_pOwner->*m_Point)(nSeries, nPoint);
    }
    void OnSeriesPicked(int nSeries) override {
        if (m_pOwner && m_Series)
            (m_pOwner->*m_Series)(nSeries);
    }

    T* GetOwner() const { return m_pOwner; }

private:
    T* m_pOwner;
    SetupHook m_Setup;
    PointHook m_Point;
    SeriesHook m_Series;
};
