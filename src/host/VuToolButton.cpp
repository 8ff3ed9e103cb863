#include "host/VuToolButton.h"

#include "skin/VuSkinStyle.h"

#include <QPainter>

namespace host {

using namespace skin;

VuToolButton::VuToolButton(QWidget *parent) : QToolButton(parent)
{
    setAttribute(Qt::WA_Hover);
}

void VuToolButton::initStyleOption(VuStyleOptionToolButton *opt) const
{
    QToolButton::initStyleOption(opt);
}

void VuToolButton::paintEvent(QPaintEvent *event)
{
    if (!qobject_cast<const VuSkinStyle *>(style())) {
        QToolButton::paintEvent(event);
        return;
    }
    VuStyleOptionToolButton opt;
    initStyleOption(&opt);
    QPainter painter(this);
    style()->drawComplexControl(CC_VuToolButton, &opt, &painter, this);
}

} // namespace host
