// The messages between the program and its decoding helper (pixavant-decode). A request travels
// over a local socket with the descriptors it needs: the file to read and the memory file to
// write the result into. Both sides are built from one tree, so the layout is shared as it is.
#pragma once

#include <cstdint>

constexpr std::uint32_t DecodeWireMagic = 0x50584431; // "PXD1"

enum class TDecodeJob : std::uint32_t {
    RawPreview,   // the RAW file's preview as a JPEG file
    Picture,      // a picture through Qt's readers, fitted into the box
    Metafile,     // a Windows metafile, fitted into the box
    Thumbnail,    // a JPEG preview made into a thumbnail file of the box's size
    ShootingInfo, // the camera, exposure and date a picture records, as text
    // What a hostile file could make a decoder do, asked for on purpose by the tests. The
    // helper answers them only when started for tests.
    TestCrash,
    TestSpin,
    TestSleep,
    TestBurn, // use half the budget's processor time, then answer
    TestAllocate,
    TestOpen,        // open Path for reading
    TestOpenInFonts, // the same in a helper that draws metafiles
    TestCreate,      // create Path
    TestSocket,      // open a network socket
};

struct TDecodeRequest {
    std::uint32_t Magic = DecodeWireMagic;
    TDecodeJob Job = TDecodeJob::RawPreview;
    std::int32_t PictureKind = 0; // a TPictureKind, for Picture
    std::int32_t BoxWidth = 0;
    std::int32_t BoxHeight = 0;
    std::int32_t Cover = 0;
    std::int64_t BudgetMs = 5000;
    std::int32_t FillColor = 0; // Thumbnail: a TColor
    char Path[256] = {};        // TestOpen, TestCreate; Thumbnail: the source's name
    char Identity[128] = {};    // Thumbnail: who the RAW file is, for the thumbnail's comment
};

// Status of a reply; Code then holds the decoder's own result (a Mervante result for
// RawPreview, a TDecodeResult for pictures, an errno for the tests).
enum class TDecodeStatus : std::int32_t { Done, BadRequest, OutputTooLarge };

struct TDecodeReply {
    TDecodeStatus Status = TDecodeStatus::BadRequest;
    std::int32_t Code = 0;
    // The result's bytes at the start of the memory file: a JPEG file, or rows of pixels.
    std::int64_t Size = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t BytesPerLine = 0;
    std::int32_t Format = 0;  // a QImage::Format
    char Error[256] = {};     // Thumbnail: why it failed, when Code is not 0
    char ErrorClass[32] = {}; // and the class of what was raised
};

// The first bytes of a RAW file that a helper started for tests spins on instead of decoding.
constexpr char DecodeTestSpinMarker[] = "PIXAVANT-TEST-SPIN";

// Largest result the program takes back: a 120-megapixel picture at 4 bytes a pixel.
constexpr std::int64_t MaxDecodeOutputBytes = std::int64_t(480) << 20;

// Processor time a helper may use over its whole life, as the kernel enforces it; the program
// stops a single decode far earlier and retires a helper at half of it.
constexpr int DecodeHelperLifetimeCpuSeconds = 600;

// The descriptor the helper finds its socket on.
constexpr int DecodeSocketFd = 3;
