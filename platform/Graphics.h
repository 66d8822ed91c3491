// Colours, bitmaps and pictures: the graphics objects the windows, the extractor thread and the
// picture control share. A TBitmap is a 32-bit pixel buffer (QImage, Format_RGB32: blue, green,
// red, fourth byte in memory, rows top-down).
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QPainter;

// 0x00BBGGRR; the top byte holds flags: 0xFF a system colour (low byte = its index),
// 0x02 a palette-relative colour.
using TColor = std::int32_t;

constexpr TColor SystemColor(int index) {
    return static_cast<TColor>(0xFF000000u | unsigned(index));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clBtnFace = SystemColor(15);

constexpr std::uint32_t PaletteRelativeFlag = 0x02000000u;

// A system colour (top byte 0xFF) becomes its current RGB value; any other colour, whatever
// its flag byte, is returned unchanged.
// Safe on any thread: system colours are read from a table the GUI thread keeps current.
TColor ColorToRGB(TColor color);
// Re-reads the system colours from the application palette (GUI thread).
void RefreshSystemColors();

QColor ToQColor(TColor color);          // resolves system colours; flags dropped
TColor FromQColor(const QColor &color); // 0x00BBGGRR
QRgb ToQRgb(TColor color);              // opaque 0xFFRRGGBB

// A Format_RGB32 image; large ones go on huge pages where the system offers them, because on
// some machines the first write to each fresh small page costs more than decoding or turning
// the pixels on it. Null when the memory cannot be had.
QImage NewImageRGB32(int width, int height);

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }
    virtual bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool value);
    // Stretch-draws the graphic into dest (nearest-neighbour, no smoothing).
    virtual void Draw(QPainter &painter, const QRect &dest) const = 0;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
    virtual const char *ClassName() const = 0;

    // Called after every change of the graphic (the owning TPicture hooks it).
    std::function<void()> OnChange;

protected:
    void Changed() const {
        if (OnChange)
            OnChange();
    }
    bool FTransparent = false;
};

class TBitmap : public TGraphic {
public:
    TBitmap() = default;
    TBitmap(int width, int height);
    explicit TBitmap(const QImage &image);
    TBitmap(const TBitmap &other);
    TBitmap &operator=(const TBitmap &other);

    int Width() const override { return FImage.width(); }
    int Height() const override { return FImage.height(); }
    void SetWidth(int w) { SetSize(w, Height()); }
    void SetHeight(int h) { SetSize(Width(), h); }
    // Keeps the pixels that still fit; new area is filled with the brush colour.
    void SetSize(int w, int h);

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat format) { FPixelFormat = format; }

    TColor BrushColor() const { return FBrushColor; }
    void SetBrushColor(TColor color) { FBrushColor = color; }

    // Automatic transparent colour: the bottom-left pixel with the palette-relative flag.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    bool TransparentColorIsAuto() const { return !FFixedTransparentColor; }
    void SetTransparent(bool value) override;

    void Fill(TColor color);
    void FillRect(const QRect &rect, TColor color);
    // One-pixel frame along the inside of rect.
    void FrameRect(const QRect &rect, TColor color);
    // Copies source 1:1 with its top-left corner at (x, y), clipped to this bitmap (BitBlt).
    void CopyFrom(const TBitmap &source, int x, int y);
    // Draws a graphic into rect of this bitmap (stretched, nearest-neighbour).
    void DrawGraphic(const TGraphic &graphic, const QRect &rect);

    QImage &Image() { return FImage; }
    const QImage &Image() const { return FImage; }
    void Modified() {
        ++FGeneration;
        Changed();
    }

    void Draw(QPainter &painter, const QRect &dest) const override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TBitmap>(*this); }
    const char *ClassName() const override { return "TBitmap"; }

private:
    QImage FImage;
    TPixelFormat FPixelFormat = TPixelFormat::pf32bit;
    TColor FBrushColor = clWhite;
    TColor FTransparentColor = 0;
    bool FFixedTransparentColor = false;
    std::uint64_t FGeneration = 0;
    // Draw caches the picture with the transparent colour keyed out (or the fourth byte made
    // opaque) so repeated paints do not redo it.
    mutable QImage FDrawCache;
    mutable std::uint64_t FDrawCacheGeneration = ~0ull;
};

// A decoded JPEG picture (libjpeg, full size, RGB).
class TJPEGImage : public TGraphic {
public:
    TJPEGImage() = default;
    void LoadFromImage(const QImage &image) {
        FImage = image;
        Changed();
    }
    int Width() const override { return FImage.width(); }
    int Height() const override { return FImage.height(); }
    const QImage &Image() const { return FImage; }
    void Draw(QPainter &painter, const QRect &dest) const override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TJPEGImage>(*this); }
    const char *ClassName() const override { return "TJPEGImage"; }

private:
    QImage FImage;
};

// A file icon; it draws through its own mask.
class TIcon : public TGraphic {
public:
    TIcon() = default;
    TIcon(const QIcon &icon, int size);
    int Width() const override { return FSize; }
    int Height() const override { return FIcon.isNull() ? 0 : FSize; }
    bool Transparent() const override { return true; }
    const QIcon &Icon() const { return FIcon; }
    void Draw(QPainter &painter, const QRect &dest) const override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TIcon>(*this); }
    const char *ClassName() const override { return "TIcon"; }

private:
    QIcon FIcon;
    int FSize = 0;
};

// Holds one graphic (or none); assigning copies. OnChange runs after every change of the
// picture or of its graphic.
class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture &) = delete;
    TPicture &operator=(const TPicture &) = delete;

    TGraphic *Graphic() const { return FGraphic.get(); }
    void SetGraphic(const TGraphic *graphic); // copies; null clears
    void Assign(const TPicture &other) { SetGraphic(other.Graphic()); }
    void Clear() { SetGraphic(nullptr); }
    int Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int Height() const { return FGraphic ? FGraphic->Height() : 0; }

    std::function<void()> OnChange;

private:
    void Adopt(std::unique_ptr<TGraphic> graphic);
    void Changed() {
        if (OnChange)
            OnChange();
    }
    std::unique_ptr<TGraphic> FGraphic;
};
