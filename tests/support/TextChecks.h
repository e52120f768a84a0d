#pragma once

// Small checks on texts the tests read (reports, program output).

#include <string>

namespace vrntest {

inline bool Has(const std::string& s, const std::string& what) {
    return s.find(what) != std::string::npos;
}

// How often what occurs in s (overlapping occurrences included).
inline size_t Count(const std::string& s, const std::string& what) {
    size_t count = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        count++;
    return count;
}

} // namespace vrntest
