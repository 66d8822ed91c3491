// A picture held in a few kilobytes while nobody looks at it: a thumbnail list of a large
// folder keeps one per item and unpacks only the ones on screen.
#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>

class TCompactImage {
public:
    enum class TKind { Empty, Jpeg, Deflate };

    TCompactImage() = default;
    // Packs image. Pictures with transparency or few colours (icons, drawings, flat fills) are
    // kept losslessly; photo-like ones as a JPEG of full chroma at high quality, which looks
    // the same at thumbnail size and takes about a sixth of the pixels' size. A null image,
    // or one that cannot be packed, gives an empty one.
    explicit TCompactImage(const QImage &image);

    bool IsEmpty() const { return FKind == TKind::Empty; }
    TKind Kind() const { return FKind; }
    // Heap bytes held.
    std::size_t Bytes() const { return std::size_t(FData.capacity()); }

    // The picture again: Format_ARGB32 when it was kept losslessly (every pixel as it was
    // given, in ARGB32), Format_RGB32 from a JPEG. Always the same pixels for the same object.
    // A null image when empty.
    QImage ToImage() const;

private:
    TKind FKind = TKind::Empty;
    int FWidth = 0;
    int FHeight = 0;
    QByteArray FData;
};
