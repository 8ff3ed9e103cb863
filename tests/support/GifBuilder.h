#pragma once

// Writes GIF files for tests and benchmarks: whole animations through giflib's encoder,
// and hand-made byte streams for the cases an encoder refuses to write.

#include <QByteArray>
#include <QRect>
#include <QRgb>
#include <QVector>
#include <QtEndian>

#include <gif_lib.h>

#include <cstring>

namespace giftest {

struct Frame
{
    QRect rect;
    QByteArray indices;    // rect.width() * rect.height() palette indices, row by row
    QVector<QRgb> palette; // local palette; empty uses the global one
    int delayCs = 10;
    int disposal = 1;
    int transparent = -1;
    bool interlaced = false;
};

struct Animation
{
    QSize screen;
    QVector<QRgb> palette; // global palette; up to 256 colours
    int background = 0;
    int loopCount = -1; // -1: no NETSCAPE2.0 block
    QVector<Frame> frames;
};

inline Frame solid(const QRect &rect, uchar index, int disposal = 1, int delayCs = 10)
{
    Frame f;
    f.rect = rect;
    f.indices = QByteArray(rect.width() * rect.height(), char(index));
    f.disposal = disposal;
    f.delayCs = delayCs;
    return f;
}

// The benchmark's kind of animation: 256 colours, a full first frame, then a sprite that
// moves around, left in place (disposal 1), cleared to the background (2) or undone (3) in
// turn, with a transparent band; every 25th frame repaints the whole screen.
inline Animation movingSprite(QSize screen, QSize sprite, int frames)
{
    Animation a;
    a.screen = screen;
    for (int i = 0; i < 256; ++i)
        a.palette << qRgb(i, (i * 7) & 0xff, 255 - i);
    a.background = 0;
    a.loopCount = 0;
    const int roomX = qMax(screen.width() - sprite.width(), 1);
    const int roomY = qMax(screen.height() - sprite.height(), 1);
    for (int f = 0; f < frames; ++f) {
        Frame frame;
        frame.rect = f % 25 == 0 ? QRect(QPoint(0, 0), screen)
                                 : QRect(QPoint((f * 37) % roomX, (f * 23) % roomY), sprite);
        frame.disposal = f % 25 == 0 ? 1 : 1 + f % 3;
        frame.delayCs = 4;
        frame.transparent = f % 25 == 0 ? -1 : 255;
        frame.indices.resize(frame.rect.width() * frame.rect.height());
        for (int y = 0; y < frame.rect.height(); ++y) {
            char *row = frame.indices.data() + y * frame.rect.width();
            for (int x = 0; x < frame.rect.width(); ++x) {
                const int band = ((x + f * 3) / 20 + y / 30) % 12;
                row[x] = char(band == 0 ? 255 : (x / 4 + y / 3 + f) % 255);
            }
        }
        a.frames << frame;
    }
    return a;
}

namespace detail {
inline int writeTo(GifFileType *file, const GifByteType *bytes, int length)
{
    static_cast<QByteArray *>(file->UserData)
        ->append(reinterpret_cast<const char *>(bytes), length);
    return length;
}

inline ColorMapObject *mapOf(const QVector<QRgb> &palette)
{
    if (palette.isEmpty()) return nullptr;
    int size = 2;
    while (size < palette.size())
        size *= 2;
    QVector<GifColorType> colours(size);
    for (int i = 0; i < palette.size(); ++i)
        colours[i] = {GifByteType(qRed(palette[i])), GifByteType(qGreen(palette[i])),
                      GifByteType(qBlue(palette[i]))};
    return GifMakeMapObject(size, colours.data());
}

// The rows of a frame in the order an interlaced frame stores them.
inline QVector<int> rowOrder(int height, bool interlaced)
{
    QVector<int> rows;
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows << y;
        return rows;
    }
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            rows << y;
    return rows;
}
} // namespace detail

inline QByteArray encode(const Animation &a)
{
    QByteArray out;
    int error = 0;
    GifFileType *file = EGifOpen(&out, detail::writeTo, &error);
    if (!file) return QByteArray();
    EGifSetGifVersion(file, true);
    ColorMapObject *global = detail::mapOf(a.palette);
    bool ok = EGifPutScreenDesc(file, a.screen.width(), a.screen.height(), 8, a.background,
                                global) != GIF_ERROR;
    if (a.loopCount >= 0 && ok) {
        const GifByteType app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        const GifByteType loop[] = {1, GifByteType(a.loopCount & 0xff),
                                    GifByteType(a.loopCount >> 8)};
        ok = EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR &&
             EGifPutExtensionBlock(file, sizeof app, app) != GIF_ERROR &&
             EGifPutExtensionBlock(file, sizeof loop, loop) != GIF_ERROR &&
             EGifPutExtensionTrailer(file) != GIF_ERROR;
    }
    for (const Frame &f : a.frames) {
        if (!ok) break;
        const GifByteType control[4] = {
            GifByteType((f.disposal & 7) << 2 | (f.transparent >= 0 ? 1 : 0)),
            GifByteType(f.delayCs & 0xff), GifByteType(f.delayCs >> 8),
            GifByteType(f.transparent >= 0 ? f.transparent : 0)};
        ColorMapObject *local = detail::mapOf(f.palette);
        // The encoder forgets its copy of a local palette when the next frame has none.
        GifFreeMapObject(file->Image.ColorMap);
        file->Image.ColorMap = nullptr;
        ok = EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR &&
             EGifPutImageDesc(file, f.rect.x(), f.rect.y(), f.rect.width(), f.rect.height(),
                              f.interlaced, local) != GIF_ERROR;
        GifFreeMapObject(local);
        QByteArray row(f.rect.width(), 0);
        for (int y : detail::rowOrder(f.rect.height(), f.interlaced)) {
            if (!ok) break;
            std::memcpy(row.data(), f.indices.constData() + y * f.rect.width(), size_t(row.size()));
            ok = EGifPutLine(file, reinterpret_cast<GifPixelType *>(row.data()), row.size()) !=
                 GIF_ERROR;
        }
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(global);
    return ok ? out : QByteArray();
}

// Hand-made streams: a header with a two-colour global palette, then records.
inline QByteArray header(quint16 width, quint16 height)
{
    QByteArray b("GIF89a");
    b += char(width & 0xff);
    b += char(width >> 8);
    b += char(height & 0xff);
    b += char(height >> 8);
    b += char(0x80); // global palette of 2 colours
    b += char(0);    // background index
    b += char(0);
    b += QByteArray("\x00\x00\x00\xff\xff\xff", 6);
    return b;
}

inline QByteArray descriptor(quint16 left, quint16 top, quint16 width, quint16 height)
{
    QByteArray b(1, ',');
    for (quint16 v : {left, top, width, height}) {
        b += char(v & 0xff);
        b += char(v >> 8);
    }
    b += char(0);
    return b;
}

// Image data of one pixel of colour 0 (LZW: clear, 0, end) after a 2-bit code size.
inline QByteArray tinyData()
{
    return QByteArray("\x02\x02\x44\x01\x00", 5);
}

inline QByteArray trailer()
{
    return QByteArray(1, ';');
}

} // namespace giftest
