// A folder of pictures: listing with the format table's filters, stepping with its two wrap
// rules, and files that vanish between calls.

#include "app/PhotoApplication.h"
#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool touchPicture(const QString &path)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image.save(path, "PNG");
}

} // namespace

class TestImageDirectory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void neighbours_data();
    void neighbours();
    void createImage_data();
    void createImage();
    void vanishedFiles_data();
    void vanishedFiles();
    void everyFileVanishes();
    void lookUps();
    void missingFolder();
    void formatTableFilters();
    void createImageNeedsItsOwnFolder();

private:
    QSharedPointer<ImageDirectory> abc();
    QString path(const QString &name) const { return m_dir->filePath(name); }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestImageDirectory::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

// a.png, b.png and c.png, listed in that order.
QSharedPointer<ImageDirectory> TestImageDirectory::abc()
{
    for (const char *name : {"a.png", "b.png", "c.png"}) {
        if (!touchPicture(path(QLatin1String(name)))) return {};
    }
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(m_dir->path(), {QStringLiteral("*.png")})) return {};
    // The folder is unsorted: the file system's order. Put it in a known one for the cases.
    if (folder->count() != 3) return {};
    return folder;
}

void TestImageDirectory::neighbours_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("expected"); // index in the listing

    QTest::newRow("itself") << "b" << 0 << 1;
    QTest::newRow("next") << "a" << 1 << 1;
    QTest::newRow("past the end wraps to the first") << "c" << 1 << 0;
    QTest::newRow("before the first wraps to the last") << "a" << -1 << 2;
    QTest::newRow("far ahead wraps by modulo") << "b" << 5 << 0;
    QTest::newRow("two past the end") << "c" << 2 << 1;
    QTest::newRow("far back lands on the last") << "b" << -7 << 2;
    QTest::newRow("unlisted name starts before the first") << "zzz" << 1 << 0;
    QTest::newRow("unlisted name, no step: the last") << "zzz" << 0 << 2;
}

void TestImageDirectory::neighbours()
{
    QFETCH(QString, from);
    QFETCH(int, offset);
    QFETCH(int, expected);
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    // Names are given by position so that the file system's order does not matter.
    const int fromIndex = from == QLatin1String("a") ? 0 : from == QLatin1String("b") ? 1 : 2;
    const QString name =
        from == QLatin1String("zzz") ? QStringLiteral("zzz.png") : folder->nameOf(fromIndex);
    QCOMPARE(folder->pathName(name, offset), folder->pathName(folder->nameOf(expected)));
    QCOMPARE(folder->count(), 3);
}

void TestImageDirectory::createImage_data()
{
    QTest::addColumn<int>("from"); // index, -1 for a name not in the list
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("expected");

    QTest::newRow("itself") << 1 << 0 << 1;
    QTest::newRow("next") << 0 << 1 << 1;
    QTest::newRow("two past the end lands on the first") << 2 << 2 << 0;
    QTest::newRow("far past the end lands on the first") << 1 << 40 << 0;
    QTest::newRow("before the first lands on the last") << 0 << -1 << 2;
    QTest::newRow("unlisted name, no step: the last") << -1 << 0 << 2;
}

void TestImageDirectory::createImage()
{
    QFETCH(int, from);
    QFETCH(int, offset);
    QFETCH(int, expected);
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    const QString name = from < 0 ? QStringLiteral("unlisted.png") : folder->nameOf(from);
    const QSharedPointer<ImageWrapper> picture = folder->createImage(name, offset, folder);
    QVERIFY(picture);
    QCOMPARE(picture->name(), folder->nameOf(expected));
    QCOMPARE(picture->directory(), folder);
    QCOMPARE(picture->index(), expected);
    QCOMPARE(picture->path(), QDir(m_dir->path()).absolutePath());
    QCOMPARE(picture->pathName(), folder->pathName(folder->nameOf(expected)));
    QCOMPARE(picture->status(), ImageStatusNone);
}

void TestImageDirectory::vanishedFiles_data()
{
    QTest::addColumn<int>("vanish"); // index removed on disk
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("expected"); // index in the original listing
    QTest::addColumn<int>("count");    // names left

    QTest::newRow("next vanished: the one after it") << 1 << 0 << 1 << 2 << 2;
    QTest::newRow("current vanished, no step: the one moved into its place")
        << 1 << 1 << 0 << 2 << 2;
    QTest::newRow("last vanished, no step: wraps to the first") << 2 << 2 << 0 << 0 << 2;
    QTest::newRow("previous vanished: the one before it") << 1 << 2 << -1 << 0 << 2;
    QTest::newRow("two ahead onto a vanished one: two further on") << 2 << 0 << 2 << 1 << 2;
    QTest::newRow("stepping back from a vanished first: never looked at") << 0 << 0 << -1 << 2 << 3;
}

void TestImageDirectory::vanishedFiles()
{
    QFETCH(int, vanish);
    QFETCH(int, from);
    QFETCH(int, offset);
    QFETCH(int, expected);
    QFETCH(int, count);
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    const QStringList names = {folder->nameOf(0), folder->nameOf(1), folder->nameOf(2)};
    QVERIFY(QFile::remove(path(names.at(vanish))));

    QCOMPARE(folder->pathName(names.at(from), offset), folder->pathName(names.at(expected)));
    QCOMPARE(folder->count(), count);
    if (count == 3) return;
    // The vanished file has left the list; the others keep their order.
    QCOMPARE(folder->indexOf(names.at(vanish)), -1);
    QStringList left = names;
    left.removeAt(vanish);
    QCOMPARE(folder->nameOf(0), left.at(0));
    QCOMPARE(folder->nameOf(1), left.at(1));

    // The neighbours still open.
    QVERIFY(folder->createImage(left.at(0), 0, folder));
    QVERIFY(folder->createImage(left.at(1), 0, folder));
    QVERIFY(folder->init(m_dir->path(), {QStringLiteral("*.png")}));
    QCOMPARE(folder->count(), 2);
}

void TestImageDirectory::everyFileVanishes()
{
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    const QString first = folder->nameOf(0);
    for (const QString &name : QDir(m_dir->path()).entryList(QDir::Files))
        QVERIFY(QFile::remove(path(name)));
    QCOMPARE(folder->pathName(first, 1), QString());
    QCOMPARE(folder->count(), 0);
    QCOMPARE(folder->pathName(first, 0), QString());
    QVERIFY(!folder->createImage(first, 0, folder));
}

void TestImageDirectory::lookUps()
{
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    QCOMPARE(folder->indexOf(folder->nameOf(2)), 2);
    QCOMPARE(folder->indexOf(folder->nameOf(2).toUpper()), -1);
    QCOMPARE(folder->indexOf(QStringLiteral("missing.png")), -1);
    QCOMPARE(folder->nameOf(3), QString());
    QCOMPARE(folder->nameOf(-1), QString());
    QCOMPARE(folder->path(), QDir(m_dir->path()).absolutePath());
    // Any name, listed or not.
    QCOMPARE(folder->pathName(QStringLiteral("x.png")),
             QDir(m_dir->path()).absoluteFilePath("x.png"));
}

void TestImageDirectory::missingFolder()
{
    ImageDirectory folder;
    QVERIFY(!folder.init(path(QStringLiteral("no-such-folder")), {}));
    QCOMPARE(folder.count(), 0);
    QCOMPARE(folder.indexOf(QStringLiteral("a.png")), -1);
    QCOMPARE(folder.path(), QString());

    QSharedPointer<ImageDirectory> empty(new ImageDirectory);
    QVERIFY(empty->init(m_dir->path(), {}));
    QCOMPARE(empty->count(), 0);
    QCOMPARE(empty->pathName(QStringLiteral("a.png"), 1), QString());
    QVERIFY(!empty->createImage(QStringLiteral("a.png"), 0, empty));
}

void TestImageDirectory::formatTableFilters()
{
    // One file per known suffix (upper case too), and some that are not pictures.
    const ImageFormats table;
    QStringList expected;
    for (int id = 0; id < ImageFormats::Count; ++id) {
        const ImageFormat *row = table.formatForId(id);
        if (row->id == FormatUnknown) continue;
        const QString name = QStringLiteral("pic.") + row->suffixes.first();
        QVERIFY(touchPicture(path(name)));
        expected.append(name);
    }
    for (const char *other : {"notes.txt", "archive.zip", "noext", "pic.jpg.bak"})
        QVERIFY(touchPicture(path(QLatin1String(other))));
    QVERIFY(touchPicture(path(QStringLiteral(".hidden.png"))));
    expected.append(QStringLiteral(".hidden.png"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.png")));
    QVERIFY(QFile::link(path(QStringLiteral("pic.png")), path(QStringLiteral("link.png"))));

    // Upper-case suffixes are pictures too.
    QVERIFY(touchPicture(path(QStringLiteral("LOUD.JPG"))));
    expected.append(QStringLiteral("LOUD.JPG"));

    // No filters given: the application's format table.
    QVERIFY(qobject_cast<PhotoApplication *>(QCoreApplication::instance()));
    ImageDirectory folder;
    QVERIFY(folder.init(m_dir->path(), {}));
    QStringList listed;
    for (int i = 0; i < folder.count(); ++i)
        listed.append(folder.nameOf(i));
    listed.sort();
    expected.sort();
    QCOMPARE(listed, expected);

    // Filters given: only those.
    QVERIFY(folder.init(m_dir->path(), {QStringLiteral("*.txt")}));
    QCOMPARE(folder.count(), 1);
    QCOMPARE(folder.nameOf(0), QStringLiteral("notes.txt"));
}

void TestImageDirectory::createImageNeedsItsOwnFolder()
{
    const QSharedPointer<ImageDirectory> folder = abc();
    QVERIFY(folder);
    QSharedPointer<ImageDirectory> other(new ImageDirectory);
    QVERIFY(!folder->createImage(folder->nameOf(0), 0, other));
    QVERIFY(!folder->createImage(folder->nameOf(0), 0, {}));
}

// The folder takes its default filters from the application object's format table.
int main(int argc, char **argv)
{
    PhotoApplication app(argc, argv);
    TestImageDirectory test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_image_directory.moc"
