// The skinned application: palette, skin switches with widget notification, caption hit
// tests through the native event filter, and picture loading.
#include "platform/NativeMessage.h"
#include "skin/PhotoStyle.h"
#include "skin/VuEvent.h"
#include "skin/VuSApplication.h"
#include "skin/VuSkinResourceLoader.h"

#include <QtTest>

#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

#include <memory>

using namespace skin;
using platform::NativeMessage;

namespace {

// Counts the skin-change events it receives.
class SkinAwareWidget : public QWidget
{
public:
    int skinEvents = 0;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == VuEvent::EventType) ++skinEvents;
        return QWidget::event(e);
    }
};

// Answers caption hit tests with a fixed result and remembers the point it was asked about.
class HitTestWidget : public QWidget
{
public:
    explicit HitTestWidget(QWidget *parent = nullptr) : QWidget(parent) {}
    int answer = VuNcHitTestEvent::ClientArea;
    bool ignore = true;
    QPoint askedAt{-1, -1};

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == VuNcHitTestEvent::EventType) {
            auto *hit = static_cast<VuNcHitTestEvent *>(e);
            askedAt = hit->pos();
            if (!ignore) hit->setResult(answer);
            return true;
        }
        return QWidget::event(e);
    }
};

enum class StyleKind { Fusion, Uninitialised, Photo };

void installStyle(StyleKind kind)
{
    if (kind == StyleKind::Fusion) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        return;
    }
    auto *style = new PhotoStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (kind == StyleKind::Photo) {
        style->init(QStringLiteral(PICSAGE_SKINS), QStringLiteral("zh_CN"), 1.99);
        style->setSkin(QString());
    }
    QApplication::setStyle(style);
}

VuSApplication *app()
{
    return static_cast<VuSApplication *>(qApp);
}

} // namespace

Q_DECLARE_METATYPE(StyleKind)

class TestSkinApplication : public QObject
{
    Q_OBJECT
private slots:
    void palette_data();
    void palette();
    void skinSwitch_data();
    void skinSwitch();
    void hitTest_data();
    void hitTest();
    void pictures_data();
    void pictures();
};

void TestSkinApplication::palette_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("text");
    QTest::newRow("enabled") << true << QColor(0x42, 0x42, 0x42);
    QTest::newRow("disabled") << false << QColor(0xB1, 0xB1, 0xB1);
}

// The application's palette reaches what widgets draw: a button's label comes out in the
// text colour of its state (the darkest label pixel is one the glyphs cover wholly).
void TestSkinApplication::palette()
{
    QFETCH(bool, enabled);
    QFETCH(QColor, text);

    installStyle(StyleKind::Fusion);
    QPushButton button(QStringLiteral("MMMMHH"));
    QFont font = button.font();
    font.setPixelSize(28);
    font.setBold(true);
    button.setFont(font);
    button.setEnabled(enabled);
    button.resize(button.sizeHint());
    const QImage shot = button.grab().toImage();
    QRgb darkest = qRgb(255, 255, 255);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 4; x < shot.width() - 4; ++x)
            if (qGray(shot.pixel(x, y)) < qGray(darkest) && y > 4 && y < shot.height() - 4)
                darkest = shot.pixel(x, y);
    QCOMPARE(QColor(darkest), text);
    QVERIFY(QCoreApplication::testAttribute(Qt::AA_DontCreateNativeWidgetSiblings));
}

void TestSkinApplication::skinSwitch_data()
{
    QTest::addColumn<StyleKind>("style");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("registrations");
    QTest::addColumn<bool>("unregister");
    QTest::addColumn<bool>("switched");
    QTest::addColumn<int>("events");

    QTest::newRow("style is not a skin style")
        << StyleKind::Fusion << "ocean" << 1 << false << false << 0;
    QTest::newRow("missing skin folder")
        << StyleKind::Photo << "absent" << 1 << false << false << 0;
    QTest::newRow("skin") << StyleKind::Photo << "ocean" << 1 << false << true << 1;
    QTest::newRow("built-in look") << StyleKind::Photo << "" << 1 << false << true << 1;
    QTest::newRow("registered twice") << StyleKind::Photo << "graphite" << 2 << false << true << 1;
    QTest::newRow("unregistered") << StyleKind::Photo << "ocean" << 1 << true << true << 0;
    QTest::newRow("never registered") << StyleKind::Photo << "ocean" << 0 << false << true << 0;
    QTest::newRow("unregistered without registering")
        << StyleKind::Photo << "ocean" << 0 << true << true << 0;
}

void TestSkinApplication::skinSwitch()
{
    QFETCH(StyleKind, style);
    QFETCH(QString, name);
    QFETCH(int, registrations);
    QFETCH(bool, unregister);
    QFETCH(bool, switched);
    QFETCH(int, events);

    installStyle(style);
    SkinAwareWidget widget;
    for (int i = 0; i < registrations; ++i)
        app()->registerSkinAwareWidget(&widget);
    if (unregister) app()->unregisterSkinAwareWidget(&widget);
    // A widget that dies without unregistering is not sent anything.
    {
        SkinAwareWidget forgetful;
        app()->registerSkinAwareWidget(&forgetful);
    }

    QCOMPARE(app()->setSkin(name), switched);
    QCOMPARE(widget.skinEvents, events);
    QCOMPARE(app()->setSkin(name), switched);
    QCOMPARE(widget.skinEvents, 2 * events);
    app()->unregisterSkinAwareWidget(&widget);
}

void TestSkinApplication::hitTest_data()
{
    QTest::addColumn<QByteArray>("eventType");
    QTest::addColumn<uint>("message");
    QTest::addColumn<QString>("window");  // whose window id the message carries
    QTest::addColumn<QPoint>("point");    // in the top-level window's coordinates
    QTest::addColumn<QString>("claimer"); // the widget that sets a result
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<long>("result");
    QTest::addColumn<QString>("asked"); // the widget that received the event
    QTest::addColumn<QPoint>("askedAt");

    const QByteArray type = NativeMessage::eventType;
    const long untouched = 12345;
    const QPoint none(-1, -1);
    // The top-level window is 300 x 200; "child" sits at (20, 30) and is 100 x 50; "native"
    // is a native child window at (150, 100), 100 x 80.
    QTest::newRow("other message") << type << 0x85u << "top" << QPoint(30, 40) << "child" << 0
                                   << false << untouched << "" << none;
    QTest::newRow("foreign event type")
        << QByteArray("xcb_generic_event_t") << 0x84u << "top" << QPoint(30, 40) << "child" << 0
        << false << untouched << "" << none;
    QTest::newRow("unknown window") << type << 0x84u << "unknown" << QPoint(30, 40) << "child" << 0
                                    << false << untouched << "" << none;
    QTest::newRow("child ignores") << type << 0x84u << "top" << QPoint(30, 40) << "" << 0 << false
                                   << untouched << "child" << QPoint(10, 10);
    QTest::newRow("child answers client") << type << 0x84u << "top" << QPoint(30, 40) << "child"
                                          << 1 << false << untouched << "child" << QPoint(10, 10);
    QTest::newRow("child claims the caption") << type << 0x84u << "top" << QPoint(30, 40) << "child"
                                              << 0 << true << 2L << "child" << QPoint(10, 10);
    QTest::newRow("any other answer claims") << type << 0x84u << "top" << QPoint(119, 79) << "child"
                                             << -7 << true << 2L << "child" << QPoint(99, 49);
    QTest::newRow("window itself claims") << type << 0x84u << "top" << QPoint(5, 6) << "top" << 0
                                          << true << 2L << "top" << QPoint(5, 6);
    QTest::newRow("child does not see points outside it")
        << type << 0x84u << "top" << QPoint(5, 6) << "child" << 0 << false << untouched << "top"
        << QPoint(5, 6);
    QTest::newRow("native child window is transparent")
        << type << 0x84u << "native" << QPoint(160, 110) << "native" << 0 << true << -1L << "native"
        << QPoint(10, 10);
}

void TestSkinApplication::hitTest()
{
    QFETCH(QByteArray, eventType);
    QFETCH(uint, message);
    QFETCH(QString, window);
    QFETCH(QPoint, point);
    QFETCH(QString, claimer);
    QFETCH(int, answer);
    QFETCH(bool, handled);
    QFETCH(long, result);
    QFETCH(QString, asked);
    QFETCH(QPoint, askedAt);

    HitTestWidget top;
    top.setGeometry(100, 100, 300, 200);
    auto *child = new HitTestWidget(&top);
    child->setGeometry(20, 30, 100, 50);
    auto *native = new HitTestWidget(&top);
    native->setGeometry(150, 100, 100, 80);
    native->winId();
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QVERIFY(native->internalWinId());

    const QHash<QString, HitTestWidget *> widgets = {
        {"top", &top}, {"child", child}, {"native", native}};
    if (HitTestWidget *w = widgets.value(claimer)) {
        w->ignore = false;
        w->answer = answer;
    }

    NativeMessage msg;
    msg.message = message;
    msg.window =
        window == QLatin1String("unknown") ? WId(0xdeadbeef) : widgets.value(window)->winId();
    msg.globalPos = top.mapToGlobal(point);
    long filterResult = 12345;
    auto *filter = static_cast<QAbstractNativeEventFilter *>(app());
    QCOMPARE(filter->nativeEventFilter(eventType, &msg, &filterResult), handled);
    QCOMPARE(filterResult, result);
    for (auto it = widgets.cbegin(); it != widgets.cend(); ++it)
        QCOMPARE(it.value()->askedAt, it.key() == asked ? askedAt : QPoint(-1, -1));

    // The filter also copes with no result pointer and no message.
    QCOMPARE(filter->nativeEventFilter(eventType, &msg, nullptr), handled);
    QVERIFY(!filter->nativeEventFilter(eventType, nullptr, &filterResult));
}

void TestSkinApplication::pictures_data()
{
    QTest::addColumn<StyleKind>("style");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("switches"); // to the built-in look
    QTest::newRow("photo style") << StyleKind::Photo << true << true;
    QTest::newRow("style without init") << StyleKind::Uninitialised << false << true;
    QTest::newRow("not a skin style") << StyleKind::Fusion << false << false;
}

void TestSkinApplication::pictures()
{
    QFETCH(StyleKind, style);
    QFETCH(bool, found);
    QFETCH(bool, switches);

    installStyle(style);
    QCOMPARE(!app()->loadIcon(QStringLiteral("menuitem-check")).isNull(), found);
    QCOMPARE(!app()->loadPixmap(QStringLiteral("menuitem-check")).isNull(), found);
    QVERIFY(app()->loadPixmap(QStringLiteral("no-such-picture")).isNull());
    QCOMPARE(app()->setSkin(QString()), switches);
}

int main(int argc, char **argv)
{
    VuSApplication application(argc, argv);
    TestSkinApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_skin_application.moc"
