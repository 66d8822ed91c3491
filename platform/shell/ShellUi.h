// The shell's folder dialog and ShellExecuteA.
#pragma once

#include <string>

#include "ShellApi.h"

constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_NEWDIALOGSTYLE = 0x0040;
constexpr UINT BIF_NONEWFOLDERBUTTON = 0x0200;
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SETSELECTIONA = WM_USER + 102; // 1126

using BFFCALLBACK = int (*)(HWND window, UINT message, LPARAM lParam, LPARAM data);

struct BROWSEINFOA {
    HWND hwndOwner;
    LPCITEMIDLIST pidlRoot;
    char *pszDisplayName; // MAX_PATH bytes
    const char *lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};

// Shows a folder dialog; the chosen folder as an item id list (free it with the shell
// allocator), or null when cancelled. The callback may send BFFM_SETSELECTIONA with wParam 1
// and a path in lParam to preselect a folder.
LPITEMIDLIST SHBrowseForFolderA(BROWSEINFOA *info);

constexpr int SW_SHOWNORMAL = 1;
// Opens a document or a web address with the desktop's handler ("www.example.com" and
// "mailto:..." included). Returns a value above 32 on success.
std::intptr_t ShellExecuteA(HWND owner, const char *verb, const char *file, const char *params,
                            const char *dir, int show);
