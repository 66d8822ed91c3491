// Thumbnail extractors for picture files: the IExtractImage the folders hand out, and the
// freedesktop shared thumbnail cache they keep.
#pragma once

#include <string>

#include "PictureFit.h" // MaxPicturePixels
#include "ShellApi.h"
#include "ThumbnailCache.h"

// Gives an IExtractImage for a regular file whose content is a picture we can read (JPEG,
// PNG, GIF, BMP, TIFF, WMF); E_NOINTERFACE otherwise. Never opens anything but regular files.
HRESULT CreateExtractImage(const std::string &path, void **out);
