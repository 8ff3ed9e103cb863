#include "host/VuShadowBorder.h"

#include <QPainter>

namespace host {

using namespace skin;

VuShadowBorder::VuShadowBorder(QWidget *target, int margin, bool lowerBelowTarget)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowDoesNotAcceptFocus),
      m_target(target), m_margin(margin), m_lowerBelowTarget(lowerBelowTarget)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void VuShadowBorder::initStyleOption(VuStyleOptionShadowBorder *opt) const
{
    opt->initFrom(this);
    opt->shadowWidth = m_margin;
    opt->drawShadow = true;
    opt->outlineRect = rect().adjusted(m_margin, m_margin, -m_margin, -m_margin);
}

void VuShadowBorder::onDelayedShowTimer()
{
    if (!m_target) return;
    if (shouldHide()) {
        hide();
        return;
    }
    if (!m_target->isVisible()) return;
    if (isHidden() && m_showState < 0) {
        show();
        if (m_lowerBelowTarget) {
            lower();
            m_target->raise();
        }
    }
    const QRect g = m_target->geometry();
    setGeometry(g.left() - m_margin, g.top() - m_margin, g.width() + 2 * m_margin,
                g.height() + 2 * m_margin);
}

void VuShadowBorder::paintEvent(QPaintEvent *)
{
    VuStyleOptionShadowBorder opt;
    initStyleOption(&opt);
    QPainter painter(this);
    style()->drawPrimitive(PE_VuShadowBorder, &opt, &painter, this);
}

} // namespace host
