// Thumbnail extractors for picture files: the IExtractImage the folders hand out, and the
// freedesktop shared thumbnail cache they keep.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "PictureFit.h" // MaxPicturePixels
#include "ShellApi.h"
#include "ThumbnailCache.h"

// Gives an IExtractImage for a regular file whose content is a picture we can read (JPEG,
// PNG, GIF, BMP, TIFF, WMF); E_NOINTERFACE otherwise. Never opens anything but regular files.
HRESULT CreateExtractImage(const std::string &path, void **out);

// A task (IRunnableTask) whose Run fills the shared thumbnail cache for a file as the
// extractor asked for size, colour depth and flags would, so that the extraction then answers
// from the cache; its Kill stops the decode under way. E_NOINTERFACE when there is nothing to
// fill: not a picture, a thumbnail the cache would not keep, or IEIFLAG_QUALITY (which decodes
// again anyway).
HRESULT CreateThumbnailPrefetch(const std::string &path, const SIZE &size, DWORD colorDepth,
                                DWORD flags, void **out);

// Each extraction's time budget. Past it the decode is stopped; Extract answers
// E_EXTRACTION_TIMEOUT and the file gets a failure entry, so a later visit does not try again
// until the file changes. A JPEG whose scans x blocks exceed MaxJpegWork is refused outright.
constexpr std::int64_t DefaultExtractionBudgetMs = 5000;
void SetExtractionBudget(std::chrono::milliseconds budget);
// "This operation returned because the timeout period expired."
constexpr HRESULT E_EXTRACTION_TIMEOUT = HRESULT(0x800705B4);
