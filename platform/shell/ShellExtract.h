// Thumbnail extractors for picture files: the IExtractImage the folders hand out, and the
// freedesktop shared thumbnail cache they keep.
#pragma once

#include <functional>
#include <string>

#include "ShellApi.h"

// Gives an IExtractImage for a regular file whose content is a picture we can read (JPEG,
// PNG, GIF, BMP, TIFF, WMF); E_NOINTERFACE otherwise. Never opens anything but regular files.
HRESULT CreateExtractImage(const std::string &path, void **out);

// Pictures with more pixels than this are refused before anything is allocated for them.
constexpr long long MaxPicturePixels = 120'000'000LL;

// The freedesktop cache file that holds (or would hold) path's thumbnail of the given size
// class ("normal" 128, "large" 256), and its failure entry.
std::string ThumbnailCachePath(const std::string &path, bool large);
std::string ThumbnailFailPath(const std::string &path);
// The file URI of a path as the cache names it (bytes percent-encoded, never re-encoded).
std::string ThumbnailUri(const std::string &path);

// Tests replace the extractor a folder hands out: the hook gets the file's path and fills out
// like CreateExtractImage. An empty function restores the real extractors.
using ExtractImageFactory = std::function<HRESULT(const std::string &path, void **out)>;
void SetExtractImageFactoryForTesting(ExtractImageFactory factory);
