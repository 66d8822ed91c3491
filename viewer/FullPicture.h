// The picture a file holds at its full size, for the viewer's zoom: decoded only when the zoom
// asks for it, never on the window's thread.
#pragma once

#include <QImage>

#include <string>

#include "PictureFit.h"

// The preview file of these decodes: the viewer's own one belongs to the picture being opened,
// which may happen while a full picture is still being made.
constexpr int FullPictureWorker = 90;

// Decodes the file at path at its full size, opaque: a RAW file's preview as the file carries
// it (through the decoder library, the preview turned as the file says), any other picture
// through its reader, turned as its EXIF orientation says and flattened on white. Reads nothing
// but that file. Once stop says so the decode ends with Killed or TimedOut at its next step
// (the decoder library's call runs to its end). Never raises: an unreadable file is Failed.
TDecodeResult DecodeFullPicture(const std::string &path, const TStop &stop, QImage &result);
