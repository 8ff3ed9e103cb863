#pragma once

// Large pictures for the benchmarks, made once per folder.

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>

// A photograph-like JPEG (gradients and shapes, so the codec has real work) of the given
// size in `folder`; an existing one is reused.
inline QString benchJpeg(const QString &folder, const QSize &size)
{
    const QString path =
        QStringLiteral("%1/bench-%2x%3.jpg").arg(folder).arg(size.width()).arg(size.height());
    if (QFile::exists(path)) return path;
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, size.width(), size.height());
    g.setColorAt(0, QColor(30, 90, 200));
    g.setColorAt(0.5, QColor(240, 200, 80));
    g.setColorAt(1, QColor(20, 120, 40));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 400; ++i) {
        p.setBrush(QColor::fromHsv((i * 37) % 360, 180, 220));
        p.drawEllipse(QPoint((i * 7919) % size.width(), (i * 104729) % size.height()),
                      size.width() / 40, size.height() / 40);
    }
    p.end();
    image.save(path, "JPEG", 90);
    return path;
}
