// The skinned tool button, the window shadow and the small drawing helpers they share.
#include "skin/VuSkinStyle.h"

#include "skin/VuStyleOptions.h"

#include <QPainter>

namespace skin {

void VuSkinStyle::drawComplexControl_VuToolButton(const VuStyleOptionToolButton *opt, QPainter *p,
                                                  const QWidget *w) const
{
    if (!opt) return;
    const QRect r = opt->rect;
    p->save();
    p->setCompositionMode(QPainter::CompositionMode_Source);
    p->fillRect(r.adjusted(0, 0, -1, -1), Qt::transparent);
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QStyleOptionToolButton button = asQtRecord<QStyleOptionToolButton>(*opt);
    const int menuWidth =
        proxy()->subControlRect(CC_ToolButton, &button, SC_ToolButtonMenu, w).width();
    if (opt->arrowType != Qt::NoArrow) {
        const QColor color =
            (opt->state & State_Enabled) ? QColor(0x27, 0x88, 0xEA) : QColor(0xBF, 0xC0, 0xC5);
        const QRect strip(r.left() + r.width() - menuWidth, r.top(), menuWidth, r.height());
        const QRect arrow(strip.left() + (strip.width() - 4) / 2,
                          strip.top() + (strip.height() - 2) / 2, 4, 2);
        _drawDownArraw(p, arrow, QPen(color), QBrush(color));
    }

    if (opt->toolButtonStyle == Qt::ToolButtonTextOnly) {
        p->setFont(opt->font);
        p->setPen(opt->palette.color(QPalette::ButtonText));
        p->drawText(r.adjusted(0, 0, -menuWidth, 0), Qt::AlignCenter | Qt::TextWordWrap, opt->text);
    } else if (!opt->icon.isNull()) {
        const QRect iconRect = alignedRect(opt->direction, Qt::AlignCenter, opt->iconSize, r);
        opt->icon.paint(p, iconRect, Qt::AlignCenter,
                        (opt->state & State_Enabled) ? QIcon::Normal : QIcon::Disabled);
    }
    p->restore();
}

void VuSkinStyle::_drawDownArraw(QPainter *p, const QRect &rect, const QPen &pen,
                                 const QBrush &brush) const
{
    p->save();
    if (brush.style() == Qt::SolidPattern && brush.color() == pen.color()) {
        p->setRenderHint(QPainter::Antialiasing, false);
        p->setPen(QPen(pen.color(), 1));
        for (int i = 0; i <= rect.height(); ++i) {
            for (int x = rect.x() + i; x <= rect.x() + rect.width() - i; ++x)
                p->drawPoint(x, rect.y() + i);
        }
    } else {
        p->setPen(pen);
        p->setBrush(brush);
        const QPoint points[] = {{rect.x(), rect.y()},
                                 {rect.x() + rect.width(), rect.y()},
                                 {rect.x() + rect.width() / 2, rect.y() + rect.height()}};
        p->drawPolygon(points, 3);
    }
    p->restore();
}

void VuSkinStyle::drawPrimitive_VuShadowBorder(const VuStyleOptionShadowBorder *opt, QPainter *p,
                                               const QWidget *) const
{
    if (!opt) return;
    const QRect r = opt->rect;
    p->save();
    const int e = opt->shadowWidth < 1 ? 0 : opt->shadowWidth;
    if (opt->drawShadow && e > 0) {
        const double o = opt->opacity;
        // The ring is e wide around the window and its outermost line stays clear. Strips
        // and corner squares share no pixel, so no part of the shadow is painted twice.
        const int t = e - 1;
        const int leftX = r.left() + 1, rightX = r.right() - t; // first column of each side
        const int topY = r.top() + 1, bottomY = r.bottom() - t; // first row of each side
        const int along = r.height() - 2 * e, across = r.width() - 2 * e;
        _drawShadowBorder(p, opt->leftRamp, opt->topLeftCorner, opt->bottomLeftCorner, o,
                          QRect(leftX, r.top() + e, t, along), 30, 0);
        _drawShadowBorder(p, opt->topRamp, opt->topLeftCorner, opt->topRightCorner, o,
                          QRect(r.left() + e, topY, across, t), 30, 1);
        _drawShadowBorder(p, opt->rightRamp, opt->bottomRightCorner, opt->topRightCorner, o,
                          QRect(rightX, r.top() + e, t, along), 30, 2);
        _drawShadowBorder(p, opt->bottomRamp, opt->bottomRightCorner, opt->bottomLeftCorner, o,
                          QRect(r.left() + e, bottomY, across, t), 15, 3);
        // _drawShadowCorner fills its square moved in by 1 at the left and top.
        const auto corner = [t](int x, int y) { return QRect(x - 1, y - 1, t + 1, t + 1); };
        _drawShadowCorner(p, corner(leftX, topY), opt->topLeftCorner, o);
        _drawShadowCorner(p, corner(rightX, topY), opt->topRightCorner, o);
        _drawShadowCorner(p, corner(leftX, bottomY), opt->bottomLeftCorner, o);
        _drawShadowCorner(p, corner(rightX, bottomY), opt->bottomRightCorner, o);
    }

    const QRect outline = opt->outlineRect.adjusted(0, 0, -1, -1);
    const int x = outline.x(), y = outline.y(), w = outline.width(), h = outline.height();
    const int band = opt->bandHeight;
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setBrush(Qt::NoBrush);
    if (opt->twoToneOutline) {
        p->setPen(opt->bodyColor);
        const QPoint body[] = {{x, y + band}, {x, y + h}, {x + w, y + h}, {x + w, y + band}};
        p->drawPolyline(body, 4);
        p->setPen(opt->bandColor);
        const QPoint title[] = {{x, y + band}, {x, y}, {x + w, y}, {x + w, y + band}};
        p->drawPolyline(title, 4);
    } else if (opt->plainOutline) {
        p->setPen(opt->bandColor);
        p->drawRect(outline);
    }
    p->restore();
}

void VuSkinStyle::_drawShadowBorder(QPainter *p, const QLinearGradient &edge,
                                    const QRadialGradient &cornerA, const QRadialGradient &cornerB,
                                    double opacity, const QRect &strip, int blendLength,
                                    int side) const
{
    const bool vertical = side == 0 || side == 2;
    const int thickness = vertical ? strip.width() : strip.height();
    const int length = vertical ? strip.height() : strip.width();
    if (length <= 0 || thickness <= 0) return;
    const qreal g = qreal(blendLength) / length;
    const qreal f = qreal(length - blendLength) / length;
    if (g < 0 || g > 1 || f < 0 || f > 1) return;

    const auto faded = [opacity](QColor color) {
        color.setAlphaF(color.alphaF() * opacity);
        return color;
    };
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    for (int k = 0; k < thickness; ++k) {
        const qreal u = 1.0 - qreal(k) / thickness;
        // Each line runs from the end that meets corner A to the end that meets corner B,
        // and the gradient spans its pixels from edge to edge.
        QLine line;
        QPointF from, to;
        switch (side) {
        case 0:
            line = QLine(strip.left() + k, strip.top(), strip.left() + k, strip.bottom());
            from = QPointF(line.x1(), strip.top());
            to = QPointF(line.x1(), strip.bottom() + 1);
            break;
        case 1:
            line = QLine(strip.left(), strip.top() + k, strip.right(), strip.top() + k);
            from = QPointF(strip.left(), line.y1());
            to = QPointF(strip.right() + 1, line.y1());
            break;
        case 2:
            line = QLine(strip.right() - k, strip.bottom(), strip.right() - k, strip.top());
            from = QPointF(line.x1(), strip.bottom() + 1);
            to = QPointF(line.x1(), strip.top());
            break;
        default:
            line = QLine(strip.right(), strip.bottom() - k, strip.left(), strip.bottom() - k);
            from = QPointF(strip.right() + 1, line.y1());
            to = QPointF(strip.left(), line.y1());
            break;
        }
        QLinearGradient along(from, to);
        const QColor edgeColor = faded(_getColorFromGradient(edge, u));
        along.setStops({{0.0, faded(_getColorFromGradient(cornerA, u))},
                        {g, edgeColor},
                        {f, edgeColor},
                        {1.0, faded(_getColorFromGradient(cornerB, u))}});
        p->setPen(QPen(QBrush(along), 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
        p->drawLine(line);
    }
    p->restore();
}

void VuSkinStyle::_drawShadowCorner(QPainter *p, const QRect &square, const QRadialGradient &corner,
                                    double opacity) const
{
    QRadialGradient faded = corner;
    QGradientStops stops = corner.stops();
    for (QGradientStop &stop : stops)
        stop.second.setAlphaF(stop.second.alphaF() * opacity);
    faded.setStops(stops);
    p->save();
    p->setPen(Qt::NoPen);
    p->setBrush(faded);
    p->drawRect(square.adjusted(1, 1, 0, 0));
    p->restore();
}

QPainterPath VuSkinStyle::_getBoundPath(const QRectF &rect, qreal radius, int cornerMask) const
{
    QPainterPath path;
    if (cornerMask == 0) {
        path.addRect(rect);
        return path;
    }
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height(), r = radius;
    const bool topLeft = cornerMask & 1, topRight = cornerMask & 2;
    const bool bottomLeft = cornerMask & 4, bottomRight = cornerMask & 8;
    path.moveTo(topLeft ? x + r : x, y);
    if (topLeft) path.arcTo(QRectF(x, y, 2 * r, 2 * r), 90, 90);
    path.lineTo(x, bottomLeft ? y + h - r : y + h);
    if (bottomLeft) path.arcTo(QRectF(x, y + h - 2 * r, 2 * r, 2 * r), 180, 90);
    path.lineTo(bottomRight ? x + w - r : x + w, y + h);
    if (bottomRight) path.arcTo(QRectF(x + w - 2 * r, y + h - 2 * r, 2 * r, 2 * r), 270, 90);
    path.lineTo(x + w, topRight ? y + r : y);
    if (topRight) path.arcTo(QRectF(x + w - 2 * r, y, 2 * r, 2 * r), 0, 90);
    path.closeSubpath();
    return path;
}

QColor VuSkinStyle::_getColorFromGradient(const QGradient &gradient, qreal position) const
{
    const QGradientStops stops = gradient.stops();
    if (stops.isEmpty()) return QColor();
    int i = 0;
    while (i < stops.size() && stops.at(i).first < position)
        ++i;
    if (i == 0) return stops.first().second;
    if (i == stops.size()) return stops.last().second;
    const QGradientStop &before = stops.at(i - 1), &after = stops.at(i);
    const qreal span = after.first - before.first;
    const qreal t = span > 0 ? (position - before.first) / span : 1.0;
    QColor color = after.second;
    color.setAlphaF(before.second.alphaF() + (after.second.alphaF() - before.second.alphaF()) * t);
    return color;
}

} // namespace skin
