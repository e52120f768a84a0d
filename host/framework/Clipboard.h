#pragma once

// The system clipboard and movable global memory, as the platform offers them,
// with controls for tests.
//
// The clipboard holds at most one text (CF_TEXT). OpenClipboard fails while
// another program holds it (ClipboardStandIn::SetHeldByOtherProgram) or while
// it is already open; EmptyClipboard and SetClipboardData fail unless it is
// open. A block given to SetClipboardData belongs to the clipboard when the call
// succeeds; when it fails the caller still owns it and must GlobalFree it.

#include "host/framework/WinTypes.h"

#include <cstddef>
#include <string>

struct VRNGlobalBlock;
using HGLOBAL = VRNGlobalBlock*;
using HANDLE = void*;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT CF_TEXT = 1;

HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);
void* GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
std::size_t GlobalSize(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem); // null on success

BOOL OpenClipboard(HWND hWndNewOwner);
BOOL EmptyClipboard();
HANDLE SetClipboardData(UINT uFormat, HANDLE hMem);
BOOL CloseClipboard();
BOOL IsClipboardFormatAvailable(UINT format);

// Controls and observations for tests; they stand for other programs and the
// state of the system.
namespace ClipboardStandIn {
// Back to an empty, closed, available clipboard with no failures scheduled.
void Reset();
// Another program holds the clipboard open: OpenClipboard fails.
void SetHeldByOtherProgram(bool held);
// GlobalAlloc fails (out of memory) while set.
void SetGlobalAllocFails(bool fails);
// SetClipboardData refuses the data while set.
void SetRefuseData(bool refuse);
// Places text as another program would (the clipboard must not be open).
void PutText(const char* text);
bool HasText();
// The text on the clipboard ("" when there is none).
std::string GetText();
bool IsOpen();
// Number of successful OpenClipboard and CloseClipboard calls since Reset.
int GetOpenCount();
int GetCloseCount();
// Global blocks allocated and not yet freed (those held by the clipboard included).
int GetLiveBlockCount();
} // namespace ClipboardStandIn
