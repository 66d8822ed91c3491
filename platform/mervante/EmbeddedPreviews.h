// Where the JPEG previews of a RAW file lie. LibRaw 0.20 offers one preview per file, its own
// choice, and for some makes that is the small one (a Pentax file gives its 160 x 120 thumbnail
// and not its 720 x 480 preview); this finds every one, so the largest can be taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct TPreviewSpan {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
    bool operator==(const TPreviewSpan &) const = default;
};

struct TPreviewScan {
    // Every place a JPEG preview is said to be, as the file claims it: the claims are checked
    // by whoever reads them.
    std::vector<TPreviewSpan> Jpegs;
    int Orientation = 0; // the EXIF orientation of the main picture (1 to 8); 0 when not given
};

// Reads n bytes at offset into buffer; false when the file has fewer there.
using TReadAt = std::function<bool(std::int64_t offset, void *buffer, std::size_t n)>;

// Looks through a TIFF-based RAW file (the IFD chain, sub-IFDs, the Exif IFD, a Pentax maker
// note, Panasonic's embedded JPEG), a CR3 file (its preview and thumbnail boxes) or a CRW file
// (its CIFF heaps). Reads a few hundred small pieces at most, whatever the file claims; a file
// of another kind gives nothing.
TPreviewScan ScanPreviews(const TReadAt &read, std::int64_t fileSize);

// LibRaw's flip (bit 2: swap rows and columns, bit 1: mirror rows, bit 0: mirror columns) for
// an EXIF orientation; 0 for an orientation outside 1 to 8.
int FlipOfOrientation(int orientation);
