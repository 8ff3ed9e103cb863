#include "platform/DynamicLibrary.h"
#include "support/RealData.h"
#include "support/StagedTree.h"
#include "tool/AnalysisImageLoader.h"
#include "tool/RecognitionObject.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

namespace {
const QString Models = QStringLiteral(LENSMIND_MODELS);
const QList<int> DocumentCodes{0, 3, 4, 6, 7, 8, 9, 10, 11, 13, 15};

QImage page(const QSize &size, int lines, bool ruled = false)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 25, 25));
    QRandomGenerator rng(3);
    const int margin = size.width() / 10, step = size.height() / (lines + 2);
    for (int l = 1; l <= lines; ++l) {
        for (int x = margin; x < size.width() - margin;) {
            const int w = 10 + int(rng.bounded(40));
            p.drawRect(x, l * step, qMin(w, size.width() - margin - x), qMax(2, step / 3));
            x += w + 8;
        }
    }
    if (ruled) {
        p.setPen(QPen(Qt::black, 2));
        for (int y = step; y < size.height() - step; y += step / 2)
            p.drawLine(margin, y, size.width() - margin, y);
    }
    return image;
}

QImage noise(const QSize &size, int saturation, int value)
{
    QImage image(size, QImage::Format_ARGB32);
    QRandomGenerator rng(11);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                           QColor::fromHsv(int(rng.bounded(360)), saturation,
                                           qMax(0, value - int(rng.bounded(60))))
                               .rgb());
    return image;
}

QImage productShot()
{
    QImage image(320, 240, QImage::Format_ARGB32);
    image.fill(QColor(245, 245, 245));
    QPainter p(&image);
    p.setBrush(QColor(200, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(100, 60, 120, 120));
    return image;
}
} // namespace

class TestLensmind : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void category_data();
    void category();
    void backdrop_data();
    void backdrop();
    void docsorter_data();
    void docsorter();
    void refusesBadModels_data();
    void refusesBadModels();
    void analysesThroughTheDriver_data();
    void analysesThroughTheDriver();

private:
    template <class Form> Form *object(const char *factory)
    {
        auto make = reinterpret_cast<recognition::Factory>(m_module.symbol(factory));
        return make ? static_cast<Form *>(make()) : nullptr;
    }
    static void analyse(recognition::FormA *o, const QImage &i, int32_t &r, float &c)
    {
        o->analyse(i.constBits(), i.width(), i.height(), 4, &r, &c);
    }
    static void analyse(recognition::FormB *o, const QImage &i, int32_t &r, float &c)
    {
        o->analyse(i.constBits(), i.width(), i.height(), 4, &r, &c);
    }

    platform::DynamicLibrary m_module;
    QTemporaryDir m_dir;
};

void TestLensmind::initTestCase()
{
    QVERIFY2(m_module.load(QStringLiteral(LENSMIND_PATH)), qPrintable(m_module.errorString()));
    QVERIFY(m_module.symbol("ReleaseCategoryTaggerObj"));
    QCOMPARE(m_module.symbol("GetCornerSeekObj") != nullptr, true);
}

void TestLensmind::category_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QList<int>>("codes");

    QTest::newRow("text page") << page(QSize(850, 1100), 25) << QList<int>{0};
    QTest::newRow("form") << page(QSize(850, 1100), 10, true) << QList<int>{4};
    QTest::newRow("receipt") << page(QSize(200, 900), 40) << QList<int>{3};
    QTest::newRow("slide") << page(QSize(1280, 720), 6) << QList<int>{7};
    QTest::newRow("blank page") << page(QSize(600, 800), 0) << QList<int>{11};
    QTest::newRow("colourful photo") << noise(QSize(400, 300), 220, 240) << QList<int>{1};
    QTest::newRow("night") << noise(QSize(400, 300), 120, 60) << QList<int>{2};
    QTest::newRow("grey photo") << noise(QSize(400, 300), 0, 180) << QList<int>{12};
    QTest::newRow("empty picture") << QImage() << QList<int>{14};
    QTest::newRow("sample document")
        << loadAnalysisImage(QStringLiteral(SAMPLES_DIR "/document.png"), QSize(320, 320), true)
        << DocumentCodes;
    QTest::newRow("sample illustration")
        << loadAnalysisImage(QStringLiteral(SAMPLES_DIR "/illustration.jpg"), QSize(320, 320), true)
        << QList<int>{1, 5};
    // Read here so that a missing file shows as a failing row rather than a missing one.
    QTest::newRow("real photograph")
        << loadAnalysisImage(realDataPath(QStringLiteral("jpeg/orient_Landscape_1.jpg")),
                             QSize(320, 320), true)
        << QList<int>{1, 2, 5, 12};
}

void TestLensmind::category()
{
    QFETCH(QImage, image);
    QFETCH(QList<int>, codes);

    auto *tagger = object<recognition::FormA>("GetCategoryTaggerObj");
    QVERIFY(tagger);
    const QByteArray model = QFile::encodeName(Models + "/pic_category_pc/category.tflite");
    QCOMPARE(tagger->initialise(model.constData()), 0);
    int32_t ret = -1;
    float confidence = -9;
    analyse(tagger, image, ret, confidence);
    QVERIFY2(codes.contains(ret), qPrintable(QString::number(ret)));
    QVERIFY(confidence >= 0 && confidence <= 1);
    if (image.isNull()) QCOMPARE(confidence, 0.0f);
    // Documents and only documents lead to the follow-up.
    QCOMPARE(DocumentCodes.contains(ret), DocumentCodes.contains(codes.first()));
    tagger->finish();
    reinterpret_cast<recognition::Release>(m_module.symbol("ReleaseCategoryTaggerObj"))(tagger);
}

void TestLensmind::backdrop_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("code");

    QTest::newRow("product on white") << productShot() << 1;
    QTest::newRow("busy scene") << noise(QSize(320, 240), 200, 230) << 0;
    QTest::newRow("nothing on the backdrop") << page(QSize(320, 240), 0) << 0;
    QTest::newRow("empty picture") << QImage() << 0;
}

void TestLensmind::backdrop()
{
    QFETCH(QImage, image);
    QFETCH(int, code);

    auto *o = object<recognition::FormB>("GetPlainBackdropObj");
    QVERIFY(o);
    const QByteArray model = QFile::encodeName(Models + "/plainbackdrop_pc/backdrop.tflite");
    const QByteArray labels = QFile::encodeName(Models + "/plainbackdrop_pc/labels.txt");
    QCOMPARE(o->initialise(model.constData(), labels.constData()), 0);
    int32_t ret = -1;
    float confidence = -9;
    analyse(o, image, ret, confidence);
    QCOMPARE(ret, code);
    QVERIFY(confidence >= 0 && confidence <= 1);
    reinterpret_cast<recognition::Release>(m_module.symbol("ReleasePlainBackdropObj"))(o);
}

void TestLensmind::docsorter_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("code");

    QTest::newRow("portrait page") << page(QSize(396, 512), 20) << 0;
    QTest::newRow("landscape page") << page(QSize(512, 362), 12) << 1;
    QTest::newRow("strip") << page(QSize(120, 512), 30) << 2;
    QTest::newRow("square") << page(QSize(500, 512), 16) << 3;
    QTest::newRow("ruled, dense page") << page(QSize(396, 512), 20, true) << 4;
    QTest::newRow("black page") << [] {
        QImage i(396, 512, QImage::Format_ARGB32);
        i.fill(Qt::black);
        return i;
    }() << 4;
    QTest::newRow("sparse page") << page(QSize(396, 512), 0) << 5;
    QTest::newRow("empty") << QImage() << 6;
}

void TestLensmind::docsorter()
{
    QFETCH(QImage, image);
    QFETCH(int, code);

    auto *o = object<recognition::FormB>("GetDocSorterObj");
    QVERIFY(o);
    const QByteArray model = QFile::encodeName(Models + "/docsorter_pc/docsorter.tflite");
    const QByteArray labels = QFile::encodeName(Models + "/docsorter_pc/labels.txt");
    QCOMPARE(o->initialise(model.constData(), labels.constData()), 0);
    int32_t ret = -1;
    float confidence = -9;
    analyse(o, image, ret, confidence);
    QCOMPARE(ret, code);
    reinterpret_cast<recognition::Release>(m_module.symbol("ReleaseDocSorterObj"))(o);
}

void TestLensmind::refusesBadModels_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QByteArray>("labels");

    QFile good(Models + "/docsorter_pc/docsorter.tflite");
    QVERIFY(good.open(QIODevice::ReadOnly));
    const QByteArray model = good.readAll();
    QFile goodLabels(Models + "/docsorter_pc/labels.txt");
    QVERIFY(goodLabels.open(QIODevice::ReadOnly));
    const QByteArray labels = goodLabels.readAll();

    QTest::newRow("missing model") << QByteArray("<missing>") << labels;
    QTest::newRow("missing labels") << model << QByteArray("<missing>");
    QTest::newRow("empty paths") << QByteArray("<empty>") << QByteArray("<empty>");
    QTest::newRow("empty model") << QByteArray() << labels;
    QTest::newRow("wrong header") << QByteArray(model).replace("lensmind-model 1",
                                                               "lensmind-model 2")
                                  << labels;
    QTest::newRow("another method's model")
        << QByteArray(model).replace("method docsorter_pc", "method pic_category_pc") << labels;
    QTest::newRow("parameter missing")
        << QByteArray(model).replace("dense_ink 0.22\n", "") << labels;
    QTest::newRow("parameter twice")
        << QByteArray(model).replace("dense_ink 0.22\n", "dense_ink 0.22\ndense_ink 0.3\n")
        << labels;
    QTest::newRow("unknown parameter")
        << QByteArray(model).replace("end", "colour 3\nend") << labels;
    QTest::newRow("out of range") << QByteArray(model).replace("dense_ink 0.22", "dense_ink 7")
                                  << labels;
    QTest::newRow("not a number") << QByteArray(model).replace("dense_ink 0.22", "dense_ink nan")
                                  << labels;
    QTest::newRow("no end") << QByteArray(model).replace("end", "") << labels;
    QTest::newRow("text after end") << model + "x 1\n" << labels;
    QTest::newRow("huge file") << model + QByteArray(100000, '#') << labels;
    QTest::newRow("binary") << QByteArray("\x00\xff\x10", 3) << labels;
    QTest::newRow("labels short") << model << QByteArray("0 a\n1 b\n");
    QTest::newRow("labels out of order")
        << model << QByteArray(labels).replace("1 landscape", "9 landscape");
}

void TestLensmind::refusesBadModels()
{
    QFETCH(QByteArray, model);
    QFETCH(QByteArray, labels);

    const auto place = [&](const QByteArray &content, const QString &name) -> QByteArray {
        if (content == "<missing>")
            return QFile::encodeName(m_dir.filePath(QStringLiteral("nothing-here")));
        if (content == "<empty>") return QByteArray();
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return QFile::encodeName(f.fileName());
    };
    const QByteArray modelPath = place(model, QStringLiteral("m.tflite"));
    const QByteArray labelPath = place(labels, QStringLiteral("l.txt"));
    auto *o = object<recognition::FormB>("GetDocSorterObj");
    QVERIFY(o);
    QVERIFY(o->initialise(modelPath.constData(), labelPath.constData()) != 0);
    // A refused object answers no code rather than an old one.
    int32_t ret = 5;
    float confidence = 1;
    analyse(o, page(QSize(100, 100), 3), ret, confidence);
    QCOMPARE(ret, -1);
    reinterpret_cast<recognition::Release>(m_module.symbol("ReleaseDocSorterObj"))(o);
}

void TestLensmind::analysesThroughTheDriver_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<bool>("document");

    QTest::newRow("document") << QStringLiteral(SAMPLES_DIR "/document.png") << true;
    QTest::newRow("illustration") << QStringLiteral(SAMPLES_DIR "/illustration.jpg") << false;
    QTest::newRow("Photoshop photograph")
        << realDataPath(QStringLiteral("psd/hopper.psd")) << false;
}

void TestLensmind::analysesThroughTheDriver()
{
    QFETCH(QString, picture);
    QFETCH(bool, document);
    REQUIRE_REAL_FILE(picture);

    StagedTree tree;
    tree.installModule(QStringLiteral(LENSMIND_PATH));
    tree.installModels(Models);
    const int code =
        tree.probe({QStringLiteral("run"), picture,
                    QStringLiteral("pic_category_pc,plainbackdrop_pc"), QStringLiteral("1")});
    QVERIFY(code >= 0);
    const QJsonObject category =
        QJsonDocument::fromJson(tree.stored(QStringLiteral("pic_category_pc")).toUtf8()).object();
    QCOMPARE(DocumentCodes.contains(category.value(QStringLiteral("ret")).toInt()), document);
    QCOMPARE(!tree.stored(QStringLiteral("docsorter_pc")).isEmpty(), document);
    QVERIFY(tree.stored(QStringLiteral("plainbackdrop_pc")).contains(QLatin1String("success")));
}

QTEST_MAIN(TestLensmind)
#include "tst_lensmind.moc"
