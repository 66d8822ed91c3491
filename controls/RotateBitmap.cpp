#include "RotateBitmap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Exceptions.h"

using namespace rotation;

namespace {

// Everything one band of the fill needs; pixels are addressed in the bottom-up sense of the
// rotation, so source row v (from the bottom) is image row H-1-v.
struct TRotationJob {
    const std::uint32_t *srcBottom; // first pixel of the source's bottom row
    std::ptrdiff_t srcStride;       // in pixels
    std::uint32_t *dst;
    std::ptrdiff_t dstStride;
    std::int32_t W, H, W2, H2, cx, cy, hw, hh, S, C;
    std::uint32_t background;
};

// Tiles keep the source reads of a steep angle within a few hundred kilobytes.
constexpr int TileRows = 64;
constexpr int TileCols = 64;

void FillRows(const TRotationJob &j, int rowBegin, int rowEnd) {
    // Locals, so that the compiler need not reload them after every pixel store.
    const std::uint32_t *const srcBottom = j.srcBottom;
    const std::ptrdiff_t srcStride = j.srcStride;
    const std::uint32_t uW = std::uint32_t(j.W), uH = std::uint32_t(j.H);
    const std::int32_t S = j.S, C = j.C, hw = j.hw, hh = j.hh, W2 = j.W2;
    const std::uint32_t stepU = std::uint32_t(C), stepV = std::uint32_t(S);
    const std::uint32_t background = j.background;
    for (int r0 = rowBegin; r0 < rowEnd; r0 += TileRows) {
        const int r1 = std::min(r0 + TileRows, rowEnd);
        for (int c0 = 0; c0 < W2; c0 += TileCols) {
            const int c1 = std::min(c0 + TileCols, W2);
            const std::int32_t x0 = c0 - (W2 - 1) + j.cx;
            for (int r = r0; r < r1; ++r) {
                // Image row r is row H2-1-r from the bottom, so y = (H2-1-r) - (H2-1) + cy.
                const std::int32_t y = j.cy - r;
                const std::int32_t yS = y * S, yC = y * C;
                // Stepping in unsigned arithmetic: the value after the last column may lie
                // outside the range checked beforehand and must not count as an overflow.
                std::uint32_t uf = std::uint32_t(x0 * C - yS);
                std::uint32_t vf = std::uint32_t(x0 * S + yC);
                std::uint32_t *out = j.dst + std::ptrdiff_t(r) * j.dstStride + c0;
                std::uint32_t *const end = out + (c1 - c0);
                for (; out != end; ++out) {
                    const std::uint32_t u = std::uint32_t((std::int32_t(uf) >> 16) + hw);
                    const std::uint32_t v = std::uint32_t((std::int32_t(vf) >> 16) + hh);
                    *out = (u < uW && v < uH)
                               ? srcBottom[std::ptrdiff_t(u) - std::ptrdiff_t(v) * srcStride]
                               : background;
                    uf += stepU;
                    vf += stepV;
                }
            }
        }
    }
}

// Raises EIntOverflow when any intermediate of the per-pixel arithmetic would leave 32 bits.
// Every term is linear in x or y, so its extremes lie at the corners of the coordinate range.
void CheckPixelArithmetic(const TRotationJob &j) {
    if (j.W2 <= 0 || j.H2 <= 0)
        return;
    const std::int64_t xs[2] = {std::int64_t(j.cx) - j.W2 + 1, j.cx};
    const std::int64_t ys[2] = {std::int64_t(j.cy) - j.H2 + 1, j.cy};
    for (std::int64_t x : xs)
        for (std::int64_t y : ys) {
            Fit32(x);
            Fit32(y);
            const std::int64_t u = Fit32(Fit32(x * j.C) - std::int64_t(Fit32(y * j.S)));
            const std::int64_t v = Fit32(Fit32(x * j.S) + std::int64_t(Fit32(y * j.C)));
            Fit32((u >> 16) + j.hw);
            Fit32((v >> 16) + j.hh);
        }
}

// Below this many destination pixels a second thread costs more than it saves.
constexpr std::int64_t MinPixelsPerThread = 1 << 17;
constexpr int MaxThreads = 64;

void RunJob(const TRotationJob &job, int threads) {
    int n = threads;
    if (n <= 0) {
        n = int(std::max(1u, std::thread::hardware_concurrency()));
        n = int(std::min<std::int64_t>(
            n, std::max<std::int64_t>(1, std::int64_t(job.W2) * job.H2 / MinPixelsPerThread)));
    }
    n = std::clamp(n, 1, std::min(job.H2, MaxThreads));
    std::vector<std::thread> workers;
    std::vector<std::pair<int, int>> inline_bands;
    auto band = [&](int k) {
        return std::pair<int, int>(int(std::int64_t(job.H2) * k / n),
                                   int(std::int64_t(job.H2) * (k + 1) / n));
    };
    for (int k = 1; k < n; ++k) {
        const auto [b, e] = band(k);
        try {
            workers.emplace_back([&job, b, e] { FillRows(job, b, e); });
        } catch (const std::system_error &) {
            inline_bands.push_back({b, e}); // no thread to be had: do that band here
        }
    }
    const auto [b0, e0] = band(0);
    FillRows(job, b0, e0);
    for (const auto &[b, e] : inline_bands)
        FillRows(job, b, e);
    for (std::thread &t : workers)
        t.join();
}

} // namespace

std::unique_ptr<TBitmap> RotateBitmap(const TBitmap &source, TColor backgroundColor,
                                      long double angle, int threads) {
    RequireFiniteAngle(angle);
    const std::uint32_t c = std::uint32_t(ColorToRGB(backgroundColor));
    // Blue, green, red in memory order, then the colour's flag byte.
    const std::uint32_t background =
        (c & 0xFF000000u) | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);

    const long double a = NormalizeAngle(angle);
    const long double theta = Radians(a);
    const std::int32_t S = std::int32_t(std::sin(theta) * 65536.0L);
    const std::int32_t C = std::int32_t(std::cos(theta) * 65536.0L);

    const std::int32_t W = source.Width(), H = source.Height();
    const std::int32_t absC = std::abs(C), absS = std::abs(S);
    const std::int32_t W2 = CheckedAdd(CheckedMul(absC, W), CheckedMul(absS, H)) >> 16;
    const std::int32_t H2 = CheckedAdd(CheckedMul(absS, W), CheckedMul(absC, H)) >> 16;
    const TCentre centre = CentreOf(W2, H2, a);
    CheckedMul(CheckedMul(W, H), 4);
    CheckedMul(CheckedMul(W2, H2), 4);

    TRotationJob job{};
    job.W = W;
    job.H = H;
    job.W2 = W2;
    job.H2 = H2;
    job.cx = centre.cx;
    job.cy = centre.cy;
    job.hw = W / 2;
    job.hh = H / 2;
    job.S = S;
    job.C = C;
    job.background = background;
    CheckPixelArithmetic(job);

    if (W <= 0 || H <= 0)
        return std::make_unique<TBitmap>(); // nothing to turn
    // A thin picture can turn into a bitmap with no area, which cannot be made; saying so
    // beats handing back an empty bitmap that silently shows nothing.
    if (W2 <= 0 || H2 <= 0)
        throw EInvalidGraphic("Cannot create a bitmap of " + std::to_string(W2) + " x " +
                              std::to_string(H2) + " pixels: the turned picture has no area");

    QImage src = source.Image();
    if (src.depth() != 32 && !src.isNull())
        src = src.convertToFormat(QImage::Format_RGB32);
    QImage dst = NewImageRGB32(W2, H2);
    if (dst.isNull())
        throw MakeOutOfMemory();

    const auto *srcBits = reinterpret_cast<const std::uint32_t *>(src.constBits());
    job.srcStride = src.isNull() ? 0 : src.bytesPerLine() / 4;
    job.srcBottom = srcBits ? srcBits + std::ptrdiff_t(H - 1) * job.srcStride : nullptr;
    job.dst = reinterpret_cast<std::uint32_t *>(dst.bits());
    job.dstStride = dst.bytesPerLine() / 4;
    RunJob(job, threads);

    auto result = std::make_unique<TBitmap>(dst);
    result->SetPixelFormat(TPixelFormat::pf32bit);
    return result;
}

void MapToRotated(QPoint *points, int highIndex, long double angle, int pictureWidth,
                  int pictureHeight, int rotatedWidth, int rotatedHeight) {
    if (highIndex < 0)
        return;
    RequireFiniteAngle(angle);
    const long double a = NormalizeAngle(angle);
    const long double theta = Radians(a);
    const long double sn = std::sin(theta), cs = std::cos(theta);
    const TCentre centre = CentreOf(rotatedWidth, rotatedHeight, a);
    const std::int32_t hw = pictureWidth / 2, hh = pictureHeight / 2;
    for (int i = 0; i <= highIndex; ++i) {
        // y grows downwards here and upwards in the rotation; the same formula then gives
        // the same visual turn.
        const long double dx = CheckedSub(points[i].x(), hw);
        const long double dy = CheckedSub(points[i].y(), hh);
        points[i] = QPoint(CheckedAdd(RoundHalfEven(dx * cs - dy * sn), centre.cx),
                           CheckedAdd(RoundHalfEven(dx * sn + dy * cs), centre.cy));
    }
}
