// Which elements the skin style draws itself, and its metrics, hints and geometry.
#include "skin/VuSkinStyle.h"

#include "skin/VuStyleHelper.h"
#include "skin/VuStyleOptions.h"
#include "skin/VuWidgetContract.h"

#include <QFrame>

namespace skin {

namespace wc = widgetcontract;

void VuSkinStyle::drawPrimitive(PrimitiveElement pe, const QStyleOption *opt, QPainter *p,
                                const QWidget *w) const
{
    if (pe == PE_VuShadowBorder) {
        drawPrimitive_VuShadowBorder(vuOptionCast<VuStyleOptionShadowBorder>(opt), p, w);
        return;
    }
    if (pe == PE_FrameMenu && wc::is(w, wc::MenuClass)) {
        drawPrimitive_FrameMenu(qstyleoption_cast<const QStyleOptionFrame *>(opt), p, w);
        return;
    }
    if (pe == PE_PanelMenu && wc::is(w, wc::MenuClass)) {
        drawPrimitive_PanelMenu(qstyleoption_cast<const QStyleOptionMenuItem *>(opt), p, w);
        return;
    }
    if (pe == PE_PanelLineEdit && wc::is(w, wc::LineEditClass)) {
        drawPrimitive_VuLineEdit(opt, p, w);
        return;
    }
    QProxyStyle::drawPrimitive(pe, opt, p, w);
}

void VuSkinStyle::drawControl(ControlElement ce, const QStyleOption *opt, QPainter *p,
                              const QWidget *w) const
{
    if (ce == CE_VuRadioButton) {
        drawControl_VuRadioButton(vuOptionCast<VuStyleOptionRadioButton>(opt), p, w);
    } else if (ce == CE_VuCheckBox) {
        drawControl_VuCheckBox(vuOptionCast<VuStyleOptionCheckBox>(opt), p, w);
    } else if (ce == CE_VuPushButton) {
        drawControl_VuPushButton(vuOptionCast<VuStyleOptionPushButton>(opt), p, w);
    } else if (ce == CE_MenuItem && wc::is(w, wc::MenuClass) &&
               qstyleoption_cast<const QStyleOptionMenuItem *>(opt)) {
        drawControl_MenuItem(static_cast<const QStyleOptionMenuItem *>(opt), p, w);
    } else if (ce == CE_MenuEmptyArea && wc::is(w, wc::MenuClass)) {
        // the panel already covers it
    } else {
        QProxyStyle::drawControl(ce, opt, p, w);
    }
}

void VuSkinStyle::drawComplexControl(ComplexControl cc, const QStyleOptionComplex *opt, QPainter *p,
                                     const QWidget *w) const
{
    if (cc == CC_SpinBox)
        drawComplexControl_VuSpinBox(qstyleoption_cast<const QStyleOptionSpinBox *>(opt), p, w);
    else if (cc == CC_ScrollBar)
        drawComplexControl_VuScrollBar(qstyleoption_cast<const QStyleOptionSlider *>(opt), p, w);
    else if (cc == CC_VuComboBox)
        drawComplexControl_VuComboBox(vuOptionCast<VuStyleOptionComboBox>(opt), p, w);
    else if (cc == CC_VuToolButton)
        drawComplexControl_VuToolButton(vuOptionCast<VuStyleOptionToolButton>(opt), p, w);
    else if (cc == CC_VuSlider)
        drawComplexControl_VuSlider(vuOptionCast<VuStyleOptionSlider>(opt), p, w);
    else
        QProxyStyle::drawComplexControl(cc, opt, p, w);
}

namespace {

// The spin box's buttons sit at the right, 14 pixels wide, each half the inner height (at
// least 8).
QRect spinBoxSubControlRect(const QStyleOptionSpinBox *opt, QStyle::SubControl sc, int frameWidth)
{
    const QRect r = opt->rect;
    const int fw = opt->frame ? frameWidth : 0;
    const bool noButtons = opt->buttonSymbols == QAbstractSpinBox::NoButtons;
    constexpr int buttonWidth = 14;
    const int buttonHeight = qMax(8, r.height() / 2 - fw);
    const int x = r.left() + r.width() - fw - buttonWidth;
    const int y = r.top() + fw;

    QRect result;
    switch (sc) {
    case QStyle::SC_SpinBoxUp:
        if (!noButtons) result = QRect(x, y, buttonWidth, buttonHeight);
        break;
    case QStyle::SC_SpinBoxDown:
        if (!noButtons) result = QRect(x, y + buttonHeight, buttonWidth, buttonHeight);
        break;
    case QStyle::SC_SpinBoxFrame:
        result = r;
        break;
    case QStyle::SC_SpinBoxEditField:
        result = noButtons ? QRect(fw, fw, r.width() - 2 * fw, r.height() - 2 * fw)
                           : QRect(fw, fw, x - fw, r.height() - 2 * fw);
        break;
    default:
        break;
    }
    return result.isNull() ? result : QStyle::visualRect(opt->direction, r, result);
}

} // namespace

QRect VuSkinStyle::subControlRect(ComplexControl cc, const QStyleOptionComplex *opt, SubControl sc,
                                  const QWidget *w) const
{
    switch (cc) {
    case CC_SpinBox:
        if (const auto *spin = qstyleoption_cast<const QStyleOptionSpinBox *>(opt))
            return spinBoxSubControlRect(spin, sc,
                                         proxy()->pixelMetric(PM_SpinBoxFrameWidth, spin, w));
        break;
    case CC_ScrollBar:
        return subControlRect_VuScrollBar(cc, opt, sc, w);
    case CC_ToolButton:
        if (wc::is(w, wc::ToolButtonClass)) {
            // The menu area is the right-hand strip the widget reserves; the rest is the
            // button.
            QRect r = QProxyStyle::subControlRect(cc, opt, sc, w);
            const int width = w->width();
            const int menuWidth = w->property(wc::MenuAreaWidthProperty).toInt();
            if (sc == SC_ToolButtonMenu)
                r.setLeft(width - menuWidth);
            else
                r.setWidth(width - menuWidth);
            return r;
        }
        return subControlRect_VuScrollBar(cc, opt, sc, w);
    default:
        break;
    }
    return QProxyStyle::subControlRect(cc, opt, sc, w);
}

int VuSkinStyle::pixelMetric(PixelMetric metric, const QStyleOption *opt, const QWidget *w) const
{
    if (metric == PM_ScrollBarExtent) return qRound(dpiScaled(14));
    // The menu's room for its frame and shadow; scaled here, once, like every other
    // device-independent size, so that frame, panel and items agree at any DPI.
    if (metric == PM_MenuPanelWidth && wc::is(w, wc::MenuClass)) return qRound(dpiScaled(8));
    // The spin box draws a one-pixel frame: its buttons and field sit inside a frame as wide
    // as the base style's drawn frame, not inside the base style's own spin-box margin.
    if (metric == PM_SpinBoxFrameWidth)
        return baseStyle()->pixelMetric(PM_DefaultFrameWidth, opt, w);
    return QProxyStyle::pixelMetric(metric, opt, w);
}

int VuSkinStyle::styleHint(StyleHint hint, const QStyleOption *opt, const QWidget *w,
                           QStyleHintReturn *returnData) const
{
    if (hint == SH_ComboBox_PopupFrameStyle) return QFrame::NoFrame | QFrame::Plain;
    return QProxyStyle::styleHint(hint, opt, w, returnData);
}

QSize VuSkinStyle::sizeFromContents(ContentsType ct, const QStyleOption *opt,
                                    const QSize &contentsSize, const QWidget *w) const
{
    QSize size = QProxyStyle::sizeFromContents(ct, opt, contentsSize, w);
    if (ct == CT_MenuItem && wc::is(w, wc::MenuClass)) size.rheight() += qRound(dpiScaled(2));
    return size;
}

} // namespace skin
