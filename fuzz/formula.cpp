// Fuzz target: the formula front end of "vrnmath minimize --f ... --x0 ...".
//
// Input: the --x0 text on the first line, the formula on the rest. The start point
// goes through the same parser as on the command line; a formula that compiles is
// evaluated at the start point and at a few points around it, including
// non-finite ones. A mistake in the input must come back as a UsageError; any other
// exception escaping, or a sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/Formula.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t newline = text.find('\n');
    const std::string x0 = text.substr(0, newline);
    const std::string expression = newline == std::string::npos ? std::string() : text.substr(newline + 1);

    vrnmath::StartPoint start;
    try {
        start = vrnmath::ParseStartPoint(x0, "--x0");
    } catch (const vrnmath::UsageError&) {
        return 0;
    }
    // Plain values give positional start values without names, as the command
    // refuses them; the formula then has no variables.
    try {
        vrnmath::Formula formula(expression, start.names, start.values);
        std::vector<double> x(start.names.size());
        const double probes[] = {0.0,
                                 1.0,
                                 -1.0,
                                 1e300,
                                 -1e-300,
                                 std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};
        for (const double probe : probes) {
            for (size_t i = 0; i < x.size(); i++)
                x[i] = i < start.values.size() ? start.values[i] + probe : probe;
            (void)formula(x);
        }
        // Fewer values than variables: the rest keep their previous values.
        if (!x.empty())
            (void)formula(std::span<const double>(x.data(), x.size() - 1));
    } catch (const vrnmath::UsageError&) {
    }
    return 0;
}
