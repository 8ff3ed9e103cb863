// Popup menus of the library's menu class: frame, panel and items.
#include "skin/VuSkinStyle.h"

#include "skin/VuSkinOption.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinResourceLoader.h"
#include "skin/VuStyleHelper.h"
#include "skin/VuStyleOptions.h"

#include <QPainter>

namespace skin {

namespace {

const QColor kMenuFrame(0xBF, 0xBF, 0xBF);
const QColor kGreyText(0x9F, 0x9F, 0x9F);

// The menu look carried by our own records; plain Qt records carry none.
VuSkinOptionMenuItem *ownMenuLook(const QStyleOptionMenuItem *opt)
{
    if (opt->version < VuStyleOptionMenuItem::Version) return nullptr;
    return static_cast<const VuStyleOptionMenuItem *>(opt)->skinOption;
}

VuSkinOptionMenuItem *ownMenuLook(const QStyleOptionFrame *opt)
{
    if (opt->version < VuStyleOptionMenuFrame::Version) return nullptr;
    return static_cast<const VuStyleOptionMenuFrame *>(opt)->skinOption;
}

bool greyWhenDisabled(const QStyleOptionMenuItem *opt)
{
    return opt->version >= VuStyleOptionMenuItem::Version &&
           static_cast<const VuStyleOptionMenuItem *>(opt)->greyWhenDisabled;
}

} // namespace

void VuSkinStyle::drawPrimitive_FrameMenu(const QStyleOptionFrame *opt, QPainter *p,
                                          const QWidget *w) const
{
    if (!opt) return;
    const VuSkinOptionMenuItem *look = ownMenuLook(opt);
    const int b = proxy()->pixelMetric(PM_MenuPanelWidth, opt, w); // already DPI-scaled
    p->save();
    p->setPen(look ? look->frame() : kMenuFrame);
    p->setBrush(Qt::NoBrush);
    p->drawRect(opt->rect.adjusted(b - 1, b - 1, -b - 1, -b));
    p->restore();
}

void VuSkinStyle::drawPrimitive_PanelMenu(const QStyleOptionMenuItem *opt, QPainter *p,
                                          const QWidget *w) const
{
    if (!opt) return;
    const VuSkinOptionMenuItem *look = ownMenuLook(opt);
    const int m = proxy()->pixelMetric(PM_MenuPanelWidth, opt, w);
    p->save();
    if (!look) p->fillRect(opt->rect.adjusted(m, m, -m - 1, -m), Qt::white);
    const QRect edge = opt->rect.adjusted(m, m, -m, -m);
    p->setPen(look ? look->frame() : kMenuFrame);
    p->drawLine(edge.topRight(), edge.bottomRight());
    p->restore();
}

void VuSkinStyle::drawControl_MenuItem(const QStyleOptionMenuItem *opt, QPainter *p,
                                       const QWidget *w) const
{
    if (!opt) return;
    VuSkinOptionMenuItem *look = ownMenuLook(opt);
    const bool skinned = look != nullptr;
    VuSkinOptionMenuItem fallback; // only when the style has no option tree
    if (!look) look = m_options ? m_options->menuItem() : &fallback;

    const QRect r = opt->rect;
    const int panel = proxy()->pixelMetric(PM_MenuPanelWidth, opt, w);
    const int width = r.width(), height = r.height(), top = r.top();
    const int checkWidth =
        opt->menuHasCheckableItems ? qRound(dpiScaled(16)) : opt->maxIconWidth - 4;
    const int textX = panel + (checkWidth < 1 ? 10 : checkWidth + 17);
    const bool checked = opt->checkType != QStyleOptionMenuItem::NotCheckable && opt->checked;
    const bool enabled = opt->state & State_Enabled;
    const bool selected = opt->state & State_Selected;
    const QRect widgetRect = w ? w->rect() : r;

    p->save();
    if (opt->menuItemType == QStyleOptionMenuItem::Separator) {
        if (skinned) p->fillRect(r, look->separatorBg());
        const int y = top + height / 2;
        p->setPen(look->separator());
        p->drawLine(textX, y, panel + width - 11, y);
        p->restore();
        return;
    }

    const QRect checkRect =
        visualRect(opt->direction, r, QRect(panel + 10, top, checkWidth, height));
    if (selected)
        p->fillRect(skinned ? widgetRect : r, look->hover());
    else if (skinned)
        p->fillRect(widgetRect, look->bg());

    if (checked && m_loader) {
        m_loader->loadIcon(QStringLiteral("menuitem-check"))
            .paint(p, checkRect, Qt::AlignCenter, QIcon::Normal, QIcon::Off);
    }

    if (!opt->icon.isNull()) {
        const QIcon::Mode mode = !enabled   ? QIcon::Disabled
                                 : selected ? QIcon::Active
                                            : QIcon::Normal;
        // The base style's small-icon size is already a size on this screen.
        const int side = proxy()->pixelMetric(PM_SmallIconSize, opt, w);
        const QPixmap pixmap =
            opt->icon.pixmap(QSize(side, side), mode, checked ? QIcon::On : QIcon::Off);
        const QSize size = pixmap.size() / pixmap.devicePixelRatio();
        p->drawPixmap(QStyle::alignedRect(opt->direction, Qt::AlignCenter, size, checkRect),
                      pixmap);
    }

    const int d = qRound(dpiScaled(4));
    // The shortcut column ends 9 device-independent pixels before the item's end, so a long
    // shortcut keeps its distance from the frame on every screen.
    const int shortcutMargin = qRound(dpiScaled(9));
    const QRect textRect =
        visualRect(opt->direction, r,
                   QRect(textX, top + d, panel + width - opt->tabWidth - textX - shortcutMargin,
                         height - 2 * d));
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip |
                      (proxy()->styleHint(SH_UnderlineShortcut, opt, w) ? Qt::TextShowMnemonic
                                                                        : Qt::TextHideMnemonic);
    const bool grey = greyWhenDisabled(opt);
    QString text = opt->text;
    const int tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0) {
        const QRect logicalText = visualRect(opt->direction, r, textRect);
        const QRect shortcutRect =
            visualRect(opt->direction, r,
                       QRect(logicalText.topRight(), QPoint(r.right(), logicalText.bottom())));
        p->setPen(enabled || grey ? kGreyText : opt->palette.color(QPalette::ButtonText));
        p->setFont(opt->font);
        p->drawText(shortcutRect, flags, text.mid(tab + 1));
        text = text.left(tab);
    }

    QFont font = opt->font;
    font.setBold(opt->menuItemType == QStyleOptionMenuItem::DefaultItem);
    p->setFont(font);
    if (!enabled && grey)
        p->setPen(kGreyText);
    else
        p->setPen(skinned ? look->fontColor() : opt->palette.color(QPalette::ButtonText));
    p->drawText(textRect, flags, text);

    if (opt->menuItemType == QStyleOptionMenuItem::SubMenu) {
        const int side = (height - 4) / 2;
        const QRect arrow = visualRect(
            opt->direction, r,
            QRect(r.left() + width - side - 8, top + height / 2 - (height - 4) / 4, side, side));
        QStyleOptionMenuItem arrowOpt = *opt;
        arrowOpt.rect = arrow;
        arrowOpt.state = State_Enabled;
        QProxyStyle::drawPrimitive(opt->direction == Qt::RightToLeft ? PE_IndicatorArrowLeft
                                                                     : PE_IndicatorArrowRight,
                                   &arrowOpt, p, w);
    }
    p->restore();
}

} // namespace skin
