#include "host/VuComboBox.h"

#include "skin/VuSkinResourceLoader.h"
#include "skin/VuSkinStyle.h"

#include <QPainter>

namespace host {

using namespace skin;

VuComboBox::VuComboBox(QWidget *parent) : QComboBox(parent)
{
    setAttribute(Qt::WA_Hover);
}

void VuComboBox::initStyleOption(VuStyleOptionComboBox *opt) const
{
    QComboBox::initStyleOption(opt);
    const auto *skinStyle = qobject_cast<const VuSkinStyle *>(style());
    if (skinStyle && skinStyle->resourceLoader())
        opt->arrowIcon = skinStyle->resourceLoader()->loadIcon(QStringLiteral("combobox-arrow"));
    opt->font = font();
}

void VuComboBox::paintEvent(QPaintEvent *event)
{
    if (!qobject_cast<const VuSkinStyle *>(style())) {
        QComboBox::paintEvent(event);
        return;
    }
    VuStyleOptionComboBox opt;
    initStyleOption(&opt);
    QPainter painter(this);
    style()->drawComplexControl(CC_VuComboBox, &opt, &painter, this);
}

} // namespace host
