#include "app/ModuleDirectory.h"
#include "app/PhotoApplication.h"
#include "formats/ImageFormats.h"
#include "skin/PhotoStyle.h"

#include <QResource>
#include <QTimer>
#include <QtTest>

// Runs beside a copy of the language resources, as the library does in its own folder.
class TestApplication : public QObject
{
    Q_OBJECT
private slots:
    void startUp();
    void languageResources();
    void initAgain();
    void quitting();
};

void TestApplication::startUp()
{
    auto *app = qobject_cast<PhotoApplication *>(qApp);
    QVERIFY(app);
    auto *style = qobject_cast<PhotoStyle *>(app->style());
    QVERIFY(style);
    QCOMPARE(app->resLoader(), style->resourceLoader());
    QVERIFY(app->resLoader());
    QCOMPARE(app->getStartupOrign(), QString());
    QCOMPARE(QApplication::font().family(), QStringLiteral("Microsoft YaHei"));
    QVERIFY(app->imageFormats());
    QCOMPARE(app->imageFormats()->nameFilters().size(), 45);
    QVERIFY(!PhotoApplication::isQuitting());
}

void TestApplication::languageResources()
{
    const QString mui = moduleDirectory() + QStringLiteral("/mui/zh_CN");
    QCOMPARE(PhotoApplication::muiDirectory(), QDir::toNativeSeparators(mui));
    // The table was made after the translator went in.
    auto *app = qobject_cast<PhotoApplication *>(qApp);
    QCOMPARE(app->imageFormats()->formatForSuffix(QStringLiteral("png"))->description,
             QStringLiteral("便携式网络图形"));
    // res.rcc was registered: taking it away succeeds exactly once.
    QVERIFY(QResource::unregisterResource(mui + QStringLiteral("/res.rcc")));
    QVERIFY(!QResource::unregisterResource(mui + QStringLiteral("/res.rcc")));
    QVERIFY(QResource::registerResource(mui + QStringLiteral("/res.rcc")));
    QVERIFY(QFile::exists(QStringLiteral(":/1x/menuitem-check.png")));
    QVERIFY(QFile::exists(QStringLiteral(":/2x/menuitem-check.png")));
}

void TestApplication::initAgain()
{
    auto *app = qobject_cast<PhotoApplication *>(qApp);
    QStyle *before = app->style();
    app->init();
    QVERIFY(app->style() != before);
    QVERIFY(qobject_cast<PhotoStyle *>(app->style()));
    QCOMPARE(app->resLoader(), static_cast<PhotoStyle *>(app->style())->resourceLoader());
    QCOMPARE(QCoreApplication::translate("ImageFormats", "Bitmap"), QStringLiteral("位图"));
}

void TestApplication::quitting()
{
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    QVERIFY(PhotoApplication::isQuitting());
}

int main(int argc, char **argv)
{
    PhotoApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
