#include "PhotoApplication.h"

#include "ModuleDirectory.h"
#include "formats/ImageFormats.h"
#include "platform/GraphicsRuntime.h"
#include "skin/PhotoStyle.h"

#include <QDir>
#include <QFont>
#include <QResource>
#include <QTranslator>

bool PhotoApplication::s_bIsQuitting = false;

PhotoApplication::PhotoApplication(int &argc, char **argv) : skin::VuSApplication(argc, argv)
{
    setupStyle();
    initMui();
    initGdiplus();
    m_imageFormats = new ImageFormats;
    connect(this, &QCoreApplication::aboutToQuit, this, &PhotoApplication::onQuit);
    QFont appFont = font();
    appFont.setFamily(QStringLiteral("Microsoft YaHei"));
    setFont(appFont);
}

PhotoApplication::~PhotoApplication()
{
    // Translators of earlier initMui() calls stayed installed until now.
    qDeleteAll(findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly));
    if (m_translator) {
        removeTranslator(m_translator);
        delete m_translator;
    }
    platform::stopGraphicsRuntime(m_gdiplusToken);
    delete m_imageFormats;
}

void PhotoApplication::init()
{
    setupStyle();
    initMui();
    initGdiplus();
}

QString PhotoApplication::muiDirectory()
{
    static const QString directory =
        QDir::toNativeSeparators(moduleDirectory() + QDir::separator() + QStringLiteral("mui") +
                                 QDir::separator() + QStringLiteral("zh_CN"));
    return directory;
}

void PhotoApplication::initMui()
{
    const QString folder = muiDirectory() + QDir::separator();
    QResource::registerResource(folder + QStringLiteral("res.rcc"));
    // A second call adds a second translator; the first stays installed, owned by the
    // application from then on.
    if (m_translator) m_translator->setParent(this);
    m_translator = new QTranslator;
    m_translator->load(folder + QStringLiteral("default.qm"));
    installTranslator(m_translator);
}

void PhotoApplication::initGdiplus()
{
    m_gdiplusToken = platform::startGraphicsRuntime();
}

void PhotoApplication::setupStyle()
{
    auto *photoStyle = new PhotoStyle(style());
    photoStyle->init(QString(), QStringLiteral("zh_CN"), 1.99);
    photoStyle->setSkin(QString());
    setStyle(photoStyle);
    m_resLoader = photoStyle->resourceLoader();
}

void PhotoApplication::onQuit()
{
    s_bIsQuitting = true;
}

bool PhotoApplication::isQuitting()
{
    return s_bIsQuitting;
}

QString PhotoApplication::getStartupOrign() const
{
    return QString();
}

ImageFormats *PhotoApplication::imageFormats() const
{
    return m_imageFormats;
}

skin::VuSkinResourceLoader *PhotoApplication::resLoader() const
{
    return m_resLoader;
}
