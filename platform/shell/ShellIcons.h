// File icons and the system image list: icons of the desktop's icon theme chosen by MIME type
// (from the name, so no file is ever opened), one image-list index per distinct icon, and a
// drawn fallback when no theme is installed. Safe to call from any thread.
#pragma once

#include <QIcon>
#include <QImage>

#include <string>

#include "ShellApi.h"

class TBitmap;

// An icon handed out by SHGetFileInfoA; whoever receives it frees it with DestroyIcon.
struct TIconHandle {
    QImage Image; // the icon at its list size, with alpha
    QIcon Icon;   // the theme icon, for drawing at other sizes (GUI thread only)
};
using HICON = TIconHandle *;
BOOL DestroyIcon(HICON icon);

class TSystemImageList;
using HIMAGELIST = TSystemImageList *;

struct SHFILEINFOA {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    char szDisplayName[MAX_PATH];
    char szTypeName[80];
};

constexpr UINT SHGFI_ICON = 0x0100;
constexpr UINT SHGFI_SMALLICON = 0x0001;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x0010;
constexpr UINT SHGFI_TYPENAME = 0x0400;
constexpr UINT SHGFI_SYSICONINDEX = 0x4000;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;

// SHGFI_SYSICONINDEX: fills iIcon (when a path is given) and returns the system image list
// (large icons, or small ones with SHGFI_SMALLICON). SHGFI_ICON: fills hIcon and returns
// nonzero. A path that does not exist is answered by its name, like SHGFI_USEFILEATTRIBUTES.
// Returns 0 on failure.
std::uintptr_t SHGetFileInfoA(const char *path, DWORD attributes, SHFILEINFOA *info, UINT infoSize,
                              UINT flags);

constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
// The icon metrics; other indexes give 0.
int GetSystemMetrics(int index);

constexpr UINT ILD_NORMAL = 0x0000;
constexpr UINT ILD_TRANSPARENT = 0x0001;
BOOL ImageList_GetIconSize(HIMAGELIST list, int *cx, int *cy);
// Draws image index at (x, y), blending through the icon's own mask.
BOOL ImageList_Draw(HIMAGELIST list, int index, TBitmap &dest, int x, int y, UINT style);
// As ImageList_Draw; with ILD_SCALE the icon is drawn dx x dy (square: the smaller of the two)
// for screens with more device pixels than logical ones, afresh from its theme where it can be.
constexpr UINT ILD_SCALE = 0x2000;
BOOL ImageList_DrawEx(HIMAGELIST list, int index, TBitmap &dest, int x, int y, int dx, int dy,
                      UINT style);
