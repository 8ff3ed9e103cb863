// What the skin style paints: the colours and geometry of each control in the states that
// change them, checked at chosen pixels.
#include "host/VuComboBox.h"
#include "host/VuLineEdit.h"
#include "host/VuMenu.h"
#include "host/VuPushButton.h"
#include "host/VuToolButton.h"
#include "skin/PhotoOptionRoot.h"
#include "skin/PhotoOptions.h"
#include "skin/PhotoStyle.h"
#include "skin/VuSkinOption.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuStyleOptions.h"
#include "support/Pictures.h"

#include <QtTest>

#include <QPainter>
#include <QStyleFactory>

#include <functional>
#include <memory>

using namespace skin;
using namespace host;

namespace {

using State = QStyle::State;
constexpr State Normal = QStyle::State_Enabled;
constexpr State Hovered = QStyle::State_Enabled | QStyle::State_MouseOver;
constexpr State Pressed = QStyle::State_Enabled | QStyle::State_Sunken;
constexpr State PressedHovered = Pressed | QStyle::State_MouseOver;
constexpr State On = QStyle::State_Enabled | QStyle::State_On;
constexpr State Focused = QStyle::State_Enabled | QStyle::State_HasFocus;
constexpr State Disabled = QStyle::State_None;
constexpr State DisabledHovered = QStyle::State_MouseOver;

const QColor Transparent(0, 0, 0, 0);

QIcon solidIcon(const QColor &color, int side = 16)
{
    QPixmap pixmap(side, side);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

Q_DECLARE_METATYPE(QStyle::State)
Q_DECLARE_METATYPE(QMargins)

class TestSkinDraw : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pushButton_data();
    void pushButton();
    void pushButtonContents_data();
    void pushButtonContents();
    void pushButtonTextEffects_data();
    void pushButtonTextEffects();
    void indicators_data();
    void indicators();
    void lineEdit_data();
    void lineEdit();
    void comboBox_data();
    void comboBox();
    void menuItem_data();
    void menuItem();
    void menuItemKinds_data();
    void menuItemKinds();
    void menuFrame_data();
    void menuFrame();
    void scrollBar_data();
    void scrollBar();
    void slider_data();
    void slider();
    void spinBox_data();
    void spinBox();
    void toolButton_data();
    void toolButton();
    void shadow_data();
    void shadow();
    void shadowIsEven_data();
    void shadowIsEven();
    void outlinedTextPlacement_data();
    void outlinedTextPlacement();
    void graphiteSaveButtonIsLegible_data();
    void graphiteSaveButtonIsLegible();
    void scrollBarPillIsOneShape_data();
    void scrollBarPillIsOneShape();
    void spinBoxButtonsMeetTheFrame_data();
    void spinBoxButtonsMeetTheFrame();
    void wrongRecordDrawsNothing_data();
    void wrongRecordDrawsNothing();

private:
    std::unique_ptr<PhotoStyle> m_style;
};

void TestSkinDraw::initTestCase()
{
    m_style = std::make_unique<PhotoStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
    m_style->init(QString(), QStringLiteral("zh_CN"), 1.99);
    QVERIFY(m_style->setSkin(QString()));
}

// A 100 x 30 push button in the "strong" look (distinct fills per state) or the plain one
// (distinct borders per state), plain corners.
void TestSkinDraw::pushButton_data()
{
    QTest::addColumn<QString>("look");
    QTest::addColumn<State>("state");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("expected");

    const QPoint fill(50, 4), border(0, 15), corner(0, 0);
    QTest::newRow("strong normal fill")
        << "PushButtonTextStrong" << Normal << fill << QColor(0x2285EA);
    QTest::newRow("strong hovered fill")
        << "PushButtonTextStrong" << Hovered << fill << QColor(0x3895F4);
    QTest::newRow("strong pressed fill")
        << "PushButtonTextStrong" << PressedHovered << fill << QColor(0x1E78D4);
    QTest::newRow("strong on fill") << "PushButtonTextStrong" << On << fill << QColor(0x1E78D4);
    QTest::newRow("strong disabled fill")
        << "PushButtonTextStrong" << Disabled << fill << QColor(0xD2D2D2);
    QTest::newRow("strong disabled hovered fill")
        << "PushButtonTextStrong" << DisabledHovered << fill << QColor(0xD2D2D2);
    QTest::newRow("normal border") << "PushButton" << Normal << border << QColor(0xB3B3B3);
    QTest::newRow("hovered border") << "PushButton" << Hovered << border << QColor(0x80BBF7);
    QTest::newRow("pressed border") << "PushButton" << Pressed << border << QColor(0x59A7F6);
    QTest::newRow("on border") << "PushButton" << On << border << QColor(0x59A7F6);
    QTest::newRow("disabled border") << "PushButton" << Disabled << border << QColor(0xD9D9D9);
    QTest::newRow("disabled hovered border")
        << "PushButton" << DisabledHovered << border << QColor(0xD9D9D9);
    QTest::newRow("plain corner is bordered")
        << "PushButton" << Normal << corner << QColor(0xB3B3B3);
    QTest::newRow("inner edge is fill")
        << "PushButton" << Hovered << QPoint(1, 15) << QColor(0xDBE9F7);
    QTest::newRow("transparent normal fill") << "PushButton" << Normal << fill << Transparent;
}

void TestSkinDraw::pushButton()
{
    QFETCH(QString, look);
    QFETCH(State, state);
    QFETCH(QPoint, at);
    QFETCH(QColor, expected);

    VuStyleOptionPushButton opt;
    opt.rect = QRect(0, 0, 100, 30);
    opt.state = state;
    opt.skinOption = qobject_cast<VuSkinOptionPushButton *>(
        m_style->options()->property(look.toLatin1()).value<QObject *>());
    QVERIFY(opt.skinOption);
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawControl(CE_VuPushButton, &opt, p, nullptr);
    });
    QCOMPARE(pixel(image, at), expected);
}

// Layout of icon and text, text colours, display modes and corner radii.
void TestSkinDraw::pushButtonContents_data()
{
    QTest::addColumn<int>("displayMode");
    QTest::addColumn<bool>("withIcon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<State>("state");
    QTest::addColumn<double>("radius");
    QTest::addColumn<QColor>("textColor"); // invalid: no text pixel at all
    QTest::addColumn<bool>("iconShown");
    QTest::addColumn<QColor>("cornerColor");

    const QColor bd(0xB3B3B3), tx(0x424242);
    QTest::newRow("text only, normal")
        << 0 << false << "Open" << Normal << 0.0 << tx << false << bd;
    QTest::newRow("text colour disabled")
        << 0 << false << "Open" << Disabled << 0.0 << QColor(0xB1B1B1) << false << QColor(0xD9D9D9);
    QTest::newRow("icon and text") << 0 << true << "Open" << Normal << 0.0 << tx << true << bd;
    QTest::newRow("mode 2 hides the text")
        << 2 << true << "Open" << Normal << 0.0 << QColor() << true << bd;
    QTest::newRow("mode 1 hides the icon")
        << 1 << true << "Open" << Normal << 0.0 << tx << false << bd;
    QTest::newRow("radius 6 rounds the corner")
        << 0 << false << "Open" << Normal << 6.0 << tx << false << Transparent;
}

void TestSkinDraw::pushButtonContents()
{
    QFETCH(int, displayMode);
    QFETCH(bool, withIcon);
    QFETCH(QString, text);
    QFETCH(State, state);
    QFETCH(double, radius);
    QFETCH(QColor, textColor);
    QFETCH(bool, iconShown);
    QFETCH(QColor, cornerColor);

    VuPushButton button;
    button.setXRadius(radius);
    button.setYRadius(radius);
    VuStyleOptionPushButton opt;
    opt.rect = QRect(0, 0, 120, 30);
    opt.state = state;
    opt.text = text;
    opt.displayMode = displayMode;
    opt.iconTextSpacing = 4;
    opt.iconSize = QSize(16, 16);
    if (withIcon) opt.icon = solidIcon(Qt::red);
    opt.skinOption = m_style->options()->pushButton();
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawControl(CE_VuPushButton, &opt, p, &button);
    });

    const QRect inside = opt.rect.adjusted(2, 2, -2, -2);
    QCOMPARE(areaHas(image, inside, textColor), textColor.isValid());
    QCOMPARE(areaHas(image, inside, Qt::red, 0), iconShown);
    QCOMPARE(pixel(image, {0, 0}), cornerColor);
    if (withIcon && displayMode == 0) {
        // Icon and text are centred together: the icon starts left of the middle and the
        // text follows it after the spacing.
        int iconLeft = 0;
        while (iconLeft < opt.rect.width() && pixel(image, {iconLeft, 15}) != QColor(Qt::red))
            ++iconLeft;
        const int textWidth =
            QFontMetrics(opt.font).boundingRect(opt.rect, Qt::AlignVCenter, text).width();
        QCOMPARE(iconLeft, (120 - 16 - (4 + textWidth)) / 2);
        QVERIFY(!areaHas(image, QRect(0, 0, iconLeft, 30), textColor));
    }
}

// Gradient text replaces the text colour; outlined text is stroked in black and filled only
// with the gradient.
void TestSkinDraw::pushButtonTextEffects_data()
{
    QTest::addColumn<bool>("gradient");
    QTest::addColumn<bool>("outline");
    QTest::addColumn<bool>("plainColour");
    QTest::addColumn<bool>("gradientColour");
    QTest::addColumn<bool>("black");

    QTest::newRow("plain") << false << false << true << false << false;
    QTest::newRow("gradient") << true << false << false << true << false;
    QTest::newRow("outline only") << false << true << false << false << true;
    QTest::newRow("outline and gradient") << true << true << false << true << true;
}

void TestSkinDraw::pushButtonTextEffects()
{
    QFETCH(bool, gradient);
    QFETCH(bool, outline);
    QFETCH(bool, plainColour);
    QFETCH(bool, gradientColour);
    QFETCH(bool, black);

    VuSkinOptionPushButton look;
    look.setBg(Qt::white);
    look.setTx(QColor(0x00C000));
    QLinearGradient ramp;
    ramp.setStops({{0.0, QColor(0xFF0000)}, {1.0, QColor(0xFF0000)}});
    look.setTxgrad(ramp);
    look.setTxgradEnabled(gradient);
    look.setTxoutlineEnable(outline);

    VuStyleOptionPushButton opt;
    opt.rect = QRect(0, 0, 160, 40);
    opt.state = Normal;
    opt.text = QStringLiteral("HHHH");
    opt.font.setPixelSize(24);
    opt.skinOption = &look;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawControl(CE_VuPushButton, &opt, p, nullptr);
    });
    const QRect inside = opt.rect.adjusted(2, 2, -2, -2);
    QCOMPARE(areaHas(image, inside, QColor(0x00C000), 0), plainColour);
    QCOMPARE(areaHas(image, inside, QColor(0xFF0000), 0), gradientColour);
    QCOMPARE(areaHas(image, inside, Qt::black, 100), black); // an antialiased 1-pixel outline
}

// Indicator pictures: an icon with only a normal picture shows it in every state; without
// one the base style's indicator appears.
void TestSkinDraw::indicators_data()
{
    QTest::addColumn<bool>("radio");
    QTest::addColumn<bool>("withIcon");
    QTest::addColumn<State>("state");

    for (bool radio : {false, true}) {
        const char *kind = radio ? "radio" : "check";
        for (const auto &[name, state] : {std::pair{"normal", Normal},
                                          {"hovered", Hovered},
                                          {"on", On},
                                          {"disabled", Disabled}}) {
            QTest::addRow("%s, icon, %s", kind, name) << radio << true << state;
        }
        QTest::addRow("%s, base indicator", kind) << radio << false << Normal;
    }
}

void TestSkinDraw::indicators()
{
    QFETCH(bool, radio);
    QFETCH(bool, withIcon);
    QFETCH(State, state);

    const QIcon icon = withIcon ? solidIcon(Qt::red, 20) : QIcon();
    const QRect rect(0, 0, 120, 20);
    const QImage image = render(rect.size(), [&](QPainter *p) {
        if (radio) {
            VuStyleOptionRadioButton opt;
            opt.rect = rect;
            opt.state = state;
            opt.text = QStringLiteral("Label");
            opt.indicatorIcon = icon;
            m_style->drawControl(CE_VuRadioButton, &opt, p, nullptr);
        } else {
            VuStyleOptionCheckBox opt;
            opt.rect = rect;
            opt.state = state;
            opt.text = QStringLiteral("Label");
            opt.indicatorIcon = icon;
            m_style->drawControl(CE_VuCheckBox, &opt, p, nullptr);
        }
    });
    if (withIcon) {
        QCOMPARE(pixel(image, {10, 10}), QColor(Qt::red));
    } else {
        QVERIFY(!areaHas(image, QRect(0, 0, 20, 20), Qt::red, 0));
        QVERIFY(pixel(image, {1, 10}).alpha() > 0 || pixel(image, {10, 10}).alpha() > 0);
    }
    // The label is drawn right of the indicator.
    QVERIFY(areaHas(image, QRect(22, 0, 98, 20),
                    m_style->standardPalette().color(QPalette::WindowText), 40));
}

void TestSkinDraw::lineEdit_data()
{
    QTest::addColumn<State>("state");
    QTest::addColumn<QColor>("frame");

    QTest::newRow("normal") << Normal << Transparent;
    QTest::newRow("hovered") << Hovered << QColor(0x95BCF3);
    QTest::newRow("focused") << Focused << QColor(0x2385EA);
    QTest::newRow("focused wins") << (Focused | Hovered) << QColor(0x2385EA);
    QTest::newRow("disabled") << Disabled << Transparent;
    QTest::newRow("disabled hovered") << DisabledHovered << Transparent;
}

void TestSkinDraw::lineEdit()
{
    QFETCH(State, state);
    QFETCH(QColor, frame);

    VuLineEdit edit;
    QStyleOptionFrame opt;
    opt.rect = QRect(0, 0, 80, 24);
    opt.state = state;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, p, &edit);
    });
    QCOMPARE(pixel(image, {0, 12}), frame);
    QCOMPARE(pixel(image, {79, 12}), frame);
    QCOMPARE(pixel(image, {40, 23}), frame);
    QCOMPARE(pixel(image, {40, 12}), Transparent); // no background
}

// An 80 x 24 combo box; the text is in the palette's window-text colour.
void TestSkinDraw::comboBox_data()
{
    QTest::addColumn<bool>("filled");
    QTest::addColumn<State>("state");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("border");

    QTest::newRow("filled normal") << true << Normal << QColor(Qt::white) << QColor(0xAAAAAA);
    QTest::newRow("filled hovered") << true << Hovered << QColor(0xEBF1FB) << QColor(0xC3D8FF);
    QTest::newRow("filled on") << true << (On | Hovered) << QColor(0xD6E8FB) << QColor(0x5C8CE4);
    QTest::newRow("filled disabled") << true << Disabled << QColor(Qt::white) << QColor(0xAAAAAA);
    QTest::newRow("plain normal") << false << Normal << Transparent << QColor(0xCCCCCC);
    QTest::newRow("plain on") << false << On << Transparent << QColor(0xCCCCCC);
}

void TestSkinDraw::comboBox()
{
    QFETCH(bool, filled);
    QFETCH(State, state);
    QFETCH(QColor, fill);
    QFETCH(QColor, border);

    VuComboBox combo;
    combo.setFilledLook(filled);
    VuStyleOptionComboBox opt;
    opt.rect = QRect(0, 0, 80, 24);
    opt.state = state;
    opt.currentText = QStringLiteral("Mode");
    opt.palette.setColor(QPalette::WindowText, QColor(0x00C000));
    opt.arrowIcon = solidIcon(Qt::red, 8);
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(CC_VuComboBox, &opt, p, &combo);
    });
    QCOMPARE(pixel(image, {2, 2}), fill);
    QCOMPARE(pixel(image, {0, 12}), border);
    QCOMPARE(pixel(image, {79, 12}), border);
    QCOMPARE(pixel(image, {40, 23}), border);
    QVERIFY(areaHas(image, QRect(12, 0, 50, 24), QColor(0x00C000)));
    QVERIFY(!areaHas(image, QRect(0, 0, 12, 24), QColor(0x00C000)));
    // Filled: arrow in the bottom-right corner square; plain: at the left of the arrow
    // strip, vertically centred.
    if (filled) {
        QCOMPARE(pixel(image, {78 - 1, 22 - 1}), QColor(Qt::red));
        QCOMPARE(pixel(image, {78 - 1, 3}), fill);
    } else {
        QCOMPARE(pixel(image, {80 - 18 - 4, 12}), QColor(Qt::red));
        QCOMPARE(pixel(image, {80 - 18 - 4 - 1, 12}), Transparent);
    }
}

// A 200 x 30 item of a VuMenu: panel width 8, no check column, so the text starts at 18
// and the shortcut column at 18 + (8 + 200 - 60 - 18 - 9).
void TestSkinDraw::menuItem_data()
{
    QTest::addColumn<bool>("ownLook");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<State>("state");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("shortcut");

    const QColor hover(0xC8DEF6), font(0x454545), greyText(0x9F9F9F), buttonText(0x00C000);
    QTest::newRow("own look") << true << false << Normal << QColor(Qt::white) << font << greyText;
    QTest::newRow("own look selected")
        << true << false << (Normal | QStyle::State_Selected) << hover << font << greyText;
    QTest::newRow("root look") << false << false << Normal << Transparent << buttonText << greyText;
    QTest::newRow("root look selected")
        << false << false << (Normal | QStyle::State_Selected) << hover << buttonText << greyText;
    QTest::newRow("disabled") << true << false << Disabled << QColor(Qt::white) << font
                              << buttonText;
    QTest::newRow("disabled, grey")
        << true << true << Disabled << QColor(Qt::white) << greyText << greyText;
}

void TestSkinDraw::menuItem()
{
    QFETCH(bool, ownLook);
    QFETCH(bool, grey);
    QFETCH(State, state);
    QFETCH(QColor, fill);
    QFETCH(QColor, text);
    QFETCH(QColor, shortcut);

    VuMenu menu;
    menu.resize(200, 30);
    VuSkinOptionMenuItem look;
    VuStyleOptionMenuItem opt;
    opt.rect = QRect(0, 0, 200, 30);
    opt.state = state;
    opt.text = QStringLiteral("Open\tCtrl+O");
    opt.tabWidth = 60;
    opt.maxIconWidth = 0;
    opt.palette.setColor(QPalette::ButtonText, QColor(0x00C000));
    opt.skinOption = ownLook ? &look : nullptr;
    opt.greyWhenDisabled = grey;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawControl(QStyle::CE_MenuItem, &opt, p, &menu);
    });
    const int shortcutLeft = 18 + (8 + 200 - 60 - 18 - 9);
    QCOMPARE(pixel(image, {2, 2}), fill);
    QVERIFY(areaHas(image, QRect(18, 4, 40, 22), text));
    QVERIFY(!areaHas(image, QRect(0, 0, 18, 30), text));
    QVERIFY(areaHas(image, QRect(shortcutLeft, 4, 200 - shortcutLeft, 22), shortcut));
    if (text != shortcut)
        QVERIFY(!areaHas(image, QRect(shortcutLeft, 4, 200 - shortcutLeft, 22), text));
}

// Separators, checked items and sub-menu items of a 200 x 30 item with a check column
// (16 wide at 18): the text starts at 8 + 16 + 17.
void TestSkinDraw::menuItemKinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("ownLook");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("expected");

    const int separator = QStyleOptionMenuItem::Separator, normal = QStyleOptionMenuItem::Normal,
              subMenu = QStyleOptionMenuItem::SubMenu;
    QTest::newRow("separator fill")
        << separator << true << false << QPoint(2, 2) << QColor(0x010203);
    QTest::newRow("separator line")
        << separator << true << false << QPoint(41, 15) << QColor(0x040506);
    QTest::newRow("separator line ends 11 before the panel edge")
        << separator << true << false << QPoint(8 + 200 - 10, 15) << QColor(0x010203);
    QTest::newRow("separator before the text column")
        << separator << true << false << QPoint(40, 15) << QColor(0x010203);
    QTest::newRow("separator, root look: no fill")
        << separator << false << false << QPoint(2, 2) << Transparent;
    QTest::newRow("separator, root look: line")
        << separator << false << false << QPoint(60, 15) << QColor(0xE6E6E6);
    QTest::newRow("unchecked: empty check column")
        << normal << true << false << QPoint(-1, -1) << QColor(Qt::white);
    QTest::newRow("checked: check mark") << normal << true << true << QPoint(-1, -1) << QColor();
    QTest::newRow("sub-menu arrow") << subMenu << true << false << QPoint(-2, -2) << QColor();
}

void TestSkinDraw::menuItemKinds()
{
    QFETCH(int, kind);
    QFETCH(bool, ownLook);
    QFETCH(bool, checked);
    QFETCH(QPoint, at);
    QFETCH(QColor, expected);

    VuMenu menu;
    menu.resize(200, 30);
    VuSkinOptionMenuItem look;
    look.setSeparatorBg(QColor(0x010203));
    look.setSeparator(QColor(0x040506));
    VuStyleOptionMenuItem opt;
    opt.rect = QRect(0, 0, 200, 30);
    opt.state = Normal;
    opt.text = QStringLiteral("Item");
    opt.menuItemType = QStyleOptionMenuItem::MenuItemType(kind);
    opt.menuHasCheckableItems = true;
    opt.checkType = QStyleOptionMenuItem::NonExclusive;
    opt.checked = checked;
    opt.skinOption = ownLook ? &look : nullptr;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawControl(QStyle::CE_MenuItem, &opt, p, &menu);
    });
    const QRect checkColumn(18, 0, 16, 30);
    const QRect arrowSquare(200 - 13 - 8, 15 - 6, 13, 13);
    if (at == QPoint(-1, -1))
        QCOMPARE(areaChanged(image, checkColumn, Qt::white), checked); // the check mark
    else if (at == QPoint(-2, -2))
        QVERIFY(areaChanged(image, arrowSquare, Qt::white)); // the base style's arrow
    else
        QCOMPARE(pixel(image, at), expected);
}

void TestSkinDraw::menuFrame_data()
{
    QTest::addColumn<bool>("ownLook");
    QTest::addColumn<QColor>("frame");

    QTest::newRow("own look") << true << QColor(0x123456);
    QTest::newRow("no look") << false << QColor(0xBFBFBF);
}

// Frame at the panel width less 1 from the left and top; panel edge on the right at the
// panel width.
void TestSkinDraw::menuFrame()
{
    QFETCH(bool, ownLook);
    QFETCH(QColor, frame);

    VuMenu menu;
    VuSkinOptionMenuItem look;
    look.setFrame(QColor(0x123456));
    VuStyleOptionMenuFrame opt;
    opt.rect = QRect(0, 0, 100, 60);
    opt.skinOption = ownLook ? &look : nullptr;
    VuStyleOptionMenuItem panel;
    panel.rect = opt.rect;
    panel.skinOption = opt.skinOption;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawPrimitive(QStyle::PE_PanelMenu, &panel, p, &menu);
        m_style->drawPrimitive(QStyle::PE_FrameMenu, &opt, p, &menu);
    });
    QCOMPARE(pixel(image, {7, 30}), frame);       // left: 8 - 1
    QCOMPARE(pixel(image, {50, 7}), frame);       // top
    QCOMPARE(pixel(image, {100 - 9, 30}), frame); // right: 99 - 8 (also the panel edge)
    QCOMPARE(pixel(image, {50, 60 - 8}), frame);  // bottom: 59 - 8 + 1
    QCOMPARE(pixel(image, {50, 30}), ownLook ? Transparent : QColor(Qt::white));
}

// A 200 x 14 horizontal bar on 0..90 with page step 10 (handle geometry: see the geometry
// tests); the pill is inset 3 pixels across and rounded at its ends.
void TestSkinDraw::scrollBar_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<State>("state");
    QTest::addColumn<QColor>("pill");

    QTest::newRow("normal at 0") << 0 << Normal << QColor(0xCFCFCF);
    QTest::newRow("hovered at 45") << 45 << Hovered << QColor(0xBEBEBE);
    QTest::newRow("pressed at 90") << 90 << PressedHovered << QColor(0xA0A0A0);
    QTest::newRow("disabled") << 45 << Disabled << QColor(0xCFCFCF);
}

void TestSkinDraw::scrollBar()
{
    QFETCH(int, value);
    QFETCH(State, state);
    QFETCH(QColor, pill);

    QStyleOptionSlider opt;
    opt.rect = QRect(0, 0, 200, 14);
    opt.state = state | QStyle::State_Horizontal;
    opt.orientation = Qt::Horizontal;
    opt.minimum = 0;
    opt.maximum = 90;
    opt.pageStep = 10;
    opt.sliderPosition = opt.sliderValue = value;
    opt.subControls = QStyle::SC_All;
    opt.activeSubControls = QStyle::SC_ScrollBarSlider;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(QStyle::CC_ScrollBar, &opt, p, nullptr);
    });
    const QRect handle =
        m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider);
    QCOMPARE(handle.left() == 0, value == 0);
    QCOMPARE(handle.right() == 199, value == 90);
    const QColor track(0xF1F1F1);
    const int mid = handle.center().x();
    QCOMPARE(pixel(image, {mid, 7}), pill);
    QCOMPARE(pixel(image, {mid, 2}), track); // 3 pixels of track above and below the pill
    QCOMPARE(pixel(image, {mid, 3}), pill);
    QCOMPARE(pixel(image, {mid, 10}), pill);
    QCOMPARE(pixel(image, {mid, 11}), track);
    QCOMPARE(pixel(image, {handle.left(), 3}), track); // rounded ends
    QCOMPARE(pixel(image, {handle.right(), 10}), track);
    if (handle.left() > 0) QCOMPARE(pixel(image, {handle.left() - 1, 7}), track);
    if (handle.right() < 199) QCOMPARE(pixel(image, {handle.right() + 1, 7}), track);
}

// A 106 x 20 slider on 0..100 at 50; groove 100 x 4, handle 12 x 12. Skinned looks use
// distinct colours per state.
void TestSkinDraw::slider_data()
{
    QTest::addColumn<bool>("skinned");
    QTest::addColumn<State>("state");
    QTest::addColumn<QColor>("handleFill");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");

    QTest::newRow("skinned normal")
        << true << Normal << QColor(0x000010) << QColor(0x100000) << QColor(0x200000);
    QTest::newRow("skinned hovered")
        << true << Hovered << QColor(0x000020) << QColor(0x100000) << QColor(0x200000);
    QTest::newRow("skinned pressed")
        << true << Pressed << QColor(0x000030) << QColor(0x100000) << QColor(0x200000);
    QTest::newRow("skinned pressed hovered")
        << true << PressedHovered << QColor(0x000030) << QColor(0x100000) << QColor(0x200000);
    QTest::newRow("skinned disabled")
        << true << Disabled << QColor(0x000040) << QColor(0x110000) << QColor(0x210000);
    QTest::newRow("skinned disabled hovered")
        << true << DisabledHovered << QColor(0x000040) << QColor(0x110000) << QColor(0x210000);
    QTest::newRow("built-in normal")
        << false << Normal << QColor(Qt::white) << QColor(0x2285EA) << QColor(0xBFC0C5);
    QTest::newRow("built-in hovered")
        << false << Hovered << QColor(0xF1F7FB) << QColor(0x2285EA) << QColor(0xBFC0C5);
    QTest::newRow("built-in pressed")
        << false << PressedHovered << QColor(0xD5E6F5) << QColor(0x2285EA) << QColor(0xBFC0C5);
    QTest::newRow("built-in disabled")
        << false << Disabled << QColor(Qt::white) << QColor(0x2285EA) << QColor(0xBFC0C5);
}

void TestSkinDraw::slider()
{
    QFETCH(bool, skinned);
    QFETCH(State, state);
    QFETCH(QColor, handleFill);
    QFETCH(QColor, left);
    QFETCH(QColor, right);

    VuSkinOptionPeSlider look;
    look.setSliderbg(QColor(0x000010));
    look.setSliderbghover(QColor(0x000020));
    look.setSliderbgdown(QColor(0x000030));
    look.setSliderbgDisabled(QColor(0x000040));
    look.setLeftBg(QColor(0x100000));
    look.setLeftBgDisabled(QColor(0x110000));
    look.setRightBg(QColor(0x200000));
    look.setRightBgDisabled(QColor(0x210000));

    VuStyleOptionSlider opt;
    opt.rect = QRect(0, 0, 106, 20);
    opt.state = state | QStyle::State_Horizontal;
    opt.orientation = Qt::Horizontal;
    opt.minimum = 0;
    opt.maximum = 100;
    opt.sliderPosition = opt.sliderValue = 50;
    opt.subControls = QStyle::SC_All;
    opt.skinOption = skinned ? &look : nullptr;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(CC_VuSlider, &opt, p, nullptr);
    });

    // The handle is centred one pixel left of the base style's handle.
    const QStyleOptionSlider plain = asQtRecord<QStyleOptionSlider>(opt);
    const QPoint centre =
        m_style->baseStyle()
            ->subControlRect(QStyle::CC_Slider, &plain, QStyle::SC_SliderHandle, nullptr)
            .center() -
        QPoint(1, 0);
    QCOMPARE(pixel(image, centre), handleFill);
    QCOMPARE(pixel(image, {30, 10}), left);
    QCOMPARE(pixel(image, {80, 10}), right);
    QCOMPARE(pixel(image, {30, 7}), Transparent); // groove is 4 pixels thick: rows 8 to 11
    QCOMPARE(pixel(image, {30, 8}), left);
    QCOMPARE(pixel(image, {30, 11}), left);
    QCOMPARE(pixel(image, {30, 12}), Transparent);
}

// An 80 x 40 spin box; the style's buttons are 14 wide at the right.
void TestSkinDraw::spinBox_data()
{
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("active");
    QTest::addColumn<QColor>("inside");
    QTest::addColumn<QColor>("up");
    QTest::addColumn<QColor>("down");

    const QColor button(0xDBDBDA), pressed(0xE8F3FD);
    QTest::newRow("normal") << Normal << int(QStyle::SC_None) << Transparent << button << button;
    QTest::newRow("up pressed") << Pressed << int(QStyle::SC_SpinBoxUp) << Transparent << pressed
                                << button;
    QTest::newRow("down pressed") << Pressed << int(QStyle::SC_SpinBoxDown) << Transparent << button
                                  << pressed;
    QTest::newRow("up hovered") << Hovered << int(QStyle::SC_SpinBoxUp) << Transparent << button
                                << button;
    QTest::newRow("disabled") << Disabled << int(QStyle::SC_None) << QColor(0xF0F0F0) << button
                              << button;
}

void TestSkinDraw::spinBox()
{
    QFETCH(State, state);
    QFETCH(int, active);
    QFETCH(QColor, inside);
    QFETCH(QColor, up);
    QFETCH(QColor, down);

    QStyleOptionSpinBox opt;
    opt.rect = QRect(0, 0, 80, 40);
    opt.state = state;
    opt.frame = true;
    opt.subControls = QStyle::SC_All;
    opt.activeSubControls = QStyle::SubControl(active);
    opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(QStyle::CC_SpinBox, &opt, p, nullptr);
    });
    const QRect upRect = m_style->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxUp);
    const QRect downRect =
        m_style->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxDown);
    QCOMPARE(pixel(image, {0, 20}), QColor(0xCCCCCC));
    QCOMPARE(pixel(image, {20, 39}), QColor(0xCCCCCC)); // the outline lies inside
    QCOMPARE(pixel(image, {20, 0}), QColor(0xCCCCCC));
    QCOMPARE(pixel(image, {20, 20}), inside);
    QCOMPARE(pixel(image, upRect.topLeft() + QPoint(1, 1)), up);
    QCOMPARE(pixel(image, downRect.bottomLeft() + QPoint(1, -1)), down);
    // The separator along the down button's top edge.
    QCOMPARE(pixel(image, downRect.topLeft() + QPoint(1, 0)), QColor(0xB9BAB9));
}

// A 60 x 24 tool button whose menu area is 16 wide: the 4 x 2 arrow sits at (50, 11) and is
// drawn as rows of 5, 3 and 1 pixels.
void TestSkinDraw::toolButton_data()
{
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("arrowType");
    QTest::addColumn<QColor>("arrow");

    QTest::newRow("enabled") << Normal << int(Qt::DownArrow) << QColor(0x2788EA);
    QTest::newRow("hovered") << Hovered << int(Qt::DownArrow) << QColor(0x2788EA);
    QTest::newRow("disabled") << Disabled << int(Qt::DownArrow) << QColor(0xBFC0C5);
    QTest::newRow("no arrow") << Normal << int(Qt::NoArrow) << QColor();
}

void TestSkinDraw::toolButton()
{
    QFETCH(State, state);
    QFETCH(int, arrowType);
    QFETCH(QColor, arrow);

    VuToolButton button;
    button.resize(60, 24);
    button.setMenuAreaWidth(16);
    VuStyleOptionToolButton opt;
    opt.rect = QRect(0, 0, 60, 24);
    opt.state = state;
    opt.arrowType = Qt::ArrowType(arrowType);
    opt.subControls = QStyle::SC_ToolButton | QStyle::SC_ToolButtonMenu;
    const QImage image = render(
        opt.rect.size(),
        [&](QPainter *p) { m_style->drawComplexControl(CC_VuToolButton, &opt, p, &button); },
        Qt::green);

    QCOMPARE(pixel(image, {1, 1}), Transparent);         // cleared
    QCOMPARE(pixel(image, {59, 23}), QColor(Qt::green)); // but not the last row and column
    const QColor none = Transparent;
    const QColor a = arrow.isValid() ? arrow : none;
    for (int x = 49; x <= 55; ++x) {
        QCOMPARE(pixel(image, {x, 11}), x >= 50 && x <= 54 ? a : none);
        QCOMPARE(pixel(image, {x, 12}), x >= 51 && x <= 53 ? a : none);
        QCOMPARE(pixel(image, {x, 13}), x == 52 ? a : none);
    }
}

// A 100 x 100 shadow ring 10 wide. The ramps give alpha 65 one pixel outside the window
// on each side (0x42 blended a ninth of the way towards 0x12), the bottom 66.
void TestSkinDraw::shadow_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<bool>("drawShadow");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("alpha");

    const QPoint left(9, 50), top(50, 9), right(90, 50), bottom(50, 90);
    QTest::newRow("left") << 10 << 1.0 << true << left << 65;
    QTest::newRow("top") << 10 << 1.0 << true << top << 65;
    QTest::newRow("right") << 10 << 1.0 << true << right << 65;
    QTest::newRow("bottom") << 10 << 1.0 << true << bottom << 65;
    QTest::newRow("outermost line is clear") << 10 << 1.0 << true << QPoint(1, 50) << 0;
    QTest::newRow("outermost right line is clear") << 10 << 1.0 << true << QPoint(98, 50) << 0;
    QTest::newRow("outermost bottom line is clear") << 10 << 1.0 << true << QPoint(50, 98) << 0;
    QTest::newRow("left at half opacity") << 10 << 0.5 << true << left << 32;
    QTest::newRow("bottom at half opacity") << 10 << 0.5 << true << bottom << 32;
    // Each corner is painted once, with its own gradient, and each strip ends in the colour
    // of the corner it meets.
    QTest::newRow("top-left corner") << 10 << 1.0 << true << QPoint(9, 9) << 25;
    QTest::newRow("top-right corner") << 10 << 1.0 << true << QPoint(90, 9) << 28;
    QTest::newRow("bottom-left corner") << 10 << 1.0 << true << QPoint(9, 90) << 28;
    QTest::newRow("bottom-right corner") << 10 << 1.0 << true << QPoint(90, 90) << 43;
    QTest::newRow("left strip at the top-left corner") << 10 << 1.0 << true << QPoint(9, 10) << 24;
    QTest::newRow("left strip at the bottom-left corner")
        << 10 << 1.0 << true << QPoint(9, 89) << 28;
    QTest::newRow("right strip at the top-right corner")
        << 10 << 1.0 << true << QPoint(90, 10) << 27;
    QTest::newRow("right strip at the bottom-right corner")
        << 10 << 1.0 << true << QPoint(90, 89) << 42;
    QTest::newRow("bottom strip at the bottom-left corner")
        << 10 << 1.0 << true << QPoint(10, 90) << 28;
    QTest::newRow("bottom strip at the bottom-right corner")
        << 10 << 1.0 << true << QPoint(89, 90) << 42;
    QTest::newRow("top-left corner at half opacity") << 10 << 0.5 << true << QPoint(9, 9) << 12;
    QTest::newRow("width 0") << 0 << 1.0 << true << left << 0;
    QTest::newRow("width 0, corner") << 0 << 1.0 << true << QPoint(1, 1) << 0;
    QTest::newRow("negative width") << -3 << 1.0 << true << QPoint(1, 1) << 0;
    QTest::newRow("shadow off") << 10 << 1.0 << false << left << 0;
}

void TestSkinDraw::shadow()
{
    QFETCH(int, width);
    QFETCH(double, opacity);
    QFETCH(bool, drawShadow);
    QFETCH(QPoint, at);
    QFETCH(int, alpha);

    VuStyleOptionShadowBorder opt;
    opt.rect = QRect(0, 0, 100, 100);
    opt.shadowWidth = width;
    opt.opacity = opacity;
    opt.drawShadow = drawShadow;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawPrimitive(PE_VuShadowBorder, &opt, p, nullptr);
    });
    const QColor got = pixel(image, at);
    QVERIFY2(qAbs(got.alpha() - alpha) <= 1, qPrintable(QString::number(got.alpha())));
    if (alpha > 0) QCOMPARE(got.rgb() & 0xFFFFFF, 0u); // black
    if (width < 1 || !drawShadow) QCOMPARE(image, render(opt.rect.size(), [](QPainter *) {}));
}

// Corners that mirror the top-left one and one ramp for every side: the shadow is the same
// on the left and the right, and its left and right columns are the same at the top and the
// bottom (the top and bottom strips differ only in their blend length).
void TestSkinDraw::shadowIsEven_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("width");
    QTest::newRow("100 x 80, ring 10") << QSize(100, 80) << 10;
    QTest::newRow("150 x 120, ring 16") << QSize(150, 120) << 16;
    QTest::newRow("odd sizes, ring 7") << QSize(101, 77) << 7;
}

void TestSkinDraw::shadowIsEven()
{
    QFETCH(QSize, size);
    QFETCH(int, width);

    VuStyleOptionShadowBorder opt;
    opt.rect = QRect(QPoint(0, 0), size);
    opt.shadowWidth = width;
    opt.drawShadow = true;
    const QGradientStops corner = opt.topLeftCorner.stops();
    const auto mirrored = [&corner](qreal x, qreal y) {
        QRadialGradient g(QPointF(x, y), 1.0, QPointF(x, y));
        g.setCoordinateMode(QGradient::ObjectBoundingMode);
        g.setStops(corner);
        return g;
    };
    opt.topRightCorner = mirrored(0, 1);
    opt.bottomLeftCorner = mirrored(1, 0);
    opt.bottomRightCorner = mirrored(0, 0);
    opt.topRamp = opt.rightRamp = opt.bottomRamp = opt.leftRamp;
    const QImage image = render(
        size, [&](QPainter *p) { m_style->drawPrimitive(PE_VuShadowBorder, &opt, p, nullptr); });

    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x) {
            const int a = pixel(image, {x, y}).alpha(), b = pixel(image, {w - 1 - x, y}).alpha();
            QVERIFY2(qAbs(a - b) <= 1,
                     qPrintable(
                         QStringLiteral("(%1, %2): %3, mirrored %4").arg(x).arg(y).arg(a).arg(b)));
        }
    for (int y = 0; y < h / 2; ++y)
        for (int x : {0, 1, width / 2, width - 1, w - width, w - 1 - width / 2, w - 2}) {
            const int a = pixel(image, {x, y}).alpha(), b = pixel(image, {x, h - 1 - y}).alpha();
            QVERIFY2(qAbs(a - b) <= 1,
                     qPrintable(
                         QStringLiteral("(%1, %2): %3, mirrored %4").arg(x).arg(y).arg(a).arg(b)));
        }
}
// Outlined text lies where plain text lies: inside the contents rectangle (margins count),
// centred without an icon, right after the icon with one.
void TestSkinDraw::outlinedTextPlacement_data()
{
    QTest::addColumn<QMargins>("margins");
    QTest::addColumn<bool>("withIcon");
    QTest::addColumn<int>("direction");

    const int ltr = Qt::LeftToRight;
    QTest::newRow("no margins") << QMargins() << false << ltr;
    QTest::newRow("top margin") << QMargins(0, 24, 0, 0) << false << ltr;
    QTest::newRow("bottom margin") << QMargins(0, 0, 0, 24) << false << ltr;
    QTest::newRow("left margin") << QMargins(40, 0, 0, 0) << false << ltr;
    QTest::newRow("icon") << QMargins() << true << ltr;
    QTest::newRow("icon and top margin") << QMargins(0, 20, 0, 0) << true << ltr;
    QTest::newRow("icon, right to left") << QMargins() << true << int(Qt::RightToLeft);
}

void TestSkinDraw::outlinedTextPlacement()
{
    QFETCH(QMargins, margins);
    QFETCH(bool, withIcon);
    QFETCH(int, direction);

    VuSkinOptionPushButton look;
    look.setBg(Qt::white);
    look.setBd(Qt::white);
    look.setTx(Qt::black);
    VuStyleOptionPushButton opt;
    opt.rect = QRect(0, 0, 240, 70);
    opt.state = Normal;
    opt.direction = Qt::LayoutDirection(direction);
    opt.text = QStringLiteral("HHHH");
    opt.font.setPixelSize(20);
    opt.marginLeft = margins.left();
    opt.marginTop = margins.top();
    opt.marginRight = margins.right();
    opt.marginBottom = margins.bottom();
    opt.iconSize = QSize(16, 16);
    opt.iconTextSpacing = 4;
    if (withIcon) opt.icon = solidIcon(Qt::red);
    opt.skinOption = &look;

    const auto inkOf = [&](bool outline) {
        look.setTxoutlineEnable(outline);
        const QImage image = render(opt.rect.size(), [&](QPainter *p) {
            m_style->drawControl(CE_VuPushButton, &opt, p, nullptr);
        });
        QRect ink;
        for (int y = 1; y < image.height() - 1; ++y)
            for (int x = 1; x < image.width() - 1; ++x)
                if (qGray(image.pixel(x, y)) < 128 && pixel(image, {x, y}) != QColor(Qt::red))
                    ink |= QRect(x, y, 1, 1);
        return ink;
    };
    const QRect plain = inkOf(false);
    const QRect outlined = inkOf(true);
    QVERIFY(!plain.isEmpty());
    QVERIFY(!outlined.isEmpty());
    // The outline font is one pixel larger and the outline adds a pixel on each side: the
    // outlined text starts and is centred where the plain text is, and ends a little later.
    const auto close = [](int a, int b, int tolerance) { return qAbs(a - b) <= tolerance; };
    const bool centred = !withIcon;
    QVERIFY2(close(plain.center().y(), outlined.center().y(), 2) &&
                 close(plain.left(), outlined.left(), centred ? 4 : 2) &&
                 close(plain.right(), outlined.right(), centred ? 4 : 6),
             qPrintable(QStringLiteral("plain %1,%2 %3x%4, outlined %5,%6 %7x%8")
                            .arg(plain.x())
                            .arg(plain.y())
                            .arg(plain.width())
                            .arg(plain.height())
                            .arg(outlined.x())
                            .arg(outlined.y())
                            .arg(outlined.width())
                            .arg(outlined.height())));
}

// An odd pill thickness puts the joints between the pill's body and its rounded ends inside
// a pixel; one filled shape leaves no lighter seam there.
void TestSkinDraw::scrollBarPillIsOneShape_data()
{
    QTest::addColumn<int>("thickness");
    QTest::addColumn<int>("orientation");
    QTest::newRow("horizontal, 13 high") << 13 << int(Qt::Horizontal);
    QTest::newRow("horizontal, 14 high") << 14 << int(Qt::Horizontal);
    QTest::newRow("vertical, 13 wide") << 13 << int(Qt::Vertical);
    QTest::newRow("vertical, 15 wide") << 15 << int(Qt::Vertical);
}

void TestSkinDraw::scrollBarPillIsOneShape()
{
    QFETCH(int, thickness);
    QFETCH(int, orientation);

    const bool horizontal = orientation == Qt::Horizontal;
    QStyleOptionSlider opt;
    opt.rect = horizontal ? QRect(0, 0, 200, thickness) : QRect(0, 0, thickness, 200);
    opt.state = Normal;
    opt.orientation = Qt::Orientation(orientation);
    opt.maximum = 90;
    opt.pageStep = 30;
    opt.sliderPosition = opt.sliderValue = 45;
    opt.subControls = QStyle::SC_All;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(QStyle::CC_ScrollBar, &opt, p, nullptr);
    });
    const QRect handle =
        m_style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider);
    const int t = thickness - 6;
    // Along the pill's middle line, from half a thickness after its start to half a
    // thickness before its end, every pixel has the pill's colour.
    const int from = (horizontal ? handle.left() : handle.top()) + (t - 1) / 2;
    const int to = (horizontal ? handle.right() : handle.bottom()) - (t - 1) / 2;
    const int across = thickness / 2;
    for (int along = from; along <= to; ++along) {
        const QPoint at = horizontal ? QPoint(along, across) : QPoint(across, along);
        QVERIFY2(pixel(image, at) == QColor(0xCFCFCF),
                 qPrintable(QStringLiteral("%1 at %2").arg(pixel(image, at).name()).arg(along)));
    }
}
// The buttons meet the one-pixel frame on three sides alike: no gap at the right or the
// bottom, the frame line itself kept at the top.
void TestSkinDraw::spinBoxButtonsMeetTheFrame_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("direction");
    QTest::newRow("24 high") << 24 << int(Qt::LeftToRight);
    QTest::newRow("25 high") << 25 << int(Qt::LeftToRight);
    QTest::newRow("40 high") << 40 << int(Qt::LeftToRight);
    QTest::newRow("24 high, right to left") << 24 << int(Qt::RightToLeft);
}

void TestSkinDraw::spinBoxButtonsMeetTheFrame()
{
    QFETCH(int, height);
    QFETCH(int, direction);

    QStyleOptionSpinBox opt;
    opt.rect = QRect(0, 0, 80, height);
    opt.state = Normal;
    opt.direction = Qt::LayoutDirection(direction);
    opt.frame = true;
    opt.subControls = QStyle::SC_All;
    opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        m_style->drawComplexControl(QStyle::CC_SpinBox, &opt, p, nullptr);
    });
    const QColor frame(0xCCCCCC), button(0xDBDBDA);
    const bool rtl = direction == Qt::RightToLeft;
    const int outer = rtl ? 0 : 79, inner = rtl ? 1 : 78; // the frame's side and the next column
    const int column = rtl ? 7 : 72;                      // inside both buttons
    const int upRow = height / 4, downRow = height * 3 / 4;
    QCOMPARE(pixel(image, {column, 0}), frame);
    QCOMPARE(pixel(image, {column, 1}), button);
    QCOMPARE(pixel(image, {outer, upRow}), frame);
    QCOMPARE(pixel(image, {inner, upRow}), button);
    QCOMPARE(pixel(image, {inner, downRow}), button);
    QCOMPARE(pixel(image, {column, height - 1}), frame);
    QCOMPARE(pixel(image, {column, height - 2}), button);
}

// The graphite sample skin outlines the save button's text on a dark fill; the letters are
// filled light, so they read in every state.
void TestSkinDraw::graphiteSaveButtonIsLegible_data()
{
    QTest::addColumn<State>("state");
    QTest::newRow("normal") << Normal;
    QTest::newRow("hovered") << Hovered;
    QTest::newRow("pressed") << PressedHovered;
}

void TestSkinDraw::graphiteSaveButtonIsLegible()
{
    QFETCH(State, state);

    PhotoStyle style(QStyleFactory::create(QStringLiteral("Fusion")));
    style.init(QStringLiteral(PICSAGE_SKINS), QStringLiteral("zh_CN"), 1.99);
    QVERIFY(style.setSkin(QStringLiteral("graphite")));
    auto *root = qobject_cast<PhotoOptionRoot *>(style.options());
    QVERIFY(root);
    VuSkinOptionPushButton *look = root->pvMattingSaveBtn();
    QVERIFY(look->txoutlineEnable());

    VuStyleOptionPushButton opt;
    opt.rect = QRect(0, 0, 160, 40);
    opt.state = state;
    opt.text = QStringLiteral("Save");
    opt.font.setPixelSize(20);
    opt.skinOption = look;
    const QImage image = render(opt.rect.size(), [&](QPainter *p) {
        style.drawControl(CE_VuPushButton, &opt, p, nullptr);
    });
    const QColor fill = pixel(image, {4, 20});
    QVERIFY(qGray(fill.rgb()) < 100); // a dark button
    int light = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            light += qGray(image.pixel(x, y)) > 200;
    QVERIFY2(light > 40, qPrintable(QString::number(light)));
}

// A record of the wrong type or version reaches the drawing as null: nothing is drawn.
void TestSkinDraw::wrongRecordDrawsNothing_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("push button, plain option") << 0;
    QTest::newRow("push button, version 0") << 1;
    QTest::newRow("combo box, button option") << 2;
    QTest::newRow("shadow, plain option") << 3;
    QTest::newRow("push button, no look") << 4;
}

void TestSkinDraw::wrongRecordDrawsNothing()
{
    QFETCH(int, which);
    VuComboBox combo;
    combo.setFilledLook(true);
    const QImage image = render({40, 20}, [&](QPainter *p) {
        QStyleOption plain;
        plain.rect = QRect(0, 0, 40, 20);
        VuStyleOptionPushButton button;
        button.rect = plain.rect;
        button.skinOption = m_style->options()->pushButtonTextStrong();
        switch (which) {
        case 0:
            m_style->drawControl(CE_VuPushButton, &plain, p, nullptr);
            break;
        case 1:
            button.version = 0;
            m_style->drawControl(CE_VuPushButton, &button, p, nullptr);
            break;
        case 2: {
            QStyleOptionComplex complex;
            complex.rect = plain.rect;
            m_style->drawComplexControl(CC_VuComboBox, &complex, p, &combo);
            break;
        }
        case 3:
            m_style->drawPrimitive(PE_VuShadowBorder, &plain, p, nullptr);
            break;
        default:
            button.skinOption = nullptr;
            m_style->drawControl(CE_VuPushButton, &button, p, nullptr);
        }
    });
    QCOMPARE(image, render({40, 20}, [](QPainter *) {}));
}

QTEST_MAIN(TestSkinDraw)
#include "tst_skin_draw.moc"
