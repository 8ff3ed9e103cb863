#include "PsdVectorMask.h"

#include "PsdEffects.h"

#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace psd {

namespace {

constexpr int kRecordBytes = 26;
// More knots than any drawn shape needs; the rest are ignored.
constexpr int kMaxKnots = 200000;
// Rows of the layer drawn at a time.
constexpr int kBandRows = 256;

enum Selector : quint16 {
    ClosedLength = 0,
    ClosedLinked = 1,
    ClosedUnlinked = 2,
    OpenLength = 3,
    OpenLinked = 4,
    OpenUnlinked = 5,
    FillRule = 6,
    Clipboard = 7,
    InitialFill = 8,
};

struct Knot
{
    QPointF before, anchor, after;
};

void addSubpath(QPainterPath &path, const std::vector<Knot> &knots, bool closed)
{
    if (knots.empty()) return;
    path.moveTo(knots.front().anchor);
    for (size_t i = 1; i < knots.size(); ++i)
        path.cubicTo(knots[i - 1].after, knots[i].before, knots[i].anchor);
    if (closed && knots.size() > 1)
        path.cubicTo(knots.back().after, knots.front().before, knots.front().anchor);
    path.closeSubpath();
}

} // namespace

PsdVectorMask PsdVectorMask::fromBlock(const QByteArray &block, QSize document)
{
    PsdVectorMask m;
    if (block.size() < 8 || document.isEmpty()) return m;
    const auto *p = reinterpret_cast<const uchar *>(block.constData());
    const quint32 flags = qFromBigEndian<quint32>(p + 4);
    m.m_inverted = flags & 1;
    m.m_disabled = flags & 4;
    m.m_path.setFillRule(Qt::WindingFill);
    const auto point = [&](const uchar *at) {
        // Vertical first, then horizontal; eight bits of integer, 24 of fraction.
        const double y = qint32(qFromBigEndian<quint32>(at)) / double(1 << 24);
        const double x = qint32(qFromBigEndian<quint32>(at + 4)) / double(1 << 24);
        return QPointF(x * document.width(), y * document.height());
    };

    std::vector<Knot> knots;
    bool closed = true;
    int expected = 0, total = 0;
    const int records = (block.size() - 8) / kRecordBytes;
    for (int i = 0; i < records && total < kMaxKnots; ++i) {
        const uchar *r = p + 8 + i * kRecordBytes;
        const quint16 selector = qFromBigEndian<quint16>(r);
        switch (selector) {
        case ClosedLength:
        case OpenLength:
            addSubpath(m.m_path, knots, closed);
            knots.clear();
            closed = selector == ClosedLength;
            expected = qFromBigEndian<quint16>(r + 2);
            break;
        case ClosedLinked:
        case ClosedUnlinked:
        case OpenLinked:
        case OpenUnlinked:
            if (int(knots.size()) < expected) {
                knots.push_back({point(r + 2), point(r + 10), point(r + 18)});
                ++total;
            }
            break;
        case InitialFill:
            m.m_startsFilled = qFromBigEndian<quint16>(r + 2) != 0;
            break;
        default:
            break;
        }
    }
    addSubpath(m.m_path, knots, closed);
    m.m_valid = true;
    return m;
}

void PsdVectorMask::apply(const QRect &window, uchar *pixels) const
{
    if (!isEnabled() || window.isEmpty()) return;
    // Drawn in bands, so that no buffer grows with the layer; a feathered mask is drawn
    // wider by the feather and blurred.
    const int reach = int(std::lround(m_feather));
    const bool outside = showsOutside();
    for (int top = 0; top < window.height(); top += kBandRows) {
        const QRect band(window.x(), window.y() + top, window.width(),
                         std::min(kBandRows, window.height() - top));
        const QRect wide = band.adjusted(-reach, -reach, reach, reach);
        QImage coverage(wide.size(), QImage::Format_ARGB32_Premultiplied);
        if (coverage.isNull()) return;
        coverage.fill(0);
        {
            QPainter painter(&coverage);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(-wide.topLeft());
            painter.fillPath(m_path, Qt::white);
        }
        std::vector<float> plane(size_t(wide.width()) * size_t(wide.height()));
        for (int y = 0; y < wide.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(coverage.constScanLine(y));
            for (int x = 0; x < wide.width(); ++x)
                plane[size_t(y) * size_t(wide.width()) + size_t(x)] = qAlpha(line[x]);
        }
        boxBlur(plane, wide.width(), wide.height(), reach);
        for (int y = 0; y < band.height(); ++y) {
            const float *line =
                plane.data() + size_t(y + reach) * size_t(wide.width()) + size_t(reach);
            uchar *px = pixels + size_t(top + y) * size_t(window.width()) * 4;
            for (int x = 0; x < window.width(); ++x, px += 4) {
                const int a = std::clamp(int(std::lround(line[x])), 0, 255);
                int c = outside ? 255 - a : a;
                c = 255 - ((255 - c) * m_density + 127) / 255;
                px[3] = uchar((px[3] * c + 127) / 255);
            }
        }
    }
}

} // namespace psd
