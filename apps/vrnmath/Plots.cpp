// Diagnostic pictures of one minimization: the host document with its views, and
// the files written from them.
#include "apps/vrnmath/Plots.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/framework/View.h"
#include "host/grid/GridView.h"
#include "host/plot/PlotViews.h"
#include "minimize/UnconstrainedMinimization.h"
#include "views/DiagnosticViews.h"
#include "views/MatrixView.h"
#include <memory>

namespace vrnmath {

namespace {

constexpr int kPlotWidth = 720;
constexpr int kPlotHeight = 450;
// A matrix picture larger than this is cut to its top-left corner.
constexpr int kMaxMatrixPicture = 4000;
// Matrix pictures smaller than this are shown scaled up (by a whole factor).
constexpr int kMinMatrixPicture = 360;

// The SVG with its displayed size multiplied by `factor`; the drawing (viewBox) is kept.
std::string Scaled(const std::string& svg, int width, int height, int factor) {
    if (factor <= 1)
        return svg;
    const std::string from = "width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\"";
    const std::string to =
        "width=\"" + std::to_string(width * factor) + "\" height=\"" + std::to_string(height * factor) + "\"";
    std::string out = svg;
    const size_t at = out.find(from);
    if (at != std::string::npos)
        out.replace(at, from.size(), to);
    return out;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

struct DiagnosticPlots::Views {
    CDocument doc;
    CPlotFrameView residual;
    CPlotFrameView gradient;
    CPlotFrameView parameters;
    CKelGridView grid;
    CVRNMatrixView hessian;
    // Draws the engine's diagnostics into the views above.
    std::unique_ptr<CVRNDiagnosticViews> display;

    explicit Views(const std::string& title) {
        doc.SetTitle(title.c_str());
        residual.SetUniqueViewID("Residual");
        gradient.SetUniqueViewID("Gradient");
        parameters.SetUniqueViewID("Parameters");
        grid.SetUniqueViewID("Diagnostics");
        hessian.SetUniqueViewID("Hessian");
        CView* plots[] = {&residual, &gradient, &parameters};
        for (CView* v : plots) {
            doc.AddView(v);
            v->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, kPlotWidth, kPlotHeight), nullptr, 1);
            v->OnInitialUpdate();
        }
        doc.AddView(&grid);
        grid.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 800, 400), nullptr, 1);
        grid.OnInitialUpdate();
        doc.AddView(&hessian);
        hessian.Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 400, 300), nullptr, 1);
        hessian.OnInitialUpdate();
    }
};

DiagnosticPlots::DiagnosticPlots(std::string dir, std::string title)
    : m_Dir(std::move(dir)), m_pViews(std::make_unique<Views>(title)) {}

DiagnosticPlots::~DiagnosticPlots() = default;

const std::vector<std::string>& DiagnosticPlots::FileNames() {
    static const std::vector<std::string> names = {"residual.svg", "gradient.svg",    "parameters.svg",
                                                   "hessian.svg",  "hessian-map.svg", "grid.csv"};
    return names;
}

std::string DiagnosticPlots::Path(const std::string& name) const {
    return (std::filesystem::path(m_Dir) / name).string();
}

bool DiagnosticPlots::PrepareDirectory(std::string& error) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (m_Dir.empty()) {
        error = "--plots needs a directory";
        return false;
    }
    if (fs::exists(m_Dir, ec) && !fs::is_directory(m_Dir, ec)) {
        error = "--plots: '" + m_Dir + "' exists and is not a directory";
        return false;
    }
    fs::create_directories(m_Dir, ec);
    if (ec || !fs::is_directory(m_Dir, ec)) {
        error = "--plots: cannot create the directory '" + m_Dir + "'";
        return false;
    }
    return true;
}

void DiagnosticPlots::Install(CVRNUnconstrainedMinimization& engine) {
    Views& v = *m_pViews;
    v.display = std::make_unique<CVRNDiagnosticViews>(engine);
    engine.InstallResidualPlot(&v.doc, "Residual");
    engine.InstallGradientPlot(&v.doc, "Gradient");
    engine.InstallParametersPlot(&v.doc, "Parameters");
    engine.InstallDiagnosticGrid(&v.doc, "Diagnostics");
    engine.InstallHessianGrid(&v.doc, "Hessian");
    m_bInstalled = true;
}

void DiagnosticPlots::OnEngine(CVRNUnconstrainedMinimization& engine, bool finished) {
    if (finished) {
        m_nIterations = engine.GetIterationCount();
        const CDataUI* series = m_pViews->residual.GetPlot().GetDataUI("m_ErrorHistory");
        m_nRecorded = series ? series->GetPointCount() : 0;
        Write();
    } else
        Install(engine);
}

bool DiagnosticPlots::WriteHessian(const std::string& path, bool colourMap) {
    CVRNMatrixView& view = m_pViews->hessian;
    if (view.IsColorMap() != colourMap)
        view.SendMessage(WM_KEYDOWN, VK_RETURN, MAKELPARAM(1, 0));
    // The whole matrix: a client area as large as the scrollable area, painted at once.
    view.UpdateMatrixSize();
    CSize total = view.GetTotalSize();
    const int cx = total.cx < 1 ? 1 : (total.cx > kMaxMatrixPicture ? kMaxMatrixPicture : static_cast<int>(total.cx));
    const int cy = total.cy < 1 ? 1 : (total.cy > kMaxMatrixPicture ? kMaxMatrixPicture : static_cast<int>(total.cy));
    view.SetClientSize(cx, cy);
    view.ScrollToPosition(CPoint(0, 0));
    view.Invalidate(TRUE);
    view.UpdateWindow();
    const int larger = cx > cy ? cx : cy;
    const int factor = larger < kMinMatrixPicture ? kMinMatrixPicture / larger : 1;
    return WriteText(path, Scaled(view.GetLastPaint().GetSVG(), cx, cy, factor));
}

int DiagnosticPlots::Write() {
    m_Written.clear();
    m_Failed.clear();
    Views& v = *m_pViews;
    auto record = [this](const std::string& path, bool ok) { (ok ? m_Written : m_Failed).push_back(path); };
    record(Path("residual.svg"), v.residual.WritePlotSVG(Path("residual.svg").c_str()));
    record(Path("gradient.svg"), v.gradient.WritePlotSVG(Path("gradient.svg").c_str()));
    record(Path("parameters.svg"), v.parameters.WritePlotSVG(Path("parameters.svg").c_str()));
    record(Path("hessian.svg"), WriteHessian(Path("hessian.svg"), false));
    record(Path("hessian-map.svg"), WriteHessian(Path("hessian-map.svg"), true));
    record(Path("grid.csv"), v.grid.GetGrid().WriteCSV(Path("grid.csv").c_str()));
    return static_cast<int>(m_Failed.size());
}

std::string DiagnosticPlots::Note() const {
    std::string note;
    if (!m_Written.empty()) {
        note += "Diagnostics:  written to " + m_Dir + ":";
        for (const std::string& p : m_Written) {
            note += ' ';
            note += std::filesystem::path(p).filename().string();
        }
        note += "\n              The .svg pictures open in a web browser or an image viewer (for example\n"
                "              xdg-open " +
                Path("residual.svg") +
                ", or rsvg-convert " + Path("residual.svg") +
                " -o residual.png);\n"
                "              grid.csv opens in a spreadsheet or a text editor.\n";
        if (m_nIterations >= 0 && m_nRecorded < m_nIterations + 1)
            note += "              The histories hold " + std::to_string(m_nRecorded) + " entries for a run of " +
                    std::to_string(m_nIterations) +
                    " iterations:\n              step mode records only its first step, method 4 none.\n";
    }
    for (const std::string& p : m_Failed)
        note += "Diagnostics:  could not write " + p + "\n";
    return note;
}

} // namespace vrnmath
