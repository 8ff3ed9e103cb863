// Scroll bars, the skinned slider and spin boxes.
#include "skin/VuSkinStyle.h"

#include "skin/VuSkinOption.h"
#include "skin/VuStyleHelper.h"
#include "skin/VuStyleOptions.h"

#include <QPainter>
#include <QPainterPath>

#include <climits>

namespace skin {

namespace {

int scaled(int value)
{
    return qRound(dpiScaled(value));
}

// The handle's length: the visible share of the range, at least the style's minimum (also
// for ranges so large that the share means nothing), at most the groove. 64-bit arithmetic:
// a range over the whole int span must not overflow.
int scrollBarHandleLength(const QStyleOptionSlider *opt, int length, int minimumLength)
{
    const qint64 range = qint64(opt->maximum) - opt->minimum;
    if (range == 0) return length;
    const qint64 total = range + opt->pageStep;
    if (total <= 0) return length;
    qint64 handle = qint64(length) * opt->pageStep / total;
    if (handle < minimumLength || range >= (qint64(1) << 30)) handle = minimumLength;
    return int(qBound<qint64>(0, handle, length));
}

// Qt's own mapping, except for ranges wider than int can hold, where it overflows.
int scrollBarHandlePosition(const QStyleOptionSlider *opt, int span)
{
    const qint64 range = qint64(opt->maximum) - opt->minimum;
    if (range <= INT_MAX)
        return QStyle::sliderPositionFromValue(opt->minimum, opt->maximum, opt->sliderPosition,
                                               span, opt->upsideDown);
    if (span <= 0) return 0;
    const qint64 value = qBound<qint64>(opt->minimum, opt->sliderPosition, opt->maximum);
    const qint64 offset = opt->upsideDown ? opt->maximum - value : value - opt->minimum;
    return int(double(offset) * span / double(range));
}

} // namespace

QRect VuSkinStyle::subControlRect_VuScrollBar(ComplexControl cc, const QStyleOptionComplex *opt,
                                              SubControl sc, const QWidget *w) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(opt);
    if (!bar) return QProxyStyle::subControlRect(cc, opt, sc, w);

    const QRect r = bar->rect;
    const bool horizontal = bar->orientation == Qt::Horizontal;
    const int length = horizontal ? r.width() : r.height();
    const int handle =
        scrollBarHandleLength(bar, length, proxy()->pixelMetric(PM_ScrollBarSliderMin, bar, w));
    const int position = scrollBarHandlePosition(bar, length - handle);

    int from = 0, span = 0;
    switch (sc) {
    case SC_ScrollBarSubPage:
        span = position;
        break;
    case SC_ScrollBarAddPage:
        from = position + handle;
        span = length - from;
        break;
    case SC_ScrollBarSlider:
        from = position;
        span = handle;
        break;
    case SC_ScrollBarGroove:
        span = length;
        break;
    default:
        return QRect(); // no step buttons
    }
    const QRect logical = horizontal ? QRect(r.left() + from, r.top(), span, r.height())
                                     : QRect(r.left(), r.top() + from, r.width(), span);
    return visualRect(bar->direction, r, logical);
}

void VuSkinStyle::drawComplexControl_VuScrollBar(const QStyleOptionSlider *opt, QPainter *p,
                                                 const QWidget *w) const
{
    if (!opt) return;
    const QColor track(0xF1, 0xF1, 0xF1);
    p->save();
    for (SubControl sc : {SC_ScrollBarSubPage, SC_ScrollBarAddPage, SC_ScrollBarSlider}) {
        if (opt->subControls & sc)
            p->fillRect(proxy()->subControlRect(CC_ScrollBar, opt, sc, w), track);
    }
    if (opt->subControls & SC_ScrollBarSlider) {
        // The pill turns hovered or pressed only when the handle itself is.
        const bool onHandle = opt->activeSubControls & SC_ScrollBarSlider;
        QColor pill(0xCF, 0xCF, 0xCF);
        if (onHandle && (opt->state & State_Sunken))
            pill = QColor(0xA0, 0xA0, 0xA0);
        else if (onHandle && (opt->state & State_MouseOver))
            pill = QColor(0xBE, 0xBE, 0xBE);

        const int inset = scaled(3);
        const bool horizontal = opt->orientation == Qt::Horizontal;
        const QRectF handle =
            QRectF(proxy()->subControlRect(CC_ScrollBar, opt, SC_ScrollBarSlider, w))
                .adjusted(horizontal ? 0 : inset, horizontal ? inset : 0, horizontal ? 0 : -inset,
                          horizontal ? -inset : 0);
        const qreal t = horizontal ? handle.height() : handle.width();
        // The body and its two half-discs are one shape: filled separately, their
        // antialiased edges would meet in a lighter seam.
        QPainterPath shape;
        shape.addRoundedRect(handle, t / 2, t / 2);
        p->setRenderHint(QPainter::Antialiasing, true);
        p->fillPath(shape, pill);
    }
    p->restore();
}

void VuSkinStyle::drawComplexControl_VuSlider(const VuStyleOptionSlider *opt, QPainter *p,
                                              const QWidget *w) const
{
    if (!opt) return;
    const QRect r = opt->rect;
    const int grooveHeight = scaled(opt->grooveThickness);
    const int grooveWidth = r.width() - scaled(6);
    const QRectF groove(r.left() + (r.width() - grooveWidth) / 2.0,
                        r.top() + (r.height() - grooveHeight) / 2.0, grooveWidth, grooveHeight);

    // The base style places the handle; it knows the record as Qt's slider record.
    const QStyleOptionSlider slider = asQtRecord<QStyleOptionSlider>(*opt);
    const QPoint centre =
        QProxyStyle::subControlRect(CC_Slider, &slider, SC_SliderHandle, w).center() - QPoint(1, 0);
    const QSize handleSize(scaled(opt->handleSize.width()), scaled(opt->handleSize.height()));
    QRect handle(QPoint(0, 0), handleSize);
    handle.moveCenter(centre);
    if (handle.x() == 0) handle.moveLeft(1);
    const qreal handleX = handle.left() + handle.width() / 2.0;

    const bool enabled = opt->state & State_Enabled;
    const bool hovered = opt->state & State_MouseOver;
    const bool pressed = opt->state & State_Sunken;
    const QRectF left(groove.left(), groove.top(), handleX - groove.left(), groove.height());
    const QRectF right(handleX, groove.top(), groove.right() - handleX, groove.height());

    p->save();
    p->setRenderHint(QPainter::Antialiasing, true);
    p->setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (const VuSkinOptionPeSlider *skin = opt->skinOption) {
        p->setPen(Qt::NoPen);
        if (opt->centerMark) {
            const qreal x = groove.center().x();
            p->setBrush(skin->rightBg());
            p->drawRoundedRect(QRectF(QPointF(x - 1, scaled(2)), QPointF(x + 2, groove.top())), 25,
                               25, Qt::RelativeSize);
        }
        p->setBrush(enabled ? skin->leftBg() : skin->leftBgDisabled());
        p->drawRoundedRect(left, 25, 25, Qt::RelativeSize);
        p->setBrush(enabled ? skin->rightBg() : skin->rightBgDisabled());
        p->drawRoundedRect(right, 25, 25, Qt::RelativeSize);

        QColor border = skin->sliderbd(), fill = skin->sliderbg();
        if (hovered) border = skin->sliderbdhover(), fill = skin->sliderbghover();
        if (pressed) border = skin->sliderbddown(), fill = skin->sliderbgdown();
        if (!enabled) border = skin->sliderbdDisabled(), fill = skin->sliderbgDisabled();
        QPen pen(border);
        pen.setCapStyle(Qt::SquareCap);
        p->setPen(pen);
        p->setBrush(fill);
        const qreal radius = handle.width() / 2.0;
        p->drawRoundedRect(QRectF(handle), radius, radius);
    } else {
        p->fillRect(left, QColor(0x22, 0x85, 0xEA));
        p->fillRect(right, QColor(0xBF, 0xC0, 0xC5));
        QColor border(0xBF, 0xC0, 0xC5), fill(Qt::white);
        if (enabled) border = QColor(0x22, 0x85, 0xEA);
        if (hovered) border = QColor(0x5B, 0x88, 0xE3), fill = QColor(0xF1, 0xF7, 0xFB);
        if (pressed) border = QColor(0x5B, 0x88, 0xE3), fill = QColor(0xD5, 0xE6, 0xF5);
        p->setPen(border);
        p->setBrush(fill);
        p->drawEllipse(QRectF(handle));
    }
    p->restore();
}

void VuSkinStyle::drawComplexControl_VuSpinBox(const QStyleOptionSpinBox *opt, QPainter *p,
                                               const QWidget *w) const
{
    if (!opt) return;
    const bool enabled = opt->state & State_Enabled;
    p->save();
    // The buttons' fills reach 2 pixels up and 1 right and down; they stop at the frame line,
    // so they meet it alike on every side and never paint outside the control.
    QRect buttonArea = opt->rect;
    if (opt->frame && (opt->subControls & SC_SpinBoxFrame)) {
        const QRect frame =
            proxy()->subControlRect(CC_SpinBox, opt, SC_SpinBoxFrame, w).adjusted(0, 0, -1, -1);
        p->setPen(QColor(0xCC, 0xCC, 0xCC));
        p->setBrush(enabled ? QBrush(Qt::NoBrush) : QBrush(QColor(0xF0, 0xF0, 0xF0)));
        p->drawRect(frame);
        buttonArea = frame.adjusted(1, 1, 0, 0);
    }

    struct Button
    {
        SubControl sc;
        QAbstractSpinBox::StepEnabledFlag step;
        PrimitiveElement arrow, sign;
    };
    const Button buttons[] = {
        {SC_SpinBoxUp, QAbstractSpinBox::StepUpEnabled, PE_IndicatorSpinUp, PE_IndicatorSpinPlus},
        {SC_SpinBoxDown, QAbstractSpinBox::StepDownEnabled, PE_IndicatorSpinDown,
         PE_IndicatorSpinMinus},
    };
    for (const Button &button : buttons) {
        if (!(opt->subControls & button.sc)) continue;
        QStyleOptionSpinBox copy = *opt;
        const bool pressed = opt->activeSubControls == button.sc && (opt->state & State_Sunken);
        if (pressed)
            copy.state |= State_Sunken | State_On;
        else
            copy.state = (copy.state & ~State_Sunken) | State_Raised;
        const bool stepEnabled = opt->stepEnabled & button.step;
        if (!stepEnabled) copy.state &= ~State_Enabled;

        const QRect rect = proxy()->subControlRect(CC_SpinBox, opt, button.sc, w);
        const QColor fill = pressed ? QColor(0xE8, 0xF3, 0xFD) : QColor(0xDB, 0xDB, 0xDA);
        p->save();
        p->setClipRect(buttonArea, Qt::IntersectClip);
        if (button.sc == SC_SpinBoxUp) {
            p->fillRect(rect.adjusted(0, -2, 1, 0), fill);
        } else {
            p->fillRect(rect.adjusted(0, 0, 1, 1), fill);
            p->setPen(QColor(0xB9, 0xBA, 0xB9));
            p->drawLine(rect.topLeft(), rect.topRight() + QPoint(1, 0));
        }
        p->restore();

        copy.rect = rect.adjusted(2, 12, -1, -12);
        const PrimitiveElement pe =
            opt->buttonSymbols == QAbstractSpinBox::PlusMinus ? button.sign : button.arrow;
        if ((!enabled || !stepEnabled) && proxy()->styleHint(SH_EtchDisabledText, opt, w)) {
            QStyleOptionSpinBox etched = copy;
            etched.rect.translate(1, 1);
            etched.palette.setColor(QPalette::ButtonText, opt->palette.color(QPalette::Light));
            proxy()->drawPrimitive(pe, &etched, p, w);
        }
        copy.palette.setColor(QPalette::ButtonText, QColor(0x46, 0x56, 0x67));
        proxy()->drawPrimitive(pe, &copy, p, w);
    }
    p->restore();
}

} // namespace skin
