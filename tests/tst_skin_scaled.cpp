// What the skin style and the gallery show on the screen at hand. CTest runs this twice: at
// 96 DPI and at 192 DPI, where every device-independent size doubles.
#include "host/SkinGallery.h"
#include "host/VuMenu.h"
#include "skin/PhotoStyle.h"
#include "skin/VuStyleHelper.h"
#include "support/Pictures.h"

#include <QtTest>

#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <memory>

using namespace skin;
using namespace host;

namespace {

int scaled(int value)
{
    return qRound(dpiScaled(value));
}

// The darkest grey level in an area (0 black, 255 white).
int darkest(const QImage &image, const QRect &area)
{
    int level = 255;
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            level = qMin(level, qGray(image.pixel(x, y)));
    return level;
}

bool uniform(const QImage &image, const QRect &area, const QColor &color)
{
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (pixel(image, {x, y}) != color) return false;
    return true;
}

QIcon largeIcon(const QColor &color)
{
    QPixmap pixmap(128, 128);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

class TestSkinScaled : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void galleryScreenshot_data();
    void galleryScreenshot();
    void galleryLabelsFit_data();
    void galleryLabelsFit();
    void galleryDisabledText_data();
    void galleryDisabledText();
    void galleryComboTextClearOfArrow_data();
    void galleryComboTextClearOfArrow();
    void menu_data();
    void menu();

private:
    std::unique_ptr<PhotoStyle> m_style;
    QImage m_screenshot;
};

void TestSkinScaled::initTestCase()
{
    m_style = std::make_unique<PhotoStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
    m_style->init(QString(), QStringLiteral("zh_CN"), 1.99);
    QVERIFY(m_style->setSkin(QString()));
    qInfo("screen at %g DPI", 96 * dpiScale());

    // The gallery program renders itself offscreen on a screen like this one (it inherits the
    // environment, QT_FONT_DPI included).
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("gallery.png"));
    QProcess gallery;
    gallery.start(QStringLiteral(GALLERY_PATH), {QStringLiteral("--screenshot"), file});
    QVERIFY(gallery.waitForFinished(60000));
    QCOMPARE(gallery.exitCode(), 0);
    QVERIFY(m_screenshot.load(file));
    QCOMPARE(m_screenshot.size(), SkinGallery::gallerySize());
}

// Colours at points inside the controls; offsets are device-independent.
void TestSkinScaled::galleryScreenshot_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QColor>("expected");

    using G = SkinGallery;
    QTest::newRow("strong button, normal")
        << int(G::PushButtonStrong) << int(G::Normal) << QPoint(6, 4) << QColor(0x2285EA);
    QTest::newRow("strong button, hovered")
        << int(G::PushButtonStrong) << int(G::Hovered) << QPoint(6, 4) << QColor(0x3895F4);
    QTest::newRow("save button, disabled")
        << int(G::PushButtonSave) << int(G::Disabled) << QPoint(6, 4) << QColor(0xB3CCFD);
    QTest::newRow("push button border, pressed")
        << int(G::PushButton) << int(G::Pressed) << QPoint(0, 12) << QColor(0x59A7F6);
    QTest::newRow("line edit, hovered")
        << int(G::LineEdit) << int(G::Hovered) << QPoint(0, 12) << QColor(0x95BCF3);
    QTest::newRow("line edit, normal: nothing")
        << int(G::LineEdit) << int(G::Normal) << QPoint(0, 12) << QColor(Qt::white);
    QTest::newRow("filled combo, on")
        << int(G::ComboBoxFilled) << int(G::On) << QPoint(3, 3) << QColor(0xD6E8FB);
    QTest::newRow("menu item, hovered")
        << int(G::MenuItem) << int(G::Hovered) << QPoint(3, 3) << QColor(0xC8DEF6);
    QTest::newRow("scroll bar track")
        << int(G::ScrollBar) << int(G::Normal) << QPoint(120, 1) << QColor(0xF1F1F1);
    QTest::newRow("spin box, disabled")
        << int(G::SpinBox) << int(G::Disabled) << QPoint(20, 12) << QColor(0xF0F0F0);
}

void TestSkinScaled::galleryScreenshot()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QPoint, offset);
    QFETCH(QColor, expected);

    const QRect control =
        SkinGallery::controlRect(SkinGallery::Row(row), SkinGallery::Column(column));
    const QPoint p = control.topLeft() + QPoint(scaled(offset.x()), scaled(offset.y()));
    QVERIFY(control.contains(p));
    QCOMPARE(pixel(m_screenshot, p), expected);
}

// Row labels and column headings are written whole, inside their own cells.
void TestSkinScaled::galleryLabelsFit_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column"); // -1: the row label

    for (int row = 0; row < SkinGallery::RowCount; ++row)
        QTest::addRow("row label %d", row) << row << -1;
    for (int column = 0; column < SkinGallery::ColumnCount; ++column)
        QTest::addRow("column heading %d", column) << -1 << column;
}

void TestSkinScaled::galleryLabelsFit()
{
    QFETCH(int, row);
    QFETCH(int, column);

    const QSize cellSize = SkinGallery::cellSize();
    QRect cell;
    QString text;
    if (column < 0) {
        cell = QRect(0, SkinGallery::headerHeight() + row * cellSize.height(),
                     SkinGallery::labelWidth(), cellSize.height());
        text = SkinGallery::rowName(SkinGallery::Row(row));
    } else {
        cell = QRect(SkinGallery::labelWidth() + column * cellSize.width(), 0, cellSize.width(),
                     SkinGallery::headerHeight());
        text = SkinGallery::columnName(SkinGallery::Column(column));
    }
    QRect ink;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (qGray(m_screenshot.pixel(x, y)) < 160) ink |= QRect(x, y, 1, 1);
    const int advance = QFontMetrics(QApplication::font()).horizontalAdvance(text);
    QVERIFY2(
        ink.width() >= advance - scaled(4),
        qPrintable(
            QStringLiteral("%1: ink %2 wide, text %3").arg(text).arg(ink.width()).arg(advance)));
    QVERIFY(cell.adjusted(1, 1, -1, -1).contains(ink));
}

// Disabled controls write their labels in the palette's disabled colours, as real disabled
// widgets do: nothing near black.
void TestSkinScaled::galleryDisabledText_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("dark");

    using G = SkinGallery;
    for (const auto &[name, row] : {std::pair{"check box", G::CheckBox},
                                    {"radio button", G::RadioButton},
                                    {"plain combo", G::ComboBoxPlain},
                                    {"tool button", G::ToolButton}}) {
        QTest::addRow("%s, normal", name) << int(row) << int(G::Normal) << true;
        QTest::addRow("%s, disabled", name) << int(row) << int(G::Disabled) << false;
        QTest::addRow("%s, disabled hovered", name) << int(row) << int(G::DisabledHovered) << false;
    }
}

void TestSkinScaled::galleryDisabledText()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, dark);

    const QRect control =
        SkinGallery::controlRect(SkinGallery::Row(row), SkinGallery::Column(column));
    QCOMPARE(darkest(m_screenshot, control.adjusted(1, 1, -1, -1)) < 80, dark);
}

// The text of a plain combo box stops short of its arrow.
void TestSkinScaled::galleryComboTextClearOfArrow_data()
{
    QTest::addColumn<int>("column");
    for (int column = 0; column < SkinGallery::ColumnCount; ++column)
        QTest::addRow("column %d", column) << column;
}

void TestSkinScaled::galleryComboTextClearOfArrow()
{
    QFETCH(int, column);

    const QRect control =
        SkinGallery::controlRect(SkinGallery::ComboBoxPlain, SkinGallery::Column(column));
    // The arrow's strip starts 22 device-independent pixels before the right edge.
    const int arrowLeft = control.left() + control.width() - scaled(18) - scaled(4);
    const QRect gap(arrowLeft - scaled(4), control.top() + 2, scaled(4), control.height() - 4);
    QVERIFY(uniform(m_screenshot, gap, Qt::white));
}

// A real menu: a soft shadow in the room outside its frame (never an opaque band), a margin
// right of the longest shortcut, and icons at the small-icon size of the screen.
void TestSkinScaled::menu_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("shadow outside the frame") << "shadow";
    QTest::newRow("margin after the shortcut") << "shortcut";
    QTest::newRow("icon size") << "icon";
}

void TestSkinScaled::menu()
{
    QFETCH(QString, what);

    VuMenu menu;
    menu.setStyle(m_style.get());
    menu.addAction(largeIcon(Qt::red), QStringLiteral("Open\tCtrl+O"));
    menu.addAction(QStringLiteral("Save as\tCtrl+Shift+Alt+S"));
    menu.ensurePolished();
    menu.resize(menu.sizeHint());
    QImage image(menu.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    menu.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);

    const int panel = m_style->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, &menu);
    const int frameLeft = panel - 1;
    const int frameRight = menu.width() - panel - 1;
    const int middle = menu.height() / 2;
    const QColor frame(0xBF, 0xBF, 0xBF);
    QCOMPARE(pixel(image, {frameLeft, middle}), frame);
    QCOMPARE(pixel(image, {frameRight, middle}), frame);

    if (what == QLatin1String("shadow")) {
        // Next to the frame: translucent black, darker than at the menu's outer edge.
        const QColor inner = pixel(image, {frameLeft - 1, middle});
        const QColor outer = pixel(image, {0, middle});
        QVERIFY2(inner.alpha() > 0 && inner.alpha() < 128, qPrintable(inner.name(QColor::HexArgb)));
        QCOMPARE(inner.rgb() & 0xFFFFFF, 0u);
        QVERIFY(outer.alpha() < inner.alpha());
        // The right ramp fades a little later than the left one.
        QVERIFY(qAbs(pixel(image, {frameRight + 1, middle}).alpha() - inner.alpha()) <= 4);
    } else if (what == QLatin1String("shortcut")) {
        const QRect item = menu.actionGeometry(menu.actions().at(1));
        int rightmostInk = -1;
        for (int x = item.left(); x < frameRight; ++x)
            for (int y = item.top(); y <= item.bottom(); ++y)
                if (qGray(image.pixel(x, y)) < 200 && pixel(image, {x, y}).alpha() == 255)
                    rightmostInk = x;
        QVERIFY(rightmostInk > item.center().x());
        QVERIFY2(frameRight - rightmostInk > scaled(6),
                 qPrintable(QStringLiteral("%1 to %2").arg(rightmostInk).arg(frameRight)));
    } else {
        const QRect item = menu.actionGeometry(menu.actions().at(0));
        int red = 0;
        for (int x = 0; x < menu.width(); ++x)
            red += pixel(image, {x, item.center().y()}) == QColor(Qt::red);
        QCOMPARE(red, m_style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &menu));
    }
}

// Not QTEST_MAIN: it pins the DPI to 96, and the screen's own DPI is what is tested here.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSkinScaled test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_skin_scaled.moc"
