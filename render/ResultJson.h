#pragma once

// The one serializer of vrn::MinimizeResult. The program's --json prints it, the
// Python package builds its OptimizeResult from it and the report reads the result it
// describes; adding a result field means adding it here and nowhere else.

#include <string>
#include <utility>
#include <vector>

#include "face/MinimizeResult.h"

namespace vrn {

enum class JsonNumbers {
    Strict, // standard JSON: NaN and infinities are written as null
    Python  // NaN, Infinity and -Infinity, as Python's json module reads them
};

// The result as one JSON object. extra: (key, JSON text) pairs appended at the end (a
// face's own context, such as the formula the program minimized).
std::string ToJson(const MinimizeResult& r, JsonNumbers numbers = JsonNumbers::Strict,
                   const std::vector<std::pair<std::string, std::string>>& extra = {});

// A string as a JSON string literal.
std::string JsonString(const std::string& s);
// Strings as a JSON array of string literals.
std::string JsonStrings(const std::vector<std::string>& strings);

} // namespace vrn
