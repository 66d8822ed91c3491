// A bound on the work of one JPEG decode. A small file can hold thousands of scans, each of which
// makes the decoder visit every block of the picture: 400 KB can cost minutes. libjpeg's progress
// monitor counts the blocks each scan visits (scans x blocks, not the scans alone) and stops the
// decode through the error manager once the bound is passed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio> // jpeglib.h needs size_t and FILE declared first
#include <string>

#include <jpeglib.h>

// Block visits allowed in one decode: twice what the usual ten scans of a 400-megapixel colour
// picture need, and about two seconds of decoding.
constexpr std::int64_t MaxJpegWork = 120'000'000;
// What starting a scan costs, in block visits: bounds files of many scans of few blocks.
constexpr std::int64_t JpegScanCost = 256;

struct TJpegWorkLimit {
    jpeg_progress_mgr pub{}; // first: libjpeg sees this part only
    std::int64_t limit = MaxJpegWork;
    std::int64_t work = 0;
    int scans = 0; // scans started
    bool exceeded = false;
    // When set and raised by another thread, the decode stops at its next row.
    const std::atomic<bool> *cancel = nullptr;
    bool cancelled = false;
    int lastScan = -1;
    JDIMENSION lastRow = 0;
};

// Installs the monitor on a created decompressor, before jpeg_start_decompress. A decode past
// the bound ends through cinfo's error_exit with limit.exceeded set.
void LimitJpegWork(jpeg_decompress_struct &cinfo, TJpegWorkLimit &limit);

// Creates the decompressor on a whole file in memory, installs the work bound, reads the header
// and asks for the accurate integer DCT with block smoothing, as every decode here does.
// libjpeg's errors longjmp: the caller's setjmp comes first (see JpegError.h).
void OpenJpegInMemory(jpeg_decompress_struct &cinfo, const std::uint8_t *data, std::size_t size,
                      TJpegWorkLimit &work);

// The reason a stopped decode gives (as the message of its EJPEG).
std::string JpegWorkMessage(const TJpegWorkLimit &limit);

// The work that decoding the JPEG file open on fd takes, counted as the monitor counts it but
// from the file's markers alone: for decoders that offer no progress monitor. Counting stops
// once past limit. A file that is no JPEG, or is cut short, counts what it has.
std::int64_t JpegWorkOfFile(int fd, std::int64_t limit = MaxJpegWork);
