#include "PicsageTool.h"

#include "AnalysisImageLoader.h"
#include "LibraryHolder.h"
#include "ModelFiles.h"
#include "PSGSettings.h"
#include "RecognitionObject.h"

#include <QDir>
#include <QFile>
#include <QTime>

namespace {
const QSize SmallBox(320, 320);
const QSize DocumentBox(512, 512);
} // namespace

PicsageTool::PicsageTool(Store store)
{
    if (store == WithStore) m_settings = new PSGSettings(this);
}

void PicsageTool::setMessage(const QString &text)
{
    m_result.msg = QStringLiteral("%1 %2 %3")
                       .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")),
                            methodName(m_method), text);
}

void PicsageTool::saveResult()
{
    if (m_settings) m_settings->setResult(m_method, m_result.toJson());
}

QStringList PicsageTool::modelFiles(AnalysisMethod method)
{
    const QDir dir(modelDirectory(method));
    if (!dir.exists()) {
        m_result.msg = QStringLiteral("model file path is not exists.");
        return {QString(), QString()};
    }
    const QStringList patterns{QStringLiteral("*.txt"), QStringLiteral("*.tflite")};
    return pickModelFiles(
        dir.entryInfoList(patterns, QDir::Files | QDir::NoSymLinks, QDir::Unsorted));
}

bool PicsageTool::prepareModule(AnalysisMethod method, void **object)
{
    *object = LibraryHolder::instance()->object(method);
    if (!*object) {
        setMessage(QStringLiteral("get obj error"));
        return false;
    }
    const QStringList files = modelFiles(method);
    const QByteArray model = QFile::encodeName(files.at(0));
    const QByteArray text = QFile::encodeName(files.at(1));
    const int32_t status =
        method == PicCategory
            ? static_cast<recognition::FormA *>(*object)->initialise(model.constData())
            : static_cast<recognition::FormB *>(*object)->initialise(model.constData(),
                                                                     text.constData());
    if (status != 0) {
        setMessage(QStringLiteral("load model error"));
        return false;
    }
    return true;
}

int PicsageTool::pictureNotDecoded()
{
    // Not a success with an empty picture: the method had nothing to look at.
    m_result.ret = PictureNotDecoded;
    setMessage(QStringLiteral("load img failed"));
    return PictureNotDecoded;
}

int PicsageTool::run()
{
    void *object = nullptr;
    switch (m_method) {
    case CornerSeek:
    case TiltSense:
    case ToneFilter:
        return 0;
    case PicCategory: {
        if (!prepareModule(m_method, &object)) return -1;
        const QImage image = loadAnalysisImage(m_pathname, SmallBox, true);
        if (image.isNull()) return pictureNotDecoded();
        auto *tagger = static_cast<recognition::FormA *>(object);
        tagger->analyse(image.constBits(), image.width(), image.height(), 4, &m_result.ret,
                        &m_result.confidence);
        setMessage(QStringLiteral("success"));
        tagger->finish();
        return m_result.ret;
    }
    case PlainBackdrop:
    case DocSorter: {
        if (!prepareModule(m_method, &object)) return -1;
        const QImage image =
            loadAnalysisImage(m_pathname, m_method == DocSorter ? DocumentBox : SmallBox, false);
        if (image.isNull()) return pictureNotDecoded();
        auto *recogniser = static_cast<recognition::FormB *>(object);
        recogniser->analyse(image.constBits(), image.width(), image.height(), 4, &m_result.ret,
                            &m_result.confidence);
        setMessage(QStringLiteral("success"));
        recogniser->finish();
        return m_result.ret;
    }
    default:
        return -1;
    }
}

bool PicsageTool::checkModel()
{
    if (m_method == ToneFilter) return true;
    const bool found = !modelFiles(m_method).at(0).isEmpty();
    if (m_method == PicCategory || m_method == DocSorter || m_method == PlainBackdrop) {
        void *object = nullptr;
        return prepareModule(m_method, &object) || found;
    }
    return found;
}
