// Message boxes and debugger output.
#pragma once

#include <string>

#include "WinTypes.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a modal message box owned by the window (0: the active window). Called from a worker
// thread, the GUI thread shows it while the worker waits for it to close.
int MessageBoxA(HWND owner, const std::string &text, const std::string &caption, UINT type);

// Writes one line to standard error.
void OutputDebugStringA(const std::string &text);
