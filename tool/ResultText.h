#pragma once

// Pieces of a vrn::MinimizeResult that vrn::Minimize and vrn::MinimizeMany fill alike.

#include <string>

#include "minimize/UnconstrainedMinimization.h"
#include "tool/Minimize.h"

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

} // namespace vrn::detail
