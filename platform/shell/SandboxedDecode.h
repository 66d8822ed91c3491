// The shell's picture decoders, run in the sandboxed decoding helper.
#pragma once

#include <QImage>

#include <atomic>
#include <chrono>

#include "PictureFit.h"
#include "PictureKind.h"

// Decodes the open file as DecodeWithQt or DecodeMetafile would, in a helper process: a file
// that crashes the decoder or overruns its limits fails (TimedOut for a limit), and raising
// killed ends the decode at once with Killed.
TDecodeResult DecodeInSandbox(int fd, TPictureKind kind, QSize box, bool cover,
                              const std::atomic<bool> &killed, std::chrono::milliseconds budget,
                              QImage &result);
