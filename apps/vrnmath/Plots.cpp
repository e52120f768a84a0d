// Diagnostic pictures of one minimization: the host document with its views, and
// the files written from them.
#include "apps/vrnmath/Plots.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/framework/View.h"
#include "host/grid/GridView.h"
#include "host/matrix/Matrix.h"
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
    const std::string from =
        "width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\"";
    const std::string to =
        "width=\"" + std::to_string(width * factor) + "\" height=\"" + std::to_string(height * factor) + "\"";
    std::string out = svg;
    const size_t at = out.find(from);
    if (at != std::string::npos)
        out.replace(at, from.size(), to);
    return out;
}

// The picture with caption lines above it: the original drawing nested, unchanged,
// below a white band with the text (and, for a colour map, its key).
std::string Captioned(const std::string& svg, int width, int height, const std::vector<std::string>& lines,
                      bool signKey) {
    const int lineHeight = 16;
    const int band = 8 + lineHeight * static_cast<int>(lines.size()) + (signKey ? 20 : 0) + 4;
    const int outerWidth = width > 440 ? width : 440;
    std::string body = svg;
    if (body.rfind("<?xml", 0) == 0) {
        const size_t end = body.find("?>");
        body.erase(0, end == std::string::npos ? 0 : end + 2);
        while (!body.empty() && (body.front() == '\n' || body.front() == '\r'))
            body.erase(0, 1);
    }
    const size_t open = body.find("<svg ");
    if (open != std::string::npos)
        body.insert(open + 5, "x=\"0\" y=\"" + std::to_string(band) + "\" ");
    auto escape = [](const std::string& t) {
        std::string o;
        for (char c : t)
            o += c == '<'   ? std::string("&lt;")
                 : c == '>' ? std::string("&gt;")
                 : c == '&' ? std::string("&amp;")
                            : std::string(1, c);
        return o;
    };
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
        std::to_string(outerWidth) + "\" height=\"" + std::to_string(height + band) + "\" viewBox=\"0 0 " +
        std::to_string(outerWidth) + " " + std::to_string(height + band) + "\">\n";
    out += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(outerWidth) + "\" height=\"" +
           std::to_string(height + band) + "\" fill=\"#ffffff\"/>\n";
    int y = 4 + lineHeight - 3;
    for (size_t i = 0; i < lines.size(); i++, y += lineHeight)
        out += "<text x=\"4\" y=\"" + std::to_string(y) + "\" font-family=\"Arial\" font-size=\"" +
               (i == 0 ? "13px" : "11px") + "\"" + (i == 0 ? " font-weight=\"bold\"" : "") +
               " fill=\"#000000\">" + escape(lines[i]) + "</text>\n";
    if (signKey) {
        const char* colours[] = {"#00e100", "#e10000", "#ffffff"};
        const char* labels[] = {"positive", "negative", "zero"};
        int x = 4;
        for (int k = 0; k < 3; k++) {
            out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y - 8) +
                   "\" width=\"10\" height=\"10\" fill=\"" + colours[k] +
                   "\" stroke=\"#000000\" stroke-width=\"0.5\"/>\n";
            out += "<text x=\"" + std::to_string(x + 14) + "\" y=\"" + std::to_string(y + 1) +
                   "\" font-family=\"Arial\" font-size=\"11px\" fill=\"#000000\">" + labels[k] + "</text>\n";
            x += 80;
        }
    }
    out += body;
    if (out.back() != '\n')
        out += '\n';
    out += "</svg>\n";
    return out;
}

// An owned copy of a history that the written picture shows.
CDblHdr* CopyOf(std::vector<std::unique_ptr<CDblHdr>>& store, const CDblHdr& from, int count) {
    store.push_back(std::make_unique<CDblHdr>());
    CDblHdr& copy = *store.back();
    for (int i = 0; i < count; i++)
        copy.Add(from[i]);
    return &copy;
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
    // What the written pictures show: copies of the histories that run to the end of
    // the run, and the model Hessian rebuilt from the engine's storage.
    std::vector<std::unique_ptr<CDblHdr>> pictureData;
    CMatrix modelHessian;

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
            v->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, kPlotWidth, kPlotHeight), nullptr,
                      1);
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
        PreparePictures(engine);
        Write();
    } else
        Install(engine);
}

void DiagnosticPlots::PreparePictures(CVRNUnconstrainedMinimization& engine) {
    Views& v = *m_pViews;
    const CVRNRunRecord& record = engine.GetRunRecord();
    const int k = engine.GetIterationCount();
    // The engine's histories end at its last accepted point; the run itself may end at
    // the candidate its stopping test judged. That point is the newest value: it takes
    // the place of iteration k, or follows the histories when they stop earlier.
    auto extend = [&](CDataUI& series, double newest, bool have) {
        const int count = series.GetPointCount();
        if (count <= 0)
            return;
        CDblHdr* xs = CopyOf(v.pictureData, series.GetXData(), count);
        CDblHdr* ys = CopyOf(v.pictureData, series.GetYData(), count);
        if (have && record.started) {
            if ((*xs)[count - 1] == static_cast<double>(k))
                (*ys)[count - 1] = newest;
            else if ((*xs)[count - 1] < static_cast<double>(k)) {
                // Iterations between were not recorded: a gap, not a line across them.
                if ((*xs)[count - 1] < static_cast<double>(k - 1)) {
                    xs->Add(CWPlot::NullValue);
                    ys->Add(CWPlot::NullValue);
                }
                xs->Add(static_cast<double>(k));
                ys->Add(newest);
            }
        }
        series.SetXData(xs);
        series.SetYData(ys);
        series.m_nFirstPoint = 0; // the whole run
    };
    CWPlot& residual = v.residual.GetPlot();
    if (CDataUI* series = residual.GetDataUI("m_ErrorHistory"))
        extend(*series, record.f, true);
    residual.AutoScale(1);

    const bool named = !m_Names.empty() && static_cast<int>(m_Names.size()) == record.n;
    for (int gradient = 0; gradient < 2; gradient++) {
        CWPlot& plot = (gradient ? v.gradient : v.parameters).GetPlot();
        for (int i = 0; i < plot.GetDataCount(); i++) {
            CDataUI* series = plot.GetDataAt(i);
            CString key;
            for (int c = 0; c < record.n; c++) {
                key.Format(gradient ? "Gradient%d" : "Param%d", c);
                if (series->m_strName != key)
                    continue;
                const std::vector<double>& end = gradient ? record.g : record.x;
                const size_t at = static_cast<size_t>(c);
                extend(*series, at < end.size() ? end[at] : 0.0, at < end.size());
                if (named) {
                    const std::string& name = m_Names[at];
                    series->m_strLegend = (gradient ? "df/d" + name : name).c_str();
                }
            }
        }
        plot.AutoScale(1);
    }

    v.modelHessian = engine.GetModelHessian();
    m_bHaveHessian = v.modelHessian.GetRows() > 0;
    if (m_bHaveHessian)
        v.hessian.SetCMatrix(v.modelHessian);
}

bool DiagnosticPlots::WriteHessian(const std::string& path, bool colourMap) {
    CVRNMatrixView& view = m_pViews->hessian;
    if (view.IsColorMap() != colourMap)
        view.SendMessage(WM_KEYDOWN, VK_RETURN, MAKELPARAM(1, 0));
    // The whole matrix: a client area as large as the scrollable area, painted at once.
    view.UpdateMatrixSize();
    CSize total = view.GetTotalSize();
    const int cx =
        total.cx < 1 ? 1 : (total.cx > kMaxMatrixPicture ? kMaxMatrixPicture : static_cast<int>(total.cx));
    const int cy =
        total.cy < 1 ? 1 : (total.cy > kMaxMatrixPicture ? kMaxMatrixPicture : static_cast<int>(total.cy));
    view.SetClientSize(cx, cy);
    view.ScrollToPosition(CPoint(0, 0));
    view.Invalidate(TRUE);
    view.UpdateWindow();
    const int larger = cx > cy ? cx : cy;
    const int factor = larger < kMinMatrixPicture ? kMinMatrixPicture / larger : 1;
    const int n = m_pViews->modelHessian.GetRows();
    std::vector<std::string> caption;
    caption.push_back("Model Hessian at the end of the run (" + std::to_string(n) + " x " +
                      std::to_string(n) + ")");
    caption.push_back("rebuilt from the engine's stored triangle and diagonal, not its Cholesky factor");
    if (!colourMap)
        caption.push_back("yellow: the diagonal (including any shift that made the model positive definite)");
    return WriteText(path, Captioned(Scaled(view.GetLastPaint().GetSVG(), cx, cy, factor), cx * factor,
                                     cy * factor, caption, colourMap));
}

int DiagnosticPlots::Write() {
    m_Written.clear();
    m_Failed.clear();
    Views& v = *m_pViews;
    m_NotFilled.clear();
    auto record = [this](const std::string& path, bool ok) { (ok ? m_Written : m_Failed).push_back(path); };
    // A plot with no recorded point, or a Hessian picture without a Hessian, would be an
    // empty frame: it is named in the note instead.
    auto filled = [](CPlotFrameView& view) {
        CWPlot& plot = view.GetPlot();
        for (int i = 0; i < plot.GetDataCount(); i++)
            if (plot.GetDataAt(i)->GetPointCount() > 0)
                return true;
        return false;
    };
    auto plot = [&](CPlotFrameView& view, const char* name) {
        if (!filled(view))
            m_NotFilled.push_back(Path(name));
        else
            record(Path(name), view.WritePlotSVG(Path(name).c_str()));
    };
    plot(v.residual, "residual.svg");
    plot(v.gradient, "gradient.svg");
    plot(v.parameters, "parameters.svg");
    for (int map = 0; map < 2; map++) {
        const char* name = map ? "hessian-map.svg" : "hessian.svg";
        if (!m_bHaveHessian)
            m_NotFilled.push_back(Path(name));
        else
            record(Path(name), WriteHessian(Path(name), map == 1));
    }
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
                Path("residual.svg") + ", or rsvg-convert " + Path("residual.svg") +
                " -o residual.png);\n"
                "              grid.csv opens in a spreadsheet or a text editor.\n";
        if (m_nIterations >= 0 && m_nRecorded < m_nIterations + 1)
            note += "              The histories hold " + std::to_string(m_nRecorded) +
                    " entries for a run of " + std::to_string(m_nIterations) +
                    " iterations:\n              step mode records only its first step, method 4 none.\n";
    }
    if (!m_NotFilled.empty()) {
        note += "Diagnostics:  not written, nothing to show:";
        for (const std::string& p : m_NotFilled)
            note += ' ' + std::filesystem::path(p).filename().string();
        note += "\n              (the run recorded no diagnostic histories or kept no model Hessian;\n"
                "              method 4 does neither: --report FILE draws its run from the run record)\n";
    }
    for (const std::string& p : m_Failed)
        note += "Diagnostics:  could not write " + p + "\n";
    return note;
}

} // namespace vrnmath
