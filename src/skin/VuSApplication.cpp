#include "skin/VuSApplication.h"

#include "platform/NativeMessage.h"
#include "skin/VuEvent.h"
#include "skin/VuSkinResourceLoader.h"
#include "skin/VuSkinStyle.h"

#include <QPalette>
#include <QWidget>

namespace skin {

namespace {

VuSkinStyle *skinStyle()
{
    return qobject_cast<VuSkinStyle *>(QApplication::style());
}

VuSkinResourceLoader *styleLoader()
{
    VuSkinStyle *style = skinStyle();
    return style ? style->resourceLoader() : nullptr;
}

} // namespace

VuSApplication::VuSApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setUp();
}

VuSApplication::VuSApplication(int &argc, char **argv, const QString &, const QString &,
                               const QString &)
    : QApplication(argc, argv)
{
    setUp();
}

VuSApplication::~VuSApplication()
{
    removeNativeEventFilter(this);
}

void VuSApplication::setUp()
{
    setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);

    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, QColor(0x42, 0x42, 0x42));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xB1, 0xB1, 0xB1));
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, QColor(0x42, 0x42, 0x42));
    QApplication::setPalette(palette);

    installNativeEventFilter(this);
}

bool VuSApplication::setSkin(const QString &name)
{
    VuSkinStyle *style = skinStyle();
    if (!style || !style->setSkin(name)) return false;

    // A receiver may unregister itself (or others) while handling the event.
    const QSet<QWidget *> receivers = m_skinAwareWidgets;
    VuEvent event;
    for (QWidget *widget : receivers) {
        if (m_skinAwareWidgets.contains(widget)) QCoreApplication::sendEvent(widget, &event);
    }
    return true;
}

QIcon VuSApplication::loadIcon(const QString &name) const
{
    VuSkinResourceLoader *loader = styleLoader();
    return loader ? loader->loadIcon(name) : QIcon();
}

QPixmap VuSApplication::loadPixmap(const QString &name) const
{
    VuSkinResourceLoader *loader = styleLoader();
    return loader ? loader->loadPixmap(name) : QPixmap();
}

void VuSApplication::registerSkinAwareWidget(QWidget *widget)
{
    if (!widget || m_skinAwareWidgets.contains(widget)) return;
    m_skinAwareWidgets.insert(widget);
    // A widget that forgets to unregister must not be sent events after its death.
    connect(widget, &QObject::destroyed, this,
            [this, widget] { m_skinAwareWidgets.remove(widget); });
}

void VuSApplication::unregisterSkinAwareWidget(QWidget *widget)
{
    if (!widget || !m_skinAwareWidgets.remove(widget)) return;
    disconnect(widget, &QObject::destroyed, this, nullptr);
}

bool VuSApplication::nativeEventFilter(const QByteArray &eventType, void *message, long *result)
{
    using platform::NativeMessage;
    // Other window systems' events come through the same filter with their own records.
    if (eventType != NativeMessage::eventType || !message) return false;
    const auto *msg = static_cast<const NativeMessage *>(message);
    if (msg->message != NativeMessage::NcHitTest) return false;

    QWidget *window = QWidget::find(msg->window);
    if (!window) return false;
    QWidget *target = window->childAt(window->mapFromGlobal(msg->globalPos));
    if (!target) target = window;

    VuNcHitTestEvent event(target->mapFromGlobal(msg->globalPos), msg);
    QCoreApplication::sendEvent(target, &event);
    if (event.result() == VuNcHitTestEvent::ClientArea) return false;
    if (result)
        *result = window->isWindow() ? NativeMessage::HitCaption : NativeMessage::HitTransparent;
    return true;
}

} // namespace skin
