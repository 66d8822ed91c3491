#include "PreviewPicture.h"

#include <QTransform>

#include <cstring>

#include "JpegCodec.h"
#include "JpegMarkers.h"
#include "Mervante.h"

int PreviewTurn(const std::uint8_t *data, std::size_t size) {
    int flip = 0;
    WalkJpegHeader(data, size, [&](const JpegSegment &segment) {
        if (segment.marker != MervanteTurnMarker || segment.size != MervanteTurnIdLength + 1 ||
            std::memcmp(segment.data, MervanteTurnId, MervanteTurnIdLength) != 0)
            return false;
        flip = segment.data[MervanteTurnIdLength] & 7;
        return true;
    });
    return flip;
}

QImage TurnUpright(const QImage &picture, int flip) {
    flip &= 7;
    if (flip == 0)
        return picture;
    const bool mirrorColumns = (flip & 1) != 0, mirrorRows = (flip & 2) != 0;
    if ((flip & 4) == 0)
        return picture.mirrored(mirrorColumns, mirrorRows);
    // Upright (row, col) shows the mirrored picture's (col, row): that transposition is a
    // quarter turn clockwise of the picture upside down.
    return picture.mirrored(mirrorColumns, !mirrorRows).transformed(QTransform().rotate(90));
}

QImage DecodePreview(const std::uint8_t *data, std::size_t size, int scaleDenom,
                     const std::atomic<bool> *cancel) {
    return TurnUpright(DecodeJpeg(data, size, scaleDenom, cancel), PreviewTurn(data, size));
}
