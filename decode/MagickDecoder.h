// Windows metafiles (WMF) rendered through Magick++.
#pragma once

#include <QImage>

#include <string>

#include "PictureFit.h"

// Renders the open metafile (read from its start, at most 64 MiB) fitted into box (covering
// it with cover). Pictures above MaxPicturePixels are refused after a look at their header.
// It is drawn no larger than the box needs. Once stop says so the rendering ends with Killed
// or TimedOut at its next step.
TDecodeResult DecodeMetafile(int fd, QSize box, bool cover, const TStop &stop, QImage &result);
