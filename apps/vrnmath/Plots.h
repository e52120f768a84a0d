#pragma once

// Diagnostic pictures of one minimization ("vrnmath minimize --plots DIR").
//
// A DiagnosticPlots object is the host side of the engine's diagnostics: a
// document holding the three plot views (residual, gradient, parameters), the
// diagnostic grid and the Hessian matrix view. Install attaches them to the
// engine before its run; Write, called once the run is over and while the engine
// still exists, saves
//
//     residual.svg  gradient.svg  parameters.svg   the three plots
//     hessian.svg                                  the model Hessian as numbers
//     hessian-map.svg                              the model Hessian as a colour map
//     grid.csv                                     the diagnostic grid's columns
//
// into the directory. The written pictures show the whole run, the start point and
// the point the run ended at included (the live plots follow the last 20 iterations,
// and the engine's histories stop at the last accepted point); hessian.svg and
// hessian-map.svg show the model Hessian rebuilt from the engine's storage, not its
// Cholesky factor, under a caption that says so. A picture with nothing to show
// (method 4 records no histories and keeps no Hessian) is not written; Note() names it.

#include <memory>
#include <string>
#include <vector>

class CVRNUnconstrainedMinimization;

namespace vrnmath {

class DiagnosticPlots {
public:
    // Pictures titled `title` (shown under each plot's name), written into dir.
    DiagnosticPlots(std::string dir, std::string title);
    // Names of the parameters for the legends (ignored unless one per parameter).
    void SetNames(std::vector<std::string> names) { m_Names = std::move(names); }
    ~DiagnosticPlots();
    DiagnosticPlots(const DiagnosticPlots&) = delete;
    DiagnosticPlots& operator=(const DiagnosticPlots&) = delete;

    // Creates the directory (with its parents) if needed; false, with a message,
    // when that fails or the path is not a directory.
    bool PrepareDirectory(std::string& error) const;

    // Attaches the plots, the grid and the Hessian view to the engine.
    void Install(CVRNUnconstrainedMinimization& engine);
    // Writes the six files; returns how many could not be written.
    int Write();
    // Install before the run, Write after it (the form vrn::MinimizeOptions::onEngine takes).
    void OnEngine(CVRNUnconstrainedMinimization& engine, bool finished);

    // The files written and those that could not be, as paths.
    const std::vector<std::string>& Written() const { return m_Written; }
    const std::vector<std::string>& Failed() const { return m_Failed; }
    // The pictures left unwritten because the run gave them nothing to show.
    const std::vector<std::string>& NotFilled() const { return m_NotFilled; }
    // The closing note: where the pictures are and how to look at them.
    std::string Note() const;

    static const std::vector<std::string>& FileNames();

private:
    struct Views;
    std::string Path(const std::string& name) const;
    bool WriteHessian(const std::string& path, bool colourMap);
    // Points the written pictures at copies of the histories that run to the end.
    void PreparePictures(CVRNUnconstrainedMinimization& engine);

    std::string m_Dir;
    std::unique_ptr<Views> m_pViews;
    std::vector<std::string> m_Written;
    std::vector<std::string> m_Failed;
    std::vector<std::string> m_NotFilled;
    std::vector<std::string> m_Names;
    bool m_bHaveHessian = false;
    bool m_bInstalled = false;
    int m_nIterations = -1; // the engine's count when the run was over
    int m_nRecorded = 0;    // entries of the objective history then
};

} // namespace vrnmath
