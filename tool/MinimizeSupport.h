#pragma once

// What vrn::Minimize and vrn::MinimizeMany share: the refusal, the message trimming and
// the translation of the options into the tool's numeric options.

#include <string>

#include "minimize/UnconstrainedMinimization.h"
#include "tool/Minimize.h"
#include "tool/MinimizerTool.h"

namespace vrn::detail {

// The engine's message without its final line feed.
inline std::string WithoutFinalLineFeed(const char* text) {
    std::string s = text ? text : "";
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

// A request refused before anything ran: code 6, the reason as message and warning.
inline MinimizeResult Refused(const std::string& why) {
    MinimizeResult r;
    r.code = OptionCheck;
    r.status = Status::OptionCheck;
    r.message = why;
    r.warnings.push_back(why);
    return r;
}

// The engine options of vrn::MinimizeOptions that are set, as the tool's options.
inline VRNMinimizerOptions ToolOptions(const MinimizeOptions& o) {
    VRNMinimizerOptions t;
    if (o.gradientTolerance)
        t.gradientTolerance = *o.gradientTolerance;
    if (o.stepTolerance)
        t.stepTolerance = *o.stepTolerance;
    if (o.maximumStep)
        t.maximumStep = *o.maximumStep;
    if (o.trustRadius)
        t.trustRadius = *o.trustRadius;
    if (o.numberOfDigits)
        t.numberOfDigits = *o.numberOfDigits;
    if (o.messageBits)
        t.messageBits = *o.messageBits;
    if (o.cgTolerance)
        t.cgTolerance = *o.cgTolerance;
    t.typicalX = o.typicalX;
    return t;
}

} // namespace vrn::detail
