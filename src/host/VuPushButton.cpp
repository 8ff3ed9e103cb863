#include "host/VuPushButton.h"

#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinStyle.h"

#include <QPainter>

namespace host {

using namespace skin;

VuPushButton::VuPushButton(QWidget *parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_Hover);
}

VuPushButton::VuPushButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setAttribute(Qt::WA_Hover);
}

void VuPushButton::initStyleOption(VuStyleOptionPushButton *opt) const
{
    QPushButton::initStyleOption(opt);
    const QMargins margins = contentsMargins();
    opt->marginLeft = margins.left();
    opt->marginTop = margins.top();
    opt->marginRight = margins.right();
    opt->marginBottom = margins.bottom();
    opt->skinOption = m_skinOption;
    if (!opt->skinOption) {
        const auto *skinStyle = qobject_cast<const VuSkinStyle *>(style());
        if (skinStyle && skinStyle->options()) opt->skinOption = skinStyle->options()->pushButton();
    }
    opt->displayMode = m_displayMode;
    opt->borderWidth = m_borderWidth;
    opt->iconTextSpacing = m_iconTextSpacing;
    opt->font = font();
}

void VuPushButton::paintEvent(QPaintEvent *event)
{
    VuStyleOptionPushButton opt;
    initStyleOption(&opt);
    if (!opt.skinOption) {
        QPushButton::paintEvent(event); // not under a skin style
        return;
    }
    QPainter painter(this);
    style()->drawControl(CE_VuPushButton, &opt, &painter, this);
}

} // namespace host
