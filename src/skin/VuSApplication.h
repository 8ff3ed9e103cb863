#pragma once

#include "picsage_global.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSet>

namespace skin {

// The skinned application: sets the library's palette, answers caption hit tests for
// frameless windows through VuNcHitTestEvent, tells skin-aware widgets about skin switches
// with VuEvent, and hands out the skin's pictures.
class PICSAGE_EXPORT VuSApplication : public QApplication, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    VuSApplication(int &argc, char **argv);
    // The three strings are accepted for the callers that pass them and otherwise unused.
    VuSApplication(int &argc, char **argv, const QString &, const QString &, const QString &);
    ~VuSApplication() override;

    // Switches the skin of the application's VuSkinStyle and notifies the skin-aware
    // widgets. False, with no notification, when there is no such style or it refuses.
    virtual bool setSkin(const QString &name);

    // From the style's resource loader; null when the style is not a VuSkinStyle.
    QIcon loadIcon(const QString &name) const;
    QPixmap loadPixmap(const QString &name) const;

    void registerSkinAwareWidget(QWidget *widget);
    void unregisterSkinAwareWidget(QWidget *widget);

protected:
    // Examines platform::NativeMessage records (event type NativeMessage::eventType) with
    // the non-client hit-test code. The window-system glue reaches it through the
    // QAbstractNativeEventFilter interface.
    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

private:
    void setUp();

    QSet<QWidget *> m_skinAwareWidgets;
};

} // namespace skin
