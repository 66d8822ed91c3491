// Sizing a decoded picture for a thumbnail box, shared by the decoders and the extractor.
#pragma once

#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "WinTypes.h"

enum class TDecodeResult { Ok, Failed, Killed, TimedOut };

// When a decode must stop: its extraction was killed, or it has used up its time budget.
class TStop {
public:
    TStop(const std::atomic<bool> &killed, std::chrono::milliseconds budget)
        : FKilled(killed), FDeadline(std::chrono::steady_clock::now() + budget) {}
    bool Killed() const { return FKilled; }
    bool TimedOut() const { return std::chrono::steady_clock::now() >= FDeadline; }
    bool operator()() const { return Killed() || TimedOut(); }
    // For a decode handed on: the flag that kills it and the time it has left.
    const std::atomic<bool> &KilledFlag() const { return FKilled; }
    std::chrono::milliseconds Left() const {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(
                            FDeadline - std::chrono::steady_clock::now()));
    }
    // Why a decode that produced nothing ended.
    TDecodeResult Reason() const {
        return Killed() ? TDecodeResult::Killed : TDecodeResult::TimedOut;
    }

private:
    const std::atomic<bool> &FKilled;
    std::chrono::steady_clock::time_point FDeadline;
};

// Pictures with more pixels than this are refused before anything is allocated for them.
constexpr long long MaxPicturePixels = 120'000'000LL;

// The size that fits picture into box keeping its aspect ratio, never larger than picture;
// with cover, the size that covers the box instead.
QSize FitSize(QSize picture, QSize box, bool cover);

// The picture scaled into box (or covering it and cropped to it), flattened on white.
QImage Boxed(const QImage &image, QSize box, bool cover);

// Reduces the colours to what the depth (bits per pixel) can hold, kept in a 32-bit picture.
QImage WithDepth(const QImage &image, DWORD depth);
