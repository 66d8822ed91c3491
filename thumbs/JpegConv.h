// Fits a JPEG picture into a fixed-size JPEG thumbnail on a fill colour.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "Graphics.h"

// Opens the source for reading, creates (truncates) the destination, runs MakeThumbnail on the
// two and closes both whatever happens. Raises EFOpenError "Cannot open file "%s". %s" and
// EFCreateError "Cannot create file "%s". %s", and whatever MakeThumbnail raises; a failure
// after the destination was created leaves it behind (empty or partial).
void MakeThumbnailFile(const std::string &sourceFile, const std::string &destFile, int width,
                       int height, TColor fillColor);

// As MakeThumbnailFile, but the thumbnail is written to an open descriptor, which is left open;
// destName is the name that error messages give it.
void MakeThumbnailToDescriptor(const std::string &sourceFile, int destFd,
                               const std::string &destName, int width, int height, TColor fillColor,
                               const std::string &sourceIdentity = {});

// As MakeThumbnailToDescriptor, from a source already open (read from its current position);
// sourceName is the name that error messages give it. Neither descriptor is closed.
void MakeThumbnailBetweenDescriptors(int sourceFd, const std::string &sourceName, int destFd,
                                     int width, int height, TColor fillColor,
                                     const std::string &sourceIdentity);

// Reads one JPEG picture from source (its current position to its end) and writes a
// width x height JPEG thumbnail to dest in one write: the picture scaled to fit by its longer
// side, centred on fillColor, nearest-neighbour, quality 90, progressive when the source has
// several scans, marked with ThumbnailComment and, when given, a second comment that names the
// file the picture came from (ThumbnailSourcePrefix, then sourceIdentity). Raises Exception
// "Invalid Width" / "Invalid Height" (size < 1), EInvalidOp "Invalid floating point operation"
// (empty source), EJPEG "JPEG error #%d" (not a JPEG, or a picture or thumbnail too big to code),
// EOutOfMemory, EStreamError "Stream read error" / "Stream write error".
void MakeThumbnail(std::istream &source, std::ostream &dest, int width, int height,
                   TColor fillColor, const std::string &sourceIdentity = {});

// The JPEG comment our thumbnail files carry, so that a file we did not write is never
// mistaken for ours and replaced.
inline constexpr char ThumbnailComment[] = "Pixavant thumbnail";

// The start of the comment that names a thumbnail's source (see RawFileIdentity).
inline constexpr char ThumbnailSourcePrefix[] = "Pixavant source ";

// True when the file is a JPEG whose header carries ThumbnailComment. Never raises.
bool HasThumbnailComment(const std::string &path);

// Where the scaled picture lands in the box: (X, Y) may be negative when the picture overhangs
// the box, which cuts the overhang off.
struct TThumbPlacement {
    int DrawW = 0;
    int DrawH = 0;
    int X = 0;
    int Y = 0;
};

// The picture (pictureW x pictureH) fitted to the box by its longer side; halves round to even,
// the offsets are halved toward zero. Raises EInvalidOp for a 0 x 0 picture and EZeroDivide
// for a picture of height 0.
TThumbPlacement ThumbnailPlacement(int pictureW, int pictureH, int width, int height);

// The source pixel that destination pixel d (0 <= d < drawn) of a stretch from source length
// to drawn length shows: the one nearest to its centre.
inline int NearestSource(int d, int drawn, int source) {
    return int((2 * std::int64_t(d) + 1) * source / (2 * std::int64_t(drawn)));
}

// How the decoder reaches the rows the thumbnail samples. WhereIdentical skips the others
// where that gives the same pixels; DecodeAll decodes every row.
enum class TRowAccess { WhereIdentical, DecodeAll };

// The thumbnail bitmap before encoding (Format_RGB888). Raises as MakeThumbnail, except that
// data must not be empty.
QImage RenderThumbnail(const std::uint8_t *data, std::size_t size, int width, int height,
                       TColor fillColor, TRowAccess access = TRowAccess::WhereIdentical);

// Encodes a Format_RGB888 bitmap at quality 90 with ThumbnailComment (and the source comment
// when sourceIdentity is not empty).
std::string EncodeThumbnail(const QImage &bitmap, bool progressive,
                            const std::string &sourceIdentity = {});

// Thumbnails larger than this are refused with EOutOfMemory before anything is allocated.
constexpr std::int64_t MaxThumbnailPixels = 100'000'000;
