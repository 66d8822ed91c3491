// Windows metafiles (WMF) rendered through Magick++.
#pragma once

#include <QImage>

#include <atomic>

#include "PictureFit.h"

// Renders the open metafile (read from its start, at most 64 MiB) fitted into box (covering
// it with cover). Pictures above MaxPicturePixels are refused after a look at their header.
// Once killed becomes true the rendering ends with Killed at its next step.
TDecodeResult DecodeMetafile(int fd, QSize box, bool cover, const std::atomic<bool> &killed,
                             QImage &result);
