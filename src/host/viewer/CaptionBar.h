#pragma once

#include <QWidget>

class QLabel;

namespace host {
class VuPushButton;
}

namespace viewer {

// The band at the top of the frameless window: the picture's name and position, the skin
// button and the close button. Dragging the band moves the window.
class CaptionBar : public QWidget
{
    Q_OBJECT
public:
    explicit CaptionBar(QWidget *parent = nullptr);

    void setTitle(const QString &title);
    host::VuPushButton *skinButton() const { return m_skin; }

signals:
    void skinMenuRequested();
    void closeRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
    host::VuPushButton *m_skin;
    host::VuPushButton *m_close;
    // Where a drag began, for platforms that cannot move windows themselves.
    QPoint m_dragOffset;
    bool m_manualMove = false;
};

} // namespace viewer
