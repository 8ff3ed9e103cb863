#include "host/viewer/CaptionBar.h"

#include "host/VuPushButton.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinStyle.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace viewer {

CaptionBar::CaptionBar(QWidget *parent)
    : QWidget(parent), m_title(new QLabel(this)), m_skin(new host::VuPushButton(tr("Skin"), this)),
      m_close(new host::VuPushButton(QStringLiteral("\u2715"), this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 6, 4);
    layout->setSpacing(6);
    m_title->setTextFormat(Qt::PlainText);
    layout->addWidget(m_title, 1);
    layout->addWidget(m_skin);
    layout->addWidget(m_close);
    auto *style = qobject_cast<skin::VuSkinStyle *>(QApplication::style());
    if (style && style->options()) m_skin->setSkinOption(style->options()->pushButtonTextStrong());
    for (host::VuPushButton *button : {m_skin, m_close}) {
        button->setXRadius(4);
        button->setYRadius(4);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_skin, &QPushButton::clicked, this, &CaptionBar::skinMenuRequested);
    connect(m_close, &QPushButton::clicked, this, &CaptionBar::closeRequested);
}

void CaptionBar::setTitle(const QString &title)
{
    m_title->setText(title);
}

void CaptionBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
}

void CaptionBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return;
    QWindow *window = this->window()->windowHandle();
    // The window manager moves the window (snapping, other screens); where it cannot, the
    // band moves it itself.
    m_manualMove = !window || !window->startSystemMove();
    m_dragOffset = event->globalPos() - this->window()->frameGeometry().topLeft();
}

void CaptionBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualMove && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPos() - m_dragOffset);
}

void CaptionBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return;
    QWidget *top = window();
    top->isMaximized() ? top->showNormal() : top->showMaximized();
}

} // namespace viewer
