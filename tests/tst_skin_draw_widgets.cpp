// The library's widgets painting through the skin style and the shadow window following its
// target.
#include "host/VuComboBox.h"
#include "host/VuLineEdit.h"
#include "host/VuMenu.h"
#include "host/VuPushButton.h"
#include "host/VuShadowBorder.h"
#include "host/VuToolButton.h"
#include "skin/PhotoStyle.h"
#include "skin/VuSkinOptionRoot.h"
#include "support/Pictures.h"

#include <QtTest>

#include <QStyleFactory>

#include <memory>

using namespace skin;
using namespace host;

namespace {

// A shadow that stays hidden whatever its target does.
class HiddenShadow : public VuShadowBorder
{
public:
    using VuShadowBorder::VuShadowBorder;
    bool shouldHide() const override { return true; }
};

} // namespace

class TestSkinDrawWidgets : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void widgetsPaintThroughTheStyle_data();
    void widgetsPaintThroughTheStyle();
    void shadowFollowsTarget_data();
    void shadowFollowsTarget();

private:
    std::unique_ptr<PhotoStyle> m_style;
};

void TestSkinDrawWidgets::initTestCase()
{
    m_style = std::make_unique<PhotoStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
    m_style->init(QString(), QStringLiteral("zh_CN"), 1.99);
    QVERIFY(m_style->setSkin(QString()));
}

void TestSkinDrawWidgets::widgetsPaintThroughTheStyle_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("strong push button fill") << "button" << QPoint(4, 4) << QColor(0x2285EA);
    QTest::newRow("push button rounded corner") << "button" << QPoint(0, 0) << QColor(Qt::white);
    QTest::newRow("filled combo box") << "combo" << QPoint(3, 3) << QColor(Qt::white);
    QTest::newRow("filled combo box border") << "combo" << QPoint(0, 10) << QColor(0xAAAAAA);
    QTest::newRow("menu frame") << "menu" << QPoint(7, 20) << QColor(0x304050);
    QTest::newRow("menu item look") << "menu" << QPoint(20, 12) << QColor(0x102030);
    QTest::newRow("tool button arrow") << "tool" << QPoint(60 - 16 + 6 + 2, 12) << QColor(0x2788EA);
}

void TestSkinDrawWidgets::widgetsPaintThroughTheStyle()
{
    QFETCH(QString, widget);
    QFETCH(QPoint, point);
    QFETCH(QColor, expected);

    VuSkinOptionMenuItem menuLook;
    menuLook.setBg(QColor(0x102030));
    menuLook.setFrame(QColor(0x304050));
    std::unique_ptr<QWidget> w;
    if (widget == QLatin1String("button")) {
        auto *button = new VuPushButton(QStringLiteral("OK"));
        button->setXRadius(6);
        button->setYRadius(6);
        button->setSkinOption(m_style->options()->pushButtonTextStrong());
        button->resize(80, 28);
        w.reset(button);
    } else if (widget == QLatin1String("combo")) {
        auto *combo = new VuComboBox;
        combo->setFilledLook(true);
        combo->addItem(QStringLiteral("100%"));
        combo->resize(90, 24);
        w.reset(combo);
    } else if (widget == QLatin1String("menu")) {
        auto *menu = new VuMenu;
        menu->setSkinOption(&menuLook);
        menu->addAction(QStringLiteral("Open"));
        menu->addAction(QStringLiteral("Close"));
        w.reset(menu);
    } else {
        auto *tool = new VuToolButton;
        tool->setMenuAreaWidth(16);
        tool->setArrowType(Qt::DownArrow);
        tool->setToolButtonStyle(Qt::ToolButtonTextOnly);
        tool->resize(60, 24);
        w.reset(tool);
    }
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    w->setPalette(palette);
    w->setStyle(m_style.get());
    w->ensurePolished();
    if (widget == QLatin1String("menu")) w->resize(w->sizeHint());
    // The widget paints on a white page, as it would on its parent.
    QImage image(w->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(pixel(image, point.x(), point.y()), expected);
}

// The shadow takes its target's geometry grown by its margin on every side.
void TestSkinDrawWidgets::shadowFollowsTarget_data()
{
    QTest::addColumn<bool>("hideQuery");
    QTest::addColumn<bool>("targetVisible");
    QTest::addColumn<int>("showState");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("moved");

    QTest::newRow("target shown") << false << true << -1 << true << true;
    QTest::newRow("target hidden") << false << false << -1 << false << false;
    QTest::newRow("hide query") << true << true << -1 << false << false;
    QTest::newRow("state not negative: moved, not shown") << false << true << 0 << false << true;
}

void TestSkinDrawWidgets::shadowFollowsTarget()
{
    QFETCH(bool, hideQuery);
    QFETCH(bool, targetVisible);
    QFETCH(int, showState);
    QFETCH(bool, shown);
    QFETCH(bool, moved);

    QWidget target;
    target.setGeometry(100, 120, 200, 150);
    if (targetVisible) target.show();
    std::unique_ptr<VuShadowBorder> shadow(hideQuery ? new HiddenShadow(&target, 10)
                                                     : new VuShadowBorder(&target, 10));
    shadow->setShowState(showState);
    const QRect before = shadow->geometry();
    shadow->onDelayedShowTimer();
    QCOMPARE(shadow->isVisible(), shown);
    QCOMPARE(shadow->geometry(), moved ? QRect(90, 110, 220, 170) : before);

    VuShadowBorder orphan(nullptr, 10);
    orphan.onDelayedShowTimer(); // no target: nothing happens
    QVERIFY(orphan.isHidden());
}

QTEST_MAIN(TestSkinDrawWidgets)
#include "tst_skin_draw_widgets.moc"
