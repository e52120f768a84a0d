#pragma once

#include <cstring>
#include <string_view>

// Where the engine's status rows go. The engine formats each message by the printf
// rules and hands the text to AddMessage; a text may hold several lines separated by
// "\n". The status view implements this interface; so can a host's own log.
class CVRNMessageSink {
public:
    virtual ~CVRNMessageSink() = default;

    // Receives one formatted message.
    virtual void AddMessage(const char* text) = 0;
    // Forgets what was written so far (the tool clears its log before a session).
    virtual void Clear() {}

    // Formats the arguments by the printf rules (any length) and passes the result to
    // AddMessage. A null format writes nothing.
    void Print(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
};

// Cuts a message into the rows of a status log: at every "\n"; an empty line between
// others becomes a row holding " "; a final line feed adds no row, and an empty text
// none at all. row(std::string_view) is called once per row, in order.
template <class RowFn> void ForEachStatusRow(const char* text, std::size_t length, RowFn&& row) {
    if (!text)
        return;
    const char* p = text;
    const char* const end = text + length;
    for (;;) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* pieceEnd = lf ? lf : end;
        if (pieceEnd == p && !lf)
            return; // an empty last piece: the text was empty
        row(pieceEnd == p ? std::string_view(" ")
                          : std::string_view(p, static_cast<std::size_t>(pieceEnd - p)));
        if (!lf || lf + 1 == end)
            return; // nothing follows the line feed
        p = lf + 1;
    }
}
