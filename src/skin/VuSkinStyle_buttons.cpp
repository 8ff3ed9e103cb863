// Push buttons, check boxes, radio buttons, line edits and combo boxes.
#include "skin/VuSkinStyle.h"

#include "skin/VuSkinOption.h"
#include "skin/VuStyleHelper.h"
#include "skin/VuStyleOptions.h"
#include "skin/VuWidgetContract.h"

#include <QPainter>
#include <QPainterPath>

namespace skin {

namespace wc = widgetcontract;

namespace {

int scaled(int value)
{
    return qRound(dpiScaled(value));
}

struct ButtonLook
{
    QColor background, border, text;
    QIcon::Mode iconMode = QIcon::Normal;
};

// Later states override earlier ones, so a disabled button never looks hovered.
ButtonLook buttonLook(const VuSkinOptionPushButton &skin, QStyle::State state)
{
    ButtonLook look{skin.bg(), skin.bd(), skin.tx(), QIcon::Normal};
    if (state & QStyle::State_MouseOver)
        look = {skin.bghover(), skin.bdhover(), skin.txhover(), QIcon::Active};
    if (state & (QStyle::State_Sunken | QStyle::State_On))
        look = {skin.bgclicked(), skin.bdclicked(), skin.txclicked(), QIcon::Selected};
    if (!(state & QStyle::State_Enabled))
        look = {skin.bgdisabled(), skin.bddisabled(), skin.txdisabled(), QIcon::Disabled};
    return look;
}

// An icon with no picture for `mode` shows its normal picture rather than one that Qt
// derives.
QIcon::Mode modeWithPicture(const QIcon &icon, QIcon::Mode mode)
{
    return icon.availableSizes(mode, QIcon::Off).isEmpty() ? QIcon::Normal : mode;
}

QIcon::Mode indicatorMode(QStyle::State state)
{
    if (!(state & QStyle::State_Enabled)) return QIcon::Disabled;
    if (state & QStyle::State_On) return QIcon::Selected;
    if (state & QStyle::State_MouseOver) return QIcon::Active;
    return QIcon::Normal;
}

} // namespace

void VuSkinStyle::drawControl_VuPushButton(const VuStyleOptionPushButton *opt, QPainter *p,
                                           const QWidget *w) const
{
    if (!opt || !opt->skinOption) return;
    const qreal rx = wc::query(w, wc::PushButtonClass, wc::XRadiusProperty).toDouble();
    const qreal ry = wc::query(w, wc::PushButtonClass, wc::YRadiusProperty).toDouble();
    const QRect contents =
        opt->rect.adjusted(opt->marginLeft, opt->marginTop, -opt->marginRight, -opt->marginBottom);
    p->save();
    p->setFont(opt->font);

    int flags = Qt::AlignVCenter |
                (proxy()->styleHint(SH_UnderlineShortcut, opt, w) ? Qt::TextShowMnemonic
                                                                  : Qt::TextHideMnemonic);
    const bool hasIcon = !opt->icon.isNull();
    const bool hasText = !opt->text.isEmpty();
    QRect iconRect = contents;
    QRect textRect = contents;
    if (opt->displayMode != VuStyleOptionPushButton::IconAndText) {
        flags |= Qt::AlignHCenter;
    } else if (hasIcon && hasText) {
        const QIcon::Mode mode = !(opt->state & State_Enabled)   ? QIcon::Disabled
                                 : (opt->state & State_HasFocus) ? QIcon::Active
                                                                 : QIcon::Normal;
        const QPixmap pixmap =
            opt->icon.pixmap(opt->iconSize, mode, (opt->state & State_On) ? QIcon::On : QIcon::Off);
        const QSize pixmapSize = pixmap.size() / pixmap.devicePixelRatio();
        const int textWidth =
            QFontMetrics(opt->font).boundingRect(opt->rect, flags, opt->text).width();
        const int spacing = opt->iconTextSpacing;
        QRect logical(contents.left() +
                          (contents.width() - pixmapSize.width() - (spacing + textWidth)) / 2,
                      contents.top() + (contents.height() - pixmapSize.height()) / 2,
                      pixmapSize.width(), pixmapSize.height());
        iconRect = visualRect(opt->direction, contents, logical);
        if (opt->direction == Qt::RightToLeft)
            textRect.setRight(iconRect.left() - 1 - spacing);
        else
            textRect.setLeft(iconRect.left() + iconRect.width() + spacing);
        if (opt->state & (State_Sunken | State_On))
            iconRect.translate(proxy()->pixelMetric(PM_ButtonShiftHorizontal, opt, w),
                               proxy()->pixelMetric(PM_ButtonShiftVertical, opt, w));
        flags |= Qt::AlignLeft;
    } else if (!hasIcon) {
        flags |= Qt::AlignHCenter;
    } else {
        flags |= Qt::AlignLeft;
    }

    const ButtonLook look = buttonLook(*opt->skinOption, opt->state);
    const bool rounded = rx > 0 || ry > 0;

    p->setRenderHint(QPainter::Antialiasing, true);
    p->setPen(Qt::NoPen);
    p->setBrush(look.background);
    p->drawRoundedRect(QRectF(opt->rect), rx, ry);

    const int b = opt->borderWidth;
    if (b > 0) {
        QPen pen(look.border, b);
        pen.setJoinStyle(Qt::MiterJoin);
        p->setPen(pen);
        p->setBrush(Qt::NoBrush);
        const QRectF border = QRectF(opt->rect).adjusted(b / 2.0, b / 2.0, -b / 2.0, -b / 2.0);
        p->setRenderHint(QPainter::Antialiasing, rounded);
        if (rounded)
            p->drawRoundedRect(border, rx, ry);
        else
            p->drawRect(border);
    }

    if (opt->displayMode != VuStyleOptionPushButton::TextOnly && hasIcon) {
        const QIcon::Mode mode = look.iconMode == QIcon::Disabled
                                     ? QIcon::Disabled
                                     : modeWithPicture(opt->icon, look.iconMode);
        opt->icon.paint(p, iconRect, Qt::AlignCenter, mode, QIcon::Off);
    }

    if (opt->displayMode != VuStyleOptionPushButton::IconOnly && hasText) {
        const VuSkinOptionPushButton &skin = *opt->skinOption;
        QBrush fill = Qt::NoBrush;
        p->setPen(look.text);
        if (skin.txgradEnabled()) {
            QLinearGradient gradient = skin.txgrad();
            gradient.setStart(0, 0);
            gradient.setFinalStop(0, textRect.height());
            fill = QBrush(gradient);
            p->setPen(QPen(fill, 20, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
        }
        if (skin.txoutlineEnable()) {
            QFont font = opt->font;
            font.setPixelSize(QFontInfo(opt->font).pixelSize() + 1);
            const QFontMetrics metrics(font);
            // Where plain text would stand: centred in the text rectangle, or at its left
            // beside an icon; vertically centred in it, margins included.
            const qreal x =
                (flags & Qt::AlignHCenter)
                    ? textRect.left() +
                          (textRect.width() - metrics.horizontalAdvance(opt->text)) / 2.0
                    : textRect.left();
            const qreal y =
                textRect.top() + (textRect.height() - metrics.height()) / 2.0 + metrics.ascent();
            QPainterPath path;
            path.addText(qAbs(x), qAbs(y), font, opt->text);
            p->setRenderHint(QPainter::Antialiasing, true);
            p->strokePath(path, QPen(Qt::black, 1));
            p->fillPath(path, fill);
        } else {
            p->drawText(textRect, flags, opt->text);
        }
    }
    p->restore();
}

namespace {

struct IndicatorElements
{
    QStyle::PrimitiveElement indicator;
    QStyle::SubElement indicatorRect, contentsRect;
    QStyle::ControlElement label;
    int labelShift;
};

// The check box and the radio button differ only in the base style's elements they use.
template <typename Record>
void drawIndicatorButton(const QStyle *style, const Record &opt, QPainter *p, const QWidget *w,
                         const IndicatorElements &elements)
{
    // The base style draws the parts; it knows the record only as Qt's button record.
    const QStyleOptionButton button = asQtRecord<QStyleOptionButton>(opt);
    QStyleOptionButton label = button;
    if (opt.indicatorIcon.isNull()) {
        // The base indicator in its own square, not stretched over the whole control.
        QStyleOptionButton indicator = button;
        indicator.rect = style->subElementRect(elements.indicatorRect, &button, w);
        style->drawPrimitive(elements.indicator, &indicator, p, w);
    } else {
        const int side = w ? w->height() : opt.rect.height();
        const QRect square(opt.rect.topLeft(), QSize(side, side));
        const QIcon::Mode mode = modeWithPicture(opt.indicatorIcon, indicatorMode(opt.state));
        opt.indicatorIcon.paint(p, square, Qt::AlignLeft | Qt::AlignVCenter, mode, QIcon::Off);
    }
    label.rect =
        style->subElementRect(elements.contentsRect, &button, w).translated(elements.labelShift, 0);
    style->drawControl(elements.label, &label, p, w);
}

} // namespace

void VuSkinStyle::drawControl_VuCheckBox(const VuStyleOptionCheckBox *opt, QPainter *p,
                                         const QWidget *w) const
{
    if (!opt) return;
    drawIndicatorButton(
        proxy(), *opt, p, w,
        {PE_IndicatorCheckBox, SE_CheckBoxIndicator, SE_CheckBoxContents, CE_CheckBoxLabel, 0});
}

void VuSkinStyle::drawControl_VuRadioButton(const VuStyleOptionRadioButton *opt, QPainter *p,
                                            const QWidget *w) const
{
    if (!opt) return;
    drawIndicatorButton(proxy(), *opt, p, w,
                        {PE_IndicatorRadioButton, SE_RadioButtonIndicator, SE_RadioButtonContents,
                         CE_RadioButtonLabel, scaled(1)});
}

void VuSkinStyle::drawPrimitive_VuLineEdit(const QStyleOption *opt, QPainter *p,
                                           const QWidget *) const
{
    if (!opt || !(opt->state & State_Enabled)) return;
    const bool focused = opt->state & State_HasFocus;
    if (!focused && !(opt->state & State_MouseOver)) return;
    p->save();
    p->setPen(QPen(focused ? QColor(0x23, 0x85, 0xEA) : QColor(0x95, 0xBC, 0xF3), 1, Qt::SolidLine,
                   Qt::SquareCap, Qt::RoundJoin));
    p->setBrush(Qt::NoBrush);
    p->drawRect(opt->rect.adjusted(0, 0, -1, -1));
    p->restore();
}

void VuSkinStyle::drawComplexControl_VuComboBox(const VuStyleOptionComboBox *opt, QPainter *p,
                                                const QWidget *w) const
{
    if (!opt || !wc::is(w, wc::ComboBoxClass)) return;
    const bool filled = w->property(wc::FilledLookProperty).toBool();
    const QRect r = opt->rect;
    const int s18 = scaled(18);
    QRect textRect = r.adjusted(0, 0, -s18, 0);

    p->save();
    QColor border;
    if (filled) {
        QColor fill;
        if (opt->state & State_On) {
            fill = QColor(0xD6, 0xE8, 0xFB);
            border = QColor(0x5C, 0x8C, 0xE4);
        } else if (opt->state & State_MouseOver) {
            fill = QColor(0xEB, 0xF1, 0xFB);
            border = QColor(0xC3, 0xD8, 0xFF);
        } else {
            fill = Qt::white;
            border = QColor(0xAA, 0xAA, 0xAA);
        }
        p->fillRect(r, fill);
        const int s1 = scaled(1);
        const QRect arrow(r.left() + r.width() - s18, r.top() + r.height() - s18, s18 - s1,
                          s18 - s1);
        opt->arrowIcon.paint(p, arrow, Qt::AlignRight | Qt::AlignBottom, QIcon::Normal, QIcon::Off);
    } else {
        border = QColor(0xCC, 0xCC, 0xCC);
        const int textEnd = textRect.left() + textRect.width();
        const QRect arrow = QRect(textEnd, r.top(), r.left() + r.width() - textEnd, r.height())
                                .translated(-scaled(4), 0);
        opt->arrowIcon.paint(p, arrow, Qt::AlignLeft | Qt::AlignVCenter, QIcon::Normal, QIcon::Off);
    }

    p->setFont(opt->font);
    p->setPen(opt->palette.color(QPalette::WindowText));
    p->drawText(textRect.adjusted(scaled(12), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                opt->currentText);

    const int b = opt->borderWidth;
    if (b > 0) {
        p->setPen(QPen(border, b));
        p->setBrush(Qt::NoBrush);
        p->drawRect(r.adjusted(0, 0, -b, -b));
    }
    p->restore();
}

} // namespace skin
