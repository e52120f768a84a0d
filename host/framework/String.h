#pragma once

#include <cstdarg>
#include <string>

// Text string used throughout the library: a small value type over std::string
// with printf-style formatting and implicit read access as a C string.
class CString {
public:
    CString() = default;
    CString(const char* text); // null gives an empty string
    CString(const std::string& text);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    ~CString() = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* text);

    // Replaces the contents with the printf-style formatting of the arguments.
    // The result may be of any length.
    void Format(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* fmt, va_list args);

    operator const char*() const {
        return m_Text.c_str();
    }
    const char* GetString() const {
        return m_Text.c_str();
    }
    const std::string& Str() const {
        return m_Text;
    }

    int GetLength() const {
        return static_cast<int>(m_Text.size());
    }
    bool IsEmpty() const {
        return m_Text.empty();
    }
    void Empty() {
        m_Text.clear();
    }

    CString& operator+=(const CString& rhs);
    CString& operator+=(const char* rhs);
    CString& operator+=(char ch);

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend CString operator+(const CString& a, char b);

    friend bool operator==(const CString& a, const CString& b) {
        return a.m_Text == b.m_Text;
    }
    friend bool operator==(const CString& a, const char* b) {
        return a.m_Text == (b ? b : "");
    }
    friend bool operator!=(const CString& a, const CString& b) {
        return !(a == b);
    }
    friend bool operator!=(const CString& a, const char* b) {
        return !(a == b);
    }
    friend bool operator<(const CString& a, const CString& b) {
        return a.m_Text < b.m_Text;
    }
    friend bool operator<(const CString& a, const char* b) {
        return a.m_Text < (b ? b : "");
    }
    friend bool operator<(const char* a, const CString& b) {
        return (a ? a : "") < b.m_Text;
    }

private:
    std::string m_Text;
};
