#include "minimize/MessageSink.h"

#include <cstdarg>

#include "host/framework/String.h"

void CVRNMessageSink::Print(const char* format, ...) {
    if (!format)
        return;
    CString text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args); // measured first, so any length fits
    va_end(args);
    AddMessage(text.GetString());
}
