#pragma once

// The pictures an animation described for giftest::encode shows during playback, composed
// straight from its description: a reference that shares no code with the reader.

#include "GifBuilder.h"

#include <QImage>

namespace giftest {

struct Playback
{
    QVector<QImage> frames;     // Format_ARGB32, fully transparent where nothing was drawn
    QVector<QImage> background; // per frame: white where a restore-to-background shows through
};

inline Playback play(const Animation &a)
{
    Playback out;
    const QRect screen(QPoint(0, 0), a.screen);
    QImage canvas(a.screen, QImage::Format_ARGB32);
    canvas.fill(0);
    QImage shown(a.screen, QImage::Format_Grayscale8);
    shown.fill(0);
    QImage under, shownUnder;
    for (int j = 0; j < a.frames.size(); ++j) {
        if (j > 0) {
            const Frame &previous = a.frames[j - 1];
            const QRect r = previous.rect & screen;
            if (previous.disposal == 2) {
                for (int y = r.top(); y <= r.bottom(); ++y)
                    for (int x = r.left(); x <= r.right(); ++x) {
                        canvas.setPixel(x, y, 0); // cleared, as browsers do
                        shown.setPixel(x, y, qRgb(255, 255, 255));
                    }
            } else if (previous.disposal == 3) {
                for (int y = r.top(); y <= r.bottom(); ++y)
                    for (int x = r.left(); x <= r.right(); ++x) {
                        canvas.setPixel(x, y, under.pixel(x - r.left(), y - r.top()));
                        shown.setPixel(x, y, shownUnder.pixel(x - r.left(), y - r.top()));
                    }
            }
        }
        const Frame &f = a.frames[j];
        const QRect r = f.rect & screen;
        under = canvas.copy(r);
        shownUnder = shown.copy(r);
        const QVector<QRgb> &palette = f.palette.isEmpty() ? a.palette : f.palette;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const int index =
                    uchar(f.indices[(y - f.rect.top()) * f.rect.width() + x - f.rect.left()]);
                if (index == f.transparent || index >= palette.size()) continue;
                canvas.setPixel(x, y, palette[index] | 0xff000000u);
                shown.setPixel(x, y, qRgb(0, 0, 0));
            }
        out.frames << canvas.copy();
        out.background << shown.copy();
    }
    return out;
}

} // namespace giftest
