#include "host/VuMenu.h"

#include <QPaintEvent>
#include <QPainter>

namespace host {

using namespace skin;

namespace {

// The room between the menu's edge and its frame holds a soft shadow, drawn by the menu
// itself on a see-through window instead of a system shadow.
void makeShadowWindow(QMenu *menu)
{
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint |
                         Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
}

} // namespace

VuMenu::VuMenu(QWidget *parent) : QMenu(parent)
{
    makeShadowWindow(this);
}

VuMenu::VuMenu(const QString &title, QWidget *parent) : QMenu(title, parent)
{
    makeShadowWindow(this);
}

void VuMenu::initStyleOption(VuStyleOptionMenuItem *opt, const QAction *action) const
{
    QMenu::initStyleOption(opt, action);
    opt->skinOption = m_skinOption;
    opt->greyWhenDisabled = m_greyWhenDisabled;
}

void VuMenu::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    QStyle *st = style();

    // The shadow ring lies just outside the frame, which the style draws one pixel inside the
    // panel width at the left and top and at the panel width at the right and bottom.
    const int panelWidth = st->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    VuStyleOptionShadowBorder shadow;
    shadow.initFrom(this);
    shadow.rect = QRect(0, 0, width() - 1, height());
    shadow.shadowWidth = panelWidth - 1;
    shadow.drawShadow = true;
    st->drawPrimitive(PE_VuShadowBorder, &shadow, &painter, this);

    VuStyleOptionMenuItem panel;
    panel.initFrom(this);
    panel.state = QStyle::State_None;
    panel.checkType = QStyleOptionMenuItem::NotCheckable;
    panel.rect = rect();
    panel.menuRect = rect();
    panel.menuItemType = QStyleOptionMenuItem::EmptyArea;
    panel.skinOption = m_skinOption;
    st->drawPrimitive(QStyle::PE_PanelMenu, &panel, &painter, this);

    // Each item may fill the whole menu; the clip keeps it to its own rectangle.
    for (QAction *action : actions()) {
        const QRect itemRect = actionGeometry(action);
        if (!action->isVisible() || !event->rect().intersects(itemRect)) continue;
        VuStyleOptionMenuItem item;
        initStyleOption(&item, action);
        item.rect = itemRect;
        painter.save();
        painter.setClipRect(itemRect);
        st->drawControl(QStyle::CE_MenuItem, &item, &painter, this);
        painter.restore();
    }

    VuStyleOptionMenuFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.lineWidth = st->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    frame.midLineWidth = 0;
    frame.skinOption = m_skinOption;
    st->drawPrimitive(QStyle::PE_FrameMenu, &frame, &painter, this);
}

} // namespace host
