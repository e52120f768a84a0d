#include "host/data/Descriptor.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitFields(const char* descriptor) {
    std::vector<std::string> fields;
    if (!descriptor)
        return fields;
    std::string current;
    for (const char* p = descriptor; *p; ++p) {
        if (*p == '|') {
            fields.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    fields.push_back(current);
    return fields;
}

bool IsNumber(const std::string& s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    if (i == s.size())
        return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

} // namespace

CString VRNDescriptorName(const char* descriptor) {
    const std::vector<std::string> fields = SplitFields(descriptor);
    if (fields.empty())
        return CString();
    if (fields.size() >= 2 && IsNumber(fields[0]))
        return CString(fields[1]);
    return CString(fields[0]);
}

CString VRNDescriptorUnit(const char* descriptor) {
    const std::vector<std::string> fields = SplitFields(descriptor);
    if (fields.size() <= 2)
        return CString();
    return CString(fields.back());
}
