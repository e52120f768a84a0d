#include "host/framework/String.h"

#include <cstdio>
#include <vector>

CString::CString(const char* text) : m_Text(text ? text : "") {}

CString::CString(const std::string& text) : m_Text(text) {}

CString& CString::operator=(const char* text) {
    m_Text = text ? text : "";
    return *this;
}

void CString::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::FormatV(const char* fmt, va_list args) {
    if (!fmt) {
        m_Text.clear();
        return;
    }
    // First pass measures, second pass writes into a buffer of the exact size.
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (needed <= 0) {
        m_Text.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
    m_Text.assign(buffer.data(), static_cast<size_t>(needed));
}

CString& CString::operator+=(const CString& rhs) {
    m_Text += rhs.m_Text;
    return *this;
}

CString& CString::operator+=(const char* rhs) {
    if (rhs)
        m_Text += rhs;
    return *this;
}

CString& CString::operator+=(char ch) {
    m_Text += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}
