// vrnmath: the command line of VRNMathTools.
//
// Exit status: 0 success (the verdict of vrn::MinimizeResult, see face/Verdict.h), 1 the
// minimization did not succeed, 2 a usage error (unknown option, problem or variable,
// malformed number or one out of its range, an option the method does not use, formula
// that does not parse, an output file that cannot be written, an objective that is not
// finite at the start point), reported on one line, 3 the run finished but its report or
// pictures could not be written.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/FitCommand.h"
#include "apps/vrnmath/Formula.h"
#include "apps/vrnmath/MinimizeCommand.h"

namespace {

constexpr int kUsageError = 2;

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"vrnmath: command line of the VRNMathTools numerical toolkit."};
    app.set_version_flag("--version", VRN_VERSION_TEXT);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 no success (the summary's warnings say why), 2 usage error, 3 the run "
        "finished but an output could not be written; each command's --help says more.");

    vrnmath::MinimizeArguments minimizeArgs;
    CLI::App* minimize = vrnmath::AddMinimizeCommand(app, minimizeArgs);
    vrnmath::FitArguments fitArgs;
    CLI::App* fit = vrnmath::AddFitCommand(app, fitArgs);
    minimize->footer(
        "Exit status: 0 success (the end point is a minimum: the Hessian there is positive definite and a "
        "Newton step would lower f by at most success-tol^2 max(min(|f|, |f0 - f|), typf)), 1 no success "
        "(the summary's warnings say why), 2 usage error, an output that cannot be written or an objective "
        "not finite at the start point, 3 the run finished but --report or --plots could not be written." +
        std::string("\n\nFormulas (--f):\n") + vrnmath::FormulaVocabulary());
    fit->footer(
        "Exit status: 0 success (the Jacobian at the end point has full rank and the Gauss-Newton step "
        "would lower the cost by at most success-tol^2 max(cost, eps cost(x0))), 1 no success (the "
        "summary's warnings say why), 2 usage error, bad data, an output that cannot be written or a "
        "model not finite at the start, 3 the fit finished but --report could not be written." +
        std::string("\n\nFormulas (--model):\n") +
        vrnmath::FormulaVocabulary("the x column's name and the parameters' names"));

    // A misspelt command would otherwise only be reported as a missing one.
    if (argc > 1 && argv[1][0] != '-' && std::string(argv[1]) != minimize->get_name() &&
        std::string(argv[1]) != fit->get_name()) {
        std::cerr << "vrnmath: unknown command '" << OneLine(argv[1]) << "' (see vrnmath --help)\n";
        return kUsageError;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        // The program's own help lists every subcommand with all its options.
        if (app.get_subcommands().empty())
            std::cout << app.help("", CLI::AppFormatMode::All);
        else
            std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << "vrnmath: " << OneLine(e.what()) << " (see vrnmath --help)\n";
        return kUsageError;
    }

    try {
        if (minimize->parsed())
            return vrnmath::RunMinimize(minimizeArgs, std::cout);
        if (fit->parsed())
            return vrnmath::RunFit(fitArgs, std::cout);
    } catch (const vrnmath::UsageError& e) {
        std::cout.flush();
        std::cerr << "vrnmath " << (fit->parsed() ? "fit" : "minimize") << ": " << OneLine(e.what()) << '\n';
        return kUsageError;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "vrnmath: " << OneLine(e.what()) << '\n';
        return 1;
    }
    return kUsageError;
}
