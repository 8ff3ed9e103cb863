// The skin resource loader's search order, state variants, caches and copies.
//
// Registered twice with CTest: on the offscreen screen's normal DPI, and with
// QT_FONT_DPI=192 (a 2.0 scale, above the 1.99 threshold), where the "2x" folders come
// first. The test pictures are solid colours, one per folder, so the colour tells which
// candidate won.
#include "skin/VuSkinResourceLoader.h"
#include "support/Pictures.h"

#include <QtTest>

#include <QFile>
#include <QResource>

using namespace skin;

namespace {

constexpr double kThreshold = 1.99;

const QColor kNone; // no picture expected
const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255), yellow(255, 255, 0);
const QColor cyan(0, 255, 255), magenta(255, 0, 255), white(255, 255, 255), grey(128, 128, 128);

bool highDpi()
{
    return qEnvironmentVariableIntValue("QT_FONT_DPI") >= 192;
}

QString skinFile(const QString &skin, const QString &file)
{
    return QStringLiteral(PICSAGE_SKINS) + QLatin1Char('/') + skin + QLatin1Char('/') + file;
}

} // namespace

class TestSkinResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void searchOrder_data();
    void searchOrder();
    void iconVariants_data();
    void iconVariants();
    void locate_data();
    void locate();
    void skinCaches();
    void copies_data();
    void copies();
    void builtInPictures_data();
    void builtInPictures();
};

void TestSkinResources::initTestCase()
{
    // The environment decides which column of expectations applies; make sure it did.
    VuSkinResourceLoader loader(QStringLiteral("zh_CN"), kThreshold);
    QCOMPARE(loader.highestScaleIndex(), highDpi() ? 1 : 0);
    QVERIFY(QFile::exists(QStringLiteral(":/1x/t-all.png")));
}

void TestSkinResources::searchOrder_data()
{
    QTest::addColumn<QString>("resourceSet");
    QTest::addColumn<QString>("skin");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("normal");  // on a normal screen, at 16 x 16
    QTest::addColumn<QColor>("doubled"); // on a high-DPI screen; 2x pictures are 32 x 32

    // Every folder holds "t-all": skin over built-in, resource set over common, 2x over 1x.
    QTest::newRow("no skin, all folders") << "zh_CN"
                                          << ""
                                          << "t-all" << green << red;
    QTest::newRow("skin, all folders") << "zh_CN"
                                       << "tskin"
                                       << "t-all" << magenta << cyan;
    QTest::newRow("other resource set") << "en_US"
                                        << ""
                                        << "t-all" << yellow << blue;
    QTest::newRow("other resource set, skin") << "en_US"
                                              << "tskin"
                                              << "t-all" << grey << white;
    QTest::newRow("empty resource set") << ""
                                        << ""
                                        << "t-all" << yellow << blue;
    QTest::newRow("resource set beats common") << "zh_CN"
                                               << ""
                                               << "t-local" << green << green;
    QTest::newRow("skin lacks the name") << "zh_CN"
                                         << "tskin"
                                         << "t-local" << green << green;
    QTest::newRow("only 1x") << "zh_CN"
                             << ""
                             << "t-only1x" << yellow << yellow;
    QTest::newRow("only 2x") << "zh_CN"
                             << ""
                             << "t-only2x" << kNone << blue;
    QTest::newRow("only in the skin") << "zh_CN"
                                      << "tskin"
                                      << "t-skinonly" << grey << grey;
    QTest::newRow("skin picture without the skin") << "zh_CN"
                                                   << ""
                                                   << "t-skinonly" << kNone << kNone;
    QTest::newRow("unknown skin") << "zh_CN"
                                  << "nosuchskin"
                                  << "t-all" << green << red;
    QTest::newRow("missing") << "zh_CN"
                             << "tskin"
                             << "t-none" << kNone << kNone;
    QTest::newRow("name with extension") << "zh_CN"
                                         << ""
                                         << "t-all.png" << kNone << kNone;
}

void TestSkinResources::searchOrder()
{
    QFETCH(QString, resourceSet);
    QFETCH(QString, skin);
    QFETCH(QString, name);
    QFETCH(QColor, normal);
    QFETCH(QColor, doubled);
    const QColor expected = highDpi() ? doubled : normal;
    // Those four colours are used only for the 2x pictures.
    const int side =
        expected == red || expected == blue || expected == cyan || expected == white ? 32 : 16;

    VuSkinResourceLoader loader(resourceSet, kThreshold);
    loader.setSkin(skin);
    // Twice: the second answer comes from the caches and must be the same.
    for (int pass = 0; pass < 2; ++pass) {
        const QPixmap pixmap = loader.loadPixmap(name);
        QCOMPARE(colourOf(pixmap), expected);
        const QIcon icon = loader.loadIcon(name);
        QCOMPARE(icon.isNull(), !expected.isValid());
        if (expected.isValid()) {
            QCOMPARE(pixmap.size(), QSize(side, side));
            QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(side, side)});
            QCOMPARE(colourOf(icon.pixmap(side)), expected);
        }
    }
}

void TestSkinResources::iconVariants_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QColor>("colour"); // invalid: no picture of its own for that mode

    // 1x holds the normal, active and disabled pictures; "-selected" exists only in 2x,
    // which is not the folder of the normal picture, so it is never used.
    QTest::newRow("normal") << int(QIcon::Normal) << yellow;
    QTest::newRow("active") << int(QIcon::Active) << red;
    QTest::newRow("disabled") << int(QIcon::Disabled) << grey;
    QTest::newRow("selected from another folder") << int(QIcon::Selected) << kNone;
}

void TestSkinResources::iconVariants()
{
    QFETCH(int, mode);
    QFETCH(QColor, colour);

    VuSkinResourceLoader loader(QStringLiteral("zh_CN"), kThreshold);
    const QIcon icon = loader.loadIcon(QStringLiteral("t-state"));
    QVERIFY(!icon.isNull());
    const auto iconMode = QIcon::Mode(mode);
    if (colour.isValid()) {
        QCOMPARE(icon.availableSizes(iconMode, QIcon::Off), QList<QSize>{QSize(16, 16)});
        QCOMPARE(colourOf(icon.pixmap(16, iconMode)), colour);
    } else {
        QVERIFY(icon.availableSizes(iconMode, QIcon::Off).isEmpty());
        QVERIFY(colourOf(icon.pixmap(16, iconMode)) != blue);
    }
    // The pixmap of the same name has no variants: it is the normal picture.
    QCOMPARE(colourOf(loader.loadPixmap(QStringLiteral("t-state"))), yellow);
}

void TestSkinResources::locate_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("doubled");

    QTest::newRow("resource set, both scales") << "t-loc-a.txt"
                                               << ":/zh_CN/1x/t-loc-a.txt"
                                               << ":/zh_CN/2x/t-loc-a.txt";
    QTest::newRow("resource set, no scale folder") << "t-loc-b.txt"
                                                   << ":/zh_CN/t-loc-b.txt"
                                                   << ":/zh_CN/t-loc-b.txt";
    QTest::newRow("common, both scales") << "t-loc-c.txt"
                                         << ":/1x/t-loc-c.txt"
                                         << ":/2x/t-loc-c.txt";
    QTest::newRow("directly below the root") << "t-loc-d.txt"
                                             << ":/t-loc-d.txt"
                                             << ":/t-loc-d.txt";
    QTest::newRow("only 2x") << "t-loc-e.txt"
                             << ""
                             << ":/2x/t-loc-e.txt";
    QTest::newRow("picture with extension") << "t-all.png"
                                            << ":/zh_CN/1x/t-all.png"
                                            << ":/zh_CN/2x/t-all.png";
    QTest::newRow("no extension added") << "t-all"
                                        << ""
                                        << "";
    QTest::newRow("missing") << "t-none.txt"
                             << ""
                             << "";
    QTest::newRow("skins are not searched") << "t-skinonly.png"
                                            << ""
                                            << "";
}

void TestSkinResources::locate()
{
    QFETCH(QString, name);
    QFETCH(QString, normal);
    QFETCH(QString, doubled);

    VuSkinResourceLoader loader(QStringLiteral("zh_CN"), kThreshold);
    loader.setSkin(QStringLiteral("tskin"));
    QCOMPARE(loader.locate(name), highDpi() ? doubled : normal);
}

void TestSkinResources::skinCaches()
{
    // The ocean sample skin replaces "menuitem-check"; its resource files are registered
    // only after the loader has already been asked once.
    VuSkinResourceLoader loader(QStringLiteral("zh_CN"), kThreshold);
    const QString name = QStringLiteral("menuitem-check");
    const QImage builtIn = loader.loadIcon(name).pixmap(16).toImage();
    QVERIFY(!builtIn.isNull());

    QVERIFY(loader.setSkin(QStringLiteral("ocean")));
    QCOMPARE(loader.loadIcon(name).pixmap(16).toImage(), builtIn);
    const QString scale = highDpi() ? QStringLiteral("2x") : QStringLiteral("1x");
    QCOMPARE(loader.loadPixmap(name).toImage(),
             QPixmap(QStringLiteral(":/%1/menuitem-check.png").arg(scale)).toImage());

    const QString files[] = {skinFile("ocean", "default.rcc"), skinFile("ocean", "zh_CN.rcc")};
    for (const QString &file : files)
        QVERIFY(QResource::registerResource(file));
    // The miss is remembered until the next switch...
    QCOMPARE(loader.loadIcon(name).pixmap(16).toImage(), builtIn);
    // ...which looks the name up again, and finds the skin's picture.
    QVERIFY(loader.setSkin(QStringLiteral("ocean")));
    const QImage skinned = loader.loadIcon(name).pixmap(16).toImage();
    QVERIFY(skinned != builtIn);
    QCOMPARE(loader.loadPixmap(name).toImage(),
             QPixmap(QStringLiteral(":/ocean/zh_CN/%1/menuitem-check.png").arg(scale)).toImage());

    // Dropping the skin goes back to the default cache.
    QVERIFY(loader.resetSkin());
    QCOMPARE(loader.skinName(), QString());
    QCOMPARE(loader.loadIcon(name).pixmap(16).toImage(), builtIn);
    for (const QString &file : files)
        QVERIFY(QResource::unregisterResource(file));
}

void TestSkinResources::copies_data()
{
    QTest::addColumn<bool>("assign");
    QTest::newRow("copy construction") << false;
    QTest::newRow("copy assignment") << true;
}

void TestSkinResources::copies()
{
    QFETCH(bool, assign);

    // Copies share the cached pictures; either may go first, and each keeps its own skin.
    auto original = std::make_unique<VuSkinResourceLoader>(QStringLiteral("zh_CN"), kThreshold);
    original->setSkin(QStringLiteral("tskin"));
    const QColor skinned = colourOf(original->loadPixmap(QStringLiteral("t-all")));
    original->loadIcon(QStringLiteral("t-all"));
    original->loadIcon(QStringLiteral("t-local")); // a recorded skin miss

    std::unique_ptr<VuSkinResourceLoader> copy;
    if (assign) {
        copy = std::make_unique<VuSkinResourceLoader>(QStringLiteral("en_US"), 1000.0);
        *copy = *original;
    } else {
        copy = std::make_unique<VuSkinResourceLoader>(*original);
    }
    QCOMPARE(copy->skinName(), QStringLiteral("tskin"));
    QCOMPARE(copy->resourceSet(), QStringLiteral("zh_CN"));
    QCOMPARE(copy->highestScaleIndex(), original->highestScaleIndex());

    original->setSkin(QString());
    QCOMPARE(colourOf(copy->loadPixmap(QStringLiteral("t-all"))), skinned);
    original.reset();
    QCOMPARE(colourOf(copy->loadIcon(QStringLiteral("t-all")).pixmap(32)), skinned);
    QCOMPARE(colourOf(copy->loadIcon(QStringLiteral("t-local")).pixmap(16)), green);
}

void TestSkinResources::builtInPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("differsFrom"); // a picture of another state, or none
    QTest::newRow("menuitem-check") << "menuitem-check"
                                    << "menuitem-check-disabled";
    QTest::newRow("menuitem-check-disabled") << "menuitem-check-disabled"
                                             << "menuitem-check";
    QTest::newRow("combobox-arrow") << "combobox-arrow"
                                    << "";
}

// The pictures the style draws with are found without a skin, show something, and a
// disabled state looks different from the enabled one.
void TestSkinResources::builtInPictures()
{
    QFETCH(QString, name);
    QFETCH(QString, differsFrom);
    VuSkinResourceLoader loader(QStringLiteral("zh_CN"), kThreshold);
    const QImage picture = loader.loadPixmap(name).toImage();
    QVERIFY(!picture.isNull());
    int visible = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            visible += qAlpha(picture.pixel(x, y)) > 128;
    QVERIFY2(visible > 4, "a blank picture");
    if (!differsFrom.isEmpty()) QVERIFY(picture != loader.loadPixmap(differsFrom).toImage());
}

// Not QTEST_MAIN: it pins the DPI to 96, and the screen's own DPI is what is tested here.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSkinResources test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_skin_resources.moc"
