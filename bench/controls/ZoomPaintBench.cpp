// Paints of the viewer's zoom over a 24-megapixel picture on a 3840 x 2160 view, at 100 %,
// enlarged and reduced, for a still view and while it moves (each frame drawn anew). Prints
// milliseconds a frame: panning stays smooth while a frame takes well under 16 ms.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ZoomImage.h"

namespace {

constexpr int W = 6000, H = 4000;

double BestMs(int runs, const auto &f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f(i);
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char **argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QImage picture(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < W; ++x)
            line[x] = qRgb(x & 255, y & 255, (x ^ y) & 255);
    }
    TZoomImage view;
    view.resize(3840, 2160);
    QPixmap target(view.size());
    // The floor under every figure: copying the view's worth of pixels out of the picture and
    // drawing it, with no zoom at all.
    const QRect viewRect(0, 0, 3840, 2160);
    const double copy = BestMs(5, [&](int i) {
        QPainter painter(&target);
        painter.drawImage(0, 0, picture.copy(viewRect.translated(i, 0)));
    });
    std::printf("zoomed paint of a %d x %d picture on a 3840 x 2160 view, ms a frame:\n", W, H);
    std::printf("  plain copy and draw: %6.1f\n", copy);
    for (double scale : {1.0, 3.0, 2.0 / 3}) {
        view.SetPicture(picture, TZoomView{scale, {0.5, 0.5}});
        const double still = BestMs(5, [&](int) { view.render(&target); });
        const double moving = BestMs(5, [&](int i) {
            view.SetPicture(picture, TZoomView{scale, {0.4 + 0.01 * i, 0.5}});
            view.render(&target);
        });
        std::printf("  %5.0f %%: still %6.1f, moving %6.1f\n", scale * 100, still, moving);
    }
    return 0;
}
