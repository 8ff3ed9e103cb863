// The skin style's geometry rules, metrics and hints, and its two path and colour helpers.
#include "host/VuMenu.h"
#include "host/VuToolButton.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinStyle.h"
#include "skin/VuStyleOptions.h"

#include <QtTest>

#include <QMenu>
#include <QStyleFactory>
#include <QToolButton>

#include <climits>

#include <memory>

using namespace skin;
using namespace host;

namespace {

// Fixes the two base metrics that the geometry depends on.
class MetricStyle : public VuSkinStyle
{
public:
    using VuSkinStyle::VuSkinStyle;
    int sliderMinimum = 8;
    int spinBoxFrame = 2;

    int pixelMetric(PixelMetric metric, const QStyleOption *opt = nullptr,
                    const QWidget *w = nullptr) const override
    {
        if (metric == PM_ScrollBarSliderMin) return sliderMinimum;
        if (metric == PM_SpinBoxFrameWidth) return spinBoxFrame;
        return VuSkinStyle::pixelMetric(metric, opt, w);
    }
};

} // namespace

class TestSkinDrawGeometry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void scrollBar_data();
    void scrollBar();
    void scrollBarPages_data();
    void scrollBarPages();
    void spinBox_data();
    void spinBox();
    void toolButtonSplit_data();
    void toolButtonSplit();
    void colorFromGradient_data();
    void colorFromGradient();
    void boundPath_data();
    void boundPath();
    void metricsAndHints_data();
    void metricsAndHints();

private:
    std::unique_ptr<MetricStyle> m_style;
};

void TestSkinDrawGeometry::initTestCase()
{
    m_style = std::make_unique<MetricStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
}

void TestSkinDrawGeometry::scrollBar_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("pageStep");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("sliderMinimum");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("upsideDown");
    QTest::addColumn<QRect>("handle");

    const int h = Qt::Horizontal, v = Qt::Vertical, ltr = Qt::LeftToRight, rtl = Qt::RightToLeft;
    QTest::newRow("range 0: the whole groove")
        << 0 << 0 << 10 << 0 << 8 << h << ltr << false << QRect(0, 0, 200, 14);
    QTest::newRow("page 10 of 90, at 0")
        << 0 << 90 << 10 << 0 << 8 << h << ltr << false << QRect(0, 0, 20, 14);
    QTest::newRow("page 10 of 90, at 45")
        << 0 << 90 << 10 << 45 << 8 << h << ltr << false << QRect(90, 0, 20, 14);
    QTest::newRow("page 10 of 90, at 90")
        << 0 << 90 << 10 << 90 << 8 << h << ltr << false << QRect(180, 0, 20, 14);
    QTest::newRow("minimum length wins")
        << 0 << 90 << 10 << 90 << 30 << h << ltr << false << QRect(170, 0, 30, 14);
    QTest::newRow("minimum capped at the groove")
        << 0 << 90 << 10 << 0 << 300 << h << ltr << false << QRect(0, 0, 200, 14);
    QTest::newRow("page above range")
        << 0 << 10 << 1000 << 0 << 8 << h << ltr << false << QRect(0, 0, 198, 14);
    QTest::newRow("range 2^30: minimum length")
        << 0 << (1 << 30) << (1 << 29) << 0 << 8 << h << ltr << false << QRect(0, 0, 8, 14);
    QTest::newRow("range of 2e9, at the end") << -1000000000 << 1000000000 << 10 << 1000000000 << 8
                                              << h << ltr << false << QRect(192, 0, 8, 14);
    QTest::newRow("whole int range, at the end")
        << INT_MIN << INT_MAX << 10 << INT_MAX << 8 << h << ltr << false << QRect(192, 0, 8, 14);
    QTest::newRow("whole int range, in the middle")
        << INT_MIN << INT_MAX << 10 << 0 << 8 << h << ltr << false << QRect(96, 0, 8, 14);
    QTest::newRow("whole int range, upside down")
        << INT_MIN << INT_MAX << 10 << INT_MAX << 8 << h << ltr << true << QRect(0, 0, 8, 14);
    QTest::newRow("page step 0: minimum length")
        << 0 << 90 << 0 << 0 << 8 << h << ltr << false << QRect(0, 0, 8, 14);
    QTest::newRow("negative total: whole groove")
        << 0 << 10 << -100 << 0 << 8 << h << ltr << false << QRect(0, 0, 200, 14);
    QTest::newRow("vertical at 45")
        << 0 << 90 << 10 << 45 << 8 << v << ltr << false << QRect(0, 90, 14, 20);
    QTest::newRow("upside down at 0")
        << 0 << 90 << 10 << 0 << 8 << h << ltr << true << QRect(180, 0, 20, 14);
    QTest::newRow("right to left at 0")
        << 0 << 90 << 10 << 0 << 8 << h << rtl << false << QRect(180, 0, 20, 14);
}

void TestSkinDrawGeometry::scrollBar()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, pageStep);
    QFETCH(int, value);
    QFETCH(int, sliderMinimum);
    QFETCH(int, orientation);
    QFETCH(int, direction);
    QFETCH(bool, upsideDown);
    QFETCH(QRect, handle);

    m_style->sliderMinimum = sliderMinimum;
    QStyleOptionSlider opt;
    opt.orientation = Qt::Orientation(orientation);
    opt.rect = orientation == Qt::Horizontal ? QRect(0, 0, 200, 14) : QRect(0, 0, 14, 200);
    opt.direction = Qt::LayoutDirection(direction);
    opt.minimum = minimum;
    opt.maximum = maximum;
    opt.pageStep = pageStep;
    opt.sliderPosition = opt.sliderValue = value;
    opt.upsideDown = upsideDown;
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider),
             handle);
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarGroove),
             opt.rect);
    // No step buttons.
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarAddLine),
             QRect());
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSubLine),
             QRect());
}

// The pages run from the groove's start to the handle and from the handle to the end.
void TestSkinDrawGeometry::scrollBarPages_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QRect>("subPage");
    QTest::addColumn<QRect>("addPage");

    QTest::newRow("at 0") << 0 << QRect(0, 0, 0, 14) << QRect(20, 0, 180, 14);
    QTest::newRow("at 45") << 45 << QRect(0, 0, 90, 14) << QRect(110, 0, 90, 14);
    QTest::newRow("at 90") << 90 << QRect(0, 0, 180, 14) << QRect(200, 0, 0, 14);
}

void TestSkinDrawGeometry::scrollBarPages()
{
    QFETCH(int, value);
    QFETCH(QRect, subPage);
    QFETCH(QRect, addPage);

    m_style->sliderMinimum = 8;
    QStyleOptionSlider opt;
    opt.rect = QRect(0, 0, 200, 14);
    opt.maximum = 90;
    opt.pageStep = 10;
    opt.sliderPosition = value;
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSubPage),
             subPage);
    QCOMPARE(m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarAddPage),
             addPage);
}

// An 80 pixels wide spin box with frame width 2.
void TestSkinDrawGeometry::spinBox_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("frame");
    QTest::addColumn<bool>("buttons");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QRect>("up");
    QTest::addColumn<QRect>("down");
    QTest::addColumn<QRect>("edit");

    const int ltr = Qt::LeftToRight;
    QTest::newRow("height 20") << 20 << true << true << ltr << QRect(64, 2, 14, 8)
                               << QRect(64, 10, 14, 8) << QRect(2, 2, 62, 16);
    QTest::newRow("height 40") << 40 << true << true << ltr << QRect(64, 2, 14, 18)
                               << QRect(64, 20, 14, 18) << QRect(2, 2, 62, 36);
    QTest::newRow("height 12: at least 8") << 12 << true << true << ltr << QRect(64, 2, 14, 8)
                                           << QRect(64, 10, 14, 8) << QRect(2, 2, 62, 8);
    QTest::newRow("no frame") << 40 << false << true << ltr << QRect(66, 0, 14, 20)
                              << QRect(66, 20, 14, 20) << QRect(0, 0, 66, 40);
    QTest::newRow("no buttons") << 20 << true << false << ltr << QRect() << QRect()
                                << QRect(2, 2, 76, 16);
    QTest::newRow("right to left")
        << 20 << true << true << int(Qt::RightToLeft) << QRect(2, 2, 14, 8) << QRect(2, 10, 14, 8)
        << QRect(16, 2, 62, 16);
    QTest::newRow("right to left, no buttons")
        << 20 << true << false << int(Qt::RightToLeft) << QRect() << QRect() << QRect(2, 2, 76, 16);
}

void TestSkinDrawGeometry::spinBox()
{
    QFETCH(int, height);
    QFETCH(bool, frame);
    QFETCH(bool, buttons);
    QFETCH(int, direction);
    QFETCH(QRect, up);
    QFETCH(QRect, down);
    QFETCH(QRect, edit);

    QStyleOptionSpinBox opt;
    opt.rect = QRect(0, 0, 80, height);
    opt.frame = frame;
    opt.direction = Qt::LayoutDirection(direction);
    opt.buttonSymbols = buttons ? QAbstractSpinBox::UpDownArrows : QAbstractSpinBox::NoButtons;
    const auto rect = [&](QStyle::SubControl sc) {
        return m_style->subControlRect(QStyle::CC_SpinBox, &opt, sc);
    };
    QCOMPARE(rect(QStyle::SC_SpinBoxUp), up);
    QCOMPARE(rect(QStyle::SC_SpinBoxDown), down);
    QCOMPARE(rect(QStyle::SC_SpinBoxEditField), edit);
    QCOMPARE(rect(QStyle::SC_SpinBoxFrame), opt.rect);
    QCOMPARE(rect(QStyle::SC_ScrollBarSlider), QRect()); // not a spin-box part
}

// A 60 pixels wide tool button: the menu area is the right-hand strip the widget reserves.
void TestSkinDrawGeometry::toolButtonSplit_data()
{
    QTest::addColumn<bool>("skinned");
    QTest::addColumn<int>("menuAreaWidth");
    QTest::addColumn<QRect>("button");
    QTest::addColumn<QRect>("menu");

    QTest::newRow("menu area 16") << true << 16 << QRect(0, 0, 44, 24) << QRect(44, 0, 16, 24);
    QTest::newRow("menu area 0") << true << 0 << QRect(0, 0, 60, 24) << QRect(60, 0, 0, 24);
    QTest::newRow("plain tool button: base geometry")
        << false << 16 << QRect(0, 0, 60, 24) << QRect(0, 0, 60, 24);
}

void TestSkinDrawGeometry::toolButtonSplit()
{
    QFETCH(bool, skinned);
    QFETCH(int, menuAreaWidth);
    QFETCH(QRect, button);
    QFETCH(QRect, menu);

    VuToolButton vuButton;
    vuButton.setMenuAreaWidth(menuAreaWidth);
    QToolButton plainButton;
    QToolButton *widget = skinned ? &vuButton : &plainButton;
    widget->resize(60, 24);
    QStyleOptionToolButton opt;
    opt.rect = QRect(0, 0, 60, 24);
    QCOMPARE(m_style->subControlRect(QStyle::CC_ToolButton, &opt, QStyle::SC_ToolButton, widget),
             button);
    QCOMPARE(
        m_style->subControlRect(QStyle::CC_ToolButton, &opt, QStyle::SC_ToolButtonMenu, widget),
        menu);
}

// The left shadow ramp: black, alpha 0x42 at 0 and 0.1, 0x12 at 0.5, 0 at 1.
void TestSkinDrawGeometry::colorFromGradient_data()
{
    QTest::addColumn<qreal>("position");
    QTest::addColumn<int>("alpha");

    QTest::newRow("before the first stop") << -0.5 << 0x42;
    QTest::newRow("at the first stop") << 0.0 << 0x42;
    QTest::newRow("between equal stops") << 0.05 << 0x42;
    QTest::newRow("at 0.3: halfway from 0x42 to 0x12") << 0.3 << 0x2A;
    QTest::newRow("at the 0.5 stop") << 0.5 << 0x12;
    QTest::newRow("at 0.75") << 0.75 << 0x09;
    QTest::newRow("at the last stop") << 1.0 << 0;
    QTest::newRow("beyond the last stop") << 1.5 << 0;
}

void TestSkinDrawGeometry::colorFromGradient()
{
    QFETCH(qreal, position);
    QFETCH(int, alpha);

    const VuStyleOptionShadowBorder defaults;
    const QColor color = m_style->_getColorFromGradient(defaults.leftRamp, position);
    QCOMPARE(color.alpha(), alpha);
    QCOMPARE(color.rgb() & 0xFFFFFF, 0u);

    // Only the alpha is interpolated; the colour is the later stop's.
    QLinearGradient coloured;
    coloured.setStops({{0.0, QColor(255, 0, 0, 200)}, {1.0, QColor(0, 0, 255, 100)}});
    const QColor mid = m_style->_getColorFromGradient(coloured, 0.5);
    QCOMPARE(mid, QColor(0, 0, 255, 150));
}

// A 100 x 60 rectangle with radius 20; the points lie two pixels inside each corner.
void TestSkinDrawGeometry::boundPath_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("topLeft");
    QTest::addColumn<bool>("topRight");
    QTest::addColumn<bool>("bottomLeft");
    QTest::addColumn<bool>("bottomRight");

    // A rounded corner leaves its corner point outside the path.
    QTest::newRow("0: plain rectangle") << 0 << true << true << true << true;
    QTest::newRow("1: top-left") << 1 << false << true << true << true;
    QTest::newRow("2: top-right") << 2 << true << false << true << true;
    QTest::newRow("4: bottom-left") << 4 << true << true << false << true;
    QTest::newRow("8: bottom-right") << 8 << true << true << true << false;
    QTest::newRow("5: left side") << 5 << false << true << false << true;
    QTest::newRow("15: all") << 15 << false << false << false << false;
}

void TestSkinDrawGeometry::boundPath()
{
    QFETCH(int, mask);
    QFETCH(bool, topLeft);
    QFETCH(bool, topRight);
    QFETCH(bool, bottomLeft);
    QFETCH(bool, bottomRight);

    const QRectF rect(10, 20, 100, 60);
    const QPainterPath path = m_style->_getBoundPath(rect, 20, mask);
    QCOMPARE(path.boundingRect(), rect);
    QCOMPARE(path.contains(QPointF(12, 22)), topLeft);
    QCOMPARE(path.contains(QPointF(108, 22)), topRight);
    QCOMPARE(path.contains(QPointF(12, 78)), bottomLeft);
    QCOMPARE(path.contains(QPointF(108, 78)), bottomRight);
    QVERIFY(path.contains(rect.center()));
    // The rounding follows the radius: the middle of a rounded corner's arc is on the path.
    if (mask & 1)
        QVERIFY(path.contains(QPointF(10 + 20 - 20 * M_SQRT1_2 + 1, 20 + 20 - 20 * M_SQRT1_2 + 1)));
}

void TestSkinDrawGeometry::metricsAndHints_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("onVuMenu");
    QTest::addColumn<int>("expected"); // -1: the base style's answer

    QTest::newRow("scroll-bar extent") << "extent" << false << 14;
    QTest::newRow("menu panel width, VuMenu") << "panel" << true << 8;
    QTest::newRow("menu panel width, other menu") << "panel" << false << -1;
    QTest::newRow("combo popup frame style") << "popupframe" << false << 16;
    QTest::newRow("menu item height, VuMenu") << "itemheight" << true << 2;
    QTest::newRow("menu item height, other menu") << "itemheight" << false << 0;
}

void TestSkinDrawGeometry::metricsAndHints()
{
    QFETCH(QString, what);
    QFETCH(bool, onVuMenu);
    QFETCH(int, expected);

    VuMenu vuMenu;
    QMenu plainMenu;
    QWidget *menu = onVuMenu ? static_cast<QWidget *>(&vuMenu) : &plainMenu;
    QStyle *base = m_style->baseStyle();
    if (what == QLatin1String("extent")) {
        QCOMPARE(m_style->pixelMetric(QStyle::PM_ScrollBarExtent), expected);
    } else if (what == QLatin1String("panel")) {
        QCOMPARE(m_style->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, menu),
                 expected < 0 ? base->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, menu)
                              : expected);
    } else if (what == QLatin1String("popupframe")) {
        QCOMPARE(m_style->styleHint(QStyle::SH_ComboBox_PopupFrameStyle), expected);
    } else {
        QStyleOptionMenuItem opt;
        opt.text = QStringLiteral("Open");
        opt.menuItemType = QStyleOptionMenuItem::Normal;
        const QSize contents(60, 20);
        const QSize ours = m_style->sizeFromContents(QStyle::CT_MenuItem, &opt, contents, menu);
        const QSize theirs = base->sizeFromContents(QStyle::CT_MenuItem, &opt, contents, menu);
        QCOMPARE(ours.height() - theirs.height(), expected);
        QCOMPARE(ours.width(), theirs.width());
    }
}

QTEST_MAIN(TestSkinDrawGeometry)
#include "tst_skin_draw_geometry.moc"
