// Scaled decoding through Qt's image readers (JPEG, PNG, GIF, BMP, TIFF).
#pragma once

#include <QImage>

#include "PictureFit.h"
#include "PictureKind.h"

// Decodes the open file (read from its start) fitted into box (covering it with cover), turned
// as its EXIF orientation says and converted to sRGB. A JPEG whose camera thumbnail is large
// enough is answered from the thumbnail. Once stop says so, reads fail and the decode ends
// with Killed or TimedOut. A JPEG whose scans x blocks exceed MaxJpegWork fails unread.
TDecodeResult DecodeWithQt(int fd, TPictureKind kind, QSize box, bool cover, const TStop &stop,
                           QImage &result);
