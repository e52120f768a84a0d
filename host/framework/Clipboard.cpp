#include "host/framework/Clipboard.h"

#include <memory>
#include <mutex>
#include <vector>

struct VRNGlobalBlock {
    std::vector<char> bytes;
    int locks = 0;
};

namespace {

struct ClipboardState {
    std::mutex mutex;
    bool open = false;
    bool held = false;
    bool allocFails = false;
    bool refuse = false;
    std::unique_ptr<VRNGlobalBlock> text; // owned by the clipboard
    int openCount = 0;
    int closeCount = 0;
    int liveBlocks = 0;
};

ClipboardState& State() {
    static ClipboardState s;
    return s;
}

} // namespace

HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes) {
    ClipboardState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.allocFails)
        return nullptr;
    auto* block = new VRNGlobalBlock;
    block->bytes.assign(dwBytes, (uFlags & GMEM_ZEROINIT) ? 0 : '\xCD');
    ++s.liveBlocks;
    return block;
}

void* GlobalLock(HGLOBAL hMem) {
    if (!hMem)
        return nullptr;
    ++hMem->locks;
    return hMem->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    if (!hMem || hMem->locks == 0)
        return FALSE;
    return --hMem->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL hMem) {
    return hMem ? hMem->bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (!hMem)
        return nullptr;
    ClipboardState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    delete hMem;
    --s.liveBlocks;
    return nullptr;
}

BOOL OpenClipboard(HWND /*hWndNewOwner*/) {
    ClipboardState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.held || s.open)
        return FALSE;
    s.open = true;
    ++s.openCount;
    return TRUE;
}

BOOL EmptyClipboard() {
    ClipboardState& s = State();
    std::unique_ptr<VRNGlobalBlock> old;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.open)
            return FALSE;
        old = std::move(s.text);
    }
    if (old)
        GlobalFree(old.release());
    return TRUE;
}

HANDLE SetClipboardData(UINT uFormat, HANDLE hMem) {
    ClipboardState& s = State();
    std::unique_ptr<VRNGlobalBlock> old;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.open || s.refuse || uFormat != CF_TEXT || !hMem)
            return nullptr;
        old = std::move(s.text);
        s.text.reset(static_cast<VRNGlobalBlock*>(hMem));
    }
    if (old)
        GlobalFree(old.release());
    return hMem;
}

BOOL CloseClipboard() {
    ClipboardState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.open)
        return FALSE;
    s.open = false;
    ++s.closeCount;
    return TRUE;
}

BOOL IsClipboardFormatAvailable(UINT format) {
    return format == CF_TEXT && ClipboardStandIn::HasText();
}

namespace ClipboardStandIn {

void Reset() {
    ClipboardState& s = State();
    std::unique_ptr<VRNGlobalBlock> old;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        old = std::move(s.text);
        s.open = s.held = s.allocFails = s.refuse = false;
        s.openCount = s.closeCount = 0;
    }
    if (old)
        GlobalFree(old.release());
}

void SetHeldByOtherProgram(bool held) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().held = held;
}

void SetGlobalAllocFails(bool fails) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().allocFails = fails;
}

void SetRefuseData(bool refuse) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().refuse = refuse;
}

void PutText(const char* text) {
    const std::string t = text ? text : "";
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, t.size() + 1);
    if (!h)
        return;
    char* p = static_cast<char*>(GlobalLock(h));
    std::copy(t.c_str(), t.c_str() + t.size() + 1, p);
    GlobalUnlock(h);
    ClipboardState& s = State();
    std::unique_ptr<VRNGlobalBlock> old;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        old = std::move(s.text);
        s.text.reset(h);
    }
    if (old)
        GlobalFree(old.release());
}

bool HasText() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().text != nullptr;
}

std::string GetText() {
    std::lock_guard<std::mutex> lock(State().mutex);
    const VRNGlobalBlock* b = State().text.get();
    if (!b || b->bytes.empty())
        return std::string();
    // Text up to the terminating zero (or the block's end if there is none).
    std::string out;
    for (char ch : b->bytes) {
        if (ch == '\0')
            break;
        out += ch;
    }
    return out;
}

bool IsOpen() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().open;
}

int GetOpenCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().openCount;
}

int GetCloseCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().closeCount;
}

int GetLiveBlockCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().liveBlocks;
}

} // namespace ClipboardStandIn
