// Fuzz target: the command line of "vrnmath" as far as the minimize command goes.
//
// Input: the arguments after the program name, one per line. They are parsed by
// CLI11 with the options the program registers (the same set-up as main), then
// converted and checked by RunMinimize, and the minimization runs with a small
// iteration limit and without writing files. Usage mistakes must come back as
// CLI::ParseError or UsageError; anything else escaping, a hang or a sanitizer
// report is a finding.
#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/MinimizeCommand.h"

namespace {

// Iterations a fuzzed run may take: enough to pass through the driver's paths,
// few enough to keep an input well below a second.
constexpr int kIterationCap = 25;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size())
                args.push_back(text.substr(start));
            break;
        }
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

// Bounds the work of a run that the checks let through: no files, no tool runs of
// 100000 iterations, at most kIterationCap iterations. Values the checks would
// refuse are left as they are, so that the refusal is exercised.
void Bound(vrnmath::MinimizeArguments& a) {
    a.plots.clear();
    a.report.clear();
    auto& v = a.values;
    const bool tool = a.tool || (v.count("driver") && v["driver"] == "tool");
    if (tool && !v.count("itnlim") && !v.count("typicalF") && !a.step) {
        a.tool = false; // the same checks then pass; the engine runs once instead
        v.erase("driver");
    }
    if (a.tool || (v.count("driver") && v["driver"] == "tool"))
        return;
    if (!v.count("itnlim")) {
        v["itnlim"] = std::to_string(kIterationCap);
        return;
    }
    try {
        if (vrnmath::ParseInteger(v["itnlim"], "--itnlim") > kIterationCap)
            v["itnlim"] = std::to_string(kIterationCap);
    } catch (const vrnmath::UsageError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048)
        return -1;
    std::vector<std::string> args = SplitLines(std::string(reinterpret_cast<const char*>(data), size));
    if (args.size() > 64)
        return -1;

    CLI::App app{"vrnmath: command line of the VRNMathTools numerical toolkit."};
    app.set_version_flag("--version", VRN_VERSION_TEXT);
    app.require_subcommand(1);
    vrnmath::MinimizeArguments a;
    CLI::App* minimize = vrnmath::AddMinimizeCommand(app, a);

    std::vector<const char*> argv{"vrnmath"};
    for (const std::string& s : args)
        argv.push_back(s.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        (void)app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        (void)app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::ParseError&) {
        return 0;
    }
    if (!minimize->parsed())
        return 0;
    Bound(a);
    std::ostringstream out;
    try {
        (void)vrnmath::RunMinimize(a, out);
    } catch (const vrnmath::UsageError&) {
    }
    return 0;
}
