#pragma once

#include "picsage_global.h"

#include <QEvent>
#include <QPoint>

namespace platform {
struct NativeMessage;
}

namespace skin {

// Sent to every skin-aware widget after a successful skin switch; widgets repaint or reload
// their pictures when they receive it.
class PICSAGE_EXPORT VuEvent : public QEvent
{
public:
    static constexpr QEvent::Type EventType = QEvent::Type(32869);
    VuEvent() : QEvent(EventType) {}
};

// Asks a widget whether a point of a frameless window acts as its caption. The receiver
// leaves `result` at 1 (client area) or sets any other value to claim the point.
class PICSAGE_EXPORT VuNcHitTestEvent : public QEvent
{
public:
    static constexpr QEvent::Type EventType = QEvent::Type(32868);
    static constexpr int ClientArea = 1;

    VuNcHitTestEvent(const QPoint &pos, const platform::NativeMessage *message)
        : QEvent(EventType), m_pos(pos), m_message(message)
    {
    }

    int result() const { return m_result; }
    void setResult(int result) { m_result = result; }
    // The point in the receiving widget's coordinates.
    QPoint pos() const { return m_pos; }
    const platform::NativeMessage *message() const { return m_message; }

private:
    int m_result = ClientArea;
    QPoint m_pos;
    const platform::NativeMessage *m_message;
};

} // namespace skin
