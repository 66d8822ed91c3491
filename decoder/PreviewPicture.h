// Reading the preview file the decoder library writes: a JPEG picture that may carry the turn
// that makes it upright, applied once the picture has been decoded at the size it is needed.
#pragma once

#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The turn the preview's marker segment asks for (LibRaw's flip, 0 to 7); 0 without one.
int PreviewTurn(const std::uint8_t *data, std::size_t size);

// The picture turned by flip (bit 2: swap rows and columns, then bit 1: mirror rows, bit 0:
// mirror columns, naming the upright pixel's source in picture).
QImage TurnUpright(const QImage &picture, int flip);

// Decodes the preview at 1/scaleDenom of its size (see DecodeJpeg) and turns it upright. Raises
// as DecodeJpeg.
QImage DecodePreview(const std::uint8_t *data, std::size_t size, int scaleDenom = 1,
                     const std::atomic<bool> *cancel = nullptr);
