// The skin option tree, theme files and skin switches of the style.
#include "skin/PhotoOptionRoot.h"
#include "skin/PhotoStyle.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinResourceLoader.h"
#include "skin/VuSkinStyle.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QMetaProperty>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <memory>

using namespace skin;

namespace {

QString inTheme(const QString &styles)
{
    return QStringLiteral("<skin><theme>") + styles + QStringLiteral("</theme></skin>");
}

QColor rgb(QRgb value, int alpha = 255)
{
    QColor color = QColor::fromRgb(value);
    color.setAlpha(alpha);
    return color;
}

QLinearGradient gradient(QGradient::Spread spread, const QGradientStops &stops)
{
    QLinearGradient g;
    g.setSpread(spread);
    g.setStops(stops);
    return g;
}

// QVariant cannot compare gradients on its own.
bool sameValue(const QVariant &actual, const QVariant &expected)
{
    if (expected.userType() == qMetaTypeId<QLinearGradient>())
        return actual.userType() == expected.userType() &&
               actual.value<QLinearGradient>() == expected.value<QLinearGradient>();
    return actual == expected;
}

QString describe(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QLinearGradient>()) {
        QString text =
            QStringLiteral("gradient spread %1:").arg(value.value<QLinearGradient>().spread());
        for (const QGradientStop &stop : value.value<QLinearGradient>().stops())
            text += QStringLiteral(" %1 %2").arg(stop.first).arg(stop.second.name(QColor::HexArgb));
        return text;
    }
    if (value.userType() == QMetaType::QColor) return value.value<QColor>().name(QColor::HexArgb);
    return value.toString() + QStringLiteral(" (") + value.typeName() + QLatin1Char(')');
}

// A skins folder in a temporary directory, and a style over it.
class SkinFixture
{
public:
    explicit SkinFixture(bool photo = true)
        : m_style(photo
                      ? static_cast<VuSkinStyle *>(new PhotoStyle(QStyleFactory::create("Fusion")))
                      : new VuSkinStyle(QStyleFactory::create("Fusion")))
    {
        if (!photo) m_style->setOptions(new VuSkinOptionRoot);
        QDir(m_dir.path()).mkpath(QStringLiteral("skins"));
        m_style->init(skinsPath(), QStringLiteral("zh_CN"), 1.99);
    }

    QString skinsPath() const { return m_dir.path() + QStringLiteral("/skins"); }

    void writeSkin(const QString &name, const QByteArray &themeXml) const
    {
        QDir(skinsPath()).mkpath(name);
        QFile file(skinsPath() + QLatin1Char('/') + name + QStringLiteral("/theme.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(themeXml), qint64(themeXml.size()));
    }

    // Copies one of the built sample skins into the skins folder.
    void copySample(const QString &name) const
    {
        const QString from = QStringLiteral(PICSAGE_SKINS) + QLatin1Char('/') + name;
        const QString to = skinsPath() + QLatin1Char('/') + name;
        QDir().mkpath(to);
        for (const char *file : {"theme.xml", "default.rcc", "zh_CN.rcc"})
            QVERIFY(QFile::copy(from + QLatin1Char('/') + file, to + QLatin1Char('/') + file));
    }

    VuSkinStyle *style() const { return m_style.get(); }

    QVariant value(const QString &cls, const QString &property) const
    {
        auto *option = m_style->options()->property(cls.toUtf8()).value<VuSkinOption *>();
        return option ? option->property(property.toUtf8()) : QVariant();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<VuSkinStyle> m_style;
};

// The defaults of every push-button look: the plain push button, with these changes.
QVariantMap pushButtonDefaults()
{
    const QColor transparent(0, 0, 0, 0);
    return {{"bg", transparent},
            {"bghover", rgb(0xDBE9F7)},
            {"bgclicked", rgb(0xC8DEF6)},
            {"bgdisabled", transparent},
            {"tx", rgb(0x424242)},
            {"txhover", rgb(0x424242)},
            {"txclicked", rgb(0x424242)},
            {"txdisabled", rgb(0xB1B1B1)},
            {"bd", rgb(0xB3B3B3)},
            {"bdhover", rgb(0x80BBF7)},
            {"bdclicked", rgb(0x59A7F6)},
            {"bddisabled", rgb(0xD9D9D9)},
            {"txgrad", QVariant::fromValue(QLinearGradient())},
            {"txgradEnabled", false},
            {"txoutlineEnable", false}};
}

} // namespace

class TestSkinTheme : public QObject
{
    Q_OBJECT
private slots:
    void everyLookTakesItsTheme_data();
    void everyLookTakesItsTheme();
    void pushButtonLooks_data();
    void pushButtonLooks();
    void themeFile_data();
    void themeFile();
    void skinSwitches_data();
    void skinSwitches();
    void hostileThemes_data();
    void hostileThemes();
    void resetAfterTheme();
};

void TestSkinTheme::pushButtonLooks_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QVariantMap>("changes");

    const QColor transparent(0, 0, 0, 0);
    const QColor white = rgb(0xFFFFFF);
    QTest::newRow("PushButton") << "PushButton" << QVariantMap();
    QTest::newRow("PushButtonTextLight") << "PushButtonTextLight"
                                         << QVariantMap{{"bg", white},
                                                        {"bghover", rgb(0xE2F0FE)},
                                                        {"bgclicked", rgb(0xD0E8FF)},
                                                        {"bgdisabled", white}};
    QTest::newRow("PushButtonTextStrong") << "PushButtonTextStrong"
                                          << QVariantMap{{"bg", rgb(0x2285EA)},
                                                         {"bghover", rgb(0x3895F4)},
                                                         {"bgclicked", rgb(0x1E78D4)},
                                                         {"bgdisabled", rgb(0xD2D2D2)},
                                                         {"tx", white},
                                                         {"txhover", white},
                                                         {"txclicked", white},
                                                         {"txdisabled", white}};
    QTest::newRow("PvMattingSaveBtn") << "PvMattingSaveBtn"
                                      << QVariantMap{{"bg", rgb(0x417FF9)},
                                                     {"bghover", rgb(0x608DFA)},
                                                     {"bgclicked", rgb(0x1F72F1)},
                                                     {"bgdisabled", rgb(0xB3CCFD)},
                                                     {"bd", transparent},
                                                     {"bdhover", transparent},
                                                     {"bdclicked", transparent},
                                                     {"bddisabled", transparent},
                                                     {"tx", white},
                                                     {"txhover", white},
                                                     {"txclicked", white},
                                                     {"txdisabled", white}};
    QTest::newRow("PushButtonClose")
        << "PushButtonClose"
        << QVariantMap{{"bghover", rgb(0xEA4A65)}, {"bgclicked", rgb(0xD63B54)}};
}

void TestSkinTheme::pushButtonLooks()
{
    QFETCH(QString, cls);
    QFETCH(QVariantMap, changes);

    QVariantMap expected = pushButtonDefaults();
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        expected.insert(it.key(), it.value());

    // Fresh, after a reset over changed values, and after a switch back to the built-in look.
    SkinFixture fixture;
    auto *option = fixture.style()->options()->property(cls.toUtf8()).value<VuSkinOption *>();
    QVERIFY(option);
    QCOMPARE(option->metaObject()->propertyCount() - 1, expected.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const QVariant actual = option->property(it.key().toUtf8());
            QVERIFY2(sameValue(actual, it.value()),
                     qPrintable(QStringLiteral("pass %1, %2: %3, expected %4")
                                    .arg(pass)
                                    .arg(it.key(), describe(actual), describe(it.value()))));
            option->setProperty(it.key().toUtf8(), it.value().userType() == QMetaType::Bool
                                                       ? QVariant(true)
                                                       : QVariant(QColor(1, 2, 3)));
        }
        if (pass == 0)
            fixture.style()->options()->resetToDefaults();
        else
            QVERIFY(fixture.style()->setSkin(QString()));
    }
}

namespace {

enum ThemeRowFlag { OnPhotoStyle = 0, OnPlainStyle = 1, SwitchFails = 2 };

// One theme case: the theme file, the look and property read afterwards ("Look.property"),
// and the value expected there.
void themeRow(const char *name, const QString &xml, const QString &lookProperty,
              const QVariant &expected, int flags = OnPhotoStyle)
{
    const QStringList parts = lookProperty.split(QLatin1Char('.'));
    QTest::newRow(name) << xml << !(flags & OnPlainStyle) << !(flags & SwitchFails) << parts.at(0)
                        << parts.at(1) << expected;
}

// A theme of one style element of class `look` with `content`.
QString styled(const QString &look, const QString &content)
{
    return inTheme(QStringLiteral("<style class='%1'>%2</style>").arg(look, content));
}

} // namespace

void TestSkinTheme::themeFile_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<bool>("photo"); // PhotoStyle, or VuSkinStyle over the base root
    QTest::addColumn<bool>("switched");
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");

    const QVariant transparent = QColor(0, 0, 0, 0);
    const auto bg = [](const QString &value) {
        return styled("PushButton", QStringLiteral("<color name='bg' value='%1'/>").arg(value));
    };

    // Colours.
    themeRow("color #AARRGGBB", bg("#80FF0000"), "PushButton.bg", rgb(0xFF0000, 0x80));
    themeRow("color #RRGGBB is opaque", bg("#FF0000"), "PushButton.bg", rgb(0xFF0000));
    themeRow("color lower case", bg("#00ff7f"), "PushButton.bg", rgb(0x00FF7F));
    themeRow("color without #", bg("FF0000"), "PushButton.bg", transparent);
    themeRow("color short form", bg("#F00"), "PushButton.bg", transparent);
    themeRow("color seven digits", bg("#FF00000"), "PushButton.bg", transparent);
    themeRow("color nine digits", bg("#FF0000000"), "PushButton.bg", transparent);
    themeRow("color empty", bg(""), "PushButton.bg", transparent);
    themeRow("color bad group reads 0", bg("#GG0000"), "PushButton.bg", rgb(0x000000));
    themeRow("color bad alpha reads 0", bg("#zz00FF00"), "PushButton.bg", rgb(0x00FF00, 0));
    themeRow("color negative group", bg("#-10000"), "PushButton.bg", transparent);
    themeRow("color later wins",
             styled("MenuItem", "<color name='hover' value='#010101'/>"
                                "<color name='hover' value='#020202'/>"),
             "MenuItem.hover", rgb(0x020202));
    themeRow("color on a slider",
             styled("PeSlider", "<color name='sliderbgdown' value='#123456'/>"),
             "PeSlider.sliderbgdown", rgb(0x123456));

    // Pixmaps and switches.
    themeRow("pixmap is text", styled("PushButtonClose", "<pixmap name='icon' value='close'/>"),
             "PushButtonClose.icon", QStringLiteral("close"));
    themeRow("bool true", styled("PushButton", "<bool name='txoutlineEnable' value='true'/>"),
             "PushButton.txoutlineEnable", true);
    themeRow("bool True is false",
             styled("PushButton", "<bool name='txgradEnabled' value='true'/>"
                                  "<bool name='txgradEnabled' value='True'/>"),
             "PushButton.txgradEnabled", false);
    themeRow("bool without value",
             styled("PushButton", "<bool name='txgradEnabled' value='true'/>"
                                  "<bool name='txgradEnabled'/>"),
             "PushButton.txgradEnabled", false);

    // Gradients.
    const QString stops = "<stop pos='0' value='#FFFFFF'/><stop pos='0.5' value='#80000000'/>";
    const QGradientStops parsedStops = {{0.0, rgb(0xFFFFFF)}, {0.5, rgb(0x000000, 0x80)}};
    const auto linear = [](const QString &attributes, const QString &children) {
        return styled(
            "PushButtonTextStrong",
            QStringLiteral("<linear name='txgrad'%1>%2</linear>").arg(attributes, children));
    };
    const QVariant pad = QVariant::fromValue(gradient(QGradient::PadSpread, parsedStops));
    const QVariant none = QVariant::fromValue(QLinearGradient());
    const QString txgrad = QStringLiteral("PushButtonTextStrong.txgrad");
    themeRow("linear spread missing is pad", linear("", stops), txgrad, pad);
    themeRow("linear pad", linear(" spread='pad'", stops), txgrad, pad);
    themeRow("linear reflect", linear(" spread='reflect'", stops), txgrad,
             QVariant::fromValue(gradient(QGradient::ReflectSpread, parsedStops)));
    themeRow("linear repeat", linear(" spread='repeat'", stops), txgrad,
             QVariant::fromValue(gradient(QGradient::RepeatSpread, parsedStops)));
    themeRow("linear spread Repeat", linear(" spread='Repeat'", stops), txgrad, none);
    themeRow("linear spread empty", linear(" spread=''", stops), txgrad, none);
    themeRow("linear stop without pos",
             linear("", "<stop pos='0' value='#FFFFFF'/><stop value='#000000'/>"), txgrad, none);
    themeRow("linear stop pos not a number", linear("", "<stop pos='half' value='#FFFFFF'/>"),
             txgrad, none);
    themeRow("linear stop pos out of range",
             linear("", "<stop pos='0' value='#FFFFFF'/><stop pos='1.5' value='#000000'/>"), txgrad,
             none);
    themeRow("linear stop pos nan", linear("", "<stop pos='nan' value='#FFFFFF'/>"), txgrad, none);
    themeRow("linear stop bad colour",
             linear("", "<stop pos='0' value='#FFF'/><stop pos='1' value='#000000'/>"), txgrad,
             none);
    themeRow("linear without stops", linear("", ""), txgrad, none);

    // Kinds apply colour, pixmap, linear, bool, whatever the document order.
    themeRow("linear beats colour",
             styled("MenuItem", "<linear name='extra'>" + stops +
                                    "</linear><color name='extra' value='#010203'/>"),
             "MenuItem.extra", pad);
    themeRow(
        "bool beats pixmap",
        styled("MenuItem", "<bool name='extra' value='true'/><pixmap name='extra' value='x'/>"),
        "MenuItem.extra", true);
    themeRow(
        "pixmap beats colour",
        styled("MenuItem", "<pixmap name='extra' value='p'/><color name='extra' value='#010203'/>"),
        "MenuItem.extra", QStringLiteral("p"));

    // Classes and property names.
    const QString colour = QStringLiteral("<color name='bg' value='#010203'/>");
    themeRow("unknown class", styled("NoSuchLook", colour), "PushButton.bg", transparent);
    themeRow("class of a non-option property", styled("objectName", colour), "PushButton.bg",
             transparent);
    themeRow("class missing", inTheme("<style>" + colour + "</style>"), "PushButton.bg",
             transparent);
    themeRow("unknown property is dynamic",
             styled("PushButton", "<color name='glow' value='#010203'/>"), "PushButton.glow",
             rgb(0x010203));
    themeRow("value of the wrong type", styled("PushButton", "<bool name='bd' value='true'/>"),
             "PushButton.bd", rgb(0xB3B3B3));
    themeRow("viewer look on the plain style",
             inTheme("<style class='PvMattingToolBar'><color name='tx' value='#010203'/></style>"
                     "<style class='PushButton'><color name='tx' value='#040506'/></style>"),
             "PushButton.tx", rgb(0x040506), OnPlainStyle);
    themeRow("viewer look on the photo style",
             styled("PvMattingToolBar", "<color name='tx' value='#010203'/>"),
             "PvMattingToolBar.tx", rgb(0x010203));

    // Nested styles start from the enclosing option's values at that moment.
    const QString nested = inTheme("<style class='PushButton'>"
                                   "  <style class='PushButtonTextLight'>"
                                   "    <color name='bg' value='#0000AA'/>"
                                   "    <style class='PushButtonTextStrong'>"
                                   "      <color name='tx' value='#00AA00'/>"
                                   "    </style>"
                                   "  </style>"
                                   "  <color name='bd' value='#123456'/>"
                                   "</style>");
    themeRow("nested takes the parent's theme value", nested, "PushButtonTextLight.bd",
             rgb(0x123456));
    themeRow("nested takes the parent's default", nested, "PushButtonTextLight.bghover",
             rgb(0xDBE9F7));
    themeRow("nested applies its own", nested, "PushButtonTextLight.bg", rgb(0x0000AA));
    themeRow("nested twice takes the middle's", nested, "PushButtonTextStrong.bg", rgb(0x0000AA));
    themeRow("nested twice applies its own", nested, "PushButtonTextStrong.tx", rgb(0x00AA00));
    themeRow("nested leaves the parent", nested, "PushButton.bg", transparent);
    themeRow("nested across kinds of look",
             styled("PushButton", "<color name='bg' value='#0A0B0C'/><style class='PeSlider'/>"),
             "PeSlider.bg", rgb(0x0A0B0C));
    themeRow("nested in an unknown class",
             styled("Nope", "<style class='PushButton'>" + colour + "</style>"), "PushButton.bg",
             transparent);
    themeRow("nested replaces earlier values",
             inTheme("<style class='PushButtonClose'><color name='bd' value='#111111'/></style>"
                     "<style class='PushButton'><style class='PushButtonClose'/></style>"),
             "PushButtonClose.bd", rgb(0xB3B3B3));

    themeRow("nested siblings in document order",
             styled("PushButton",
                    "<style class='PushButtonClose'><color name='tx' value='#000001'/></style>"
                    "<style class='PushButtonClose'><color name='tx' value='#000002'/></style>"),
             "PushButtonClose.tx", rgb(0x000002));
    themeRow("later style element wins",
             inTheme("<style class='MenuItem'><color name='bg' value='#000001'/></style>"
                     "<style class='MenuItem'><color name='bg' value='#000002'/></style>"),
             "MenuItem.bg", rgb(0x000002));

    // The document.
    themeRow("document element name is not checked",
             "<anything><theme><style class='PushButton'>" + colour + "</style></theme></anything>",
             "PushButton.bg", rgb(0x010203));
    themeRow("no theme element", "<skin><style class='PushButton'>" + colour + "</style></skin>",
             "PushButton.bg", transparent);
    themeRow("second theme element",
             "<skin><theme/><theme><style class='PushButton'>" + colour + "</style></theme></skin>",
             "PushButton.bg", transparent);
    themeRow("malformed XML",
             "<skin><theme><style class='PushButton'>" + colour + "</theme></skin>",
             "PushButton.bg", transparent, SwitchFails);
    themeRow("empty file", "", "PushButton.bg", transparent, SwitchFails);
}

void TestSkinTheme::themeFile()
{
    QFETCH(QString, xml);
    QFETCH(bool, photo);
    QFETCH(bool, switched);
    QFETCH(QString, cls);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);

    SkinFixture fixture(photo);
    fixture.writeSkin(QStringLiteral("test"), xml.toUtf8());
    QCOMPARE(fixture.style()->setSkin(QStringLiteral("test")), switched);
    QCOMPARE(fixture.style()->skinName(), switched ? QStringLiteral("test") : QString());
    const QVariant actual = fixture.value(cls, property);
    QVERIFY2(sameValue(actual, expected),
             qPrintable(describe(actual) + QStringLiteral(", expected ") + describe(expected)));
}

void TestSkinTheme::everyLookTakesItsTheme_data()
{
    QTest::addColumn<QString>("cls");
    for (const char *look :
         {"PushButton", "PushButtonTextLight", "PushButtonTextStrong", "PeSlider", "MenuItem",
          "SetDefaultAppPushButton", "PvMattingHelpBtn", "PvMattingCustomBtn",
          "PvMattingHelpWidBtn", "PvMattingColorBtn", "PvMattingOpenBtn", "PvMattingSaveBtn",
          "PvMattingToolBar", "PushButtonClose", "PushButtonNoBg"})
        QTest::newRow(look) << QString::fromLatin1(look);
}

// A theme's style element reaches the look of its class name, through the option tree's
// own property lookup; looks have no Qt parent, the tree belongs to the style.
void TestSkinTheme::everyLookTakesItsTheme()
{
    QFETCH(QString, cls);

    SkinFixture fixture;
    QCOMPARE(fixture.style()->options()->parent(), fixture.style());
    auto *look = fixture.style()->options()->property(cls.toUtf8()).value<VuSkinOption *>();
    QVERIFY(look);
    QCOMPARE(look->parent(), nullptr);
    QByteArray colour;
    const QMetaObject *meta = look->metaObject();
    for (int i = 0; i < meta->propertyCount() && colour.isEmpty(); ++i)
        if (meta->property(i).userType() == QMetaType::QColor) colour = meta->property(i).name();
    QVERIFY2(!colour.isEmpty(), "a look with no colour to theme");

    const QColor themed = rgb(0x123456, 0x9A);
    fixture.writeSkin(QStringLiteral("test"),
                      styled(cls, QStringLiteral("<color name='%1' value='#9A123456'/>")
                                      .arg(QString::fromLatin1(colour)))
                          .toUtf8());
    QVERIFY(fixture.style()->setSkin(QStringLiteral("test")));
    QCOMPARE(fixture.value(cls, QString::fromLatin1(colour)).value<QColor>(), themed);
}

void TestSkinTheme::skinSwitches_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QList<bool>>("results");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("registered"); // skins whose pictures are in ":/"
    QTest::addColumn<QColor>("strongBg");        // PushButtonTextStrong's bg afterwards

    const QColor strongDefault = rgb(0x2285EA);
    const QColor graphite = rgb(0x404040);
    QTest::newRow("built-in look")
        << QStringList{""} << QList<bool>{true} << "" << QStringList() << strongDefault;
    QTest::newRow("A") << QStringList{"ocean"} << QList<bool>{true} << "ocean"
                       << QStringList{"ocean"} << rgb(0x1E6FC4);
    QTest::newRow("A then B") << QStringList{"ocean", "graphite"} << QList<bool>{true, true}
                              << "graphite" << QStringList{"graphite"} << graphite;
    QTest::newRow("A, B, malformed C")
        << QStringList{"ocean", "graphite", "broken"} << QList<bool>{true, true, false}
        << "graphite" << QStringList{"graphite"} << strongDefault;
    QTest::newRow("A, B, C without theme.xml")
        << QStringList{"ocean", "graphite", "bare"} << QList<bool>{true, true, false} << "graphite"
        << QStringList{"graphite"} << strongDefault;
    QTest::newRow("A, B, missing folder")
        << QStringList{"ocean", "graphite", "absent"} << QList<bool>{true, true, false}
        << "graphite" << QStringList{"graphite"} << graphite;
    QTest::newRow("A, B, built-in look")
        << QStringList{"ocean", "graphite", ""} << QList<bool>{true, true, true} << ""
        << QStringList() << strongDefault;
    QTest::newRow("A, failed C, A")
        << QStringList{"ocean", "broken", "ocean"} << QList<bool>{true, false, true} << "ocean"
        << QStringList{"ocean"} << rgb(0x1E6FC4);
    QTest::newRow("A twice") << QStringList{"ocean", "ocean"} << QList<bool>{true, true} << "ocean"
                             << QStringList{"ocean"} << rgb(0x1E6FC4);
    QTest::newRow("skin without resource files")
        << QStringList{"ocean", "plain"} << QList<bool>{true, true} << "plain" << QStringList()
        << strongDefault;
    QTest::newRow("name leading out of the skins folder")
        << QStringList{"ocean", "../skins"} << QList<bool>{true, false} << "ocean"
        << QStringList{"ocean"} << rgb(0x1E6FC4);
    QTest::newRow("path below the skins folder")
        << QStringList{"nest/ocean"} << QList<bool>{false} << "" << QStringList() << strongDefault;
}

void TestSkinTheme::skinSwitches()
{
    QFETCH(QStringList, switches);
    QFETCH(QList<bool>, results);
    QFETCH(QString, current);
    QFETCH(QStringList, registered);
    QFETCH(QColor, strongBg);

    {
        SkinFixture fixture;
        fixture.copySample(QStringLiteral("ocean"));
        fixture.copySample(QStringLiteral("graphite"));
        fixture.writeSkin(QStringLiteral("broken"),
                          "<skin><theme><style class=\"PushButton\"></theme>");
        fixture.writeSkin(QStringLiteral("plain"), "<skin/>");
        QDir(fixture.skinsPath()).mkpath(QStringLiteral("bare"));
        QDir(fixture.skinsPath()).mkpath(QStringLiteral("nest/ocean"));

        for (int i = 0; i < switches.size(); ++i)
            QCOMPARE(fixture.style()->setSkin(switches.at(i)), results.at(i));
        QCOMPARE(fixture.style()->skinName(), current);
        QCOMPARE(fixture.style()->resourceLoader()->skinName(), current);
        for (const char *skin : {"ocean", "graphite"}) {
            const bool expected = registered.contains(QLatin1String(skin));
            // One file from each of the skin's two resource files.
            QCOMPARE(QFile::exists(QStringLiteral(":/%1/1x/menuitem-check.png").arg(skin)),
                     expected);
            const QString localised =
                QLatin1String(skin) == QLatin1String("ocean")
                    ? QStringLiteral(":/ocean/zh_CN/1x/menuitem-check.png")
                    : QStringLiteral(":/graphite/zh_CN/1x/combobox-arrow.png");
            QCOMPARE(QFile::exists(localised), expected);
        }
        QCOMPARE(fixture.value(QStringLiteral("PushButtonTextStrong"), QStringLiteral("bg")),
                 QVariant(strongBg));
    }
    // The style releases its skin's resource files with it.
    QVERIFY(!QFile::exists(QStringLiteral(":/ocean/1x/menuitem-check.png")));
    QVERIFY(!QFile::exists(QStringLiteral(":/graphite/1x/menuitem-check.png")));
}

void TestSkinTheme::hostileThemes_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("switched");
    QTest::addColumn<QColor>("bg"); // PushButton's bg afterwards

    const QByteArray colour = "<color name=\"bg\" value=\"#010203\"/>\n";
    QByteArray big = "<skin><theme><style class=\"PushButton\">";
    while (big.size() < 10 * 1024 * 1024)
        big += colour;
    big += "</style></theme></skin>";
    QTest::newRow("10 MB theme") << big << false << QColor(0, 0, 0, 0);

    const auto deep = [&](int levels) {
        QByteArray xml = "<skin><theme>";
        for (int i = 0; i < levels; ++i)
            xml += "<style class=\"PushButton\">";
        xml += colour;
        for (int i = 0; i < levels; ++i)
            xml += "</style>";
        return xml + "</theme></skin>";
    };
    QTest::newRow("10000 levels of styles") << deep(10000) << false << QColor(0, 0, 0, 0);
    QTest::newRow("10000 unclosed levels")
        << QByteArray("<a>").repeated(10000) << false << QColor(0, 0, 0, 0);
    QTest::newRow("200 levels of styles") << deep(200) << true << rgb(0x010203);
    QTest::newRow("entity declarations")
        << QByteArray("<!DOCTYPE skin [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                      "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d "
                      "\"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                      "<skin><theme><style class=\"PushButton\"><pixmap name=\"x\" "
                      "value=\"&d;&d;&d;&d;\"/>") +
               colour + "</style></theme></skin>"
        << true << rgb(0x010203);
}

void TestSkinTheme::hostileThemes()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, switched);
    QFETCH(QColor, bg);

    SkinFixture fixture;
    fixture.writeSkin(QStringLiteral("hostile"), xml);
    QCOMPARE(fixture.style()->setSkin(QStringLiteral("hostile")), switched);
    QCOMPARE(fixture.value(QStringLiteral("PushButton"), QStringLiteral("bg")), QVariant(bg));
}

void TestSkinTheme::resetAfterTheme()
{
    SkinFixture fixture;
    fixture.writeSkin(
        QStringLiteral("test"),
        inTheme("<style class=\"PvMattingSaveBtn\"><color name=\"bg\" value=\"#010203\"/></style>")
            .toUtf8());
    QVERIFY(fixture.style()->setSkin(QStringLiteral("test")));
    QCOMPARE(fixture.value("PvMattingSaveBtn", "bg"), QVariant(rgb(0x010203)));
    QVERIFY(fixture.style()->setSkin(QString()));
    QCOMPARE(fixture.value("PvMattingSaveBtn", "bg"), QVariant(rgb(0x417FF9)));
}

QTEST_MAIN(TestSkinTheme)
#include "tst_skin_theme.moc"
