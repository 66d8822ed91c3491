// The call into the RAW preview library and the one implementation of the two places that use
// it: the folder scan's RAW pass and the viewer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "DecoderIo.h"
#include "TempFolder.h"

// Size of the output path buffer handed to the library, terminator included.
constexpr int RawPreviewPathBufferSize = 261;

// The path handed on when the input path is missing or empty: no file has that name.
constexpr const char *NoRawFileName = "*:\\***.***";

// Calls the library with the x87 control word masked (DefaultFpuControl | 0x10BF) and restores
// DefaultFpuControl and the live word afterwards, also when the call ends by an exception.
// Returns the library's result (0: a preview was written).
std::int32_t ExtractRawPreview(const TDecoderIoTable *table, const char *inputPath,
                               char *outputBuffer, std::int32_t *quality);

// The preview file each caller reads: <temp>/tmp/thumb.tmp.jpg for the scan, <temp>/thumb.tmp.jpg
// for the viewer. Makes sure of the folders; raises Exception when the temporary folder is unsafe.
std::string TempPreviewFile(TempPreview which);

// Writes the preview of rawPath to TempPreviewFile(which): makes sure of the folders, removes
// the previous preview file (so a failure never leaves another picture's preview in its place),
// and calls the library with a fresh table. A division by zero during the call is swallowed;
// any other exception goes on to the caller; a temporary folder too full to take the preview
// raises Exception "The temporary folder "%s" is full; ...". Returns whether a preview file was
// written; after a failure no preview file exists.
bool ExtractPreviewToTemp(const std::string &rawPath, TempPreview which);

// The same for any preview file (each worker of a parallel pass has its own). The library runs
// in the sandboxed decoding helper, so a hostile file can crash or stall only that process.
// Returns the library's result, or one of the RawPreview results below: 0 when the preview
// file was written; otherwise no preview file exists. A division by zero during the call
// counts as "no preview" (3). Raising *cancel stops the helper: RawPreviewCancelled.
int ExtractPreviewToFile(const std::string &rawPath, const std::string &outputPath,
                         const std::atomic<bool> *cancel = nullptr);

// The library's call inside the decoding helper: the preview of the RAW file open on inFd is
// written into the file open on outFd (emptied first). Neither descriptor is closed, and the
// library can open nothing else. Returns the library's result, as ExtractPreviewToFile does.
int ExtractPreviewBetweenDescriptors(int inFd, int outFd);

// Results of ExtractPreviewToFile beyond the library's own: how its decoding process ended.
constexpr int RawPreviewDecoderCrashed = 100;
constexpr int RawPreviewDecoderOverLimit = 101;
constexpr int RawPreviewNoDecoder = 102;
constexpr int RawPreviewCancelled = 103;

// Why no preview came out of a RAW file, for the user: the text for a result of
// ExtractPreviewToFile.
std::string RawPreviewFailureText(int result);
